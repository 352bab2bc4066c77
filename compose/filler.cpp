// The scan-line hatch engine and the line and concentric fills.
#include "morvik/compose/filler.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <system_error>
#include <utility>

#include "morvik/afx/afxmt.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/host/host_services.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"

namespace {

// Coordinates beyond this many millimetres are not drawing coordinates.
constexpr double kMaxCoordMm = 1e9;

RunLog* Log() { return RunLog::Instance(nullptr); }

// Hatch units of a value taken as a float, as the engine's inputs are.
int64_t Units(double v) { return HatchUnits(static_cast<double>(static_cast<float>(v))); }

float ToMm(int64_t units) { return static_cast<float>(static_cast<double>(units) / kHatchUnitsPerMm); }

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }  // a >= 0, b > 0

unsigned char PenByte(int32_t pen) { return static_cast<unsigned char>(std::clamp(pen, 0, 255)); }

bool ToClipperPath(const std::vector<tagPOINTF>& pts, ClipperLib::Path& out) {
    out.clear();
    out.reserve(pts.size());
    for (const tagPOINTF& p : pts) {
        ClipperLib::IntPoint ip;
        if (!ToClipperCoord(p.x, ip.X) || !ToClipperCoord(p.y, ip.Y)) {
            out.clear();
            return false;
        }
        out.push_back(ip);
    }
    return !out.empty();
}

std::vector<tagPOINTF> FromClipperPath(const ClipperLib::Path& path) {
    std::vector<tagPOINTF> pts;
    pts.reserve(path.size());
    for (const ClipperLib::IntPoint& ip : path) {
        pts.push_back({static_cast<float>(static_cast<double>(ip.X) / kClipperScale),
                       static_cast<float>(static_cast<double>(ip.Y) / kClipperScale)});
    }
    return pts;
}

// One Clipper offset of closed polygons. Miter limit 2 and arc tolerance
// 0.25 are Clipper's defaults and the fills' settings. A delta that is not a
// number offsets by nothing; a huge one is held where the coordinates stay in
// Clipper's range.
ClipperLib::Paths OffsetPaths(const ClipperLib::Paths& in, double delta, ClipperLib::JoinType join) {
    if (!std::isfinite(delta)) delta = 0.0;
    const double limit = kMaxCoordMm * kClipperScale;
    delta = std::clamp(delta, -limit, limit);
    ClipperLib::Paths out;
    try {
        ClipperLib::ClipperOffset offset(2.0, 0.25);
        offset.AddPaths(in, join, ClipperLib::etClosedPolygon);
        offset.Execute(out, delta);
    } catch (...) {
        out.clear();
    }
    return out;
}

double SegmentDistance(const ClipperLib::IntPoint& p, const ClipperLib::IntPoint& a, const ClipperLib::IntPoint& b) {
    const double ax = static_cast<double>(a.X), ay = static_cast<double>(a.Y);
    const double dx = static_cast<double>(b.X) - ax, dy = static_cast<double>(b.Y) - ay;
    const double px = static_cast<double>(p.X) - ax, py = static_cast<double>(p.Y) - ay;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - t * dx, py - t * dy);
}

// Keeps the points of chain[from..to] that the polyline needs to stay within
// tolerance of every dropped point (Douglas-Peucker, without recursion).
void MarkNeeded(const ClipperLib::Path& chain, size_t from, size_t to, double tolerance, std::vector<char>& keep) {
    std::vector<std::pair<size_t, size_t>> todo{{from, to}};
    while (!todo.empty()) {
        const auto [a, b] = todo.back();
        todo.pop_back();
        if (b <= a + 1) continue;
        double worst = -1.0;
        size_t at = a;
        for (size_t i = a + 1; i < b; ++i) {
            const double d = SegmentDistance(chain[i], chain[a], chain[b]);
            if (d > worst) worst = d, at = i;
        }
        if (worst <= tolerance) continue;
        keep[at] = 1;
        todo.emplace_back(a, at);
        todo.emplace_back(at, b);
    }
}

// A closed ring with the points dropped that lie within tolerance of the
// ring without them; the ring keeps its orientation.
ClipperLib::Path SimplifyRing(const ClipperLib::Path& ring, double tolerance) {
    const size_t n = ring.size();
    if (n < 5 || !(tolerance > 0)) return ring;
    // Two anchors far apart split the ring into two open chains.
    size_t far = 0;
    double best = -1.0;
    for (size_t i = 1; i < n; ++i) {
        const double d = std::hypot(static_cast<double>(ring[i].X - ring[0].X), static_cast<double>(ring[i].Y - ring[0].Y));
        if (d > best) best = d, far = i;
    }
    ClipperLib::Path chain(ring);
    chain.push_back(ring[0]);
    std::vector<char> keep(n + 1, 0);
    keep[0] = keep[far] = keep[n] = 1;
    MarkNeeded(chain, 0, far, tolerance, keep);
    MarkNeeded(chain, far, n, tolerance, keep);
    ClipperLib::Path out;
    for (size_t i = 0; i < n; ++i)
        if (keep[i] != 0) out.push_back(ring[i]);
    return out.size() >= 3 ? out : ring;
}

ClipperLib::Paths SimplifyRings(const ClipperLib::Paths& rings, double tolerance) {
    ClipperLib::Paths out;
    out.reserve(rings.size());
    for (const ClipperLib::Path& r : rings) out.push_back(SimplifyRing(r, tolerance));
    return out;
}

void AddClosedFigure(Gdiplus::GraphicsPath* path, const std::vector<tagPOINTF>& pts) {
    if (path == nullptr || pts.size() < 2) return;
    std::vector<Gdiplus::PointF> fp;
    fp.reserve(pts.size());
    for (const tagPOINTF& p : pts) fp.emplace_back(p.x, p.y);
    path->StartFigure();
    path->AddLines(fp.data(), static_cast<INT>(fp.size()));
    path->CloseFigure();
}

// Shapes that a basic-shape listing created for the caller, freed on exit.
struct CreatedShapes {
    std::vector<CBaseShape*> list;
    ~CreatedShapes() {
        for (CBaseShape* s : list) delete s;
    }
};

void RemoveFillProducts(std::vector<CBaseShape*>& shapes) {
    shapes.erase(std::remove_if(shapes.begin(), shapes.end(),
                                [](CBaseShape* s) { return s == nullptr || IsFillProductCaption(s->GetCaption()); }),
                 shapes.end());
}

std::atomic<uint8_t> g_slowFillAsk{1};

}  // namespace

