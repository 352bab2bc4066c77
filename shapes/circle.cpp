#include "morvik/shapes/circle.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/gcode_default.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/angles.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/halder/basedoc.h"

IMPLEMENT_SERIAL(CCircle, CBaseShape, 5)

namespace {

// Below this side the bounding square of the arc is too small to build a
// chain in; the arc then collapses onto its centre.
constexpr double kMinSide = 0.000001;
// Pieces whose four points all lie this close together are padding.
constexpr double kDegenerate = 0.001;
// Thresholds of the tangent construction.
constexpr double kTangentEps = 0.001;
// Tolerances of the callers inside this class, in millimetres.
constexpr float kPolylineTolerance = 0.1f;
constexpr float kSelectTolerance = 2.0f;
// The flattening runs on the arc scaled by this factor, so the polyline
// stays within a tenth of the flatness of the arc.
constexpr float kFlattenScale = 10.0f;
// Width of the pick band of IsMe, in millimetres.
constexpr float kPickPenWidth = 8.0f;
// Pixel distance under which GetCircleFrom2P takes the arc's first point as
// the continued end.
constexpr double kSwapPixels = 5.0;

using geom::Dist;
using geom::Finite;

// Arc points stay within this many millimetres of the origin: the flattening
// works on the arc ten times larger and the bounds take differences, both in
// float, and neither may overflow.
constexpr double kCoordLimit = FLT_MAX / 16;

// A point the shape can hold: finite and within the coordinate limit.
bool Usable(tagPOINTF p) {
    return Finite(p) && std::fabs(p.x) <= kCoordLimit && std::fabs(p.y) <= kCoordLimit;
}

bool AllUsable(const std::vector<tagPOINTF>& pts) { return std::all_of(pts.begin(), pts.end(), Usable); }

// The signed sweep of an arc from start to end (both already reduced).
double SweepOf(double start, double end, uint8_t direction) {
    if (direction != 0) {
        if (start == end) {
            return 360.0;
        }
        return end > start ? end - start : 360.0 - start + end;
    }
    if (start == end) {
        return -360.0;
    }
    return -(end > start ? start + 360.0 - end : start - end);
}

// One cubic piece of the chain.
struct Piece {
    tagPOINTF p[4];
};

// The point at parameter t (0 at p[0]).
tagPOINTF PieceAt(const Piece& s, double t) {
    const double u = 1.0 - t;
    const double b0 = u * u * u;
    const double b1 = 3 * u * u * t;
    const double b2 = 3 * u * t * t;
    const double b3 = t * t * t;
    return {static_cast<float>(b0 * s.p[0].x + b1 * s.p[1].x + b2 * s.p[2].x + b3 * s.p[3].x),
            static_cast<float>(b0 * s.p[0].y + b1 * s.p[1].y + b2 * s.p[2].y + b3 * s.p[3].y)};
}

// Whether two points lie closer together than kDegenerate; the same answer
// as comparing their distance, which is only taken near the threshold
// (pieces are tested by the million in an import).
bool Near(tagPOINTF a, tagPOINTF b) {
    const double dx = static_cast<double>(a.x) - b.x;
    const double dy = static_cast<double>(a.y) - b.y;
    const double d2 = dx * dx + dy * dy;
    constexpr double kBelow = kDegenerate * kDegenerate * (1.0 - 1e-9);
    constexpr double kAbove = kDegenerate * kDegenerate * (1.0 + 1e-9);
    if (d2 < kBelow) {
        return true;
    }
    if (d2 > kAbove) {
        return false;
    }
    return Dist(a, b) < kDegenerate;
}

// The chain's pieces, without the padding ones, into out.
void RealPieces(const tagPOINTF* pts, size_t n, std::vector<Piece>& out) {
    out.clear();
    out.reserve(n / 3);
    for (size_t i = 0; 3 * i + 3 < n; ++i) {
        const Piece s{{pts[3 * i], pts[3 * i + 1], pts[3 * i + 2], pts[3 * i + 3]}};
        if (Near(s.p[0], s.p[1]) && Near(s.p[1], s.p[2]) && Near(s.p[2], s.p[3])) {
            continue;
        }
        out.push_back(s);
    }
}

// The circle the pieces lie on, when they still form a circular arc (they
// stop doing so under an unequal zoom or a slant).
bool FitCircle(const std::vector<Piece>& pieces, tagPOINTF& centre, double& radius) {
    if (pieces.empty()) {
        return false;
    }
    double extent = 0.0;
    for (const Piece& s : pieces) {
        for (const tagPOINTF& p : s.p) {
            if (!Finite(p)) {
                return false;
            }
            extent = std::max({extent, std::fabs(static_cast<double>(p.x)), std::fabs(static_cast<double>(p.y))});
        }
    }
    // Three of the samples start, middle and end of every piece, in order:
    // the first, the one a third along and the one two thirds along.
    auto sample = [&pieces](size_t k) {
        const Piece& s = pieces[k / 3];
        return k % 3 == 0 ? s.p[0] : k % 3 == 1 ? PieceAt(s, 0.5) : s.p[3];
    };
    const size_t n = 3 * pieces.size();
    if (!CBaseShape::GetCircleParamerFrom3P(sample(0), sample(n / 3), sample(2 * n / 3), centre, radius) ||
        !Finite(centre) || !std::isfinite(radius) || !(radius > 0)) {
        return false;
    }
    // The cubic spans deviate from the circle by under 3e-4 of the radius;
    // the rest is float rounding of the coordinates.
    const double tol = 1e-3 * radius + 1e-6 * extent + 1e-9;
    // |distance - radius| <= tol, compared on squares: arcs are fitted by
    // the hundred thousand, and the root is the costly part.
    const double inner = std::max(0.0, radius - tol);
    const double inner2 = inner * inner;
    const double outer2 = (radius + tol) * (radius + tol);
    auto onCircle = [&](tagPOINTF p) {
        const double dx = static_cast<double>(p.x) - centre.x;
        const double dy = static_cast<double>(p.y) - centre.y;
        const double d2 = dx * dx + dy * dy;
        return d2 >= inner2 && d2 <= outer2;
    };
    for (const Piece& s : pieces) {
        for (double t : {0.0, 0.25, 0.5, 0.75, 1.0}) {
            if (!onCircle(PieceAt(s, t))) {
                return false;
            }
        }
    }
    return true;
}

// A point halfway along pieces [from, to): a joint for an even count, else
// the middle of the middle piece; both lie on the circle.
tagPOINTF MidOf(const std::vector<Piece>& pieces, size_t from, size_t to) {
    const size_t m = to - from;
    if (m % 2 == 0) {
        return pieces[from + m / 2].p[0];
    }
    return PieceAt(pieces[from + m / 2], 0.5);
}

// Appends the chain (its longest 3k + 1 prefix as Bezier segments, any
// rest as lines) to a path, every point multiplied by scale.
void AddChain(Gdiplus::GraphicsPath& path, const std::vector<tagPOINTF>& pts, float scale) {
    const size_t n = pts.size();
    if (n < 2) {
        return;
    }
    std::vector<Gdiplus::PointF> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = Gdiplus::PointF(pts[i].x * scale, pts[i].y * scale);
    }
    if (n < 4) {
        path.AddLines(v.data(), static_cast<INT>(n));
        return;
    }
    const size_t prefix = 1 + 3 * ((n - 1) / 3);
    path.AddBeziers(v.data(), static_cast<INT>(prefix));
    if (prefix < n) {
        path.AddLines(v.data() + prefix - 1, static_cast<INT>(n - prefix + 1));
    }
}

