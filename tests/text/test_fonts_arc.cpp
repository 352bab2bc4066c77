// Text on an arc and dot-matrix text: where each character lands on the
// circle (recovered as a rigid motion of the glyph drawn straight), the
// spacing along the arc, the dot lattice and the advances of dot text.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/gdiplus/font.h"
#include "morvik/gdiplus/graphicspath.h"
#include "support/shape_support.h"
#include "morvik/text/fonts.h"
#include "text/text_test_util.h"

namespace {

constexpr double kR = 30.0, kH = 5.0;
const tagPOINTF kCentre{20.0f, 10.0f};

using text_test::FreeText;
using text_test::TextPtr;

struct Layout {
    FONTS_PAR fonts;
    CODEBAR_PAR codebar;
    VARTEXT_PAR vartext;
    Layout() {
        fonts.dHeight = kH;
        fonts.dWidthRatio = 45.0;  // characters keep their own width on the arc
        fonts.bPathText = 1;
    }
    int Run(CFonts& t, const wchar_t* text, int type = 0, const wchar_t* face = L"DejaVu Sans") {
        return t.SetFonts(CString(text), type, CString(face), fonts, codebar, vartext, 1, 0, false);
    }
};

TextPtr ArcText() {
    TextPtr t(new CFonts());
    t->ptCenter = kCentre;
    t->dRad = kR;
    t->iBaseAngle = 90;
    return t;
}

// A character drawn straight (y up) and the spot of it that should meet the
// circle.
struct Straight {
    std::vector<tagPOINTF> pts;
    tagPOINTF anchor;
    double width;
};

Straight Glyph(wchar_t c, bool top) {
    Gdiplus::FontFamily family(L"DejaVu Sans");
    Gdiplus::GraphicsPath path;
    path.AddString(&c, 1, &family, 0, static_cast<float>(kH), Gdiplus::PointF(0, 0),
                   Gdiplus::StringFormat::GenericTypographic());
    Gdiplus::RectF b;
    path.GetBounds(&b);
    Straight s{{}, {b.X + b.Width / 2, -(top ? b.Y : b.Y + b.Height)}, b.Width};
    for (const Gdiplus::PointF& p : path.PathPoints()) s.pts.push_back({p.X, -p.Y});
    return s;
}

// Where a rigid motion that takes the straight points onto the placed ones
// takes the anchor, and the direction it gives "up"; fails the test when
// the placed points are no rigid motion of the straight ones.
struct Pose {
    double x, y, upX, upY;
    double Radius() const { return std::hypot(x - kCentre.x, y - kCentre.y); }
    double Angle() const { return std::atan2(y - kCentre.y, x - kCentre.x) * 180.0 / M_PI; }
    // Cosine between "up" and the direction away from the centre.
    double Outward() const { return ((x - kCentre.x) * upX + (y - kCentre.y) * upY) / Radius(); }
};

Pose PoseOf(const Straight& s, const std::vector<tagPOINTF>& placed) {
    EXPECT_EQ(s.pts.size(), placed.size());
    if (s.pts.size() != placed.size() || s.pts.empty()) return {};
    size_t far = 0;
    for (size_t k = 0; k < s.pts.size(); ++k)
        if (testsupport::Dist(s.pts[k], s.pts[0]) > testsupport::Dist(s.pts[far], s.pts[0])) far = k;
    const auto angle = [](tagPOINTF a, tagPOINTF b) { return std::atan2(double(b.y) - a.y, double(b.x) - a.x); };
    const double t = angle(placed[0], placed[far]) - angle(s.pts[0], s.pts[far]);
    const double c = std::cos(t), sn = std::sin(t);
    const auto map = [&](tagPOINTF p) {
        const double x = p.x - s.pts[0].x, y = p.y - s.pts[0].y;
        return tagPOINTF{static_cast<float>(placed[0].x + x * c - y * sn),
                         static_cast<float>(placed[0].y + x * sn + y * c)};
    };
    for (size_t k = 0; k < s.pts.size(); ++k) EXPECT_LT(testsupport::Dist(map(s.pts[k]), placed[k]), 2e-3) << k;
    const tagPOINTF m = map(s.anchor);
    return {m.x, m.y, -sn, c};
}

double ChordAngle(double w) { return 2.0 * std::asin(w / (2.0 * kR)) * 180.0 / M_PI; }

class ArcTextTest : public ::testing::Test {
    text_test::TempRunLog m_log{"arc"};
};

TEST_F(ArcTextTest, CharactersStandOnTheCircleSideBySide) {
    const wchar_t* text = L"MAXH";
    for (int variant = 0; variant < 5; ++variant) {
        const bool inside = variant == 1 || variant == 3, top = variant >= 2 && variant < 4;
        TextPtr t = ArcText();
        t->bIsInside = inside ? 1 : 0;
        t->bAlignTop = top ? 1 : 0;
        Layout lay;
        if (variant == 4) {
            // A new text placed at its own height stays on its circle.
            t->parFonts = lay.fonts;
            t->InitFontsPath({0, 0}, CString(text), CString(L"DejaVu Sans"), false);
        } else {
            ASSERT_EQ(lay.Run(*t, text), 1);
        }
        ASSERT_EQ(t->GetChars().size(), 4u);
        std::vector<Pose> poses;
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "variant " << variant << " char " << i);
            poses.push_back(PoseOf(Glyph(text[i], top), t->GetChars()[i]->points));
            EXPECT_NEAR(poses[i].Radius(), kR, 2e-3);
            // Inside and hanging each turn the character half round.
            EXPECT_NEAR(poses[i].Outward(), inside == top ? 1.0 : -1.0, 1e-5);
        }
        // Left alignment: the first character's edge on the base angle, the
        // boxes of neighbours 0.5 apart along the arc.
        EXPECT_NEAR(poses[0].Angle(), 90.0 - ChordAngle(Glyph(text[0], top).width) / 2, 1e-3);
        for (size_t i = 0; i + 1 < 4; ++i) {
            const double gap = (ChordAngle(Glyph(text[i], top).width) + ChordAngle(Glyph(text[i + 1], top).width)) / 2 +
                               0.5 / (2 * M_PI * kR) * 360.0;
            EXPECT_NEAR(poses[i].Angle() - poses[i + 1].Angle(), gap, 1e-3) << i;
        }
    }
}

