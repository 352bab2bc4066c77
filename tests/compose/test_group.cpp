// The group shape: ownership and numbering, mark data in both modes, the
// rectangle and the dynamic re-layout, line-mode geometry and exports, the
// leaf listings and the shape-list collection.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <string>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "compose_test_util.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/shapes/circle.h"
#include "support/shape_support.h"

using namespace compose_test;

namespace {

using testsupport::ExportXml;

struct Owned {
    CGroupShape* group = new CGroupShape();
    ~Owned() {
        group->FreeShapePtr();
        delete group;
    }
};

}  // namespace

TEST(GroupShape, NumberingOwnershipAndFreeing) {
    CGroupShape().AllDelCountNum();
    auto* first = new CGroupShape();
    EXPECT_STREQ(first->GetCaption().GetString(), L"Group1");
    EXPECT_EQ(first->GetShapeKind(), SHAPE_GROUP);

    // A clone gives its number back: the next new group bears the same one.
    first->GetChildren().push_back(Poly({{0, 0}, {1, 1}}, 4));
    CBaseShape* clone = first->Clone();
    CGroupShape next;
    EXPECT_EQ(next.GetCountNum(), clone->GetCountNum());
    ASSERT_EQ(clone->GetChildren().size(), 1u);
    EXPECT_NE(clone->GetChildren()[0], first->GetChildren()[0]);
    EXPECT_EQ(clone->GetChildren()[0]->GetPenIndex(), 4);

    // Deleting a group leaves its children; FreeShapePtr frees the whole tree,
    // also below compound shapes and pointers listed twice.
    CBaseShape* kept = first->GetChildren()[0];
    first->GetChildren().clear();
    delete first;
    EXPECT_EQ(kept->GetShapeKind(), SHAPE_POLYLINE);
    auto* inner = new CGroupShape();
    inner->GetChildren().push_back(kept);
    auto* parts = new CCombineShape();
    parts->GetChildren().push_back(Poly({{2, 2}, {3, 3}}));
    auto* outer = static_cast<CGroupShape*>(clone);
    outer->GetChildren().push_back(inner);
    outer->GetChildren().push_back(parts);
    outer->GetChildren().push_back(inner);
    outer->FreeShapePtr();
    EXPECT_TRUE(outer->GetChildren().empty());
    delete outer;
}

TEST(GroupShape, MarkDataConcatenatesChildrenAndRebuildsAfterChanges) {
    Owned owned;
    CGroupShape& group = *owned.group;
    tagMarkDataPar empty;
    EXPECT_TRUE(group.GetMarkData(empty, nullptr));
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(SameRect(empty.rect, 0, 0, 0, 0));
    tagPOINTF first{};
    EXPECT_EQ(group.GetFlattenPathFirstPoint(first), -1);

    auto* a = new MarkProbe(1, {{0, 0}, {10, 0}});
    auto* b = new MarkProbe(2, {{0, 5}, {4, 8}});
    group.GetChildren() = {a, b};
    ViewAt v;
    group.SetDocView(&v.doc, &v.view);

    // A caller's leftover paths never come back; a child's failure fails
    // the group but does not lose what it gave; the control record is not
    // passed down.
    tagMarkDataPar out;
    out.arrPaths.resize(3);
    out.bFlag = 1;
    tagMarkCtlData ctl;
    EXPECT_FALSE(group.GetMarkData(out, &ctl));
    EXPECT_TRUE(Unlocked(group));
    ASSERT_EQ(out.arrPaths.size(), 2u);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 1);
    EXPECT_EQ(out.arrPaths[1].nPenIndex, 2);
    ASSERT_EQ(out.arrPaths2.size(), 2u);
    EXPECT_EQ(out.arrPaths2[1].nPenIndex, 102);
    EXPECT_EQ(out.bFlag, 1);
    EXPECT_FALSE(a->sawControl);
    // A horizontal line still counts towards the rectangle.
    EXPECT_TRUE(SameRect(out.rect, 0, 8, 10, 8));

    // After a failure the children are asked again; with a view the call
    // after a success is served from the cache.
    a->result = b->result = true;
    tagMarkDataPar again;
    EXPECT_TRUE(group.GetMarkData(again, nullptr));
    EXPECT_EQ(a->markCalls, 2);
    EXPECT_TRUE(group.GetMarkData(again, nullptr));
    EXPECT_EQ(a->markCalls, 2);
    EXPECT_EQ(again.arrPaths.size(), 2u);

    // Every change of geometry rebuilds: a move, and a rotation too.
    group.Move(1, 0);
    group.GetMarkData(again, nullptr);
    EXPECT_EQ(a->markCalls, 3);
    group.Rotate(90, {0, 0});
    group.GetMarkData(again, nullptr);
    EXPECT_EQ(a->markCalls, 4);

    group.SetReverseOrder(true);
    group.SetGetDataForce(true);
    group.GetMarkData(again, nullptr);
    ASSERT_EQ(again.arrPaths.size(), 2u);
    EXPECT_EQ(again.arrPaths[0].nPenIndex, 2);
    EXPECT_EQ(again.arrPaths2[0].nPenIndex, 102);
}