// Bounds of the chain with Y the top edge; false without points.
bool ChainBounds(const std::vector<tagPOINTF>& pts, Gdiplus::RectF& rect) {
    if (pts.empty()) {
        return false;
    }
    if (pts.size() == 1) {
        rect = Gdiplus::RectF(pts[0].x, pts[0].y, 0.0f, 0.0f);
        return true;
    }
    Gdiplus::GraphicsPath path;
    AddChain(path, pts, 1.0f);
    Gdiplus::RectF b;
    path.GetBounds(&b);
    rect = Gdiplus::RectF(b.X, b.Y + b.Height, b.Width, b.Height);
    return true;
}

using geom::ClampPixel;

using Gdiplus::detail::Within360;

// The segments of an arc chain (see CCircle::AppendBezierSegments), appended
// to out.
void AppendChainSegments(const tagPOINTF* chain, size_t count, std::vector<BEZIER_4POINTF_DRAW>& out) {
    const size_t first = out.size();
    // One list per thread: arcs become curves by the hundred thousand.
    thread_local std::vector<Piece> pieces;
    RealPieces(chain, count, pieces);
    for (const Piece& s : pieces) {
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = s.p[0];
        seg.p2 = s.p[1];
        seg.p3 = s.p[2];
        seg.p4 = s.p[3];
        out.push_back(seg);
    }

    // Tag the spans as arcs the curve can edit: every span of one arc
    // carries the arc's ends and a point halfway along it. The three points
    // of a full circle cannot define it (its ends coincide), so a full
    // circle becomes two half arcs.
    tagPOINTF centre;
    double radius = 0.0;
    if (FitCircle(pieces, centre, radius)) {
        auto tag = [&](size_t from, size_t to) {
            const tagPOINTF start = out[first + from].p1;
            const tagPOINTF end = out[first + to - 1].p4;
            const tagPOINTF mid = MidOf(pieces, from, to);
            for (size_t i = from; i < to; ++i) {
                BEZIER_4POINTF_DRAW& seg = out[first + i];
                seg.LineType = 2;
                seg.ArcStartPoint = start;
                seg.ArcEndPoint = end;
                seg.ArcCenterPoint = mid;
            }
        };
        const size_t m = pieces.size();
        const double closing = Dist(pieces.front().p[0], pieces.back().p[3]);
        if (closing > 1e-5 * radius) {
            tag(0, m);
        } else if (m >= 2) {
            tag(0, (m + 1) / 2);
            tag((m + 1) / 2, m);
        }
    }
    // An unusually long chain does not keep its memory with the thread.
    if (pieces.capacity() > 64) std::vector<Piece>().swap(pieces);
}

