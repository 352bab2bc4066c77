// The spiral line: its geometry, refusals of bad input, the loop path built
// on the background thread, and saving.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/shapes/screwline.h"
#include "support/shape_support.h"

namespace {

using testsupport::HostScope;

struct Event {  // manual reset
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { CloseHandle(h); }
};

// 20 × 10 mm from the origin: centre (10, 5), semi-axes 10 and 5.
Gdiplus::RectF wide(0.0f, 10.0f, 20.0f, 10.0f);

SCREW_PAR Par(float gap = 0.5f, int loops = 0) {
    SCREW_PAR p;
    p.m_fMinRadius = 3.0f;
    p.m_fMinGap = p.m_fMaxGap = gap;
    p.m_bEnable = loops > 0 ? 1 : 0;
    p.m_nLoopCount = loops;
    return p;
}

// The larger semi-axis of the 2:1 ellipse through a point of the wide spiral.
double Radius(tagPOINTF p) { return std::hypot(p.x - 10.0, 2.0 * (p.y - 5.0)); }

// Radii where the turns of the spiral part cross the +x axis (after the inner
// ring of 40 points, before the outer ring of 101).
std::vector<double> TurnRadii(const std::vector<tagPOINTF>& pts) {
    std::vector<double> out;
    for (size_t i = 40; i + 101 < pts.size(); ++i)
        if (std::fabs(pts[i].y - 5.0f) < 1e-4f && pts[i].x > 10.0f) out.push_back(Radius(pts[i]));
    return out;
}

double LongestStep(const std::vector<tagPOINTF>& pts) {
    double longest = 0;
    for (size_t i = 1; i < pts.size(); ++i)
        longest = std::max(longest, std::hypot(double(pts[i].x) - pts[i - 1].x, double(pts[i].y) - pts[i - 1].y));
    return longest;
}

}  // namespace

TEST(ScrewLine, ClassCaptionAndPointsPerTurn) {
    const int polylines = ShapeCounterOf(SHAPE_POLYLINE).Peek();
    CScrewLine spiral;
    EXPECT_STREQ(spiral.GetCaption().GetString(), L"Spiral");
    EXPECT_EQ(spiral.GetShapeKind(), SHAPE_SCREWLINE);
    EXPECT_EQ(ShapeCounterOf(SHAPE_POLYLINE).Peek(), polylines + 1);
    EXPECT_TRUE(spiral.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CBaseShape)));
    EXPECT_FALSE(spiral.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CPolyLine)));

    const std::pair<double, int> table[] = {{0.5, 150},    {1.0, 30},    {16.0, 112}, {10.0, 100},
                                            {0.0333, 33},  {0.0712, 142}, {0.4999, 749}, {3.0, 39},
                                            {8.0, 100},    {0.0009, 0},  {-1.0, 0},   {std::nan(""), 0}};
    for (auto [r, n] : table) EXPECT_EQ(CScrewLine::PointCount(r), n) << r;
    EXPECT_GT(CScrewLine::PointCount(1e300), 0);
}

TEST(ScrewLine, SpiralFillsTheInscribedEllipse) {
    CScrewLine s;
    s.SetParam(Par(), &wide);
    const std::vector<tagPOINTF>& pts = s.arrPoint;
    ASSERT_GT(pts.size(), 200u);
    // Inner ring of 39 points on radius 3, closed; the spiral starts there too.
    EXPECT_NEAR(pts[0].x, 13.0f, 1e-4f);
    EXPECT_NEAR(pts[0].y, 5.0f, 1e-4f);
    EXPECT_NEAR(pts[39].x, 13.0f, 1e-4f);
    for (size_t i = 0; i < 40; ++i) EXPECT_NEAR(Radius(pts[i]), 3.0, 1e-4);
    // The radius never shrinks, the points turn counter-clockwise, and only
    // the outer ring (101 points) reaches the edge.
    size_t onEdge = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        EXPECT_LE(Radius(pts[i]), 10.0 + 1e-4);
        onEdge += std::fabs(Radius(pts[i]) - 10.0) < 1e-4 ? 1 : 0;
        if (i == 0) continue;
        EXPECT_GE(Radius(pts[i]), Radius(pts[i - 1]) - 1e-4) << i;
        EXPECT_GE((pts[i - 1].x - 10.0) * (pts[i].y - 5.0) - (pts[i - 1].y - 5.0) * (pts[i].x - 10.0), -1e-6) << i;
    }
    EXPECT_EQ(onEdge, 101u);
    const std::vector<double> turns = TurnRadii(pts);
    ASSERT_EQ(turns.size(), 14u);
    for (size_t k = 0; k < turns.size(); ++k) EXPECT_NEAR(turns[k], 3.0 + 0.5 * k, 1e-4);
}

