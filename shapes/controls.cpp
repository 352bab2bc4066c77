#include "morvik/shapes/controls.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "morvik/afx/cgeom.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"

IMPLEMENT_SERIAL(CDelayedTimer, CBaseShape, 3)
IMPLEMENT_SERIAL(CEncoderDistance, CBaseShape, 2)
IMPLEMENT_SERIAL(CExeAxi, CBaseShape, 1)
IMPLEMENT_SERIAL(CInput, CBaseShape, 2)
IMPLEMENT_SERIAL(COutput, CBaseShape, 2)

namespace {

// Picking distances in device pixels.
constexpr double kPickSmall = 2.5;
constexpr double kPickLarge = 3.5;

constexpr float kHalfIcon = kCtrlIconSide / 2.0f;

// Rounds to the nearest integer, clamped to the 32-bit range (0 for NaN),
// so a hostile coordinate can never overflow a conversion.
LONG SafeRound(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<LONG>(std::lround(v));
}

// The whole part of a value, clamped the same way.
int SafeTrunc(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int>(v);
}

// ---- icons ------------------------------------------------------------------

// Draws strokes given in a 32 x 32 design grid into the icon box.
class GlyphPainter {
public:
    GlyphPainter(Gdiplus::Graphics& g, float left, float top)
        : m_g(g),
          m_left(left),
          m_top(top),
          m_pen(Gdiplus::Color(255, 0, 0, 0), 2.0f * kScale),
          m_brush(Gdiplus::Color(255, 0, 0, 0)) {}

    void Line(float u1, float v1, float u2, float v2) { m_g.DrawLine(&m_pen, P(u1, v1), P(u2, v2)); }
    void Rect(float u, float v, float w, float h) { m_g.DrawRectangle(&m_pen, Box(u, v, w, h)); }
    void Ellipse(float u, float v, float w, float h) { m_g.DrawEllipse(&m_pen, Box(u, v, w, h)); }
    // A filled arrow head with its tip at (u, v), pointing along (du, dv).
    void Head(float u, float v, float du, float dv) {
        const float len = std::sqrt(du * du + dv * dv);
        if (len <= 0.0f) {
            return;
        }
        du /= len;
        dv /= len;
        const float back = 6.0f;
        const float side = 4.0f;
        const Gdiplus::PointF pts[3] = {P(u, v), P(u - back * du - side * dv, v - back * dv + side * du),
                                        P(u - back * du + side * dv, v - back * dv - side * du)};
        m_g.FillPolygon(&m_brush, pts, 3);
    }

private:
    static constexpr float kScale = kCtrlIconSide / 32.0f;

    Gdiplus::PointF P(float u, float v) const { return Gdiplus::PointF(m_left + u * kScale, m_top + v * kScale); }
    Gdiplus::RectF Box(float u, float v, float w, float h) const {
        return Gdiplus::RectF(m_left + u * kScale, m_top + v * kScale, w * kScale, h * kScale);
    }

    Gdiplus::Graphics& m_g;
    float m_left;
    float m_top;
    Gdiplus::Pen m_pen;
    Gdiplus::SolidBrush m_brush;
};

void DrawClock(GlyphPainter& p) {
    p.Ellipse(2, 2, 28, 28);
    p.Line(16, 3, 16, 7);
    p.Line(29, 16, 25, 16);
    p.Line(16, 29, 16, 25);
    p.Line(3, 16, 7, 16);
    p.Line(16, 16, 16, 8);
    p.Line(16, 16, 22, 20);
}

// A wheel over a measuring arrow.
void DrawEncoder(GlyphPainter& p) {
    p.Ellipse(8, 1, 16, 16);
    p.Ellipse(14, 7, 4, 4);
    p.Line(16, 2, 16, 7);
    p.Line(16, 11, 16, 16);
    p.Line(9, 9, 14, 9);
    p.Line(18, 9, 23, 9);
    p.Line(3, 25, 29, 25);
    p.Head(2, 25, -1, 0);
    p.Head(30, 25, 1, 0);
    p.Line(16, 21, 16, 29);
}

// A carriage on a rail with its direction of travel.
void DrawAxis(GlyphPainter& p) {
    p.Rect(2, 22, 28, 6);
    p.Rect(10, 13, 12, 9);
    p.Line(4, 6, 28, 6);
    p.Head(2, 6, -1, 0);
    p.Head(30, 6, 1, 0);
}

// An arrow going into a port.
void DrawInput(GlyphPainter& p) {
    p.Rect(18, 4, 12, 24);
    p.Line(24, 10, 24, 22);
    p.Line(2, 16, 12, 16);
    p.Head(17, 16, 1, 0);
}

// An arrow coming out of a port.
void DrawOutput(GlyphPainter& p) {
    p.Rect(2, 4, 12, 24);
    p.Ellipse(5, 11, 6, 10);
    p.Line(14, 16, 25, 16);
    p.Head(30, 16, 1, 0);
}

void DrawUnknown(GlyphPainter& p) {
    p.Rect(1, 1, 30, 30);
    p.Line(1, 1, 31, 31);
    p.Line(31, 1, 1, 31);
}

}  // namespace

