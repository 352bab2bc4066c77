// Node editing of the polyline: inserting, removing and dragging points and
// segments, aligning and selecting points, closing, splitting, and the
// conversions to a curve, to offset polylines and to dashes.
//
// Edits the user can undo build a record of the editing history and hand it
// to the document; the history replays them through AddDelPoint and
// SetPoints. None of these take the shape's event: they run on the editing
// thread, and each marks the geometry stale so the next GetMarkData rebuilds.
#include <polyclipping/clipper.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

#include "morvik/afx/cgeom.h"
#include "morvik/compose/combine.h"
#include "morvik/core/bezier.h"
#include "morvik/core/geometry.h"
#include "morvik/core/offset_joins.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_records.h"

namespace {

// Handle half-sizes in pixels: selected points and the clicked point.
constexpr int kSelectHalf = 3;
constexpr int kClickHalf = 4;

// Clipper works in integers: millimetres times this, truncated.
constexpr double kClipperScale = 1000000.0;
// Coordinates and distances beyond this many millimetres cannot be scaled
// into Clipper's range with room to spare; such requests produce nothing.
constexpr double kMaxOffsetMm = 1.0e9;
constexpr double kDefaultArcTolerance = 0.25;

// Dashes: a stretch that ends this close to a vertex ends on it.
constexpr double kDashVertexTolerance = 0.001;
// At most this many dashes and gaps along one polyline.
constexpr double kMaxDashStretches = 1.0e6;

// Which end points a move of point i drags along: on a closed polyline the
// first and last points are one vertex.
int OppositeEnd(int index, int n, int closed) {
    if (closed == 0 || n < 2) {
        return -1;
    }
    if (index == 0) {
        return n - 1;
    }
    if (index == n - 1) {
        return 0;
    }
    return -1;
}

void HandOver(CBaseDoc* doc, CUND_Base* record) {
    if (doc != nullptr) {
        doc->AddUndo(record);
    } else {
        record->Destroy();
        delete record;
    }
}

// A point that is not a number (or not finite) would reach the scanner: no
// edit lets one in.
using geom::Finite;

tagPOINTF Shifted(tagPOINTF p, float dx, float dy) { return {p.x + dx, p.y + dy}; }

using geom::ClampPixel;

// ---- Clipper helpers -------------------------------------------------------------------

bool FitsClipper(const std::vector<tagPOINTF>& pts, double d) {
    if (!std::isfinite(d) || std::fabs(d) > kMaxOffsetMm) {
        return false;
    }
    for (const tagPOINTF& p : pts) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::fabs(p.x) > kMaxOffsetMm ||
            std::fabs(p.y) > kMaxOffsetMm) {
            return false;
        }
    }
    return true;
}

ClipperLib::IntPoint ToClipper(tagPOINTF p) {
    return ClipperLib::IntPoint(static_cast<ClipperLib::cInt>(static_cast<double>(p.x) * kClipperScale),
                                static_cast<ClipperLib::cInt>(static_cast<double>(p.y) * kClipperScale));
}

tagPOINTF FromClipper(const ClipperLib::IntPoint& p) {
    return {static_cast<float>(static_cast<double>(p.X) / kClipperScale),
            static_cast<float>(static_cast<double>(p.Y) / kClipperScale)};
}

// Offsets one path; an empty result when Clipper refuses it.
ClipperLib::Paths ClipperOffsetPath(const ClipperLib::Path& path, double d, bool round, ClipperLib::EndType end) {
    ClipperLib::Paths result;
    const double delta = d * kClipperScale;
    try {
        // Mitre limit and arc tolerance 0: the library's defaults.
        ClipperLib::ClipperOffset offset(0.0, 0.0);
        if (round) {
            offset.ArcTolerance =
                offset_joins::RoundArcTolerance(delta, offset_joins::TotalTurn(path, end == ClipperLib::etClosedPolygon),
                                                path.size());
        }
        offset.AddPath(path, round ? ClipperLib::jtRound : ClipperLib::jtMiter, end);
        offset.Execute(result, delta);
    } catch (const std::exception&) {
        result.clear();
    }
    return result;
}

