#include "morvik/shapes/screwline.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <span>
#include <utility>

#include "morvik/afx/message_box.h"
#include "morvik/core/runlog.h"
#include "morvik/halder/lang.h"

IMPLEMENT_SERIAL(CScrewLine, CBaseShape, 4)

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// A rectangle narrower or lower than this (mm) holds no spiral.
constexpr float kMinSide = 0.002f;

constexpr wchar_t kMoveRefused[] = L"正在计算螺旋线路径，请稍后移动...";
constexpr wchar_t kRotateRefused[] = L"正在计算螺旋线路径，请稍后旋转...";
constexpr wchar_t kCloneRefused[] = L"正在计算螺旋线路径，请稍后克隆...";

// Messages wait until the thread holds no shape's event: the host may
// repaint, and a repaint draws shapes.
void ShowText(const char* key) {
    CBaseShape::WhenReleased([key] { AfxMessageBox(CLang::Instance()->GetString(key).GetString()); });
}
void Tell(const wchar_t* text) {
    CBaseShape::WhenReleased([text] { AfxMessageBox(text); });
}

// The ellipse inscribed in the spiral's rectangle (Y is the top edge). A
// radius r stands for an ellipse of the rectangle's aspect ratio whose larger
// semi-axis is r.
struct Ellipse {
    double cx, cy, a, b, w, h, rmax;

    explicit Ellipse(const Gdiplus::RectF& r)
        : cx(static_cast<double>(r.X) + r.Width / 2.0),
          cy(static_cast<double>(r.Y) - r.Height / 2.0),
          a(r.Width / 2.0),
          b(r.Height / 2.0),
          w(r.Width),
          h(r.Height),
          rmax(std::max(a, b)) {}

    void Axes(double r, double& rx, double& ry) const {
        if (a <= b) {
            ry = r;
            rx = r * w / h;
        } else {
            rx = r;
            ry = r * h / w;
        }
    }
};

// The gap between turns: constant (mode 0), growing from the smallest gap to
// the largest (1) or shrinking from the largest to the smallest (2). It never
// leaves [smallest, largest], so a spiral always advances.
class Gap {
public:
    explicit Gap(const SCREW_PAR& p)
        : m_mode(p.m_nType == 1 || p.m_nType == 2 ? static_cast<int>(p.m_nType) : 0),
          m_lo(p.m_fMinGap),
          m_hi(p.m_fMaxGap),
          m_step(p.m_fGapStep),
          m_value(m_mode == 2 ? m_hi : m_lo) {}

    double Value() const { return m_value; }

    void NextTurn() {
        if (m_mode == 0) {
            return;
        }
        m_value += m_mode == 1 ? m_step : -m_step;
        m_value = std::max(m_lo, std::min(m_hi, m_value));
    }

private:
    int m_mode;
    double m_lo;
    double m_hi;
    double m_step;
    double m_value;
};

// Collects the points of a path, or only counts them when there is no list.
// It remembers the angle and radius of the last point and the angle step in
// force, so the next section can start one step further on. It stops taking
// points beyond its limit, after as many turns, or once cancelled.
class PathBuilder {
public:
    PathBuilder(const Ellipse& e, std::vector<tagPOINTF>* out, uint64_t limit, const std::atomic<bool>* cancel)
        : m_e(e), m_out(out), m_limit(limit), m_cancel(cancel) {}

    const Ellipse& Geometry() const { return m_e; }

    // A point at the given angle on the ellipse of radius r.
    bool Add(double angle, double r) {
        double rx = 0;
        double ry = 0;
        m_e.Axes(r, rx, ry);
        if (!AddAxes(angle, rx, ry)) {
            return false;
        }
        lastRadius = r;
        return true;
    }

    // A point at the given angle on the ellipse of semi-axes rx, ry.
    bool AddAxes(double angle, double rx, double ry) {
        if (Stopped()) {
            return false;
        }
        if (++m_count > m_limit) {
            m_overflow = true;
            return false;
        }
        if (m_out != nullptr) {
            m_out->push_back({static_cast<float>(m_e.cx + std::cos(angle) * rx),
                              static_cast<float>(m_e.cy + std::sin(angle) * ry)});
        }
        lastAngle = angle;
        return true;
    }

