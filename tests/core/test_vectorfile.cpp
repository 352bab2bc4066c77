// The vector-file import entry: dispatch by extension, Illustrator shapes and
// their scaling, and centring of the result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/markdata.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/core/vectorfile.h"
#include "support/shape_support.h"
#include "morvik/win32/windows.h"
#include "text/text_test_util.h"

namespace {

struct TempFile {
    std::string path;
    TempFile(const std::string& name, const std::string& text) {
        path = (std::filesystem::temp_directory_path() / ("morvik_vf_" + std::to_string(getpid()) + "_" + name))
                   .string();
        std::ofstream(path, std::ios::binary) << text;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::wstring Wide() const { return Utf8ToWide(path); }
};

void Free(CBaseShape*& shape) {
    if (shape == nullptr) return;
    shape->FreeShapePtr();
    delete shape;
    shape = nullptr;
}

tagAIPT Rec(tagPOINTF p0, tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, bool start, char type) {
    tagAIPT r;
    r.p0 = p0;
    r.p1 = p1;
    r.p2 = p2;
    r.p3 = p3;
    r.bStart = start ? 1 : 0;
    r.cType = type;
    return r;
}

Gdiplus::RectF RectOf(CBaseShape* s) {
    Gdiplus::RectF r = testsupport::RectOf(*s);
    return r;
}

}  // namespace

TEST(VectorFile, IllustratorRecordsBecomeShapesScaledToMillimetres) {
    // A 300 x 200 point drawing: one straight path and one closed curve.
    std::vector<tagAIPT> recs{
        Rec({10, 20}, {310, 20}, {}, {}, true, 'L'),
        Rec({310, 20}, {310, 220}, {}, {}, false, 'L'),
        Rec({10, 20}, {10, 20}, {10, 20}, {10, 20}, false, 'c'),  // wrong kind for a polyline: ignored
        Rec({10, 20}, {10, 120}, {110, 120}, {110, 20}, true, 'c'),
    };
    CGroupShape group;
    ASSERT_TRUE(BuildAiShapes(recs, &group));
    std::vector<CBaseShape*>& kids = group.GetChildren();
    ASSERT_EQ(kids.size(), 2u);
    ASSERT_EQ(kids[0]->GetShapeKind(), SHAPE_POLYLINE);
    auto* poly = static_cast<CPolyLine*>(kids[0]);
    ASSERT_EQ(poly->arrPoint.size(), 4u);
    ASSERT_EQ(kids[1]->GetShapeKind(), SHAPE_BEZIER);
    auto* curve = static_cast<CBezierCurve*>(kids[1]);
    EXPECT_EQ(curve->bClosed, 1);
    ASSERT_EQ(curve->arrSegment.size(), 1u);
    // Scaled by 1/2.834 about the bottom-left corner (10, 20).
    const double k = 1 / 2.834;
    EXPECT_NEAR(poly->arrPoint[1].x, 10 + 300 * k, 1e-3);
    EXPECT_NEAR(poly->arrPoint[3].y, 20 + 200 * k, 1e-3);
    EXPECT_NEAR(poly->arrPoint[0].x, 10, 1e-4);
    EXPECT_NEAR(curve->arrSegment[0].p3.x, 10 + 100 * k, 1e-3);
    group.FreeShapePtr();

    // 2 units wide and 100 tall: taken to be millimetres already.
    CGroupShape thin;
    ASSERT_TRUE(BuildAiShapes({Rec({0, 0}, {2, 100}, {}, {}, true, 'L')}, &thin));
    auto* line = static_cast<CPolyLine*>(thin.GetChildren()[0]);
    EXPECT_FLOAT_EQ(line->arrPoint[1].x, 2.0f);
    EXPECT_FLOAT_EQ(line->arrPoint[1].y, 100.0f);
    thin.FreeShapePtr();

    CGroupShape empty;
    EXPECT_FALSE(BuildAiShapes({}, &empty));
    EXPECT_TRUE(empty.GetChildren().empty());
}

TEST(VectorFile, DispatchByExtensionAndCentring) {
    CBaseShape* const sentinel = reinterpret_cast<CBaseShape*>(0x1);
    CBaseShape* out = sentinel;
    // Unknown endings, and a path as short as an ending, leave out alone.
    EXPECT_FALSE(LoadVectorFileCore(L"drawing.txt", &out, true));
    EXPECT_FALSE(LoadVectorFileCore(L"ai", &out, true));
    EXPECT_FALSE(LoadVectorFileCore(nullptr, &out, true));
    EXPECT_FALSE(LoadVectorFileCore(L"x.plt", nullptr, true));
    EXPECT_EQ(out, sentinel);

    // An Illustrator file without paths creates nothing.
    TempFile noPaths("empty.AI", "%!PS-Adobe-3.0\n%%EndSetup\n");
    EXPECT_FALSE(LoadVectorFileCore(noPaths.Wide().c_str(), &out, true));
    EXPECT_EQ(out, sentinel);

    // A Gerber reader failure still hands over the group, judged by the last
    // five characters of ".274X".
    out = nullptr;
    EXPECT_FALSE(LoadVectorFileCore(L"/nonexistent-dir/board.274X", &out, false));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetShapeKind(), SHAPE_GROUP);
    Free(out);

    // A PLT square (400 units) in capitals, centred on the origin.
    TempFile plt("square.PLT", "IN;SP1;PU0,0;PD400,0,400,400,0,400,0,0;PU;");
    ASSERT_TRUE(LoadVectorFileCore(plt.Wide().c_str(), &out, true));
    ASSERT_NE(out, nullptr);
    Gdiplus::RectF r = RectOf(out);
    EXPECT_GT(r.Width, 0.0f);
    EXPECT_NEAR(r.X + r.Width / 2, 0.0f, 1e-4f);
    EXPECT_NEAR(r.Y - r.Height / 2, 0.0f, 1e-4f);
    Free(out);

