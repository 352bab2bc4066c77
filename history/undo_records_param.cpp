#include "morvik/history/undo_records_param.h"

#include <algorithm>
#include <cmath>

#include "morvik/halder/basedoc.h"
#include "morvik/compose/filledshape.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"
#include "morvik/shapes/picture.h"
#include "morvik/shapes/screwline.h"
#include "morvik/text/fonts.h"

namespace {

CBaseDoc* DocOf(CCore* core) { return core != nullptr ? core->m_pDoc : nullptr; }

bool Lists(const ShapeListSnapshot& list, const CBaseShape* shape) {
    return std::find(list.begin(), list.end(), shape) != list.end();
}

CFilledShape* AsFill(CBaseShape* shape) {
    return shape != nullptr && shape->GetShapeKind() == SHAPE_FILLED ? dynamic_cast<CFilledShape*>(shape) : nullptr;
}

CFonts* AsText(CBaseShape* shape) {
    return shape != nullptr && shape->GetShapeKind() == SHAPE_FONTS ? dynamic_cast<CFonts*>(shape) : nullptr;
}

// A fill shape takes the parameters and fills again; a text builds its fill
// through its own setter (never SetParam: its fill shapes are its own). An
// undo gives a text back the fill it had when it still holds it.
void Refill(CBaseShape* shape, const FILLED_PARS& par, bool undo) {
    if (CFilledShape* fill = AsFill(shape)) {
        fill->SetParam(par);
        fill->DoFill(0);
    } else if (CFonts* text = AsText(shape)) {
        const CBaseShape::ShapeGuard guard(text);
        FILLED_PARS copy = par;
        if (!undo || !text->RestoreReplacedFill(copy, true)) {
            text->SetFillHeld(copy, false);
        }
    } else if (shape != nullptr) {
        shape->InvalidateGeometry();
    }
}

// A text gets the fill it had before a fill edit: the old parameters, or no
// fill at all.
void RestoreTextFill(CBaseShape* shape, const FILLED_PARS& parOld, BYTE hadFill) {
    CFonts* text = AsText(shape);
    if (text == nullptr) {
        return;
    }
    // However many steps it takes, one change for a marking thread.
    const CBaseShape::ShapeGuard guard(text);
    FILLED_PARS copy = parOld;
    if (hadFill != 0) {
        // The fill it had, hatch as it was; built anew only when the text
        // no longer holds it.
        if (!text->RestoreReplacedFill(copy, true)) {
            text->SetFillHeld(copy, false);
        }
        return;
    }
    // No fill before: the fill goes and its parameters go back as well. A
    // barcode's filled readable text gets its hatch back as it was, or is
    // filled with them again, and every later layout reads them.
    if (text->RestoreReplacedFill(copy, false)) {
        return;
    }
    if (text->nFontType == FONT_TYPE_CODEBAR && text->parCodebar.bShowText != 0 && text->parCodebar.bTextFill != 0) {
        text->SetFillHeld(copy, true);
    }
    text->DeleteFillHeld();
    text->bFilled = 0;
    text->parFill = parOld;
    for (CFilledShape* fill : text->GetFills()) {
        if (fill != nullptr) {
            fill->SaveParamToCFG(parOld);
        }
    }
}

void RestoreTextFill(CBaseShape* shape, const stFontFillUndo& entry) {
    RestoreTextFill(shape, entry.parOld, entry.bOldHadFill);
}

// The texts that a fill change of shape reached through links (SetFill goes
// on along the links of the linked texts too), each with the fill it had
// before: read right after the change, while each text still knows it.
// Nothing when the caller listed them already.
void NoteLinkedFills(CBaseShape* shape, std::vector<stLinkedFillUndo>& out) {
    CFonts* text = AsText(shape);
    if (text == nullptr || !out.empty()) {
        return;
    }
    std::vector<CFonts*> reached{text};
    for (size_t k = 0; k < reached.size(); ++k) {
        for (CFonts* linked : reached[k]->LinkedTexts()) {
            if (std::find(reached.begin(), reached.end(), linked) == reached.end()) {
                reached.push_back(linked);
            }
        }
    }
    for (size_t k = 1; k < reached.size(); ++k) {
        stLinkedFillUndo entry;
        entry.id = reached[k]->GetBaseID();
        int filled = 0;
        reached[k]->GetFillBefore(entry.parOld, filled);
        entry.bOldHadFill = static_cast<BYTE>(filled != 0);
        out.push_back(entry);
    }
}

// After the undo of a fill change of shape: every text the change reached
// through a link gets its own old fill back. A record made without that
// list gives the linked texts the edited text's old fill.
void RestoreLinkedFills(CCore* core, CBaseShape* shape, const std::vector<stLinkedFillUndo>& linkedOld,
                        const FILLED_PARS& parOld, BYTE hadFill) {
    if (AsText(shape) == nullptr) {
        return;
    }
    if (linkedOld.empty()) {
        for (CBaseShape* linked : CUND_Base::LinkedShapes(core, shape)) {
            RestoreTextFill(linked, parOld, hadFill);
        }
        return;
    }
    for (const stLinkedFillUndo& entry : linkedOld) {
        CBaseShape* linked = CUND_Base::FindShape(core, entry.id);
        if (linked != shape) {
            RestoreTextFill(linked, entry.parOld, entry.bOldHadFill);
        }
    }
}

void RedoTextFill(CBaseShape* shape, const stFontFillUndo& entry) {
    if (CFonts* text = AsText(shape)) {
        FILLED_PARS copy = entry.parNew;
        text->SetFill(copy, false);
    }
}

void RestoreList(CCore* core, const ShapeListSnapshot& list) {
    if (CBaseDoc* doc = DocOf(core)) {
        doc->RestoreShapeList(list);
    }
}

}  // namespace

