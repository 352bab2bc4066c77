// The polyline shape: thinned drawing of long polylines, exports, picking,
// transforms and the mark data with its guard.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/halder/basedoc.h"
#include "support/shape_support.h"

namespace {

using testsupport::ViewAt;
using testsupport::Unlocked;
using testsupport::ExportXml;

// Points along the x axis, 0.25 mm apart (exact in float).
std::vector<tagPOINTF> Straight(size_t count) {
    std::vector<tagPOINTF> pts(count);
    for (size_t i = 0; i < count; ++i) pts[i] = {0.25f * static_cast<float>(i), 0.0f};
    return pts;
}

std::vector<CanvasRecord> Lines(const RecordingCanvas& canvas) {
    std::vector<CanvasRecord> out;
    for (const CanvasRecord& r : canvas.Records())
        if (r.op == CanvasOp::Line) out.push_back(r);
    return out;
}

bool Near(tagPOINTF a, tagPOINTF b) { return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f; }

}  // namespace

TEST(PolyLine, CaptionsAndClonesKeepTheCounter) {
    ShapeCounterOf(SHAPE_POLYLINE).Reset();
    CPolyLine first;
    CPolyLine second;
    EXPECT_STREQ(first.GetCaption().GetString(), L"Polyline1");
    EXPECT_STREQ(second.GetCaption().GetString(), L"Polyline2");
    first.arrPoint = {{0, 0}, {1, 0}};
    first.ClosePloyLine();
    std::unique_ptr<CBaseShape> clone(first.Clone());
    EXPECT_EQ(ShapeCounterOf(SHAPE_POLYLINE).Peek(), 3);
    auto* copy = dynamic_cast<CPolyLine*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->arrPoint, first.arrPoint);
    EXPECT_EQ(copy->bClosed, 1);
    EXPECT_STREQ(copy->GetCaption().GetString(), L"Polyline1");

    CPolyLine empty;  // nothing to close
    empty.ClosePloyLine();
    EXPECT_TRUE(empty.arrPoint.empty());
}

TEST(PolyLineDetail, ZoomLevelBoundaries) {
    const struct {
        float zoom;
        int level;
        float step;
    } cases[] = {{2.49f, 0, 1.0f}, {2.5f, 1, 0.5f},  {4.99f, 1, 0.5f},  {5.0f, 2, 0.2f},   {10.0f, 2, 0.2f},
                 {10.01f, 3, 0.1f}, {20.0f, 4, 0.05f}, {50.0f, 4, 0.05f}, {50.01f, 5, 0.02f}, {NAN, 0, 1.0f}};
    for (const auto& c : cases) {
        int level = -1;
        float step = 0;
        CPolyLine::GetZoomDetailLevel(c.zoom, level, step);
        EXPECT_EQ(level, c.level) << c.zoom;
        EXPECT_FLOAT_EQ(step, c.step) << c.zoom;
    }
}

TEST(PolyLineDetail, LongPolylinesAreDrawnThinned) {
    ViewAt at(1.0f);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CPolyLine exact;
    exact.SetDocView(&at.doc, &at.view);
    exact.arrPoint = Straight(10000);
    exact.Draw(&dc, nullptr, RGB(255, 0, 0), 0, 0, 0, 0, 0, 0);
    std::vector<CanvasRecord> lines = Lines(canvas);
    ASSERT_EQ(lines.size(), 9999u);
    EXPECT_EQ(lines[0].pen.argb, 0xFFFF0000u);

    // At level 0 (step 1 mm) a point is kept once the mean of its coordinate
    // differences exceeds 1, i.e. every 2.25 mm: points 0, 9, ..., 9999, so
    // 1111 lines; the tail point 10000 is not forced in.
    canvas.Reset();
    CPolyLine longer;
    longer.SetDocView(&at.doc, &at.view);
    longer.arrPoint = Straight(10001);
    longer.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 1.5f, -2.0f);
    lines = Lines(canvas);
    ASSERT_EQ(lines.size(), 1111u);
    EXPECT_FLOAT_EQ(lines[0].points[0].X, 1.5f);
    EXPECT_FLOAT_EQ(lines[0].points[0].Y, -2.0f);
    EXPECT_FLOAT_EQ(lines[0].points[1].X, 2.25f + 1.5f);
    EXPECT_FLOAT_EQ(lines.back().points[1].X, 2499.75f + 1.5f);

    // At zoom 10 (level 2, step 0.2) every second point is kept.
    canvas.Reset();
    at.view.SetZoom(10.0f);
    longer.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(Lines(canvas).size(), 5000u);
}

