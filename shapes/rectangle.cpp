#include "morvik/shapes/rectangle.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "morvik/afx/cgeom.h"
#include "morvik/afx/cstring.h"
#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/gcode_default.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/graphicspath.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_round.h"

IMPLEMENT_SERIAL(CRectangle, CBaseShape, 6)

namespace {

constexpr double kPi = 3.14159265358979323846;
// Sides shorter than this have no direction of their own.
constexpr double kDegenerateSide = 1e-6;
// Corner radii that differ by more than this many device pixels are made
// equal (the smaller wins): long rectangles get circular corners.
constexpr double kEllipticalLimit = 10.0;
constexpr float kSelectTolerance = 2.0f;
// Flatness of an arc in its hit test: a quarter of the pick band, within
// these bounds (millimetres).
constexpr double kArcPickFlatnessMax = 0.25;
constexpr double kArcPickFlatnessMin = 0.001;
constexpr double kDuplicatePoint = 1e-6;

// The line points a corner touches: the end of the side before it and the
// start of the side after it.
constexpr int kCornerLinePoints[4][2] = {{1, 2}, {3, 4}, {5, 6}, {7, 0}};

// The number of an arc's points that form whole cubics (1 + 3n), 0 when
// there is not one.
size_t UsableArcPoints(size_t n) { return n < 4 ? 0 : 1 + 3 * ((n - 1) / 3); }

Gdiplus::PointF ToPointF(tagPOINTF p) { return Gdiplus::PointF(p.x, p.y); }

// Distance from p to the segment a-b.
double SegmentDistance(tagPOINTF p, tagPOINTF a, tagPOINTF b) {
    const double ux = static_cast<double>(b.x) - a.x;
    const double uy = static_cast<double>(b.y) - a.y;
    const double wx = static_cast<double>(p.x) - a.x;
    const double wy = static_cast<double>(p.y) - a.y;
    const double len2 = ux * ux + uy * uy;
    const double t = len2 > 0.0 ? std::clamp((wx * ux + wy * uy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(wx - t * ux, wy - t * uy);
}

// The corner of point j of Get8PointfOfRound: the end of side k touches
// corner k + 1, its start corner k (corner 4 for side 0).
int CornerOfLinePoint(int j) { return j == 0 ? 4 : (j + 1) / 2; }

using geom::Finite;

bool AllPointsFinite(const std::vector<tagPOINTF>& points) {
    return std::all_of(points.begin(), points.end(), [](const tagPOINTF& p) { return Finite(p); });
}

}  // namespace

CRectangle::CRectangle() {
    InitShape(SHAPE_RECTANGLE, "IDS_TYPENAME_RECTANGLE", ShapeCounterOf(SHAPE_RECTANGLE));
}

CRectangle::~CRectangle() = default;

// ---- helpers ------------------------------------------------------------------

std::vector<tagPOINTF>& CRectangle::ArcOf(int corner) {
    switch (corner) {
        case 1:
            return m_PointArc1;
        case 2:
            return m_PointArc2;
        case 3:
            return m_PointArc3;
        default:
            return m_PointArc4;
    }
}

int& CRectangle::ValueOf(int corner) {
    switch (corner) {
        case 1:
            return perR1;
        case 2:
            return perR2;
        case 3:
            return perR3;
        default:
            return perR4;
    }
}

std::array<CRectangle::Leg, 4> CRectangle::Legs() const {
    if (!IsAntiPath()) {
        return {Leg{0, &m_PointArc1}, Leg{1, &m_PointArc2}, Leg{2, &m_PointArc3}, Leg{3, &m_PointArc4}};
    }
    // After SortPath the point slots are reversed while every arc stayed
    // with its corner (reversed in place): side 3's slots now hold the old
    // side 0, run backwards, which arc 4 continues.
    return {Leg{3, &m_PointArc4}, Leg{0, &m_PointArc3}, Leg{1, &m_PointArc2}, Leg{2, &m_PointArc1}};
}

CRectangle::State CRectangle::Capture() const { return State{*this, m_bZoomAntiX, m_bZoomAntiY}; }

void CRectangle::Restore(const State& s) {
    static_cast<RectangleFields&>(*this) = s.fields;
    m_bZoomAntiX = s.antiX;
    m_bZoomAntiY = s.antiY;
    InvalidateGeometry();
}

bool CRectangle::GeometryFinite() const {
    auto finite = [](const auto& points) {
        return std::all_of(points.begin(), points.end(), [](const tagPOINTF& p) { return Finite(p); });
    };
    return std::isfinite(m_fRotateAngle) && Finite(m_PeakPointf0) && Finite(m_PeakPointf1) &&
           Finite(m_PeakPointf2) && Finite(m_PeakPointf3) && finite(m_Point8) && finite(m_PointLine8) &&
           finite(m_PointArc1) && finite(m_PointArc2) && finite(m_PointArc3) && finite(m_PointArc4) &&
           SpanFits({m_PeakPointf0, m_PeakPointf1, m_PeakPointf2, m_PeakPointf3}, m_Point8, m_PointLine8,
                    std::array<std::vector<tagPOINTF>, 4>{m_PointArc1, m_PointArc2, m_PointArc3, m_PointArc4});
}

bool CRectangle::SpanFits(const std::array<tagPOINTF, 4>& peaks, const std::array<tagPOINTF, 8>& outline,
                          const std::array<tagPOINTF, 8>& lines, const std::array<std::vector<tagPOINTF>, 4>& arcs) {
    // Every corner may be a float while the width or height is not: the
    // rectangle, its mark data and its file would carry an infinite span.
    std::vector<tagPOINTF> all(peaks.begin(), peaks.end());
    all.insert(all.end(), outline.begin(), outline.end());
    all.insert(all.end(), lines.begin(), lines.end());
    for (const std::vector<tagPOINTF>& arc : arcs) all.insert(all.end(), arc.begin(), arc.end());
    return geom::SpanFits(all);
}

template <class F>
int CRectangle::Guarded(F&& build) {
    State before = Capture();
    if (!build() || !GeometryFinite()) {
        Restore(before);
        return kRefused;
    }
    return 0;
}

template <class F>
bool CRectangle::TransformAll(F&& f) {
    // Every point is moved into a copy first: a point that would leave the
    // float range refuses the whole transform.
    std::array<tagPOINTF, 4> peaks{m_PeakPointf0, m_PeakPointf1, m_PeakPointf2, m_PeakPointf3};
    std::array<tagPOINTF, 8> outline = m_Point8;
    std::array<tagPOINTF, 8> lines = m_PointLine8;
    std::array<std::vector<tagPOINTF>, 4> arcs{m_PointArc1, m_PointArc2, m_PointArc3, m_PointArc4};
    auto moved = [&f](tagPOINTF& p) {
        p = f(p);
        return Finite(p);
    };
    auto allMoved = [&moved](auto& points) { return std::all_of(points.begin(), points.end(), moved); };
    if (!allMoved(peaks) || !allMoved(outline) || !allMoved(lines)) {
        return false;
    }
    for (std::vector<tagPOINTF>& arc : arcs) {
        if (!allMoved(arc)) {
            return false;
        }
    }
    if (!SpanFits(peaks, outline, lines, arcs)) {
        return false;
    }
    m_PeakPointf0 = peaks[0];
    m_PeakPointf1 = peaks[1];
    m_PeakPointf2 = peaks[2];
    m_PeakPointf3 = peaks[3];
    m_Point8 = outline;
    m_PointLine8 = lines;
    m_PointArc1.swap(arcs[0]);
    m_PointArc2.swap(arcs[1]);
    m_PointArc3.swap(arcs[2]);
    m_PointArc4.swap(arcs[3]);
    return true;
}

CRectangle::Outline CRectangle::CurrentOutline() const {
    Outline o;
    o.lines = m_PointLine8;
    o.arcs = {m_PointArc1, m_PointArc2, m_PointArc3, m_PointArc4};
    return o;
}

template <class F>
CRectangle::Outline CRectangle::TransformedOutline(F&& f) const {
    Outline o = CurrentOutline();
    for (tagPOINTF& p : o.lines) {
        p = f(p);
    }
    for (std::vector<tagPOINTF>& arc : o.arcs) {
        for (tagPOINTF& p : arc) {
            p = f(p);
        }
    }
    return o;
}

float CRectangle::ViewZoom() const {
    if (m_pView != nullptr) {
        const float zoom = m_pView->GetZoom();
        if (std::isfinite(zoom) && zoom > 0.0f) {
            return zoom;
        }
    }
    return 1.0f;
}

Gdiplus::PointF CRectangle::ToDevice(tagPOINTF p) const {
    Gdiplus::PointF d;
    if (m_pView != nullptr) {
        m_pView->LP2DP(m_pView->GetZoom(), p, d, 0);
    } else {
        d = Gdiplus::PointF(p.x, -p.y);
    }
    return d;
}

tagPOINTF CRectangle::ToLogical(Gdiplus::PointF d) const {
    tagPOINTF p;
    if (m_pView != nullptr) {
        m_pView->DP2LP(d, p);
    } else {
        p = {d.X, -d.Y};
    }
    return p;
}

// ---- construction and corners --------------------------------------------------

int CRectangle::InitRectangle(Gdiplus::RectF rect) {
    const ShapeGuard guard(this);
    // Every corner must be a float point: x + w and y - h included.
    if (!geom::Finite(rect) || !geom::FitsFloat(static_cast<double>(rect.X) + rect.Width) ||
        !geom::FitsFloat(static_cast<double>(rect.Y) - rect.Height)) {
        return kRefused;
    }
    // A rectangle dragged from another corner comes with a negative size:
    // keep the corners in their fixed roles.
    if (rect.Width < 0) {
        rect.X += rect.Width;
        rect.Width = -rect.Width;
    }
    if (rect.Height < 0) {
        rect.Y -= rect.Height;
        rect.Height = -rect.Height;
    }
    const float x = rect.X;
    const float y = rect.Y;
    const float r = rect.X + rect.Width;
    const float b = rect.Y - rect.Height;
    m_PeakPointf0 = {x, y};
    m_PeakPointf1 = {r, y};
    m_PeakPointf2 = {r, b};
    m_PeakPointf3 = {x, b};
    m_Point8 = {tagPOINTF{x, b}, tagPOINTF{x, y}, tagPOINTF{x, y}, tagPOINTF{r, y},
                tagPOINTF{r, y}, tagPOINTF{r, b}, tagPOINTF{r, b}, tagPOINTF{x, b}};
    m_PointLine8 = m_Point8;
    // The arcs and values still describe the old corners: the next SetRound
    // must rebuild them even with the same values.
    m_bCornersStale = true;
    m_bNoOutline = false;
    InvalidateGeometry();
    return 0;
}

void CRectangle::GetRecRoundPara(Gdiplus::RectF& rect, int r, float& rx, float& ry) {
    Gdiplus::RectF logical;
    GetRectangle(logical);
    const Gdiplus::PointF topLeft = ToDevice({logical.X, logical.Y});
    const float zoom = ViewZoom();
    rect = Gdiplus::RectF(topLeft.X, topLeft.Y, logical.Width * zoom, logical.Height * zoom);
    rx = 0.0f;
    ry = 0.0f;
    if (r > 100) {
        r = 100;
    }
    if (r <= 0) {
        return;
    }
    // r percent of each half side.
    double fx = static_cast<double>(rect.Width) * r / 100.0 / 2.0;
    double fy = static_cast<double>(rect.Height) * r / 100.0 / 2.0;
    if (std::fabs(fx - fy) > kEllipticalLimit) {
        fx = fy = std::min(fx, fy);
    }
    rx = static_cast<float>(fx);
    ry = static_cast<float>(fy);
}

void CRectangle::BuildRoundCorner(int corner, int r) {
    Gdiplus::RectF dev;
    float rx = 0.0f;
    float ry = 0.0f;
    GetRecRoundPara(dev, r, rx, ry);
    // Device y grows downward: the device top is the logical top.
    const float left = dev.X;
    const float top = dev.Y;
    const float right = dev.X + dev.Width;
    const float bottom = dev.Y + dev.Height;

    float boxX = left;
    float boxY = top;
    float start = 180.0f;
    Gdiplus::PointF from;  // where the arc starts: the end of the side before
    Gdiplus::PointF to;    // where it ends: the start of the side after
    switch (corner) {
        case 1:
            boxX = left;
            boxY = top;
            start = 180.0f;
            from = Gdiplus::PointF(left, top + ry);
            to = Gdiplus::PointF(left + rx, top);
            break;
        case 2:
            boxX = right - 2 * rx;
            boxY = top;
            start = 270.0f;
            from = Gdiplus::PointF(right - rx, top);
            to = Gdiplus::PointF(right, top + ry);
            break;
        case 3:
            boxX = right - 2 * rx;
            boxY = bottom - 2 * ry;
            start = 0.0f;
            from = Gdiplus::PointF(right, bottom - ry);
            to = Gdiplus::PointF(right - rx, bottom);
            break;
        default:
            // Point 7 ends the bottom side and point 0 starts the left side,
            // where the arc from 90 to 180 degrees begins and ends.
            boxX = left;
            boxY = bottom - 2 * ry;
            start = 90.0f;
            from = Gdiplus::PointF(left + rx, bottom);
            to = Gdiplus::PointF(left, bottom - ry);
            break;
    }

    Gdiplus::GraphicsPath path;
    if (r > 0) {
        // A zero radius (a flat rectangle) adds nothing: the corner stays square.
        path.AddArc(boxX, boxY, 2 * rx, 2 * ry, start, 90.0f);
    }
    std::vector<tagPOINTF>& arc = ArcOf(corner);
    arc.clear();
    for (const Gdiplus::PointF& p : path.PathPoints()) {
        arc.push_back(ToLogical(p));
    }
    const int* idx = kCornerLinePoints[corner - 1];
    m_PointLine8[idx[0]] = ToLogical(from);
    m_PointLine8[idx[1]] = ToLogical(to);
    InvalidateGeometry();
}

void CRectangle::Get8PointfOfRound(int r1, int r2, int r3, int r4, std::vector<tagPOINTF>& out) {
    const int values[4] = {r1, r2, r3, r4};
    for (int j = 0; j < 8; ++j) {
        const int side = j / 2;
        const tagPOINTF m = GetMidPointF(m_Point8[2 * side], m_Point8[2 * side + 1]);
        // In double: a value far below zero must not overflow.
        const double f = (100.0 - values[CornerOfLinePoint(j) - 1]) / 100.0;
        const tagPOINTF& p = m_Point8[j];
        out.push_back({static_cast<float>(m.x + f * (static_cast<double>(p.x) - m.x)),
                       static_cast<float>(m.y + f * (static_cast<double>(p.y) - m.y))});
    }
}

void CRectangle::BuildAntiCorner(int corner, int r) {
    ArcOf(corner).clear();
    std::vector<tagPOINTF> q;
    Get8PointfOfRound(r, r, r, r, q);
    const int* idx = kCornerLinePoints[corner - 1];
    m_PointLine8[idx[0]] = q[idx[0]];
    m_PointLine8[idx[1]] = q[idx[1]];
    InvalidateGeometry();
}

int CRectangle::SetRoundCorner(int corner, int r, int skipSame) {
    const ShapeGuard guard(this);
    return RoundCornerHeld(corner, r, skipSame);
}

int CRectangle::RoundCornerHeld(int corner, int r, int skipSame) {
    if (skipSame != 0 && !m_bCornersStale && r == ValueOf(corner)) {
        return 0;
    }
    return Guarded([&] {
        BuildRoundCorner(corner, r);
        return true;
    });
}

int CRectangle::SetAntiLintCorner(int corner, int r) {
    const ShapeGuard guard(this);
    return AntiCornerHeld(corner, r);
}

int CRectangle::AntiCornerHeld(int corner, int r) {
    if (!m_bCornersStale && r == ValueOf(corner)) {
        return 0;
    }
    return Guarded([&] {
        BuildAntiCorner(corner, r);
        return true;
    });
}

int CRectangle::SetRound1(int r, int skipSame) { return SetRoundCorner(1, r, skipSame); }
int CRectangle::SetRound2(int r, int skipSame) { return SetRoundCorner(2, r, skipSame); }
int CRectangle::SetRound3(int r, int skipSame) { return SetRoundCorner(3, r, skipSame); }
int CRectangle::SetRound4(int r, int skipSame) { return SetRoundCorner(4, r, skipSame); }
int CRectangle::SetAntiLint1(tagPOINTF, int r) { return SetAntiLintCorner(1, r); }
int CRectangle::SetAntiLint2(tagPOINTF, int r) { return SetAntiLintCorner(2, r); }
int CRectangle::SetAntiLint3(tagPOINTF, int r) { return SetAntiLintCorner(3, r); }
int CRectangle::SetAntiLint4(tagPOINTF, int r) { return SetAntiLintCorner(4, r); }

bool CRectangle::BuildCornersUpright(const int values[4], bool force) {
    const tagPOINTF c = GetMidPointF(m_Point8[0], m_Point8[3]);
    double a1 = 0.0;
    if (PointDistance(m_Point8[2].x, m_Point8[2].y, m_Point8[3].x, m_Point8[3].y) > kDegenerateSide) {
        a1 = Angle2P(m_Point8[2], m_Point8[3]);
    }
    if (RotateHeld(-a1, c) != 0) {
        return false;
    }
    double a2 = 90.0;
    if (PointDistance(m_Point8[0].x, m_Point8[0].y, m_Point8[1].x, m_Point8[1].y) > kDegenerateSide) {
        a2 = Angle2P(m_Point8[0], m_Point8[1]);
    }
    // The same slant comes off again below, so the two steps cancel exactly.
    const float slant = static_cast<float>((90.0 - a2) * kPi / 180.0);
    if (SlopeHeld(c, slant, 0.0) != 0) {
        return false;
    }
    for (int corner = 1; corner <= 4; ++corner) {
        const int r = values[corner - 1];
        int done = 0;
        if (r < 0) {
            if (force) {
                BuildAntiCorner(corner, r);
            } else {
                done = AntiCornerHeld(corner, r);
            }
        } else if (force) {
            BuildRoundCorner(corner, r);
        } else {
            done = RoundCornerHeld(corner, r, 1);
        }
        if (done != 0) {
            return false;
        }
    }
    return SlopeHeld(c, -slant, 0.0) == 0 && RotateHeld(a1, c) == 0;
}

int CRectangle::SetRound(int r1, int r2, int r3, int r4) {
    // Rectangles may link one another in a cycle: each is rounded once.
    if (m_bInSetRound) {
        return 0;
    }
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(m_bInSetRound);

    if (m_pDoc != nullptr) {
        const std::vector<GUID> linked = m_linkedIDs;
        for (const GUID& id : linked) {
            CBaseShape* shape = m_pDoc->GetShapeByUUID(id);
            if (shape == nullptr || shape == this || shape->GetShapeKind() != SHAPE_RECTANGLE) {
                continue;
            }
            if (auto* rect = dynamic_cast<CRectangle*>(shape)) {
                rect->SetRound(r1, r2, r3, r4);
            }
        }
    }
    // The linked rectangles took their own events above; this one's is
    // held for its own change only.
    const ShapeGuard guard(this);
    const int values[4] = {r1, r2, r3, r4};
    if (Guarded([&] { return BuildCornersUpright(values, m_bCornersStale); }) != 0) {
        return kRefused;
    }
    perR1 = r1;
    perR2 = r2;
    perR3 = r3;
    perR4 = r4;
    // The next handle edit records this as its "before" value.
    m_nOldRound = r1;
    m_bCornersStale = false;
    return 0;
}

int CRectangle::SetRound(int* r) {
    if (r == nullptr) {
        return 0;
    }
    return SetRound(r[0], r[1], r[2], r[3]);
}

int CRectangle::GetRound(int& r1, int& r2, int& r3, int& r4) {
    r1 = perR1;
    r2 = perR2;
    r3 = perR3;
    r4 = perR4;
    return 0;
}

bool CRectangle::RebuildCornersNeutral(int r) {
    // Flips are their own inverse about any point: taking them off and
    // putting them back about the centre leaves the outline where it was.
    const tagPOINTF c = GetMidPointF(m_Point8[0], m_Point8[3]);
    const bool mirror = GetMirrorFlag() > 0;
    const bool antiX = IsZoomAntiX();
    const bool antiY = IsZoomAntiY();
    const bool reversed = IsAntiPath();
    auto flips = [&]() {
        return (!mirror || MirrorHeld(c, 1) == 0) && (!antiX || ZoomHeld(c, -1.0, 1.0) == 0) &&
               (!antiY || ZoomHeld(c, 1.0, -1.0) == 0);
    };
    if (!flips()) {
        return false;
    }
    if (reversed) {
        SortPathHeld();
    }
    const int values[4] = {r, r, r, r};
    const bool built = BuildCornersUpright(values, true);
    if (reversed) {
        SortPathHeld();
    }
    return flips() && built;
}

int CRectangle::ModifyEditPoint(int, tagPOINTF) {
    // The editor has put the handle's value into perR1; m_nOldRound holds
    // corner 1's value before the drag, the other corners still theirs.
    const ShapeGuard guard(this);
    const int before[4] = {m_nOldRound, perR2, perR3, perR4};
    const int r = perR1;
    // Built exactly as the undo record's redo will build it, so the corners
    // stay on a turned, slanted or flipped rectangle.
    if (Guarded([&] { return RebuildCornersNeutral(r); }) != 0) {
        perR1 = m_nOldRound;
        return kRefused;
    }
    perR1 = perR2 = perR3 = perR4 = r;
    m_bCornersStale = false;

    auto* data = new stRoundUndo();
    data->ids.push_back(GetBaseID());
    for (int i = 0; i < 4; ++i) {
        data->nNewRound[i] = r;
        data->nOldRound[i] = before[i];
    }
    auto* record = new CUND_Round(data);
    if (m_pDoc != nullptr) {
        m_pDoc->AddUndo(record);
    } else {
        record->Destroy();
        delete record;
    }
    m_nOldRound = r;
    return 0;
}

// ---- persistence ------------------------------------------------------------------

void CRectangle::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("perR1", &perR1);
    AddProp("perR2", &perR2);
    AddProp("perR3", &perR3);
    AddProp("perR4", &perR4);
    AddProp("m_fRotateAngle", &m_fRotateAngle);
    AddProp("m_PeakPointf0", &m_PeakPointf0);
    AddProp("m_PeakPointf1", &m_PeakPointf1);
    AddProp("m_PeakPointf2", &m_PeakPointf2);
    AddProp("m_PeakPointf3", &m_PeakPointf3);
    AddProp("ArcPointf1", &ArcPointf1);
    AddProp("ArcPointf2", &ArcPointf2);
    AddProp("ArcPointf3", &ArcPointf3);
    AddProp("ArcPointf4", &ArcPointf4);
    AddProp("pointf", &pointf);
    AddProp("pointfLine", &pointfLine);
}

void CRectangle::UpdatePropsValue() {
    CBaseShape::UpdatePropsValue();
    if (m_bNoOutline) {
        // A rectangle that was never built saves no outline, and reads back
        // with nothing to mark rather than a dot at the origin.
        for (auto* list : {&ArcPointf1, &ArcPointf2, &ArcPointf3, &ArcPointf4, &pointf, &pointfLine}) list->clear();
        return;
    }
    ArcPointf1.assign(1, m_PointArc1);
    ArcPointf2.assign(1, m_PointArc2);
    ArcPointf3.assign(1, m_PointArc3);
    ArcPointf4.assign(1, m_PointArc4);
    pointf.assign(1, std::vector<tagPOINTF>(m_Point8.begin(), m_Point8.end()));
    pointfLine.assign(1, std::vector<tagPOINTF>(m_PointLine8.begin(), m_PointLine8.end()));
}

void CRectangle::RestoreAfterRead() {
    const ShapeGuard guard(this);
    auto joined = [](const std::vector<std::vector<tagPOINTF>>& groups) {
        std::vector<tagPOINTF> all;
        for (const std::vector<tagPOINTF>& g : groups) {
            all.insert(all.end(), g.begin(), g.end());
        }
        return all;
    };
    const std::vector<tagPOINTF> outline = joined(pointf);
    const std::vector<tagPOINTF> lines = joined(pointfLine);
    std::array<std::vector<tagPOINTF>, 4> arcs{joined(ArcPointf1), joined(ArcPointf2), joined(ArcPointf3),
                                               joined(ArcPointf4)};
    m_nOldRound = perR1;
    m_bCornersStale = false;
    InvalidateGeometry();
    const bool finite = AllPointsFinite(outline) && AllPointsFinite(lines) &&
                        std::all_of(arcs.begin(), arcs.end(), AllPointsFinite) && Finite(m_PeakPointf0) &&
                        Finite(m_PeakPointf1) && Finite(m_PeakPointf2) && Finite(m_PeakPointf3) &&
                        std::isfinite(m_fRotateAngle);
    std::vector<tagPOINTF> all = outline;
    all.insert(all.end(), lines.begin(), lines.end());
    for (const std::vector<tagPOINTF>& arc : arcs) all.insert(all.end(), arc.begin(), arc.end());
    if (!finite || !geom::SpanFits(all) || (outline.empty() && lines.empty())) {
        // A point that is not a number, or a span beyond float, would reach
        // the scanner: none of the saved geometry is taken, and the
        // rectangle has nothing to mark. A rectangle saved unbuilt has no
        // outline to take.
        m_PeakPointf0 = m_PeakPointf1 = m_PeakPointf2 = m_PeakPointf3 = tagPOINTF{0.0f, 0.0f};
        m_fRotateAngle = 0.0;
        m_bNoOutline = true;
        return;
    }
    m_bNoOutline = false;
    // A short list (a damaged file) sets what it has; the rest stays.
    for (size_t i = 0; i < outline.size() && i < m_Point8.size(); ++i) {
        m_Point8[i] = outline[i];
    }
    for (size_t i = 0; i < lines.size() && i < m_PointLine8.size(); ++i) {
        m_PointLine8[i] = lines[i];
    }
    m_PointArc1.swap(arcs[0]);
    m_PointArc2.swap(arcs[1]);
    m_PointArc3.swap(arcs[2]);
    m_PointArc4.swap(arcs[3]);
}

// ---- conversions ------------------------------------------------------------------

CBaseShape* CRectangle::ToBezier() {
    auto* curve = new CBezierCurve();
    curve->SetDocView(m_pDoc, m_pView);
    curve->SetPen(GetPenIndex());
    curve->SetSmoothRatio(GetSmoothRatio());
    curve->bClosed = 1;
    for (const Leg& leg : Legs()) {
        BEZIER_4POINTF_DRAW side;
        side.p1 = side.p2 = m_PointLine8[2 * leg.side];
        side.p3 = side.p4 = m_PointLine8[2 * leg.side + 1];
        side.LineType = 1;
        curve->arrSegment.push_back(side);
        const std::vector<tagPOINTF>& arc = *leg.arc;
        const size_t n = UsableArcPoints(arc.size());
        for (size_t j = 0; j + 3 < n; j += 3) {
            BEZIER_4POINTF_DRAW seg;
            seg.p1 = arc[j];
            seg.p2 = arc[j + 1];
            seg.p3 = arc[j + 2];
            seg.p4 = arc[j + 3];
            seg.LineType = 2;
            seg.ArcStartPoint = seg.p1;
            seg.ArcEndPoint = seg.p4;
            // A point on the span two thirds along its flattened form.
            Gdiplus::GraphicsPath path;
            path.AddBezier(ToDevice(seg.p1), ToDevice(seg.p2), ToDevice(seg.p3), ToDevice(seg.p4));
            path.Flatten(nullptr, GetSmoothRatio());
            const std::vector<Gdiplus::PointF>& flat = path.PathPoints();
            seg.ArcCenterPoint = seg.p1;
            if (!flat.empty()) {
                const size_t at = std::min(flat.size() * 2 / 3, flat.size() - 1);
                seg.ArcCenterPoint = ToLogical(flat[at]);
            }
            curve->arrSegment.push_back(seg);
        }
    }
    curve->KeepMarkingOf(*this);
    return curve;
}

CBaseShape* CRectangle::ToPolyLine() {
    if (perR1 == 0 && perR2 == 0 && perR3 == 0 && perR4 == 0) {
        auto* poly = new CPolyLine();
        poly->SetDocView(m_pDoc, m_pView);
        poly->SetPen(GetPenIndex());
        // The same way round as the marked outline.
        if (IsAntiPath()) {
            poly->arrPoint = {m_PeakPointf0, m_PeakPointf3, m_PeakPointf2, m_PeakPointf1, m_PeakPointf0};
        } else {
            poly->arrPoint = {m_PeakPointf0, m_PeakPointf1, m_PeakPointf2, m_PeakPointf3, m_PeakPointf0};
        }
        poly->bClosed = 1;
        poly->KeepMarkingOf(*this);
        return poly;
    }
    CBezierCurve curve;
    // Only a temporary: its caption number goes back.
    curve.MinusCountNum();
    curve.SetDocView(m_pDoc, m_pView);
    curve.SetPen(GetPenIndex());
    curve.SetSmoothRatio(GetSmoothRatio());
    for (const Leg& leg : Legs()) {
        BEZIER_4POINTF_DRAW side;
        side.p1 = side.p2 = m_PointLine8[2 * leg.side];
        side.p3 = side.p4 = m_PointLine8[2 * leg.side + 1];
        curve.arrSegment.push_back(side);
        const std::vector<tagPOINTF>& arc = *leg.arc;
        const size_t n = UsableArcPoints(arc.size());
        for (size_t j = 0; j + 3 < n; j += 3) {
            BEZIER_4POINTF_DRAW seg;
            seg.p1 = arc[j];
            seg.p2 = arc[j + 1];
            seg.p3 = arc[j + 2];
            seg.p4 = arc[j + 3];
            curve.arrSegment.push_back(seg);
        }
    }
    curve.bClosed = 1;
    curve.KeepMarkingOf(*this);
    return curve.ToPolyLine();
}

CBaseShape* CRectangle::Clone() {
    auto* copy = new CRectangle();
    copy->SetDocView(m_pDoc, m_pView);
    static_cast<RectangleFields&>(*copy) = *this;
    copy->m_nOldRound = perR1;
    copy->SetCaption(GetCaption());
    copy->SetVisible(IsVisible());
    // The copied points are flipped and reversed as the source's are: the
    // copy needs the same states to be traversed and re-rounded right.
    copy->m_bAntiPath = m_bAntiPath;
    copy->m_nMirrorFlag = m_nMirrorFlag;
    copy->m_bZoomAntiX = m_bZoomAntiX;
    copy->m_bZoomAntiY = m_bZoomAntiY;
    copy->InvalidateGeometry();
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ------------------------------------------------------------------------

int CRectangle::ExportXmlToBuff(tagXmlBuff& buff) {
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    line.Format(L"<Rectangle Name=\"%s\" perR1=\"%d\" perR2=\"%d\" perR3=\"%d\" perR4=\"%d\">\r\n", name.c_str(),
                perR1, perR2, perR3, perR4);
    buff.WriteToFile(line.GetString());
    auto writePoint = [&](tagPOINTF p) {
        line.Format(L"<P x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>", static_cast<double>(p.x), static_cast<double>(p.y),
                    0.0);
        buff.WriteToFile(line.GetString());
    };
    for (int corner = 1; corner <= 4; ++corner) {
        const std::vector<tagPOINTF>& arc = ArcOf(corner);
        line.Format(L"<PointArc%d nSize=\"%d\">", corner, static_cast<int>(arc.size()));
        buff.WriteToFile(line.GetString());
        for (const tagPOINTF& p : arc) {
            writePoint(p);
        }
        line.Format(L"</PointArc%d>", corner);
        buff.WriteToFile(line.GetString());
    }
    buff.WriteToFile(L"<Point8>");
    for (const tagPOINTF& p : m_Point8) {
        writePoint(p);
    }
    buff.WriteToFile(L"</Point8>");
    buff.WriteToFile(L"<PointLine8>");
    for (const tagPOINTF& p : m_PointLine8) {
        writePoint(p);
    }
    buff.WriteToFile(L"</PointLine8>");
    buff.WriteToFile(L"</Rectangle>");
    return 0;
}

int CRectangle::ExportGCodeToBuff(GCodeContext& ctx) { return ExportFlattenedGCode(*this, ctx); }

// ---- drawing ------------------------------------------------------------------------

template <class Map>
void CRectangle::StrokeOutline(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const Outline& outline, Map&& map,
                               float dx, float dy) {
    auto dev = [&](tagPOINTF p) {
        const Gdiplus::PointF d = map(p);
        return Gdiplus::PointF(d.X + dx, d.Y + dy);
    };
    for (int k = 0; k < 4; ++k) {
        g.DrawLine(&pen, dev(outline.lines[2 * k]), dev(outline.lines[2 * k + 1]));
    }
    for (const std::vector<tagPOINTF>& arc : outline.arcs) {
        const size_t n = UsableArcPoints(arc.size());
        if (n == 0) {
            continue;
        }
        std::vector<Gdiplus::PointF> pts(n);
        for (size_t i = 0; i < n; ++i) {
            pts[i] = dev(arc[i]);
        }
        g.DrawBeziers(&pen, pts.data(), static_cast<INT>(n));
    }
}

int CRectangle::DrawPreview(CDC* dc, DWORD color, const Outline& outline) {
    if (dc == nullptr || m_pView == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    const float zoom = m_pView->GetZoom();
    StrokeOutline(
        g, pen, outline,
        [&](tagPOINTF p) {
            Gdiplus::PointF d;
            m_pView->LP2DP(zoom, p, d, 0);
            return d;
        },
        0.0f, 0.0f);
    return 0;
}

int CRectangle::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color, TransformedOutline([&](tagPOINTF p) { return PointfSlope(p, a, b, base); }));
}

int CRectangle::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color, TransformedOutline([&](tagPOINTF p) { return PointfZoom(p, sx, sy, base); }));
}

