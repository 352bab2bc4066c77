// Reading and writing UCF files, and the exports that work on a file alone.
#include "calib_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

#include <unistd.h>

using namespace calibtest;

namespace {

// A slot's section after the "CalCoefs" section every UCF file holds.
std::string Points(const char* section, int count, const std::string& last = "") {
    std::string s = std::string("[CalCoefs]\n[") + section + "]\n";
    for (int i = 0; i < count; ++i) s += "PNT" + std::to_string(i) + "=" + std::to_string(i) + " 2 3 4\n";
    return last.empty() ? s : s + "PNT" + std::to_string(count) + "=" + last + "\n";
}

class UcfFile : public testing::Test {
protected:
    CalibParam Load(const std::string& text, CalibParam rec = CalibParam()) {
        WriteText(tmp.Path("t.ucf"), text);
        EXPECT_TRUE(loadUcf(&path, &rec));
        return rec;
    }
    TempDir tmp;
    const std::wstring path = tmp.WPath("t.ucf");
};

}  // namespace

TEST_F(UcfFile, DefaultsForMissingKeysAndNumbers) {
    CalibParam rec = Load("[CalCoefs]\n");
    EXPECT_EQ(rec.WorkSize, 120.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.caltype, 1);
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(rec.Grid[i].GridSize, sizes[i]);
        EXPECT_TRUE(rec.Grid[i].Points.empty());
    }
    // Values that are not numbers count as missing keys; like strtol and
    // strtof the reader takes leading blanks, a '+' and trailing text.
    rec = Load("[CalCoefs]\nWorkSize=abc\nValSize=1e39\nTagSize=nan\ncaltype=99999999999\n"
               "order= 7 and more\nnStack=+5\n");
    EXPECT_EQ(rec.WorkSize, 120.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 4.0);
    EXPECT_EQ(rec.caltype, 1);
    EXPECT_EQ(rec.order, 7);
    EXPECT_EQ(rec.nStack, 5);
}

TEST_F(UcfFile, LineLayout) {
    // CRLF endings, comments, an entry before any section, a key with a blank
    // before '=' (keys are not trimmed), a repeated key (the first counts).
    const CalibParam rec = Load("WorkSize=10\r\n; c\r\n\r\n[CalCoefs]\r\nWorkSize=150\r\nWorkSize=160\r\n"
                                "ValSize =90\r\nTagSize=3.5");
    EXPECT_EQ(rec.WorkSize, 150.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 3.5);
}

