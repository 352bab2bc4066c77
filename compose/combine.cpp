#include "morvik/compose/combine.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "morvik/compose/group.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/core/markdata.h"

IMPLEMENT_SERIAL(CCombineShape, CBaseShape, 3)

using shape_container::AppendMarkData;
using shape_container::ConvertOrClone;
using shape_container::FreeMembers;
using shape_container::MembersRect;

CCombineShape::CCombineShape() {
    InitShape(SHAPE_COMBINE, "IDS_TYPENAME_COMBINE", ShapeCounterOf(SHAPE_COMBINE));
}

CCombineShape::~CCombineShape() {
    m_arrChildren.clear();
    m_pEditShape = nullptr;
}

void CCombineShape::MinusCountNum() { ShapeCounterOf(SHAPE_COMBINE).GiveBack(); }

void CCombineShape::GeometryChanged() { InvalidateGeometry(); }

void CCombineShape::RestoreAfterRead() {
    const ShapeGuard guard(this);
    m_pEditShape = nullptr;
    GeometryChanged();
}

CBaseShape* CCombineShape::LiveEditChild() {
    // The edit child may have left the list since the hit test found it
    // (taken off by an undo record or DeletSubShape): never touch it then.
    if (m_pEditShape != nullptr &&
        std::find(m_arrChildren.begin(), m_arrChildren.end(), m_pEditShape) == m_arrChildren.end()) {
        m_pEditShape = nullptr;
    }
    return m_pEditShape;
}

void CCombineShape::GetBasicShapeList(std::vector<CBaseShape*>& out) {
    // What the list held before is not ours to free: the caller may still
    // use those shapes (or another container may own them).
    out.clear();
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            out.push_back(child);
        }
    }
}

int CCombineShape::DeletSubShape(uint32_t id) {
    const ShapeGuard guard(this);
    for (auto it = m_arrChildren.begin(); it != m_arrChildren.end(); ++it) {
        if (*it != nullptr && (*it)->GetID() == id) {
            if (*it == m_pEditShape) {
                m_pEditShape = nullptr;
            }
            m_arrChildren.erase(it);
            GeometryChanged();
            return 1;
        }
    }
    return 0;
}

// ---- shape interface ------------------------------------------------------------

void CCombineShape::FreeShapePtr() {
    m_pEditShape = nullptr;
    if (m_arrChildren.empty()) {
        return;
    }
    FreeMembers(m_arrChildren);
    GeometryChanged();
}

CBaseShape* CCombineShape::ToBezier() {
    auto* result = new CCombineShape();
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        const bool convert = kind == SHAPE_RECTANGLE || kind == SHAPE_POLYGON || kind == SHAPE_CIRCLE ||
                             kind == SHAPE_ELLIPSEARC || kind == SHAPE_FONTS || kind == SHAPE_GROUP ||
                             kind == SHAPE_COMBINE;
        if (CBaseShape* piece = ConvertOrClone(child, convert, true)) {
            result->m_arrChildren.push_back(piece);
        }
    }
    result->KeepMarkingOf(*this);
    return result;
}

CBaseShape* CCombineShape::ToPolyLine() {
    auto* result = new CCombineShape();
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        const bool convert = kind == SHAPE_RECTANGLE || kind == SHAPE_POLYGON || kind == SHAPE_CIRCLE ||
                             kind == SHAPE_ELLIPSEARC || kind == SHAPE_FONTS || kind == SHAPE_GROUP ||
                             kind == SHAPE_COMBINE || kind == SHAPE_BEZIER;
        if (CBaseShape* piece = ConvertOrClone(child, convert, false)) {
            result->m_arrChildren.push_back(piece);
        }
    }
    result->KeepMarkingOf(*this);
    return result;
}

void CCombineShape::SetSubPolyType(int type) {
    CBaseShape::SetSubPolyType(type);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetSubPolyType(type);
        }
    }
}

CBaseShape* CCombineShape::Clone() {
    auto* copy = new CCombineShape();
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        if (CBaseShape* piece = child->Clone()) {
            copy->m_arrChildren.push_back(piece);
        }
    }
    copy->m_nPenIndex = m_nPenIndex;
    copy->SetVisible(IsVisible());
    // A copy does not use up a running number.
    MinusCountNum();
    copy->KeepMarkingOf(*this);
    return copy;
}