int CRectangle::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return DrawPreview(dc, color,
                       TransformedOutline([&](tagPOINTF p) { return PointfRotate(p, centre, angle); }));
}

int CRectangle::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>&, DWORD color, int arrow, float dx,
                               float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    StrokeOutline(*g, pen, CurrentOutline(), [](tagPOINTF p) { return ToPointF(p); }, dx, dy);
    return 0;
}

int CRectangle::Draw(CDC* dc, int arrow, int mode, int unused, int marker) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    return Draw(dc, &g, GetPenColor(-1), arrow, mode, unused, marker, 0.0f, 0.0f);
}

int CRectangle::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD color, int arrow, int mode, int, int marker, float dx,
                     float dy) {
    const ShapeGuard guard(this);
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) {
        return 0;
    }
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    if (arrow != 0) {
        SetPenArrow(g, &pen);
    }
    const float zoom = m_pView->GetZoom();
    auto map = [&](tagPOINTF p) {
        Gdiplus::PointF d;
        m_pView->LP2DP(zoom, p, d, mode);
        return d;
    };
    if (marker != 0 && IsSelected() != 0 && mode == 0) {
        tagPOINTF first;
        GetFlattenPathFirstPoint(first);
        const Gdiplus::PointF d = map(first);
        g->DrawRectangle(&pen, GetStartRectInPoint(Gdiplus::PointF(d.X + dx, d.Y + dy)));
    }
    StrokeOutline(*g, pen, CurrentOutline(), map, dx, dy);
    return 0;
}

