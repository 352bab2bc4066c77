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

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/core/bezier_segment.h"
#include "morvik/halder/baseshape.h"

class CCombineShape;
struct AffineMap;
// The node editor's change records (history/undo_records.h): a segment at a
// position, and what one node edit added to and removed from a curve.
struct stBezierPos;
struct stBezierCurve;

// The curve's segments, closed flag and node-editor state, each listed here
// once: a copy takes them whole.
struct BezierCurveFields {
    std::vector<BEZIER_4POINTF_DRAW> arrSegment;
    // Editing state of the node editor.
    std::vector<tagPOINTF> arrClickPoint;
    std::vector<int> arrSelectIndex;
    int nEditType = -1;
    int nControlPoint = -1;
    BEZIER_4POINTF_DRAW segDrag;
    BEZIER_4POINTF_DRAW segDragPrev;
    BEZIER_4POINTF_DRAW segDragNext;
    // Where the last handle drag put the opposite handle.
    tagPOINTF ptCtrlDrag;
    int32_t bClosed = 0;
};

class MORVIK_API CBezierCurve : public CBaseShape, public BezierCurveFields {
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
    // mark data. A transform with a number that is not finite, or one that
    // would take a point beyond the float range, changes nothing (all
    // return 0: the interface has no failure result here).
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
    // (collinear, coincident or not finite) or the arc would not fit in the
    // float range.
    static bool AppendArcThrough3Points(std::vector<BEZIER_4POINTF_DRAW>& segments, tagPOINTF start, tagPOINTF onArc,
                                        tagPOINTF end);

    // ---- node editing: hit tests ------------------------------------------
    // The node editor's distances derive from the pick distance (device
    // pixels): a node or handle is hit within pick x 10 / zoom millimetres,
    // the curve within a detour of pick x 4 (twice that with m_nPickDouble).
    //
    // What is under points[0] (logical): a node (node k + 1, points then
    // holds the four points of the incoming and of the outgoing segment), a
    // handle of a cubic segment while handles are shown (handle h + 1, h = 2k
    // for p2 and 2k + 1 for p3 of segment k; points holds that segment), or
    // nothing (0). A node hit shows the handles of that node; a miss hides
    // them. The joints inside an arc are not nodes.
    int GetEditPoint(std::vector<tagPOINTF>& points) override;
    void SetEditType(int type) { nEditType = type; }
    int GetEditType() const { return nEditType; }
    void SetControlPoint(int node) { nControlPoint = node; }
    int GetControlPoint() const { return nControlPoint; }
    // Selects the nodes strictly inside the box spanned by a and b into
    // arrSelectIndex (the end node before the last segment's start node; no
    // joints inside arcs). Returns 0.
    int GetRectInEditPoint(tagPOINTF a, tagPOINTF b);
    // Distance in device pixels from p to one segment as the view shows it.
    // With t in [0, 1] on entry: to the point at that fraction of the
    // segment's length. Otherwise: to the nearest point, whose length
    // fraction comes back in t (t < 0 when nothing was found). 999 when the
    // segment cannot be measured.
    double DistanceBz(const BEZIER_4POINTF_DRAW& seg, tagPOINTF p, double& t);
    // Moves p onto the nearest point of the flattened curve when it lies
    // within the curve band: the index (1 or more) of the chord it snapped
    // to, or -1 with p unchanged.
    int GetPtOnCurve(tagPOINTF& p);
    // 1 + the segment under points[0], or 0. On a hit the segment drag
    // starts: points becomes the segment's points with the snapped pointer
    // first, and segDrag, segDragPrev, segDragNext take copies of the
    // segment and its neighbours. The second form also returns the snapped
    // pointer.
    int GetEditCurve(std::vector<tagPOINTF>& points);
    int GetEditCurve(std::vector<tagPOINTF>& points, tagPOINTF& snapped);
    // The segment-level hit tests of the shape interface: 1 + the segment
    // whose band holds the point (1 also for a handle of this curve while it
    // is node-edited and nodes are shown), else 0; 1 when the curve as the
    // view shows it lies inside rect (Y its top edge); 1 when the control
    // polygon's bounds overlap or touch the visible part of the view.
    int IsMe(tagPOINTF point) override;
    int IsInRect(Gdiplus::RectF& rect) override;
    int IsInClientRectF() override;

    // ---- node editing: drawing (device pixels around each point) ----------
    // Node squares (arc joints left out) while nodes are shown, then the
    // handles and handle lines of node nControlPoint while handles are shown.
    // -1 when a display switch is off, else 0.
    int DrawEditPoints(CDC* dc) override;
    // Filled squares on the selected nodes, the first one larger. Returns 0.
    int DrawSelectPoints(CDC* dc);
    // A filled dot on the first click point: 1 when drawn, else 0.
    int DrawClickPoints(CDC* dc);
    // A handle square with the current brush.
    void DrawPoint(CDC* dc, tagPOINTF p);
    // A dotted blue handle line; the previous pen is restored.
    void DrawLine(CDC* dc, tagPOINTF a, tagPOINTF b);

