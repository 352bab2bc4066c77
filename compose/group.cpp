#include "morvik/compose/group.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_set>

#include "morvik/afx/cstring.h"
#include "morvik/compose/combine.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/shapes/picture.h"
#include "morvik/text/fonts.h"

IMPLEMENT_SERIAL(CGroupShape, CBaseShape, 3)

namespace {

// Every child's outline is flattened at this tolerance, whatever the caller
// asks for.
constexpr float kChildFlatten = 0.25f;
constexpr float kNoExtent = 1.1920929e-07f;

bool KindIn(CBaseShape* shape, std::initializer_list<int> kinds) {
    const int kind = static_cast<int>(shape->GetShapeKind());
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

// Lists a created shape's leaves; created containers (the hatch groups of a
// converted text) give up their members and go, so that every listed shape
// is a leaf that a plain delete frees whole.
void TakeLeaves(CBaseShape* shape, std::vector<CBaseShape*>& out) {
    if (shape == nullptr) {
        return;
    }
    const CAD_SHAPE_TYPE kind = shape->GetShapeKind();
    if (kind != SHAPE_GROUP && kind != SHAPE_COMBINE && kind != SHAPE_FILLED) {
        out.push_back(shape);
        return;
    }
    std::vector<CBaseShape*> members;
    members.swap(shape->GetChildren());
    delete shape;
    for (CBaseShape* member : members) {
        TakeLeaves(member, out);
    }
}

// An unfilled text stands for its converted outlines, which are new shapes;
// a filled one is listed whole (its fill shapes go with it). False when the
// child is not such a text.
bool ListTextOutlines(CBaseShape* child, std::vector<CBaseShape*>& out) {
    if (child->GetShapeKind() != SHAPE_FONTS) {
        return false;
    }
    auto* text = dynamic_cast<CFonts*>(child);
    if (text == nullptr || text->bFilled != 0) {
        return false;
    }
    std::vector<CBaseShape*> converted;
    text->GetBasicShapeList(converted);
    for (CBaseShape* shape : converted) {
        TakeLeaves(shape, out);
    }
    return true;
}

void StrokeLine(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const std::vector<Gdiplus::PointF>& pts) {
    if (pts.size() < 2) {
        return;
    }
    g.DrawLines(&pen, pts.data(), static_cast<INT>(pts.size()));
}

}  // namespace

// ---- shared container helpers ------------------------------------------------

namespace shape_container {

void FreeMembers(std::vector<CBaseShape*>& members) {
    // Take the list over first: a member's destructor must never see it half
    // freed, and a pointer listed twice is deleted once.
    std::vector<CBaseShape*> doomed;
    doomed.swap(members);
    std::unordered_set<CBaseShape*> seen;
    for (CBaseShape*& member : doomed) {
        if (member == nullptr || !seen.insert(member).second) {
            member = nullptr;
            continue;
        }
        // Every container (groups, compound shapes, fill shapes) leaves its
        // members to FreeShapePtr; for other shapes it does nothing.
        member->FreeShapePtr();
        delete member;
        member = nullptr;
    }
}

void UniteRect(Gdiplus::RectF& acc, bool& have, const Gdiplus::RectF& r) {
    if (!std::isfinite(r.X) || !std::isfinite(r.Y) || !std::isfinite(r.Width) || !std::isfinite(r.Height)) {
        return;
    }
    if (!(std::fabs(r.Width) > kNoExtent) && !(std::fabs(r.Height) > kNoExtent)) {
        return;
    }
    const double left = std::min<double>(r.X, static_cast<double>(r.X) + r.Width);
    const double right = std::max<double>(r.X, static_cast<double>(r.X) + r.Width);
    const double top = std::max<double>(r.Y, static_cast<double>(r.Y) - r.Height);
    const double bottom = std::min<double>(r.Y, static_cast<double>(r.Y) - r.Height);
    if (!have) {
        acc = Gdiplus::RectF(static_cast<float>(left), static_cast<float>(top), static_cast<float>(right - left),
                             static_cast<float>(top - bottom));
        have = true;
        return;
    }
    const double l = std::min<double>(acc.X, left);
    const double t = std::max<double>(acc.Y, top);
    const double rr = std::max(static_cast<double>(acc.X) + acc.Width, right);
    const double b = std::min(static_cast<double>(acc.Y) - acc.Height, bottom);
    acc = Gdiplus::RectF(static_cast<float>(l), static_cast<float>(t), static_cast<float>(rr - l),
                         static_cast<float>(t - b));
}

Gdiplus::RectF MembersRect(std::vector<CBaseShape*>& members) {
    Gdiplus::RectF acc;
    bool have = false;
    for (CBaseShape* member : members) {
        if (member == nullptr) {
            continue;
        }
        Gdiplus::RectF r;
        member->GetRectangle(r);
        UniteRect(acc, have, r);
    }
    return have ? acc : Gdiplus::RectF();
}

CBaseShape* ConvertOrClone(CBaseShape* member, bool convert, bool toBezier) {
    if (member == nullptr) {
        return nullptr;
    }
    CBaseShape* result = nullptr;
    if (convert) {
        result = toBezier ? member->ToBezier() : member->ToPolyLine();
    }
    // A shape that cannot convert is carried over as it is rather than
    // leaving a hole in the result.
    if (result == nullptr) {
        result = member->Clone();
    }
    return result;
}

void SaveMembers(CBaseShape* owner, std::vector<CBaseShape*>& members, std::list<CBaseShape*>& out) {
    for (CBaseShape* member : members) {
        if (member == nullptr) {
            continue;
        }
        // The member collects itself (and its own members) with this owner
        // as its parent.
        member->SaveShapeChild(owner, out);
    }
}

void AppendMarkData(tagMarkDataPar& into, tagMarkDataPar& part) {
    for (tagPathData& path : part.arrPaths) {
        into.arrPaths.push_back(std::move(path));
    }
    for (tagPathData& path : part.arrPaths2) {
        into.arrPaths2.push_back(std::move(path));
    }
}

namespace {

// Drawing coordinates stay this far inside the float range after a
// container's transform.
constexpr double kContainerLimit = FLT_MAX / 64.0;

}  // namespace

bool PointsTakeMap(const std::vector<tagPOINTF>& points, const AffineMap& m) {
    for (const tagPOINTF& p : points) {
        if (!geom::Finite(p)) return false;
        const double x = m.xx * p.x + m.xy * p.y + m.dx;
        const double y = m.yx * p.x + m.yy * p.y + m.dy;
        if (!(std::fabs(x) <= kContainerLimit && std::fabs(y) <= kContainerLimit)) return false;
    }
    return true;
}

bool CornersTakeMap(const Gdiplus::RectF& r, const AffineMap& m) {
    return geom::Finite(r) && PointsTakeMap({{r.X, r.Y}, {r.X + r.Width, r.Y}, {r.X, r.Y - r.Height}, {r.X + r.Width, r.Y - r.Height}}, m);
}

bool MembersTakeMap(std::vector<CBaseShape*>& members, const AffineMap& map) {
    if (!geom::AllFinite(map.xx, map.xy, map.yx, map.yy, map.dx, map.dy)) return false;
    for (CBaseShape* m : members) {
        if (m == nullptr) continue;
        if (!m->GetChildren().empty() && !MembersTakeMap(m->GetChildren(), map)) return false;
        Gdiplus::RectF r;
        m->GetRectangle(r);
        if (!CornersTakeMap(r, map)) return false;
    }
    return true;
}

bool MembersTakeSlant(std::vector<CBaseShape*>& members, tagPOINTF fixed, double a, double b) {
    for (CBaseShape* m : members) {
        if (m == nullptr) continue;
        if (const auto* picture = dynamic_cast<const CPicture*>(m); picture != nullptr && !picture->TakesSlant(fixed, a, b))
            return false;
        if (!m->GetChildren().empty() && !MembersTakeSlant(m->GetChildren(), fixed, a, b)) return false;
    }
    return true;
}

}  // namespace shape_container

using shape_container::AppendMarkData;
using shape_container::ConvertOrClone;
using shape_container::FreeMembers;
using shape_container::MembersRect;
using shape_container::UniteRect;

// ---- construction ----------------------------------------------------------------

CGroupShape::CGroupShape() { InitShape(SHAPE_GROUP, "IDS_TYPENAME_GROUP", ShapeCounterOf(SHAPE_GROUP)); }

CGroupShape::CGroupShape(NamedByDerived) { ShapeCounterOf(SHAPE_GROUP).Take(); }

CGroupShape::~CGroupShape() {
    m_arrChildren.clear();
    shape_container::FreeMembers(m_listed);
}

void CGroupShape::GeometryChanged() {
    InvalidateGeometry();
    m_snapValid = false;
    m_snapPoints.clear();
}

void CGroupShape::RestoreAfterRead() {
    const ShapeGuard guard(this);
    GeometryChanged();
}

bool CGroupShape::TakesMap(const AffineMap& map) {
    if (!bImpFromPlt) return shape_container::MembersTakeMap(m_arrChildren, map);
    if (!geom::AllFinite(map.xx, map.xy, map.yx, map.yy, map.dx, map.dy)) return false;
    for (const tagPLTLINE& line : vLines) {
        if (!shape_container::PointsTakeMap(line.arrPoint, map)) return false;
    }
    return true;
}

template <class F>
void CGroupShape::TransformLines(F f) {
    for (tagPLTLINE& line : vLines) {
        for (tagPOINTF& p : line.arrPoint) {
            p = f(p);
        }
    }
}

Gdiplus::RectF CGroupShape::LinesRectangle() const {
    Gdiplus::RectF acc;
    bool have = false;
    for (const tagPLTLINE& line : vLines) {
        UniteRect(acc, have, CalculateRectangle(line.arrPoint));
    }
    return have ? acc : Gdiplus::RectF();
}

COLORREF CGroupShape::LinePenColor(const tagPLTLINE& line) { return CBaseFrame::GetPenColorOf(line.nPen); }

CBaseShape* CGroupShape::LineToPolyLine(const tagPLTLINE& line) {
    auto* poly = new CPolyLine();
    poly->SetPen(line.nPen);
    poly->arrPoint = line.arrPoint;
    Gdiplus::RectF r;
    poly->GetRectangle(r);
    return poly;
}

CGroupShape* CGroupShape::LinesToPolyLineGroup() {
    auto* group = new CGroupShape();
    for (const tagPLTLINE& line : vLines) {
        group->m_arrChildren.push_back(LineToPolyLine(line));
    }
    Gdiplus::RectF r;
    group->GetRectangle(r);
    return group;
}

// ---- persistence --------------------------------------------------------------------

void CGroupShape::AddAllProp(bool extended) {
    CBaseShape::AddAllProp(extended);
    AddProp("group_bDynaic", &bDynaic);
    AddProp("group_nPos", &nPos);
    AddProp("group_fPosX", &fPosX);
    AddProp("group_fPosY", &fPosY);
    AddProp("group_bFixSizeX", &bFixSizeX);
    AddProp("group_bFixSizeY", &bFixSizeY);
    AddProp("group_fSizeCX", &fSizeCX);
    AddProp("group_fSizeCY", &fSizeCY);
    AddProp("group_bFix", &bFix);
    AddProp("group_fPosXOrg", &fPosXOrg);
    AddProp("group_fPosYOrg", &fPosYOrg);
    AddProp("group_strFilename", &strFilename);
    AddProp("group_bKeepxySizeRate", &bKeepxySizeRate);
    AddProp("group_bImpFromPlt", &bImpFromPlt);
    AddProp("group_vLines", &vLines);
}

void CGroupShape::FreeShapePtr() {
    FreeMembers(m_arrChildren);
    GeometryChanged();
}

void CGroupShape::SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) {
    shape_container::SaveMembers(this, m_arrChildren, out);
    CBaseShape::SaveShapeChild(parent, out);
}

