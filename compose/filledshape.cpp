#include "morvik/compose/filledshape.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cwchar>
#include <memory>
#include <utility>

#include "morvik/compose/combine.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/core/runlog.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/gdiplus/pen.h"
#include "morvik/halder/basedoc.h"
#include "morvik/text/fonts.h"

IMPLEMENT_SERIAL(CFilledShape, CGroupShape, 5)

namespace {

std::atomic<int> g_hatchTurn{0};

constexpr float kOutlineFlatten = 0.25f;

bool IsEdge(CBaseShape* shape) { return shape != nullptr && shape->GetCaption().CompareNoCase(L"edge") == 0; }

bool IsProduct(CBaseShape* shape) { return shape != nullptr && IsFillProductCaption(shape->GetCaption()); }

// Deletes a shape together with its members.
void Destroy(CBaseShape* shape) {
    if (shape == nullptr) return;
    shape->FreeShapePtr();
    delete shape;
}

// Drops points that repeat their predecessor (within 1e-6) and points that
// are not numbers.
std::vector<tagPOINTF> Tidy(const std::vector<tagPOINTF>& pts) {
    std::vector<tagPOINTF> out;
    out.reserve(pts.size());
    for (const tagPOINTF& p : pts) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        if (!out.empty() && std::fabs(out.back().x - p.x) < 1e-6f && std::fabs(out.back().y - p.y) < 1e-6f) continue;
        out.push_back(p);
    }
    return out;
}

std::vector<tagPOINTF> ClosedOutline(CBaseShape* shape, float tolerance) {
    std::vector<tagPOINTF> pts;
    shape->GetFlattenPathPoints(pts, tolerance);
    if (!pts.empty()) pts.push_back(pts.front());
    return Tidy(pts);
}

double Round4(double v) { return std::round(v * 10000.0) / 10000.0; }

// The figures of a path as polylines; a closed figure repeats its first
// point at the end.
std::vector<std::vector<tagPOINTF>> PathPolylines(const Gdiplus::GraphicsPath& path, bool round) {
    std::vector<std::vector<tagPOINTF>> out;
    const auto& pts = path.PathPoints();
    const auto& types = path.PathTypes();
    const size_t n = std::min(pts.size(), types.size());
    auto closeLast = [&out] {
        if (!out.empty() && out.back().size() > 1) out.back().push_back(out.back().front());
    };
    for (size_t i = 0; i < n; ++i) {
        double x = pts[i].X;
        double y = pts[i].Y;
        if (round) {
            x = Round4(x);
            y = Round4(y);
        }
        const tagPOINTF p{static_cast<float>(x), static_cast<float>(y)};
        if ((types[i] & 0x07) == 0 || out.empty()) out.emplace_back();
        out.back().push_back(p);
        if ((types[i] & 0x80) != 0) closeLast();
    }
    return out;
}

void PutLE(std::vector<uint8_t>& out, const void* data, size_t size) {
    // The machines this runs on are little-endian, as the record image is.
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

template <class T>
void Put(std::vector<uint8_t>& out, T v) {
    PutLE(out, &v, sizeof v);
}

// The 176-byte image of a hatch set that the XML export writes.
std::vector<uint8_t> SetImage(const SHAPE_FILLER_PARAM& s) {
    std::vector<uint8_t> b;
    b.reserve(176);
    b.resize(12, 0);
    Put<int32_t>(b, s.nFillType);
    Put<int32_t>(b, s.nExecuteType);
    Put<int32_t>(b, s.nIndex);
    Put<int32_t>(b, s.bEnable);
    Put<int32_t>(b, s.bRoundInvert);
    Put<double>(b, s.fLineSpacing);
    Put<double>(b, s.fMargin);
    Put<int32_t>(b, s.m_fill_rotate);
    Put<int32_t>(b, 0);
    Put<double>(b, s.m_fRotateAngle);
    Put<double>(b, s.m_fMaxSpacing);
    Put<float>(b, s.m_nWidth);
    Put<int32_t>(b, 0);
    Put<double>(b, s.m_fRateSpacing);
    Put<float>(b, s.m_fstrFillGraduallyActualRange);
    Put<uint8_t>(b, s.m_bEnableFillGradually ? 1 : 0);
    b.resize(b.size() + 3, 0);
    Put<int32_t>(b, s.bWholeConsider);
    Put<int32_t>(b, s.bAlongBorder);
    Put<int32_t>(b, s.bCrossFill);
    Put<int32_t>(b, s.bQuickFill);
    Put<double>(b, s.fAngle);
    Put<uint32_t>(b, s.nFillMarkCount);
    Put<int32_t>(b, s.nPenNum);
    Put<int32_t>(b, s.cPenColor);
    Put<uint32_t>(b, s.nCircularCount);
    Put<double>(b, s.fCircularGap);
    Put<double>(b, s.fInnerSpacing);
    Put<int32_t>(b, s.bArrangeEqually);
    Put<int32_t>(b, 0);
    Put<double>(b, s.fStartPreserve);
    Put<double>(b, s.fEndPreserve);
    return b;
}

// Line sets that do not consider the whole fill combine nothing: a fill
// clears their combination.
void Normalise(SHAPE_FILLER_PARAM& set) {
    if (set.bEnable != 0 && set.nFillType != 0 && set.bWholeConsider == 0) set.nExecuteType = 0;
}

// Whether a fill with a makes the hatch a fill with b made.
bool SameFill(FILLED_PARS a, FILLED_PARS b) {
    if (a.bOutLine != b.bOutLine || a.bOutLineFirst != b.bOutLineFirst || a.bKeepSeperate != b.bKeepSeperate ||
        a.bDelUngroup != b.bDelUngroup)
        return false;
    for (int s = 0; s < FILLED_PARS::kSetCount; ++s) {
        Normalise(a.fillParams[s]);
        Normalise(b.fillParams[s]);
        if (SetImage(a.fillParams[s]) != SetImage(b.fillParams[s])) return false;
    }
    return true;
}

// Outlines that are the same within what float arithmetic leaves of a
// transform and its inverse, far below what a laser marks.
bool SameOutline(const std::vector<tagPOINTF>& a, const std::vector<tagPOINTF>& b) {
    constexpr float kTolerance = 1e-3f;
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(std::fabs(a[i].x - b[i].x) <= kTolerance && std::fabs(a[i].y - b[i].y) <= kTolerance)) return false;
    return true;
}

