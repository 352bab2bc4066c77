// CPolygon: the regular polygon and star. It is not stored as points: it
// keeps a side count n, a centre, two polar rings (n outer vertices at even
// indices, n inner vertices at odd indices) and the list of modifications
// (moves, slants, rotations, zooms, mirrors) applied since it was built.
// Every vertex is computed on demand: polar placement on its ring, then the
// modifications replayed in order. The outline is the closed chain of the 2n
// alternating vertices; index 2n falls on vertex 0 and 2n+1 on vertex 1.
//
// An unedited polygon has its inner vertices on the midpoints of its edges.
// Dragging a vertex scales and turns its whole ring, which makes a star (or
// twists one ring against the other).
//
// No number that is not finite in float ever enters the rings or the
// modification list: a call whose arguments or resulting vertices would put
// one there (a NaN, an infinity, a zoom that overflows) is refused whole and
// changes nothing; transforms then return kRefused.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "morvik/core/geometry.h"
#include "morvik/core/params.h"
#include "morvik/halder/baseshape.h"

// The polygon's build and rings (angles in radians) and its modification
// lists, each listed here once: a copy takes them whole (Clone) and a
// refused step puts them back whole.
struct PolygonFields {
    // The rectangle of the last InitPolygon; not saved.
    Gdiplus::RectF initRect;
    int nBorder = 0;
    tagPOINTF center0{};
    double radius = 0.0;
    double angle = 0.0;
    double radius2 = 0.0;
    double angle2 = 0.0;
    // Product of the radius factors and sum of the angle changes that drags
    // applied to the outer ring; the same for the inner ring.
    double radius_rate = 1.0;
    double angle_diff = 0.0;
    double radius2_rate = 1.0;
    double angle2_diff = 0.0;
    // The live modification list and its saved copy.
    std::vector<SHAPE_MODIFY> vModify;
    std::vector<SHAPE_MODIFY> vModifySave;
};

class MORVIK_API CPolygon : public CBaseShape, public PolygonFields {
    DECLARE_SERIAL(CPolygon)

public:
    // Side counts above this are refused: every outline query walks 2n+1
    // vertices, and a count read from a damaged file must not run away.
    static constexpr int kMaxBorder = 100000;
    // The modification list never grows beyond this many entries: the
    // oldest ones are folded into at most four equivalent ones (a slant, a
    // zoom, a rotation and a move about the origin), the latest
    // kKeptModify stay as they are.
    static constexpr size_t kMaxModify = 256;
    static constexpr size_t kKeptModify = 64;

    CPolygon();
    CPolygon(const CPolygon& other) = default;
    CPolygon& operator=(const CPolygon& other) = default;
    ~CPolygon() override;

    // ---- own operations ---------------------------------------------------
    // Builds a regular polygon in rect (Y its top edge): centre in the middle,
    // outer radius half the height, vertex 0 straight up, and one zoom that
    // makes it exactly rect's width. n below 3 takes the process-wide default
    // side count. A rectangle narrower or lower than 1e-5 changes nothing.
    void InitPolygon(Gdiplus::RectF rect, int n);
    // Changes the side count inside the present outline, keeping the drags;
    // n becomes the process-wide default. Returns the side count before.
    int SetPolygonProperty(int n);
    void GetPolygonProperty(int& n) const { n = nBorder; }
    int GetBorder() const { return nBorder; }
    // Rebuilds the rings for n sides from the rectangle of the last build,
    // keeping the drags. 1 done; 0 for n below 3, an unbuilt polygon, or one
    // that has no build rectangle (as after a read).
    int SetBorder(int n);
    // Position of vertex i. r below 0 takes the stored ring of i; otherwise
    // (r, a) is the polar radius and angle used instead.
    tagPOINTF GetPoint(int i, double r, double a);
    // Scales the ring of vertex i by scale and turns it by dAngle (radians).
    // A factor not above 1e-7 (no undo could take it back) and a drag whose
    // vertices would not be finite change nothing.
    void DoDrag(int i, double scale, double dAngle);
    // Moves the working drag values so that the picked vertex follows pt.
    void CalculateModify(tagPOINTF pt);
    // One-dimensional searches on the working radius / angle; the result is
    // the distance left between pt and the working vertex.
    double CalculateRadius(tagPOINTF pt);
    double CalculateAngle(tagPOINTF pt);
    // After a read: the saved modifications are appended to the working list.
    // Saved rings or modifications holding a number that is not finite are
    // not taken: the polygon is left unbuilt (no outline to mark or export).
    void RestoreAfterRead();

