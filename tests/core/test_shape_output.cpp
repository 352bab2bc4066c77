// Shapes meeting each other and the pixel canvas: conversions between
// polylines and curves, and what a drawn polyline puts into a PNG.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/bezier.h"
#include "core/polyline.h"
#include "gdi/cairo_canvas.h"
#include "gdi/dc.h"
#include "halder/basedoc.h"
#include "support/temp_dir.h"

namespace {

double SegmentDistance(double px, double py, tagPOINTF a, tagPOINTF b) {
    double vx = b.x - a.x, vy = b.y - a.y;
    double len2 = vx * vx + vy * vy;
    double t = len2 > 0 ? ((px - a.x) * vx + (py - a.y) * vy) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (a.x + t * vx), py - (a.y + t * vy));
}

}  // namespace

TEST(ShapeConversion, PolylineToCurveAndBackKeepsEveryPoint) {
    CPolyLine poly;
    poly.arrPoint = {{0, 0}, {10, 0}, {10, 5}, {3, 7}};
    poly.ClosePloyLine();
    std::unique_ptr<CBaseShape> curveShape(poly.ToBezier());
    auto* curve = dynamic_cast<CBezierCurve*>(curveShape.get());
    ASSERT_NE(curve, nullptr);
    ASSERT_EQ(curve->arrSegment.size(), 4u);
    EXPECT_EQ(curve->bClosed, poly.bClosed);
    for (const auto& seg : curve->arrSegment) {
        EXPECT_EQ(seg.LineType, 1);
        EXPECT_EQ(seg.p1, seg.p2);
        EXPECT_EQ(seg.p3, seg.p4);
    }
    std::unique_ptr<CBaseShape> backShape(curve->ToPolyLine());
    auto* back = dynamic_cast<CPolyLine*>(backShape.get());
    ASSERT_NE(back, nullptr);
    // Straight segments flatten to their end points only.
    ASSERT_EQ(back->arrPoint.size(), poly.arrPoint.size());
    for (size_t i = 0; i < poly.arrPoint.size(); ++i) {
        EXPECT_NEAR(back->arrPoint[i].x, poly.arrPoint[i].x, 1e-5);
        EXPECT_NEAR(back->arrPoint[i].y, poly.arrPoint[i].y, 1e-5);
    }
}

TEST(ShapeConversion, ArcCurveBecomesPolylineOnTheCircle) {
    CBezierCurve curve;
    ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(curve.arrSegment, {10, 0}, {0, 10}, {-10, 0}));
    std::unique_ptr<CBaseShape> polyShape(curve.ToPolyLine());
    auto* poly = dynamic_cast<CPolyLine*>(polyShape.get());
    ASSERT_NE(poly, nullptr);
    ASSERT_GT(poly->arrPoint.size(), 4u);
    for (const tagPOINTF& p : poly->arrPoint) {
        EXPECT_NEAR(std::hypot(p.x, p.y), 10.0, 0.05);
        EXPECT_GE(p.y, -1e-4);
    }
}

// A polyline drawn through a view into the cairo canvas: dark pixels along
// its segments, none far from them.
TEST(ShapePixels, DrawnPolylineDarkensItsOwnPixelsOnly) {
    CBaseDoc doc;
    CBaseView view(&doc);
    view.SetZoom(4.0f);
    view.SetOrigin({-10.0f, 50.0f});
    view.SetClientSize(240, 240);
    CPolyLine poly;
    poly.arrPoint = {{0, 0}, {40, 0}, {20, 40}};
    poly.SetDocView(&doc, &view);

    testsupport::TempDir tmp("morvik-png");
    const std::string png = tmp.File("poly.png");
    {
        CMemoryDC dc(240, 240);
        poly.Draw(&dc, 0, 0, 0, 0);
        ASSERT_TRUE(dc.WriteToPng(png));
    }
    int w = 0, h = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(CairoCanvas::ReadPng(png, w, h, pixels));
    ASSERT_EQ(w, 240);
    ASSERT_EQ(h, 240);

    // The polyline's segments in device pixels.
    std::vector<tagPOINTF> dev;
    for (const tagPOINTF& p : poly.arrPoint) {
        Gdiplus::PointF d;
        view.LP2DP(view.GetZoom(), p, d, 0);
        dev.push_back({d.X, d.Y});
    }
    auto darkness = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h) return 0;
        uint32_t px = pixels[static_cast<size_t>(y) * w + x];
        int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
        return 255 - (r + g + b) / 3;
    };
    int darkNear = 0, samplesNear = 0, darkFar = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double d = 1e9;
            for (size_t i = 1; i < dev.size(); ++i) {
                d = std::min(d, SegmentDistance(x + 0.5, y + 0.5, dev[i - 1], dev[i]));
            }
            if (d > 4.0 && darkness(x, y) > 40) {
                ++darkFar;
            }
        }
    }
    // Sample along each segment: the pixel under the line is dark.
    for (size_t i = 1; i < dev.size(); ++i) {
        for (int k = 1; k < 20; ++k) {
            double t = k / 20.0;
            int x = static_cast<int>(dev[i - 1].x + t * (dev[i].x - dev[i - 1].x));
            int y = static_cast<int>(dev[i - 1].y + t * (dev[i].y - dev[i - 1].y));
            int best = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) best = std::max(best, darkness(x + dx, y + dy));
            ++samplesNear;
            if (best > 100) ++darkNear;
        }
    }
    EXPECT_EQ(darkNear, samplesNear);
    EXPECT_EQ(darkFar, 0);
}
