// The SVG reader: which files are accepted, where each element lands (y
// negated), the path commands, texts, the transforms of `g` and `text`
// elements, hostile documents, and the XML DOM it walks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "morvik/com/xmldom.h"
#include "morvik/compose/group.h"
#include "morvik/gdiplus/font.h"
#include "morvik/core/polyline.h"
#include "morvik/shapes/circle.h"
#include "morvik/shapes/ellipsearc.h"
#include "morvik/shapes/rectangle.h"
#include "morvik/text/fonts.h"
#include "support/shape_support.h"

namespace {

std::filesystem::path TempFile(const std::string& name, const std::string& content) {
    static int serial = 0;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("svg_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Reads the document and owns the resulting group.
struct Svg {
    CGroupShape* group = nullptr;
    explicit Svg(const std::string& body, bool wrap = true, const std::string& name = "drawing.svg") {
        const std::string text = wrap ? "<svg xmlns=\"http://www.w3.org/2000/svg\">" + body + "</svg>" : body;
        const auto path = TempFile(name, text);
        group = CGroupShape::ParserSvgFile(CString(path.wstring().c_str()));
        std::filesystem::remove_all(path.parent_path());
    }
    ~Svg() {
        if (group) {
            group->FreeShapePtr();
            delete group;
        }
    }
    size_t Count() const { return group ? group->GetChildren().size() : 0; }
    CBaseShape* At(size_t i) const { return group->GetChildren().at(i); }
    CPolyLine* Line(size_t i) const {
        auto* p = dynamic_cast<CPolyLine*>(At(i));
        EXPECT_NE(p, nullptr);
        return p;
    }
};

void ExpectPoints(const CPolyLine* line, const std::vector<tagPOINTF>& want) {
    ASSERT_NE(line, nullptr);
    testsupport::ExpectPoints(line->arrPoint, want);
}

void ExpectRect(CBaseShape* s, float x, float y, float w, float h, float tol = 1e-3f) {
    testsupport::ExpectRect(testsupport::RectOf(*s), x, y, w, h, tol);
}

// Every point of a flattened curve lies within `tol` of the circle.
void ExpectOnCircle(const CPolyLine* line, float cx, float cy, float r, float tol) {
    for (const tagPOINTF& p : line->arrPoint) EXPECT_NEAR(std::hypot(p.x - cx, p.y - cy), r, tol);
}

float MaxY(const CPolyLine* line) {
    float m = -1e30f;
    for (const tagPOINTF& p : line->arrPoint) m = std::max(m, p.y);
    return m;
}
float MinY(const CPolyLine* line) {
    float m = 1e30f;
    for (const tagPOINTF& p : line->arrPoint) m = std::min(m, p.y);
    return m;
}

}  // namespace

TEST(SvgReader, AcceptsOnlySvgRootsAndNamesTheGroupAfterTheFile) {
    Svg upper("<SVG><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\"/></SVG>", false, "Plan.v2.svg");
    ASSERT_NE(upper.group, nullptr);
    EXPECT_EQ(upper.Count(), 1u);
    EXPECT_STREQ(upper.group->GetCaption().GetString(), L"Plan.v2.svg");

    EXPECT_EQ(Svg("<html><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\"/></html>", false).group, nullptr);
    EXPECT_EQ(Svg("<svg><line x1=\"0\"", false).group, nullptr);
    EXPECT_EQ(Svg("", false).group, nullptr);
    EXPECT_EQ(CGroupShape::ParserSvgFile(CString(L"/nonexistent/dir/none.svg")), nullptr);

    Svg empty("");
    ASSERT_NE(empty.group, nullptr);
    EXPECT_EQ(empty.Count(), 0u);
}

TEST(SvgReader, BasicShapesLandAtTheirPositionsWithYNegated) {
    Svg svg(
        "<line x1=\"0\" y1=\"0\" x2=\"10\" y2=\"10\"/>"
        "<rect width=\"10\" height=\"5\"/>"
        "<rect x=\"2px\" y=\"3\" width=\"10\" height=\"5\"/>"
        "<circle cx=\"5\" cy=\"5\" r=\"2\"/>"
        "<ellipse cx=\"10\" cy=\"20\" rx=\"4\" ry=\"2\"/>"
        "<polygon points=\"0,0 10,0 10,10\"/>"
        "<polyline points=\" 1,2  3,4 5\"/>"
        "<desc>ignored</desc><unknown><line x1=\"9\" y1=\"9\" x2=\"8\" y2=\"8\"/></unknown>");
    ASSERT_EQ(svg.Count(), 7u);
    ExpectPoints(svg.Line(0), {{0, 0}, {10, -10}});
    ASSERT_NE(dynamic_cast<CRectangle*>(svg.At(1)), nullptr);
    ExpectRect(svg.At(1), 0, 0, 10, 5);  // top edge on the x axis
    ExpectRect(svg.At(2), 2, -3, 10, 5);
    ASSERT_NE(dynamic_cast<CCircle*>(svg.At(3)), nullptr);
    ExpectRect(svg.At(3), 3, -3, 4, 4, 0.01f);
    ASSERT_NE(dynamic_cast<CEllipseArc*>(svg.At(4)), nullptr);
    ExpectRect(svg.At(4), 6, -18, 8, 4, 0.01f);
    ExpectPoints(svg.Line(5), {{0, 0}, {10, 0}, {10, -10}, {0, 0}});
    ExpectPoints(svg.Line(6), {{1, -2}, {3, -4}});
}

TEST(SvgReader, ElementsWithoutTheirSizeAreSkipped) {
    Svg svg(
        "<rect x=\"1\" y=\"1\"/><rect width=\"0\" height=\"4\"/><rect width=\"-3\" height=\"4\"/>"
        "<circle cx=\"1\"/><circle r=\"-1\"/><ellipse rx=\"3\"/><polygon/><polyline points=\"7\"/>"
        "<path/><line x2=\"4\"/>");
    ASSERT_EQ(svg.Count(), 1u);  // only the line: its coordinates default to 0
    ExpectPoints(svg.Line(0), {{0, 0}, {4, 0}});
}

TEST(SvgReader, StraightPathCommandsAbsoluteAndRelative) {
    Svg svg(
        "<path d=\"M 0 0 L 10 0 L 10 10 Z\"/>"
        "<path d=\"M0,0 H 10 V 10\"/>"
        "<path d=\"m 10 10 l 5 0\"/>"
        "<path d=\"M0,0L10-5h-2v-3\"/>"
        "<path d=\"M0 0 10 0 10 10\"/>"
        "<path d=\"m1 1 2 0 0 2\"/>"
        "<path d=\"M0 0 L10 0 m0 10 l5 0\"/>"
        "<path d=\"M0 0 L4 0 L4 4 z l -1 -1\"/>"
        "<path d=\"M.5.5L1e1 0\"/>");
    ASSERT_EQ(svg.Count(), 11u);
    ExpectPoints(svg.Line(0), {{0, 0}, {10, 0}, {10, -10}, {0, 0}});
    ExpectPoints(svg.Line(1), {{0, 0}, {10, 0}, {10, -10}});
    ExpectPoints(svg.Line(2), {{10, -10}, {15, -10}});
    ExpectPoints(svg.Line(3), {{0, 0}, {10, 5}, {8, 5}, {8, 8}});
    ExpectPoints(svg.Line(4), {{0, 0}, {10, 0}, {10, -10}});
    ExpectPoints(svg.Line(5), {{1, -1}, {3, -1}, {3, -3}});
    // A relative move continues from where the previous subpath ended.
    ExpectPoints(svg.Line(6), {{0, 0}, {10, 0}});
    ExpectPoints(svg.Line(7), {{10, -10}, {15, -10}});
    // After a close, drawing restarts at the subpath's start.
    ExpectPoints(svg.Line(8), {{0, 0}, {4, 0}, {4, -4}, {0, 0}});
    ExpectPoints(svg.Line(9), {{0, 0}, {-1, 1}});
    ExpectPoints(svg.Line(10), {{0.5f, -0.5f}, {10, 0}});
}

TEST(SvgReader, CurvesFollowTheirGeometry) {
    Svg svg(
        "<path d=\"M0 0 C 0 10 10 10 10 0\"/>"
        "<path d=\"M0 0 c 0 10 10 10 10 0 s 10 -10 10 0\"/>"
        "<path d=\"M0 0 Q 5 10 10 0\"/>"
        "<path d=\"M0 0 q 5 10 10 0 t 10 0\"/>"
        "<path d=\"M0 0 A 5 5 0 0 1 10 0\"/>"
        "<path d=\"M0 0 a5,5 0 0,0 10,0\"/>"
        "<path d=\"M0 0 A 1 1 0 1 1 10 0\"/>");
    ASSERT_EQ(svg.Count(), 7u);
    for (size_t i = 0; i < svg.Count(); ++i) EXPECT_GT(svg.Line(i)->arrPoint.size(), 4u) << i;

    // Cubic: the curve's middle is 0.75 of the control height, below the axis.
    const CPolyLine* c = svg.Line(0);
    EXPECT_NEAR(MinY(c), -7.5f, 0.3f);
    EXPECT_NEAR(c->arrPoint.back().x, 10, 1e-4);
    EXPECT_NEAR(c->arrPoint.front().x, 0, 1e-4);
    // The smooth continuation mirrors the last control point: above the axis.
    const CPolyLine* s = svg.Line(1);
    EXPECT_NEAR(MaxY(s), 7.5f, 0.3f);
    EXPECT_NEAR(s->arrPoint.back().x, 20, 1e-4);
    EXPECT_NEAR(s->arrPoint.back().y, 0, 1e-4);
    // Quadratic: the middle is half the control height.
    EXPECT_NEAR(MinY(svg.Line(2)), -5.0f, 0.3f);
    const CPolyLine* t = svg.Line(3);
    EXPECT_NEAR(MinY(t), -5.0f, 0.3f);
    EXPECT_NEAR(MaxY(t), 5.0f, 0.3f);
    // A half circle that runs up the screen (the sweep flag set) is above
    // the axis once y is flipped; the other sweep runs below.
    const CPolyLine* a = svg.Line(4);
    ExpectOnCircle(a, 5, 0, 5, 0.3f);
    EXPECT_NEAR(MaxY(a), 5.0f, 0.3f);
    EXPECT_NEAR(a->arrPoint.back().x, 10, 1e-4);
    const CPolyLine* a2 = svg.Line(5);
    ExpectOnCircle(a2, 5, 0, 5, 0.3f);
    EXPECT_NEAR(MinY(a2), -5.0f, 0.3f);
    // A radius too small for the chord grows to fit it.
    ExpectOnCircle(svg.Line(6), 5, 0, 5, 0.3f);
}

// Arcs of every flag pair, on a circle and on a turned ellipse, and
// quadratic curves with their smooth continuation, against the true curves
// computed here: the arc's centre from the chord in the ellipse's unit
// circle space (the flags pick one of the two centres and the direction),
// the quadratic from its Bernstein form.
TEST(SvgReader, ArcsOfEveryFlagPairAndQuadraticsFollowTheTrueCurve) {
    using testsupport::DistToPolyline;
    constexpr double kPi = 3.14159265358979323846;
    struct Arc {
        double rx, ry, rotDeg;
    };
    for (const Arc& e : {Arc{6, 6, 0}, Arc{8, 4.5, 30}, Arc{5, 7, -65}}) {
        for (int flags = 0; flags < 4; ++flags) {
            const bool large = flags & 2, sweep = flags & 1;
            const double x0 = 2, y0 = 1, x1 = 9, y1 = 5;  // SVG coordinates, y down
            char d[160];
            // Even cases absolute, odd ones relative to the start.
            std::snprintf(d, sizeof d, "M%g %g %c%g %g %g %d %d %g %g", x0, y0, flags % 2 ? 'a' : 'A', e.rx, e.ry,
                          e.rotDeg, large, sweep, flags % 2 ? x1 - x0 : x1, flags % 2 ? y1 - y0 : y1);
            Svg svg(std::string("<path d=\"") + d + "\"/>");
            ASSERT_EQ(svg.Count(), 1u) << d;
            const CPolyLine* line = svg.Line(0);
            ASSERT_GE(line->arrPoint.size(), 2u) << d;

            const double c = std::cos(e.rotDeg * kPi / 180), s = std::sin(e.rotDeg * kPi / 180);
            const auto toUnit = [&](double x, double y, double& u, double& v) {
                u = (c * x + s * y) / e.rx;
                v = (-s * x + c * y) / e.ry;
            };
            double u0, v0, u1, v1;
            toUnit(x0, y0, u0, v0);
            toUnit(x1, y1, u1, v1);
            const double len = std::hypot(u1 - u0, v1 - v0);
            ASSERT_LT(len, 2.0) << "radii large enough for the chord";
            const double h = std::sqrt(1 - len * len / 4);
            double cu = 0, cv = 0, a0 = 0, delta = 0;
            for (double side : {1.0, -1.0}) {
                const double pu = (u0 + u1) / 2 - side * h * (v1 - v0) / len;
                const double pv = (v0 + v1) / 2 + side * h * (u1 - u0) / len;
                const double start = std::atan2(v0 - pv, u0 - pu);
                double sw = std::fmod(std::atan2(v1 - pv, u1 - pu) - start + 4 * kPi, 2 * kPi);
                if (!sweep) sw -= 2 * kPi;
                if ((std::fabs(sw) > kPi) == large) {
                    cu = pu, cv = pv, a0 = start, delta = sw;
                }
            }
            ASSERT_NE(delta, 0.0);
            EXPECT_NEAR(line->arrPoint.front().x, x0, 1e-4) << d;
            EXPECT_NEAR(-line->arrPoint.front().y, y0, 1e-4) << d;
            EXPECT_NEAR(line->arrPoint.back().x, x1, 1e-4) << d;
            EXPECT_NEAR(-line->arrPoint.back().y, y1, 1e-4) << d;
            double travelled = 0, last = 0;
            for (const tagPOINTF& p : line->arrPoint) {
                double u, v;
                toUnit(p.x, -p.y, u, v);
                const double a = std::atan2(v - cv, u - cu);
                // The true point at this angle, back in drawing space.
                const double eu = e.rx * (cu + std::cos(a)), ev = e.ry * (cv + std::sin(a));
                EXPECT_NEAR(p.x, c * eu - s * ev, 5e-3) << d;
                EXPECT_NEAR(-p.y, s * eu + c * ev, 5e-3) << d;
                double step = std::remainder(a - a0 - last, 2 * kPi);
                EXPECT_GE(step * delta, -1e-6) << d << ": the arc turns back";
                last += step;
                travelled = last;
            }
            EXPECT_NEAR(travelled, delta, 1e-3) << d;
        }
    }

    // Q then T, absolute and relative; a T after a straight line is a
    // straight line (its control point is the current point, not one
    // mirrored from an earlier curve).
    const auto quad = [](tagPOINTF p0, tagPOINTF q, tagPOINTF p1, std::vector<tagPOINTF>& out) {
        for (int k = 0; k <= 400; ++k) {
            const double t = k / 400.0, m = 1 - t;
            out.push_back({static_cast<float>(m * m * p0.x + 2 * m * t * q.x + t * t * p1.x),
                           static_cast<float>(-(m * m * p0.y + 2 * m * t * q.y + t * t * p1.y))});
        }
    };
    std::vector<tagPOINTF> qt, lt;
    quad({1, 2}, {7, 11}, {13, 3}, qt);
    quad({13, 3}, {19, -5}, {21, -4}, qt);  // the control point mirrored about (13, 3)
    quad({0, 0}, {1, 5}, {2, 0}, lt);
    quad({2, 0}, {2, 0}, {3, 1}, lt);
    quad({3, 1}, {3, 1}, {9, 4}, lt);
    const struct {
        const char* d;
        const std::vector<tagPOINTF>& truth;
    } curves[] = {{"M1 2 Q 7 11 13 3 T 21 -4", qt}, {"m1 2 q6 9 12 1 t8 -7", qt}, {"M0 0 Q1 5 2 0 L3 1 T9 4", lt}};
    for (const auto& k : curves) {
        Svg svg(std::string("<path d=\"") + k.d + "\"/>");
        ASSERT_EQ(svg.Count(), 1u) << k.d;
        const std::vector<tagPOINTF>& got = svg.Line(0)->arrPoint;
        for (const tagPOINTF& p : got) EXPECT_LT(DistToPolyline(p, k.truth), 2e-3) << k.d;
        // And the flattened line follows the whole curve, within the flatness.
        for (const tagPOINTF& p : k.truth) EXPECT_LT(DistToPolyline(p, got), 0.26) << k.d;
    }
}

TEST(SvgReader, BrokenPathDataKeepsWhatCameBefore) {
    Svg svg(
        "<path d=\"M 0 0 L 5\"/>"
        "<path d=\"M 1 1 L 2 2 X 3 3\"/>"
        "<path d=\"L 5 5\"/>"
        "<path d=\"M 0 0 A 5 5 0 2 1 10 0\"/>"
        "<path d=\"M 0 0 C 1 1 2\"/>"
        "<path d=\"M\"/>"
        "<path d=\"\"/>");
    // A path that does not begin with a move draws nothing.
    ASSERT_EQ(svg.Count(), 4u);
    ExpectPoints(svg.Line(0), {{0, 0}});
    ExpectPoints(svg.Line(1), {{1, -1}, {2, -2}});
    ExpectPoints(svg.Line(2), {{0, 0}});
    ExpectPoints(svg.Line(3), {{0, 0}});
}

TEST(SvgReader, GroupTransformsApplyToTheirOwnContentInSvgOrder) {
    Svg svg(
        "<line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/>"
        "<g transform=\"translate(5,5)\"><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/></g>"
        "<g transform=\"translate(10,0) scale(2)\"><line x1=\"1\" y1=\"0\" x2=\"1\" y2=\"1\"/></g>"
        "<g transform=\"rotate(90)\"><line x1=\"10\" y1=\"0\" x2=\"0\" y2=\"0\"/></g>"
        "<g transform=\"rotate(180 5 5)\"><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"0\"/></g>"
        "<g transform=\"scale(3)\"><g transform=\"translate(1 1)\"><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/></g></g>"
        "<g transform=\"matrix(1 0 0 1 50 50) translate(2)\"><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/></g>"
        "<g transform=\"translate(4\"><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/></g>"
        "<g transform=\"scale(0)\"><line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/></g>");
    ASSERT_EQ(svg.Count(), 8u);
    ExpectPoints(svg.Line(0), {{0, 0}, {1, 0}});       // before the g: untouched
    ExpectPoints(svg.Line(1), {{5, -5}, {6, -5}});     // down the screen is -y
    ExpectPoints(svg.Line(2), {{12, 0}, {12, -2}});    // scaled first, then moved
    ExpectPoints(svg.Line(3), {{0, -10}, {0, 0}});     // clockwise on screen
    ExpectPoints(svg.Line(4), {{10, -10}, {10, -10}});
    ExpectPoints(svg.Line(5), {{3, -3}, {6, -3}});     // inner transform first
    ExpectPoints(svg.Line(6), {{2, 0}, {3, 0}});       // matrix is passed over
    ExpectPoints(svg.Line(7), {{0, 0}, {1, 0}});       // unclosed item: nothing
}

TEST(SvgReader, HostileDocumentsFailCleanly) {
    // Numbers beyond any drawing: the element is dropped, or the path ends.
    Svg huge("<line x1=\"1e400\" y1=\"0\" x2=\"1\" y2=\"1\"/><circle r=\"1e300\"/>"
             "<path d=\"M0 0 L 1 1 L 1e30 0\"/><polygon points=\"0,0 1e20,5\"/>"
             "<path d=\"M0 0 A 1e-300 1e-300 0 0 1 10 0\"/>");
    ASSERT_NE(huge.group, nullptr);
    ASSERT_EQ(huge.Count(), 3u);
    ExpectPoints(huge.Line(2), {{0, 0}, {10, 0}});  // radii that vanish: a line
    ExpectPoints(huge.Line(0), {{0, 0}, {1, -1}});
    ExpectPoints(huge.Line(1), {{0, 0}, {0, 0}});  // the polygon's one point, closed

    // Transforms that would leave the float range refuse the file.
    std::string nest;
    for (int i = 0; i < 6; ++i) nest += "<g transform=\"scale(1000000)\">";
    nest += "<line x1=\"0\" y1=\"0\" x2=\"1000\" y2=\"0\"/>";
    for (int i = 0; i < 6; ++i) nest += "</g>";
    EXPECT_EQ(Svg(nest).group, nullptr);

    // Deep nesting: no stack overflow; content beyond the depth limit is
    // skipped.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<g>";
    deep += "<line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/>";
    for (int i = 0; i < 100000; ++i) deep += "</g>";
    Svg d(deep);
    ASSERT_NE(d.group, nullptr);
    EXPECT_EQ(d.Count(), 0u);

    // Entity definitions are never expanded, external ones never read.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY lol \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
        laughs += "\">";
    }
    laughs += "<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>";
    laughs += "<svg><path d=\"&lol9;\"/><line x1=\"&xxe;\" y1=\"0\" x2=\"2\" y2=\"0\"/><text>&lol9;</text></svg>";
    Svg lol(laughs, false);
    ASSERT_NE(lol.group, nullptr);
    ASSERT_EQ(lol.Count(), 2u);
    ExpectPoints(lol.Line(0), {{0, 0}, {2, 0}});
    EXPECT_LT(dynamic_cast<CFonts&>(*lol.At(1)).GetText().GetLength(), 16);

    const auto path = TempFile("lol.svg", laughs);
    IXMLDOMDocument doc;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc.load(path.wstring().c_str(), &ok), S_OK);
    std::filesystem::remove_all(path.parent_path());
    IXMLDOMElement root;
    ASSERT_EQ(doc.get_documentElement(root), S_OK);
    IXMLDOMNodeList kids;
    root.get_childNodes(kids);
    IXMLDOMNode textNode;
    ASSERT_EQ(kids.get_item(2, textNode), S_OK);
    CString text;
    textNode.get_text(text);
    EXPECT_LT(text.GetLength(), 16);
    CString attr;
    IXMLDOMElement::FromNode([&] { IXMLDOMNode n; kids.get_item(1, n); return n; }()).getAttribute(L"x1", attr);
    EXPECT_EQ(attr.Find(L"root"), -1);
}