// How many replaced hatches a fill shape keeps.
constexpr size_t kKeptHatches = 16;

}  // namespace

// ---- construction ------------------------------------------------------------------

CFilledShape::CFilledShape() : CGroupShape(NamedByDerived{}) {
    InitShape(SHAPE_FILLED, "IDS_TYPENAME_FILLED", ShapeCounterOf(SHAPE_FILLED));
}

CFilledShape::~CFilledShape() {
    // Worker threads never outlive the fill that started them; the created
    // shapes are ours.
    DestroyCreated();
    FreeKeptHatches();
}

void CFilledShape::DestroyCreated() {
    std::vector<CBaseShape*> doomed;
    doomed.swap(m_created);
    shape_container::FreeMembers(doomed);
}

int CFilledShape::GetHatchTurnFlag() { return g_hatchTurn.load(); }
void CFilledShape::SetHatchTurnFlag(int flag) { g_hatchTurn.store(flag); }

Gdiplus::GraphicsPath* CFilledShape::GetFillPathOf(int index) {
    if (index < 0 || index >= kSetCount) return nullptr;
    return &m_paths[index];
}

// ---- parameters ---------------------------------------------------------------------

void CFilledShape::SetParam(FILLED_PARS par) {
    const ShapeGuard guard(this);
    KeepHatch();
    m_par = par;
    DropFill(false);
}

void CFilledShape::FillShape(const FILLED_PARS& par) {
    const ShapeGuard guard(this);
    KeepHatch();
    m_par = par;
    Refill(0);
}

FILLED_PARS CFilledShape::GetFillParam() { return m_par; }

// ---- filling ------------------------------------------------------------------------

void CFilledShape::GetBasicShapeList(std::vector<CBaseShape*>& shapes, std::vector<CBaseShape*>& created) {
    GetBasicShapeList2(shapes, created);
}

int CFilledShape::GetSourceIndex(CBaseShape* shape) {
    // Only read here, also from the block threads: the listing that wrote
    // the map has ended before any fill starts.
    const auto it = mapShapeIndex.find(shape);
    return it == mapShapeIndex.end() ? 0 : it->second;
}

int CFilledShape::DeleteFill(bool all) {
    const ShapeGuard guard(this);
    return DropFill(all);
}

