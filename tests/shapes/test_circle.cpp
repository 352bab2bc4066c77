// The circle shape: building arcs, the three-point and tangent constructions,
// conversions, transforms, mark data, persistence, exports and picking.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/import/dxf_records.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "support/shape_support.h"

namespace {

using testsupport::Dist;
using testsupport::Unlocked;
using testsupport::ViewAt;
using testsupport::ExportXml;
using testsupport::SavedShape;

constexpr double kPi = 3.14159265358979323846;

tagPOINTF AtAngle(tagPOINTF c, double r, double deg) {
    return {float(c.x + r * std::cos(deg * kPi / 180)), float(c.y + r * std::sin(deg * kPi / 180))};
}

// Point at t of the cubic p[i..i+3] of a chain.
tagPOINTF ChainAt(const std::vector<tagPOINTF>& p, size_t i, double t) {
    const double u = 1 - t;
    auto f = [&](float tagPOINTF::*m) {
        return float(u * u * u * p[i].*m + 3 * u * u * t * p[i + 1].*m + 3 * u * t * t * p[i + 2].*m +
                     t * t * t * p[i + 3].*m);
    };
    return {f(&tagPOINTF::x), f(&tagPOINTF::y)};
}

// Largest distance of the chain's curve from the circle (centre c, radius r).
double MaxRadialError(const std::vector<tagPOINTF>& pts, tagPOINTF c, double r) {
    double worst = 0;
    for (size_t i = 0; i + 3 < pts.size(); i += 3)
        for (int k = 0; k <= 20; ++k) worst = std::max(worst, std::fabs(Dist(ChainAt(pts, i, k / 20.0), c) - r));
    return worst;
}

CCircle Built(tagPOINTF c, double r, double start, double end, int direction) {
    CCircle circle;
    circle.SetCircleProperty(c.x, c.y, r, start, end, direction);
    return circle;
}

// The numbers no shape may take: a call with one of them changes nothing.
// FLT_MAX and 1e30 are finite: what they would build may be refused.
const double kUnusable[] = {NAN, INFINITY, -INFINITY, FLT_MAX, 1e30};

}  // namespace

TEST(Circle, SweepDirectionAndAngleReduction) {
    CCircle c;
    c.startDeg = 30;
    c.endDeg = 30;
    c.arcPath = 1;
    EXPECT_EQ(c.GetSweepAngle(), 360.0);
    c.arcPath = 0;
    EXPECT_EQ(c.GetSweepAngle(), -360.0);
    c.startDeg = 370;
    c.endDeg = -30;
    c.arcPath = 1;
    EXPECT_EQ(c.GetSweepAngle(), 320.0);
    EXPECT_EQ(c.startDeg, 10.0);
    EXPECT_EQ(c.endDeg, -30.0);
    c.arcPath = 0;
    EXPECT_EQ(c.GetSweepAngle(), -40.0);

    // Direction 0 runs clockwise: a quarter from 90 to 0 passes 45 degrees.
    CCircle cw = Built({1, 2}, 4, 90, 0, 0);
    EXPECT_LT(Dist(cw.arcPoints.front(), {1, 6}), 1e-5);
    EXPECT_LT(Dist(cw.arcPoints[3], {5, 2}), 1e-5);
    EXPECT_LT(Dist(ChainAt(cw.arcPoints, 0, 0.5), AtAngle({1, 2}, 4, 45)), 1e-4);
}

TEST(Circle, BuildsFullCirclesAndPaddedArcs) {
    ShapeCounterOf(SHAPE_CIRCLE).Reset();
    CCircle full = Built({10, -5}, 3, 0, 0, 1);
    EXPECT_STREQ(full.GetCaption().GetString(), L"Circle1");
    ASSERT_EQ(full.arcPoints.size(), 13u);
    EXPECT_LT(MaxRadialError(full.arcPoints, {10, -5}, 3), 3 * 3e-4);
    EXPECT_LT(Dist(full.arcPoints.front(), {13, -5}), 1e-5);
    EXPECT_LT(Dist(full.arcPoints.back(), {13, -5}), 1e-5);

    CCircle quarter = Built({0, 0}, 2, 0, 90, 1);
    ASSERT_EQ(quarter.arcPoints.size(), 13u);
    for (size_t i = 3; i < 13; ++i) EXPECT_EQ(quarter.arcPoints[i], quarter.arcPoints[3]);
    EXPECT_LT(Dist(quarter.arcPoints[3], {0, 2}), 1e-5);
    EXPECT_EQ(quarter.lastCircle.endDeg, 90.0);
    EXPECT_EQ(quarter.lastCircle.arcPath, 1);

    // A negative radius draws the same circle about the same centre.
    CCircle negative = Built({1, 1}, -2, 0, 0, 1);
    EXPECT_LT(MaxRadialError(negative.arcPoints, {1, 1}, 2), 2e-3);
}

