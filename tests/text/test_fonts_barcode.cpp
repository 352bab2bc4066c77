// Barcode texts: every offered symbology that ZXing reads is built through
// SetFonts, its own outlines rendered to pixels with cairo and decoded; the
// engine's error messages; the readable text; the module styles, inverse
// codes and the logo area on matrices of known answer.
#define ZX_USE_UTF8
#include <ZXing/ReadBarcode.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "morvik/codebar/codebar.h"
#include "morvik/core/morvik.h"
#include "morvik/halder/lang.h"
#include "support/shape_support.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "text/codebar_test_util.h"
#include "text/text_test_util.h"
#include "morvik/tolcode/tolcode.h"

namespace {

using text_test::FreeText;
using text_test::TextPtr;
using text_test::MakeCode;
using Tweak = text_test::CodebarTweak;

CString NameOf(int id) { return GetCodebarInstance()->GetTypeName(id); }

// Points [from, to) of the bar record.
std::vector<tagPOINTF> Points(CFonts& t, size_t from, size_t to) {
    const FONTSCHAR* ch = t.GetChars().empty() ? nullptr : t.GetChars()[0];
    if (ch == nullptr) return {};
    to = std::min(to, ch->points.size());
    return from < to ? std::vector<tagPOINTF>(ch->points.begin() + from, ch->points.begin() + to)
                     : std::vector<tagPOINTF>();
}

// The first n outline points of the bar record rendered black on white
// (even-odd, or non-zero for overlapping modules), modulePx pixels per
// module, ten modules of quiet zone; the result decoded.
std::string Decode(CFonts& t, size_t n, double modulePx = 4.0, bool nonZero = false) {
    const FONTSCHAR* ch = t.GetChars().empty() ? nullptr : t.GetChars()[0];
    if (ch == nullptr || n == 0) return "<empty>";
    n = std::min(n, ch->points.size());
    float x0 = ch->points[0].x, x1 = x0, y0 = ch->points[0].y, y1 = y0;
    for (size_t i = 0; i < n; ++i) {
        x0 = std::min(x0, ch->points[i].x), x1 = std::max(x1, ch->points[i].x);
        y0 = std::min(y0, ch->points[i].y), y1 = std::max(y1, ch->points[i].y);
    }
    const double s = modulePx / t.parCodebar.fModuleWidth, margin = 10 * t.parCodebar.fModuleWidth;
    const int w = static_cast<int>(std::ceil((x1 - x0 + 2 * margin) * s));
    const int h = static_cast<int>(std::ceil((y1 - y0 + 2 * margin) * s));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_fill_rule(cr, nonZero ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
    auto px = [&](size_t i) { return (ch->points[i].x - x0 + margin) * s; };
    auto py = [&](size_t i) { return (y1 - ch->points[i].y + margin) * s; };
    for (size_t i = 0; i < n; ++i) {
        const int type = ch->types[i] & 7;
        if (type == 0) {
            cairo_move_to(cr, px(i), py(i));
        } else if (type == 3 && i + 2 < n) {
            cairo_curve_to(cr, px(i), py(i), px(i + 1), py(i + 1), px(i + 2), py(i + 2));
            i += 2;
        } else {
            cairo_line_to(cr, px(i), py(i));
        }
    }
    cairo_fill(cr);
    cairo_surface_flush(surface);
    std::vector<uint8_t> lum(static_cast<size_t>(w) * h);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) lum[static_cast<size_t>(y) * w + x] = data[y * stride + x * 4 + 1];
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setReturnCodabarStartEnd(true);
    const ZXing::Result result = ZXing::ReadBarcode(ZXing::ImageView(lum.data(), w, h, ZXing::ImageFormat::Lum), hints);
    return result.isValid() ? result.text() : "<unread>";
}

// b is a moved copy of a, point for point.
void ExpectMovedCopy(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b) {
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    const float dx = b[0].x - a[0].x, dy = b[0].y - a[0].y;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_NEAR(a[i].x + dx, b[i].x, 1e-3) << i;
        ASSERT_NEAR(a[i].y + dy, b[i].y, 1e-3) << i;
    }
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

class BarcodeTest : public ::testing::Test {
protected:
    text_test::TempRunLog log{"barcode"};
    testsupport::HostScope host;
};

// ---- every readable symbology, decoded from the text's own outlines ------------------------------

TEST_F(BarcodeTest, EveryReadableSymbologyDecodesToItsData) {
    // The decoded text of GS1 data drops the parentheses of its identifiers.
    const std::pair<int, std::wstring> cases[] = {
        {58, L"Morvik QR 0123456789"}, {71, L"DataMatrix-2026"}, {92, L"Aztec code 42"},
        {55, L"PDF417 stacked text"},  {13, L"5901234123457"},   {10, L"96385074"},
        {34, L"036000291452"},         {37, L"01234565"},        {59, L"CODE 128 A"},
        {60, L"Code 128 b"},           {61, L"12345678"},        {20, L"Auto 128: 1234"},
        {16, L"(01)09501101530003"},   {121, L"(10)ABC123"},     {122, L"(10)abc123"},
        {123, L"(01)09501101530003"},  {8, L"CODE39 TEST"},      {25, L"CODE93"},
        {3, L"12345670"},              {18, L"A123456B"},
    };
    for (const auto& [id, data] : cases) {
        SCOPED_TRACE(Narrow(NameOf(id).GetString()) + " " + Narrow(data));
        TextPtr t = MakeCode(id, data);
        ASSERT_NE(t, nullptr);
        std::wstring want = data;
        std::erase_if(want, [](wchar_t c) { return c == L'(' || c == L')'; });
        EXPECT_EQ(Decode(*t, static_cast<size_t>(t->m_barcodeSize)), Narrow(want));
    }
}

TEST_F(BarcodeTest, ModuleStylesDecodeAndInverseDrawsTheLightModules) {
    const std::wstring data = L"Module styles 0042";
    // Circles that overlap their neighbours (a ring of circles is no finder
    // pattern to the decoder).
    for (const auto& tweak : std::vector<Tweak>{[](CODEBAR_PAR& p) { p.bRectModule = 1; },
                                                [](CODEBAR_PAR& p) {
                                                    p.bCircleModule = 1;
                                                    p.nModuleWidthPct = p.nModuleHeightPct = 145;
                                                }}) {
        TextPtr t = MakeCode(58, data, tweak);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(Decode(*t, static_cast<size_t>(t->m_barcodeSize), 4.0, true), Narrow(data));
    }
    // The rectangles of the plain and the inverse code share no module and
    // together cover the symbol and its ring of one module: (C+2) x (R+2).
    TextPtr plain = MakeCode(58, data, [](CODEBAR_PAR& p) { p.bRectModule = 1; });
    TextPtr inverse = MakeCode(58, data, [](CODEBAR_PAR& p) {
        p.bRectModule = 1;
        p.bInverse = 1;
    });
    ASSERT_TRUE(plain && inverse);
    const size_t a = static_cast<size_t>(plain->m_barcodeSize) / 5, b = static_cast<size_t>(inverse->m_barcodeSize) / 5;
    Gdiplus::RectF r = testsupport::RectOf(*plain);
    const size_t cols = static_cast<size_t>(std::lround(r.Width / 0.3));
    EXPECT_EQ(a + b, (cols + 2) * (cols + 2)) << "symbol of " << cols << " modules";
}

// Han Xin and grid codes have no reader here: their size in modules and the
// corner of their finder pattern, from one rectangle per dark module.
TEST_F(BarcodeTest, HanXinAndGridCodesHaveTheirSizeAndFinderCorner) {
    struct Case {
        int id, side;
    } cases[] = {{116, 23}, {125, 18}};
    for (const Case& c : cases) {
        const std::vector<int>& offered = GetCodebarInstance()->GetSymbologyList();
        if (std::find(offered.begin(), offered.end(), c.id) == offered.end()) continue;
        TextPtr t = MakeCode(c.id, L"1234", [](CODEBAR_PAR& p) {
            p.bRectModule = 1;
            p.n2DVersion = 1;
        });
        ASSERT_NE(t, nullptr) << c.id;
        const std::vector<tagPOINTF> pts = Points(*t, 0, SIZE_MAX);
        float left = pts[0].x, top = pts[0].y, right = left;
        for (const tagPOINTF& p : pts)
            left = std::min(left, p.x), top = std::max(top, p.y), right = std::max(right, p.x);
        EXPECT_EQ(std::lround((right - left) / 0.3), c.side) << c.id;
        std::set<std::pair<long, long>> dark;
        for (size_t i = 0; i < pts.size(); i += 5)
            dark.insert({std::lround((pts[i].x - left) / 0.3), std::lround((top - pts[i].y) / 0.3)});
        if (c.id != 116) continue;
        for (long k = 0; k < 7; ++k) EXPECT_TRUE(dark.count({k, 0}) && dark.count({0, k})) << k;
    }
}

// ---- messages of the engine -----------------------------------------------------------------------

TEST_F(BarcodeTest, InvalidDataAndWrongLengthGiveTheirMessages) {
    auto place = [](int id, const wchar_t* data) {
        TextPtr t(new CFonts());
        t->nFontType = 2;
        t->parCodebar.nCodeType = id;
        t->InitFontsPath({0, 0}, CString(data), NameOf(id), false);
        return t;
    };
    place(13, L"59012a4123457");
    CString wrong;
    wrong.Format(CLang::Instance()->GetString("IDS_FONTS_WRONG_TEXT").GetString(), L'a', 6);
    place(13, L"590123412345789012");
    CString length;
    length.Format(CLang::Instance()->GetString("IDS_FONTS_WRONG_TEXT_LEN").GetString(), BCGetMaxLenOfData(13));
    const std::vector<std::wstring> texts = host.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], wrong.GetString());
    EXPECT_EQ(texts[1], length.GetString());
}

