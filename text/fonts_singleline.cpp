// The single-line layout of a text shape: each character becomes the
// strokes (open polylines) of its shape in an SHX font. Two fonts serve a
// text: the default font "Simtxt.shx" and the text's own; each is measured
// once per text (its cell), and the cell sets the scale: the cell's height
// becomes the text's height, its width the height times the width factor
// (a percentage).
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "morvik/text/fonts.h"
#include "morvik/win32/windows.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

const wchar_t kLatinSample[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
const wchar_t kChineseSample[] = L"我是中国人印度尼西亚阿拉伯湘江人民老鼠繁体心农夫山泉围棋：";
const wchar_t kDefaultFont[] = L"Simtxt.shx";
const wchar_t kDefaultName[] = L"SIMTXT";
// Records closer than this join into one stroke.
constexpr double kJoin = 0.000001;
// Arcs become chords that stay this close to the true arc (mm), at most
// this many per arc.
constexpr double kArcTolerance = 0.005;
constexpr int kMaxArcChords = 1024;
// Points one character may hold: a hostile font must not fill the memory.
constexpr size_t kMaxCharPoints = 100000;
// A single-stroke character pulls the pen back by this many font units.
constexpr double kSingleStrokePullBack = 20.0;

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

// The two-byte code of c in the process ANSI code page, first byte high (a
// one-byte code as it is); 0 when the code page has no such character.
int AnsiCode(wchar_t c) {
    char buf[8] = {};
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, &c, 1, buf, sizeof buf, nullptr, &usedDefault);
    if (usedDefault || n < 1 || n > 2) return 0;
    const int b0 = static_cast<unsigned char>(buf[0]);
    return n == 1 ? b0 : (b0 << 8) | static_cast<unsigned char>(buf[1]);
}

// The extent of the line records; false when there are none.
bool LineExtent(const std::vector<dxfObject*>& records, double& x0, double& y0, double& x1, double& y1) {
    bool any = false;
    for (const dxfObject* o : records) {
        if (o->nKind != 1) continue;
        const auto* l = static_cast<const dxfLine*>(o);
        if (!any) {
            x0 = x1 = l->x1;
            y0 = y1 = l->y1;
            any = true;
        }
        x0 = std::min({x0, l->x1, l->x2});
        x1 = std::max({x1, l->x1, l->x2});
        y0 = std::min({y0, l->y1, l->y2});
        y1 = std::max({y1, l->y1, l->y2});
    }
    return any;
}

// Shifts a Chinese font's characters into the middle of the cell: across
// to the middle, and up or down by the rule of the font's two kinds of
// codes.
void ShxMakeCenter(int code, std::vector<dxfObject*>& records, double cellW, double cellH) {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (!LineExtent(records, x0, y0, x1, y1)) return;
    const double dx = cellW / 2 - (x0 + x1) / 2;
    const double dy = ((code >> 8) & 0xFF) > 0xAF ? cellH / 2 - (y0 + y1) / 2 - cellH / 10 : -y0;
    for (dxfObject* o : records) {
        if (o->nKind == 1) {
            auto* l = static_cast<dxfLine*>(o);
            l->x1 += dx, l->x2 += dx, l->y1 += dy, l->y2 += dy;
        } else if (o->nKind == 2) {
            auto* a = static_cast<dxfArc*>(o);
            a->cx += dx, a->cy += dy;
        }
    }
}

// Strokes of records placed at a pen with x and y scales.
class StrokeWriter {
public:
    StrokeWriter(FONTSCHAR& ch, double sx, double sy, double penX, double penY)
        : m_ch(ch), m_sx(sx), m_sy(sy), m_x(penX), m_y(penY) {}