int CRectangle::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD color, int mode, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    StrokeOutline(
        g, pen, CurrentOutline(),
        [&](tagPOINTF p) {
            Gdiplus::PointF d;
            wnd->LP2DP(p, d, mode);
            return d;
        },
        dx, dy);
    return 0;
}

int CRectangle::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    DrawPointHandles(dc, m_PointLine8, true);
    return 0;
}

// ---- editing and snapping ---------------------------------------------------------

int CRectangle::GetEditPoint(std::vector<tagPOINTF>& points) {
    points.insert(points.end(), m_PointLine8.begin(), m_PointLine8.end());
    return static_cast<int>(points.size());
}

int CRectangle::GetSnapPoint(std::vector<tagPOINTF>& points) {
    points.insert(points.end(), m_PointLine8.begin(), m_PointLine8.end());
    for (size_t i = 0; i + 1 < m_PointLine8.size(); ++i) {
        points.push_back(GetMidPointF(m_PointLine8[i], m_PointLine8[i + 1]));
    }
    return 0;
}

// ---- transforms -----------------------------------------------------------------------

int CRectangle::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(dx, dy) ||
        !TransformAll([dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; })) {
        return kRefused;
    }
    CBaseShape::Move(dx, dy);
    return 0;
}

int CRectangle::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    return RotateHeld(angle, centre);
}

