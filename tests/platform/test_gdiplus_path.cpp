// GDI+ paths and matrices: figure building, arcs and ellipses, bounds,
// transforms, reversal, fill and outline hit tests, and the iterator.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "morvik/gdiplus/gdiplus.h"
#include "support/shape_support.h"

using namespace Gdiplus;

namespace {

constexpr double kPi = 3.14159265358979323846;

void ExpectPoint(const PointF& p, double x, double y, double tol = 1e-4) {
    EXPECT_NEAR(p.X, x, tol);
    EXPECT_NEAR(p.Y, y, tol);
}

using testsupport::ExpectRect;

std::vector<BYTE> Types(std::initializer_list<int> v) {
    std::vector<BYTE> out;
    for (int t : v) {
        out.push_back(static_cast<BYTE>(t));
    }
    return out;
}

// ---------------------------------------------------------------------------

TEST(GdiplusMatrix, OperationsAndOrder) {
    PointF p(1, 0);
    Matrix r;
    r.Rotate(90);  // +x turns toward +y
    r.TransformPoints(&p);
    ExpectPoint(p, 0, 1, 0);

    // Prepend applies the new step first, append last.
    Matrix pre;
    pre.Scale(2, 2);
    pre.Translate(10, 0);
    Matrix app;
    app.Scale(2, 2);
    app.Translate(10, 0, MatrixOrderAppend);
    PointF a(1, 0);
    PointF b(1, 0);
    pre.TransformPoints(&a);
    app.TransformPoints(&b);
    ExpectPoint(a, 22, 0);
    ExpectPoint(b, 12, 0);

    Matrix at;
    at.RotateAt(180, PointF(5, 5));
    PointF c(6, 5);
    at.TransformPoints(&c);
    ExpectPoint(c, 4, 5);

    Matrix sh;
    sh.Shear(2, 0);
    PointF d(0, 1);
    sh.TransformPoints(&d);
    ExpectPoint(d, 2, 1);

    // Vectors ignore the translation.
    Matrix t(1, 0, 0, 1, 7, 8);
    PointF v(1, 1);
    t.TransformVectors(&v);
    ExpectPoint(v, 1, 1, 0);

    // A parallelogram target.
    const PointF plg[3] = {{10, 10}, {30, 10}, {10, 50}};
    Matrix m(RectF(0, 0, 2, 4), plg);
    PointF e(2, 4);
    m.TransformPoints(&e);
    ExpectPoint(e, 30, 50);
}

TEST(GdiplusMatrix, InvertAndQueries) {
    Matrix m;
    m.Rotate(30);
    m.Scale(2, 3, MatrixOrderAppend);
    m.Translate(5, -7, MatrixOrderAppend);
    Matrix inv = m;
    ASSERT_EQ(inv.Invert(), Ok);
    inv.Multiply(&m, MatrixOrderAppend);
    EXPECT_TRUE(inv.IsIdentity());
    // Multiplying by itself uses the value before the call.
    Matrix twice(2, 0, 0, 2, 1, 0);
    twice.Multiply(&twice);
    REAL el[6];
    twice.GetElements(el);
    EXPECT_FLOAT_EQ(el[0], 4);
    EXPECT_FLOAT_EQ(el[4], 3);

    Matrix singular(1, 2, 2, 4, 0, 0);
    EXPECT_FALSE(singular.IsInvertible());
    EXPECT_EQ(singular.Invert(), InvalidParameter);
    singular.GetElements(el);
    EXPECT_EQ(el[1], 2);  // unchanged
    EXPECT_EQ(singular.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(singular.GetLastStatus(), Ok);
    EXPECT_EQ(singular.TransformPoints(static_cast<PointF*>(nullptr), 2), InvalidParameter);

    Matrix full;
    full.Rotate(360);
    EXPECT_TRUE(full.IsIdentity());
    Point ip(1, 1);
    Matrix huge(1e20f, 0, 0, 1, 0, 0);
    huge.TransformPoints(&ip);
    EXPECT_EQ(ip.X, INT32_MAX);
}

// ---------------------------------------------------------------------------

TEST(GdiplusPath, FiguresJoinAndSeparate) {
    GraphicsPath path;
    // Consecutive curves sharing their ends form one figure without repeats.
    path.AddBezier(PointF(0, 0), PointF(1, 1), PointF(2, 1), PointF(3, 0));
    path.AddBezier(PointF(3, 0), PointF(4, -1), PointF(5, -1), PointF(6, 0));
    EXPECT_EQ(path.PathTypes(), Types({0, 3, 3, 3, 3, 3, 3}));
    // A gap is bridged by a line.
    path.AddBezier(PointF(7, 0), PointF(8, 1), PointF(9, 1), PointF(10, 0));
    EXPECT_EQ(path.PathTypes()[7], PathPointTypeLine);
    ExpectPoint(path.PathPoints()[7], 7, 0, 0);
    path.StartFigure();
    path.AddLine(10.0f, 0.0f, 20.0f, 0.0f);
    EXPECT_EQ(path.PathTypes()[11], PathPointTypeStart);
    path.CloseFigure();
    path.AddLine(20.0f, 0.0f, 30.0f, 0.0f);  // after a close, a new figure
    EXPECT_EQ(path.PathTypes()[12], PathPointTypeLine | PathPointTypeCloseSubpath);
    EXPECT_EQ(path.PathTypes()[13], PathPointTypeStart);
    // Closed shapes stand alone and end their figure.
    path.AddRectangle(RectF(0, 0, 4, 2));
    path.AddLine(1.0f, 1.0f, 2.0f, 2.0f);
    EXPECT_EQ(path.GetPointCount(), 21);
    EXPECT_EQ(path.PathTypes()[18], PathPointTypeLine | PathPointTypeCloseSubpath);
    EXPECT_EQ(path.PathTypes()[19], PathPointTypeStart);
    EXPECT_EQ(path.AddBeziers(path.PathPoints().data(), 5), InvalidParameter);
    EXPECT_EQ(path.AddPolygon(path.PathPoints().data(), 2), InvalidParameter);
    EXPECT_EQ(path.GetPointCount(), 21);

    // Connecting another path continues the open figure.
    GraphicsPath other;
    other.AddLine(2.0f, 2.0f, 3.0f, 5.0f);
    path.AddPath(&other, TRUE);
    EXPECT_EQ(path.GetPointCount(), 22);
    path.AddPath(&other, FALSE);
    EXPECT_EQ(path.PathTypes()[22], PathPointTypeStart);
    path.AddPath(&path, FALSE);  // itself
    EXPECT_EQ(path.GetPointCount(), 48);

    PointF buf[4];
    EXPECT_EQ(path.GetPathPoints(buf, 4), InsufficientBuffer);
    PathData data;
    ASSERT_EQ(path.GetPathData(&data), Ok);
    EXPECT_EQ(data.Count, 48);
    EXPECT_EQ(data.Types[0], PathPointTypeStart);
}

TEST(GdiplusPath, MalformedTypesAreRepaired) {
    const PointF pts[7] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}};
    const BYTE bad[7] = {1, 3, 3, 0x83, 3, 1, 7};
    GraphicsPath a(pts, bad, 7);
    EXPECT_EQ(a.PathTypes(), Types({0, 3, 3, 0x83, 0, 1, 1}));
    const BYTE broken[5] = {0, 3, 3, 1, 3};  // Bezier runs that never complete
    GraphicsPath b(pts, broken, 5);
    EXPECT_EQ(b.PathTypes(), Types({0, 1, 1, 1, 1}));
    EXPECT_EQ(b.Flatten(), Ok);
    EXPECT_EQ(b.GetPointCount(), 5);
    GraphicsPath c(pts, nullptr, 3);
    EXPECT_EQ(c.GetPointCount(), 0);
    EXPECT_EQ(c.GetLastStatus(), InvalidParameter);
}

