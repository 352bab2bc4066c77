#include "morvik/core/geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kCrossDeadBand = 1e-6;
constexpr double kNearSegmentArea = 20.0;
constexpr double kNearSegmentBox = 1.0;
constexpr double kBorderBand = 0.001;
constexpr double kParallelDet = 0.001;
constexpr float kEmptyExtent = 1.1920929e-07f;
constexpr double kAxisBand = 0.001;

bool IsEmptyRect(const Gdiplus::RectF& r) { return r.Width <= kEmptyExtent || r.Height <= kEmptyExtent; }

double CubicAt(double t, double v0, double v1, double v2, double v3) {
    const double s = 1.0 - t;
    return t * t * t * v0 + 3.0 * t * t * s * v1 + 3.0 * t * s * s * v2 + s * s * s * v3;
}

}  // namespace

int CrossSign(const tagPOINTF& a, const tagPOINTF& b, const tagPOINTF& c) {
    const double bx = static_cast<float>(static_cast<double>(b.x) - a.x);
    const double by = static_cast<float>(static_cast<double>(b.y) - a.y);
    const double cx = static_cast<float>(static_cast<double>(c.x) - a.x);
    const double cy = static_cast<float>(static_cast<double>(c.y) - a.y);
    const double k = bx * cy - cx * by;
    if (k > kCrossDeadBand) return 1;
    if (k < -kCrossDeadBand) return -1;
    return 0;
}

bool PointNearSegment(float x1, float y1, float x2, float y2, float px, float py) {
    const double area = (static_cast<double>(px) - x1) * (static_cast<double>(y2) - y1) -
                        (static_cast<double>(py) - y1) * (static_cast<double>(x2) - x1);
    if (!(std::fabs(area) < kNearSegmentArea)) return false;
    const double minX = std::min(x1, x2) - kNearSegmentBox;
    const double maxX = std::max(x1, x2) + kNearSegmentBox;
    const double minY = std::min(y1, y2) - kNearSegmentBox;
    const double maxY = std::max(y1, y2) + kNearSegmentBox;
    return px >= minX && px <= maxX && py >= minY && py <= maxY;
}

bool SegmentsCross(const tagPOINTF& a, const tagPOINTF& b, const tagPOINTF& c, const tagPOINTF& d) {
    return CrossSign(a, b, c) * CrossSign(a, b, d) < 0 && CrossSign(c, d, a) * CrossSign(c, d, b) < 0;
}

bool SegmentHitsRect(const Gdiplus::RectF& rect, const tagPOINTF& p, const tagPOINTF& q) {
    const double left = rect.X;
    const double right = static_cast<double>(rect.X) + rect.Width;
    const double bottom = rect.Y;
    const double top = static_cast<double>(rect.Y) + rect.Height;
    auto inside = [&](const tagPOINTF& v) { return v.x >= left && v.x <= right && v.y >= bottom && v.y <= top; };
    if (inside(p) || inside(q)) return true;
    const tagPOINTF lb{static_cast<float>(left), static_cast<float>(bottom)};
    const tagPOINTF rb{static_cast<float>(right), static_cast<float>(bottom)};
    const tagPOINTF rt{static_cast<float>(right), static_cast<float>(top)};
    const tagPOINTF lt{static_cast<float>(left), static_cast<float>(top)};
    return SegmentsCross(p, q, lb, rb) || SegmentsCross(p, q, rb, rt) || SegmentsCross(p, q, rt, lt) ||
           SegmentsCross(p, q, lt, lb);
}

double BezierPointX(double t, const tagPOINTF& p0, const tagPOINTF& p1, const tagPOINTF& p2, const tagPOINTF& p3) {
    return CubicAt(t, p0.x, p1.x, p2.x, p3.x);
}

double BezierPointY(double t, const tagPOINTF& p0, const tagPOINTF& p1, const tagPOINTF& p2, const tagPOINTF& p3) {
    return CubicAt(t, p0.y, p1.y, p2.y, p3.y);
}

bool PtInRectFBorder(float x, float y, const Gdiplus::RectF& rect, bool border) {
    const double left = rect.X;
    const double right = static_cast<double>(rect.X) + rect.Width;
    const double top = rect.Y;
    const double bottom = static_cast<double>(rect.Y) - rect.Height;
    if (x >= left && x <= right && y >= bottom && y <= top) return true;
    if (!border) return false;
    const bool inBandY = y >= bottom - kBorderBand && y <= top + kBorderBand;
    const bool inBandX = x >= left - kBorderBand && x <= right + kBorderBand;
    if (std::fabs(x - left) < kBorderBand && inBandY) return true;
    if (std::fabs(x - right) < kBorderBand && inBandY) return true;
    if (std::fabs(y - top) < kBorderBand && inBandX) return true;
    if (std::fabs(y - bottom) < kBorderBand && inBandX) return true;
    return false;
}

