// Shapes meeting each other and the pixel canvas: conversions between
// polylines and curves, what a drawn polyline puts into a PNG, and numbers
// that are not finite or overflow float against every path shape.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/shapelist.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/cairo_canvas.h"
#include "morvik/gdi/dc.h"
#include "morvik/halder/basedoc.h"
#include "morvik/history/undo_records.h"
#include "morvik/shapes/polygon.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/shapes/screwline.h"
#include "support/shape_support.h"
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
    poly.SetPen(6);
    // Every conversion marks with the source's pen.
    auto markPen = [](CBaseShape& s) {
        tagMarkDataPar md;
        s.SetGetDataForce(true);
        return s.GetMarkData(md, nullptr) && md.arrPaths.size() == 1 ? md.arrPaths[0].nPenIndex : -1;
    };
    CScrewLine spiral;
    spiral.arrPoint = poly.arrPoint;
    spiral.SetPen(9);
    const std::pair<CBaseShape*, int> made[] = {{poly.ToBezier(), 6}, {poly.ToBezierEx(0), 6}, {spiral.ToBezier(), 9}};
    for (const auto& [shape, pen] : made) {
        std::unique_ptr<CBaseShape> own(shape);
        ASSERT_NE(shape, nullptr);
        EXPECT_EQ(markPen(*shape), pen);
        std::unique_ptr<CBaseShape> back(shape->ToPolyLine());
        EXPECT_EQ(markPen(*back), pen);
    }
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

// ---- numbers that are not finite ---------------------------------------------

