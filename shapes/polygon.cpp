#include "morvik/shapes/polygon.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/afx/message_box.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_polygon.h"
#include "morvik/shapes/xmlmarkup.h"

IMPLEMENT_SERIAL(CPolygon, CBaseShape, 2)

std::atomic<int> CPolygon::nDefaultBorder{6};

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kMinRect = 1e-5f;
// Pick radius of a vertex, in millimetres.
constexpr double kPickRadius = 3.0;
// Tolerance of the rubber-band test.
constexpr float kSelectTolerance = 2.0f;
// A ring smaller than this cannot be scaled: the factor of the next drag
// would divide by it.
constexpr double kMinRadius = 1e-6;
constexpr double kMinFactor = 1e-7;
// The step sizes of the one-dimensional drag search.
constexpr double kSearchSteps[] = {0.1, 0.01, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};
// Moves one search may make; a pointer kilometres away stops here.
constexpr int kMaxSearchMoves = 100000;

using geom::Dist;
using geom::Finite;

bool ModifyFinite(const SHAPE_MODIFY& m) { return geom::AllFinite(m.par1, m.par2) && Finite(m.refPoint); }

// The rings of a regular n-gon built in rect: centre, outer radius (half the
// height), inner radius (the apothem) and the width of the vertices.
struct RingBuild {
    tagPOINTF centre{};
    double radius = 0.0;
    double radius2 = 0.0;
    double width = 0.0;
};

RingBuild BuildRings(const Gdiplus::RectF& rect, int n) {
    RingBuild b;
    b.centre = {static_cast<float>(static_cast<double>(rect.X) + rect.Width / 2.0),
                static_cast<float>((static_cast<double>(rect.Y) - rect.Height) + rect.Height / 2.0)};
    b.radius = rect.Height / 2.0;
    float minX = std::numeric_limits<float>::max();
    float maxX = std::numeric_limits<float>::lowest();
    tagPOINTF q0{};
    tagPOINTF q1{};
    for (int k = 0; k <= n; ++k) {
        // The closing vertex takes the exact start angle so that the last
        // vertex repeats the first one.
        const float theta = k == n ? static_cast<float>(kPi / 2.0)
                                   : static_cast<float>(k * 2.0 * kPi / n + kPi / 2.0);
        const tagPOINTF q{static_cast<float>(std::cos(static_cast<double>(theta)) * b.radius),
                          static_cast<float>(std::sin(static_cast<double>(theta)) * b.radius)};
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        if (k == 0) {
            q0 = q;
        } else if (k == 1) {
            q1 = q;
        }
    }
    const tagPOINTF mid = CBaseShape::GetMidPointF(q0, q1);
    b.radius2 = static_cast<float>(std::sqrt(static_cast<double>(mid.x) * mid.x + static_cast<double>(mid.y) * mid.y));
    b.width = static_cast<double>(maxX) - minX;
    return b;
}

// True when m lies on the segment a-b (within rounding of the vertices).
bool LiesOnEdge(tagPOINTF m, tagPOINTF a, tagPOINTF b) {
    const double ex = static_cast<double>(b.x) - a.x;
    const double ey = static_cast<double>(b.y) - a.y;
    const double len2 = ex * ex + ey * ey;
    double t = 0.0;
    if (len2 > 0.0) {
        t = std::clamp(((static_cast<double>(m.x) - a.x) * ex + (static_cast<double>(m.y) - a.y) * ey) / len2, 0.0,
                       1.0);
    }
    const double px = a.x + t * ex;
    const double py = a.y + t * ey;
    const double d = std::hypot(m.x - px, m.y - py);
    return d <= 1e-4 * std::sqrt(len2) + 1e-4;
}

void StrokeEdges(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev, float dx,
                 float dy) {
    for (size_t i = 1; i < dev.size(); ++i) {
        g.DrawLine(&pen, Gdiplus::PointF(dev[i - 1].X + dx, dev[i - 1].Y + dy),
                   Gdiplus::PointF(dev[i].X + dx, dev[i].Y + dy));
    }
}

// The map of one modification; false for a command the replay does not know.
bool ModifyMap(const SHAPE_MODIFY& m, AffineMap& a) {
    switch (m.cmd) {
        case SHAPE_MODIFY::kMove:
            a = AffineMap::Move(m.par1, m.par2);
            return true;
        case SHAPE_MODIFY::kSlope:
            a = AffineMap::Slope(m.par1, m.par2, m.refPoint);
            return true;
        case SHAPE_MODIFY::kRotate:
            a = AffineMap::Rotate(m.par1, m.refPoint);
            return true;
        case SHAPE_MODIFY::kZoom:
            a = AffineMap::Zoom(m.par1, m.par2, m.refPoint);
            return true;
        case SHAPE_MODIFY::kMirrorX:
        case SHAPE_MODIFY::kMirrorY:
        case SHAPE_MODIFY::kMirrorXY:
            a = AffineMap::Mirror(m.cmd - SHAPE_MODIFY::kMirrorX + 1, m.refPoint);
            return true;
        default:
            a = AffineMap();
            return false;
    }
}

