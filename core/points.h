// CPoints: the single-point shape, one marked dot. It is drawn as a small
// cross, hit-tested by distance and marked as a polyline of one point, so the
// scanner fires once at that position.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <vector>

#include "morvik/halder/baseshape.h"

class MORVIK_API CPoints : public CBaseShape {
    DECLARE_SERIAL(CPoints)

public:
    CPoints();
    CPoints(const CPoints& other) = default;
    CPoints& operator=(const CPoints& other) = default;
    ~CPoints() override;

    // Places the point; creators construct the shape and then call it.
    // Returns 0, or -1 (and the point stays) for a point that is not finite.
    int InitPoint(tagPOINTF p);

    // ---- shape interface ----------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    CBaseShape* Clone() override;                                                         // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    // The cross at the point, whole units of the graphics, shifted by
    // (dx, dy) truncated.
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int mode, float dx,
                       float dy) override;              // 22
    int Draw(CDC* dc, int arrow, int mode, int a, int b) override;  // 23
    // (dc, graphics or null for one on dc, colour, unused, mapping mode,
    // unused, unused, dx, dy).
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int a, int b, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    // Appends the point: the list's earlier contents stay.
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                       // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64

    // The point in millimetres, y up.
    tagPOINTF pointf;

private:
    // Moves the point to p unless p is not finite; true when moved.
    bool Place(tagPOINTF p);
    // The view's zoom, or 1 without a usable view.
    float ViewZoom() const;
};
