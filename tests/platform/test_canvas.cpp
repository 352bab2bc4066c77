// GDI+ drawing through the canvases: what Graphics hands the display list
// under world transforms, and what the raster canvas makes of it in pixels
// and PNG files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/gdiplus.h"

using namespace Gdiplus;

namespace {

void ExpectNear(const PointF& p, float x, float y, float tol = 1e-3f) {
    EXPECT_NEAR(p.X, x, tol);
    EXPECT_NEAR(p.Y, y, tol);
}

std::string TempPng(const char* name) {
    static int counter = 0;
    return (std::filesystem::temp_directory_path() /
            ("morvik_canvas_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" + name))
        .string();
}

// Darkness of a pixel: 0 for white, 765 for black.
int Dark(uint32_t argb) {
    return 765 - static_cast<int>(((argb >> 16) & 0xFF) + ((argb >> 8) & 0xFF) + (argb & 0xFF));
}

}  // namespace

TEST(GraphicsRecording, WorldTransformMapsPointsAndPenWidths) {
    RecordingCanvas canvas;
    Graphics g(&canvas);
    g.TranslateTransform(100, 50);
    g.ScaleTransform(2, 3);  // prepended: scale first, then move
    Pen hairline(Color::FromCOLORREF(RGB(255, 0, 0)), 0);
    Pen wide(Color(Color::Blue), 1.5f);
    ASSERT_EQ(g.DrawLine(&hairline, 1.0f, 2.0f, 3.0f, 4.0f), Ok);
    ASSERT_EQ(g.DrawLine(&wide, 0, 0, 1, 1), Ok);

    ASSERT_EQ(canvas.Count(), 2u);
    CanvasRecord line = canvas.At(0);
    EXPECT_EQ(line.op, CanvasOp::Line);
    ExpectNear(line.points[0], 102, 56);
    ExpectNear(line.points[1], 106, 62);
    EXPECT_EQ(line.pen.argb, 0xFFFF0000u);  // COLORREF red is ARGB red
    EXPECT_EQ(line.pen.width, 0.0f);        // a hairline stays one pixel
    // Width scales by the square root of the area factor: 1.5 * sqrt(6).
    EXPECT_NEAR(canvas.At(1).pen.width, 1.5f * std::sqrt(6.0f), 1e-4f);
    EXPECT_FALSE(line.pen.antialias);

    g.ResetTransform();
    g.RotateTransform(90);  // +x turns toward +y
    g.DrawRectangle(&hairline, 0.0f, 0.0f, 10.0f, 5.0f);
    CanvasRecord rect = canvas.At(2);
    ASSERT_EQ(rect.op, CanvasOp::Polygon);  // no longer axis-aligned
    ASSERT_EQ(rect.points.size(), 4u);
    ExpectNear(rect.points[0], 0, 0);
    ExpectNear(rect.points[1], 0, 10);
    ExpectNear(rect.points[2], -5, 10);
    ExpectNear(rect.points[3], -5, 0);

    // A rotated circle stays a circle: every segment end is on the radius.
    g.DrawEllipse(&hairline, -10.0f, -10.0f, 20.0f, 20.0f);
    CanvasRecord circle = canvas.At(3);
    ASSERT_EQ(circle.op, CanvasOp::Path);
    ASSERT_EQ(circle.points.size(), 13u);
    for (size_t i = 0; i < circle.points.size(); i += 3) {
        EXPECT_NEAR(std::hypot(circle.points[i].X, circle.points[i].Y), 10.0f, 1e-3f) << i;
    }
}

