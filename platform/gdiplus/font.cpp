#include "morvik/gdiplus/font.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

#include "morvik/gdiplus/font_engine.h"
#include "morvik/gdiplus/graphicspath.h"

namespace Gdiplus {

namespace {

fonts::Face* FaceOf(const std::shared_ptr<const fonts::Family>& family, INT style) {
    return family ? fonts::FaceFor(*family, style) : nullptr;
}

uint16_t Clamp16(int v) { return static_cast<uint16_t>(std::clamp(v, 0, 65535)); }

Status TakeStatus(Status& s) {
    const Status r = s;
    s = Ok;
    return r;
}

bool Finite(const RectF& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Width) && std::isfinite(r.Height);
}

bool IsBlank(char32_t c) { return c == U' ' || c == 0x3000 || c == 0xA0; }
bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F; }

// One laid-out line: its characters, their glyphs and pen positions in font
// units from the line's start, and its width for alignment.
struct Line {
    std::vector<const fonts::Glyph*> glyphs;
    std::vector<double> x;
    double width = 0;
};

// Splits the text at line breaks and drops control characters.
std::vector<std::u32string> SplitLines(const std::u32string& text) {
    std::vector<std::u32string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c == U'\r' || c == U'\n') {
            if (c == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') ++i;
            lines.emplace_back();
        } else if (!IsControl(c)) {
            lines.back().push_back(c);
        }
    }
    return lines;
}

// Lays out chars[first, last) from pen 0 (kerning with the character before
// first is dropped).
Line Place(const std::u32string& chars, const std::vector<const fonts::Glyph*>& glyphs,
           const std::vector<double>& kern, size_t first, size_t last, bool trailingSpaces) {
    Line line;
    double pen = 0;
    for (size_t i = first; i < last; ++i) {
        if (i > first) pen += kern[i];
        line.glyphs.push_back(glyphs[i]);
        line.x.push_back(pen);
        pen += glyphs[i]->advance;
        if (trailingSpaces || !IsBlank(chars[i])) line.width = pen;
    }
    return line;
}

// Breaks one source line into lines no wider than avail (font units) where
// it can: after the last blank that fits, else before the character that
// overflows. Blanks at a break hang past the line's end.
void Wrap(const std::u32string& chars, const std::vector<const fonts::Glyph*>& glyphs,
          const std::vector<double>& kern, double avail, bool trailingSpaces, std::vector<Line>& out) {
    size_t start = 0;
    const size_t n = chars.size();
    while (true) {
        double pen = 0;
        size_t end = n;
        size_t lastBreak = 0;  // index after a blank run, 0: none
        for (size_t i = start; i < n; ++i) {
            if (i > start) pen += kern[i];
            const bool blank = IsBlank(chars[i]);
            if (!blank && i > start && IsBlank(chars[i - 1])) lastBreak = i;
            if (!blank && pen + glyphs[i]->advance > avail && i > start) {
                end = lastBreak > start ? lastBreak : i;
                break;
            }
            pen += glyphs[i]->advance;
        }
        out.push_back(Place(chars, glyphs, kern, start, end, trailingSpaces));
        if (end >= n) return;
        start = end;
    }
}

const StringFormat& DefaultFormat() {
    static const StringFormat format;
    return format;
}

}  // namespace

// ---- FontFamily -------------------------------------------------------------

FontFamily::FontFamily() = default;

FontFamily::FontFamily(const WCHAR* name, const FontCollection*) {
    if (name == nullptr) {
        m_lastStatus = InvalidParameter;
        return;
    }
    m_family = fonts::FindFamily(name);
    m_lastStatus = m_family ? Ok : FontFamilyNotFound;
}

FontFamily::FontFamily(const FontFamily& other) : m_family(other.m_family), m_lastStatus(other.m_lastStatus) {}

FontFamily& FontFamily::operator=(const FontFamily& other) {
    m_family = other.m_family;
    m_lastStatus = other.m_lastStatus;
    return *this;
}

FontFamily::~FontFamily() = default;

FontFamily* FontFamily::Clone() const { return new FontFamily(*this); }

BOOL FontFamily::IsAvailable() const { return m_family ? TRUE : FALSE; }

BOOL FontFamily::IsStyleAvailable(INT style) const { return FaceOf(m_family, style) != nullptr ? TRUE : FALSE; }

