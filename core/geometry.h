// Plane geometry shared by the shapes: orientation and crossing tests, point
// and rectangle tests, rectangle union, line intersection, distances, cubic
// Bezier points and control-point fitting, and rounding.
//
// Coordinates are float millimetres with y growing upward. Unless a function
// says otherwise a rectangle's Y is its top (greater y) edge: it covers x from
// X to X + Width and y from Y - Height to Y. Arithmetic is done in double.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"
#include "morvik/win32/windows.h"

// Side of c against the directed line a -> b: 1 left, -1 right, 0 on the line
// (the cross product within a dead band of 1e-6).
int CrossSign(const tagPOINTF& a, const tagPOINTF& b, const tagPOINTF& c);

// Hit test of a point against a segment: the doubled triangle area below 20.0
// and the point inside the segment's box widened by 1.0 on every side. The
// distance tolerance therefore shrinks as the segment grows.
bool PointNearSegment(float x1, float y1, float x2, float y2, float px, float py);

// True when each segment's ends lie strictly on opposite sides of the other's
// line; touching, collinear and end-on-line cases are not crossings.
bool SegmentsCross(const tagPOINTF& a, const tagPOINTF& b, const tagPOINTF& c, const tagPOINTF& d);

// Here rect.Y is the LOWER edge: the rectangle covers y from Y to Y + Height.
// True when p or q lies in the rectangle (bounds inclusive) or the segment
// crosses one of its four sides.
bool SegmentHitsRect(const Gdiplus::RectF& rect, const tagPOINTF& p, const tagPOINTF& q);

// Point of the cubic with control points p0..p3 at parameter t, with the
// parameter reversed: t = 1 gives p0 and t = 0 gives p3.
double BezierPointX(double t, const tagPOINTF& p0, const tagPOINTF& p1, const tagPOINTF& p2, const tagPOINTF& p3);
double BezierPointY(double t, const tagPOINTF& p0, const tagPOINTF& p1, const tagPOINTF& p2, const tagPOINTF& p3);

// Point in rectangle, bounds inclusive; with border, also within 0.001 of any
// of the four sides.
bool PtInRectFBorder(float x, float y, const Gdiplus::RectF& rect, bool border);

// Intersection of the infinite lines (x1,y1)-(x2,y2) and (x3,y3)-(x4,y4).
// out is set to (0, 0) first; false when the lines are parallel (|det| <= 0.001).
bool LineIntersection(tagPOINTF& out, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);

// Union of two rectangles. A rectangle whose width or height is not above the
// float epsilon is empty and ignored; when both are empty out is left as it
// was and the result tells whether out itself is non-empty. A second
// rectangle lying within 0.001 of x = 0 on both edges is ignored as well.
bool UnionRectF(Gdiplus::RectF& out, const Gdiplus::RectF& a, const Gdiplus::RectF& b);

// Strict overlap: rectangles that only touch do not intersect.
bool RectsIntersect(const Gdiplus::RectF& a, const Gdiplus::RectF& b);
// Inclusive separation: rectangles that only touch are not disjoint.
bool RectsDisjoint(const Gdiplus::RectF& a, const Gdiplus::RectF& b);

// Least-squares fit of the two inner control points of one cubic whose ends
// are fixed to the first and last point of the list (point i at parameter
// i / (n - 1), in the usual orientation: t = 0 is the first point).
// With three points the one interior sample cannot fix two controls: both
// controls take the same value, the one that puts the curve's midpoint on that
// sample. With fewer than three points there is nothing to fit: the controls
// are placed at the thirds of the chord (a straight segment; with one point
// both are that point, with none both are (0, 0)) and the result is false.
bool FitBezierControls(const std::vector<tagPOINTF>& points, tagPOINTF& c1, tagPOINTF& c2);

// The rectangle spanned by two corners: X the smaller x, Y the greater y,
// width and height not negative. Returns 0.
int NormalizeRectF(Gdiplus::RectF& out, const tagPOINTF& p, const tagPOINTF& q);

// Euclidean distance; the sum of squares is rounded to float before the root.
double PointDistance(float x1, float y1, float x2, float y2);

// The larger of |x1 - x2| and |y1 - y2|.
float MaxAxisDistance(float x1, float y1, float x2, float y2);

// Rounds halves away from zero (2.5 -> 3, -2.5 -> -3); zero and values that
// round to zero from below come out as -0.
double RoundHalfAway(double v);

