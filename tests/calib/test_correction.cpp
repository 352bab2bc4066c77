// Point correction: grid and manual modes, the millimetre pre-correction,
// the cell search, and a whole distorted field corrected end to end.
#include "calib_test_util.h"
#include "reference_correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <random>

using namespace calibtest;

namespace {

constexpr double kS = 65535.0 / 100.0;  // units per mm at the default working size

Vec2 Out(const CalibParam& rec, double x, double y) {
    double out[2] = {-1, -1};
    EXPECT_TRUE(CalibPoint(&rec, x, y, out));
    return {out[0], out[1]};
}

// A record whose 3 x 3 grid is perfect and whose slot `slot` is measured
// `shift` away from its nominal lattice.
CalibParam ShiftedSlot(int slot, int size, Vec2 shift, int order) {
    CalibParam rec;
    rec.Grid[0].Points = Lattice(3, 80, Exact);
    rec.Grid[slot].GridSize = size;
    rec.Grid[slot].Points = Lattice(size, 80, [&](Vec2 p) { return Vec2{p.x + shift.x, p.y + shift.y}; });
    rec.order = order;
    EXPECT_TRUE(getCalibCoefs(&rec));
    return rec;
}

}  // namespace

TEST(Correction, NeutralRecordsAndTheGalvanometerRange) {
    for (int mode : {2, 1}) {
        SCOPED_TRACE(mode);
        CalibParam rec;
        rec.caltype = mode;
        ASSERT_TRUE(getCalibCoefs(&rec));
        const Vec2 o = Out(rec, 0, 0);
        EXPECT_EQ(o.x, 32768.0);
        EXPECT_EQ(o.y, 32768.0);
        const Vec2 q = Out(rec, 10, -20);
        EXPECT_NEAR(q.x, 32768.0 + 10 * kS, 1e-9);
        EXPECT_NEAR(q.y, 32768.0 - 20 * kS, 1e-9);
        // One working size off centre is past full scale; far left is 0.
        EXPECT_EQ(Out(rec, rec.WorkSize, 0).x, 65535.0);
        EXPECT_EQ(Out(rec, -1e6, 0).x, 0.0);
        EXPECT_EQ(Out(rec, 0, 1e6).y, 65535.0);
    }
}

