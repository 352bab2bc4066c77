// The node editor of CBezierCurve: hit tests for nodes, handles and
// segments, the drawing of the edit state, node and handle moves, segment
// drags, node insertion and deletion, and the node operations (closing,
// merging, aligning, separating, segment type changes) with the replay of
// their change records.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "morvik/afx/cgeom.h"
#include "morvik/compose/combine.h"
#include "morvik/core/bezier.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_records.h"

namespace {

using Segment = BEZIER_4POINTF_DRAW;
using Segments = std::vector<BEZIER_4POINTF_DRAW>;

// Two points closer than this are one node.
constexpr double kSameNode = 0.001;
// Two segments whose points all lie closer than this are one segment.
constexpr double kSameSegment = 0.0001;
// What the distance measures answer when there is nothing to measure.
constexpr double kFar = 999.0;
// Arc pieces with ends closer than this are left out of a rebuilt arc.
constexpr double kShortPiece = 0.01;
// Device coordinates are kept inside this range so that marker corners and
// flattening stay representable for absurd shape coordinates.
constexpr double kDeviceLimit = 268435456.0;
// The segment drag's length search gives up after this many steps.
constexpr int kMaxSearchSteps = 1000;
constexpr int kInsertSamples = 5000;

using geom::Dist;

double DevDist(POINT a, POINT b) {
    return std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
}

using geom::Finite;

bool SegmentFinite(const Segment& s) { return Finite(s.p1) && Finite(s.p2) && Finite(s.p3) && Finite(s.p4); }

tagPOINTF Offset(tagPOINTF p, double dx, double dy) {
    return {static_cast<float>(p.x + dx), static_cast<float>(p.y + dy)};
}

Segment MakeLine(tagPOINTF a, tagPOINTF b) {
    Segment s;
    s.p1 = a;
    s.p2 = a;
    s.p3 = b;
    s.p4 = b;
    s.LineType = 1;
    return s;
}

bool IsArcPiece(const Segment& s) { return s.LineType == 2; }

// Pieces of one arc carry the same three arc points.
bool SameArc(const Segment& a, const Segment& b) {
    return IsArcPiece(a) && IsArcPiece(b) && a.ArcStartPoint == b.ArcStartPoint && a.ArcEndPoint == b.ArcEndPoint &&
           a.ArcCenterPoint == b.ArcCenterPoint;
}

// A piece of a circle construction that has no length worth keeping.
bool Degenerate(const Segment& s) {
    return std::fabs(static_cast<double>(s.p4.x) - s.p1.x) < kSameNode &&
           std::fabs(static_cast<double>(s.p4.y) - s.p1.y) < kSameNode;
}

// Both handles of a line sit on its ends.
void LineControls(Segment& s) {
    if (s.LineType == 1) {
        s.p2 = s.p1;
        s.p3 = s.p4;
    }
}

Gdiplus::PointF ToPointF(tagPOINTF p) { return Gdiplus::PointF(p.x, p.y); }

// One cubic in integer device units, flattened by the GDI path engine.
std::vector<POINT> FlattenDevice(const POINT (&ctrl)[4]) {
    CDC dc;
    dc.BeginPath();
    dc.PolyBezier(ctrl, 4);
    dc.EndPath();
    dc.FlattenPath();
    const int count = dc.GetPath(nullptr, nullptr, 0);
    if (count <= 0) {
        return {};
    }
    std::vector<POINT> points(static_cast<size_t>(count));
    std::vector<BYTE> types(static_cast<size_t>(count));
    if (dc.GetPath(points.data(), types.data(), count) != count) {
        return {};
    }
    return points;
}

// The same-node test of SmoothType: both 0 or both 1.
bool ShareSmoothType(const Segment& a, const Segment& b) {
    return (a.SmoothType == 0 && b.SmoothType == 0) || (a.SmoothType == 1 && b.SmoothType == 1);
}

// Keeps the pieces of a circle construction that are long enough.
Segments LongPieces(const Segments& pieces, double minimum) {
    Segments kept;
    for (const Segment& s : pieces) {
        if (Dist(s.p1, s.p4) > minimum) {
            kept.push_back(s);
        }
    }
    return kept;
}

}  // namespace

// ---- device mapping and tolerances -------------------------------------------------

Gdiplus::PointF CBezierCurve::ToDeviceF(tagPOINTF p) {
    Gdiplus::PointF d(p.x, -p.y);
    if (CBaseView* view = GetShapeView()) {
        view->LP2DP(view->GetZoom(), p, d, 0);
    }
    auto clamp = [](float v) {
        if (std::isnan(v)) {
            return 0.0f;
        }
        return static_cast<float>(std::clamp(static_cast<double>(v), -kDeviceLimit, kDeviceLimit));
    };
    return Gdiplus::PointF(clamp(d.X), clamp(d.Y));
}

POINT CBezierCurve::ToDevice(tagPOINTF p) {
    const Gdiplus::PointF d = ToDeviceF(p);
    return POINT{static_cast<LONG>(std::lround(d.X)), static_cast<LONG>(std::lround(d.Y))};
}

float CBezierCurve::EditZoom() {
    CBaseView* view = GetShapeView();
    if (view == nullptr) {
        return 1.0f;
    }
    const float zoom = view->GetZoom();
    return (std::isfinite(zoom) && zoom > 0.0f) ? zoom : 1.0f;
}

double CBezierCurve::CurveBand() { return GetPickDistance() * 4.0 * (m_nPickDouble != 0 ? 2.0 : 1.0); }

// ---- hit tests -----------------------------------------------------------------------

double CBezierCurve::DistanceBz(const BEZIER_4POINTF_DRAW& seg, tagPOINTF p, double& t) {
    const POINT ctrl[4] = {ToDevice(seg.p1), ToDevice(seg.p2), ToDevice(seg.p3), ToDevice(seg.p4)};
    const std::vector<POINT> v = FlattenDevice(ctrl);
    const POINT q = ToDevice(p);
    const bool givenT = t >= 0.0 && t <= 1.0;
    if (v.size() < 2) {
        if (!givenT) {
            t = -1.0;
        }
        return kFar;
    }
    std::vector<double> length(v.size(), 0.0);
    double total = 0.0;
    for (size_t i = 1; i < v.size(); ++i) {
        length[i] = DevDist(v[i - 1], v[i]);
        total += length[i];
    }

    if (givenT) {
        const double target = t * total;
        double before = 0.0;
        for (size_t i = 1; i < v.size(); ++i) {
            if (target <= before + length[i]) {
                if (length[i] < 1e-6) {
                    return DevDist(q, v[i]);
                }
                const double f = (target - before) / length[i];
                const double x = v[i - 1].x + f * (static_cast<double>(v[i].x) - v[i - 1].x);
                const double y = v[i - 1].y + f * (static_cast<double>(v[i].y) - v[i - 1].y);
                return std::hypot(q.x - x, q.y - y);
            }
            before += length[i];
        }
        return kFar;
    }

    double best = kFar;
    size_t bestChord = 0;
    double part = 0.0;
    for (size_t i = 1; i < v.size(); ++i) {
        const double a = DevDist(q, v[i - 1]);
        const double b = DevDist(q, v[i]);
        const double detour = a + b - length[i];
        // A later chord wins a tie.
        if (detour <= best) {
            best = detour;
            bestChord = i;
            part = a + b > 0.0001 ? length[i] * a / (a + b) : a;
        }
    }
    if (bestChord == 0) {
        // Nothing near enough to place the point on the segment.
        t = -1.0;
        return best;
    }
    double before = 0.0;
    for (size_t i = 1; i < bestChord; ++i) {
        before += length[i];
    }
    t = total > 1e-5 ? (before + part) / total : 0.0;
    return best;
}

