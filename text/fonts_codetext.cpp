// The human-readable text under a barcode: a centred block of the text (or
// of its template rewrite), or for EAN-13 the three digit groups placed by
// the guard bars; its outline points follow the symbol's in the bar record.
//
// The text is laid out in path units (millimetres, y down) one character at
// a time: the pen moves on to the right edge of what the line holds so far,
// so the spacing follows the glyphs' ink rather than their advances.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "morvik/gdiplus/font_engine.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/matrix.h"
#include "morvik/text/fonts.h"

namespace {

namespace gf = Gdiplus::fonts;

// The em size of the readable text is its character size over this.
constexpr double kEmPerWidth = 0.458;

double FiniteOr0(double v) { return std::isfinite(v) ? v : 0.0; }

// The glyph of c with an outline, from the first face that has one.
const gf::Glyph* InkGlyph(gf::Face* const* faces, size_t count, char32_t c, gf::Face*& from) {
    for (size_t i = 0; i < count; ++i) {
        if (faces[i] == nullptr) continue;
        const gf::Glyph* glyph = nullptr;
        double kern = 0;
        faces[i]->GlyphRun(&c, 1, &glyph, &kern);
        if (glyph != nullptr && glyph->HasOutline()) {
            from = faces[i];
            return glyph;
        }
    }
    return nullptr;
}

}  // namespace

// ---- template and check digit --------------------------------------------------------------------

CString CFonts::DiyCodeBarTxt(CString text) {
    std::wstring clean;
    for (int i = 0; i < text.GetLength(); ++i) {
        const wchar_t c = text.GetString()[i];
        if (c != L'\r' && c != L'\n') clean.push_back(c);
    }
    const std::wstring tpl(parCodebar.strCustomText.GetString(),
                           static_cast<size_t>(parCodebar.strCustomText.GetLength()));
    if (clean.empty() || tpl.empty()) return text;
    std::wstring out;
    size_t inserted = 0;
    for (size_t i = 0; i < tpl.size(); ++i) {
        const size_t at = i - inserted;
        if (at >= clean.size()) {
            // The data has run out: the rest of the template stands as it is.
            out.append(tpl, i, std::wstring::npos);
            break;
        }
        switch (tpl[i]) {
            case L'?': break;
            case L'%': out += std::to_wstring(at + 1); break;
            case L'/':
                out += L"\r\n";
                ++inserted;
                break;
            case L'(':
            case L')':
                out.push_back(tpl[i]);
                ++inserted;
                break;
            default: out.push_back(clean[at]); break;
        }
    }
    return CString(out.c_str());
}

int CFonts::GetEAN_13Verify(CString text) {
    if (text.GetLength() < 12) return -1;
    int sum = 0;
    for (int i = 0; i < 12; ++i) {
        const wchar_t c = text.GetString()[i];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : 0;
        sum += digit * (i % 2 == 0 ? 1 : 3);
    }
    return (10 - sum % 10) % 10;
}

// ---- layout ---------------------------------------------------------------------------------------

