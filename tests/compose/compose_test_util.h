// Shapes and helpers shared by the group and compound shape tests.
#pragma once

#include <cmath>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/markdata.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/basedoc.h"
#include "support/shape_support.h"

namespace compose_test {

using testsupport::Unlocked;
using testsupport::ViewAt;

// A shape that counts how often it is asked for its mark data. It answers
// with one outline group and one hatch group on its pen, and reports failure
// unless told otherwise, so a container has to keep what a failing child gave.
class MarkProbe : public CBaseShape {
public:
    MarkProbe(unsigned char pen, std::vector<tagPOINTF> pts) : points(std::move(pts)) { m_nPenIndex = pen; }

    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override {
        ++markCalls;
        sawControl = sawControl || ctl != nullptr;
        tagPathData outline;
        outline.nPenIndex = GetPenIndex();
        outline.arrPolylines.push_back(points);
        out.arrPaths.push_back(outline);
        tagPathData hatch;
        hatch.nPenIndex = GetPenIndex() + 100;
        out.arrPaths2.push_back(hatch);
        return result;
    }
    int GetRectangle(Gdiplus::RectF& rect) override {
        rect = CalculateRectangle(points);
        return 0;
    }
    int Move(float dx, float dy) override {
        for (tagPOINTF& p : points) p = {p.x + dx, p.y + dy};
        return CBaseShape::Move(dx, dy);
    }
    CBaseShape* Clone() override { return new MarkProbe(GetPenIndex(), points); }

    std::vector<tagPOINTF> points;
    int markCalls = 0;
    bool sawControl = false;
    bool result = false;
};

inline CPolyLine* Poly(std::vector<tagPOINTF> pts, unsigned char pen = 0) {
    auto* p = new CPolyLine();
    p->arrPoint = std::move(pts);
    p->SetPen(pen);
    return p;
}

// A group of plotter lines as the HPGL reader makes it: each line's pen and points.
inline CGroupShape* LineGroup(std::vector<std::pair<uint8_t, std::vector<tagPOINTF>>> lines) {
    auto* g = new CGroupShape();
    g->bImpFromPlt = true;
    for (auto& [pen, pts] : lines) {
        tagPLTLINE line;
        line.nPen = pen;
        line.arrPoint = pts;
        g->vLines.push_back(line);
    }
    return g;
}

inline bool Near(float a, float b, float tol = 1e-4f) { return std::fabs(a - b) <= tol; }

inline bool SameRect(const Gdiplus::RectF& r, float x, float y, float w, float h, float tol = 1e-4f) {
    return Near(r.X, x, tol) && Near(r.Y, y, tol) && Near(r.Width, w, tol) && Near(r.Height, h, tol);
}

}  // namespace compose_test