// The chain a build of the arc about (cx, cy) with radius r from start over
// sweep degrees gives: its Bezier points, padded with copies of the end
// point to kArcPointCount. False when the build yields no points.
bool ArcChain(double cx, double cy, double r, double start, double sweep, tagPOINTF* chain) {
    static_assert(Gdiplus::detail::kMaxArcPoints == static_cast<int>(CCircle::kArcPointCount));
    const double side = std::fabs(2.0 * r);
    int n = 0;
    if (!(side >= kMinSide)) {
        // A zero radius is a point at the centre, not a circle of some other
        // size beside it.
        if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(sweep)) {
            return false;
        }
        chain[n++] = tagPOINTF{static_cast<float>(cx), static_cast<float>(cy)};
    } else {
        // The square's corner is the one with the smaller coordinates, the
        // same for a negative radius. The values are those a path's AddArc
        // takes, and refused where it refuses them.
        const double half = side / 2.0;
        const float x = static_cast<float>(cx - half);
        const float y = static_cast<float>(cy - half);
        const float w = static_cast<float>(side);
        const float from = static_cast<float>(start);
        const float over = static_cast<float>(sweep);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(from) ||
            !std::isfinite(over) || !(w > 0)) {
            return false;
        }
        Gdiplus::PointF pts[Gdiplus::detail::kMaxArcPoints];
        n = Gdiplus::detail::ArcBezierPoints(x, y, w, w, from, over, pts);
        for (int i = 0; i < n; ++i) {
            chain[i] = tagPOINTF{pts[i].X, pts[i].Y};
        }
    }
    for (size_t i = static_cast<size_t>(n); i < CCircle::kArcPointCount; ++i) {
        chain[i] = chain[n - 1];
    }
    return std::all_of(chain, chain + CCircle::kArcPointCount, Usable);
}

// The chain of the arc InitCircle builds, after the checks every build
// makes: numbers that are all finite and a circle within the coordinate
// limit. False when there is no such arc.
bool CheckedArcChain(double cx, double cy, double r, double start, double end, uint8_t direction,
                     tagPOINTF* chain) {
    if (!geom::AllFinite(cx, cy, r, start, end) || std::fabs(cx) + std::fabs(r) > kCoordLimit ||
        std::fabs(cy) + std::fabs(r) > kCoordLimit) {
        return false;
    }
    start = Within360(start);
    end = Within360(end);
    return ArcChain(cx, cy, r, start, SweepOf(start, end, direction), chain);
}

}  // namespace

CCircle::CCircle() { InitShape(SHAPE_CIRCLE, "IDS_TYPENAME_CIRCLE", ShapeCounterOf(SHAPE_CIRCLE)); }

CCircle::CCircle(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3) : CCircle() { GetCircleFrom3P(p1, p2, p3, this); }

CCircle::~CCircle() = default;

// ---- building ------------------------------------------------------------------

double CCircle::GetSweepAngle() {
    startDeg = Within360(startDeg);
    endDeg = Within360(endDeg);
    return SweepOf(startDeg, endDeg, arcPath);
}

int CCircle::Build(double cx, double cy, double r, double start, double end, uint8_t direction) {
    // Nothing is stored before the build succeeds: a failed build keeps the
    // previous circle whole rather than parameters that no longer match it.
    tagPOINTF chain[kArcPointCount];
    if (!CheckedArcChain(cx, cy, r, start, end, direction, chain)) {
        return -1;
    }
    start = Within360(start);
    end = Within360(end);

    ptCenter = {static_cast<float>(cx), static_cast<float>(cy)};
    Radius = r;
    startDeg = start;
    endDeg = end;
    arcPath = direction;
    arcPoints.assign(chain, chain + kArcPointCount);
    lastCircle.startDeg = startDeg;
    lastCircle.endDeg = endDeg;
    lastCircle.Radius = Radius;
    lastCircle.ptCenter = ptCenter;
    lastCircle.arcPath = arcPath;
    InvalidateGeometry();
    return 1;
}

