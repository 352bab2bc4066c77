// Reading and writing UCF files, and the exports that work on a file alone.
#include "calib_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

using namespace calibtest;

namespace {

// A complete 3 x 3 grid section with the given extra lines.
std::string Cal3(const std::string& extra = "") {
    std::string s = "[Cal3]\n";
    int i = 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            s += "PNT" + std::to_string(i++) + "=" + std::to_string(-40 + 40 * c) + " " +
                 std::to_string(40 - 40 * r) + " " + std::to_string(-40 + 40 * c) + " " +
                 std::to_string(40 - 40 * r) + "\n";
    return s + extra;
}

std::string Cal5Points(int count, const std::string& bad = "") {
    std::string s = "[Cal5]\n";
    for (int i = 0; i < count; ++i) s += "PNT" + std::to_string(i) + "=1 2 3 4\n";
    if (!bad.empty()) s += "PNT" + std::to_string(count) + "=" + bad + "\n";
    return s;
}

}  // namespace

TEST(UcfRead, MissingFileLeavesFileDefaults) {
    TempDir tmp;
    CalibParam rec;
    const std::wstring path = tmp.WPath("absent.ucf");
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.WorkSize, 120.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 4.0);
    EXPECT_EQ(rec.caltype, 1);
    EXPECT_EQ(rec.order, 3);
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(rec.Grid[i].GridSize, sizes[i]);
        EXPECT_TRUE(rec.Grid[i].Points.empty());
    }
    EXPECT_EQ(rec.Grid[0].AxisXL, 50.0);  // the fit's reset of an empty grid
}

TEST(UcfRead, CoefsSectionOnly) {
    TempDir tmp;
    WriteText(tmp.Path("a.ucf"), "[CalCoefs]\nTagSize=2.5\nnStack=4\n");
    CalibParam rec;
    const std::wstring path = tmp.WPath("a.ucf");
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.WorkSize, 120.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 2.5);
    EXPECT_EQ(rec.caltype, 1);
    EXPECT_EQ(rec.nStack, 4);
    for (const CalibGrid& g : rec.Grid) EXPECT_TRUE(g.Points.empty());
}

TEST(UcfRead, ValuesThatAreNotNumbersCountAsMissing) {
    TempDir tmp;
    WriteText(tmp.Path("a.ucf"),
              "[CalCoefs]\nWorkSize=abc\nValSize=1e39\nTagSize=nan\ncaltype=99999999999\n"
              "order= 7 and more\nnStack=+5\n");
    CalibParam rec;
    const std::wstring path = tmp.WPath("a.ucf");
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.WorkSize, 120.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 4.0);
    EXPECT_EQ(rec.caltype, 1);
    EXPECT_EQ(rec.order, 7);  // leading blanks and trailing text, as strtol reads it
    EXPECT_EQ(rec.nStack, 5);
}

TEST(UcfRead, LineLayout) {
    TempDir tmp;
    // CRLF endings, comments, an entry before any section, a key with a blank
    // before '=' (keys are not trimmed) and a repeated key (the first counts).
    WriteText(tmp.Path("a.ucf"),
              "WorkSize=10\r\n; comment\r\n\r\n[CalCoefs]\r\nWorkSize=150\r\nWorkSize=160\r\n"
              "ValSize =90\r\nTagSize=3.5");
    CalibParam rec;
    const std::wstring path = tmp.WPath("a.ucf");
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.WorkSize, 150.0);
    EXPECT_EQ(rec.ValSize, 100.0);
    EXPECT_EQ(rec.TagSize, 3.5);
}