Gdiplus::RectF PathRect(const ClipperLib::Path& path) {
    std::vector<tagPOINTF> pts;
    pts.reserve(path.size());
    for (const ClipperLib::IntPoint& p : path) {
        pts.push_back(FromClipper(p));
    }
    return CBaseShape::CalculateRectangle(pts);
}

// A rectangle (Y its top edge) that strictly surrounds another.
bool Encloses(const Gdiplus::RectF& outer, const Gdiplus::RectF& inner) {
    return outer.X < inner.X && outer.X + outer.Width > inner.X + inner.Width && outer.Y > inner.Y &&
           outer.Y - outer.Height < inner.Y - inner.Height;
}

// A new closed polyline through the path (default pen, its own number).
CPolyLine* RingFromPath(const ClipperLib::Path& path) {
    auto* ring = new CPolyLine();
    ring->arrPoint.reserve(path.size() + 1);
    for (const ClipperLib::IntPoint& p : path) {
        ring->arrPoint.push_back(FromClipper(p));
    }
    ring->ClosePloyLine();
    Gdiplus::RectF rect;
    ring->GetRectangle(rect);
    return ring;
}

}  // namespace

namespace offset_joins {

double TotalTurn(const ClipperLib::Path& path, bool closed) {
    ClipperLib::Path v;
    v.reserve(path.size());
    for (const ClipperLib::IntPoint& p : path) {
        if (v.empty() || !(p == v.back())) {
            v.push_back(p);
        }
    }
    if (closed && v.size() > 1 && v.front() == v.back()) {
        v.pop_back();
    }
    const size_t n = v.size();
    if (n < 3) {
        return 0.0;
    }
    double total = 0.0;
    const size_t count = closed ? n : n - 2;
    for (size_t k = 0; k < count; ++k) {
        const ClipperLib::IntPoint& a = v[k];
        const ClipperLib::IntPoint& b = v[(k + 1) % n];
        const ClipperLib::IntPoint& c = v[(k + 2) % n];
        const double ux = static_cast<double>(b.X - a.X), uy = static_cast<double>(b.Y - a.Y);
        const double vx = static_cast<double>(c.X - b.X), vy = static_cast<double>(c.Y - b.Y);
        total += std::fabs(std::atan2(ux * vy - uy * vx, ux * vx + uy * vy));
    }
    return total;
}

double RoundArcTolerance(double delta, double turn, size_t vertices) {
    const double ad = std::fabs(delta);
    const double available = kRoundJoinPointBudget - 2.0 * static_cast<double>(vertices);
    if (ad <= 0.0 || turn <= 0.0) {
        return 0.0;
    }
    // Clipper's own count: pi / acos(1 - tolerance / |delta|) steps per turn.
    const double steps = std::numbers::pi / std::acos(1.0 - std::min(kDefaultArcTolerance / ad, 1.0));
    if (steps / (2.0 * std::numbers::pi) * turn <= available) {
        return 0.0;
    }
    const double perRadian = std::max(available, 1.0) / turn;
    const double tolerance = ad * (1.0 - std::cos(1.0 / (2.0 * std::max(perRadian, 1e-9))));
    // Clipper does not go coarser than a quarter of the distance.
    return std::min(std::max(tolerance, kDefaultArcTolerance), ad * 0.25);
}

}  // namespace offset_joins

// ---- bookkeeping ------------------------------------------------------------------------

void CPolyLine::PointsEdited() {
    ClearDetail();
    InvalidateGeometry();
    if (bClosed != 0 && (arrPoint.size() < 2 || arrPoint.front() != arrPoint.back())) {
        bClosed = 0;
    }
}

