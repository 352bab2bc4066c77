// The sample host's texts: a text filled with a hatch and a plain text of two
// lines, both in DejaVu Sans.
#include "morvik/compose/filledshape.h"
#include "demo_parts.h"
#include "morvik/text/fonts.h"

namespace {

// A text laid out at the origin.
CFonts* MakeText(const wchar_t* text, double height, unsigned char pen) {
    auto* t = new CFonts;
    t->parFonts.dHeight = height;
    t->parFonts.dWidthRatio = CFonts::kNaturalWidth;
    t->InitFontsPath({0.0f, 0.0f}, CString(text), CString(L"DejaVu Sans"), false);
    t->SetPen(pen);
    return t;
}

}  // namespace

std::vector<CBaseShape*> MakeDemoTexts() {
    CFonts* filled = MakeText(L"Morvik", 9.0, 2);
    CFonts* plain = MakeText(L"DejaVu Sans\n4 mm", 4.0, 4);
    FILLED_PARS fill;
    fill.fillParams[0].nFillType = 3;  // separate lines
    fill.fillParams[0].fLineSpacing = 0.3;
    fill.fillParams[0].fAngle = 30.0;
    fill.fillParams[0].nPenNum = 8;
    filled->SetFill(fill, false);
    return {filled, plain};
}