bool CFonts::CodeTextPath(const CString& text, Gdiplus::GraphicsPath& path) {
    const double em = parCodebar.dTextWidth / kEmPerWidth;
    // A text without a size, or of a size no float holds, has no outline
    // to give.
    if (!(em > 1e-6) || !(em < 1e6)) return false;
    if (CodeTextShxPath(text, path)) return true;
    std::wstring name(parCodebar.strTextFont.GetString(), static_cast<size_t>(parCodebar.strTextFont.GetLength()));
    if (!name.empty() && name[0] == L'@') name.erase(0, 1);
    if (name.empty()) name = L"Arial";
    const int style = GetFontStyle() & 3;
    gf::Face* faces[2] = {nullptr, gf::DefaultFace(style)};
    if (const auto family = gf::FindFamily(name)) faces[0] = gf::FaceFor(*family, style);
    if (faces[0] == nullptr && faces[1] == nullptr) return false;

    const bool vertical = parFonts.bVertical != 0;
    const double space = FiniteOr0(parCodebar.dTextSpace);
    const std::u32string chars = gf::ToCodePoints(text.GetString(), static_cast<size_t>(text.GetLength()));
    double lineX = 0, lineY = 0;  // where the current line (or column) starts
    double penX = 0, penY = 0;
    double lineFar = 0;  // right edge (bottom for vertical text) of the line's ink
    bool lineInk = false;
    double lastBox = 0;  // the previous character's box across the line
    for (const char32_t c : chars) {
        if (c == U'\r') continue;
        if (c == U'\n') {
            if (vertical) {
                lineX += em;
                penX = lineX;
                penY = lineY;
            } else {
                lineY += em;
                penX = lineX;
                penY = lineY;
            }
            lineInk = false;
            lastBox = 0;
            continue;
        }
        gf::Face* face = nullptr;
        const gf::Glyph* glyph = InkGlyph(faces, 2, c, face);
        if (glyph == nullptr) {
            // A blank (or a character no face draws) keeps the room of the
            // character before it.
            if (vertical) {
                penY += lastBox + space;
            } else {
                penX += lastBox + space;
            }
            continue;
        }
        const gf::Metrics& m = face->GetMetrics();
        const double scale = em / m.emHeight;
        const double baseline = m.cellAscent * scale;
        const size_t n = glyph->types.size();
        std::vector<Gdiplus::PointF> pts(n);
        for (size_t k = 0; k < n; ++k)
            pts[k] = Gdiplus::PointF(static_cast<Gdiplus::REAL>(penX + glyph->xy[2 * k] * scale),
                                     static_cast<Gdiplus::REAL>(penY + baseline - glyph->xy[2 * k + 1] * scale));
        Gdiplus::GraphicsPath one(pts.data(), glyph->types.data(), static_cast<INT>(n));
        Gdiplus::RectF box;
        one.GetBounds(&box);
        path.AddPath(&one, FALSE);
        const double far = vertical ? box.GetBottom() : box.GetRight();
        lineFar = lineInk ? std::max(lineFar, far) : far;
        lineInk = true;
        lastBox = vertical ? box.Height : box.Width;
        if (vertical) {
            penY = lineFar + space;
        } else {
            penX = lineFar + space;
        }
    }
    return path.GetPointCount() > 0;
}

void CFonts::AppendCodeText(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rect, float left) {
    if (m_arrChars.empty() || m_arrChars[0] == nullptr || path.GetPointCount() == 0) return;
    const double em = parCodebar.dTextWidth / kEmPerWidth;
    const double vs = FiniteOr0(parCodebar.dTextHeight / em);
    if (!(std::fabs(vs) < 1e6)) return;
    Gdiplus::Matrix scale(1.0f, 0.0f, 0.0f, static_cast<Gdiplus::REAL>(vs), 0.0f, 0.0f);
    path.Transform(&scale);
    Gdiplus::RectF box;
    path.GetBounds(&box);
    double dx = (rect.Width - box.Width) / 2.0 + rect.X - box.X;
    double dy = 0;
    if (std::fabs(parCodebar.dTextOffsetX) > 1e-7 || std::fabs(parCodebar.dTextOffsetY) > 1e-7) {
        dx += FiniteOr0(parCodebar.dTextOffsetX);
        dy += FiniteOr0(parCodebar.dTextOffsetY);
    }
    if (!(std::fabs(dx) < 1e7) || !(std::fabs(dy) < 1e7)) return;
    Gdiplus::Matrix shift(1.0f, 0.0f, 0.0f, 1.0f, static_cast<Gdiplus::REAL>(dx), static_cast<Gdiplus::REAL>(dy));
    path.Transform(&shift);
    path.Flatten(nullptr, GetSmoothRatio());
    const std::vector<Gdiplus::PointF>& pts = path.PathPoints();
    const std::vector<BYTE>& types = path.PathTypes();
    // A group placed by its left edge moves there as a whole.
    double ox = 0;
    if (std::isfinite(left) && !pts.empty()) {
        float lo = pts[0].X;
        for (const Gdiplus::PointF& q : pts) lo = std::min(lo, q.X);
        ox = static_cast<double>(left) - lo;
    }
    // The text hangs ten modules below the symbol, turned to y up.
    const double base = static_cast<double>(rect.Y) - rect.Height - 10.0 * parCodebar.fModuleWidth;
    // Absurd sizes or offsets would leave the range of the points: such a
    // text is not shown.
    constexpr double kMaxCoord = 1e7;
    for (size_t i = 0; i < pts.size() && i < types.size(); ++i) {
        const double x = pts[i].X + ox, y = base - pts[i].Y;
        if (!(std::fabs(x) < kMaxCoord) || !(std::fabs(y) < kMaxCoord)) return;
    }
    FONTSCHAR* rec = m_arrChars[0];
    for (size_t i = 0; i < pts.size() && i < types.size(); ++i) {
        rec->points.push_back({static_cast<float>(pts[i].X + ox), static_cast<float>(base - pts[i].Y)});
        rec->types.push_back(types[i]);
    }
    InvalidateGeometry();
}

