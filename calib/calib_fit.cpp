// Fit of the field model of grid slot 0 from its measured points.
#include "calib_internal.h"

#include <cmath>
#include <cstddef>
#include <numbers>

namespace calib {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kHalfPi = std::numbers::pi / 2;

double TriangleArea(Point2 a, Point2 b, Point2 c) noexcept {
    return 0.5 * std::fabs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
}

// Scale of a measured half-width or width; a zero width has no finite scale,
// and 1.0 leaves the field as it is.
double Scale(double nominal, double measured) noexcept {
    const double v = nominal / measured;
    return measured != 0.0 && std::isfinite(v) ? v : 1.0;
}

double EdgeSlope(double num, double den) noexcept { return std::fabs(den) > 1e-7 ? num / den : 0.0; }

// Least-squares coefficient c of a * c ~ t over all observations; 0 (no
// correction) when every a is 0.
double OneUnknownFit(double sumAA, double sumAT) noexcept {
    const double c = sumAT / sumAA;
    return sumAA != 0.0 && std::isfinite(c) ? c : 0.0;
}

void ResetFit(CalibGrid& g, double valSize) noexcept {
    g.AxisXL = g.AxisXR = g.AxisYT = g.AxisYB = valSize * 0.5;
    g.OX = g.OY = 0.0;
    g.SXL = g.SXR = g.SYT = g.SYB = 1.0;
    g.TXL = g.TXR = g.TYT = g.TYB = 0.0;
    g.k[0] = g.k[1] = 1.0;
    g.k[2] = g.k[3] = 0.0;
}

}  // namespace

double LineSkewAngle(Point2 a0, Point2 a1, Point2 b0, Point2 b1) noexcept {
    const double adx = a1.x - a0.x, ady = a1.y - a0.y;
    const double bdx = b1.x - b0.x, bdy = b1.y - b0.y;
    if (adx != 0.0 && bdx != 0.0) {
        // (mA - mB) / (1 + mA mB) with m = dy/dx, multiplied through by
        // adx * bdx so that steep slopes cannot overflow.
        const double num = ady * bdx - adx * bdy;
        const double den = adx * bdx + ady * bdy;
        if (den == 0.0) return num == 0.0 ? 0.0 : kHalfPi;
        const double t = std::atan(num / den);
        return std::isfinite(t) ? t : 0.0;
    }
    if (adx != 0.0) {
        // B is exactly vertical: the angle from B to A, as the general case
        // approaches it, in (-pi/2, pi/2]. A bare atan(mA) would measure A
        // against the horizontal and throw the shear from nearly 0 to about
        // -1/mA as soon as a measured column is typed exactly vertical.
        double t = std::atan(ady / adx) + kHalfPi;
        if (t > kHalfPi) t -= kPi;
        return t;
    }
    if (bdx != 0.0) return kHalfPi - std::atan(bdy / bdx);
    return 0.0;  // both vertical: parallel
}

