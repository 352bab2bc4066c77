// The fill shape: filling, transforms of the hatch, mark data, saving, and
// the caches of the containers above a changed shape.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cwchar>
#include <cfloat>
#include <cmath>
#include <functional>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>

#include "morvik/compose/combine.h"
#include "morvik/compose/filledshape.h"
#include "morvik/compose/overlay.h"
#include "compose_test_util.h"
#include "morvik/core/exportsink.h"
#include "morvik/core/shapelist.h"
#include "morvik/history/undo_records_param.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/rectangle.h"
#include "test_filler_util.h"

using namespace compose_test;
using filler_test::Figures;
using filler_test::Figure;

namespace {

using Poly2 = std::vector<tagPOINTF>;

using FillPtr = std::unique_ptr<CFilledShape, testsupport::FreeShape>;

Poly2 Box(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

Poly2 Circle(float cx, float cy, float r, int n = 72) {
    Poly2 out;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        out.push_back({static_cast<float>(cx + r * std::cos(a)), static_cast<float>(cy + r * std::sin(a))});
    }
    return out;
}

CPolyLine* Closed(const Poly2& pts) {
    CPolyLine* p = Poly(pts);
    p->ClosePloyLine();
    return p;
}

// A fill shape over closed outlines with one line set.
FillPtr MakeFill(const std::vector<Poly2>& outlines, int kind = 3, double spacing = 0.5, double angle = 0) {
    FillPtr fill(new CFilledShape());
    for (const Poly2& o : outlines) fill->GetChildren().push_back(Closed(o));
    FILLED_PARS par = testsupport::Hatch(spacing, angle, kind);
    par.fillParams[0].bArrangeEqually = 0;
    par.fillParams[0].nPenNum = 7;
    fill->FillShape(par);
    return fill;
}

using testsupport::InsideEvenOdd;

double DistToEdges(const std::vector<Poly2>& polys, double x, double y) {
    double best = 1e30;
    for (const Poly2& p : polys)
        for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
            const double ax = p[j].x, ay = p[j].y, bx = p[i].x, by = p[i].y;
            const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
            const double t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0) : 0.0;
            best = std::min(best, std::hypot(x - (ax + t * dx), y - (ay + t * dy)));
        }
    return best;
}

double Area(const Poly2& p) {
    double a = 0;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) a += (p[j].x * p[i].y - p[i].x * p[j].y);
    return std::fabs(a) / 2;
}

double HatchLength(const Gdiplus::GraphicsPath& path) {
    double len = 0;
    for (const Figure& f : Figures(path))
        for (size_t i = 1; i < f.size(); ++i) len += std::hypot(f[i].X - f[i - 1].X, f[i].Y - f[i - 1].Y);
    return len;
}

std::vector<std::pair<float, float>> Points(CFilledShape& f, int set = 0) {
    std::vector<std::pair<float, float>> out;
    for (const Gdiplus::PointF& p : f.GetFillPathOf(set)->PathPoints()) out.emplace_back(p.X, p.Y);
    return out;
}

class FillShapeTest : public filler_test::FillLogTest {};

// Outlines with holes, drawn as separate polylines: every hatch line stays in
// the even-odd region and the lines cover it.
TEST_F(FillShapeTest, HatchStaysInsideOutlinesWithHolesAndCoversThem) {
    const std::vector<std::pair<const char*, std::vector<Poly2>>> figures = {
        {"A", {{{0, 0}, {4, 0}, {6, 8}, {9, 0}, {13, 0}, {8, 20}, {5, 20}}, {{5.5f, 10}, {7.5f, 10}, {6.5f, 15}}}},
        {"B", {Box(0, 0, 12, 20), Box(3, 3, 8, 8), Box(3, 12, 8, 17)}},
        {"8", {Circle(6, 5, 5), Circle(6, 14, 4.5f), Circle(6, 5, 2), Circle(6, 14, 1.8f)}},
        {"ring", {Circle(0, 0, 10), Circle(0, 0, 6)}},
        {"star with a hole",
         {{{0, 10}, {2.4f, 3.2f}, {9.5f, 3.1f}, {3.8f, -1.2f}, {5.9f, -8.1f}, {0, -4}, {-5.9f, -8.1f}, {-3.8f, -1.2f},
           {-9.5f, 3.1f}, {-2.4f, 3.2f}},
          Box(-1.5f, -1.5f, 1.5f, 1.5f)}},
    };
    for (const auto& [name, polys] : figures) {
        for (double angle : {0.0, 37.0}) {
            FillPtr fill = MakeFill(polys, 3, 0.2, angle);
            const std::vector<Figure> lines = Figures(*fill->GetFillPathOf(0));
            ASSERT_FALSE(lines.empty()) << name;
            for (const Figure& f : lines) {
                ASSERT_EQ(f.size(), 2u);
                for (double t = 0.1; t < 0.95; t += 0.1) {
                    const double x = f[0].X + t * (f[1].X - f[0].X), y = f[0].Y + t * (f[1].Y - f[0].Y);
                    EXPECT_TRUE(InsideEvenOdd(polys, x, y) || DistToEdges(polys, x, y) < 1e-3)
                        << name << " angle " << angle << " at " << x << "," << y;
                }
            }
            // A merged figure 8 overlaps: its area is not the plain sum.
            if (std::string(name) == "8") continue;
            double area = Area(polys[0]);
            for (size_t i = 1; i < polys.size(); ++i) area -= Area(polys[i]);
            EXPECT_NEAR(HatchLength(*fill->GetFillPathOf(0)) * 0.2, area, area * 0.05) << name;
        }
    }
}

