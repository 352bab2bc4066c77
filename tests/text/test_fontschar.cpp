// Text records: copies and clones of laid-out characters, their saved form,
// and the saved copies of the barcode record.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "morvik/core/srifile.h"
#include "morvik/halder/records.h"
#include "morvik/text/fontschar.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Saves a character list the way a text shape registers it.
struct CharList : SriBase {
    std::vector<FONTSCHAR> chars;
    void AddAllProp(bool extended) override {
        SriBase::AddAllProp(extended);
        AddProp("FONTSCHAR", &chars);
    }
};

template <class R>
Bytes SaveOf(R& record) {
    SriFile out;
    record.Save(false, &out);
    return out.GetWrittenBytes();
}

FONTSCHAR Char(const wchar_t* text, const wchar_t* name) {
    FONTSCHAR c;
    c.text = text;
    c.strName = name;
    c.points = {{1.0f, 2.0f}, {3.0f, 4.0f}};
    c.types = {0, 0x81};
    return c;
}

TEST(FontsChar, CopiesRestoreTheTextFromTheSavedName) {
    FONTSCHAR read;  // as read from a file: only the saved name
    read.strName = L"A";
    FONTSCHAR copy;
    copy = read;
    EXPECT_EQ(copy.text, CString(L"A"));
    EXPECT_EQ(copy.strName, L"A");
    const FONTSCHAR constructed(read);
    EXPECT_EQ(constructed.text, CString(L"A"));

    const FONTSCHAR both = Char(L"B", L"A");
    copy = both;
    EXPECT_EQ(copy.text, CString(L"B"));
    EXPECT_EQ(copy.strName, L"A");
    EXPECT_EQ(copy.points.size(), 2u);
    EXPECT_EQ(copy.types, both.types);

    std::unique_ptr<FONTSCHAR> clone(both.Clone());
    EXPECT_EQ(clone->text, CString(L"B"));
    EXPECT_EQ(clone->strName, L"B");
    clone->points[0].x = 9.0f;
    EXPECT_EQ(both.points[0].x, 1.0f);
}

TEST(FontsChar, CharacterListSavesAndReadsBack) {
    CharList list;
    list.chars = {Char(L"X", L""), Char(L"\u4E2D", L"stale")};
    const Bytes saved = SaveOf(list);

    CharList back;
    SriFile in(saved.data(), saved.size());
    back.Read(false, &in);
    ASSERT_TRUE(in.IsGood());
    ASSERT_EQ(back.chars.size(), 2u);
    // The name follows the text when saved; a copy restores the text.
    std::vector<FONTSCHAR> restored(back.chars.begin(), back.chars.end());
    EXPECT_EQ(restored[0].text, CString(L"X"));
    EXPECT_EQ(restored[1].text, CString(L"\u4E2D"));
    EXPECT_TRUE(restored[1].points.empty()) << "points are the text shape's to save";
    back.chars = restored;
    EXPECT_EQ(SaveOf(back), saved);

    // Every truncation fails cleanly and leaves the list as it was.
    for (size_t n = 0; n < saved.size(); ++n) {
        CharList cut;
        cut.chars = {Char(L"keep", L"")};
        SriFile part(saved.data(), n);
        cut.Read(false, &part);
        EXPECT_FALSE(part.IsGood()) << n;
        ASSERT_EQ(cut.chars.size(), 1u) << n;
        EXPECT_EQ(cut.chars[0].text, CString(L"keep"));
    }
}

TEST(CodebarPar, SavedCopiesFollowTheTexts) {
    CODEBAR_PAR par;
    par.strTextFont = L"DejaVu Sans";
    par.strCustomText = L"(##)##";
    par.parTextFill.fillParams[2].bEnable = 1;
    par.parTextFill.fillParams[2].fLineSpacing = 0.125;
    par.UpdatePropsValue();
    EXPECT_EQ(par.wstrTextFont, L"DejaVu Sans");
    EXPECT_EQ(par.wstrCustomText, L"(##)##");

    const Bytes saved = SaveOf(par);
    CODEBAR_PAR back;
    SriFile in(saved.data(), saved.size());
    back.Read(false, &in);
    ASSERT_TRUE(in.IsGood());
    EXPECT_EQ(back.wstrTextFont, L"DejaVu Sans");
    EXPECT_EQ(back.wstrCustomText, L"(##)##");
    EXPECT_EQ(back.parTextFill.fillParams[2].bEnable, 1);
    EXPECT_EQ(back.parTextFill.fillParams[2].fLineSpacing, 0.125);
    EXPECT_EQ(back.parTextFill.fillParams[1].bEnable, 0);

    // Copies are independent, and arrays of the record free cleanly.
    auto many = std::make_unique<CODEBAR_PAR[]>(3);
    many[1] = par;
    par.strCustomText = L"changed";
    EXPECT_EQ(many[1].strCustomText, CString(L"(##)##"));
}

}  // namespace
