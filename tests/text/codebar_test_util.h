// A barcode text made the way the barcode tests need it.
#pragma once

#include <functional>
#include <string>

#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "text/text_test_util.h"

namespace text_test {

using CodebarTweak = std::function<void(CODEBAR_PAR&)>;

// A barcode text of symbology id laid out through SetFonts: modules of
// 0.3 mm, bars 10 mm high, no readable text unless the tweak asks for it.
// Null when the layout fails.
inline TextPtr MakeCode(int id, const std::wstring& data, const CodebarTweak& tweak = nullptr) {
    TextPtr t(new CFonts());
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    codebar.nCodeType = id;
    codebar.bShowText = 0;
    codebar.fModuleWidth = 0.3f;
    codebar.fBarHeight = 10.0f;
    codebar.strTextFont = L"DejaVu Sans";
    if (tweak) tweak(codebar);
    const CString name = GetCodebarInstance()->GetTypeName(id);
    if (t->SetFonts(CString(data.c_str()), 2, name, fonts, codebar, var, 1, 0, false) != 1) return nullptr;
    return t;
}

}  // namespace text_test
