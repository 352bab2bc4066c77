// The MFC device context and its GDI objects, drawing on a canvas. Without a
// canvas a CDC draws nothing, but its path functions still work: shapes use
// them to flatten curves in integer device units.
#pragma once
#include "morvik/afx/macros_save.inc"

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>
#include <string>

#include "morvik/afx/cgeom.h"
#include "morvik/gdi/canvas.h"
#include "morvik/win32/windows.h"

namespace Gdiplus {
class GraphicsPath;
}
class CairoCanvas;

struct HDC__;
using HDC = HDC__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HPEN = HGDIOBJ;
using HBRUSH = HGDIOBJ;

// Pen styles.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;
constexpr int PS_STYLE_MASK = 0xF;

// Brush styles.
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr UINT BS_HOLLOW = BS_NULL;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;

// Point types of GetPath.
constexpr BYTE PT_CLOSEFIGURE = 1;
constexpr BYTE PT_LINETO = 2;
constexpr BYTE PT_BEZIERTO = 4;
constexpr BYTE PT_MOVETO = 6;

// GetDeviceCaps indices.
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct MORVIK_API LOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
};

struct MORVIK_API LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
};

constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

// The fields of a logical font that text measurement reads: the height in
// logical units (negative: the em height, positive: the cell height, 0: a
// default of 16), the weight (600 and above is bold), the italic switch and
// the face name; the others are kept as given.
struct MORVIK_API LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[32];
};

// A GDI object. A device context draws with a copy of what was selected into
// it, so an object destroyed while selected does no harm; the selection then
// hands back the stock object in its place.
class MORVIK_API CGdiObject {
public:
    virtual ~CGdiObject();
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    // Null until the object is created.
    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    // Releases the handle (the object may be created again). Stock objects
    // stay as they are.
    BOOL DeleteObject();
    bool IsStockObject() const { return m_stock; }

protected:
    CGdiObject();
    void NewHandle();

private:
    friend class CDC;
    friend struct GdiObjectAccess;
    uint64_t m_serial;
    bool m_stock = false;
};

class MORVIK_API CPen : public CGdiObject {
public:
    CPen() = default;
    // Creates the pen at once (see CreatePen).
    CPen(int style, int width, COLORREF color);
    // A width of 0 or 1 draws one device pixel; dashed styles draw solid
    // when wider, as in GDI. Fails on an object that is already created or
    // on an unknown style.
    BOOL CreatePen(int style, int width, COLORREF color);
    int GetLogPen(LOGPEN* logPen) const;

private:
    friend class CDC;
    friend struct GdiObjectAccess;
    LOGPEN m_log{};
};

class MORVIK_API CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF color);
    BOOL CreateSolidBrush(COLORREF color);
    int GetLogBrush(LOGBRUSH* logBrush) const;

private:
    friend class CDC;
    friend struct GdiObjectAccess;
    LOGBRUSH m_log{};
};

class CDC;

// A font. As in GDI, creating one never fails for want of the face: a face
// that is not installed (or lacks the style) is measured in the platform's
// default face ("DejaVu Sans"). Creating fails only on an object that is
// already created or on a null argument.
class MORVIK_API CFont : public CGdiObject {
public:
    CFont() = default;
    // pointSize in tenths of a point; the height is taken at the context's
    // vertical resolution (96 dots per inch without one), rounded.
    BOOL CreatePointFont(int pointSize, LPCWSTR faceName, CDC* dc = nullptr);
    BOOL CreateFontIndirect(const LOGFONTW* logFont);
    int GetLogFont(LOGFONTW* logFont) const;

private:
    friend class CDC;
    LOGFONTW m_log{};
};

// The stock object's handle; null for an unknown index.
HGDIOBJ GetStockObject(int index);

class MORVIK_API CDC {
public:
    // A device context without a canvas.
    CDC();
    // Draws on the canvas, which the caller keeps alive as long as the CDC.
    explicit CDC(ICanvas* canvas);
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    static std::unique_ptr<CDC> FromCanvas(ICanvas* canvas);
    // The CDC that owns the handle; null for a handle that is not (or no
    // longer) one.
    static CDC* FromHandle(HDC hdc);

    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    ICanvas* GetCanvas() const { return m_canvas; }
    void SetCanvas(ICanvas* canvas) { m_canvas = canvas; }

    // Selecting returns the object selected before (null when the argument
    // is null or not created, and nothing changes then).
    CPen* SelectObject(CPen* pen);
    CBrush* SelectObject(CBrush* brush);
    // The font measured with; the context starts with a 16-unit default.
    CFont* SelectObject(CFont* font);
    CGdiObject* SelectObject(CGdiObject* object);
    CGdiObject* SelectStockObject(int index);
    // Copies of the pen and brush in use.
    LOGPEN GetCurrentLogPen() const { return m_penLog; }
    LOGBRUSH GetCurrentLogBrush() const { return m_brushLog; }

