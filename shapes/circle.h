// CCircle: the circle and circular-arc shape. The figure is kept twice: as
// its defining parameters (centre, radius, start and end angle, direction)
// and as the arc itself, a chain of cubic Bezier points. Everything the shape
// shows, exports and marks comes from the arc points; the parameters only
// matter when the arc is built again.
//
// The Bezier curve's node editor uses circles as working objects: it builds
// an arc through three points (GetCircleFrom3P) or as the tangent
// continuation of another arc (GetCircleFrom2P) and takes its ToBezier
// segments.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <vector>

#include "morvik/core/bezier_segment.h"
#include "morvik/halder/baseshape.h"

// What SetData restores (kept by the circle's undo record).
struct MORVIK_API SCircleData {
    double startDeg = 0.0;
    double Radius = 0.0;
    std::vector<tagPOINTF> arcPoints;
};

// The parameters of one arc build.
struct MORVIK_API tagCircleParam {
    double startDeg = 0.0;
    double endDeg = 0.0;
    double Radius = 0.0;
    tagPOINTF ptCenter;
    uint8_t arcPath = 0;
};

// The circle's figure, each field listed here once: a copy takes it whole.
struct CircleFields {
    // 0: clockwise from startDeg to endDeg; non-zero: counter-clockwise.
    uint8_t arcPath = 0;
    double startDeg = 0.0;
    double endDeg = 360.0;
    double Radius = 0.0;
    tagPOINTF ptCenter;
    // The arc as a cubic Bezier chain: start point, then two control points
    // and the end point per segment.
    std::vector<tagPOINTF> arcPoints;
};

class MORVIK_API CCircle : public CBaseShape, public CircleFields {
    DECLARE_SERIAL(CCircle)

public:
    // A built arc holds at least this many points: 1 + 3 per segment, padded
    // with copies of its end point.
    static constexpr size_t kArcPointCount = 13;

    // An empty circle (no arc points): it draws and marks nothing until it is
    // built or filled.
    CCircle();
    // The circle through three points: the arc runs from p1 to p2 on the side
    // of p3. An unbuildable triple (collinear or coincident points) leaves the
    // circle empty.
    CCircle(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3);
    CCircle(const CCircle& other) = default;
    CCircle& operator=(const CCircle& other) = default;
    ~CCircle() override;

    // Builds the arc about (cx, cy) with radius r from startDeg and endDeg in
    // the direction of arcPath; 0 when built. All or nothing: a number that
    // is not finite, a circle reaching beyond the coordinates a shape holds
    // (about 2e37 mm) or a build without points returns -1 and changes
    // nothing. A radius whose circle is too small to draw (|r| below 5e-7)
    // collapses the arc onto the centre. The third argument is not used.
    int InitCircle(float cx, float cy, float unused, float r);
    // The signed sweep in degrees: (0, 360] counter-clockwise for a non-zero
    // direction, [-360, 0) clockwise for 0; equal angles are a full turn.
    // Reduces the stored angles by the C remainder of 360 (the sign stays).
    double GetSweepAngle();
    // New centre, radius, angles and direction (its low byte), built at once;
    // the view is repainted. Returns 0, or -1 with nothing changed where
    // InitCircle would refuse the values.
    int SetCircleProperty(double cx, double cy, double r, double start, double end, int direction);
    // Undo and redo: the start angle, the radius and the arc points come back
    // as recorded; nothing is rebuilt. A record holding a number that is not
    // finite (or a point beyond the usable coordinates) is not taken.
    void SetData(const SCircleData& data);

