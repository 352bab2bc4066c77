// The ellipse arc: the whole ellipse from a rectangle, arcs cut from a
// rotated and slanted ellipse, pies against full turns, DXF records,
// reversal, transforms, saving, mark data, exports and drawing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/import/dxf_records.h"
#include "morvik/shapes/ellipsearc.h"
#include "support/shape_support.h"

namespace {

using testsupport::ViewAt;
using testsupport::Dist;
using testsupport::DistToPolyline;
using testsupport::Unlocked;
using testsupport::ExportXml;

constexpr double kPi = 3.14159265358979323846;

std::vector<tagPOINTF> Flat(CEllipseArc& e, float tol = 0.01f) { return testsupport::Flattened(e, tol); }

// The ellipse with semi-axes 10 and 5 centred at (10, 5), drawn from the
// rectangle whose Y is its lower edge.
void DrawUpright(CEllipseArc& e) { ASSERT_EQ(e.InitArcPath(Gdiplus::RectF(0, 0, 20, 10), false), 0); }

// Residual of the upright ellipse's equation (0 on the ellipse).
double OffUpright(tagPOINTF p) {
    const double u = (p.x - 10.0) / 10.0, v = (p.y - 5.0) / 5.0;
    return std::fabs(std::sqrt(u * u + v * v) - 1.0);
}

// Polar angles (degrees, 0 to 360) about the upright ellipse's centre of the
// flattened arc, without a pie's way back through the centre.
std::vector<double> ArcPolar(CEllipseArc& e) {
    std::vector<tagPOINTF> pts = Flat(e);
    if (pts.size() > 2 && Dist(pts[pts.size() - 2], {10, 5}) < 1e-4) pts.resize(pts.size() - 2);
    std::vector<double> out;
    for (const tagPOINTF& p : pts) {
        EXPECT_LT(OffUpright(p), 2e-3);
        const double a = std::atan2(p.y - 5.0, p.x - 10.0) * 180 / kPi;
        out.push_back(a < 0 ? a + 360 : a);
    }
    return out;
}

tagEllipse Record(tagPOINTF c, tagPOINTF majorEnd, float ratio, float t0, float t1) {
    tagEllipse e;
    e.ptCenter = Gdiplus::PointF(c.x, c.y);
    e.ptMajorEnd = Gdiplus::PointF(majorEnd.x, majorEnd.y);
    e.fRatio = ratio;
    e.fStartParam = t0;
    e.fEndParam = t1;
    return e;
}

// The Bezier chain sampled 20 times a segment.
std::vector<tagPOINTF> Sampled(const std::vector<tagPOINTF>& c) {
    std::vector<tagPOINTF> out;
    for (size_t i = 0; i + 3 < c.size(); i += 3)
        for (int k = 0; k <= 20; ++k) {
            const double t = k / 20.0, u = 1 - t, b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
            out.push_back({float(b0 * c[i].x + b1 * c[i + 1].x + b2 * c[i + 2].x + b3 * c[i + 3].x),
                           float(b0 * c[i].y + b1 * c[i + 1].y + b2 * c[i + 2].y + b3 * c[i + 3].y)});
        }
    return out;
}

double Hausdorff(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b) {
    double worst = 0;
    for (const tagPOINTF& p : a) worst = std::max(worst, DistToPolyline(p, b));
    for (const tagPOINTF& p : b) worst = std::max(worst, DistToPolyline(p, a));
    return worst;
}

size_t Count(const RecordingCanvas& canvas, CanvasOp op) {
    const std::vector<CanvasRecord> all = canvas.Records();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [op](const CanvasRecord& r) { return r.op == op; }));
}

}  // namespace

