// The TrueType text shape: layout against FreeType's own reading of the
// face, placement, transforms kept through a new layout, saving, fills.
#include <gtest/gtest.h>

#include <functional>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include "morvik/compose/filledshape.h"
#include "morvik/core/runlog.h"
#include "morvik/core/shapelist.h"
#include "support/shape_support.h"
#include "morvik/text/fonts.h"
#include "morvik/text/vartext.h"
#include "text/text_test_util.h"

namespace {

const char* const kSansFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// FreeType's reading of one glyph of DejaVu Sans, in em units.
struct GlyphBox {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0, advance = 0;
};

GlyphBox ReadGlyph(wchar_t c) {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    GlyphBox box;
    if (FT_Init_FreeType(&lib) != 0) return box;
    if (FT_New_Face(lib, kSansFile, 0, &face) == 0) {
        if (FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) == 0) {
            const double em = face->units_per_EM;
            FT_BBox b;
            FT_Outline_Get_CBox(&face->glyph->outline, &b);
            box = {b.xMin / em, b.xMax / em, b.yMin / em, b.yMax / em, face->glyph->advance.x / em};
        }
        FT_Done_Face(face);
    }
    FT_Done_FreeType(lib);
    return box;
}

using text_test::FreeText;
using text_test::TextPtr;

TextPtr MakeText(const wchar_t* text, tagPOINTF at, int align = 0, double height = 10.0, double width = 45.8,
                 const wchar_t* face = L"DejaVu Sans") {
    TextPtr t(new CFonts());
    t->parFonts.dHeight = height;
    t->parFonts.dWidthRatio = width;
    t->parFonts.nAlign = align;
    t->InitFontsPath(at, CString(text), CString(face), false);
    return t;
}

Gdiplus::RectF Rect(CBaseShape& s) {
    Gdiplus::RectF r = testsupport::RectOf(s);
    return r;
}

Gdiplus::RectF CharRect(CFonts& t, size_t i) { return CBaseShape::CalculateRectangle(t.GetChars().at(i)->points); }

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("morvik-text-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        m_saved = RunLog::Instance(nullptr)->GetLogFolder();
        RunLog::Instance(nullptr)->SetLogFolder(CString((m_dir.string() + "/").c_str()));
    }
    void TearDown() override {
        RunLog::Instance(nullptr)->SetLogFolder(m_saved);
        std::filesystem::remove_all(m_dir);
    }
    std::filesystem::path m_dir;
    CString m_saved;
};

TEST_F(TextTest, OutlinesFollowTheFaceAtTheGivenHeight) {
    const GlyphBox i = ReadGlyph(L'I');
    ASSERT_GT(i.advance, 0);
    // Height 10 and width 45.8: one em is 10 mm, the face's own proportions.
    TextPtr t = MakeText(L"II", {20, 30});
    ASSERT_EQ(t->GetChars().size(), 2u);
    const Gdiplus::RectF a = CharRect(*t, 0), b = CharRect(*t, 1);
    EXPECT_NEAR(a.Width, (i.xMax - i.xMin) * 10, 0.01);
    EXPECT_NEAR(a.Height, (i.yMax - i.yMin) * 10, 0.01);
    EXPECT_NEAR(b.X - a.X, i.advance * 10, 0.01);
    // Left alignment: the text's left-top corner on the point.
    const Gdiplus::RectF r = Rect(*t);
    EXPECT_NEAR(r.X, 20, 0.01);
    EXPECT_NEAR(r.Y, 30, 0.01);

    // Height 5, doubled width factor: x scales by 1, y by 0.5.
    TextPtr wide = MakeText(L"II", {0, 0}, 0, 5.0, 91.6);
    EXPECT_NEAR(CharRect(*wide, 0).Width, (i.xMax - i.xMin) * 10, 0.01);
    EXPECT_NEAR(CharRect(*wide, 0).Height, (i.yMax - i.yMin) * 5, 0.01);
}