int64_t HatchUnits(double v) {
    if (!std::isfinite(v)) return 0;
    v = std::clamp(v, -kMaxCoordMm, kMaxCoordMm);
    const double x = v * 100000.0;
    const double r = x > 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5);
    return static_cast<int64_t>(r) * 100;
}

bool ToClipperCoord(double v, ClipperLib::cInt& out) {
    if (!std::isfinite(v) || std::fabs(v) > kMaxCoordMm) return false;
    const double s = v * kClipperScale;
    out = static_cast<ClipperLib::cInt>(s >= 0 ? std::floor(s + 0.5) : std::ceil(s - 0.5));
    return true;
}

bool IsFillProductCaption(const CString& caption) {
    return caption.CompareNoCase(L"edge") == 0 || caption.CompareNoCase(L"filler") == 0;
}

// ===========================================================================
// CShapeFiller
// ===========================================================================

CShapeFiller::CShapeFiller() { m_polyBuf.reserve(100); }

CShapeFiller::~CShapeFiller() = default;

void CShapeFiller::AddContour(std::vector<tagPOINTF> outline) {
    if (outline.size() < 2) return;
    for (const tagPOINTF& p : outline) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::fabs(p.x) > kMaxCoordMm ||
            std::fabs(p.y) > kMaxCoordMm) {
            return;
        }
    }
    m_contours.push_back(std::move(outline));
}

bool CShapeFiller::Init() {
    m_spacing = m_pPar != nullptr ? Units(m_pPar->fLineSpacing) : 0;
    if (m_spacing < kMinSpacingUnits) return false;
    // A direction that is not a number has no hatch.
    if (!std::isfinite(static_cast<float>(m_pPar->fAngle))) return false;
    m_bSeparate = (m_pPar->nFillType == 3 || m_pPar->nFillType == 4) ? 1 : 0;
    m_resultPath.Reset();
    m_outlinePath.Reset();
    std::vector<Gdiplus::PointF> pts;
    for (const std::vector<tagPOINTF>& c : m_contours) {
        pts.clear();
        for (const tagPOINTF& p : c) pts.emplace_back(p.x, p.y);
        m_outlinePath.StartFigure();
        m_outlinePath.AddLines(pts.data(), static_cast<INT>(pts.size()));
    }
    Gdiplus::RectF b;
    m_outlinePath.GetBounds(&b);
    m_centre = Gdiplus::PointF((b.GetLeft() + b.GetRight()) / 2, (b.GetTop() + b.GetBottom()) / 2);
    return true;
}

void CShapeFiller::Clear() {
    std::vector<std::vector<int64_t>>().swap(m_scanLines);
    std::vector<BorderGap>().swap(m_gaps);
    std::vector<Gdiplus::PointF>().swap(m_polyBuf);
    m_polyBuf.reserve(100);
    m_minY = 0;
    m_maxY = 0;
    m_sideCount = 0;
    m_centre = Gdiplus::PointF();
    m_spacing = 0;
}

bool CShapeFiller::Reset() {
    const int64_t spacing = m_pPar != nullptr ? Units(m_pPar->fLineSpacing) : 0;
    const bool ok = spacing >= kMinSpacingUnits;
    if (ok) m_bSeparate = (m_pPar->nFillType == 3 || m_pPar->nFillType == 4) ? 1 : 0;
    m_resultPath.Reset();
    m_outlinePath.Reset();
    std::vector<std::vector<tagPOINTF>>().swap(m_contours);
    Clear();
    return ok;
}

Gdiplus::GraphicsPath* CShapeFiller::LineFill() {
    if (m_contours.empty()) {
        Log()->Write(L"CShapeFiller::LineFill size=0");
        return nullptr;
    }
    if (!Init()) {
        Log()->Write(L"CShapeFiller::LineFill !Init");
        return nullptr;
    }
    // Turn the outlines so that the hatch direction is horizontal.
    const float angle = static_cast<float>(m_pPar->fAngle);
    if (angle != 0.0f) {
        Gdiplus::Matrix m;
        m.RotateAt(-angle, m_centre, Gdiplus::MatrixOrderPrepend);
        m_outlinePath.Transform(&m);
    }
    if (PlaceScanLines()) {
        const std::vector<Gdiplus::PointF>& pts = m_outlinePath.PathPoints();
        Gdiplus::GraphicsPathIterator it(&m_outlinePath);
        INT start = 0;
        INT end = 0;
        BOOL closed = FALSE;
        std::vector<FixPt> fig;
        while (it.NextSubpath(&start, &end, &closed) > 0) {
            fig.clear();
            for (INT i = start; i <= end; ++i) fig.push_back({Units(pts[i].X), Units(pts[i].Y)});
            WalkFigure(fig);
        }
        // Crossings were collected edge by edge; every scan line is then
        // one ascending list.
        for (std::vector<int64_t>& line : m_scanLines) std::sort(line.begin(), line.end());
        BuildFigures();
    }
    if (angle != 0.0f) {
        Gdiplus::Matrix m;
        m.RotateAt(angle, m_centre, Gdiplus::MatrixOrderPrepend);
        m_resultPath.Transform(&m);
    }
    return &m_resultPath;
}

// ---- scan lines ------------------------------------------------------------

bool CShapeFiller::PlaceScanLines() {
    Gdiplus::RectF b;
    m_outlinePath.GetBounds(&b);
    const int64_t top = Units(b.GetTop());
    const int64_t bottom = Units(b.GetBottom());
    const int64_t height = Units(b.Height);
    int64_t side = 0;
    if (m_pPar->bArrangeEqually == 0) {
        if (m_pPar->fStartPreserve > 0) {
            m_minY = top + Units(m_pPar->fStartPreserve);
        } else {
            // Centre the lines in the height; a line never sits on the edge.
            int64_t half = (height % m_spacing) / 2;
            if (half == 0) half = m_spacing;
            m_minY = top + half;
        }
        m_maxY = m_pPar->fEndPreserve > 0 ? bottom - Units(m_pPar->fEndPreserve) : bottom;
        if (m_maxY < m_minY) {
            Log()->Write(L"CFilledShape DoFillLiner m_maxY<m_minY");
            return false;
        }
        side = (m_maxY - m_minY) / m_spacing;
    } else {
        const int64_t count = height / m_spacing;
        if (count < 1) {
            Log()->Write(L"CFilledShape DoFillLiner count <= 0");
            return false;
        }
        // Spread the lines evenly over the height.
        m_spacing = height / count;
        m_minY = top + m_spacing;
        m_maxY = bottom - m_spacing / 2;
        if (m_maxY < m_minY) {
            Log()->Write(L"CFilledShape DoFillLiner m_maxY<m_minY");
            return false;
        }
        side = count - 1;
    }
    if (side == 0) {
        Log()->Write(L"CFilledShape DoFillLiner m_sideCount=0");
        return false;
    }
    if (side > kMaxScanLines) {
        Log()->WriteFormat(L"CShapeFiller::LineFill too many scan lines: %lld", static_cast<long long>(side));
        return false;
    }
    m_sideCount = side;
    m_scanLines.assign(static_cast<size_t>(side + 1), {});
    if (m_bSeparate == 0) m_gaps.assign(static_cast<size_t>(side + 1), {});
    return true;
}

