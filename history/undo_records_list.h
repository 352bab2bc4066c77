// Undo records of operations that change which shapes the document lists, or
// their order. Most keep two snapshots of the document's top-level shape
// list, taken before and after the operation, and hand the document the one
// that is wanted. Snapshots hold pointers only: the shapes stay shared
// between the snapshots and the document, which owns every shape that was
// ever in its list.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <list>
#include <memory>
#include <vector>

#include "morvik/history/undo_base.h"

class CBaseShape;
class CObject;

// The document's top-level shapes in list order.
using ShapeListSnapshot = std::list<CBaseShape*>;

// ---- payloads ------------------------------------------------------------

// Delete, overlay, deletion outside node editing, marking-order optimisation.
struct MORVIK_API stListSwapUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
};

// Grouping, text splitting and array copies. vecOther belongs to the
// operation that built the record; the replays do not read it.
struct MORVIK_API stListSwapExUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    std::vector<void*> vecOther;
    int nFlag = 0;
};

// Loading a shape file: pOwned (may be null) is deleted with the record.
struct MORVIK_API stOpenORZUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    std::vector<void*> vecOther;
    CObject* pOwned = nullptr;
};

// Ungrouping: vecFilled are the shapes whose fills an undo rebuilds.
struct MORVIK_API stUngroupUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    std::vector<CBaseShape*> vecFilled;
};

// Drag-and-drop in the shape list: vecDragged are selected again after each
// replay; vecOther is not read.
struct MORVIK_API stDragDropUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    std::vector<CBaseShape*> vecDragged;
    std::vector<CBaseShape*> vecOther;
};

// A spiral line made from pBefore: pAfter is the new spiral line.
struct MORVIK_API stScrewUndo {
    ShapeListSnapshot before;
    ShapeListSnapshot after;
    CBaseShape* pBefore = nullptr;
    CBaseShape* pAfter = nullptr;
};

// A member taken out of a group or compound shape.
struct MORVIK_API stCombineMemberUndo {
    CBaseShape* pContainer = nullptr;
    CBaseShape* pMember = nullptr;
};

// ---- records ---------------------------------------------------------------
// Every replay returns 1; a record without payload changes nothing.

// The common part of the snapshot records: undo restores "before", redo
// "after".
template <class Payload>
class MORVIK_API CUND_ListSwap : public CUND_Base {
public:
    CUND_ListSwap() = default;
    explicit CUND_ListSwap(Payload* payload) : m_pData(payload) {}
    ~CUND_ListSwap() override {
        delete m_pData;
        m_pData = nullptr;
    }
    Payload* m_pData = nullptr;

protected:
    // False without payload or document.
    bool Restore(CCore* core, bool undo);
};

class MORVIK_API CUND_Delete : public CUND_ListSwap<stListSwapUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    LONG GetKind() override { return UND_KIND_DELETE; }
    // Empties both snapshots; the payload stays until the record is deleted.
    void Destroy() override;
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