TEST_F(BarcodeTest, FailedTrialLeavesTheTextAsItWas) {
    TextPtr t = MakeCode(13, L"5901234123457");
    ASSERT_NE(t, nullptr);
    t->parCodebarInit.fBarHeight = 77.0f;
    const size_t points = t->GetChars()[0]->points.size();
    FONTS_PAR fonts;
    CODEBAR_PAR codebar = t->parCodebar;
    codebar.fBarHeight = 3.0f;
    CString bad(L"59x"), name = NameOf(13), unknown(L"No such code");
    EXPECT_EQ(t->IsValidBarcode(bad, 2, name, fonts, codebar), 0);
    EXPECT_EQ(t->IsValidBarcode(bad, 2, unknown, fonts, codebar), 0);
    EXPECT_EQ(t->parCodebarInit.fBarHeight, 77.0f);
    EXPECT_EQ(t->parCodebar.fBarHeight, 10.0f);
    EXPECT_EQ(t->GetText(), CString(L"5901234123457"));
    VARTEXT_PAR var;
    EXPECT_EQ(t->SetFonts(bad, 2, name, fonts, codebar, var, 1, 0, false), 0);
    EXPECT_EQ(t->GetChars()[0]->points.size(), points);
    EXPECT_TRUE(host.Texts().empty());
    // The refused code is not marked in the kept one's place, until a code
    // is laid out again; the run log says why.
    tagMarkDataPar out;
    EXPECT_FALSE(t->GetMarkData(out, nullptr));
    EXPECT_NE(text_test::ReadLogs(log.Dir()).find("GetMarkData refused: the code of the text was refused by SetFonts"),
              std::string::npos);
    ASSERT_EQ(t->SetFonts(CString(L"5901234123457"), 2, name, fonts, codebar, var, 1, 0, false), 1);
    EXPECT_TRUE(t->GetMarkData(out, nullptr));
    EXPECT_FALSE(out.arrPaths.empty());
}

