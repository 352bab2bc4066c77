// The scan-line hatch engine: hatch lines lie inside the outlines, at the
// set's spacing and angle, cover them, and link up as each kind says.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "test_filler_util.h"

using namespace filler_test;

namespace {

using HatchEngine = FillLogTest;
using Frame = std::vector<std::vector<Gdiplus::PointF>>;
struct Span {
    double a, b;
};

std::vector<Figure> Fill(const std::vector<Outline>& outlines, SHAPE_FILLER_PARAM set) {
    CShapeFiller filler;
    filler.SetFillParam(&set);
    for (const Outline& o : outlines) filler.AddContour(o);
    Gdiplus::GraphicsPath* result = filler.LineFill();
    return result != nullptr ? Figures(*result) : std::vector<Figure>{};
}

Outline Polygon(std::vector<float> radii, float cx, float cy) {
    Outline o;
    for (size_t i = 0; i < radii.size(); ++i) {
        const double a = 2 * M_PI * static_cast<double>(i) / static_cast<double>(radii.size());
        o.push_back({cx + radii[i] * static_cast<float>(std::cos(a)), cy + radii[i] * static_cast<float>(std::sin(a))});
    }
    return o;
}

// Points turned by -angle about the centre of the outlines' bounds, the
// frame in which the hatch runs along x.
struct Upright {
    Gdiplus::PointF c;
    double angle;
    Upright(const std::vector<Outline>& outlines, double a) : angle(a * M_PI / 180) {
        float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
        for (const Outline& o : outlines)
            for (const tagPOINTF& p : o)
                x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        c = {(x0 + x1) / 2, (y0 + y1) / 2};
    }
    Gdiplus::PointF operator()(float x, float y) const {
        const double dx = x - c.X, dy = y - c.Y;
        return {static_cast<float>(c.X + dx * std::cos(angle) + dy * std::sin(angle)),
                static_cast<float>(c.Y - dx * std::sin(angle) + dy * std::cos(angle))};
    }
};

// What the line y covers of the outlines under the even-odd rule.
std::vector<Span> Cover(const Frame& outlines, double y) {
    std::vector<double> xs;
    for (const auto& o : outlines)
        for (size_t i = 0; i < o.size(); ++i) {
            const Gdiplus::PointF a = o[i], b = o[(i + 1) % o.size()];
            if ((a.Y <= y && y < b.Y) || (b.Y <= y && y < a.Y)) xs.push_back(a.X + (y - a.Y) * (b.X - a.X) / (b.Y - a.Y));
        }
    std::sort(xs.begin(), xs.end());
    std::vector<Span> out;
    for (size_t i = 0; i + 1 < xs.size(); i += 2)
        if (xs[i + 1] - xs[i] > 2e-3) out.push_back({xs[i], xs[i + 1]});
    return out;
}

double DistanceToOutline(const Frame& outlines, Gdiplus::PointF p) {
    double best = 1e30;
    for (const auto& o : outlines)
        for (size_t i = 0; i < o.size(); ++i) {
            const Gdiplus::PointF a = o[i], b = o[(i + 1) % o.size()];
            const double dx = b.X - a.X, dy = b.Y - a.Y, len2 = dx * dx + dy * dy;
            const double t = std::clamp(len2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2 : 0.0, 0.0, 1.0);
            best = std::min(best, std::hypot(a.X + t * dx - p.X, a.Y + t * dy - p.Y));
        }
    return best;
}

// Checks a fill against the even-odd cover of the outlines, measured in the
// upright frame: the lines are one spacing apart and each holds exactly the
// cover; the first and last lie within a spacing of the edges; the hatch
// length times the spacing measures the area; and whatever a linked kind
// draws off a line runs along the outline.
void CheckHatch(const std::vector<Outline>& outlines, SHAPE_FILLER_PARAM set) {
    SCOPED_TRACE(testing::Message() << "kind " << set.nFillType << " angle " << set.fAngle << " equal "
                                    << set.bArrangeEqually << " quick " << set.bQuickFill);
    const Upright up(outlines, set.fAngle);
    Frame frame;
    double top = 1e30, bottom = -1e30, width = 0;
    for (const Outline& o : outlines) {
        frame.emplace_back();
        for (const tagPOINTF& p : o) {
            frame.back().push_back(up(p.x, p.y));
            top = std::min<double>(top, frame.back().back().Y), bottom = std::max<double>(bottom, frame.back().back().Y);
            width = std::max(width, 2.0 * std::fabs(frame.back().back().X - up.c.X));
        }
    }
    // The line heights, from the separate-lines form of the same set.
    SHAPE_FILLER_PARAM separate = set;
    separate.nFillType = 3;
    std::vector<double> grid;
    for (const Figure& f : Fill(outlines, separate)) grid.push_back(up(f[0].X, f[0].Y).Y);
    std::sort(grid.begin(), grid.end());
    grid.erase(std::unique(grid.begin(), grid.end(), [](double a, double b) { return b - a < 1e-3; }), grid.end());
    ASSERT_GE(grid.size(), 2u);
    const size_t steps = static_cast<size_t>(std::lround((grid.back() - grid.front()) / (grid[1] - grid[0])));
    const double spacing = (grid.back() - grid.front()) / static_cast<double>(steps);
    EXPECT_GE(spacing, set.fLineSpacing - 1e-4);
    EXPECT_LT(spacing, 2 * set.fLineSpacing);
    EXPECT_LE(grid.front() - top, spacing + 2e-3);
    EXPECT_LE(bottom - grid.back(), 1.5 * spacing + 2e-3);
    auto lineOf = [&](double y) { return std::lround((y - grid.front()) / spacing); };

    std::map<long, std::vector<Span>> lines;
    for (const Figure& f : Fill(outlines, set)) {
        if (set.nFillType >= 3) {
            ASSERT_EQ(f.size(), 2u);
        }
        for (size_t i = 0; i + 1 < f.size(); ++i) {
            const Gdiplus::PointF p = up(f[i].X, f[i].Y), q = up(f[i + 1].X, f[i + 1].Y);
            const long k = lineOf(p.Y);
            if (std::fabs(p.Y - q.Y) < 1e-3 && std::fabs(p.Y - grid.front() - k * spacing) < 1e-3) {
                lines[k].push_back({std::min<double>(p.X, q.X), std::max<double>(p.X, q.X)});
                if (set.nFillType == 3) {
                    EXPECT_LE(p.X, q.X + 1e-4);
                }
            } else {
                ASSERT_LE(set.nFillType, 2) << "a separate line off the hatch direction";
                EXPECT_LT(DistanceToOutline(frame, p), 2e-3);
                EXPECT_LT(DistanceToOutline(frame, q), 2e-3);
            }
        }
    }
    double total = 0, area = 0;
    for (double y = top + 0.001; y < bottom; y += 0.002)
        for (const Span& s : Cover(frame, y)) area += (s.b - s.a) * 0.002;
    for (size_t k = 0; k <= steps; ++k) {
        // Runs of a linked kind that meet are one run.
        std::vector<Span>& got = lines[static_cast<long>(k)];
        std::sort(got.begin(), got.end(), [](const Span& p, const Span& q) { return p.a < q.a; });
        std::vector<Span> merged;
        for (const Span& s : got) {
            if (!merged.empty() && s.a <= merged.back().b + 1e-3) {
                merged.back().b = std::max(merged.back().b, s.b);
            } else if (s.b - s.a > 2e-3) {
                merged.push_back(s);
            }
        }
        const double y = grid.front() + spacing * static_cast<double>(k);
        const std::vector<Span> want = Cover(frame, y);
        ASSERT_EQ(merged.size(), want.size()) << "line at " << y;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_NEAR(merged[i].a, want[i].a, 2e-3) << "line at " << y;
            EXPECT_NEAR(merged[i].b, want[i].b, 2e-3) << "line at " << y;
            total += merged[i].b - merged[i].a;
        }
    }
    EXPECT_NEAR(total * spacing, area, 1.5 * spacing * width);
}

}  // namespace

