#include "morvik/core/bezier.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <utility>

#include "morvik/afx/cstring.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/gcode_default.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/halder/basedoc.h"

IMPLEMENT_SERIAL(CBezierCurve, CBaseShape, 7)

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// Tolerances of the callers inside this class.
constexpr float kRectTolerance = 0.01f;
constexpr float kPolylineTolerance = 0.1f;

// x reduced into [0, 2π).
double WrapAngle(double x) {
    double r = std::fmod(x, kTwoPi);
    if (r < 0) {
        r += kTwoPi;
    }
    return r >= kTwoPi ? 0.0 : r;
}

bool IsFinite(tagPOINTF p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool SegmentFinite(const BEZIER_4POINTF_DRAW& seg) {
    return IsFinite(seg.p1) && IsFinite(seg.p2) && IsFinite(seg.p3) && IsFinite(seg.p4);
}

// True when the segments' points span at most the float range on each axis,
// so that a bounding box of the curve (which lies within them) has finite
// sides.
bool ExtentFits(const BEZIER_4POINTF_DRAW* first, const BEZIER_4POINTF_DRAW* last) {
    if (first == last) {
        return true;
    }
    double minX = first->p1.x, maxX = minX, minY = first->p1.y, maxY = minY;
    for (const BEZIER_4POINTF_DRAW* seg = first; seg != last; ++seg) {
        for (const tagPOINTF& p : {seg->p1, seg->p2, seg->p3, seg->p4}) {
            minX = std::min(minX, static_cast<double>(p.x));
            maxX = std::max(maxX, static_cast<double>(p.x));
            minY = std::min(minY, static_cast<double>(p.y));
            maxY = std::max(maxY, static_cast<double>(p.y));
        }
    }
    return maxX - minX <= FLT_MAX && maxY - minY <= FLT_MAX;
}

// Points that are not finite never reach the scanner or a bounding box;
// only a curve whose segments were set directly can have them.
void DropNonFinite(std::vector<tagPOINTF>& points) {
    points.erase(std::remove_if(points.begin(), points.end(), [](tagPOINTF p) { return !IsFinite(p); }),
                 points.end());
}

tagPOINTF OnCircle(double cx, double cy, double r, double angle) {
    return {static_cast<float>(cx + r * std::cos(angle)), static_cast<float>(cy + r * std::sin(angle))};
}

// A point moved along the circle's counter-clockwise tangent at angle by
// length (negative: clockwise).
tagPOINTF AlongTangent(tagPOINTF p, double angle, double length) {
    return {static_cast<float>(p.x - length * std::sin(angle)), static_cast<float>(p.y + length * std::cos(angle))};
}

}  // namespace

CBezierCurve::CBezierCurve() {
    InitShape(SHAPE_BEZIER, "IDS_TYPENAME_BEZIER", ShapeCounterOf(SHAPE_BEZIER));
    SetRectValid(false);
}

CBezierCurve::~CBezierCurve() = default;

// ---- persistence -----------------------------------------------------------

void CBezierCurve::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("bClosed", &bClosed);
    AddProp("arrPointf", &arrPointf);
}

void CBezierCurve::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    arrPointf.clear();
    arrPointf.reserve(arrSegment.size());
    // The reader does not take a segment with a point that is not finite:
    // the file does not carry one either.
    for (const BEZIER_4POINTF_DRAW& seg : arrSegment) {
        if (SegmentFinite(seg)) arrPointf.emplace_back(seg);
    }
}

void CBezierCurve::RestoreAfterRead() {
    const ShapeGuard guard(this);
    arrSegment.reserve(arrSegment.size() + arrPointf.size());
    for (const BEZIER_4POINTF& saved : arrPointf) {
        BEZIER_4POINTF_DRAW seg = saved.ToDraw();
        // A segment with a point that is not a number is not taken in: it
        // would reach the scanner. An arc span whose arc points are not
        // finite keeps its cubic and stops being an arc.
        if (!SegmentFinite(seg)) {
            continue;
        }
        if (seg.LineType == 2 &&
            (!IsFinite(seg.ArcStartPoint) || !IsFinite(seg.ArcEndPoint) || !IsFinite(seg.ArcCenterPoint))) {
            seg.LineType = 0;
        }
        arrSegment.push_back(seg);
    }
    arrPointf.clear();
    InvalidateGeometry();
}

