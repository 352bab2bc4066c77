// The TrueType layout of a text shape: characters one after the other on a
// pen position, in layout units of 10 per em with y growing downward, then
// stored with y up; the frame and the placement of a new text.
//
// The layout reads glyphs, advances and kerning pairs from the font engine
// under the GDI+ stand-in, and places each glyph exactly where
// GraphicsPath::AddString would put that character at the pen (em 10, the
// typographic format: the cell's top-left corner at the pen, the baseline
// the face's cell ascent below it). Every distinct glyph is outlined,
// measured and flattened once per layout; a character costs a copy of its
// flattened outline, so the work grows linearly with the text.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "morvik/compose/filledshape.h"
#include "morvik/core/runlog.h"
#include "morvik/gdiplus/font.h"
#include "morvik/gdiplus/font_engine.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/text/fonts.h"

namespace {

namespace gf = Gdiplus::fonts;

// The faces a layout turns to, in order, when the current one cannot draw
// the first character of a line.
const wchar_t* const kFallbackFaces[] = {L"Arial", L"Courier New", L"宋体"};

bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }
bool IsBlank(wchar_t c) { return c == L' ' || c == 0xA0 || c == 0x3000 || IsControl(c); }

double FiniteOr0(double v) { return std::isfinite(v) ? v : 0.0; }

// The faces of one layout: the requested one, the fallback faces and, when
// none of those is installed, the engine's default face, so that a text
// does not vanish for want of a face it can never have. Each face is tried
// in the layout's style, then with bold added, then with italic added.
class FaceChain {
public:
    explicit FaceChain(std::wstring requested) : m_requested(std::move(requested)) {}

    // The face for a line that starts with c. Moves on along the faces and
    // styles while the face cannot be had in the style (not installed, or
    // the style not available) or lacks the character; a style that is
    // taken stays in the parameters. When no face draws c, the first face
    // that could be had is kept. Null when no face can be had at all.
    gf::Face* ForLine(wchar_t c, FONTS_PAR& par) {
        const int style = (par.bBold != 0 ? 1 : 0) | (par.bItalic != 0 ? 2 : 0);
        const int styles[3] = {style, style | 1, style | 2};
        size_t usablePos = 0;
        int usableStyle = -1;
        gf::Face* usable = nullptr;
        for (size_t k = m_pos; k < kFaces; ++k) {
            for (int n = 0; n < 3; ++n) {
                if (n > 0 && styles[n] == style) continue;
                gf::Face* face = FaceAt(k, styles[n]);
                if (face == nullptr) continue;
                if (Draws(face, c)) return SelectFace(k, styles[n], face, par);
                if (usable == nullptr) {
                    usable = face;
                    usablePos = k;
                    usableStyle = styles[n];
                }
            }
        }
        return usable != nullptr ? SelectFace(usablePos, usableStyle, usable, par) : nullptr;
    }

private:
    static constexpr size_t kFaces = 1 + std::size(kFallbackFaces) + 1;

    gf::Face* FaceAt(size_t k, int style) {
        if (k + 1 == kFaces) return gf::DefaultFace(style);
        if (!m_looked[k]) {
            m_looked[k] = true;
            m_family[k] = gf::FindFamily(k == 0 ? m_requested : std::wstring(kFallbackFaces[k - 1]));
        }
        return m_family[k] ? gf::FaceFor(*m_family[k], style) : nullptr;
    }

    static bool Draws(gf::Face* face, wchar_t c) {
        if (IsBlank(c)) return true;
        const char32_t cp = static_cast<char32_t>(c);
        const gf::Glyph* glyph = nullptr;
        double kern = 0;
        face->GlyphRun(&cp, 1, &glyph, &kern);
        return glyph != nullptr && glyph->index != 0;
    }

    // Makes face (position k, style) the chain's current one and returns it.
    gf::Face* SelectFace(size_t k, int style, gf::Face* face, FONTS_PAR& par) {
        m_pos = k;
        par.bBold = (style & 1) != 0 ? 1 : 0;
        par.bItalic = (style & 2) != 0 ? 1 : 0;
        return face;
    }