int CBezierCurve::IsPtOnCurve(tagPOINTF p, const std::vector<tagPOINTF>& four) {
    if (four.size() < 4) {
        return 0;
    }
    const POINT ctrl[4] = {ToDevice(four[0]), ToDevice(four[1]), ToDevice(four[2]), ToDevice(four[3])};
    const std::vector<POINT> v = FlattenDevice(ctrl);
    const POINT q = ToDevice(p);
    const double band = CurveBand();
    for (size_t i = 1; i < v.size(); ++i) {
        if (DevDist(q, v[i - 1]) + DevDist(q, v[i]) - DevDist(v[i - 1], v[i]) <= band) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int CBezierCurve::GetPtOnCurve(tagPOINTF& p) {
    if (arrSegment.empty() || !Finite(p)) {
        return -1;
    }
    Gdiplus::GraphicsPath path;
    for (const Segment& s : arrSegment) {
        path.AddBezier(ToPointF(s.p1), ToPointF(s.p2), ToPointF(s.p3), ToPointF(s.p4));
    }
    if (path.Flatten(nullptr, 0.001f) != Gdiplus::Ok) {
        return -1;
    }
    const std::vector<Gdiplus::PointF>& v = path.PathPoints();
    auto at = [&](size_t i) { return tagPOINTF{v[i].X, v[i].Y}; };
    double best = CurveBand();
    size_t chord = 0;
    for (size_t i = 1; i < v.size(); ++i) {
        const double detour = Dist(p, at(i - 1)) + Dist(p, at(i)) - Dist(at(i - 1), at(i));
        if (detour <= best) {
            best = detour;
            chord = i;
        }
    }
    if (chord == 0) {
        return -1;
    }
    p = Dist(p, at(chord)) <= Dist(p, at(chord - 1)) ? at(chord) : at(chord - 1);
    return static_cast<int>(chord);
}

int CBezierCurve::GetEditPointOnCurve(std::vector<tagPOINTF>& io) {
    const int n = static_cast<int>(arrSegment.size());
    if (io.empty() || n == 0) {
        return 0;
    }
    const double radius = GetPickDistance() * 10.0 / EditZoom();
    for (int k = 0; k <= n; ++k) {
        const tagPOINTF node = k < n ? arrSegment[k].p1 : arrSegment[n - 1].p4;
        if (!(Dist(io[0], node) <= radius)) {
            continue;
        }
        // A joint inside an arc is no node; a real node behind it may still
        // be meant.
        if (k > 0 && k < n && SameArc(arrSegment[k - 1], arrSegment[k])) {
            continue;
        }
        nEditType = 0;
        std::vector<tagPOINTF> out;
        out.reserve(8);
        auto four = [&](const Segment& s) {
            out.push_back(s.p1);
            out.push_back(s.p2);
            out.push_back(s.p3);
            out.push_back(s.p4);
        };
        if (k > 0) {
            four(arrSegment[k - 1]);
        } else if (bClosed != 0) {
            four(arrSegment[n - 1]);
        } else {
            out.insert(out.end(), 4, arrSegment[0].p1);
        }
        if (k < n) {
            four(arrSegment[k]);
        } else if (bClosed != 0) {
            four(arrSegment[0]);
        } else {
            out.insert(out.end(), 4, arrSegment[n - 1].p4);
        }
        io = std::move(out);
        return k + 1;
    }
    return 0;
}

int CBezierCurve::GetEditPointOfCtrl(std::vector<tagPOINTF>& io) {
    if (!m_bShowHandles || io.empty()) {
        return 0;
    }
    const double radius = GetPickDistance() * 10.0 / EditZoom();
    const int handles = static_cast<int>(arrSegment.size()) * 2;
    for (int h = 0; h < handles; ++h) {
        const Segment& s = arrSegment[h / 2];
        // Only cubic segments show handles; those of lines sit on their
        // nodes and those of arcs are not the user's to drag.
        if (s.LineType != 0) {
            continue;
        }
        if (Dist(io[0], (h % 2 == 0) ? s.p2 : s.p3) <= radius) {
            nEditType = 1;
            io = {s.p1, s.p2, s.p3, s.p4};
            return h + 1;
        }
    }
    return 0;
}

int CBezierCurve::GetEditPoint(std::vector<tagPOINTF>& points) {
    const int node = GetEditPointOnCurve(points);
    if (node > 0) {
        m_bShowHandles = true;
        nControlPoint = node - 1;
        return node;
    }
    const int handle = GetEditPointOfCtrl(points);
    if (handle > 0) {
        return handle;
    }
    nControlPoint = -1;
    nEditType = -1;
    m_bShowHandles = false;
    return 0;
}

int CBezierCurve::IsPtOnCtrlPoint(tagPOINTF p) {
    const double radius = GetPickDistance() * 10.0 / EditZoom();
    const int handles = static_cast<int>(arrSegment.size()) * 2;
    for (int h = 0; h < handles; ++h) {
        const Segment& s = arrSegment[h / 2];
        if (s.LineType == 0 && Dist(p, (h % 2 == 0) ? s.p2 : s.p3) < radius) {
            return h + 1;
        }
    }
    return 0;
}

int CBezierCurve::IsMe(tagPOINTF point) {
    for (size_t i = 0; i < arrSegment.size(); ++i) {
        const Segment& s = arrSegment[i];
        if (IsPtOnCurve(point, {s.p1, s.p2, s.p3, s.p4}) != 0) {
            return static_cast<int>(i + 1);
        }
        if (i == 0 && m_bNodeEditShape && m_bShowNodes && IsPtOnCtrlPoint(point) != 0) {
            return 1;
        }
    }
    return 0;
}

int CBezierCurve::IsInRect(Gdiplus::RectF& rect) {
    if (arrSegment.empty()) {
        return 0;
    }
    // The curve as the view shows it, mapped now rather than taken from the
    // last drawing, which may be stale or missing.
    Gdiplus::GraphicsPath path;
    for (const Segment& s : arrSegment) {
        path.AddBezier(ToDeviceF(s.p1), ToDeviceF(s.p2), ToDeviceF(s.p3), ToDeviceF(s.p4));
    }
    if (path.Flatten(nullptr, 0.25f) != Gdiplus::Ok || path.PathPoints().empty()) {
        return 0;
    }
    double minX = DBL_MAX, minY = DBL_MAX, maxX = -DBL_MAX, maxY = -DBL_MAX;
    for (const Gdiplus::PointF& p : path.PathPoints()) {
        minX = std::min(minX, static_cast<double>(p.X));
        maxX = std::max(maxX, static_cast<double>(p.X));
        minY = std::min(minY, static_cast<double>(p.Y));
        maxY = std::max(maxY, static_cast<double>(p.Y));
    }
    const POINT a = ToDevice({rect.X, rect.Y});
    const POINT b = ToDevice({rect.X + rect.Width, rect.Y - rect.Height});
    CRect device(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
    const POINT low{static_cast<LONG>(RoundHalfAway(minX)), static_cast<LONG>(RoundHalfAway(minY))};
    const POINT high{static_cast<LONG>(RoundHalfAway(maxX)), static_cast<LONG>(RoundHalfAway(maxY))};
    return device.PtInRect(low) && device.PtInRect(high) ? 1 : 0;
}

int CBezierCurve::IsInClientRectF() {
    if (arrSegment.empty()) {
        return 0;
    }
    CBaseView* view = GetShapeView();
    if (view == nullptr) {
        return 1;
    }
    std::vector<tagPOINTF> pts;
    pts.reserve(arrSegment.size() * 4);
    for (const Segment& s : arrSegment) {
        pts.insert(pts.end(), {s.p1, s.p2, s.p3, s.p4});
    }
    Gdiplus::RectF client;
    view->GetClientRectF(client);
    // Overlapping or touching the visible part both count.
    return RectsDisjoint(CalculateRectangle(pts), client) ? 0 : 1;
}

int CBezierCurve::GetRectInEditPoint(tagPOINTF a, tagPOINTF b) {
    arrSelectIndex.clear();
    const float left = std::min(a.x, b.x), right = std::max(a.x, b.x);
    const float bottom = std::min(a.y, b.y), top = std::max(a.y, b.y);
    auto inside = [&](tagPOINTF p) { return left < p.x && p.x < right && bottom < p.y && p.y < top; };
    const int n = static_cast<int>(arrSegment.size());
    for (int k = 0; k < n; ++k) {
        if (k == n - 1 && inside(arrSegment[k].p4)) {
            arrSelectIndex.push_back(n);
        }
        if (inside(arrSegment[k].p1) && !(k > 0 && SameArc(arrSegment[k - 1], arrSegment[k]))) {
            arrSelectIndex.push_back(k);
        }
    }
    return 0;
}

// ---- drawing the edit state ---------------------------------------------------------

void CBezierCurve::DrawPoint(CDC* dc, tagPOINTF p) {
    if (dc == nullptr) {
        return;
    }
    const POINT c = ToDevice(p);
    dc->Rectangle(c.x - 3, c.y - 3, c.x + 2, c.y + 2);
}

void CBezierCurve::DrawLine(CDC* dc, tagPOINTF a, tagPOINTF b) {
    if (dc == nullptr) {
        return;
    }
    CPen pen(PS_DOT, 1, 0xFF0000);
    CPen* previous = dc->SelectObject(&pen);
    const POINT from = ToDevice(a);
    const POINT to = ToDevice(b);
    dc->MoveTo(from.x, from.y);
    dc->LineTo(to.x, to.y);
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
}

int CBezierCurve::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (!m_bShowNodes) {
        return -1;
    }
    if (dc == nullptr) {
        return 0;
    }
    const int n = static_cast<int>(arrSegment.size());
    CGdiObject* previous = dc->SelectStockObject(HOLLOW_BRUSH);
    auto square = [&](tagPOINTF p) {
        const POINT c = ToDevice(p);
        dc->Rectangle(c.x - 3, c.y - 3, c.x + 3, c.y + 3);
    };
    for (int k = 0; k < n; ++k) {
        const Segment& s = arrSegment[k];
        const bool arc = IsArcPiece(s);
        if (!arc || Dist(s.p1, s.ArcStartPoint) <= kSameNode) {
            square(s.p1);
        }
        if (k == n - 1 && (!arc || Dist(s.p4, s.ArcEndPoint) <= kSameNode)) {
            square(s.p4);
        }
    }
    int result = 0;
    if (!m_bShowHandles) {
        result = -1;
    } else if (nControlPoint >= 0 && nControlPoint <= n && n > 0) {
        dc->SelectStockObject(BLACK_BRUSH);
        auto handles = [&](const Segment& s) {
            if (s.LineType != 0) {
                return;
            }
            DrawPoint(dc, s.p2);
            DrawPoint(dc, s.p3);
            DrawLine(dc, s.p1, s.p2);
            DrawLine(dc, s.p3, s.p4);
        };
        if (nControlPoint > 0) {
            handles(arrSegment[nControlPoint - 1]);
        } else if (bClosed != 0) {
            handles(arrSegment[n - 1]);
        }
        if (nControlPoint < n) {
            handles(arrSegment[nControlPoint]);
        }
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return result;
}

int CBezierCurve::DrawSelectPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (arrSelectIndex.empty() || dc == nullptr) {
        return 0;
    }
    const int n = static_cast<int>(arrSegment.size());
    CGdiObject* previous = dc->SelectStockObject(BLACK_BRUSH);
    for (size_t i = 0; i < arrSelectIndex.size(); ++i) {
        const int k = arrSelectIndex[i];
        if (k < 0 || k > n || n == 0) {
            continue;
        }
        const POINT c = ToDevice(k == n ? arrSegment[n - 1].p4 : arrSegment[k].p1);
        CRect r(c.x - 3, c.y - 3, c.x + 3, c.y + 3);
        if (k < n && i == 0) {
            r.InflateRect(1, 1);
        }
        dc->Rectangle(&r);
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 0;
}

int CBezierCurve::DrawClickPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (arrClickPoint.empty() || dc == nullptr) {
        return 0;
    }
    CGdiObject* previous = dc->SelectStockObject(BLACK_BRUSH);
    const POINT c = ToDevice(arrClickPoint[0]);
    dc->Ellipse(c.x - 4, c.y - 4, c.x + 4, c.y + 4);
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 1;
}

// ---- arcs inside the curve ------------------------------------------------------------

int CBezierCurve::GetCircleHeadIndex(const BEZIER_4POINTF_DRAW& piece) {
    const int n = static_cast<int>(arrSegment.size());
    int head = -1;
    for (int i = n - 1; i >= 0; --i) {
        if (SameArc(arrSegment[i], piece)) {
            head = i;
        }
    }
    return head >= 0 ? head : n - 1;
}

void CBezierCurve::GetBezierInCircle(const BEZIER_4POINTF_DRAW& piece, std::vector<BEZIER_4POINTF_DRAW>& out) {
    const Segment g = piece;
    out.clear();
    for (size_t i = arrSegment.size(); i-- > 0;) {
        if (SameArc(arrSegment[i], g)) {
            out.push_back(arrSegment[i]);
        }
    }
}

void CBezierCurve::DeleteCircleBezier(const BEZIER_4POINTF_DRAW& piece, std::vector<BEZIER_4POINTF_DRAW>& removed) {
    // The piece may be one of the segments about to go.
    const Segment g = piece;
    for (size_t i = arrSegment.size(); i-- > 0;) {
        if (SameArc(arrSegment[i], g)) {
            removed.push_back(arrSegment[i]);
            arrSegment.erase(arrSegment.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

bool CBezierCurve::InsertCircleByThreePoint(tagPOINTF start, tagPOINTF end, tagPOINTF third, int index,
                                            std::vector<BEZIER_4POINTF_DRAW>& added) {
    Segments pieces;
    if (!AppendArcThrough3Points(pieces, start, third, end)) {
        return false;
    }
    if (index < 0) {
        return true;
    }
    // Inserting the pieces last to first at one index leaves them in path
    // order.
    for (size_t i = pieces.size(); i-- > 0;) {
        if (Degenerate(pieces[i])) {
            continue;
        }
        const size_t at = std::min(static_cast<size_t>(index), arrSegment.size());
        arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at), pieces[i]);
        added.push_back(pieces[i]);
    }
    return true;
}

bool CBezierCurve::InsertCircleByTwoPoint(const BEZIER_4POINTF_DRAW& piece, tagPOINTF moving, tagPOINTF p, int index,
                                          std::vector<BEZIER_4POINTF_DRAW>& added) {
    if (!IsArcPiece(piece) || !Finite(p)) {
        return false;
    }
    const tagPOINTF a = piece.ArcStartPoint;
    const tagPOINTF b = piece.ArcEndPoint;
    const tagPOINTF c = piece.ArcCenterPoint;
    // `moving` is where the end that moves to p was: the other end stays,
    // and so does the direction in which the arc leaves it.
    bool endMoves = false;
    if (moving == b) {
        endMoves = true;
    } else if (!(moving == a)) {
        return false;
    }
    const tagPOINTF kept = endMoves ? a : b;
    Segments pieces;
    bool built = false;
    tagPOINTF centre;
    double radius = 0.0;
    const double wx = static_cast<double>(p.x) - kept.x;
    const double wy = static_cast<double>(p.y) - kept.y;
    const double wlen = std::hypot(wx, wy);
    if (GetCircleParamerFrom3P(a, c, b, centre, radius) && wlen > 0.0) {
        // The arc a -> c -> b turns counter-clockwise when the three points
        // do.
        const double turn = (static_cast<double>(c.x) - a.x) * (static_cast<double>(b.y) - a.y) -
                            (static_cast<double>(c.y) - a.y) * (static_cast<double>(b.x) - a.x);
        const bool ccw = turn > 0.0;
        // Tangent at the kept end, pointing into the arc.
        double ux = -(static_cast<double>(kept.y) - centre.y);
        double uy = static_cast<double>(kept.x) - centre.x;
        if (ccw != endMoves) {
            ux = -ux;
            uy = -uy;
        }
        const double ulen = std::hypot(ux, uy);
        if (ulen > 0.0) {
            ux /= ulen;
            uy /= ulen;
            // The circle that touches that tangent at the kept end and passes
            // through p; its centre lies on the normal there.
            const double nx = -uy, ny = ux;
            const double side = nx * wx + ny * wy;
            if (std::fabs(side) > 1e-9 * wlen) {
                const double rho = (wx * wx + wy * wy) / (2.0 * side);
                const double cx = kept.x + nx * rho;
                const double cy = kept.y + ny * rho;
                const double aKept = std::atan2(kept.y - cy, kept.x - cx);
                const double aP = std::atan2(p.y - cy, p.x - cx);
                const double twoPi = 2.0 * 3.14159265358979323846;
                double sweep = std::fmod(rho > 0 ? aP - aKept : aKept - aP, twoPi);
                if (sweep < 0) {
                    sweep += twoPi;
                }
                const double mid = aKept + (rho > 0 ? sweep : -sweep) / 2.0;
                const tagPOINTF m{static_cast<float>(cx + std::fabs(rho) * std::cos(mid)),
                                  static_cast<float>(cy + std::fabs(rho) * std::sin(mid))};
                built = endMoves ? AppendArcThrough3Points(pieces, kept, m, p)
                                 : AppendArcThrough3Points(pieces, p, m, kept);
            }
        }
    }
    if (!built) {
        // p on the tangent is the limit of those arcs: a straight segment.
        // So is every case without an arc to continue; the curve stays
        // joined whatever the arc data held.
        pieces = {endMoves ? MakeLine(kept, p) : MakeLine(p, kept)};
    }
    size_t at = std::min(static_cast<size_t>(std::max(index, 0)), arrSegment.size());
    for (const Segment& s : pieces) {
        if (IsArcPiece(s) && Degenerate(s)) {
            continue;
        }
        arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at++), s);
        added.push_back(s);
    }
    return true;
}

bool CBezierCurve::RebuildArcEnd(int piece, bool endMoves, tagPOINTF p, stBezierCurve& change) {
    const Segment g = arrSegment[piece];
    const int head = GetCircleHeadIndex(g);
    Segments removed;
    DeleteCircleBezier(g, removed);
    Segments added;
    if (!InsertCircleByTwoPoint(g, endMoves ? g.ArcEndPoint : g.ArcStartPoint, p, head, added)) {
        // Nothing may be lost: the arc goes back as it was.
        const size_t at = std::min(static_cast<size_t>(head), arrSegment.size());
        arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at), removed.rbegin(), removed.rend());
        return false;
    }
    change.removed.insert(change.removed.end(), removed.begin(), removed.end());
    change.added.insert(change.added.end(), added.begin(), added.end());
    return true;
}