// ---- conversions -----------------------------------------------------------

CBaseShape* CBezierCurve::ToBezier() { return Clone(); }

CBaseShape* CBezierCurve::ToPolyLine() {
    auto* poly = new CPolyLine();
    poly->SetDocView(GetShapeDoc(), GetShapeView());
    GetFlattenPathPoints(poly->arrPoint, kPolylineTolerance);
    poly->SetPen(GetPenIndex());
    Gdiplus::RectF r;
    poly->GetRectangle(r);
    poly->KeepMarkingOf(*this);
    return poly;
}

CBaseShape* CBezierCurve::Clone() {
    auto* copy = new CBezierCurve();
    // A copy keeps the caption of its source: its constructor's number is
    // given back.
    ShapeCounterOf(SHAPE_BEZIER).GiveBack();
    static_cast<BezierCurveFields&>(*copy) = *this;
    // The flattening tolerance decides the copy's mark data and rectangle.
    copy->SetSmoothRatio(GetSmoothRatio());
    Gdiplus::RectF r;
    copy->GetRectangle(r);
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ---------------------------------------------------------------

int CBezierCurve::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    // A segment set directly with a point that is not finite is left out:
    // no export prints nan or inf.
    const int count = static_cast<int>(std::count_if(arrSegment.begin(), arrSegment.end(), SegmentFinite));
    line.Format(L"<BezierCurve Name=\"%s\" nSize=\"%d\">", name.c_str(), count);
    buff.WriteToFile(line.GetString());
    static const wchar_t* const kPointFormats[4] = {
        L"<P1 x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>",
        L"<P2 x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>",
        L"<P3 x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>",
        L"<P4 x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>",
    };
    int id = 0;
    for (const BEZIER_4POINTF_DRAW& seg : arrSegment) {
        if (!SegmentFinite(seg)) {
            continue;
        }
        line.Format(L"<Bezier id=\"%d\">", id++);
        buff.WriteToFile(line.GetString());
        const tagPOINTF pts[4] = {seg.p1, seg.p2, seg.p3, seg.p4};
        for (int k = 0; k < 4; ++k) {
            line.Format(kPointFormats[k], static_cast<double>(pts[k].x), static_cast<double>(pts[k].y), 0.0);
            buff.WriteToFile(line.GetString());
        }
        buff.WriteToFile(L"</Bezier>");
    }
    buff.WriteToFile(L"</BezierCurve>");
    return 0;
}

int CBezierCurve::ExportGCodeToBuff(GCodeContext& ctx) { return ExportFlattenedGCode(*this, ctx); }

// ---- drawing ---------------------------------------------------------------

template <class Map>
void CBezierCurve::StrokeSegments(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, Map&& map, float dx, float dy,
                                  bool store) {
    for (BEZIER_4POINTF_DRAW& seg : arrSegment) {
        const tagPOINTF src[4] = {seg.p1, seg.p2, seg.p3, seg.p4};
        Gdiplus::PointF dev[4];
        for (int k = 0; k < 4; ++k) {
            Gdiplus::PointF p = map(src[k]);
            dev[k] = Gdiplus::PointF(p.X + dx, p.Y + dy);
            if (store) {
                seg.dev4P[k] = dev[k];
            }
        }
        g.DrawBeziers(&pen, dev, 4);
    }
}

int CBezierCurve::Draw(CDC* dc, int arrow, int mode, int unused, int marker) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, unused, marker, 0.0f, 0.0f);
}

