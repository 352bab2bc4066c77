#include "morvik/gdi/dc.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/graphicspath.h"

namespace {

// Handles are numbers that are never reused, so a stale handle never names
// a newer object.
std::atomic<uintptr_t> g_nextHandle{0x1000};
std::atomic<uint64_t> g_nextSerial{1};

uintptr_t NextHandleValue() { return g_nextHandle.fetch_add(1); }

// The GDI objects alive now, with the serial each was born with: a device
// context hands back a previously selected object only while it lives.
struct ObjectRegistry {
    std::mutex mutex;
    std::unordered_map<const CGdiObject*, uint64_t> live;
};

ObjectRegistry& Objects() {
    static ObjectRegistry registry;
    return registry;
}

struct DcRegistry {
    std::mutex mutex;
    std::unordered_map<HDC, CDC*> byHandle;
};

DcRegistry& Dcs() {
    static DcRegistry registry;
    return registry;
}

// The flatness of FlattenPath, in device units.
constexpr Gdiplus::REAL kDeviceFlatness = 0.25f;

uint32_t ArgbOf(COLORREF c) { return Gdiplus::Color::FromCOLORREF(c).GetValue(); }

LONG RoundToLong(float v) {
    if (!std::isfinite(v)) return 0;
    const double r = std::round(static_cast<double>(v));
    if (r >= 2147483647.0) return 2147483647;
    if (r <= -2147483648.0) return static_cast<LONG>(-2147483647 - 1);
    return static_cast<LONG>(r);
}

std::vector<Gdiplus::Point> ToPoints(const POINT* pts, int count) {
    std::vector<Gdiplus::Point> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) out.emplace_back(pts[i].x, pts[i].y);
    return out;
}

std::vector<Gdiplus::PointF> ToPointsF(const POINT* pts, int count) {
    std::vector<Gdiplus::PointF> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) out.emplace_back(static_cast<float>(pts[i].x), static_cast<float>(pts[i].y));
    return out;
}

}  // namespace

// Builds the stock objects, which live for the whole process.
struct GdiObjectAccess {
    static CPen* MakePen(int style, COLORREF color) {
        CPen* p = new CPen();
        p->CreatePen(style, 1, color);
        p->m_stock = true;
        return p;
    }
    static CBrush* MakeBrush(UINT style, COLORREF color) {
        CBrush* b = new CBrush();
        b->m_log = LOGBRUSH{style, color, 0};
        b->NewHandle();
        b->m_stock = true;
        return b;
    }
    static CGdiObject* Stock(int index) {
        // Never destroyed: device contexts may still name them at exit.
        static CGdiObject* const objects[] = {
            MakeBrush(BS_SOLID, RGB(255, 255, 255)), MakeBrush(BS_SOLID, RGB(192, 192, 192)),
            MakeBrush(BS_SOLID, RGB(128, 128, 128)), MakeBrush(BS_SOLID, RGB(64, 64, 64)),
            MakeBrush(BS_SOLID, RGB(0, 0, 0)),       MakeBrush(BS_NULL, RGB(0, 0, 0)),
            MakePen(PS_SOLID, RGB(255, 255, 255)),   MakePen(PS_SOLID, RGB(0, 0, 0)),
            MakePen(PS_NULL, RGB(0, 0, 0)),
        };
        if (index < 0 || index > NULL_PEN) return nullptr;
        return objects[index];
    }
};

// ---- GDI objects ------------------------------------------------------------

CGdiObject::CGdiObject() : m_serial(g_nextSerial.fetch_add(1)) {
    ObjectRegistry& reg = Objects();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.live[this] = m_serial;
}

CGdiObject::~CGdiObject() {
    ObjectRegistry& reg = Objects();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.live.erase(this);
}

void CGdiObject::NewHandle() { m_hObject = reinterpret_cast<HGDIOBJ>(NextHandleValue()); }

BOOL CGdiObject::DeleteObject() {
    if (m_stock) return TRUE;
    if (m_hObject == nullptr) return FALSE;
    m_hObject = nullptr;
    return TRUE;
}

CPen::CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }

BOOL CPen::CreatePen(int style, int width, COLORREF color) {
    const int kind = style & PS_STYLE_MASK;
    if (m_hObject != nullptr || kind > PS_INSIDEFRAME || style < 0) return FALSE;
    m_log.lopnStyle = static_cast<UINT>(style);
    m_log.lopnWidth = POINT{std::max(0, width), 0};
    m_log.lopnColor = color;
    NewHandle();
    return TRUE;
}

