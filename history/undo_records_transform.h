// Undo records of whole-shape transforms: move, align, rotate, resize,
// slant, mirror, and the two parameter changes that are replayed in a
// shape's unflipped frame (arc angles and path direction). They keep the
// transform's parameters, not the shapes' geometry: undo applies the
// inverse transform, redo the transform again. Each replay ends by
// invalidating the view and returns 1.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <utility>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"
#include "morvik/history/undo_base.h"

class CBaseShape;

// ---- payloads (shapes in the order the operation transformed them) ---------

struct MORVIK_API stMoveUndo {
    std::vector<GUID> ids;
    float dx = 0.0f;
    float dy = 0.0f;
};

// Shape i moved by (vecDx[i], vecDy[i]).
struct MORVIK_API stAlignUndo {
    std::vector<GUID> ids;
    std::vector<float> vecDx;
    std::vector<float> vecDy;
};

// Turned counter-clockwise by dAngle degrees about ptCenter.
struct MORVIK_API stRotateUndo {
    std::vector<GUID> ids;
    tagPOINTF ptCenter;
    double dAngle = 0.0;
};

struct MORVIK_API stResizeUndo {
    std::vector<GUID> ids;
    tagPOINTF ptRef;
    float sx = 1.0f;
    float sy = 1.0f;
};

// The same as stResizeUndo for shapes held by pointer (not owned).
struct MORVIK_API stResizeShapesUndo {
    std::vector<CBaseShape*> shapes;
    tagPOINTF ptRef;
    float sx = 1.0f;
    float sy = 1.0f;
};

struct MORVIK_API stSlopeUndo {
    std::vector<GUID> ids;
    tagPOINTF ptBase;
    double a = 0.0;
    double b = 0.0;
};

struct MORVIK_API stMirrorUndo {
    std::vector<GUID> ids;
    tagPOINTF ptCenter;
    int nAxis = 0;
};

// The same as stMirrorUndo for shapes held by pointer (not owned).
struct MORVIK_API stMirrorShapesUndo {
    std::vector<CBaseShape*> shapes;
    tagPOINTF ptCenter;
    int nAxis = 0;
};

struct MORVIK_API stArcUndo {
    std::vector<GUID> ids;
    double dNewFirst = 0.0;
    double dNewSecond = 0.0;
    double dOldFirst = 0.0;
    double dOldSecond = 0.0;
};

struct MORVIK_API stSortPathUndo {
    std::vector<GUID> ids;
};

// ---- records -------------------------------------------------------------

// Undo moves back by (-dx, -dy), redo by (dx, dy). A record of exactly one
// shape whose link flag is set moves its linked shapes too. The document's
// selection frame follows the move.
class MORVIK_API CUND_Move : public CUND_Base {
public:
    CUND_Move() = default;
    explicit CUND_Move(stMoveUndo* payload) : m_pData(payload) {}
    ~CUND_Move() override;
    LONG GetKind() override { return UND_KIND_MOVE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stMoveUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, float dx, float dy);
};

