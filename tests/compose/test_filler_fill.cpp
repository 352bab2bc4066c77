// The line fill (inline and on block threads) with its Clipper preparation
// and border rings, and the concentric fill.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

#include "morvik/host/recording_host.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/rectangle.h"
#include "test_filler_util.h"

using namespace filler_test;

namespace {

using HatchFill = FillLogTest;

// A fill shape whose children are the shapes to fill and the "edge"
// children the fills add; it owns them all.
class Site : public CFillSite {
public:
    ~Site() override {
        for (CBaseShape* c : shape.GetChildren()) delete c;
    }
    CBaseShape* GetFillShape() override { return &shape; }
    Gdiplus::GraphicsPath* GetHatchPath(int index) override { return index >= 0 && index < 4 ? &paths[index] : nullptr; }
    bool IsNoRedraw() override { return noRedraw; }
    void GetBasicShapeList(std::vector<CBaseShape*>& out, std::vector<CBaseShape*>&) override { out = Filled(); }
    int GetSourceIndex(CBaseShape* s) override { return source.count(s) != 0 ? source[s] : 0; }

    CBaseShape* Add(CBaseShape* s) {
        shape.GetChildren().push_back(s);
        return s;
    }
    std::vector<CBaseShape*> Filled() {
        std::vector<CBaseShape*> out;
        for (CBaseShape* c : shape.GetChildren())
            if (!IsFillProductCaption(c->GetCaption())) out.push_back(c);
        return out;
    }
    std::vector<CPolyLine*> Edges() {
        std::vector<CPolyLine*> out;
        for (CBaseShape* c : shape.GetChildren())
            if (c->GetCaption() == L"edge") out.push_back(dynamic_cast<CPolyLine*>(c));
        return out;
    }
    void FillLines(SHAPE_FILLER_PARAM set) {
        std::vector<CBaseShape*> shapes = Filled();
        CFillRunner(*this).DoFillLiner(set, shapes);
    }
    void FillRings(SHAPE_FILLER_PARAM set) { CFillRunner(*this).DoFillCircular(set); }

    CBaseShape shape;
    Gdiplus::GraphicsPath paths[4];
    bool noRedraw = false;
    std::map<CBaseShape*, int> source;
};

using Seg = std::tuple<long, long, long, long>;

// Straight hatch figures as rounded segments, ends in order.
std::multiset<Seg> Segments(const std::vector<Figure>& figs) {
    std::multiset<Seg> out;
    for (const Figure& f : figs) {
        Gdiplus::PointF a = f.front(), b = f.back();
        if (std::tie(a.X, a.Y) > std::tie(b.X, b.Y)) std::swap(a, b);
        out.insert({std::lround(a.X * 1000), std::lround(a.Y * 1000), std::lround(b.X * 1000), std::lround(b.Y * 1000)});
    }
    return out;
}

// Squares half a millimetre wide on a unit grid. With a start reserve of
// 1/8 the lines of any subset lie on the heights of the whole list's and
// never touch an edge: two lines per square in each direction.
void AddGrid(Site& site, size_t count, size_t columns) {
    for (size_t i = 0; i < count; ++i) {
        const float x = static_cast<float>(i % columns), y = static_cast<float>(i / columns);
        site.Add(Poly(Rect(x, y, x + 0.5f, y + 0.5f)));
    }
}

SHAPE_FILLER_PARAM GridSet(double angle = 0) {
    SHAPE_FILLER_PARAM set = LineSet(3, 0.25, angle);
    set.fStartPreserve = 0.125;
    return set;
}

Gdiplus::RectF Bounds(const Figure& f) {
    std::vector<tagPOINTF> pts;
    for (const auto& p : f) pts.push_back({p.X, p.Y});
    return CBaseShape::CalculateRectangle(pts);  // Y is the top edge
}

bool HasPoint(const Figure& f, float x, float y) {
    return std::any_of(f.begin(), f.end(), [&](const auto& p) { return std::hypot(p.X - x, p.Y - y) < 1e-3; });
}

}  // namespace

