// Point correction: working millimetres to 16-bit galvanometer units.
//
// Everything here only reads the record and allocates nothing, so that it can
// run for every point that is marked.
#include "calib_internal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <memory>
#include <utility>
#include <vector>

namespace calib {

// Two doubles worked on at once (x and y).
using Pair = double __attribute__((vector_size(16)));

// A bilinear cell's offset as (x, y) pairs of coefficients in the steps t
// (along the row) and u (down the column) from its top left corner:
//   (c[0] - (x, 0)) + c[1] t + (c[2] + c[3] t) u.
// A NaN in c[0][0] marks a cell that is not bilinear. One cache line each.
struct alignas(64) CellFit {
    Pair c[4];
};

namespace {

constexpr double kCentre = 32768.0;
constexpr double kFullScale = 65535.0;

double Clamp(double v, double lo, double hi) noexcept { return v < lo ? lo : (v > hi ? hi : v); }

// Nominal steps per millimetre of a slot of f x f points over the pattern.
double PerStep(std::size_t f, double valSize) noexcept { return static_cast<double>(f - 1) * (1.0 / valSize); }

// The host's axis options applied to an input point.
Point2 AxisIn(const CalibParam& p, double x, double y) noexcept {
    if (!p.SwapXY) return {p.InvertX ? -x : x, p.InvertY ? -y : y};
    return {p.InvertY ? -x : x, p.InvertX ? -y : y};
}

double InterpolateTable(const std::vector<double>& pos, const std::vector<double>& val, double v) noexcept {
    if (pos.empty() || pos.size() != val.size() || std::fabs(v) <= 1e-7) return 1.0;
    if (v <= pos.front()) return val.front();
    if (v >= pos.back()) return val.back();
    for (std::size_t i = 0; i + 1 < pos.size(); ++i) {
        if (pos[i] <= v && v < pos[i + 1]) {
            const double span = pos[i + 1] - pos[i];
            return span == 0.0 ? val[i] : val[i] + (val[i + 1] - val[i]) * (v - pos[i]) / span;
        }
    }
    return 1.0;  // positions out of order
}

// Adds the centre, clamps to the galvanometer range. A NaN has no place in
// the field: the centre goes out and the caller learns of the failure.
bool Finish(double ox, double oy, double* out) noexcept {
    ox += kCentre;
    oy += kCentre;
    if (std::isnan(ox) || std::isnan(oy)) {
        out[0] = out[1] = kCentre;
        return false;
    }
    out[0] = Clamp(ox, 0.0, kFullScale);
    out[1] = Clamp(oy, 0.0, kFullScale);
    return true;
}

bool CellHolds(const CalibGridPoint& A, const CalibGridPoint& D, double x, double y) noexcept {
    return A.NomX <= x && x <= D.NomX && D.NomY <= y && y <= A.NomY;
}

// The first cell in row-major order whose nominal corners enclose (x, y).
bool FindCellByScan(const CalibGridPoint* P, std::size_t f, double x, double y, std::size_t& r,
                    std::size_t& c) noexcept {
    for (std::size_t i = 0; i + 1 < f; ++i)
        for (std::size_t j = 0; j + 1 < f; ++j)
            if (CellHolds(P[i * f + j], P[(i + 1) * f + j + 1], x, y)) {
                r = i;
                c = j;
                return true;
            }
    return false;
}

bool IsRectilinear(const CalibGrid& g) noexcept {
    if (g.GridSize < 2) return false;
    const auto f = static_cast<std::size_t>(g.GridSize);
    if (g.Points.size() != f * f) return false;
    const CalibGridPoint* P = g.Points.data();
    for (std::size_t i = 0; i < f; ++i)
        for (std::size_t j = 0; j < f; ++j)
            if (!(P[i * f + j].NomX == P[j].NomX && P[i * f + j].NomY == P[i * f].NomY)) return false;
    for (std::size_t j = 0; j + 1 < f; ++j)
        if (!(P[j].NomX <= P[j + 1].NomX)) return false;
    for (std::size_t i = 0; i + 1 < f; ++i)
        if (!(P[(i + 1) * f].NomY <= P[i * f].NomY)) return false;
    return true;
}

Pair Abs(Pair v) noexcept {
    using Bits = unsigned long long __attribute__((vector_size(16)));
    constexpr unsigned long long kMagnitude = ~0ULL >> 1;
    return reinterpret_cast<Pair>(reinterpret_cast<Bits>(v) & Bits{kMagnitude, kMagnitude});
}

CellFit FitCell(const CalibGridPoint& A, const CalibGridPoint& B, const CalibGridPoint& C,
                const CalibGridPoint& D) noexcept {
    return {{Pair{A.MeasX, A.MeasY - A.NomY}, Pair{B.MeasX - A.MeasX, B.MeasY - A.MeasY},
             Pair{C.MeasX - A.MeasX, (C.MeasY - A.MeasY) - (C.NomY - A.NomY)},
             Pair{A.MeasX - B.MeasX - C.MeasX + D.MeasX, A.MeasY - B.MeasY - C.MeasY + D.MeasY}}};
}

// Least share of the product of two edge vectors' lengths (sums of absolute
// components) that their cross product must reach everywhere in a cell for
// the cell's bilinear form: edges at about 11 degrees or more.
constexpr double kMinCross = 0.1;

// Whether the offset in the cell with corners A (top left), B, C, D (bottom
// right) takes the bilinear form of BilinearOffset, as far as rounding.
//
// The measured points on the top and bottom edges at step t and on the left
// and right edges at step u lie on the bilinear patch Q(t, u) through the
// four measured corners, and the left-right line through them crosses the
// top-bottom line at Q(t, u) itself; the y offset then reduces to Q's y less
// the nominal y moved u steps down the column. That holds when the opposite
// edges share their nominal x and y (a rectilinear cell), the two lines are
// never parallel within the cell and the top-bottom line never lies flat.
// The cross product of the lines' directions is affine in t and u, and the
// top-bottom line's height affine in t, so checking both at the corners of
// the cell's (t, u) range covers the cell; the margin keeps the two ways of
// working the offset out within rounding of each other.
bool IsBilinearCell(const CalibGridPoint& A, const CalibGridPoint& B, const CalibGridPoint& C,
                    const CalibGridPoint& D, double perStep) noexcept {
    if (!(A.NomX == C.NomX && A.NomY == B.NomY)) return false;
    const double tw = (D.NomX - A.NomX) * perStep, uh = (A.NomY - D.NomY) * perStep;
    if (!(tw >= 0.0 && uh >= 0.0 && std::isfinite(tw) && std::isfinite(uh))) return false;
    const Point2 ab{B.MeasX - A.MeasX, B.MeasY - A.MeasY};
    const Point2 ac{C.MeasX - A.MeasX, C.MeasY - A.MeasY};
    const Point2 e{A.MeasX - B.MeasX - C.MeasX + D.MeasX, A.MeasY - B.MeasY - C.MeasY + D.MeasY};
    int sign = 0;
    for (const double t : {0.0, tw}) {
        const Point2 down{ac.x + e.x * t, ac.y + e.y * t};  // top to bottom at t
        const double downLen = std::fabs(down.x) + std::fabs(down.y);
        if (!(std::fabs(down.y) >= kMinCross * downLen) || (down.y < 0.0) != (ac.y < 0.0)) return false;
        for (const double u : {0.0, uh}) {
            const Point2 across{ab.x + e.x * u, ab.y + e.y * u};  // left to right at u
            const double cross = across.x * down.y - across.y * down.x;
            const double len = (std::fabs(across.x) + std::fabs(across.y)) * downLen;
            if (!(std::fabs(cross) >= kMinCross * len && cross != 0.0 && std::isfinite(len))) return false;
            const int s = cross > 0.0 ? 1 : -1;
            if (sign != 0 && s != sign) return false;
            sign = s;
        }
    }
    // The coefficients, and so the offset anywhere in the cell, stay far
    // from overflow: the offset needs no check of its own.
    const CellFit fit = FitCell(A, B, C, D);
    const Pair T = Pair{1.0, 1.0} + tw, U = Pair{1.0, 1.0} + uh;
    const Pair nomX{std::fmax(std::fabs(A.NomX), std::fabs(D.NomX)), 0.0};
    const Pair bound = Abs(fit.c[0]) + nomX + Abs(fit.c[1]) * T + (Abs(fit.c[2]) + Abs(fit.c[3]) * T) * U;
    return bound[0] < 1e300 && bound[1] < 1e300;
}

// The offset at (x, y) by the coefficients of a cell whose top left corner
// is nominally at `corner`.
Point2 BilinearOffset(const CellFit& fit, Pair corner, double perStep, double x, double y) noexcept {
    const Pair tu = Abs(Pair{x, y} - corner) * perStep;  // steps from the corner
    const double t = tu[0], u = tu[1];
    const Pair off = (fit.c[0] - Pair{x, 0.0}) + fit.c[1] * t + (fit.c[2] + fit.c[3] * t) * u;
    return {off[0], off[1]};
}

// Offset of the measured field from the nominal one at (x, y) in the cell
// with corners A (top left), B, C, D (bottom right), where the left-right
// line through the measured edge points crosses the top-bottom one; (0, 0)
// when the cell gives no finite answer. perStep is the reciprocal of the
// slot's nominal step.
Point2 CrossingOffset(const CalibGridPoint& A, const CalibGridPoint& B, const CalibGridPoint& C,
                      const CalibGridPoint& D, double perStep, double x, double y) noexcept {
    constexpr Point2 kNone{0.0, 0.0};
    // Measured points on the four edges at the nominal x and y, each moved
    // from its corner by the nominal distance in steps.
    const double tA = std::fabs(x - A.NomX) * perStep, tC = std::fabs(x - C.NomX) * perStep;
    const double uA = std::fabs(y - A.NomY) * perStep, uB = std::fabs(y - B.NomY) * perStep;
    const double xt = A.MeasX + (B.MeasX - A.MeasX) * tA;
    const double yt = B.MeasY == A.MeasY ? A.MeasY : A.MeasY + (B.MeasY - A.MeasY) * tA;
    const double xb = C.MeasX + (D.MeasX - C.MeasX) * tC;
    const double yb = D.MeasY == C.MeasY ? C.MeasY : C.MeasY + (D.MeasY - C.MeasY) * tC;
    const double xl = C.MeasX == A.MeasX ? A.MeasX : A.MeasX + (C.MeasX - A.MeasX) * uA;
    const double yl = A.MeasY + (C.MeasY - A.MeasY) * uA;
    const double xr = D.MeasX == B.MeasX ? B.MeasX : B.MeasX + (D.MeasX - B.MeasX) * uB;
    const double yr = B.MeasY + (D.MeasY - B.MeasY) * uB;

    // Where the two lines cross; parallel lines do not cross.
    const double a1 = yl - yr, b1 = xr - xl, c1 = xl * yr - xr * yl;
    const double a2 = yt - yb, b2 = xb - xt, c2 = xt * yb - xb * yt;
    const double det = b1 * a2 - b2 * a1;
    if (det == 0.0) return kNone;
    const double perDet = 1.0 / det;
    const double perDy = 1.0 / (yb - yt);
    const double ix = (b2 * c1 - b1 * c2) * perDet;
    const double iy = (a1 * c2 - a2 * c1) * perDet;

    // The offset at the crossing: in x the measured position less the
    // nominal one (interpolating it between the top and bottom edge points
    // gives the same); in y the top and bottom edges' offsets interpolated at
    // the crossing's height.
    Point2 off;
    off.x = xb == xt ? xt - x : ix - x;
    off.y = yb == yt ? yl - y : (yt - A.NomY) + (iy - yt) * ((yb - C.NomY) - (yt - A.NomY)) * perDy;
    if (!std::isfinite(off.x) || !std::isfinite(off.y)) return kNone;
    return off;
}

// The offset in cell (r, c) of a slot of f x f points, worked out from its
// corners.
Point2 CornerOffset(const CalibGridPoint* P, std::size_t f, std::size_t r, std::size_t c, double perStep,
                    double x, double y) noexcept {
    const CalibGridPoint& A = P[r * f + c];
    const CalibGridPoint& B = P[r * f + c + 1];
    const CalibGridPoint& C = P[(r + 1) * f + c];
    const CalibGridPoint& D = P[(r + 1) * f + c + 1];
    if (!IsBilinearCell(A, B, C, D, perStep)) return CrossingOffset(A, B, C, D, perStep, x, y);
    return BilinearOffset(FitCell(A, B, C, D), Pair{A.NomX, A.NomY}, perStep, x, y);
}

}  // namespace

}  // namespace calib

