// Random edits of texts of every kind (TrueType, single-line, dot matrix,
// text on an arc, barcodes with and without a filled readable text), a fill
// shape, a group holding a text and linked texts, made and recorded as an
// editor makes them. After the run every edit is undone and redone through
// the editing history: the saved document must be the one of the start after
// undoing all and the one of the end after redoing all, and the mark data
// after each undone edit must be the mark data from before that edit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/compose/group.h"
#include "morvik/core/markdata.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "history/saved_compare.h"
#include "history/text_desk.h"
#include "morvik/history/undo_records.h"
#include "morvik/history/undo_records_list.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/history/undo_records_transform.h"
#include "morvik/text/fonts.h"
#include "morvik/text/vartext.h"
#include "morvik/core/morvik.h"
#include "morvik/text/mycodebar.h"
#include "text/shx_gen.h"
#include "support/shape_support.h"
#include "text/text_test_util.h"

namespace {

using history_test::Bytes;
using history_test::Desk;
using history_test::DialogRecord;
using history_test::Marks;
using history_test::SetNewValues;
using history_test::MarksDiffer;
using history_test::SavedCompare;
using history_test::UndoAndRedoAll;

using testsupport::Hatch;

// The fill dialog on a text: the text filled with par, and the record of
// that fill (its lists of before and after the document's shapes, if listed).
stFontFillUndo* FillText(Desk& d, CFonts* t, const FILLED_PARS& par, BYTE hadFill, bool listed = true) {
    auto* p = new stFontFillUndo;
    if (listed) p->before = p->after = d.GetShapeList();
    p->pText = t;
    p->bOldHadFill = hadFill;
    p->parOld = t->parFill;
    p->parNew = par;
    testsupport::FillWith(*t, par);
    return p;
}

struct Kit {
    std::vector<CFonts*> texts;   // every text the editor edits
    std::vector<CFonts*> plain;   // texts laid out without a curve
    CFonts* linkedFrom = nullptr;
    CFonts* linkedTo = nullptr;
    CFilledShape* fill = nullptr;
    CGroupShape* group = nullptr;  // holds groupText, or null after an ungroup
    CFonts* groupText = nullptr;
};

class TextEditor {
public:
    TextEditor(Desk& d, Kit& k, unsigned seed) : m_d(d), m_k(k), m_rng(seed), m_side(seed * 7919u + 1u) {}

    // What each recorded edit was, for the messages.
    std::vector<std::string> done;
    // Called as a content edit starts, before anything changes.
    std::function<void()> beforeContent;
    void Any() {
        const int before = m_d.core.m_nUndoPos;
        std::string what;
        // A barcode's dialog opened again at once.
        if (CFonts* again = std::exchange(m_again, nullptr); again != nullptr && Listed(again)) {
            what = Content(again);
            if (m_d.core.m_nUndoPos != before) done.push_back(what);
            return;
        }
        switch (Int(0, 9)) {
            case 0:
            case 1:
                what = Content();
                break;
            case 2:
                what = Fill();
                break;
            case 3:
                what = "hatch";
                Hatch();
                break;
            case 4:
                what = GroupOrUngroup();
                break;
            case 5:
                what = DeleteOne();
                break;
            default:
                what = Transform();
                break;
        }
        if (m_d.core.m_nUndoPos != before) done.push_back(what);
    }

private:
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    float Eighth(int lo, int hi) { return static_cast<float>(Int(8 * lo, 8 * hi)) / 8.0f; }
    template <class T>
    T* Pick(const std::vector<T*>& v) {
        return v[static_cast<size_t>(Int(0, static_cast<int>(v.size()) - 1))];
    }
    bool Listed(const CBaseShape* s) {
        for (CBaseShape* x : m_d.GetShapeList())
            if (x == s) return true;
        return false;
    }
    // A text of the document's list (not inside the group). The text
    // linked to another follows that one's content and fill.
    CFonts* PickListed() {
        std::vector<CFonts*> listed;
        for (CFonts* t : m_k.texts)
            if (Listed(t) && t != m_k.linkedTo) listed.push_back(t);
        return listed.empty() ? nullptr : Pick(listed);
    }

    // The text dialog: its parameters read, some changed, set back, and the
    // change recorded.
    // A second choice of its own: what the runs of these seeds made before
    // stays in their sequence.
    int Side(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_side); }
    float SideEighth(int lo, int hi) { return static_cast<float>(Side(8 * lo, 8 * hi)) / 8.0f; }