TEST_F(HatchFill, CrossFillDrawsTheTurnedLinesAfterTheMainOnesAndLeavesTheSetAlone) {
    Site site;
    site.Add(Poly(Rect(0, 0, 10, 10)));
    SHAPE_FILLER_PARAM set = LineSet(3, 1.0, 0.1);
    set.bCrossFill = 1;
    set.nIndex = 2;
    std::vector<CBaseShape*> shapes = site.Filled();
    CFillRunner(site).DoFillLiner(set, shapes);
    EXPECT_EQ(set.fAngle, 0.1);  // exactly: 0.1 + 90 - 90 would not be
    size_t main = 0, turned = 0;
    for (const Figure& f : Figures(site.paths[2])) {
        const double dir = std::fmod(std::atan2(f[1].Y - f[0].Y, f[1].X - f[0].X) * 180 / M_PI + 360, 180);
        if (std::fabs(dir - 0.1) < 1e-3) {
            EXPECT_EQ(turned, 0u) << "a main line after a cross line";
            ++main;
        } else {
            EXPECT_NEAR(dir, 90.1, 1e-3);
            ++turned;
        }
    }
    EXPECT_GE(main, 9u);
    EXPECT_EQ(main, turned);
}

TEST_F(HatchFill, BlockFillSplitsTheListInEightAndDrawsTheLinesOfOneFill) {
    for (bool cross : {false, true}) {
        Site site;
        AddGrid(site, 17, 5);
        std::vector<CBaseShape*> shapes = site.Filled();
        Gdiplus::GraphicsPath blocks[8];
        SHAPE_FILLER_PARAM set = GridSet();
        CFillRunner runner(site);
        runner.DoBolckFillLiner(set, shapes, cross, blocks);
        EXPECT_FALSE(runner.HasRunningThreads());
        std::multiset<Seg> all;
        for (int k = 0; k < 8; ++k) {
            const std::multiset<Seg> s = Segments(Figures(blocks[k]));
            EXPECT_EQ(s.size(), k < 7 ? 4u : 6u) << k;  // 2 squares per block, the last 3
            all.insert(s.begin(), s.end());
        }
        site.FillLines(GridSet(cross ? 90 : 0));
        EXPECT_EQ(all, Segments(Figures(site.paths[0]))) << "cross " << cross;
    }
    Site few;  // fewer than 8 shapes: one block
    AddGrid(few, 5, 5);
    std::vector<CBaseShape*> shapes = few.Filled();
    Gdiplus::GraphicsPath blocks[8];
    SHAPE_FILLER_PARAM set = GridSet();
    CFillRunner(few).DoBolckFillLiner(set, shapes, false, blocks);
    EXPECT_EQ(Figures(blocks[0]).size(), 10u);
    for (int k = 1; k < 8; ++k) EXPECT_EQ(blocks[k].GetPointCount(), 0);
}

TEST_F(HatchFill, MoreThanFortyThousandShapesFillOnThreadsLikeOneEngine) {
    Site site;
    AddGrid(site, CFillRunner::kInlineShapeLimit + 1, 200);
    SHAPE_FILLER_PARAM set = GridSet();
    set.bCrossFill = 1;
    set.bAlongBorder = 1;
    site.FillLines(set);
    std::vector<CBaseShape*> shapes = site.Filled();
    std::vector<Figure> expected;
    for (double angle : {0.0, 90.0}) {
        Site single;
        SHAPE_FILLER_PARAM one = GridSet(angle);
        CShapeFiller filler;
        CFillRunner(single).DoFillLinerMiddle(one, shapes, filler);
        const std::vector<Figure> figs = Figures(*filler.LineFill());
        ASSERT_EQ(figs.size(), 2 * shapes.size());
        expected.insert(expected.end(), figs.begin(), figs.end());
    }
    // All main lines first, then all cross lines.
    const std::vector<Figure> got = Figures(site.paths[0]);
    ASSERT_EQ(got.size(), expected.size());
    const auto half = static_cast<std::ptrdiff_t>(expected.size() / 2);
    EXPECT_EQ(Segments({got.begin(), got.begin() + half}), Segments({expected.begin(), expected.begin() + half}));
    EXPECT_EQ(Segments({got.begin() + half, got.end()}), Segments({expected.begin() + half, expected.end()}));
    // Border copies once (main direction only), in list order.
    const std::vector<CPolyLine*> edges = site.Edges();
    ASSERT_EQ(edges.size(), shapes.size());
    for (size_t i = 0; i < edges.size(); i += 997)
        EXPECT_EQ(edges[i]->arrPoint, static_cast<CPolyLine*>(shapes[i])->arrPoint);
}

