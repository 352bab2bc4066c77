// Undo and redo of text edits on real text shapes: content, fills, the
// transforms, and ungrouping, each compared with the text's outline before.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/core/morvik.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records_list.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/history/undo_records_transform.h"
#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"
#include "support/shape_support.h"
#include "text/text_test_util.h"

namespace {

class MirrorDoc : public CBaseDoc {
public:
    void GetMirrorCenter(tagPOINTF& c) override { c = {7.0f, 3.0f}; }
};

struct Desk {
    MirrorDoc doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};

    // A text owned by the document.
    CFonts* Text(const wchar_t* content, tagPOINTF at) {
        auto* t = new CFonts();
        t->SetDocView(&doc, &view);
        t->InitFontsPath(at, CString(content), CString(L"DejaVu Sans"), false);
        doc.AddShape(t);
        return t;
    }
};

std::vector<tagPOINTF> Outline(CFonts* t) {
    return testsupport::Flattened(*t, 0.01f);
}

void ExpectSame(const std::vector<tagPOINTF>& got, const std::vector<tagPOINTF>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    ASSERT_FALSE(want.empty()) << what;
    double worst = 0;
    for (size_t i = 0; i < want.size(); ++i)
        worst = std::max({worst, std::fabs(double(got[i].x) - want[i].x), std::fabs(double(got[i].y) - want[i].y)});
    EXPECT_LT(worst, 1e-3) << what;
}

int HatchPoints(CFonts* t) {
    int n = 0;
    for (CFilledShape* f : t->GetFills())
        if (f != nullptr)
            for (int s = 0; s < 4; ++s) n += f->GetFillPathOf(s)->GetPointCount();
    return n;
}

using testsupport::Hatch;

class TextUndo : public ::testing::Test {
protected:
    text_test::TempRunLog m_log{"undotext"};
};

// A content change of a rotated, mirrored text comes back exactly, in both
// directions, on the text and on the text linked to it.
TEST_F(TextUndo, ContentChangeOfAMirroredTextComesBackExactly) {
    Desk d;
    CFonts* t = d.Text(L"AB", {10, 20});
    CFonts* linked = d.Text(L"AB", {50, 20});
    t->SetLinkFlag(true);
    t->GetLinkedIDs().push_back(linked->GetBaseID());
    t->Rotate(25, {10, 20});
    t->Mirror({7, 3}, 1);
    t->SetMirrorFlag(2);
    const std::vector<tagPOINTF> before = Outline(t);

    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    p->strOldFirst = L"AB";
    p->strNewFirst = L"HEX";
    p->strOldSecond = p->strNewSecond = L"DejaVu Sans";
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->fontsNew = p->fontsOld;
    p->fontsNew.dHeight = 6.0;
    p->ptOld = {1, 1};
    p->ptNew = {9, 9};  // not used: the first string changed
    CUND_Fonts rec(p);

    rec.OnEditRedo(&d.core);
    EXPECT_EQ(t->GetText(), CString(L"HEX"));
    EXPECT_EQ(linked->GetText(), CString(L"HEX"));
    EXPECT_NEAR(t->parFonts.dHeight, 6.0, 1e-9);
    const std::vector<tagPOINTF> after = Outline(t);
    // Still mirrored: the characters read right to left.
    ASSERT_EQ(t->GetChars().size(), 3u);
    EXPECT_GT(CBaseShape::CalculateRectangle(t->GetChars()[0]->points).X,
              CBaseShape::CalculateRectangle(t->GetChars()[2]->points).X);

    rec.OnEditUndo(&d.core);
    EXPECT_EQ(t->GetText(), CString(L"AB"));
    EXPECT_EQ(linked->GetText(), CString(L"AB"));
    ExpectSame(Outline(t), before, "undo");
    rec.OnEditRedo(&d.core);
    ExpectSame(Outline(t), after, "redo");
    EXPECT_EQ(t->GetMirrorFlag(), 2);
}