int CBezierCurve::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int /*unused*/, int marker,
                       float dx, float dy) {
    const ShapeGuard guard(this);
    CBaseView* view = GetShapeView();
    if (view == nullptr) {
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
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const float zoom = view->GetZoom();
    StrokeSegments(
        *g, pen,
        [&](tagPOINTF p) {
            Gdiplus::PointF out;
            view->LP2DP(zoom, p, out, mode);
            return out;
        },
        dx, dy, true);
    if (marker != 0 && IsSelected() != 0 && mode == 0 && !arrSegment.empty()) {
        g->DrawRectangle(&pen, GetStartRectInPoint(arrSegment[0].dev4P[0]));
    }
    return 0;
}

int CBezierCurve::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int /*unused*/, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    StrokeSegments(
        g, pen,
        [&](tagPOINTF p) {
            Gdiplus::PointF out;
            wnd->LP2DP(p, out, mode);
            return out;
        },
        dx, dy, true);
    return 1;
}

int CBezierCurve::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& /*pens*/, DWORD color, int arrow,
                                 float dx, float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    StrokeSegments(
        *g, pen, [](tagPOINTF p) { return Gdiplus::PointF(p.x, p.y); }, dx, dy, false);
    return 0;
}

namespace {

// Strokes the curve's segments through a point transform and the view's
// mapping, for the transform previews.
template <class F>
int DrawPreview(CBaseView* view, CDC* dc, DWORD color, const std::vector<BEZIER_4POINTF_DRAW>& segments, F&& f) {
    if (view == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 1.0f);
    const float zoom = view->GetZoom();
    for (const BEZIER_4POINTF_DRAW& seg : segments) {
        const tagPOINTF src[4] = {seg.p1, seg.p2, seg.p3, seg.p4};
        Gdiplus::PointF dev[4];
        for (int k = 0; k < 4; ++k) {
            view->LP2DP(zoom, f(src[k]), dev[k], 0);
        }
        g.DrawBeziers(&pen, dev, 4);
    }
    return 0;
}

}  // namespace

int CBezierCurve::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    return DrawPreview(GetShapeView(), dc, color, arrSegment,
                       [&](tagPOINTF p) { return PointfSlope(p, a, b, base); });
}

int CBezierCurve::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    return DrawPreview(GetShapeView(), dc, color, arrSegment,
                       [&](tagPOINTF p) { return PointfZoom(p, sx, sy, base); });
}

int CBezierCurve::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return DrawPreview(GetShapeView(), dc, color, arrSegment,
                       [&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
}

// ---- transforms ------------------------------------------------------------

template <class F>
bool CBezierCurve::TransformAll(const AffineMap& map, F&& f, bool keepsCircles) {
    // A transform that would take any point out of the float numbers (a
    // number that is not one, a fixed point that is not finite, an
    // overflow) is refused whole: a NaN in mark data drives the scanner to
    // an undefined place. The arc points count where the arc stays one.
    std::vector<tagPOINTF> touched;
    touched.reserve(arrSegment.size() * 7);
    for (const BEZIER_4POINTF_DRAW& seg : arrSegment) {
        touched.insert(touched.end(), {seg.p1, seg.p2, seg.p3, seg.p4});
        if (seg.LineType == 2 && keepsCircles) {
            touched.insert(touched.end(), {seg.ArcStartPoint, seg.ArcEndPoint, seg.ArcCenterPoint});
        }
    }
    if (!geom::MapsFinite(map, touched)) {
        return false;
    }
    std::vector<BEZIER_4POINTF_DRAW> moved = arrSegment;
    for (BEZIER_4POINTF_DRAW& seg : moved) {
        seg.p1 = f(seg.p1);
        seg.p2 = f(seg.p2);
        seg.p3 = f(seg.p3);
        seg.p4 = f(seg.p4);
        if (!geom::Finite(seg.p1) || !geom::Finite(seg.p2) || !geom::Finite(seg.p3) || !geom::Finite(seg.p4)) {
            return false;
        }
        if (seg.LineType != 2) {
            continue;
        }
        // The arc points describe where an arc span lies; left behind they
        // would make the next arc edit rebuild the arc at its old place.
        if (keepsCircles) {
            seg.ArcStartPoint = f(seg.ArcStartPoint);
            seg.ArcEndPoint = f(seg.ArcEndPoint);
            seg.ArcCenterPoint = f(seg.ArcCenterPoint);
            if (!geom::Finite(seg.ArcStartPoint) || !geom::Finite(seg.ArcEndPoint) ||
                !geom::Finite(seg.ArcCenterPoint)) {
                return false;
            }
        } else {
            // No longer a circular arc: keep the span as the cubic it is.
            seg.LineType = 0;
        }
    }
    if (!ExtentFits(moved.data(), moved.data() + moved.size())) {
        return false;
    }
    arrSegment.swap(moved);
    return true;
}

int CBezierCurve::GetSnapPoint(std::vector<tagPOINTF>& points) {
    for (const BEZIER_4POINTF_DRAW& seg : arrSegment) {
        points.push_back(seg.p1);
        points.push_back(seg.p4);
    }
    return 0;
}

int CBezierCurve::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    if (!TransformAll(
            AffineMap::Move(dx, dy), [dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; }, true)) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

int CBezierCurve::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    const PointRotator turn(centre, angle);
    if (!TransformAll(AffineMap::Rotate(angle, centre), [&](tagPOINTF p) { return turn(p); }, true)) {
        return kRefused;
    }
    CBaseShape::Rotate(angle, centre);
    return 0;
}