bool CShapeFiller::SamePoint(const FixPt& a, const FixPt& b) {
    return std::llabs(a.x - b.x) < kSamePointUnits && std::llabs(a.y - b.y) < kSamePointUnits;
}

bool CShapeFiller::OnScanLine(int64_t y) const {
    const int64_t last = std::min(m_maxY, LineY(m_sideCount));
    return y >= m_minY && y <= last && (y - m_minY) % m_spacing == 0;
}

void CShapeFiller::WalkFigure(std::vector<FixPt>& pts) {
    // Drop the closing duplicates of the first point, keeping 3 points.
    while (pts.size() > 3 && std::llabs(pts.back().x - pts.front().x) <= kSamePointUnits &&
           std::llabs(pts.back().y - pts.front().y) <= kSamePointUnits) {
        pts.pop_back();
    }
    // Merge neighbours that are the same point.
    size_t kept = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        if (kept > 0 && SamePoint(pts[i], pts[kept - 1])) continue;
        pts[kept++] = pts[i];
    }
    pts.resize(kept);
    const size_t n = pts.size();
    if (n < 2) return;

    const bool borders = m_bSeparate == 0;
    bool started = false;
    Border head;    // from the first point to the first crossing
    Border border;  // the running border, from the last crossing on
    int64_t borderLine = 0;
    int64_t firstLine = 0;
    if (borders && !OnScanLine(pts[0].y)) head.push_back(pts[0]);

    for (size_t i = 0; i < n; ++i) {
        const FixPt& a = pts[i];
        const FixPt& b = pts[(i + 1) % n];
        const FixPt& prev = pts[(i + n - 1) % n];
        const FixPt& after = pts[(i + 2) % n];
        if (a.y != b.y) {
            // The lines an edge crosses form a closed range of heights. A
            // vertex that the outline passes monotonically belongs to one of
            // its two edges only (the later edge going down, the earlier one
            // going up), so it counts once; a local top or bottom counts
            // twice. Every line thus holds an even number of crossings.
            const bool down = b.y < a.y;
            int64_t lo = down ? b.y : a.y;
            int64_t hi = down ? a.y : b.y;
            if (down && a.y <= prev.y) hi -= 1;
            if (!down && b.y <= after.y) hi -= 1;
            lo = std::max(lo, m_minY);
            hi = std::min(hi, m_maxY);
            if (lo <= hi) {
                const int64_t kLo = CeilDiv(lo - m_minY, m_spacing);
                const int64_t kHi = std::min((hi - m_minY) / m_spacing, m_sideCount);
                const double slope = static_cast<double>(b.x - a.x) / static_cast<double>(b.y - a.y);
                for (int64_t j = 0; j <= kHi - kLo; ++j) {
                    const int64_t k = down ? kHi - j : kLo + j;
                    const int64_t y = LineY(k);
                    const int64_t x = static_cast<int64_t>(
                        std::trunc(static_cast<double>(a.x) + static_cast<double>(y - a.y) * slope));
                    m_scanLines[static_cast<size_t>(k)].push_back(x);
                    if (borders) AddCrossing(k, x, started, head, border, borderLine, firstLine);
                }
            }
        }
        // The edge's end joins the running border unless it is a crossing.
        if (borders && i + 1 < n && !OnScanLine(b.y)) (started ? border : head).push_back(b);
    }
    if (borders && started) {
        // Wrap around: the last border runs on through the figure's start to
        // its first crossing.
        border.insert(border.end(), head.begin(), head.end());
        StoreBorder(std::move(border), borderLine, firstLine);
    }
}

void CShapeFiller::AddCrossing(int64_t k, int64_t x, bool& started, Border& head, Border& border, int64_t& borderLine,
                               int64_t& firstLine) {
    const FixPt c{x, LineY(k)};
    if (!started) {
        started = true;
        head.push_back(c);
        firstLine = k;
    } else {
        border.push_back(c);
        StoreBorder(std::move(border), borderLine, k);
    }
    border.assign(1, c);
    borderLine = k;
}

void CShapeFiller::StoreBorder(Border&& p, int64_t lineA, int64_t lineB) {
    const int64_t lower = std::min(lineA, lineB);
    if (p.size() < 2 || lower >= m_sideCount || lower < 0) return;
    if (p.size() == 3) {
        if (SamePoint(p[1], p[0]) || SamePoint(p[1], p[2])) p.erase(p.begin() + 1);
    } else if (p.size() > 3) {
        if (SamePoint(p[1], p[0])) p.erase(p.begin() + 1);
        if (SamePoint(p[p.size() - 2], p.back())) p.erase(p.end() - 2);
    }
    // Every border runs upward: first point on the lower line.
    if (p.back().y < p.front().y) std::reverse(p.begin(), p.end());
    m_gaps[static_cast<size_t>(lower)].borders.push_back(std::move(p));
}

// ---- runs and figures ------------------------------------------------------

void CShapeFiller::PairRuns(std::vector<RunLine>& runs) {
    runs.assign(m_scanLines.size(), {});
    const int64_t inset = Units(m_pPar->fInnerSpacing);
    const bool shrink = std::llabs(inset) >= kSamePointUnits;
    for (size_t k = 0; k < m_scanLines.size(); ++k) {
        const std::vector<int64_t>& c = m_scanLines[k];
        RunLine& line = runs[k];
        // An unmatched last crossing (only degenerate input has one) is
        // left out, so every line holds whole runs.
        for (size_t i = 0; i + 1 < c.size(); i += 2) {
            int64_t s = c[i];
            int64_t e = c[i + 1];
            if (shrink) {
                s += inset;
                e -= inset;
                if (e <= s) continue;
            }
            line.starts.push_back(s);
            line.ends.push_back(e);
        }
        line.next.resize(line.starts.size() + 1);
        std::iota(line.next.begin(), line.next.end(), 0u);
        line.remaining = line.starts.size();
    }
}