    // ---- node editing: changes ---------------------------------------------
    // Moves what the last GetEditPoint found (nEditType) to p: node `index`
    // with the ends of its two segments (an arc whose end moves is rebuilt
    // keeping its other end and that end's tangent), or handle `index` (when
    // both cubic segments at its node share their SmoothType, the opposite
    // handle turns in line with it through the node, keeping its length; its
    // new place is left in ptCtrlDrag). With record the change goes to the
    // document's history.
    // Returns 0.
    int ModifyEditPoint(int index, tagPOINTF p) override;
    int ModifyEditPoint(int index, tagPOINTF p, bool record);
    // One pointer move of a segment drag started by GetEditCurve (drag is
    // its result): from p by (dx, dy). A line moves whole with its
    // neighbours' ends following (segDragPrev, segDragNext); a curve bends:
    // both control points move along the pointer's direction by the length
    // that brings the grabbed point nearest the pointer, and (dx, dy) comes
    // back as that move. Only the working copies change. Returns 0.
    int CalculateDragLine(int drag, tagPOINTF p, double& dx, double& dy);
    // Ends the segment drag at p: a line is moved with its neighbours, an
    // arc is rebuilt through its ends and p, a curve takes segDrag. Records.
    // Returns 0.
    int ModifyEditLine(int drag, tagPOINTF p);
    // Replay of a drag record: each position below the segment count takes
    // its segment. Returns 0.
    int DoDrag(int count, const stBezierPos* positions);
    // Splits segment `segment` at the point of it nearest to p (with snap
    // non-zero at that point, else at p itself, which must then lie within
    // 1 mm); arcs split into two arcs. record == 1 records. 1 when split.
    int InsertPoint(int segment, tagPOINTF p, int snap, int record);
    // Splits the arc that segment `segment` belongs to at p into two arcs.
    // 1 when split; 0 changes nothing.
    int InsertPointInArc(tagPOINTF p, int segment, bool record);
    // Deletes nodes (the list is taken from its last entry to its first);
    // the curve stays joined, an open curve keeps its end and a closed curve
    // stays closed. Records. 0 for an empty list, else 1.
    int DeletePoint(std::vector<int> nodes);

    // ---- node operations -----------------------------------------------
    // Closes an open curve with a straight segment back to the start.
    int ClosePloyLine();
    // Closes an open curve by moving both ends to their midpoint.
    int MergerEditPoint();
    // Aligns the selected nodes: mode 0 left (smallest x), 1 right, 2 top
    // (largest y), 3 bottom; withControls moves the touching segments'
    // control points to the same coordinate. Returns 0.
    int EditPointAligh(int mode, bool withControls);
    // A new compound shape (the caller owns it) with the curve cut at the
    // selected nodes; a closed curve cut at one node becomes one open curve
    // starting there. The curve itself is not changed.
    CCombineShape* SeparateEditPoint();
    // The segment under arrClickPoint[0] becomes a straight line, a cubic or
    // a circular arc through the click point. 1 when it changed, 0 when
    // there is no such segment or it already is of that kind. ModifyToLine
    // always records; the other two when record is set.
    int ModifyToLine(bool record);
    int ModifyToBezier(bool record);
    int ModifyToArc(bool record);
    // 0 when segment index is an arc piece, else 1; changes nothing.
    int MoveArc(int index, double value);
    // Commits the drag of the straight segment index (segDrag) with its
    // neighbours (segDragPrev, segDragNext; neighbouring arcs are rebuilt to
    // keep their far end). 0 when it is not a straight segment, else 1. The
    // Head and End forms serve the first and the last segment of a closed
    // curve, whose other neighbour lies across the closing joint.
    int MoveLineInCurve(int index);
    int MoveLineInCurveHead();
    int MoveLineInCurveEnd();
    // Replays a node insertion (add non-zero) or removal at a.nIndex; b
    // gives the controls and points the four points a removal restores.
    void AddDelPoint(int add, stBezierPos a, stBezierPos b, const tagPOINTF points[4]);
    // Chains the segments of `in` end to start into `out`.
    static void OrderCurve(const std::vector<BEZIER_4POINTF_DRAW>& in, std::vector<BEZIER_4POINTF_DRAW>& out);
    // Undo (mode 1) or redo (mode 0) of a recorded node edit: the segments
    // go back to the indices the record names, and the closed flag with them.
    void ChangeCurve(stBezierCurve change, int mode);
    // Each of the four points of x within 0.0001 of the same point of y.
    static bool CompareBezierCurve(const BEZIER_4POINTF_DRAW& x, const BEZIER_4POINTF_DRAW& y);

