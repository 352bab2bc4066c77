#include "morvik/codebar/codebar.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "morvik/codebar/codebar_internal.h"

using namespace codebar;

struct tag_BarCode {
    int type = kCode128Auto;
    char format = 0;
    bool formatFresh = false;
    double moduleMm = 0.25;
    int notch = 10;
    UINT codePage = 0;
    int qrLevel = -1;
    int qrVersion = 0;
    int dmSize = 0;
    int hanXinVersion = 0;
    int hanXinLevel = -1;
    int pdfColumns = 0;
    int pdfRows = 0;
    int pdfLevel = -1;
    // A module width or code page that was refused: the build fails until
    // a valid one is set, rather than keep the value of an earlier build.
    bool widthRefused = false;
    bool codePageRefused = false;
    std::wstring text;
    bool hasText = false;
    int invalidPos = -1;
    // Why the last check or encoding failed, when the code alone does not
    // say it; the readable text of the last encoded symbol.
    std::wstring detail;
    std::wstring readable;
    void* context = nullptr;
    BCDrawBarFunc drawBar = nullptr;
    // The encoded symbol: columns x rows modules, row by row (1 dark), and
    // for linear codes the columns whose bars are drawn at full height.
    bool created = false;
    bool linear = false;
    int columns = 0;
    int rows = 0;
    std::vector<uint8_t> modules;
    std::vector<uint8_t> fullHeight;
};