void CShapeFiller::BuildFigures() {
    m_resultPath.Reset();
    std::vector<RunLine> runs;
    PairRuns(runs);
    std::vector<std::vector<int64_t>>().swap(m_scanLines);
    if (m_bSeparate != 0) {
        EmitSeparate(runs, m_pPar->bQuickFill != 0);
    } else if (m_pPar->nFillType == 2) {
        IndexBorders();
        EmitLinkedByLine(runs);
    } else {
        IndexBorders();
        EmitLinkedByRegion(runs);
    }
}

void CShapeFiller::AddSegment(int64_t x1, int64_t x2, int64_t k) {
    const float y = ToMm(LineY(k));
    m_resultPath.StartFigure();
    m_resultPath.AddLine(Gdiplus::PointF(ToMm(x1), y), Gdiplus::PointF(ToMm(x2), y));
}

void CShapeFiller::EmitSeparate(std::vector<RunLine>& runs, bool quick) {
    const bool alternate = m_pPar->nFillType == 4;
    if (!quick) {
        bool forward = true;
        for (size_t k = 0; k < runs.size(); ++k) {
            const RunLine& line = runs[k];
            const size_t n = line.starts.size();
            if (n == 0) continue;
            if (!alternate || forward) {
                for (size_t i = 0; i < n; ++i) AddSegment(line.starts[i], line.ends[i], static_cast<int64_t>(k));
            } else {
                for (size_t i = n; i-- > 0;) AddSegment(line.ends[i], line.starts[i], static_cast<int64_t>(k));
            }
            forward = !forward;
        }
        return;
    }
    // Region by region: one run of every line per pass.
    std::vector<size_t> pos(runs.size(), 0);
    bool emitted = true;
    while (emitted) {
        emitted = false;
        for (size_t k = 0; k < runs.size(); ++k) {
            const RunLine& line = runs[k];
            if (pos[k] >= line.starts.size()) continue;
            const size_t i = pos[k]++;
            const bool forward = !alternate || k % 2 == 0;
            if (forward) {
                AddSegment(line.starts[i], line.ends[i], static_cast<int64_t>(k));
            } else {
                AddSegment(line.ends[i], line.starts[i], static_cast<int64_t>(k));
            }
            emitted = true;
        }
    }
}

size_t CShapeFiller::NextLive(std::vector<uint32_t>& next, size_t i) {
    while (next[i] != i) {
        next[i] = next[next[i]];
        i = next[i];
    }
    return i;
}

void CShapeFiller::IndexBorders() {
    for (BorderGap& gap : m_gaps) {
        const size_t n = gap.borders.size();
        gap.byX.resize(n);
        std::iota(gap.byX.begin(), gap.byX.end(), 0u);
        std::sort(gap.byX.begin(), gap.byX.end(), [&gap](uint32_t a, uint32_t b) {
            const int64_t xa = gap.borders[a].front().x;
            const int64_t xb = gap.borders[b].front().x;
            return xa != xb ? xa < xb : a < b;
        });
        for (std::vector<uint32_t>& next : gap.next) {
            next.resize(n + 1);
            std::iota(next.begin(), next.end(), 0u);
        }
    }
}

int64_t CShapeFiller::FindBorder(int64_t k, const FixPt& from, RunLine* next, bool byStart, int64_t* run) {
    if (k < 0 || k >= m_sideCount || static_cast<size_t>(k) >= m_gaps.size()) return -1;
    BorderGap& gap = m_gaps[static_cast<size_t>(k)];
    std::vector<uint32_t>& skip = gap.next[byStart ? 1 : 0];
    auto drop = [&gap](size_t i) {
        for (std::vector<uint32_t>& n : gap.next) n[i] = static_cast<uint32_t>(i + 1);
    };
    const int64_t upper = LineY(k + 1);
    const auto first = std::lower_bound(gap.byX.begin(), gap.byX.end(), from.x - kSamePointUnits + 1,
                                        [&gap](uint32_t idx, int64_t x) { return gap.borders[idx].front().x < x; });
    for (size_t i = NextLive(skip, static_cast<size_t>(first - gap.byX.begin())); i < gap.byX.size();
         i = NextLive(skip, i + 1)) {
        const uint32_t idx = gap.byX[i];
        const Border& b = gap.borders[idx];
        if (b.front().x >= from.x + kSamePointUnits) break;
        if (!SamePoint(b.front(), from)) continue;
        // Only a border that climbs to the next line continues a hatch line.
        if (!SamePoint(b.back(), FixPt{b.back().x, upper})) {
            drop(i);
            continue;
        }
        int64_t r = -1;
        if (next != nullptr && (r = FindRun(*next, b.back().x, byStart)) < 0) {
            skip[i] = static_cast<uint32_t>(i + 1);
            continue;
        }
        if (run != nullptr) *run = r;
        drop(i);
        return idx;
    }
    return -1;
}

int64_t CShapeFiller::FindRun(RunLine& line, int64_t x, bool byStart) {
    const std::vector<int64_t>& v = byStart ? line.starts : line.ends;
    const auto it = std::lower_bound(v.begin(), v.end(), x - kSamePointUnits + 1);
    const size_t i = NextLive(line.next, static_cast<size_t>(it - v.begin()));
    return i < v.size() && v[i] < x + kSamePointUnits ? static_cast<int64_t>(i) : -1;
}

void CShapeFiller::KillRun(RunLine& line, size_t i) {
    if (line.next[i] != i) return;
    line.next[i] = static_cast<uint32_t>(i + 1);
    --line.remaining;
}

void CShapeFiller::PushPoint(int64_t x, int64_t y) { m_polyBuf.emplace_back(ToMm(x), ToMm(y)); }

void CShapeFiller::EmitBuffer() {
    if (m_polyBuf.size() >= 2) {
        m_resultPath.StartFigure();
        m_resultPath.AddLines(m_polyBuf.data(), static_cast<INT>(m_polyBuf.size()));
    }
    m_polyBuf.clear();
}

