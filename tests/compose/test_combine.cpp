// The compound shape: hit tests and the edit child, taking children off,
// numbering, conversions, the basic-shape listing and the mark data.
#include <memory>
#include <gtest/gtest.h>

#include <algorithm>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "compose_test_util.h"
#include "morvik/core/bezier.h"

using namespace compose_test;

namespace {

struct OwnedCombine {
    CCombineShape* shape = new CCombineShape();
    ~OwnedCombine() {
        shape->FreeShapePtr();
        delete shape;
    }
};

}  // namespace

TEST(CombineShape, HitTestsPickTheEditChild) {
    OwnedCombine owned;
    CCombineShape& c = *owned.shape;
    Gdiplus::RectF box(-1, 11, 12, 12);  // x -1..11, y -1..11
    EXPECT_EQ(c.IsInRect(box), 0);       // empty
    tagPOINTF first{};
    EXPECT_EQ(c.GetFlattenPathFirstPoint(first), -1);

    CPolyLine* inside = Poly({{0, 0}, {10, 0}});
    CPolyLine* outside = Poly({{0, 20}, {10, 20}});
    inside->SetID(7);
    outside->SetID(8);
    c.GetChildren() = {inside, outside};
    EXPECT_EQ(c.IsInRect(box), 0);
    outside->Move(0, -15);
    EXPECT_EQ(c.IsInRect(box), 1);
    outside->Move(0, 15);

    EXPECT_EQ(c.IsMe({5, 20}), 1);
    EXPECT_EQ(c.GetEditChild(), outside);
    EXPECT_EQ(c.IsMe({5, 0}), 1);
    EXPECT_EQ(c.GetEditChild(), inside);
    EXPECT_EQ(c.ModifyEditPoint(1, {0, 1}), 0);
    EXPECT_EQ(c.IsMe({50, 50}), 0);
    EXPECT_EQ(c.GetEditChild(), nullptr);
    EXPECT_EQ(c.ModifyEditPoint(1, {0, 1}), -1);

    // Taking the edit child off the list ends its editing through the compound.
    EXPECT_EQ(c.IsMe({5, 20}), 1);
    EXPECT_EQ(c.DeletSubShape(99), 0);
    EXPECT_EQ(c.GetChildren().size(), 2u);
    EXPECT_EQ(c.DeletSubShape(8), 1);
    EXPECT_EQ(c.GetChildren(), (std::vector<CBaseShape*>{inside}));
    EXPECT_EQ(c.ModifyEditPoint(1, {0, 1}), -1);
    EXPECT_EQ(outside->arrPoint.size(), 2u);  // still alive, now the caller's
    delete outside;

    // An edit child taken off behind the compound's back is not touched either.
    EXPECT_EQ(c.IsMe({0, 0}), 1);
    c.GetChildren().clear();
    EXPECT_EQ(c.ModifyEditPoint(1, {0, 1}), -1);
    delete inside;
}

TEST(CombineShape, ClonesAndConversionsKeepNumbersAndChildren) {
    const int before = ShapeCounterOf(SHAPE_COMBINE).Peek();

    OwnedCombine owned;
    auto* curve = new CBezierCurve();
    BEZIER_4POINTF_DRAW seg;
    seg.p1 = {0, 0};
    seg.p2 = {0, 10};
    seg.p3 = {10, 10};
    seg.p4 = {10, 0};
    curve->arrSegment.push_back(seg);
    owned.shape->GetChildren() = {curve, Poly({{20, 0}, {30, 0}})};
    owned.shape->SetPen(5);
    const int taken = ShapeCounterOf(SHAPE_COMBINE).Peek();
    EXPECT_EQ(taken, before + 1);

    CBaseShape* a = owned.shape->Clone();
    CBaseShape* b = owned.shape->Clone();
    EXPECT_EQ(ShapeCounterOf(SHAPE_COMBINE).Peek(), taken);
    ASSERT_EQ(a->GetChildren().size(), 2u);
    EXPECT_NE(a->GetChildren()[0], curve);
    EXPECT_EQ(a->GetChildren()[1]->GetPenIndex(), 5);
    for (CBaseShape* s : {a, b}) {
        s->FreeShapePtr();
        delete s;
    }

    // Bezier curves only flatten on the way to polylines.
    CBaseShape* curves = owned.shape->ToBezier();
    EXPECT_EQ(curves->GetChildren()[0]->GetShapeKind(), SHAPE_BEZIER);
    CBaseShape* polys = owned.shape->ToPolyLine();
    ASSERT_EQ(polys->GetShapeKind(), SHAPE_COMBINE);
    auto* flat = dynamic_cast<CPolyLine*>(polys->GetChildren()[0]);
    ASSERT_NE(flat, nullptr);
    ASSERT_GT(flat->arrPoint.size(), 2u);
    // The cubic's apex lies at 0.75 of its control height.
    float top = 0;
    for (const tagPOINTF& p : flat->arrPoint) top = std::max(top, p.y);
    EXPECT_NEAR(top, 7.5, 0.1);
    for (CBaseShape* s : {curves, polys}) {
        s->FreeShapePtr();
        delete s;
    }
}

