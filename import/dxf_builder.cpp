#include "import/dxf_builder.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "compose/group.h"
#include "core/bezier.h"
#include "core/points.h"
#include "core/polyline.h"
#include "halder/lang.h"
#include "shapes/circle.h"
#include "shapes/ellipsearc.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Bulges smaller than this are straight segments.
constexpr double kMinBulge = 0.001;

// What one kind thread runs.
struct KindJob {
    CDrawDxfEntity* self = nullptr;
    int kind = 0;
};

// What one chunk thread runs: records first to last - 1 of a shared list.
template <class Rec>
struct ChunkJob {
    CDrawDxfEntity* self = nullptr;
    std::vector<Rec>* list = nullptr;
    int first = 0;
    int last = 0;
    int slot = 0;
    void (CDrawDxfEntity::*middle)(std::vector<Rec>&, int, int, int) = nullptr;

    static DWORD Proc(void* param) {
        auto* job = static_cast<ChunkJob*>(param);
        (job->self->*job->middle)(*job->list, job->first, job->last, job->slot);
        return 0;
    }
};

// Kind indices in the order the kind threads are started.
enum Kind { kMText, kLine, kArc, kSpline, kPoint, kEllipse, kText, kPolyline, kCircle, kSolid };

}  // namespace

CDrawDxfEntity::CDrawDxfEntity() {
    // The document and view would come from the host's active document; the
    // frame of this platform carries none, so new shapes get none either.
    m_pDoc = nullptr;
    m_pView = nullptr;
}

CDrawDxfEntity::~CDrawDxfEntity() {
    if (m_bFinished) {
        m_bFinished = false;
    } else {
        auto wait = [](HANDLE& h) {
            if (h == nullptr) return;
            DWORD code = 0;
            if (GetExitCodeThread(h, &code) && code == STILL_ACTIVE) WaitForSingleObject(h, INFINITE);
        };
        for (HANDLE& h : m_kindThreads) wait(h);
        wait(m_otherThread);
        for (HANDLE& h : m_chunkThreads) wait(h);
    }
    for (HANDLE& h : m_kindThreads) {
        if (h) CloseHandle(h);
        h = nullptr;
    }
    for (HANDLE& h : m_chunkThreads) {
        if (h) CloseHandle(h);
        h = nullptr;
    }
    // Shapes never handed to a group (an import cut short) would otherwise
    // be lost with the maps.
    for (auto& slot : m_slots) {
        for (auto& [layer, shapes] : slot) {
            for (CBaseShape* s : shapes) delete s;
        }
        slot.clear();
    }
    for (auto& loose : m_looseShapes) {
        for (CBaseShape* s : loose) delete s;
        loose.clear();
    }
}

void CDrawDxfEntity::ChunkRange(int count, int k, int& first, int& last) {
    const int chunk = count / kChunks;
    const int rest = count % kChunks;
    first = k * chunk;
    last = (k + 1) * chunk + (k == kChunks - 1 ? rest : 0);
}

tagPOINTF CDrawDxfEntity::ToMm(const Gdiplus::PointF& p) const {
    tagPOINTF r;
    r.x = static_cast<float>(ToMm(static_cast<double>(p.X)));
    r.y = static_cast<float>(ToMm(static_cast<double>(p.Y)));
    return r;
}

void CDrawDxfEntity::JoinThreads(HANDLE* threads, int count) {
    std::vector<HANDLE> live;
    for (int i = 0; i < count; ++i) {
        if (threads[i]) live.push_back(threads[i]);
    }
    if (!live.empty()) WaitForMultipleObjects(static_cast<DWORD>(live.size()), live.data(), TRUE, INFINITE);
    for (int i = 0; i < count; ++i) {
        if (threads[i]) CloseHandle(threads[i]);
        threads[i] = nullptr;
    }
}

// ---- the import ---------------------------------------------------------------------------

void CDrawDxfEntity::InitPara(char* path, CGroupShape* target, bool inch, bool limitMText) {
    if (path == nullptr || target == nullptr) return;
    m_bInch = inch;
    m_bRead = m_parser.ParserDxf(path) != 0;
    m_pTarget = target;

    if (!m_parser.IsLargeMode()) {
        ViewLine();
        ViewArc();
        ViewCircle();
        ViewSpline();
        ViewEllipse();
        ViewPt();
        ViewPolyLine();
        ViewMText(limitMText);
        ViewText();
        ViewSolid();
        GenerateGroupShapes();
        return;
    }

    m_bThreaded = true;
    KindJob jobs[kKindCount];
    for (int k = 0; k < kKindCount; ++k) {
        jobs[k].self = this;
        jobs[k].kind = k;
        m_kindThreads[k] = CreateThread(nullptr, 0, &CDrawDxfEntity::KindThreadProc, &jobs[k], CREATE_SUSPENDED,
                                        nullptr);
        // A kind whose thread could not be made is built here instead, so
        // that no records are silently dropped.
        if (m_kindThreads[k] == nullptr) KindThreadProc(&jobs[k]);
    }
    for (HANDLE h : m_kindThreads) {
        if (h) ResumeThread(h);
    }
    JoinThreads(m_kindThreads, kKindCount);
    GenerateGroupShapes();
    m_bFinished = true;
    m_bThreaded = false;
}

