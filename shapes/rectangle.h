// CRectangle: a rectangle whose four corners can each be rounded by their
// own percentage, or made to overshoot (the two sides run on past the corner
// and cross).
//
// Layout after InitRectangle (y up): side 0 is the left side going up, side 1
// the top going right, side 2 the right side going down, side 3 the bottom
// going left; side k runs from point 2k to point 2k+1. Corner i (1..4) lies
// between side i-1 and side i (corner 4 between sides 3 and 0) and touches
// line points 2i-1 and 2i (corner 4: points 7 and 0). Corner 1 is top-left,
// 2 top-right, 3 bottom-right, 4 bottom-left. Every transform moves all
// point sets together, so rounding built once stays on its corners.
//
// The corner builders (SetRound and its single-corner members) work in the
// rectangle's own frame: they take off rotation and slant themselves, but
// expect the flips (mirror, negative zooms) and a SortPath reversal to have
// been taken off by the caller, as the undo record and ModifyEditPoint do.
//
// No number that is not finite in float ever enters the geometry: a call
// whose arguments or result would put one there (a NaN, an infinity, a zoom
// that overflows) is refused whole, changes nothing and returns kRefused.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <array>
#include <vector>

#include "morvik/halder/baseshape.h"

// The rectangle's geometry and corner values, each listed here once: a
// copy takes them whole (Clone) and a refused step puts them back whole.
struct RectangleFields {
    // Sum of all angles passed to Rotate, degrees.
    double m_fRotateAngle = 0.0;
    // The corners as laid down: 0 top-left, 1 top-right, 2 bottom-right,
    // 3 bottom-left.
    tagPOINTF m_PeakPointf0;
    tagPOINTF m_PeakPointf1;
    tagPOINTF m_PeakPointf2;
    tagPOINTF m_PeakPointf3;
    // The full, unrounded sides.
    std::array<tagPOINTF, 8> m_Point8{};
    // The drawn, marked and hit-tested part of each side.
    std::array<tagPOINTF, 8> m_PointLine8{};
    // Corner arcs as cubic Bezier control points (1 + 3n points); empty when
    // the corner has no positive rounding.
    std::vector<tagPOINTF> m_PointArc1;
    std::vector<tagPOINTF> m_PointArc2;
    std::vector<tagPOINTF> m_PointArc3;
    std::vector<tagPOINTF> m_PointArc4;
    int perR1 = 0;
    int perR2 = 0;
    int perR3 = 0;
    int perR4 = 0;
    // Corner 1's value before the editor's handle drag.
    int m_nOldRound = 0;
    // Set by InitRectangle: the corners no longer match their values.
    bool m_bCornersStale = false;
    // Until InitRectangle or a read lays it down (and after a read that
    // refused the saved geometry) the rectangle has no outline: nothing to
    // mark, rather than a point at the origin.
    bool m_bNoOutline = true;
};

class MORVIK_API CRectangle : public CBaseShape, public RectangleFields {
    DECLARE_SERIAL(CRectangle)

public:
    CRectangle();
    ~CRectangle() override;