    // The text dialog: its parameters read, some changed, set back, and the
    // change recorded; often with a new position too, the move made after
    // the values as the dialog makes it.
    std::string Content(CFonts* again = nullptr) {
        CFonts* t = again != nullptr ? again : PickListed();
        if (t == nullptr) return "";
        if (beforeContent) beforeContent();
        stFontsUndo* p = DialogRecord(t);
        p->varNew = p->varOld.Clone();
        const bool code = p->nOldType == 2;
        const int change = again != nullptr ? 4 : Int(0, 4);
        // Switches besides: a barcode turned inverse or back, a text bold.
        if (again != nullptr || Side(0, 3) == 0) {
            if (code) {
                p->codebarNew.bInverse = !p->codebarNew.bInverse;
            } else if (p->nOldType != 1) {
                p->fontsNew.bBold = !p->fontsNew.bBold;
            }
        }
        if (again != nullptr) p->codebarNew.fModuleWidth = Side(2, 5) / 8.0f;
        switch (change) {
            case 0: {
                static const wchar_t* words[] = {L"AB", L"Kg8", L"7", L"HEX1", L"0123"};
                static const wchar_t* digits[] = {L"123", L"4567", L"90", L"31415"};
                p->strNewFirst = code ? digits[Int(0, 3)] : words[Int(0, 4)];
                break;
            }
            case 1:
                if (code) {
                    p->codebarNew.fBarHeight = static_cast<float>(Int(6, 12));
                } else {
                    p->fontsNew.dHeight = Int(3, 8);
                }
                break;
            case 2:
                if (code) {
                    p->codebarNew.fModuleWidth = Int(2, 4) / 10.0f;
                } else {
                    p->fontsNew.dWidthRatio = Int(30, 60);
                }
                break;
            case 3:
                if (!code && p->fontsOld.bPathText == 0) p->fontsNew.dSlantAngle = Int(-2, 2) * 10.0;
                break;
            default:
                break;  // OK with nothing changed
        }
        // The dialog sets the text in its unmirrored frame, as the record
        // replays it.
        const bool mirrored = t->GetMirrorFlag() > 0;
        if (mirrored) t->Mirror({0, 0}, 1);
        const int done = SetNewValues(t, *p, p->varNew.Clone());
        // Linked texts show the same content.
        if (done == 1 && t->GetLinkFlag())
            for (const GUID& id : t->GetLinkedIDs())
                if (auto* other = dynamic_cast<CFonts*>(m_d.GetShapeByUUID(id))) {
                    SetNewValues(other, *p, p->varNew.Clone());
                }
        if (mirrored) t->Mirror({0, 0}, 1);
        if (done != 1) {
            delete p;
            return "";
        }
        // The record keeps the dialog's move only with the text unchanged.
        std::string moved;
        if (p->strNewFirst == p->strOldFirst && Side(0, 1) == 0) {
            const float dx = SideEighth(-6, 6), dy = SideEighth(-6, 6);
            t->Move(dx, dy);
            moved = " moved";
        }
        p->ptNew = t->fontspos;
        if (code && again == nullptr && Side(0, 1) == 0) m_again = t;
        m_d.core.AddUndoItem(new CUND_Fonts(p));
        return "content " + std::to_string(t->nFontType) + " " + std::to_string(change) + moved + " of " +
               CStringA(t->GetCaption()).GetString();
    }

    // A text filled, or filled anew over its older fill.
    std::string Fill() {
        CFonts* t = PickListed();
        // Single-line and dot-matrix texts have nothing to fill.
        if (t == nullptr || t->nFontType == 1 || t->nFontType == 3) return "";
        const BYTE hadFill = static_cast<BYTE>(t->bFilled != 0);
        stFontFillUndo* p = FillText(m_d, t, ::Hatch(Int(3, 8) / 10.0, Int(0, 3) * 30.0, Int(1, 4)), hadFill);
        m_d.core.AddUndoItem(new CUND_FONTFill(p));
        return "fill " + std::to_string(t->nFontType) + (p->bOldHadFill ? " over " : " first ") +
               CStringA(t->GetCaption()).GetString();
    }

    // New hatch parameters for the fill shape or a filled text.
    void Hatch() {
        auto* p = new stSetFillUndo;
        p->parNew = ::Hatch(Int(3, 8) / 10.0, Int(0, 5) * 15.0, Int(1, 4));
        if (Int(0, 1) == 0 && Listed(m_k.fill)) {
            p->pShape = m_k.fill;
            p->parOld = m_k.fill->GetFillParam();
            m_k.fill->SetParam(p->parNew);
            m_k.fill->DoFill(0);
        } else {
            CFonts* t = PickListed();
            if (t == nullptr || t->bFilled == 0) {
                delete p;
                return;
            }
            p->pShape = t;
            p->parOld = t->parFill;
            testsupport::FillWith(*t, p->parNew);
        }
        m_d.core.AddUndoItem(new CUND_SetFill(p));
    }

    // The group taken apart (its filled texts lose their fill), or made
    // again from its text.
    std::string GroupOrUngroup() {
        if (m_k.group != nullptr && Listed(m_k.group)) {
            auto* p = new stUngroupUndo;
            p->before = m_d.GetShapeList();
            std::list<CBaseShape*> after;
            for (CBaseShape* s : m_d.GetShapeList()) {
                if (s != m_k.group) {
                    after.push_back(s);
                    continue;
                }
                for (CBaseShape* child : m_k.group->GetChildren()) after.push_back(child);
            }
            for (CBaseShape* child : m_k.group->GetChildren())
                if (auto* text = dynamic_cast<CFonts*>(child); text != nullptr && text->bFilled != 0) {
                    p->vecFilled.push_back(text);
                    text->DeleteFill();
                }
            p->after = after;
            m_d.RestoreShapeList(after);
            m_d.core.AddUndoItem(new CUND_Ungroup(p));
            return "ungroup";
        } else if (Listed(m_k.groupText)) {
            auto* group = new CGroupShape();
            group->SetDocView(&m_d, &m_d.view);
            auto* p = new stListSwapExUndo;
            p->before = m_d.GetShapeList();
            std::list<CBaseShape*> after;
            for (CBaseShape* s : m_d.GetShapeList()) after.push_back(s == m_k.groupText ? group : s);
            group->GetChildren().push_back(m_k.groupText);
            m_d.RestoreShapeList(after);
            m_d.AdoptShape(group);
            p->after = after;
            m_k.group = group;
            m_d.core.AddUndoItem(new CUND_Group(p));
            return "group";
        }
        return "";
    }

