// Document, view, preview window and main frame of the base library: the
// host derives from them; the library calls their virtuals.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/halder_types.h"
#include "morvik/halder/records.h"
#include "morvik/win32/windows.h"

class CUND_Base;
class CDocParam;
class CBaseView;

// A document owns every shape ever attached to it until it is destroyed, so
// undo snapshots that point at removed shapes stay valid. With a group or a
// compound shape it owns the members too: containers leave their members to
// their owner, and the document frees each shape once, whatever lists it.
class MORVIK_API CBaseDoc {
public:
    CBaseDoc();
    virtual ~CBaseDoc();
    CBaseDoc(const CBaseDoc&) = delete;
    CBaseDoc& operator=(const CBaseDoc&) = delete;

    // Appends a top-level shape; the document owns it from now on.
    void AddShape(CBaseShape* shape);
    // Takes ownership without listing (children, undo copies).
    void AdoptShape(CBaseShape* shape);
    CBaseShape* GetShapeByUUID(const GUID& id);
    // Takes the shape off the top-level list; it stays owned.
    bool DeleteSelShapeByUUID(const GUID& id);
    // The top-level list becomes the snapshot; shapes in it become owned.
    void RestoreShapeList(const std::list<CBaseShape*>& list);
    std::list<CBaseShape*>& GetShapeList() { return m_shapes; }

    // Takes ownership of a new undo record. Without an editing history the
    // record is destroyed at once.
    virtual void AddUndo(CUND_Base* record);
    virtual void InvalidateRectF(const Gdiplus::RectF& rect);
    virtual void OnShapeListChanged();
    virtual void OnShapeParamChanged(CBaseShape* shape, int what);
    virtual void OnShapeGeometryChanged(CBaseShape* shape);
    virtual void OnFillUndone(CBaseShape* shape);
    virtual void GetMirrorCenter(tagPOINTF& centre);
    virtual void GetSelectRect(Gdiplus::RectF& rect);
    virtual void SetSelectRect(Gdiplus::RectF rect);
    // Whether the document changed since it was last saved, as MFC documents
    // keep it: every undo record added marks it modified, the host clears it
    // when it saves.
    virtual void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified != FALSE; }
    virtual BOOL IsModified() { return m_bModified ? TRUE : FALSE; }

    // The two windows that hear about restored parameters (WM_USER + 111).
    HWND m_hNotifyWnd[2] = {nullptr, nullptr};
    CDocParam* GetDocParam() { return m_pDocParam; }
    void SetDocParam(CDocParam* param) { m_pDocParam = param; }

protected:
    std::list<CBaseShape*> m_shapes;
    Gdiplus::RectF m_selectRect;
    CDocParam* m_pDocParam = nullptr;
    bool m_bModified = false;

private:
    void Own(CBaseShape* shape);
    // Every shape attached, in order, each once.
    std::vector<CBaseShape*> m_owned;
    std::unordered_set<CBaseShape*> m_ownedSet;
};

// A view maps millimetres (y up) to device pixels (y down): device =
// (logical - origin) * zoom, with y flipped about the origin.
class MORVIK_API CBaseView {
public:
    explicit CBaseView(CBaseDoc* doc = nullptr);
    virtual ~CBaseView() = default;

    CBaseDoc* GetDocument() const { return m_pDoc; }
    void SetDocument(CBaseDoc* doc) { m_pDoc = doc; }
    // Pixels per millimetre.
    float GetZoom() const { return m_fZoom; }
    void SetZoom(float zoom);
    // The logical point shown at the device's top-left corner.
    tagPOINTF GetOrigin() const { return m_origin; }
    void SetOrigin(tagPOINTF origin) { m_origin = origin; }
    void SetClientSize(int width, int height);
    CSize GetClientSize() const { return CSize(m_nClientWidth, m_nClientHeight); }
    HWND GetSafeHwnd() const { return m_hWnd; }

    void LP2DP(float zoom, tagPOINTF p, Gdiplus::PointF& out, int mode = 0) const;
    void LP2DP(tagPOINTF p, CPoint& out, int mode = 0) const;
    void LP2DP(tagPOINTF p, Gdiplus::PointF& out, int mode = 0) const;
    void DP2LP(CPoint p, tagPOINTF& out) const;
    void DP2LP(Gdiplus::PointF p, tagPOINTF& out) const;
    // The visible logical rectangle, Y its top edge.
    void GetClientRectF(Gdiplus::RectF& rect) const;

    virtual void Invalidate(BOOL erase = TRUE);
    virtual void RedrawWindow();
    int GetInvalidateCount() const { return m_nInvalidated; }

protected:
    CBaseDoc* m_pDoc = nullptr;
    float m_fZoom = 4.0f;
    tagPOINTF m_origin{-50.0f, 50.0f};
    int m_nClientWidth = 400;
    int m_nClientHeight = 400;
    HWND m_hWnd = nullptr;
    // Texts marked on several threads invalidate the view from each.
    std::atomic<int> m_nInvalidated{0};
};

// A small preview window with its own mapping.
class MORVIK_API CCustWnd {
public:
    virtual ~CCustWnd() = default;
    void SetMapping(float zoom, tagPOINTF origin) {
        m_fZoom = zoom;
        m_origin = origin;
    }
    void LP2DP(tagPOINTF p, Gdiplus::PointF& out, int mode = 0) const;
    float GetZoom() const { return m_fZoom; }

protected:
    float m_fZoom = 1.0f;
    tagPOINTF m_origin{0.0f, 0.0f};
};

// The host's main window: pen colours and the active document's card
// parameters. The host installs its own with SetMainFrame.
class MORVIK_API CBaseFrame {
public:
    CBaseFrame();
    virtual ~CBaseFrame() = default;

    virtual COLORREF GetPenColor(int pen) const;
    void SetPenColor(int pen, COLORREF color);
    virtual void GetActiveDocCardPar(tagCardPar& par) const { par = m_cardPar; }
    void SetActiveDocCardPar(const tagCardPar& par) { m_cardPar = par; }
    // The host's marking mode: a text asks before marking a repeated text
    // while it is clear, and a per-character marking asks while it is set.
    int GetMarkMode() const { return m_nMarkMode; }
    void SetMarkMode(int mode) { m_nMarkMode = mode; }
    virtual BOOL RefreshPanels(BOOL all);

    static CBaseFrame* GetMainFrame();
    // The host's frame; null restores the built-in one.
    static void SetMainFrame(CBaseFrame* frame);
    static COLORREF GetPenColorOf(int pen);

protected:
    COLORREF m_penColors[256];
    tagCardPar m_cardPar;
    int m_nMarkMode = 0;
};

// The editor's current tool; the library only resets its picking state.
class MORVIK_API CBaseTool {
public:
    static void CleanPickerState();
};

// The document's parameter record, saved first in a shape-list file (kind 21).
struct MORVIK_API DOC_PARAM_ENTRY : public SriBase {
    CString strText;
    std::wstring wstrText;
    void AddAllProp(bool extended) override;
};

class MORVIK_API CDocParam : public CBaseShape {
public:
    CDocParam();
    void AddAllProp(bool extended) override;
    void UpdatePropsValue() override;
    // Restores the working texts from the saved strings after a read.
    void RestoreAfterRead();
    std::vector<DOC_PARAM_ENTRY> m_arrEntries;
};
