// CGroupShape: the container shape. An ordered list of child shapes (kept in
// CBaseShape's child list, GetChildren()) that draws, transforms, converts,
// exports and marks as one object.
//
// A group has two modes. In child mode, the normal one, every operation is
// forwarded to the children in list order. In line mode, which the PLT reader
// switches on, the group holds pen-tagged polylines (vLines) instead of
// children and works on them itself.
//
// Ownership: the group owns its children, but its destructor does not delete
// them. The owner calls FreeShapePtr first, which deletes every child (the
// members of nested containers first) and empties the list.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/halder/baseshape.h"
#include "morvik/import/plt_records.h"

class CIniFile;

// Helpers that the group and the compound shape share.
namespace shape_container {

// Deletes every member (a container's own members first, through its
// FreeShapePtr), each pointer once however often it is listed, and empties
// the list.
void FreeMembers(std::vector<CBaseShape*>& members);
// Grows `acc` by r. `have` says whether acc holds anything yet. A rectangle
// without any extent (an empty shape) adds nothing; a line along an axis
// still counts.
void UniteRect(Gdiplus::RectF& acc, bool& have, const Gdiplus::RectF& r);
// The union of the members' rectangles; all zero when none has an extent.
Gdiplus::RectF MembersRect(std::vector<CBaseShape*>& members);
// The member's conversion (ToBezier or ToPolyLine) when `convert` is set, and
// otherwise, or when the member cannot convert, its clone; null when neither
// gives a shape.
CBaseShape* ConvertOrClone(CBaseShape* member, bool convert, bool toBezier);
// Collects the members for a shape-list save: each member with its own
// members before it, carrying the owner's GUID as its parent.
void SaveMembers(CBaseShape* owner, std::vector<CBaseShape*>& members, std::list<CBaseShape*>& out);
// Appends both path lists of `part` to those of `into`.
void AppendMarkData(tagMarkDataPar& into, tagMarkDataPar& part);
// Whether every member, and every member of a member at any depth, can take
// the map: its numbers are finite and it keeps each member's rectangle well
// inside the float range (control points and hatch may lie a little outside
// a rectangle). A container checks this before it moves any member, so a
// transform that one member would refuse changes none.
bool MembersTakeMap(std::vector<CBaseShape*>& members, const AffineMap& map);
// Whether every member at any depth would follow the slant: a picture
// refuses one that would not leave it a rectangle. A container asks this
// before it slants any member, so a refusal changes none.
bool MembersTakeSlant(std::vector<CBaseShape*>& members, tagPOINTF fixed, double a, double b);
// The same for points and for a rectangle's corners (false when any number
// is not finite).
bool PointsTakeMap(const std::vector<tagPOINTF>& points, const AffineMap& map);
bool CornersTakeMap(const Gdiplus::RectF& rect, const AffineMap& map);

}  // namespace shape_container

class MORVIK_API CGroupShape : public CBaseShape {
    DECLARE_SERIAL(CGroupShape)

public:
    // An empty group in child mode, captioned "Group<n>" with the next
    // running number of the class.
    CGroupShape();
    // Leaves the children alone: see FreeShapePtr.
    ~CGroupShape() override;
    CGroupShape(const CGroupShape&) = delete;
    CGroupShape& operator=(const CGroupShape&) = delete;

    // ---- non-virtual members -------------------------------------------------
    // Empties the vector and appends the children in order.
    void GetShapeList(std::vector<CBaseShape*>& out);
    // As GetShapeList, with every nested group (kind 11) replaced by its own
    // listing, at any depth.
    void GetShapeListByTextName(std::vector<CBaseShape*>& out);
    // The leaf shapes of the group: fill shapes and filled texts whole, an
    // unfilled text as its converted outlines. Each listed shape gets in the
    // source-index map the index of the child (or line) it came from. The
    // shapes the listing creates (line-mode polylines, text outlines) belong
    // to the group that made them and stay valid until its next listing or
    // its destruction: the caller must not free them.
    void GetBasicShapeList(std::vector<CBaseShape*>& out);
    // As GetBasicShapeList, but fill shapes are broken up like groups, and
    // every shape that the listing creates is also appended to `created`
    // (which is never emptied): the caller owns and frees those. They are
    // all leaves (no containers), so a plain delete frees each whole.
    void GetBasicShapeList2(std::vector<CBaseShape*>& out, std::vector<CBaseShape*>& created);
    // The leaf shapes without breaking up fill shapes or texts; a line-mode
    // group lists itself.
    void GetNewBasicShapeList(std::vector<CBaseShape*>& out);
    // The last group rectangle: the reference of the anchor in
    // ReInitGroupDynaic.
    void SetLastGroupShapeRect(Gdiplus::RectF& rect);
    Gdiplus::RectF GetLastGroupShapeRect() const { return m_rcLastGroup; }
    // Dynamic re-layout after the group's content changed: scales to the
    // fixed size and places the group at its fixed centre or anchor.
    void ReInitGroupDynaic();
    // Written by the basic-shape listings: listed shape -> index of the child
    // (or line) it came from.
    std::map<CBaseShape*, int>& GetSourceIndexMap() { return mapShapeIndex; }
    // After a shape-list read: the rectangle and the snap points are worked
    // out again from the (adopted) children when next needed.
    void RestoreAfterRead();
    bool IsLineMode() const { return bImpFromPlt; }
    // Reads a PLT (HPGL) file into a new group in line mode, captioned with
    // the file's name; null when the file cannot be read or draws nothing.
    // The caller owns the group.
    static CGroupShape* ParserPltFile(const CString& path);
    // Reads an SVG file into a new group of polylines, rectangles, circles
    // and ellipses in document order, y negated; the caption is the file's
    // name. Null when the file cannot be read, is not XML, its root is not
    // "svg" or it holds absurd values. The caller owns the group.
    static CGroupShape* ParserSvgFile(const CString& path);
    // Replaces a face name of an SVG "font-family" by the face it stands
    // for; other names stay as they are.
    static void SvgMapFontFamily(CString& face);
    // Reads the outline text file named by `file` (pen moves in hundredths
    // of a drawing unit) into a new group of polylines. Null when the file
    // cannot be read or gives no polyline with points. `path` is not used.
    static CGroupShape* ParserTextFile(CIniFile& file, const CString& path);

