#include "morvik/core/gcode_default.h"

#include <cmath>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/halder/baseshape.h"

int ExportFlattenedGCode(CBaseShape& shape, GCodeContext& ctx) {
    std::vector<tagPOINTF> pts;
    shape.GetFlattenPathPoints(pts, shape.GetSmoothRatio());
    // A point that is not finite is never written: the path breaks there and
    // goes on with a rapid move to the next point that is.
    bool down = false;
    for (const tagPOINTF& p : pts) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            down = false;
            continue;
        }
        if (down) {
            ctx.LineTo(p.x, p.y, 0.0f);
        } else {
            ctx.MoveTo(p.x, p.y, 0.0f);
            down = true;
        }
    }
    return 0;
}