int CBezierCurve::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    const double ax = std::fabs(sx);
    const double ay = std::fabs(sy);
    const bool uniform = ax > 0 && std::fabs(ax - ay) <= 1e-12 * ax;
    if (!TransformAll(
            AffineMap::Zoom(sx, sy, fixed), [&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); }, uniform)) {
        return kRefused;
    }
    // The base part marks the rectangle stale too: a zoomed curve must not
    // report its old bounds.
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CBezierCurve::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    if (!TransformAll(
            AffineMap::Slope(a, b, fixed), [&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); },
            std::tan(a) == 0.0 && std::tan(b) == 0.0)) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CBezierCurve::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (mode >= 1 && mode <= 3 &&
        !TransformAll(
            AffineMap::Mirror(mode, fixed), [&](tagPOINTF p) { return PointfMirror(p, fixed, mode); }, true)) {
        return kRefused;
    }
    // No base call: the base part's mirror state stays as it is.
    InvalidateGeometry();
    return 0;
}

int CBezierCurve::SortPath() {
    const ShapeGuard guard(this);
    std::reverse(arrSegment.begin(), arrSegment.end());
    for (BEZIER_4POINTF_DRAW& seg : arrSegment) {
        std::swap(seg.p1, seg.p4);
        std::swap(seg.p2, seg.p3);
        if (seg.LineType == 2) {
            std::swap(seg.ArcStartPoint, seg.ArcEndPoint);
        }
    }
    // The marked path now runs the other way.
    InvalidateGeometry();
    Gdiplus::RectF scratch;
    GetRectangle(scratch);
    return 0;
}

// ---- flattening, rectangle, mark data --------------------------------------

int CBezierCurve::GetRectangle(Gdiplus::RectF& rect) {
    if (GetRectValid()) {
        rect = GetShapeRect();
        return 0;
    }
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kRectTolerance);
    DropNonFinite(pts);
    rect = CalculateRectangle(pts);
    SetRectValid(true);
    SetShapeRect(rect);
    return 0;
}

void CBezierCurve::ReCalcRect() {
    SetRectValid(false);
    Gdiplus::RectF r;
    GetRectangle(r);
}

int CBezierCurve::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    if (arrSegment.empty()) {
        return 0;
    }
    const float smooth = GetSmoothRatio();
    // A tolerance that is not a positive number would leave the control
    // points unflattened: use the shape's own then.
    const float tol = (tolerance > 0.0f && tolerance <= smooth) ? tolerance : smooth;

    // A segment with a point that is not finite is left out, here and so in
    // the mark data, the rectangle and the exports, as the file leaves it out.
    Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
    for (const BEZIER_4POINTF_DRAW& seg : arrSegment) {
        if (!SegmentFinite(seg)) continue;
        path.AddBezier(Gdiplus::PointF(seg.p1.x, seg.p1.y), Gdiplus::PointF(seg.p2.x, seg.p2.y),
                       Gdiplus::PointF(seg.p3.x, seg.p3.y), Gdiplus::PointF(seg.p4.x, seg.p4.y));
    }
    if (path.Flatten(nullptr, tol) != Gdiplus::Ok) {
        return 0;
    }
    const std::vector<Gdiplus::PointF>& flat = path.PathPoints();
    points.reserve(points.size() + flat.size());
    for (const Gdiplus::PointF& p : flat) {
        points.push_back({p.X, p.Y});
    }
    return 0;
}