void DrawCtrlIcon(Gdiplus::Graphics& g, UINT iconId, float left, float top) {
    GlyphPainter p(g, left, top);
    switch (iconId) {
        case IDI_CTRL_DELAYEDTIMER:
            DrawClock(p);
            break;
        case IDI_CTRL_ENCODERDISTANCE:
            DrawEncoder(p);
            break;
        case IDI_CTRL_EXEAXI:
            DrawAxis(p);
            break;
        case IDI_CTRL_INPUT:
            DrawInput(p);
            break;
        case IDI_CTRL_OUTPUT:
            DrawOutput(p);
            break;
        default:
            DrawUnknown(p);
            break;
    }
}

// ---- the shared behaviour ----------------------------------------------------

CControlShape::CControlShape(UINT iconId, double pickRadius) : m_nIconID(iconId), m_dPickRadius(pickRadius) {}

CCtrlObjHostFrame* CControlShape::GetHostFrame() {
    return dynamic_cast<CCtrlObjHostFrame*>(CBaseFrame::GetMainFrame());
}

int CControlShape::IsCtrlObjEnabled() const {
    CCtrlObjHostFrame* frame = GetHostFrame();
    if (frame == nullptr) {
        return 1;
    }
    const tagCtrlObjSetting* setting = frame->GetCtrlObjSetting();
    return (setting == nullptr || setting->nCtrlObjSwitch != 0) ? 1 : 0;
}

float CControlShape::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) {
            return zoom;
        }
    }
    return 1.0f;
}

CPoint CControlShape::AnchorToDevice(tagPOINTF p, int mode) const {
    if (m_pView != nullptr) {
        Gdiplus::PointF d;
        m_pView->LP2DP(m_pView->GetZoom(), p, d, mode);
        return CPoint(SafeRound(d.X), SafeRound(d.Y));
    }
    return CPoint(SafeRound(p.x), SafeRound(-static_cast<double>(p.y)));
}

Gdiplus::RectF CControlShape::DeviceIconBox(tagPOINTF p, int mode) const {
    const CPoint c = AnchorToDevice(p, mode);
    // In float: an anchor at the edge of the integer range must not overflow.
    return Gdiplus::RectF(static_cast<float>(c.x) - kHalfIcon, static_cast<float>(c.y) - kHalfIcon,
                          static_cast<float>(kCtrlIconSide), static_cast<float>(kCtrlIconSide));
}

int CControlShape::DrawIconAt(CDC* dc, tagPOINTF p) {
    if (dc == nullptr) {
        return 0;
    }
    const ShapeGuard guard(this);
    Gdiplus::Graphics g(dc);
    const Gdiplus::RectF box = DeviceIconBox(p, 0);
    DrawCtrlIcon(g, m_nIconID, box.X, box.Y);
    return 0;
}

// The anchor as it stands, read under the event: a host's editing thread
// may move it while another thread previews or marks.
tagPOINTF CControlShape::HeldAnchor() {
    const ShapeGuard guard(this);
    return pointf;
}

