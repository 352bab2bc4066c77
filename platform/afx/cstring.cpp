#include "morvik/afx/cstring.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "morvik/afx/afx_locale.h"
#include "morvik/afx/format_engine.h"

namespace afx_detail {

locale_t CLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

locale_t CaseLocale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return l ? l : CLocale();
    }();
    return loc;
}

}  // namespace afx_detail

namespace {

// White space as the string functions see it: the ASCII controls and blank
// plus the Unicode space separators, independent of the process locale.
bool IsSpace(wchar_t c) {
    return c == L' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

wchar_t ToLower(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), afx_detail::CaseLocale()));
}

wchar_t ToUpper(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), afx_detail::CaseLocale()));
}

int Sign(int v) { return (v > 0) - (v < 0); }

std::strong_ordering ToOrdering(int c) {
    return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::wstring FromAnsi(const char* s, size_t n) { return AnsiToWide(std::string(s, n)); }

}  // namespace

// ---- construction ---------------------------------------------------------

CString::CString(const wchar_t* s) {
    if (s) m_str = s;
}

CString::CString(const wchar_t* s, int length) {
    if (s && length > 0) m_str.assign(s, static_cast<size_t>(length));
}

CString::CString(const char* s) {
    if (s) m_str = FromAnsi(s, std::strlen(s));
}

CString::CString(const char* s, int length) {
    if (s && length > 0) m_str = FromAnsi(s, static_cast<size_t>(length));
}

CString::CString(const CStringA& s) : m_str(FromAnsi(s.GetString(), static_cast<size_t>(s.GetLength()))) {}

CString::CString(wchar_t ch, int count) {
    if (count > 0) m_str.assign(static_cast<size_t>(count), ch);
}

CString& CString::operator=(const wchar_t* s) {
    if (!s) {
        m_str.clear();
    } else {
        m_str = std::wstring(s);  // s may point into this string
    }
    return *this;
}

CString& CString::operator=(const char* s) {
    m_str = s ? FromAnsi(s, std::strlen(s)) : std::wstring();
    return *this;
}

CString& CString::operator=(const CStringA& s) {
    m_str = FromAnsi(s.GetString(), static_cast<size_t>(s.GetLength()));
    return *this;
}

CString& CString::operator=(wchar_t ch) {
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator=(const std::wstring& s) {
    m_str = s;
    return *this;
}

// ---- element access -------------------------------------------------------

wchar_t CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength()) return 0;
    return m_str[static_cast<size_t>(index)];
}

void CString::SetAt(int index, wchar_t ch) {
    if (index < 0 || index >= GetLength()) return;
    m_str[static_cast<size_t>(index)] = ch;
}

wchar_t* CString::GetBuffer(int minLength) {
    if (minLength > GetLength()) m_str.resize(static_cast<size_t>(minLength));
    return m_str.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        m_str.resize(wcsnlen(m_str.data(), m_str.size()));
    } else if (static_cast<size_t>(newLength) < m_str.size()) {
        m_str.resize(static_cast<size_t>(newLength));
    }
}

// ---- concatenation --------------------------------------------------------

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}

CString& CString::operator+=(const wchar_t* s) {
    if (s) m_str += std::wstring(s);  // s may point into this string
    return *this;
}

CString& CString::operator+=(const char* s) {
    if (s) m_str += FromAnsi(s, std::strlen(s));
    return *this;
}

