// The fit of the 3 x 3 grid's field model.
#include "calib_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace calibtest;

namespace {

constexpr double kHalfPi = std::numbers::pi / 2;

CalibParam Fitted(const std::vector<CalibGridPoint>& pts, double valSize = 80.0) {
    CalibParam rec;
    rec.ValSize = valSize;
    rec.Grid[0].Points = pts;
    EXPECT_TRUE(getCalibCoefs(&rec));
    return rec;
}

Vec2 Rotate(Vec2 p, double a) {
    return {p.x * std::cos(a) - p.y * std::sin(a), p.x * std::sin(a) + p.y * std::cos(a)};
}

// Point index of the 3 x 3 grid: row-major from the top left.
enum { TL, T, TR, L, C, R, BL, B, BR };

}  // namespace

TEST(Fit, PerfectGridIsNeutral) {
    const CalibParam rec = Fitted(Lattice(3, 80, Exact));
    const CalibGrid& g = rec.Grid[0];
    EXPECT_EQ(g.AxisXL, 40.0);
    EXPECT_EQ(g.AxisXR, 40.0);
    EXPECT_EQ(g.AxisYT, 40.0);
    EXPECT_EQ(g.AxisYB, 40.0);
    EXPECT_EQ(g.OX, 0.0);
    EXPECT_EQ(g.OY, 0.0);
    for (double v : {g.SXL, g.SXR, g.SX, g.SYT, g.SYB, g.SY, g.k[0], g.k[1]}) EXPECT_EQ(v, 1.0);
    for (double v : {g.TXL, g.TXR, g.TYT, g.TYB, g.PLX, g.PLY, g.k[2], g.k[3]}) EXPECT_EQ(v, 0.0);
    // Middle row and column at right angles.
    EXPECT_DOUBLE_EQ(g.Y2XAngle, kHalfPi);
}

TEST(Fit, ScaleOffsetTrapezoidAndShearFromKnownFields) {
    // 5 % too large and shifted 1 mm right: half-widths, offset and scales.
    CalibParam rec = Fitted(Lattice(3, 80, [](Vec2 p) { return Vec2{p.x * 1.05 + 1.0, p.y * 1.05}; }));
    CalibGrid* g = &rec.Grid[0];
    EXPECT_DOUBLE_EQ(g->AxisXL, 41.0);
    EXPECT_DOUBLE_EQ(g->AxisXR, 43.0);
    EXPECT_DOUBLE_EQ(g->OX, 1.0);
    EXPECT_DOUBLE_EQ(g->SXL, 80.0 / 82.0);
    EXPECT_DOUBLE_EQ(g->SX, 80.0 / 84.0);
    EXPECT_DOUBLE_EQ(g->SY, 80.0 / 84.0);

    // Right edge leaning out toward the top: its slope dx/dy.
    rec = Fitted(Lattice(3, 80, [](Vec2 p) { return Vec2{p.x > 0 ? p.x + 0.01 * p.y : p.x, p.y}; }));
    EXPECT_NEAR(rec.Grid[0].TXR, 0.01, 1e-12);
    EXPECT_NEAR(rec.Grid[0].TXL, 0.0, 1e-12);

    // x shifted by 0.01 y: the measured column leans by 0.01 and the shear
    // takes it out.
    rec = Fitted(Lattice(3, 80, [](Vec2 p) { return Vec2{p.x + 0.01 * p.y, p.y}; }));
    EXPECT_NEAR(rec.Grid[0].PLX, 0.01, 1e-9);
    EXPECT_EQ(rec.Grid[0].PLY, rec.Grid[0].PLX);
    // Commanded left by the shear so that the marks land where asked, the
    // corners as well as the middle of the top edge.
    for (Vec2 p : {Vec2{0, 40}, Vec2{40, 40}, Vec2{-40, 40}, Vec2{-40, -40}, Vec2{25, -10}}) {
        const Vec2 cmd = CommandMm(rec, p.x, p.y);
        EXPECT_NEAR(cmd.x + 0.01 * cmd.y, p.x, 1e-6) << p.x << "," << p.y;
        EXPECT_NEAR(cmd.y, p.y, 1e-6);
    }
}

