#include "morvik/core/points.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <string>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"

IMPLEMENT_SERIAL(CPoints, CBaseShape, 2)

namespace {

// Hit radius in pixels.
constexpr double kHitPixels = 2.5;
// Side of the square that stands for the point's rectangle, in millimetres.
constexpr float kRectSide = 0.0001f;

// Truncation towards zero into a pixel coordinate; values beyond any device
// and values that are not numbers cannot be converted and are pinned.
int TruncPixel(double v) {
    constexpr double kLimit = 1.0e9;
    if (!(v == v)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(v), -kLimit, kLimit));
}

// A device position moved by a truncated offset, pinned like TruncPixel.
int OffsetPixel(long long position, float offset) {
    constexpr long long kLimit = 1000000000LL;
    return static_cast<int>(std::clamp(position + TruncPixel(offset), -kLimit, kLimit));
}

// A point that is not a number (or not finite) would reach the scanner: the
// shape never takes one in.
bool Finite(tagPOINTF p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The mark of a point: two short diagonals through (x, y).
void DrawCross(Gdiplus::Graphics& g, DWORD color, int x, int y) {
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    g.DrawLine(&pen, x + 1, y + 1, x - 1, y - 1);
    g.DrawLine(&pen, x + 1, y - 1, x - 1, y + 1);
}

}  // namespace

CPoints::CPoints() { InitShape(SHAPE_POINTS, "IDS_TYPENAME_POINT", ShapeCounterOf(SHAPE_POINTS)); }

CPoints::~CPoints() = default;

int CPoints::InitPoint(tagPOINTF p) {
    const ShapeGuard guard(this);
    if (!Finite(p)) {
        return -1;
    }
    pointf = p;
    InvalidateGeometry();
    return 0;
}

float CPoints::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) {
            return zoom;
        }
    }
    return 1.0f;
}

void CPoints::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("pointf", &pointf);
}

CBaseShape* CPoints::Clone() {
    auto* copy = new CPoints();
    copy->pointf = pointf;
    copy->m_nPenIndex = m_nPenIndex;
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

int CPoints::ExportXmlToBuff(tagXmlBuff& buff) {
    // No export prints nan or inf: a point that is not finite is not written.
    if (!Finite(pointf)) {
        return 0;
    }
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    line.Format(L"<Point Name=\"%s\" x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>\r\n", name.c_str(),
                static_cast<double>(pointf.x), static_cast<double>(pointf.y), 0.0);
    buff.WriteToFile(line);
    return 0;
}

// ---- drawing ------------------------------------------------------------------

namespace {

template <class F>
int DrawTransformedCross(CDC* dc, CBaseView* view, DWORD color, tagPOINTF p, F transform) {
    if (dc == nullptr || view == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    CPoint c;
    view->LP2DP(transform(p), c, 0);
    DrawCross(g, color, c.x, c.y);
    return 0;
}

}  // namespace

int CPoints::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    return DrawTransformedCross(dc, m_pView, color, pointf,
                                [&](tagPOINTF p) { return PointfSlope(p, a, b, base); });
}

int CPoints::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    return DrawTransformedCross(dc, m_pView, color, pointf,
                                [&](tagPOINTF p) { return PointfZoom(p, sx, sy, base); });
}

int CPoints::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return DrawTransformedCross(dc, m_pView, color, pointf,
                                [&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
}

int CPoints::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD color, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    DrawCross(*g, color, OffsetPixel(TruncPixel(pointf.x), dx), OffsetPixel(TruncPixel(pointf.y), dy));
    return 0;
}

int CPoints::Draw(CDC* dc, int arrow, int mode, int a, int b) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, a, b, 0.0f, 0.0f);
}

int CPoints::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int, int mode, int, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) {
        return 0;
    }
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    CPoint c;
    m_pView->LP2DP(pointf, c, mode);
    DrawCross(*g, color, OffsetPixel(c.x, dx), OffsetPixel(c.y, dy));
    return 0;
}

int CPoints::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::PointF d;
    wnd->LP2DP(pointf, d, mode);
    DrawCross(g, color, OffsetPixel(TruncPixel(d.X), dx), OffsetPixel(TruncPixel(d.Y), dy));
    return 0;
}

