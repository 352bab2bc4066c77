// CFilledShape: the hatch-filled shape. A group whose children are the
// shapes it fills, plus the border copies and rings ("edge") that a line fill
// produces, and four hatch paths, one per hatch set of its FILLED_PARS.
//
// The hatch is regenerated on demand (DoFill), kept through moves, rotations,
// slants and mirrors by transforming the paths, and rebuilt after a zoom so
// that the spacing stays in drawing units. Filling is idempotent: every fill
// first removes the hatch and "edge" children of the previous one.
//
// Ownership: as for groups, the destructor leaves the children alone; the
// owner calls FreeShapePtr first. The shapes a line fill created by
// flattening (line-mode polylines and the like) belong to the fill shape.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "morvik/compose/filler.h"
#include "morvik/compose/group.h"
#include "morvik/core/params.h"
#include "morvik/gdiplus/graphicspath.h"

class CFonts;

class MORVIK_API CFilledShape : public CGroupShape, private CFillSite {
    DECLARE_SERIAL(CFilledShape)

public:
    static constexpr int kSetCount = FILLED_PARS::kSetCount;

    // An empty fill shape with set 0 enabled, captioned "Fill<n>". It runs
    // the group constructor first, so it also takes a group number.
    CFilledShape();
    // Destroys the shapes the last line fill created; the children are left
    // to FreeShapePtr.
    ~CFilledShape() override;
    CFilledShape(const CFilledShape&) = delete;
    CFilledShape& operator=(const CFilledShape&) = delete;

    // ---- parameters --------------------------------------------------------------
    // Takes the parameters and removes the hatch; it does not fill again.
    void SetParam(FILLED_PARS par);
    void GetParam(FILLED_PARS& par) const { par = m_par; }
    // Takes the parameters without touching the fill.
    void SaveParamToCFG(FILLED_PARS par) { m_par = par; }
    // The parameters themselves, for the undo records that assign them.
    FILLED_PARS& Params() { return m_par; }

    // ---- filling -----------------------------------------------------------------
    // Regenerates the hatch of every enabled set. `whole` fills every line
    // set over all shapes at once instead of per source child.
    void DoFill(int whole);
    // As DoFill; the shapes that the flattening created go to `created`
    // (the caller owns them) instead of being kept here.
    void DoFillNew(std::vector<CBaseShape*>& created, int whole);
    // Resets the hatch paths and removes (and destroys) the children that a
    // fill produced ("edge" and "filler"); with `all` every child goes.
    int DeleteFill(bool all);
    // Destroys every child and empties the child list.
    void FreeShapeList(int);
    // As FreeShapeList, for the owner that deletes the fill next: no other
    // thread can reach it any more, so its event is neither made nor taken.
    void FreeMembersBeforeDelete();
    // A new group (owned by the caller) of clones of the "edge" children;
    // null when there is none.
    CGroupShape* GetEdge();
    // The hatch as polylines ("filler", pen of their set) added to target,
    // or to this shape when target is null.
    void PathToShape(CGroupShape* target);
    // Appends the hatch (per enabled set, under its pen) and the "edge"
    // children as mark data.
    void GetFillPath(std::vector<tagPathData>& out);
    // Lets a variable text child advance, then fills again. False when the
    // text cannot advance.
    bool GetVarFontsNext(CFonts* text);
    // The children (not "edge") that are texts with variable text.
    std::vector<CFonts*> VariableTexts();

    // The line fills and the concentric fill over this shape's children.
    void DoFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes) { m_runner.DoFillLiner(set, shapes); }
    void DoFillLinerMiddle(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, CShapeFiller& filler) {
        m_runner.DoFillLinerMiddle(set, shapes, filler);
    }
    void DoBolckFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, bool cross,
                          Gdiplus::GraphicsPath* paths) {
        m_runner.DoBolckFillLiner(set, shapes, cross, paths);
    }
    void DoExecuteShape(ClipperLib::Paths& out, int executeType) { m_runner.DoExecuteShape(out, executeType); }
    void DoExecuteShapeEx(ClipperLib::Paths& out, int executeType, std::vector<CBaseShape*>& shapes) {
        m_runner.DoExecuteShapeEx(out, executeType, shapes);
    }
    void DoFillCircular(SHAPE_FILLER_PARAM& set) { m_runner.DoFillCircular(set); }
    void SetCircleFillPath(CCircle* circle, int index) { m_runner.SetCircleFillPath(circle, index); }
    CFillRunner& GetRunner() { return m_runner; }

    // Gives every hatch set this pen and colour; the hatch itself stays.
    void SetHatchPen(unsigned char pen, COLORREF colour);
    // The hatch path of a set index (0 to 3); null for any other.
    Gdiplus::GraphicsPath* GetFillPathOf(int index);
    // The no-redraw flag: set on the fill shapes a text owns. A fill then
    // does not invalidate the view, a zoom refills as a whole, all shapes are
    // subjects in the Clipper step, and marking never turns the hatch.
    int GetNoRedraw() const { return m_bNoRedraw; }
    void SetNoRedraw(int flag) { m_bNoRedraw = flag; }
    // After a shape-list read: the sets and hatch paths come back from their
    // saved copies.
    void RestoreAfterRead();

    // The process-wide hatch-turn flag: 0 until a mark meets a set that turns
    // per mark; from then on every mark turns such sets.
    static int GetHatchTurnFlag();
    static void SetHatchTurnFlag(int flag);

    // ---- shape interface ---------------------------------------------------------
    void Serialize(CArchive& ar) override;
    void AddAllProp(bool extended) override;                                              // 7
    CBaseShape* ToBezier() override;                                                      // 9
    CBaseShape* Clone() override;                                                         // 12
    void FillShape(const FILLED_PARS& par) override;                                      // 13
    FILLED_PARS GetFillParam() override;                                                  // 14
    int SetPen(unsigned char pen) override;                                               // 15
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                // 22
    int Draw(CDC* dc, int a, int b, int c, int d) override;                               // 23
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int a, int b, int c, int d, float dx,
             float dy) override;                                                          // 24
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                            // 29
    int Move(float dx, float dy) override;                                                // 30
    int Rotate(double angle, tagPOINTF centre) override;                                  // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                             // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                              // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                       // 34
    int IsInClientRectF() override;                                                       // 41
    bool GetOutLinePath(std::vector<tagPathData>& paths) override;                        // 44
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;   // 49
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                  // 53
    void UpdatePropsValue() override;                                                     // 66
    void CleanupAfterMark(int from, int to, tagMarkCtlData ctl) override;                 // 68

    // The no-redraw flag, int 0 by default.
    int m_bNoRedraw = 0;
    // Set by the shape-list reader when it gives a text's fill child its
    // saved hatch sets.
    int bParamGiven = 0;

    // Whether the outlines and every hatch point can take the map: a
    // transform that would leave a point beyond float changes nothing.
    bool TakesMap(const AffineMap& map);

