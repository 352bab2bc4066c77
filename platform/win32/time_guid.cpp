// Clocks, local time and GUIDs.
#include <pthread.h>
#include <sys/random.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>

#include "morvik/win32/windows.h"

ULONGLONG GetTickCount64() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void GetLocalTime(SYSTEMTIME* st) {
    if (st == nullptr) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const time_t secs = ts.tv_sec;
    tm local{};
    if (localtime_r(&secs, &local) == nullptr) {
        std::memset(st, 0, sizeof *st);
        return;
    }
    st->wYear = static_cast<WORD>(local.tm_year + 1900);
    st->wMonth = static_cast<WORD>(local.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st->wDay = static_cast<WORD>(local.tm_mday);
    st->wHour = static_cast<WORD>(local.tm_hour);
    st->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second (tm_sec 60) is folded into the last ordinary second.
    st->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

namespace {

// Fills buf from the kernel's random source; falls back to a seeded
// generator (under a lock) on the rare systems where that source fails.
void RandomBytes(uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = getrandom(buf + done, n - done, 0);
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == n) return;
    static std::mutex mutex;
    static std::mt19937_64 engine = [] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), static_cast<unsigned>(GetTickCount64())};
        return std::mt19937_64(seq);
    }();
    std::lock_guard<std::mutex> lock(mutex);
    for (; done < n; ++done) buf[done] = static_cast<uint8_t>(engine() >> 56);
}

// Bumped in the child of every fork, so that a thread's generator, copied
// into the child with the rest of memory, is seeded afresh there instead of
// repeating the parent's GUIDs.
std::atomic<uint64_t> g_forkGeneration{0};

void NoteFork() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }

// GUIDs must be unique, not secret: each thread runs its own xoshiro256**
// generator seeded once from the kernel (256 independent bits per thread,
// so streams of different threads do not meet), instead of one system call
// per GUID.
class GuidSource {
public:
    uint64_t Next() {
        const uint64_t generation = g_forkGeneration.load(std::memory_order_relaxed);
        if (!m_seeded || generation != m_generation) Seed(generation);
        const uint64_t result = Rotl(m_s[1] * 5, 7) * 9;
        const uint64_t t = m_s[1] << 17;
        m_s[2] ^= m_s[0];
        m_s[3] ^= m_s[1];
        m_s[1] ^= m_s[2];
        m_s[0] ^= m_s[3];
        m_s[2] ^= t;
        m_s[3] = Rotl(m_s[3], 45);
        return result;
    }

private:
    static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    void Seed(uint64_t generation) {
        static std::once_flag registered;
        std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, NoteFork); });
        uint8_t bytes[sizeof m_s];
        RandomBytes(bytes, sizeof bytes);
        std::memcpy(m_s, bytes, sizeof m_s);
        if ((m_s[0] | m_s[1] | m_s[2] | m_s[3]) == 0) m_s[0] = 1;  // the one state that never leaves itself
        m_generation = generation;
        m_seeded = true;
    }

    uint64_t m_s[4] = {};
    uint64_t m_generation = 0;
    bool m_seeded = false;
};

}  // namespace

HRESULT CoCreateGuid(GUID* guid) {
    if (guid == nullptr) return E_INVALIDARG;
    thread_local GuidSource source;
    uint8_t b[16];
    const uint64_t hi = source.Next(), lo = source.Next();
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<uint8_t>(hi >> (56 - 8 * i));
        b[8 + i] = static_cast<uint8_t>(lo >> (56 - 8 * i));
    }
    // Version 4 (random), RFC 4122 variant.
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    guid->Data1 = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                  static_cast<uint32_t>(b[2]) << 8 | b[3];
    guid->Data2 = static_cast<uint16_t>(b[4] << 8 | b[5]);
    guid->Data3 = static_cast<uint16_t>(b[6] << 8 | b[7]);
    std::memcpy(guid->Data4, b + 8, 8);
    return S_OK;
}
