// The PLT (HPGL) reader: plotter units at 40 per millimetre become pen-tagged
// polylines in millimetres, pen-up travel is never drawn, damaged text is read
// safely, and the group entry hands back a group in line mode or nothing.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/import/plt.h"
#include "support/temp_dir.h"

namespace {

// Each line as {pen, x0, y0, x1, y1, ...} in millimetres.
void ExpectLines(const std::vector<tagPLTLINE>& lines, const std::vector<std::vector<float>>& expected) {
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].nPen, expected[i][0]) << "line " << i;
        ASSERT_EQ(lines[i].arrPoint.size() * 2 + 1, expected[i].size()) << "line " << i;
        for (size_t k = 0; k < lines[i].arrPoint.size(); ++k) {
            EXPECT_FLOAT_EQ(lines[i].arrPoint[k].x, expected[i][1 + 2 * k]) << "line " << i << " point " << k;
            EXPECT_FLOAT_EQ(lines[i].arrPoint[k].y, expected[i][2 + 2 * k]) << "line " << i << " point " << k;
        }
    }
}

void ExpectPlot(const std::string& text, const std::vector<std::vector<float>>& expected) {
    SCOPED_TRACE(text);
    ExpectLines(CParsePlt::ParsePltText(text.data(), text.size()), expected);
}

TEST(PltReader, CommandsGiveLinesInMillimetres) {
    ExpectPlot("IN;SP1;PU0,0;PD400,0,400,400;PU;", {{0, 0, 0, 10, 0, 10, 10}});
    ExpectPlot("IN;\r\nPU200,-200;\r\nPD;PA1000,-200;PA1000,600,200,600;PA200,-200;PU;",
               {{0, 5, -5, 25, -5, 25, 15, 5, 15, 5, -5}});
    // Separators: a comma with blanks around it, or a run of blanks; two
    // commas leave an empty number that reads as 0.
    ExpectPlot("PD40 40 80  80;PU;PD40, 40 ,\n80,,120;", {{0, 1, 1, 2, 2}, {0, 1, 1, 2, 0}});
    ExpectPlot("PD-40,-40,40.9,40,80;", {{0, -1, -1, 1, 1}});
    // Commands the reader does not know pass by, relative plotting included;
    // a last command needs no ';'.
    ExpectPlot("IP0,0,4000,4000;SC0,100,0,100;PU0,0;PR40,40;CI40;PD40,0", {{0, 0, 0, 1, 0}});
}

TEST(PltReader, PensAndPenUpTravel) {
    ExpectPlot("SP2;PD40,40;SP3;PD80,80;", {{1, 1, 1}, {2, 2, 2}});
    ExpectPlot("SP0;PD40,40;SP3;SP;SP1,2;PD80,80;", {{0, 1, 1}, {2, 2, 2}});
    // Pens the library cannot hold change nothing.
    ExpectPlot("SP256;PD40,40;SP300;SP-2;PD80,80;", {{255, 1, 1, 2, 2}});
    // Only the last pen-up position starts the next line; parking the pen
    // draws nothing; a pen change keeps the pen where it stands.
    ExpectPlot("PU0,0,400,0;PA400,400;PD800,400;PA800,800;PU0,0;", {{0, 10, 10, 20, 10, 20, 20}});
    ExpectPlot("PU400,400;SP2;PD800,800;SP3;PD1200,0;", {{1, 10, 10, 20, 20}, {2, 30, 0}});
    ExpectPlot("IN;PU0,0;PU400,400;SP2;PU;", {});
}

TEST(PltReader, HostileTextIsReadSafely) {
    EXPECT_TRUE(CParsePlt::ParsePltText(nullptr, 10).empty());
    ExpectPlot(";;;;PD;PU;SP;-;PA--;", {});
    // Text in which no command is plotter text draws nothing, even where the
    // pen commands occur inside it; one plotter command makes it a plot.
    ExpectPlot("x PD40,40;\x01PA80,80;PD 40,40 q;", {});
    ExpectPlot("x PD40,40;\x01PA80,80; PD 120, 0 \r\n", {{0, 1, 1, 2, 2, 3, 0}});
    const float top = static_cast<float>(std::numeric_limits<int32_t>::max() * CParsePlt::kUnitMM);
    const float bottom = static_cast<float>(std::numeric_limits<int32_t>::min() * CParsePlt::kUnitMM);
    ExpectPlot("PD99999999999999999999,-99999999999999999999;", {{0, top, bottom}});
    // A NUL ends the text of its command.
    ExpectPlot(std::string("PD40,40\0,80,80;PD120,120;", 25), {{0, 1, 1, 3, 3}});
}

class PltGroup : public ::testing::Test {
protected:
    void TearDown() override { CParsePlt::DestroyInstance(); }
    CString Write(const std::string& bytes) {
        m_dir.Write("drawing.plt", bytes);
        return CString(m_dir.WPath("drawing.plt"));
    }
    static void Free(CGroupShape* group) {
        group->FreeShapePtr();
        delete group;
    }
    testsupport::TempDir m_dir{"morvik-plt"};
};

TEST_F(PltGroup, FileBecomesGroupInLineMode) {
    const CString path = Write("IN;SP2;PU0,0;PD400,0,400,400;PU;SP3;PU800,800;PD1200,800;");
    for (int round = 0; round < 2; ++round) {  // the second reading reads again
        CGroupShape* group = CGroupShape::ParserPltFile(path);
        ASSERT_NE(group, nullptr);
        EXPECT_TRUE(group->bImpFromPlt);
        EXPECT_TRUE(group->GetChildren().empty());
        ExpectLines(group->vLines, {{1, 0, 0, 10, 0, 10, 10}, {2, 20, 20, 30, 20}});
        EXPECT_STREQ(group->GetCaption().GetString(), L"drawing.plt");
        EXPECT_EQ(group->strFilename, std::wstring(path.GetString()));
        Free(group);
    }
}

TEST_F(PltGroup, FailuresLeaveNoGroup) {
    EXPECT_EQ(CGroupShape::ParserPltFile(CString(m_dir.WPath("none.plt"))), nullptr);
    // A plot that draws nothing fails again when read a second time: the
    // remembered path never turns an empty reading into success.
    const CString path = Write("IN;SP1;PU400,400;PU;");
    EXPECT_EQ(CGroupShape::ParserPltFile(path), nullptr);
    EXPECT_EQ(CGroupShape::ParserPltFile(path), nullptr);
    Write("PD40,40;");
    CGroupShape* group = CGroupShape::ParserPltFile(path);
    ASSERT_NE(group, nullptr);
    ExpectLines(group->vLines, {{0, 1, 1}});
    Free(group);
    EXPECT_FALSE(CParsePlt::GetInstance()->ParserPltFile(path, nullptr));
}

}  // namespace