SHAPE_MODIFY MakeModify(int32_t cmd, double par1, double par2, tagPOINTF ref) {
    SHAPE_MODIFY m;
    m.cmd = cmd;
    m.par1 = par1;
    m.par2 = par2;
    m.refPoint = ref;
    return m;
}

// The same modification, bit for bit.
bool SameModify(const SHAPE_MODIFY& a, const SHAPE_MODIFY& b) {
    return a.cmd == b.cmd && std::memcmp(&a.par1, &b.par1, sizeof a.par1) == 0 &&
           std::memcmp(&a.par2, &b.par2, sizeof a.par2) == 0 && a.refPoint.x == b.refPoint.x &&
           a.refPoint.y == b.refPoint.y;
}

// At most four modifications about the origin with the map f: a slant, a
// zoom, a rotation and a move, as f = move . rotation . zoom . slant.
std::vector<SHAPE_MODIFY> Unfold(const AffineMap& f) {
    double sx = std::hypot(f.xx, f.yx);
    double sy = 0.0;
    double turn = 0.0;
    double shear = 0.0;
    if (sx > 0.0) {
        turn = std::atan2(f.yx, f.xx);
        const double c = std::cos(turn);
        const double sn = std::sin(turn);
        shear = (c * f.xy + sn * f.yy) / sx;
        sy = c * f.yy - sn * f.xy;
    } else {
        // The first column is gone: only the second one is left to place.
        turn = std::atan2(-f.xy, f.yy);
        sy = std::hypot(f.xy, f.yy);
    }
    std::vector<SHAPE_MODIFY> out;
    const tagPOINTF origin{0.0f, 0.0f};
    if (shear != 0.0) {
        out.push_back(MakeModify(SHAPE_MODIFY::kSlope, std::atan(-shear), 0.0, origin));
    }
    if (sx != 1.0 || sy != 1.0) {
        out.push_back(MakeModify(SHAPE_MODIFY::kZoom, sx, sy, origin));
    }
    if (turn != 0.0) {
        out.push_back(MakeModify(SHAPE_MODIFY::kRotate, turn * 180.0 / kPi, 0.0, origin));
    }
    if (f.dx != 0.0 || f.dy != 0.0) {
        out.push_back(MakeModify(SHAPE_MODIFY::kMove, f.dx, f.dy, origin));
    }
    return out;
}

}  // namespace

CPolygon::CPolygon() { InitShape(SHAPE_POLYGON, "IDS_TYPENAME_POLYGON", ShapeCounterOf(SHAPE_POLYGON), L"%s%d"); }

CPolygon::~CPolygon() = default;

// ---- building -----------------------------------------------------------------

CPolygon::State CPolygon::Capture() const { return State{*this, m_bZoomAntiX, m_bZoomAntiY}; }

void CPolygon::Restore(const State& s) {
    static_cast<PolygonFields&>(*this) = s.fields;
    m_bZoomAntiX = s.antiX;
    m_bZoomAntiY = s.antiY;
    InvalidateGeometry();
}

bool CPolygon::GeometryFinite() {
    if (!geom::AllFinite(radius, angle, radius2, angle2, radius_rate, angle_diff, radius2_rate, angle2_diff) ||
        !Finite(center0) || !std::all_of(vModify.begin(), vModify.end(), ModifyFinite)) {
        return false;
    }
    // Every vertex a float and the span between them too: a zoom can leave
    // each corner in range and the width beyond it.
    return geom::SpanFits(Vertices(true));
}

template <class F>
bool CPolygon::Guarded(F&& step) {
    State before = Capture();
    if (!step() || !GeometryFinite()) {
        Restore(before);
        return false;
    }
    return true;
}

void CPolygon::InitPolygon(Gdiplus::RectF rect, int n) {
    const ShapeGuard guard(this);
    InitPolygonHeld(rect, n);
}