TEST(SvgDom, ListsElementsAndTextLikeTheDefaultDocument) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg a=\"1\" b=\"&amp;&#x4e2d;\">\n  <!-- note -->\n"
        "  <text> hello <tspan>world</tspan>  </text>\n  <![CDATA[raw]]>\n</svg>";
    IXMLDOMDocument doc;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc.loadBuffer(xml.data(), xml.size(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    long code = -1;
    doc.get_parseError(&code);
    EXPECT_EQ(code, 0);

    IXMLDOMElement root;
    ASSERT_EQ(doc.get_documentElement(root), S_OK);
    CString value;
    EXPECT_EQ(root.getAttribute(L"b", value), S_OK);
    EXPECT_STREQ(value.GetString(), L"&中");
    EXPECT_EQ(root.getAttribute(L"missing", value), S_FALSE);
    EXPECT_TRUE(value.IsEmpty());

    IXMLDOMNodeList kids;
    ASSERT_EQ(root.get_childNodes(kids), S_OK);
    long n = 0;
    kids.get_length(&n);
    ASSERT_EQ(n, 3);  // comment, text element, CDATA: blank text is not listed
    IXMLDOMNode node;
    DOMNodeType type = NODE_INVALID;
    kids.get_item(0, node);
    node.get_nodeType(&type);
    EXPECT_EQ(type, NODE_COMMENT);
    kids.get_item(1, node);
    CString name;
    node.get_nodeName(name);
    EXPECT_STREQ(name.GetString(), L"text");
    node.get_text(value);
    EXPECT_STREQ(value.GetString(), L"hello world");
    kids.get_item(2, node);
    node.get_nodeType(&type);
    EXPECT_EQ(type, NODE_CDATA_SECTION);
    EXPECT_EQ(kids.get_item(3, node), E_INVALIDARG);
    EXPECT_TRUE(node.IsNull());
    EXPECT_TRUE(IXMLDOMElement::FromNode(node).IsNull());

    // Nodes outlive the document object that made them.
    IXMLDOMElement kept;
    {
        IXMLDOMDocument other;
        ASSERT_EQ(other.loadBuffer(xml.data(), xml.size(), &ok), S_OK);
        other.get_documentElement(kept);
    }
    kept.get_tagName(name);
    EXPECT_STREQ(name.GetString(), L"svg");

    ASSERT_EQ(doc.loadBuffer("<a><b></a>", 10, &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    doc.get_parseError(&code);
    EXPECT_NE(code, 0);
    EXPECT_EQ(doc.get_documentElement(root), S_FALSE);
}

TEST(SvgReader, FaceNamesMapExactly) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"SimHei", L"黑体"}, {L"SimSun", L"宋体"}, {L"LiSu", L"隶书"}, {L"NSimSun", L"新宋体"},
        {L"simhei", L"simhei"}, {L"Arial", L"Arial"}, {L"", L""},
    };
    for (const auto& [in, out] : cases) {
        CString face(in);
        CGroupShape::SvgMapFontFamily(face);
        EXPECT_STREQ(face.GetString(), out);
    }
}

