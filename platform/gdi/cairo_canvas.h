// A canvas that draws into a 32-bit ARGB image with cairo and writes it as a
// PNG file. The image starts white and opaque.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <string>
#include <vector>

#include "morvik/gdi/canvas.h"

struct _cairo;
struct _cairo_surface;

class MORVIK_API CairoCanvas : public ICanvas {
public:
    // Sizes from 1 to 32767 pixels a side (cairo's limit) and at most 2^28
    // pixels in all. Any other size gives an invalid canvas: it has no
    // pixels, draws nothing and writes no file.
    CairoCanvas(int width, int height);
    ~CairoCanvas() override;
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    bool IsValid() const { return m_surface != nullptr; }
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

    // The pixel as straight (not premultiplied) ARGB; 0 outside the image.
    uint32_t GetPixel(int x, int y) const;
    // Writes the image as a PNG file (UTF-8 path); false when the canvas is
    // invalid or the file cannot be written.
    bool WriteToPng(const std::string& path) const;

    // Reads a PNG file into straight ARGB pixels, row by row; false (and the
    // outputs emptied) when the file is missing or not a PNG.
    static bool ReadPng(const std::string& path, int& width, int& height, std::vector<uint32_t>& pixels);

private:
    int m_width = 0;
    int m_height = 0;
    _cairo_surface* m_surface = nullptr;
    _cairo* m_cr = nullptr;
};