// Fill edits: the new parameters, the old ones or no fill come back, on the
// linked texts too; a text is refilled through its own setter.
TEST_F(TextUndo, FillEditsComeBack) {
    Desk d;
    CFonts* t = d.Text(L"OI", {0, 0});
    CFonts* other = d.Text(L"OI", {0, 20});
    t->SetLinkFlag(true);
    t->GetLinkedIDs().push_back(other->GetBaseID());

    // A fill made on an unfilled text.
    auto* p = new stFontFillUndo;
    p->before = p->after = {t, other};
    p->pText = t;
    p->parNew = Hatch(0.3);
    CUND_FONTFill fill(p);
    fill.OnEditRedo(&d.core);
    EXPECT_EQ(t->bFilled, 1);
    EXPECT_EQ(other->bFilled, 1);
    const int dense = HatchPoints(t);
    EXPECT_GT(dense, 0);
    fill.OnEditUndo(&d.core);
    EXPECT_EQ(t->bFilled, 0);
    EXPECT_EQ(other->bFilled, 0);
    EXPECT_EQ(HatchPoints(t), 0);
    EXPECT_EQ(HatchPoints(other), 0);

    // A fill over an older one gets the older parameters back.
    testsupport::FillWith(*t, Hatch(0.9));
    const int sparse = HatchPoints(t);
    auto* q = new stFontFillUndo;
    q->before = q->after = {t, other};
    q->pText = t;
    q->bOldHadFill = 1;
    q->parOld = Hatch(0.9);
    q->parNew = Hatch(0.3);
    CUND_FONTFill refill(q);
    refill.OnEditRedo(&d.core);
    EXPECT_EQ(HatchPoints(t), dense);
    refill.OnEditUndo(&d.core);
    EXPECT_EQ(t->bFilled, 1);
    EXPECT_NEAR(t->parFill.fillParams[0].fLineSpacing, 0.9, 1e-9);
    EXPECT_EQ(HatchPoints(t), sparse);

    // Changed fill parameters of a text.
    auto* s = new stSetFillUndo;
    s->pShape = t;
    s->parOld = Hatch(0.9);
    s->parNew = Hatch(0.3);
    CUND_SetFill set(s);
    set.OnEditRedo(&d.core);
    EXPECT_EQ(HatchPoints(t), dense);
    set.OnEditUndo(&d.core);
    EXPECT_EQ(HatchPoints(t), sparse);

    // Several at once: the text entry is undone to no fill and redone.
    auto* m = new stMultiFillUndo;
    m->before = m->after = {t, other};
    m->vecText = {new stFontFillUndo};
    m->vecText[0]->pText = other;
    m->vecText[0]->parNew = Hatch(0.3);
    CUND_MutliFill multi(m);
    multi.OnEditUndo(&d.core);
    EXPECT_EQ(other->bFilled, 0);
    EXPECT_EQ(HatchPoints(other), 0);
    multi.OnEditRedo(&d.core);
    EXPECT_EQ(other->bFilled, 1);
    EXPECT_EQ(HatchPoints(other), dense);
}

// Texts linked to each other fill each other once and return.
TEST_F(TextUndo, MutuallyLinkedTextsFillOnce) {
    Desk d;
    CFonts* a = d.Text(L"I", {0, 0});
    CFonts* b = d.Text(L"I", {10, 0});
    a->GetLinkedIDs().push_back(b->GetBaseID());
    b->GetLinkedIDs().push_back(a->GetBaseID());
    testsupport::FillWith(*a, Hatch(0.5));
    EXPECT_EQ(a->bFilled, 1);
    EXPECT_EQ(b->bFilled, 1);
    EXPECT_EQ(HatchPoints(a), HatchPoints(b));
}

// Ungrouping takes the fills of the texts away; its undo builds them again
// from the parameters the first fill shape kept.
TEST_F(TextUndo, UngroupDropsAndRebuildsTextFills) {
    Desk d;
    CFonts* t = d.Text(L"OI", {0, 0});
    testsupport::FillWith(*t, Hatch(0.4));
    const int filled = HatchPoints(t);
    CUND_Ungroup rec(new stUngroupUndo{{t}, {t}, {t, nullptr}});
    rec.OnEditRedo(&d.core);
    EXPECT_EQ(t->bFilled, 0);
    EXPECT_EQ(HatchPoints(t), 0);
    rec.OnEditUndo(&d.core);
    EXPECT_EQ(t->bFilled, 1);
    EXPECT_EQ(HatchPoints(t), filled);
}

