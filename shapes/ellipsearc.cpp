#include "morvik/shapes/ellipsearc.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/gcode_default.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/color.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/matrix.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/import/dxf_records.h"

IMPLEMENT_SERIAL(CEllipseArc, CBaseShape, 5)

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kChain = CEllipseArc::kChainPoints;

constexpr float kPolylineTolerance = 0.1f;
constexpr float kSelectTolerance = 2.0f;
// Width of the pen whose outline counts as a hit, in millimetres.
constexpr float kPickPenWidth = 8.0f;
// Flattening works on the chain scaled up by this factor.
constexpr float kFlattenScale = 10.0f;

// Points stay within this many millimetres of the origin: the flattening
// works on the chain ten times larger and the bounds take differences, both
// in float, and neither may overflow.
constexpr double kCoordLimit = FLT_MAX / 16;

bool Usable(double v) { return std::fabs(v) <= kCoordLimit; }  // false for NaN
bool Usable(const tagPOINTF& p) { return Usable(p.x) && Usable(p.y); }

template <class Range>
bool AllUsable(const Range& pts) {
    return std::all_of(std::begin(pts), std::end(pts), [](const tagPOINTF& p) { return Usable(p); });
}

// How many leading points of a chain form whole cubic segments (1 + 3k).
size_t BezierCount(size_t n) { return n < 4 ? 0 : n - (n - 1) % 3; }

bool IsUnset(const tagPOINTF& p) {
    return std::fabs(static_cast<double>(p.x) - FLT_MAX) <= FLT_EPSILON ||
           std::fabs(static_cast<double>(p.y) - FLT_MAX) <= FLT_EPSILON;
}

// The signed sweep from start to end: clockwise (negative) for direction 0,
// counter-clockwise otherwise. Equal angles give a full turn; the angles
// are not reduced modulo 360.
double ArcSweep(double start, double end, int direction) {
    double sweep = 0;
    if (direction == 0) {
        sweep = start - end;
        if (start <= end) {
            sweep += 360.0;
        }
    } else {
        sweep = end - start;
        if (end <= start) {
            sweep += 360.0;
        }
    }
    if (std::fabs(sweep) < 0.0000001) {
        sweep = 360.0;
    }
    return direction == 0 ? -sweep : sweep;
}

// The arc of the ellipse inscribed in rect (Y its top edge) from start by
// sweep degrees, flipped across its own axes where flipX or flipY is set,
// optionally turned by 90 - rotAngle about the ellipse's centre, as a Bezier
// chain in place. Empty when the platform builds no arc.
std::vector<tagPOINTF> BuildArc(const Gdiplus::RectF& rect, double start, double sweep, bool turn, double rotAngle,
                                bool flipX = false, bool flipY = false) {
    Gdiplus::GraphicsPath path;
    // The platform reads Y as the smaller edge, so its ellipse lies one
    // height above the true one; the points are moved down below.
    if (path.AddArc(rect, static_cast<float>(start), static_cast<float>(sweep)) != Gdiplus::Ok) {
        return {};
    }
    if (flipX || flipY) {
        const float cx = rect.X + rect.Width / 2;
        const float cy = rect.Y + rect.Height / 2;
        const Gdiplus::Matrix flip(flipX ? -1.0f : 1.0f, 0.0f, 0.0f, flipY ? -1.0f : 1.0f, flipX ? 2 * cx : 0.0f,
                                   flipY ? 2 * cy : 0.0f);
        path.Transform(&flip);
    }
    if (turn) {
        Gdiplus::Matrix m;
        m.RotateAt(static_cast<float>(90.0 - rotAngle),
                   Gdiplus::PointF(rect.X + rect.Width / 2, rect.Y + rect.Height / 2), Gdiplus::MatrixOrderPrepend);
        path.Transform(&m);
    }
    std::vector<tagPOINTF> out;
    out.reserve(kChain);
    for (const Gdiplus::PointF& p : path.PathPoints()) {
        out.push_back({p.X, p.Y - rect.Height});
    }
    return out;
}

void PadChain(std::vector<tagPOINTF>& chain) {
    while (!chain.empty() && chain.size() < kChain) {
        const tagPOINTF last = chain.back();
        chain.push_back(last);
    }
}

// The first n points of a chain as Bezier segments, scaled by factor.
Gdiplus::GraphicsPath ChainPath(const std::vector<tagPOINTF>& chain, float factor) {
    Gdiplus::GraphicsPath path;
    const size_t n = BezierCount(chain.size());
    if (n == 0) {
        return path;
    }
    std::vector<Gdiplus::PointF> pts;
    pts.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        pts.emplace_back(chain[i].x * factor, chain[i].y * factor);
    }
    path.AddBeziers(pts.data(), static_cast<INT>(n));
    return path;
}

using geom::ClampPixel;

}  // namespace

CEllipseArc::CEllipseArc() { InitShape(SHAPE_ELLIPSEARC, "IDS_TYPENAME_ELLIPSEARC", ShapeCounterOf(SHAPE_ELLIPSEARC)); }

CEllipseArc::~CEllipseArc() = default;

