#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "morvik/core/geometry.h"

namespace {

tagPOINTF P(float x, float y) { return tagPOINTF{x, y}; }

// Independent evaluation of a cubic in the usual orientation (t = 0 at q0)
// by repeated linear interpolation.
tagPOINTF DeCasteljau(double t, tagPOINTF q0, tagPOINTF q1, tagPOINTF q2, tagPOINTF q3) {
    auto lerp = [t](tagPOINTF a, tagPOINTF b) {
        return P(static_cast<float>(a.x + (b.x - a.x) * t), static_cast<float>(a.y + (b.y - a.y) * t));
    };
    const tagPOINTF a = lerp(q0, q1), b = lerp(q1, q2), c = lerp(q2, q3);
    const tagPOINTF d = lerp(a, b), e = lerp(b, c);
    return lerp(d, e);
}

TEST(GeometryOrientation, CrossSignAndSegmentCrossing) {
    EXPECT_EQ(CrossSign(P(0, 0), P(10, 0), P(5, 1)), 1);
    EXPECT_EQ(CrossSign(P(0, 0), P(10, 0), P(5, -1)), -1);
    EXPECT_EQ(CrossSign(P(0, 0), P(10, 10), P(3, 3)), 0);
    // 1e-7 off a short line lies inside the dead band.
    EXPECT_EQ(CrossSign(P(0, 0), P(1, 0), P(0.5f, 1e-7f)), 0);

    EXPECT_TRUE(SegmentsCross(P(0, 0), P(10, 10), P(0, 10), P(10, 0)));
    EXPECT_FALSE(SegmentsCross(P(0, 0), P(10, 0), P(10, 0), P(10, 10)));  // shared end
    EXPECT_FALSE(SegmentsCross(P(0, 0), P(10, 0), P(5, 0), P(5, 10)));    // T touch
    EXPECT_FALSE(SegmentsCross(P(0, 0), P(10, 0), P(5, 0), P(15, 0)));    // collinear overlap
    EXPECT_FALSE(SegmentsCross(P(0, 0), P(10, 0), P(11, -1), P(11, 1)));  // misses the end
}

TEST(GeometryHitTests, PointNearSegmentToleranceShrinksWithLength) {
    // Area bound 20: 0.5 mm on a 40 mm segment.
    EXPECT_TRUE(PointNearSegment(0, 0, 40, 0, 20, 0.45f));
    EXPECT_FALSE(PointNearSegment(0, 0, 40, 0, 20, 0.55f));
    // On a 10 mm horizontal segment the area would allow 2 mm, but the box
    // widened by 1 cuts it to 1 mm.
    EXPECT_TRUE(PointNearSegment(0, 0, 10, 0, 5, 0.95f));
    EXPECT_FALSE(PointNearSegment(0, 0, 10, 0, 5, 1.5f));
    // A diagonal has a roomy box, so the area decides: doubled area 18 and 20.
    EXPECT_TRUE(PointNearSegment(0, 0, 10, 10, 5.9f, 4.1f));
    EXPECT_FALSE(PointNearSegment(0, 0, 10, 10, 6.0f, 4.0f));
    // On the line beyond the end: inside the box widened by 1 only.
    EXPECT_TRUE(PointNearSegment(0, 0, 10, 0, 10.9f, 0));
    EXPECT_FALSE(PointNearSegment(0, 0, 10, 0, 11.5f, 0));
    EXPECT_FALSE(PointNearSegment(0, 0, 10, 0, -1.5f, 0));
}

TEST(GeometryHitTests, SegmentHitsRectTakesYAsLowerEdge) {
    const Gdiplus::RectF r(0, 0, 10, 10);  // y from 0 up to 10
    EXPECT_TRUE(SegmentHitsRect(r, P(5, 9), P(50, 50)));     // p inside only with Y as the lower edge
    EXPECT_TRUE(SegmentHitsRect(r, P(20, 20), P(10, 10)));   // q on the corner
    EXPECT_TRUE(SegmentHitsRect(r, P(-5, 5), P(15, 5)));     // passes through
    EXPECT_FALSE(SegmentHitsRect(r, P(-5, -1), P(15, -1)));  // below
    EXPECT_FALSE(SegmentHitsRect(r, P(5, -9), P(5, -1)));    // would be inside if Y were the top
}

TEST(GeometryHitTests, PtInRectFBorderBand) {
    const Gdiplus::RectF r(0, 10, 10, 10);  // x 0..10, y 0..10, Y the top
    EXPECT_TRUE(PtInRectFBorder(0, 0, r, false));
    EXPECT_FALSE(PtInRectFBorder(5, 10.5f, r, false));
    EXPECT_FALSE(PtInRectFBorder(-0.0005f, 5, r, false));
    EXPECT_TRUE(PtInRectFBorder(-0.0005f, 5, r, true));
    EXPECT_TRUE(PtInRectFBorder(5, 10.0005f, r, true));
    EXPECT_TRUE(PtInRectFBorder(10.0005f, -0.0005f, r, true));  // corner within both bands
    EXPECT_FALSE(PtInRectFBorder(-0.002f, 5, r, true));
}

TEST(GeometryBezier, ParameterIsReversed) {
    const tagPOINTF p0 = P(0, 0), p1 = P(1, 3), p2 = P(4, 3), p3 = P(6, -1);
    EXPECT_DOUBLE_EQ(BezierPointX(1.0, p0, p1, p2, p3), 0.0);
    EXPECT_DOUBLE_EQ(BezierPointY(0.0, p0, p1, p2, p3), -1.0);
    for (double t : {0.1, 0.25, 0.5, 0.8}) {
        // At parameter t the reversed form is the usual cubic at 1 - t.
        const tagPOINTF expect = DeCasteljau(1.0 - t, p0, p1, p2, p3);
        EXPECT_NEAR(BezierPointX(t, p0, p1, p2, p3), expect.x, 1e-5) << t;
        EXPECT_NEAR(BezierPointY(t, p0, p1, p2, p3), expect.y, 1e-5) << t;
    }
}

TEST(GeometryBezier, FitRecoversControlPointsOfSampledCubic) {
    const tagPOINTF q0 = P(0, 0), q1 = P(2, 5), q2 = P(7, -3), q3 = P(10, 1);
    for (int n : {4, 7, 50}) {
        std::vector<tagPOINTF> pts;
        for (int i = 0; i < n; ++i) pts.push_back(DeCasteljau(static_cast<double>(i) / (n - 1), q0, q1, q2, q3));
        tagPOINTF c1{}, c2{};
        EXPECT_TRUE(FitBezierControls(pts, c1, c2));
        EXPECT_NEAR(c1.x, q1.x, 1e-3) << n;
        EXPECT_NEAR(c1.y, q1.y, 1e-3) << n;
        EXPECT_NEAR(c2.x, q2.x, 1e-3) << n;
        EXPECT_NEAR(c2.y, q2.y, 1e-3) << n;
    }
}

TEST(GeometryBezier, FitWithTooFewPointsStaysFinite) {
    // Three points: the single interior sample ends up on the curve's midpoint.
    const std::vector<tagPOINTF> three = {P(0, 0), P(5, 4), P(10, 0)};
    tagPOINTF c1{}, c2{};
    EXPECT_TRUE(FitBezierControls(three, c1, c2));
    EXPECT_EQ(c1, c2);
    const tagPOINTF mid = DeCasteljau(0.5, three[0], c1, c2, three[2]);
    EXPECT_NEAR(mid.x, 5.0, 1e-5);
    EXPECT_NEAR(mid.y, 4.0, 1e-5);

    // Two points: a straight segment with the controls on the chord's thirds.
    EXPECT_FALSE(FitBezierControls({P(0, 0), P(3, 6)}, c1, c2));
    EXPECT_NEAR(c1.x, 1, 1e-6);
    EXPECT_NEAR(c1.y, 2, 1e-6);
    EXPECT_NEAR(c2.x, 2, 1e-6);
    EXPECT_NEAR(c2.y, 4, 1e-6);

    EXPECT_FALSE(FitBezierControls({P(2, 3)}, c1, c2));
    EXPECT_EQ(c1, P(2, 3));
    EXPECT_EQ(c2, P(2, 3));
    EXPECT_FALSE(FitBezierControls({}, c1, c2));
    EXPECT_TRUE(std::isfinite(c1.x) && std::isfinite(c2.y));
}

TEST(GeometryLines, LineIntersectionKnownAnswers) {
    tagPOINTF out{7, 7};
    ASSERT_TRUE(LineIntersection(out, 0, 0, 1, 1, 0, 1, 1, 0));
    EXPECT_NEAR(out.x, 0.5, 1e-6);
    EXPECT_NEAR(out.y, 0.5, 1e-6);

    // Infinite lines: y = x and y = -2x + 9 meet at (3, 3), beyond both segments.
    ASSERT_TRUE(LineIntersection(out, 0, 0, 1, 1, 0, 9, 1, 7));
    EXPECT_NEAR(out.x, 3, 1e-5);
    EXPECT_NEAR(out.y, 3, 1e-5);

    out = P(7, 7);
    EXPECT_FALSE(LineIntersection(out, 0, 0, 10, 0, 0, 1, 10, 1));
    EXPECT_EQ(out, P(0, 0));
}

TEST(GeometryRects, UnionOfEmptyAndNonEmpty) {
    const Gdiplus::RectF a(1, 5, 2, 3);  // x 1..3, y 2..5
    const Gdiplus::RectF b(4, 1, 1, 4);  // x 4..5, y -3..1
    const Gdiplus::RectF empty(9, 9, 0, 5);
    Gdiplus::RectF out(0, 0, 0, 0);

    ASSERT_TRUE(UnionRectF(out, a, b));
    EXPECT_FLOAT_EQ(out.X, 1);
    EXPECT_FLOAT_EQ(out.Y, 5);
    EXPECT_FLOAT_EQ(out.Width, 4);
    EXPECT_FLOAT_EQ(out.Height, 8);

    ASSERT_TRUE(UnionRectF(out, empty, b));
    EXPECT_TRUE(out.Equals(b));
    ASSERT_TRUE(UnionRectF(out, a, empty));
    EXPECT_TRUE(out.Equals(a));

    // Both empty: out untouched, the answer is whether out was non-empty.
    out = a;
    EXPECT_TRUE(UnionRectF(out, empty, empty));
    EXPECT_TRUE(out.Equals(a));
    out = Gdiplus::RectF(0, 0, 0, 0);
    EXPECT_FALSE(UnionRectF(out, empty, empty));

    // A second rectangle hugging the y axis is ignored.
    ASSERT_TRUE(UnionRectF(out, a, Gdiplus::RectF(-0.0004f, 100, 0.0008f, 200)));
    EXPECT_TRUE(out.Equals(a));
}

TEST(GeometryRects, TouchingIsNeitherIntersectingNorDisjoint) {
    const Gdiplus::RectF a(0, 10, 10, 10);
    const Gdiplus::RectF right(10, 10, 5, 10);  // shares a's right edge
    const Gdiplus::RectF below(0, 0, 10, 5);    // shares a's bottom edge
    const Gdiplus::RectF overlap(5, 5, 10, 10);
    const Gdiplus::RectF apart(20, 10, 5, 5);
    for (const auto& t : {right, below}) {
        EXPECT_FALSE(RectsIntersect(a, t));
        EXPECT_FALSE(RectsDisjoint(a, t));
    }
    EXPECT_TRUE(RectsIntersect(a, overlap));
    EXPECT_FALSE(RectsDisjoint(a, overlap));
    EXPECT_FALSE(RectsIntersect(a, apart));
    EXPECT_TRUE(RectsDisjoint(a, apart));
}

TEST(GeometryMisc, NormalizeDistanceAndRounding) {
    Gdiplus::RectF r;
    EXPECT_EQ(NormalizeRectF(r, P(5, -2), P(1, 4)), 0);
    EXPECT_TRUE(r.Equals(Gdiplus::RectF(1, 4, 4, 6)));

    EXPECT_DOUBLE_EQ(PointDistance(1, 1, 4, 5), 5.0);
    EXPECT_FLOAT_EQ(MaxAxisDistance(0, 0, 3, -7), 7.0f);

    EXPECT_EQ(RoundHalfAway(2.5), 3.0);
    EXPECT_EQ(RoundHalfAway(-2.5), -3.0);
    EXPECT_TRUE(std::signbit(RoundHalfAway(0.0)));
    EXPECT_EQ(RoundHalfAway(0.0), 0.0);
    // Where floor(v + 0.5) goes wrong.
    EXPECT_EQ(RoundHalfAway(0.49999999999999994), 0.0);
    EXPECT_EQ(RoundHalfAway(-0.49999999999999994), 0.0);
    EXPECT_EQ(RoundHalfAway(4503599627370497.0), 4503599627370497.0);
}

}  // namespace