TEST(Correction, ManualParameters) {
    CalibParam rec;
    rec.caltype = 1;
    const auto with = [&](int i, double v, double x, double y) {
        CalibParam r = rec;
        r.ManualPara[i] = v;
        return Out(r, x, y);
    };
    // Barrel factors are held within 0.8 to 1.2.
    EXPECT_EQ(with(0, 1.5, 30, 40).x, with(0, 1.2, 30, 40).x);
    EXPECT_NE(with(0, 1.1, 30, 40).x, with(0, 1.2, 30, 40).x);
    EXPECT_EQ(with(1, 0.5, 30, 40).y, with(1, 0.8, 30, 40).y);
    // Scale in percent; parallelogram shifts x by (1 - p) y; trapezoid takes
    // (1 - t) x y 2 / WorkSize off x.
    EXPECT_NEAR(with(6, 50.0, 10, 0).x, 32768.0 + 5 * kS, 1e-9);
    EXPECT_NEAR(with(2, 0.9, 0, 10).x, 32768.0 - 1 * kS, 1e-9);
    EXPECT_NEAR(with(4, 0.9, 10, 10).x, 32768.0 + 9.8 * kS, 1e-9);

    // Every parameter at once, each axis its own value, at points in all four
    // quadrants, against the formula worked here step by step.
    const double sets[][8] = {{1.13, 0.91, 0.97, 1.04, 0.93, 1.06, 98.5, 101.75},
                              {0.86, 1.17, 1.02, 0.95, 1.07, 0.96, 103.0, 97.25},
                              {1.31, 0.62, 1.0, 1.0, 0.88, 1.09, 100.0, 99.0}};  // barrels held at 1.2, 0.8
    for (const auto& m : sets) {
        CalibParam r;
        r.caltype = 1;
        r.WorkSize = 110.0;
        std::copy(m, m + 8, r.ManualPara);
        for (const Vec2 q : {Vec2{31.5, 17.25}, Vec2{-22.0, 38.5}, Vec2{-41.75, -12.5}, Vec2{9.5, -44.0}}) {
            const double W = r.WorkSize, k = 65535.0 / W;
            const double barrelX = std::clamp(m[0] - 1, -0.2, 0.2), barrelY = std::clamp(m[1] - 1, -0.2, 0.2);
            const double sx = q.x * m[6] / 100, sy = q.y * m[7] / 100;
            const double py = sy - (1 - m[3]) * sx, px = sx - (1 - m[2]) * sy;
            const double tx = (px - (1 - m[4]) * py * px * 2 / W) * k;
            const double ty = (py - (1 - m[5]) * px * py * 2 / W) * k;
            const double gx = tx * (1 + barrelX * ty * ty / 1073741824.0);
            const double gy = ty * (1 + barrelY * tx * tx / 1073741824.0);
            const Vec2 o = Out(r, q.x, q.y);
            EXPECT_NEAR(o.x, 32768.0 + gx, 1e-7) << q.x << "," << q.y << " set " << m[0];
            EXPECT_NEAR(o.y, 32768.0 + gy, 1e-7) << q.x << "," << q.y << " set " << m[0];
        }
    }

    // Factor tables, looked up on the axis the host's options give.
    rec.TableOn = 1;
    rec.TableXPos = {-50, 0, 50};
    rec.TableXFactor = {1.2, 1.0, 0.8};
    EXPECT_NEAR(Out(rec, 25, 5).x, 32768.0 + 25 * kS * 0.9, 1e-9);
    EXPECT_NEAR(Out(rec, 25, 5).y, 32768.0 + 5 * kS, 1e-9);  // no y table: factor 1
    rec.InvertX = 1;
    EXPECT_NEAR(Out(rec, 25, 5).x, 32768.0 + 25 * kS * 1.1, 1e-9);
}

TEST(Correction, GridSlotsTakePartUpToTheOrder) {
    const Vec2 shift{0.5, -0.25};
    EXPECT_NEAR(Out(ShiftedSlot(1, 5, shift, 3), 10, 10).x, 32768.0 + 10 * kS, 1e-9);
    const Vec2 o = Out(ShiftedSlot(1, 5, shift, 5), 10, 10);
    EXPECT_NEAR(o.x, 32768.0 + (10 - 0.5) * kS, 1e-6);
    EXPECT_NEAR(o.y, 32768.0 + (10 + 0.25) * kS, 1e-6);
    // The 25 x 25 slot needs an order of 25, however it sits among the slots.
    EXPECT_NEAR(Out(ShiftedSlot(6, 25, shift, 17), 10, 10).x, 32768.0 + 10 * kS, 1e-9);
    EXPECT_NEAR(Out(ShiftedSlot(6, 25, shift, 25), 10, 10).x, 32768.0 + (10 - 0.5) * kS, 1e-6);
    // Offsets under 0.001 mm are ignored.
    EXPECT_NEAR(Out(ShiftedSlot(1, 5, {0.0009, 0}, 5), 10, 10).x, 32768.0 + 10 * kS, 1e-9);
    EXPECT_NEAR(Out(ShiftedSlot(1, 5, {0.0011, 0}, 5), 10, 10).x, 32768.0 + (10 - 0.0011) * kS, 1e-6);
    // Points beyond the pattern take the offset at its edge.
    EXPECT_NEAR(Out(ShiftedSlot(1, 5, shift, 5), 45, 0).x, 32768.0 + (45 - 0.5) * kS, 1e-6);
}