void CBezierCurve::ConnectHeadToEnd(int mode, std::vector<BEZIER_4POINTF_DRAW>& removed,
                                    std::vector<BEZIER_4POINTF_DRAW>& added) {
    if (arrSegment.size() == 1) {
        bClosed = 0;
    }
    for (int j = static_cast<int>(arrSegment.size()) - 2; j >= 0; --j) {
        Segment& s = arrSegment[j];
        const tagPOINTF next = arrSegment[j + 1].p1;
        if (s.p4 == next) {
            continue;
        }
        if (mode == 0) {
            removed.insert(removed.begin(), s);
            s.p3 = Offset(s.p3, static_cast<double>(next.x) - s.p4.x, static_cast<double>(next.y) - s.p4.y);
            s.p4 = next;
            added.insert(added.begin(), s);
        } else {
            const Segment line = MakeLine(s.p4, next);
            arrSegment.insert(arrSegment.begin() + j + 1, line);
            added.insert(added.begin(), line);
        }
    }
    if (bClosed != 0 && !arrSegment.empty() && !(arrSegment.back().p4 == arrSegment.front().p1)) {
        const Segment line = MakeLine(arrSegment.back().p4, arrSegment.front().p1);
        arrSegment.push_back(line);
        added.push_back(line);
    }
}

