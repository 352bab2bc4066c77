#include "morvik/afx/ctime.h"

#include <cwchar>
#include <string>
#include <vector>

#include "morvik/afx/afx_locale.h"
#include "morvik/afx/cstring.h"

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool LocalParts(int64_t t, std::tm& out) {
    const time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

// MSVC's strftime flags and forms that glibc spells differently: "#"
// removes leading zeros from numbers ("-" in glibc) and selects the long
// date form for %c and %x; %c alone is the short date and the time.
std::wstring TranslateFormat(const wchar_t* f) {
    std::wstring out;
    for (; *f; ++f) {
        if (*f != L'%') {
            out += *f;
            continue;
        }
        bool alt = false;
        if (f[1] == L'#') {
            alt = true;
            ++f;
        }
        wchar_t c = f[1];
        if (c == 0) {
            out += L'%';
            break;
        }
        ++f;
        switch (c) {
            case L'c': out += alt ? L"%A, %B %-d, %Y %H:%M:%S" : L"%m/%d/%y %H:%M:%S"; break;
            case L'x': out += alt ? L"%A, %B %-d, %Y" : L"%m/%d/%y"; break;
            case L'd': case L'H': case L'I': case L'j': case L'm': case L'M':
            case L'S': case L'U': case L'w': case L'W': case L'y': case L'Y':
                out += alt ? L"%-" : L"%";
                out += c;
                break;
            default:
                out += L'%';
                out += c;
                break;
        }
    }
    return out;
}

}  // namespace

CTime::CTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return;  // stays 0
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    // -1 is also a valid moment (one second before the epoch in UTC), so a
    // failure is told apart by the fields mktime normalised.
    if (t == static_cast<time_t>(-1) && (tm.tm_year != year - 1900 || tm.tm_mday != day)) return;
    m_time = static_cast<int64_t>(t);
}

CTime CTime::GetCurrentTime() { return CTime(static_cast<int64_t>(time(nullptr))); }

int CTime::GetYear() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_year + 1900 : 0;
}

int CTime::GetMonth() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_mon + 1 : 0;
}

int CTime::GetDay() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_mday : 0;
}

int CTime::GetHour() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_hour : 0;
}

int CTime::GetMinute() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_min : 0;
}

int CTime::GetSecond() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_sec : 0;
}

int CTime::GetDayOfWeek() const {
    std::tm tm{};
    return LocalParts(m_time, tm) ? tm.tm_wday + 1 : 0;
}

CString CTime::Format(const wchar_t* format) const {
    std::tm tm{};
    if (!format || !*format || !LocalParts(m_time, tm)) return CString();
    const std::wstring f = TranslateFormat(format);
    afx_detail::ScopedCLocale cLocale;  // English names, whatever the process locale
    // wcsftime gives 0 both for "too small" and for an empty result, so the
    // buffer grows only up to what any directive of the C locale can need.
    const size_t most = 256 + f.size() * 128;
    for (size_t size = 256 + f.size() * 4; size <= most * 4; size *= 4) {
        std::vector<wchar_t> buf(size);
        size_t n = wcsftime(buf.data(), size, f.c_str(), &tm);
        if (n > 0) return CString(buf.data(), static_cast<int>(n));
    }
    return CString();
}
