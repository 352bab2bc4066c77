// The Gerber reader: parameter blocks, aperture templates, and whole files
// written by the tests, measured by the area and the extent of what they
// produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/combine.h"
#include "morvik/compose/group.h"
#include "morvik/core/runlog.h"
#include "morvik/core/vectorfile.h"
#include "morvik/core/points.h"
#include "morvik/core/polyline.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/gerber.h"
#include "morvik/import/gerber_geometry.h"
#include "support/shape_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

using testsupport::HostScope;
using testsupport::TempDir;

using GroupPtr = std::unique_ptr<CGroupShape, testsupport::FreeShape>;

// The points of one child: a polyline's own points, any other shape's
// flattened outline.
std::vector<tagPOINTF> PointsOf(CBaseShape* s) {
    if (auto* line = dynamic_cast<CPolyLine*>(s)) return line->arrPoint;
    std::vector<tagPOINTF> pts;
    if (s->GetShapeKind() == SHAPE_COMBINE) {
        for (CBaseShape* c : s->GetChildren()) {
            const auto more = PointsOf(c);
            pts.insert(pts.end(), more.begin(), more.end());
        }
        return pts;
    }
    s->GetFlattenPathPoints(pts, 0.001f);
    return pts;
}

double SignedArea(const std::vector<tagPOINTF>& p) {
    double a = 0;
    for (size_t i = 0; i + 1 < p.size(); ++i) a += double(p[i].x) * p[i + 1].y - double(p[i + 1].x) * p[i].y;
    if (!p.empty()) a += double(p.back().x) * p.front().y - double(p.front().x) * p.back().y;
    return a / 2;
}

// The covered area: the merge turns holes against their outer rings, so
// signed areas add up; a single unmerged outline may run either way.
double NetArea(CGroupShape& g) {
    double a = 0;
    for (CBaseShape* c : g.GetChildren()) a += SignedArea(PointsOf(c));
    return std::fabs(a);
}

struct Box {
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
};
Box Bounds(CGroupShape& g) {
    Box b;
    for (CBaseShape* c : g.GetChildren())
        for (const tagPOINTF& p : PointsOf(c)) {
            b.minX = std::min(b.minX, double(p.x));
            b.maxX = std::max(b.maxX, double(p.x));
            b.minY = std::min(b.minY, double(p.y));
            b.maxY = std::max(b.maxY, double(p.y));
        }
    return b;
}

void ExpectBox(const Box& b, double minX, double minY, double maxX, double maxY, double tol = 2e-3) {
    EXPECT_NEAR(b.minX, minX, tol);
    EXPECT_NEAR(b.minY, minY, tol);
    EXPECT_NEAR(b.maxX, maxX, tol);
    EXPECT_NEAR(b.maxY, maxY, tol);
}

const std::string kHeader = "%FSLAX24Y24*%\n%MOMM*%\n";

struct Read {
    GroupPtr group{new CGroupShape};
    bool ok = false;
    int lines = -1;
};

Read ReadText(const std::string& text, const std::string& name = "board.gbr") {
    HostScope quiet;  // files without apertures ask a question
    TempDir dir;
    Read r;
    // Fine flattening, so that areas can be held to known values closely.
    r.group->SetSmoothRatio(0.001f);
    CParseGerber parser;
    r.ok = parser.ParseFile(dir.Write(name, text).c_str(), r.group.get(), r.lines);
    return r;
}

}  // namespace

// ---- parameter blocks -------------------------------------------------------------

TEST(GerberParams, FormatUnitsAndStepRepeat) {
    CParseGerber p;
    int pol = 1;
    p.DataBlockAnalyst("FSLAX24Y24*", pol);
    EXPECT_EQ(p.m_format.nZeroSuppression, 0);
    EXPECT_EQ(p.m_format.nNotation, 0);
    EXPECT_EQ(p.m_format.nXInteger, 2);
    EXPECT_EQ(p.m_format.nXDecimal, 4);
    EXPECT_EQ(p.m_format.nYInteger, 2);
    EXPECT_EQ(p.m_format.nYDecimal, 4);

    p.DataBlockAnalyst("FSTIX35Y36N2*", pol);
    EXPECT_EQ(p.m_format.nZeroSuppression, 1);
    EXPECT_EQ(p.m_format.nNotation, 1);
    EXPECT_EQ(p.m_format.nXDecimal, 5);
    EXPECT_EQ(p.m_format.nYDecimal, 6);
    EXPECT_EQ(p.m_format.nNDigits, 2);

    // A block cut short leaves what it did not reach.
    p.DataBlockAnalyst("FS", pol);
    p.DataBlockAnalyst("FSLAX2", pol);
    EXPECT_EQ(p.m_format.nXInteger, 3);

    p.DataBlockAnalyst("SRX3Y2I5.0J4.0*", pol);
    EXPECT_TRUE(p.m_stepRepeat.bOn);
    EXPECT_EQ(p.m_stepRepeat.nX, 3);
    EXPECT_EQ(p.m_stepRepeat.nY, 2);
    EXPECT_DOUBLE_EQ(p.m_stepRepeat.dI, 5.0);
    EXPECT_DOUBLE_EQ(p.m_stepRepeat.dJ, 4.0);
    p.DataBlockAnalyst("SR*", pol);
    EXPECT_FALSE(p.m_stepRepeat.bOn);

    p.DataBlockAnalyst("MOIN*", pol);
    EXPECT_TRUE(p.m_bInch);
    p.DataBlockAnalyst("MOMM*", pol);
    EXPECT_FALSE(p.m_bInch);

    // Layer polarity lands on the stored layer and reaches the caller.
    p.DataBlockAnalyst("LPC*", pol);
    EXPECT_EQ(pol, 0);
    EXPECT_EQ(p.GetCurLayer().nPolarity, 0);
    EXPECT_EQ(p.GetCurLayer().strName, "New Layer");
}