    std::wstring m_requested;
    size_t m_pos = 0;
    bool m_looked[kFaces] = {};
    std::shared_ptr<const gf::Family> m_family[kFaces];
};

// A glyph as the layout places it: with the pen at the top-left corner of
// its cell, its advance, the bounds of its curves and its flattened
// outline, in layout units (y down).
struct GlyphForm {
    double advance = 0;
    // Bounds with both a width and a height; a glyph without them (a blank,
    // a character the face lacks) adds no outline.
    bool ink = false;
    Gdiplus::RectF box;
    std::vector<Gdiplus::PointF> points;
    std::vector<BYTE> types;
};

class GlyphForms {
public:
    explicit GlyphForms(float flatness) : m_flatness(flatness) {}

    const GlyphForm& Of(const gf::Face& face, const gf::Glyph& glyph) {
        auto it = m_forms.find(&glyph);
        if (it != m_forms.end()) return it->second;
        GlyphForm& form = m_forms[&glyph];
        const gf::Metrics& m = face.GetMetrics();
        const double scale = CFonts::kEmSize / m.emHeight;
        const double baseline = m.cellAscent * scale;
        form.advance = glyph.advance * scale;
        if (!glyph.HasOutline()) return form;
        const size_t n = glyph.types.size();
        std::vector<Gdiplus::PointF> pts(n);
        for (size_t p = 0; p < n; ++p) {
            pts[p] = Gdiplus::PointF(static_cast<Gdiplus::REAL>(glyph.xy[2 * p] * scale),
                                     static_cast<Gdiplus::REAL>(baseline - glyph.xy[2 * p + 1] * scale));
        }
        Gdiplus::GraphicsPath path(pts.data(), glyph.types.data(), static_cast<INT>(n));
        path.GetBounds(&form.box);
        form.ink = form.box.Width > 0 && form.box.Height > 0;
        if (!form.ink) return form;
        path.Flatten(nullptr, m_flatness);
        form.points = path.PathPoints();
        form.types = path.PathTypes();
        return form;
    }

    // The form of a control character: no ink and no room.
    const GlyphForm& EmptyForm() const { return m_empty; }

private:
    float m_flatness;
    std::unordered_map<const gf::Glyph*, GlyphForm> m_forms;
    GlyphForm m_empty;
};

// One line of the text: its characters with their glyph forms and their
// pen positions in the string as the face sets it (advances and kerning,
// from 0).
struct LineRun {
    std::wstring text;
    std::vector<const GlyphForm*> forms;
    std::vector<double> natural;
};

// The number of spaces in a row from position from of a line of length n.
int SpacesFrom(const wchar_t* line, size_t n, size_t from) {
    int count = 0;
    for (size_t k = from; k < n && line[k] == L' '; ++k) ++count;
    return count;
}

// The extremes of all points of the characters; false when there are none.
bool Extent(const std::vector<FONTSCHAR*>& chars, tagPOINTF& lo, tagPOINTF& hi) {
    bool any = false;
    for (const FONTSCHAR* ch : chars) {
        if (ch == nullptr) continue;
        for (const tagPOINTF& p : ch->points) {
            if (!any) {
                lo = hi = p;
                any = true;
            }
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
        }
    }
    return any;
}

}  // namespace

// ---- small measures ---------------------------------------------------------------------------

int CFonts::GetFontStyle() const {
    return (parFonts.bBold != 0 ? Gdiplus::FontStyleBold : 0) | (parFonts.bItalic != 0 ? Gdiplus::FontStyleItalic : 0);
}

double CFonts::GetFontSlopeRate() const {
    if (m_arrFrame.size() < 4) return 1.0;
    const double a = Angle2P(m_arrFrame[2], m_arrFrame[3]) - Angle2P(m_arrFrame[0], m_arrFrame[1]);
    return std::fabs(std::sin(a * M_PI / 180.0));
}