void CPolygon::InitPolygonHeld(Gdiplus::RectF rect, int n) {
    if (!(rect.Height >= kMinRect) || !(rect.Width >= kMinRect) || !geom::Finite(rect)) {
        return;
    }
    if (n < 3) {
        n = nDefaultBorder.load();
    }
    if (n < 3 || n > kMaxBorder) {
        return;
    }
    const RingBuild b = BuildRings(rect, n);
    // A rectangle at the edge of the float range gives vertices beyond it:
    // the polygon is then left as it was.
    const bool built = Guarded([&] {
        vModify.clear();
        nBorder = n;
        initRect = rect;
        center0 = b.centre;
        radius = b.radius;
        radius2 = b.radius2;
        angle = kPi / 2.0;
        angle2 = kPi / n + kPi / 2.0;
        // The vertices of an n-gon span less than its circle's width (odd n,
        // or n not a multiple of 4): stretch it to the rectangle's width.
        return ZoomHeld(center0, rect.Width / b.width, 1.0) == 0;
    });
    if (built) {
        m_unknownReported.Reset();
    }
    InvalidateGeometry();
}

int CPolygon::SetBorder(int n) {
    const ShapeGuard guard(this);
    return SetBorderHeld(n);
}

int CPolygon::SetBorderHeld(int n) {
    if (n < 3 || n > kMaxBorder || !IsBuilt()) {
        return 0;
    }
    // Without the rectangle of a build (a polygon read from a file) the
    // rings would collapse onto the origin.
    if (!(initRect.Width >= kMinRect) || !(initRect.Height >= kMinRect)) {
        return 0;
    }
    const RingBuild b = BuildRings(initRect, n);
    const bool done = Guarded([&] {
        center0 = b.centre;
        radius = b.radius;
        radius2 = b.radius2;
        angle = kPi / 2.0 + angle_diff;
        angle2 = kPi / n + kPi / 2.0 + angle2_diff;
        radius *= radius_rate;
        radius2 *= radius2_rate;
        nBorder = n;
        return true;
    });
    InvalidateGeometry();
    return done ? 1 : 0;
}

Gdiplus::RectF CPolygon::UndraggedBounds() {
    auto unrated = [](double r, double rate) {
        const double u = r / rate;
        return (rate > kMinFactor && std::isfinite(u)) ? u : r;
    };
    auto unturned = [](double a, double diff) {
        const double u = a - diff;
        return std::isfinite(u) ? u : a;
    };
    const double r0 = unrated(radius, radius_rate);
    const double a0 = unturned(angle, angle_diff);
    const double r1 = unrated(radius2, radius2_rate);
    const double a1 = unturned(angle2, angle2_diff);
    std::vector<tagPOINTF> pts;
    const int last = 2 * nBorder + 1;
    pts.reserve(static_cast<size_t>(last) + 1);
    for (int i = 0; i <= last; ++i) {
        pts.push_back((i & 1) == 0 ? GetPoint(i, r0, a0) : GetPoint(i, r1, a1));
    }
    return CalculateRectangle(pts);
}

int CPolygon::SetPolygonProperty(int n) {
    const ShapeGuard guard(this);
    const int old = nBorder;
    if (n < 3 || n > kMaxBorder || n == nBorder) {
        return old;
    }
    // The drags are re-applied after the rebuild, so the rebuild takes the
    // box the polygon would fill without them: a dragged star then keeps its
    // size instead of growing by its drag factors on every change.
    Gdiplus::RectF bounds;
    if (IsBuilt()) {
        bounds = UndraggedBounds();
    } else {
        GetRectangle(bounds);
    }
    if (!geom::Finite(bounds)) {
        return old;
    }
    // The rebuild and the drags re-applied are one step: when the drags
    // would take a vertex out of the float range, neither is kept.
    nDefaultBorder.store(n);
    Guarded([&] {
        InitPolygonHeld(bounds, n);
        if (old >= 3) {
            SetBorderHeld(n);
        }
        return true;
    });
    InvalidateGeometry();
    return old;
}

void CPolygon::RestoreAfterRead() {
    const ShapeGuard guard(this);
    vModify.insert(vModify.end(), vModifySave.begin(), vModifySave.end());
    m_unknownReported.Reset();
    BoundModify();
    InvalidateGeometry();
    if (!GeometryFinite()) {
        // A vertex that is not a number would reach the scanner: none of the
        // saved geometry is taken.
        Restore(State{PolygonFields{}, false, false});
    }
}

// ---- vertices -------------------------------------------------------------------

const AffineMap& CPolygon::ReplayMap() {
    ReplayCache& cache = m_replay;
    bool same = cache.mapValid && cache.modify.size() == vModify.size();
    for (size_t i = 0; same && i < vModify.size(); ++i) {
        same = SameModify(cache.modify[i], vModify[i]);
    }
    if (same) {
        return cache.map;
    }
    AffineMap total;
    for (const SHAPE_MODIFY& m : vModify) {
        AffineMap step;
        if (ModifyMap(m, step)) {
            total = total.Then(step);
        } else {
            cache.unknown = true;
        }
    }
    cache.modify = vModify;
    cache.map = total;
    cache.mapValid = true;
    cache.pointsValid = false;
    return cache.map;
}

