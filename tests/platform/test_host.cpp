// Host services: the headless default, the recording double, swapping hosts.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "morvik/host/host_services.h"
#include "morvik/host/recording_host.h"

namespace {

// Installs a recording host for one test and restores the headless default.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override { SetHost(rec); }
    void TearDown() override { SetHost(nullptr); }
    std::shared_ptr<RecordingHost> rec = std::make_shared<RecordingHost>();
};

std::vector<std::wstring> g_logged;

TEST(HeadlessHostTest, AnswersWithTheDefaultButtonAndLogs) {
    HeadlessHost h;
    g_logged.clear();
    SetHostLogSink([](const std::wstring& line) { g_logged.push_back(line); });
    EXPECT_EQ(h.MessageBox(nullptr, L"plain", L"Info", MB_OK), IDOK);
    EXPECT_EQ(h.MessageBox(nullptr, L"again?", L"Mark", MB_OKCANCEL | MB_TOPMOST), IDOK);
    EXPECT_EQ(h.MessageBox(nullptr, L"q", L"c", MB_YESNO), IDYES);
    EXPECT_EQ(h.MessageBox(nullptr, L"q", L"c", MB_YESNOCANCEL | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(h.MessageBox(nullptr, L"q", L"c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    SetHostLogSink(nullptr);
    EXPECT_EQ(h.MessageBox(nullptr, L"not logged", L"c", MB_OK), IDOK);
    ASSERT_EQ(g_logged.size(), 5u);
    EXPECT_NE(g_logged[0].find(L"plain"), std::wstring::npos);
    EXPECT_NE(g_logged[0].find(L"Info"), std::wstring::npos);

    std::wstring path = L"keep.orz";
    EXPECT_FALSE(h.FileDialog(true, L"*.orz", path));
    EXPECT_EQ(path, L"keep.orz");
    EXPECT_EQ(h.FindWindow(L"", L"MarkStatus"), nullptr);
}

TEST(HostSwap, SetHostReturnsThePreviousAndNullRestoresHeadless) {
    EXPECT_NE(dynamic_cast<HeadlessHost*>(&Host()), nullptr);
    auto a = std::make_shared<RecordingHost>();
    auto b = std::make_shared<RecordingHost>();
    auto headless = SetHost(a);
    EXPECT_NE(dynamic_cast<HeadlessHost*>(headless.get()), nullptr);
    EXPECT_EQ(&Host(), a.get());
    EXPECT_EQ(SetHost(b), a);
    EXPECT_EQ(SetHost(nullptr), b);
    EXPECT_EQ(&Host(), headless.get());
}

TEST(HostSwap, ReferenceStaysValidWhileAnotherThreadSwaps) {
    HANDLE events[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    {
        auto rec = std::make_shared<RecordingHost>();
        rec->QueueMessageBoxAnswer(IDNO);
        SetHost(rec);
    }  // from here the host table alone owns it
    HANDLE t = CreateThread(
        nullptr, 0, [](void* p) -> DWORD {
            auto* ev = static_cast<HANDLE*>(p);
            IHostServices& host = Host();
            SetEvent(ev[0]);
            WaitForSingleObject(ev[1], INFINITE);
            return static_cast<DWORD>(host.MessageBox(nullptr, L"late", L"c", MB_YESNO));
        },
        events, 0, nullptr);
    WaitForSingleObject(events[0], INFINITE);
    SetHost(nullptr);
    SetEvent(events[1]);
    ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    DWORD answer = 0;
    GetExitCodeThread(t, &answer);
    EXPECT_EQ(answer, static_cast<DWORD>(IDNO));
    for (HANDLE h : {t, events[0], events[1]}) CloseHandle(h);
}

TEST_F(HostTest, RecordsBoxesAndAnswersFromTheScript) {
    rec->QueueMessageBoxAnswer(IDCANCEL);
    HWND owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(MessageBoxW(owner, L"Text already marked", L"Mark", MB_OKCANCEL | MB_TOPMOST), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, L"queue empty", L"c", MB_YESNO), IDYES);  // the default button
    rec->SetDefaultMessageBoxAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDCANCEL);
    MessageBoxA(nullptr, "Open File:\xD6\xD0\xCE\xC4.dxf Fail", "Error", MB_OK);  // from GBK

    const auto boxes = rec->MessageBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].text, L"Text already marked");
    EXPECT_EQ(boxes[0].caption, L"Mark");
    EXPECT_EQ(boxes[0].type, MB_OKCANCEL | MB_TOPMOST);
    EXPECT_EQ(boxes[1].answer, IDYES);
    EXPECT_EQ(boxes[2].text, L"");
    EXPECT_EQ(boxes[2].caption, L"Error");  // as Win32 titles a box without caption
    EXPECT_EQ(boxes[3].text, L"Open File:\u4E2D\u6587.dxf Fail");
    rec->ClearRecords();
    EXPECT_TRUE(rec->MessageBoxes().empty());
}

TEST_F(HostTest, RecordsMessagesWindowsAndDialogs) {
    HWND panel = reinterpret_cast<HWND>(0x10), preview = reinterpret_cast<HWND>(0x20);
    EXPECT_TRUE(PostMessageW(preview, WM_USER + 111, 1, 777));
    rec->QueueSendMessageResult(5);
    EXPECT_EQ(SendMessageW(panel, WM_SETREDRAW, FALSE, 0), 5);
    EXPECT_EQ(SendMessageW(panel, WM_SETREDRAW, TRUE, 0), 0);
    const auto msgs = rec->Messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_TRUE(msgs[0].posted);
    EXPECT_EQ(msgs[0].wnd, preview);
    EXPECT_EQ(msgs[0].msg, 0x46Fu);
    EXPECT_EQ(msgs[0].wParam, 1u);
    EXPECT_EQ(msgs[0].lParam, 777);
    EXPECT_FALSE(msgs[2].posted);
    EXPECT_EQ(msgs[2].wParam, static_cast<WPARAM>(TRUE));

    rec->SetForegroundWindow(preview);
    EXPECT_EQ(FindWindowW(nullptr, L"MarkStatus"), nullptr);
    EXPECT_EQ(GetForegroundWindowHost(), preview);
    ASSERT_EQ(rec->FindWindowCalls().size(), 1u);
    EXPECT_EQ(rec->FindWindowCalls()[0].windowName, L"MarkStatus");

    rec->QueueFileDialogAnswer(std::wstring(L"/data/in.dxf"));
    std::wstring path = L"start";
    EXPECT_TRUE(Host().FileDialog(true, L"DXF|*.dxf", path));
    EXPECT_EQ(path, L"/data/in.dxf");
    EXPECT_FALSE(Host().FileDialog(false, L"*.orz", path));  // queue empty: cancelled
    EXPECT_EQ(path, L"/data/in.dxf");
    const auto dialogs = rec->FileDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].initialPath, L"start");
    EXPECT_TRUE(dialogs[0].accepted);
    EXPECT_FALSE(dialogs[1].accepted);
}

TEST_F(HostTest, BoxesFromManyThreadsAreAllRecorded) {
    constexpr int kThreads = 8, kEach = 50;
    std::array<HANDLE, kThreads> threads{};
    for (auto& t : threads) {
        t = CreateThread(
            nullptr, 0, [](void*) -> DWORD {
                for (int i = 0; i < kEach; ++i) MessageBoxW(nullptr, L"busy", L"c", MB_OK);
                return 0;
            },
            nullptr, 0, nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    for (HANDLE t : threads) CloseHandle(t);
    EXPECT_EQ(rec->MessageBoxes().size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
