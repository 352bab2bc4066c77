// Events, waits, threads and GUIDs.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "morvik/win32/windows.h"

namespace {

constexpr int kWorkers = 4;

// Workers that each wait once on `gate`, then set their own `done` event.
struct Crowd {
    struct Worker {
        HANDLE gate, done;
    };
    std::array<Worker, kWorkers> workers;
    std::array<HANDLE, kWorkers> threads{};
    std::vector<HANDLE> pending;  // done events not yet seen

    explicit Crowd(HANDLE gate) {
        for (int i = 0; i < kWorkers; ++i) {
            workers[i] = {gate, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
            pending.push_back(workers[i].done);
            threads[i] = CreateThread(
                nullptr, 0, [](void* p) -> DWORD {
                    auto* w = static_cast<Worker*>(p);
                    return WaitForSingleObject(w->gate, INFINITE) == WAIT_OBJECT_0 && SetEvent(w->done) ? 0 : 1;
                },
                &workers[i], 0, nullptr);
        }
    }
    ~Crowd() {
        WaitForMultipleObjects(kWorkers, threads.data(), TRUE, INFINITE);
        for (int i = 0; i < kWorkers; ++i) {
            CloseHandle(threads[i]);
            CloseHandle(workers[i].done);
        }
    }
    // Waits for one more worker to come through; WAIT_TIMEOUT if none does.
    DWORD NextThrough(DWORD ms) {
        const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(pending.size()), pending.data(), FALSE, ms);
        if (r < pending.size()) pending.erase(pending.begin() + r);
        return r;
    }
};

TEST(Win32Events, AutoResetReleasesExactlyOneWaiterPerSet) {
    HANDLE gate = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        Crowd crowd(gate);
        for (int round = 1; round <= kWorkers; ++round) {
            ASSERT_TRUE(SetEvent(gate));
            ASSERT_NE(crowd.NextThrough(INFINITE), WAIT_TIMEOUT);
            if (round < kWorkers) {
                EXPECT_EQ(crowd.NextThrough(50), WAIT_TIMEOUT) << "a second waiter passed on one signal";
            }
        }
    }
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_TIMEOUT);  // every signal was consumed
    CloseHandle(gate);
}

TEST(Win32Events, ManualResetReleasesAllAndStaysSet) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        Crowd crowd(gate);
        ASSERT_TRUE(SetEvent(gate));
        for (int i = 0; i < kWorkers; ++i) ASSERT_NE(crowd.NextThrough(INFINITE), WAIT_TIMEOUT);
    }
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(gate));
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_TIMEOUT);
    CloseHandle(gate);
}