int CControlShape::PreviewSlope(CDC* dc, tagPOINTF base, double a, double b) {
    return DrawIconAt(dc, PointfSlope(HeldAnchor(), a, b, base));
}

int CControlShape::PreviewReSize(CDC* dc, tagPOINTF base, double sx, double sy) {
    return DrawIconAt(dc, PointfZoom(HeldAnchor(), sx, sy, base));
}

int CControlShape::PreviewRotate(CDC* dc, double angle, tagPOINTF centre) {
    return DrawIconAt(dc, PointfRotate(HeldAnchor(), centre, angle));
}

int CControlShape::Draw(CDC* dc, int arrow, int mode, int a, int b) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, a, b, 0.0f, 0.0f);
}

int CControlShape::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD, int, int mode, int, int, float, float) {
    if (!IsCtrlObjEnabled() || (g == nullptr && dc == nullptr)) {
        return 0;
    }
    const ShapeGuard guard(this);
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    const Gdiplus::RectF box = DeviceIconBox(pointf, mode);
    DrawCtrlIcon(*g, m_nIconID, box.X, box.Y);
    return 0;
}

int CControlShape::Move(float dx, float dy) {
    if (!IsCtrlObjEnabled()) {
        return 0;
    }
    const ShapeGuard guard(this);
    // An anchor that is not finite cannot be drawn, picked or saved sanely.
    const tagPOINTF moved{pointf.x + dx, pointf.y + dy};
    if (!geom::Finite(moved)) {
        return kRefused;
    }
    pointf = moved;
    InvalidateGeometry();
    return 0;
}

int CControlShape::Mirror(tagPOINTF fixed, int mode) {
    if (!IsCtrlObjEnabled() || mode < 1 || mode > 3) {
        return 0;
    }
    const ShapeGuard guard(this);
    const tagPOINTF mirrored = PointfMirror(pointf, fixed, mode);
    if (!geom::Finite(mirrored)) {
        return kRefused;
    }
    pointf = mirrored;
    InvalidateGeometry();
    return 0;
}

int CControlShape::Zoom(tagPOINTF fixed, double sx, double sy) {
    // The anchor stays; the zoom state the base keeps changes under the event.
    const ShapeGuard guard(this);
    return CBaseShape::Zoom(fixed, sx, sy);
}

int CControlShape::IsInRect(Gdiplus::RectF& rect) {
    if (!IsCtrlObjEnabled()) {
        return 0;
    }
    return PtInRectFBorder(pointf.x, pointf.y, rect, false) ? 1 : 0;
}

int CControlShape::IsMe(tagPOINTF point) {
    if (!IsCtrlObjEnabled()) {
        return 0;
    }
    return PointDistance(point.x, point.y, pointf.x, pointf.y) <= m_dPickRadius / ViewZoom() ? 1 : 0;
}

int CControlShape::IsInClientRectF() {
    if (!IsCtrlObjEnabled()) {
        return 0;
    }
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    return PtInRectFBorder(pointf.x, pointf.y, client, false) ? 1 : 0;
}

int CControlShape::GetRectangle(Gdiplus::RectF& rect) {
    float zoom = 0.0f;
    if (m_pView != nullptr) {
        zoom = m_pView->GetZoom();
    } else if (CCtrlObjHostFrame* frame = GetHostFrame()) {
        zoom = frame->GetActiveZoom();
    }
    // Without any zoom (or with one that cannot scale) the box is a point.
    const float half = (std::isfinite(zoom) && zoom > 0.0f) ? 1.0f / zoom + 0.5f : 0.0f;
    rect = Gdiplus::RectF(pointf.x - half, pointf.y + half, 2.0f * half, 2.0f * half);
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

int CControlShape::GetFlattenPathPoints(std::vector<tagPOINTF>&, float) { return 0; }

int CControlShape::GetFlattenPathFirstPoint(tagPOINTF& point) {
    point = pointf;
    return 0;
}

int CControlShape::GetFlattenPathLastPoint(tagPOINTF& point) {
    point = pointf;
    return 0;
}

int CControlShape::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (!IsCtrlObjEnabled()) {
        return 0;
    }
    const Gdiplus::RectF box = DeviceIconBox(pointf, 0);
    const Gdiplus::PointF corner1(box.X, box.Y);
    const Gdiplus::PointF corner2(box.X + box.Width, box.Y + box.Height);
    tagPOINTF a;
    tagPOINTF b;
    if (m_pView != nullptr) {
        m_pView->DP2LP(corner1, a);
        m_pView->DP2LP(corner2, b);
    } else {
        a = {corner1.X, -corner1.Y};
        b = {corner2.X, -corner2.Y};
    }
    Gdiplus::RectF logical;
    NormalizeRectF(logical, a, b);
    return RectsDisjoint(logical, rect) ? 0 : 1;
}

