#include "morvik/history/undo_records_list.h"

#include <algorithm>

#include "morvik/compose/filledshape.h"
#include "morvik/core/params.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"
#include "morvik/text/fonts.h"

namespace {

CBaseDoc* DocOf(CCore* core) { return core != nullptr ? core->m_pDoc : nullptr; }

bool Lists(const ShapeListSnapshot& list, const CBaseShape* shape) {
    return std::find(list.begin(), list.end(), shape) != list.end();
}

// Appends a shape at the tail of the document's list unless the list holds
// it already: a pointer listed twice would be drawn, marked and removed twice.
void AppendOnce(CBaseDoc* doc, CBaseShape* shape) {
    if (doc == nullptr || shape == nullptr) {
        return;
    }
    const std::list<CBaseShape*>& shapes = doc->GetShapeList();
    if (std::find(shapes.begin(), shapes.end(), shape) == shapes.end()) {
        doc->AddShape(shape);
    }
}

}  // namespace

template <class Payload>
bool CUND_ListSwap<Payload>::Restore(CCore* core, bool undo) {
    CBaseDoc* doc = DocOf(core);
    if (m_pData == nullptr || doc == nullptr) {
        return false;
    }
    doc->RestoreShapeList(undo ? m_pData->before : m_pData->after);
    return true;
}

template class CUND_ListSwap<stListSwapUndo>;
template class CUND_ListSwap<stListSwapExUndo>;
template class CUND_ListSwap<stOpenORZUndo>;
template class CUND_ListSwap<stUngroupUndo>;
template class CUND_ListSwap<stDragDropUndo>;
template class CUND_ListSwap<stScrewUndo>;

// ---- plain list swaps ----------------------------------------------------------

void CUND_Delete::Destroy() {
    if (m_pData != nullptr) {
        m_pData->after.clear();
        m_pData->before.clear();
    }
}

int CUND_Delete::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_Delete::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    return 1;
}

int CUND_ShapeOverlay::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_ShapeOverlay::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    return 1;
}

int CUND_UnEditPointDelShape::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_UnEditPointDelShape::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    return 1;
}

int CUND_BestPath::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    RefreshFramePanels();
    return 1;
}

int CUND_BestPath::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    RefreshFramePanels();
    return 1;
}

CUND_SplitText::~CUND_SplitText() {
    if (m_pData != nullptr) {
        m_pData->nFlag = 0;
    }
}

int CUND_SplitText::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_SplitText::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    return 1;
}

// ---- grouping and loading --------------------------------------------------------

CUND_Group::~CUND_Group() {
    if (m_pData != nullptr) {
        m_pData->nFlag = 0;
    }
}

int CUND_Group::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_Group::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    RedrawViewNow(core);
    return 1;
}

CUND_OpenORZ::~CUND_OpenORZ() {
    if (m_pData != nullptr) {
        delete m_pData->pOwned;
        m_pData->pOwned = nullptr;
    }
}

int CUND_OpenORZ::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    return 1;
}

int CUND_OpenORZ::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    RedrawViewNow(core);
    return 1;
}

CUND_Array::~CUND_Array() { CUND_Array::Destroy(); }

void CUND_Array::Destroy() {
    if (m_pData != nullptr) {
        m_pData->vecOther.clear();
        m_pData->nFlag = 0;
        delete m_pData;
        m_pData = nullptr;
    }
}

int CUND_Array::OnEditUndo(CCore* core) {
    Restore(core, true);
    InvalidateView(core);
    NotifyListChanged(core);
    return 1;
}

int CUND_Array::OnEditRedo(CCore* core) {
    Restore(core, false);
    InvalidateView(core);
    NotifyListChanged(core);
    return 1;
}

// ---- CUND_Ungroup ----------------------------------------------------------------

// One entry per listed shape, in the order of the list; null where the
// shape is no text or its fill was not kept.
struct CUND_Ungroup::HeldFills {
    std::vector<std::unique_ptr<CFonts::HeldFill>> fills;
};

