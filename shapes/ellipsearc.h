// CEllipseArc: the ellipse and elliptical-arc shape. Its visible figure is a
// chain of cubic Bezier points (the arc points); drawing, picking, flattening,
// conversions, exports and mark data all work on that chain.
//
// Two origins, told apart by m_bFILE:
// - a drawn ellipse (m_bFILE 0) keeps the 13 control points of the whole
//   ellipse through every transform and cuts its arc from them; a partial
//   arc is a pie (closed by two lines through the centre);
// - an arc from a DXF ellipse record (m_bFILE 1) is defined by its centre,
//   semi-axes and axis direction and stays an open arc.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cfloat>
#include <vector>

#include "morvik/halder/baseshape.h"

struct tagEllipse;

// The ellipse arc's figure, each field listed here once: a copy takes it
// whole (Clone) and a refused transform or build puts it back whole.
inline constexpr int kEllipseChainPoints = 13;
struct EllipseArcFields {
    int arcPath = 1;
    int m_bFILE = 0;
    // (FLT_MAX, FLT_MAX) until set.
    tagPOINTF m_ptCenter{FLT_MAX, FLT_MAX};
    double startDeg = 0.0;
    double endDeg = 360.0;
    // DXF arcs: the semi-axes along and across the major direction, and the
    // major direction in degrees from +y toward +x.
    double m_axisA = 0.0;
    double m_axisB = 0.0;
    double m_rotAngle = 0.0;
    // The arc: start point, then two control points and an end point per
    // segment; 13 points once built.
    std::vector<tagPOINTF> arcPoints;
    // Drawn ellipse: the closed chain of the whole ellipse (0, 3, 6, 9 the
    // ends of the axes, 12 equal to 0). DXF arc: a copy of its arc chain.
    tagPOINTF ctrlPoints[kEllipseChainPoints] = {};
};

class MORVIK_API CEllipseArc : public CBaseShape, public EllipseArcFields {
    DECLARE_SERIAL(CEllipseArc)

public:
    static constexpr int kChainPoints = kEllipseChainPoints;

    // An ellipse without points, captioned with the next number
    // ("Ellipse1", "Ellipse2", ...).
    CEllipseArc();
    CEllipseArc(const CEllipseArc& other) = default;
    CEllipseArc& operator=(const CEllipseArc& other) = default;
    ~CEllipseArc() override;

    // The whole ellipse inscribed in r, as control points and arc points.
    // r's Y is its edge of smaller y (as a platform ellipse takes it). With
    // device set, r is in the view's device units and every point is mapped
    // to millimetres (without a view the points are taken as they are).
    // Returns 0, or -1 when r describes no ellipse (empty, not finite, beyond
    // the usable coordinates): the shape is left unchanged then.
    int InitArcPath(Gdiplus::RectF r, bool device);
    // Rebuilds the arc points between two angles (degrees, counter-clockwise
    // from +x as seen on the upright ellipse) in the current direction. The
    // angles are not stored. Returns 0, or -1 with nothing changed for an
    // angle that is not finite or a cut that yields no usable arc.
    int SetArcPath(double start, double end);
    // Builds a DXF arc from the record: 1 when built, 0 (nothing changed)
    // when the record describes no ellipse, holds a number that is not
    // finite or reaches beyond the usable coordinates (about 2e37 mm).
    int ProcessDxf(tagEllipse& e);
    // The record's geometry: the upright rectangle (Y its top edge), the
    // direction of the major axis (degrees from +y toward +x) and the start
    // and end as polar angles in degrees. Also sets m_ptCenter, the
    // semi-axes, startDeg and endDeg. A record with a number that is not
    // finite sets nothing.
    void GetArcRect(tagEllipse& e, Gdiplus::RectF& rect, float& rot, float& start, float& end);
    // After a read: the working points from the saved stores (the control
    // points set by index across their groups). A store holding a point
    // that is not usable is not taken: the shape stays without points.
    void RestoreAfterRead();