    // The circle through p1, p2 and p3 into target (a temporary circle when
    // target is null): the arc runs from p1 to p2 through the side of p3, and
    // this circle's lastCircle receives its parameters. Returns 1, or 0 when
    // no circle passes through the points (target and lastCircle unchanged).
    int GetCircleFrom3P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, CCircle* target);
    // Called on a circle whose arc ends at p2 (p1 its other end): the arc
    // from p2 to p3 that continues this arc tangentially at p2, into target
    // (a temporary circle when null). Returns 1, or 0 when no such arc is
    // built (target and lastCircle unchanged).
    int GetCircleFrom2P(tagPOINTF p1, tagPOINTF p2, tagPOINTF p3, CCircle* target);
    // Whether p lies above the line through p0 with slope k; 0 when p is
    // within 0.001 of p0 in x.
    static int GetPointAtLineDir(double k, tagPOINTF p0, tagPOINTF p);

    // After a shape-list read: the working arc points receive every point of
    // the saved "Pointf" groups, in order, unless one of them is not usable
    // (not finite, too far out): then the circle stays without points.
    void RestoreAfterRead();

    // ---- shape interface ---------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    // A new curve with this circle's document, view, pen and smoothing. A circular arc
    // becomes the spans of one arc (line type 2) with the arc's ends and its
    // midpoint as arc points; a full circle becomes two such half arcs; arc
    // points that no longer form a circle (after an unequal zoom or a slant)
    // become plain cubic segments. Closed for a full turn.
    CBaseShape* ToBezier() override;                                                       // 9
    // The segments ToBezier gives its curve, appended to out, without making
    // the curve; true when they close a full turn.
    bool AppendBezierSegments(std::vector<BEZIER_4POINTF_DRAW>& out);
    // The segments AppendBezierSegments gives for the arc that
    // InitCircle(cx, cy, 0, r) builds from start to end in the direction
    // SetArcPath(direction) sets, appended to out, without making or changing
    // a circle. False, with nothing appended, where that build fails.
    static bool AppendArcSegments(float cx, float cy, float r, double start, double end, int direction,
                                  std::vector<BEZIER_4POINTF_DRAW>& out);
    // A new polyline through the arc flattened at 0.1 mm, with this circle's
    // caption, document, view and pen.
    CBaseShape* ToPolyLine() override;                                                     // 10
    CBaseShape* Clone() override;                                                          // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                        // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                     // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;      // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;   // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;         // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                 // 22
    // (dc, arrow, printing, unused, show-start) in the shape's own pen colour.
    int Draw(CDC* dc, int arrow, int printing, int unused, int showStart) override;       // 23
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int printing, int unused, int showStart,
             float dx, float dy) override;                                                 // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int unused, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                  // 26
    // Dragging a handle to point sets the radius to its distance from the
    // centre; centre, angles and direction stay.
    int ModifyEditPoint(int index, tagPOINTF point) override;                              // 28
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                             // 29
    int Move(float dx, float dy) override;                                                 // 30
    int Rotate(double angle, tagPOINTF centre) override;                                   // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                              // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                               // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                        // 34
    int SortPath() override;                                                               // 35
    int IsInRect(Gdiplus::RectF& rect) override;                                           // 38
    int IsMe(tagPOINTF point) override;                                                    // 39
    int IsInClientRectF() override;                                                        // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                       // 42
    // (radius, start angle, end angle).
    int GetCircleProperty(double& r, double& start, double& end) override;                 // 47
    // New radius and angles about the centre of the current arc's bounds;
    // -1 with nothing changed where the build is refused.
    int SetCircleProperty(double r, double start, double end) override;                    // 48
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;    // 49
    // The first / last arc point: 0 when given, 1 for an unbuilt circle
    // (point unchanged).
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                               // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                   // 53
    int GetArcPath() override;                                                             // 60
    void SetArcPath(int path) override;                                                    // 61
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                  // 64
    void UpdatePropsValue() override;                                                      // 66

    // ---- members: the figure is CircleFields ---------------------------------
    // The parameters of the last build; also the result record of
    // GetCircleFrom3P and GetCircleFrom2P.
    tagCircleParam lastCircle;
    // Saved forms, refreshed by UpdatePropsValue: "Pointf" holds one list
    // equal to arcPoints, "13Pointf" one list of 13 zero points.
    std::vector<std::vector<tagPOINTF>> arrPointf;
    std::vector<std::vector<tagPOINTF>> arr13Pointf;

private:
    // The all-or-nothing build behind InitCircle and the property setters:
    // 1 built, -1 refused (numbers that are not finite, a circle beyond the
    // coordinates a shape can hold, no points).
    int Build(double cx, double cy, double r, double start, double end, uint8_t direction);
    // Puts the chain's first and last real point exactly on the given points
    // when they lie within rounding of them.
    void SnapEnds(tagPOINTF first, tagPOINTF last);
    // Maps the arc points and the centre through f, or refuses the whole
    // transform (false, nothing changed) when one of them would not be usable.
    template <class F>
    bool TransformAll(F f);
    // The angles and direction after a flip of the arc in x, y or both.
    void MirrorAngles(bool flipX, bool flipY);
    // The view's pixels per millimetre, or 0 without a usable view.
    float ViewZoom() const;
    // Strokes a Bezier chain of device points (its longest 3k + 1 prefix).
    static void StrokeChain(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev);
    int DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points);
};