int CFilledShape::DropFill(bool all) {
    if (all) FreeKeptHatches();
    for (Gdiplus::GraphicsPath& path : m_paths) path.Reset();
    std::vector<CBaseShape*> doomed;
    for (size_t i = m_arrChildren.size(); i-- > 0;) {
        CBaseShape* child = m_arrChildren[i];
        if (all || child == nullptr || IsProduct(child)) {
            if (child != nullptr) doomed.push_back(child);
            m_arrChildren.erase(m_arrChildren.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    shape_container::FreeMembers(doomed);
    GeometryChanged();
    return 1;
}

void CFilledShape::FreeShapeList(int) {
    const ShapeGuard guard(this);
    // New shapes to fill: no hatch kept for the old ones is theirs.
    FreeKeptHatches();
    shape_container::FreeMembers(m_arrChildren);
    GeometryChanged();
}

void CFilledShape::FreeMembersBeforeDelete() {
    FreeKeptHatches();
    shape_container::FreeMembers(m_arrChildren);
}

void CFilledShape::DoFill(int whole) {
    const ShapeGuard guard(this);
    Refill(whole);
}

void CFilledShape::Refill(int whole) {
    if (RestoreKeptHatch(whole)) return;
    std::vector<CBaseShape*> created;
    FillSets(whole, created);
    m_hatchWhole = whole;
    DestroyCreated();
    m_created = std::move(created);
}

void CFilledShape::DoFillNew(std::vector<CBaseShape*>& created, int whole) {
    const ShapeGuard guard(this);
    FillSets(whole, created);
}

void CFilledShape::FillSets(int whole, std::vector<CBaseShape*>& created) {
    // A refill starts from nothing: filling twice never doubles the hatch
    // or the border children.
    DropFill(false);
    int lines = 0;
    for (int s = 0; s < kSetCount; ++s) {
        SHAPE_FILLER_PARAM& set = m_par.fillParams[s];
        if (set.bEnable == 0) continue;
        if (set.nFillType == 0) {
            DoFillCircular(set);
            continue;
        }
        ++lines;
        std::vector<CBaseShape*> shapes;
        std::vector<CBaseShape*> made;
        GetBasicShapeList2(shapes, made);
        created.insert(created.end(), made.begin(), made.end());
        shapes.erase(std::remove_if(shapes.begin(), shapes.end(), [](CBaseShape* sh) { return sh == nullptr || IsProduct(sh); }),
                     shapes.end());
        Normalise(set);
        if (set.bWholeConsider != 0 || whole != 0 || m_par.bKeepSeperate != 0) {
            DoFillLiner(set, shapes);
            continue;
        }
        // One fill per run of shapes that came from the same child.
        size_t from = 0;
        while (from < shapes.size()) {
            const int source = GetSourceIndex(shapes[from]);
            size_t to = from + 1;
            while (to < shapes.size() && GetSourceIndex(shapes[to]) == source) ++to;
            std::vector<CBaseShape*> run(shapes.begin() + static_cast<std::ptrdiff_t>(from),
                                         shapes.begin() + static_cast<std::ptrdiff_t>(to));
            DoFillLiner(set, run);
            from = to;
        }
    }
    int points = 0;
    for (const Gdiplus::GraphicsPath& path : m_paths) points += path.GetPointCount();
    RunLog::Instance(nullptr)->WriteFormat(L"CFilledShape DoFill children:%d line sets:%d hatch points:%d",
                                           static_cast<int>(m_arrChildren.size()), lines, points);
    CFillRunner::SetSlowFillAsk(1);
    InvalidateGeometry();
    // The view repaints once the fill is whole and free: a host that draws
    // at once finds its event given back.
    if (m_bNoRedraw == 0) RepaintViewWhenReleased();
}

std::vector<tagPOINTF> CFilledShape::FilledOutline() {
    std::vector<tagPOINTF> pts;
    for (CBaseShape* child : m_arrChildren)
        if (child != nullptr && !IsProduct(child)) child->GetFlattenPathPoints(pts, kOutlineFlatten);
    return pts;
}

void CFilledShape::KeepHatch() {
    if (m_bNoRedraw != 0) return;
    bool any = false;
    for (const Gdiplus::GraphicsPath& path : m_paths) any = any || path.GetPointCount() > 0;
    for (CBaseShape* child : m_arrChildren) any = any || IsProduct(child);
    if (!any) return;
    auto kept = std::make_unique<KeptHatch>();
    kept->outline = FilledOutline();
    kept->par = m_par;
    kept->whole = m_hatchWhole;
    for (int s = 0; s < kSetCount; ++s) {
        kept->paths[s] = std::move(m_paths[s]);
        m_paths[s].Reset();
    }
    std::vector<CBaseShape*> rest;
    for (CBaseShape* child : m_arrChildren) (IsProduct(child) ? kept->products : rest).push_back(child);
    m_arrChildren = std::move(rest);
    m_keptHatches.push_back(std::move(kept));
    if (m_keptHatches.size() > kKeptHatches) {
        shape_container::FreeMembers(m_keptHatches.front()->products);
        m_keptHatches.erase(m_keptHatches.begin());
    }
    GeometryChanged();
}

bool CFilledShape::RestoreKeptHatch(int whole) {
    if (m_bNoRedraw != 0 || m_keptHatches.empty()) return false;
    const std::vector<tagPOINTF> outline = FilledOutline();
    auto match = m_keptHatches.rbegin();
    for (; match != m_keptHatches.rend(); ++match)
        if ((*match)->whole == whole && SameFill((*match)->par, m_par) && SameOutline((*match)->outline, outline))
            break;
    if (match == m_keptHatches.rend()) return false;
    std::unique_ptr<KeptHatch> kept = std::move(*match);
    m_keptHatches.erase(std::next(match).base());
    DropFill(false);
    for (int s = 0; s < kSetCount; ++s) m_paths[s] = std::move(kept->paths[s]);
    m_arrChildren.insert(m_arrChildren.end(), kept->products.begin(), kept->products.end());
    for (SHAPE_FILLER_PARAM& set : m_par.fillParams) Normalise(set);
    m_hatchWhole = whole;
    CFillRunner::SetSlowFillAsk(1);
    InvalidateGeometry();
    RepaintViewWhenReleased();
    return true;
}

void CFilledShape::FreeKeptHatches() {
    for (auto& kept : m_keptHatches) shape_container::FreeMembers(kept->products);
    m_keptHatches.clear();
}

CGroupShape* CFilledShape::GetEdge() {
    std::unique_ptr<CGroupShape, void (*)(CBaseShape*)> group(nullptr, Destroy);
    auto add = [&group, this](CBaseShape* shape) {
        CBaseShape* copy = shape->Clone();
        if (copy == nullptr) return;
        copy->SetCaption(shape->GetCaption());
        if (!group) {
            group.reset(new CGroupShape());
            group->SetDocView(m_pDoc, m_pView);
        }
        group->GetChildren().push_back(copy);
    };
    for (CBaseShape* child : m_arrChildren) {
        if (!IsEdge(child)) continue;
        if (child->GetShapeKind() == SHAPE_GROUP) {
            for (CBaseShape* member : child->GetChildren())
                if (member != nullptr) add(member);
        } else {
            add(child);
        }
    }
    if (group) {
        Gdiplus::RectF r;
        group->GetRectangle(r);
    }
    return group.release();
}

void CFilledShape::PathToShape(CGroupShape* target) {
    CGroupShape* into = target != nullptr ? target : this;
    for (int s = 0; s < kSetCount; ++s) {
        const unsigned char pen = static_cast<unsigned char>(std::clamp(m_par.fillParams[s].nPenNum, 0, 255));
        for (std::vector<tagPOINTF>& line : PathPolylines(m_paths[s], false)) {
            if (line.size() < 2) continue;
            auto* poly = new CPolyLine();
            poly->arrPoint = std::move(line);
            poly->SetPen(pen);
            poly->SetCaption(L"filler");
            poly->SetDocView(into->GetShapeDoc(), into->GetShapeView());
            Gdiplus::RectF r;
            poly->GetRectangle(r);
            into->GetChildren().push_back(poly);
        }
    }
    into->InvalidateGeometry();
}

bool CFilledShape::GetVarFontsNext(CFonts* text) {
    if (text == nullptr || text->parVarText.bEnable == 0) return false;
    Sleep(20);
    // Taking the text's mark data moves its variable text on and lays the
    // next piece out; the hatch follows the new outlines.
    tagMarkDataPar data;
    const bool ok = text->GetMarkData(data, nullptr);
    DropFill(false);
    Refill(0);
    return ok;
}

std::vector<CFonts*> CFilledShape::VariableTexts() {
    std::vector<CFonts*> texts;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr || IsEdge(child) || child->GetShapeKind() != SHAPE_FONTS) continue;
        auto* text = dynamic_cast<CFonts*>(child);
        if (text != nullptr && text->parVarText.bEnable != 0) texts.push_back(text);
    }
    return texts;
}

// ---- transforms ---------------------------------------------------------------------

template <class F>
void CFilledShape::TransformHatch(F f) {
    for (Gdiplus::GraphicsPath& path : m_paths) {
        const int n = path.GetPointCount();
        if (n == 0) continue;
        std::vector<Gdiplus::PointF> pts(path.PathPoints());
        const std::vector<BYTE> types(path.PathTypes());
        for (Gdiplus::PointF& p : pts) {
            const tagPOINTF q = f(tagPOINTF{p.X, p.Y});
            p = Gdiplus::PointF(q.x, q.y);
        }
        path = Gdiplus::GraphicsPath(pts.data(), types.data(), n, path.GetFillMode());
    }
}

bool CFilledShape::TakesMap(const AffineMap& map) {
    if (!CGroupShape::TakesMap(map)) return false;
    for (const Gdiplus::GraphicsPath& path : m_paths) {
        for (const Gdiplus::PointF& p : path.PathPoints()) {
            const double x = map.xx * p.X + map.xy * p.Y + map.dx;
            const double y = map.yx * p.X + map.yy * p.Y + map.dy;
            if (!geom::FitsFloat(x) || !geom::FitsFloat(y)) return false;
        }
    }
    return true;
}

int CFilledShape::Move(float dx, float dy) {
    // A transform that the outlines or the hatch would not survive changes
    // neither.
    if (!TakesMap(AffineMap::Move(dx, dy))) return kRefused;
    // The group's move has cleared the mark cache already.
    const ShapeGuard guard(this);
    CGroupShape::MoveHeld(dx, dy);
    TransformHatch([dx, dy](tagPOINTF p) { return tagPOINTF{p.x + dx, p.y + dy}; });
    return 0;
}

int CFilledShape::Rotate(double angle, tagPOINTF centre) {
    if (!std::isfinite(angle) || !geom::Finite(centre) || !TakesMap(AffineMap::Rotate(angle, centre))) return kRefused;
    const ShapeGuard guard(this);
    CGroupShape::RotateHeld(angle, centre);
    TransformHatch([&](tagPOINTF p) { return PointfRotate(p, centre, angle); });
    ClearMarkBuffHeld();
    return 0;
}

int CFilledShape::Slope(tagPOINTF fixed, double a, double b) {
    if (!geom::AllFinite(a, b) || !geom::Finite(fixed) || !TakesMap(AffineMap::Slope(a, b, fixed))) return kRefused;
    const ShapeGuard guard(this);
    if (CGroupShape::SlopeHeld(fixed, a, b) == kRefused) return kRefused;
    TransformHatch([&](tagPOINTF p) { return PointfSlope(p, a, b, fixed); });
    ClearMarkBuffHeld();
    return 0;
}

int CFilledShape::Mirror(tagPOINTF fixed, int mode) {
    if (!geom::Finite(fixed) || !TakesMap(AffineMap::Mirror(mode, fixed))) return kRefused;
    const ShapeGuard guard(this);
    CGroupShape::MirrorHeld(fixed, mode);
    if (mode >= 1 && mode <= 3) TransformHatch([&](tagPOINTF p) { return PointfMirror(p, fixed, mode); });
    ClearMarkBuffHeld();
    return 0;
}

int CFilledShape::Zoom(tagPOINTF fixed, double sx, double sy) {
    if (!geom::AllFinite(sx, sy) || !geom::Finite(fixed) || !TakesMap(AffineMap::Zoom(sx, sy, fixed))) return kRefused;
    // The hatch from before stays at hand for the zoom that takes this one
    // back.
    const ShapeGuard guard(this);
    KeepHatch();
    CGroupShape::ZoomHeld(fixed, sx, sy);
    // The spacing is in drawing units: a zoomed hatch is a new hatch.
    DropFill(false);
    Refill(m_bNoRedraw);
    ClearMarkBuffHeld();
    return 0;
}

int CFilledShape::SetPen(unsigned char pen) {
    const ShapeGuard guard(this);
    SetPenHeld(pen);
    const COLORREF colour = GetPenColor(-1);
    for (SHAPE_FILLER_PARAM& set : m_par.fillParams) set.cPenColor = static_cast<int32_t>(colour);
    ClearMarkBuffHeld();
    return 0;
}

void CFilledShape::SetHatchPen(unsigned char pen, COLORREF colour) {
    for (SHAPE_FILLER_PARAM& set : m_par.fillParams) {
        set.nPenNum = pen;
        set.cPenColor = static_cast<int32_t>(colour);
    }
    ClearMarkBuff();
}

// ---- copies and conversions ---------------------------------------------------------

CBaseShape* CFilledShape::Clone() {
    auto* copy = new CFilledShape();
    copy->m_par = m_par;
    for (int s = 0; s < kSetCount; ++s) copy->m_paths[s].AddPath(&m_paths[s], TRUE);
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) continue;
        if (CBaseShape* piece = child->Clone()) {
            piece->SetCaption(child->GetCaption());
            copy->m_arrChildren.push_back(piece);
        }
    }
    copy->SetVisible(IsVisible());
    copy->m_nPenIndex = m_nPenIndex;
    copy->m_bNoRedraw = m_bNoRedraw;
    copy->SetDocView(m_pDoc, m_pView);
    Gdiplus::RectF r;
    copy->GetRectangle(r);
    copy->KeepMarkingOf(*this);
    return copy;
}