TEST_F(FillShapeTest, FillingTwiceNeverDoublesHatchOrEdges) {
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    FILLED_PARS par = fill->GetFillParam();
    par.fillParams[0].bAlongBorder = 1;
    fill->FillShape(par);
    const auto once = Points(*fill);
    const size_t children = fill->GetChildren().size();
    ASSERT_EQ(children, 2u);  // the square and its border copy
    fill->FillShape(par);
    fill->DoFill(0);
    EXPECT_EQ(Points(*fill), once);
    EXPECT_EQ(fill->GetChildren().size(), children);
}

TEST_F(FillShapeTest, DisabledSetsAndSetParamLeaveNoHatch) {
    ViewAt v;
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    fill->SetDocView(&v.doc, &v.view);
    ASSERT_GT(fill->GetFillPathOf(0)->GetPointCount(), 0);
    FILLED_PARS par = fill->GetFillParam();
    fill->SetParam(par);
    EXPECT_EQ(fill->GetFillPathOf(0)->GetPointCount(), 0);  // no hatch until DoFill
    fill->DoFill(0);
    EXPECT_GT(fill->GetFillPathOf(0)->GetPointCount(), 0);

    for (SHAPE_FILLER_PARAM& s : par.fillParams) s.bEnable = 0;
    CFillRunner::SetSlowFillAsk(0);
    const int before = v.view.GetInvalidateCount();
    fill->FillShape(par);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(fill->GetFillPathOf(s)->GetPointCount(), 0);
    EXPECT_EQ(CFillRunner::GetSlowFillAsk(), 1);
    EXPECT_GT(v.view.GetInvalidateCount(), before);
}

TEST_F(FillShapeTest, TransformsCarryTheHatchAndZoomRebuildsIt) {
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    const auto before = Points(*fill);
    // Parameters changed without a refill: a move must keep the old hatch.
    FILLED_PARS par = fill->GetFillParam();
    par.fillParams[0].fLineSpacing = 2.0;
    fill->SaveParamToCFG(par);
    fill->Move(3, -4);
    auto moved = Points(*fill);
    ASSERT_EQ(moved.size(), before.size());
    for (size_t i = 0; i < moved.size(); ++i) {
        EXPECT_NEAR(moved[i].first, before[i].first + 3, 1e-4);
        EXPECT_NEAR(moved[i].second, before[i].second - 4, 1e-4);
    }
    // Rotation about a point and a mirror move every hatch point the same way.
    fill->Rotate(90, {3, -4});
    fill->Mirror({0, 0}, 2);
    const auto turned = Points(*fill);
    for (size_t i = 0; i < turned.size(); ++i) {
        const tagPOINTF r = CBaseShape::PointfMirror(CBaseShape::PointfRotate({moved[i].first, moved[i].second}, {3, -4}, 90),
                                                     {0, 0}, 2);
        EXPECT_NEAR(turned[i].first, r.x, 1e-3);
        EXPECT_NEAR(turned[i].second, r.y, 1e-3);
    }

    // Zoom: the hatch is rebuilt with the spacing in drawing units.
    par.fillParams[0].fLineSpacing = 0.5;
    FillPtr square = MakeFill({Box(0, 0, 10, 10)});
    const size_t lines = Figures(*square->GetFillPathOf(0)).size();
    square->Zoom({0, 0}, 2, 2);
    const std::vector<Figure> zoomed = Figures(*square->GetFillPathOf(0));
    EXPECT_NEAR(static_cast<double>(zoomed.size()), 2.0 * lines, 2.0);
    std::vector<float> ys;
    for (const Figure& f : zoomed) ys.push_back(f[0].Y);
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end(), [](float a, float b) { return std::fabs(a - b) < 1e-3; }), ys.end());
    for (size_t i = 1; i < ys.size(); ++i) EXPECT_NEAR(ys[i] - ys[i - 1], 0.5, 1e-3);
    // A negative factor flips and still fills the region once.
    square->Zoom({10, 10}, -1, 0.5);
    for (const Figure& f : Figures(*square->GetFillPathOf(0))) {
        EXPECT_LE(f[0].X, 0.0f + 1e-3);
        EXPECT_GE(f[0].X, -20.0f - 1e-3);
    }
}