// ---- texts -------------------------------------------------------------------

namespace {

// The letter H of DejaVu Sans (fonts-dejavu-core 2.37), in em, as its glyf
// and hmtx tables give it (units of 1/2048 em): its ink's left edge, its top
// (the cap height; it stands on the baseline) and its advance.
struct {
    double left = 201 / 2048.0, top = 1493 / 2048.0, advance = 1540 / 2048.0;
} const kH;

CFonts* Text(const Svg& svg, size_t i) { return dynamic_cast<CFonts*>(svg.At(i)); }

// An "H" (or a run that starts with one and has no descender) whose pen
// starts at (x, baseline) and whose em is `size`: its ink's left edge is the
// H's left bearing right of x, its bottom on the baseline, its top a cap
// height above.
void ExpectH(const Svg& svg, size_t i, double x, double baseline, double size) {
    ASSERT_NE(Text(svg, i), nullptr);
    Gdiplus::RectF r;
    Text(svg, i)->GetRectangle(r);
    const double tol = 0.002 * size + 1e-3;
    EXPECT_NEAR(r.X, x + kH.left * size, tol) << "text " << i;
    EXPECT_NEAR(r.Y - r.Height, baseline, tol) << "text " << i;
    EXPECT_NEAR(r.Height, kH.top * size, tol) << "text " << i;
}

}  // namespace

