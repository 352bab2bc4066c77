// The data each symbology accepts, checked character by character so that a
// refusal names the first character at fault.
#include <algorithm>
#include <cwchar>

#include "codebar/codebar.h"
#include "codebar/codebar_internal.h"

namespace codebar {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Position of the first character that accepts refuses, or -1.
template <class Pred>
int FirstRefused(const std::wstring& text, Pred accepts) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (!accepts(text[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsCode39(wchar_t c) {
    return IsDigit(c) || (c >= L'A' && c <= L'Z') || std::wcschr(L"-. $/+%", c) != nullptr;
}
bool IsCodabarStartStop(wchar_t c) { return c >= L'A' && c <= L'D'; }
bool IsCodabarData(wchar_t c) { return IsDigit(c) || (c != 0 && std::wcschr(L"-$:/.+", c) != nullptr); }

// Characters of a Code 128 subset ('A', 'B', 'C', or 0 for all of ASCII).
bool InSubset(char subset, wchar_t c) {
    switch (subset) {
    case 'A':
        return c >= 0 && c < 96;
    case 'B':
        return c >= 32 && c < 128;
    case 'C':
        return IsDigit(c);
    default:
        return c >= 0 && c < 128;
    }
}

// Application identifiers whose data has a fixed length, by their first two
// digits: no separator follows their data.
bool IsFixedLengthAi(int prefix) {
    static constexpr int kFixed[] = {0, 1, 2, 3, 4, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 31, 32, 33, 34, 35, 36, 41};
    return std::find(std::begin(kFixed), std::end(kFixed), prefix) != std::end(kFixed);
}

// EAN 128 data written as "(AI)data(AI)data...": the items without the
// parentheses, with FNC1 after every field of variable length that another
// field follows. Returns the position of the first fault, or -1.
int ParseAiText(const std::wstring& text, char subset, std::vector<int>& items) {
    const size_t n = text.size();
    size_t i = 0;
    bool separatorDue = false;
    while (i < n) {
        if (text[i] != L'(') {
            return static_cast<int>(i);
        }
        size_t j = i + 1;
        while (j < n && IsDigit(text[j])) {
            ++j;
        }
        if (j == n) {
            return static_cast<int>(n - 1);
        }
        const size_t aiLength = j - i - 1;
        if (text[j] != L')' || aiLength < 2 || aiLength > 4) {
            return static_cast<int>(aiLength > 4 ? i + 5 : j);
        }
        size_t end = j + 1;
        while (end < n && text[end] != L'(') {
            ++end;
        }
        if (end == j + 1) {
            return static_cast<int>(j);  // an identifier without data
        }
        if (separatorDue) {
            items.push_back(kFnc1);
        }
        for (size_t k = i + 1; k < j; ++k) {
            items.push_back(text[k]);
        }
        for (size_t k = j + 1; k < end; ++k) {
            if (!InSubset(subset, text[k])) {
                return static_cast<int>(k);
            }
            items.push_back(static_cast<int>(text[k]));
        }
        separatorDue = !IsFixedLengthAi((text[i + 1] - L'0') * 10 + (text[i + 2] - L'0'));
        i = end;
    }
    return -1;
}

// Code pages whose first 128 characters are ASCII, converted without iconv.
bool IsAsciiCompatible(UINT codePage) {
    static constexpr UINT kPages[] = {0,    437,  850,  852,  866,  874,  932,   936,   949,   950,  1250,
                                      1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 20127, 28591, 65001};
    return std::find(std::begin(kPages), std::end(kPages), codePage) != std::end(kPages);
}

// The text as bytes in a code page; the position of the first character the
// code page lacks, or -1.
int ToCodePage(const std::wstring& text, UINT codePage, std::string& out) {
    out.clear();
    if (IsAsciiCompatible(codePage) &&
        std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0 && c < 128; })) {
        out.assign(text.begin(), text.end());
        return -1;
    }
    const int n = static_cast<int>(text.size());
    BOOL used = FALSE;
    const int size = WideCharToMultiByte(codePage, 0, text.data(), n, nullptr, 0, nullptr, &used);
    if (size <= 0 || used) {
        char buffer[16];
        for (int k = 0; k < n; ++k) {
            used = FALSE;
            if (WideCharToMultiByte(codePage, 0, &text[k], 1, buffer, sizeof buffer, nullptr, &used) <= 0 || used) {
                return k;
            }
        }
        return 0;
    }
    out.resize(static_cast<size_t>(size));
    WideCharToMultiByte(codePage, 0, text.data(), n, out.data(), size, nullptr, nullptr);
    return -1;
}

// EAN and UPC: digits only, one of the lengths [shortest, longest]; the data
// passed on drops a given check digit (the encoder adds the right one).
HRESULT PrepareEanUpc(const std::wstring& text, size_t shortest, size_t longest, size_t withoutCheck, Prepared& out,
                      int& invalidPos) {
    invalidPos = FirstRefused(text, IsDigit);
    if (invalidPos >= 0) {
        return BCERR_INVALID_DATA;
    }
    if (text.size() < shortest || text.size() > longest) {
        return BCERR_WRONG_LENGTH;
    }
    out.bytes.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), withoutCheck)));
    return S_OK;
}