void CShapeFiller::EmitLinkedByLine(std::vector<RunLine>& runs) {
    // The buffer's last point in units (the float copy is not exact).
    FixPt last;
    bool arrived = false;
    FixPt arrival;
    bool forward = true;
    m_polyBuf.clear();
    for (size_t k = 0; k < runs.size(); ++k) {
        const RunLine& line = runs[k];
        const size_t n = line.starts.size();
        if (n == 0) continue;
        const int64_t y = LineY(static_cast<int64_t>(k));
        for (size_t p = 0; p < n; ++p) {
            const size_t i = forward ? p : n - 1 - p;
            const int64_t s = forward ? line.starts[i] : line.ends[i];
            const int64_t e = forward ? line.ends[i] : line.starts[i];
            if (p == 0) {
                if (!m_polyBuf.empty() && !(arrived && SamePoint(FixPt{s, y}, arrival))) EmitBuffer();
                if (m_polyBuf.empty()) PushPoint(s, y);
                PushPoint(e, y);
            } else {
                EmitBuffer();
                PushPoint(s, y);
                PushPoint(e, y);
            }
            last = FixPt{e, y};
        }
        // Follow the outline up to the next line from where this line ended.
        arrived = false;
        const int64_t next = static_cast<int64_t>(k) + 1;
        if (next <= m_sideCount) {
            const int64_t idx = FindBorder(static_cast<int64_t>(k), last, nullptr, false, nullptr);
            if (idx >= 0) {
                const Border& border = m_gaps[k].borders[static_cast<size_t>(idx)];
                m_polyBuf.pop_back();
                for (const FixPt& q : border) PushPoint(q.x, q.y);
                arrival = border.back();
                arrived = true;
            }
        }
        if (!arrived) EmitBuffer();
        forward = !forward;
    }
    EmitBuffer();
}

void CShapeFiller::EmitLinkedByRegion(std::vector<RunLine>& runs) {
    size_t lowest = 0;
    std::vector<FixPt> poly;
    for (;;) {
        // Lines only ever lose runs, so the lowest line with runs never
        // moves down.
        while (lowest < runs.size() && runs[lowest].remaining == 0) ++lowest;
        if (lowest >= runs.size()) break;
        int64_t k = static_cast<int64_t>(lowest);
        RunLine& first = runs[lowest];
        const size_t i0 = NextLive(first.next, 0);
        KillRun(first, i0);
        poly.clear();
        poly.push_back({first.starts[i0], LineY(k)});
        int64_t other = first.ends[i0];
        // The next line's run is met at its end, the one after at its start...
        bool byStart = false;
        for (;;) {
            bool advanced = false;
            if (k < m_sideCount) {
                // Of the borders that start here, the first that reaches a run
                // of the next line at the side the walk needs.
                RunLine& nextLine = runs[static_cast<size_t>(k + 1)];
                int64_t run = -1;
                const int64_t idx = FindBorder(k, FixPt{other, LineY(k)}, &nextLine, byStart, &run);
                if (idx >= 0) {
                    const Border& pc = m_gaps[static_cast<size_t>(k)].borders[static_cast<size_t>(idx)];
                    poly.insert(poly.end(), pc.begin(), pc.end());
                    ++k;
                    const size_t r = static_cast<size_t>(run);
                    KillRun(nextLine, r);
                    other = byStart ? nextLine.ends[r] : nextLine.starts[r];
                    byStart = !byStart;
                    advanced = true;
                }
            }
            if (!advanced) {
                poly.push_back({other, LineY(k)});
                break;
            }
        }
        m_polyBuf.clear();
        for (const FixPt& q : poly) PushPoint(q.x, q.y);
        EmitBuffer();
    }
}

// ===========================================================================
// CFillSite
// ===========================================================================

void CFillSite::AddFillChild(CBaseShape* child) {
    if (child == nullptr) return;
    CBaseShape* fill = GetFillShape();
    if (fill == nullptr) {
        delete child;
        return;
    }
    child->SetDocView(fill->GetShapeDoc(), fill->GetShapeView());
    child->SetParentBaseID(fill->GetBaseID());
    fill->GetChildren().push_back(child);
}

// ===========================================================================
// CFillRunner
// ===========================================================================

struct CFillRunner::BlockRecord {
    SHAPE_FILLER_PARAM* set = nullptr;
    std::vector<CBaseShape*> shapes;
    Gdiplus::GraphicsPath* path = nullptr;
    bool cross = false;
    // The "edge" children this block produced; the fill shape adopts them
    // in block order once the blocks have ended.
    std::vector<CBaseShape*> edges;
};

CFillRunner::CFillRunner(CFillSite& site) : m_site(site) {}

// Every worker is joined inside the call that started it, so nothing of a
// fill can still run here.
CFillRunner::~CFillRunner() = default;

bool CFillRunner::HasRunningThreads() const { return m_running.load() != 0; }

uint8_t CFillRunner::GetSlowFillAsk() { return g_slowFillAsk.load(std::memory_order_relaxed); }

void CFillRunner::SetSlowFillAsk(uint8_t ask) { g_slowFillAsk.store(ask, std::memory_order_relaxed); }

DWORD CFillRunner::Ticks() const { return m_tick ? m_tick() : GetTickCount(); }

std::thread CFillRunner::StartWorker(std::function<void()> work) {
    // A thread that cannot start leaves an empty handle: the caller then
    // does the work itself, so a fill never loses a block.
    try {
        return std::thread([this, work = std::move(work)] {
            ++m_running;
            work();
            --m_running;
        });
    } catch (const std::system_error&) {
        return std::thread();
    }
}

void CFillRunner::FinishWorker(std::thread& thread, const std::function<void()>& work) {
    if (thread.joinable()) {
        thread.join();
    } else {
        work();
    }
}

// ---- line fill -------------------------------------------------------------

void CFillRunner::DoFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes) {
    Gdiplus::GraphicsPath* hatch = m_site.GetHatchPath(set.nIndex);
    if (hatch == nullptr) {
        Log()->WriteFormat(L"CFilledShape DoFillLiner bad set index:%d", set.nIndex);
        return;
    }
    const bool cross = set.bCrossFill != 0;
    if (shapes.size() <= m_inlineLimit) {
        CShapeFiller filler;
        DoFillLinerMiddle(set, shapes, filler);
        Gdiplus::GraphicsPath* result = filler.LineFill();
        filler.Clear();
        if (result != nullptr) hatch->AddPath(result, FALSE);
        if (cross) {
            // The cross pass works on a copy turned by 90 degrees: the set
            // itself is never written.
            SHAPE_FILLER_PARAM turned(set);
            turned.fAngle += 90.0;
            filler.SetFillParam(&turned);
            result = filler.LineFill();
            filler.Clear();
            if (result != nullptr) hatch->AddPath(result, FALSE);
            filler.SetFillParam(&set);
        }
        filler.Reset();
        return;
    }

    // Large lists: one direction after the other, each on its own thread
    // that fills the list in 8 blocks. The block paths are merged here, in
    // block order, so the hatch never depends on timing.
    for (int direction = 0; direction < (cross ? 2 : 1); ++direction) {
        Gdiplus::GraphicsPath paths[kBlockCount];
        const std::function<void()> work = [&, direction] { DoBolckFillLiner(set, shapes, direction == 1, paths); };
        std::thread worker = StartWorker(work);
        FinishWorker(worker, work);
        for (Gdiplus::GraphicsPath& p : paths) hatch->AddPath(&p, FALSE);
    }
}