tagPOINTF CEllipseArc::GetControlCentre() const {
    return {(ctrlPoints[0].x + ctrlPoints[6].x) / 2, (ctrlPoints[3].y + ctrlPoints[9].y) / 2};
}

bool CEllipseArc::IsFullTurn() const { return std::fabs(ArcSweep(startDeg, endDeg, arcPath)) >= 360.0; }

bool CEllipseArc::IsPie() const { return IsDrawn() && !IsFullTurn(); }

tagPOINTF CEllipseArc::PieCentre() const { return IsUnset(m_ptCenter) ? GetControlCentre() : m_ptCenter; }

// ---- building ----------------------------------------------------------------

int CEllipseArc::InitArcPath(Gdiplus::RectF r, bool device) {
    const ShapeGuard guard(this);
    Gdiplus::GraphicsPath path;
    if (!geom::Finite(r) || path.AddEllipse(r.X, r.Y, r.Width, r.Height) != Gdiplus::Ok ||
        path.PathPoints().size() < kChain) {
        return -1;
    }
    const std::vector<Gdiplus::PointF>& chain = path.PathPoints();
    // Reversed, a chain given in device units (y down) runs counter-
    // clockwise in millimetres: 0 at angle 0, 3 at 90, 6 at 180, 9 at 270.
    std::vector<tagPOINTF> points;
    for (size_t i = 0; i < kChain; ++i) {
        const Gdiplus::PointF& q = chain[kChain - 1 - i];
        tagPOINTF p{q.X, q.Y};
        if (device && m_pView != nullptr) {
            m_pView->DP2LP(q, p);
        }
        points.push_back(p);
    }
    // An ellipse reaching beyond the usable coordinates is not taken.
    if (!AllUsable(points)) {
        return -1;
    }
    arcPoints = points;
    std::copy(points.begin(), points.end(), std::begin(ctrlPoints));
    // The chain runs counter-clockwise only when r came in y-down units. The
    // arc points run the way the direction says, as every later cut of the
    // arc does: otherwise the first reversal, or the undo of an arc change,
    // would leave the marking direction where it was or turn it round.
    double area = 0.0;
    for (size_t i = 0; i + 1 < kChain; ++i) {
        area += static_cast<double>(arcPoints[i].x) * arcPoints[i + 1].y -
                static_cast<double>(arcPoints[i + 1].x) * arcPoints[i].y;
    }
    if ((area < 0.0) == (arcPath != 0)) {
        std::reverse(arcPoints.begin(), arcPoints.end());
    }
    m_ptCenter = GetControlCentre();
    InvalidateGeometry();
    return 0;
}

int CEllipseArc::SetArcPath(double start, double end) {
    const ShapeGuard guard(this);
    return CutArc(start, end);
}

int CEllipseArc::CutArc(double start, double end) {
    if (!geom::AllFinite(start, end)) {
        return -1;
    }
    const Figure before = Keep();
    Gdiplus::RectF rect;
    tagPOINTF c{};
    double a1 = 0;
    float slant = 0;
    if (IsDrawn()) {
        c = GetControlCentre();
        // Turn the first axis level, then slant the second upright: any
        // affine image of the ellipse becomes the upright ellipse. The
        // points are turned here rather than through the shape's own
        // transforms, which keep the arc's angles and refuse overflows.
        a1 = Angle2P(ctrlPoints[6], ctrlPoints[0]);
        TransformAll([&](tagPOINTF p) { return PointfRotate(p, c, -a1); });
        const double a2 = Angle2P(ctrlPoints[9], ctrlPoints[3]);
        slant = static_cast<float>((90.0 - a2) * kPi / 180.0);
        TransformAll([&](tagPOINTF p) { return PointfSlope(p, slant, 0, c); });
        NormalizeRectF(rect, {ctrlPoints[6].x, ctrlPoints[9].y}, {ctrlPoints[0].x, ctrlPoints[3].y});
    } else {
        c = m_ptCenter;
        const float a = static_cast<float>(m_axisA);
        const float b = static_cast<float>(m_axisB);
        NormalizeRectF(rect, {c.x - a, c.y + b}, {c.x + a, c.y - b});
    }

    // A DXF arc's signed semi-axes carry its flips: the arc is cut on the
    // unflipped ellipse and flipped across its own axes.
    arcPoints = BuildArc(rect, start, ArcSweep(start, end, arcPath), !IsDrawn(), m_rotAngle, !IsDrawn() && m_axisA < 0,
                         !IsDrawn() && m_axisB < 0);
    PadChain(arcPoints);

    if (IsDrawn()) {
        // Back to the ellipse's true position and shape. The control points
        // are restored exactly, so repeated cuts never let them drift.
        TransformAll([&](tagPOINTF p) { return PointfSlope(p, -slant, 0, c); });
        TransformAll([&](tagPOINTF p) { return PointfRotate(p, c, a1); });
        std::copy(std::begin(before.ctrlPoints), std::end(before.ctrlPoints), std::begin(ctrlPoints));
    }
    m_ptCenter = c;
    // All or nothing: a cut that yields no arc, or one beyond the usable
    // coordinates, leaves the ellipse as it was.
    if (arcPoints.empty() || !FigureUsable()) {
        PutBack(before);
        return -1;
    }
    InvalidateGeometry();
    return 0;
}