double CFonts::GetFakeWidth() const {
    if (m_arrFrame.size() < 4) return 0.0;
    return std::hypot(static_cast<double>(m_arrFrame[1].x) - m_arrFrame[0].x,
                      static_cast<double>(m_arrFrame[1].y) - m_arrFrame[0].y);
}

double CFonts::GetFakeHeight() const {
    if (m_arrFrame.size() < 4) return 0.0;
    return std::hypot(static_cast<double>(m_arrFrame[3].x) - m_arrFrame[2].x,
                      static_cast<double>(m_arrFrame[3].y) - m_arrFrame[2].y) *
           GetFontSlopeRate();
}

void CFonts::InitRefPoint() {
    Gdiplus::RectF r;
    GetRectangle(r);
    InitRefPoint(r);
}

void CFonts::InitRefPoint(Gdiplus::RectF r) {
    // Y is the rectangle's top edge (y up). The frame's horizontal line
    // P0 P1 lies half a height above that edge and its vertical line P2 P3
    // runs from one height above it down to it: the frame's reference
    // points (GetPosRefPoint) are then the top-left corner, the top centre
    // and the top-right corner, each taken half the vertical line below P0,
    // P3 and P1.
    m_arrFrame.clear();
    fInitStrHeight = r.Height;
    fInitStrWidth = r.Width;
    const float lineY = r.Y + r.Height / 2;
    const float midX = r.X + r.Width / 2;
    m_arrFrame.push_back({r.X, lineY});
    m_arrFrame.push_back({r.X + r.Width, lineY});
    m_arrFrame.push_back({midX, r.Y + r.Height});
    m_arrFrame.push_back({midX, r.Y});
}

bool CFonts::AdoptOldFrame() {
    // Texts saved before the frame was built by its formula carry a frame
    // one text height lower: its lines cross in the middle of the text
    // instead of one height above it. Measured across the frame's own axes
    // (so that any move, turn, slant, scale or mirror made since applies to
    // outline and frame alike), the text spans -1.5 to -0.5 heights from the
    // horizontal line in a frame of today's form and -0.5 to 0.5 in the old
    // form. Text on an arc keeps its frame: it is never placed by it.
    if (m_arrFrame.size() != 4 || parFonts.bPathText != 0) return false;
    const double ox = m_arrFrame[0].x, oy = m_arrFrame[0].y;
    const double ux = static_cast<double>(m_arrFrame[1].x) - ox, uy = static_cast<double>(m_arrFrame[1].y) - oy;
    const double dx = static_cast<double>(m_arrFrame[2].x) - m_arrFrame[3].x;
    const double dy = static_cast<double>(m_arrFrame[2].y) - m_arrFrame[3].y;
    const double det = ux * dy - uy * dx;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
    double lo = 0, hi = 0;
    bool any = false;
    for (const FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr) continue;
        for (const tagPOINTF& p : ch->points) {
            const double t = (ux * (p.y - oy) - uy * (p.x - ox)) / det;
            if (!std::isfinite(t)) continue;
            lo = any ? std::min(lo, t) : t;
            hi = any ? std::max(hi, t) : t;
            any = true;
        }
    }
    if (!any || (lo + hi) / 2 <= -0.5) return false;
    for (tagPOINTF& p : m_arrFrame) p = {static_cast<float>(p.x + dx), static_cast<float>(p.y + dy)};
    return true;
}

// ---- numbers a layout can use -----------------------------------------------------------------

