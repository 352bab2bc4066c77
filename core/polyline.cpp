#include "morvik/core/polyline.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <string>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"

IMPLEMENT_SERIAL(CPolyLine, CBaseShape, 2)

namespace {

// Pick radius of a point, in pixels.
constexpr double kPickPixels = 5.0;
// Tolerance of the rubber-band test, in millimetres.
constexpr float kSelectTolerance = 2.0f;
// Thinning step of each detail level, in millimetres.
constexpr float kDetailStep[CPolyLine::kDetailLevels] = {1.0f, 0.5f, 0.2f, 0.1f, 0.05f, 0.02f};

bool Finite(tagPOINTF p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The edits and the file reader refuse points that are not finite; one put
// into arrPoint directly is still left out of the bounds and every export.
bool AllPointsFinite(const std::vector<tagPOINTF>& points) { return std::all_of(points.begin(), points.end(), Finite); }

Gdiplus::RectF FiniteBounds(const std::vector<tagPOINTF>& points) {
    if (AllPointsFinite(points)) {
        return CBaseShape::CalculateRectangle(points);
    }
    std::vector<tagPOINTF> kept;
    std::copy_if(points.begin(), points.end(), std::back_inserter(kept), Finite);
    return CBaseShape::CalculateRectangle(kept);
}

void DrawSegments(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev, float dx,
                  float dy) {
    for (size_t i = 1; i < dev.size(); ++i) {
        g.DrawLine(&pen, Gdiplus::PointF(dev[i - 1].X + dx, dev[i - 1].Y + dy),
                   Gdiplus::PointF(dev[i].X + dx, dev[i].Y + dy));
    }
}

}  // namespace

CPolyLine::CPolyLine() {
    InitShape(SHAPE_POLYLINE, "IDS_TYPENAME_POLYLINE", ShapeCounterOf(SHAPE_POLYLINE));
}

CPolyLine::~CPolyLine() = default;

int CPolyLine::ClosePloyLine() {
    const ShapeGuard guard(this);
    if (arrPoint.empty()) {
        return 0;
    }
    const tagPOINTF first = arrPoint.front();
    arrPoint.push_back(first);
    bClosed = 1;
    InvalidateGeometry();
    return 0;
}

void CPolyLine::MinusCountNum() { ShapeCounterOf(SHAPE_POLYLINE).GiveBack(); }

void CPolyLine::GetZoomDetailLevel(float zoom, int& level, float& step) {
    // A zoom that is not a number falls to the coarsest level.
    if (!(zoom >= 2.5f)) {
        level = 0;
    } else if (zoom < 5.0f) {
        level = 1;
    } else if (zoom <= 10.0f) {
        level = 2;
    } else if (zoom < 20.0f) {
        level = 3;
    } else if (zoom <= 50.0f) {
        level = 4;
    } else {
        level = 5;
    }
    step = kDetailStep[level];
}

void CPolyLine::ClearDetail() {
    // The levels are made on first use (GetDetail): most polylines are never
    // thinned, and a shape is made by the hundred thousand in an import.
    arrDetail.clear();
    m_detailSource.fill(0);
}

const std::vector<tagPOINTF>& CPolyLine::GetDetail(int level) {
    static const std::vector<tagPOINTF> kNone;
    if (level < 0 || level >= kDetailLevels) {
        return kNone;
    }
    if (arrDetail.size() != static_cast<size_t>(kDetailLevels)) {
        arrDetail.resize(kDetailLevels);
    }
    std::vector<tagPOINTF>& detail = arrDetail[level];
    const std::vector<tagPOINTF>& source = DrawnPoints();
    // A copy built from another number of points no longer shows this
    // polyline (points were appended or removed since): build it again.
    if (!detail.empty() && m_detailSource[level] == source.size()) {
        return detail;
    }
    detail.clear();
    m_detailSource[level] = source.size();
    if (source.empty()) {
        return detail;
    }
    const float step = kDetailStep[level];

    // Keep a point only when it lies more than one step (mean of the two
    // coordinate differences) from the last point kept.
    detail.push_back(source.front());
    tagPOINTF last = source.front();
    for (const tagPOINTF& p : source) {
        const float mean = (std::fabs(p.x - last.x) + std::fabs(p.y - last.y)) / 2.0f;
        if (mean > step) {
            detail.push_back(p);
            last = p;
        }
    }
    return detail;
}

float CPolyLine::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) {
            return zoom;
        }
    }
    return 1.0f;
}