TEST(EllipseArc, WholeEllipseFromARectangle) {
    ShapeCounterOf(SHAPE_ELLIPSEARC).Reset();
    CEllipseArc e;
    EXPECT_STREQ(e.GetCaption().GetString(), L"Ellipse1");
    EXPECT_EQ(e.GetShapeKind(), SHAPE_ELLIPSEARC);
    EXPECT_TRUE(e.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CBaseShape)));
    DrawUpright(e);
    // Axis ends in reverse chain order: right, bottom, left, top, right.
    const tagPOINTF ends[] = {{20, 5}, {10, 0}, {0, 5}, {10, 10}, {20, 5}};
    for (int k = 0; k < 5; ++k) EXPECT_LT(Dist(e.ctrlPoints[3 * k], ends[k]), 1e-4) << k;
    ASSERT_EQ(e.arcPoints.size(), 13u);
    EXPECT_LT(Dist(e.m_ptCenter, {10, 5}), 1e-5);
    for (const tagPOINTF& p : Flat(e)) EXPECT_LT(OffUpright(p), 2e-3);

    // In device units the reversal makes the chain run counter-clockwise.
    ViewAt v(2.0f);
    CEllipseArc d;
    d.SetDocView(&v.doc, &v.view);
    ASSERT_EQ(d.InitArcPath(Gdiplus::RectF(0, -20, 40, 20), true), 0);  // logical (0..20, 0..10)
    EXPECT_LT(Dist(d.ctrlPoints[3], {10, 10}), 1e-4);
    EXPECT_LT(Dist(d.ctrlPoints[9], {10, 0}), 1e-4);

    // A rectangle that holds no ellipse leaves the shape as it was.
    EXPECT_EQ(e.InitArcPath(Gdiplus::RectF(0, 0, 0, 10), false), -1);
    EXPECT_EQ(e.InitArcPath(Gdiplus::RectF(NAN, 0, 5, 10), false), -1);
    EXPECT_EQ(e.arcPoints.size(), 13u);
    EXPECT_LT(Dist(e.ctrlPoints[0], {20, 5}), 1e-4);
}

// Cutting an arc turns and slants the control points upright and back: the
// arc must lie on the transformed ellipse, between the images of the axis
// ends that the angles name, and the control points must not move.
TEST(EllipseArc, ArcsOfARotatedAndSlantedEllipseKeepItsTrueShape) {
    CEllipseArc e;
    DrawUpright(e);
    const tagPOINTF pivot{3, -2};
    e.Rotate(30, pivot);
    e.Slope({1, 1}, 0.3, 0);
    // The affine map applied to the upright ellipse, and its inverse.
    auto forward = [&](tagPOINTF p) {
        return CBaseShape::PointfSlope(CBaseShape::PointfRotate(p, pivot, 30), 0.3, 0, {1, 1});
    };
    auto back = [&](tagPOINTF p) {
        return CBaseShape::PointfRotate(CBaseShape::PointfSlope(p, -0.3, 0, {1, 1}), pivot, -30);
    };
    tagPOINTF ctrl[13];
    std::copy(std::begin(e.ctrlPoints), std::end(e.ctrlPoints), ctrl);

    e.SetArcDegree(0, 360);
    for (const tagPOINTF& p : Flat(e)) ASSERT_LT(OffUpright(back(p)), 2e-3);

    e.SetArcDegree(0, 90);
    EXPECT_LT(Dist(e.arcPoints.front(), forward({20, 5})), 1e-3);
    EXPECT_LT(Dist(e.arcPoints.back(), forward({10, 10})), 1e-3);
    std::vector<tagPOINTF> arc = testsupport::Flattened(e, 0.01f);
    arc.resize(arc.size() - 2);  // the pie's way back through the centre
    for (const tagPOINTF& p : arc) {
        const tagPOINTF q = back(p);
        EXPECT_LT(OffUpright(q), 2e-3);
        EXPECT_TRUE(q.x > 10 - 1e-3 && q.y > 5 - 1e-3) << q.x << " " << q.y;  // the first quarter
    }
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(e.ctrlPoints[i], ctrl[i]) << i;
    }
    EXPECT_LT(Dist(e.m_ptCenter, forward({10, 5})), 1e-3);
}