    // Counts one turn of a spiral: turns that add no point still end.
    void Turn() {
        if (++m_turns > m_limit) {
            m_overflow = true;
        }
    }

    bool Stopped() const {
        return m_overflow || (m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed));
    }
    bool Overflowed() const { return m_overflow; }
    uint64_t Count() const { return m_count; }
    // Where the next section starts: one step after the last point.
    double NextAngle() const { return lastAngle + step; }

    double lastAngle = 0.0;
    double lastRadius = 0.0;
    double step = 0.0;

private:
    const Ellipse& m_e;
    std::vector<tagPOINTF>* m_out;
    uint64_t m_limit;
    const std::atomic<bool>* m_cancel;
    uint64_t m_count = 0;
    uint64_t m_turns = 0;
    bool m_overflow = false;
};

// count rings of the points per turn of r0, at start + j·dθ on the ellipse of
// the given radius. Then one point again: the first of the rings, or (when
// closeOnLast) the last point of the first ring.
void Rings(PathBuilder& pb, double r0, double radius, uint32_t count, double start, bool closeOnLast) {
    const int n = CScrewLine::PointCount(r0);
    if (n <= 0 || count == 0) {
        return;
    }
    const double d = kTwoPi / n;
    double rx = 0;
    double ry = 0;
    pb.Geometry().Axes(radius, rx, ry);
    for (uint32_t ring = 0; ring < count; ++ring) {
        for (int j = 0; j < n; ++j) {
            if (!pb.AddAxes(start + j * d, rx, ry)) {
                return;
            }
        }
    }
    pb.AddAxes(closeOnLast ? start + (n - 1) * d : start, rx, ry);
    pb.step = d;
}

// From r0 out to the edge, each turn at base + j·dθ with the points per turn
// of its own radius; the radius grows by the turn's gap within the turn.
void OutwardSpiral(PathBuilder& pb, const SCREW_PAR& par, double base) {
    const double rmax = pb.Geometry().rmax;
    Gap gap(par);
    double r = par.m_fMinRadius;
    while (r < rmax && !pb.Stopped()) {
        pb.Turn();
        const int n = CScrewLine::PointCount(r);
        if (n > 0) {
            const double d = kTwoPi / n;
            const double g = gap.Value();
            for (int j = 0; j < n; ++j) {
                const double radius = r + j * g / n;
                if (radius > rmax) {
                    break;
                }
                if (!pb.Add(base + j * d, radius)) {
                    return;
                }
                pb.step = d;
            }
        }
        r += gap.Value();
        gap.NextTurn();
    }
}

// From the edge in to r0 with the points per turn of the edge, each turn at
// base + j·dθ.
void InwardSpiral(PathBuilder& pb, const SCREW_PAR& par, double base) {
    const double rmax = pb.Geometry().rmax;
    const double r0 = par.m_fMinRadius;
    const int n = CScrewLine::PointCount(rmax);
    if (n <= 0) {
        return;
    }
    const double d = kTwoPi / n;
    Gap gap(par);
    double r = rmax;
    while (r > r0 && !pb.Stopped()) {
        pb.Turn();
        const double g = gap.Value();
        for (int j = 0; j < n; ++j) {
            const double radius = r - j * g / n;
            if (radius < r0) {
                break;
            }
            if (!pb.Add(base + j * d, radius)) {
                return;
            }
            pb.step = d;
        }
        r -= g;
        gap.NextTurn();
    }
}

