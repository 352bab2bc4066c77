#include "morvik/history/undo_base.h"

#include <algorithm>

#include "morvik/afx/message_box.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"
#include "morvik/host/host_services.h"

// A document without an editing history has nowhere to keep a record.
void CBaseDoc::AddUndo(CUND_Base* record) {
    if (record != nullptr) {
        record->Destroy();
        delete record;
    }
}

CBaseShape* CUND_Base::FindShape(CCore* core, const GUID& id) {
    return core != nullptr ? core->GetShapeBaseID(id) : nullptr;
}

CBaseShape* CUND_Base::FindShapeOrReport(CCore* core, const GUID& id) {
    CBaseShape* shape = FindShape(core, id);
    if (shape == nullptr) {
        AfxMessageBox(L"Can't found shape by id", MB_OK);
    }
    return shape;
}

void CUND_Base::InvalidateView(CCore* core) {
    if (core != nullptr && core->m_pView != nullptr) {
        core->m_pView->Invalidate(TRUE);
    }
}

void CUND_Base::RedrawViewNow(CCore* core) {
    if (core != nullptr && core->m_pView != nullptr) {
        core->m_pView->RedrawWindow();
    }
}

void CUND_Base::NotifyListChanged(CCore* core) {
    if (core != nullptr && core->m_pDoc != nullptr) {
        core->m_pDoc->OnShapeListChanged();
    }
}

void CUND_Base::NotifyParamChanged(CCore* core, CBaseShape* shape) {
    if (core != nullptr && core->m_pDoc != nullptr) {
        core->m_pDoc->OnShapeParamChanged(shape, 0);
    }
}

void CUND_Base::PostPanelMessage(CCore* core, CBaseShape* shape, int window) {
    if (core == nullptr || core->m_pDoc == nullptr || window < 0 || window > 1) {
        return;
    }
    HWND wnd = core->m_pDoc->m_hNotifyWnd[window];
    if (wnd == nullptr) {
        return;
    }
    PostMessageW(wnd, WM_UNDO_SHAPE_PANEL, static_cast<WPARAM>(window), reinterpret_cast<LPARAM>(shape));
}

void CUND_Base::RefreshFramePanels() {
    if (CBaseFrame* frame = CBaseFrame::GetMainFrame()) {
        frame->RefreshPanels(TRUE);
    }
}

void CUND_Base::SetLastTouched(CCore* core, const std::vector<GUID>& ids) {
    if (core != nullptr) {
        core->m_vecLastShapeIDs = ids;
    }
}

void CUND_Base::SetLastTouched(CCore* core, const GUID& id) {
    if (core != nullptr) {
        core->m_vecLastShapeIDs.clear();
        core->m_vecLastShapeIDs.push_back(id);
    }
}

std::vector<CBaseShape*> CUND_Base::LinkedShapes(CCore* core, CBaseShape* shape) {
    std::vector<CBaseShape*> found;
    if (core == nullptr || core->m_pDoc == nullptr || shape == nullptr || !shape->GetLinkFlag()) {
        return found;
    }
    // A copy: the linked shapes' own replays may touch the list.
    const std::vector<GUID> ids = shape->GetLinkedIDs();
    for (const GUID& id : ids) {
        CBaseShape* linked = core->m_pDoc->GetShapeByUUID(id);
        if (linked == nullptr || linked == shape || std::find(found.begin(), found.end(), linked) != found.end()) {
            continue;
        }
        found.push_back(linked);
    }
    return found;
}

tagPOINTF CUND_Base::MirrorCenterOf(CCore* core) {
    tagPOINTF centre{0.0f, 0.0f};
    if (core != nullptr && core->m_pDoc != nullptr) {
        core->m_pDoc->GetMirrorCenter(centre);
    }
    return centre;
}

CUND_Base::FlipState CUND_Base::TakeFlipsOff(CBaseShape* shape, tagPOINTF centre) {
    FlipState state;
    if (shape == nullptr) {
        return state;
    }
    state.bMirror = shape->GetMirrorFlag() > 0;
    state.bAntiX = shape->IsZoomAntiX();
    state.bAntiY = shape->IsZoomAntiY();
    if (state.bMirror) {
        shape->Mirror(centre, 1);
    }
    if (state.bAntiX) {
        shape->Zoom(centre, -1.0, 1.0);
    }
    if (state.bAntiY) {
        shape->Zoom(centre, 1.0, -1.0);
    }
    return state;
}

void CUND_Base::PutFlipsBack(CBaseShape* shape, tagPOINTF centre, const FlipState& state, FlipOrder order) {
    if (shape == nullptr) {
        return;
    }
    if (order == FlipOrder::MirrorAntiXAntiY && state.bMirror) {
        shape->Mirror(centre, 1);
    }
    if (state.bAntiX) {
        shape->Zoom(centre, -1.0, 1.0);
    }
    if (state.bAntiY) {
        shape->Zoom(centre, 1.0, -1.0);
    }
    if (order == FlipOrder::AntiXAntiYMirror && state.bMirror) {
        shape->Mirror(centre, 1);
    }
}