CString& CString::operator+=(wchar_t ch) {
    m_str += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, const wchar_t* b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const wchar_t* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, wchar_t b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(wchar_t a, const CString& b) {
    CString r(a, 1);
    r += b;
    return r;
}

// ---- comparison -----------------------------------------------------------

int CString::Compare(const wchar_t* s) const {
    return Sign(m_str.compare(s ? s : L""));
}

int CString::CompareNoCase(const wchar_t* s) const {
    if (!s) s = L"";
    for (size_t i = 0;; ++i) {
        if (i == m_str.size()) return s[i] == 0 ? 0 : -1;
        if (s[i] == 0) return 1;
        wchar_t a = ToLower(m_str[i]);
        wchar_t b = ToLower(s[i]);
        if (a != b) return a < b ? -1 : 1;
    }
}

std::strong_ordering operator<=>(const CString& a, const CString& b) { return ToOrdering(a.m_str.compare(b.m_str)); }

std::strong_ordering operator<=>(const CString& a, const wchar_t* b) { return ToOrdering(a.Compare(b)); }

// ---- searching and extraction ---------------------------------------------

int CString::Find(wchar_t ch, int start) const {
    if (start < 0 || start >= GetLength()) return -1;
    size_t pos = m_str.find(ch, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const wchar_t* sub, int start) const {
    if (!sub || start < 0 || start > GetLength()) return -1;
    size_t pos = m_str.find(sub, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(wchar_t ch) const {
    size_t pos = m_str.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const {
    if (count <= 0) return CString();
    return CString(m_str.substr(0, static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
    if (count <= 0) return CString();
    if (count >= GetLength()) return *this;
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(count)));
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::SpanIncluding(const wchar_t* charSet) const {
    if (!charSet || !*charSet) return CString();
    size_t n = m_str.find_first_not_of(charSet);
    return n == std::wstring::npos ? *this : CString(m_str.substr(0, n));
}

CString CString::SpanExcluding(const wchar_t* charSet) const {
    if (!charSet || !*charSet) return *this;
    size_t n = m_str.find_first_of(charSet);
    return n == std::wstring::npos ? *this : CString(m_str.substr(0, n));
}

CString CString::Tokenize(const wchar_t* tokens, int& start) const {
    if (start < 0 || start >= GetLength()) {
        start = -1;
        return CString();
    }
    if (!tokens || !*tokens) {
        // No delimiters: the rest is one token, and the next call ends.
        CString rest = Mid(start);
        start = GetLength() + 1;
        return rest;
    }
    size_t from = m_str.find_first_not_of(tokens, static_cast<size_t>(start));
    if (from == std::wstring::npos) {
        start = -1;
        return CString();
    }
    size_t to = m_str.find_first_of(tokens, from);
    if (to == std::wstring::npos) to = m_str.size();
    start = static_cast<int>(to) + 1;
    return CString(m_str.substr(from, to - from));
}

// ---- modification ---------------------------------------------------------

CString& CString::MakeUpper() {
    for (auto& c : m_str) c = ToUpper(c);
    return *this;
}

CString& CString::MakeLower() {
    for (auto& c : m_str) c = ToLower(c);
    return *this;
}

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && IsSpace(m_str[i])) ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    size_t n = m_str.size();
    while (n > 0 && IsSpace(m_str[n - 1])) --n;
    m_str.resize(n);
    return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

CString& CString::TrimLeft(wchar_t target) {
    wchar_t set[2] = {target, 0};
    return TrimLeft(set);
}

CString& CString::TrimRight(wchar_t target) {
    wchar_t set[2] = {target, 0};
    return TrimRight(set);
}

CString& CString::Trim(wchar_t target) { return TrimRight(target).TrimLeft(target); }

CString& CString::TrimLeft(const wchar_t* targets) {
    if (!targets || !*targets) return *this;
    size_t n = m_str.find_first_not_of(targets);
    m_str.erase(0, n == std::wstring::npos ? m_str.size() : n);
    return *this;
}

CString& CString::TrimRight(const wchar_t* targets) {
    if (!targets || !*targets) return *this;
    size_t n = m_str.find_last_not_of(targets);
    m_str.resize(n == std::wstring::npos ? 0 : n + 1);
    return *this;
}

CString& CString::Trim(const wchar_t* targets) { return TrimRight(targets).TrimLeft(targets); }

int CString::Replace(wchar_t oldCh, wchar_t newCh) {
    int count = 0;
    for (auto& c : m_str) {
        if (c == oldCh) {
            c = newCh;
            ++count;
        }
    }
    return count;
}

int CString::Replace(const wchar_t* oldText, const wchar_t* newText) {
    if (!oldText || !*oldText) return 0;
    const std::wstring from(oldText);
    const std::wstring to(newText ? newText : L"");
    std::wstring result;
    int count = 0;
    size_t pos = 0;
    for (;;) {
        size_t hit = m_str.find(from, pos);
        if (hit == std::wstring::npos) break;
        result.append(m_str, pos, hit - pos);
        result += to;
        pos = hit + from.size();
        ++count;
    }
    if (count) {
        result.append(m_str, pos, std::wstring::npos);
        m_str.swap(result);
    }
    return count;
}

int CString::Remove(wchar_t ch) {
    size_t before = m_str.size();
    m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
    return static_cast<int>(before - m_str.size());
}

int CString::Insert(int index, wchar_t ch) {
    index = std::clamp(index, 0, GetLength());
    m_str.insert(static_cast<size_t>(index), 1, ch);
    return GetLength();
}

int CString::Insert(int index, const wchar_t* s) {
    if (s && *s) {
        index = std::clamp(index, 0, GetLength());
        m_str.insert(static_cast<size_t>(index), std::wstring(s));
    }
    return GetLength();
}

int CString::Delete(int index, int count) {
    if (index < 0) index = 0;
    if (count > 0 && index < GetLength()) m_str.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

// ---- formatting -----------------------------------------------------------
// The text is built apart and then stored, so arguments that point into this
// string stay valid while they are read.

void CString::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
}

void CString::FormatV(const wchar_t* format, va_list args) {
    std::wstring text;
    afx_detail::FormatAppend(text, format, args);
    m_str.swap(text);
}

void CString::AppendFormatV(const wchar_t* format, va_list args) {
    std::wstring text;
    afx_detail::FormatAppend(text, format, args);
    m_str += text;
}

// ---- CStringA -------------------------------------------------------------

CStringA::CStringA(const char* s) {
    if (s) m_str = s;
}

CStringA::CStringA(const char* s, int length) {
    if (s && length > 0) m_str.assign(s, static_cast<size_t>(length));
}

CStringA::CStringA(const CString& s) : m_str(WideToAnsi(std::wstring(s.GetString(), s.GetLength()))) {}

CStringA::CStringA(const wchar_t* s) {
    if (s) m_str = WideToAnsi(s);
}

CStringA& CStringA::operator=(const char* s) {
    m_str = s ? std::string(s) : std::string();
    return *this;
}

CStringA& CStringA::operator+=(const CStringA& s) {
    m_str += s.m_str;
    return *this;
}

CStringA& CStringA::operator+=(const char* s) {
    if (s) m_str += std::string(s);
    return *this;
}

CStringA& CStringA::operator+=(char ch) {
    m_str += ch;
    return *this;
}

CStringA operator+(const CStringA& a, const CStringA& b) {
    CStringA r(a);
    r += b;
    return r;
}

void CStringA::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CStringA::AppendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    afx_detail::FormatAppend(text, format, args);
    va_end(args);
    m_str += text;
}

void CStringA::FormatV(const char* format, va_list args) {
    std::string text;
    afx_detail::FormatAppend(text, format, args);
    m_str.swap(text);
}
