// The modules of a two-dimensional code: the module matrix of a build turned
// into outline points of the bar record, as one point, rectangle or circle
// per module or as the traced outline of every connected dark area, and the
// logo area kept free in the middle.
//
// The matrix is indexed [column][row] with row 0 at the top. The per-module
// styles put the module of column c and row r at (c p, -r p), its top-left
// corner (p the module pitch), so the symbol extends down and to the right
// of the origin. The traced outlines run on the module lattice, whose point
// (x, y) lies at (x p, (rows - y) p).
#include <algorithm>
#include <cmath>

#include "morvik/text/fonts.h"
#include "morvik/text/mycodebar.h"

namespace {

constexpr uint8_t kStart = 0;
constexpr uint8_t kLine = 1;
constexpr uint8_t kBezier = 3;

// The four headings of the tracer in (column, row) units.
constexpr int kStepX[4] = {1, 0, -1, 0};
constexpr int kStepY[4] = {0, -1, 0, 1};

void Append(FONTSCHAR* rec, double x, double y, uint8_t type) {
    rec->points.push_back({static_cast<float>(x), static_cast<float>(y)});
    rec->types.push_back(type);
}

}  // namespace

// ---- the matrix ---------------------------------------------------------------------------------

void CFonts::FreeCodeBarSquare() {
    m_nModuleCols = 0;
    m_nModuleRows = 0;
    m_modules.clear();
    m_vEdges.clear();
    m_hEdges.clear();
}

void CFonts::LoadModuleMatrix(int cols, int rows, const std::vector<uint8_t>& cells) {
    FreeCodeBarSquare();
    // A matrix past a few million modules is no code any symbology makes.
    constexpr int kMaxSide = 4096;
    if (cols <= 0 || rows <= 0 || cols > kMaxSide || rows > kMaxSide) return;
    const size_t n = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    m_nModuleCols = cols;
    m_nModuleRows = rows;
    m_modules.assign(n, 0);
    for (size_t i = 0; i < n && i < cells.size(); ++i) m_modules[i] = cells[i] != 0 ? 1 : 0;
    m_vEdges.assign(static_cast<size_t>(cols + 1) * static_cast<size_t>(rows), 0);
    m_hEdges.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows + 1), 0);
}

uint8_t CFonts::ModuleAt(int c, int r) const {
    if (c < 0 || r < 0 || c >= m_nModuleCols || r >= m_nModuleRows) return 0;
    return m_modules[static_cast<size_t>(c) * static_cast<size_t>(m_nModuleRows) + static_cast<size_t>(r)];
}

// ---- one point, rectangle or circle per module ------------------------------------------------

void CFonts::GenOneRect(FONTSCHAR* rec, float x, float y, float w, float h) {
    if (rec == nullptr) return;
    Append(rec, x, y, kStart);
    Append(rec, x + w, y, kLine);
    Append(rec, x + w, y - h, kLine);
    Append(rec, x, y - h, kLine);
    Append(rec, x, y, kLine);
}

void CFonts::GenOneCircle(FONTSCHAR* rec, float x, float y, float w, float h) {
    if (rec == nullptr) return;
    // Four cubic quarters of the ellipse inscribed in the rectangle, from
    // its rightmost point round: 13 points, as a whole-ellipse arc has them.
    constexpr double k = 0.5522847498307936;  // 4/3 (sqrt 2 - 1)
    const double cx = x + w / 2.0, cy = y - h / 2.0, rx = w / 2.0, ry = h / 2.0;
    const double ux[4] = {1, 0, -1, 0}, uy[4] = {0, 1, 0, -1};
    Append(rec, cx + rx, cy, kStart);
    for (int q = 0; q < 4; ++q) {
        const int n = (q + 1) % 4;
        const double ax = ux[q], ay = uy[q], bx = ux[n], by = uy[n];
        Append(rec, cx + rx * (ax + k * bx), cy + ry * (ay + k * by), kBezier);
        Append(rec, cx + rx * (bx + k * ax), cy + ry * (by + k * ay), kBezier);
        Append(rec, cx + rx * bx, cy + ry * by, kBezier);
    }
}

namespace {

enum class ModuleStyle { Point, Rect, Circle };

}  // namespace