void CEllipseArc::GetArcRect(tagEllipse& e, Gdiplus::RectF& rect, float& rot, float& start, float& end) {
    // A record holding a number that is not finite describes nothing.
    if (!geom::AllFinite(e.ptCenter.X, e.ptCenter.Y, e.ptMajorEnd.X, e.ptMajorEnd.Y, e.fRatio, e.fStartParam,
                         e.fEndParam)) {
        return;
    }
    const tagPOINTF c{e.ptCenter.X, e.ptCenter.Y};
    const double px = static_cast<double>(e.ptMajorEnd.X) - c.x;
    const double py = static_cast<double>(e.ptMajorEnd.Y) - c.y;
    m_ptCenter = c;
    m_axisA = std::hypot(px, py);
    m_axisB = e.fRatio * m_axisA;
    // The parametric angles of the record become polar angles on the ellipse.
    double s = std::atan2(m_axisB * std::sin(e.fStartParam), m_axisA * std::cos(e.fStartParam)) * 180.0 / kPi;
    if (s < -0.001) {
        s += 360.0;
    }
    double t = std::atan2(m_axisB * std::sin(e.fEndParam), m_axisA * std::cos(e.fEndParam)) * 180.0 / kPi;
    if (t < 0.001) {
        t += 360.0;
    }
    start = static_cast<float>(s);
    end = static_cast<float>(t);
    rot = static_cast<float>(std::atan2(px, py) * 180.0 / kPi);
    rect = Gdiplus::RectF(static_cast<float>(c.x - m_axisA), static_cast<float>(c.y + m_axisB),
                          static_cast<float>(2 * m_axisA), static_cast<float>(2 * m_axisB));
    startDeg = start;
    endDeg = end;
}

int CEllipseArc::ProcessDxf(tagEllipse& e) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(e.ptCenter.X, e.ptCenter.Y, e.ptMajorEnd.X, e.ptMajorEnd.Y, e.fRatio, e.fStartParam,
                         e.fEndParam)) {
        return 0;
    }
    const Figure before = Keep();
    Gdiplus::RectF rect;
    float rot = 0;
    float start = 0;
    float end = 360;
    GetArcRect(e, rect, rot, start, end);
    if (!geom::Finite(rect) || !Usable(std::fabs(m_ptCenter.x) + std::fabs(m_axisA)) ||
        !Usable(std::fabs(m_ptCenter.y) + std::fabs(m_axisA))) {
        PutBack(before);
        return 0;
    }
    if (std::fabs(start) < 0.000001f && std::fabs(end) < 0.000001f) {
        end = 360;
    }
    // A DXF arc always runs counter-clockwise.
    double sweep = static_cast<double>(end) - start;
    if (end < start) {
        sweep = 360.0 - (static_cast<double>(start) - end);
    }
    if (std::fabs(sweep) < 0.001) {
        sweep = 360.0;
    }
    std::vector<tagPOINTF> chain = BuildArc(rect, start, sweep, true, rot);
    if (chain.empty() || !AllUsable(chain)) {
        PutBack(before);
        return 0;
    }
    m_rotAngle = rot;
    m_bFILE = 1;
    arcPoints = std::move(chain);
    PadChain(arcPoints);
    std::copy_n(arcPoints.begin(), kChain, std::begin(ctrlPoints));
    InvalidateGeometry();
    return 1;
}

// ---- persistence -------------------------------------------------------------

void CEllipseArc::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("arrPointf", &arrPointf);
    AddProp("startDeg", &startDeg);
    AddProp("endDeg", &endDeg);
    AddProp("13pointf", &arr13pointf);
    AddProp("m_bFILE", &m_bFILE);
    AddProp("m_ptCenter", &m_ptCenter);
    AddProp("m_rotAngle", &m_rotAngle);
    AddProp("m_axisA", &m_axisA);
    AddProp("m_axisB", &m_axisB);
    // Without the direction a reversed arc read back would be cut as its
    // complement by the next SortPath or SetArcDegree. Files without the key
    // read back counter-clockwise.
    AddProp("arcPath", &arcPath);
}

void CEllipseArc::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    arrPointf.assign(1, arcPoints);
    arr13pointf.assign(1, std::vector<tagPOINTF>(std::begin(ctrlPoints), std::end(ctrlPoints)));
}