    // An SVG line, centred; a file the reader rejects gives null and false.
    TempFile svg("line.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><line x1=\"10\" y1=\"10\" x2=\"30\" "
                             "y2=\"20\"/></svg>");
    ASSERT_TRUE(LoadVectorFileCore(svg.Wide().c_str(), &out, true));
    ASSERT_NE(out, nullptr);
    r = RectOf(out);
    EXPECT_NEAR(r.X + r.Width / 2, 0.0f, 1e-4f);
    EXPECT_NEAR(r.Y - r.Height / 2, 0.0f, 1e-4f);
    Free(out);
    TempFile broken("broken.svg", "<svg><line x1=\"0\"");
    out = sentinel;
    EXPECT_FALSE(LoadVectorFileCore(broken.Wide().c_str(), &out, true));
    EXPECT_EQ(out, nullptr);
}

TEST(VectorFile, FilesWithNothingReadableFailAndNothingReachesStdout) {
    testsupport::HostScope host;
    RunLog* log = RunLog::Instance(nullptr);
    const CString savedFolder = log->GetLogFolder();
    const std::filesystem::path logDir =
        std::filesystem::temp_directory_path() / ("morvik_vf_log_" + std::to_string(getpid()));
    log->SetLogFolder(CString((Utf8ToWide(logDir.string()) + L"/").c_str()));
    const auto logText = [&] { return text_test::ReadLogs(logDir); };
    const auto bytesOf = [](const std::string& path) { return testsupport::ReadAll(path); };

    std::mt19937 rng(20261209);
    for (const char* ext : {".dxf", ".gbr", ".ai", ".plt", ".svg", ".GTL"}) {
        for (int k = 0; k < 3; ++k) {
            std::string content;  // k = 0: an empty file
            if (k > 0) {
                content.resize(64 * 1024);
                for (char& c : content) c = static_cast<char>(rng());
            }
            TempFile file(std::string("noise") + std::to_string(k) + ext, content);
            CBaseShape* out = nullptr;
            testing::internal::CaptureStdout();
            const bool ok = LoadVectorFileCore(file.Wide().c_str(), &out, true);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << ext << k;
            EXPECT_FALSE(ok) << ext << k;
            // What is handed over on a failure is at most an empty group.
            if (out != nullptr) {
                EXPECT_EQ(out->GetShapeKind(), SHAPE_GROUP);
                EXPECT_TRUE(out->GetChildren().empty()) << ext << k;
            }
            Free(out);
            EXPECT_EQ(bytesOf(file.path), content) << ext << k;
        }
    }
    // The noise logs its complaints, a bounded number of lines per file.
    size_t gerberLines = 0;
    const std::string logged = logText();
    for (size_t at = logged.find("Gerber: "); at != std::string::npos; at = logged.find("Gerber: ", at + 1)) ++gerberLines;
    EXPECT_GT(gerberLines, 6u);
    EXPECT_LE(gerberLines, 6u * 66u);

    // A real Gerber file reads and tells its line count to the run log only.
    TempFile board("board.gbr", "%FSLAX24Y24*%\n%MOMM*%\n%ADD10C,0.5*%\nD10*\nX10000Y20000D03*\nM02*\n");
    CBaseShape* out = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(LoadVectorFileCore(board.Wide().c_str(), &out, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetChildren().size(), 1u);
    Free(out);
    EXPECT_NE(logText().find("line count:6"), std::string::npos);
    log->SetLogFolder(savedFolder);
    std::filesystem::remove_all(logDir);
}

// Files that nearly pass a reader's recognition: each gives the same answer
// and the same shapes every time it is read, and a failure hands over no
// shape.
TEST(VectorFile, NearlyRecognisedFilesGiveOneAnswerAndFailuresNoShapes) {
    testsupport::HostScope host;
    const std::pair<const char*, std::string> files[] = {
        {".gbr", "Parts list\nMIX* 2 parts\nDIM* 40 x 20\n"},
        {".gbr", "DIM*\nMIX*\nX100Y200D03*\n"},
        {".gbr", "%FSLAX24Y24*%\nMIX*\n"},
        {".plt", "PU;"},
        {".plt", "PD120,-40;"},
        {".plt", "IN;SP1;PA0,0;"},
        {".dxf", "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n"},
        {".svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M 3 1 L\"/>"},
        {".ai", "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 10 10\n1 2 m\n"},
    };
    const auto marked = [](CBaseShape* s) {
        std::vector<std::vector<tagPOINTF>> lines;
        if (s == nullptr) return lines;
        tagMarkDataPar md;
        s->GetMarkData(md, nullptr);
        for (const tagPathData& path : md.arrPaths)
            lines.insert(lines.end(), path.arrPolylines.begin(), path.arrPolylines.end());
        return lines;
    };
    for (const auto& [ext, content] : files) {
        TempFile file(std::string("near") + ext, content);
        CBaseShape* first = nullptr;
        CBaseShape* second = nullptr;
        const bool ok = LoadVectorFileCore(file.Wide().c_str(), &first, false);
        EXPECT_EQ(LoadVectorFileCore(file.Wide().c_str(), &second, false), ok) << ext << " " << content;
        EXPECT_TRUE(marked(first) == marked(second)) << ext << " " << content;
        for (CBaseShape* out : {first, second})
            EXPECT_TRUE(ok || out == nullptr || out->GetChildren().empty()) << ext << " " << content;
        Free(first);
        Free(second);
    }
}
