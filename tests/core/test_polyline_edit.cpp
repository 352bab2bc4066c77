// Node editing of the polyline: point edits and their replay through the
// editing history, drags, merging, selection, splitting and the curve,
// offset and dash conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>
#include <memory>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/core/bezier.h"
#include "morvik/core/offset_joins.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_records.h"
#include "support/shape_support.h"

namespace {

using Pts = std::vector<tagPOINTF>;

// A document whose records go to an editing history; the polyline under
// edit is one of its shapes.
struct EditDoc : CBaseDoc {
    CBaseView view{this};
    CCore core{this, &view};
    int records = 0;
    void AddUndo(CUND_Base* record) override {
        ++records;
        core.AddUndoItem(record);
    }
    CPolyLine* Add(const Pts& pts, int closed = 0) {
        auto* line = new CPolyLine();
        line->arrPoint = pts;
        line->bClosed = closed;
        AddShape(line);
        line->SetDocView(this, &view);
        return line;
    }
};

// Owns what a conversion hands out.
struct Owned {
    std::vector<CBaseShape*> shapes;
    ~Owned() {
        for (CBaseShape* s : shapes) delete s;
    }
    CPolyLine* Line(size_t i) const { return dynamic_cast<CPolyLine*>(shapes.at(i)); }
};

using testsupport::ExpectPoints;

Pts Ring10() { return {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}; }

double Length(const Pts& pts) {
    double len = 0;
    for (size_t i = 1; i < pts.size(); ++i) len += std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
    return len;
}

// Distance of p from the outline of Ring10, negative inside; outside it is
// Euclidean for rounded offsets and the larger axis distance for mitred ones.
double SignedDistToRing10(tagPOINTF p, bool round) {
    const double dx = std::max({-p.x, 0.0f, p.x - 10}), dy = std::max({-p.y, 0.0f, p.y - 10});
    if (dx > 0 || dy > 0) return round ? std::hypot(dx, dy) : std::max(dx, dy);
    return -std::min({p.x, 10 - p.x, p.y, 10 - p.y});
}

}  // namespace

TEST(PolyLineEdit, InsertAndRemoveAreRecordedAndReplayed) {
    EditDoc doc;
    CPolyLine* line = doc.Add({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}});
    const Pts original = line->arrPoint;

    line->InsertPoint(0, {9, 9});
    line->InsertPoint(6, {9, 9});
    EXPECT_EQ(doc.records, 0);
    line->InsertPoint(2, {1.5f, 1});
    ASSERT_EQ(line->arrPoint.size(), 7u);
    EXPECT_EQ(line->arrPoint[2], (tagPOINTF{1.5f, 1}));
    doc.core.OnEditUndo();
    EXPECT_EQ(line->arrPoint, original);
    doc.core.OnEditRedo();
    EXPECT_EQ(line->arrPoint[2], (tagPOINTF{1.5f, 1}));
    doc.core.OnEditUndo();

    int idx[] = {1, 3, 2};
    line->RemovePoint_Mutli(idx, 3);
    EXPECT_EQ(std::vector<int>(idx, idx + 3), (std::vector<int>{3, 2, 1}));
    ExpectPoints(line->arrPoint, {{0, 0}, {4, 0}, {5, 0}});
    doc.core.OnEditUndo();
    EXPECT_EQ(line->arrPoint, original);
    doc.core.OnEditRedo();
    ExpectPoints(line->arrPoint, {{0, 0}, {4, 0}, {5, 0}});
    doc.core.OnEditUndo();

    // Repeats and indices outside the polyline remove nothing, in the edit
    // and in its undo.
    int odd[] = {4, 4, 9, -1, 1};
    line->RemovePoint_Mutli(odd, 5);
    ExpectPoints(line->arrPoint, {{0, 0}, {2, 0}, {3, 0}, {5, 0}});
    doc.core.OnEditUndo();
    EXPECT_EQ(line->arrPoint, original);

    CPolyLine* three = doc.Add({{0, 0}, {1, 1}, {2, 0}});
    three->RemovePoint(1);
    three->RemovePoint(0);  // two points left: refused
    three->RemovePoint(-1);
    EXPECT_EQ(three->arrPoint.size(), 2u);
    doc.core.OnEditUndo();
    ExpectPoints(three->arrPoint, {{0, 0}, {1, 1}, {2, 0}});

    // The replays themselves: indices outside change nothing; the
    // selection and clicked points go.
    three->arrSelectIndex = {1};
    three->arrClickPoint = {{1, 0}};
    three->AddDelPoint(1, {3, {3, 0}});
    EXPECT_TRUE(three->arrSelectIndex.empty() && three->arrClickPoint.empty());
    three->AddDelPoint(1, {5, {9, 9}});
    three->AddDelPoint(0, {-1, {}});
    three->SetPoints({{7, {9, 9}}, {-2, {9, 9}}, {1, {1, 5}}});
    ExpectPoints(three->arrPoint, {{0, 0}, {1, 5}, {2, 0}, {3, 0}});
    EXPECT_FLOAT_EQ(three->GetShapeRect().Y, 5.0f);
}