TEST_F(HatchFill, ClipperCombinesByTypeAndSourceBeforeFilling) {
    // Squares 0..10 and 5..15: the hatch length on the lines y = 7 and y = 3.
    auto fill = [](int type, bool secondSource, bool noRedraw) {
        Site site;
        site.Add(Poly(Rect(0, 0, 10, 10)));
        CBaseShape* other = site.Add(Poly(Rect(5, 5, 15, 15)));
        if (secondSource) site.source[other] = 1;
        site.noRedraw = noRedraw;
        SHAPE_FILLER_PARAM set = LineSet(3, 1.0);
        set.nExecuteType = type;
        site.FillLines(set);
        double at7 = 0, at3 = 0;
        for (const Figure& f : Figures(site.paths[0])) {
            const double len = std::fabs(f[1].X - f[0].X);
            if (std::fabs(f[0].Y - 7) < 1e-3) at7 += len;
            if (std::fabs(f[0].Y - 3) < 1e-3) at3 += len;
        }
        return std::make_pair(at7, at3);
    };
    EXPECT_NEAR(fill(0, true, false).first, 10, 1e-3);  // xor leaves the overlap out
    EXPECT_NEAR(fill(4, true, false).first, 10, 1e-3);  // an unknown type is xor
    EXPECT_NEAR(fill(2, true, false).first, 15, 1e-3);  // union
    EXPECT_NEAR(fill(1, true, false).first, 5, 1e-3);   // intersection with the clip
    EXPECT_NEAR(fill(3, true, false).first, 5, 1e-3);   // difference
    EXPECT_NEAR(fill(3, true, false).second, 10, 1e-3);
    EXPECT_NEAR(fill(1, true, true).first, 0, 1e-3);    // no redraw: no clips
    EXPECT_NEAR(fill(1, false, false).first, 0, 1e-3);  // one source: no clips
    Site lone;                                           // a lone shape is united
    lone.Add(Poly(Rect(0, 0, 10, 10)));
    SHAPE_FILLER_PARAM set = LineSet(3, 1.0);
    set.nExecuteType = 1;
    lone.FillLines(set);
    EXPECT_EQ(Figures(lone.paths[0]).size(), 9u);
}

TEST_F(HatchFill, BorderRingsAreEdgeChildrenAndTheHatchStartsInsideThem) {
    Site site;
    site.Add(Poly(Rect(0, 0, 10, 10)));
    SHAPE_FILLER_PARAM set = LineSet(3, 0.5);
    set.nCircularCount = 2;
    set.fCircularGap = 0.5;
    set.nPenNum = 7;
    site.FillLines(set);
    const std::vector<CPolyLine*> edges = site.Edges();
    ASSERT_EQ(edges.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const float in = 0.5f * static_cast<float>(i + 1);
        const Gdiplus::RectF r = CBaseShape::CalculateRectangle(edges[i]->arrPoint);
        EXPECT_NEAR(r.X, in, 1e-3);
        EXPECT_NEAR(r.Width, 10 - 2 * in, 1e-3);
        EXPECT_EQ(edges[i]->arrPoint.front(), edges[i]->arrPoint.back());
        EXPECT_EQ(edges[i]->GetPenIndex(), 7);
    }
    float lo = 1e9f, hi = -1e9f;
    for (const Figure& f : Figures(site.paths[0]))
        for (const auto& p : f) lo = std::min({lo, p.X, p.Y}), hi = std::max({hi, p.X, p.Y});
    EXPECT_NEAR(lo, 1.5f, 1e-3);
    EXPECT_NEAR(hi, 8.5f, 1e-3);

    // Absurd parameters end: rings stop once the square is used up; huge
    // margins, and a set index beyond the paths, fill nothing.
    Site absurd;
    absurd.Add(Poly(Rect(0, 0, 10, 10)));
    set.nCircularCount = 0xFFFFFFFFu;
    absurd.FillLines(set);
    EXPECT_EQ(absurd.Edges().size(), 9u);
    set = LineSet(3, 0.5);
    set.nIndex = 1;
    for (double margin : {1e30, -1e30}) {
        set.fMargin = margin;
        absurd.FillLines(set);
    }
    EXPECT_EQ(absurd.paths[1].GetPointCount(), 0);
    set.nIndex = 9;
    absurd.FillLines(set);
}

