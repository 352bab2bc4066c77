// Entity records of the DXF reader: plain value structures that the reader
// fills from a file and the entity builder turns into shapes.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <string>
#include <vector>

#include "morvik/gdiplus/gdiplus_types.h"

// The placement that block INSERTs apply to the entities read inside them:
// about the base point, a turn by dPreRotateAngle, the scaling, then a turn by
// dRotateAngle. A single INSERT needs no first turn; the placements of nested
// INSERTs compose into one that may (a non-uniform scale inside a turned
// block). Negative scales mirror.
struct MORVIK_API tagZoomRotate {
    double dRotateAngle = 0.0;  // degrees
    // Centre of the scaling and of the rotation.
    Gdiplus::PointF ptBase;
    double dScaleX = 1.0;
    double dScaleY = 1.0;
    double dScaleZ = 1.0;
    double dPreRotateAngle = 0.0;  // degrees
};

// The fields every entity record begins with.
struct MORVIK_API tagDxfEntityHead {
    // The block inside which the entity was read; empty at top level.
    std::wstring strBlockName;
    // Group 8: decides which layer group the entity's shape joins.
    std::wstring strLayer;
    tagZoomRotate zoomRotate;
};

// An ELLIPSE entity.
struct MORVIK_API tagEllipse : tagDxfEntityHead {
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

// The entity builder names the common header of a record this way.
using tagBlock = tagDxfEntityHead;

// LINE: the points in file order.
struct MORVIK_API tagLine : tagDxfEntityHead {
    std::vector<Gdiplus::PointF> arrPoint;
};

// SOLID: a closed outline (corners 1, 2, 4, 3 and the first again).
struct MORVIK_API tagSolid : tagDxfEntityHead {
    std::vector<Gdiplus::PointF> arrPoint;
    int nExtrusionZ = 0;
};

// ARC and CIRCLE (a circle runs from 0 to 360 degrees).
struct MORVIK_API tagArc : tagDxfEntityHead {
    Gdiplus::PointF ptCenter;
    double dRadius = 0.0;
    int nReserved = 0;
    double dStartAngle = 0.0;  // degrees
    double dEndAngle = 360.0;  // degrees
    int bCounterClockwise = 1;
    int nReserved2 = 1;
};

// POINT.
struct MORVIK_API tagDxfPt : tagDxfEntityHead {
    Gdiplus::PointF ptPos;
};

// TEXT and ATTDEF.
struct MORVIK_API tagText : tagDxfEntityHead {
    Gdiplus::PointF ptFirst;
    // The second alignment point; the first one when the file gives none, so
    // that a rotation about it turns the text in place.
    Gdiplus::PointF ptSecond;
    float fHeight = 2.5f;
    float fRotate = 0.0f;  // degrees
    int16_t nGenFlags = 0;  // group 71: 2 backward, 4 upside down
    int16_t nHorzJust = 0;  // group 72
    std::wstring strText;
    // Group 41: the characters' width against their height (1 keeps the
    // font's proportions).
    float fWidthFactor = 1.0f;
    // Group 51: the characters lean right by this many degrees.
    float fOblique = 0.0f;
    // Vertical justification: 0 baseline, 1 bottom, 2 middle, 3 top (group
    // 73 of a TEXT, group 74 of an ATTDEF).
    int16_t nVertJust = 0;
    // Drawn from below (extrusion towards -z): the alignment points are
    // already mapped to drawing coordinates, and the text as laid out at
    // ptFirst with fRotate is to be mirrored in x about ptFirst.
    bool bMirrored = false;
};

// MTEXT, its formatting removed.
struct MORVIK_API tagMText : tagDxfEntityHead {
    Gdiplus::PointF ptInsert;
    float fHeight = 2.5f;
    float fRefWidth = 0.0f;  // group 41
    float fFactor = 1.0f;
    float fRotate = 0.0f;  // degrees, from the x direction
    int16_t nAttach = 0;  // group 71
    int16_t nDirection = 0;  // group 72
    std::wstring strFace;
    std::wstring strText;
    int nReserved = 0;
};

// One vertex or control point. The bulge is the tangent of a quarter of the
// arc angle to the next vertex, negative for clockwise.
struct MORVIK_API tagPolyPoint {
    float x = 0.0f;
    float y = 0.0f;
    double dWeight = 0.0;
    double dBulge = 0.0;
};

// LWPOLYLINE, POLYLINE with its VERTEX entities, and sampled splines.
struct MORVIK_API tagPolyline : tagDxfEntityHead {
    std::vector<tagPolyPoint> arrVertex;
    bool bClosed = false;
};

// DIMENSION: the block holding its picture and its type.
struct MORVIK_API tagDimention : tagDxfEntityHead {
    std::wstring strBlock;  // group 2
    std::wstring strType;   // group 70 as text
};

// A LAYER table record; the name is the header's layer name.
struct MORVIK_API tagLayer : tagDxfEntityHead {
    int nFlags = 0;   // group 70
    int nColor = 0;   // group 62
};

// The record type of the spline list, which a file never fills.
struct MORVIK_API tagSpline : tagDxfEntityHead {};
