// The DXF entity builder: records become shapes at the right millimetre
// positions, layers become pen-numbered groups, blocks are placed per INSERT,
// and the import entry hands back the filled group.
#include <set>
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/bezier.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/core/vectorfile.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/dxf_builder.h"
#include "import/import_support.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "support/shape_support.h"
#include "morvik/text/fonts.h"
#include "morvik/text/vartext.h"

namespace {

using importsupport::Drawing;
using importsupport::Pairs;
using importsupport::Section;
using importsupport::TempFile;
using testsupport::HostScope;

std::string Line(const std::string& layer, const std::string& x1, const std::string& y1, const std::string& x2,
                 const std::string& y2) {
    std::string s = Pairs({{0, "LINE"}});
    if (!layer.empty()) s += Pairs({{8, layer}});
    return s + Pairs({{10, x1}, {20, y1}, {11, x2}, {21, y2}});
}

// The target group and everything in it, freed at the end of the test.
// Made from a text, it holds that text imported as a file of that name.
struct Imported {
    Imported() = default;
    explicit Imported(const std::string& text, bool inch = false, const char* name = "drawing.dxf");
    ~Imported() { group->FreeShapePtr(); }
    std::vector<CBaseShape*>& Children() { return group->GetChildren(); }
    std::unique_ptr<CGroupShape> group = std::make_unique<CGroupShape>();
};

void Import(Imported& into, const std::string& text, bool inch = false, const char* name = "drawing.dxf") {
    TempFile file(text, name);
    std::string path = file.Path();
    CDrawDxfEntity builder;
    builder.InitPara(path.data(), into.group.get(), inch, true);
}

Imported::Imported(const std::string& text, bool inch, const char* name) { Import(*this, text, inch, name); }

template <class T>
T* As(CBaseShape* s) {
    auto* t = dynamic_cast<T*>(s);
    EXPECT_NE(t, nullptr);
    return t;
}

void ExpectPoint(const tagPOINTF& p, double x, double y, double tol = 1e-3) {
    EXPECT_NEAR(p.x, x, tol) << "x";
    EXPECT_NEAR(p.y, y, tol) << "y";
}

Gdiplus::RectF RectOf(CBaseShape* shape) { return testsupport::RectOf(*shape); }

double Dist(const tagPOINTF& p, double x, double y) { return std::hypot(p.x - x, p.y - y); }

// Pairs as CAD programs write them: codes right-aligned in three columns,
// CR LF line ends.
std::string Acad(std::initializer_list<std::pair<int, std::string>> pairs) {
    std::string s;
    char code[16];
    for (const auto& [c, value] : pairs) {
        std::snprintf(code, sizeof code, "%3d\r\n", c);
        s += code + value + "\r\n";
    }
    return s;
}

std::string AcadDrawing(const std::string& entities, const std::string& blocks = "") {
    std::string s;
    if (!blocks.empty()) s += Acad({{0, "SECTION"}, {2, "BLOCKS"}}) + blocks + Acad({{0, "ENDSEC"}});
    return s + Acad({{0, "SECTION"}, {2, "ENTITIES"}}) + entities + Acad({{0, "ENDSEC"}, {0, "EOF"}});
}

std::string AcadBlock(const std::string& name, const std::string& entities) {
    return Acad({{0, "BLOCK"}, {8, "0"}, {2, name}, {70, "0"}, {10, "0.0"}, {20, "0.0"}, {30, "0.0"}, {3, name}}) +
           entities + Acad({{0, "ENDBLK"}, {8, "0"}});
}

// Extrusion towards -z: the entity is drawn from below.
const std::initializer_list<std::pair<int, std::string>> kFromBelow = {{210, "0.0"}, {220, "0.0"}, {230, "-1.0"}};

std::string WithFromBelow(std::initializer_list<std::pair<int, std::string>> pairs) {
    return Acad(pairs) + Acad(kFromBelow);
}

// The bounds of everything imported, as min x, min y, max x, max y.
void ExpectBounds(CBaseShape* shape, double x0, double y0, double x1, double y1, double tol = 1e-2) {
    const Gdiplus::RectF r = RectOf(shape);
    EXPECT_NEAR(r.X, x0, tol) << "min x";
    EXPECT_NEAR(r.Y - r.Height, y0, tol) << "min y";
    EXPECT_NEAR(r.X + r.Width, x1, tol) << "max x";
    EXPECT_NEAR(r.Y, y1, tol) << "max y";
}

// Every case runs with a recording host: imports may ask or warn.
class DxfBuilder : public ::testing::Test {
protected:
    HostScope host;
};

}  // namespace

