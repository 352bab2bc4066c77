// The barcode engine: symbols are drawn through the bar callback, painted to
// pixels and read back with ZXing; data faults name the right character.
#define ZX_USE_UTF8 1  // text() in UTF-8
#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "morvik/codebar/codebar.h"
#include "morvik/win32/windows.h"

namespace {

struct Bar {
    double x, y, w, h;
};

LONG Collect(void* context, DWORD, double x, double y, double w, double h) {
    static_cast<std::vector<Bar>*>(context)->push_back({x, y, w, h});
    return 0;
}

// One handle set up as a caller does: module width 1 mm, bars 20 mm.
class Engine {
public:
    Engine() { EXPECT_EQ(BCAlloc(&h), S_OK); }
    ~Engine() { BCFree(h); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    HRESULT Build(int type, const std::wstring& text, const std::function<void(tag_BarCode*)>& setup = {}) {
        BCSetBCType(h, type);
        BCSetModWidthW(h, L"1000.00");
        BCSetNotchHeight(h, 20);
        if (setup) setup(h);
        HRESULT hr = BCSetTextW(h, text.c_str(), static_cast<int>(text.size()));
        if (hr == S_OK) hr = BCCheck(h);
        if (hr == S_OK) hr = BCCreate(h);
        bars.clear();
        if (hr == S_OK) {
            BCSetCBData(h, &bars);
            BCSetFuncDrawBar(h, Collect);
            RECT rect{0, 0, 100, 10000};
            BCDrawCB(h, nullptr, &rect);
        }
        return hr;
    }
    // The first symbol character of a linear code as modules ("1" dark).
    std::string Modules(int count) const {
        std::string m(static_cast<size_t>(count), '0');
        for (const Bar& b : bars)
            for (int c = static_cast<int>(std::lround(b.x)); c < std::lround(b.x + b.w) && c < count; ++c) m[c] = '1';
        return m;
    }

    tag_BarCode* h = nullptr;
    std::vector<Bar> bars;
};

// Paints the bars black on white, 4 pixels a millimetre, with a quiet zone.
ZXing::Result Read(const std::vector<Bar>& bars, ZXing::BarcodeFormat format) {
    constexpr int kScale = 4, kQuiet = 12 * kScale;
    double right = 0, bottom = 0;
    for (const Bar& b : bars) {
        right = std::max(right, b.x + b.w);
        bottom = std::max(bottom, b.y + b.h);
    }
    const int width = static_cast<int>(right * kScale) + 2 * kQuiet;
    const int height = static_cast<int>(bottom * kScale) + 2 * kQuiet;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 255);
    for (const Bar& b : bars)
        for (int y = static_cast<int>(std::lround(b.y * kScale)); y < std::lround((b.y + b.h) * kScale); ++y)
            for (int x = static_cast<int>(std::lround(b.x * kScale)); x < std::lround((b.x + b.w) * kScale); ++x)
                pixels[static_cast<size_t>(y + kQuiet) * width + x + kQuiet] = 0;
    ZXing::DecodeHints hints;
    hints.setFormats(format).setTryHarder(true).setReturnCodabarStartEnd(true);
    return ZXing::ReadBarcode({pixels.data(), width, height, ZXing::ImageFormat::Lum}, hints);
}

std::string Utf8(const std::wstring& s) { return std::string(s.begin(), s.end()); }

struct Case {
    int type;
    std::wstring text;
    ZXing::BarcodeFormat format;
    std::string expected;  // empty: the text itself
};

TEST(CodebarEngine, DecodedSymbolsGiveBackTheData) {
    using F = ZXing::BarcodeFormat;
    const std::vector<Case> cases = {
        {58, L"Morvik QR 0123456789", F::QRCode, ""},
        {71, L"Data Matrix: 42", F::DataMatrix, ""},
        {92, L"Aztec code here", F::Aztec, ""},
        {55, L"PDF417 rows and columns", F::PDF417, ""},
        {126, L"12345", F::MicroQRCode, ""},
        {13, L"590123412345", F::EAN13, "5901234123457"},
        {13, L"5901234123450", F::EAN13, "5901234123457"},  // a wrong check digit is replaced
        {10, L"9638507", F::EAN8, "96385074"},
        {34, L"03600029145", F::UPCA, "036000291452"},
        {37, L"01234565", F::UPCE, ""},
        {59, L"HELLO\tA-1", F::Code128, ""},
        {60, L"Mixed Case b", F::Code128, ""},
        {61, L"12345678", F::Code128, ""},
        {61, L"1234567", F::Code128, ""},  // odd: the last digit leaves subset C
        {20, L"Auto 128 000111", F::Code128, ""},
        {8, L"CODE-39 $", F::Code39, ""},
        {8, L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%", F::Code39, ""},  // every character it takes
        {25, L"Code 93 mixed", F::Code93, ""},
        {3, L"12345678", F::ITF, ""},
        {18, L"A40156B", F::Codabar, ""},
    };
    for (const Case& c : cases) {
        Engine e;
        ASSERT_EQ(e.Build(c.type, c.text), S_OK) << c.type;
        const ZXing::Result r = Read(e.bars, c.format);
        EXPECT_EQ(r.text(), c.expected.empty() ? Utf8(c.text) : c.expected) << "type " << c.type;
    }
}

TEST(CodebarEngine, Ean128CarriesFnc1AndItsApplicationIdentifiers) {
    const struct {
        int subset;  // 0, 'A', 'B', 'C'
        std::wstring text;
        std::string expected;
    } cases[] = {
        {0, L"(01)09501101530003(10)AB-12", "010950110153000310AB-12"},
        {0, L"(10)ABC(21)12", "10ABC\x1d" "2112"},  // a variable field is closed by FNC1
        {'A', L"(01)09501101530003", "0109501101530003"},
        {'B', L"0112345678901231", "0112345678901231"},
        {'C', L"(10)123(21)45", "10123\x1d" "2145"},  // odd run in subset C
    };
    for (const auto& c : cases) {
        Engine e;
        const wchar_t format[2] = {static_cast<wchar_t>(c.subset), 0};
        ASSERT_EQ(e.Build(16, c.text, [&](tag_BarCode* h) { BCSetFormatW(h, format); }), S_OK);
        const ZXing::Result r = Read(e.bars, ZXing::BarcodeFormat::Code128);
        EXPECT_EQ(r.text(), c.expected);
        EXPECT_EQ(r.symbologyIdentifier(), "]C1");
    }
}

TEST(CodebarEngine, ForcedSubsetAppliesToOneBuildOnly) {
    const std::string startA = "11010000100", startB = "11010010000", startC = "11010011100";
    Engine e;
    ASSERT_EQ(e.Build(16, L"1234", [](tag_BarCode* h) { BCSetFormatW(h, L"A"); }), S_OK);
    EXPECT_EQ(e.Modules(11), startA);
    // The next build sets no format: free choice (subset C for four digits).
    ASSERT_EQ(e.Build(16, L"1234"), S_OK);
    EXPECT_EQ(e.Modules(11), startC);
    // Format set after the type still applies.
    ASSERT_EQ(e.Build(16, L"1234", [](tag_BarCode* h) { BCSetFormatW(h, L"B"); }), S_OK);
    EXPECT_EQ(e.Modules(11), startB);
    ASSERT_EQ(e.Build(61, L"1234"), S_OK);
    EXPECT_EQ(e.Modules(11), startC);
}

TEST(CodebarEngine, Code128BMatchesZintModuleForModule) {
    std::wstring all;
    for (wchar_t c = 32; c < 127; ++c) all += c;  // every value of subset B
    for (size_t from = 0; from < all.size(); from += 40) {
        const std::wstring text = all.substr(from, 40);
        Engine e;
        ASSERT_EQ(e.Build(60, text), S_OK);
        zint_symbol* z = ZBarcode_Create();
        z->symbology = BARCODE_CODE128B;
        const std::string bytes = Utf8(text);
        ASSERT_LT(ZBarcode_Encode(z, reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size())), 5);
        std::string expected;
        for (int c = 0; c < z->width; ++c) expected += ((z->encoded_data[0][c >> 3] >> (c & 7)) & 1) ? '1' : '0';
        EXPECT_EQ(e.Modules(z->width), expected);
        ZBarcode_Delete(z);
    }
}

// Han Xin and Grid Matrix: ZXing cannot read them; check the module grid.
std::vector<std::string> Grid(const std::vector<Bar>& bars, int size) {
    std::vector<std::string> g(static_cast<size_t>(size), std::string(static_cast<size_t>(size), '0'));
    for (const Bar& b : bars) {
        EXPECT_DOUBLE_EQ(b.w, 1.0);
        EXPECT_DOUBLE_EQ(b.h, 1.0);
        g.at(static_cast<size_t>(std::lround(b.y))).at(static_cast<size_t>(std::lround(b.x))) = '1';
    }
    return g;
}

TEST(CodebarEngine, HanXinAndGridMatrixModules) {
    Engine e;
    ASSERT_EQ(e.Build(116, L"Han Xin", [](tag_BarCode* h) { BCSet_HanXin_Version(h, 3); }), S_OK);
    int cols = 0, rows = 0;
    BCGetSymbolSize(e.h, &cols, &rows);
    EXPECT_EQ(cols, 21 + 2 * 3);
    EXPECT_EQ(rows, cols);
    std::vector<std::string> g = Grid(e.bars, cols);
    // Finder patterns in the four corners: top left and bottom right are the
    // same pattern turned half round, top right its mirror image.
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) {
            EXPECT_EQ(g[r][c], g[cols - 1 - r][cols - 1 - c]) << r << "," << c;
            EXPECT_EQ(g[r][c], g[r][cols - 1 - c]) << r << "," << c;
        }
    EXPECT_EQ(g[0].substr(0, 7), "1111111");
    EXPECT_EQ(g[7].substr(0, 8), "00000000");  // the light separator

