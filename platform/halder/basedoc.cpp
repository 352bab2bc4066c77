#include "morvik/halder/basedoc.h"

#include <algorithm>
#include <atomic>
#include <cmath>

// ---- CBaseDoc ---------------------------------------------------------------

CBaseDoc::CBaseDoc() = default;

CBaseDoc::~CBaseDoc() {
    m_shapes.clear();
    // The owned shapes with the members of their containers (which do not
    // free them), each once: a member may be owned on its own as well, after
    // an ungroup. They go in reverse order of attachment, members before
    // their containers: later shapes may be copies that point at earlier ones.
    const std::vector<CBaseShape*> doomed = ShapesWithMembers(m_owned);
    m_owned.clear();
    m_ownedSet.clear();
    for (CBaseShape* shape : doomed) {
        shape->GetChildren().clear();
    }
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
        delete *it;
    }
}

void CBaseDoc::Own(CBaseShape* shape) {
    if (shape != nullptr && m_ownedSet.insert(shape).second) {
        m_owned.push_back(shape);
    }
}

void CBaseDoc::AddShape(CBaseShape* shape) {
    if (shape == nullptr) {
        return;
    }
    Own(shape);
    m_shapes.push_back(shape);
}

void CBaseDoc::AdoptShape(CBaseShape* shape) { Own(shape); }

CBaseShape* CBaseDoc::GetShapeByUUID(const GUID& id) {
    for (CBaseShape* s : m_shapes) {
        if (s != nullptr && s->GetBaseID() == id) {
            return s;
        }
    }
    return nullptr;
}

bool CBaseDoc::DeleteSelShapeByUUID(const GUID& id) {
    auto it = std::find_if(m_shapes.begin(), m_shapes.end(),
                           [&](CBaseShape* s) { return s != nullptr && s->GetBaseID() == id; });
    if (it == m_shapes.end()) {
        return false;
    }
    m_shapes.erase(it);
    return true;
}

void CBaseDoc::RestoreShapeList(const std::list<CBaseShape*>& list) {
    for (CBaseShape* s : list) {
        Own(s);
    }
    m_shapes = list;
}

void CBaseDoc::InvalidateRectF(const Gdiplus::RectF&) {}
void CBaseDoc::OnShapeListChanged() {}
void CBaseDoc::OnShapeParamChanged(CBaseShape*, int) {}
void CBaseDoc::OnShapeGeometryChanged(CBaseShape*) {}
void CBaseDoc::OnFillUndone(CBaseShape*) {}

void CBaseDoc::GetMirrorCenter(tagPOINTF& centre) {
    centre = {m_selectRect.X + m_selectRect.Width / 2, m_selectRect.Y - m_selectRect.Height / 2};
}

void CBaseDoc::GetSelectRect(Gdiplus::RectF& rect) { rect = m_selectRect; }
void CBaseDoc::SetSelectRect(Gdiplus::RectF rect) { m_selectRect = rect; }

// ---- CBaseView --------------------------------------------------------------

CBaseView::CBaseView(CBaseDoc* doc) : m_pDoc(doc) {}

void CBaseView::SetZoom(float zoom) {
    if (zoom > 0 && std::isfinite(zoom)) {
        m_fZoom = zoom;
    }
}

void CBaseView::SetClientSize(int width, int height) {
    m_nClientWidth = std::max(0, width);
    m_nClientHeight = std::max(0, height);
}

void CBaseView::LP2DP(float zoom, tagPOINTF p, Gdiplus::PointF& out, int) const {
    out.X = (p.x - m_origin.x) * zoom;
    out.Y = (m_origin.y - p.y) * zoom;
}

void CBaseView::LP2DP(tagPOINTF p, Gdiplus::PointF& out, int mode) const { LP2DP(m_fZoom, p, out, mode); }

void CBaseView::LP2DP(tagPOINTF p, CPoint& out, int mode) const {
    Gdiplus::PointF d;
    LP2DP(m_fZoom, p, d, mode);
    out.x = static_cast<LONG>(std::lround(d.X));
    out.y = static_cast<LONG>(std::lround(d.Y));
}

