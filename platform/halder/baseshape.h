// CBaseShape: the base of every drawing and marking object. It carries the
// identity of a shape (GUID, caption, kind, pen), its lock and mark-data cache,
// the 70-slot virtual interface with the base behaviour of each slot, and the
// static point functions that every shape's transforms use.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <functional>
#include <list>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

#include "morvik/afx/cobject.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/markdata.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"
#include "morvik/halder/sribase.h"
#include "morvik/win32/windows.h"

class CDC;
class CCustWnd;
class CBaseDoc;
class CBaseView;
class SriFile;
struct tagPenPar;
struct tagMarkCtlData;
struct FILLED_PARS;
struct tagXmlBuff;
struct GCodeContext;
namespace Gdiplus {
class Graphics;
class Pen;
}  // namespace Gdiplus

enum CAD_SHAPE_TYPE : int32_t {
    SHAPE_NONE = 0,
    SHAPE_POLYLINE = 3,
    SHAPE_CIRCLE = 4,
    SHAPE_ELLIPSEARC = 5,
    SHAPE_RECTANGLE = 6,
    SHAPE_BEZIER = 7,
    SHAPE_POLYGON = 8,
    SHAPE_POINTS = 9,
    SHAPE_DELAYEDTIMER = 10,
    SHAPE_GROUP = 11,
    SHAPE_COMBINE = 12,
    SHAPE_FONTS = 13,
    SHAPE_PICTURE = 14,
    SHAPE_FILLED = 15,
    SHAPE_SCREWLINE = 16,
    SHAPE_INPUT = 17,
    SHAPE_OUTPUT = 18,
    SHAPE_ENCODERDISTANCE = 19,
    SHAPE_EXEAXI = 20,
    SHAPE_DOCPARAM = 21,
};

// The running-number counter of one shape class: taken and incremented as one
// step, since shapes of one class are built on several threads at once.
class MORVIK_API CShapeCounter {
public:
    int Take() { return m_next.fetch_add(1); }
    void GiveBack() { m_next.fetch_sub(1); }
    void Reset() { m_next.store(1); }
    int Peek() const { return m_next.load(); }

private:
    std::atomic<int> m_next{1};
};

// A shape's type name. Shapes carry one of a few texts, by the hundred
// thousand: each text is kept once, and a shape holds it by reference. It
// reads as the CString it holds; assigning a CString shares its text.
class MORVIK_API SharedTypeName {
public:
    SharedTypeName();
    SharedTypeName& operator=(const CString& text);
    operator const CString&() const { return *m_text; }
    operator const wchar_t*() const { return m_text->GetString(); }
    const CString& Get() const { return *m_text; }
    const wchar_t* GetString() const { return m_text->GetString(); }

private:
    const CString* m_text;
};

// What a shape is and how it shows and marks, each field listed here once:
// a copy of a shape takes them whole (its identity and document links too:
// a Clone starts from a new shape instead and takes what it keeps by name).
struct ShapeAttributes {
    CAD_SHAPE_TYPE m_nKind = SHAPE_NONE;
    uint32_t m_nID = 0;
    CString m_strCaption;
    int m_nCountNum = 0;
    CBaseDoc* m_pDoc = nullptr;
    CBaseView* m_pView = nullptr;
    SharedTypeName m_strTypeName;
    unsigned char m_nPenIndex = 0;
    int m_bSelected = 0;
    GUID m_guid{};
    GUID m_parentGuid{};
    bool m_bVisible = true;
    uint8_t m_bReverseOrder = 0;
    bool m_bLink = false;
    bool m_bCloneElements = false;
    std::vector<GUID> m_linkedIDs;
    int m_nMirrorFlag = 0;
    bool m_bZoomAntiX = false;
    bool m_bZoomAntiY = false;
    bool m_bAntiPath = false;
    int m_nSubPolyType = 0;
    double m_dPickDistance = 5.0;  // device pixels
    float m_fSmoothRatio = 0.01f;
};

