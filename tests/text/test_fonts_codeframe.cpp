// Barcode frame around the bars, module-by-module hatching of a matrix code,
// and readable text in a generated SHX font.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/core/morvik.h"
#include "morvik/gdiplus/graphicspath.h"
#include "shx_gen.h"
#include "support/shape_support.h"
#include "support/temp_dir.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "text/codebar_test_util.h"
#include "text/text_test_util.h"

namespace {

using text_test::FreeText;
using text_test::TextPtr;

struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void Add(tagPOINTF p) {
        x0 = std::min(x0, double(p.x)), x1 = std::max(x1, double(p.x));
        y0 = std::min(y0, double(p.y)), y1 = std::max(y1, double(p.y));
    }
};

Box BoxOf(const FONTSCHAR& ch, size_t from, size_t to) {
    Box b;
    for (size_t i = from; i < to && i < ch.points.size(); ++i) b.Add(ch.points[i]);
    return b;
}

class CodeFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.Path("font"));
        CShxShapeReader::SetFontFolder(dir.Path("font").wstring() + L"/");
    }
    void TearDown() override { CShxShapeReader::SetFontFolder(L""); }

    TextPtr Make(int id, const std::wstring& data, const text_test::CodebarTweak& tweak) {
        // Every code here is valid: a failed build fails the test at once.
        TextPtr t = text_test::MakeCode(id, data, tweak);
        if (!t) std::abort();
        return t;
    }

    text_test::TempRunLog log{"codeframe"};
    testsupport::HostScope host;
    testsupport::TempDir dir{"morvik-codeframe"};
};

// ---- frame ---------------------------------------------------------------------------------------

TEST_F(CodeFrameTest, FrameSurroundsTheBarsByItsMarginsUnlessItCannot) {
    const float l = 1.0f, t = 2.0f, r = 3.0f, b = 0.5f;
    auto frame = [&](int shown, float bottom, int16_t rectModule) {
        return [=](CODEBAR_PAR& p) {
            p.bShowText = shown, p.bFrame = 1, p.bRectModule = rectModule;
            p.fFrameLeft = l, p.fFrameTop = t, p.fFrameRight = r, p.fFrameBottom = bottom;
        };
    };
    for (const int shown : {0, 1}) {
        TextPtr plain = Make(20, L"FRAME 42", [&](CODEBAR_PAR& p) { p.bShowText = shown; });
        TextPtr framed = Make(20, L"FRAME 42", frame(shown, b, 0));
        ASSERT_EQ(framed->m_barcodeSize, plain->m_barcodeSize + 5);
        const FONTSCHAR& ch = *framed->GetChars()[0];
        // A closed rectangle at the front, the rest as it was.
        EXPECT_EQ(std::vector<uint8_t>(ch.types.begin(), ch.types.begin() + 5), (std::vector<uint8_t>{0, 1, 1, 1, 1}));
        EXPECT_TRUE(ch.points[0].x == ch.points[4].x && ch.points[0].y == ch.points[4].y);
        EXPECT_EQ(ch.points.size(), plain->GetChars()[0]->points.size() + 5);
        const Box f = BoxOf(ch, 0, 5), bars = BoxOf(ch, 5, static_cast<size_t>(framed->m_barcodeSize));
        EXPECT_NEAR(f.x0, bars.x0 - l, 1e-3);
        EXPECT_NEAR(f.x1, bars.x1 + r, 1e-3);
        EXPECT_NEAR(f.y1, bars.y1 + t, 1e-3);
        EXPECT_NEAR(f.y0, bars.y0 - b, 1e-3);
    }
    // No frame with a negative or absurd margin, or around separate modules.
    const size_t none = static_cast<size_t>(Make(20, L"FRAME 42", [](CODEBAR_PAR&) {})->m_barcodeSize);
    for (const float bad : {-0.1f, NAN, INFINITY})
        EXPECT_EQ(static_cast<size_t>(Make(20, L"FRAME 42", frame(0, bad, 0))->m_barcodeSize), none) << bad;
    EXPECT_EQ(Make(58, L"frame", frame(0, b, 1))->m_barcodeSize,
              Make(58, L"frame", [](CODEBAR_PAR& p) { p.bRectModule = 1; })->m_barcodeSize);

}

