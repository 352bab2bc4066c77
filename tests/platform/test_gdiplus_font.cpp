// Fonts and string outlines: glyphs of "DejaVu Sans" checked against
// FreeType's own reading of the font file, face lookup without substitution,
// styled faces, layout, concurrent use, and GDI text extents.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/gdiplus.h"
#include "support/shape_support.h"

using namespace Gdiplus;

namespace {

const char* const kSansFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kSansBoldFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// A font file opened with FreeType directly, read in font units.
class FtFile {
public:
    explicit FtFile(const char* path) {
        EXPECT_EQ(FT_Init_FreeType(&m_lib), 0);
        EXPECT_EQ(FT_New_Face(m_lib, path, 0, &m_face), 0) << path;
    }
    ~FtFile() {
        if (m_face) FT_Done_Face(m_face);
        FT_Done_FreeType(m_lib);
    }
    FT_Face Face() const { return m_face; }
    double Em() const { return m_face->units_per_EM; }
    double Ascent() const { return static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(m_face, FT_SFNT_OS2))->usWinAscent; }
    // Loads the glyph of the character unscaled.
    FT_GlyphSlot Load(char32_t ch) const {
        EXPECT_EQ(FT_Load_Glyph(m_face, FT_Get_Char_Index(m_face, ch), FT_LOAD_NO_SCALE), 0);
        return m_face->glyph;
    }

private:
    FT_Library m_lib = nullptr;
    FT_Face m_face = nullptr;
};

RectF Bounds(const GraphicsPath& path) {
    RectF r;
    path.GetBounds(&r);
    return r;
}

using testsupport::ExpectRect;

// The box where the glyph's ink lies when its pen starts at penX on the line
// whose cell top is top, at em size emSize.
RectF InkBox(const FtFile& f, char32_t ch, double penX, double top, double emSize) {
    const FT_Glyph_Metrics m = f.Load(ch)->metrics;
    const double s = emSize / f.Em();
    return RectF(static_cast<REAL>(penX + m.horiBearingX * s), static_cast<REAL>(top + (f.Ascent() - m.horiBearingY) * s),
                 static_cast<REAL>(m.width * s), static_cast<REAL>(m.height * s));
}

// Signed areas of the figures of a flattened path.
std::vector<double> FigureAreas(const GraphicsPath& path) {
    GraphicsPath flat(path);
    flat.Flatten(nullptr, 0.001f);
    GraphicsPathIterator it(&flat);
    std::vector<double> areas;
    INT start = 0, end = 0;
    BOOL closed = FALSE;
    const auto& p = flat.PathPoints();
    while (it.NextSubpath(&start, &end, &closed) > 0) {
        EXPECT_TRUE(closed);
        double a = 0;
        for (INT i = start; i <= end; ++i) {
            const PointF& u = p[i];
            const PointF& v = p[i == end ? start : i + 1];
            a += static_cast<double>(u.X) * v.Y - static_cast<double>(v.X) * u.Y;
        }
        areas.push_back(a / 2);
    }
    return areas;
}

const FontFamily& Sans() {
    static const FontFamily family(L"DejaVu Sans");
    return family;
}

TEST(GdiplusFont, LetterIIsTheFontsRectangleOnItsBaseline) {
    const FtFile f(kSansFile);
    GraphicsPath path;
    ASSERT_EQ(path.AddString(L"I", -1, &Sans(), FontStyleRegular, 10, PointF(3, 5), StringFormat::GenericTypographic()),
              Ok);
    // One closed figure of four corners, sides along the axes.
    ASSERT_EQ(path.GetPointCount(), 4);
    const auto& t = path.PathTypes();
    EXPECT_EQ(t[0], PathPointTypeStart);
    EXPECT_EQ(t[1], PathPointTypeLine);
    EXPECT_EQ(t[2], PathPointTypeLine);
    EXPECT_EQ(t[3], PathPointTypeLine | PathPointTypeCloseSubpath);
    const auto& p = path.PathPoints();
    for (int i = 0; i < 4; ++i) {
        const PointF& a = p[i];
        const PointF& b = p[(i + 1) % 4];
        EXPECT_TRUE(a.X == b.X || a.Y == b.Y) << "side " << i;
    }
    const RectF first = InkBox(f, U'I', 3, 5, 10);
    ExpectRect(Bounds(path), first.X, first.Y, first.Width, first.Height);

    // The second letter starts one advance (plus the pair's kerning) on.
    GraphicsPath two;
    two.AddString(L"II", 2, &Sans(), FontStyleRegular, 10, PointF(3, 5), StringFormat::GenericTypographic());
    FT_Vector kern{};
    FT_Get_Kerning(f.Face(), FT_Get_Char_Index(f.Face(), 'I'), FT_Get_Char_Index(f.Face(), 'I'), FT_KERNING_UNSCALED,
                   &kern);
    const double advance = (f.Load(U'I')->advance.x + kern.x) * 10 / f.Em();
    ExpectRect(Bounds(two), first.X, first.Y, first.Width + advance, first.Height);
}