int CPen::GetLogPen(LOGPEN* logPen) const {
    if (logPen == nullptr || m_hObject == nullptr) return 0;
    *logPen = m_log;
    return static_cast<int>(sizeof(LOGPEN));
}

CBrush::CBrush(COLORREF color) { CreateSolidBrush(color); }

BOOL CBrush::CreateSolidBrush(COLORREF color) {
    if (m_hObject != nullptr) return FALSE;
    m_log = LOGBRUSH{BS_SOLID, color, 0};
    NewHandle();
    return TRUE;
}

int CBrush::GetLogBrush(LOGBRUSH* logBrush) const {
    if (logBrush == nullptr || m_hObject == nullptr) return 0;
    *logBrush = m_log;
    return static_cast<int>(sizeof(LOGBRUSH));
}

HGDIOBJ GetStockObject(int index) {
    CGdiObject* o = GdiObjectAccess::Stock(index);
    return o != nullptr ? o->m_hObject : nullptr;
}

// ---- device context ---------------------------------------------------------

CDC::CDC() : CDC(nullptr) {}

CDC::CDC(ICanvas* canvas) : m_canvas(canvas) {
    m_hDC = reinterpret_cast<HDC>(NextHandleValue());
    {
        DcRegistry& reg = Dcs();
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.byHandle[m_hDC] = this;
    }
    // A new device context draws with the black pen and the white brush.
    SelectStockObject(BLACK_PEN);
    SelectStockObject(WHITE_BRUSH);
}

CDC::~CDC() {
    DcRegistry& reg = Dcs();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.byHandle.erase(m_hDC);
}

std::unique_ptr<CDC> CDC::FromCanvas(ICanvas* canvas) { return std::make_unique<CDC>(canvas); }

CDC* CDC::FromHandle(HDC hdc) {
    if (hdc == nullptr) return nullptr;
    DcRegistry& reg = Dcs();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.byHandle.find(hdc);
    return it != reg.byHandle.end() ? it->second : nullptr;
}

CGdiObject* CDC::Resolve(const Selection& s, int stockFallback) const {
    if (s.object != nullptr) {
        ObjectRegistry& reg = Objects();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.live.find(s.object);
        if (it != reg.live.end() && it->second == s.serial) return s.object;
    }
    return GdiObjectAccess::Stock(stockFallback);
}

CPen* CDC::SelectObject(CPen* pen) {
    if (pen == nullptr || pen->m_hObject == nullptr) return nullptr;
    CPen* old = static_cast<CPen*>(Resolve(m_pen, BLACK_PEN));
    m_pen = Selection{pen, pen->m_serial};
    m_penLog = pen->m_log;
    return old;
}

CBrush* CDC::SelectObject(CBrush* brush) {
    if (brush == nullptr || brush->m_hObject == nullptr) return nullptr;
    CBrush* old = static_cast<CBrush*>(Resolve(m_brush, WHITE_BRUSH));
    m_brush = Selection{brush, brush->m_serial};
    m_brushLog = brush->m_log;
    return old;
}

CGdiObject* CDC::SelectObject(CGdiObject* object) {
    if (auto* pen = dynamic_cast<CPen*>(object)) return SelectObject(pen);
    if (auto* brush = dynamic_cast<CBrush*>(object)) return SelectObject(brush);
    if (auto* font = dynamic_cast<CFont*>(object)) return SelectObject(font);
    return nullptr;
}

CGdiObject* CDC::SelectStockObject(int index) { return SelectObject(GdiObjectAccess::Stock(index)); }

int CDC::SetROP2(int mode) {
    if (mode < R2_BLACK || mode > R2_WHITE) return 0;
    const int old = m_rop2;
    m_rop2 = mode;
    return old;
}

int CDC::GetDeviceCaps(int index) const {
    const int w = m_canvas != nullptr ? m_canvas->Width() : 0;
    const int h = m_canvas != nullptr ? m_canvas->Height() : 0;
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY: return 96;
        case HORZRES: return w;
        case VERTRES: return h;
        case HORZSIZE: return static_cast<int>(std::lround(w * 25.4 / 96.0));
        case VERTSIZE: return static_cast<int>(std::lround(h * 25.4 / 96.0));
        case BITSPIXEL: return 32;
        case PLANES: return 1;
        default: return 0;
    }
}

