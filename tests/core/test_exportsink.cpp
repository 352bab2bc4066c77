// The XML and G-code/HPGL sinks: exact line formats and the suppression of
// repeated positions.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "morvik/core/exportsink.h"
#include "morvik/win32/windows.h"
#include "support/temp_dir.h"

namespace {

std::string TempPath(const char* name) { return std::string("/tmp/morvik-sink-") + name; }

using testsupport::ReadAll;

}  // namespace

TEST(GCodeSink, GCodeLinesAndRepeatedPositions) {
    GCodeContext ctx;
    ctx.bGCode = 1;
    ctx.bToList = 1;
    ctx.fLastX = ctx.fLastY = ctx.fLastZ = -1.0f;
    ctx.LineTo(1.0f, 2.0f, 0.0f);
    ctx.LineTo(1.0f, 2.0f, 0.0f);  // same point: nothing
    ctx.MoveTo(1.0f, 2.0f, 0.0f);  // no pen-up after arriving there
    ctx.MoveTo(1.0f, 2.0f, 0.5f);  // only z differs: written
    ctx.MoveTo(-3.25f, 0.0005f, 0.0f);
    ASSERT_EQ(ctx.lines.size(), 3u);
    EXPECT_EQ(ctx.lines[0], L"G01 X1.000 Y2.000 Z0.000 \n");
    EXPECT_EQ(ctx.lines[1], L"G00 X1.000 Y2.000 Z0.500 \n");
    EXPECT_EQ(ctx.lines[2], L"G00 X-3.250 Y0.001 Z0.000 \n");
}

TEST(GCodeSink, HpglScalesByFortyAndRoundsHalvesAway) {
    GCodeContext ctx;
    ctx.bGCode = 0;
    ctx.bToList = 1;
    ctx.MoveTo(1.5f, 2.25f, 0.0f);
    ctx.LineTo(-0.0125f, 0.1f, 0.0f);
    ASSERT_EQ(ctx.lines.size(), 2u);
    EXPECT_EQ(ctx.lines[0], L"LT;\nPU60 90;\n");
    EXPECT_EQ(ctx.lines[1], L"PD-1 4;\n");
}

// A fresh sink does not know where the head is: a path that starts at the
// origin still gets its rapid move, in both modes. A host that says the head
// is at the origin gets today's lines: no move to where it already is.
TEST(GCodeSink, FirstMoveIsWrittenUnlessTheHostSetsThePosition) {
    for (unsigned char gcode : {1, 0}) {
        GCodeContext fresh;
        fresh.bGCode = gcode;
        fresh.bToList = 1;
        fresh.MoveTo(0.0f, 0.0f, 0.0f);
        fresh.LineTo(10.0f, 0.0f, 0.0f);
        ASSERT_EQ(fresh.lines.size(), 2u);
        EXPECT_EQ(fresh.lines[0].substr(0, 6), gcode ? L"G00 X0" : L"LT;\nPU");

        GCodeContext placed;
        placed.bGCode = gcode;
        placed.bToList = 1;
        placed.fLastX = placed.fLastY = placed.fLastZ = 0.0f;
        placed.MoveTo(0.0f, 0.0f, 0.0f);
        placed.LineTo(10.0f, 0.0f, 0.0f);
        ASSERT_EQ(placed.lines.size(), 1u);
        EXPECT_EQ(placed.lines[0].substr(0, 6), gcode ? L"G01 X1" : L"PD400 ");
    }
}

TEST(GCodeSink, StreamModeWritesAnsiBytesAndListStaysEmpty) {
    std::string path = TempPath("gcode.txt");
    {
        GCodeContext ctx;
        ctx.file.open(path, std::ios::binary);
        ctx.bGCode = 1;
        ctx.bToList = 0;
        ctx.MoveTo(1.0f, 1.0f, 0.0f);
        ctx.LineTo(2.0f, 1.0f, 0.0f);
        EXPECT_TRUE(ctx.lines.empty());
    }
    EXPECT_EQ(ReadAll(path), "G00 X1.000 Y1.000 Z0.000 \nG01 X2.000 Y1.000 Z0.000 \n");
    std::remove(path.c_str());
}

// The XML sink writes UTF-8 whatever the ANSI code page, and a declaration
// the host writes through it names UTF-8, in one call or several, after a
// byte-order mark or not. The expected bytes are the characters' UTF-8 forms.
TEST(XmlSink, WritesUtf8AndDeclaresIt) {
    const std::pair<std::vector<const wchar_t*>, std::string> firsts[] = {
        {{L"<P>\u4E2D\u00E9</P>"}, "<P>\xE4\xB8\xAD\xC3\xA9</P>"},
        {{L"<?xml version=\"1.0\"?>\r\n<D>"}, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<D>"},
        {{L"<?xml version='1.0' standalone='yes'?><D>"}, "<?xml version='1.0' encoding=\"UTF-8\" standalone='yes'?><D>"},
        {{L"<?xml version=\"1.0\" encoding=\"GBK\"?><D>"}, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><D>"},
        {{L"<?xml version=\"1.0\" encoding=\"", L"GB2312", L"\"?>"}, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
        {{L"\uFEFF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><D>"},
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><D>"},
        {{L"\uFEFF", L"<?x", L"ml version=\"1.0\"", L"?>"}, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
        {{L"<?x", L"<D>"}, "<?x<D>"},
        {{L"<?xml-stylesheet href=\"b\" encoding=\"GBK\"?>"}, "<?xml-stylesheet href=\"b\" encoding=\"GBK\"?>"},
    };
    std::string path = TempPath("xml.txt");
    UINT saved = GetACP();
    SetACP(936);
    for (const auto& [first, expected] : firsts) {
        {
            tagXmlBuff buff;
            buff.file.open(path, std::ios::binary);
            for (const wchar_t* piece : first) buff.WriteToFile(piece);
            buff.WriteToFile(L"\r\n");
            buff.WriteToFile(nullptr);
            buff.WriteToFile(L"<?xml-stylesheet href=\"a\"?>");
        }
        EXPECT_EQ(ReadAll(path), expected + "\r\n<?xml-stylesheet href=\"a\"?>");
    }
    SetACP(saved);
    std::remove(path.c_str());
}

TEST(XmlSink, EscapesMarkupCharactersOnly) {
    EXPECT_EQ(XmlEscape(L"Polyline1"), L"Polyline1");
    EXPECT_EQ(XmlEscape(L"a<b & \"c\">"), L"a&lt;b &amp; &quot;c&quot;&gt;");
    EXPECT_EQ(XmlEscape(std::wstring(L"x\x7\ty\x0B") + wchar_t(0xFFFF) + L"'\u4E2D"), L"x?&#9;y?" L"?'\u4E2D");
    EXPECT_EQ(XmlEscape(L"\r\n2\n"), L"&#13;&#10;2&#10;");
}