// A rectilinear slot's lines, the first guess of a point's column,
// (x - x0) * xScale, and row, (y0 - y) * yScale, the points the cells were
// prepared from, and the cells' offsets for one pattern size.
struct CalibLattice {
    const CalibGridPoint* points = nullptr;     // the slot's Points when it was built
    const CalibGridPoint* pointsEnd = nullptr;  // and their end
    int gridSize = 0;                           // its GridSize
    std::size_t f = 0;                          // points per row and column
    calib::Pair origin{0.0, 0.0};               // (x0, -y0)
    calib::Pair scale{0.0, 0.0};                // (xScale, yScale)
    calib::Pair last{0.0, 0.0};                 // f - 2 twice
    double valSize = 0.0;                       // the pattern size the cells were checked for
    double perStep = 0.0;                       // (f - 1) / valSize
    std::vector<double> colX, negRowY;          // NomX of each column, -NomY of each row
    std::vector<CalibGridPoint> copy;           // the points as the cells were prepared from them
    std::vector<calib::CellFit> cells;          // row-major
};

namespace calib {

namespace {

// Offset of the measured field from the nominal one at (x, y) in a slot of
// f x f points, from the first cell in row-major order that holds the point;
// (0, 0) when none does.
Point2 ScanOffset(const CalibGridPoint* P, std::size_t f, double valSize, double x, double y) noexcept {
    std::size_t r = 0, c = 0;
    if (!FindCellByScan(P, f, x, y, r, c)) return {0.0, 0.0};
    return CornerOffset(P, f, r, c, PerStep(f, valSize), x, y);
}

namespace baseline {
#define CALIB_LATTICE_AVX512 0
#define CALIB_LATTICE_TARGET
#include "calib_lattice_path.inc"
#undef CALIB_LATTICE_TARGET
#undef CALIB_LATTICE_AVX512
}  // namespace baseline

#if defined(__x86_64__)
namespace avx512 {
#define CALIB_LATTICE_AVX512 1
#define CALIB_LATTICE_TARGET __attribute__((target("avx512f")))
#include "calib_lattice_path.inc"
#undef CALIB_LATTICE_TARGET
#undef CALIB_LATTICE_AVX512
}  // namespace avx512

// Whether this processor and its system run AVX-512; read once, when the
// library is loaded (until then the baseline serves).
const bool kAvx512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}();
#endif

Point2 GridOffsets(const CalibParam& p, double x, double y) noexcept {
#if defined(__x86_64__)
    if (kAvx512) return avx512::GridOffsets(p, x, y);
#endif
    return baseline::GridOffsets(p, x, y);
}

}  // namespace