    // ---- shape interface ----------------------------------------------------
    void AddAllProp(bool extended) override;                                              // 7
    CBaseShape* ToBezier() override;                                                      // 9
    CBaseShape* ToPolyLine() override;                                                    // 10
    CBaseShape* Clone() override;                                                         // 12
    int ExportXmlToBuff(tagXmlBuff& buff) override;                                       // 16
    int ExportGCodeToBuff(GCodeContext& ctx) override;                                    // 17
    int DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) override;     // 19
    int DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) override;  // 20
    int DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) override;        // 21
    int DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD color, int arrow, float dx,
                       float dy) override;                                                // 22
    // In the shape's own pen colour: (dc, arrow, mode, unused, marker).
    int Draw(CDC* dc, int arrow, int mode, int unused, int marker) override;  // 23
    // (dc, graphics or null for one on dc, colour, arrow, mode, unused,
    // start marker, dx, dy).
    int Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int unused, int marker, float dx,
             float dy) override;                                                                        // 24
    int DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int marker, float dx, float dy) override;  // 25
    int DrawEditPoints(CDC* dc) override;                                                               // 26
    int GetEditPoint(std::vector<tagPOINTF>& points) override;                                          // 27
    int ModifyEditPoint(int index, tagPOINTF point) override;                                           // 28
    int GetSnapPoint(std::vector<tagPOINTF>& points) override;                                          // 29
    // Transforms return 0, or kRefused when a number or a vertex would not
    // be finite.
    int Move(float dx, float dy) override;                                                              // 30
    int Rotate(double angle, tagPOINTF centre) override;                                                // 31
    int Zoom(tagPOINTF fixed, double sx, double sy) override;                                           // 32
    int Slope(tagPOINTF fixed, double a, double b) override;                                            // 33
    int Mirror(tagPOINTF fixed, int mode) override;                                                     // 34
    int SortPath() override;                                                                            // 35
    int IsInRect(Gdiplus::RectF& rect) override;                                                        // 38
    int IsMe(tagPOINTF point) override;                                                                 // 39
    int IsInClientRectF() override;                                                                     // 41
    int GetRectangle(Gdiplus::RectF& rect) override;                                                    // 42
    int GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) override;                 // 49
    int GetFlattenPathFirstPoint(tagPOINTF& point) override;                                            // 50
    int GetFlattenPathLastPoint(tagPOINTF& point) override;                                             // 51
    bool GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) override;                                // 53
    int IsSelectedForRect(Gdiplus::RectF& rect) override;                                               // 64
    void UpdatePropsValue() override;                                                                   // 66

    // ---- members (angles in radians; the built rings are PolygonFields) -----
    // State of the last pick, meaningful between GetEditPoint and
    // ModifyEditPoint.
    int nDragIndex = -1;
    double dragAngle = 0.0;
    double dragRadius = 0.0;

    // The side count InitPolygon takes when given fewer than 3; one value
    // for the whole process.
    static std::atomic<int> nDefaultBorder;

private:
    // Zoom, InitPolygon and SetBorder for callers that hold the event.
    int ZoomHeld(tagPOINTF fixed, double sx, double sy);
    void InitPolygonHeld(Gdiplus::RectF rect, int n);
    int SetBorderHeld(int n);
    bool IsBuilt() const { return nBorder >= 3 && nBorder <= kMaxBorder; }
    // Everything the builders, drags and transforms change, for taking a
    // refused step back.
    struct State {
        PolygonFields fields;
        bool antiX;
        bool antiY;
    };
    State Capture() const;
    void Restore(const State& s);
    // The rings, the modification list and every vertex are finite.
    bool GeometryFinite();
    // Runs step; when it fails or leaves a number that is not finite the
    // polygon is put back as it was. True when the step was kept.
    template <class F>
    bool Guarded(F&& step);
    // Applies the modification list to p: all of it at once, as the one
    // affine map it amounts to.
    tagPOINTF Replay(tagPOINTF p);
    // The stored vertices 0 to 2n (the closed outline), or 0 to 2n+1 with
    // withSecond; none for an unbuilt polygon. Kept until the rings or the
    // modification list change.
    std::vector<tagPOINTF> Vertices(bool withSecond);
    std::vector<tagPOINTF> CachedVertices(bool withSecond);
    // Folds the oldest entries when the list is over its bound.
    void BoundModify();
    // Shows "unknown modify cmd" once when a replay skipped a command.
    void ReportUnknownModify();
    // The bounding rectangle the polygon would have without its drags.
    Gdiplus::RectF UndraggedBounds();
    void AppendModify(int32_t cmd, double par1, double par2, tagPOINTF ref);
    bool AppendChecked(int32_t cmd, double par1, double par2, tagPOINTF ref);
    // Runs one search on value (the working radius or angle).
    double Search(tagPOINTF pt, bool onRadius);
    float ViewZoom() const;
    int DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points);

    // Set once a damaged modification list was reported: every vertex of
    // every redraw replays the list, and the user hears about it once. A
    // copy starts unreported.
    class ReportedFlag {
    public:
        ReportedFlag() = default;
        ReportedFlag(const ReportedFlag&) {}
        ReportedFlag& operator=(const ReportedFlag&) {
            Reset();
            return *this;
        }
        // True when it was already set.
        bool TestAndSet() { return m_set.exchange(true); }
        void Reset() { m_set.store(false); }

    private:
        std::atomic<bool> m_set{false};
    };
    ReportedFlag m_unknownReported;

    // The affine map of the modification list and the vertices it gave,
    // with what they were made from; checked against the members on every
    // use (the members are public). Drawing and marking may read the
    // polygon from two threads at once: the cache has its own lock. A copy
    // starts empty.
    class ReplayCache {
    public:
        ReplayCache() = default;
        ReplayCache(const ReplayCache&) {}
        ReplayCache& operator=(const ReplayCache&) {
            std::lock_guard<std::mutex> guard(mutex);
            mapValid = false;
            pointsValid = false;
            return *this;
        }
        std::mutex mutex;
        std::vector<SHAPE_MODIFY> modify;
        AffineMap map;
        bool mapValid = false;
        int border = 0;
        tagPOINTF centre{};
        double rings[4] = {};
        std::vector<tagPOINTF> points;
        bool pointsValid = false;
        // Set when a map was made past a command it does not know.
        bool unknown = false;
    };
    ReplayCache m_replay;
    // The map of the list, made again when the list changed; the caller
    // holds the cache's lock.
    const AffineMap& ReplayMap();
};
