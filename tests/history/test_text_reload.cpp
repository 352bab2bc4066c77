// Texts of every option saved, read back and saved again: the second save is
// the first byte for byte and the text read back marks as the one saved. A
// copy of each saves and marks as its source does (its identities aside).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/halder/textelement.h"
#include "history/saved_compare.h"
#include "history/text_desk.h"
#include "morvik/text/fonts.h"
#include "morvik/core/morvik.h"
#include "morvik/text/mycodebar.h"
#include "text/shx_gen.h"
#include "support/shape_support.h"
#include "text/text_test_util.h"

namespace {

using history_test::Bytes;
using history_test::Desk;
using history_test::Marks;
using history_test::MarksDiffer;

struct Variant {
    std::string name;
    std::wstring text;
    int type = 0;
    std::wstring face = L"DejaVu Sans";
    std::function<void(CFonts&, FONTS_PAR&, CODEBAR_PAR&, VARTEXT_PAR&)> setup;
    std::function<void(CFonts&)> after;
};

using testsupport::Hatch;

std::vector<Variant> Variants() {
    std::vector<Variant> v;
    auto fill = [](CFonts& t) {
        testsupport::FillWith(t, Hatch(0.4, 30, 3));
    };
    auto edits = [](CFonts& t) {
        t.Rotate(20, {1, 2});
        t.Zoom({0, 0}, 1.5, 0.8);
        t.Slope({0, 0}, 0.2, 0);
        t.Mirror({3, 0}, 1);
        t.Move(2.5f, -1.25f);
    };
    v.push_back({"truetype", L"Ag", 0, L"DejaVu Sans", nullptr, nullptr});
    v.push_back({"truetype edited and filled", L"Ag", 0, L"DejaVu Sans",
                 [](CFonts&, FONTS_PAR& f, CODEBAR_PAR&, VARTEXT_PAR&) {
                     f.dSlantAngle = 15;
                     f.bBold = 1;
                 },
                 [=](CFonts& t) {
                     edits(t);
                     fill(t);
                 }});
    v.push_back({"single line", L"K1", 1, L"Simtxt", nullptr, edits});
    v.push_back({"dot matrix", L"12", 3, L"DejaVu Sans", nullptr, edits});
    for (int sw = 0; sw < 8; ++sw) {
        v.push_back({"arc " + std::to_string(sw), L"ARC", 0, L"DejaVu Sans",
                     [sw](CFonts& t, FONTS_PAR& f, CODEBAR_PAR&, VARTEXT_PAR&) {
                         f.bPathText = 1;
                         t.ptCenter = {5, 5};
                         t.dRad = 25;
                         t.SetPathFontPara(60 + 10 * sw, sw % 3 == 0 ? 0 : 90, sw & 1, (sw >> 1) & 1, (sw >> 2) & 1);
                     },
                     sw == 5 ? std::function<void(CFonts&)>(edits) : nullptr});
    }
    v.push_back({"arc single line", L"K1", 1, L"Simtxt",
                 [](CFonts& t, FONTS_PAR& f, CODEBAR_PAR&, VARTEXT_PAR&) {
                     f.bPathText = 1;
                     t.dRad = 20;
                 },
                 nullptr});
    const auto code = [](int id, bool show, bool textFill, bool frame, bool custom) {
        return [=](CFonts&, FONTS_PAR&, CODEBAR_PAR& c, VARTEXT_PAR&) {
            c.nCodeType = id;
            c.bShowText = show ? 1 : 0;
            c.strTextFont = L"DejaVu Sans";
            c.bTextFill = textFill ? 1 : 0;
            c.parTextFill = Hatch(0.3, 30, 3);
            c.bFrame = frame ? 1 : 0;
            c.fFrameLeft = c.fFrameTop = c.fFrameRight = c.fFrameBottom = 1.0f;
            c.bCustomText = custom ? 1 : 0;
            c.strCustomText = L"N:%s";
        };
    };
    const CString c128 = GetCodebarInstance()->GetTypeName(20);
    const CString qr = GetCodebarInstance()->GetTypeName(58);
    v.push_back({"code 128", L"1234", 2, c128.GetString(), code(20, false, false, false, false), nullptr});
    v.push_back({"code 128 readable", L"1234", 2, c128.GetString(), code(20, true, false, true, true), edits});
    v.push_back({"code 128 filled readable", L"1234", 2, c128.GetString(), code(20, true, true, false, false), fill});
    v.push_back({"qr", L"HELLO", 2, qr.GetString(), code(58, false, false, false, false), edits});
    v.push_back({"variable", L"x", 0, L"DejaVu Sans",
                 [](CFonts&, FONTS_PAR&, CODEBAR_PAR&, VARTEXT_PAR& var) {
                     auto fixed = std::make_shared<TEXT_ELEMENT>();
                     fixed->m_strText = L"N";
                     auto sn = std::make_shared<TEXT_SN_PAR>();
                     sn->nStart = sn->nCurrent = 7;
                     sn->nStep = 2;
                     var.bEnable = 1;
                     var.arrElements = {fixed, sn};
                 },
                 nullptr});
    return v;
}

class TextReload : public history_test::TextDeskTest {
protected:
    TextReload() : TextDeskTest("textreload") {}
};

TEST_F(TextReload, SavedTextsReadBackAndCopiesMarkAsTheirSource) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        Desk first;
        auto* t = new CFonts();
        first.AddShape(t);
        t->SetDocView(&first, &first.view);
        t->fontspos = {-10, 5};
        FONTS_PAR fonts;
        fonts.dHeight = 6;
        CODEBAR_PAR codebar;
        VARTEXT_PAR var;
        if (v.setup) v.setup(*t, fonts, codebar, var);
        ASSERT_EQ(t->SetFonts(CString(v.text.c_str()), v.type, CString(v.face.c_str()), fonts, codebar, var, 1, 1,
                              false),
                  1);
        if (v.after) v.after(*t);
        // The initial barcode parameters are kept with the text as they are.
        t->parCodebarInit = t->parCodebar;
        const Bytes saved = first.Save();
        // Copied before the first marking moves a variable text on.
        CBaseShape* copy = t->Clone();
        const Marks marks = first.Mark();

        Desk second;
        second.Load(saved);
        ASSERT_EQ(second.GetShapeList().size(), 1u);
        history_test::SavedCompare cmp(0.0);
        EXPECT_TRUE(cmp.Lists(second.Save(), saved)) << cmp.where;
        EXPECT_EQ(MarksDiffer(second.Mark(), marks, 1e-6), "");

        Desk third;
        third.AddShape(copy);
        copy->SetDocView(&third, &third.view);
        history_test::SavedCompare asSource(0.0, true);
        EXPECT_TRUE(asSource.Lists(third.Save(), saved)) << "copy: " << asSource.where;
        EXPECT_EQ(MarksDiffer(third.Mark(), marks, 1e-6), "");
    }
}

}  // namespace