TEST(Correction, EachSidesTrapezoidIsTakenOut) {
    // One edge of the field leaning out by 2 % at the corners, the other
    // three true; the 3 x 3 grid alone brings the marks on that side back to
    // their nominal places (the model's first-order inverse leaves 0.02 mm).
    // A trapezoid term of the wrong sign doubles the error instead.
    const double a = 0.02 / 40.0;
    const std::function<Vec2(Vec2)> sides[4] = {
        [&](Vec2 p) { return Vec2{p.x > 0 ? p.x * (1 + a * p.y) : p.x, p.y}; },  // right
        [&](Vec2 p) { return Vec2{p.x < 0 ? p.x * (1 + a * p.y) : p.x, p.y}; },  // left
        [&](Vec2 p) { return Vec2{p.x, p.y > 0 ? p.y * (1 + a * p.x) : p.y}; },  // top
        [&](Vec2 p) { return Vec2{p.x, p.y < 0 ? p.y * (1 + a * p.x) : p.y}; },  // bottom
    };
    for (int side = 0; side < 4; ++side) {
        SCOPED_TRACE(side);
        const auto& field = sides[side];
        CalibParam rec;
        rec.Grid[0].Points = Lattice(3, 80, field);
        ASSERT_TRUE(getCalibCoefs(&rec));
        double worst = 0, uncorrected = 0;
        for (const CalibGridPoint& q : Lattice(9, 80, Exact)) {
            const Vec2 p{q.NomX, q.NomY}, l = field(CommandMm(rec, p.x, p.y));
            worst = std::max(worst, std::hypot(l.x - p.x, l.y - p.y));
            uncorrected = std::max(uncorrected, std::hypot(field(p).x - p.x, field(p).y - p.y));
        }
        EXPECT_NEAR(uncorrected, 0.8, 1e-9);
        EXPECT_LT(worst, 0.03);
    }
}

TEST(Correction, AxisOptionsApplyToTheGridOffsets) {
    // The grids are measured on the galvanometer's axes: an inverted axis
    // looks its offset up mirrored and gives it back mirrored.
    CalibParam rec = ShiftedSlot(1, 5, {0.5, 0}, 5);
    rec.InvertX = 1;
    EXPECT_NEAR(Out(rec, 10, 10).x, 32768.0 + (10 + 0.5) * kS, 1e-6);
    rec = ShiftedSlot(1, 5, {0, 0.5}, 5);
    rec.SwapXY = 1;
    rec.InvertX = 1;
    EXPECT_NEAR(Out(rec, 10, 10).y, 32768.0 + (10 + 0.5) * kS, 1e-6);
    rec.InvertX = 0;
    EXPECT_NEAR(Out(rec, 10, 10).y, 32768.0 + (10 - 0.5) * kS, 1e-6);
}

TEST(Correction, EqualSpacingTables) {
    CalibParam rec;
    rec.Grid[0].Points = Lattice(3, 80, Exact);
    ASSERT_TRUE(getCalibCoefs(&rec));
    rec.Grid[0].XT = {-50, 0, 50};
    rec.Grid[0].XR = {1.1, 1.0, 0.9};
    EXPECT_NEAR(Out(rec, 25, 5).x, 32768.0 + 25 * kS, 1e-9);  // tables off
    rec.Grid[0].grid = 1;
    EXPECT_NEAR(Out(rec, 25, 5).x, 32768.0 + 25 * kS * 0.95, 1e-9);
    EXPECT_NEAR(Out(rec, -40, 5).x, 32768.0 - 40 * kS * 1.08, 1e-9);
    EXPECT_NEAR(Out(rec, 25, 5).y, 32768.0 + 5 * kS, 1e-9);
}