TEST_F(UcfFile, IncompleteFilesAreRefusedAndRunsOfBlanksSeparate) {
    CalibParam before;
    before.Grid[1].AxisXL = 11.0;
    before.Grid[1].Points = Lattice(5, 80, Exact);
    // A slot short of points (PNT3 missing, or a bad point line), or no
    // "CalCoefs": the file is refused and the record stays as it was.
    std::vector<std::string> texts = {Points("Cal5", 3) + "AxisXL=7\n", Points("Cal5", 25).substr(11)};
    for (const char* bad : {"1 2 3", "1 2 3 4 5", "1 2 x 4", " \t ", "1 2 3 inf", "1,2,3,4"})
        texts.push_back(Points("Cal5", 10, bad) + Points("Cal5", 25).substr(18));
    for (const std::string& text : texts) {
        WriteText(tmp.Path("t.ucf"), text);
        CalibParam rec = before;
        EXPECT_FALSE(loadUcf(&path, &rec)) << text.substr(0, 60);
        EXPECT_EQ(rec.Grid[1].AxisXL, 11.0);
        EXPECT_EQ(rec.Grid[1].Points.size(), 25u);
    }
    // The reason goes to the run log beside the executable.
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string log;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(exe).parent_path() / "Log"))
        if (e.is_regular_file()) log += ReadText(e.path());
    const std::string where = "loadUcf refused " + tmp.Path("t.ucf").string();
    EXPECT_NE(log.find(where + ": no section \"CalCoefs\""), std::string::npos);
    EXPECT_NE(log.find(where + ": section \"Cal5\" holds 3 of 25 points"), std::string::npos);
    // Runs of blanks and tabs between the fields are one separator.
    for (const char* spaced : {"-1.5  2\t3 4", "-1.5\t\t2 \t 3  4", " -1.5 2 3 4\t"}) {
        const CalibGridPoint p = Load(Points("Cal5", 24, spaced)).Grid[1].Points.at(24);
        EXPECT_TRUE(p.NomX == -1.5 && p.NomY == 2 && p.MeasX == 3 && p.MeasY == 4) << spaced;
    }
    CalibParam rec;
    // Complete: the keys are read, missing ones take the file's defaults.
    rec = Load("[CalCoefs]\nValSize=60\n" + Points("Cal5", 25) + "AxisXL=7\nk3=0.5\n");
    const CalibGrid& g = rec.Grid[1];
    ASSERT_EQ(g.Points.size(), 25u);
    EXPECT_EQ(g.Points[24].NomX, 24.0);
    EXPECT_EQ(g.AxisXL, 7.0);
    EXPECT_EQ(g.AxisXR, 30.0);
    EXPECT_EQ(g.TXL, 1.0);
    EXPECT_EQ(g.k[3], 0.5);
    EXPECT_EQ(g.k[4], 1.0);
    EXPECT_EQ(g.Y2XAngle, static_cast<double>(static_cast<float>(std::numbers::pi / 2)));
}

