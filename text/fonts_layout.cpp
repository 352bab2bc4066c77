// The TrueType layout of a text shape: characters one after the other on a
// pen position, in layout units of 10 per em with y growing downward, then
// stored with y up; the frame and the placement of a new text.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "compose/filledshape.h"
#include "gdiplus/font.h"
#include "gdiplus/graphicspath.h"
#include "gdiplus/matrix.h"
#include "text/fonts.h"

namespace {

// The faces tried, in order, when the requested one cannot lay a character
// out; the last one is the face the project installs everywhere.
const wchar_t* const kFallbackFaces[] = {L"Arial", L"Courier New", L"宋体", L"DejaVu Sans"};

// The ink bounds of a string laid out at origin; false when it has none.
bool Ink(const std::wstring& s, const Gdiplus::FontFamily& family, int style, float em, Gdiplus::PointF origin,
         Gdiplus::RectF& bounds, Gdiplus::Status* status = nullptr) {
    Gdiplus::GraphicsPath path;
    const Gdiplus::Status st = path.AddString(s.c_str(), static_cast<INT>(s.size()), &family, style, em, origin,
                                              Gdiplus::StringFormat::GenericTypographic());
    if (status != nullptr) *status = st;
    if (st != Gdiplus::Ok || path.GetPointCount() == 0) return false;
    path.GetBounds(&bounds);
    return bounds.Width > 0 || bounds.Height > 0;
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
    // Y is the rectangle's top edge (y up): the frame spans it left to
    // right through its middle and top to bottom through its centre.
    m_arrFrame.clear();
    fInitStrHeight = r.Height;
    fInitStrWidth = r.Width;
    const float midY = r.Y - r.Height / 2;
    const float midX = r.X + r.Width / 2;
    m_arrFrame.push_back({r.X, midY});
    m_arrFrame.push_back({r.X + r.Width, midY});
    m_arrFrame.push_back({midX, r.Y});
    m_arrFrame.push_back({midX, r.Y - r.Height});
}

bool CFonts::HasRightToLeftChars(const CString& text) {
    const wchar_t* s = text.GetString();
    for (int i = 0; i < text.GetLength(); ++i)
        if (s[i] >= 0x0590 && s[i] <= 0x07FF) return true;
    return false;
}

int CFonts::FindSpace(const CString& line, int i) {
    int n = 0;
    const wchar_t* s = line.GetString();
    for (int k = i + 1; k >= 0 && k < line.GetLength() && s[k] == L' '; ++k) ++n;
    return n;
}

// ---- placing a new text -----------------------------------------------------------------------

int CFonts::InitFontsPath(tagPOINTF pt, CString text, CString fontName, bool flag) {
    m_bRecord = 0;
    m_strText = text;
    m_strFontName = fontName;
    m_wstrFontName.assign(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    m_fHostSetting = 1.0f;
    fontspos = pt;
    m_arrModify.clear();
    if (nFontType == 2) {
        if (SetCodebarPoints()) {
            InitRefPoint();
            const tagPOINTF ref = GetPosRefPoint(parFonts.nRefPos);
            Move(pt.x - ref.x, pt.y - ref.y);
        }
        m_bRecord = 1;
        return 1;
    }
    if (nFontType == 1) {
        if (SetSinglelinePoint(text, fontName)) {
            m_bRecord = 1;
            return 1;
        }
        nFontType = 0;
    }
    SetFontsPoint(text, fontName, flag);
    InitRefPoint();
    if (m_arrFrame.size() == 4) {
        const tagPOINTF c{(m_arrFrame[0].x + m_arrFrame[1].x) / 2, (m_arrFrame[2].y + m_arrFrame[3].y) / 2};
        const double sy = parFonts.dHeight / kEmSize;
        const double sx = sy * parFonts.dWidthRatio / kNaturalWidth;
        for (FONTSCHAR* ch : m_arrChars)
            for (tagPOINTF& p : ch->points) p = PointfZoom(p, sx, sy, c);
        for (tagPOINTF& p : m_arrFrame) p = PointfZoom(p, sx, sy, c);
    }
    InitRefPoint();
    Gdiplus::RectF r;
    GetRectangle(r);
    if (parFonts.bPathText == 0) {
        const float a = parFonts.nAlign == 1 ? r.Width / 2 : parFonts.nAlign == 2 ? r.Width : 0.0f;
        const float dx = pt.x - r.X - a;
        const float dy = pt.y - r.Y;
        if (dx != 0 || dy != 0) Move(dx, dy);
    }
    m_bRecord = 1;
    InvalidateGeometry();
    return 1;
}

// ---- the TrueType layout ----------------------------------------------------------------------

bool CFonts::SetFontsPoint(CString text, CString fontName, bool) {
    FreeAll(true);
    if (text.IsEmpty()) return true;
    std::wstring s(text.GetString(), static_cast<size_t>(text.GetLength()));
    const bool rtl = HasRightToLeftChars(text);
    if (rtl) std::reverse(s.begin(), s.end());
    if (parFonts.bPathText != 0) {
        // Text on a curve is laid out by the arc layout, which comes with the
        // single-line fonts.
        return false;
    }
    bool vertical = parFonts.bVertical != 0;
    bool turn = false;
    std::wstring face(fontName.GetString(), static_cast<size_t>(fontName.GetLength()));
    if (!face.empty() && face[0] == L'@') {
        face.erase(0, 1);
        vertical = !vertical;
        turn = true;
    }

    const float em = static_cast<float>(kEmSize);
    Gdiplus::FontFamily family(face.c_str());
    int style = GetFontStyle();
    // Find a face and style that can draw the text's first inked character;
    // bold, then italic, then the fallback faces.
    {
        size_t probe = s.find_first_not_of(L" \r\n\t");
        const std::wstring ch = probe == std::wstring::npos ? std::wstring(L"x") : s.substr(probe, 1);
        Gdiplus::RectF b;
        Gdiplus::Status st = Gdiplus::Ok;
        auto usable = [&](const Gdiplus::FontFamily& f, int st2) {
            Ink(ch, f, st2, em, Gdiplus::PointF(0, 0), b, &st);
            return st == Gdiplus::Ok;
        };
        if (!usable(family, style)) {
            const int saved = style;
            if (usable(family, saved | Gdiplus::FontStyleBold)) {
                style = saved | Gdiplus::FontStyleBold;
                parFonts.bBold = 1;
            } else if (usable(family, (saved & ~Gdiplus::FontStyleBold) | Gdiplus::FontStyleItalic)) {
                style = (saved & ~Gdiplus::FontStyleBold) | Gdiplus::FontStyleItalic;
                parFonts.bItalic = 1;
            } else {
                bool found = false;
                for (const wchar_t* fallback : kFallbackFaces) {
                    Gdiplus::FontFamily f(fallback);
                    if (usable(f, saved)) {
                        family = f;
                        style = saved;
                        found = true;
                        break;
                    }
                }
                if (!found) return false;
            }
        }
    }

    const double sy = parFonts.dHeight / kEmSize;
    const double sx = sy * parFonts.dWidthRatio / kNaturalWidth;
    const int mode = parFonts.nFixWidthMode;
    const double fixWidth = parFonts.dHeight > 0 && parFonts.dWidthRatio > 0
                                ? parFonts.dFixCharWidth * kEmSize / parFonts.dHeight * kNaturalWidth / parFonts.dWidthRatio
                                : 0.0;
    // The widest glyph at em 1 (the equal pitch).
    double widest = 0;
    for (wchar_t c : s) {
        Gdiplus::RectF b;
        if (Ink(std::wstring(1, c), family, style, 1.0f, Gdiplus::PointF(0, 0), b)) widest = std::max<double>(widest, b.Width);
    }

    const float x0 = fontspos.x;
    const float y0 = -fontspos.y;
    // Split into lines; each line's characters become glyph paths placed on
    // the pen.
    std::vector<std::wstring> lines;
    {
        size_t from = 0;
        while (true) {
            const size_t at = s.find(L'\n', from);
            std::wstring line = s.substr(from, at == std::wstring::npos ? std::wstring::npos : at - from);
            while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) line.pop_back();
            while (!line.empty() && (line.front() == L'\r' || line.front() == L'\n')) line.erase(0, 1);
            lines.push_back(line);
            if (at == std::wstring::npos) break;
            from = at + 1;
        }
    }

    struct Placed {
        wchar_t c;
        Gdiplus::GraphicsPath path;
    };
    bool haveRef = false;
    double refX = 0, refY = 0;
    float lineY = y0;
    float columnX = x0;
    for (const std::wstring& line : lines) {
        std::vector<Placed> placed;
        float x = vertical ? columnX : x0;
        float y = vertical ? y0 : lineY;
        float maxRight = x;
        int leading = 0;
        bool inked = false;
        size_t lastInk = std::wstring::npos;
        for (size_t i = 0; i < line.size(); ++i) {
            const wchar_t c = line[i];
            Placed p{c, Gdiplus::GraphicsPath()};
            Gdiplus::RectF b;
            const bool has = Ink(std::wstring(1, c), family, style, em, Gdiplus::PointF(x, y), b);
            if (!has && !inked) ++leading;
            if (vertical) {
                if (has && (mode == 1 || mode == 2) && i > 0 && line[i - 1] != L' ') y -= b.Y - y;
                p.path.AddString(&c, 1, &family, style, em, Gdiplus::PointF(x, y),
                                 Gdiplus::StringFormat::GenericTypographic());
                Gdiplus::RectF pb;
                if (has) {
                    p.path.GetBounds(&pb);
                    y = pb.GetBottom() + pb.Height * static_cast<float>(FindSpace(CString(line.c_str()), static_cast<int>(i)));
                    maxRight = std::max(maxRight, pb.GetRight());
                } else {
                    y += em;
                }
            } else {
                if (i > 0 && has) {
                    // The advance from the last inked character, kerning
                    // and blanks between included.
                    double shift = 0;
                    if (lastInk != std::wstring::npos && (mode == 0 || line[i - 1] == L' ')) {
                        Gdiplus::RectF withIt, without;
                        const std::wstring run = line.substr(lastInk, i - lastInk + 1);
                        if (Ink(run, family, style, em, Gdiplus::PointF(0, 0), withIt) &&
                            Ink(run.substr(0, run.size() - 1), family, style, em, Gdiplus::PointF(0, 0), without)) {
                            const double advance = withIt.GetRight() - without.GetRight();
                            const double extent = b.GetRight() - x;
                            if (!rtl || extent < advance) shift = advance - extent;
                        }
                    } else if (mode == 1 || mode == 2) {
                        shift = -(b.X - x);
                    }
                    x += static_cast<float>(shift);
                }
                p.path.AddString(&c, 1, &family, style, em, Gdiplus::PointF(x, y),
                                 Gdiplus::StringFormat::GenericTypographic());
                if (has) {
                    Gdiplus::RectF pb;
                    p.path.GetBounds(&pb);
                    x = pb.GetRight();
                    lastInk = i;
                    inked = true;
                } else if (!inked || i == 0) {
                    // A leading blank moves the pen by its own advance.
                    Gdiplus::RectF wb;
                    if (Ink(L"x", family, style, em, Gdiplus::PointF(0, 0), wb)) x += wb.Width;
                }
            }
            // Spacing of the fixed-width mode after each character.
            Gdiplus::RectF gb;
            const bool glyph = has && p.path.GetPointCount() > 0;
            if (glyph) p.path.GetBounds(&gb);
            double step = 0;
            if (mode == 0) {
                step = parFonts.dCharSpace;
            } else if (mode == 1) {
                step = vertical ? parFonts.dFixCharWidth : fixWidth;
            } else if (mode == 2) {
                step = (vertical ? parFonts.dFixCharWidth : fixWidth) - (glyph ? (vertical ? gb.Height : gb.Width) : 0.0);
            }
            if (vertical) {
                y += static_cast<float>(step);
            } else {
                x += static_cast<float>(step);
                if (parFonts.bEqualPitch != 0 && sx > 0) x += static_cast<float>(widest + parFonts.dCharSpace / sx);
            }
            placed.push_back(std::move(p));
        }

        // Line up this line's anchor with the first line's.
        Gdiplus::GraphicsPath all;
        for (Placed& p : placed) all.AddPath(&p.path, FALSE);
        Gdiplus::RectF lb;
        if (all.GetPointCount() > 0) {
            all.GetBounds(&lb);
            const double ax = parFonts.nAlign == 1 ? lb.X + lb.Width / 2 : parFonts.nAlign == 2 ? lb.GetRight() : lb.X;
            const double ay = parFonts.nAlign == 1 ? lb.Y + lb.Height / 2 : parFonts.nAlign == 2 ? lb.GetBottom() : lb.Y;
            if (!haveRef) {
                haveRef = true;
                refX = ax;
                refY = ay;
            } else {
                Gdiplus::Matrix m;
                if (vertical) {
                    m.Translate(0, static_cast<float>(refY - ay));
                } else {
                    Gdiplus::RectF blank;
                    double blankWidth = Ink(L"x", family, style, em, Gdiplus::PointF(0, 0), blank) ? blank.Width : 0.0;
                    if (mode == 1 || mode == 2) blankWidth = fixWidth + (mode == 1 ? blankWidth : 0.0);
                    m.Translate(static_cast<float>(refX - ax + leading * blankWidth), 0);
                }
                for (Placed& p : placed) p.path.Transform(&m);
            }
        }
        if (vertical) {
            columnX = maxRight + static_cast<float>(parFonts.dLineSpace);
        } else {
            lineY += em + static_cast<float>(parFonts.dLineSpace);
        }

        for (Placed& p : placed) {
            if (turn) {
                Gdiplus::Matrix m;
                m.Rotate(-90.0f);
                p.path.Transform(&m);
            }
            auto* ch = new FONTSCHAR();
            ch->text = CString(std::wstring(1, p.c).c_str());
            if (p.path.GetPointCount() > 0) {
                p.path.Flatten(nullptr, GetSmoothRatio());
                const auto& pts = p.path.PathPoints();
                const auto& types = p.path.PathTypes();
                ch->points.reserve(pts.size());
                for (const Gdiplus::PointF& q : pts) ch->points.push_back({q.X, -q.Y});
                ch->types.assign(types.begin(), types.end());
            }
            m_arrChars.push_back(ch);
            auto* fill = new CFilledShape();
            fill->SetNoRedraw(1);
            fill->SetDocView(m_pDoc, m_pView);
            fill->SetCaption(ch->text);
            m_arrFills.push_back(fill);
        }
    }
    InvalidateGeometry();
    return true;
}