// ---- moving nodes and handles ------------------------------------------------------------

int CBezierCurve::ModifyEditPoint(int index, tagPOINTF point) { return ModifyEditPoint(index, point, true); }

int CBezierCurve::ModifyEditControlPoint(int handle, tagPOINTF p, std::vector<BEZIER_4POINTF_DRAW>& removed,
                                         std::vector<BEZIER_4POINTF_DRAW>& added) {
    const int n = static_cast<int>(arrSegment.size());
    const int k = handle / 2;
    if (handle < 0 || k >= n || IsArcPiece(arrSegment[k])) {
        return 0;
    }
    const Segment old = arrSegment[k];
    Segment moved = old;
    for (Gdiplus::PointF& d : moved.dev4P) {
        d = Gdiplus::PointF();
    }
    (handle % 2 == 0 ? moved.p2 : moved.p3) = p;
    removed.push_back(old);
    added.push_back(moved);
    arrSegment[k] = moved;

    // The handle on the other side of the node follows, when both segments
    // are cubic and smoothed alike: it keeps its length and turns to stay in
    // line with the dragged handle through the node, so the joint stays
    // smooth. A handle dragged onto the node leaves it where it was.
    auto follow = [&](int other, bool secondControl) {
        const Segment before = arrSegment[other];
        tagPOINTF& handle = secondControl ? arrSegment[other].p3 : arrSegment[other].p2;
        const tagPOINTF node = secondControl ? before.p4 : before.p1;
        const double dx = static_cast<double>(node.x) - p.x;
        const double dy = static_cast<double>(node.y) - p.y;
        const double away = std::hypot(dx, dy);
        ptCtrlDrag = handle;
        if (away > 0.0 && std::isfinite(away)) {
            const double length = Dist(handle, node);
            ptCtrlDrag = Offset(node, dx / away * length, dy / away * length);
        }
        handle = ptCtrlDrag;
        removed.push_back(before);
        added.push_back(arrSegment[other]);
    };
    if (handle % 2 == 0) {
        if (k >= 1 && moved.LineType == 0 && arrSegment[k - 1].LineType == 0 &&
            ShareSmoothType(moved, arrSegment[k - 1])) {
            follow(k - 1, true);
        }
    } else if (k < n - 1 && moved.LineType == 0 && arrSegment[k + 1].LineType == 0 &&
               ShareSmoothType(moved, arrSegment[k + 1])) {
        follow(k + 1, false);
    }
    return 1;
}

int CBezierCurve::ModifyEditPoint(int index, tagPOINTF p, bool record) {
    const ShapeGuard guard(this);
    return MoveNode(index, p, record);
}