int CPolyLine::HitSegment(tagPOINTF point) const {
    for (size_t i = 1; i < arrPoint.size(); ++i) {
        if (PointNearSegment(arrPoint[i - 1].x, arrPoint[i - 1].y, arrPoint[i].x, arrPoint[i].y, point.x, point.y)) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

// ---- replays of the editing history ---------------------------------------------------------

void CPolyLine::AddDelPoint(int flag, stPolylinePos pos) {
    const ShapeGuard guard(this);
    AddDelPointHeld(flag, pos);
}

void CPolyLine::ReplayAddDel(int flag, const std::vector<stPolylinePos>& points, bool undo, int closedBefore) {
    const ShapeGuard guard(this);
    if (!undo) {
        for (const stPolylinePos& pos : points) {
            AddDelPointHeld(flag, pos);
        }
        return;
    }
    // Last entry first, so every index means what it meant when the edit
    // applied it.
    for (auto it = points.rbegin(); it != points.rend(); ++it) {
        AddDelPointHeld(flag == 0 ? 1 : 0, *it);
    }
    if (closedBefore == 1 && arrPoint.size() > 2 && arrPoint.front() == arrPoint.back()) {
        bClosed = 1;
    }
}

void CPolyLine::AddDelPointHeld(int flag, stPolylinePos pos) {
    const int n = static_cast<int>(arrPoint.size());
    if (flag != 0) {
        if (pos.index >= 0 && pos.index <= n && Finite(pos.point)) {
            arrPoint.insert(arrPoint.begin() + pos.index, pos.point);
        }
    } else if (pos.index >= 0 && pos.index < n) {
        arrPoint.erase(arrPoint.begin() + pos.index);
    }
    arrClickPoint.clear();
    arrSelectIndex.clear();
    PointsEdited();
}

void CPolyLine::SetPoints(std::vector<stPolylinePos> points) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrPoint.size());
    bool first = false;
    bool last = false;
    for (const stPolylinePos& pos : points) {
        if (pos.index >= 0 && pos.index < n && Finite(pos.point)) {
            arrPoint[pos.index] = pos.point;
            first = first || pos.index == 0;
            last = last || pos.index == n - 1;
        }
    }
    // A replay that puts both ends onto one place is the redo of a merge.
    if (first && last && n > 2 && arrPoint.front() == arrPoint.back()) {
        bClosed = 1;
    }
    PointsEdited();
    Gdiplus::RectF rect;
    GetRectangle(rect);
}

// ---- inserting and removing points ------------------------------------------------------------

int CPolyLine::InsertPoint(int index, tagPOINTF point) {
    const ShapeGuard guard(this);
    if (index <= 0 || index >= static_cast<int>(arrPoint.size()) || !Finite(point)) {
        return 0;
    }
    arrPoint.insert(arrPoint.begin() + index, point);
    PointsEdited();
    if (CBaseDoc* doc = GetShapeDoc()) {
        auto* data = new stPolylineAddDel;
        data->ids.push_back(GetBaseID());
        data->points.push_back({index, point});
        data->nAdd = 1;
        HandOver(doc, new CUND_PolyLineAddDel(data));
    }
    return 0;
}

int CPolyLine::RemovePoint(int index) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrPoint.size());
    if (index < 0 || index >= n || n <= 2) {
        return 0;
    }
    if (CBaseDoc* doc = GetShapeDoc()) {
        auto* data = new stPolylineAddDel;
        data->ids.push_back(GetBaseID());
        data->points.push_back({index, arrPoint[index]});
        data->nAdd = 0;
        data->nClosedBefore = bClosed;
        HandOver(doc, new CUND_PolyLineAddDel(data));
    }
    arrPoint.erase(arrPoint.begin() + index);
    PointsEdited();
    return 0;
}