TEST(GraphicsRecording, StateShapesAndStatuses) {
    RecordingCanvas canvas;
    Graphics g(&canvas);
    Pen pen(Color(0, 0, 0), 0);
    SolidBrush brush(Color(128, 0, 255, 0));

    GraphicsState outer = g.Save();
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.TranslateTransform(10, 10);
    g.DrawLine(&pen, 0, 0, 1, 0);
    EXPECT_EQ(g.Restore(outer), Ok);
    g.DrawLine(&pen, 0, 0, 1, 0);
    EXPECT_TRUE(canvas.At(0).pen.antialias);
    ExpectNear(canvas.At(0).points[0], 10, 10);
    EXPECT_FALSE(canvas.At(1).pen.antialias);
    ExpectNear(canvas.At(1).points[0], 0, 0);
    EXPECT_EQ(g.Restore(outer), InvalidParameter);  // already restored

    // A quarter arc of the circle in (0,0,20,20) from +x toward +y.
    g.DrawArc(&pen, 0.0f, 0.0f, 20.0f, 20.0f, 0.0f, 90.0f);
    CanvasRecord arc = canvas.At(2);
    ASSERT_EQ(arc.op, CanvasOp::Beziers);
    ASSERT_EQ(arc.points.size(), 4u);
    ExpectNear(arc.points.front(), 20, 10);
    ExpectNear(arc.points.back(), 10, 20);

    GraphicsPath path(FillModeWinding);
    path.AddRectangle(RectF(1, 2, 3, 4));
    g.FillPath(&brush, &path);
    CanvasRecord fill = canvas.At(3);
    EXPECT_EQ(fill.op, CanvasOp::FillPath);
    EXPECT_EQ(fill.fillMode, FillModeWinding);
    EXPECT_EQ(fill.brush.argb, 0x8000FF00u);
    EXPECT_EQ(fill.types.back() & PathPointTypeCloseSubpath, PathPointTypeCloseSubpath);

    // Refused input draws nothing and says why.
    const size_t before = canvas.Count();
    const PointF five[5] = {};
    EXPECT_EQ(g.DrawLine(nullptr, 0, 0, 1, 1), InvalidParameter);
    EXPECT_EQ(g.DrawBeziers(&pen, five, 5), InvalidParameter);
    EXPECT_EQ(g.DrawLines(&pen, five, 1), InvalidParameter);
    EXPECT_EQ(g.FillPolygon(&brush, five, 2), InvalidParameter);
    EXPECT_EQ(g.DrawPath(&pen, nullptr), InvalidParameter);
    EXPECT_EQ(g.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(g.GetLastStatus(), Ok);
    EXPECT_EQ(canvas.Count(), before);

    // A Graphics on a handle that names no device context draws nowhere.
    Graphics stray(reinterpret_cast<HDC>(static_cast<uintptr_t>(0xDEAD)));
    EXPECT_EQ(stray.DrawLine(&pen, 0, 0, 1, 1), InvalidParameter);
}

TEST(GraphicsRecording, PenCapsAndClones) {
    RecordingCanvas canvas;
    Graphics g(&canvas);
    Pen pen(Color(255, 0, 0, 0), 2);
    AdjustableArrowCap arrow(4, 3, TRUE);
    ASSERT_EQ(pen.SetCustomEndCap(&arrow), Ok);
    arrow.SetHeight(99);  // the pen keeps its own copy
    pen.SetDashStyle(DashStyleDot);
    EXPECT_EQ(pen.SetWidth(-1), InvalidParameter);
    EXPECT_EQ(pen.SetWidth(std::numeric_limits<float>::quiet_NaN()), InvalidParameter);
    EXPECT_EQ(pen.GetWidth(), 2.0f);
    EXPECT_EQ(GdiplusPenWidth(&pen), 2.0f);
    EXPECT_EQ(GdiplusPenWidth(nullptr), 0.0f);

    Pen* copy = pen.Clone();
    copy->SetEndCap(LineCapFlat);
    copy->SetColor(Color(Color::Red));
    g.DrawLine(&pen, 0, 0, 10, 0);
    g.DrawLine(copy, 0, 0, 10, 0);
    delete copy;

    const CanvasRecord a = canvas.At(0);
    EXPECT_EQ(a.pen.endCap.kind, LineCapCustom);
    EXPECT_EQ(a.pen.endCap.arrowHeight, 4.0f);
    EXPECT_EQ(a.pen.endCap.arrowWidth, 3.0f);
    EXPECT_EQ(a.pen.startCap.kind, LineCapFlat);
    EXPECT_EQ(a.pen.dash, DashStyleDot);
    EXPECT_EQ(a.pen.argb, 0xFF000000u);
    const CanvasRecord b = canvas.At(1);
    EXPECT_EQ(b.pen.endCap.kind, LineCapFlat);
    EXPECT_EQ(b.pen.dash, DashStyleDot);
    EXPECT_EQ(b.pen.argb, 0xFFFF0000u);
}

TEST(RecordingCanvas, DumpAndReplay) {
    RecordingCanvas canvas;
    CanvasPen pen;
    pen.argb = 0xFFFF0000u;
    canvas.DrawLine(pen, PointF(1.5f, 2), PointF(3, 4));
    CanvasBrush brush;
    brush.argb = 0xFF00FF00u;
    brush.rop2 = R2_NOTXORPEN;
    canvas.FillRectangle(brush, RectF(0, 0, 10, 5));
    const PointF pts[2] = {PointF(0, 0), PointF(1, 1)};
    const BYTE types[2] = {0, 0x81};
    canvas.DrawPath(pen, pts, types, 2);
    EXPECT_EQ(canvas.Dump(),
              "line #FFFF0000 w=0 (1.5,2) (3,4)\n"
              "fillrect #FF00FF00 rop=10 (0,0) (10,5)\n"
              "path #FFFF0000 w=0 (0,0) (1,1) types=0,129\n");

    RecordingCanvas copy;
    canvas.Replay(copy);
    EXPECT_EQ(copy.Dump(), canvas.Dump());
    canvas.Reset();
    EXPECT_EQ(canvas.Count(), 0u);
    EXPECT_EQ(canvas.At(5).points.size(), 0u);
}

TEST(CairoCanvas, LineInPngFileRunsWhereDrawn) {
    CMemoryDC dc(64, 48);
    ASSERT_TRUE(dc.Canvas().IsValid());
    Graphics g(&dc);
    Pen pen(Color(0, 0, 0), 0);
    ASSERT_EQ(g.DrawLine(&pen, 5, 20, 50, 20), Ok);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.DrawLine(&pen, 10.0f, 30.0f, 40.0f, 45.0f);

    const std::string file = TempPng("line.png");
    ASSERT_TRUE(dc.WriteToPng(file));
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(CairoCanvas::ReadPng(file, w, h, px));
    std::filesystem::remove(file);
    ASSERT_EQ(w, 64);
    ASSERT_EQ(h, 48);
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * w + x]; };

    for (int x = 5; x <= 50; ++x) EXPECT_GT(Dark(at(x, 20)), 600) << x;
    for (int x = 0; x < w; ++x) {
        for (int y : {0, 15, 18, 22, 25}) EXPECT_EQ(at(x, y), 0xFFFFFFFFu) << x << "," << y;
    }
    for (int x = 53; x < w; ++x) EXPECT_EQ(at(x, 20), 0xFFFFFFFFu) << x;
    // The antialiased diagonal passes (20, 35) and keeps away from (35, 32).
    EXPECT_GT(Dark(at(20, 35)), 150);
    EXPECT_EQ(at(35, 32), 0xFFFFFFFFu);
}