// ---- CDelayedTimer -------------------------------------------------------------

namespace {

CString TimerCaption(const CString& typeName, int number, unsigned int time) {
    CString caption;
    caption.Format(L"%s%d - %d ms", typeName.GetString(), number, static_cast<int>(time));
    return caption;
}

CString EncoderCaption(const CString& typeName, int number, float distance) {
    CString caption;
    caption.Format(L"%s%d - %d mm", typeName.GetString(), number, SafeTrunc(distance));
    return caption;
}

CString AxisCaption(const CString& typeName, int number, int axis) {
    CString caption;
    caption.Format(L"%s%d - %d", typeName.GetString(), number, axis);
    return caption;
}

}  // namespace

CDelayedTimer::CDelayedTimer() : CControlShape(IDI_CTRL_DELAYEDTIMER, kPickSmall) {
    InitShape(SHAPE_DELAYEDTIMER, "IDS_TYPENAME_DELAYEDTIMER", ShapeCounterOf(SHAPE_DELAYEDTIMER));
    SetCaption(TimerCaption(m_strTypeName, m_nCountNum, nTime));
}

int CDelayedTimer::InitDelayTimer(tagPOINTF p) {
    if (!geom::Finite(p)) {
        return -1;
    }
    const ShapeGuard guard(this);
    pointf = p;
    InvalidateGeometry();
    return 0;
}

void CDelayedTimer::SetParam(int t) {
    // A negative delay cannot be waited; stored unsigned it would become a
    // wait of about 50 days. It is refused and the timer stays as it was.
    if (t < 0) {
        return;
    }
    const ShapeGuard guard(this);
    nTime = static_cast<unsigned int>(t);
    CString caption;
    caption.Format(L"%d ms", t);
    SetCaption(caption);
    InvalidateGeometry();
}

int CDelayedTimer::IsCtrlObjEnabled() const {
    CCtrlObjHostFrame* frame = GetHostFrame();
    const tagCtrlObjSetting* setting = frame != nullptr ? frame->GetCtrlObjSetting() : nullptr;
    return (setting != nullptr && setting->nCtrlObjSwitch != 0) ? 1 : 0;
}

void CDelayedTimer::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("Pointf", &pointf);
    AddProp("nTime", &nTime);
}

CBaseShape* CDelayedTimer::Clone() {
    auto* copy = new CDelayedTimer();
    copy->InitDelayTimer(pointf);
    copy->nTime = nTime;
    copy->SetVisible(IsVisible());
    // The clone keeps its own number, but its caption tells its own delay.
    copy->SetCaption(TimerCaption(copy->m_strTypeName, copy->m_nCountNum, copy->nTime));
    copy->KeepMarkingOf(*this);
    return copy;
}

int CDelayedTimer::DrawSlope(CDC* dc, DWORD, tagPOINTF base, double a, double b) {
    return PreviewSlope(dc, base, a, b);
}

int CDelayedTimer::DrawReSize(CDC* dc, DWORD, tagPOINTF base, double sx, double sy) {
    return PreviewReSize(dc, base, sx, sy);
}

int CDelayedTimer::DrawRotate(CDC* dc, DWORD, double angle, tagPOINTF centre) {
    return PreviewRotate(dc, angle, centre);
}