TEST_F(HatchFill, LoneCircleGetsExactRingsOneSpacingApart) {
    Site site;
    site.paths[0].AddLine(0.0f, 0.0f, 1.0f, 1.0f);
    site.FillRings(LineSet(0, 1.0));  // nothing to fill: no old rings stay either
    EXPECT_EQ(site.paths[0].GetPointCount(), 0);
    static_cast<CCircle*>(site.Add(new CCircle()))->InitCircle(20, 30, 0, 5);
    for (double spacing : {0.0, -1.0, static_cast<double>(NAN)}) {
        site.FillRings(LineSet(0, spacing));
        EXPECT_EQ(site.paths[0].GetPointCount(), 0);
    }
    SHAPE_FILLER_PARAM set = LineSet(0, 1.0);
    for (int invert : {0, 1}) {
        set.bRoundInvert = invert;
        site.FillRings(set);
        const std::vector<Figure> figs = Figures(site.paths[0]);
        ASSERT_EQ(figs.size(), 4u);  // radius 4, 3, 2, 1; 0 is not drawn
        for (size_t i = 0; i < 4; ++i)
            for (const auto& p : figs[i])
                EXPECT_NEAR(std::hypot(p.X - 20, p.Y - 30), invert ? 1.0 + i : 4.0 - i, 2e-3) << i;
    }
    // Squeezed by 1/20000 it is still a circle (radius 5.000125 leaves a
    // last tiny ring); squeezed by 1/1000 it is offset with Clipper, whose
    // rings end when the shape is used up.
    const std::pair<double, size_t> squeezed[] = {{1.00005, 5}, {1.001, 4}};
    for (auto [stretch, rings] : squeezed) {
        Site s;
        auto* c = static_cast<CCircle*>(s.Add(new CCircle()));
        c->InitCircle(0, 0, 0, 5);
        c->Zoom({0, 0}, 1.0, stretch);
        s.FillRings(LineSet(0, 1.0));
        EXPECT_EQ(Figures(s.paths[0]).size(), rings) << stretch;
    }
}

TEST_F(HatchFill, RoundedRectangleGetsExactRingsAndASquareOneClipperRings) {
    for (int corner : {50, 0}) {
        Site site;
        auto* rect = static_cast<CRectangle*>(site.Add(new CRectangle()));
        rect->InitRectangle(Gdiplus::RectF(0, 6, 10, 6));
        if (corner > 0) rect->SetRound(corner, 0, 0, 0);
        site.FillRings(LineSet(0, 1.0));
        const std::vector<Figure> figs = Figures(site.paths[0]);
        ASSERT_EQ(figs.size(), 2u) << corner;
        for (size_t i = 0; i < 2; ++i) {
            const float in = static_cast<float>(i + 1);
            const Gdiplus::RectF r = Bounds(figs[i]);
            EXPECT_NEAR(r.X, in, 1e-3);
            EXPECT_NEAR(r.Y, 6 - in, 1e-3);
            EXPECT_NEAR(r.Width, 10 - 2 * in, 1e-3);
            EXPECT_NEAR(r.Height, 6 - 2 * in, 1e-3);
            EXPECT_EQ(HasPoint(figs[i], in, 6 - in), corner == 0);  // the rounded top-left corner
            EXPECT_TRUE(HasPoint(figs[i], 10 - in, in));
        }
    }
    // Fine spacing: the rectangle gets every ring the spacing gives (the
    // circle alone stops at 4100), down to the one at the centre.
    const double spacing = 0.01;
    int rings = 0;
    for (int k = 0; k < static_cast<int>(std::floor(100 / spacing)); ++k)
        if (100 - (2.0 * k + 2) * spacing > 1e-6) rings = k + 1;
    const double inner = 100 - 2.0 * rings * spacing;
    Site site;
    static_cast<CRectangle*>(site.Add(new CRectangle()))->InitRectangle(Gdiplus::RectF(0, 100, 100, 100));
    static_cast<CRectangle*>(site.GetFillShape()->GetChildren()[0])->SetRound(10, 0, 0, 0);
    site.FillRings(LineSet(0, spacing));
    const std::vector<Figure> figs = Figures(site.paths[0]);
    ASSERT_EQ(figs.size(), static_cast<size_t>(rings));
    const Gdiplus::RectF r = Bounds(figs.back());
    EXPECT_NEAR(r.Width, inner, 1e-3);
    EXPECT_NEAR(r.Height, inner, 1e-3);
    EXPECT_NEAR(r.X + r.Width / 2, 50, 1e-3);
    EXPECT_NEAR(r.Y - r.Height / 2, 50, 1e-3);
    site.FillRings(LineSet(0, 1e-6));  // fifty million rings are not drawn, nor any part of them
    EXPECT_EQ(site.paths[0].GetPointCount(), 0);
    Site round;
    static_cast<CCircle*>(round.Add(new CCircle()))->InitCircle(0, 0, 0, 50);
    round.FillRings(LineSet(0, spacing));
    EXPECT_EQ(Figures(round.paths[0]).size(), static_cast<size_t>(CFillRunner::kMaxExactRings));
}