namespace {

// zint's number of the engine's symbology ids that differ.
int ZintSymbology(int type) {
    switch (type) {
    case kEan8: return BARCODE_EANX;
    case kGridMatrix: return BARCODE_GRIDMATRIX;
    case kMicroQr: return BARCODE_MICROQR;
    case kRmqr: return BARCODE_RMQR;
    default: return type;
    }
}

int InRange(int value, int low, int high, int otherwise) { return value >= low && value <= high ? value : otherwise; }

void SetZintOptions(const tag_BarCode& h, zint_symbol& s) {
    switch (h.type) {
    case kQr:
        s.option_1 = InRange(h.qrLevel + 1, 1, 4, -1);
        s.option_2 = InRange(h.qrVersion, 1, 40, 0);
        break;
    case kDataMatrix:
        s.option_2 = InRange(h.dmSize, 1, 48, 0);
        s.option_3 = s.option_2 > 30 ? DM_DMRE : DM_SQUARE;
        if (s.option_2 >= 25 && s.option_2 <= 30) {
            s.option_3 = 0;
        }
        break;
    case kHanXin:
        s.option_1 = InRange(h.hanXinLevel + 1, 1, 4, 0);
        s.option_2 = InRange(h.hanXinVersion, 1, 84, 0);
        break;
    case kPdf417:
        s.option_1 = InRange(h.pdfLevel, 0, 8, -1);
        s.option_2 = InRange(h.pdfColumns, 1, 30, 0);
        s.option_3 = InRange(h.pdfRows, 3, 90, 0);
        break;
    default:
        break;
    }
}

// Columns of the bars that keep the full height: the guard bars of EAN and
// UPC, and for UPC-A the bars of its first and last digit as well.
void MarkFullHeight(tag_BarCode& h) {
    h.fullHeight.assign(static_cast<size_t>(h.columns), 1);
    struct Range {
        int from, to;
    };
    std::vector<Range> ranges;
    switch (h.type) {
    case kEan13: ranges = {{0, 2}, {45, 49}, {92, 94}}; break;
    case kEan8: ranges = {{0, 2}, {31, 35}, {64, 66}}; break;
    case kUpcA: ranges = {{0, 9}, {45, 49}, {85, 94}}; break;
    case kUpcE: ranges = {{0, 2}, {45, 50}}; break;
    default: return;
    }
    std::fill(h.fullHeight.begin(), h.fullHeight.end(), 0);
    for (const Range& r : ranges) {
        for (int c = r.from; c <= r.to && c < h.columns; ++c) {
            h.fullHeight[static_cast<size_t>(c)] = 1;
        }
    }
}

// A refused setting fails the build.
HRESULT CheckSettings(tag_BarCode& h) {
    if (h.widthRefused) {
        h.detail = L"The module width is not a positive size.";
        return E_INVALIDARG;
    }
    if (h.codePageRefused && Is2D(h.type)) {
        h.detail = L"The code page is not known.";
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Prepare(tag_BarCode& h, Prepared& data) {
    h.detail.clear();
    HRESULT hr = CheckSettings(h);
    if (hr != S_OK) {
        h.invalidPos = -1;
        return hr;
    }
    hr = PrepareData(h.type, h.text, h.hasText, h.codePage, h.format, data, h.invalidPos);
    if (hr != S_OK) {
        h.detail = data.detail;
    }
    return hr;
}

struct Symbol {
    int columns = 0;
    int rows = 0;
    std::vector<uint8_t> modules;
};

HRESULT EncodeWithZint(const tag_BarCode& h, const Prepared& data, Symbol& out, std::wstring* detail) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> s(ZBarcode_Create(), ZBarcode_Delete);
    if (!s) {
        return E_OUTOFMEMORY;
    }
    s->symbology = ZintSymbology(h.type);
    s->input_mode = DATA_MODE;
    s->show_hrt = 0;
    SetZintOptions(h, *s);
    const int result = ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(data.bytes.data()),
                                       static_cast<int>(data.bytes.size()));
    if (result >= ZINT_ERROR) {
        if (detail != nullptr) {
            const size_t n = strnlen(s->errtxt, sizeof s->errtxt);
            detail->assign(s->errtxt, s->errtxt + n);
        }
        switch (result) {
        case ZINT_ERROR_TOO_LONG: return BCERR_WRONG_LENGTH;
        case ZINT_ERROR_INVALID_DATA:
        case ZINT_ERROR_INVALID_CHECK: return BCERR_INVALID_DATA;
        case ZINT_ERROR_MEMORY: return E_OUTOFMEMORY;
        default: return E_FAIL;
        }
    }
    constexpr int kMaxRows = static_cast<int>(sizeof s->encoded_data / sizeof s->encoded_data[0]);
    constexpr int kMaxColumns = static_cast<int>(sizeof s->encoded_data[0]) * 8;
    if (s->rows <= 0 || s->width <= 0 || s->rows > kMaxRows || s->width > kMaxColumns) {
        return E_FAIL;
    }
    out.columns = s->width;
    out.rows = s->rows;
    out.modules.assign(static_cast<size_t>(out.columns) * static_cast<size_t>(out.rows), 0);
    for (int r = 0; r < out.rows; ++r) {
        for (int c = 0; c < out.columns; ++c) {
            // Modules are bit-packed, eight to a byte, lowest bit first.
            out.modules[static_cast<size_t>(r) * out.columns + c] = (s->encoded_data[r][c >> 3] >> (c & 7)) & 1;
        }
    }
    return S_OK;
}

HRESULT Create(tag_BarCode& h) {
    h.created = false;
    h.formatFresh = false;
    h.columns = h.rows = 0;
    h.modules.clear();
    h.fullHeight.clear();
    h.readable.clear();
    Prepared data;
    const HRESULT check = Prepare(h, data);
    if (check != S_OK) {
        return check;
    }
    if (data.drawsNothing) {
        h.created = true;
        return S_OK;
    }
    if (data.ownCode128) {
        try {
            h.modules = EncodeCode128(data.items, data.subset, h.type == kEan128);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        h.columns = static_cast<int>(h.modules.size());
        h.rows = 1;
    } else {
        Symbol symbol;
        const HRESULT hr = EncodeWithZint(h, data, symbol, &h.detail);
        if (hr != S_OK) {
            return hr;
        }
        h.columns = symbol.columns;
        h.rows = symbol.rows;
        h.modules = std::move(symbol.modules);
    }
    h.linear = !Is2D(h.type);
    if (h.linear) {
        h.rows = 1;  // zint's linear symbols of one row; stacked ones are not offered
        h.modules.resize(static_cast<size_t>(h.columns));
        MarkFullHeight(h);
    }
    h.readable = std::move(data.readable);
    h.created = true;
    return S_OK;
}

// Whether the first n characters of the handle's data encode with its
// symbology and options.
bool PrefixFits(const tag_BarCode& h, size_t n) {
    Prepared data;
    int invalidPos = -1;
    if (PrepareData(h.type, h.text.substr(0, n), n > 0, h.codePage, h.format, data, invalidPos) != S_OK) {
        return false;
    }
    if (data.drawsNothing || data.ownCode128) {
        return true;
    }
    Symbol symbol;
    return EncodeWithZint(h, data, symbol, nullptr) == S_OK;
}

// One call per bar (a run of dark modules); guard bars at full height.
void DrawLinear(int notch, double moduleMm, BCDrawBarFunc draw, void* context, const std::vector<uint8_t>& modules,
                const std::vector<uint8_t>& fullHeight) {
    const double full = std::max(1, notch);
    const double shorter = full - std::min(5.0 * moduleMm, full / 4.0);
    const size_t columns = std::min(modules.size(), fullHeight.size());
    size_t c = 0;
    while (c < columns) {
        if (modules[c] == 0) {
            ++c;
            continue;
        }
        size_t end = c;
        while (end < columns && modules[end] != 0) {
            ++end;
        }
        const double height = fullHeight[c] != 0 ? full : shorter;
        draw(context, 0, static_cast<double>(c) * moduleMm, 0.0, static_cast<double>(end - c) * moduleMm, height);
        c = end;
    }
}

// Stores one setting of a handle.
template <class T, class V>
HRESULT SetMember(tag_BarCode* h, T tag_BarCode::*member, V value) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    h->*member = value;
    return S_OK;
}

const wchar_t* const* TypeNames() {
    static const std::vector<const wchar_t*> names = [] {
        std::vector<const wchar_t*> v(kSymbologyCount, L"");
        v[kItf] = L"Interleaved 2 of 5";
        v[kCode25] = L"Industrial 2 of 5";
        v[kCode39] = L"Code 39";
        v[kEan8] = L"EAN 8";
        v[kEan13] = L"EAN 13";
        v[kEan128] = L"EAN 128";
        v[kCodabar] = L"Codabar";
        v[kCode128Auto] = L"Code 128";
        v[kCode93] = L"Code 93";
        v[kUpcA] = L"UPC-A";
        v[kUpcE] = L"UPC-E";
        v[kPdf417] = L"PDF417";
        v[kQr] = L"QR Code";
        v[kCode128A] = L"Code 128 A";
        v[kCode128B] = L"Code 128 B";
        v[kCode128C] = L"Code 128 C";
        v[kDataMatrix] = L"Data Matrix";
        v[kAztec] = L"Aztec Code";
        v[kHanXin] = L"Han Xin Code";
        v[kGridMatrix] = L"Grid Matrix";
        v[kMicroQr] = L"Micro QR Code";
        v[kRmqr] = L"rMQR Code";
        return v;
    }();
    return names.data();
}

}  // namespace

