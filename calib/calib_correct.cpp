// Point correction: working millimetres to 16-bit galvanometer units.
//
// Everything here only reads the record and allocates nothing, so that it can
// run for every point that is marked.
#include "calib_internal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace calib {

// Two doubles worked on at once (x and y).
using Pair = double __attribute__((vector_size(16)));

// A bilinear cell's offset as (x, y) pairs of coefficients in the steps t
// (along the row) and u (down the column) from its top left corner:
//   (c[0] - (x, 0)) + c[1] t + (c[2] + c[3] t) u.
struct CellFit {
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
// (x - x0) * xScale, and row, (y0 - y) * yScale, the measured positions the
// cells were prepared from, and for each cell whether its offset takes the
// bilinear form for one pattern size.
struct CalibLattice {
    const CalibGridPoint* points = nullptr;     // the slot's Points when it was built
    const CalibGridPoint* pointsEnd = nullptr;  // and their end
    std::size_t f = 0;      // points per row and column
    double lastCell = 0.0;  // f - 2
    double valSize = 0.0;   // the pattern size the cells were checked for
    double perStep = 0.0;   // (f - 1) / valSize
    double x0 = 0.0, xScale = 0.0;
    double y0 = 0.0, yScale = 0.0;
    std::vector<double> colX, rowY;     // NomX of each column, NomY of each row
    std::vector<double> measured;         // MeasX, MeasY of each point, row-major
    std::vector<unsigned char> bilinear;  // per cell, row-major: 1 when IsBilinearCell held
};

namespace calib {

namespace {

const CalibLattice* CurrentLattice(const CalibGrid& g, std::size_t f) noexcept {
    const CalibLattice* L = g.Index.lattice.get();
    const CalibGridPoint* P = g.Points.data();
    return L && L->points == P && L->pointsEnd == P + g.Points.size() && L->f == f ? L : nullptr;
}

// A row or column guess, held within 0 to f - 2 (a NaN goes to 0).
std::size_t Guess(double t, double lastCell) noexcept {
    t = t > 0.0 ? t : 0.0;
    t = t < lastCell ? t : lastCell;
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(t));
}

// The scan's cell on a lattice. There cell (i, j) holds the point exactly
// when column j's interval holds x and row i's interval holds y, and the
// columns that hold x form one run, as do the rows; so the scan's first cell
// is the first row of the row run and the first column of the column run.
// Each is found by stepping from the guess to where "x <= X(j + 1)" (for
// rows "Y(i + 1) <= y") turns true, with the same comparisons on the same
// values as the scan: the guess only decides how far there is to step. Most
// guesses are right, which the first test of each axis settles.
bool FindCellOnLattice(const CalibLattice& L, double x, double y, std::size_t& r, std::size_t& c) noexcept {
    const std::size_t f = L.f;
    const double* X = L.colX.data();
    const double* Y = L.rowY.data();
    std::size_t j = Guess((x - L.x0) * L.xScale, L.lastCell);
    if (!(!(x <= X[j]) && x <= X[j + 1])) {
        while (j > 0 && x <= X[j]) --j;
        while (j < f - 1 && !(x <= X[j + 1])) ++j;
        if (j == f - 1 || !(X[j] <= x)) return false;
    }
    std::size_t i = Guess((L.y0 - y) * L.yScale, L.lastCell);
    if (!(!(Y[i] <= y) && Y[i + 1] <= y)) {
        while (i > 0 && Y[i] <= y) --i;
        while (i < f - 1 && !(Y[i + 1] <= y)) ++i;
        if (i == f - 1 || !(y <= Y[i])) return false;
    }
    r = i;
    c = j;
    return true;
}

// Offset of the measured field from the nominal one at (x, y) in a slot of
// f x f points, from the first cell in row-major order that holds the point;
// (0, 0) when none does.
Point2 ScanOffset(const CalibGridPoint* P, std::size_t f, double valSize, double x, double y) noexcept {
    std::size_t r = 0, c = 0;
    if (!FindCellByScan(P, f, x, y, r, c)) return {0.0, 0.0};
    return CornerOffset(P, f, r, c, PerStep(f, valSize), x, y);
}

// Whether the corners of cell (r, c), its top pair of points (top left, top
// right: neighbours in memory) and its bottom pair, still hold the numbers
// the cell was prepared from, to the bit: nominal positions on the lattice's
// lines, measured ones as kept. The comparison is made without branches; the
// correction reads these numbers anyway.
bool CellAsPrepared(const CalibLattice& L, std::size_t r, std::size_t c, const CalibGridPoint* top,
                    const CalibGridPoint* bottom) noexcept {
    using Words = std::uint64_t __attribute__((vector_size(16)));
    const auto words = [](double a, double b) {
        Words w;
        const double v[2] = {a, b};
        std::memcpy(&w, v, 16);
        return w;
    };
    const double* mt = &L.measured[2 * (r * L.f + c)];
    const double* mb = mt + 2 * L.f;
    const double x0 = L.colX[c], x1 = L.colX[c + 1], y0 = L.rowY[r], y1 = L.rowY[r + 1];
    // Each point as it should be: (NomX, NomY), (MeasX, MeasY).
    const Words then[8] = {words(x0, y0), words(mt[0], mt[1]), words(x1, y0), words(mt[2], mt[3]),
                           words(x0, y1), words(mb[0], mb[1]), words(x1, y1), words(mb[2], mb[3])};
    Words diff{0, 0};
    for (int half = 0; half < 2; ++half) {
        const char* now = reinterpret_cast<const char*>(half == 0 ? top : bottom);
        for (int i = 0; i < 4; ++i) {
            Words a;
            std::memcpy(&a, now + 16 * i, 16);
            diff |= a ^ then[4 * half + i];
        }
    }
    return (diff[0] | diff[1]) == 0;
}

// Starts fetching what LatticeOffset reads of cell (r, c).
void PrefetchCell(const CalibLattice& L, const CalibGridPoint* P, std::size_t r, std::size_t c) noexcept {
    const std::size_t f = L.f;
    const char* top = reinterpret_cast<const char*>(P + r * f + c);
    const char* bottom = reinterpret_cast<const char*>(P + (r + 1) * f + c);
    __builtin_prefetch(top);
    __builtin_prefetch(top + 2 * sizeof(CalibGridPoint) - 1);
    __builtin_prefetch(bottom);
    __builtin_prefetch(bottom + 2 * sizeof(CalibGridPoint) - 1);
    __builtin_prefetch(&L.measured[2 * (r * f + c)]);
    __builtin_prefetch(&L.measured[2 * ((r + 1) * f + c)]);
}

// The offset from cell (r, c) of a lattice slot, the cell that FindCellOnLattice
// gave for (x, y); (x, y) lies within the pattern of size valSize. The
// lattice holds the same numbers as the points, so this gives the same
// result to the bit as ScanOffset. A host may have edited points in place
// since: a cell whose corners are no longer the prepared ones is answered by
// the scan of the points as they stand.
Point2 LatticeOffset(const CalibLattice& L, const CalibGridPoint* P, std::size_t r, std::size_t c, double valSize,
                     double x, double y) noexcept {
    const std::size_t f = L.f, cell = r * (f - 1) + c;
    const CalibGridPoint& A = P[r * f + c];
    const CalibGridPoint& B = P[r * f + c + 1];
    const CalibGridPoint& C = P[(r + 1) * f + c];
    const CalibGridPoint& D = P[(r + 1) * f + c + 1];
    if (!CellAsPrepared(L, r, c, &A, &C)) [[unlikely]]
        return ScanOffset(P, f, valSize, x, y);
    if (L.valSize == valSize && L.bilinear[cell])
        return BilinearOffset(FitCell(A, B, C, D), Pair{A.NomX, A.NomY}, L.perStep, x, y);
    return CornerOffset(P, f, r, c, PerStep(f, valSize), x, y);
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
        // Each slot's cell is found first and its memory fetched, so that
        // the slots' cells are on their way at once; then the offsets follow
        // in slot order.
        enum { kSkip, kCell, kScan };
        struct Found {
            int how;
            const CalibLattice* L;
            std::size_t r, c;
        } found[kSlotCount];  // not cleared: every slot's `how` is set below
        for (int slot = 1; slot < kSlotCount; ++slot) {
            const CalibGrid& g = p.Grid[slot];
            Found& k = found[slot];
            k.how = kSkip;
            if (g.GridSize < 2 || g.GridSize > p.order) continue;
            const auto f = static_cast<std::size_t>(g.GridSize);
            if (const CalibLattice* L = CurrentLattice(g, f)) {  // a lattice is built for f x f points only
                k.L = L;
                if (FindCellOnLattice(*L, ax, ay, k.r, k.c)) {
                    k.how = kCell;
                    PrefetchCell(*L, g.Points.data(), k.r, k.c);
                }
            } else if (g.Points.size() == f * f) {
                k.how = kScan;
            }
        }
        for (int slot = 1; slot < kSlotCount; ++slot) {
            const Found& k = found[slot];
            const CalibGrid& g = p.Grid[slot];
            Point2 off;
            if (k.how == kCell)
                off = LatticeOffset(*k.L, g.Points.data(), k.r, k.c, p.ValSize, ax, ay);
            else if (k.how == kScan)
                off = ScanOffset(g.Points.data(), static_cast<std::size_t>(g.GridSize), p.ValSize, ax, ay);
            else
                continue;
            dx += off.x;
            dy += off.y;
        }
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
    L->lastCell = static_cast<double>(f - 2);
    L->valSize = valSize;
    L->perStep = valSize > 0.0 ? PerStep(f, valSize) : 0.0;  // without a size the grids take no part
    // Guesses for an evenly spaced lattice; any other spacing only makes
    // the search step further.
    const double width = P[f - 1].NomX - P[0].NomX;
    const double height = P[0].NomY - P[(f - 1) * f].NomY;
    L->x0 = P[0].NomX;
    L->y0 = P[0].NomY;
    L->xScale = width > 0.0 ? static_cast<double>(f - 1) / width : 0.0;
    L->yScale = height > 0.0 ? static_cast<double>(f - 1) / height : 0.0;
    L->colX.resize(f);
    L->rowY.resize(f);
    for (std::size_t i = 0; i < f; ++i) {
        L->colX[i] = P[i].NomX;
        L->rowY[i] = P[i * f].NomY;
    }
    L->measured.resize(2 * f * f);
    for (std::size_t i = 0; i < f * f; ++i) {
        L->measured[2 * i] = P[i].MeasX;
        L->measured[2 * i + 1] = P[i].MeasY;
    }
    L->bilinear.resize((f - 1) * (f - 1));
    for (std::size_t r = 0; r + 1 < f; ++r)
        for (std::size_t c = 0; c + 1 < f; ++c) {
            const CalibGridPoint &A = P[r * f + c], &B = P[r * f + c + 1];
            const CalibGridPoint &C = P[(r + 1) * f + c], &D = P[(r + 1) * f + c + 1];
            const std::size_t cell = r * (f - 1) + c;
            L->bilinear[cell] = IsBilinearCell(A, B, C, D, L->perStep) ? 1 : 0;
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