void CGroupShape::AllDelCountNum() { ShapeCounterOf(SHAPE_GROUP).Reset(); }

// ---- conversions ----------------------------------------------------------------------

CBaseShape* CGroupShape::ToBezier() {
    if (bImpFromPlt) {
        return ToPolyLine();
    }
    auto* group = new CGroupShape();
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        const bool convert = KindIn(child, {SHAPE_CIRCLE, SHAPE_ELLIPSEARC, SHAPE_RECTANGLE, SHAPE_POLYGON,
                                            SHAPE_GROUP, SHAPE_COMBINE, SHAPE_FONTS});
        if (CBaseShape* piece = ConvertOrClone(child, convert, true)) {
            group->m_arrChildren.push_back(piece);
        }
    }
    Gdiplus::RectF r;
    group->GetRectangle(r);
    group->KeepMarkingOf(*this);
    return group;
}

CBaseShape* CGroupShape::ToPolyLine() {
    if (bImpFromPlt) {
        return LinesToPolyLineGroup();
    }
    auto* group = new CGroupShape();
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        const bool convert = KindIn(child, {SHAPE_CIRCLE, SHAPE_ELLIPSEARC, SHAPE_RECTANGLE, SHAPE_BEZIER,
                                            SHAPE_POLYGON, SHAPE_GROUP, SHAPE_COMBINE, SHAPE_FONTS});
        if (CBaseShape* piece = ConvertOrClone(child, convert, false)) {
            group->m_arrChildren.push_back(piece);
        }
    }
    Gdiplus::RectF r;
    group->GetRectangle(r);
    group->KeepMarkingOf(*this);
    return group;
}