    // ---- shape interface --------------------------------------------------
    void AddAllProp(bool extended) override;                                                      // 7
    // A Bezier curve of the arc's segments, with this shape's caption, pen and
    // smoothing; a partial drawn arc is closed through the centre.
    CBaseShape* ToBezier() override;                                                              // 9
    CBaseShape* ToPolyLine() override;                                                            // 10
    CBaseShape* Clone() override;                                                                 // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                               // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                            // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;             // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;          // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;                // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                        // 22
    // Through slot 24 in the shape's own pen colour: (dc, arrow, mode,
    // unused, show-start).
    int Draw(CDC* dc, int arrow, int mode, int unused, int showStart) override;                   // 23
    // (dc, graphics or null for one on dc, colour, arrow, mapping mode,
    // unused, show-start, dx, dy). Returns 1, 0 without a view.
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int unused, int showStart, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int unused, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                         // 26
    // Appends the first and the last arc point.
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                    // 29
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    // The same arc traced backwards: the direction flips and the angles swap.
    int SortPath() override;                                                                      // 35
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    // Bounds of the chain (Y the top edge), for a drawn ellipse grown to
    // take in the centre. Leaves rect alone when there are no arc points.
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    // (startDeg, endDeg).
    int GetArcDegree(double& start, double& end) override;                                       // 45
    // Cuts the arc from start to end and stores both angles; -1 with nothing
    // changed where SetArcPath refuses them.
    int SetArcDegree(double start, double end) override;                                          // 46
    // Appends the arc flattened within min(tolerance, smoothing ratio); a
    // partial drawn arc is closed through the centre back to its start.
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    // The first / last arc point: 0 when given, 1 for a shape without points.
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                       // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    // The direction: 0 clockwise from start to end, non-zero counter-clockwise.
    int GetArcPath() override;                                                                    // 60
    void SetArcPath(int path) override;                                                           // 61
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64
    void UpdatePropsValue() override;                                                             // 66

    // ---- members: the figure is EllipseArcFields ----------------------------
    // The saved forms, refreshed by UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> arrPointf;
    std::vector<std::vector<tagPOINTF>> arr13pointf;

private:
    // SetArcPath(start, end) for callers that hold the event.
    int CutArc(double start, double end);
    // Everything a transform or a build changes, kept to put back when the
    // result is refused.
    using Figure = EllipseArcFields;
    Figure Keep() const { return *this; }
    void PutBack(const Figure& f) { static_cast<EllipseArcFields&>(*this) = f; }
    // Every point within the usable coordinates and every number finite.
    bool FigureUsable() const;
    // Runs change, then puts the figure back and answers false when the
    // result is not usable.
    template <class F>
    bool Transformed(F&& change);
    // The centre of the control points: the ellipse's centre as long as they
    // are an affine image of the upright ellipse.
    tagPOINTF GetControlCentre() const;
    bool IsDrawn() const { return m_bFILE == 0; }
    // Whether the arc from startDeg to endDeg is a whole turn.
    bool IsFullTurn() const;
    // A drawn ellipse cut to less than a full turn: closed through the centre.
    bool IsPie() const;
    // The centre of a pie: m_ptCenter, or the control-point centre while that
    // is unset.
    tagPOINTF PieCentre() const;
    template <class F>
    void TransformAll(F&& f);
    // The arc points mapped through f and shifted by (dx, dy).
    template <class Map>
    std::vector<Gdiplus::PointF> DevicePoints(Map&& map, float dx, float dy) const;
    // The chain and, for a pie, the two centre lines, on g.
    void StrokeChain(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev,
                     const Gdiplus::PointF* centre);
    template <class F>
    int DrawPreview(CDC* dc, DWORD color, F&& f);
    // Bounds of the chain with Y its top edge.
    Gdiplus::RectF ChainBounds() const;
    // A DXF arc after a transform with linear part (m00 m01; m10 m11): the
    // axes, their direction and the arc's angles describe the transformed
    // arc, so a later cut or reversal rebuilds it where it now is.
    void TransformDxfAxes(double m00, double m01, double m10, double m11);
    // The same for a scale by (sx, sy); exact for factors of one size.
    void ScaleDxfAxes(double sx, double sy);
    // A drawn ellipse: the semi-axes of the upright ellipse its control
    // points give, and the arc's angles brought to the new ones after a
    // transform that changed them from (aOld, bOld).
    void DrawnAxes(double& a, double& b) const;
    void KeepDrawnArc(double aOld, double bOld);
    // Moves startDeg and endDeg (angles on an ellipse of semi-axes aOld,
    // bOld) to the angles of the same points on semi-axes a, b, each point's
    // parameter shifted by shift; a full turn stays one.
    void MoveArcEnds(double aOld, double bOld, double a, double b, double shift);
};