CBaseShape* CFilledShape::ToBezier() {
    auto* combine = new CCombineShape();
    combine->SetCaption(GetCaption());
    combine->SetDocView(m_pDoc, m_pView);
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) continue;
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        const bool convert = kind == SHAPE_RECTANGLE || kind == SHAPE_POLYGON || kind == SHAPE_CIRCLE ||
                             kind == SHAPE_ELLIPSEARC || kind == SHAPE_FONTS || kind == SHAPE_GROUP ||
                             kind == SHAPE_COMBINE;
        if (CBaseShape* piece = shape_container::ConvertOrClone(child, convert, true)) {
            piece->SetDocView(m_pDoc, m_pView);
            combine->GetChildren().push_back(piece);
        }
    }
    Gdiplus::RectF r;
    combine->GetRectangle(r);
    combine->KeepMarkingOf(*this);
    return combine;
}

// ---- geometry queries ---------------------------------------------------------------

int CFilledShape::IsInClientRectF() {
    if (m_pView == nullptr) return 1;
    Gdiplus::RectF mine;
    GetRectangle(mine);
    Gdiplus::RectF client;
    m_pView->GetClientRectF(client);
    return RectsIntersect(mine, client) ? 1 : 0;
}

bool CFilledShape::GetOutLinePath(std::vector<tagPathData>& paths) {
    for (CBaseShape* child : m_arrChildren)
        if (child != nullptr && !IsProduct(child)) child->GetOutLinePath(paths);
    return true;
}