int CRectangle::RotateHeld(double angle, tagPOINTF centre) {
    if (!geom::AllFinite(angle, m_fRotateAngle + angle) || !Finite(centre) ||
        !TransformAll([&](tagPOINTF p) { return PointfRotate(p, centre, angle); })) {
        return kRefused;
    }
    m_fRotateAngle += angle;
    CBaseShape::Rotate(angle, centre);
    return 0;
}

int CRectangle::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    return ZoomHeld(fixed, sx, sy);
}

int CRectangle::ZoomHeld(tagPOINTF fixed, double sx, double sy) {
    if (!geom::AllFinite(sx, sy) || !Finite(fixed) ||
        !TransformAll([&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); })) {
        return kRefused;
    }
    CBaseShape::Zoom(fixed, sx, sy);
    return 0;
}

int CRectangle::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    return SlopeHeld(fixed, a, b);
}

int CRectangle::SlopeHeld(tagPOINTF fixed, double a, double b) {
    if (!geom::AllFinite(a, b, std::tan(a), std::tan(b)) || !Finite(fixed) ||
        !TransformAll([&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); })) {
        return kRefused;
    }
    CBaseShape::Slope(fixed, a, b);
    return 0;
}

int CRectangle::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    return MirrorHeld(fixed, mode);
}

