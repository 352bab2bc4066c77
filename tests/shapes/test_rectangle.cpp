// The rectangle with rounded and overshooting corners: corner geometry in
// device units, the upright frame, the corner undo record, flattening, mark
// data, conversions, saving, exports, picking and drawing.
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
#include "morvik/history/undo_round.h"
#include "morvik/host/recording_host.h"
#include "morvik/shapes/rectangle.h"
#include "support/shape_support.h"

namespace {

using testsupport::HostScope;
using testsupport::Dist;
using testsupport::ExportXml;

constexpr double kPi = 3.14159265358979323846;

// A document that keeps its undo records in an editing history.
class HistoryDoc : public CBaseDoc {
public:
    void AddUndo(CUND_Base* record) override { core.AddUndoItem(record); }
    CBaseView view{this};
    CCore core{this, &view};
};

// Device point of (x, y) is (x * zoom, -y * zoom).
struct Scene {
    HistoryDoc doc;
    explicit Scene(float zoom = 1.0f) {
        doc.view.SetZoom(zoom);
        doc.view.SetOrigin({0.0f, 0.0f});
    }
    CRectangle* Add(float x, float y, float w, float h) {
        auto* r = new CRectangle();
        r->SetDocView(&doc, &doc.view);
        r->InitRectangle(Gdiplus::RectF(x, y, w, h));
        doc.AddShape(r);
        return r;
    }
};

::testing::AssertionResult Near(tagPOINTF a, tagPOINTF b, double tol = 1e-3) {
    if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ") vs (" << b.x << ", " << b.y << ")";
}

tagPOINTF CubicMid(const std::vector<tagPOINTF>& a) {
    return {(a[0].x + 3 * a[1].x + 3 * a[2].x + a[3].x) / 8, (a[0].y + 3 * a[1].y + 3 * a[2].y + a[3].y) / 8};
}

// Same line points and arcs, within tol.
void ExpectSameOutline(const CRectangle& a, const CRectangle& b, double tol = 2e-3) {
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Near(a.m_PointLine8[i], b.m_PointLine8[i], tol)) << "line point " << i;
    const std::vector<tagPOINTF>* arcsA[4] = {&a.m_PointArc1, &a.m_PointArc2, &a.m_PointArc3, &a.m_PointArc4};
    const std::vector<tagPOINTF>* arcsB[4] = {&b.m_PointArc1, &b.m_PointArc2, &b.m_PointArc3, &b.m_PointArc4};
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(arcsA[k]->size(), arcsB[k]->size()) << "arc " << k + 1;
        for (size_t i = 0; i < arcsA[k]->size(); ++i) EXPECT_TRUE(Near((*arcsA[k])[i], (*arcsB[k])[i], tol));
    }
}

// The 100 x 100 square at the origin with every corner rounded by radius
// 15: true when p lies on its outline.
bool OnRoundedSquare(tagPOINTF p) {
    const double x = p.x, y = p.y, e = 0.01;
    if ((std::fabs(x) < e || std::fabs(x - 100) < e) && y >= 15 - e && y <= 85 + e) return true;
    if ((std::fabs(y) < e || std::fabs(y - 100) < e) && x >= 15 - e && x <= 85 + e) return true;
    for (tagPOINTF c : {tagPOINTF{15, 85}, tagPOINTF{85, 85}, tagPOINTF{85, 15}, tagPOINTF{15, 15}}) {
        const bool outward = (x - c.x) * (c.x - 50) >= -e && (y - c.y) * (c.y - 50) >= -e;
        if (outward && std::fabs(Dist(p, c) - 15) < 0.02) return true;
    }
    return false;
}

void ExpectAllFinite(CRectangle& r, const std::string& what) { testsupport::ExpectHandsOnFinite(r, what); }

double SignedArea(const std::vector<tagPOINTF>& pts) {
    double a = 0;
    for (size_t i = 0; i + 1 < pts.size(); ++i) a += double(pts[i].x) * pts[i + 1].y - double(pts[i + 1].x) * pts[i].y;
    return a / 2;
}

}  // namespace