Point2 ApplyFieldModel(const CalibGrid& g, double x, double y) noexcept {
    // A zero half-width has no trapezoid term: that side stays as it is.
    const double xs = x - g.PLX * y;
    double X = xs;
    if (xs < 0.0) {
        if (g.AxisXL != 0.0) X = xs + g.TXL * y * xs / g.AxisXL;
    } else if (xs > 0.0) {
        if (g.AxisXR != 0.0) X = xs - g.TXR * y * xs / g.AxisXR;
    }
    double Y = y;
    if (y < 0.0) {
        if (g.AxisYB != 0.0) Y = y + g.TYB * xs * y / g.AxisYB;
    } else if (y > 0.0) {
        if (g.AxisYT != 0.0) Y = y - g.TYT * xs * y / g.AxisYT;
    }
    return {g.SX * X, g.SY * Y};
}

bool CalibPointByGrid(const CalibParam& p, double x, double y, double* out) noexcept {
    const CalibGrid& g0 = p.Grid[0];
    const double s = kFullScale / p.WorkSize;
    if (!std::isfinite(s)) return Finish(NAN, NAN, out);

    const Point2 m = ApplyFieldModel(g0, x, y);
    double ox = m.x * s + g0.k[2] * m.y * m.y * m.x;
    double oy = m.y * s + g0.k[3] * m.x * m.x * m.y;
    const double sx = p.SwapXY ? g0.SY : g0.SX;
    const double sy = p.SwapXY ? g0.SX : g0.SY;

    // The grids' offsets, each looked up with the point held within the
    // pattern. A pattern without a size has no grid.
    double dx = 0.0, dy = 0.0;
    if (p.ValSize > 0.0) {
        const double half = p.ValSize / 2.0;
        const Point2 a = AxisIn(p, x, y);
        const double ax = Clamp(a.x, -half, half), ay = Clamp(a.y, -half, half);
        const Point2 d = GridOffsets(p, ax, ay);
        dx = d.x;
        dy = d.y;
    }
    if (!p.SwapXY) {
        if (p.InvertX) dx = -dx;
        if (p.InvertY) dy = -dy;
    } else {
        if (p.InvertX) dy = -dy;
        if (p.InvertY) dx = -dx;
    }
    if (std::fabs(dx) >= 0.001) ox -= dx * s * sx;
    if (std::fabs(dy) >= 0.001) oy -= dy * s * sy;

    if (g0.grid == 1) {
        ox *= InterpolateTable(g0.XT, g0.XR, x);
        oy *= InterpolateTable(g0.YT, g0.YR, y);
    }
    return Finish(ox, oy, out);
}