// Left, centre and right alignment with character spacing, on both sides
// of the circle and hanging or standing, against the arc formulas worked out
// here: each character's middle at its angle, on the circle, upright.
TEST_F(ArcTextTest, AlignmentAndSpacingFollowTheArcFormulas) {
    const std::wstring text = L"LjW7q";
    struct Row {
        int align;
        double space;
        bool inside, top;
    } rows[] = {{1, 0.0, false, false}, {2, 0.0, false, false}, {1, 1.7, true, false},
                {2, 1.7, false, true},  {0, -0.4, true, true},  {1, 0.9, true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "align " << row.align << " space " << row.space << " inside " << row.inside
                                        << " top " << row.top);
        TextPtr t = ArcText();
        t->iBaseAngle = 67;
        t->bIsInside = row.inside ? 1 : 0;
        t->bAlignTop = row.top ? 1 : 0;
        Layout lay;
        lay.fonts.nAlign = row.align;
        lay.fonts.dCharSpace = row.space;
        ASSERT_EQ(lay.Run(*t, text.c_str()), 1);
        ASSERT_EQ(t->GetChars().size(), text.size());
        // Chord angles of the glyphs, the gap angle and the start angle.
        std::vector<double> a;
        for (wchar_t c : text) a.push_back(ChordAngle(Glyph(c, row.top).width));
        const double m = double(a.size()), g = (0.5 + row.space) / (2 * M_PI * kR) * 360.0;
        double sum = 0;
        for (double x : a) sum += x;
        double angle = 67.0 - a[0] / 2;
        if (row.align == 1) angle += sum / 2 + std::floor(m / 2) * g;
        if (row.align == 2) angle += sum + (m - 1) * g;
        for (size_t i = 0; i < text.size(); ++i) {
            const Pose pose = PoseOf(Glyph(text[i], row.top), t->GetChars()[i]->points);
            EXPECT_NEAR(pose.Angle(), angle, 1e-3) << i;
            EXPECT_NEAR(pose.Radius(), kR, 2e-3) << i;
            EXPECT_NEAR(pose.Outward(), row.inside == row.top ? 1.0 : -1.0, 1e-5) << i;
            if (i + 1 < text.size()) angle -= (a[i] + a[i + 1]) / 2 + g;
        }
    }
}