// ---- module fill ---------------------------------------------------------------------------------

TEST_F(CodeFrameTest, RingFillOfSquareModulesRingsEachModuleOnItsOwn) {
    // Touching modules: a fill of the whole would ring the dark areas.
    TextPtr t = Make(58, L"Module rings", [](CODEBAR_PAR& p) { p.bRectModule = 1, p.fModuleWidth = 0.5f; });
    FILLED_PARS par;
    for (SHAPE_FILLER_PARAM& s : par.fillParams) s.bEnable = 0;
    SHAPE_FILLER_PARAM& rings0 = par.fillParams[0];
    rings0.bEnable = 1, rings0.nFillType = 0, rings0.bWholeConsider = 0, rings0.fLineSpacing = 0.05;
    t->SetFill(par, false);

    // The modules: each figure of the bar record.
    const FONTSCHAR& ch = *t->GetChars()[0];
    std::vector<Box> modules;
    for (size_t i = 0; i < static_cast<size_t>(t->m_barcodeSize); ++i) {
        if (ch.types[i] == 0) modules.emplace_back();
        modules.back().Add(ch.points[i]);
    }
    ASSERT_GT(modules.size(), 20u);
    // Every ring of the hatch lies inside one module, and every module
    // has rings.
    std::vector<Box> rings;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s) {
        const auto& pts = t->GetFills()[0]->GetFillPathOf(s)->PathPoints();
        const auto& types = t->GetFills()[0]->GetFillPathOf(s)->PathTypes();
        for (size_t i = 0; i < pts.size(); ++i) {
            if ((types[i] & 7) == 0 || rings.empty()) rings.emplace_back();
            rings.back().Add({pts[i].X, pts[i].Y});
        }
    }
    ASSERT_FALSE(rings.empty());
    std::vector<int> hits(modules.size(), 0);
    for (const Box& r : rings) {
        size_t owner = modules.size();
        for (size_t m = 0; m < modules.size(); ++m) {
            const Box& b = modules[m];
            if (r.x0 >= b.x0 - 1e-4 && r.x1 <= b.x1 + 1e-4 && r.y0 >= b.y0 - 1e-4 && r.y1 <= b.y1 + 1e-4) owner = m;
        }
        ASSERT_LT(owner, modules.size()) << r.x0 << ", " << r.y0;
        ++hits[owner];
    }
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 0), 0);
}

// ---- SHX readable text ---------------------------------------------------------------------------