void CEllipseArc::RestoreAfterRead() {
    const ShapeGuard guard(this);
    auto joined = [](const std::vector<std::vector<tagPOINTF>>& groups) {
        std::vector<tagPOINTF> all;
        for (const std::vector<tagPOINTF>& g : groups) {
            all.insert(all.end(), g.begin(), g.end());
        }
        return all;
    };
    const std::vector<tagPOINTF> arc = joined(arrPointf);
    // The control points are set by index across the saved groups, however
    // the writer split them; a short list sets what it has.
    const std::vector<tagPOINTF> ctrl = joined(arr13pointf);
    arrPointf.clear();
    arr13pointf.clear();
    // A damaged figure is not taken in: one point that is not a usable
    // number would reach the scanner. The shape then stays without points.
    if (AllUsable(arc) && AllUsable(ctrl)) {
        arcPoints.insert(arcPoints.end(), arc.begin(), arc.end());
        std::copy_n(ctrl.begin(), std::min(ctrl.size(), kChain), std::begin(ctrlPoints));
    }
    // Numbers that are not usable fall back to those of a new shape.
    if (!Usable(m_ptCenter) && !IsUnset(m_ptCenter)) {
        m_ptCenter = {FLT_MAX, FLT_MAX};
    }
    if (!std::isfinite(startDeg)) {
        startDeg = 0.0;
    }
    if (!std::isfinite(endDeg)) {
        endDeg = 360.0;
    }
    if (!std::isfinite(m_rotAngle)) {
        m_rotAngle = 0.0;
    }
    if (!Usable(m_axisA) || !Usable(m_axisB)) {
        m_axisA = 0.0;
        m_axisB = 0.0;
    }
    InvalidateGeometry();
}

// ---- conversions -------------------------------------------------------------

CBaseShape* CEllipseArc::ToBezier() {
    auto* curve = new CBezierCurve();
    curve->SetCaption(GetCaption());
    curve->SetDocView(GetShapeDoc(), GetShapeView());
    // The curve marks with this shape's laser parameters.
    curve->SetPen(GetPenIndex());
    curve->SetSmoothRatio(GetSmoothRatio());
    const size_t n = arcPoints.size();
    // The padding makes zero-length segments; they stay, as the chain has them.
    for (size_t i = 0; 3 * i + 3 < n; ++i) {
        BEZIER_4POINTF_DRAW seg;
        seg.p1 = arcPoints[3 * i];
        seg.p2 = arcPoints[3 * i + 1];
        seg.p3 = arcPoints[3 * i + 2];
        seg.p4 = arcPoints[3 * i + 3];
        curve->arrSegment.push_back(seg);
    }
    if (IsFullTurn()) {
        curve->bClosed = 1;
    } else if (IsDrawn() && !arcPoints.empty()) {
        const tagPOINTF c = PieCentre();
        BEZIER_4POINTF_DRAW in;
        in.p1 = in.p2 = arcPoints.back();
        in.p3 = in.p4 = c;
        BEZIER_4POINTF_DRAW out;
        out.p1 = out.p2 = c;
        out.p3 = out.p4 = arcPoints.front();
        curve->arrSegment.push_back(in);
        curve->arrSegment.push_back(out);
        curve->bClosed = 1;
    } else {
        curve->bClosed = 0;
    }
    Gdiplus::RectF r;
    curve->GetRectangle(r);
    curve->KeepMarkingOf(*this);
    return curve;
}

CBaseShape* CEllipseArc::ToPolyLine() {
    auto* poly = new CPolyLine();
    poly->SetCaption(GetCaption());
    poly->SetDocView(GetShapeDoc(), GetShapeView());
    GetFlattenPathPoints(poly->arrPoint, kPolylineTolerance);
    poly->SetPen(GetPenIndex());
    Gdiplus::RectF r;
    poly->GetRectangle(r);
    poly->KeepMarkingOf(*this);
    return poly;
}

CBaseShape* CEllipseArc::Clone() {
    auto* copy = new CEllipseArc();
    static_cast<EllipseArcFields&>(*copy) = *this;
    copy->SetVisible(IsVisible());
    copy->SetCaption(GetCaption());
    Gdiplus::RectF r;
    copy->GetRectangle(r);
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports -----------------------------------------------------------------

int CEllipseArc::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    line.Format(L"<EllipseArc Name=\"%s\" startDeg=\"%f\" endDeg=\"%f\">", name.c_str(), startDeg, endDeg);
    buff.WriteToFile(line.GetString());
    line.Format(L"<Point nSize=\"%d\">", static_cast<int>(arcPoints.size()));
    buff.WriteToFile(line.GetString());
    auto writePoint = [&](const tagPOINTF& p) {
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>", static_cast<double>(p.x), static_cast<double>(p.y),
                    0.0);
        buff.WriteToFile(line.GetString());
    };
    for (const tagPOINTF& p : arcPoints) {
        writePoint(p);
    }
    buff.WriteToFile(L"</Point>");
    buff.WriteToFile(L"<Point13>");
    for (const tagPOINTF& p : ctrlPoints) {
        writePoint(p);
    }
    buff.WriteToFile(L"</Point13>");
    buff.WriteToFile(L"</EllipseArc>");
    return 0;
}

int CEllipseArc::ExportGCodeToBuff(GCodeContext& ctx) { return ExportFlattenedGCode(*this, ctx); }

// ---- drawing -----------------------------------------------------------------

template <class Map>
std::vector<Gdiplus::PointF> CEllipseArc::DevicePoints(Map&& map, float dx, float dy) const {
    std::vector<Gdiplus::PointF> dev;
    dev.reserve(arcPoints.size());
    for (const tagPOINTF& p : arcPoints) {
        const Gdiplus::PointF d = map(p);
        dev.emplace_back(d.X + dx, d.Y + dy);
    }
    return dev;
}