TEST(Correction, PreCorrectionInMillimetres) {
    CalibParam rec;
    rec.Grid[0].Points = Lattice(3, 80, Exact);
    ASSERT_TRUE(getCalibCoefs(&rec));
    double out[2];
    ASSERT_TRUE(preCalibPoint(&rec, 12.5, -30, out));
    EXPECT_EQ(out[0], 12.5);
    EXPECT_EQ(out[1], -30.0);
    // The right half 10 % short: a factor growing to 1.05 at the edge, and 1
    // within a millimetre of the axis.
    rec.Grid[0].SXR = 1.1;
    ASSERT_TRUE(preCalibPoint(&rec, 40, 0.5, out));
    EXPECT_DOUBLE_EQ(out[0], 42.0);
    EXPECT_EQ(out[1], 0.5);
    ASSERT_TRUE(preCalibPoint(&rec, 0.5, 0.5, out));
    EXPECT_EQ(out[0], 0.5);
    // Each side's trapezoid term, t x y / ValSize, drawn toward the axis.
    rec.Grid[0].SXR = 1.0;
    rec.Grid[0].TXR = 0.1;
    rec.Grid[0].TXL = 0.2;
    rec.Grid[0].TYT = 0.05;
    rec.Grid[0].TYB = 0.3;
    ASSERT_TRUE(preCalibPoint(&rec, 40, 40, out));
    EXPECT_DOUBLE_EQ(out[0], 38.0);
    EXPECT_DOUBLE_EQ(out[1], 39.0);
    ASSERT_TRUE(preCalibPoint(&rec, -40, -20, out));
    EXPECT_DOUBLE_EQ(out[0], -38.0);
    EXPECT_DOUBLE_EQ(out[1], -17.0);

    // Every side its own scale and trapezoid, with a shear, against the
    // formula worked here: side factor 1 + |d| (S - 1) / V past a millimetre
    // from the axis, trapezoid t x y / V drawn toward the axis.
    CalibGrid& g = rec.Grid[0];
    g.SXL = 0.92, g.SXR = 1.13, g.SYT = 1.05, g.SYB = 0.97;
    g.TXL = 0.021, g.TXR = -0.034, g.TYT = 0.017, g.TYB = 0.043, g.PLX = 0.0125;
    const double V = rec.ValSize;
    for (const Vec2 q : {Vec2{33.5, 21.25}, Vec2{-27.0, 36.5}, Vec2{-38.25, -14.5}, Vec2{11.5, -41.0},
                         Vec2{0.8, 30.0}, Vec2{-35.0, 0.6}}) {
        const double xs = q.x - 0.0125 * q.y;
        const double side = xs < -1 ? 1 + -xs * (0.92 - 1) / V : (xs > 1 ? 1 + xs * (1.13 - 1) / V : 1.0);
        const double up = q.y < -1 ? 1 + -q.y * (0.97 - 1) / V : (q.y > 1 ? 1 + q.y * (1.05 - 1) / V : 1.0);
        const double X = xs < 0 ? xs + 0.021 * q.y * xs / V : xs - -0.034 * q.y * xs / V;
        const double Y = q.y < 0 ? q.y + 0.043 * xs * q.y / V : q.y - 0.017 * xs * q.y / V;
        ASSERT_TRUE(preCalibPoint(&rec, q.x, q.y, out));
        EXPECT_NEAR(out[0], X * side, 1e-12) << q.x << "," << q.y;
        EXPECT_NEAR(out[1], Y * up, 1e-12) << q.x << "," << q.y;
    }
}

TEST(Correction, BrokenRecordsGiveTheCentreAndFalse) {
    double out[2];
    CalibParam rec;
    rec.WorkSize = 0;
    EXPECT_FALSE(CalibPoint(&rec, 1, 1, out));
    EXPECT_EQ(out[0], 32768.0);
    rec.caltype = 1;
    EXPECT_FALSE(CalibPoint(&rec, 1, 1, out));
    rec = CalibParam();
    EXPECT_FALSE(CalibPoint(&rec, NAN, 1, out));
    EXPECT_EQ(out[1], 32768.0);
    // A grid with no pattern size contributes nothing rather than NaN.
    rec = ShiftedSlot(1, 5, {0.5, 0}, 5);
    rec.ValSize = 0;
    EXPECT_TRUE(CalibPoint(&rec, 3, 3, out));
    EXPECT_NEAR(out[0], 32768.0 + 3 * kS, 1e-9);
    // Through a slot with a lattice: a NaN or an infinity is no position
    // (false, the centre); a huge finite one ends within the galvanometer
    // range.
    rec = ShiftedSlot(1, 5, {0.5, 0}, 5);
    for (const double bad : {double(NAN), double(INFINITY), -double(INFINITY), DBL_MAX, -DBL_MAX}) {
        for (const bool onX : {true, false}) {
            const bool ok = CalibPoint(&rec, onX ? bad : 2.5, onX ? -1.5 : bad, out);
            EXPECT_EQ(ok, std::isfinite(bad)) << bad << onX;
            for (const double v : out) {
                EXPECT_TRUE(v >= 0.0 && v <= 65535.0) << bad << onX;
            }
            if (!ok) {
                EXPECT_EQ(out[0], 32768.0);
            }
        }
    }
}