bool CCircle::AppendArcSegments(float cx, float cy, float r, double start, double end, int direction,
                                std::vector<BEZIER_4POINTF_DRAW>& out) {
    tagPOINTF chain[kArcPointCount];
    if (!CheckedArcChain(cx, cy, r, start, end, static_cast<uint8_t>(direction & 0xFF), chain)) {
        return false;
    }
    AppendChainSegments(chain, kArcPointCount, out);
    return true;
}

int CCircle::InitCircle(float cx, float cy, float, float r) {
    const ShapeGuard guard(this);
    const int built = Build(cx, cy, r, startDeg, endDeg, arcPath);
    return built < 0 ? -1 : 0;
}

void CCircle::SnapEnds(tagPOINTF first, tagPOINTF last) {
    if (arcPoints.empty()) {
        return;
    }
    const double tol = 1e-5 * std::max(1.0, std::fabs(Radius));
    if (Dist(arcPoints.front(), first) <= tol) {
        arcPoints.front() = first;
    }
    const tagPOINTF oldLast = arcPoints.back();
    if (Dist(oldLast, last) <= tol) {
        // The end point and the padding copies after it.
        for (size_t i = arcPoints.size(); i-- > 1;) {
            if (!(arcPoints[i] == oldLast)) {
                break;
            }
            arcPoints[i] = last;
        }
    }
}

int CCircle::SetCircleProperty(double cx, double cy, double r, double start, double end, int direction) {
    int built = 0;
    {
        // Released before the view is asked to repaint.
        const ShapeGuard guard(this);
        built = Build(cx, cy, r, start, end, static_cast<uint8_t>(direction & 0xFF));
    }
    if (m_pView != nullptr) {
        m_pView->Invalidate(TRUE);
    }
    return built < 0 ? -1 : 0;
}

void CCircle::SetData(const SCircleData& data) {
    const ShapeGuard guard(this);
    if (!std::isfinite(data.startDeg) || !(std::fabs(data.Radius) <= kCoordLimit) || !AllUsable(data.arcPoints)) {
        return;
    }
    startDeg = data.startDeg;
    Radius = data.Radius;
    arcPoints = data.arcPoints;
    InvalidateGeometry();
}

int CCircle::GetCircleFrom3P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, CCircle* target) {
    std::unique_ptr<CCircle> temporary;
    if (target == nullptr) {
        temporary = std::make_unique<CCircle>();
        target = temporary.get();
    }
    tagPOINTF centre;
    double radius = 0.0;
    if (!GetCircleParamerFrom3P(p1, p2, p3, centre, radius)) {
        return 0;
    }
    // Which side of the chord p1-p2 p3 lies on, seen from the chord's middle.
    const tagPOINTF mid = GetMidPointF(p1, p2);
    const double a1 = GetAngleFrom2Point(p1, mid);
    const double a2 = GetAngleFrom2Point(p2, mid);
    const double a3 = GetAngleFrom2Point(p3, mid);
    const double lo = std::min(a1, a2);
    const double hi = std::max(a1, a2);
    const bool between = lo < a3 && a3 < hi;
    const double start = GetAngleFrom2Point(p1, centre);
    const double end = GetAngleFrom2Point(p2, centre);
    const uint8_t direction = (a2 > a1 ? between : !between) ? 1 : 0;
    if (target->Build(centre.x, centre.y, radius, start, end, direction) <= 0) {
        return 0;
    }
    // The arc ends on the given points exactly, so chains built from it join
    // their neighbours without a gap.
    target->SnapEnds(p1, p2);
    lastCircle = target->lastCircle;
    return 1;
}

