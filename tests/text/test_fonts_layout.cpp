// Where the TrueType layout puts characters: spacing and fixed-width modes,
// equal pitch, lines and columns, vertical faces, right-to-left text,
// kerning and fallbacks, each against FreeType's own reading of the face.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include "morvik/gdiplus/font.h"
#include "morvik/text/fonts.h"
#include "text/text_test_util.h"
#include "support/shape_support.h"

namespace {

// One glyph of a DejaVu face as FreeType reads it, in layout units (10 per
// em), y up: exact bounds, advance, and the points of its outline that lie
// on the curve.
struct Glyph {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0, advance = 0;
    std::vector<tagPOINTF> onCurve;
};

class Face {
public:
    explicit Face(const char* file) {
        if (FT_Init_FreeType(&m_lib) == 0 && FT_New_Face(m_lib, file, 0, &m_face) == 0) {
            m_unit = 10.0 / m_face->units_per_EM;
            const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(m_face, FT_SFNT_OS2));
            m_ascent = os2 != nullptr ? os2->usWinAscent * m_unit : m_face->ascender * m_unit;
            const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(m_face, FT_SFNT_HHEA));
            if (os2 != nullptr && hhea != nullptr) {
                m_cell = (os2->usWinAscent + os2->usWinDescent) * m_unit;
                m_hheaLine = (hhea->Ascender - hhea->Descender + hhea->Line_Gap) * m_unit;
            }
        }
    }
    ~Face() {
        if (m_face != nullptr) FT_Done_Face(m_face);
        if (m_lib != nullptr) FT_Done_FreeType(m_lib);
    }
    bool Ok() const { return m_face != nullptr; }
    // The cell ascent: the baseline lies this far below the pen.
    double Ascent() const { return m_ascent; }
    // The Windows cell height and the line the horizontal header asks for
    // (ascender, descender and gap), in layout units.
    double Cell() const { return m_cell; }
    double HheaLine() const { return m_hheaLine; }

    Glyph Of(wchar_t c) const {
        Glyph g;
        if (FT_Load_Char(m_face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return g;
        const FT_Outline& o = m_face->glyph->outline;
        FT_BBox b{};
        FT_Outline_Get_BBox(const_cast<FT_Outline*>(&o), &b);
        g = {b.xMin * m_unit, b.xMax * m_unit, b.yMin * m_unit, b.yMax * m_unit,
             m_face->glyph->advance.x * m_unit, {}};
        for (int i = 0; i < o.n_points; ++i)
            if ((o.tags[i] & 1) != 0)
                g.onCurve.push_back({static_cast<float>(o.points[i].x * m_unit),  //
                                     static_cast<float>(o.points[i].y * m_unit)});
        return g;
    }
    double Kern(wchar_t a, wchar_t b) const {
        FT_Vector k{};
        FT_Get_Kerning(m_face, FT_Get_Char_Index(m_face, a), FT_Get_Char_Index(m_face, b), FT_KERNING_UNSCALED, &k);
        return k.x * m_unit;
    }

private:
    FT_Library m_lib = nullptr;
    FT_Face m_face = nullptr;
    double m_unit = 0, m_ascent = 0, m_cell = 0, m_hheaLine = 0;
};

const Face& Sans() {
    static const Face f("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    return f;
}

using text_test::FreeText;
using text_test::TextPtr;

// A text laid out at the origin; set changes the parameters first.
template <typename Set>
TextPtr Lay(const wchar_t* text, Set set, const wchar_t* face = L"DejaVu Sans") {
    TextPtr t(new CFonts());
    t->SetSmoothRatio(0.001f);  // flattened bounds within 0.001 of the curves
    t->parFonts.dHeight = 10.0;
    t->parFonts.dWidthRatio = 45.8;
    set(t->parFonts);
    t->InitFontsPath({0, 0}, CString(text), CString(face), false);
    return t;
}
TextPtr Lay(const wchar_t* text, const wchar_t* face = L"DejaVu Sans") {
    return Lay(text, [](FONTS_PAR&) {}, face);
}

// A character's rectangle: left, right, bottom and top (y up).
struct Box {
    double l, r, b, t;
};
Box Ink(CFonts& t, size_t i) {
    const Gdiplus::RectF r = CBaseShape::CalculateRectangle(t.GetChars().at(i)->points);
    return {r.X, r.X + r.Width, r.Y - r.Height, r.Y};
}

// Every on-curve point of FreeType's outline, scaled by (sx, sy) and placed
// by the character's rectangle, is a point of the character (turned: the
// glyph lies on its side, its top to the left).
void ExpectOutline(CFonts& t, size_t i, const Glyph& g, double sx, double sy, bool turned = false) {
    const auto& pts = t.GetChars().at(i)->points;
    const Box box = Ink(t, i);
    ASSERT_FALSE(g.onCurve.empty());
    for (const tagPOINTF& q : g.onCurve) {
        const double x = turned ? box.l + (g.yMax - q.y) * sx : box.l + (q.x - g.xMin) * sx;
        const double y = turned ? box.b + (q.x - g.xMin) * sy : box.b + (q.y - g.yMin) * sy;
        double best = 1e9;
        for (const tagPOINTF& p : pts) best = std::min(best, std::hypot(p.x - x, p.y - y));
        EXPECT_LT(best, 0.01) << "char " << i << " point " << q.x << "," << q.y;
    }
}

constexpr double kTol = 0.01;

TEST(FontsLayout, HorizontalSpacingModesAndEqualPitch) {
    ASSERT_TRUE(Sans().Ok());
    const Glyph H = Sans().Of(L'H'), I = Sans().Of(L'I'), sp = Sans().Of(L' ');
    // Height 8 and width factor 30: layout units become sx across, sy down.
    const double sy = 0.8, sx = 0.8 * 30 / 45.8;
    auto base = [](FONTS_PAR& p) {
        p.dHeight = 8;
        p.dWidthRatio = 30;
    };

    // Spacing 1.5 (layout units) after each character, on the face's own
    // advances and kerning.
    TextPtr t = Lay(L"HIH", [&](FONTS_PAR& p) { base(p), p.dCharSpace = 1.5; });
    ASSERT_EQ(t->GetChars().size(), 3u);
    double pen1 = H.advance + Sans().Kern(L'H', L'I') + 1.5;
    double pen2 = pen1 + I.advance + Sans().Kern(L'I', L'H') + 1.5;
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, (pen1 + I.xMin - H.xMin) * sx, kTol);
    EXPECT_NEAR(Ink(*t, 2).l - Ink(*t, 0).l, pen2 * sx, kTol);
    ExpectOutline(*t, 1, I, sx, sy);

    // Equal pitch adds the widest glyph at an em of 1 and the spacing over sx.
    t = Lay(L"HIH", [&](FONTS_PAR& p) { base(p), p.dCharSpace = 1.5, p.bEqualPitch = 1; });
    const double extra = std::max(H.xMax - H.xMin, I.xMax - I.xMin) / 10 + 1.5 / sx;
    EXPECT_NEAR(Ink(*t, 2).l - Ink(*t, 0).l, (pen2 + 2 * extra) * sx, kTol);

    // Mode 1 adds the character width (millimetres) between inks, mode 2
    // sets the inks that far apart; after a space the face's room returns.
    t = Lay(L"HI H", [&](FONTS_PAR& p) { base(p), p.nFixWidthMode = 1, p.dFixCharWidth = 0.7; });
    ASSERT_EQ(t->GetChars().size(), 4u);
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).r, 0.7, kTol);
    const double room = I.advance + sp.advance - I.xMax + H.xMin;  // from I's ink to H's, natural
    EXPECT_NEAR(Ink(*t, 3).l - Ink(*t, 1).r, 2 * 0.7 + room * sx, kTol);
    EXPECT_TRUE(t->GetChars()[2]->points.empty());
    t = Lay(L"HIH", [&](FONTS_PAR& p) { base(p), p.nFixWidthMode = 2, p.dFixCharWidth = 6; });
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, 6, kTol);
    EXPECT_NEAR(Ink(*t, 2).l - Ink(*t, 1).l, 6, kTol);

    // Kerning pairs follow the face.
    const Glyph A = Sans().Of(L'A'), V = Sans().Of(L'V');
    const double kern = Sans().Kern(L'A', L'V');
    ASSERT_LT(kern, 0);
    t = Lay(L"AV");
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, A.advance + kern + V.xMin - A.xMin, kTol);

    // Width factor 45.8 keeps the face's proportions.
    ExpectOutline(*t, 0, A, 1, 1);
    ExpectOutline(*t, 1, V, 1, 1);
}

