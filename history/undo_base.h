// The base of every undo record, the record kinds, and the replay steps that
// all records share: finding shapes by GUID, the closing notifications, the
// flip-neutral replay of parameters kept in a shape's unflipped frame, linked
// shapes and the core's list of last touched shapes.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <utility>
#include <vector>

#include "morvik/halder/halder_types.h"
#include "morvik/win32/windows.h"

class CCore;
class CBaseShape;

// What a record describes, as GetKind reports it. Several record classes
// share a kind; the kind is informational for the host and the core never
// looks at it. Values 1, 2, 14, 16, 17 and 19 are not used.
enum UNDO_KIND : LONG {
    UND_KIND_BASE = 0,  // also the picture and polygon-frame records
    UND_KIND_CREATE = 3,
    UND_KIND_PASTE = 4,
    UND_KIND_DELETE = 5,
    UND_KIND_MOVE = 6,
    UND_KIND_ROTATE = 7,  // also the node edits of curves, circles, polygons and polylines
    UND_KIND_RESIZE = 8,
    UND_KIND_SLOPE = 9,
    UND_KIND_MIRROR = 10,
    UND_KIND_DRAGDROP = 11,
    UND_KIND_ALIGN = 12,
    UND_KIND_GROUP = 13,  // also loading a shape file
    UND_KIND_UNGROUP = 15,
    UND_KIND_FILL = 18,
    UND_KIND_SETFILL = 20,
    UND_KIND_SCREW = 21,
    UND_KIND_SETSCREW = 22,
    UND_KIND_SPLITTEXT = 23,
    UND_KIND_SHAPEOVERLAY = 24,
    UND_KIND_ARRAY = 25,
    UND_KIND_ROUND = 26,
    UND_KIND_ARC = 27,
    UND_KIND_FONTS = 28,
    UND_KIND_SORTPATH = 29,
    UND_KIND_BESTPATH = 30,
    UND_KIND_UNEDITPOINTDELSHAPE = 31,
    UND_KIND_UNEDITPOINTDELSHAPEFROMCOMBINE = 32,
    UND_KIND_FONTFILL = 33,
    UND_KIND_MUTLIFILL = 34,
};
constexpr LONG UND_KIND_COUNT = 35;

// The message that tells the host's panels a shape's parameters came back;
// lParam is the shape.
constexpr UINT WM_UNDO_SHAPE_PANEL = WM_USER + 111;

// An undo record is created after its change was applied, so the first call
// it receives is OnEditUndo. Records are owned by the editing core (or by the
// document that forwards them there) and are never copied: a copy would
// release a shared payload twice.
class MORVIK_API CUND_Base {
public:
    CUND_Base() = default;
    CUND_Base(const CUND_Base&) = delete;
    CUND_Base& operator=(const CUND_Base&) = delete;

    // Lets the owner empty the record's shape lists ahead of its deletion;
    // deleting a record without it must leave nothing behind either.
    virtual void Destroy() {}
    virtual ~CUND_Base() = default;
    virtual LONG GetKind() { return UND_KIND_BASE; }
    virtual int OnEditUndo(CCore*) { return 1; }
    virtual int OnEditRedo(CCore*) { return 1; }
    // No record writes to the operation log.
    virtual int OutputLog(CCore*) { return 0; }
    virtual void SetVectorFile() {}

    // ---- shared replay steps ----------------------------------------------
    // The shape with that GUID among the document's top-level shapes and the
    // members of its compound shapes; null when none (or no core).
    static CBaseShape* FindShape(CCore* core, const GUID& id);
    // The same, but a missing shape is reported to the user with the message
    // "Can't found shape by id".
    static CBaseShape* FindShapeOrReport(CCore* core, const GUID& id);

    // Closing steps of a replay; each does nothing without its target.
    static void InvalidateView(CCore* core);
    static void RedrawViewNow(CCore* core);
    static void NotifyListChanged(CCore* core);
    static void NotifyParamChanged(CCore* core, CBaseShape* shape);
    // Posts WM_UNDO_SHAPE_PANEL with lParam = shape to the document's
    // notification window 0 or 1, with wParam = that index. A window the
    // document does not have is skipped.
    static void PostPanelMessage(CCore* core, CBaseShape* shape, int window);
    static void RefreshFramePanels();

    // The core's last touched shapes become exactly these GUIDs.
    static void SetLastTouched(CCore* core, const std::vector<GUID>& ids);
    static void SetLastTouched(CCore* core, const GUID& id);

    // The shapes linked to this one that the document still has, in the
    // order of its linked list; empty when its link flag is clear. The shape
    // itself and repeated entries are left out, so a change repeated on the
    // linked shapes reaches each of them once.
    static std::vector<CBaseShape*> LinkedShapes(CCore* core, CBaseShape* shape);

    // ---- flip-neutral replay ----------------------------------------------
    // The point about which flips are taken off and put back; the origin
    // without a document.
    static tagPOINTF MirrorCenterOf(CCore* core);

    // Which flips a shape had when they were taken off. Transforms toggle a
    // shape's flip state, so it is read once, before anything is undone.
    struct FlipState {
        bool bMirror = false;
        bool bAntiX = false;
        bool bAntiY = false;
    };
    // The order in which the flips are put back (they come off in the order
    // mirror, anti-x, anti-y; each flip is its own inverse).
    enum class FlipOrder { AntiXAntiYMirror, MirrorAntiXAntiY };

    static FlipState TakeFlipsOff(CBaseShape* shape, tagPOINTF centre);
    static void PutFlipsBack(CBaseShape* shape, tagPOINTF centre, const FlipState& state, FlipOrder order);

    // Takes the flips off, applies the change, puts the flips back.
    template <class Change>
    static void ReplayFlipNeutral(CBaseShape* shape, tagPOINTF centre, FlipOrder order, Change&& change) {
        if (shape == nullptr) {
            return;
        }
        const FlipState state = TakeFlipsOff(shape, centre);
        std::forward<Change>(change)(shape);
        PutFlipsBack(shape, centre, state, order);
    }
};
