// CCombineShape: the compound shape. Several shapes (typically the subpaths
// of one outline) treated as one object: drawn, transformed, exported and
// marked together, while hit tests and edit points reach the child under the
// cursor. The children live in CBaseShape's child list (GetChildren()).
//
// Ownership: the compound owns its children, but its destructor does not
// delete them. The owner calls FreeShapePtr first.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <list>
#include <vector>

#include "morvik/halder/baseshape.h"

class MORVIK_API CCombineShape : public CBaseShape {
    DECLARE_SERIAL(CCombineShape)

public:
    // An empty compound captioned "Combined<n>" with the next running number.
    CCombineShape();
    // Leaves the children alone: see FreeShapePtr.
    ~CCombineShape() override;
    CCombineShape(const CCombineShape&) = delete;
    CCombineShape& operator=(const CCombineShape&) = delete;

    // Gives back the running number taken by the last constructed compound.
    static void MinusCountNum();
    // Empties `out` (deleting nothing) and appends the children (the
    // pointers; the compound keeps them).
    void GetBasicShapeList(std::vector<CBaseShape*>& out);
    // Takes the first child whose identifier is `id` off the list without
    // deleting it (the caller takes it over): 1, or 0 when none has it.
    int DeletSubShape(uint32_t id);
    // The child that the last hit test found, or null.
    CBaseShape* GetEditChild() const { return m_pEditShape; }
    // After a shape-list read: the rectangle is worked out again from the
    // (adopted) children when next needed.
    void RestoreAfterRead();

    // ---- shape interface -------------------------------------------------------
    // Deletes every child, descending into containers first; empties the list.
    void FreeShapePtr() override;                                                         // 8
    CBaseShape* ToBezier() override;                                                      // 9
    CBaseShape* ToPolyLine() override;                                                    // 10
    void SetSubPolyType(int type) override;                                               // 11
    // A copy that does not use up a running number.
    CBaseShape* Clone() override;                                                         // 12
    int SetPen(unsigned char pen) override;                                               // 15
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;  // 22
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int a, int b, int c, int d, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                         // 26
    // Moves a node of the edit child when it is a polyline or a Bezier
    // curve; -1 without an edit child.
    int ModifyEditPoint(int index, tagPOINTF point) override;                                     // 28
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                    // 29
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    int SortPath() override;                                                                      // 35
    int SetSelectFlag(int flag, bool redraw) override;                                            // 37
    // 1 only when every child lies in the rectangle; 0 for an empty compound.
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    // 1 when a child is hit; that child becomes the edit child.
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    // The children's mark data concatenated in child order. Always true.
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    void SetDocView(CBaseDoc* doc, CBaseView* view) override;                                     // 55
    // Children first, each carrying this compound's GUID, then the compound.
    void SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) override;                // 56
    Gdiplus::RectF GetShapeRect() override;                                                       // 63
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64
    void ClearMarkBuff() override;                                                                // 69

private:
    // Marks the rectangle stale and forces the next GetMarkData to rebuild.
    void GeometryChanged();
    // The edit child, when it is still one of the children.
    CBaseShape* LiveEditChild();

    CBaseShape* m_pEditShape = nullptr;
};
