// The Bezier curve's node editor: what the pointer hits, how nodes, handles
// and segments move, inserting and deleting nodes, the node operations, and
// undo and redo of the recorded changes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/core/bezier.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records.h"
#include "support/shape_support.h"

namespace {

using testsupport::Dist;

using Segment = BEZIER_4POINTF_DRAW;

using testsupport::Cubic;
using testsupport::Line;
std::vector<Segment> Lines(const std::vector<tagPOINTF>& nodes) {
    std::vector<Segment> out;
    for (size_t i = 1; i < nodes.size(); ++i) out.push_back(Line(nodes[i - 1], nodes[i]));
    return out;
}
// The half circle of radius 10 about the origin from (10, 0) over the top.
std::vector<Segment> TopHalfCircle() {
    std::vector<Segment> arc;
    EXPECT_TRUE(CBezierCurve::AppendArcThrough3Points(arc, {10, 0}, {0, 10}, {-10, 0}));
    return arc;
}

tagPOINTF At(const Segment& s, double t) {
    const double u = 1 - t;
    auto f = [&](float a, float b, float c, float d) {
        return u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c + t * t * t * d;
    };
    return {float(f(s.p1.x, s.p2.x, s.p3.x, s.p4.x)), float(f(s.p1.y, s.p2.y, s.p3.y, s.p4.y))};
}
double DistToCurve(tagPOINTF p, const Segment& s) {
    double best = 1e300;
    for (int i = 0; i <= 20000; ++i) best = std::min(best, Dist(p, At(s, i / 20000.0)));
    return best;
}

#define EXPECT_PT(p, X, Y, tol)          \
    do {                                 \
        EXPECT_NEAR((p).x, (X), (tol));  \
        EXPECT_NEAR((p).y, (Y), (tol));  \
    } while (0)

void ExpectJoined(const CBezierCurve& c) {
    for (size_t i = 1; i < c.arrSegment.size(); ++i) {
        EXPECT_LT(Dist(c.arrSegment[i - 1].p4, c.arrSegment[i].p1), 1e-4) << "gap before segment " << i;
    }
    if (c.bClosed != 0 && !c.arrSegment.empty()) {
        EXPECT_LT(Dist(c.arrSegment.back().p4, c.arrSegment.front().p1), 1e-4) << "not closed";
    }
}

std::vector<tagPOINTF> Nodes(const CBezierCurve& c) {
    std::vector<tagPOINTF> out;
    for (const Segment& s : c.arrSegment) out.push_back(s.p1);
    if (!c.arrSegment.empty()) out.push_back(c.arrSegment.back().p4);
    return out;
}

void ExpectNodes(const CBezierCurve& c, const std::vector<tagPOINTF>& want) {
    const std::vector<tagPOINTF> got = Nodes(c);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "node " << i);
        EXPECT_PT(got[i], want[i].x, want[i].y, 1e-4);
    }
}

// Every piece of one arc carries the same arc points, and the circle through
// them carries the whole piece.
void ExpectOneCircularArc(const std::vector<Segment>& pieces, size_t from, size_t to) {
    ASSERT_LT(from, to);
    const Segment& g = pieces[from];
    tagPOINTF centre;
    double r = 0;
    ASSERT_TRUE(CBaseShape::GetCircleParamerFrom3P(g.ArcStartPoint, g.ArcCenterPoint, g.ArcEndPoint, centre, r));
    EXPECT_PT(pieces[from].p1, g.ArcStartPoint.x, g.ArcStartPoint.y, 1e-4);
    EXPECT_PT(pieces[to - 1].p4, g.ArcEndPoint.x, g.ArcEndPoint.y, 1e-4);
    for (size_t i = from; i < to; ++i) {
        const Segment& s = pieces[i];
        EXPECT_EQ(s.LineType, 2);
        EXPECT_TRUE(s.ArcStartPoint == g.ArcStartPoint && s.ArcEndPoint == g.ArcEndPoint &&
                    s.ArcCenterPoint == g.ArcCenterPoint);
        for (double t : {0.0, 0.25, 0.5, 0.75, 1.0}) EXPECT_NEAR(Dist(At(s, t), centre), r, 2e-3 * r);
    }
}

// A document that keeps the records handed to it.
class RecordingDoc : public CBaseDoc {
public:
    void AddUndo(CUND_Base* record) override { records.emplace_back(record); }
    void InvalidateRectF(const Gdiplus::RectF&) override { ++repaints; }
    std::vector<std::unique_ptr<CUND_Base>> records;
    int repaints = 0;
};

class BezierEdit : public ::testing::Test {
protected:
    void SetUp() override {
        view.SetZoom(10.0f);
        view.SetOrigin({-30, 40});
        view.SetClientSize(900, 800);  // x -30..60, y -40..40
        c = new CBezierCurve();
        c->SetDocView(&doc, &view);
        c->SetPickDistance(1.0);  // nodes within 1 mm, curve band 4 px
        doc.AddShape(c);
    }
    void Undo() {
        ASSERT_FALSE(doc.records.empty());
        doc.records.back()->OnEditUndo(&core);
    }
    void Redo() {
        ASSERT_FALSE(doc.records.empty());
        doc.records.back()->OnEditRedo(&core);
    }
    std::vector<Segment> Snapshot() const { return c->arrSegment; }
    void ExpectSame(const std::vector<Segment>& want) {
        ASSERT_EQ(c->arrSegment.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_TRUE(CBezierCurve::CompareBezierCurve(c->arrSegment[i], want[i])) << "segment " << i;
    }

    RecordingDoc doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};
    CBezierCurve* c = nullptr;  // owned by doc
};

