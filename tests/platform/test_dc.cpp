// The MFC device context: pens and brushes, GDI drawing onto the canvases,
// handles, and the path functions shapes use to flatten curves in device
// pixels.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/gdiplus.h"

namespace {

struct PathCopy {
    std::vector<POINT> points;
    std::vector<BYTE> types;
};

PathCopy ReadPath(const CDC& dc) {
    PathCopy p;
    const int n = dc.GetPath(nullptr, nullptr, 0);
    if (n <= 0) return p;
    p.points.resize(static_cast<size_t>(n));
    p.types.resize(static_cast<size_t>(n));
    EXPECT_EQ(dc.GetPath(p.points.data(), p.types.data(), n), n);
    return p;
}

}  // namespace

TEST(CDC, PensBrushesAndWhatTheyDraw) {
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CPen blue(PS_SOLID, 1, RGB(0, 0, 255));
    CPen dotted(PS_DOT, 1, RGB(255, 0, 0));
    CPen wideDash(PS_DASH, 3, RGB(0, 0, 0));

    CPen* original = dc.SelectObject(&blue);
    ASSERT_NE(original, nullptr);
    EXPECT_TRUE(original->IsStockObject());
    EXPECT_EQ(dc.SelectObject(&dotted), &blue);

    EXPECT_EQ(dc.MoveTo(5, 6), CPoint(0, 0));
    dc.LineTo(15, 6);
    EXPECT_EQ(dc.GetCurrentPosition(), CPoint(15, 6));
    dc.SelectObject(&wideDash);
    dc.LineTo(15, 20);
    dc.SelectObject(original);
    const POINT zig[3] = {{0, 0}, {4, 4}, {8, 0}};
    EXPECT_TRUE(dc.Polyline(zig, 3));
    EXPECT_FALSE(dc.Polyline(zig, 1));
    EXPECT_EQ(dc.GetCurrentPosition(), CPoint(15, 20));  // Polyline leaves it

    ASSERT_EQ(canvas.Count(), 3u);
    CanvasRecord dot = canvas.At(0);
    EXPECT_EQ(dot.op, CanvasOp::Line);
    EXPECT_EQ(dot.pen.argb, 0xFFFF0000u);
    EXPECT_EQ(dot.pen.dash, Gdiplus::DashStyleDot);
    EXPECT_EQ(dot.pen.width, 0.0f);
    EXPECT_EQ(dot.points[0].X, 5.0f);
    EXPECT_EQ(dot.points[1].X, 15.0f);
    // Wide GDI pens draw solid with round ends.
    CanvasRecord wide = canvas.At(1);
    EXPECT_EQ(wide.pen.width, 3.0f);
    EXPECT_EQ(wide.pen.dash, Gdiplus::DashStyleSolid);
    EXPECT_EQ(wide.pen.endCap.kind, Gdiplus::LineCapRound);
    EXPECT_EQ(canvas.At(2).op, CanvasOp::Polyline);
    EXPECT_EQ(canvas.At(2).pen.argb, 0xFF000000u);

    // Rectangle: the brush fills the pixels up to right - 1 and bottom - 1,
    // the pen outlines them; the hollow brush and the null pen draw nothing.
    canvas.Reset();
    dc.SelectStockObject(BLACK_BRUSH);
    dc.Rectangle(10, 20, 30, 25);
    dc.SelectStockObject(HOLLOW_BRUSH);
    dc.Ellipse(0, 0, 9, 9);
    dc.SelectStockObject(NULL_PEN);
    dc.SelectStockObject(WHITE_BRUSH);
    dc.Rectangle(40, 40, 30, 30);  // corners in any order
    ASSERT_EQ(canvas.Count(), 4u);
    EXPECT_EQ(canvas.Dump(),
              "fillrect #FF000000 (10,20) (30,25)\n"
              "rectangle #FF000000 w=0 (10,20) (29,24)\n"
              "ellipse #FF000000 w=0 (0,0) (8,8)\n"
              "fillrect #FFFFFFFF (30,30) (40,40)\n");

    EXPECT_EQ(dc.SetROP2(R2_NOTXORPEN), R2_COPYPEN);
    EXPECT_EQ(dc.SetROP2(99), 0);
    EXPECT_EQ(dc.GetROP2(), R2_NOTXORPEN);
    dc.SelectStockObject(BLACK_PEN);
    dc.LineTo(0, 0);
    EXPECT_EQ(canvas.At(4).pen.rop2, R2_NOTXORPEN);
    dc.FillSolidRect(0, 0, 3, 3, RGB(1, 2, 3));  // not mixed
    EXPECT_EQ(canvas.At(5).brush.rop2, R2_COPYPEN);
    EXPECT_EQ(canvas.At(5).brush.argb, 0xFF010203u);

    EXPECT_EQ(dc.GetDeviceCaps(LOGPIXELSX), 96);
    EXPECT_EQ(dc.GetDeviceCaps(LOGPIXELSY), 96);
}