Status FontFamily::GetFamilyName(WCHAR name[LF_FACESIZE], WORD) const {
    if (name == nullptr) return m_lastStatus = InvalidParameter;
    name[0] = 0;
    if (!m_family) return m_lastStatus = FontFamilyNotFound;
    const std::wstring s = fonts::FamilyName(*m_family);
    const size_t n = std::min<size_t>(s.size(), LF_FACESIZE - 1);
    std::wmemcpy(name, s.data(), n);
    name[n] = 0;
    return Ok;
}

#define MORVIK_FAMILY_METRIC(Method, field)                  \
    uint16_t FontFamily::Method(INT style) const {             \
        const fonts::Face* face = FaceOf(m_family, style);   \
        if (face == nullptr) {                               \
            m_lastStatus = m_family ? FontStyleNotFound      \
                                    : FontFamilyNotFound;    \
            return 0;                                        \
        }                                                    \
        return Clamp16(face->GetMetrics().field);            \
    }
MORVIK_FAMILY_METRIC(GetEmHeight, emHeight)
MORVIK_FAMILY_METRIC(GetCellAscent, cellAscent)
MORVIK_FAMILY_METRIC(GetCellDescent, cellDescent)
MORVIK_FAMILY_METRIC(GetLineSpacing, lineSpacing)
#undef MORVIK_FAMILY_METRIC

Status FontFamily::GetLastStatus() const { return TakeStatus(m_lastStatus); }

// ---- Font -------------------------------------------------------------------

Font::Font(const FontFamily* family, REAL emSize, INT style, Unit unit)
    : m_size(emSize), m_style(style), m_unit(unit) {
    if (family != nullptr) m_family = *family;
    if (family == nullptr || !std::isfinite(emSize) || !(emSize > 0)) {
        m_status = InvalidParameter;
    } else if (!m_family.IsAvailable()) {
        m_status = FontFamilyNotFound;
    } else if (!m_family.IsStyleAvailable(style)) {
        m_status = FontStyleNotFound;
    }
    m_lastStatus = m_status;
}

Font::Font(const WCHAR* familyName, REAL emSize, INT style, Unit unit, const FontCollection* collection)
    : Font(std::make_unique<FontFamily>(familyName, collection).get(), emSize, style, unit) {
    if (familyName == nullptr) m_lastStatus = m_status = InvalidParameter;
}

Font* Font::Clone() const { return new Font(*this); }

BOOL Font::IsAvailable() const { return m_status == Ok ? TRUE : FALSE; }

Status Font::GetFamily(FontFamily* family) const {
    if (family == nullptr) return m_lastStatus = InvalidParameter;
    *family = m_family;
    return Ok;
}

REAL Font::GetHeight(REAL dpi) const {
    const fonts::Face* face = m_status == Ok ? FaceOf(m_family.m_family, m_style) : nullptr;
    if (face == nullptr) {
        m_lastStatus = m_status != Ok ? m_status : FontStyleNotFound;
        return 0;
    }
    double pixels = m_size;
    switch (m_unit) {
        case UnitPoint: pixels = m_size * dpi / 72.0; break;
        case UnitInch: pixels = m_size * dpi; break;
        case UnitDocument: pixels = m_size * dpi / 300.0; break;
        case UnitMillimeter: pixels = m_size * dpi / 25.4; break;
        default: break;
    }
    const fonts::Metrics& m = face->GetMetrics();
    return static_cast<REAL>(pixels * m.lineSpacing / m.emHeight);
}

Status Font::GetLastStatus() const { return TakeStatus(m_lastStatus); }

// ---- StringFormat -----------------------------------------------------------

StringFormat::StringFormat(INT formatFlags, WORD) : m_flags(formatFlags) {}

const StringFormat* StringFormat::GenericDefault() {
    static const StringFormat format;
    return &format;
}

const StringFormat* StringFormat::GenericTypographic() {
    static const StringFormat format = [] {
        StringFormat f(StringFormatFlagsNoFitBlackBox | StringFormatFlagsLineLimit | StringFormatFlagsNoClip);
        f.m_typographic = true;
        return f;
    }();
    return &format;
}

StringFormat* StringFormat::Clone() const { return new StringFormat(*this); }

Status StringFormat::SetFormatFlags(INT flags) {
    m_flags = flags;
    return Ok;
}

Status StringFormat::SetAlignment(StringAlignment align) {
    if (align < StringAlignmentNear || align > StringAlignmentFar) return m_lastStatus = InvalidParameter;
    m_align = align;
    return Ok;
}

Status StringFormat::SetLineAlignment(StringAlignment align) {
    if (align < StringAlignmentNear || align > StringAlignmentFar) return m_lastStatus = InvalidParameter;
    m_lineAlign = align;
    return Ok;
}

