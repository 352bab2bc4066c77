// The barcode engine with any data, symbology and options: set up, check,
// encode and draw must fail cleanly or give modules inside the symbol. With
// bit 2 of the second byte, a barcode text instead: every number of its
// barcode record from the input (any bit pattern); the text is built with
// finite outlines or refused with none.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <filesystem>
#include <memory>
#include <unistd.h>

#include "morvik/codebar/codebar.h"
#include "morvik/core/morvik.h"
#include "morvik/core/runlog.h"
#include "fuzz_support.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"

namespace {

struct Bounds {
    int columns = 0;
    int rows = 0;
    double mm = 1.0;
    int notch = 1;
};

LONG CheckBar(void* context, DWORD, double x, double y, double w, double h) {
    const Bounds& b = *static_cast<const Bounds*>(context);
    // Inside the symbol: rows at most 3 modules high (PDF417), linear bars
    // at most the notch height.
    const double tol = 1e-9 * std::max(1.0, b.columns * b.mm);
    fuzzsupport::Check(std::isfinite(x) && std::isfinite(y) && std::isfinite(w) && std::isfinite(h) && w > 0 &&
                       h > 0 && x >= 0 && y >= 0 && x + w <= b.columns * b.mm + tol &&
                       y <= 3.0 * b.rows * b.mm + tol && h <= std::max(3.0 * b.mm, static_cast<double>(b.notch)) + tol);
    return 0;
}

}  // namespace

// Reads a value of type T from the front of the input.
template <class T>
T Take(const uint8_t*& data, size_t& size) {
    T v{};
    if (size >= sizeof v) {
        std::memcpy(&v, data, sizeof v);
        data += sizeof v;
        size -= sizeof v;
    }
    return v;
}

