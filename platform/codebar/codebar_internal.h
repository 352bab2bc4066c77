// Inside the barcode engine: the data checks of each symbology and the
// Code 128 encoder of the forced subsets and the EAN 128 family.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "morvik/win32/windows.h"

namespace codebar {

// Symbology ids of the engine interface.
enum SymbologyId : int {
    kItf = 3,
    kCode25 = 7,
    kCode39 = 8,
    kEan8 = 10,
    kEan13 = 13,
    kEan128 = 16,
    kCodabar = 18,
    kCode128Auto = 20,
    kCode93 = 25,
    kUpcA = 34,
    kUpcE = 37,
    kPdf417 = 55,
    kQr = 58,
    kCode128A = 59,
    kCode128B = 60,
    kCode128C = 61,
    kDataMatrix = 71,
    kAztec = 92,
    kHanXin = 116,
    kEarCode = 124,
    kGridMatrix = 125,
    kMicroQr = 126,
    kRmqr = 127,
    kTolcode = 128,
};
constexpr int kSymbologyCount = 128;

// A Code 128 item: a character 0..127, or the function character FNC1.
constexpr int kFnc1 = -1;

// The data made ready for encoding: zint's input bytes, or the Code 128
// items of the own encoder (with its subset: 'A', 'B', 'C', or 0 for free).
struct Prepared {
    std::string bytes;
    std::vector<int> items;
    char subset = 0;
    bool ownCode128 = false;
    bool drawsNothing = false;
    // Why the data was refused, when the error code alone does not say it.
    std::wstring detail;
    // The data as the symbol encodes it, for the human-readable line: EAN
    // and UPC with their computed check digit, ITF with its padding zero.
    std::wstring readable;
};

bool Is2D(int type);
bool IsKnown(int type);
// Longest data in characters (2D: digits, the densest kind), 0 when not
// fixed.
int MaxDataLength(int type);
// The standard mod-10 check digit of GS1 (weights 3 and 1 from the right)
// of a string of digits.
int Gs1CheckDigit(const std::string& digits);
// The UPC-A number (11 digits, no check digit) of the UPC-E number system
// and six digits ("0" + six digits: "0123456" -> "01200000345").
std::string UpcEToUpcA(const std::string& systemAndSix);

// Checks text (hasText false: no data) for type and prepares it. format is
// the EAN 128 subset ('A', 'B', 'C' or 0). On failure returns
// BCERR_INVALID_DATA (invalidPos: the first refused character, or -1 for no
// data) or BCERR_WRONG_LENGTH.
HRESULT PrepareData(int type, const std::wstring& text, bool hasText, UINT codePage, char format, Prepared& out,
                    int& invalidPos);

// Encodes Code 128 items into one row of modules (1 dark), without quiet
// zones. subset 'A', 'B' or 'C' starts in that subset and stays there where
// the items allow (subset C leaves for a single digit only); 0 chooses the
// subsets freely. ean128 starts with FNC1. Items must be valid for the
// subset (PrepareData checks them).
std::vector<uint8_t> EncodeCode128(const std::vector<int>& items, char subset, bool ean128);

}  // namespace codebar