TEST(SvgReaderText, InkscapeLinesStandOnTheirBaselines) {
    Svg svg(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" "
        "xmlns:sodipodi=\"http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd\" width=\"210mm\" height=\"297mm\">\n"
        "  <g id=\"layer1\">\n"
        "    <text xml:space=\"preserve\" style=\"font-style:normal;font-size:20px;line-height:1.25;"
        "font-family:'DejaVu Sans';-inkscape-font-weight:normal;fill:#000000\" x=\"10\" y=\"50\">"
        "<tspan sodipodi:role=\"line\" x=\"10\" y=\"50\">HHH</tspan>"
        "<tspan sodipodi:role=\"line\" x=\"10\" y=\"75\" style=\"font-size:10.5px\">H</tspan></text>\n"
        "    <text style=\"font-size:8px;font-family:sans-serif, &quot;DejaVu Sans&quot;\" x=\"0\" y=\"100\">"
        "<tspan sodipodi:role=\"line\" x=\"0\" y=\"100\">H \n  H<tspan style=\"font-weight:bold\">H</tspan></tspan></text>\n"
        "  </g>\n"
        "</svg>",
        false);
    ASSERT_EQ(svg.Count(), 3u);
    ExpectH(svg, 0, 10, -50, 20);
    ExpectH(svg, 1, 10, -75, 10.5);
    ExpectH(svg, 2, 0, -100, 8);
    EXPECT_STREQ(Text(svg, 0)->GetText().GetString(), L"HHH");
    EXPECT_STREQ(Text(svg, 0)->GetFontName().GetString(), L"DejaVu Sans");
    // A nested tspan without a position is part of its line; line ends and
    // blank runs are one blank.
    EXPECT_STREQ(Text(svg, 2)->GetText().GetString(), L"H HH");
}