// count rings on the rectangle's own ellipse, continuing one step after the
// last point; the first of them is repeated at the end.
void OuterRings(PathBuilder& pb, uint32_t count) {
    const Ellipse& e = pb.Geometry();
    const int n = CScrewLine::PointCount(e.rmax);
    if (n <= 0 || count == 0) {
        return;
    }
    const double start = pb.NextAngle();
    const double d = kTwoPi / n;
    for (uint32_t ring = 0; ring < count; ++ring) {
        for (int j = 0; j < n; ++j) {
            if (!pb.AddAxes(start + j * d, e.a, e.b)) {
                return;
            }
        }
    }
    pb.AddAxes(start, e.a, e.b);
    pb.step = d;
}

// The single spiral: inner rings, the spiral out to the edge, outer rings.
// Answers the angle where a loop pass continues.
double SingleSpiral(PathBuilder& pb, const SCREW_PAR& par) {
    const double r0 = par.m_fMinRadius;
    Rings(pb, r0, r0, par.m_nInCount, 0.0, false);
    if (r0 <= pb.Geometry().rmax) {
        OutwardSpiral(pb, par, 0.0);
        OuterRings(pb, par.m_nOutCount);
    }
    return pb.NextAngle();
}

// One loop pass: in to the start radius, its rings, out again, the edge
// rings. Answers the angle of the next pass.
double LoopPass(PathBuilder& pb, const SCREW_PAR& par, double theta) {
    const double r0 = par.m_fMinRadius;
    pb.lastAngle = theta;
    pb.step = 0.0;
    pb.lastRadius = r0;
    InwardSpiral(pb, par, theta);
    Rings(pb, r0, pb.lastRadius, par.m_nInCount, pb.NextAngle(), true);
    if (r0 <= pb.Geometry().rmax) {
        OutwardSpiral(pb, par, pb.NextAngle());
        OuterRings(pb, par.m_nOutCount);
    }
    double next = pb.NextAngle();
    while (next > kTwoPi) {
        next -= kTwoPi;
    }
    return next;
}

// Whether the parameters can make a finite spiral at all: every gap in use
// must be a positive number, or the spiral would never advance. The message
// names the first setting that cannot be used; null when all can.
const wchar_t* UnusableSetting(const SCREW_PAR& p) {
    if (!std::isfinite(p.m_fMinRadius)) {
        return L"The spiral cannot be created: its start radius is not a finite number.";
    }
    if (!std::isfinite(p.m_fMinGap) || !(p.m_fMinGap > 0.0f)) {
        return L"The spiral cannot be created: its gap is not a positive finite number.";
    }
    if (p.m_nType == 1 || p.m_nType == 2) {
        if (!std::isfinite(p.m_fMaxGap)) {
            return L"The spiral cannot be created: its largest gap is not a finite number.";
        }
        if (!std::isfinite(p.m_fGapStep)) {
            return L"The spiral cannot be created: its gap step is not a finite number.";
        }
    }
    return nullptr;
}

bool RectUsable(const Gdiplus::RectF& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Width) && std::isfinite(r.Height) &&
           r.Width >= kMinSide && r.Height >= kMinSide;
}

}  // namespace

// ---- construction ---------------------------------------------------------------

CScrewLine::CScrewLine() {
    InitShape(SHAPE_SCREWLINE, "IDS_TYPENAME_SCREWLINE", ShapeCounterOf(SHAPE_SCREWLINE), L"%s");
}

namespace {
// The source of a copy, once its loop path is finished.
const CScrewLine& Settled(const CScrewLine& shape) {
    shape.WaitForLoopPath();
    return shape;
}
}  // namespace

CScrewLine::CScrewLine(const CScrewLine& other) : CPolyLine(Settled(other)) { CopyScrewFrom(other); }

CScrewLine& CScrewLine::operator=(const CScrewLine& other) {
    if (this == &other) {
        return *this;
    }
    WaitForLoopPath();
    other.WaitForLoopPath();
    CPolyLine::operator=(other);
    CopyScrewFrom(other);
    return *this;
}

void CScrewLine::CopyScrewFrom(const CScrewLine& other) {
    static_cast<ScrewLineFields&>(*this) = other;
    m_bLoopDone = other.m_bLoopDone.load();
}

