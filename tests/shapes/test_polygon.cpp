// The polygon and star shape: building, the replayed modification list,
// vertex drags with their undo records, side-count changes, conversions,
// mark data, drawing, saving and the XML export.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/geometry.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/editing_core.h"
#include "morvik/history/undo_polygon.h"
#include "morvik/history/undo_records_transform.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/shapes/polygon.h"
#include "support/shape_support.h"

namespace {

using testsupport::HostScope;
using testsupport::ViewAt;
using testsupport::Unlocked;
using testsupport::ExportXml;

constexpr double kPi = 3.14159265358979323846;
const Gdiplus::RectF kSquare(0, 10, 10, 10);  // Y is the top edge

::testing::AssertionResult Near(tagPOINTF got, tagPOINTF want, double tol = 1e-4) {
    if (std::fabs(got.x - want.x) <= tol && std::fabs(got.y - want.y) <= tol) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << got.x << ", " << got.y << ") vs (" << want.x << ", " << want.y
                                         << ")";
}

tagPOINTF Vertex(CPolygon& p, int i) { return p.GetPoint(i, -1.0, kPi); }

// A document whose shapes hand their undo records to an editing history.
struct HistoryDoc : CBaseDoc {
    CCore core{this, nullptr};
    void AddUndo(CUND_Base* record) override { core.AddUndoItem(record); }
};

// Saves the shape into memory and reads it back into a new polygon.
std::unique_ptr<CPolygon> SaveAndRead(CPolygon& p) {
    auto copy = std::make_unique<CPolygon>();
    testsupport::ReadFrom(*copy, testsupport::SavedShape(p));
    copy->RestoreAfterRead();
    return copy;
}

// Every number the polygon hands on is finite, its vertices too.
void ExpectAllFinite(CPolygon& p, const std::string& what) {
    std::vector<tagPOINTF> snaps;
    p.GetSnapPoint(snaps);
    for (const tagPOINTF& q : snaps) ASSERT_TRUE(geom::Finite(q)) << what << ": vertex";
    testsupport::ExpectHandsOnFinite(p, what);
}

}  // namespace

TEST(Polygon, BuildsRegularPolygonsInTheirRectangle) {
    CPolygon::nDefaultBorder = 6;
    CPolygon sq;
    sq.InitPolygon(kSquare, 4);
    EXPECT_TRUE(Near(sq.center0, {5, 5}));
    EXPECT_DOUBLE_EQ(sq.radius, 5.0);
    EXPECT_NEAR(sq.radius2, 3.5355339, 1e-6);  // the apothem
    ASSERT_EQ(sq.vModify.size(), 1u);
    EXPECT_EQ(sq.vModify[0].cmd, 103);
    EXPECT_NEAR(sq.vModify[0].par1, 1.0, 1e-6);
    EXPECT_EQ(sq.vModify[0].par2, 1.0);
    const tagPOINTF corners[] = {{5, 10}, {0, 5}, {5, 0}, {10, 5}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(Near(Vertex(sq, 2 * k), corners[k])) << k;
        // Inner vertices of an unedited polygon halve its edges.
        const tagPOINTF next = corners[(k + 1) % 4];
        EXPECT_TRUE(Near(Vertex(sq, 2 * k + 1), {(corners[k].x + next.x) / 2, (corners[k].y + next.y) / 2})) << k;
    }
    std::vector<tagPOINTF> outline{{-1, -1}};  // appended to
    sq.GetFlattenPathPoints(outline, 0.25f);
    ASSERT_EQ(outline.size(), 10u);
    EXPECT_TRUE(Near(outline[1], outline[9]));
    std::vector<tagPOINTF> snaps;
    sq.GetSnapPoint(snaps);
    ASSERT_EQ(snaps.size(), 10u);
    EXPECT_TRUE(Near(snaps[8], snaps[0]));
    EXPECT_TRUE(Near(snaps[9], snaps[1]));
    Gdiplus::RectF r = testsupport::RectOf(sq);
    EXPECT_TRUE(r.X == 0 && r.Y == 10 && r.Width == 10 && r.Height == 10);

    // A triangle is stretched to the full width; its height stays 3/4 of it.
    CPolygon tri;
    tri.InitPolygon(kSquare, 3);
    EXPECT_NEAR(tri.vModify[0].par1, 1.154701, 1e-6);
    tri.GetRectangle(r);
    EXPECT_NEAR(r.X, 0, 1e-5);
    EXPECT_NEAR(r.Width, 10, 1e-5);
    EXPECT_NEAR(r.Y, 10, 1e-5);
    EXPECT_NEAR(r.Height, 7.5, 1e-5);

    CPolygon hex;
    hex.InitPolygon(kSquare, 0);
    EXPECT_EQ(hex.GetBorder(), 6);

    // Degenerate and absurd requests build nothing, and an unbuilt polygon
    // has no outline to offer.
    CPolygon none;
    none.InitPolygon(Gdiplus::RectF(0, 10, 10, 0), 4);
    none.InitPolygon(Gdiplus::RectF(0, 10, NAN, 10), 4);
    none.InitPolygon(kSquare, CPolygon::kMaxBorder + 1);
    EXPECT_EQ(none.GetBorder(), 0);
    std::vector<tagPOINTF> nothing = testsupport::Flattened(none, 0.25f);
    EXPECT_TRUE(nothing.empty());
    tagMarkDataPar data;
    EXPECT_FALSE(none.GetMarkData(data, nullptr));
    EXPECT_TRUE(Unlocked(none));
    EXPECT_EQ(none.ToPolyLine(), nullptr);
    EXPECT_EQ(none.SetBorder(5), 0);
}