int CPolyLine::RemovePoint_Mutli(int* indices, const int& n) {
    const ShapeGuard guard(this);
    const int count = static_cast<int>(arrPoint.size());
    if (indices == nullptr || n <= 0 || n >= count || count <= 2) {
        return 0;
    }
    // Descending order, so that every removal leaves the indices still to
    // come where they were.
    std::sort(indices, indices + n, [](int a, int b) { return a > b; });
    std::vector<stPolylinePos> removed;
    for (int k = 0; k < n; ++k) {
        const int index = indices[k];
        // A repeat would remove the neighbour and an index outside the
        // polyline names nothing: both are skipped, also in the record.
        if (index < 0 || index >= count || (k > 0 && indices[k - 1] == index)) {
            continue;
        }
        removed.push_back({index, arrPoint[index]});
    }
    if (removed.empty()) {
        return 0;
    }
    if (CBaseDoc* doc = GetShapeDoc()) {
        auto* data = new stPolylineAddDel;
        data->ids.push_back(GetBaseID());
        data->points = removed;
        data->nAdd = 0;
        data->nClosedBefore = bClosed;
        HandOver(doc, new CUND_PolyLineAddDel(data));
    }
    for (const stPolylinePos& pos : removed) {
        arrPoint.erase(arrPoint.begin() + pos.index);
    }
    PointsEdited();
    return 0;
}

// ---- dragging ---------------------------------------------------------------------------------

int CPolyLine::ModifyEditPoint(int index, tagPOINTF point) { return ModifyEditPoint(index, point, true); }

int CPolyLine::ModifyEditPoint(int index, tagPOINTF point, bool bNoUndo) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrPoint.size());
    if (index < 0 || index >= n || !Finite(point)) {
        return 0;
    }
    const int other = OppositeEnd(index, n, bClosed);
    stPolylineDragEntry entry;
    entry.id = GetBaseID();
    for (int i : {index, other}) {
        if (i < 0) {
            continue;
        }
        entry.before.push_back({i, arrPoint[i]});
        arrPoint[i] = point;
        entry.after.push_back({i, point});
    }
    PointsEdited();
    if (!bNoUndo) {
        if (CBaseDoc* doc = GetShapeDoc()) {
            HandOver(doc, new CUND_PolyLineDrag(new std::vector<stPolylineDragEntry>{entry}));
        }
    }
    return 0;
}

int CPolyLine::ModifyEditLine(int index, double dx, double dy) { return ModifyEditLine(index, dx, dy, true); }

int CPolyLine::ModifyEditLine(int index, double dx, double dy, bool bUndo) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrPoint.size());
    if (index < 1 || index >= n) {
        return 0;
    }
    const float fx = static_cast<float>(dx);
    const float fy = static_cast<float>(dy);
    // A move is refused whole when it would take an end out of the numbers.
    if (!Finite(Shifted(arrPoint[index - 1], fx, fy)) || !Finite(Shifted(arrPoint[index], fx, fy))) {
        return 0;
    }
    // The segment's two ends, and on a closed polyline the other copy of an
    // end point; a point is moved once even where the lists meet.
    std::vector<int> moved = {index - 1, index};
    if (bClosed != 0 && index == 1) {
        moved.push_back(n - 1);
    }
    if (bClosed != 0 && index + 1 == n) {
        moved.push_back(0);
    }
    stPolylineDragEntry entry;
    entry.id = GetBaseID();
    for (size_t k = 0; k < moved.size(); ++k) {
        const int i = moved[k];
        if (std::find(moved.begin(), moved.begin() + static_cast<std::ptrdiff_t>(k), i) !=
            moved.begin() + static_cast<std::ptrdiff_t>(k)) {
            continue;
        }
        entry.before.push_back({i, arrPoint[i]});
        arrPoint[i] = Shifted(arrPoint[i], fx, fy);
        entry.after.push_back({i, arrPoint[i]});
    }
    PointsEdited();
    if (bUndo) {
        if (CBaseDoc* doc = GetShapeDoc()) {
            HandOver(doc, new CUND_PolyLineDrag(new std::vector<stPolylineDragEntry>{entry}));
        }
    }
    return 0;
}