// Every transform of a text is undone to the outline it had.
TEST_F(TextUndo, TransformsOfATextAreUndoneExactly) {
    Desk d;
    CFonts* t = d.Text(L"Rg", {3, 4});
    testsupport::FillWith(*t, Hatch(0.5));
    const std::vector<tagPOINTF> start = Outline(t);
    const std::vector<GUID> ids{t->GetBaseID()};

    // Each transform as the editor makes it, and the record it leaves.
    const struct {
        const char* name;
        std::function<void()> apply;
        std::function<CUND_Base*()> record;
    } edits[] = {
        {"move", [&] { t->Move(2.5f, -1.5f); }, [&] { return new CUND_Move(new stMoveUndo{ids, 2.5f, -1.5f}); }},
        {"rotate", [&] { t->Rotate(40, {1, 1}); }, [&] { return new CUND_Rotate(new stRotateUndo{ids, {1, 1}, 40}); }},
        {"resize", [&] { t->Zoom({2, 2}, -2.0, 0.5); },
         [&] { return new CUND_Resize(new stResizeUndo{ids, {2, 2}, -2.0f, 0.5f}); }},
        {"slope", [&] { t->Slope({0, 0}, 0.3, 0); },
         [&] { return new CUND_Slope(new stSlopeUndo{ids, {0, 0}, 0.3, 0}); }},
        {"mirror", [&] { t->Mirror({5, 5}, 3); }, [&] { return new CUND_Mirror(new stMirrorUndo{ids, {5, 5}, 3}); }},
    };
    for (const auto& edit : edits) {
        edit.apply();
        std::unique_ptr<CUND_Base> record(edit.record());
        record->OnEditUndo(&d.core);
        ExpectSame(Outline(t), start, edit.name);
    }
    EXPECT_EQ(t->bFilled, 1);
}

}  // namespace

// A content change of a text on an arc keeps the text's invert, align-top and
// inside switches in both directions: the record holds only the two angles.
TEST_F(TextUndo, ArcTextKeepsItsSwitchesThroughAContentUndo) {
    Desk d;
    CFonts* t = d.Text(L"AB", {0, 0});
    t->ptCenter = {0, 0};
    t->dRad = 30;
    t->SetPathFontPara(90, 60, 1, 1, 1);
    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    p->strOldFirst = L"AB";
    p->strNewFirst = L"CD";
    p->strOldSecond = p->strNewSecond = L"DejaVu Sans";
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->fontsOld.bPathText = 1;
    p->fontsOld.dPathValue1 = 90;
    p->fontsOld.dPathValue2 = 60;
    p->fontsNew = p->fontsOld;
    CUND_Fonts rec(p);
    for (bool undo : {false, true}) {
        undo ? rec.OnEditUndo(&d.core) : rec.OnEditRedo(&d.core);
        int base = 0, scope = 0, invert = 0, alignTop = 0, inside = 0;
        t->GetPathFontPara(base, scope, invert, alignTop, inside);
        EXPECT_EQ(base, 90);
        EXPECT_EQ(scope, 60);
        EXPECT_EQ(invert, 1);
        EXPECT_EQ(alignTop, 1);
        EXPECT_EQ(inside, 1);
        EXPECT_EQ(t->GetText(), CString(undo ? L"AB" : L"CD"));
    }
}

// A moved text on an arc keeps its frame with its characters through a
// content change and its undo.
TEST_F(TextUndo, ArcTextFrameFollowsItsCharacters) {
    Desk d;
    auto* t = new CFonts();
    d.doc.AddShape(t);
    t->SetDocView(&d.doc, &d.view);
    t->dRad = 20;
    FONTS_PAR fonts;
    fonts.dHeight = 5;
    fonts.bPathText = 1;
    fonts.dPathValue1 = 90;
    CODEBAR_PAR codebar;
    VARTEXT_PAR var;
    ASSERT_EQ(t->SetFonts(CString(L"AB"), 0, CString(L"DejaVu Sans"), fonts, codebar, var, 1, 0, false), 1);
    t->Move(2, -1);
    t->Rotate(20, {1, 1});
    const std::vector<tagPOINTF> frame = t->GetFrame();
    const std::vector<tagPOINTF> outline = Outline(t);
    ASSERT_EQ(frame.size(), 4u);

    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->strNewFirst = L"ABC";
    p->strNewSecond = p->strOldSecond;
    p->nNewType = p->nOldType;
    p->fontsNew = p->fontsOld;
    CUND_Fonts rec(p);
    rec.OnEditRedo(&d.core);
    rec.OnEditUndo(&d.core);
    ExpectSame(Outline(t), outline, "characters");
    ExpectSame(t->GetFrame(), frame, "frame");
}