int CFilledShape::GetFlattenPathPoints(std::vector<tagPOINTF>& points, float) {
    std::vector<tagPOINTF> part;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr || child->GetShapeKind() == SHAPE_FILLED) continue;
        part.clear();
        child->GetFlattenPathPoints(part, kOutlineFlatten);
        points.insert(points.end(), part.begin(), part.end());
    }
    return 0;
}

int CFilledShape::GetSnapPoint(std::vector<tagPOINTF>& points) {
    for (CBaseShape* child : m_arrChildren)
        if (child != nullptr) child->GetSnapPoint(points);
    return 0;
}

// ---- drawing ------------------------------------------------------------------------

void CFilledShape::DrawHatch(Gdiplus::Graphics& g, const std::vector<Gdiplus::PointF>* device, int set) {
    const SHAPE_FILLER_PARAM& par = m_par.fillParams[set];
    Gdiplus::GraphicsPath& path = m_paths[set];
    if (par.bEnable == 0 || path.GetPointCount() == 0) return;
    Gdiplus::Pen pen(Gdiplus::Color::FromCOLORREF(static_cast<COLORREF>(par.cPenColor)), 0.0f);
    if (device == nullptr) {
        g.DrawPath(&pen, &path);
        return;
    }
    const Gdiplus::GraphicsPath onScreen(device->data(), path.PathTypes().data(), path.GetPointCount());
    g.DrawPath(&pen, &onScreen);
}

int CFilledShape::DrawToGraphics(Gdiplus::Graphics* g, std::vector<tagPenPar>& pens, DWORD, int arrow, float dx,
                                 float dy) {
    const ShapeGuard guard(this);
    if (g == nullptr) return 0;
    const bool outline = (m_par.bOutLine & 1) != 0;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr) continue;
        const CString& cap = child->GetCaption();
        if (cap.CompareNoCase(L"filler") == 0 || cap.CompareNoCase(L"font_fill_shape") == 0) continue;
        if (!outline && !IsEdge(child)) continue;
        child->DrawToGraphics(g, pens, child->GetPenColor(-1), arrow, dx, dy);
    }
    for (int s = 0; s < kSetCount; ++s) {
        if (dx == 0.0f && dy == 0.0f) {
            DrawHatch(*g, nullptr, s);
            continue;
        }
        std::vector<Gdiplus::PointF> moved(m_paths[s].PathPoints());
        for (Gdiplus::PointF& p : moved) {
            p.X += dx;
            p.Y += dy;
        }
        DrawHatch(*g, &moved, s);
    }
    return 0;
}

