// Barcode frame around the bars, module-by-module hatching of a matrix code,
// and readable text in a generated SHX font.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "compose/filledshape.h"
#include "core/morvik.h"
#include "gdiplus/graphicspath.h"
#include "shx_gen.h"
#include "support/shape_support.h"
#include "support/temp_dir.h"
#include "text/fonts.h"
#include "text/mycodebar.h"
#include "text/text_test_util.h"

namespace {

struct FreeText {
    void operator()(CFonts* s) const {
        s->FreeShapePtr();
        delete s;
    }
};
using TextPtr = std::unique_ptr<CFonts, FreeText>;

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

    TextPtr Make(int id, const std::wstring& data, const std::function<void(CODEBAR_PAR&)>& tweak) {
        TextPtr t(new CFonts());
        FONTS_PAR fonts;
        CODEBAR_PAR codebar;
        VARTEXT_PAR var;
        codebar.nCodeType = id;
        codebar.bShowText = 0;
        codebar.fModuleWidth = 0.3f;
        codebar.fBarHeight = 10.0f;
        codebar.strTextFont = L"DejaVu Sans";
        tweak(codebar);
        const CString name = GetCodebarInstance()->GetTypeName(id);
        if (t->SetFonts(CString(data.c_str()), 2, name, fonts, codebar, var, 1, 0, false) != 1) return nullptr;
        return t;
    }

    text_test::TempRunLog log{"codeframe"};
    testsupport::HostScope host;
    testsupport::TempDir dir{"morvik-codeframe"};
};

// ---- frame ---------------------------------------------------------------------------------------

TEST_F(CodeFrameTest, FrameSurroundsTheBarsByItsMargins) {
    const float l = 1.0f, t = 2.0f, r = 3.0f, b = 0.5f;
    for (const int shown : {0, 1}) {
        SCOPED_TRACE(shown);
        TextPtr plain = Make(20, L"FRAME 42", [&](CODEBAR_PAR& p) { p.bShowText = shown; });
        TextPtr framed = Make(20, L"FRAME 42", [&](CODEBAR_PAR& p) {
            p.bShowText = shown;
            p.bFrame = 1;
            p.fFrameLeft = l, p.fFrameTop = t, p.fFrameRight = r, p.fFrameBottom = b;
        });
        ASSERT_TRUE(plain && framed);
        ASSERT_EQ(framed->m_barcodeSize, plain->m_barcodeSize + 5);
        const FONTSCHAR& ch = *framed->GetChars()[0];
        ASSERT_GE(ch.points.size(), 5u);
        // A closed rectangle: start, four lines, back at the start.
        EXPECT_EQ(std::vector<uint8_t>(ch.types.begin(), ch.types.begin() + 5), (std::vector<uint8_t>{0, 1, 1, 1, 1}));
        EXPECT_EQ(ch.points[0].x, ch.points[4].x);
        EXPECT_EQ(ch.points[0].y, ch.points[4].y);
        const Box frame = BoxOf(ch, 0, 5);
        const Box bars = BoxOf(ch, 5, static_cast<size_t>(framed->m_barcodeSize));
        EXPECT_NEAR(frame.x0, bars.x0 - l, 1e-3);
        EXPECT_NEAR(frame.x1, bars.x1 + r, 1e-3);
        EXPECT_NEAR(frame.y1, bars.y1 + t, 1e-3);
        EXPECT_NEAR(frame.y0, bars.y0 - b, 1e-3);
        // The readable text stays outside the frame's points, behind the bars.
        EXPECT_EQ(ch.points.size(), plain->GetChars()[0]->points.size() + 5);
    }
    // A zoom of the symbol scales the margins and the readable text with it,
    // so that a new layout keeps the zoomed look.
    TextPtr z = Make(20, L"FRAME 42", [&](CODEBAR_PAR& p) {
        p.bShowText = 1;
        p.bFrame = 1;
        p.fFrameLeft = l, p.fFrameTop = t, p.fFrameRight = r, p.fFrameBottom = b;
    });
    ASSERT_TRUE(z);
    const double w0 = z->parCodebar.dTextWidth, h0 = z->parCodebar.dTextHeight;
    z->Zoom({0, 0}, 2.0, 3.0);
    EXPECT_NEAR(z->parCodebar.fFrameLeft, 2 * l, 1e-4);
    EXPECT_NEAR(z->parCodebar.fFrameBottom, 2 * b, 1e-4);
    EXPECT_NEAR(z->parCodebar.dTextWidth, 2 * w0, 1e-4);
    EXPECT_NEAR(z->parCodebar.dTextHeight, 3 * h0, 1e-4);
}

TEST_F(CodeFrameTest, NoFrameForNegativeOrAbsurdMarginsOrModuleShapes) {
    const auto none = Make(20, L"FRAME 42", [](CODEBAR_PAR&) {});
    ASSERT_TRUE(none);
    for (const float bad : {-0.1f, NAN, INFINITY}) {
        TextPtr t = Make(20, L"FRAME 42", [&](CODEBAR_PAR& p) {
            p.bFrame = 1;
            p.fFrameBottom = bad;
        });
        ASSERT_TRUE(t);
        EXPECT_EQ(t->m_barcodeSize, none->m_barcodeSize) << bad;
    }
    const auto qr = Make(58, L"frame", [](CODEBAR_PAR&) {});
    TextPtr rect = Make(58, L"frame", [](CODEBAR_PAR& p) {
        p.bFrame = 1;
        p.bRectModule = 1;
    });
    const auto rectNoFrame = Make(58, L"frame", [](CODEBAR_PAR& p) { p.bRectModule = 1; });
    ASSERT_TRUE(qr && rect && rectNoFrame);
    EXPECT_EQ(rect->m_barcodeSize, rectNoFrame->m_barcodeSize);
    // A traced matrix code takes the frame.
    TextPtr traced = Make(58, L"frame", [](CODEBAR_PAR& p) { p.bFrame = 1; });
    ASSERT_TRUE(traced);
    EXPECT_EQ(traced->m_barcodeSize, qr->m_barcodeSize + 5);
}