// Checks every Bezier of an arc chain against the ellipse and returns the
// angle swept, seen from the centre.
double CheckArcChain(const GraphicsPath& path, double cx, double cy, double a, double b) {
    const auto& p = path.PathPoints();
    const int n = path.GetPointCount();
    EXPECT_EQ((n - 1) % 3, 0);
    EXPECT_LE(n, 13);
    double swept = 0;
    double prev = std::atan2(p[0].Y - cy, p[0].X - cx);
    for (int s = 0; s + 3 < n; s += 3) {
        for (int i = 1; i <= 200; ++i) {
            const double t = i / 200.0;
            const double u = 1 - t;
            const double x = u * u * u * p[s].X + 3 * u * u * t * p[s + 1].X + 3 * u * t * t * p[s + 2].X +
                             t * t * t * p[s + 3].X;
            const double y = u * u * u * p[s].Y + 3 * u * u * t * p[s + 1].Y + 3 * u * t * t * p[s + 2].Y +
                             t * t * t * p[s + 3].Y;
            const double r = std::hypot((x - cx) / a, (y - cy) / b);
            EXPECT_NEAR(r, 1.0, 1e-3);
            const double ang = std::atan2(y - cy, x - cx);
            double d = ang - prev;
            d -= 2 * kPi * std::round(d / (2 * kPi));
            swept += d;
            prev = ang;
        }
    }
    return swept * 180 / kPi;
}