bool CalibPointManual(const CalibParam& p, double x, double y, double* out) noexcept {
    const double* mp = p.ManualPara;
    const double W = p.WorkSize;
    const double s = kFullScale / W;
    if (!std::isfinite(s)) return Finish(NAN, NAN, out);
    const double bx = Clamp(mp[0] - 1.0, -0.2, 0.2);
    const double by = Clamp(mp[1] - 1.0, -0.2, 0.2);
    const double x1 = mp[6] * x / 100.0;
    const double y1 = mp[7] * y / 100.0;
    const double y2 = y1 - (1.0 - mp[3]) * x1;
    const double x2 = x1 - (1.0 - mp[2]) * y1;
    const double X = (x2 - (1.0 - mp[4]) * y2 * x2 * 2.0 / W) * s;
    const double Y = (y2 - (1.0 - mp[5]) * x2 * y2 * 2.0 / W) * s;
    constexpr double kBarrel = 1.0 / 1073741824.0;  // 2^-30
    double ox = X + X * bx * Y * Y * kBarrel;
    double oy = Y + Y * by * X * X * kBarrel;
    if (p.TableOn == 1) {
        const Point2 a = AxisIn(p, x, y);
        ox *= InterpolateTable(p.TableXPos, p.TableXFactor, a.x);
        oy *= InterpolateTable(p.TableYPos, p.TableYFactor, a.y);
    }
    return Finish(ox, oy, out);
}