int CPolyLine::MergerEditPoint(bool bNoUndo, CBaseDoc* doc) {
    const ShapeGuard guard(this);
    const int n = static_cast<int>(arrPoint.size());
    if (bClosed != 0 || n < 2) {
        return 1;
    }
    const tagPOINTF first = arrPoint.front();
    const tagPOINTF last = arrPoint.back();
    const tagPOINTF mid{(first.x + last.x) / 2.0f, (first.y + last.y) / 2.0f};
    if (!Finite(mid)) {
        return 1;
    }
    arrPoint.front() = mid;
    arrPoint.back() = mid;
    bClosed = 1;
    PointsEdited();
    if (!bNoUndo && doc != nullptr) {
        stPolylineDragEntry entry;
        entry.id = GetBaseID();
        entry.before = {{0, first}, {n - 1, last}};
        entry.after = {{0, mid}, {n - 1, mid}};
        HandOver(doc, new CUND_PolyLineDrag(new std::vector<stPolylineDragEntry>{entry}));
    }
    return 1;
}

// ---- selection --------------------------------------------------------------------------------

int CPolyLine::EditPointAligh(int mode) {
    const ShapeGuard guard(this);
    if (mode < 0 || mode > 3) {
        return 0;
    }
    const int n = static_cast<int>(arrPoint.size());
    // The selection may be older than the last edit: indices that no longer
    // name a point are left out.
    std::vector<int> selected;
    for (int i : arrSelectIndex) {
        if (i >= 0 && i < n) {
            selected.push_back(i);
        }
    }
    if (selected.empty()) {
        return 0;
    }
    const bool onX = mode == 0 || mode == 1;
    const bool smallest = mode == 0 || mode == 3;
    float value = onX ? arrPoint[selected[0]].x : arrPoint[selected[0]].y;
    for (int i : selected) {
        const float v = onX ? arrPoint[i].x : arrPoint[i].y;
        value = smallest ? std::min(value, v) : std::max(value, v);
    }
    for (int i : selected) {
        for (int j : {i, OppositeEnd(i, n, bClosed)}) {
            if (j >= 0) {
                (onX ? arrPoint[j].x : arrPoint[j].y) = value;
            }
        }
    }
    PointsEdited();
    return 0;
}

int CPolyLine::GetRectInEditPoint(tagPOINTF a, tagPOINTF b) {
    arrSelectIndex.clear();
    const float left = std::min(a.x, b.x);
    const float right = std::max(a.x, b.x);
    const float bottom = std::min(a.y, b.y);
    const float top = std::max(a.y, b.y);
    for (size_t i = 0; i < arrPoint.size(); ++i) {
        const tagPOINTF& p = arrPoint[i];
        if (p.x > left && p.x < right && p.y > bottom && p.y < top) {
            arrSelectIndex.push_back(static_cast<int>(i));
        }
    }
    return 0;
}

int CPolyLine::GetEditLine(std::vector<tagPOINTF>& list, tagPOINTF& foot) {
    if (list.empty()) {
        return 0;
    }
    const tagPOINTF query = list[0];
    // The segment is looked up in the points themselves, never in a thinned
    // copy, so that the index names the segment the editor will move.
    const int i = HitSegment(query);
    if (i < 1) {
        return 0;
    }
    const int n = static_cast<int>(arrPoint.size());
    const tagPOINTF a = arrPoint[i - 1];
    const tagPOINTF b = arrPoint[i];
    const double ux = static_cast<double>(b.x) - a.x;
    const double uy = static_cast<double>(b.y) - a.y;
    const double len2 = ux * ux + uy * uy;
    if (ux == 0.0) {
        foot = {a.x, query.y};
    } else if (len2 > 0.0 && std::isfinite(len2)) {
        const double t = ((static_cast<double>(query.x) - a.x) * ux + (static_cast<double>(query.y) - a.y) * uy) / len2;
        foot = {static_cast<float>(a.x + t * ux), static_cast<float>(a.y + t * uy)};
    } else {
        foot = a;
    }
    list.push_back(arrPoint[i >= 2 ? i - 2 : i - 1]);
    list.push_back(a);
    list.push_back(b);
    list.push_back(arrPoint[i + 1 < n ? i + 1 : i]);
    return i;
}

// ---- drawing the editing state ----------------------------------------------------------------

