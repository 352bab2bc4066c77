// The Bezier curve: arcs through three points, flattening against the true
// curves, the cached rectangle, transforms, copies, saving, exports, drawing
// and mark data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "morvik/core/bezier.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/polyline.h"
#include "morvik/core/srifile.h"
#include "morvik/gdi/dc.h"
#include "morvik/gdi/recording_canvas.h"
#include "morvik/gdiplus/gdiplus.h"
#include "morvik/halder/basedoc.h"
#include "morvik/halder/records.h"
#include "support/shape_support.h"

namespace {

using testsupport::DistToPolyline;

using testsupport::Line;
using testsupport::Cubic;

std::vector<tagPOINTF> Flat(CBezierCurve& c, float tol) {
    std::vector<tagPOINTF> pts;
    c.GetFlattenPathPoints(pts, tol);
    return pts;
}

// x = 30ut² + 10t³, y = 30u²t + 30ut² (u = 1 - t): peaks at (5, 7.5).
const BEZIER_4POINTF_DRAW kHump = Cubic({0, 0}, {0, 10}, {10, 10}, {10, 0});

// A line, a cubic and a half-circle arc back to the start.
void FillMixed(CBezierCurve& c) {
    c.arrSegment = {Line({0, 0}, {10, 0}), Cubic({10, 0}, {12, 5}, {18, 5}, {20, 0})};
    c.arrSegment[1].SmoothType = 1;
    ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(c.arrSegment, {20, 0}, {10, -10}, {0, 0}));
    for (size_t i = 0; i < c.arrSegment.size(); ++i) {
        for (int k = 0; k < 4; ++k) c.arrSegment[i].dev4P[k] = Gdiplus::PointF(float(i * 10 + k), -float(k));
    }
}

bool SameSegments(const CBezierCurve& a, const CBezierCurve& b) {
    if (a.arrSegment.size() != b.arrSegment.size()) return false;
    for (size_t i = 0; i < a.arrSegment.size(); ++i) {
        if (std::memcmp(&a.arrSegment[i], &b.arrSegment[i], sizeof(BEZIER_4POINTF_DRAW)) != 0) return false;
    }
    return true;
}

}  // namespace

TEST(BezierArc, SpansFollowTheCircleThroughThreePoints) {
    struct Case {
        tagPOINTF s, m, e;
        size_t spans;
        float side;  // the half plane the arc runs in (0: both)
    } const cases[] = {{{10, 0}, {0, 10}, {-10, 0}, 2, 1},   // half turn, counter-clockwise
                       {{10, 0}, {0, -10}, {-10, 0}, 2, -1},  // half turn, clockwise
                       {{10, 0}, {-10, 0}, {0, -10}, 3, 0}};  // three quarters
    for (const Case& c : cases) {
        CBezierCurve curve;
        ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(curve.arrSegment, c.s, c.m, c.e));
        const auto& segs = curve.arrSegment;
        ASSERT_EQ(segs.size(), c.spans);
        EXPECT_TRUE(segs.front().p1 == c.s && segs.back().p4 == c.e);
        for (size_t i = 0; i < segs.size(); ++i) {
            EXPECT_EQ(segs[i].LineType, 2);
            EXPECT_TRUE(segs[i].ArcStartPoint == c.s && segs[i].ArcEndPoint == c.e && segs[i].ArcCenterPoint == c.m);
            EXPECT_TRUE(i == 0 || segs[i].p1 == segs[i - 1].p4);
        }
        const std::vector<tagPOINTF> pts = Flat(curve, 0.01f);
        for (const tagPOINTF& p : pts) {
            EXPECT_NEAR(std::hypot(p.x, p.y), 10.0, 0.014);  // flatness plus the cubic's own error
            EXPECT_GE(p.y * c.side, -1e-3);
        }
        EXPECT_LT(DistToPolyline(c.m, pts), 0.014);
    }
    std::vector<BEZIER_4POINTF_DRAW> none;
    EXPECT_FALSE(CBezierCurve::AppendArcThrough3Points(none, {0, 0}, {1, 1}, {2, 2}));
    EXPECT_FALSE(CBezierCurve::AppendArcThrough3Points(none, {0, 0}, {NAN, 1}, {2, 0}));
    EXPECT_TRUE(none.empty());
}