const std::vector<tagPOINTF>& CPolyLine::PointsForDisplay() {
    const std::vector<tagPOINTF>& drawn = DrawnPoints();
    if (drawn.size() <= kDetailThreshold) {
        return drawn;
    }
    int level = 0;
    float step = 1.0f;
    GetZoomDetailLevel(ViewZoom(), level, step);
    return GetDetail(level);
}

template <class F>
bool CPolyLine::TransformAll(const AffineMap& map, F f) {
    // A transform that would take any point out of the numbers (a parameter
    // that is not one, an overflow) is refused whole. The map is checked in
    // double first, so that no point is computed beyond the float range.
    if (!geom::MapsFinite(map, arrPoint)) {
        return false;
    }
    std::vector<tagPOINTF> moved;
    moved.reserve(arrPoint.size());
    for (const tagPOINTF& p : arrPoint) {
        const tagPOINTF q = f(p);
        if (!Finite(q)) {
            return false;
        }
        moved.push_back(q);
    }
    // Nor may the points come to span more than the float range: the
    // rectangle's sides would not be finite.
    const Gdiplus::RectF box = FiniteBounds(moved);
    if (!std::isfinite(box.Width) || !std::isfinite(box.Height)) {
        return false;
    }
    arrPoint.swap(moved);
    // The thinned copies hold points of arrPoint only.
    for (std::vector<tagPOINTF>& level : arrDetail) {
        for (tagPOINTF& p : level) {
            p = f(p);
        }
    }
    return true;
}

// ---- persistence ------------------------------------------------------------

void CPolyLine::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("arrPointf", &arrPointf);
}

void CPolyLine::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    arrPointf.clear();
    arrPointf.push_back(geom::FinitePoints(arrPoint));
}

// ---- conversions --------------------------------------------------------------

CBaseShape* CPolyLine::ToBezier() {
    auto* curve = new CBezierCurve();
    curve->arrSegment.clear();
    const std::vector<tagPOINTF> points = geom::FinitePoints(DrawnPoints());
    for (size_t i = 1; i < points.size(); ++i) {
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = seg.p2 = points[i - 1];
        seg.p3 = seg.p4 = points[i];
        seg.LineType = 1;
        curve->arrSegment.push_back(seg);
    }
    curve->arrSelectIndex = arrSelectIndex;
    curve->bClosed = bClosed;
    // Converting never changes the laser parameters the path marks with.
    curve->SetPen(GetPenIndex());
    curve->KeepMarkingOf(*this);
    return curve;
}

CBaseShape* CPolyLine::Clone() {
    auto* copy = new CPolyLine();
    static_cast<PolyLineFields&>(*copy) = *this;
    // The copy carries the source's caption, so its own number goes back.
    MinusCountNum();
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->SetShapeRect(GetShapeRect());
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ------------------------------------------------------------------

int CPolyLine::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    line.Format(L"<PolyLine Name=\"%s\">", name.c_str());
    buff.WriteToFile(line);
    const std::vector<tagPOINTF>& points = DrawnPoints();
    line.Format(L"<Point nSize=\"%d\">", static_cast<int>(std::count_if(points.begin(), points.end(), Finite)));
    buff.WriteToFile(line);
    for (const tagPOINTF& p : points) {
        if (!Finite(p)) {
            continue;
        }
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>", static_cast<double>(p.x), static_cast<double>(p.y),
                    0.0);
        buff.WriteToFile(line);
    }
    buff.WriteToFile(L"</Point>");
    buff.WriteToFile(L"</PolyLine>");
    return 0;
}

int CPolyLine::ExportGCodeToBuff(GCodeContext& ctx) {
    // A point that is not finite is left out, as the mark data leaves it.
    bool down = false;
    for (const tagPOINTF& p : DrawnPoints()) {
        if (!Finite(p)) {
            continue;
        } else if (down) {
            ctx.LineTo(p.x, p.y, 0.0f);
        } else {
            ctx.MoveTo(p.x, p.y, 0.0f);
            down = true;
        }
    }
    return 0;
}

// ---- drawing ------------------------------------------------------------------