CScrewLine::~CScrewLine() {
    // The thread works on this object's members: stop it and wait for it
    // before any of them goes away.
    m_bCancel.store(true);
    WaitForLoopPath();
}

// ---- the spiral ------------------------------------------------------------------

int CScrewLine::PointCount(double r) {
    if (!(r >= 0.001)) {
        return 0;
    }
    double count = 0;
    if (r < 0.05) {
        count = r / 0.01 * 10.0;
    } else if (r < 0.1) {
        count = r / 0.01 * 20.0;
    } else if (r < 0.5) {
        count = r / 0.01 * 15.0;
    } else if (r < 1.0) {
        count = r / 0.1 * 30.0;
    } else if (r < 5.0) {
        count = std::sqrt(std::sqrt(r)) * 30.0;
    } else if (r < 10.0) {
        count = std::sqrt(std::sqrt(r)) * 60.0;
    } else {
        count = std::sqrt(std::sqrt(r / 10.0)) * 100.0;
    }
    // An absurd radius must not overflow the count.
    if (!(count < static_cast<double>(INT_MAX))) {
        return INT_MAX;
    }
    return static_cast<int>(count);
}

void CScrewLine::GetParam(SCREW_PAR& par) { par = m_parScrew; }

void CScrewLine::PlaceBuilt(std::vector<tagPOINTF>& points) const {
    if (m_buildMap.IsIdentity()) {
        return;
    }
    for (tagPOINTF& p : points) {
        p = m_buildMap.Apply(p);
    }
}

void CScrewLine::SetParam(SCREW_PAR par, Gdiplus::RectF* rect) {
    // The background thread reads the parameters, the rectangle and the seed:
    // let a running computation finish before any of them changes.
    WaitForLoopPath();

    // Settings that are not numbers are refused before they are kept: they
    // would be saved with the shape and used by its next rebuild.
    if (const wchar_t* unusable = UnusableSetting(par)) {
        Tell(unusable);
        return;
    }
    if (par.m_nType != 0 && par.m_fMaxGap <= par.m_fMinGap) {
        par.m_fMaxGap = par.m_fMinGap;
        par.m_nType = 0;
    }
    m_parScrew = par;

    if (rect == nullptr && arrPoint.empty() && !m_bHasBuild) {
        ShowText("IDS_DRAW_SPIRAL_ERR");
        return;
    }
    // The bounding rectangle of a spiral is smaller than the one it was
    // built in: building in it again would shrink the spiral every time.
    Gdiplus::RectF bounds;
    AffineMap placed;
    if (rect != nullptr) {
        bounds = *rect;
    } else if (m_bHasBuild) {
        bounds = m_rcBuild;
        placed = m_buildMap;
    } else {
        GetRectangle(bounds);
    }
    if (!RectUsable(bounds)) {
        ShowText("IDS_CREATE_SPIRAL_ERR");
        return;
    }
    const Ellipse ellipse(bounds);

    // Count first, so parameters that would make an endless or enormous
    // path are refused before anything is allocated or changed.
    PathBuilder counter(ellipse, nullptr, kMaxPathPoints, nullptr);
    SingleSpiral(counter, par);
    const bool loop = par.m_bEnable == 1 && par.m_nLoopCount > 0;
    bool tooLarge = counter.Overflowed();
    if (loop && !tooLarge) {
        PathBuilder pass(ellipse, nullptr, kMaxPathPoints, nullptr);
        LoopPass(pass, par, 0.0);
        const uint64_t total = counter.Count() + pass.Count() * static_cast<uint64_t>(par.m_nLoopCount);
        tooLarge = pass.Overflowed() || total > kMaxPathPoints;
    }
    if (tooLarge) {
        ShowText("IDS_CREATE_SPIRAL_ERR");
        return;
    }

    std::vector<tagPOINTF> spiral;
    spiral.reserve(static_cast<size_t>(counter.Count()));
    PathBuilder builder(ellipse, &spiral, kMaxPathPoints, nullptr);
    const double startAngle = SingleSpiral(builder, par);

    // The loop thread takes no event: it writes only the loop path.
    const ShapeGuard guard(this);
    m_bHasBuild = true;
    m_rcBuild = bounds;
    m_buildMap = placed;
    arrPoint = spiral;
    PlaceBuilt(arrPoint);
    if (par.m_nDir == 1) {
        std::reverse(arrPoint.begin(), arrPoint.end());
    }
    ClearDetail();
    InvalidateGeometry();

    if (loop) {
        // The thread gets the spiral as it was built; arrPoint may be
        // reversed already, and the thread never reads it.
        m_rcScrew = bounds;
        m_dStartAngle = startAngle;
        m_arrLoopSeed = std::move(spiral);
        m_bCancel.store(false);
        m_bLoopDone = 0;
        std::lock_guard<std::mutex> guard(m_threadMutex);
        m_bComputing.store(true, std::memory_order_release);
        m_pThread = CreateThread(nullptr, 0, &CScrewLine::ScrewLoop, this, 0, nullptr);
        if (m_pThread == nullptr) {
            // No thread to be had: build the loop path here instead.
            ScrewLoop(this);
        }
    } else if (LoopMode()) {
        // Loop mode with no extra passes: the loop path is the spiral itself,
        // not whatever an earlier computation left behind.
        arrLoopPoint = arrPoint;
        m_arrLoopSeed.clear();
    } else {
        arrLoopPoint.clear();
        m_arrLoopSeed.clear();
    }
}