namespace {

// The largest length (millimetres) and width factor a layout takes: far
// beyond any marking field, far below what overflows a point's float.
constexpr double kMaxLayoutLength = 1e6;

bool Within(double v, double limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

}  // namespace

const wchar_t* CFonts::UnusableLayoutNumber(const FONTS_PAR& f) const {
    if (!Within(f.dHeight, kMaxLayoutLength) || !(f.dHeight > 0)) return L"height";
    if (!Within(f.dWidthRatio, kMaxLayoutLength) || !(f.dWidthRatio > 0)) return L"width factor";
    if (!Within(f.dCharSpace, kMaxLayoutLength)) return L"character spacing";
    if (!Within(f.dLineSpace, kMaxLayoutLength)) return L"line spacing";
    if (!Within(f.dFixCharWidth, kMaxLayoutLength)) return L"character width";
    // A slant of 90 degrees is taken as 89.9; beyond it the characters
    // would lie flat or turn over.
    if (!Within(f.dSlantAngle, 90.0) || f.dSlantAngle == -90.0) return L"slant angle";
    if (!std::isfinite(f.fSpacing) || !std::isfinite(f.dPathValue1) || !std::isfinite(f.dPathValue2))
        return L"spacing";
    if (f.bPathText != 0 &&
        (!Within(dRad, kMaxLayoutLength) || !(dRad > 0) || !Within(ptCenter.x, kMaxLayoutLength) ||
         !Within(ptCenter.y, kMaxLayoutLength)))
        return L"arc";
    return nullptr;
}

bool CFonts::OutlinesFinite() const {
    for (const FONTSCHAR* ch : m_arrChars) {
        if (ch == nullptr) continue;
        for (const tagPOINTF& p : ch->points)
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    }
    for (const tagPOINTF& p : m_arrFrame)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return true;
}

void CFonts::FitVariableTextWidth() {
    if (parVarText.bEnable == 0 || parVarText.arrElements.empty() || parVarText.arrElements[0] == nullptr) return;
    const tagVarAdv& adv = parVarText.arrElements[0]->advPar;
    if (adv.bFixWidth == 0) return;
    const double w = adv.fCharWidth;
    Gdiplus::RectF r;
    GetRectangle(r);
    if (!(w > 0) || !std::isfinite(w) || !(r.Width > 0)) return;
    // The fit is the element's setting, not a zoom of the user's: the
    // accumulated scale factors stay as they were.
    const double scaleX = parFonts.dScaleX, scaleY = parFonts.dScaleY;
    ZoomHeld({r.X, r.Y}, w / r.Width, 1.0);
    parFonts.dScaleX = scaleX;
    parFonts.dScaleY = scaleY;
}

double CFonts::BrowalliaOneShift(const CString& oldText, const CString& newText, bool gained) {
    const bool oldHasOne = oldText.Find(L'1') >= 0, newHasOne = newText.Find(L'1') >= 0;
    if (gained ? (oldHasOne || !newHasOne) : (!oldHasOne || newHasOne)) return 0.0;
    Gdiplus::RectF one;
    if (!GetTaiwenHeightOfOne(one)) return 0.0;
    // The face draws its "1" this share of the glyph's height off the
    // line the other figures stand on.
    constexpr double kOneShare = 0.1565;
    return (gained ? kOneShare : -kOneShare) * one.Height;
}

bool CFonts::HasRightToLeftChars(const CString& text) {
    const wchar_t* s = text.GetString();
    for (int i = 0; i < text.GetLength(); ++i)
        if (s[i] >= 0x0590 && s[i] <= 0x07FF) return true;
    return false;
}

int CFonts::FindSpace(const CString& line, int i) {
    if (i < -1) return 0;
    return SpacesFrom(line.GetString(), static_cast<size_t>(line.GetLength()), i < 0 ? 0 : static_cast<size_t>(i) + 1);
}

// ---- placing a new text -----------------------------------------------------------------------

void CFonts::SlantAsParameters() {
    // A placed text shows the slant its parameters hold, as a layout by
    // SetFonts does: its first edit with the same values leaves it alone.
    if (nFontType == FONT_TYPE_TRUETYPE && parFonts.dSlantAngle == 90.0) parFonts.dSlantAngle = 89.9;
    if (parFonts.dSlantAngle == 0.0) return;
    DoSlope(GetPosRefPoint(parFonts.nRefPos), parFonts.dSlantAngle * M_PI / 180.0, 0);
}

int CFonts::InitFontsPath(tagPOINTF pt, CString text, CString fontName, bool flag) {
    const ShapeGuard guard(this);
    // Numbers no layout can use leave the text as it is.
    const wchar_t* bad = nFontType == FONT_TYPE_CODEBAR ? nullptr : UnusableLayoutNumber(parFonts);
    if (bad == nullptr && !(std::isfinite(pt.x) && std::isfinite(pt.y))) bad = L"position";
    if (bad != nullptr) {
        RunLog::Instance(nullptr)->WriteFormat(L"InitFontsPath refused: unusable %s", bad);
        return 1;
    }
    m_bRecord = 0;
    m_bArcChangePending = false;  // this layout follows the settings as they stand
    m_strText = text;
    m_strFontName = fontName;
    m_wstrFontName.assign(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    m_fHostSetting = 1.0f;
    fontspos = pt;
    m_arrModify.clear();
    if (nFontType == FONT_TYPE_CODEBAR) {
        if (SetCodebarPoints()) {
            InitRefPoint();
            const tagPOINTF ref = GetPosRefPoint(parFonts.nRefPos);
            MoveHeld(pt.x - ref.x, pt.y - ref.y);
        }
        m_bRecord = 1;
        return 1;
    }
    if (nFontType == FONT_TYPE_SHX) {
        if (SetSinglelinePoint(text, fontName)) {
            InitRefPoint();
            SlantAsParameters();
            m_bRecord = 1;
            return 1;
        }
        // Without its SHX fonts the text is laid out in TrueType, as
        // SetFonts does, and stays a TrueType text.
        RunLog::Instance(nullptr)->Write(L"InitFontsPath SetSinglelinePoint fail");
        nFontType = FONT_TYPE_TRUETYPE;
    }
    SetFontsPoint(text, fontName, flag);
    // Scale the new outlines about the frame's centre, then move them so
    // that the rectangle's corner (or top centre) lands on pt: one pass over
    // the points, the scaled rectangle taken from the scaled extremes (the
    // scaling keeps the order of coordinates along each axis). The fill
    // shapes are new and hold nothing yet, so nothing of theirs moves.
    tagPOINTF lo{0, 0}, hi{0, 0};
    const bool any = Extent(m_arrChars, lo, hi);
    InitRefPoint(any ? Gdiplus::RectF(lo.x, hi.y, hi.x - lo.x, hi.y - lo.y) : Gdiplus::RectF());
    const tagPOINTF c{(m_arrFrame[0].x + m_arrFrame[1].x) / 2, (m_arrFrame[2].y + m_arrFrame[3].y) / 2};
    const double sy = parFonts.dHeight / kEmSize;
    const double sx = sy * parFonts.dWidthRatio / kNaturalWidth;
    Gdiplus::RectF r;
    if (any) {
        const tagPOINTF a = PointfZoom(lo, sx, sy, c), b = PointfZoom(hi, sx, sy, c);
        lo = {std::min(a.x, b.x), std::min(a.y, b.y)};
        hi = {std::max(a.x, b.x), std::max(a.y, b.y)};
        r = Gdiplus::RectF(lo.x, hi.y, hi.x - lo.x, hi.y - lo.y);
    }
    InitRefPoint(r);
    // The reference size stays in layout units (10 per em), as SetFonts
    // keeps it: a later zoom or slant takes its ratios against it, and a
    // placed text must not change its height at its first edit.
    if (sy != 0) fInitStrHeight /= std::fabs(sy);
    if (sx != 0) fInitStrWidth /= std::fabs(sx);
    float dx = 0, dy = 0;
    if (parFonts.bPathText == 0) {
        const float a = parFonts.nAlign == 1 ? r.Width / 2 : parFonts.nAlign == 2 ? r.Width : 0.0f;
        dx = pt.x - r.X - a;
        dy = pt.y - r.Y;
    }
    // PointfZoom's arithmetic, inline: this loop runs over every point.
    const double cx = c.x, cy = c.y;
    for (FONTSCHAR* ch : m_arrChars) {
        for (tagPOINTF& p : ch->points) {
            p.x = static_cast<float>(cx + (p.x - cx) * sx) + dx;
            p.y = static_cast<float>(cy + (p.y - cy) * sy) + dy;
        }
    }
    for (tagPOINTF& p : m_arrFrame) p = {p.x + dx, p.y + dy};
    SlantAsParameters();
    // Text on an arc stands on its circle at its own size: the scaling above
    // sizes only its frame, as a new layout does.
    if (parFonts.bPathText != 0) ResetAttachPt();
    m_bRecord = 1;
    InvalidateGeometry();
    return 1;
}

// ---- the TrueType layout ----------------------------------------------------------------------

namespace {

// The direction of a layout: the text in layout order and how it runs.
struct LayoutText {
    std::wstring text;
    std::wstring face;
    bool rtl = false;
    bool vertical = false;
    // A face for vertical writing: characters turned on their side.
    bool turn = false;
};

// The numbers of one layout, each finite (an unusable one is 0).
struct LayoutSteps {
    bool vertical = false;
    bool rtl = false;
    bool turn = false;
    int mode = 0;
    double charSpace = 0;
    double lineSpace = 0;
    double charWidth = 0;
    // The fixed character width across, in layout units.
    double fixWidth = 0;
    // The extra advance of equal pitch.
    double pitchExtra = 0;
};

// Where a character of a line goes: the pen at the top-left corner of its
// cell.
struct Placed {
    const GlyphForm* form;
    double x, y;
};

// What walking the pen over a line leaves.
struct PlacedLine {
    std::vector<Placed> placed;
    // The room the blanks before the line's first ink take.
    double leadingWidth = 0;
    // The last character with ink (the line's length: none).
    size_t lastInk = 0;
    // The largest right edge of a vertical column.
    double maxRight = 0;
};

// Each line's glyphs and their pen positions in the string as the face sets
// it. Each line picks its face by its first character (the chain may move
// on to another face or style); false when no face can be had at all.
bool ShapeLines(const std::wstring& text, FaceChain& chain, GlyphForms& forms, FONTS_PAR& par,
                std::vector<LineRun>& lines, double& widest) {
    widest = 0;  // the widest glyph at an em of 1
    std::vector<const gf::Glyph*> glyphs;
    std::vector<double> kern;
    std::u32string chars;
    for (std::wstring& lineText : CFonts::SplitTextLines(text)) {
        LineRun run;
        run.text = std::move(lineText);
        const size_t n = run.text.size();
        if (n > 0) {
            gf::Face* current = chain.ForLine(run.text[0], par);
            if (current == nullptr) return false;
            chars.assign(run.text.begin(), run.text.end());
            glyphs.assign(n, nullptr);
            kern.assign(n, 0.0);
            current->GlyphRun(chars.data(), n, glyphs.data(), kern.data());
            const double scale = CFonts::kEmSize / current->GetMetrics().emHeight;
            run.forms.resize(n);
            run.natural.resize(n);
            double pen = 0;
            for (size_t i = 0; i < n; ++i) {
                const bool control = IsControl(run.text[i]);
                const GlyphForm& f = control ? forms.EmptyForm() : forms.Of(*current, *glyphs[i]);
                if (i > 0 && !control && !IsControl(run.text[i - 1])) pen += kern[i] * scale;
                run.forms[i] = &f;
                run.natural[i] = pen;
                pen += f.advance;
                if (f.ink) widest = std::max(widest, f.box.Width / CFonts::kEmSize);
            }
        }
        lines.push_back(std::move(run));
    }
    return true;
}

LayoutSteps StepsOf(const FONTS_PAR& par, const LayoutText& lt, double widest) {
    LayoutSteps st;
    st.vertical = lt.vertical;
    st.rtl = lt.rtl;
    st.turn = lt.turn;
    const double sy = par.dHeight / CFonts::kEmSize;
    const double sx = sy * par.dWidthRatio / CFonts::kNaturalWidth;
    st.mode = par.nFixWidthMode == 1 || par.nFixWidthMode == 2 ? par.nFixWidthMode : 0;
    st.charSpace = FiniteOr0(par.dCharSpace);
    st.lineSpace = FiniteOr0(par.dLineSpace);
    st.charWidth = FiniteOr0(par.dFixCharWidth);
    if (par.dHeight > 0 && par.dWidthRatio > 0)
        st.fixWidth =
            FiniteOr0(st.charWidth * CFonts::kEmSize / par.dHeight * CFonts::kNaturalWidth / par.dWidthRatio);
    st.pitchExtra = par.bEqualPitch != 0 && !st.vertical && sx > 0 && std::isfinite(sx)
                        ? FiniteOr0(widest + st.charSpace / sx)
                        : 0.0;
    return st;
}

// Walks the pen over one line from (x, y): where each character goes.
void PlaceLine(const LineRun& run, const LayoutSteps& st, double x, double y, PlacedLine& out) {
    const std::wstring& line = run.text;
    const size_t n = line.size();
    out.placed.assign(n, Placed{nullptr, 0, 0});
    out.leadingWidth = 0;
    out.lastInk = n;
    out.maxRight = x;
    for (size_t i = 0; i < n; ++i) {
        const GlyphForm& f = *run.forms[i];
        const bool afterSpace = i > 0 && line[i - 1] == L' ';
        if (st.vertical) {
            // In the fixed-width modes a glyph's ink starts right at the pen.
            if (i > 0 && f.ink && st.mode != 0 && !afterSpace) y -= f.box.Y;
        } else if (i > 0 && f.ink) {
            if (st.mode != 0 && !afterSpace) {
                x -= f.box.X;
            } else if (out.lastInk < n) {
                // The pen stands at the last ink's right edge: move it by
                // the room the face sets between that edge and this
                // glyph's pen (blanks and kerning included).
                const double gap =
                    run.natural[i] - (run.natural[out.lastInk] + run.forms[out.lastInk]->box.GetRight());
                if (!st.rtl || gap > 0) x += gap;
            }
        }
        out.placed[i] = {&f, x, y};
        if (f.ink) {
            if (st.vertical) {
                out.maxRight = std::max(out.maxRight, x + f.box.GetRight());
                y += f.box.GetBottom() + f.box.Height * SpacesFrom(line.data(), n, i + 1);
            } else {
                x += f.box.GetRight();
            }
            out.lastInk = i;
        } else if (out.lastInk == n) {
            out.leadingWidth += st.mode == 0 ? f.advance : st.mode == 1 ? st.fixWidth + f.advance : st.fixWidth;
        }
        const double glyphExtent = f.ink ? (st.vertical ? f.box.Height : f.box.Width) : 0.0;
        const double across = st.vertical ? st.charWidth : st.fixWidth;
        const double step = st.mode == 1 ? across : st.mode == 2 ? across - glyphExtent : st.charSpace;
        if (st.vertical) {
            y += step;
        } else {
            x += step + st.pitchExtra;
        }
    }
}

// The anchor of a placed line with ink: its left-top corner, centre or
// right-bottom corner by the alignment.
void LineAnchor(const PlacedLine& line, int align, double& ax, double& ay) {
    double l = 0, t = 0, r = 0, b = 0;
    bool any = false;
    for (const Placed& p : line.placed) {
        if (!p.form->ink) continue;
        const Gdiplus::RectF& box = p.form->box;
        const double pl = p.x + box.X, pt = p.y + box.Y, pr = p.x + box.GetRight(), pb = p.y + box.GetBottom();
        if (!any) {
            l = pl, t = pt, r = pr, b = pb;
            any = true;
        } else {
            l = std::min(l, pl), t = std::min(t, pt), r = std::max(r, pr), b = std::max(b, pb);
        }
    }
    ax = align == 1 ? (l + r) / 2 : align == 2 ? r : l;
    ay = align == 1 ? (t + b) / 2 : align == 2 ? b : t;
}

// The characters of a placed line shifted by (dx, dy), stored with y up.
void EmitLine(const std::wstring& line, const PlacedLine& pl, double dx, double dy, bool turn,
              std::vector<FONTSCHAR*>& out) {
    for (size_t i = 0; i < line.size(); ++i) {
        const Placed& p = pl.placed[i];
        auto* ch = new FONTSCHAR();
        ch->text = CString(line[i]);
        if (p.form->ink) {
            const double px = p.x + dx, py = p.y + dy;
            ch->points.resize(p.form->points.size());
            for (size_t k = 0; k < p.form->points.size(); ++k) {
                const double qx = px + p.form->points[k].X, qy = py + p.form->points[k].Y;
                // A turned character is first turned by -90 degrees about
                // the origin (y down).
                ch->points[k] = turn ? tagPOINTF{static_cast<float>(qy), static_cast<float>(qx)}
                                     : tagPOINTF{static_cast<float>(qx), static_cast<float>(-qy)};
            }
            ch->types = p.form->types;
        }
        out.push_back(ch);
    }
}

}  // namespace

bool CFonts::SetFontsPoint(CString text, CString fontName, bool) {
    FreeAll(true);
    if (text.IsEmpty()) return true;
    LayoutText lt;
    // A character beyond U+FFFF may come as a UTF-16 surrogate pair: it is
    // one character of the layout.
    const std::u32string points = gf::ToCodePoints(text.GetString(), static_cast<size_t>(text.GetLength()));
    lt.text.assign(points.begin(), points.end());
    lt.rtl = HasRightToLeftChars(text);
    if (lt.rtl) std::reverse(lt.text.begin(), lt.text.end());
    if (parFonts.bPathText != 0) {
        if (bInvert != 0) std::reverse(lt.text.begin(), lt.text.end());
        return SetAttachPt(lt.text, fontName);
    }
    lt.vertical = parFonts.bVertical != 0;
    lt.face.assign(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    if (!lt.face.empty() && lt.face[0] == L'@') {
        // A face for vertical writing: the characters are turned on their
        // side and run the other way.
        lt.face.erase(0, 1);
        lt.vertical = !lt.vertical;
        lt.turn = true;
    }

    FaceChain chain(lt.face);
    GlyphForms forms(GetSmoothRatio());
    std::vector<LineRun> lines;
    double widest = 0;
    if (!ShapeLines(lt.text, chain, forms, parFonts, lines, widest)) return false;
    const LayoutSteps st = StepsOf(parFonts, lt, widest);

    const double x0 = fontspos.x;
    const double y0 = -static_cast<double>(fontspos.y);
    bool haveRef = false;
    double refX = 0, refY = 0;
    double lineY = y0;
    double columnX = x0;
    PlacedLine pl;
    for (const LineRun& run : lines) {
        PlaceLine(run, st, st.vertical ? columnX : x0, st.vertical ? y0 : lineY, pl);
        // Line the anchor of this line up with the first line's.
        double dx = 0, dy = 0;
        if (pl.lastInk < run.text.size()) {
            double ax = 0, ay = 0;
            LineAnchor(pl, parFonts.nAlign, ax, ay);
            if (!haveRef) {
                haveRef = true;
                refX = ax;
                refY = ay;
            } else if (st.vertical) {
                dy = refY - ay;
            } else {
                dx = refX - ax + pl.leadingWidth;
            }
        }
        if (st.vertical) {
            columnX = pl.maxRight + st.lineSpace;
        } else {
            lineY += kEmSize + st.lineSpace;
        }
        EmitLine(run.text, pl, dx, dy, st.turn, m_arrChars);
    }
    // One fill shape per character, made after all characters: the fill
    // shapes are large, and made in between they would scatter the
    // characters' outlines over memory that every later pass walks.
    m_arrFills.reserve(m_arrChars.size());
    for (const FONTSCHAR* ch : m_arrChars) AddCharFill(ch->text);
    InvalidateGeometry();
    return true;
}
