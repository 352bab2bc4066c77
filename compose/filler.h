// Hatch filling: the scan-line hatch engine CShapeFiller, and CFillRunner,
// which carries out the line fills (inline or on worker threads) and the
// concentric fill of a fill shape and writes their hatch into the shape's
// hatch paths.
//
// The engine works in a fixed-point space of 64-bit integers, 10,000,000
// units per millimetre, its inputs first rounded to five decimals, so that
// crossings, duplicates and connections are decided exactly. Clipper works at
// 3571 units per millimetre.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include <polyclipping/clipper.hpp>

#include "morvik/core/params.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/halder/baseshape.h"
#include "morvik/win32/windows.h"

class CCircle;

// The fixed-point scales of the fills.
constexpr double kHatchUnitsPerMm = 10000000.0;
constexpr double kClipperScale = 3571.0;

// The five-decimal rounding of a value followed by the scaling to hatch
// units: round(v x 100,000) halves away from zero, times 100. Values that are
// not numbers count as 0; values beyond +-1e9 mm are held there.
int64_t HatchUnits(double v);
// A drawing-unit value in Clipper coordinates (rounded half away from zero);
// false for a value that is not a number or lies beyond +-1e9 mm.
bool ToClipperCoord(double v, ClipperLib::cInt& out);

// Whether a caption marks a shape that a fill produced rather than one it
// fills: "edge" (border copies and rings) or "filler" (hatch), in any case.
bool IsFillProductCaption(const CString& caption);

// ---------------------------------------------------------------------------
// CShapeFiller: turns closed outlines into parallel hatch lines for one line
// set (kinds 1 to 4 of SHAPE_FILLER_PARAM::nFillType). One engine serves one
// fill pass of one thread.
//
// Calling order: construct, SetFillParam, AddContour per outline, LineFill,
// Clear; for a cross fill LineFill and Clear again with the angle raised by
// 90 (a copy of the set handed over with SetFillParam); then Reset.
class MORVIK_API CShapeFiller {
public:
    // Two fixed-point points are the same point when both |dx| and |dy| are
    // below this many units.
    static constexpr int64_t kSamePointUnits = 20;
    // The smallest spacing the engine works with, in units.
    static constexpr int64_t kMinSpacingUnits = 10;
    // More scan lines than this in one pass are refused (run log), since
    // they would only come from absurd spacings.
    static constexpr int64_t kMaxScanLines = 1000000;

    CShapeFiller();
    ~CShapeFiller();
    CShapeFiller(const CShapeFiller&) = delete;
    CShapeFiller& operator=(const CShapeFiller&) = delete;

    // The set to fill; not owned, read by every pass until replaced.
    void SetFillParam(SHAPE_FILLER_PARAM* par) { m_pPar = par; }
    SHAPE_FILLER_PARAM* GetFillParam() const { return m_pPar; }

    // Appends an outline of at least 2 points; shorter outlines, and outlines
    // with a coordinate that is not a number or lies beyond +-1e9 mm, are
    // ignored.
    void AddContour(std::vector<tagPOINTF> outline);
    size_t GetContourCount() const { return m_contours.size(); }

    // The whole fill. Returns the result path (open figures), owned by the
    // engine and valid until the next Init, Reset or destruction; null when
    // there are no outlines or Init fails. Every failure is written to the
    // run log and leaves no hatch.
    Gdiplus::GraphicsPath* LineFill();
    // Prepares a pass: spacing, separate-lines flag, outline path, centre of
    // rotation. False when the spacing is below 10 units.
    bool Init();
    // Empties the scan lines, border paths and polyline buffer and zeroes
    // the pass state; keeps the outlines and both paths.
    void Clear();
    // Empties everything, outlines included, and resets both paths. Returns
    // false when the set's spacing is below 10 units (the engine is emptied
    // all the same, so it can never fill stale outlines again).
    bool Reset();

    // The spacing of the last pass in units (after an even arrangement, the
    // spread spacing).
    int64_t GetSpacingUnits() const { return m_spacing; }

private:
    struct FixPt {
        int64_t x = 0;
        int64_t y = 0;
    };
    // A border path: the outline followed from a crossing on one scan line
    // to the next crossing, which lies on the same or a neighbouring line.
    // Linked kinds walk along them from one line to the next.
    using Border = std::vector<FixPt>;

    // One scan line after the crossings are paired: run i goes from
    // starts[i] to ends[i]. next[i] leads to the first live run at or after
    // i (runs that are drawn are skipped in one step, so lines with many
    // coinciding runs stay fast).
    struct RunLine {
        std::vector<int64_t> starts;
        std::vector<int64_t> ends;
        std::vector<uint32_t> next;
        size_t remaining = 0;
    };
    // The border paths of one gap with an index by first x. next[1] skips
    // the borders that can no longer lead to a run met at its start, next[0]
    // those that can no longer lead to one met at its end: used borders,
    // borders that do not reach the next line, and borders whose end has
    // lost its run (runs never come back).
    struct BorderGap {
        std::vector<Border> borders;
        std::vector<uint32_t> byX;
        std::vector<uint32_t> next[2];
    };
    // The first live entry at or after i.
    static size_t NextLive(std::vector<uint32_t>& next, size_t i);