    ASSERT_EQ(e.Build(125, L"Grid Matrix"), S_OK);
    BCGetSymbolSize(e.h, &cols, &rows);
    EXPECT_EQ(cols % 6, 0);  // 6 x 6 macromodules
    EXPECT_EQ(rows, cols);
    g = Grid(e.bars, cols);
    // Each macromodule has a dark or light frame; the top-left one is dark.
    EXPECT_EQ(g[0].substr(0, 6), "111111");
    for (int r = 0; r < 6; ++r) EXPECT_EQ(g[r][0], '1');
}

TEST(CodebarEngine, RetailGuardBarsKeepTheFullNotchHeight) {
    Engine e;
    ASSERT_EQ(e.Build(13, L"590123412345"), S_OK);
    const double tallest = std::max_element(e.bars.begin(), e.bars.end(), [](auto& a, auto& b) { return a.h < b.h; })->h;
    EXPECT_DOUBLE_EQ(tallest, 20.0);
    const auto guards = std::count_if(e.bars.begin(), e.bars.end(), [&](const Bar& b) { return b.h == tallest; });
    EXPECT_EQ(guards, 6);
    EXPECT_DOUBLE_EQ(e.bars.back().x + e.bars.back().w, 95.0);
}

TEST(CodebarEngine, FaultsNameTheFirstRefusedCharacter) {
    const struct {
        int type;
        std::wstring text;
        HRESULT hr;
        int position;
    } cases[] = {
        {13, L"59012a4123457", BCERR_INVALID_DATA, 5},
        {13, L"123", BCERR_WRONG_LENGTH, -1},
        {37, L"2123456", BCERR_INVALID_DATA, -1},  // UPC-E number system: no character is at fault
        {8, L"AB c", BCERR_INVALID_DATA, 3},
        {18, L"12345", BCERR_INVALID_DATA, 0},
        {18, L"A1234", BCERR_INVALID_DATA, 4},
        {18, L"AB", BCERR_WRONG_LENGTH, -1},
        {61, L"12a4", BCERR_INVALID_DATA, 2},
        {59, L"ABc", BCERR_INVALID_DATA, 2},
        {16, L"(01", BCERR_INVALID_DATA, 2},
        {16, L"(123456)7", BCERR_INVALID_DATA, 5},
        {58, L"ab\U0001F600", BCERR_INVALID_DATA, 2},
        {3, std::wstring(91, L'1'), BCERR_WRONG_LENGTH, -1},
        {58, L"", BCERR_INVALID_DATA, -1},
    };
    for (const auto& c : cases) {
        Engine e;
        EXPECT_EQ(e.Build(c.type, c.text), c.hr) << c.type;
        EXPECT_EQ(BCGetInvalidDataPos(e.h), c.position) << c.type;
        EXPECT_EQ(BCDrawCB(e.h, nullptr, nullptr), BCERR_NOT_CREATED);
    }
    Engine e;
    e.Build(58, L"");
    EXPECT_EQ(BCGetTextW(e.h), nullptr);
    EXPECT_EQ(BCGetMaxLenOfData(13), 13);
    wchar_t text[100];
    BCGetErrorTextW(BCERR_WRONG_LENGTH, text, 100);
    EXPECT_GT(std::wcslen(text), 0u);
    BCGetErrorTextW(0x12345678, text, 8);
    EXPECT_EQ(std::wcslen(text), 7u);
}