TEST(PolyLineEdit, DragsKeepTheEndsOfAClosedPolylineTogether) {
    EditDoc doc;
    CPolyLine* ring = doc.Add(Ring10(), 1);
    ring->ModifyEditPoint(0, tagPOINTF{-1, -1}, false);
    EXPECT_EQ(ring->arrPoint.front(), (tagPOINTF{-1, -1}));
    EXPECT_EQ(ring->arrPoint.back(), (tagPOINTF{-1, -1}));
    EXPECT_EQ(doc.records, 1);
    doc.core.OnEditUndo();
    EXPECT_EQ(ring->arrPoint, Ring10());

    // The last segment also drags point 0, recorded or not.
    for (bool undo : {true, false}) {
        ring->arrPoint = Ring10();
        ring->ModifyEditLine(4, 1.0, 2.0, undo);
        ExpectPoints(ring->arrPoint, {{1, 2}, {10, 0}, {10, 10}, {1, 12}, {1, 2}});
    }
    EXPECT_EQ(doc.records, 2);
    doc.core.OnEditUndo();
    EXPECT_EQ(ring->arrPoint, Ring10());
    ring->ModifyEditLine(1, 0.0, 1.0);
    ExpectPoints(ring->arrPoint, {{0, 1}, {10, 1}, {10, 10}, {0, 10}, {0, 1}});

    // A closed two-point polyline: each point moves once.
    CPolyLine* pair = doc.Add({{0, 0}, {0, 0}}, 1);
    pair->ModifyEditLine(1, 1.0, 0.0, false);
    ExpectPoints(pair->arrPoint, {{1, 0}, {1, 0}});

    // The slot-28 form records nothing; indices outside are ignored.
    const int before = doc.records;
    static_cast<CBaseShape*>(ring)->ModifyEditPoint(2, tagPOINTF{20, 20});
    EXPECT_EQ(ring->arrPoint[2], (tagPOINTF{20, 20}));
    ring->ModifyEditPoint(5, tagPOINTF{1, 1}, false);
    ring->ModifyEditLine(0, 1.0, 1.0);
    ring->ModifyEditLine(5, 1.0, 1.0);
    EXPECT_EQ(doc.records, before);
}

TEST(PolyLineEdit, MergeClosesAndItsUndoReopens) {
    EditDoc doc;
    CPolyLine* ring = doc.Add(Ring10(), 1);
    EXPECT_EQ(ring->MergerEditPoint(false, &doc), 1);
    EXPECT_EQ(ring->arrPoint, Ring10());
    EXPECT_EQ(doc.records, 0);

    CPolyLine* open = doc.Add({{0, 0}, {10, 0}, {10, 10}, {2, 2}});
    EXPECT_EQ(open->MergerEditPoint(false, &doc), 1);
    EXPECT_EQ(open->bClosed, 1);
    ExpectPoints(open->arrPoint, {{1, 1}, {10, 0}, {10, 10}, {1, 1}});
    doc.core.OnEditUndo();
    ExpectPoints(open->arrPoint, {{0, 0}, {10, 0}, {10, 10}, {2, 2}});
    // Open again, so dragging point 0 no longer drags the other end.
    EXPECT_EQ(open->bClosed, 0);
    doc.core.OnEditRedo();
    EXPECT_EQ(open->bClosed, 1);
    doc.core.OnEditUndo();
    open->ModifyEditPoint(0, tagPOINTF{5, 5}, true);
    EXPECT_EQ(open->arrPoint.back(), (tagPOINTF{2, 2}));

    // Without a document the record is dropped, the merge done.
    CPolyLine lone;
    lone.arrPoint = {{0, 0}, {4, 2}};
    lone.MergerEditPoint(false, nullptr);
    ExpectPoints(lone.arrPoint, {{2, 1}, {2, 1}});
}

