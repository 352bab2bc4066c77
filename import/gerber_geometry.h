// Geometry helpers of the Gerber reader: arc flattening, the rings of a
// shape, and the polygon clipping that turns strokes, flashes and regions
// into areas. Clipper works on integers: drawing units times kClipperScale,
// rounded half away from zero.
#pragma once

#include <polyclipping/clipper.hpp>

#include <string>
#include <vector>

#include "halder/baseshape.h"

namespace gerber_detail {

using Ring = std::vector<tagPOINTF>;

constexpr double kClipperScale = 3571.0;
// Coordinates and sizes beyond these (millimetres) are refused: they mean a
// damaged file, and would make arcs and clipping run away.
constexpr double kMaxCoordinate = 1.0e6;
constexpr double kMaxApertureSize = 1.0e4;
// At most this many points per flattened arc.
constexpr int kMaxArcPoints = 1 << 16;

// One line on standard output.
void Console(const std::string& text);
void Console(const std::string& text, const std::string& value);
void Console(const std::string& text, long long value);

// Parses the leading number of text the way atof does (a number of the C
// locale after optional blanks; 0 when there is none).
double ParseDouble(const std::string& text);
// The leading integer the way a 32-bit atol does: optional blanks and sign,
// then digits; saturated to the 32-bit range; 0 when there is none.
long ParseLong(const std::string& text);

// Appends the points of the arc about centre with radius r, from startDeg by
// sweepDeg (counter-clockwise positive), both ends included, so that no
// point strays more than flatness from the true arc.
void ArcPoints(tagPOINTF centre, double r, double startDeg, double sweepDeg, double flatness, Ring& out);

// Whether a shape encloses an area: points and open or degenerate polylines
// do not; a compound shape does when one of its members does.
bool HasArea(CBaseShape* shape);
// The closed rings of a shape flattened with the tolerance: one per simple
// shape, the members' rings for a compound shape.
void CollectRings(CBaseShape* shape, double flatness, std::vector<Ring>& rings);

ClipperLib::Path ToClipper(const Ring& ring);
// The area a shape covers: a simple shape's ring under the non-zero rule (so
// its direction does not matter); the members of a compound shape under the
// even-odd rule, so that a hole inside an outline stays open. The result is
// in Clipper's normal form (outer rings counter-clockwise, holes clockwise).
ClipperLib::Paths ShapeRegion(CBaseShape* shape, double flatness);
// The union of rings, each taken on its own whatever its direction.
ClipperLib::Paths UnionRings(const std::vector<Ring>& rings);
// Executes one clipping run; an empty result when Clipper refuses the input.
ClipperLib::Paths Execute(ClipperLib::Clipper& clipper, ClipperLib::ClipType type, ClipperLib::PolyFillType subjectFill,
                          ClipperLib::PolyFillType clipFill);
// Closed polylines (new, owned by the caller) of the paths, scaled back.
void PathsToPolyLines(const ClipperLib::Paths& paths, std::vector<CBaseShape*>& out);

}  // namespace gerber_detail