TEST_F(UcfFile, EqualSpacingTables) {
    EXPECT_TRUE(Load(Points("Cal3", 9) + "LineCount=1\nXT0=5\n").Grid[0].XT.empty());
    // Missing entries: evenly spaced lines over the working size, "not
    // measured", factor 1.
    const CalibParam rec = Load("[CalCoefs]\nWorkSize=100\n" + Points("Cal3", 9) +
                                "LineCount=5\nXT1=-20\nXA1=-19.5\nYR4=0.75\n");
    const CalibGrid& g = rec.Grid[0];
    ASSERT_EQ(g.XT.size(), 5u);
    EXPECT_EQ(g.XT, (std::vector<double>{-50, -20, 0, 25, 50}));
    EXPECT_EQ(g.YT[1], -25.0);
    EXPECT_EQ(g.XA, (std::vector<double>{-100000, -19.5, -100000, -100000, -100000}));
    EXPECT_EQ(g.YR, (std::vector<double>{1, 1, 1, 1, 0.75}));
    // An absurd line count is refused rather than filling memory.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Load(Points("Cal3", 9) + "LineCount=2000000000\n").Grid[0].XT.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(UcfFile, WhatIsNoCalibrationLeavesRecordAndFile) {
    EXPECT_TRUE(Load("[\n[]\n=\n[CalCoefs\xff]\n=5\n[CalCoefs]\n").Grid[0].Points.empty());
    // The caller's record holds a calibration; saved, it is the oracle.
    CalibParam held;
    held.caltype = 2;
    held.WorkSize = 123.0;
    held.Grid[0].Points = Lattice(3, 80, [](Vec2 p) { return Vec2{p.x * 1.01 + 0.3, p.y * 0.98 - 0.2}; });
    held.Grid[2].Points = Lattice(9, 80, [](Vec2 p) { return Vec2{p.x + 0.05 * p.y / 40, p.y}; });
    held.order = 9;
    ASSERT_TRUE(getCalibCoefs(&held));
    const std::wstring heldPath = tmp.WPath("held.ucf");
    ASSERT_TRUE(saveUcf(&heldPath, &held));
    const std::string heldBytes = ReadText(tmp.Path("held.ucf"));
    const Vec2 heldOut = CommandMm(held, 17.5, -11.25);

    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    fs::create_directory(tmp.Path("folder.ucf"));
    struct Row {
        const char* what;
        std::wstring path;
        const char* bytes;  // written first unless null
        std::string content;
        bool setterMakesFile;  // nothing there to lose: the point setter starts a new file
    };
    const Row rows[] = {
        {"missing", tmp.WPath("none.ucf"), nullptr, "", true},
        {"empty", tmp.WPath("empty.ucf"), "", "", true},
        {"folder", tmp.WPath("folder.ucf"), nullptr, "", false},
        {"binary", tmp.WPath("bin.ucf"), "", binary, false},
        {"NUL in text", tmp.WPath("nul.ucf"), "", std::string("[CalCoefs]\nWorkSize=90\n\0\n", 25), false},
        {"other text", tmp.WPath("other.ini"), "", "[Other]\nWorkSize=90\nkey=1\n", false},
        {"too large", tmp.WPath("big.ucf"), "", "[CalCoefs]\nWorkSize=10\n" + std::string(17u << 20, ';'), false},
        {"empty path", std::wstring(), nullptr, "", false},
        {"NUL in path", std::wstring(L"t\0.ucf", 6), nullptr, "", false},
        {"lone surrogate", std::wstring(1, wchar_t(0xD800)), nullptr, "", false},
    };
    std::vector<double> pts;
    for (const CalibGridPoint& q : Lattice(3, 80, Exact)) pts.insert(pts.end(), {q.NomX, q.NomY, q.MeasX, q.MeasY});
    const double pairs[] = {-40, -40.5, 0, 0.25};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.bytes) WriteText(fs::path(row.path), row.content);
        CalibParam rec = held;
        EXPECT_FALSE(loadUcf(&row.path, &rec));
        EXPECT_FALSE(InitCalib(&row.path, &rec));
        EXPECT_FALSE(getCalibCoefFromFile(&row.path, &rec));
        ASSERT_TRUE(saveUcf(&heldPath, &rec));
        EXPECT_EQ(ReadText(tmp.Path("held.ucf")), heldBytes);
        const Vec2 out = CommandMm(rec, 17.5, -11.25);
        EXPECT_TRUE(out.x == heldOut.x && out.y == heldOut.y);
        // The functions that work on a file alone: nothing to read, and a
        // file that is there stays as it was.
        double buf[4 * 9], w = 0, v = 0, t = 0;
        int lines = 0, count = 2;
        EXPECT_FALSE(getCalibPnts(&row.path, 0, buf));
        EXPECT_FALSE(getEqualPnts(&row.path, 0, &count, buf));
        EXPECT_EQ(count, 0);
        EXPECT_FALSE(getBasePara(&row.path, &w, &v, &t, &lines));
        EXPECT_FALSE(setEqualPnts(&row.path, 0, 2, pairs));
        EXPECT_EQ(setCalibPnts(&row.path, 0, pts.data()), row.setterMakesFile);
        if (row.bytes) {
            EXPECT_EQ(ReadText(fs::path(row.path)) == row.content, !row.setterMakesFile);
        }
        EXPECT_EQ(getCalibPnts(&row.path, 0, buf), row.setterMakesFile);
    }
    EXPECT_TRUE(fs::is_directory(tmp.Path("folder.ucf")));
}