void CFillRunner::RunBlock(BlockRecord& rec) {
    CShapeFiller filler;
    auto fill = [&](SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>* edges) {
        PrepareOutlines(set, rec.shapes, filler, edges);
        Gdiplus::GraphicsPath* result = filler.LineFill();
        if (result != nullptr) rec.path->AddPath(result, FALSE);
        filler.Clear();
        filler.Reset();
    };
    if (rec.cross) {
        // Rings and border copies belong to the main direction only; the
        // turned angle lives in a copy, so the set is never written.
        SHAPE_FILLER_PARAM turned(*rec.set);
        turned.fAngle += 90.0;
        fill(turned, nullptr);
    } else {
        fill(*rec.set, &rec.edges);
    }
}

void CFillRunner::DoBolckFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, bool cross,
                                   Gdiplus::GraphicsPath* paths) {
    if (shapes.empty() || paths == nullptr) return;
    const size_t size = shapes.size();
    const int blocks = size < static_cast<size_t>(kBlockCount) ? 1 : kBlockCount;
    const size_t per = size / kBlockCount;
    const size_t rest = size % kBlockCount;
    BlockRecord recs[kBlockCount];
    for (int k = 0; k < blocks; ++k) {
        BlockRecord& rec = recs[k];
        const size_t from = blocks == 1 ? 0 : static_cast<size_t>(k) * per;
        const size_t to = blocks == 1 ? size : from + per + (k == blocks - 1 ? rest : 0);
        rec.set = &set;
        rec.shapes.assign(shapes.begin() + static_cast<std::ptrdiff_t>(from),
                          shapes.begin() + static_cast<std::ptrdiff_t>(to));
        rec.path = &paths[k];
        rec.cross = cross;
    }
    // At most two blocks run at a time, pair after pair; each writes only
    // its own path and its own list of "edge" children.
    for (int k = 0; k < blocks; k += 2) {
        const int last = std::min(k + 1, blocks - 1);
        std::function<void()> work[2];
        std::thread workers[2];
        for (int j = k; j <= last; ++j) {
            work[j - k] = [this, &recs, j] { RunBlock(recs[j]); };
            workers[j - k] = StartWorker(work[j - k]);
        }
        for (int j = k; j <= last; ++j) FinishWorker(workers[j - k], work[j - k]);
    }
    // The children are adopted in block order once every block has ended,
    // so the same input always gives the same children.
    for (int k = 0; k < blocks; ++k) AdoptEdges(recs[k].edges);
}

void CFillRunner::DoFillLinerMiddle(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, CShapeFiller& filler) {
    std::vector<CBaseShape*> edges;
    PrepareOutlines(set, shapes, filler, &edges);
    AdoptEdges(edges);
}

void CFillRunner::AdoptEdges(std::vector<CBaseShape*>& edges) {
    for (CBaseShape* e : edges) m_site.AddFillChild(e);
    edges.clear();
}

CBaseShape* CFillRunner::MakeEdge(const ClipperLib::Path& path, int pen) {
    auto* poly = new CPolyLine();
    poly->arrPoint = FromClipperPath(path);
    poly->ClosePloyLine();
    poly->SetPen(PenByte(pen));
    poly->SetCaption(L"edge");
    return poly;
}

void CFillRunner::PrepareOutlines(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, CShapeFiller& filler,
                                  std::vector<CBaseShape*>* edges) {
    filler.SetFillParam(&set);
    const int count = static_cast<int>(shapes.size());
    Log()->WriteFormat(L"CFilledShape DoFillLiner:%d", count);
    const bool clipper = (!shapes.empty() && set.nExecuteType != 0) || set.fMargin != 0 ||
                         (set.nCircularCount != 0 && set.fCircularGap >= 0.001);
    if (clipper) {
        Log()->WriteFormat(L"CFilledShape DoFillLiner-2 m_nExecuteType:%d poly0:%d subList:%d", set.nExecuteType, 0,
                           count);
        ClipperLib::Paths paths;
        DoExecuteShapeEx(paths, set.nExecuteType, shapes);
        paths = OffsetPaths(paths, -set.fMargin * kClipperScale, ClipperLib::jtMiter);
        if (set.nCircularCount != 0 && set.fCircularGap > 0.001) {
            const double delta = -set.fCircularGap * kClipperScale;
            // Rings one gap apart; a shape used up stops them early.
            for (uint32_t i = 0; i < set.nCircularCount && !paths.empty(); ++i) {
                paths = OffsetPaths(paths, delta, ClipperLib::jtMiter);
                if (edges != nullptr)
                    for (const ClipperLib::Path& p : paths) edges->push_back(MakeEdge(p, set.nPenNum));
            }
            // The hatch starts one gap inside the innermost ring.
            paths = OffsetPaths(paths, delta, ClipperLib::jtSquare);
        } else if (set.bAlongBorder != 0 && edges != nullptr) {
            for (const ClipperLib::Path& p : paths) edges->push_back(MakeEdge(p, set.nPenNum));
        }
        for (const ClipperLib::Path& p : paths) filler.AddContour(FromClipperPath(p));
        return;
    }
    // The list has had its one log line above: a line per shape would cost
    // more than the hatch itself on large drawings.
    for (int i = 0; i < count; ++i) {
        CBaseShape* shape = shapes[static_cast<size_t>(i)];
        if (shape == nullptr) continue;
        std::vector<tagPOINTF> pts;
        const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
        if (kind == SHAPE_SCREWLINE) {
            if (auto* screw = dynamic_cast<CScrewLine*>(shape)) screw->GetFlattenPathPointsFill(pts);
        } else if (kind == SHAPE_POLYLINE) {
            auto* poly = dynamic_cast<CPolyLine*>(shape);
            if (poly != nullptr && poly->arrPoint.size() > 2) shape->GetFlattenPathPoints(pts, 0.25f);
        } else {
            shape->GetFlattenPathPoints(pts, 0.25f);
        }
        filler.AddContour(std::move(pts));
        if (set.bAlongBorder != 0 && edges != nullptr) {
            CBaseShape* copy = shape->Clone();
            if (copy != nullptr) {
                copy->SetPen(PenByte(set.nPenNum));
                copy->SetCaption(L"edge");
                edges->push_back(copy);
            }
        }
    }
}