// ---- module fill ---------------------------------------------------------------------------------

TEST_F(CodeFrameTest, RingFillOfSquareModulesRingsEachModuleOnItsOwn) {
    // Touching modules: a fill of the whole would ring the dark areas.
    TextPtr t = Make(58, L"Module rings", [](CODEBAR_PAR& p) {
        p.bRectModule = 1;
        p.fModuleWidth = 0.5f;
    });
    ASSERT_TRUE(t);
    FILLED_PARS par;
    for (SHAPE_FILLER_PARAM& s : par.fillParams) s.bEnable = 0;
    par.fillParams[0].bEnable = 1;
    par.fillParams[0].nFillType = 0;
    par.fillParams[0].bWholeConsider = 0;
    par.fillParams[0].fLineSpacing = 0.05;
    t->SetFill(par, false);
    ASSERT_FALSE(t->GetFills().empty());

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
        Gdiplus::GraphicsPath* path = t->GetFills()[0]->GetFillPathOf(s);
        ASSERT_NE(path, nullptr);
        const auto& pts = path->PathPoints();
        const auto& types = path->PathTypes();
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
        ASSERT_LT(owner, modules.size()) << r.x0 << ", " << r.y0 << " .. " << r.x1 << ", " << r.y1;
        ++hits[owner];
    }
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 0), 0);
}

// ---- SHX readable text ---------------------------------------------------------------------------

TEST_F(CodeFrameTest, ShxReadableTextHangsCentredUnderTheBars) {
    using namespace shxgen;
    // Every Latin letter one cell: a line 40 units across and one 20 up.
    const Codes cell = PenDown() + Move(20, 0) + Vec(10, 4);
    Font simtxt(kShapes);
    AddLatinSample(simtxt, cell).Write(dir.File("font/Simtxt.shx"));
    Font t1(kShapes);
    AddLatinSample(t1, cell).Write(dir.File("font/T1.shx"));

    const double width = 0.458, height = 1.5, space = 0.25;
    TextPtr t = Make(20, L"1234", [&](CODEBAR_PAR& p) {
        p.bShowText = 1;
        p.strTextFont = L"T1";
        p.dTextWidth = width;
        p.dTextHeight = height;
        p.dTextSpace = space;
    });
    ASSERT_TRUE(t);
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

    // Absurd sizes and awkward texts build without harm.
    for (const double bad : {1e300, -1e300, double(NAN), 0.0}) {
        for (const wchar_t* data : {L"12 \r\n\r\n 34", L"\u6F22\u5B57 1"}) {
            TextPtr odd = Make(58, data, [&](CODEBAR_PAR& p) {
                p.bShowText = 1;
                p.strTextFont = L"T1";
                p.dTextWidth = bad;
                p.dTextSpace = bad;
                p.dTextHeight = bad;
                p.dTextOffsetX = bad;
            });
            ASSERT_TRUE(odd);
            for (const tagPOINTF& q : odd->GetChars()[0]->points) ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
        }
    }

    for (const double big : {1e300, 1e30}) {
        TextPtr odd = Make(20, L"12", [&](CODEBAR_PAR& p) {
            p.bShowText = 1;
            p.dTextWidth = big;
            p.dTextHeight = big;
            p.dTextOffsetY = -big;
        });
        ASSERT_TRUE(odd);
        for (const tagPOINTF& q : odd->GetChars()[0]->points) ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
    }

    // Letters the chosen font lacks come from the default font.
    Font few(kShapes);
    few.Add('a', cell).Add('1', cell).Add('2', cell).Write(dir.File("font/Few.shx"));
    TextPtr mixed = Make(20, L"12AB", [&](CODEBAR_PAR& p) {
        p.bShowText = 1;
        p.strTextFont = L"Few";
    });
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->GetChars()[0]->points.size(), static_cast<size_t>(mixed->m_barcodeSize) + 12);

    // A name that is no SHX file is a TrueType face, without a complaint.
    TextPtr tt = Make(20, L"1234", [&](CODEBAR_PAR& p) {
        p.bShowText = 1;
        p.strTextFont = L"DejaVu Sans";
    });
    ASSERT_TRUE(tt);
    EXPECT_GT(tt->GetChars()[0]->points.size(), static_cast<size_t>(tt->m_barcodeSize));
    EXPECT_TRUE(host.Texts().empty());
}

}  // namespace

namespace {

TEST_F(CodeFrameTest, GetFontsGivesTheSymbologyOfTheFontName) {
    TextPtr code = Make(58, L"lookup", [](CODEBAR_PAR&) {});
    ASSERT_TRUE(code);
    CString text, name;
    int type = -5;
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    code->GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(codebar.nCodeType, 58);
    EXPECT_EQ(text, CString(L"lookup"));
    // A face name is no symbology.
    TextPtr plain(new CFonts());
    plain->parCodebar.nCodeType = 58;
    plain->GetFonts(text, type, name, fonts, codebar, var);
    EXPECT_EQ(codebar.nCodeType, -1);
}

}  // namespace