void ComputeCalibCoefs(CalibParam& param) noexcept {
    CalibGrid& g = param.Grid[0];
    const double V = param.ValSize;
    const long long f = g.GridSize;
    if (f < 1 || g.Points.size() != static_cast<std::size_t>(f * f)) {
        ResetFit(g, V);
        return;
    }
    const auto& P = g.Points;
    const double s = 65535.0 / param.WorkSize;
    const std::size_t n = P.size();
    const std::size_t uf = static_cast<std::size_t>(f), h = uf / 2;
    const std::size_t iTL = 0, iTR = uf - 1, iBL = uf * (uf - 1), iBR = n - 1;
    const std::size_t iT = h, iB = n - h - 1, iL = uf * h, iR = uf * (h + 1) - 1, iC = n / 2;

    const auto raw = [&](std::size_t i) { return Point2{P[i].MeasX, P[i].MeasY}; };
    const auto nom = [&](std::size_t i) { return Point2{P[i].NomX, P[i].NomY}; };

    // 1. Deskew about the centre by the skew of the straighter middle line,
    // when either middle line is bent. The points are transformed on the fly
    // rather than copied.
    double theta = 0.0;
    const double aRow = TriangleArea(raw(iR), raw(iC), raw(iL));
    const double aCol = TriangleArea(raw(iT), raw(iC), raw(iB));
    if (aRow > 0.0001 || aCol > 0.0001) {
        const std::size_t v = aRow > aCol ? iT : iL;
        const std::size_t r = aRow > aCol ? iB : iR;
        theta = LineSkewAngle(nom(v), raw(iC), raw(v), raw(r));
        if (theta > kHalfPi) theta -= kPi;
        if (!(std::fabs(theta) > 1e-7)) theta = 0.0;
    }
    const Point2 c = raw(iC);
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    const auto meas = [&](std::size_t i) {
        const Point2 p = raw(i);
        if (theta == 0.0) return p;
        return Point2{c.x + cosT * (p.x - c.x) - sinT * (p.y - c.y), c.y + cosT * (p.y - c.y) + sinT * (p.x - c.x)};
    };

    // 2. Half-widths and centre offset.
    g.AxisXL = std::fabs(meas(iL).x);
    g.AxisXR = std::fabs(meas(iR).x);
    g.AxisYT = std::fabs(meas(iT).y);
    g.AxisYB = std::fabs(meas(iB).y);
    g.OX = (g.AxisXR - g.AxisXL) * 0.5;
    g.OY = (g.AxisYT - g.AxisYB) * 0.5;

    // 3. Shear from the angle between the middle row and column.
    g.Y2XAngle = LineSkewAngle(meas(iL), meas(iR), meas(iT), meas(iB));
    double shear = std::fabs(g.Y2XAngle) < 1e-7 ? 0.0 : std::tan(g.Y2XAngle - kHalfPi);
    if (!std::isfinite(shear)) shear = 0.0;
    g.PLX = g.PLY = shear;

    // 4. Scales.
    g.SXL = Scale(V, 2.0 * g.AxisXL);
    g.SXR = Scale(V, 2.0 * g.AxisXR);
    g.SX = Scale(V, g.AxisXL + g.AxisXR);
    g.SYT = Scale(V, 2.0 * g.AxisYT);
    g.SYB = Scale(V, 2.0 * g.AxisYB);
    g.SY = Scale(V, g.AxisYT + g.AxisYB);

    // 5. The corners without the shear, for the edge slopes: the field model
    // applies the trapezoid after it has taken the shear out.
    const auto unsheared = [&](std::size_t i) {
        Point2 p = meas(i);
        p.x -= p.y * shear;
        return p;
    };
    const Point2 TL = unsheared(iTL), TR = unsheared(iTR), BL = unsheared(iBL), BR = unsheared(iBR);

    // 6. Trapezoid slopes of the four edges.
    g.TXL = EdgeSlope(BL.x - TL.x, BL.y - TL.y);
    g.TXR = EdgeSlope(BR.x - TR.x, BR.y - TR.y);
    g.TYT = EdgeSlope(TL.y - TR.y, TL.x - TR.x);
    g.TYB = EdgeSlope(BL.y - BR.y, BL.x - BR.x);

    // 7. Cubic terms by least squares through the model of steps 2 to 6. The
    // model takes the shear out itself, so it gets every point as measured
    // (deskewed): corners without their shear would lose it twice, and the
    // cubic terms would then bend an exactly sheared field out of place.
    double sumAA = 0.0, sumAT = 0.0, sumBB = 0.0, sumBT = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point2 p = meas(i);
        const Point2 m = ApplyFieldModel(g, p.x, p.y);
        const double a = m.x * m.y * m.y;
        const double b = m.x * m.x * m.y;
        sumAA += a * a;
        sumAT += a * (P[i].NomX * s - m.x * s);
        sumBB += b * b;
        sumBT += b * (P[i].NomY * s - m.y * s);
    }
    g.k[0] = g.k[1] = 1.0;
    g.k[2] = OneUnknownFit(sumAA, sumAT);
    g.k[3] = OneUnknownFit(sumBB, sumBT);
}

}  // namespace calib