TEST_F(HatchEngine, SquareGivesFullWidthLinesStartingOneSpacingUp) {
    for (int equal : {0, 1}) {
        SHAPE_FILLER_PARAM set = LineSet(3, 1.0);
        set.bArrangeEqually = equal;
        const std::vector<Figure> figs = Fill({Rect(0, 0, 10, 10)}, set);
        ASSERT_EQ(figs.size(), 9u) << "equal " << equal;
        for (size_t i = 0; i < figs.size(); ++i) {
            const float y = static_cast<float>(i + 1);
            ExpectLine(figs[i], 0, y, 10, y);
        }
    }
}

TEST_F(HatchEngine, EveryKindCoversConvexConcaveHoledAndSplitShapesAtAnyAngle) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<float> radius(2.0f, 6.0f);
    auto star = [&](float cx, float cy) {
        std::vector<float> r(17);
        for (float& v : r) v = radius(rng);
        return Polygon(r, cx, cy);
    };
    auto disc = [](float r, int n, float cx) { return Polygon(std::vector<float>(n, r), cx, 0); };
    const std::vector<std::vector<Outline>> shapes = {
        {Rect(0, 0, 10, 10)},
        {disc(5, 97, 0), disc(2, 61, 0.3f)},
        {{{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 10}, {0, 10}}},
        {{{0, 0}, {10, 0}, {10, 10}, {7, 10}, {7, 3}, {3, 3}, {3, 10}, {0, 10}}},
        {star(0, 0), disc(1.2f, 33, 0.1f)},
        {star(0, 0), star(14, 3)},
    };
    for (size_t s = 0; s < shapes.size(); ++s) {
        SCOPED_TRACE(testing::Message() << "shape " << s);
        for (double angle : {0.0, 30.0, 90.0, 137.5}) {
            for (int kind = 1; kind <= 4; ++kind) {
                SHAPE_FILLER_PARAM set = LineSet(kind, 0.35, angle);
                set.bArrangeEqually = kind % 2;
                set.bQuickFill = kind == 4 && angle > 45;
                CheckHatch(shapes[s], set);
            }
        }
    }
}