    // A shape deleted (restored by the undo), or a text converted to curves.
    std::string DeleteOne() {
        std::vector<CBaseShape*> listed(m_d.GetShapeList().begin(), m_d.GetShapeList().end());
        if (listed.size() < 2) return "";
        CBaseShape* victim = Pick(listed);
        if (auto* text = dynamic_cast<CFonts*>(victim); text != nullptr && Int(0, 1) == 0) {
            CBaseShape* curve = text->ToBezier();
            if (curve == nullptr) return "";
            curve->SetDocView(&m_d, &m_d.view);
            std::list<CBaseShape*> after;
            for (CBaseShape* s : m_d.GetShapeList()) after.push_back(s == text ? curve : s);
            m_d.RestoreShapeList(after);
            m_d.AdoptShape(curve);
            m_d.core.AddUndoItem(new CUND_ToCurve(new stToCurveUndo{text, curve, {}}));
            return "curves of " + std::string(CStringA(text->GetCaption()).GetString());
        }
        auto* p = new stListSwapUndo;
        p->before = m_d.GetShapeList();
        std::list<CBaseShape*> after = m_d.GetShapeList();
        after.remove(victim);
        p->after = after;
        m_d.RestoreShapeList(after);
        m_d.core.AddUndoItem(new CUND_Delete(p));
        return "delete " + std::string(CStringA(victim->GetCaption()).GetString());
    }

    // Move, rotate, zoom (with and without aspect), slant and mirror of a
    // listed text, the group or the fill shape.
    std::string Transform() {
        std::vector<CBaseShape*> listed(m_d.GetShapeList().begin(), m_d.GetShapeList().end());
        if (listed.empty()) return "";
        CBaseShape* s = Pick(listed);
        const std::vector<GUID> ids{s->GetBaseID()};
        const tagPOINTF at{Eighth(-20, 20), Eighth(-20, 20)};
        const int kind = Int(0, 4);
        // The fill shape's transforms have a test of their own (its hatch
        // kept through them); here it is left where it is, so that the
        // sequences of these seeds stay what they were.
        if (s == m_k.fill) return "";
        const std::string what = "transform " + std::to_string(kind) + " of " + CStringA(s->GetCaption()).GetString();
        switch (kind) {
            case 0: {
                const float dx = Eighth(-10, 10), dy = Eighth(-10, 10);
                s->Move(dx, dy);
                if (s->GetLinkFlag())
                    for (const GUID& id : s->GetLinkedIDs())
                        if (CBaseShape* other = m_d.GetShapeByUUID(id)) other->Move(dx, dy);
                m_d.core.AddUndoItem(new CUND_Move(new stMoveUndo{ids, dx, dy}));
                break;
            }
            case 1: {
                const double angle = Int(-12, 12) * 15.0;
                s->Rotate(angle, at);
                m_d.core.AddUndoItem(new CUND_Rotate(new stRotateUndo{ids, at, angle}));
                break;
            }
            case 2: {
                const float factors[] = {-2.0f, -1.0f, 0.5f, 0.8f, 1.25f, 2.0f};
                const float sx = factors[Int(0, 5)];
                const float sy = Int(0, 1) == 0 ? sx : factors[Int(0, 5)];
                // Linked texts share their size: neither is zoomed alone.
                if (s == m_k.linkedFrom || s == m_k.linkedTo) return "";
                s->Zoom(at, sx, sy);
                m_d.core.AddUndoItem(new CUND_Resize(new stResizeUndo{ids, at, sx, sy}));
                break;
            }
            case 3: {
                const double a = Int(-3, 3) / 10.0;
                if (a == 0.0 || s == m_k.linkedFrom || s == m_k.linkedTo) return "";
                s->Slope(at, a, 0.0);
                m_d.core.AddUndoItem(new CUND_Slope(new stSlopeUndo{ids, at, a, 0.0}));
                break;
            }
            default: {
                // The flag names the axes the shape is flipped in.
                const int axis = Int(1, 3);
                s->Mirror(at, axis);
                s->SetMirrorFlag(s->GetMirrorFlag() ^ axis);
                m_d.core.AddUndoItem(new CUND_Mirror(new stMirrorUndo{ids, at, axis}));
                break;
            }
        }
        return what;
    }

    Desk& m_d;
    Kit& m_k;
    std::mt19937 m_rng;
    std::mt19937 m_side;
    CFonts* m_again = nullptr;
};