bool PreCalibScale(const CalibParam& p, double x, double y, double* out) noexcept {
    const CalibGrid& g = p.Grid[0];
    const double V = p.ValSize;
    const double xs = x - g.PLX * y;
    // Inside one millimetre of the axes the side factor is its value at the
    // centre, 1.0.
    double fx = 1.0, fy = 1.0;
    if (xs < -1.0)
        fx = 1.0 + std::fabs(xs) * (g.SXL - 1.0) / V;
    else if (xs > 1.0)
        fx = 1.0 + std::fabs(xs) * (g.SXR - 1.0) / V;
    if (y < -1.0)
        fy = 1.0 + std::fabs(y) * (g.SYB - 1.0) / V;
    else if (y > 1.0)
        fy = 1.0 + std::fabs(y) * (g.SYT - 1.0) / V;
    const double X = xs < 0.0 ? xs + g.TXL * y * xs / V : (xs > 0.0 ? xs - g.TXR * y * xs / V : xs);
    const double Y = y < 0.0 ? y + g.TYB * xs * y / V : (y > 0.0 ? y - g.TYT * xs * y / V : y);
    const double ox = X * fx, oy = Y * fy;
    if (!std::isfinite(ox) || !std::isfinite(oy)) {
        out[0] = x;
        out[1] = y;
        return false;
    }
    out[0] = ox;
    out[1] = oy;
    return true;
}