    // The mix mode for pens and brush interiors; returns the previous mode,
    // 0 for a mode outside R2_BLACK..R2_WHITE (which changes nothing).
    int SetROP2(int mode);
    int GetROP2() const { return m_rop2; }
    int GetDeviceCaps(int index) const;
    // A context without a canvas is already a memory context: always TRUE.
    BOOL CreateCompatibleDC(CDC* dc);

    // The extent of a line of text in the selected font, in logical units:
    // the sum of the characters' advances, each rounded to a whole unit at
    // the font's size (no kerning, as in GDI), and the font's cell height.
    // A null string or a negative count gives (0, 0), as does a context when
    // no outline font is installed at all.
    CSize GetTextExtent(LPCWSTR text, int count) const;

    CPoint MoveTo(int x, int y);
    CPoint MoveTo(POINT point) { return MoveTo(point.x, point.y); }
    BOOL LineTo(int x, int y);
    BOOL LineTo(POINT point) { return LineTo(point.x, point.y); }
    CPoint GetCurrentPosition() const { return m_pos; }
    // At least 2 points; the current position is neither used nor changed.
    BOOL Polyline(const POINT* points, int count);
    // 3k + 1 points with k >= 1; the current position is neither used nor
    // changed.
    BOOL PolyBezier(const POINT* points, int count);
    // Outline with the pen, interior with the brush; the right and bottom
    // edges are outside, as in GDI.
    BOOL Rectangle(int left, int top, int right, int bottom);
    BOOL Rectangle(const RECT* rect);
    BOOL Ellipse(int left, int top, int right, int bottom);
    BOOL Ellipse(const RECT* rect);
    // The colour set, or CLR_INVALID when there is no canvas or the point is
    // off its surface.
    COLORREF SetPixel(int x, int y, COLORREF color);
    COLORREF SetPixel(POINT point, COLORREF color) { return SetPixel(point.x, point.y, color); }
    // Fills cx by cy pixels from (x, y), whatever the brush and the mix mode.
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
    void FillSolidRect(const RECT* rect, COLORREF color);

    // Path bracket: between BeginPath and EndPath the drawing functions above
    // (MoveTo, LineTo, Polyline, PolyBezier, Rectangle, Ellipse) add figures
    // to the path instead of drawing. GetPath and FlattenPath need a path
    // ended by EndPath.
    BOOL BeginPath();
    BOOL EndPath();
    BOOL AbortPath();
    BOOL CloseFigure();
    // Curves become line runs within a quarter pixel.
    BOOL FlattenPath();
    // The path's points rounded to whole device units and their PT_* types.
    // count 0 asks for the number of points; -1 when the buffers are missing
    // or too small, or when there is no ended path.
    int GetPath(POINT* points, BYTE* types, int count) const;

private:
    struct Selection {
        CGdiObject* object = nullptr;
        uint64_t serial = 0;
    };
    enum class PathState { None, Open, Closed };

    CGdiObject* Resolve(const Selection& s, int stockFallback) const;
    bool StrokePen(CanvasPen& pen) const;
    bool FillBrush(CanvasBrush& brush) const;

    ICanvas* m_canvas = nullptr;
    Selection m_pen;
    Selection m_brush;
    LOGPEN m_penLog{};
    LOGBRUSH m_brushLog{};
    LOGFONTW m_fontLog{};
    Selection m_font;
    CPoint m_pos;
    int m_rop2 = R2_COPYPEN;
    PathState m_pathState = PathState::None;
    std::unique_ptr<Gdiplus::GraphicsPath> m_path;
};

// GDI's extent of a string on a device context; FALSE for an unknown
// context, a null string or size, or a negative count.
MORVIK_API BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size);
inline BOOL GetTextExtentPoint32(HDC hdc, LPCWSTR text, int count, SIZE* size) {
    return GetTextExtentPoint32W(hdc, text, count, size);
}

// A device context on a raster image of its own: white, width by height
// pixels, written out as PNG.
class MORVIK_API CMemoryDC : public CDC {
public:
    CMemoryDC(int width, int height);
    ~CMemoryDC() override;
    // The image; invalid (drawing nothing) when the size was refused.
    CairoCanvas& Canvas() { return *m_image; }
    const CairoCanvas& Canvas() const { return *m_image; }
    bool WriteToPng(const std::string& path) const;

private:
    std::unique_ptr<CairoCanvas> m_image;
};

#include "morvik/afx/macros_restore.inc"
