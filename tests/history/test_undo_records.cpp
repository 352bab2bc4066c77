// Replays of the node-edit records on real polylines, curves and circles.
#include <gtest/gtest.h>

#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records.h"
#include "morvik/shapes/circle.h"
#include "support/shape_support.h"

namespace {

struct Desk {
    CBaseDoc doc;
    CBaseView view{&doc};
    CCore core{&doc, &view};
};

std::vector<tagPOINTF> Row(int n) {
    std::vector<tagPOINTF> pts;
    for (int i = 0; i < n; ++i) pts.push_back({static_cast<float>(i), 0.0f});
    return pts;
}

void ExpectPoints(const std::vector<tagPOINTF>& got, const std::vector<tagPOINTF>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_FLOAT_EQ(got[i].x, want[i].x) << "point " << i;
        EXPECT_FLOAT_EQ(got[i].y, want[i].y) << "point " << i;
    }
}


TEST(NodeRecords, PolylineInsertionsAreUndoneLastFirst) {
    Desk d;
    auto* line = new CPolyLine();
    d.doc.AddShape(line);
    const tagPOINTF a{10, 10}, b{20, 20};
    // The edit inserted a before index 2, then b before index 5.
    line->arrPoint = {{0, 0}, {1, 0}, a, {2, 0}, {3, 0}, b, {4, 0}, {5, 0}};
    CUND_PolyLineAddDel ins(new stPolylineAddDel{{line->GetBaseID()}, {{2, a}, {5, b}}, 1});
    EXPECT_EQ(ins.GetKind(), 7);
    EXPECT_EQ(ins.OnEditUndo(&d.core), 1);
    ExpectPoints(line->arrPoint, Row(6));
    ins.OnEditRedo(&d.core);
    ExpectPoints(line->arrPoint, {{0, 0}, {1, 0}, a, {2, 0}, {3, 0}, b, {4, 0}, {5, 0}});

    // A deletion of indices 4 and 1 (in that order) is undone by inserting
    // index 1 first.
    line->arrPoint = {{0, 0}, {2, 0}, {3, 0}, {5, 0}};
    CUND_PolyLineAddDel del(new stPolylineAddDel{{line->GetBaseID()}, {{4, {4, 0}}, {1, {1, 0}}}, 0});
    del.OnEditUndo(&d.core);
    ExpectPoints(line->arrPoint, Row(6));
    del.OnEditRedo(&d.core);
    ExpectPoints(line->arrPoint, {{0, 0}, {2, 0}, {3, 0}, {5, 0}});
}

TEST(NodeRecords, RemovingTheEndOfAClosedPolylineIsUndoneClosed) {
    // The document hands the polyline's own records to the history.
    struct HistoryDoc : CBaseDoc {
        CCore core{this, nullptr};
        void AddUndo(CUND_Base* record) override { core.AddUndoItem(record); }
    } doc;
    auto* ring = new CPolyLine();
    doc.AddShape(ring);
    ring->SetDocView(&doc, nullptr);
    const std::vector<tagPOINTF> square{{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}};
    ring->arrPoint = square;
    ring->bClosed = 1;
    ring->RemovePoint(4);
    EXPECT_EQ(ring->bClosed, 0);  // its ends no longer meet
    doc.core.OnEditUndo();
    ExpectPoints(ring->arrPoint, square);
    EXPECT_EQ(ring->bClosed, 1);
    doc.core.OnEditRedo();
    EXPECT_EQ(ring->arrPoint.size(), 4u);
    EXPECT_EQ(ring->bClosed, 0);

    // Several points, the first among them; an open polyline stays open.
    int picked[] = {0, 2};
    ring->arrPoint = square;
    ring->bClosed = 1;
    ring->RemovePoint_Mutli(picked, 2);
    doc.core.OnEditUndo();
    ExpectPoints(ring->arrPoint, square);
    EXPECT_EQ(ring->bClosed, 1);
    ring->bClosed = 0;
    ring->RemovePoint(4);
    doc.core.OnEditUndo();
    EXPECT_EQ(ring->bClosed, 0);
}

TEST(NodeRecords, PolylineDragRestoresEitherSide) {
    Desk d;
    auto* line = new CPolyLine();
    d.doc.AddShape(line);
    line->arrPoint = {{0, 0}, {7, 7}, {2, 0}};
    auto* entries = new std::vector<stPolylineDragEntry>(1);
    (*entries)[0].after = {{1, {7, 7}}};
    (*entries)[0].before = {{1, {1, 0}}};
    (*entries)[0].id = line->GetBaseID();
    entries->push_back(stPolylineDragEntry{{}, {}, GUID{5, 5, 5, {}}});  // shape gone
    CUND_PolyLineDrag rec(entries);
    const int painted = d.view.GetInvalidateCount();
    rec.OnEditUndo(&d.core);
    ExpectPoints(line->arrPoint, Row(3));
    EXPECT_GT(d.view.GetInvalidateCount(), painted);
    rec.OnEditRedo(&d.core);
    ExpectPoints(line->arrPoint, {{0, 0}, {7, 7}, {2, 0}});
}

