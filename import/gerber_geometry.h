// Geometry helpers of the Gerber reader: arc flattening, the rings of a
// shape, and the polygon clipping that turns strokes, flashes and regions
// into areas. Clipper works on integers: drawing units times kClipperScale,
// rounded half away from zero.
#pragma once

#include <polyclipping/clipper.hpp>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "morvik/halder/baseshape.h"

namespace gerber_detail {

using Ring = std::vector<tagPOINTF>;

constexpr double kClipperScale = 3571.0;
// Coordinates and sizes beyond these (millimetres) are refused: they mean a
// damaged file, and would make arcs and clipping run away.
constexpr double kMaxCoordinate = 1.0e6;
constexpr double kMaxApertureSize = 1.0e4;
// At most this many points per flattened arc.
constexpr int kMaxArcPoints = 1 << 16;

// One diagnostic line (UTF-8) for the run log. A library has no console:
// the lines go to the run log, at most kMaxDiagnostics of them per file
// between BeginDiagnostics and EndDiagnostics, so that a damaged file cannot
// flood the log; EndDiagnostics says how many were left out.
constexpr int kMaxDiagnostics = 64;
void BeginDiagnostics();
void EndDiagnostics();
void Console(const std::string& text);
void Console(const std::string& text, const std::string& value);
void Console(const std::string& text, long long value);

// The leading decimal number of text in the C locale, after optional spaces
// and tabs; 0 when there is none; an infinity of its sign when it is too
// large for a double.
double ParseDouble(std::string_view text);
// The leading integer the way a 32-bit atol does: optional spaces, tabs and
// sign, then digits; saturated to the 32-bit range; 0 when there is none.
long ParseLong(std::string_view text);
// The digits of a coordinate (after blanks, with a sign) as a whole number,
// without the 32-bit limit: formats of up to six integer and six decimal
// digits pass it. Held at +-1e18; 0 when there are no digits.
double ParseCoordinateDigits(std::string_view text);

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
// The union of rings, each taken on its own whatever its direction; under
// the even-odd rule the rings are taken as they are instead, so that a ring
// inside another is a hole.
ClipperLib::Paths UnionRings(const std::vector<Ring>& rings,
                             ClipperLib::PolyFillType fill = ClipperLib::pftNonZero);
// Executes one clipping run; an empty result when Clipper refuses the input.
ClipperLib::Paths Execute(ClipperLib::Clipper& clipper, ClipperLib::ClipType type, ClipperLib::PolyFillType subjectFill,
                          ClipperLib::PolyFillType clipFill);
// Closed polylines (new, owned by the caller) of the paths, scaled back.
void PathsToPolyLines(const ClipperLib::Paths& paths, std::vector<CBaseShape*>& out);

// One area of an image: in Clipper's normal form, or else (normal off) a
// set of simple rings, each counter-clockwise, that may overlap, or else
// (simple off too) rings as written, which may cross themselves, whose area
// is the non-zero fill of them alone.
struct MergeItem {
    const ClipperLib::Paths* area = nullptr;
    bool clear = false;
    bool normal = true;
    bool simple = true;
};
// The image of areas laid down in order, each dark or clear: every dark
// area less the clear areas after it that overlap it, all united, as closed
// rings in Clipper's normal form.
ClipperLib::Paths MergeAreas(const std::vector<MergeItem>& items);

// ---- aperture macros ----
// Macro variables by number ($1 is 1); an unset variable reads as 0.
using MacroVariables = std::map<int, double>;
// Evaluates a macro expression: numbers, variables, + - x / (x or X is
// multiplication), unary signs and parentheses. False for anything else.
bool EvalMacroExpression(std::string_view text, const MacroVariables& vars, double& value);

// The area of one primitive in millimetres, turned about the origin by its
// rotation, and whether it adds to the template (exposure on) or clears.
struct MacroRegion {
    ClipperLib::Paths paths;
    bool dark = true;
};
// values are the primitive's evaluated fields in file units (values[0] is
// the code); scale turns file units into millimetres. False for comments,
// unknown codes, missing fields and shapes without area.
bool MacroPrimitiveRegion(const std::vector<double>& values, double scale, double flatness, MacroRegion& out);

}  // namespace gerber_detail