TEST(EllipseArc, PiesAgainstFullTurnsAndOpenDxfArcs) {
    ViewAt v(1.0f);
    auto draw = [&](CEllipseArc& e, RecordingCanvas& canvas) {
        CDC dc(&canvas);
        e.SetDocView(&v.doc, &v.view);
        EXPECT_EQ(e.Draw(&dc, nullptr, 0xFF, 0, 0, 0, 0, 0, 0), 1);
    };

    CEllipseArc pie;
    DrawUpright(pie);
    pie.SetArcDegree(0, 90);
    pie.SetPen(6);
    ASSERT_EQ(pie.arcPoints.size(), 13u);
    std::unique_ptr<CBezierCurve> curve(static_cast<CBezierCurve*>(pie.ToBezier()));
    EXPECT_EQ(curve->GetPenIndex(), 6);  // the curve marks with the same laser parameters
    ASSERT_EQ(curve->arrSegment.size(), 6u);
    EXPECT_EQ(curve->bClosed, 1);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(curve->arrSegment[i].p1, curve->arrSegment[i].p4);
    EXPECT_LT(Dist(curve->arrSegment[4].p4, {10, 5}), 1e-4);
    EXPECT_EQ(curve->arrSegment[5].p4, pie.arcPoints.front());
    // A list that already holds points: the pie closes to its own start.
    std::vector<tagPOINTF> pts = {{-50, -50}};
    pie.GetFlattenPathPoints(pts, 0.1f);
    EXPECT_LT(Dist(pts[pts.size() - 2], {10, 5}), 1e-4);
    EXPECT_EQ(pts.back(), pts[1]);
    RecordingCanvas canvas;
    draw(pie, canvas);
    EXPECT_EQ(Count(canvas, CanvasOp::Beziers), 1u);
    EXPECT_EQ(Count(canvas, CanvasOp::Line), 2u);

    // Full turns: 0 to 360 and equal angles are closed with no centre lines.
    const double turns[][2] = {{0, 360}, {30, 30}, {30, 400}};
    for (const auto& turn : turns) {
        const double end = turn[1];
        CEllipseArc full;
        DrawUpright(full);
        full.SetArcDegree(turn[0], end);
        std::unique_ptr<CBezierCurve> c(static_cast<CBezierCurve*>(full.ToBezier()));
        EXPECT_EQ(c->arrSegment.size(), 4u) << end;
        EXPECT_EQ(c->bClosed, 1);
        const std::vector<tagPOINTF> f = Flat(full, 0.1f);
        EXPECT_LT(OffUpright(f[f.size() - 2]), 1e-3) << "no closing points";
        RecordingCanvas cv;
        draw(full, cv);
        EXPECT_EQ(Count(cv, CanvasOp::Line), 0u) << end;
    }

    // The same quarter from a DXF record is open everywhere.
    CEllipseArc dxf;
    tagEllipse rec = Record({10, 5}, {20, 5}, 0.5f, 0, static_cast<float>(kPi / 2));
    ASSERT_EQ(dxf.ProcessDxf(rec), 1);
    std::unique_ptr<CBezierCurve> open(static_cast<CBezierCurve*>(dxf.ToBezier()));
    EXPECT_EQ(open->arrSegment.size(), 4u);
    EXPECT_EQ(open->bClosed, 0);
    EXPECT_LT(Dist(Flat(dxf).back(), {10, 10}), 1e-3);
    RecordingCanvas cv;
    draw(dxf, cv);
    EXPECT_EQ(Count(cv, CanvasOp::Line), 0u);
}

