#include "morvik/gdiplus/graphicspath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "morvik/gdiplus/angles.h"

namespace Gdiplus {

namespace {

constexpr BYTE kKindMask = PathPointTypePathTypeMask;
constexpr BYTE kStart = PathPointTypeStart;
constexpr BYTE kLine = PathPointTypeLine;
constexpr BYTE kBezier = PathPointTypeBezier;
constexpr BYTE kMarker = PathPointTypePathMarker;
constexpr BYTE kClose = PathPointTypeCloseSubpath;

using detail::CosSinDeg;
using detail::Within360;
using detail::kPi;

// Bounds on the work one cubic may cause: a curve with absurd coordinates
// (or a flatness far below the float resolution of its coordinates) yields
// at most this many spans instead of exhausting memory.
constexpr int kMaxSpansPerCubic = 8192;
// Flatness requests below this are raised to it.
constexpr double kMinFlatness = 1e-6;

struct Pt {
    double x;
    double y;
};

inline Pt ToPt(const PointF& p) { return {p.X, p.Y}; }
inline PointF ToPointF(const Pt& p) { return PointF(static_cast<REAL>(p.x), static_cast<REAL>(p.y)); }
inline BYTE Kind(BYTE t) { return static_cast<BYTE>(t & kKindMask); }

// max over t in [0, 1] of |3t(1-t)((1-t)d1 + t d2)|: the distance from the
// chord line of a cubic whose control points lie at signed distances d1 and
// d2 from it.
double MaxBump(double d1, double d2) {
    auto f = [&](double t) {
        const double u = 1 - t;
        return std::fabs(3 * t * u * (u * d1 + t * d2));
    };
    // Critical points: roots of A t^2 + B t + C.
    const double A = 3 * (d1 - d2);
    const double B = 2 * (d2 - 2 * d1);
    const double C = d1;
    double best = 0;
    auto consider = [&](double t) {
        if (t > 0 && t < 1) {
            best = std::max(best, f(t));
        }
    };
    if (A == 0) {
        if (B != 0) {
            consider(-C / B);
        }
        return best;
    }
    const double disc = B * B - 4 * A * C;
    if (disc < 0) {
        return best;
    }
    const double q = -0.5 * (B + std::copysign(std::sqrt(disc), B));
    consider(q / A);
    if (q != 0) {
        consider(C / q);
    }
    return best;
}

// Squared distance from (px, py) to the segment from the origin to (cx, cy)
// of squared length l2 > 0.
inline double SegDist2(double px, double py, double cx, double cy, double l2) {
    double u = (px * cx + py * cy) / l2;
    u = std::clamp(u, 0.0, 1.0);
    const double dx = px - u * cx;
    const double dy = py - u * cy;
    return dx * dx + dy * dy;
}

// An upper bound of the distance from the cubic q0..q3 to its chord. When
// both control points project inside the chord the whole curve does (it lies
// in their convex hull), and the bound is the exact largest distance;
// otherwise the distance of the farther control point to the chord segment
// bounds it, as the distance to a segment is convex. With both control
// points on one side, 3/4 of the larger distance also bounds it and is nearly
// exact for the gently bent spans of a flattening; when that is already
// within enough, it is returned without solving for the exact value.
double ChordDeviation(const Pt& q0, const Pt& q1, const Pt& q2, const Pt& q3, double enough) {
    const double cx = q3.x - q0.x;
    const double cy = q3.y - q0.y;
    const double ax = q1.x - q0.x;
    const double ay = q1.y - q0.y;
    const double bx = q2.x - q0.x;
    const double by = q2.y - q0.y;
    const double l2 = cx * cx + cy * cy;
    if (l2 > 0) {
        const double s1 = ax * cx + ay * cy;
        const double s2 = bx * cx + by * cy;
        if (s1 >= 0 && s1 <= l2 && s2 >= 0 && s2 <= l2) {
            const double inv = 1 / std::sqrt(l2);
            const double d1 = (ax * cy - ay * cx) * inv;
            const double d2 = (bx * cy - by * cx) * inv;
            if (d1 * d2 >= 0) {
                const double quick = 0.75 * std::max(std::fabs(d1), std::fabs(d2));
                if (quick <= enough) {
                    return quick;
                }
            }
            return MaxBump(d1, d2);
        }
        return std::sqrt(std::max(SegDist2(ax, ay, cx, cy, l2), SegDist2(bx, by, cx, cy, l2)));
    }
    return std::sqrt(std::max(ax * ax + ay * ay, bx * bx + by * by));
}

// Appends to emit the points after p0 of a polyline within tol of the cubic
// p0..p3; the last point emitted is p3 itself.
//
// The cubic is walked from t = 0 with steps chosen so that each span's
// chord deviation is just within tol: the deviation of a short span grows
// with the square of its parameter length, so each measured deviation
// predicts the next step, and the rest of the curve is split evenly into
// as many spans as that step needs (no sliver at the end). Every accepted
// span has been measured with the sound bound above; a refused one is
// measured again shorter. Compared with halving until flat, this needs
// markedly fewer points for the same tolerance.
template <class Emit>
void FlattenCubic(const Pt& p0, const Pt& p1, const Pt& p2, const Pt& p3, double tol, Emit&& emit) {
    if (!(tol >= kMinFlatness)) {
        tol = kMinFlatness;  // also catches a tolerance that is not a number
    }
    const double err = ChordDeviation(p0, p1, p2, p3, tol);
    if (err <= tol || !std::isfinite(err)) {
        emit(p3);
        return;
    }
    // Power basis: B(t) = ((a t + b) t + c) t + p0.
    const Pt c{3 * (p1.x - p0.x), 3 * (p1.y - p0.y)};
    const Pt b{3 * (p2.x - 2 * p1.x + p0.x), 3 * (p2.y - 2 * p1.y + p0.y)};
    const Pt a{p3.x - p0.x + 3 * (p1.x - p2.x), p3.y - p0.y + 3 * (p1.y - p2.y)};
    const double hmin = 1.0 / kMaxSpansPerCubic;

    double h = std::max(std::sqrt(tol / err), hmin);
    double t0 = 0;
    Pt q0 = p0;
    Pt d0 = c;  // B'(t0)
    double prevRho = 0;
    for (;;) {
        const double rem = 1 - t0;
        double k = std::ceil(rem / h - 1e-9);
        if (!(k >= 1)) {
            k = 1;
        }
        const bool last = k <= 1;
        const double h1 = last ? rem : rem / k;
        Pt q3;
        Pt d1;
        if (last) {
            q3 = p3;
            d1 = {3 * (p3.x - p2.x), 3 * (p3.y - p2.y)};
        } else {
            const double t1 = t0 + h1;
            q3 = {((a.x * t1 + b.x) * t1 + c.x) * t1 + p0.x, ((a.y * t1 + b.y) * t1 + c.y) * t1 + p0.y};
            d1 = {(3 * a.x * t1 + 2 * b.x) * t1 + c.x, (3 * a.y * t1 + 2 * b.y) * t1 + c.y};
        }
        // Control points of the span [t0, t0 + h1] from its end tangents.
        const double s = h1 / 3;
        const Pt q1{q0.x + d0.x * s, q0.y + d0.y * s};
        const Pt q2{q3.x - d1.x * s, q3.y - d1.y * s};
        const double e = ChordDeviation(q0, q1, q2, q3, tol);
        if (e <= tol || h1 <= hmin || !std::isfinite(e)) {
            emit(q3);
            if (last) {
                return;
            }
            t0 += h1;
            q0 = q3;
            d0 = d1;
            // Deviation per squared step; when it grows from span to span
            // (the curve tightens) expect it to keep growing, which saves
            // measuring spans that would be refused.
            const double rho = e / (h1 * h1);
            double predicted = rho;
            if (prevRho > 0 && rho > prevRho) {
                predicted = rho * std::min(rho / prevRho, 2.0);
            }
            prevRho = rho;
            h = predicted > 0 ? std::max(std::sqrt(tol / predicted), hmin) : 1.0;
        } else {
            h = std::max(h1 * 0.9 * std::sqrt(tol / e), hmin);
        }
    }
}

// The flatness actually used for a curve: the request, less the rounding of
// the float output points, so that the stored polyline keeps the promise.
double EffectiveTolerance(double tol, const Pt* q) {
    double m = 0;
    for (int i = 0; i < 4; ++i) {
        m = std::max(m, std::max(std::fabs(q[i].x), std::fabs(q[i].y)));
    }
    const double rounding = m * (1.0 / 8388608.0);  // 2^-23
    return std::max(tol - rounding, tol * 0.5);
}

// Extent of one coordinate of a cubic over t in [0, 1], widened into lo/hi.
void CubicExtent(double p0, double p1, double p2, double p3, double& lo, double& hi) {
    lo = std::min(lo, std::min(p0, p3));
    hi = std::max(hi, std::max(p0, p3));
    const double mn = std::min(p0, p3);
    const double mx = std::max(p0, p3);
    if (p1 >= mn && p1 <= mx && p2 >= mn && p2 <= mx) {
        return;
    }
    auto eval = [&](double t) {
        const double u = 1 - t;
        return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
    };
    auto consider = [&](double t) {
        if (t > 0 && t < 1) {
            const double v = eval(t);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    // Derivative / 3: A t^2 + B t + C.
    const double A = -p0 + 3 * p1 - 3 * p2 + p3;
    const double B = 2 * (p0 - 2 * p1 + p2);
    const double C = p1 - p0;
    if (A == 0) {
        if (B != 0) {
            consider(-C / B);
        }
        return;
    }
    const double disc = B * B - 4 * A * C;
    if (disc < 0) {
        return;
    }
    const double q = -0.5 * (B + std::copysign(std::sqrt(disc), B));
    consider(q / A);
    if (q != 0) {
        consider(C / q);
    }
}

// Calls fig(begin, end) for each figure [begin, end] of well-formed types.
template <class Fn>
void ForEachFigure(const std::vector<BYTE>& types, Fn&& fig) {
    const size_t n = types.size();
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && Kind(types[j]) != kStart) {
            ++j;
        }
        fig(i, j - 1);
        i = j;
    }
}

struct Figure {
    std::vector<Pt> pts;
    bool closed = false;
};

// The path as polylines within tol of its curves, in double precision.
std::vector<Figure> FlattenFigures(const std::vector<PointF>& pts, const std::vector<BYTE>& types, double tol) {
    std::vector<Figure> out;
    ForEachFigure(types, [&](size_t s, size_t e) {
        Figure f;
        f.closed = (types[e] & kClose) != 0;
        f.pts.push_back(ToPt(pts[s]));
        size_t k = s + 1;
        while (k <= e) {
            if (Kind(types[k]) == kBezier && k + 2 <= e) {
                FlattenCubic(ToPt(pts[k - 1]), ToPt(pts[k]), ToPt(pts[k + 1]), ToPt(pts[k + 2]), tol,
                             [&](const Pt& p) { f.pts.push_back(p); });
                k += 3;
            } else {
                f.pts.push_back(ToPt(pts[k]));
                ++k;
            }
        }
        out.push_back(std::move(f));
    });
    return out;
}

// Bounds of the points themselves (the control polygon contains the curves).
bool ControlBounds(const std::vector<PointF>& pts, double& x0, double& y0, double& x1, double& y1) {
    if (pts.empty()) {
        return false;
    }
    x0 = y0 = INFINITY;
    x1 = y1 = -INFINITY;
    for (const PointF& p : pts) {
        x0 = std::min(x0, static_cast<double>(p.X));
        x1 = std::max(x1, static_cast<double>(p.X));
        y0 = std::min(y0, static_cast<double>(p.Y));
        y1 = std::max(y1, static_cast<double>(p.Y));
    }
    return true;
}

inline double PointSegDist2(const Pt& p, const Pt& a, const Pt& b) {
    const double cx = b.x - a.x;
    const double cy = b.y - a.y;
    const double px = p.x - a.x;
    const double py = p.y - a.y;
    const double l2 = cx * cx + cy * cy;
    if (!(l2 > 0)) {
        return px * px + py * py;
    }
    return SegDist2(px, py, cx, cy, l2);
}

// Parameter angle (degrees) of the point of the ellipse with half axes a, b
// that lies at polar angle theta (degrees) seen from the centre. Continuous
// and increasing, and equal to theta at every multiple of 90.
double EllipseParam(double theta, double a, double b) {
    if (a == b || std::fmod(theta, 90.0) == 0.0) {
        return theta;
    }
    const double r = theta * kPi / 180.0;
    const double t = std::atan2(a * std::sin(r), b * std::cos(r)) * 180.0 / kPi;
    // atan2 gives (-180, 180]; the parameter lies within 90 degrees of theta.
    return t + 360.0 * std::round((theta - t) / 360.0);
}

bool Finite(double v) { return std::isfinite(v); }

template <class P>
std::vector<PointF> ToFloatPoints(const P* pts, INT count) {
    std::vector<PointF> v(static_cast<size_t>(count));
    for (INT i = 0; i < count; ++i) {
        v[static_cast<size_t>(i)] = PointF(static_cast<REAL>(pts[i].X), static_cast<REAL>(pts[i].Y));
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and state

GraphicsPath::GraphicsPath(FillMode fillMode) : m_fillMode(fillMode) {
    if (fillMode != FillModeAlternate && fillMode != FillModeWinding) {
        m_fillMode = FillModeAlternate;
        m_lastStatus = InvalidParameter;
    }
}

GraphicsPath::GraphicsPath(const PointF* points, const BYTE* types, INT count, FillMode fillMode)
    : GraphicsPath(fillMode) {
    if (count < 0 || (count > 0 && (points == nullptr || types == nullptr))) {
        m_lastStatus = InvalidParameter;
        return;
    }
    m_points.assign(points, points + count);
    m_types.assign(types, types + count);
    Sanitize();
}

GraphicsPath::GraphicsPath(const Point* points, const BYTE* types, INT count, FillMode fillMode)
    : GraphicsPath(fillMode) {
    if (count < 0 || (count > 0 && (points == nullptr || types == nullptr))) {
        m_lastStatus = InvalidParameter;
        return;
    }
    m_points = ToFloatPoints(points, count);
    m_types.assign(types, types + count);
    Sanitize();
}

void GraphicsPath::Sanitize() {
    const size_t n = m_types.size();
    bool newFigure = true;
    for (size_t i = 0; i < n; ++i) {
        BYTE t = m_types[i];
        const BYTE k = Kind(t);
        if (newFigure) {
            t = static_cast<BYTE>((t & ~kKindMask) | kStart);
        } else if (k != kStart && k != kLine && k != kBezier) {
            t = static_cast<BYTE>((t & ~kKindMask) | kLine);
        }
        m_types[i] = t;
        newFigure = (t & kClose) != 0;
    }
    // Bezier points must come in whole segments inside one figure.
    ForEachFigure(m_types, [&](size_t s, size_t e) {
        size_t k = s + 1;
        while (k <= e) {
            if (Kind(m_types[k]) == kBezier) {
                if (k + 2 <= e && Kind(m_types[k + 1]) == kBezier && Kind(m_types[k + 2]) == kBezier) {
                    k += 3;
                    continue;
                }
                m_types[k] = static_cast<BYTE>((m_types[k] & ~kKindMask) | kLine);
            }
            ++k;
        }
    });
    m_newFigure = m_types.empty() || (m_types.back() & kClose) != 0;
}

GraphicsPath* GraphicsPath::Clone() const { return new GraphicsPath(*this); }

Status GraphicsPath::SetStatus(Status s) const {
    if (s != Ok) {
        m_lastStatus = s;
    }
    return s;
}

Status GraphicsPath::GetLastStatus() const {
    const Status s = m_lastStatus;
    m_lastStatus = Ok;
    return s;
}

Status GraphicsPath::Reset() {
    m_points.clear();
    m_types.clear();
    m_fillMode = FillModeAlternate;
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::SetFillMode(FillMode fillMode) {
    if (fillMode != FillModeAlternate && fillMode != FillModeWinding) {
        return SetStatus(InvalidParameter);
    }
    m_fillMode = fillMode;
    return Ok;
}

Status GraphicsPath::GetPathPoints(PointF* points, INT count) const {
    if (points == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    if (count < GetPointCount()) {
        return SetStatus(InsufficientBuffer);
    }
    std::copy(m_points.begin(), m_points.end(), points);
    return Ok;
}

Status GraphicsPath::GetPathPoints(Point* points, INT count) const {
    if (points == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    if (count < GetPointCount()) {
        return SetStatus(InsufficientBuffer);
    }
    for (size_t i = 0; i < m_points.size(); ++i) {
        auto toInt = [](REAL v) -> INT {
            const double r = std::round(static_cast<double>(v));
            if (std::isnan(r)) {
                return 0;
            }
            return static_cast<INT>(std::clamp(r, -2147483648.0, 2147483647.0));
        };
        points[i] = Point(toInt(m_points[i].X), toInt(m_points[i].Y));
    }
    return Ok;
}

Status GraphicsPath::GetPathTypes(BYTE* types, INT count) const {
    if (types == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    if (count < GetPointCount()) {
        return SetStatus(InsufficientBuffer);
    }
    std::copy(m_types.begin(), m_types.end(), types);
    return Ok;
}

Status GraphicsPath::GetPathData(PathData* pathData) const {
    if (pathData == nullptr) {
        return SetStatus(InvalidParameter);
    }
    pathData->Free();
    const INT n = GetPointCount();
    if (n > 0) {
        pathData->Points = new PointF[static_cast<size_t>(n)];
        pathData->Types = new BYTE[static_cast<size_t>(n)];
        std::copy(m_points.begin(), m_points.end(), pathData->Points);
        std::copy(m_types.begin(), m_types.end(), pathData->Types);
    }
    pathData->Count = n;
    return Ok;
}

Status GraphicsPath::GetLastPoint(PointF* lastPoint) const {
    if (lastPoint == nullptr || m_points.empty()) {
        return SetStatus(InvalidParameter);
    }
    *lastPoint = m_points.back();
    return Ok;
}

// ---------------------------------------------------------------------------
// Figures, markers, order

Status GraphicsPath::StartFigure() {
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::CloseFigure() {
    if (!m_types.empty()) {
        m_types.back() = static_cast<BYTE>(m_types.back() | kClose);
    }
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::CloseAllFigures() {
    ForEachFigure(m_types, [&](size_t, size_t e) { m_types[e] = static_cast<BYTE>(m_types[e] | kClose); });
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::SetMarker() {
    if (!m_types.empty()) {
        m_types.back() = static_cast<BYTE>(m_types.back() | kMarker);
    }
    return Ok;
}

Status GraphicsPath::ClearMarkers() {
    for (BYTE& t : m_types) {
        t = static_cast<BYTE>(t & ~kMarker);
    }
    return Ok;
}

Status GraphicsPath::Reverse() {
    const size_t n = m_points.size();
    if (n == 0) {
        return Ok;
    }
    std::vector<PointF> pts(n);
    std::vector<BYTE> types(n);
    ForEachFigure(m_types, [&](size_t s, size_t e) {
        const bool closed = (m_types[e] & kClose) != 0;
        for (size_t i = s; i <= e; ++i) {
            const size_t to = n - 1 - i;
            pts[to] = m_points[i];
            // The segment that now ends at point i is the one that used to
            // end at point i + 1, so it keeps that segment's kind.
            BYTE kind = i == e ? kStart : Kind(m_types[i + 1]);
            BYTE flags = static_cast<BYTE>(m_types[i] & ~(kKindMask | kClose | kMarker));
            if (i == s && closed) {
                flags = static_cast<BYTE>(flags | kClose);
            }
            types[to] = static_cast<BYTE>(kind | flags);
        }
    });
    // A marker ends a section; reversed, the section boundary after point i
    // falls after point i + 1.
    for (size_t i = 0; i < n; ++i) {
        if (m_types[i] & kMarker) {
            const size_t j = (i + 1) % n;
            types[n - 1 - j] = static_cast<BYTE>(types[n - 1 - j] | kMarker);
        }
    }
    m_points.swap(pts);
    m_types.swap(types);
    return Ok;
}

// ---------------------------------------------------------------------------
// Adding figures

void GraphicsPath::MoveOrJoin(const PointF& p) {
    if (m_newFigure || m_points.empty()) {
        m_points.push_back(p);
        m_types.push_back(kStart);
        m_newFigure = false;
    } else if (!m_points.back().Equals(p)) {
        m_points.push_back(p);
        m_types.push_back(kLine);
    }
}

Status GraphicsPath::AddLine(const PointF& pt1, const PointF& pt2) {
    MoveOrJoin(pt1);
    m_points.push_back(pt2);
    m_types.push_back(kLine);
    return Ok;
}

Status GraphicsPath::AddLine(REAL x1, REAL y1, REAL x2, REAL y2) { return AddLine(PointF(x1, y1), PointF(x2, y2)); }

Status GraphicsPath::AddLine(const Point& pt1, const Point& pt2) {
    return AddLine(PointF(static_cast<REAL>(pt1.X), static_cast<REAL>(pt1.Y)),
                   PointF(static_cast<REAL>(pt2.X), static_cast<REAL>(pt2.Y)));
}

Status GraphicsPath::AddLine(INT x1, INT y1, INT x2, INT y2) { return AddLine(Point(x1, y1), Point(x2, y2)); }

Status GraphicsPath::AddLines(const PointF* points, INT count) {
    if (points == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    MoveOrJoin(points[0]);
    for (INT i = 1; i < count; ++i) {
        m_points.push_back(points[i]);
        m_types.push_back(kLine);
    }
    return Ok;
}

Status GraphicsPath::AddLines(const Point* points, INT count) {
    if (points == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    const std::vector<PointF> v = ToFloatPoints(points, count);
    return AddLines(v.data(), count);
}

Status GraphicsPath::AddBezier(const PointF& pt1, const PointF& pt2, const PointF& pt3, const PointF& pt4) {
    const PointF pts[4] = {pt1, pt2, pt3, pt4};
    return AddBeziers(pts, 4);
}

Status GraphicsPath::AddBezier(REAL x1, REAL y1, REAL x2, REAL y2, REAL x3, REAL y3, REAL x4, REAL y4) {
    return AddBezier(PointF(x1, y1), PointF(x2, y2), PointF(x3, y3), PointF(x4, y4));
}

Status GraphicsPath::AddBezier(const Point& pt1, const Point& pt2, const Point& pt3, const Point& pt4) {
    const Point pts[4] = {pt1, pt2, pt3, pt4};
    return AddBeziers(pts, 4);
}

Status GraphicsPath::AddBeziers(const PointF* points, INT count) {
    if (points == nullptr || count < 4 || (count - 1) % 3 != 0) {
        return SetStatus(InvalidParameter);
    }
    MoveOrJoin(points[0]);
    for (INT i = 1; i < count; ++i) {
        m_points.push_back(points[i]);
        m_types.push_back(kBezier);
    }
    return Ok;
}

Status GraphicsPath::AddBeziers(const Point* points, INT count) {
    if (points == nullptr || count < 4 || (count - 1) % 3 != 0) {
        return SetStatus(InvalidParameter);
    }
    const std::vector<PointF> v = ToFloatPoints(points, count);
    return AddBeziers(v.data(), count);
}

int detail::ArcBezierPoints(double x, double y, double w, double h, double start, double sweep, PointF* out) {
    const double a = w / 2;
    const double b = h / 2;
    const double cx = x + a;
    const double cy = y + b;
    sweep = std::clamp(sweep, -360.0, 360.0);
    start = Within360(start);

    // Angles address points by their direction from the centre; the Bezier
    // construction works on the ellipse's parameter angle.
    const double t0 = EllipseParam(start, a, b);
    const double t1 = EllipseParam(start + sweep, a, b);
    const double span = t1 - t0;
    int segments = static_cast<int>(std::ceil(std::fabs(span) / 90.0 - 1e-9));
    segments = std::clamp(segments, 1, 4);
    const double step = span / segments;

    auto at = [&](double t, double& px, double& py, double& dx, double& dy) {
        double c = 0;
        double s = 0;
        CosSinDeg(t, c, s);
        px = cx + a * c;
        py = cy + b * s;
        dx = -a * s;  // derivative per radian
        dy = b * c;
    };
    double px = 0;
    double py = 0;
    double dx = 0;
    double dy = 0;
    at(t0, px, py, dx, dy);
    PointF* p = out;
    *p++ = PointF(static_cast<REAL>(px), static_cast<REAL>(py));
    // Control distance of a circular segment of angle phi: 4/3 tan(phi / 4).
    const double k = 4.0 / 3.0 * std::tan(step * kPi / 180.0 / 4.0);
    for (int i = 1; i <= segments; ++i) {
        const double te = i == segments ? t1 : t0 + step * i;
        double qx = 0;
        double qy = 0;
        double ex = 0;
        double ey = 0;
        at(te, qx, qy, ex, ey);
        *p++ = PointF(static_cast<REAL>(px + k * dx), static_cast<REAL>(py + k * dy));
        *p++ = PointF(static_cast<REAL>(qx - k * ex), static_cast<REAL>(qy - k * ey));
        *p++ = PointF(static_cast<REAL>(qx), static_cast<REAL>(qy));
        px = qx;
        py = qy;
        dx = ex;
        dy = ey;
    }
    return static_cast<int>(p - out);
}

void GraphicsPath::AppendArc(double x, double y, double w, double h, double start, double sweep, bool join) {
    PointF pts[detail::kMaxArcPoints];
    const int n = detail::ArcBezierPoints(x, y, w, h, start, sweep, pts);
    // Room for the arc's points at once (an arc is often the whole path, and
    // growing it point by point costs more than the arithmetic), keeping the
    // doubling growth for paths that collect many arcs.
    const size_t needed = m_points.size() + static_cast<size_t>(n);
    if (needed > m_points.capacity()) {
        const size_t room = std::max(needed, 2 * m_points.capacity());
        m_points.reserve(room);
        m_types.reserve(room);
    }
    if (join) {
        MoveOrJoin(pts[0]);
    } else {
        m_points.push_back(pts[0]);
        m_types.push_back(kStart);
        m_newFigure = false;
    }
    m_points.insert(m_points.end(), pts + 1, pts + n);
    m_types.insert(m_types.end(), static_cast<size_t>(n - 1), kBezier);
}

Status GraphicsPath::AddArc(const RectF& rect, REAL startAngle, REAL sweepAngle) {
    return AddArc(rect.X, rect.Y, rect.Width, rect.Height, startAngle, sweepAngle);
}

Status GraphicsPath::AddArc(REAL x, REAL y, REAL width, REAL height, REAL startAngle, REAL sweepAngle) {
    if (!Finite(x) || !Finite(y) || !Finite(width) || !Finite(height) || !Finite(startAngle) ||
        !Finite(sweepAngle) || !(width > 0) || !(height > 0)) {
        return SetStatus(InvalidParameter);
    }
    AppendArc(x, y, width, height, startAngle, sweepAngle, true);
    return Ok;
}

Status GraphicsPath::AddArc(const Rect& rect, REAL startAngle, REAL sweepAngle) {
    return AddArc(static_cast<REAL>(rect.X), static_cast<REAL>(rect.Y), static_cast<REAL>(rect.Width),
                  static_cast<REAL>(rect.Height), startAngle, sweepAngle);
}

Status GraphicsPath::AddArc(INT x, INT y, INT width, INT height, REAL startAngle, REAL sweepAngle) {
    return AddArc(Rect(x, y, width, height), startAngle, sweepAngle);
}

Status GraphicsPath::AddRectangle(const RectF& rect) { return AddRectangles(&rect, 1); }

Status GraphicsPath::AddRectangle(const Rect& rect) { return AddRectangles(&rect, 1); }

Status GraphicsPath::AddRectangles(const RectF* rects, INT count) {
    if (rects == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    for (INT i = 0; i < count; ++i) {
        const RectF& r = rects[i];
        const REAL x1 = r.X + r.Width;
        const REAL y1 = r.Y + r.Height;
        m_points.push_back(PointF(r.X, r.Y));
        m_points.push_back(PointF(x1, r.Y));
        m_points.push_back(PointF(x1, y1));
        m_points.push_back(PointF(r.X, y1));
        m_types.push_back(kStart);
        m_types.push_back(kLine);
        m_types.push_back(kLine);
        m_types.push_back(static_cast<BYTE>(kLine | kClose));
    }
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::AddRectangles(const Rect* rects, INT count) {
    if (rects == nullptr || count <= 0) {
        return SetStatus(InvalidParameter);
    }
    std::vector<RectF> v;
    v.reserve(static_cast<size_t>(count));
    for (INT i = 0; i < count; ++i) {
        v.emplace_back(static_cast<REAL>(rects[i].X), static_cast<REAL>(rects[i].Y),
                       static_cast<REAL>(rects[i].Width), static_cast<REAL>(rects[i].Height));
    }
    return AddRectangles(v.data(), count);
}

Status GraphicsPath::AddEllipse(const RectF& rect) { return AddEllipse(rect.X, rect.Y, rect.Width, rect.Height); }

Status GraphicsPath::AddEllipse(REAL x, REAL y, REAL width, REAL height) {
    if (!Finite(x) || !Finite(y) || !Finite(width) || !Finite(height) || !(width > 0) || !(height > 0)) {
        return SetStatus(InvalidParameter);
    }
    AppendArc(x, y, width, height, 0.0, 360.0, false);
    m_types.back() = static_cast<BYTE>(m_types.back() | kClose);
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::AddEllipse(const Rect& rect) {
    return AddEllipse(static_cast<REAL>(rect.X), static_cast<REAL>(rect.Y), static_cast<REAL>(rect.Width),
                      static_cast<REAL>(rect.Height));
}

Status GraphicsPath::AddEllipse(INT x, INT y, INT width, INT height) { return AddEllipse(Rect(x, y, width, height)); }

Status GraphicsPath::AddPie(const RectF& rect, REAL startAngle, REAL sweepAngle) {
    return AddPie(rect.X, rect.Y, rect.Width, rect.Height, startAngle, sweepAngle);
}

Status GraphicsPath::AddPie(REAL x, REAL y, REAL width, REAL height, REAL startAngle, REAL sweepAngle) {
    if (!Finite(x) || !Finite(y) || !Finite(width) || !Finite(height) || !Finite(startAngle) ||
        !Finite(sweepAngle) || !(width > 0) || !(height > 0)) {
        return SetStatus(InvalidParameter);
    }
    const double cx = x + static_cast<double>(width) / 2;
    const double cy = y + static_cast<double>(height) / 2;
    m_points.push_back(PointF(static_cast<REAL>(cx), static_cast<REAL>(cy)));
    m_types.push_back(kStart);
    m_newFigure = false;
    AppendArc(x, y, width, height, startAngle, sweepAngle, true);
    m_types.back() = static_cast<BYTE>(m_types.back() | kClose);
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::AddPolygon(const PointF* points, INT count) {
    if (points == nullptr || count < 3) {
        return SetStatus(InvalidParameter);
    }
    m_points.insert(m_points.end(), points, points + count);
    m_types.push_back(kStart);
    m_types.insert(m_types.end(), static_cast<size_t>(count - 1), kLine);
    m_types.back() = static_cast<BYTE>(m_types.back() | kClose);
    m_newFigure = true;
    return Ok;
}

Status GraphicsPath::AddPolygon(const Point* points, INT count) {
    if (points == nullptr || count < 3) {
        return SetStatus(InvalidParameter);
    }
    const std::vector<PointF> v = ToFloatPoints(points, count);
    return AddPolygon(v.data(), count);
}

Status GraphicsPath::AddPath(const GraphicsPath* addingPath, BOOL connect) {
    if (addingPath == nullptr) {
        return SetStatus(InvalidParameter);
    }
    if (addingPath->m_points.empty()) {
        return Ok;
    }
    // The argument may be this path.
    const std::vector<PointF> pts = addingPath->m_points;
    const std::vector<BYTE> types = addingPath->m_types;
    const bool otherNewFigure = addingPath->m_newFigure;
    const size_t base = m_points.size();
    const bool join = connect && !m_newFigure && base > 0;
    size_t from = 0;
    if (join && m_points.back().Equals(pts[0])) {
        // The first point coincides with our last: keep ours, carry its flags.
        m_types.back() = static_cast<BYTE>(m_types.back() | (types[0] & ~kKindMask));
        from = 1;
    }
    m_points.insert(m_points.end(), pts.begin() + static_cast<std::ptrdiff_t>(from), pts.end());
    m_types.insert(m_types.end(), types.begin() + static_cast<std::ptrdiff_t>(from), types.end());
    if (join && from == 0) {
        m_types[base] = static_cast<BYTE>((m_types[base] & ~kKindMask) | kLine);
    }
    m_newFigure = otherNewFigure;
    return Ok;
}

// ---------------------------------------------------------------------------
// Geometry

Status GraphicsPath::Transform(const Matrix* matrix) {
    if (matrix == nullptr) {
        return Ok;
    }
    for (PointF& p : m_points) {
        double x = 0;
        double y = 0;
        matrix->Apply(p.X, p.Y, x, y);
        p = PointF(static_cast<REAL>(x), static_cast<REAL>(y));
    }
    return Ok;
}

Status GraphicsPath::Flatten(const Matrix* matrix, REAL flatness) {
    if (std::isnan(flatness) || flatness < 0) {
        return SetStatus(InvalidParameter);
    }
    const double tol = std::max(static_cast<double>(flatness), kMinFlatness);
    const size_t n = m_points.size();
    // Transformed points are kept in double until flattened.
    std::vector<Pt> transformed;
    if (matrix != nullptr) {
        transformed.resize(n);
        for (size_t i = 0; i < n; ++i) {
            matrix->Apply(m_points[i].X, m_points[i].Y, transformed[i].x, transformed[i].y);
        }
    }
    auto at = [&](size_t i) { return matrix != nullptr ? transformed[i] : ToPt(m_points[i]); };
    std::vector<PointF> pts;
    std::vector<BYTE> types;
    pts.reserve(n * 2);
    types.reserve(n * 2);
    ForEachFigure(m_types, [&](size_t s, size_t e) {
        pts.push_back(ToPointF(at(s)));
        types.push_back(m_types[s]);
        size_t k = s + 1;
        while (k <= e) {
            if (Kind(m_types[k]) == kBezier && k + 2 <= e) {
                const Pt q[4] = {at(k - 1), at(k), at(k + 1), at(k + 2)};
                FlattenCubic(q[0], q[1], q[2], q[3], EffectiveTolerance(tol, q), [&](const Pt& p) {
                    pts.push_back(ToPointF(p));
                    types.push_back(kLine);
                });
                // Flags of the segment's points (marker, close) go onto its end.
                const BYTE flags =
                    static_cast<BYTE>((m_types[k] | m_types[k + 1] | m_types[k + 2]) & ~kKindMask);
                types.back() = static_cast<BYTE>(types.back() | flags);
                k += 3;
            } else {
                pts.push_back(ToPointF(at(k)));
                types.push_back(m_types[k]);
                ++k;
            }
        }
    });
    m_points.swap(pts);
    m_types.swap(types);
    return Ok;
}

Status GraphicsPath::GetBounds(RectF* bounds, const Matrix* matrix, REAL penWidth) const {
    if (bounds == nullptr) {
        return SetStatus(InvalidParameter);
    }
    if (m_points.empty()) {
        *bounds = RectF(0, 0, 0, 0);
        return Ok;
    }
    const size_t n = m_points.size();
    std::vector<Pt> src(n);
    for (size_t i = 0; i < n; ++i) {
        src[i] = ToPt(m_points[i]);
        if (matrix != nullptr) {
            matrix->Apply(src[i].x, src[i].y, src[i].x, src[i].y);
        }
    }
    double x0 = src[0].x;
    double x1 = src[0].x;
    double y0 = src[0].y;
    double y1 = src[0].y;
    ForEachFigure(m_types, [&](size_t s, size_t e) {
        x0 = std::min(x0, src[s].x);
        x1 = std::max(x1, src[s].x);
        y0 = std::min(y0, src[s].y);
        y1 = std::max(y1, src[s].y);
        size_t k = s + 1;
        while (k <= e) {
            if (Kind(m_types[k]) == kBezier && k + 2 <= e) {
                CubicExtent(src[k - 1].x, src[k].x, src[k + 1].x, src[k + 2].x, x0, x1);
                CubicExtent(src[k - 1].y, src[k].y, src[k + 1].y, src[k + 2].y, y0, y1);
                k += 3;
            } else {
                x0 = std::min(x0, src[k].x);
                x1 = std::max(x1, src[k].x);
                y0 = std::min(y0, src[k].y);
                y1 = std::max(y1, src[k].y);
                ++k;
            }
        }
    });
    const double half = penWidth > 0 ? static_cast<double>(penWidth) / 2 : 0.0;
    x0 -= half;
    y0 -= half;
    x1 += half;
    y1 += half;
    *bounds = RectF(static_cast<REAL>(x0), static_cast<REAL>(y0), static_cast<REAL>(x1 - x0),
                    static_cast<REAL>(y1 - y0));
    return Ok;
}

Status GraphicsPath::GetBounds(RectF* bounds, const Matrix* matrix, const Pen* pen) const {
    return GetBounds(bounds, matrix, pen != nullptr ? GdiplusPenWidth(pen) : 0.0f);
}

Status GraphicsPath::GetBounds(Rect* bounds, const Matrix* matrix, const Pen* pen) const {
    if (bounds == nullptr) {
        return SetStatus(InvalidParameter);
    }
    RectF r;
    const Status s = GetBounds(&r, matrix, pen);
    if (s != Ok) {
        return s;
    }
    auto toInt = [](double v) -> INT {
        if (std::isnan(v)) {
            return 0;
        }
        return static_cast<INT>(std::clamp(v, -2147483648.0, 2147483647.0));
    };
    const double left = std::floor(r.X);
    const double top = std::floor(r.Y);
    const double right = std::ceil(static_cast<double>(r.X) + r.Width);
    const double bottom = std::ceil(static_cast<double>(r.Y) + r.Height);
    *bounds = Rect(toInt(left), toInt(top), toInt(right - left), toInt(bottom - top));
    return Ok;
}

BOOL GraphicsPath::IsVisible(REAL x, REAL y, const Graphics*) const {
    double bx0 = 0;
    double by0 = 0;
    double bx1 = 0;
    double by1 = 0;
    if (!ControlBounds(m_points, bx0, by0, bx1, by1) || !(x >= bx0 && x <= bx1 && y >= by0 && y <= by1)) {
        return FALSE;
    }
    // Near the boundary a point may fall either way; a flatness well below
    // the path's size keeps that band thin.
    const double extent = std::max(bx1 - bx0, by1 - by0);
    const double tol = std::clamp(extent * 1e-4, kMinFlatness, 0.25);
    const std::vector<Figure> figs = FlattenFigures(m_points, m_types, tol);
    const Pt p{x, y};
    int winding = 0;
    for (const Figure& f : figs) {
        const size_t m = f.pts.size();
        if (m < 2) {
            continue;
        }
        // Filling closes every figure.
        for (size_t i = 0; i < m; ++i) {
            const Pt& a = f.pts[i];
            const Pt& b = f.pts[(i + 1) % m];
            const double side = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
            if (a.y <= p.y) {
                if (b.y > p.y && side > 0) {
                    ++winding;
                }
            } else if (b.y <= p.y && side < 0) {
                --winding;
            }
        }
    }
    if (m_fillMode == FillModeWinding) {
        return winding != 0 ? TRUE : FALSE;
    }
    return (winding & 1) != 0 ? TRUE : FALSE;
}

BOOL GraphicsPath::IsVisible(const PointF& point, const Graphics* g) const { return IsVisible(point.X, point.Y, g); }

BOOL GraphicsPath::IsVisible(INT x, INT y, const Graphics* g) const {
    return IsVisible(static_cast<REAL>(x), static_cast<REAL>(y), g);
}

BOOL GraphicsPath::IsOutlineVisible(REAL x, REAL y, REAL penWidth) const {
    if (std::isnan(penWidth) || !Finite(x) || !Finite(y)) {
        return FALSE;
    }
    const double half = penWidth > 0 ? static_cast<double>(penWidth) / 2 : 0.5;
    double bx0 = 0;
    double by0 = 0;
    double bx1 = 0;
    double by1 = 0;
    if (!ControlBounds(m_points, bx0, by0, bx1, by1) ||
        !(x >= bx0 - half && x <= bx1 + half && y >= by0 - half && y <= by1 + half)) {
        return FALSE;
    }
    const double extent = std::max(bx1 - bx0, by1 - by0);
    const double tol = std::max(std::min(half * 0.05, 0.25), std::max(kMinFlatness, extent * 1e-7));
    const std::vector<Figure> figs = FlattenFigures(m_points, m_types, tol);
    const Pt p{x, y};
    const double limit = half * half;
    for (const Figure& f : figs) {
        const size_t m = f.pts.size();
        if (m == 1) {
            const double dx = f.pts[0].x - p.x;
            const double dy = f.pts[0].y - p.y;
            if (dx * dx + dy * dy <= limit) {
                return TRUE;
            }
            continue;
        }
        const size_t segs = f.closed ? m : m - 1;
        for (size_t i = 0; i < segs; ++i) {
            if (PointSegDist2(p, f.pts[i], f.pts[(i + 1) % m]) <= limit) {
                return TRUE;
            }
        }
    }
    return FALSE;
}

BOOL GraphicsPath::IsOutlineVisible(REAL x, REAL y, const Pen* pen, const Graphics*) const {
    if (pen == nullptr) {
        SetStatus(InvalidParameter);
        return FALSE;
    }
    return IsOutlineVisible(x, y, GdiplusPenWidth(pen));
}

BOOL GraphicsPath::IsOutlineVisible(const PointF& point, const Pen* pen, const Graphics* g) const {
    return IsOutlineVisible(point.X, point.Y, pen, g);
}

// ---------------------------------------------------------------------------
// Iterator

GraphicsPathIterator::GraphicsPathIterator(const GraphicsPath* path) {
    if (path != nullptr) {
        m_points = path->m_points;
        m_types = path->m_types;
    }
}

void GraphicsPathIterator::Rewind() {
    m_subpathPos = 0;
    m_markerPos = 0;
    m_figStart = 0;
    m_figEnd = -1;
    m_typePos = 0;
}

INT GraphicsPathIterator::GetSubpathCount() const {
    INT n = 0;
    for (BYTE t : m_types) {
        if (Kind(t) == kStart) {
            ++n;
        }
    }
    return n;
}

BOOL GraphicsPathIterator::HasCurve() const {
    for (BYTE t : m_types) {
        if (Kind(t) == kBezier) {
            return TRUE;
        }
    }
    return FALSE;
}

INT GraphicsPathIterator::NextSubpath(INT* startIndex, INT* endIndex, BOOL* isClosed) {
    const INT n = GetCount();
    if (m_subpathPos >= n) {
        if (startIndex) *startIndex = 0;
        if (endIndex) *endIndex = 0;
        if (isClosed) *isClosed = FALSE;
        return 0;
    }
    const INT s = m_subpathPos;
    INT e = s + 1;
    while (e < n && Kind(m_types[static_cast<size_t>(e)]) != kStart) {
        ++e;
    }
    --e;
    m_subpathPos = e + 1;
    m_figStart = s;
    m_figEnd = e;
    m_typePos = s;
    if (startIndex) *startIndex = s;
    if (endIndex) *endIndex = e;
    if (isClosed) *isClosed = (m_types[static_cast<size_t>(e)] & kClose) != 0 ? TRUE : FALSE;
    return e - s + 1;
}

INT GraphicsPathIterator::NextSubpath(GraphicsPath* path, BOOL* isClosed) {
    INT s = 0;
    INT e = 0;
    const INT count = NextSubpath(&s, &e, isClosed);
    if (path != nullptr) {
        path->Reset();
        if (count > 0) {
            *path = GraphicsPath(&m_points[static_cast<size_t>(s)], &m_types[static_cast<size_t>(s)], count);
        }
    }
    return count;
}

INT GraphicsPathIterator::NextPathType(BYTE* pathType, INT* startIndex, INT* endIndex) {
    if (m_typePos >= m_figEnd) {
        return 0;
    }
    const BYTE kind = Kind(m_types[static_cast<size_t>(m_typePos) + 1]);
    const INT s = m_typePos;
    INT e = s;
    while (e < m_figEnd && Kind(m_types[static_cast<size_t>(e) + 1]) == kind) {
        e += kind == kBezier ? 3 : 1;
    }
    e = std::min(e, m_figEnd);
    m_typePos = e;
    if (pathType) *pathType = kind;
    if (startIndex) *startIndex = s;
    if (endIndex) *endIndex = e;
    return e - s + 1;
}

INT GraphicsPathIterator::NextMarker(INT* startIndex, INT* endIndex) {
    const INT n = GetCount();
    if (m_markerPos >= n) {
        if (startIndex) *startIndex = 0;
        if (endIndex) *endIndex = 0;
        return 0;
    }
    const INT s = m_markerPos;
    INT e = s;
    while (e < n - 1 && (m_types[static_cast<size_t>(e)] & kMarker) == 0) {
        ++e;
    }
    m_markerPos = e + 1;
    if (startIndex) *startIndex = s;
    if (endIndex) *endIndex = e;
    return e - s + 1;
}

INT GraphicsPathIterator::NextMarker(GraphicsPath* path) {
    INT s = 0;
    INT e = 0;
    const INT count = NextMarker(&s, &e);
    if (path != nullptr) {
        path->Reset();
        if (count > 0) {
            *path = GraphicsPath(&m_points[static_cast<size_t>(s)], &m_types[static_cast<size_t>(s)], count);
        }
    }
    return count;
}

INT GraphicsPathIterator::Enumerate(PointF* points, BYTE* types, INT count) {
    if (points == nullptr || types == nullptr || count <= 0) {
        return 0;
    }
    const INT n = std::min(count, GetCount());
    std::copy(m_points.begin(), m_points.begin() + n, points);
    std::copy(m_types.begin(), m_types.begin() + n, types);
    return n;
}

INT GraphicsPathIterator::CopyData(PointF* points, BYTE* types, INT startIndex, INT endIndex) {
    if (points == nullptr || types == nullptr || startIndex < 0 || endIndex < startIndex || endIndex >= GetCount()) {
        return 0;
    }
    std::copy(m_points.begin() + startIndex, m_points.begin() + endIndex + 1, points);
    std::copy(m_types.begin() + startIndex, m_types.begin() + endIndex + 1, types);
    return endIndex - startIndex + 1;
}

}  // namespace Gdiplus
