// GDI+ value types: points, sizes and rectangles in float units, and the
// start-up/shut-down pair that library load calls.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <cstdint>

#include "morvik/win32/windows.h"

namespace Gdiplus {

using REAL = float;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    WrongState = 8,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
};

struct MORVIK_API PointF {
    REAL X = 0;
    REAL Y = 0;
    PointF() = default;
    PointF(REAL x, REAL y) : X(x), Y(y) {}
    PointF operator+(const PointF& o) const { return {X + o.X, Y + o.Y}; }
    PointF operator-(const PointF& o) const { return {X - o.X, Y - o.Y}; }
    bool Equals(const PointF& o) const { return X == o.X && Y == o.Y; }
};

struct MORVIK_API Point {
    INT X = 0;
    INT Y = 0;
    Point() = default;
    Point(INT x, INT y) : X(x), Y(y) {}
};

struct MORVIK_API Rect {
    INT X = 0;
    INT Y = 0;
    INT Width = 0;
    INT Height = 0;
    Rect() = default;
    Rect(INT x, INT y, INT w, INT h) : X(x), Y(y), Width(w), Height(h) {}
};

// How a path's interior is decided: even-odd crossings or non-zero winding.
enum FillMode {
    FillModeAlternate = 0,
    FillModeWinding = 1,
};

// Point types of a path: the low three bits give the segment kind, the high
// bits are flags on the point.
enum PathPointType {
    PathPointTypeStart = 0,
    PathPointTypeLine = 1,
    PathPointTypeBezier = 3,
    PathPointTypePathTypeMask = 0x07,
    PathPointTypeDashMode = 0x10,
    PathPointTypePathMarker = 0x20,
    PathPointTypeCloseSubpath = 0x80,
    PathPointTypeBezier3 = 3,
};

struct MORVIK_API SizeF {
    REAL Width = 0;
    REAL Height = 0;
    SizeF() = default;
    SizeF(REAL w, REAL h) : Width(w), Height(h) {}
    bool Empty() const { return Width == 0 && Height == 0; }
};

// A rectangle of X, Y, Width, Height. GDI+ itself reads Y as the smaller y
// edge; the shape library stores shape rectangles with Y the greater edge.
struct MORVIK_API RectF {
    REAL X = 0;
    REAL Y = 0;
    REAL Width = 0;
    REAL Height = 0;
    RectF() = default;
    RectF(REAL x, REAL y, REAL w, REAL h) : X(x), Y(y), Width(w), Height(h) {}
    RectF(const PointF& p, const SizeF& s) : X(p.X), Y(p.Y), Width(s.Width), Height(s.Height) {}
    REAL GetLeft() const { return X; }
    REAL GetTop() const { return Y; }
    REAL GetRight() const { return X + Width; }
    REAL GetBottom() const { return Y + Height; }
    bool IsEmptyArea() const { return Width <= 1.1920929e-07f || Height <= 1.1920929e-07f; }
    bool Equals(const RectF& o) const { return X == o.X && Y == o.Y && Width == o.Width && Height == o.Height; }
    // GDI+ containment: X <= x < X + Width and Y <= y < Y + Height.
    bool Contains(REAL x, REAL y) const { return x >= X && x < X + Width && y >= Y && y < Y + Height; }
    void Inflate(REAL dx, REAL dy) {
        X -= dx;
        Y -= dy;
        Width += 2 * dx;
        Height += 2 * dy;
    }
    void Offset(REAL dx, REAL dy) {
        X += dx;
        Y += dy;
    }
};

struct MORVIK_API GdiplusStartupInput {
    uint32_t GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};
struct MORVIK_API GdiplusStartupOutput {
    void* NotificationHook = nullptr;
    void* NotificationUnhook = nullptr;
};

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
void GdiplusShutdown(ULONG_PTR token);
// True between a start-up and its shut-down (start-ups nest).
bool GdiplusIsRunning();

}  // namespace Gdiplus

#include "morvik/afx/macros_restore.inc"