TEST(Fit, ExactlyVerticalColumnGivesSmallShear) {
    // Row tilted by 0.02 mm over 80 mm, middle column typed exactly vertical.
    auto pts = Lattice(3, 80, Exact);
    pts[L].MeasY = -0.01;
    pts[R].MeasY = 0.01;
    const CalibParam vertical = Fitted(pts);
    // The same field with the column a hair off vertical.
    pts[T].MeasX = 1e-9;
    pts[B].MeasX = -1e-9;
    const CalibParam leaning = Fitted(pts);

    const double tilt = 0.02 / 80.0;
    EXPECT_NEAR(std::fabs(vertical.Grid[0].PLX), tilt, 1e-7);
    EXPECT_NEAR(vertical.Grid[0].PLX, leaning.Grid[0].PLX, 1e-7);
    // And the correction stays in the field.
    const Vec2 cmd = CommandMm(vertical, 30.0, 30.0);
    EXPECT_NEAR(cmd.x, 30.0, 0.05);
    EXPECT_NEAR(cmd.y, 30.0, 0.05);
}

TEST(Fit, BentRowWithStraightColumnDeskews) {
    // The whole pattern turned by 0.01 rad and shifted 0.5 mm up, then the
    // middle row bent upward.
    const double turn = 0.01;
    auto pts = Lattice(3, 80, [&](Vec2 p) {
        const Vec2 r = Rotate(p, turn);
        return Vec2{r.x, r.y + 0.5};
    });
    pts[L].MeasY += 0.5;
    pts[R].MeasY += 0.5;
    const CalibGrid g = Fitted(pts).Grid[0];
    // Turned back about the centre, by a small angle rather than half a
    // turn, the straight column stands upright above and below the shifted
    // centre (39.998 and 40.498 without the deskew).
    EXPECT_NEAR(g.AxisYT, 40.5, 1e-9);
    EXPECT_NEAR(g.AxisYB, 39.5, 1e-9);
    EXPECT_NEAR(g.OY, 0.5, 1e-9);
    EXPECT_NEAR(g.AxisXL, 40.0 - 0.5 * std::sin(turn), 1e-9);
}

TEST(Fit, IncompleteGridResets) {
    CalibParam rec;
    rec.ValSize = 70.0;
    CalibGrid& g = rec.Grid[0];
    g.Points = Lattice(3, 70, [](Vec2 p) { return Vec2{p.x * 1.1, p.y}; });
    g.Points.pop_back();
    g.SX = 2.0;
    g.PLX = 0.5;
    g.TXL = 0.25;
    g.k[2] = 3.0;
    ASSERT_TRUE(getCalibCoefs(&rec));
    EXPECT_EQ(g.AxisXL, 35.0);
    EXPECT_EQ(g.AxisYB, 35.0);
    EXPECT_EQ(g.SXL, 1.0);
    EXPECT_EQ(g.TXL, 0.0);
    EXPECT_EQ(g.k[0], 1.0);
    EXPECT_EQ(g.k[2], 0.0);
    EXPECT_EQ(g.k[3], 0.0);
    EXPECT_EQ(g.SX, 2.0);  // kept
    EXPECT_EQ(g.PLX, 0.5);
}

TEST(Fit, DegenerateFieldsGiveNeutralValues) {
    // Left end of the middle row on the centre line: no left half-width.
    auto pts = Lattice(3, 80, Exact);
    pts[L].MeasX = 0.0;
    CalibParam rec = Fitted(pts);
    EXPECT_EQ(rec.Grid[0].AxisXL, 0.0);
    EXPECT_EQ(rec.Grid[0].SXL, 1.0);
    EXPECT_DOUBLE_EQ(rec.Grid[0].SX, 2.0);
    double out[2];
    EXPECT_TRUE(CalibPoint(&rec, -20.0, 10.0, out));
    EXPECT_TRUE(std::isfinite(out[0]) && std::isfinite(out[1]));

    // Every point measured on the y axis: no half-widths and nothing for the
    // cubic terms to fit.
    rec = Fitted(Lattice(3, 80, [](Vec2 p) { return Vec2{0.0, p.y}; }));
    const CalibGrid& g = rec.Grid[0];
    for (double v : {g.SXL, g.SXR, g.SX}) EXPECT_EQ(v, 1.0);
    EXPECT_EQ(g.k[2], 0.0);
    EXPECT_EQ(g.k[3], 0.0);
    for (double v : {g.PLX, g.TXL, g.TXR, g.TYT, g.TYB, g.Y2XAngle}) EXPECT_TRUE(std::isfinite(v));
    EXPECT_TRUE(CalibPoint(&rec, 12.0, -7.0, out));
}
