// The Illustrator reader on files the tests write: path operators become the
// right cubic segments, and damaged files fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morvik/import/ai.h"
#include "support/temp_dir.h"

namespace {

std::vector<tagAIPT> ReadAi(const std::string& bytes, bool second = false) {
    const testsupport::TempDir dir("morvik-ai");
    std::string path = dir.Write("drawing.ai", bytes);
    CParserAIFile reader;
    if (second) reader.ParseAI2(path.data());
    else reader.ParseAI(path.data());
    std::vector<tagAIPT> segs;
    reader.GetAiPoint(segs);
    return segs;
}

const std::string kHeader = "%!PS-Adobe-3.0\n%%Creator: test\n5 5 m\n9 9 L\n%%EndSetup\n";

// Start, first control, second control, end; then the new-path flag.
void ExpectSegment(const tagAIPT& s, std::vector<float> xy, int start) {
    const tagPOINTF pts[] = {s.p0, s.p1, s.p2, s.p3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(pts[i].x, xy[2 * i]) << "point " << i;
        EXPECT_FLOAT_EQ(pts[i].y, xy[2 * i + 1]) << "point " << i;
    }
    EXPECT_EQ(s.bStart, start);
    EXPECT_EQ(s.cType, 'c');
}

bool IsPrefix(const std::vector<tagAIPT>& part, const std::vector<tagAIPT>& whole) {
    if (part.size() > whole.size()) return false;
    for (size_t i = 0; i < part.size(); ++i)
        if (part[i].p0 != whole[i].p0 || part[i].p1 != whole[i].p1 || part[i].p2 != whole[i].p2 ||
            part[i].p3 != whole[i].p3 || part[i].bStart != whole[i].bStart)
            return false;
    return true;
}

TEST(AiReader, OperatorsBecomeCubicSegments) {
    const auto segs = ReadAi(kHeader +
                             "10 20 m\n30 20 L\n30 40 50 60 70 80 c\n"
                             "1 2 3 4 v\n5 6 7 8 Y\nh\nf\n0 g\n"
                             "100 100 m\n100.00005 99.99995 l\n1.5 -2.5 6 7 V\n1e2 +3 L\n"
                             "abc 1e60 4 5 6 7 C\n1 2 3 4 y\n");
    ASSERT_EQ(segs.size(), 8u);
    // A line is a cubic whose controls sit on its end point.
    ExpectSegment(segs[0], {10, 20, 30, 20, 30, 20, 30, 20}, 1);
    ExpectSegment(segs[1], {30, 20, 30, 40, 50, 60, 70, 80}, 0);
    // v: the first control is the current point; y: the second is the end.
    ExpectSegment(segs[2], {70, 80, 70, 80, 1, 2, 3, 4}, 0);
    ExpectSegment(segs[3], {3, 4, 5, 6, 7, 8, 7, 8}, 0);
    // Closing and painting draw nothing; the next moveto opens a path, and a
    // lineto to the current point neither draws nor uses up the flag.
    ExpectSegment(segs[4], {100, 100, 100, 100, 1.5f, -2.5f, 6, 7}, 1);
    ExpectSegment(segs[5], {6, 7, 100, 3, 100, 3, 100, 3}, 0);
    // Text and values beyond a float read as 0.
    ExpectSegment(segs[6], {100, 3, 0, 0, 4, 5, 6, 7}, 0);
    ExpectSegment(segs[7], {6, 7, 1, 2, 3, 4, 3, 4}, 0);
}

TEST(AiReader, LinesHeaderAndSecondReading) {
    const std::vector<std::string> body = {"10 20 m", "30 20 L", "30 40 50 60 70 80 c"};
    std::vector<tagAIPT> first;
    for (const char* end : {"\r\n", "\n", "\r"}) {
        std::string text = std::string("%!PS") + end + "%%EndSetup" + end;
        for (const auto& line : body) text += line + end;
        const auto segs = ReadAi(text);
        ASSERT_EQ(segs.size(), 2u) << "line end " << int(end[0]);
        ExpectSegment(segs[0], {10, 20, 30, 20, 30, 20, 30, 20}, 1);
        ExpectSegment(segs[1], {30, 20, 30, 40, 50, 60, 70, 80}, 0);
    }
    // The last line has no line end: it is read all the same.
    EXPECT_EQ(ReadAi("%%EndSetup\n10 20 m\n30 20 L\n30 40 50 60 70 80 c").size(), 2u);
    // Without the end of the setup nothing is read.
    EXPECT_TRUE(ReadAi("%!PS\n10 20 m\n30 20 L\n").empty());
    // The second reading has no header state and takes a moveto with extra
    // operands by its last token.
    EXPECT_EQ(ReadAi("%!PS\n10 20 0 0 m\n30 20 L\n", true).size(), 1u);
}

TEST(AiReader, DamagedFilesFailCleanly) {
    CParserAIFile reader;
    reader.ParseAI(nullptr);
    char missing[] = "/nonexistent/folder/none.ai";
    reader.ParseAI(missing);
    std::vector<tagAIPT> segs(3);
    reader.GetAiPoint(segs);
    EXPECT_TRUE(segs.empty());

    // A file cut anywhere gives a leading part of the whole file's segments.
    const std::string whole = kHeader + "10 20 m\n30 20 L\n30 40 50 60 70 80 c\n1 2 3 4 v\n5 6 7 8 y\n";
    const auto full = ReadAi(whole);
    ASSERT_EQ(full.size(), 4u);
    for (size_t cut = 0; cut <= whole.size(); ++cut) EXPECT_TRUE(IsPrefix(ReadAi(whole.substr(0, cut)), full)) << cut;

    // Lines far longer than the line buffer and NUL bytes do not upset the
    // lines after them.
    const auto noisy = ReadAi(kHeader + std::string(5000, '7') + " 8 m\n" + std::string("1 2\0 3 L\n", 9) +
                              "10 20 m\n40 20 L\n");
    ASSERT_FALSE(noisy.empty());
    ExpectSegment(noisy.back(), {10, 20, 40, 20, 40, 20, 40, 20}, 1);
}

}  // namespace
