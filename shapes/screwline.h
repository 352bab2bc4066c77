// CScrewLine: the spiral line. A polyline generated from a rectangle and a
// SCREW_PAR record: an Archimedean-style spiral that fills the ellipse
// inscribed in the rectangle, from a start radius out to the edge, with
// optional rings at the centre and at the edge.
//
// In loop mode a second, longer path runs the spiral in and out again a
// number of times; that path is what is marked. It is computed on a
// background thread so the editor stays responsive. While that thread runs
// the shape refuses to move, rotate or clone itself (a move or turn then
// answers 0, not kRefused: the numbers are sound); every other operation
// that needs the loop path (the other transforms, flattening, mark data,
// saving, a new SetParam) waits for the thread to finish. The destructor
// stops and joins the thread, so the thread never outlives the shape.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/core/params.h"
#include "morvik/core/polyline.h"

// The spiral's parameters, loop path and build, each listed here once: a
// copy takes them whole (CopyScrewFrom, Clone).
struct ScrewLineFields {
    SCREW_PAR m_parScrew;
    // The rectangle the loop computation works in.
    Gdiplus::RectF m_rcScrew;
    // Where the first loop pass starts (radians).
    double m_dStartAngle = 0.0;
    // The loop path (loop mode only).
    std::vector<tagPOINTF> arrLoopPoint;
    // Saved forms of arrLoopPoint and of arrPoint, refreshed by
    // UpdatePropsValue.
    std::vector<std::vector<tagPOINTF>> screwlinearrPointf2;
    std::vector<std::vector<tagPOINTF>> screwlinearrPointf;
    int nSize = 0;
    // The single spiral before any reversal: where the loop path starts.
    std::vector<tagPOINTF> m_arrLoopSeed;
    // The rectangle of the last build and the transforms applied since.
    bool m_bHasBuild = false;
    Gdiplus::RectF m_rcBuild;
    AffineMap m_buildMap;
};

class MORVIK_API CScrewLine : public CPolyLine, public ScrewLineFields {
    DECLARE_SERIAL(CScrewLine)

public:
    // No path (single spiral or loop path) grows beyond this many points:
    // absurd parameters are refused instead of exhausting memory.
    static constexpr uint64_t kMaxPathPoints = uint64_t{1} << 25;

    CScrewLine();
    // Copies wait for the source's path thread; the copy itself is idle.
    CScrewLine(const CScrewLine& other);
    CScrewLine& operator=(const CScrewLine& other);
    ~CScrewLine() override;

    // Computes the spiral in the rectangle. Null: in the rectangle of the
    // last build, carried through every transform since (so a parameter
    // change and its undo put the spiral back where it was and it keeps its
    // size), or, for a spiral that was never built here (one read from a
    // file), in its current bounding rectangle. In loop mode the loop path
    // is then built on the background thread. A rectangle that is missing,
    // too small or not finite, or parameters that cannot make a finite
    // spiral, are reported with a message box and change nothing but the
    // stored parameters.
    void SetParam(SCREW_PAR par, Gdiplus::RectF* rect);
    void GetParam(SCREW_PAR& par);
    // The body of the background thread (the shape as its argument).
    static UINT ScrewLoop(void* shape);

    // Points per turn of a circle of radius r (mm).
    static int PointCount(double r);

    // True from the start of a loop computation until its path is in place.
    bool IsLoopComputing() const { return m_bComputing.load(std::memory_order_acquire); }
    // Blocks until no loop computation runs. Safe from any thread.
    void WaitForLoopPath() const;
    // Called on the background thread before it computes (for a host that
    // wants to know, and for tests that need to hold the computation).
    // Set it only while no computation runs.
    void SetLoopStartHook(std::function<void()> hook) { m_loopStartHook = std::move(hook); }

    // Brings the working point lists back from their saved copies after a
    // read.
    void RestoreAfterRead();

    // ---- shape interface ----------------------------------------------------
    void Read(bool extended, SriFile* file) override;                                     // 6
    void AddAllProp(bool extended) override;                                              // 7
    CBaseShape* Clone() override;                                                         // 12
    int Move(float dx, float dy) override;                                                // 30
    int Rotate(double angle, tagPOINTF centre) override;                                  // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                             // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                              // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                       // 34
    // The marked path (the loop path in loop mode, once it is built): the
    // curve a conversion gives and what the exports write.
    CBaseShape* ToBezier() override;                                                      // 9
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;   // 49
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                  // 53
    void UpdatePropsValue() override;                                                     // 66
    // Appends the closed outline of the ellipse inscribed in the bounding
    // rectangle: the spiral's boundary for fills.
    virtual int GetFlattenPathPointsFill(std::vector<tagPOINTF>& points);                // 70

    // The parameters, loop path and build are ScrewLineFields.
    // The running path thread, until someone has waited for it.
    mutable HANDLE m_pThread = nullptr;
    // 1 once the background thread has finished the loop path.
    std::atomic<int> m_bLoopDone{0};

protected:
    // What is drawn is what is marked: the loop path in loop mode, the
    // single spiral while the loop path is still being computed (the thread
    // writes it) and outside loop mode.
    const std::vector<tagPOINTF>& DrawnPoints() override;

private:
    bool LoopMode() const { return m_parScrew.m_bEnable == 1; }
    void CopyScrewFrom(const CScrewLine& other);
    // Refuses an edit while the loop path is computed: shows the text and
    // answers true.
    bool RefuseWhileComputing(const wchar_t* text);
    // True when map keeps every point of the spiral and of the loop path
    // finite in float (and the build map finite): a transform is refused
    // whole otherwise.
    bool KeepsFinite(const AffineMap& map) const;
    UINT RunLoop();

    // Puts points built in the build rectangle where the transforms since
    // have taken the spiral.
    void PlaceBuilt(std::vector<tagPOINTF>& points) const;
    // Records a transform in the build map.
    void Transformed(const AffineMap& map) { m_buildMap = m_buildMap.Then(map); }
    std::atomic<bool> m_bComputing{false};
    std::atomic<bool> m_bCancel{false};
    // Serialises the waits for the thread and the start of a new one; the
    // thread itself never takes it.
    mutable std::mutex m_threadMutex;
    std::function<void()> m_loopStartHook;
};
