// Texts inside groups and overlays: a filled text is listed whole, an
// unfilled one as its outlines; an overlay takes a text's fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/compose/overlay.h"
#include "compose_test_util.h"
#include "morvik/text/fonts.h"
#include "text/text_test_util.h"
#include "support/shape_support.h"

using compose_test::Poly;

namespace {

CFonts* NewText(const wchar_t* content, tagPOINTF at, double fillSpacing = 0) {
    auto* t = new CFonts();
    t->InitFontsPath(at, CString(content), CString(L"DejaVu Sans"), false);
    if (fillSpacing > 0) {
        testsupport::FillWith(*t, testsupport::Hatch(fillSpacing));
    }
    return t;
}

using testsupport::FreeShape;
using Owned = std::unique_ptr<CBaseShape, FreeShape>;

class TextListings : public ::testing::Test {
protected:
    text_test::TempRunLog m_log{"textlist"};
};

// The outline pieces of an unfilled "OI": the two figures of the O and the
// I, each a closed curve within the text's rectangle.
void ExpectOutlinesOf(CFonts* text, const std::vector<CBaseShape*>& pieces) {
    ASSERT_EQ(pieces.size(), 3u);
    Gdiplus::RectF all = testsupport::RectOf(*text);
    Gdiplus::RectF got;
    bool have = false;
    for (CBaseShape* piece : pieces) {
        ASSERT_EQ(piece->GetShapeKind(), SHAPE_BEZIER);
        Gdiplus::RectF r = testsupport::RectOf(*piece);
        shape_container::UniteRect(got, have, r);
    }
    testsupport::ExpectRect(got, all.X, all.Y, all.Width, all.Height, 0.01);
}

TEST_F(TextListings, FilledTextsAreListedWholeUnfilledOnesAsOutlines) {
    CGroupShape group;
    CPolyLine* line = Poly({{0, 0}, {1, 1}});
    CFonts* plain = NewText(L"OI", {0, 0});
    CFonts* filled = NewText(L"OI", {0, 20}, 0.5);
    group.GetChildren() = {line, plain, filled};

    std::vector<CBaseShape*> list;
    group.GetBasicShapeList(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list.front(), line);
    EXPECT_EQ(list.back(), filled);
    ExpectOutlinesOf(plain, {list.begin() + 1, list.end() - 1});
    EXPECT_EQ(group.GetSourceIndexMap()[list[2]], 1);
    EXPECT_EQ(group.GetSourceIndexMap()[filled], 2);
    // A second listing frees the outlines of the first (the leak checker
    // watches); the group frees the last ones when it goes.
    group.GetBasicShapeList(list);
    ASSERT_EQ(list.size(), 5u);

    std::vector<CBaseShape*> created{line};  // never emptied
    group.GetBasicShapeList2(list, created);
    ASSERT_EQ(created.size(), 4u);
    EXPECT_TRUE(std::equal(created.begin() + 1, created.end(), list.begin() + 1));
    ExpectOutlinesOf(plain, {created.begin() + 1, created.end()});
    for (size_t i = 1; i < created.size(); ++i) delete created[i];

    group.GetNewBasicShapeList(list);
    EXPECT_EQ(list, (std::vector<CBaseShape*>{line, plain, filled}));

    // A text whose fill switch went off while its fill shapes still hold a
    // hatch lists only leaves: the hatch groups give up their lines.
    filled->bFilled = 0;
    created.clear();
    group.GetBasicShapeList2(list, created);
    ASSERT_GT(created.size(), 3u);
    for (CBaseShape* s : created) {
        EXPECT_NE(s->GetShapeKind(), SHAPE_GROUP);
        delete s;
    }
    group.FreeShapePtr();
}

// Text as a subject of an overlay: a plain union gives outlines only, the
// union that keeps the fill refills with the text's parameters.
TEST_F(TextListings, OverlayTakesTheFillOfAFilledText) {
    Owned text(NewText(L"I", {0, 10}, 0.25));
    Owned other(Poly({{-1, 0}, {0.5f, 0}, {0.5f, 12}, {-1, 12}, {-1, 0}}));
    std::vector<CBaseShape*> subjects{text.get()};

    Owned outlines(DoExecuteShapeOverlay(&subjects, other.get(), kOverlayUnion));
    ASSERT_TRUE(outlines);
    EXPECT_EQ(outlines->GetShapeKind(), SHAPE_GROUP);

    for (int op : {0, 4}) {
        Owned fill(DoExecuteShapeOverlay(&subjects, other.get(), op));
        ASSERT_TRUE(fill);
        ASSERT_EQ(fill->GetShapeKind(), SHAPE_FILLED) << op;
        EXPECT_EQ(fill->GetFillParam().fillParams[0].nFillType, 3);
        EXPECT_DOUBLE_EQ(fill->GetFillParam().fillParams[0].fLineSpacing, 0.25);
        // One outline: the text's I and the rectangle overlap into one figure.
        ASSERT_EQ(fill->GetChildren().size(), 1u);
        EXPECT_EQ(fill->GetChildren()[0]->GetChildren().size(), 1u);
    }

    // The last text decides: an unfilled one after it takes the fill away.
    Owned plain(NewText(L"I", {20, 10}));
    subjects.push_back(plain.get());
    Owned unfilled(DoExecuteShapeOverlay(&subjects, other.get(), 0));
    ASSERT_TRUE(unfilled);
    EXPECT_EQ(unfilled->GetShapeKind(), SHAPE_GROUP);
}

// A fill over a text marks each glyph contour as its own closed polyline,
// for a text child and for a text inside a group child: one polyline across
// the letters would burn the jumps between them. DejaVu's "O8 i" has 2 + 3 +
// 0 + 2 contours.
TEST_F(TextListings, FillOutlineOfATextIsOnePolylinePerContour) {
    for (bool inGroup : {false, true}) {
        CFonts* text = NewText(L"O8 i", {0, 0});
        std::vector<Gdiplus::RectF> boxes;
        for (FONTSCHAR* ch : text->GetChars())
            if (ch != nullptr && !ch->points.empty()) boxes.push_back(CBaseShape::CalculateRectangle(ch->points));
        ASSERT_EQ(boxes.size(), 3u);
        CFilledShape fill;
        if (inGroup) {
            auto* group = new CGroupShape();
            group->GetChildren().push_back(text);
            fill.GetChildren().push_back(group);
        } else {
            fill.GetChildren().push_back(text);
        }
        FILLED_PARS par = testsupport::Hatch(0.5);
        par.bOutLine = 1;
        fill.FillShape(par);
        tagMarkDataPar md;
        ASSERT_TRUE(fill.GetMarkData(md, nullptr));
        ASSERT_EQ(md.arrPaths.size(), 1u) << inGroup;
        const auto& lines = md.arrPaths[0].arrPolylines;
        EXPECT_EQ(lines.size(), 7u) << inGroup;
        for (const auto& line : lines) {
            ASSERT_GE(line.size(), 4u);
            EXPECT_FLOAT_EQ(line.front().x, line.back().x);
            EXPECT_FLOAT_EQ(line.front().y, line.back().y);
            // Every polyline stays within one letter.
            const bool inOne = std::any_of(boxes.begin(), boxes.end(), [&line](const Gdiplus::RectF& b) {
                return std::all_of(line.begin(), line.end(), [&b](const tagPOINTF& p) {
                    return p.x >= b.X - 1e-3f && p.x <= b.X + b.Width + 1e-3f && p.y <= b.Y + 1e-3f &&
                           p.y >= b.Y - b.Height - 1e-3f;
                });
            });
            EXPECT_TRUE(inOne) << inGroup;
        }
        fill.FreeShapePtr();
    }
}

}  // namespace
