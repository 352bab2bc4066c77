// The DXF reader: entity records come out with the values the file gives,
// blocks are placed once per INSERT, line endings and encodings are handled,
// and damaged or unsupported files fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "morvik/compose/group.h"
#include "morvik/core/polyline.h"
#include "morvik/core/vectorfile.h"
#include "morvik/halder/lang.h"
#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"
#include "morvik/import/dxf_reader.h"
#include "morvik/shapes/circle.h"
#include "import/import_support.h"
#include "support/shape_support.h"

namespace {

using importsupport::Drawing;
using importsupport::Pairs;
using importsupport::Section;
using importsupport::TempFile;
using testsupport::HostScope;

// Reads the text as a DXF file with a fresh reader.
std::unique_ptr<CParserDxfFile> Read(const std::string& text, int expected = 1) {
    TempFile file(text);
    auto reader = std::make_unique<CParserDxfFile>();
    EXPECT_EQ(reader->ParserDxf(file.Path().c_str()), expected);
    return reader;
}

// The records of one kind the reader holds.
template <class T>
std::vector<T> Got(const CParserDxfFile& r, void (CParserDxfFile::*get)(std::vector<T>&) const) {
    std::vector<T> v;
    (r.*get)(v);
    return v;
}

void ExpectPoint(const Gdiplus::PointF& p, float x, float y) {
    EXPECT_NEAR(p.X, x, 1e-4) << "x";
    EXPECT_NEAR(p.Y, y, 1e-4) << "y";
}

const std::string kLine = Pairs({{0, "LINE"}, {8, "L1"}, {10, "1.5"}, {20, "2"}, {30, "0"}, {11, "-3"}, {21, "4.25"}});

}  // namespace

TEST(DxfReader, BasicEntitiesCarryTheirValues) {
    const std::string entities =
        kLine +
        Pairs({{0, "CIRCLE"}, {10, "5"}, {20, "6"}, {40, "2.5"}}) +
        Pairs({{0, "ARC"}, {10, "1"}, {20, "1"}, {40, "3"}, {50, "30"}, {51, "30"}}) +  // empty sweep
        Pairs({{0, "ARC"}, {10, "10"}, {20, "0"}, {40, "1"}, {210, "0"}, {220, "0"}, {230, "-1"}, {50, "30"},
               {51, "60"}}) +
        Pairs({{0, "ELLIPSE"}, {10, "2"}, {20, "3"}, {11, "4"}, {21, "0"}, {40, "0.5"}, {41, "0"}, {42, "3.14159"}}) +
        Pairs({{0, "POINT"}, {10, "-7"}, {20, "8"}}) +
        // Paper space is kept with the default mask; a hidden entity is not.
        Pairs({{0, "POINT"}, {67, "1"}, {10, "1"}, {20, "1"}}) +
        Pairs({{0, "POINT"}, {60, "1"}, {10, "9"}, {20, "9"}}) +
        Pairs({{0, "HATCH"}, {10, "0"}, {20, "0"}});
    auto r = Read(Drawing(entities));

    auto lines = Got(*r, &CParserDxfFile::GetVecLine);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].strLayer, L"L1");
    ASSERT_EQ(lines[0].arrPoint.size(), 2u);
    ExpectPoint(lines[0].arrPoint[0], 1.5f, 2.0f);
    ExpectPoint(lines[0].arrPoint[1], -3.0f, 4.25f);

    auto arcs = Got(*r, &CParserDxfFile::GetVecArc);
    ASSERT_EQ(arcs.size(), 2u);
    ExpectPoint(arcs[0].ptCenter, 5, 6);
    EXPECT_DOUBLE_EQ(arcs[0].dRadius, 2.5);
    EXPECT_DOUBLE_EQ(arcs[0].dStartAngle, 0.0);
    EXPECT_DOUBLE_EQ(arcs[0].dEndAngle, 360.0);
    EXPECT_EQ(arcs[0].bCounterClockwise, 1);
    // Seen from below: mirrored in x, angles folded, clockwise.
    ExpectPoint(arcs[1].ptCenter, -10, 0);
    EXPECT_DOUBLE_EQ(arcs[1].dStartAngle, 150.0);
    EXPECT_DOUBLE_EQ(arcs[1].dEndAngle, 120.0);
    EXPECT_EQ(arcs[1].bCounterClockwise, 0);
    EXPECT_TRUE(Got(*r, &CParserDxfFile::GetVecCircle).empty());

    auto ellipses = Got(*r, &CParserDxfFile::GetVecEllipse);
    ASSERT_EQ(ellipses.size(), 1u);
    ExpectPoint(ellipses[0].ptCenter, 2, 3);
    ExpectPoint(ellipses[0].ptMajorEnd, 6, 3);  // centre plus the relative axis
    EXPECT_FLOAT_EQ(ellipses[0].fRatio, 0.5f);
    EXPECT_FLOAT_EQ(ellipses[0].fEndParam, 3.14159f);

    auto points = Got(*r, &CParserDxfFile::GetVecPoint);
    ASSERT_EQ(points.size(), 2u);
    ExpectPoint(points[0].ptPos, -7, 8);
    ExpectPoint(points[1].ptPos, 1, 1);
    EXPECT_EQ(r->GetFileName(), L"drawing.dxf");
}