TEST_F(UcfFile, SettersRefuseNumbersTheFileCannotKeep) {
    WriteText(tmp.Path("t.ucf"), Points("Cal3", 9) + "LineCount=2\nXT0=-40\nXT1=1e+38\nXA0=-40.5\nXA1=40\n");
    const std::string before = ReadText(tmp.Path("t.ucf"));
    std::vector<double> pts;
    for (const CalibGridPoint& q : Lattice(9, 80, Exact)) pts.insert(pts.end(), {q.NomX, q.NomY, q.MeasX, q.MeasY});
    const double bad[] = {NAN, INFINITY, -INFINITY, 1e300, -3.5e38};
    for (std::size_t at : {std::size_t{0}, std::size_t{6}, std::size_t{4 * 81 - 1}}) {
        for (double b : bad) {
            std::vector<double> p = pts;
            p[at] = b;
            EXPECT_FALSE(setCalibPnts(&path, 2, p.data())) << at << " " << b;
            std::vector<double> pairs = {-40, -41, 0, 0.5, 38, 38.5};
            pairs[at % 5] = b;
            EXPECT_FALSE(setEqualPnts(&path, static_cast<int>(at & 1), 3, pairs.data())) << at << " " << b;
        }
        // Beyond single precision, in which the tables are saved.
        std::vector<double> pairs = {-40, -41, 0, 0.5, 38, 38.5};
        pairs[at % 5] = at == 0 ? -1e39 : 3.5e38;
        EXPECT_FALSE(setEqualPnts(&path, 0, 3, pairs.data())) << at;
    }
    // A line kept where it is and measured again scales its factor by
    // nominal / measured: here beyond single precision.
    const double grow[] = {-40, -40.5, static_cast<float>(1e38), 1e-6};
    EXPECT_FALSE(setEqualPnts(&path, 0, 2, grow));
    EXPECT_EQ(ReadText(tmp.Path("t.ucf")), before);
    // Large points within single precision are kept.
    pts[2] = -3.4e38;
    ASSERT_TRUE(setCalibPnts(&path, 2, pts.data()));
    double out[4 * 81];
    ASSERT_TRUE(getCalibPnts(&path, 2, out));
    EXPECT_EQ(out[2], -3.4e38);
}

TEST_F(UcfFile, WrittenLayoutAndNumbers) {
    CalibParam rec;
    rec.WorkSize = 0.1234567;
    rec.Grid[0].Points = Lattice(3, 80, Exact);
    rec.Grid[0].Points[0].MeasX = -40.123456789;
    rec.Grid[3].Points = Lattice(17, 80, Exact);
    rec.Grid[6].Points = Lattice(25, 80, Exact);
    ASSERT_TRUE(saveUcf(&path, &rec));
    const std::string text = ReadText(tmp.Path("t.ucf"));
    EXPECT_EQ(FileValue(text, "CalCoefs", "WorkSize"), "0.123457");
    EXPECT_EQ(FileValue(text, "CalCoefs", "caltype"), "2");
    EXPECT_EQ(FileValue(text, "Cal3", "PNT0"), "-40.00000 40.00000 -40.12346 40.00000");
    EXPECT_EQ(FileValue(text, "Cal17", "order"), "17");
    EXPECT_EQ(FileValue(text, "Cal3", "Y2XAngle"), "1.5708");
    // Sections and keys in ascending byte order; no section for an empty slot.
    const auto at = [&](const std::string& s) { return text.find(s); };
    EXPECT_LT(at("[Cal17]"), at("[Cal25]"));
    EXPECT_LT(at("[Cal25]"), at("[Cal3]"));
    EXPECT_LT(at("[Cal3]"), at("[CalCoefs]"));
    EXPECT_EQ(at("[Cal5]"), std::string::npos);
    EXPECT_LT(text.find("\nPNT10=", at("[Cal17]")), text.find("\nPNT2=", at("[Cal17]")));
    // A path that cannot be written is a failure.
    const std::wstring noDir = tmp.WPath("missing/t.ucf"), empty;
    EXPECT_FALSE(saveUcf(&noDir, &rec));
    EXPECT_FALSE(saveUcf(&empty, &rec));
}