// A dense outline (a circle of 20,000 vertices, off the origin) still gets
// rings on the true offsets, radius R - k s, within the fill's flattening
// tolerance, while each ring is thinned before the next offset (a ring of
// the outline's 20,000 points would make every offset cost the square).
TEST_F(HatchFill, DenseOutlineRingsStayOnTheTrueOffsetsWithFewPoints) {
    Site site;
    const double cx = 3.7, cy = -1.3, radius = 9.35, spacing = 0.7;
    Outline circle;
    for (int i = 0; i < 20000; ++i) {
        const double a = 2 * M_PI * i / 20000;
        circle.push_back({static_cast<float>(cx + radius * std::cos(a)), static_cast<float>(cy + radius * std::sin(a))});
    }
    site.Add(Poly(circle));
    site.FillRings(LineSet(0, spacing));
    const std::vector<Figure> figs = Figures(site.paths[0]);
    ASSERT_EQ(figs.size(), 13u);  // radius 8.65 down to 0.25
    const double tolerance = site.shape.GetSmoothRatio();
    for (size_t k = 0; k < figs.size(); ++k) {
        const double want = radius - (k + 1) * spacing;
        EXPECT_LT(figs[k].size(), 400u) << k;
        for (const auto& p : figs[k]) EXPECT_NEAR(std::hypot(p.X - cx, p.Y - cy), want, tolerance) << k;
    }
}

// A convex pentagon, uneven, turned by an odd angle and off the axes: every
// point along every ring segment, not only the corners, lies on the ring's
// true offset, at k spacings from the nearest edge line (inside a convex
// outline the distance to the outline).
TEST_F(HatchFill, RingsLieOnTheirOffsetsAlongEverySegment) {
    const double turn = 37.3 * M_PI / 180, spacing = 0.45;
    Outline pentagon;
    for (auto [x, y] : {std::pair{-4.1, -2.3}, {3.7, -2.9}, {5.2, 1.4}, {0.9, 3.8}, {-3.6, 2.2}})
        pentagon.push_back({static_cast<float>(11.3 + x * std::cos(turn) - y * std::sin(turn)),
                            static_cast<float>(-6.7 + x * std::sin(turn) + y * std::cos(turn))});
    Site site;
    site.Add(Poly(pentagon));
    site.FillRings(LineSet(0, spacing));
    const std::vector<Figure> figs = Figures(site.paths[0]);
    ASSERT_GE(figs.size(), 5u);
    // Counter-clockwise: the inward normal is on the left of each edge.
    const auto depth = [&](double x, double y) {
        double d = 1e9;
        for (size_t i = 0; i < 5; ++i) {
            const tagPOINTF a = pentagon[i], b = pentagon[(i + 1) % 5];
            d = std::min(d, ((b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x)) / std::hypot(b.x - a.x, b.y - a.y));
        }
        return d;
    };
    const double tolerance = site.shape.GetSmoothRatio();
    for (size_t k = 0; k < figs.size(); ++k)
        for (size_t i = 0; i < figs[k].size(); ++i) {
            const Gdiplus::PointF a = figs[k][i], b = figs[k][(i + 1) % figs[k].size()];
            for (double t = 0; t < 1; t += 0.125)
                EXPECT_NEAR(depth(a.X + t * (b.X - a.X), a.Y + t * (b.Y - a.Y)), (k + 1) * spacing, tolerance)
                    << k << " " << i << " " << t;
        }
}