TEST(GroupShape, LineModeMarksExportsAndTransformsItsLines) {
    CGroupShape* group = LineGroup({{2, {{0, 0}, {10, 0}}}, {3, {{0, 5}, {0, 9}, {4, 9}}}});
    ViewAt v;
    group->SetDocView(&v.doc, &v.view);
    group->SetCaption(L"a<b");

    tagMarkDataPar out;
    EXPECT_TRUE(group->GetMarkData(out, nullptr));
    ASSERT_EQ(out.arrPaths.size(), 2u);
    EXPECT_TRUE(out.arrPaths2.empty());
    EXPECT_EQ(out.arrPaths[1].nPenIndex, 3);
    ASSERT_EQ(out.arrPaths[1].arrPolylines.size(), 1u);
    EXPECT_EQ(out.arrPaths[1].arrPolylines[0].size(), 3u);
    EXPECT_TRUE(SameRect(out.rect, 0, 9, 10, 9));
    // Line mode rebuilds on every call and never appends to the caller's paths.
    group->vLines.pop_back();
    EXPECT_TRUE(group->GetMarkData(out, nullptr));
    EXPECT_EQ(out.arrPaths.size(), 1u);
    EXPECT_TRUE(Unlocked(*group));

    // Horizontal lines still pick: the flat box is widened below the line.
    EXPECT_EQ(group->IsMe({5, -0.5f}), 1);
    EXPECT_EQ(group->IsMe({5, 3}), 0);

    const std::string xml = ExportXml(*group);
    EXPECT_EQ(xml,
              "<Group><PolyLine Name=\"a&lt;b\"><Point nSize=\"2\"><P x=\"0.000\" y=\"0.000\" z=\"0.000\"/>"
              "<P x=\"10.000\" y=\"0.000\" z=\"0.000\"/></Point></PolyLine></Group>");
    const std::vector<std::wstring> gcode = testsupport::ExportedLines(*group);
    ASSERT_FALSE(gcode.empty());
    EXPECT_EQ(gcode.back(), L"G01 X10.000 Y0.000 Z0.000 \n");

    const tagPLTLINE before = group->vLines[0];
    group->Mirror({5, 5}, 7);
    EXPECT_EQ(group->vLines[0].arrPoint[1], before.arrPoint[1]);
    group->Mirror({5, 5}, 3);
    EXPECT_EQ(group->vLines[0].arrPoint[1], (tagPOINTF{0, 10}));
    group->Zoom({0, 10}, 2, 1);
    EXPECT_EQ(group->vLines[0].arrPoint[0], (tagPOINTF{20, 10}));
    // Snap points: the points, then the segment midpoints; they follow a move.
    std::vector<tagPOINTF> snaps;
    group->GetSnapPoint(snaps);
    ASSERT_EQ(snaps.size(), 3u);
    EXPECT_EQ(snaps[2], (tagPOINTF{10, 10}));
    group->Move(1, 0);
    snaps.clear();
    group->GetSnapPoint(snaps);
    EXPECT_EQ(snaps[2], (tagPOINTF{11, 10}));
    group->SetPen(7);
    EXPECT_EQ(group->vLines[0].nPen, 7);

    // Conversion to polylines keeps pens and points; the lines survive a save.
    CBaseShape* polys = group->ToBezier();
    ASSERT_EQ(polys->GetChildren().size(), 1u);
    auto* poly = dynamic_cast<CPolyLine*>(polys->GetChildren()[0]);
    ASSERT_NE(poly, nullptr);
    EXPECT_EQ(poly->GetPenIndex(), 7);
    EXPECT_EQ(poly->arrPoint, group->vLines[0].arrPoint);
    polys->FreeShapePtr();
    delete polys;

    SriFile file;
    group->Save(true, &file);
    const std::vector<uint8_t> bytes = file.GetWrittenBytes();
    SriFile in(bytes.data(), bytes.size());
    CGroupShape back;
    back.Read(true, &in);
    EXPECT_TRUE(back.bImpFromPlt);
    ASSERT_EQ(back.vLines.size(), 1u);
    EXPECT_EQ(back.vLines[0].arrPoint, group->vLines[0].arrPoint);
    EXPECT_EQ(back.vLines[0].nPen, 7);
    delete group;
}