void CEllipseArc::StrokeChain(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& dev,
                              const Gdiplus::PointF* centre) {
    const size_t n = BezierCount(dev.size());
    if (n > 0) {
        g.DrawBeziers(&pen, dev.data(), static_cast<INT>(n));
    }
    if (centre != nullptr && !dev.empty()) {
        g.DrawLine(&pen, *centre, dev.front());
        g.DrawLine(&pen, *centre, dev.back());
    }
}

int CEllipseArc::Draw(CDC* dc, int arrow, int mode, int unused, int showStart) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, unused, showStart, 0.0f, 0.0f);
}

int CEllipseArc::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int /*unused*/,
                      int showStart, float dx, float dy) {
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
    auto map = [&](tagPOINTF p) {
        Gdiplus::PointF out;
        view->LP2DP(zoom, p, out, mode);
        return out;
    };
    const std::vector<Gdiplus::PointF> dev = DevicePoints(map, dx, dy);
    Gdiplus::PointF centre;
    if (IsPie()) {
        centre = map(GetControlCentre());
        centre = Gdiplus::PointF(centre.X + dx, centre.Y + dy);
    }
    StrokeChain(*g, pen, dev, IsPie() ? &centre : nullptr);
    if (showStart != 0 && IsSelected() != 0 && mode == 0 && !dev.empty()) {
        g->DrawRectangle(&pen, GetStartRectInPoint(dev.front()));
    }
    return 1;
}

int CEllipseArc::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int /*unused*/, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    auto map = [&](tagPOINTF p) {
        Gdiplus::PointF out;
        wnd->LP2DP(p, out, mode);
        return out;
    };
    const std::vector<Gdiplus::PointF> dev = DevicePoints(map, dx, dy);
    Gdiplus::PointF centre;
    if (IsPie()) {
        centre = map(GetControlCentre());
        centre = Gdiplus::PointF(centre.X + dx, centre.Y + dy);
    }
    StrokeChain(g, pen, dev, IsPie() ? &centre : nullptr);
    return 1;
}

int CEllipseArc::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& /*pens*/, DWORD color, int arrow,
                                float dx, float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const std::vector<Gdiplus::PointF> dev =
        DevicePoints([](tagPOINTF p) { return Gdiplus::PointF(p.x, p.y); }, dx, dy);
    StrokeChain(*g, pen, dev, nullptr);
    return 0;
}

template <class F>
int CEllipseArc::DrawPreview(CDC* dc, DWORD color, F&& f) {
    CBaseView* view = GetShapeView();
    if (view == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 1.0f);
    const float zoom = view->GetZoom();
    const std::vector<Gdiplus::PointF> dev = DevicePoints(
        [&](tagPOINTF p) {
            Gdiplus::PointF out;
            view->LP2DP(zoom, f(p), out, 0);
            return out;
        },
        0.0f, 0.0f);
    StrokeChain(g, pen, dev, nullptr);
    return 0;
}

int CEllipseArc::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color, [&](tagPOINTF p) { return PointfSlope(p, a, b, base); });
}

int CEllipseArc::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color, [&](tagPOINTF p) { return PointfZoom(p, sx, sy, base); });
}

int CEllipseArc::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color, [&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
}

int CEllipseArc::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    CBaseView* view = GetShapeView();
    if (dc == nullptr || view == nullptr || arcPoints.empty()) {
        return 0;
    }
    CGdiObject* previous = dc->SelectStockObject(HOLLOW_BRUSH);
    for (const tagPOINTF& p : {arcPoints.front(), arcPoints.back()}) {
        CPoint c;
        view->LP2DP(p, c, 0);
        const int x = ClampPixel(c.x);
        const int y = ClampPixel(c.y);
        dc->Rectangle(x - 1, y - 1, x + 2, y + 2);
    }
    if (previous != nullptr) {
        dc->SelectObject(previous);
    }
    return 0;
}

// ---- transforms --------------------------------------------------------------

template <class F>
void CEllipseArc::TransformAll(F&& f) {
    // Every arc point: a chain read from elsewhere may be longer than 13.
    for (tagPOINTF& p : arcPoints) {
        p = f(p);
    }
    for (tagPOINTF& p : ctrlPoints) {
        p = f(p);
    }
}

int CEllipseArc::GetSnapPoint(std::vector<tagPOINTF>& points) {
    if (!arcPoints.empty()) {
        points.push_back(arcPoints.front());
        points.push_back(arcPoints.back());
    }
    return 0;
}

bool CEllipseArc::FigureUsable() const {
    return AllUsable(arcPoints) && AllUsable(ctrlPoints) && (IsUnset(m_ptCenter) || Usable(m_ptCenter)) &&
           geom::AllFinite(startDeg, endDeg, m_rotAngle) && Usable(m_axisA) && Usable(m_axisB);
}

