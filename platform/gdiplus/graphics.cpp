#include "morvik/gdiplus/graphics.h"

#include <algorithm>
#include <cmath>

namespace Gdiplus {

namespace {

PointF ToF(const Point& p) { return PointF(static_cast<REAL>(p.X), static_cast<REAL>(p.Y)); }

RectF ToF(const Rect& r) {
    return RectF(static_cast<REAL>(r.X), static_cast<REAL>(r.Y), static_cast<REAL>(r.Width),
                 static_cast<REAL>(r.Height));
}

std::vector<PointF> ToF(const Point* pts, INT count) {
    std::vector<PointF> out;
    if (pts == nullptr || count <= 0) return out;
    out.reserve(static_cast<size_t>(count));
    for (INT i = 0; i < count; ++i) out.push_back(ToF(pts[i]));
    return out;
}

CanvasCap MakeCap(LineCap kind, const CustomLineCap* custom) {
    CanvasCap cap;
    cap.kind = kind;
    if (kind != LineCapCustom) return cap;
    if (custom != nullptr && custom->GetType() == CustomLineCapTypeAdjustableArrow) {
        const auto* arrow = static_cast<const AdjustableArrowCap*>(custom);
        cap.arrowHeight = arrow->GetHeight();
        cap.arrowWidth = arrow->GetWidth();
        cap.arrowInset = arrow->GetMiddleInset();
        cap.arrowFilled = arrow->IsFilled() != FALSE;
    } else {
        cap.kind = custom != nullptr ? custom->GetBaseCap() : LineCapFlat;
    }
    return cap;
}

}  // namespace

Graphics::Graphics(HDC hdc) : Graphics(CDC::FromHandle(hdc)) {}

Graphics::Graphics(CDC* dc) : m_canvas(dc != nullptr ? dc->GetCanvas() : nullptr) {
    if (m_canvas == nullptr) m_lastStatus = InvalidParameter;
}

Graphics::Graphics(ICanvas* canvas) : m_canvas(canvas) {
    if (m_canvas == nullptr) m_lastStatus = InvalidParameter;
}

Graphics* Graphics::FromHDC(HDC hdc) { return new Graphics(hdc); }

Status Graphics::GetLastStatus() const {
    Status s = m_lastStatus;
    m_lastStatus = Ok;
    return s;
}

Status Graphics::SetStatus(Status s) const {
    if (s != Ok) m_lastStatus = s;
    return s;
}

Status Graphics::CheckDraw(const void* tool) const {
    if (tool == nullptr || m_canvas == nullptr) return SetStatus(InvalidParameter);
    return Ok;
}

// ---- settings and transform -------------------------------------------------

Status Graphics::SetSmoothingMode(SmoothingMode mode) {
    if (mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias8x8) return SetStatus(InvalidParameter);
    m_smoothing = mode;
    return Ok;
}

Status Graphics::SetTextRenderingHint(TextRenderingHint hint) {
    if (hint < TextRenderingHintSystemDefault || hint > TextRenderingHintClearTypeGridFit) {
        return SetStatus(InvalidParameter);
    }
    m_textHint = hint;
    return Ok;
}

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
    if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic) {
        return SetStatus(InvalidParameter);
    }
    m_interpolation = mode;
    return Ok;
}

Status Graphics::SetPixelOffsetMode(PixelOffsetMode mode) {
    if (mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf) return SetStatus(InvalidParameter);
    m_pixelOffset = mode;
    return Ok;
}

Status Graphics::SetTransform(const Matrix* matrix) {
    if (matrix == nullptr) return SetStatus(InvalidParameter);
    m_transform = *matrix;
    return Ok;
}

Status Graphics::GetTransform(Matrix* matrix) const {
    if (matrix == nullptr) return SetStatus(InvalidParameter);
    *matrix = m_transform;
    return Ok;
}

Status Graphics::ResetTransform() { return SetStatus(m_transform.Reset()); }

Status Graphics::MultiplyTransform(const Matrix* matrix, MatrixOrder order) {
    if (matrix == nullptr) return SetStatus(InvalidParameter);
    return SetStatus(m_transform.Multiply(matrix, order));
}

Status Graphics::TranslateTransform(REAL dx, REAL dy, MatrixOrder order) {
    return SetStatus(m_transform.Translate(dx, dy, order));
}

Status Graphics::ScaleTransform(REAL sx, REAL sy, MatrixOrder order) {
    return SetStatus(m_transform.Scale(sx, sy, order));
}

Status Graphics::RotateTransform(REAL angle, MatrixOrder order) {
    return SetStatus(m_transform.Rotate(angle, order));
}

