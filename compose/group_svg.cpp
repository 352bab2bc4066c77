// The SVG reader of the group: basic shapes, paths, texts and the transforms
// of `g` and `text` elements become children of one new group, in document
// order. SVG's y axis grows downward; every y is negated so that y grows
// upward as in the rest of the library, and transforms are flipped to match.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <algorithm>
#include <string>
#include <vector>

#include "morvik/com/xmldom.h"
#include "morvik/compose/group.h"
#include "morvik/core/number_text.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/text/fonts.h"

namespace {

// Coordinates and transform values beyond this are refused: they cannot be
// a drawing and would overflow the shapes' float points.
constexpr double kMaxValue = 1e9;
// Results of transforms are checked against this bound.
constexpr double kMaxCoord = 1e12;
// A file whose curves flatten to more points than this is refused.
constexpr size_t kMaxPoints = 4000000;
// `g` elements nested deeper than this are skipped with their content.
constexpr int kMaxDepth = 256;
constexpr double kPi = 3.14159265358979323846;

// What the walk shares: the point budget and the failure flag.
struct ReadState {
    size_t points = 0;
    bool failed = false;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads one number at s[i] (sign, digits, fraction, exponent) in the C
// locale; i moves past it. False when there is no number there or it is
// not finite or beyond kMaxValue; i is then unchanged.
bool ScanNumber(const std::wstring& s, size_t& i, double& value) {
    size_t j = i;
    double v = 0.0;
    if (!ScanDecimal(std::wstring_view(s), j, v) || std::fabs(v) > kMaxValue) return false;
    value = v;
    i = j;
    return true;
}

void SkipBlanks(const std::wstring& s, size_t& i) {
    while (i < s.size() && IsBlank(s[i])) ++i;
}

// Blanks with at most one comma among them.
void SkipSeparator(const std::wstring& s, size_t& i) {
    SkipBlanks(s, i);
    if (i < s.size() && s[i] == L',') {
        ++i;
        SkipBlanks(s, i);
    }
}

// The number at the start of a value, read the way a C conversion reads it:
// leading blanks skipped, a trailing unit ignored. False when there is no
// number; `ok` turns false when there is one but it is absurd.
bool LeadingNumber(const std::wstring& s, double& v, bool& ok) {
    size_t i = 0;
    SkipBlanks(s, i);
    if (ScanNumber(s, i, v)) return true;
    // A number that is there but out of range is not the same as no number.
    if (i < s.size() && (IsDigit(s[i]) || s[i] == L'-' || s[i] == L'+' || s[i] == L'.')) {
        size_t j = i;
        if (s[j] == L'-' || s[j] == L'+') ++j;
        if (j < s.size() && (IsDigit(s[j]) || s[j] == L'.')) ok = false;
    }
    return false;
}

// An attribute as a number; no number at all gives 0. A missing attribute
// gives `def` when there is one; `ok` turns false when the attribute is
// missing without a default or holds an absurd number.
double AttrNumber(const IXMLDOMElement& e, const wchar_t* name, const double* def, bool& ok) {
    CString text;
    if (e.getAttribute(name, text) != S_OK) {
        if (def) return *def;
        ok = false;
        return 0.0;
    }
    double v = 0.0;
    return LeadingNumber(text.GetString(), v, ok) ? v : 0.0;
}

const double kZero = 0.0;

tagPOINTF Flip(double x, double y) { return {static_cast<float>(x), static_cast<float>(-y)}; }

void Append(CGroupShape& group, CBaseShape* shape) { group.GetChildren().push_back(shape); }

// Calls f on each child node in order while f returns true.
template <class F>
void ForEachChild(const IXMLDOMNode& parent, F f) {
    IXMLDOMNodeList children;
    if (parent.get_childNodes(children) != S_OK) return;
    long count = 0;
    children.get_length(&count);
    for (long n = 0; n < count; ++n) {
        IXMLDOMNode node;
        if (children.get_item(n, node) == S_OK && !f(node)) return;
    }
}

// ---- paths -----------------------------------------------------------------

// Builds the polylines of one "d" attribute. Points are kept in the file's
// coordinates and flipped when a polyline is made.
class PathBuilder {
public:
    PathBuilder(CGroupShape& group, ReadState& state) : m_group(group), m_state(state) {}

