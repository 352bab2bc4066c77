// Properties every shape kind holds, each against an oracle of its own: any
// transform leaves every number finite (an XML parser reads the export and
// counts its elements), a G-code or HPGL export is the mark data read back
// move by move, and a copy or a conversion marks as its source does.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/core/markdata.h"
#include "morvik/shapes/xmlmarkup.h"
#include "support/every_kind.h"
#include "support/shape_support.h"
#include "text/text_test_util.h"

namespace {

using testsupport::ShapePtr;
using Lines = std::vector<std::vector<tagPOINTF>>;

// The marked polylines, outlines and hatches alike, with their pens.
Lines Marked(CBaseShape& s, std::vector<int>* pens = nullptr) {
    tagMarkDataPar md;
    s.SetGetDataForce(true);
    s.GetMarkData(md, nullptr);
    Lines out;
    for (const auto* list : {&md.arrPaths, &md.arrPaths2})
        for (const tagPathData& path : *list)
            for (const auto& line : path.arrPolylines) {
                out.push_back(line);
                if (pens != nullptr) pens->push_back(path.nPenIndex);
            }
    return out;
}

std::vector<std::wstring> Moves(CBaseShape& s, bool gcode) {
    GCodeContext ctx;
    ctx.bGCode = gcode ? 1 : 0;
    ctx.bToList = 1;
    s.ExportGCodeToBuff(ctx);
    return ctx.lines;
}

// Every element that states its child count (nSize) has that many children
// of the kind of its first.
void ExpectCountsMatch(const pugi::xml_node& node, const std::string& what) {
    for (const pugi::xml_node& n : node.children()) {
        if (const pugi::xml_attribute size = n.attribute("nSize")) {
            const pugi::xml_node first = n.first_child();
            int found = 0;
            for (const pugi::xml_node& c : n.children()) found += std::string(c.name()) == first.name();
            EXPECT_EQ(size.as_int(-1), found) << what << ": <" << n.name() << ">";
        }
        ExpectCountsMatch(n, what);
    }
}

// Finite, and the XML read by a parser holds the elements it counts.
void ExpectAllFinite(CBaseShape& s, const std::string& what) {
    testsupport::ExpectHandsOnFinite(s, what);
    pugi::xml_document doc;
    const std::string xml = testsupport::ExportXml(s);
    ASSERT_TRUE(doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_fragment)) << what << "\n" << xml;
    ExpectCountsMatch(doc, what);
}

class ShapeProperties : public ::testing::Test {
protected:
    text_test::TempRunLog m_log{"properties"};
    testsupport::HostScope m_host;
    testsupport::TempDir m_dir{"morvik-every"};
    std::vector<testsupport::ShapeKind> m_kinds = testsupport::EveryKind(m_dir);
};

}  // namespace

// Random transforms, huge, tiny, non-uniform, degenerate and off the quarter
// turns, one after another: whatever a shape accepts leaves every number it
// hands on finite, and what it refuses changes no saved byte.
TEST_F(ShapeProperties, AnyAcceptedTransformLeavesEveryNumberFinite) {
    std::mt19937 rng(40);
    auto pick = [&](std::vector<double> v) { return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)]; };
    auto real = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    auto scale = [&] { return pick({real(-3, 3), 0.0, 1e-30, 2.0, -1e20, 1e37, 3e38, real(0.1, 4)}); };
    for (const testsupport::ShapeKind& kind : m_kinds) {
        for (int trial = 0; trial < 6; ++trial) {
            ShapePtr s(kind.make());
            std::string what = kind.name;
            for (int step = 0; step < 3; ++step) {
                const tagPOINTF at{float(real(-20, 20)), float(pick({real(-9, 9), 1e38, -3e38}))};
                s->UpdatePropsValue();
                const testsupport::Bytes before = testsupport::SaveOf(*s);
                int answer = 0;
                switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
                    case 0: what += " move"; answer = s->Move(float(pick({real(-50, 50), 1e30, -3e38})), 2.5f); break;
                    case 1: what += " rotate"; answer = s->Rotate(real(-400, 400), at); break;
                    case 2: what += " zoom"; answer = s->Zoom(at, scale(), scale()); break;
                    case 3: what += " slope"; answer = s->Slope(at, pick({real(-1.5, 1.5), 1.5707963}), real(-1, 1)); break;
                    default: what += " mirror"; answer = s->Mirror(at, int(real(1, 4))); break;
                }
                ExpectAllFinite(*s, what);
                if (answer == CBaseShape::kRefused) {
                    s->UpdatePropsValue();
                    EXPECT_EQ(testsupport::SaveOf(*s), before) << what << " refused but changed";
                }
                if (HasFatalFailure()) return;
            }
        }
    }
}