TEST(GroupShape, LineModeDrawsThroughTheView) {
    CGroupShape* group = LineGroup({{0, {{0, 0}, {10, 5}}}, {1, {{3, 3}}}});
    ViewAt v(2.0f);
    group->SetDocView(&v.doc, &v.view);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    group->Draw(&dc, 0, 0, 0, 0);
    ASSERT_EQ(canvas.Count(), 1u);  // a one-point line draws nothing
    const CanvasRecord r = canvas.At(0);
    ASSERT_EQ(r.points.size(), 2u);
    EXPECT_TRUE(Near(r.points[1].X, 20) && Near(r.points[1].Y, -10));
    delete group;
}

TEST(GroupShape, DynamicRelayoutScalesAndPlaces) {
    auto layout = [](int keep, int fix, int pos, Gdiplus::RectF last) {
        Owned owned;
        CGroupShape& g = *owned.group;
        g.GetChildren().push_back(Poly({{0, 0}, {10, 5}}));
        g.bDynaic = 1;
        g.bFixSizeX = 1;
        g.fSizeCX = 20;
        g.fSizeCY = 1;
        g.bKeepxySizeRate = keep;
        g.bFix = fix;
        g.fPosX = 100;
        g.fPosY = 50;
        g.nPos = pos;
        g.SetLastGroupShapeRect(last);
        g.ReInitGroupDynaic();
        Gdiplus::RectF r = testsupport::RectOf(g);
        return r;
    };
    const Gdiplus::RectF original(0, 5, 10, 5);
    // Width fixed with the aspect kept: both axes double, centred on the old centre.
    EXPECT_TRUE(SameRect(layout(1, 0, 8, original), -5, 7.5f, 20, 10));
    // Without the aspect only x scales; top-left stays.
    EXPECT_TRUE(SameRect(layout(0, 0, 2, original), 0, 5, 20, 5));
    // A fixed centre wins over the anchor.
    EXPECT_TRUE(SameRect(layout(0, 1, 2, original), 90, 52.5f, 20, 5));
    // Bottom right onto bottom right of another rectangle.
    EXPECT_TRUE(SameRect(layout(0, 0, 6, Gdiplus::RectF(50, 50, 30, 30)), 60, 25, 20, 5));
}