CBaseShape* CGroupShape::Clone() {
    auto* copy = new CGroupShape();
    if (bImpFromPlt) {
        copy->bImpFromPlt = true;
        copy->vLines = vLines;
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child == nullptr) {
                continue;
            }
            if (CBaseShape* piece = child->Clone()) {
                copy->m_arrChildren.push_back(piece);
            }
        }
        if (!m_arrChildren.empty()) {
            copy->m_nPenIndex = m_nPenIndex;
        }
    }
    copy->SetVisible(IsVisible());
    Gdiplus::RectF r;
    copy->GetRectangle(r);
    // A copy does not use up a running number: the next new group gets the
    // same one.
    ShapeCounterOf(SHAPE_GROUP).GiveBack();
    copy->KeepMarkingOf(*this);
    return copy;
}

// ---- exports ----------------------------------------------------------------------------

int CGroupShape::SetPen(unsigned char pen) {
    const ShapeGuard guard(this);
    return SetPenHeld(pen);
}

int CGroupShape::SetPenHeld(unsigned char pen) {
    SetPenIndex(pen);
    if (bImpFromPlt) {
        for (tagPLTLINE& line : vLines) {
            line.nPen = pen;
        }
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetPen(pen);
        }
    }
    return 0;
}

int CGroupShape::ExportXmlToBuff(tagXmlBuff& buff) {
    buff.WriteToFile(L"<Group>");
    if (bImpFromPlt) {
        const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
        CString text;
        for (const tagPLTLINE& line : vLines) {
            text.Format(L"<PolyLine Name=\"%s\">", name.c_str());
            buff.WriteToFile(text);
            text.Format(L"<Point nSize=\"%d\">", static_cast<int>(line.arrPoint.size()));
            buff.WriteToFile(text);
            for (const tagPOINTF& p : line.arrPoint) {
                text.Format(L"<P x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/>", static_cast<double>(p.x),
                            static_cast<double>(p.y), 0.0);
                buff.WriteToFile(text);
            }
            buff.WriteToFile(L"</Point>");
            buff.WriteToFile(L"</PolyLine>");
        }
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->ExportXmlToBuff(buff);
            }
        }
    }
    buff.WriteToFile(L"</Group>");
    return 0;
}

