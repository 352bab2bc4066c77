// Clocks, local time and GUIDs.
#include <sys/random.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>

#include "win32/windows.h"

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

}  // namespace

HRESULT CoCreateGuid(GUID* guid) {
    if (guid == nullptr) return E_INVALIDARG;
    uint8_t b[16];
    RandomBytes(b, sizeof b);
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