GraphicsState Graphics::Save() {
    const GraphicsState id = m_nextState++;
    m_saved.push_back(SavedState{id, m_transform, m_smoothing, m_textHint, m_interpolation, m_pixelOffset});
    return id;
}

Status Graphics::Restore(GraphicsState state) {
    auto it = std::find_if(m_saved.begin(), m_saved.end(), [state](const SavedState& s) { return s.id == state; });
    if (it == m_saved.end()) return SetStatus(InvalidParameter);
    m_transform = it->transform;
    m_smoothing = it->smoothing;
    m_textHint = it->textHint;
    m_interpolation = it->interpolation;
    m_pixelOffset = it->pixelOffset;
    m_saved.erase(it, m_saved.end());
    return Ok;
}

// ---- mapping ----------------------------------------------------------------

PointF Graphics::Map(const PointF& p) const {
    double x, y;
    m_transform.Apply(p.X, p.Y, x, y);
    return PointF(static_cast<REAL>(x), static_cast<REAL>(y));
}

std::vector<PointF> Graphics::Map(const PointF* points, INT count) const {
    std::vector<PointF> out;
    out.reserve(static_cast<size_t>(std::max(count, 0)));
    for (INT i = 0; i < count; ++i) out.push_back(Map(points[i]));
    return out;
}

bool Graphics::AxisAligned() const {
    REAL m[6];
    m_transform.GetElements(m);
    return m[1] == 0 && m[2] == 0;
}

RectF Graphics::MapRect(const RectF& rect) const {
    const PointF a = Map(PointF(rect.X, rect.Y));
    const PointF b = Map(PointF(rect.X + rect.Width, rect.Y + rect.Height));
    return RectF(std::min(a.X, b.X), std::min(a.Y, b.Y), std::fabs(b.X - a.X), std::fabs(b.Y - a.Y));
}

CanvasPen Graphics::MakePen(const Pen* pen) const {
    CanvasPen cp;
    cp.argb = pen->GetColorValue().GetValue();
    // A width of 0 stays one device pixel; others scale with the transform.
    const REAL width = pen->GetWidth();
    if (width > 0) {
        REAL m[6];
        m_transform.GetElements(m);
        const double det = static_cast<double>(m[0]) * m[3] - static_cast<double>(m[1]) * m[2];
        cp.width = static_cast<float>(width * std::sqrt(std::fabs(det)));
    }
    cp.dash = pen->GetDashStyle();
    cp.startCap = MakeCap(pen->GetStartCap(), pen->CustomStartCap());
    cp.endCap = MakeCap(pen->GetEndCap(), pen->CustomEndCap());
    cp.antialias = m_smoothing == SmoothingModeAntiAlias || m_smoothing == SmoothingModeHighQuality ||
                   m_smoothing == SmoothingModeAntiAlias8x8;
    return cp;
}

CanvasBrush Graphics::MakeBrush(const Brush* brush) const {
    CanvasBrush cb;
    cb.argb = brush->FillColor().GetValue();
    cb.antialias = m_smoothing == SmoothingModeAntiAlias || m_smoothing == SmoothingModeHighQuality ||
                   m_smoothing == SmoothingModeAntiAlias8x8;
    return cb;
}

Status Graphics::StrokeFigure(const Pen* pen, const GraphicsPath& path) {
    const std::vector<PointF>& pts = path.PathPoints();
    const std::vector<BYTE>& types = path.PathTypes();
    const size_t n = std::min(pts.size(), types.size());
    if (n == 0) return Ok;
    const std::vector<PointF> dev = Map(pts.data(), static_cast<INT>(n));
    m_canvas->DrawPath(MakePen(pen), dev.data(), types.data(), n);
    return Ok;
}

Status Graphics::FillFigure(const Brush* brush, const GraphicsPath& path) {
    const std::vector<PointF>& pts = path.PathPoints();
    const std::vector<BYTE>& types = path.PathTypes();
    const size_t n = std::min(pts.size(), types.size());
    if (n == 0) return Ok;
    const std::vector<PointF> dev = Map(pts.data(), static_cast<INT>(n));
    m_canvas->FillPath(MakeBrush(brush), dev.data(), types.data(), n, path.GetFillMode());
    return Ok;
}

// ---- lines and curves -------------------------------------------------------

Status Graphics::DrawLine(const Pen* pen, const PointF& pt1, const PointF& pt2) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    m_canvas->DrawLine(MakePen(pen), Map(pt1), Map(pt2));
    return Ok;
}

Status Graphics::DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2) {
    return DrawLine(pen, PointF(x1, y1), PointF(x2, y2));
}