    void Run(const std::wstring& d) {
        size_t i = 0;
        wchar_t cmd = 0;
        while (!m_state.failed) {
            SkipBlanks(d, i);
            if (i >= d.size()) break;
            const wchar_t c = d[i];
            if (std::wcschr(L"MmLlHhVvCcSsQqTtAaZz", c) && c != 0) {
                // A path begins with a move; data that does not is not read.
                if (cmd == 0 && c != L'M' && c != L'm') break;
                cmd = c;
                ++i;
                if (cmd == L'Z' || cmd == L'z') {
                    ClosePath();
                    m_prev = L'Z';
                    continue;
                }
            } else if (cmd == 0 || cmd == L'Z' || cmd == L'z') {
                break;  // data that no command can take: the rest is not read
            } else {
                if (c == L',') ++i;
                SkipBlanks(d, i);
            }
            if (!Command(d, i, cmd)) break;  // bad arguments end the path here
            // Coordinates after a move are lines to.
            if (cmd == L'M') cmd = L'L';
            if (cmd == L'm') cmd = L'l';
        }
        Flush(false);
    }

private:
    bool Number(const std::wstring& d, size_t& i, double& v) {
        SkipBlanks(d, i);
        if (!ScanNumber(d, i, v)) return false;
        SkipSeparator(d, i);
        return true;
    }
    bool Point(const std::wstring& d, size_t& i, bool rel, double& x, double& y) {
        if (!Number(d, i, x) || !Number(d, i, y)) return false;
        if (rel) {
            x += m_x;
            y += m_y;
        }
        return true;
    }
    bool Flag(const std::wstring& d, size_t& i, bool& f) {
        SkipBlanks(d, i);
        if (i >= d.size() || (d[i] != L'0' && d[i] != L'1')) return false;
        f = d[i++] == L'1';
        SkipSeparator(d, i);
        return true;
    }

    bool Command(const std::wstring& d, size_t& i, wchar_t cmd) {
        const bool rel = cmd >= L'a' && cmd <= L'z';
        const wchar_t up = rel ? static_cast<wchar_t>(cmd - L'a' + L'A') : cmd;
        double x = 0, y = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        switch (up) {
        case L'M':
            if (!Point(d, i, rel, x, y)) return false;
            Flush(false);
            m_x = m_startX = x;
            m_y = m_startY = y;
            Push(x, y);
            break;
        case L'L':
            if (!Point(d, i, rel, x, y)) return false;
            LineTo(x, y);
            break;
        case L'H':
            if (!Number(d, i, x)) return false;
            LineTo(rel ? m_x + x : x, m_y);
            break;
        case L'V':
            if (!Number(d, i, y)) return false;
            LineTo(m_x, rel ? m_y + y : y);
            break;
        case L'C':
            if (!Point(d, i, rel, x1, y1) || !Point(d, i, rel, x2, y2) || !Point(d, i, rel, x, y)) return false;
            CubicTo(x1, y1, x2, y2, x, y);
            break;
        case L'S':
            if (!Point(d, i, rel, x2, y2) || !Point(d, i, rel, x, y)) return false;
            if (m_prev == L'C' || m_prev == L'S') {
                x1 = 2 * m_x - m_ctrlX;
                y1 = 2 * m_y - m_ctrlY;
            } else {
                x1 = m_x;
                y1 = m_y;
            }
            CubicTo(x1, y1, x2, y2, x, y);
            break;
        case L'Q':
            if (!Point(d, i, rel, x1, y1) || !Point(d, i, rel, x, y)) return false;
            QuadTo(x1, y1, x, y);
            break;
        case L'T':
            if (!Point(d, i, rel, x, y)) return false;
            if (m_prev == L'Q' || m_prev == L'T') {
                x1 = 2 * m_x - m_ctrlX;
                y1 = 2 * m_y - m_ctrlY;
            } else {
                x1 = m_x;
                y1 = m_y;
            }
            QuadTo(x1, y1, x, y);
            break;
        case L'A': {
            double rx = 0, ry = 0, rot = 0;
            bool large = false, sweep = false;
            if (!Number(d, i, rx) || !Number(d, i, ry) || !Number(d, i, rot) || !Flag(d, i, large) ||
                !Flag(d, i, sweep) || !Point(d, i, rel, x, y))
                return false;
            ArcTo(rx, ry, rot, large, sweep, x, y);
            break;
        }
        default:
            return false;
        }
        m_prev = up;
        return !m_state.failed;
    }

