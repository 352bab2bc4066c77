// Drawing of the text shape into device contexts, GDI+ graphics and preview
// windows, its transform previews, hit tests and rectangle.
#include <algorithm>
#include <cmath>
#include <memory>

#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/text/fonts.h"

namespace {

Gdiplus::Color Opaque(DWORD colour) { return Gdiplus::Color::FromCOLORREF(static_cast<COLORREF>(colour & 0xFFFFFF)); }

void Cross(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, Gdiplus::PointF p) {
    const INT x = static_cast<INT>(std::lround(p.X)), y = static_cast<INT>(std::lround(p.Y));
    g.DrawLine(&pen, x - 1, y - 1, x + 1, y + 1);
    g.DrawLine(&pen, x + 1, y - 1, x - 1, y + 1);
}

// Holds the text's layout event for one drawing.
class LayoutLock {
public:
    explicit LayoutLock(HANDLE h) : m_h(h) { WaitForSingleObject(m_h, INFINITE); }
    ~LayoutLock() { SetEvent(m_h); }
    LayoutLock(const LayoutLock&) = delete;
    LayoutLock& operator=(const LayoutLock&) = delete;

private:
    HANDLE m_h;
};

}  // namespace

int CFonts::GsDrawPath(Gdiplus::Graphics& g, Gdiplus::Pen& pen, Gdiplus::GraphicsPath& path) {
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    Gdiplus::PointF first, prev;
    int beziers = 0;
    for (size_t i = 0; i < pts.size() && i < types.size(); ++i) {
        const BYTE t = types[i];
        const Gdiplus::PointF p = pts[i];
        auto bezier = [&] {
            if (++beziers % 3 == 0 && i >= 3) g.DrawBezier(&pen, pts[i - 3], pts[i - 2], pts[i - 1], p);
        };
        switch (t) {
            case 0:
                first = p;
                beziers = 0;
                g.DrawLine(&pen, p, p);
                break;
            case 1: g.DrawLine(&pen, prev, p); break;
            case 3: bezier(); break;
            case 0x81:
            case 0xA1:
                g.DrawLine(&pen, prev, p);
                g.DrawLine(&pen, p, first);
                break;
            case 0x83:
            case 0xA3:
                bezier();
                g.DrawLine(&pen, p, first);
                break;
            default: break;
        }
        prev = p;
    }
    return 0;
}

// ---- drawing ---------------------------------------------------------------------------------

int CFonts::Draw(CDC* dc, int a, int b, int c, int) {
    if (dc == nullptr) return 0;
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintSingleBitPerPixel);
    return Draw(dc, &g, GetPenColor(-1), a, b, c, 0, 0.0f, 0.0f);
}

