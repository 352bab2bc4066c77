// The drawing surface under CDC and Gdiplus::Graphics. Both reduce what they
// draw to a few primitives in device units (world transforms, GDI pens and
// brushes already applied) and hand them to a canvas: the recording canvas
// keeps them as a display list, the cairo canvas turns them into pixels.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <cstdint>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/gdiplus/pen.h"

// Binary raster operations of GDI's SetROP2.
constexpr int R2_BLACK = 1;
constexpr int R2_NOTMERGEPEN = 2;
constexpr int R2_MASKNOTPEN = 3;
constexpr int R2_NOTCOPYPEN = 4;
constexpr int R2_MASKPENNOT = 5;
constexpr int R2_NOT = 6;
constexpr int R2_XORPEN = 7;
constexpr int R2_NOTMASKPEN = 8;
constexpr int R2_MASKPEN = 9;
constexpr int R2_NOTXORPEN = 10;
constexpr int R2_NOP = 11;
constexpr int R2_MERGENOTPEN = 12;
constexpr int R2_COPYPEN = 13;
constexpr int R2_MERGEPENNOT = 14;
constexpr int R2_MERGEPEN = 15;
constexpr int R2_WHITE = 16;

// The result of a binary raster operation on one pen and one destination
// colour, bit by bit (RGB only: GDI has no alpha). rop - 1 is the truth table
// indexed by pen bit * 2 + destination bit.
inline uint32_t ApplyRop2(int rop, uint32_t pen, uint32_t dst) {
    const uint32_t t = static_cast<uint32_t>(rop - 1) & 0xF;
    uint32_t r = 0;
    if (t & 1) r |= ~pen & ~dst;
    if (t & 2) r |= ~pen & dst;
    if (t & 4) r |= pen & ~dst;
    if (t & 8) r |= pen & dst;
    return r & 0x00FFFFFFu;
}

// One end of an open figure.
struct MORVIK_API CanvasCap {
    // A Gdiplus::LineCap; LineCapCustom is an arrow head of the sizes below.
    Gdiplus::LineCap kind = Gdiplus::LineCapFlat;
    // Arrow length along the line and width across it, in pen widths.
    float arrowHeight = 0;
    float arrowWidth = 0;
    float arrowInset = 0;
    bool arrowFilled = true;
    bool operator==(const CanvasCap&) const = default;
};

struct MORVIK_API CanvasPen {
    uint32_t argb = 0xFF000000u;
    // Device units; 0 draws one device pixel.
    float width = 0;
    Gdiplus::DashStyle dash = Gdiplus::DashStyleSolid;
    CanvasCap startCap;
    CanvasCap endCap;
    int rop2 = R2_COPYPEN;
    bool antialias = false;
    bool operator==(const CanvasPen&) const = default;
};

struct MORVIK_API CanvasBrush {
    uint32_t argb = 0xFF000000u;
    int rop2 = R2_COPYPEN;
    bool antialias = false;
    bool operator==(const CanvasBrush&) const = default;
};

// A picture handed to a canvas: width * height straight (not premultiplied)
// ARGB pixels, rows top to bottom.
struct MORVIK_API CanvasImage {
    int width = 0;
    int height = 0;
    const uint32_t* argb = nullptr;
};

// Coordinates are device units, x to the right and y down; integer
// coordinates are pixel centres for strokes and pixel corners for fills, as
// in GDI+. Rectangles are X, Y (smaller y edge), Width, Height. Path types
// are those of Gdiplus::GraphicsPath. A canvas copes with any input: counts
// that do not fit a primitive, malformed type runs and non-finite numbers
// draw what can be drawn, never read beyond the arrays and never fail.
class MORVIK_API ICanvas {
public:
    virtual ~ICanvas() = default;

    // The surface size in pixels; 0 when it has none (a display list).
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    virtual void DrawLine(const CanvasPen& pen, const Gdiplus::PointF& a, const Gdiplus::PointF& b) = 0;
    // An open polyline, or a polygon when closed.
    virtual void DrawPolyline(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count, bool closed) = 0;
    // A chain of cubic Bezier segments: 1 + 3k points.
    virtual void DrawBeziers(const CanvasPen& pen, const Gdiplus::PointF* points, size_t count) = 0;
    virtual void DrawPath(const CanvasPen& pen, const Gdiplus::PointF* points, const BYTE* types, size_t count) = 0;
    // Outlines through the rectangle's corners / of the inscribed ellipse.
    virtual void DrawRectangle(const CanvasPen& pen, const Gdiplus::RectF& rect) = 0;
    virtual void DrawEllipse(const CanvasPen& pen, const Gdiplus::RectF& rect) = 0;

    // Every figure is filled as if closed.
    virtual void FillPath(const CanvasBrush& brush, const Gdiplus::PointF* points, const BYTE* types, size_t count,
                          Gdiplus::FillMode mode) = 0;
    virtual void FillRectangle(const CanvasBrush& brush, const Gdiplus::RectF& rect) = 0;
    virtual void FillEllipse(const CanvasBrush& brush, const Gdiplus::RectF& rect) = 0;

    // The image laid onto the parallelogram whose upper-left, upper-right and
    // lower-left corners are dst[0], dst[1] and dst[2], over what is there:
    // smooth blends neighbouring pixels (and averages them when shrinking),
    // otherwise each device pixel takes the nearest image pixel.
    virtual void DrawImage(const CanvasImage& image, const Gdiplus::PointF* dst, bool smooth) = 0;

    // One pixel, whatever the raster operation.
    virtual void SetPixel(int x, int y, uint32_t argb) = 0;
    // The whole surface becomes the colour.
    virtual void Clear(uint32_t argb) = 0;
};