TEST(BezierFlatten, StaysWithinToleranceOfTheTrueCurve) {
    CBezierCurve c;
    c.arrSegment = {Line({1, 1}, {5, 4}), Line({6, 4}, {7, 4})};
    std::vector<tagPOINTF> pts = {{-7, -7}};  // appended to, never cleared
    c.GetFlattenPathPoints(pts, 0.25f);
    // Lines flatten to their chords; a gap is bridged within the one polyline.
    EXPECT_EQ(pts, (std::vector<tagPOINTF>{{-7, -7}, {1, 1}, {5, 4}, {6, 4}, {7, 4}}));

    c.arrSegment = {kHump};
    c.SetSmoothRatio(0.5f);
    for (float tol : {0.5f, 0.01f}) {
        const std::vector<tagPOINTF> flat = Flat(c, tol);
        double worst = 0;
        for (double t = 0, u = 1; t <= 1; t += 0.001, u = 1 - t) {
            const tagPOINTF p{float(30 * u * t * t + 10 * t * t * t), float(30 * u * u * t + 30 * u * t * t)};
            worst = std::max(worst, DistToPolyline(p, flat));
        }
        EXPECT_LE(worst, tol * 1.001) << tol;
    }
    // The smaller of the requested tolerance and the smoothing ratio rules; a
    // tolerance that is no positive number falls back to the ratio.
    const size_t atRatio = Flat(c, 0.5f).size();
    EXPECT_EQ(Flat(c, 3.0f).size(), atRatio);
    EXPECT_GT(Flat(c, 0.05f).size(), atRatio);
    EXPECT_EQ(Flat(c, NAN).size(), atRatio);
}

TEST(BezierRectangle, CachedUntilTheGeometryChangesAndFreshAfterEveryTransform) {
    CBezierCurve c;
    c.arrSegment = {kHump};
    Gdiplus::RectF r = testsupport::RectOf(c);
    EXPECT_TRUE(std::fabs(r.X) < 1e-4 && std::fabs(r.Width - 10) < 1e-4 && std::fabs(r.Y - 7.5) < 0.011);
    c.arrSegment[0].p2.y = 20;  // behind the cache's back
    c.GetRectangle(r);
    EXPECT_NEAR(r.Y, 7.5, 0.011);
    c.ReCalcRect();
    c.GetRectangle(r);
    EXPECT_NEAR(r.Y, 20 / std::sqrt(3.0), 0.011);  // y = 60t - 90t² + 30t³

    c.arrSegment = {Line({0, 0}, {4, 0}), Line({4, 0}, {4, 2})};
    c.ReCalcRect();
    c.Zoom({0, 0}, 2, 3);  // (0,0)-(8,0)-(8,6)
    c.GetRectangle(r);
    EXPECT_TRUE(std::fabs(r.Width - 8) < 1e-5 && std::fabs(r.Height - 6) < 1e-5);
    c.Rotate(90, {0, 0});  // (0,0)-(0,8)-(-6,8)
    c.GetRectangle(r);
    EXPECT_TRUE(std::fabs(r.X + 6) < 1e-4 && std::fabs(r.Y - 8) < 1e-4);
    c.Mirror({0, 0}, 1);
    c.GetRectangle(r);
    EXPECT_NEAR(r.X, 0, 1e-4);
    c.Slope({0, 0}, 0, std::atan(-0.5));  // y += x / 2: (6,8) rises to (6,11)
    c.GetRectangle(r);
    EXPECT_NEAR(r.Y, 11, 1e-4);
    c.Mirror({0, 0}, 4);  // unknown mode: no point moves, yet the rectangle is redone
    EXPECT_FALSE(c.GetRectValid());
}

TEST(BezierTransforms, ArcPointsTravelWithTheArcAndReversalSwapsThem) {
    CBezierCurve c;
    ASSERT_TRUE(CBezierCurve::AppendArcThrough3Points(c.arrSegment, {10, 0}, {0, 10}, {-10, 0}));
    c.arrSegment.push_back(Line({-10, 0}, {-10, -5}));
    auto near = [](tagPOINTF a, tagPOINTF b) { return std::hypot(a.x - b.x, a.y - b.y) < 1e-3; };
    c.Move(3, 4);
    c.Rotate(37, {1, 2});
    c.Mirror({5, 5}, 3);
    c.Zoom({0, 0}, -2, 2);
    for (const auto& s : {c.arrSegment[0], c.arrSegment[1]}) {
        EXPECT_EQ(s.LineType, 2);
        EXPECT_TRUE(near(s.ArcStartPoint, c.arrSegment[0].p1) && near(s.ArcEndPoint, c.arrSegment[1].p4));
        EXPECT_LT(DistToPolyline(s.ArcCenterPoint, Flat(c, 0.01f)), 0.03);
    }
    EXPECT_EQ(c.arrSegment[2].ArcStartPoint, (tagPOINTF{0, 0}));  // a line's arc points stay

    const BEZIER_4POINTF_DRAW first = c.arrSegment[0];
    const std::vector<tagPOINTF> forward = Flat(c, 0.01f);
    c.SortPath();
    const auto& s = c.arrSegment[2];
    EXPECT_TRUE(s.p1 == first.p4 && s.p2 == first.p3 && s.p3 == first.p2 && s.p4 == first.p1);
    EXPECT_TRUE(s.ArcStartPoint == first.ArcEndPoint && s.ArcEndPoint == first.ArcStartPoint);
    for (const tagPOINTF& p : Flat(c, 0.01f)) EXPECT_LT(DistToPolyline(p, forward), 0.011);
    tagPOINTF end;
    EXPECT_EQ(c.GetFlattenPathLastPoint(end), 0);
    EXPECT_EQ(end, first.p1);

    c.Zoom({0, 0}, 2, 1);  // an elliptical cubic now: no longer an arc
    EXPECT_TRUE(c.arrSegment[0].LineType == 1 && c.arrSegment[1].LineType == 0 && c.arrSegment[2].LineType == 0);
}