TEST(GerberParams, ApertureTemplatesHaveTheirSizes) {
    CParseGerber p;
    int pol = 1;
    p.DataBlockAnalyst("MOIN*", pol);
    p.DataBlockAnalyst("ADD10C,0.01*", pol);
    ASSERT_EQ(p.m_mapApertureShapes.count(10), 1u);
    EXPECT_NEAR(p.m_mapApertureShapes[10].rect.Width, 0.254, 1e-4);  // radius 0.127

    p.DataBlockAnalyst("MOMM*", pol);
    p.DataBlockAnalyst("ADD11R,0.5X0.3X0.1*", pol);
    GerberApertureShape& r = p.m_mapApertureShapes[11];
    EXPECT_EQ(r.kind, CParseGerber::AP_RECTANGLE);
    EXPECT_NEAR(r.rect.Width, 0.5, 1e-5);
    EXPECT_NEAR(r.rect.Height, 0.3, 1e-5);
    ASSERT_EQ(r.flash->GetShapeKind(), SHAPE_COMBINE);
    EXPECT_EQ(r.flash->GetChildren().size(), 2u);

    // Definitions that give no shape store no template.
    p.DataBlockAnalyst("ADD12P,1.0X2*", pol);
    p.DataBlockAnalyst("ADD13UNKNOWN,1*", pol);
    p.DataBlockAnalyst("ADD14C*", pol);
    p.DataBlockAnalyst("ADD15C,-1*", pol);
    p.DataBlockAnalyst("ADD16C,1e300*", pol);
    p.DataBlockAnalyst("ADD17R,1.0X1.0X0.1*", pol);
    for (int d : {12, 13, 14, 15, 16}) EXPECT_EQ(p.m_mapApertureShapes.count(d), 0u) << d;
    EXPECT_EQ(p.m_mapApertureShapes.count(17), 1u);

    // A redefinition replaces the template.
    p.DataBlockAnalyst("ADD10C,2.0*", pol);
    EXPECT_NEAR(p.m_mapApertureShapes[10].rect.Width, 2.0, 1e-4);
}

TEST(GerberParams, MacroPrimitiveCentreLine) {
    CParseGerber p;
    p.GerberAMAnalyst("BOX", "21,1,2,1,0,0,0");
    ASSERT_EQ(p.m_mapMacros["BOX"].size(), 1u);
    Gdiplus::RectF r;
    p.m_mapMacros["BOX"][0]->GetRectangle(r);
    // Within the clipping grid (1/3571 mm).
    EXPECT_NEAR(r.X, -1.0, 5e-4);
    EXPECT_NEAR(r.Y, 0.5, 5e-4);
    EXPECT_NEAR(r.Width, 2.0, 5e-4);
    EXPECT_NEAR(r.Height, 1.0, 5e-4);
    // Primitives too short to be read make no shape.
    p.GerberAMAnalyst("BAD", "21,1,2");
    p.GerberAMAnalyst("BAD", "4,1,1000000000,0,0");
    p.GerberAMAnalyst("BAD", "1");
    EXPECT_TRUE(p.m_mapMacros["BAD"].empty());
}

TEST(GerberParams, DataBlocks) {
    CParseGerber p;
    p.DateBlockRs274dAnalyst("G04 a comment*", 1);
    p.DateBlockRs274dAnalyst("Q12*", 1);
    p.DateBlockRs274dAnalyst("X100Y200D01", 1);  // no "*": dropped
    EXPECT_TRUE(p.m_vLayers.empty() || p.m_vLayers.back().vContent.empty());
    p.DateBlockRs274dAnalyst("G01X-100Y200I5J-6D01*", 0);
    p.DateBlockRs274dAnalyst("G54D10*", 1);
    ASSERT_EQ(p.m_vLayers.size(), 1u);
    const auto& c = p.m_vLayers[0].vContent;
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].nGCode, 1);
    EXPECT_EQ(c[0].strX, "-100");
    EXPECT_EQ(c[0].strY, "200");
    EXPECT_EQ(c[0].strI, "5");
    EXPECT_EQ(c[0].strJ, "-6");
    EXPECT_EQ(c[0].nDCode, 1);
    EXPECT_EQ(c[0].nPolarity, 0);
    EXPECT_EQ(c[1].nGCode, 54);
    EXPECT_EQ(c[1].nDCode, 10);
}