void CPolygon::ReportUnknownModify() {
    bool unknown = false;
    {
        std::lock_guard<std::mutex> guard(m_replay.mutex);
        std::swap(unknown, m_replay.unknown);
    }
    // Skipped in the map; the user hears about a damaged list once per
    // polygon, not on every redraw (and outside the lock: the message box
    // may repaint).
    if (unknown && !m_unknownReported.TestAndSet()) {
        CBaseShape::WhenReleased([] { AfxMessageBox(L"unknown modify cmd", MB_OK); });
    }
}

tagPOINTF CPolygon::Replay(tagPOINTF p) {
    tagPOINTF q;
    {
        std::lock_guard<std::mutex> guard(m_replay.mutex);
        q = ReplayMap().Apply(p);
    }
    ReportUnknownModify();
    return q;
}

tagPOINTF CPolygon::GetPoint(int i, double r, double a) {
    if (!IsBuilt()) {
        return center0;
    }
    if (r < 0.0) {
        if ((i & 1) == 0) {
            r = radius;
            a = angle;
        } else {
            r = radius2;
            a = angle2;
        }
    }
    a += static_cast<double>((i / 2) * 2) * kPi / nBorder;
    const tagPOINTF p{static_cast<float>(center0.x + std::cos(a) * r),
                      static_cast<float>(center0.y + std::sin(a) * r)};
    return Replay(p);
}

std::vector<tagPOINTF> CPolygon::Vertices(bool withSecond) {
    if (!IsBuilt()) {
        return {};
    }
    std::vector<tagPOINTF> out = CachedVertices(withSecond);
    ReportUnknownModify();
    return out;
}

std::vector<tagPOINTF> CPolygon::CachedVertices(bool withSecond) {
    std::lock_guard<std::mutex> guard(m_replay.mutex);
    ReplayCache& cache = m_replay;
    const AffineMap& m = ReplayMap();
    const double rings[4] = {radius, angle, radius2, angle2};
    const bool same = cache.pointsValid && cache.border == nBorder && cache.centre == center0 &&
                      std::memcmp(cache.rings, rings, sizeof rings) == 0;
    if (!same) {
        // Vertices 0 to 2n + 1, placed on their rings as GetPoint places them.
        const int last = 2 * nBorder + 1;
        cache.points.clear();
        cache.points.reserve(static_cast<size_t>(last) + 1);
        for (int i = 0; i <= last; ++i) {
            const bool outer = (i & 1) == 0;
            const double r = outer ? radius : radius2;
            const double a = (outer ? angle : angle2) + static_cast<double>((i / 2) * 2) * kPi / nBorder;
            const tagPOINTF p{static_cast<float>(center0.x + std::cos(a) * r),
                              static_cast<float>(center0.y + std::sin(a) * r)};
            cache.points.push_back(m.Apply(p));
        }
        cache.border = nBorder;
        cache.centre = center0;
        std::copy(std::begin(rings), std::end(rings), std::begin(cache.rings));
        cache.pointsValid = true;
    }
    const size_t count = static_cast<size_t>(2 * nBorder + (withSecond ? 2 : 1));
    return std::vector<tagPOINTF>(cache.points.begin(), cache.points.begin() + static_cast<std::ptrdiff_t>(count));
}

// ---- drags --------------------------------------------------------------------------

void CPolygon::DoDrag(int i, double scale, double dAngle) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(scale, dAngle) || !(scale > kMinFactor)) {
        return;
    }
    Guarded([&] {
        if ((i & 1) == 0) {
            radius *= scale;
            radius_rate *= scale;
            angle += dAngle;
            angle_diff += dAngle;
        } else {
            radius2 *= scale;
            radius2_rate *= scale;
            angle2 += dAngle;
            angle2_diff += dAngle;
        }
        return true;
    });
    InvalidateGeometry();
}

int CPolygon::GetEditPoint(std::vector<tagPOINTF>& points) {
    if (points.empty() || !IsBuilt()) {
        return 0;
    }
    const tagPOINTF query = points[0];
    const int last = 2 * nBorder;
    for (int i = 0; i <= last; ++i) {
        const tagPOINTF p = GetPoint(i, -1.0, kPi);
        const double d = Dist(p, query);
        if (!(d >= 0.0 && d <= kPickRadius)) {
            continue;
        }
        const int before = i == 0 ? last - 1 : i - 1;
        const int after = i + 1 > last ? 1 : i + 1;
        points.clear();
        points.push_back(GetPoint(before, -1.0, kPi));
        points.push_back(p);
        points.push_back(GetPoint(after, -1.0, kPi));
        if ((i & 1) == 0) {
            dragRadius = radius;
            dragAngle = angle;
        } else {
            dragRadius = radius2;
            dragAngle = angle2;
        }
        nDragIndex = i;
        return i + 1;
    }
    return 0;
}

