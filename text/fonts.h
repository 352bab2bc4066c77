// CFonts: the text shape. One object holds a text and lays it out in one of
// four ways, chosen by its font type: 0 TrueType outlines, 1 single-line SHX
// strokes, 2 barcode or two-dimensional code, 3 dot matrix. Whatever the
// type, the layout leaves a list of characters (FONTSCHAR: points and GDI+
// point types in millimetres, y up) and a frame of four points that shows the
// text's axes; drawing, hit tests, conversion, export and transforms work on
// those.
//
// A filled text owns fill shapes (one per character for TrueType text) whose
// outlines are copies of its character outlines; they are not children in the
// document's list.
//
// Locking: besides the base shape's event the text has a layout event that
// serialises SetFonts against drawing (Draw, DrawToGraphics). It is not
// re-entrant: SetFonts must not be called while the caller holds it.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "morvik/afx/ctime.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/params.h"
#include "morvik/halder/baseshape.h"
#include "morvik/halder/records.h"
#include "morvik/halder/textelement.h"

// The font type of a text: how it is laid out and drawn.
enum FONT_TYPE : int {
    FONT_TYPE_TRUETYPE = 0,
    FONT_TYPE_SHX = 1,
    FONT_TYPE_CODEBAR = 2,  // a barcode or two-dimensional code
    FONT_TYPE_MATRIX = 3,   // dot matrix
};
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fontschar.h"
#include "morvik/text/shxreader.h"

class CFilledShape;
class CCombineShape;
class CCustWnd;
class CMarkRecord;
struct tag_BarCode;

// Which part of a character a flattening takes: the whole outline, the bars
// of a barcode (its first m_barcodeSize points) or its readable text (the
// rest).
enum enuPtType { PT_ALL = 0, PT_BAR = 1, PT_TEXT = 2 };

// A text's parameters, each listed here once: a copy takes them whole.
// Public: the host and the undo records set them.
struct TextParams {
    int nFontType = FONT_TYPE_TRUETYPE;
    FONTS_PAR parFonts;
    CODEBAR_PAR parCodebar;
    CODEBAR_PAR parCodebarInit;
    VARTEXT_PAR parVarText;
    int bFilled = 0;
    FILLED_PARS parFill;
    // Text on an arc.
    tagPOINTF ptCenter{0.0f, 0.0f};
    double dRad = 3.0;
    int iBaseAngle = 90;
    int iAngleScope = 0;
    int bInvert = 0;
    int bAlignTop = 0;
    int bIsInside = 0;
    // History of marked texts.
    int m_bOutTxt = 0;
    int m_bOutTm = 0;
    int m_bMkFlag = 0;
    int m_bTimingReset = 0;
    CTime m_tmReset;
    CString m_strOutName;
    // Dot-matrix layout, and the leading points of the first character
    // that belong to a barcode's bars.
    int bMatric = 0;
    int m_barcodeSize = 0;
    // The text's reference position, reference size and size ratios.
    tagPOINTF fontspos{0.0f, 0.0f};
    double fInitStrHeight = 0.0;
    double fInitStrWidth = 0.0;
    double fWidthZoom = 1.0;
    double fHeightZoom = 1.0;
    double fCharWidthTransRate = 1.0;
};

// The text's own layout values (frame, working points, content, face), each
// listed here once: a copy takes them whole.
struct TextLayoutFields {
    std::vector<tagPOINTF> m_arrPtBackup;
    std::vector<tagPOINTF> m_arrFrame;
    CString m_strText;
    CString m_strFontName;
    int m_bRefillAfterLayout = 0;
    std::vector<SHAPE_MODIFY> m_arrModify;
    float m_fHostSetting = 1.0f;
    std::vector<float> m_arrBarPos;
    std::wstring m_wstrFontName;
    // A fixed text filled by a split rule that appends: the text it was
    // given as its own and the text the rule last wrote. While the text is
    // still the one written, the rule appends to the remembered one; any
    // other text is the user's and becomes the new one.
    CString m_strSplitPrefix;
    CString m_strSplitText;
};

class MORVIK_API CFonts : public CBaseShape, public TextParams, private TextLayoutFields {
    DECLARE_SERIAL(CFonts)

public:
    // Units per em of the TrueType layout, and the width factor that keeps a
    // face's own proportions.
    static constexpr double kEmSize = 10.0;
    static constexpr double kNaturalWidth = 45.8;