TEST(PolyLineEdit, RubberBandSelectionAndAlignment) {
    CPolyLine line;
    line.arrPoint = {{-5, -1}, {-3, -4}, {-4, -2}, {0, 0}, {2, 2}};
    // Strictly inside: the point on the border (0, 0) is out.
    line.GetRectInEditPoint({0, 0}, {-6, -5});
    EXPECT_EQ(line.arrSelectIndex, (std::vector<int>{0, 1, 2}));

    const Pts base = line.arrPoint;
    const float want[] = {-5, -3, -1, -4};  // modes 0..3
    for (int mode = 0; mode < 4; ++mode) {
        line.arrPoint = base;
        line.arrSelectIndex = {0, 1, 2, 17, -3};
        line.EditPointAligh(mode);
        for (int i = 0; i < 3; ++i) {
            const float v = mode < 2 ? line.arrPoint[i].x : line.arrPoint[i].y;
            EXPECT_FLOAT_EQ(v, want[mode]) << "mode " << mode << " point " << i;
        }
        EXPECT_EQ(line.arrPoint[3], base[3]);
    }
    line.arrPoint = base;
    line.EditPointAligh(4);
    EXPECT_EQ(line.arrPoint, base);

    CPolyLine ring;
    ring.arrPoint = Ring10();
    ring.bClosed = 1;
    ring.arrSelectIndex = {0, 1};
    ring.EditPointAligh(1);
    EXPECT_EQ(ring.arrPoint.front(), ring.arrPoint.back());
    EXPECT_FLOAT_EQ(ring.arrPoint.back().x, 10.0f);
}

TEST(PolyLineEdit, SegmentPickGivesTheFootAndTheNeighbours) {
    CPolyLine line;
    line.arrPoint = {{0, 0}, {10, 0}, {10, 10}, {20, 20}};
    std::vector<tagPOINTF> list = {{4, 0.5f}};
    tagPOINTF foot;
    EXPECT_EQ(line.GetEditLine(list, foot), 1);
    EXPECT_NEAR(foot.x, 4.0f, 1e-5);
    EXPECT_NEAR(foot.y, 0.0f, 1e-5);
    ExpectPoints(list, {{4, 0.5f}, {0, 0}, {0, 0}, {10, 0}, {10, 10}});

    list = {{10.5f, 6}};
    EXPECT_EQ(line.GetEditLine(list, foot), 2);
    EXPECT_EQ(foot, (tagPOINTF{10, 6}));
    list = {{16, 15}};
    EXPECT_EQ(line.GetEditLine(list, foot), 3);
    EXPECT_NEAR(foot.x, 15.5f, 1e-4);

    EXPECT_EQ(list.back(), (tagPOINTF{20, 20}));  // the last point stands in for i+1

    list = {{50, -50}};
    EXPECT_EQ(line.GetEditLine(list, foot), 0);
    EXPECT_EQ(list.size(), 1u);

    // A long polyline is picked in its own points, not in a thinned copy.
    CPolyLine dense;
    for (int i = 0; i <= 12000; ++i) dense.arrPoint.push_back({0.01f * i, 0.0f});
    list = {{100.005f, 0.1f}};
    const int hit = dense.GetEditLine(list, foot);
    ASSERT_GT(hit, 0);
    EXPECT_NEAR(dense.arrPoint[hit].x, 100.0f, 1.1f);
}