TEST(Correction, CellSearchMatchesTheScan) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};

    // Column positions: 0 a uniform lattice, 1 uneven with repeated lines,
    // 2 nominal points off their lattice, 3 columns in falling order.
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        CalibParam rec;
        rec.order = 65;
        rec.Grid[0].Points = Lattice(3, 80, Exact);
        std::vector<double> probes = {-45, -40, 0, 40, 45, 1e-300, -0.0};
        for (int slot = 1; slot < 7; ++slot) {
            const int f = sizes[slot];
            std::vector<double> xs(f), ys(f);
            for (int i = 0; i < f; ++i) xs[i] = ys[i] = -40 + 80.0 * i / (f - 1);
            if (kind == 1) {
                std::uniform_real_distribution<double> any(-40, 40);
                for (int i = 1; i + 1 < f; ++i) xs[i] = ys[i] = any(rng);
                for (int i = 1; i + 1 < f; i += 4) xs[i + 1] = xs[i], ys[i + 1] = ys[i];
                std::sort(xs.begin(), xs.end());
                std::sort(ys.begin(), ys.end());
            }
            if (kind == 3) std::reverse(xs.begin(), xs.end());
            CalibGrid& g = rec.Grid[slot];
            g.GridSize = f;
            for (int r = 0; r < f; ++r)
                for (int c = 0; c < f; ++c) {
                    const double nx = xs[c] + (kind == 2 ? jitter(rng) : 0.0);
                    const double ny = ys[f - 1 - r] + (kind == 2 ? jitter(rng) : 0.0);
                    g.Points.push_back({nx, ny, nx + jitter(rng), ny + jitter(rng)});
                }
            probes.insert(probes.end(), xs.begin(), xs.end());
        }
        ASSERT_TRUE(getCalibCoefs(&rec));
        for (int slot = 1; slot < 7; ++slot) EXPECT_EQ(rec.Grid[slot].Index.rectilinear, kind < 2 ? 1 : 0);

        CalibParam scan = rec;
        for (CalibGrid& g : scan.Grid) g.Index = CalibGridIndex{};
        std::uniform_real_distribution<double> anywhere(-50, 50);
        std::uniform_int_distribution<std::size_t> pick(0, probes.size() - 1);
        for (int i = 0; i < 4000; ++i) {
            // Half the points exactly on grid lines and corners, where cells
            // share their borders and the first one must win.
            const double x = i % 2 ? anywhere(rng) : probes[pick(rng)];
            const double y = i % 4 < 2 ? anywhere(rng) : probes[pick(rng)];
            const Vec2 a = Out(rec, x, y), b = Out(scan, x, y);
            ASSERT_EQ(a.x, b.x) << x << "," << y;
            ASSERT_EQ(a.y, b.y) << x << "," << y;
        }
    }
}