TEST(CDC, SelectionOutlivesDestroyedObjectsAndHandlesMapBack) {
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CPen unmade;
    EXPECT_EQ(dc.SelectObject(&unmade), nullptr);  // never created
    EXPECT_FALSE(unmade.CreatePen(42, 1, 0));

    {
        CPen green(PS_SOLID, 1, RGB(0, 255, 0));
        dc.SelectObject(&green);
        EXPECT_FALSE(green.CreatePen(PS_SOLID, 1, 0));  // already made
    }
    // The destroyed pen still draws (its copy), and is never handed back.
    dc.LineTo(3, 3);
    EXPECT_EQ(canvas.At(0).pen.argb, 0xFF00FF00u);
    CPen red(PS_SOLID, 1, RGB(255, 0, 0));
    CPen* previous = dc.SelectObject(&red);
    ASSERT_NE(previous, nullptr);
    EXPECT_TRUE(previous->IsStockObject());
    LOGPEN lp{};
    ASSERT_GT(previous->GetLogPen(&lp), 0);
    EXPECT_EQ(lp.lopnColor, RGB(0, 0, 0));

    const HDC h = dc.GetSafeHdc();
    EXPECT_EQ(CDC::FromHandle(h), &dc);
    Gdiplus::Graphics g(h);
    Gdiplus::Pen pen(Gdiplus::Color(0, 0, 255), 0);
    EXPECT_EQ(g.DrawLine(&pen, 1, 2, 3, 4), Gdiplus::Ok);
    EXPECT_EQ(canvas.Count(), 2u);

    HDC gone;
    {
        CDC temp;
        gone = temp.m_hDC;
        EXPECT_NE(gone, h);
        EXPECT_EQ(CDC::FromHandle(gone), &temp);
    }
    EXPECT_EQ(CDC::FromHandle(gone), nullptr);
    EXPECT_EQ(CDC::FromHandle(nullptr), nullptr);
}

TEST(CDCPath, BezierFlattensToIntegerPointsAlongTheCurve) {
    RecordingCanvas canvas;
    CDC dc(&canvas);
    const POINT ctrl[4] = {{0, 0}, {0, 100}, {100, 100}, {100, 0}};
    EXPECT_EQ(dc.GetPath(nullptr, nullptr, 0), -1);  // no path yet
    ASSERT_TRUE(dc.BeginPath());
    ASSERT_TRUE(dc.PolyBezier(ctrl, 4));
    EXPECT_EQ(dc.GetPath(nullptr, nullptr, 0), -1);  // still open
    ASSERT_TRUE(dc.EndPath());
    EXPECT_EQ(canvas.Count(), 0u);  // the path drew nothing

    PathCopy raw = ReadPath(dc);
    ASSERT_EQ(raw.points.size(), 4u);
    EXPECT_EQ(raw.types, (std::vector<BYTE>{PT_MOVETO, PT_BEZIERTO, PT_BEZIERTO, PT_BEZIERTO}));

    ASSERT_TRUE(dc.FlattenPath());
    PathCopy flat = ReadPath(dc);
    ASSERT_GT(flat.points.size(), 8u);
    EXPECT_EQ(flat.types.front(), PT_MOVETO);
    for (size_t i = 1; i < flat.types.size(); ++i) EXPECT_EQ(flat.types[i], PT_LINETO);
    EXPECT_EQ(flat.points.front().x, 0);
    EXPECT_EQ(flat.points.front().y, 0);
    EXPECT_EQ(flat.points.back().x, 100);
    EXPECT_EQ(flat.points.back().y, 0);

    // Every vertex lies within rounding and flatness of the true curve, and
    // the polyline reaches the apex B(0.5) = (50, 75).
    std::vector<std::pair<double, double>> curve;
    for (int k = 0; k <= 2000; ++k) {
        const double t = k / 2000.0, u = 1 - t;
        curve.emplace_back(3 * u * t * t * 100 + t * t * t * 100, 3 * u * u * t * 100 + 3 * u * t * t * 100);
    }
    LONG top = 0;
    for (const POINT& p : flat.points) {
        double best = 1e9;
        for (const auto& [cx, cy] : curve) best = std::min(best, std::hypot(p.x - cx, p.y - cy));
        EXPECT_LE(best, 1.0) << p.x << "," << p.y;
        top = std::max(top, p.y);
    }
    EXPECT_EQ(top, 75);

    std::vector<POINT> small(3);
    std::vector<BYTE> smallTypes(3);
    EXPECT_EQ(dc.GetPath(small.data(), smallTypes.data(), 3), -1);
    EXPECT_EQ(dc.GetPath(nullptr, smallTypes.data(), 100), -1);
}

