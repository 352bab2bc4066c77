// Entity records of the DXF reader: plain value structures that the reader
// fills from a file and the entity builder turns into shapes.
#pragma once

#include <string>

#include "gdiplus/gdiplus_types.h"

// The placement that a block INSERT applies to the entities read inside it.
struct tagZoomRotate {
    double dRotateAngle = 0.0;  // degrees
    // Centre of the scaling and of the rotation.
    Gdiplus::PointF ptBase;
    double dScaleX = 1.0;
    double dScaleY = 1.0;
    double dScaleZ = 1.0;
};

// The fields every entity record begins with.
struct tagDxfEntityHead {
    // The block inside which the entity was read; empty at top level.
    std::wstring strBlockName;
    // Group 8: decides which layer group the entity's shape joins.
    std::wstring strLayer;
    tagZoomRotate zoomRotate;
};

// An ELLIPSE entity.
struct tagEllipse : tagDxfEntityHead {
    Gdiplus::PointF ptCenter;
    // End point of the major axis, in the same (absolute) coordinates as the
    // centre.
    Gdiplus::PointF ptMajorEnd;
    // Length of the minor axis over that of the major axis.
    float fRatio = 0.0f;
    // Parametric angles of the ellipse, radians.
    float fStartParam = 0.0f;
    float fEndParam = 0.0f;
};