int CRectangle::MirrorHeld(tagPOINTF fixed, int mode) {
    if (mode >= 1 && mode <= 3) {
        if (!Finite(fixed) || !TransformAll([&](tagPOINTF p) { return PointfMirror(p, fixed, mode); })) {
            return kRefused;
        }
    }
    CBaseShape::Mirror(fixed, mode);
    return 0;
}

int CRectangle::SortPath() {
    const ShapeGuard guard(this);
    return SortPathHeld();
}

int CRectangle::SortPathHeld() {
    std::reverse(m_Point8.begin(), m_Point8.end());
    std::reverse(m_PointLine8.begin(), m_PointLine8.end());
    for (std::vector<tagPOINTF>* arc : {&m_PointArc1, &m_PointArc2, &m_PointArc3, &m_PointArc4}) {
        std::reverse(arc->begin(), arc->end());
    }
    InvalidateGeometry();
    return 0;
}

// ---- hit tests ----------------------------------------------------------------------------

double CRectangle::PickBand() const {
    const double band = GetPickDistance() / ViewZoom();
    return std::isfinite(band) && band > 0.0 ? band : 0.0;
}

int CRectangle::IsPtOnline(tagPOINTF pt) {
    // The pick distance is in device pixels: a click counts within that many
    // pixels of a side as the view shows it.
    const double band = PickBand();
    for (int k = 1; k < 8; k += 2) {
        if (SegmentDistance(pt, m_PointLine8[k - 1], m_PointLine8[k]) <= band) {
            return k;
        }
    }
    return 0;
}