int CCircle::GetCircleFrom2P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, CCircle* target) {
    std::unique_ptr<CCircle> temporary;
    if (target == nullptr) {
        temporary = std::make_unique<CCircle>();
        target = temporary.get();
    }
    const tagPOINTF q = ptCenter;
    const double dx = static_cast<double>(q.x) - p2.x;
    const double dy = static_cast<double>(q.y) - p2.y;
    if (std::fabs(dx) < kTangentEps || std::fabs(static_cast<double>(p3.x) - p2.x) < kTangentEps) {
        return 0;
    }
    // The line from p2 through this arc's centre: the new centre lies on it,
    // so both arcs share the tangent at p2.
    const double s1 = dy / dx;
    if (std::fabs(s1) < kTangentEps) {
        return 0;
    }
    // The new centre is where that line meets the perpendicular bisector of
    // p2-p3.
    const tagPOINTF m = GetMidPointF(p3, p2);
    const double chordSlope = GetSlope(p3, p2);
    double x = 0.0;
    double y = 0.0;
    if (chordSlope == 0.0) {
        // A level chord has a vertical bisector.
        x = m.x;
        y = p2.y + s1 * (x - p2.x);
    } else {
        const double k = -1.0 / chordSlope;
        const double b = m.y - k * m.x;
        const double den = dy - dx * k;
        if (std::fabs(den) < kTangentEps) {
            return 0;
        }
        x = (p2.x * dy + dx * b - p2.y * dx) / den;
        y = k * x + b;
    }
    const double r = std::hypot(p2.x - x, p2.y - y);
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(r)) {
        return 0;
    }
    const tagPOINTF centre{static_cast<float>(x), static_cast<float>(y)};

    const double tangent = -1.0 / s1;
    const int side1 = GetPointAtLineDir(tangent, p2, p1);
    const int side3 = GetPointAtLineDir(tangent, p2, p3);
    double start = GetAngleFrom2Point(p2, centre);
    double end = GetAngleFrom2Point(p3, centre);
    uint8_t direction = arcPath;
    bool swapped = false;
    const float zoom = ViewZoom();
    if (zoom > 0.0f && !arcPoints.empty() && Dist(arcPoints.front(), p1) <= kSwapPixels / zoom) {
        std::swap(start, end);
        swapped = true;
    }
    if (side1 != side3) {
        direction = direction != 0 ? 0 : 1;
    }
    if (target->Build(x, y, r, start, end, direction) <= 0) {
        return 0;
    }
    target->SnapEnds(swapped ? p3 : p2, swapped ? p2 : p3);
    lastCircle = target->lastCircle;
    return 1;
}

int CCircle::GetPointAtLineDir(double k, tagPOINTF p0, tagPOINTF p) {
    const double dx = static_cast<double>(p.x) - p0.x;
    const double dy = static_cast<double>(p.y) - p0.y;
    if (std::fabs(dx) < kTangentEps) {
        return 0;
    }
    const double s = dy / dx;
    const bool right = dx >= 0;
    const bool up = dy >= 0;
    bool above = false;
    if (k <= 0) {
        if (right && up) {
            above = true;
        } else if (!right && up) {
            above = s < k;
        } else if (!right && !up) {
            above = false;
        } else {
            above = s > k;
        }
    } else {
        if (right && up) {
            above = s > k;
        } else if (!right && up) {
            above = true;
        } else if (!right && !up) {
            above = s < k;
        } else {
            above = false;
        }
    }
    return above ? 1 : 0;
}

// ---- persistence -----------------------------------------------------------------

void CCircle::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("Pointf", &arrPointf);
    AddProp("13Pointf", &arr13Pointf);
    AddProp("startDeg", &startDeg);
    AddProp("Radius", &Radius);
    AddProp("ptCenter", &ptCenter);
    // Without these a partial arc read back would turn into a full circle at
    // its next rebuild. Readers that do not know them skip them.
    AddProp("endDeg", &endDeg);
    AddProp("arcPath", &arcPath);
}

void CCircle::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    arrPointf.assign(1, arcPoints);
    arr13Pointf.assign(1, std::vector<tagPOINTF>(kArcPointCount, tagPOINTF{0.0f, 0.0f}));
}

void CCircle::RestoreAfterRead() {
    const ShapeGuard guard(this);
    // A damaged figure is not taken in: one point that is not a usable
    // number would reach the scanner. The parameters fall back to those of
    // a new circle, the centre to the middle of the arc.
    std::vector<tagPOINTF> read;
    for (const std::vector<tagPOINTF>& group : arrPointf) {
        read.insert(read.end(), group.begin(), group.end());
    }
    if (AllUsable(read)) {
        arcPoints.insert(arcPoints.end(), read.begin(), read.end());
    }
    arrPointf.clear();
    if (!std::isfinite(startDeg)) {
        startDeg = 0.0;
    }
    if (!std::isfinite(endDeg)) {
        endDeg = 360.0;
    }
    if (!(std::fabs(Radius) <= kCoordLimit)) {
        Radius = 0.0;
    }
    if (!Usable(ptCenter)) {
        Gdiplus::RectF b;
        ptCenter = ChainBounds(arcPoints, b) ? tagPOINTF{b.X + b.Width / 2, b.Y - b.Height / 2} : tagPOINTF{};
    }
    InvalidateGeometry();
}

// ---- conversions -------------------------------------------------------------------