double CPolygon::Search(tagPOINTF pt, bool onRadius) {
    const int i = nDragIndex;
    double& value = onRadius ? dragRadius : dragAngle;
    auto distAt = [&](double v) {
        // A trial radius at or below zero is never better: the ring would
        // fold through the centre and the next drag would divide by it.
        if (onRadius && !(v > kMinRadius)) {
            return std::numeric_limits<double>::infinity();
        }
        return Dist(onRadius ? GetPoint(i, v, dragAngle) : GetPoint(i, dragRadius, v), pt);
    };
    size_t level = 0;
    int dir = 0;
    int moves = 0;
    while (level < std::size(kSearchSteps) && moves < kMaxSearchMoves) {
        const double step = kSearchSteps[level];
        const double d0 = distAt(value);
        const double down = distAt(value - step);
        const double up = distAt(value + step);
        if (d0 > down) {
            value -= step;
            ++moves;
            if (dir > 0) {
                ++level;
                dir = 0;
            } else {
                dir = -1;
            }
        } else if (d0 > up) {
            value += step;
            ++moves;
            if (dir < 0) {
                ++level;
                dir = 0;
            } else {
                dir = 1;
            }
        } else {
            ++level;
            dir = 0;
        }
    }
    return Dist(GetPoint(i, dragRadius, dragAngle), pt);
}

double CPolygon::CalculateRadius(tagPOINTF pt) { return Search(pt, true); }
double CPolygon::CalculateAngle(tagPOINTF pt) { return Search(pt, false); }

void CPolygon::CalculateModify(tagPOINTF pt) {
    if (!IsBuilt() || nDragIndex < 0 || nDragIndex > 2 * nBorder || !Finite(pt)) {
        return;
    }
    const int i = nDragIndex;
    if (Dist(pt, GetPoint(i, dragRadius, dragAngle)) > Dist(pt, GetPoint(i, -1.0, kPi))) {
        if ((i & 1) == 0) {
            dragRadius = radius;
            dragAngle = angle;
        } else {
            dragRadius = radius2;
            dragAngle = angle2;
        }
    }
    Gdiplus::RectF r;
    GetRectangle(r);
    const double near = (static_cast<double>(r.Width) + r.Height) * 1e-5;
    if (Dist(pt, GetPoint(i, dragRadius, dragAngle)) <= near) {
        return;
    }
    for (int pass = 0; pass < 10; ++pass) {
        CalculateAngle(pt);
        if (CalculateRadius(pt) < near) {
            break;
        }
    }
}

int CPolygon::ModifyEditPoint(int, tagPOINTF point) {
    const ShapeGuard guard(this);
    // The working values belong to the ring of the picked vertex, so that
    // vertex decides the ring whatever index the host passes.
    if (!IsBuilt() || nDragIndex < 0 || nDragIndex > 2 * nBorder) {
        return 0;
    }
    const int i = nDragIndex;
    Gdiplus::RectF r;
    GetRectangle(r);
    const double reach = 0.01 * (static_cast<double>(r.Width) + r.Height);
    if (!(Dist(GetPoint(i, dragRadius, dragAngle), point) <= reach)) {
        return 0;
    }
    const bool outer = (i & 1) == 0;
    double& ringRadius = outer ? radius : radius2;
    double& ringAngle = outer ? angle : angle2;
    double& rate = outer ? radius_rate : radius2_rate;
    double& diff = outer ? angle_diff : angle2_diff;
    if (!(dragRadius > kMinRadius) || !(std::fabs(ringRadius) > kMinRadius)) {
        return 0;
    }
    const double scale = dragRadius / ringRadius;
    const double dAngle = dragAngle - ringAngle;
    if (!(scale > kMinFactor) || !std::isfinite(scale) || !std::isfinite(dAngle)) {
        return 0;
    }
    rate *= scale;
    diff += dAngle;
    ringRadius = dragRadius;
    ringAngle = dragAngle;
    InvalidateGeometry();

    if (m_pDoc != nullptr) {
        auto* data = new stPolygonDrag;
        data->ids.push_back(GetBaseID());
        data->nIndex = i;
        data->dFactor = scale;
        data->dAngle = dAngle;
        m_pDoc->AddUndo(new CUND_PolygonDrag(data));
    }
    return 0;
}

// ---- persistence ------------------------------------------------------------------