// ---- hit tests --------------------------------------------------------------------------

TEST_F(BezierEdit, NodeAndHandleHitsFollowTheEditState) {
    c->arrSegment = {Line({0, 0}, {10, 0}), Cubic({10, 0}, {12, 5}, {18, 5}, {20, 0}), Line({20, 0}, {30, 0})};

    std::vector<tagPOINTF> io{{10.3f, 0.2f}};
    EXPECT_EQ(c->GetEditPoint(io), 2);
    EXPECT_EQ(c->GetEditType(), 0);
    EXPECT_EQ(c->GetControlPoint(), 1);
    EXPECT_TRUE(c->m_bShowHandles);
    ASSERT_EQ(io.size(), 8u);
    EXPECT_PT(io[0], 0, 0, 0);
    EXPECT_PT(io[7], 20, 0, 0);

    // Node 0 of an open curve has no incoming segment: its start four times.
    io = {{0.2f, 0.1f}};
    EXPECT_EQ(c->GetEditPoint(io), 1);
    for (int i = 0; i < 4; ++i) EXPECT_PT(io[i], 0, 0, 0);

    // With handles shown, p2 of segment 1 is handle 2.
    io = {{12.2f, 5.1f}};
    EXPECT_EQ(c->GetEditPoint(io), 3);
    EXPECT_EQ(c->GetEditType(), 1);
    ASSERT_EQ(io.size(), 4u);
    EXPECT_PT(io[1], 12, 5, 0);

    // A miss clears the state and hides the handles, which then are not hit.
    io = {{5, 20}};
    EXPECT_EQ(c->GetEditPoint(io), 0);
    EXPECT_EQ(c->GetEditType(), -1);
    EXPECT_EQ(c->GetControlPoint(), -1);
    EXPECT_FALSE(c->m_bShowHandles);
    io = {{12, 5}};
    EXPECT_EQ(c->GetEditPoint(io), 0);

    // Two nodes within reach: the lower number wins.
    CBezierCurve tiny;
    tiny.SetPickDistance(1.0);
    tiny.arrSegment = {Line({0, 0}, {0.5f, 0}), Line({0.5f, 0}, {5, 0})};
    io = {{0.3f, 0}};
    EXPECT_EQ(tiny.GetEditPoint(io), 1);
}

TEST_F(BezierEdit, JointsInsideAnArcAreNoNodes) {
    c->arrSegment = TopHalfCircle();  // two pieces; the joint is node 1 = n - 1
    ASSERT_EQ(c->arrSegment.size(), 2u);
    std::vector<tagPOINTF> io{{0, 10}};
    EXPECT_EQ(c->GetEditPoint(io), 0);
    io = {{10, 0}};
    EXPECT_EQ(c->GetEditPoint(io), 1);
    io = {{-10, 0}};
    EXPECT_EQ(c->GetEditPoint(io), 3);

    // The box selection skips the joint too, and puts the end node before
    // the last segment's start; a node on the box edge is not inside.
    c->GetRectInEditPoint({-11, -1}, {11, 11});
    EXPECT_EQ(c->arrSelectIndex, (std::vector<int>{0, 2}));
    c->GetRectInEditPoint({-10, -5}, {20, 20});
    EXPECT_EQ(c->arrSelectIndex, (std::vector<int>{0}));
}

TEST_F(BezierEdit, CurveLevelHitTests) {
    c->arrSegment = {Line({0, 0}, {10, 0}), Cubic({10, 0}, {12, 5}, {18, 5}, {20, 0})};
    EXPECT_EQ(c->IsMe({5, 0.05f}), 1);
    EXPECT_EQ(c->IsMe({15, 3.75f}), 2);  // the cubic's midpoint
    EXPECT_EQ(c->IsMe({15, 10}), 0);

    // A handle counts only while this curve is node-edited with nodes shown.
    EXPECT_EQ(c->IsMe({12, 5}), 0);
    c->m_bNodeEditShape = true;
    EXPECT_EQ(c->IsMe({12, 5}), 1);
    c->m_bShowNodes = false;
    EXPECT_EQ(c->IsMe({12, 5}), 0);

    // Distances in device pixels (10 per mm) against the line.
    double t = -1;
    c->DistanceBz(c->arrSegment[0], {5, 1}, t);
    EXPECT_NEAR(t, 0.5, 0.02);
    t = 0.5;
    EXPECT_NEAR(c->DistanceBz(c->arrSegment[0], {5, 1}, t), 10.0, 0.6);

    Gdiplus::RectF all(-1, 6, 32, 8), low(-1, 3, 32, 5);
    EXPECT_EQ(c->IsInRect(all), 1);
    EXPECT_EQ(c->IsInRect(low), 0);  // the hump reaches y = 3.75

    EXPECT_EQ(c->IsInClientRectF(), 1);
    c->arrSegment = {Line({60, 0}, {70, 0})};  // touches the visible area's right edge
    EXPECT_EQ(c->IsInClientRectF(), 1);
    c->arrSegment = {Line({61, 0}, {70, 0})};
    EXPECT_EQ(c->IsInClientRectF(), 0);
}

