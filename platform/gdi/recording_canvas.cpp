#include "morvik/gdi/recording_canvas.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

void AppendNumber(std::string& out, float v) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void AppendColor(std::string& out, uint32_t argb) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "#%08X", static_cast<unsigned>(argb));
    out += buf;
}

void AppendCap(std::string& out, const CanvasCap& cap) {
    AppendInt(out, static_cast<int>(cap.kind));
    if (cap.kind == Gdiplus::LineCapCustom) {
        out += '(';
        AppendNumber(out, cap.arrowHeight);
        out += 'x';
        AppendNumber(out, cap.arrowWidth);
        if (cap.arrowInset != 0) {
            out += " inset ";
            AppendNumber(out, cap.arrowInset);
        }
        out += cap.arrowFilled ? " filled)" : " open)";
    }
}

std::vector<Gdiplus::PointF> CopyPoints(const Gdiplus::PointF* points, size_t count) {
    if (points == nullptr || count == 0) return {};
    return std::vector<Gdiplus::PointF>(points, points + count);
}

std::vector<Gdiplus::PointF> Corners(const Gdiplus::RectF& r) {
    return {Gdiplus::PointF(r.X, r.Y), Gdiplus::PointF(r.X + r.Width, r.Y + r.Height)};
}

Gdiplus::RectF RectFromCorners(const std::vector<Gdiplus::PointF>& pts) {
    if (pts.size() < 2) return Gdiplus::RectF();
    return Gdiplus::RectF(pts[0].X, pts[0].Y, pts[1].X - pts[0].X, pts[1].Y - pts[0].Y);
}

}  // namespace

RecordingCanvas::RecordingCanvas(int width, int height)
    : m_width(width > 0 ? width : 0), m_height(height > 0 ? height : 0) {}

void RecordingCanvas::Add(CanvasRecord&& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back(std::move(record));
}