TEST(PolyLineDetail, PreviewsHitTestsAndEditsUseAnUpToDateCopy) {
    ViewAt at(1.0f);
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CPolyLine line;
    line.SetDocView(&at.doc, &at.view);
    line.arrPoint = Straight(10001);

    // Never drawn: the hit test and the preview build the copy themselves.
    // x = 5 lies in the widened box of the copy's second segment (2.25-4.5).
    EXPECT_EQ(line.IsMe({5.0f, 0.5f}), 2);
    EXPECT_EQ(line.IsMe({5.0f, 30.0f}), 0);
    line.DrawRotate(&dc, 0, 90.0, {0, 0});
    std::vector<CanvasRecord> lines = Lines(canvas);
    ASSERT_EQ(lines.size(), 1111u);
    EXPECT_NEAR(lines[0].points[1].X, 0.0f, 1e-4);  // (2.25, 0) turned to (0, 2.25)
    EXPECT_NEAR(lines[0].points[1].Y, -2.25f, 1e-4);

    // After a reversal drawing starts on the new first point, with no stray
    // segment from the old one; appended points are drawn too.
    line.SortPath();
    canvas.Reset();
    line.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0, 0);
    lines = Lines(canvas);
    ASSERT_EQ(lines.size(), 1111u);
    EXPECT_FLOAT_EQ(lines[0].points[0].X, 2500.0f);
    for (const CanvasRecord& r : lines) EXPECT_LE(std::fabs(r.points[0].X - r.points[1].X), 2.25f);
    for (int i = 1; i <= 40; ++i) line.arrPoint.push_back({0.0f, -0.25f * static_cast<float>(i)});
    canvas.Reset();
    line.Draw(&dc, nullptr, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(Lines(canvas).back().points[1].Y, 8.75f);
}

TEST(PolyLineExport, XmlAndGCodeLines) {
    CPolyLine line;
    line.SetCaption(L"Polyline1");
    line.arrPoint = {{1.0f, 2.5f}, {-3.125f, 0.0f}};
    EXPECT_EQ(ExportXml(line),
              "<PolyLine Name=\"Polyline1\"><Point nSize=\"2\">"
              "<P x=\"1.000\" y=\"2.500\" z=\"0.000\"/><P x=\"-3.125\" y=\"0.000\" z=\"0.000\"/>"
              "</Point></PolyLine>");
    line.SetCaption(L"a<b>&\"c");
    line.arrPoint.clear();
    EXPECT_EQ(ExportXml(line), "<PolyLine Name=\"a&lt;b&gt;&amp;&quot;c\"><Point nSize=\"0\"></Point></PolyLine>");

    line.arrPoint = {{1, 2}, {3, 4}, {3, 4}, {1.5f, 2.25f}};
    GCodeContext gcode;
    gcode.bToList = 1;
    gcode.fLastX = -1;
    line.ExportGCodeToBuff(gcode);
    EXPECT_EQ(gcode.lines, (std::vector<std::wstring>{L"G00 X1.000 Y2.000 Z0.000 \n", L"G01 X3.000 Y4.000 Z0.000 \n",
                                                      L"G01 X1.500 Y2.250 Z0.000 \n"}));
    // Without a repeated point: a rapid move to the first point, then one
    // cutting move per segment, the first segment included.
    CPolyLine plain;
    plain.arrPoint = {{-2.5f, 7.125f}, {4.75f, -1.0f}, {9.0f, 3.5f}, {0.25f, -6.0f}};
    std::vector<std::wstring> expected;
    for (size_t i = 0; i < plain.arrPoint.size(); ++i) {
        wchar_t text[64];
        std::swprintf(text, 64, L"G0%d X%.3f Y%.3f Z0.000 \n", i == 0 ? 0 : 1, plain.arrPoint[i].x, plain.arrPoint[i].y);
        expected.push_back(text);
    }
    EXPECT_EQ(testsupport::ExportedLines(plain), expected);

    GCodeContext hpgl;
    hpgl.bToList = 1;
    hpgl.bGCode = 0;
    hpgl.fLastX = -1;
    line.ExportGCodeToBuff(hpgl);
    CPolyLine().ExportGCodeToBuff(hpgl);  // nothing to write
    EXPECT_EQ(hpgl.lines, (std::vector<std::wstring>{L"LT;\nPU40 80;\n", L"PD120 160;\n", L"PD60 90;\n"}));
}

