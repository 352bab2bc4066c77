#include "gdiplus/pen.h"
#include "halder/baseshape.h"

void CBaseShape::SetPenArrow(Gdiplus::Graphics*, Gdiplus::Pen* pen) {
    if (pen == nullptr) {
        return;
    }
    // The arrow at the end of each drawn path shows the marking direction.
    Gdiplus::AdjustableArrowCap arrow(4.0f, 4.0f, TRUE);
    pen->SetCustomEndCap(&arrow);
}