TEST(Polygon, DefaultSideCountIsProcessWide) {
    CPolygon::nDefaultBorder = 6;
    CPolygon a;
    a.InitPolygon(kSquare, 0);
    EXPECT_EQ(a.SetPolygonProperty(5), 6);
    EXPECT_EQ(a.GetBorder(), 5);
    EXPECT_EQ(CPolygon::nDefaultBorder.load(), 5);
    // The rebuild stays in the old outline's box (the width is fitted).
    Gdiplus::RectF r = testsupport::RectOf(a);
    EXPECT_NEAR(r.X, 0, 1e-4);
    EXPECT_NEAR(r.Width, 10, 1e-4);
    EXPECT_NEAR(r.Y, 10, 1e-4);
    EXPECT_EQ(a.vModify.size(), 1u);  // earlier modifications folded in

    CPolygon b;
    b.InitPolygon(kSquare, 2);
    EXPECT_EQ(b.GetBorder(), 5);
    EXPECT_EQ(b.SetPolygonProperty(5), 5);  // unchanged: nothing happens
    EXPECT_EQ(b.SetPolygonProperty(2), 5);
    EXPECT_EQ(b.GetBorder(), 5);
    CPolygon::nDefaultBorder = 6;
}

TEST(Polygon, TransformsAreRecordedAndReplayed) {
    const tagPOINTF origin{0, 0};
    const struct {
        int code;
        tagPOINTF vertex0;
        void (*apply)(CPolygon&);
    } cases[] = {
        {100, {6, 12}, [](CPolygon& p) { p.Move(1, 2); }},
        {102, {0, 5}, [](CPolygon& p) { p.Rotate(90.0, {5, 5}); }},
        {103, {10, 30}, [](CPolygon& p) { p.Zoom({0, 0}, 2.0, 3.0); }},
        {101, {2.5f, 10}, [](CPolygon& p) { p.Slope({5, 5}, std::atan(0.5), 0.0); }},
        {104, {-5, 10}, [](CPolygon& p) { p.Mirror({0, 0}, 1); }},
        {105, {5, -10}, [](CPolygon& p) { p.Mirror({0, 0}, 2); }},
        {106, {-5, -10}, [](CPolygon& p) { p.Mirror({0, 0}, 3); }},
    };
    for (const auto& c : cases) {
        CPolygon p;
        p.InitPolygon(kSquare, 4);
        testsupport::RectOf(p);  // a valid rectangle the transform must drop
        p.SetGetDataForce(false);
        c.apply(p);
        ASSERT_EQ(p.vModify.size(), 2u) << c.code;
        EXPECT_EQ(p.vModify.back().cmd, c.code);
        EXPECT_TRUE(Near(Vertex(p, 0), c.vertex0)) << c.code;
        EXPECT_FALSE(p.GetRectValid()) << c.code;
        EXPECT_TRUE(p.GetDataForce()) << c.code;
    }
    CPolygon p;
    p.InitPolygon(kSquare, 4);
    p.Mirror(origin, 7);
    EXPECT_EQ(p.vModify.size(), 1u);

    // A record the replay does not know is skipped and reported once, not
    // on every vertex of every redraw.
    HostScope hs;
    SHAPE_MODIFY bad;
    bad.cmd = 999;
    p.vModify.push_back(bad);
    Gdiplus::RectF r = testsupport::RectOf(p);
    p.GetRectangle(r);
    EXPECT_TRUE(Near(Vertex(p, 0), {5, 10}));
    auto boxes = hs.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"unknown modify cmd");
}