TEST(UcfRead, IncompleteGridKeepsItsFields) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("a.ucf");
    CalibParam rec;
    rec.Grid[1].AxisXL = 11.0;

    // PNT3 missing: three points, the slot's keys are not read.
    WriteText(tmp.Path("a.ucf"), Cal5Points(3) + "AxisXL=7\n");
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_EQ(rec.Grid[1].Points.size(), 3u);
    EXPECT_EQ(rec.Grid[1].AxisXL, 11.0);

    // Bad point lines end the grid where they stand.
    for (const char* bad : {"1 2 3", "1 2 3 4 5", "1  2 3 4", "1 2 x 4", "1 2 3 4 ", "", "1 2 3 inf"}) {
        WriteText(tmp.Path("a.ucf"), Cal5Points(10, bad) + "AxisXL=7\n");
        ASSERT_TRUE(loadUcf(&path, &rec));
        EXPECT_EQ(rec.Grid[1].Points.size(), 10u) << bad;
    }

    // Complete: the keys are read, missing ones take the file defaults.
    WriteText(tmp.Path("a.ucf"), "[CalCoefs]\nValSize=60\n" + Cal5Points(25) + "AxisXL=7\nk3=0.5\n");
    ASSERT_TRUE(loadUcf(&path, &rec));
    const CalibGrid& g = rec.Grid[1];
    ASSERT_EQ(g.Points.size(), 25u);
    EXPECT_EQ(g.Points[24].MeasY, 4.0);
    EXPECT_EQ(g.AxisXL, 7.0);
    EXPECT_EQ(g.AxisXR, 30.0);
    EXPECT_EQ(g.TXL, 1.0);
    EXPECT_EQ(g.k[3], 0.5);
    EXPECT_EQ(g.k[4], 1.0);
    EXPECT_EQ(g.Y2XAngle, static_cast<double>(static_cast<float>(std::numbers::pi / 2)));
}

