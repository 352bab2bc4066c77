// MFC's CTime: a point in time in whole seconds since 1970 (64-bit), with
// its parts read in local time.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <cstdint>
#include <ctime>

class CString;

class MORVIK_API CTime {
public:
    CTime() = default;
    explicit CTime(int64_t t) : m_time(t) {}
    // Local time; a date that does not exist gives 0.
    CTime(int year, int month, int day, int hour, int minute, int second);
    static CTime GetCurrentTime();

    int64_t GetTime() const { return m_time; }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday
    // strftime-style format in local time, as MFC's CTime::Format.
    CString Format(const wchar_t* format) const;

    bool operator==(const CTime& o) const { return m_time == o.m_time; }
    bool operator!=(const CTime& o) const { return m_time != o.m_time; }
    bool operator<(const CTime& o) const { return m_time < o.m_time; }

private:
    int64_t m_time = 0;
};