int CPolyLine::DrawSelectPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (dc == nullptr || m_pView == nullptr || arrSelectIndex.empty()) {
        return 0;
    }
    CGdiObject* previous = dc->SelectStockObject(BLACK_BRUSH);
    const int n = static_cast<int>(arrPoint.size());
    bool first = true;
    for (int i : arrSelectIndex) {
        const bool isFirst = first;
        first = false;
        if (i < 0 || i >= n) {
            continue;
        }
        CPoint c;
        m_pView->LP2DP(arrPoint[i], c, 0);
        // The handle of the first selected point is a little larger.
        const int half = kSelectHalf + (isFirst ? 1 : 0);
        const int x = ClampPixel(c.x);
        const int y = ClampPixel(c.y);
        dc->Rectangle(x - half, y - half, x + half, y + half);
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 0;
}

int CPolyLine::DrawClickPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (dc == nullptr || m_pView == nullptr || arrClickPoint.empty()) {
        return 0;
    }
    CGdiObject* previous = dc->SelectStockObject(BLACK_BRUSH);
    CPoint c;
    m_pView->LP2DP(arrClickPoint.front(), c, 0);
    const int x = ClampPixel(c.x);
    const int y = ClampPixel(c.y);
    dc->Ellipse(x - kClickHalf, y - kClickHalf, x + kClickHalf, y + kClickHalf);
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 0;
}

// ---- splitting --------------------------------------------------------------------------------

CCombineShape* CPolyLine::SeparateEditPoint() {
    auto* combine = new CCombineShape();
    std::vector<CBaseShape*>& pieces = combine->GetChildren();
    const int n = static_cast<int>(arrPoint.size());

    // The split points, in ascending order, each once; the selection may be
    // older than the last edit, so indices outside the polyline are dropped.
    std::vector<int> sel;
    for (int i : arrSelectIndex) {
        if (i >= 0 && i < n) {
            sel.push_back(i);
        }
    }
    std::sort(sel.begin(), sel.end());
    sel.erase(std::unique(sel.begin(), sel.end()), sel.end());

    // A plain new polyline through points from..to (a piece of the result:
    // it gives its number back).
    auto piece = [&](std::initializer_list<std::pair<int, int>> ranges) {
        auto* part = new CPolyLine();
        MinusCountNum();
        for (const auto& [from, to] : ranges) {
            for (int k = from; k <= to; ++k) {
                part->arrPoint.push_back(arrPoint[k]);
            }
        }
        pieces.push_back(part);
    };

    if (bClosed != 0 && sel.size() == 1) {
        combine->FreeShapePtr();
        const int s = sel[0];
        // The copy keeps this polyline's caption and pen; Clone has given
        // its running number back already.
        auto* copy = static_cast<CPolyLine*>(Clone());
        copy->bClosed = 0;
        copy->arrSelectIndex.clear();
        copy->arrClickPoint.clear();
        if (s > 0 && s < n - 1) {
            // Opened at s: s .. n-2, then round through 0 .. s.
            std::vector<tagPOINTF> rotated(arrPoint.begin() + s, arrPoint.begin() + (n - 1));
            rotated.insert(rotated.end(), arrPoint.begin(), arrPoint.begin() + s + 1);
            copy->arrPoint = std::move(rotated);
            copy->InvalidateGeometry();
            Gdiplus::RectF rect;
            copy->GetRectangle(rect);
            pieces.push_back(copy);
        } else {
            // Opened where it already starts: the same points, as a curve.
            pieces.push_back(copy->ToBezier());
            delete copy;
        }
    } else if (bClosed != 0) {
        for (size_t k = 0; k < sel.size(); ++k) {
            const int s = sel[k];
            if (s <= 0) {
                continue;
            }
            if (pieces.empty()) {
                // The piece across the seam: from the last split point round
                // to the first.
                piece({{sel.back(), n - 2}, {0, s}});
            } else {
                piece({{sel[k - 1], s}});
            }
        }
    } else if (n > 0) {
        int from = 0;
        for (int s : sel) {
            if (s <= 0) {
                continue;
            }
            piece({{from, s}});
            from = s;
        }
        // The rest after the last split point; with no split point at all
        // that is the whole polyline, so nothing is lost.
        if (from != n - 1) {
            piece({{from, n - 1}});
        }
    }
    Gdiplus::RectF rect;
    combine->GetRectangle(rect);
    return combine;
}