// Every change that reaches a shape inside a container, from wherever it
// comes, makes the container's next mark data new.
// The bytes a shape-list file holds for the shape and its members.
std::string SavedBytes(CBaseShape& shape, const std::filesystem::path& file) {
    std::list<CBaseShape*> records;
    shape.SaveShapeChild(nullptr, records);
    if (!CVonnSriShapeList(&records).SaveList(file.wstring().c_str())) return {};
    return testsupport::ReadAll(file);
}

bool AllMarkPointsFinite(CBaseShape& shape, size_t& count) {
    tagMarkDataPar data;
    shape.GetMarkData(data, nullptr);
    bool ok = geom::Finite(data.rect);
    count = 0;
    for (const auto* list : {&data.arrPaths, &data.arrPaths2})
        for (const tagPathData& pen : *list)
            for (const auto& line : pen.arrPolylines)
                for (const tagPOINTF& p : line) ok = ok && geom::Finite(p), ++count;
    return ok;
}

// What the XML and G-code exports write, lower-cased.
std::string Exports(CBaseShape& shape) {
    std::string out = testsupport::ExportXml(shape);
    for (const std::wstring& line : testsupport::ExportedLines(shape)) out += std::string(line.begin(), line.end());
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// A transform that some member or hatch point would not survive (a number
// that is not one, a fixed point that is not finite, a result beyond float)
// changes nothing in any container: the saved bytes stay, and the mark data,
// rectangle and exports stay finite. A circle member that would take some
// of them to NaN by itself is held back too. A sound move still moves all.
TEST_F(FillShapeTest, ContainersRefuseTransformsTheirContentCannotTake) {
    const float inf = INFINITY, nan = NAN;
    using Op = std::function<int(CBaseShape&)>;
    const std::pair<const char*, Op> refused[] = {
        {"move nan", [&](CBaseShape& s) { return s.Move(nan, 1); }},
        {"move +inf", [&](CBaseShape& s) { return s.Move(inf, 0); }},
        {"move -inf", [&](CBaseShape& s) { return s.Move(0, -inf); }},
        {"move flt_max", [&](CBaseShape& s) { return s.Move(FLT_MAX, 0); }},
        {"rotate nan", [&](CBaseShape& s) { return s.Rotate(nan, {1, 1}); }},
        {"rotate inf", [&](CBaseShape& s) { return s.Rotate(inf, {1, 1}); }},
        {"rotate about nan", [&](CBaseShape& s) { return s.Rotate(37, {nan, 2}); }},
        {"zoom 1e38", [&](CBaseShape& s) { return s.Zoom({1.5f, -2}, 1e38, 1.5); }},
        {"zoom flt_max", [&](CBaseShape& s) { return s.Zoom({1.5f, -2}, 1.3, FLT_MAX); }},
        {"zoom nan", [&](CBaseShape& s) { return s.Zoom({1.5f, -2}, nan, 1); }},
        {"zoom about inf", [&](CBaseShape& s) { return s.Zoom({inf, 0}, 1, 1.2); }},
        {"slope nan", [&](CBaseShape& s) { return s.Slope({3, 1}, 0.2, nan); }},
        {"slope about -inf", [&](CBaseShape& s) { return s.Slope({3, -inf}, 0.2, 0.1); }},
        {"slope inf", [&](CBaseShape& s) { return s.Slope({3, 1}, 0.3, inf); }},
        {"mirror about nan", [&](CBaseShape& s) { return s.Mirror({nan, 4}, 3); }},
    };
    using Make = std::function<CBaseShape*()>;
    const std::pair<const char*, Make> containers[] = {
        {"fill", [] { return MakeFill({Box(0, 0, 10, 7)}).release(); }},
        {"group", [] {
             auto* g = new CGroupShape();
             g->GetChildren().push_back(Poly({{-2, 1}, {4, 3}, {5, -1}}));
             auto* c = new CCircle();
             c->InitCircle(6, 2, 0, 2.5f);
             g->GetChildren().push_back(c);
             g->GetChildren().push_back(MakeFill({Box(1, 1, 9, 4)}).release());
             return g;
         }},
        {"line group", [] { return LineGroup({{2, {{0, 0}, {3, 1}, {-1, 5}}}}); }},
        {"compound", [] {
             auto* c = new CCombineShape();
             c->GetChildren().push_back(Closed(Box(0, 0, 4, 3)));
             c->GetChildren().push_back(Closed(Box(1, 1, 2, 2)));
             return c;
         }},
    };
    const std::filesystem::path file = std::filesystem::path(m_dir) / "shape.orzx";
    for (const auto& [kind, make] : containers) {
        for (const auto& [name, op] : refused) {
            testsupport::ShapePtr shape(make());
            size_t count = 0;
            ASSERT_TRUE(AllMarkPointsFinite(*shape, count)) << kind;
            const std::string before = SavedBytes(*shape, file);
            ASSERT_FALSE(before.empty());
            EXPECT_EQ(op(*shape), CBaseShape::kRefused) << kind << ": " << name;
            EXPECT_TRUE(SavedBytes(*shape, file) == before) << kind << ": " << name;
            size_t after = 0;
            EXPECT_TRUE(AllMarkPointsFinite(*shape, after)) << kind << ": " << name;
            EXPECT_EQ(after, count) << kind << ": " << name;
            const std::string text = Exports(*shape);
            EXPECT_EQ(text.find("nan"), std::string::npos) << kind << ": " << name;
            EXPECT_EQ(text.find("inf"), std::string::npos) << kind << ": " << name;
        }
        // A sound move still moves everything, mark data and hatch alike.
        testsupport::ShapePtr shape(make());
        tagMarkDataPar a, b;
        shape->GetMarkData(a, nullptr);
        EXPECT_NE(shape->Move(2.5f, -1.25f), CBaseShape::kRefused) << kind;
        shape->GetMarkData(b, nullptr);
        ASSERT_EQ(a.arrPaths2.size(), b.arrPaths2.size()) << kind;
        for (const auto* lists : {&a.arrPaths, &a.arrPaths2}) {
            const auto& other = lists == &a.arrPaths ? b.arrPaths : b.arrPaths2;
            ASSERT_EQ(lists->size(), other.size()) << kind;
            for (size_t i = 0; i < other.size(); ++i)
                for (size_t j = 0; j < other[i].arrPolylines.size(); ++j)
                    for (size_t k = 0; k < other[i].arrPolylines[j].size(); ++k) {
                        EXPECT_NEAR(other[i].arrPolylines[j][k].x, (*lists)[i].arrPolylines[j][k].x + 2.5f, 1e-4) << kind;
                        EXPECT_NEAR(other[i].arrPolylines[j][k].y, (*lists)[i].arrPolylines[j][k].y - 1.25f, 1e-4) << kind;
                    }
        }
    }
}

TEST_F(FillShapeTest, ContainerMarkCachesNeverOutliveAChildsChange) {
    ViewAt v;
    auto firstX = [](CBaseShape& s) {
        tagMarkDataPar m;
        s.GetMarkData(m, nullptr);
        return m.arrPaths.empty() || m.arrPaths[0].arrPolylines.empty() ? NAN
                                                                        : m.arrPaths[0].arrPolylines[0][0].x;
    };
    std::unique_ptr<CGroupShape, testsupport::FreeShape> group(new CGroupShape());
    std::unique_ptr<CCombineShape, testsupport::FreeShape> combine(new CCombineShape());
    CPolyLine* inGroup = Poly({{0, 0}, {5, 0}});
    CPolyLine* inCombine = Poly({{0, 0}, {5, 0}});
    group->GetChildren().push_back(inGroup);
    combine->GetChildren().push_back(inCombine);
    group->SetDocView(&v.doc, &v.view);
    combine->SetDocView(&v.doc, &v.view);
    EXPECT_FLOAT_EQ(firstX(*group), 0);
    EXPECT_FLOAT_EQ(firstX(*combine), 0);
    inGroup->Move(5, 0);
    inCombine->Move(7, 0);
    EXPECT_FLOAT_EQ(firstX(*group), 5);
    EXPECT_FLOAT_EQ(firstX(*combine), 7);
    // Nested: a group in a group.
    std::unique_ptr<CGroupShape, testsupport::FreeShape> outer(new CGroupShape());
    outer->GetChildren().push_back(group.release());
    outer->SetDocView(&v.doc, &v.view);
    EXPECT_FLOAT_EQ(firstX(*outer), 5);
    inGroup->Rotate(180, {0, 0});
    EXPECT_FLOAT_EQ(firstX(*outer), -5);

    // A fill shape: every transform and a pen change reach the mark data.
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    fill->SetDocView(&v.doc, &v.view);
    tagMarkDataPar m;
    fill->GetMarkData(m, nullptr);
    fill->Rotate(90, {0, 0});
    fill->GetMarkData(m, nullptr);
    ASSERT_FALSE(m.arrPaths.empty());
    for (const tagPOINTF& p : m.arrPaths[0].arrPolylines[0]) EXPECT_LE(p.x, 1e-3f);
    fill->SetPen(9);
    fill->GetMarkData(m, nullptr);
    EXPECT_EQ(m.arrPaths[0].nPenIndex, 9);
}

TEST_F(FillShapeTest, MarkDataPerPenWithOutlineOrderAndClosedRings) {
    ViewAt v;
    FillPtr fill(new CFilledShape());
    fill->GetChildren().push_back(Closed(Box(0, 0, 10, 10)));
    fill->SetDocView(&v.doc, &v.view);
    fill->SetPen(2);
    FILLED_PARS par = testsupport::Hatch(1);
    par.bOutLineFirst = 0;
    par.fillParams[0].nPenNum = 5;
    par.fillParams[0].nFillMarkCount = 3;
    par.fillParams[1].bEnable = 1;
    par.fillParams[1].nFillType = 0;  // concentric: square rings
    par.fillParams[1].fLineSpacing = 2;
    par.fillParams[1].nPenNum = 6;
    fill->FillShape(par);
    tagMarkDataPar m;
    ASSERT_TRUE(fill->GetMarkData(m, nullptr));
    EXPECT_EQ(m.nReserved2, 0);
    ASSERT_EQ(m.arrPaths.size(), 1u);
    EXPECT_EQ(m.arrPaths[0].nPenIndex, 2);
    EXPECT_EQ(m.arrPaths[0].nReserved, 1);
    ASSERT_EQ(m.arrPaths[0].arrPolylines.size(), 1u);
    EXPECT_EQ(m.arrPaths[0].arrPolylines[0].size(), 5u);  // closed square
    ASSERT_EQ(m.arrPaths2.size(), 2u);
    EXPECT_EQ(m.arrPaths2[0].nPenIndex, 5);
    EXPECT_EQ(m.arrPaths2[0].nReserved, 3);
    EXPECT_EQ(m.arrPaths2[1].nPenIndex, 6);
    for (const auto& ring : m.arrPaths2[1].arrPolylines) {
        ASSERT_EQ(ring.size(), 5u);
        EXPECT_EQ(ring.front().x, ring.back().x);
        EXPECT_EQ(ring.front().y, ring.back().y);
        for (const tagPOINTF& p : ring) EXPECT_FLOAT_EQ(p.x * 10000, std::round(p.x * 10000));
    }
    // Outlines off: nothing in the first vector, the hatch still comes.
    par.bOutLine = 0;
    fill->FillShape(par);
    fill->GetMarkData(m, nullptr);
    EXPECT_TRUE(m.arrPaths.empty());
    EXPECT_EQ(m.arrPaths2.size(), 2u);
}

TEST_F(FillShapeTest, HatchTurnsPerMarkAfterTheFirst) {
    ViewAt v;
    CFilledShape::SetHatchTurnFlag(0);
    FillPtr fill(new CFilledShape());
    fill->GetChildren().push_back(Closed(Box(0, 0, 10, 10)));
    fill->SetDocView(&v.doc, &v.view);
    FILLED_PARS par = testsupport::Hatch(1, 320);
    par.fillParams[0].m_fill_rotate = 1;
    par.fillParams[0].m_fRotateAngle = 30;
    fill->FillShape(par);
    tagMarkDataPar m;
    std::vector<double> angles;
    for (int i = 0; i < 3; ++i) {
        fill->GetMarkData(m, nullptr);
        angles.push_back(fill->GetFillParam().fillParams[0].fAngle);
        // The first line of the hatch runs along the set's angle.
        const auto& line = m.arrPaths2.at(0).arrPolylines.at(0);
        const double dir = std::atan2(line[1].y - line[0].y, line[1].x - line[0].x) * 180 / M_PI;
        const double off = std::fmod(std::fmod(dir - angles.back(), 180) + 180, 180);
        EXPECT_LT(std::min(off, 180 - off), 0.01) << i;
    }
    EXPECT_DOUBLE_EQ(angles[0], 320);
    EXPECT_DOUBLE_EQ(angles[1], 350);
    EXPECT_DOUBLE_EQ(angles[2], 20);
    EXPECT_EQ(CFilledShape::GetHatchTurnFlag(), 1);
    CFilledShape::SetHatchTurnFlag(0);
}

TEST_F(FillShapeTest, SaveAndReadKeepHatchTypesAndParameters) {
    FillPtr fill = MakeFill({Box(0, 0, 10, 10), Box(3, 3, 6, 6)});
    FILLED_PARS par = fill->GetFillParam();
    par.bKeepSeperate = 1;
    par.bOutLine = 0;
    par.fillParams[2].bEnable = 1;
    par.fillParams[2].nFillType = 0;
    par.fillParams[2].fLineSpacing = 1.5;
    par.fillParams[2].nPenNum = 4;
    fill->FillShape(par);
    fill->SetPen(3);

    const std::filesystem::path file = std::filesystem::path(m_dir) / "fill.orzx";
    std::list<CBaseShape*> records;
    fill->SaveShapeChild(nullptr, records);
    ASSERT_TRUE(CVonnSriShapeList(&records).SaveList(file.wstring().c_str()));
    const std::string raw = testsupport::ReadAll(file);
    size_t keys = 0;
    for (size_t at = raw.find("filledPathDataType"); at != std::string::npos; at = raw.find("filledPathDataType", at + 1))
        ++keys;
    EXPECT_EQ(keys, 2u);

    std::list<CBaseShape*> back;
    ASSERT_TRUE(CVonnSriShapeList(&back).LoadList(file.wstring().c_str()));
    ASSERT_EQ(back.size(), 1u);
    FillPtr read(dynamic_cast<CFilledShape*>(back.front()));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetChildren().size(), fill->GetChildren().size());
    const FILLED_PARS got = read->GetFillParam();
    EXPECT_EQ(got.bKeepSeperate, 1);
    EXPECT_EQ(got.bOutLine, 0);
    EXPECT_EQ(got.fillParams[2].bEnable, 1);
    EXPECT_DOUBLE_EQ(got.fillParams[2].fLineSpacing, 1.5);
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(read->GetFillPathOf(s)->PathTypes(), fill->GetFillPathOf(s)->PathTypes()) << s;
        EXPECT_EQ(Points(*read, s), Points(*fill, s)) << s;
    }
    EXPECT_GT(read->GetFillPathOf(2)->GetPointCount(), 0);

    // The archive form carries the same paths.
    CArchive out(CArchive::store);
    fill->Serialize(out);
    CFilledShape loaded;
    CArchive in(out.GetBuffer().data(), out.GetBuffer().size());
    loaded.Serialize(in);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(Points(loaded, s), Points(*fill, s));
    // A truncated or lying archive loads nothing it does not hold.
    std::vector<unsigned char> bad(out.GetBuffer().begin(), out.GetBuffer().begin() + 7);
    bad[0] = 0xFF;
    bad[3] = 0x7F;
    CFilledShape refused;
    CArchive lie(bad.data(), bad.size());
    refused.Serialize(lie);
    EXPECT_FALSE(lie.IsGood());
    EXPECT_EQ(refused.GetFillPathOf(0)->GetPointCount(), 0);
}