TEST(Rectangle, LayoutCaptionAndSquareConversion) {
    ShapeCounterOf(SHAPE_RECTANGLE).Reset();
    CRectangle rect;
    EXPECT_STREQ(rect.GetCaption().GetString(), L"Rectangle1");
    EXPECT_EQ(rect.GetShapeKind(), SHAPE_RECTANGLE);
    // Dragged from the bottom-right corner: the same rectangle.
    rect.InitRectangle(Gdiplus::RectF(50, 30, -40, -20));
    const tagPOINTF expected[8] = {{10, 30}, {10, 50}, {10, 50}, {50, 50}, {50, 50}, {50, 30}, {50, 30}, {10, 30}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(Near(rect.m_Point8[i], expected[i])) << i;
        EXPECT_TRUE(Near(rect.m_PointLine8[i], expected[i])) << i;
    }
    Gdiplus::RectF r = testsupport::RectOf(rect);
    EXPECT_TRUE(r.Equals(Gdiplus::RectF(10, 50, 40, 20)));

    rect.SetPen(3);
    rect.SetRound(0, 0, 0, 0);
    std::unique_ptr<CBaseShape> shape(rect.ToPolyLine());
    auto* poly = dynamic_cast<CPolyLine*>(shape.get());
    ASSERT_NE(poly, nullptr);
    EXPECT_EQ(poly->bClosed, 1);
    EXPECT_EQ(poly->GetPenIndex(), 3);
    ASSERT_EQ(poly->arrPoint.size(), 5u);
    const tagPOINTF peaks[5] = {{10, 50}, {50, 50}, {50, 30}, {10, 30}, {10, 50}};
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Near(poly->arrPoint[i], peaks[i]));
}

TEST(RectangleCorners, RadiiFollowTheDeviceRectangle) {
    Scene s(1.0f);
    // 100 x 20 device pixels: radii 25 and 5 differ by more than 10, so the
    // corner becomes a circular quarter of radius 5.
    CRectangle* wide = s.Add(0, 20, 100, 20);
    wide->SetRound(50, 0, 0, 0);
    EXPECT_TRUE(Near(wide->m_PointLine8[1], {0, 15}));
    EXPECT_TRUE(Near(wide->m_PointLine8[2], {5, 20}));
    ASSERT_EQ(wide->m_PointArc1.size(), 4u);
    EXPECT_TRUE(Near(wide->m_PointArc1.front(), {0, 15}));
    EXPECT_TRUE(Near(wide->m_PointArc1.back(), {5, 20}));
    EXPECT_NEAR(Dist(CubicMid(wide->m_PointArc1), {5, 15}), 5.0, 0.01);

    CRectangle* nearSquare = s.Add(0, 18, 20, 18);  // radii 5 and 4.5 stay elliptical
    nearSquare->SetRound(50, 0, 0, 0);
    EXPECT_TRUE(Near(nearSquare->m_PointLine8[1], {0, 13.5f}));
    EXPECT_TRUE(Near(nearSquare->m_PointLine8[2], {5, 18}));
    CRectangle* exact = s.Add(0, 20, 60, 20);  // 15 and 5: a difference of exactly 10 keeps both
    exact->SetRound(50, 0, 0, 0);
    EXPECT_TRUE(Near(exact->m_PointLine8[2], {15, 20}));

    // Values above 100 round as 100 but are stored as given.
    CRectangle* full = s.Add(0, 100, 100, 100);
    full->SetRound(150, 0, 0, 0);
    EXPECT_EQ(full->perR1, 150);
    EXPECT_TRUE(Near(full->m_PointLine8[1], {0, 50}));
    EXPECT_TRUE(Near(full->m_PointLine8[2], {50, 100}));
    EXPECT_NE(ExportXml(*full).find("perR1=\"150\""), std::string::npos);

    // Overshoot: the sides run on by a fifth of each half side and cross.
    CRectangle* anti = s.Add(0, 20, 100, 20);
    anti->SetRound(-20, 0, 0, 0);
    EXPECT_TRUE(anti->m_PointArc1.empty());
    EXPECT_TRUE(Near(anti->m_PointLine8[1], {0, 22}));
    EXPECT_TRUE(Near(anti->m_PointLine8[2], {-10, 20}));
}

TEST(RectangleCorners, EveryCornerJoinsItsTwoSides) {
    Scene s;
    CRectangle* r = s.Add(0, 100, 100, 100);
    r->SetRound(30, 30, 30, 30);
    const tagPOINTF expected[8] = {{0, 15}, {0, 85}, {15, 100}, {85, 100}, {100, 85}, {100, 15}, {85, 0}, {15, 0}};
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Near(r->m_PointLine8[i], expected[i])) << i;
    const std::vector<tagPOINTF>* arcs[4] = {&r->m_PointArc1, &r->m_PointArc2, &r->m_PointArc3, &r->m_PointArc4};
    for (int k = 1; k <= 4; ++k) {
        ASSERT_EQ(arcs[k - 1]->size(), 4u);
        EXPECT_TRUE(Near(arcs[k - 1]->front(), r->m_PointLine8[2 * k - 1])) << "arc " << k;
        EXPECT_TRUE(Near(arcs[k - 1]->back(), r->m_PointLine8[(2 * k) % 8])) << "arc " << k;
    }
}