TEST_F(ArcTextTest, SpreadSpecialCharactersAndSecondLine) {
    // Over a span of 90 degrees, four characters are (90 - widest) / 3 apart.
    TextPtr t = ArcText();
    t->iAngleScope = 90;
    Layout lay;
    ASSERT_EQ(lay.Run(*t, L"HIMT"), 1);
    double widest = 0;
    for (wchar_t c : std::wstring(L"HIMT")) widest = std::max(widest, ChordAngle(Glyph(c, false).width));
    for (size_t i = 0; i + 1 < 4; ++i) {
        const Pose a = PoseOf(Glyph(L"HIMT"[i], false), t->GetChars()[i]->points);
        const Pose b = PoseOf(Glyph(L"HIMT"[i + 1], false), t->GetChars()[i + 1]->points);
        EXPECT_NEAR(a.Angle() - b.Angle(), (90.0 - widest) / 3, 1e-3);
    }

    // A hyphen sits 0.6 x 0.5 x height outside the circle, 0.6 x 0.3 x height
    // inside it; a second line stands one line lower (nearer the centre).
    for (int inside = 0; inside < 2; ++inside) {
        TextPtr u = ArcText();
        u->bIsInside = inside;
        lay.fonts.dLineSpace = 1.0;
        ASSERT_EQ(lay.Run(*u, L"A-B\nH"), 1);
        ASSERT_EQ(u->GetChars().size(), 4u);
        const Pose dash = PoseOf(Glyph(L'-', false), u->GetChars()[1]->points);
        EXPECT_NEAR(dash.Radius(), inside != 0 ? kR - 0.6 * 0.3 * kH : kR + 0.6 * 0.5 * kH, 2e-3);
        const Pose second = PoseOf(Glyph(L'H', false), u->GetChars()[3]->points);
        EXPECT_NEAR(second.Radius(), inside != 0 ? kR + kH + 1.0 : kR - kH - 1.0, 2e-3);
    }
}

TEST_F(ArcTextTest, NewLayoutKeepsMoveAndRotate) {
    TextPtr t = ArcText();
    Layout lay;
    ASSERT_EQ(lay.Run(*t, L"ARC"), 1);
    t->Move(3.0f, -2.0f);
    t->Rotate(30.0, {5.0f, 5.0f});
    FILLED_PARS fill = testsupport::Hatch(0.2);
    fill.fillParams[0].bWholeConsider = 0;
    t->SetFill(fill, false);
    std::vector<tagPOINTF> edited;
    for (FONTSCHAR* ch : t->GetChars()) edited.insert(edited.end(), ch->points.begin(), ch->points.end());
    ASSERT_EQ(lay.Run(*t, L"ARC"), 1);
    size_t k = 0;
    for (FONTSCHAR* ch : t->GetChars())
        for (const tagPOINTF& p : ch->points) EXPECT_LT(testsupport::Dist(p, edited.at(k++)), 1e-3);
    EXPECT_EQ(k, edited.size());
    // The fill is made again on the outlines where they end up.
    ASSERT_EQ(t->bFilled, 1);
    ASSERT_EQ(t->GetFills().size(), 3u);
    const Gdiplus::RectF a = CBaseShape::CalculateRectangle(t->GetChars()[0]->points);
    const auto& hatch = t->GetFills()[0]->GetFillPathOf(0)->PathPoints();
    ASSERT_GT(hatch.size(), 4u);
    for (const Gdiplus::PointF& p : hatch)
        EXPECT_TRUE(p.X >= a.X - 1e-3 && p.X <= a.X + a.Width + 1e-3 && p.Y <= a.Y + 1e-3 && p.Y >= a.Y - a.Height - 1e-3);
}