class TextUndoRandom : public history_test::TextDeskTest {
protected:
    TextUndoRandom() : TextDeskTest("undotextrandom") {}

    const CString dejavu{L"DejaVu Sans"};
    // Texts 5 mm high.
    const FONTS_PAR small = [] {
        FONTS_PAR f;
        f.dHeight = 5;
        return f;
    }();

    static CFonts* Lay(Desk& d, const wchar_t* text, int type, const CString& face, tagPOINTF at,
                       FONTS_PAR fonts = {}, CODEBAR_PAR codebar = {}) {
        auto* t = new CFonts();
        d.AddShape(t);
        t->SetDocView(&d, &d.view);
        t->fontspos = at;
        VARTEXT_PAR var;
        EXPECT_EQ(t->SetFonts(CString(text), type, face, fonts, codebar, var, 1, 0, false), 1) << type;
        return t;
    }

    Kit Build(Desk& d) {
        Kit k;
        CFonts* tt = Lay(d, L"AB", 0, dejavu, {-40, 30}, small);
        CFonts* filled = Lay(d, L"Og", 0, dejavu, {-10, 30}, small);
        FILLED_PARS hatch = ::Hatch(0.5, 0, 3);
        filled->SetFill(hatch, false);
        CFonts* shx = Lay(d, L"K1", 1, CString(L"Simtxt"), {20, 30}, small);
        CFonts* dots = Lay(d, L"12", 3, dejavu, {-40, 10}, small);
        FONTS_PAR arc = small;
        arc.bPathText = 1;
        // The text dialog carries the arc's base angle and span in these.
        arc.dPathValue1 = 90;
        arc.dPathValue2 = 0;
        auto* curved = new CFonts();
        curved->ptCenter = {0, 0};
        curved->dRad = 20;
        d.AddShape(curved);
        curved->SetDocView(&d, &d.view);
        VARTEXT_PAR var;
        CODEBAR_PAR none;
        EXPECT_EQ(curved->SetFonts(CString(L"ARC"), 0, dejavu, arc, none, var, 1, 0, false), 1);
        CODEBAR_PAR code;
        code.nCodeType = 20;
        code.bShowText = 1;
        code.strTextFont = dejavu;
        const CString name = GetCodebarInstance()->GetTypeName(20);
        CFonts* bar = Lay(d, L"123", 2, name, {-40, -20}, small, code);
        code.bTextFill = 1;
        code.parTextFill = ::Hatch(0.4, 45, 3);
        CFonts* barFilled = Lay(d, L"4567", 2, name, {0, -20}, small, code);
        CFonts* linkedTo = Lay(d, L"L1", 0, dejavu, {30, 0}, small);
        CFonts* linkedFrom = Lay(d, L"L1", 0, dejavu, {30, 10}, small);
        linkedFrom->SetLinkFlag(true);
        linkedFrom->GetLinkedIDs() = {linkedTo->GetBaseID()};
        CFonts* inGroup = Lay(d, L"G", 0, dejavu, {-20, -40}, small);
        inGroup->SetFill(hatch, false);
        // A slanted text filled with two hatch sets, a mirrored dot-matrix
        // text and a text placed with a slant in its parameters.
        CFonts* slanted = Lay(d, L"O", 0, dejavu, {45, -10}, small);
        slanted->Slope({46.25f, -9.5f}, -0.056, 0);
        FILLED_PARS twoSets = ::Hatch(0.25, 30, 2);
        twoSets.fillParams[1] = twoSets.fillParams[0];
        twoSets.fillParams[1].nIndex = 1;
        twoSets.fillParams[1].fAngle = 105;
        twoSets.fillParams[1].fLineSpacing = 0.35f;
        slanted->SetFill(twoSets, false);
        CFonts* mirroredDots = Lay(d, L"34", 3, dejavu, {-50, -5}, small);
        mirroredDots->Mirror({-47.5f, -4.25f}, 1);
        mirroredDots->SetMirrorFlag(1);
        auto* placed = new CFonts();
        d.AddShape(placed);
        placed->SetDocView(&d, &d.view);
        placed->parFonts.dHeight = 5;
        placed->parFonts.dSlantAngle = 15;
        placed->InitFontsPath({10, -45}, CString(L"I7"), dejavu, false);

        auto* ring = new CPolyLine();
        ring->arrPoint = {{20, -40}, {35, -40}, {35, -30}, {20, -30}, {20, -40}};
        ring->bClosed = 1;
        k.fill = new CFilledShape();
        k.fill->SetDocView(&d, &d.view);
        ring->SetDocView(&d, &d.view);
        k.fill->GetChildren().push_back(ring);
        k.fill->SetParam(::Hatch(0.7, 30, 3));
        k.fill->DoFill(0);
        d.AddShape(k.fill);

        auto* group = new CGroupShape();
        group->SetDocView(&d, &d.view);
        std::list<CBaseShape*> list = d.GetShapeList();
        list.remove(inGroup);
        list.push_back(group);
        group->GetChildren().push_back(inGroup);
        d.RestoreShapeList(list);
        d.AdoptShape(group);
        k.group = group;
        k.groupText = inGroup;
        k.linkedFrom = linkedFrom;
        k.linkedTo = linkedTo;
        k.texts = {tt, filled, shx, dots, curved, bar, barFilled, linkedFrom, inGroup, slanted, mirroredDots, placed};
        return k;
    }

};