private:
    // ---- CFillSite --------------------------------------------------------------
    CBaseShape* GetFillShape() override { return this; }
    Gdiplus::GraphicsPath* GetHatchPath(int index) override { return GetFillPathOf(index); }
    bool IsNoRedraw() override { return m_bNoRedraw != 0; }
    void GetBasicShapeList(std::vector<CBaseShape*>& shapes, std::vector<CBaseShape*>& created) override;
    int GetSourceIndex(CBaseShape* shape) override;

    void FillSets(int whole, std::vector<CBaseShape*>& created);
    // DeleteFill and DoFill for callers that hold the event.
    int DropFill(bool all);
    void Refill(int whole);
    void DestroyCreated();
    // The points of the shapes this shape fills ("edge" and "filler" left
    // out), in child order: what a hatch was made for.
    std::vector<tagPOINTF> FilledOutline();
    // Puts the hatch and the children it produced aside, with the outline
    // and parameters it was made for, before new parameters or a zoom
    // replace it.
    void KeepHatch();
    // Gives back the hatch put aside for the outline as it stands and the
    // current parameters; false when there is none.
    bool RestoreKeptHatch(int whole);
    void FreeKeptHatches();
    // Applies f to every point of the four hatch paths.
    template <class F>
    void TransformHatch(F f);
    void DrawHatch(Gdiplus::Graphics& g, const std::vector<Gdiplus::PointF>* device, int set);
    bool TurnsPerMark(const SHAPE_FILLER_PARAM& set) const;
    void AddOutlines(std::vector<tagPathData>& out);
    // The archive form of the hatch paths.
    void FillSeri2(CArchive& ar);

    Gdiplus::GraphicsPath m_paths[kSetCount];
    FILLED_PARS m_par;
    CFillRunner m_runner{*this};
    std::vector<CBaseShape*> m_created;

    // Hatches replaced by new parameters or by a zoom, newest last. A
    // hatch moved, turned, slanted or mirrored with its shape is not the
    // one a new fill of the outline would make; the undo of the change that
    // replaced it (a fill with the old parameters, a zoom back) gives it back
    // from here. Only a fill shape of its own keeps them: the fill shapes
    // of a text are kept by the text.
    struct KeptHatch {
        std::vector<tagPOINTF> outline;
        FILLED_PARS par;
        int whole = 0;
        Gdiplus::GraphicsPath paths[kSetCount];
        std::vector<CBaseShape*> products;  // owned while kept
    };
    std::vector<std::unique_ptr<KeptHatch>> m_keptHatches;
    // The whole flag of the fill that made the current hatch.
    int m_hatchWhole = 0;

    // Saved copies, refreshed by UpdatePropsValue and read back by
    // RestoreAfterRead.
    std::vector<SHAPE_FILLER_PARAM> m_propSets;
    std::vector<std::vector<tagPOINTF>> m_propPoints;
    std::vector<uint8_t> m_propTypes;
    std::vector<std::vector<uint8_t>> m_propSetTypes;
    std::vector<std::vector<int32_t>> m_propCounts;
    // Blocks that every fill shape saves as zeros; read into this object's
    // own scratch, never into storage that other shapes share.
    int32_t m_edgeCount[4] = {};
    float m_fillAngle[3] = {};
    std::vector<float> m_fillAngleAppend;
    int32_t m_ptIndex[3] = {};
    std::vector<int32_t> m_ptIndexAppend;
};