TEST_F(UcfFile, SaveAndLoadKeepEveryField) {
    CalibParam rec;
    rec.caltype = 7;
    rec.nStack = 3;
    rec.WorkSize = 110.5;
    rec.ValSize = 90.25;
    rec.TagSize = 2.75;
    rec.order = 33;
    double CalibGrid::*const reals[] = {&CalibGrid::AxisXL, &CalibGrid::AxisXR, &CalibGrid::AxisYT,
                                        &CalibGrid::AxisYB, &CalibGrid::OX,     &CalibGrid::OY,
                                        &CalibGrid::SXL,    &CalibGrid::SXR,    &CalibGrid::SYT,
                                        &CalibGrid::SYB,    &CalibGrid::TXL,    &CalibGrid::TXR,
                                        &CalibGrid::TYT,    &CalibGrid::TYB,    &CalibGrid::PLX,
                                        &CalibGrid::PLY,    &CalibGrid::Y2XAngle};
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};
    for (int slot = 0; slot < 7; ++slot) {
        CalibGrid& g = rec.Grid[slot];
        g.GridSize = sizes[slot];
        g.Points = Lattice(sizes[slot], 90.25, [&](Vec2 p) { return Vec2{p.x * 1.01 + 0.123456 + slot, p.y - 0.6}; });
        g.grid = slot == 0;
        double v = 0.5 + slot;
        for (auto m : reals) g.*m = (v += 0.125);
        for (double& k : g.k) k = (v += 0.25);
        for (double& s : g.s) s = (v -= 0.375);
        g.LineCount = 4;
        g.XT = g.YT = {-30, -10, 10, 30};
        g.XA = g.YA = {-30.5, -10.25, 10.125, 30.0625};
        g.XR = g.YR = {1.5, 0.75, 1.25, 0.5};
    }
    ASSERT_TRUE(saveUcf(&path, &rec));
    CalibParam back;
    ASSERT_TRUE(loadUcf(&path, &back));
    EXPECT_EQ(back.caltype, 7);
    EXPECT_EQ(back.nStack, 3);
    EXPECT_EQ(back.WorkSize, 110.5);
    EXPECT_EQ(back.ValSize, 90.25);
    EXPECT_EQ(back.TagSize, 2.75);
    EXPECT_EQ(back.order, 33);
    for (int slot = 0; slot < 7; ++slot) {
        SCOPED_TRACE(slot);
        const CalibGrid& a = rec.Grid[slot];
        const CalibGrid& b = back.Grid[slot];
        ASSERT_EQ(a.Points.size(), b.Points.size());
        for (std::size_t i = 0; i < a.Points.size(); ++i) {  // five decimals
            EXPECT_NEAR(a.Points[i].NomX, b.Points[i].NomX, 5.01e-6);
            EXPECT_NEAR(a.Points[i].NomY, b.Points[i].NomY, 5.01e-6);
            EXPECT_NEAR(a.Points[i].MeasX, b.Points[i].MeasX, 5.01e-6);
            EXPECT_NEAR(a.Points[i].MeasY, b.Points[i].MeasY, 5.01e-6);
        }
        EXPECT_EQ(b.grid, a.grid);
        // Reals keep single precision; the fit recomputes slot 0's model and
        // its first four coefficients.
        for (std::size_t i = slot == 0 ? 4 : 0; i < 20; ++i) EXPECT_FLOAT_EQ(b.k[i], a.k[i]) << i;
        for (std::size_t i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(b.s[i], a.s[i]) << i;
        // Only the 3 x 3 grid carries equal-spacing tables.
        if (slot == 0) {
            EXPECT_TRUE(b.LineCount == 4 && b.XT == a.XT && b.YT == a.YT && b.XA == a.XA && b.YA == a.YA &&
                        b.XR == a.XR && b.YR == a.YR);
        } else {
            for (auto m : reals) EXPECT_FLOAT_EQ(b.*m, a.*m);
            EXPECT_TRUE(b.XT.empty());
        }
    }
}