int CFonts::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int b, int c, float dx, float dy) {
    // A module code without its readable text laid out is laid out first,
    // before the drawing takes the layout event.
    // The text's event first, then its layout event: the order of every
    // path that takes both (building mark data lays a variable text out).
    const ShapeGuard guard(this);
    if (nFontType == FONT_TYPE_CODEBAR && parCodebar.bPointModule != 0 && parCodebar.bShowText != 0 && m_barcodeSize == 0)
        SetFontsHeld(m_strText, nFontType, m_strFontName, parFonts, parCodebar, parVarText, 0, 1, false, nullptr);
    LayoutLock lock(m_hLayoutEvent);
    if (bMatric != 0) return DrawMatriPt(dc, color, mode, dx, dy);
    if (nFontType == FONT_TYPE_CODEBAR && parCodebar.bPointModule != 0) return Draw2DMatric(dc, color, mode, dx, dy);
    if (m_pView == nullptr) return 0;
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        if (dc == nullptr) return 0;
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    const bool textFill = parCodebar.bTextFill != 0;
    if (bFilled != 0 || textFill) {
        for (CFilledShape* fill : m_arrFills) {
            if (fill == nullptr) continue;
            fill->SetDocView(m_pDoc, m_pView);
            fill->Draw(dc, g, color, arrow, mode, b, c, dx, dy);
        }
    }
    const bool outlineKept = (parFill.bOutLine & 1) != 0;
    const bool textOutlineKept = (parCodebar.parTextFill.bOutLine & 1) != 0;
    // Without fill shapes (single-line fonts make none) a filled text draws
    // its own strokes, as it marks them.
    const bool filled = bFilled != 0 && !m_arrFills.empty();
    if (!(!filled || outlineKept || (textFill && textOutlineKept))) return 0;
    Gdiplus::Pen barPen(Opaque(color), 0.0f);
    Gdiplus::Pen textPen(parCodebar.bShowText != 0 && nFontType == FONT_TYPE_CODEBAR ? Opaque(GetPenColor(parCodebar.nTextPen))
                                                                       : Opaque(color),
                         0.0f);
    if (arrow != 0) SetPenArrow(g, &barPen);
    const float zoom = m_pView->GetZoom();
    const size_t bars = static_cast<size_t>(std::max(0, m_barcodeSize));
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr || ch->points.empty()) continue;
        const size_t n = std::min(ch->points.size(), ch->types.size());
        std::vector<Gdiplus::PointF> dev(n);
        for (size_t i = 0; i < n; ++i) {
            m_pView->LP2DP(zoom, ch->points[i], dev[i], mode);
            dev[i].X += dx;
            dev[i].Y += dy;
        }
        const size_t split = std::min(bars, n);
        if (split > 0 && (!filled || outlineKept)) {
            Gdiplus::GraphicsPath path(dev.data(), ch->types.data(), static_cast<INT>(split));
            GsDrawPath(*g, barPen, path);
        }
        if (n > split && (!textFill || textOutlineKept)) {
            Gdiplus::GraphicsPath path(dev.data() + split, ch->types.data() + split, static_cast<INT>(n - split));
            GsDrawPath(*g, textPen, path);
        }
    }
    return 0;
}

int CFonts::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                           float dy) {
    if (g == nullptr) return 0;
    const ShapeGuard guard(this);
    LayoutLock lock(m_hLayoutEvent);
    Gdiplus::Pen pen(Opaque(color), 0.0f);
    if (arrow != 0) SetPenArrow(g, &pen);
    if (bMatric != 0) {
        for (FONTSCHAR* ch : m_arrChars)
            if (ch != nullptr)
                for (const tagPOINTF& p : ch->points) Cross(*g, pen, Gdiplus::PointF(p.x + dx, p.y + dy));
        return 0;
    }
    for (CFilledShape* fill : m_arrFills)
        if (fill != nullptr) fill->DrawToGraphics(g, pens, color, arrow, dx, dy);
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr || ch->points.empty()) continue;
        const size_t n = std::min(ch->points.size(), ch->types.size());
        std::vector<Gdiplus::PointF> pts(n);
        for (size_t i = 0; i < n; ++i) pts[i] = Gdiplus::PointF(ch->points[i].x + dx, ch->points[i].y + dy);
        Gdiplus::GraphicsPath path(pts.data(), ch->types.data(), static_cast<INT>(n));
        g->DrawPath(&pen, &path);
    }
    return 0;
}

int CFonts::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int, float dx, float dy) {
    if (wnd == nullptr || dc == nullptr) return 0;
    if (bMatric != 0) return DrawMatriPtWnd(wnd, dc, color, mode, dx, dy);
    if (nFontType == FONT_TYPE_CODEBAR && parCodebar.bPointModule != 0) return Draw2DMatricWnd(wnd, dc, color, mode, dx, dy);
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Opaque(color), 0.0f);
    for (FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr || ch->points.empty()) continue;
        const size_t n = std::min(ch->points.size(), ch->types.size());
        std::vector<Gdiplus::PointF> dev(n);
        for (size_t i = 0; i < n; ++i) {
            wnd->LP2DP(ch->points[i], dev[i], mode);
            dev[i].X += dx;
            dev[i].Y += dy;
        }
        Gdiplus::GraphicsPath path(dev.data(), ch->types.data(), static_cast<INT>(n));
        GsDrawPath(g, pen, path);
    }
    return 0;
}