TEST(GdiplusPath, ArcsFollowTheEllipse) {
    struct Box {
        float x, y, w, h;
    };
    for (const Box& bx : {Box{-10, -10, 20, 20}, Box{5, -3, 40, 10}, Box{0, 0, 3, 30}}) {
        const double cx = bx.x + bx.w / 2.0;
        const double cy = bx.y + bx.h / 2.0;
        for (float start : {0.0f, 30.0f, -45.0f, 200.0f, 370.0f}) {
            for (float sweep : {90.0f, 45.0f, -120.0f, 360.0f, -360.0f, 400.0f, -500.0f, 270.0f, 0.5f}) {
                GraphicsPath path;
                ASSERT_EQ(path.AddArc(bx.x, bx.y, bx.w, bx.h, start, sweep), Ok);
                const double swept = CheckArcChain(path, cx, cy, bx.w / 2.0, bx.h / 2.0);
                const double expect = std::clamp(static_cast<double>(sweep), -360.0, 360.0);
                EXPECT_NEAR(swept, expect, 0.05) << start << " " << sweep;
                // The start lies at the polar angle, not the parametric one.
                const PointF& s = path.PathPoints()[0];
                double ang = std::atan2(s.Y - cy, s.X - cx) * 180 / kPi - start;
                ang -= 360 * std::round(ang / 360);
                EXPECT_NEAR(ang, 0, 1e-3) << start;
            }
        }
    }
    GraphicsPath bad;
    EXPECT_EQ(bad.AddArc(0.0f, 0.0f, 0.0f, 10.0f, 0.0f, 90.0f), InvalidParameter);
    EXPECT_EQ(bad.AddArc(0.0f, 0.0f, 10.0f, 10.0f, NAN, 90.0f), InvalidParameter);
    EXPECT_EQ(bad.GetPointCount(), 0);
}

TEST(GdiplusPath, EllipseAndPieLayout) {
    GraphicsPath path;
    ASSERT_EQ(path.AddEllipse(2.0f, 4.0f, 10.0f, 6.0f), Ok);
    ASSERT_EQ(path.GetPointCount(), 13);
    const auto& p = path.PathPoints();
    ExpectPoint(p[0], 12, 7, 0);
    ExpectPoint(p[3], 7, 10, 0);
    ExpectPoint(p[6], 2, 7, 0);
    ExpectPoint(p[9], 7, 4, 0);
    ExpectPoint(p[12], 12, 7, 0);
    EXPECT_EQ(path.PathTypes().back(), PathPointTypeBezier | PathPointTypeCloseSubpath);

    GraphicsPath pie;
    ASSERT_EQ(pie.AddPie(0.0f, 0.0f, 10.0f, 10.0f, 0.0f, 90.0f), Ok);
    EXPECT_EQ(pie.PathTypes(), Types({0, 1, 3, 3, 0x83}));
    ExpectPoint(pie.PathPoints()[0], 5, 5, 0);
    ExpectPoint(pie.PathPoints()[4], 5, 10, 0);
}

TEST(GdiplusPath, BoundsAreTight) {
    RectF r;
    GraphicsPath empty;
    ASSERT_EQ(empty.GetBounds(&r), Ok);
    ExpectRect(r, 0, 0, 0, 0, 0);

    GraphicsPath hump;
    hump.AddBezier(PointF(0, 0), PointF(0, 10), PointF(10, 10), PointF(10, 0));
    hump.GetBounds(&r);
    ExpectRect(r, 0, 0, 10, 7.5);  // the curve's top, not the control points'
    hump.GetBounds(&r, nullptr, 2.0f);
    ExpectRect(r, -1, -1, 12, 9.5);

    GraphicsPath arc;
    arc.AddArc(-1.0f, -1.0f, 2.0f, 2.0f, 0.0f, 90.0f);
    arc.GetBounds(&r);
    ExpectRect(r, 0, 0, 1, 1);

    GraphicsPath ellipse;
    ellipse.AddEllipse(0.0f, 0.0f, 10.0f, 20.0f);
    ellipse.GetBounds(&r);
    ExpectRect(r, 0, 0, 10, 20);
    Matrix turn;
    turn.Rotate(90);
    ellipse.GetBounds(&r, &turn);
    ExpectRect(r, -20, 0, 20, 10);
    Rect ir;
    ellipse.GetBounds(&ir);
    EXPECT_EQ(ir.Width, 10);
    EXPECT_EQ(ir.Height, 20);
}