// The caption's saved copy follows SetCaption already.
void CDelayedTimer::UpdatePropsValue() {}

// ---- CEncoderDistance ------------------------------------------------------------

CEncoderDistance::CEncoderDistance() : CControlShape(IDI_CTRL_ENCODERDISTANCE, kPickSmall) {
    InitShape(SHAPE_ENCODERDISTANCE, "IDC_STATIC_MVDST", ShapeCounterOf(SHAPE_ENCODERDISTANCE));
    SetCaption(EncoderCaption(m_strTypeName, m_nCountNum, fDistance));
}

int CEncoderDistance::InitDelayTimer(tagPOINTF p) {
    if (!geom::Finite(p)) {
        return -1;
    }
    const ShapeGuard guard(this);
    pointf = p;
    InvalidateGeometry();
    return 0;
}

void CEncoderDistance::SetParam(float d) {
    // A distance that is not a number or infinite cannot be travelled:
    // refused, the object stays as it was. A negative one is the host's to
    // read (a direction, a backward count).
    if (!std::isfinite(d)) {
        return;
    }
    const ShapeGuard guard(this);
    fDistance = d;
    CString caption;
    caption.Format(L"%.3fm", static_cast<double>(d) / 1000.0);
    SetCaption(caption);
    InvalidateGeometry();
}

int CEncoderDistance::DrawWnd(CWnd*, CDC* dc, DWORD, int, int, float dx, float dy) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    DrawCtrlIcon(g, m_nIconID, static_cast<float>(SafeRound(dx)) - kHalfIcon,
                 static_cast<float>(SafeRound(dy)) - kHalfIcon);
    return 0;
}

void CEncoderDistance::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("pointf", &pointf);
    AddProp("fDistance", &fDistance);
}

CBaseShape* CEncoderDistance::Clone() {
    auto* copy = new CEncoderDistance();
    copy->InitDelayTimer(pointf);
    copy->fDistance = fDistance;
    copy->SetVisible(IsVisible());
    copy->SetCaption(EncoderCaption(copy->m_strTypeName, copy->m_nCountNum, copy->fDistance));
    copy->KeepMarkingOf(*this);
    return copy;
}

int CEncoderDistance::DrawSlope(CDC* dc, DWORD, tagPOINTF base, double a, double b) {
    return PreviewSlope(dc, base, a, b);
}

int CEncoderDistance::DrawReSize(CDC* dc, DWORD, tagPOINTF base, double sx, double sy) {
    return PreviewReSize(dc, base, sx, sy);
}

int CEncoderDistance::DrawRotate(CDC* dc, DWORD, double angle, tagPOINTF centre) {
    return PreviewRotate(dc, angle, centre);
}

// ---- CExeAxi -------------------------------------------------------------------

CExeAxi::CExeAxi() : CControlShape(IDI_CTRL_EXEAXI, kPickSmall) {
    InitShape(SHAPE_EXEAXI, "ID_DRAW_EXTAXI", ShapeCounterOf(SHAPE_EXEAXI));
    SetCaption(AxisCaption(m_strTypeName, m_nCountNum, m_cfg.iUAxiID));
}

int CExeAxi::InitExeAxiPoint(tagPOINTF p) {
    if (!geom::Finite(p)) {
        return -1;
    }
    const ShapeGuard guard(this);
    pointf = p;
    InvalidateGeometry();
    return 0;
}

CCfgAxit CExeAxi::GetCfgAxi() const {
    const ShapeGuard guard(const_cast<CExeAxi*>(this));
    return m_cfg;
}

void CExeAxi::SetCfgAxi(const CCfgAxit& cfg) {
    // An axis cannot move by a distance that is not finite: such a
    // configuration is refused whole. What the numbers mean, a negative
    // axis number included, is the host's.
    if (!std::isfinite(cfg.fMvDist)) {
        return;
    }
    const ShapeGuard guard(this);
    m_cfg = cfg;
    InvalidateGeometry();
}

