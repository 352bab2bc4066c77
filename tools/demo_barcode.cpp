// The sample host's barcodes: a QR code and an EAN-13 with its readable
// digits, laid out as barcode texts.
#include <vector>

#include "core/morvik.h"
#include "demo_parts.h"
#include "text/fonts.h"
#include "text/mycodebar.h"

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
    text->SetPen(static_cast<unsigned char>(id == 58 ? 3 : 4));
    return text;
}

}  // namespace

std::vector<CBaseShape*> MakeDemoBarcodes() {
    std::vector<CBaseShape*> out;
    for (CBaseShape* s : {MakeCode(58, L"Morvik demo: QR code 0042", false), MakeCode(13, L"5901234123457", true)})
        if (s != nullptr) out.push_back(s);
    return out;
}
