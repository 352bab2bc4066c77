// Flattening of GDI+ paths: the polyline stays within the flatness of the
// true curve, uses few points, and leaves straight figures, close flags and
// markers as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "morvik/gdiplus/gdiplus.h"

using namespace Gdiplus;

namespace {

struct D2 {
    double x;
    double y;
};

D2 Cubic(const PointF* p, double t) {
    const double u = 1 - t;
    const double a = u * u * u;
    const double b = 3 * u * u * t;
    const double c = 3 * u * t * t;
    const double d = t * t * t;
    return {a * p[0].X + b * p[1].X + c * p[2].X + d * p[3].X, a * p[0].Y + b * p[1].Y + c * p[2].Y + d * p[3].Y};
}

double SegDist(D2 p, D2 a, D2 b) {
    const double cx = b.x - a.x;
    const double cy = b.y - a.y;
    const double l2 = cx * cx + cy * cy;
    double u = l2 > 0 ? ((p.x - a.x) * cx + (p.y - a.y) * cy) / l2 : 0;
    u = std::clamp(u, 0.0, 1.0);
    return std::hypot(p.x - a.x - u * cx, p.y - a.y - u * cy);
}

double DistToPolyline(D2 p, const std::vector<D2>& line) {
    double best = INFINITY;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        best = std::min(best, SegDist(p, line[i], line[i + 1]));
    }
    if (line.size() == 1) {
        best = std::hypot(p.x - line[0].x, p.y - line[0].y);
    }
    return best;
}

std::vector<D2> Points(const GraphicsPath& path) {
    std::vector<D2> v;
    for (const PointF& p : path.PathPoints()) {
        v.push_back({p.X, p.Y});
    }
    return v;
}

// Flattens the cubic and checks both directions of the distance: dense
// samples of the curve to the polyline within the flatness, and every vertex
// on the curve. Returns the number of points.
size_t CheckCubic(const PointF* c, REAL flatness) {
    GraphicsPath path;
    EXPECT_EQ(path.AddBezier(c[0], c[1], c[2], c[3]), Ok);
    EXPECT_EQ(path.Flatten(nullptr, flatness), Ok);
    const std::vector<D2> line = Points(path);
    EXPECT_GE(line.size(), 2u);
    EXPECT_TRUE(path.PathPoints().front().Equals(c[0]));
    EXPECT_TRUE(path.PathPoints().back().Equals(c[3]));

    constexpr int kDense = 4000;
    std::vector<D2> dense;
    for (int i = 0; i <= kDense; ++i) {
        dense.push_back(Cubic(c, static_cast<double>(i) / kDense));
    }
    double worst = 0;
    for (const D2& p : dense) {
        worst = std::max(worst, DistToPolyline(p, line));
    }
    EXPECT_LE(worst, flatness * (1 + 1e-6)) << "curve leaves the polyline";
    double off = 0;
    for (const D2& v : line) {
        off = std::max(off, DistToPolyline(v, dense));
    }
    EXPECT_LE(off, 1e-3) << "vertex off the curve";
    return line.size();
}

TEST(GdiplusFlatten, RandomCubicsStayWithinFlatness) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> coord(-100.0f, 100.0f);
    for (REAL flatness : {0.25f, 0.01f, 0.001f}) {
        for (int i = 0; i < 60; ++i) {
            PointF c[4];
            for (PointF& p : c) {
                p = PointF(coord(rng), coord(rng));
            }
            CheckCubic(c, flatness);
        }
    }
}

TEST(GdiplusFlatten, AwkwardCubics) {
    // Control points on the chord's line but beyond its ends: the curve runs
    // back and forth along the line, and the perpendicular distance alone
    // would call it straight.
    const PointF overshoot[4] = {{0, 0}, {30, 0}, {-20, 0}, {10, 0}};
    EXPECT_GT(CheckCubic(overshoot, 0.25f), 2u);
    // A loop whose ends coincide.
    const PointF loop[4] = {{0, 0}, {40, 40}, {-40, 40}, {0, 0}};
    CheckCubic(loop, 0.25f);
    // A cusp.
    const PointF cusp[4] = {{0, 0}, {20, 20}, {0, 20}, {20, 0}};
    CheckCubic(cusp, 0.01f);
    // An S-curve and a straight one.
    const PointF s[4] = {{0, 0}, {50, 30}, {50, -30}, {100, 0}};
    CheckCubic(s, 0.01f);
    const PointF straight[4] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    EXPECT_EQ(CheckCubic(straight, 0.25f), 2u);
    // All four points equal.
    const PointF dot[4] = {{5, 5}, {5, 5}, {5, 5}, {5, 5}};
    CheckCubic(dot, 0.25f);
}