TEST(GdiplusFont, LetterOHasAnOuterAndAnInnerContour) {
    GraphicsPath path;
    ASSERT_EQ(path.AddString(L"O", -1, &Sans(), FontStyleRegular, 10, PointF(0, 0), StringFormat::GenericTypographic()),
              Ok);
    const std::vector<double> areas = FigureAreas(path);
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_LT(areas[0] * areas[1], 0) << "outer and inner run in opposite directions";
    const RectF box = Bounds(path);
    const double cx = box.X + box.Width / 2, cy = box.Y + box.Height / 2;
    // Even-odd: the counter is empty, the ring is ink.
    EXPECT_FALSE(path.IsVisible(static_cast<REAL>(cx), static_cast<REAL>(cy)));
    EXPECT_TRUE(path.IsVisible(static_cast<REAL>(box.X + 0.2), static_cast<REAL>(cy)));
    path.SetFillMode(FillModeWinding);
    EXPECT_FALSE(path.IsVisible(static_cast<REAL>(cx), static_cast<REAL>(cy)));
}

// Walks FreeType's decomposition of a glyph next to the path's segments: each
// quadratic piece must be a cubic of the path that traces the same curve.
struct ConicCheck {
    const std::vector<PointF>* pts;
    const std::vector<BYTE>* types;
    size_t next = 0;  // the path point the next segment ends on
    double scale, top;
    double lastX = 0, lastY = 0;
    int conics = 0;
    double worst = 0;

    double X(FT_Pos x) const { return x * scale; }
    double Y(FT_Pos y) const { return top - y * scale; }
    static ConicCheck& Of(void* u) { return *static_cast<ConicCheck*>(u); }
    static int Move(const FT_Vector* to, void* u) {
        ConicCheck& c = Of(u);
        // A closing line back to the start is carried by the close flag.
        while (c.next < c.types->size() && ((*c.types)[c.next] & PathPointTypePathTypeMask) != PathPointTypeStart)
            ++c.next;
        c.lastX = c.X(to->x);
        c.lastY = c.Y(to->y);
        EXPECT_NEAR((*c.pts)[c.next].X, c.lastX, 1e-6);
        EXPECT_NEAR((*c.pts)[c.next].Y, c.lastY, 1e-6);
        ++c.next;
        return 0;
    }
    static int Line(const FT_Vector* to, void* u) {
        ConicCheck& c = Of(u);
        c.lastX = c.X(to->x);
        c.lastY = c.Y(to->y);
        if (c.next < c.types->size() && ((*c.types)[c.next] & PathPointTypePathTypeMask) == PathPointTypeLine) ++c.next;
        return 0;
    }
    static int Conic(const FT_Vector* q, const FT_Vector* to, void* u) {
        ConicCheck& c = Of(u);
        EXPECT_LE(c.next + 3, c.types->size());
        if (c.next + 3 > c.types->size()) return 1;
        for (int k = 0; k < 3; ++k) EXPECT_EQ((*c.types)[c.next + k] & PathPointTypePathTypeMask, PathPointTypeBezier);
        const PointF* b = &(*c.pts)[c.next];
        const double x0 = c.lastX, y0 = c.lastY, qx = c.X(q->x), qy = c.Y(q->y), x2 = c.X(to->x), y2 = c.Y(to->y);
        for (double t = 0; t <= 1.0001; t += 0.125) {
            const double s = 1 - t;
            const double ex = s * s * x0 + 2 * s * t * qx + t * t * x2;
            const double ey = s * s * y0 + 2 * s * t * qy + t * t * y2;
            const double bx = s * s * s * x0 + 3 * s * s * t * b[0].X + 3 * s * t * t * b[1].X + t * t * t * b[2].X;
            const double by = s * s * s * y0 + 3 * s * s * t * b[0].Y + 3 * s * t * t * b[1].Y + t * t * t * b[2].Y;
            c.worst = std::max(c.worst, std::hypot(bx - ex, by - ey));
        }
        c.next += 3;
        c.lastX = x2;
        c.lastY = y2;
        ++c.conics;
        return 0;
    }
    static int Cubic(const FT_Vector*, const FT_Vector*, const FT_Vector*, void*) { return 1; }
};