// ---- conversions ------------------------------------------------------------------------------

CBaseShape* CPolyLine::ToBezierEx(int lineType) {
    // An arc span needs the points of its arc, which a straight segment
    // does not have: only cubic and straight segments are built.
    const int32_t type = lineType == 0 ? 0 : 1;
    auto* curve = new CBezierCurve();
    curve->arrSegment.clear();
    const std::vector<tagPOINTF>& points = DrawnPoints();
    for (size_t i = 1; i < points.size(); ++i) {
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = seg.p2 = points[i - 1];
        seg.p3 = seg.p4 = points[i];
        seg.LineType = type;
        curve->arrSegment.push_back(seg);
    }
    MinusCountNum();
    if (!arrClickPoint.empty()) {
        curve->arrClickPoint.push_back(arrClickPoint.front());
    }
    // Converting never changes the laser parameters the path marks with.
    curve->SetPen(GetPenIndex());
    return curve;
}

// Offsetting has three cases:
// - a single segment: a copy moved perpendicular to it by d, toward the side
//   of the reference point;
// - an open polyline: the chain closed through the midpoint m of its ends
//   (m, p0 .. pn-1, m) is offset by d as an open path with square ends; the
//   rings whose box strictly surrounds the polyline's are the outer offset,
//   the others the inner one, and bInward picks which are kept;
// - a closed polyline: offset as a polygon by d outward or inward.
// The rings come out as closed polylines in the default pen.
void CPolyLine::Offset(std::vector<CBaseShape*>& out, float d, bool bInward, bool bRound, tagPOINTF side) {
    const size_t n = arrPoint.size();
    if (!std::isfinite(d)) {
        return;
    }
    if (n == 2) {
        if (!FitsClipper(arrPoint, d)) {
            return;
        }
        const tagPOINTF p0 = arrPoint[0];
        const tagPOINTF p1 = arrPoint[1];
        const double adx = std::fabs(static_cast<double>(p0.x) - p1.x);
        const double k = adx > 0.1 ? GetSlope(p0, p1) : 0.0;
        const bool steep = std::fabs(k) > 1.001 || adx < 0.001;
        // a -> b runs downward for a steep segment and rightward otherwise,
        // so its left normal points to +x or +y respectively.
        tagPOINTF a;
        tagPOINTF b;
        if (steep) {
            a = p0.y > p1.y ? p0 : p1;
            b = p0.y > p1.y ? p1 : p0;
        } else {
            a = p0.x < p1.x ? p0 : p1;
            b = p0.x < p1.x ? p1 : p0;
        }
        const int s = CrossSign(a, b, side);
        const double ux = static_cast<double>(b.x) - a.x;
        const double uy = static_cast<double>(b.y) - a.y;
        const double len = std::hypot(ux, uy);
        double nx = steep ? 1.0 : 0.0;
        double ny = steep ? 0.0 : 1.0;
        if (len > 0.0 && std::isfinite(len)) {
            nx = -uy / len;
            ny = ux / len;
        }
        // Toward the reference point; on the line: +x for a steep segment,
        // -y otherwise.
        const double sign = steep ? (s == -1 ? -1.0 : 1.0) : (s == 1 ? 1.0 : -1.0);
        CBaseShape* copy = Clone();
        copy->Move(static_cast<float>(sign * d * nx), static_cast<float>(sign * d * ny));
        out.push_back(copy);
        return;
    }
    if (!FitsClipper(arrPoint, d)) {
        return;
    }

    ClipperLib::Path path;
    const bool open = n > 2 && PointDistance(arrPoint[n - 1].x, arrPoint[n - 1].y, arrPoint[0].x, arrPoint[0].y) > 0.01;
    if (open) {
        const tagPOINTF m = GetMidPointF(arrPoint[0], arrPoint[n - 1]);
        path.reserve(n + 2);
        path.push_back(ToClipper(m));
        for (const tagPOINTF& p : arrPoint) {
            path.push_back(ToClipper(p));
        }
        path.push_back(ToClipper(m));
        const ClipperLib::Paths result = ClipperOffsetPath(path, d, bRound, ClipperLib::etOpenSquare);
        const Gdiplus::RectF source = CalculateRectangle(arrPoint);
        for (auto it = result.rbegin(); it != result.rend(); ++it) {
            if (it->empty()) {
                continue;
            }
            const bool outer = Encloses(PathRect(*it), source);
            if (outer != bInward) {
                out.push_back(RingFromPath(*it));
            }
        }
        return;
    }

    path.reserve(n);
    for (const tagPOINTF& p : arrPoint) {
        path.push_back(ToClipper(p));
    }
    const ClipperLib::Paths result =
        ClipperOffsetPath(path, bInward ? -static_cast<double>(d) : static_cast<double>(d), bRound,
                          ClipperLib::etClosedPolygon);
    // Every ring is kept: an inward offset may fall apart into several.
    for (const ClipperLib::Path& ring : result) {
        if (!ring.empty()) {
            out.push_back(RingFromPath(ring));
        }
    }
}

