#include "morvik/import/dxf_builder.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/geometry.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/gdi/dc.h"
#include "morvik/halder/lang.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/text/fonts.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Bulges smaller than this are straight segments.
constexpr double kMinBulge = 0.001;

// The single-line font of DXF texts.
const wchar_t kSingleLineFace[] = L"CADSLDXJ";
// Probes and TrueType texts are laid out at this height, the layout's em
// size, and then scaled: a later re-layout of the text then keeps its size.
constexpr double kProbeHeight = CFonts::kEmSize;
// CAD programs accept width factors and oblique angles in these ranges.
constexpr double kMinWidthFactor = 0.01;
constexpr double kMaxWidthFactor = 100.0;
constexpr double kMaxOblique = 85.0;

// The lowest y of a character's points; false for one without points.
bool Bottom(const FONTSCHAR* ch, double& y) {
    if (ch == nullptr || ch->points.empty()) return false;
    y = ch->points.front().y;
    for (const tagPOINTF& p : ch->points) y = std::min<double>(y, p.y);
    return true;
}

bool Inked(CFonts& text) {
    for (const FONTSCHAR* ch : text.GetChars())
        if (ch != nullptr && !ch->points.empty()) return true;
    return false;
}

double WidthFactor(float f) {
    return std::isfinite(f) && f > 0.0f ? std::clamp<double>(f, kMinWidthFactor, kMaxWidthFactor) : 1.0;
}

// Degrees in -180 to 180, within what CAD programs accept.
double Oblique(float degrees) {
    if (!std::isfinite(degrees)) return 0.0;
    double a = std::fmod(static_cast<double>(degrees), 360.0);
    if (a > 180.0) a -= 360.0;
    if (a < -180.0) a += 360.0;
    return std::clamp(a, -kMaxOblique, kMaxOblique);
}

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

// About how many curve segments a polyline's first spans give: one per
// straight span, and per bulged span one cubic for every quarter turn its
// arc sweeps (the bulge is the tangent of a quarter of the sweep). Only a
// hint for reserving room, so that a long polyline grows once.
size_t SegmentEstimate(const std::vector<tagPolyPoint>& vertices, size_t spans) {
    size_t count = 0;
    for (size_t v = 0; v < spans; ++v) {
        const double b = std::fabs(vertices[v].dBulge);
        count += b < kMinBulge || !std::isfinite(b) ? 1 : b <= 0.4142135623730951 ? 1 : b <= 1.0 ? 2
                 : b <= 2.414213562373095 ? 3 : 4;
    }
    return count;
}

// A record's own memory, given back once its shape is filed: the next
// shapes' small blocks then reuse it while it is still in the cache, and the
// import needs less new memory. The record itself stays in its list.
template <class Rec, class... Lists>
void ReleaseRecord(Rec& rec, Lists&... lists) {
    std::wstring().swap(rec.strLayer);
    std::wstring().swap(rec.strBlockName);
    (std::remove_reference_t<Lists>().swap(lists), ...);
}

// The circle of one bulged polyline segment from `from` to `to`: its centre,
// radius, the angles of both ends in degrees and its direction (1
// counter-clockwise).
struct BulgeArc {
    double cx = 0.0, cy = 0.0, radius = 0.0, startDeg = 0.0, endDeg = 0.0;
    int direction = 0;
};

BulgeArc BulgeArcOf(tagPOINTF from, tagPOINTF to, double bulge) {
    BulgeArc arc;
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
    arc.cx = cx;
    arc.cy = cy;
    arc.radius = radius;
    arc.startDeg = angleOf(x1, y1);
    arc.endDeg = angleOf(x2, y2);
    arc.direction = bulge > 0 ? 1 : 0;
    return arc;
}

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

    // The running numbers of every kind before the threads take theirs.
    std::vector<int> first(SHAPE_DOCPARAM + 1);
    for (int k = 0; k <= SHAPE_DOCPARAM; ++k) first[k] = ShapeCounterOf(static_cast<CAD_SHAPE_TYPE>(k)).Peek();
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
    RenumberInOrder(first);
    m_bFinished = true;
    m_bThreaded = false;
}