int CBezierCurve::GetFlattenPathFirstPoint(tagPOINTF& point) {
    const auto first = std::find_if(arrSegment.begin(), arrSegment.end(), SegmentFinite);
    if (first == arrSegment.end()) {
        return 1;
    }
    point = first->p1;
    return 0;
}

int CBezierCurve::GetFlattenPathLastPoint(tagPOINTF& point) {
    const auto last = std::find_if(arrSegment.rbegin(), arrSegment.rend(), SegmentFinite);
    if (last == arrSegment.rend()) {
        return 1;
    }
    point = last->p4;
    return 0;
}

bool CBezierCurve::GetMarkData(tagMarkDataPar& data, tagMarkCtlData* /*ctl*/) {
    return MarkFlattenedPath(data, MarkEnding::kLeaveWithRect, IsReverseOrder(), DropNonFinite);
}

int CBezierCurve::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
    // The band with its lower edge as Y, as the segment test wants it.
    const Gdiplus::RectF band(rect.X, rect.Y - rect.Height, rect.Width, rect.Height);
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kMarkTolerance);
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        if (SegmentHitsRect(band, pts[i], pts[(i + 1) % n])) {
            return 1;
        }
    }
    return 0;
}

void CBezierCurve::MinusCountNum() { ShapeCounterOf(SHAPE_BEZIER).GiveBack(); }

// ---- arcs ------------------------------------------------------------------

bool CBezierCurve::AppendArcThrough3Points(std::vector<BEZIER_4POINTF_DRAW>& segments, tagPOINTF start,
                                           tagPOINTF onArc, tagPOINTF end) {
    if (!IsFinite(start) || !IsFinite(onArc) || !IsFinite(end) || start == end) {
        return false;
    }
    tagPOINTF centre;
    double radius = 0;
    if (!GetCircleParamerFrom3P(start, onArc, end, centre, radius) || !IsFinite(centre) || !std::isfinite(radius) ||
        !(radius > 0)) {
        return false;
    }
    const double cx = centre.x;
    const double cy = centre.y;
    const double a0 = std::atan2(start.y - cy, start.x - cx);
    const double toEnd = WrapAngle(std::atan2(end.y - cy, end.x - cx) - a0);
    const double toMid = WrapAngle(std::atan2(onArc.y - cy, onArc.x - cx) - a0);
    if (!(toEnd > 0)) {
        return false;
    }
    // Counter-clockwise when the point on the arc comes before the end in
    // that direction, else clockwise round the other side.
    const double sweep = toMid < toEnd ? toEnd : toEnd - kTwoPi;
    const int spans = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)), 1, 4);
    const double step = sweep / spans;
    // Distance of a control point from its end along the tangent.
    const double handle = 4.0 / 3.0 * std::tan(step / 4) * radius;

    // Spans of a circle near the float range could leave it: such an arc is
    // not appended at all.
    const size_t before = segments.size();
    tagPOINTF from = start;
    for (int i = 0; i < spans; ++i) {
        const double t0 = a0 + step * i;
        const double t1 = t0 + step;
        const tagPOINTF to = (i == spans - 1) ? end : OnCircle(cx, cy, radius, t1);
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = from;
        seg.p2 = AlongTangent(from, t0, handle);
        seg.p3 = AlongTangent(to, t1, -handle);
        seg.p4 = to;
        seg.LineType = 2;
        seg.ArcStartPoint = start;
        seg.ArcEndPoint = end;
        seg.ArcCenterPoint = onArc;
        if (!SegmentFinite(seg) || !IsFinite(seg.ArcCenterPoint)) {
            segments.resize(before);
            return false;
        }
        segments.push_back(seg);
        from = to;
    }
    if (!ExtentFits(segments.data() + before, segments.data() + segments.size())) {
        segments.resize(before);
        return false;
    }
    return true;
}