extern "C" {

HRESULT BCAlloc(tag_BarCode** handle) {
    if (handle == nullptr) {
        return BCERR_NULL_POINTER;
    }
    *handle = new (std::nothrow) tag_BarCode;
    return *handle != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT BCFree(tag_BarCode* handle) {
    delete handle;
    return S_OK;
}

int BCGetBCCount() { return kSymbologyCount; }

const wchar_t* const* BCGetBCListW() { return TypeNames(); }

HRESULT BCSetFormatW(tag_BarCode* h, const wchar_t* format) {
    if (h == nullptr || format == nullptr) {
        return BCERR_NULL_POINTER;
    }
    if (format[0] == 0) {
        h->format = 0;
    } else if (format[1] == 0 && format[0] >= L'A' && format[0] <= L'C') {
        h->format = static_cast<char>(format[0]);
    } else {
        return E_INVALIDARG;
    }
    h->formatFresh = true;
    return S_OK;
}

HRESULT BCSetBCType(tag_BarCode* h, int type) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    if (!h->formatFresh) {
        h->format = 0;
    }
    h->formatFresh = false;
    h->created = false;
    if (!IsKnown(type)) {
        // No symbology: nothing builds until a known one is set (the
        // previous one does not stay in force).
        h->type = -1;
        return E_INVALIDARG;
    }
    h->type = type;
    h->created = false;
    return S_OK;
}

int BCGetBCType(tag_BarCode* h) { return h != nullptr ? h->type : -1; }

HRESULT BCSetModWidthW(tag_BarCode* h, const wchar_t* width) {
    if (h == nullptr || width == nullptr) {
        return BCERR_NULL_POINTER;
    }
    wchar_t* end = nullptr;
    const double micrometres = std::wcstod(width, &end);
    if (end == width || !std::isfinite(micrometres) || micrometres <= 0.0 || micrometres > 1e6) {
        h->widthRefused = true;
        return E_INVALIDARG;
    }
    h->moduleMm = micrometres / 1000.0;
    h->widthRefused = false;
    return S_OK;
}

HRESULT BCSetNotchHeight(tag_BarCode* h, int height) { return SetMember(h, &tag_BarCode::notch, height); }

HRESULT BCSetRatioW(tag_BarCode* h, const wchar_t* ratio) {
    return h == nullptr || ratio == nullptr ? BCERR_NULL_POINTER : S_OK;
}

HRESULT BCSetCodePage(tag_BarCode* h, int codePage) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    // A code page the conversion does not know is refused, and so are the
    // two-dimensional codes built until a known one is set.
    char probe[8];
    const wchar_t a = L'A';
    if (codePage < 0 || WideCharToMultiByte(static_cast<UINT>(codePage), 0, &a, 1, probe, sizeof probe, nullptr,
                                            nullptr) <= 0) {
        h->codePageRefused = true;
        return E_INVALIDARG;
    }
    h->codePage = static_cast<UINT>(codePage);
    h->codePageRefused = false;
    return S_OK;
}