// ---- transforms -------------------------------------------------------------------

bool CPoints::Place(tagPOINTF p) {
    if (!Finite(p)) {
        return false;
    }
    pointf = p;
    InvalidateGeometry();
    return true;
}

int CPoints::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    if (!Place({pointf.x + dx, pointf.y + dy})) {
        return kRefused;
    }
    m_markCache.Clear();
    return 0;
}

int CPoints::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    // Each map is checked in double first, so that a transform whose result
    // would leave the float range is refused before it is computed.
    if (!geom::MapsFinite(AffineMap::Rotate(angle, centre), std::span<const tagPOINTF>(&pointf, 1)) ||
        !Place(PointfRotate(pointf, centre, angle))) {
        return kRefused;
    }
    return 0;
}

int CPoints::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    const AffineMap map = AffineMap::Zoom(sx, sy, fixed);
    if (!geom::MapsFinite(map, std::span<const tagPOINTF>(&pointf, 1)) ||
        !Place(PointfZoom(pointf, sx, sy, fixed))) {
        return kRefused;
    }
    return 0;
}

int CPoints::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    const AffineMap map = AffineMap::Slope(a, b, fixed);
    if (!geom::MapsFinite(map, std::span<const tagPOINTF>(&pointf, 1)) ||
        !Place(PointfSlope(pointf, a, b, fixed))) {
        return kRefused;
    }
    return 0;
}

int CPoints::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (mode < 1 || mode > 3) {
        return 0;
    }
    const AffineMap map = AffineMap::Mirror(mode, fixed);
    if (!geom::MapsFinite(map, std::span<const tagPOINTF>(&pointf, 1)) ||
        !Place(PointfMirror(pointf, fixed, mode))) {
        return kRefused;
    }
    return 0;
}

// ---- tests against points and rectangles --------------------------------------------

int CPoints::IsInRect(Gdiplus::RectF& rect) { return PtInRectFBorder(pointf.x, pointf.y, rect, false) ? 1 : 0; }

int CPoints::IsMe(tagPOINTF point) {
    return PointDistance(point.x, point.y, pointf.x, pointf.y) <= kHitPixels / ViewZoom() ? 1 : 0;
}

int CPoints::IsInClientRectF() {
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    return PtInRectFBorder(pointf.x, pointf.y, client, false) ? 1 : 0;
}

int CPoints::GetRectangle(Gdiplus::RectF& rect) {
    // A point set directly to something that is not finite has no place.
    rect = Finite(pointf) ? Gdiplus::RectF(pointf.x, pointf.y, kRectSide, kRectSide) : Gdiplus::RectF();
    return 0;
}

int CPoints::IsSelectedForRect(Gdiplus::RectF& rect) {
    // The band in millimetres as it is; a band drawn leftwards or downwards
    // covers the same area.
    const double x1 = rect.X;
    const double x2 = static_cast<double>(rect.X) + rect.Width;
    const double y1 = rect.Y;
    const double y2 = static_cast<double>(rect.Y) - rect.Height;
    const double x = pointf.x;
    const double y = pointf.y;
    return (x >= std::min(x1, x2) && x <= std::max(x1, x2) && y >= std::min(y1, y2) && y <= std::max(y1, y2)) ? 1
                                                                                                              : 0;
}

// ---- flattening and mark data ---------------------------------------------------------

int CPoints::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    if (Finite(pointf)) {
        points.push_back(pointf);
    }
    return 0;
}

int CPoints::GetFlattenPathFirstPoint(tagPOINTF& point) {
    point = pointf;
    return 0;
}

int CPoints::GetFlattenPathLastPoint(tagPOINTF& point) {
    point = pointf;
    return 0;
}

bool CPoints::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    if (BeginMarkData(out)) {
        return true;
    }
    MarkDataLock lock(this, &out);

    std::vector<tagPOINTF> points;
    GetFlattenPathPoints(points, kMarkTolerance);
    // One read from a file that is not a number is not marked.
    if (!points.empty() && Finite(points.front())) {
        tagPathData path;
        path.nPenIndex = GetPenIndex();
        path.arrPolylines.push_back(std::move(points));
        m_markCache.arrPaths.push_back(std::move(path));
    }
    out = m_markCache;
    return lock.Finish(true);
}
