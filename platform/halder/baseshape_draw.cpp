#include <algorithm>

#include "morvik/afx/cgeom.h"
#include "morvik/core/geometry.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"

void CBaseShape::SetPenArrow(Gdiplus::Graphics*, Gdiplus::Pen* pen) {
    if (pen == nullptr) {
        return;
    }
    // The arrow at the end of each drawn path shows the marking direction.
    Gdiplus::AdjustableArrowCap arrow(4.0f, 4.0f, TRUE);
    pen->SetCustomEndCap(&arrow);
}

void CBaseShape::DrawPointHandles(CDC* dc, std::span<const tagPOINTF> points, bool markStart) {
    if (dc == nullptr || m_pView == nullptr) {
        return;
    }
    constexpr int kHandleHalf = 3;
    CGdiObject* previous = dc->SelectStockObject(HOLLOW_BRUSH);
    for (size_t i = 0; i < points.size(); ++i) {
        CPoint c;
        m_pView->LP2DP(points[i], c, 0);
        const int half = kHandleHalf + (markStart && i == 0 ? 1 : 0);
        const int x = geom::ClampPixel(c.x);
        const int y = geom::ClampPixel(c.y);
        dc->Rectangle(x - half, y - half, x + half, y + half);
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
}