DWORD CDrawDxfEntity::KindThreadProc(void* param) {
    auto* job = static_cast<KindJob*>(param);
    CDrawDxfEntity* self = job->self;
    switch (job->kind) {
        case kMText: self->ViewMText(false); break;
        case kLine: self->ViewLine(); break;
        case kArc: self->ViewArc(); break;
        case kSpline: self->ViewSpline(); break;
        case kPoint: self->ViewPt(); break;
        case kEllipse: self->ViewEllipse(); break;
        case kText: self->ViewText(); break;
        case kPolyline: self->ViewPolyLine(); break;
        case kCircle: self->ViewCircle(); break;
        case kSolid: self->ViewSolid(); break;
        default: break;
    }
    return 0;
}

template <class Rec>
void CDrawDxfEntity::BuildList(std::vector<Rec>& list, int base, MiddleFn<Rec> middle) {
    const int count = static_cast<int>(list.size());
    if (!m_bThreaded) {
        (this->*middle)(list, 0, count, 0);
        return;
    }
    if (count > kChunkThreshold && Prepare(list, count, base, middle)) return;
    (this->*middle)(list, 0, count, base);
}

template <class Rec>
bool CDrawDxfEntity::Prepare(std::vector<Rec>& list, int count, int base, MiddleFn<Rec> middle) {
    if (count <= kChunkThreshold) return false;
    ChunkJob<Rec> jobs[kChunks];
    HANDLE* threads = &m_chunkThreads[base];
    for (int k = 0; k < kChunks; ++k) {
        ChunkJob<Rec>& job = jobs[k];
        job.self = this;
        job.list = &list;
        job.slot = base + k;
        job.middle = middle;
        ChunkRange(count, k, job.first, job.last);
        threads[k] = CreateThread(nullptr, 0, &ChunkJob<Rec>::Proc, &job, CREATE_SUSPENDED, nullptr);
        if (threads[k] == nullptr) ChunkJob<Rec>::Proc(&job);
    }
    for (int k = 0; k < kChunks; ++k) {
        if (threads[k]) ResumeThread(threads[k]);
    }
    JoinThreads(threads, kChunks);
    return true;
}

bool CDrawDxfEntity::ViewLinePrepare(std::vector<tagLine>& list, int count) {
    return Prepare(list, count, kSlotLine, &CDrawDxfEntity::ViewLineMiddle);
}
bool CDrawDxfEntity::ViewPolyLinePrepare(std::vector<tagPolyline>& list, int count) {
    return Prepare(list, count, kSlotPolyline, &CDrawDxfEntity::ViewPolyLineMiddle);
}
bool CDrawDxfEntity::ViewArcPrepare(std::vector<tagArc>& list, int count) {
    return Prepare(list, count, kSlotArc, &CDrawDxfEntity::ViewArcMidle);
}
bool CDrawDxfEntity::ViewCirclePrepare(std::vector<tagArc>& list, int count) {
    return Prepare(list, count, kSlotCircle, &CDrawDxfEntity::ViewCircleMidle);
}
bool CDrawDxfEntity::ViewSplinePrepare(std::vector<tagLine>& list, int count) {
    return Prepare(list, count, kSlotSpline, &CDrawDxfEntity::ViewSplineMidle);
}
bool CDrawDxfEntity::ViewEllipsePrepare(std::vector<tagEllipse>& list, int count) {
    return Prepare(list, count, kSlotEllipse, &CDrawDxfEntity::ViewEllipseMidle);
}
bool CDrawDxfEntity::ViewPtPrepare(std::vector<tagDxfPt>& list, int count) {
    return Prepare(list, count, kSlotPoint, &CDrawDxfEntity::ViewPtMidle);
}
bool CDrawDxfEntity::ViewSolidPrepare(std::vector<tagSolid>& list, int count) {
    return Prepare(list, count, kSlotSolid, &CDrawDxfEntity::ViewSolidMidle);
}

// ---- view operations ----------------------------------------------------------------------

