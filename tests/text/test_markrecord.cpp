// The history of marked texts: its file as written and read back, the
// daily clear, the default file and a file that cannot be written.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "morvik/halder/textelement.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "morvik/text/markrecord.h"
#include "text/text_test_util.h"

namespace {

using testsupport::ReadAll;

// The file's last write as if made at `t` (the test's clock is not the
// file system's).
void WrittenAt(const std::string& path, const CTime& t) {
    const struct timeval times[2] = {{static_cast<time_t>(t.GetTime()), 0}, {static_cast<time_t>(t.GetTime()), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

class MarkRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetVarTextClock([this] { return m_now; });
    }
    void TearDown() override { SetVarTextClock(nullptr); }
    void At(int day, int h, int m, int s) { m_now = CTime(2024, 5, day, h, m, s); }

    text_test::TempRunLog m_log{"markrecord"};
    testsupport::TempDir m_dir{"morvik-markrecord"};
    CTime m_now{CTime(2024, 5, 1, 8, 30, 0)};
};

TEST_F(MarkRecordTest, FileRoundTripsStampedUnstampedAndMultiLineTexts) {
    const std::string path = m_dir.File("history.txt");
    CMarkRecord stamped;
    ASSERT_FALSE(stamped.Open(CString(path.c_str()), true, true, false, CTime()));  // no file yet
    EXPECT_TRUE(stamped.AddRecord(CString(L"AB"), true));
    EXPECT_TRUE(stamped.AddRecord(CString(L"A\r\nB"), true));
    EXPECT_TRUE(stamped.Contains(CString(L"A\r\nB"), false));
    EXPECT_TRUE(stamped.Contains(CString(L"A\nB"), false));  // the same text, broken the other way
    EXPECT_TRUE(stamped.AddRecord(CString(L"not kept"), false));
    CMarkRecord plain;
    plain.Open(CString(path.c_str()), false, false, false, CTime());
    EXPECT_TRUE(plain.AddRecord(CString(L"A|B"), true));
    EXPECT_TRUE(plain.AddRecord(CString(L"C\nD"), true));
    EXPECT_EQ(ReadAll(path),
              "2024-05-01 08:30:00|AB\r\n2024-05-01 08:30:00|A\\nB\r\nA|B\r\nC\\nD\r\n");

    CMarkRecord again;
    ASSERT_TRUE(again.Open(CString(path.c_str()), false, true, false, CTime()));
    EXPECT_EQ(again.GetFileTextCount(), 4u);
    for (const wchar_t* t : {L"AB", L"A\r\nB", L"A|B", L"C\r\nD", L"C\nD"}) {
        EXPECT_TRUE(again.Contains(CString(t), true)) << CStringA(CString(t)).GetString();
        EXPECT_FALSE(again.Contains(CString(t), false));
    }
    EXPECT_FALSE(again.Contains(CString(L"B"), true));

    // Written by another program with bare line feeds and a last line
    // without one.
    std::ofstream(m_dir.File("lf.txt"), std::ios::binary) << "2023-01-02 03:04:05|X\n|Y\nZ";
    CMarkRecord lf;
    ASSERT_TRUE(lf.Open(CString(m_dir.File("lf.txt").c_str()), false, false, false, CTime()));
    EXPECT_TRUE(lf.Contains(CString(L"X"), true));
    EXPECT_TRUE(lf.Contains(CString(L"|Y"), true));
    EXPECT_TRUE(lf.Contains(CString(L"Z"), true));
}

TEST_F(MarkRecordTest, DailyResetClearsAtTheNextOccurrence) {
    const std::string path = m_dir.File("daily.txt");
    std::ofstream(path, std::ios::binary) << "OLD\r\n";
    // Opened before today's reset time: today's clear still comes.
    At(1, 7, 0, 0);
    CMarkRecord h;
    ASSERT_TRUE(h.Open(CString(path.c_str()), false, true, true, CTime(2020, 1, 1, 8, 0, 0)));
    EXPECT_EQ(h.GetResetTime(), CTime(2024, 5, 1, 8, 0, 0));
    EXPECT_TRUE(h.Contains(CString(L"OLD"), true));
    h.AddRecord(CString(L"E1"), true);
    EXPECT_EQ(ReadAll(path), "OLD\r\nE1\r\n");

    At(1, 8, 0, 1);
    h.AddRecord(CString(L"E2"), true);
    EXPECT_EQ(ReadAll(path), "E2\r\n");
    EXPECT_FALSE(h.Contains(CString(L"OLD"), true));
    EXPECT_FALSE(h.Contains(CString(L"E1"), true));
    EXPECT_TRUE(h.Contains(CString(L"E2"), false));
    EXPECT_EQ(h.GetResetTime(), CTime(2024, 5, 2, 8, 0, 0));

    At(2, 7, 59, 59);
    h.AddRecord(CString(L"E3"), true);
    At(2, 8, 0, 1);
    h.AddRecord(CString(L"E4"), true);
    EXPECT_EQ(ReadAll(path), "E4\r\n");

    // A pass opened after a reset time that no pass saw: a file last written
    // before the latest passed reset moment is yesterday's and is cleared
    // now; one written at or after it holds today's texts. The next clear
    // is the next occurrence either way.
    struct Case {
        CTime open, written;
        bool kept;
        CTime next;
    };
    const CTime day4(2024, 5, 4, 8, 0, 0);
    for (const Case& c : {Case{CTime(2024, 5, 3, 9, 0, 0), CTime(2024, 5, 3, 7, 59, 59), false, day4},
                          Case{CTime(2024, 5, 3, 9, 0, 0), CTime(2024, 5, 3, 8, 0, 0), true, day4},
                          Case{CTime(2024, 5, 3, 9, 0, 0), CTime(2024, 5, 2, 8, 0, 1), false, day4},
                          Case{CTime(2024, 5, 4, 7, 0, 0), CTime(2024, 5, 3, 8, 30, 0), true, day4},
                          Case{CTime(2024, 5, 4, 7, 0, 0), CTime(2024, 5, 3, 7, 30, 0), false, day4}}) {
        std::ofstream(path, std::ios::binary) << "E4\r\n";
        WrittenAt(path, c.written);
        m_now = c.open;
        h.Open(CString(path.c_str()), false, true, true, CTime(2024, 5, 2, 8, 0, 0));
        EXPECT_EQ(h.GetResetTime(), c.next);
        EXPECT_EQ(h.Contains(CString(L"E4"), true), c.kept) << c.written.GetTime();
        EXPECT_EQ(ReadAll(path), c.kept ? "E4\r\n" : "");
    }
}

TEST_F(MarkRecordTest, DefaultFileAndUnwritableFile) {
    CMarkRecord h;
    h.Open(CString(), false, true, false, CTime());
    EXPECT_TRUE(h.AddRecord(CString(L"DEF"), true));
    const std::string file = (m_log.Dir() / "markdata.txt").string();
    EXPECT_EQ(ReadAll(file), "DEF\r\n");
    // Recorded after the switch to the default file, so it is remembered.
    EXPECT_TRUE(h.Contains(CString(L"DEF"), false));

    CMarkRecord dir;
    EXPECT_FALSE(dir.Open(CString(m_dir.Dir().c_str()), false, false, false, CTime()));
    EXPECT_FALSE(dir.AddRecord(CString(L"lost"), true));
}

TEST_F(MarkRecordTest, ARecordIsOnDiskWholeOrNotAtAll) {
    const std::string path = m_dir.File("whole.txt");
    // A line left without its end (a writer killed mid-line) stays a line of
    // its own: the next record does not fuse with it.
    std::ofstream(path, std::ios::binary) << "SN0\r\nSN";
    CMarkRecord h;
    ASSERT_TRUE(h.Open(CString(path.c_str()), false, true, false, CTime()));
    EXPECT_TRUE(h.AddRecord(CString(L"SN1"), true));
    EXPECT_EQ(ReadAll(path), "SN0\r\nSN\r\nSN1\r\n");
    // Room for part of the line only: false, the part cut back off, and the
    // text no repeat.
    const std::string before = ReadAll(path);
    const int code = testsupport::RunWithFileSizeLimit(before.size() + 3, [&] {
        const bool added = h.AddRecord(CString(L"SN000101"), true);
        return (added ? 1 : 0) | (h.Contains(CString(L"SN000101"), false) ? 2 : 0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_TRUE(h.AddRecord(CString(L"SN2"), true));
    ASSERT_TRUE(h.Open(CString(path.c_str()), false, true, false, CTime()));
    for (const wchar_t* text : {L"SN0", L"SN1", L"SN2"}) EXPECT_TRUE(h.Contains(CString(text), true)) << text;
    EXPECT_FALSE(h.Contains(CString(L"SN000101"), true));
}

TEST(MarkRecordHelpers, ReplaceAllAndStamp) {
    std::string s = "a\\n\\nb";
    CMarkRecord::ReplaceAll(s, "\\n", "\r\n");
    EXPECT_EQ(s, "a\r\n\r\nb");
    std::string grow = "xx";
    CMarkRecord::ReplaceAll(grow, "x", "xx");
    EXPECT_EQ(grow, "xxxx");
    SetVarTextClock([] { return CTime(2031, 12, 31, 23, 59, 58); });
    EXPECT_EQ(CMarkRecord::MakeTimeStamp(), "2031-12-31 23:59:58|");
    SetVarTextClock(nullptr);
}


// Texts with backslashes and line breaks of every form come back from the
// file as they were marked (line breaks as CR LF); lines of other programs
// may end in CR alone; a file written before backslashes were doubled
// still reads.
TEST_F(MarkRecordTest, EveryTextReadsBackAsMarked) {
    const std::string path = m_dir.File("escaped.txt");
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"C:\\new", "C:\\new"},           {L"a\\\\nb", "a\\\\nb"},   {L"end\\", "end\\"},
        {L"x\r\ny", "x\r\ny"},             {L"x\ny", "x\r\ny"},       {L"x\ry", "x\r\ny"},
        {L"\\n\r\n\\", "\\n\r\n\\"},       {L"|bar", "|bar"},          {L"", ""},
    };
    for (int stamp = 0; stamp < 2; ++stamp) {
        std::filesystem::remove(path);
        CMarkRecord w;
        w.Open(CString(path.c_str()), stamp != 0, false, false, CTime());
        for (const auto& c : cases) ASSERT_TRUE(w.AddRecord(CString(c.first.c_str()), true));
        const std::string bytes = ReadAll(path);
        // One line per record.
        size_t lines = 0;
        for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++lines;
        EXPECT_EQ(lines, cases.size());
        CMarkRecord r;
        ASSERT_TRUE(r.Open(CString(path.c_str()), false, false, false, CTime()));
        // The three forms of a line break make one text.
        EXPECT_EQ(r.GetFileTextCount(), cases.size() - 2);
        for (const auto& c : cases) {
            EXPECT_TRUE(r.Contains(CString(c.first.c_str()), true)) << c.second << " stamp " << stamp;
        }
    }
    std::ofstream(path, std::ios::binary) << "one\rtwo\r\rthree\r\nold\\nbreak\rC:\\temp";
    CMarkRecord old;
    ASSERT_TRUE(old.Open(CString(path.c_str()), false, false, false, CTime()));
    for (const wchar_t* t : {L"one", L"two", L"three", L"old\r\nbreak", L"C:\\temp"})
        EXPECT_TRUE(old.Contains(CString(t), true)) << CStringA(CString(t)).GetString();
    EXPECT_FALSE(old.Contains(CString(L"one\rtwo"), true));
}

// Two texts sharing one history file record long texts from two threads:
// every record arrives whole, one per line.
TEST_F(MarkRecordTest, TwoHistoriesOnOneFileNeverTearARecord) {
    const std::string path = m_dir.File("shared.txt");
    constexpr int kEach = 60;
    auto run = [&](char fill) {
        CMarkRecord h;
        h.Open(CString(path.c_str()), false, false, false, CTime());
        for (int i = 0; i < kEach; ++i) h.AddRecord(CString(std::string(5000, fill).c_str()), true);
    };
    std::thread a(run, '1'), b(run, '2');
    a.join();
    b.join();
    std::istringstream in(ReadAll(path));
    std::string line;
    int whole = 0, total = 0;
    while (std::getline(in, line)) {
        ++total;
        if (line == std::string(5000, '1') + "\r" || line == std::string(5000, '2') + "\r") ++whole;
    }
    EXPECT_EQ(total, 2 * kEach);
    EXPECT_EQ(whole, 2 * kEach);
}

}  // namespace