TEST(PolyLineEdit, SplittingAtSelectedPoints) {
    const Pts six = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}};
    auto split = [](CPolyLine& line) {
        std::unique_ptr<CCombineShape> c(line.SeparateEditPoint());
        std::vector<Pts> parts;
        for (CBaseShape* s : c->GetChildren()) {
            auto* p = dynamic_cast<CPolyLine*>(s);
            parts.push_back(p != nullptr ? p->arrPoint : Pts{});
        }
        c->FreeShapePtr();
        return parts;
    };
    CPolyLine open;
    open.arrPoint = six;
    open.arrSelectIndex = {4, 2};
    const int counter = ShapeCounterOf(SHAPE_POLYLINE).Peek();
    auto parts = split(open);
    EXPECT_EQ(ShapeCounterOf(SHAPE_POLYLINE).Peek(), counter);
    ASSERT_EQ(parts.size(), 3u);
    ExpectPoints(parts[0], {{0, 0}, {1, 0}, {2, 0}});
    ExpectPoints(parts[1], {{2, 0}, {3, 0}, {4, 0}});
    ExpectPoints(parts[2], {{4, 0}, {5, 0}});
    open.arrSelectIndex.clear();  // nothing selected: the whole polyline
    parts = split(open);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0], six);

    CPolyLine ring;
    ring.arrPoint = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {1, 1}, {0, 1}, {0, 0}};
    ring.bClosed = 1;
    ring.arrSelectIndex = {2};
    const int ringCounter = ShapeCounterOf(SHAPE_POLYLINE).Peek();
    parts = split(ring);
    EXPECT_EQ(ShapeCounterOf(SHAPE_POLYLINE).Peek(), ringCounter);
    ASSERT_EQ(parts.size(), 1u);
    ExpectPoints(parts[0], {{2, 0}, {2, 1}, {1, 1}, {0, 1}, {0, 0}, {1, 0}, {2, 0}});

    ring.arrSelectIndex = {4, 2};
    parts = split(ring);
    ASSERT_EQ(parts.size(), 2u);
    ExpectPoints(parts[0], {{1, 1}, {0, 1}, {0, 0}, {1, 0}, {2, 0}});
    ExpectPoints(parts[1], {{2, 0}, {2, 1}, {1, 1}});

    // Opened at its seam: one open curve through the same points.
    ring.arrSelectIndex = {0};
    std::unique_ptr<CCombineShape> c(ring.SeparateEditPoint());
    ASSERT_EQ(c->GetChildren().size(), 1u);
    auto* curve = dynamic_cast<CBezierCurve*>(c->GetChildren()[0]);
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->arrSegment.size(), 6u);
    EXPECT_EQ(curve->bClosed, 0);
    c->FreeShapePtr();
}

TEST(PolyLineEdit, ToBezierExBuildsSegmentsOfTheGivenType) {
    CPolyLine line;
    line.arrPoint = {{0, 0}, {1, 0}, {1, 1}};
    line.arrClickPoint = {{0.5f, 0}, {9, 9}};
    for (int type : {0, 1, 2}) {  // an arc span without its arc is not built
        std::unique_ptr<CBezierCurve> curve(dynamic_cast<CBezierCurve*>(line.ToBezierEx(type)));
        ASSERT_EQ(curve->arrSegment.size(), 2u);
        EXPECT_EQ(curve->arrSegment[1].LineType, type == 0 ? 0 : 1);
        EXPECT_EQ(curve->arrSegment[1].p3, (tagPOINTF{1, 1}));
        EXPECT_EQ(curve->arrClickPoint, (Pts{{0.5f, 0}}));
    }
}

TEST(PolyLineEdit, OffsetOfASingleSegmentIsAParallelAtDistanceD) {
    struct Case {
        Pts pts;
        tagPOINTF side;
        tagPOINTF move;
    };
    const float h = 2.0f / std::sqrt(2.0f);
    const Case cases[] = {
        {{{0, 0}, {10, 0}}, {5, 3}, {0, 2}},
        {{{10, 0}, {0, 0}}, {5, -3}, {0, -2}},
        {{{0, 10}, {0, 0}}, {-3, 5}, {-2, 0}},
        {{{0, 0}, {10, 10}}, {0, 10}, {-h, h}},
        {{{0, 0}, {-10, 10}}, {0, 10}, {h, h}},
        {{{0, 0}, {-10, 30}}, {5, 5}, {2 * 30 / std::sqrt(1000.0f), 2 * 10 / std::sqrt(1000.0f)}},
        // Nearly vertical: moved across the segment, not along it.
        {{{0, 0}, {0.05f, 10}}, {5, 5}, {2.0f, -0.01f}},
    };
    for (const Case& c : cases) {
        CPolyLine line;
        line.arrPoint = c.pts;
        Owned out;
        line.Offset(out.shapes, 2.0f, false, false, c.side);
        ASSERT_EQ(out.shapes.size(), 1u);
        ExpectPoints(out.Line(0)->arrPoint,
                     {{c.pts[0].x + c.move.x, c.pts[0].y + c.move.y}, {c.pts[1].x + c.move.x, c.pts[1].y + c.move.y}},
                     2e-3f);
    }
}