TEST(GdiplusFont, QuadraticPiecesBecomeExactCubics) {
    const FtFile f(kSansFile);
    for (const wchar_t* s : {L"O", L"S", L"g", L"@"}) {
        GraphicsPath path;
        ASSERT_EQ(path.AddString(s, 1, &Sans(), FontStyleRegular, 1, PointF(0, 0), StringFormat::GenericTypographic()),
                  Ok);
        ConicCheck check{&path.PathPoints(), &path.PathTypes(), 0, 1.0 / f.Em(), f.Ascent() / f.Em()};
        FT_GlyphSlot slot = f.Load(static_cast<char32_t>(s[0]));
        const FT_Outline_Funcs funcs = {&ConicCheck::Move, &ConicCheck::Line, &ConicCheck::Conic, &ConicCheck::Cubic,
                                        0, 0};
        ASSERT_EQ(FT_Outline_Decompose(&slot->outline, &funcs, &check), 0);
        EXPECT_GT(check.conics, 4) << "glyph " << static_cast<char>(s[0]);
        EXPECT_LT(check.worst, 1e-6) << "glyph " << static_cast<char>(s[0]);
        EXPECT_EQ(check.next, path.PathTypes().size());
    }
}

TEST(GdiplusFont, FacesAreFoundByTheirOwnNameOnly) {
    // fontconfig would hand back some other face for any name: refused.
    const FontFamily missing(L"No Such Face Qx");
    EXPECT_FALSE(missing.IsAvailable());
    EXPECT_EQ(missing.GetLastStatus(), FontFamilyNotFound);
    GraphicsPath path;
    EXPECT_EQ(path.AddString(L"A", 1, &missing, FontStyleRegular, 10, PointF(0, 0), nullptr), FontFamilyNotFound);
    EXPECT_EQ(path.GetPointCount(), 0);
    const Font font(L"No Such Face Qx", 10);
    EXPECT_FALSE(font.IsAvailable());
    EXPECT_EQ(font.GetLastStatus(), FontFamilyNotFound);

    const FontFamily folded(L"dejavu SANS");
    ASSERT_TRUE(folded.IsAvailable());
    WCHAR name[LF_FACESIZE];
    ASSERT_EQ(folded.GetFamilyName(name), Ok);
    EXPECT_EQ(std::wstring(name), L"DejaVu Sans");
    EXPECT_EQ(path.AddString(L"A", 1, &folded, FontStyleRegular, 0, PointF(0, 0), nullptr), InvalidParameter);
    EXPECT_EQ(path.AddString(nullptr, 1, &folded, FontStyleRegular, 1, PointF(0, 0), nullptr), InvalidParameter);
    EXPECT_EQ(path.GetPointCount(), 0);
    // Blanks and characters the face lacks add nothing, and succeed.
    EXPECT_EQ(path.AddString(L"  \U0010FFFD\t", -1, &folded, FontStyleRegular, 10, PointF(0, 0), nullptr), Ok);
    EXPECT_EQ(path.GetPointCount(), 0);
}

TEST(GdiplusFont, StylesTakeTheStyledFace) {
    const FtFile bold(kSansBoldFile);
    GraphicsPath path;
    ASSERT_EQ(path.AddString(L"I", 1, &Sans(), FontStyleBold, 10, PointF(0, 0), StringFormat::GenericTypographic()), Ok);
    const RectF want = InkBox(bold, U'I', 0, 0, 10);
    ExpectRect(Bounds(path), want.X, want.Y, want.Width, want.Height);

    // Italic slants the upright stem (a slanted face, or a synthesised one).
    GraphicsPath upright, italic;
    upright.AddString(L"I", 1, &Sans(), FontStyleRegular, 10, PointF(0, 0), StringFormat::GenericTypographic());
    italic.AddString(L"I", 1, &Sans(), FontStyleItalic, 10, PointF(0, 0), StringFormat::GenericTypographic());
    EXPECT_GT(Bounds(italic).Width, Bounds(upright).Width + 1.0f);
    EXPECT_NEAR(Bounds(italic).Height, Bounds(upright).Height, 0.05);
}