    CFonts();
    ~CFonts() override;
    CFonts(const CFonts&) = delete;
    CFonts& operator=(const CFonts&) = delete;

    // ---- setting the text ----------------------------------------------------------
    // Lays the text out anew from the given content and records: frees the
    // old layout, lays out by font type, refills, replays the recorded
    // modifications and keeps the text at its reference point. Returns 1,
    // or 0 when the layout failed (the text then keeps its previous
    // outlines, parameters and recording switch).
    int SetFonts(CString text, int fontType, CString fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                 VARTEXT_PAR& vartext, int noRefresh, int useVarText, bool interactive);
    // What a layout leaves to ask or tell once the text's event is given
    // back: a message for the operator (a language key) and the document's
    // notice of changed parameters.
    struct LayoutAfter {
        const char* message = nullptr;
        bool notify = false;
    };
    // SetFonts for callers that hold the text's event (building mark data).
    // With `after` the message and notice are left in it; without, they are
    // given here.
    int SetFontsHeld(CString text, int fontType, CString fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                     VARTEXT_PAR& vartext, int noRefresh, int useVarText, bool interactive, LayoutAfter* after);
    void GetFonts(CString& text, int& fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                  VARTEXT_PAR& vartext);
    void GetFontsHeld(CString& text, int& fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar,
                      VARTEXT_PAR& vartext);
    // Lays out a new text at pt (the placement entry of hosts and importers).
    // Always 1.
    int InitFontsPath(tagPOINTF pt, CString text, CString fontName, bool flag);
    // The five values of text on an arc, in this order: base angle, angle
    // span, inverted, aligned at top, inside.
    void SetPathFontPara(int baseAngle, int angleScope, int invert, int alignTop, int inside);
    void GetPathFontPara(int& baseAngle, int& angleScope, int& invert, int& alignTop, int& inside) const;

    // ---- fill ----------------------------------------------------------------------
    void SetFill(FILLED_PARS& fillPar, bool textOnly);
    void SetFill2(FILLED_PARS& fillPar, bool textOnly);
    void DeleteFill();
    // The transforms and fill setters for callers that hold the event (the
    // layout replays the recorded transforms, building mark data refills).
    int MoveHeld(float dx, float dy);
    int RotateHeld(double angle, tagPOINTF centre);
    int ZoomHeld(tagPOINTF centre, double sx, double sy);
    int SlopeHeld(tagPOINTF centre, double a, double b);
    int MirrorHeld(tagPOINTF centre, int mode);
    void SetFillHeld(FILLED_PARS& fillPar, bool textOnly);
    void DeleteFillHeld();
    // The fill that the last SetFill or DeleteFill replaced back in place,
    // hatch lines as they were (a hatch made before a transform is not the
    // one a new fill would make after it): only when the characters stand
    // where they stood then and that fill had these parameters and filled
    // state. False, with nothing changed, otherwise. For undo records,
    // which hold the text's event around it.
    bool RestoreReplacedFill(const FILLED_PARS& fillPar, bool filled);
    // The texts that this text's SetFill reaches first: the document's
    // texts of its linked GUIDs, each once, never this text itself.
    std::vector<CFonts*> LinkedTexts();
    // The fill this text had before its latest SetFill, SetFill2 or
    // DeleteFill (its parameters and filled switch; before the first, when
    // one SetFill reached it twice through links), or the one it has when
    // none ran yet. For the undo of an edit that reached it through a link.
    void GetFillBefore(FILLED_PARS& fillPar, int& filled) const;
    // A fill as the text held it, for an undo record that gives back exactly
    // that fill: its fill shapes (hatch lines, outlines and identities as
    // they were; owned here), the characters' points it went with, the
    // filled switch and the parameters.
    struct HeldFill {
        HeldFill() = default;
        HeldFill(const HeldFill&) = delete;
        HeldFill& operator=(const HeldFill&) = delete;
        ~HeldFill();
        std::vector<CFilledShape*> fills;
        std::vector<std::vector<tagPOINTF>> points;
        int filled = 0;
        FILLED_PARS par;
    };
    // The fill that the text's last DeleteFill took away, handed over to the
    // caller. Null when that call had nothing to keep, when the text kept,
    // gave back or dropped a fill since, or when it is filled again.
    std::unique_ptr<HeldFill> TakeDeletedFill();
    // The held fill back in place of the text's fill shapes, when the
    // characters stand where they stood with it and the fill shapes are as
    // many; the held fill is then the text's. False, with nothing changed
    // and the fill still the caller's, otherwise.
    bool PutBackFill(std::unique_ptr<HeldFill>& held);
    // The layout that the last SetFonts replaced back in place, whole:
    // characters, frame, fill shapes, parameters and place (a new layout of
    // the old content is not the one it replaced when the text was zoomed or
    // slanted since it was laid out). Only when the characters stand where
    // that SetFonts left them and the kept layout holds this text, font type
    // and font name, and the font and barcode records given (when given;
    // the barcode type aside, which its font name names). False, with
    // nothing changed, otherwise. For undo records, which hold the text's
    // event around it.
    bool RestoreReplacedLayout(const CString& text, int fontType, const CString& fontName,
                               const FONTS_PAR* fonts = nullptr, const CODEBAR_PAR* codebar = nullptr);
    // Deletes the characters, the backups and the fill shapes (their
    // children first when freeFills is set).
    void FreeAll(bool freeFills);
    void FreeCodeBarSquare();