Status StringFormat::GetLastStatus() const { return TakeStatus(m_lastStatus); }

// ---- GraphicsPath::AddString ------------------------------------------------

Status GraphicsPath::AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                               const RectF& layoutRect, const StringFormat* format) {
    if (string == nullptr || length < -1 || family == nullptr || !std::isfinite(emSize) || !(emSize > 0) ||
        !Finite(layoutRect)) {
        return SetStatus(InvalidParameter);
    }
    if (!family->m_family) return SetStatus(FontFamilyNotFound);
    fonts::Face* face = fonts::FaceFor(*family->m_family, style);
    if (face == nullptr) return SetStatus(FontStyleNotFound);
    const StringFormat& fmt = format != nullptr ? *format : DefaultFormat();
    const size_t count = length == -1 ? std::wcslen(string) : static_cast<size_t>(length);

    const fonts::Metrics& metrics = face->GetMetrics();
    const double scale = static_cast<double>(emSize) / metrics.emHeight;
    const double pad = fmt.m_typographic ? 0.0 : emSize / 6.0;
    const bool trailing = (fmt.m_flags & StringFormatFlagsMeasureTrailingSpaces) != 0;
    const bool wrap = layoutRect.Width > 0 && (fmt.m_flags & StringFormatFlagsNoWrap) == 0;
    const double avail = std::max(0.0, (layoutRect.Width - 2 * pad) / scale);

    std::vector<Line> lines;
    for (const std::u32string& chars : SplitLines(fonts::ToCodePoints(string, count))) {
        std::vector<const fonts::Glyph*> glyphs(chars.size());
        std::vector<double> kern(chars.size());
        face->GlyphRun(chars.data(), chars.size(), glyphs.data(), kern.data());
        if (wrap) Wrap(chars, glyphs, kern, avail, trailing, lines);
        else lines.push_back(Place(chars, glyphs, kern, 0, chars.size(), trailing));
    }

    // The block of lines against the rectangle (a point origin is a
    // rectangle of no size).
    const double lineStep = metrics.lineSpacing * scale;
    const double blockHeight = lineStep * static_cast<double>(lines.size());
    double top = layoutRect.Y;
    if (fmt.m_lineAlign == StringAlignmentCenter) top += (layoutRect.Height - blockHeight) / 2;
    else if (fmt.m_lineAlign == StringAlignmentFar) top += layoutRect.Height - blockHeight;

    const size_t oldCount = m_points.size();
    for (size_t k = 0; k < lines.size(); ++k) {
        const Line& line = lines[k];
        const double width = line.width * scale;
        double left = layoutRect.X + pad;
        if (fmt.m_align == StringAlignmentCenter) left = layoutRect.X + (layoutRect.Width - width) / 2;
        else if (fmt.m_align == StringAlignmentFar) left = layoutRect.X + layoutRect.Width - pad - width;
        const double baseline = top + metrics.cellAscent * scale + lineStep * static_cast<double>(k);
        for (size_t i = 0; i < line.glyphs.size(); ++i) {
            const fonts::Glyph& g = *line.glyphs[i];
            const double x0 = left + line.x[i] * scale;
            for (size_t p = 0; p < g.types.size(); ++p) {
                m_points.emplace_back(static_cast<REAL>(x0 + g.xy[2 * p] * scale),
                                      static_cast<REAL>(baseline - g.xy[2 * p + 1] * scale));
                m_types.push_back(g.types[p]);
            }
        }
    }
    if (m_points.size() != oldCount) m_newFigure = true;
    return Ok;
}

Status GraphicsPath::AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                               const PointF& origin, const StringFormat* format) {
    return AddString(string, length, family, style, emSize, RectF(origin.X, origin.Y, 0, 0), format);
}

Status GraphicsPath::AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                               const Point& origin, const StringFormat* format) {
    return AddString(string, length, family, style, emSize,
                     RectF(static_cast<REAL>(origin.X), static_cast<REAL>(origin.Y), 0, 0), format);
}

Status GraphicsPath::AddString(const WCHAR* string, INT length, const FontFamily* family, INT style, REAL emSize,
                               const Rect& layoutRect, const StringFormat* format) {
    return AddString(string, length, family, style, emSize,
                     RectF(static_cast<REAL>(layoutRect.X), static_cast<REAL>(layoutRect.Y),
                           static_cast<REAL>(layoutRect.Width), static_cast<REAL>(layoutRect.Height)),
                     format);
}

}  // namespace Gdiplus