Status Graphics::DrawLine(const Pen* pen, const Point& pt1, const Point& pt2) {
    return DrawLine(pen, ToF(pt1), ToF(pt2));
}

Status Graphics::DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2) {
    return DrawLine(pen, Point(x1, y1), Point(x2, y2));
}

Status Graphics::DrawLines(const Pen* pen, const PointF* points, INT count) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (points == nullptr || count < 2) return SetStatus(InvalidParameter);
    const std::vector<PointF> dev = Map(points, count);
    m_canvas->DrawPolyline(MakePen(pen), dev.data(), dev.size(), false);
    return Ok;
}

Status Graphics::DrawLines(const Pen* pen, const Point* points, INT count) {
    const std::vector<PointF> pts = ToF(points, count);
    return DrawLines(pen, pts.empty() ? nullptr : pts.data(), count);
}

Status Graphics::DrawBezier(const Pen* pen, const PointF& pt1, const PointF& pt2, const PointF& pt3,
                            const PointF& pt4) {
    const PointF pts[4] = {pt1, pt2, pt3, pt4};
    return DrawBeziers(pen, pts, 4);
}

Status Graphics::DrawBezier(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2, REAL x3, REAL y3, REAL x4,
                            REAL y4) {
    return DrawBezier(pen, PointF(x1, y1), PointF(x2, y2), PointF(x3, y3), PointF(x4, y4));
}

Status Graphics::DrawBezier(const Pen* pen, const Point& pt1, const Point& pt2, const Point& pt3,
                            const Point& pt4) {
    return DrawBezier(pen, ToF(pt1), ToF(pt2), ToF(pt3), ToF(pt4));
}

Status Graphics::DrawBeziers(const Pen* pen, const PointF* points, INT count) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (points == nullptr || count < 4 || (count - 1) % 3 != 0) return SetStatus(InvalidParameter);
    const std::vector<PointF> dev = Map(points, count);
    m_canvas->DrawBeziers(MakePen(pen), dev.data(), dev.size());
    return Ok;
}

Status Graphics::DrawBeziers(const Pen* pen, const Point* points, INT count) {
    const std::vector<PointF> pts = ToF(points, count);
    return DrawBeziers(pen, pts.empty() ? nullptr : pts.data(), count);
}

Status Graphics::DrawPolygon(const Pen* pen, const PointF* points, INT count) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (points == nullptr || count < 2) return SetStatus(InvalidParameter);
    const std::vector<PointF> dev = Map(points, count);
    m_canvas->DrawPolyline(MakePen(pen), dev.data(), dev.size(), true);
    return Ok;
}

Status Graphics::DrawPolygon(const Pen* pen, const Point* points, INT count) {
    const std::vector<PointF> pts = ToF(points, count);
    return DrawPolygon(pen, pts.empty() ? nullptr : pts.data(), count);
}

// ---- rectangles, ellipses and arcs ------------------------------------------

Status Graphics::DrawRectangle(const Pen* pen, const RectF& rect) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (AxisAligned()) {
        m_canvas->DrawRectangle(MakePen(pen), MapRect(rect));
    } else {
        const PointF corners[4] = {PointF(rect.X, rect.Y), PointF(rect.X + rect.Width, rect.Y),
                                   PointF(rect.X + rect.Width, rect.Y + rect.Height),
                                   PointF(rect.X, rect.Y + rect.Height)};
        const std::vector<PointF> dev = Map(corners, 4);
        m_canvas->DrawPolyline(MakePen(pen), dev.data(), dev.size(), true);
    }
    return Ok;
}

Status Graphics::DrawRectangle(const Pen* pen, REAL x, REAL y, REAL width, REAL height) {
    return DrawRectangle(pen, RectF(x, y, width, height));
}

Status Graphics::DrawRectangle(const Pen* pen, const Rect& rect) { return DrawRectangle(pen, ToF(rect)); }

Status Graphics::DrawRectangle(const Pen* pen, INT x, INT y, INT width, INT height) {
    return DrawRectangle(pen, Rect(x, y, width, height));
}

Status Graphics::DrawEllipse(const Pen* pen, const RectF& rect) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (AxisAligned()) {
        m_canvas->DrawEllipse(MakePen(pen), MapRect(rect));
        return Ok;
    }
    GraphicsPath path;
    path.AddEllipse(rect);
    return StrokeFigure(pen, path);
}

Status Graphics::DrawEllipse(const Pen* pen, REAL x, REAL y, REAL width, REAL height) {
    return DrawEllipse(pen, RectF(x, y, width, height));
}

Status Graphics::DrawEllipse(const Pen* pen, const Rect& rect) { return DrawEllipse(pen, ToF(rect)); }