TEST_F(ArcTextTest, BadCircleIsRefusedAndMissingFaceToldOnce) {
    Layout lay;
    TextPtr t = ArcText();
    ASSERT_EQ(lay.Run(*t, L"AB"), 1);
    const std::vector<tagPOINTF> before = t->GetChars()[0]->points;
    for (double r : {0.0, -4.0, std::nan("")}) {
        t->dRad = r;
        EXPECT_EQ(lay.Run(*t, L"XYZ"), 0);
        EXPECT_EQ(lay.Run(*t, L"XYZ", 3), 0);
        ASSERT_EQ(t->GetChars().size(), 2u);
        EXPECT_EQ(t->GetChars()[0]->points, before);
    }
    // A circle narrower than a character: the chord's angle is capped.
    t->dRad = 1.0;
    ASSERT_EQ(lay.Run(*t, L"WW"), 1);
    for (FONTSCHAR* ch : t->GetChars())
        for (const tagPOINTF& p : ch->points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));

    if (Gdiplus::FontFamily(L"Arial").IsAvailable()) GTEST_SKIP() << "the fallback face is installed";
    testsupport::HostScope host;
    TextPtr u = ArcText();
    EXPECT_EQ(lay.Run(*u, L"ABC\nDEF", 0, L"No Such Face"), 1);
    EXPECT_EQ(host.Texts(), std::vector<std::wstring>{L"字体设置失败"});
    EXPECT_EQ(u->GetChars().size(), 6u);
}

// Twice the signed area of an outline, figure by figure (y up): its sign
// tells a character from its mirror image.
double SignedArea(const std::vector<tagPOINTF>& pts, const std::vector<BYTE>& types) {
    double area = 0;
    size_t start = 0;
    for (size_t k = 0; k <= pts.size(); ++k) {
        if (k == pts.size() || (k > start && (types[k] & 0x07) == 0)) {
            for (size_t i = start; i < k; ++i) {
                const tagPOINTF a = pts[i], b = pts[i + 1 < k ? i + 1 : start];
                area += double(a.x) * b.y - double(b.x) * a.y;
            }
            start = k;
        }
    }
    return area;
}

double CentreAngle(const std::vector<tagPOINTF>& pts) {
    const Gdiplus::RectF r = CBaseShape::CalculateRectangle(pts);
    return std::atan2(r.Y - r.Height / 2 - kCentre.y, r.X + r.Width / 2 - kCentre.x) * 180.0 / M_PI;
}

TEST_F(ArcTextTest, SqueezedCharactersKeepTheirSideAndOrder) {
    // A span that hardly holds (or cannot hold) the widest character, and
    // a width factor below 45: each character is narrowed, never turned
    // over, and the text still runs clockwise.
    const Straight f = Glyph(L'F', false);
    std::vector<BYTE> straightTypes;
    {
        Gdiplus::FontFamily family(L"DejaVu Sans");
        Gdiplus::GraphicsPath path;
        path.AddString(L"F", 1, &family, 0, static_cast<float>(kH), Gdiplus::PointF(0, 0),
                       Gdiplus::StringFormat::GenericTypographic());
        straightTypes = path.PathTypes();
    }
    const double straightArea = SignedArea(f.pts, straightTypes);
    ASSERT_NE(straightArea, 0.0);
    for (double width : {30.0, 45.0, 20.0}) {
        for (int span : {6, 3, 1, 40}) {
            SCOPED_TRACE(testing::Message() << "width " << width << " span " << span);
            TextPtr t = ArcText();
            t->iAngleScope = span;
            Layout lay;
            lay.fonts.dWidthRatio = width;
            ASSERT_EQ(lay.Run(*t, L"FFFF"), 1);
            ASSERT_EQ(t->GetChars().size(), 4u);
            double previous = 1e9;
            for (FONTSCHAR* ch : t->GetChars()) {
                EXPECT_GT(SignedArea(ch->points, ch->types) * straightArea, 0.0);
                const double a = CentreAngle(ch->points);
                EXPECT_LT(a, previous);
                previous = a;
            }
        }
    }
}