    void Push(double x, double y) {
        if (++m_state.points > kMaxPoints) {
            m_state.failed = true;
            return;
        }
        m_work.push_back({x, y});
    }
    // A drawing command after a close starts again at the subpath's start.
    void EnsureStart() {
        if (m_work.empty()) Push(m_x, m_y);
    }
    void LineTo(double x, double y) {
        EnsureStart();
        Push(x, y);
        m_x = x;
        m_y = y;
    }
    void CubicTo(double x1, double y1, double x2, double y2, double x, double y) {
        EnsureStart();
        Gdiplus::GraphicsPath path;
        path.AddBezier(Gdiplus::PointF(static_cast<float>(m_x), static_cast<float>(m_y)),
                       Gdiplus::PointF(static_cast<float>(x1), static_cast<float>(y1)),
                       Gdiplus::PointF(static_cast<float>(x2), static_cast<float>(y2)),
                       Gdiplus::PointF(static_cast<float>(x), static_cast<float>(y)));
        path.Flatten(nullptr, 0.25f);
        const int n = path.GetPointCount();
        if (n > 0) {
            std::vector<Gdiplus::PointF> pts(static_cast<size_t>(n));
            path.GetPathPoints(pts.data(), n);
            // The first flattened point is the current point again.
            for (int k = 1; k < n && !m_state.failed; ++k) Push(pts[static_cast<size_t>(k)].X, pts[static_cast<size_t>(k)].Y);
        }
        // End exactly on the given point, not on its float rounding.
        if (!m_work.empty()) m_work.back() = {x, y};
        m_ctrlX = x2;
        m_ctrlY = y2;
        m_x = x;
        m_y = y;
    }
    void QuadTo(double qx, double qy, double x, double y) {
        const double c1x = (2 * qx + m_x) / 3, c1y = (2 * qy + m_y) / 3;
        const double c2x = (2 * qx + x) / 3, c2y = (2 * qy + y) / 3;
        CubicTo(c1x, c1y, c2x, c2y, x, y);
        m_ctrlX = qx;
        m_ctrlY = qy;
    }
    // The elliptical arc of SVG's endpoint form, through its centre form, as
    // cubic pieces of at most a quarter turn.
    void ArcTo(double rx, double ry, double rotDeg, bool large, bool sweep, double x, double y) {
        const double x0 = m_x, y0 = m_y;
        rx = std::fabs(rx);
        ry = std::fabs(ry);
        if ((x0 == x && y0 == y)) return;
        // Radii too small to square are a straight line, as zero radii are.
        if (rx < 1e-9 || ry < 1e-9) {
            LineTo(x, y);
            return;
        }
        const double phi = rotDeg * kPi / 180.0;
        const double cphi = std::cos(phi), sphi = std::sin(phi);
        const double dx2 = (x0 - x) / 2, dy2 = (y0 - y) / 2;
        const double x1p = cphi * dx2 + sphi * dy2;
        const double y1p = -sphi * dx2 + cphi * dy2;
        const double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
        if (lambda > 1) {
            const double s = std::sqrt(lambda);
            rx *= s;
            ry *= s;
        }
        const double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
        const double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
        double coef = den > 0 && num > 0 ? std::sqrt(num / den) : 0.0;
        if (large == sweep) coef = -coef;
        const double cxp = coef * rx * y1p / ry;
        const double cyp = -coef * ry * x1p / rx;
        const double cx = cphi * cxp - sphi * cyp + (x0 + x) / 2;
        const double cy = sphi * cxp + cphi * cyp + (y0 + y) / 2;
        auto angle = [](double ux, double uy, double vx, double vy) { return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy); };
        const double theta1 = angle(1, 0, (x1p - cxp) / rx, (y1p - cyp) / ry);
        double dtheta = angle((x1p - cxp) / rx, (y1p - cyp) / ry, (-x1p - cxp) / rx, (-y1p - cyp) / ry);
        if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(theta1) || !std::isfinite(dtheta)) {
            LineTo(x, y);
            return;
        }
        if (!sweep && dtheta > 0) dtheta -= 2 * kPi;
        if (sweep && dtheta < 0) dtheta += 2 * kPi;
        const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(dtheta) / (kPi / 2) - 1e-9)));
        const double step = dtheta / pieces;
        const double k = 4.0 / 3.0 * std::tan(step / 4);
        auto at = [&](double t, double& px, double& py, double& tx, double& ty) {
            const double ex = rx * std::cos(t), ey = ry * std::sin(t);
            px = cx + cphi * ex - sphi * ey;
            py = cy + sphi * ex + cphi * ey;
            const double dx = -rx * std::sin(t), dy = ry * std::cos(t);
            tx = cphi * dx - sphi * dy;
            ty = sphi * dx + cphi * dy;
        };
        double t = theta1;
        for (int p = 0; p < pieces && !m_state.failed; ++p) {
            double ax, ay, atx, aty, bx, by, btx, bty;
            at(t, ax, ay, atx, aty);
            at(t + step, bx, by, btx, bty);
            if (p == pieces - 1) {
                bx = x;
                by = y;
            }
            CubicTo(ax + k * atx, ay + k * aty, bx - k * btx, by - k * bty, bx, by);
            t += step;
        }
        m_x = x;
        m_y = y;
    }

    void ClosePath() {
        Flush(true);
        m_x = m_startX;
        m_y = m_startY;
    }
    // Makes a polyline of the working points; an empty list makes nothing.
    void Flush(bool close) {
        if (m_work.empty() || m_state.failed) {
            m_work.clear();
            return;
        }
        auto* line = new CPolyLine();
        line->arrPoint.reserve(m_work.size() + 1);
        for (const auto& p : m_work) line->arrPoint.push_back(Flip(p.x, p.y));
        if (close && line->arrPoint.size() > 1) line->ClosePloyLine();
        Append(m_group, line);
        m_work.clear();
    }

    struct P {
        double x, y;
    };
    CGroupShape& m_group;
    ReadState& m_state;
    std::vector<P> m_work;
    double m_x = 0, m_y = 0, m_startX = 0, m_startY = 0, m_ctrlX = 0, m_ctrlY = 0;
    wchar_t m_prev = 0;
};