// The threaded fill and the inline one give the same hatch in the same
// order; the lowered threshold lets the threads run on a small drawing.
TEST_F(FillShapeTest, ThreadedFillMatchesInlineFill) {
    auto grid = [](size_t n) {
        FillPtr fill(new CFilledShape());
        for (size_t i = 0; i < n; ++i) {
            const float y = static_cast<float>(i);
            fill->GetChildren().push_back(Closed(Box(0, y, 5, y + 0.5f)));
        }
        // A two-point polyline: listed, but fills nothing.
        fill->GetChildren().push_back(Poly({{0, -5}, {1, -5}}));
        FILLED_PARS par = testsupport::Hatch(0.25);
        par.fillParams[0].fStartPreserve = 0.125;
        par.fillParams[0].bArrangeEqually = 0;
        par.fillParams[0].bCrossFill = 1;
        par.fillParams[0].bAlongBorder = 1;
        fill->SaveParamToCFG(par);
        return fill;
    };
    FillPtr inlineFill = grid(40);
    inlineFill->DoFill(0);
    FillPtr threaded = grid(40);
    threaded->GetRunner().SetInlineShapeLimit(20);
    threaded->DoFill(0);
    EXPECT_FALSE(threaded->GetRunner().HasRunningThreads());
    std::vector<Figure> a = Figures(*inlineFill->GetFillPathOf(0)), b = Figures(*threaded->GetFillPathOf(0));
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), 40u * 2 + 40u * 20);
    // Separate lines: the same set of lines in each direction, main first.
    auto key = [](const Figure& f) { return std::make_tuple(f[0].Y, f[0].X, f[1].Y, f[1].X); };
    auto sorted = [&](std::vector<Figure> v, size_t from, size_t to) {
        std::vector<std::tuple<float, float, float, float>> k;
        for (size_t i = from; i < to; ++i) k.push_back(key(v[i]));
        std::sort(k.begin(), k.end());
        return k;
    };
    EXPECT_EQ(sorted(a, 0, 80), sorted(b, 0, 80));
    EXPECT_EQ(sorted(a, 80, a.size()), sorted(b, 80, b.size()));
    // The border copies come in list order, whatever the threads did.
    std::vector<CBaseShape*> ea, eb;
    for (CBaseShape* c : inlineFill->GetChildren())
        if (c->GetCaption() == L"edge") ea.push_back(c);
    for (CBaseShape* c : threaded->GetChildren())
        if (c->GetCaption() == L"edge") eb.push_back(c);
    ASSERT_EQ(ea.size(), eb.size());
    for (size_t i = 0; i < ea.size(); ++i)
        EXPECT_EQ(static_cast<CPolyLine*>(ea[i])->arrPoint, static_cast<CPolyLine*>(eb[i])->arrPoint);
    // The same threaded fill twice gives the same bytes.
    const auto first = Points(*threaded);
    threaded->DoFill(0);
    EXPECT_EQ(Points(*threaded), first);
}