int CGroupShape::ExportGCodeToBuff(GCodeContext& ctx) {
    if (bImpFromPlt) {
        for (const tagPLTLINE& line : vLines) {
            if (line.arrPoint.empty()) {
                continue;
            }
            ctx.MoveTo(line.arrPoint[0].x, line.arrPoint[0].y, 0.0f);
            for (size_t i = 1; i < line.arrPoint.size(); ++i) {
                ctx.LineTo(line.arrPoint[i].x, line.arrPoint[i].y, 0.0f);
            }
        }
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->ExportGCodeToBuff(ctx);
        }
    }
    return 0;
}

// ---- drawing ------------------------------------------------------------------------------

int CGroupShape::DrawLinesPreview(CDC* dc, DWORD color, const std::vector<std::vector<tagPOINTF>>& lines) {
    if (dc == nullptr || m_pView == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(color), 0.0f);
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev;
    for (const std::vector<tagPOINTF>& line : lines) {
        dev.assign(line.size(), Gdiplus::PointF());
        for (size_t i = 0; i < line.size(); ++i) {
            m_pView->LP2DP(zoom, line[i], dev[i], 0);
        }
        StrokeLine(g, pen, dev);
    }
    return 0;
}

int CGroupShape::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->DrawSlope(dc, color, base, a, b);
            }
        }
        return 0;
    }
    std::vector<std::vector<tagPOINTF>> lines;
    for (const tagPLTLINE& line : vLines) {
        lines.push_back(line.arrPoint);
        for (tagPOINTF& p : lines.back()) {
            p = PointfSlope(p, a, b, base);
        }
    }
    return DrawLinesPreview(dc, color, lines);
}

int CGroupShape::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->DrawReSize(dc, color, base, sx, sy);
            }
        }
        return 0;
    }
    std::vector<std::vector<tagPOINTF>> lines;
    for (const tagPLTLINE& line : vLines) {
        lines.push_back(line.arrPoint);
        for (tagPOINTF& p : lines.back()) {
            p = PointfZoom(p, sx, sy, base);
        }
    }
    return DrawLinesPreview(dc, color, lines);
}

int CGroupShape::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->DrawRotate(dc, color, angle, centre);
            }
        }
        return 0;
    }
    std::vector<std::vector<tagPOINTF>> lines;
    for (const tagPLTLINE& line : vLines) {
        lines.push_back(line.arrPoint);
        for (tagPOINTF& p : lines.back()) {
            p = PointfRotate(p, centre, angle);
        }
    }
    return DrawLinesPreview(dc, color, lines);
}

int CGroupShape::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD, int arrow, float dx,
                                float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    if (!bImpFromPlt) {
        // Each child in the colour of its own pen.
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->DrawToGraphics(g, pens, child->GetPenColor(-1), arrow, dx, dy);
            }
        }
        return 0;
    }
    std::vector<Gdiplus::PointF> pts;
    for (const tagPLTLINE& line : vLines) {
        Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(LinePenColor(line)), 0.0f);
        if (arrow != 0) {
            SetPenArrow(g, &pen);
        }
        pts.clear();
        for (const tagPOINTF& p : line.arrPoint) {
            pts.emplace_back(p.x + dx, p.y + dy);
        }
        StrokeLine(*g, pen, pts);
    }
    return 0;
}

int CGroupShape::Draw(CDC* dc, int a, int b, int c, int) {
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintSingleBitPerPixel);
    return Draw(dc, &g, 0, a, b, c, 0, 0.0f, 0.0f);
}

int CGroupShape::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD, int a, int b, int c, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr && child->IsInClientRectF() != 0) {
                child->Draw(dc, g, child->GetPenColor(-1), a, b, c, 0, dx, dy);
            }
        }
        return 0;
    }
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) {
        return 0;
    }
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    const float zoom = m_pView->GetZoom();
    std::vector<Gdiplus::PointF> dev;
    for (const tagPLTLINE& line : vLines) {
        Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(LinePenColor(line)), 0.0f);
        dev.assign(line.arrPoint.size(), Gdiplus::PointF());
        for (size_t i = 0; i < line.arrPoint.size(); ++i) {
            m_pView->LP2DP(zoom, line.arrPoint[i], dev[i], b);
            dev[i].X += dx;
            dev[i].Y += dy;
        }
        StrokeLine(*g, pen, dev);
    }
    return 0;
}

int CGroupShape::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD, int mode, int, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr) {
        return 0;
    }
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->DrawWnd(wnd, dc, child->GetPenColor(-1), mode, 0, dx, dy);
            }
        }
        return 0;
    }
    if (dc == nullptr) {
        return 0;
    }
    Gdiplus::Graphics g(dc);
    std::vector<Gdiplus::PointF> dev;
    for (const tagPLTLINE& line : vLines) {
        Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(LinePenColor(line)), 0.0f);
        dev.assign(line.arrPoint.size(), Gdiplus::PointF());
        for (size_t i = 0; i < line.arrPoint.size(); ++i) {
            wnd->LP2DP(line.arrPoint[i], dev[i], mode);
            dev[i].X += dx;
            dev[i].Y += dy;
        }
        StrokeLine(g, pen, dev);
    }
    return 0;
}