// ---- CUND_Fill -------------------------------------------------------------------

CUND_Fill::~CUND_Fill() {
    delete m_pData;
    m_pData = nullptr;
}

int CUND_Fill::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    RestoreList(core, m_pData->before);
    InvalidateView(core);
    NotifyListChanged(core);
    if (CBaseDoc* doc = DocOf(core)) {
        doc->OnFillUndone(m_pData->pFilled);
    }
    return 1;
}

int CUND_Fill::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    if (CFilledShape* fill = AsFill(m_pData->pFilled)) {
        fill->Params() = m_pData->fillPar;
    }
    if (m_pData->pFilled != nullptr) {
        m_pData->pFilled->InvalidateGeometry();
    }
    RestoreList(core, m_pData->after);
    InvalidateView(core);
    NotifyListChanged(core);
    NotifyParamChanged(core, m_pData->pFilled);
    return 1;
}

// ---- CUND_SetFill ----------------------------------------------------------------

CUND_SetFill::~CUND_SetFill() {
    delete m_pData;
    m_pData = nullptr;
}

CUND_SetFill::CUND_SetFill(stSetFillUndo* payload) : m_pData(payload) {
    if (m_pData != nullptr) {
        NoteLinkedFills(m_pData->pShape, m_pData->vecLinkedOld);
    }
}

void CUND_SetFill::Replay(CCore* core, bool undo) {
    Refill(m_pData->pShape, undo ? m_pData->parOld : m_pData->parNew, undo);
    // A text's new fill parameters reached the texts linked to it: its undo
    // gives them back their own fill as well (a redo's refill reaches them
    // by itself).
    if (undo) {
        RestoreLinkedFills(core, m_pData->pShape, m_pData->vecLinkedOld, m_pData->parOld, 1);
    }
    InvalidateView(core);
    NotifyListChanged(core);
    NotifyParamChanged(core, m_pData->pShape);
}

int CUND_SetFill::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_SetFill::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_FONTFill ---------------------------------------------------------------

