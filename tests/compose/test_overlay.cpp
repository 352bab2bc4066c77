// Polygon overlays of selected shapes with one other shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/compose/overlay.h"
#include "compose_test_util.h"
#include "morvik/core/polyline.h"
#include "morvik/halder/lang.h"
#include "morvik/host/recording_host.h"
#include "morvik/shapes/circle.h"
#include "support/shape_support.h"

using compose_test::LineGroup;
using compose_test::Poly;

namespace {

// One Clipper unit: the precision the overlay works to.
constexpr double kUnit = 1.0 / 3571.0;

std::vector<tagPOINTF> Square(float x0, float y0, float x1, float y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
}

using testsupport::FreeShape;
using Owned = std::unique_ptr<CBaseShape, FreeShape>;

// Every test records the message boxes and restores the previous host.
class Overlay : public ::testing::Test {
protected:
    void SetUp() override { previous = SetHost(host); }
    void TearDown() override { SetHost(previous); }

    // The closed outlines of a result, each without its repeated last point;
    // fails the test when the result is not a group of closed polylines.
    static std::vector<std::vector<tagPOINTF>> Outlines(CBaseShape* result) {
        std::vector<std::vector<tagPOINTF>> out;
        auto* group = dynamic_cast<CGroupShape*>(result);
        EXPECT_NE(group, nullptr);
        if (group == nullptr) return out;
        for (CBaseShape* child : group->GetChildren()) {
            auto* poly = dynamic_cast<CPolyLine*>(child);
            EXPECT_NE(poly, nullptr);
            if (poly == nullptr) continue;
            EXPECT_EQ(poly->bClosed, 1);
            EXPECT_GE(poly->arrPoint.size(), 3u);
            if (poly->arrPoint.size() < 2) continue;
            EXPECT_EQ(poly->arrPoint.front(), poly->arrPoint.back());
            out.emplace_back(poly->arrPoint.begin(), poly->arrPoint.end() - 1);
        }
        return out;
    }

    static double SignedArea(const std::vector<tagPOINTF>& pts) {
        double a = 0;
        for (size_t i = 0; i < pts.size(); ++i) {
            const tagPOINTF& p = pts[i];
            const tagPOINTF& q = pts[(i + 1) % pts.size()];
            a += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
        }
        return a / 2;
    }

    // The area covered under even-odd filling: outer rings minus holes.
    static double Area(const std::vector<std::vector<tagPOINTF>>& outlines) {
        if (outlines.empty()) return 0;
        // The largest ring is an outer one; holes turn the other way.
        double biggest = 0;
        for (const auto& o : outlines)
            if (std::fabs(SignedArea(o)) > std::fabs(biggest)) biggest = SignedArea(o);
        double sum = 0;
        for (const auto& o : outlines) sum += SignedArea(o);
        return biggest < 0 ? -sum : sum;
    }