CUND_Ungroup::CUND_Ungroup(stUngroupUndo* payload) : CUND_ListSwap(payload) { TakeFills(false); }

CUND_Ungroup::~CUND_Ungroup() = default;

namespace {

CFonts* TextOf(CBaseShape* shape) {
    return shape != nullptr && shape->GetShapeKind() == SHAPE_FONTS ? dynamic_cast<CFonts*>(shape) : nullptr;
}

// A shape listed twice is handled at its first entry only: it lost its fill
// once.
bool ListedBefore(const std::vector<CBaseShape*>& shapes, size_t i) {
    return std::find(shapes.begin(), shapes.begin() + static_cast<std::ptrdiff_t>(i), shapes[i]) !=
           shapes.begin() + static_cast<std::ptrdiff_t>(i);
}

}  // namespace

void CUND_Ungroup::TakeFills(bool deleteFirst) {
    if (m_pData == nullptr) {
        return;
    }
    m_held = std::make_unique<HeldFills>();
    const std::vector<CBaseShape*>& shapes = m_pData->vecFilled;
    m_held->fills.resize(shapes.size());
    for (size_t i = 0; i < shapes.size(); ++i) {
        CFonts* text = TextOf(shapes[i]);
        if (text == nullptr || ListedBefore(shapes, i)) {
            continue;
        }
        const CBaseShape::ShapeGuard guard(text);
        if (deleteFirst) {
            text->DeleteFillHeld();
        }
        m_held->fills[i] = text->TakeDeletedFill();
    }
}

int CUND_Ungroup::OnEditUndo(CCore* core) {
    if (Restore(core, true)) {
        for (size_t i = 0; i < m_pData->vecFilled.size(); ++i) {
            CBaseShape* shape = m_pData->vecFilled[i];
            if (shape == nullptr || ListedBefore(m_pData->vecFilled, i)) {
                continue;
            }
            if (shape->GetShapeKind() != SHAPE_FONTS) {
                shape->FillShape(shape->GetFillParam());
                continue;
            }
            auto* text = dynamic_cast<CFonts*>(shape);
            if (text == nullptr) {
                continue;
            }
            // The fill it lost, exactly, while the text stands as the ungroup
            // left it; one change for a marking thread.
            const CBaseShape::ShapeGuard guard(text);
            if (m_held != nullptr && i < m_held->fills.size() && text->PutBackFill(m_held->fills[i])) {
                continue;
            }
            // A text keeps its fill in its own fill shapes: the first one
            // still holds the parameters. A text without them is left alone.
            if (!text->GetFills().empty() && text->GetFills().front() != nullptr) {
                FILLED_PARS par = text->GetFills().front()->GetFillParam();
                if (!text->RestoreReplacedFill(text->parFill, true)) {
                    text->SetFillHeld(par, false);
                }
            }
        }
    }
    InvalidateView(core);
    return 1;
}

int CUND_Ungroup::OnEditRedo(CCore* core) {
    if (Restore(core, false)) {
        // What the fills were this time is what the next undo gives back.
        TakeFills(true);
    }
    InvalidateView(core);
    return 1;
}

// ---- CUND_DragDrop ---------------------------------------------------------------

CUND_DragDrop::~CUND_DragDrop() { CUND_DragDrop::Destroy(); }

void CUND_DragDrop::Destroy() {
    if (m_pData != nullptr) {
        m_pData->after.clear();
        m_pData->before.clear();
        delete m_pData;
        m_pData = nullptr;
    }
}

int CUND_DragDrop::OnEditUndo(CCore* core) {
    if (Restore(core, true)) {
        for (CBaseShape* shape : m_pData->vecDragged) {
            if (shape != nullptr) {
                shape->SetSelectFlag(1, true);
            }
        }
    }
    RefreshFramePanels();
    return 1;
}

int CUND_DragDrop::OnEditRedo(CCore* core) {
    if (Restore(core, false)) {
        for (CBaseShape* shape : m_pData->vecDragged) {
            if (shape != nullptr) {
                shape->SetSelectFlag(1, true);
            }
        }
    }
    RefreshFramePanels();
    return 1;
}