TEST(DxfReader, GroupValuesReadAsNumbers) {
    const std::pair<const wchar_t*, double> reals[] = {
        {L"  -2.5e-1 ", -0.25}, {L"+1E3", 1000.0}, {L"\t7\r", 7.0}, {L"1e", 1.0}, {L"-.5", -0.5},
        {L"1,5", 1.0},          {L"+-1", 0.0},    {L"1e400", 0.0},   {L"1e-400", 0.0}, {L"inf", 0.0},
        {L"nan", 0.0},          {L"0x1A", 0.0},   {L"", 0.0},        {L"\u00B71", 0.0}};
    for (const auto& [text, want] : reals) EXPECT_EQ(DxfToDouble(CString(text)), want) << std::wstring(text);
    const std::pair<const wchar_t*, int> ints[] = {{L" 70\r", 70},        {L"-3 ", -3},          {L"+5", 5},
                                                   {L"1.9", 1},          {L"99999999999", INT_MAX}, {L"-99999999999", INT_MIN},
                                                   {L"\v\f 8", 8},       {L"x1", 0},            {L"", 0}};
    for (const auto& [text, want] : ints) EXPECT_EQ(DxfToInt(CString(text)), want) << std::wstring(text);
}

TEST(DxfReader, PolylinesKeepVerticesBulgesAndClosure) {
    const std::string entities =
        Pairs({{0, "LWPOLYLINE"}, {90, "3"}, {70, "1"}, {10, "0"}, {20, "0"}, {42, "1"}, {10, "10"}, {20, "0"},
               {42, "0.00001"}, {10, "10"}, {20, "5"}}) +
        // Closed with the line-type generation bit beside it: still closed.
        Pairs({{0, "LWPOLYLINE"}, {70, "129"}, {10, "0"}, {20, "0"}, {10, "1"}, {20, "0"}, {10, "1"}, {20, "1"}}) +
        Pairs({{0, "POLYLINE"}, {8, "P"}, {66, "1"}, {70, "1"}, {0, "VERTEX"}, {8, "other"}, {10, "1"}, {20, "2"},
               {42, "-0.5"}, {0, "VERTEX"}, {10, "3"}, {20, "4"}, {0, "SEQEND"}}) +
        // 3D polylines are skipped whole; reading goes on after them.
        Pairs({{0, "POLYLINE"}, {100, "AcDb3dPolyline"}, {70, "8"}, {0, "VERTEX"}, {10, "1"}, {20, "1"},
               {0, "SEQEND"}}) +
        kLine;
    auto r = Read(Drawing(entities));
    auto polys = Got(*r, &CParserDxfFile::GetVecPolyline);
    ASSERT_EQ(polys.size(), 3u);

    ASSERT_EQ(polys[0].arrVertex.size(), 4u);  // A B C A
    EXPECT_DOUBLE_EQ(polys[0].arrVertex[0].dBulge, 1.0);
    EXPECT_DOUBLE_EQ(polys[0].arrVertex[1].dBulge, 0.0);  // below the threshold
    EXPECT_FLOAT_EQ(polys[0].arrVertex[2].y, 5.0f);
    EXPECT_FLOAT_EQ(polys[0].arrVertex[3].x, 0.0f);
    EXPECT_FALSE(polys[0].bClosed);
    EXPECT_EQ(polys[1].arrVertex.size(), 4u);

    ASSERT_EQ(polys[2].arrVertex.size(), 2u);
    EXPECT_TRUE(polys[2].bClosed);
    EXPECT_EQ(polys[2].strLayer, L"P");
    EXPECT_FLOAT_EQ(polys[2].arrVertex[0].x, 1.0f);
    EXPECT_DOUBLE_EQ(polys[2].arrVertex[0].dBulge, -0.5);
    EXPECT_FLOAT_EQ(polys[2].arrVertex[1].y, 4.0f);

    EXPECT_EQ(Got(*r, &CParserDxfFile::GetVecLine).size(), 1u);
}