TEST_F(CodeFrameTest, ShxReadableTextHangsCentredUnderTheBars) {
    using namespace shxgen;
    // Every Latin letter one cell: a line 40 units across and one 20 up.
    const Codes cell = PenDown() + Move(20, 0) + Vec(10, 4);
    for (const char* name : {"Simtxt", "T1"}) {
        Font f(kShapes);
        AddLatinSample(f, cell).Write(dir.File(std::string("font/") + name + ".shx"));
    }

    const double width = 0.458, height = 1.5, space = 0.25;
    TextPtr t = Make(20, L"1234", [&](CODEBAR_PAR& p) {
        p.bShowText = 1, p.strTextFont = L"T1";
        p.dTextWidth = width, p.dTextHeight = height, p.dTextSpace = space;
    });
    const FONTSCHAR& ch = *t->GetChars()[0];
    const size_t bars = static_cast<size_t>(t->m_barcodeSize);
    // Four characters of three points each: a start and two lines.
    ASSERT_EQ(ch.points.size(), bars + 12);
    for (size_t i = bars; i < ch.points.size(); i += 3) EXPECT_EQ(ch.types[i], 0);
    const Box b = BoxOf(ch, 0, bars), text = BoxOf(ch, bars, ch.points.size());
    const double em = width / 0.458;
    const double top = b.y0 - 10 * t->parCodebar.fModuleWidth;
    EXPECT_NEAR(text.y1, top, 1e-3);
    EXPECT_NEAR(text.y0, top - height, 1e-3);
    // Each cell is an em high and the width percentage of an em wide.
    const double cellW = em * t->parFonts.dWidthRatio / 100.0;
    EXPECT_NEAR(text.x1 - text.x0, 4 * cellW + 3 * space, 1e-3);
    EXPECT_NEAR((text.x0 + text.x1) / 2, (b.x0 + b.x1) / 2, 1e-3);
    EXPECT_TRUE(host.Texts().empty());

    // Absurd sizes are refused; awkward texts build without harm, in SHX and
    // TrueType.
    for (const double bad : {1e300, -1e300, double(NAN), 1e30, 1e-300, 0.0})
        for (const wchar_t* font : {L"T1", L"DejaVu Sans"}) {
            TextPtr odd = text_test::MakeCode(58, L"12 \r\n\r\n \u6F22\u5B57", [&](CODEBAR_PAR& p) {
                p.bShowText = 1, p.strTextFont = font;
                p.dTextWidth = p.dTextSpace = p.dTextHeight = p.dTextOffsetX = bad;
            });
            EXPECT_EQ(odd == nullptr, !(std::fabs(bad) < 1e6));
            if (odd == nullptr) continue;
            for (const tagPOINTF& q : odd->GetChars()[0]->points) ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
        }

    // Letters the chosen font lacks come from the default font.
    Font few(kShapes);
    few.Add('a', cell).Add('1', cell).Add('2', cell).Write(dir.File("font/Few.shx"));
    TextPtr mixed = Make(20, L"12AB", [&](CODEBAR_PAR& p) { p.bShowText = 1, p.strTextFont = L"Few"; });
    EXPECT_EQ(mixed->GetChars()[0]->points.size(), static_cast<size_t>(mixed->m_barcodeSize) + 12);

    // A name that is no SHX file is a TrueType face, without a complaint.
    TextPtr tt = Make(20, L"1234", [&](CODEBAR_PAR& p) { p.bShowText = 1, p.strTextFont = L"DejaVu Sans"; });
    EXPECT_GT(tt->GetChars()[0]->points.size(), static_cast<size_t>(tt->m_barcodeSize));
    EXPECT_TRUE(host.Texts().empty());
}

TEST_F(CodeFrameTest, GetFontsGivesTheSymbologyOfTheFontName) {
    CString text, name;
    int type = 0;
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    Make(58, L"lookup", [](CODEBAR_PAR&) {})->GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_TRUE(type == 2 && codebar.nCodeType == 58);
    // A text that is no barcode keeps the type it holds: read and set back
    // unchanged, its parameters do not change.
    CFonts plain;
    plain.parCodebar.nCodeType = 58;
    plain.GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_EQ(codebar.nCodeType, 58);

    // A code read under another language's name of its symbology: what
    // GetFonts gives back is accepted by SetFonts, as the build was.
    TextPtr foreign(new CFonts());
    CODEBAR_PAR saved;
    saved.nCodeType = 124;
    const CString data(std::wstring(256, L'0').c_str());
    ASSERT_EQ(foreign->SetFonts(data, 2, L"Ohrmarke", fonts, saved, var, 1, 0, false), 1);
    foreign->GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_EQ(codebar.nCodeType, 124);
    EXPECT_EQ(foreign->SetFonts(text, type, name, fonts, codebar, var, 1, 0, false), 1);
    // A text that is no barcode keeps its type whatever its face name.
    CFonts trueType;
    trueType.parCodebar.nCodeType = 124;
    ASSERT_EQ(trueType.SetFonts(L"x", 0, L"Ohrmarke", fonts, trueType.parCodebar, var, 1, 0, false), 1);
    trueType.GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_EQ(codebar.nCodeType, trueType.parCodebar.nCodeType);
}

}  // namespace