HRESULT BCSet_QR_ECLevel(tag_BarCode* h, int level) { return SetMember(h, &tag_BarCode::qrLevel, level); }
HRESULT BCSet_QR_Version(tag_BarCode* h, int version) { return SetMember(h, &tag_BarCode::qrVersion, version); }
HRESULT BCSet_DM_Size(tag_BarCode* h, int size) { return SetMember(h, &tag_BarCode::dmSize, size); }
HRESULT BCSet_HanXin_Version(tag_BarCode* h, int version) {
    return SetMember(h, &tag_BarCode::hanXinVersion, version);
}
HRESULT BCSet_HanXin_ECLevel(tag_BarCode* h, int level) { return SetMember(h, &tag_BarCode::hanXinLevel, level); }
HRESULT BCSet_PDF417_Columns(tag_BarCode* h, int columns) { return SetMember(h, &tag_BarCode::pdfColumns, columns); }
HRESULT BCSet_PDF417_Rows(tag_BarCode* h, int rows) { return SetMember(h, &tag_BarCode::pdfRows, rows); }
HRESULT BCSet_PDF417_ECLevel(tag_BarCode* h, int level) { return SetMember(h, &tag_BarCode::pdfLevel, level); }

HRESULT BCSet_Aztec_AppendActive(tag_BarCode* h, int) { return h == nullptr ? BCERR_NULL_POINTER : S_OK; }

HRESULT BCSetTextW(tag_BarCode* h, const wchar_t* text, int length) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    h->created = false;
    h->formatFresh = false;
    h->invalidPos = -1;
    if (text == nullptr) {
        h->text.clear();
        h->hasText = false;
        return S_OK;
    }
    const size_t n = length < 0 ? std::wcslen(text) : static_cast<size_t>(length);
    try {
        h->text.assign(text, n);
    } catch (const std::bad_alloc&) {
        h->text.clear();
        h->hasText = false;
        return E_OUTOFMEMORY;
    }
    h->hasText = n > 0;
    return S_OK;
}

const wchar_t* BCGetTextW(tag_BarCode* h) { return h != nullptr && h->hasText ? h->text.c_str() : nullptr; }

HRESULT BCCheck(tag_BarCode* h) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    h->formatFresh = false;
    Prepared data;
    return Prepare(*h, data);
}

HRESULT BCCreate(tag_BarCode* h) { return h == nullptr ? BCERR_NULL_POINTER : Create(*h); }

int BCGetInvalidDataPos(tag_BarCode* h) { return h != nullptr ? h->invalidPos : -1; }

int BCGetMaxLenOfData(int type) { return MaxDataLength(type); }

