// The mark-list control objects: entries of a marking document's shape list
// that the host's marking sequence carries out as steps instead of marking
// them (a delay, an encoder distance, an extra-axis move, a wait for input
// ports, an output signal). Each holds its parameters and an anchor point,
// draws as a 20 x 20 device-pixel icon centred on the anchor, can be picked,
// selected, moved and mirrored, and adds no geometry to the mark data.
#pragma once

#include "morvik/afx/morvik_api.h"

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/halder/baseshape.h"
#include "morvik/win32/windows.h"

class CWnd;

// Icon identifiers of the control objects. The icons are glyphs built into
// the library, drawn with a few strokes in a 32 x 32 design grid.
constexpr UINT IDI_CTRL_EXEAXI = 151;
constexpr UINT IDI_CTRL_DELAYEDTIMER = 231;
constexpr UINT IDI_CTRL_INPUT = 240;
constexpr UINT IDI_CTRL_OUTPUT = 241;
constexpr UINT IDI_CTRL_ENCODERDISTANCE = 335;

// Side of the icon box in device pixels.
constexpr int kCtrlIconSide = 20;

// Draws the glyph of an icon identifier into the square of kCtrlIconSide
// device pixels whose top-left corner is (left, top). An unknown identifier
// draws a crossed box. The colour is the glyph's own.
void DrawCtrlIcon(Gdiplus::Graphics& g, UINT iconId, float left, float top);

// The host's setting that turns the editor behaviour of control objects on
// (non-zero) or off (0).
struct MORVIK_API tagCtrlObjSetting {
    int nCtrlObjSwitch = 1;
};

// What a host frame offers the control objects. A host whose main frame
// (CBaseFrame::SetMainFrame) also derives from this class holds the switch
// and a zoom for shapes without a view; a main frame that does not counts as
// no frame at all.
class MORVIK_API CCtrlObjHostFrame {
public:
    virtual ~CCtrlObjHostFrame() = default;
    // The settings record holding the switch; null when the host has none.
    virtual tagCtrlObjSetting* GetCtrlObjSetting() = 0;
    // Pixels per millimetre of the host's active view; 0 when there is none.
    virtual float GetActiveZoom() const { return 0.0f; }
};

// The behaviour the five control objects share: an anchor, an icon, picking
// and selection on the anchor, a rectangle of a fixed device size. Each
// class derives from it and says what differs. Not a run-time class of its
// own: the run-time base of every control object is CBaseShape.
class MORVIK_API CControlShape : public CBaseShape {
public:
    CControlShape(const CControlShape&) = default;
    CControlShape& operator=(const CControlShape&) = default;

    // The main frame's control-object interface, looked up at each call so a
    // frame that was replaced or destroyed is never used; null without one.
    static CCtrlObjHostFrame* GetHostFrame();

    tagPOINTF GetAnchor() const { return pointf; }
    UINT GetIconID() const { return m_nIconID; }
    // 0 when the switch turns the editor behaviour off.
    virtual int IsCtrlObjEnabled() const;

    // ---- shape interface ----------------------------------------------------
    // The common body: the icon with the shape's own pen colour (unused by the
    // icon) on a Graphics of dc.
    int Draw(CDC* dc, int arrow, int mode, int a, int b) override;  // 23
    // The icon box centred on the anchor's device point; dx and dy play no
    // part, nor does the colour.
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int a, int b, float dx,
             float dy) override;                                         // 24
    // Move and Mirror refuse a result that is not finite.
    int Move(float dx, float dy) override;                               // 30
    int Zoom(tagPOINTF fixed, double sx, double sy) override;            // 32
    int Mirror(tagPOINTF fixed, int mode) override;                      // 34
    int IsInRect(Gdiplus::RectF& rect) override;                         // 38
    int IsMe(tagPOINTF point) override;                                  // 39
    int IsInClientRectF() override;                                      // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                     // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;  // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;             // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;              // 51
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                // 64

    // The anchor: where the icon is drawn and what picking looks at.
    tagPOINTF pointf;

protected:
    // pickRadius: the picking distance in device pixels.
    CControlShape(UINT iconId, double pickRadius);

    // The anchor's device point: through the view, or (x, -y) rounded when
    // there is none.
    CPoint AnchorToDevice(tagPOINTF p, int mode) const;
    // The icon box around the anchor's device point, in device units.
    Gdiplus::RectF DeviceIconBox(tagPOINTF p, int mode) const;
    // The icon drawn at p (logical) on dc: the previews.
    int DrawIconAt(CDC* dc, tagPOINTF p);
    // The anchor, read under the shape's event.
    tagPOINTF HeldAnchor();
    int PreviewSlope(CDC* dc, tagPOINTF base, double a, double b);
    int PreviewReSize(CDC* dc, tagPOINTF base, double sx, double sy);
    int PreviewRotate(CDC* dc, double angle, tagPOINTF centre);
    // The view's zoom, or 1 without a usable view.
    float ViewZoom() const;

    UINT m_nIconID;
    double m_dPickRadius;
};

// A delay of nTime milliseconds.
class MORVIK_API CDelayedTimer : public CControlShape {
    DECLARE_SERIAL(CDelayedTimer)

public:
    CDelayedTimer();