void CDrawDxfEntity::ViewLine() {
    std::vector<tagLine> list;
    m_parser.GetVecLine(list);
    BuildList(list, kSlotLine, &CDrawDxfEntity::ViewLineMiddle);
}

void CDrawDxfEntity::ViewArc() {
    std::vector<tagArc> list;
    m_parser.GetVecArc(list);
    BuildList(list, kSlotArc, &CDrawDxfEntity::ViewArcMidle);
}

void CDrawDxfEntity::ViewCircle() {
    std::vector<tagArc> list;
    m_parser.GetVecCircle(list);
    BuildList(list, kSlotCircle, &CDrawDxfEntity::ViewCircleMidle);
}

void CDrawDxfEntity::ViewSpline() {
    std::vector<tagLine> list;
    m_parser.GetVecSpline2(list);
    BuildList(list, kSlotSpline, &CDrawDxfEntity::ViewSplineMidle);
}

void CDrawDxfEntity::ViewEllipse() {
    std::vector<tagEllipse> list;
    m_parser.GetVecEllipse(list);
    BuildList(list, kSlotEllipse, &CDrawDxfEntity::ViewEllipseMidle);
}

void CDrawDxfEntity::ViewPt() {
    std::vector<tagDxfPt> list;
    m_parser.GetVecPoint(list);
    BuildList(list, kSlotPoint, &CDrawDxfEntity::ViewPtMidle);
}

void CDrawDxfEntity::ViewPolyLine() {
    std::vector<tagPolyline> list;
    m_parser.GetVecPolyline(list);
    BuildList(list, kSlotPolyline, &CDrawDxfEntity::ViewPolyLineMiddle);
}

// Texts need the text shape, which this library does not provide yet: their
// records are read but produce no shapes.
void CDrawDxfEntity::ViewMText(bool /*limit*/) {}
void CDrawDxfEntity::ViewText() {}

void CDrawDxfEntity::ViewSolid() {
    std::vector<tagSolid> list;
    m_parser.GetVecSolid(list);
    BuildList(list, kSlotSolid, &CDrawDxfEntity::ViewSolidMidle);
}

// ---- building -----------------------------------------------------------------------------

void CDrawDxfEntity::ApplyPlacement(const tagBlock& record, CBaseShape* shape) const {
    const tagZoomRotate& z = record.zoomRotate;
    const tagPOINTF base = ToMm(z.ptBase);
    // Most records are not inside a block: a neutral placement is skipped.
    if (z.dPreRotateAngle != 0.0) shape->Rotate(z.dPreRotateAngle, base);
    if (z.dScaleX != 1.0 || z.dScaleY != 1.0) shape->Zoom(base, z.dScaleX, z.dScaleY);
    if (z.dRotateAngle != 0.0) shape->Rotate(z.dRotateAngle, base);
}

CBaseShape* CDrawDxfEntity::MakePolyLine(const std::vector<Gdiplus::PointF>& points) {
    auto* line = new CPolyLine();
    line->SetDocView(m_pDoc, m_pView);
    line->arrPoint.reserve(points.size());
    for (const auto& p : points) line->arrPoint.push_back(ToMm(p));
    line->InvalidateGeometry();
    return line;
}

void CDrawDxfEntity::ViewLineMiddle(std::vector<tagLine>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagLine& rec = list[i];
        // A record without points would give an invisible, unselectable shape.
        if (rec.arrPoint.empty()) continue;
        CBaseShape* shape = MakePolyLine(rec.arrPoint);
        ApplyPlacement(rec, shape);
        PushBackGroupShapes(rec, shape, slot);
    }
}

void CDrawDxfEntity::ViewSplineMidle(std::vector<tagLine>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagLine& rec = list[i];
        if (rec.arrPoint.empty()) continue;
        CBaseShape* shape = MakePolyLine(rec.arrPoint);
        ApplyPlacement(rec, shape);
        PushBackGroupShapes(rec, shape, slot);
    }
}

void CDrawDxfEntity::ViewSolidMidle(std::vector<tagSolid>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagSolid& rec = list[i];
        if (rec.arrPoint.empty()) continue;
        CBaseShape* shape = MakePolyLine(rec.arrPoint);
        ApplyPlacement(rec, shape);
        PushBackGroupShapes(rec, shape, slot);
    }
}