TEST_F(ArcTextTest, FixedWidthTwoSpacesByTheSignedDifference) {
    // Mode 2 adds the angle of (fixed width - natural width) / sx to each
    // character's own angle: less than the natural width packs tighter.
    const double natural = kH * 45.0 / 100.0;
    const double sx = kH / 10.0 * 45.0 / 45.8;
    const Straight a = Glyph(L'a', false), b = Glyph(L'b', false);
    double spreadBefore = 0;
    // A width so narrow that a character would take negative room takes
    // none: the characters never run backwards.
    for (double fixed : {natural - 1.5, natural - 0.5, natural, natural + 1.5}) {
        SCOPED_TRACE(fixed);
        TextPtr t = ArcText();
        Layout lay;
        lay.fonts.nFixWidthMode = 2;
        lay.fonts.dFixCharWidth = fixed;
        ASSERT_EQ(lay.Run(*t, L"abab"), 1);
        const double d = (fixed - natural) / sx;
        const double extra = (d < 0 ? -1 : 1) * ChordAngle(std::fabs(d));
        const double angleA = std::max(ChordAngle(a.width) + extra, 0.0);
        const double angleB = std::max(ChordAngle(b.width) + extra, 0.0);
        const double expected = (angleA + angleB) / 2 + 0.5 / (2 * M_PI * kR) * 360.0;
        const Pose pa = PoseOf(a, t->GetChars()[0]->points), pb = PoseOf(b, t->GetChars()[1]->points);
        EXPECT_NEAR(pa.Angle() - pb.Angle(), expected, 1e-3);
        const double spread = CentreAngle(t->GetChars()[0]->points) - CentreAngle(t->GetChars()[3]->points);
        EXPECT_GT(spread, spreadBefore);
        spreadBefore = spread;
    }
    // Dots bent onto the circle take the same signed room, in drawing units.
    spreadBefore = 0;
    for (double fixed : {natural - 0.5, natural, natural + 1.5}) {
        SCOPED_TRACE(fixed);
        TextPtr t = ArcText();
        Layout lay;
        lay.fonts.nFixWidthMode = 2;
        lay.fonts.dFixCharWidth = fixed;
        ASSERT_EQ(lay.Run(*t, L"abab", 3), 1);
        double previous = 1e9;
        for (FONTSCHAR* ch : t->GetChars()) {
            EXPECT_LT(CentreAngle(ch->points), previous);
            previous = CentreAngle(ch->points);
        }
        const double spread = CentreAngle(t->GetChars()[0]->points) - previous;
        EXPECT_GT(spread, spreadBefore);
        spreadBefore = spread;
    }
}

// ---- dot-matrix text ------------------------------------------------------------------------

std::vector<tagPOINTF> Dots(const wchar_t* text, double height, double width, double lineSpace = 0.0) {
    TextPtr t(new CFonts());
    Layout lay;
    lay.fonts.bPathText = 0;
    lay.fonts.dHeight = height;
    lay.fonts.dWidthRatio = width;
    lay.fonts.dLineSpace = lineSpace;
    EXPECT_EQ(lay.Run(*t, text, 3), 1);
    std::vector<tagPOINTF> out;
    for (FONTSCHAR* ch : t->GetChars()) {
        for (BYTE type : ch->types) EXPECT_EQ(type, 0);
        out.insert(out.end(), ch->points.begin(), ch->points.end());
    }
    return out;
}