int CFilledShape::Draw(CDC* dc, int a, int b, int c, int) {
    if (dc == nullptr) return 0;
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintSingleBitPerPixel);
    return Draw(dc, &g, 0, a, b, c, 0, 0.0f, 0.0f);
}

int CFilledShape::Draw(CDC* dc, Gdiplus::Graphics* g, DWORD, int a, int b, int c, int, float dx, float dy) {
    const ShapeGuard guard(this);
    const bool outline = (m_par.bOutLine & 1) != 0;
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr || child->IsInClientRectF() == 0) continue;
        const CString& cap = child->GetCaption();
        if (cap.CompareNoCase(L"filler") == 0 || cap.CompareNoCase(L"font_fill_shape") == 0) continue;
        if (!outline && !IsEdge(child)) continue;
        child->Draw(dc, g, child->GetPenColor(-1), a, b, c, 0, dx, dy);
    }
    if (m_pView == nullptr || (g == nullptr && dc == nullptr)) return 0;
    std::unique_ptr<Gdiplus::Graphics> own;
    if (g == nullptr) {
        own = std::make_unique<Gdiplus::Graphics>(dc);
        g = own.get();
    }
    const float zoom = m_pView->GetZoom();
    for (int s = 0; s < kSetCount; ++s) {
        const auto& pts = m_paths[s].PathPoints();
        std::vector<Gdiplus::PointF> device(pts.size());
        for (size_t i = 0; i < pts.size(); ++i) {
            m_pView->LP2DP(zoom, tagPOINTF{pts[i].X, pts[i].Y}, device[i], b);
            device[i].X += dx;
            device[i].Y += dy;
        }
        DrawHatch(*g, &device, s);
    }
    return 0;
}

// ---- mark data ----------------------------------------------------------------------

bool CFilledShape::TurnsPerMark(const SHAPE_FILLER_PARAM& set) const {
    return set.bEnable != 0 && set.m_fill_rotate != 0 && std::fabs(set.m_fRotateAngle) > 1e-6;
}

void CFilledShape::AddOutlines(std::vector<tagPathData>& out) {
    tagPathData data;
    data.nPenIndex = m_nPenIndex;
    data.nReserved = 1;
    auto add = [&data](CBaseShape* shape, float tolerance) {
        // A text's outline is many figures: joined into one polyline the
        // laser would burn the lines from letter to letter. Each figure
        // goes on its own, closed where the glyph closes it.
        if (auto* text = dynamic_cast<CFonts*>(shape)) {
            std::vector<std::vector<tagPOINTF>> figures;
            text->GetOutLinePath(figures);
            for (const std::vector<tagPOINTF>& figure : figures) {
                std::vector<tagPOINTF> pts = Tidy(figure);
                if (!pts.empty()) data.arrPolylines.push_back(std::move(pts));
            }
            return;
        }
        std::vector<tagPOINTF> pts = ClosedOutline(shape, tolerance);
        if (!pts.empty()) data.arrPolylines.push_back(std::move(pts));
    };
    for (CBaseShape* child : m_arrChildren) {
        if (child == nullptr || IsProduct(child)) continue;
        const CAD_SHAPE_TYPE kind = child->GetShapeKind();
        if (kind == SHAPE_GROUP || kind == SHAPE_FILLED || kind == SHAPE_COMBINE) {
            // Member by member: one polyline across members would join
            // separate outlines with a marked line.
            for (CBaseShape* member : child->GetChildren()) {
                if (member == nullptr || IsEdge(member)) continue;
                if (kind != SHAPE_COMBINE && member->GetShapeKind() == SHAPE_GROUP) continue;
                add(member, kOutlineFlatten);
            }
        } else {
            add(child, kOutlineFlatten);
        }
    }
    if (!data.arrPolylines.empty()) out.push_back(std::move(data));
}

void CFilledShape::GetFillPath(std::vector<tagPathData>& out) {
    for (int s = 0; s < kSetCount; ++s) {
        const SHAPE_FILLER_PARAM& set = m_par.fillParams[s];
        if (set.bEnable == 0 || m_paths[s].GetPointCount() == 0) continue;
        const Gdiplus::Status status = m_paths[s].GetLastStatus();
        if (status != Gdiplus::Ok) {
            RunLog::Instance(nullptr)->WriteFormat(L"获取填充数据失败 code=%d", static_cast<int>(status));
            continue;
        }
        tagPathData data;
        data.nPenIndex = std::clamp(set.nPenNum, 0, 255);
        data.nReserved = static_cast<int32_t>(set.nFillMarkCount);
        for (std::vector<tagPOINTF>& line : PathPolylines(m_paths[s], true))
            if (!line.empty()) data.arrPolylines.push_back(std::move(line));
        out.push_back(std::move(data));
    }
    for (CBaseShape* child : m_arrChildren) {
        if (!IsEdge(child)) continue;
        std::vector<tagPOINTF> pts;
        child->GetFlattenPathPoints(pts, kOutlineFlatten);
        pts = Tidy(pts);
        if (pts.empty()) continue;
        tagPathData data;
        data.nPenIndex = child->GetPenIndex();
        data.nReserved = 1;
        data.arrPolylines.push_back(std::move(pts));
        out.push_back(std::move(data));
    }
}