void CBaseView::DP2LP(Gdiplus::PointF p, tagPOINTF& out) const {
    out.x = m_origin.x + p.X / m_fZoom;
    out.y = m_origin.y - p.Y / m_fZoom;
}

void CBaseView::DP2LP(CPoint p, tagPOINTF& out) const {
    DP2LP(Gdiplus::PointF(static_cast<float>(p.x), static_cast<float>(p.y)), out);
}

void CBaseView::GetClientRectF(Gdiplus::RectF& rect) const {
    rect = Gdiplus::RectF(m_origin.x, m_origin.y, m_nClientWidth / m_fZoom, m_nClientHeight / m_fZoom);
}

void CBaseView::Invalidate(BOOL) { ++m_nInvalidated; }
void CBaseView::RedrawWindow() { ++m_nInvalidated; }

// ---- CCustWnd ---------------------------------------------------------------

void CCustWnd::LP2DP(tagPOINTF p, Gdiplus::PointF& out, int) const {
    out.X = (p.x - m_origin.x) * m_fZoom;
    out.Y = (m_origin.y - p.y) * m_fZoom;
}

// ---- CBaseFrame -------------------------------------------------------------

namespace {
std::atomic<CBaseFrame*> g_hostFrame{nullptr};

CBaseFrame& BuiltInFrame() {
    static CBaseFrame frame;
    return frame;
}
}  // namespace

CBaseFrame::CBaseFrame() {
    // A distinct, readable colour per pen: a fixed palette for the first pens,
    // then a spread of hues.
    static const COLORREF palette[] = {RGB(0, 0, 0),     RGB(0, 0, 255),   RGB(255, 0, 0),   RGB(0, 160, 0),
                                       RGB(255, 128, 0), RGB(160, 0, 160), RGB(0, 160, 160), RGB(128, 128, 0)};
    for (int i = 0; i < 256; ++i) {
        if (i < 8) {
            m_penColors[i] = palette[i];
        } else {
            int h = (i * 47) % 360;
            auto ch = [&](int off) {
                int d = std::abs(((h + off) % 360) - 180);
                return static_cast<BYTE>(std::clamp((d - 60) * 255 / 60, 0, 200));
            };
            m_penColors[i] = RGB(ch(0), ch(120), ch(240));
        }
    }
}

COLORREF CBaseFrame::GetPenColor(int pen) const {
    if (pen < 0 || pen > 255) {
        return RGB(0, 0, 0);
    }
    return m_penColors[pen];
}

void CBaseFrame::SetPenColor(int pen, COLORREF color) {
    if (pen >= 0 && pen <= 255) {
        m_penColors[pen] = color;
    }
}

BOOL CBaseFrame::RefreshPanels(BOOL) { return TRUE; }

CBaseFrame* CBaseFrame::GetMainFrame() {
    CBaseFrame* f = g_hostFrame.load();
    return f != nullptr ? f : &BuiltInFrame();
}

void CBaseFrame::SetMainFrame(CBaseFrame* frame) { g_hostFrame.store(frame); }

COLORREF CBaseFrame::GetPenColorOf(int pen) { return GetMainFrame()->GetPenColor(pen); }

void CBaseTool::CleanPickerState() {}

// ---- CDocParam --------------------------------------------------------------

void DOC_PARAM_ENTRY::AddAllProp(bool extended) {
    SriBase::AddAllProp(extended);
    AddProp("wstrText", &wstrText);
}

CDocParam::CDocParam() { m_nKind = SHAPE_DOCPARAM; }

void CDocParam::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("arrDocParam", &m_arrEntries);
}

void CDocParam::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    for (auto& e : m_arrEntries) {
        e.wstrText = static_cast<const wchar_t*>(e.strText);
    }
}

void CDocParam::RestoreAfterRead() {
    for (auto& e : m_arrEntries) {
        e.strText = e.wstrText.c_str();
    }
}