TEST(DxfReader, SolidsAndTexts) {
    const std::string entities =
        Pairs({{0, "SOLID"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "0"}, {12, "0"}, {22, "1"}, {13, "1"}, {23, "1"}}) +
        Pairs({{0, "SOLID"}, {10, "0"}, {20, "0"}, {11, "2"}, {21, "0"}, {12, "1"}, {22, "2"}}) +
        Pairs({{0, "TEXT"}, {10, "1"}, {20, "2"}, {40, "3.5"}, {50, "30"}, {72, "1"}, {1, "Hello"}}) +
        Pairs({{0, "TEXT"}, {10, "1"}, {20, "2"}, {1, ""}}) +
        Pairs({{0, "MTEXT"}, {10, "4"}, {20, "5"}, {40, "2"}, {71, "5"}, {11, "0"}, {21, "1"}}) +
        // An attribute definition justifies vertically by group 74; its 73
        // is a field length. A text's 73 is its vertical justification.
        Pairs({{0, "ATTDEF"}, {100, "AcDbText"}, {1, "A"}, {41, "0.5"}, {51, "15"}, {100, "AcDbAttributeDefinition"},
               {73, "9"}, {74, "3"}}) +
        Pairs({{0, "TEXT"}, {1, "T"}, {73, "2"}});
    auto r = Read(Drawing(entities));
    auto solids = Got(*r, &CParserDxfFile::GetVecSolid);
    ASSERT_EQ(solids.size(), 2u);
    // Corners 1, 2, 4, 3 and back to 1.
    const float quad[][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    ASSERT_EQ(solids[0].arrPoint.size(), 5u);
    for (int i = 0; i < 5; ++i) ExpectPoint(solids[0].arrPoint[i], quad[i][0], quad[i][1]);
    EXPECT_EQ(solids[1].arrPoint.size(), 4u);

    auto texts = Got(*r, &CParserDxfFile::GetVecText);
    ASSERT_EQ(texts.size(), 3u);  // the empty text is dropped
    EXPECT_EQ(texts[1].nVertJust, 3);
    EXPECT_FLOAT_EQ(texts[1].fWidthFactor, 0.5f);
    EXPECT_FLOAT_EQ(texts[1].fOblique, 15.0f);
    EXPECT_EQ(texts[2].nVertJust, 2);
    EXPECT_FLOAT_EQ(texts[2].fWidthFactor, 1.0f);
    EXPECT_EQ(texts[0].strText, L"Hello");
    EXPECT_FLOAT_EQ(texts[0].fHeight, 3.5f);
    EXPECT_FLOAT_EQ(texts[0].fRotate, 30.0f);
    EXPECT_EQ(texts[0].nHorzJust, 1);
    // Without a second alignment point the text turns about its first one.
    ExpectPoint(texts[0].ptSecond, 1, 2);

    auto mtexts = Got(*r, &CParserDxfFile::GetVecMText);
    ASSERT_EQ(mtexts.size(), 1u);  // kept with an empty text
    EXPECT_TRUE(mtexts[0].strText.empty());
    EXPECT_EQ(mtexts[0].nAttach, 5);
    EXPECT_NEAR(mtexts[0].fRotate, 90.0f, 1e-3);
    ExpectPoint(mtexts[0].ptInsert, 4, 5);
}

TEST(DxfReader, BlocksArePlacedOncePerInsert) {
    const std::string blocks =
        Pairs({{0, "BLOCK"}, {8, "0"}, {2, "B"}, {70, "0"}, {10, "1"}, {20, "1"}, {3, "B"}}) +
        Pairs({{0, "LINE"}, {10, "1"}, {20, "1"}, {11, "2"}, {21, "1"}}) + Pairs({{0, "ENDBLK"}}) +
        // A block that places itself, and one that places B inside it.
        Pairs({{0, "BLOCK"}, {2, "SELF"}, {70, "0"}, {10, "0"}, {20, "0"}}) +
        Pairs({{0, "INSERT"}, {2, "SELF"}, {10, "1"}, {20, "0"}}) + kLine + Pairs({{0, "ENDBLK"}}) +
        Pairs({{0, "BLOCK"}, {2, "OUTER"}, {70, "0"}, {10, "0"}, {20, "0"}}) +
        Pairs({{0, "INSERT"}, {2, "B"}, {10, "100"}, {20, "0"}}) + Pairs({{0, "ENDBLK"}});
    const std::string entities =
        Pairs({{0, "INSERT"}, {2, "B"}, {10, "10"}, {20, "20"}, {41, "2"}, {42, "3"}, {50, "90"}}) +
        Pairs({{0, "INSERT"}, {2, "B"}, {10, "-5"}, {20, "0"}}) +
        Pairs({{0, "INSERT"}, {2, "MISSING"}, {10, "0"}, {20, "0"}}) +
        Pairs({{0, "INSERT"}, {2, "SELF"}}) +
        Pairs({{0, "INSERT"}, {2, "OUTER"}, {10, "0"}, {20, "1000"}}) + kLine;
    auto r = Read(Drawing(entities, blocks));
    auto lines = Got(*r, &CParserDxfFile::GetVecLine);
    // B twice, B through OUTER, SELF's own line once, the top-level line.
    ASSERT_EQ(lines.size(), 5u);
    // The block's base point (1,1) is subtracted, the insertion point added.
    ExpectPoint(lines[0].arrPoint[0], 10, 20);
    ExpectPoint(lines[0].arrPoint[1], 11, 20);
    EXPECT_EQ(lines[0].strBlockName, L"B");
    EXPECT_DOUBLE_EQ(lines[0].zoomRotate.dScaleX, 2.0);
    EXPECT_DOUBLE_EQ(lines[0].zoomRotate.dScaleY, 3.0);
    EXPECT_DOUBLE_EQ(lines[0].zoomRotate.dRotateAngle, 90.0);
    ExpectPoint(lines[0].zoomRotate.ptBase, 10, 20);
    ExpectPoint(lines[1].arrPoint[0], -5, 0);
    EXPECT_DOUBLE_EQ(lines[1].zoomRotate.dScaleX, 1.0);
    EXPECT_EQ(lines[2].strBlockName, L"SELF");
    ExpectPoint(lines[3].arrPoint[0], 100, 1000);  // nested offsets add up
    EXPECT_TRUE(lines[4].strBlockName.empty());
}

TEST(DxfReader, LineEndingsEncodingsAndLongValues) {
    const auto entities = [](const char* eol) {
        return Pairs({{0, "SECTION"}, {2, "ENTITIES"}, {0, "TEXT"}, {8, "\xE5\xB1\x82"}, {10, "1"}, {20, "2"},
                      {1, "\xE4\xB8\xAD"}, {0, "ENDSEC"}, {0, "EOF"}},
                     eol);
    };
    for (const char* eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol[0] == '\r' ? "CR LF" : "LF");
        // With and without a byte-order mark the file is UTF-8.
        for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
            auto r = Read(bom + entities(eol));
            auto texts = Got(*r, &CParserDxfFile::GetVecText);
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0].strLayer, L"\u5C42");
            EXPECT_EQ(texts[0].strText, L"\u4E2D");
            ExpectPoint(texts[0].ptFirst, 1, 2);
        }
    }
    // Not UTF-8: the ANSI code page (GBK) converts the names.
    {
        auto r = Read(Drawing(Pairs({{0, "TEXT"}, {8, "\xB2\xE3"}, {1, "\xD6\xD0"}})));
        auto texts = Got(*r, &CParserDxfFile::GetVecText);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].strLayer, L"\u5C42");
        EXPECT_EQ(texts[0].strText, L"\u4E2D");
    }
    // A value far longer than a buffered line stays one value.
    {
        const std::string longText(3000, 'x');
        auto r = Read(Drawing(Pairs({{0, "TEXT"}, {1, longText}, {10, "3"}, {20, "4"}}) + kLine));
        auto texts = Got(*r, &CParserDxfFile::GetVecText);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].strText.size(), 3000u);
        ExpectPoint(texts[0].ptFirst, 3, 4);
        EXPECT_EQ(Got(*r, &CParserDxfFile::GetVecLine).size(), 1u);
    }
}

