#include "morvik/history/undo_records.h"

#include <algorithm>

#include "morvik/core/bezier.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/baseshape.h"
#include "morvik/history/editing_core.h"

// ---- CUND_BezierDrag -----------------------------------------------------------

CUND_BezierDrag::~CUND_BezierDrag() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_BezierDrag::Replay(CCore* core, bool undo) {
    // The arrays hold four entries: a larger count would make the curve read
    // past them.
    const int count = std::clamp(m_pData->nCount, 0, 4);
    for (const GUID& id : m_pData->ids) {
        auto* curve = dynamic_cast<CBezierCurve*>(FindShape(core, id));
        if (curve == nullptr) {
            continue;
        }
        // The curve gets its own copy: the stored segments must survive any
        // use it makes of them.
        stBezierPos pos[4];
        std::copy_n(undo ? m_pData->posOld : m_pData->posNew, 4, pos);
        curve->DoDrag(count, pos);
        curve->InvalidateGeometry();
    }
    RedrawViewNow(core);
}

int CUND_BezierDrag::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_BezierDrag::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_BezierChangeCurve ----------------------------------------------------

CUND_BezierChangeCurve::~CUND_BezierChangeCurve() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_BezierChangeCurve::Replay(CCore* core, int mode) {
    for (const stBezierCurve& entry : *m_pData) {
        auto* curve = dynamic_cast<CBezierCurve*>(FindShape(core, entry.id));
        if (curve == nullptr) {
            continue;
        }
        curve->ChangeCurve(entry, mode);
        curve->InvalidateGeometry();
    }
}

int CUND_BezierChangeCurve::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, 1);
    }
    return 1;
}

int CUND_BezierChangeCurve::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, 0);
    }
    return 1;
}

// ---- CUND_Circle_RD ------------------------------------------------------------

CUND_Circle_RD::~CUND_Circle_RD() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Circle_RD::Replay(CCore* core, bool undo) {
    CCircle* circle = nullptr;
    if (!m_pData->ids.empty()) {
        circle = dynamic_cast<CCircle*>(FindShape(core, m_pData->ids.front()));
    }
    if (circle != nullptr) {
        circle->SetData(undo ? m_pData->dataOld : m_pData->dataNew);
        circle->InvalidateGeometry();
        if (undo && core->m_pDoc != nullptr) {
            core->m_pDoc->OnShapeGeometryChanged(circle);
        }
    }
    RedrawViewNow(core);
}

int CUND_Circle_RD::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_Circle_RD::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_PolyLineAddDel -------------------------------------------------------

CUND_PolyLineAddDel::~CUND_PolyLineAddDel() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_PolyLineAddDel::Replay(CCore* core, bool undo) {
    const std::vector<stPolylinePos>& points = m_pData->points;
    const int flag = m_pData->nAdd;
    for (const GUID& id : m_pData->ids) {
        auto* polyline = dynamic_cast<CPolyLine*>(FindShape(core, id));
        if (polyline == nullptr) {
            continue;
        }
        // One change of the polyline, so marking never sees half of it.
        polyline->ReplayAddDel(flag, points, undo, m_pData->nClosedBefore);
        polyline->InvalidateGeometry();
    }
    RedrawViewNow(core);
}

int CUND_PolyLineAddDel::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_PolyLineAddDel::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_PolyLineDrag ---------------------------------------------------------

CUND_PolyLineDrag::~CUND_PolyLineDrag() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_PolyLineDrag::Replay(CCore* core, bool undo) {
    for (const stPolylineDragEntry& entry : *m_pData) {
        auto* polyline = dynamic_cast<CPolyLine*>(FindShape(core, entry.id));
        if (polyline == nullptr) {
            continue;
        }
        polyline->SetPoints(undo ? entry.before : entry.after);
        polyline->InvalidateGeometry();
    }
    RedrawViewNow(core);
}

int CUND_PolyLineDrag::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_PolyLineDrag::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}

// ---- CUND_ToCurve --------------------------------------------------------------

CUND_ToCurve::~CUND_ToCurve() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_ToCurve::Replay(CCore* core, bool undo) {
    CBaseShape* from = undo ? m_pData->pCurve : m_pData->pShape;
    CBaseShape* to = undo ? m_pData->pShape : m_pData->pCurve;
    CBaseDoc* doc = core != nullptr ? core->m_pDoc : nullptr;
    if (doc != nullptr && from != nullptr && to != nullptr) {
        std::list<CBaseShape*>& shapes = doc->GetShapeList();
        auto it = std::find(shapes.begin(), shapes.end(), from);
        if (it != shapes.end()) {
            *it = to;
            // Whatever the list holds belongs to the document.
            doc->AdoptShape(to);
        }
    }
    if (doc != nullptr) {
        doc->OnShapeListChanged();
        doc->OnShapeGeometryChanged(to);
    }
    RedrawViewNow(core);
}

int CUND_ToCurve::OnEditUndo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, true);
    }
    return 1;
}

int CUND_ToCurve::OnEditRedo(CCore* core) {
    if (m_pData != nullptr) {
        Replay(core, false);
    }
    return 1;
}