TEST_F(DxfBuilder, EntityKindsBecomeShapesOnASingleLayer) {
    const std::string entities =
        Line("L1", "1", "2", "3", "4") +
        Pairs({{0, "CIRCLE"}, {8, "L1"}, {10, "10"}, {20, "10"}, {40, "5"}}) +
        Pairs({{0, "ARC"}, {8, "L1"}, {10, "0"}, {20, "0"}, {40, "2"}, {50, "0"}, {51, "90"}}) +
        // Half circle from (0,0) to (10,0) bulging downwards, then a straight edge.
        Pairs({{0, "LWPOLYLINE"}, {8, "L1"}, {90, "3"}, {70, "0"}, {10, "0"}, {20, "0"}, {42, "1"}, {10, "10"},
               {20, "0"}, {10, "10"}, {20, "5"}}) +
        Pairs({{0, "ELLIPSE"}, {8, "L1"}, {10, "10"}, {20, "5"}, {11, "4"}, {21, "0"}, {40, "0.5"}, {41, "0"},
               {42, "6.283185307"}}) +
        Pairs({{0, "POINT"}, {8, "L1"}, {10, "-7"}, {20, "8"}});
    Imported out(Drawing(entities), false, "single.dxf");

    // One layer: its shapes go straight into the target, which carries the
    // file's name.
    EXPECT_EQ(std::wstring(out.group->GetCaption().GetString()), L"single.dxf");
    EXPECT_EQ(out.group->GetPenIndex(), 0);
    ASSERT_EQ(out.Children().size(), 6u);

    auto* line = As<CPolyLine>(out.Children()[0]);
    ASSERT_EQ(line->arrPoint.size(), 2u);
    ExpectPoint(line->arrPoint[0], 1, 2);
    ExpectPoint(line->arrPoint[1], 3, 4);

    // Kinds are built line, arc (the reader lists circles as full-turn arcs,
    // in file order), ellipse, point, polyline.
    auto* circle = As<CCircle>(out.Children()[1]);
    ASSERT_FALSE(circle->arcPoints.empty());
    for (const auto& p : circle->arcPoints) EXPECT_GE(Dist(p, 10, 10), 5.0 - 1e-3);
    const Gdiplus::RectF cr = RectOf(circle);
    EXPECT_NEAR(cr.Width, 10.0, 1e-2);
    EXPECT_NEAR(cr.X, 5.0, 1e-2);

    auto* arc = As<CCircle>(out.Children()[2]);
    ASSERT_FALSE(arc->arcPoints.empty());
    ExpectPoint(arc->arcPoints.front(), 2, 0);
    ExpectPoint(arc->arcPoints.back(), 0, 2);

    // The polyline: the half circle of radius 5 about (5,0) passes (5,-5);
    // the last segment is the straight edge up to (10,5).
    auto* curve = As<CBezierCurve>(out.Children()[5]);
    ASSERT_GE(curve->arrSegment.size(), 3u);
    ExpectPoint(curve->arrSegment.front().p1, 0, 0);
    const auto& edge = curve->arrSegment.back();
    EXPECT_EQ(edge.LineType, 1);
    ExpectPoint(edge.p1, 10, 0);
    ExpectPoint(edge.p4, 10, 5);
    double lowest = 0.0;
    for (size_t i = 0; i + 1 < curve->arrSegment.size(); ++i) {
        const auto& s = curve->arrSegment[i];
        EXPECT_NEAR(Dist(s.p1, 5, 0), 5.0, 1e-3);
        EXPECT_NEAR(Dist(s.p4, 5, 0), 5.0, 1e-3);
        lowest = std::min<double>(lowest, s.p4.y);
    }
    EXPECT_NEAR(lowest, -5.0, 1e-3);
    ExpectPoint(curve->arrSegment[curve->arrSegment.size() - 2].p4, 10, 0);

    auto* ellipse = As<CEllipseArc>(out.Children()[3]);
    ASSERT_NE(ellipse, nullptr);
    const Gdiplus::RectF er = RectOf(ellipse);
    EXPECT_NEAR(er.X, 6.0, 1e-2);
    EXPECT_NEAR(er.Width, 8.0, 1e-2);
    EXPECT_NEAR(er.Height, 4.0, 1e-2);

    As<CPoints>(out.Children()[4]);
}

TEST_F(DxfBuilder, InchDrawingsAreScaledToMillimetres) {
    const std::string entities = Line("L", "1", "1", "2", "2") +
                                 Pairs({{0, "CIRCLE"}, {8, "L"}, {10, "1"}, {20, "0"}, {40, "0.5"}}) +
                                 Pairs({{0, "LWPOLYLINE"}, {8, "L"}, {90, "2"}, {10, "0"}, {20, "0"}, {10, "1"},
                                        {20, "0"}});
    Imported out(Drawing(entities), true);
    ASSERT_EQ(out.Children().size(), 3u);
    auto* line = As<CPolyLine>(out.Children()[0]);
    ExpectPoint(line->arrPoint[0], 25.4, 25.4);
    ExpectPoint(line->arrPoint[1], 50.8, 50.8);
    const Gdiplus::RectF cr = RectOf(out.Children()[1]);
    EXPECT_NEAR(cr.Width, 25.4, 1e-2);
    EXPECT_NEAR(cr.X, 12.7, 1e-2);
    auto* curve = As<CBezierCurve>(out.Children()[2]);
    ASSERT_EQ(curve->arrSegment.size(), 1u);
    ExpectPoint(curve->arrSegment[0].p4, 25.4, 0);
}

TEST_F(DxfBuilder, LayersBecomePenNumberedGroups) {
    const std::string entities = Line("B", "0", "0", "1", "0") + Line("", "5", "5", "6", "6") +
                                 Line("0", "0", "1", "1", "1") + Line("A", "0", "2", "1", "2") +
                                 Line("B", "0", "3", "1", "3");
    Imported out(Drawing(entities));
    // The shape without a layer comes first, then the layers by name.
    ASSERT_EQ(out.Children().size(), 4u);
    auto* loose = As<CPolyLine>(out.Children()[0]);
    ExpectPoint(loose->arrPoint[0], 5, 5);

    const wchar_t* names[] = {L"Group0", L"GroupA", L"GroupB"};
    const size_t sizes[] = {1, 1, 2};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        auto* group = As<CGroupShape>(out.Children()[i + 1]);
        EXPECT_EQ(std::wstring(group->GetCaption().GetString()), names[i]);
        EXPECT_EQ(group->GetPenIndex(), i);
        ASSERT_EQ(group->GetChildren().size(), sizes[i]);
        for (CBaseShape* child : group->GetChildren()) EXPECT_EQ(child->GetPenIndex(), i);
    }
    // Within a layer, file order is kept.
    auto* b = As<CGroupShape>(out.Children()[3]);
    ExpectPoint(As<CPolyLine>(b->GetChildren()[0])->arrPoint[0], 0, 0);
    ExpectPoint(As<CPolyLine>(b->GetChildren()[1])->arrPoint[0], 0, 3);
    EXPECT_EQ(std::wstring(out.group->GetCaption().GetString()), L"drawing.dxf");
}

TEST_F(DxfBuilder, LayerZeroKeepsPenZeroAfterOtherNames) {
    // "0" sorts after "-" so it is not first, yet keeps pen 0.
    Imported out(Drawing(Line("-", "0", "0", "1", "0") + Line("0", "0", "1", "1", "1")));
    ASSERT_EQ(out.Children().size(), 2u);
    EXPECT_EQ(out.Children()[0]->GetPenIndex(), 0);
    EXPECT_EQ(out.Children()[1]->GetPenIndex(), 0);
}