// Shape i moves by its own delta. A shape without a delta of its own (the
// delta lists are shorter than the GUID list) is left where it is.
class MORVIK_API CUND_Align : public CUND_Base {
public:
    CUND_Align() = default;
    explicit CUND_Align(stAlignUndo* payload) : m_pData(payload) {}
    ~CUND_Align() override;
    LONG GetKind() override { return UND_KIND_ALIGN; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stAlignUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

class MORVIK_API CUND_Rotate : public CUND_Base {
public:
    CUND_Rotate() = default;
    explicit CUND_Rotate(stRotateUndo* payload) : m_pData(payload) {}
    ~CUND_Rotate() override;
    LONG GetKind() override { return UND_KIND_ROTATE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stRotateUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, double angle);
};

// Undo scales by (1/sx, 1/sy), redo by (sx, sy) about the reference point.
// A record of exactly one linked shape scales its linked shapes about the
// reference point shifted by the offset between the two rectangles as they
// were before the resize. A factor that cannot be inverted (zero or not
// finite) replays as nothing.
class MORVIK_API CUND_Resize : public CUND_Base {
public:
    CUND_Resize() = default;
    explicit CUND_Resize(stResizeUndo* payload) : m_pData(payload) {}
    ~CUND_Resize() override;
    LONG GetKind() override { return UND_KIND_RESIZE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stResizeUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
    // The reference point of a linked shape, worked out at the first replay
    // that meets it and kept: every replay scales about the point the resize
    // itself used. A flip moves a rectangle's edges, so the point cannot be
    // taken afresh from the rectangles after it.
    tagPOINTF LinkedReference(const CBaseShape& shape, const Gdiplus::RectF& main, const Gdiplus::RectF& linked,
                              bool undo);
    std::vector<std::pair<GUID, tagPOINTF>> m_linkedRefs;
};

// Scales the shapes it holds directly, whether or not the document still
// lists them. The payload is forgotten, not freed, when the record goes.
class MORVIK_API CUNDO_Resize : public CUND_Base {
public:
    CUNDO_Resize() = default;
    explicit CUNDO_Resize(stResizeShapesUndo* payload) : m_pData(payload) {}
    ~CUNDO_Resize() override { m_pData = nullptr; }
    LONG GetKind() override { return UND_KIND_RESIZE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stResizeShapesUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

// Redo slants by (a, b) about the point. The slant moves x by y tan a and y
// by x tan b at once, which also scales by 1 - tan a tan b: undo slants by
// (-a, -b) and takes that scale back. A slant that flattened the shapes
// (the scale is zero) replays as nothing on undo.
class MORVIK_API CUND_Slope : public CUND_Base {
public:
    CUND_Slope() = default;
    explicit CUND_Slope(stSlopeUndo* payload) : m_pData(payload) {}
    ~CUND_Slope() override;
    LONG GetKind() override { return UND_KIND_SLOPE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stSlopeUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, bool undo);
};

// A mirror is its own inverse. Undo also brings each shape's mirror flag
// back (f XOR axis, or 3 - axis for a flag of 0) before mirroring; redo
// gives each shape the flag it had when the mirror was first undone, so the
// flag keeps matching the geometry through any number of undos and redos.
class MORVIK_API CUND_Mirror : public CUND_Base {
public:
    CUND_Mirror() = default;
    explicit CUND_Mirror(stMirrorUndo* payload) : m_pData(payload) {}
    ~CUND_Mirror() override;
    LONG GetKind() override { return UND_KIND_MIRROR; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stMirrorUndo* m_pData = nullptr;

    // The mirror flag a shape gets back when a mirror about axis is undone.
    // The flag names the axes the shape is flipped in (1 x, 2 y, 3 both):
    // the undone mirror takes its axis back off, from any flag, so that an
    // undone sequence of mirrors ends with the flag it started from.
    static int UndoneMirrorFlag(int flag, int axis) { return (flag ^ axis) & 3; }

private:
    void Replay(CCore* core, bool undo);
    // The flags after the mirror, one per GUID, taken at the first undo.
    std::vector<int> m_flagsAfter;
};

// Mirrors the shapes it holds directly, in both directions. The payload is
// forgotten, not freed, when the record goes.
class MORVIK_API CUNDO_Mirror : public CUND_Base {
public:
    CUNDO_Mirror() = default;
    explicit CUNDO_Mirror(stMirrorShapesUndo* payload) : m_pData(payload) {}
    ~CUNDO_Mirror() override { m_pData = nullptr; }
    LONG GetKind() override { return UND_KIND_MIRROR; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stMirrorShapesUndo* m_pData = nullptr;

private:
    void Replay(CCore* core);
};

// Sets the old (undo) or new (redo) arc angles in each shape's unflipped
// frame.
class MORVIK_API CUND_Arc : public CUND_Base {
public:
    CUND_Arc() = default;
    explicit CUND_Arc(stArcUndo* payload) : m_pData(payload) {}
    ~CUND_Arc() override;
    LONG GetKind() override { return UND_KIND_ARC; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stArcUndo* m_pData = nullptr;

private:
    void Replay(CCore* core, double first, double second);
};

// Reverses each shape's path direction in its unflipped frame; undo and
// redo are the same operation.
class MORVIK_API CUND_SortPath : public CUND_Base {
public:
    CUND_SortPath() = default;
    explicit CUND_SortPath(stSortPathUndo* payload) : m_pData(payload) {}
    ~CUND_SortPath() override;
    LONG GetKind() override { return UND_KIND_SORTPATH; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stSortPathUndo* m_pData = nullptr;

private:
    void Replay(CCore* core);
};