    // ---- layout helpers --------------------------------------------------------------
    // 1 bold, + 2 italic.
    int GetFontStyle() const;
    double GetFontSlopeRate() const;
    double GetFakeWidth() const;
    double GetFakeHeight() const;
    // The frame from the shape's rectangle (or from r).
    void InitRefPoint();
    void InitRefPoint(Gdiplus::RectF r);
    // Moves a frame saved in the older form (one text height lower) to
    // where InitRefPoint puts it today; true when it did. Called after a
    // read.
    bool AdoptOldFrame();
    // The first number of f (or of the arc, for text on an arc) that no
    // layout can use: not finite, out of range, a height or width factor
    // not above 0; null when all are usable. Barcodes check their own.
    const wchar_t* UnusableLayoutNumber(const FONTS_PAR& f) const;
    // Whether every point of the characters and the frame is finite.
    bool OutlinesFinite() const;
    static bool HasRightToLeftChars(const CString& text);
    static int FindSpace(const CString& line, int i);
    // The TrueType layout; false when no face could lay the text out.
    bool SetFontsPoint(CString text, CString fontName, bool flag);

    // ---- modification list replay ------------------------------------------------
    void ReStoreSinglePt();
    void ResetAttachPt();

    // ---- transforms without records ------------------------------------------------
    int MoveAtt(float dx, float dy);
    int RotateAtt(double angle, tagPOINTF centre);
    int DoSlope(tagPOINTF centre, double a, double b);
    int DoZoom(tagPOINTF centre, double sx, double sy);
    tagPOINTF GetPosRefPoint(int pos);
    void CalculateHeightAndWidthRate(double rx, double ry);
    int GetCharFlattenPathArrays(int index, std::vector<std::vector<tagPOINTF>>& out, int& count, float tolerance,
                                 enuPtType part);

