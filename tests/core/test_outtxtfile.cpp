// The marked-content record: numbering, the lines appended to the file and
// the duplicate check against that file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "morvik/core/outtxtfile.h"
#include "support/temp_dir.h"
#include "morvik/win32/windows.h"

namespace {

class OutTxtFileTest : public ::testing::Test {
protected:
    static CString Wide(const std::string& s) { return CString(Utf8ToWide(s)); }
    std::string Content() const {
        return testsupport::ReadAll(m_path);
    }
    void WriteRaw(const std::string& bytes) const { std::ofstream(m_path, std::ios::binary) << bytes; }

    testsupport::TempDir m_tmp{"morvik-outtxt"};
    std::string m_dir = m_tmp.Dir();
    std::string m_path = m_dir + "/marked.txt";
};

}  // namespace

TEST_F(OutTxtFileTest, NumbersEveryTextWhetherOrNotItIsWritten) {
    COutTxtFile out;
    out.SetOutFlag(0, 1, 0, Wide(m_path));
    out.SetMapString(L"A");
    out.SetMapString(L"");
    EXPECT_EQ(out.GetCurCnt(), 3u);
    EXPECT_EQ(Content(), "");

    out.SetCurCnt(10);
    out.SetOutFlag(1, 0, 0, Wide(m_path));
    out.SetMapString(L"B");
    out.SetMapString(L"");  // takes a number, writes nothing
    // A file that cannot be opened loses nothing in memory.
    out.SetOutFlag(1, 0, 0, Wide(m_dir + "/missing/x.txt"));
    out.SetMapString(L"C");
    EXPECT_EQ(out.GetCurCnt(), 13u);
    const std::map<int, CString> expected = {{1, L"A"}, {2, L""}, {10, L"B"}, {11, L""}, {12, L"C"}};
    EXPECT_EQ(out.GetTexts(), expected);
    EXPECT_EQ(Content(), "B\n");
}

TEST_F(OutTxtFileTest, LinesAreAppendedInTheAnsiCodePageWithOptionalStamp) {
    const UINT savedCodePage = GetACP();
    ASSERT_TRUE(SetACP(936));
    COutTxtFile out;
    out.SetOutFlag(1, 0, 0, Wide(m_path));
    out.SetMapString(L"SN0001");
    out.SetMapString(L"\u6279\u53F7");  // two characters, two bytes each in GBK
    EXPECT_EQ(Content(), "SN0001\n\xC5\xFA\xBA\xC5\n");
    EXPECT_EQ(out.IsMarked(L"\u6279\u53F7"), 1);
    SetACP(savedCodePage);

    // A 700-character text with its stamp stays on one line of its own.
    const std::string longText(700, 'k');
    WriteRaw("");
    out.SetOutFlag(1, 1, 0, Wide(m_path));
    out.SetMapString(Wide(longText));
    out.SetMapString(L"next");
    const std::string content = Content();
    ASSERT_EQ(content.size(), 20 + longText.size() + 1 + 20 + 5);
    EXPECT_EQ(content.substr(0, 19).find_first_not_of("0123456789-: "), std::string::npos);
    EXPECT_EQ(content.substr(19, longText.size() + 2), "|" + longText + "\n");
    EXPECT_EQ(content.substr(content.size() - 6), "|next\n");
    EXPECT_EQ(out.IsMarked(Wide(longText)), 1);
    EXPECT_EQ(out.IsMarked(Wide(longText.substr(0, 511))), 0);
    EXPECT_EQ(out.IsMarked(L"next"), 1);
    EXPECT_EQ(out.IsMarked(L"nex"), 0);
}

TEST_F(OutTxtFileTest, OnlyWholeTextsCountAsMarked) {
    COutTxtFile out;
    out.SetOutFlag(1, 0, 0, Wide(m_path));
    WriteRaw("2024-05-06 07:08:09|SN10\nSN20\nX|SN30\nA|B\r\n" + std::string(511, 'x') +
             "SN5\n2024-05-06 07:08:09|tail");
    EXPECT_EQ(out.IsMarked(L"SN10"), 1);
    EXPECT_EQ(out.IsMarked(L"SN1"), 0);   // a prefix of a stamped text
    EXPECT_EQ(out.IsMarked(L"SN2"), 0);   // a prefix of a plain line
    EXPECT_EQ(out.IsMarked(L"SN30"), 0);  // after a bar that is no time stamp
    EXPECT_EQ(out.IsMarked(L"B"), 0);
    EXPECT_EQ(out.IsMarked(L"A|B"), 1);   // a text with a bar, CR LF line end
    EXPECT_EQ(out.IsMarked(L"SN5"), 0);   // the end of a long line
    EXPECT_EQ(out.IsMarked(L"tail"), 1);  // the last line has no line feed

    // A new record starts its own line although the last one had no line feed.
    out.SetMapString(L"P|Q");
    EXPECT_EQ(out.IsMarked(L"P|Q"), 1);
    EXPECT_EQ(out.IsMarked(L"tail"), 1);
}

TEST_F(OutTxtFileTest, UnusablePathsAnswerNotMarkedAndLongOnesWork) {
    COutTxtFile out;
    EXPECT_EQ(out.IsMarked(L"A"), 0);  // no path set
    out.SetOutFlag(1, 0, 0, Wide(m_dir));
    out.SetMapString(L"A");
    EXPECT_EQ(out.IsMarked(L"A"), 0);  // a folder is no record file

    std::string deep = m_dir;
    while (deep.size() < 400) {
        deep += "/" + std::string(40, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    out.SetOutFlag(1, 0, 0, Wide(deep + "/marked.txt"));
    out.SetMapString(L"deep");
    EXPECT_EQ(out.IsMarked(L"deep"), 1);
}