TEST(RectangleCorners, SameValuesAreSkippedUntilTheRectangleIsLaidDownAgain) {
    Scene s(1.0f);
    CRectangle* r = s.Add(0, 20, 100, 20);
    r->SetRound(50, 0, 0, 0);
    // At another zoom the same value gives another corner, so a rebuild shows.
    s.doc.view.SetZoom(0.2f);
    r->SetRound1(50, 1);
    EXPECT_TRUE(Near(r->m_PointLine8[2], {5, 20}));
    r->SetAntiLint1({123, 456}, 50);
    EXPECT_EQ(r->m_PointArc1.size(), 4u);
    r->SetRound1(50, 0);
    EXPECT_TRUE(Near(r->m_PointLine8[2], {25, 20}));  // device 20 x 4: radii 5 and 1 stay elliptical
    EXPECT_EQ(r->perR1, 50);

    // Laid down elsewhere, the corners follow even with unchanged values.
    s.doc.view.SetZoom(1.0f);
    r->InitRectangle(Gdiplus::RectF(200, 20, 100, 20));
    r->SetRound(50, 0, 0, 0);
    ASSERT_EQ(r->m_PointArc1.size(), 4u);
    EXPECT_TRUE(Near(r->m_PointArc1.front(), {200, 15}));
}

TEST(RectangleCorners, TurnedSlantedAndFlippedRectanglesKeepTheirCorners) {
    Scene s;
    const tagPOINTF c{30, 10};
    CRectangle* roundedFirst = s.Add(0, 20, 60, 20);
    roundedFirst->SetRound(40, 40, 40, 40);
    roundedFirst->Slope(c, 0.3, 0.0);
    roundedFirst->Rotate(30, c);
    CRectangle* turnedFirst = s.Add(0, 20, 60, 20);
    turnedFirst->Slope(c, 0.3, 0.0);
    turnedFirst->Rotate(30, c);
    turnedFirst->SetRound(40, 40, 40, 40);
    ExpectSameOutline(*turnedFirst, *roundedFirst);
    EXPECT_NEAR(turnedFirst->m_fRotateAngle, 30.0, 1e-9);

    // The handle edit builds in the same frame, also on a flipped and
    // reversed rectangle.
    CRectangle* edited = s.Add(0, 20, 60, 20);
    edited->Slope(c, 0.3, 0.0);
    edited->Rotate(30, c);
    edited->perR1 = 40;
    edited->ModifyEditPoint(0, {});
    ExpectSameOutline(*edited, *roundedFirst);
    int r1, r2, r3, r4;
    edited->GetRound(r1, r2, r3, r4);
    EXPECT_TRUE(r1 == 40 && r2 == 40 && r3 == 40 && r4 == 40);

    CRectangle* reference = s.Add(0, 20, 60, 20);
    reference->SetRound(25, 25, 25, 25);
    reference->Zoom(c, -1.0, 1.0);
    reference->SortPath();
    reference->SetPathState();
    CRectangle* flipped = s.Add(0, 20, 60, 20);
    flipped->Zoom(c, -1.0, 1.0);
    flipped->SortPath();
    flipped->SetPathState();
    flipped->perR1 = 25;
    flipped->ModifyEditPoint(0, {});
    ExpectSameOutline(*flipped, *reference);
    EXPECT_TRUE(flipped->IsZoomAntiX());
}

TEST(RectangleUndo, HandleEditIsUndoneAndRedoneInTheShapesOwnFrame) {
    HostScope hs;
    Scene s;
    const HWND panel = reinterpret_cast<HWND>(0x10);
    s.doc.m_hNotifyWnd[0] = panel;
    CRectangle* r = s.Add(0, 100, 100, 100);
    r->SetRound(10, 20, 30, -5);
    r->Zoom({50, 50}, 1.0, -1.0);
    r->SortPath();
    r->SetPathState();
    CRectangle* before = static_cast<CRectangle*>(r->Clone());
    s.doc.AdoptShape(before);

    r->perR1 = 45;
    r->ModifyEditPoint(0, {});
    ASSERT_EQ(s.doc.core.m_nUndoCount, 1);
    ASSERT_EQ(s.doc.core.m_vecUndo[0]->GetKind(), 26);
    CRectangle* after = static_cast<CRectangle*>(r->Clone());
    s.doc.AdoptShape(after);

    s.doc.core.OnEditUndo();
    int v[4];
    r->GetRound(v[0], v[1], v[2], v[3]);
    EXPECT_TRUE(v[0] == 10 && v[1] == 20 && v[2] == 30 && v[3] == -5);  // every corner's own value back
    ExpectSameOutline(*r, *before);
    auto sent = hs.host->Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].wnd, panel);
    EXPECT_EQ(sent[0].wParam, 0u);
    EXPECT_EQ(sent[0].lParam, reinterpret_cast<LPARAM>(r));

    s.doc.core.m_vecLastShapeIDs.clear();
    s.doc.core.OnEditRedo();
    ExpectSameOutline(*r, *after);
    EXPECT_EQ(r->perR4, 45);
    ASSERT_EQ(s.doc.core.m_vecLastShapeIDs.size(), 1u);
    EXPECT_TRUE(s.doc.core.m_vecLastShapeIDs[0] == r->GetBaseID());
    EXPECT_TRUE(r->IsZoomAntiY() && r->IsAntiPath());

    // No rectangle to handle: nothing to tell the panel; no payload: nothing.
    hs.host->ClearRecords();
    auto* data = new stRoundUndo();
    data->ids.push_back(GUID{7, 0, 0, {}});
    CUND_Round missing(data);
    EXPECT_EQ(missing.OnEditUndo(&s.doc.core), 1);
    EXPECT_TRUE(hs.host->Messages().empty());
    EXPECT_EQ(CUND_Round().OnEditRedo(&s.doc.core), 1);
}

