#include "morvik/history/undo_polygon.h"

#include <cfloat>
#include <cmath>

#include "morvik/history/editing_core.h"
#include "morvik/shapes/polygon.h"

namespace {

// Factors at or below this replay as nothing: their inverse would blow the
// polygon up.
constexpr double kMinFactor = 1e-7;

}  // namespace

// ---- CUND_PolygonDrag ------------------------------------------------------

CUND_PolygonDrag::~CUND_PolygonDrag() {
    delete m_pData;
    m_pData = nullptr;
}

int CUND_PolygonDrag::Replay(CCore* core, bool undo) {
    if (m_pData == nullptr) {
        return 1;
    }
    const double factor = m_pData->dFactor;
    const double turn = m_pData->dAngle;
    const bool usable = factor > kMinFactor && std::isfinite(factor) && std::isfinite(turn);
    for (const GUID& id : m_pData->ids) {
        // Only a polygon has rings to drag; any other shape with that GUID
        // is left alone.
        auto* polygon = dynamic_cast<CPolygon*>(FindShape(core, id));
        if (polygon == nullptr || !usable) {
            continue;
        }
        if (undo) {
            polygon->DoDrag(m_pData->nIndex, 1.0 / factor, -turn);
        } else {
            polygon->DoDrag(m_pData->nIndex, factor, turn);
        }
    }
    RedrawViewNow(core);
    return 1;
}

int CUND_PolygonDrag::OnEditUndo(CCore* core) { return Replay(core, true); }
int CUND_PolygonDrag::OnEditRedo(CCore* core) { return Replay(core, false); }

// ---- CUND_Polygon_Border ---------------------------------------------------

CUND_Polygon_Border::~CUND_Polygon_Border() {
    delete m_pData;
    m_pData = nullptr;
}

void CUND_Polygon_Border::ApplyFrame(CPolygon* polygon, const Gdiplus::RectF& frame, int sides) {
    if (polygon == nullptr) {
        return;
    }
    polygon->InitPolygon(frame, sides);
    Gdiplus::RectF r;
    polygon->GetRectangle(r);
    if (r.X == frame.X && r.Y == frame.Y && r.Width == frame.Width && r.Height == frame.Height) {
        return;
    }
    polygon->Move(frame.X - r.X, frame.Y - r.Y);
    // An axis on which either rectangle is flat keeps its scale: a factor
    // of zero or infinity would destroy the polygon for good.
    auto factor = [](float want, float have) -> double {
        if (!(want > FLT_EPSILON) || !(have > FLT_EPSILON)) {
            return 1.0;
        }
        const float f = want / have;
        return std::isfinite(f) ? static_cast<double>(f) : 1.0;
    };
    polygon->Zoom(tagPOINTF{frame.X, frame.Y}, factor(frame.Width, r.Width), factor(frame.Height, r.Height));
}

int CUND_Polygon_Border::OnEditUndo(CCore* core) {
    if (m_pData == nullptr) {
        return 0;
    }
    if (CBaseShape* shape = FindShapeOrReport(core, m_pData->id)) {
        ApplyFrame(dynamic_cast<CPolygon*>(shape), m_pData->rcOld, m_pData->nOldBorder);
    }
    // The view's redraw repaints at once, so no separate update is needed.
    RedrawViewNow(core);
    return 0;
}

int CUND_Polygon_Border::OnEditRedo(CCore* core) {
    if (m_pData == nullptr) {
        return 0;
    }
    SetLastTouched(core, m_pData->id);
    if (CBaseShape* shape = FindShapeOrReport(core, m_pData->id)) {
        ApplyFrame(dynamic_cast<CPolygon*>(shape), m_pData->rcNew, m_pData->nNewBorder);
    }
    return 0;
}