TEST(EllipseArc, DxfRecords) {
    // Major axis along +y from (5, -3), length 10, minor 5.
    CEllipseArc full;
    tagEllipse rec = Record({5, -3}, {5, 7}, 0.5f, 0, static_cast<float>(2 * kPi));
    ASSERT_EQ(full.ProcessDxf(rec), 1);
    EXPECT_EQ(full.m_bFILE, 1);
    EXPECT_NEAR(full.startDeg, 0, 1e-3);
    EXPECT_NEAR(full.endDeg, 360, 1e-3);
    EXPECT_NEAR(full.m_rotAngle, 0, 1e-9);
    EXPECT_NEAR(full.m_axisA, 10, 1e-6);
    EXPECT_NEAR(full.m_axisB, 5, 1e-6);
    for (const tagPOINTF& p : Flat(full)) {
        EXPECT_NEAR(std::hypot((p.x - 5) / 5.0, (p.y + 3) / 10.0), 1.0, 1e-3);
    }

    // Parameters pi/2 to pi: polar 90 to 180 in the axis frame, i.e. from
    // the end of the minor axis at (0, -3) to the lower end of the major one.
    CEllipseArc quarter;
    rec = Record({5, -3}, {5, 7}, 0.5f, static_cast<float>(kPi / 2), static_cast<float>(kPi));
    ASSERT_EQ(quarter.ProcessDxf(rec), 1);
    EXPECT_NEAR(quarter.startDeg, 90, 1e-3);
    EXPECT_NEAR(quarter.endDeg, 180, 1e-3);
    EXPECT_LT(Dist(quarter.arcPoints.front(), {0, -3}), 1e-3);
    EXPECT_LT(Dist(quarter.arcPoints.back(), {5, -13}), 1e-3);

    // Parameters off the quarter turns, one range crossing 0, on a slanted
    // major axis: the arc runs from P(t0) to P(t1) along the true ellipse
    // P(t) = C + cos t M + ratio sin t M', M' the major axis turned a
    // quarter counter-clockwise, through parameters between the two only.
    const struct {
        tagPOINTF c, m;
        float ratio, t0, t1;
    } arcs[] = {{{5, -3}, {5, 7}, 0.5f, 0.3f, 2.2f},
                {{1, 2}, {4.9f, 4.25f}, 0.35f, 1.1f, 5.0f},
                {{-2, 1}, {-8, 3.5f}, 0.6f, 5.5f, 0.8f}};
    for (const auto& a : arcs) {
        SCOPED_TRACE(testing::Message() << a.t0 << " to " << a.t1);
        CEllipseArc e;
        tagEllipse r = Record(a.c, a.m, a.ratio, a.t0, a.t1);
        ASSERT_EQ(e.ProcessDxf(r), 1);
        const double mx = a.m.x - a.c.x, my = a.m.y - a.c.y, len2 = mx * mx + my * my;
        auto at = [&](double t) {
            return tagPOINTF{float(a.c.x + std::cos(t) * mx - a.ratio * std::sin(t) * my),
                             float(a.c.y + std::cos(t) * my + a.ratio * std::sin(t) * mx)};
        };
        EXPECT_LT(Dist(e.arcPoints.front(), at(a.t0)), 1e-3);
        EXPECT_LT(Dist(e.arcPoints.back(), at(a.t1)), 1e-3);
        const double span = std::fmod(a.t1 - a.t0 + 4 * kPi, 2 * kPi);
        for (const tagPOINTF& p : Flat(e)) {
            // The point's coordinates on the axes, its parameter and its
            // residual of the ellipse's equation.
            const double u = ((p.x - a.c.x) * mx + (p.y - a.c.y) * my) / len2;
            const double w = ((p.y - a.c.y) * mx - (p.x - a.c.x) * my) / len2 / a.ratio;
            EXPECT_NEAR(std::hypot(u, w), 1.0, 2e-4);
            const double along = std::fmod(std::atan2(w, u) - a.t0 + 4 * kPi, 2 * kPi);
            EXPECT_TRUE(along <= span + 1e-3 || along > 2 * kPi - 1e-3) << along << " of " << span;
        }
    }

    // Records that hold no ellipse are refused and build nothing.
    for (tagEllipse bad : {Record({0, 0}, {10, 0}, 0, 0, 1), Record({0, 0}, {0, 0}, 0.5f, 0, 1),
                           Record({NAN, 0}, {10, 0}, 0.5f, 0, 1)}) {
        CEllipseArc e;
        EXPECT_EQ(e.ProcessDxf(bad), 0);
        EXPECT_TRUE(e.arcPoints.empty());
        EXPECT_EQ(e.m_bFILE, 0);
    }
}