TEST_F(UcfFile, BadArgumentsFailAndWriteNothing) {
    CalibParam rec;
    double buf[4 * 81] = {};
    int n = 1;
    double a = 0, b = 0, c = 0;
    EXPECT_FALSE(InitCalib(nullptr, &rec));
    EXPECT_FALSE(InitCalib(&path, nullptr));
    EXPECT_FALSE(loadUcf(nullptr, &rec));
    EXPECT_FALSE(saveUcf(&path, nullptr));
    EXPECT_FALSE(getCalibCoefFromFile(&path, nullptr));
    EXPECT_FALSE(getCalibCoefs(nullptr));
    EXPECT_FALSE(CalibPoint(nullptr, 0, 0, buf));
    EXPECT_FALSE(CalibPoint(&rec, 0, 0, nullptr));
    EXPECT_FALSE(preCalibPoint(&rec, 0, 0, nullptr));
    EXPECT_FALSE(getCalibPnts(&path, -1, buf));
    EXPECT_FALSE(getCalibPnts(&path, 0, nullptr));
    EXPECT_FALSE(setCalibPnts(&path, 7, buf));
    EXPECT_FALSE(setCalibPnts(&path, 0, nullptr));
    EXPECT_FALSE(getEqualPnts(&path, 0, nullptr, buf));
    EXPECT_FALSE(getEqualPnts(&path, 0, &n, nullptr));
    EXPECT_FALSE(setEqualPnts(&path, 0, -1, buf));
    EXPECT_FALSE(setEqualPnts(&path, 0, 1, nullptr));
    EXPECT_FALSE(getRecManParas(nullptr, buf, buf));
    EXPECT_FALSE(getBasePara(&path, &a, &b, &c, nullptr));
    EXPECT_FALSE(std::filesystem::exists(tmp.Path("t.ucf")));
}

TEST_F(UcfFile, GridPointsAndBaseParameters) {
    WriteText(tmp.Path("t.ucf"), "[CalCoefs]\nWorkSize=90\nTagSize=3\n[Other]\nkey=1\n");
    std::vector<double> pts;
    for (const CalibGridPoint& p : Lattice(9, 80, [](Vec2 v) { return Vec2{v.x + 0.123456, v.y * 0.999}; }))
        pts.insert(pts.end(), {p.NomX, p.NomY, p.MeasX, p.MeasY});
    double out[4 * 81];
    EXPECT_FALSE(getCalibPnts(&path, 2, out));
    ASSERT_TRUE(setCalibPnts(&path, 2, pts.data()));
    const std::string text = ReadText(tmp.Path("t.ucf"));
    EXPECT_EQ(FileValue(text, "CalCoefs", "order"), "9");
    EXPECT_EQ(FileValue(text, "CalCoefs", "WorkSize"), "90");
    EXPECT_NE(FileValue(text, "Cal9", "PNT80"), "<none>");
    EXPECT_EQ(FileValue(text, "Cal9", "PNT81"), "<none>");
    EXPECT_EQ(FileValue(text, "Other", "key"), "<none>");  // a save writes what the record holds
    ASSERT_TRUE(getCalibPnts(&path, 2, out));
    for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(out[i], pts[i], 5.01e-6) << i;

    double w = 0, v = 0, t = 0;
    int lines = 0;
    ASSERT_TRUE(getBasePara(&path, &w, &v, &t, &lines));
    EXPECT_EQ(w, 90.0);
    EXPECT_EQ(v, 100.0);
    EXPECT_EQ(t, 3.0);
    EXPECT_EQ(lines, 21);  // the record's own: the file has no complete 3 x 3 grid
}