template <class F>
bool CEllipseArc::Transformed(F&& change) {
    // All or nothing: a transform that would take a point, the centre or a
    // parameter out of the usable numbers (a number that is not one, an
    // overflow) changes nothing.
    const Figure before = Keep();
    change();
    if (FigureUsable()) {
        return true;
    }
    PutBack(before);
    return false;
}

int CEllipseArc::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    const bool done = Transformed([&] {
        TransformAll([dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; });
        if (!IsUnset(m_ptCenter)) {
            m_ptCenter = {m_ptCenter.x + dx, m_ptCenter.y + dy};
        }
    });
    if (!done) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

// A drawn ellipse's centre follows its control points through every
// transform, so a pie's lines and its bounds never point at an old centre.
// A DXF arc is rebuilt from its centre and axis direction: these follow the
// moves, zooms and rotations (the placement every imported arc receives);
// slants and mirrors cannot be expressed in them.

int CEllipseArc::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    const bool done = Transformed([&] {
        TransformAll([&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
        if (IsDrawn()) {
            m_ptCenter = GetControlCentre();
        } else {
            if (!IsUnset(m_ptCenter)) {
                m_ptCenter = PointfRotate(m_ptCenter, centre, angle);
            }
            // Measured from +y toward +x: a counter-clockwise turn lowers it.
            m_rotAngle -= angle;
        }
    });
    if (!done) {
        return kRefused;
    }
    CBaseShape::Rotate(angle, centre);
    return 0;
}

void CEllipseArc::TransformDxfAxes(double m00, double m01, double m10, double m11) {
    // The arc is C + R(theta) diag(m_axisA, m_axisB) (cos t, sin t) over the
    // parameters t of its polar angles, theta = 90 - m_rotAngle; L below is
    // the linear part of that after the transform.
    const double theta = (90.0 - m_rotAngle) * kPi / 180.0;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double l00 = (m00 * c + m01 * s) * m_axisA;
    const double l01 = (m01 * c - m00 * s) * m_axisB;
    const double l10 = (m10 * c + m11 * s) * m_axisA;
    const double l11 = (m11 * c - m10 * s) * m_axisB;
    // L = R(turn) diag(major, minor) R(shift): the new axis direction, the
    // semi-axes (the minor one negative when the transform flips), and the
    // shift of every parameter.
    const double e = (l00 + l11) / 2;
    const double f = (l00 - l11) / 2;
    const double g = (l10 + l01) / 2;
    const double h = (l10 - l01) / 2;
    const double q = std::hypot(e, h);
    const double r = std::hypot(f, g);
    const double a2 = std::atan2(h, e);
    // A circle has no axis of its own: it keeps the direction it had.
    const double a1 = r > 1e-12 * q ? std::atan2(g, f) : 2.0 * theta - a2;
    double major = q + r;
    double minor = q - r;
    double turn = (a2 + a1) / 2;
    double shift = (a2 - a1) / 2;
    if (!(major > 0.0) || !std::isfinite(major) || !std::isfinite(minor) || !std::isfinite(turn)) {
        return;
    }
    // Of the equal descriptions (the axes turned by quarter turns, taken in
    // the other order, the parameter shifted back as far; both semi-axes
    // negated with the parameter shifted by a half turn) take the one
    // nearest to the present one, so that a transform and its inverse give
    // back the same values.
    const double k = std::round((theta - turn) / (kPi / 2));
    turn += k * kPi / 2;
    shift -= k * kPi / 2;
    if (std::fmod(std::fabs(k), 2.0) == 1.0) {
        std::swap(major, minor);
    }
    if ((major < 0) != (m_axisA < 0)) {
        major = -major;
        minor = -minor;
        shift += kPi;
    }

    MoveArcEnds(m_axisA, m_axisB, major, minor, shift);
    m_axisA = major;
    m_axisB = minor;
    m_rotAngle = 90.0 - turn * 180.0 / kPi;
}

void CEllipseArc::ScaleDxfAxes(double sx, double sy) {
    // Factors of one size keep every polar angle: equal ones scale both axes
    // (two negative ones turn the arc half round), opposite ones mirror the
    // axis direction as well. Anything else reshapes the ellipse.
    if (sx == sy) {
        m_axisA *= sx;
        m_axisB *= sy;
    } else if (sx == -sy) {
        m_rotAngle = 180.0 - m_rotAngle;
        m_axisA *= sx;
        m_axisB *= sy;
    } else {
        TransformDxfAxes(sx, 0.0, 0.0, sy);
    }
}

void CEllipseArc::DrawnAxes(double& a, double& b) const {
    // Half the axis from cp6 to cp0, and the height of cp3 above it: the
    // semi-axes of the upright ellipse that SetArcPath cuts its arc from.
    const double ux = (static_cast<double>(ctrlPoints[0].x) - ctrlPoints[6].x) / 2;
    const double uy = (static_cast<double>(ctrlPoints[0].y) - ctrlPoints[6].y) / 2;
    const double vx = (static_cast<double>(ctrlPoints[3].x) - ctrlPoints[9].x) / 2;
    const double vy = (static_cast<double>(ctrlPoints[3].y) - ctrlPoints[9].y) / 2;
    a = std::hypot(ux, uy);
    b = a > 0.0 ? std::fabs(ux * vy - uy * vx) / a : 0.0;
}

void CEllipseArc::KeepDrawnArc(double aOld, double bOld) {
    // The arc's ends are points of the ellipse, which the control points
    // carry along; their angles on the upright ellipse change when its
    // proportions do. Without this a later cut (an arc change, a reversal,
    // an undo) would move the ends.
    double a = 0;
    double b = 0;
    DrawnAxes(a, b);
    if (!(a > 0) || !(b > 0) || !(aOld > 0) || !(bOld > 0) || a * bOld == aOld * b) {
        return;
    }
    MoveArcEnds(aOld, bOld, a, b, 0.0);
}

void CEllipseArc::MoveArcEnds(double aOld, double bOld, double a, double b, double shift) {
    // Angle -> parameter on the old semi-axes, shifted, -> angle on the new
    // ones: the representative nearest to the angle it replaces.
    auto move = [&](double deg) {
        const double rad = deg * kPi / 180.0;
        const double t = std::atan2(std::fabs(aOld) * std::sin(rad), std::fabs(bOld) * std::cos(rad)) + shift;
        const double out = std::atan2(std::fabs(b) * std::sin(t), std::fabs(a) * std::cos(t)) * 180.0 / kPi;
        return out + 360.0 * std::round((deg - out) / 360.0);
    };
    const double span = endDeg - startDeg;
    const bool full = std::fabs(ArcSweep(startDeg, endDeg, arcPath)) >= 360.0;
    startDeg = move(startDeg);
    endDeg = full ? startDeg + span : move(endDeg);
}

int CEllipseArc::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    const bool done = Transformed([&] {
        double a = 0;
        double b = 0;
        DrawnAxes(a, b);
        TransformAll([&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); });
        if (IsDrawn()) {
            m_ptCenter = GetControlCentre();
            KeepDrawnArc(a, b);
        } else if (!IsUnset(m_ptCenter)) {
            m_ptCenter = PointfZoom(m_ptCenter, sx, sy, fixed);
        }
        if (IsDrawn()) {
            m_axisA *= sx;
            m_axisB *= sy;
        } else {
            ScaleDxfAxes(sx, sy);
        }
    });
    if (!done) {
        return kRefused;
    }
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CEllipseArc::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    const bool done = Transformed([&] {
        double axisA = 0;
        double axisB = 0;
        DrawnAxes(axisA, axisB);
        TransformAll([&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); });
        if (IsDrawn()) {
            m_ptCenter = GetControlCentre();
            KeepDrawnArc(axisA, axisB);
        } else {
            if (!IsUnset(m_ptCenter)) {
                m_ptCenter = PointfSlope(m_ptCenter, a, b, fixed);
            }
            TransformDxfAxes(1.0, -std::tan(a), -std::tan(b), 1.0);
        }
    });
    if (!done) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CEllipseArc::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (mode >= 1 && mode <= 3) {
        const bool done = Transformed([&] {
            TransformAll([&](tagPOINTF p) { return PointfMirror(p, fixed, mode); });
            if (IsDrawn()) {
                m_ptCenter = GetControlCentre();
            } else {
                if (!IsUnset(m_ptCenter)) {
                    m_ptCenter = PointfMirror(m_ptCenter, fixed, mode);
                }
                ScaleDxfAxes(mode == 2 ? 1.0 : -1.0, mode == 1 ? 1.0 : -1.0);
            }
        });
        if (!done) {
            return kRefused;
        }
    }
    // No base call: the base part's mirror state stays as it is.
    InvalidateGeometry();
    return 0;
}