// ---- transforms ------------------------------------------------------------

struct SvgTransform {
    int kind;  // 0 translate, 1 scale, 2 rotate, 3 skewX, 4 skewY
    double a, b, c;
};

// Parses a transform list. Each item is a keyword and its numbers in
// parentheses; the reading stops at anything else. Items that are not
// supported (matrix) are passed over.
std::vector<SvgTransform> ParseTransforms(const std::wstring& s) {
    std::vector<SvgTransform> out;
    size_t i = 0;
    while (true) {
        SkipSeparator(s, i);
        size_t k = i;
        while (k < s.size() && ((s[k] >= L'a' && s[k] <= L'z') || (s[k] >= L'A' && s[k] <= L'Z'))) ++k;
        const std::wstring name = s.substr(i, k - i);
        if (name.empty()) break;
        SkipBlanks(s, k);
        if (k >= s.size() || s[k] != L'(') break;
        ++k;
        std::vector<double> v;
        SkipBlanks(s, k);
        double num = 0;
        while (v.size() < 6 && ScanNumber(s, k, num)) {
            v.push_back(num);
            SkipSeparator(s, k);
        }
        SkipBlanks(s, k);
        if (k >= s.size() || s[k] != L')') break;
        i = k + 1;
        const size_t n = v.size();
        if (name == L"translate" && (n == 1 || n == 2)) {
            out.push_back({0, v[0], n == 2 ? v[1] : 0.0, 0.0});
        } else if (name == L"scale" && (n == 1 || n == 2)) {
            out.push_back({1, v[0], n == 2 ? v[1] : v[0], 0.0});
        } else if (name == L"rotate" && (n == 1 || n == 3)) {
            out.push_back({2, n == 3 ? v[1] : 0.0, n == 3 ? v[2] : 0.0, v[0]});
        } else if (name == L"skewX" && n == 1) {
            out.push_back({3, v[0], 0.0, 0.0});
        } else if (name == L"skewY" && n == 1) {
            out.push_back({4, v[0], 0.0, 0.0});
        }
    }
    return out;
}

// The shapes' bounds after the transform stay within kMaxCoord.
bool TransformStaysInRange(const SvgTransform& t, const Gdiplus::RectF& r) {
    const double xs[2] = {r.X, static_cast<double>(r.X) + r.Width};
    const double ys[2] = {r.Y, static_cast<double>(r.Y) - r.Height};
    for (double x : xs) {
        for (double y : ys) {
            double nx = x, ny = y;
            if (t.kind == 0) {
                nx += t.a;
                ny -= t.b;
            } else if (t.kind == 1) {
                nx *= t.a;
                ny *= t.b;
            } else if (t.kind == 2) {
                nx = std::fabs(x - t.a) + std::fabs(y + t.b) + std::fabs(t.a);
                ny = nx + std::fabs(t.b);
            }
            if (!(std::fabs(nx) <= kMaxCoord && std::fabs(ny) <= kMaxCoord)) return false;
        }
    }
    return true;
}