int CPolyLine::DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points) {
    if (dc == nullptr || m_pView == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    std::vector<Gdiplus::PointF> dev(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        m_pView->LP2DP(m_pView->GetZoom(), points[i], dev[i], 0);
    }
    DrawSegments(g, pen, dev, 0.0f, 0.0f);
    return 0;
}

int CPolyLine::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = PointsForDisplay();
    for (tagPOINTF& p : pts) {
        p = PointfSlope(p, a, b, base);
    }
    return DrawPreview(dc, color, pts);
}

int CPolyLine::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = PointsForDisplay();
    for (tagPOINTF& p : pts) {
        p = PointfZoom(p, sx, sy, base);
    }
    return DrawPreview(dc, color, pts);
}

int CPolyLine::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = PointsForDisplay();
    for (tagPOINTF& p : pts) {
        p = PointfRotate(p, centre, angle);
    }
    return DrawPreview(dc, color, pts);
}

int CPolyLine::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD color, int arrow, float dx,
                              float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const std::vector<tagPOINTF>& drawn = DrawnPoints();
    std::vector<Gdiplus::PointF> pts;
    pts.reserve(drawn.size());
    for (const tagPOINTF& p : drawn) {
        pts.emplace_back(p.x, p.y);
    }
    DrawSegments(*g, pen, pts, dx, dy);
    return 0;
}

int CPolyLine::Draw(CDC* dc, int arrow, int mode, int a, int b) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, a, b, 0.0f, 0.0f);
}

int CPolyLine::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) {
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
    // Beyond the threshold the thinned copy of the view's level is drawn; it
    // starts on point 0 like the polyline itself.
    const std::vector<tagPOINTF>& pts = PointsForDisplay();
    if (pts.size() < 2) {
        return 0;
    }
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev(pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        m_pView->LP2DP(zoom, pts[i], dev[i], mode);
    }
    DrawSegments(*g, pen, dev, dx, dy);
    return 0;
}

int CPolyLine::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    const std::vector<tagPOINTF>& drawn = DrawnPoints();
    std::vector<Gdiplus::PointF> dev(drawn.size());
    for (size_t i = 0; i < drawn.size(); ++i) {
        wnd->LP2DP(drawn[i], dev[i], mode);
    }
    DrawSegments(g, pen, dev, dx, dy);
    return 0;
}

int CPolyLine::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    DrawPointHandles(dc, arrPoint, true);
    return 0;
}

// ---- editing and picking ---------------------------------------------------------

int CPolyLine::GetEditPoint(std::vector<tagPOINTF>& points) {
    if (points.empty()) {
        return 0;
    }
    const tagPOINTF query = points[0];
    const double radius = kPickPixels / ViewZoom();
    const size_t n = arrPoint.size();
    for (size_t i = 0; i < n; ++i) {
        if (PointDistance(query.x, query.y, arrPoint[i].x, arrPoint[i].y) > radius) {
            continue;
        }
        tagPOINTF before = arrPoint[0];
        if (i > 0) {
            before = arrPoint[i - 1];
        } else if (bClosed != 0 && n >= 2) {
            before = arrPoint[n - 2];
        }
        tagPOINTF after = arrPoint[i];
        if (i + 1 < n) {
            after = arrPoint[i + 1];
        } else if (bClosed != 0) {
            after = arrPoint[0];
        }
        points.push_back(before);
        points.push_back(after);
        return static_cast<int>(i + 1);
    }
    return 0;
}

int CPolyLine::GetSnapPoint(std::vector<tagPOINTF>& points) {
    points = arrPoint;
    for (size_t i = 1; i < arrPoint.size(); ++i) {
        const tagPOINTF& a = arrPoint[i - 1];
        const tagPOINTF& b = arrPoint[i];
        points.push_back({(a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f});
    }
    return 0;
}

// ---- transforms -------------------------------------------------------------------

int CPolyLine::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    return MoveHeld(dx, dy);
}

int CPolyLine::MoveHeld(float dx, float dy) {
    if (!TransformAll(AffineMap::Move(dx, dy), [dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; })) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

int CPolyLine::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return RotateHeld(angle, centre);
}

int CPolyLine::RotateHeld(double angle, tagPOINTF centre) {
    const PointRotator turn(centre, angle);
    if (!TransformAll(AffineMap::Rotate(angle, centre), [&](tagPOINTF p) { return turn(p); })) {
        return kRefused;
    }
    CBaseShape::Rotate(angle, centre);
    return 0;
}