int CEllipseArc::SortPath() {
    const ShapeGuard guard(this);
    // The same arc traced backwards. It is cut again from the swapped angles,
    // as an arc change cuts it, so that an undo that cuts it once more gives
    // the same points back. Where that cut does not lie on the chain as it is
    // drawn (after a transform the angles describe the arc only up to
    // rounding, and a span at a segment boundary can come out split into
    // other segments), the chain's own points are reversed instead, with the
    // padding copies kept at its end: reversing never moves the curve.
    const size_t n = arcPoints.size();
    size_t real = n;
    if (n % 3 == 1) {
        size_t first = n;
        while (first > 1 && arcPoints[first - 2] == arcPoints[n - 1]) {
            --first;
        }
        // The real chain ends at the first copy of the end point, on a whole
        // segment.
        real = first;
        while (real % 3 != 1) {
            ++real;
        }
    }
    std::vector<tagPOINTF> reversed = arcPoints;
    std::reverse(reversed.begin(), reversed.begin() + static_cast<std::ptrdiff_t>(real));
    std::fill(reversed.begin() + static_cast<std::ptrdiff_t>(real), reversed.end(),
              real > 0 ? reversed[real - 1] : tagPOINTF{});

    arcPath = arcPath == 0 ? 1 : 0;
    const bool cut = CutArc(endDeg, startDeg) == 0;
    auto near = [](const tagPOINTF& p, const tagPOINTF& q) {
        const double tol = 1e-4 + 1e-6 * std::max(std::fabs(p.x), std::fabs(p.y));
        return geom::Dist(p, q) <= tol;
    };
    if (!cut || !std::equal(arcPoints.begin(), arcPoints.end(), reversed.begin(), reversed.end(), near)) {
        arcPoints = std::move(reversed);
    }
    std::swap(startDeg, endDeg);
    InvalidateGeometry();
    return 0;
}

