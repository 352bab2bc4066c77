// MFC's strings: CString (wide, over std::wstring) and CStringA (narrow,
// over std::string). Narrow text given to CString, and wide text given to
// CStringA, goes through the ANSI code page of the platform (CP_ACP).
//
// Positions and counts are ints as in MFC. Out-of-range arguments are
// clamped or ignored rather than asserted: GetAt past the end gives 0,
// SetAt past the end does nothing, Mid/Left/Right clamp.
//
// Formatting follows MSVC in both classes. In a wide format %s and %ls take
// const wchar_t*, %S and %hs take const char* (ANSI); in a narrow format %s
// and %hs take const char*, %S and %ls take const wchar_t*. %c/%C/%lc/%hc
// pair the same way. A null string prints "(null)". As on Windows, the "l"
// size of integers is 32 bits (LONG, DWORD); use "ll" or "I64" for 64-bit
// values, and "L" on a floating conversion still takes a double. Numbers
// come out in the C locale whatever locale the process uses. %n writes
// nothing. CString objects cannot be passed to Format directly: pass
// GetString() or cast to LPCWSTR.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <compare>
#include <cstdarg>
#include <string>

#include "morvik/win32/windows.h"

class CStringA;

class MORVIK_API CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    ~CString() = default;

    // A null pointer gives an empty string.
    CString(const wchar_t* s);
    CString(const wchar_t* s, int length);
    // Narrow text in the ANSI code page.
    CString(const char* s);
    CString(const char* s, int length);
    CString(const CStringA& s);
    explicit CString(wchar_t ch, int count = 1);
    CString(const std::wstring& s) : m_str(s) {}
    CString(std::wstring&& s) noexcept : m_str(std::move(s)) {}

    CString& operator=(const wchar_t* s);
    CString& operator=(const char* s);
    CString& operator=(const CStringA& s);
    CString& operator=(wchar_t ch);
    CString& operator=(const std::wstring& s);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    wchar_t GetAt(int index) const;
    void SetAt(int index, wchar_t ch);
    wchar_t operator[](int index) const { return GetAt(index); }

    const wchar_t* GetString() const { return m_str.c_str(); }
    operator const wchar_t*() const { return m_str.c_str(); }

    // A writable buffer of at least minLength characters plus a terminator.
    // ReleaseBuffer(-1) takes the length up to the first NUL; any other value
    // sets that length (clamped to the buffer).
    wchar_t* GetBuffer(int minLength = 0);
    void ReleaseBuffer(int newLength = -1);

    CString& operator+=(const CString& s);
    CString& operator+=(const wchar_t* s);
    CString& operator+=(const char* s);
    CString& operator+=(wchar_t ch);
    void Append(const wchar_t* s) { *this += s; }
    void AppendChar(wchar_t ch) { *this += ch; }

    // Ordinal comparison; CompareNoCase compares the lower-case forms.
    int Compare(const wchar_t* s) const;
    int CompareNoCase(const wchar_t* s) const;

    // -1 when not found or when start is outside the string.
    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* sub, int start = 0) const;
    int ReverseFind(wchar_t ch) const;

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString SpanIncluding(const wchar_t* charSet) const;
    CString SpanExcluding(const wchar_t* charSet) const;

    CString& MakeUpper();
    CString& MakeLower();

    CString& Trim();
    CString& Trim(wchar_t target);
    CString& Trim(const wchar_t* targets);
    CString& TrimLeft();
    CString& TrimLeft(wchar_t target);
    CString& TrimLeft(const wchar_t* targets);
    CString& TrimRight();
    CString& TrimRight(wchar_t target);
    CString& TrimRight(const wchar_t* targets);

    // These return the number of replacements or removals.
    int Replace(wchar_t oldCh, wchar_t newCh);
    int Replace(const wchar_t* oldText, const wchar_t* newText);
    int Remove(wchar_t ch);
    // These return the new length.
    int Insert(int index, wchar_t ch);
    int Insert(int index, const wchar_t* s);
    int Delete(int index, int count = 1);

    // The next token after start, skipping leading delimiters; start moves
    // past the token, and becomes -1 (with an empty result) when none is left.
    CString Tokenize(const wchar_t* tokens, int& start) const;

    void Format(const wchar_t* format, ...);
    void AppendFormat(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    void AppendFormatV(const wchar_t* format, va_list args);

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const wchar_t* b);
    friend CString operator+(const wchar_t* a, const CString& b);
    friend CString operator+(const CString& a, wchar_t b);
    friend CString operator+(wchar_t a, const CString& b);

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend std::strong_ordering operator<=>(const CString& a, const CString& b);
    friend std::strong_ordering operator<=>(const CString& a, const wchar_t* b);

private:
    std::wstring m_str;
};

using CStringW = CString;

class MORVIK_API CStringA {
public:
    CStringA() = default;
    CStringA(const char* s);
    CStringA(const char* s, int length);
    CStringA(const std::string& s) : m_str(s) {}
    // Wide text converted to the ANSI code page.
    explicit CStringA(const CString& s);
    explicit CStringA(const wchar_t* s);

    CStringA& operator=(const char* s);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    operator const char*() const { return m_str.c_str(); }

    CStringA& operator+=(const CStringA& s);
    CStringA& operator+=(const char* s);
    CStringA& operator+=(char ch);

    void Format(const char* format, ...);
    void AppendFormat(const char* format, ...);
    void FormatV(const char* format, va_list args);

    friend CStringA operator+(const CStringA& a, const CStringA& b);
    friend bool operator==(const CStringA& a, const CStringA& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CStringA& a, const char* b) { return a.m_str == (b ? b : ""); }

private:
    std::string m_str;
};