namespace {

// The runs of cutting moves of an export: a rapid move (G00, PU) starts a
// new run, a cutting move (G01, PD) extends it. HPGL counts 40 units a mm.
Lines Runs(const std::vector<std::wstring>& lines, bool gcode) {
    Lines runs;
    std::wstringstream all;
    for (const std::wstring& l : lines) all << l << L"\n";
    std::wstring word;
    while (all >> word) {
        double x = 0, y = 0;
        if (gcode && (word == L"G00" || word == L"G01")) {
            std::wstring wx, wy;
            all >> wx >> wy;
            x = std::stod(wx.substr(1)), y = std::stod(wy.substr(1));
        } else if (!gcode && (word.rfind(L"PU", 0) == 0 || word.rfind(L"PD", 0) == 0)) {
            std::wstring wy;
            all >> wy;
            x = std::stod(word.substr(2)) / 40, y = std::stod(wy) / 40;
        } else {
            continue;
        }
        if (word == L"G00" || word.rfind(L"PU", 0) == 0 || runs.empty()) runs.emplace_back();
        runs.back().push_back({float(x), float(y)});
    }
    return runs;
}

}  // namespace

// Each cutting move of an export joins two points that follow each other in
// one marked polyline: a move never bridges a gap the mark data leaves.
TEST_F(ShapeProperties, GCodeAndHpglExportsAreTheMarkData) {
    for (const testsupport::ShapeKind& kind : m_kinds) {
        ShapePtr s(kind.make());
        s->Rotate(23.0, {1.0f, -2.0f});
        s->Zoom({0.5f, 0.25f}, 1.5, 0.75);
        const Lines marked = Marked(*s);
        for (bool gcode : {true, false}) {
            const double tol = gcode ? 1.5e-3 : 0.02;
            auto near = [&](tagPOINTF a, tagPOINTF b) { return testsupport::Dist(a, b) <= tol; };
            auto isSegment = [&](tagPOINTF a, tagPOINTF b, const Lines& in) {
                for (const auto& line : in)
                    for (size_t i = 0; i + 1 < line.size(); ++i)
                        if ((near(line[i], a) && near(line[i + 1], b)) || (near(line[i], b) && near(line[i + 1], a)))
                            return true;
                return false;
            };
            const Lines runs = Runs(Moves(*s, gcode), gcode);
            const std::string what = kind.name + (gcode ? " G-code" : " HPGL");
            for (const auto& run : runs)
                for (size_t i = 0; i + 1 < run.size(); ++i)
                    ASSERT_TRUE(isSegment(run[i], run[i + 1], marked))
                        << what << ": a move to (" << run[i + 1].x << ", " << run[i + 1].y << ") is not marked";
        }
    }
}

