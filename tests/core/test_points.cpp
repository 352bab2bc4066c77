// The point shape: picking and rubber-band selection, the drawn cross,
// transforms with the mark data, export and persistence.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/points.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/graphics.h"
#include "morvik/halder/basedoc.h"
#include "support/shape_support.h"

namespace {

using testsupport::ViewAt;
using testsupport::ExportXml;

// The canvas holds exactly the two diagonals of a cross at (x, y).
void ExpectCross(RecordingCanvas& canvas, float x, float y) {
    ASSERT_EQ(canvas.Count(), 2u);
    const CanvasRecord a = canvas.At(0), b = canvas.At(1);
    ASSERT_EQ(a.points.size(), 2u);
    ASSERT_EQ(b.points.size(), 2u);
    EXPECT_TRUE(a.points[0].Equals({x + 1, y + 1}) && a.points[1].Equals({x - 1, y - 1})) << x << "," << y;
    EXPECT_TRUE(b.points[0].Equals({x + 1, y - 1}) && b.points[1].Equals({x - 1, y + 1})) << x << "," << y;
    canvas.Reset();
}

}  // namespace

TEST(Points, PickingAndRubberBand) {
    CPoints p;
    p.InitPoint({10, 10});
    // 2.5 pixels: 2.5 mm at zoom 1, 1.25 mm at zoom 2.
    EXPECT_EQ(p.IsMe({12.5f, 10.0f}), 1);
    EXPECT_EQ(p.IsMe({11.5f, 12.0f}), 1);
    EXPECT_EQ(p.IsMe({12.51f, 10.0f}), 0);
    ViewAt at(2.0f);
    p.SetDocView(&at.doc, &at.view);
    EXPECT_EQ(p.IsMe({11.25f, 10.0f}), 1);
    EXPECT_EQ(p.IsMe({11.3f, 10.0f}), 0);

    // The band is taken in millimetres as it is: x 0.2..0.8, y 0.3..0.9.
    p.InitPoint({0.5f, 0.5f});
    Gdiplus::RectF band(0.2f, 0.9f, 0.6f, 0.6f), beside(0.6f, 0.9f, 0.6f, 0.6f), below(0.0f, 0.4f, 1.0f, 0.4f);
    Gdiplus::RectF corner(0.5f, 0.5f, 1.0f, 1.0f), dragged(0.8f, 0.1f, -0.6f, -0.6f);
    EXPECT_EQ(p.IsSelectedForRect(band), 1);
    EXPECT_EQ(p.IsSelectedForRect(beside), 0);
    EXPECT_EQ(p.IsSelectedForRect(below), 0);
    EXPECT_EQ(p.IsSelectedForRect(corner), 1);
    EXPECT_EQ(p.IsSelectedForRect(dragged), 1);
    EXPECT_EQ(p.IsInRect(band), 1);

    Gdiplus::RectF r = testsupport::RectOf(p);
    EXPECT_TRUE(r.Equals(Gdiplus::RectF(0.5f, 0.5f, 0.0001f, 0.0001f)));
}

TEST(Points, CrossAtTheDevicePosition) {
    ViewAt at(2.0f);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CPoints p;
    p.InitPoint({10, 5});
    EXPECT_EQ(p.Draw(&dc, 0, 0, 0, 0), 0);  // no view: nothing to map with
    EXPECT_EQ(canvas.Count(), 0u);

    p.SetDocView(&at.doc, &at.view);
    p.Draw(&dc, nullptr, RGB(255, 0, 0), 0, 0, 0, 0, 1.7f, -2.7f);  // offsets truncated
    EXPECT_EQ(canvas.At(0).pen.argb, 0xFFFF0000u);
    EXPECT_EQ(canvas.At(0).pen.width, 0.0f);
    ExpectCross(canvas, 21, -12);
    p.DrawRotate(&dc, 0, 90.0, {0, 0});  // (10, 5) -> (-5, 10)
    ExpectCross(canvas, -10, -20);
    EXPECT_EQ(p.pointf, (tagPOINTF{10, 5}));

    Gdiplus::Graphics g(&canvas);
    std::vector<tagPenPar> pens;
    p.InitPoint({2.9f, -3.9f});
    p.DrawToGraphics(&g, pens, 0, 0, 1.5f, 0.0f);
    ExpectCross(canvas, 3, -3);
    // Coordinates no surface holds are drawn somewhere harmless.
    p.InitPoint({std::numeric_limits<float>::quiet_NaN(), 3e38f});
    p.DrawToGraphics(&g, pens, 0, 0, -3e38f, std::numeric_limits<float>::infinity());
    EXPECT_EQ(canvas.Count(), 2u);
}