void CFillRunner::DoExecuteShape(ClipperLib::Paths& out, int executeType) {
    std::vector<CBaseShape*> shapes;
    CreatedShapes created;
    m_site.GetBasicShapeList(shapes, created.list);
    DoExecuteShapeEx(out, executeType, shapes);
}

ClipperLib::ClipType CFillRunner::PrepareExecute(ClipperLib::Clipper& clipper, int executeType,
                                                 std::vector<CBaseShape*>& shapes) {
    RemoveFillProducts(shapes);
    CBaseShape* fill = m_site.GetFillShape();
    const float tolerance = fill != nullptr ? fill->GetSmoothRatio() : 0.25f;
    const bool allSubjects = m_site.IsNoRedraw();
    bool clipping = false;
    ClipperLib::Path path;
    for (CBaseShape* shape : shapes) {
        std::vector<tagPOINTF> pts;
        const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
        if (kind == SHAPE_SCREWLINE) {
            if (auto* screw = dynamic_cast<CScrewLine*>(shape)) screw->GetFlattenPathPointsFill(pts);
        } else if (kind == SHAPE_POLYLINE) {
            auto* poly = dynamic_cast<CPolyLine*>(shape);
            if (poly == nullptr || poly->arrPoint.size() < 3) continue;
            shape->GetFlattenPathPoints(pts, tolerance);
        } else {
            shape->GetFlattenPathPoints(pts, tolerance);
        }
        // The shapes of the first source are subjects; from the first
        // shape of another source on, every shape clips.
        if (!allSubjects && !clipping && m_site.GetSourceIndex(shape) != 0) clipping = true;
        if (!ToClipperPath(pts, path)) continue;
        try {
            clipper.AddPath(path, clipping ? ClipperLib::ptClip : ClipperLib::ptSubject, true);
        } catch (...) {
            // A path Clipper refuses adds nothing.
        }
    }
    ClipperLib::ClipType type = ClipperLib::ctXor;
    switch (executeType) {
        case 1:
            type = ClipperLib::ctIntersection;
            break;
        case 2:
            type = ClipperLib::ctUnion;
            break;
        case 3:
            type = ClipperLib::ctDifference;
            break;
        default:
            type = ClipperLib::ctXor;
            break;
    }
    if (shapes.size() < 2) type = ClipperLib::ctUnion;
    return type;
}

void CFillRunner::DoExecuteShapeEx(ClipperLib::Paths& out, int executeType, std::vector<CBaseShape*>& shapes) {
    out.clear();
    ClipperLib::Clipper clipper;
    const ClipperLib::ClipType type = PrepareExecute(clipper, executeType, shapes);
    try {
        clipper.Execute(type, out, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    } catch (...) {
        out.clear();
    }
}

// ---- concentric fill ---------------------------------------------------------

void CFillRunner::SetCircleFillPath(CCircle* circle, int index) {
    if (circle == nullptr) return;
    std::vector<tagPOINTF> pts;
    circle->GetFlattenPathPoints(pts, 0.25f);
    AddClosedFigure(m_site.GetHatchPath(index), pts);
}

bool CFillRunner::GoOnAfterQuestion(DWORD start) {
    if (GetSlowFillAsk() == 0 || static_cast<DWORD>(Ticks() - start) <= kSlowFillMs) return true;
    const int answer = MessageBoxW(nullptr, L"渲染用时过多，是否继续?", L"提示", MB_YESNO | MB_ICONWARNING);
    if (answer != IDYES) return false;
    SetSlowFillAsk(0);
    return true;
}

namespace {

// One long step of the concentric fill and its outcome, shared by the
// waiting fill and the worker: an abandoned worker keeps it alive until it
// ends.
struct AskedStep {
    std::function<ClipperLib::Paths()> step;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    ClipperLib::Paths result;
    std::atomic<pid_t> thread{0};

    void Run() {
        thread = gettid();
        ClipperLib::Paths r;
        try {
            r = step();
        } catch (...) {
            r.clear();
        }
        step = nullptr;  // what the step owns goes with it
        std::lock_guard<std::mutex> lock(mutex);
        result = std::move(r);
        done = true;
        cv.notify_all();
    }
};

// An abandoned step still runs code of this library: the library stays
// mapped from then on, even if the host unloads it.
void KeepLibraryLoaded() {
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &info) != 0 && info.dli_fname != nullptr)
            (void)dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

}  // namespace

bool CFillRunner::RunAsking(std::function<ClipperLib::Paths()> step, ClipperLib::Paths& out, DWORD start) {
    auto state = std::make_shared<AskedStep>();
    state->step = std::move(step);
    std::thread worker;
    try {
        worker = std::thread([state] { state->Run(); });
    } catch (...) {
        // Without a thread the step runs here; the question waits for it.
        state->Run();
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->done) {
        if (state->cv.wait_for(lock, std::chrono::milliseconds(kAskPollMs), [&state] { return state->done; })) break;
        lock.unlock();
        const bool goOn = GoOnAfterQuestion(start);
        lock.lock();
        if (!goOn) {
            // What is left of the step yields to everything else. The worker
            // still waits for this lock to report, so its thread id is its own.
            const pid_t tid = state->thread.load();
            if (!state->done && tid > 0) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19);
            lock.unlock();
            // The step cannot be stopped inside Clipper: it finishes on its
            // own copy of the data, and nothing waits for it.
            if (worker.joinable()) {
                KeepLibraryLoaded();
                worker.detach();
            }
            return false;
        }
    }
    out = std::move(state->result);
    lock.unlock();
    if (worker.joinable()) worker.join();
    return true;
}

void CFillRunner::DoFillCircular(SHAPE_FILLER_PARAM& set) {
    Log()->Write(L"CFilledShape DoFillCircular");
    Gdiplus::GraphicsPath* hatch = m_site.GetHatchPath(set.nIndex);
    CBaseShape* fill = m_site.GetFillShape();
    if (hatch == nullptr || fill == nullptr) return;
    // The old rings go first, so a fill of nothing leaves nothing.
    hatch->Reset();
    if (fill->GetChildren().empty()) return;
    const double s = set.fLineSpacing;
    if (!(s >= 1e-6) || !std::isfinite(s)) return;

    std::vector<CBaseShape*> shapes;
    CreatedShapes created;
    m_site.GetBasicShapeList(shapes, created.list);
    RemoveFillProducts(shapes);
    const bool exact = shapes.size() == 1 && (CircleRings(set, shapes[0]) || RoundedRectRings(set, shapes[0], *hatch));
    if (!exact) OffsetRings(set, shapes, *hatch);
    if (set.bRoundInvert != 0) hatch->Reverse();
}