TEST_F(BarcodeTest, AddInWithoutEncoderFailsCleanlyAndItsGridIsRead) {
    TextPtr t = MakeCode(128, L"anything");
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(host.Texts().size(), 1u);
    // An encoder that gives two modules touching at a corner, and one
    // outside the symbol.
    const TolcodeOutlineFunc old = SetTolcodeOutlineSource([](const char*, Symbology, int, int, int) {
        auto* o = new FBarcode();
        o->nRows = 2;
        o->nCols = 2;
        o->arrModules.Add(FBarcodeModule{0, 0, {0, 0}});
        o->arrModules.Add(FBarcodeModule{4, 5, {0, 0}});
        o->arrModules.Add(FBarcodeModule{30, 0, {0, 0}});
        return o;
    });
    TextPtr two = MakeCode(128, L"anything");
    SetTolcodeOutlineSource(old);
    ASSERT_NE(two, nullptr);
    // Two areas, each a closed square of 5 points.
    EXPECT_EQ(two->m_barcodeSize, 10);
}

TEST_F(BarcodeTest, LinearBarsHangFromTheTextsPosition) {
    // The bars hang from the text's position, its reference point (the top
    // left corner): every bar's top at the position, its foot the bar length
    // lower, the bar height truncated (the notch height), shortened by five
    // modules for the digit bars of EAN-13.
    const double height = 9.5, module = 0.35, full = std::trunc(height);
    for (const int id : {8, 60, 13}) {
        SCOPED_TRACE(id);
        TextPtr t(new CFonts());
        t->fontspos = {12.5f, -7.25f};
        FONTS_PAR fonts;
        CODEBAR_PAR codebar;
        VARTEXT_PAR var;
        codebar.nCodeType = id;
        codebar.bShowText = 0;
        codebar.fModuleWidth = static_cast<float>(module);
        codebar.fBarHeight = static_cast<float>(height);
        const CString data(id == 13 ? L"5901234123457" : L"BARS 42");
        ASSERT_EQ(t->SetFonts(data, 2, NameOf(id), fonts, codebar, var, 1, 0, false), 1);
        const std::vector<tagPOINTF> pts = Points(*t, 0, static_cast<size_t>(t->m_barcodeSize));
        ASSERT_TRUE(!pts.empty() && pts.size() % 5 == 0);
        const tagPOINTF pos = t->fontspos;
        EXPECT_TRUE(pos.x == 12.5f && pos.y == -7.25f);
        float left = pts[0].x;
        int fullBars = 0;
        for (size_t i = 0; i < pts.size(); i += 5) {
            left = std::min(left, pts[i].x);
            EXPECT_FLOAT_EQ(pts[i].y, pos.y);
            const double length = pts[i].y - pts[i + 2].y;
            fullBars += std::fabs(length - full) < 1e-5;
            EXPECT_TRUE(std::fabs(length - full) < 1e-5 || (id == 13 && std::fabs(length - (full - 5 * module)) < 1e-5))
                << length;
        }
        EXPECT_GE(fullBars, id == 13 ? 6 : static_cast<int>(pts.size() / 5));
        EXPECT_GE(left, pos.x);
        if (id != 13) {
            EXPECT_FLOAT_EQ(left, pos.x);  // the start character begins with a bar
            EXPECT_FLOAT_EQ(left, 12.5f);
        }
    }
}

TEST_F(BarcodeTest, FixedSizeScalesTheSymbolAndSkipsAnEmptyOne) {
    TextPtr t = MakeCode(58, L"fixed", [](CODEBAR_PAR& p) {
        p.bFixSize = 1;
        p.fFixWidth = 20.0f;
        p.fFixHeight = 12.0f;
    });
    ASSERT_NE(t, nullptr);
    Gdiplus::RectF r = testsupport::RectOf(*t);
    EXPECT_NEAR(r.Width, 20.0, 1e-3);
    EXPECT_NEAR(r.Height, 12.0, 1e-3);
    TextPtr blank = MakeCode(20, L" ", [](CODEBAR_PAR& p) { p.bFixSize = 1; });
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->m_barcodeSize, 0);
    for (const tagPOINTF& p : blank->GetChars()[0]->points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    // A module width of zero builds nothing that divides by it.
    MakeCode(55, L"zero", [](CODEBAR_PAR& p) { p.fModuleWidth = 0.0f; });
    MakeCode(58, L"zero", [](CODEBAR_PAR& p) { p.fModuleWidth = 0.0f; });
}

// Absurd parameters on every offered symbology build or fail cleanly, and
// whatever is built is finite.
TEST_F(BarcodeTest, AbsurdParametersNeverBreakTheBuild) {
    std::mt19937 rng(5);
    const float widths[] = {0.3f, 0.0f, -0.3f, 1e-7f, 1e6f};
    const float heights[] = {10.0f, 0.0f, -5.0f, 0.4f, 1e7f};
    const int16_t shorts[] = {0, -1, 1, 40, 99, -32768, 32767};
    const std::wstring texts[] = {L"", L" ", L"0", L"12345678901234567890", L"ÄÖü漢字\r\n", std::wstring(3000, L'9')};
    for (const int id : GetCodebarInstance()->GetSymbologyList()) {
        for (int k = 0; k < 8; ++k) {
            TextPtr t = MakeCode(id, texts[rng() % std::size(texts)], [&](CODEBAR_PAR& p) {
                p.fModuleWidth = widths[rng() % std::size(widths)];
                p.fBarHeight = heights[rng() % std::size(heights)];
                p.n2DVersion = shorts[rng() % std::size(shorts)];
                p.n2DECLevel = shorts[rng() % std::size(shorts)];
                p.nPDF417Cols = shorts[rng() % std::size(shorts)];
                p.nPDF417Rows = shorts[rng() % std::size(shorts)];
                p.bRectModule = static_cast<int16_t>(rng() % 2);
                p.bInverse = static_cast<int>(rng() % 2);
                p.nModuleWidthPct = static_cast<int>(rng() % 400) - 100;
                p.bLogo = 1;
                p.fLogoRatio = static_cast<float>(rng() % 300) / 100.0f;
                p.bShowText = 1;
                p.dTextWidth = (rng() % 3) * 0.5;
                p.bFixSize = static_cast<int>(rng() % 2);
                p.fFixWidth = static_cast<float>(rng() % 3);
            });
            if (t == nullptr) continue;
            for (const tagPOINTF& q : Points(*t, 0, SIZE_MAX))
                ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << id;
        }
    }
}