TEST(GerberParams, NumbersAfterSpacesAndTabsOnly) {
    using gerber_detail::ParseDouble;
    using gerber_detail::ParseLong;
    EXPECT_EQ(ParseDouble(" \t+1.5e2X"), 150.0);
    EXPECT_EQ(ParseDouble("-.5E-1"), -0.05);
    EXPECT_EQ(ParseDouble("2.5 "), 2.5);
    EXPECT_EQ(ParseDouble("3e"), 3.0);
    EXPECT_EQ(ParseDouble("-1e400"), -HUGE_VAL);  // refused later as out of range
    EXPECT_EQ(ParseDouble("1e-400"), 0.0);         // too small is zero, not infinite
    for (const char* none : {"\r5", "", "X", "+-5", "inf", "nan", "0x1p3"}) EXPECT_EQ(ParseDouble(none), 0.0) << none;
    EXPECT_EQ(ParseLong(" -12*"), -12);
    EXPECT_EQ(ParseLong("\t+0034.9"), 34);
    EXPECT_EQ(ParseLong("99999999999"), INT32_MAX);
    EXPECT_EQ(ParseLong("-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseLong("\n3"), 0);
}

// ---- whole files ---------------------------------------------------------------------

TEST(GerberRead, FlashesHaveTheApertureSizeAndPlace) {
    // A single circular flash stays a circle.
    Read one = ReadText(kHeader + "%ADD10C,1.0*%\nD10*\nX20000Y30000D03*\nM02*\n");
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(one.lines, 6);
    ASSERT_EQ(one.group->GetChildren().size(), 1u);
    EXPECT_EQ(one.group->GetChildren()[0]->GetShapeKind(), SHAPE_CIRCLE);
    ExpectBox(Bounds(*one.group), 1.5, 2.5, 2.5, 3.5);
    EXPECT_EQ(std::wstring(one.group->GetCaption().GetString()), L"board.gbr");

    // A rectangle and a circle apart: merged into two closed outlines.
    Read two = ReadText(kHeader + "%ADD10C,2.0*%\n%ADD11R,2.0X1.0*%\nD10*\nX0Y0D03*\nD11*\nX50000Y10000D03*\n");
    ASSERT_TRUE(two.ok);
    ASSERT_EQ(two.group->GetChildren().size(), 2u);
    for (CBaseShape* c : two.group->GetChildren()) {
        ASSERT_EQ(c->GetShapeKind(), SHAPE_POLYLINE);
        EXPECT_EQ(static_cast<CPolyLine*>(c)->bClosed, 1);
    }
    ExpectBox(Bounds(*two.group), -1.0, -1.0, 6.0, 1.5);
    EXPECT_NEAR(NetArea(*two.group), kPi + 2.0, 0.02);

    // Trailing-zero suppression, two integer digits: X12345 is 12.345;
    // inches scale by 25.4.
    Read t = ReadText("%FSTAX24Y24*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX12345Y1D03*\n");
    ExpectBox(Bounds(*t.group), 12.245, 9.9, 12.445, 10.1);
    Read in = ReadText("%FSLAX24Y24*%\n%MOIN*%\n%ADD10R,0.1X0.1*%\nD10*\nX10000Y-10000D03*\n");
    ExpectBox(Bounds(*in.group), 25.4 - 1.27, -25.4 - 1.27, 25.4 + 1.27, -25.4 + 1.27);
}

// A rectangle flashed off the axes marks its outline around the point: a
// square and a flat rectangle, alone and after another aperture's flash
// (then merged, on the clipping grid).
TEST(GerberRead, RectangleFlashesMarkTheirCornersAroundThePoint) {
    const struct {
        const char* size;
        double w, h;
        const char* before;
    } cases[] = {{"0.5X0.5", 0.5, 0.5, ""},
                 {"0.5X0.3", 0.5, 0.3, ""},
                 {"0.5X0.3", 0.5, 0.3, "D11*\nX-90000Y70000D03*\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.size) + c.before);
        Read r = ReadText(kHeader + "%ADD10R," + c.size + "*%\n%ADD11C,0.2*%\n" + c.before +
                          "D10*\nX31250Y-17500D03*\n");
        ASSERT_TRUE(r.ok);
        // The flash is the last child; its corners in order around it.
        ASSERT_FALSE(r.group->GetChildren().empty());
        std::vector<tagPOINTF> pts = PointsOf(r.group->GetChildren().back());
        // Corners once each (an outline may repeat them, and its start at its end).
        pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
        if (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
        ASSERT_EQ(pts.size(), 4u);
        const double x = 3.125, y = -1.75;
        for (const double sx : {-1.0, 1.0})
            for (const double sy : {-1.0, 1.0}) {
                const auto at = std::find_if(pts.begin(), pts.end(), [&](const tagPOINTF& p) {
                    return std::hypot(p.x - (x + sx * c.w / 2), p.y - (y + sy * c.h / 2)) < 1e-3;
                });
                EXPECT_NE(at, pts.end()) << sx << " " << sy;
            }
        EXPECT_NEAR(std::fabs(SignedArea(pts)), c.w * c.h, 1e-3);
    }
}

TEST(GerberRead, StrokesAreCappedOrExtendedByTheirAperture) {
    // Round aperture: a 10 x 0.5 band with half discs at the ends.
    Read round = ReadText(kHeader + "%ADD10C,0.5*%\nD10*\nX0Y0D02*\nX100000Y0D01*\n");
    ASSERT_TRUE(round.ok);
    ExpectBox(Bounds(*round.group), -0.25, -0.25, 10.25, 0.25);
    EXPECT_NEAR(NetArea(*round.group), 5.0 + kPi * 0.0625, 0.005);

    // Square aperture: the band is extended by half the width at both ends.
    Read square = ReadText(kHeader + "%ADD11R,0.5X0.5*%\nD11*\nX0Y0D02*\nX0Y100000D01*\n");
    ExpectBox(Bounds(*square.group), -0.25, -0.25, 0.25, 10.25);
    EXPECT_NEAR(NetArea(*square.group), 5.25, 1e-3);

    // An L of two round strokes: two bands overlapping in a 0.5 x 0.5
    // square, a half disc at each free end and a quarter disc outside the
    // corner.
    Read ell = ReadText(kHeader + "%ADD10C,1.0*%\nD10*\nX0Y0D02*\nX100000Y0D01*\nY100000D01*\n");
    ExpectBox(Bounds(*ell.group), -0.5, -0.5, 10.5, 10.5);
    EXPECT_NEAR(NetArea(*ell.group), 20.0 - 0.25 + kPi * 0.25 * 1.25, 0.005);

    // A draw to where the pen stands adds nothing.
    Read none = ReadText(kHeader + "%ADD10C,1.0*%\nD10*\nX10000Y10000D02*\nX10000Y10000D01*\n");
    EXPECT_TRUE(none.group->GetChildren().empty());
}

TEST(GerberRead, ArcsAndRegions) {
    // A region of one full circle (multi-quadrant, I/J to the centre).
    Read disc = ReadText(kHeader + "G75*\nG36*\nX20000Y0D02*\nG03X20000Y0I-20000J0D01*\nG37*\n");
    ASSERT_EQ(disc.group->GetChildren().size(), 1u);
    ExpectBox(Bounds(*disc.group), -2, -2, 2, 2, 0.02);
    EXPECT_NEAR(NetArea(*disc.group), 4 * kPi, 0.05);

    // A half disc: counter-clockwise from (2,0) to (-2,0), closed by a line.
    Read half = ReadText(kHeader + "G36*\nX20000Y0D02*\nG03X-20000Y0I-20000J0D01*\nG01X20000Y0D01*\nG37*\n");
    ExpectBox(Bounds(*half.group), -2, 0, 2, 2, 0.02);
    EXPECT_NEAR(NetArea(*half.group), 2 * kPi, 0.03);

    // Single-quadrant arcs take the centre that gives a quarter turn, whatever
    // the signs of I and J: a quarter disc.
    Read quarter =
        ReadText(kHeader + "G74*\nG36*\nX0Y0D02*\nX20000Y0D01*\nG03X0Y20000I20000J0D01*\nG01X0Y0D01*\nG37*\n");
    ExpectBox(Bounds(*quarter.group), 0, 0, 2, 2, 0.02);
    EXPECT_NEAR(NetArea(*quarter.group), kPi, 0.02);

    // A round aperture drawn along a full circle: a ring of width 0.5.
    Read ring = ReadText(kHeader + "%ADD10C,0.5*%\nD10*\nX20000Y0D02*\nG75*\nG02X20000Y0I-20000J0D01*\n");
    ExpectBox(Bounds(*ring.group), -2.25, -2.25, 2.25, 2.25, 0.02);
    EXPECT_NEAR(NetArea(*ring.group), kPi * (2.25 * 2.25 - 1.75 * 1.75), 0.05);
}

TEST(GerberRead, HugeArcsGetNoMorePointsThanTheirCoordinatesHold) {
    // A ring of radius 900 m: float coordinates there are 1/16 mm apart, so
    // chords finer than that add points without shape (a merge of such rings
    // took seconds). The ring still lies on its circle.
    const double r = 900000;
    Read ring = ReadText("%FSLAX63Y63*%\n%MOMM*%\n%ADD10C,0.5*%\nD10*\nX900000000Y0D02*\nG75*\n"
                         "G02X900000000Y0I-900000000J0D01*\n");
    ASSERT_TRUE(ring.ok);
    size_t points = 0;
    for (CBaseShape* c : ring.group->GetChildren()) {
        for (const tagPOINTF& p : PointsOf(c)) {
            ++points;
            const double d = std::hypot(double(p.x), double(p.y));
            EXPECT_GE(d, r - 0.25 - 0.3);
            EXPECT_LE(d, r + 0.25 + 0.3);
        }
    }
    EXPECT_GT(points, 4000u);
    EXPECT_LT(points, 20000u);
    ExpectBox(Bounds(*ring.group), -r - 0.25, -r - 0.25, r + 0.25, r + 0.25, 0.3);
}

TEST(GerberRead, ClearPolarityCutsAndHolesStayOpen) {
    const std::string square = "G36*\nX0Y0D02*\nX100000Y0D01*\nY100000D01*\nX0D01*\nY0D01*\nG37*\n";
    Read cut = ReadText(kHeader + "%ADD10C,2.0*%\n" + square + "%LPC*%\nD10*\nX50000Y50000D03*\n");
    ExpectBox(Bounds(*cut.group), 0, 0, 10, 10);
    EXPECT_NEAR(NetArea(*cut.group), 100.0 - kPi, 0.03);

    // Dark after clear covers the cut again.
    Read back = ReadText(kHeader + "%ADD10C,2.0*%\n%ADD11C,1.0*%\n" + square +
                         "%LPC*%\nD10*\nX50000Y50000D03*\n%LPD*%\nD11*\nX50000Y50000D03*\n");
    EXPECT_NEAR(NetArea(*back.group), 100.0 - kPi + kPi / 4, 0.03);

    // An aperture with a hole: the hole stays open in every flash (its
    // polygon lies within the flatness, 0.001, inside the true ellipse).
    Read holes = ReadText(kHeader + "%ADD11R,0.5X0.3X0.1*%\nD11*\nX0Y0D03*\nX20000Y0D03*\n");
    EXPECT_NEAR(NetArea(*holes.group), 2 * (0.15 - kPi * 0.0025), 1e-3);
    ExpectBox(Bounds(*holes.group), -0.25, -0.15, 2.25, 0.15);
}

TEST(GerberRead, ApertureShapes) {
    // A regular hexagon, circumscribed diameter 2, first vertex on +x.
    Read hex = ReadText(kHeader + "%ADD10P,2.0X6*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*hex.group), 2 * 1.5 * std::sqrt(3.0), 2e-3);
    ExpectBox(Bounds(*hex.group), -1.0, -std::sqrt(3.0) / 2, 11.0, std::sqrt(3.0) / 2);

    // Rotated by 90 degrees a vertex points up.
    Read turned = ReadText(kHeader + "%ADD10P,2.0X3X90*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    ExpectBox(Bounds(*turned.group), -std::sqrt(3.0) / 2, -0.5, 10 + std::sqrt(3.0) / 2, 1.0);

    // An obround 2 x 1: a unit square with two half discs of radius 0.5
    // (their arcs flattened to within 0.005).
    Read ob = ReadText(kHeader + "%ADD10O,2.0X1.0*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*ob.group), 2 * (1.0 + kPi * 0.25), 2 * 0.005 * kPi);
    ExpectBox(Bounds(*ob.group), -1.0, -0.5, 11.0, 0.5);

    // A macro whose primitives follow its name on later lines, and several
    // blocks on one line: a 2 x 1 box and a disc of diameter 1 at its right
    // end, united.
    Read macro = ReadText(kHeader + "%AMBOXDISC*\n21,1,2,1,0,0,0*\n1,1,1.0,1.0,0*\n%\n%ADD20BOXDISC*%\n" +
                          "D20*X0Y0D03*X100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*macro.group), 2 * (2.0 + kPi * 0.125), 0.01);
    ExpectBox(Bounds(*macro.group), -1.0, -0.5, 11.5, 0.5);
}

TEST(GerberRead, ModalStateCarriesOverSoundly) {
    // Incremental notation: an absent coordinate means no movement, not a
    // repeat of the last step.
    Read inc = ReadText("%FSLIX24Y24*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX10000Y10000D03*\nX10000D03*\nY10000D03*\n");
    ExpectBox(Bounds(*inc.group), 0.9, 0.9, 2.1, 2.1);
    EXPECT_NEAR(NetArea(*inc.group), 3 * kPi * 0.01, 2e-3);

    // After an aperture selection a coordinate-only block repeats the last
    // operation (here the flash), it does not select again.
    Read modal = ReadText(kHeader + "%ADD10C,0.2*%\n%ADD11C,1.0*%\nD10*\nX0Y0D03*\nD11*\nX50000Y0*\n");
    ExpectBox(Bounds(*modal.group), -0.1, -0.5, 5.5, 0.5);

    // Polarity switches within one layer apply block by block.
    Read lp = ReadText(kHeader + "%ADD10R,4.0X4.0*%\n%ADD11R,1.0X1.0*%\nD10*\nX0Y0D03*\n%LPC*%\nD11*\nX0Y0D03*\n" +
                       "%LPD*%\nD10*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*lp.group), 16 - 1 + 16, 1e-3);

    // Shapes already in the group stay, in front of the new ones.
    TempDir dir;
    GroupPtr g(new CGroupShape);
    auto* mine = new CPoints;
    mine->InitPoint({7, 7});
    g->GetChildren().push_back(mine);
    CParseGerber parser;
    int lines = 0;
    ASSERT_TRUE(parser.ParseFile(
        dir.Write("x.gbr", kHeader + "%ADD10C,1*%\nD10*\nX0Y0D03*\nX30000Y0D03*\n").c_str(), g.get(), lines));
    ASSERT_EQ(g->GetChildren().size(), 3u);
    EXPECT_EQ(g->GetChildren()[0], mine);

    // The same reader on a second file starts afresh: the first file's
    // apertures and data are gone.
    GroupPtr second(new CGroupShape);
    ASSERT_TRUE(parser.ParseFile(dir.Write("y.gbr", kHeader + "%ADD11C,2*%\nD11*\nX0Y0D03*\n").c_str(), second.get(),
                                 lines));
    ASSERT_EQ(second->GetChildren().size(), 1u);
    ExpectBox(Bounds(*second), -1, -1, 1, 1);
}

TEST(GerberRead, Rs274dAsksForTheApertureFile) {
    HostScope scope;
    TempDir dir;
    const std::string data = "G54D10*\nX0Y0D02*\nX100000Y0D01*\nX50000Y50000D03*\nM02*\n";
    {
        // Without apertures draws stay lines and flashes points.
        scope.host->QueueMessageBoxAnswer(IDOK);
        scope.host->QueueFileDialogAnswer(std::nullopt);
        GroupPtr g(new CGroupShape);
        CParseGerber parser;
        int lines = 0;
        ASSERT_TRUE(parser.ParseFile(dir.Write("plain.gbr", data).c_str(), g.get(), lines));
        ASSERT_EQ(scope.host->MessageBoxes().size(), 1u);
        EXPECT_EQ(scope.host->MessageBoxes()[0].type & 0xF, static_cast<UINT>(MB_OKCANCEL));
        EXPECT_EQ(scope.host->FileDialogs().size(), 1u);
        ASSERT_EQ(g->GetChildren().size(), 2u);
        auto* line = dynamic_cast<CPolyLine*>(g->GetChildren()[0]);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->bClosed, 0);
        ASSERT_EQ(line->arrPoint.size(), 2u);
        EXPECT_FLOAT_EQ(line->arrPoint[1].x, 10.0f);
        EXPECT_EQ(g->GetChildren()[1]->GetShapeKind(), SHAPE_POINTS);
    }
    scope.host->ClearRecords();
    {
        // The chosen aperture file gives D10: the draw becomes a band.
        const std::string apertures = dir.Write("list.apt", "%FSLAX24Y24*%\n%MOMM*%\n%ADD10C,1.0*%\nX5Y5D03*\n");
        scope.host->QueueMessageBoxAnswer(IDOK);
        scope.host->QueueFileDialogAnswer(std::wstring(apertures.begin(), apertures.end()));
        GroupPtr g(new CGroupShape);
        CParseGerber parser;
        int lines = 0;
        ASSERT_TRUE(parser.ParseFile(dir.Write("plain.gbr", data).c_str(), g.get(), lines));
        EXPECT_EQ(lines, 5);
        ExpectBox(Bounds(*g), -0.5, -0.5, 10.5, 5.5);
        // Circles flattened to within 0.01 lose at most 0.01 x their length.
        EXPECT_NEAR(NetArea(*g), 10 + kPi * 0.25 + kPi * 0.25, 2 * 0.01 * kPi);
    }
}

TEST(GerberRead, BadFilesFailCleanly) {
    HostScope scope;
    int lines = 7;
    CParseGerber parser;
    GroupPtr g(new CGroupShape);
    EXPECT_FALSE(parser.ParseFile("/nonexistent/dir/file.gbr", g.get(), lines));
    ASSERT_EQ(scope.host->MessageBoxes().size(), 1u);
    EXPECT_EQ(scope.host->MessageBoxes()[0].text, L"文件打开失败");
    EXPECT_FALSE(parser.ParseFile(nullptr, g.get(), lines));
    EXPECT_FALSE(CParseGerber().ParseFile("x.gbr", nullptr, lines));
    EXPECT_TRUE(g->GetChildren().empty());

    static const char kBinary[] = "%FSLAX24Y24*%\n\0\0\x01\xff%ADD10C,1*%\nD10*\nX1\0Y1D03*";
    const std::vector<std::string> hostile = {
        "",
        "%",
        "%AM",
        "%AMX*1,1,",                                              // macro cut short
        kHeader + "%ADD10C,1.0*%\nD10*\nX99999999999999999999Y0D03*\n",  // number overflow
        "%FSLAX99Y99*%\n%ADD10C,0.5*%\nD10*\nX2147483647Y-2147483648D02*\nX1D01*\n",
        "%FSTAX09Y09*%\n%ADD10C,0.5*%\nD10*\nX1Y1D03*\nG02X9I99999999J-99999999D01*\n",
        kHeader + "%ADD10P,1X99999999*%\n%ADD11C,nan*%\n%ADD12R,inf*%\nD10*D11*D12*X0Y0D03*\n",
        kHeader + "%AMM*5,1,99999999,0,0,1*4,1,3,0,0*20,1*%\n%ADD10M,1X1e308*%\nD10*X0Y0D03*X1D03*\n",
        kHeader + "G36*\nG36*\nX1D01*\nG37*\nG37*\nG74*\nG02X1Y1I0J0D01*\nD00*\nD09*\nG999*\n",
        std::string(kBinary, sizeof kBinary - 1),
    };
    for (size_t k = 0; k < hostile.size(); ++k) {
        Read r = ReadText(hostile[k]);
        // Nothing of the first two is Gerber: they fail; the rest are read.
        EXPECT_EQ(r.ok, k >= 2) << k;
        for (CBaseShape* c : r.group->GetChildren())
            for (const tagPOINTF& p : PointsOf(c)) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << k;
    }
}

// ---- files as other programs write them ------------------------------------------

TEST(GerberFiles, UnequalFormatsZeroOmissionAndUnits) {
    // X has 2 + 5 digits, Y 3 + 4: X1234567 is 12.34567, Y1234567 is 123.4567.
    Read lead = ReadText("%FSLAX25Y34*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX1234567Y1234567D03*\nX5Y-5D03*\n");
    ExpectBox(Bounds(*lead.group), -0.1, -0.1005, 12.44567, 123.5567);
    // Trailing zeros left out: X123 is 12.3 (2 integer digits), Y123 is 123.
    Read trail = ReadText("%FSTAX25Y34*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX123Y123D03*\nX-5Y-5D03*\n");
    ExpectBox(Bounds(*trail.group), -50.1, -500.1, 12.4, 123.1);
    // Inches: 1.00000 in on X, 1.0000 in on Y, an aperture of 0.1 in.
    Read inch = ReadText("%FSLAX25Y34*%\n%MOIN*%\n%ADD10R,0.1X0.1*%\nD10*\nX100000Y10000D03*\nX0Y0D03*\n");
    ExpectBox(Bounds(*inch.group), -1.27, -1.27, 25.4 + 1.27, 25.4 + 1.27);
    // Four integer and six decimal digits hold more than 32 bits: 3000 mm
    // and -2500 mm are read whole, not cut at 2147.48.
    Read wide = ReadText("%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX3000000000Y-2500000000D03*\nX0Y0D03*\n");
    ExpectBox(Bounds(*wide.group), -0.1, -2500.1, 3000.1, 0.1, 0.01);
}

TEST(GerberFiles, BlocksReadEveryFieldAndCode) {
    // A G01 block with coordinates and no D code draws with the modal D01;
    // a block with nothing but G01 only sets the mode.
    Read modal = ReadText(kHeader + "%ADD10C,0.5*%\nD10*\nX0Y0D02*\nG01X100000Y0D01*\nG01*\nG01X100000Y100000*\n");
    ExpectBox(Bounds(*modal.group), -0.25, -0.25, 10.25, 10.25);
    // Two 10 x 0.5 bands overlapping in 0.25 x 0.25, half discs at the free
    // ends and a quarter disc outside the corner.
    EXPECT_NEAR(NetArea(*modal.group), 10.0 - 0.0625 + kPi * 0.0625 * 1.25, 0.01);

    // I and J before X and Y; G75 and G03 in one block after G74: a half
    // disc of radius 2 above the x axis.
    Read arc = ReadText(kHeader + "G74*\nG36*\nX20000Y0D02*\nG75G03I-20000J0X-20000Y0D01*\nG01X20000Y0D01*\nG37*\n");
    ExpectBox(Bounds(*arc.group), -2, 0, 2, 2, 0.02);
    EXPECT_NEAR(NetArea(*arc.group), 2 * kPi, 0.03);
}

TEST(GerberFiles, MacroExpressions) {
    using gerber_detail::EvalMacroExpression;
    const gerber_detail::MacroVariables vars{{1, 3.0}, {2, 0.5}};
    const std::vector<std::pair<const char*, double>> good = {
        {"1+2x3", 7}, {"(1+2)x3", 9}, {"-$1/2", -1.5}, {"$1X$2-1", 0.5}, {" 2 - -1 ", 3}, {"$7", 0}, {"10/4/5", 0.5}};
    for (const auto& [text, want] : good) {
        double v = -99;
        EXPECT_TRUE(EvalMacroExpression(text, vars, v)) << text;
        EXPECT_DOUBLE_EQ(v, want) << text;
    }
    const std::string deep(200, '(');
    for (const char* bad : {"1+", "(1", "$0", "1..2", "", "2x", "1/0", deep.c_str()}) {
        double v = 0;
        EXPECT_FALSE(EvalMacroExpression(bad, vars, v)) << bad;
    }

    // Modifiers become $1, $2; a variable set in the body is used after it.
    // The only aperture is a macro, and the file is taken for RS-274X.
    HostScope scope;
    TempDir dir;
    GroupPtr g(new CGroupShape);
    CParseGerber parser;
    int lines = 0;
    ASSERT_TRUE(parser.ParseFile(dir.Write("m.gbr", kHeader + "%AMBOX*$3=$2x2-1*21,1,$1,$3,($1+1)/2-1,0,0*%\n" +
                                                        "%ADD10BOX,2.0X1.5*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n")
                                     .c_str(),
                                 g.get(), lines));
    EXPECT_TRUE(scope.host->MessageBoxes().empty());
    // Boxes of 2 x 2 centred at (0.5, 0) and (10.5, 0).
    ExpectBox(Bounds(*g), -0.5, -1, 11.5, 1);
    EXPECT_NEAR(NetArea(*g), 8.0, 2e-3);
}

TEST(GerberFiles, MacroPrimitivesTurnAndClear) {
    // A bar from (0,0) to (2,0), 0.5 wide, turned 90 degrees about the origin.
    Read bar = ReadText(kHeader + "%AMBAR*20,1,0.5,0,0,2,0,90*%\n%ADD10BAR*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    ExpectBox(Bounds(*bar.group), -0.25, 0, 10.25, 2);
    EXPECT_NEAR(NetArea(*bar.group), 2.0, 1e-3);

    // Each primitive turned 90 degrees about the origin, flashed at (0, 0):
    // its extent and area.
    struct Case {
        const char* primitive;
        double minX, minY, maxX, maxY, area;
    };
    const Case cases[] = {
        {"4,1,3,0,0,1,0,0,1,0,0,90", -1, 0, 0, 1, 0.5},   // outline: a right triangle
        {"5,1,4,1,0,2,90", -1, 0, 1, 2, 2.0},             // polygon: a diamond about (0, 1)
        {"21,1,2,1,1,0,90", -0.5, 0, 0.5, 2, 2.0},        // centre line
        {"22,1,2,1,1,1,90", -2, 1, -1, 3, 2.0},           // lower-left line
        {"6,0,0,2,0.2,0.2,2,0.1,3,90", -1.5, -1.5, 1.5, 1.5, -1},  // moire: its cross reaches 1.5
    };
    for (const Case& c : cases) {
        Read r = ReadText(kHeader + "%AMPRIM*" + c.primitive + "*%\n%ADD10PRIM*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
        ExpectBox(Bounds(*r.group), c.minX, c.minY, c.maxX + 10, c.maxY, 0.01);
        if (c.area > 0) {
            EXPECT_NEAR(NetArea(*r.group), 2 * c.area, 2e-3) << c.primitive;
        }
    }

    // A thermal: a ring of 2 and 1 across, less a cross of bars 0.2 wide.
    const auto strip = [](double r, double h) { return h * std::sqrt(r * r - h * h) + r * r * std::asin(h / r); };
    const double thermal = kPi * (1.0 - 0.25) - 4 * (strip(1.0, 0.1) - strip(0.5, 0.1));
    Read th = ReadText(kHeader + "%AMTH*7,0,0,2.0,1.0,0.2,0*%\n%ADD10TH*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    ExpectBox(Bounds(*th.group), -1, -1, 11, 1, 0.01);
    EXPECT_NEAR(NetArea(*th.group), 2 * thermal, 0.02);
    // Turned 45 degrees, its gaps lie on the diagonals: the point (0.75, 0)
    // is covered now, and the ring's extent stays.
    Read th45 = ReadText(kHeader + "%AMTH*7,0,0,2.0,1.0,0.2,45*%\n%ADD10TH*%\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*th45.group), 2 * thermal, 0.02);

    // A square with a disc of exposure off: a hole in the flash, which does
    // not clear what lies beneath it (a larger disc under the first flash).
    const std::string holed = "%AMHOLED*21,1,2,2,0,0,0*1,0,1,0,0*%\n%ADD10HOLED*%\n";
    Read hole = ReadText(kHeader + holed + "D10*\nX0Y0D03*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*hole.group), 2 * (4.0 - kPi / 4), 0.01);
    Read over = ReadText(kHeader + holed + "%ADD11C,1.2*%\nD11*\nX0Y0D03*\nD10*\nX0Y0D03*\nX100000Y0D03*\n");
    EXPECT_NEAR(NetArea(*over.group), 4.0 + 4.0 - kPi / 4, 0.01);
}

TEST(GerberFiles, StepAndRepeat) {
    // 3 x 2 copies 5 and 4 apart, then a disc outside the block: 7 discs.
    Read sr = ReadText(kHeader + "%ADD10C,1.0*%\n%SRX3Y2I5.0J4.0*%\nD10*\nX0Y0D03*\n%SR*%\nX200000Y0D03*\n");
    EXPECT_EQ(sr.group->GetChildren().size(), 7u);
    ExpectBox(Bounds(*sr.group), -0.5, -0.5, 20.5, 4.5);
    EXPECT_NEAR(NetArea(*sr.group), 7 * kPi / 4, 0.05);
    // Twelve columns, a stroke in the block, steps in inches.
    Read wide = ReadText("%FSLAX24Y24*%\n%MOIN*%\n%ADD10C,0.01*%\n%SRX12Y1I1.0J0*%\nD10*\nX0Y0D02*\nX1000Y0D01*\n%SR*%\n");
    EXPECT_EQ(wide.group->GetChildren().size(), 12u);
    ExpectBox(Bounds(*wide.group), -0.127, -0.127, 11 * 25.4 + 2.54 + 0.127, 0.127);

    // Clear objects inside the block cut each copy; copies without a step
    // fall on the first one.
    const std::string block = "D10*\nX0Y0D03*\n%LPC*%\nD11*\nX0Y0D03*\n%LPD*%\n%SR*%\n";
    Read cut = ReadText(kHeader + "%ADD10R,2X2*%\n%ADD11C,1*%\n%SRX2Y1I5J0*%\n" + block);
    EXPECT_NEAR(NetArea(*cut.group), 2 * (4 - kPi / 4), 0.01);
    Read still = ReadText(kHeader + "%ADD10R,2X2*%\n%ADD11C,1*%\n%SRX9Y9*%\n" + block);
    EXPECT_NEAR(NetArea(*still.group), 4 - kPi / 4, 0.01);

    // Past the reader's limit a block stays single and the file does not
    // load as a success.
    TempDir dir;
    CParseGerber parser;
    parser.m_nMaxRepeatedShapes = 3;
    for (const auto& [counts, shapes] : {std::pair{"X2Y2", 4u}, {"X3Y2", 1u}}) {
        HostScope quiet;
        GroupPtr g(new CGroupShape);
        int lines = 0;
        const std::string file =
            kHeader + "%ADD10C,1*%\n%SR" + counts + "I5J5*%\nD10*\nX0Y0D03*\n%SR*%\n";
        EXPECT_EQ(parser.ParseFile(dir.Write("limit.gbr", file).c_str(), g.get(), lines), shapes == 4u) << counts;
        EXPECT_EQ(g->GetChildren().size(), shapes) << counts;
    }
    // Through the import entry with the reader's own limit (999,999 copies
    // asked): false, the one copy in the caller's group, the reason logged.
    RunLog* log = RunLog::Instance(nullptr);
    const CString savedFolder = log->GetLogFolder();
    log->SetLogFolder(CString(Utf8ToWide(dir.Dir() + "/log/").c_str()));
    const std::string many = dir.Write("many.gbr", kHeader + "%ADD10C,1*%\n%SRX1000Y1000I2J2*%\nD10*\nX0Y0D03*\n%SR*%\n");
    CBaseShape* out = nullptr;
    {
        HostScope quiet;
        EXPECT_FALSE(LoadVectorFileCore(Utf8ToWide(many).c_str(), &out, false));
    }
    log->SetLogFolder(savedFolder);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetChildren().size(), 1u);
    GroupPtr owned(static_cast<CGroupShape*>(out));
    std::string logged;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Dir() + "/log")) {
        std::ifstream in(e.path(), std::ios::binary);
        if (e.is_regular_file()) logged.append(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(logged.find("step and repeat of 1 shapes 1000 x 1000 refused (more than 500000)"), std::string::npos);
}

TEST(GerberFiles, LargeOverlappingImages) {
    // 250 x 250 squares of 0.7 at a pitch of 0.5 make one square of 125.2,
    // less 10 clear discs inside it and a clear square drawn before the
    // last row (which covers its upper part again).
    std::string file = kHeader + "%ADD10R,0.7X0.7*%\n%ADD11C,1.0*%\n%ADD12R,2X2*%\nD10*\n";
    for (int row = 0; row < 250; ++row) {
        if (row == 249) {
            file += "%LPC*%\nD12*\nX200000Y1245000D03*\n%LPD*%\nD10*\n";
        }
        for (int col = 0; col < 250; ++col) {
            file += "X" + std::to_string(col * 5000) + "Y" + std::to_string(row * 5000) + "D03*\n";
        }
    }
    file += "%LPC*%\nD11*\n";
    for (int k = 0; k < 10; ++k) file += "X" + std::to_string(100000 + k * 100000) + "Y500000D03*\n";
    Read r = ReadText(file);
    ExpectBox(Bounds(*r.group), -0.35, -0.35, 124.85, 124.85);
    // The clear square spans y 123.5 to 125.5; the last row covers y from
    // 124.15 up, so 2 x (124.15 - 123.5) stays clear.
    // Within the clipping grid along 500 mm of edges.
    EXPECT_NEAR(NetArea(*r.group), 125.2 * 125.2 - 10 * kPi / 4 - 2 * 0.65, 0.15);
}

TEST(GerberFiles, SelfCrossingRegionUnderFlashes) {
    // A bow tie of two unit triangles, whose lobes run opposite ways, with a
    // unit square flashed over the waist of each: each square adds 0.25.
    Read tie = ReadText(kHeader + "%ADD10R,1.0X1.0*%\nG36*\nX0Y0D02*\nX20000Y20000D01*\nY0D01*\nX0Y20000D01*\nY0D01*\n" +
                        "G37*\nD10*\nX15000Y10000D03*\nX5000D03*\n");
    ExpectBox(Bounds(*tie.group), 0, 0, 2, 2);
    EXPECT_NEAR(NetArea(*tie.group), 2.5, 1e-3);
}