// ---- geometry --------------------------------------------------------------------------------

int CGroupShape::GetSnapPoint(std::vector<tagPOINTF>& points) {
    // Children or lines added behind the group's back (readers fill the
    // lists directly) also make the cached points stale.
    if (!m_snapValid || m_snapSource != m_arrChildren.size() + vLines.size()) {
        m_snapPoints.clear();
        m_snapSource = m_arrChildren.size() + vLines.size();
        if (bImpFromPlt) {
            for (const tagPLTLINE& line : vLines) {
                const std::vector<tagPOINTF>& pts = line.arrPoint;
                m_snapPoints.insert(m_snapPoints.end(), pts.begin(), pts.end());
                for (size_t i = 1; i < pts.size(); ++i) {
                    m_snapPoints.push_back(GetMidPointF(pts[i - 1], pts[i]));
                }
            }
        } else {
            std::vector<tagPOINTF> part;
            for (CBaseShape* child : m_arrChildren) {
                if (child == nullptr) {
                    continue;
                }
                part.clear();
                child->GetSnapPoint(part);
                m_snapPoints.insert(m_snapPoints.end(), part.begin(), part.end());
            }
        }
        m_snapValid = true;
    }
    points.insert(points.end(), m_snapPoints.begin(), m_snapPoints.end());
    return 0;
}

int CGroupShape::Move(float dx, float dy) {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return MoveHeld(dx, dy);
}

int CGroupShape::MoveHeld(float dx, float dy) {
    // A transform that any member or line would refuse changes nothing.
    if (!TakesMap(AffineMap::Move(dx, dy))) return kRefused;
    if (bImpFromPlt) {
        TransformLines([dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; });
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->Move(dx, dy);
            }
        }
    }
    CBaseShape::Move(dx, dy);
    GeometryChanged();
    ClearMarkBuffHeld();
    return 0;
}

int CGroupShape::Rotate(double angle, tagPOINTF centre) {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return RotateHeld(angle, centre);
}

int CGroupShape::RotateHeld(double angle, tagPOINTF centre) {
    if (!std::isfinite(angle) || !geom::Finite(centre) || !TakesMap(AffineMap::Rotate(angle, centre))) return kRefused;
    if (bImpFromPlt) {
        TransformLines([&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->Rotate(angle, centre);
            }
        }
    }
    GeometryChanged();
    Gdiplus::RectF r;
    GetRectangle(r);
    return 0;
}

int CGroupShape::Zoom(tagPOINTF fixed, double sx, double sy) {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return ZoomHeld(fixed, sx, sy);
}

int CGroupShape::ZoomHeld(tagPOINTF fixed, double sx, double sy) {
    if (!geom::AllFinite(sx, sy) || !geom::Finite(fixed) || !TakesMap(AffineMap::Zoom(sx, sy, fixed))) return kRefused;
    if (bImpFromPlt) {
        TransformLines([&](tagPOINTF p) { return PointfZoom(p, sx, sy, fixed); });
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->Zoom(fixed, sx, sy);
            }
        }
    }
    CBaseShape::Zoom(fixed, sx, sy);
    GeometryChanged();
    return 0;
}

int CGroupShape::Slope(tagPOINTF fixed, double a, double b) {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return SlopeHeld(fixed, a, b);
}

int CGroupShape::SlopeHeld(tagPOINTF fixed, double a, double b) {
    if (!geom::AllFinite(a, b) || !geom::Finite(fixed) || !TakesMap(AffineMap::Slope(a, b, fixed))) return kRefused;
    if (!bImpFromPlt && !shape_container::MembersTakeSlant(m_arrChildren, fixed, a, b)) return kRefused;
    if (bImpFromPlt) {
        TransformLines([&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); });
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->Slope(fixed, a, b);
            }
        }
    }
    CBaseShape::Slope(fixed, a, b);
    GeometryChanged();
    return 0;
}

int CGroupShape::Mirror(tagPOINTF fixed, int mode) {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return MirrorHeld(fixed, mode);
}

int CGroupShape::MirrorHeld(tagPOINTF fixed, int mode) {
    if (!geom::Finite(fixed) || !TakesMap(AffineMap::Mirror(mode, fixed))) return kRefused;
    if (bImpFromPlt) {
        if (mode < 1 || mode > 3) {
            return 0;
        }
        TransformLines([&](tagPOINTF p) { return PointfMirror(p, fixed, mode); });
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->Mirror(fixed, mode);
            }
        }
    }
    GeometryChanged();
    return 0;
}

int CGroupShape::SortPath() {
    // Parent before child: the members take their own events inside.
    const ShapeGuard guard(this);
    return SortPathHeld();
}

int CGroupShape::SortPathHeld() {
    if (bImpFromPlt) {
        for (tagPLTLINE& line : vLines) {
            std::reverse(line.arrPoint.begin(), line.arrPoint.end());
        }
    } else {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr) {
                child->SortPath();
            }
        }
    }
    GeometryChanged();
    Gdiplus::RectF r;
    GetRectangle(r);
    return 0;
}