void CDrawDxfEntity::ViewPolyLineMiddle(std::vector<tagPolyline>& list, int first, int last, int slot) {
    // One arc shape serves every bulged segment: setting it from a segment
    // replaces all it holds, and a shape is costly to make.
    CCircle arc;
    for (int i = first; i < last; ++i) {
        tagPolyline& rec = list[i];
        std::vector<tagPolyPoint> vertices = rec.arrVertex;
        if (rec.bClosed && !vertices.empty()) vertices.push_back(vertices.front());
        if (vertices.size() < 2) continue;

        auto* curve = new CBezierCurve();
        curve->SetDocView(m_pDoc, m_pView);
        curve->arrSegment.clear();
        for (size_t v = 0; v + 1 < vertices.size(); ++v) {
            const tagPolyPoint& a = vertices[v];
            const tagPolyPoint& b = vertices[v + 1];
            const tagPOINTF from = ToMm(Gdiplus::PointF(a.x, a.y));
            const tagPOINTF to = ToMm(Gdiplus::PointF(b.x, b.y));
            const double bulge = a.dBulge;
            bool added = false;
            // An arc needs two distinct ends; a bulge on a segment of no
            // length describes no circle and is drawn as the (empty) chord.
            if (std::fabs(bulge) >= kMinBulge && std::isfinite(bulge) && (from.x != to.x || from.y != to.y)) {
                ExecuteLwPolyLine(from, to, bulge, &arc);
                std::unique_ptr<CBaseShape> converted(arc.ToBezier());
                auto* arcCurve = dynamic_cast<CBezierCurve*>(converted.get());
                if (arcCurve != nullptr && !arcCurve->arrSegment.empty()) {
                    curve->arrSegment.insert(curve->arrSegment.end(), arcCurve->arrSegment.begin(),
                                             arcCurve->arrSegment.end());
                    added = true;
                }
            }
            if (!added) {
                // Straight segment: the control points sit on the ends.
                BEZIER_4POINTF_DRAW seg;
                seg.p1 = from;
                seg.p2 = from;
                seg.p3 = to;
                seg.p4 = to;
                seg.LineType = 1;
                curve->arrSegment.push_back(seg);
            }
        }
        curve->InvalidateGeometry();
        ApplyPlacement(rec, curve);
        PushBackGroupShapes(rec, curve, slot);
    }
}

void CDrawDxfEntity::ViewArcMidle(std::vector<tagArc>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagArc& rec = list[i];
        auto* circle = new CCircle();
        circle->SetDocView(m_pDoc, m_pView);
        circle->startDeg = rec.dStartAngle;
        circle->endDeg = std::fabs(rec.dEndAngle);
        circle->SetArcPath(rec.bCounterClockwise);
        const tagPOINTF c = ToMm(rec.ptCenter);
        circle->InitCircle(c.x, c.y, 0.0f, static_cast<float>(ToMm(rec.dRadius)));
        ApplyPlacement(rec, circle);
        PushBackGroupShapes(rec, circle, slot);
    }
}

void CDrawDxfEntity::ViewCircleMidle(std::vector<tagArc>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagArc& rec = list[i];
        auto* circle = new CCircle();
        circle->SetDocView(m_pDoc, m_pView);
        const tagPOINTF c = ToMm(rec.ptCenter);
        circle->InitCircle(c.x, c.y, 0.0f, static_cast<float>(ToMm(rec.dRadius)));
        ApplyPlacement(rec, circle);
        PushBackGroupShapes(rec, circle, slot);
    }
}

void CDrawDxfEntity::ViewEllipseMidle(std::vector<tagEllipse>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagEllipse rec = list[i];
        if (m_bInch) {
            const tagPOINTF c = ToMm(rec.ptCenter);
            const tagPOINTF e = ToMm(rec.ptMajorEnd);
            rec.ptCenter = Gdiplus::PointF(c.x, c.y);
            rec.ptMajorEnd = Gdiplus::PointF(e.x, e.y);
        }
        auto* ellipse = new CEllipseArc();
        ellipse->SetDocView(m_pDoc, m_pView);
        if (ellipse->ProcessDxf(rec) == 0) {
            delete ellipse;
            continue;
        }
        ApplyPlacement(rec, ellipse);
        PushBackGroupShapes(rec, ellipse, slot);
    }
}

void CDrawDxfEntity::ViewPtMidle(std::vector<tagDxfPt>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagDxfPt& rec = list[i];
        auto* point = new CPoints();
        point->SetDocView(m_pDoc, m_pView);
        point->InitPoint(ToMm(rec.ptPos));
        ApplyPlacement(rec, point);
        PushBackGroupShapes(rec, point, slot);
    }
}