TEST(FontsLayout, LinesColumnsAndLeadingBlanks) {
    const Glyph H = Sans().Of(L'H'), I = Sans().Of(L'I'), sp = Sans().Of(L' ');
    const double asc = Sans().Ascent();
    auto base = [](FONTS_PAR& p) {
        p.dHeight = 8;
        p.dWidthRatio = 30;
    };
    const double sy = 0.8, sx = 0.8 * 30 / 45.8;

    // Lines 10 + line spacing apart; blanks before a later line's ink move
    // it right by their width.
    TextPtr t = Lay(L"H\n  H", [&](FONTS_PAR& p) { base(p), p.dLineSpace = 2.5; });
    ASSERT_EQ(t->GetChars().size(), 4u);
    EXPECT_NEAR(Ink(*t, 0).t - Ink(*t, 3).t, 12.5 * sy, kTol);
    EXPECT_NEAR(Ink(*t, 3).l - Ink(*t, 0).l, 2 * sp.advance * sx, kTol);

    // Vertical text: each character's cell starts below the last ink plus
    // the spacing; spaces after a character add its height each.
    t = Lay(L"HI", [&](FONTS_PAR& p) { base(p), p.bVertical = 1, p.dCharSpace = 1.5; });
    EXPECT_NEAR(Ink(*t, 0).b - Ink(*t, 1).t, (1.5 + asc - I.yMax) * sy, kTol);
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, (I.xMin - H.xMin) * sx, kTol);
    t = Lay(L"H  I", [&](FONTS_PAR& p) { base(p), p.bVertical = 1, p.dCharSpace = 1.5; });
    EXPECT_NEAR(Ink(*t, 0).b - Ink(*t, 3).t, (2 * (H.yMax - H.yMin) + 3 * 1.5 + asc - I.yMax) * sy, kTol);
    // Modes 1 and 2 take the character width as it is, between inks and
    // from ink top to ink top.
    t = Lay(L"HI", [&](FONTS_PAR& p) { base(p), p.bVertical = 1, p.nFixWidthMode = 1, p.dFixCharWidth = 2; });
    EXPECT_NEAR(Ink(*t, 0).b - Ink(*t, 1).t, 2 * sy, kTol);
    t = Lay(L"HI", [&](FONTS_PAR& p) { base(p), p.bVertical = 1, p.nFixWidthMode = 2, p.dFixCharWidth = 9; });
    EXPECT_NEAR(Ink(*t, 0).t - Ink(*t, 1).t, 9 * sy, kTol);

    // The next column starts right of the widest ink plus the line spacing,
    // its top lined up with the first column's.
    t = Lay(L"H\nI", [&](FONTS_PAR& p) { base(p), p.bVertical = 1, p.dLineSpace = 3; });
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).r, (3 + I.xMin) * sx, kTol);
    EXPECT_NEAR(Ink(*t, 1).t, Ink(*t, 0).t, kTol);
}

