// How finely the polyline offset rounds its joins. Clipper's default arc
// tolerance costs thousands of points per turn at millimetre scale; beyond a
// fixed point budget for the whole offset the tolerance is coarsened just
// enough to stay within it.
#pragma once

#include <polyclipping/clipper.hpp>

#include <cstddef>

namespace offset_joins {

// At most this many points for the round joins of one offset.
constexpr double kRoundJoinPointBudget = 4.0e6;

// Total turning of the path in radians: what the round joins must cover.
// Repeated points are no corners; a closed path turns at its closing corner
// as well, also when its last point repeats the first.
double TotalTurn(const ClipperLib::Path& path, bool closed);

// The arc tolerance (Clipper units) for a round offset by delta units of a
// path with this much turning and this many vertices: 0 (Clipper's default)
// unless that would exceed the point budget.
double RoundArcTolerance(double delta, double turn, size_t vertices);

}  // namespace offset_joins