TEST_F(FillShapeTest, RealThresholdFillsFortyThousandAndOneShapesLikeFortyThousand) {
    auto grid = [](size_t n) {
        FillPtr fill(new CFilledShape());
        for (size_t i = 0; i < n; ++i) {
            const float x = static_cast<float>(i % 200), y = static_cast<float>(i / 200);
            fill->GetChildren().push_back(Closed(Box(x, y, x + 0.5f, y + 0.5f)));
        }
        FILLED_PARS par = testsupport::Hatch(0.25);
        par.fillParams[0].fStartPreserve = 0.125;
        par.fillParams[0].bArrangeEqually = 0;
        fill->SaveParamToCFG(par);
        return fill;
    };
    FillPtr at = grid(CFillRunner::kInlineShapeLimit);
    FillPtr past = grid(CFillRunner::kInlineShapeLimit);
    past->GetChildren().push_back(Poly({{0, -5}, {1, -5}}));  // the 40,001st fills nothing
    at->DoFill(0);
    past->DoFill(0);
    std::vector<Figure> a = Figures(*at->GetFillPathOf(0)), b = Figures(*past->GetFillPathOf(0));
    ASSERT_EQ(a.size(), 2 * CFillRunner::kInlineShapeLimit);
    ASSERT_EQ(a.size(), b.size());
    std::sort(a.begin(), a.end(), [](const Figure& p, const Figure& q) {
        return std::tie(p[0].Y, p[0].X) < std::tie(q[0].Y, q[0].X);
    });
    std::sort(b.begin(), b.end(), [](const Figure& p, const Figure& q) {
        return std::tie(p[0].Y, p[0].X) < std::tie(q[0].Y, q[0].X);
    });
    for (size_t i = 0; i < a.size(); i += 101) {
        EXPECT_EQ(a[i][0].X, b[i][0].X);
        EXPECT_EQ(a[i][1].Y, b[i][1].Y);
    }
}