HRESULT PrepareCodabar(const std::wstring& text, Prepared& out, int& invalidPos) {
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const bool edge = i == 0 || i + 1 == n;
        if (edge ? !IsCodabarStartStop(text[i]) : !IsCodabarData(text[i])) {
            invalidPos = static_cast<int>(i);
            return BCERR_INVALID_DATA;
        }
    }
    if (n < 3 || n > static_cast<size_t>(MaxDataLength(kCodabar))) {
        return BCERR_WRONG_LENGTH;
    }
    out.bytes.assign(text.begin(), text.end());
    return S_OK;
}

HRESULT PrepareCode128(const std::wstring& text, char subset, bool ean128, int maxLength, Prepared& out,
                       int& invalidPos) {
    out.ownCode128 = true;
    out.subset = subset;
    if (ean128 && text[0] == L'(') {
        invalidPos = ParseAiText(text, subset, out.items);
    } else {
        invalidPos = FirstRefused(text, [subset](wchar_t c) { return InSubset(subset, c); });
        out.items.assign(text.begin(), text.end());
    }
    if (invalidPos >= 0) {
        return BCERR_INVALID_DATA;
    }
    if (text.size() > static_cast<size_t>(maxLength)) {
        return BCERR_WRONG_LENGTH;
    }
    return S_OK;
}

// Linear codes that zint encodes from ASCII (Code 128 auto: Latin-1).
template <class Pred>
HRESULT PrepareSimple(const std::wstring& text, int type, Pred accepts, Prepared& out, int& invalidPos) {
    invalidPos = FirstRefused(text, accepts);
    if (invalidPos >= 0) {
        return BCERR_INVALID_DATA;
    }
    if (text.size() > static_cast<size_t>(MaxDataLength(type))) {
        return BCERR_WRONG_LENGTH;
    }
    out.bytes.assign(text.begin(), text.end());
    return S_OK;
}

}  // namespace

bool Is2D(int type) {
    switch (type) {
    case kPdf417:
    case kQr:
    case kDataMatrix:
    case kAztec:
    case kHanXin:
    case kEarCode:
    case kGridMatrix:
    case kMicroQr:
    case kRmqr:
    case kTolcode:
        return true;
    default:
        return false;
    }
}

int MaxDataLength(int type) {
    switch (type) {
    case kItf: return 90;
    case kCode25: return 45;
    case kCode39: return 85;
    case kEan8: return 8;
    case kEan13: return 13;
    case kEan128: return 80;
    case kCodabar: return 60;
    case kCode128Auto: return 60;
    case kCode93: return 107;
    case kUpcA: return 12;
    case kUpcE: return 8;
    case kPdf417: return 1034;
    case kQr: return 2953;
    case kCode128A: return 80;
    case kCode128B: return 80;
    case kCode128C: return 160;
    case kDataMatrix: return 1556;
    case kAztec: return 1915;
    case kHanXin: return 3261;
    case kGridMatrix: return 1143;
    case kMicroQr: return 15;
    case kRmqr: return 150;
    default: return 0;
    }
}

bool IsKnown(int type) { return MaxDataLength(type) > 0 || type == kEarCode || type == kTolcode; }

HRESULT PrepareData(int type, const std::wstring& text, bool hasText, UINT codePage, char format, Prepared& out,
                    int& invalidPos) {
    out = Prepared{};
    invalidPos = -1;
    if (type == kEarCode || type == kTolcode) {
        out.drawsNothing = true;
        return S_OK;
    }
    if (!hasText || text.empty()) {
        return BCERR_INVALID_DATA;
    }
    switch (type) {
    case kEan13: return PrepareEanUpc(text, 12, 13, 12, out, invalidPos);
    case kEan8: return PrepareEanUpc(text, 7, 8, 7, out, invalidPos);
    case kUpcA: return PrepareEanUpc(text, 11, 12, 11, out, invalidPos);
    case kUpcE: {
        const HRESULT hr = PrepareEanUpc(text, 6, 8, 7, out, invalidPos);
        if (hr == S_OK && text.size() >= 7 && text[0] != L'0' && text[0] != L'1') {
            invalidPos = 0;  // the number system of UPC-E is 0 or 1
            return BCERR_INVALID_DATA;
        }
        return hr;
    }
    case kItf:
    case kCode25: return PrepareSimple(text, type, IsDigit, out, invalidPos);
    case kCode39: return PrepareSimple(text, type, IsCode39, out, invalidPos);
    case kCode93: return PrepareSimple(text, type, [](wchar_t c) { return c >= 0 && c < 128; }, out, invalidPos);
    case kCode128Auto:
        return PrepareSimple(text, type, [](wchar_t c) { return c >= 0 && c < 256; }, out, invalidPos);
    case kCodabar: return PrepareCodabar(text, out, invalidPos);
    case kCode128A: return PrepareCode128(text, 'A', false, MaxDataLength(type), out, invalidPos);
    case kCode128B: return PrepareCode128(text, 'B', false, MaxDataLength(type), out, invalidPos);
    case kCode128C: return PrepareCode128(text, 'C', false, MaxDataLength(type), out, invalidPos);
    case kEan128: return PrepareCode128(text, format, true, MaxDataLength(type), out, invalidPos);
    default: break;
    }
    if (!Is2D(type)) {
        return E_INVALIDARG;
    }
    invalidPos = ToCodePage(text, codePage, out.bytes);
    if (invalidPos >= 0) {
        return BCERR_INVALID_DATA;
    }
    if (out.bytes.size() > static_cast<size_t>(MaxDataLength(type))) {
        return BCERR_WRONG_LENGTH;
    }
    return S_OK;
}

}  // namespace codebar