    void Add(const dxfObject* o) {
        if (o->nKind == 1) {
            const auto* l = static_cast<const dxfLine*>(o);
            if (!Room(2)) return;
            Start(l->x1, l->y1);
            To(l->x2, l->y2);
        } else if (o->nKind == 2) {
            AddArc(*static_cast<const dxfArc*>(o));
        }
    }

private:
    void AddArc(const dxfArc& a) {
        if (!(a.radius > 0) || !std::isfinite(a.radius)) return;
        // The sweep in the arc's direction; equal angles are a full circle.
        double sweep = std::fmod(a.direction != 0 ? a.startAngle - a.endAngle : a.endAngle - a.startAngle, 360.0);
        if (sweep < 0) sweep += 360.0;
        if (sweep < 1e-9) sweep = 360.0;
        // Enough chords that none strays more than the tolerance from the
        // arc at the larger of the two scales.
        const double r = a.radius * std::max(std::fabs(m_sx), std::fabs(m_sy));
        int n = static_cast<int>(std::ceil(sweep / 90.0));
        if (r > kArcTolerance) {
            const double step = 2.0 * std::acos(1.0 - kArcTolerance / r) * 180.0 / kPi;
            n = std::max(n, static_cast<int>(std::min<double>(kMaxArcChords, std::ceil(sweep / step))));
        }
        if (!Room(static_cast<size_t>(n) + 1)) return;
        const double dir = a.direction != 0 ? -1.0 : 1.0;
        auto at = [&](int k, double& x, double& y) {
            const double t = (a.startAngle + dir * sweep * k / n) * kPi / 180.0;
            x = a.cx + a.radius * std::cos(t);
            y = a.cy + a.radius * std::sin(t);
        };
        double x = 0, y = 0;
        at(0, x, y);
        Start(x, y);
        for (int k = 1; k <= n; ++k) {
            at(k, x, y);
            To(x, y);
        }
    }

    // Whether n more points fit; once one record does not, none follows.
    bool Room(size_t n) {
        if (m_full || m_ch.points.size() + n > kMaxCharPoints) m_full = true;
        return !m_full;
    }

    // A new stroke unless (x, y) is where the last one ended.
    void Start(double x, double y) {
        if (std::fabs(x - m_endX) > kJoin || std::fabs(y - m_endY) > kJoin) Put(x, y, 0);
    }
    void To(double x, double y) {
        Put(x, y, 1);
        m_endX = x;
        m_endY = y;
    }
    void Put(double x, double y, uint8_t type) {
        m_ch.points.push_back(
            {static_cast<float>(Finite(x * m_sx + m_x)), static_cast<float>(Finite(y * m_sy + m_y))});
        m_ch.types.push_back(type);
    }

    FONTSCHAR& m_ch;
    double m_sx, m_sy, m_x, m_y;
    double m_endX = 999, m_endY = -999;
    bool m_full = false;
};

}  // namespace

void CFonts::GetArrayRectF(const std::vector<tagPOINTF>& points, Gdiplus::RectF& rect) {
    rect = Gdiplus::RectF(0, 0, 0, 0);
    if (points.empty()) return;
    float x0 = points[0].x, x1 = x0, y0 = points[0].y, y1 = y0;
    for (const tagPOINTF& p : points) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    rect = Gdiplus::RectF(x0, y1, x1 - x0, y1 - y0);
}

bool CFonts::SpecIsInSingle(int i) const {
    return std::find(m_shxSpecPos.begin(), m_shxSpecPos.end(), i) != m_shxSpecPos.end();
}

int CFonts::GetShxWidthHeight(CShxShapeReader& reader, SHX_INFO& info) {
    for (int sample = 0; sample < 2; ++sample) {
        double w = 0, h = 0;
        for (const wchar_t* c = sample == 0 ? kLatinSample : kChineseSample; *c != 0; ++c) {
            const int code = *c > 0x7F ? AnsiCode(*c) : static_cast<int>(*c);
            if (reader.readCharShape(m_shxRecords, code, 0) == -1) break;
            double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            if (!LineExtent(m_shxRecords, x0, y0, x1, y1)) continue;
            w = std::max({w, x1, x1 - x0});
            h = std::max(h, y1 - y0);
        }
        CShxShapeReader::FreeObjects(m_shxRecords);
        if (w > 0 && h > 0) {
            info.nSample = sample;
            info.dWidth = w;
            info.dHeight = h;
            return 1;
        }
    }
    info.dWidth = info.dHeight = 0;
    return 0;
}