CBaseShape* CCircle::ToBezier() {
    auto* curve = new CBezierCurve();
    curve->SetDocView(GetShapeDoc(), GetShapeView());
    // The curve marks with this circle's laser parameters.
    curve->SetPen(GetPenIndex());
    curve->SetSmoothRatio(GetSmoothRatio());
    curve->arrSegment.clear();
    curve->bClosed = AppendBezierSegments(curve->arrSegment) ? 1 : 0;
    curve->KeepMarkingOf(*this);
    return curve;
}

bool CCircle::AppendBezierSegments(std::vector<BEZIER_4POINTF_DRAW>& out) {
    AppendChainSegments(arcPoints.data(), arcPoints.size(), out);
    return std::fabs(GetSweepAngle()) >= 360.0;
}

CBaseShape* CCircle::ToPolyLine() {
    auto* poly = new CPolyLine();
    poly->SetCaption(GetCaption());
    poly->SetDocView(GetShapeDoc(), GetShapeView());
    GetFlattenPathPoints(poly->arrPoint, kPolylineTolerance);
    poly->SetPen(GetPenIndex());
    poly->KeepMarkingOf(*this);
    return poly;
}

CBaseShape* CCircle::Clone() {
    auto* copy = new CCircle();
    static_cast<CircleFields&>(*copy) = *this;
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ---------------------------------------------------------------------

int CCircle::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    // The attribute named diameter carries the radius: readers of these
    // files expect it so.
    line.Format(L"<Circle Name=\"%s\" startDeg=\"%f\" diameter=\"%f\">", name.c_str(), startDeg, Radius);
    buff.WriteToFile(line.GetString());
    line.Format(L"<Point nSize=\"%d\">", static_cast<int>(arcPoints.size()));
    buff.WriteToFile(line.GetString());
    for (const tagPOINTF& p : arcPoints) {
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>", static_cast<double>(p.x), static_cast<double>(p.y),
                    0.0);
        buff.WriteToFile(line.GetString());
    }
    buff.WriteToFile(L"</Point>");
    buff.WriteToFile(L"</Circle>");
    return 0;
}

int CCircle::ExportGCodeToBuff(GCodeContext& ctx) { return ExportFlattenedGCode(*this, ctx); }

// ---- drawing ---------------------------------------------------------------------

float CCircle::ViewZoom() const {
    if (m_pView == nullptr) {
        return 0.0f;
    }
    const float zoom = m_pView->GetZoom();
    return (std::isfinite(zoom) && zoom > 0.0f) ? zoom : 0.0f;
}

void CCircle::StrokeChain(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev) {
    if (dev.size() < 4) {
        return;
    }
    const size_t prefix = 1 + 3 * ((dev.size() - 1) / 3);
    g.DrawBeziers(&pen, dev.data(), static_cast<INT>(prefix));
}

int CCircle::DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points) {
    if (dc == nullptr || m_pView == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 1.0f);
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        m_pView->LP2DP(zoom, points[i], dev[i], 0);
    }
    StrokeChain(g, pen, dev);
    return 0;
}

int CCircle::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = arcPoints;
    for (tagPOINTF& p : pts) {
        p = PointfSlope(p, a, b, base);
    }
    return DrawPreview(dc, color, pts);
}

int CCircle::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = arcPoints;
    for (tagPOINTF& p : pts) {
        p = PointfZoom(p, sx, sy, base);
    }
    return DrawPreview(dc, color, pts);
}

int CCircle::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = arcPoints;
    for (tagPOINTF& p : pts) {
        p = PointfRotate(p, centre, angle);
    }
    return DrawPreview(dc, color, pts);
}

int CCircle::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD color, int arrow, float dx,
                            float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr || arcPoints.size() < kArcPointCount) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    // A buffer per call: drawing may come from more than one thread.
    std::vector<Gdiplus::PointF> dev(kArcPointCount);
    for (size_t i = 0; i < kArcPointCount; ++i) {
        dev[i] = Gdiplus::PointF(arcPoints[i].x + dx, arcPoints[i].y + dy);
    }
    StrokeChain(*g, pen, dev);
    return 0;
}

int CCircle::Draw(CDC* dc, int arrow, int printing, int unused, int showStart) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    return Draw(dc, &g, GetPenColor(-1), arrow, printing, unused, showStart, 0.0f, 0.0f);
}