namespace {

template <class F>
int DrawPreview(CDC* dc, CBaseView* view, DWORD color, std::vector<FONTSCHAR*>& chars, F transform) {
    if (dc == nullptr || view == nullptr) return 0;
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Opaque(color), 1.0f);
    const float zoom = view->GetZoom();
    for (FONTSCHAR* ch : chars) {
        if (ch == nullptr || ch->points.empty()) continue;
        const size_t n = std::min(ch->points.size(), ch->types.size());
        std::vector<Gdiplus::PointF> dev(n);
        for (size_t i = 0; i < n; ++i) view->LP2DP(zoom, transform(ch->points[i]), dev[i], 0);
        Gdiplus::GraphicsPath path(dev.data(), ch->types.data(), static_cast<INT>(n));
        g.DrawPath(&pen, &path);
    }
    return 0;
}

}  // namespace

int CFonts::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    return DrawPreview(dc, m_pView, color, m_arrChars, [&](tagPOINTF p) { return PointfSlope(p, a, b, base); });
}

int CFonts::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    if (bMatric != 0) return DrawReSizeMatric(dc, color, base, sx, sy);
    return DrawPreview(dc, m_pView, color, m_arrChars, [&](tagPOINTF p) { return PointfZoom(p, sx, sy, base); });
}

int CFonts::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    return DrawPreview(dc, m_pView, color, m_arrChars, [&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
}

namespace {

// Every dot of the characters as a cross at its device point.
template <class Convert>
int DrawDots(CDC* dc, DWORD color, std::vector<FONTSCHAR*>& chars, Convert convert) {
    if (dc == nullptr) return 1;
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Opaque(color), 0.0f);
    for (FONTSCHAR* ch : chars)
        if (ch != nullptr)
            for (const tagPOINTF& p : ch->points) Cross(g, pen, convert(p));
    return 1;
}

}  // namespace

int CFonts::DrawReSizeMatric(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    if (m_pView == nullptr) return 1;
    const float zoom = m_pView->GetZoom();
    return DrawDots(dc, color, m_arrChars, [&](tagPOINTF p) {
        Gdiplus::PointF d;
        m_pView->LP2DP(zoom, PointfZoom(p, sx, sy, base), d, 0);
        return d;
    });
}

int CFonts::DrawMatriPt(CDC* dc, DWORD color, int mode, float dx, float dy) {
    if (m_pView == nullptr) return 1;
    const float zoom = m_pView->GetZoom();
    return DrawDots(dc, color, m_arrChars, [&](tagPOINTF p) {
        Gdiplus::PointF d;
        m_pView->LP2DP(zoom, p, d, mode);
        return Gdiplus::PointF(d.X + dx, d.Y + dy);
    });
}

int CFonts::DrawMatriPtWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, float dx, float dy) {
    if (wnd == nullptr) return 1;
    return DrawDots(dc, color, m_arrChars, [&](tagPOINTF p) {
        Gdiplus::PointF d;
        wnd->LP2DP(p, d, mode);
        return Gdiplus::PointF(d.X + dx, d.Y + dy);
    });
}

namespace {

// The module centres as crosses and the readable text as outlines.
template <class Convert>
int DrawModules(CDC* dc, Gdiplus::Color colour, std::vector<FONTSCHAR*>& chars, size_t bars, bool showText, float dx,
                float dy, Convert convert) {
    if (dc == nullptr) return 0;
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(colour, 0.0f);
    const float ox = std::round(dx), oy = std::round(dy);
    for (FONTSCHAR* ch : chars) {
        if (ch == nullptr) continue;
        std::vector<Gdiplus::PointF> rest;
        std::vector<BYTE> types;
        for (size_t i = 0; i < ch->points.size(); ++i) {
            Gdiplus::PointF d = convert(ch->points[i]);
            d.X += ox;
            d.Y += oy;
            if (i < bars || !showText) {
                Cross(g, pen, d);
            } else if (i < ch->types.size()) {
                rest.push_back(d);
                types.push_back(ch->types[i]);
            }
        }
        if (!rest.empty()) {
            Gdiplus::GraphicsPath path(rest.data(), types.data(), static_cast<INT>(rest.size()));
            CFonts::GsDrawPath(g, pen, path);
        }
    }
    return 0;
}

}  // namespace