TEST(BezierShape, CaptionsNumberCurvesAndCopiesKeepTheirSource) {
    ShapeCounterOf(SHAPE_BEZIER).Reset();
    CBezierCurve first, second;
    EXPECT_TRUE(std::wstring(first.GetCaption()) == L"Curve1" && std::wstring(second.GetCaption()) == L"Curve2");
    FillMixed(second);
    second.bClosed = 1;
    second.SetPen(9);
    second.arrSelectIndex = {0, 3};
    std::unique_ptr<CBaseShape> copy(second.ToBezier());
    auto* c = dynamic_cast<CBezierCurve*>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ShapeCounterOf(SHAPE_BEZIER).Peek(), 3);  // the copy used up no number
    EXPECT_EQ(std::wstring(c->GetCaption()), L"Curve2");
    EXPECT_TRUE(c->GetPenIndex() == 9 && c->bClosed == 1 && c->arrSelectIndex == second.arrSelectIndex);
    EXPECT_TRUE(SameSegments(*c, second));
    c->Move(5, 5);  // independent of its source
    EXPECT_EQ(second.arrSegment[0].p1, (tagPOINTF{0, 0}));

    // The polyline runs through the flattened curve: the arc stays on its circle.
    std::unique_ptr<CBaseShape> shape(second.ToPolyLine());
    auto* poly = dynamic_cast<CPolyLine*>(shape.get());
    ASSERT_NE(poly, nullptr);
    EXPECT_EQ(poly->GetPenIndex(), 9);
    EXPECT_TRUE(poly->arrPoint.front() == (tagPOINTF{0, 0}) && poly->arrPoint.back() == (tagPOINTF{0, 0}));
    for (const tagPOINTF& p : poly->arrPoint) {
        EXPECT_TRUE(p.y >= -1e-3 || std::fabs(std::hypot(p.x - 10, p.y) - 10) < 0.012);
    }
}

TEST(BezierShape, SaveAndReadGiveBackEveryWordOfEverySegment) {
    CBezierCurve src, back;
    FillMixed(src);
    src.bClosed = 1;
    testsupport::ReadFrom(back, testsupport::SavedShape(src));
    back.RestoreAfterRead();
    EXPECT_EQ(back.bClosed, 1);
    EXPECT_TRUE(SameSegments(back, src));

}

TEST(BezierShape, XmlWritesFourPointsPerSegmentAndEscapesTheCaption) {
    const char* path = "/tmp/morvik-bezier-export.xml";
    CBezierCurve c, empty;
    c.SetCaption(L"A\"<&");
    empty.SetCaption(L"E");
    c.arrSegment = {Line({1, 2}, {3.25f, -4}), Cubic({3.25f, -4}, {4, 4}, {5, 5}, {6, 0}, 2)};
    {
        tagXmlBuff buff;
        buff.file.open(path, std::ios::binary);
        EXPECT_EQ(c.ExportXmlToBuff(buff) + empty.ExportXmlToBuff(buff), 0);
    }
    EXPECT_EQ(testsupport::ReadAll(path),
              "<BezierCurve Name=\"A&quot;&lt;&amp;\" nSize=\"2\">"
              "<Bezier id=\"0\"><P1 x=\"1.000\" y=\"2.000\" z=\"0.000\"/><P2 x=\"1.000\" y=\"2.000\" z=\"0.000\"/>"
              "<P3 x=\"3.250\" y=\"-4.000\" z=\"0.000\"/><P4 x=\"3.250\" y=\"-4.000\" z=\"0.000\"/></Bezier>"
              "<Bezier id=\"1\"><P1 x=\"3.250\" y=\"-4.000\" z=\"0.000\"/><P2 x=\"4.000\" y=\"4.000\" z=\"0.000\"/>"
              "<P3 x=\"5.000\" y=\"5.000\" z=\"0.000\"/><P4 x=\"6.000\" y=\"0.000\" z=\"0.000\"/></Bezier>"
              "</BezierCurve><BezierCurve Name=\"E\" nSize=\"0\"></BezierCurve>");
    std::remove(path);
}