Status Graphics::DrawEllipse(const Pen* pen, INT x, INT y, INT width, INT height) {
    return DrawEllipse(pen, Rect(x, y, width, height));
}

Status Graphics::DrawArc(const Pen* pen, const RectF& rect, REAL startAngle, REAL sweepAngle) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    GraphicsPath path;
    if (Status s = path.AddArc(rect, startAngle, sweepAngle); s != Ok) return SetStatus(s);
    const std::vector<PointF>& pts = path.PathPoints();
    if (pts.empty()) return Ok;
    const std::vector<PointF> dev = Map(pts.data(), static_cast<INT>(pts.size()));
    m_canvas->DrawBeziers(MakePen(pen), dev.data(), dev.size());
    return Ok;
}

Status Graphics::DrawArc(const Pen* pen, REAL x, REAL y, REAL width, REAL height, REAL startAngle,
                         REAL sweepAngle) {
    return DrawArc(pen, RectF(x, y, width, height), startAngle, sweepAngle);
}

Status Graphics::DrawArc(const Pen* pen, const Rect& rect, REAL startAngle, REAL sweepAngle) {
    return DrawArc(pen, ToF(rect), startAngle, sweepAngle);
}

Status Graphics::DrawPath(const Pen* pen, const GraphicsPath* path) {
    if (Status s = CheckDraw(pen); s != Ok) return s;
    if (path == nullptr) return SetStatus(InvalidParameter);
    return StrokeFigure(pen, *path);
}

// ---- fills ------------------------------------------------------------------

Status Graphics::FillRectangle(const Brush* brush, const RectF& rect) {
    if (Status s = CheckDraw(brush); s != Ok) return s;
    if (AxisAligned()) {
        m_canvas->FillRectangle(MakeBrush(brush), MapRect(rect));
        return Ok;
    }
    GraphicsPath path;
    path.AddRectangle(rect);
    return FillFigure(brush, path);
}

Status Graphics::FillRectangle(const Brush* brush, REAL x, REAL y, REAL width, REAL height) {
    return FillRectangle(brush, RectF(x, y, width, height));
}

Status Graphics::FillRectangle(const Brush* brush, const Rect& rect) { return FillRectangle(brush, ToF(rect)); }

Status Graphics::FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height) {
    return FillRectangle(brush, Rect(x, y, width, height));
}

Status Graphics::FillEllipse(const Brush* brush, const RectF& rect) {
    if (Status s = CheckDraw(brush); s != Ok) return s;
    if (AxisAligned()) {
        m_canvas->FillEllipse(MakeBrush(brush), MapRect(rect));
        return Ok;
    }
    GraphicsPath path;
    path.AddEllipse(rect);
    return FillFigure(brush, path);
}

Status Graphics::FillEllipse(const Brush* brush, REAL x, REAL y, REAL width, REAL height) {
    return FillEllipse(brush, RectF(x, y, width, height));
}

Status Graphics::FillEllipse(const Brush* brush, const Rect& rect) { return FillEllipse(brush, ToF(rect)); }

Status Graphics::FillEllipse(const Brush* brush, INT x, INT y, INT width, INT height) {
    return FillEllipse(brush, Rect(x, y, width, height));
}

Status Graphics::FillPolygon(const Brush* brush, const PointF* points, INT count, FillMode fillMode) {
    if (Status s = CheckDraw(brush); s != Ok) return s;
    if (points == nullptr || count < 3) return SetStatus(InvalidParameter);
    const std::vector<PointF> dev = Map(points, count);
    std::vector<BYTE> types(dev.size(), PathPointTypeLine);
    types.front() = PathPointTypeStart;
    types.back() |= PathPointTypeCloseSubpath;
    m_canvas->FillPath(MakeBrush(brush), dev.data(), types.data(), dev.size(),
                       fillMode == FillModeWinding ? FillModeWinding : FillModeAlternate);
    return Ok;
}

Status Graphics::FillPolygon(const Brush* brush, const Point* points, INT count, FillMode fillMode) {
    const std::vector<PointF> pts = ToF(points, count);
    return FillPolygon(brush, pts.empty() ? nullptr : pts.data(), count, fillMode);
}

Status Graphics::FillPath(const Brush* brush, const GraphicsPath* path) {
    if (Status s = CheckDraw(brush); s != Ok) return s;
    if (path == nullptr) return SetStatus(InvalidParameter);
    return FillFigure(brush, *path);
}

Status Graphics::Clear(const Color& color) {
    if (m_canvas == nullptr) return SetStatus(InvalidParameter);
    m_canvas->Clear(color.GetValue());
    return Ok;
}

}  // namespace Gdiplus