TEST(GroupShape, ConversionsTakeEveryChildAlong) {
    Owned owned;
    auto* circle = new CCircle();
    ASSERT_EQ(circle->InitCircle(0, 0, 0, 5), 0);
    owned.group->GetChildren() = {circle, Poly({{20, 0}, {30, 0}}, 3), new MarkProbe(2, {{1, 1}})};

    CBaseShape* polys = owned.group->ToPolyLine();
    ASSERT_EQ(polys->GetChildren().size(), 3u);
    auto* ring = dynamic_cast<CPolyLine*>(polys->GetChildren()[0]);
    ASSERT_NE(ring, nullptr);
    ASSERT_GT(ring->arrPoint.size(), 8u);
    for (const tagPOINTF& p : ring->arrPoint) EXPECT_NEAR(std::hypot(p.x, p.y), 5.0, 0.3);
    EXPECT_EQ(polys->GetChildren()[1]->GetShapeKind(), SHAPE_POLYLINE);
    EXPECT_NE(dynamic_cast<MarkProbe*>(polys->GetChildren()[2]), nullptr);
    Gdiplus::RectF r = polys->GetShapeRect();
    EXPECT_TRUE(SameRect(r, -5, 5, 35, 10, 0.05f));
    polys->FreeShapePtr();
    delete polys;

    CBaseShape* curves = owned.group->ToBezier();
    ASSERT_EQ(curves->GetChildren().size(), 3u);
    EXPECT_EQ(curves->GetChildren()[0]->GetShapeKind(), SHAPE_BEZIER);
    EXPECT_EQ(curves->GetChildren()[1]->GetShapeKind(), SHAPE_POLYLINE);
    curves->FreeShapePtr();
    delete curves;
}

TEST(GroupShape, ListingsAndShapeListCollection) {
    Owned owned;
    CGroupShape& outer = *owned.group;
    CPolyLine* p0 = Poly({{0, 0}, {1, 0}});
    CPolyLine* p1 = Poly({{0, 1}, {1, 1}});
    CPolyLine* p2 = Poly({{0, 2}, {1, 2}});
    CPolyLine* p3 = Poly({{0, 3}, {1, 3}});
    auto* inner = new CGroupShape();
    inner->GetChildren() = {p1, p2};
    auto* parts = new CCombineShape();
    parts->GetChildren() = {p3};
    outer.GetChildren() = {p0, inner, parts};

    std::vector<CBaseShape*> list;
    outer.GetBasicShapeList(list);
    EXPECT_EQ(list, (std::vector<CBaseShape*>{p0, p1, p2, p3}));
    EXPECT_EQ(outer.GetSourceIndexMap()[p2], 1);
    EXPECT_EQ(outer.GetSourceIndexMap()[p3], 2);
    outer.GetShapeListByTextName(list);
    EXPECT_EQ(list, (std::vector<CBaseShape*>{p0, p1, p2, parts}));

    // A lone nested group passes its own indices through.
    CGroupShape wrapper;
    wrapper.GetChildren() = {inner};
    std::vector<CBaseShape*> created;
    wrapper.GetBasicShapeList2(list, created);
    EXPECT_EQ(wrapper.GetSourceIndexMap()[p2], 1);
    EXPECT_TRUE(created.empty());
    wrapper.GetChildren().clear();

    // Line mode creates polylines, listed for the caller to free.
    CGroupShape* lines = LineGroup({{5, {{0, 0}, {1, 0}}}});
    lines->GetBasicShapeList2(list, created);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0], list[0]);
    EXPECT_EQ(created[0]->GetPenIndex(), 5);
    delete created[0];
    lines->GetNewBasicShapeList(list);
    EXPECT_EQ(list.back(), lines);
    delete lines;

    // Children come before their parents, each with its parent's GUID; the
    // same whichever way the collection is started.
    for (CBaseShape* start : {static_cast<CBaseShape*>(nullptr), static_cast<CBaseShape*>(&outer)}) {
        std::list<CBaseShape*> saved;
        outer.SaveShapeChild(start, saved);
        EXPECT_EQ(saved, (std::list<CBaseShape*>{p0, p1, p2, inner, p3, parts, &outer}));
        EXPECT_EQ(p2->GetParentBaseID(), inner->GetBaseID());
        EXPECT_EQ(inner->GetParentBaseID(), outer.GetBaseID());
        EXPECT_EQ(p3->GetParentBaseID(), parts->GetBaseID());
    }
}
