// The sample host's barcodes: a QR code and an EAN-13 with its readable
// digits, laid out as barcode texts and filled with a close hatch, as a user
// marks them: a scanner reads dark modules, not their outlines.
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/core/morvik.h"
#include "demo_parts.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"

namespace {

CBaseShape* MakeCode(int id, const wchar_t* data, bool showText) {
    auto* text = new CFonts();
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    codebar.nCodeType = id;
    codebar.fModuleWidth = id == 58 ? 1.0f : 0.4f;
    codebar.fBarHeight = 16.0f;
    codebar.bShowText = showText ? 1 : 0;
    codebar.strTextFont = L"DejaVu Sans";
    codebar.dTextWidth = 1.4;
    codebar.dTextHeight = 3.0;
    const CString name = GetCodebarInstance()->GetTypeName(id);
    if (text->SetFonts(CString(data), 2, name, fonts, codebar, var, 1, 0, false) != 1) {
        delete text;
        return nullptr;
    }
    const unsigned char pen = static_cast<unsigned char>(id == 58 ? 3 : 4);
    text->SetPen(pen);
    // Lines along the bars of the EAN-13 keep their edges straight; the QR
    // code's square modules take lines across. The spacing is a tenth of a
    // module or finer, as a laser spot of about that size needs.
    FILLED_PARS fill;
    fill.fillParams[0].nFillType = 3;  // separate lines
    fill.fillParams[0].fLineSpacing = id == 58 ? 0.08 : 0.04;
    fill.fillParams[0].fAngle = id == 58 ? 0.0 : 90.0;
    fill.fillParams[0].nPenNum = pen;
    text->SetFill(fill, false);
    return text;
}

}  // namespace

std::vector<CBaseShape*> MakeDemoBarcodes() {
    std::vector<CBaseShape*> out;
    for (CBaseShape* s : {MakeCode(58, L"Morvik demo: QR code 0042", false), MakeCode(13, L"5901234123457", true)})
        if (s != nullptr) out.push_back(s);
    return out;
}