// ---- CUND_Screw ------------------------------------------------------------------

CUND_Screw::~CUND_Screw() {
    if (m_pData != nullptr && m_pData->pAfter != nullptr) {
        CBaseShape* line = m_pData->pAfter;
        if (!Lists(m_pData->before, line) && !Lists(m_pData->after, line)) {
            delete line;
        }
        m_pData->pAfter = nullptr;
    }
}

int CUND_Screw::OnEditUndo(CCore* core) {
    if (!Restore(core, true)) {
        return 1;
    }
    InvalidateView(core);
    NotifyListChanged(core);
    NotifyParamChanged(core, m_pData->pBefore);
    return 1;
}

int CUND_Screw::OnEditRedo(CCore* core) {
    if (!Restore(core, false)) {
        return 1;
    }
    InvalidateView(core);
    NotifyListChanged(core);
    NotifyParamChanged(core, m_pData->pAfter);
    return 1;
}

// ---- CUND_Create -----------------------------------------------------------------

int CUND_Create::OnEditUndo(CCore* core) {
    if (m_pData != nullptr && core != nullptr) {
        core->ReMoveShape(m_pData->GetBaseID());
    }
    InvalidateView(core);
    return 1;
}

int CUND_Create::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        SetLastTouched(core, m_pData->GetBaseID());
        AppendOnce(DocOf(core), m_pData);
    }
    InvalidateView(core);
    return 1;
}

// ---- CUND_Paste ------------------------------------------------------------------

CUND_Paste::~CUND_Paste() {
    delete m_pData;
    m_pData = nullptr;
}

int CUND_Paste::OnEditUndo(CCore* core) {
    if (m_pData != nullptr && core != nullptr) {
        for (CBaseShape* shape : *m_pData) {
            if (shape != nullptr) {
                core->ReMoveShape(shape->GetBaseID());
            }
        }
    }
    InvalidateView(core);
    return 1;
}

int CUND_Paste::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        for (CBaseShape* shape : *m_pData) {
            AppendOnce(DocOf(core), shape);
        }
    }
    InvalidateView(core);
    return 1;
}

// ---- CUND_UnEditPointDelShapeFromCombine -------------------------------------------

CUND_UnEditPointDelShapeFromCombine::~CUND_UnEditPointDelShapeFromCombine() {
    delete m_pData;
    m_pData = nullptr;
}

namespace {

// The member list of a group or compound shape; null for other shapes.
std::vector<CBaseShape*>* MembersOf(CBaseShape* container) {
    if (container == nullptr) {
        return nullptr;
    }
    const CAD_SHAPE_TYPE kind = container->GetShapeKind();
    return (kind == SHAPE_GROUP || kind == SHAPE_COMBINE) ? &container->GetChildren() : nullptr;
}

}  // namespace

int CUND_UnEditPointDelShapeFromCombine::OnEditUndo(CCore* core) {
    if (m_pData != nullptr && m_pData->pMember != nullptr) {
        std::vector<CBaseShape*>* members = MembersOf(m_pData->pContainer);
        // A member listed twice would be freed twice with its container.
        if (members != nullptr && std::find(members->begin(), members->end(), m_pData->pMember) == members->end()) {
            members->push_back(m_pData->pMember);
            m_pData->pContainer->InvalidateGeometry();
        }
    }
    InvalidateView(core);
    return 1;
}

int CUND_UnEditPointDelShapeFromCombine::OnEditRedo(CCore* core) {
    if (m_pData != nullptr && m_pData->pMember != nullptr) {
        if (std::vector<CBaseShape*>* members = MembersOf(m_pData->pContainer)) {
            auto it = std::find(members->begin(), members->end(), m_pData->pMember);
            if (it != members->end()) {
                members->erase(it);
                m_pData->pContainer->InvalidateGeometry();
            }
        }
    }
    InvalidateView(core);
    return 1;
}
