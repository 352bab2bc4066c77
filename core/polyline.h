// CPolyLine: the straight-segment path shape, an ordered chain of points,
// open or closed. Besides being drawn by the user it is the common output of
// the library: conversions, fills and importers build one with the default
// constructor, append to arrPoint directly, set the pen with SetPen and close
// it with ClosePloyLine.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "halder/baseshape.h"

class CPolyLine : public CBaseShape {
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

    // 1 when closed: the last point then repeats the first.
    int bClosed = 0;
    // Thinned copies of arrPoint, one per detail level, built on demand and
    // transformed together with arrPoint.
    std::vector<std::vector<tagPOINTF>> arrDetail;
    // The polyline: segment i runs from point i-1 to point i.
    std::vector<tagPOINTF> arrPoint;
    // Where the editor last clicked on the polyline; only the first is used.
    std::vector<tagPOINTF> arrClickPoint;
    // The saved form of arrPoint, refreshed by UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> arrPointf;
    // Indices of the selected points.
    std::vector<int> arrSelectIndex;

private:
    // Applies f to every point and every detail point.
    template <class F>
    void TransformAll(F f);
    // The view's zoom, or 1 without a usable view.
    float ViewZoom() const;
    // The points that drawing, previews and hit tests use at the current zoom.
    const std::vector<tagPOINTF>& PointsForDisplay();
    int DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points);

    // How many points of arrPoint each detail level was built from.
    std::array<size_t, kDetailLevels> m_detailSource{};
};
