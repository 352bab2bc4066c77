// CBezierCurve: the free-form path shape, an open or closed chain of
// segments each of which is a straight line, a cubic Bezier segment or one
// cubic span of a circular arc. Every segment is drawn and flattened as the
// cubic through its four points, whatever its line type.
//
// Nodes are numbered 0 to n for n segments: node i (i < n) is p1 of segment
// i, node n is p4 of the last one; in a closed curve node n coincides with
// node 0. An arc is one or more consecutive spans of line type 2 carrying
// identical arc points; the joints between its spans are not nodes.
#pragma once

#include <vector>

#include "core/bezier_segment.h"
#include "halder/baseshape.h"

class CBezierCurve : public CBaseShape {
    DECLARE_SERIAL(CBezierCurve)

public:
    // An empty curve with the next caption number ("Curve1", "Curve2", ...).
    CBezierCurve();
    ~CBezierCurve() override;

    // ---- persistence -------------------------------------------------------
    // The base shape's keys, then "bClosed" and "arrPointf".
    void AddAllProp(bool extended) override;
    // Rebuilds the saved segment list from the working one; called before
    // every save.
    void UpdatePropsValue() override;
    // After a read: appends every saved segment to the working list (all
    // fields) and empties the saved list again.
    void RestoreAfterRead();

    // ---- conversions ------------------------------------------------------
    // An independent copy of this curve.
    CBaseShape* ToBezier() override;
    // A new polyline through the curve flattened at 0.1 mm, with this
    // curve's document, view and pen.
    CBaseShape* ToPolyLine() override;
    // A copy that does not use up a caption number; it keeps the caption.
    CBaseShape* Clone() override;

    // ---- exports ----------------------------------------------------------
    // One <BezierCurve> element with every segment as four points; returns 0.
    int ExportXmlToBuff(tagXmlBuff& buff) override;
    // The flattened outline as one rapid move and cutting moves at z 0.
    int ExportGCodeToBuff(GCodeContext& ctx) override;

    // ---- drawing ----------------------------------------------------------
    // Previews of a transform (the curve is not changed), in the view.
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;
    // Logical points straight onto the caller's surface, shifted by
    // (dx, dy); arrow non-zero decorates the pen with the path direction.
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;
    // Through slot 24 in the shape's own pen colour, without offsets.
    int Draw(CDC* dc, int arrow, int mode, int unused, int marker) override;
    // In the view: every segment through the view's mapping (mode picks the
    // mapping), shifted by (dx, dy); the device points are kept in dev4P.
    // marker non-zero on a selected shape in mode 0 outlines the start.
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int unused, int marker, float dx,
             float dy) override;
    // In a preview window with the window's mapping; returns 1, or 0 when
    // there is no window or device context.
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int unused, float dx, float dy) override;

    // ---- geometry ---------------------------------------------------------
    // Appends the start and the end point of every segment.
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;
    // The transforms move the four points of every segment. The arc points
    // of arc spans follow the same transform; where a transform does not
    // keep circles circles (unequal zoom factors, a slant) the spans become
    // plain cubic segments. Every transform marks the rectangle stale and
    // forces the next GetMarkData to rebuild; Move also empties the cached
    // mark data.
    int Move(float dx, float dy) override;
    int Rotate(double angle, tagPOINTF centre) override;
    int Zoom(tagPOINTF fixed, double sx, double sy) override;
    int Slope(tagPOINTF fixed, double a, double b) override;
    // Modes 1 (x), 2 (y) and 3 (both); other modes change no point.
    int Mirror(tagPOINTF fixed, int mode) override;
    // Reverses the direction of the whole path.
    int SortPath() override;
    // The bounding rectangle of the curve flattened at 0.01 mm, cached until
    // the geometry changes. Y is the top edge. Returns 0.
    int GetRectangle(Gdiplus::RectF& rect) override;
    // Appends the curve flattened within min(tolerance, smoothing ratio);
    // a tolerance that is not a positive number counts as the smoothing
    // ratio. Consecutive segments join into one polyline.
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;
    // The start of the first segment / the end of the last one: 0 when the
    // point was given, 1 for a curve without segments (point unchanged).
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;
    int GetFlattenPathLastPoint(tagPOINTF& point) override;
    // One path group with the curve's pen and the flattened curve as one
    // polyline; false for a curve without segments. Cached while the shape
    // has a view and no rebuild is forced.
    bool GetMarkData(tagMarkDataPar& data, tagMarkCtlData* ctl) override;
    // 1 when the rubber band (Y its top edge) touches the flattened curve,
    // which is tested as a closed ring.
    int IsSelectedForRect(Gdiplus::RectF& rect) override;

    // Marks the cached rectangle stale and computes it again at once.
    void ReCalcRect();
    // Gives back the caption number the last constructed curve took, for
    // curves built only as fragments of another result.
    void MinusCountNum();

    // Appends the cubic spans (line type 2, at most 90 degrees each) of the
    // circular arc that runs from start through onArc to end. Every span
    // carries start, end and onArc as its arc points; the first span starts
    // exactly at start and the last ends exactly at end. Returns false and
    // appends nothing when the three points do not define a circle
    // (collinear, coincident or not finite).
    static bool AppendArcThrough3Points(std::vector<BEZIER_4POINTF_DRAW>& segments, tagPOINTF start, tagPOINTF onArc,
                                        tagPOINTF end);

    // ---- members ----------------------------------------------------------
    std::vector<BEZIER_4POINTF_DRAW> arrSegment;
    // Editing state of the node editor.
    std::vector<tagPOINTF> arrClickPoint;
    std::vector<int> arrSelectIndex;
    int nEditType = -1;
    int nControlPoint = -1;
    double dDragAngle = 0.0;
    double dDragLength = 0.0;
    BEZIER_4POINTF_DRAW segDrag;
    BEZIER_4POINTF_DRAW segDragPrev;
    BEZIER_4POINTF_DRAW segDragNext;
    tagPOINTF ptCtrlDrag;
    int32_t bClosed = 0;
    // The saved form of arrSegment, valid only around a save or a read.
    std::vector<BEZIER_4POINTF> arrPointf;

private:
    // Applies f to the four points of every segment.
    template <class F>
    void TransformPoints(F&& f);
    // Applies f to the arc points of every arc span, or, when keepsCircles
    // is false, turns arc spans into plain cubic segments.
    template <class F>
    void TransformArcs(F&& f, bool keepsCircles);
    // Strokes every segment as one cubic; map turns a logical point into a
    // device point before the offset is added. store keeps the device points
    // in dev4P.
    template <class Map>
    void StrokeSegments(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, Map&& map, float dx, float dy, bool store);
};
