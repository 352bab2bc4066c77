// The G-code (or HPGL) export that the closed outline shapes share: the
// rectangle, the Bezier curve, the circle and the ellipse arc.
#pragma once

class CBaseShape;
struct GCodeContext;

// Flattens the shape through its GetFlattenPathPoints with the shape's own
// smoothing ratio and writes the first point as a rapid move and every later
// point as a cutting move, all at z 0. A shape that flattens to nothing
// writes nothing; a point that is not finite is left out and the path goes
// on from the next finite point with a rapid move. Returns 0.
int ExportFlattenedGCode(CBaseShape& shape, GCodeContext& ctx);