TEST(GdiplusFlatten, QuarterCircleNeedsFewPoints) {
    // A quarter circle of radius 100 at flatness 0.25: a chord of angle a
    // deviates by r(1 - cos(a/2)), so no polyline within 0.25 has fewer than
    // ceil((pi/2) / (2 acos(1 - 0.0025))) = 12 chords.
    GraphicsPath path;
    ASSERT_EQ(path.AddArc(-100.0f, -100.0f, 200.0f, 200.0f, 0.0f, 90.0f), Ok);
    ASSERT_EQ(path.Flatten(nullptr, 0.25f), Ok);
    const int chords = path.GetPointCount() - 1;
    EXPECT_GE(chords, 12);
    EXPECT_LE(chords, 15);
    for (const PointF& p : path.PathPoints()) {
        EXPECT_NEAR(std::hypot(p.X, p.Y), 100.0, 0.03);
    }
}

TEST(GdiplusFlatten, StraightFiguresFlagsAndMarkersKept) {
    GraphicsPath path;
    const PointF ring[5] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};  // repeated closing point
    ASSERT_EQ(path.AddLines(ring, 5), Ok);
    path.SetMarker();
    path.CloseFigure();
    path.AddBezier(PointF(20, 0), PointF(20, 20), PointF(40, 20), PointF(40, 0));
    path.SetMarker();
    path.AddLine(PointF(40, 0), PointF(50, 0));
    path.CloseFigure();

    ASSERT_EQ(path.Flatten(nullptr, 0.1f), Ok);
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    ASSERT_GT(pts.size(), 8u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(pts[static_cast<size_t>(i)].Equals(ring[i])) << i;
    }
    EXPECT_EQ(types[0], PathPointTypeStart);
    EXPECT_EQ(types[4], PathPointTypeLine | PathPointTypePathMarker | PathPointTypeCloseSubpath);
    EXPECT_EQ(types[5], PathPointTypeStart);
    // The Bezier's end carries its marker; the line after it ends the closed figure.
    size_t end = 0;
    for (size_t i = 5; i < pts.size(); ++i) {
        EXPECT_NE(types[i] & PathPointTypePathTypeMask, PathPointTypeBezier);
        if (pts[i].Equals(PointF(40, 0))) {
            end = i;
        }
    }
    ASSERT_GT(end, 6u);
    EXPECT_TRUE(types[end] & PathPointTypePathMarker);
    EXPECT_EQ(end + 2, pts.size());
    EXPECT_TRUE(pts.back().Equals(PointF(50, 0)));
    EXPECT_EQ(types.back(), PathPointTypeLine | PathPointTypeCloseSubpath);
    // Flattening again changes nothing.
    const GraphicsPath once = path;
    path.Flatten(nullptr, 0.1f);
    EXPECT_EQ(path.PathTypes(), once.PathTypes());
    ASSERT_EQ(path.GetPointCount(), once.GetPointCount());
}

TEST(GdiplusFlatten, MatrixAppliesBeforeFlattening) {
    // Scaled by 10, a curve needs a finer polyline than the original would.
    GraphicsPath small;
    small.AddArc(-1.0f, -1.0f, 2.0f, 2.0f, 0.0f, 180.0f);
    GraphicsPath big = small;
    Matrix m;
    m.Scale(10, 10);
    ASSERT_EQ(big.Flatten(&m, 0.01f), Ok);
    small.Flatten(nullptr, 0.01f);
    EXPECT_GT(big.GetPointCount(), small.GetPointCount());
    for (const PointF& p : big.PathPoints()) {
        EXPECT_NEAR(std::hypot(p.X, p.Y), 10.0, 0.011);
    }
}

TEST(GdiplusFlatten, BadInputEndsAndStaysBounded) {
    const float inf = INFINITY;
    const float nan = NAN;
    GraphicsPath path;
    path.AddBezier(PointF(0, 0), PointF(nan, 1), PointF(2, inf), PointF(3, 3));
    path.StartFigure();
    path.AddBezier(PointF(-1e30f, 0), PointF(1e30f, 1e30f), PointF(-1e30f, -1e30f), PointF(1e30f, 0));
    ASSERT_EQ(path.Flatten(nullptr, 0.25f), Ok);
    EXPECT_LE(path.GetPointCount(), 2 * 8192 + 16);

    GraphicsPath tiny;
    tiny.AddBezier(PointF(0, 0), PointF(0, 100), PointF(100, 100), PointF(100, 0));
    EXPECT_EQ(tiny.Flatten(nullptr, -1.0f), InvalidParameter);
    EXPECT_EQ(tiny.Flatten(nullptr, nan), InvalidParameter);
    EXPECT_EQ(tiny.GetPointCount(), 4);
    ASSERT_EQ(tiny.Flatten(nullptr, 0.0f), Ok);  // raised to the smallest flatness
    EXPECT_LE(tiny.GetPointCount(), 2 * 8192 + 2);
}

}  // namespace