TEST(DxfReader, RefusedAndDamagedFilesFailCleanly) {
    HostScope scope;
    {
        // UTF-16 with its byte-order mark.
        std::string utf16 = "\xFF\xFE";
        for (char c : Drawing(kLine)) utf16 += std::string{c, '\0'};
        auto r = Read(utf16, 0);
        auto lines = Got(*r, &CParserDxfFile::GetVecLine);
        EXPECT_TRUE(lines.empty());
        const auto boxes = scope.host->MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, CLang::Instance()->GetString("IDS_UNSUPPORT_DXF_UNICODE_FORMAT").GetString());
    }
    scope.host->ClearRecords();
    {
        Read("0\n", 0);  // too short to tell its encoding
        Read("999\nempty\n  0\r\nEOF\r\n", 1);  // an empty drawing is one
        CParserDxfFile reader;
        EXPECT_EQ(reader.ParserDxf("/nonexistent/dir/x.dxf"), 0);
        EXPECT_EQ(reader.ParserDxf(nullptr), 0);
        EXPECT_EQ(reader.ParserDxf("/"), 0);  // a directory opens, but is no file
        const auto boxes = scope.host->MessageBoxes();
        ASSERT_EQ(boxes.size(), 3u);
        for (const auto& b : boxes) EXPECT_EQ(b.text, CLang::Instance()->GetString("IDS_DXF_AREADY_OPENED").GetString());
    }
    scope.host->ClearRecords();
    // Cut anywhere inside an entity: the entities completed before it stay,
    // the cut one is dropped, and reading still succeeds.
    const std::string whole = Drawing(kLine + Pairs({{0, "CIRCLE"}, {10, "5"}, {20, "6"}, {40, "2.5"}}));
    const size_t circleAt = whole.find("CIRCLE");
    for (size_t cut = circleAt; cut <= whole.find("\n0\nENDSEC"); ++cut) {
        auto r = Read(whole.substr(0, cut));
        EXPECT_EQ(Got(*r, &CParserDxfFile::GetVecLine).size(), 1u) << cut;
        EXPECT_TRUE(Got(*r, &CParserDxfFile::GetVecArc).empty()) << cut;
    }
    // Garbage numbers read as 0; binary noise is no drawing: it fails,
    // quietly, with nothing read.
    {
        auto r = Read(Drawing(Pairs({{0, "POINT"}, {10, "abc"}, {20, "1e999"}}) +
                              Pairs({{0, "POINT"}, {10, "nan"}, {20, " +2.5e1xyz"}})));
        auto points = Got(*r, &CParserDxfFile::GetVecPoint);
        ASSERT_EQ(points.size(), 2u);
        ExpectPoint(points[0].ptPos, 0, 0);
        ExpectPoint(points[1].ptPos, 0, 25);
    }
    {
        std::string noise;
        for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + 13) % 251 + 1);
        auto r = Read(noise, 0);
        EXPECT_TRUE(Got(*r, &CParserDxfFile::GetVecLine).empty());
    }
    EXPECT_TRUE(scope.host->MessageBoxes().empty());
}

