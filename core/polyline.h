// CPolyLine: the straight-segment path shape, an ordered chain of points,
// open or closed. Besides being drawn by the user it is the common output of
// the library: conversions, fills and importers build one with the default
// constructor, append to arrPoint directly, set the pen with SetPen and close
// it with ClosePloyLine.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <array>
#include <cstddef>
#include <vector>

#include "morvik/halder/baseshape.h"

// One point of a polyline named by its position (history/undo_records.h).
struct stPolylinePos;
struct AffineMap;
class CCombineShape;

// The polyline's points, closed flag and editor selection, each listed here
// once: a copy takes them whole.
struct PolyLineFields {
    // 1 when closed: the last point then repeats the first.
    int bClosed = 0;
    // The polyline: segment i runs from point i-1 to point i.
    std::vector<tagPOINTF> arrPoint;
    // Where the editor last clicked on the polyline; only the first is used.
    std::vector<tagPOINTF> arrClickPoint;
    // Indices of the selected points.
    std::vector<int> arrSelectIndex;
};

class MORVIK_API CPolyLine : public CBaseShape, public PolyLineFields {
    DECLARE_SERIAL(CPolyLine)

public:
    // Polylines with more points than this are drawn, previewed and
    // hit-tested through a thinned copy of their points.
    static constexpr size_t kDetailThreshold = 10000;
    static constexpr int kDetailLevels = 6;

    CPolyLine();
    CPolyLine(const CPolyLine& other) = default;
    CPolyLine& operator=(const CPolyLine& other) = default;
    ~CPolyLine() override;

    // Appends a copy of the first point and marks the polyline closed.
    // Returns 0; a polyline without points is left as it is.
    int ClosePloyLine();
    // Gives back the running number of a polyline that was built only as a
    // temporary or a piece of another result.
    static void MinusCountNum();
    // The detail level (0 to 5) and its thinning step in millimetres for a
    // view zoom in pixels per millimetre.
    static void GetZoomDetailLevel(float zoom, int& level, float& step);
    // Forgets the thinned copies; they are rebuilt when next needed. Edits
    // that move single points call it, since the copies only follow whole-
    // shape transforms.
    void ClearDetail();
    // The thinned copy of one level, built first when it is missing or was
    // built from a different number of points; an empty list for a level
    // outside 0 to 5.
    const std::vector<tagPOINTF>& GetDetail(int level);

    // ---- shape interface ----------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    CBaseShape* ToBezier() override;                                                      // 9
    CBaseShape* Clone() override;                                                         // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    // Segments in the graphics' own units, each end shifted by (dx, dy).
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;  // 22
    // Draws with the colour of the shape's own pen: (dc, arrow, mode, a, b).
    int Draw(CDC* dc, int arrow, int mode, int a, int b) override;  // 23
    // The main drawing: (dc, graphics or null for one on dc, colour, arrow
    // flag, mapping mode, unused, unused, dx, dy).
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int a, int b, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                         // 26
    int GetEditPoint(std::vector<tagPOINTF>& points) override;                                    // 27
    // Moves one point without an undo record.
    int ModifyEditPoint(int index, tagPOINTF point) override;                                     // 28
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                    // 29
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    int SortPath() override;                                                                      // 35
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                       // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64
    void UpdatePropsValue() override;                                                             // 66