    // Each expected vertex is a vertex of the outline, and the counts agree.
    static void ExpectVertices(const std::vector<tagPOINTF>& outline, const std::vector<tagPOINTF>& expected) {
        EXPECT_EQ(outline.size(), expected.size());
        for (const tagPOINTF& e : expected) {
            const bool found = std::any_of(outline.begin(), outline.end(), [&](const tagPOINTF& p) {
                return std::fabs(p.x - e.x) <= kUnit && std::fabs(p.y - e.y) <= kUnit;
            });
            EXPECT_TRUE(found) << "missing vertex (" << e.x << ", " << e.y << ")";
        }
    }

    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<IHostServices> previous;
};

// Two overlapping squares, offset by a fraction that is not a whole number
// of Clipper units, so the scaling and rounding show in the vertices.
TEST_F(Overlay, OverlappingSquaresGiveTheKnownOutlines) {
    const float o = 0.3f;
    Owned a(Poly(Square(o, o, 10 + o, 10 + o)));
    Owned b(Poly(Square(5 + o, 5 + o, 15 + o, 15 + o)));
    const std::vector<tagPOINTF> before = static_cast<CPolyLine*>(a.get())->arrPoint;
    std::vector<CBaseShape*> subjects{a.get()};

    Owned inter(DoExecuteShapeOverlay(&subjects, b.get(), kOverlayIntersection));
    auto outlines = Outlines(inter.get());
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_NEAR(Area(outlines), 25.0, 1e-3);
    ExpectVertices(outlines[0], {{5 + o, 5 + o}, {10 + o, 5 + o}, {10 + o, 10 + o}, {5 + o, 10 + o}});

    Owned uni(DoExecuteShapeOverlay(&subjects, b.get(), kOverlayUnion));
    outlines = Outlines(uni.get());
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_NEAR(Area(outlines), 175.0, 1e-3);
    ExpectVertices(outlines[0], {{o, o},
                                 {10 + o, o},
                                 {10 + o, 5 + o},
                                 {15 + o, 5 + o},
                                 {15 + o, 15 + o},
                                 {5 + o, 15 + o},
                                 {5 + o, 10 + o},
                                 {o, 10 + o}});

    Owned diff(DoExecuteShapeOverlay(&subjects, b.get(), kOverlayDifference));
    outlines = Outlines(diff.get());
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_NEAR(Area(outlines), 75.0, 1e-3);
    ExpectVertices(outlines[0],
                   {{o, o}, {10 + o, o}, {10 + o, 5 + o}, {5 + o, 5 + o}, {5 + o, 10 + o}, {o, 10 + o}});

    // Every value outside 1 to 3 is a union too.
    for (int op : {0, 4, -1}) {
        Owned r(DoExecuteShapeOverlay(&subjects, b.get(), op));
        EXPECT_NEAR(Area(Outlines(r.get())), 175.0, 1e-3) << op;
    }

    // The inputs stay as they were, and the result is a new shape.
    EXPECT_EQ(static_cast<CPolyLine*>(a.get())->arrPoint, before);
    EXPECT_EQ(subjects.size(), 1u);
    EXPECT_NE(inter.get(), a.get());
    EXPECT_TRUE(host->MessageBoxes().empty());
}

// A ring (outer and inner outline in one compound shape) stays a ring
// through a union with a shape beside it, and several subjects count under
// even-odd filling together.
TEST_F(Overlay, HolesStayHoles) {
    auto* ring = new CCombineShape();
    ring->GetChildren().push_back(Poly(Square(0, 0, 20, 20)));
    ring->GetChildren().push_back(Poly(Square(5, 5, 15, 15)));
    Owned ringOwner(ring);
    Owned beside(Poly(Square(30, 0, 35, 5)));
    std::vector<CBaseShape*> subjects{ring};

    Owned uni(DoExecuteShapeOverlay(&subjects, beside.get(), kOverlayUnion));
    auto outlines = Outlines(uni.get());
    ASSERT_EQ(outlines.size(), 3u);
    // Filling the hole would leave two outlines covering 425.
    EXPECT_NEAR(Area(outlines), 400.0 - 100.0 + 25.0, 1e-3);
    EXPECT_EQ(ring->GetChildren().size(), 2u);

    // Cutting the ring with a square over its right half keeps the left
    // half of the frame only: a U, with no hole left.
    Owned right(Poly(Square(10, -5, 25, 25)));
    Owned diff(DoExecuteShapeOverlay(&subjects, right.get(), kOverlayDifference));
    outlines = Outlines(diff.get());
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_NEAR(Area(outlines), 200.0 - 50.0, 1e-3);
}

// Groups give their leaves, nested groups and compound shapes included, and
// a group made from a plotter file gives polylines that the overlay makes
// and frees itself (the sanitizer sees any that are left behind).
TEST_F(Overlay, GroupsContributeTheirLeaves) {
    auto* inner = new CGroupShape();
    inner->GetChildren().push_back(Poly(Square(0, 0, 4, 4)));
    auto* group = new CGroupShape();
    group->GetChildren().push_back(inner);
    group->GetChildren().push_back(Poly(Square(6, 0, 10, 4)));
    Owned groupOwner(group);

    CGroupShape* lines = LineGroup({{0, Square(20, 0, 24, 4)}});
    Owned linesOwner(lines);

    Owned clip(Poly(Square(-1, 1, 30, 3)));
    std::vector<CBaseShape*> subjects{group, lines};
    Owned r(DoExecuteShapeOverlay(&subjects, clip.get(), kOverlayIntersection));
    auto outlines = Outlines(r.get());
    ASSERT_EQ(outlines.size(), 3u);
    EXPECT_NEAR(Area(outlines), 3 * 4 * 2.0, 1e-3);
    EXPECT_EQ(group->GetChildren().size(), 2u);
    EXPECT_EQ(lines->vLines.size(), 1u);
}

// A circle as the other shape is cut along its flattened outline: the
// result hugs the circle and misses little of it.
TEST_F(Overlay, CurvedClipIsFollowedClosely) {
    Owned square(Poly(Square(-10, -10, 10, 10)));
    auto* circle = new CCircle();
    Owned circleOwner(circle);
    circle->InitCircle(0, 0, 0, 5);
    std::vector<CBaseShape*> subjects{square.get()};
    Owned r(DoExecuteShapeOverlay(&subjects, circle, kOverlayIntersection));
    auto outlines = Outlines(r.get());
    ASSERT_EQ(outlines.size(), 1u);
    const double full = M_PI * 25.0;
    // Bezier arcs bulge out by less than 0.03 % of the radius.
    EXPECT_LE(Area(outlines), full * 1.001);
    EXPECT_GE(Area(outlines), full * 0.97);
    for (const tagPOINTF& p : outlines[0]) EXPECT_NEAR(std::hypot(p.x, p.y), 5.0, 0.11);
}

// Without an outline from the other shape the user is told to select
// shapes; an empty result returns nothing and says nothing.
TEST_F(Overlay, MissingClipOutlineIsReportedAndEmptyResultsAreSilent) {
    Owned a(Poly(Square(0, 0, 10, 10)));
    std::vector<CBaseShape*> subjects{a.get()};
    const std::wstring message = CLang::Instance()->GetString("IDS_SELECT_ERR").GetString();

    EXPECT_EQ(DoExecuteShapeOverlay(&subjects, nullptr, kOverlayUnion), nullptr);

    auto* edges = new CGroupShape();
    CPolyLine* edge = Poly(Square(2, 2, 8, 8));
    edge->SetCaption(L"edge");
    edges->GetChildren().push_back(edge);
    Owned edgesOwner(edges);
    EXPECT_EQ(DoExecuteShapeOverlay(&subjects, edges, kOverlayUnion), nullptr);

    Owned empty(new CPolyLine());
    EXPECT_EQ(DoExecuteShapeOverlay(&subjects, empty.get(), kOverlayIntersection), nullptr);

    ASSERT_EQ(host->MessageBoxes().size(), 3u);
    for (const RecordedMessageBox& box : host->MessageBoxes()) {
        EXPECT_EQ(box.text, message);
        EXPECT_EQ(box.type & 0x0Fu, static_cast<UINT>(MB_OK));
    }

    // Disjoint outlines, or no subjects at all, intersect to nothing.
    Owned far(Poly(Square(50, 50, 60, 60)));
    EXPECT_EQ(DoExecuteShapeOverlay(&subjects, far.get(), kOverlayIntersection), nullptr);
    EXPECT_EQ(DoExecuteShapeOverlay(nullptr, far.get(), kOverlayIntersection), nullptr);
    std::vector<CBaseShape*> none{nullptr};
    EXPECT_EQ(DoExecuteShapeOverlay(&none, far.get(), kOverlayDifference), nullptr);
    EXPECT_EQ(host->MessageBoxes().size(), 3u);
}

// Outlines with points that are not numbers or lie far beyond any drawing
// are left out instead of wrapping Clipper's integers.
TEST_F(Overlay, UnusableOutlinesAreLeftOut) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Owned good(Poly(Square(0, 0, 10, 10)));
    Owned bad(Poly({{0, 0}, {nan, 1}, {5, 5}, {0, 0}}));
    Owned huge(Poly(Square(0, 0, 1e30f, 1e30f)));
    std::vector<CBaseShape*> subjects{good.get(), bad.get(), huge.get()};
    Owned clip(Poly(Square(5, 5, 20, 20)));
    Owned r(DoExecuteShapeOverlay(&subjects, clip.get(), kOverlayIntersection));
    EXPECT_NEAR(Area(Outlines(r.get())), 25.0, 1e-3);

    std::vector<CBaseShape*> one{good.get()};
    EXPECT_EQ(DoExecuteShapeOverlay(&one, huge.get(), kOverlayUnion), nullptr);
    EXPECT_EQ(host->MessageBoxes().size(), 1u);
}

}  // namespace