TEST(EllipseArc, SortPathTracesTheSameArcBackwards) {
    CEllipseArc e;
    DrawUpright(e);
    e.SetArcDegree(30, 120);
    const std::vector<tagPOINTF> before = e.arcPoints;
    e.SortPath();
    EXPECT_EQ(e.startDeg, 120);
    EXPECT_EQ(e.endDeg, 30);
    EXPECT_EQ(e.GetArcPath(), 0);
    EXPECT_LT(Dist(e.arcPoints.front(), before.back()), 1e-3);
    EXPECT_LT(Dist(e.arcPoints.back(), before.front()), 1e-3);
    const std::vector<double> polar = ArcPolar(e);
    ASSERT_GT(polar.size(), 10u);
    EXPECT_NEAR(polar.front(), 120, 1e-3);
    for (double a : polar) EXPECT_TRUE(a > 30 - 1e-3 && a < 120 + 1e-3) << a;
    e.SortPath();
    EXPECT_EQ(e.GetArcPath(), 1);
    EXPECT_LT(Dist(e.arcPoints.front(), before.front()), 1e-3);

    // An imported arc keeps its place through the reader's placement: the
    // reversed arc covers the same points.
    CEllipseArc dxf;
    tagEllipse rec = Record({4, 2}, {4, 8}, 0.5f, static_cast<float>(kPi / 4), static_cast<float>(kPi));
    ASSERT_EQ(dxf.ProcessDxf(rec), 1);
    dxf.Zoom({1, 1}, 2, 2);
    dxf.Rotate(40, {-3, 5});
    const std::vector<tagPOINTF> placed = Flat(dxf);
    dxf.SortPath();
    EXPECT_LT(Dist(dxf.arcPoints.front(), placed.back()), 2e-3);
    EXPECT_LT(Dist(dxf.arcPoints.back(), placed.front()), 2e-3);
    for (const tagPOINTF& p : Flat(dxf)) EXPECT_LT(DistToPolyline(p, placed), 2e-3);

    // After an uneven zoom the reversed arc is the same chain traced
    // backwards (a quarter near a segment boundary once came back cut into
    // other segments, 8 um off).
    const std::pair<double, double> zooms[] = {{2, 1}, {3, 0.5}, {1, 1.7}};
    const std::pair<float, float> params[] = {{0, float(kPi / 2)}, {5.5f, 0.8f}, {0.3f, 2.2f}};
    for (const auto& [sx, sy] : zooms) {
        for (const auto& [t0, t1] : params) {
            SCOPED_TRACE(testing::Message() << "zoom " << sx << ", " << sy << " of " << t0 << " to " << t1);
            CEllipseArc arc;
            tagEllipse r = Record({0, 0}, {0, 10}, 0.5f, t0, t1);
            ASSERT_EQ(arc.ProcessDxf(r), 1);
            arc.Zoom({0, 0}, sx, sy);
            const std::vector<tagPOINTF> forward = arc.arcPoints;
            arc.SortPath();
            EXPECT_LT(Hausdorff(Sampled(arc.arcPoints), Sampled(forward)), 1e-4);
            EXPECT_LT(Dist(arc.arcPoints.front(), forward.back()), 1e-5);
            EXPECT_LT(Dist(arc.arcPoints.back(), forward.front()), 1e-5);
        }
    }
}

TEST(EllipseArc, ReversingTwiceAndArcChangesKeepTheMarkingDirection) {
    // A logical rectangle gives a clockwise chain; the arc points still run
    // the way the direction says, so no reversal or re-cut turns them.
    auto sameChain = [](const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) EXPECT_LT(Dist(a[i], b[i]), 1e-4) << "point " << i;
    };
    CEllipseArc e;
    DrawUpright(e);
    const std::vector<tagPOINTF> drawn = e.arcPoints;
    EXPECT_GT(drawn[3].y, 5.0f);  // counter-clockwise: up first
    e.SortPath();
    EXPECT_LT(e.arcPoints[3].y, 5.0f);
    e.SortPath();
    sameChain(e.arcPoints, drawn);
    EXPECT_EQ(e.GetArcPath(), 1);
    // An arc change and its undo come back to the same full turn.
    e.SetArcDegree(30, 120);
    e.SetArcDegree(0, 360);
    sameChain(e.arcPoints, drawn);
}