TEST(Polygon, DragsMakeStarsThatUndoAndSideChangesKeep) {
    HistoryDoc doc;
    auto* p = new CPolygon();
    doc.AddShape(p);
    p->SetDocView(&doc, nullptr);
    p->InitPolygon(kSquare, 4);

    // Within reach of vertex 0 and vertex 1: the lower index is picked.
    std::vector<tagPOINTF> v{{3.8f, 8.8f}};
    ASSERT_EQ(p->GetEditPoint(v), 1);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_TRUE(Near(v[0], {7.5f, 7.5f}));  // vertex 7
    EXPECT_TRUE(Near(v[1], {5, 10}));
    EXPECT_TRUE(Near(v[2], {2.5f, 7.5f}));  // vertex 1
    std::vector<tagPOINTF> far{{20, 20}};
    EXPECT_EQ(p->GetEditPoint(far), 0);
    EXPECT_EQ(far.size(), 1u);

    // Pull the outer ring out to twice its radius.
    const tagPOINTF out{5, 15};
    p->CalculateModify(out);
    EXPECT_TRUE(Near(p->GetPoint(0, p->dragRadius, p->dragAngle), out, 2e-4));
    p->ModifyEditPoint(0, out);
    EXPECT_NEAR(p->radius_rate, 2.0, 1e-4);
    EXPECT_NEAR(p->radius, 10.0, 1e-3);
    EXPECT_NEAR(p->angle_diff, 0.0, 1e-4);
    EXPECT_TRUE(Near(Vertex(*p, 0), out, 1e-3));

    // Turn the inner ring by 15 degrees.
    std::vector<tagPOINTF> pick{{2.5f, 7.5f}};
    ASSERT_EQ(p->GetEditPoint(pick), 2);
    const double a = (135.0 + 15.0) * kPi / 180.0;
    const tagPOINTF twisted{static_cast<float>(5 + 3.5355339 * std::cos(a)),
                            static_cast<float>(5 + 3.5355339 * std::sin(a))};
    p->CalculateModify(twisted);
    p->ModifyEditPoint(1, twisted);
    EXPECT_NEAR(p->radius2_rate, 1.0, 1e-4);
    EXPECT_NEAR(p->angle2_diff, 15.0 * kPi / 180.0, 1e-4);
    ASSERT_EQ(doc.core.m_vecUndo.size(), 2u);
    EXPECT_EQ(doc.core.m_vecUndo[0]->GetKind(), 7);

    // A side-count change keeps the drags and the size of the star; going
    // back brings the same star again.
    EXPECT_EQ(p->SetPolygonProperty(6), 4);
    EXPECT_NEAR(p->radius, 10.0, 1e-3);
    EXPECT_NEAR(p->radius2, 5.0 * std::cos(kPi / 6), 1e-3);
    EXPECT_NEAR(p->angle2, kPi / 6 + kPi / 2 + 15.0 * kPi / 180.0, 1e-4);
    EXPECT_EQ(p->SetPolygonProperty(4), 6);
    EXPECT_TRUE(Near(Vertex(*p, 0), out, 1e-3));
    EXPECT_TRUE(Near(Vertex(*p, 1), twisted, 1e-3));
    CPolygon::nDefaultBorder = 6;

    // A star pulled in by 0.45 on its inner ring and out by 1.3 on its outer
    // one keeps that inner ratio (to the apothem of each side count) through
    // every change of side count.
    CPolygon star;
    star.InitPolygon(Gdiplus::RectF(2, 17, 13, 9), 5);
    star.DoDrag(1, 0.45, 0.0);
    star.DoDrag(0, 1.3, 0.1);
    for (int n : {7, 4, 9}) {
        star.SetPolygonProperty(n);
        EXPECT_NEAR(star.radius2 / star.radius, std::cos(kPi / n) * 0.45 / 1.3, 1e-5) << n;
        EXPECT_NEAR(star.radius2_rate, 0.45, 1e-12) << n;
    }
    CPolygon::nDefaultBorder = 6;

    // Undo of both drags brings the square back; redo the first again.
    doc.core.OnEditUndo();
    doc.core.OnEditUndo();
    EXPECT_NEAR(p->radius, 5.0, 1e-3);
    EXPECT_NEAR(p->radius_rate, 1.0, 1e-4);
    EXPECT_NEAR(p->angle2_diff, 0.0, 1e-6);
    EXPECT_TRUE(Near(Vertex(*p, 1), {2.5f, 7.5f}, 1e-3));
    doc.core.OnEditRedo();
    EXPECT_TRUE(Near(Vertex(*p, 0), out, 1e-3));
}