TEST_F(TextUndoRandom, EveryEditOfTextsComesBack) {
    // A long run: MORVIK_UNDO_SEEDS=first,count (CI runs the first few).
    unsigned first = 1, count = 16;
    if (const char* env = std::getenv("MORVIK_UNDO_SEEDS")) std::sscanf(env, "%u,%u", &first, &count);
    for (unsigned seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        Desk d;
        Kit k = Build(d);
        TextEditor editor(d, k, seed);
        const Bytes start = d.Save();
        std::vector<Marks> marks{d.Mark()};
        // The saved document before and after each content edit (saving
        // every state would take longer than the edits).
        std::vector<Bytes> saved{start};
        editor.beforeContent = [&] { saved.back() = d.Save(); };
        int edits = 40;  // MORVIK_UNDO_EDITS=n for longer sequences
        if (const char* env = std::getenv("MORVIK_UNDO_EDITS")) edits = std::max(1, std::atoi(env));
        for (int i = 0; i < edits; ++i) {
            const int before = d.core.m_nUndoPos;
            editor.Any();
            if (d.core.m_nUndoPos != before) {
                marks.push_back(d.Mark());
                saved.push_back(editor.done.back().rfind("content", 0) == 0 ? d.Save() : Bytes());
            }
        }
        const Bytes end = d.Save();
        const std::string failed = UndoAndRedoAll(d, marks, start, end, [&](size_t at, const std::string& diff) {
            const int n = d.ShapeAt(std::stoul("0" + diff.substr(diff.find(' ') + 1)));
            auto it = d.GetShapeList().begin();
            std::advance(it, std::max(0, n));
            auto* t = dynamic_cast<CFonts*>(*it);
            std::string trail;
            for (size_t k = 0; k <= at; ++k) trail += editor.done[k] + "; ";
            return trail + "\nundo of " + editor.done[at] + ": " + diff + " (shape " + std::to_string(n) + ": " +
                   CStringA((*it)->GetCaption()).GetString() + " filled " + std::to_string(t ? t->bFilled : -1) + ")";
        }, &saved, [&](size_t at) { return editor.done[at].rfind("content", 0) == 0; });
        ASSERT_EQ(failed, "");
    }
}

}  // namespace

namespace {

// The edits the random runs found hard, made once each: a hatch change of a
// text that reaches its linked text, and content set again after a zoom of
// the texts whose new layout is not a zoomed old one (single-line strokes,
// a barcode's readable text, a text on an arc).
TEST_F(TextUndoRandom, LinkedHatchAndContentAfterZoomComeBack) {
    Desk d;
    CFonts* to = Lay(d, L"L1", 0, dejavu, {30, 0}, small);
    CFonts* from = Lay(d, L"L1", 0, dejavu, {30, 10}, small);
    from->SetLinkFlag(true);
    from->GetLinkedIDs() = {to->GetBaseID()};
    testsupport::FillWith(*from, ::Hatch(0.5, 0, 3));
    CFonts* shx = Lay(d, L"K1", 1, CString(L"Simtxt"), {20, 30}, small);
    CODEBAR_PAR code;
    code.nCodeType = 20;
    code.bShowText = 1;
    code.strTextFont = dejavu;
    CFonts* bar = Lay(d, L"123", 2, GetCodebarInstance()->GetTypeName(20), {-40, -20}, small, code);
    std::vector<Marks> marks{d.Mark()};

    auto* hatch = new stSetFillUndo;
    hatch->pShape = from;
    hatch->parOld = from->parFill;
    hatch->parNew = ::Hatch(0.6, 30, 2);
    testsupport::FillWith(*from, hatch->parNew);
    d.core.AddUndoItem(new CUND_SetFill(hatch));
    marks.push_back(d.Mark());
    for (CFonts* t : {shx, bar}) {
        t->Zoom({3, 4}, 2.0, 2.0);
        d.core.AddUndoItem(new CUND_Resize(new stResizeUndo{{t->GetBaseID()}, {3, 4}, 2.0, 2.0}));
        marks.push_back(d.Mark());
        // The text dialog closed with OK and nothing changed.
        stFontsUndo* p = DialogRecord(t);
        p->ptNew = p->ptOld;
        ASSERT_EQ(SetNewValues(t, *p), 1);
        d.core.AddUndoItem(new CUND_Fonts(p));
        marks.push_back(d.Mark());
    }
    while (d.core.IsAbleToUndo()) {
        d.core.OnEditUndo();
        const std::string diff = MarksDiffer(d.Mark(), marks[static_cast<size_t>(d.core.m_nUndoPos)], 2e-3);
        EXPECT_TRUE(diff.empty()) << "undo to " << d.core.m_nUndoPos << ": " << diff;
    }
}

}  // namespace

