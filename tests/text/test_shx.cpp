// SHX fonts: the reader's records for every drawing command in the three
// file kinds, its refusal of broken files, and the single-line layout of
// texts in generated fonts (scale, placement, spacing, code pages, arcs,
// and the TrueType fallback when a font is missing).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/dxf_builder.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "support/shape_support.h"
#include "support/temp_dir.h"
#include "morvik/text/fonts.h"
#include "text/shx_gen.h"
#include "morvik/text/shxreader.h"
#include "text/text_test_util.h"
#include "morvik/win32/windows.h"

using namespace shxgen;

namespace {

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", std::round(v * 1e4) / 1e4 + 0.0);
    return buf;
}

// The records of a shape as text, numbers to four significant digits:
// "L x1 y1 x2 y2" and "A cx cy r start end cw|ccw", joined by "; ".
std::string Describe(const std::vector<dxfObject*>& list) {
    std::string out;
    for (const dxfObject* o : list) {
        if (!out.empty()) out += "; ";
        if (const auto* l = dynamic_cast<const dxfLine*>(o)) {
            out += "L " + Num(l->x1) + " " + Num(l->y1) + " " + Num(l->x2) + " " + Num(l->y2);
        } else if (const auto* a = dynamic_cast<const dxfArc*>(o)) {
            out += "A " + Num(a->cx) + " " + Num(a->cy) + " " + Num(a->radius) + " " + Num(a->startAngle) + " " +
                   Num(a->endAngle) + (a->direction != 0 ? " cw" : " ccw");
        }
    }
    return out;
}

// Reads one shape and describes it; "fail" when it is refused (the list
// then must be empty).
std::string Read(CShxShapeReader& r, int code, int index = 0) {
    std::vector<dxfObject*> list;
    const int result = r.readCharShape(list, code, index);
    const std::string text = result == 0 ? Describe(list) : list.empty() ? "fail" : "fail with records";
    CShxShapeReader::FreeObjects(list);
    return text;
}

// The same shapes in every kind of file; the two-byte code is a character
// code of a big or Unicode font.
Font CommandFont(Kind kind) {
    Font f(kind);
    f.Add('A', PenDown() + Vec(1, 0) + Vec(1, 4) + Divide(2) + Vec(1, 0) + Multiply(2) + PenUp() + Vec(1, 8) +
                   PenDown() + Vec(2, 12));
    f.Add('B', PenDown() + Push() + Move(3, 4) + Pop() + Skip() + Vec(1, 0) + Moves({{1, 0}, {0, 1}}) + Skip() +
                   PenUp() + Vec(1, 4) + PenDown() + Skip() + Moves({{5, 5}}) + Skip() + Sub('A', kind) + Vec(1, 0));
    f.Add('C', PenUp() + Vec(1, 0) + PenDown() + Sub('A', kind) + Vec(1, 0));
    f.Add('D', PenDown() + OctantArc(1, 1, 2, false) + OctantArc(1, 4, 0, true));
    f.Add('E', PenDown() + FractionArc(64, 128, 10, 0, 2, false) + BulgeArc(10, 0, 127) + BulgeArc(5, 0, 0) +
                   BulgeArcs({{0, 4, -127}}));
    if (kind != kShapes) f.Add(0xCED2, PenDown() + Vec(3, 2));
    return f;
}

class ShxTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHost(host);
        CShxShapeReader::SetFontFolder(dir.Path("font").wstring());
        std::filesystem::create_directories(dir.Path("font"));
    }
    void TearDown() override {
        CShxShapeReader::SetFontFolder(L"");
        SetHost(nullptr);
    }
    std::string FontFile(const std::string& name) const { return dir.File("font/" + name); }
    std::wstring WFile(const std::string& name) const { return dir.WPath("font/" + name); }
    size_t Boxes() const { return host->MessageBoxes().size(); }

    // The default font and a font T1 whose Latin letters are one cell: a
    // line 40 units across and one 20 up.
    void WriteStandardFonts() {
        Font simtxt(kShapes);
        AddLatinSample(simtxt, kCell).Write(FontFile("Simtxt.shx"));
        // The shapes of their own come first: a search takes the first.
        Font t1(kShapes);
        t1.Add('1', PenDown() + Vec(10, 4));
        t1.Add(':', PenUp() + Move(2, 2) + PenDown() + Vec(1, 4));
        t1.Add('-', PenUp() + Move(0, 5) + PenDown() + Vec(8, 0));
        t1.Add(' ', PenUp() + Move(20, 0));
        t1.Add('o', PenDown() + OctantArc(10, 0, 0, false));
        t1.Add('c', PenDown() + OctantArc(10, 2, 3, true));
        t1.Add('d', PenDown() + BulgeArc(20, 5, 64));
        t1.Add('e', PenDown() + FractionArc(64, 128, 10, 0, 2, false));
        AddLatinSample(t1, kCell).Write(FontFile("T1.shx"));
    }

    std::unique_ptr<CFonts> Lay(const std::wstring& text, const std::wstring& font, tagPOINTF at = {0, 0},
                                double height = 10.0, double width = 100.0) {
        auto t = std::make_unique<CFonts>();
        t->nFontType = 1;
        t->parFonts.dHeight = height;
        t->parFonts.dWidthRatio = width;
        t->parFonts.nAlign = align;
        t->parFonts.nFixWidthMode = mode;
        t->parFonts.dCharSpace = charSpace;
        t->parFonts.dFixCharWidth = charWidth;
        t->parFonts.bVertical = vertical;
        t->InitFontsPath(at, CString(text.c_str()), CString(font.c_str()), false);
        return t;
    }

    static inline const Codes kCell = PenDown() + Move(20, 0) + Vec(10, 4);
    testsupport::TempDir dir{"morvik-shx"};
    text_test::TempRunLog log{"shx"};
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    int align = 0, mode = 0, vertical = 0;
    double charSpace = 0, charWidth = 1;
};

// ---- the reader ---------------------------------------------------------------------------------