int CCircle::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int printing, int, int showStart, float dx,
                  float dy) {
    const ShapeGuard guard(this);
    if (m_pView == nullptr || arcPoints.size() < kArcPointCount || (g == nullptr && dc == nullptr)) {
        return 0;
    }
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    // On paper a device unit is a third of a millimetre of the view's scale.
    double printX = 1.0;
    double printY = 1.0;
    if (printing != 0 && dc != nullptr) {
        printX = dc->GetDeviceCaps(LOGPIXELSX) / 25.4 / 3.0;
        printY = dc->GetDeviceCaps(LOGPIXELSY) / 25.4 / 3.0;
    }
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev(kArcPointCount);
    for (size_t i = 0; i < kArcPointCount; ++i) {
        Gdiplus::PointF d;
        m_pView->LP2DP(zoom, arcPoints[i], d, printing);
        d.X += dx;
        d.Y += dy;
        if (printing != 0) {
            d.X = static_cast<float>(d.X * printX);
            d.Y = static_cast<float>(d.Y * printY);
        }
        dev[i] = d;
    }
    StrokeChain(*g, pen, dev);
    if (showStart != 0 && IsSelected() != 0 && printing == 0) {
        g->DrawRectangle(&pen, GetStartRectInPoint(dev[0]));
    }
    return 0;
}

int CCircle::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr || arcPoints.size() < kArcPointCount) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    std::vector<Gdiplus::PointF> dev(kArcPointCount);
    for (size_t i = 0; i < kArcPointCount; ++i) {
        wnd->LP2DP(arcPoints[i], dev[i], mode);
        dev[i].X += dx;
        dev[i].Y += dy;
    }
    StrokeChain(g, pen, dev);
    return 0;
}

int CCircle::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (dc == nullptr || m_pView == nullptr || IsSelected() == 0 || arcPoints.empty()) {
        return 0;
    }
    CGdiObject* previous = dc->SelectStockObject(HOLLOW_BRUSH);
    for (const tagPOINTF& p : {arcPoints.front(), arcPoints.back()}) {
        CPoint c;
        m_pView->LP2DP(p, c, 0);
        const int x = ClampPixel(c.x);
        const int y = ClampPixel(c.y);
        // Three by three pixels: GDI leaves the right and bottom edge out.
        dc->Rectangle(x - 1, y - 1, x + 2, y + 2);
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 0;
}

// ---- editing -----------------------------------------------------------------------

int CCircle::ModifyEditPoint(int, tagPOINTF point) {
    // The handles sit on the arc: a drag changes the radius and nothing
    // else. The current parameters are used, not those of the last build,
    // which a read, a clone or a move leaves behind.
    {
        const ShapeGuard guard(this);
        const double r = Dist(ptCenter, point);
        if (!std::isfinite(r) || Build(ptCenter.x, ptCenter.y, r, startDeg, endDeg, arcPath) < 0) {
            return 0;
        }
    }
    if (m_pView != nullptr) {
        m_pView->Invalidate(TRUE);
    }
    return 0;
}

int CCircle::GetSnapPoint(std::vector<tagPOINTF>& points) {
    points = arcPoints;
    return 0;
}

// ---- transforms ----------------------------------------------------------------------

template <class F>
bool CCircle::TransformAll(F f) {
    // All or nothing: a transform that would take a point or the centre out
    // of the usable numbers (a parameter that is not one, an overflow)
    // changes nothing.
    std::vector<tagPOINTF> moved(arcPoints.size());
    for (size_t i = 0; i < arcPoints.size(); ++i) {
        moved[i] = f(arcPoints[i]);
        if (!Usable(moved[i])) {
            return false;
        }
    }
    const tagPOINTF centre = f(ptCenter);
    if (!Usable(centre)) {
        return false;
    }
    arcPoints.swap(moved);
    ptCenter = centre;
    return true;
}

void CCircle::MirrorAngles(bool flipX, bool flipY) {
    // The angles name the drawn arc's ends about the centre: a flip in one
    // axis reflects them and turns the arc's direction round, a flip in
    // both is a half turn.
    if (flipX && flipY) {
        startDeg += 180.0;
        endDeg += 180.0;
    } else if (flipX || flipY) {
        startDeg = flipX ? 180.0 - startDeg : -startDeg;
        endDeg = flipX ? 180.0 - endDeg : -endDeg;
        arcPath = arcPath != 0 ? 0 : 1;
    }
}

// The centre follows every transform, and the angles and direction follow
// the turns and flips, so that a rebuild from the parameters (a handle drag,
// a property change) starts from the circle as it is drawn.

int CCircle::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    if (!TransformAll([dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; })) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

int CCircle::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    const PointRotator turn(centre, angle);
    if (!TransformAll(turn)) {
        return kRefused;
    }
    startDeg += angle;
    endDeg += angle;
    CBaseShape::Rotate(angle, centre);
    return 0;
}