TEST(PolyLineEdit, OffsetOfPolygonsAndOpenPolylines) {
    // A closed square offset by 1: mitred outward a 12 x 12 square, inward
    // 8 x 8 (mitred or rounded), rounded outward 40 + 2 pi long with every
    // point at distance 1.
    struct Case {
        bool inward, round;
        double dist, length;
    };
    for (const Case& c : {Case{false, false, 1, 48}, Case{true, false, -1, 32}, Case{true, true, -1, 32},
                          Case{false, true, 1, 40 + 2 * M_PI}}) {
        CPolyLine ring;
        ring.arrPoint = Ring10();
        Owned out;
        ring.Offset(out.shapes, 1.0f, c.inward, c.round, {});
        ASSERT_EQ(out.shapes.size(), 1u);
        const Pts& pts = out.Line(0)->arrPoint;
        EXPECT_EQ(pts.front(), pts.back());
        for (const tagPOINTF& p : pts) EXPECT_NEAR(SignedDistToRing10(p, c.round), c.dist, 1e-5);
        EXPECT_NEAR(Length(pts), c.length, 1e-3);
    }
    // A dumbbell whose inward offset falls apart: both halves come out.
    {
        CPolyLine bell;
        bell.arrPoint = {{0, 0}, {10, 0}, {10, 4.5f}, {20, 4.5f}, {20, 0}, {30, 0}, {30, 10},
                         {20, 10}, {20, 5.5f}, {10, 5.5f}, {10, 10}, {0, 10}, {0, 0}};
        Owned out;
        bell.Offset(out.shapes, 1.0f, true, false, {});
        ASSERT_EQ(out.shapes.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            Gdiplus::RectF r = testsupport::RectOf(*out.shapes[i]);
            EXPECT_NEAR(r.Width, 8.0f, 1e-4);
            EXPECT_NEAR(r.Height, 8.0f, 1e-4);
        }
    }
    // An open U: closed through the middle of its ends, outward gives the
    // surrounding ring, inward the one inside.
    for (bool inward : {false, true}) {
        CPolyLine u;
        u.arrPoint = {{0, 10}, {0, 0}, {10, 0}, {10, 10}};
        Owned out;
        u.Offset(out.shapes, 1.0f, inward, false, {});
        ASSERT_EQ(out.shapes.size(), 1u);
        const float grow = inward ? -1.0f : 1.0f;
        testsupport::ExpectRect(testsupport::RectOf(*out.shapes[0]), -grow, 10 + grow, 10 + 2 * grow, 10 + 2 * grow);
        EXPECT_EQ(out.Line(0)->GetPenIndex(), 0);
    }
    // Absurd requests produce nothing.
    CPolyLine ring;
    ring.arrPoint = Ring10();
    Owned out;
    ring.Offset(out.shapes, NAN, false, true, {});
    ring.Offset(out.shapes, 1e30f, false, true, {});
    ring.arrPoint = {{0, 0}, {NAN, 1}};
    ring.Offset(out.shapes, 1.0f, false, false, {});
    ring.arrPoint.clear();
    ring.Offset(out.shapes, 1.0f, false, false, {});
    EXPECT_TRUE(out.shapes.empty());
}

TEST(PolyLineEdit, RoundJoinBudgetCountsTheClosingCorner) {
    // A square turns a full circle, its closing corner included, whether or
    // not its last point repeats the first; an open path turns only between
    // its ends.
    const ClipperLib::Path square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    ClipperLib::Path repeated = square;
    repeated.push_back(square.front());
    EXPECT_NEAR(offset_joins::TotalTurn(square, true), 2 * M_PI, 1e-12);
    EXPECT_NEAR(offset_joins::TotalTurn(repeated, true), 2 * M_PI, 1e-12);
    EXPECT_NEAR(offset_joins::TotalTurn({{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}}, false), M_PI, 1e-12);

    // At a distance where Clipper's default rounding would spend more than
    // the budget on a full turn, but not on three quarters of one, the
    // rounding is coarsened to fit the budget.
    const double delta = 1e12;
    const double tolerance = offset_joins::RoundArcTolerance(delta, offset_joins::TotalTurn(repeated, true), 5);
    ASSERT_GT(tolerance, 0.25);
    const double points = M_PI / std::acos(1 - tolerance / delta);  // Clipper's count for a full turn
    EXPECT_LE(points, offset_joins::kRoundJoinPointBudget * 1.001);  // acos near 1 is not exact
    EXPECT_EQ(offset_joins::RoundArcTolerance(delta, 1.5 * M_PI, 5), 0.0);
}