TEST(Circle, DegenerateInputNeverLeavesAHalfChangedCircle) {
    CCircle c = Built({5, 5}, 2, 0, 0, 1);
    const std::vector<tagPOINTF> before = c.arcPoints;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(c.InitCircle(nan, 1, 0, 3), -1);
    EXPECT_EQ(c.InitCircle(1, 1, 0, std::numeric_limits<float>::infinity()), -1);
    c.SetCircleProperty(1, 1, 1, nan, 90, 1);
    EXPECT_EQ(c.arcPoints, before);
    EXPECT_EQ(c.ptCenter, (tagPOINTF{5, 5}));
    EXPECT_EQ(c.Radius, 2.0);
    EXPECT_EQ(c.startDeg, 0.0);

    // A zero radius is a point at the centre, not a displaced 1 mm circle.
    CCircle dot = Built({7, -3}, 0, 0, 0, 1);
    ASSERT_EQ(dot.arcPoints.size(), 13u);
    for (const tagPOINTF& p : dot.arcPoints) EXPECT_EQ(p, (tagPOINTF{7, -3}));
    EXPECT_EQ(dot.Radius, 0.0);

    // An unbuilt circle answers without reading points it does not have.
    CCircle empty;
    tagPOINTF p{42, 42};
    EXPECT_EQ(empty.GetFlattenPathFirstPoint(p), 1);
    EXPECT_EQ(empty.GetFlattenPathLastPoint(p), 1);
    EXPECT_EQ(p, (tagPOINTF{42, 42}));
    EXPECT_EQ(empty.IsMe({0, 0}), 0);
    // Its property change centres the new circle at the origin.
    empty.SetCircleProperty(2.0, 0.0, 0.0);
    EXPECT_LT(MaxRadialError(empty.arcPoints, {0, 0}, 2), 2e-3);
}

TEST(Circle, ThreePointArcsRunThroughTheThirdPointsSide) {
    CCircle upper({1, 0}, {-1, 0}, {0, 1});
    EXPECT_EQ(upper.arcPath, 1);
    EXPECT_LT(Dist(upper.ptCenter, {0, 0}), 1e-6);
    EXPECT_EQ(upper.arcPoints.front(), (tagPOINTF{1, 0}));
    EXPECT_EQ(upper.arcPoints.back(), (tagPOINTF{-1, 0}));
    EXPECT_LT(Dist(ChainAt(upper.arcPoints, 0, 1.0), {0, 1}), 1e-5);

    CCircle lower({1, 0}, {-1, 0}, {0, -1});
    EXPECT_EQ(lower.arcPath, 0);
    EXPECT_LT(Dist(ChainAt(lower.arcPoints, 0, 1.0), {0, -1}), 1e-5);

    // Reversed chord: the arc still passes the third point.
    CCircle worker;
    ASSERT_EQ(worker.GetCircleFrom3P({-1, 0}, {1, 0}, {0, 1}, &worker), 1);
    EXPECT_LT(Dist(ChainAt(worker.arcPoints, 0, 1.0), {0, 1}), 1e-5);
    EXPECT_EQ(worker.lastCircle.arcPath, worker.arcPath);

    const std::vector<tagPOINTF> kept = worker.arcPoints;
    EXPECT_EQ(worker.GetCircleFrom3P({0, 0}, {1, 1}, {2, 2}, &worker), 0);
    EXPECT_EQ(worker.GetCircleFrom3P({0, 0}, {0, 0}, {2, 2}, nullptr), 0);
    EXPECT_EQ(worker.arcPoints, kept);
}