void CPolygon::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("angle", &angle);
    AddProp("angle2", &angle2);
    AddProp("angle2_diff", &angle2_diff);
    AddProp("angle_diff", &angle_diff);
    AddProp("center0", &center0);
    AddProp("nBorder", &nBorder);
    AddProp("nDragIndex", &nDragIndex);
    AddProp("radius", &radius);
    AddProp("radius2", &radius2);
    AddProp("radius2_rate", &radius2_rate);
    AddProp("radius_rate", &radius_rate);
    AddProp("strCaption", &m_wstrCaption);
    AddProp("shape_vmodify", &vModifySave);
}

void CPolygon::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    vModifySave = vModify;
}

// ---- conversions and copy -------------------------------------------------------------

CBaseShape* CPolygon::ToBezier() {
    if (!IsBuilt()) {
        return nullptr;
    }
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kMarkTolerance);
    auto* curve = new CBezierCurve();
    // Converting never changes the laser parameters the outline marks with.
    curve->SetPen(GetPenIndex());
    curve->arrSegment.clear();
    auto addLine = [curve](tagPOINTF a, tagPOINTF b) {
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = seg.p2 = a;
        seg.p3 = seg.p4 = b;
        seg.LineType = 1;
        curve->arrSegment.push_back(seg);
    };
    // One straight segment per side from outer vertex to outer vertex; an
    // inner vertex that is off that side (a star) keeps its corner.
    for (size_t k = 2; k < pts.size(); k += 2) {
        if (LiesOnEdge(pts[k - 1], pts[k - 2], pts[k])) {
            addLine(pts[k - 2], pts[k]);
        } else {
            addLine(pts[k - 2], pts[k - 1]);
            addLine(pts[k - 1], pts[k]);
        }
    }
    curve->bClosed = 1;
    curve->KeepMarkingOf(*this);
    return curve;
}

CBaseShape* CPolygon::ToPolyLine() {
    if (!IsBuilt()) {
        return nullptr;
    }
    auto* poly = new CPolyLine();
    poly->SetPen(GetPenIndex());
    GetFlattenPathPoints(poly->arrPoint, kMarkTolerance);
    poly->bClosed = 1;
    poly->KeepMarkingOf(*this);
    return poly;
}

CBaseShape* CPolygon::Clone() {
    auto* copy = new CPolygon();
    // Rebuilds nothing when there is no build rectangle, as after a read.
    copy->InitPolygon(initRect, nBorder);
    static_cast<PolygonFields&>(*copy) = *this;
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->InvalidateGeometry();
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ----------------------------------------------------------------------------

int CPolygon::ExportXmlToBuff(tagXmlBuff& buff) {
    auto num = [](double v) {
        CString s;
        s.Format(L"%f", v);
        return s;
    };
    CXmlMarkup xml;
    xml.AddElem(L"Polygon", nullptr);
    xml.SetAttrib(L"angle", num(angle));
    xml.SetAttrib(L"angle2", num(angle2));
    xml.SetAttrib(L"angle_diff", num(angle_diff));
    xml.SetAttrib(L"angle2_diff", num(angle2_diff));
    xml.SetAttrib(L"center0x", num(center0.x));
    xml.SetAttrib(L"center0y", num(center0.y));
    xml.SetAttrib(L"border", nBorder);
    xml.SetAttrib(L"radius", num(radius));
    xml.SetAttrib(L"radius2", num(radius2));
    xml.SetAttrib(L"radius_rate", num(radius_rate));
    xml.SetAttrib(L"radius_rate2", num(radius2_rate));
    xml.SetAttrib(L"caption", GetCaption().GetString());
    xml.SetAttrib(L"initX", num(initRect.X));
    xml.SetAttrib(L"initY", num(initRect.Y));
    xml.SetAttrib(L"initW", num(initRect.Width));
    xml.SetAttrib(L"initH", num(initRect.Height));
    xml.AddChildElem(L"Modify", nullptr);
    xml.SetChildAttrib(L"nSize", static_cast<int>(vModify.size()));
    xml.IntoElem();
    for (const SHAPE_MODIFY& m : vModify) {
        xml.AddChildElem(L"M", nullptr);
        xml.SetChildAttrib(L"cmd", static_cast<int>(m.cmd));
        xml.SetChildAttrib(L"par1", num(m.par1));
        xml.SetChildAttrib(L"par2", num(m.par2));
        xml.SetChildAttrib(L"ref_x", num(m.refPoint.x));
        xml.SetChildAttrib(L"ref_y", num(m.refPoint.y));
    }
    xml.OutOfElem();
    buff.WriteToFile(xml.GetDoc().c_str());
    return 0;
}

int CPolygon::ExportGCodeToBuff(GCodeContext& ctx) {
    const std::vector<tagPOINTF> pts = Vertices(false);
    if (pts.empty()) {
        return 0;
    }
    ctx.MoveTo(pts[0].x, pts[0].y, 0.0f);
    for (size_t i = 1; i < pts.size(); ++i) {
        ctx.LineTo(pts[i].x, pts[i].y, 0.0f);
    }
    return 0;
}

// ---- drawing ---------------------------------------------------------------------------------

float CPolygon::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) {
            return zoom;
        }
    }
    return 1.0f;
}