TEST_F(DxfBuilder, BlockInsertScalesThenRotatesEachEntity) {
    const std::string blocks = Pairs({{0, "BLOCK"}, {8, "0"}, {2, "B"}, {70, "0"}, {10, "1"}, {20, "1"}}) +
                               Line("K", "1", "1", "2", "1") +
                               Pairs({{0, "CIRCLE"}, {8, "K"}, {10, "2"}, {20, "1"}, {40, "0.5"}}) +
                               Pairs({{0, "ENDBLK"}});
    const std::string entities =
        Pairs({{0, "INSERT"}, {8, "K"}, {2, "B"}, {10, "10"}, {20, "20"}, {41, "2"}, {42, "2"}, {50, "90"}}) +
        Pairs({{0, "INSERT"}, {8, "K"}, {2, "B"}, {10, "0"}, {20, "0"}});
    Imported out(Drawing(entities, blocks));
    // Two placements of a line and a circle, all on layer K.
    ASSERT_EQ(out.Children().size(), 4u);
    auto* first = As<CPolyLine>(out.Children()[0]);
    ExpectPoint(first->arrPoint[0], 10, 20);
    ExpectPoint(first->arrPoint[1], 10, 22);  // (1,0) doubled, then turned a quarter
    auto* second = As<CPolyLine>(out.Children()[1]);
    ExpectPoint(second->arrPoint[0], 0, 0);
    ExpectPoint(second->arrPoint[1], 1, 0);
    // Circle of radius 0.5 at (1,0) from the base: doubled to radius 1 at
    // (12,20), turned to (10,22).
    const Gdiplus::RectF r = RectOf(out.Children()[2]);
    EXPECT_NEAR(r.X + r.Width / 2, 10.0, 1e-2);
    EXPECT_NEAR(r.Width, 2.0, 1e-2);
    const Gdiplus::RectF r2 = RectOf(out.Children()[3]);
    EXPECT_NEAR(r2.X + r2.Width / 2, 1.0, 1e-2);
    EXPECT_NEAR(r2.Width, 1.0, 1e-2);
}

TEST_F(DxfBuilder, PolylineSegmentsAndDegenerateRecords) {
    const std::string entities =
        Pairs({{0, "LWPOLYLINE"}, {8, "P"}, {90, "3"}, {70, "1"}, {10, "0"}, {20, "0"}, {10, "4"}, {20, "0"},
               {10, "4"}, {20, "3"}}) +
        Pairs({{0, "LWPOLYLINE"}, {8, "P"}, {90, "1"}, {70, "0"}, {10, "1"}, {20, "1"}}) +
        // A bulge on a segment of no length describes no arc.
        Pairs({{0, "LWPOLYLINE"}, {8, "P"}, {90, "2"}, {70, "0"}, {10, "2"}, {20, "2"}, {42, "1"}, {10, "2"},
               {20, "2"}});
    Imported out(Drawing(entities));
    ASSERT_EQ(out.Children().size(), 2u);
    auto* triangle = As<CBezierCurve>(out.Children()[0]);
    ASSERT_EQ(triangle->arrSegment.size(), 3u);
    ExpectPoint(triangle->arrSegment[2].p1, 4, 3);
    ExpectPoint(triangle->arrSegment[2].p4, 0, 0);
    auto* dot = As<CBezierCurve>(out.Children()[1]);
    ASSERT_EQ(dot->arrSegment.size(), 1u);
    for (const tagPOINTF& p : {dot->arrSegment[0].p1, dot->arrSegment[0].p2, dot->arrSegment[0].p4}) {
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
        ExpectPoint(p, 2, 2);
    }
}

TEST_F(DxfBuilder, ABulgeWithoutACircleLeavesTheChordNotTheArcBefore) {
    // A half circle over (0,0)-(10,0), then a bulge so large that its centre
    // is not a number: that span is its chord, not the half circle again.
    const std::string entities = Pairs({{0, "LWPOLYLINE"}, {8, "P"}, {90, "3"}, {70, "0"}, {10, "0"}, {20, "0"},
                                        {42, "1"}, {10, "10"}, {20, "0"}, {42, "1e300"}, {10, "20"}, {20, "0"}});
    Imported out(Drawing(entities));
    ASSERT_EQ(out.Children().size(), 1u);
    auto* curve = As<CBezierCurve>(out.Children()[0]);
    ASSERT_GE(curve->arrSegment.size(), 2u);
    for (size_t i = 0; i + 1 < curve->arrSegment.size(); ++i) {
        for (const tagPOINTF& p : {curve->arrSegment[i].p1, curve->arrSegment[i].p4}) {
            EXPECT_NEAR(std::hypot(p.x - 5.0, p.y), 5.0, 1e-3);
        }
    }
    const BEZIER_4POINTF_DRAW& last = curve->arrSegment.back();
    ExpectPoint(last.p1, 10, 0);
    ExpectPoint(last.p4, 20, 0);
    EXPECT_EQ(last.LineType, 1);
}

TEST_F(DxfBuilder, BulgeGivesTheArcThroughTheSagitta) {
    CDrawDxfEntity builder;
    CCircle half;
    builder.ExecuteLwPolyLine({0, 0}, {10, 0}, 1.0, &half);
    ExpectPoint(half.ptCenter, 5, 0);
    EXPECT_NEAR(half.Radius, 5.0, 1e-4);
    EXPECT_NEAR(half.startDeg, 180.0, 1e-4);
    EXPECT_NEAR(half.endDeg, 0.0, 1e-4);
    EXPECT_NE(half.arcPath, 0);

    // Clockwise arc whose middle lies a quarter chord above the chord.
    CCircle cw;
    builder.ExecuteLwPolyLine({0, 0}, {10, 0}, -0.5, &cw);
    EXPECT_EQ(cw.arcPath, 0);
    ExpectPoint(cw.ptCenter, 5, -3.75);
    EXPECT_NEAR(cw.Radius, 6.25, 1e-4);
    double highest = -1e9;
    for (const auto& p : cw.arcPoints) highest = std::max<double>(highest, p.y);
    EXPECT_NEAR(highest, 2.5, 0.05);
    ExpectPoint(cw.arcPoints.front(), 0, 0);
}

TEST_F(DxfBuilder, ChunksSplitLargeListsWithTheRestInTheLast) {
    // 1001 records: seven chunks of 125, the last one 126, nothing skipped.
    int next = 0;
    for (int k = 0; k < CDrawDxfEntity::kChunks; ++k) {
        int first = 0, last = 0;
        CDrawDxfEntity::ChunkRange(1001, k, first, last);
        EXPECT_EQ(first, next);
        EXPECT_EQ(last - first, k == 7 ? 126 : 125);
        next = last;
    }
    EXPECT_EQ(next, 1001);
}

