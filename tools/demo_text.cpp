// The sample host's texts: a strip below the page of cells, with a text
// filled with a hatch on its left and a plain text on its right.
#include <algorithm>

#include "compose/filledshape.h"
#include "halder/basedoc.h"
#include "text/fonts.h"
#include "tools/demo_parts.h"

namespace {

constexpr float kStrip = 24.0f;  // mm
constexpr float kMargin = 3.0f;  // mm

// A text laid out at the origin with its left-top corner there.
CFonts* MakeText(const wchar_t* text, double height, unsigned char pen) {
    auto* t = new CFonts;
    t->parFonts.dHeight = height;
    t->parFonts.dWidthRatio = CFonts::kNaturalWidth;
    t->InitFontsPath({0.0f, 0.0f}, CString(text), CString(L"DejaVu Sans"), false);
    t->SetPen(pen);
    return t;
}

// Shrinks the shape to fit the box (never enlarges it) and centres it there.
void PlaceInBox(CBaseShape* shape, const Gdiplus::RectF& box) {
    Gdiplus::RectF r;
    shape->GetRectangle(r);
    const float scale = std::min({1.0f, (box.Width - 2 * kMargin) / std::max(r.Width, 1e-3f),
                                  (box.Height - 2 * kMargin) / std::max(r.Height, 1e-3f)});
    tagPOINTF centre{r.X + r.Width / 2, r.Y - r.Height / 2};
    if (scale < 1.0f) {
        shape->Zoom(centre, scale, scale);
        shape->GetRectangle(r);
        centre = {r.X + r.Width / 2, r.Y - r.Height / 2};
    }
    shape->Move(box.X + box.Width / 2 - centre.x, box.Y - box.Height / 2 - centre.y);
}

}  // namespace

bool AddDemoTexts(CBaseDoc& doc, CBaseView& view) {
    // The strip goes under what the view shows now (its origin is the
    // top-left corner, y up).
    const CSize client = view.GetClientSize();
    const float zoom = view.GetZoom();
    const tagPOINTF origin = view.GetOrigin();
    const float width = static_cast<float>(client.cx) / zoom;
    const float top = origin.y - static_cast<float>(client.cy) / zoom;
    view.SetClientSize(client.cx, client.cy + static_cast<int>(kStrip * zoom));
    const Gdiplus::RectF left(origin.x, top, width / 2, kStrip), right(origin.x + width / 2, top, width / 2, kStrip);

    CFonts* filled = MakeText(L"Morvik", 14.0, 2);
    CFonts* plain = MakeText(L"DejaVu Sans, 5 mm", 5.0, 4);
    bool all = true;
    for (CFonts* t : {filled, plain}) {
        all = all && !t->GetChars().empty();
        doc.AddShape(t);
        t->SetDocView(&doc, &view);
    }
    FILLED_PARS fill;
    fill.fillParams[0].nFillType = 3;  // separate lines
    fill.fillParams[0].fLineSpacing = 0.4;
    fill.fillParams[0].fAngle = 30.0;
    fill.fillParams[0].nPenNum = 8;
    filled->SetFill(fill, false);
    all = all && filled->bFilled != 0;
    PlaceInBox(filled, left);
    PlaceInBox(plain, right);
    return all;
}