// A copy and a conversion mark with the pen, smoothness, mirror state and
// order of the source, where the source marks: the copy saves what the
// source saves (its identity aside) and marks the very same points.
TEST_F(ShapeProperties, CopiesAndConversionsKeepWhatTheSourceMarksWith) {
    for (const testsupport::ShapeKind& kind : m_kinds) {
        ShapePtr s(kind.make());
        s->SetPen(6);
        s->SetSmoothRatio(0.07f);
        s->Mirror({1.5f, 0.5f}, 1);
        // Turned, zoomed unevenly and reversed: a field left at its default
        // could not tell a copy that drops it.
        s->Rotate(23.0, {0.7f, -1.1f});
        s->Zoom({0.3f, 0.2f}, 1.3, 0.8);
        s->SortPath();
        s->SetReverseOrder(true);
        std::vector<int> pens;
        const Lines marked = Marked(*s, &pens);
        std::sort(pens.begin(), pens.end());
        auto fields = [](CBaseShape& shape) {
            shape.UpdatePropsValue();
            std::vector<testsupport::SavedField> f = testsupport::Decode(testsupport::SaveOf(shape));
            std::erase_if(f, [](const auto& x) { return x.key == "guidBase" || x.key == "strBaseCaption"; });
            return f;
        };
        const auto saved = fields(*s);
        struct Made {
            const char* how;
            ShapePtr shape;
        } made[] = {{"Clone", ShapePtr(s->Clone())}, {"ToBezier", ShapePtr(s->ToBezier())},
                    {"ToPolyLine", ShapePtr(s->ToPolyLine())}};
        for (Made& m : made) {
            if (m.shape == nullptr) continue;
            const std::string what = kind.name + " " + m.how;
            EXPECT_EQ(m.shape->GetPenIndex(), s->GetPenIndex()) << what;
            EXPECT_EQ(m.shape->GetSmoothRatio(), s->GetSmoothRatio()) << what;
            EXPECT_EQ(m.shape->IsReverseOrder(), s->IsReverseOrder()) << what;
            std::vector<int> madePens;
            const Lines got = Marked(*m.shape, &madePens);
            std::sort(madePens.begin(), madePens.end());
            // A conversion may leave the hatch out, never mark with a pen of its own.
            EXPECT_TRUE(std::includes(pens.begin(), pens.end(), madePens.begin(), madePens.end())) << what;
            if (std::string(m.how) == "Clone") {
                EXPECT_EQ(m.shape->GetMirrorFlag(), s->GetMirrorFlag()) << what;
                const auto copy = fields(*m.shape);
                ASSERT_EQ(copy.size(), saved.size()) << what;
                for (size_t i = 0; i < copy.size(); ++i)
                    EXPECT_TRUE(copy[i].key == saved[i].key && copy[i].payload == saved[i].payload)
                        << what << ": " << saved[i].key;
                EXPECT_EQ(got, marked) << what << ": marks elsewhere";
                continue;
            }
            // A conversion flattens anew: its points lie on what the source marks.
            double worst = 0;
            for (const auto& line : got)
                for (const tagPOINTF& p : line) {
                    double best = 1e300;
                    for (const auto& m2 : marked) best = std::min(best, testsupport::DistToPolyline(p, m2));
                    worst = std::max(worst, best);
                }
            EXPECT_LT(worst, 0.02) << what << ": marks elsewhere";
        }
    }
}

namespace {

// The turn a chain makes about a centre, in the frame where the curve is a
// unit circle (x / a, y / b), summed step by step with its sign.
double Turn(const std::vector<tagPOINTF>& chain, double cx, double cy, double a, double b) {
    double sum = 0;
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        const double t0 = std::atan2((chain[i].y - cy) / b, (chain[i].x - cx) / a);
        const double t1 = std::atan2((chain[i + 1].y - cy) / b, (chain[i + 1].x - cx) / a);
        sum += std::remainder(t1 - t0, 2 * M_PI);
    }
    return sum * 180 / M_PI;
}

}  // namespace