TEST(DxfReader, SplinesAreSampled) {
    // A clamped cubic: samples at t = k/24 below 1, then the end point.
    const std::string spline = Pairs({{0, "SPLINE"}, {8, "S"}, {70, "8"}, {72, "8"}, {73, "4"}, {40, "0"}, {40, "0"},
                                      {40, "0"}, {40, "0"}, {40, "1"}, {40, "1"}, {40, "1"}, {40, "1"}, {10, "0"},
                                      {20, "0"}, {10, "1"}, {20, "2"}, {10, "3"}, {20, "2"}, {10, "4"}, {20, "0"},
                                      {40, "9"}, {10, "99"}, {20, "99"}});  // beyond the counts: dropped
    // Degree 2 given but too few knots: the control polygon.
    const std::string broken = Pairs({{0, "SPLINE"}, {70, "1"}, {71, "2"}, {72, "2"}, {73, "3"}, {40, "0"},
                                      {40, "1"}, {10, "0"}, {20, "0"}, {10, "1"}, {20, "1"}, {10, "2"}, {20, "0"}});
    auto r = Read(Drawing(spline + broken));
    auto polys = Got(*r, &CParserDxfFile::GetVecPolyline);
    ASSERT_EQ(polys.size(), 2u);
    const auto& v = polys[0].arrVertex;
    ASSERT_EQ(v.size(), 25u);
    EXPECT_EQ(polys[0].strLayer, L"S");
    EXPECT_FALSE(polys[0].bClosed);
    for (size_t k = 0; k < v.size(); ++k) {
        const double t = k / 24.0, s = 1 - t;
        // Bernstein form of the same cubic.
        const double x = 3 * s * s * t * 1 + 3 * s * t * t * 3 + t * t * t * 4;
        const double y = 3 * s * s * t * 2 + 3 * s * t * t * 2;
        EXPECT_NEAR(v[k].x, x, 1e-4) << k;
        EXPECT_NEAR(v[k].y, y, 1e-4) << k;
        EXPECT_EQ(v[k].dBulge, 0.0);
    }
    EXPECT_EQ(polys[1].arrVertex.size(), 3u);
    EXPECT_TRUE(polys[1].bClosed);
}

TEST(DxfReader, FormattedTextIsCleaned) {
    struct Case {
        const wchar_t* in;
        const wchar_t* text;
        const wchar_t* face;
    } cases[] = {
        {L"\\fArial|b0|i0|c0|p34;Hello", L"Hello", L"Arial"},
        {L"\\fSimHei|b0;A", L"A", L"\u9ED1\u4F53"},
        {L"\\f@Dotum|b0;A", L"A", L"Dotum"},
        {L"A\\PB", L"A\r\nB", L"Arial"},
        {L"{\\C1;Red}", L"Red", L"Arial"},
        {L"\\U+00B1 5", L"\u00B1 5", L"Arial"},
        {L"a\\\\b", L"a\\b", L"Arial"},
        {L"\\H2.5x;\\W0.8;\\T1.1;\\A1;\\pi-1,l2;\\pt4;X\\~Y\\{\\}", L"X Y{}", L"Arial"},
        // A bar before the font code does not end the face name.
        {L"A|B\\fCourier|b1;C", L"A|BC", L"Courier"},
        // Escapes cut off by the end of the text.
        {L"Q\\U+4", L"Q\u0004", L"Arial"},
        {L"X\\U+", L"X", L"Arial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.in).size());
        CString text(c.in);
        tagMText rec;
        EXPECT_TRUE(CParserDxfFile::ParserFormatedMtext(text, rec));
        EXPECT_EQ(rec.strText, c.text);
        EXPECT_EQ(rec.strFace, c.face);
    }
    // An MTEXT made of chunks.
    auto r = Read(Drawing(Pairs({{0, "MTEXT"}, {3, "{\\fSimSun|b0;AB"}, {1, "C}"}})));
    auto m = Got(*r, &CParserDxfFile::GetVecMText);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].strText, L"ABC");
    EXPECT_EQ(m[0].strFace, L"\u5B8B\u4F53");
}