TEST_F(ArcTextTest, DotsSitOnTheirLatticeAndAdvance) {
    // Height 2, width 91.6: columns 0.432 apart, rows 0.216.
    const std::vector<tagPOINTF> h = Dots(L"H", 2.0, 91.6);
    ASSERT_GT(h.size(), 10u);
    for (const tagPOINTF& p : h) {
        const double cx = (p.x - h[0].x) / 0.432, cy = (p.y - h[0].y) / 0.216;
        EXPECT_NEAR(cx, std::round(cx), 1e-3);
        EXPECT_NEAR(cy, std::round(cy), 1e-3);
    }

    // A wide character moves the next one 1.8 times as far as a Latin one.
    const std::vector<tagPOINTF> latin = Dots(L"AAA", 2.0, 45.8), wide = Dots(L"A中A", 2.0, 45.8);
    ASSERT_EQ(wide.size() % 2, 0u);
    const size_t n = wide.size() / 2;  // the CJK character has no glyph here
    ASSERT_EQ(latin.size(), 3 * n);
    EXPECT_NEAR(latin[2 * n].x - latin[0].x, 2.0 * 2.0 * 45.8 / 100, 1e-4);
    EXPECT_NEAR(wide[n].x - wide[0].x, 2.8 * 2.0 * 45.8 / 100, 1e-4);
    EXPECT_NEAR(wide[n].y, wide[0].y, 1e-5);

    // The second line starts one line step and 1.0 lower.
    const std::vector<tagPOINTF> lines = Dots(L"A\nA", 2.0, 45.8, 0.5);
    ASSERT_EQ(lines.size(), 2 * n);
    for (size_t k = 0; k < n; ++k) {
        EXPECT_NEAR(lines[n + k].x, lines[k].x, 1e-5);
        EXPECT_NEAR(lines[k].y - lines[n + k].y, 0.5 + 2.0 + 1.0, 1e-4);
    }
}

TEST_F(ArcTextTest, DotsBendOntoTheCircleWithTheirOwnAngles) {
    // The dots of each character move rigidly onto the circle, the middle
    // of the dots' lower edge on it.
    TextPtr straight(new CFonts());
    Layout flat;
    flat.fonts.bPathText = 0;
    ASSERT_EQ(flat.Run(*straight, L"T-E", 3), 1);
    Layout lay;
    lay.fonts.nAlign = 1;
    TextPtr bent = ArcText();
    ASSERT_EQ(lay.Run(*bent, L"T-E", 3), 1);
    for (size_t i = 0; i < 3; ++i) {
        const std::vector<tagPOINTF>& s = straight->GetChars()[i]->points;
        const Gdiplus::RectF r = CBaseShape::CalculateRectangle(s);
        const Pose p = PoseOf({s, {r.X + r.Width / 2, r.Y - r.Height}, r.Width}, bent->GetChars()[i]->points);
        // A hyphen sits half a height outside.
        EXPECT_NEAR(p.Radius(), i == 1 ? kR + 0.5 * kH : kR, 2e-3) << i;
        EXPECT_NEAR(p.Outward(), 1.0, 1e-5);
    }
    // Spread over a narrow span, characters narrow about their own middle:
    // a text laid out far from the origin still lands on its circle.
    TextPtr narrow = ArcText();
    narrow->fontspos = {100.0f, 50.0f};
    narrow->iAngleScope = 6;
    ASSERT_EQ(lay.Run(*narrow, L"TEE", 3), 1);
    for (FONTSCHAR* ch : narrow->GetChars())
        for (const tagPOINTF& p : ch->points) {
            const double d = testsupport::Dist(p, kCentre);
            EXPECT_TRUE(d > kR - 0.01 && d < kR + kH) << d;
        }
    // An earlier TrueType layout on the same text changes nothing.
    TextPtr again = ArcText();
    ASSERT_EQ(lay.Run(*again, L"WIDE TEXT"), 1);
    ASSERT_EQ(lay.Run(*again, L"T-E", 3), 1);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(again->GetChars()[i]->points, bent->GetChars()[i]->points);
}

}  // namespace