TEST(UcfRead, EqualSpacingTables) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("a.ucf");
    CalibParam rec;

    WriteText(tmp.Path("a.ucf"), Cal3("LineCount=1\nXT0=5\n"));
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_TRUE(rec.Grid[0].XT.empty());

    // Missing entries take evenly spaced nominal lines over the working size,
    // "not measured" and factor 1.
    WriteText(tmp.Path("a.ucf"), "[CalCoefs]\nWorkSize=100\n" + Cal3("LineCount=5\nXT1=-20\nXA1=-19.5\nYR4=0.9\n"));
    ASSERT_TRUE(loadUcf(&path, &rec));
    const CalibGrid& g = rec.Grid[0];
    ASSERT_EQ(g.XT.size(), 5u);
    ASSERT_EQ(g.YR.size(), 5u);
    EXPECT_EQ(g.XT[0], -50.0);
    EXPECT_EQ(g.XT[1], -20.0);
    EXPECT_EQ(g.XT[4], 50.0);
    EXPECT_EQ(g.YT[2], 0.0);
    EXPECT_EQ(g.XA[1], -19.5);
    EXPECT_EQ(g.XA[0], -100000.0);
    EXPECT_EQ(g.XR[3], 1.0);
    EXPECT_FLOAT_EQ(g.YR[4], 0.9f);

    // An absurd line count is refused rather than filling memory.
    WriteText(tmp.Path("a.ucf"), Cal3("LineCount=2000000000\n"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(loadUcf(&path, &rec));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(rec.Grid[0].XT.empty());
}

TEST(UcfRead, HostileFilesLoadAsDefaults) {
    TempDir tmp;
    CalibParam rec;
    const std::wstring dir = tmp.WPath("");
    EXPECT_TRUE(loadUcf(&dir, &rec));  // a folder
    EXPECT_EQ(rec.WorkSize, 120.0);

    WriteText(tmp.Path("big.ucf"), "[CalCoefs]\nWorkSize=10\n" + std::string(17u << 20, ';'));
    const std::wstring big = tmp.WPath("big.ucf");
    EXPECT_TRUE(loadUcf(&big, &rec));
    EXPECT_EQ(rec.WorkSize, 120.0);

    const char oddText[] = "[\n[]\n=\n[CalCoefs\0\xff]\n=5\n[Cal3]\nPNT0=\n";
    WriteText(tmp.Path("odd.ucf"), std::string(oddText, sizeof oddText - 1));
    const std::wstring odd = tmp.WPath("odd.ucf");
    EXPECT_TRUE(loadUcf(&odd, &rec));
    EXPECT_TRUE(rec.Grid[0].Points.empty());

    const std::wstring withNul(L"a\0b", 3);
    EXPECT_TRUE(loadUcf(&withNul, &rec));
    const std::wstring badCodePoint(1, static_cast<wchar_t>(0xD800));
    EXPECT_TRUE(loadUcf(&badCodePoint, &rec));
}

TEST(UcfWrite, LayoutAndNumberFormats) {
    TempDir tmp;
    CalibParam rec;
    rec.WorkSize = 0.1234567;
    rec.caltype = 1;
    rec.Grid[0].Points = Lattice(3, 80, Exact);
    rec.Grid[0].Points[0].MeasX = -40.123456789;
    rec.Grid[3].Points = Lattice(17, 80, Exact);
    rec.Grid[6].Points = Lattice(25, 80, Exact);
    const std::wstring path = tmp.WPath("w.ucf");
    ASSERT_TRUE(saveUcf(&path, &rec));
    const std::string text = ReadText(tmp.Path("w.ucf"));

    EXPECT_EQ(FileValue(text, "CalCoefs", "WorkSize"), "0.123457");
    EXPECT_EQ(FileValue(text, "CalCoefs", "caltype"), "1");
    EXPECT_EQ(FileValue(text, "Cal3", "PNT0"), "-40.00000 40.00000 -40.12346 40.00000");
    EXPECT_EQ(FileValue(text, "Cal17", "order"), "17");
    EXPECT_EQ(FileValue(text, "Cal3", "Y2XAngle"), "1.5708");
    // Sections and keys in ascending byte order; no section for an empty slot.
    const auto at = [&](const std::string& s) { return text.find(s); };
    EXPECT_LT(at("[Cal17]"), at("[Cal25]"));
    EXPECT_LT(at("[Cal25]"), at("[Cal3]"));
    EXPECT_LT(at("[Cal3]"), at("[CalCoefs]"));
    EXPECT_EQ(at("[Cal5]"), std::string::npos);
    const std::size_t cal17 = at("[Cal17]");
    EXPECT_LT(text.find("\nPNT10=", cal17), text.find("\nPNT2=", cal17));
}

TEST(UcfWrite, SaveAndLoadKeepEveryField) {
    TempDir tmp;
    CalibParam rec;
    rec.caltype = 7;
    rec.nStack = 3;
    rec.WorkSize = 110.5;
    rec.ValSize = 90.25;
    rec.TagSize = 2.75;
    rec.order = 33;
    for (int slot = 0; slot < 7; ++slot) {
        constexpr int kSizes[7] = {3, 5, 9, 17, 33, 65, 25};
        const int f = kSizes[slot];
        CalibGrid& g = rec.Grid[slot];
        g.GridSize = f;
        g.Points = Lattice(f, 90.25, [&](Vec2 p) { return Vec2{p.x * 1.01 + 0.123456 + slot, p.y - 0.654321}; });
        g.grid = slot == 0 ? 1 : 0;
        double v = 0.5 + slot;
        for (double* field : {&g.AxisXL, &g.AxisXR, &g.AxisYT, &g.AxisYB, &g.OX, &g.OY, &g.SXL, &g.SXR, &g.SYT,
                              &g.SYB, &g.TXL, &g.TXR, &g.TYT, &g.TYB, &g.PLX, &g.PLY, &g.Y2XAngle})
            *field = (v += 0.125);
        for (double& k : g.k) k = (v += 0.25);
        for (double& s : g.s) s = (v -= 0.375);
        g.LineCount = 4;
        g.XT = {-30, -10, 10, 30};
        g.YT = {-31, -11, 11, 31};
        g.XA = {-30.5, -10.25, 10.125, 30.0625};
        g.YA = {-31.5, -11.25, 11.125, 31.0625};
        g.XR = {1.5, 0.75, 1.25, 0.5};
        g.YR = {0.5, 1.25, 0.75, 1.5};
    }
    const std::wstring path = tmp.WPath("rt.ucf");
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
        for (std::size_t i = 0; i < a.Points.size(); ++i) {
            EXPECT_NEAR(a.Points[i].NomX, b.Points[i].NomX, 5.01e-6);
            EXPECT_NEAR(a.Points[i].NomY, b.Points[i].NomY, 5.01e-6);
            EXPECT_NEAR(a.Points[i].MeasX, b.Points[i].MeasX, 5.01e-6);
            EXPECT_NEAR(a.Points[i].MeasY, b.Points[i].MeasY, 5.01e-6);
        }
        EXPECT_EQ(b.grid, a.grid);
        // Reals keep single precision; the fit recomputes slot 0's model and
        // the first four coefficients.
        const std::size_t firstK = slot == 0 ? 4 : 0;
        for (std::size_t i = firstK; i < 20; ++i) EXPECT_FLOAT_EQ(b.k[i], a.k[i]) << i;
        for (std::size_t i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(b.s[i], a.s[i]) << i;
        if (slot != 0) {
            EXPECT_FLOAT_EQ(b.AxisXL, a.AxisXL);
            EXPECT_FLOAT_EQ(b.AxisXR, a.AxisXR);
            EXPECT_FLOAT_EQ(b.AxisYT, a.AxisYT);
            EXPECT_FLOAT_EQ(b.AxisYB, a.AxisYB);
            EXPECT_FLOAT_EQ(b.OX, a.OX);
            EXPECT_FLOAT_EQ(b.OY, a.OY);
            EXPECT_FLOAT_EQ(b.SXL, a.SXL);
            EXPECT_FLOAT_EQ(b.SXR, a.SXR);
            EXPECT_FLOAT_EQ(b.SYT, a.SYT);
            EXPECT_FLOAT_EQ(b.SYB, a.SYB);
            EXPECT_FLOAT_EQ(b.TXL, a.TXL);
            EXPECT_FLOAT_EQ(b.TXR, a.TXR);
            EXPECT_FLOAT_EQ(b.TYT, a.TYT);
            EXPECT_FLOAT_EQ(b.TYB, a.TYB);
            EXPECT_FLOAT_EQ(b.PLX, a.PLX);
            EXPECT_FLOAT_EQ(b.PLY, a.PLY);
            EXPECT_FLOAT_EQ(b.Y2XAngle, a.Y2XAngle);
            // Only the 3 x 3 grid carries equal-spacing tables.
            EXPECT_TRUE(b.XT.empty());
        } else {
            EXPECT_EQ(b.LineCount, a.LineCount);
            EXPECT_EQ(b.XT, a.XT);
            EXPECT_EQ(b.YT, a.YT);
            EXPECT_EQ(b.XA, a.XA);
            EXPECT_EQ(b.YA, a.YA);
            EXPECT_EQ(b.XR, a.XR);
            EXPECT_EQ(b.YR, a.YR);
        }
    }
}

TEST(UcfWrite, UnwritablePathFails) {
    TempDir tmp;
    CalibParam rec;
    const std::wstring noDir = tmp.WPath("missing/dir/a.ucf");
    EXPECT_FALSE(saveUcf(&noDir, &rec));
    const std::wstring empty;
    EXPECT_FALSE(saveUcf(&empty, &rec));
}

TEST(UcfExports, NullPointersAndSlotsOutsideTheRange) {
    TempDir tmp;
    CalibParam rec;
    const std::wstring path = tmp.WPath("a.ucf");
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
    EXPECT_FALSE(getCalibPnts(&path, 7, buf));
    EXPECT_FALSE(getCalibPnts(&path, 0, nullptr));
    EXPECT_FALSE(setCalibPnts(&path, 7, buf));
    EXPECT_FALSE(setCalibPnts(&path, 0, nullptr));
    EXPECT_FALSE(getEqualPnts(&path, 0, nullptr, buf));
    EXPECT_FALSE(getEqualPnts(&path, 0, &n, nullptr));
    EXPECT_FALSE(setEqualPnts(&path, 0, -1, buf));
    EXPECT_FALSE(setEqualPnts(&path, 0, 1, nullptr));
    EXPECT_FALSE(getRecManParas(nullptr, buf, buf));
    EXPECT_FALSE(getBasePara(&path, &a, &b, &c, nullptr));
    EXPECT_FALSE(std::filesystem::exists(tmp.Path("a.ucf")));  // nothing was written
}

TEST(UcfExports, GridPointsThroughTheFile) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("g.ucf");
    WriteText(tmp.Path("g.ucf"), "[CalCoefs]\nWorkSize=90\n[Other]\nkey=kept?\n");
    std::vector<double> pts;
    for (const CalibGridPoint& p : Lattice(9, 80, [](Vec2 v) { return Vec2{v.x + 0.123456, v.y * 0.999}; })) {
        pts.insert(pts.end(), {p.NomX, p.NomY, p.MeasX, p.MeasY});
    }
    double out[4 * 81];
    EXPECT_FALSE(getCalibPnts(&path, 2, out));
    ASSERT_TRUE(setCalibPnts(&path, 2, pts.data()));
    const std::string text = ReadText(tmp.Path("g.ucf"));
    EXPECT_EQ(FileValue(text, "CalCoefs", "order"), "9");
    EXPECT_EQ(FileValue(text, "CalCoefs", "WorkSize"), "90");
    EXPECT_NE(FileValue(text, "Cal9", "PNT80"), "<none>");
    EXPECT_EQ(FileValue(text, "Cal9", "PNT81"), "<none>");
    EXPECT_EQ(FileValue(text, "Other", "key"), "<none>");  // a save writes what the record holds

    ASSERT_TRUE(getCalibPnts(&path, 2, out));
    for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(out[i], pts[i], 5.01e-6) << i;
    EXPECT_FALSE(getCalibPnts(&path, 1, out));
}