    // Sets the anchor; returns 0, or -1 (nothing changed) for a point that
    // is not finite.
    int InitDelayTimer(tagPOINTF p);
    // nTime = t; the caption becomes "t ms". A negative t is refused.
    void SetParam(int t);
    // Nothing to restore after a shape-list read.
    void RestoreAfterRead() {}
    // Off when the host has no settings record as well as when its switch
    // is 0.
    int IsCtrlObjEnabled() const override;

    void AddAllProp(bool extended) override;                                               // 7
    CBaseShape* Clone() override;                                                          // 12
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21
    void UpdatePropsValue() override;                                                      // 66

    unsigned int nTime = 10;
};

// An encoder distance of fDistance millimetres.
class MORVIK_API CEncoderDistance : public CControlShape {
    DECLARE_SERIAL(CEncoderDistance)

public:
    CEncoderDistance();

    // Sets the anchor; returns 0, or -1 (nothing changed) for a point that
    // is not finite.
    int InitDelayTimer(tagPOINTF p);
    // fDistance = d; the caption becomes d in metres, "%.3fm". A d that is
    // not finite is refused.
    void SetParam(float d);
    float GetParam() const { return fDistance; }
    void RestoreAfterRead() {}
    using CBaseShape::DrawWnd;
    // The preview-window drawing: the icon box at (dx, dy); returns 0.
    int DrawWnd(CWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy);

    void AddAllProp(bool extended) override;                                               // 7
    CBaseShape* Clone() override;                                                          // 12
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21

    float fDistance = 1000.0f;
};

// The settings of one extra-axis move.
class MORVIK_API CCfgAxit {
public:
    CCfgAxit() = default;

    int iUAxiID = 0;
    int iRelPos = 1;
    float fMvDist = 5.0f;
    int iUnit = 0;
    int bBackToZero = 0;
};

// A move of an extra axis. Unlike the other control objects it keeps the
// base shape's mirroring (the anchor stays) and flattening, and has no
// transform previews.
class MORVIK_API CExeAxi : public CControlShape {
    DECLARE_SERIAL(CExeAxi)

public:
    CExeAxi();

    // Sets the anchor; returns 0, or -1 (nothing changed) for a point that
    // is not finite.
    int InitExeAxiPoint(tagPOINTF p);
    CCfgAxit GetCfgAxi() const;
    // Copies all five settings; the caption stays. Refused whole when the
    // distance is not finite.
    void SetCfgAxi(const CCfgAxit& cfg);
    void RestoreAfterRead() {}

    void AddAllProp(bool extended) override;                                                    // 7
    CBaseShape* Clone() override;                                                               // 12
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int Mirror(tagPOINTF fixed, int mode) override;                                             // 34
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;         // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                    // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                     // 51
    void UpdatePropsValue() override;                                                           // 66

private:
    CCfgAxit m_cfg;
};

// A wait until the input ports reach given states.
class MORVIK_API CInput : public CControlShape {
    DECLARE_SERIAL(CInput)

public:
    static constexpr int kPortCount = 16;

    CInput();

    // Sets the anchor; returns 0, or -1 (nothing changed) for a point that
    // is not finite.
    int InitInput(tagPOINTF p);
    // Copies the 16 states in and returns 0; refuses (1, nothing changed) a
    // list whose first four entries are not all in 0..2, or no list.
    int SetPortState(const int states[kPortCount]);
    // Copies the 16 states out and returns 0 (1 for no list).
    int GetPortState(int states[kPortCount]) const;
    // Stores the tip and its flag and returns 0; an empty tip is refused (1).
    int SetTipInfo(const CString& tip, bool enable);
    int GetTipInfo(CString& tip, bool& enable) const;
    // Restores the working tip from its saved copy after a shape-list read.
    void RestoreAfterRead();
    using CBaseShape::DrawWnd;
    // The preview-window drawing: draws nothing; returns 0.
    int DrawWnd(CWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy);

    void AddAllProp(bool extended) override;                                               // 7
    CBaseShape* Clone() override;                                                          // 12
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21
    // Copies the tip to its saved copy.
    void UpdatePropsValue() override;                                                      // 66

    int iPortState[kPortCount];
    bool bEnaleTip = false;
    CString strTip;
    // The saved copy of strTip.
    std::wstring m_wstrTip;
};

// An output's port, signal and pulse, each listed here once: a copy takes
// them whole.
struct OutputFields {
    int iOutPortNo = 0;
    int iSignal = 1;
    int iPulse = 0;
    int iPulseWidth = 1;
    int iSignalWidth = 1;
};

// A signal or pulse on an output port.
class MORVIK_API COutput : public CControlShape, public OutputFields {
    DECLARE_SERIAL(COutput)

public:
    COutput();

    // Sets the anchor; returns 0, or -1 (nothing changed) for a point that
    // is not finite.
    int InitOutput(tagPOINTF p);
    // Stores the five values and re-captions ("name(port)", or the plain
    // name and number for port -1); returns 0.
    int SetProperties(int port, int signal, int signalWidth, int pulse, int pulseWidth);
    // The five values in the same argument order; returns 0.
    int GetProperties(int& port, int& signal, int& signalWidth, int& pulse, int& pulseWidth) const;
    void RestoreAfterRead() {}
    using CBaseShape::DrawWnd;
    // The preview-window drawing: the icon at the anchor's device point of
    // the view, as Draw places it (dx and dy play no part); returns 0.
    int DrawWnd(CWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy);

    void AddAllProp(bool extended) override;                                               // 7
    CBaseShape* Clone() override;                                                          // 12
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21
    void UpdatePropsValue() override;                                                      // 66
};