TEST(Polygon, DragToTheCentreNeverFoldsTheRing) {
    HistoryDoc doc;
    auto* p = new CPolygon();
    doc.AddShape(p);
    p->SetDocView(&doc, nullptr);
    p->InitPolygon(kSquare, 4);
    std::vector<tagPOINTF> v{{5, 10}};
    ASSERT_EQ(p->GetEditPoint(v), 1);
    p->CalculateModify({5, 5});
    EXPECT_GT(p->dragRadius, 0.0);
    p->ModifyEditPoint(0, {5, 5});
    EXPECT_GT(p->radius, 0.0);
    for (int i = 0; i <= 8; ++i) {
        const tagPOINTF q = Vertex(*p, i);
        EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << i;
    }
    doc.core.OnEditUndo();
    EXPECT_NEAR(p->radius, 5.0, 1e-3);
    // A commit far from the working vertex does nothing.
    p->ModifyEditPoint(0, {50, 50});
    EXPECT_NEAR(p->radius, 5.0, 1e-3);
}

TEST(Polygon, MarkDataConversionsAndDrawing) {
    ViewAt at(10.0f);
    CPolygon p;
    p.SetDocView(&at.doc, &at.view);
    p.InitPolygon(kSquare, 4);
    p.SetPen(3);
    tagMarkDataPar data;
    data.arrPaths.resize(2);  // the caller's paths never pile up
    ASSERT_TRUE(p.GetMarkData(data, nullptr));
    EXPECT_TRUE(Unlocked(p));
    ASSERT_EQ(data.arrPaths.size(), 1u);
    EXPECT_EQ(data.arrPaths[0].nPenIndex, 3);
    ASSERT_EQ(data.arrPaths[0].arrPolylines.size(), 1u);
    EXPECT_EQ(data.arrPaths[0].arrPolylines[0].size(), 9u);
    EXPECT_TRUE(data.rect.X == 0 && data.rect.Y == 10 && data.rect.Width == 10);
    // A rotation is seen by the next mark data although the view keeps a cache.
    p.Rotate(90.0, {5, 5});
    tagMarkDataPar again;
    ASSERT_TRUE(p.GetMarkData(again, nullptr));
    EXPECT_TRUE(Near(again.arrPaths[0].arrPolylines[0][0], {0, 5}));
    p.vModify.pop_back();
    p.InvalidateGeometry();

    std::unique_ptr<CBaseShape> poly(p.ToPolyLine());
    auto* line = dynamic_cast<CPolyLine*>(poly.get());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->arrPoint.size(), 9u);
    EXPECT_EQ(line->bClosed, 1);
    std::unique_ptr<CBaseShape> plain(p.ToBezier());
    auto* curve = dynamic_cast<CBezierCurve*>(plain.get());
    ASSERT_NE(curve, nullptr);
    ASSERT_EQ(curve->arrSegment.size(), 4u);
    EXPECT_EQ(curve->bClosed, 1);
    EXPECT_EQ(curve->arrSegment[0].LineType, 1);
    EXPECT_TRUE(Near(curve->arrSegment[0].p1, {5, 10}));
    EXPECT_TRUE(Near(curve->arrSegment[0].p4, {0, 5}));
    // A star's curve keeps its inner corners.
    p.DoDrag(1, 0.5, 0.0);
    std::unique_ptr<CBaseShape> star(p.ToBezier());
    curve = dynamic_cast<CBezierCurve*>(star.get());
    ASSERT_EQ(curve->arrSegment.size(), 8u);
    EXPECT_TRUE(Near(curve->arrSegment[0].p4, Vertex(p, 1)));
    EXPECT_TRUE(Near(curve->arrSegment[7].p4, {5, 10}));
    // Both conversions mark with the source's pen.
    for (CBaseShape* converted : {star.get(), poly.get()}) {
        tagMarkDataPar mark;
        ASSERT_TRUE(converted->GetMarkData(mark, nullptr));
        ASSERT_EQ(mark.arrPaths.size(), 1u);
        EXPECT_EQ(mark.arrPaths[0].nPenIndex, 3);
    }
    p.DoDrag(1, 2.0, 0.0);

    RecordingCanvas canvas;
    CDC dc(&canvas);
    p.SetSelectFlag(1, false);
    p.Draw(&dc, nullptr, RGB(255, 0, 0), 0, 0, 0, 1, 0, 0);
    ASSERT_EQ(canvas.Count(), 9u);
    EXPECT_EQ(canvas.At(0).op, CanvasOp::Rectangle);  // the start marker first
    EXPECT_EQ(canvas.At(1).op, CanvasOp::Line);
    canvas.Reset();
    p.DrawEditPoints(&dc);
    EXPECT_EQ(canvas.Count(), 9u);

    // Edge hits use three pick distances in pixels.
    EXPECT_EQ(p.IsMe({3.8f, 8.7f}), 1);
    EXPECT_EQ(p.IsMe({5, 5}), 0);
    Gdiplus::RectF band(-1, 11, 12, 12);
    EXPECT_EQ(p.IsInRect(band), 1);
    Gdiplus::RectF corner(4, 11, 2, 2);
    EXPECT_EQ(p.IsSelectedForRect(corner), 1);

    const std::vector<std::wstring> lines = testsupport::ExportedLines(p);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], L"G00 X5.000 Y10.000 Z0.000 \n");
    EXPECT_EQ(lines[1], L"G01 X2.500 Y7.500 Z0.000 \n");
    EXPECT_EQ(lines[8], L"G01 X5.000 Y10.000 Z0.000 \n");
}