bool CFilledShape::GetMarkData(tagMarkDataPar& out, tagMarkCtlData*) {
    // The sets are read under the event: an editor may be refilling.
    auto turns = [this] {
        bool any = false;
        for (const SHAPE_FILLER_PARAM& set : m_par.fillParams) any = any || TurnsPerMark(set);
        return any;
    };
    LockShape();
    if (turns()) SetGetDataForce(true);
    UnlockShape();
    if (BeginMarkData(out)) return true;
    MarkDataLock lock(this, &out);
    const bool turning = turns();

    if (turning && m_bNoRedraw == 0) {
        if (g_hatchTurn.load() == 1) {
            for (SHAPE_FILLER_PARAM& set : m_par.fillParams)
                if (TurnsPerMark(set)) set.fAngle = std::fmod(set.fAngle + set.m_fRotateAngle, 360.0);
            FillSets(0, m_created);
        } else {
            // The first mark keeps the stored angle.
            g_hatchTurn.store(1);
        }
    }
    m_markCache.nReserved2 = m_par.bOutLineFirst;
    if ((m_par.bOutLine & 1) != 0) AddOutlines(m_markCache.arrPaths);
    GetFillPath(m_markCache.arrPaths2);
    if (IsReverseOrder()) {
        std::reverse(m_markCache.arrPaths.begin(), m_markCache.arrPaths.end());
        std::reverse(m_markCache.arrPaths2.begin(), m_markCache.arrPaths2.end());
    }
    // A turned refill during this call must not count as a change of the
    // cache it built.
    SetGetDataForce(false);
    const std::vector<CFonts*> texts = VariableTexts();
    for (CFonts* text : texts) GetVarFontsNext(text);
    // The next request fills the next piece of text.
    if (!texts.empty()) SetGetDataForce(true);
    return lock.LeaveWithRect(true);
}

void CFilledShape::CleanupAfterMark(int from, int to, tagMarkCtlData ctl) {
    if (to - from <= 0) return;
    for (CFonts* text : VariableTexts()) {
        text->CleanupAfterMark(from, to, ctl);
        const ShapeGuard guard(this);
        DropFill(false);
        Refill(0);
    }
}

// ---- exports ------------------------------------------------------------------------

int CFilledShape::ExportXmlToBuff(tagXmlBuff& buff) {
    buff.WriteToFile(L"<Filled>");
    for (CBaseShape* child : m_arrChildren)
        if (child != nullptr && !IsEdge(child)) child->ExportXmlToBuff(buff);
    CString line;
    const std::wstring name = XmlEscape(std::wstring(GetCaption().GetString()));
    // Every value quoted; the caption is escaped for double quotes.
    line.Format(L"<PARAMS NAME=\"%s\" KEEPSEPERATE=\"%d\" OUTLINE=\"%d\" OUTLINEFIRST=\"%d\">", name.c_str(),
                m_par.bKeepSeperate, static_cast<int>(m_par.bOutLine), m_par.bOutLineFirst);
    buff.WriteToFile(line);
    // Three sets, as readers of this form expect.
    for (int s = 0; s < 3; ++s) {
        std::wstring text = L"<PAR" + std::to_wstring(s) + L" data='";
        for (uint8_t byte : SetImage(m_par.fillParams[s])) {
            wchar_t cell[8];
            std::swprintf(cell, 8, L"%02d ", static_cast<int>(byte));
            text += cell;
        }
        text += L"'></PAR" + std::to_wstring(s) + L">";
        buff.WriteToFile(text.c_str());
    }
    buff.WriteToFile(L"</PARAMS>");
    buff.WriteToFile(L"</Filled>");
    return 0;
}

int CFilledShape::ExportGCodeToBuff(GCodeContext& ctx) {
    // What the mark data marks: the outlines only when they are switched on
    // (a machine would burn a border the user turned off), the border rings
    // always.
    const bool outline = (m_par.bOutLine & 1) != 0;
    for (CBaseShape* child : m_arrChildren)
        if (child != nullptr && (outline || IsEdge(child))) child->ExportGCodeToBuff(ctx);
    std::unique_ptr<CGroupShape, void (*)(CBaseShape*)> hatch(new CGroupShape(), Destroy);
    PathToShape(hatch.get());
    for (CBaseShape* line : hatch->GetChildren()) line->ExportGCodeToBuff(ctx);
    // The temporary group takes no running number away from real groups.
    ShapeCounterOf(SHAPE_GROUP).GiveBack();
    return 0;
}

// ---- persistence --------------------------------------------------------------------