namespace {

// Texts linked to an edited text, one with a mirrored fill of its own and one
// with none: content changes and every fill record (a fill over an older
// fill, new hatch parameters, several fills at once) reach the linked texts,
// and each undo gives back the saved bytes and mark data of before.
TEST_F(TextUndoRandom, LinkedTextsGetTheirOwnFillBack) {
    Desk d;
    CFonts* own = Lay(d, L"L1", 0, dejavu, {30, 0}, small);
    CFonts* none = Lay(d, L"L1", 0, dejavu, {30, -15}, small);
    CFonts* from = Lay(d, L"L1", 0, dejavu, {30, 10}, small);
    from->SetLinkFlag(true);
    from->GetLinkedIDs() = {own->GetBaseID(), none->GetBaseID()};
    // A fill reaches the text without one twice: directly and through the
    // other linked text.
    own->GetLinkedIDs() = {none->GetBaseID()};
    testsupport::FillWith(*from, ::Hatch(0.5, 0, 3));
    testsupport::FillWith(*own, ::Hatch(0.3, 60, 1));
    // A mirrored hatch runs the other way than one made anew.
    own->Mirror({30, 0}, 1);
    own->SetMirrorFlag(1);
    none->DeleteFill();

    auto fillOver = [&](FILLED_PARS par) {
        d.core.AddUndoItem(new CUND_FONTFill(FillText(d, from, par, 1)));
    };
    auto hatch = [&](FILLED_PARS par) {
        auto* p = new stSetFillUndo;
        p->pShape = from;
        p->parOld = from->parFill;
        p->parNew = par;
        from->SetFill(par, false);
        d.core.AddUndoItem(new CUND_SetFill(p));
    };
    auto content = [&](const wchar_t* word) {
        stFontsUndo* p = DialogRecord(from);
        p->strNewFirst = word;
        for (CFonts* t : {from, own, none}) {
            ASSERT_EQ(SetNewValues(t, *p), 1);
        }
        p->ptNew = from->fontspos;
        d.core.AddUndoItem(new CUND_Fonts(p));
    };
    auto multi = [&](FILLED_PARS par) {
        auto* m = new stMultiFillUndo;
        m->before = m->after = d.GetShapeList();
        m->vecText = {FillText(d, from, par, 1, false)};
        d.core.AddUndoItem(new CUND_MutliFill(m));
    };
    const std::vector<std::function<void()>> edits{
        [&] { content(L"Kg8"); },           [&] { fillOver(::Hatch(0.8, 30, 2)); }, [&] { content(L"AB"); },
        [&] { hatch(::Hatch(0.4, 90, 4)); }, [&] { multi(::Hatch(0.6, 45, 1)); },    [&] { fillOver(::Hatch(0.7, 0, 3)); },
    };
    std::vector<Bytes> saved{d.Save()};
    std::vector<Marks> marks{d.Mark()};
    for (const auto& edit : edits) {
        edit();
        saved.push_back(d.Save());
        marks.push_back(d.Mark());
    }
    while (d.core.IsAbleToUndo()) {
        d.core.OnEditUndo();
        const size_t at = static_cast<size_t>(d.core.m_nUndoPos);
        SavedCompare cmp(2e-4);
        EXPECT_TRUE(cmp.Lists(d.Save(), saved[at])) << "undo to " << at << ": " << cmp.where;
        EXPECT_EQ(MarksDiffer(d.Mark(), marks[at], 2e-3), "") << "undo to " << at;
    }
    while (d.core.IsAbleToRedo()) d.core.OnEditRedo();
    SavedCompare cmp(2e-4);
    EXPECT_TRUE(cmp.Lists(d.Save(), saved.back())) << "after redoing all: " << cmp.where;
}


// Every edit undone, then redone, twice over: after each step the mark data
// and the saved document are those of the state the step returns to.
void UndoAndRedoTwice(Desk& d, const std::vector<Marks>& marks, const std::vector<Bytes>& saved, double markTol,
                      double savedTol, bool resampled) {
    auto same = [&](const char* when) {
        const size_t at = static_cast<size_t>(d.core.m_nUndoPos);
        EXPECT_EQ(MarksDiffer(d.Mark(), marks[at], markTol, resampled), "") << when << " to " << at;
        SavedCompare cmp(savedTol);
        EXPECT_TRUE(cmp.Lists(d.Save(), saved[at])) << when << " to " << at << ": " << cmp.where;
    };
    for (int cycle = 0; cycle < 2; ++cycle) {
        while (d.core.IsAbleToUndo()) {
            d.core.OnEditUndo();
            same("undo");
        }
        while (d.core.IsAbleToRedo()) {
            d.core.OnEditRedo();
            same("redo");
        }
    }
}
// Filled texts turned with their group hold a turned hatch, which no new
// fill makes again. Ungrouped (their fills go) and filled anew, with the
// hatch they had or another, every undo gives back the mark data and saved
// bytes from before its edit, and every redo those from after it.
TEST_F(TextUndoRandom, UngroupOfTurnedFilledTextsComesBack) {
    for (const FILLED_PARS& refill : {::Hatch(0.5, 0, 3), ::Hatch(0.8, 30, 3)}) {
        SCOPED_TRACE(testing::Message() << "refill spacing " << refill.fillParams[0].fLineSpacing);
        Desk d;
        CODEBAR_PAR code;
        code.nCodeType = 20;
        code.bShowText = 1;
        code.strTextFont = dejavu;
        code.bTextFill = 1;
        code.parTextFill = ::Hatch(0.4, 45, 3);
        // An SHX text has no fill shapes: its switch and parameters are its fill.
        const std::vector<CFonts*> texts{Lay(d, L"Og", 0, dejavu, {-20, -40}, small),
                                         Lay(d, L"4567", 2, GetCodebarInstance()->GetTypeName(20), {0, -20}, small, code),
                                         Lay(d, L"K1", 1, CString(L"Simtxt"), {20, -40}, small)};
        auto* group = new CGroupShape();
        group->SetDocView(&d, &d.view);
        for (CFonts* t : texts) {
            testsupport::FillWith(*t, ::Hatch(0.5, 0, 3));
            group->GetChildren().push_back(t);
        }
        d.RestoreShapeList({group});
        d.AdoptShape(group);
        std::vector<Marks> marks{d.Mark()};
        std::vector<Bytes> saved{d.Save()};
        auto recorded = [&](CUND_Base* record) {
            d.core.AddUndoItem(record);
            marks.push_back(d.Mark());
            saved.push_back(d.Save());
        };

        group->Rotate(30, {-18, -38});
        recorded(new CUND_Rotate(new stRotateUndo{{group->GetBaseID()}, {-18, -38}, 30}));
        auto* ungroup = new stUngroupUndo;
        ungroup->before = d.GetShapeList();
        ungroup->after.assign(texts.begin(), texts.end());
        ungroup->vecFilled.assign(texts.begin(), texts.end());
        for (CFonts* t : texts) t->DeleteFill();
        d.RestoreShapeList(ungroup->after);
        recorded(new CUND_Ungroup(ungroup));
        for (CFonts* t : texts) {
            recorded(new CUND_FONTFill(FillText(d, t, refill, 0)));
        }

        UndoAndRedoTwice(d, marks, saved, 2e-3, 2e-4, true);
    }
}

}  // namespace