TEST(Win32Events, LockPatternAndTimeouts) {
    // The per-shape lock: auto-reset, created signalled; a wait takes it.
    HANDLE lock = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(lock, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(lock, 30), WAIT_TIMEOUT);
    SetEvent(lock);
    SetEvent(lock);  // a set event does not count twice
    EXPECT_EQ(WaitForSingleObject(lock, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(lock, 0), WAIT_TIMEOUT);
    CloseHandle(lock);
}

TEST(Win32Events, WaitAllTakesEverythingOrNothing) {
    HANDLE ab[] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    SetEvent(ab[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, TRUE, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(ab[0], 0), WAIT_OBJECT_0);  // left alone by the failed wait

    // A wait-all on another thread completes when the last one is set, and
    // consumes both.
    HANDLE waiter = CreateThread(
        nullptr, 0, [](void* p) -> DWORD { return WaitForMultipleObjects(2, static_cast<HANDLE*>(p), TRUE, INFINITE); },
        ab, 0, nullptr);
    SetEvent(ab[1]);
    EXPECT_EQ(WaitForSingleObject(waiter, 30), WAIT_TIMEOUT);
    SetEvent(ab[0]);
    ASSERT_EQ(WaitForSingleObject(waiter, INFINITE), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(waiter, &code);
    EXPECT_EQ(code, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 0), WAIT_TIMEOUT);

    // Wait-any names the first signalled object and takes only that one.
    SetEvent(ab[1]);
    SetEvent(ab[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    for (HANDLE h : {ab[0], ab[1], waiter}) CloseHandle(h);
}

TEST(Win32Events, BadHandlesAndArgumentsFailCleanly) {
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    HANDLE closed = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(WaitForSingleObject(closed, INFINITE), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(closed));

    HANDLE ok = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    HANDLE mixed[] = {ok, closed};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForMultipleObjects(0, mixed, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, ok);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, tooMany.data(), FALSE, 0), WAIT_FAILED);
    HANDLE twice[] = {ok, ok};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(ok, 0), WAIT_OBJECT_0);  // no failed call took the signal
    CloseHandle(ok);
}

struct RunRecord {
    std::atomic<bool> ran{false};
    DWORD seenId = 0;
    DWORD seenError = 0;
};

DWORD RecordRun(void* p) {
    auto* r = static_cast<RunRecord*>(p);
    r->seenId = GetCurrentThreadId();
    r->seenError = GetLastError();
    SetLastError(77);
    r->ran = true;
    return 42;
}

TEST(Win32Threads, SuspendedThreadRunsOnlyAfterResumeAndJoins) {
    RunRecord rec;
    DWORD id = 0, code = 0;
    SetLastError(1234);
    HANDLE t = CreateThread(nullptr, 0, RecordRun, &rec, CREATE_SUSPENDED, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
    EXPECT_FALSE(rec.ran.load());
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(t), 1u);
    ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(rec.ran.load());
    EXPECT_EQ(rec.seenId, id);
    EXPECT_NE(GetCurrentThreadId(), id);
    EXPECT_EQ(rec.seenError, 0u);  // the last error is per thread
    EXPECT_EQ(GetLastError(), 1234u);
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
    CloseHandle(t);
}

TEST(Win32Threads, ClosingHandlesNeitherKillsNorStrands) {
    // A running thread whose handle is closed still finishes its work.
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE pair[] = {go, finished};
    HANDLE t = CreateThread(
        nullptr, 0, [](void* p) -> DWORD {
            auto* h = static_cast<HANDLE*>(p);
            WaitForSingleObject(h[0], INFINITE);
            return SetEvent(h[1]) ? 0 : 1;
        },
        pair, 0, nullptr);
    ASSERT_TRUE(CloseHandle(t));
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(finished, INFINITE), WAIT_OBJECT_0);
    CloseHandle(go);
    CloseHandle(finished);

    // A thread closed before it was ever resumed never runs.
    RunRecord rec;
    HANDLE idle = CreateThread(nullptr, 0, RecordRun, &rec, CREATE_SUSPENDED, nullptr);
    EXPECT_TRUE(CloseHandle(idle));
    EXPECT_EQ(ResumeThread(idle), static_cast<DWORD>(-1));
    EXPECT_FALSE(rec.ran.load());

    // An exception ends its own thread only.
    HANDLE thrower = CreateThread(
        nullptr, 0, [](void*) -> DWORD { throw std::runtime_error("worker failed"); }, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thrower, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thrower, &code);
    EXPECT_NE(code, STILL_ACTIVE);
    EXPECT_NE(code, 0u);
    CloseHandle(thrower);

    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// What a thread leaves behind in its thread-local objects is gone once a
// wait sees the thread end: a waiter may free or check what they used.
std::atomic<int> g_teardowns{0};
struct SlowTeardown {
    bool used = false;
    ~SlowTeardown() {
        if (!used) return;
        Sleep(30);
        ++g_teardowns;
    }
};
thread_local SlowTeardown t_slow;

TEST(Win32Threads, AWaitEndsAfterTheThreadsOwnTeardown) {
    const auto routine = [](void*) -> DWORD {
        t_slow.used = true;
        return 0;
    };
    HANDLE one = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(one, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(g_teardowns.load(), 1);
    HANDLE pair[] = {CreateThread(nullptr, 0, routine, nullptr, 0, nullptr),
                     CreateThread(nullptr, 0, routine, nullptr, 0, nullptr)};
    ASSERT_EQ(WaitForMultipleObjects(2, pair, TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(g_teardowns.load(), 3);
    EXPECT_EQ(WaitForSingleObject(one, 0), WAIT_OBJECT_0);  // a second wait on an ended thread
    for (HANDLE h : {one, pair[0], pair[1]}) CloseHandle(h);
}

TEST(Win32Clock, TickCountsAgree) {
    const ULONGLONG t0 = GetTickCount64();
    Sleep(20);
    const ULONGLONG t1 = GetTickCount64();
    EXPECT_GE(t1, t0 + 20);
    EXPECT_LE(GetTickCount() - static_cast<DWORD>(t1), 1000u);  // the low word of the same clock
    SYSTEMTIME st{};
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_LE(st.wMilliseconds, 999);
}

TEST(Win32Guid, UniqueVersion4AcrossThreads) {
    constexpr int kThreads = 8, kEach = 2000;
    std::array<std::vector<GUID>, kThreads> made;
    std::array<HANDLE, kThreads> threads{};
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = CreateThread(
            nullptr, 0, [](void* p) -> DWORD {
                auto* out = static_cast<std::vector<GUID>*>(p);
                for (int k = 0; k < kEach; ++k) {
                    GUID g{};
                    if (CoCreateGuid(&g) != S_OK) return 1;
                    out->push_back(g);
                }
                return 0;
            },
            &made[i], CREATE_SUSPENDED, nullptr);
    }
    for (HANDLE t : threads) ResumeThread(t);
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    std::set<std::array<uint8_t, 16>> seen;
    for (int i = 0; i < kThreads; ++i) {
        CloseHandle(threads[i]);
        ASSERT_EQ(made[i].size(), static_cast<size_t>(kEach));
        for (const GUID& g : made[i]) {
            EXPECT_EQ(g.Data3 >> 12, 4);
            EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
            std::array<uint8_t, 16> key{};
            std::memcpy(key.data(), &g, 16);
            seen.insert(key);
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

}  // namespace