int CPolyLine::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    return ZoomHeld(fixed, sx, sy);
}

int CPolyLine::ZoomHeld(tagPOINTF fixed, double sx, double sy) {
    if (!TransformAll(AffineMap::Zoom(sx, sy, fixed), [&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); })) {
        return kRefused;
    }
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CPolyLine::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    return SlopeHeld(fixed, a, b);
}

int CPolyLine::SlopeHeld(tagPOINTF fixed, double a, double b) {
    if (!TransformAll(AffineMap::Slope(a, b, fixed), [&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); })) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CPolyLine::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    return MirrorHeld(fixed, mode);
}

int CPolyLine::MirrorHeld(tagPOINTF fixed, int mode) {
    if (mode < 1 || mode > 3) {
        return 0;
    }
    if (!TransformAll(AffineMap::Mirror(mode, fixed), [&](tagPOINTF p) { return PointfMirror(p, fixed, mode); })) {
        return kRefused;
    }
    InvalidateGeometry();
    return 0;
}

int CPolyLine::SortPath() {
    const ShapeGuard guard(this);
    std::reverse(arrPoint.begin(), arrPoint.end());
    // The thinned copies start on the old first point: drop them rather than
    // draw a stray segment from the new start.
    ClearDetail();
    InvalidateGeometry();
    return 0;
}

// ---- tests against points and rectangles --------------------------------------------

int CPolyLine::IsInRect(Gdiplus::RectF& rect) {
    if (arrPoint.empty()) {
        return 0;
    }
    for (const tagPOINTF& p : arrPoint) {
        if (!PtInRectFBorder(p.x, p.y, rect, false)) {
            return 0;
        }
    }
    return 1;
}

int CPolyLine::IsMe(tagPOINTF point) {
    // Beyond the threshold the answer is an index into the thinned copy.
    const std::vector<tagPOINTF>& pts = PointsForDisplay();
    for (size_t i = 1; i < pts.size(); ++i) {
        if (PointNearSegment(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y, point.x, point.y)) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int CPolyLine::IsInClientRectF() {
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    const Gdiplus::RectF r = FiniteBounds(arrPoint);
    if (PtInRectFBorder(r.X, r.Y, client, false) && PtInRectFBorder(r.X + r.Width, r.Y - r.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(r, client) ? 1 : 0;
}

int CPolyLine::GetRectangle(Gdiplus::RectF& rect) {
    rect = FiniteBounds(arrPoint);
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

int CPolyLine::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (!IsIntersectRect(rect)) {
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

// ---- flattening and mark data ---------------------------------------------------------

int CPolyLine::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    std::vector<tagPOINTF> copy = geom::FinitePoints(arrPoint);
    CBaseShape::GetFlattenPathPoints(copy, tolerance);
    points = std::move(copy);
    return 0;
}

int CPolyLine::GetFlattenPathFirstPoint(tagPOINTF& point) {
    const auto first = std::find_if(arrPoint.begin(), arrPoint.end(), Finite);
    if (first != arrPoint.end()) {
        point = *first;
    }
    return 0;
}

int CPolyLine::GetFlattenPathLastPoint(tagPOINTF& point) {
    const auto last = std::find_if(arrPoint.rbegin(), arrPoint.rend(), Finite);
    if (last != arrPoint.rend()) {
        point = *last;
    }
    return 0;
}

bool CPolyLine::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    if (BeginMarkData(out)) {
        return true;
    }
    MarkDataLock lock(this, &out);

    // The flattened points leave out any that is not a number.
    std::vector<tagPOINTF> points;
    GetFlattenPathPoints(points, kMarkTolerance);
    tagPathData path;
    path.nPenIndex = GetPenIndex();
    if (!points.empty()) {
        path.arrPolylines.push_back(std::move(points));
    }
    if (path.arrPolylines.empty()) {
        return lock.Finish(false);
    }
    m_markCache.arrPaths.push_back(std::move(path));
    if (IsReverseOrder()) {
        std::reverse(m_markCache.arrPaths.begin(), m_markCache.arrPaths.end());
        std::reverse(m_markCache.arrPaths2.begin(), m_markCache.arrPaths2.end());
    }
    out = m_markCache;
    return lock.Finish(true);
}