TEST(CodebarEngine, OwnCodesPassAndDrawNothing) {
    Engine e;
    for (int type : {124, 128}) {
        EXPECT_EQ(e.Build(type, L"any text at all"), S_OK);
        EXPECT_TRUE(e.bars.empty());
    }
    EXPECT_EQ(BCSetBCType(e.h, 9999), E_INVALIDARG);
    EXPECT_EQ(BCSetTextW(nullptr, L"x", 1), BCERR_NULL_POINTER);
}

// ---- what is encoded, family by family -------------------------------------------------------------

// The modules of a linear symbol, "1" dark, from its bars (1 mm modules).
std::string AllModules(const std::vector<Bar>& bars) {
    double right = 0;
    for (const Bar& b : bars) right = std::max(right, b.x + b.w);
    std::string m(static_cast<size_t>(std::lround(right)), '0');
    for (const Bar& b : bars)
        for (long c = std::lround(b.x); c < std::lround(b.x + b.w); ++c) m[static_cast<size_t>(c)] = '1';
    return m;
}

int CheckDigit(const std::string& digits) {  // GS1: weights 3, 1, 3, ... from the right
    int sum = 0;
    for (size_t i = 0; i < digits.size(); ++i) sum += (digits[digits.size() - 1 - i] - '0') * (i % 2 == 0 ? 3 : 1);
    return (10 - sum % 10) % 10;
}