    // ---- drawing helpers ---------------------------------------------------------------
    static int GsDrawPath(Gdiplus::Graphics& g, Gdiplus::Pen& pen, Gdiplus::GraphicsPath& path);
    int DrawMatriPt(CDC* dc, DWORD color, int mode, float dx, float dy);
    int Draw2DMatric(CDC* dc, DWORD color, int mode, float dx, float dy);
    int DrawMatriPtWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, float dx, float dy);
    int Draw2DMatricWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, float dx, float dy);
    int DrawReSizeMatric(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy);
    int GetMatricPoints(std::vector<tagPOINTF>& points);
    int MatriInRect(Gdiplus::RectF& rect);

    // ---- conversion and export -----------------------------------------------------------
    // The converted shapes of the text appended to out; the caller owns them.
    void GetBasicShapeList(std::vector<CBaseShape*>& out);
    int GetFlattenPathArrays(std::vector<std::vector<tagPOINTF>>& out, float tolerance);
    int ExportCharXmlToBuff(FONTSCHAR* ch, tagXmlBuff& buff);

    // ---- after a shape-list read ---------------------------------------------------------
    // Brings the working data back from the saved copies; the reader hands
    // the saved fill shapes whose parent is this text in list order.
    void RestoreAfterRead(std::vector<CFilledShape*>& savedFills);

    // ---- barcodes and two-dimensional codes -------------------------------------------
    // Sets the engine handle up from parCodebar and encodes the text: 0, or
    // the engine's error code.
    int32_t GenerateCodebar();
    // A trial encoding with new parameters: 1 when they encode (they then
    // stay in the shape), else 0 with the shape as it was.
    int IsValidBarcode(CString& text, int fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar);
    // The engine's two passes over the bars or modules (y down).
    void Calculate2DBarSize(double x, double y, double width, double height);
    void CallbackCodeBar(double x, double y, double width, double height);
    // The engine handle of the shape's view (or the text's own view-less
    // handle); null when the engine is not available.
    tag_BarCode* GetBarcodeInstance();
    // Module outlines from the module matrix, into the bar record; each
    // frees the matrix when done.
    void GenPointMatri();
    void GenRectMatri();
    void GenCircleMatri();
    void Gen2DPath();
    static void GenOneRect(FONTSCHAR* rec, float x, float y, float w, float h);
    static void GenOneCircle(FONTSCHAR* rec, float x, float y, float w, float h);
    int CanCrawl(POINT from, POINT to);
    void AndLogoPic(bool value, bool square);
    // Replaces the module matrix: cols x rows cells, column by column (cell
    // [c][r] at c * rows + r, 1 dark), with empty edge grids; bad sizes
    // leave no matrix.
    void LoadModuleMatrix(int cols, int rows, const std::vector<uint8_t>& cells);
    int GetModuleCols() const { return m_nModuleCols; }
    int GetModuleRows() const { return m_nModuleRows; }
    uint8_t ModuleAt(int c, int r) const;
    // The readable text under the symbol.
    void Show2DBarCodeTxt(Gdiplus::RectF& rect);
    void ShowEANBarCodeText(Gdiplus::RectF& rect);
    CString DiyCodeBarTxt(CString text);
    static int GetEAN_13Verify(CString text);

    // ---- accessors -----------------------------------------------------------------------
    const CString& GetText() const { return m_strText; }
    const CString& GetFontName() const { return m_strFontName; }
    int GetFontType() const { return nFontType; }
    std::vector<FONTSCHAR*>& GetChars() { return m_arrChars; }
    std::vector<CFilledShape*>& GetFills() { return m_arrFills; }
    std::vector<tagPOINTF>& GetFrame() { return m_arrFrame; }
    std::vector<SHAPE_MODIFY>& GetModifyList() { return m_arrModify; }
    bool IsRecording() const { return m_bRecord != 0; }
    HANDLE GetLayoutEvent() const { return m_hLayoutEvent; }

    // ---- shape interface ------------------------------------------------------------------
    void AddAllProp(bool all) override;                                                    // 7
    CBaseShape* ToBezier() override;                                                       // 9
    CBaseShape* ToPolyLine() override;                                                     // 10
    CBaseShape* Clone() override;                                                          // 12
    int SetPen(unsigned char pen) override;                                                // 15
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                        // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                     // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                 // 22
    int Draw(CDC* dc, int a, int b, int c, int d) override;                                // 23
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int b, int c, float dx,
             float dy) override;                                                           // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int Move(float dx, float dy) override;                                                 // 30
    int Rotate(double angle, tagPOINTF centre) override;                                   // 31
    int Zoom(tagPOINTF centre, double sx, double sy) override;                             // 32
    int Slope(tagPOINTF centre, double a, double b) override;                              // 33
    int Mirror(tagPOINTF centre, int mode) override;                                       // 34
    int SortPath() override { return 0; }                                                  // 35
    int IsInRect(Gdiplus::RectF& rect) override;                                           // 38
    int IsMe(tagPOINTF point) override;                                                    // 39
    int IsInClientRectF() override;                                                        // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                       // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;    // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                               // 50
    int GetFlattenPathLastPoint(tagPOINTF&) override { return 0; }                         // 51
    void SetDocView(CBaseDoc* doc, CBaseView* view) override;                              // 55
    void SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) override;         // 56
    void UpdatePropsValue() override;                                                      // 66

    // ---- marking: mark data, variable text, history (fonts_mark.cpp) -----------------------
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                  // 53
    void PrepareBeforeMark(tagMarkCtlData ctl, int index) override;                       // 67
    void CleanupAfterMark(int from, int to, tagMarkCtlData ctl) override;                 // 68
    void ClearMarkBuff() override;                                                        // 69
    bool GetOutLinePath(std::vector<tagPathData>& out) override;                          // 44
    bool GetOutLinePath(std::vector<std::vector<tagPOINTF>>& out);
    // One record per character, lines in order, in one inner list.
    bool GetCharsMarkData(std::vector<std::vector<tagMarkDataPar>>& out, bool keepVariables);
    // One shape per character grouped by line; the caller deletes them.
    bool ConvertToShapeList(std::vector<std::vector<CBaseShape*>>& out);
    void StopCOMCommunication(void* arg);
    bool GetTaiwenHeightOfOne(Gdiplus::RectF& out);
    void GetTxtOutPara(int& outTxt, int& outTm, int& mkFlag, int& timingReset, CTime& tmReset, CString& outName);
    void SetTxtOutPara(int outTxt, int outTm, int mkFlag, int timingReset, CTime tmReset, CString& outName);
    // The text without a new layout (a blank layout that keeps its text).
    void SetTextOnly(const CString& text) { m_strText = text; }
    CMarkRecord* GetMarkRecord();
    // A text never issues a serial number again: when it takes parameters
    // back (undo, redo), each serial number of the record whose current
    // value is not past the last value this text marked with the serial
    // number of that place moves to the value after it (or is spent when
    // there is none). Content and other parameters come back as they were.
    void KeepSerialsPastMarked(VARTEXT_PAR& vartext) const;
    // The process-wide first-rotation flag back to its state at load.
    static void ResetFirstRotation();