TEST_F(BarcodeTest, TwoDimensionalCodeKeepsItsCentreWhenItGrows) {
    TextPtr t = MakeCode(58, L"short");
    ASSERT_NE(t, nullptr);
    t->Move(5.0f, 7.0f);
    Gdiplus::RectF a, b;
    t->GetRectangle(a);
    FONTS_PAR fonts = t->parFonts;
    CODEBAR_PAR codebar = t->parCodebar;
    VARTEXT_PAR var;
    ASSERT_EQ(t->SetFonts(CString(std::wstring(120, L'x').c_str()), 2, NameOf(58), fonts, codebar, var, 1, 0, false), 1);
    t->GetRectangle(b);
    EXPECT_GT(b.Width, a.Width);
    EXPECT_NEAR(b.X + b.Width / 2, a.X + a.Width / 2, 1e-4);
    EXPECT_NEAR(b.Y - b.Height / 2, a.Y - a.Height / 2, 1e-4);
}

// Texts of one view share its engine handle: two threads building different
// codes get what each builds alone.
TEST_F(BarcodeTest, TextsOfOneViewBuildOnTwoThreads) {
    testsupport::ViewAt at;
    auto build = [&](int id, const std::wstring& data) {
        TextPtr t(new CFonts());
        t->SetDocView(&at.doc, &at.view);
        FONTS_PAR fonts;
        CODEBAR_PAR codebar;
        VARTEXT_PAR var;
        codebar.bShowText = 0;
        t->SetFonts(CString(data.c_str()), 2, NameOf(id), fonts, codebar, var, 1, 0, false);
        return Points(*t, 0, SIZE_MAX).size();
    };
    const size_t qr = build(58, L"thread one"), ean = build(13, L"5901234123457");
    ASSERT_GT(qr, 0u);
    ASSERT_GT(ean, 0u);
    std::atomic<int> wrong{0};
    std::thread other([&] {
        for (int i = 0; i < 40; ++i) wrong += build(13, L"5901234123457") != ean;
    });
    for (int i = 0; i < 40; ++i) wrong += build(58, L"thread one") != qr;
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---- readable text ----------------------------------------------------------------------------------

TEST_F(BarcodeTest, TemplatesRewriteTheText) {
    CFonts t;
    struct Case {
        const wchar_t *tpl, *data, *out;
    } cases[] = {
        {L"(##)##", L"1234", L"(12)34"}, {L"##?#", L"1234", L"124"},
        {L"%#", L"12", L"12"},           {L"#/#", L"12", L"1\r\n2"},
        {L"##-##", L"123456", L"12345"}, {L"##-#", L"12", L"12-#"},
        {L"##", L"\r\n", L"\r\n"},       {L"", L"12", L"12"},
    };
    for (const Case& c : cases) {
        t.parCodebar.strCustomText = c.tpl;
        EXPECT_EQ(t.DiyCodeBarTxt(c.data), CString(c.out)) << Narrow(c.tpl);
    }
    EXPECT_EQ(CFonts::GetEAN_13Verify(L"590123412345"), 7);
    EXPECT_EQ(CFonts::GetEAN_13Verify(L"400638133393"), 1);
    EXPECT_EQ(CFonts::GetEAN_13Verify(L"00000000000"), -1);

    // A template shows its rewrite under the code: the same outline as the
    // rewritten text shown plainly (up to its place).
    auto textShape = [](const std::wstring& data, bool custom) {
        return MakeCode(60, data, [custom](CODEBAR_PAR& p) {
            p.bShowText = 1;
            p.bCustomText = custom ? 1 : 0;
            p.strCustomText = L"(##)##";
        });
    };
    TextPtr a = textShape(L"1234", true), b = textShape(L"(12)34", false);
    ASSERT_TRUE(a && b);
    ExpectMovedCopy(Points(*a, a->m_barcodeSize, SIZE_MAX), Points(*b, b->m_barcodeSize, SIZE_MAX));
}

TEST_F(BarcodeTest, Ean13ShowsThreeDigitGroupsWithTheComputedCheckDigit) {
    auto make = [](const wchar_t* data) {
        return MakeCode(13, data, [](CODEBAR_PAR& p) {
            p.bShowText = 1;
            p.dTextWidth = 1.0;
            p.dTextHeight = 2.0;
        });
    };
    TextPtr good = make(L"5901234123457"), wrong = make(L"5901234123450");
    ASSERT_TRUE(good && wrong);
    const std::vector<tagPOINTF> text = Points(*good, good->m_barcodeSize, SIZE_MAX);
    ASSERT_FALSE(text.empty());
    // The wrong check digit is shown as the computed one.
    EXPECT_EQ(Points(*wrong, 0, SIZE_MAX).size(), Points(*good, 0, SIZE_MAX).size());
    const std::vector<tagPOINTF> other = Points(*wrong, wrong->m_barcodeSize, SIZE_MAX);
    ASSERT_EQ(other.size(), text.size());
    for (size_t i = 0; i < text.size(); ++i) EXPECT_NEAR(other[i].x, text[i].x, 1e-4);

    // The bars, left to right: the first digit stands left of the start
    // guard, six digits between the start and the centre guard, six between
    // the centre and the end guard; all below the bars.
    const std::vector<tagPOINTF> bars = Points(*good, 0, good->m_barcodeSize);
    float left = bars[0].x, right = left, bottom = bars[0].y;
    for (const tagPOINTF& p : bars)
        left = std::min(left, p.x), right = std::max(right, p.x), bottom = std::min(bottom, p.y);
    const float mid = (left + right) / 2, module = 0.3f;
    int groups[3] = {0, 0, 0};
    for (const tagPOINTF& p : text) {
        EXPECT_LT(p.y, bottom);
        if (p.x < left) {
            ++groups[0];
        } else if (p.x > left + 3 * module && p.x < mid - 2 * module) {
            ++groups[1];
        } else if (p.x > mid + 2 * module && p.x < right - 3 * module) {
            ++groups[2];
        } else {
            ADD_FAILURE() << "text point at x " << p.x << " outside the three groups";
        }
    }
    EXPECT_GT(groups[0], 0);
    EXPECT_GT(groups[1], 5 * groups[0] / 2);
    EXPECT_GT(groups[2], 5 * groups[0] / 2);
}

// ---- the mark equals the data ----------------------------------------------------------------------

// Data every offered symbology builds.
std::wstring GoodData(int id) {
    switch (id) {
        case 13: return L"590123412345";
        case 10: return L"9638507";
        case 34: return L"03600029145";
        case 37: return L"123457";
        case 3: case 7: case 61: return L"1234";
        case 18: return L"A123B";
        case 16: case 121: case 122: case 123: return L"(10)123";
        case 124: return std::wstring(256, L'1');
        default: return L"CODE1";
    }
}

// A number that is no size, or an absurd one, in any numeric barcode
// parameter of any symbology: the text builds finite outlines or refuses
// the edit and keeps the code it had, point for point.
TEST_F(BarcodeTest, NumbersThatAreNoSizesAreRefusedAndTheCodeStays) {
    using Field = std::function<void(CODEBAR_PAR&, double)>;
    const std::pair<const char*, Field> fields[] = {
        {"bar height", [](CODEBAR_PAR& p, double v) { p.fBarHeight = static_cast<float>(v); }},
        {"module width", [](CODEBAR_PAR& p, double v) { p.fModuleWidth = static_cast<float>(v); }},
        {"text height", [](CODEBAR_PAR& p, double v) { p.dTextHeight = v; }},
        {"text width", [](CODEBAR_PAR& p, double v) { p.dTextWidth = v; }},
        {"text x", [](CODEBAR_PAR& p, double v) { p.dTextOffsetX = v; }},
        {"text y", [](CODEBAR_PAR& p, double v) { p.dTextOffsetY = v; }},
        {"text space", [](CODEBAR_PAR& p, double v) { p.dTextSpace = v; }},
        {"fixed width", [](CODEBAR_PAR& p, double v) { p.fFixWidth = static_cast<float>(v); }},
        {"fixed height", [](CODEBAR_PAR& p, double v) { p.fFixHeight = static_cast<float>(v); }},
        {"logo", [](CODEBAR_PAR& p, double v) { p.fLogoRatio = static_cast<float>(v); }},
    };
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double values[] = {nan, inf, -inf, 1e30, -1.0, 0.0};
    auto base = [](CODEBAR_PAR& p) {
        p.bShowText = 1;
        p.dTextWidth = 1.0;
        p.dTextHeight = 1.5;
        p.bFixSize = 1;
        p.fFixWidth = 30.0f;
        p.fFixHeight = 12.0f;
        p.bLogo = 1;
        p.fLogoRatio = 0.1f;
    };
    for (const int id : GetCodebarInstance()->GetSymbologyList()) {
        if (id == CMyCodebar::kTolcode) continue;  // no encoder installed
        TextPtr t = MakeCode(id, GoodData(id), base);
        ASSERT_NE(t, nullptr) << id;
        const CODEBAR_PAR original = t->parCodebar;
        for (const auto& [name, set] : fields)
            for (const double v : values) {
                const std::vector<tagPOINTF> before = Points(*t, 0, SIZE_MAX);
                SCOPED_TRACE(std::string(name) + " = " + std::to_string(v) + " on " + std::to_string(id));
                FONTS_PAR fonts = t->parFonts;
                CODEBAR_PAR codebar = t->parCodebar;
                VARTEXT_PAR var;
                set(codebar, v);
                const int rc = t->SetFonts(CString(GoodData(id).c_str()), 2, NameOf(id), fonts, codebar, var, 1, 0, false);
                const std::vector<tagPOINTF> after = Points(*t, 0, SIZE_MAX);
                if (rc == 0) {
                    ASSERT_EQ(after.size(), before.size());
                    for (size_t i = 0; i < after.size(); ++i)
                        ASSERT_TRUE(after[i].x == before[i].x && after[i].y == before[i].y) << i;
                    continue;
                }
                for (const tagPOINTF& q : after) ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
                // A width, or the height of bars, that is no number is never
                // taken for one.
                const bool bars = !t->parCodebar.Is2DCode() || id == 55;
                const std::string field = name;
                EXPECT_FALSE(!std::isfinite(v) && (field == "module width" || (bars && field == "bar height")));
                // Back to the first code for the next case.
                CODEBAR_PAR first = original;
                ASSERT_EQ(t->SetFonts(CString(GoodData(id).c_str()), 2, NameOf(id), fonts, first, var, 1, 0, false), 1);
                ASSERT_EQ(Points(*t, 0, SIZE_MAX).size(), before.size());
            }
    }
    // The one who placed the code hears why.
    TextPtr placed(new CFonts());
    placed->nFontType = 2;
    placed->parCodebar.fModuleWidth = std::numeric_limits<float>::quiet_NaN();
    placed->InitFontsPath({0, 0}, L"1234", NameOf(20), false);
    ASSERT_EQ(host.Texts().size(), 1u);
    EXPECT_NE(host.Texts()[0].find(L"module width"), std::wstring::npos);
}

// Texts of one view share the engine handle: each builds the same symbol
// whatever was built on the handle before it.
TEST_F(BarcodeTest, EveryBuildStartsFromItsOwnSettings) {
    testsupport::ViewAt at;
    struct Spec {
        int id;
        std::wstring data;
        Tweak tweak;
    };
    const std::vector<Spec> specs = {
        {20, L"ABC", [](CODEBAR_PAR& p) { p.fModuleWidth = 1.0f; }},
        {20, L"ABC", [](CODEBAR_PAR& p) { p.fModuleWidth = 0.0f; }},
        {20, L"ABC", [](CODEBAR_PAR& p) { p.fModuleWidth = 0.2f; }},
        {58, L"caf\u00e9", [](CODEBAR_PAR& p) { p.nCodePage = 1252; }},
        {58, L"caf\u00e9", [](CODEBAR_PAR& p) { p.nCodePage = 987654; }},
        {58, L"caf\u00e9", [](CODEBAR_PAR& p) { p.nCodePage = 65001; }},
        {58, L"QR", [](CODEBAR_PAR& p) { p.n2DVersion = 5, p.n2DECLevel = 3; }},
        {58, L"QR", [](CODEBAR_PAR&) {}},
        {121, L"(10)12", [](CODEBAR_PAR&) {}},
        {16, L"(10)12", [](CODEBAR_PAR&) {}},
        {71, L"DM", [](CODEBAR_PAR& p) { p.n2DVersion = 10; }},
        {71, L"DM", [](CODEBAR_PAR&) {}},
    };
    auto build = [&](const Spec& s) {
        TextPtr t(new CFonts());
        t->SetDocView(&at.doc, &at.view);
        FONTS_PAR fonts;
        CODEBAR_PAR codebar;
        VARTEXT_PAR var;
        codebar.bShowText = 0;
        codebar.fModuleWidth = 0.3f;
        s.tweak(codebar);
        const int rc = t->SetFonts(CString(s.data.c_str()), 2, NameOf(s.id), fonts, codebar, var, 1, 0, false);
        return rc == 1 ? Points(*t, 0, SIZE_MAX) : std::vector<tagPOINTF>();
    };
    // Alone, each on a handle of its own view.
    std::vector<std::vector<tagPOINTF>> alone;
    for (const Spec& s : specs) {
        testsupport::ViewAt own;
        TextPtr t(new CFonts());
        t->SetDocView(&own.doc, &own.view);
        alone.push_back(build(s));
    }
    EXPECT_TRUE(alone[1].empty());  // no width
    EXPECT_TRUE(alone[4].empty());  // no such code page
    std::mt19937 rng(23);
    for (int round = 0; round < 60; ++round) {
        const size_t k = rng() % specs.size();
        const std::vector<tagPOINTF> got = build(specs[k]);
        ASSERT_EQ(got.size(), alone[k].size()) << k;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(got[i].x == alone[k][i].x && got[i].y == alone[k][i].y) << k;
    }
}

// The readable text of every linear symbology is the decoded bars laid
// out: check digits and padding included, with and without a fixed size.
TEST_F(BarcodeTest, ReadableTextIsWhatTheBarsEncode) {
    const std::pair<int, std::wstring> cases[] = {
        {10, L"9638507"},      {10, L"96385071"},    {34, L"036000291459"}, {34, L"03600029145"},
        {37, L"01234560"},     {37, L"123457"},      {3, L"12345"},         {3, L"123456"},
        {8, L"CODE-39"},      {25, L"CODE93"},       {18, L"A40156B"},
        {59, L"CODE A"},       {60, L"Code b"},      {61, L"123456"},       {20, L"Auto 128"},
    };
    for (const bool fixed : {false, true}) {
        auto tweak = [fixed](CODEBAR_PAR& p) {
            p.bShowText = 1;
            p.dTextWidth = 1.2;
            p.dTextHeight = 2.0;
            p.bFixSize = fixed ? 1 : 0;
            p.fFixWidth = 50.0f;
            p.fFixHeight = 15.0f;
        };
        for (const auto& [id, data] : cases) {
            SCOPED_TRACE(Narrow(NameOf(id).GetString()) + " " + Narrow(data) + (fixed ? " fixed" : ""));
            TextPtr t = MakeCode(id, data, tweak);
            ASSERT_NE(t, nullptr);
            Gdiplus::RectF r = testsupport::RectOf(*t);
            const std::string decoded = Decode(*t, static_cast<size_t>(t->m_barcodeSize), fixed ? 8.0 : 4.0);
            ASSERT_NE(decoded, "<unread>");
            // A fresh layout of the decoded string under a code that shows
            // its data as it is.
            TextPtr plain = MakeCode(60, std::wstring(decoded.begin(), decoded.end()), tweak);
            ASSERT_NE(plain, nullptr);
            const std::vector<tagPOINTF> a = Points(*t, t->m_barcodeSize, SIZE_MAX);
            ASSERT_NO_FATAL_FAILURE(ExpectMovedCopy(a, Points(*plain, plain->m_barcodeSize, SIZE_MAX)));
            // Centred under the bars.
            float lo = a[0].x, hi = a[0].x;
            for (const tagPOINTF& q : a) lo = std::min(lo, q.x), hi = std::max(hi, q.x);
            EXPECT_NEAR((lo + hi) / 2, r.X + r.Width / 2, 0.05);
        }
    }
}

// EAN-13 at a fixed size: the digit groups stand under the bars they
// belong to, the first left of the start guard.
TEST_F(BarcodeTest, Ean13DigitsFollowTheBarsToAFixedSize) {
    for (const bool fixed : {false, true}) {
        TextPtr t = MakeCode(13, L"5901234123457", [&](CODEBAR_PAR& p) {
            p.bShowText = 1;
            p.dTextWidth = 1.0;
            p.dTextHeight = 2.0;
            p.bFixSize = fixed ? 1 : 0;
            p.fFixWidth = 60.0f;
            p.fFixHeight = 20.0f;
        });
        ASSERT_NE(t, nullptr);
        const std::vector<tagPOINTF> bars = Points(*t, 0, t->m_barcodeSize), text = Points(*t, t->m_barcodeSize, SIZE_MAX);
        float left = bars[0].x, right = left;
        for (const tagPOINTF& p : bars) left = std::min(left, p.x), right = std::max(right, p.x);
        const float module = (right - left) / 95;  // 95 modules from guard to guard
        float lo = text[0].x, hi = text[0].x;
        for (const tagPOINTF& p : text) lo = std::min(lo, p.x), hi = std::max(hi, p.x);
        EXPECT_LT(lo, left) << fixed;
        EXPECT_GT(lo, left - 11 * module) << fixed;
        // The last group stands right of the centre guard and ends before
        // the end guard.
        EXPECT_LT(hi, right - 3 * module + 0.01f) << fixed;
        EXPECT_GT(hi, left + 50 * module) << fixed;
    }
}

// Each message says what is wrong with the data as typed.
TEST_F(BarcodeTest, MessagesSayWhatIsWrongWithTheData) {
    auto place = [](int id, const wchar_t* data, const Tweak& tweak = nullptr) {
        TextPtr t(new CFonts());
        t->nFontType = 2;
        t->parCodebar.fModuleWidth = 0.3f;
        if (tweak) tweak(t->parCodebar);
        t->InitFontsPath({0, 0}, CString(data), NameOf(id), false);
    };
    CString tooLong;
    tooLong.Format(CLang::Instance()->GetString("IDS_FONTS_WRONG_TEXT_LEN").GetString(), 34);
    place(13, L"12345");                         // too short
    place(37, L"2123456");                       // no such number system
    place(58, std::wstring(35, L'1').c_str(), [](CODEBAR_PAR& p) {
        p.n2DVersion = 1;  // 34 digits at level M
        p.n2DECLevel = 1;
    });
    const std::vector<std::wstring> texts = host.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find(L"12 digits"), std::wstring::npos) << Narrow(texts[0]);
    EXPECT_NE(texts[1].find(L"number system"), std::wstring::npos) << Narrow(texts[1]);
    EXPECT_EQ(texts[2], tooLong.GetString());
}