namespace {

// The text to show, from the data as the symbol encodes it: the
// template's rewrite when asked for, with each line break one line feed.
CString ShownText(CFonts& text, const CString& encoded) {
    CString s = text.parCodebar.bCustomText != 0 ? text.DiyCodeBarTxt(encoded) : encoded;
    std::wstring out;
    for (int i = 0; i < s.GetLength(); ++i) {
        const wchar_t c = s.GetString()[i];
        if (c == L'\r' && i + 1 < s.GetLength() && s.GetString()[i + 1] == L'\n') continue;
        out.push_back(c);
    }
    return CString(out.c_str());
}

}  // namespace

void CFonts::Show2DBarCodeTxt(Gdiplus::RectF& rect) {
    if (m_arrChars.empty()) return;
    Gdiplus::GraphicsPath path;
    if (!CodeTextPath(ShownText(*this, m_strCodeReadable.IsEmpty() ? m_strText : m_strCodeReadable), path)) return;
    AppendCodeText(path, rect, std::numeric_limits<float>::quiet_NaN());
}

void CFonts::ShowEANBarCodeText(Gdiplus::RectF& rect) {
    if (m_arrChars.empty()) return;
    const CString shown = ShownText(*this, m_strCodeReadable.IsEmpty() ? m_strText : m_strCodeReadable);
    const int check = GetEAN_13Verify(shown);
    // The guard bars are the tallest ones, which the engine gives the whole
    // notch height (a whole number of millimetres, until a fixed size
    // scales them with the rest).
    float tallest = 0;
    for (const Gdiplus::RectF& bar : m_arrEanBars) tallest = std::max(tallest, bar.Height);
    std::vector<Gdiplus::RectF> guards;
    for (const Gdiplus::RectF& bar : m_arrEanBars)
        if (std::fabs(bar.Height - tallest) <= 1e-5f * tallest) guards.push_back(bar);
    // Without twelve digits or four guard bars there are no groups to place:
    // the text is shown as one centred block.
    if (check < 0 || guards.size() < 4) {
        Show2DBarCodeTxt(rect);
        return;
    }
    std::wstring number(shown.GetString(), 12);
    number += std::to_wstring(check);
    const double g = static_cast<double>(guards[1].GetRight()) - guards[0].X;
    const double lefts[3] = {guards[0].X - 3.0 * g, guards[1].GetRight() + 1.4 * g, guards[3].GetRight() + 1.4 * g};
    const size_t from[3] = {0, 1, 7}, count[3] = {1, 6, 6};
    for (int k = 0; k < 3; ++k) {
        Gdiplus::GraphicsPath path;
        if (!CodeTextPath(CString(number.substr(from[k], count[k]).c_str()), path)) continue;
        AppendCodeText(path, rect, static_cast<float>(lefts[k]));
    }
}