void RecordingCanvas::DrawLine(const CanvasPen& pen, const Gdiplus::PointF& a, const Gdiplus::PointF& b) {
    CanvasRecord r;
    r.op = CanvasOp::Line;
    r.points = {a, b};
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::DrawPolyline(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count, bool closed) {
    CanvasRecord r;
    r.op = closed ? CanvasOp::Polygon : CanvasOp::Polyline;
    r.points = CopyPoints(points, count);
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::DrawBeziers(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count) {
    CanvasRecord r;
    r.op = CanvasOp::Beziers;
    r.points = CopyPoints(points, count);
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::DrawPath(const CanvasPen& pen, const Gdiplus::PointF* points, const BYTE* types, size_t count) {
    CanvasRecord r;
    r.op = CanvasOp::Path;
    if (points != nullptr && types != nullptr) {
        r.points = CopyPoints(points, count);
        r.types.assign(types, types + count);
    }
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::DrawRectangle(const CanvasPen& pen, const Gdiplus::RectF& rect) {
    CanvasRecord r;
    r.op = CanvasOp::Rectangle;
    r.points = Corners(rect);
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::DrawEllipse(const CanvasPen& pen, const Gdiplus::RectF& rect) {
    CanvasRecord r;
    r.op = CanvasOp::Ellipse;
    r.points = Corners(rect);
    r.pen = pen;
    Add(std::move(r));
}

void RecordingCanvas::FillPath(const CanvasBrush& brush, const Gdiplus::PointF* points, const BYTE* types,
                               size_t count, Gdiplus::FillMode mode) {
    CanvasRecord r;
    r.op = CanvasOp::FillPath;
    if (points != nullptr && types != nullptr) {
        r.points = CopyPoints(points, count);
        r.types.assign(types, types + count);
    }
    r.brush = brush;
    r.fillMode = mode;
    Add(std::move(r));
}

void RecordingCanvas::FillRectangle(const CanvasBrush& brush, const Gdiplus::RectF& rect) {
    CanvasRecord r;
    r.op = CanvasOp::FillRectangle;
    r.points = Corners(rect);
    r.brush = brush;
    Add(std::move(r));
}

void RecordingCanvas::FillEllipse(const CanvasBrush& brush, const Gdiplus::RectF& rect) {
    CanvasRecord r;
    r.op = CanvasOp::FillEllipse;
    r.points = Corners(rect);
    r.brush = brush;
    Add(std::move(r));
}

void RecordingCanvas::DrawImage(const CanvasImage& image, const Gdiplus::PointF* dst, bool smooth) {
    if (dst == nullptr || image.argb == nullptr || image.width <= 0 || image.height <= 0) return;
    CanvasRecord r;
    r.op = CanvasOp::Image;
    r.points = CopyPoints(dst, 3);
    r.imageWidth = image.width;
    r.imageHeight = image.height;
    r.imagePixels = std::make_shared<const std::vector<uint32_t>>(
        image.argb, image.argb + static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    r.imageSmooth = smooth;
    Add(std::move(r));
}

void RecordingCanvas::SetPixel(int x, int y, uint32_t argb) {
    CanvasRecord r;
    r.op = CanvasOp::Pixel;
    r.points = {Gdiplus::PointF(static_cast<float>(x), static_cast<float>(y))};
    r.brush.argb = argb;
    Add(std::move(r));
}

void RecordingCanvas::Clear(uint32_t argb) {
    CanvasRecord r;
    r.op = CanvasOp::Clear;
    r.brush.argb = argb;
    Add(std::move(r));
}

size_t RecordingCanvas::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records.size();
}

CanvasRecord RecordingCanvas::At(size_t i) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return i < m_records.size() ? m_records[i] : CanvasRecord();
}

std::vector<CanvasRecord> RecordingCanvas::Records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

void RecordingCanvas::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
}

const char* RecordingCanvas::OpName(CanvasOp op) {
    switch (op) {
        case CanvasOp::Line: return "line";
        case CanvasOp::Polyline: return "polyline";
        case CanvasOp::Polygon: return "polygon";
        case CanvasOp::Beziers: return "beziers";
        case CanvasOp::Path: return "path";
        case CanvasOp::Rectangle: return "rectangle";
        case CanvasOp::Ellipse: return "ellipse";
        case CanvasOp::FillPath: return "fillpath";
        case CanvasOp::FillRectangle: return "fillrect";
        case CanvasOp::FillEllipse: return "fillellipse";
        case CanvasOp::Pixel: return "pixel";
        case CanvasOp::Clear: return "clear";
        case CanvasOp::Image: return "image";
    }
    return "?";
}

std::string RecordingCanvas::Dump() const {
    std::vector<CanvasRecord> records = Records();
    std::string out;
    for (const CanvasRecord& r : records) {
        out += OpName(r.op);
        out += ' ';
        if (r.op == CanvasOp::Image) {
            AppendInt(out, r.imageWidth);
            out += 'x';
            AppendInt(out, r.imageHeight);
            if (r.imageSmooth) out += " smooth";
        } else if (r.IsStroke()) {
            AppendColor(out, r.pen.argb);
            out += " w=";
            AppendNumber(out, r.pen.width);
            if (r.pen.dash != Gdiplus::DashStyleSolid) {
                out += " dash=";
                AppendInt(out, r.pen.dash);
            }
            if (r.pen.startCap.kind != Gdiplus::LineCapFlat || r.pen.endCap.kind != Gdiplus::LineCapFlat) {
                out += " caps=";
                AppendCap(out, r.pen.startCap);
                out += '/';
                AppendCap(out, r.pen.endCap);
            }
            if (r.pen.rop2 != R2_COPYPEN) {
                out += " rop=";
                AppendInt(out, r.pen.rop2);
            }
            if (r.pen.antialias) out += " aa";
        } else {
            AppendColor(out, r.brush.argb);
            if (r.op == CanvasOp::FillPath && r.fillMode == Gdiplus::FillModeWinding) out += " winding";
            if (r.brush.rop2 != R2_COPYPEN && r.op != CanvasOp::Pixel && r.op != CanvasOp::Clear) {
                out += " rop=";
                AppendInt(out, r.brush.rop2);
            }
            if (r.brush.antialias) out += " aa";
        }
        for (const Gdiplus::PointF& p : r.points) {
            out += " (";
            AppendNumber(out, p.X);
            out += ',';
            AppendNumber(out, p.Y);
            out += ')';
        }
        if (!r.types.empty()) {
            out += " types=";
            for (size_t i = 0; i < r.types.size(); ++i) {
                if (i > 0) out += ',';
                AppendInt(out, r.types[i]);
            }
        }
        out += '\n';
    }
    return out;
}

void RecordingCanvas::Replay(ICanvas& target) const {
    if (&target == this) return;
    std::vector<CanvasRecord> records = Records();
    for (const CanvasRecord& r : records) {
        const Gdiplus::PointF* pts = r.points.empty() ? nullptr : r.points.data();
        const BYTE* types = r.types.empty() ? nullptr : r.types.data();
        switch (r.op) {
            case CanvasOp::Line:
                if (r.points.size() >= 2) target.DrawLine(r.pen, r.points[0], r.points[1]);
                break;
            case CanvasOp::Polyline:
            case CanvasOp::Polygon:
                target.DrawPolyline(r.pen, pts, r.points.size(), r.op == CanvasOp::Polygon);
                break;
            case CanvasOp::Beziers:
                target.DrawBeziers(r.pen, pts, r.points.size());
                break;
            case CanvasOp::Path:
                target.DrawPath(r.pen, pts, types, std::min(r.points.size(), r.types.size()));
                break;
            case CanvasOp::Rectangle:
                target.DrawRectangle(r.pen, RectFromCorners(r.points));
                break;
            case CanvasOp::Ellipse:
                target.DrawEllipse(r.pen, RectFromCorners(r.points));
                break;
            case CanvasOp::FillPath:
                target.FillPath(r.brush, pts, types, std::min(r.points.size(), r.types.size()), r.fillMode);
                break;
            case CanvasOp::FillRectangle:
                target.FillRectangle(r.brush, RectFromCorners(r.points));
                break;
            case CanvasOp::FillEllipse:
                target.FillEllipse(r.brush, RectFromCorners(r.points));
                break;
            case CanvasOp::Pixel:
                if (!r.points.empty()) {
                    target.SetPixel(static_cast<int>(r.points[0].X), static_cast<int>(r.points[0].Y), r.brush.argb);
                }
                break;
            case CanvasOp::Clear:
                target.Clear(r.brush.argb);
                break;
            case CanvasOp::Image:
                if (r.points.size() >= 3 && r.imagePixels &&
                    r.imagePixels->size() == static_cast<size_t>(r.imageWidth) * static_cast<size_t>(r.imageHeight)) {
                    const CanvasImage image{r.imageWidth, r.imageHeight, r.imagePixels->data()};
                    target.DrawImage(image, r.points.data(), r.imageSmooth);
                }
                break;
        }
    }
}