TEST_F(TextTest, AlignmentPlacesTheTextAndItsLines) {
    TextPtr centre = MakeText(L"AB", {50, 10}, 1);
    Gdiplus::RectF r = Rect(*centre);
    EXPECT_NEAR(r.X + r.Width / 2, 50, 0.01);
    EXPECT_NEAR(r.Y, 10, 0.01);
    TextPtr right = MakeText(L"AB", {50, 10}, 2);
    r = Rect(*right);
    EXPECT_NEAR(r.X + r.Width, 50, 0.01);

    // Two lines, centred on each other, one line height (10 mm) apart.
    TextPtr two = MakeText(L"A\nBB", {0, 0}, 1);
    ASSERT_EQ(two->GetChars().size(), 3u);
    const Gdiplus::RectF a = CharRect(*two, 0);
    const Gdiplus::RectF b1 = CharRect(*two, 1), b2 = CharRect(*two, 2);
    EXPECT_NEAR(a.X + a.Width / 2, (b1.X + b2.X + b2.Width) / 2, 0.05);
    EXPECT_NEAR(a.Y - a.Height, b1.Y - b1.Height + 10, 0.05);  // baselines 10 apart

    // A face that is not installed falls back to one that is.
    TextPtr missing = MakeText(L"AB", {0, 0}, 0, 10, 45.8, L"No Such Face 42");
    TextPtr sans = MakeText(L"AB", {0, 0});
    ASSERT_EQ(missing->GetChars().size(), 2u);
    EXPECT_EQ(missing->GetChars()[1]->points.size(), sans->GetChars()[1]->points.size());
}