TEST(Correction, DistortedFieldLandsOnItsNominalPositions) {
    // How the scanner misplaces a command c (in mm): barrel, trapezoid,
    // shear and offset together, up to about 0.7 mm at the corners.
    const auto field = [](Vec2 c) {
        const double barrel = 1.0 + 4e-6 * (c.x * c.x + c.y * c.y);
        double x = c.x * barrel, y = c.y * barrel;
        x *= 1.0 + 0.002 * y / 40.0;
        x += 0.004 * y;
        return Vec2{x + 0.3, y - 0.2};
    };
    const double kTolerance = 0.005;  // mm

    TempDir tmp;
    const std::wstring path = tmp.WPath("field.ucf");
    {
        // Step 1: the 3 x 3 pattern marked without correction and measured.
        CalibParam rec;
        rec.WorkSize = 100;
        rec.ValSize = 80;
        rec.Grid[0].Points = Lattice(3, 80, field);
        ASSERT_TRUE(saveUcf(&path, &rec));
    }
    CalibParam rec;
    ASSERT_TRUE(InitCalib(&path, &rec));
    const auto landing = [&](double x, double y) { return field(CommandMm(rec, x, y)); };
    const auto worst = [&](const std::vector<Vec2>& pts) {
        double e = 0;
        for (Vec2 p : pts) {
            const Vec2 l = landing(p.x, p.y);
            e = std::max(e, std::hypot(l.x - p.x, l.y - p.y));
        }
        return e;
    };
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> inField(-40, 40);
    std::vector<Vec2> probes;
    for (int i = 0; i < 400; ++i) probes.push_back({inField(rng), inField(rng)});
    for (const CalibGridPoint& p : Lattice(9, 80, Exact)) probes.push_back({p.NomX, p.NomY});

    double uncorrected = 0;
    for (Vec2 p : probes) uncorrected = std::max(uncorrected, std::hypot(field(p).x - p.x, field(p).y - p.y));
    const double coarse = worst(probes);

    // Steps 2 and 3: a 9 x 9 pattern marked through the correction so far and
    // measured, then a 17 x 17 pattern the same way; each is stored in the
    // file, which is loaded again. The finer grid takes out what the
    // first-order offsets of the coarser one leave.
    const auto refine = [&](int slot, int size) {
        std::vector<double> pts;
        for (const CalibGridPoint& p : Lattice(size, 80, Exact)) {
            const Vec2 l = landing(p.NomX, p.NomY);
            pts.insert(pts.end(), {p.NomX, p.NomY, l.x, l.y});
        }
        ASSERT_TRUE(setCalibPnts(&path, slot, pts.data()));
        ASSERT_TRUE(InitCalib(&path, &rec));
        ASSERT_EQ(rec.order, size);
    };
    refine(2, 9);
    const double medium = worst(probes);
    refine(3, 17);
    const double corrected = worst(probes);

    EXPECT_GT(uncorrected, 0.5);
    EXPECT_LT(coarse, uncorrected);
    EXPECT_LT(medium, coarse);
    EXPECT_LT(corrected, kTolerance) << "uncorrected " << uncorrected << ", 3 x 3 " << coarse << ", 9 x 9 "
                                     << medium;
}