TEST_F(UcfFile, EqualSpacingPairs) {
    WriteText(tmp.Path("t.ucf"), Points("Cal3", 9) + "LineCount=3\nXT0=-40\nXT1=0\nXT2=40\nXA0=-40.5\n"
                                                     "XA1=0.25\nXA2=40.5\nXR1=2\nXR2=1.25\nYT0=-30\nYT1=0\n"
                                                     "YT2=30\nYA0=-30.5\nYA1=0.125\nYA2=29.5\n");
    int count = 5;
    double out[10];
    ASSERT_TRUE(getEqualPnts(&path, 0, &count, out));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(std::vector<double>(out, out + 10),
              (std::vector<double>{-40, -40.5, 0, 0.25, 40, 40.5, -5000, -5000, -5000, -5000}));
    count = 3;
    ASSERT_TRUE(getEqualPnts(&path, 1, &count, out));
    EXPECT_EQ(std::vector<double>(out, out + 6), (std::vector<double>{-30, -30.5, 0, 0.125, 30, 29.5}));
    // Each axis's pairs go to its own table.
    const double yPairs[] = {-30, -31, 0, 0.5, 30, 29.5};
    ASSERT_TRUE(setEqualPnts(&path, 1, 3, yPairs));
    ASSERT_TRUE(getEqualPnts(&path, 1, &count, out));
    EXPECT_EQ(std::vector<double>(out, out + 6), std::vector<double>(yPairs, yPairs + 6));
    ASSERT_TRUE(getEqualPnts(&path, 0, &count, out));
    EXPECT_EQ(std::vector<double>(out, out + 6), (std::vector<double>{-40, -40.5, 0, 0.25, 40, 40.5}));

    // Line 0 measured again (factor times nominal/measured), line 1 at a
    // nominal under 0.001 measured again (factor back to 1), line 2 moved
    // (factor kept), and two new lines, which raise the line count so that
    // they are kept.
    const double pairs[] = {-40, -41, 0, 0.5, 38, 38.5, 60, 61, 80, 81};
    ASSERT_TRUE(setEqualPnts(&path, 0, 5, pairs));
    CalibParam rec;
    ASSERT_TRUE(loadUcf(&path, &rec));
    const CalibGrid& g = rec.Grid[0];
    EXPECT_EQ(g.LineCount, 5);
    ASSERT_EQ(g.XR.size(), 5u);
    EXPECT_FLOAT_EQ(g.XR[0], 40.0 / 41.0);
    EXPECT_EQ(std::vector<double>(g.XR.begin() + 1, g.XR.end()), (std::vector<double>{1, 1.25, 1, 1}));
    EXPECT_EQ(g.XT[4], 80.0);
    EXPECT_EQ(g.XA[4], 81.0);
    EXPECT_EQ(std::vector<double>(g.YA.begin(), g.YA.begin() + 3), (std::vector<double>{-31, 0.5, 29.5}));
    EXPECT_FLOAT_EQ(g.YR[0], 30.0 / 31.0);

    WriteText(tmp.Path("t.ucf"), Points("Cal3", 9));
    EXPECT_FALSE(getEqualPnts(&path, 1, &count, out));
    EXPECT_EQ(count, 0);
    // Without a complete 3 x 3 grid the pairs could not be read back: the
    // call fails and leaves the file alone.
    WriteText(tmp.Path("t.ucf"), "[CalCoefs]\nWorkSize=77\n");
    EXPECT_FALSE(setEqualPnts(&path, 0, 5, pairs));
    EXPECT_EQ(ReadText(tmp.Path("t.ucf")), "[CalCoefs]\nWorkSize=77\n");
}

TEST_F(UcfFile, InitCalibKeepsTheHostsMode) {
    WriteText(tmp.Path("t.ucf"), "[CalCoefs]\ncaltype=2\nWorkSize=90\n" + Points("Cal3", 9));
    CalibParam rec;
    rec.caltype = 1;
    ASSERT_TRUE(InitCalib(&path, &rec));
    EXPECT_EQ(rec.caltype, 1);
    EXPECT_EQ(rec.WorkSize, 90.0);
    EXPECT_EQ(rec.Grid[0].Points.size(), 9u);
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.caltype, 2);
}