void CFilledShape::AddAllProp(bool extended) {
    // The group's own keys are not part of a fill shape's record.
    CBaseShape::AddAllProp(extended);
    AddProp("m_iEdgCount", m_edgeCount, static_cast<int>(sizeof m_edgeCount));
    AddProp("fArrFillAngle", m_fillAngle, static_cast<int>(sizeof m_fillAngle));
    AddProp("fArrFillAngle_Append", &m_fillAngleAppend);
    AddProp("iArrPtIndex", m_ptIndex, static_cast<int>(sizeof m_ptIndex));
    AddProp("iArrPtIndex_Append", &m_ptIndexAppend);
    AddProp("shape_filler_param", &m_propSets);
    AddProp("fillpar_bDelUngroup", &m_par.bDelUngroup);
    AddProp("fillpar_bKeepSeperate", &m_par.bKeepSeperate);
    AddProp("fillpar_bOutLine", &m_par.bOutLine);
    AddProp("fillpar_bOutLineFirst", &m_par.bOutLineFirst);
    AddProp("filledPathDataPointf", &m_propPoints);
    AddProp("filledPathDataType", &m_propTypes);
    AddProp("filledPathDataType", &m_propSetTypes);
    AddProp("filledPathDataCount", &m_propCounts);
}

void CFilledShape::UpdatePropsValue() {
    CGroupShape::UpdatePropsValue();
    m_propSets.clear();
    m_propPoints.clear();
    m_propTypes.clear();
    m_propSetTypes.clear();
    m_propCounts.clear();
    for (int s = 0; s < kSetCount; ++s) {
        m_propSets.push_back(m_par.fillParams[s]);
        const auto& pts = m_paths[s].PathPoints();
        const auto& types = m_paths[s].PathTypes();
        std::vector<tagPOINTF> points;
        points.reserve(pts.size());
        for (const Gdiplus::PointF& p : pts) points.push_back({p.X, p.Y});
        m_propPoints.push_back(std::move(points));
        m_propTypes.insert(m_propTypes.end(), types.begin(), types.end());
        m_propSetTypes.emplace_back(types.begin(), types.end());
        m_propCounts.emplace_back();
    }
}

void CFilledShape::RestoreAfterRead() {
    const ShapeGuard guard(this);
    if (m_propSets.size() == static_cast<size_t>(kSetCount)) {
        for (int s = 0; s < kSetCount; ++s) m_par.fillParams[s] = m_propSets[static_cast<size_t>(s)];
    }
    size_t flatAt = 0;
    for (int s = 0; s < kSetCount; ++s) {
        m_paths[s].Reset();
        if (static_cast<size_t>(s) >= m_propPoints.size()) continue;
        const std::vector<tagPOINTF>& pts = m_propPoints[static_cast<size_t>(s)];
        // The per-set types are the ones to use; a record without them takes
        // its types from the flat list, set after set.
        std::vector<uint8_t> types;
        if (static_cast<size_t>(s) < m_propSetTypes.size() && m_propSetTypes[static_cast<size_t>(s)].size() == pts.size()) {
            types = m_propSetTypes[static_cast<size_t>(s)];
        } else if (flatAt + pts.size() <= m_propTypes.size()) {
            types.assign(m_propTypes.begin() + static_cast<std::ptrdiff_t>(flatAt),
                         m_propTypes.begin() + static_cast<std::ptrdiff_t>(flatAt + pts.size()));
        }
        flatAt += pts.size();
        if (types.size() != pts.size()) continue;  // a damaged record restores no hatch
        const bool finite = std::all_of(pts.begin(), pts.end(),
                                        [](const tagPOINTF& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
        if (!finite) continue;
        std::vector<Gdiplus::PointF> points;
        points.reserve(pts.size());
        for (const tagPOINTF& p : pts) points.emplace_back(p.x, p.y);
        m_paths[s] = Gdiplus::GraphicsPath(points.data(), types.data(), static_cast<INT>(points.size()));
    }
    GeometryChanged();
}

void CFilledShape::Serialize(CArchive& ar) { FillSeri2(ar); }

void CFilledShape::FillSeri2(CArchive& ar) {
    if (ar.IsStoring()) {
        for (const Gdiplus::GraphicsPath& path : m_paths) {
            const auto& pts = path.PathPoints();
            const auto& types = path.PathTypes();
            const uint32_t n = static_cast<uint32_t>(pts.size());
            ar.Write(&n, sizeof n);
            for (uint32_t i = 0; i < n; ++i) {
                const float x = pts[i].X;
                const float y = pts[i].Y;
                const uint8_t t = types[i];
                ar.Write(&x, sizeof x);
                ar.Write(&y, sizeof y);
                ar.Write(&t, sizeof t);
            }
        }
        return;
    }
    for (Gdiplus::GraphicsPath& target : m_paths) {
        uint32_t n = 0;
        if (!ar.Read(&n, sizeof n)) return;
        // A count that the archive cannot hold is refused before anything
        // is allocated for it.
        if (n > ar.Remaining() / 9) {
            ar.Read(nullptr, ar.Remaining() + 1);
            return;
        }
        std::vector<Gdiplus::PointF> pts(n);
        std::vector<BYTE> types(n);
        for (uint32_t i = 0; i < n; ++i) {
            float x = 0;
            float y = 0;
            ar.Read(&x, sizeof x);
            ar.Read(&y, sizeof y);
            ar.Read(&types[i], 1);
            pts[i] = Gdiplus::PointF(x, y);
        }
        const Gdiplus::GraphicsPath loaded(pts.data(), types.data(), static_cast<INT>(n));
        target.AddPath(&loaded, TRUE);
    }
}