namespace {

// A small filled text flipped, then filled anew and turned many times over:
// each undone fill gives back the turned hatch it replaced, also beyond the
// last sixteen, and the fill shapes save as they did (flipped).
TEST_F(TextUndoRandom, ManyFillsOfASmallTextComeBack) {
    Desk d;
    CFonts* t = Lay(d, L"Og", 0, dejavu, {0, 0}, small);
    const std::vector<GUID> ids{t->GetBaseID()};
    testsupport::FillWith(*t, ::Hatch(0.4, 15, 3));
    std::vector<Marks> marks{d.Mark()};
    std::vector<Bytes> saved{d.Save()};
    // Flipped with its fill: the fill shapes kept for the undo save flipped.
    t->Zoom({1.5f, 0.75f}, -1.0, 1.0);
    d.core.AddUndoItem(new CUND_Resize(new stResizeUndo{ids, {1.5f, 0.75f}, -1.0, 1.0}));
    marks.push_back(d.Mark());
    saved.push_back(d.Save());
    for (int i = 0; i < 24; ++i) {
        const BYTE hadFill = static_cast<BYTE>(t->bFilled != 0);
        d.core.AddUndoItem(new CUND_FONTFill(FillText(d, t, ::Hatch(0.3 + 0.1 * (i % 3), 0, 1 + i % 2), hadFill)));
        marks.push_back(d.Mark());
        saved.push_back(d.Save());
        t->Rotate(25, {1, 1});
        d.core.AddUndoItem(new CUND_Rotate(new stRotateUndo{ids, {1, 1}, 25}));
        marks.push_back(d.Mark());
        saved.push_back(Bytes());
    }
    while (d.core.IsAbleToUndo()) {
        d.core.OnEditUndo();
        const size_t at = static_cast<size_t>(d.core.m_nUndoPos);
        const std::string diff = MarksDiffer(d.Mark(), marks[at], 2e-3);
        ASSERT_TRUE(diff.empty()) << "undo to " << at << ": " << diff;
        SavedCompare cmp(1e-4);
        if (!saved[at].empty()) {
            EXPECT_TRUE(cmp.Lists(d.Save(), saved[at])) << "undo to " << at << ": " << cmp.where;
        }
    }
}

}  // namespace