void CDrawDxfEntity::RenumberInOrder(const std::vector<int>& first) {
    // The threads took running numbers in whatever order they reached the
    // shared counters. The shapes that took theirs during the build get them
    // again, kind by kind in the order of the result, so that the same file
    // always gives the same numbers and captions; only numbers taken by the
    // build are handed out again.
    if (m_pTarget == nullptr) return;
    std::vector<int> next = first;
    std::vector<int> end(first.size());
    for (size_t k = 0; k < end.size(); ++k) end[k] = ShapeCounterOf(static_cast<CAD_SHAPE_TYPE>(k)).Peek();
    // The shapes in the order of the result, each group before its members.
    // Only groups are remembered against a second visit: the shapes of the
    // build belong to one group each, and a shape of the target from before
    // holds no number of the build. (Remembering every shape of a large
    // drawing cost more than the renumbering.)
    std::unordered_set<CBaseShape*> seenGroups;
    std::vector<CBaseShape*> pending(m_pTarget->GetChildren().rbegin(), m_pTarget->GetChildren().rend());
    while (!pending.empty()) {
        CBaseShape* shape = pending.back();
        pending.pop_back();
        if (shape == nullptr) continue;
        const std::vector<CBaseShape*>& members = shape->GetChildren();
        if (!members.empty()) {
            if (!seenGroups.insert(shape).second) continue;
            pending.insert(pending.end(), members.rbegin(), members.rend());
        }
        const int k = static_cast<int>(shape->GetShapeKind());
        if (k < 0 || k > SHAPE_DOCPARAM) continue;
        const int n = shape->GetCountNum();
        if (n >= first[k] && n < end[k] && next[k] < end[k]) shape->Renumber(next[k]++);
    }
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
bool CDrawDxfEntity::ViewTextPrepare(std::vector<tagText>& list, int count) {
    return Prepare(list, count, kSlotText, &CDrawDxfEntity::ViewTextMidle);
}
bool CDrawDxfEntity::ViewMTextPrepare(std::vector<tagMText>& list, int count) {
    return Prepare(list, count, kSlotMText, &CDrawDxfEntity::ViewMTextChunk);
}

// ---- view operations ----------------------------------------------------------------------

void CDrawDxfEntity::ViewLine() {
    std::vector<tagLine> list;
    m_parser.TakeVecLine(list);
    BuildList(list, kSlotLine, &CDrawDxfEntity::ViewLineMiddle);
}

void CDrawDxfEntity::ViewArc() {
    std::vector<tagArc> list;
    m_parser.TakeVecArc(list);
    BuildList(list, kSlotArc, &CDrawDxfEntity::ViewArcMidle);
}

void CDrawDxfEntity::ViewCircle() {
    std::vector<tagArc> list;
    m_parser.TakeVecCircle(list);
    BuildList(list, kSlotCircle, &CDrawDxfEntity::ViewCircleMidle);
}

void CDrawDxfEntity::ViewSpline() {
    std::vector<tagLine> list;
    m_parser.TakeVecSpline2(list);
    BuildList(list, kSlotSpline, &CDrawDxfEntity::ViewSplineMidle);
}

void CDrawDxfEntity::ViewEllipse() {
    std::vector<tagEllipse> list;
    m_parser.TakeVecEllipse(list);
    BuildList(list, kSlotEllipse, &CDrawDxfEntity::ViewEllipseMidle);
}

void CDrawDxfEntity::ViewPt() {
    std::vector<tagDxfPt> list;
    m_parser.TakeVecPoint(list);
    BuildList(list, kSlotPoint, &CDrawDxfEntity::ViewPtMidle);
}

void CDrawDxfEntity::ViewPolyLine() {
    std::vector<tagPolyline> list;
    m_parser.TakeVecPolyline(list);
    BuildList(list, kSlotPolyline, &CDrawDxfEntity::ViewPolyLineMiddle);
}

void CDrawDxfEntity::ViewMText(bool limit) {
    std::vector<tagMText> list;
    m_parser.TakeVecMText(list);
    // Read by the chunk threads, which start after this.
    m_bLimitMText = limit;
    BuildList(list, kSlotMText, &CDrawDxfEntity::ViewMTextChunk);
}

void CDrawDxfEntity::ViewText() {
    std::vector<tagText> list;
    m_parser.TakeVecText(list);
    BuildList(list, kSlotText, &CDrawDxfEntity::ViewTextMidle);
}

void CDrawDxfEntity::ViewSolid() {
    std::vector<tagSolid> list;
    m_parser.TakeVecSolid(list);
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
        ReleaseRecord(rec, rec.arrPoint);
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
    // The bulged segments' arcs are computed without arc shapes. Each run
    // used to make one working arc shape: its running number is still
    // taken, so that the captions of later circles stay as they were.
    ShapeCounterOf(SHAPE_CIRCLE).Take();
    for (int i = first; i < last; ++i) {
        tagPolyline& rec = list[i];
        // The vertices, and the first once more after the last when the
        // polyline is closed.
        const std::vector<tagPolyPoint>& vertices = rec.arrVertex;
        const size_t n = vertices.size();
        const size_t spans = rec.bClosed && n > 0 ? n : n - std::min<size_t>(n, 1);
        if (spans == 0) continue;

        auto* curve = new CBezierCurve();
        curve->SetDocView(m_pDoc, m_pView);
        curve->arrSegment.clear();
        curve->arrSegment.reserve(SegmentEstimate(vertices, spans));
        for (size_t v = 0; v < spans; ++v) {
            const tagPolyPoint& a = vertices[v];
            const tagPolyPoint& b = vertices[(v + 1) % n];
            const tagPOINTF from = ToMm(Gdiplus::PointF(a.x, a.y));
            const tagPOINTF to = ToMm(Gdiplus::PointF(b.x, b.y));
            const double bulge = a.dBulge;
            bool added = false;
            // An arc needs two distinct ends; a bulge on a segment of no
            // length describes no circle and is drawn as the (empty) chord.
            if (std::fabs(bulge) >= kMinBulge && std::isfinite(bulge) && (from.x != to.x || from.y != to.y)) {
                const BulgeArc a = BulgeArcOf(from, to, bulge);
                // The arc's own curve segments, without making the curve
                // shape its ToBezier would make; the curve's running number
                // is still taken, so the captions of later curves stay as
                // they were. An arc that cannot be built (absurd bulges)
                // leaves the chord.
                ShapeCounterOf(SHAPE_BEZIER).Take();
                const size_t before = curve->arrSegment.size();
                CCircle::AppendArcSegments(static_cast<float>(a.cx), static_cast<float>(a.cy),
                                           static_cast<float>(a.radius), a.startDeg, a.endDeg, a.direction,
                                           curve->arrSegment);
                added = curve->arrSegment.size() > before;
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
        ReleaseRecord(rec, rec.arrVertex);
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
        ReleaseRecord(rec);
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

// ---- texts ---------------------------------------------------------------------------------

std::unique_ptr<CFonts> CDrawDxfEntity::NewText(const CString& text, const CString& face, bool singleLine, double h,
                                                double widthFactor, tagPOINTF pt, int align, bool vertical) const {
    auto shape = std::make_unique<CFonts>();
    shape->SetDocView(m_pDoc, m_pView);
    shape->nFontType = singleLine ? 1 : 0;
    shape->parFonts.dHeight = singleLine ? h : kProbeHeight;
    // A single-line font takes its width factor as a percentage of the
    // height; a TrueType face keeps its own proportions at 45.8.
    shape->parFonts.dWidthRatio = singleLine ? 100.0 * widthFactor : CFonts::kNaturalWidth;
    shape->parFonts.fSpacing = 0.0f;
    shape->parFonts.nAlign = align;
    shape->parFonts.bVertical = vertical ? 1 : 0;
    shape->InitFontsPath(pt, text, face, true);
    shape->InitRefPoint();
    return shape;
}

CDrawDxfEntity::FaceInfo CDrawDxfEntity::FaceMetrics(const CString& face, int type, wchar_t c) {
    std::lock_guard<std::mutex> lock(m_faceLock);
    // A probe is no shape of the drawing: it gives its running number back
    // (on one thread only, where no other text can have taken the next).
    auto probe = [&](const CString& text, bool single) {
        auto shape = NewText(text, face, single, kProbeHeight, 1.0, tagPOINTF{0.0f, 0.0f}, 0, false);
        if (!m_bThreaded) ShapeCounterOf(SHAPE_FONTS).GiveBack();
        return shape;
    };
    auto found = m_faces.find({std::wstring(face.GetString()), type});
    if (found == m_faces.end()) {
        TextFace entry;
        auto h = probe(L"H", type == 1);
        entry.singleLine = h->GetFontType() == FONT_TYPE_SHX;
        Gdiplus::RectF r;
        h->GetRectangle(r);
        entry.capHeight = Inked(*h) && std::isfinite(r.Height) ? r.Height : 0.0;
        found = m_faces.emplace(std::make_pair(std::wstring(face.GetString()), type), entry).first;
    }
    TextFace& entry = found->second;
    FaceInfo info{entry.singleLine, entry.capHeight, 0.0};
    if (c == 0) return info;
    auto known = entry.drop.find(c);
    if (known == entry.drop.end()) {
        // "H" stands on the baseline; the character follows on the same line.
        CString pair(L"H");
        pair += c;
        auto shape = probe(pair, entry.singleLine);
        const auto& chars = shape->GetChars();
        double h = 0.0, other = 0.0;
        const double value =
            chars.size() == 2 && Bottom(chars[0], h) && Bottom(chars[1], other) ? other - h : 0.0;
        known = entry.drop.emplace(c, value).first;
    }
    info.drop = known->second;
    return info;
}

CFonts* CDrawDxfEntity::MakeText(const tagText& rec) {
    const double h = ToMm(static_cast<double>(rec.fHeight));
    if (rec.strText.empty() || !(h > 0.0) || !std::isfinite(h)) return nullptr;
    const CString face(kSingleLineFace);
    const FaceInfo metrics = FaceMetrics(face, 1, 0);
    const bool singleLine = metrics.singleLine;
    const double widthFactor = WidthFactor(rec.fWidthFactor);
    const tagPOINTF first = ToMm(rec.ptFirst);
    const tagPOINTF second = ToMm(rec.ptSecond);
    // The text keeps its horizontal justification as its alignment; where
    // it goes is settled below from its measured outline.
    const int align = rec.nHorzJust == 1 || rec.nHorzJust == 4 ? 1 : rec.nHorzJust == 2 ? 2 : 0;
    std::unique_ptr<CFonts> text =
        NewText(CString(rec.strText.c_str()), face, singleLine, h, widthFactor, first, align, false);
    // Blanks alone leave nothing to mark.
    if (!Inked(*text)) return nullptr;

    // The start of the baseline, found from the first inked character.
    Gdiplus::RectF r;
    text->GetRectangle(r);
    double baseline = r.Y - r.Height;
    for (const FONTSCHAR* ch : text->GetChars()) {
        double bottom = 0.0;
        if (Bottom(ch, bottom) && !ch->text.IsEmpty()) {
            const double drop = FaceMetrics(face, 1, ch->text[0]).drop;
            baseline = bottom - drop * (singleLine ? h / kProbeHeight : 1.0);
            break;
        }
    }
    const tagPOINTF start{r.X, static_cast<float>(baseline)};
    // A TrueType text is scaled so that its capitals stand h high, as those
    // of the single-line font do.
    if (!singleLine) {
        const double s = h / (metrics.capHeight > 0.0 ? metrics.capHeight : r.Height);
        text->Zoom(start, s * widthFactor, s);
    }
    const double oblique = Oblique(rec.fOblique);
    if (oblique != 0.0) {
        // The oblique angle leans the tops right; a text's own slant leans
        // them left. Kept as the slant, so that a new layout slants it again.
        text->parFonts.dSlantAngle = -oblique;
        text->DoSlope(start, -oblique * kPi / 180.0, 0.0);
    }

    // Which point of the text goes where: the start of the baseline to the
    // first alignment point, or the justified point to the second.
    text->GetRectangle(r);
    const int horz = rec.nHorzJust;
    const int vert = rec.nVertJust;
    double rotation = rec.fRotate;
    tagPOINTF anchor = first;
    tagPOINTF at = start;
    const bool spans = (horz == 3 || horz == 5) && vert == 0;
    if (spans && (first.x != second.x || first.y != second.y)) {
        // Aligned (3) and fit (5): the baseline runs from the first point to
        // the second; aligned keeps the proportions, fit only the height.
        double dx = static_cast<double>(second.x) - first.x;
        const double dy = static_cast<double>(second.y) - first.y;
        if (rec.bMirrored) dx = -dx;
        const double length = std::hypot(dx, dy);
        const double width = static_cast<double>(r.X) + r.Width - start.x;
        if (width > 0.0 && std::isfinite(length)) {
            const double f = length / width;
            text->Zoom(start, f, horz == 3 ? f : 1.0);
        }
        rotation = std::atan2(dy, dx) * 180.0 / kPi;
    } else if (!spans && (horz != 0 || vert != 0)) {
        anchor = second;
        if (horz == 1 || horz == 4)
            at.x = r.X + r.Width / 2;
        else if (horz == 2)
            at.x = r.X + r.Width;
        if (horz == 4 && vert == 0)
            at.y = r.Y - r.Height / 2;
        else if (vert == 1)
            at.y = std::min<float>(r.Y - r.Height, start.y);
        else if (vert == 2)
            at.y = static_cast<float>(baseline + h / 2);
        else if (vert == 3)
            at.y = static_cast<float>(baseline + h);
    }
    text->Move(anchor.x - at.x, anchor.y - at.y);
    // Backward and upside-down texts, in the text's own frame.
    if ((rec.nGenFlags & 2) != 0) text->Mirror(anchor, 1);
    if ((rec.nGenFlags & 4) != 0) text->Mirror(anchor, 2);
    if (rotation != 0.0 && std::isfinite(rotation)) text->Rotate(rotation, anchor);
    // Drawn from below: the anchor is already where the drawing shows it;
    // the glyphs turn over about it.
    if (rec.bMirrored) text->Mirror(anchor, 1);
    text->GetRectangle(r);
    if (!geom::Finite(r)) return nullptr;
    return text.release();
}

CFonts* CDrawDxfEntity::MakeMText(const tagMText& rec, bool limit) {
    const double h = ToMm(static_cast<double>(rec.fHeight));
    if (rec.strText.empty() || !(h > 0.0) || !std::isfinite(h)) return nullptr;
    CString content(rec.strText.c_str());
    const CString face = rec.strFace.empty() ? CString(L"Arial") : CString(rec.strFace.c_str());
    if (limit) LimitTextWidth(content, ToMm(static_cast<double>(rec.fRefWidth)), h, face);
    const FaceInfo metrics = FaceMetrics(face, face == kSingleLineFace ? 1 : 0, 0);
    const bool singleLine = metrics.singleLine;

    // Attachment 1 to 9: top, middle, bottom rows of left, centre, right.
    const int attach = rec.nAttach >= 1 && rec.nAttach <= 9 ? rec.nAttach : 1;
    const int column = (attach - 1) % 3;
    const int row = (attach - 1) / 3;
    const bool vertical = rec.nDirection == 3;
    const tagPOINTF at = ToMm(rec.ptInsert);
    std::unique_ptr<CFonts> text = NewText(content, face, singleLine, h, 1.0, at, vertical ? row : column, vertical);
    if (!Inked(*text)) return nullptr;
    Gdiplus::RectF r;
    text->GetRectangle(r);
    if (!singleLine) {
        // Capitals h high, whatever the number of lines.
        const double s = h / (metrics.capHeight > 0.0 ? metrics.capHeight : r.Height);
        text->Zoom(at, s, s);
        text->GetRectangle(r);
    }
    const double px = r.X + r.Width * column / 2.0;
    const double py = r.Y - r.Height * row / 2.0;
    text->Move(static_cast<float>(at.x - px), static_cast<float>(at.y - py));
    if (rec.fRotate != 0.0f && std::isfinite(rec.fRotate)) text->Rotate(rec.fRotate, at);
    text->GetRectangle(r);
    if (!geom::Finite(r)) return nullptr;
    return text.release();
}

void CDrawDxfEntity::ViewTextMidle(std::vector<tagText>& list, int first, int last, int slot) {
    for (int i = first; i < last; ++i) {
        tagText& rec = list[i];
        CFonts* text = MakeText(rec);
        if (text == nullptr) continue;
        ApplyPlacement(rec, text);
        PushBackGroupShapes(rec, text, slot);
    }
}

void CDrawDxfEntity::ViewMTextMidle(std::vector<tagMText>& list, int first, int last, bool limit, int slot) {
    for (int i = first; i < last; ++i) {
        tagMText& rec = list[i];
        CFonts* text = MakeMText(rec, limit);
        if (text == nullptr) continue;
        ApplyPlacement(rec, text);
        PushBackGroupShapes(rec, text, slot);
    }
}

void CDrawDxfEntity::ViewMTextChunk(std::vector<tagMText>& list, int first, int last, int slot) {
    ViewMTextMidle(list, first, last, m_bLimitMText, slot);
}

void CDrawDxfEntity::LimitTextWidth(CString& text, double width, double height, CString face) {
    if (!(std::fabs(width) >= 0.001)) return;
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CFont font;
    // Tenths of a point; an absurd height must not overflow the size.
    const double tenths = height * 7.8 >= 1.0 ? std::min(height * 7.8, 1e6) : 1.0;
    font.CreatePointFont(static_cast<int>(tenths), face.GetString());
    dc.SelectObject(&font);
    // Extents add up character by character, so a line is measured as it
    // grows rather than again for every word.
    auto measure = [&dc](const CString& s) {
        return static_cast<double>(dc.GetTextExtent(s.GetString(), s.GetLength()).cx);
    };
    const double blank = measure(L" ");

    std::map<int, CString> lines;
    std::map<int, CString> words;
    CStringsplit(text, L"\n", lines, true);
    CString result;
    for (auto& [n, line] : lines) {
        CStringsplit(line, L" ", words, true);
        CString paragraph;
        CString current;
        double currentWidth = 0.0;
        for (auto& [k, part] : words) {
            CString word = part;
            word.Trim();
            const double wordWidth = measure(word);
            // A word too wide for any line starts one of its own; no empty
            // line goes before it.
            if (!current.IsEmpty() && currentWidth + wordWidth > width) {
                paragraph += current;
                paragraph += L"\r\n";
                current.Empty();
                currentWidth = 0.0;
            }
            current += word;
            current += L' ';
            currentWidth += wordWidth + blank;
        }
        paragraph += current;
        paragraph += L"\r\n";
        result += paragraph;
    }
    result.TrimRight(L"\r\n");
    text = result;
}

void CDrawDxfEntity::ExecuteLwPolyLine(tagPOINTF from, tagPOINTF to, double bulge, CCircle* arc) {
    if (arc == nullptr) return;
    const BulgeArc a = BulgeArcOf(from, to, bulge);
    arc->startDeg = a.startDeg;
    arc->endDeg = a.endDeg;
    arc->SetArcPath(a.direction);
    arc->SetDocView(m_pDoc, m_pView);
    arc->InitCircle(static_cast<float>(a.cx), static_cast<float>(a.cy), 0.0f, static_cast<float>(a.radius));
}

// ---- filing and grouping ------------------------------------------------------------------

void CDrawDxfEntity::PushBackGroupShapes(tagBlock& record, CBaseShape* shape, int slot) {
    if (shape == nullptr) return;
    if (slot < 0 || slot >= kSlotCount) slot = 0;
    // Shapes without a layer wait in their slot as well (no lock: each slot
    // has one writer), so that they reach the target in the same order
    // however many threads built them.
    if (record.strLayer.empty()) {
        m_looseShapes[slot].push_back(shape);
        return;
    }
    // The layers last filed in this slot are compared first: records come
    // in runs of a few layers, and a comparison is cheaper than a search.
    RecentLayers& recent = m_recent[slot];
    const std::wstring& layer = record.strLayer;
    for (const RecentLayer& r : recent.entries) {
        if (r.name != nullptr && r.name->size() == layer.size() && *r.name == layer) {
            r.list->push_back(shape);
            return;
        }
    }
    const auto at = m_slots[slot].try_emplace(layer).first;
    recent.entries[recent.next] = {&at->first, &at->second};
    recent.next = (recent.next + 1) % std::size(recent.entries);
    at->second.push_back(shape);
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
            m_recent[slot] = RecentLayers();
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