TEST(RectangleUndo, LinkedRectanglesFollowEvenInACycle) {
    Scene s;
    CRectangle* a = s.Add(0, 10, 10, 10);
    CRectangle* b = s.Add(20, 10, 10, 10);
    auto* other = new CPolyLine();
    s.doc.AddShape(other);
    a->GetLinkedIDs() = {b->GetBaseID(), other->GetBaseID(), a->GetBaseID()};
    b->GetLinkedIDs() = {a->GetBaseID()};
    a->SetRound(20, 20, 20, 20);
    EXPECT_EQ(a->perR3, 20);
    EXPECT_EQ(b->perR3, 20);
    EXPECT_EQ(b->m_PointArc3.size(), 4u);
}

TEST(RectangleOutline, FlatteningRunsBothWaysRoundTheSameOutline) {
    Scene s;
    CRectangle* r = s.Add(0, 100, 100, 100);
    r->SetRound(30, 30, 30, 30);
    std::vector<tagPOINTF> forward = testsupport::Flattened(*r, 0.25f);
    ASSERT_GT(forward.size(), 13u);
    for (const tagPOINTF& p : forward) EXPECT_TRUE(OnRoundedSquare(p)) << p.x << ", " << p.y;
    const double area = 100.0 * 100.0 - (4 - kPi) * 15 * 15;
    EXPECT_NEAR(SignedArea(forward), -area, 1.0);  // clockwise
    tagPOINTF first, last;
    r->GetFlattenPathFirstPoint(first);
    r->GetFlattenPathLastPoint(last);
    EXPECT_TRUE(Near(first, {0, 15}) && Near(forward.front(), first) && Near(forward.back(), first));
    EXPECT_TRUE(Near(last, {0, 50}));

    r->SortPath();
    r->SetPathState();
    std::vector<tagPOINTF> backward = testsupport::Flattened(*r, 0.25f);
    for (const tagPOINTF& p : backward) EXPECT_TRUE(OnRoundedSquare(p)) << p.x << ", " << p.y;
    EXPECT_NEAR(SignedArea(backward), area, 1.0);
    r->GetFlattenPathFirstPoint(first);
    r->GetFlattenPathLastPoint(last);
    EXPECT_TRUE(Near(first, {0, 85}) && Near(backward.front(), first));  // side 0 run backwards
    EXPECT_TRUE(Near(last, {0, 50}));

    // The curve form follows the marked order: every segment starts where
    // the one before it ended.
    std::unique_ptr<CBaseShape> shape(r->ToBezier());
    auto* curve = dynamic_cast<CBezierCurve*>(shape.get());
    ASSERT_NE(curve, nullptr);
    ASSERT_EQ(curve->arrSegment.size(), 8u);
    EXPECT_EQ(curve->bClosed, 1);
    for (size_t i = 0; i < 8; ++i) {
        const BEZIER_4POINTF_DRAW& seg = curve->arrSegment[i];
        EXPECT_TRUE(Near(seg.p1, curve->arrSegment[(i + 7) % 8].p4)) << i;
        EXPECT_EQ(seg.LineType, i % 2 == 0 ? 1 : 2);
        if (seg.LineType == 2) {
            EXPECT_TRUE(OnRoundedSquare(seg.ArcCenterPoint));
        }
    }
    EXPECT_TRUE(Near(curve->arrSegment[0].p1, first));
}

