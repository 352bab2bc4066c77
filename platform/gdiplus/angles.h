// Angle helpers shared by the matrix and the path engine.
#pragma once

#include <cmath>

namespace Gdiplus::detail {

constexpr double kPi = 3.14159265358979323846;

// The C remainder of an angle in degrees by a whole turn (the sign stays).
// An angle within a turn is its own remainder, without the division: arcs
// are built by the hundred thousand, and the division is the costly part.
inline double Within360(double deg) { return deg > -360.0 && deg < 360.0 ? deg : std::fmod(deg, 360.0); }

// Cosine and sine of an angle in degrees, exact at multiples of 90 so that
// quarter turns keep integer coordinates integer.
inline void CosSinDeg(double deg, double& c, double& s) {
    double r = Within360(deg);
    if (r < 0) {
        r += 360.0;
    }
    if (r == 0.0) {
        c = 1;
        s = 0;
    } else if (r == 90.0) {
        c = 0;
        s = 1;
    } else if (r == 180.0) {
        c = -1;
        s = 0;
    } else if (r == 270.0) {
        c = 0;
        s = -1;
    } else {
        const double rad = r * kPi / 180.0;
        c = std::cos(rad);
        s = std::sin(rad);
    }
}

}  // namespace Gdiplus::detail