// An affine map of the plane, p -> (xx x + xy y + dx, yx x + yy y + dy), in
// double: the shape transforms as maps that compose. Each factory gives the
// map of the CBaseShape point function of the same name.
struct MORVIK_API AffineMap {
    double xx = 1.0;
    double xy = 0.0;
    double yx = 0.0;
    double yy = 1.0;
    double dx = 0.0;
    double dy = 0.0;

    static AffineMap Move(double dx, double dy);
    static AffineMap Rotate(double degrees, const tagPOINTF& centre);
    static AffineMap Zoom(double sx, double sy, const tagPOINTF& fixed);
    static AffineMap Slope(double a, double b, const tagPOINTF& fixed);
    // Mode 1 flips x about the point, 2 flips y, 3 both; other modes: none.
    static AffineMap Mirror(int mode, const tagPOINTF& fixed);

    // This map, then next.
    AffineMap Then(const AffineMap& next) const;
    tagPOINTF Apply(const tagPOINTF& p) const;
    // Moves no point by more than rounding: the linear part within 1e-12 of
    // the identity and the shift within 1e-7.
    bool IsIdentity() const;
};

// Small helpers of the shapes' own files, kept in a namespace so that a file
// takes the ones it uses by name.
namespace geom {

// True when both coordinates are finite.
inline bool Finite(tagPOINTF p) { return std::isfinite(p.x) && std::isfinite(p.y); }
// True when the corner and both sides are finite.
inline bool Finite(const Gdiplus::RectF& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Width) && std::isfinite(r.Height);
}

// True when every number is finite.
template <class... T>
inline bool AllFinite(T... v) {
    return (std::isfinite(static_cast<double>(v)) && ...);
}

// True when v is finite and within the float range, so that storing it in a
// float field keeps it finite.
inline bool FitsFloat(double v) { return std::isfinite(v) && std::fabs(v) <= FLT_MAX; }

// True when the map's six numbers are finite and it takes every point of the
// range to a finite float point. A transform whose own numbers are finite can
// still overflow (a zoom by 1e30), so a shape checks its points before it
// changes any of them.
template <class Range>
inline bool MapsFinite(const AffineMap& m, const Range& points) {
    if (!AllFinite(m.xx, m.xy, m.yx, m.yy, m.dx, m.dy)) return false;
    for (const tagPOINTF& p : points) {
        const double x = m.xx * p.x + m.xy * p.y + m.dx;
        const double y = m.yx * p.x + m.yy * p.y + m.dy;
        if (!FitsFloat(x) || !FitsFloat(y)) return false;
    }
    return true;
}

// The points without those that are not finite. A shape hands these on by
// every way out (flattening, mark data, exports, its file), so that a shape
// whose public point list was given such a point reads back from its file
// marking what it marked.
inline std::vector<tagPOINTF> FinitePoints(const std::vector<tagPOINTF>& points) {
    std::vector<tagPOINTF> kept;
    kept.reserve(points.size());
    std::copy_if(points.begin(), points.end(), std::back_inserter(kept), [](const tagPOINTF& p) { return Finite(p); });
    return kept;
}

// True when every point is finite and the points' extent along each axis is
// a finite float too: two points can each fit while the span between them
// does not, and a rectangle that wide is infinite.
template <class Range>
inline bool SpanFits(const Range& points) {
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool first = true;
    for (const tagPOINTF& p : points) {
        if (!Finite(p)) return false;
        if (first) {
            minX = maxX = p.x;
            minY = maxY = p.y;
            first = false;
        }
        minX = std::min<double>(minX, p.x);
        maxX = std::max<double>(maxX, p.x);
        minY = std::min<double>(minY, p.y);
        maxY = std::max<double>(maxY, p.y);
    }
    return FitsFloat(maxX - minX) && FitsFloat(maxY - minY);
}

// Euclidean distance in double.
inline double Dist(tagPOINTF a, tagPOINTF b) {
    return std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
}

// A device coordinate held within +-1e9, so that the corners of a handle
// drawn around a far off-screen point stay representable.
inline int ClampPixel(LONG v) {
    constexpr LONG kPixelLimit = 1000000000;
    return static_cast<int>(std::clamp<LONG>(v, -kPixelLimit, kPixelLimit));
}

}  // namespace geom