TEST_F(HatchEngine, VerticesOnScanLinesCountOnceWhenPassedAndTwiceAtAnApex) {
    // On the line y = 5 the outlines pass (12, 5) going up and (22, 5) going
    // down: counted twice they would pair crossings across the gap.
    const std::vector<Outline> shapes = {{{0, 0}, {10, 0}, {12, 5}, {10, 10}, {0, 10}},
                                         {{20, 0}, {30, 0}, {30, 10}, {20, 10}, {22, 5}}};
    for (int kind = 1; kind <= 4; ++kind) CheckHatch(shapes, LineSet(kind, 1.0));
    // An apex on the top line is a local top: a zero-length run there.
    const std::vector<Figure> figs = Fill({{{0, 0}, {10, 0}, {5, 5}}}, LineSet(3, 1.0));
    ASSERT_EQ(figs.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const float y = static_cast<float>(i + 1);
        ExpectLine(figs[i], y, y, 10 - y, y);
    }
}

TEST_F(HatchEngine, LinkedKindsDrawOneRegionInOneStroke) {
    const std::vector<Outline> u = {{{0, 0}, {10, 0}, {10, 10}, {7, 10}, {7, 3}, {3, 3}, {3, 10}, {0, 10}}};
    for (double angle : {0.0, 30.0}) {
        EXPECT_EQ(Fill({Rect(0, 0, 10, 10)}, LineSet(1, 0.35, angle)).size(), 1u);
        EXPECT_EQ(Fill({Rect(0, 0, 10, 10)}, LineSet(2, 0.35, angle)).size(), 1u);
    }
    // The U: the base and one arm in one walk, the other arm in a second.
    EXPECT_EQ(Fill(u, LineSet(1, 0.35)).size(), 2u);
    // Quick separate lines go region by region: the right arm comes last.
    SHAPE_FILLER_PARAM quick = LineSet(3, 0.5);
    quick.bQuickFill = 1;
    const std::vector<Figure> figs = Fill(u, quick);
    const auto right = std::find_if(figs.begin(), figs.end(), [](const Figure& f) { return f[0].X > 5; });
    ASSERT_NE(right, figs.end());
    EXPECT_TRUE(std::all_of(right, figs.end(), [](const Figure& f) { return f[0].X > 5; }));
}