namespace {

// The text dialog closed with new values and a new position at once, as the
// record holds them: SetFonts with the values, then the move. Undone and
// redone (twice over), every step gives back the saved fields (within 1e-5)
// and the mark data, polyline for polyline, from before it.
TEST_F(TextUndoRandom, ContentEditsThatMoveComeBackExactly) {
    using Change = std::function<void(FONTS_PAR&, CODEBAR_PAR&)>;
    struct Edit {
        Change change;
        float dx, dy;
    };
    struct Case {
        const char* name;
        std::function<CFonts*(Desk&)> make;
        std::vector<Edit> edits;
    };
    FILLED_PARS twoSets = ::Hatch(0.25, 30, 2);
    twoSets.fillParams[1] = twoSets.fillParams[0];
    twoSets.fillParams[1].nIndex = 1;
    twoSets.fillParams[1].fAngle = 105;
    twoSets.fillParams[1].fLineSpacing = 0.35f;
    const std::vector<Case> cases{
        {"slanted filled O",
         [&](Desk& d) {
             CFonts* t = Lay(d, L"O", 0, dejavu, {3.5f, -2.25f}, small);
             t->Slope({1.25f, 0.5f}, -0.056, 0);
             FILLED_PARS p = twoSets;
             t->SetFill(p, false);
             return t;
         },
         {{[](FONTS_PAR&, CODEBAR_PAR&) {}, 1, 0}}},
        {"code 128 edited twice",
         [&](Desk& d) {
             CODEBAR_PAR c;
             c.nCodeType = 20;
             c.fModuleWidth = 0.75f;
             CFonts* t = Lay(d, L"X1", 2, GetCodebarInstance()->GetTypeName(20), {0, 0}, {}, c);
             FILLED_PARS p = ::Hatch(0.3, 60, 3);
             t->SetFill(p, false);
             return t;
         },
         {{[](FONTS_PAR&, CODEBAR_PAR& c) { c.fModuleWidth = 0.5f; }, -5.25f, -9.25f},
          {[](FONTS_PAR&, CODEBAR_PAR& c) { c.bInverse = 1; }, -6.25f, -10}}},
        {"vertical wider",
         [&](Desk& d) {
             FONTS_PAR f;
             f.dHeight = 4;
             f.bVertical = 1;
             CFonts* t = Lay(d, L"Ab", 0, dejavu, {-7, 6.5f}, f);
             t->Rotate(35, {2, 3});
             FILLED_PARS p = ::Hatch(0.3, 45, 1);
             t->SetFill(p, false);
             return t;
         },
         {{[](FONTS_PAR& f, CODEBAR_PAR&) { f.dWidthRatio = 60; }, 2, 0.25f}}},
        {"mirrored dots bold",
         [&](Desk& d) {
             CFonts* t = Lay(d, L"12", 3, dejavu, {-4, 2}, small);
             t->Mirror({1.5f, -0.75f}, 1);
             t->SetMirrorFlag(1);
             return t;
         },
         {{[](FONTS_PAR& f, CODEBAR_PAR&) { f.bBold = !f.bBold; }, 4.5f, -3.75f},
          {[](FONTS_PAR& f, CODEBAR_PAR&) { f.bBold = !f.bBold; }, -1.5f, 0.5f}}},
        {"zoomed, moved",
         [&](Desk& d) {
             CFonts* t = Lay(d, L"Kg", 0, dejavu, {1.3f, -2.7f}, small);
             // Its position is no longer a sum of eighths: a move back by
             // the difference of the two positions is not the move's exact
             // opposite.
             t->Zoom({0.3f, 0.7f}, 0.8, 0.8);
             return t;
         },
         {{[](FONTS_PAR& f, CODEBAR_PAR&) { f.dWidthRatio = 52; }, 1.375f, -7.875f}}},
        {"slant set, shx",
         [&](Desk& d) {
             FONTS_PAR f;
             f.dHeight = 5;
             f.dSlantAngle = 12;
             return Lay(d, L"K1", 1, CString(L"Simtxt"), {2, 2}, f);
         },
         {{[](FONTS_PAR& f, CODEBAR_PAR&) { f.dHeight = 6; }, 0.75f, -2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        CFonts* t = c.make(d);
        std::vector<Marks> marks{d.Mark()};
        std::vector<Bytes> saved{d.Save()};
        for (const Edit& e : c.edits) {
            stFontsUndo* p = DialogRecord(t);
            e.change(p->fontsNew, p->codebarNew);
            const bool mirrored = t->GetMirrorFlag() > 0;
            if (mirrored) t->Mirror({0, 0}, 1);
            ASSERT_EQ(SetNewValues(t, *p), 1);
            if (mirrored) t->Mirror({0, 0}, 1);
            t->Move(e.dx, e.dy);
            p->ptNew = t->fontspos;
            d.core.AddUndoItem(new CUND_Fonts(p));
            marks.push_back(d.Mark());
            saved.push_back(d.Save());
        }
        UndoAndRedoTwice(d, marks, saved, 1e-5, 1e-5, false);
    }
}

// A text placed with a slant in its parameters shows it: the dialog closed
// with OK, its own values set again, leaves every point where it was.
TEST_F(TextUndoRandom, PlacedSlantedTextStaysAtItsFirstEdit) {
    for (int type : {0, 1}) {
        SCOPED_TRACE(type);
        Desk d;
        auto* t = new CFonts();
        d.AddShape(t);
        t->SetDocView(&d, &d.view);
        t->nFontType = type;
        t->parFonts.dHeight = 5;
        t->parFonts.dSlantAngle = 15;
        ASSERT_EQ(t->InitFontsPath({2.5f, -1.75f}, CString(L"IK"), CString(type == 1 ? L"Simtxt" : L"DejaVu Sans"),
                                   false),
                  1);
        const Marks before = d.Mark();
        TextContent tc(t);
        ASSERT_EQ(t->SetFonts(tc.text, tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 0, 1, false), 1);
        EXPECT_EQ(MarksDiffer(d.Mark(), before, 1e-5, false), "");
    }
}

}  // namespace
