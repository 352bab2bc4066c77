// The outline text reader: absolute and relative point lines, polyline
// boundaries, line ends and files that give nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/core/text_utils.h"
#include "support/shape_support.h"

namespace {

struct Outline {
    CGroupShape* group = nullptr;
    explicit Outline(const std::string& content) {
        static int serial = 0;
        const auto path = std::filesystem::temp_directory_path() /
                          ("outline_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + ".txt");
        std::ofstream(path, std::ios::binary) << content;
        CIniFile file(CString(path.wstring().c_str()));
        group = CGroupShape::ParserTextFile(file, CString(L"ignored"));
        std::filesystem::remove(path);
    }
    ~Outline() {
        if (group) {
            group->FreeShapePtr();
            delete group;
        }
    }
    const std::vector<tagPOINTF>& Points(size_t i) const {
        return dynamic_cast<CPolyLine&>(*group->GetChildren().at(i)).arrPoint;
    }
};

using testsupport::ExpectPoints;

}  // namespace

TEST(OutlineText, AbsoluteAndRelativePointsInHundredths) {
    Outline o("moveabs:\r\n1000,2000\r\nlinerel:\r\n50,0\r\n0,50\r\n");
    ASSERT_NE(o.group, nullptr);
    ASSERT_EQ(o.group->GetChildren().size(), 1u);
    ExpectPoints(o.Points(0), {{10, 20}, {10.5f, 20}, {10.5f, 20.5f}});

    // Absolute points keep their hundredths; extra fields and blanks are
    // ignored, a missing field is 0, negatives work.
    Outline a("moveabs:\r\n1250,0\r\n -250, 75 ,9,9\r\n7\r\n,\r\n");
    ASSERT_NE(a.group, nullptr);
    ExpectPoints(a.Points(0), {{12.5f, 0}, {-2.5f, 0.75f}, {0.07f, 0}, {0, 0}});
}

TEST(OutlineText, PolylineBoundariesAndLineEnds) {
    // Two moves in a row leave no empty polyline; points before the first
    // move only move the pen; the last line counts without its line end;
    // bare line feeds end lines too, and blank lines are not points.
    Outline o("300,400\r\nmoveabs:\r\nmoveabs:\r\nlinerel:\r\n100,0\r\n\r\n0,100\r\nmoveabs:\n100,100\n200,200");
    ASSERT_NE(o.group, nullptr);
    ASSERT_EQ(o.group->GetChildren().size(), 2u);
    ExpectPoints(o.Points(0), {{4, 4}, {4, 5}});
    ExpectPoints(o.Points(1), {{1, 1}, {2, 2}});
    Gdiplus::RectF r = testsupport::RectOf(*o.group);
    EXPECT_NEAR(r.X, 1, 1e-4);
    EXPECT_NEAR(r.Width, 3, 1e-4);
}

TEST(OutlineText, EachFileStartsAtTheOrigin) {
    Outline first("moveabs:\r\n5000,5000\r\n");
    ASSERT_NE(first.group, nullptr);
    Outline second("linerel:\r\nmoveabs:\r\nlinerel:\r\n100,100\r\n");
    ASSERT_NE(second.group, nullptr);
    ExpectPoints(second.Points(0), {{1, 1}});
}

TEST(OutlineText, FilesThatGiveNothingOrAbsurdNumbers) {
    EXPECT_EQ(Outline("").group, nullptr);
    EXPECT_EQ(Outline("100,100\r\n200,200\r\n").group, nullptr);
    EXPECT_EQ(Outline("moveabs:\r\nmoveabs:\r\n").group, nullptr);
    CIniFile missing(CString(L"/nonexistent/outline.txt"));
    EXPECT_EQ(CGroupShape::ParserTextFile(missing, CString()), nullptr);

    Outline big("moveabs:\r\n99999999999999999999,-99999999999999999999\r\n");
    ASSERT_NE(big.group, nullptr);
    EXPECT_NEAR(big.Points(0)[0].x, INT_MAX / 100.0, 1.0);
    EXPECT_NEAR(big.Points(0)[0].y, -INT_MAX / 100.0, 1.0);
}
