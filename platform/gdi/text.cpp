// Fonts of device contexts and the measurement of text on them.
#include <algorithm>
#include <cmath>
#include <cwchar>
#include <vector>

#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/font_engine.h"

namespace {

constexpr LONG kDefaultEm = 16;

// Win32's MulDiv: a * b / c rounded half away from zero.
LONG MulDivRound(LONG a, LONG b, LONG c) {
    if (c == 0) return -1;
    const double r = static_cast<double>(a) * b / c;
    return static_cast<LONG>(std::clamp(std::round(r), -2147483647.0, 2147483647.0));
}

// The face a logical font measures with: its own when installed in that
// style, the default face otherwise.
Gdiplus::fonts::Face* FaceOfLogFont(const LOGFONTW& lf) {
    const int style = (lf.lfWeight >= 600 ? 1 : 0) | (lf.lfItalic != 0 ? 2 : 0);
    const size_t n = std::find(lf.lfFaceName, lf.lfFaceName + 32, L'\0') - lf.lfFaceName;
    if (auto family = Gdiplus::fonts::FindFamily(std::wstring(lf.lfFaceName, n))) {
        if (Gdiplus::fonts::Face* face = Gdiplus::fonts::FaceFor(*family, style)) return face;
    }
    return Gdiplus::fonts::DefaultFace(style);
}

}  // namespace

BOOL CFont::CreatePointFont(int pointSize, LPCWSTR faceName, CDC* dc) {
    if (faceName == nullptr) return FALSE;
    int dpi = dc != nullptr ? dc->GetDeviceCaps(LOGPIXELSY) : 96;
    if (dpi <= 0) dpi = 96;
    LOGFONTW lf{};
    lf.lfHeight = -std::abs(MulDivRound(dpi, pointSize, 720));
    lf.lfWeight = FW_NORMAL;
    const size_t n = std::min<size_t>(std::wcslen(faceName), 31);
    std::wmemcpy(lf.lfFaceName, faceName, n);
    return CreateFontIndirect(&lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONTW* logFont) {
    if (logFont == nullptr || m_hObject != nullptr) return FALSE;
    m_log = *logFont;
    m_log.lfFaceName[31] = 0;
    NewHandle();
    return TRUE;
}

int CFont::GetLogFont(LOGFONTW* logFont) const {
    if (logFont == nullptr || m_hObject == nullptr) return 0;
    *logFont = m_log;
    return static_cast<int>(sizeof(LOGFONTW));
}

CFont* CDC::SelectObject(CFont* font) {
    if (font == nullptr || font->m_hObject == nullptr) return nullptr;
    CFont* old = static_cast<CFont*>(Resolve(m_font, -1));
    m_font = Selection{font, font->m_serial};
    m_fontLog = font->m_log;
    return old;
}

BOOL CDC::CreateCompatibleDC(CDC*) { return TRUE; }

CSize CDC::GetTextExtent(LPCWSTR text, int count) const {
    Gdiplus::fonts::Face* face = FaceOfLogFont(m_fontLog);
    if (face == nullptr || text == nullptr || count < 0) return CSize(0, 0);
    const Gdiplus::fonts::Metrics& m = face->GetMetrics();
    const double cell = m.cellAscent + m.cellDescent;
    double em = kDefaultEm;
    if (m_fontLog.lfHeight < 0) em = -static_cast<double>(m_fontLog.lfHeight);
    else if (m_fontLog.lfHeight > 0 && cell > 0) em = m_fontLog.lfHeight * m.emHeight / cell;
    const double scale = em / m.emHeight;

    const std::u32string chars = Gdiplus::fonts::ToCodePoints(text, static_cast<size_t>(count));
    std::vector<const Gdiplus::fonts::Glyph*> glyphs(chars.size());
    std::vector<double> kern(chars.size());
    face->GlyphRun(chars.data(), chars.size(), glyphs.data(), kern.data());
    double width = 0;
    for (const Gdiplus::fonts::Glyph* g : glyphs) width += std::round(g->advance * scale);
    const double height = std::round(m.cellAscent * scale) + std::round(m.cellDescent * scale);
    return CSize(static_cast<LONG>(std::min(width, 2147483647.0)), static_cast<LONG>(std::min(height, 2147483647.0)));
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size) {
    CDC* dc = CDC::FromHandle(hdc);
    if (dc == nullptr || text == nullptr || size == nullptr || count < 0) return FALSE;
    const CSize extent = dc->GetTextExtent(text, count);
    size->cx = extent.cx;
    size->cy = extent.cy;
    return TRUE;
}
