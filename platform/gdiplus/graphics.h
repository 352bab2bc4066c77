// GDI+ drawing surface: draws with pens and brushes through a world
// transform onto the canvas of a device context (or any canvas).
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <memory>
#include <vector>

#include "morvik/gdi/canvas.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/matrix.h"
#include "morvik/gdiplus/pen.h"

namespace Gdiplus {

class Image;
enum Unit : int;

enum SmoothingMode {
    SmoothingModeInvalid = -1,
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
    SmoothingModeAntiAlias8x4 = SmoothingModeAntiAlias,
    SmoothingModeAntiAlias8x8 = 5,
};

enum TextRenderingHint {
    TextRenderingHintSystemDefault = 0,
    TextRenderingHintSingleBitPerPixelGridFit = 1,
    TextRenderingHintSingleBitPerPixel = 2,
    TextRenderingHintAntiAliasGridFit = 3,
    TextRenderingHintAntiAlias = 4,
    TextRenderingHintClearTypeGridFit = 5,
};

enum InterpolationMode {
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum PixelOffsetMode {
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

using GraphicsState = UINT;

class MORVIK_API Graphics {
public:
    // On the canvas of the device context behind the handle. An unknown
    // handle, or a device context without a canvas, gives a Graphics whose
    // drawing fails with InvalidParameter.
    explicit Graphics(HDC hdc);
    explicit Graphics(CDC* dc);
    // Directly on a canvas, which must outlive the Graphics.
    explicit Graphics(ICanvas* canvas);
    // Into the pixels of an image, which must outlive the Graphics. Unlike
    // GDI+ an indexed image is accepted: each pixel drawn becomes the
    // nearest colour of its palette. An invalid image gives a Graphics whose
    // drawing fails with InvalidParameter.
    explicit Graphics(Image* image);
    ~Graphics();
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    static Graphics* FromHDC(HDC hdc);
    static Graphics* FromImage(Image* image);

    ICanvas* GetCanvas() const { return m_canvas; }

    Status SetSmoothingMode(SmoothingMode mode);
    SmoothingMode GetSmoothingMode() const { return m_smoothing; }
    Status SetTextRenderingHint(TextRenderingHint hint);
    TextRenderingHint GetTextRenderingHint() const { return m_textHint; }
    Status SetInterpolationMode(InterpolationMode mode);
    InterpolationMode GetInterpolationMode() const { return m_interpolation; }
    Status SetPixelOffsetMode(PixelOffsetMode mode);
    PixelOffsetMode GetPixelOffsetMode() const { return m_pixelOffset; }

    // The world transform, from world coordinates to device units.
    Status SetTransform(const Matrix* matrix);
    Status GetTransform(Matrix* matrix) const;
    Status ResetTransform();
    Status MultiplyTransform(const Matrix* matrix, MatrixOrder order = MatrixOrderPrepend);
    Status TranslateTransform(REAL dx, REAL dy, MatrixOrder order = MatrixOrderPrepend);
    Status ScaleTransform(REAL sx, REAL sy, MatrixOrder order = MatrixOrderPrepend);
    Status RotateTransform(REAL angle, MatrixOrder order = MatrixOrderPrepend);

    // Saves the transform and the rendering settings; Restore returns to
    // them and forgets the states saved after.
    GraphicsState Save();
    Status Restore(GraphicsState state);

    Status DrawLine(const Pen* pen, const PointF& pt1, const PointF& pt2);
    Status DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2);
    Status DrawLine(const Pen* pen, const Point& pt1, const Point& pt2);
    Status DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2);
    // At least 2 points.
    Status DrawLines(const Pen* pen, const PointF* points, INT count);
    Status DrawLines(const Pen* pen, const Point* points, INT count);
    Status DrawBezier(const Pen* pen, const PointF& pt1, const PointF& pt2, const PointF& pt3, const PointF& pt4);
    Status DrawBezier(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2, REAL x3, REAL y3, REAL x4, REAL y4);
    Status DrawBezier(const Pen* pen, const Point& pt1, const Point& pt2, const Point& pt3, const Point& pt4);
    // 3k + 1 points with k >= 1.
    Status DrawBeziers(const Pen* pen, const PointF* points, INT count);
    Status DrawBeziers(const Pen* pen, const Point* points, INT count);
    // At least 2 points; the last is joined to the first.
    Status DrawPolygon(const Pen* pen, const PointF* points, INT count);
    Status DrawPolygon(const Pen* pen, const Point* points, INT count);
    // Rectangles are X, Y (smaller y edge), Width, Height.
    Status DrawRectangle(const Pen* pen, const RectF& rect);
    Status DrawRectangle(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
    Status DrawRectangle(const Pen* pen, const Rect& rect);
    Status DrawRectangle(const Pen* pen, INT x, INT y, INT width, INT height);
    Status DrawEllipse(const Pen* pen, const RectF& rect);
    Status DrawEllipse(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
    Status DrawEllipse(const Pen* pen, const Rect& rect);
    Status DrawEllipse(const Pen* pen, INT x, INT y, INT width, INT height);
    // Angles in degrees from +x toward +y.
    Status DrawArc(const Pen* pen, const RectF& rect, REAL startAngle, REAL sweepAngle);
    Status DrawArc(const Pen* pen, REAL x, REAL y, REAL width, REAL height, REAL startAngle, REAL sweepAngle);
    Status DrawArc(const Pen* pen, const Rect& rect, REAL startAngle, REAL sweepAngle);
    Status DrawPath(const Pen* pen, const GraphicsPath* path);

    Status FillRectangle(const Brush* brush, const RectF& rect);
    Status FillRectangle(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
    Status FillRectangle(const Brush* brush, const Rect& rect);
    Status FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height);
    Status FillEllipse(const Brush* brush, const RectF& rect);
    Status FillEllipse(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
    Status FillEllipse(const Brush* brush, const Rect& rect);
    Status FillEllipse(const Brush* brush, INT x, INT y, INT width, INT height);
    // At least 3 points.
    Status FillPolygon(const Brush* brush, const PointF* points, INT count, FillMode fillMode = FillModeAlternate);
    Status FillPolygon(const Brush* brush, const Point* points, INT count, FillMode fillMode = FillModeAlternate);
    // Under the path's own fill mode.
    Status FillPath(const Brush* brush, const GraphicsPath* path);

    Status Clear(const Color& color);

    // Images (defined with the images in bitmap.cpp). The whole image into a
    // rectangle, or onto the parallelogram of three points (upper-left,
    // upper-right, lower-left), or a source rectangle in pixels (srcUnit
    // must be UnitPixel) into a rectangle. The part of a source rectangle
    // outside the image is not drawn. Pixels are sampled smoothly unless the
    // interpolation mode is nearest neighbour. OutOfMemory when the pixels
    // cannot be copied for the surface.
    Status DrawImage(Image* image, const RectF& rect);
    Status DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height);
    Status DrawImage(Image* image, const Rect& rect);
    Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
    Status DrawImage(Image* image, const PointF* destPoints, INT count);
    Status DrawImage(Image* image, const RectF& destRect, REAL srcx, REAL srcy, REAL srcwidth, REAL srcheight,
                     Unit srcUnit);
    Status DrawImage(Image* image, const Rect& destRect, INT srcx, INT srcy, INT srcwidth, INT srcheight,
                     Unit srcUnit);

    // The status of the last failing call, then Ok again.
    Status GetLastStatus() const;

private:
    struct SavedState {
        GraphicsState id;
        Matrix transform;
        SmoothingMode smoothing;
        TextRenderingHint textHint;
        InterpolationMode interpolation;
        PixelOffsetMode pixelOffset;
    };

    Status SetStatus(Status s) const;
    Status CheckDraw(const void* tool) const;
    CanvasPen MakePen(const Pen* pen) const;
    CanvasBrush MakeBrush(const Brush* brush) const;
    std::vector<PointF> Map(const PointF* points, INT count) const;
    PointF Map(const PointF& p) const;
    // True when the transform keeps rectangles axis-aligned.
    bool AxisAligned() const;
    RectF MapRect(const RectF& rect) const;
    Status StrokeFigure(const Pen* pen, const GraphicsPath& path);
    Status FillFigure(const Brush* brush, const GraphicsPath& path);
    // The source rectangle (pixels) onto the parallelogram (world units).
    Status DrawImageCore(Image* image, const RectF& src, const PointF* dst);

    // The canvas over an image's pixels, when drawing into an image.
    std::unique_ptr<ICanvas> m_ownCanvas;
    ICanvas* m_canvas = nullptr;
    Matrix m_transform;
    SmoothingMode m_smoothing = SmoothingModeDefault;
    TextRenderingHint m_textHint = TextRenderingHintSystemDefault;
    InterpolationMode m_interpolation = InterpolationModeDefault;
    PixelOffsetMode m_pixelOffset = PixelOffsetModeDefault;
    std::vector<SavedState> m_saved;
    GraphicsState m_nextState = 1;
    mutable Status m_lastStatus = Ok;
};

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"
