// The barcode engine with any data, symbology and options: set up, check,
// encode and draw must fail cleanly or give modules inside the symbol.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codebar/codebar.h"

namespace {

struct Bounds {
    int columns = 0;
    int rows = 0;
};

LONG CheckBar(void* context, DWORD, double x, double y, double w, double h) {
    const Bounds& b = *static_cast<const Bounds*>(context);
    // Module width 1 mm; rows at most 3 mm (PDF417), linear bars 1..255 mm.
    if (!std::isfinite(x) || !std::isfinite(y) || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > b.columns + 1e-9 ||
        y > 3.0 * b.rows + 1e-9) {
        std::abort();
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr int kTypes[] = {3,  7,  8,  10, 13,  16,  18,  20,  25,  34,  37, 55, 58,
                                     59, 60, 61, 71, 92, 116, 124, 125, 126, 127, 128, 0,  9999};
    if (size < 4) {
        return 0;
    }
    tag_BarCode* h = nullptr;
    if (BCAlloc(&h) != S_OK) {
        return 0;
    }
    const wchar_t formats[][2] = {L"", L"A", L"B", L"C"};
    BCSetFormatW(h, formats[data[1] & 3]);
    BCSetBCType(h, kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])]);
    BCSetModWidthW(h, L"1000.00");
    BCSetNotchHeight(h, data[2]);
    const int option = static_cast<int8_t>(data[3]);
    BCSet_QR_Version(h, option);
    BCSet_QR_ECLevel(h, option & 7);
    BCSet_DM_Size(h, option);
    BCSet_HanXin_Version(h, option);
    BCSet_PDF417_Columns(h, option & 31);
    BCSet_PDF417_Rows(h, option);
    BCSet_PDF417_ECLevel(h, option & 15);
    BCSetCodePage(h, (data[1] & 4) ? 65001 : 0);
    // The rest: characters of two bytes each (any value, surrogates too).
    std::wstring text;
    for (size_t i = 4; i + 1 < size; i += 2) {
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    BCSetTextW(h, text.data(), static_cast<int>(text.size()));
    if (BCCheck(h) == S_OK && BCCreate(h) == S_OK) {
        Bounds b;
        BCGetSymbolSize(h, &b.columns, &b.rows);
        BCSetCBData(h, &b);
        BCSetFuncDrawBar(h, CheckBar);
        BCDrawCB(h, nullptr, nullptr);
    } else {
        const int pos = BCGetInvalidDataPos(h);
        if (pos < -1 || pos >= static_cast<int>(text.size())) {
            std::abort();
        }
    }
    wchar_t message[100];
    BCGetErrorTextW(BCCreate(h), message, 100);
    BCFree(h);
    return 0;
}