// Geometry on data without symmetry: arcs the short and the long way round
// (which share both ends), mirrored on one axis about a point off the axes,
// lie whole on the true mirrored arc and turn through the mirrored sweep; an
// XML text whose bad character comes first reads back through a parser.
TEST_F(ShapeProperties, MirroredArcsAndEscapesHoldOnAsymmetricData) {
    struct Arc {
        const char* name;
        std::function<CBaseShape*()> make;
        double cx, cy, a, b, sweep;
    } arcs[] = {
        {"circle the long way", [] { auto* c = new CCircle(); c->SetCircleProperty(3.5, -4.25, 5.5, 20, 250, 1); return c; },
         3.5, -4.25, 5.5, 5.5, 230},
        {"circle the short way", [] { auto* c = new CCircle(); c->SetCircleProperty(3.5, -4.25, 5.5, 20, 250, 0); return c; },
         3.5, -4.25, 5.5, 5.5, -130},
        {"ellipse arc", [] { auto* e = new CEllipseArc(); e->InitArcPath(Gdiplus::RectF(1, 7, 13, 5), false);
                             e->SetArcDegree(20, 250); return e; },
         7.5, 9.5, 6.5, 2.5, 0},
    };
    for (const Arc& arc : arcs) {
        for (int mode : {1, 2}) {
            const std::string what = std::string(arc.name) + " mirror " + std::to_string(mode);
            ShapePtr s(arc.make());
            std::vector<tagPOINTF> before, after;
            s->GetFlattenPathPoints(before, 0.01f);
            // A drawn arc cut short closes through its centre: the rest is the curve.
            auto off = [&](tagPOINTF p) { return std::hypot(p.x - arc.cx, p.y - arc.cy) < 1e-3; };
            std::erase_if(before, off);
            const double sweep = arc.sweep != 0 ? arc.sweep : Turn(before, arc.cx, arc.cy, arc.a, arc.b);
            ASSERT_NEAR(Turn(before, arc.cx, arc.cy, arc.a, arc.b), sweep, 0.5) << what;
            const tagPOINTF at{1.75f, -0.5f};
            ASSERT_EQ(s->Mirror(at, mode), 0) << what;
            s->GetFlattenPathPoints(after, 0.01f);
            // Mirrored back, the chain lies on the true curve and turns the
            // other way through the same sweep.
            for (tagPOINTF& p : after) (mode == 1 ? p.x : p.y) = 2 * (mode == 1 ? at.x : at.y) - (mode == 1 ? p.x : p.y);
            std::erase_if(after, off);
            for (const tagPOINTF& p : after)
                ASSERT_NEAR(std::hypot((p.x - arc.cx) / arc.a, (p.y - arc.cy) / arc.b), 1.0, 2e-3) << what;
            EXPECT_NEAR(Turn(after, arc.cx, arc.cy, arc.a, arc.b), sweep, 0.5) << what;
            EXPECT_LT(testsupport::Dist(after.front(), before.front()), 1e-3) << what;
            EXPECT_LT(testsupport::Dist(after.back(), before.back()), 1e-3) << what;
        }
    }
    // A character XML cannot carry, first and among the escaped ones.
    for (const std::wstring text : {L"\x01<a&\"b", L"\x1F\x1F>", L"\xFFFE&amp;", L"\x0B\x0C", L"\tA\r\nB\n"}) {
        CPolyLine* p = testsupport::PolyOf({{0.5f, 1}, {2, -3}}, false);
        ShapePtr own(p);
        p->SetCaption(CString(text.c_str()));
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(testsupport::ExportXml(*p).c_str()));
        std::wstring want = text;
        for (wchar_t& c : want) c = (c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE ? L'?' : c;
        EXPECT_EQ(pugi::as_wide(doc.first_child().attribute("Name").value()), want);
        const std::wstring escaped = CXmlMarkup::EscapeText(text, true);
        ASSERT_TRUE(doc.load_string(("<e a=\"" + pugi::as_utf8(escaped) + "\"/>").c_str()));
        EXPECT_EQ(pugi::as_wide(doc.child("e").attribute("a").value()), want);
    }
}