TEST(Polygon, SaveReadCloneAndXml) {
    CPolygon p;
    p.InitPolygon(kSquare, 4);
    p.SetCaption(L"A&B \"q\"");
    p.Mirror({1, 2}, 2);
    EXPECT_EQ(ExportXml(p),
              "<Polygon angle=\"1.570796\" angle2=\"2.356194\" angle_diff=\"0.000000\" angle2_diff=\"0.000000\" "
              "center0x=\"5.000000\" center0y=\"5.000000\" border=\"4\" radius=\"5.000000\" radius2=\"3.535534\" "
              "radius_rate=\"1.000000\" radius_rate2=\"1.000000\" caption=\"A&amp;B &quot;q&quot;\" "
              "initX=\"0.000000\" initY=\"10.000000\" initW=\"10.000000\" initH=\"10.000000\">\r\n"
              "<Modify nSize=\"2\">\r\n"
              "<M cmd=\"103\" par1=\"1.000000\" par2=\"1.000000\" ref_x=\"5.000000\" ref_y=\"5.000000\"/>\r\n"
              "<M cmd=\"105\" par1=\"0.000000\" par2=\"0.000000\" ref_x=\"1.000000\" ref_y=\"2.000000\"/>\r\n"
              "</Modify>\r\n</Polygon>\r\n");

    p.DoDrag(1, 0.5, 0.25);
    std::unique_ptr<CPolygon> q = SaveAndRead(p);
    EXPECT_EQ(q->m_wstrCaption, L"A&B \"q\"");
    EXPECT_EQ(q->vModify.size(), 2u);
    EXPECT_EQ(q->initRect.Width, 0);
    for (int i = 0; i <= 9; ++i) EXPECT_TRUE(Near(Vertex(*q, i), Vertex(p, i))) << i;
    EXPECT_EQ(q->SetBorder(5), 0);  // no build rectangle after a read

    std::unique_ptr<CBaseShape> copy(q->Clone());
    auto* c = dynamic_cast<CPolygon*>(copy.get());
    ASSERT_NE(c, nullptr);
    for (int i = 0; i <= 9; ++i) EXPECT_TRUE(Near(Vertex(*c, i), Vertex(p, i))) << i;
    EXPECT_NE(c->GetBaseID(), q->GetBaseID());
    EXPECT_EQ(q->SetPolygonProperty(5), 4);
    EXPECT_EQ(q->GetBorder(), 5);
    CPolygon::nDefaultBorder = 6;

    CPolygon empty;
    empty.InitPolygon(kSquare, 4);
    empty.vModify.clear();
    const std::string text = ExportXml(empty);
    EXPECT_NE(text.find("<Modify nSize=\"0\"/>\r\n</Polygon>\r\n"), std::string::npos);

    // A side count from a damaged file leaves the polygon without outline.
    CPolygon huge;
    huge.InitPolygon(kSquare, 4);
    huge.nBorder = 2000000000;
    std::unique_ptr<CPolygon> h = SaveAndRead(huge);
    EXPECT_EQ(h->nBorder, 2000000000);
    Gdiplus::RectF r = testsupport::RectOf(*h);
    EXPECT_EQ(r.Width, 0);
    tagMarkDataPar data;
    EXPECT_FALSE(h->GetMarkData(data, nullptr));
    EXPECT_EQ(h->SetPolygonProperty(5), 2000000000);
}