TEST_F(HatchEngine, ArrangementShrinkingAndAlternation) {
    // Even arrangement over a height of 10 at spacing 3: 3 lines, 3.3333333 apart.
    SHAPE_FILLER_PARAM even = LineSet(3, 3.0);
    even.bArrangeEqually = 1;
    CShapeFiller filler;
    filler.SetFillParam(&even);
    filler.AddContour(Rect(0, 0, 10, 10));
    const std::vector<Figure> lines = Figures(*filler.LineFill());
    EXPECT_EQ(filler.GetSpacingUnits(), 33333333);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0][0].Y, 10.0 / 3, 1e-6);
    EXPECT_NEAR(lines[1][0].Y, 20.0 / 3, 1e-6);

    // Inner spacing shrinks each run at both ends; half a run removes it;
    // below five decimals it is nothing.
    struct Inset {
        double inset;
        float from, to;
    };
    for (const Inset& c : {Inset{1.0, 1, 9}, Inset{0.000001, 0, 10}, Inset{-0.5, -0.5f, 10.5f}}) {
        SHAPE_FILLER_PARAM set = LineSet(3, 1.0);
        set.fInnerSpacing = c.inset;
        const std::vector<Figure> figs = Fill({Rect(0, 0, 10, 10)}, set);
        ASSERT_EQ(figs.size(), 9u);
        for (const Figure& f : figs) ExpectLine(f, c.from, f[0].Y, c.to, f[0].Y);
    }
    SHAPE_FILLER_PARAM half = LineSet(3, 1.0);
    half.fInnerSpacing = 5.0;
    EXPECT_TRUE(Fill({Rect(0, 0, 10, 10)}, half).empty());

    // Alternating lines (at 1.6, 5.0 and 8.4), with and without quick fill.
    for (int quick : {0, 1}) {
        SHAPE_FILLER_PARAM set = LineSet(4, 3.4);
        set.bQuickFill = quick;
        const std::vector<Figure> figs = Fill({Rect(0, 0, 10, 10)}, set);
        ASSERT_EQ(figs.size(), 3u);
        EXPECT_LT(figs[0][0].X, figs[0][1].X);
        EXPECT_GT(figs[1][0].X, figs[1][1].X);
        EXPECT_LT(figs[2][0].X, figs[2][1].X);
    }
}

TEST_F(HatchEngine, RefusesWhatCannotBeFilledAndForgetsItOnReset) {
    EXPECT_TRUE(Fill({Rect(0, 0, 10, 10)}, LineSet(3, 0.0000004)).empty());  // spacing rounds to 0
    EXPECT_TRUE(Fill({Rect(0, 0, 10, 10)}, LineSet(1, 1.0, NAN)).empty());
    EXPECT_TRUE(Fill({Rect(0, 0, 100000, 100000)}, LineSet(3, 0.00001)).empty());  // 1e10 lines
    SHAPE_FILLER_PARAM set = LineSet(1, 1.0);
    CShapeFiller filler;
    filler.SetFillParam(&set);
    filler.AddContour({{1, 1}});
    filler.AddContour({{0, 0}, {NAN, 1}, {2, 2}});
    filler.AddContour({{0, 0}, {1e30f, 1}, {2, 2}});
    EXPECT_EQ(filler.GetContourCount(), 0u);
    EXPECT_EQ(filler.LineFill(), nullptr);

    // Clear keeps the outlines for a second (cross) pass; Reset forgets
    // them even when it reports a spacing it cannot use.
    filler.AddContour(Rect(0, 0, 10, 10));
    ASSERT_NE(filler.LineFill(), nullptr);
    filler.Clear();
    SHAPE_FILLER_PARAM turned = LineSet(1, 1.0, 90);
    filler.SetFillParam(&turned);
    for (const Figure& f : Figures(*filler.LineFill())) EXPECT_NEAR(f[0].X, f[1].X, 1e-4);
    SHAPE_FILLER_PARAM tiny = LineSet(3, 0.0000004);
    filler.SetFillParam(&tiny);
    EXPECT_FALSE(filler.Reset());
    EXPECT_EQ(filler.GetContourCount(), 0u);
}