TEST(RectangleOutline, OvershootConvertsWithoutArcsAndGCodeFollowsTheOutline) {
    Scene s;
    CRectangle* r = s.Add(0, 10, 20, 10);
    r->SetRound(-20, -20, -20, -20);
    std::unique_ptr<CBaseShape> curve(r->ToBezier());
    EXPECT_EQ(static_cast<CBezierCurve*>(curve.get())->arrSegment.size(), 4u);
    std::unique_ptr<CBaseShape> shape(r->ToPolyLine());
    auto* poly = dynamic_cast<CPolyLine*>(shape.get());
    ASSERT_NE(poly, nullptr);
    ASSERT_FALSE(poly->arrPoint.empty());
    EXPECT_TRUE(Near(poly->arrPoint[0], {0, -1}));  // the left side starts below the bottom

    CRectangle* rounded = s.Add(0, 100, 100, 100);
    rounded->SetRound(30, 30, 30, 30);
    GCodeContext ctx;
    ctx.bToList = 1;
    ctx.fLastX = -1;
    rounded->ExportGCodeToBuff(ctx);
    ASSERT_GT(ctx.lines.size(), 8u);
    EXPECT_EQ(ctx.lines.front(), L"G00 X0.000 Y15.000 Z0.000 \n");
    EXPECT_EQ(ctx.lines.back(), L"G01 X0.000 Y15.000 Z0.000 \n");

    // Converted to curves or lines, square, overshooting or rounded, the
    // outline still marks with its own pen.
    CRectangle* square = s.Add(5, 5, 3, 2);
    for (CRectangle* src : {r, rounded, square}) {
        src->SetPen(6);
        for (bool bezier : {true, false}) {
            std::unique_ptr<CBaseShape> c(bezier ? src->ToBezier() : src->ToPolyLine());
            tagMarkDataPar mark;
            ASSERT_TRUE(c->GetMarkData(mark, nullptr));
            ASSERT_FALSE(mark.arrPaths.empty());
            for (const tagPathData& path : mark.arrPaths) EXPECT_EQ(path.nPenIndex, 6) << bezier;
        }
    }
}

TEST(RectangleMarkData, OnePathWithoutRepeatsRebuiltAfterEveryChange) {
    Scene s;
    CRectangle* r = s.Add(0, 100, 100, 100);
    r->SetRound(30, 30, 30, 30);
    r->SetPen(7);
    tagMarkDataPar out;
    ASSERT_TRUE(r->GetMarkData(out, nullptr));
    ASSERT_EQ(out.arrPaths.size(), 1u);
    EXPECT_EQ(out.arrPaths[0].nPenIndex, 7);
    ASSERT_EQ(out.arrPaths[0].arrPolylines.size(), 1u);
    const std::vector<tagPOINTF>& line = out.arrPaths[0].arrPolylines[0];
    for (size_t i = 1; i < line.size(); ++i)
        EXPECT_GT(std::max(std::fabs(line[i].x - line[i - 1].x), std::fabs(line[i].y - line[i - 1].y)), 1e-6f);
    EXPECT_TRUE(out.rect.Equals(Gdiplus::RectF(0, 100, 100, 100)));
    EXPECT_TRUE(r->GetMarkCache().rect.Equals(out.rect));
    ASSERT_EQ(WaitForSingleObject(r->GetMarkEvent(), 0), WAIT_OBJECT_0);  // released
    SetEvent(r->GetMarkEvent());

    r->Rotate(45, {50, 50});
    tagMarkDataPar turned;
    ASSERT_TRUE(r->GetMarkData(turned, nullptr));
    EXPECT_NEAR(turned.rect.Width, 100 * std::sqrt(2.0), 1e-3);
}

TEST(RectangleFile, SavedAndReadBackAndDamagedDataIsHarmless) {
    Scene s;
    CRectangle* src = s.Add(0, 100, 100, 100);
    src->SetRound(30, -20, 150, 0);
    src->Rotate(10, {50, 50});
    src->SetPen(4);
    const testsupport::Bytes bytes = testsupport::SavedShape(*src);
    CRectangle back;
    testsupport::ReadFrom(back, bytes);
    back.RestoreAfterRead();
    ExpectSameOutline(back, *src, 0.0);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Near(back.m_Point8[i], src->m_Point8[i], 0.0));
    EXPECT_TRUE(back.perR1 == 30 && back.perR2 == -20 && back.perR3 == 150 && back.perR4 == 0);
    EXPECT_DOUBLE_EQ(back.m_fRotateAngle, 10.0);

    for (size_t cut : {bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
        CRectangle damaged;
        SriFile part(bytes.data(), cut);
        damaged.Read(false, &part);
        damaged.RestoreAfterRead();
        std::vector<tagPOINTF> pts = testsupport::Flattened(damaged, 0.25f);
        // Cut before its outline, a rectangle has nothing to mark.
        if (!pts.empty()) {
            EXPECT_EQ(pts.front(), pts.back());
        }
    }
    // Arc lists that do not form whole cubics are drawn and flattened only
    // as far as they do.
    CRectangle odd;
    odd.InitRectangle(Gdiplus::RectF(0, 10, 10, 10));
    odd.m_PointArc1 = {{0, 9}, {0, 10}, {1, 10}, {1, 10}, {5, 5}, {6, 6}};
    std::vector<tagPOINTF> pts = testsupport::Flattened(odd, 0.25f);
    for (const tagPOINTF& p : pts) EXPECT_FALSE(Near(p, {6, 6}));
}