TEST(GdiplusFont, LinesAlignmentAndWrapping) {
    const FtFile f(kSansFile);
    const double s = 10 / f.Em();
    const double advance = f.Load(U'I')->advance.x * s;
    const RectF ink = InkBox(f, U'I', 0, 0, 10);
    EXPECT_EQ(Sans().GetCellAscent(FontStyleRegular), f.Ascent());
    EXPECT_EQ(Sans().GetEmHeight(FontStyleRegular), f.Em());
    const double step = Sans().GetLineSpacing(FontStyleRegular) * s;
    EXPECT_GE(step, (f.Ascent() + Sans().GetCellDescent(FontStyleRegular)) * s - 1e-9);

    // "\r\n" is one break: the second line is one line spacing lower.
    GraphicsPath two;
    two.AddString(L"I\r\nI", -1, &Sans(), FontStyleRegular, 10, PointF(0, 0), StringFormat::GenericTypographic());
    ExpectRect(Bounds(two), ink.X, ink.Y, ink.Width, step + ink.Height);

    StringFormat format(*StringFormat::GenericTypographic());
    format.SetAlignment(StringAlignmentCenter);
    format.SetLineAlignment(StringAlignmentFar);
    GraphicsPath centred;
    centred.AddString(L"I", 1, &Sans(), FontStyleRegular, 10, PointF(50, 20), &format);
    ExpectRect(Bounds(centred), 50 - advance / 2 + ink.X, 20 - step + ink.Y, ink.Width, ink.Height);

    // The default format keeps a sixth of the em clear at the start.
    GraphicsPath padded;
    padded.AddString(L"I", 1, &Sans(), FontStyleRegular, 10, PointF(0, 0), nullptr);
    EXPECT_NEAR(Bounds(padded).X, ink.X + 10.0 / 6, 1e-4);

    // A rectangle just wider than two letters wraps "II II" after the blank,
    // and the right-aligned lines end at its right edge.
    format.SetAlignment(StringAlignmentFar);
    format.SetLineAlignment(StringAlignmentNear);
    const RectF box(0, 0, static_cast<REAL>(2.2 * advance), 100);
    GraphicsPath wrapped;
    wrapped.AddString(L"II II", -1, &Sans(), FontStyleRegular, 10, box, &format);
    EXPECT_EQ(wrapped.GetPointCount(), 16);
    ExpectRect(Bounds(wrapped), box.Width - 2 * advance + ink.X, ink.Y, advance + ink.Width, step + ink.Height);
}

TEST(GdiplusFont, ConcurrentLayoutsGiveTheSerialResult) {
    const std::vector<std::wstring> texts = {L"Hello, world", L"@8BOg", L"\u00C5ngstr\u00F6m\nline two", L"Wavy Text"};
    auto layOut = [&](size_t i) {
        GraphicsPath path;
        path.AddString(texts[i % texts.size()].c_str(), -1, &Sans(), static_cast<INT>(i % 4), 5.0f + static_cast<REAL>(i),
                       PointF(1, 2), StringFormat::GenericTypographic());
        return path;
    };
    std::vector<GraphicsPath> serial;
    for (size_t i = 0; i < 8; ++i) serial.push_back(layOut(i));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (size_t t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const size_t i = (t + static_cast<size_t>(round)) % 8;
                const GraphicsPath p = layOut(i);
                if (p.PathPoints().size() != serial[i].PathPoints().size() || p.PathTypes() != serial[i].PathTypes()) {
                    ++mismatches[t];
                    continue;
                }
                for (size_t k = 0; k < p.PathPoints().size(); ++k) {
                    if (!p.PathPoints()[k].Equals(serial[i].PathPoints()[k])) {
                        ++mismatches[t];
                        break;
                    }
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < 8; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(GdiFont, TextExtentInTheSelectedFont) {
    const FtFile f(kSansFile);
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CFont font;
    ASSERT_TRUE(font.CreatePointFont(120, L"DejaVu Sans", &dc));  // 12 points at 96 dpi: a 16-pixel em
    LOGFONTW lf{};
    ASSERT_TRUE(font.GetLogFont(&lf));
    EXPECT_EQ(lf.lfHeight, -16);
    dc.SelectObject(&font);
    const double s = 16 / f.Em();
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f.Face(), FT_SFNT_OS2));
    const LONG perI = static_cast<LONG>(std::lround(f.Load(U'I')->advance.x * s));
    const CSize ext = dc.GetTextExtent(L"III", 3);
    EXPECT_EQ(ext.cx, 3 * perI);
    EXPECT_EQ(ext.cy, std::lround(os2->usWinAscent * s) + std::lround(os2->usWinDescent * s));
    SIZE viaHandle{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc.GetSafeHdc(), L"III", 3, &viaHandle));
    EXPECT_EQ(viaHandle.cx, ext.cx);
    EXPECT_FALSE(GetTextExtentPoint32W(dc.GetSafeHdc(), nullptr, 3, &viaHandle));

    // GDI never fails for want of a face: a missing one measures in the
    // default face.
    CFont other;
    ASSERT_TRUE(other.CreatePointFont(120, L"No Such Face Qx"));
    dc.SelectObject(&other);
    EXPECT_EQ(dc.GetTextExtent(L"III", 3).cx, ext.cx);
}

}  // namespace