TEST(UcfExports, EqualSpacingPairs) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("e.ucf");
    WriteText(tmp.Path("e.ucf"), Cal3("LineCount=3\nXT0=-40\nXT1=0\nXT2=40\nXA0=-40.5\nXA1=0.25\nXA2=40.5\n"
                                      "XR0=1\nXR1=1\nXR2=1\n"));
    int count = 5;
    double out[10];
    ASSERT_TRUE(getEqualPnts(&path, 0, &count, out));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(out[0], -40.0);
    EXPECT_EQ(out[1], -40.5);
    EXPECT_EQ(out[5], 40.5);
    for (int i = 6; i < 10; ++i) EXPECT_EQ(out[i], -5000.0);

    // Line 0 measured again (factor scaled by nominal/measured), line 1 at a
    // nominal under 0.001 measured again (factor back to 1), line 2 moved
    // (factor kept), and
    // two new lines, which raise the line count so that they are kept.
    const double pairs[] = {-40, -41, 0, 0.5, 38, 38.5, 60, 61, 80, 81};
    {
        CalibParam rec;
        ASSERT_TRUE(loadUcf(&path, &rec));
        rec.Grid[0].XR = {1.0, 2.0, 1.25};
        ASSERT_TRUE(saveUcf(&path, &rec));
    }
    ASSERT_TRUE(setEqualPnts(&path, 0, 5, pairs));
    CalibParam rec;
    ASSERT_TRUE(loadUcf(&path, &rec));
    const CalibGrid& g = rec.Grid[0];
    ASSERT_EQ(g.LineCount, 5);
    ASSERT_EQ(g.XR.size(), 5u);
    EXPECT_FLOAT_EQ(g.XR[0], 40.0 / 41.0);
    EXPECT_EQ(g.XR[1], 1.0);
    EXPECT_EQ(g.XR[2], 1.25);
    EXPECT_EQ(g.XR[3], 1.0);
    EXPECT_EQ(g.XT[4], 80.0);
    EXPECT_EQ(g.XA[4], 81.0);

    int wanted = 2;
    double none[4];
    WriteText(tmp.Path("e.ucf"), Cal3());
    EXPECT_FALSE(getEqualPnts(&path, 1, &wanted, none));
    EXPECT_EQ(wanted, 0);

    // Without a complete 3 x 3 grid the pairs would not be read back: the
    // call fails and leaves the file alone.
    WriteText(tmp.Path("e.ucf"), "[CalCoefs]\nWorkSize=77\n");
    EXPECT_FALSE(setEqualPnts(&path, 0, 5, pairs));
    EXPECT_EQ(ReadText(tmp.Path("e.ucf")), "[CalCoefs]\nWorkSize=77\n");
}