TEST(FontsLayout, VerticalFacesRightToLeftAndFallbacks) {
    const Glyph H = Sans().Of(L'H'), L = Sans().Of(L'L');
    const double asc = Sans().Ascent();
    // "@": vertical, each character turned on its side, running left to
    // right.
    TextPtr t = Lay(L"LH", [](FONTS_PAR& p) { p.dCharSpace = 1; }, L"@DejaVu Sans");
    ASSERT_EQ(t->GetChars().size(), 2u);
    ExpectOutline(*t, 0, L, 1, 1, true);
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).r, 1 + asc - H.yMax, kTol);
    // With the vertical flag already set it runs horizontally, upward.
    t = Lay(L"LH", [](FONTS_PAR& p) { p.bVertical = 1; }, L"@DejaVu Sans");
    ExpectOutline(*t, 0, L, 1, 1, true);
    EXPECT_NEAR(Ink(*t, 1).b - Ink(*t, 0).b, L.advance + Sans().Kern(L'L', L'H') + H.xMin - L.xMin, kTol);

    // Right-to-left text is reversed before layout.
    t = Lay(L"\u05D0\u05D1");
    ASSERT_EQ(t->GetChars().size(), 2u);
    EXPECT_EQ(t->GetChars()[0]->text, CString(L"\u05D1"));
    EXPECT_LT(Ink(*t, 0).l, Ink(*t, 1).l);

    // A face lacking a line's first character turns to the faces that have
    // it; DejaVu Serif has no Hebrew, and no fallback face is installed but
    // the default one.
    TextPtr serif = Lay(L"\u05D0\u05D1", L"DejaVu Serif");
    ASSERT_EQ(serif->GetChars().size(), 2u);
    ExpectOutline(*serif, 0, Sans().Of(L'\u05D1'), 1, 1);
    EXPECT_EQ(serif->parFonts.bBold, 0);
    EXPECT_EQ(serif->parFonts.bItalic, 0);
    // DejaVu Sans Mono has U+27BF in bold only: the bold retry takes it, and
    // the bold flag stays set.
    t = Lay(L"\u27BF", L"DejaVu Sans Mono");
    ASSERT_EQ(t->GetChars().size(), 1u);
    ExpectOutline(*t, 0, Face("/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf").Of(L'\u27BF'), 1, 1);
    EXPECT_EQ(t->parFonts.bBold, 1);
    EXPECT_EQ(t->parFonts.bItalic, 0);
    // When no face has it, the requested face stays and the character has no
    // outline; a face that is not installed gives way.
    t = Lay(L"\u4E2DH");
    ASSERT_EQ(t->GetChars().size(), 2u);
    EXPECT_TRUE(t->GetChars()[0]->points.empty());
    ExpectOutline(*t, 1, H, 1, 1);
    t = Lay(L"H", L"No Such Face 42");
    ExpectOutline(*t, 0, H, 1, 1);

    // Blanks and empty lines lay out without harm; absurd numbers are
    // refused.
    t = Lay(L"  \n\r\n \t");
    EXPECT_EQ(t->GetChars().size(), 4u);
    t = Lay(L"  \n\r\n \t", [](FONTS_PAR& p) { p.dCharSpace = NAN, p.dLineSpace = INFINITY; });
    EXPECT_EQ(t->GetChars().size(), 0u);
    t = Lay(L"HI", [](FONTS_PAR& p) { p.dCharSpace = NAN, p.dHeight = 0, p.nFixWidthMode = 7, p.bEqualPitch = 1; });
    for (FONTSCHAR* ch : t->GetChars())
        for (const tagPOINTF& p : ch->points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

TEST(FontsLayout, SyntheticStylesCharactersBeyondBmpAndPaddedLines) {
    // DejaVu Math TeX Gyre comes in one style only: bold and italic are
    // made from its regular face, and it holds characters beyond U+FFFF.
    const wchar_t* math = L"DejaVu Math TeX Gyre";
    const Face mathFace("/usr/share/fonts/truetype/dejavu/DejaVuMathTeXGyre.ttf");
    ASSERT_TRUE(mathFace.Ok()) << "fonts-dejavu-extra is installed by scripts/setup.sh";
    const Glyph H = mathFace.Of(L'H');
    // Bold: strokes a 24th of the em wider across, no taller.
    TextPtr t = Lay(L"H", [](FONTS_PAR& p) { p.bBold = 1; }, math);
    ASSERT_EQ(t->GetChars().size(), 1u);
    EXPECT_EQ(t->parFonts.bBold, 1);
    EXPECT_NEAR(Ink(*t, 0).r - Ink(*t, 0).l, H.xMax - H.xMin + 10.0 / 24, 0.02);
    EXPECT_NEAR(Ink(*t, 0).t - Ink(*t, 0).b, H.yMax - H.yMin, kTol);
    // The advance grows with the strokes: the second letter starts that
    // much further on.
    t = Lay(L"HH", [](FONTS_PAR& p) { p.bBold = 1; }, math);
    ASSERT_EQ(t->GetChars().size(), 2u);
    EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, H.advance + mathFace.Kern(L'H', L'H') + 10.0 / 24, kTol);
    // Oblique: slanted by about 12 degrees, leaning right: the top of a
    // stem stands to the right of its foot by the shear times its height.
    const double shear = std::tan(12 * M_PI / 180);
    t = Lay(L"I", [](FONTS_PAR& p) { p.bItalic = 1; }, math);
    {
        const Glyph I = mathFace.Of(L'I');
        const Box ink = Ink(*t, 0);
        double footLeft = 1e9, topLeft = 1e9;
        for (const tagPOINTF& p : t->GetChars()[0]->points) {
            if (std::fabs(p.y - ink.b) < 1e-3) footLeft = std::min<double>(footLeft, p.x);
            if (std::fabs(p.y - ink.t) < 1e-3) topLeft = std::min<double>(topLeft, p.x);
        }
        EXPECT_NEAR(topLeft - footLeft, shear * (I.yMax - I.yMin), 0.02);
    }
    t = Lay(L"H", [](FONTS_PAR& p) { p.bItalic = 1; }, math);
    EXPECT_EQ(t->parFonts.bItalic, 1);
    EXPECT_NEAR(Ink(*t, 0).r - Ink(*t, 0).l, H.xMax - H.xMin + shear * (H.yMax - H.yMin), 0.02);
    EXPECT_NEAR(Ink(*t, 0).t - Ink(*t, 0).b, H.yMax - H.yMin, kTol);
    const Box upright = Ink(*Lay(L"H", math), 0);
    EXPECT_NEAR(upright.r - upright.l, H.xMax - H.xMin, kTol);

    // U+1D400, whole or as a UTF-16 surrogate pair, is one character.
    const wchar_t wide = static_cast<wchar_t>(0x1D400);
    const Glyph bold = mathFace.Of(wide);
    ASSERT_FALSE(bold.onCurve.empty());
    const std::wstring asOne{wide, L'H'};
    const std::wstring asPair{static_cast<wchar_t>(0xD835), static_cast<wchar_t>(0xDC00), L'H'};
    for (const std::wstring& s : {asOne, asPair}) {
        t = Lay(s.c_str(), math);
        ASSERT_EQ(t->GetChars().size(), 2u);
        EXPECT_EQ(t->GetChars()[0]->text, CString(std::wstring(1, wide).c_str()));
        ExpectOutline(*t, 0, bold, 1, 1);
        EXPECT_NEAR(Ink(*t, 1).l - Ink(*t, 0).l, bold.advance + H.xMin - bold.xMin, kTol);
    }

    // Centre and right alignment of a line with blanks before its ink: the
    // line's anchor lies the blanks' width further right; blanks after the
    // ink count for nothing.
    const Glyph sp = Sans().Of(L' ');
    for (int align : {1, 2}) {
        SCOPED_TRACE(align);
        auto anchor = [&](CFonts& text, size_t from, size_t to) {
            double l = 1e9, r = -1e9;
            for (size_t i = from; i < to; ++i) {
                if (text.GetChars()[i]->points.empty()) continue;
                l = std::min(l, Ink(text, i).l), r = std::max(r, Ink(text, i).r);
            }
            return align == 1 ? (l + r) / 2 : r;
        };
        t = Lay(L"HH\n  I", [&](FONTS_PAR& p) { p.nAlign = align; });
        ASSERT_EQ(t->GetChars().size(), 5u);
        EXPECT_NEAR(anchor(*t, 2, 5) - anchor(*t, 0, 2), 2 * sp.advance, kTol);
        t = Lay(L"HH\nI  ", [&](FONTS_PAR& p) { p.nAlign = align; });
        EXPECT_NEAR(anchor(*t, 2, 5), anchor(*t, 0, 2), kTol);

        // Placed off the origin, every letter where the face's measures put
        // it: the lines' anchors two blanks apart, then the whole text's
        // rectangle centred on (or ending at) the point.
        const tagPOINTF at{13.7f, -4.2f};
        TextPtr placed(new CFonts());
        placed->SetSmoothRatio(0.001f);
        placed->parFonts.dHeight = 10.0;
        placed->parFonts.dWidthRatio = 45.8;
        placed->parFonts.nAlign = align;
        placed->InitFontsPath(at, CString(L"HHH\n  I"), CString(L"DejaVu Sans"), false);
        ASSERT_EQ(placed->GetChars().size(), 6u);
        const Glyph h = Sans().Of(L'H'), i = Sans().Of(L'I');
        const double wide = 2 * (h.advance + Sans().Kern(L'H', L'H')) + h.xMax - h.xMin, narrow = i.xMax - i.xMin;
        const double lead = align == 1 ? 0.5 : 1.0;  // how much of a line lies left of its anchor
        const double a2 = 2 * sp.advance;            // with the first line's anchor at 0
        const double left = std::min(-lead * wide, a2 - lead * narrow);
        const double right = std::max((1 - lead) * wide, a2 + (1 - lead) * narrow);
        const double a1 = at.x - (align == 1 ? (left + right) / 2 : right);
        EXPECT_NEAR(Ink(*placed, 0).l, a1 - lead * wide, kTol);
        EXPECT_NEAR(Ink(*placed, 2).r, a1 - lead * wide + wide, kTol);
        EXPECT_NEAR(Ink(*placed, 5).l, a1 + a2 - lead * narrow, kTol);
        EXPECT_NEAR(Ink(*placed, 0).t, at.y, kTol);
    }

    // The line height of a font at a resolution, for each unit of size:
    // the size in inches times the dots per inch, times the face's line
    // over its em (the Windows cell, which holds DejaVu's whole line).
    ASSERT_GE(Sans().Cell(), Sans().HheaLine());
    const struct {
        Gdiplus::Unit unit;
        double perInch;
    } units[] = {{Gdiplus::UnitDocument, 300}, {Gdiplus::UnitPoint, 72}, {Gdiplus::UnitInch, 1},
                 {Gdiplus::UnitMillimeter, 25.4}};
    for (const auto& u : units) {
        for (float dpi : {96.0f, 254.0f}) {
            Gdiplus::Font font(L"DejaVu Sans", 13.5f, Gdiplus::FontStyleRegular, u.unit);
            EXPECT_NEAR(font.GetHeight(dpi), 13.5 / u.perInch * dpi * Sans().Cell() / 10.0, 1e-3) << u.perInch;
        }
    }
}