bool CDC::StrokePen(CanvasPen& pen) const {
    const int style = static_cast<int>(m_penLog.lopnStyle) & PS_STYLE_MASK;
    if (style == PS_NULL) return false;
    const int width = m_penLog.lopnWidth.x;
    pen = CanvasPen();
    pen.argb = ArgbOf(m_penLog.lopnColor);
    pen.width = width <= 1 ? 0.0f : static_cast<float>(width);
    if (width <= 1 && style >= PS_DASH && style <= PS_DASHDOTDOT) {
        pen.dash = static_cast<Gdiplus::DashStyle>(style);
    }
    if (width > 1) {
        // Wide GDI pens end round.
        pen.startCap.kind = Gdiplus::LineCapRound;
        pen.endCap.kind = Gdiplus::LineCapRound;
    }
    pen.rop2 = m_rop2;
    return true;
}

bool CDC::FillBrush(CanvasBrush& brush) const {
    if (m_brushLog.lbStyle != BS_SOLID) return false;
    brush = CanvasBrush();
    brush.argb = ArgbOf(m_brushLog.lbColor);
    brush.rop2 = m_rop2;
    return true;
}

CPoint CDC::MoveTo(int x, int y) {
    const CPoint old = m_pos;
    m_pos = CPoint(x, y);
    if (m_pathState == PathState::Open) m_path->StartFigure();
    return old;
}

BOOL CDC::LineTo(int x, int y) {
    const CPoint from = m_pos;
    m_pos = CPoint(x, y);
    if (m_pathState == PathState::Open) {
        return m_path->AddLine(Gdiplus::Point(from.x, from.y), Gdiplus::Point(x, y)) == Gdiplus::Ok;
    }
    CanvasPen pen;
    if (m_canvas != nullptr && StrokePen(pen)) {
        m_canvas->DrawLine(pen, Gdiplus::PointF(static_cast<float>(from.x), static_cast<float>(from.y)),
                           Gdiplus::PointF(static_cast<float>(x), static_cast<float>(y)));
    }
    return TRUE;
}

BOOL CDC::Polyline(const POINT* points, int count) {
    if (points == nullptr || count < 2) return FALSE;
    if (m_pathState == PathState::Open) {
        m_path->StartFigure();
        const auto pts = ToPoints(points, count);
        return m_path->AddLines(pts.data(), count) == Gdiplus::Ok;
    }
    CanvasPen pen;
    if (m_canvas != nullptr && StrokePen(pen)) {
        const auto pts = ToPointsF(points, count);
        m_canvas->DrawPolyline(pen, pts.data(), pts.size(), false);
    }
    return TRUE;
}

BOOL CDC::PolyBezier(const POINT* points, int count) {
    if (points == nullptr || count < 4 || (count - 1) % 3 != 0) return FALSE;
    if (m_pathState == PathState::Open) {
        m_path->StartFigure();
        const auto pts = ToPoints(points, count);
        return m_path->AddBeziers(pts.data(), count) == Gdiplus::Ok;
    }
    CanvasPen pen;
    if (m_canvas != nullptr && StrokePen(pen)) {
        const auto pts = ToPointsF(points, count);
        m_canvas->DrawBeziers(pen, pts.data(), pts.size());
    }
    return TRUE;
}

BOOL CDC::Rectangle(int left, int top, int right, int bottom) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left == right || top == bottom) return TRUE;
    // The outline runs through the pixels of the left and top edges and of
    // right - 1 and bottom - 1; the fill covers the pixels in between.
    const Gdiplus::RectF outline(static_cast<float>(left), static_cast<float>(top),
                                 static_cast<float>(static_cast<double>(right) - left - 1),
                                 static_cast<float>(static_cast<double>(bottom) - top - 1));
    if (m_pathState == PathState::Open) return m_path->AddRectangle(outline) == Gdiplus::Ok;
    if (m_canvas == nullptr) return TRUE;
    CanvasBrush brush;
    if (FillBrush(brush)) {
        m_canvas->FillRectangle(brush, Gdiplus::RectF(static_cast<float>(left), static_cast<float>(top),
                                                      static_cast<float>(static_cast<double>(right) - left),
                                                      static_cast<float>(static_cast<double>(bottom) - top)));
    }
    CanvasPen pen;
    if (StrokePen(pen)) m_canvas->DrawRectangle(pen, outline);
    return TRUE;
}

BOOL CDC::Rectangle(const RECT* rect) {
    if (rect == nullptr) return FALSE;
    return Rectangle(rect->left, rect->top, rect->right, rect->bottom);
}