// One ring offset that runs far past the question's time: the question still
// comes while it runs (a check between rings would come only after it), No
// ends the fill at once, and Yes waits for it and fills every ring. The clock
// runs 100 times fast: 15 s are 150 ms.
TEST_F(HatchFill, SlowFillQuestionComesInsideOneLongOffset) {
    auto host = std::make_shared<RecordingHost>();
    std::shared_ptr<IHostServices> previous = SetHost(host);
    for (int answer : {IDNO, IDYES}) {
        Site site;
        site.Add(Poly(Rect(0, 0, 10, 10)));
        CFillRunner runner(site);
        const auto t0 = std::chrono::steady_clock::now();
        runner.SetTickSource([t0] {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
            return static_cast<DWORD>(ms * 100);
        });
        // The first offset takes two seconds; it notes whether the question
        // came while it ran.
        struct Probe {
            std::atomic<int> calls{0};
            std::atomic<bool> firstDone{false};
            std::atomic<size_t> boxesDuringFirst{0};
            std::atomic<int> niceAtEnd{0};
        };
        auto probe = std::make_shared<Probe>();
        runner.SetRingOffset([probe, host](const ClipperLib::Paths& in, double delta) {
            const bool first = probe->calls.fetch_add(1) == 0;
            ClipperLib::Paths out;
            ClipperLib::ClipperOffset offset(2.0, 0.25);
            offset.AddPaths(in, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
            offset.Execute(out, delta);
            if (first) {
                std::this_thread::sleep_for(std::chrono::seconds(2));
                probe->boxesDuringFirst = host->MessageBoxes().size();
                probe->niceAtEnd = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
                probe->firstDone = true;
            }
            return out;
        });
        host->ClearRecords();
        CFillRunner::SetSlowFillAsk(1);
        host->QueueMessageBoxAnswer(answer);
        SHAPE_FILLER_PARAM set = LineSet(0, 1.0);
        runner.DoFillCircular(set);
        ASSERT_EQ(host->MessageBoxes().size(), 1u) << answer;
        if (answer == IDNO) {
            EXPECT_FALSE(probe->firstDone.load());  // the fill did not wait for it
            EXPECT_EQ(Figures(site.paths[0]).size(), 0u);
            // The abandoned offset still ends on its own.
            for (int i = 0; i < 1000 && !probe->firstDone; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_TRUE(probe->firstDone.load());
            EXPECT_EQ(probe->niceAtEnd.load(), 19);  // what is left yields to the host
            EXPECT_EQ(CFillRunner::GetSlowFillAsk(), 1);
        } else {
            EXPECT_EQ(probe->boxesDuringFirst.load(), 1u);
            EXPECT_EQ(probe->niceAtEnd.load(), getpriority(PRIO_PROCESS, 0));
            EXPECT_EQ(Figures(site.paths[0]).size(), 4u);  // insets 1 to 4
            EXPECT_EQ(CFillRunner::GetSlowFillAsk(), 0);
        }
    }
    CFillRunner::SetSlowFillAsk(1);
    SetHost(previous);
}

TEST_F(HatchFill, SlowConcentricFillAsksOnceAndNoKeepsTheRingsSoFar) {
    auto host = std::make_shared<RecordingHost>();
    std::shared_ptr<IHostServices> previous = SetHost(host);
    Site site;
    site.Add(Poly(Rect(0, 0, 10, 10)));
    CFillRunner runner(site);
    SHAPE_FILLER_PARAM set = LineSet(0, 1.0);
    int calls = 0;
    runner.SetTickSource([&calls] { return ++calls <= 2 ? 0u : 20000u; });  // 20 s after the first ring
    host->QueueMessageBoxAnswer(IDNO);
    runner.DoFillCircular(set);
    EXPECT_EQ(Figures(site.paths[0]).size(), 1u);
    ASSERT_EQ(host->MessageBoxes().size(), 1u);
    EXPECT_EQ(host->MessageBoxes()[0].text, L"渲染用时过多，是否继续?");
    EXPECT_EQ(host->MessageBoxes()[0].caption, L"提示");
    EXPECT_EQ(host->MessageBoxes()[0].type, MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(CFillRunner::GetSlowFillAsk(), 1);

    calls = 0;
    host->QueueMessageBoxAnswer(IDYES);
    runner.DoFillCircular(set);
    EXPECT_EQ(Figures(site.paths[0]).size(), 4u);  // insets 1 to 4; 5 uses the square up
    EXPECT_EQ(CFillRunner::GetSlowFillAsk(), 0);
    calls = 0;
    runner.DoFillCircular(set);  // not asked again
    EXPECT_EQ(host->MessageBoxes().size(), 2u);
    SetHost(previous);
}