class MORVIK_API CUND_ShapeOverlay : public CUND_ListSwap<stListSwapUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    LONG GetKind() override { return UND_KIND_SHAPEOVERLAY; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

class MORVIK_API CUND_UnEditPointDelShape : public CUND_ListSwap<stListSwapUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    LONG GetKind() override { return UND_KIND_UNEDITPOINTDELSHAPE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// Also refreshes the main frame's panels.
class MORVIK_API CUND_BestPath : public CUND_ListSwap<stListSwapUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    LONG GetKind() override { return UND_KIND_BESTPATH; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

class MORVIK_API CUND_SplitText : public CUND_ListSwap<stListSwapExUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    ~CUND_SplitText() override;
    LONG GetKind() override { return UND_KIND_SPLITTEXT; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// Redo also repaints at once. SetVectorFile marks the group as made from a
// vector file.
class MORVIK_API CUND_Group : public CUND_ListSwap<stListSwapExUndo> {
public:
    CUND_Group() = default;
    explicit CUND_Group(stListSwapExUndo* payload) : CUND_ListSwap(payload), m_nVectorFile(0) {}
    ~CUND_Group() override;
    LONG GetKind() override { return UND_KIND_GROUP; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    void SetVectorFile() override { m_nVectorFile = 1; }
    int m_nVectorFile = 0;
};

// Also tells the document its list changed. Destroy empties the pointer
// vector and frees the payload; the destructor calls it.
class MORVIK_API CUND_Array : public CUND_ListSwap<stListSwapExUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    ~CUND_Array() override;
    LONG GetKind() override { return UND_KIND_ARRAY; }
    void Destroy() override;
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// Redo also repaints at once.
class MORVIK_API CUND_OpenORZ : public CUND_ListSwap<stOpenORZUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    ~CUND_OpenORZ() override;
    LONG GetKind() override { return UND_KIND_GROUP; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// Undo also rebuilds the fills of the listed shapes; redo takes the fills
// of the listed texts away. The record keeps the fill each listed text lost
// (taken when it is made after the ungroup, and again at every redo) and
// gives it back on undo as it was, hatch lines and identities included: a
// new fill of a text that was turned or slanted in its group is not the one
// it had.
class MORVIK_API CUND_Ungroup : public CUND_ListSwap<stUngroupUndo> {
public:
    CUND_Ungroup() = default;
    explicit CUND_Ungroup(stUngroupUndo* payload);
    ~CUND_Ungroup() override;
    LONG GetKind() override { return UND_KIND_UNGROUP; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;

private:
    struct HeldFills;
    // Takes the fills that the listed texts' last DeleteFill kept, after a
    // DeleteFill of each when deleteFirst is set.
    void TakeFills(bool deleteFirst);
    std::unique_ptr<HeldFills> m_held;
};

// Selects the dragged shapes again and refreshes the frame's panels (the
// view is not invalidated). Destroy empties the snapshots and frees the
// payload; the destructor calls it.
class MORVIK_API CUND_DragDrop : public CUND_ListSwap<stDragDropUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    ~CUND_DragDrop() override;
    LONG GetKind() override { return UND_KIND_DRAGDROP; }
    void Destroy() override;
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// The new spiral line is the record's only while it never was in the
// document's list: one found in either snapshot belongs to the document
// (which owns whatever its list ever held), so the record deletes only a
// line that no snapshot lists.
class MORVIK_API CUND_Screw : public CUND_ListSwap<stScrewUndo> {
public:
    using CUND_ListSwap::CUND_ListSwap;
    ~CUND_Screw() override;
    LONG GetKind() override { return UND_KIND_SCREW; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
};

// The payload is the created shape itself (not owned). Undo takes it off the
// document's list; redo appends it again and makes it the core's only last
// touched shape.
class MORVIK_API CUND_Create : public CUND_Base {
public:
    CUND_Create() = default;
    explicit CUND_Create(CBaseShape* shape) : m_pData(shape) {}
    ~CUND_Create() override { m_pData = nullptr; }
    LONG GetKind() override { return UND_KIND_CREATE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    CBaseShape* m_pData = nullptr;
};

// Undo takes each pasted shape off the list; redo appends them again in
// their stored order. The vector is owned, the shapes are not.
class MORVIK_API CUND_Paste : public CUND_Base {
public:
    CUND_Paste() = default;
    explicit CUND_Paste(std::vector<CBaseShape*>* shapes) : m_pData(shapes) {}
    ~CUND_Paste() override;
    LONG GetKind() override { return UND_KIND_PASTE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    std::vector<CBaseShape*>* m_pData = nullptr;
};

// Undo puts the member back at the end of its group's or compound shape's
// member list; redo takes its first entry out again. Containers of other
// kinds are left alone.
class MORVIK_API CUND_UnEditPointDelShapeFromCombine : public CUND_Base {
public:
    CUND_UnEditPointDelShapeFromCombine() = default;
    explicit CUND_UnEditPointDelShapeFromCombine(stCombineMemberUndo* payload) : m_pData(payload) {}
    ~CUND_UnEditPointDelShapeFromCombine() override;
    LONG GetKind() override { return UND_KIND_UNEDITPOINTDELSHAPEFROMCOMBINE; }
    int OnEditUndo(CCore* core) override;
    int OnEditRedo(CCore* core) override;
    stCombineMemberUndo* m_pData = nullptr;
};