// ---- module styles on known matrices ---------------------------------------------------------------

// A text holding a bar record and the matrix of the strings (rows from the
// top, '#' dark), module pitch 1.
struct Matrix {
    CFonts text;
    int cols, rows;
    explicit Matrix(const std::vector<std::string>& lines) : cols(int(lines[0].size())), rows(int(lines.size())) {
        text.GetChars().push_back(new FONTSCHAR());
        text.parCodebar.fModuleWidth = 1.0f;
        std::vector<uint8_t> cells(static_cast<size_t>(cols * rows));
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r) cells[static_cast<size_t>(c * rows + r)] = lines[r][c] == '#';
        text.LoadModuleMatrix(cols, rows, cells);
    }
    FONTSCHAR& rec() { return *text.GetChars()[0]; }
    // The traced figures, each as its points.
    std::vector<std::vector<tagPOINTF>> Figures() {
        std::vector<std::vector<tagPOINTF>> out;
        for (size_t i = 0; i < rec().points.size(); ++i) {
            if (rec().types[i] == 0) out.emplace_back();
            out.back().push_back(rec().points[i]);
        }
        return out;
    }
};

using testsupport::InsideEvenOdd;

TEST(BarcodeModules, TracedOutlinesFollowTheLattice) {
    Matrix full({"###", "###", "###"});
    full.text.Gen2DPath();
    const int expect[][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3},
                             {2, 3}, {1, 3}, {0, 3}, {0, 2}, {0, 1}, {0, 0}};
    ASSERT_EQ(full.rec().points.size(), std::size(expect));
    for (size_t i = 0; i < std::size(expect); ++i) {
        EXPECT_EQ(full.rec().points[i].x, expect[i][0]);
        EXPECT_EQ(full.rec().points[i].y, 3 - expect[i][1]);
        EXPECT_EQ(full.rec().types[i], i == 0 ? 0 : 1);
    }
    EXPECT_EQ(full.text.GetModuleCols(), 0);  // the matrix is freed

    Matrix ring({"###", "#.#", "###"});
    ring.text.Gen2DPath();
    EXPECT_EQ(ring.Figures().size(), 2u);
    Matrix diagonal({"#.", ".#"});
    diagonal.text.Gen2DPath();
    EXPECT_EQ(diagonal.Figures().size(), 2u);
}