// The same kinds, layers and rectangles in the same order, groups compared
// member by member.
void ExpectSameShapes(std::vector<CBaseShape*>& a, std::vector<CBaseShape*>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(typeid(*a[i]), typeid(*b[i]));
        const Gdiplus::RectF ra = RectOf(a[i]), rb = RectOf(b[i]);
        EXPECT_EQ(ra.X, rb.X);
        EXPECT_EQ(ra.Y, rb.Y);
        EXPECT_EQ(ra.Width, rb.Width);
        auto* ga = dynamic_cast<CGroupShape*>(a[i]);
        if (ga) ExpectSameShapes(ga->GetChildren(), dynamic_cast<CGroupShape*>(b[i])->GetChildren());
    }
}

// The entities imported once from a file padded past the large-file size
// (built on threads) and once from a small file.
void ImportLargeAndSmall(Imported& large, Imported& small, const std::string& entities) {
    std::string padding;
    const std::string comment = "999\n" + std::string(200, 'x') + "\n";
    while (padding.size() < static_cast<size_t>(DXF_LARGE_FILE_BYTES)) padding += comment;
    Import(large, padding + Drawing(entities));
    Import(small, Drawing(entities));
}

TEST_F(DxfBuilder, LargeDrawingsAreBuiltOnThreadsInFileOrder) {
    // Lines on one layer and lines and circles without one, each kind split
    // over chunk threads; a few lines on another layer and a few polylines
    // built on their kind's thread.
    std::string entities;
    for (int i = 0; i < 1001; ++i) entities += Line("A", "0", std::to_string(i), "1", std::to_string(i));
    for (int i = 0; i < 3; ++i) entities += Line("B", "5", std::to_string(i), "6", std::to_string(i));
    for (int i = 0; i < 1200; ++i) {
        entities += Line("", "9", std::to_string(i), "8", "8");
        entities += Pairs({{0, "CIRCLE"}, {10, std::to_string(i)}, {20, "0"}, {40, "1"}});
        if (i % 100 == 0)
            entities += Pairs({{0, "LWPOLYLINE"}, {10, std::to_string(i)}, {20, "0"}, {10, "0"}, {20, "5"}});
    }
    Imported large, small;
    ImportLargeAndSmall(large, small, entities);
    ASSERT_EQ(large.Children().size(), 2u + 2400u + 12u);
    auto* a = As<CGroupShape>(large.Children()[2412]);
    ASSERT_EQ(a->GetChildren().size(), 1001u);
    for (int i = 0; i < 1001; ++i) ExpectPoint(As<CPolyLine>(a->GetChildren()[i])->arrPoint[0], 0, i);
    // Loose shapes first, by kind (lines, circles, polylines), each in file
    // order; then the layers: exactly as one thread builds them.
    ExpectPoint(As<CPolyLine>(large.Children()[1199])->arrPoint[0], 9, 1199);
    ExpectSameShapes(large.Children(), small.Children());
}