    // Lays down peaks, outline and line points for the rectangle (Y its top
    // edge; a negative width or height counts from the other edge); before
    // that the rectangle has no outline to mark or export. The
    // corner values stay; the next SetRound rebuilds every corner even when
    // its values are unchanged. Returns 0, or kRefused for a rectangle that
    // is not finite in float.
    int InitRectangle(Gdiplus::RectF rect);
    // Sets all four corners (0 square, 1..100 rounded, above 100 as 100,
    // below 0 overshoot) and stores the values. Linked rectangles of the
    // document get the same call first. Returns 0, or kRefused (nothing
    // changed) when the corners would not be finite.
    int SetRound(int r1, int r2, int r3, int r4);
    int SetRound(int* r);
    // Rounds one corner with r (r <= 0 makes it square) in the current
    // frame. With skipSame non-zero nothing happens when r equals the stored
    // value. The stored value is not changed. Returns 0 or kRefused.
    int SetRound1(int r, int skipSame);
    int SetRound2(int r, int skipSame);
    int SetRound3(int r, int skipSame);
    int SetRound4(int r, int skipSame);
    // Makes one corner overshoot by r (negative) percent of the half sides;
    // nothing happens when r equals the stored value. The point is not used.
    int SetAntiLint1(tagPOINTF pt, int r);
    int SetAntiLint2(tagPOINTF pt, int r);
    int SetAntiLint3(tagPOINTF pt, int r);
    int SetAntiLint4(tagPOINTF pt, int r);
    int GetRound(int& r1, int& r2, int& r3, int& r4);
    // After a read: the outline and line points by index from "pointf" and
    // "pointfLine", the arcs from "ArcPointf1" to "ArcPointf4". Saved
    // geometry holding a number that is not finite is not taken: the
    // rectangle is left without an outline (it marks and exports nothing)
    // until the next InitRectangle.
    void RestoreAfterRead();

    // ---- shape interface ----------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    // A closed curve: each side a straight segment, each rounded corner its
    // arc spans, in the order the outline is marked.
    CBaseShape* ToBezier() override;                                                      // 9
    // Square corners: a closed polyline through the peaks; otherwise the
    // curve form flattened.
    CBaseShape* ToPolyLine() override;                                                    // 10
    CBaseShape* Clone() override;                                                         // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    // Logical points shifted by (dx, dy); arrow non-zero decorates the pen.
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;  // 22
    // Through slot 24 in the shape's own pen colour, without offsets.
    int Draw(CDC* dc, int arrow, int mode, int unused, int marker) override;  // 23
    // In the view (mode is passed to the mapping), shifted by (dx, dy);
    // marker non-zero on a selected shape in mode 0 outlines the start.
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int unused, int marker, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int unused, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                         // 26
    // Appends the 8 line points; returns the list's size.
    int GetEditPoint(std::vector<tagPOINTF>& points) override;                                    // 27
    // Commits the rounding handle: every corner takes perR1 (which the
    // editor has set) and the change is recorded for undo. Returns 0; a
    // refused value (kRefused) puts perR1 back and records nothing.
    int ModifyEditPoint(int index, tagPOINTF point) override;                                     // 28
    // Appends the 8 line points and the 7 midpoints of points i, i+1.
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                    // 29
    // Transforms return 0, or kRefused when a number or the result is not
    // finite in float.
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    // Reverses the outline and line points and each arc; the arcs stay
    // with their corners, so the reversed outline is traversed through the
    // path state (IsAntiPath) that goes with the reversal.
    int SortPath() override;                                                                      // 35
    // 1 when the box of the line points lies inside the rectangle.
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    // 1, 3, 5, 7 on a side; 2, 4, 6, 8 on the arc of corner 1..4; else 0.
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    // The box of the 8 outline points.
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    // Appends the closed outline; arcs are flattened with the smoothing
    // ratio whatever the tolerance.
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    // The midpoint of the first side that is marked.
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                       // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64
    void UpdatePropsValue() override;                                                             // 66

    // ---- members: the geometry and corner values are RectangleFields ----------
    // Saved forms, refreshed by UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> ArcPointf1;
    std::vector<std::vector<tagPOINTF>> ArcPointf2;
    std::vector<std::vector<tagPOINTF>> ArcPointf3;
    std::vector<std::vector<tagPOINTF>> ArcPointf4;
    std::vector<std::vector<tagPOINTF>> pointf;
    std::vector<std::vector<tagPOINTF>> pointfLine;

private:
    // The transforms and corner setters for callers that hold the event.
    int RotateHeld(double angle, tagPOINTF centre);
    int ZoomHeld(tagPOINTF fixed, double sx, double sy);
    int SlopeHeld(tagPOINTF fixed, double a, double b);
    int MirrorHeld(tagPOINTF fixed, int mode);
    int SortPathHeld();
    int RoundCornerHeld(int corner, int r, int skipSame);
    int AntiCornerHeld(int corner, int r);
    // What is drawn: the line points and the four arcs.
    struct Outline {
        std::array<tagPOINTF, 8> lines;
        std::array<std::vector<tagPOINTF>, 4> arcs;
    };
    // One side in marking order and the arc that follows it.
    struct Leg {
        int side;
        const std::vector<tagPOINTF>* arc;
    };