TEST(RectangleFile, XmlListsArcsOutlineAndLinePoints) {
    CRectangle rect;
    rect.SetCaption(L"a<b");
    rect.InitRectangle(Gdiplus::RectF(0, 2, 3, 2));
    const std::string xml = ExportXml(rect);
    EXPECT_EQ(xml.rfind("<Rectangle Name=\"a&lt;b\" perR1=\"0\" perR2=\"0\" perR3=\"0\" perR4=\"0\">\r\n"
                        "<PointArc1 nSize=\"0\"></PointArc1><PointArc2 nSize=\"0\"></PointArc2>"
                        "<PointArc3 nSize=\"0\"></PointArc3><PointArc4 nSize=\"0\"></PointArc4><Point8>"
                        "<P x=\"0.000\" y=\"0.000\" z=\"0.000\"/><P x=\"0.000\" y=\"2.000\" z=\"0.000\"/>",
                        0),
              0u);
    EXPECT_EQ(xml.find('\n'), xml.find("\r\n") + 1);
    EXPECT_EQ(xml.find('\n', xml.find('\n') + 1), std::string::npos);
    const std::string tail = "<P x=\"0.000\" y=\"0.000\" z=\"0.000\"/></PointLine8></Rectangle>";
    EXPECT_EQ(xml.substr(xml.size() - tail.size()), tail);

    // Four different corners, read back from the text: each value and each
    // arc in its own place. Corner i rounds by r_i percent of the half sides
    // (100 x 60, so rx = r / 2, ry = 0.3 r): the arc runs from the end of the
    // side before the corner to the start of the side after it.
    Scene s;
    CRectangle* r = s.Add(10, 70, 100, 60);
    const int values[4] = {10, 20, 30, 40};
    r->SetRound(values[0], values[1], values[2], values[3]);
    const std::string text = ExportXml(*r);
    // The number after key=" from pos on, read as the XML holds it.
    auto number = [&text](const std::string& key, size_t& pos) {
        pos = text.find(key + "=\"", pos);
        return pos == std::string::npos ? NAN : std::stod(text.substr(pos + key.size() + 2));
    };
    const float rx[4] = {5, 10, 15, 20}, ry[4] = {3, 6, 9, 12};
    const tagPOINTF from[4] = {{10, 70 - ry[0]}, {110 - rx[1], 70}, {110, 10 + ry[2]}, {10 + rx[3], 10}};
    const tagPOINTF to[4] = {{10 + rx[0], 70}, {110, 70 - ry[1]}, {110 - rx[2], 10}, {10, 10 + ry[3]}};
    for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        size_t at = 0;
        EXPECT_EQ(number("perR" + n, at), values[i - 1]) << i;
        at = text.find("<PointArc" + n + " ");
        ASSERT_NE(at, std::string::npos) << i;
        const size_t end = text.find("</PointArc" + n + ">", at);
        EXPECT_EQ(number("nSize", at), 4) << i;
        std::vector<tagPOINTF> pts;
        for (size_t p = text.find("<P ", at); p < end; p = text.find("<P ", p)) {
            const double x = number("x", p);
            pts.push_back({float(x), float(number("y", p))});
        }
        ASSERT_EQ(pts.size(), 4u) << i;
        EXPECT_TRUE(Near(pts.front(), from[i - 1], 2e-3)) << i;
        EXPECT_TRUE(Near(pts.back(), to[i - 1], 2e-3)) << i;
    }
}

TEST(RectanglePicking, SidesBeforeArcsAndSnapPoints) {
    Scene s(4.0f);  // the default pick distance of 5 pixels: 1.25 mm
    CRectangle* r = s.Add(0, 100, 100, 100);
    EXPECT_EQ(r->IsMe({0.1f, 99.9f}), 1);  // square corners: only sides
    EXPECT_EQ(r->IsMe({4.4f, 95.6f}), 0);
    r->SetRound(30, 30, 30, 30);
    EXPECT_EQ(r->IsMe({0.1f, 50}), 1);
    EXPECT_EQ(r->IsMe({50, 100.1f}), 3);
    EXPECT_EQ(r->IsMe({99.9f, 50}), 5);
    EXPECT_EQ(r->IsMe({50, -0.1f}), 7);
    const double d = 15 / std::sqrt(2.0);
    EXPECT_EQ(r->IsMe({float(15 - d), float(85 + d)}), 2);
    EXPECT_EQ(r->IsMe({float(85 + d), float(15 - d)}), 6);
    EXPECT_EQ(r->IsMe({50, 50}), 0);

    std::vector<tagPOINTF> snaps;
    r->GetSnapPoint(snaps);
    ASSERT_EQ(snaps.size(), 15u);
    EXPECT_TRUE(Near(snaps[8], {0, 50}));
    EXPECT_TRUE(Near(snaps[9], {7.5f, 92.5f}));  // across corner 1
}