int CGroupShape::SetSelectFlag(int flag, bool redraw) {
    CBaseShape::SetSelectFlag(flag, redraw);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetSelectFlag(flag, false);
        }
    }
    return 0;
}

// ---- tests against points and rectangles ------------------------------------------------

int CGroupShape::IsInRect(Gdiplus::RectF& rect) {
    if (m_arrChildren.empty() && vLines.empty()) {
        return 0;
    }
    if (!GetRectValid()) {
        Gdiplus::RectF fresh;
        GetRectangle(fresh);
    }
    const Gdiplus::RectF s = ShapeRectCopy();
    const double left = rect.X;
    const double right = static_cast<double>(rect.X) + rect.Width;
    const double top = rect.Y;
    const double bottom = static_cast<double>(rect.Y) - rect.Height;
    const bool inside = left < s.X && static_cast<double>(s.X) + s.Width < right && s.Y < top &&
                        static_cast<double>(s.Y) - s.Height > bottom;
    return inside ? 1 : 0;
}

int CGroupShape::IsMe(tagPOINTF point) {
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr && child->IsMeNew(point) != 0) {
                return 1;
            }
        }
        return 0;
    }
    for (const tagPLTLINE& line : vLines) {
        const std::vector<tagPOINTF>& pts = line.arrPoint;
        Gdiplus::RectF box = CalculateRectangle(pts);
        // A straight horizontal or vertical line still has a box to pick in.
        if (box.Width < 0.001f) {
            box.Width += 1.0f;
        }
        if (box.Height < 0.001f) {
            box.Height += 1.0f;
        }
        if (!PtInRectFBorder(point.x, point.y, box, false)) {
            continue;
        }
        for (size_t i = 1; i < pts.size(); ++i) {
            if (PointNearSegment(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y, point.x, point.y)) {
                return static_cast<int>(i);
            }
        }
    }
    return 0;
}

int CGroupShape::IsInClientRectF() {
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr && child->IsInClientRectF() != 0) {
                return 1;
            }
        }
        return 0;
    }
    // Without a view nothing can be off screen.
    if (m_pView == nullptr) {
        return 1;
    }
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    for (const tagPLTLINE& line : vLines) {
        const Gdiplus::RectF r = CalculateRectangle(line.arrPoint);
        const bool inside = PtInRectFBorder(r.X, r.Y, client, false) &&
                            PtInRectFBorder(r.X + r.Width, r.Y - r.Height, client, false);
        if (inside || RectsIntersect(r, client)) {
            return 1;
        }
    }
    return 0;
}

int CGroupShape::IsSelectedForRect(Gdiplus::RectF& rect) {
    if (!bImpFromPlt) {
        for (CBaseShape* child : m_arrChildren) {
            if (child != nullptr && child->IsSelectedForRect(rect) != 0) {
                return 1;
            }
        }
        return 0;
    }
    if (IsIntersectRect(rect) == 0) {
        return 0;
    }
    // The edge test takes the rectangle by its lower edge.
    const Gdiplus::RectF band(rect.X, rect.Y - rect.Height, rect.Width, rect.Height);
    for (const tagPLTLINE& line : vLines) {
        const std::vector<tagPOINTF>& pts = line.arrPoint;
        const size_t n = pts.size();
        for (size_t i = 0; i < n; ++i) {
            if (SegmentHitsRect(band, pts[i], pts[(i + 1) % n])) {
                return 1;
            }
        }
    }
    return 0;
}

int CGroupShape::GetRectangle(Gdiplus::RectF& rect) {
    rect = bImpFromPlt ? LinesRectangle() : MembersRect(m_arrChildren);
    SetShapeRect(rect);
    SetRectValid(true);
    return 0;
}

// ---- flattening and mark data ---------------------------------------------------------------

int CGroupShape::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    if (bImpFromPlt) {
        for (const tagPLTLINE& line : vLines) {
            points.insert(points.end(), line.arrPoint.begin(), line.arrPoint.end());
        }
    } else {
        std::vector<tagPOINTF> part;
        for (CBaseShape* child : m_arrChildren) {
            if (child == nullptr) {
                continue;
            }
            part.clear();
            child->GetFlattenPathPoints(part, kChildFlatten);
            points.insert(points.end(), part.begin(), part.end());
        }
    }
    Gdiplus::RectF r;
    GetRectangle(r);
    return 0;
}

int CGroupShape::GetFlattenPathFirstPoint(tagPOINTF& point) {
    if (bImpFromPlt) {
        if (vLines.empty() || vLines.front().arrPoint.empty()) {
            return -1;
        }
        point = vLines.front().arrPoint.front();
        return 0;
    }
    if (m_arrChildren.empty() || m_arrChildren.front() == nullptr) {
        return -1;
    }
    return m_arrChildren.front()->GetFlattenPathFirstPoint(point);
}