void CExeAxi::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("iUAxiID", &m_cfg.iUAxiID);
    AddProp("iRelPos", &m_cfg.iRelPos);
    AddProp("fMvDist", &m_cfg.fMvDist);
    AddProp("iUnit", &m_cfg.iUnit);
    AddProp("bBackToZero", &m_cfg.bBackToZero);
    AddProp("pointf", &pointf);
}

CBaseShape* CExeAxi::Clone() {
    auto* copy = new CExeAxi();
    copy->InitExeAxiPoint(pointf);
    copy->m_cfg = m_cfg;
    copy->SetVisible(IsVisible());
    copy->SetCaption(AxisCaption(copy->m_strTypeName, copy->m_nCountNum, copy->m_cfg.iUAxiID));
    copy->KeepMarkingOf(*this);
    return copy;
}

int CExeAxi::DrawWnd(CCustWnd*, CDC*, DWORD, int, int, float, float) { return 0; }

// The axis keeps the base behaviour here: mirroring leaves its anchor, and
// the switch does not govern it.
int CExeAxi::Mirror(tagPOINTF fixed, int mode) { return CBaseShape::Mirror(fixed, mode); }

int CExeAxi::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    return CBaseShape::GetFlattenPathPoints(points, tolerance);
}

int CExeAxi::GetFlattenPathFirstPoint(tagPOINTF& point) { return CBaseShape::GetFlattenPathFirstPoint(point); }

int CExeAxi::GetFlattenPathLastPoint(tagPOINTF& point) { return CBaseShape::GetFlattenPathLastPoint(point); }

void CExeAxi::UpdatePropsValue() {}

// ---- CInput --------------------------------------------------------------------

CInput::CInput() : CControlShape(IDI_CTRL_INPUT, kPickLarge), strTip(L"Wait IO input"), m_wstrTip(L"Wait IO input") {
    for (int& state : iPortState) {
        state = 2;
    }
    InitShape(SHAPE_INPUT, "IDS_TYPENAME_INPUT", ShapeCounterOf(SHAPE_INPUT));
}

int CInput::InitInput(tagPOINTF p) {
    if (!geom::Finite(p)) {
        return -1;
    }
    const ShapeGuard guard(this);
    pointf = p;
    InvalidateGeometry();
    return 0;
}

int CInput::SetPortState(const int states[kPortCount]) {
    if (states == nullptr) {
        return 1;
    }
    // Only the first four ports are checked; the others are the host's.
    for (int i = 0; i < 4; ++i) {
        if (states[i] < 0 || states[i] > 2) {
            return 1;
        }
    }
    const ShapeGuard guard(this);
    for (int i = 0; i < kPortCount; ++i) {
        iPortState[i] = states[i];
    }
    InvalidateGeometry();
    return 0;
}

int CInput::GetPortState(int states[kPortCount]) const {
    if (states == nullptr) {
        return 1;
    }
    const ShapeGuard guard(const_cast<CInput*>(this));
    for (int i = 0; i < kPortCount; ++i) {
        states[i] = iPortState[i];
    }
    return 0;
}

int CInput::SetTipInfo(const CString& tip, bool enable) {
    if (tip.IsEmpty()) {
        return 1;
    }
    const ShapeGuard guard(this);
    strTip = tip;
    // Kept in step so a save without UpdatePropsValue still carries the tip.
    m_wstrTip = tip.GetString();
    bEnaleTip = enable;
    InvalidateGeometry();
    return 0;
}

int CInput::GetTipInfo(CString& tip, bool& enable) const {
    const ShapeGuard guard(const_cast<CInput*>(this));
    tip = strTip;
    enable = bEnaleTip;
    return 0;
}

void CInput::RestoreAfterRead() {
    const ShapeGuard guard(this);
    strTip = CString(m_wstrTip);
}

int CInput::DrawWnd(CWnd*, CDC*, DWORD, int, int, float, float) { return 0; }

void CInput::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("pointf", &pointf);
    for (int i = 0; i < kPortCount; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "iPort%dState", i);
        AddProp(key, &iPortState[i]);
    }
    AddProp("strTip", &m_wstrTip);
    AddProp("bEnaleTip", &bEnaleTip);
}