bool CRectangle::IsPtOnRound(tagPOINTF pt, const std::vector<tagPOINTF>& arc) const {
    const double band = PickBand();
    const double flatness = std::clamp(band / 4.0, kArcPickFlatnessMin, kArcPickFlatnessMax);
    std::vector<tagPOINTF> flat;
    GetFlattenArcPoints(arc, flat, static_cast<float>(flatness));
    for (size_t i = 1; i < flat.size(); ++i) {
        if (SegmentDistance(pt, flat[i - 1], flat[i]) <= band) {
            return true;
        }
    }
    return false;
}

int CRectangle::IsMe(tagPOINTF point) {
    const int side = IsPtOnline(point);
    if (side != 0) {
        return side;
    }
    for (int corner = 1; corner <= 4; ++corner) {
        const std::vector<tagPOINTF>& arc = ArcOf(corner);
        if (!arc.empty() && IsPtOnRound(point, arc)) {
            return 2 * corner;
        }
    }
    return 0;
}

int CRectangle::IsInRect(Gdiplus::RectF& rect) {
    const Gdiplus::RectF box = CalculateRectangle(std::vector<tagPOINTF>(m_PointLine8.begin(), m_PointLine8.end()));
    return PtInRectFBorder(box.X, box.Y, rect, false) &&
                   PtInRectFBorder(box.X + box.Width, box.Y - box.Height, rect, false)
               ? 1
               : 0;
}