namespace {

// Every number a shape hands on: its mark data, its rectangle, and the text
// of its XML, G-code and HPGL exports.
struct Handed {
    std::vector<double> numbers;
    std::string text;
};

Handed HandedOn(CBaseShape& shape) {
    Handed out;
    std::vector<tagPOINTF> flat = testsupport::Flattened(shape, 0.25f);
    for (const tagPOINTF& p : flat) out.numbers.insert(out.numbers.end(), {p.x, p.y});
    tagMarkDataPar md;
    shape.SetGetDataForce(true);
    shape.GetMarkData(md, nullptr);
    for (const auto* list : {&md.arrPaths, &md.arrPaths2})
        for (const tagPathData& path : *list)
            for (const auto& line : path.arrPolylines)
                for (const tagPOINTF& p : line) out.numbers.insert(out.numbers.end(), {p.x, p.y});
    Gdiplus::RectF r = testsupport::RectOf(shape);
    out.numbers.insert(out.numbers.end(), {r.X, r.Y, r.Width, r.Height});
    out.text = testsupport::ExportXml(shape);
    for (unsigned char gcode : {1, 0}) {
        for (const std::wstring& line : testsupport::ExportedLines(shape, gcode)) out.text += std::string(line.begin(), line.end()) + "\n";
    }
    for (char& c : out.text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void ExpectAllFinite(CBaseShape& shape, const std::string& what) {
    const Handed h = HandedOn(shape);
    for (double v : h.numbers) ASSERT_TRUE(std::isfinite(v)) << what;
    EXPECT_EQ(h.text.find("nan"), std::string::npos) << what << "\n" << h.text;
    EXPECT_EQ(h.text.find("inf"), std::string::npos) << what << "\n" << h.text;
}

// The polylines a shape marks, in order.
std::vector<std::vector<tagPOINTF>> Marked(CBaseShape& shape) {
    tagMarkDataPar md;
    shape.SetGetDataForce(true);
    shape.GetMarkData(md, nullptr);
    std::vector<std::vector<tagPOINTF>> lines;
    for (const auto* list : {&md.arrPaths, &md.arrPaths2})
        for (const tagPathData& path : *list) lines.insert(lines.end(), path.arrPolylines.begin(), path.arrPolylines.end());
    return lines;
}

// A maker of a new T set up by init.
template <class T>
std::function<std::unique_ptr<CBaseShape>()> Built(std::function<void(T&)> init) {
    return [init] {
        auto shape = std::make_unique<T>();
        init(*shape);
        return std::unique_ptr<CBaseShape>(std::move(shape));
    };
}

}  // namespace

// Every transform and point setter of the path shapes with NaN, both
// infinities, FLT_MAX and 1e30 in each numeric argument: a call with a number
// that is not finite changes no saved byte, and whatever a call leaves (or a
// point put straight into the public members, or such a shape saved and read
// back) hands on finite numbers only.
TEST(PathShapeNumbers, RefusedOrFiniteInMarkDataRectangleFileAndExports) {
    testsupport::HostScope host;
    const float kNan = std::nanf("");
    const float kInf = INFINITY;
    using Make = std::function<std::unique_ptr<CBaseShape>()>;
    const std::vector<std::pair<std::string, Make>> kinds = {
        {"polyline", Built<CPolyLine>([](CPolyLine& l) {
             l.arrPoint = {{0.5f, 1.0f}, {7.25f, -3.0f}, {12.0f, 4.5f}, {2.0f, 6.0f}};
         })},
        {"point", Built<CPoints>([](CPoints& p) { p.InitPoint({3.25f, -1.5f}); })},
        {"curve", Built<CBezierCurve>([](CBezierCurve& c) {
             c.arrSegment.push_back(testsupport::Line({-4.0f, 1.0f}, {1.0f, 0.5f}));
             CBezierCurve::AppendArcThrough3Points(c.arrSegment, {1.0f, 0.5f}, {3.0f, 3.5f}, {6.0f, 1.0f});
         })},
        {"spiral loop", Built<CScrewLine>([](CScrewLine& s) {
             SCREW_PAR par;
             par.m_fMinRadius = 0.7f;
             par.m_fMinGap = 0.9f;
             par.m_bEnable = 1;
             par.m_nLoopCount = 1;
             Gdiplus::RectF rect(1.0f, 9.0f, 11.0f, 7.0f);
             s.SetParam(par, &rect);
             s.WaitForLoopPath();
         })},
        // Corners on both sides of the zooms' fixed point: a zoom by 3e38
        // keeps every corner a float and takes the span beyond.
        {"rectangle", Built<CRectangle>([](CRectangle& r) { r.InitRectangle({0.0f, 3.0f, 2.0f, 2.0f}); })},
        {"polygon", Built<CPolygon>([](CPolygon& p) { p.InitPolygon(Gdiplus::RectF(0.25f, 3.0f, 1.5f, 2.0f), 5); })},
    };
    using Op = std::function<void(CBaseShape&, float)>;
    const std::vector<std::pair<std::string, Op>> ops = {
        {"move dx", [](CBaseShape& s, float v) { s.Move(v, 1.5f); }},
        {"move dy", [](CBaseShape& s, float v) { s.Move(-0.5f, v); }},
        {"rotate angle", [](CBaseShape& s, float v) { s.Rotate(v, {1.0f, 2.0f}); }},
        {"rotate centre", [](CBaseShape& s, float v) { s.Rotate(37.0, {v, 2.0f}); }},
        {"zoom sx", [](CBaseShape& s, float v) { s.Zoom({1.0f, 2.0f}, v, 1.3); }},
        {"zoom sy", [](CBaseShape& s, float v) { s.Zoom({1.0f, 2.0f}, 0.7, -double(v)); }},
        {"zoom fixed", [](CBaseShape& s, float v) { s.Zoom({0.5f, v}, 2.0, 1.5); }},
        {"slope a", [](CBaseShape& s, float v) { s.Slope({1.0f, 2.0f}, v, 0.1); }},
        {"slope b", [](CBaseShape& s, float v) { s.Slope({1.0f, 2.0f}, 0.2, v); }},
        {"slope fixed", [](CBaseShape& s, float v) { s.Slope({v, 1.0f}, 0.3, 0.1); }},
        {"mirror x", [](CBaseShape& s, float v) { s.Mirror({v, 2.0f}, 1); }},
        {"mirror y", [](CBaseShape& s, float v) { s.Mirror({1.0f, v}, 2); }},
        {"mirror xy", [](CBaseShape& s, float v) { s.Mirror({-v, 0.5f}, 3); }},
        {"set point",
         [](CBaseShape& s, float v) {
             if (auto* p = dynamic_cast<CPoints*>(&s)) p->InitPoint({v, 1.0f});
             if (auto* c = dynamic_cast<CBezierCurve*>(&s)) {
                 c->InsertPoint(0, {-1.0f, v}, 0, 0);
                 CBezierCurve::AppendArcThrough3Points(c->arrSegment, {v, 0.5f}, {0.5f, v}, {-v, 1.0f});
                 stBezierPos drag;
                 drag.nIndex = 0;
                 drag.seg = c->arrSegment[0];
                 drag.seg.p4.y = v;
                 c->DoDrag(1, &drag);
             }
             if (auto* l = dynamic_cast<CScrewLine*>(&s)) {
                 SCREW_PAR par;
                 l->GetParam(par);
                 par.m_fMinGap = v;
                 Gdiplus::RectF rect(1.0f, 9.0f, 11.0f, 7.0f);
                 l->SetParam(par, &rect);
             } else if (auto* l = dynamic_cast<CPolyLine*>(&s)) {
                 l->InsertPoint(2, {v, 3.0f});
                 l->ModifyEditPoint(1, {2.0f, v}, true);
             }
         }},
    };
    for (const auto& [kind, make] : kinds) {
        for (const auto& [op, apply] : ops) {
            for (float v : {kNan, kInf, -kInf, FLT_MAX, 1e30f, 3e38f}) {
                const std::string what = kind + " " + op + " " + std::to_string(v);
                std::unique_ptr<CBaseShape> shape = make();
                const testsupport::Bytes before = testsupport::SavedShape(*shape);
                apply(*shape, v);
                if (!std::isfinite(v)) {
                    EXPECT_EQ(testsupport::SavedShape(*shape), before) << what;
                }
                ExpectAllFinite(*shape, what);
            }
        }
        // A point that is not finite put straight into the shape (or a
        // rectangle refused one) is left out of everything it hands on, and a
        // file holding it reads back marking what the shape marked.
        for (float v : {kNan, kInf, -kInf}) {
            std::unique_ptr<CBaseShape> shape = make();
            if (auto* p = dynamic_cast<CPoints*>(shape.get())) p->pointf = {1.0f, v};
            if (auto* c = dynamic_cast<CBezierCurve*>(shape.get())) {
                (v > 0 ? c->arrSegment[0].p2 : c->arrSegment[0].p4) = {-1.0f, v};
            }
            if (auto* l = dynamic_cast<CScrewLine*>(shape.get())) l->arrLoopPoint[3] = {v, 0.0f};
            if (auto* l = dynamic_cast<CPolyLine*>(shape.get())) l->arrPoint[v > 0 ? 0 : 2] = {v, 0.0f};
            if (dynamic_cast<CRectangle*>(shape.get()) != nullptr) {
                auto r = std::make_unique<CRectangle>();
                EXPECT_EQ(r->InitRectangle(v > 0 ? Gdiplus::RectF(0.0f, 3.0f, v, 2.0f) : Gdiplus::RectF(v, 3.0f, 2.0f, 2.0f)),
                          CBaseShape::kRefused);
                EXPECT_TRUE(Marked(*r).empty());
                shape = std::move(r);
            }
            const std::string what = kind + " holding " + std::to_string(v);
            ExpectAllFinite(*shape, what);
            const std::vector<std::vector<tagPOINTF>> marked = Marked(*shape);
            std::list<CBaseShape*> out{shape.get()};
            const testsupport::Bytes bytes = testsupport::SavedList(out);
            std::list<CBaseShape*> in;
            ASSERT_TRUE(testsupport::LoadList(bytes, in)) << what;
            // The point shape has nothing left to mark and is not read.
            EXPECT_EQ(in.size(), dynamic_cast<CPoints*>(shape.get()) ? 0u : 1u) << what;
            for (CBaseShape* read : in) {
                EXPECT_TRUE(Marked(*read) == marked) << what;
                ExpectAllFinite(*read, what + " read back");
                delete read;
            }
        }
    }
}