TEST(EllipseArc, ImportedArcKeepsItsShapeWhenReversedAfterAnyTransform) {
    struct Step {
        const char* name;
        void (*apply)(CEllipseArc&);
    };
    const Step steps[] = {
        {"slope 0.3", [](CEllipseArc& e) { e.Slope({2, 1}, 0.3, 0); }},
        {"slope 0.4 both", [](CEllipseArc& e) { e.Slope({2, 1}, 0.4, -0.25); }},
        {"zoom 2,1", [](CEllipseArc& e) { e.Zoom({1, 1}, 2, 1); }},
        {"zoom -1,1", [](CEllipseArc& e) { e.Zoom({1, 1}, -1, 1); }},
        {"zoom 1,-2", [](CEllipseArc& e) { e.Zoom({1, 1}, 1, -2); }},
        {"zoom -2,-2", [](CEllipseArc& e) { e.Zoom({1, 1}, -2, -2); }},
        {"mirror x", [](CEllipseArc& e) { e.Mirror({3, 0}, 1); }},
        {"mirror y", [](CEllipseArc& e) { e.Mirror({3, 0}, 2); }},
        {"mirror both", [](CEllipseArc& e) { e.Mirror({3, 0}, 3); }},
        {"turn, zoom 2,0.5", [](CEllipseArc& e) { e.Rotate(30, {0, 0}), e.Zoom({1, 1}, 2, 0.5); }},
        {"turn, mirror, slope", [](CEllipseArc& e) { e.Rotate(-50, {0, 0}), e.Mirror({1, 1}, 1), e.Slope({0, 0}, 0.2, 0.1); }},
    };
    for (const float t1 : {static_cast<float>(kPi), static_cast<float>(2 * kPi)}) {
        for (const Step& step : steps) {
            SCOPED_TRACE(testing::Message() << step.name << (t1 > 4 ? ", full turn" : ""));
            CEllipseArc e;
            // Upright major axis: the direction the old zoom got wrong.
            tagEllipse rec = Record({4, 2}, {4, 8}, 0.5f, static_cast<float>(kPi / 4), t1);
            ASSERT_EQ(e.ProcessDxf(rec), 1);
            step.apply(e);
            const std::vector<tagPOINTF> placed = Flat(e);
            // Cut again from its own values, the arc stays where it is.
            e.SetArcDegree(e.startDeg, e.endDeg);
            for (const tagPOINTF& p : Flat(e)) EXPECT_LT(DistToPolyline(p, placed), 2e-3);
            EXPECT_LT(Dist(e.arcPoints.front(), placed.front()), 2e-3);
            // Reversed: the same points from the other end; twice: as placed.
            e.SortPath();
            for (const tagPOINTF& p : Flat(e)) EXPECT_LT(DistToPolyline(p, placed), 2e-3);
            for (const tagPOINTF& p : placed) EXPECT_LT(DistToPolyline(p, Flat(e)), 2e-3);
            if (t1 < 4) {
                EXPECT_LT(Dist(e.arcPoints.front(), placed.back()), 2e-3);
            }
            e.SortPath();
            EXPECT_LT(Dist(e.arcPoints.front(), placed.front()), 2e-3);
            EXPECT_LT(Dist(Flat(e)[placed.size() / 3], placed[placed.size() / 3]), 2e-2);
        }
    }

    // A drawn arc keeps its ends through transforms that change the
    // ellipse's proportions (flips are taken off by the editor first).
    for (size_t k : {0u, 1u, 2u, 5u, 9u}) {
        SCOPED_TRACE(testing::Message() << "drawn, " << steps[k].name);
        CEllipseArc e;
        DrawUpright(e);
        e.SetArcDegree(45, 200);
        steps[k].apply(e);
        const std::vector<tagPOINTF> placed = e.arcPoints;
        e.SetArcDegree(e.startDeg, e.endDeg);
        ASSERT_EQ(e.arcPoints.size(), placed.size());
        for (size_t i = 0; i < placed.size(); ++i) EXPECT_LT(Dist(e.arcPoints[i], placed[i]), 2e-3) << i;
    }
}

