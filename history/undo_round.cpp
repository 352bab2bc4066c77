#include "morvik/history/undo_round.h"

#include "morvik/halder/baseshape.h"
#include "morvik/shapes/rectangle.h"

CUND_Round::~CUND_Round() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Round::Replay(CCore* core, const int* values) {
    const tagPOINTF centre = MirrorCenterOf(core);
    CBaseShape* last = nullptr;
    for (const GUID& id : m_pData->ids) {
        // Only rectangles have corners to set; anything else with that id
        // is left alone.
        auto* rect = dynamic_cast<CRectangle*>(FindShape(core, id));
        if (rect == nullptr) {
            continue;
        }
        // The corners are built on the upright, unflipped outline in its
        // unreversed point order: take a reversal off around the change too.
        ReplayFlipNeutral(rect, centre, FlipOrder::MirrorAntiXAntiY, [values](CBaseShape* shape) {
            auto* r = static_cast<CRectangle*>(shape);
            const bool reversed = r->IsAntiPath();
            if (reversed) {
                r->SortPath();
            }
            int copy[4] = {values[0], values[1], values[2], values[3]};
            r->SetRound(copy);
            if (reversed) {
                r->SortPath();
            }
        });
        last = rect;
    }
    // Without a rectangle there is nothing for the panel to show.
    if (last != nullptr) {
        PostPanelMessage(core, last, 0);
    }
    InvalidateView(core);
}

int CUND_Round::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    Replay(core, m_pData->nOldRound);
    return 1;
}

int CUND_Round::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 1;
    }
    SetLastTouched(core, m_pData->ids);
    Replay(core, m_pData->nNewRound);
    return 1;
}