TEST(CairoCanvas, FillsCoverWholePixelsAndArrowsShowTheEnd) {
    CairoCanvas canvas(60, 40);
    CanvasBrush red;
    red.argb = 0xFFFF0000u;
    canvas.FillRectangle(red, RectF(10, 10, 5, 5));
    EXPECT_EQ(canvas.GetPixel(10, 10), 0xFFFF0000u);
    EXPECT_EQ(canvas.GetPixel(14, 14), 0xFFFF0000u);
    EXPECT_EQ(canvas.GetPixel(15, 15), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.GetPixel(9, 12), 0xFFFFFFFFu);

    Graphics g(&canvas);
    Pen pen(Color(0, 0, 0), 2);
    AdjustableArrowCap arrow(4, 4, TRUE);
    pen.SetCustomEndCap(&arrow);
    g.DrawLine(&pen, 20, 30, 50, 30);
    // The head is 8 pixels long and 8 wide at its base: 6 pixels before the
    // tip it spans 3 pixels on either side of the line; the tail end is as
    // thin as the line.
    EXPECT_GT(Dark(canvas.GetPixel(44, 32)), 600);
    EXPECT_GT(Dark(canvas.GetPixel(44, 28)), 600);
    EXPECT_EQ(canvas.GetPixel(22, 33), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.GetPixel(22, 27), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.GetPixel(54, 30), 0xFFFFFFFFu);
}

TEST(CairoCanvas, RasterOperationsMixWithTheDestination) {
    CairoCanvas canvas(40, 20);
    CanvasPen pen;
    pen.argb = 0xFF000000u;
    pen.rop2 = R2_NOTXORPEN;
    // Black NOT-XOR white is black; drawn again, white returns: the
    // rubber-band idiom.
    canvas.DrawLine(pen, PointF(2, 5), PointF(30, 5));
    EXPECT_EQ(canvas.GetPixel(10, 5), 0xFF000000u);
    canvas.DrawLine(pen, PointF(2, 5), PointF(30, 5));
    EXPECT_EQ(canvas.GetPixel(10, 5), 0xFFFFFFFFu);

    canvas.SetPixel(10, 12, 0xFF123456u);
    pen.rop2 = R2_NOT;
    canvas.DrawLine(pen, PointF(2, 12), PointF(30, 12));
    EXPECT_EQ(canvas.GetPixel(10, 12), 0xFFEDCBA9u);
    EXPECT_EQ(canvas.GetPixel(20, 12), 0xFF000000u);
    pen.rop2 = R2_NOP;
    canvas.DrawLine(pen, PointF(2, 12), PointF(30, 12));
    EXPECT_EQ(canvas.GetPixel(20, 12), 0xFF000000u);
    EXPECT_EQ(canvas.GetPixel(20, 16), 0xFFFFFFFFu);
}

