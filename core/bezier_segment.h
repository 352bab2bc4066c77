// The storage unit of Bezier curves: one cubic segment of four points with
// its line type, the three points of the arc it belongs to and its
// smoothing type. BEZIER_4POINTF_DRAW is the plain working form a curve keeps
// in memory; BEZIER_4POINTF is its persistent twin, written field by field.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>

#include "morvik/gdiplus/gdiplus_types.h"
#include "morvik/halder/halder_types.h"
#include "morvik/halder/sribase.h"

struct MORVIK_API BEZIER_4POINTF_DRAW {
    // Start point, first control point, second control point, end point.
    // Zeroed here so a segment never carries indeterminate coordinates; the
    // creator of a segment sets them.
    tagPOINTF p1;
    tagPOINTF p2;
    tagPOINTF p3;
    tagPOINTF p4;
    // The four points in device units as last drawn (drawing offset
    // included); a drawing cache, never geometry.
    Gdiplus::PointF dev4P[4];
    // 0 cubic, 1 straight line, 2 span of a circular arc.
    int32_t LineType = 0;
    // For spans of an arc: the whole arc's start, end and a third point on
    // it; the arc's circle passes through all three.
    tagPOINTF ArcStartPoint;
    tagPOINTF ArcEndPoint;
    tagPOINTF ArcCenterPoint;
    int32_t SmoothType = 0;
};

// The persistent form: the SriBase part, then every field of the plain form
// in the same order.
struct MORVIK_API BEZIER_4POINTF : public SriBase, public BEZIER_4POINTF_DRAW {
    BEZIER_4POINTF() = default;
    BEZIER_4POINTF(const BEZIER_4POINTF_DRAW& seg) : BEZIER_4POINTF_DRAW(seg) {}
    BEZIER_4POINTF(const BEZIER_4POINTF& other) = default;
    ~BEZIER_4POINTF() override = default;

    BEZIER_4POINTF& operator=(const BEZIER_4POINTF& other) = default;
    BEZIER_4POINTF& operator=(const BEZIER_4POINTF_DRAW& seg);

    // The plain working form, every field copied.
    BEZIER_4POINTF_DRAW ToDraw() const { return static_cast<const BEZIER_4POINTF_DRAW&>(*this); }

    // "SmoothType", "LineType", "p1" to "p4", "dev4P" (raw, the four device
    // points), "ArcCenterPoint", "ArcEndPoint", "ArcStartPoint".
    void AddAllProp(bool extended) override;
};