TEST(DxfReader, LargeFilesGiveTheSameRecords) {
    // Padding in the header (which large mode does not read) puts the file
    // over the threshold; the word BLOCKS in a text ahead of the section must
    // not be taken for it.
    const std::string blocks = Pairs({{0, "BLOCK"}, {2, "B"}, {70, "0"}, {10, "0"}, {20, "0"}}) + kLine +
                               Pairs({{0, "ENDBLK"}}) + Pairs({{0, "BLOCK"}, {2, "B"}, {70, "0"}, {10, "1"}, {20, "1"}}) +
                               kLine + Pairs({{0, "ENDBLK"}});
    const std::string entities = Pairs({{0, "INSERT"}, {2, "B"}, {10, "5"}, {20, "5"}}) +
                                 Pairs({{0, "CIRCLE"}, {10, "1"}, {20, "2"}, {40, "3"}}) +
                                 Pairs({{0, "TEXT"}, {1, "BLOCKS"}, {10, "0"}, {20, "0"}});
    const std::string head = Pairs({{999, "BLOCKS ENTITIES"}, {0, "SECTION"}, {2, "HEADER"}, {9, "$X"}, {1, "ENTITIES"}});
    const std::string tail = Pairs({{0, "ENDSEC"}}) + Section("BLOCKS", blocks) + Section("ENTITIES", entities) +
                             Pairs({{0, "EOF"}});
    const auto padded = [&](size_t total) {
        std::string s = head;
        const size_t pad = total - head.size() - tail.size();
        s += "999\n" + std::string(pad - 5, 'p') + "\n";
        return s + tail;
    };
    for (const size_t size : {size_t{20000000}, size_t{20000001}}) {
        SCOPED_TRACE(size);
        const std::string text = padded(size);
        ASSERT_EQ(text.size(), size);
        auto r = Read(text);
        EXPECT_EQ(r->getFileSize(), static_cast<int>(size));
        auto lines = Got(*r, &CParserDxfFile::GetVecLine);
        auto arcs = Got(*r, &CParserDxfFile::GetVecArc);
        auto texts = Got(*r, &CParserDxfFile::GetVecText);
        ASSERT_EQ(lines.size(), 1u);
        // The later block of the same name wins: base (1,1).
        ExpectPoint(lines[0].arrPoint[0], 5.5f, 6.0f);
        EXPECT_EQ(arcs.size(), 1u);
        EXPECT_EQ(texts.size(), 1u);
    }
}

TEST(DxfReader, TextDrawnFromBelowIsMapped) {
    auto r = Read(Drawing(Pairs({{0, "TEXT"}, {10, "3"}, {20, "4"}, {11, "5"}, {21, "4"}, {40, "2"}, {1, "A"},
                                 {210, "0"}, {220, "0"}, {230, "-1"}}) +
                          Pairs({{0, "TEXT"}, {10, "3"}, {20, "4"}, {1, "B"}})));
    auto texts = Got(*r, &CParserDxfFile::GetVecText);
    ASSERT_EQ(texts.size(), 2u);
    ExpectPoint(texts[0].ptFirst, -3, 4);
    ExpectPoint(texts[0].ptSecond, -5, 4);
    EXPECT_TRUE(texts[0].bMirrored);
    ExpectPoint(texts[1].ptFirst, 3, 4);
    EXPECT_FALSE(texts[1].bMirrored);
}

// Blocks L0 to L9, each placing the next one fan times; L10 holds a line.
std::string NestedBlocks(int fan) {
    std::string blocks;
    for (int level = 0; level < 10; ++level) {
        blocks += Pairs({{0, "BLOCK"}, {2, "L" + std::to_string(level)}, {70, "0"}, {10, "0"}, {20, "0"}});
        for (int i = 0; i < fan; ++i)
            blocks += Pairs({{0, "INSERT"}, {2, "L" + std::to_string(level + 1)}, {10, std::to_string(i)}, {20, "0"}});
        blocks += Pairs({{0, "ENDBLK"}});
    }
    return blocks + Pairs({{0, "BLOCK"}, {2, "L10"}, {70, "0"}, {10, "0"}, {20, "0"}}) + kLine + Pairs({{0, "ENDBLK"}});
}

TEST(DxfReader, BlockPlacementsPastTheLimitFail) {
    // 10^10 lines.
    TempFile file(Drawing(Pairs({{0, "INSERT"}, {2, "L0"}}), NestedBlocks(10)));
    for (const int64_t limit : {int64_t{100000}, int64_t{50}}) {
        CParserDxfFile reader;
        reader.SetPlacementLimit(limit);
        EXPECT_EQ(reader.ParserDxf(file.Path().c_str()), 0);
        EXPECT_TRUE(reader.PlacementLimitReached());
        auto lines = Got(reader, &CParserDxfFile::GetVecLine);
        // Each line counts with its two points, each placement once.
        EXPECT_GT(lines.size(), 0u);
        EXPECT_LE(static_cast<int64_t>(lines.size()) * 3, limit);
    }
    // Below the limit everything is placed: 2^10 lines.
    auto r = Read(Drawing(Pairs({{0, "INSERT"}, {2, "L0"}}), NestedBlocks(2)));
    EXPECT_EQ(Got(*r, &CParserDxfFile::GetVecLine).size(), 1024u);
    EXPECT_FALSE(r->PlacementLimitReached());
}