private:
    // The phases of GetMarkData (fonts_mark.cpp).
    enum class MarkStep { Go, Fail, FailQuiet };
    void StartRebuild(const tagMarkDataPar& out);
    void TurnHatchPerMark(bool turning);
    MarkStep BuildVariablePiece(bool early, bool move, CString& marked, std::vector<int64_t>& serials);
    void CollectMarkPaths();
    void AdvanceAfterPiece(bool early);
    void NoteMarkedSerials(const std::vector<int64_t>& serials);
    // The lowest and highest value each serial number of the text (in
    // element order) has marked.
    struct SerialMarks {
        bool any = false;
        int64_t low = 0;
        int64_t high = 0;
    };
    std::vector<SerialMarks> m_arrSerialMarked;

    // The phases of SetFonts, in their order.
    struct LayoutSnapshot;
    void SaveLayoutState(LayoutSnapshot& s);
    // The text, font and records of a layout or a trial encoding.
    void TakeTextParams(const CString& text, int fontType, const CString& fontName, const FONTS_PAR& fonts,
                        const CODEBAR_PAR& codebar);
    void TakeLayoutParams(const CString& text, int fontType, const CString& fontName, const FONTS_PAR& fonts,
                          const CODEBAR_PAR& codebar, VARTEXT_PAR& vartext);
    void SetAsideOldLayout(LayoutSnapshot& s);
    bool LayOutByType(const CString& text, int fontType, CString& fontName, FONTS_PAR& fonts, CODEBAR_PAR& codebar);
    void RestoreLayoutState(LayoutSnapshot& s);
    // The snapshot's outlines, fills, frame, position and parameters made
    // the text's again (what the text held is freed).
    void PutBackLayout(LayoutSnapshot& s);
    // The text's parameters of a snapshot: text, font name, font type and
    // the font, barcode and variable-text records.
    void RestoreLayoutParams(const LayoutSnapshot& s);
    void DropOldLayout(LayoutSnapshot& s);
    void RefillAfterLayout();
    void ReplayModificationsAfterLayout();
    void KeepPlaceOfOldLayout(const LayoutSnapshot& s);
    // Scales a variable text whose first element asks for a fixed width to
    // that width across, about its rectangle's left-top corner.
    void FitVariableTextWidth();
    // The vertical shift of a "BrowalliaIT9" text whose new text loses or
    // gains a "1": a share of the glyph's height, taken from the characters
    // that hold the "1" (before the layout when it is lost, after it when
    // it is gained); 0 otherwise.
    double BrowalliaOneShift(const CString& oldText, const CString& newText, bool gained);
    void FinishLayout(int noRefresh, bool interactive, LayoutAfter* after);
    // The slant of the font parameters made on a text just placed.
    void SlantAsParameters();

    // Layout by font type; each false on failure.
    bool SetSinglelinePoint(const CString& text, const CString& fontName);
    bool SetMatricPoint(const CString& text, const CString& fontName);
    // The whole barcode build; with report false a failure shows no message
    // box (its reason goes to the run log), for callers that report it.
    bool SetCodebarPoints(bool report = true);
    // Closed polylines ("font_fill_shape") of the outlines of part j.
    void AddFillOutlines(CFilledShape* fill, int index, enuPtType part, unsigned char pen);
    // The identities of fill shape j and of its outline polylines, kept by
    // fill index across refills and layouts: a refill or a re-layout of the
    // same text gives its children back the GUIDs and captions they had.
    void RememberFill(size_t j, CFilledShape* fill);
    void ReuseOutlineIds(size_t j, CFilledShape* fill);
    void AdoptFillIdentity(size_t j, CFilledShape* fill);
    void FreeCharList(std::vector<FONTSCHAR*>& list);
    // The flattened figures of a part of character index (closed ones end
    // on their first point again); false when there is no such character
    // or it has no points.
    bool CharFigures(int index, enuPtType part, std::vector<std::vector<tagPOINTF>>& figs);
    // Makes the recorded modifications again on restored points and drops
    // the backup characters.
    void ReplayModifications();
    // How the recorded modifications have scaled the text's frame: along
    // its horizontal line (width) and across it (height). 1 and 1 for a
    // list of moves, turns and mirrors.
    void ModifiedFrameScale(double& width, double& height) const;
    // Text on an arc is laid out at the size it had before the recorded
    // zooms and slants, which the replay then makes again: the size the
    // dialog shows is taken back to that size for the layout and set again
    // after the replay.
    void TakeArcLayoutSize();
    void GiveBackArcShownSize();
    struct ArcShownSize {
        bool active = false;
        double height = 0, widthRatio = 0;
        float spacing = 0;
    } m_arcShown;
    void Record(int cmd, double par1, double par2, tagPOINTF ref);
    void RecordZoom(double sx, double sy, tagPOINTF centre);
    // The size ratios and reference sizes before each recorded slant and
    // zoom, by the index of its record: a transform that takes back the last
    // one (its undo) gives them back, as the ratios it computes are relative
    // to the last size, and the sizes measured on a frame turned back in
    // float are so only within rounding.
    struct RatiosAt {
        size_t index;
        double width, height, initW, initH;
    };
    std::vector<RatiosAt> m_ratioStack;
    RatiosAt RatiosNow() const { return {m_arrModify.size(), fWidthZoom, fHeightZoom, fInitStrWidth, fInitStrHeight}; }
    void KeepRatios(const RatiosAt& was);
    // A GDI+ path of a character's points in [from, to).
    static bool CharPath(const FONTSCHAR* ch, size_t from, size_t to, Gdiplus::GraphicsPath& path);

    // The fill parameters that a load gives the fill of character index of
    // a TrueType text when the file holds no fill record for it.
    static FILLED_PARS LoadedCharFill(size_t index, const std::vector<SHAPE_FILLER_PARAM>& savedSets);
    // How many fills, from the first, the file must hold: those up to the
    // last one that a load could not make again exactly.
    size_t CharFillsToSave();

    std::vector<FONTSCHAR*> m_arrChars;
    std::vector<CFilledShape*> m_arrFills;
    struct FillIdentity {
        GUID id{};
        CString caption;
        FILLED_PARS par;
        std::vector<GUID> outlines;
    };
    std::vector<FillIdentity> m_fillIds;
    // The fills replaced by SetFill and DeleteFill, the last one last, each
    // with the characters' points, the filled switch and the parameters it
    // went with.
    struct ReplacedFill {
        std::vector<CFilledShape*> fills;
        std::vector<std::vector<tagPOINTF>> points;
        int filled = 0;
        FILLED_PARS par;
        uint64_t serial = 0;
        size_t cost = 0;  // points held
    };
    std::vector<ReplacedFill> m_replacedFills;
    // What GetFillBefore hands out, set as a fill change starts.
    FILLED_PARS m_fillBeforePar;
    int m_fillBeforeFilled = 0;
    bool m_fillBeforeKnown = false;
    void NoteFillBefore();
    // SetFill of this text alone, without its linked texts.
    void FillOwn(FILLED_PARS& fillPar, bool textOnly);
    // Numbers the kept fills; the one the last KeepReplacedFill kept (0:
    // it kept none).
    uint64_t m_keptSerial = 0;
    uint64_t m_lastKept = 0;
    // The layouts replaced by SetFonts, the last one last, each with the
    // points of the characters that replaced it.
    struct ReplacedLayout;
    std::vector<std::unique_ptr<ReplacedLayout>> m_replacedLayouts;
    // The last SetFonts of a code was refused: the layout the text kept is
    // not the code asked for, and is not marked until a layout succeeds.
    bool m_bCodeRefused = false;
    void KeepReplacedLayout(LayoutSnapshot& s);
    void FreeReplacedLayouts();
    // The arc settings the characters were laid out with, while a host has
    // set new ones that no layout has followed yet: a kept layout must come
    // back with its own settings, not those that replaced it.
    bool m_bArcChangePending = false;
    int m_arcOfLayout[5] = {};
    static void FreeLayoutParts(LayoutSnapshot& s);
    // Copies of fill shapes that stand for them: their identities too.
    static std::vector<CFilledShape*> CopyFills(const std::vector<CFilledShape*>& fills);
    // What a shape's copy does not take from it but saves: its flip state,
    // path direction, mirror flag, order, links and visibility (of a fill
    // shape's outlines too).
    static void CopyShapeState(CBaseShape* from, CBaseShape* to);
    static void CopyFillState(CFilledShape* from, CFilledShape* to);
    void KeepReplacedFill();
    // Keeps fills that a new layout replaces (taking them over) with the
    // points of the characters they filled.
    void KeepLaidOutFill(std::vector<CFilledShape*>& fills, const std::vector<FONTSCHAR*>& chars);
    void PushReplacedFill(ReplacedFill kept);
    void FreeReplacedFills();
    std::vector<std::vector<tagPOINTF>> CharPoints() const;
    std::vector<FONTSCHAR*> m_arrCharsBackup;
    // The layout's own values are TextLayoutFields.
    HANDLE m_hLayoutEvent = nullptr;
    int m_bRecord = 1;
    float m_fMaxCharAngle = 0.0f;
    float m_fCompress = 1.0f;
    float m_fFirstCharAngle = 0.0f;
    uint8_t m_bVarBusy = 0;
    // The history of marked texts, made on first use.
    std::shared_ptr<CMarkRecord> m_markRecord;
    friend class CProcessVarTxt;

    // ---- text on an arc and dot-matrix text ----------------------------------------------
