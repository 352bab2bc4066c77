// The grid correction as it stood before the per-cell tables: a reference
// that the faster library must keep to within 1e-6 galvanometer units. It
// finds the cell by the plain row-major scan and crosses the edge lines of
// the cell, exactly as the first version did. Do not "fix" it.
#ifndef TESTS_CALIB_REFERENCE_CORRECTION_H
#define TESTS_CALIB_REFERENCE_CORRECTION_H

#include "calib.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace calibref {

struct P2 {
    double x, y;
};

inline double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline P2 AxisIn(const CalibParam& p, double x, double y) {
    if (!p.SwapXY) return {p.InvertX ? -x : x, p.InvertY ? -y : y};
    return {p.InvertY ? -x : x, p.InvertX ? -y : y};
}

inline double InterpolateTable(const std::vector<double>& pos, const std::vector<double>& val, double v) {
    if (pos.empty() || pos.size() != val.size() || std::fabs(v) <= 1e-7) return 1.0;
    if (v <= pos.front()) return val.front();
    if (v >= pos.back()) return val.back();
    for (std::size_t i = 0; i + 1 < pos.size(); ++i)
        if (pos[i] <= v && v < pos[i + 1]) {
            const double span = pos[i + 1] - pos[i];
            return span == 0.0 ? val[i] : val[i] + (val[i + 1] - val[i]) * (v - pos[i]) / span;
        }
    return 1.0;
}

inline bool Finish(double ox, double oy, double* out) {
    ox += 32768.0;
    oy += 32768.0;
    if (std::isnan(ox) || std::isnan(oy)) {
        out[0] = out[1] = 32768.0;
        return false;
    }
    out[0] = Clamp(ox, 0.0, 65535.0);
    out[1] = Clamp(oy, 0.0, 65535.0);
    return true;
}

inline P2 FieldModel(const CalibGrid& g, double x, double y) {
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

inline P2 CellOffset(const CalibGrid& g, double perStep, double x, double y) {
    const P2 none{0.0, 0.0};
    const auto f = static_cast<std::size_t>(g.GridSize);
    const CalibGridPoint* P = g.Points.data();
    for (std::size_t r = 0; r + 1 < f; ++r)
        for (std::size_t c = 0; c + 1 < f; ++c) {
            const CalibGridPoint& A = P[r * f + c];
            const CalibGridPoint& B = P[r * f + c + 1];
            const CalibGridPoint& C = P[(r + 1) * f + c];
            const CalibGridPoint& D = P[(r + 1) * f + c + 1];
            if (!(A.NomX <= x && x <= D.NomX && D.NomY <= y && y <= A.NomY)) continue;
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
            const double a1 = yl - yr, b1 = xr - xl, c1 = xl * yr - xr * yl;
            const double a2 = yt - yb, b2 = xb - xt, c2 = xt * yb - xb * yt;
            const double det = b1 * a2 - b2 * a1;
            if (det == 0.0) return none;
            const double perDet = 1.0 / det;
            const double perDy = 1.0 / (yb - yt);
            const double ix = (b2 * c1 - b1 * c2) * perDet;
            const double iy = (a1 * c2 - a2 * c1) * perDet;
            P2 off;
            off.x = xb == xt ? xt - x : ix - x;
            off.y = yb == yt ? yl - y : (yt - A.NomY) + (iy - yt) * ((yb - C.NomY) - (yt - A.NomY)) * perDy;
            if (!std::isfinite(off.x) || !std::isfinite(off.y)) return none;
            return off;
        }
    return none;
}

// CalibPoint of a grid-mode record.
inline bool CalibPointByGrid(const CalibParam& p, double x, double y, double* out) {
    const CalibGrid& g0 = p.Grid[0];
    const double s = 65535.0 / p.WorkSize;
    if (!std::isfinite(s)) return Finish(NAN, NAN, out);
    const P2 m = FieldModel(g0, x, y);
    double ox = m.x * s + g0.k[2] * m.y * m.y * m.x;
    double oy = m.y * s + g0.k[3] * m.x * m.x * m.y;
    const double sx = p.SwapXY ? g0.SY : g0.SX;
    const double sy = p.SwapXY ? g0.SX : g0.SY;
    double dx = 0.0, dy = 0.0;
    if (p.ValSize > 0.0) {
        const double half = p.ValSize / 2.0;
        const double perValSize = 1.0 / p.ValSize;
        const P2 a = AxisIn(p, x, y);
        const double ax = Clamp(a.x, -half, half), ay = Clamp(a.y, -half, half);
        for (int slot = 1; slot < 7; ++slot) {
            const CalibGrid& g = p.Grid[slot];
            if (g.GridSize < 2 || g.GridSize > p.order) continue;
            const auto f = static_cast<std::size_t>(g.GridSize);
            if (g.Points.size() != f * f) continue;
            const P2 off = CellOffset(g, static_cast<double>(f - 1) * perValSize, ax, ay);
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

}  // namespace calibref

#endif  // TESTS_CALIB_REFERENCE_CORRECTION_H
