// What making a shape must keep now that it is cheap: GUIDs unique across
// threads and processes, one event per shape however many threads ask for it
// first, and captions that follow the language table as it changes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "morvik/halder/baseshape.h"
#include "morvik/halder/lang.h"

namespace {

class CNamedShape : public CBaseShape {
public:
    static CShapeCounter& Counter() {
        static CShapeCounter c;
        return c;
    }
    explicit CNamedShape(const wchar_t* format = L"%s%d") {
        InitShape(SHAPE_POLYLINE, "IDS_TYPENAME_POLYLINE", Counter(), format);
    }
};

std::array<uint8_t, 16> Bytes(const GUID& g) {
    std::array<uint8_t, 16> b{};
    std::memcpy(b.data(), &g, sizeof g);
    return b;
}

// A forked child starts with a copy of the parent's memory: its GUIDs must
// not repeat the ones the parent makes next.
TEST(ShapeMaking, GuidsDifferAfterFork) {
    GUID before{};
    ASSERT_EQ(CoCreateGuid(&before), S_OK);  // the thread's source is in use
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        GUID g[4]{};
        for (GUID& x : g) CoCreateGuid(&x);
        const ssize_t n = write(fds[1], g, sizeof g);
        _exit(n == static_cast<ssize_t>(sizeof g) ? 0 : 1);
    }
    close(fds[1]);
    std::set<std::array<uint8_t, 16>> seen{Bytes(before)};
    for (int i = 0; i < 4; ++i) {
        GUID g{};
        CoCreateGuid(&g);
        seen.insert(Bytes(g));
    }
    GUID fromChild[4]{};
    size_t got = 0;
    while (got < sizeof fromChild) {
        const ssize_t n = read(fds[0], reinterpret_cast<char*>(fromChild) + got, sizeof fromChild - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(got, sizeof fromChild);
    for (const GUID& g : fromChild) seen.insert(Bytes(g));
    EXPECT_EQ(seen.size(), 9u);
}

TEST(ShapeMaking, ThreadsAskingFirstShareOneEvent) {
    for (int round = 0; round < 20; ++round) {
        CNamedShape shape;
        constexpr int kThreads = 6;
        std::array<HANDLE, kThreads> seen{};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { seen[t] = shape.GetMarkEvent(); });
        for (auto& th : threads) th.join();
        for (HANDLE h : seen) ASSERT_EQ(h, seen[0]);
        ASSERT_NE(seen[0], nullptr);
        // One signalled, auto-reset event: taken once, then busy.
        EXPECT_EQ(WaitForSingleObject(seen[0], 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(seen[0], 0), static_cast<DWORD>(WAIT_TIMEOUT));
        SetEvent(seen[0]);
    }
}

TEST(ShapeMaking, CaptionsFollowTheLanguageTable) {
    CLang* lang = CLang::Instance();
    CNamedShape first;
    EXPECT_EQ(first.GetCaption(), CString(L"Polyline") + CString(std::to_wstring(first.GetCountNum()).c_str()));
    EXPECT_EQ(first.m_wstrCaption, std::wstring(first.GetCaption().GetString()));
    // Numbers of any length, and the format without a number.
    CNamedShape::Counter().Reset();
    for (int i = 1; i < 12345; ++i) CNamedShape::Counter().Take();
    EXPECT_EQ(CNamedShape().GetCaption(), CString(L"Polyline12345"));
    EXPECT_EQ(CNamedShape(L"%s").GetCaption(), CString(L"Polyline"));
    EXPECT_EQ(CNamedShape(L"%s #%d").GetCaption(), CString(L"Polyline #12347"));

    lang->SetString("IDS_TYPENAME_POLYLINE", L"Linie");
    EXPECT_EQ(CNamedShape(L"%s").GetCaption(), CString(L"Linie"));
    std::thread([] { EXPECT_EQ(CNamedShape(L"%s").GetTypeName(), CString(L"Linie")); }).join();
    lang->ResetToDefaults();
    EXPECT_EQ(CNamedShape(L"%s").GetCaption(), CString(L"Polyline"));
}

// Shapes share their type name's text: a later change of the table gives
// new shapes the new name and leaves the ones made before as they were.
TEST(ShapeMaking, TypeNamesStayWithTheShapesTheyWereGiven) {
    CLang* lang = CLang::Instance();
    CNamedShape before(L"%s");
    lang->SetString("IDS_TYPENAME_POLYLINE", L"Linie");
    CNamedShape after(L"%s");
    CNamedShape copy(L"%s");
    copy = before;
    lang->ResetToDefaults();
    EXPECT_EQ(before.GetTypeName(), CString(L"Polyline"));
    EXPECT_EQ(after.GetTypeName(), CString(L"Linie"));
    EXPECT_EQ(copy.GetTypeName(), CString(L"Polyline"));
    EXPECT_EQ(CNamedShape(L"%s").GetTypeName(), CString(L"Polyline"));
}

TEST(ShapeMaking, RenumberingMovesOnlyADefaultCaption) {
    CNamedShape::Counter().Reset();
    for (int i = 1; i < 99; ++i) CNamedShape::Counter().Take();
    CNamedShape shape;  // Polyline99
    // More digits, fewer digits, a negative number: the caption follows.
    for (int n : {100, 7, -12, 99}) {
        shape.Renumber(n);
        const CString expected = CString(L"Polyline") + CString(std::to_wstring(n).c_str());
        EXPECT_EQ(shape.GetCaption(), expected);
        EXPECT_EQ(shape.m_wstrCaption, std::wstring(expected.GetString()));
        EXPECT_EQ(shape.GetCountNum(), n);
    }
    // Captions that only look like the default one stay as they are.
    for (const wchar_t* own : {L"Polyline990", L"Polyline9", L"Polyline99x", L"polyline99", L"Outline"}) {
        shape.SetCaption(CString(own));
        shape.Renumber(99);  // the number it has: nothing changes
        shape.Renumber(5);
        EXPECT_EQ(shape.GetCaption(), CString(own));
        shape.Renumber(99);
    }
}

}  // namespace
