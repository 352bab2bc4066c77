// The run log: dated folders under a settable base, the line format, and the
// ten-second give-up when the lock is held.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "morvik/core/runlog.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ReadAll;

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = RunLog::Instance(nullptr);
        m_savedFolder = m_log->GetLogFolder();
        m_log->SetLogFolder(CString(Utf8ToWide(m_dir + "/Log/").c_str()));
    }
    void TearDown() override {
        m_log->SetClock(nullptr);
        m_log->SetLockTimeout(10000);
        m_log->SetLogFolder(m_savedFolder);
        RunLog::Instance(nullptr);
    }
    static void Clock(SYSTEMTIME* st, int year, int month, int day) {
        *st = SYSTEMTIME{};
        st->wYear = static_cast<WORD>(year);
        st->wMonth = static_cast<WORD>(month);
        st->wDay = static_cast<WORD>(day);
        st->wHour = 7;
        st->wMinute = 5;
        st->wSecond = 9;
        st->wMilliseconds = 42;
    }
    testsupport::TempDir m_tmp{"morvik-runlog"};
    std::string m_dir = m_tmp.Dir();
    RunLog* m_log = nullptr;
    CString m_savedFolder;
};

}  // namespace

TEST_F(RunLogTest, LinesGoToOneFolderPerDayWithTheirStamp) {
    m_log->SetClock([](SYSTEMTIME* st) { Clock(st, 2026, 3, 1); });
    m_log->Write(L"first");
    m_log->WriteFormat(L"%s=%d %.2f", L"count", 3, 0.5);
    m_log->SetClock([](SYSTEMTIME* st) { Clock(st, 2026, 3, 2); });
    m_log->Write(L"two\nlines");

    EXPECT_EQ(ReadAll(m_dir + "/Log/20260301/run.log"),
              "[2026-03-01 07:05:09.042]first\n[2026-03-01 07:05:09.042]count=3 0.50\n");
    EXPECT_EQ(ReadAll(m_dir + "/Log/20260302/run.log"), "[2026-03-02 07:05:09.042]two\nlines\n");
}

TEST_F(RunLogTest, EmptyNameSwitchesBackToRunLog) {
    m_log->SetClock([](SYSTEMTIME* st) { Clock(st, 2026, 1, 9); });
    RunLog::Instance(L"other.log")->Write(L"a");
    RunLog::Instance(L"")->Write(L"b");
    EXPECT_EQ(ReadAll(m_dir + "/Log/20260109/other.log"), "[2026-01-09 07:05:09.042]a\n");
    EXPECT_EQ(ReadAll(m_dir + "/Log/20260109/run.log"), "[2026-01-09 07:05:09.042]b\n");
}

TEST_F(RunLogTest, LongFormattedTextIsCutNotFatal) {
    m_log->SetClock([](SYSTEMTIME* st) { Clock(st, 2026, 1, 10); });
    std::wstring big(5000, L'x');
    m_log->WriteFormat(L"%s", big.c_str());
    std::string text = ReadAll(m_dir + "/Log/20260110/run.log");
    EXPECT_EQ(text.size(), std::string("[2026-01-10 07:05:09.042]").size() + 2046 + 1);
}

TEST_F(RunLogTest, WriterThatCannotGetTheLockDropsItsLineAndLeavesTheLock) {
    m_log->SetClock([](SYSTEMTIME* st) { Clock(st, 2026, 1, 11); });
    m_log->SetLockTimeout(50);
    ASSERT_EQ(WaitForSingleObject(m_log->GetLockEvent(), 0), WAIT_OBJECT_0);
    m_log->Write(L"dropped");
    // Still held: the dropping writer did not release someone else's lock.
    EXPECT_EQ(WaitForSingleObject(m_log->GetLockEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(m_log->GetLockEvent());
    m_log->Write(L"kept");
    EXPECT_EQ(ReadAll(m_dir + "/Log/20260111/run.log"), "[2026-01-11 07:05:09.042]kept\n");
}

TEST(RunLogDirs, CreatesEveryMissingLevel) {
    testsupport::TempDir tmp("morvik-dirs");
    const std::string dir = tmp.Dir();
    std::wstring deep = Utf8ToWide(dir + "/a/b/c/");
    RunLog::CreateDirs(deep.c_str());
    std::ofstream probe(dir + "/a/b/c/x");
    EXPECT_TRUE(probe.good());
}