CUND_FONTFill::~CUND_FONTFill() {
    delete m_pData;
    m_pData = nullptr;
}

CUND_FONTFill::CUND_FONTFill(stFontFillUndo* payload) : m_pData(payload) {
    if (m_pData != nullptr) {
        NoteLinkedFills(m_pData->pText, m_pData->vecLinkedOld);
    }
}

int CUND_FONTFill::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    RestoreList(core, m_pData->before);
    InvalidateView(core);
    NotifyListChanged(core);
    // The text first: a refill of it reaches its linked texts, which then
    // get their own old fill.
    RestoreTextFill(m_pData->pText, *m_pData);
    RestoreLinkedFills(core, m_pData->pText, m_pData->vecLinkedOld, m_pData->parOld, m_pData->bOldHadFill);
    NotifyParamChanged(core, m_pData->pText);
    return 1;
}

int CUND_FONTFill::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    RestoreList(core, m_pData->after);
    InvalidateView(core);
    NotifyListChanged(core);
    RedoTextFill(m_pData->pText, *m_pData);
    for (CBaseShape* linked : LinkedShapes(core, m_pData->pText)) {
        RedoTextFill(linked, *m_pData);
    }
    NotifyParamChanged(core, m_pData->pText);
    return 1;
}

// ---- CUND_MutliFill --------------------------------------------------------------

CUND_MutliFill::~CUND_MutliFill() {
    if (m_pData == nullptr) {
        return;
    }
    // Gather first: two entries may name the same filled shape, and a shape
    // must never be deleted twice.
    std::vector<CBaseShape*> release;
    for (stFillUndo* entry : m_pData->vecFill) {
        if (entry == nullptr || entry->pFilled == nullptr) {
            continue;
        }
        CBaseShape* filled = entry->pFilled;
        bool listed = Lists(m_pData->before, filled) || Lists(m_pData->after, filled);
        for (const stFillUndo* other : m_pData->vecFill) {
            listed = listed || (other != nullptr && (Lists(other->before, filled) || Lists(other->after, filled)));
        }
        if (!listed && std::find(release.begin(), release.end(), filled) == release.end()) {
            release.push_back(filled);
        }
    }
    for (CBaseShape* shape : release) {
        delete shape;
    }
    for (stFillUndo* entry : m_pData->vecFill) {
        delete entry;
    }
    for (stFontFillUndo* entry : m_pData->vecText) {
        delete entry;
    }
    for (stSetFillUndo* entry : m_pData->vecRefill) {
        delete entry;
    }
    delete m_pData;
    m_pData = nullptr;
}

CUND_MutliFill::CUND_MutliFill(stMultiFillUndo* payload) : m_pData(payload) {
    if (m_pData == nullptr) {
        return;
    }
    for (stFontFillUndo* entry : m_pData->vecText) {
        if (entry != nullptr) {
            NoteLinkedFills(entry->pText, entry->vecLinkedOld);
        }
    }
    for (stSetFillUndo* entry : m_pData->vecRefill) {
        if (entry != nullptr) {
            NoteLinkedFills(entry->pShape, entry->vecLinkedOld);
        }
    }
}

int CUND_MutliFill::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    RestoreList(core, m_pData->before);
    // The redo's SetFill reaches the texts linked to a filled text: the undo
    // gives them their own old fill back, as far as the record knows them.
    for (stFontFillUndo* entry : m_pData->vecText) {
        if (entry != nullptr) {
            RestoreTextFill(entry->pText, *entry);
            if (!entry->vecLinkedOld.empty()) {
                RestoreLinkedFills(core, entry->pText, entry->vecLinkedOld, entry->parOld, entry->bOldHadFill);
            }
        }
    }
    for (stSetFillUndo* entry : m_pData->vecRefill) {
        if (entry != nullptr) {
            Refill(entry->pShape, entry->parOld, true);
            if (!entry->vecLinkedOld.empty()) {
                RestoreLinkedFills(core, entry->pShape, entry->vecLinkedOld, entry->parOld, 1);
            }
        }
    }
    InvalidateView(core);
    NotifyListChanged(core);
    return 1;
}