TEST(PolygonUndo, FrameRecordFitsThePolygonAndReportsMissingShapes) {
    HostScope hs;
    HistoryDoc doc;
    auto* p = new CPolygon();
    doc.AddShape(p);
    p->InitPolygon(kSquare, 4);

    CUND_Polygon_Border rec(new stPolygonBorder{p->GetBaseID(), kSquare, Gdiplus::RectF(20, 30, 8, 6), 4, 3});
    EXPECT_EQ(rec.GetKind(), 0);
    EXPECT_EQ(rec.OnEditRedo(&doc.core), 0);
    EXPECT_EQ(p->GetBorder(), 3);
    testsupport::ExpectRect(testsupport::RectOf(*p), 20, 30, 8, 6);
    ASSERT_EQ(doc.core.m_vecLastShapeIDs.size(), 1u);
    EXPECT_EQ(doc.core.m_vecLastShapeIDs[0], p->GetBaseID());
    // The square fits its frame as built: no move and no zoom follow.
    EXPECT_EQ(rec.OnEditUndo(&doc.core), 0);
    EXPECT_EQ(p->GetBorder(), 4);
    EXPECT_EQ(p->vModify.size(), 1u);

    // A flat frame builds nothing and must not scale the polygon to nothing.
    CUND_Polygon_Border flat(new stPolygonBorder{p->GetBaseID(), kSquare, Gdiplus::RectF(0, 10, 10, 0), 4, 4});
    flat.OnEditRedo(&doc.core);
    const Gdiplus::RectF r = testsupport::RectOf(*p);
    EXPECT_NEAR(r.Height, 10, 1e-4);
    EXPECT_TRUE(std::isfinite(r.Width));

    CUND_Polygon_Border lost(new stPolygonBorder{GUID{}, kSquare, kSquare, 4, 5});
    EXPECT_EQ(lost.OnEditUndo(&doc.core), 0);
    auto boxes = hs.host->MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Can't found shape by id");
    CUND_Polygon_Border blank;  // no payload
    EXPECT_EQ(blank.OnEditRedo(&doc.core), 0);
}

TEST(PolygonUndo, DragRecordSkipsUselessFactorsAndOtherShapes) {
    HistoryDoc doc;
    auto* p = new CPolygon();
    auto* other = new CPolyLine();
    doc.AddShape(p);
    doc.AddShape(other);
    p->InitPolygon(kSquare, 4);
    other->arrPoint = {{0, 0}, {1, 1}};

    CUND_PolygonDrag zero(new stPolygonDrag{{p->GetBaseID()}, 0, 0.0, 1.0});
    zero.OnEditUndo(&doc.core);
    zero.OnEditRedo(&doc.core);
    EXPECT_EQ(p->radius, 5.0);
    EXPECT_EQ(p->angle_diff, 0.0);

    CUND_PolygonDrag drag(new stPolygonDrag{{other->GetBaseID(), p->GetBaseID()}, 1, 2.0, 0.5});
    EXPECT_EQ(drag.GetKind(), 7);
    EXPECT_EQ(drag.OnEditRedo(&doc.core), 1);
    EXPECT_NEAR(p->radius2, 2 * 3.5355339, 1e-5);
    EXPECT_NEAR(p->angle2_diff, 0.5, 1e-12);
    EXPECT_EQ(drag.OnEditUndo(&doc.core), 1);
    EXPECT_NEAR(p->radius2, 3.5355339, 1e-5);
    EXPECT_NEAR(p->angle2_diff, 0.0, 1e-12);
    EXPECT_TRUE(Near(other->arrPoint[1], {1, 1}));
}