bool CFonts::LoadShxFonts(const CString& fontName) {
    const std::wstring folder = CShxShapeReader::GetFontFolder();
    if (m_shxCache.empty() || !(m_shxDefaultInfo.dWidth > 0)) {
        // Each failure shows one message at most: the reader's own when a
        // file cannot be opened; a reader that did not load is not asked
        // for characters.
        m_shxDefault.in((folder + kDefaultFont).c_str());
        if (!m_shxDefault.IsLoaded()) return false;
        SHX_INFO info;
        info.strName = CString(kDefaultName);
        if (GetShxWidthHeight(m_shxDefault, info) == 0) return false;
        m_shxDefaultInfo = info;
        m_shxCache.erase(std::remove_if(m_shxCache.begin(), m_shxCache.end(),
                                        [](const SHX_INFO& i) { return i.strName == CString(kDefaultName); }),
                         m_shxCache.end());
        m_shxCache.push_back(info);
    }
    const std::wstring path = folder + std::wstring(fontName.GetString()) + L".shx";
    const CString cpath(path.c_str());
    auto found = std::find_if(m_shxCache.begin(), m_shxCache.end(),
                              [&](const SHX_INFO& i) { return i.strName == fontName; });
    if (found == m_shxCache.end()) {
        m_shxFont.in(path.c_str());
        if (!m_shxFont.IsLoaded()) return false;
        SHX_INFO info;
        info.strName = fontName;
        if (GetShxWidthHeight(m_shxFont, info) == 0) return false;
        m_shxCache.push_back(info);
        m_shxInfo = info;
        return true;
    }
    m_shxInfo = *found;
    if (!m_shxFont.IsLoaded() || m_shxFont.GetPath() != cpath) m_shxFont.in(path.c_str());
    return m_shxFont.IsLoaded();
}

FONTSCHAR* CFonts::ShxCharAt(wchar_t c, double x, double y, bool* singleStroke, double* scaleX) {
    auto* ch = new FONTSCHAR();
    ch->text = CString(c);
    // The full-width colon is drawn as the colon.
    if (c == 0xFF1A) c = L':';
    const SHX_INFO* base = &m_shxInfo;
    const bool chinese = m_shxInfo.nSample == 1;
    const int code = chinese && c > 0x7F ? AnsiCode(c) : static_cast<int>(c);
    int result = -1;
    if (m_shxFont.IsLoaded() && code != 0) result = m_shxFont.readCharShape(m_shxRecords, code, 0);
    if (chinese && c > 0x7F) {
        if (result == 0 && !m_shxRecords.empty() &&
            (m_strFontName == CString(L"HZDX") || m_strFontName == CString(L"HZTXT")))
            ShxMakeCenter(code, m_shxRecords, m_shxInfo.dWidth, m_shxInfo.dHeight);
    } else if (chinese && result != 0 && m_shxDefault.IsLoaded() && m_shxDefaultInfo.dWidth > 0 && code != 0) {
        // Latin letters a Chinese font lacks come from the default font, at
        // its own cell.
        result = m_shxDefault.readCharShape(m_shxRecords, code, 0);
        base = &m_shxDefaultInfo;
    }
    if (result != 0) CShxShapeReader::FreeObjects(m_shxRecords);

    const double h = parFonts.dHeight;
    const double sy = base->dHeight > 0 ? Finite(h / base->dHeight) : 0.0;
    const double sx = base->dWidth > 0 ? Finite(h * parFonts.dWidthRatio / 100.0 / base->dWidth) : 0.0;
    StrokeWriter writer(*ch, sx, sy, x, y);
    for (const dxfObject* o : m_shxRecords) writer.Add(o);
    if (singleStroke != nullptr) {
        const auto* l = m_shxRecords.size() == 1 && m_shxRecords[0]->nKind == 1
                            ? static_cast<const dxfLine*>(m_shxRecords[0])
                            : nullptr;
        *singleStroke = l != nullptr && std::fabs(l->y2 - l->y1) > kJoin;
    }
    if (scaleX != nullptr) *scaleX = sx;
    CShxShapeReader::FreeObjects(m_shxRecords);
    return ch;
}

