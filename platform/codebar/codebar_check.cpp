// The data each symbology accepts, checked character by character so that a
// refusal names the first character at fault.
#include <algorithm>
#include <cwchar>

#include "morvik/codebar/codebar.h"
#include "morvik/codebar/codebar_internal.h"

namespace codebar {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// More bytes than any two-dimensional symbol holds in any mode.
constexpr size_t kMaxInputBytes = 17400;

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
HRESULT PrepareEanUpc(const std::wstring& text, size_t shortest, size_t longest, size_t withoutCheck,
                      const wchar_t* lengths, Prepared& out, int& invalidPos) {
    invalidPos = FirstRefused(text, IsDigit);
    if (invalidPos >= 0) {
        return BCERR_INVALID_DATA;
    }
    if (text.size() < shortest || text.size() > longest) {
        out.detail = lengths;
        return BCERR_WRONG_LENGTH;
    }
    out.bytes.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), withoutCheck)));
    return S_OK;
}

// The readable number of EAN-13, EAN-8 and UPC-A: the data and its check
// digit.
void AddCheckDigit(Prepared& out) {
    out.readable.assign(out.bytes.begin(), out.bytes.end());
    out.readable += static_cast<wchar_t>(L'0' + Gs1CheckDigit(out.bytes));
}

HRESULT PrepareUpcE(const std::wstring& text, Prepared& out, int& invalidPos) {
    const HRESULT hr =
        PrepareEanUpc(text, 6, 8, 7,
                      L"UPC-E data is 6 digits, 7 with the number system 0 or 1 first, or 8 with the check digit last.",
                      out, invalidPos);
    if (hr != S_OK) {
        return hr;
    }
    if (text.size() >= 7 && text[0] != L'0' && text[0] != L'1') {
        // Every digit is allowed: it is the number system that UPC-E lacks.
        out.detail = L"UPC-E data of 7 or 8 digits starts with its number system, 0 or 1.";
        return BCERR_INVALID_DATA;
    }
    const std::string full = out.bytes.size() == 6 ? "0" + out.bytes : out.bytes;
    out.readable.assign(full.begin(), full.end());
    out.readable += static_cast<wchar_t>(L'0' + Gs1CheckDigit(UpcEToUpcA(full)));
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
        if (n < 3) {
            out.detail = L"Codabar data is a start character A to D, data and a stop character A to D.";
        }
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
    case kPdf417: return 2710;
    case kQr: return 7089;
    case kCode128A: return 80;
    case kCode128B: return 80;
    case kCode128C: return 160;
    case kDataMatrix: return 3116;
    case kAztec: return 3832;
    case kHanXin: return 7827;
    case kGridMatrix: return 2751;
    case kMicroQr: return 35;
    case kRmqr: return 361;
    default: return 0;
    }
}

bool IsKnown(int type) { return MaxDataLength(type) > 0 || type == kEarCode || type == kTolcode; }

HRESULT PrepareData(int type, const std::wstring& text, bool hasText, UINT codePage, char format, Prepared& out,
                    int& invalidPos) {
    out = Prepared{};
    invalidPos = -1;
    out.readable = text;
    if (type == kEarCode || type == kTolcode) {
        out.drawsNothing = true;
        return S_OK;
    }
    if (!hasText || text.empty()) {
        return BCERR_INVALID_DATA;
    }
    switch (type) {
    case kEan13:
    case kEan8:
    case kUpcA: {
        const bool ean13 = type == kEan13, ean8 = type == kEan8;
        const size_t data = ean13 ? 12 : ean8 ? 7 : 11;
        const wchar_t* lengths = ean13  ? L"EAN-13 data is 12 digits, or 13 with the check digit."
                                 : ean8 ? L"EAN-8 data is 7 digits, or 8 with the check digit."
                                        : L"UPC-A data is 11 digits, or 12 with the check digit.";
        const HRESULT hr = PrepareEanUpc(text, data, data + 1, data, lengths, out, invalidPos);
        if (hr == S_OK) {
            AddCheckDigit(out);
        }
        return hr;
    }
    case kUpcE: return PrepareUpcE(text, out, invalidPos);
    case kItf: {
        const HRESULT hr = PrepareSimple(text, type, IsDigit, out, invalidPos);
        if (hr == S_OK && text.size() % 2 == 1) {
            out.readable = L"0" + text;  // ITF encodes digits in pairs
        }
        return hr;
    }
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
    // The capacity depends on the kind of data, the version and the
    // error-correction level: the encoder decides. Only input no symbol of
    // any kind holds is refused here.
    if (out.bytes.size() > kMaxInputBytes) {
        return BCERR_WRONG_LENGTH;
    }
    return S_OK;
}

int Gs1CheckDigit(const std::string& digits) {
    int sum = 0;
    int weight = 3;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = 4 - weight;
    }
    return (10 - sum % 10) % 10;
}

std::string UpcEToUpcA(const std::string& s) {
    if (s.size() != 7) {
        return {};
    }
    const char ns = s[0];
    const std::string d = s.substr(1);
    switch (d[5]) {
    case '0':
    case '1':
    case '2': return std::string(1, ns) + d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3);
    case '3': return std::string(1, ns) + d.substr(0, 3) + "00000" + d.substr(3, 2);
    case '4': return std::string(1, ns) + d.substr(0, 4) + "00000" + d[4];
    default: return std::string(1, ns) + d.substr(0, 5) + "0000" + d[5];
    }
}

}  // namespace codebar