TEST(Circle, TangentContinuationSharesTheTangentAndEndsOnThePoints) {
    // An arc of the circle of radius 5 about the origin ending at (3, 4).
    CCircle arc = Built({0, 0}, 5, 0, std::atan2(4.0, 3.0) * 180 / kPi, 1);
    CCircle next;
    // General chord: p2-p3 lies on the line through the centre.
    ASSERT_EQ(arc.GetCircleFrom2P({5, 0}, {3, 4}, {6, 8}, &next), 1);
    EXPECT_LT(Dist(next.ptCenter, {4.5f, 6.0f}), 1e-4);
    EXPECT_NEAR(next.Radius, 2.5, 1e-4);

    // A level chord has a vertical bisector: a real arc, not a silent no-op.
    ASSERT_EQ(arc.GetCircleFrom2P({5, 0}, {3, 4}, {7, 4}, &next), 1);
    EXPECT_LT(Dist(next.ptCenter, {5.0f, 20.0f / 3}), 1e-4);
    EXPECT_NEAR(next.Radius, 10.0 / 3, 1e-4);
    EXPECT_EQ(next.arcPoints.front(), (tagPOINTF{3, 4}));
    EXPECT_EQ(next.arcPoints.back(), (tagPOINTF{7, 4}));
    EXPECT_EQ(arc.lastCircle.Radius, next.Radius);
    // It leaves (3, 4) heading the way the old arc arrived there.
    auto unit = [](tagPOINTF a, tagPOINTF b) {
        const double d = Dist(a, b);
        return tagPOINTF{float((b.x - a.x) / d), float((b.y - a.y) / d)};
    };
    const tagPOINTF arriving = unit(arc.arcPoints[2], arc.arcPoints[3]);
    const tagPOINTF leaving = unit(next.arcPoints[0], next.arcPoints[1]);
    EXPECT_GT(arriving.x * leaving.x + arriving.y * leaving.y, 0.9999);

    // Vertical chord and a point level with the centre are refused.
    const std::vector<tagPOINTF> kept = next.arcPoints;
    EXPECT_EQ(arc.GetCircleFrom2P({5, 0}, {3, 4}, {3, 9}, &next), 0);
    EXPECT_EQ(arc.GetCircleFrom2P({0, 5}, {5, 0}, {9, 1}, &next), 0);
    EXPECT_EQ(next.arcPoints, kept);

    // Side of the line through (0, 0) with slope -1 / 1.
    EXPECT_EQ(CCircle::GetPointAtLineDir(-1, {0, 0}, {-1, 2}), 1);
    EXPECT_EQ(CCircle::GetPointAtLineDir(-1, {0, 0}, {1, -2}), 0);
    EXPECT_EQ(CCircle::GetPointAtLineDir(1, {0, 0}, {2, 1}), 0);
    EXPECT_EQ(CCircle::GetPointAtLineDir(1, {0, 0}, {-2, -1}), 1);
    EXPECT_EQ(CCircle::GetPointAtLineDir(1, {0, 0}, {0, 5}), 0);
}

TEST(Circle, ToBezierGivesArcsTheCurveCanRebuild) {
    CCircle quarter = Built({0, 0}, 2, 0, 90, 1);
    quarter.SetPen(6);
    std::unique_ptr<CBezierCurve> one(static_cast<CBezierCurve*>(quarter.ToBezier()));
    EXPECT_EQ(one->GetPenIndex(), 6);  // the curve marks with the same laser parameters
    ASSERT_EQ(one->arrSegment.size(), 1u);
    EXPECT_EQ(one->bClosed, 0);
    const BEZIER_4POINTF_DRAW& seg = one->arrSegment[0];
    EXPECT_EQ(seg.LineType, 2);
    EXPECT_EQ(seg.ArcStartPoint, seg.p1);
    EXPECT_EQ(seg.ArcEndPoint, seg.p4);
    EXPECT_LT(Dist(seg.ArcCenterPoint, AtAngle({0, 0}, 2, 45)), 1e-4);
    // The curve's own arc builder finds the same arc from those three points.
    std::vector<BEZIER_4POINTF_DRAW> rebuilt;
    ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(rebuilt, seg.ArcStartPoint, seg.ArcCenterPoint, seg.ArcEndPoint));
    ASSERT_EQ(rebuilt.size(), 1u);
    EXPECT_LT(Dist(rebuilt[0].p2, seg.p2), 1e-4);

    CCircle full = Built({3, 3}, 1, 0, 0, 0);
    std::unique_ptr<CBezierCurve> ring(static_cast<CBezierCurve*>(full.ToBezier()));
    ASSERT_EQ(ring->arrSegment.size(), 4u);
    EXPECT_EQ(ring->bClosed, 1);
    const auto& s = ring->arrSegment;
    for (const auto& g : s) EXPECT_EQ(g.LineType, 2);
    // Two half arcs, each with consistent arc points and distinct ends.
    EXPECT_EQ(s[0].ArcCenterPoint, s[1].ArcCenterPoint);
    EXPECT_EQ(s[2].ArcCenterPoint, s[3].ArcCenterPoint);
    EXPECT_EQ(s[0].ArcStartPoint, s[0].p1);
    EXPECT_EQ(s[1].ArcEndPoint, s[2].ArcStartPoint);
    EXPECT_EQ(s[3].ArcEndPoint, s[3].p4);
    EXPECT_NEAR(Dist(s[0].ArcStartPoint, s[1].ArcEndPoint), 2.0, 1e-4);

    // Stretched into an ellipse: no longer circular arcs.
    full.Zoom({3, 3}, 2, 1);
    std::unique_ptr<CBezierCurve> oval(static_cast<CBezierCurve*>(full.ToBezier()));
    for (const auto& g : oval->arrSegment) EXPECT_EQ(g.LineType, 0);

    std::unique_ptr<CBezierCurve> none(static_cast<CBezierCurve*>(CCircle().ToBezier()));
    EXPECT_TRUE(none->arrSegment.empty());
}