TEST(CDCPath, FiguresLinesAndClosing) {
    CDC dc;  // no canvas: paths still work
    const POINT wrong[5] = {};
    EXPECT_FALSE(dc.PolyBezier(wrong, 5));
    EXPECT_FALSE(dc.CloseFigure());
    EXPECT_FALSE(dc.EndPath());
    EXPECT_FALSE(dc.FlattenPath());

    dc.BeginPath();
    dc.MoveTo(10, 10);
    dc.LineTo(20, 10);
    dc.LineTo(20, 30);
    EXPECT_TRUE(dc.CloseFigure());
    dc.Rectangle(0, 0, 5, 5);
    dc.EndPath();
    PathCopy p = ReadPath(dc);
    ASSERT_EQ(p.points.size(), 7u);
    EXPECT_EQ(p.types, (std::vector<BYTE>{PT_MOVETO, PT_LINETO, PT_LINETO | PT_CLOSEFIGURE, PT_MOVETO, PT_LINETO,
                                          PT_LINETO, PT_LINETO | PT_CLOSEFIGURE}));
    EXPECT_EQ(p.points[2].x, 20);
    EXPECT_EQ(p.points[2].y, 30);
    // The rectangle's path runs through its outline pixels: 0 to 4.
    for (size_t i = 3; i < 7; ++i) {
        EXPECT_TRUE(p.points[i].x == 0 || p.points[i].x == 4);
        EXPECT_TRUE(p.points[i].y == 0 || p.points[i].y == 4);
    }
    // Straight figures flatten point for point.
    dc.FlattenPath();
    EXPECT_EQ(ReadPath(dc).types, p.types);

    // A new bracket starts from nothing; an aborted one leaves no path.
    dc.BeginPath();
    dc.MoveTo(1, 1);
    dc.LineTo(2, 2);
    dc.EndPath();
    EXPECT_EQ(dc.GetPath(nullptr, nullptr, 0), 2);
    dc.AbortPath();
    EXPECT_EQ(dc.GetPath(nullptr, nullptr, 0), -1);
}

TEST(CMemoryDC, GdiRectangleExcludesRightAndBottomEdges) {
    CMemoryDC dc(40, 30);
    ASSERT_TRUE(dc.Canvas().IsValid());
    EXPECT_EQ(dc.GetDeviceCaps(HORZRES), 40);
    dc.SelectStockObject(HOLLOW_BRUSH);
    dc.Rectangle(5, 5, 20, 15);
    EXPECT_EQ(dc.SetPixel(30, 25, RGB(255, 0, 0)), RGB(255, 0, 0));
    EXPECT_EQ(dc.SetPixel(40, 25, RGB(255, 0, 0)), CLR_INVALID);
    EXPECT_EQ(dc.SetPixel(-1, 0, RGB(255, 0, 0)), CLR_INVALID);

    const std::string file = (std::filesystem::temp_directory_path() /
                              ("morvik_dc_" + std::to_string(getpid()) + ".png"))
                                 .string();
    ASSERT_TRUE(dc.WriteToPng(file));
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(CairoCanvas::ReadPng(file, w, h, px));
    std::filesystem::remove(file);
    ASSERT_EQ(w, 40);
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * w + x]; };
    for (int x = 5; x <= 19; ++x) {
        EXPECT_EQ(at(x, 5), 0xFF000000u) << x;
        EXPECT_EQ(at(x, 14), 0xFF000000u) << x;
        EXPECT_EQ(at(x, 15), 0xFFFFFFFFu) << x;
    }
    for (int y = 5; y <= 14; ++y) {
        EXPECT_EQ(at(5, y), 0xFF000000u) << y;
        EXPECT_EQ(at(19, y), 0xFF000000u) << y;
        EXPECT_EQ(at(20, y), 0xFFFFFFFFu) << y;
        EXPECT_EQ(at(4, y), 0xFFFFFFFFu) << y;
    }
    EXPECT_EQ(at(12, 10), 0xFFFFFFFFu);  // hollow inside
    EXPECT_EQ(at(30, 25), 0xFFFF0000u);
}