TEST(BarcodeModules, TracedOutlinesReproduceRandomMatricesAndManyHoles) {
    std::mt19937 rng(11);
    std::vector<std::vector<std::string>> cases;
    // One area with 144 holes.
    std::vector<std::string> holes(25, std::string(25, '#'));
    for (int r = 1; r < 25; r += 2)
        for (int c = 1; c < 25; c += 2) holes[r][c] = '.';
    cases.push_back(holes);
    for (int k = 0; k < 300; ++k) {
        const int cols = 1 + int(rng() % 30), rows = 1 + int(rng() % 30);
        const double density = 0.3 + 0.4 * (rng() % 100) / 100.0;
        std::vector<std::string> m(rows, std::string(cols, '.'));
        for (auto& line : m)
            for (char& ch : line) ch = (rng() % 1000) < density * 1000 ? '#' : '.';
        cases.push_back(m);
    }
    for (const auto& m : cases) {
        Matrix t(m);
        t.text.Gen2DPath();
        const auto figs = t.Figures();
        for (const auto& f : figs) ASSERT_TRUE(f.front().x == f.back().x && f.front().y == f.back().y);
        for (int r = 0; r < t.rows; ++r)
            for (int c = 0; c < t.cols; ++c)
                ASSERT_EQ(InsideEvenOdd(figs, c + 0.5, t.rows - r - 0.5), m[r][c] == '#')
                    << "cell " << c << "," << r << " of " << t.cols << "x" << t.rows;
    }
}