TEST(PolygonUndo, TransformsUndoneAndRedoneLeaveTheSavedPolygonAsItWas) {
    HistoryDoc doc;
    auto* p = new CPolygon();
    doc.AddShape(p);
    p->InitPolygon(kSquare, 5);
    const std::vector<uint8_t> start = testsupport::SavedShape(*p);
    const GUID id = p->GetBaseID();
    // Each transform as the editor makes it, then its record.
    p->Move(1.5f, -2.25f);
    doc.core.AddUndoItem(new CUND_Move(new stMoveUndo{{id}, 1.5f, -2.25f}));
    p->Rotate(33.0, {2, 3});
    doc.core.AddUndoItem(new CUND_Rotate(new stRotateUndo{{id}, {2, 3}, 33.0}));
    p->Zoom({1, 1}, -1.5, 0.75);
    doc.core.AddUndoItem(new CUND_Resize(new stResizeUndo{{id}, {1, 1}, -1.5f, 0.75f}));
    p->Slope({4, 0}, 0.3, 0.4);
    doc.core.AddUndoItem(new CUND_Slope(new stSlopeUndo{{id}, {4, 0}, 0.3, 0.4}));
    p->Mirror({0, 5}, 2);
    p->SetMirrorFlag(2);
    doc.core.AddUndoItem(new CUND_Mirror(new stMirrorUndo{{id}, {0, 5}, 2}));
    const std::vector<uint8_t> end = testsupport::SavedShape(*p);
    const std::vector<tagPOINTF> outline = [&] {
        return testsupport::Flattened(*p, 0.1f);
    }();
    for (int cycle = 0; cycle < 100; ++cycle) {
        for (int k = 0; k < 5; ++k) doc.core.OnEditUndo();
        ASSERT_EQ(testsupport::SavedShape(*p), start) << cycle;
        for (int k = 0; k < 5; ++k) doc.core.OnEditRedo();
        ASSERT_EQ(testsupport::SavedShape(*p), end) << cycle;
    }
    std::vector<tagPOINTF> pts = testsupport::Flattened(*p, 0.1f);
    ASSERT_EQ(pts.size(), outline.size());
    for (size_t i = 0; i < pts.size(); ++i) EXPECT_TRUE(Near(pts[i], outline[i])) << i;
}

TEST(Polygon, ModificationListStaysBoundedAndReplaysTheSame) {
    // Many transforms that do not cancel: the oldest fold into a few, the
    // outline stays where the whole list puts it.
    CPolygon p;
    p.InitPolygon(kSquare, 7);
    CPolyLine ref;
    ref.arrPoint.clear();
    for (int i = 0; i <= 14; ++i) ref.arrPoint.push_back(Vertex(p, i));
    for (int k = 0; k < 1000; ++k) {
        const double turn = 7.0 + k % 5;
        const tagPOINTF at{static_cast<float>(k % 7), static_cast<float>(k % 3)};
        p.Rotate(turn, at);
        ref.Rotate(turn, at);
        if (k % 10 == 0) {
            p.Zoom(at, 1.01, 0.99);
            ref.Zoom(at, 1.01, 0.99);
            p.Slope(at, 0.01, 0.0);
            ref.Slope(at, 0.01, 0.0);
        }
        ASSERT_LE(p.vModify.size(), CPolygon::kMaxModify);
    }
    for (int i = 0; i <= 14; ++i) EXPECT_TRUE(Near(Vertex(p, i), ref.arrPoint[i], 2e-3)) << i;

    // A file with an endless list reads back bounded and in the same place.
    CPolygon crafted;
    crafted.InitPolygon(kSquare, 5);
    for (int k = 0; k < 50000; ++k) {
        SHAPE_MODIFY step;
        step.cmd = SHAPE_MODIFY::kMove;
        step.par1 = k % 2 == 0 ? 0.5 : -0.5;
        crafted.vModify.push_back(step);
    }
    SHAPE_MODIFY turn;
    turn.cmd = SHAPE_MODIFY::kRotate;
    turn.par1 = 0.01;
    turn.refPoint = {5, 5};
    crafted.vModify.insert(crafted.vModify.end(), 3000, turn);  // 30 degrees in all
    std::unique_ptr<CPolygon> read = SaveAndRead(crafted);
    EXPECT_LE(read->vModify.size(), CPolygon::kMaxModify);
    CPolygon want;
    want.InitPolygon(kSquare, 5);
    want.Rotate(30.0, {5, 5});
    for (int i = 0; i <= 10; ++i) EXPECT_TRUE(Near(Vertex(*read, i), Vertex(want, i), 1e-3)) << i;
}