// EAN and UPC symbols built from the standard's character tables.
const char* const kL[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                            "0110001", "0101111", "0111011", "0110111", "0001011"};
std::string L(char d) { return kL[d - '0']; }
std::string R(char d) {
    std::string r = L(d);
    for (char& c : r) c = c == '0' ? '1' : '0';
    return r;
}
std::string G(char d) {
    std::string g = R(d);
    return std::string(g.rbegin(), g.rend());
}
std::string Ean13(const std::string& d13) {
    static const char* const parity[10] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                           "LGGLLG", "LGGGLG", "LGLGLG", "LGLGGL", "LGGLGL"};
    std::string m = "101";
    for (int i = 1; i <= 6; ++i) m += parity[d13[0] - '0'][i - 1] == 'L' ? L(d13[i]) : G(d13[i]);
    m += "01010";
    for (int i = 7; i <= 12; ++i) m += R(d13[i]);
    return m + "101";
}
std::string Ean8(const std::string& d8) {
    std::string m = "101";
    for (int i = 0; i < 4; ++i) m += L(d8[i]);
    m += "01010";
    for (int i = 4; i < 8; ++i) m += R(d8[i]);
    return m + "101";
}
// UPC-E of number system 0 or 1, six digits and the check digit.
std::string UpcE(const std::string& d8) {
    static const char* const even[10] = {"EEEOOO", "EEOEOO", "EEOOEO", "EEOOOE", "EOEEOO",
                                         "EOOEEO", "EOOOEE", "EOEOEO", "EOEOOE", "EOOEOE"};
    std::string m = "101";
    for (int i = 1; i <= 6; ++i) {
        const bool e = (even[d8[7] - '0'][i - 1] == 'E') == (d8[0] == '0');
        m += e ? G(d8[i]) : L(d8[i]);
    }
    return m + "010101";
}
// The UPC-A number that a UPC-E number stands for (without check digit).
std::string UpcEExpanded(const std::string& ns6) {
    const std::string d = ns6.substr(1);
    const std::string ns = ns6.substr(0, 1);
    if (d[5] <= '2') return ns + d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3);
    if (d[5] == '3') return ns + d.substr(0, 3) + "00000" + d.substr(3, 2);
    if (d[5] == '4') return ns + d.substr(0, 4) + "00000" + d[4];
    return ns + d.substr(0, 5) + "0000" + d[5];
}