int CBezierCurve::MoveNode(int index, tagPOINTF p, bool record) {
    stBezierCurve change;
    BeginChange(change);
    const int n0 = static_cast<int>(arrSegment.size());
    if (!Finite(p)) {
        return 0;
    }
    if (nEditType == 0 && index >= 0 && index <= n0 && n0 > 0) {
        // Incoming segment: its end follows the node.
        // Node 0 of a closed curve is also the end of the last segment (of
        // the only one, when there is one).
        int in = -1;
        if (index > 0) {
            in = index - 1;
        } else if (bClosed != 0) {
            in = n0 - 1;
        }
        if (in >= 0) {
            Segment s = arrSegment[in];
            if (IsArcPiece(s)) {
                bool last = true;
                for (int j = in + 1; j < n0; ++j) {
                    last = last && !SameArc(arrSegment[j], s);
                }
                if (last) {
                    RebuildArcEnd(in, true, p, change);
                }
            } else {
                change.removed.push_back(s);
                if (s.LineType == 1) {
                    s.p3 = p;
                } else {
                    s.p3 = Offset(s.p3, static_cast<double>(p.x) - s.p4.x, static_cast<double>(p.y) - s.p4.y);
                }
                s.p4 = p;
                arrSegment[in] = s;
                change.added.push_back(s);
            }
        }
        // Outgoing segment. An arc rebuilt before it shifts it by the change
        // in count, unless that arc lay behind it (node 0 of a closed curve).
        const int count = static_cast<int>(arrSegment.size());
        int out = index + (index >= 1 ? count - n0 : 0);
        if (out >= count) {
            out = bClosed != 0 ? 0 : -1;
        }
        if (out >= 0) {
            Segment s = arrSegment[out];
            // The only segment of a closed curve moves both its ends: one
            // change holds both.
            const bool both = out == in && count == n0 && !change.added.empty();
            if (IsArcPiece(s)) {
                if (GetCircleHeadIndex(s) == out) {
                    RebuildArcEnd(out, false, p, change);
                }
            } else {
                if (!both) {
                    change.removed.push_back(s);
                }
                if (s.LineType == 1) {
                    s.p2 = p;
                } else {
                    s.p2 = Offset(s.p2, static_cast<double>(p.x) - s.p1.x, static_cast<double>(p.y) - s.p1.y);
                }
                s.p1 = p;
                arrSegment[out] = s;
                if (both) {
                    change.added.back() = s;
                } else {
                    change.added.push_back(s);
                }
            }
        }
    } else if (nEditType == 1 && index >= 0 && index < 2 * n0) {
        ModifyEditControlPoint(index, p, change.removed, change.added);
    }
    if (record && !(change.added.empty() && change.removed.empty())) {
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 0;
}

// ---- dragging a segment --------------------------------------------------------------------

int CBezierCurve::GetEditCurve(std::vector<tagPOINTF>& points) {
    tagPOINTF snapped;
    return GetEditCurve(points, snapped);
}

int CBezierCurve::GetEditCurve(std::vector<tagPOINTF>& points, tagPOINTF& snapped) {
    if (points.empty()) {
        return 0;
    }
    const int n = static_cast<int>(arrSegment.size());
    for (int i = 0; i < n; ++i) {
        const Segment s = arrSegment[i];
        if (IsPtOnCurve(points[0], {s.p1, s.p2, s.p3, s.p4}) == 0) {
            continue;
        }
        tagPOINTF p = points[0];
        GetPtOnCurve(p);
        points = {p, s.p2, s.p3, s.p4};
        snapped = p;
        dDragAngle = 0.0;
        dDragLength = 0.0;
        segDrag = s;
        segDragPrev = Segment();
        segDragNext = Segment();
        if (i > 0) {
            segDragPrev = arrSegment[i - 1];
        } else if (bClosed != 0) {
            segDragPrev = arrSegment[n - 1];
        }
        if (i < n - 1) {
            segDragNext = arrSegment[i + 1];
        } else if (bClosed != 0) {
            segDragNext = arrSegment[0];
        }
        return i + 1;
    }
    return 0;
}

double CBezierCurve::CalculateDragLine(const BEZIER_4POINTF_DRAW& seg, tagPOINTF target, double t) {
    const double ux = std::cos(dDragAngle);
    const double uy = std::sin(dDragAngle);
    auto distanceAt = [&](double length) {
        Segment c = seg;
        c.p2 = Offset(c.p2, ux * length, uy * length);
        c.p3 = Offset(c.p3, ux * length, uy * length);
        double at = t;
        return DistanceBz(c, target, at);
    };
    double step = 10.0;
    int direction = 0;
    double length = dDragLength;
    double distance = distanceAt(length);
    for (int i = 0; step >= 0.0001 && i < kMaxSearchSteps; ++i) {
        distance = distanceAt(length);
        const double lower = distanceAt(length - step);
        const double upper = distanceAt(length + step);
        if (distance <= lower && upper < distance && direction != -1) {
            length += step;
            direction = 1;
        } else if (lower < distance && direction != 1) {
            length -= step;
            direction = -1;
        } else {
            step /= 5.0;
            direction = 0;
        }
    }
    dDragLength = length;
    return distance;
}

int CBezierCurve::CalculateDragLine(int drag, tagPOINTF p, double& dx, double& dy) {
    const int n = static_cast<int>(arrSegment.size());
    const int i = drag - 1;
    if (i < 0 || i >= n || !Finite(p) || !std::isfinite(dx) || !std::isfinite(dy)) {
        return 0;
    }
    const Segment work = segDrag;
    double t = -1.0;
    DistanceBz(work, p, t);
    if (!(t >= 0.0 && t <= 1.0)) {
        return 0;
    }
    dDragAngle = std::atan2(dy, dx);
    dDragLength = std::hypot(dx, dy);
    const tagPOINTF target = Offset(p, dx, dy);
    double at = t;
    if (DistanceBz(work, target, at) <= 0.01) {
        return 0;
    }
    Gdiplus::RectF rect;
    GetRectangle(rect);
    CalculateDragLine(work, target, t);

    if (arrSegment[i].LineType == 1) {
        // A line moves whole; its neighbours stretch to stay joined.
        segDrag.p1 = Offset(segDrag.p1, dx, dy);
        segDrag.p4 = Offset(segDrag.p4, dx, dy);
        segDrag.p2 = segDrag.p1;
        segDrag.p3 = segDrag.p4;
        const int prev = i > 0 ? i - 1 : (bClosed != 0 ? n - 1 : -1);
        const int next = i < n - 1 ? i + 1 : (bClosed != 0 ? 0 : -1);
        if (prev >= 0 && prev != i) {
            segDragPrev = arrSegment[prev];
            segDragPrev.p4 = segDrag.p1;
            LineControls(segDragPrev);
        }
        if (next >= 0 && next != i) {
            segDragNext = arrSegment[next];
            segDragNext.p1 = segDrag.p4;
            LineControls(segDragNext);
        }
    } else {
        dx = std::cos(dDragAngle) * dDragLength;
        dy = std::sin(dDragAngle) * dDragLength;
        segDrag.p2 = Offset(segDrag.p2, dx, dy);
        segDrag.p3 = Offset(segDrag.p3, dx, dy);
    }
    return 0;
}

int CBezierCurve::ModifyEditLine(int drag, tagPOINTF p) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    const int i = drag - 1;
    if (i < 0 || i >= n || !Finite(p) || !SegmentFinite(segDrag) || !SegmentFinite(segDragPrev) ||
        !SegmentFinite(segDragNext)) {
        return 0;
    }
    const Segment current = arrSegment[i];
    if (current.LineType == 1) {
        // The segment with its neighbours; a closed curve's ends are
        // neighbours of one another.
        const bool ring = bClosed != 0 && n > 1;
        MoveLineWithNeighbours(i, i > 0 ? i - 1 : (ring ? n - 1 : -1), i + 1 < n ? i + 1 : (ring ? 0 : -1));
    } else if (IsArcPiece(current)) {
        if (Finite(p)) {
            stBezierCurve change;
            BeginChange(change);
            const int head = GetCircleHeadIndex(current);
            Segments removed;
            DeleteCircleBezier(current, removed);
            Segments added;
            if (InsertCircleByThreePoint(current.ArcStartPoint, current.ArcEndPoint, p, head, added)) {
                change.removed = std::move(removed);
                change.added = std::move(added);
                HandOverChange(change);
            } else {
                // No circle through the ends and p: the arc stays.
                arrSegment.insert(arrSegment.begin() + std::min(head, static_cast<int>(arrSegment.size())),
                                  removed.rbegin(), removed.rend());
            }
        }
    } else if (Dist(segDrag.p1, current.p1) < kSameNode && Dist(segDrag.p4, current.p4) < kSameNode) {
        // The bent copy of this very segment (a drag of a curve keeps its
        // ends); anything else was not prepared for it.
        stBezierCurve change;
        BeginChange(change);
        change.removed.push_back(current);
        change.added.push_back(segDrag);
        arrSegment[i] = segDrag;
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 0;
}

int CBezierCurve::DoDrag(int count, const stBezierPos* positions) {
    if (count < 1 || positions == nullptr) {
        return 0;
    }
    Gdiplus::RectF rect;
    {
        // The repaint below asks the host: the event is given back first.
        const ShapeGuard guard(this);
        for (int i = 0; i < count; ++i) {
            const stBezierPos& pos = positions[i];
            if (pos.nIndex >= 0 && pos.nIndex < static_cast<int>(arrSegment.size()) && SegmentFinite(pos.seg)) {
                arrSegment[pos.nIndex] = pos.seg;
            }
        }
        InvalidateGeometry();
        GetRectangle(rect);
    }
    if (CBaseDoc* doc = GetShapeDoc()) {
        doc->InvalidateRectF(rect);
    }
    return 0;
}

// ---- inserting and deleting nodes --------------------------------------------------------------

int CBezierCurve::InsertPoint(int segment, tagPOINTF p, int snap, int record) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    if (segment < 0 || segment >= n || !Finite(p)) {
        return 0;
    }
    const Segment g = arrSegment[segment];
    if (IsArcPiece(g)) {
        tagPOINTF q = p;
        GetPtOnCurve(q);
        return InsertNodeInArc(q, segment, record == 1);
    }

    std::vector<tagPOINTF> samples(kInsertSamples + 1);
    double best = 9999.0;
    int m = 0;
    for (int j = 0; j <= kInsertSamples; ++j) {
        const double u = static_cast<double>(kInsertSamples - j) / kInsertSamples;
        samples[j] = {static_cast<float>(BezierPointX(u, g.p1, g.p2, g.p3, g.p4)),
                      static_cast<float>(BezierPointY(u, g.p1, g.p2, g.p3, g.p4))};
        const double d = PointDistance(samples[j].x, samples[j].y, p.x, p.y);
        if (d < best) {
            best = d;
            m = j;
        }
    }
    if (snap == 0 && best > 1.0) {
        return 0;
    }
    const tagPOINTF q = snap != 0 ? samples[m] : p;
    // A split at an end would leave a segment without length.
    if (Dist(q, g.p1) < kSameNode || Dist(q, g.p4) < kSameNode) {
        return 0;
    }
    samples[m] = q;

    Segment a;
    Segment b;
    if (g.LineType == 1) {
        a = MakeLine(g.p1, q);
        b = MakeLine(q, g.p4);
    } else {
        a.p1 = g.p1;
        a.p4 = q;
        b.p1 = q;
        b.p4 = g.p4;
        const std::vector<tagPOINTF> first(samples.begin(), samples.begin() + m + 1);
        const std::vector<tagPOINTF> second(samples.begin() + m, samples.end());
        FitBezierControls(first, a.p2, a.p3);
        FitBezierControls(second, b.p2, b.p3);
    }
    stBezierCurve change;
    BeginChange(change);
    arrSegment[segment] = a;
    arrSegment.insert(arrSegment.begin() + segment + 1, b);
    if (record == 1) {
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::InsertPointInArc(tagPOINTF p, int segment, bool record) {
    const ShapeGuard guard(this);
    return InsertNodeInArc(p, segment, record);
}

int CBezierCurve::InsertNodeInArc(tagPOINTF p, int segment, bool record) {
    const int n = static_cast<int>(arrSegment.size());
    if (segment < 0 || segment >= n || !IsArcPiece(arrSegment[segment]) || !Finite(p)) {
        return 0;
    }
    const Segment g = arrSegment[segment];
    int low = n;
    for (int j = 0; j < n; ++j) {
        if (SameArc(arrSegment[j], g)) {
            low = std::min(low, j);
        }
    }
    const tagPOINTF s = g.ArcStartPoint;
    const tagPOINTF e = g.ArcEndPoint;
    Segments whole;
    if (!AppendArcThrough3Points(whole, s, g.ArcCenterPoint, e)) {
        return 0;
    }
    Gdiplus::GraphicsPath path;
    for (const Segment& piece : whole) {
        if (Dist(piece.p1, piece.p4) >= kShortPiece) {
            path.AddBezier(ToPointF(piece.p1), ToPointF(piece.p2), ToPointF(piece.p3), ToPointF(piece.p4));
        }
    }
    if (path.GetPointCount() == 0 || path.Flatten(nullptr, 0.001f) != Gdiplus::Ok) {
        return 0;
    }
    const std::vector<Gdiplus::PointF>& flat = path.PathPoints();
    const size_t m = flat.size();
    double best = GetPickDistance() * 2.0;
    size_t j = m;
    for (size_t i = 0; i < m; ++i) {
        const double d = Dist(p, {flat[i].X, flat[i].Y});
        if (d < best) {
            best = d;
            j = i;
        }
    }
    if (j == m) {
        return 0;
    }
    auto vertex = [&](size_t i) { return tagPOINTF{flat[i].X, flat[i].Y}; };
    const tagPOINTF q = vertex(j);
    const tagPOINTF m1 = vertex(j / 2);
    const tagPOINTF m2 = vertex((m - j) / 2 + j);

    // Both halves are built before anything changes: a split at (or next
    // to) an end of the arc has no second arc and changes nothing.
    Segments toEnd;
    Segments fromStart;
    if (!AppendArcThrough3Points(toEnd, q, m2, e) || !AppendArcThrough3Points(fromStart, s, m1, q)) {
        return 0;
    }
    toEnd = LongPieces(toEnd, kShortPiece);
    fromStart = LongPieces(fromStart, kShortPiece);
    if (toEnd.empty() || fromStart.empty()) {
        return 0;
    }

    stBezierCurve change;
    BeginChange(change);
    for (int i = n - 1; i >= 0; --i) {
        if (SameArc(arrSegment[i], g)) {
            change.removed.push_back(arrSegment[i]);
            arrSegment.erase(arrSegment.begin() + i);
        }
    }
    const size_t at = std::min(static_cast<size_t>(low), arrSegment.size());
    arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at), toEnd.begin(), toEnd.end());
    arrSegment.insert(arrSegment.begin() + static_cast<std::ptrdiff_t>(at), fromStart.begin(), fromStart.end());
    change.added = toEnd;
    change.added.insert(change.added.end(), fromStart.rbegin(), fromStart.rend());
    if (record) {
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::DeletePoint(std::vector<int> nodes) {
    const ShapeGuard guard(this);
    if (nodes.empty()) {
        return 0;
    }
    // The nodes go from the highest to the lowest, so each deletion leaves
    // the numbers of those still to come as they were; a node listed twice
    // goes once. In a closed curve the end node is the start node.
    const int count = static_cast<int>(arrSegment.size());
    if (bClosed != 0) {
        std::replace(nodes.begin(), nodes.end(), count, 0);
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    const bool single = nodes.size() == 1;
    stBezierCurve change;
    BeginChange(change);
    auto takeOut = [&](int index) {
        change.removed.insert(change.removed.begin(), arrSegment[index]);
        arrSegment.erase(arrSegment.begin() + index);
    };
    auto takeArc = [&](const Segment& piece) { DeleteCircleBezier(piece, change.removed); };
    // Moves the end of segment index to `to`, its second control with it.
    auto stretchEnd = [&](int index, tagPOINTF to) {
        Segment& s = arrSegment[index];
        change.removed.insert(change.removed.begin(), s);
        s.p3 = Offset(s.p3, static_cast<double>(to.x) - s.p4.x, static_cast<double>(to.y) - s.p4.y);
        s.p4 = to;
        LineControls(s);
        change.added.insert(change.added.begin(), s);
    };

    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        if (arrSegment.empty()) {
            break;
        }
        const int n = static_cast<int>(arrSegment.size());
        const int k = *it;
        if (k < 0 || k > n) {
            continue;
        }
        if (k == n) {
            const Segment last = arrSegment[n - 1];
            if (IsArcPiece(last)) {
                takeArc(last);
            } else {
                takeOut(n - 1);
            }
            continue;
        }
        const tagPOINTF end = arrSegment.back().p4;
        // Node 0 of a closed curve is entered by the last segment.
        const int beforeIndex = k > 0 ? k - 1 : ((bClosed != 0 && n > 1) ? n - 1 : -1);
        const bool arcHere = IsArcPiece(arrSegment[k]);
        const bool arcBefore = beforeIndex >= 0 && IsArcPiece(arrSegment[beforeIndex]);
        if (!arcHere && !arcBefore) {
            takeOut(k);
            const int left = static_cast<int>(arrSegment.size());
            if (left == 0) {
                continue;
            }
            if (k == left && k >= 1) {
                // The last segment went: the one before it now runs on to
                // the old end, so the curve keeps its end (or stays closed).
                if (IsArcPiece(arrSegment[left - 1])) {
                    const Segment line = MakeLine(arrSegment[left - 1].p4, end);
                    arrSegment.push_back(line);
                    change.added.push_back(line);
                } else {
                    stretchEnd(left - 1, end);
                }
            } else if (k == 0 && bClosed != 0 && !IsArcPiece(arrSegment[left - 1])) {
                // The first segment went: the closing segment follows the
                // new start.
                stretchEnd(left - 1, arrSegment[0].p1);
            }
            continue;
        }
        const Segment here = arrSegment[k];
        if (beforeIndex >= 0) {
            const Segment before = arrSegment[beforeIndex];
            if (arcHere && !arcBefore) {
                takeOut(beforeIndex);
                takeArc(here);
            } else if (arcBefore && !arcHere) {
                takeOut(k);
                takeArc(before);
            } else {
                takeArc(here);
                takeArc(before);
            }
        } else {
            takeArc(here);
        }
        // An open curve keeps its end; a closed curve whose start node went
        // is closed again below, from its new start.
        const bool keepEnd = !(bClosed != 0 && k == 0);
        if (single && keepEnd && !arrSegment.empty() && Dist(arrSegment.back().p4, end) > kSameNode) {
            const Segment line = MakeLine(arrSegment.back().p4, end);
            arrSegment.push_back(line);
            change.added.push_back(line);
        }
        ConnectHeadToEnd(1, change.removed, change.added);
    }
    ConnectHeadToEnd(0, change.removed, change.added);
    InvalidateGeometry();
    if (!change.removed.empty() || !change.added.empty()) {
        HandOverChange(change);
    }
    return 1;
}

// ---- node operations -------------------------------------------------------------------------

int CBezierCurve::ClosePloyLine() {
    const ShapeGuard guard(this);
    if (bClosed != 0 || arrSegment.empty()) {
        return 0;
    }
    arrSegment.push_back(MakeLine(arrSegment.back().p4, arrSegment.front().p1));
    InvalidateGeometry();
    bClosed = 1;
    return 0;
}

int CBezierCurve::MergerEditPoint() {
    const ShapeGuard guard(this);
    if (bClosed != 0) {
        InvalidateGeometry();
        return 0;
    }
    if (arrSegment.empty()) {
        return 0;
    }
    const tagPOINTF a = arrSegment.front().p1;
    const tagPOINTF b = arrSegment.back().p4;
    const tagPOINTF mid{static_cast<float>((static_cast<double>(a.x) + b.x) / 2.0),
                        static_cast<float>((static_cast<double>(a.y) + b.y) / 2.0)};
    nEditType = 0;
    MoveNode(static_cast<int>(arrSegment.size()), mid, false);
    nEditType = 0;
    MoveNode(0, mid, false);
    nEditType = -1;
    bClosed = 1;
    InvalidateGeometry();
    return 0;
}

int CBezierCurve::EditPointAligh(int mode, bool withControls) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    if (mode < 0 || mode > 3 || n == 0) {
        return 0;
    }
    const bool alongX = mode < 2;
    const bool smallest = mode == 0 || mode == 3;
    const float start = smallest ? FLT_MAX : -FLT_MAX;
    float target = start;
    for (int k : arrSelectIndex) {
        if (k < 0 || k > n) {
            continue;
        }
        const tagPOINTF p = k < n ? arrSegment[k].p1 : arrSegment[n - 1].p4;
        const float v = alongX ? p.x : p.y;
        target = smallest ? std::min(target, v) : std::max(target, v);
    }
    if (target == start) {
        return 0;
    }
    auto set = [&](tagPOINTF& p) { (alongX ? p.x : p.y) = target; };
    auto startOf = [&](int s) {
        set(arrSegment[s].p1);
        if (withControls) {
            set(arrSegment[s].p2);
            set(arrSegment[s].p3);
        }
    };
    auto endOf = [&](int s) {
        set(arrSegment[s].p4);
        if (withControls) {
            set(arrSegment[s].p2);
            set(arrSegment[s].p3);
        }
    };
    for (int k : arrSelectIndex) {
        if (k < 0 || k > n) {
            continue;
        }
        // In a closed curve nodes 0 and n are one point: both ends move.
        if (k < n) {
            startOf(k);
        }
        if (k > 0) {
            endOf(k - 1);
        }
        if (bClosed != 0 && k == 0) {
            endOf(n - 1);
        }
        if (bClosed != 0 && k == n) {
            startOf(0);
        }
    }
    InvalidateGeometry();
    return 0;
}

CCombineShape* CBezierCurve::SeparateEditPoint() {
    auto* combine = new CCombineShape();
    CCombineShape::MinusCountNum();
    const std::vector<int> selected = arrSelectIndex;
    const int n = static_cast<int>(arrSegment.size());
    std::vector<CBaseShape*>& children = combine->GetChildren();

    auto openClone = [&]() {
        auto* copy = static_cast<CBezierCurve*>(Clone());
        copy->bClosed = 0;
        return copy;
    };
    // A new curve with segments [from, to); nothing for an empty range.
    auto piece = [&](int from, int to) {
        if (from < 0 || to > n || from >= to) {
            return;
        }
        auto* curve = new CBezierCurve();
        curve->MinusCountNum();
        curve->arrSegment.assign(arrSegment.begin() + from, arrSegment.begin() + to);
        children.push_back(curve);
    };

    if (bClosed != 0 && selected.size() == 1) {
        const int k = selected[0];
        if (k > 0 && k < n) {
            combine->FreeShapePtr();
            CBezierCurve* copy = openClone();
            copy->arrSegment.assign(arrSegment.begin() + k, arrSegment.end());
            copy->arrSegment.insert(copy->arrSegment.end(), arrSegment.begin(), arrSegment.begin() + k);
            if (!copy->arrSelectIndex.empty()) {
                copy->arrSelectIndex[0] = 0;
            }
            copy->InvalidateGeometry();
            children.push_back(copy);
            InvalidateGeometry();
            return combine;
        }
        if (k == 0 || k == n) {
            combine->FreeShapePtr();
            children.push_back(openClone());
            InvalidateGeometry();
            return combine;
        }
    }
    if (bClosed != 0 && selected.size() == 2 && selected.front() == 0 && selected.back() == n) {
        children.push_back(openClone());
    }
    int start = 0;
    for (int k : selected) {
        if (k > 0 && k < n) {
            piece(start, k);
            start = k;
        }
    }
    if (!selected.empty()) {
        const int k = selected.back();
        if (k > 0 && k < n) {
            piece(k, n);
        }
    }
    if (selected.size() >= 2 && selected.back() == n) {
        const int k = selected[selected.size() - 2];
        if (k > 0 && k < n) {
            piece(k, n);
        }
    }
    InvalidateGeometry();
    return combine;
}

int CBezierCurve::ModifyToLine(bool /*record*/) {
    const ShapeGuard guard(this);
    if (arrClickPoint.empty()) {
        return 0;
    }
    std::vector<tagPOINTF> io = arrClickPoint;
    const int hit = GetEditCurve(io);
    if (hit < 1) {
        return 0;
    }
    const int i = hit - 1;
    const Segment g = arrSegment[i];
    if (g.LineType == 1) {
        InvalidateGeometry();
        return 0;
    }
    stBezierCurve change;
    BeginChange(change);
    if (IsArcPiece(g)) {
        // The whole arc becomes one straight segment where it was, so the
        // curve stays joined wherever the arc lay.
        const int head = GetCircleHeadIndex(g);
        DeleteCircleBezier(g, change.removed);
        const Segment line = MakeLine(g.ArcStartPoint, g.ArcEndPoint);
        arrSegment.insert(arrSegment.begin() + std::min(head, static_cast<int>(arrSegment.size())), line);
        change.added.push_back(line);
    } else {
        change.removed.push_back(g);
        const Segment line = MakeLine(g.p1, g.p4);
        arrSegment[i] = line;
        change.added.push_back(line);
    }
    HandOverChange(change);
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::ModifyToBezier(bool record) {
    const ShapeGuard guard(this);
    if (arrClickPoint.empty()) {
        return 0;
    }
    std::vector<tagPOINTF> io = arrClickPoint;
    const int hit = GetEditCurve(io);
    if (hit < 1) {
        return 0;
    }
    const int i = hit - 1;
    const Segment g = arrSegment[i];
    if (g.LineType != 1 && !IsArcPiece(g)) {
        InvalidateGeometry();
        return 0;
    }
    stBezierCurve change;
    BeginChange(change);
    if (g.LineType == 1) {
        change.removed.push_back(g);
        Segment c = g;
        c.LineType = 0;
        const double dx = static_cast<double>(g.p4.x) - g.p1.x;
        const double dy = static_cast<double>(g.p4.y) - g.p1.y;
        c.p2 = Offset(g.p1, dx / 3.0, dy / 3.0);
        c.p3 = Offset(g.p1, 2.0 * dx / 3.0, 2.0 * dy / 3.0);
        arrSegment[i] = c;
        change.added.push_back(c);
    } else {
        const int head = GetCircleHeadIndex(g);
        Segments pieces;
        GetBezierInCircle(g, pieces);
        DeleteCircleBezier(g, change.removed);
        int at = std::min(head, static_cast<int>(arrSegment.size()));
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
            Segment c = *it;
            c.LineType = 0;
            arrSegment.insert(arrSegment.begin() + at++, c);
            change.added.push_back(c);
        }
    }
    if (record) {
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::ModifyToArc(bool record) {
    const ShapeGuard guard(this);
    if (arrClickPoint.empty()) {
        return 0;
    }
    std::vector<tagPOINTF> io = arrClickPoint;
    const int hit = GetEditCurve(io);
    if (hit < 1) {
        return 0;
    }
    const int i = hit - 1;
    const Segment g = arrSegment[i];
    if (IsArcPiece(g)) {
        InvalidateGeometry();
        return 0;
    }
    const tagPOINTF s = g.p1;
    const tagPOINTF e = g.p4;
    const tagPOINTF click = arrClickPoint[0];
    // A third point a few display pixels off the chord, so the three points
    // span a circle.
    const double d = 2.0 * GetPickDistance() / EditZoom();
    std::vector<tagPOINTF> thirds;
    const bool straight = g.LineType == 1 || std::fabs(GetSlope(s, e) - GetSlope(s, click)) < 0.1;
    if (!straight) {
        thirds.push_back(click);
    }
    // The diagonal offset runs along a chord at 45 degrees; the other
    // diagonal then leaves it.
    thirds.push_back(Offset(click, d, d));
    thirds.push_back(Offset(click, d, -d));
    Segments pieces;
    for (const tagPOINTF& third : thirds) {
        pieces.clear();
        if (AppendArcThrough3Points(pieces, s, third, e)) {
            break;
        }
        pieces.clear();
    }
    Segments kept;
    for (const Segment& piece : pieces) {
        if (!Degenerate(piece)) {
            kept.push_back(piece);
        }
    }
    if (kept.empty()) {
        return 0;
    }
    stBezierCurve change;
    BeginChange(change);
    arrSegment.insert(arrSegment.begin() + i + 1, kept.begin(), kept.end());
    change.added = kept;
    change.removed.push_back(g);
    arrSegment.erase(arrSegment.begin() + i);
    if (record) {
        HandOverChange(change);
    }
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::MoveArc(int index, double /*value*/) {
    const ShapeGuard guard(this);
    if (index < 0 || index >= static_cast<int>(arrSegment.size()) || !IsArcPiece(arrSegment[index])) {
        return 1;
    }
    return 0;
}

void CBezierCurve::MoveDragNeighbour(int index, bool isNext, tagPOINTF joint, stBezierCurve& change) {
    const Segment current = arrSegment[index];
    if (!IsArcPiece(current)) {
        // The neighbour as the drag adapted it: its end at the joint.
        Segment adapted = current;
        (isNext ? adapted.p1 : adapted.p4) = joint;
        LineControls(adapted);
        change.removed.push_back(current);
        change.added.push_back(adapted);
        arrSegment[index] = adapted;
        return;
    }
    // An arc keeps its far end and its third point and starts (or ends) at
    // the joint.
    const int head = GetCircleHeadIndex(current);
    Segments removed;
    DeleteCircleBezier(current, removed);
    Segments added;
    const tagPOINTF from = isNext ? joint : current.ArcStartPoint;
    const tagPOINTF to = isNext ? current.ArcEndPoint : joint;
    if (!InsertCircleByThreePoint(from, to, current.ArcCenterPoint, head, added)) {
        // No circle passes there any more: a straight segment keeps the
        // curve joined.
        const Segment line = MakeLine(from, to);
        arrSegment.insert(arrSegment.begin() + std::min(head, static_cast<int>(arrSegment.size())), line);
        added.push_back(line);
    }
    change.removed.insert(change.removed.end(), removed.begin(), removed.end());
    change.added.insert(change.added.end(), added.begin(), added.end());
}

int CBezierCurve::MoveLineWithNeighbours(int index, int prev, int next) {
    const int n = static_cast<int>(arrSegment.size());
    if (index < 0 || index >= n || arrSegment[index].LineType != 1 || segDrag.LineType != 1) {
        return 0;
    }
    stBezierCurve change;
    BeginChange(change);
    change.removed.push_back(arrSegment[index]);
    change.added.push_back(segDrag);
    arrSegment[index] = segDrag;
    const tagPOINTF s = segDrag.p1;
    const tagPOINTF e = segDrag.p4;
    if (prev >= 0 && prev == next) {
        // The only other segment of a closed curve runs from e back to s.
        const Segment other = arrSegment[prev];
        if (IsArcPiece(other)) {
            const int head = GetCircleHeadIndex(other);
            Segments removed;
            DeleteCircleBezier(other, removed);
            Segments added;
            if (!InsertCircleByThreePoint(e, s, other.ArcCenterPoint, head, added)) {
                const Segment line = MakeLine(e, s);
                arrSegment.insert(arrSegment.begin() + std::min(head, static_cast<int>(arrSegment.size())), line);
                added.push_back(line);
            }
            change.removed.insert(change.removed.end(), removed.begin(), removed.end());
            change.added.insert(change.added.end(), added.begin(), added.end());
        } else {
            Segment adapted = other;
            adapted.p1 = e;
            adapted.p4 = s;
            LineControls(adapted);
            change.removed.push_back(other);
            change.added.push_back(adapted);
            arrSegment[prev] = adapted;
        }
    } else if (next > prev) {
        // The neighbour further along goes first: an arc rebuilt there
        // leaves the index of the other one as it is.
        if (next >= 0) {
            MoveDragNeighbour(next, true, e, change);
        }
        if (prev >= 0) {
            MoveDragNeighbour(prev, false, s, change);
        }
    } else {
        if (prev >= 0) {
            MoveDragNeighbour(prev, false, s, change);
        }
        if (next >= 0) {
            MoveDragNeighbour(next, true, e, change);
        }
    }
    HandOverChange(change);
    InvalidateGeometry();
    return 1;
}

int CBezierCurve::MoveLineInCurve(int index) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    if (index < 0 || index >= n) {
        return 0;
    }
    return MoveLineWithNeighbours(index, index > 0 ? index - 1 : -1, index + 1 < n ? index + 1 : -1);
}

int CBezierCurve::MoveLineInCurveHead() {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    if (n == 0) {
        return 0;
    }
    return MoveLineWithNeighbours(0, (bClosed != 0 && n > 1) ? n - 1 : -1, n > 1 ? 1 : -1);
}

int CBezierCurve::MoveLineInCurveEnd() {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    if (n == 0) {
        return 0;
    }
    return MoveLineWithNeighbours(n - 1, n > 1 ? n - 2 : -1, (bClosed != 0 && n > 1) ? 0 : -1);
}

void CBezierCurve::AddDelPoint(int add, stBezierPos a, stBezierPos b, const tagPOINTF points[4]) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrSegment.size());
    const int i = a.nIndex;
    // A replayed record never brings in a point that is not finite.
    if (!SegmentFinite(a.seg) || !SegmentFinite(b.seg) ||
        (points != nullptr && !(Finite(points[0]) && Finite(points[1]) && Finite(points[2]) && Finite(points[3])))) {
        return;
    }
    if (add != 0) {
        if (i >= 0 && i + 1 <= n) {
            if (i != 0 && i != n - 1) {
                Segment& s = arrSegment[i];
                s.p4 = a.seg.p1;
                s.p2 = b.seg.p2;
                s.p3 = b.seg.p3;
                arrSegment.insert(arrSegment.begin() + i + 1, a.seg);
            } else {
                arrSegment.insert(arrSegment.begin() + i, a.seg);
            }
        }
    } else if (i >= 0 && i + 1 < n) {
        if (i != 0) {
            arrSegment.erase(arrSegment.begin() + i + 1);
            if (points != nullptr) {
                Segment& s = arrSegment[i];
                s.p1 = points[0];
                s.p2 = points[1];
                s.p3 = points[2];
                s.p4 = points[3];
            }
        } else {
            arrSegment.erase(arrSegment.begin() + i);
        }
    }
    InvalidateGeometry();
    if (CBaseDoc* doc = GetShapeDoc()) {
        doc->OnShapeGeometryChanged(this);
    }
}

bool CBezierCurve::CompareBezierCurve(const BEZIER_4POINTF_DRAW& x, const BEZIER_4POINTF_DRAW& y) {
    return Dist(x.p1, y.p1) < kSameSegment && Dist(x.p2, y.p2) < kSameSegment && Dist(x.p3, y.p3) < kSameSegment &&
           Dist(x.p4, y.p4) < kSameSegment;
}

void CBezierCurve::OrderCurve(const std::vector<BEZIER_4POINTF_DRAW>& in, std::vector<BEZIER_4POINTF_DRAW>& out) {
    Segments chain;
    chain.reserve(in.size());
    for (const Segment& s : in) {
        bool placed = false;
        // Only the segments chained so far are candidates.
        const size_t existing = chain.size();
        for (size_t j = 0; j < existing && !placed; ++j) {
            if (Dist(s.p4, chain[j].p1) < kSameNode) {
                chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(j), s);
                placed = true;
            } else if (Dist(s.p1, chain[j].p4) < kSameNode) {
                chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(j + 1), s);
                placed = true;
            }
        }
        if (!placed) {
            chain.push_back(s);
        }
    }
    out = std::move(chain);
}