TEST(ManualParameters, FromMeasurements) {
    // Sizes equal to the pattern's and square axes change nothing; every
    // result is truncated toward zero to six decimals.
    const double same[9] = {64, 64, 90.0, 64, 64, 64, 64, 64, 64};
    const double cur[9] = {1.0, 1.0, 1.0, 1.0, -1.23456789, 1.0, 100, 100, 64};
    double out[8];
    ASSERT_TRUE(getRecManParas(same, cur, out));
    EXPECT_EQ(std::vector<double>(out, out + 8), (std::vector<double>{1, 1, 1, 1, -1.234567, 1, 100, 100}));
    // 25 % too wide in x; 45 degrees between the axes moves the trapezoid
    // term by one; edges 1 mm apart move the scale by 1 / (2 * 64).
    const double meas[9] = {80, 64, 45.0, 64.5, 64, 63.5, 64, 64, 64};
    ASSERT_TRUE(getRecManParas(meas, cur, out));
    EXPECT_EQ(out[0], 1.25);
    EXPECT_NEAR(out[4], -1.23456789 - 1.0, 1e-5);
    EXPECT_EQ(out[6], 100.007812);
    EXPECT_EQ(out[2], 1.0);  // symmetric edges: no parallelogram change
    // Measurements that give no finite answer.
    const double zeroMiddle[9] = {64, 64, 90.0, 64, 0, 64, 64, 64, 64};
    const double zeroAngle[9] = {64, 64, 0.0, 64, 64, 64, 64, 64, 64};
    EXPECT_FALSE(getRecManParas(zeroMiddle, cur, out));
    EXPECT_FALSE(getRecManParas(zeroAngle, cur, out));
}

TEST_F(UcfFile, FileCutShortIsRefusedOrLoadsTheSavedRecord) {
    CalibParam saved;
    saved.WorkSize = 100.0;
    saved.ValSize = 80.0;
    saved.order = 65;
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};
    for (int slot = 0; slot < 7; ++slot)
        saved.Grid[slot].Points = Lattice(sizes[slot], 80, [slot](Vec2 p) {
            return Vec2{p.x * 1.002 + 0.01 * slot + 0.003 * p.y, p.y * 0.997 - 0.02 * slot};
        });
    saved.Grid[0].LineCount = 5;
    saved.Grid[0].XT = saved.Grid[0].YT = {-40, -20, 0, 20, 40};
    saved.Grid[0].XA = saved.Grid[0].YA = {-40.5, -20.25, 0.125, 19.5, 40.25};
    ASSERT_TRUE(saveUcf(&path, &saved));
    const std::string full = ReadText(tmp.Path("t.ucf"));
    CalibParam whole;
    ASSERT_TRUE(loadUcf(&path, &whole));
    const std::wstring out = tmp.WPath("out.ucf");
    ASSERT_TRUE(saveUcf(&out, &whole));
    const std::string wholeBytes = ReadText(tmp.Path("out.ucf"));

    // The caller's record holds another calibration: saved, it is the oracle
    // of a refused load.
    CalibParam held;
    held.WorkSize = 123.0;
    held.Grid[0].Points = Lattice(3, 60, Exact);
    ASSERT_TRUE(getCalibCoefs(&held));
    ASSERT_TRUE(saveUcf(&out, &held));
    const std::string heldBytes = ReadText(tmp.Path("out.ucf"));
    for (int tenth = 1; tenth <= 10; ++tenth) {
        SCOPED_TRACE(tenth);
        WriteText(tmp.Path("cut.ucf"), full.substr(0, full.size() * tenth / 10));
        const std::wstring cut = tmp.WPath("cut.ucf");
        CalibParam rec = held;
        const bool loaded = loadUcf(&cut, &rec);
        ASSERT_TRUE(saveUcf(&out, &rec));
        EXPECT_EQ(ReadText(tmp.Path("out.ucf")), loaded ? wholeBytes : heldBytes);
        if (tenth == 10) {
            EXPECT_TRUE(loaded);
        }
        // The exports that work on the file alone refuse it too.
        double pts[4 * 9];
        EXPECT_EQ(getCalibPnts(&cut, 0, pts), loaded);
    }
}