TEST(CairoCanvas, HostileGeometryAndSizes) {
    CairoCanvas canvas(50, 50);
    CanvasPen pen;
    // Far beyond cairo's fixed-point range: the visible part still lands
    // on row 20 and nowhere else.
    canvas.DrawLine(pen, PointF(-1e9f, 20), PointF(1e9f, 20));
    for (int x = 0; x < 50; x += 7) EXPECT_EQ(canvas.GetPixel(x, 20), 0xFF000000u) << x;
    EXPECT_EQ(canvas.GetPixel(25, 10), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.GetPixel(25, 30), 0xFFFFFFFFu);

    // A huge triangle whose visible part is the lower half-plane y > 25.
    CanvasBrush brush;
    brush.argb = 0xFF0000FFu;
    const PointF tri[3] = {PointF(-3e9f, 25), PointF(3e9f, 25), PointF(0, 3e9f)};
    const BYTE types[3] = {0, 1, 0x81};
    canvas.FillPath(brush, tri, types, 3, FillModeAlternate);
    EXPECT_EQ(canvas.GetPixel(2, 45), 0xFF0000FFu);
    EXPECT_EQ(canvas.GetPixel(48, 30), 0xFF0000FFu);
    EXPECT_EQ(canvas.GetPixel(25, 22), 0xFFFFFFFFu);
    // A Bezier reaching far out, bending back through the surface.
    const PointF curve[4] = {PointF(10, 5), PointF(1e8f, 5), PointF(1e8f, 15), PointF(10, 15)};
    canvas.DrawBeziers(pen, curve, 4);
    EXPECT_EQ(canvas.GetPixel(30, 5), 0xFF000000u);
    EXPECT_EQ(canvas.GetPixel(30, 15), 0xFF000000u);
    EXPECT_EQ(canvas.GetPixel(30, 10), 0xFFFFFFFFu);

    // Non-finite points, malformed types and bad counts draw nothing wrong.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    canvas.DrawLine(pen, PointF(nan, 1), PointF(40, 1));
    EXPECT_EQ(canvas.GetPixel(40, 1), 0xFFFFFFFFu);
    const PointF odd[5] = {PointF(1, 40), PointF(5, 40), PointF(9, 40), PointF(13, 40), PointF(17, 40)};
    const BYTE bad[5] = {3, 3, 0x7F, 3, 3};
    canvas.DrawPath(pen, odd, bad, 5);
    canvas.DrawBeziers(pen, odd, 3);
    canvas.DrawPath(pen, nullptr, bad, 5);

    const std::pair<int, int> sizes[] = {{0, 10}, {-5, 5}, {40000, 4}, {30000, 30000}};
    for (auto [w, h] : sizes) {
        CairoCanvas refused(w, h);
        EXPECT_FALSE(refused.IsValid());
        EXPECT_EQ(refused.Width(), 0);
        refused.DrawLine(pen, PointF(0, 0), PointF(5, 5));
        refused.SetPixel(0, 0, 0);
        EXPECT_EQ(refused.GetPixel(0, 0), 0u);
        EXPECT_FALSE(refused.WriteToPng(TempPng("never.png")));
    }

    int w = 1, h = 1;
    std::vector<uint32_t> px{1};
    EXPECT_FALSE(CairoCanvas::ReadPng(TempPng("missing.png"), w, h, px));
    const std::string junk = TempPng("junk.png");
    std::ofstream(junk) << "\x89PNG\r\n\x1a\n truncated";
    EXPECT_FALSE(CairoCanvas::ReadPng(junk, w, h, px));
    std::filesystem::remove(junk);
    EXPECT_EQ(w, 0);
    EXPECT_TRUE(px.empty());
}