bool CGroupShape::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    if (BeginMarkData(out)) {
        return true;
    }
    MarkDataLock lock(this, &out);

    if (bImpFromPlt) {
        // The lines go straight to the caller, so line mode rebuilds on every
        // call; the caller's own paths are replaced, never added to.
        out = m_markCache;
        for (const tagPLTLINE& line : vLines) {
            tagPathData path;
            path.nPenIndex = line.nPen;
            path.arrPolylines.push_back(line.arrPoint);
            out.arrPaths.push_back(std::move(path));
        }
        if (IsReverseOrder()) {
            std::reverse(out.arrPaths.begin(), out.arrPaths.end());
        }
        return lock.Finish(true);
    }

    bool ok = true;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        tagMarkDataPar part;
        part.bFlag = m_markCache.bFlag;
        // Whatever the child answers, what it gave is kept; a child that
        // failed (a text whose repeat the operator refused) makes the whole
        // group fail.
        ok = child->GetMarkData(part, nullptr) && ok;
        AppendMarkData(m_markCache, part);
    }
    if (IsReverseOrder()) {
        std::reverse(m_markCache.arrPaths.begin(), m_markCache.arrPaths.end());
        std::reverse(m_markCache.arrPaths2.begin(), m_markCache.arrPaths2.end());
    }
    lock.LeaveWithRect(true);
    if (!ok) {
        // The next request asks the children again instead of handing out
        // what they refused.
        SetGetDataForce(true);
    }
    return ok;
}

void CGroupShape::SetDocView(CBaseDoc* doc, CBaseView* view) {
    CBaseShape::SetDocView(doc, view);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetDocView(doc, view);
        }
    }
}

void CGroupShape::ClearMarkBuff() {
    // Parent before child: the lock order of every container.
    const ShapeGuard guard(this);
    ClearMarkBuffHeld();
}

void CGroupShape::ClearMarkBuffHeld() {
    m_markCache.Clear();
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->ClearMarkBuff();
        }
    }
}

// ---- listings -----------------------------------------------------------------------------------

void CGroupShape::GetShapeList(std::vector<CBaseShape*>& out) {
    out.clear();
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            out.push_back(child);
        }
    }
}

void CGroupShape::GetShapeListByTextName(std::vector<CBaseShape*>& out) {
    out.clear();
    std::vector<CBaseShape*> nested;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        auto* group = dynamic_cast<CGroupShape*>(child);
        if (group != nullptr && child->GetShapeKind() == SHAPE_GROUP) {
            group->GetShapeListByTextName(nested);
            out.insert(out.end(), nested.begin(), nested.end());
        } else {
            out.push_back(child);
        }
    }
}

void CGroupShape::GetBasicShapeList(std::vector<CBaseShape*>& out) {
    mapShapeIndex.clear();
    out.clear();
    // The shapes the previous listing made are the group's own to free; the
    // ones made now stay alive until the next listing or the group's end.
    shape_container::FreeMembers(m_listed);
    if (bImpFromPlt) {
        for (size_t i = 0; i < vLines.size(); ++i) {
            CBaseShape* poly = LineToPolyLine(vLines[i]);
            m_listed.push_back(poly);
            out.push_back(poly);
            mapShapeIndex[poly] = static_cast<int>(i);
        }
        return;
    }
    std::vector<CBaseShape*> nested;
    for (size_t i = 0; i < m_arrChildren.size(); ++i) {
        CBaseShape* child = m_arrChildren[i];
        if (child == nullptr) {
            continue;
        }
        const int index = static_cast<int>(i);
        nested.clear();
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        if (kind == SHAPE_GROUP && dynamic_cast<CGroupShape*>(child) != nullptr) {
            static_cast<CGroupShape*>(child)->GetBasicShapeList(nested);
        } else if (kind == SHAPE_COMBINE && dynamic_cast<CCombineShape*>(child) != nullptr) {
            static_cast<CCombineShape*>(child)->GetBasicShapeList(nested);
        } else if (ListTextOutlines(child, nested)) {
            m_listed.insert(m_listed.end(), nested.begin(), nested.end());
        } else {
            // Fill shapes and filled texts are listed whole, as is every
            // other kind.
            nested.push_back(child);
        }
        for (CBaseShape* shape : nested) {
            out.push_back(shape);
            mapShapeIndex[shape] = index;
        }
    }
}

void CGroupShape::GetBasicShapeList2(std::vector<CBaseShape*>& out, std::vector<CBaseShape*>& created) {
    mapShapeIndex.clear();
    out.clear();
    if (bImpFromPlt) {
        for (size_t i = 0; i < vLines.size(); ++i) {
            CBaseShape* poly = LineToPolyLine(vLines[i]);
            out.push_back(poly);
            mapShapeIndex[poly] = static_cast<int>(i);
        }
        created.insert(created.end(), out.begin(), out.end());
        return;
    }
    const bool single = m_arrChildren.size() == 1;
    std::vector<CBaseShape*> nested;
    for (size_t i = 0; i < m_arrChildren.size(); ++i) {
        CBaseShape* child = m_arrChildren[i];
        if (child == nullptr) {
            continue;
        }
        const int index = static_cast<int>(i);
        nested.clear();
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        auto* group = dynamic_cast<CGroupShape*>(child);
        if (group != nullptr && (kind == SHAPE_GROUP || kind == SHAPE_FILLED)) {
            // A fill shape is broken up like a group: its outlines and hatch.
            group->GetBasicShapeList2(nested, created);
            for (CBaseShape* shape : nested) {
                out.push_back(shape);
                int from = index;
                if (single) {
                    auto it = group->mapShapeIndex.find(shape);
                    if (it != group->mapShapeIndex.end()) {
                        from = it->second;
                    }
                }
                mapShapeIndex[shape] = from;
            }
            continue;
        }
        if (kind == SHAPE_COMBINE && dynamic_cast<CCombineShape*>(child) != nullptr) {
            static_cast<CCombineShape*>(child)->GetBasicShapeList(nested);
        } else if (ListTextOutlines(child, nested)) {
            created.insert(created.end(), nested.begin(), nested.end());
        } else {
            nested.push_back(child);
        }
        for (CBaseShape* shape : nested) {
            out.push_back(shape);
            mapShapeIndex[shape] = index;
        }
    }
}