TEST(BarcodeModules, PointsRectanglesCirclesAndInverseRing) {
    Matrix points({"#.", ".#"});
    points.text.GenPointMatri();
    ASSERT_EQ(points.rec().points.size(), 2u);
    EXPECT_EQ(points.rec().points[1].x, 1.0f);
    EXPECT_EQ(points.rec().points[1].y, -1.0f);

    Matrix rects({"#.", ".#"});
    rects.text.parCodebar.nModuleWidthPct = 50;
    rects.text.GenRectMatri();
    ASSERT_EQ(rects.rec().points.size(), 10u);
    EXPECT_EQ(rects.rec().points[7].x, 1.5f);  // second module, right edge
    EXPECT_EQ(rects.rec().points[8].y, -2.0f);

    // Inverse on an all-dark matrix: only the ring, 2C + 2R + 4 modules,
    // each just outside the symbol.
    Matrix dark({"###", "###"});
    dark.text.parCodebar.bInverse = 1;
    dark.text.GenRectMatri();
    ASSERT_EQ(dark.rec().points.size(), 5u * (2 * 3 + 2 * 2 + 4));
    for (size_t i = 0; i < dark.rec().points.size(); i += 5) {
        const tagPOINTF p = dark.rec().points[i];
        EXPECT_TRUE(p.x < 0 || p.x >= 3 || p.y > 0 || p.y <= -2) << p.x << "," << p.y;
    }
    // Inverse: each light module, and the ring one module wide on all four
    // sides touching the symbol, module for module (cell c, r at c p, -r p).
    const std::vector<std::string> cells = {"##.#", "#.##", "###."};
    Matrix inv(cells);
    inv.text.parCodebar.fModuleWidth = 0.75f;
    inv.text.parCodebar.bInverse = 1;
    inv.text.GenRectMatri();
    std::multiset<std::pair<float, float>> want, got;
    for (int c = -1; c <= 4; ++c)
        for (int r = -1; r <= 3; ++r)
            if (c < 0 || c == 4 || r < 0 || r == 3 || cells[r][c] == '.') want.insert({c * 0.75f, -r * 0.75f});
    for (size_t i = 0; i < inv.rec().points.size(); i += 5) got.insert({inv.rec().points[i].x, inv.rec().points[i].y});
    EXPECT_EQ(got, want);

    Matrix circle({"#"});
    circle.text.parCodebar.fModuleWidth = 2.0f;
    circle.text.GenCircleMatri();
    const auto& c = circle.rec().points;
    ASSERT_EQ(c.size(), 13u);
    for (size_t q = 0; q + 3 < c.size(); q += 3) {
        for (double t : {0.0, 0.25, 0.5, 0.75}) {
            const double u = 1 - t;
            const double x =
                u * u * u * c[q].x + 3 * u * u * t * c[q + 1].x + 3 * u * t * t * c[q + 2].x + t * t * t * c[q + 3].x;
            const double y =
                u * u * u * c[q].y + 3 * u * u * t * c[q + 1].y + 3 * u * t * t * c[q + 2].y + t * t * t * c[q + 3].y;
            EXPECT_NEAR(std::hypot(x - 1.0, y + 1.0), 1.0, 1e-3);
        }
    }
}