TEST(BezierShape, DrawingShiftsEveryPointByTheOffsets) {
    RecordingCanvas canvas;
    CDC dc(&canvas);
    CBaseView view;
    view.SetZoom(2);
    view.SetOrigin({0, 0});
    CBezierCurve c;
    c.arrSegment = {Cubic({1, 1}, {2, 3}, {4, 3}, {5, 1})};
    c.SetDocView(nullptr, &view);
    c.SetSelectFlag(1, false);
    c.Draw(&dc, nullptr, 0x0000FF, 0, 0, 0, 1, 5, 7);
    const Gdiplus::PointF want[4] = {{7, 5}, {9, 1}, {13, 1}, {15, 5}};  // (2x + 5, -2y + 7)
    ASSERT_EQ(canvas.Count(), 2u);  // the segment and the start marker
    const CanvasRecord r = canvas.At(0);
    EXPECT_EQ(r.pen.argb, 0xFFFF0000u);
    ASSERT_EQ(r.points.size(), 4u);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(r.points[k].Equals(want[k]) && c.arrSegment[0].dev4P[k].Equals(want[k]));
    EXPECT_NEAR((canvas.At(1).points[0].X + canvas.At(1).points[1].X) / 2, 7, 1e-5);

    canvas.Reset();
    Gdiplus::Graphics g(&canvas);
    std::vector<tagPenPar> pens;
    c.DrawToGraphics(&g, pens, 0, 0, 0.5f, -1);  // logical points, same offsets
    EXPECT_TRUE(canvas.At(0).points[1].Equals(Gdiplus::PointF(2.5f, 2)));
}

TEST(BezierMarkData, OnePathGroupReusedOnlyWhileTheGeometryIsUnchanged) {
    CBaseView view;
    CBezierCurve c;
    c.arrSegment = {Line({0, 0}, {4, 0}), Line({4, 0}, {4, 3}), Line({4, 3}, {0, 0})};
    c.SetPen(7);
    c.SetDocView(nullptr, &view);
    tagMarkDataPar data;
    data.bFlag = 5;
    data.arrPaths.resize(3);  // a caller's leftovers must not pile up
    ASSERT_TRUE(c.GetMarkData(data, nullptr));
    EXPECT_EQ(data.bFlag, 5);
    ASSERT_EQ(data.arrPaths.size(), 1u);
    EXPECT_TRUE(data.arrPaths2.empty());
    EXPECT_EQ(data.arrPaths[0].nPenIndex, 7);
    ASSERT_EQ(data.arrPaths[0].arrPolylines.size(), 1u);
    const std::vector<tagPOINTF> line = data.arrPaths[0].arrPolylines[0];
    EXPECT_EQ(line.size(), 4u);
    EXPECT_EQ(line.front(), line.back());
    Gdiplus::RectF r = testsupport::RectOf(c);
    EXPECT_TRUE(data.rect.Equals(r) && c.GetMarkCache().rect.Equals(r));

    c.arrSegment[1].p4 = {9, 9};  // behind the shape's back: the cache answers
    tagMarkDataPar again;
    ASSERT_TRUE(c.GetMarkData(again, nullptr));
    EXPECT_EQ(again.arrPaths[0].arrPolylines[0], line);
    c.arrSegment[1].p4 = {4, 3};
    c.Rotate(90, {0, 0});  // every transform rebuilds: (4,0) turns to (0,4)
    ASSERT_TRUE(c.GetMarkData(again, nullptr));
    const tagPOINTF p1 = again.arrPaths[0].arrPolylines[0][1];
    EXPECT_TRUE(std::fabs(p1.x) < 1e-5 && std::fabs(p1.y - 4) < 1e-5);
    EXPECT_NEAR(again.rect.X, -3, 1e-5);
    c.Move(1, 0);
    EXPECT_TRUE(c.GetMarkCache().IsEmpty());
    EXPECT_EQ(WaitForSingleObject(c.GetMarkEvent(), 0), WAIT_OBJECT_0);  // the lock is free
    SetEvent(c.GetMarkEvent());

    CBezierCurve empty;
    data.rect = Gdiplus::RectF(1, 2, 3, 4);
    EXPECT_FALSE(empty.GetMarkData(data, nullptr));
    EXPECT_TRUE(data.bFlag == 5 && data.rect.Equals(Gdiplus::RectF(1, 2, 3, 4)) && data.IsEmpty());
    EXPECT_EQ(WaitForSingleObject(empty.GetMarkEvent(), 0), WAIT_OBJECT_0);
    SetEvent(empty.GetMarkEvent());
}