TEST(Circle, TransformsMoveThePointsAndForceNewMarkData) {
    ViewAt v(2.0f);
    CCircle c = Built({0, 0}, 5, 0, 0, 1);
    c.SetDocView(&v.doc, &v.view);
    tagMarkDataPar data;
    ASSERT_TRUE(c.GetMarkData(data, nullptr));
    ASSERT_EQ(data.arrPaths.size(), 1u);

    c.Rotate(90, {10, 0});
    EXPECT_LT(Dist(c.arcPoints.front(), {10, -5}), 1e-4);
    EXPECT_LT(Dist(c.ptCenter, {10, -10}), 1e-5);
    tagMarkDataPar after;
    ASSERT_TRUE(c.GetMarkData(after, nullptr));
    EXPECT_NEAR(after.rect.X, 5.0f, 1e-3);
    EXPECT_NEAR(after.rect.Y, -5.0f, 1e-3);
    EXPECT_LT(Dist(after.arrPaths[0].arrPolylines[0].front(), {10, -5}), 1e-4);

    c.Move(1, 2);
    EXPECT_LT(Dist(c.ptCenter, {11, -8}), 1e-5);
    EXPECT_TRUE(c.GetMarkCache().IsEmpty());
    EXPECT_TRUE(Unlocked(c));

    CCircle z = Built({0, 0}, 2, 0, 0, 1);
    z.Zoom({0, 0}, 2, 1);
    EXPECT_EQ(z.Radius, 4.0);
    Gdiplus::RectF r = testsupport::RectOf(z);
    EXPECT_NEAR(r.Width, 8.0f, 1e-3);
    EXPECT_NEAR(r.Height, 4.0f, 1e-3);
    z.Move(10, 0);
    z.SetCircleProperty(1.0, 0.0, 0.0);
    EXPECT_LT(MaxRadialError(z.arcPoints, {10, 0}, 1), 1e-3);

    const std::vector<tagPOINTF> before = z.arcPoints;
    z.Mirror({3, 3}, 0);
    z.Mirror({3, 3}, 4);
    EXPECT_EQ(z.arcPoints, before);
    z.Mirror({10, 0}, 2);
    EXPECT_LT(Dist(z.arcPoints[3], {10, -1}), 1e-4);
    const tagPOINTF last = z.arcPoints.back();
    z.SortPath();
    EXPECT_EQ(z.arcPoints.front(), last);
}