    // ---- node editing ---------------------------------------------------------
    // The replays of the editing history; they record nothing. flag non-zero
    // inserts pos.point before pos.index (an index equal to the count
    // appends), zero erases the point at pos.index; other indices change
    // nothing. Either way the selection and the clicked points are emptied.
    void AddDelPoint(int flag, stPolylinePos pos);
    // A whole record of insertions (flag non-zero) or removals as one
    // change: in order, or undone (the opposite edit, last entry first,
    // closing again a polyline that was closed once its ends meet).
    void ReplayAddDel(int flag, const std::vector<stPolylinePos>& points, bool undo, int closedBefore);
    // Each entry whose index names a point moves that point; then the shape
    // rectangle is refreshed. A closed polyline whose ends come apart is
    // open from then on; one whose two ends are set onto the same place by
    // the entries is closed again.
    void SetPoints(std::vector<stPolylinePos> points);
    // Inserts before index when 0 < index < count, with an undo record.
    // Returns 0.
    int InsertPoint(int index, tagPOINTF point);
    // Removes one point, with an undo record, when the polyline has more
    // than 2 points. Returns 0.
    int RemovePoint(int index);
    // Removes the n points listed, with one undo record, when n is below the
    // count and the count is above 2. The caller's array is sorted into
    // descending order; indices outside the polyline and repeats are
    // skipped. Returns 0.
    int RemovePoint_Mutli(int* indices, const int& n);
    // Moves one point (both ends of a closed polyline together); with
    // bNoUndo false the move is recorded. Returns 0.
    int ModifyEditPoint(int index, tagPOINTF point, bool bNoUndo);
    // Moves the segment that ends at point index by (dx, dy); on a closed
    // polyline the other copy of a moved end point follows. Returns 0.
    int ModifyEditLine(int index, double dx, double dy, bool bUndo);
    int ModifyEditLine(int index, double dx, double dy);
    // Closes an open polyline by moving both ends to their midpoint; the
    // record goes to doc unless bNoUndo. Returns 1.
    int MergerEditPoint(bool bNoUndo, CBaseDoc* doc);
    // Aligns the selected points: mode 0 on the smallest x, 1 on the largest
    // x, 2 on the largest y, 3 on the smallest y. Returns 0.
    int EditPointAligh(int mode);
    // Selects the points strictly inside the box spanned by a and b, in
    // ascending order. Returns 0.
    int GetRectInEditPoint(tagPOINTF a, tagPOINTF b);
    // Segment pick for list[0]: 0 when no segment is hit, else i for the
    // segment from point i-1 to point i; foot receives the foot of the
    // perpendicular and the list gets points i-2, i-1, i and i+1 (clamped to
    // the polyline).
    int GetEditLine(std::vector<tagPOINTF>& list, tagPOINTF& foot);
    // Handles of the selected points and the marker of the clicked point.
    int DrawSelectPoints(CDC* dc);
    int DrawClickPoints(CDC* dc);
    // Splits the polyline at the selected points into a new compound shape
    // that the caller owns.
    CCombineShape* SeparateEditPoint();
    // A new curve with one segment of lineType (0 cubic, 1 straight; other
    // values give straight segments) per polyline segment.
    CBaseShape* ToBezierEx(int lineType);
    // Appends the polylines at distance d from this one; the caller owns
    // them. A single segment gives a copy moved by d across it toward side.
    // An open polyline (ends more than 0.01 apart) gives the rings around it
    // (the ring surrounding it, or with bInward the rings inside it); a
    // closed one gives its outline grown by d (shrunk with bInward) as
    // closed polylines in the default pen. bRound rounds the joins, else
    // they are mitred. Non-finite or astronomically large input gives nothing.
    void Offset(std::vector<CBaseShape*>& out, float d, bool bInward, bool bRound, tagPOINTF side);
    // Appends the dashes of a dash/gap pattern along the polyline, in the
    // polyline's pen; the caller owns them. Nothing for a dash that is not
    // above 0, a negative gap or a pattern too fine for the polyline.
    void ToDotted(float dash, float gap, std::vector<CBaseShape*>& out);

    // The points, closed flag and selection are PolyLineFields.
    // Thinned copies of the drawn points (arrPoint unless a derived shape
    // draws another path), one per detail level, built on demand and
    // transformed together with arrPoint; empty until the first is built.
    std::vector<std::vector<tagPOINTF>> arrDetail;
    // The saved form of arrPoint, refreshed by UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> arrPointf;

protected:
    // The transforms for callers that hold the event (the spiral's own).
    int MoveHeld(float dx, float dy);
    int RotateHeld(double angle, tagPOINTF centre);
    int ZoomHeld(tagPOINTF fixed, double sx, double sy);
    int SlopeHeld(tagPOINTF fixed, double a, double b);
    int MirrorHeld(tagPOINTF fixed, int mode);
    // The points that are drawn, previewed, hit-tested and exported as
    // G-code: the polyline itself, or for a derived shape the path it marks.
    virtual const std::vector<tagPOINTF>& DrawnPoints() { return arrPoint; }

private:
    void AddDelPointHeld(int flag, stPolylinePos pos);
    // Applies f (the transform map stands for) to every point and every
    // detail point; false, changing nothing, when map is not finite or a
    // point would come out not finite in float.
    template <class F>
    bool TransformAll(const AffineMap& map, F f);
    // The view's zoom, or 1 without a usable view.
    float ViewZoom() const;
    // The points that drawing, previews and hit tests use at the current zoom.
    const std::vector<tagPOINTF>& PointsForDisplay();
    int DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points);
    // What every node edit does after changing points: drop the thinned
    // copies, mark the geometry stale, and open a closed polyline whose ends
    // no longer meet.
    void PointsEdited();
    // The segment of arrPoint under the point (1 to n-1), or 0.
    int HitSegment(tagPOINTF point) const;

    // How many points of arrPoint each detail level was built from.
    std::array<size_t, kDetailLevels> m_detailSource{};
};