// Applies a `g` element's transforms to the shapes made inside it (the
// group's children from `first` on). SVG applies the rightmost item first,
// and the file's y axis is flipped: a move down is a negative y, and a turn
// that is clockwise on screen is counter-clockwise here.
void SvgApplyTransforms(CGroupShape& group, size_t first, const std::vector<SvgTransform>& list, ReadState& state) {
    auto& kids = group.GetChildren();
    if (first >= kids.size()) return;
    for (auto it = list.rbegin(); it != list.rend() && !state.failed; ++it) {
        const SvgTransform& t = *it;
        if (t.kind > 2) continue;  // skews are not supported
        if (t.kind == 1 && (t.a == 0.0 || t.b == 0.0)) {
            // A zero scale makes the content vanish.
            for (size_t k = first; k < kids.size(); ++k) {
                kids[k]->FreeShapePtr();
                delete kids[k];
            }
            kids.resize(first);
            return;
        }
        for (size_t k = first; k < kids.size(); ++k) {
            Gdiplus::RectF r;
            kids[k]->GetRectangle(r);
            if (!TransformStaysInRange(t, r)) {
                state.failed = true;
                return;
            }
            switch (t.kind) {
            case 0: kids[k]->Move(static_cast<float>(t.a), static_cast<float>(-t.b)); break;
            case 1: kids[k]->Zoom({0.0f, 0.0f}, t.a, t.b); break;
            case 2: kids[k]->Rotate(-t.c, {static_cast<float>(t.a), static_cast<float>(-t.b)}); break;
            default: break;
            }
        }
    }
}

// ---- texts -----------------------------------------------------------------

// A font size beyond this is no drawing: such a text is skipped.
constexpr double kMaxFontSize = 1e6;
// The faces the text layout falls back to, in its order, when the face asked
// for is not installed; the placement below measures with the same face.
const wchar_t* const kLayoutFallbacks[] = {L"Arial", L"Courier New", L"宋体", L"DejaVu Sans"};

