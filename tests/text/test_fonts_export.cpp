// Export of a text: the XML elements and their counts, escaping, and the
// G-code and HPGL moves along a known glyph.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/text/fonts.h"
#include "text/text_test_util.h"
#include "support/shape_support.h"

namespace {

class TextExport : public ::testing::Test {
protected:
    std::unique_ptr<CFonts> Text(const wchar_t* content, tagPOINTF at) {
        auto t = std::make_unique<CFonts>();
        t->InitFontsPath(at, CString(content), CString(L"DejaVu Sans"), false);
        return t;
    }
    std::string Xml(CFonts& t) {
        const std::filesystem::path file = m_log.Dir() / "text.xml";
        {
            tagXmlBuff buff;
            buff.file.open(file, std::ios::binary);
            EXPECT_EQ(t.ExportXmlToBuff(buff), 0);
        }
        return testsupport::ReadAll(file);
    }
    text_test::TempRunLog m_log{"textexport"};
};

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

TEST_F(TextExport, XmlListsEveryCharacterPointAndTypeEscaped) {
    auto t = Text(L"A&O", {5, 5});
    t->SetCaption(L"T<1>\"");
    const std::string xml = Xml(*t);
    EXPECT_EQ(xml.rfind("<Fonts Name=\"T&lt;1&gt;&quot;\" Text=\"A&amp;O\" FonstType=\"DejaVu Sans\" x=\"", 0), 0u)
        << xml.substr(0, 120);
    EXPECT_NE(xml.find("<list nSize=\"3\" >"), std::string::npos);
    size_t points = 0, types = 0;
    for (FONTSCHAR* ch : t->GetChars()) {
        points += ch->points.size();
        types += ch->types.size();
        EXPECT_NE(xml.find("<Point nSize=\"" + std::to_string(ch->points.size()) + "\" >"), std::string::npos);
    }
    ASSERT_GT(points, 0u);
    EXPECT_EQ(Count(xml, "<Point nSize="), 3u);
    EXPECT_EQ(Count(xml, "<Type nSize="), 3u);
    EXPECT_EQ(Count(xml, "<P x="), points + 4);  // the characters' points and the frame
    EXPECT_EQ(Count(xml, "<T data="), types);
    EXPECT_NE(xml.find("</list><FourPoint>"), std::string::npos);
    EXPECT_EQ(xml.size() - xml.rfind("</FourPoint></Fonts>"), std::string("</FourPoint></Fonts>").size());

    // A text without characters: an empty list.
    CFonts empty;
    EXPECT_NE(Xml(empty).find("<list nSize=\"0\" ></list>"), std::string::npos);
}

// The moves of one export, in drawing units: rapid moves flagged.
std::vector<std::pair<bool, tagPOINTF>> Moves(CFonts& t, bool gcode) {
    GCodeContext ctx;
    ctx.bGCode = gcode ? 1 : 0;
    ctx.bToList = 1;
    EXPECT_EQ(t.ExportGCodeToBuff(ctx), 0);
    std::string all;
    for (const std::wstring& l : ctx.lines) all += std::string(l.begin(), l.end());
    std::vector<std::pair<bool, tagPOINTF>> moves;
    std::istringstream in(all);
    std::string line;
    while (std::getline(in, line)) {
        float x = 0, y = 0, z = 0;
        if (gcode) {
            if (std::sscanf(line.c_str(), "G00 X%f Y%f Z%f", &x, &y, &z) == 3) moves.push_back({true, {x, y}});
            if (std::sscanf(line.c_str(), "G01 X%f Y%f Z%f", &x, &y, &z) == 3) moves.push_back({false, {x, y}});
            EXPECT_EQ(z, 0.0f);
        } else {
            if (std::sscanf(line.c_str(), "PU%f %f;", &x, &y) == 2) moves.push_back({true, {x / 40, y / 40}});
            if (std::sscanf(line.c_str(), "PD%f %f;", &x, &y) == 2) moves.push_back({false, {x / 40, y / 40}});
        }
    }
    return moves;
}

// "I" is a rectangle: one rapid move to a corner, cuts along the four sides
// and back to the start, in G-code and in HPGL.
TEST_F(TextExport, GCodeAndHpglTraceTheGlyphOutline) {
    auto t = Text(L"I", {20, 30});
    Gdiplus::RectF r = testsupport::RectOf(*t);
    ASSERT_GT(r.Width, 0.5f);
    ASSERT_GT(r.Height, 5.0f);
    for (bool gcode : {true, false}) {
        const double tol = gcode ? 0.0015 : 0.0126;  // three decimals, or 1/40 mm
        const auto moves = Moves(*t, gcode);
        ASSERT_GE(moves.size(), 5u) << gcode;
        EXPECT_TRUE(moves.front().first);
        std::set<std::pair<int, int>> corners;
        for (size_t i = 0; i < moves.size(); ++i) {
            EXPECT_EQ(moves[i].first, i == 0) << i;
            const tagPOINTF p = moves[i].second;
            const bool left = std::fabs(p.x - r.X) < tol, right = std::fabs(p.x - (r.X + r.Width)) < tol;
            const bool top = std::fabs(p.y - r.Y) < tol, bottom = std::fabs(p.y - (r.Y - r.Height)) < tol;
            EXPECT_TRUE((left || right) && (top || bottom)) << p.x << "," << p.y;
            corners.insert({right ? 1 : 0, top ? 1 : 0});
            // Consecutive moves run along a side of the rectangle.
            if (i > 0) {
                const tagPOINTF q = moves[i - 1].second;
                EXPECT_TRUE(std::fabs(p.x - q.x) < tol || std::fabs(p.y - q.y) < tol) << i;
            }
        }
        EXPECT_EQ(corners.size(), 4u);
        EXPECT_NEAR(moves.back().second.x, moves.front().second.x, tol);
        EXPECT_NEAR(moves.back().second.y, moves.front().second.y, tol);
    }
}

}  // namespace