// The count and total length of the strokes a G-code or HPGL consumer
// draws: each pen-down run, from where the tool was when it went down.
std::pair<size_t, double> Strokes(const std::vector<std::wstring>& lines) {
    std::pair<size_t, double> out{0, 0.0};
    float x0 = 0, y0 = 0;
    bool down = false;
    for (const std::wstring& line : lines) {
        float x = 0, y = 0, unit = 40;
        int g = -1;
        const size_t pu = line.find(L"PU"), pd = line.find(L"PD"), at = pu != std::wstring::npos ? pu : pd;
        if (std::swscanf(line.c_str(), L"G%d X%f Y%f", &g, &x, &y) == 3) unit = 1;
        else if (at == std::wstring::npos || std::swscanf(line.c_str() + at + 2, L"%f %f", &x, &y) != 2) continue;
        else g = at == pd ? 1 : 0;
        x /= unit, y /= unit;
        if (g == 1) out = {out.first + (down ? 0 : 1), out.second + std::hypot(x - x0, y - y0)};
        down = g == 1, x0 = x, y0 = y;
    }
    return out;
}

// G-code and HPGL draw what the mark data marks: the outline only while it
// is switched on.
TEST_F(FillShapeTest, ExportsDrawWhatTheMarkDataMarks) {
    for (const int outline : {1, 0}) {
        FillPtr fill = MakeFill({Box(1.5f, 2.5f, 11.5f, 12.5f)}, 3, 2.0, 30);
        FILLED_PARS par = fill->GetFillParam();
        par.bOutLine = static_cast<unsigned char>(outline);
        fill->FillShape(par);
        tagMarkDataPar md;
        ASSERT_TRUE(fill->GetMarkData(md, nullptr));
        size_t count = 0;
        double length = 0;
        for (const auto* list : {&md.arrPaths, &md.arrPaths2})
            for (const tagPathData& p : *list)
                for (const Poly2& l : p.arrPolylines) {
                    ++count;
                    for (size_t i = 1; i < l.size(); ++i) length += std::hypot(l[i].x - l[i - 1].x, l[i].y - l[i - 1].y);
                }
        ASSERT_GT(count, 2u);
        for (const unsigned char gcode : {1, 0}) {
            const auto [strokes, drawn] = Strokes(testsupport::ExportedLines(*fill, gcode));
            EXPECT_EQ(strokes, count) << outline << " " << int(gcode);
            EXPECT_NEAR(drawn, length, 0.1) << outline << " " << int(gcode);
        }
    }
}