TEST(CombineShape, BasicListNeverFreesTheCallersShapes) {
    OwnedCombine owned;
    CPolyLine* p = Poly({{0, 0}, {1, 1}});
    auto* nested = new CGroupShape();
    nested->GetChildren() = {Poly({{2, 2}, {3, 3}})};
    owned.shape->GetChildren() = {p, nested};

    // A shape the caller still owns: listed over, never freed.
    std::unique_ptr<CPolyLine> callers(Poly({{5, 5}, {6, 6}}));
    std::vector<CBaseShape*> list{callers.get()};
    owned.shape->GetBasicShapeList(list);
    EXPECT_EQ(list, (std::vector<CBaseShape*>{p, nested}));
    EXPECT_EQ(callers->arrPoint.size(), 2u);
    // Asking again with the same list must not free the compound's children.
    owned.shape->GetBasicShapeList(list);
    EXPECT_EQ(list, (std::vector<CBaseShape*>{p, nested}));
    EXPECT_EQ(p->arrPoint.size(), 2u);
    // FreeShapePtr (in OwnedCombine) also frees the nested group's child.
}

TEST(CombineShape, MarkDataCarriesChildrenAndRectangle) {
    OwnedCombine owned;
    CCombineShape& c = *owned.shape;
    ViewAt v;
    auto* a = new MarkProbe(1, {{0, 0}, {10, 0}});
    CPolyLine* line = Poly({{0, 5}, {0, 8}}, 2);
    c.GetChildren() = {a, line};
    c.SetDocView(&v.doc, &v.view);

    tagMarkDataPar out;
    out.arrPaths.resize(2);
    EXPECT_TRUE(c.GetMarkData(out, nullptr));
    EXPECT_TRUE(Unlocked(c));
    ASSERT_EQ(out.arrPaths.size(), 2u);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 1);
    EXPECT_EQ(out.arrPaths[1].nPenIndex, 2);
    EXPECT_EQ(out.arrPaths2.size(), 1u);
    EXPECT_TRUE(SameRect(out.rect, 0, 8, 10, 8));

    c.GetMarkData(out, nullptr);
    EXPECT_EQ(a->markCalls, 1);
    // A rotation must not leave the old outline in the cache.
    c.Rotate(90, {0, 0});
    c.GetMarkData(out, nullptr);
    EXPECT_EQ(a->markCalls, 2);
    ASSERT_EQ(out.arrPaths[1].arrPolylines.size(), 1u);
    const tagPOINTF end = out.arrPaths[1].arrPolylines[0].back();
    EXPECT_TRUE(Near(end.x, -8) && Near(end.y, 0));
    // Clearing the buffer clears the compound's own cache as well.
    c.ClearMarkBuff();
    c.GetMarkData(out, nullptr);
    EXPECT_EQ(a->markCalls, 3);

    c.SetReverseOrder(true);
    c.SetGetDataForce(true);
    c.GetMarkData(out, nullptr);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 2);
}