UINT CScrewLine::ScrewLoop(void* shape) {
    auto* self = static_cast<CScrewLine*>(shape);
    return self == nullptr ? 0 : self->RunLoop();
}

UINT CScrewLine::RunLoop() {
    m_bLoopDone = 0;
    if (m_loopStartHook) {
        m_loopStartHook();
    }
    UINT result = 0;
    if (m_parScrew.m_bEnable == 1 && m_parScrew.m_nLoopCount >= 1) {
        try {
            const Ellipse ellipse(m_rcScrew);
            std::vector<tagPOINTF> path = m_arrLoopSeed;
            PathBuilder builder(ellipse, &path, kMaxPathPoints, &m_bCancel);
            double theta = m_dStartAngle;
            for (int32_t pass = 0; pass < m_parScrew.m_nLoopCount && !builder.Stopped(); ++pass) {
                theta = LoopPass(builder, m_parScrew, theta);
            }
            // A cancelled computation belongs to a shape that is going away;
            // an overflow cannot happen after SetParam's count, but a cut
            // path must never pass for a finished one.
            if (!builder.Stopped()) {
                PlaceBuilt(path);
                if (m_parScrew.m_nDir == 1) {
                    std::reverse(path.begin(), path.end());
                }
                arrLoopPoint = std::move(path);
                m_bLoopDone = 1;
                result = 1;
            }
        } catch (...) {
            RunLog::Instance(nullptr)->Write(L"The loop path of a spiral could not be built.");
        }
        if (result == 0 && !m_bCancel.load()) {
            // Fall back to the single spiral (built from the seed: the editing
            // thread owns arrPoint) rather than keep a stale loop path.
            try {
                std::vector<tagPOINTF> single = m_arrLoopSeed;
                PlaceBuilt(single);
                if (m_parScrew.m_nDir == 1) {
                    std::reverse(single.begin(), single.end());
                }
                arrLoopPoint = std::move(single);
            } catch (...) {
                arrLoopPoint.clear();
            }
        }
    }
    m_bComputing.store(false, std::memory_order_release);
    return result;
}

void CScrewLine::WaitForLoopPath() const {
    std::lock_guard<std::mutex> guard(m_threadMutex);
    if (m_pThread != nullptr) {
        WaitForSingleObject(m_pThread, INFINITE);
        CloseHandle(m_pThread);
        m_pThread = nullptr;
    }
}

bool CScrewLine::RefuseWhileComputing(const wchar_t* text) {
    if (!IsLoopComputing()) {
        return false;
    }
    Tell(text);
    return true;
}