TEST(EllipseArc, TransformsKeepCentreBoundsAndMarkDataCurrent) {
    ViewAt v(1.0f);
    CEllipseArc e;
    e.SetDocView(&v.doc, &v.view);
    DrawUpright(e);
    e.SetArcDegree(0, 90);
    tagMarkDataPar out;
    ASSERT_TRUE(e.GetMarkData(out, nullptr));
    ASSERT_EQ(out.arrPaths.size(), 1u);
    Gdiplus::RectF r = testsupport::RectOf(e);
    EXPECT_TRUE(out.rect.Equals(r));
    // The pie's rectangle reaches down and left to the centre.
    EXPECT_NEAR(r.X, 10, 1e-3);
    EXPECT_NEAR(r.Y - r.Height, 5, 1e-3);
    EXPECT_NEAR(r.Y, 10, 1e-3);

    // A rotation about a far point takes the centre with it: bounds, curve
    // and mark data follow at once.
    e.Rotate(180, {0, 0});
    e.GetRectangle(r);
    EXPECT_NEAR(r.X + r.Width, -10, 1e-3);
    EXPECT_NEAR(r.Y, -5, 1e-3);
    std::unique_ptr<CBezierCurve> curve(static_cast<CBezierCurve*>(e.ToBezier()));
    EXPECT_LT(Dist(curve->arrSegment[4].p4, {-10, -5}), 1e-3);
    tagMarkDataPar again;
    ASSERT_TRUE(e.GetMarkData(again, nullptr));
    EXPECT_NEAR(again.rect.Y, -5, 1e-3);
    EXPECT_TRUE(Unlocked(e));

    e.Mirror({0, 0}, 1);
    EXPECT_LT(Dist(e.m_ptCenter, {10, -5}), 1e-3);
    const std::vector<tagPOINTF> pts = e.arcPoints;
    e.Mirror({0, 0}, 0);
    e.Mirror({0, 0}, 4);
    EXPECT_EQ(e.arcPoints, pts);

    // A mirrored DXF ellipse: a negative semi-axis, a normalised rebuild.
    CEllipseArc dxf;
    tagEllipse rec = Record({10, 5}, {20, 5}, 0.5f, 0, static_cast<float>(2 * kPi));
    ASSERT_EQ(dxf.ProcessDxf(rec), 1);
    dxf.Zoom({10, 5}, -1, 1);
    EXPECT_NEAR(dxf.m_axisA, -10, 1e-6);
    dxf.SetArcDegree(0, 360);
    for (const tagPOINTF& p : Flat(dxf)) EXPECT_LT(OffUpright(p), 2e-3);

    // An ellipse without points marks nothing and never stays locked.
    CEllipseArc empty;
    tagMarkDataPar none;
    EXPECT_FALSE(empty.GetMarkData(none, nullptr));
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_TRUE(Unlocked(empty));
    empty.SortPath();
    EXPECT_TRUE(empty.arcPoints.empty());
}

TEST(EllipseArc, SavedAndReadBackWithItsDirection) {
    CEllipseArc src;
    DrawUpright(src);
    src.SetArcDegree(30, 120);
    src.SortPath();
    src.SetCaption(L"Oval");
    const testsupport::Bytes bytes = testsupport::SavedShape(src);
    CEllipseArc back;
    testsupport::ReadFrom(back, bytes);
    back.RestoreAfterRead();
    EXPECT_EQ(back.m_wstrCaption, L"Oval");
    EXPECT_EQ(back.arcPoints, src.arcPoints);
    EXPECT_TRUE(std::equal(std::begin(back.ctrlPoints), std::end(back.ctrlPoints), std::begin(src.ctrlPoints)));
    EXPECT_EQ(back.startDeg, 120);
    EXPECT_EQ(back.endDeg, 30);
    EXPECT_EQ(back.GetArcPath(), 0);
    // Reversed again it is the 30 to 120 quarter, not its complement.
    back.SortPath();
    for (double a : ArcPolar(back)) EXPECT_TRUE(a > 30 - 1e-3 && a < 120 + 1e-3) << a;

    // Saved points split into several groups are set by index across them.
    src.arrPointf = {{src.arcPoints.begin(), src.arcPoints.begin() + 5}, {src.arcPoints.begin() + 5, src.arcPoints.end()}};
    src.arr13pointf = {{std::begin(src.ctrlPoints), std::begin(src.ctrlPoints) + 6},
                       {std::begin(src.ctrlPoints) + 6, std::end(src.ctrlPoints)}};
    CEllipseArc grouped;
    testsupport::ReadFrom(grouped, testsupport::SaveOf(src));
    grouped.RestoreAfterRead();
    EXPECT_EQ(grouped.arcPoints, src.arcPoints);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(grouped.ctrlPoints[i], src.ctrlPoints[i]) << i;

    // Any cut of the saved bytes reads without harm.
    for (size_t n = 0; n < bytes.size(); n += 7) {
        CEllipseArc cut;
        SriFile part(bytes.data(), n);
        cut.Read(false, &part);
        cut.RestoreAfterRead();
        testsupport::RectOf(cut);
        Flat(cut);
    }
}