int CCombineShape::SetPen(unsigned char pen) {
    const ShapeGuard guard(this);
    SetPenIndex(pen);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetPen(pen);
        }
    }
    return 0;
}

int CCombineShape::ExportXmlToBuff(tagXmlBuff& buff) {
    buff.WriteToFile(L"<Combine>");
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->ExportXmlToBuff(buff);
        }
    }
    buff.WriteToFile(L"</Combine>");
    return 0;
}

int CCombineShape::ExportGCodeToBuff(GCodeContext& ctx) {
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->ExportGCodeToBuff(ctx);
        }
    }
    return 0;
}

// ---- drawing ----------------------------------------------------------------------

int CCombineShape::DrawSlope(CDC* dc, DWORD color, tagPOINTF base, double a, double b) {
    const ShapeGuard guard(this);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawSlope(dc, color, base, a, b);
        }
    }
    return 0;
}

int CCombineShape::DrawReSize(CDC* dc, DWORD color, tagPOINTF base, double sx, double sy) {
    const ShapeGuard guard(this);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawReSize(dc, color, base, sx, sy);
        }
    }
    return 0;
}

int CCombineShape::DrawRotate(CDC* dc, DWORD color, double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawRotate(dc, color, angle, centre);
        }
    }
    return 0;
}

int CCombineShape::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD, int arrow, float dx,
                                  float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) {
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawToGraphics(g, pens, child->GetPenColor(-1), arrow, dx, dy);
        }
    }
    return 0;
}

int CCombineShape::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD, int a, int b, int c, int d, float dx, float dy) {
    const ShapeGuard guard(this);
    if (dc == nullptr && g == nullptr) {
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Draw(dc, g, child->GetPenColor(-1), a, b, c, d, dx, dy);
        }
    }
    return 0;
}

int CCombineShape::DrawWnd(CCustWnd* wnd, CDC* dc, DWORD, int mode, int a, float dx, float dy) {
    const ShapeGuard guard(this);
    if (wnd == nullptr || dc == nullptr) {
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawWnd(wnd, dc, child->GetPenColor(-1), mode, a, dx, dy);
        }
    }
    return 0;
}

int CCombineShape::DrawEditPoints(CDC* dc) {
    const ShapeGuard guard(this);
    if (dc == nullptr) {
        return 0;
    }
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->DrawEditPoints(dc);
        }
    }
    return 0;
}

// ---- editing and geometry ------------------------------------------------------------

int CCombineShape::ModifyEditPoint(int index, tagPOINTF point) {
    const ShapeGuard guard(this);
    CBaseShape* edit = LiveEditChild();
    if (edit == nullptr) {
        return -1;
    }
    const CAD_SHAPE_TYPE kind = edit->GetShapeKind();
    if (kind == SHAPE_BEZIER || kind == SHAPE_POLYLINE) {
        edit->ModifyEditPoint(index, point);
        GeometryChanged();
    }
    return 0;
}

int CCombineShape::GetSnapPoint(std::vector<tagPOINTF>& points) {
    std::vector<tagPOINTF> part;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        part.clear();
        child->GetSnapPoint(part);
        points.insert(points.end(), part.begin(), part.end());
    }
    return 0;
}

int CCombineShape::Move(float dx, float dy) {
    const ShapeGuard guard(this);
    // A transform that any child would refuse changes nothing.
    if (!shape_container::MembersTakeMap(m_arrChildren, AffineMap::Move(dx, dy))) return kRefused;
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Move(dx, dy);
        }
    }
    CBaseShape::Move(dx, dy);
    m_markCache.Clear();
    return 0;
}

int CCombineShape::Rotate(double angle, tagPOINTF centre) {
    const ShapeGuard guard(this);
    if (!std::isfinite(angle) || !geom::Finite(centre) ||
        !shape_container::MembersTakeMap(m_arrChildren, AffineMap::Rotate(angle, centre)))
        return kRefused;
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Rotate(angle, centre);
        }
    }
    GeometryChanged();
    return 0;
}

int CCombineShape::Zoom(tagPOINTF fixed, double sx, double sy) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(sx, sy) || !geom::Finite(fixed) ||
        !shape_container::MembersTakeMap(m_arrChildren, AffineMap::Zoom(sx, sy, fixed)))
        return kRefused;
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Zoom(fixed, sx, sy);
        }
    }
    GeometryChanged();
    return 0;
}

