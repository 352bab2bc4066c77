// MFC's integer geometry: CPoint, CSize, CRect over their Win32 structs.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <utility>

#include "morvik/win32/windows.h"

class MORVIK_API CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(LONG px, LONG py) : POINT{px, py} {}
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
    bool operator!=(const CPoint& o) const { return !(*this == o); }
    CPoint operator+(const CPoint& o) const { return CPoint(x + o.x, y + o.y); }
    CPoint operator-(const CPoint& o) const { return CPoint(x - o.x, y - o.y); }
    void Offset(LONG dx, LONG dy) {
        x += dx;
        y += dy;
    }
};

class MORVIK_API CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(LONG w, LONG h) : SIZE{w, h} {}
};

class MORVIK_API CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool PtInRect(const POINT& p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void NormalizeRect() {
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
    }
    void InflateRect(LONG dx, LONG dy) {
        left -= dx;
        top -= dy;
        right += dx;
        bottom += dy;
    }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
};