TEST(Correction, AgreesWithTheFirstFormula) {
    // Every slot full, measured with a smooth error plus noise; some records
    // with a pattern size that differs from the lattice's, uneven columns,
    // folded or collapsed cells, and the host's axis options and tables.
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int sizes[7] = {3, 5, 9, 17, 33, 65, 25};
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        CalibParam rec;
        rec.order = trial % 4 == 3 ? 17 : 65;
        // A pattern wider than the lattice leaves points beyond its last lines.
        rec.ValSize = trial % 3 == 1 ? 70.0 : trial % 6 == 0 ? 90.0 : 80.0;
        rec.SwapXY = trial % 5 == 2;
        rec.InvertX = trial % 2;
        rec.InvertY = trial % 7 == 3;
        const double noise = trial < 6 ? 0.02 : 0.4;
        const auto field = [&](Vec2 p) {
            const double b = 1.0 + 3e-6 * (p.x * p.x + p.y * p.y);
            return Vec2{p.x * b + 0.003 * p.y + 0.2 + noise * (unit(rng) - 0.5),
                        p.y * b * (1.0 + 0.001 * p.x / 40.0) - 0.1 + noise * (unit(rng) - 0.5)};
        };
        rec.Grid[0].Points = Lattice(3, 80, field);
        for (int slot = 1; slot < 7; ++slot) {
            CalibGrid& g = rec.Grid[slot];
            g.GridSize = sizes[slot];
            g.Points = Lattice(sizes[slot], 80, field);
        }
        if (trial % 4 == 1) {
            // Uneven columns and rows: the second lattice line sits next to the first.
            for (int slot = 1; slot < 7; ++slot) {
                const int f = sizes[slot];
                for (int i = 0; i < f; ++i) {
                    rec.Grid[slot].Points[i * f + 1].NomX = -39.9;
                    rec.Grid[slot].Points[f + i].NomY = 39.9;
                }
            }
        }
        if (trial % 3 == 2) {
            // A collapsed and a folded cell.
            CalibGrid& g = rec.Grid[2];
            g.Points[10].MeasY = g.Points[19].MeasY;
            g.Points[30].MeasX = g.Points[31].MeasX + 1.5;
        }
        if (trial == 5) {
            rec.Grid[0].grid = 1;
            rec.Grid[0].XT = {-50, 0, 50};
            rec.Grid[0].XR = {1.01, 1.0, 0.99};
        }
        ASSERT_TRUE(getCalibCoefs(&rec));
        if (trial == 7) rec.ValSize = 75.0;  // a pattern size the cells were not prepared for
        // Points the host edits in place after the fit: a point of the 5 x 5
        // grid measured 1 mm off, one of the 65 x 65 grid set back to nominal,
        // a cell of the 17 x 17 grid folded, the centre of the 9 x 9 grid
        // moved nominally. The correction follows the record as it stands.
        std::vector<Vec2> edited;
        if (trial % 2 == 0) {
            const auto edit = [&](int slot, int i, const std::function<void(CalibGridPoint&)>& how) {
                CalibGridPoint& q = rec.Grid[slot].Points[static_cast<std::size_t>(i)];
                edited.push_back({q.NomX, q.NomY});
                how(q);
            };
            edit(1, 7 + trial / 2, [](CalibGridPoint& q) { q.MeasX += 1.0; });
            edit(5, 2011 + 13 * trial, [](CalibGridPoint& q) { q.MeasX = q.NomX, q.MeasY = q.NomY; });
            edit(3, 100, [&](CalibGridPoint& q) { q.MeasX = rec.Grid[3].Points[101].MeasX + 1.0; });
            edit(2, 40, [](CalibGridPoint& q) { q.NomY += 0.3; });
        }
        CalibParam scan = rec;
        for (CalibGrid& g : scan.Grid) g.Index = CalibGridIndex{};

        std::uniform_real_distribution<double> anywhere(-45, 45);
        for (int i = 0; i < 5000; ++i) {
            double x = anywhere(rng), y = anywhere(rng);
            if (i % 8 == 0) x = -40 + 80.0 * std::floor(unit(rng) * 65) / 64;  // on lattice lines
            if (i % 16 == 1) y = 40 - 80.0 * std::floor(unit(rng) * 33) / 32;
            if (i % 4 == 3 && !edited.empty()) {  // next to an edited point
                const Vec2 e = edited[static_cast<std::size_t>(i / 4) % edited.size()];
                x = e.x + 3 * (unit(rng) - 0.5);
                y = e.y + 3 * (unit(rng) - 0.5);
            }
            double want[2], got[2], slow[2];
            const bool ok = calibref::CalibPointByGrid(rec, x, y, want);
            ASSERT_EQ(CalibPoint(&rec, x, y, got), ok);
            ASSERT_EQ(CalibPoint(&scan, x, y, slow), ok);
            ASSERT_NEAR(got[0], want[0], 1e-6) << x << "," << y;
            ASSERT_NEAR(got[1], want[1], 1e-6) << x << "," << y;
            ASSERT_NEAR(slow[0], want[0], 1e-6) << x << "," << y;
            ASSERT_NEAR(slow[1], want[1], 1e-6) << x << "," << y;
        }
    }
}