int BCGetMaxLenOfText(tag_BarCode* h) {
    if (h == nullptr) {
        return 0;
    }
    if (!Is2D(h->type)) {
        return MaxDataLength(h->type);
    }
    // The longest leading part of the data that fits: the limit of the
    // chosen version and level for data of this kind.
    if (PrefixFits(*h, h->text.size())) {
        return static_cast<int>(h->text.size());
    }
    size_t fits = 0, fails = h->text.size();
    while (fails - fits > 1) {
        const size_t mid = fits + (fails - fits) / 2;
        if (PrefixFits(*h, mid)) {
            fits = mid;
        } else {
            fails = mid;
        }
    }
    return static_cast<int>(fits);
}

const wchar_t* BCGetErrorDetailW(tag_BarCode* h) {
    return h != nullptr && !h->detail.empty() ? h->detail.c_str() : nullptr;
}

const wchar_t* BCGetReadableTextW(tag_BarCode* h) {
    return h != nullptr && h->created ? h->readable.c_str() : nullptr;
}

int BCGet2DCompositeComponent(tag_BarCode*) { return 0; }

int BCGet_CompSym_ErrorInCC(tag_BarCode*) { return 0; }

HRESULT BCGetErrorTextW(HRESULT code, wchar_t* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return BCERR_NULL_POINTER;
    }
    const wchar_t* text = nullptr;
    switch (static_cast<uint32_t>(code)) {
    case 0: text = L"No error."; break;
    case 0x8007000Du: text = L"The data contains characters the barcode type does not allow."; break;
    case 0x80090004u: text = L"The data has the wrong length for the barcode type."; break;
    case 0x80070032u: text = L"Not supported by the barcode type."; break;
    case 0x80004003u: text = L"Missing barcode handle or argument."; break;
    case 0x8007000Eu: text = L"Out of memory."; break;
    case 0x80070057u: text = L"Invalid barcode setting."; break;
    case 0x8007139Fu: text = L"The barcode has not been created."; break;
    case 0x80004005u: text = L"The barcode could not be encoded."; break;
    default: break;
    }
    if (text != nullptr) {
        std::swprintf(buffer, static_cast<size_t>(size), L"%ls", text);
    } else {
        std::swprintf(buffer, static_cast<size_t>(size), L"Barcode error 0x%08X.", static_cast<unsigned>(code));
    }
    buffer[size - 1] = 0;
    return S_OK;
}

HRESULT BCSetCBData(tag_BarCode* h, void* context) { return SetMember(h, &tag_BarCode::context, context); }

HRESULT BCSetFuncDrawBar(tag_BarCode* h, BCDrawBarFunc callback) {
    return SetMember(h, &tag_BarCode::drawBar, callback);
}

HRESULT BCDrawCB(tag_BarCode* h, HDC, RECT*) {
    if (h == nullptr) {
        return BCERR_NULL_POINTER;
    }
    if (!h->created) {
        return BCERR_NOT_CREATED;
    }
    if (h->drawBar == nullptr) {
        return S_OK;
    }
    // The callback may set the handle up anew: draw from copies.
    const std::vector<uint8_t> modules = h->modules;
    const std::vector<uint8_t> fullHeight = h->fullHeight;
    const BCDrawBarFunc draw = h->drawBar;
    void* const context = h->context;
    const double w = h->moduleMm;
    if (h->linear) {
        DrawLinear(h->notch, w, draw, context, modules, fullHeight);
        return S_OK;
    }
    const double rowHeight = h->type == kPdf417 ? 3.0 * w : w;
    const size_t columns = static_cast<size_t>(h->columns);
    const size_t rows = columns == 0 ? 0 : modules.size() / columns;
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < columns; ++c) {
            if (modules[r * columns + c] != 0) {
                draw(context, 0, static_cast<double>(c) * w, static_cast<double>(r) * rowHeight, w, rowHeight);
            }
        }
    }
    return S_OK;
}

HRESULT BCSetPrintText(tag_BarCode* h, int, int) { return h == nullptr ? BCERR_NULL_POINTER : S_OK; }

HRESULT BCSetFontHeight(tag_BarCode* h, int) { return h == nullptr ? BCERR_NULL_POINTER : S_OK; }

HRESULT BCGetSymbolSize(tag_BarCode* h, int* columns, int* rows) {
    if (h == nullptr || columns == nullptr || rows == nullptr) {
        return BCERR_NULL_POINTER;
    }
    *columns = h->created ? h->columns : 0;
    *rows = h->created ? h->rows : 0;
    return S_OK;
}

}  // extern "C"