TEST(PolyLineEdit, PointsThatAreNotNumbersNeverGetIn) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EditDoc doc;
    const Pts original{{0, 0}, {1, 0}, {2, 0}, {3, 0}};
    CPolyLine* line = doc.Add(original);
    line->InsertPoint(1, {nan, 0});
    line->ModifyEditPoint(2, {0, inf}, false);
    line->ModifyEditPoint(2, {nan, nan});
    line->ModifyEditLine(1, nan, 0);
    line->ModifyEditLine(1, 0, 1e39);
    line->AddDelPoint(1, {1, {nan, 1}});
    line->SetPoints({{1, {1, nan}}});
    line->Move(nan, 0);
    line->Rotate(0, {nan, 0});
    line->Zoom({0, 0}, 1e39, 1);
    line->Slope({0, 0}, nan, 0);
    EXPECT_EQ(line->arrPoint, original);
    EXPECT_EQ(doc.records, 0);

    // Points appended from outside the edits: the mark data leaves them
    // out, as the file read below does.
    line->arrPoint = {{0, 0}, {1, 0}, {nan, 0}, {2, 0}, {3, inf}};
    line->SetGetDataForce(true);
    tagMarkDataPar rec;
    ASSERT_TRUE(line->GetMarkData(rec, nullptr));
    ASSERT_EQ(rec.arrPaths.size(), 1u);
    EXPECT_EQ(rec.arrPaths[0].arrPolylines, (std::vector<Pts>{{{0, 0}, {1, 0}, {2, 0}}}));

    // Nor are such points read from a file.
    std::list<CBaseShape*> saved{line};
    const testsupport::Bytes bytes = testsupport::SavedList(saved);
    std::list<CBaseShape*> back;
    ASSERT_TRUE(testsupport::LoadList(bytes, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(dynamic_cast<CPolyLine&>(*back.front()).arrPoint, (Pts{{0, 0}, {1, 0}, {2, 0}}));
    delete back.front();
}

TEST(PolyLineEdit, DashesFollowThePatternAndThePen) {
    CPolyLine line;
    line.arrPoint = {{0, 0}, {4, 0}};
    line.SetPen(5);
    {
        Owned out;
        line.ToDotted(1.0f, 1.0f, out.shapes);
        ASSERT_EQ(out.shapes.size(), 2u);
        ExpectPoints(out.Line(0)->arrPoint, {{0, 0}, {1, 0}});
        ExpectPoints(out.Line(1)->arrPoint, {{2, 0}, {3, 0}});
        EXPECT_EQ(out.Line(1)->GetPenIndex(), 5);
    }
    // Around a corner a dash keeps the vertex; every full dash is 3 long.
    line.arrPoint = {{0, 0}, {5, 0}, {5, 10}};
    {
        Owned out;
        line.ToDotted(3.0f, 0.5f, out.shapes);
        ASSERT_EQ(out.shapes.size(), 5u);
        ExpectPoints(out.Line(1)->arrPoint, {{3.5f, 0}, {5, 0}, {5, 1.5f}});
        for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Length(out.Line(i)->arrPoint), 3.0, 1e-5);
        ExpectPoints(out.Line(4)->arrPoint, {{5, 9}, {5, 10}});
    }
    // Patterns that cannot advance, or would make millions of pieces, and
    // polylines without a segment give nothing.
    Owned out;
    for (float dash : {0.0f, -1.0f, NAN, 1e-6f}) line.ToDotted(dash, 0.0f, out.shapes);
    line.ToDotted(1.0f, -1.0f, out.shapes);
    line.arrPoint = {{0, 0}};
    line.ToDotted(1.0f, 1.0f, out.shapes);
    EXPECT_TRUE(out.shapes.empty());
}