TEST_F(BezierEdit, EditPointsShowNodesAndTheCurrentHandles) {
    c->arrSegment = {Line({0, 0}, {10, 0}), Cubic({10, 0}, {12, 5}, {18, 5}, {20, 0})};
    std::vector<Segment> arc;
    ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(arc, {20, 0}, {30, 10}, {40, 0}));
    c->arrSegment.insert(c->arrSegment.end(), arc.begin(), arc.end());
    ASSERT_EQ(c->arrSegment.size(), 4u);

    RecordingCanvas canvas;
    CDC dc(&canvas);
    auto count = [&](CanvasOp op) {
        int n = 0;
        for (const CanvasRecord& r : canvas.Records()) n += r.op == op ? 1 : 0;
        return n;
    };
    EXPECT_EQ(c->DrawEditPoints(&dc), -1);  // handles hidden
    EXPECT_EQ(count(CanvasOp::Rectangle), 4);  // the arc joint has none

    canvas.Reset();
    std::vector<tagPOINTF> io{{10, 0}};
    ASSERT_EQ(c->GetEditPoint(io), 2);
    EXPECT_EQ(c->DrawEditPoints(&dc), 0);
    EXPECT_EQ(count(CanvasOp::Rectangle), 4 + 2);
    EXPECT_EQ(count(CanvasOp::FillRectangle), 2);  // the two handles of segment 1, black
    int dotted = 0;
    for (const CanvasRecord& r : canvas.Records()) {
        if (r.op == CanvasOp::Line) {
            EXPECT_EQ(r.pen.argb, 0xFF0000FFu);
            EXPECT_NE(r.pen.dash, Gdiplus::DashStyleSolid);
            ++dotted;
        }
    }
    EXPECT_EQ(dotted, 2);

    c->m_bShowNodes = false;
    EXPECT_EQ(c->DrawEditPoints(&dc), -1);
}

// ---- moving nodes and handles --------------------------------------------------------------