int CRectangle::IsInClientRectF() {
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    const Gdiplus::RectF box = CalculateRectangle(std::vector<tagPOINTF>(m_Point8.begin(), m_Point8.end()));
    if (PtInRectFBorder(box.X, box.Y, client, false) &&
        PtInRectFBorder(box.X + box.Width, box.Y - box.Height, client, false)) {
        return 1;
    }
    return RectsIntersect(box, client) ? 1 : 0;
}

int CRectangle::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
    std::vector<tagPOINTF> pts;
    GetFlattenPathPoints(pts, kSelectTolerance);
    // The segment test takes the rectangle by its lower edge.
    const Gdiplus::RectF band(rect.X, rect.Y - rect.Height, rect.Width, rect.Height);
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        if (SegmentHitsRect(band, pts[i], pts[(i + 1) % n])) {
            return 1;
        }
    }
    return 0;
}

int CRectangle::GetRectangle(Gdiplus::RectF& rect) {
    rect = CalculateRectangle(std::vector<tagPOINTF>(m_Point8.begin(), m_Point8.end()));
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

// ---- flattening and mark data ----------------------------------------------------------------

void CRectangle::GetFlattenArcPoints(const std::vector<tagPOINTF>& arc, std::vector<tagPOINTF>& out,
                                     float flatness) const {
    const size_t n = UsableArcPoints(arc.size());
    if (n == 0) {
        return;
    }
    std::vector<Gdiplus::PointF> pts(n);
    for (size_t i = 0; i < n; ++i) {
        pts[i] = ToPointF(arc[i]);
    }
    Gdiplus::GraphicsPath path;
    if (path.AddBeziers(pts.data(), static_cast<INT>(n)) != Gdiplus::Ok ||
        path.Flatten(nullptr, flatness) != Gdiplus::Ok) {
        return;
    }
    for (const Gdiplus::PointF& p : path.PathPoints()) {
        out.push_back({p.X, p.Y});
    }
}

int CRectangle::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    if (m_bNoOutline) {
        return 0;
    }
    const std::array<Leg, 4> legs = Legs();
    for (const Leg& leg : legs) {
        points.push_back(m_PointLine8[2 * leg.side]);
        points.push_back(m_PointLine8[2 * leg.side + 1]);
        GetFlattenArcPoints(*leg.arc, points, GetSmoothRatio());
    }
    points.push_back(m_PointLine8[2 * legs[0].side]);
    return 0;
}

int CRectangle::GetFlattenPathFirstPoint(tagPOINTF& point) {
    point = m_PointLine8[2 * Legs()[0].side];
    return 0;
}

void CRectangle::GetMidPointf(tagPOINTF& point) const {
    const int side = Legs()[0].side;
    point = GetMidPointF(m_PointLine8[2 * side], m_PointLine8[2 * side + 1]);
}

int CRectangle::GetFlattenPathLastPoint(tagPOINTF& point) {
    GetMidPointf(point);
    return 0;
}

bool CRectangle::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    // A point within kDuplicatePoint of the last one kept is left out.
    return MarkFlattenedPath(out, MarkEnding::kFinish, IsReverseOrder(), [](std::vector<tagPOINTF>& points) {
        std::vector<tagPOINTF> kept;
        kept.reserve(points.size());
        for (const tagPOINTF& p : points) {
            if (kept.empty() || MaxAxisDistance(p.x, p.y, kept.back().x, kept.back().y) > kDuplicatePoint) {
                kept.push_back(p);
            }
        }
        points.swap(kept);
    });
}
