#include "core/gcode_default.h"

#include <vector>

#include "core/exportsink.h"
#include "halder/baseshape.h"

int ExportFlattenedGCode(CBaseShape& shape, GCodeContext& ctx) {
    std::vector<tagPOINTF> pts;
    shape.GetFlattenPathPoints(pts, shape.GetSmoothRatio());
    if (pts.empty()) {
        return 0;
    }
    ctx.MoveTo(pts[0].x, pts[0].y, 0.0f);
    for (size_t i = 1; i < pts.size(); ++i) {
        ctx.LineTo(pts[i].x, pts[i].y, 0.0f);
    }
    return 0;
}