public:
    // Whether the circle can carry text: a radius above 0 and finite
    // numbers. Layouts of text on an arc refuse to run otherwise.
    bool ArcUsable() const;
    // Bends the last n characters of the list (a line laid out straight, in
    // drawing units) onto the circle, one step apart, and appends every
    // placed point to the backup point list. For single-line and dot-matrix
    // text, after each line. Nothing moves when the circle is not usable
    // (layouts check ArcUsable before they start).
    void SingleFt2PathFont(int n);
    // The text split at line feeds, each line without "\r" and "\n" at its
    // ends.
    static std::vector<std::wstring> SplitTextLines(const std::wstring& text);

private:
    // Appends a new, empty fill shape for a character to the fill list.
    void AddCharFill(const CString& caption);
    // The TrueType layout on the circle.
    bool SetAttachPt(const std::wstring& text, const CString& fontName);
    // The angle of each character of a line of strokes or dots from its
    // width (drawing units); returns the largest.
    double GetMaxAngleOfSingle(const std::vector<double>& widths, std::vector<double>& angles) const;
    // The first character's angle on the circle for a line whose characters
    // take these angles (first: the first character's), step apart.
    double GetStartAngle(const std::vector<double>& angles, double first) const;

    // Barcode build state: the module matrix of a two-dimensional code
    // ([c][r] at c * rows + r) with its vertical ((cols + 1) x rows) and
    // horizontal (cols x (rows + 1)) edge grids, the bars of an EAN-13 code
    // for its readable text, and the text's own handle when it has no view.
    int m_nModuleCols = 0;
    int m_nModuleRows = 0;
    std::vector<uint8_t> m_modules;
    std::vector<uint8_t> m_vEdges;
    std::vector<uint8_t> m_hEdges;
    std::vector<Gdiplus::RectF> m_arrEanBars;
    // The data as the last built symbol encodes it (check digits, padding),
    // which its readable text shows.
    CString m_strCodeReadable;
    tag_BarCode* m_pOwnBarcode = nullptr;
    // Gives the text's own view-less handle back to the wrapper.
    void ReleaseBarcodeInstance();
    void ReportCodebarError(int32_t code, bool box);
    bool BuildModuleMatrix(int id);
    // The readable text's outline (path units, y down) for one string; false
    // when no face can lay it out.
    bool CodeTextPath(const CString& text, Gdiplus::GraphicsPath& path);
    void AppendCodeText(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rect, float left);

    // Saved copies, refreshed by UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> m_prop4P;
    std::wstring m_wstrText;
    std::wstring m_wstrOutName;
    std::vector<SHAPE_MODIFY> m_propModify;
    std::vector<FONTSCHAR> m_propChars;
    std::vector<std::vector<tagPOINTF>> m_propCharPoints;
    std::vector<std::vector<Gdiplus::PointF>> m_propCharDevPoints;
    std::vector<std::vector<uint8_t>> m_propCharTypes;
    std::vector<SHAPE_FILLER_PARAM> m_propFillSets;
    std::vector<SHAPE_FILLER_PARAM> m_propVParFill;
    std::vector<TEXT_ELEMENT_REC> m_propElements;
    // ---- single-line (SHX) layout ------------------------------------------------------------