// Lines and polylines are both polylines, built on two threads that take
// running numbers from one counter: the same file still gives the same
// captions every time.
TEST_F(DxfBuilder, LargeDrawingsGetTheSameCaptionsEveryTime) {
    std::string entities;
    for (int i = 0; i < 1500; ++i) {
        entities += Line("", "0", std::to_string(i), "1", std::to_string(i));
        entities += Pairs({{0, "LWPOLYLINE"}, {10, std::to_string(i)}, {20, "0"}, {42, "0.5"}, {10, "0"}, {20, "5"}});
    }
    std::vector<std::vector<std::wstring>> runs;
    for (int run = 0; run < 3; ++run) {
        for (int k = 0; k <= SHAPE_DOCPARAM; ++k) ShapeCounterOf(static_cast<CAD_SHAPE_TYPE>(k)).Reset();
        Imported large, small;
        ImportLargeAndSmall(large, small, entities);
        std::vector<std::wstring>& captions = runs.emplace_back();
        for (CBaseShape* s : ShapesWithMembers(large.Children())) captions.emplace_back(s->GetCaption().GetString());
        std::set<std::wstring> distinct(captions.begin(), captions.end());
        EXPECT_EQ(distinct.size(), captions.size());
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(runs[0], runs[2]);
}

TEST_F(DxfBuilder, ImportEntryReturnsTheGroup) {
    {
        TempFile file(Drawing(Line("", "1", "2", "3", "4")), "PART.DXF");
        const std::wstring path(file.Path().begin(), file.Path().end());
        CBaseShape* shape = nullptr;
        ASSERT_TRUE(LoadVectorFileCore(path.c_str(), &shape, false));
        std::unique_ptr<CGroupShape> group(As<CGroupShape>(shape));
        ASSERT_EQ(group->GetChildren().size(), 1u);
        ExpectPoint(As<CPolyLine>(group->GetChildren()[0])->arrPoint[1], 3, 4);
        EXPECT_EQ(std::wstring(group->GetCaption().GetString()), L"PART.DXF");
        group->FreeShapePtr();
    }
    // A file the reader refuses, or none at all, fails; the empty group is
    // still handed over.
    TempFile bad("x", "bad.dxf");
    const std::wstring badPath(bad.Path().begin(), bad.Path().end());
    for (const std::wstring& path : {badPath, std::wstring(L"/nonexistent-dir/none.dxf")}) {
        CBaseShape* shape = nullptr;
        EXPECT_FALSE(LoadVectorFileCore(path.c_str(), &shape, true));
        ASSERT_NE(shape, nullptr);
        std::unique_ptr<CGroupShape> group(As<CGroupShape>(shape));
        EXPECT_TRUE(group->GetChildren().empty());
    }
}

TEST_F(DxfBuilder, EntitiesDrawnFromBelowAreMirroredInX) {
    const std::string block = AcadBlock("B", Acad({{0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "4"}, {21, "0"}}));
    const struct {
        const char* what;
        std::string entity;
        double x0, y0, x1, y1;
    } cases[] = {
        {"circle", WithFromBelow({{0, "CIRCLE"}, {8, "0"}, {10, "10"}, {20, "5"}, {30, "0"}, {40, "2"}}), -12, 3, -8, 7},
        // From (15,0) a quarter turn to (10,5), seen from below.
        {"arc", Acad({{0, "ARC"}, {8, "0"}, {10, "10"}, {20, "0"}, {40, "5"}}) + Acad(kFromBelow) +
                    Acad({{100, "AcDbArc"}, {50, "0"}, {51, "90"}}),
         -15, 0, -10, 5},
        // A half turn below the chord from (0,0) to (10,0); the extrusion
        // comes after the vertices.
        {"lwpolyline", WithFromBelow({{0, "LWPOLYLINE"}, {8, "0"}, {90, "2"}, {70, "0"}, {10, "0"}, {20, "0"},
                                      {42, "1"}, {10, "10"}, {20, "0"}}),
         -10, -5, 0, 0},
        {"polyline", WithFromBelow({{0, "POLYLINE"}, {8, "0"}, {66, "1"}, {70, "0"}}) +
                         Acad({{0, "VERTEX"}, {8, "0"}, {10, "1"}, {20, "1"}, {0, "VERTEX"}, {8, "0"}, {10, "3"},
                               {20, "2"}, {0, "SEQEND"}}),
         -3, 1, -1, 2},
        {"solid", WithFromBelow({{0, "SOLID"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "2"}, {21, "0"}, {12, "0"},
                                 {22, "1"}, {13, "2"}, {23, "1"}}),
         -2, 0, 0, 1},
        // Centre and axis are drawing coordinates; the quarter from the axis
        // end turns clockwise, to (0,-2).
        {"ellipse", WithFromBelow({{0, "ELLIPSE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "4"}, {21, "0"}, {40, "0.5"},
                                   {41, "0"}, {42, "1.5707963268"}}),
         0, -2, 4, 0},
        // The block's line turned 30 degrees at (10,0), seen from below.
        {"insert", WithFromBelow({{0, "INSERT"}, {8, "0"}, {2, "B"}, {10, "10"}, {20, "0"}, {50, "30"}}),
         -10 - 4 * std::cos(M_PI / 6), 0, -10, 2},
        // Lines are drawing coordinates whatever their extrusion.
        {"line", WithFromBelow({{0, "LINE"}, {8, "0"}, {10, "1"}, {20, "1"}, {11, "2"}, {21, "2"}}), 1, 1, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Imported out(AcadDrawing(c.entity, block));
        ASSERT_EQ(out.Children().size(), 1u);
        ExpectBounds(out.Children()[0], c.x0, c.y0, c.x1, c.y1);
    }
}

TEST_F(DxfBuilder, NestedInsertPlacementsCompose) {
    const std::string line = Acad({{0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "4"}, {21, "0"}});
    const std::string blocks =
        AcadBlock("IN", line) +
        AcadBlock("MID", Acad({{0, "INSERT"}, {8, "0"}, {2, "IN"}, {10, "10"}, {20, "0"}, {41, "0.5"}, {42, "0.5"},
                               {50, "90"}})) +
        AcadBlock("SKEW", Acad({{0, "INSERT"}, {8, "0"}, {2, "IN"}, {10, "0"}, {20, "0"}, {50, "45"}}));
    {
        // Halved and turned in MID: (10,0)-(10,2); doubled and turned at
        // (100,0): (100,20)-(96,20).
        Imported out(AcadDrawing(Acad({{0, "INSERT"}, {8, "0"}, {2, "MID"}, {10, "100"}, {20, "0"}, {41, "2"},
                                      {42, "2"}, {50, "90"}}),
                                blocks));
        ASSERT_EQ(out.Children().size(), 1u);
        auto* placed = As<CPolyLine>(out.Children()[0]);
        ExpectPoint(placed->arrPoint[0], 100, 20);
        ExpectPoint(placed->arrPoint[1], 96, 20);
    }
    {
        // Turned 45 degrees inside, stretched in x outside: the end (4,0)
        // goes to (2.83,2.83), then (5.66,2.83), then up to the insertion.
        Imported out(AcadDrawing(Acad({{0, "INSERT"}, {8, "0"}, {2, "SKEW"}, {10, "100"}, {20, "0"}, {41, "2"},
                                      {42, "1"}}),
                                blocks));
        ASSERT_EQ(out.Children().size(), 1u);
        auto* placed = As<CPolyLine>(out.Children()[0]);
        ExpectPoint(placed->arrPoint[0], 100, 0);
        ExpectPoint(placed->arrPoint[1], 100 + 4 * std::sqrt(2.0), 2 * std::sqrt(2.0));
    }
}

TEST_F(DxfBuilder, EveryInsertIsPlaced) {
    std::string entities;
    for (int i = 0; i < 3000; ++i)
        entities += Acad({{0, "INSERT"}, {8, "0"}, {2, "B"}, {10, std::to_string(i)}, {20, "0"}});
    TempFile file(AcadDrawing(entities, AcadBlock("B", Acad({{0, "LINE"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "0"},
                                                           {21, "1"}}))),
                 "many.dxf");
    const std::wstring path(file.Path().begin(), file.Path().end());
    CBaseShape* shape = nullptr;
    ASSERT_TRUE(LoadVectorFileCore(path.c_str(), &shape, false));
    std::unique_ptr<CGroupShape> group(As<CGroupShape>(shape));
    EXPECT_EQ(group->GetChildren().size(), 3000u);
    ExpectBounds(group.get(), 0, 0, 2999, 1);
    group->FreeShapePtr();
}

TEST_F(DxfBuilder, SplinesThroughFitPoints) {
    const struct {
        const char* what;
        std::string entity;
        double x0, y0, x1, y1;
    } cases[] = {
        // Points on a line stay on it, however unevenly spaced.
        {"collinear", Acad({{0, "SPLINE"}, {8, "0"}, {70, "8"}, {71, "3"}, {72, "0"}, {73, "0"}, {74, "3"},
                            {11, "0"}, {21, "0"}, {11, "1"}, {21, "0"}, {11, "5"}, {21, "0"}}),
         0, 0, 5, 0},
        // Leaving upwards and arriving downwards: the cubic 10 (u - u^2)
        // over x = 10 (3u^2 - 2u^3) peaks at 2.5.
        {"tangents", Acad({{0, "SPLINE"}, {8, "0"}, {70, "8"}, {71, "3"}, {74, "2"}, {12, "0"}, {22, "1"}, {32, "0"},
                           {13, "0"}, {23, "-1"}, {33, "0"}, {11, "0"}, {21, "0"}, {11, "10"}, {21, "0"}}),
         0, 0, 10, 2.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Imported out(AcadDrawing(c.entity));
        ASSERT_EQ(out.Children().size(), 1u);
        ExpectBounds(out.Children()[0], c.x0, c.y0, c.x1, c.y1);
    }
    // Twelve points on a circle of radius 10, closed: the curve stays on the
    // circle and returns to its start.
    std::string circle = Acad({{0, "SPLINE"}, {8, "0"}, {70, "11"}, {71, "3"}, {74, "12"}});
    for (int k = 0; k < 12; ++k) {
        circle += Acad({{11, std::to_string(10 * std::cos(k * M_PI / 6))},
                        {21, std::to_string(10 * std::sin(k * M_PI / 6))}});
    }
    Imported out(AcadDrawing(circle));
    ASSERT_EQ(out.Children().size(), 1u);
    auto* curve = As<CBezierCurve>(out.Children()[0]);
    ASSERT_GT(curve->arrSegment.size(), 12u);
    for (const auto& seg : curve->arrSegment) EXPECT_NEAR(Dist(seg.p1, 0, 0), 10.0, 0.02);
    ExpectPoint(curve->arrSegment.back().p4, 10, 0);
    ExpectBounds(curve, -10, -10, 10, 10, 0.03);
}

TEST_F(DxfBuilder, PolyfaceMeshGivesTheEdgesOfItsFaces) {
    // Four corners of a square and two triangles sharing the diagonal.
    std::string mesh = Acad({{0, "POLYLINE"}, {8, "0"}, {66, "1"}, {10, "0"}, {20, "0"}, {30, "0"}, {70, "64"},
                             {71, "4"}, {72, "2"}});
    for (const auto& [x, y] : {std::pair{"1", "1"}, {"11", "1"}, {"11", "11"}, {"1", "11"}})
        mesh += Acad({{0, "VERTEX"}, {8, "0"}, {10, x}, {20, y}, {30, "0"}, {70, "192"}});
    mesh += Acad({{0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "0"}, {30, "0"}, {70, "128"}, {71, "1"}, {72, "2"},
                  {73, "3"}}) +
            Acad({{0, "VERTEX"}, {8, "0"}, {10, "0"}, {20, "0"}, {30, "0"}, {70, "128"}, {71, "1"}, {72, "3"},
                  {73, "4"}}) +
            Acad({{0, "SEQEND"}, {8, "0"}});
    Imported out(AcadDrawing(mesh));
    // The first triangle whole; of the second, the two edges not shared.
    ASSERT_EQ(out.Children().size(), 2u);
    ExpectBounds(out.group.get(), 1, 1, 11, 11);
    EXPECT_EQ(As<CBezierCurve>(out.Children()[0])->arrSegment.size(), 3u);
    auto* rest = As<CBezierCurve>(out.Children()[1]);
    ASSERT_EQ(rest->arrSegment.size(), 2u);
    ExpectPoint(rest->arrSegment[0].p1, 11, 11);
    ExpectPoint(rest->arrSegment[1].p4, 1, 1);
}

// ---- texts ---------------------------------------------------------------------------------

namespace {

// FreeType's exact bounds of a glyph of DejaVu Sans, in units of its capital
// height (the height a DXF text gives).
struct Glyph {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};

Glyph SansGlyph(wchar_t c) {
    Glyph g;
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&lib) != 0) return g;
    if (FT_New_Face(lib, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &face) == 0) {
        FT_BBox cap{}, b{};
        if (FT_Load_Char(face, 'H', FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) == 0)
            FT_Outline_Get_BBox(&face->glyph->outline, &cap);
        if (FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) == 0)
            FT_Outline_Get_BBox(&face->glyph->outline, &b);
        const double unit = cap.yMax;
        if (unit > 0) g = {b.xMin / unit, b.xMax / unit, b.yMin / unit, b.yMax / unit};
        FT_Done_Face(face);
    }
    FT_Done_FreeType(lib);
    return g;
}

// A whole file as AutoCAD writes it: header, a style table, blocks, entities.
std::string AcadFile(const std::string& entities, const std::string& blocks = "") {
    const std::string head =
        Acad({{0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1015"}, {9, "$TEXTSTYLE"}, {7, "ROMANS"},
              {0, "ENDSEC"}, {0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "STYLE"}, {5, "3"}, {100, "AcDbSymbolTable"},
              {70, "     2"}, {0, "STYLE"}, {5, "11"}, {100, "AcDbSymbolTableRecord"}, {100, "AcDbTextStyleTableRecord"},
              {2, "Standard"}, {70, "     0"}, {40, "0.0"}, {41, "1.0"}, {50, "0.0"}, {71, "     0"}, {42, "2.5"},
              {3, "txt"}, {4, ""}, {0, "STYLE"}, {5, "12"}, {100, "AcDbSymbolTableRecord"},
              {100, "AcDbTextStyleTableRecord"}, {2, "ROMANS"}, {70, "     0"}, {40, "0.0"}, {41, "0.8"}, {50, "0.0"},
              {71, "     0"}, {42, "2.5"}, {3, "romans.shx"}, {4, ""}, {0, "ENDTAB"}, {0, "ENDSEC"}});
    return head + AcadDrawing(entities, blocks);
}

// A TEXT as AutoCAD writes it: its own groups, then the second subclass
// marker and the groups after it.
std::string AcadText(std::initializer_list<std::pair<int, std::string>> pairs,
                     std::initializer_list<std::pair<int, std::string>> after = {}) {
    return Acad({{0, "TEXT"}, {5, "2F"}, {330, "1F"}, {100, "AcDbEntity"}, {8, "0"}, {100, "AcDbText"}}) +
           Acad(pairs) + Acad({{100, "AcDbText"}}) + Acad(after);
}

CFonts* OnlyText(Imported& out) {
    EXPECT_EQ(out.Children().size(), 1u);
    return out.Children().empty() ? nullptr : dynamic_cast<CFonts*>(out.Children()[0]);
}

Gdiplus::RectF ImportText(const std::string& file) {
    Imported out(file);
    CFonts* text = OnlyText(out);
    return text != nullptr ? RectOf(text) : Gdiplus::RectF();
}

// Laid out again from its own parameters, a text keeps its size and place.
void ExpectSameAfterRelayout(CFonts* text) {
    const Gdiplus::RectF before = RectOf(text);
    TextContent tc(text);
    ASSERT_EQ(text->SetFonts(tc.text, tc.type, tc.face, tc.fonts, tc.codebar, tc.vartext, 1, 0, false), 1);
    ExpectBounds(text, before.X, before.Y - before.Height, before.X + before.Width, before.Y, 0.02);
}

}  // namespace

TEST_F(DxfBuilder, TextsStandOnTheirBaselineAtTheirHeight) {
    // The baseline starts at the insertion point; capitals stand the height
    // high, and the descender of "g" reaches as far below as the face says.
    Imported out(AcadFile(AcadText({{10, "10.0"}, {20, "20.0"}, {30, "0.0"}, {40, "2.5"}, {1, "Hxg"}, {7, "ROMANS"}})));
    CFonts* text = OnlyText(out);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text->GetText().GetString()), L"Hxg");
    const Glyph g = SansGlyph(L'g');
    ExpectBounds(text, 10, 20 + 2.5 * g.yMin, 10 + RectOf(text).Width, 22.5, 0.02);
    ExpectSameAfterRelayout(text);

    // Inches become millimetres, the height with them.
    {
        Imported inch(AcadFile(AcadText({{10, "1.0"}, {20, "2.0"}, {40, "0.5"}, {1, "HH"}})), true);
        ASSERT_EQ(inch.Children().size(), 1u);
        const Gdiplus::RectF r = RectOf(inch.Children()[0]);
        EXPECT_NEAR(r.Y, 2 * 25.4 + 0.5 * 25.4, 0.02);
        EXPECT_NEAR(r.X, 25.4, 0.02);
    }

    // The width factor narrows the text and keeps its height; the oblique
    // angle leans the capitals' tops right by height x tan(angle).
    const Gdiplus::RectF plain = ImportText(AcadFile(AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {1, "HH"}})));
    const Gdiplus::RectF narrow =
        ImportText(AcadFile(AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {41, "0.5"}, {1, "HH"}})));
    const Gdiplus::RectF leaning =
        ImportText(AcadFile(AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {51, "30.0"}, {1, "HH"}})));
    EXPECT_NEAR(narrow.Width, plain.Width / 2, 0.01);
    EXPECT_NEAR(narrow.Height, 2.5, 0.01);
    EXPECT_NEAR(leaning.Width, plain.Width + 2.5 * std::tan(M_PI / 6), 0.01);
    EXPECT_NEAR(leaning.X, 0.0, 0.01);
    Imported all(AcadFile(AcadText(
                    {{10, "3"}, {20, "4"}, {40, "2.5"}, {41, "0.7"}, {51, "15"}, {50, "30"}, {1, "Hxg"}})));
    ASSERT_EQ(all.Children().size(), 1u);
    ExpectSameAfterRelayout(dynamic_cast<CFonts*>(all.Children()[0]));

    // Blanks alone and zero heights give nothing to mark.
    Imported none(AcadFile(AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {1, "   "}}) +
                          AcadText({{10, "0"}, {20, "0"}, {40, "0"}, {1, "H"}})));
    EXPECT_TRUE(none.Children().empty());
}