TEST(BarcodeModules, LogoAreaIsClearedInsideTheMatrix) {
    // w = round(n x ratio), one less when n is odd and w even; the cells
    // (n - w) / 2 to (n - w) / 2 + w are cleared, both ends included.
    const struct {
        int cols, rows;
        float ratio;
        int c0, c1, r0, r1;
    } cases[] = {{25, 25, 0.2f, 10, 15, 10, 15}, {24, 24, 0.2f, 9, 14, 9, 14}, {21, 21, 0.3f, 8, 13, 8, 13},
                 {24, 17, 0.25f, 9, 15, 7, 10},  {9, 12, 0.5f, 2, 7, 3, 9}};
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.cols) + "x" + std::to_string(k.rows));
        Matrix t(std::vector<std::string>(static_cast<size_t>(k.rows), std::string(static_cast<size_t>(k.cols), '#')));
        t.text.parCodebar.fLogoRatio = k.ratio;
        t.text.AndLogoPic(false, true);
        for (int c = 0; c < k.cols; ++c)
            for (int r = 0; r < k.rows; ++r)
                ASSERT_EQ(t.text.ModuleAt(c, r), c >= k.c0 && c <= k.c1 && r >= k.r0 && r <= k.r1 ? 0 : 1) << c << "," << r;
    }
    const std::vector<std::string> all(25, std::string(25, '#'));
    Matrix none(all);
    none.text.parCodebar.fLogoRatio = 0.0f;
    none.text.AndLogoPic(false, true);
    EXPECT_EQ(none.text.ModuleAt(12, 12), 1);
    for (const float ratio : {1.0f, 1.5f, 1e9f}) {
        Matrix big(all);
        big.text.parCodebar.fLogoRatio = ratio;
        big.text.AndLogoPic(false, true);
        big.text.AndLogoPic(false, false);
        EXPECT_EQ(big.text.ModuleAt(0, 0), 0);
    }
    // Through a build: the logo area of a QR code is empty in the traced
    // outlines, plain or inverse, and in the inverse rectangles.
    for (const auto& [inverse, rects] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{1, 0}}) {
        SCOPED_TRACE(inverse + 2 * rects);
        TextPtr q = MakeCode(58, L"logo area", [inverse, rects](CODEBAR_PAR& p) {
            p.bLogo = 1;
            p.fLogoRatio = 0.3f;
            p.bInverse = inverse;
            p.bRectModule = rects;
        });
        ASSERT_NE(q, nullptr);
        Gdiplus::RectF r = testsupport::RectOf(*q);
        const tagPOINTF centre{r.X + r.Width / 2, r.Y - r.Height / 2};
        std::vector<std::vector<tagPOINTF>> figs;
        const FONTSCHAR& rec = *q->GetChars()[0];
        for (size_t i = 0; i < rec.points.size(); ++i) {
            if (rec.types[i] == 0) figs.emplace_back();
            figs.back().push_back(rec.points[i]);
        }
        ASSERT_FALSE(figs.empty());
        // No outline point and nothing marked within 0.55 mm of the centre.
        for (const tagPOINTF& p : rec.points)
            EXPECT_GT(std::max(std::fabs(p.x - centre.x), std::fabs(p.y - centre.y)), 0.55f);
        for (double dx = -0.5; dx <= 0.5; dx += 0.25)
            for (double dy = -0.5; dy <= 0.5; dy += 0.25)
                EXPECT_FALSE(InsideEvenOdd(figs, centre.x + dx + 0.01, centre.y + dy + 0.01)) << dx << "," << dy;
    }
}

}  // namespace