TEST_F(FillShapeTest, CloneConvertAndExport) {
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    fill->SetPen(4);
    fill->SetNoRedraw(1);
    testsupport::ShapePtr copy(fill->Clone());
    auto* clone = dynamic_cast<CFilledShape*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetPenIndex(), 4);
    EXPECT_EQ(clone->GetNoRedraw(), 1);
    EXPECT_EQ(Points(*clone), Points(*fill));
    EXPECT_NE(clone->GetChildren()[0], fill->GetChildren()[0]);

    testsupport::ShapePtr curves(fill->ToBezier());
    EXPECT_EQ(curves->GetShapeKind(), SHAPE_COMBINE);
    EXPECT_EQ(curves->GetChildren().size(), 1u);

    // XML: three parameter lines of 176 decimal bytes; the spacing's bytes
    // sit at offset 32. The file is one an XML parser reads, with a caption
    // that holds tabs and line ends, quotes, markup, characters beyond ASCII
    // and one XML cannot carry. The host writes its declaration in pieces
    // after a byte-order mark, naming another encoding.
    const std::wstring caption = L"\tF\u00FCll \"7\"\r\n& <\u4E2D> 'x'\n";
    fill->SetCaption(CString(caption.c_str()));
    fill->GetChildren()[0]->SetCaption(CString(L"edge\x01line"));
    FILLED_PARS par = fill->GetFillParam();
    par.fillParams[3].bEnable = 1;
    fill->SaveParamToCFG(par);
    const std::filesystem::path file = std::filesystem::path(m_dir) / "fill.xml";
    {
        tagXmlBuff xml;
        xml.file.open(file);
        for (const wchar_t* piece : {L"\uFEFF", L"<?xml version=\"1.0\" encoding=\"", L"GB2312", L"\"?>\r\n"})
            xml.WriteToFile(piece);
        fill->ExportXmlToBuff(xml);
    }
    const std::string s = testsupport::ReadAll(file);
    EXPECT_EQ(s.find("<PAR3"), std::string::npos);
    const size_t at = s.find("<PAR0 data='");
    ASSERT_NE(at, std::string::npos);
    std::istringstream nums(s.substr(at + 12, s.find('\'', at + 12) - at - 12));
    std::vector<uint8_t> image;
    for (int v; nums >> v;) image.push_back(static_cast<uint8_t>(v));
    ASSERT_EQ(image.size(), 176u);
    double spacing = 0;
    std::memcpy(&spacing, image.data() + 32, 8);
    EXPECT_DOUBLE_EQ(spacing, 0.5);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_declaration);
    ASSERT_TRUE(parsed) << parsed.description() << " at " << parsed.offset;
    EXPECT_STREQ(doc.first_child().attribute("encoding").value(), "UTF-8");
    const pugi::xml_node params = doc.child("Filled").child("PARAMS");
    EXPECT_EQ(pugi::as_wide(params.attribute("NAME").value()), caption);
    EXPECT_STREQ(params.attribute("OUTLINE").value(), "1");
    EXPECT_STREQ(doc.child("Filled").child("PolyLine").attribute("Name").value(), "edge?line");
    std::istringstream par2(params.child("PAR2").attribute("data").value());
    size_t bytes2 = 0;
    for (int v; par2 >> v;) ++bytes2;
    EXPECT_EQ(bytes2, 176u);

    // G-code: the outline and then every hatch line.
    EXPECT_GT(testsupport::ExportedLines(*fill).size(), Figures(*fill->GetFillPathOf(0)).size());
}