TEST_F(DxfBuilder, JustifiedAndRotatedTexts) {
    const double tan45 = 2.5 * std::sqrt(0.5);
    const struct {
        const char* what;
        std::string entity;
        double x0, y0, x1, y1;  // -1e9: not checked
    } cases[] = {
        // Middle centre on the second point, turned a quarter: capitals from
        // x 48.75 to 51.25, the text centred on y 50.
        {"middle centre", AcadText({{10, "40.0"}, {20, "49.0"}, {40, "2.5"}, {1, "HIH"}, {50, "90"}, {72, "     1"},
                                    {11, "50.0"}, {21, "50.0"}},
                                   {{73, "     2"}}),
         48.75, -1e9, 51.25, -1e9},
        // Right on the baseline: the text ends at the second point.
        {"right", AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {1, "HH"}, {72, "     2"}, {11, "30.0"}, {21, "10.0"}}),
         -1e9, 10, 30, 12.5},
        // Top left: the capitals hang from the second point.
        {"top left", AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {1, "HH"}, {72, "     0"}, {11, "5.0"}, {21, "5.0"}},
                              {{73, "     3"}}),
         5, 2.5, -1e9, 5},
        // Aligned between two points: from 10 to 20 on y 0.
        {"aligned", AcadText({{10, "10"}, {20, "0"}, {40, "2.5"}, {1, "HH"}, {72, "     3"}, {11, "20"}, {21, "0"}}),
         10, 0, 20, -1e9},
        // Fit upwards along x 0: the baseline from (0,0) to (0,10), the
        // capitals 2.5 high to its left.
        {"fit", AcadText({{10, "0"}, {20, "0"}, {40, "2.5"}, {1, "HH"}, {72, "     5"}, {11, "0"}, {21, "10"}}), -2.5,
         0, 0, 10},
        // Left justified and turned about its insertion point even when the
        // file gives a second point at the origin.
        {"turned", AcadText({{10, "5"}, {20, "5"}, {40, "2.5"}, {1, "H"}, {50, "45"}, {11, "0"}, {21, "0"}}),
         5 - tan45, 5, -1e9, -1e9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Gdiplus::RectF r = ImportText(AcadFile(c.entity));
        auto near = [](double value, double want, const char* edge) {
            if (want > -1e8) {
                EXPECT_NEAR(value, want, 0.02) << edge;
            }
        };
        near(r.X, c.x0, "min x");
        near(r.Y - r.Height, c.y0, "min y");
        near(r.X + r.Width, c.x1, "max x");
        near(r.Y, c.y1, "max y");
        near(r.Y - r.Height / 2, std::string(c.what) == "middle centre" ? 50.0 : -1e9, "middle");
    }
}