TEST(FontsLayout, FrameMeasuresAndSpaces) {
    TextPtr t = Lay(L"AB");
    Gdiplus::RectF r = testsupport::RectOf(*t);
    EXPECT_NEAR(t->GetFontSlopeRate(), 1.0, 1e-6);
    EXPECT_NEAR(t->GetFakeWidth(), r.Width, kTol);
    EXPECT_NEAR(t->GetFakeHeight(), r.Height, kTol);
    // Sheared by 30 degrees, the frame's lines meet at 60: the rate is
    // sin 60, and the fake height stays the text's own height.
    t->Slope(t->GetPosRefPoint(0), 30 * M_PI / 180, 0);
    EXPECT_NEAR(t->GetFontSlopeRate(), std::sin(60 * M_PI / 180), 1e-5);
    EXPECT_NEAR(t->GetFakeHeight(), r.Height, kTol);
    EXPECT_NEAR(t->GetFakeWidth(), r.Width, kTol);

    EXPECT_EQ(CFonts::FindSpace(CString(L"A  B"), 0), 2);
    EXPECT_EQ(CFonts::FindSpace(CString(L"AB"), 0), 0);
    EXPECT_EQ(CFonts::FindSpace(CString(L"A  "), 0), 2);
    EXPECT_EQ(CFonts::FindSpace(CString(L" A"), -1), 1);
    EXPECT_EQ(CFonts::FindSpace(CString(L"A  B"), 3), 0);
    EXPECT_EQ(CFonts::FindSpace(CString(L"A  B"), -5), 0);
    EXPECT_EQ(CFonts::FindSpace(CString(L"A  B"), 99), 0);
    EXPECT_EQ(CFonts::FindSpace(CString(L"A  B"), INT_MAX), 0);
}

}  // namespace
