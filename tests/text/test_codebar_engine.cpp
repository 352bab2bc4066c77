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

#include "codebar/codebar.h"
#include "win32/windows.h"

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
        {37, L"2123456", BCERR_INVALID_DATA, 0},  // UPC-E number system
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

}  // namespace