std::wstring Trimmed(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// A property of an element: its declaration in the "style" attribute (the
// last one wins, as in CSS) before the attribute of the same name.
bool TextProperty(const IXMLDOMElement& e, const wchar_t* name, std::wstring& value) {
    CString style;
    bool found = false;
    if (e.getAttribute(L"style", style) == S_OK) {
        const std::wstring s = style.GetString();
        for (size_t i = 0; i < s.size();) {
            size_t end = s.find(L';', i);
            if (end == std::wstring::npos) end = s.size();
            const size_t colon = s.find(L':', i);
            if (colon < end && CString(Trimmed(s.substr(i, colon - i)).c_str()).CompareNoCase(name) == 0) {
                value = Trimmed(s.substr(colon + 1, end - colon - 1));
                found = true;
            }
            i = end + 1;
        }
    }
    if (found) return true;
    CString attr;
    if (e.getAttribute(name, attr) != S_OK) return false;
    value = attr.GetString();
    return true;
}

// The face of a "font-family" list: the first family installed here, each
// name unquoted and mapped; when none is, the first name, so that the text
// layout's own fallback applies.
CString FaceOfFamilies(const std::wstring& list) {
    std::vector<std::wstring> names(1);
    wchar_t quote = 0;
    for (wchar_t c : list) {
        if (quote != 0) {
            if (c == quote) quote = 0;
            else names.back() += c;
        } else if (c == L'\'' || c == L'"') {
            quote = c;
        } else if (c == L',') {
            names.emplace_back();
        } else {
            names.back() += c;
        }
    }
    CString first;
    for (const std::wstring& name : names) {
        CString face(Trimmed(name).c_str());
        if (face.IsEmpty()) continue;
        CGroupShape::SvgMapFontFamily(face);
        if (first.IsEmpty()) first = face;
        if (Gdiplus::FontFamily(face.GetString()).IsAvailable()) return face;
    }
    return first.IsEmpty() ? CString(L"Arial") : first;
}

struct TextStyle {
    double size = 12.0;
    CString face = CString(L"Arial");
};

// The style of a text or tspan: its own font size and family, else those it
// inherits. A size that is absurd, zero or negative turns `ok` false; one
// without a number (a keyword) is not given.
TextStyle StyleOf(const IXMLDOMElement& e, const TextStyle& inherited, bool& ok) {
    TextStyle st = inherited;
    std::wstring value;
    double size = 0.0;
    if (TextProperty(e, L"font-size", value) && LeadingNumber(value, size, ok)) {
        if (!(size > 0) || size > kMaxFontSize) ok = false;
        st.size = size;
    }
    if (TextProperty(e, L"font-family", value)) st.face = FaceOfFamilies(value);
    return st;
}

// Where a run of text lies against its pen, in layout units (y down): the
// ink's left edge right of the pen, the ink's top above the baseline, and
// the pen's move over the run.
struct RunMetrics {
    double left = 0, top = 0, advance = 0;
};

bool InkBounds(const std::wstring& s, const Gdiplus::FontFamily& family, int style, Gdiplus::RectF& bounds) {
    Gdiplus::GraphicsPath path;
    if (path.AddString(s.c_str(), static_cast<INT>(s.size()), &family, style, static_cast<float>(CFonts::kEmSize),
                       Gdiplus::PointF(0, 0), Gdiplus::StringFormat::GenericTypographic()) != Gdiplus::Ok ||
        path.GetPointCount() == 0)
        return false;
    path.GetBounds(&bounds);
    return true;
}

bool MeasureRun(const std::wstring& s, const CString& face, int style, RunMetrics& m) {
    Gdiplus::FontFamily family(face.GetString());
    for (const wchar_t* fallback : kLayoutFallbacks) {
        if (family.IsAvailable()) break;
        family = Gdiplus::FontFamily(fallback);
    }
    const double em = family.GetEmHeight(style);
    Gdiplus::RectF ink, withBar, bar;
    if (!(em > 0) || !InkBounds(s, family, style, ink)) return false;
    m.left = ink.X;
    m.top = family.GetCellAscent(style) * CFonts::kEmSize / em - ink.Y;
    // The pen's move is where a following glyph's ink ends, less that
    // glyph's own extent.
    m.advance = InkBounds(s + L"|", family, style, withBar) && InkBounds(L"|", family, style, bar)
                    ? withBar.GetRight() - bar.GetRight()
                    : ink.GetRight();
    return true;
}

// The texts of one `text` element. The element and its `tspan` elements are
// runs of text on a pen: x and y (file coordinates, baseline) set the pen,
// each run moves it on by its advance. An element with no positioned tspan
// inside is one run of all its text; otherwise its text nodes and tspans are
// taken one by one.
class TextBuilder {
public:
    TextBuilder(CGroupShape& group, ReadState& state) : m_group(group), m_state(state) {}

    void Run(const IXMLDOMElement& text) {
        bool ok = true;
        const TextStyle st = StyleOf(text, TextStyle(), ok);
        m_x = AttrNumber(text, L"x", &kZero, ok);
        m_y = AttrNumber(text, L"y", &kZero, ok);
        if (!ok) return;
        const size_t first = m_group.GetChildren().size();
        Content(text, st, 0);
        CString tf;
        if (text.getAttribute(L"transform", tf) == S_OK)
            SvgApplyTransforms(m_group, first, ParseTransforms(tf.GetString()), m_state);
    }

private:
    static bool IsTspan(const IXMLDOMElement& e) {
        CString tag;
        return !e.IsNull() && e.get_nodeName(tag) == S_OK && tag.CompareNoCase(L"tspan") == 0;
    }
    static bool Positioned(const IXMLDOMElement& e) {
        CString v;
        return e.getAttribute(L"x", v) == S_OK || e.getAttribute(L"y", v) == S_OK;
    }
    static bool HasPositionedTspan(const IXMLDOMNode& parent, int depth) {
        bool found = false;
        if (depth < kMaxDepth) {
            ForEachChild(parent, [&](const IXMLDOMNode& node) {
                const IXMLDOMElement e = IXMLDOMElement::FromNode(node);
                found = IsTspan(e) && (Positioned(e) || HasPositionedTspan(e, depth + 1));
                return !found;
            });
        }
        return found;
    }

    void Content(const IXMLDOMElement& element, const TextStyle& st, int depth) {
        if (!HasPositionedTspan(element, depth)) {
            CString all;
            element.get_text(all);
            Place(all, st);
            return;
        }
        ForEachChild(element, [&](const IXMLDOMNode& node) {
            DOMNodeType type = NODE_INVALID;
            node.get_nodeType(&type);
            const IXMLDOMElement e = IXMLDOMElement::FromNode(node);
            if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
                CString text;
                node.get_text(text);
                Place(text, st);
            } else if (IsTspan(e) && depth + 1 < kMaxDepth) {
                bool ok = true;
                const TextStyle inner = StyleOf(e, st, ok);
                const double x = AttrNumber(e, L"x", &m_x, ok), y = AttrNumber(e, L"y", &m_y, ok);
                if (ok) {
                    m_x = x;
                    m_y = y;
                    Content(e, inner, depth + 1);
                }
            }
            return !m_state.failed;
        });
    }

    // One text shape of a run, its baseline starting at the pen.
    void Place(const CString& raw, const TextStyle& st) {
        // Line ends and tabs are blanks, and runs of blanks are one, as SVG
        // shows them: the text layout would take a line end as a new line.
        std::wstring s;
        for (const wchar_t* p = raw.GetString(); *p != 0; ++p) {
            const wchar_t c = IsBlank(*p) ? L' ' : *p;
            if (c != L' ' || s.empty() || s.back() != L' ') s += c;
        }
        s = Trimmed(s);
        if (s.empty()) return;
        // The shapes' points count against the file's budget; a character
        // gives at least one.
        if (m_state.points + s.size() > kMaxPoints) {
            m_state.failed = true;
            return;
        }
        auto* t = new CFonts();
        t->nFontType = FONT_TYPE_TRUETYPE;
        t->parFonts.dHeight = st.size;
        t->parFonts.wstrFontName = st.face.GetString();
        const double scale = st.size / CFonts::kEmSize;
        // The layout puts the ink's top-left corner on the point it is given.
        RunMetrics m;
        const bool measured = MeasureRun(s, st.face, t->GetFontStyle(), m);
        t->InitFontsPath(Flip(m_x + m.left * scale, m_y - m.top * scale), CString(s.c_str()), st.face, false);
        size_t points = 0;
        for (const FONTSCHAR* ch : t->GetChars()) points += ch != nullptr ? ch->points.size() : 0;
        if (points == 0) {
            ShapeCounterOf(SHAPE_FONTS).GiveBack();
            delete t;
            return;
        }
        // A face without the regular style is laid out bold or italic: place
        // its ink as that style has it.
        RunMetrics used;
        if (t->GetFontStyle() != 0 && MeasureRun(s, st.face, t->GetFontStyle(), used)) {
            t->Move(static_cast<float>((used.left - m.left) * scale), static_cast<float>((used.top - m.top) * scale));
            m = used;
        }
        m_state.points += points;
        if (m_state.points > kMaxPoints) m_state.failed = true;
        Append(m_group, t);
        if (measured) m_x += m.advance * scale;
    }

    CGroupShape& m_group;
    ReadState& m_state;
    double m_x = 0, m_y = 0;
};