int CUND_MutliFill::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    RestoreList(core, m_pData->after);
    for (stFontFillUndo* entry : m_pData->vecText) {
        if (entry != nullptr) {
            RedoTextFill(entry->pText, *entry);
        }
    }
    for (stFillUndo* entry : m_pData->vecFill) {
        if (entry == nullptr) {
            continue;
        }
        if (CFilledShape* fill = AsFill(entry->pFilled)) {
            fill->Params() = m_pData->fillPar;
            fill->InvalidateGeometry();
        }
    }
    for (stSetFillUndo* entry : m_pData->vecRefill) {
        if (entry != nullptr) {
            Refill(entry->pShape, entry->parNew, false);
        }
    }
    InvalidateView(core);
    NotifyListChanged(core);
    return 1;
}

// ---- CUND_SetScrew ---------------------------------------------------------------

CUND_SetScrew::~CUND_SetScrew() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_SetScrew::Replay(CCore* core, bool undo) {
    if (m_pData->pScrew != nullptr) {
        m_pData->pScrew->SetParam(undo ? m_pData->parOld : m_pData->parNew, nullptr);
        m_pData->pScrew->InvalidateGeometry();
    }
    InvalidateView(core);
    NotifyListChanged(core);
    NotifyParamChanged(core, m_pData->pScrew);
}

int CUND_SetScrew::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_SetScrew::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_Fonts ------------------------------------------------------------------