void CGroupShape::GetNewBasicShapeList(std::vector<CBaseShape*>& out) {
    mapShapeIndex.clear();
    if (bImpFromPlt) {
        out.push_back(this);
        mapShapeIndex[this] = 0;
        return;
    }
    out.clear();
    std::vector<CBaseShape*> nested;
    for (size_t i = 0; i < m_arrChildren.size(); ++i) {
        CBaseShape* child = m_arrChildren[i];
        if (child == nullptr) {
            continue;
        }
        const int index = static_cast<int>(i);
        nested.clear();
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        if (kind == SHAPE_GROUP && dynamic_cast<CGroupShape*>(child) != nullptr) {
            static_cast<CGroupShape*>(child)->GetNewBasicShapeList(nested);
        } else if (kind == SHAPE_COMBINE && dynamic_cast<CCombineShape*>(child) != nullptr) {
            static_cast<CCombineShape*>(child)->GetBasicShapeList(nested);
        } else {
            nested.push_back(child);
        }
        for (CBaseShape* shape : nested) {
            out.push_back(shape);
            mapShapeIndex[shape] = index;
        }
    }
}

// ---- dynamic re-layout ------------------------------------------------------------------------------

void CGroupShape::SetLastGroupShapeRect(Gdiplus::RectF& rect) { m_rcLastGroup = rect; }

void CGroupShape::ReInitGroupDynaic() {
    if (bDynaic == 0 || !(fSizeCX >= 0.001f) || !(fSizeCY >= 0.001f)) {
        return;
    }
    Gdiplus::RectF r;
    GetRectangle(r);
    double sx = 1.0;
    double sy = 1.0;
    bool haveX = false;
    bool haveY = false;
    if (bFixSizeX != 0 && r.Width > 0.001f) {
        sx = fSizeCX / static_cast<double>(r.Width);
        haveX = true;
    }
    if (bFixSizeY != 0 && r.Height > 0.001f) {
        sy = fSizeCY / static_cast<double>(r.Height);
        haveY = true;
    }
    if (bKeepxySizeRate != 0 && haveX != haveY) {
        if (haveX) {
            sy = sx;
        } else {
            sx = sy;
        }
    }
    Zoom(tagPOINTF{r.X, r.Y}, sx, sy);
    Gdiplus::RectF n;
    GetRectangle(n);

    const double nLeft = n.X;
    const double nRight = static_cast<double>(n.X) + n.Width;
    const double nCentreX = static_cast<double>(n.X) + n.Width / 2.0;
    const double nTop = n.Y;
    const double nBottom = static_cast<double>(n.Y) - n.Height;
    const double nMiddleY = static_cast<double>(n.Y) - n.Height / 2.0;
    double dx = 0.0;
    double dy = 0.0;
    if (bFix != 0) {
        dx = fPosX - nCentreX;
        dy = fPosY - nMiddleY;
    } else {
        const Gdiplus::RectF& l = m_rcLastGroup;
        const double lLeft = l.X;
        const double lRight = static_cast<double>(l.X) + l.Width;
        const double lCentreX = static_cast<double>(l.X) + l.Width / 2.0;
        const double lTop = l.Y;
        const double lBottom = static_cast<double>(l.Y) - l.Height;
        const double lMiddleY = static_cast<double>(l.Y) - l.Height / 2.0;
        const double left = lLeft - nLeft;
        const double centre = lCentreX - nCentreX;
        const double right = lRight - nRight;
        const double top = lTop - nTop;
        const double middle = lMiddleY - nMiddleY;
        const double bottom = lBottom - nBottom;
        switch (nPos) {
            case 0: dx = left; dy = bottom; break;
            case 1: dx = left; dy = middle; break;
            case 2: dx = left; dy = top; break;
            case 3: dx = centre; dy = top; break;
            case 4: dx = right; dy = top; break;
            case 5: dx = right; dy = middle; break;
            case 6: dx = right; dy = bottom; break;
            case 7: dx = centre; dy = bottom; break;
            case 8: dx = centre; dy = middle; break;
            default: break;
        }
    }
    if (dx != 0.0 || dy != 0.0) {
        Move(static_cast<float>(dx), static_cast<float>(dy));
    }
    if (m_pView != nullptr && m_pView->GetDocument() != nullptr) {
        Gdiplus::RectF now;
        GetRectangle(now);
        m_pView->GetDocument()->InvalidateRectF(now);
    }
}