    // ---- members ----------------------------------------------------------
    // The segments, closed flag and node-editor state are BezierCurveFields.
    double dDragAngle = 0.0;
    double dDragLength = 0.0;
    // The saved form of arrSegment, valid only around a save or a read.
    std::vector<BEZIER_4POINTF> arrPointf;

    // Node-editor state that the host's view and document own; the host's
    // node-edit tool keeps these in step. Nodes shown (edit squares drawn);
    // handles shown (drawn and hit-tested; GetEditPoint switches it);
    // whether this curve is the one being node-edited (its handles then
    // count for IsMe); non-zero doubles the curve band.
    bool m_bShowNodes = true;
    bool m_bShowHandles = false;
    bool m_bNodeEditShape = false;
    int m_nPickDouble = 0;

private:
    // ---- node editing helpers (bezier_edit.cpp) ----------------------------
    int GetEditPointOnCurve(std::vector<tagPOINTF>& points);
    int GetEditPointOfCtrl(std::vector<tagPOINTF>& points);
    // 1 + the chord of the flattened segment (four points) whose detour
    // from p stays within the band, else 0.
    int IsPtOnCurve(tagPOINTF p, const std::vector<tagPOINTF>& four);
    int IsPtOnCtrlPoint(tagPOINTF p);
    // The length search of a curve drag.
    double CalculateDragLine(const BEZIER_4POINTF_DRAW& seg, tagPOINTF target, double t);
    int ModifyEditControlPoint(int handle, tagPOINTF p, std::vector<BEZIER_4POINTF_DRAW>& removed,
                               std::vector<BEZIER_4POINTF_DRAW>& added);
    int GetCircleHeadIndex(const BEZIER_4POINTF_DRAW& piece);
    void GetBezierInCircle(const BEZIER_4POINTF_DRAW& piece, std::vector<BEZIER_4POINTF_DRAW>& out);
    void DeleteCircleBezier(const BEZIER_4POINTF_DRAW& piece, std::vector<BEZIER_4POINTF_DRAW>& removed);
    void ConnectHeadToEnd(int mode, std::vector<BEZIER_4POINTF_DRAW>& removed, std::vector<BEZIER_4POINTF_DRAW>& added);
    bool InsertCircleByThreePoint(tagPOINTF start, tagPOINTF end, tagPOINTF third, int index,
                                  std::vector<BEZIER_4POINTF_DRAW>& added);
    bool InsertCircleByTwoPoint(const BEZIER_4POINTF_DRAW& piece, tagPOINTF moving, tagPOINTF p, int index,
                                std::vector<BEZIER_4POINTF_DRAW>& added);
    // Rebuilds the arc of arrSegment[piece] with one end moved to p.
    bool RebuildArcEnd(int piece, bool endMoves, tagPOINTF p, stBezierCurve& change);
    // Makes the neighbour at index of a dragged straight segment meet it at
    // joint again (isNext: the neighbour after it); an arc is rebuilt.
    void MoveDragNeighbour(int index, bool isNext, tagPOINTF joint, stBezierCurve& change);
    int MoveLineWithNeighbours(int index, int prev, int next);
    // ModifyEditPoint and InsertPointInArc for callers that hold the event.
    int MoveNode(int index, tagPOINTF p, bool record);
    int InsertNodeInArc(tagPOINTF p, int segment, bool record);
    // A logical point in the view's device pixels (without a view: y
    // flipped at one pixel per millimetre).
    Gdiplus::PointF ToDeviceF(tagPOINTF p);
    POINT ToDevice(tagPOINTF p);
    float EditZoom();
    double CurveBand();
    // Starts the record of an edit: the curve's GUID into change, and the
    // segments and closed flag as they are now kept to compare with.
    void BeginChange(stBezierCurve& change);
    // Fills change with the difference between the curve now and when
    // BeginChange was called (segments with their indices, closed flags) and
    // hands it to the document's history; dropped without a document or
    // when nothing changed.
    void HandOverChange(stBezierCurve& change);
    std::vector<BEZIER_4POINTF_DRAW> m_editBase;
    int32_t m_editBaseClosed = 0;

    // Applies f to the four points of every segment and, while keepsCircles
    // is set, to the arc points of every arc span (else arc spans become
    // plain cubic segments). Refused whole, with nothing changed, when map
    // (the same transform as f) or f takes any point out of finite floats.
    template <class F>
    bool TransformAll(const AffineMap& map, F&& f, bool keepsCircles);
    // Strokes every segment as one cubic; map turns a logical point into a
    // device point before the offset is added. store keeps the device points
    // in dev4P.
    template <class Map>
    void StrokeSegments(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, Map&& map, float dx, float dy, bool store);
};