// The dialog sets a text on an arc to new angles before its new layout: the
// undo gives the old angles back with the old characters, so that laying the
// undone text out again leaves it where it stands.
TEST_F(TextUndo, ArcAnglesComeBackWithTheirCharacters) {
    Desk d;
    auto* t = new CFonts();
    t->parFonts.dHeight = 2.5;
    t->parFonts.bPathText = 1;
    t->parFonts.dPathValue1 = 30;
    t->parFonts.dPathValue2 = 120;
    t->dRad = 15;
    t->SetPathFontPara(30, 120, 0, 1, 0);
    t->SetDocView(&d.doc, &d.view);
    t->InitFontsPath({0, 0}, CString(L"Round"), CString(L"DejaVu Sans"), false);
    d.doc.AddShape(t);
    const std::vector<tagPOINTF> start = Outline(t);
    auto* p = new stFontsUndo;
    p->ids = {t->GetBaseID()};
    t->GetFonts(p->strOldFirst, p->nOldType, p->strOldSecond, p->fontsOld, p->codebarOld, p->varOld);
    p->strNewFirst = p->strOldFirst;
    p->strNewSecond = p->strOldSecond;
    p->nNewType = p->nOldType;
    p->fontsNew = p->fontsOld;
    p->fontsNew.dPathValue1 = 60;
    p->fontsNew.dPathValue2 = 90;
    p->ptOld = t->fontspos;
    t->SetPathFontPara(60, 90, 0, 1, 0);
    CString text, face;
    int kind = 0;
    FONTS_PAR f = p->fontsNew;
    CODEBAR_PAR c;
    VARTEXT_PAR v;
    ASSERT_EQ(t->SetFonts(p->strNewFirst, p->nNewType, p->strNewSecond, f, c, v, 0, 1, false), 1);
    p->ptNew = t->fontspos;
    CUND_Fonts rec(p);
    rec.OnEditUndo(&d.core);
    ExpectSame(Outline(t), start, "undone");
    EXPECT_EQ(t->iBaseAngle * 1000 + t->iAngleScope, 30120);
    t->GetFonts(text, kind, face, f, c, v);
    ASSERT_EQ(t->SetFonts(text, kind, face, f, c, v, 0, 1, false), 1);
    ExpectSame(Outline(t), start, "laid out again");
}

// A slanted barcode whose bar height the dialog then sets: a zoom by 4
// makes the asked height four times over, and its undo the asked height.
TEST_F(TextUndo, SlantedBarcodeZoomsFromTheAskedBarHeight) {
    Desk d;
    auto* t = new CFonts();
    FONTS_PAR f;
    CODEBAR_PAR c;
    VARTEXT_PAR v;
    c.nCodeType = 8;
    c.fModuleWidth = 0.25f;
    c.fBarHeight = 12;
    c.bShowText = 0;
    ASSERT_EQ(t->SetFonts(CString(L"Z"), 2, GetCodebarInstance()->GetTypeName(8), f, c, v, 1, 0, false), 1);
    t->SetDocView(&d.doc, &d.view);
    d.doc.AddShape(t);
    t->Slope({6.5f, 1.0f}, 0, 0.2);
    CString text, face;
    int kind = 0;
    t->GetFonts(text, kind, face, f, c, v);
    c.fBarHeight = 12;
    ASSERT_EQ(t->SetFonts(text, kind, face, f, c, v, 0, 1, false), 1);
    t->Zoom({-4.5f, -4.5f}, 4, 4);
    EXPECT_NEAR(t->parCodebar.fBarHeight, 48.0, 1e-4);
    CUND_Resize rec(new stResizeUndo{{t->GetBaseID()}, {-4.5f, -4.5f}, 4.0f, 4.0f});
    rec.OnEditUndo(&d.core);
    EXPECT_NEAR(t->parCodebar.fBarHeight, 12.0, 1e-5);
}