TEST(RectanglePicking, OnlyClicksNearTheOutlineCountAtAnyZoom) {
    for (float zoom : {2.0f, 4.0f, 40.0f}) {
        SCOPED_TRACE(zoom);
        Scene s(zoom);
        CRectangle* r = s.Add(0, 10, 20, 10);
        const float band = 5.0f / zoom;  // the default pick distance in mm
        EXPECT_EQ(r->IsMe({10, 5}), 0);  // the centre
        EXPECT_EQ(r->IsMe({10, 30}), 0);
        EXPECT_EQ(r->IsMe({-20, 5}), 0);
        EXPECT_EQ(r->IsMe({10, 10 + 0.9f * band}), 3);
        EXPECT_EQ(r->IsMe({10, 10 + 1.1f * band}), 0);
        EXPECT_EQ(r->IsMe({20 + 0.6f * band, 10 + 0.6f * band}), 3);  // beyond a corner
        EXPECT_EQ(r->IsMe({20 + 0.8f * band, 10 + 0.8f * band}), 0);

        // A rounded corner of a square: radius 50 about (50, 150).
        CRectangle* q = s.Add(0, 200, 200, 200);
        q->SetRound(50, 0, 0, 0);
        const double d = 50 / std::sqrt(2.0);
        const double out = 1 / std::sqrt(2.0);
        auto onRay = [&](double beyond) {
            return tagPOINTF{float(50 - d - out * beyond), float(150 + d + out * beyond)};
        };
        EXPECT_EQ(q->IsMe(onRay(0)), 2);
        EXPECT_EQ(q->IsMe(onRay(0.6 * band)), 2);
        EXPECT_EQ(q->IsMe(onRay(-0.6 * band)), 2);
        EXPECT_EQ(q->IsMe(onRay(1.2 * band)), 0);
        EXPECT_EQ(q->IsMe({30, 170}), 0);
    }
}

TEST(RectangleDrawing, OffsetsShiftSidesAndArcsAndTheStartBoxNeedsSelection) {
    Scene s(2.0f);
    CRectangle* r = s.Add(0, 10, 20, 10);
    r->SetRound(40, 0, 0, 0);
    RecordingCanvas plain, shifted;
    CDC dcPlain(&plain), dcShifted(&shifted);
    r->Draw(&dcPlain, nullptr, RGB(255, 0, 0), 0, 0, 0, 0, 0.0f, 0.0f);
    r->Draw(&dcShifted, nullptr, RGB(255, 0, 0), 0, 0, 0, 0, 5.0f, -7.0f);
    const auto a = plain.Records();
    const auto b = shifted.Records();
    ASSERT_EQ(a.size(), 5u);  // four sides, one arc
    ASSERT_EQ(b.size(), a.size());
    EXPECT_EQ(a[4].op, CanvasOp::Beziers);
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].points.size(), b[i].points.size());
        for (size_t k = 0; k < a[i].points.size(); ++k) {
            EXPECT_NEAR(b[i].points[k].X - a[i].points[k].X, 5.0, 1e-4);
            EXPECT_NEAR(b[i].points[k].Y - a[i].points[k].Y, -7.0, 1e-4);
        }
    }

    auto boxes = [&](int mode) {
        RecordingCanvas canvas;
        CDC dc(&canvas);
        r->Draw(&dc, nullptr, RGB(0, 0, 0), 0, mode, 0, 1, 0.0f, 0.0f);
        int n = 0;
        for (const auto& rec : canvas.Records()) n += rec.op == CanvasOp::Rectangle ? 1 : 0;
        return n;
    };
    EXPECT_EQ(boxes(0), 0);  // not selected
    r->SetSelectFlag(1, false);
    EXPECT_EQ(boxes(0), 1);
    EXPECT_EQ(boxes(1), 0);
}