int CPolygon::DrawPreview(CDC* dc, DWORD color, const std::vector<tagPOINTF>& points) {
    if (dc == nullptr || m_pView == nullptr || points.size() < 2) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        m_pView->LP2DP(zoom, points[i], dev[i], 0);
    }
    StrokeEdges(g, pen, dev, 0.0f, 0.0f);
    return 0;
}

int CPolygon::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = Vertices(false);
    for (tagPOINTF& p : pts) {
        p = PointfSlope(p, a, b, base);
    }
    return DrawPreview(dc, color, pts);
}

int CPolygon::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = Vertices(false);
    for (tagPOINTF& p : pts) {
        p = PointfZoom(p, sx, sy, base);
    }
    return DrawPreview(dc, color, pts);
}

int CPolygon::DrawRotate(CDC* dc, DWORD color, double angleDeg, tagPOINTF centre) {
    const ShapeGuard guard(this);
    std::vector<tagPOINTF> pts = Vertices(false);
    for (tagPOINTF& p : pts) {
        p = PointfRotate(p, centre, angleDeg);
    }
    return DrawPreview(dc, color, pts);
}

int CPolygon::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD color, int arrow, float dx,
                             float dy) {
    if (g == nullptr) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const std::vector<tagPOINTF> pts = Vertices(false);
    std::vector<Gdiplus::PointF> dev;
    dev.reserve(pts.size());
    for (const tagPOINTF& p : pts) {
        dev.emplace_back(p.x, p.y);
    }
    StrokeEdges(*g, pen, dev, dx, dy);
    return 0;
}

int CPolygon::Draw(CDC* dc, int arrow, int mode, int unused, int marker) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, unused, marker, 0.0f, 0.0f);
}

int CPolygon::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int, int marker, float dx,
                   float dy) {
    const ShapeGuard guard(this);
    if (m_pView == nullptr || !IsBuilt()) {
        return 0;
    }
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        if (dc == nullptr) {
            return 0;
        }
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    g->SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const std::vector<tagPOINTF> pts = Vertices(false);
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev(pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        m_pView->LP2DP(zoom, pts[i], dev[i], mode);
    }
    if (marker != 0 && IsSelected() != 0 && mode == 0) {
        g->DrawRectangle(&pen, GetStartRectInPoint(dev[0]));
    }
    StrokeEdges(*g, pen, dev, dx, dy);
    return 0;
}

int CPolygon::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int marker, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr || !IsBuilt()) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    const std::vector<tagPOINTF> pts = Vertices(false);
    std::vector<Gdiplus::PointF> dev(pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        wnd->LP2DP(pts[i], dev[i], mode);
    }
    if (marker != 0 && IsSelected() != 0 && mode == 0) {
        g.DrawRectangle(&pen, GetStartRectInPoint(dev[0]));
    }
    StrokeEdges(g, pen, dev, dx, dy);
    return 0;
}

int CPolygon::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (dc == nullptr || m_pView == nullptr) {
        return 0;
    }
    DrawPointHandles(dc, Vertices(false), false);
    return 0;
}

int CPolygon::GetSnapPoint(std::vector<tagPOINTF>& points) {
    const std::vector<tagPOINTF> pts = Vertices(true);
    points.insert(points.end(), pts.begin(), pts.end());
    return 0;
}

// ---- transforms ---------------------------------------------------------------------------------

void CPolygon::AppendModify(int32_t cmd, double par1, double par2, tagPOINTF ref) {
    const SHAPE_MODIFY m = MakeModify(cmd, par1, par2, ref);
    // A step that takes back the last few (the undo of a transform, which
    // for a slant is a slant and a zoom) removes them instead: undo and redo
    // leave the list as it was, and the polygon exactly where it was.
    AffineMap step;
    if (ModifyMap(m, step)) {
        AffineMap tail = step;
        const size_t n = vModify.size();
        for (size_t k = 1; k <= std::min<size_t>(3, n); ++k) {
            AffineMap before;
            if (!ModifyMap(vModify[n - k], before)) {
                break;
            }
            tail = before.Then(tail);
            if (tail.IsIdentity()) {
                vModify.resize(n - k);
                return;
            }
        }
    }
    vModify.push_back(m);
    BoundModify();
}