    std::vector<tagPOINTF>& ArcOf(int corner);
    int& ValueOf(int corner);
    // The sides in the order they are marked: from side 0 normally, from
    // side 3 backwards on a reversed outline.
    std::array<Leg, 4> Legs() const;

    // Everything the corner builders and transforms change, for taking a
    // refused step back.
    struct State {
        RectangleFields fields;
        bool antiX;
        bool antiY;
    };
    State Capture() const;
    void Restore(const State& s);
    bool GeometryFinite() const;
    // Whether the width and height of all these points are finite floats.
    static bool SpanFits(const std::array<tagPOINTF, 4>& peaks, const std::array<tagPOINTF, 8>& outline,
                         const std::array<tagPOINTF, 8>& lines, const std::array<std::vector<tagPOINTF>, 4>& arcs);
    // Runs build; when it fails or leaves a number that is not finite the
    // rectangle is put back as it was. Returns 0 or kRefused.
    template <class F>
    int Guarded(F&& build);

    // Moves every point set by f; false (nothing changed) when a point would
    // not be finite.
    template <class F>
    bool TransformAll(F&& f);
    Outline CurrentOutline() const;
    template <class F>
    Outline TransformedOutline(F&& f) const;

    // Logical <-> device units through the view (a view-less shape uses
    // unit scale with y flipped, as a view at the origin would).
    float ViewZoom() const;
    Gdiplus::PointF ToDevice(tagPOINTF p) const;
    tagPOINTF ToLogical(Gdiplus::PointF d) const;

    int SetRoundCorner(int corner, int r, int skipSame);
    int SetAntiLintCorner(int corner, int r);
    // The corner builders without the same-value checks.
    void BuildRoundCorner(int corner, int r);
    void BuildAntiCorner(int corner, int r);
    // Turns and unslants the rectangle upright, builds the four corners and
    // restores slant and rotation. force rebuilds corners whose value is
    // unchanged.
    // False when one of its own transforms was refused.
    bool BuildCornersUpright(const int values[4], bool force);
    // BuildCornersUpright with every value r, in the frame without flips and
    // without a path reversal (as the undo record replays it).
    bool RebuildCornersNeutral(int r);

    void Get8PointfOfRound(int r1, int r2, int r3, int r4, std::vector<tagPOINTF>& out);
    void GetRecRoundPara(Gdiplus::RectF& rect, int r, float& rx, float& ry);
    void GetFlattenArcPoints(const std::vector<tagPOINTF>& arc, std::vector<tagPOINTF>& out, float flatness) const;
    void GetMidPointf(tagPOINTF& point) const;

    // Hit tests of a side (1, 3, 5, 7 or 0) and of one arc: within the pick
    // band, the pick distance (device pixels) in millimetres at the view's
    // zoom.
    double PickBand() const;
    int IsPtOnline(tagPOINTF pt);
    bool IsPtOnRound(tagPOINTF pt, const std::vector<tagPOINTF>& arc) const;

    // Strokes the four sides and the non-empty arcs; map turns a logical
    // point into a device point, to which (dx, dy) is added.
    template <class Map>
    static void StrokeOutline(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const Outline& outline, Map&& map,
                              float dx, float dy);
    int DrawPreview(CDC* dc, DWORD color, const Outline& outline);

    // Guards SetRound against rectangles that link one another in a cycle.
    bool m_bInSetRound = false;
};