TEST(PolyLinePicking, KnownDistances) {
    CPolyLine line;
    line.arrPoint = {{0, 0}, {10, 0}, {10, 10}};
    // A segment is hit within its box widened by 1 mm...
    EXPECT_EQ(line.IsMe({5.0f, 0.9f}), 1);
    EXPECT_EQ(line.IsMe({5.0f, 1.1f}), 0);
    EXPECT_EQ(line.IsMe({10.9f, 5.0f}), 2);
    // ...while the doubled triangle area stays below 20: off the middle of a
    // 14.14 mm diagonal, a distance below 1.414 mm.
    CPolyLine diagonal;
    diagonal.arrPoint = {{0, 0}, {10, 10}};
    auto off = [](float d) { return tagPOINTF{5.0f - d / std::sqrt(2.0f), 5.0f + d / std::sqrt(2.0f)}; };
    EXPECT_EQ(diagonal.IsMe(off(1.35f)), 1);
    EXPECT_EQ(diagonal.IsMe(off(1.5f)), 0);

    // Points are picked within 5 pixels, 2.5 mm at zoom 2, with their
    // neighbours appended.
    ViewAt at(2.0f);
    line.SetDocView(&at.doc, &at.view);
    std::vector<tagPOINTF> query{{10.0f, 2.5f}};
    EXPECT_EQ(line.GetEditPoint(query), 2);
    EXPECT_EQ(query, (std::vector<tagPOINTF>{{10, 2.5f}, {0, 0}, {10, 10}}));
    query = {{10.0f, 2.6f}};
    EXPECT_EQ(line.GetEditPoint(query), 0);
    EXPECT_EQ(query.size(), 1u);
    line.ClosePloyLine();
    query = {{0.0f, 0.0f}};
    EXPECT_EQ(line.GetEditPoint(query), 1);
    EXPECT_EQ(query, (std::vector<tagPOINTF>{{0, 0}, {10, 10}, {10, 0}}));

    // Rubber band (Y is the top edge): an edge crossing it selects, the edge
    // from the last point back to the first included; empty space does not.
    CPolyLine ell;
    ell.arrPoint = {{0, 0}, {10, 0}, {10, 10}};
    Gdiplus::RectF crossing(4, 1, 2, 2), inside(7, 3, 1, 1), onChord(4, 5.5f, 1, 1);
    EXPECT_EQ(ell.IsSelectedForRect(crossing), 1);
    EXPECT_EQ(ell.IsSelectedForRect(inside), 0);
    EXPECT_EQ(ell.IsSelectedForRect(onChord), 1);
}

TEST(PolyLineTransforms, KeepRectangleAndMarkDataFresh) {
    ViewAt at(1.0f);
    CPolyLine line;
    line.SetDocView(&at.doc, &at.view);
    line.arrPoint = {{0, 0}, {4, 0}, {4, 2}};
    auto marked = [&line](size_t i) {
        tagMarkDataPar r;
        EXPECT_TRUE(line.GetMarkData(r, nullptr));
        return r.arrPaths.at(0).arrPolylines.at(0).at(i);
    };
    EXPECT_EQ(marked(1), (tagPOINTF{4, 0}));

    line.Rotate(90.0, {0, 0});  // (4, 0) -> (0, 4), (4, 2) -> (-2, 4)
    EXPECT_TRUE(Near(marked(1), {0, 4}));
    Gdiplus::RectF r = testsupport::RectOf(line);
    EXPECT_TRUE(Near({r.X, r.Y}, {-2, 4}) && Near({r.Width, r.Height}, {2, 4}));
    line.Zoom({0, 0}, 2.0, 0.5);
    EXPECT_TRUE(Near(marked(1), {0, 2}));
    line.Mirror({1, 0}, 1);
    EXPECT_TRUE(Near(marked(1), {2, 2}));
    line.Slope({0, 0}, std::atan(0.5), 0.0);  // x moves against y / 2
    EXPECT_TRUE(Near(marked(1), {1, 2}));
    line.Move(1.0f, -1.0f);
    EXPECT_TRUE(Near(marked(1), {2, 1}));

    const std::vector<tagPOINTF> before = line.arrPoint;
    line.Mirror({5, 5}, 0);
    line.Mirror({5, 5}, 4);
    EXPECT_EQ(line.arrPoint, before);
    EXPECT_FALSE(line.GetDataForce());
    line.SortPath();
    EXPECT_TRUE(Near(marked(0), before.back()));
}