TEST(DxfReader, LargeModeReadsInPiecesWhatOneThreadReads) {
    // About 3 MB of entities: polylines of VERTEX entities (no piece may
    // start inside one), inserts, and long LWPOLYLINEs holding a damaged
    // pair ("0" then a name where a code belongs) that looks like the start
    // of an entity but is not one where a single reader stands.
    const std::string blocks =
        Pairs({{0, "BLOCK"}, {2, "B"}, {70, "0"}, {10, "1"}, {20, "1"}}) + kLine + Pairs({{0, "ENDBLK"}});
    std::string entities;
    for (int i = 0; entities.size() < (3u << 20); ++i) {
        const std::string n = std::to_string(i);
        entities += Pairs({{0, "POLYLINE"}, {8, "0"}, {70, "0"}});
        for (int v = 0; v < 40; ++v) entities += Pairs({{0, "VERTEX"}, {8, "0"}, {10, n}, {20, std::to_string(v)}});
        entities += Pairs({{0, "SEQEND"}, {0, "INSERT"}, {2, "B"}, {10, n}, {20, "0"}, {50, "30"}});
        entities += Pairs({{0, "LWPOLYLINE"}, {8, "0"}, {90, "300"}});
        for (int v = 0; v < 300; ++v) {
            entities += Pairs({{10, std::to_string(v)}, {20, n}});
            if (v == 150 && i % 3 == 0) entities += "1001\n0\nLINE\n";
        }
    }
    TempFile file(Drawing(entities, blocks));
    CParserDxfFile small, large;
    small.SetReadMode(CParserDxfFile::ReadMode::Small);
    large.SetReadMode(CParserDxfFile::ReadMode::Large);
    ASSERT_EQ(small.ParserDxf(file.Path().c_str()), 1);
    ASSERT_EQ(large.ParserDxf(file.Path().c_str()), 1);
    auto smallLines = Got(small, &CParserDxfFile::GetVecLine);
    auto largeLines = Got(large, &CParserDxfFile::GetVecLine);
    ASSERT_EQ(smallLines.size(), largeLines.size());
    ASSERT_GT(smallLines.size(), 50u);
    for (size_t i = 0; i < smallLines.size(); ++i) {
        ASSERT_EQ(smallLines[i].arrPoint.size(), largeLines[i].arrPoint.size());
        for (size_t k = 0; k < smallLines[i].arrPoint.size(); ++k)
            ASSERT_TRUE(smallLines[i].arrPoint[k].Equals(largeLines[i].arrPoint[k])) << i;
        EXPECT_EQ(smallLines[i].zoomRotate.dRotateAngle, largeLines[i].zoomRotate.dRotateAngle);
    }
    auto smallPolys = Got(small, &CParserDxfFile::GetVecPolyline);
    auto largePolys = Got(large, &CParserDxfFile::GetVecPolyline);
    ASSERT_EQ(smallPolys.size(), largePolys.size());
    for (size_t i = 0; i < smallPolys.size(); ++i) {
        ASSERT_EQ(smallPolys[i].arrVertex.size(), largePolys[i].arrVertex.size()) << i;
        for (size_t k = 0; k < smallPolys[i].arrVertex.size(); ++k) {
            ASSERT_EQ(smallPolys[i].arrVertex[k].x, largePolys[i].arrVertex[k].x);
            ASSERT_EQ(smallPolys[i].arrVertex[k].y, largePolys[i].arrVertex[k].y);
        }
    }
}

TEST(DxfReader, BlocksAfterTheEntitiesArePlacedInBothModes) {
    const std::string text = Section("ENTITIES", Pairs({{0, "INSERT"}, {2, "B"}, {10, "5"}, {20, "5"}})) +
                             Section("BLOCKS", Pairs({{0, "BLOCK"}, {2, "B"}, {70, "0"}, {10, "0"}, {20, "0"}}) +
                                                   kLine + Pairs({{0, "ENDBLK"}})) +
                             Pairs({{0, "EOF"}});
    TempFile file(text);
    for (const auto mode : {CParserDxfFile::ReadMode::Small, CParserDxfFile::ReadMode::Large}) {
        CParserDxfFile reader;
        reader.SetReadMode(mode);
        ASSERT_EQ(reader.ParserDxf(file.Path().c_str()), 1);
        auto lines = Got(reader, &CParserDxfFile::GetVecLine);
        ASSERT_EQ(lines.size(), 1u);
        ExpectPoint(lines[0].arrPoint[0], 6.5f, 7.0f);
    }
}