// ---- elements --------------------------------------------------------------

void ReadPoints(const IXMLDOMElement& e, std::vector<tagPOINTF>& out) {
    CString text;
    if (e.getAttribute(L"points", text) != S_OK) return;
    const std::wstring s = text.GetString();
    size_t i = 0;
    double x = 0, y = 0;
    while (true) {
        SkipSeparator(s, i);
        if (i >= s.size()) break;
        if (!ScanNumber(s, i, x)) break;
        SkipSeparator(s, i);
        if (!ScanNumber(s, i, y)) break;  // an odd count drops the last number
        out.push_back(Flip(x, y));
        if (out.size() > kMaxPoints) break;
    }
}

void SvgParseElement(const IXMLDOMNode& parent, CGroupShape& group, int depth, ReadState& state) {
    IXMLDOMNodeList children;
    if (parent.get_childNodes(children) != S_OK) return;
    long count = 0;
    children.get_length(&count);
    for (long n = 0; n < count && !state.failed; ++n) {
        IXMLDOMNode node;
        if (children.get_item(n, node) != S_OK) continue;
        const IXMLDOMElement e = IXMLDOMElement::FromNode(node);
        if (e.IsNull()) continue;
        CString tag;
        e.get_nodeName(tag);
        bool ok = true;
        if (tag.CompareNoCase(L"g") == 0) {
            if (depth >= kMaxDepth) continue;
            const size_t first = group.GetChildren().size();
            SvgParseElement(e, group, depth + 1, state);
            CString tf;
            if (e.getAttribute(L"transform", tf) == S_OK)
                SvgApplyTransforms(group, first, ParseTransforms(tf.GetString()), state);
        } else if (tag.CompareNoCase(L"line") == 0) {
            const double x1 = AttrNumber(e, L"x1", &kZero, ok), y1 = AttrNumber(e, L"y1", &kZero, ok);
            const double x2 = AttrNumber(e, L"x2", &kZero, ok), y2 = AttrNumber(e, L"y2", &kZero, ok);
            if (!ok) continue;
            auto* line = new CPolyLine();
            line->arrPoint = {Flip(x1, y1), Flip(x2, y2)};
            Append(group, line);
        } else if (tag.CompareNoCase(L"rect") == 0) {
            const double x = AttrNumber(e, L"x", &kZero, ok), y = AttrNumber(e, L"y", &kZero, ok);
            const double w = AttrNumber(e, L"width", nullptr, ok), h = AttrNumber(e, L"height", nullptr, ok);
            if (!ok || !(w > 0) || !(h > 0)) continue;
            auto* rect = new CRectangle();
            rect->InitRectangle(Gdiplus::RectF(static_cast<float>(x), static_cast<float>(-y), static_cast<float>(w),
                                               static_cast<float>(h)));
            Append(group, rect);
        } else if (tag.CompareNoCase(L"circle") == 0) {
            const double cx = AttrNumber(e, L"cx", &kZero, ok), cy = AttrNumber(e, L"cy", &kZero, ok);
            const double r = AttrNumber(e, L"r", nullptr, ok);
            if (!ok || !(r > 0)) continue;
            auto* circle = new CCircle();
            if (circle->InitCircle(static_cast<float>(cx), static_cast<float>(-cy), 0.0f, static_cast<float>(r)) == 0) {
                Append(group, circle);
            } else {
                ShapeCounterOf(SHAPE_CIRCLE).GiveBack();
                delete circle;
            }
        } else if (tag.CompareNoCase(L"ellipse") == 0) {
            const double cx = AttrNumber(e, L"cx", &kZero, ok), cy = AttrNumber(e, L"cy", &kZero, ok);
            const double rx = AttrNumber(e, L"rx", nullptr, ok), ry = AttrNumber(e, L"ry", nullptr, ok);
            if (!ok || !(rx > 0) || !(ry > 0)) continue;
            auto* arc = new CEllipseArc();
            if (arc->InitArcPath(Gdiplus::RectF(static_cast<float>(cx - rx), static_cast<float>(-cy - ry),
                                                static_cast<float>(2 * rx), static_cast<float>(2 * ry)),
                                 false) == 0) {
                Append(group, arc);
            } else {
                delete arc;
            }
        } else if (tag.CompareNoCase(L"polygon") == 0 || tag.CompareNoCase(L"polyline") == 0) {
            std::vector<tagPOINTF> pts;
            ReadPoints(e, pts);
            if (pts.empty() || pts.size() > kMaxPoints) continue;
            state.points += pts.size();
            if (state.points > kMaxPoints) {
                state.failed = true;
                break;
            }
            auto* line = new CPolyLine();
            line->arrPoint = std::move(pts);
            if (tag.CompareNoCase(L"polygon") == 0) line->ClosePloyLine();
            Append(group, line);
        } else if (tag.CompareNoCase(L"path") == 0) {
            CString d;
            if (e.getAttribute(L"d", d) != S_OK) continue;
            PathBuilder(group, state).Run(d.GetString());
        } else if (tag.CompareNoCase(L"text") == 0) {
            TextBuilder(group, state).Run(e);
        }
        // Every other element is skipped with its content.
    }
}