    static bool SamePoint(const FixPt& a, const FixPt& b);
    bool OnScanLine(int64_t y) const;
    int64_t LineY(int64_t k) const { return m_minY + k * m_spacing; }

    bool PlaceScanLines();
    void WalkFigure(std::vector<FixPt>& pts);
    void AddCrossing(int64_t k, int64_t x, bool& started, Border& head, Border& border, int64_t& borderLine,
                     int64_t& firstLine);
    void StoreBorder(Border&& border, int64_t lineA, int64_t lineB);
    void BuildFigures();
    void PairRuns(std::vector<RunLine>& runs);
    void EmitSeparate(std::vector<RunLine>& runs, bool quick);
    void EmitLinkedByLine(std::vector<RunLine>& runs);
    void EmitLinkedByRegion(std::vector<RunLine>& runs);
    void IndexBorders();
    // An unused border of gap k that starts at from and ends on line k + 1
    // (with next: at a live run of that line, met at its start or its end,
    // whose index goes to run), or -1. Of several, the one of least first x,
    // then the earliest stored. The border found is marked used.
    int64_t FindBorder(int64_t k, const FixPt& from, RunLine* next, bool byStart, int64_t* run);
    // The live run of a line whose start (or end) is x, or -1.
    static int64_t FindRun(RunLine& line, int64_t x, bool byStart);
    static void KillRun(RunLine& line, size_t i);

    void PushPoint(int64_t x, int64_t y);
    void EmitBuffer();
    void AddSegment(int64_t x1, int64_t x2, int64_t k);

    std::vector<std::vector<tagPOINTF>> m_contours;
    SHAPE_FILLER_PARAM* m_pPar = nullptr;
    uint8_t m_bSeparate = 0;
    std::vector<std::vector<int64_t>> m_scanLines;
    std::vector<BorderGap> m_gaps;
    int64_t m_minY = 0;
    int64_t m_maxY = 0;
    int64_t m_sideCount = 0;
    Gdiplus::PointF m_centre;
    std::vector<Gdiplus::PointF> m_polyBuf;
    Gdiplus::GraphicsPath m_outlinePath;
    Gdiplus::GraphicsPath m_resultPath;
    int64_t m_spacing = 0;
};

// ---------------------------------------------------------------------------
// What the fills need of the fill shape they work for. The fill shape
// implements it (its group part answers the basic-shape list with
// GetBasicShapeList2 and the source index with a find in its source-index
// map). The queries are also called from the block threads of a large
// line fill, several at once, and must not change shared state;
// AddFillChild runs on one thread at a time (in a threaded fill, on a
// direction thread while the caller waits).
class MORVIK_API CFillSite {
public:
    virtual ~CFillSite() = default;
    // The fill shape: its document, view, smoothing ratio and child list.
    virtual CBaseShape* GetFillShape() = 0;
    // The hatch path of a set's nIndex (0 to 3); null for any other index.
    virtual Gdiplus::GraphicsPath* GetHatchPath(int index) = 0;
    // The no-redraw flag of the fill shape.
    virtual bool IsNoRedraw() = 0;
    // The group's basic-shape list of the fill shape. Shapes the listing
    // creates go to created as well; the caller deletes those after use.
    virtual void GetBasicShapeList(std::vector<CBaseShape*>& shapes, std::vector<CBaseShape*>& created) = 0;
    // The entry of a listed shape in the group's source-index map; 0 when
    // the shape has none. Called from several threads at once.
    virtual int GetSourceIndex(CBaseShape* shape) = 0;
    // Adopts a produced child ("edge"): the default gives it the fill
    // shape's document, view and GUID as parent and appends it to the child
    // list.
    virtual void AddFillChild(CBaseShape* child);
};

// ---------------------------------------------------------------------------
// CFillRunner: the line fills and the concentric fill of one fill shape.
class MORVIK_API CFillRunner {
public:
    // Lists of more shapes than this are filled by worker threads.
    static constexpr size_t kInlineShapeLimit = 40000;
    static constexpr int kBlockCount = 8;
    // The exact concentric fill of a lone circle draws at most this many
    // rings.
    static constexpr int kMaxExactRings = 4100;
    // A lone rounded rectangle gets every ring its spacing gives; one that
    // would need more rings than this is not filled at all (a spacing far
    // below anything a laser marks).
    static constexpr int64_t kMaxRectRings = 1000000;
    // After this long the concentric fill asks whether to go on.
    static constexpr DWORD kSlowFillMs = 15000;

    explicit CFillRunner(CFillSite& site);
    // Waits without time-out for any worker thread still recorded.
    ~CFillRunner();
    CFillRunner(const CFillRunner&) = delete;
    CFillRunner& operator=(const CFillRunner&) = delete;