// A lone circle: exact concentric circles into the set's hatch path. False
// when the shape is no circle.
bool CFillRunner::CircleRings(const SHAPE_FILLER_PARAM& set, CBaseShape* shape) {
    if (shape->GetShapeKind() != SHAPE_CIRCLE) return false;
    Gdiplus::RectF r;
    shape->GetRectangle(r);
    if (!(std::fabs(r.Width - r.Height) < 0.001)) return false;
    CBaseShape* fill = m_site.GetFillShape();
    const double s = set.fLineSpacing;
    const double cx = r.X + r.Width / 2.0;
    const double cy = r.Y - r.Height / 2.0;
    double radius = (static_cast<double>(r.Width) + r.Height) / 4.0;
    if (set.fMargin > 0.001) radius -= set.fMargin;
    radius -= s;
    for (int i = 0; i < kMaxExactRings && radius > 1e-6; ++i) {
        CCircle ring;
        ring.SetDocView(fill->GetShapeDoc(), fill->GetShapeView());
        ring.SetPen(PenByte(set.nPenNum));
        ring.InitCircle(static_cast<float>(cx), static_cast<float>(cy), 0.0f, static_cast<float>(radius));
        SetCircleFillPath(&ring, set.nIndex);
        radius -= s;
    }
    return true;
}

// A lone rectangle with a rounded corner: exact inset rectangles whose
// rounded corners shrink with the width. False when the shape is none.
bool CFillRunner::RoundedRectRings(const SHAPE_FILLER_PARAM& set, CBaseShape* shape, Gdiplus::GraphicsPath& hatch) {
    auto* rect = shape->GetShapeKind() == SHAPE_RECTANGLE ? dynamic_cast<CRectangle*>(shape) : nullptr;
    int round[4] = {0, 0, 0, 0};
    if (rect != nullptr) rect->GetRound(round[0], round[1], round[2], round[3]);
    if (round[0] <= 0 && round[1] <= 0 && round[2] <= 0 && round[3] <= 0) return false;
    CBaseShape* fill = m_site.GetFillShape();
    const double s = set.fLineSpacing;
    Gdiplus::RectF r;
    rect->GetRectangle(r);
    const double width = r.Width;
    const double height = r.Height;
    const double margin = set.fMargin;
    const double n = std::floor(std::min(width, height) / s);
    // Every ring takes two spacings off each side, so about half of the n
    // rings have room.
    if (!(n / 2 <= static_cast<double>(kMaxRectRings))) {
        Log()->WriteFormat(L"CFilledShape DoFillCircular too many rings: %.0f", n / 2);
        return true;
    }
    for (double k = 0; k < n; ++k) {
        const double x = r.X + (k + 1) * s + margin;
        const double y = r.Y - (k + 1) * s - margin;
        const double w = width - (2 * k + 2) * s - 2 * margin;
        const double h = height - (2 * k + 2) * s - 2 * margin;
        // Both only shrink from here on.
        if (!(w > 1e-6 && h > 1e-6)) break;
        CRectangle ring;
        ring.SetDocView(fill->GetShapeDoc(), fill->GetShapeView());
        ring.SetPen(PenByte(set.nPenNum));
        ring.InitRectangle(Gdiplus::RectF(static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
                                          static_cast<float>(h)));
        const double ratio = w / width;
        if (round[0] > 0) ring.SetRound1(static_cast<int>(round[0] * ratio), 1);
        if (round[1] > 0) ring.SetRound2(static_cast<int>(round[1] * ratio), 1);
        if (round[2] > 0) ring.SetRound3(static_cast<int>(round[2] * ratio), 1);
        if (round[3] > 0) ring.SetRound4(static_cast<int>(round[3] * ratio), 1);
        std::vector<tagPOINTF> pts;
        ring.GetFlattenPathPoints(pts, 0.25f);
        AddClosedFigure(&hatch, pts);
    }
    return true;
}

// Everything else: ring after ring offset inward with Clipper. Every
// Clipper step runs where the clock can be watched, so a huge outline gets
// its question on time.
void CFillRunner::OffsetRings(const SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes,
                              Gdiplus::GraphicsPath& hatch) {
    CBaseShape* fill = m_site.GetFillShape();
    const double s = set.fLineSpacing;
    const DWORD start = Ticks();
    auto clipper = std::make_shared<ClipperLib::Clipper>();
    const ClipperLib::ClipType type = PrepareExecute(*clipper, set.nExecuteType, shapes);
    ClipperLib::Paths rings;
    bool goOn = RunAsking(
        [clipper, type] {
            ClipperLib::Paths out;
            clipper->Execute(type, out, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
            return out;
        },
        rings, start);
    clipper.reset();
    RingOffset offset = m_ringOffset;
    if (!offset) offset = [](const ClipperLib::Paths& in, double d) { return OffsetPaths(in, d, ClipperLib::jtMiter); };
    // Each ring is offset from the previous one, so the work per ring stays
    // proportional to the ring; and before every offset (the margin's too)
    // the ring drops the points it does not need within half the fill's
    // flattening tolerance (or a quarter of the spacing, when that is
    // finer). A dense outline would otherwise hand every ring its full count
    // of points, whose offset edges overlap their neighbours' and cost
    // Clipper the square of the count.
    float smooth = fill->GetSmoothRatio();
    if (!(smooth > 0.0f) || !std::isfinite(smooth)) smooth = 0.01f;
    const double tolerance = std::min(static_cast<double>(smooth), s / 4.0) / 2.0 * kClipperScale;
    if (goOn && set.fMargin > 0.001) {
        const double margin = -set.fMargin * kClipperScale;
        goOn = RunAsking([offset, in = std::move(rings), margin, tolerance] { return offset(SimplifyRings(in, tolerance), margin); },
                         rings, start);
    }
    const double delta = std::max(s, 0.001) * kClipperScale;
    while (goOn && !rings.empty()) {
        if (!GoOnAfterQuestion(start)) break;
        ClipperLib::Paths next;
        if (!RunAsking([offset, in = std::move(rings), delta, tolerance] { return offset(SimplifyRings(in, tolerance), -delta); },
                       next, start))
            break;
        if (next.empty()) break;
        for (const ClipperLib::Path& p : next) AddClosedFigure(&hatch, FromClipperPath(p));
        rings.swap(next);
    }
}