// The centre, angles and direction follow every transform that moves the
// arc, so a handle drag afterwards rebuilds about the drawn centre, from the
// drawn start. Oracle: the transforms written out here as formulas.
TEST(Circle, HandleDragAfterATransformWorksOnTheDrawnArc) {
    const tagPOINTF c0{1.5f, -2};
    auto rotate = [](double deg, tagPOINTF f) {
        const double a = deg * kPi / 180;
        return [=](tagPOINTF p) {
            return tagPOINTF{float(f.x + (p.x - f.x) * std::cos(a) - (p.y - f.y) * std::sin(a)),
                             float(f.y + (p.x - f.x) * std::sin(a) + (p.y - f.y) * std::cos(a))};
        };
    };
    auto scale = [](double sx, double sy, tagPOINTF f) {
        return [=](tagPOINTF p) { return tagPOINTF{float(f.x + (p.x - f.x) * sx), float(f.y + (p.y - f.y) * sy)}; };
    };
    struct Row {
        const char* name;
        std::function<void(CCircle&)> apply;
        std::function<tagPOINTF(tagPOINTF)> map;
        bool uniform;  // the image is still a circle
    };
    const Row rows[] = {
        {"rotate 90 about (10, 0)", [](CCircle& c) { c.Rotate(90, {10, 0}); }, rotate(90, {10, 0}), true},
        {"rotate 37.5 about (-3, 4)", [](CCircle& c) { c.Rotate(37.5, {-3, 4}); }, rotate(37.5, {-3, 4}), true},
        {"mirror x about (2, -1)", [](CCircle& c) { c.Mirror({2, -1}, 1); }, scale(-1, 1, {2, -1}), true},
        {"mirror y about (2, -1)", [](CCircle& c) { c.Mirror({2, -1}, 2); }, scale(1, -1, {2, -1}), true},
        {"mirror both about (2, -1)", [](CCircle& c) { c.Mirror({2, -1}, 3); }, scale(-1, -1, {2, -1}), true},
        {"zoom 2.5 about (-6, 2)", [](CCircle& c) { c.Zoom({-6, 2}, 2.5, 2.5); }, scale(2.5, 2.5, {-6, 2}), true},
        {"zoom -1.5 about (4, 1)", [](CCircle& c) { c.Zoom({4, 1}, -1.5, 1.5); }, scale(-1.5, 1.5, {4, 1}), true},
        {"zoom 2, 0.5 about (3, 3)", [](CCircle& c) { c.Zoom({3, 3}, 2, 0.5); }, scale(2, 0.5, {3, 3}), false},
        {"slope 0.3 about (0, 5)", [](CCircle& c) { c.Slope({0, 5}, 0.3, 0); },
         [](tagPOINTF p) { return tagPOINTF{float(p.x - (p.y - 5) * std::tan(0.3)), p.y}; }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCircle c = Built(c0, 5, 20, 140, 1);
        const tagPOINTF start = c.arcPoints.front(), end = c.arcPoints.back();
        row.apply(c);
        const tagPOINTF centre = row.map(c0);
        EXPECT_LT(Dist(c.ptCenter, centre), 1e-4);
        if (!row.uniform) continue;
        EXPECT_LT(Dist(c.arcPoints.front(), row.map(start)), 1e-4);
        // Drag a handle to 6 mm from the drawn centre.
        ASSERT_EQ(c.ModifyEditPoint(0, {centre.x, centre.y + 6}), 0);
        EXPECT_LT(MaxRadialError(c.arcPoints, centre, 6), 6 * 3e-4);
        // The ends of the drawn arc, moved out to 6 mm: the same span,
        // traced the way the transformed arc runs.
        auto outTo6 = [&](tagPOINTF p) {
            const double d = Dist(p, centre);
            return tagPOINTF{float(centre.x + (p.x - centre.x) * 6 / d), float(centre.y + (p.y - centre.y) * 6 / d)};
        };
        EXPECT_LT(Dist(c.arcPoints.front(), outTo6(row.map(start))), 1e-4);
        EXPECT_LT(Dist(c.arcPoints.back(), outTo6(row.map(end))), 1e-4);
    }
}

namespace {

constexpr int kNoResult = -1;
int Failed(bool f) { return f ? 1 : 0; }

// One numeric way into a shape: the call with the number put in, giving 1
// when it reported failure, 0 success, kNoResult when it has no result.
template <class S>
struct Way {
    const char* name;
    std::function<int(S&, double)> call;
    bool refusesHuge;  // FLT_MAX must be refused too
};

// Each way with each number on a fresh shape: a call with a number that is
// not finite (or FLT_MAX where it must be) is refused and reported, a
// reported failure leaves the saved bytes as they were, and whatever comes
// out of the shape is finite.
template <class S>
void ExpectRefusals(const std::function<S()>& make, const std::vector<Way<S>>& ways) {
    for (const Way<S>& way : ways) {
        for (const double v : kUnusable) {
            SCOPED_TRACE(testing::Message() << way.name << " " << v);
            S shape = make();
            const testsupport::Bytes before = SavedShape(shape);
            const int result = way.call(shape, v);
            const bool unchanged = SavedShape(shape) == before;
            if (!std::isfinite(v) || (v == FLT_MAX && way.refusesHuge)) {
                EXPECT_TRUE(unchanged);
                EXPECT_NE(result, 0);
            } else if (result == 1) {
                EXPECT_TRUE(unchanged);
            }
            testsupport::ExpectHandsOnFinite(shape, "shape");
        }
    }
}

// The transforms every shape has, with the number in each argument.
template <class S>
std::vector<Way<S>> TransformWays() {
    return {
        {"move x", [](S& c, double v) { return c.Move(float(v), 0), kNoResult; }, true},
        {"move y", [](S& c, double v) { return c.Move(0, float(v)), kNoResult; }, true},
        {"rotate angle", [](S& c, double v) { return c.Rotate(v, {1, 2}), kNoResult; }, false},
        {"rotate centre", [](S& c, double v) { return c.Rotate(30, {float(v), 2}), kNoResult; }, true},
        {"zoom x", [](S& c, double v) { return c.Zoom({1, -1}, v, 1.5), kNoResult; }, true},
        {"zoom y", [](S& c, double v) { return c.Zoom({1, -1}, 0.5, v), kNoResult; }, true},
        {"zoom fixed", [](S& c, double v) { return c.Zoom({1, float(v)}, 2, 3), kNoResult; }, true},
        {"slope a", [](S& c, double v) { return c.Slope({1, -1}, v, 0), kNoResult; }, false},
        {"slope b", [](S& c, double v) { return c.Slope({1, -1}, 0.1, v), kNoResult; }, false},
        {"slope fixed", [](S& c, double v) { return c.Slope({float(v), 1}, 0.2, 0.3), kNoResult; }, true},
        {"mirror x", [](S& c, double v) { return c.Mirror({float(v), 1}, 1), kNoResult; }, true},
        {"mirror both", [](S& c, double v) { return c.Mirror({1, float(v)}, 3), kNoResult; }, true},
    };
}

tagEllipse Record(float cx, float cy, float mx, float my, float ratio, float t0, float t1) {
    tagEllipse e;
    e.ptCenter = Gdiplus::PointF(cx, cy);
    e.ptMajorEnd = Gdiplus::PointF(mx, my);
    e.fRatio = ratio;
    e.fStartParam = t0;
    e.fEndParam = t1;
    return e;
}

}  // namespace

// NaN, both infinities, FLT_MAX and 1e30 on every numeric setter, the
// three-point constructor, every transform and the file, for circles and
// for drawn and imported ellipse arcs.
TEST(CircleAndEllipse, UnusableNumbersAreRefusedEverywhere) {
    const std::vector<tagPOINTF> chord{{1, 1}, {2, 2}, {3, 1}, {4, 0}};
    std::vector<Way<CCircle>> circleWays = {
        {"InitCircle x", [&](CCircle& c, double v) { return Failed(c.InitCircle(float(v), 2, 0, 3) != 0); }, true},
        {"InitCircle y", [&](CCircle& c, double v) { return Failed(c.InitCircle(2, float(v), 0, 3) != 0); }, true},
        {"InitCircle r", [&](CCircle& c, double v) { return Failed(c.InitCircle(2, 2, 0, float(v)) != 0); }, true},
        {"property x", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(v, 1, 2, 10, 80, 1) != 0); }, true},
        {"property y", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(1, v, 2, 10, 80, 1) != 0); }, true},
        {"property r", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(1, 1, v, 10, 80, 1) != 0); }, true},
        {"property start", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(1, 1, 2, v, 80, 1) != 0); }, false},
        {"property end", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(1, 1, 2, 10, v, 0) != 0); }, false},
        {"slot 48 r", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(v, 10.0, 80.0) != 0); }, true},
        {"slot 48 start", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(2.0, v, 80.0) != 0); }, false},
        {"slot 48 end", [&](CCircle& c, double v) { return Failed(c.SetCircleProperty(2.0, 10.0, v) != 0); }, false},
        {"SetData start", [&](CCircle& c, double v) { return c.SetData({v, 2, chord}), kNoResult; }, false},
        {"SetData radius", [&](CCircle& c, double v) { return c.SetData({0, v, chord}), kNoResult; }, true},
        {"SetData point", [&](CCircle& c, double v) { return c.SetData({0, 2, {{1, 1}, {float(v), 2}}}), kNoResult; }, true},
        {"three points", [&](CCircle& c, double v) { return Failed(!c.GetCircleFrom3P({float(v), 0}, {0, 1}, {1, 0}, &c)); }, true},
        {"tangent", [&](CCircle& c, double v) { return Failed(!c.GetCircleFrom2P({5, 0}, {3, 4}, {6, float(v)}, &c)); }, true},
    };
    for (Way<CCircle>& w : TransformWays<CCircle>()) circleWays.push_back(w);
    ExpectRefusals<CCircle>(
        [] {
            CCircle c = Built({3.25f, -1.5f}, 4.5, 20, 250, 1);
            c.SetPen(6);
            return c;
        },
        circleWays);

    std::vector<Way<CEllipseArc>> ellipseWays = {
        {"InitArcPath x", [](CEllipseArc& e, double v) { return Failed(e.InitArcPath({float(v), 0, 20, 10}, false) != 0); }, true},
        {"InitArcPath width", [](CEllipseArc& e, double v) { return Failed(e.InitArcPath({0, 1, float(v), 10}, false) != 0); }, true},
        {"InitArcPath height", [](CEllipseArc& e, double v) { return Failed(e.InitArcPath({0, 1, 20, float(v)}, false) != 0); }, true},
        {"SetArcPath start", [](CEllipseArc& e, double v) { return Failed(e.SetArcPath(v, 90) != 0); }, false},
        {"SetArcPath end", [](CEllipseArc& e, double v) { return Failed(e.SetArcPath(30, v) != 0); }, false},
        {"SetArcDegree both", [](CEllipseArc& e, double v) { return Failed(e.SetArcDegree(v, v) != 0); }, false},
        {"SetArcDegree end", [](CEllipseArc& e, double v) { return Failed(e.SetArcDegree(40, v) != 0); }, false},
        {"DXF centre", [](CEllipseArc& e, double v) { tagEllipse r = Record(float(v), 1, 6, 4, 0.5f, 0.2f, 2); return Failed(e.ProcessDxf(r) != 1); }, true},
        {"DXF major end", [](CEllipseArc& e, double v) { tagEllipse r = Record(2, 1, 6, float(v), 0.5f, 0.2f, 2); return Failed(e.ProcessDxf(r) != 1); }, true},
        {"DXF ratio", [](CEllipseArc& e, double v) { tagEllipse r = Record(2, 1, 6, 4, float(v), 0.2f, 2); return Failed(e.ProcessDxf(r) != 1); }, true},
        {"DXF start", [](CEllipseArc& e, double v) { tagEllipse r = Record(2, 1, 6, 4, 0.5f, float(v), 2); return Failed(e.ProcessDxf(r) != 1); }, false},
        {"DXF end", [](CEllipseArc& e, double v) { tagEllipse r = Record(2, 1, 6, 4, 0.5f, 0.2f, float(v)); return Failed(e.ProcessDxf(r) != 1); }, false},
    };
    for (Way<CEllipseArc>& w : TransformWays<CEllipseArc>()) ellipseWays.push_back(w);
    ExpectRefusals<CEllipseArc>(
        [] {
            CEllipseArc e;
            e.InitArcPath(Gdiplus::RectF(-3.5f, 1.25f, 17, 9.5f), false);
            e.SetArcDegree(25, 230);
            e.SetPen(6);
            return e;
        },
        ellipseWays);
    ExpectRefusals<CEllipseArc>(
        [] {
            CEllipseArc e;
            tagEllipse r = Record(2, -1, 7, 3, 0.4f, 0.3f, 4.1f);
            e.ProcessDxf(r);
            return e;
        },
        ellipseWays);

    // A cut that yields no arc (of an ellipse zoomed flat) keeps the arc.
    CEllipseArc flat;
    flat.InitArcPath(Gdiplus::RectF(-3.5f, 1.25f, 17, 9.5f), false);
    flat.Zoom({0, 2}, 1.5, 0);
    const testsupport::Bytes line = SavedShape(flat);
    EXPECT_EQ(flat.SetArcDegree(10, 50), -1);
    EXPECT_EQ(SavedShape(flat), line);

    // A zoom by 1e30 fits; a second one would overflow and is refused.
    CCircle big = Built({3.25f, -1.5f}, 4.5, 0, 0, 1);
    big.Zoom({0, 0}, 1e30, 1e30);
    EXPECT_NEAR(big.ptCenter.x, 3.25e30, 1e25);
    const testsupport::Bytes zoomed = SavedShape(big);
    big.Zoom({0, 0}, 1e30, 1e30);
    EXPECT_EQ(SavedShape(big), zoomed);

    for (const double v : kUnusable) {
        SCOPED_TRACE(v);
        CCircle made({float(v), 0}, {0, 1}, {1, 0});
        EXPECT_TRUE(made.arcPoints.empty());
        testsupport::ExpectHandsOnFinite(made, "made");
        // Files whose shapes hold the number as a point and as parameters.
        const bool dropped = !(std::fabs(v) < 1e31);
        CCircle src = Built({3.25f, -1.5f}, 4.5, 20, 250, 1);
        src.arcPoints[5] = {1, float(v)};
        src.startDeg = src.endDeg = src.Radius = v;
        src.ptCenter = {float(v), 0};
        CCircle read;
        testsupport::ReadFrom(read, SavedShape(src));
        read.RestoreAfterRead();
        EXPECT_EQ(read.arcPoints.empty(), dropped);
        testsupport::ExpectHandsOnFinite(read, "read");
        for (int which = 0; which < 2; ++which) {
            CEllipseArc e;
            e.InitArcPath(Gdiplus::RectF(-3.5f, 1.25f, 17, 9.5f), false);
            (which == 0 ? e.arcPoints[4] : e.ctrlPoints[7]) = {float(v), 2};
            e.startDeg = e.endDeg = e.m_axisA = e.m_rotAngle = v;
            e.m_ptCenter = {0, float(v)};
            CEllipseArc back;
            testsupport::ReadFrom(back, SavedShape(e));
            back.RestoreAfterRead();
            EXPECT_EQ(back.arcPoints.empty(), dropped);
            testsupport::ExpectHandsOnFinite(back, "back");
        }
    }
}

