// Undo records of the polygon's own edits: a vertex drag (the ring of the
// dragged vertex was scaled and turned) and a change of its frame and side
// count. Each record owns its payload and frees it when destroyed.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/history/undo_base.h"

class CPolygon;

// The drag of one polygon vertex: its ring was scaled by dFactor and turned
// by dAngle (radians).
struct MORVIK_API stPolygonDrag {
    std::vector<GUID> ids;
    int nIndex = 0;
    double dFactor = 1.0;
    double dAngle = 0.0;
};

// A polygon rebuilt in another frame (Y its top edge) with another side count.
struct MORVIK_API stPolygonBorder {
    GUID id{};
    Gdiplus::RectF rcOld;
    Gdiplus::RectF rcNew;
    int nOldBorder = 0;
    int nNewBorder = 0;
};

class MORVIK_API CUND_PolygonDrag : public CUND_Base {
public:
    CUND_PolygonDrag() = default;
    // Takes ownership of the payload.
    explicit CUND_PolygonDrag(stPolygonDrag* payload) : m_pData(payload) {}
    ~CUND_PolygonDrag() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // Every polygon of the list gets the inverse drag (undo) or the drag
    // again (redo). A factor that is not above 1e-7 replays as nothing.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stPolygonDrag* m_pData = nullptr;

private:
    int Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_Polygon_Border : public CUND_Base {
public:
    CUND_Polygon_Border() = default;
    // Takes ownership of the payload.
    explicit CUND_Polygon_Border(stPolygonBorder* payload) : m_pData(payload) {}
    ~CUND_Polygon_Border() override;

    // Rebuilds the polygon with the old (undo) or new (redo) side count and
    // fits it into that frame. A missing shape is reported. Both return 0.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    // The frame replay: InitPolygon(frame, sides), then, when the polygon's
    // rectangle differs from the frame, a move and a zoom that make it fit.
    static void ApplyFrame(CPolygon* polygon, const Gdiplus::RectF& frame, int sides);

    stPolygonBorder* m_pData = nullptr;
};