CBaseShape* CInput::Clone() {
    auto* copy = new CInput();
    copy->InitInput(pointf);
    for (int i = 0; i < kPortCount; ++i) {
        copy->iPortState[i] = iPortState[i];
    }
    copy->strTip = strTip;
    copy->m_wstrTip = strTip.GetString();
    copy->bEnaleTip = bEnaleTip;
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

int CInput::DrawSlope(CDC* dc, DWORD, tagPOINTF base, double a, double b) { return PreviewSlope(dc, base, a, b); }

int CInput::DrawReSize(CDC* dc, DWORD, tagPOINTF base, double sx, double sy) {
    return PreviewReSize(dc, base, sx, sy);
}

int CInput::DrawRotate(CDC* dc, DWORD, double angle, tagPOINTF centre) { return PreviewRotate(dc, angle, centre); }

void CInput::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    const ShapeGuard guard(this);
    m_wstrTip = strTip.GetString();
}

// ---- COutput -------------------------------------------------------------------

COutput::COutput() : CControlShape(IDI_CTRL_OUTPUT, kPickLarge) {
    InitShape(SHAPE_OUTPUT, "IDS_TYPENAME_OUTPUT", ShapeCounterOf(SHAPE_OUTPUT));
}

int COutput::InitOutput(tagPOINTF p) {
    if (!geom::Finite(p)) {
        return -1;
    }
    const ShapeGuard guard(this);
    pointf = p;
    InvalidateGeometry();
    return 0;
}

int COutput::SetProperties(int port, int signal, int signalWidth, int pulse, int pulseWidth) {
    // Port -1 stands for no port; every value's meaning, a negative one
    // included, is the host's marking sequence's, so all are kept.
    const ShapeGuard guard(this);
    iOutPortNo = port;
    iSignal = signal;
    iSignalWidth = signalWidth;
    iPulse = pulse;
    iPulseWidth = pulseWidth;
    CString caption;
    if (port != -1) {
        caption.Format(L"%s%d(%d)", m_strTypeName.GetString(), m_nCountNum, port);
    } else {
        caption.Format(L"%s%d", m_strTypeName.GetString(), m_nCountNum);
    }
    SetCaption(caption);
    InvalidateGeometry();
    return 0;
}

int COutput::GetProperties(int& port, int& signal, int& signalWidth, int& pulse, int& pulseWidth) const {
    const ShapeGuard guard(const_cast<COutput*>(this));
    port = iOutPortNo;
    signal = iSignal;
    signalWidth = iSignalWidth;
    pulse = iPulse;
    pulseWidth = iPulseWidth;
    return 0;
}

int COutput::DrawWnd(CWnd*, CDC* dc, DWORD, int, int, float, float) { return DrawIconAt(dc, HeldAnchor()); }

void COutput::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("pointf", &pointf);
    AddProp("iOutPortNo", &iOutPortNo);
    AddProp("iSignal", &iSignal);
    AddProp("iPulse", &iPulse);
    AddProp("iPulseWidth", &iPulseWidth);
    AddProp("iSignalWidth", &iSignalWidth);
}

CBaseShape* COutput::Clone() {
    auto* copy = new COutput();
    copy->InitOutput(pointf);
    // Captions the copy with its own number and the port, as the others do;
    // the fields are copied as they are, whatever a file brought in.
    copy->SetProperties(iOutPortNo < -1 ? -1 : iOutPortNo, 0, 0, 0, 0);
    static_cast<OutputFields&>(*copy) = *this;
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

int COutput::DrawSlope(CDC* dc, DWORD, tagPOINTF base, double a, double b) { return PreviewSlope(dc, base, a, b); }

int COutput::DrawReSize(CDC* dc, DWORD, tagPOINTF base, double sx, double sy) {
    return PreviewReSize(dc, base, sx, sy);
}

int COutput::DrawRotate(CDC* dc, DWORD, double angle, tagPOINTF centre) { return PreviewRotate(dc, angle, centre); }

void COutput::UpdatePropsValue() {}