bool LineIntersection(tagPOINTF& out, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                      float y4) {
    out = tagPOINTF{0.0f, 0.0f};
    const double X1 = x1, Y1 = y1, X2 = x2, Y2 = y2, X3 = x3, Y3 = y3, X4 = x4, Y4 = y4;
    const double d1 = (Y2 - Y1) * (X4 - X3);
    const double d2 = (X2 - X1) * (Y4 - Y3);
    const double det = d1 - d2;
    // Written so that NaN coordinates also count as "no intersection".
    if (!(std::fabs(det) > kParallelDet)) return false;
    out.x = static_cast<float>((X1 * d1 + (Y3 - Y1) * (X2 - X1) * (X4 - X3) - X3 * d2) / det);
    out.y = static_cast<float>(-((X3 - X1) * (Y4 - Y3) * (Y2 - Y1) + Y1 * d2 - Y3 * d1) / det);
    return true;
}

bool UnionRectF(Gdiplus::RectF& out, const Gdiplus::RectF& a, const Gdiplus::RectF& bIn) {
    const bool aEmpty = IsEmptyRect(a);
    const bool bEmpty = IsEmptyRect(bIn);
    if (aEmpty && bEmpty) return !IsEmptyRect(out);
    if (bEmpty) {
        out = a;
        return true;
    }
    if (aEmpty) {
        out = bIn;
        return true;
    }
    // A rectangle hugging the y axis on both edges is taken for an unset one.
    const double bLeft = bIn.X;
    const double bRight = static_cast<double>(bIn.X) + bIn.Width;
    const Gdiplus::RectF& b = (std::fabs(bLeft) <= kAxisBand && std::fabs(bRight) <= kAxisBand) ? a : bIn;

    const double left = std::min<double>(a.X, b.X);
    const double top = std::max<double>(a.Y, b.Y);
    const double right = std::max(static_cast<double>(a.X) + a.Width, static_cast<double>(b.X) + b.Width);
    const double bottom = std::min(static_cast<double>(a.Y) - a.Height, static_cast<double>(b.Y) - b.Height);
    out.X = static_cast<float>(left);
    out.Y = static_cast<float>(top);
    out.Width = static_cast<float>(right - out.X);
    out.Height = static_cast<float>(out.Y - bottom);
    return out.Width > kEmptyExtent && out.Height > kEmptyExtent;
}

bool RectsIntersect(const Gdiplus::RectF& a, const Gdiplus::RectF& b) {
    return b.X < static_cast<double>(a.X) + a.Width && static_cast<double>(a.Y) - a.Height < b.Y &&
           a.X < static_cast<double>(b.X) + b.Width && static_cast<double>(b.Y) - b.Height < a.Y;
}

bool RectsDisjoint(const Gdiplus::RectF& a, const Gdiplus::RectF& b) {
    const bool overlapOrTouch =
        b.X <= static_cast<double>(a.X) + a.Width && static_cast<double>(a.Y) - a.Height <= b.Y &&
        a.X <= static_cast<double>(b.X) + b.Width && static_cast<double>(b.Y) - b.Height <= a.Y;
    return !overlapOrTouch;
}

bool FitBezierControls(const std::vector<tagPOINTF>& points, tagPOINTF& c1, tagPOINTF& c2) {
    const size_t n = points.size();
    if (n == 0) {
        c1 = c2 = tagPOINTF{0.0f, 0.0f};
        return false;
    }
    const tagPOINTF& p0 = points.front();
    const tagPOINTF& p3 = points.back();
    if (n < 3) {
        // Nothing to fit: a straight segment.
        c1 = tagPOINTF{static_cast<float>(p0.x + (static_cast<double>(p3.x) - p0.x) / 3.0),
                       static_cast<float>(p0.y + (static_cast<double>(p3.y) - p0.y) / 3.0)};
        c2 = tagPOINTF{static_cast<float>(p0.x + (static_cast<double>(p3.x) - p0.x) * 2.0 / 3.0),
                       static_cast<float>(p0.y + (static_cast<double>(p3.y) - p0.y) * 2.0 / 3.0)};
        return false;
    }
    if (n == 3) {
        // One interior sample at t = 1/2 leaves the normal equations singular;
        // the smallest solution has both controls equal and passes through it:
        // P0/8 + 3/4 c + P3/8 = Q.
        const tagPOINTF& q = points[1];
        const tagPOINTF c{static_cast<float>((8.0 * q.x - p0.x - p3.x) / 6.0),
                          static_cast<float>((8.0 * q.y - p0.y - p3.y) / 6.0)};
        c1 = c2 = c;
        return true;
    }
    double c11 = 0, c12 = 0, c22 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n - 1);
        const double s = 1.0 - t;
        const double b0 = s * s * s;
        const double b1 = 3.0 * t * s * s;
        const double b2 = 3.0 * t * t * s;
        const double b3 = t * t * t;
        const double rx = points[i].x - b0 * p0.x - b3 * p3.x;
        const double ry = points[i].y - b0 * p0.y - b3 * p3.y;
        c11 += b1 * b1;
        c12 += b1 * b2;
        c22 += b2 * b2;
        x1 += b1 * rx;
        x2 += b2 * rx;
        y1 += b1 * ry;
        y2 += b2 * ry;
    }
    // With four or more samples the system is well conditioned (t is fixed by
    // the index), so det is safely away from zero.
    const double det = c11 * c22 - c12 * c12;
    c1 = tagPOINTF{static_cast<float>((x1 * c22 - x2 * c12) / det), static_cast<float>((y1 * c22 - y2 * c12) / det)};
    c2 = tagPOINTF{static_cast<float>((x2 * c11 - x1 * c12) / det), static_cast<float>((y2 * c11 - y1 * c12) / det)};
    return true;
}