TEST(SvgReaderText, IllustratorTransformsAndGroupsPlaceTheBaseline) {
    Svg svg(
        "<g transform=\"translate(0,100)\">"
        "<text transform=\"translate(100 40) scale(2)\" font-family=\"'DejaVuSans', 'DejaVu Sans', Arial, sans-serif\" "
        "font-size=\"12px\"><tspan x=\"0\" y=\"0\">H</tspan><tspan x=\"5\" y=\"14.4\" font-size=\"6\">H</tspan></text>"
        "</g>"
        "<text x=\"3\" y=\"-4\" transform=\"rotate(180 3 -4)\" font-family=\"DejaVu Sans\" font-size=\"10\">H</text>");
    ASSERT_EQ(svg.Count(), 3u);
    ExpectH(svg, 0, 100, -140, 24);
    ExpectH(svg, 1, 110, -168.8, 12);
    // Turned half round about its pen: the ink hangs below y = 4, left of x = 3.
    Gdiplus::RectF r;
    Text(svg, 2)->GetRectangle(r);
    EXPECT_NEAR(r.Y, 4, 0.02);
    EXPECT_NEAR(r.Height, kH.top * 10, 0.02);
    EXPECT_NEAR(r.X + r.Width, 3 - kH.left * 10, 0.02);
}