TEST_F(FillShapeTest, OverlayAndUndoRecordsFillForReal) {
    FillPtr fill = MakeFill({Box(0, 0, 10, 10)});
    std::unique_ptr<CPolyLine> other(Closed(Box(5, 5, 15, 15)));
    std::vector<CBaseShape*> subjects{fill.get()};
    for (int op : {0, 4}) {
        testsupport::ShapePtr result(DoExecuteShapeOverlay(&subjects, other.get(), op));
        ASSERT_TRUE(result);
        auto* filled = dynamic_cast<CFilledShape*>(result.get());
        ASSERT_NE(filled, nullptr) << op;
        EXPECT_DOUBLE_EQ(filled->GetFillParam().fillParams[0].fLineSpacing, 0.5);
        EXPECT_GT(filled->GetFillPathOf(0)->GetPointCount(), 0);
    }
    testsupport::ShapePtr plain(DoExecuteShapeOverlay(&subjects, other.get(), kOverlayUnion));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->GetShapeKind(), SHAPE_GROUP);

    // A changed fill undone and redone refills with each parameter set.
    auto* data = new stSetFillUndo;
    data->parOld = fill->GetFillParam();
    data->parNew = data->parOld;
    data->parNew.fillParams[0].fLineSpacing = 2.5;
    data->pShape = fill.get();
    CUND_SetFill record;
    record.m_pData = data;
    const size_t fine = Figures(*fill->GetFillPathOf(0)).size();
    record.OnEditRedo(nullptr);
    EXPECT_LT(Figures(*fill->GetFillPathOf(0)).size(), fine / 3);
    record.OnEditUndo(nullptr);
    EXPECT_EQ(Figures(*fill->GetFillPathOf(0)).size(), fine);
}

}  // namespace