TEST(ScrewLine, GapModesDirectionAndAspect) {
    SCREW_PAR grow = Par();
    grow.m_nType = 1;
    grow.m_fMaxGap = 1.0f;
    grow.m_fGapStep = 0.25f;
    SCREW_PAR shrink = grow;
    shrink.m_nType = 2;
    const std::vector<double> expectGrow = {3.0, 3.5, 4.25, 5.25, 6.25, 7.25, 8.25, 9.25};
    const std::vector<double> expectShrink = {3.0, 4.0,  4.75, 5.25, 5.75, 6.25, 6.75,
                                              7.25, 7.75, 8.25, 8.75, 9.25, 9.75};
    for (auto [par, expect] : {std::pair{grow, expectGrow}, std::pair{shrink, expectShrink}}) {
        CScrewLine s;
        s.SetParam(par, &wide);
        const std::vector<double> got = TurnRadii(s.arrPoint);
        ASSERT_EQ(got.size(), expect.size()) << par.m_nType;
        for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], expect[k], 1e-4);
    }

    // Mode 1 with equal gaps is stored and run as mode 0.
    SCREW_PAR equal = Par();
    equal.m_nType = 1;
    CScrewLine e, plain;
    e.SetParam(equal, &wide);
    plain.SetParam(Par(), &wide);
    SCREW_PAR stored;
    e.GetParam(stored);
    EXPECT_EQ(stored.m_nType, 0u);
    EXPECT_EQ(e.arrPoint.size(), plain.arrPoint.size());

    // Reversed: from the outer ring to where the plain one starts.
    SCREW_PAR rev = Par();
    rev.m_nDir = 1;
    CScrewLine d;
    d.SetParam(rev, &wide);
    EXPECT_NEAR(Radius(d.arrPoint.front()), 10.0, 1e-4);
    EXPECT_NEAR(d.arrPoint.back().x, 13.0f, 1e-4f);

    // A tall rectangle puts the larger semi-axis on y: at angle 0, x is r/2.
    Gdiplus::RectF tall(0.0f, 20.0f, 10.0f, 20.0f);
    CScrewLine t;
    t.SetParam(Par(), &tall);
    EXPECT_NEAR(t.arrPoint[0].x, 6.5f, 1e-4f);
    EXPECT_NEAR(t.arrPoint[0].y, 10.0f, 1e-4f);

    // A start radius beyond the edge: the inner ring alone. A start radius of
    // 0 has no ring points: the spiral starts at its first usable turn.
    SCREW_PAR big = Par(), zero = Par();
    big.m_fMinRadius = 12.0f;
    zero.m_fMinRadius = 0.0f;
    CScrewLine b, z;
    b.SetParam(big, &wide);
    z.SetParam(zero, &wide);
    EXPECT_EQ(b.arrPoint.size(), size_t(CScrewLine::PointCount(12.0)) + 1);
    ASSERT_FALSE(z.arrPoint.empty());
    EXPECT_NEAR(z.arrPoint[0].x, 10.5f, 1e-4f);

    // No rectangle: the bounds of the current points.
    CScrewLine bounded;
    bounded.arrPoint = {{0.0f, 0.0f}, {20.0f, 10.0f}};
    bounded.SetParam(Par(), nullptr);
    ASSERT_EQ(bounded.arrPoint.size(), plain.arrPoint.size());
    EXPECT_EQ(bounded.arrPoint.back().y, plain.arrPoint.back().y);
}