CString FileNameOf(const CString& path) {
    const int slash = path.ReverseFind(L'/');
    const int backslash = path.ReverseFind(L'\\');
    return path.Mid((slash > backslash ? slash : backslash) + 1);
}

}  // namespace

void CGroupShape::SvgMapFontFamily(CString& face) {
    static const wchar_t* const kMap[][2] = {
        {L"SimSun", L"宋体"},          {L"SimHei", L"黑体"},         {L"FangSong_GB2312", L"仿宋_GB2312"},
        {L"KaiTi_GB2312", L"楷体_GB2312"}, {L"YouYuan", L"幼圆"},     {L"STSong", L"华文宋体"},
        {L"STZhongsong", L"华文中宋"},   {L"STKaiti", L"华文楷体"},     {L"STFangsong", L"华文仿宋"},
        {L"STXihei", L"华文细黑"},       {L"STLiti", L"华文隶书"},      {L"STXingkai", L"华文行楷"},
        {L"STXinwei", L"华文新魏"},      {L"STHupo", L"华文琥珀"},      {L"STCaiyun", L"华文彩云"},
        {L"FZYaoTi", L"方正姚体"},       {L"FZShuTi", L"方正舒体"},     {L"NSimSun", L"新宋体"},
        {L"LiSu", L"隶书"},
    };
    for (const auto& entry : kMap) {
        if (face == entry[0]) {
            face = entry[1];
            return;
        }
    }
}

CGroupShape* CGroupShape::ParserSvgFile(const CString& path) {
    std::unique_ptr<IXMLDOMDocument> doc;
    if (CreateXMLDOMDocument(doc) != S_OK || !doc) return nullptr;
    doc->put_resolveExternals(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (doc->load(path.GetString(), &loaded) != S_OK || loaded != VARIANT_TRUE) {
        long code = 0;
        doc->get_parseError(&code);
        RunLog::Instance(nullptr)->WriteFormat(L"加载%s失败！", path.GetString());
        return nullptr;
    }
    IXMLDOMElement root;
    CString tag;
    if (doc->get_documentElement(root) != S_OK || root.IsNull() || root.get_tagName(tag) != S_OK ||
        tag.CompareNoCase(L"svg") != 0)
        return nullptr;

    auto* group = new CGroupShape();
    group->SetCaption(FileNameOf(path));
    ReadState state;
    SvgParseElement(root, *group, 0, state);
    if (state.failed) {
        // An absurd file: nothing of it is kept.
        group->FreeShapePtr();
        delete group;
        return nullptr;
    }
    return group;
}