    // ---- shape interface -------------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    // Deletes every child, descending into containers first; empties the list.
    void FreeShapePtr() override;                                                         // 8
    CBaseShape* ToBezier() override;                                                      // 9
    CBaseShape* ToPolyLine() override;                                                    // 10
    // A copy that does not use up a running number (it keeps its own caption).
    CBaseShape* Clone() override;                                                         // 12
    int SetPen(unsigned char pen) override;                                               // 15
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                // 22
    int Draw(CDC* dc, int a, int b, int c, int d) override;                               // 23
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int a, int b, int c, int d, float dx,
             float dy) override;                                                                  // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int a, float dx, float dy) override;  // 25
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                    // 29
    int Move(float dx, float dy) override;                                                        // 30
    int Rotate(double angle, tagPOINTF centre) override;                                          // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                     // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                      // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                               // 34
    int SortPath() override;                                                                      // 35
    int SetSelectFlag(int flag, bool redraw) override;                                            // 37
    int IsInRect(Gdiplus::RectF& rect) override;                                                  // 38
    int IsMe(tagPOINTF point) override;                                                           // 39
    int IsInClientRectF() override;                                                               // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                              // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;           // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                      // 50
    // The children's mark data concatenated in child order (line mode: one
    // path group per line, rebuilt on every call). Always true.
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                          // 53
    void SetDocView(CBaseDoc* doc, CBaseView* view) override;                                     // 55
    // Children first, each carrying this group's GUID, then the group.
    void SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) override;                // 56
    void AllDelCountNum() override;                                                               // 62
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                         // 64
    void ClearMarkBuff() override;                                                                // 69

    // ---- members ---------------------------------------------------------------
    // Line mode: the polylines, each with its pen and points.
    std::vector<tagPLTLINE> vLines;
    // Set by the PLT reader: selects line mode.
    bool bImpFromPlt = false;
    // Written by the basic-shape listings; the fill shape reads it.
    std::map<CBaseShape*, int> mapShapeIndex;
    // Dynamic re-layout settings.
    int bDynaic = 0;
    // Anchor 0 to 8: bottom left, middle left, top left, top centre, top
    // right, middle right, bottom right, bottom centre, centre.
    int nPos = 0;
    float fPosX = 0.0f;
    float fPosY = 0.0f;
    int bFixSizeX = 0;
    int bFixSizeY = 0;
    float fSizeCX = 0.0f;
    float fSizeCY = 0.0f;
    // Place the centre at (fPosX, fPosY) instead of using the anchor.
    int bFix = 0;
    float fPosXOrg = 0.0f;
    float fPosYOrg = 0.0f;
    // The path of the imported file, when the group came from one.
    std::wstring strFilename;
    // Keep the aspect ratio when only one side is fixed.
    int bKeepxySizeRate = 0;

protected:
    // For a derived shape that names itself: takes the next group number,
    // as every group does, and leaves kind, type name and caption to the
    // derived constructor.
    struct NamedByDerived {};
    explicit CGroupShape(NamedByDerived);
    // Marks the rectangle stale, forces the next GetMarkData to rebuild and
    // drops the snap points.
    void GeometryChanged();
    // Whether the whole content (lines or members) can take the map.
    bool TakesMap(const AffineMap& map);
    // The transforms and the cache clear for callers that hold the event
    // (the fill's own transforms).
    int MoveHeld(float dx, float dy);
    int RotateHeld(double angle, tagPOINTF centre);
    int ZoomHeld(tagPOINTF fixed, double sx, double sy);
    int SlopeHeld(tagPOINTF fixed, double a, double b);
    int MirrorHeld(tagPOINTF fixed, int mode);
    int SortPathHeld();
    void ClearMarkBuffHeld();
    int SetPenHeld(unsigned char pen);

private:
    // Line-mode helpers.
    template <class F>
    void TransformLines(F f);
    Gdiplus::RectF LinesRectangle() const;
    COLORREF LinePenColor(const tagPLTLINE& line);
    int DrawLinesPreview(CDC* dc, DWORD color, const std::vector<std::vector<tagPOINTF>>& lines);
    CGroupShape* LinesToPolyLineGroup();
    CBaseShape* LineToPolyLine(const tagPLTLINE& line);

    // The shapes the last GetBasicShapeList created; freed by the next one
    // and by the destructor.
    std::vector<CBaseShape*> m_listed;
    std::vector<tagPOINTF> m_snapPoints;
    bool m_snapValid = false;
    size_t m_snapSource = 0;
    Gdiplus::RectF m_rcLastGroup;
};