TEST(SvgReaderText, RunsWithoutAPositionFollowThePen) {
    Svg svg(
        "<text x=\"0\" y=\"0\" font-family=\"DejaVu Sans\" font-size=\"10\">HH"
        "<tspan x=\"50\" font-size=\"5\">H</tspan>H<tspan y=\"-10\">H</tspan></text>");
    ASSERT_EQ(svg.Count(), 4u);
    ExpectH(svg, 0, 0, 0, 10);
    ExpectH(svg, 1, 50, 0, 5);                     // x set, y kept
    ExpectH(svg, 2, 50 + kH.advance * 5, 0, 10);   // back in the text's size
    ExpectH(svg, 3, 50 + kH.advance * 15, 10, 10); // y set, x kept
}

TEST(SvgReaderText, DefaultsAndFaceNames) {
    Svg svg("<text x=\"1\" y=\"2\">H</text><text font-family=\"SimHei\" font-size=\"medium\">H</text>"
            "<text font-family=\"'No Such Face', Nor This\" font-size=\"7\">H</text>");
    ASSERT_EQ(svg.Count(), 3u);
    // No face installed under these names: the layout's fallback draws it.
    EXPECT_STREQ(Text(svg, 0)->GetFontName().GetString(), L"Arial");
    EXPECT_STREQ(Text(svg, 1)->GetFontName().GetString(), L"黑体");
    EXPECT_STREQ(Text(svg, 2)->GetFontName().GetString(), L"No Such Face");
    const bool dejaVuFallback = !Gdiplus::FontFamily(L"Arial").IsAvailable() &&
                                !Gdiplus::FontFamily(L"Courier New").IsAvailable() &&
                                !Gdiplus::FontFamily(L"宋体").IsAvailable();
    if (dejaVuFallback) {
        ExpectH(svg, 0, 1, -2, 12);
        ExpectH(svg, 1, 0, 0, 12);  // a size without a number is not given
        ExpectH(svg, 2, 0, 0, 7);
    }
}