int CFonts::Draw2DMatric(CDC* dc, DWORD, int mode, float dx, float dy) {
    if (m_pView == nullptr) return 0;
    const Gdiplus::Color colour = IsSelected() != 0 ? Gdiplus::Color(255, 255, 100, 20) : Opaque(GetPenColor(-1));
    const float zoom = m_pView->GetZoom();
    return DrawModules(dc, colour, m_arrChars, static_cast<size_t>(std::max(0, m_barcodeSize)), parCodebar.bShowText != 0,
                       dx, dy, [&](tagPOINTF p) {
                           Gdiplus::PointF d;
                           m_pView->LP2DP(zoom, p, d, mode);
                           return d;
                       });
}

int CFonts::Draw2DMatricWnd(CCustWnd* wnd, CDC* dc, DWORD, int mode, float dx, float dy) {
    if (wnd == nullptr) return 0;
    const Gdiplus::Color colour = IsSelected() != 0 ? Gdiplus::Color(255, 255, 100, 20) : Opaque(GetPenColor(-1));
    return DrawModules(dc, colour, m_arrChars, static_cast<size_t>(std::max(0, m_barcodeSize)), parCodebar.bShowText != 0,
                       dx, dy, [&](tagPOINTF p) {
                           Gdiplus::PointF d;
                           wnd->LP2DP(p, d, mode);
                           return d;
                       });
}

int CFonts::GetMatricPoints(std::vector<tagPOINTF>& points) {
    for (FONTSCHAR* ch : m_arrChars)
        if (ch != nullptr) points.insert(points.end(), ch->points.begin(), ch->points.end());
    return 1;
}

// ---- hit tests and rectangle -------------------------------------------------------------------

int CFonts::IsMe(tagPOINTF point) {
    Gdiplus::GraphicsPath all;
    for (FONTSCHAR* ch : m_arrChars) {
        Gdiplus::GraphicsPath one;
        if (CharPath(ch, 0, ch != nullptr ? ch->points.size() : 0, one)) all.AddPath(&one, FALSE);
    }
    return all.IsOutlineVisible(point.x, point.y, 0.1f) ? 1 : 0;
}

int CFonts::MatriInRect(Gdiplus::RectF& rect) {
    for (FONTSCHAR* ch : m_arrChars)
        if (ch != nullptr)
            for (const tagPOINTF& p : ch->points)
                if (!PtInRectFBorder(p.x, p.y, rect, true)) return 0;
    return 1;
}

int CFonts::IsInRect(Gdiplus::RectF& rect) {
    if (bMatric != 0 || (nFontType == FONT_TYPE_CODEBAR && parCodebar.bPointModule != 0)) return MatriInRect(rect);
    Gdiplus::GraphicsPath all;
    for (FONTSCHAR* ch : m_arrChars) {
        Gdiplus::GraphicsPath one;
        if (CharPath(ch, 0, ch != nullptr ? ch->points.size() : 0, one)) all.AddPath(&one, FALSE);
    }
    if (all.GetPointCount() == 0) return 0;
    Gdiplus::RectF b;
    all.GetBounds(&b);
    const float top = b.Y + b.Height;
    return PtInRectFBorder(b.X, top, rect, true) && PtInRectFBorder(b.X + b.Width, top - b.Height, rect, true) ? 1 : 0;
}

int CFonts::IsInClientRectF() {
    if (m_pView == nullptr) return 1;
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    Gdiplus::RectF mine;
    GetRectangle(mine);
    const bool inside = PtInRectFBorder(mine.X, mine.Y, client, true) &&
                        PtInRectFBorder(mine.X + mine.Width, mine.Y - mine.Height, client, true);
    return inside || RectsIntersect(mine, client) ? 1 : 0;
}

int CFonts::GetRectangle(Gdiplus::RectF& rect) {
    rect = Gdiplus::RectF();
    bool have = false;
    bool any = false;
    for (FONTSCHAR* ch : m_arrChars)
        if (ch != nullptr && !ch->points.empty()) any = true;
    if (any) {
        for (FONTSCHAR* ch : m_arrChars) {
            if (ch == nullptr) continue;
            Gdiplus::RectF r;
            if (!ch->points.empty()) {
                r = CalculateRectangle(ch->points);
            } else if (m_arrFrame.size() > 4) {
                r = CalculateRectangle(m_arrFrame);
            }
            shape_container::UniteRect(rect, have, r);
        }
    }
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}