TEST(GdiplusPath, TransformAndReverse) {
    GraphicsPath path;
    path.AddLine(PointF(0, 0), PointF(1, 0));
    path.AddBezier(PointF(1, 0), PointF(2, 1), PointF(3, 1), PointF(4, 0));
    path.SetMarker();
    path.CloseFigure();
    path.AddLine(PointF(10, 10), PointF(11, 11));
    const GraphicsPath original = path;

    ASSERT_EQ(path.Reverse(), Ok);
    EXPECT_EQ(path.PathTypes(), Types({0, 1 | 0x20, 0, 3, 3, 3, 0x81}));
    const double want[7][2] = {{11, 11}, {10, 10}, {4, 0}, {3, 1}, {2, 1}, {1, 0}, {0, 0}};
    for (int i = 0; i < 7; ++i) {
        ExpectPoint(path.PathPoints()[static_cast<size_t>(i)], want[i][0], want[i][1], 0);
    }
    // The reversed curve covers the same points.
    RectF a;
    RectF b;
    path.GetBounds(&a);
    original.GetBounds(&b);
    ExpectRect(a, b.X, b.Y, b.Width, b.Height, 0);
    path.Reverse();
    EXPECT_EQ(path.PathTypes(), original.PathTypes());

    Matrix m;
    m.Translate(5, 0);
    m.Rotate(90, MatrixOrderAppend);  // (x, y) -> (-y, x + 5)
    ASSERT_EQ(path.Transform(&m), Ok);
    ExpectPoint(path.PathPoints()[3], -1, 8);
    ExpectPoint(path.PathPoints()[5], -10, 15);
    EXPECT_EQ(path.Transform(nullptr), Ok);
}

TEST(GdiplusPath, FillModes) {
    // Two squares of the same direction overlapping in [5, 10]^2.
    GraphicsPath same;
    same.AddRectangle(RectF(0, 0, 10, 10));
    same.AddRectangle(RectF(5, 5, 10, 10));
    EXPECT_FALSE(same.IsVisible(7.0f, 7.0f));
    EXPECT_TRUE(same.IsVisible(2.0f, 2.0f));
    EXPECT_TRUE(same.IsVisible(12.0f, 12.0f));
    EXPECT_FALSE(same.IsVisible(12.0f, 2.0f));
    same.SetFillMode(FillModeWinding);
    EXPECT_TRUE(same.IsVisible(7.0f, 7.0f));
    EXPECT_FALSE(same.IsVisible(20.0f, 20.0f));

    // Opposite directions cancel under the winding rule too.
    GraphicsPath opposite(FillModeWinding);
    opposite.AddRectangle(RectF(0, 0, 10, 10));
    const PointF back[4] = {{5, 5}, {5, 15}, {15, 15}, {15, 5}};
    opposite.AddPolygon(back, 4);
    EXPECT_FALSE(opposite.IsVisible(7.0f, 7.0f));
    EXPECT_TRUE(opposite.IsVisible(12.0f, 12.0f));

    // A pentagram: the centre is wound twice.
    GraphicsPath star;
    PointF pts[5];
    for (int i = 0; i < 5; ++i) {
        const double ang = (90 + 144.0 * i) * kPi / 180;
        pts[i] = PointF(static_cast<REAL>(10 * std::cos(ang)), static_cast<REAL>(10 * std::sin(ang)));
    }
    star.AddPolygon(pts, 5);
    EXPECT_FALSE(star.IsVisible(0.0f, 0.0f));
    star.SetFillMode(FillModeWinding);
    EXPECT_TRUE(star.IsVisible(0.0f, 0.0f));

    // Curved figures: inside the circle but outside the control square's inset.
    GraphicsPath circle;
    circle.AddEllipse(-10.0f, -10.0f, 20.0f, 20.0f);
    EXPECT_TRUE(circle.IsVisible(6.9f, 6.9f));
    EXPECT_FALSE(circle.IsVisible(7.2f, 7.2f));
    EXPECT_FALSE(circle.IsVisible(NAN, 0.0f));
}