// ---- persistence -----------------------------------------------------------------

void CScrewLine::Read(bool extended, SriFile* file) {
    WaitForLoopPath();
    CPolyLine::Read(extended, file);
}

void CScrewLine::AddAllProp(bool extended) {
    // The spiral saves its own point lists, not the polyline's.
    CBaseShape::AddAllProp(extended);
    AddProp("nSize", &nSize);
    AddProp("shape_filler_param", &m_parScrew);
    AddProp("screwlinearrPointf", &screwlinearrPointf);
    AddProp("screwlinearrPointf2", &screwlinearrPointf2);
}

void CScrewLine::UpdatePropsValue() {
    WaitForLoopPath();
    CBaseShape::UpdatePropsValue();
    screwlinearrPointf.assign(1, geom::FinitePoints(arrPoint));
    screwlinearrPointf2.assign(1, geom::FinitePoints(arrLoopPoint));
}

void CScrewLine::RestoreAfterRead() {
    WaitForLoopPath();
    const ShapeGuard guard(this);
    // The file keeps the points, not the rectangle they were built in.
    m_bHasBuild = false;
    m_buildMap = AffineMap();
    // A point that is not a number is not taken in: it would reach the
    // scanner.
    auto finite = [](const tagPOINTF& p) { return geom::Finite(p); };
    arrPoint.clear();
    for (const std::vector<tagPOINTF>& group : screwlinearrPointf) {
        std::copy_if(group.begin(), group.end(), std::back_inserter(arrPoint), finite);
    }
    arrLoopPoint.clear();
    for (const std::vector<tagPOINTF>& group : screwlinearrPointf2) {
        std::copy_if(group.begin(), group.end(), std::back_inserter(arrLoopPoint), finite);
    }
    ClearDetail();
    InvalidateGeometry();
}

// ---- copies and transforms ---------------------------------------------------------