class MORVIK_API CBaseShape : public SriBase, protected ShapeAttributes {
    DECLARE_SERIAL(CBaseShape)

public:
    // The result of a transform or setter that changes nothing because its
    // numbers are unusable (not finite, or a result that would overflow).
    // No successful transform returns it; success is 0 for most kinds and 1
    // for some (a text's Move, the base class's transforms), so callers
    // compare with kRefused.
    static constexpr int kRefused = -1;

    CBaseShape();
    // A copy is a new object: it keeps the copied attributes and identity but
    // gets its own signalled event and an empty mark cache.
    CBaseShape(const CBaseShape& other);
    CBaseShape& operator=(const CBaseShape& other);
    ~CBaseShape() override;  // slot 1

    // ---- slots 2 to 4: CObject's, empty here -------------------------------
    void Serialize(CArchive& ar) override;
    void AssertValid() const override;
    void Dump(CDumpContext& dc) const override;

    // ---- slots 5 to 7: persistence ----------------------------------------
    void Save(bool extended, SriFile* file) override;
    void Read(bool extended, SriFile* file) override;
    void AddAllProp(bool extended) override;

    // ---- slots 8 to 69 ----------------------------------------------------
    virtual void FreeShapePtr();                                   // 8
    virtual CBaseShape* ToBezier();                                // 9
    virtual CBaseShape* ToPolyLine();                              // 10
    virtual void SetSubPolyType(int type);                         // 11
    virtual CBaseShape* Clone();                                   // 12
    virtual void FillShape(const FILLED_PARS& par);                // 13
    virtual FILLED_PARS GetFillParam();                            // 14
    virtual int SetPen(unsigned char pen);                         // 15
    virtual int ExportXmlToBuff(tagXmlBuff& buff);                 // 16
    virtual int ExportGCodeToBuff(GCodeContext& ctx);              // 17
    virtual CAD_SHAPE_TYPE GetShapeKind();                         // 18
    virtual int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b);      // 19
    virtual int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy);   // 20
    virtual int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre);         // 21
    virtual int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int mode,
                               float dx, float dy);                                        // 22
    virtual int Draw(CDC* dc, int mode, int a, int b, int c);                             // 23
    virtual int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int mode, int a, int b, int c, float dx,
                     float dy);                                                            // 24
    virtual int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy);  // 25
    virtual int DrawEditPoints(CDC* dc);                                                   // 26
    virtual int GetEditPoint(std::vector<tagPOINTF>& points);                              // 27
    virtual int ModifyEditPoint(int index, tagPOINTF point);                               // 28
    virtual int GetSnapPoint(std::vector<tagPOINTF>& points);                              // 29
    virtual int Move(float dx, float dy);                                                  // 30
    virtual int Rotate(double angle, tagPOINTF centre);                                    // 31
    virtual int Zoom(tagPOINTF fixed, double sx, double sy);                               // 32
    virtual int Slope(tagPOINTF fixed, double a, double b);                                // 33
    virtual int Mirror(tagPOINTF fixed, int mode);                                         // 34
    virtual int SortPath();                                                                // 35
    virtual int IsSelected();                                                              // 36
    virtual int SetSelectFlag(int flag, bool redraw);                                      // 37
    virtual int IsInRect(Gdiplus::RectF& rect);                                            // 38
    virtual int IsMe(tagPOINTF point);                                                     // 39
    virtual int IsMeNew(tagPOINTF point);                                                  // 40
    virtual int IsInClientRectF();                                                         // 41
    virtual int GetRectangle(Gdiplus::RectF& rect);                                        // 42
    virtual bool GetOutRectPath(std::vector<tagPathData>& paths);                          // 43
    virtual bool GetOutLinePath(std::vector<tagPathData>& paths);                          // 44
    virtual int GetArcDegree(double& start, double& sweep);                                // 45
    virtual int SetArcDegree(double start, double sweep);                                  // 46
    virtual int GetCircleProperty(double& x, double& y, double& r);                        // 47
    virtual int SetCircleProperty(double x, double y, double r);                           // 48
    virtual int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance);     // 49
    virtual int GetFlattenPathFirstPoint(tagPOINTF& point);                                // 50
    virtual int GetFlattenPathLastPoint(tagPOINTF& point);                                 // 51
    virtual double GetAngleFrom2Point(tagPOINTF p, tagPOINTF c);                           // 52
    virtual bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl);                    // 53
    virtual void SetGetDataForce(bool force);                                              // 54
    virtual void SetDocView(CBaseDoc* doc, CBaseView* view);                               // 55
    // Adds the shape (after its children, for containers) to the list, with
    // its parent GUID set from parent (null: top level).
    virtual void SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out);          // 56
    virtual CBaseDoc* GetShapeDoc();                                                       // 57
    virtual CBaseView* GetShapeView();                                                     // 58
    virtual unsigned char GetPenIndex() const;                                             // 59
    virtual int GetArcPath();                                                              // 60
    virtual void SetArcPath(int path);                                                     // 61
    virtual void AllDelCountNum();                                                         // 62
    virtual Gdiplus::RectF GetShapeRect();                                                 // 63
    virtual int IsSelectedForRect(Gdiplus::RectF& rect);                                   // 64
    virtual int IsIntersectRect(Gdiplus::RectF& rect);                                     // 65
    virtual void UpdatePropsValue();                                                       // 66
    virtual void PrepareBeforeMark(tagMarkCtlData ctl, int index);                         // 67
    virtual void CleanupAfterMark(int from, int to, tagMarkCtlData ctl);                   // 68
    virtual void ClearMarkBuff();                                                          // 69

    // ---- non-virtual base operations ---------------------------------------
    // Sets the caption and keeps the saved copy in step, so a caption
    // survives a save.
    void SetCaption(const CString& caption);
    // Gives the shape another running number; a caption of the default form
    // (type name and number) follows it, any other caption stays.
    void Renumber(int number);
    const CString& GetCaption() const { return m_strCaption; }
    const CString& GetTypeName() const { return m_strTypeName.Get(); }
    int GetCountNum() const { return m_nCountNum; }
    uint32_t GetID() const { return m_nID; }
    void SetID(uint32_t id) { m_nID = id; }
    GUID GetBaseID() const { return m_guid; }
    GUID GetParentBaseID() const { return m_parentGuid; }
    void SetBaseID(const GUID& id) { m_guid = id; }
    void SetParentBaseID(const GUID& id) { m_parentGuid = id; }
    void SetVisible(bool visible) { m_bVisible = visible; }
    bool IsVisible() const { return m_bVisible; }
    // The rectangle is a cache that readers fill (GetRectangle): a host's
    // editing thread and a marking thread may both write it, so it is
    // copied in and out under a small lock of its own.
    void SetShapeRect(const Gdiplus::RectF& rect) {
        const RectLock lock(m_rectBusy);
        m_rcShape = rect;
    }
    // The cached rectangle as it stands (GetShapeRect without the override).
    Gdiplus::RectF ShapeRectCopy() const {
        const RectLock lock(m_rectBusy);
        return m_rcShape;
    }
    // The flattening tolerance of this shape in millimetres.
    float GetSmoothRatio() const { return m_fSmoothRatio; }
    void SetSmoothRatio(float ratio);
    // A copy or a conversion marks as src does: its pen, smoothing ratio and
    // reverse-order flag (a container's children keep their own).
    void KeepMarkingOf(const CBaseShape& src);
    // The colour of a pen through the host's frame; -1 asks for the shape's own pen.
    COLORREF GetPenColor(int pen);
    // Decorates a drawing pen with the direction arrow of the shape's path.
    void SetPenArrow(Gdiplus::Graphics* g, Gdiplus::Pen* pen);
    // The small square that marks where the path starts, around a device point.
    Gdiplus::RectF GetStartRectInPoint(Gdiplus::PointF point);
    int GetMirrorFlag() const { return m_nMirrorFlag; }
    void SetMirrorFlag(int flag) { m_nMirrorFlag = flag; }
    bool IsZoomAntiX() const { return m_bZoomAntiX; }
    bool IsZoomAntiY() const { return m_bZoomAntiY; }
    // The fixed point and factors of the last zoom the shape took (false
    // before the first): an undo of a zoom worked out by its caller scales
    // back about the very point it used.
    bool GetLastZoom(tagPOINTF& fixed, double& sx, double& sy) const {
        fixed = m_lastZoomFixed;
        sx = m_lastZoomX;
        sy = m_lastZoomY;
        return m_bZoomed;
    }
    bool IsAntiPath() const { return m_bAntiPath; }
    // Flips the path-direction state that goes with a SortPath reversal.
    void SetPathState() { m_bAntiPath = !m_bAntiPath; }
    bool GetRectValid() const { return m_bRectValid.load(std::memory_order_relaxed) != 0; }
    void SetRectValid(bool valid) { m_bRectValid.store(valid ? 1 : 0, std::memory_order_relaxed); }
    // Marks the rectangle stale and forces the next GetMarkData to rebuild:
    // what every change of geometry or parameters must do.
    void InvalidateGeometry();
    bool GetDataForce() const { return m_bForce.load(std::memory_order_relaxed) != 0; }
    // A number that changes whenever the shape's geometry or parameters
    // change (every InvalidateGeometry and forced rebuild), unique across
    // the process.
    uint64_t GetChangeStamp() const { return m_changeStamp.load(std::memory_order_relaxed); }
    // The change stamps of every descendant, with their order and identity,
    // folded into one value: a container's mark cache is only as fresh as
    // this value at the time it was built.
    uint64_t GetDescendantStamp();
    // The per-shape event, made on first use: most shapes (the fills of a
    // text's characters, the shapes of an import) are never locked, and an
    // event is an entry in the process-wide handle table.
    HANDLE GetMarkEvent() const;
    tagMarkDataPar& GetMarkCache() { return m_markCache; }
    double GetPickDistance() const { return m_dPickDistance; }
    void SetPickDistance(double d) { m_dPickDistance = d; }
    bool GetLinkFlag() const { return m_bLink; }
    void SetLinkFlag(bool link) { m_bLink = link; }
    // Whether a text given variable-text parameters with two or more
    // elements takes its own copies of them instead of sharing the caller's.
    bool GetCloneElements() const { return m_bCloneElements; }
    void SetCloneElements(bool clone) { m_bCloneElements = clone; }
    std::vector<GUID>& GetLinkedIDs() { return m_linkedIDs; }
    bool IsReverseOrder() const { return m_bReverseOrder != 0; }
    void SetReverseOrder(bool reverse) { m_bReverseOrder = reverse ? 1 : 0; }
    int GetSubPolyType() const { return m_nSubPolyType; }
    // The members of a group or compound shape (the container class decides
    // which list it keeps them in and owns them).
    std::vector<CBaseShape*>& GetChildren() { return m_arrChildren; }
    std::vector<CBaseShape*>& GetParts() { return m_arrParts; }

    // Holds the shape's event from construction to destruction. Every
    // operation that changes what the shape marks, and drawing, takes one at
    // its top, so that GetMarkData on another thread sees the shape wholly
    // before or wholly after the change. The event is not re-entrant: inner
    // helpers take none, and a container takes its own before its members
    // take theirs (parent before child, so no two threads wait on each other).
    class ShapeGuard {
    public:
        explicit ShapeGuard(CBaseShape* shape) : m_shape(shape) {
            if (m_shape != nullptr) {
                m_shape->LockShape();
            }
        }
        ~ShapeGuard() {
            if (m_shape != nullptr) {
                m_shape->UnlockShape();
            }
        }
        ShapeGuard(const ShapeGuard&) = delete;
        ShapeGuard& operator=(const ShapeGuard&) = delete;

    private:
        CBaseShape* m_shape;
    };

    // Runs a call to the host (a repaint, a message, a notice) once this
    // thread holds no shape's event: at once when it holds none, otherwise
    // when it gives back the last one, in the order the calls were made. A
    // host that repaints or answers on another thread then finds every
    // shape free. Only the repeat question of marking is asked while held.
    static void WhenReleased(std::function<void()> call);
    // Asks the view to repaint (erasing) once the thread holds no event.
    void RepaintViewWhenReleased();

    // ---- static point functions (millimetres, y up, degrees unless noted) --
    // Turns p counter-clockwise about centre.
    static tagPOINTF PointfRotate(tagPOINTF p, tagPOINTF centre, double angle);
    // Turns points as PointfRotate does, with the sine and cosine taken once
    // for all of them: a shape turns every point by one angle.
    class PointRotator {
    public:
        PointRotator(tagPOINTF centre, double angle);
        tagPOINTF operator()(tagPOINTF p) const { return Turn(p, m_centre, m_cos, m_sin); }
        // p turned about centre by the angle of cosine c and sine s.
        static tagPOINTF Turn(tagPOINTF p, tagPOINTF centre, double c, double s) {
            const double dx = static_cast<double>(p.x) - centre.x;
            const double dy = static_cast<double>(p.y) - centre.y;
            return {static_cast<float>(centre.x + dx * c - dy * s), static_cast<float>(centre.y + dx * s + dy * c)};
        }

    private:
        tagPOINTF m_centre;
        double m_cos = 1.0;
        double m_sin = 0.0;
    };
    static tagPOINTF PointfZoom(tagPOINTF p, double sx, double sy, tagPOINTF fixed);
    // Slants about the fixed point; a and b are radians. x moves against
    // (y - fixed.y)·tan(a) and y against (x - fixed.x)·tan(b), so that a
    // slant by (90° - direction) stands a leaning edge upright.
    static tagPOINTF PointfSlope(tagPOINTF p, double a, double b, tagPOINTF fixed);
    static tagPOINTF PointfMirrorX(tagPOINTF p, tagPOINTF fixed);
    static tagPOINTF PointfMirrorY(tagPOINTF p, tagPOINTF fixed);
    static tagPOINTF PointfMirrorXY(tagPOINTF p, tagPOINTF fixed);
    // Mirror by mode: 1 flips x about the point, 2 flips y, 3 both; other
    // modes leave the point.
    static tagPOINTF PointfMirror(tagPOINTF p, tagPOINTF fixed, int mode);
    static tagPOINTF CenterPoint(const Gdiplus::RectF& rect);
    static tagPOINTF GetMidPointF(tagPOINTF a, tagPOINTF b);
    // dy/dx of the line through a and b (infinite for a vertical line).
    static double GetSlope(tagPOINTF a, tagPOINTF b);
    // Direction of b seen from a, degrees counter-clockwise from +x in [0, 360).
    static double Angle2P(tagPOINTF a, tagPOINTF b);
    // Bounding rectangle with Y the top edge; all zero for no points.
    static Gdiplus::RectF CalculateRectangle(const std::vector<tagPOINTF>& points);
    static bool GetCircleParamerFrom3P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, tagPOINTF& centre, double& radius);

    // The property copy of the caption that the base part saves.
    std::wstring m_wstrCaption;

