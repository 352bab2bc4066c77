// Point correction: working millimetres to 16-bit galvanometer units.
//
// Everything here only reads the record and allocates nothing, so that it can
// run for every point that is marked.
#include "calib_internal.h"

#include <cmath>
#include <cstddef>

namespace calib {

namespace {

constexpr double kCentre = 32768.0;
constexpr double kFullScale = 65535.0;

double Clamp(double v, double lo, double hi) noexcept { return v < lo ? lo : (v > hi ? hi : v); }

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

// A row or column guess from the index, held within 0 to f - 2 (a NaN
// goes to 0).
std::size_t Guess(double t, std::size_t f) noexcept {
    t = t > 0.0 ? t : 0.0;
    const double last = static_cast<double>(f - 2);
    return static_cast<std::size_t>(t < last ? t : last);
}

// The same cell on a rectilinear lattice (every row shares one NomY, every
// column one NomX, columns never decreasing in x, rows never increasing in
// y). There cell (i, j) holds the point exactly when column j's interval
// holds x and row i's interval holds y, and the columns that hold x form one
// run, as do the rows; so the scan's first cell is the first row of the row
// run and the first column of the column run. Each is found by stepping from
// the index's guess to where "x <= X(j + 1)" (for rows "Y(i + 1) <= y")
// turns true, with the same comparisons on the same stored values as the
// scan: the guess only decides how far there is to step.
bool FindCellOnLattice(const CalibGrid& g, std::size_t f, double x, double y, std::size_t& r,
                       std::size_t& c) noexcept {
    const CalibGridPoint* P = g.Points.data();
    const CalibGridIndex& ix = g.Index;
    std::size_t j = Guess((x - ix.x0) * ix.xScale, f);
    while (j > 0 && x <= P[j].NomX) --j;
    while (j < f - 1 && !(x <= P[j + 1].NomX)) ++j;
    if (j == f - 1 || !(P[j].NomX <= x)) return false;
    std::size_t i = Guess((ix.y0 - y) * ix.yScale, f);
    while (i > 0 && P[i * f].NomY <= y) --i;
    while (i < f - 1 && !(P[(i + 1) * f].NomY <= y)) ++i;
    if (i == f - 1 || !(y <= P[i * f].NomY)) return false;
    r = i;
    c = j;
    return true;
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

bool IndexIsCurrent(const CalibGrid& g) noexcept {
    const CalibGridIndex& ix = g.Index;
    return ix.rectilinear == 1 && ix.points == g.Points.data() && ix.count == g.Points.size() &&
           ix.size == g.GridSize;
}

// Offset of the measured field from the nominal one at (x, y), interpolated
// in the cell that holds the point; (0, 0) when no cell holds it or the cell
// gives no finite answer. (x, y) lies within the pattern and perStep is the
// reciprocal of the slot's nominal step.
Point2 GridCellOffset(const CalibGrid& g, double perStep, double x, double y) noexcept {
    constexpr Point2 kNone{0.0, 0.0};
    const auto f = static_cast<std::size_t>(g.GridSize);
    const CalibGridPoint* P = g.Points.data();
    std::size_t r = 0, c = 0;
    const bool found =
        IndexIsCurrent(g) ? FindCellOnLattice(g, f, x, y, r, c) : FindCellByScan(P, f, x, y, r, c);
    if (!found) return kNone;
    const CalibGridPoint& A = P[r * f + c];            // top left
    const CalibGridPoint& B = P[r * f + c + 1];        // top right
    const CalibGridPoint& C = P[(r + 1) * f + c];      // bottom left
    const CalibGridPoint& D = P[(r + 1) * f + c + 1];  // bottom right

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

    // Where the left-right line crosses the top-bottom line; parallel lines
    // do not cross. Both reciprocals start at once, so that only one
    // division lies on the way to the result.
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
        const double perValSize = 1.0 / p.ValSize;
        const Point2 a = AxisIn(p, x, y);
        const double ax = Clamp(a.x, -half, half), ay = Clamp(a.y, -half, half);
        for (int slot = 1; slot < kSlotCount; ++slot) {
            const CalibGrid& g = p.Grid[slot];
            if (g.GridSize < 2 || g.GridSize > p.order) continue;
            const auto f = static_cast<std::size_t>(g.GridSize);
            if (g.Points.size() != f * f) continue;
            const Point2 off = GridCellOffset(g, static_cast<double>(f - 1) * perValSize, ax, ay);
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

void RefreshGridIndex(CalibParam& param) noexcept {
    for (CalibGrid& g : param.Grid) {
        CalibGridIndex ix;
        ix.points = g.Points.data();
        ix.count = g.Points.size();
        ix.size = g.GridSize;
        ix.rectilinear = IsRectilinear(g) ? 1 : 0;
        if (ix.rectilinear) {
            // Guesses for an evenly spaced lattice; any other spacing only
            // makes the search step further.
            const auto f = static_cast<std::size_t>(g.GridSize);
            const CalibGridPoint* P = g.Points.data();
            const double width = P[f - 1].NomX - P[0].NomX;
            const double height = P[0].NomY - P[(f - 1) * f].NomY;
            ix.x0 = P[0].NomX;
            ix.y0 = P[0].NomY;
            ix.xScale = width > 0.0 ? static_cast<double>(f - 1) / width : 0.0;
            ix.yScale = height > 0.0 ? static_cast<double>(f - 1) / height : 0.0;
        }
        g.Index = ix;
    }
}

}  // namespace calib