TEST(ScrewLine, BadInputIsRefusedWithoutChange) {
    HostScope host;
    CScrewLine s;
    s.SetParam(Par(), nullptr);
    s.SetParam(Par(), &wide);
    const size_t count = s.arrPoint.size();
    Gdiplus::RectF narrow(0.0f, 10.0f, 0.001f, 10.0f), nan(0.0f, 10.0f, std::nanf(""), 10.0f),
        huge(0.0f, 1e30f, 1e30f, 1e30f);
    for (Gdiplus::RectF* rect : {&narrow, &nan, &huge}) s.SetParam(Par(), rect);
    // Gaps that never advance, or too little to ever end; absurd loop counts.
    for (float gap : {0.0f, -1.0f, std::nanf(""), 1e-9f}) s.SetParam(Par(gap), &wide);
    s.SetParam(Par(0.5f, 2000000000), &wide);

    const std::vector<std::wstring> texts = host.Texts();
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[0], L"The spiral cannot be drawn: it has no rectangle and no points.");
    // A gap that is not a positive number is named as the setting at fault.
    for (size_t i = 1; i < texts.size(); ++i)
        EXPECT_EQ(texts[i], i >= 4 && i <= 6 ? L"The spiral cannot be created: its gap is not a positive finite number."
                                             : L"The spiral cannot be created: its rectangle is too small.")
            << i;
    EXPECT_EQ(s.arrPoint.size(), count);
    EXPECT_FALSE(s.IsLoopComputing());
    SCREW_PAR stored;
    s.GetParam(stored);
    EXPECT_EQ(stored.m_nLoopCount, 2000000000);
}

TEST(ScrewLine, LoopPathRunsInAndOutWithoutJumps) {
    for (uint32_t outer : {1u, 0u}) {
        SCREW_PAR p = Par(0.4f, 2);  // a gap of 0.4 ends the last turn half way round
        p.m_nOutCount = outer;
        CScrewLine s;
        s.SetParam(p, &wide);
        s.WaitForLoopPath();
        EXPECT_EQ(s.m_bLoopDone.load(), 1);
        const std::vector<tagPOINTF>& loop = s.arrLoopPoint;
        ASSERT_GT(loop.size(), 3 * s.arrPoint.size());
        for (size_t i = 0; i < s.arrPoint.size(); ++i) ASSERT_EQ(loop[i].x, s.arrPoint[i].x);
        int descents = 0;
        for (size_t i = s.arrPoint.size(); i < loop.size(); ++i) {
            EXPECT_LE(Radius(loop[i]), 10.0 + 1e-4);
            EXPECT_GE(Radius(loop[i]), 3.0 - 1e-4);
            descents += Radius(loop[i]) < 3.05 && Radius(loop[i - 1]) >= 3.05 ? 1 : 0;
        }
        EXPECT_EQ(descents, 2) << outer;
        // No chord across the ellipse anywhere, passes and joints included.
        EXPECT_LT(LongestStep(loop), 1.0) << outer;
        std::vector<tagPOINTF> flat = testsupport::Flattened(s, 0.25f);
        EXPECT_EQ(flat.size(), loop.size());
    }

    // Reversed, the loop path ends with the reversed single spiral.
    SCREW_PAR rev = Par(0.5f, 1);
    rev.m_nDir = 1;
    CScrewLine d;
    d.SetParam(rev, &wide);
    d.WaitForLoopPath();
    const size_t tail = d.arrLoopPoint.size() - d.arrPoint.size();
    for (size_t i = 0; i < d.arrPoint.size(); ++i) ASSERT_EQ(d.arrLoopPoint[tail + i].y, d.arrPoint[i].y);

    // Loop mode without passes starts no thread; the loop path is the spiral.
    SCREW_PAR none = Par();
    none.m_bEnable = 1;
    CScrewLine n;
    n.arrLoopPoint = {{99.0f, 99.0f}};
    n.SetParam(none, &wide);
    EXPECT_FALSE(n.IsLoopComputing());
    EXPECT_EQ(n.arrLoopPoint.size(), n.arrPoint.size());
    n.Move(1.0f, 0.0f);
    EXPECT_NEAR(n.arrLoopPoint[0].x, 14.0f, 1e-4f);
}