// A barcode text of an offered symbology built from the input's numbers.
void FuzzText(uint8_t selector, const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("fuzz-codebar-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        RunLog::Instance(nullptr)->SetLogFolder(CString((dir.string() + "/").c_str()));
        SetHost(std::make_shared<fuzzsupport::SilentHost>());
        return true;
    }();
    (void)quiet;
    const std::vector<int>& ids = GetCodebarInstance()->GetSymbologyList();
    const int id = ids[selector % ids.size()];
    if (id == CMyCodebar::kTolcode) return;  // no encoder installed
    CODEBAR_PAR p;
    p.nCodeType = id;
    p.fBarHeight = Take<float>(data, size);
    p.fModuleWidth = Take<float>(data, size);
    p.fFixWidth = Take<float>(data, size);
    p.fFixHeight = Take<float>(data, size);
    p.fLogoRatio = Take<float>(data, size);
    p.dTextHeight = Take<double>(data, size);
    p.dTextWidth = Take<double>(data, size);
    p.dTextOffsetX = Take<double>(data, size);
    p.dTextOffsetY = Take<double>(data, size);
    p.dTextSpace = Take<double>(data, size);
    p.n2DVersion = Take<int16_t>(data, size);
    p.n2DECLevel = Take<int16_t>(data, size);
    p.nPDF417Rows = Take<int16_t>(data, size);
    p.nPDF417Cols = Take<int16_t>(data, size);
    p.nModuleWidthPct = Take<int8_t>(data, size);
    p.nModuleHeightPct = Take<int8_t>(data, size);
    const uint8_t switches = Take<uint8_t>(data, size);
    p.bShowText = switches & 1;
    p.bFixSize = (switches >> 1) & 1;
    p.bLogo = (switches >> 2) & 1;
    p.bInverse = (switches >> 3) & 1;
    p.bRectModule = (switches >> 4) & 1;
    p.bCircleModule = (switches >> 5) & 1;
    p.bPointModule = (switches >> 6) & 1;
    p.strTextFont = L"DejaVu Sans";
    std::wstring text;
    for (size_t i = 0; i < size && text.size() < 48; ++i) text += static_cast<wchar_t>(data[i]);
    CFonts t;
    FONTS_PAR fonts;
    VARTEXT_PAR var;
    const CString name = GetCodebarInstance()->GetTypeName(id);
    if (t.SetFonts(CString(text.c_str()), 2, name, fonts, p, var, 1, 0, false) != 1) {
        // Refused: nothing was built.
        for (const FONTSCHAR* ch : t.GetChars()) fuzzsupport::Check(ch == nullptr || ch->points.empty());
        return;
    }
    for (const FONTSCHAR* ch : t.GetChars())
        if (ch != nullptr)
            for (const tagPOINTF& q : ch->points) fuzzsupport::Check(std::isfinite(q.x) && std::isfinite(q.y));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr int kTypes[] = {3,  7,  8,  10, 13,  16,  18,  20,  25,  34,  37, 55, 58,
                                     59, 60, 61, 71, 92, 116, 124, 125, 126, 127, 128, 0,  9999};
    static constexpr int kCodePages[] = {0, 65001, 1252, 936, 932, 437, 20127, -1, 987654};
    tag_BarCode* h = nullptr;
    if (size < 4 || BCAlloc(&h) != S_OK) return 0;
    const uint8_t selector = Take<uint8_t>(data, size);
    const uint8_t flags = Take<uint8_t>(data, size);
    if ((flags & 4) != 0) {
        BCFree(h);
        FuzzText(selector, data, size);
        return 0;
    }
    const wchar_t formats[][2] = {L"", L"A", L"B", L"C"};
    BCSetFormatW(h, formats[flags & 3]);
    BCSetBCType(h, kTypes[selector % (sizeof kTypes / sizeof kTypes[0])]);
    // The numbers a caller passes, any bit pattern: the module width as the
    // caller formats it (NaN, infinities, zero, negative, huge), the notch
    // height and every option.
    const double widthMm = Take<double>(data, size);
    wchar_t width[64];
    std::swprintf(width, 64, L"%.2f", widthMm * 1000.0);
    // A width that is no size is refused; then the engine keeps 1 mm.
    const bool widthOk = BCSetModWidthW(h, width) == S_OK;
    if (!widthOk && (flags & 8) != 0) BCSetModWidthW(h, L"1000.00");
    const bool widthSet = widthOk || (flags & 8) != 0;
    const double mm = widthOk ? std::wcstod(width, nullptr) / 1000.0 : 1.0;
    const int notch = Take<int32_t>(data, size);
    BCSetNotchHeight(h, notch);
    const int16_t option = Take<int16_t>(data, size);
    const int16_t option2 = Take<int16_t>(data, size);
    BCSet_QR_Version(h, option);
    BCSet_QR_ECLevel(h, option2);
    BCSet_DM_Size(h, option);
    BCSet_HanXin_Version(h, option);
    BCSet_HanXin_ECLevel(h, option2);
    BCSet_PDF417_Columns(h, option);
    BCSet_PDF417_Rows(h, option2);
    BCSet_PDF417_ECLevel(h, option2);
    BCSetCodePage(h, kCodePages[(flags >> 4) % (sizeof kCodePages / sizeof kCodePages[0])]);
    // The rest: characters of two bytes each (any value, surrogates too).
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    BCSetTextW(h, text.data(), static_cast<int>(text.size()));
    const HRESULT check = BCCheck(h);
    const HRESULT created = BCCreate(h);
    fuzzsupport::Check(widthSet || (check != S_OK && created != S_OK));  // a refused width never builds
    if (check == S_OK && created == S_OK) {
        Bounds b;
        BCGetSymbolSize(h, &b.columns, &b.rows);
        b.mm = mm;
        b.notch = std::max(1, notch);
        BCSetCBData(h, &b);
        BCSetFuncDrawBar(h, CheckBar);
        BCDrawCB(h, nullptr, nullptr);
        fuzzsupport::Check(BCGetReadableTextW(h) != nullptr);
    } else {
        const int pos = BCGetInvalidDataPos(h);
        fuzzsupport::Check(pos >= -1 && pos < static_cast<int>(text.size()));
        if (created == BCERR_WRONG_LENGTH && text.size() < 64) fuzzsupport::Check(BCGetMaxLenOfText(h) >= 0);
    }
    wchar_t message[100];
    BCGetErrorTextW(BCCreate(h), message, 100);
    BCFree(h);
    return 0;
}