CUND_Fonts::~CUND_Fonts() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Fonts::Replay(CCore* core, bool undo) {
    CBaseShape* shape = m_pData->ids.empty() ? nullptr : FindShape(core, m_pData->ids.front());
    // Content that kept its first string kept its place too: the text
    // follows the stored offset. An undo takes the dialog's move back first:
    // the text then stands as the change left it, and the layout the change
    // replaced can come back whole.
    const bool keptPlace = m_pData->strOldFirst == m_pData->strNewFirst;
    const float dx = m_pData->ptOld.x - m_pData->ptNew.x;
    const float dy = m_pData->ptOld.y - m_pData->ptNew.y;
    // An unchanged position is no move: a text would record it.
    const bool offset = keptPlace && (dx != 0.0f || dy != 0.0f);
    CFonts* text = AsText(shape);
    if (text == nullptr) {
        if (shape != nullptr) {
            if (offset) shape->Move(undo ? dx : -dx, undo ? dy : -dy);
            PostPanelMessage(core, shape, 0);
        }
        NotifyListChanged(core);
        InvalidateView(core);
        return;
    }
    const tagPOINTF centre = MirrorCenterOf(core);
    FONTS_PAR fonts = undo ? m_pData->fontsOld : m_pData->fontsNew;
    CODEBAR_PAR codebar = undo ? m_pData->codebarOld : m_pData->codebarNew;
    // The text gets elements of its own: sharing the record's would let
    // the next marking move them, and a second replay would not restore
    // the values the record holds.
    VARTEXT_PAR vartext = (undo ? m_pData->varOld : m_pData->varNew).Clone();
    const CString& first = undo ? m_pData->strOldFirst : m_pData->strNewFirst;
    const CString& second = undo ? m_pData->strOldSecond : m_pData->strNewSecond;
    const int type = undo ? m_pData->nOldType : m_pData->nNewType;
    // An undone content change gives back the fill the text had, hatch
    // as it was, when the old content lays out where it stood.
    auto refilled = [undo](CFonts* t) {
        if (undo) {
            FILLED_PARS par = t->parFill;
            t->RestoreReplacedFill(par, t->bFilled != 0);
        }
    };
    {
        // Every step of the record on the text is one change for a marking
        // thread: the text's event is held across them all.
        const CBaseShape::ShapeGuard guard(text);
        bool movedBack = false;
        if (undo && offset) {
            text->MoveHeld(dx, dy);
            movedBack = true;
        }
        // The content was set in the text's unmirrored frame: the mirror
        // comes off around the document's mirror centre and goes back on.
        const bool mirrored = text->GetMirrorFlag() > 0;
        if (mirrored) {
            text->MirrorHeld(centre, 1);
        }
        text->KeepSerialsPastMarked(vartext);
        // Text on a curve: the text's own path-text switch follows the
        // record before the layout reads it.
        if (undo) {
            text->parFonts.bPathText = m_pData->fontsOld.bPathText;
            if (m_pData->fontsNew.bPathText != 0) {
                text->nFontType = m_pData->nNewType;
            }
        } else if (m_pData->nNewType == 4) {
            text->parFonts.bPathText = 1;
        }
        if (m_pData->fontsNew.bPathText != 0) {
            // The record holds the two angles only: the text keeps its
            // invert, align-top and inside switches.
            int base = 0, scope = 0, invert = 0, alignTop = 0, inside = 0;
            text->GetPathFontPara(base, scope, invert, alignTop, inside);
            text->SetPathFontPara(static_cast<int>(std::lround(fonts.dPathValue1)),
                                  static_cast<int>(std::lround(fonts.dPathValue2)), invert, alignTop, inside);
        }
        // An undo takes back the layout the change replaced, whole, when the
        // text stands as the change left it: a new layout of the old content
        // differs from it once the text was zoomed or slanted.
        bool restored = false;
        if (undo && text->RestoreReplacedLayout(first, type, second, &fonts, &codebar)) {
            restored = true;
        } else {
            text->SetFontsHeld(first, type, second, fonts, codebar, vartext, 0, 1, false, nullptr);
            refilled(text);
        }
        if (mirrored) {
            text->MirrorHeld(centre, 1);
        }
        if (!restored && !movedBack && offset) text->MoveHeld(undo ? dx : -dx, undo ? dy : -dy);
    }
    // The linked texts take the same content, each under its own event.
    for (CBaseShape* linked : LinkedShapes(core, text)) {
        if (CFonts* other = AsText(linked)) {
            const CBaseShape::ShapeGuard guard(other);
            if (undo && other->RestoreReplacedLayout(first, type, second, &fonts, &codebar)) continue;
            FONTS_PAR f = fonts;
            CODEBAR_PAR c = codebar;
            VARTEXT_PAR v = vartext.Clone();
            other->SetFontsHeld(first, type, second, f, c, v, 0, 1, false, nullptr);
            refilled(other);
        }
    }
    PostPanelMessage(core, shape, 0);
    NotifyListChanged(core);
    InvalidateView(core);
}

int CUND_Fonts::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_Fonts::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->ids);
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_Picture ----------------------------------------------------------------

CUND_Picture::~CUND_Picture() {
    delete m_pData;
    m_pData = nullptr;
}

CBaseShape* CUND_Picture::Replay(CCore* core, const PICTURE_PAR& par) {
    CBaseShape* last = nullptr;
    for (const GUID& id : m_pData->ids) {
        CBaseShape* shape = FindShapeOrReport(core, id);
        // A shape of another kind with that id has no picture to set.
        if (auto* picture = dynamic_cast<CPicture*>(shape)) {
            picture->SetPicture(par);
            picture->InvalidateGeometry();
            last = picture;
        }
    }
    return last;
}

int CUND_Picture::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 0;
    }
    CBaseShape* last = Replay(core, m_pData->parOld);
    if (last != nullptr) {
        PostPanelMessage(core, last, 0);
        PostPanelMessage(core, last, 1);
    }
    InvalidateView(core);
    // The view's redraw repaints at once, so no separate update is needed.
    RedrawViewNow(core);
    return 0;
}

int CUND_Picture::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 0;
    }
    if (CBaseShape* last = Replay(core, m_pData->parNew)) {
        PostPanelMessage(core, last, 0);
    }
    return 0;
}