protected:
    // The six construction steps after the members: kind, type name from the
    // language table, running number, caption.
    void InitShape(CAD_SHAPE_TYPE kind, const char* typeNameKey, CShapeCounter& counter,
                   const wchar_t* captionFormat = L"%s%d");
    // The common start of GetMarkData. Takes the shape's event. When the
    // cache can be reused (a view, a non-empty cache, no forced rebuild) it is
    // copied to the caller, the event is released and true comes back.
    // Otherwise the force flag is cleared and the cache restarts from the
    // caller's header fields with no paths (a caller's paths never pile up in
    // it); the event stays held for the rebuild: bind a MarkDataLock next.
    bool BeginMarkData(tagMarkDataPar& out);
    // Flattening tolerance of mark data, unless a shape says otherwise.
    static constexpr float kMarkTolerance = 0.25f;
    // How MarkFlattenedPath ends (the endings of MarkDataLock).
    enum class MarkEnding {
        // The caller's record receives the cache and, on success, the
        // shape's rectangle; after a failure it stays as the caller passed it.
        kFinish,
        // On success the shape's rectangle goes into the cache; then the
        // caller's record becomes a copy of the cache.
        kLeaveWithRect,
    };
    // The GetMarkData of a shape that marks its outline as one path. The
    // cache is reused as BeginMarkData allows; otherwise, under the shape's
    // event, the outline flattened at kMarkTolerance (with `keep` applied to
    // the points when given) becomes one path group with the shape's pen, the
    // cache's two path lists are reversed in order when `reversed` is set,
    // and the result is true. An outline without points leaves the cache's
    // path lists empty and gives false.
    bool MarkFlattenedPath(tagMarkDataPar& out, MarkEnding ending, bool reversed,
                           void (*keep)(std::vector<tagPOINTF>&) = nullptr);
    // What SetPen changes, for the overrides that hold the event already.
    void SetPenIndex(unsigned char pen);
    // Draws a hollow square handle around each point through the view (the
    // first one a pixel larger when markStart is set: it shows where the path
    // starts). Nothing without a device context or a view.
    void DrawPointHandles(CDC* dc, std::span<const tagPOINTF> points, bool markStart);
    // Waits for and releases the per-shape event (ShapeGuard and the mark-data
    // guard use them). A thread that waits on the event it already holds
    // would wait forever: that is reported and the process stops, so the
    // slip shows where it is made.
    void LockShape();
    void UnlockShape();
    friend class MarkDataLock;

    // The attributes a copy takes are ShapeAttributes.
    mutable std::atomic<HANDLE> m_hEvent{nullptr};
    // The thread that holds the event, for the check against a second wait.
    std::atomic<std::thread::id> m_lockOwner{};
    // Written by edits that hold no event of this shape (an undo record, a
    // member's change seen by its container), read by GetMarkData.
    std::atomic<uint8_t> m_bForce{0};
    tagMarkDataPar m_markCache;
    // The descendants' stamp the mark cache was built against.
    uint64_t m_cacheStamp = 0;
    std::atomic<uint64_t> m_changeStamp{0};
    // A spin lock for m_rcShape: held for one copy only.
    class RectLock {
    public:
        explicit RectLock(std::atomic_flag& busy) : m_busy(busy) {
            while (m_busy.test_and_set(std::memory_order_acquire)) {
            }
        }
        ~RectLock() { m_busy.clear(std::memory_order_release); }
        RectLock(const RectLock&) = delete;
        RectLock& operator=(const RectLock&) = delete;

    private:
        std::atomic_flag& m_busy;
    };
    Gdiplus::RectF m_rcShape;
    mutable std::atomic_flag m_rectBusy;
    std::atomic<uint8_t> m_bRectValid{0};
    bool m_bZoomed = false;
    tagPOINTF m_lastZoomFixed{0.0f, 0.0f};
    double m_lastZoomX = 1.0, m_lastZoomY = 1.0;
    // Shapes of groups and compound shapes.
    std::vector<CBaseShape*> m_arrChildren;
    std::vector<CBaseShape*> m_arrParts;
};

// The counters of every class live here, one per kind, so the base library can
// reset them.
CShapeCounter& ShapeCounterOf(CAD_SHAPE_TYPE kind);

// The shapes of `roots`, each followed by the members of its containers at
// any depth (GetChildren), every pointer once, depth first. Null pointers and
// the shapes in `skip` (with their members) are left out.
std::vector<CBaseShape*> ShapesWithMembers(const std::vector<CBaseShape*>& roots,
                                           const std::unordered_set<CBaseShape*>* skip = nullptr);