TEST(CDC, StockObjectsAndCurvesOutsideAPath) {
    RecordingCanvas canvas;
    CDC dc(&canvas);
    const HGDIOBJ black = GetStockObject(BLACK_PEN);
    EXPECT_NE(black, nullptr);
    EXPECT_NE(black, GetStockObject(WHITE_PEN));
    EXPECT_EQ(GetStockObject(NULL_PEN + 1), nullptr);
    EXPECT_EQ(dc.SelectStockObject(99), nullptr);

    CGdiObject* oldBrush = dc.SelectStockObject(NULL_BRUSH);
    ASSERT_NE(dynamic_cast<CBrush*>(oldBrush), nullptr);
    CBrush* hollow = dynamic_cast<CBrush*>(dc.SelectObject(oldBrush));  // generic restore
    ASSERT_NE(hollow, nullptr);
    EXPECT_EQ(hollow->GetSafeHandle(), GetStockObject(NULL_BRUSH));
    EXPECT_TRUE(hollow->DeleteObject());  // stock objects survive it
    EXPECT_EQ(hollow->GetSafeHandle(), GetStockObject(NULL_BRUSH));

    CPen pen(PS_SOLID, 1, RGB(9, 9, 9));
    EXPECT_TRUE(pen.DeleteObject());
    EXPECT_FALSE(pen.DeleteObject());
    EXPECT_TRUE(pen.CreatePen(PS_SOLID, 2, RGB(1, 1, 1)));  // may be made again

    const POINT ctrl[7] = {{0, 0}, {1, 5}, {2, 5}, {3, 0}, {4, -5}, {5, -5}, {6, 0}};
    EXPECT_TRUE(dc.PolyBezier(ctrl, 7));
    CanvasRecord curve = canvas.At(0);
    EXPECT_EQ(curve.op, CanvasOp::Beziers);
    ASSERT_EQ(curve.points.size(), 7u);
    EXPECT_EQ(curve.points[4].Y, -5.0f);
    EXPECT_EQ(dc.GetCurrentPosition(), CPoint(0, 0));

    // An ellipse in a path is four Bezier quarters, closed.
    dc.BeginPath();
    dc.Ellipse(0, 0, 21, 11);
    dc.EndPath();
    PathCopy p = ReadPath(dc);
    ASSERT_EQ(p.points.size(), 13u);
    EXPECT_EQ(p.types.front(), PT_MOVETO);
    EXPECT_EQ(p.types.back(), PT_BEZIERTO | PT_CLOSEFIGURE);
    EXPECT_EQ(p.points.front().x, 20);
    EXPECT_EQ(p.points.front().y, 5);
    EXPECT_EQ(p.points[6].x, 0);
    EXPECT_EQ(p.points[6].y, 5);
    EXPECT_EQ(canvas.Count(), 1u);

    // Without a size the display list takes any pixel.
    EXPECT_EQ(dc.SetPixel(-3, 7, RGB(1, 2, 3)), RGB(1, 2, 3));
    CDC bare;
    EXPECT_EQ(bare.SetPixel(0, 0, 0), CLR_INVALID);
    EXPECT_FALSE(bare.Rectangle(nullptr));
    EXPECT_TRUE(bare.Rectangle(0, 0, 4, 4));  // nothing to draw on, nothing wrong
}