int NormalizeRectF(Gdiplus::RectF& out, const tagPOINTF& p, const tagPOINTF& q) {
    out.X = std::min(p.x, q.x);
    out.Width = std::max(p.x, q.x) - out.X;
    out.Y = std::max(p.y, q.y);
    out.Height = out.Y - std::min(p.y, q.y);
    return 0;
}

double PointDistance(float x1, float y1, float x2, float y2) {
    const double dx = static_cast<double>(x1) - x2;
    const double dy = static_cast<double>(y1) - y2;
    return std::sqrt(static_cast<double>(static_cast<float>(dx * dx + dy * dy)));
}

float MaxAxisDistance(float x1, float y1, float x2, float y2) {
    const double dx = std::fabs(static_cast<double>(x1) - x2);
    const double dy = std::fabs(static_cast<double>(y1) - y2);
    return static_cast<float>(dx <= dy ? dy : dx);
}

double RoundHalfAway(double v) {
    // std::round rounds halves away from zero without the error of
    // floor(v + 0.5), which turns 0.49999999999999994 into 1 and moves odd
    // integers above 2^52.
    if (v > 0) return std::round(v);
    const double r = std::round(v);
    return r == 0 ? -0.0 : r;
}

// ---- affine maps ------------------------------------------------------------------

AffineMap AffineMap::Move(double dx, double dy) {
    AffineMap m;
    m.dx = dx;
    m.dy = dy;
    return m;
}

AffineMap AffineMap::Rotate(double degrees, const tagPOINTF& centre) {
    const double rad = degrees * std::numbers::pi / 180.0;
    const double c = std::cos(rad);
    const double s = std::sin(rad);
    const double fx = centre.x;
    const double fy = centre.y;
    AffineMap m;
    m.xx = c;
    m.xy = -s;
    m.yx = s;
    m.yy = c;
    m.dx = fx - fx * c + fy * s;
    m.dy = fy - fx * s - fy * c;
    return m;
}

AffineMap AffineMap::Zoom(double sx, double sy, const tagPOINTF& fixed) {
    AffineMap m;
    m.xx = sx;
    m.yy = sy;
    m.dx = fixed.x - fixed.x * sx;
    m.dy = fixed.y - fixed.y * sy;
    return m;
}

AffineMap AffineMap::Slope(double a, double b, const tagPOINTF& fixed) {
    // x less (y - fy) tan a, y less (x - fx) tan b, both from the old point.
    const double ta = std::tan(a);
    const double tb = std::tan(b);
    AffineMap m;
    m.xy = -ta;
    m.dx = fixed.y * ta;
    m.yx = -tb;
    m.dy = fixed.x * tb;
    return m;
}

AffineMap AffineMap::Mirror(int mode, const tagPOINTF& fixed) {
    AffineMap m;
    if (mode == 1 || mode == 3) {
        m.xx = -1.0;
        m.dx = 2.0 * fixed.x;
    }
    if (mode == 2 || mode == 3) {
        m.yy = -1.0;
        m.dy = 2.0 * fixed.y;
    }
    return m;
}

AffineMap AffineMap::Then(const AffineMap& n) const {
    AffineMap r;
    r.xx = n.xx * xx + n.xy * yx;
    r.xy = n.xx * xy + n.xy * yy;
    r.yx = n.yx * xx + n.yy * yx;
    r.yy = n.yx * xy + n.yy * yy;
    r.dx = n.xx * dx + n.xy * dy + n.dx;
    r.dy = n.yx * dx + n.yy * dy + n.dy;
    return r;
}

tagPOINTF AffineMap::Apply(const tagPOINTF& p) const {
    return {static_cast<float>(xx * p.x + xy * p.y + dx), static_cast<float>(yx * p.x + yy * p.y + dy)};
}

bool AffineMap::IsIdentity() const {
    return std::fabs(xx - 1.0) <= 1e-12 && std::fabs(yy - 1.0) <= 1e-12 && std::fabs(xy) <= 1e-12 &&
           std::fabs(yx) <= 1e-12 && std::fabs(dx) <= 1e-7 && std::fabs(dy) <= 1e-7;
}