TEST(PolygonNumbers, NumbersThatAreNotFiniteNeverGetIn) {
    const double kBad[] = {NAN, INFINITY, -INFINITY, FLT_MAX, 1e30};
    constexpr int kNoResult = 1;  // a call without a result
    auto f = [](double v) { return static_cast<float>(v); };
    auto init = [](CPolygon& p, Gdiplus::RectF rc) {
        p.InitPolygon(rc, 7);
        return kNoResult;
    };
    auto drag = [](CPolygon& p, int i, double scale, double turn) {
        p.DoDrag(i, scale, turn);
        return kNoResult;
    };
    auto follow = [](CPolygon& p, tagPOINTF pt) {  // vertex 2 is picked
        p.CalculateModify(pt);
        return p.ModifyEditPoint(2, pt) == 0 ? kNoResult : 0;
    };
    std::vector<testsupport::NumberCall<CPolygon>> rows = {
        {"init x", [&](CPolygon& p, double v) { return init(p, {f(v), 60, 57, 31.5f}); }},
        {"init y", [&](CPolygon& p, double v) { return init(p, {12.5f, f(v), 57, 31.5f}); }},
        {"init w", [&](CPolygon& p, double v) { return init(p, {12.5f, 60, f(v), 31.5f}); }},
        {"init h", [&](CPolygon& p, double v) { return init(p, {12.5f, 60, 57, f(v)}); }},
        {"init x and w", [&](CPolygon& p, double v) { return init(p, {f(v), 60, f(v), 31.5f}); }, FLT_MAX},
        {"outer scale", [&](CPolygon& p, double v) { return drag(p, 0, v, 0.0); }, FLT_MAX},
        {"star scale", [&](CPolygon& p, double v) { return drag(p, 1, v, 0.3); }, FLT_MAX},
        {"star turn", [&](CPolygon& p, double v) { return drag(p, 1, 0.6, v); }},
        {"vertex drag x", [&](CPolygon& p, double v) { return follow(p, {f(v), 3}); }},
        {"vertex drag y", [&](CPolygon& p, double v) { return follow(p, {3, f(v)}); }},
    };
    for (const auto& row : testsupport::TransformNumberCalls<CPolygon>()) rows.push_back(row);
    auto star = [](HistoryDoc& doc) {
        auto* p = new CPolygon();
        doc.AddShape(p);
        p->SetDocView(&doc, nullptr);
        p->InitPolygon(Gdiplus::RectF(12.5f, 60, 57, 31.5f), 5);
        p->DoDrag(1, 0.45, 0.2);
        p->Rotate(20, {-3, 11});
        std::vector<tagPOINTF> pick{p->GetPoint(2, -1.0, kPi)};
        EXPECT_EQ(p->GetEditPoint(pick), 3);
        return p;
    };
    for (const auto& row : rows) {
        for (double v : kBad) {
            const std::string what = std::string(row.name) + " " + std::to_string(v);
            HistoryDoc doc;
            CPolygon* p = star(doc);
            const testsupport::Bytes before = testsupport::SavedShape(*p);
            const int result = row.call(*p, v);
            if (!std::isfinite(v) || v >= row.refusedFrom) {
                if (result != kNoResult) {
                    EXPECT_EQ(result, CPolygon::kRefused) << what;
                }
                EXPECT_TRUE(testsupport::SavedShape(*p) == before) << what;
                EXPECT_TRUE(doc.core.m_vecUndo.empty()) << what;
            }
            if (result == CPolygon::kRefused) {
                EXPECT_TRUE(testsupport::SavedShape(*p) == before) << what;
            }
            ExpectAllFinite(*p, what);
        }
    }

    // Side counts that are no polygon change nothing.
    const int kCounts[] = {-1, INT_MIN, 0, 2, INT_MAX, CPolygon::kMaxBorder + 1};
    for (int n : kCounts) {
        HistoryDoc doc;
        CPolygon* p = star(doc);
        const testsupport::Bytes before = testsupport::SavedShape(*p);
        EXPECT_EQ(p->SetBorder(n), 0) << n;
        EXPECT_EQ(p->SetPolygonProperty(n), 5) << n;
        EXPECT_TRUE(testsupport::SavedShape(*p) == before) << n;
    }
    CPolygon::nDefaultBorder = 6;

    // A saved polygon holding a NaN or an infinity anywhere is read without
    // its geometry: nothing of it is marked.
    for (int field = 0; field < 4; ++field) {
        for (double v : {double(NAN), double(INFINITY), -double(INFINITY)}) {
            HistoryDoc doc;
            CPolygon* src = star(doc);
            if (field == 0) src->radius = v;
            if (field == 1) src->center0.y = f(v);
            if (field == 2) src->vModify.back().refPoint.x = f(v);
            if (field == 3) src->vModify.front().par2 = v;
            std::unique_ptr<CPolygon> back = SaveAndRead(*src);
            tagMarkDataPar out;
            EXPECT_FALSE(back->GetMarkData(out, nullptr)) << field;
            ExpectAllFinite(*back, "read " + std::to_string(field));
        }
    }
}