// ---- picking -----------------------------------------------------------------

Gdiplus::RectF CEllipseArc::ChainBounds() const {
    if (BezierCount(arcPoints.size()) == 0) {
        return CalculateRectangle(arcPoints);
    }
    Gdiplus::RectF b;
    ChainPath(arcPoints, 1.0f).GetBounds(&b);
    return Gdiplus::RectF(b.X, b.Y + b.Height, b.Width, b.Height);
}

int CEllipseArc::IsInRect(Gdiplus::RectF& rect) {
    if (arcPoints.empty()) {
        return 0;
    }
    const Gdiplus::RectF b = ChainBounds();
    return (PtInRectFBorder(b.X, b.Y, rect, false) && PtInRectFBorder(b.X + b.Width, b.Y - b.Height, rect, false))
               ? 1
               : 0;
}

int CEllipseArc::IsMe(tagPOINTF point) {
    if (arcPoints.empty()) {
        return 0;
    }
    const Gdiplus::Pen pen(Gdiplus::Color(255, 0, 0, 0), kPickPenWidth);
    return ChainPath(arcPoints, 1.0f).IsOutlineVisible(point.x, point.y, &pen) ? 1 : 0;
}

int CEllipseArc::IsInClientRectF() {
    CBaseView* view = GetShapeView();
    if (view == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    view->GetClientRectF(client);
    const Gdiplus::RectF r = CalculateRectangle(arcPoints);
    if (PtInRectFBorder(r.X, r.Y, client, false) && PtInRectFBorder(r.X + r.Width, r.Y - r.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(r, client) ? 1 : 0;
}

int CEllipseArc::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
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

int CEllipseArc::GetRectangle(Gdiplus::RectF& rect) {
    if (IsUnset(m_ptCenter)) {
        m_ptCenter = GetControlCentre();
    }
    if (arcPoints.empty()) {
        return 0;
    }
    Gdiplus::RectF r = ChainBounds();
    if (IsDrawn()) {
        // A pie reaches to the centre.
        const tagPOINTF c = m_ptCenter;
        if (c.y > r.Y) {
            r.Height += c.y - r.Y;
            r.Y = c.y;
        } else if (r.Y - c.y > r.Height) {
            r.Height = r.Y - c.y;
        }
        if (c.x < r.X) {
            r.Width += r.X - c.x;
            r.X = c.x;
        } else if (c.x - r.X > r.Width) {
            r.Width = c.x - r.X;
        }
    }
    rect = r;
    SetShapeRect(r);
    SetRectValid(true);
    return 0;
}

// ---- angles, flattening, mark data -----------------------------------------------

int CEllipseArc::GetArcDegree(double& start, double& end) {
    start = startDeg;
    end = endDeg;
    return 0;
}

int CEllipseArc::SetArcDegree(double start, double end) {
    const ShapeGuard guard(this);
    if (CutArc(start, end) != 0) {
        return -1;
    }
    startDeg = start;
    endDeg = end;
    return 0;
}

int CEllipseArc::GetArcPath() { return arcPath; }

void CEllipseArc::SetArcPath(int path) {
    const ShapeGuard guard(this);
    arcPath = path;
}

int CEllipseArc::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    if (BezierCount(arcPoints.size()) == 0) {
        return 0;
    }
    const float smooth = GetSmoothRatio();
    // A tolerance that is not a positive number falls back to the shape's own.
    const float tol = (tolerance > 0.0f && tolerance <= smooth) ? tolerance : smooth;
    Gdiplus::GraphicsPath path = ChainPath(arcPoints, kFlattenScale);
    if (path.Flatten(nullptr, tol) != Gdiplus::Ok) {
        return 0;
    }
    const size_t first = points.size();
    for (const Gdiplus::PointF& p : path.PathPoints()) {
        points.push_back({p.X / kFlattenScale, p.Y / kFlattenScale});
    }
    if (IsPie() && points.size() > first) {
        // Closed through the centre back to this arc's own start (the list
        // may already hold other shapes' points).
        const tagPOINTF start = points[first];
        points.push_back(GetControlCentre());
        points.push_back(start);
    }
    return 0;
}

int CEllipseArc::GetFlattenPathFirstPoint(tagPOINTF& point) {
    if (arcPoints.empty()) {
        return 1;
    }
    point = arcPoints.front();
    return 0;
}

int CEllipseArc::GetFlattenPathLastPoint(tagPOINTF& point) {
    if (arcPoints.empty()) {
        return 1;
    }
    point = arcPoints.back();
    return 0;
}

bool CEllipseArc::GetMarkData(tagMarkDataPar& out, tagMarkCtlData* /*ctl*/) {
    return MarkFlattenedPath(out, MarkEnding::kLeaveWithRect, IsReverseOrder());
}
