// Text on an arc: each character placed at an angle on a circle and turned so
// that it stands on the circle (or hangs from it). TrueType text is laid out
// here character by character; single-line strokes and dot-matrix dots are
// laid out straight first and then bent onto the circle, line by line.
//
// The geometry works in the GDI+ frame (y down) with the centre at
// (ptCenter.x, -ptCenter.y); angles are degrees counter-clockwise as seen with
// y up, and the characters run clockwise (the angle decreases).
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "morvik/afx/message_box.h"
#include "morvik/compose/filledshape.h"
#include "morvik/core/runlog.h"
#include "morvik/gdiplus/font.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/matrix.h"
#include "morvik/text/fonts.h"

namespace {

constexpr double kDegPerRad = 180.0 / M_PI;
// The width factor at which a character keeps its own width on the arc.
constexpr double kArcNaturalWidth = 45.0;
// The room left between two neighbouring characters, in drawing units at
// the natural width.
constexpr double kArcGap = 0.5;

double Finite0(double v) { return std::isfinite(v) ? v : 0.0; }

// The angle in degrees opposite side c of a triangle with sides a and b: for
// a = b = radius, the angle at the centre under a chord c. A chord longer
// than the diameter takes the half circle.
double CalcAngleBySide(double a, double b, double c) {
    const double den = 2.0 * a * b;
    if (!(den > 0) || !std::isfinite(den) || std::isnan(c)) return 0.0;
    const double cosine = (a * a + b * b - c * c) / den;
    if (std::isnan(cosine)) return 0.0;
    return std::acos(std::clamp(cosine, -1.0, 1.0)) * kDegPerRad;
}

// The angle under a chord that may be negative, with the chord's sign: a
// fixed width below the natural one takes angle away instead of adding it.
double SignedAngleBySide(double radius, double chord) {
    const double a = CalcAngleBySide(radius, radius, std::fabs(chord));
    return chord < 0 ? -a : a;
}

// The angle the fixed gap and the character spacing take between two
// characters.
double GapAngle(double radius, double widthFactor, double charSpace) {
    const double circumference = 2.0 * M_PI * radius;
    return kArcGap / circumference * widthFactor * 360.0 + Finite0(charSpace) / circumference * 360.0;
}

// How far off the circle a character sits (a share of the height), 0 for
// an ordinary character: marks that GDI+ draws high in the cell.
double SpecialFactor(wchar_t c) {
    switch (c) {
        case L'-': return 0.6;
        case L'=': return 0.4;
        case L' ': return 0.5;
        case L'°':
        case L'^':
        case L'“':
        case L'”':
        case L'′':
        case L'″': return 1.0;
        default: return 0.0;
    }
}

struct Pt {
    double x, y;
};

struct Box {
    double x = 0, y = 0, w = 0, h = 0;
};

Box BoxOf(const std::vector<Pt>& pts) {
    if (pts.empty()) return {};
    double x0 = pts[0].x, y0 = pts[0].y, x1 = x0, y1 = y0;
    for (const Pt& p : pts) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

// The circle and how a character sits on it.
class ArcFrame {
public:
    explicit ArcFrame(const CFonts& t)
        : m_cx(t.ptCenter.x),
          m_cy(-static_cast<double>(t.ptCenter.y)),
          m_r(t.dRad),
          m_h(Finite0(t.parFonts.dHeight)),
          m_top(t.bAlignTop != 0),
          m_inside(t.bIsInside != 0) {}

    // The point at the angle on the circle; a special character sits on a
    // circle moved out (in, for text inside) by a share of the height.
    Pt PointOnPath(double angle, bool special, double factor) const {
        double radius = m_r;
        if (special) radius = m_inside ? m_r - m_h * 0.3 * factor : m_r + m_h * 0.5 * factor;
        const double a = angle / kDegPerRad;
        return {m_cx + radius * std::cos(a), m_cy - radius * std::sin(a)};
    }

    // The turn that stands a character at p upright on the circle.
    double RolateAngle(Pt p) const {
        double base = 0.0;
        if (p.x == m_cx) {
            base = m_cy < p.y ? -90.0 : 90.0;
        } else if (p.y != m_cy) {
            base = std::atan((m_cy - p.y) / (m_cx - p.x)) * kDegPerRad;
        }
        return m_cx < p.x ? base + 90.0 : base - 90.0;
    }

    // Moves the points of a character with these bounds so that the middle
    // of its bottom edge (top edge, when aligned at the top) lies on p, yOffset
    // further down, then turns them about p.
    void Place(std::vector<Pt>& pts, const Box& box, Pt p, double yOffset) const {
        const double dx = p.x - box.x - box.w / 2;
        const double dy = (m_top ? p.y - box.y : p.y - box.y - box.h) + yOffset;
        double turn = RolateAngle(p);
        if (m_top) turn -= 180.0;
        if (m_inside) turn += 180.0;
        const double c = std::cos(turn / kDegPerRad), s = std::sin(turn / kDegPerRad);
        for (Pt& q : pts) {
            const double x = q.x + dx - p.x, y = q.y + dy - p.y;
            q = {p.x + x * c - y * s, p.y + x * s + y * c};
        }
    }

private:
    double m_cx, m_cy, m_r, m_h;
    bool m_top, m_inside;
};

// The face and style of a TrueType text on an arc: the requested face in
// the text's style, then with bold added, then with italic added (a retry
// that works keeps its flag in the parameters); then "Arial" the same way.
class ArcFace {
public:
    ArcFace(const std::wstring& face, FONTS_PAR& par, float em) : m_em(em) {
        for (const std::wstring& name : {face, std::wstring(L"Arial")}) {
            Gdiplus::FontFamily family(name.c_str());
            if (!family.IsAvailable()) continue;
            const int style = (par.bBold != 0 ? 1 : 0) | (par.bItalic != 0 ? 2 : 0);
            for (int s : {style, style | 1, style | 2}) {
                Gdiplus::GraphicsPath probe;
                if (probe.AddString(L"X", 1, &family, s, m_em, Gdiplus::PointF(0, 0), Fmt()) != Gdiplus::Ok) continue;
                m_family = family;
                m_style = s;
                m_ok = true;
                par.bBold = (s & 1) != 0 ? 1 : 0;
                par.bItalic = (s & 2) != 0 ? 1 : 0;
                return;
            }
        }
    }
    bool Ok() const { return m_ok; }

    // The outline of one character with the top-left corner of its cell at
    // the origin; empty when the face is not usable or draws nothing.
    void Outline(wchar_t c, Gdiplus::GraphicsPath& path) const {
        path.Reset();
        if (m_ok) path.AddString(&c, 1, &m_family, m_style, m_em, Gdiplus::PointF(0, 0), Fmt());
    }

private:
    static const Gdiplus::StringFormat* Fmt() { return Gdiplus::StringFormat::GenericTypographic(); }

    Gdiplus::FontFamily m_family;
    int m_style = 0;
    float m_em;
    bool m_ok = false;
};

// The smallest step between characters spread over a span: the characters
// squeezed to half of an even share of it.
double MinArcStep(int span, size_t n) { return span / (2.0 * static_cast<double>(std::max<size_t>(n, 1))); }

// The x factor of a squeezed character: the compression takes away from
// the width factor, but never so much that the character turns over or
// vanishes (at least half of both factors multiplied).
double ArcNarrowing(double compress, double widthFactor) {
    return std::max(compress + widthFactor - 1.0, 0.5 * compress * widthFactor);
}

void LogRefusedArc() { RunLog::Instance(nullptr)->Write(L"Text on an arc refused: the radius must be above 0"); }

}  // namespace

std::vector<std::wstring> CFonts::SplitTextLines(const std::wstring& s) {
    std::vector<std::wstring> lines;
    size_t from = 0;
    while (true) {
        const size_t at = s.find(L'\n', from);
        const size_t end = at == std::wstring::npos ? s.size() : at;
        size_t a = from, b = end;
        while (a < b && (s[a] == L'\r' || s[a] == L'\n')) ++a;
        while (b > a && (s[b - 1] == L'\r' || s[b - 1] == L'\n')) --b;
        lines.emplace_back(s, a, b - a);
        if (at == std::wstring::npos) break;
        from = at + 1;
    }
    return lines;
}

void CFonts::AddCharFill(const CString& caption) {
    auto* fill = new CFilledShape();
    fill->SetNoRedraw(1);
    fill->SetDocView(m_pDoc, m_pView);
    fill->SetCaption(caption);
    m_arrFills.push_back(fill);
}

bool CFonts::ArcUsable() const {
    return dRad > 0 && std::isfinite(dRad) && std::isfinite(ptCenter.x) && std::isfinite(ptCenter.y);
}

double CFonts::GetStartAngle(const std::vector<double>& angles, double first) const {
    const double w = parFonts.dWidthRatio / kArcNaturalWidth;
    const double g = GapAngle(dRad, w, parFonts.dCharSpace);
    double s = 0.0;
    for (double a : angles) s += a * w;
    const double m = static_cast<double>(angles.size());
    const double start = iBaseAngle - first / 2;
    const bool natural = iAngleScope < 1;
    switch (parFonts.nAlign) {
        case 0: return start;
        case 1: return natural ? start + s / 2 + std::floor(m / 2) * g : start + iAngleScope / 2.0;
        case 2: return natural ? start + s + std::max(m - 1, 0.0) * g : start + iAngleScope;
        default: return 0.0;
    }
}

double CFonts::GetMaxAngleOfSingle(const std::vector<double>& widths, std::vector<double>& angles) const {
    angles.clear();
    const double space = Finite0(parFonts.dCharSpace);
    const double cw = Finite0(parFonts.dFixCharWidth);
    double largest = 0.0;
    for (double width : widths) {
        double a = CalcAngleBySide(dRad, dRad, width + space);
        if (parFonts.nFixWidthMode == 2) {
            a += SignedAngleBySide(dRad, cw - parFonts.dHeight * parFonts.dWidthRatio / 100.0);
        } else if (parFonts.nFixWidthMode == 1) {
            a += SignedAngleBySide(dRad, cw);
        }
        // However narrow the fixed width, a character takes no negative
        // room: the order of the characters never turns round.
        a = std::max(a, 0.0);
        angles.push_back(a);
        largest = std::max(largest, a);
    }
    return largest;
}

void CFonts::SingleFt2PathFont(int n) {
    if (!ArcUsable()) return;
    const size_t count = std::min(static_cast<size_t>(std::max(n, 0)), m_arrChars.size());
    if (count == 0) return;
    const size_t from = m_arrChars.size() - count;
    std::vector<double> widths(count, 0.0);
    for (size_t i = 0; i < count; ++i)
        if (m_arrChars[from + i] != nullptr) widths[i] = CalculateRectangle(m_arrChars[from + i]->points).Width;
    // The line's own angles place it, whatever an earlier layout left.
    std::vector<double> angles;
    const double largest = GetMaxAngleOfSingle(widths, angles);
    double step = largest, compress = 1.0;
    if (iAngleScope >= 1) {
        step = count < 2 ? iAngleScope : iAngleScope / static_cast<double>(count - 1);
        if (largest > 0) compress = step / largest;
    }
    m_fMaxCharAngle = static_cast<float>(largest);
    m_fCompress = static_cast<float>(compress);
    const double start = GetStartAngle(angles, angles.front());
    const double sx = compress < 1.0 ? compress : 1.0;
    const ArcFrame arc(*this);
    std::vector<Pt> pts;
    for (size_t i = 0; i < count; ++i) {
        FONTSCHAR* ch = m_arrChars[from + i];
        if (ch == nullptr) continue;
        pts.clear();
        for (const tagPOINTF& p : ch->points) pts.push_back({p.x * sx, -static_cast<double>(p.y)});
        // The bounds of the narrowed character, so that it stays centred.
        const Box box = BoxOf(pts);
        const Pt at = arc.PointOnPath(start - static_cast<double>(i) * step, ch->text == CString(L"-"), 1.0);
        arc.Place(pts, box, at, 0.0);
        for (size_t k = 0; k < pts.size(); ++k) {
            ch->points[k] = {static_cast<float>(pts[k].x), static_cast<float>(-pts[k].y)};
            m_arrPtBackup.push_back(ch->points[k]);
        }
    }
    InvalidateGeometry();
}

bool CFonts::SetAttachPt(const std::wstring& text, const CString& fontName) {
    if (text.empty()) return true;
    const double h = parFonts.dHeight;
    if (!ArcUsable() || !(h > 0) || !std::isfinite(h)) {
        LogRefusedArc();
        return false;
    }
    if (bFilled != 0) {
        // The fill follows the new outlines once they are in place.
        DeleteFillHeld();
        m_bRefillAfterLayout = 1;
    }
    std::wstring face(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    if (!face.empty() && face[0] == L'@') face.erase(0, 1);
    const ArcFace font(face, parFonts, static_cast<float>(h));
    // Shown once for the whole text; the characters are still placed, empty.
    if (!font.Ok()) WhenReleased([] { AfxMessageBox(L"字体设置失败", MB_OK); });

    const double wf = parFonts.dWidthRatio;
    const double w = wf / kArcNaturalWidth;
    const double sx = h / kEmSize * wf / kNaturalWidth;
    const double cw = Finite0(parFonts.dFixCharWidth);
    const double spaceAngle = Finite0(parFonts.dCharSpace) / (2.0 * M_PI * dRad) * 360.0;
    const double gap = GapAngle(dRad, w, parFonts.dCharSpace);
    const double lineStep = h + Finite0(parFonts.dLineSpace);
    const ArcFrame arc(*this);
    const std::vector<std::wstring> lines = SplitTextLines(text);
    Gdiplus::GraphicsPath path;
    Gdiplus::RectF bounds;
    std::vector<Pt> pts;
    for (size_t li = 0; li < lines.size(); ++li) {
        const std::wstring& line = lines[li];
        const size_t n = line.size();
        if (n == 0) continue;
        // Each character's angle from its width (a blank measured as "X").
        std::vector<double> angles(n);
        double largest = 0.0;
        for (size_t i = 0; i < n; ++i) {
            font.Outline(line[i] == L' ' ? L'X' : line[i], path);
            path.GetBounds(&bounds);
            double a = CalcAngleBySide(dRad, dRad, bounds.Width);
            if (sx > 0 && std::isfinite(sx)) {
                if (parFonts.nFixWidthMode == 1) a += SignedAngleBySide(dRad, cw / sx);
                if (parFonts.nFixWidthMode == 2) a += SignedAngleBySide(dRad, (cw - h * wf / 100.0) / sx);
            }
            angles[i] = std::max(a, 0.0);
            largest = std::max(largest, a);
        }
        double step = largest, compress = 1.0;
        if (iAngleScope >= 1) {
            step = n < 2 ? iAngleScope - largest : (iAngleScope - largest) / static_cast<double>(n - 1);
            // A span that hardly holds the widest character (or not at all)
            // still spreads the characters in their order, each squeezed to
            // a share of it.
            step = std::max(step, MinArcStep(iAngleScope, n));
            if (largest > 0) compress = step / largest;
        }
        m_fFirstCharAngle = static_cast<float>(angles[0]);
        m_fMaxCharAngle = static_cast<float>(largest);
        m_fCompress = static_cast<float>(compress);
        const double start = GetStartAngle(angles, angles[0]);
        const bool natural = std::fabs(compress - 1.0) < 0.00001;
        const bool zoom = compress < 1.0 || std::fabs(wf - kArcNaturalWidth) > 0.01;
        const double zoomX = compress >= 1.0 ? w : ArcNarrowing(compress, w);
        const double yOffset = static_cast<double>(li) * lineStep;
        double running = start;
        for (size_t i = 0; i < n; ++i) {
            font.Outline(line[i], path);
            if (zoom) {
                Gdiplus::Matrix narrow(static_cast<Gdiplus::REAL>(zoomX), 0, 0, 1, 0, 0);
                path.Transform(&narrow);
            }
            // The tight bounds of the curves, not of their control points.
            path.GetBounds(&bounds);
            pts.clear();
            for (const Gdiplus::PointF& p : path.PathPoints()) pts.push_back({p.X, p.Y});
            const double factor = SpecialFactor(line[i]);
            Pt at{};
            if (natural) {
                at = arc.PointOnPath(running, factor > 0, factor);
                if (i + 1 < n) running -= (angles[i] + angles[i + 1]) * w / 2 + gap;
            } else {
                // A negative spacing tightens the spread but never turns it round.
                const double pitch = std::max(step + spaceAngle, 0.0);
                at = arc.PointOnPath(start - pitch * static_cast<double>(i), factor > 0, factor);
            }
            arc.Place(pts, {bounds.X, bounds.Y, bounds.Width, bounds.Height}, at, yOffset);

            auto* ch = new FONTSCHAR();
            ch->text = CString(line[i]);
            ch->points.reserve(pts.size());
            for (const Pt& p : pts) ch->points.push_back({static_cast<float>(p.x), static_cast<float>(-p.y)});
            ch->types = path.PathTypes();
            m_arrChars.push_back(ch);
            m_arrCharsBackup.push_back(new FONTSCHAR(*ch));
            AddCharFill(ch->text);
        }
    }
    InvalidateGeometry();
    return true;
}