TEST_F(ShxTest, EveryCommandGivesItsRecordsInEveryKindOfFile) {
    for (Kind kind : {kShapes, kBigFont, kUnifont}) {
        SCOPED_TRACE(kind);
        CommandFont(kind).Write(FontFile("cmd.shx"));
        CShxShapeReader r;
        ASSERT_EQ(r.in(WFile("cmd.shx").c_str()), 0);
        EXPECT_EQ(r.GetKind(), static_cast<int>(kind));
        // Vectors are doubled and scaled; pen up moves without drawing.
        EXPECT_EQ(Read(r, 'A'), "L 0 0 2 0; L 2 0 2 2; L 2 2 3 2; L 1 2 1 -2");
        // Push and pop; a skip swallows the next command whole (operand
        // lists and sub-shapes included) but not a pen change.
        EXPECT_EQ(Read(r, 'B'), "L 0 0 6 8; L 0 0 2 0; L 2 0 2 2; L 2 2 4 2");
        // A sub-shape draws from the current position.
        EXPECT_EQ(Read(r, 'C'), "L 2 0 4 0; L 4 0 4 2; L 4 2 5 2; L 3 2 3 -2; L 3 -2 5 -2");
        // Octant arcs: the centre lies back from the start by twice the
        // radius; a count of 0 is a full circle (equal angles).
        EXPECT_EQ(Read(r, 'D'), "A -1.414 -1.414 2 45 135 ccw; A -0.8284 0 2 180 180 cw");
        // Fractional arc, semicircular bulge (centre on the chord), bulge 0
        // as a line, a clockwise bulge in a list.
        EXPECT_EQ(Read(r, 'E'), "A -19.62 -3.902 20 11.25 67.5 ccw; A -1.962 14.58 10 180 0 ccw; "
                                "L 8.038 14.58 18.04 14.58; A 18.04 18.58 4 -90 90 cw");
        // Two-byte character codes of big and Unicode fonts.
        if (kind != kShapes) {
            EXPECT_EQ(Read(r, 0xCED2), "L 0 0 6 6");
        }
        // Unknown codes, code 0, positions outside the index; an index
        // position picks its entry ('B') whatever the code.
        EXPECT_EQ(Read(r, 'Z'), "fail");
        EXPECT_EQ(Read(r, 0), "fail");
        EXPECT_EQ(Read(r, 'A', 99), "fail");
        EXPECT_EQ(Read(r, 'Z', 1), Read(r, 'B'));
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(ShxTest, BrokenFilesAndShapesFailCleanly) {
    CShxShapeReader r;
    auto load = [&](const std::string& bytes) {
        std::ofstream(FontFile("x.shx"), std::ios::binary) << bytes;
        return r.in(WFile("x.shx").c_str());
    };
    // Nothing loaded; a file that is not there: a message each.
    EXPECT_EQ(Read(r, 'A'), "fail");
    EXPECT_EQ(r.in(WFile("none.shx").c_str()), -1);
    EXPECT_FALSE(r.IsLoaded());
    EXPECT_EQ(Boxes(), 2u);
    // No terminator; no known kind; the kind is found in capitals.
    EXPECT_EQ(load("AutoCAD-86 shapes 1.0\n\x1A"), -1);
    EXPECT_EQ(load("AutoCAD-86 glyphs 1.0\r\n\x1A"), -1);
    EXPECT_EQ(load(std::string("BIGFONT\r\n\x1A\0\0\0\0\0\0", 16)), 0);
    EXPECT_EQ(r.GetKind(), 2);

    // Self-reference, a ring, truncated operands and a name without its 0
    // byte are refused; divisor 0 is passed over, scale 0 draws nothing
    // harmful, a missing sub-shape is passed over.
    Font f(kShapes);
    f.Add('S', PenDown() + Vec(1, 0) + Sub('S', kShapes));
    f.Add('T', Sub('U', kShapes)).Add('U', Sub('T', kShapes));
    f.AddRaw('V', std::string("v\0\x09\x01\x01\x02", 6)).AddRaw('W', "noend");
    f.Add('X', PenDown() + Divide(0) + Vec(1, 0) + Multiply(0) + Vec(5, 0) + OctantArc(9, 0, 0, false) +
                   BulgeArc(4, 4, 100) + Multiply(200) + Multiply(200) + Vec(1, 0));
    f.Add('Y', PenDown() + Moves({{1, 1}}) + Sub('Q', kShapes));
    const std::string bytes = f.Bytes();
    ASSERT_EQ(load(bytes), 0);
    for (int code : {'S', 'T', 'V', 'W'}) EXPECT_EQ(Read(r, code), "fail") << static_cast<char>(code);
    EXPECT_EQ(Read(r, 'X'), "L 0 0 2 0; L 2 0 2 0; L 2 0 2 0");
    EXPECT_EQ(Read(r, 'Y'), "L 0 0 2 2");

    // Every cut of the file and an offset outside it load or fail cleanly,
    // and every shape reads or fails without leaving the file.
    for (size_t n = 0; n < bytes.size(); n += 3) {
        if (load(bytes.substr(0, n)) != 0) continue;
        for (int k = 0; k < r.GetShapeCount(); ++k) Read(r, 'A', k);
    }
    std::string big = CommandFont(kBigFont).Bytes();
    big[big.find('\x1A') + 7 + 4 + 7] = '\x7F';  // the first entry's offset far behind the end
    ASSERT_EQ(load(big), 0);
    EXPECT_EQ(Read(r, 'A'), "fail");
    EXPECT_NE(Read(r, 'D'), "fail");

    // A file rewritten in place with other bytes of the same size is read
    // anew; a reader that loaded the old bytes keeps them.
    Font one(kShapes), other(kShapes);
    one.Add('A', PenDown() + Vec(1, 0)).Write(FontFile("same.shx"));
    CShxShapeReader first, second;
    ASSERT_EQ(first.in(WFile("same.shx").c_str()), 0);
    other.Add('A', PenDown() + Vec(1, 4)).Write(FontFile("same.shx"));
    ASSERT_EQ(second.in(WFile("same.shx").c_str()), 0);
    EXPECT_EQ(Read(first, 'A'), "L 0 0 2 0");
    EXPECT_EQ(Read(second, 'A'), "L 0 0 0 2");

    // In a font whose path names "CJB.shx", an unknown code draws the last shape.
    CommandFont(kBigFont).Write(FontFile("CJB.shx"));
    ASSERT_EQ(r.in(WFile("CJB.shx").c_str()), 0);
    EXPECT_EQ(Read(r, 0x4E00), "L 0 0 6 6");
}

// ---- the single-line layout ---------------------------------------------------------------------

// A character's points as "M x y L x y ...", relative to its first point
// when relative is set.
std::string Pts(const FONTSCHAR* ch, bool relative = false) {
    std::string out;
    for (size_t i = 0; i < ch->points.size(); ++i) {
        const tagPOINTF p = ch->points[i], o = relative ? ch->points[0] : tagPOINTF{0, 0};
        out += std::string(out.empty() ? "" : " ") + (ch->types[i] == 0 ? "M " : "L ") + Num(p.x - o.x) + " " +
               Num(p.y - o.y);
    }
    return out;
}

TEST_F(ShxTest, StrokesAreScaledByTheCellAndPlacedByAlignment) {
    WriteStandardFonts();
    // Height 10 over a cell 20 high and, at 100 %, 10 across a cell 40
    // wide: x scale 0.25, y scale 0.5; one step is 10. Left alignment puts
    // the top-left corner on the position.
    auto t = Lay(L"ab", L"T1", {3, 4});
    ASSERT_EQ(t->GetFontType(), 1);
    ASSERT_EQ(t->GetChars().size(), 2u);
    EXPECT_EQ(Pts(t->GetChars()[0]), "M 3 -6 L 13 -6 L 13 4");
    EXPECT_EQ(Pts(t->GetChars()[1]), "M 13 -6 L 23 -6 L 23 4");
    // Centre alignment: the centre; right: the bottom-right corner.
    align = 1;
    EXPECT_EQ(Pts(Lay(L"ab", L"T1", {3, 4})->GetChars()[0]), "M -7 -1 L 3 -1 L 3 9");
    align = 2;
    EXPECT_EQ(Pts(Lay(L"ab", L"T1", {3, 4})->GetChars()[1]), "M -7 4 L 3 4 L 3 14");
    // A second line lines up its centre with the first's, one height lower.
    align = 1;
    auto two = Lay(L"ab\r\nabab", L"T1");
    ASSERT_EQ(two->GetChars().size(), 6u);
    EXPECT_EQ(Pts(two->GetChars()[2]), "M -20 -15 L -10 -15 L -10 -5");
    // Half the width factor halves the width.
    align = 0;
    EXPECT_EQ(Pts(Lay(L"a", L"T1", {0, 0}, 10, 50)->GetChars()[0]), "M 0 -10 L 5 -10 L 5 0");
}

// Single-line strokes enclose nothing: filled, the text has no fill shapes
// and marks the strokes it marked unfilled, with its pen.
TEST_F(ShxTest, AFilledTextMarksItsStrokes) {
    WriteStandardFonts();
    auto t = Lay(L"ab", L"T1", {3, 4});
    t->SetPen(3);
    // Drawn as marked: the same strokes before and after the fill.
    testsupport::ViewAt v(2.0f);
    t->SetDocView(&v.doc, &v.view);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    auto drawn = [&] {
        canvas.Reset();
        t->Draw(&dc, nullptr, RGB(0, 0, 255), 0, 1, 0, 0, 0.0f, 0.0f);
        return canvas.Dump();
    };
    const std::string drawnBefore = drawn();
    ASSERT_FALSE(drawnBefore.empty());
    tagMarkDataPar before, after;
    ASSERT_TRUE(t->GetMarkData(before, nullptr));
    ASSERT_FALSE(before.arrPaths.empty());
    FILLED_PARS par;
    par.bOutLine = 0;
    t->SetFill(par, false);
    ASSERT_NE(t->bFilled, 0);
    ASSERT_TRUE(t->GetMarkData(after, nullptr));
    ASSERT_EQ(after.arrPaths.size(), before.arrPaths.size());
    for (size_t i = 0; i < before.arrPaths.size(); ++i) {
        EXPECT_EQ(after.arrPaths[i].nPenIndex, 3);
        EXPECT_EQ(after.arrPaths[i].arrPolylines, before.arrPaths[i].arrPolylines);
    }
    EXPECT_EQ(drawn(), drawnBefore);
}

TEST_F(ShxTest, SpacingModesBlanksAndTheSingleStrokePullBack) {
    WriteStandardFonts();
    auto startsAt = [&](const std::wstring& text) {
        auto t = Lay(text, L"T1");
        std::vector<double> xs, ys;
        for (const FONTSCHAR* ch : t->GetChars()) {
            xs.push_back(ch->points.empty() ? NAN : ch->points[0].x - t->GetChars()[0]->points[0].x);
            ys.push_back(ch->points.empty() ? NAN : ch->points[0].y - t->GetChars()[0]->points[0].y);
        }
        return std::make_pair(xs, ys);
    };
    // One vertical line pulls the next character back by 20 x 0.25; a
    // character of two lines does not.
    EXPECT_NEAR(startsAt(L"1a").first[1], 10 - 5, 1e-4);
    EXPECT_NEAR(startsAt(L"aa").first[1], 10, 1e-4);
    // Each blank takes one step; the spacing adds to every step.
    charSpace = 2;
    EXPECT_NEAR(startsAt(L"a  b").first[3], 3 * 12, 1e-4);
    EXPECT_NEAR(startsAt(L"ab").first[1], 12, 1e-4);
    // Mode 1: the character's own width plus the width; mode 2: the width.
    mode = 1;
    EXPECT_NEAR(startsAt(L"ab").first[1], 10 + 1, 1e-4);
    mode = 2;
    charWidth = 7;
    EXPECT_NEAR(startsAt(L"ab").first[1], 7, 1e-4);
    // Vertical, mode 0: down by spacing + (spacing + height).
    mode = 0;
    vertical = 1;
    const auto v = startsAt(L"ab");
    EXPECT_NEAR(v.first[1], 0, 1e-4);
    EXPECT_NEAR(v.second[1], -(2 + 2 + 10), 1e-4);
}

TEST_F(ShxTest, FullWidthColonDrawsTheColon) {
    WriteStandardFonts();
    auto full = Lay(L"a\uFF1A", L"T1");
    auto half = Lay(L"a:", L"T1");
    ASSERT_EQ(full->GetChars().size(), 2u);
    ASSERT_EQ(full->GetChars()[1]->points.size(), 2u);
    EXPECT_EQ(full->GetChars()[1]->points, half->GetChars()[1]->points);
}

TEST_F(ShxTest, BigFontCharactersComeByTheProcessCodePage) {
    WriteStandardFonts();
    // 我 is CE D2 in GBK and 89 E4 in Shift-JIS; the font holds a tall
    // shape under the first code and a wide one under the second.
    Font hz(kBigFont);
    hz.Add(0xCED2, PenDown() + Vec(10, 4) + Vec(5, 0));
    hz.Add(0x89E4, PenDown() + Vec(10, 0) + Vec(5, 4));
    hz.Write(FontFile("HZ.shx"));
    const UINT saved = GetACP();
    ASSERT_TRUE(SetACP(936));
    auto gbk = Lay(L"我A", L"HZ");
    ASSERT_TRUE(SetACP(932));
    auto sjis = Lay(L"我", L"HZ");
    SetACP(saved);
    ASSERT_EQ(gbk->GetFontType(), 1);
    ASSERT_EQ(gbk->GetChars().size(), 2u);
    // Measured on its one character: cells 10 x 20 and 20 x 10.
    EXPECT_EQ(Pts(gbk->GetChars()[0], true), "M 0 0 L 0 10 L 10 10");
    EXPECT_EQ(Pts(sjis->GetChars()[0], true), "M 0 0 L 10 0 L 10 10");
    // A Latin letter the font lacks comes from the default font at its cell.
    EXPECT_EQ(Pts(gbk->GetChars()[1], true), "M 0 0 L 10 0 L 10 10");
}

// Distance of every point and every chord's middle from the circle (c, r).
double WorstDeviation(const FONTSCHAR* ch, double cx, double cy, double r) {
    double worst = 0;
    for (size_t i = 0; i < ch->points.size(); ++i) {
        const tagPOINTF p = ch->points[i];
        worst = std::max(worst, std::fabs(std::hypot(p.x - cx, p.y - cy) - r));
        if (i > 0) {
            const tagPOINTF q = ch->points[i - 1];
            worst = std::max(worst, std::fabs(std::hypot((p.x + q.x) / 2 - cx, (p.y + q.y) / 2 - cy) - r));
        }
    }
    return worst;
}

TEST_F(ShxTest, ArcsAreFlattenedCloseToTheTrueArcInTheirDirection) {
    WriteStandardFonts();
    // Height 50 at 200 %: both scales 2.5, so arcs stay circular.
    auto t = Lay(L"ocde", L"T1", {0, 0}, 50, 200);
    ASSERT_EQ(t->GetChars().size(), 4u);
    const double s = 2.5, r = 20 * s;
    auto angle = [](const FONTSCHAR* ch, size_t i, double cx, double cy) {
        return std::atan2(ch->points[i].y - cy, ch->points[i].x - cx) * 180 / M_PI;
    };
    // A full circle from angle 0, counter-clockwise, back to its start.
    const FONTSCHAR* o = t->GetChars()[0];
    const tagPOINTF o0 = o->points[0];
    EXPECT_LT(WorstDeviation(o, o0.x - r, o0.y, r), 0.01);
    EXPECT_GT(angle(o, 1, o0.x - r, o0.y), 0);
    EXPECT_NEAR(o->points.back().x, o0.x, 1e-3);
    EXPECT_NEAR(o->points.back().y, o0.y, 1e-3);
    // Clockwise from 90 to -45 degrees.
    const FONTSCHAR* c = t->GetChars()[1];
    const double ccx = c->points[0].x, ccy = c->points[0].y - r;
    EXPECT_LT(WorstDeviation(c, ccx, ccy, r), 0.01);
    EXPECT_LT(angle(c, 1, ccx, ccy), 90);
    EXPECT_NEAR(angle(c, c->points.size() - 1, ccx, ccy), -45, 1e-3);
    // A bulge arc ends at its chord's end, bulging right of it.
    const FONTSCHAR* d = t->GetChars()[2];
    const double dx = 40 * s, dy = 10 * s, chord = std::hypot(dx, dy);
    const double sag = 64.0 / 127 * chord / 2, rb = (chord * chord / 4 + sag * sag) / (2 * sag);
    const double mx = d->points[0].x + dx / 2, my = d->points[0].y + dy / 2;
    const double bcx = mx - dy / chord * (rb - sag), bcy = my + dx / chord * (rb - sag);
    EXPECT_LT(WorstDeviation(d, bcx, bcy, rb), 0.01);
    EXPECT_NEAR(d->points.back().x - d->points[0].x, dx, 1e-3);
    EXPECT_NEAR(d->points.back().y - d->points[0].y, dy, 1e-3);
    // A fractional arc from 11.25 to 67.5 degrees.
    const FONTSCHAR* e = t->GetChars()[3];
    const double a0 = 11.25 * M_PI / 180;
    const double ecx = e->points[0].x - r * std::cos(a0), ecy = e->points[0].y - r * std::sin(a0);
    EXPECT_LT(WorstDeviation(e, ecx, ecy, r), 0.01);
    EXPECT_NEAR(angle(e, e->points.size() - 1, ecx, ecy), 67.5, 1e-3);
}

TEST_F(ShxTest, MissingFontsFallBackToTrueTypeWithOneMessagePerLayout) {
    // No default font: the text is laid out in TrueType and becomes one.
    auto none = Lay(L"ab", L"T1");
    EXPECT_EQ(none->GetFontType(), 0);
    ASSERT_EQ(none->GetChars().size(), 2u);
    EXPECT_FALSE(none->GetChars()[0]->points.empty());
    EXPECT_EQ(Boxes(), 1u);
    // The default font but not the text's own: the same, through SetFonts.
    WriteStandardFonts();
    auto t = Lay(L"ab", L"T1");
    ASSERT_EQ(t->GetFontType(), 1);
    const tagPOINTF ref = t->GetPosRefPoint(0);
    host->ClearRecords();
    FONTS_PAR fonts = t->parFonts;
    CODEBAR_PAR codebar = t->parCodebar;
    VARTEXT_PAR vartext = t->parVarText;
    ASSERT_EQ(t->SetFonts(CString(L"abc"), 1, CString(L"T1"), fonts, codebar, vartext, 1, 0, false), 1);
    EXPECT_EQ(t->GetFontType(), 1);
    EXPECT_EQ(t->GetChars().size(), 3u);
    EXPECT_NEAR(t->GetPosRefPoint(0).x, ref.x, 1e-3);
    EXPECT_NEAR(t->GetPosRefPoint(0).y, ref.y, 1e-3);
    EXPECT_EQ(Boxes(), 0u);
    ASSERT_EQ(t->SetFonts(CString(L"abc"), 1, CString(L"Gone"), fonts, codebar, vartext, 1, 0, false), 1);
    EXPECT_EQ(t->GetFontType(), 0);
    EXPECT_EQ(t->GetChars().size(), 3u);
    EXPECT_FALSE(t->GetChars()[2]->points.empty());
    EXPECT_TRUE(t->IsRecording());
    EXPECT_EQ(Boxes(), 1u);
}

TEST_F(ShxTest, DxfTextsUseTheSingleLineFontWhenItIsThere) {
    const std::string dxf =
        "0\nSECTION\n2\nENTITIES\n0\nTEXT\n8\n0\n10\n1\n20\n2\n40\n5\n41\n0.5\n1\naa\n0\nENDSEC\n0\nEOF\n";
    std::ofstream(dir.File("t.dxf"), std::ios::binary) << dxf;
    auto import = [&]() {
        CGroupShape group;
        std::string path = dir.File("t.dxf");
        CDrawDxfEntity builder;
        builder.InitPara(path.data(), &group, false, true);
        EXPECT_EQ(group.GetChildren().size(), 1u);
        auto* text = group.GetChildren().empty() ? nullptr : dynamic_cast<CFonts*>(group.GetChildren()[0]);
        Gdiplus::RectF r;
        const int type = text != nullptr ? text->GetFontType() : -1;
        if (text != nullptr) text->GetRectangle(r);
        group.FreeShapePtr();
        return std::make_pair(type, r);
    };
    EXPECT_EQ(import().first, 0);
    WriteStandardFonts();
    Font cad(kShapes);
    AddLatinSample(cad, kCell).Write(FontFile("CADSLDXJ.shx"));
    const auto [type, r] = import();
    EXPECT_EQ(type, 1);
    // 5 high on its baseline at (1, 2); two cells at half width: 2.5 + 2.5.
    EXPECT_NEAR(r.X, 1, 1e-3);
    EXPECT_NEAR(r.Y, 7, 1e-3);
    EXPECT_NEAR(r.Height, 5, 1e-3);
    EXPECT_NEAR(r.Width, 5, 1e-3);
}

}  // namespace