TEST(CodebarEngine, RetailCodesEncodeTheirDigitsGuardsAndCheckDigit) {
    const struct {
        int type;
        std::wstring text;
        std::string number;  // data digits without check digit
    } cases[] = {
        {13, L"590123412345", "590123412345"},   {13, L"5901234123451", "590123412345"},
        {13, L"0000000000000", "000000000000"},  {13, L"978014300723", "978014300723"},
        {10, L"9638507", "9638507"},             {10, L"96385070", "9638507"},
        {34, L"03600029145", "03600029145"},     {34, L"036000291459", "03600029145"},
        {37, L"123457", "0123457"},              {37, L"1234571", "1234571"},
        {37, L"01200003", "0120000"},            {37, L"0654324", "0654324"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        Engine e;
        ASSERT_EQ(e.Build(c.type, c.text), S_OK);
        std::string full;
        std::string expected;
        if (c.type == 37) {
            full = c.number + std::to_string(CheckDigit(UpcEExpanded(c.number)));
            expected = UpcE(full);
        } else {
            full = c.number + std::to_string(CheckDigit(c.number));
            expected = c.type == 10 ? Ean8(full) : Ean13(c.type == 34 ? "0" + full : full);
        }
        EXPECT_EQ(AllModules(e.bars), expected);
        // The readable text is the number the bars hold.
        ASSERT_NE(BCGetReadableTextW(e.h), nullptr);
        EXPECT_EQ(Utf8(BCGetReadableTextW(e.h)), full);
    }
}

TEST(CodebarEngine, ShortenedBarsAndGuardsHaveTheirHeights) {
    // Guard bars at the notch height; the others shorter by 5 modules or by
    // a quarter of the notch, whichever is less.
    const struct {
        int type;
        std::wstring text;
        std::vector<std::pair<int, int>> guards;  // columns at full height
    } codes[] = {
        {13, L"590123412345", {{0, 2}, {45, 49}, {92, 94}}},
        {10, L"9638507", {{0, 2}, {31, 35}, {64, 66}}},
        {34, L"03600029145", {{0, 9}, {45, 49}, {85, 94}}},  // and the first and last digit
        {37, L"123457", {{0, 2}, {45, 50}}},
    };
    for (const int notch : {12, 30}) {
        const double shorter = notch - std::min(5.0, notch / 4.0);
        for (const auto& c : codes) {
            Engine e;
            ASSERT_EQ(e.Build(c.type, c.text, [&](tag_BarCode* h) { BCSetNotchHeight(h, notch); }), S_OK);
            for (const Bar& b : e.bars) {
                const long col = std::lround(b.x);
                bool guard = false;
                for (const auto& [from, to] : c.guards) guard = guard || (col >= from && col <= to);
                EXPECT_DOUBLE_EQ(b.h, guard ? notch : shorter) << c.type << " bar at " << col;
                EXPECT_DOUBLE_EQ(b.y, 0.0);
            }
        }
    }
    // Other linear codes: every bar at the notch height, 1 mm at least.
    Engine e;
    ASSERT_EQ(e.Build(8, L"ABC", [](tag_BarCode* h) { BCSetNotchHeight(h, 0); }), S_OK);
    for (const Bar& b : e.bars) EXPECT_DOUBLE_EQ(b.h, 1.0);
}

// Code 128: the start character, the number of symbol characters (which
// pins where the subsets switch and where FNC1 stands) and the decoded data.
TEST(CodebarEngine, Code128SubsetsSwitchPointsAndGs1Separators) {
    const std::string startA = "11010000100", startB = "11010010000", startC = "11010011100";
    const struct {
        int type;
        const wchar_t* format;
        std::wstring text;
        std::string start;
        int symbolChars;  // start to check character
        std::string decoded;
        std::string readable;
    } cases[] = {
        {59, L"", L"AB\t", startA, 5, "AB\t", ""},
        {60, L"", L"Ab1", startB, 5, "Ab1", ""},
        {61, L"", L"123456", startC, 5, "123456", ""},
        {61, L"", L"12345", startC, 6, "12345", ""},  // 12 34, Code B, 5
        {20, L"", L"A12345", startB, 7, "A12345", ""},  // A 1, Code C, 23 45
        {59, L"", L"A_\t", startA, 5, "A_\t", ""},  // "_", the last of subset A
        {16, L"A", L"(10)X_1", startA, 8, "10X_1", ""},
        // Free choice after text: four digits or five end in subset C.
        {16, L"", L"(10)AB1234", startB, 10, "10AB1234", ""},  // 1 0 A B, Code C, 12 34
        {16, L"", L"(10)AB12345", startB, 11, "10AB12345", ""},  // 1 0 A B 1, Code C, 23 45
        // GS1-128: FNC1 after the start; after a variable-length field that
        // another field follows, one more FNC1; none after a fixed one.
        {16, L"", L"(01)09501101530003(10)AB", startC, 15, "010950110153000310AB", ""},
        {16, L"", L"(10)AB(01)09501101530003", startB, 17, "10AB\x1d" "0109501101530003", ""},
        {16, L"", L"(17)260101(10)1234", startC, 10, "172601011" "01234", ""},
        {16, L"", L"(21)12(99)1", startC, 9, "2112\x1d" "991", ""},
        {16, L"C", L"(10)123(21)45", startC, 11, "10123\x1d" "2145", ""},
        {16, L"A", L"(01)09501101530003", startA, 19, "0109501101530003", ""},
        {3, L"", L"12345", "", 0, "012345", "012345"},  // ITF pads an odd count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        Engine e;
        ASSERT_EQ(e.Build(c.type, c.text, [&](tag_BarCode* h) { BCSetFormatW(h, c.format); }), S_OK);
        const std::string m = AllModules(e.bars);
        if (!c.start.empty()) {
            EXPECT_EQ(m.substr(0, 11), c.start);
            EXPECT_EQ(m.size(), static_cast<size_t>(11 * c.symbolChars + 13));  // and the stop
        }
        const ZXing::Result r = Read(e.bars, c.type == 3 ? ZXing::BarcodeFormat::ITF : ZXing::BarcodeFormat::Code128);
        EXPECT_EQ(r.text(), c.decoded);
        if (c.type == 16) {
            EXPECT_EQ(r.symbologyIdentifier(), "]C1");
        }
        EXPECT_EQ(Utf8(BCGetReadableTextW(e.h)), c.readable.empty() ? Utf8(c.text) : c.readable);
    }
}

// Two-dimensional codes: the level, version and size that the decoder reads.
TEST(CodebarEngine, MatrixCodesHaveTheLevelVersionAndSizeAskedFor) {
    using F = ZXing::BarcodeFormat;
    auto side = [](const ZXing::Result& r) {  // modules across, from the decoder's corners (4 px a module)
        const auto a = r.position().topLeft(), b = r.position().topRight();
        return std::lround(std::hypot(b.x - a.x, b.y - a.y) / 4.0);
    };
    for (int level = 0; level < 4; ++level)
        for (const int version : {2, 7}) {
            Engine e;
            ASSERT_EQ(e.Build(58, L"LEVEL AND VERSION", [&](tag_BarCode* h) {
                BCSet_QR_ECLevel(h, level);
                BCSet_QR_Version(h, version);
            }),
                      S_OK);
            const ZXing::Result r = Read(e.bars, F::QRCode);
            ASSERT_TRUE(r.isValid()) << level << " " << version;
            EXPECT_EQ(r.ecLevel(), std::string(1, "LMQH"[level]));
            EXPECT_NEAR(side(r), 17 + 4 * version, 1) << level << " " << version;
        }
    for (int level = 0; level <= 8; ++level) {
        Engine e;
        ASSERT_EQ(e.Build(55, L"PDF417 LEVEL", [&](tag_BarCode* h) { BCSet_PDF417_ECLevel(h, level); }), S_OK);
        const ZXing::Result r = Read(e.bars, F::PDF417);
        ASSERT_TRUE(r.isValid()) << level;
        EXPECT_EQ(r.ecLevel(), std::to_string(level));
    }
    const struct {
        int size, side;
    } matrices[] = {{1, 10}, {5, 18}, {10, 32}};
    for (const auto& m : matrices) {
        Engine e;
        ASSERT_EQ(e.Build(71, L"DM", [&](tag_BarCode* h) { BCSet_DM_Size(h, m.size); }), S_OK);
        int cols = 0, rows = 0;
        BCGetSymbolSize(e.h, &cols, &rows);
        EXPECT_EQ(cols, m.side);
        EXPECT_EQ(rows, m.side);
        const ZXing::Result r = Read(e.bars, F::DataMatrix);
        EXPECT_EQ(r.text(), "DM");
    }
}

// The capacity is the symbol's for the kind of data; what does not fit a
// chosen version is refused with that version's limit.
TEST(CodebarEngine, CapacityDependsOnTheKindOfDataAndTheVersion) {
    const struct {
        int type;
        std::wstring text;
        int version;  // QR only
    } fits[] = {
        {58, std::wstring(7089, L'7'), 0}, {58, std::wstring(4296, L'A'), 0}, {71, std::wstring(3116, L'3'), 0},
        {55, std::wstring(2710, L'2'), 0}, {126, std::wstring(35, L'5'), 0},
        {126, std::wstring(21, L'M'), 0},  {58, std::wstring(41, L'1'), 1},
    };
    for (const auto& c : fits) {
        Engine e;
        auto setup = [&](tag_BarCode* h) {
            BCSet_QR_Version(h, c.version);
            BCSet_QR_ECLevel(h, 0);
            BCSet_PDF417_ECLevel(h, 0);
        };
        EXPECT_EQ(e.Build(c.type, c.text, setup), S_OK) << c.type << " " << c.text.size();
        EXPECT_EQ(e.Build(c.type, c.text + c.text.substr(0, 1), setup), BCERR_WRONG_LENGTH) << c.type;
        EXPECT_EQ(BCGetMaxLenOfText(e.h), static_cast<int>(c.text.size())) << c.type;
    }
}

// A setting the engine refuses fails the build instead of leaving the
// handle with the previous build's value.
TEST(CodebarEngine, RefusedSettingsFailTheBuild) {
    Engine e;
    ASSERT_EQ(e.Build(20, L"ABC"), S_OK);
    for (const wchar_t* width : {L"nan", L"inf", L"-250.00", L"0.00", L"abc"}) {
        EXPECT_EQ(e.Build(20, L"ABC", [&](tag_BarCode* h) { EXPECT_EQ(BCSetModWidthW(h, width), E_INVALIDARG); }),
                  E_INVALIDARG);
        EXPECT_NE(BCGetErrorDetailW(e.h), nullptr);
    }
    ASSERT_EQ(e.Build(58, L"caf\u00e9", [](tag_BarCode* h) { BCSetCodePage(h, 1252); }), S_OK);
    EXPECT_EQ(e.Build(58, L"caf\u00e9", [](tag_BarCode* h) { BCSetCodePage(h, 987654); }), E_INVALIDARG);
    EXPECT_EQ(e.Build(58, L"caf\u00e9", [](tag_BarCode* h) { BCSetCodePage(h, 65001); }), S_OK);
    EXPECT_NE(e.Build(9999, L"ABC"), S_OK);  // an unknown symbology is no Code 128 of before
    EXPECT_EQ(BCDrawCB(e.h, nullptr, nullptr), BCERR_NOT_CREATED);
    // Too short data says which lengths the symbology takes.
    EXPECT_EQ(e.Build(13, L"12345"), BCERR_WRONG_LENGTH);
    ASSERT_NE(BCGetErrorDetailW(e.h), nullptr);
    EXPECT_NE(std::wstring(BCGetErrorDetailW(e.h)).find(L"12 digits"), std::wstring::npos);
}

}  // namespace