TEST_F(DxfBuilder, MirroredBackwardAndPlacedTexts) {
    const Glyph h = SansGlyph(L'H');
    const double hWidth = 2.5 * (h.xMax - h.xMin);
    // Seen from below, a text at (10,5) lies at (-10,5) and reads right to
    // left: the "H" is next to its insertion point, the rest to its left.
    Imported below(AcadFile(AcadText({{10, "10"}, {20, "5"}, {40, "2.5"}, {1, "HL"}}) + Acad(kFromBelow)));
    CFonts* text = OnlyText(below);
    ASSERT_NE(text, nullptr);
    const Gdiplus::RectF r = RectOf(text);
    EXPECT_NEAR(r.X + r.Width, -10, 0.02);
    EXPECT_NEAR(r.Y - r.Height, 5, 0.02);
    EXPECT_NEAR(r.Y, 7.5, 0.02);
    ASSERT_EQ(text->GetChars().size(), 2u);
    double left = 0;
    for (const tagPOINTF& p : text->GetChars()[0]->points) left = std::min<double>(left, p.x);
    EXPECT_NEAR(left, -10 - hWidth, 0.02);
    ExpectSameAfterRelayout(text);

    // Backward (71 = 2) and upside down (71 = 4) turn over about the
    // insertion point in the text's own frame.
    const Gdiplus::RectF backward =
        ImportText(AcadFile(AcadText({{10, "10"}, {20, "5"}, {40, "2.5"}, {71, "     2"}, {1, "HL"}})));
    EXPECT_NEAR(backward.X + backward.Width, 10, 0.02);
    EXPECT_NEAR(backward.Width, r.Width, 0.02);
    const Gdiplus::RectF upsideDown =
        ImportText(AcadFile(AcadText({{10, "10"}, {20, "5"}, {40, "2.5"}, {71, "     4"}, {1, "HL"}})));
    EXPECT_NEAR(upsideDown.Y, 5, 0.02);
    EXPECT_NEAR(upsideDown.Y - upsideDown.Height, 2.5, 0.02);

    // In a block inserted at (100,0), doubled and turned a quarter: the
    // baseline starts at (100,2) and the capitals, 2 high, point to -x.
    const std::string block = AcadBlock("B", AcadText({{10, "1"}, {20, "0"}, {40, "1"}, {1, "HH"}}));
    const Gdiplus::RectF placed = ImportText(AcadFile(
        Acad({{0, "INSERT"}, {8, "0"}, {2, "B"}, {10, "100"}, {20, "0"}, {41, "2"}, {42, "2"}, {50, "90"}}), block));
    EXPECT_NEAR(placed.X, 98, 0.02);
    EXPECT_NEAR(placed.X + placed.Width, 100, 0.02);
    EXPECT_NEAR(placed.Y - placed.Height, 2, 0.02);
}