    // Fills one line set over the list and appends the hatch to the hatch
    // path of the set's nIndex. The set is not written.
    void DoFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes);
    // Prepares the outlines of the list for the engine and adds border rings
    // and border copies ("edge") to the fill shape.
    void DoFillLinerMiddle(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, CShapeFiller& filler);
    // The block fill of one direction into 8 paths, one per block in list
    // order. Each block thread runs its own engine, at most two at a time
    // (pairs 0-1, 2-3, ...), and is joined before this returns; the "edge"
    // children of the main direction are adopted in block order once the
    // last pair has ended.
    void DoBolckFillLiner(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, bool cross,
                          Gdiplus::GraphicsPath* paths);
    // DoExecuteShapeEx over the fill shape's basic-shape list.
    void DoExecuteShape(ClipperLib::Paths& out, int executeType);
    // Combines the outlines of the list (shapes captioned "edge" or "filler"
    // are taken out of it first): 0 xor, 1 intersection, 2 union, 3
    // difference, anything else xor; fewer than 2 shapes are united.
    void DoExecuteShapeEx(ClipperLib::Paths& out, int executeType, std::vector<CBaseShape*>& shapes);

    // The concentric fill of one set into its hatch path.
    void DoFillCircular(SHAPE_FILLER_PARAM& set);
    bool CircleRings(const SHAPE_FILLER_PARAM& set, CBaseShape* shape);
    bool RoundedRectRings(const SHAPE_FILLER_PARAM& set, CBaseShape* shape, Gdiplus::GraphicsPath& hatch);
    void OffsetRings(const SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, Gdiplus::GraphicsPath& hatch);
    // Appends the circle, flattened at 0.25, to hatch path index as one
    // closed figure. Nothing happens for no circle.
    void SetCircleFillPath(CCircle* circle, int index);

    // Whether a worker thread of this runner is running.
    bool HasRunningThreads() const;
    // Lists of more shapes than this go to the worker threads (tests lower
    // it to try the threaded path on small drawings).
    void SetInlineShapeLimit(size_t limit) { m_inlineLimit = limit; }

    // The process-wide slow-fill question flag (initially 1): cleared when
    // the user answers Yes; the fill shape sets it again after every fill.
    static uint8_t GetSlowFillAsk();
    static void SetSlowFillAsk(uint8_t ask);
    // Where the concentric fill takes its millisecond ticks from (null:
    // GetTickCount).
    void SetTickSource(std::function<DWORD()> tick) { m_tick = std::move(tick); }
    // One inward offset of the concentric fill (paths, delta in Clipper
    // units); null: Clipper's offsetter with miter joins. Tests put a slow
    // one in. It runs on a worker thread and must use nothing but its
    // arguments and what it owns.
    using RingOffset = std::function<ClipperLib::Paths(const ClipperLib::Paths&, double)>;
    void SetRingOffset(RingOffset offset) { m_ringOffset = std::move(offset); }
    // How often, in real milliseconds, the concentric fill looks at the
    // clock while a long Clipper step runs.
    static constexpr int kAskPollMs = 50;

private:
    struct BlockRecord;
    // A worker thread for work, or an empty handle when none could start.
    std::thread StartWorker(std::function<void()> work);
    // Joins the worker, or does its work here when it never started.
    static void FinishWorker(std::thread& thread, const std::function<void()>& work);
    void RunBlock(BlockRecord& rec);

    // The preparation behind DoFillLinerMiddle; produced "edge" children go
    // to edges, or nowhere when edges is null.
    void PrepareOutlines(SHAPE_FILLER_PARAM& set, std::vector<CBaseShape*>& shapes, CShapeFiller& filler,
                         std::vector<CBaseShape*>* edges);
    CBaseShape* MakeEdge(const ClipperLib::Path& path, int pen);
    void AdoptEdges(std::vector<CBaseShape*>& edges);
    // The slow-fill question; false when the fill must stop.
    bool GoOnAfterQuestion(DWORD start);
    // Runs one long Clipper step of the concentric fill on a worker thread
    // while this thread keeps the clock, so the slow-fill question comes on
    // time even in the middle of one offset of a huge outline. False when
    // the user said No: the fill ends at once, and the abandoned step ends
    // on its own data and its result is dropped.
    bool RunAsking(std::function<ClipperLib::Paths()> step, ClipperLib::Paths& out, DWORD start);
    // The outlines of the list added to the clipper as DoExecuteShapeEx
    // adds them; returns the clip type of executeType.
    ClipperLib::ClipType PrepareExecute(ClipperLib::Clipper& clipper, int executeType,
                                        std::vector<CBaseShape*>& shapes);
    DWORD Ticks() const;

    CFillSite& m_site;
    std::function<DWORD()> m_tick;
    RingOffset m_ringOffset;
    size_t m_inlineLimit = kInlineShapeLimit;
    std::atomic<int> m_running{0};
};