TEST(RectangleNumbers, NumbersThatAreNotFiniteNeverGetIn) {
    const double kBad[] = {NAN, INFINITY, -INFINITY, FLT_MAX, 1e30};
    auto f = [](double v) { return static_cast<float>(v); };
    auto init = [](CRectangle& r, Gdiplus::RectF rc) { return r.InitRectangle(rc); };
    std::vector<testsupport::NumberCall<CRectangle>> rows = {
        {"init x", [&](CRectangle& r, double v) { return init(r, {f(v), 60, 57, 31.5f}); }},
        {"init y", [&](CRectangle& r, double v) { return init(r, {12.5f, f(v), 57, 31.5f}); }},
        {"init w", [&](CRectangle& r, double v) { return init(r, {12.5f, 60, f(v), 31.5f}); }},
        {"init h", [&](CRectangle& r, double v) { return init(r, {12.5f, 60, 57, f(v)}); }},
        {"init x and w", [&](CRectangle& r, double v) { return init(r, {f(v), 60, f(v), 31.5f}); }, FLT_MAX},
    };
    for (const auto& row : testsupport::TransformNumberCalls<CRectangle>()) rows.push_back(row);
    for (const auto& row : rows) {
        for (double v : kBad) {
            const std::string what = std::string(row.name) + " " + std::to_string(v);
            Scene s;
            CRectangle* r = s.Add(12.5f, 60, 57, 31.5f);
            r->SetRound(35, 0, 60, -15);
            r->Rotate(20, {-3, 11});
            const testsupport::Bytes before = testsupport::SavedShape(*r);
            const size_t records = s.doc.core.m_vecUndo.size();
            const int result = row.call(*r, v);
            if (!std::isfinite(v) || v >= row.refusedFrom) {
                EXPECT_EQ(result, CRectangle::kRefused) << what;
            }
            if (result == CRectangle::kRefused) {
                EXPECT_TRUE(testsupport::SavedShape(*r) == before) << what;
            }
            EXPECT_EQ(s.doc.core.m_vecUndo.size(), records) << what;
            ExpectAllFinite(*r, what);
            r->SetRound(30, 20, 10, 40);  // nor does a later rounding bring one in
            ExpectAllFinite(*r, what + " rounded");
        }
    }

    // Corner values at the ends of int, on a rectangle near the float range
    // where an overshoot overflows: refused whole, nothing recorded.
    for (int v : {INT_MIN, INT_MAX, -1000000}) {
        for (int op = 0; op < 4; ++op) {
            const std::string what = "corner " + std::to_string(v) + " op " + std::to_string(op);
            Scene s;
            CRectangle* r = s.Add(-1e37f, 1e37f, 2e37f, 2e37f);
            ASSERT_EQ(r->SetRound(10, 0, 0, 0), 0);
            const testsupport::Bytes before = testsupport::SavedShape(*r);
            int result = 0;
            if (op == 0) result = r->SetRound(v, 5, v, 0);
            if (op == 1) result = r->SetAntiLint2({0, 0}, v);
            if (op == 2) result = r->SetRound3(v, 0);  // a negative value squares it
            if (op == 3) {
                r->perR1 = v;
                result = r->ModifyEditPoint(0, {0, 0});
            }
            if (v == -1000000 && op != 2) {
                EXPECT_EQ(result, CRectangle::kRefused) << what;
            }
            if (result == CRectangle::kRefused) {
                EXPECT_TRUE(testsupport::SavedShape(*r) == before) << what;
                EXPECT_TRUE(s.doc.core.m_vecUndo.empty()) << what;
            }
            ExpectAllFinite(*r, what);
        }
    }

    // A saved rectangle holding a NaN or an infinity anywhere is read
    // without its geometry: nothing of it is marked.
    for (int field = 0; field < 4; ++field) {
        for (double v : {double(NAN), double(INFINITY), -double(INFINITY)}) {
            Scene s;
            CRectangle* src = s.Add(12.5f, 60, 57, 31.5f);
            src->SetRound(35, 0, 60, -15);
            if (field == 0) src->m_Point8[5].y = f(v);
            if (field == 1) src->m_PointLine8[2].x = f(v);
            if (field == 2) src->m_PointArc3[1].y = f(v);
            if (field == 3) src->m_PeakPointf2.x = f(v);
            src->UpdatePropsValue();
            CRectangle back;
            testsupport::ReadFrom(back, testsupport::SaveOf(*src));
            back.RestoreAfterRead();
            tagMarkDataPar out;
            EXPECT_FALSE(back.GetMarkData(out, nullptr)) << field;
            ExpectAllFinite(back, "read " + std::to_string(field));
        }
    }
    // A rectangle whose laying down was refused (an importer's bad number)
    // marks nothing, not a point at the origin.
    CRectangle never;
    EXPECT_EQ(never.InitRectangle({1, 2, float(INFINITY), 3}), CRectangle::kRefused);
    tagMarkDataPar out;
    EXPECT_FALSE(never.GetMarkData(out, nullptr));
}