TEST(GdiplusPath, OutlineHits) {
    GraphicsPath circle;
    circle.AddEllipse(-10.0f, -10.0f, 20.0f, 20.0f);
    EXPECT_TRUE(circle.IsOutlineVisible(10.9f, 0.0f, 2.0f));
    EXPECT_FALSE(circle.IsOutlineVisible(11.1f, 0.0f, 2.0f));
    EXPECT_TRUE(circle.IsOutlineVisible(6.6f, 6.6f, 2.0f));  // radius 9.33
    EXPECT_FALSE(circle.IsOutlineVisible(0.0f, 0.0f, 2.0f));
    EXPECT_TRUE(circle.IsOutlineVisible(10.4f, 0.0f, 0.0f));  // hairline: one unit wide
    EXPECT_FALSE(circle.IsOutlineVisible(10.6f, 0.0f, 0.0f));
    EXPECT_FALSE(circle.IsOutlineVisible(10.0f, 0.0f, static_cast<const Pen*>(nullptr)));

    // The closing side belongs to the outline only once the figure is closed.
    GraphicsPath u;
    const PointF pts[3] = {{0, 0}, {0, 10}, {10, 10}};
    u.AddLines(pts, 3);
    EXPECT_FALSE(u.IsOutlineVisible(5.0f, 5.0f, 1.0f));
    EXPECT_TRUE(u.IsOutlineVisible(0.3f, 5.0f, 1.0f));
    u.CloseFigure();
    EXPECT_TRUE(u.IsOutlineVisible(5.0f, 5.0f, 1.0f));

    // Thin pens on small curves are not lost to a coarse flattening.
    GraphicsPath small;
    small.AddArc(-1.0f, -1.0f, 2.0f, 2.0f, 0.0f, 180.0f);
    EXPECT_TRUE(small.IsOutlineVisible(0.0f, 1.04f, 0.1f));
    EXPECT_FALSE(small.IsOutlineVisible(0.0f, 1.06f, 0.1f));
}

TEST(GdiplusPath, IteratorWalksFiguresTypesAndMarkers) {
    GraphicsPath path;
    const PointF open[3] = {{0, 0}, {5, 0}, {5, 5}};
    path.AddLines(open, 3);
    path.SetMarker();
    path.AddEllipse(0.0f, 0.0f, 4.0f, 4.0f);  // 3..15
    path.SetMarker();
    path.AddLine(PointF(20, 0), PointF(21, 0));  // 16, 17
    path.AddLine(PointF(21, 0), PointF(22, 0));  // 18
    path.AddBezier(PointF(22, 0), PointF(23, 1), PointF(24, 1), PointF(25, 0));  // 19..21

    GraphicsPathIterator it(&path);
    path.Reset();  // the iterator keeps its own copy
    EXPECT_EQ(it.GetCount(), 22);
    EXPECT_EQ(it.GetSubpathCount(), 3);
    EXPECT_TRUE(it.HasCurve());

    INT s = 0;
    INT e = 0;
    BOOL closed = TRUE;
    EXPECT_EQ(it.NextSubpath(&s, &e, &closed), 3);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 2);
    EXPECT_FALSE(closed);
    GraphicsPath fig;
    EXPECT_EQ(it.NextSubpath(&fig, &closed), 13);
    EXPECT_TRUE(closed);
    EXPECT_EQ(fig.GetPointCount(), 13);
    EXPECT_EQ(it.NextSubpath(&s, &e, &closed), 6);
    EXPECT_EQ(s, 16);
    EXPECT_EQ(e, 21);

    BYTE kind = 0;
    EXPECT_EQ(it.NextPathType(&kind, &s, &e), 3);
    EXPECT_EQ(kind, PathPointTypeLine);
    EXPECT_EQ(s, 16);
    EXPECT_EQ(e, 18);
    EXPECT_EQ(it.NextPathType(&kind, &s, &e), 4);
    EXPECT_EQ(kind, PathPointTypeBezier);
    EXPECT_EQ(e, 21);
    EXPECT_EQ(it.NextPathType(&kind, &s, &e), 0);
    EXPECT_EQ(it.NextSubpath(&s, &e, &closed), 0);

    EXPECT_EQ(it.NextMarker(&s, &e), 3);
    EXPECT_EQ(it.NextMarker(&s, &e), 13);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(it.NextMarker(&s, &e), 6);
    EXPECT_EQ(e, 21);
    EXPECT_EQ(it.NextMarker(&s, &e), 0);
    it.Rewind();
    EXPECT_EQ(it.NextSubpath(&s, &e, &closed), 3);

    PointF pts[22];
    BYTE types[22];
    EXPECT_EQ(it.CopyData(pts, types, 16, 18), 3);
    ExpectPoint(pts[2], 22, 0, 0);
    EXPECT_EQ(it.CopyData(pts, types, 5, 22), 0);
    EXPECT_EQ(it.CopyData(pts, types, -1, 2), 0);
    EXPECT_EQ(it.Enumerate(pts, types, 100), 22);

    GraphicsPathIterator none(nullptr);
    EXPECT_EQ(none.NextSubpath(&s, &e, &closed), 0);
    EXPECT_EQ(none.NextMarker(&s, &e), 0);
    EXPECT_EQ(none.NextPathType(&kind, &s, &e), 0);
}

}  // namespace
