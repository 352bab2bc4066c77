// A canvas that keeps what is drawn as a display list of primitives in
// device units, for tests and for hosts that replay it on a surface of their
// own.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "morvik/gdi/canvas.h"

enum class CanvasOp {
    Line,
    Polyline,
    Polygon,
    Beziers,
    Path,
    Rectangle,
    Ellipse,
    FillPath,
    FillRectangle,
    FillEllipse,
    Pixel,
    Clear,
    Image,
};

struct MORVIK_API CanvasRecord {
    CanvasOp op = CanvasOp::Line;
    // Device points. Rectangles and ellipses give two corners: (X, Y) and
    // (X + Width, Y + Height); a pixel gives its position.
    std::vector<Gdiplus::PointF> points;
    // Path types, for Path and FillPath.
    std::vector<BYTE> types;
    // Strokes: the pen.
    CanvasPen pen;
    // Fills: the brush; a pixel or a clear keeps its colour in brush.argb.
    CanvasBrush brush;
    Gdiplus::FillMode fillMode = Gdiplus::FillModeAlternate;
    // Images: the three corners in points, a copy of the pixels (shared
    // between copies of the record), and how it was sampled.
    int imageWidth = 0;
    int imageHeight = 0;
    std::shared_ptr<const std::vector<uint32_t>> imagePixels;
    bool imageSmooth = false;

    bool IsStroke() const { return op <= CanvasOp::Ellipse; }
};

class MORVIK_API RecordingCanvas : public ICanvas {
public:
    // A nominal size that GetDeviceCaps reports; 0 for none.
    explicit RecordingCanvas(int width = 0, int height = 0);

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }

    void DrawLine(const CanvasPen& pen, const Gdiplus::PointF& a, const Gdiplus::PointF& b) override;
    void DrawPolyline(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count, bool closed) override;
    void DrawBeziers(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count) override;
    void DrawPath(const CanvasPen& pen, const Gdiplus::PointF* points, const BYTE* types, size_t count) override;
    void DrawRectangle(const CanvasPen& pen, const Gdiplus::RectF& rect) override;
    void DrawEllipse(const CanvasPen& pen, const Gdiplus::RectF& rect) override;
    void FillPath(const CanvasBrush& brush, const Gdiplus::PointF* points, const BYTE* types, size_t count,
                  Gdiplus::FillMode mode) override;
    void FillRectangle(const CanvasBrush& brush, const Gdiplus::RectF& rect) override;
    void FillEllipse(const CanvasBrush& brush, const Gdiplus::RectF& rect) override;
    void DrawImage(const CanvasImage& image, const Gdiplus::PointF* dst, bool smooth) override;
    void SetPixel(int x, int y, uint32_t argb) override;
    void Clear(uint32_t argb) override;

    size_t Count() const;
    // A copy of record i; a default record when i is out of range.
    CanvasRecord At(size_t i) const;
    std::vector<CanvasRecord> Records() const;
    // Forgets everything recorded.
    void Reset();
    // One line per record, numbers in the C locale, for example
    // "line #FF000000 w=0 (10,20) (30,40)"; an image reads
    // "image 4x3 smooth (0,0) (8,0) (0,6)".
    std::string Dump() const;
    // Draws the records again, in order, on another canvas.
    void Replay(ICanvas& target) const;

    static const char* OpName(CanvasOp op);

private:
    void Add(CanvasRecord&& record);

    int m_width;
    int m_height;
    mutable std::mutex m_mutex;
    std::vector<CanvasRecord> m_records;
};