TEST(UcfExports, BaseParameters) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("b.ucf");
    WriteText(tmp.Path("b.ucf"), "[CalCoefs]\nWorkSize=110\nValSize=70\nTagSize=3\n" + Cal3("LineCount=11\n"));
    double w = 0, v = 0, t = 0;
    int lines = 0;
    ASSERT_TRUE(getBasePara(&path, &w, &v, &t, &lines));
    EXPECT_EQ(w, 110.0);
    EXPECT_EQ(v, 70.0);
    EXPECT_EQ(t, 3.0);
    EXPECT_EQ(lines, 11);
}

TEST(UcfExports, InitCalibKeepsTheHostsMode) {
    TempDir tmp;
    const std::wstring path = tmp.WPath("i.ucf");
    WriteText(tmp.Path("i.ucf"), "[CalCoefs]\ncaltype=2\nWorkSize=90\n" + Cal3());
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
    // Measured sizes equal to the pattern and square axes: nothing changes.
    const double same[9] = {64, 64, 90.0, 64, 64, 64, 64, 64, 64};
    const double cur[9] = {1.0, 1.0, 1.0, 1.0, -1.23456789, 1.0, 100, 100, 64};
    double out[8];
    ASSERT_TRUE(getRecManParas(same, cur, out));
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[2], 1.0);
    EXPECT_EQ(out[4], -1.234567);  // passed through, truncated toward zero to six decimals
    EXPECT_EQ(out[6], 100.0);

    // A field 25 % too wide in x; a 45 degree angle between the axes moves
    // the trapezoid term by one; edges 1 mm apart move the scale by
    // 1 / (2 * 64).
    const double meas[9] = {80, 64, 45.0, 64.5, 64, 63.5, 64, 64, 64};
    ASSERT_TRUE(getRecManParas(meas, cur, out));
    EXPECT_EQ(out[0], 1.25);
    EXPECT_NEAR(out[4], -1.23456789 - 1.0, 1e-5);
    EXPECT_EQ(out[6], 100.007812);
    EXPECT_EQ(out[2], 1.0);  // symmetric edges: no parallelogram change

    const double negative[9] = {-80, 64, 90.0, 64, 64, 64, 64, 64, 64};
    ASSERT_TRUE(getRecManParas(negative, cur, out));
    EXPECT_EQ(out[0], -1.25);

    // Measurements that give no finite answer.
    const double zeroMiddle[9] = {64, 64, 90.0, 64, 0, 64, 64, 64, 64};
    EXPECT_FALSE(getRecManParas(zeroMiddle, cur, out));
    const double zeroAngle[9] = {64, 64, 0.0, 64, 64, 64, 64, 64, 64};
    EXPECT_FALSE(getRecManParas(zeroAngle, cur, out));
}
