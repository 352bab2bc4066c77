// Undo records of edits inside one shape's own geometry: Bezier node drags
// and segment changes, a circle's radius drag, polyline point insertions,
// deletions and drags, and the replacement of a shape by its curve form.
// The curve and polyline editors build the plain change records below and
// hand a record that owns them to the shape's document.
//
// Every record owns its payload and frees it when destroyed; the shapes a
// payload merely points to are never released by it.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/core/bezier_segment.h"
#include "morvik/halder/halder_types.h"
#include "morvik/history/undo_base.h"
#include "morvik/shapes/circle.h"

class CBaseShape;

// ---- plain change records of the shapes' node editors ---------------------

// One polyline point named by its position.
struct MORVIK_API stPolylinePos {
    int index = 0;
    tagPOINTF point;
};

// One Bezier segment named by its index in the curve.
struct MORVIK_API stBezierPos {
    int nIndex = 0;
    BEZIER_4POINTF_DRAW seg;
};

// What one Bezier node edit changed: the segments it put into the curve, the
// segments it took out, and the curve's GUID (GetBaseID).
//
// The editor also keeps where each segment stood: removedAt[i] is the index
// removed[i] had before the edit, addedAt[i] the index added[i] has after it
// (both ascending), and the closed flag before and after (-1: not known).
// The replay puts segments back at those indices; a record without them
// (indices empty) places each segment after the one whose end meets it.
struct MORVIK_API stBezierCurve {
    std::vector<BEZIER_4POINTF_DRAW> added;
    std::vector<BEZIER_4POINTF_DRAW> removed;
    GUID id{};
    std::vector<int> removedAt{};
    std::vector<int> addedAt{};
    int nClosedBefore = -1;
    int nClosedAfter = -1;
};

// ---- payloads ---------------------------------------------------------------

// Segments of the curves in ids before and after a drag; nCount entries of
// each array are used (never more than four).
struct MORVIK_API stBezierDragUndo {
    std::vector<GUID> ids;
    stBezierPos posOld[4];
    stBezierPos posNew[4];
    int nCount = 0;
};

// A circle's data before and after a radius drag; only the first id is used.
struct MORVIK_API stCircleRDUndo {
    std::vector<GUID> ids;
    SCircleData dataOld;
    SCircleData dataNew;
};

// Points inserted into (nAdd non-zero) or removed from (nAdd zero) the
// polylines in ids, in the order the edit applied them. nClosedBefore is the
// polyline's closed flag before the edit (-1: not known): removing the end
// point opens a closed polyline, and its undo closes it again.
struct MORVIK_API stPolylineAddDel {
    std::vector<GUID> ids;
    std::vector<stPolylinePos> points;
    int nAdd = 0;
    int nClosedBefore = -1;
};

// The moved points of one polyline after and before a drag.
struct MORVIK_API stPolylineDragEntry {
    std::vector<stPolylinePos> after;
    std::vector<stPolylinePos> before;
    GUID id{};
};

// A top-level shape replaced by its curve form. Neither shape is owned.
struct MORVIK_API stToCurveUndo {
    CBaseShape* pShape = nullptr;
    CBaseShape* pCurve = nullptr;
    std::vector<CBaseShape*> vecOther;  // kept for the builder; replays ignore it
};

// ---- records ----------------------------------------------------------------

class MORVIK_API CUND_BezierDrag : public CUND_Base {
public:
    CUND_BezierDrag() = default;
    // Takes ownership of the payload.
    explicit CUND_BezierDrag(stBezierDragUndo* payload) : m_pData(payload) {}
    ~CUND_BezierDrag() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // Every curve gets the old (undo) or new (redo) segments; then the view
    // is redrawn at once. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stBezierDragUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_BezierChangeCurve : public CUND_Base {
public:
    CUND_BezierChangeCurve() = default;
    // Takes ownership of the list.
    explicit CUND_BezierChangeCurve(std::vector<stBezierCurve>* payload) : m_pData(payload) {}
    ~CUND_BezierChangeCurve() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // Each entry's curve gets ChangeCurve(entry, 1) on undo, (entry, 0) on
    // redo. No repaint: the caller's next one shows the change. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    std::vector<stBezierCurve>* m_pData = nullptr;

private:
    void Replay(CCore* core, int mode);
};

class MORVIK_API CUND_Circle_RD : public CUND_Base {
public:
    CUND_Circle_RD() = default;
    // Takes ownership of the payload.
    explicit CUND_Circle_RD(stCircleRDUndo* payload) : m_pData(payload) {}
    ~CUND_Circle_RD() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // The first circle gets its old (undo) or new (redo) data back. Undo
    // tells the document the geometry changed; both redraw at once and
    // return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stCircleRDUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_PolyLineAddDel : public CUND_Base {
public:
    CUND_PolyLineAddDel() = default;
    // Takes ownership of the payload.
    explicit CUND_PolyLineAddDel(stPolylineAddDel* payload) : m_pData(payload) {}
    ~CUND_PolyLineAddDel() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // Undo applies the opposite edit to the stored points from last to
    // first; redo applies the edit again from first to last. Then the view
    // is redrawn at once. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stPolylineAddDel* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_PolyLineDrag : public CUND_Base {
public:
    CUND_PolyLineDrag() = default;
    // Takes ownership of the list.
    explicit CUND_PolyLineDrag(std::vector<stPolylineDragEntry>* payload) : m_pData(payload) {}
    ~CUND_PolyLineDrag() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // Each entry's polyline gets its points before (undo) or after (redo)
    // the drag; then the view is redrawn at once. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    std::vector<stPolylineDragEntry>* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_ToCurve : public CUND_Base {
public:
    CUND_ToCurve() = default;
    // Takes ownership of the payload (not of the shapes it names).
    explicit CUND_ToCurve(stToCurveUndo* payload) : m_pData(payload) {}
    ~CUND_ToCurve() override;

    LONG GetKind() override { return UND_KIND_ROTATE; }
    // The first top-level list node holding the curve form gets the
    // replaced shape back (undo), or the other way round (redo); no match
    // changes nothing. Then the document hears that its list and geometry
    // changed and the view is redrawn at once. Both return 1.
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

    stToCurveUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};