// The walk of the three per-module styles. With bInverse the light cells
// are drawn, and a ring of one module round the symbol keeps it readable.
static void WalkModules(CFonts& text, FONTSCHAR* rec, ModuleStyle style) {
    const CODEBAR_PAR& par = text.parCodebar;
    const int cols = text.GetModuleCols(), rows = text.GetModuleRows();
    const double p = par.fModuleWidth;
    const float w = static_cast<float>(par.nModuleWidthPct * p / 100.0);
    const float h = static_cast<float>(par.nModuleHeightPct * p / 100.0);
    auto module = [&](double x, double y) {
        if (style == ModuleStyle::Point) {
            Append(rec, x, y, kStart);
        } else if (style == ModuleStyle::Rect) {
            CFonts::GenOneRect(rec, static_cast<float>(x), static_cast<float>(y), w, h);
        } else {
            CFonts::GenOneCircle(rec, static_cast<float>(x), static_cast<float>(y), w, h);
        }
    };
    const bool inverse = par.bInverse != 0;
    for (int c = 0; c < cols; ++c) {
        if (inverse && c == 0)
            for (int j = -1; j <= rows; ++j) module(-p, -j * p);
        for (int r = 0; r < rows; ++r) {
            const bool dark = text.ModuleAt(c, r) != 0;
            if (dark != inverse) module(c * p, -r * p);
        }
        if (inverse) {
            module(c * p, p);
            module(c * p, -rows * p);
        }
        if (inverse && c == cols - 1)
            for (int j = -1; j <= rows; ++j) module(cols * p, -j * p);
    }
}

// Each per-module style starts the bar record afresh and frees the matrix.
static void BuildModules(CFonts& text, ModuleStyle style) {
    std::vector<FONTSCHAR*>& chars = text.GetChars();
    if (!chars.empty() && chars[0] != nullptr) {
        chars[0]->points.clear();
        chars[0]->types.clear();
        WalkModules(text, chars[0], style);
    }
    text.FreeCodeBarSquare();
}

void CFonts::GenPointMatri() { BuildModules(*this, ModuleStyle::Point); }
void CFonts::GenRectMatri() { BuildModules(*this, ModuleStyle::Rect); }
void CFonts::GenCircleMatri() { BuildModules(*this, ModuleStyle::Circle); }

// ---- traced outlines ------------------------------------------------------------------------------

int CFonts::CanCrawl(POINT from, POINT to) {
    const int cols = m_nModuleCols, rows = m_nModuleRows;
    if (to.x < 0 || to.y < 0 || to.x > cols || to.y > rows) return 0;
    if (from.x < 0 || from.y < 0 || from.x > cols || from.y > rows) return 0;
    uint8_t* edge = nullptr;
    if (from.x == to.x && std::abs(from.y - to.y) == 1) {
        const int y = std::min(from.y, to.y);
        edge = &m_vEdges[static_cast<size_t>(to.x) * static_cast<size_t>(rows) + static_cast<size_t>(y)];
    } else if (from.y == to.y && std::abs(from.x - to.x) == 1) {
        const int x = std::min(from.x, to.x);
        edge = &m_hEdges[static_cast<size_t>(x) * static_cast<size_t>(rows + 1) + static_cast<size_t>(to.y)];
    }
    if (edge == nullptr || *edge != 2) return 0;
    *edge = 0;
    return 1;
}