void CDrawDxfEntity::ExecuteLwPolyLine(tagPOINTF from, tagPOINTF to, double bulge, CCircle* arc) {
    if (arc == nullptr) return;
    const double x1 = from.x, y1 = from.y, x2 = to.x, y2 = to.y;
    const double theta = 4.0 * std::atan(std::fabs(bulge));
    const double chord = std::hypot(x2 - x1, y2 - y1);
    const double radius = std::fabs(0.5 * chord / std::sin(0.5 * theta));

    double cx = 0.0, cy = 0.0;
    if (std::fabs(bulge - 1.0) >= kMinBulge) {
        const double k = 1.0 / (2.0 * bulge / (1.0 - bulge * bulge));
        cx = ((x1 + x2) - (y2 - y1) * k) * 0.5;
        cy = ((x2 - x1) * k + y1 + y2) * 0.5;
    } else {
        cx = (x1 + x2) * 0.5;
        cy = (y1 + y2) * 0.5;
    }

    auto angleOf = [&](double x, double y) {
        // A zero radius has no direction: the angle is taken as 0.
        double ratio = radius > 0.0 ? (x - cx) / radius : 1.0;
        if (!std::isfinite(ratio)) ratio = 1.0;
        double a = std::acos(std::clamp(ratio, -1.0, 1.0));
        if (y - cy < 0) a = 2.0 * kPi - a;
        return a * 180.0 / kPi;
    };
    arc->startDeg = angleOf(x1, y1);
    arc->endDeg = angleOf(x2, y2);
    arc->SetArcPath(bulge > 0 ? 1 : 0);
    arc->SetDocView(m_pDoc, m_pView);
    arc->InitCircle(static_cast<float>(cx), static_cast<float>(cy), 0.0f, static_cast<float>(radius));
}

// ---- filing and grouping ------------------------------------------------------------------

void CDrawDxfEntity::PushBackGroupShapes(tagBlock& record, CBaseShape* shape, int slot) {
    if (shape == nullptr) return;
    if (slot < 0 || slot >= kSlotCount) slot = 0;
    // Shapes without a layer wait in their slot as well (no lock: each slot
    // has one writer), so that they reach the target in the same order
    // however many threads built them.
    if (record.strLayer.empty())
        m_looseShapes[slot].push_back(shape);
    else
        m_slots[slot][record.strLayer].push_back(shape);
}

void CDrawDxfEntity::GenerateGroupShapes() {
    if (m_pTarget == nullptr) return;
    // The slots in the order in which one thread builds the kinds, each
    // kind's chunks in record order: threads or none, the same file gives
    // the same shapes in the same order.
    static const int kKindOrder[] = {kSlotLine,     kSlotArc,   kSlotCircle, kSlotSpline, kSlotEllipse,
                                     kSlotPoint,    kSlotPolyline, kSlotMText, kSlotText,  kSlotSolid};
    std::map<std::wstring, std::vector<CBaseShape*>> merged;
    auto& children = m_pTarget->GetChildren();
    for (const int base : kKindOrder) {
        for (int slot = base; slot < base + kChunks; ++slot) {
            for (auto& [layer, shapes] : m_slots[slot]) {
                auto& into = merged[layer];
                into.insert(into.end(), shapes.begin(), shapes.end());
            }
            m_slots[slot].clear();
            children.insert(children.end(), m_looseShapes[slot].begin(), m_looseShapes[slot].end());
            m_looseShapes[slot].clear();
        }
    }

    const bool single = merged.size() == 1;
    const CString prefix = CLang::Instance()->GetString("IDS_TYPENAME_GROUP");
    int n = 0;
    for (auto& [layer, shapes] : merged) {
        CGroupShape* group = single ? m_pTarget : new CGroupShape();
        if (!single) group->SetDocView(m_pDoc, m_pView);
        group->SetCaption(prefix + CString(layer.c_str()));
        auto& members = group->GetChildren();
        members.insert(members.end(), shapes.begin(), shapes.end());
        group->SetPen(static_cast<unsigned char>(n));
        if (layer == L"0") group->SetPen(0);
        if (!single) m_pTarget->GetChildren().push_back(group);
        group->InvalidateGeometry();
        ++n;
    }
    m_pTarget->InvalidateGeometry();
    m_pTarget->SetCaption(m_parser.GetFileName());
}

void CDrawDxfEntity::CStringsplit(CString text, CString separator, std::map<int, CString>& parts, bool clear) {
    if (clear) parts.clear();
    int index = 0;
    if (separator.IsEmpty()) {
        // An empty separator occurs nowhere: the text is one part.
        parts[index] = text;
        return;
    }
    int start = 0;
    for (;;) {
        const int at = text.Find(separator.GetString(), start);
        if (at < 0) break;
        parts[index++] = text.Mid(start, at - start);
        start = at + separator.GetLength();
    }
    parts[index] = text.Mid(start);
}