int CCircle::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    const double radius = Radius * std::fabs(sx);
    if (!(std::fabs(radius) <= kCoordLimit) ||
        !TransformAll([&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); })) {
        return kRefused;
    }
    Radius = radius;
    MirrorAngles(sx < 0, sy < 0);
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CCircle::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    if (!TransformAll([&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); })) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CCircle::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (mode < 1 || mode > 3) {
        return 0;
    }
    if (!TransformAll([&](tagPOINTF p) { return PointfMirror(p, fixed, mode); })) {
        return kRefused;
    }
    MirrorAngles(mode != 2, mode != 1);
    InvalidateGeometry();
    return 0;
}

int CCircle::SortPath() {
    const ShapeGuard guard(this);
    std::reverse(arcPoints.begin(), arcPoints.end());
    InvalidateGeometry();
    return 0;
}

// ---- tests against points and rectangles ----------------------------------------------

int CCircle::IsInRect(Gdiplus::RectF& rect) {
    Gdiplus::RectF b;
    if (!ChainBounds(arcPoints, b)) {
        return 0;
    }
    return (PtInRectFBorder(b.X, b.Y, rect, false) && PtInRectFBorder(b.X + b.Width, b.Y - b.Height, rect, false))
               ? 1
               : 0;
}

int CCircle::IsMe(tagPOINTF point) {
    if (arcPoints.empty()) {
        return 0;
    }
    Gdiplus::GraphicsPath path;
    AddChain(path, arcPoints, 1.0f);
    Gdiplus::Pen pen(Gdiplus::Color(255, 0, 0, 0), kPickPenWidth);
    return path.IsOutlineVisible(Gdiplus::PointF(point.x, point.y), &pen) ? 1 : 0;
}

int CCircle::IsInClientRectF() {
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    const Gdiplus::RectF r = CalculateRectangle(arcPoints);
    if (PtInRectFBorder(r.X, r.Y, client, false) && PtInRectFBorder(r.X + r.Width, r.Y - r.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(r, client) ? 1 : 0;
}

int CCircle::GetRectangle(Gdiplus::RectF& rect) {
    Gdiplus::RectF b;
    if (!ChainBounds(arcPoints, b)) {
        return 0;
    }
    rect = b;
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

int CCircle::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kSelectTolerance);
    // The edge test takes the rectangle by its lower edge.
    const Gdiplus::RectF band(rect.X, rect.Y - rect.Height, rect.Width, rect.Height);
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        if (SegmentHitsRect(band, pts[i], pts[(i + 1) % n])) {
            return 1;
        }
    }
    return 0;
}

// ---- properties ------------------------------------------------------------------------

int CCircle::GetCircleProperty(double& r, double& start, double& end) {
    r = Radius;
    start = startDeg;
    end = endDeg;
    return 0;
}

int CCircle::SetCircleProperty(double r, double start, double end) {
    int built = 0;
    {
        // The new circle sits at the centre of the current arc's bounds.
        const ShapeGuard guard(this);
        Gdiplus::RectF rect;
        GetRectangle(rect);
        built = Build(rect.X + rect.Width / 2.0, rect.Y - rect.Height / 2.0, r, start, end, arcPath);
    }
    if (m_pView != nullptr) {
        m_pView->Invalidate(TRUE);
    }
    return built < 0 ? -1 : 0;
}

int CCircle::GetArcPath() { return arcPath; }

void CCircle::SetArcPath(int path) {
    const ShapeGuard guard(this);
    arcPath = static_cast<uint8_t>(path & 0xFF);
    InvalidateGeometry();
}

// ---- flattening and mark data -------------------------------------------------------------

int CCircle::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    if (arcPoints.size() < 2) {
        return 0;
    }
    const float smooth = GetSmoothRatio();
    // A tolerance that is not a positive number would flatten at the floor
    // of the path engine: the shape's own is used then.
    const float tol = (tolerance > 0.0f && tolerance < smooth) ? tolerance : smooth;
    Gdiplus::GraphicsPath path;
    AddChain(path, arcPoints, kFlattenScale);
    if (path.Flatten(nullptr, tol) != Gdiplus::Ok) {
        return 0;
    }
    const std::vector<Gdiplus::PointF>& flat = path.PathPoints();
    points.reserve(points.size() + flat.size());
    for (const Gdiplus::PointF& p : flat) {
        points.push_back({p.X / kFlattenScale, p.Y / kFlattenScale});
    }
    return 0;
}

int CCircle::GetFlattenPathFirstPoint(tagPOINTF& point) {
    if (arcPoints.empty()) {
        return 1;
    }
    point = arcPoints.front();
    return 0;
}

int CCircle::GetFlattenPathLastPoint(tagPOINTF& point) {
    if (arcPoints.empty()) {
        return 1;
    }
    point = arcPoints.back();
    return 0;
}

bool CCircle::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    return MarkFlattenedPath(out, MarkEnding::kLeaveWithRect, IsReverseOrder());
}