void CFonts::Gen2DPath() {
    FONTSCHAR* rec = m_arrChars.empty() ? nullptr : m_arrChars[0];
    const int cols = m_nModuleCols, rows = m_nModuleRows;
    if (rec == nullptr || cols <= 0 || rows <= 0) {
        FreeCodeBarSquare();
        return;
    }
    const size_t R = static_cast<size_t>(rows);
    const double p = parCodebar.fModuleWidth;
    // PDF417 rows are as tall as the bar height shares them out.
    const double pv = parCodebar.nCodeType == CMyCodebar::kPdf417 ? parCodebar.fBarHeight / rows : p;
    auto cell = [&](int c, int r) -> uint8_t& {
        return m_modules[static_cast<size_t>(c) * R + static_cast<size_t>(r)];
    };
    auto vEdge = [&](int x, int r) -> uint8_t& {
        return m_vEdges[static_cast<size_t>(x) * R + static_cast<size_t>(r)];
    };
    auto hEdge = [&](int c, int y) -> uint8_t& {
        return m_hEdges[static_cast<size_t>(c) * (R + 1) + static_cast<size_t>(y)];
    };
    auto emit = [&](POINT q, uint8_t type) { Append(rec, q.x * p, (rows - q.y) * pv, type); };

    std::vector<POINT> area, todo;
    size_t seed = 0;
    while (true) {
        // The next area: every cell before the last seed is clear already.
        while (seed < m_modules.size() && m_modules[seed] == 0) ++seed;
        if (seed == m_modules.size()) break;
        const POINT s{static_cast<LONG>(seed / R), static_cast<LONG>(seed % R)};

        // Its cells (4-neighbourhood), marked 2, and their extent.
        area.clear();
        todo.assign(1, s);
        cell(s.x, s.y) = 2;
        int cMin = s.x, cMax = s.x, rMin = s.y, rMax = s.y;
        while (!todo.empty()) {
            const POINT q = todo.back();
            todo.pop_back();
            area.push_back(q);
            cMin = std::min<int>(cMin, q.x), cMax = std::max<int>(cMax, q.x);
            rMin = std::min<int>(rMin, q.y), rMax = std::max<int>(rMax, q.y);
            for (int t = 0; t < 4; ++t) {
                const int c = q.x + kStepX[t], r = q.y + kStepY[t];
                if (c < 0 || r < 0 || c >= cols || r >= rows || cell(c, r) != 1) continue;
                cell(c, r) = 2;
                todo.push_back({c, r});
            }
        }

        // Its boundary edges.
        for (const POINT& q : area) {
            const int c = q.x, r = q.y;
            if (c == 0 || cell(c - 1, r) == 0) vEdge(c, r) = 2;
            if (c == cols - 1 || cell(c + 1, r) == 0) vEdge(c + 1, r) = 2;
            if (r == 0 || cell(c, r - 1) == 0) hEdge(c, r) = 2;
            if (r == rows - 1 || cell(c, r + 1) == 0) hEdge(c, r + 1) = 2;
        }

        // Its contours: the outer one from the seed's top-left corner, then
        // one from each horizontal edge still unused (the holes), until no
        // edge of the area is left.
        POINT start = s;
        bool outer = true;
        while (true) {
            if (!outer) {
                bool found = false;
                for (int c = cMin; c <= cMax && !found; ++c)
                    for (int y = rMin; y <= rMax + 1 && !found; ++y)
                        if (hEdge(c, y) == 2) {
                            start = {c, y};
                            found = true;
                        }
                if (!found) break;
            }
            outer = false;
            const size_t mark = rec->points.size();
            emit(start, kStart);
            POINT at = start;
            int d = 3;
            bool closed = false;
            while (!closed) {
                bool stepped = false;
                for (const int t : {(d + 1) % 4, d, (d + 3) % 4}) {
                    const POINT next{at.x + kStepX[t], at.y + kStepY[t]};
                    if (!CanCrawl(at, next)) continue;
                    // The contour closes only through an edge of its own:
                    // passing its start at a pinch goes on round.
                    if (next.x == start.x && next.y == start.y) {
                        closed = true;
                    } else {
                        emit(next, kLine);
                    }
                    at = next;
                    d = t;
                    stepped = true;
                    break;
                }
                if (!stepped) break;
            }
            if (closed) {
                emit(start, kLine);
            } else {
                // A dead end (not met on a consistent edge grid): the open
                // piece is dropped, the edges it used stay used.
                rec->points.resize(mark);
                rec->types.resize(mark);
            }
        }
        for (const POINT& q : area) cell(q.x, q.y) = 0;
    }
    FreeCodeBarSquare();
}

// ---- the logo area -----------------------------------------------------------------------------------

void CFonts::AndLogoPic(bool value, bool square) {
    const int cols = m_nModuleCols, rows = m_nModuleRows;
    const double ratio = parCodebar.fLogoRatio;
    if (!(ratio > 0) || cols <= 0 || rows <= 0) return;
    const uint8_t v = value ? 1 : 0;
    // The area is clipped to the matrix: a ratio of 1 or more clears all.
    const double big = 4.0 * std::max(cols, rows);
    // w is about ratio x n, made odd in an odd matrix; the area runs from x0
    // to x0 + w inclusive, one cell more than w, so that a logo drawn at the
    // asked size never covers a module that stays.
    auto span = [&](int n) {
        int w = static_cast<int>(std::min(n * ratio + 0.5, big));
        if (n % 2 != 0 && w % 2 == 0) --w;
        return w;
    };
    if (square) {
        const int w = span(cols), h = span(rows);
        const int x0 = (cols - w) / 2, y0 = (rows - h) / 2;
        for (int c = std::max(0, x0); c <= std::min(cols - 1, x0 + w); ++c)
            for (int r = std::max(0, y0); r <= std::min(rows - 1, y0 + h); ++r)
                m_modules[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(r)] = v;
        return;
    }
    const int d = span(cols);
    const double cx = cols / 2, cy = rows / 2, reach = d / 2;
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r)
            if (std::hypot(c - cx, r - cy) < reach)
                m_modules[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(r)] = v;
}