TEST(Circle, MarkDataFlatteningAndTheLock) {
    CCircle unbuilt;
    tagMarkDataPar data;
    data.bFlag = 7;
    data.arrPaths.resize(2);
    EXPECT_FALSE(unbuilt.GetMarkData(data, nullptr));
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_EQ(data.bFlag, 7);
    EXPECT_TRUE(Unlocked(unbuilt));

    CCircle c = Built({0, 0}, 10, 0, 180, 1);
    c.SetPen(9);
    c.SetReverseOrder(true);
    tagMarkDataPar out;
    out.arrPaths.resize(3);  // the caller's paths never pile up in the cache
    ASSERT_TRUE(c.GetMarkData(out, nullptr));
    ASSERT_EQ(out.arrPaths.size(), 1u);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 9);
    const std::vector<tagPOINTF>& line = out.arrPaths[0].arrPolylines.at(0);
    for (const tagPOINTF& p : line) EXPECT_NEAR(Dist(p, {0, 0}), 10.0, 0.26);
    EXPECT_NEAR(out.rect.Height, 10.0f, 1e-3);
    EXPECT_TRUE(Unlocked(c));

    // The polyline stays within a tenth of the smoothing ratio of the arc.
    std::unique_ptr<CPolyLine> poly(static_cast<CPolyLine*>(c.ToPolyLine()));
    EXPECT_EQ(poly->GetPenIndex(), 9);
    EXPECT_EQ(poly->GetCaption(), c.GetCaption());
    ASSERT_GT(poly->arrPoint.size(), 10u);
    for (size_t i = 1; i < poly->arrPoint.size(); ++i) {
        const tagPOINTF m{(poly->arrPoint[i - 1].x + poly->arrPoint[i].x) / 2,
                          (poly->arrPoint[i - 1].y + poly->arrPoint[i].y) / 2};
        EXPECT_NEAR(Dist(m, {0, 0}), 10.0, 0.01 * 0.1 + 3e-3);
    }
    std::vector<tagPOINTF> kept{{1, 1}};
    c.GetFlattenPathPoints(kept, 0.5f);
    EXPECT_EQ(kept.front(), (tagPOINTF{1, 1}));
    c.GetSnapPoint(kept);
    EXPECT_EQ(kept, c.arcPoints);
}