public:
    // The measures of one SHX font: the cell that one character of the
    // text's height and width factor fills.
    struct SHX_INFO {
        CString strName;
        // 0 measured with Latin letters, 1 with Chinese characters.
        int32_t nSample = 0;
        double dWidth = 0.0;
        double dHeight = 0.0;
        double dReserved = 0.0;
    };
    // Loads and measures the default SHX font and the font fontName (each
    // once per text); false when either cannot be had.
    bool LoadShxFonts(const CString& fontName);
    // One character of single-line text with its origin at (x, y), drawing
    // units, y up: a new record (owned by the caller) with its strokes, or
    // with no points when the fonts lack it. singleStroke tells whether the
    // shape is one line that is not horizontal, scaleX the x scale it was
    // drawn with. Needs LoadShxFonts.
    FONTSCHAR* ShxCharAt(wchar_t c, double x, double y, bool* singleStroke = nullptr, double* scaleX = nullptr);
    // Lays out one line with the pen starting at (penX, penY): one new
    // character per character of the line, appended to the character list
    // (and a copy to the backup list for attached text); the pen ends
    // behind the line. Notes the positions of "-" for SpecIsInSingle.
    // Returns the number of characters appended.
    size_t ShxLayoutLine(const std::wstring& line, double& penX, double& penY);
    // Whether position i of the last laid-out line holds a "-".
    bool SpecIsInSingle(int i) const;
    // X the smallest x, Y the largest y, the extents as width and height;
    // all 0 for no points.
    static void GetArrayRectF(const std::vector<tagPOINTF>& points, Gdiplus::RectF& rect);

private:
    int GetShxWidthHeight(CShxShapeReader& reader, SHX_INFO& info);
    CShxShapeReader m_shxDefault;
    CShxShapeReader m_shxFont;
    std::vector<SHX_INFO> m_shxCache;
    SHX_INFO m_shxInfo;
    SHX_INFO m_shxDefaultInfo;
    std::vector<int> m_shxSpecPos;
    std::vector<dxfObject*> m_shxRecords;

    // ---- barcode frame, module fill, SHX readable text ---------------------------------------
    // Puts the closed frame around the bars at the front of the bar record
    // when the barcode asks for one (no negative margin, no module shape).
    void AddBarcodeFrame();
    // Whether a fill of fillPar hatches each module of a two-dimensional
    // code on its own (modules drawn as shapes, last enabled set rings).
    bool WantsModuleFill(const FILLED_PARS& fillPar) const;
    // Hatches every outline of fill separately into fill's hatch paths.
    void FillModules(CFilledShape* fill, const FILLED_PARS& fillPar);
    // The readable text in the SHX font the barcode names (path units, y
    // down); false when that font is not there or does not load.
    bool CodeTextShxPath(const CString& text, Gdiplus::GraphicsPath& path);
};