void CPolygon::BoundModify() {
    if (vModify.size() <= kMaxModify) {
        return;
    }
    const size_t fold = vModify.size() - kKeptModify;
    AffineMap total;
    for (size_t i = 0; i < fold; ++i) {
        AffineMap step;
        if (ModifyMap(vModify[i], step)) {
            total = total.Then(step);
        } else if (!m_unknownReported.TestAndSet()) {
            CBaseShape::WhenReleased([] { AfxMessageBox(L"unknown modify cmd", MB_OK); });
        }
    }
    std::vector<SHAPE_MODIFY> bounded = Unfold(total);
    bounded.insert(bounded.end(), vModify.begin() + static_cast<std::ptrdiff_t>(fold), vModify.end());
    vModify = std::move(bounded);
}

// Appends one modification unless it would take a vertex out of the float
// range; the arguments must be finite.
bool CPolygon::AppendChecked(int32_t cmd, double par1, double par2, tagPOINTF ref) {
    if (!geom::AllFinite(par1, par2) || !Finite(ref)) {
        return false;
    }
    return Guarded([&] {
        AppendModify(cmd, par1, par2, ref);
        return true;
    });
}

int CPolygon::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    if (!AppendChecked(SHAPE_MODIFY::kMove, dx, dy, tagPOINTF{0.0f, 0.0f})) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

int CPolygon::Rotate(double angleDeg, tagPOINTF centre) {
    const ShapeGuard guard(this);
    if (!AppendChecked(SHAPE_MODIFY::kRotate, angleDeg, 0.0, centre)) {
        return kRefused;
    }
    CBaseShape::Rotate(angleDeg, centre);
    return 0;
}

int CPolygon::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    return ZoomHeld(fixed, sx, sy);
}

int CPolygon::ZoomHeld(tagPOINTF fixed, double sx, double sy) {
    if (!AppendChecked(SHAPE_MODIFY::kZoom, sx, sy, fixed)) {
        return kRefused;
    }
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CPolygon::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(std::tan(a), std::tan(b)) || !AppendChecked(SHAPE_MODIFY::kSlope, a, b, fixed)) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CPolygon::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    // Only the three mirror modes exist; any other mode records nothing.
    if (mode < 1 || mode > 3) {
        return 0;
    }
    if (!AppendChecked(SHAPE_MODIFY::kMirrorX + (mode - 1), 0.0, 0.0, fixed)) {
        return kRefused;
    }
    InvalidateGeometry();
    return 0;
}

int CPolygon::SortPath() { return 0; }

// ---- tests against points and rectangles ------------------------------------------------------

int CPolygon::IsInRect(Gdiplus::RectF& rect) {
    const std::vector<tagPOINTF> pts = Vertices(false);
    if (pts.empty()) {
        return 0;
    }
    for (const tagPOINTF& p : pts) {
        if (!PtInRectFBorder(p.x, p.y, rect, false)) {
            return 0;
        }
    }
    return 1;
}

int CPolygon::IsMe(tagPOINTF point) {
    const std::vector<tagPOINTF> pts = Vertices(false);
    const double tolerance = GetPickDistance() * 3.0 / ViewZoom();
    for (size_t i = 1; i < pts.size(); ++i) {
        const double d1 = Dist(point, pts[i]);
        const double d2 = Dist(point, pts[i - 1]);
        const double d3 = Dist(pts[i], pts[i - 1]);
        if (d1 + d2 - d3 <= tolerance) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int CPolygon::IsInClientRectF() {
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    const Gdiplus::RectF b = CalculateRectangle(Vertices(true));
    if (PtInRectFBorder(b.X, b.Y, client, false) && PtInRectFBorder(b.X + b.Width, b.Y - b.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(b, client) ? 1 : 0;
}

int CPolygon::GetRectangle(Gdiplus::RectF& rect) {
    rect = CalculateRectangle(Vertices(true));
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

int CPolygon::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
    // The band with its lower edge as Y, as the segment test wants it.
    const Gdiplus::RectF band(rect.X, rect.Y - rect.Height, rect.Width, rect.Height);
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kSelectTolerance);
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        if (SegmentHitsRect(band, pts[i], pts[(i + 1) % n])) {
            return 1;
        }
    }
    return 0;
}

// ---- flattening and mark data ------------------------------------------------------------------

int CPolygon::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    const std::vector<tagPOINTF> pts = Vertices(false);
    points.insert(points.end(), pts.begin(), pts.end());
    return 0;
}

int CPolygon::GetFlattenPathFirstPoint(tagPOINTF& point) {
    if (IsBuilt()) {
        point = GetPoint(0, -1.0, kPi);
    }
    return 0;
}

int CPolygon::GetFlattenPathLastPoint(tagPOINTF& point) {
    if (IsBuilt()) {
        point = GetPoint(2 * nBorder, -1.0, kPi);
    }
    return 0;
}

bool CPolygon::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    return MarkFlattenedPath(out, MarkEnding::kFinish, IsAntiPath());
}
