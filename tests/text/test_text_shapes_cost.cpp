// A laid-out text's flattened points and its fill shapes, as the layout
// makes them in bulk: the same points as flattening each character, and the
// same numbering of the fill shapes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/text/fonts.h"
#include "text/text_test_util.h"

namespace {

TEST(TextShapesCost, FlattenedPointsAndFillsMatchTheCharacters) {
    text_test::TempRunLog log("text-cost");
    const int groupsBefore = ShapeCounterOf(SHAPE_GROUP).Peek();
    const int fillsBefore = ShapeCounterOf(SHAPE_FILLED).Peek();
    auto text = std::make_unique<CFonts>();
    text->parFonts.dHeight = 5.0;
    text->InitFontsPath({3, 4}, CString(L"Ag8 @\nBx"), CString(L"DejaVu Sans"), false);
    const auto& chars = text->GetChars();
    ASSERT_EQ(chars.size(), 7u);
    // Every fill shape still takes a group number as well as its own.
    EXPECT_EQ(ShapeCounterOf(SHAPE_GROUP).Peek() - groupsBefore, 7);
    EXPECT_EQ(ShapeCounterOf(SHAPE_FILLED).Peek() - fillsBefore, 7);
    ASSERT_EQ(text->GetFills().size(), 7u);
    for (size_t i = 0; i < chars.size(); ++i) EXPECT_EQ(text->GetFills()[i]->GetCaption(), chars[i]->text);

    // Whole text against each character's own figures (closed ones end on
    // their first point), before and after a turn.
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<tagPOINTF> whole = testsupport::Flattened(*text, 0.01f);
        std::vector<tagPOINTF> each;
        for (size_t i = 0; i < chars.size(); ++i) {
            std::vector<std::vector<tagPOINTF>> figs;
            int count = -1;
            text->GetCharFlattenPathArrays(static_cast<int>(i), figs, count, 0.01f, PT_ALL);
            ASSERT_EQ(text->GetCharFlattenPathArrays(static_cast<int>(i), figs, count, 0.01f, PT_ALL), 0);
            for (const auto& f : figs) {
                if (!f.empty()) {
                    EXPECT_EQ(f.front(), f.back()) << "a glyph outline is closed";
                }
                each.insert(each.end(), f.begin(), f.end());
            }
        }
        ASSERT_GT(whole.size(), 100u);
        ASSERT_EQ(whole.size(), each.size());
        for (size_t k = 0; k < whole.size(); ++k) ASSERT_EQ(whole[k], each[k]) << k;
        text->Rotate(30.0, {0, 0});
    }
}

}  // namespace