TEST_F(TextTest, NewLayoutKeepsRecordedTransformsAndTheReferencePoint) {
    TextPtr t = MakeText(L"AB", {10, 10});
    t->Rotate(30, {10, 10});
    t->Move(5, -2);
    t->Mirror({0, 0}, 1);
    EXPECT_EQ(t->GetModifyList().size(), 3u);
    std::vector<tagPOINTF> before = testsupport::Flattened(*t, 0.01f);

    TextContent tc(t.get());
    ASSERT_EQ(t->SetFonts(tc.text, tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
    std::vector<tagPOINTF> after = testsupport::Flattened(*t, 0.01f);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_NEAR(after[i].x, before[i].x, 0.01) << i;
        EXPECT_NEAR(after[i].y, before[i].y, 0.01) << i;
    }
    EXPECT_TRUE(t->IsRecording());
    EXPECT_EQ(t->GetModifyList().size(), 3u);

    // A longer text keeps the reference point where it was.
    const tagPOINTF ref = t->GetPosRefPoint(0);
    ASSERT_EQ(t->SetFonts(CString(L"ABCD"), tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
    const tagPOINTF now = t->GetPosRefPoint(0);
    EXPECT_NEAR(now.x, ref.x, 0.01);
    EXPECT_NEAR(now.y, ref.y, 0.01);
    EXPECT_EQ(t->GetChars().size(), 4u);

    // A placed text keeps its height through its first slant.
    TextPtr placed = MakeText(L"AB", {0, 0}, 0, 12.0);
    placed->Slope({0, 0}, 0.2, 0);
    EXPECT_NEAR(placed->parFonts.dHeight, 12.0, 0.01);

    // A single-line font that is not there: the text is laid out in
    // TrueType instead and stays a TrueType text.
    const size_t points = after.size();
    EXPECT_EQ(t->SetFonts(CString(L"XYZ"), 1, CString(L"nofont"), tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
    EXPECT_EQ(t->GetText(), CString(L"XYZ"));
    EXPECT_EQ(t->GetFontType(), 0);
    EXPECT_EQ(t->GetChars().size(), 3u);
    EXPECT_TRUE(t->IsRecording());
    EXPECT_GT(points, 0u);
}

// Uneven zooms about a point off the text: each axis takes its own factor
// (the rectangle, the accumulated scale, the height and width ratio of the
// font record), and a new layout with the parameters so changed keeps the
// zoomed size.
TEST_F(TextTest, UnevenZoomsScaleEachAxisByItsOwnFactor) {
    const tagPOINTF c{7.5f, -3.25f};
    for (const auto& [sx, sy] : {std::pair{2.0, 3.0}, std::pair{3.0, 2.0}}) {
        SCOPED_TRACE(sx);
        TextPtr t = MakeText(L"Hq", {1, 4});
        const Gdiplus::RectF r0 = Rect(*t);
        const double scaleX = t->parFonts.dScaleX, scaleY = t->parFonts.dScaleY;
        t->Zoom(c, sx, sy);
        const Gdiplus::RectF r1 = Rect(*t);
        EXPECT_NEAR(r1.Width, r0.Width * sx, 0.01);
        EXPECT_NEAR(r1.Height, r0.Height * sy, 0.01);
        EXPECT_NEAR(r1.X, c.x + (r0.X - c.x) * sx, 0.01);
        EXPECT_NEAR(r1.Y, c.y + (r0.Y - c.y) * sy, 0.01);
        EXPECT_DOUBLE_EQ(t->parFonts.dScaleX, scaleX * sx);
        EXPECT_DOUBLE_EQ(t->parFonts.dScaleY, scaleY * sy);
        EXPECT_NEAR(t->parFonts.dHeight, 10.0 * sy, 1e-3);
        EXPECT_NEAR(t->parFonts.dWidthRatio, 45.8 * sx / sy, 1e-3);

        TextContent tc(t.get());
        ASSERT_EQ(t->SetFonts(tc.text, tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
        const Gdiplus::RectF r2 = Rect(*t);
        EXPECT_NEAR(r2.Width, r1.Width, 0.02);
        EXPECT_NEAR(r2.Height, r1.Height, 0.02);
    }
}

// Every hatch line of a filled text lies inside its letters, never in a
// counter.
TEST_F(TextTest, FilledTextHatchStaysInsideTheLetters) {
    TextPtr t = MakeText(L"AB8@", {0, 0});
    FILLED_PARS fill = testsupport::Hatch(0.2);
    fill.fillParams[0].bWholeConsider = 0;
    t->SetFill(fill, false);
    ASSERT_EQ(t->bFilled, 1);
    ASSERT_EQ(t->GetFills().size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        std::vector<std::vector<tagPOINTF>> outline;
        int count = -1;
        t->GetCharFlattenPathArrays(static_cast<int>(k), outline, count, 0.01f, PT_ALL);
        ASSERT_EQ(t->GetCharFlattenPathArrays(static_cast<int>(k), outline, count, 0.01f, PT_ALL), 0);
        auto inside = [&](double x, double y) {
            bool in = false;
            for (const auto& p : outline)
                for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
                    if ((p[i].y > y) != (p[j].y > y) && x < (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
                        in = !in;
            return in;
        };
        Gdiplus::GraphicsPath* hatch = t->GetFills()[k]->GetFillPathOf(0);
        const auto& pts = hatch->PathPoints();
        const auto& types = hatch->PathTypes();
        ASSERT_GT(pts.size(), 10u) << k;
        for (size_t i = 1; i < pts.size(); ++i) {
            if ((types[i] & 0x07) == 0) continue;
            const double x = (pts[i].X + pts[i - 1].X) / 2, y = (pts[i].Y + pts[i - 1].Y) / 2;
            EXPECT_TRUE(inside(x, y)) << "char " << k << " at " << x << "," << y;
        }
    }
    // A move carries the fills along; a new layout refills and frees the old
    // outlines.
    t->Move(3, 4);
    TextContent tc(t.get());
    ASSERT_EQ(t->SetFonts(CString(L"AB"), tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
    EXPECT_EQ(t->GetFills().size(), 2u);
    EXPECT_GT(t->GetFills()[0]->GetFillPathOf(0)->GetPointCount(), 0);
}

// A new pen reaches the hatch: every path the filled text marks, outlines
// and hatch, carries it, and copies and transforms keep it.
TEST_F(TextTest, NewPenReachesTheHatchOfAFilledText) {
    TextPtr t = MakeText(L"O", {2, 3});
    FILLED_PARS fill = testsupport::Hatch(0.5);
    fill.fillParams[0].nPenNum = 5;
    t->SetFill(fill, false);
    ASSERT_EQ(t->bFilled, 1);
    t->SetPen(7);
    auto pens = [](CBaseShape& s) {
        tagMarkDataPar data;
        EXPECT_TRUE(s.GetMarkData(data, nullptr));
        std::set<int> seen;
        for (const auto* list : {&data.arrPaths, &data.arrPaths2})
            for (const tagPathData& p : *list) seen.insert(p.nPenIndex);
        return seen;
    };
    EXPECT_EQ(pens(*t), std::set<int>{7});
    TextPtr copy(static_cast<CFonts*>(t->Clone()));
    t->Zoom({0, 0}, 2, 2);
    t->Rotate(30, {1, 1});
    EXPECT_EQ(pens(*t), std::set<int>{7});
    EXPECT_EQ(pens(*copy), std::set<int>{7});
}

TEST_F(TextTest, SaveReadSaveGivesTheSameBytes) {
    TextPtr t = MakeText(L"Ag", {5, 5});
    testsupport::FillWith(*t, testsupport::Hatch(0.5));
    t->Rotate(15, {0, 0});
    auto save = [&](CBaseShape* shape, const std::filesystem::path& file) {
        std::list<CBaseShape*> records;
        shape->SaveShapeChild(nullptr, records);
        EXPECT_TRUE(CVonnSriShapeList(&records).SaveList(file.wstring().c_str()));
        return testsupport::ReadAll(file);
    };
    const std::string first = save(t.get(), m_dir / "a.orzx");
    std::list<CBaseShape*> back;
    ASSERT_TRUE(CVonnSriShapeList(&back).LoadList((m_dir / "a.orzx").wstring().c_str()));
    ASSERT_EQ(back.size(), 1u);
    TextPtr read(dynamic_cast<CFonts*>(back.front()));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetText(), CString(L"Ag"));
    EXPECT_EQ(read->GetChars().size(), 2u);
    ASSERT_EQ(read->GetFills().size(), 2u);
    EXPECT_EQ(read->GetFills()[0]->GetFillPathOf(0)->GetPointCount(),
              t->GetFills()[0]->GetFillPathOf(0)->GetPointCount());
    const std::string second = save(read.get(), m_dir / "b.orzx");
    EXPECT_EQ(first, second);
}

// An unfilled text saves only the character fills the load could not make
// again; one whose own settings differ, in the record or beside it, is kept.
TEST_F(TextTest, ACharacterFillWithSettingsOfItsOwnIsSaved) {
    const std::function<void(FILLED_PARS&)> tweaks[] = {
        [](FILLED_PARS& p) { p.bDelUngroup = 0; },
        [](FILLED_PARS& p) { p.bKeepSeperate = 1; },
        [](FILLED_PARS& p) { p.fillParams[2].fAngle = 33.0; },
    };
    for (size_t k = 0; k < std::size(tweaks); ++k) {
        SCOPED_TRACE(k);
        TextPtr t = MakeText(L"Agx", {5, 5});
        ASSERT_EQ(t->GetFills().size(), 3u);
        FILLED_PARS own = t->GetFills()[1]->GetFillParam();
        tweaks[k](own);
        t->GetFills()[1]->SetParam(own);
        std::list<CBaseShape*> records;
        t->SaveShapeChild(nullptr, records);
        ASSERT_TRUE(CVonnSriShapeList(&records).SaveList((m_dir / "own.orzx").wstring().c_str()));
        std::list<CBaseShape*> back;
        ASSERT_TRUE(CVonnSriShapeList(&back).LoadList((m_dir / "own.orzx").wstring().c_str()));
        ASSERT_EQ(back.size(), 1u);
        TextPtr read(dynamic_cast<CFonts*>(back.front()));
        ASSERT_TRUE(read);
        ASSERT_EQ(read->GetFills().size(), 3u);
        const FILLED_PARS got = read->GetFills()[1]->GetFillParam();
        EXPECT_EQ(got.bDelUngroup, own.bDelUngroup);
        EXPECT_EQ(got.bKeepSeperate, own.bKeepSeperate);
        EXPECT_EQ(got.fillParams[2].fAngle, own.fillParams[2].fAngle);
    }
}

// The frame as the formula builds it from a rectangle (X, Y the top-left
// corner, y up): a horizontal line half a height above the top edge and a
// vertical line from one height above it down to it.
std::vector<tagPOINTF> FormulaFrame(const Gdiplus::RectF& r) {
    return {{r.X, r.Y + r.Height / 2},
            {r.X + r.Width, r.Y + r.Height / 2},
            {r.X + r.Width / 2, r.Y + r.Height},
            {r.X + r.Width / 2, r.Y}};
}

std::vector<tagPOINTF> AllPoints(CFonts& t) {
    std::vector<tagPOINTF> out;
    for (FONTSCHAR* ch : t.GetChars()) out.insert(out.end(), ch->points.begin(), ch->points.end());
    return out;
}

void ExpectSamePoints(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b, double tol = 1e-3) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, tol) << i;
        EXPECT_NEAR(a[i].y, b[i].y, tol) << i;
    }
}

struct Params : TextContent {
    explicit Params(CFonts& t) : TextContent(&t) {}
    int Set(CFonts& t, const wchar_t* s) { return t.SetFonts(CString(s), type, face, fonts, codebar, vartext, 1, 0, false); }
};

TEST_F(TextTest, FrameFollowsItsFormulaAndARelayoutMovesNothing) {
    for (const wchar_t* text : {L"AB", L" AB", L"A\nBB", L"  x"}) {
        for (int refPos = 0; refPos < 3; ++refPos) {
            SCOPED_TRACE(testing::Message() << "ref " << refPos << " text " << CString(text).GetLength());
            TextPtr t = MakeText(text, {10, 20}, refPos, 7.0, 40.0);
            t->parFonts.nRefPos = refPos;
            const Gdiplus::RectF r = Rect(*t);
            const std::vector<tagPOINTF> want = FormulaFrame(r);
            ASSERT_EQ(t->GetFrame().size(), 4u);
            for (size_t k = 0; k < 4; ++k) {
                EXPECT_NEAR(t->GetFrame()[k].x, want[k].x, 1e-3) << k;
                EXPECT_NEAR(t->GetFrame()[k].y, want[k].y, 1e-3) << k;
            }
            // The reference points are the top corners and the top centre.
            const tagPOINTF ref = t->GetPosRefPoint(refPos);
            EXPECT_NEAR(ref.x, r.X + r.Width * refPos / 2, 1e-3);
            EXPECT_NEAR(ref.y, r.Y, 1e-3);

            // The same string again: every point stays.
            const std::vector<tagPOINTF> before = AllPoints(*t);
            Params p(*t);
            ASSERT_EQ(p.Set(*t, text), 1);
            ExpectSamePoints(AllPoints(*t), before);

            // A longer, two-line text keeps the reference point and grows
            // downward.
            ASSERT_EQ(p.Set(*t, L"ABCDE\nFGH\nIJ"), 1);
            const Gdiplus::RectF grown = Rect(*t);
            EXPECT_NEAR(grown.Y, r.Y, 1e-3);
            EXPECT_NEAR(grown.X + grown.Width * refPos / 2, r.X + r.Width * refPos / 2, 1e-3);
            EXPECT_GT(grown.Height, r.Height + 5);
        }
    }
}

TEST_F(TextTest, FramesSavedInTheOlderFormStillPlaceTheirTexts) {
    auto save = [&](CBaseShape* shape, const std::filesystem::path& file) {
        shape->UpdatePropsValue();
        std::list<CBaseShape*> records;
        shape->SaveShapeChild(nullptr, records);
        EXPECT_TRUE(CVonnSriShapeList(&records).SaveList(file.wstring().c_str()));
    };
    auto load = [&](const std::filesystem::path& file) {
        std::list<CBaseShape*> back;
        EXPECT_TRUE(CVonnSriShapeList(&back).LoadList(file.wstring().c_str()));
        EXPECT_EQ(back.size(), 1u);
        return TextPtr(back.empty() ? nullptr : dynamic_cast<CFonts*>(back.front()));
    };
    for (int old = 0; old < 2; ++old) {
        SCOPED_TRACE(old);
        TextPtr t = MakeText(L"Hello\nworld", {5, 5});
        const Gdiplus::RectF r = Rect(*t);
        if (old != 0) {
            // The older frame: one text height lower, its lines crossing in
            // the middle of the text.
            t->GetFrame() = {{r.X, r.Y - r.Height / 2},
                             {r.X + r.Width, r.Y - r.Height / 2},
                             {r.X + r.Width / 2, r.Y},
                             {r.X + r.Width / 2, r.Y - r.Height}};
        }
        // Edits made before the save apply to outline and frame alike.
        t->Slope({0, 0}, 0.2, 0);
        t->Rotate(30, {0, 0});
        t->Mirror({1, 1}, 2);
        const std::vector<tagPOINTF> shown = AllPoints(*t);
        std::vector<tagPOINTF> corner{{r.X, r.Y}};
        corner[0] = CBaseShape::PointfSlope(corner[0], 0.2, 0, {0, 0});
        corner[0] = CBaseShape::PointfRotate(corner[0], {0, 0}, 30);
        corner[0] = {corner[0].x, 2 - corner[0].y};
        const auto file = m_dir / (old != 0 ? "old.orzx" : "new.orzx");
        save(t.get(), file);

        TextPtr read = load(file);
        ASSERT_TRUE(read);
        ExpectSamePoints(AllPoints(*read), shown, 1e-4);
        const tagPOINTF ref = read->GetPosRefPoint(0);
        EXPECT_NEAR(ref.x, corner[0].x, 1e-3);
        EXPECT_NEAR(ref.y, corner[0].y, 1e-3);
        Params p(*read);
        ASSERT_EQ(p.Set(*read, L"Hello\nworld"), 1);
        ExpectSamePoints(AllPoints(*read), shown, 2e-3);
    }
    // A damaged file with a point or frame that is not finite: the
    // character loses its outline, the frame goes, and nothing else.
    TextPtr t = MakeText(L"AB", {0, 0});
    const std::vector<tagPOINTF> second = t->GetChars()[1]->points;
    t->GetChars()[0]->points[3].y = NAN;
    t->GetFrame()[2].x = INFINITY;
    save(t.get(), m_dir / "nan.orzx");
    TextPtr read = load(m_dir / "nan.orzx");
    ASSERT_TRUE(read);
    ASSERT_EQ(read->GetChars().size(), 2u);
    EXPECT_TRUE(read->GetChars()[0]->points.empty());
    EXPECT_EQ(read->GetChars()[1]->points, second);
    EXPECT_TRUE(read->GetFrame().empty());
}

TEST_F(TextTest, VariableTextKeepsItsFixedWidthThroughZooms) {
    for (int byY = 0; byY < 2; ++byY) {
        SCOPED_TRACE(byY);
        TextPtr t = MakeText(L"X", {0, 0});
        Params p(*t);
        auto element = std::make_shared<TEXT_ELEMENT>();
        element->m_strText = L"ABC12";
        element->advPar.bFixWidth = 1;
        element->advPar.fCharWidth = 30.0f;
        p.vartext.bEnable = 1;
        p.vartext.arrElements = {element};
        p.fonts.bVarWidthByY = byY;
        ASSERT_EQ(t->SetFonts(CString(L"X"), 0, p.face, p.fonts, p.codebar, p.vartext, 1, 1, false), 1);
        EXPECT_EQ(t->GetText(), CString(L"ABC12"));
        Gdiplus::RectF r = Rect(*t);
        EXPECT_NEAR(r.Width, 30.0, 1e-3);
        const float left = r.X, top = r.Y;
        // Zoomed 1.5 across and 0.5 down: the width the element holds
        // follows the factor the font record names, and a new layout of
        // the next value comes out that wide.
        t->Zoom({left, top}, 1.5, 0.5);
        const double want = byY != 0 ? 30.0 * 0.5 : 30.0 * 1.5;
        EXPECT_NEAR(element->advPar.fCharWidth, want, 1e-3);
        element->m_strText = L"ABC13";
        ASSERT_EQ(t->SetFonts(CString(L"X"), 0, p.face, t->parFonts, p.codebar, p.vartext, 1, 1, false), 1);
        r = Rect(*t);
        EXPECT_NEAR(r.Width, want, 1e-3);
        EXPECT_NEAR(r.X, left, 1e-3);
        EXPECT_NEAR(r.Y, top, 1e-3);
    }
}

TEST_F(TextTest, BrowalliaKeepsItsFiguresOnOneLine) {
    // "1" in this face stands 0.1565 of its height off the line: a text
    // that gains a "1" goes down by that much against its bottom edge, one
    // that loses it goes up, and two texts that both hold one stay on
    // their bottom edge.
    TextPtr t = MakeText(L"2", {0, 0}, 0, 10.0, 45.8, L"BrowalliaIT9");
    Params p(*t);
    auto bottom = [&] {
        const Gdiplus::RectF r = Rect(*t);
        return static_cast<double>(r.Y - r.Height);
    };
    auto oneHeight = [&] {
        for (FONTSCHAR* ch : t->GetChars())
            if (ch->text == CString(L"1")) return static_cast<double>(CBaseShape::CalculateRectangle(ch->points).Height);
        return 0.0;
    };
    const double start = bottom();
    ASSERT_EQ(p.Set(*t, L"1"), 1);
    const double h = oneHeight();
    ASSERT_GT(h, 1.0);
    EXPECT_NEAR(bottom(), start - 0.1565 * h, 1e-3);
    ASSERT_EQ(p.Set(*t, L"12"), 1);
    EXPECT_NEAR(bottom(), start - 0.1565 * h, 1e-3);
    ASSERT_EQ(p.Set(*t, L"2"), 1);
    EXPECT_NEAR(bottom(), start, 1e-3);
}

TEST_F(TextTest, UnusableNumbersAreRefusedAndNothingIsLost) {
    testsupport::HostScope host;
    const double bad[] = {NAN, INFINITY, -INFINITY, 1e39, 0.0, -5.0};
    using Set = void (*)(FONTS_PAR&, double);
    const std::pair<const char*, Set> fields[] = {
        {"height", [](FONTS_PAR& f, double v) { f.dHeight = v; }},
        {"width", [](FONTS_PAR& f, double v) { f.dWidthRatio = v; }},
        {"slant", [](FONTS_PAR& f, double v) { f.dSlantAngle = v == 0.0 || v == -5.0 ? 135.0 : v; }},
        {"char space", [](FONTS_PAR& f, double v) { f.dCharSpace = v == 0.0 || v == -5.0 ? NAN : v; }},
        {"line space", [](FONTS_PAR& f, double v) { f.dLineSpace = v == 0.0 || v == -5.0 ? NAN : v; }},
        {"char width", [](FONTS_PAR& f, double v) { f.dFixCharWidth = v == 0.0 || v == -5.0 ? NAN : v; }},
        {"spacing", [](FONTS_PAR& f, double v) { f.fSpacing = static_cast<float>(v == 0.0 || v == -5.0 ? NAN : v); }},
    };
    for (int type : {0, 1, 3}) {
        for (int arc = 0; arc < 2; ++arc) {
            TextPtr t = MakeText(L"AB", {3, 4});
            t->dRad = 20;
            Params p(*t);
            p.fonts.bPathText = arc;
            ASSERT_EQ(t->SetFonts(CString(L"AB"), type, CString(L"DejaVu Sans"), p.fonts, p.codebar, p.vartext, 1, 0,
                                  false),
                      1);
            const std::vector<tagPOINTF> before = AllPoints(*t);
            const std::vector<tagPOINTF> frame = t->GetFrame();
            FONTS_PAR kept = t->parFonts;
            ASSERT_FALSE(before.empty());
            for (const auto& [name, set] : fields) {
                for (double v : bad) {
                    SCOPED_TRACE(testing::Message() << "type " << type << " arc " << arc << " " << name << " " << v);
                    FONTS_PAR f = kept;
                    set(f, v);
                    const size_t boxes = host.Texts().size();
                    EXPECT_EQ(t->SetFonts(CString(L"CDE"), type, CString(L"DejaVu Sans"), f, p.codebar, p.vartext, 1,
                                          0, true),
                              0);
                    EXPECT_EQ(host.Texts().size(), boxes + 1);
                    EXPECT_EQ(t->GetText(), CString(L"AB"));
                    EXPECT_EQ(t->parFonts.dHeight, kept.dHeight);
                    EXPECT_EQ(AllPoints(*t), before);
                    EXPECT_EQ(t->GetFrame(), frame);
                }
            }
            // The arc itself: a radius or centre no circle has.
            if (arc != 0) {
                for (double r : {double(NAN), double(INFINITY), 1e39, 0.0}) {
                    t->dRad = r;
                    EXPECT_EQ(t->SetFonts(CString(L"CDE"), type, CString(L"DejaVu Sans"), kept, p.codebar, p.vartext,
                                          1, 0, false),
                              0);
                    EXPECT_EQ(AllPoints(*t), before);
                }
                t->dRad = 20;
                t->ptCenter = {NAN, 0};
                EXPECT_EQ(t->SetFonts(CString(L"CDE"), type, CString(L"DejaVu Sans"), kept, p.codebar, p.vartext, 1,
                                      0, false),
                          0);
                EXPECT_EQ(AllPoints(*t), before);
            }
        }
    }
    // A position no number can reach (a hostile file) lays out nothing
    // either.
    TextPtr lost = MakeText(L"AB", {0, 0});
    const std::vector<tagPOINTF> kept = AllPoints(*lost);
    lost->fontspos = {NAN, 0};
    Params lp(*lost);
    EXPECT_EQ(lp.Set(*lost, L"CD"), 0);
    EXPECT_EQ(AllPoints(*lost), kept);
    // Transforms with such numbers change nothing and record nothing.
    TextPtr moved = MakeText(L"AB", {0, 0});
    // So do those whose numbers are finite but whose result is not: the
    // first zoom by 1e30 stays within float, the second would not.
    ASSERT_NE(moved->Zoom({3, -2}, 1e30, 1e30), CBaseShape::kRefused);
    ASSERT_TRUE(moved->Zoom({3, -2}, 1e-30, 1e-30) != CBaseShape::kRefused);
    const std::vector<tagPOINTF> back = AllPoints(*moved);
    const size_t records = moved->GetModifyList().size();
    moved->Zoom({3, -2}, 1e30, 1e30);
    const std::vector<tagPOINTF> huge = AllPoints(*moved);
    const size_t hugeRecords = moved->GetModifyList().size();
    EXPECT_EQ(moved->Zoom({0, 0}, 1e30, 1), CBaseShape::kRefused);
    EXPECT_EQ(moved->Move(FLT_MAX, 0), CBaseShape::kRefused);
    EXPECT_EQ(moved->Slope({0, 0}, 1.5707963, 0), CBaseShape::kRefused);
    EXPECT_EQ(AllPoints(*moved), huge);
    EXPECT_EQ(moved->GetModifyList().size(), hugeRecords);
    moved->Zoom({3, -2}, 1e-30, 1e-30);
    for (size_t i = 0; i < back.size(); ++i) EXPECT_NEAR(AllPoints(*moved)[i].x, back[i].x, 1e-3);
    EXPECT_GE(moved->GetModifyList().size(), records);
    TextPtr plain = MakeText(L"AB", {0, 0});
    const std::vector<tagPOINTF> still = AllPoints(*plain);
    EXPECT_EQ(plain->Move(NAN, 1), CBaseShape::kRefused);
    EXPECT_EQ(plain->Rotate(INFINITY, {0, 0}), CBaseShape::kRefused);
    EXPECT_EQ(plain->Zoom({0, 0}, NAN, 1), CBaseShape::kRefused);
    EXPECT_EQ(plain->Slope({0, 0}, NAN, 0), CBaseShape::kRefused);
    EXPECT_EQ(plain->Mirror({NAN, 0}, 1), CBaseShape::kRefused);
    EXPECT_EQ(AllPoints(*plain), still);
    EXPECT_TRUE(plain->GetModifyList().empty());
    // A new text placed with such numbers is not laid out at all.
    TextPtr fresh(new CFonts());
    fresh->parFonts.dHeight = NAN;
    fresh->InitFontsPath({0, 0}, CString(L"AB"), CString(L"DejaVu Sans"), false);
    EXPECT_TRUE(fresh->GetChars().empty());
}

}  // namespace