// An insert of a block that inserts another, both off the axes, with turns
// off the quarter turns, non-uniform scales and base points off the origin:
// every point lands where the two insert matrices, composed here, put it;
// the arc inside (an elliptic arc after the scaling) is the mapped arc.
TEST(DxfReader, NestedInsertsMapEveryPointByTheComposedMatrices) {
    HostScope scope;
    struct Affine {
        double a, b, c, d, x, y;
        tagPOINTF operator()(double u, double v) const {
            return {static_cast<float>(a * u + b * v + x), static_cast<float>(c * u + d * v + y)};
        }
        Affine operator*(const Affine& o) const {
            return {a * o.a + b * o.c, a * o.b + b * o.d, c * o.a + d * o.c, c * o.b + d * o.d,
                    a * o.x + b * o.y + x, c * o.x + d * o.y + y};
        }
    };
    // Block coordinates to the inserting space: scale, turn, then the base
    // point onto the insertion point.
    const auto insert = [](double px, double py, double sx, double sy, double deg, double bx, double by) {
        const double c = std::cos(deg * M_PI / 180), s = std::sin(deg * M_PI / 180);
        const Affine m{c * sx, -s * sy, s * sx, c * sy, 0, 0};
        const tagPOINTF b = m(bx, by);
        return Affine{m.a, m.b, m.c, m.d, px - b.x, py - b.y};
    };
    const Affine outer = insert(12.5, -7.75, 0.8, 1.45, 131, -3, 4);
    const Affine both = outer * insert(5.5, 2.25, 1.7, 0.6, 23, 2.5, -1.25);
    const std::string blocks =
        Pairs({{0, "BLOCK"}, {2, "IN"}, {70, "0"}, {10, "2.5"}, {20, "-1.25"}}) +
        Pairs({{0, "LINE"}, {10, "3"}, {20, "1"}, {11, "7.5"}, {21, "-2"}}) +
        Pairs({{0, "ARC"}, {10, "4"}, {20, "0.5"}, {40, "1.5"}, {50, "20"}, {51, "250"}}) + Pairs({{0, "ENDBLK"}}) +
        Pairs({{0, "BLOCK"}, {2, "OUT"}, {70, "0"}, {10, "-3"}, {20, "4"}}) +
        Pairs({{0, "INSERT"}, {2, "IN"}, {10, "5.5"}, {20, "2.25"}, {41, "1.7"}, {42, "0.6"}, {50, "23"}}) +
        Pairs({{0, "LINE"}, {10, "-1"}, {20, "5"}, {11, "2"}, {21, "3.5"}}) + Pairs({{0, "ENDBLK"}});
    TempFile file(Drawing(Pairs({{0, "INSERT"}, {2, "OUT"}, {10, "12.5"}, {20, "-7.75"}, {41, "0.8"}, {42, "1.45"},
                                 {50, "131"}}),
                          blocks));
    const std::wstring path(file.Path().begin(), file.Path().end());
    CBaseShape* shape = nullptr;
    ASSERT_TRUE(LoadVectorFileCore(path.c_str(), &shape, false));
    std::unique_ptr<CGroupShape> group(static_cast<CGroupShape*>(shape));
    std::vector<CPolyLine*> lines;
    CCircle* arc = nullptr;
    for (CBaseShape* c : group->GetChildren()) {
        if (auto* l = dynamic_cast<CPolyLine*>(c)) lines.push_back(l);
        if (auto* a = dynamic_cast<CCircle*>(c)) arc = a;
    }
    const auto near = [](const tagPOINTF& p, const tagPOINTF& q) { return std::hypot(p.x - q.x, p.y - q.y) < 1e-3; };
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0]->arrPoint.size(), 2u);
    ASSERT_EQ(lines[1]->arrPoint.size(), 2u);
    EXPECT_TRUE(near(lines[0]->arrPoint[0], both(3, 1)) && near(lines[0]->arrPoint[1], both(7.5, -2)));
    EXPECT_TRUE(near(lines[1]->arrPoint[0], outer(-1, 5)) && near(lines[1]->arrPoint[1], outer(2, 3.5)));
    ASSERT_NE(arc, nullptr);
    std::vector<tagPOINTF> flat;
    arc->GetFlattenPathPoints(flat, 0.001f);
    ASSERT_GT(flat.size(), 8u);
    // Mapped back, every point of the arc lies on the block's arc.
    const double det = both.a * both.d - both.b * both.c;
    const Affine back{both.d / det, -both.b / det, -both.c / det, both.a / det, 0, 0};
    for (const tagPOINTF& p : flat) {
        const tagPOINTF q = back(p.x - both.x, p.y - both.y);
        EXPECT_NEAR(std::hypot(q.x - 4, q.y - 0.5), 1.5, 1e-3);
        const double deg = std::atan2(q.y - 0.5, q.x - 4) * 180 / M_PI;
        EXPECT_TRUE(deg >= 20 - 0.1 || deg <= 250 - 360 + 0.1) << deg;
    }
    // It runs the whole arc: from the mapped start to the mapped end.
    const auto on = [&](double deg) {
        return both(4 + 1.5 * std::cos(deg * M_PI / 180), 0.5 + 1.5 * std::sin(deg * M_PI / 180));
    };
    EXPECT_TRUE(near(flat.front(), on(20)) && near(flat.back(), on(250)));
    group->FreeShapePtr();
}