TEST(Circle, SavedArcsComeBackWhole) {
    CCircle c = Built({2, 3}, 4, 30, 120, 1);
    c.SetCaption(L"Ring");
    c.UpdatePropsValue();
    ASSERT_EQ(c.arr13Pointf.size(), 1u);
    EXPECT_EQ(c.arr13Pointf[0], std::vector<tagPOINTF>(13, tagPOINTF{0, 0}));
    SriFile out;
    c.Save(false, &out);
    SriFile in(out.GetWrittenBytes().data(), out.GetWrittenBytes().size());
    CCircle read;
    read.Read(false, &in);
    EXPECT_TRUE(in.IsGood());
    read.RestoreAfterRead();
    EXPECT_EQ(read.arcPoints, c.arcPoints);
    EXPECT_EQ(read.m_wstrCaption, L"Ring");
    EXPECT_EQ(read.ptCenter, c.ptCenter);
    // The arc stays an arc at its next rebuild.
    read.SetCircleProperty(read.ptCenter.x, read.ptCenter.y, 4, read.startDeg, read.endDeg, read.GetArcPath());
    EXPECT_EQ(read.arcPoints, c.arcPoints);

    SCircleData undo{45.0, 7.0, {{1, 1}, {2, 2}}};
    read.SetData(undo);
    EXPECT_EQ(read.startDeg, 45.0);
    EXPECT_EQ(read.Radius, 7.0);
    EXPECT_EQ(read.arcPoints, undo.arcPoints);
}