CBaseShape* CScrewLine::Clone() {
    if (RefuseWhileComputing(kCloneRefused)) {
        return nullptr;
    }
    auto* copy = new CScrewLine();
    copy->arrPoint = arrPoint;
    copy->CopyScrewFrom(*this);
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

int CScrewLine::Move(float dx, float dy) {
    // Busy with the loop path is not a refusal of the numbers: the host
    // is told so and the call may be repeated.
    if (RefuseWhileComputing(kMoveRefused)) {
        return 0;
    }
    if (!KeepsFinite(AffineMap::Move(dx, dy))) {
        return kRefused;
    }
    // Taken after the questions above: the host is never asked with it held.
    const ShapeGuard guard(this);
    if (LoopMode()) {
        for (tagPOINTF& p : arrLoopPoint) {
            p.x += dx;
            p.y += dy;
        }
    }
    Transformed(AffineMap::Move(dx, dy));
    return CPolyLine::MoveHeld(dx, dy);
}

int CScrewLine::Rotate(double angle, tagPOINTF centre) {
    if (RefuseWhileComputing(kRotateRefused)) {
        return 0;
    }
    if (!KeepsFinite(AffineMap::Rotate(angle, centre))) {
        return kRefused;
    }
    // Taken after the questions above: the host is never asked with it held.
    const ShapeGuard guard(this);
    if (LoopMode()) {
        for (tagPOINTF& p : arrLoopPoint) {
            p = PointfRotate(p, centre, angle);
        }
    }
    Transformed(AffineMap::Rotate(angle, centre));
    return CPolyLine::RotateHeld(angle, centre);
}

// The remaining transforms are not refused, but they must not touch the loop
// path while the thread writes it: they wait for it instead.
int CScrewLine::Zoom(tagPOINTF fixed, double sx, double sy) {
    WaitForLoopPath();
    if (!KeepsFinite(AffineMap::Zoom(sx, sy, fixed))) {
        return kRefused;
    }
    // Taken after the questions above: the host is never asked with it held.
    const ShapeGuard guard(this);
    if (LoopMode()) {
        for (tagPOINTF& p : arrLoopPoint) {
            p = PointfZoom(p, sx, sy, fixed);
        }
    }
    Transformed(AffineMap::Zoom(sx, sy, fixed));
    return CPolyLine::ZoomHeld(fixed, sx, sy);
}

int CScrewLine::Slope(tagPOINTF fixed, double a, double b) {
    WaitForLoopPath();
    if (!KeepsFinite(AffineMap::Slope(a, b, fixed))) {
        return kRefused;
    }
    // Taken after the questions above: the host is never asked with it held.
    const ShapeGuard guard(this);
    if (LoopMode()) {
        for (tagPOINTF& p : arrLoopPoint) {
            p = PointfSlope(p, a, b, fixed);
        }
    }
    Transformed(AffineMap::Slope(a, b, fixed));
    return CPolyLine::SlopeHeld(fixed, a, b);
}

int CScrewLine::Mirror(tagPOINTF fixed, int mode) {
    WaitForLoopPath();
    if (mode < 1 || mode > 3) {
        return 0;
    }
    if (!KeepsFinite(AffineMap::Mirror(mode, fixed))) {
        return kRefused;
    }
    // Taken after the questions above: the host is never asked with it held.
    const ShapeGuard guard(this);
    if (LoopMode()) {
        for (tagPOINTF& p : arrLoopPoint) {
            p = PointfMirror(p, fixed, mode);
        }
    }
    Transformed(AffineMap::Mirror(mode, fixed));
    return CPolyLine::MirrorHeld(fixed, mode);
}

bool CScrewLine::KeepsFinite(const AffineMap& map) const {
    // Checked on both paths before either changes: the polyline part would
    // refuse on its own, but the loop path and the build map must not move
    // when it does.
    return geom::MapsFinite(map, arrPoint) && geom::MapsFinite(map, arrLoopPoint) &&
           geom::MapsFinite(m_buildMap.Then(map), std::span<const tagPOINTF>());
}

// ---- flattening and mark data --------------------------------------------------------

int CScrewLine::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    WaitForLoopPath();
    points = geom::FinitePoints(LoopMode() ? arrLoopPoint : arrPoint);
    return 0;
}

const std::vector<tagPOINTF>& CScrewLine::DrawnPoints() {
    return LoopMode() && !IsLoopComputing() ? arrLoopPoint : arrPoint;
}

CBaseShape* CScrewLine::ToBezier() {
    WaitForLoopPath();
    return CPolyLine::ToBezier();
}

int CScrewLine::ExportXmlToBuff(tagXmlBuff& buff) {
    WaitForLoopPath();
    return CPolyLine::ExportXmlToBuff(buff);
}

int CScrewLine::ExportGCodeToBuff(GCodeContext& ctx) {
    // The export waits for the loop path, as the mark data does.
    WaitForLoopPath();
    return CPolyLine::ExportGCodeToBuff(ctx);
}

bool CScrewLine::GetMarkData(tagMarkDataPar& out, tagMarkCtlData* ctl) {
    // Wait before the shape's event is taken, so a long computation does not
    // hold the lock; the polyline's scheme then flattens through this class.
    WaitForLoopPath();
    return CPolyLine::GetMarkData(out, ctl);
}

int CScrewLine::GetFlattenPathPointsFill(std::vector<tagPOINTF>& points) {
    Gdiplus::RectF bounds;
    GetRectangle(bounds);
    const Ellipse e(bounds);
    const int n = PointCount(e.rmax);
    if (n <= 0 || static_cast<uint64_t>(n) > kMaxPathPoints) {
        return 0;
    }
    const size_t first = points.size();
    for (int j = 0; j < n; ++j) {
        const double angle = kTwoPi * j / n;
        points.push_back({static_cast<float>(e.cx + std::cos(angle) * e.a),
                          static_cast<float>(e.cy + std::sin(angle) * e.b)});
    }
    points.push_back(points[first]);
    return 0;
}