TEST(Points, TransformsKeepTheMarkDataFresh) {
    ViewAt at(1.0f);
    CPoints p;
    p.SetDocView(&at.doc, &at.view);
    p.InitPoint({1, 2});
    p.SetPen(3);
    p.SetReverseOrder(true);
    tagMarkDataPar rec;
    rec.bFlag = 1;
    rec.arrPaths.resize(3);
    ASSERT_TRUE(p.GetMarkData(rec, nullptr));
    EXPECT_EQ(rec.bFlag, 1);
    ASSERT_EQ(rec.arrPaths.size(), 1u);
    EXPECT_EQ(rec.arrPaths[0].nPenIndex, 3);
    EXPECT_EQ(rec.arrPaths[0].arrPolylines, (std::vector<std::vector<tagPOINTF>>{{{1, 2}}}));
    EXPECT_TRUE(rec.rect.Equals(Gdiplus::RectF(1, 2, 0.0001f, 0.0001f)));

    auto marked = [&p]() {
        tagMarkDataPar r;
        EXPECT_TRUE(p.GetMarkData(r, nullptr));
        return r.arrPaths.at(0).arrPolylines.at(0).at(0);
    };
    auto near = [](tagPOINTF a, tagPOINTF b) { return std::fabs(a.x - b.x) < 1e-5f && std::fabs(a.y - b.y) < 1e-5f; };
    p.Move(2, -1);
    EXPECT_EQ(marked(), (tagPOINTF{3, 1}));
    p.Rotate(90.0, {0, 0});
    EXPECT_TRUE(near(marked(), {-1, 3}));
    p.Zoom({1, 1}, 2.0, -1.0);
    EXPECT_TRUE(near(marked(), {-3, -1}));
    p.Slope({0, 0}, 0.0, std::atan(2.0));  // y against x * 2
    EXPECT_TRUE(near(marked(), {-3, 5}));
    p.Mirror({1, 1}, 1);
    EXPECT_TRUE(near(marked(), {5, 5}));
    p.Mirror({1, 1}, 3);
    EXPECT_TRUE(near(marked(), {-3, -3}));
    p.Mirror({9, 9}, 0);
    EXPECT_FALSE(p.GetDataForce());
    EXPECT_EQ(WaitForSingleObject(p.GetMarkEvent(), 0), WAIT_OBJECT_0);
    SetEvent(p.GetMarkEvent());

    std::vector<tagPOINTF> flat;  // flattening appends
    p.GetFlattenPathPoints(flat, 0.25f);
    p.GetFlattenPathPoints(flat, 0.25f);
    EXPECT_EQ(flat.size(), 2u);
}

TEST(Points, CoordinatesThatAreNotNumbersAreRefused) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ViewAt at(1.0f);
    CPoints p;
    p.SetDocView(&at.doc, &at.view);
    EXPECT_EQ(p.InitPoint({1, 2}), 0);
    EXPECT_EQ(p.InitPoint({nan, 0}), -1);
    EXPECT_EQ(p.InitPoint({0, inf}), -1);
    p.Move(nan, 0);
    p.Rotate(nan, {0, 0});
    p.Zoom({0, 0}, 1e39, 1);
    p.Slope({0, 0}, nan, 0);
    EXPECT_EQ(p.pointf, (tagPOINTF{1, 2}));

    // One that came in from outside (a file) is not marked.
    p.pointf = {nan, 1};
    p.SetGetDataForce(true);
    tagMarkDataPar rec;
    EXPECT_TRUE(p.GetMarkData(rec, nullptr));
    EXPECT_TRUE(rec.arrPaths.empty());
}

TEST(Points, XmlAndSavedKeys) {
    CPoints p;
    p.InitPoint({-7.125f, 3.5f});
    p.SetCaption(L"A&B \"<1>\"");
    p.SetPen(200);
    EXPECT_EQ(ExportXml(p), "<Point Name=\"A&amp;B &quot;&lt;1&gt;&quot;\" x=\"-7.125\" y=\"3.500\" z=\"0.000\"/>\r\n");

    CPoints read;
    testsupport::ReadFrom(read, testsupport::SavedShape(p));
    EXPECT_EQ(read.pointf, (tagPOINTF{-7.125f, 3.5f}));
    EXPECT_EQ(read.m_wstrCaption, L"A&B \"<1>\"");
    EXPECT_EQ(read.GetPenIndex(), 200);
}