TEST(NodeRecords, CurveSegmentChangesAndDragsComeBack) {
    Desk d;
    auto* curve = new CBezierCurve();
    d.doc.AddShape(curve);
    const BEZIER_4POINTF_DRAW s0 = testsupport::Line({0, 0}, {1, 0});
    const BEZIER_4POINTF_DRAW s1 = testsupport::Line({1, 0}, {2, 0});
    const BEZIER_4POINTF_DRAW x = testsupport::Line({1, 0}, {2, 1});
    curve->arrSegment = {s0, x};  // the edit turned s1 into x
    auto* changes = new std::vector<stBezierCurve>{stBezierCurve{{x}, {s1}, curve->GetBaseID()}};
    CUND_BezierChangeCurve change(changes);
    const int painted = d.view.GetInvalidateCount();
    change.OnEditUndo(&d.core);
    ASSERT_EQ(curve->arrSegment.size(), 2u);
    EXPECT_FLOAT_EQ(curve->arrSegment[1].p4.y, 0.0f);
    change.OnEditRedo(&d.core);
    ASSERT_EQ(curve->arrSegment.size(), 2u);
    EXPECT_FLOAT_EQ(curve->arrSegment[1].p4.y, 1.0f);
    EXPECT_EQ(d.view.GetInvalidateCount(), painted);  // no repaint of its own

    auto* drag = new stBezierDragUndo;
    drag->ids = {curve->GetBaseID()};
    drag->posOld[0] = {1, s1};
    drag->posNew[0] = {1, x};
    for (int i = 1; i < 4; ++i) drag->posOld[i].nIndex = drag->posNew[i].nIndex = 99;
    drag->nCount = 9;  // more than the arrays hold: only four are used
    CUND_BezierDrag rec(drag);
    rec.OnEditUndo(&d.core);
    ASSERT_EQ(curve->arrSegment.size(), 2u);
    EXPECT_FLOAT_EQ(curve->arrSegment[1].p4.y, 0.0f);
    drag->nCount = 1;
    rec.OnEditRedo(&d.core);
    EXPECT_FLOAT_EQ(curve->arrSegment[1].p4.y, 1.0f);
    EXPECT_FLOAT_EQ(curve->arrSegment[0].p4.x, 1.0f);
}

TEST(NodeRecords, CircleRecordRestoresOnlyTheFirstCircle) {
    Desk d;
    auto* first = new CCircle();
    auto* second = new CCircle();
    d.doc.AddShape(first);
    d.doc.AddShape(second);
    first->Radius = second->Radius = 5.0;
    auto* p = new stCircleRDUndo;
    p->ids = {first->GetBaseID(), second->GetBaseID()};
    p->dataOld.Radius = 2.0;
    p->dataOld.arcPoints = {{2, 0}, {0, 2}};
    p->dataNew.Radius = 5.0;
    CUND_Circle_RD rec(p);
    rec.OnEditUndo(&d.core);
    EXPECT_DOUBLE_EQ(first->Radius, 2.0);
    ExpectPoints(first->arcPoints, {{2, 0}, {0, 2}});
    EXPECT_DOUBLE_EQ(second->Radius, 5.0);
    rec.OnEditRedo(&d.core);
    EXPECT_DOUBLE_EQ(first->Radius, 5.0);

    CUND_Circle_RD empty(new stCircleRDUndo);
    EXPECT_EQ(empty.OnEditUndo(&d.core), 1);
}

TEST(NodeRecords, CurveFormTakesTheReplacedShapesPlace) {
    Desk d;
    auto *a = new CPolyLine(), *shape = new CPolyLine(), *b = new CPolyLine();
    for (auto* s : {a, shape, b}) d.doc.AddShape(s);
    auto* curve = new CBezierCurve();  // not yet listed: the record hands it over
    CUND_ToCurve rec(new stToCurveUndo{shape, curve, {}});
    rec.OnEditRedo(&d.core);
    EXPECT_EQ(d.doc.GetShapeList(), (std::list<CBaseShape*>{a, curve, b}));
    rec.OnEditUndo(&d.core);
    EXPECT_EQ(d.doc.GetShapeList(), (std::list<CBaseShape*>{a, shape, b}));
    rec.OnEditRedo(&d.core);
    // Once the curve form is gone from the list, undo finds nothing.
    d.doc.DeleteSelShapeByUUID(curve->GetBaseID());
    rec.OnEditUndo(&d.core);
    EXPECT_EQ(d.doc.GetShapeList(), (std::list<CBaseShape*>{a, b}));
}

}  // namespace