BOOL CDC::Ellipse(int left, int top, int right, int bottom) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left == right || top == bottom) return TRUE;
    const Gdiplus::RectF outline(static_cast<float>(left), static_cast<float>(top),
                                 static_cast<float>(static_cast<double>(right) - left - 1),
                                 static_cast<float>(static_cast<double>(bottom) - top - 1));
    if (m_pathState == PathState::Open) return m_path->AddEllipse(outline) == Gdiplus::Ok;
    if (m_canvas == nullptr) return TRUE;
    CanvasBrush brush;
    if (FillBrush(brush)) {
        m_canvas->FillEllipse(brush, Gdiplus::RectF(static_cast<float>(left), static_cast<float>(top),
                                                    static_cast<float>(static_cast<double>(right) - left),
                                                    static_cast<float>(static_cast<double>(bottom) - top)));
    }
    CanvasPen pen;
    if (StrokePen(pen)) m_canvas->DrawEllipse(pen, outline);
    return TRUE;
}

BOOL CDC::Ellipse(const RECT* rect) {
    if (rect == nullptr) return FALSE;
    return Ellipse(rect->left, rect->top, rect->right, rect->bottom);
}

COLORREF CDC::SetPixel(int x, int y, COLORREF color) {
    if (m_canvas == nullptr) return CLR_INVALID;
    const int w = m_canvas->Width(), h = m_canvas->Height();
    if ((w > 0 || h > 0) && (x < 0 || y < 0 || x >= w || y >= h)) return CLR_INVALID;
    m_canvas->SetPixel(x, y, ArgbOf(color));
    return color & 0x00FFFFFFu;
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
    if (m_canvas == nullptr || cx <= 0 || cy <= 0) return;
    CanvasBrush brush;
    brush.argb = ArgbOf(color);
    m_canvas->FillRectangle(brush, Gdiplus::RectF(static_cast<float>(x), static_cast<float>(y),
                                                  static_cast<float>(cx), static_cast<float>(cy)));
}

void CDC::FillSolidRect(const RECT* rect, COLORREF color) {
    if (rect == nullptr) return;
    FillSolidRect(rect->left, rect->top, static_cast<int>(static_cast<int64_t>(rect->right) - rect->left),
                  static_cast<int>(static_cast<int64_t>(rect->bottom) - rect->top), color);
}

// ---- paths ------------------------------------------------------------------

BOOL CDC::BeginPath() {
    m_path = std::make_unique<Gdiplus::GraphicsPath>();
    m_pathState = PathState::Open;
    return TRUE;
}

BOOL CDC::EndPath() {
    if (m_pathState != PathState::Open) return FALSE;
    m_pathState = PathState::Closed;
    return TRUE;
}

BOOL CDC::AbortPath() {
    m_path.reset();
    m_pathState = PathState::None;
    return TRUE;
}

BOOL CDC::CloseFigure() {
    if (m_pathState != PathState::Open) return FALSE;
    return m_path->CloseFigure() == Gdiplus::Ok;
}

BOOL CDC::FlattenPath() {
    if (m_pathState != PathState::Closed) return FALSE;
    return m_path->Flatten(nullptr, kDeviceFlatness) == Gdiplus::Ok;
}

int CDC::GetPath(POINT* points, BYTE* types, int count) const {
    if (m_pathState != PathState::Closed || count < 0) return -1;
    const std::vector<Gdiplus::PointF>& pts = m_path->PathPoints();
    const std::vector<BYTE>& kinds = m_path->PathTypes();
    const int n = static_cast<int>(std::min(pts.size(), kinds.size()));
    if (count == 0) return n;
    if (points == nullptr || types == nullptr || count < n) return -1;
    for (int i = 0; i < n; ++i) {
        points[i] = POINT{RoundToLong(pts[i].X), RoundToLong(pts[i].Y)};
        BYTE t;
        switch (kinds[i] & Gdiplus::PathPointTypePathTypeMask) {
            case Gdiplus::PathPointTypeStart: t = PT_MOVETO; break;
            case Gdiplus::PathPointTypeBezier: t = PT_BEZIERTO; break;
            default: t = PT_LINETO; break;
        }
        if ((kinds[i] & Gdiplus::PathPointTypeCloseSubpath) && t != PT_MOVETO) t |= PT_CLOSEFIGURE;
        types[i] = t;
    }
    return n;
}

// ---- memory device context --------------------------------------------------

CMemoryDC::CMemoryDC(int width, int height) : m_image(std::make_unique<CairoCanvas>(width, height)) {
    SetCanvas(m_image.get());
}

CMemoryDC::~CMemoryDC() { SetCanvas(nullptr); }

bool CMemoryDC::WriteToPng(const std::string& path) const { return m_image->WriteToPng(path); }