TEST(SvgReaderText, BadNumbersAndAbsurdSizesSkipTheText) {
    Svg svg(
        "<text x=\"1e400\">H</text><text y=\"-99999999999\">H</text>"
        "<text font-size=\"0\">H</text><text font-size=\"-5\">H</text><text font-size=\"1e7\">H</text>"
        "<text style=\"font-size:1e999px\" font-size=\"10\">H</text><text font-size=\"NaN\">H</text>"
        "<text></text><text>  \n\t </text><text transform=\"scale(0)\">H</text>"
        "<text x=\"0\" y=\"0\" font-size=\"10\" font-family=\"DejaVu Sans\">"
        "<tspan x=\"5\" y=\"0\" font-size=\"-1\">H</tspan><tspan x=\"1e99\" y=\"0\">H</tspan>"
        "<tspan x=\"abc\" y=\"9\">H</tspan></text>"
        "<line x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/>");
    ASSERT_NE(svg.group, nullptr);
    ASSERT_EQ(svg.Count(), 3u);  // "NaN" has no number: the default size
    ExpectH(svg, 1, 0, -9, 10);  // an x without a number is 0
    ExpectPoints(svg.Line(2), {{0, 0}, {1, 0}});

    // A text too long for the file's point budget refuses the file.
    std::string longText = "<text>";
    for (int i = 0; i < 4100; ++i) longText += std::string(1000, 'x') + ' ';
    EXPECT_EQ(Svg(longText + "</text>").group, nullptr);
}