// In loop mode the G-code export and the drawing show the loop path that is
// marked: the same length as the marked path, and every marked point on an
// exported move and on a drawn line.
TEST(ScrewLine, LoopModeExportAndDrawingShowTheMarkedPath) {
    testsupport::ViewAt at(4.0f);
    CScrewLine s;
    s.SetDocView(&at.doc, &at.view);
    s.SetParam(Par(0.7f, 2), &wide);
    s.Rotate(23.0, {3.0f, -1.0f});
    s.WaitForLoopPath();
    tagMarkDataPar md;
    s.SetGetDataForce(true);
    ASSERT_TRUE(s.GetMarkData(md, nullptr));
    ASSERT_EQ(md.arrPaths.size(), 1u);
    ASSERT_EQ(md.arrPaths[0].arrPolylines.size(), 1u);
    const std::vector<tagPOINTF>& marked = md.arrPaths[0].arrPolylines[0];
    ASSERT_GT(marked.size(), 2 * s.arrPoint.size());
    ASSERT_LE(marked.size(), CPolyLine::kDetailThreshold);  // drawn unthinned
    auto length = [](const std::vector<tagPOINTF>& line) {
        double sum = 0;
        for (size_t i = 1; i < line.size(); ++i) sum += testsupport::Dist(line[i - 1], line[i]);
        return sum;
    };

    std::vector<tagPOINTF> moves;
    int rapids = 0;
    for (const std::wstring& line : testsupport::ExportedLines(s)) {
        float x = 0, y = 0;
        if (std::swscanf(line.c_str(), L"G0%*d X%f Y%f", &x, &y) == 2) moves.push_back({x, y});
        rapids += line.rfind(L"G00", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(rapids, 1);
    EXPECT_NEAR(length(moves), length(marked), 1e-3 * length(marked));

    RecordingCanvas canvas;
    CDC dc(&canvas);
    s.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0.0f, 0.0f);
    std::vector<std::vector<tagPOINTF>> drawn;
    double drawnLength = 0;
    for (const CanvasRecord& r : canvas.Records()) {
        std::vector<tagPOINTF> mm;
        for (const Gdiplus::PointF& p : r.points) mm.push_back({p.X / 4.0f, -p.Y / 4.0f});
        drawnLength += length(mm);
        drawn.push_back(std::move(mm));
    }
    EXPECT_NEAR(drawnLength, length(marked), 2e-3 * length(marked));
    for (size_t i = 0; i < marked.size(); i += 7) {
        EXPECT_LT(testsupport::DistToPolyline(marked[i], moves), 2e-3) << i;
        double nearest = 1e9;
        for (const auto& line : drawn) nearest = std::min(nearest, testsupport::DistToPolyline(marked[i], line));
        EXPECT_LT(nearest, 0.26) << i;  // a device pixel at zoom 4
    }

    // The XML export and the curve a conversion gives hold the marked path,
    // point for point (the XML to its three decimals).
    const std::string xml = testsupport::ExportXml(s);
    std::vector<tagPOINTF> written;
    for (size_t at = xml.find("<P x=\""); at != std::string::npos; at = xml.find("<P x=\"", at + 1)) {
        float x = 0, y = 0;
        ASSERT_EQ(std::sscanf(xml.c_str() + at, "<P x=\"%f\" y=\"%f\"", &x, &y), 2);
        written.push_back({x, y});
    }
    ASSERT_EQ(written.size(), marked.size());
    std::unique_ptr<CBaseShape> curve(s.ToBezier());
    auto* bezier = dynamic_cast<CBezierCurve*>(curve.get());
    ASSERT_NE(bezier, nullptr);
    ASSERT_EQ(bezier->arrSegment.size() + 1, marked.size());
    for (size_t i = 0; i < marked.size(); ++i) {
        EXPECT_LT(testsupport::Dist(written[i], marked[i]), 1e-3) << i;
        const tagPOINTF end = i == 0 ? bezier->arrSegment[0].p1 : bezier->arrSegment[i - 1].p4;
        EXPECT_LT(testsupport::Dist(end, marked[i]), 1e-5) << i;
    }
}

TEST(ScrewLine, EditsDuringTheComputation) {
    HostScope host;
    Event gate;
    CScrewLine s;
    s.SetLoopStartHook([&] { WaitForSingleObject(gate.h, INFINITE); });
    s.SetParam(Par(0.5f, 1), &wide);
    ASSERT_TRUE(s.IsLoopComputing());

    s.Move(5.0f, 5.0f);
    s.Rotate(90.0, {10.0f, 5.0f});
    EXPECT_EQ(s.Clone(), nullptr);
    EXPECT_EQ(s.arrPoint[0].x, 13.0f);
    EXPECT_EQ(s.arrPoint[0].y, 5.0f);
    const std::vector<std::wstring> expected = {L"正在计算螺旋线路径，请稍后移动...", L"正在计算螺旋线路径，请稍后旋转...",
                                                L"正在计算螺旋线路径，请稍后克隆..."};
    EXPECT_EQ(host.Texts(), expected);

    // Mark data and a mirror asked for meanwhile wait for the finished path.
    tagMarkDataPar mark;
    bool marked = false;
    std::thread marker([&] {
        marked = s.GetMarkData(mark, nullptr);
        s.Mirror({10.0f, 5.0f}, 1);
    });
    SetEvent(gate.h);
    marker.join();
    EXPECT_FALSE(s.IsLoopComputing());
    ASSERT_TRUE(marked);
    ASSERT_EQ(mark.arrPaths.size(), 1u);
    ASSERT_EQ(mark.arrPaths[0].arrPolylines[0].size(), s.arrLoopPoint.size());
    EXPECT_NEAR(s.arrLoopPoint[0].x, 20.0f - mark.arrPaths[0].arrPolylines[0][0].x, 1e-4f);
    EXPECT_NEAR(s.arrPoint[0].x, 7.0f, 1e-4f);

    // Idle again: edits go through and carry the loop path along.
    const float loopX = s.arrLoopPoint.back().x;
    s.Move(1.0f, 0.0f);
    EXPECT_NEAR(s.arrLoopPoint.back().x, loopX + 1.0f, 1e-4f);
    std::unique_ptr<CBaseShape> copy(s.Clone());
    auto* spiral = dynamic_cast<CScrewLine*>(copy.get());
    ASSERT_NE(spiral, nullptr);
    EXPECT_EQ(spiral->arrLoopPoint.size(), s.arrLoopPoint.size());
    EXPECT_EQ(host.Texts().size(), 3u);
}

TEST(ScrewLine, DestroyedOrResetWhileComputing) {
    const SCREW_PAR p = Par(0.5f, 3);
    {
        // Deleted while its thread is held: the destructor must stop and join
        // it (a use after free shows under the address sanitiser).
        Event gate, started;
        auto* s = new CScrewLine();
        s->SetLoopStartHook([&] {
            SetEvent(started.h);
            WaitForSingleObject(gate.h, INFINITE);
        });
        s->SetParam(p, &wide);
        WaitForSingleObject(started.h, INFINITE);
        std::thread killer([s] { delete s; });
        SetEvent(gate.h);
        killer.join();
    }
    // A new SetParam waits for the running computation, then starts its own.
    Event gate;
    CScrewLine s, reference;
    s.SetLoopStartHook([&] { WaitForSingleObject(gate.h, INFINITE); });
    s.SetParam(p, &wide);
    std::thread editor([&] { s.SetParam(Par(0.5f, 1), &wide); });
    SetEvent(gate.h);
    editor.join();
    s.WaitForLoopPath();
    reference.SetParam(Par(0.5f, 1), &wide);
    reference.WaitForLoopPath();
    EXPECT_EQ(s.arrLoopPoint.size(), reference.arrLoopPoint.size());
}

TEST(ScrewLine, SaveRestoreAndFillOutline) {
    SCREW_PAR p = Par(0.5f, 1);
    p.m_nDir = 1;
    CScrewLine s;
    s.SetParam(p, &wide);
    const testsupport::Bytes bytes = testsupport::SavedShape(s);
    // The spiral's keys in order, and not the polyline's point list.
    const std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    for (const char* key : {"nSize", "shape_filler_param", "screwlinearrPointf", "screwlinearrPointf2"}) {
        at = text.find(key, at);
        ASSERT_NE(at, std::string::npos) << key;
    }
    for (size_t f = text.find("arrPointf"); f != std::string::npos; f = text.find("arrPointf", f + 1))
        EXPECT_EQ(text.compare(f - 9, 9, "screwline"), 0);

    SriFile in(bytes.data(), bytes.size());
    CScrewLine back;
    back.Read(false, &in);
    back.RestoreAfterRead();
    ASSERT_EQ(back.arrPoint.size(), s.arrPoint.size());
    ASSERT_EQ(back.arrLoopPoint.size(), s.arrLoopPoint.size());
    EXPECT_EQ(back.arrLoopPoint.back().x, s.arrLoopPoint.back().x);
    SCREW_PAR readBack;
    back.GetParam(readBack);
    EXPECT_EQ(readBack.m_nDir, 1u);
    EXPECT_EQ(readBack.m_nLoopCount, 1);

    // The fill outline: the edge ellipse of the bounds, closed, appended.
    CScrewLine box;
    box.arrPoint = {{0.0f, 0.0f}, {20.0f, 10.0f}};
    std::vector<tagPOINTF> fill = {{0.0f, 0.0f}};
    box.GetFlattenPathPointsFill(fill);
    ASSERT_EQ(fill.size(), 102u);
    EXPECT_NEAR(fill[1].x, 20.0f, 1e-4f);
    EXPECT_EQ(fill.back().x, fill[1].x);
    for (size_t i = 1; i < fill.size(); ++i) EXPECT_NEAR(Radius(fill[i]), 10.0, 1e-4);

    // Nothing to mark: false, and nothing left in the cache.
    CScrewLine empty;
    tagMarkDataPar mark;
    EXPECT_FALSE(empty.GetMarkData(mark, nullptr));
    EXPECT_TRUE(empty.GetMarkCache().IsEmpty());
}

TEST(ScrewLine, ParameterChangesAndTheirUndoKeepPlaceAndSize) {
    CBaseDoc doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};
    auto* s = new CScrewLine();
    doc.AddShape(s);
    s->SetParam(Par(), &wide);
    const std::vector<tagPOINTF> built = s->arrPoint;
    // The editor changes the parameters in place and records the change;
    // the spiral stays in the rectangle it was built in, not in its own
    // (smaller) bounds, however often the change is undone and redone.
    const SCREW_PAR denser = Par(0.25f);
    s->SetParam(denser, nullptr);
    const std::vector<tagPOINTF> changed = s->arrPoint;
    Gdiplus::RectF r = testsupport::RectOf(*s);
    EXPECT_NEAR(r.X, 0, 0.05);
    EXPECT_NEAR(r.Width, 20, 0.1);
    CUND_SetScrew rec(new stSetScrewUndo{Par(), denser, s});
    for (int cycle = 0; cycle < 20; ++cycle) {
        rec.OnEditUndo(&core);
        ASSERT_EQ(s->arrPoint, built) << cycle;
        rec.OnEditRedo(&core);
        ASSERT_EQ(s->arrPoint, changed) << cycle;
    }

    // Turned, slanted and moved first: the change and its undo keep the
    // spiral where the transforms took it.
    CScrewLine plain;
    plain.SetParam(Par(), &wide);
    for (CScrewLine* t : {s, &plain}) {
        t->Rotate(30, {3, 4});
        t->Slope({0, 0}, 0.2, 0);
        t->Move(5, -2);
    }
    auto expectNear = [](const std::vector<tagPOINTF>& got, const std::vector<tagPOINTF>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_NEAR(got[i].x, want[i].x, 1e-4) << i;
            EXPECT_NEAR(got[i].y, want[i].y, 1e-4) << i;
        }
    };
    const std::vector<tagPOINTF> placed = s->arrPoint;
    rec.OnEditUndo(&core);
    expectNear(s->arrPoint, plain.arrPoint);
    rec.OnEditRedo(&core);
    expectNear(s->arrPoint, placed);
}