size_t CFonts::ShxLayoutLine(const std::wstring& line, double& penX, double& penY) {
    m_shxSpecPos.clear();
    const bool vertical = parFonts.bVertical != 0;
    const bool attached = parFonts.bPathText != 0;
    const int mode = parFonts.nFixWidthMode == 1 || parFonts.nFixWidthMode == 2 ? parFonts.nFixWidthMode : 0;
    const double h = Finite(parFonts.dHeight);
    const double cs = Finite(parFonts.dCharSpace);
    const double cw = Finite(parFonts.dFixCharWidth);
    const double across = Finite(h * parFonts.dWidthRatio / 100.0);
    // Blanks that follow a character are stepped over with it.
    int blanksAhead = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const wchar_t c = line[i];
        if (c == L'-') m_shxSpecPos.push_back(static_cast<int>(i));
        bool single = false;
        double sx = 0;
        FONTSCHAR* ch = ShxCharAt(c, penX, penY, &single, &sx);
        m_arrChars.push_back(ch);
        if (attached) m_arrCharsBackup.push_back(ch->Clone());
        if (c == L' ' && blanksAhead > 0) {
            --blanksAhead;
            continue;
        }
        size_t k = i + 1;
        while (k < line.size() && line[k] == L' ') ++k;
        blanksAhead = static_cast<int>(k - i - 1);
        Gdiplus::RectF r;
        GetArrayRectF(ch->points, r);
        if (vertical) {
            const double step = mode == 0 ? cs + h : mode == 1 ? r.Height + cw : cw;
            penY -= (cs + step) * (blanksAhead + 1);
        } else {
            const double step = mode == 0 ? across + cs : mode == 1 ? r.Width + cw : cw;
            penX += step * (blanksAhead + 1);
            if (single) penX -= kSingleStrokePullBack * sx;
        }
    }
    return line.size();
}

bool CFonts::SetSinglelinePoint(const CString& text, const CString& fontName) {
    if (parFonts.bPathText != 0 && !ArcUsable()) return false;
    if (!LoadShxFonts(fontName)) return false;
    FreeAll(true);
    m_arrPtBackup.clear();
    const bool vertical = parFonts.bVertical != 0;
    const bool attached = parFonts.bPathText != 0;
    const double x0 = fontspos.x, y0 = fontspos.y;
    const double h = Finite(parFonts.dHeight);
    const double lineSpace = Finite(parFonts.dLineSpace);
    double lineY = y0, columnX = x0;
    bool haveRef = false;
    double refX = 0, refY = 0;
    for (std::wstring& line : SplitTextLines(std::wstring(text.GetString(), static_cast<size_t>(text.GetLength())))) {
        if (attached && bInvert != 0) std::reverse(line.begin(), line.end());
        const size_t first = m_arrChars.size();
        double penX = vertical ? columnX : x0;
        double penY = vertical ? y0 : lineY;
        const size_t n = ShxLayoutLine(line, penX, penY);
        if (attached) {
            if (bFilled != 0) DeleteFillHeld();
            SingleFt2PathFont(static_cast<int>(n));
        }
        // The line's rectangle and its anchor: the top-left corner, the
        // centre or the bottom-right corner.
        std::vector<tagPOINTF> points;
        for (size_t k = first; k < m_arrChars.size(); ++k)
            points.insert(points.end(), m_arrChars[k]->points.begin(), m_arrChars[k]->points.end());
        Gdiplus::RectF r;
        GetArrayRectF(points, r);
        if (!points.empty()) {
            const int align = parFonts.nAlign;
            const double ax = r.X + (align == 1 ? r.Width / 2.0 : align == 2 ? r.Width : 0.0);
            const double ay = r.Y - (align == 1 ? r.Height / 2.0 : align == 2 ? r.Height : 0.0);
            if (!haveRef) {
                haveRef = true;
                refX = ax;
                refY = ay;
            } else if (!attached) {
                const float dx = vertical ? 0.0f : static_cast<float>(refX - ax);
                const float dy = vertical ? static_cast<float>(refY - ay) : 0.0f;
                for (size_t k = first; k < m_arrChars.size(); ++k)
                    for (tagPOINTF& p : m_arrChars[k]->points) p = {p.x + dx, p.y + dy};
            }
        }
        if (vertical) {
            columnX = (points.empty() ? columnX + Finite(h * parFonts.dWidthRatio / 100.0) : r.X + r.Width) + lineSpace;
        } else {
            lineY -= h + lineSpace;
        }
    }
    // The first line's anchor goes to the text's position; a text on an arc
    // stays where the arc put it.
    if (haveRef && !attached) {
        const float dx = static_cast<float>(x0 - refX), dy = static_cast<float>(y0 - refY);
        for (FONTSCHAR* ch : m_arrChars)
            for (tagPOINTF& p : ch->points) p = {p.x + dx, p.y + dy};
    }
    InvalidateGeometry();
    return true;
}