TEST_F(DxfBuilder, MultiLineTextsBreakAtParagraphsAndAttach) {
    // Top left at (0,100): two lines, each with capitals 5 high.
    Imported out(AcadFile(Acad({{0, "MTEXT"}, {8, "0"}, {100, "AcDbMText"}, {10, "0"}, {20, "100"}, {40, "5"},
                               {41, "0"}, {71, "     1"}, {72, "     1"}, {1, "\\fArial|b0|i0;HELLO\\PWORLD"}})));
    CFonts* text = OnlyText(out);
    ASSERT_NE(text, nullptr);
    const Gdiplus::RectF r = RectOf(text);
    EXPECT_NEAR(r.X, 0, 0.02);
    EXPECT_NEAR(r.Y, 100, 0.02);
    Gdiplus::RectF first, second;
    for (FONTSCHAR* ch : text->GetChars()) {
        if (ch->text == L"H") first = CBaseShape::CalculateRectangle(ch->points);
        if (ch->text == L"W") second = CBaseShape::CalculateRectangle(ch->points);
    }
    EXPECT_NEAR(first.Height, 5, 0.02);
    EXPECT_NEAR(second.Height, 5, 0.02);
    EXPECT_LT(second.Y, first.Y - first.Height);

    // Bottom right at (50,0), without a drawing direction: horizontal.
    const Gdiplus::RectF bottomRight = ImportText(AcadFile(
        Acad({{0, "MTEXT"}, {8, "0"}, {10, "50"}, {20, "0"}, {40, "2"}, {71, "     9"}, {1, "AB\\PCD"}})));
    EXPECT_NEAR(bottomRight.X + bottomRight.Width, 50, 0.02);
    EXPECT_NEAR(bottomRight.Y - bottomRight.Height, 0, 0.02);
    EXPECT_GT(bottomRight.Width, 2.5);
    const Gdiplus::RectF vertical = ImportText(
        AcadFile(Acad({{0, "MTEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "2"}, {72, "     3"}, {1, "HH"}})));
    EXPECT_GT(vertical.Height, 2 * 2.0);
    EXPECT_NEAR(vertical.Y, 0, 0.02);

    // A narrow reference width puts each word on a line of its own.
    const Gdiplus::RectF wrapped = ImportText(
        AcadFile(Acad({{0, "MTEXT"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "2"}, {41, "1"}, {1, "HI HI HI"}})));
    EXPECT_GT(wrapped.Height, 3 * 2.0);
    EXPECT_LT(wrapped.Width, 3.5);
}

TEST_F(DxfBuilder, LargeDrawingsBuildTextsOnThreads) {
    // Enough texts for the chunk threads, multi-line texts on their kind's
    // thread: the same shapes as one thread builds.
    std::string entities;
    for (int i = 0; i < 1001; ++i)
        entities += Pairs({{0, "TEXT"}, {8, i % 2 ? "A" : "B"}, {10, std::to_string(i)}, {20, "0"}, {40, "1"},
                           {1, "T" + std::to_string(i % 10)}});
    for (int i = 0; i < 3; ++i)
        entities += Pairs({{0, "MTEXT"}, {10, "0"}, {20, std::to_string(10 * i)}, {40, "2"}, {1, "M\\PN"}});
    Imported large, small;
    ImportLargeAndSmall(large, small, entities);
    ASSERT_EQ(large.Children().size(), 3u + 2u);
    ExpectSameShapes(large.Children(), small.Children());
}

TEST_F(DxfBuilder, LimitTextWidthBreaksAtBlanks) {
    CDrawDxfEntity builder;
    CString text(L"one two three");
    builder.LimitTextWidth(text, 1e6, 2.5, L"DejaVu Sans");
    EXPECT_EQ(std::wstring(text.GetString()), L"one two three ");
    // Every word wider than the line: one per line, no empty line first.
    text = L"one two\r\nthree";
    builder.LimitTextWidth(text, 0.5, 2.5, L"DejaVu Sans");
    EXPECT_EQ(std::wstring(text.GetString()), L"one \r\ntwo \r\nthree ");
    text = L"unchanged  text";
    builder.LimitTextWidth(text, 0.0, 2.5, L"DejaVu Sans");
    EXPECT_EQ(std::wstring(text.GetString()), L"unchanged  text");
}