int CCombineShape::Slope(tagPOINTF fixed, double a, double b) {
    const ShapeGuard guard(this);
    if (!geom::AllFinite(a, b) || !geom::Finite(fixed) ||
        !shape_container::MembersTakeMap(m_arrChildren, AffineMap::Slope(a, b, fixed)) ||
        !shape_container::MembersTakeSlant(m_arrChildren, fixed, a, b))
        return kRefused;
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Slope(fixed, a, b);
        }
    }
    GeometryChanged();
    return 0;
}

int CCombineShape::Mirror(tagPOINTF fixed, int mode) {
    const ShapeGuard guard(this);
    if (!geom::Finite(fixed) || !shape_container::MembersTakeMap(m_arrChildren, AffineMap::Mirror(mode, fixed)))
        return kRefused;
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->Mirror(fixed, mode);
        }
    }
    GeometryChanged();
    return 0;
}

int CCombineShape::SortPath() {
    const ShapeGuard guard(this);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SortPath();
        }
    }
    GeometryChanged();
    return 0;
}

int CCombineShape::SetSelectFlag(int flag, bool redraw) {
    CBaseShape::SetSelectFlag(flag, redraw);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetSelectFlag(flag, false);
        }
    }
    return 0;
}

int CCombineShape::IsInRect(Gdiplus::RectF& rect) {
    bool any = false;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        if (child->IsInRect(rect) == 0) {
            return 0;
        }
        any = true;
    }
    return any ? 1 : 0;
}

int CCombineShape::IsMe(tagPOINTF point) {
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr && child->IsMeNew(point) != 0) {
            m_pEditShape = child;
            return 1;
        }
    }
    m_pEditShape = nullptr;
    return 0;
}

int CCombineShape::IsInClientRectF() {
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr && child->IsInClientRectF() == 1) {
            return 1;
        }
    }
    return 0;
}

int CCombineShape::IsSelectedForRect(Gdiplus::RectF& rect) {
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr && child->IsSelectedForRect(rect) == 1) {
            return 1;
        }
    }
    return 0;
}

int CCombineShape::GetRectangle(Gdiplus::RectF& rect) {
    rect = MembersRect(m_arrChildren);
    return 0;
}

Gdiplus::RectF CCombineShape::GetShapeRect() {
    const Gdiplus::RectF rect = MembersRect(m_arrChildren);
    SetShapeRect(rect);
    SetRectValid(true);
    return rect;
}

// ---- flattening and mark data ------------------------------------------------------------

int CCombineShape::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float tolerance) {
    std::vector<tagPOINTF> part;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        part.clear();
        child->GetFlattenPathPoints(part, tolerance);
        points.insert(points.end(), part.begin(), part.end());
    }
    return 0;
}

int CCombineShape::GetFlattenPathFirstPoint(tagPOINTF& point) {
    if (m_arrChildren.empty() || m_arrChildren.front() == nullptr) {
        return -1;
    }
    return m_arrChildren.front()->GetFlattenPathFirstPoint(point);
}

bool CCombineShape::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    if (BeginMarkData(out)) {
        return true;
    }
    MarkDataLock lock(this, &out);
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) {
            continue;
        }
        tagMarkDataPar part;
        part.bFlag = m_markCache.bFlag;
        child->GetMarkData(part, nullptr);
        AppendMarkData(m_markCache, part);
    }
    if (IsReverseOrder()) {
        std::reverse(m_markCache.arrPaths.begin(), m_markCache.arrPaths.end());
        std::reverse(m_markCache.arrPaths2.begin(), m_markCache.arrPaths2.end());
    }
    // The caller gets the whole record, its rectangle included.
    return lock.LeaveWithRect(true);
}

void CCombineShape::SetDocView(CBaseDoc* doc, CBaseView* view) {
    CBaseShape::SetDocView(doc, view);
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->SetDocView(doc, view);
        }
    }
}

void CCombineShape::SaveShapeChild(CBaseShape* parent, std::list<CBaseShape*>& out) {
    shape_container::SaveMembers(this, m_arrChildren, out);
    CBaseShape::SaveShapeChild(parent, out);
}

void CCombineShape::ClearMarkBuff() {
    // Parent before child: the lock order of every container.
    const ShapeGuard guard(this);
    m_markCache.Clear();
    for (CBaseShape* child : m_arrChildren) {
        if (child != nullptr) {
            child->ClearMarkBuff();
        }
    }
}