TEST(EllipseArc, ExportsAndPicking) {
    CEllipseArc e;
    DrawUpright(e);
    e.SetArcDegree(0, 90);
    e.SetCaption(L"a<b");
    const std::string xml = ExportXml(e);
    EXPECT_EQ(xml.rfind("<EllipseArc Name=\"a&lt;b\" startDeg=\"0.000000\" endDeg=\"90.000000\"><Point nSize=\"13\">"
                        "<P x=\"20.000\" y=\"5.000\" z=\"0.000\"/>",
                        0),
              0u);
    EXPECT_NE(xml.find("</Point><Point13><P x=\"20.000\" y=\"5.000\" z=\"0.000\"/><P x="), std::string::npos);
    EXPECT_TRUE(xml.ends_with("<P x=\"20.000\" y=\"5.000\" z=\"0.000\"/></Point13></EllipseArc>")) << xml;

    GCodeContext ctx;
    ctx.bToList = 1;
    ctx.fLastX = ctx.fLastY = -1;
    e.ExportGCodeToBuff(ctx);
    ASSERT_GT(ctx.lines.size(), 3u);
    EXPECT_EQ(ctx.lines.front(), L"G00 X20.000 Y5.000 Z0.000 \n");
    EXPECT_EQ(ctx.lines.back(), L"G01 X20.000 Y5.000 Z0.000 \n");  // back to the start through the centre

    EXPECT_EQ(e.IsMe({17.2f, 8.6f}), 1);  // within 4 mm of the arc
    EXPECT_EQ(e.IsMe({-5, -5}), 0);
    Gdiplus::RectF band(14, 20, 2, 30);  // Y the top edge: crosses the arc
    EXPECT_EQ(e.IsSelectedForRect(band), 1);
    Gdiplus::RectF beside(12, 7, 1, 1);  // inside the bounds, off the outline
    EXPECT_EQ(e.IsSelectedForRect(beside), 0);
    Gdiplus::RectF around(9, 11, 12, 7);
    EXPECT_EQ(e.IsInRect(around), 1);

    std::unique_ptr<CPolyLine> poly(static_cast<CPolyLine*>(e.ToPolyLine()));
    EXPECT_STREQ(poly->GetCaption().GetString(), L"a<b");
    EXPECT_EQ(poly->arrPoint.back(), poly->arrPoint.front());
}

TEST(EllipseArc, DrawingThroughTheView) {
    ViewAt v(2.0f);
    CEllipseArc e;
    DrawUpright(e);
    e.SetArcDegree(0, 90);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    EXPECT_EQ(e.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0, 0), 0) << "no view";
    e.SetDocView(&v.doc, &v.view);
    e.SetSelectFlag(1, false);
    EXPECT_EQ(e.Draw(&dc, nullptr, 0x0000FF, 0, 0, 0, 1, 1, 0), 1);
    const std::vector<CanvasRecord> recs = canvas.Records();
    ASSERT_EQ(recs.size(), 4u);  // chain, two centre lines, start mark
    ASSERT_EQ(recs[0].op, CanvasOp::Beziers);
    ASSERT_EQ(recs[0].points.size(), 13u);
    EXPECT_NEAR(recs[0].points[0].X, 41, 1e-3);  // (20, 5) at zoom 2, y flipped, dx 1
    EXPECT_NEAR(recs[0].points[0].Y, -10, 1e-3);
    EXPECT_EQ(recs[0].pen.argb, 0xFFFF0000u);
    EXPECT_NEAR(recs[1].points[0].X, 21, 1e-3);  // from the centre
    EXPECT_EQ(recs[3].op, CanvasOp::Rectangle);

    canvas.Reset();
    e.DrawEditPoints(&dc);
    const std::vector<CanvasRecord> handles = canvas.Records();
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_EQ(handles[0].op, CanvasOp::Rectangle);
    canvas.Reset();
    e.DrawRotate(&dc, 0, 90, {10, 5});
    ASSERT_EQ(canvas.Count(), 1u);
    EXPECT_NEAR(canvas.At(0).points[0].X, 20, 1e-3);  // (20, 5) turned to (10, 15)
    EXPECT_NEAR(canvas.At(0).points[0].Y, -30, 1e-3);
}