TEST_F(BezierEdit, MovingANodeMovesBothSegmentEnds) {
    c->arrSegment = Lines({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    c->bClosed = 1;
    c->SetEditType(0);
    c->ModifyEditPoint(0, {-2, -2});
    ExpectNodes(*c, {{-2, -2}, {10, 0}, {10, 10}, {0, 10}, {-2, -2}});
    EXPECT_PT(c->arrSegment[0].p2, -2, -2, 0);  // lines keep their handles on their ends
    EXPECT_PT(c->arrSegment[3].p3, -2, -2, 0);
    ASSERT_EQ(doc.records.size(), 1u);
    // Undo puts the old segments back where they stood: the ring starts at
    // the same node again, and redo moves the same node once more.
    Undo();
    ExpectNodes(*c, {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    Redo();
    ExpectNodes(*c, {{-2, -2}, {10, 0}, {10, 10}, {0, 10}, {-2, -2}});

    // A cubic node drags its own handles along.
    c->bClosed = 0;
    c->arrSegment = {Cubic({0, 0}, {0, 5}, {5, 5}, {5, 0}), Cubic({5, 0}, {5, -5}, {10, -5}, {10, 0})};
    c->SetEditType(0);
    c->ModifyEditPoint(1, {6, 1});
    EXPECT_PT(c->arrSegment[0].p3, 6, 6, 1e-5);
    EXPECT_PT(c->arrSegment[1].p2, 6, -4, 1e-5);
    ExpectJoined(*c);
}

TEST_F(BezierEdit, MovingAnArcEndKeepsTheOtherEndAndItsTangent) {
    c->arrSegment = TopHalfCircle();
    c->arrSegment.push_back(Line({-10, 0}, {-10, -10}));
    const auto before = Snapshot();
    c->SetEditType(0);
    c->ModifyEditPoint(2, {-8, -4});

    const auto& s = c->arrSegment;
    ASSERT_GE(s.size(), 2u);
    const size_t arcEnd = s.size() - 1;
    ExpectOneCircularArc(s, 0, arcEnd);
    EXPECT_PT(s[0].p1, 10, 0, 1e-5);
    EXPECT_PT(s[arcEnd - 1].p4, -8, -4, 1e-4);
    // Leaving (10, 0) straight up, through (-8, -4): centre (5/9, 0).
    EXPECT_NEAR(s[0].p2.x, 10.0, 1e-3);
    EXPECT_GT(s[0].p2.y, 0.0f);
    tagPOINTF centre;
    double r = 0;
    ASSERT_TRUE(
        CBaseShape::GetCircleParamerFrom3P(s[0].ArcStartPoint, s[0].ArcCenterPoint, s[0].ArcEndPoint, centre, r));
    EXPECT_PT(centre, 5.0 / 9.0, 0.0, 1e-3);
    EXPECT_NEAR(r, 85.0 / 9.0, 1e-3);
    EXPECT_PT(s[arcEnd].p1, -8, -4, 1e-5);
    ExpectJoined(*c);

    Undo();
    ExpectSame(before);

    // Onto the tangent line at the kept end: the arc straightens instead of
    // getting lost.
    c->SetEditType(0);
    c->ModifyEditPoint(2, {10, -5});
    ExpectNodes(*c, {{10, 0}, {10, -5}, {-10, -10}});
    EXPECT_EQ(c->arrSegment[0].LineType, 1);
}

TEST_F(BezierEdit, MovingNodeZeroPastAGrowingClosingArcMovesTheFirstSegment) {
    // A closed curve: a line along the x axis, closed by the top half circle.
    c->arrSegment = {Line({-10, 0}, {10, 0})};
    const auto arc = TopHalfCircle();
    c->arrSegment.insert(c->arrSegment.end(), arc.begin(), arc.end());
    c->bClosed = 1;
    c->SetEditType(0);
    // The rebuilt arc sweeps 233 degrees and needs one more piece.
    c->ModifyEditPoint(0, {-6, -8});
    ASSERT_EQ(c->arrSegment.size(), 4u);
    EXPECT_EQ(c->arrSegment[0].LineType, 1);
    EXPECT_PT(c->arrSegment[0].p1, -6, -8, 1e-5);
    EXPECT_PT(c->arrSegment[0].p4, 10, 0, 0);
    ExpectOneCircularArc(c->arrSegment, 1, 4);
    ExpectJoined(*c);
}

TEST_F(BezierEdit, HandleDragMovesTheOppositeHandleOnlyWhenSmoothedAlike) {
    c->arrSegment = {Cubic({0, 0}, {0, 5}, {5, 5}, {5, 0}), Cubic({5, 0}, {5, -5}, {10, -5}, {10, 0})};
    // The opposite handle turns in line through the node (5, 0) and keeps
    // its length: the joint stays smooth.
    auto expectOpposite = [&](tagPOINTF dragged, tagPOINTF opposite, double length) {
        const double dx = dragged.x - 5.0, dy = dragged.y;
        const double ox = opposite.x - 5.0, oy = opposite.y;
        EXPECT_NEAR(dx * oy - dy * ox, 0.0, 1e-4);
        EXPECT_LT(dx * ox + dy * oy, 0.0);
        EXPECT_NEAR(std::hypot(ox, oy), length, 1e-5);
        EXPECT_PT(c->ptCtrlDrag, opposite.x, opposite.y, 0);
    };
    c->SetEditType(1);
    c->ModifyEditPoint(1, {7, 3});  // p3 of segment 0
    EXPECT_PT(c->arrSegment[0].p3, 7, 3, 0);
    expectOpposite({7, 3}, c->arrSegment[1].p2, 5.0);
    c->SetEditType(1);
    c->ModifyEditPoint(2, {6, -1});  // p2 of segment 1
    EXPECT_PT(c->arrSegment[1].p2, 6, -1, 0);
    expectOpposite({6, -1}, c->arrSegment[0].p3, std::hypot(2.0, 3.0));
    // A handle dragged onto its node leaves the other one where it was.
    const tagPOINTF kept = c->arrSegment[0].p3;
    c->SetEditType(1);
    c->ModifyEditPoint(2, {5, 0});
    EXPECT_PT(c->arrSegment[0].p3, kept.x, kept.y, 0);

    c->arrSegment[1].SmoothType = 1;
    c->arrSegment[1].p2 = {5, -5};
    c->SetEditType(1);
    c->ModifyEditPoint(1, {8, 2});
    EXPECT_PT(c->arrSegment[0].p3, 8, 2, 0);
    EXPECT_PT(c->arrSegment[1].p2, 5, -5, 0);

    // Arc pieces have no handles to drag.
    c->arrSegment = TopHalfCircle();
    const auto before = Snapshot();
    c->SetEditType(1);
    c->ModifyEditPoint(0, {3, 3});
    ExpectSame(before);
}

// ---- inserting nodes ------------------------------------------------------------------------

TEST_F(BezierEdit, InsertingANodeSplitsLinesAndCubicsInPlace) {
    c->arrSegment = {Line({0, 0}, {10, 0})};
    EXPECT_EQ(c->InsertPoint(0, {4, 3}, 0, 1), 0);  // too far without snapping
    EXPECT_TRUE(doc.records.empty());
    ASSERT_EQ(c->InsertPoint(0, {4, 0.5f}, 1, 1), 1);
    ASSERT_EQ(c->arrSegment.size(), 2u);
    for (const Segment& s : c->arrSegment) {
        EXPECT_EQ(s.LineType, 1);
        EXPECT_TRUE(s.p2 == s.p1 && s.p3 == s.p4);
    }
    EXPECT_PT(c->arrSegment[0].p4, 4, 0, 0.01);
    ExpectJoined(*c);

    const Segment hump = Cubic({0, 0}, {0, 10}, {10, 10}, {10, 0});
    c->arrSegment = {hump};
    doc.records.clear();
    ASSERT_EQ(c->InsertPoint(0, {5, 7.6f}, 1, 1), 1);
    ASSERT_EQ(c->arrSegment.size(), 2u);
    const Segment a = c->arrSegment[0], b = c->arrSegment[1];
    EXPECT_TRUE(a.p1 == hump.p1 && b.p4 == hump.p4 && a.p4 == b.p1);
    EXPECT_PT(a.p4, 5, 7.5, 0.01);
    for (double t = 0; t <= 1.0; t += 0.05) {
        EXPECT_LT(DistToCurve(At(a, t), hump), 2e-3);
        EXPECT_LT(DistToCurve(At(b, t), hump), 2e-3);
    }
    ASSERT_EQ(doc.records.size(), 1u);
    Undo();
    ExpectSame({hump});

    // No segment without length at an end.
    EXPECT_EQ(c->InsertPoint(0, {0, 0}, 1, 1), 0);
    EXPECT_EQ(c->arrSegment.size(), 1u);
}

TEST_F(BezierEdit, InsertingANodeIntoAnArcMakesTwoArcs) {
    c->arrSegment = {Line({20, 0}, {10, 0})};
    const auto arc = TopHalfCircle();
    c->arrSegment.insert(c->arrSegment.end(), arc.begin(), arc.end());
    ASSERT_EQ(c->InsertPoint(1, {7.1f, 7.1f}, 1, 1), 1);

    const auto& s = c->arrSegment;
    EXPECT_EQ(s[0].LineType, 1);
    size_t split = 1;
    while (split < s.size() && s[split].ArcEndPoint == s[1].ArcEndPoint) ++split;
    ASSERT_LT(split, s.size());
    ExpectOneCircularArc(s, 1, split);
    ExpectOneCircularArc(s, split, s.size());
    EXPECT_PT(s[1].ArcStartPoint, 10, 0, 0);
    EXPECT_PT(s.back().ArcEndPoint, -10, 0, 0);
    const tagPOINTF q = s[split].p1;
    EXPECT_NEAR(Dist(q, {0, 0}), 10.0, 1e-3);
    EXPECT_NEAR(q.x, 7.07, 0.15);
    ExpectJoined(*c);

    // At the very end of an arc there is nothing to split: nothing changes
    // and the caller is told so.
    const auto before = Snapshot();
    doc.records.clear();
    EXPECT_EQ(c->InsertPoint(static_cast<int>(s.size()) - 1, {-10, 0}, 1, 1), 0);
    ExpectSame(before);
    EXPECT_TRUE(doc.records.empty());
}

// ---- deleting nodes --------------------------------------------------------------------------

TEST_F(BezierEdit, DeletingNodesKeepsTheCurveJoinedAndItsEnds) {
    const std::vector<tagPOINTF> zig{{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}, {50, 10}};
    struct Case {
        std::vector<int> nodes;
        std::vector<tagPOINTF> left;
    } const cases[] = {
        {{5}, {{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}}},
        {{2}, {{0, 0}, {10, 10}, {30, 10}, {40, 0}, {50, 10}}},
        {{4}, {{0, 0}, {10, 10}, {20, 0}, {30, 10}, {50, 10}}},
        {{0}, {{10, 10}, {20, 0}, {30, 10}, {40, 0}, {50, 10}}},
        {{2, 3}, {{0, 0}, {10, 10}, {40, 0}, {50, 10}}},
        {{-1, 9}, {{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}, {50, 10}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "first node " << k.nodes[0]);
        c->arrSegment = Lines(zig);
        EXPECT_EQ(c->DeletePoint(k.nodes), 1);
        ExpectNodes(*c, k.left);
        ExpectJoined(*c);
    }
    EXPECT_EQ(c->DeletePoint({}), 0);

    // Undo puts the deleted node back.
    c->arrSegment = Lines(zig);
    doc.records.clear();
    c->DeletePoint({2});
    ASSERT_EQ(doc.records.size(), 1u);
    Undo();
    ExpectNodes(*c, zig);
}

TEST_F(BezierEdit, DeletingNodesDoesNotDependOnTheirOrder) {
    const std::vector<tagPOINTF> zig{{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}};
    for (const std::vector<int>& nodes : {std::vector<int>{1, 2}, std::vector<int>{2, 1}, std::vector<int>{2, 1, 2}}) {
        c->arrSegment = Lines(zig);
        c->DeletePoint(nodes);
        ExpectNodes(*c, {{0, 0}, {30, 10}, {40, 0}});
    }
    // The rubber band lists the end node before the node ahead of it.
    c->arrSegment = Lines(zig);
    ASSERT_EQ(c->GetRectInEditPoint({25, -5}, {45, 15}), 0);
    ASSERT_EQ(c->arrSelectIndex, (std::vector<int>{4, 3}));
    c->DeletePoint(c->arrSelectIndex);
    ExpectNodes(*c, {{0, 0}, {10, 10}, {20, 0}});

    // Nothing deleted, nothing to undo.
    doc.records.clear();
    c->DeletePoint({-1, 7});
    ExpectNodes(*c, {{0, 0}, {10, 10}, {20, 0}});
    EXPECT_TRUE(doc.records.empty());
}

TEST_F(BezierEdit, TheOnlySegmentOfAClosedCurveStaysClosedWhenItsNodeMoves) {
    for (int node : {0, 1}) {
        c->arrSegment = {Cubic({0, 0}, {10, 10}, {-10, 10}, {0, 0})};
        c->bClosed = 1;
        doc.records.clear();
        c->SetEditType(0);
        c->ModifyEditPoint(node, {2, -1});
        ASSERT_EQ(c->arrSegment.size(), 1u);
        EXPECT_PT(c->arrSegment[0].p1, 2, -1, 0);
        EXPECT_PT(c->arrSegment[0].p4, 2, -1, 0);
        EXPECT_PT(c->arrSegment[0].p2, 12, 9, 1e-5);  // both handles travel along
        EXPECT_PT(c->arrSegment[0].p3, -8, 9, 1e-5);
        ASSERT_EQ(doc.records.size(), 1u);
        Undo();
        EXPECT_PT(c->arrSegment[0].p1, 0, 0, 0);
        EXPECT_PT(c->arrSegment[0].p4, 0, 0, 0);
    }
}

TEST_F(BezierEdit, DeletingTheStartOfAClosedCurveKeepsItClosed) {
    for (const std::vector<int>& nodes : {std::vector<int>{0}, std::vector<int>{0, 4}, std::vector<int>{4}}) {
        c->arrSegment = Lines({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
        c->bClosed = 1;
        c->DeletePoint(nodes);
        EXPECT_EQ(c->bClosed, 1);
        ExpectNodes(*c, {{10, 0}, {10, 10}, {0, 10}, {10, 0}});
        ExpectJoined(*c);
    }
}

TEST_F(BezierEdit, DeletingTheEndNodeTakesTheWholeLastArc) {
    c->arrSegment = {Line({20, 0}, {10, 0})};
    const auto arc = TopHalfCircle();
    c->arrSegment.insert(c->arrSegment.end(), arc.begin(), arc.end());
    c->DeletePoint({static_cast<int>(c->arrSegment.size())});
    ExpectNodes(*c, {{20, 0}, {10, 0}});
}

// ---- dragging segments ------------------------------------------------------------------------

TEST_F(BezierEdit, DraggingALineCarriesItsNeighbours) {
    c->arrSegment = Lines({{0, 0}, {10, 10}, {20, 10}, {30, 0}});
    const auto before = Snapshot();
    std::vector<tagPOINTF> io{{15, 10.1f}};
    ASSERT_EQ(c->GetEditCurve(io), 2);
    double dx = 0, dy = 3;
    c->CalculateDragLine(2, {15, 10}, dx, dy);
    EXPECT_PT(c->segDrag.p1, 10, 13, 1e-5);
    EXPECT_PT(c->segDragPrev.p4, 10, 13, 1e-5);
    EXPECT_PT(c->segDragNext.p1, 20, 13, 1e-5);
    EXPECT_EQ(c->arrSegment[1].p1.y, 10.0f);  // nothing committed yet

    c->ModifyEditLine(2, {15, 13});
    ExpectNodes(*c, {{0, 0}, {10, 13}, {20, 13}, {30, 0}});
    for (const Segment& s : c->arrSegment) EXPECT_TRUE(s.p2 == s.p1 && s.p3 == s.p4);
    ASSERT_EQ(doc.records.size(), 1u);
    Undo();
    ExpectSame(before);
}

TEST_F(BezierEdit, DraggingACurveBendsItThroughThePointer) {
    c->arrSegment = {Cubic({0, 0}, {0, 10}, {10, 10}, {10, 0})};
    tagPOINTF grab;
    std::vector<tagPOINTF> io{{5, 7.55f}};
    ASSERT_EQ(c->GetEditCurve(io, grab), 1);
    EXPECT_NEAR(grab.y, 7.5, 0.01);
    double dx = 0, dy = 2;
    c->CalculateDragLine(1, grab, dx, dy);
    // The midpoint moves by 3/4 of the control points' move.
    EXPECT_NEAR(dx, 0.0, 0.01);
    EXPECT_NEAR(dy, 2.0 / 0.75, 0.3);
    EXPECT_PT(At(c->segDrag, 0.5), 5, 9.5, 0.2);
    c->ModifyEditLine(1, {grab.x, grab.y + 2});
    EXPECT_PT(At(c->arrSegment[0], 0.5), 5, 9.5, 0.2);
    EXPECT_EQ(doc.records.size(), 1u);

    // A replayed drag record puts segments back and asks for a repaint.
    stBezierPos pos[2];
    pos[0].nIndex = 0;
    pos[0].seg = Line({0, 0}, {1, 1});
    pos[1].nIndex = 7;  // past the end: skipped
    const int repaints = doc.repaints;
    c->DoDrag(2, pos);
    EXPECT_TRUE(CBezierCurve::CompareBezierCurve(c->arrSegment[0], pos[0].seg));
    EXPECT_EQ(doc.repaints, repaints + 1);
}

// ---- node operations ---------------------------------------------------------------------------

TEST_F(BezierEdit, ClosingMergingAndAligning) {
    c->arrSegment = Lines({{0, 0}, {10, 0}, {10, 10}});
    c->ClosePloyLine();
    ExpectNodes(*c, {{0, 0}, {10, 0}, {10, 10}, {0, 0}});
    EXPECT_EQ(c->bClosed, 1);
    c->ClosePloyLine();
    EXPECT_EQ(c->arrSegment.size(), 3u);

    c->bClosed = 0;
    c->arrSegment = Lines({{0, 0}, {10, 0}, {10, 10}, {2, 1}});
    c->MergerEditPoint();
    ExpectNodes(*c, {{1, 0.5f}, {10, 0}, {10, 10}, {1, 0.5f}});
    EXPECT_EQ(c->bClosed, 1);
    EXPECT_EQ(c->GetEditType(), -1);

    // Nodes 1 and 3 of a four-segment open curve, aligned left.
    const std::vector<Segment> four = {Cubic({0, 0}, {1, 1}, {2, 4}, {3, 5}), Cubic({3, 5}, {4, 6}, {5, 1}, {6, 0}),
                                       Cubic({6, 0}, {7, 1}, {8, 6}, {2, 5}), Cubic({2, 5}, {9, 4}, {11, 1}, {12, 0})};
    c->bClosed = 0;
    c->arrSegment = four;
    c->arrSelectIndex = {1, 3};
    c->EditPointAligh(0, false);
    ExpectNodes(*c, {{0, 0}, {2, 5}, {6, 0}, {2, 5}, {12, 0}});
    EXPECT_PT(c->arrSegment[1].p2, 4, 6, 0);  // controls stay
    c->arrSegment = four;
    c->EditPointAligh(0, true);
    for (const Segment& s : c->arrSegment) EXPECT_TRUE(s.p2.x == 2 && s.p3.x == 2);
    c->arrSelectIndex = {};
    c->arrSegment = four;
    c->EditPointAligh(2, true);
    ExpectSame(four);
}

TEST_F(BezierEdit, SeparatingCutsAtTheSelectedNodes) {
    auto pieces = [](CCombineShape* comb) {
        std::vector<std::vector<tagPOINTF>> out;
        for (CBaseShape* s : comb->GetChildren()) out.push_back(Nodes(*static_cast<CBezierCurve*>(s)));
        return out;
    };
    c->arrSegment = Lines({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
    c->arrSelectIndex = {2};
    std::unique_ptr<CCombineShape> comb(c->SeparateEditPoint());
    const std::vector<std::vector<tagPOINTF>> halves{{{0, 0}, {1, 0}, {2, 0}}, {{2, 0}, {3, 0}, {4, 0}}};
    EXPECT_EQ(pieces(comb.get()), halves);
    EXPECT_EQ(c->arrSegment.size(), 4u);
    comb->FreeShapePtr();

    c->arrSegment = Lines({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
    c->bClosed = 1;
    c->arrSelectIndex = {1};
    comb.reset(c->SeparateEditPoint());
    ASSERT_EQ(comb->GetChildren().size(), 1u);
    auto* ring = static_cast<CBezierCurve*>(comb->GetChildren()[0]);
    EXPECT_EQ(ring->bClosed, 0);
    ExpectNodes(*ring, {{1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}});
    comb->FreeShapePtr();
}

TEST_F(BezierEdit, ChangingSegmentKinds) {
    c->arrSegment = {Line({0, 0}, {3, 6})};
    c->arrClickPoint = {{1.5f, 3}};
    EXPECT_EQ(c->ModifyToBezier(true), 1);
    EXPECT_EQ(c->arrSegment[0].LineType, 0);
    EXPECT_PT(c->arrSegment[0].p2, 1, 2, 1e-5);
    EXPECT_PT(c->arrSegment[0].p3, 2, 4, 1e-5);
    EXPECT_EQ(c->ModifyToBezier(true), 0);

    // No segment under the click: nothing happens.
    c->arrClickPoint = {{30, 30}};
    EXPECT_EQ(c->ModifyToLine(true), 0);
    EXPECT_EQ(c->ModifyToArc(true), 0);

    // Undo of a curve made straight puts it back behind its predecessor.
    const Segment hump = Cubic({0, 0}, {0, 10}, {10, 10}, {10, 0});
    c->arrSegment = {Line({-10, 0}, {0, 0}), hump, Line({10, 0}, {20, 0})};
    c->arrClickPoint = {{5, 7.5f}};
    doc.records.clear();
    EXPECT_EQ(c->ModifyToLine(false), 1);  // records whatever the flag says
    EXPECT_EQ(c->arrSegment[1].LineType, 1);
    ASSERT_EQ(doc.records.size(), 1u);
    Undo();
    ExpectSame({Line({-10, 0}, {0, 0}), hump, Line({10, 0}, {20, 0})});
    Redo();
    EXPECT_EQ(c->arrSegment[1].LineType, 1);

    // A 45-degree line: the arc's third point must still leave the chord.
    c->arrSegment = {Line({0, 0}, {10, 10})};
    c->arrClickPoint = {{5, 5}};
    EXPECT_EQ(c->ModifyToArc(true), 1);
    ExpectOneCircularArc(c->arrSegment, 0, c->arrSegment.size());
    EXPECT_PT(c->arrSegment.front().p1, 0, 0, 0);
    EXPECT_PT(c->arrSegment.back().p4, 10, 10, 0);
    c->arrClickPoint = {{c->arrSegment[0].p4.x, c->arrSegment[0].p4.y}};
    EXPECT_EQ(c->ModifyToArc(true), 0);

    // An arc at the front of an open curve becomes one line in its place.
    c->arrSegment = TopHalfCircle();
    c->arrSegment.push_back(Line({-10, 0}, {-10, -10}));
    c->arrClickPoint = {{0, 10}};
    EXPECT_EQ(c->ModifyToLine(true), 1);
    ExpectNodes(*c, {{10, 0}, {-10, 0}, {-10, -10}});
}

TEST_F(BezierEdit, SegmentChainsAreOrderedEndToStart) {
    const Segment a = Line({0, 0}, {1, 0}), b = Line({1, 0}, {2, 0}), d = Line({2, 0}, {3, 0});
    std::vector<Segment> out{Line({9, 9}, {8, 8})};
    CBezierCurve::OrderCurve({b, d, a}, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(CBezierCurve::CompareBezierCurve(out[0], a));
    EXPECT_TRUE(CBezierCurve::CompareBezierCurve(out[1], b));
    EXPECT_TRUE(CBezierCurve::CompareBezierCurve(out[2], d));
    EXPECT_FALSE(CBezierCurve::CompareBezierCurve(a, Line({0, 0}, {1, 0.001f})));
}

// ---- undo and redo ----------------------------------------------------------------------------------

// The same segments, bit for bit, in the same order.
void ExpectExactly(const std::vector<Segment>& got, const std::vector<Segment>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const Segment& a = got[i];
        const Segment& b = want[i];
        EXPECT_TRUE(a.p1 == b.p1 && a.p2 == b.p2 && a.p3 == b.p3 && a.p4 == b.p4 && a.LineType == b.LineType &&
                    a.ArcStartPoint == b.ArcStartPoint && a.ArcEndPoint == b.ArcEndPoint)
            << "segment " << i;
    }
}

TEST_F(BezierEdit, UndoPutsSegmentsBackWhereTheyStood) {
    // A closed figure eight through (0, 0) twice, with a segment of no
    // length at (10, 10) and a half circle: ends meet everywhere, so only
    // the indices can tell where a segment belongs.
    std::vector<Segment> eight = Lines({{0, 0}, {10, 0}, {10, 10}, {10, 10}, {0, 0}, {-10, 0}});
    const std::vector<Segment> arc = [] {
        std::vector<Segment> a;
        EXPECT_TRUE(CBezierCurve::AppendArcThrough3Points(a, {-10, 0}, {-5, -5}, {0, 0}));
        return a;
    }();
    eight.insert(eight.end(), arc.begin(), arc.end());
    const std::vector<std::function<void()>> edits = {
        [&] { c->SetEditType(0), c->ModifyEditPoint(0, {1, -1}); },       // node 0 of the ring
        [&] { c->SetEditType(0), c->ModifyEditPoint(4, {0.5f, 0.5f}); },  // the crossing
        [&] { c->SetEditType(0), c->ModifyEditPoint(3, {11, 11}); },      // beside the empty segment
        [&] { c->DeletePoint({4}); },
        [&] { c->DeletePoint({0}); },
        [&] { c->InsertPoint(3, {5, 5}, 1, 1); },
        [&] { c->arrClickPoint = {{5, 0}}, c->ModifyToArc(true); },
        [&] { c->arrClickPoint = {{-5, -5}}, c->ModifyToLine(true); },
    };
    for (size_t k = 0; k < edits.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "edit " << k);
        c->arrSegment = eight;
        c->bClosed = 1;
        doc.records.clear();
        edits[k]();
        ASSERT_EQ(doc.records.size(), 1u);
        ExpectJoined(*c);
        const std::vector<Segment> after = Snapshot();
        const int closedAfter = c->bClosed;
        for (int cycle = 0; cycle < 3; ++cycle) {
            Undo();
            ExpectExactly(c->arrSegment, eight);
            EXPECT_EQ(c->bClosed, 1);
            Redo();
            ExpectExactly(c->arrSegment, after);
            EXPECT_EQ(c->bClosed, closedAfter);
        }
    }
}

// ---- bad input ------------------------------------------------------------------------------------

TEST_F(BezierEdit, BadIndicesAndPointsChangeNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<tagPOINTF> none;
    EXPECT_EQ(c->GetEditPoint(none), 0);
    EXPECT_EQ(c->DeletePoint({0, 3}), 1);  // an empty curve: nothing to delete
    EXPECT_EQ(c->ClosePloyLine(), 0);
    EXPECT_EQ(c->MergerEditPoint(), 0);
    std::unique_ptr<CCombineShape> comb(c->SeparateEditPoint());
    EXPECT_TRUE(comb->GetChildren().empty());

    c->arrSegment = Lines({{0, 0}, {10, 0}, {10, 10}});
    const auto before = Snapshot();
    c->SetEditType(0);
    c->ModifyEditPoint(9, {1, 1});
    c->ModifyEditPoint(1, {nan, 1});
    c->SetEditType(1);
    c->ModifyEditPoint(-3, {1, 1});
    EXPECT_EQ(c->InsertPoint(5, {1, 1}, 1, 1), 0);
    EXPECT_EQ(c->InsertPoint(0, {nan, nan}, 1, 1), 0);
    EXPECT_EQ(c->InsertPointInArc({1, 1}, 0, true), 0);
    double dx = 1, dy = 1;
    EXPECT_EQ(c->CalculateDragLine(7, {1, 1}, dx, dy), 0);
    EXPECT_EQ(c->ModifyEditLine(0, {1, 1}), 0);
    c->ModifyEditLine(1, {5, 5});  // no drag was started on it
    EXPECT_EQ(c->DoDrag(2, nullptr), 0);
    c->EditPointAligh(9, true);
    c->ChangeCurve(stBezierCurve{}, 4);
    const tagPOINTF four[4] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}};
    c->AddDelPoint(0, stBezierPos{}, stBezierPos{}, four);  // removing at 0 takes the first segment
    ExpectSame({before[1]});
    EXPECT_EQ(c->MoveArc(0, 1.0), 1);
    EXPECT_EQ(c->MoveArc(40, 1.0), 1);

    // Absurd coordinates are hit-tested without hanging.
    c->arrSegment = {Cubic({0, 0}, {1e30f, 1e30f}, {-1e30f, 1e30f}, {1, 0})};
    EXPECT_GE(c->IsMe({0.5f, 0}), 0);
    double t = -1;
    c->DistanceBz(c->arrSegment[0], {0, 0}, t);
}

}  // namespace