TEST(GdiplusTools, ColoursPensAndBrushes) {
    const Color c = Color::FromCOLORREF(RGB(0x12, 0x34, 0x56) | 0xFF000000u);
    EXPECT_EQ(c.GetValue(), 0xFF123456u);  // the COLORREF's high byte plays no part
    EXPECT_EQ(c.ToCOLORREF(), RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(Color::MakeARGB(1, 2, 3, 4), 0x01020304u);
    const Color translucent(0x80, 10, 20, 30);
    EXPECT_EQ(translucent.GetA(), 0x80);
    EXPECT_EQ(translucent.GetR(), 10);
    EXPECT_EQ(translucent.GetB(), 30);

    SolidBrush brush(translucent);
    Pen fromBrush(&brush, 2);
    EXPECT_EQ(fromBrush.GetColorValue(), translucent);
    EXPECT_EQ(fromBrush.GetLastStatus(), Ok);
    Pen fromNothing(static_cast<const Brush*>(nullptr));
    EXPECT_EQ(fromNothing.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(fromNothing.SetDashStyle(DashStyleCustom), InvalidParameter);
    EXPECT_EQ(fromNothing.SetCustomEndCap(nullptr), InvalidParameter);
    EXPECT_EQ(fromNothing.SetLineCap(LineCapRound, LineCapArrowAnchor, DashCapRound), Ok);
    EXPECT_EQ(fromNothing.GetStartCap(), LineCapRound);
    EXPECT_EQ(fromNothing.GetEndCap(), LineCapArrowAnchor);
    EXPECT_EQ(fromNothing.SetEndCap(static_cast<LineCap>(0x77)), InvalidParameter);
    EXPECT_EQ(fromNothing.GetEndCap(), LineCapArrowAnchor);
}

TEST(GraphicsRecording, FlippedViewsAndFigures) {
    RecordingCanvas canvas;
    Graphics g(&canvas);
    SolidBrush brush(Color(0, 0, 0));
    Pen pen(Color(0, 0, 0), 0);
    // A y-up view: the rectangle keeps a positive size in device units.
    g.ScaleTransform(1, -1);
    g.TranslateTransform(0, -40, MatrixOrderAppend);
    g.FillRectangle(&brush, 0.0f, 0.0f, 10.0f, 5.0f);
    CanvasRecord r = canvas.At(0);
    ASSERT_EQ(r.op, CanvasOp::FillRectangle);
    ExpectNear(r.points[0], 0, -45);
    ExpectNear(r.points[1], 10, -40);

    g.ResetTransform();
    const PointF tri[3] = {PointF(0, 0), PointF(4, 0), PointF(0, 3)};
    g.FillPolygon(&brush, tri, 3, FillModeWinding);
    g.DrawPolygon(&pen, tri, 3);
    CanvasRecord fill = canvas.At(1);
    EXPECT_EQ(fill.types, (std::vector<BYTE>{0, 1, 0x81}));
    EXPECT_EQ(fill.fillMode, FillModeWinding);
    EXPECT_EQ(canvas.At(2).op, CanvasOp::Polygon);

    GraphicsPath path;
    path.AddBezier(PointF(0, 0), PointF(1, 1), PointF(2, 1), PointF(3, 0));
    path.AddLine(PointF(3, 0), PointF(3, 5));
    g.TranslateTransform(1, 1);
    g.DrawPath(&pen, &path);
    CanvasRecord drawn = canvas.At(3);
    ASSERT_EQ(drawn.points.size(), 5u);
    EXPECT_EQ(drawn.types, (std::vector<BYTE>{0, 3, 3, 3, 1}));
    ExpectNear(drawn.points[4], 4, 6);
}

TEST(CairoCanvas, ReplayedListPaintsTheSamePixels) {
    auto scene = [](ICanvas& c) {
        Graphics g(&c);
        Pen thick(Color(200, 30, 30), 3);
        Pen dotted(Color(0, 0, 0), 1);
        dotted.SetDashStyle(DashStyleDash);
        SolidBrush green(Color(0, 160, 0));
        g.FillEllipse(&green, 5, 5, 30, 20);
        g.RotateTransform(20);
        g.DrawRectangle(&thick, 20, 0, 25, 15);
        g.ResetTransform();
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        g.DrawBezier(&dotted, 0, 50, 20, 0, 40, 60, 60, 10);
        g.DrawArc(&thick, 30.0f, 30.0f, 25.0f, 25.0f, 45.0f, 200.0f);
    };
    RecordingCanvas list;
    scene(list);
    CairoCanvas replayed(64, 64), direct(64, 64);
    list.Replay(replayed);
    scene(direct);
    int differing = 0, painted = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            differing += replayed.GetPixel(x, y) != direct.GetPixel(x, y);
            painted += direct.GetPixel(x, y) != 0xFFFFFFFFu;
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(painted, 400);
}

TEST(CairoCanvas, FillRulesDashesAndTranslucency) {
    CairoCanvas canvas(60, 30);
    // Two nested squares wound the same way: even-odd leaves the hole,
    // winding fills it.
    const PointF rings[8] = {PointF(0, 0),  PointF(20, 0),  PointF(20, 20), PointF(0, 20),
                             PointF(5, 5), PointF(15, 5), PointF(15, 15), PointF(5, 15)};
    const BYTE types[8] = {0, 1, 1, 0x81, 0, 1, 1, 0x81};
    CanvasBrush black;
    canvas.FillPath(black, rings, types, 8, FillModeAlternate);
    EXPECT_EQ(canvas.GetPixel(2, 10), 0xFF000000u);
    EXPECT_EQ(canvas.GetPixel(10, 10), 0xFFFFFFFFu);
    PointF moved[8];
    for (int i = 0; i < 8; ++i) moved[i] = PointF(rings[i].X + 30, rings[i].Y);
    canvas.FillPath(black, moved, types, 8, FillModeWinding);
    EXPECT_EQ(canvas.GetPixel(40, 10), 0xFF000000u);

    // A dashed hairline has both inked and blank pixels along its row.
    CanvasPen pen;
    pen.dash = DashStyleDash;
    canvas.DrawLine(pen, PointF(0, 25), PointF(59, 25));
    int inked = 0;
    for (int x = 0; x < 60; ++x) inked += canvas.GetPixel(x, 25) == 0xFF000000u;
    EXPECT_GT(inked, 30);
    EXPECT_LT(inked, 59);

    // Half-transparent red over white is pink; pixels keep straight ARGB.
    CanvasBrush pink;
    pink.argb = 0x80FF0000u;
    canvas.FillRectangle(pink, RectF(50, 0, 5, 5));
    const uint32_t p = canvas.GetPixel(52, 2);
    EXPECT_EQ(p >> 24, 0xFFu);
    EXPECT_EQ((p >> 16) & 0xFF, 0xFFu);
    EXPECT_NEAR(static_cast<int>(p & 0xFF), 127, 2);
    canvas.Clear(0x00000000u);
    canvas.SetPixel(1, 1, 0x80402010u);
    EXPECT_EQ(canvas.GetPixel(0, 0), 0u);
    const uint32_t q = canvas.GetPixel(1, 1);
    EXPECT_EQ(q >> 24, 0x80u);
    EXPECT_NEAR(static_cast<int>((q >> 16) & 0xFF), 0x40, 1);
    EXPECT_NEAR(static_cast<int>(q & 0xFF), 0x10, 1);
}

TEST(CanvasRop, EveryBinaryRasterOperation) {
    const uint32_t P = 0x00F0F0F0u, D = 0x00CCCCCCu, M = 0x00FFFFFFu;
    EXPECT_EQ(ApplyRop2(R2_BLACK, P, D), 0u);
    EXPECT_EQ(ApplyRop2(R2_NOTMERGEPEN, P, D), ~(P | D) & M);
    EXPECT_EQ(ApplyRop2(R2_MASKNOTPEN, P, D), ~P & D & M);
    EXPECT_EQ(ApplyRop2(R2_NOTCOPYPEN, P, D), ~P & M);
    EXPECT_EQ(ApplyRop2(R2_MASKPENNOT, P, D), P & ~D & M);
    EXPECT_EQ(ApplyRop2(R2_NOT, P, D), ~D & M);
    EXPECT_EQ(ApplyRop2(R2_XORPEN, P, D), (P ^ D) & M);
    EXPECT_EQ(ApplyRop2(R2_NOTMASKPEN, P, D), ~(P & D) & M);
    EXPECT_EQ(ApplyRop2(R2_MASKPEN, P, D), P & D);
    EXPECT_EQ(ApplyRop2(R2_NOTXORPEN, P, D), ~(P ^ D) & M);
    EXPECT_EQ(ApplyRop2(R2_NOP, P, D), D);
    EXPECT_EQ(ApplyRop2(R2_MERGENOTPEN, P, D), (~P | D) & M);
    EXPECT_EQ(ApplyRop2(R2_COPYPEN, P, D), P);
    EXPECT_EQ(ApplyRop2(R2_MERGEPENNOT, P, D), (P | ~D) & M);
    EXPECT_EQ(ApplyRop2(R2_MERGEPEN, P, D), P | D);
    EXPECT_EQ(ApplyRop2(R2_WHITE, P, D), M);
}