namespace {

std::shared_ptr<const CalibLattice> BuildLattice(const CalibGrid& g, double valSize) {
    auto L = std::make_shared<CalibLattice>();
    const auto f = static_cast<std::size_t>(g.GridSize);
    const CalibGridPoint* P = g.Points.data();
    L->points = P;
    L->pointsEnd = P + g.Points.size();
    L->f = f;
    L->gridSize = g.GridSize;
    L->last = calib::Pair{1.0, 1.0} * static_cast<double>(f - 2);
    L->valSize = valSize;
    L->perStep = valSize > 0.0 ? PerStep(f, valSize) : 0.0;  // without a size the grids take no part
    // Guesses for an evenly spaced lattice; any other spacing only makes
    // the search step further.
    const double width = P[f - 1].NomX - P[0].NomX;
    const double height = P[0].NomY - P[(f - 1) * f].NomY;
    L->origin = Pair{P[0].NomX, -P[0].NomY};
    L->scale = Pair{width > 0.0 ? static_cast<double>(f - 1) / width : 0.0,
                    height > 0.0 ? static_cast<double>(f - 1) / height : 0.0};
    L->colX.resize(f);
    L->negRowY.resize(f);
    for (std::size_t i = 0; i < f; ++i) {
        L->colX[i] = P[i].NomX;
        L->negRowY[i] = -P[i * f].NomY;
    }
    L->copy.assign(P, P + f * f);
    L->cells.resize((f - 1) * (f - 1));
    for (std::size_t r = 0; r + 1 < f; ++r)
        for (std::size_t c = 0; c + 1 < f; ++c) {
            const CalibGridPoint &A = P[r * f + c], &B = P[r * f + c + 1];
            const CalibGridPoint &C = P[(r + 1) * f + c], &D = P[(r + 1) * f + c + 1];
            CellFit& fit = L->cells[r * (f - 1) + c];
            fit = FitCell(A, B, C, D);
            if (!IsBilinearCell(A, B, C, D, L->perStep)) fit.c[0][0] = NAN;
        }
    return L;
}

}  // namespace

void RefreshGridIndex(CalibParam& param) noexcept {
    for (CalibGrid& g : param.Grid) {
        CalibGridIndex ix;
        ix.points = g.Points.data();
        ix.count = g.Points.size();
        ix.size = g.GridSize;
        ix.rectilinear = IsRectilinear(g) ? 1 : 0;
        if (ix.rectilinear) {
            try {
                ix.lattice = BuildLattice(g, param.ValSize);
            } catch (...) {
                // Without memory for the lattice the cells are found by the scan.
            }
        }
        g.Index = std::move(ix);
    }
}

}  // namespace calib