void CPolyLine::ToDotted(float dash, float gap, std::vector<CBaseShape*>& out) {
    const size_t n = arrPoint.size();
    if (n < 2 || !std::isfinite(dash) || !std::isfinite(gap) || !(dash > 0.0f) || gap < 0.0f) {
        return;
    }
    double length = 0.0;
    for (size_t i = 1; i < n; ++i) {
        length += std::hypot(static_cast<double>(arrPoint[i].x) - arrPoint[i - 1].x,
                             static_cast<double>(arrPoint[i].y) - arrPoint[i - 1].y);
    }
    // A pattern far finer than the polyline would make millions of pieces.
    if (!std::isfinite(length) || length / (static_cast<double>(dash) + gap) > kMaxDashStretches) {
        return;
    }
    // A backstop for coordinates so large that a split no longer moves the
    // current position.
    const size_t maxSteps = n + 2 * static_cast<size_t>(kMaxDashStretches) + 16;

    const unsigned char pen = GetPenIndex();
    std::unique_ptr<CPolyLine> current;
    auto start = [&](double x, double y) {
        current = std::make_unique<CPolyLine>();
        current->arrPoint.push_back({static_cast<float>(x), static_cast<float>(y)});
    };
    auto finish = [&](double x, double y) {
        current->arrPoint.push_back({static_cast<float>(x), static_cast<float>(y)});
        current->SetPen(pen);
        out.push_back(current.release());
    };

    bool on = true;
    double remaining = dash;
    double cx = arrPoint[0].x;
    double cy = arrPoint[0].y;
    size_t i = 0;
    start(cx, cy);
    for (size_t step = 0; i + 1 < n && step < maxSteps; ++step) {
        const double qx = arrPoint[i + 1].x;
        const double qy = arrPoint[i + 1].y;
        const double dist = std::hypot(qx - cx, qy - cy);
        if (std::fabs(dist - remaining) < kDashVertexTolerance) {
            // The stretch ends on the vertex.
            if (on) {
                finish(qx, qy);
            }
            on = !on;
            cx = qx;
            cy = qy;
            ++i;
            remaining = on ? dash : gap;
            if (on) {
                start(cx, cy);
            }
        } else if (remaining < dist) {
            // The stretch ends inside the segment.
            const double t = remaining / dist;
            const double sx = (1.0 - t) * cx + t * qx;
            const double sy = (1.0 - t) * cy + t * qy;
            if (on) {
                finish(sx, sy);
            }
            on = !on;
            cx = sx;
            cy = sy;
            remaining = on ? dash : gap;
            if (on) {
                start(cx, cy);
            }
        } else {
            remaining -= dist;
            if (on) {
                current->arrPoint.push_back({static_cast<float>(qx), static_cast<float>(qy)});
            }
            cx = qx;
            cy = qy;
            ++i;
        }
    }
    if (on && current && current->arrPoint.size() >= 2) {
        current->SetPen(pen);
        out.push_back(current.release());
    }
}