TEST(MarkDataGuard, EndingsCacheAndCallerRecord) {
    // Success: the caller's header stays, its old paths do not pile up, and
    // the rectangle is the shape's in both records.
    CPolyLine line;
    line.arrPoint = {{1, 1}, {4, 3}};
    line.SetPen(5);
    tagMarkDataPar rec;
    rec.bFlag = 1;
    rec.arrPaths.resize(2);
    rec.arrPaths2.resize(1);
    ASSERT_TRUE(line.GetMarkData(rec, nullptr));
    EXPECT_EQ(rec.bFlag, 1);
    ASSERT_EQ(rec.arrPaths.size(), 1u);
    EXPECT_TRUE(rec.arrPaths2.empty());
    EXPECT_EQ(rec.arrPaths[0].nPenIndex, 5);
    EXPECT_EQ(rec.arrPaths[0].arrPolylines, (std::vector<std::vector<tagPOINTF>>{line.arrPoint}));
    EXPECT_TRUE(rec.rect.Equals(Gdiplus::RectF(1, 3, 3, 2)));
    EXPECT_TRUE(line.GetMarkCache().rect.Equals(rec.rect));
    EXPECT_TRUE(Unlocked(line));

    // Failure through the rectangle ending: the caller keeps what it passed.
    CPolyLine empty;
    tagMarkDataPar mine;
    mine.rect = Gdiplus::RectF(9, 9, 9, 9);
    EXPECT_FALSE(empty.GetMarkData(mine, nullptr));
    EXPECT_TRUE(mine.rect.Equals(Gdiplus::RectF(9, 9, 9, 9)));
    EXPECT_TRUE(Unlocked(empty));

    // The copy ending hands over the whole cache, failure or not.
    tagMarkDataPar other;
    {
        MarkDataLock guard(&line, &other);
        EXPECT_FALSE(guard.Leave(false));
    }
    EXPECT_TRUE(other.rect.Equals(Gdiplus::RectF(1, 3, 3, 2)));
    EXPECT_EQ(other.arrPaths.size(), 1u);
    EXPECT_TRUE(Unlocked(line));

    // With a view the cache serves until a rebuild is forced.
    ViewAt at(1.0f);
    line.SetDocView(&at.doc, &at.view);
    line.arrPoint[1] = {7, 0};  // behind the shape's back
    line.GetMarkData(rec, nullptr);
    EXPECT_EQ(rec.arrPaths[0].arrPolylines[0][1], (tagPOINTF{4, 3}));
    line.SetGetDataForce(true);
    line.GetMarkData(rec, nullptr);
    EXPECT_EQ(rec.arrPaths[0].arrPolylines[0][1], (tagPOINTF{7, 0}));
    EXPECT_FALSE(line.GetDataForce());
}

TEST(PolyLinePersistence, RegisteredKeysRoundTrip) {
    CPolyLine line;
    line.SetCaption(L"Outline \u00e9");
    line.SetPen(12);
    line.arrPoint = {{0, 0}, {1.5f, -2.25f}, {3, 4}};
    line.ClosePloyLine();
    CPolyLine read;
    testsupport::ReadFrom(read, testsupport::SavedShape(line));
    EXPECT_EQ(read.arrPointf, (std::vector<std::vector<tagPOINTF>>{line.arrPoint}));
    EXPECT_EQ(read.m_wstrCaption, L"Outline \u00e9");
    EXPECT_EQ(read.GetPenIndex(), 12);
    EXPECT_EQ(read.GetBaseID(), line.GetBaseID());
    // What a reader restores: the points, still ending on the first, open.
    for (const auto& group : read.arrPointf) read.arrPoint.insert(read.arrPoint.end(), group.begin(), group.end());
    EXPECT_EQ(read.arrPoint, line.arrPoint);
    EXPECT_EQ(read.bClosed, 0);
}