TEST(Circle, XmlAndGCodeExports) {
    CCircle c = Built({0, 0}, 5, 0, 90, 1);
    c.SetCaption(L"a\"<b>&");
    const std::string xml = ExportXml(c);
    EXPECT_EQ(xml.rfind("<Circle Name=\"a&quot;&lt;b&gt;&amp;\" startDeg=\"0.000000\" diameter=\"5.000000\">"
                        "<Point nSize=\"13\"><P x=\"5.000\" y=\"0.000\" z=\"0.000\"/>",
                        0),
              0u);
    EXPECT_NE(xml.find("</Point></Circle>"), std::string::npos);

    GCodeContext ctx;
    ctx.bToList = 1;
    c.ExportGCodeToBuff(ctx);
    ASSERT_GT(ctx.lines.size(), 2u);
    EXPECT_NEAR(ctx.fLastX, 0.0f, 1e-4);
    EXPECT_NEAR(ctx.fLastY, 5.0f, 1e-4);
}

TEST(Circle, PickingAndDrawing) {
    ViewAt v(2.0f);
    CCircle c = Built({20, 20}, 10, 0, 0, 1);
    c.SetDocView(&v.doc, &v.view);
    EXPECT_EQ(c.IsMe({30, 20}), 1);
    EXPECT_EQ(c.IsMe({33.9f, 20}), 1);  // the pick band is 8 mm wide
    EXPECT_EQ(c.IsMe({34.5f, 20}), 0);
    EXPECT_EQ(c.IsMe({20, 20}), 0);

    Gdiplus::RectF around(5, 35, 30, 30);
    Gdiplus::RectF inside(15, 25, 10, 10);
    Gdiplus::RectF onEdge(28, 22, 4, 4);
    EXPECT_EQ(c.IsInRect(around), 1);
    EXPECT_EQ(c.IsInRect(inside), 0);
    EXPECT_EQ(c.IsSelectedForRect(inside), 0);
    EXPECT_EQ(c.IsSelectedForRect(onEdge), 1);

    RecordingCanvas canvas;
    CDC dc(&canvas);
    c.SetSelectFlag(1, false);
    c.Draw(&dc, nullptr, RGB(255, 0, 0), 0, 0, 0, 1, 0.0f, 0.0f);
    ASSERT_GE(canvas.Count(), 2u);
    const CanvasRecord curve = canvas.At(0);
    EXPECT_EQ(curve.op, CanvasOp::Beziers);
    ASSERT_EQ(curve.points.size(), 13u);
    EXPECT_NEAR(curve.points[0].X, 60.0f, 1e-3);  // (30, 20) at 2 px/mm, y down
    EXPECT_NEAR(curve.points[0].Y, -40.0f, 1e-3);
    EXPECT_EQ(canvas.At(1).op, CanvasOp::Rectangle);

    canvas.Reset();
    c.DrawEditPoints(&dc);
    EXPECT_EQ(canvas.Count(), 2u);

    canvas.Reset();
    CCircle fewer;
    fewer.SetDocView(&v.doc, &v.view);
    fewer.SetData({0.0, 1.0, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}});
    fewer.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0.0f, 0.0f);
    EXPECT_EQ(canvas.Count(), 0u);
}
