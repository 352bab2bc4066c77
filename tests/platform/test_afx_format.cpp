#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "morvik/afx/cstring.h"
#include "support/shape_support.h"

namespace {

using testsupport::AnsiCodePage;

std::wstring W(const CString& s) { return std::wstring(s.GetString(), static_cast<size_t>(s.GetLength())); }

template <class... Args>
std::wstring Fmt(const wchar_t* format, Args... args) {
    CString s;
    s.Format(format, args...);
    return W(s);
}

template <class... Args>
std::string FmtA(const char* format, Args... args) {
    CStringA s;
    s.Format(format, args...);
    return std::string(s.GetString(), static_cast<size_t>(s.GetLength()));
}

// A locale whose decimal point is a comma, if the system has one.
locale_t CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                             "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"}) {
        locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (!loc) continue;
        if (std::strcmp(nl_langinfo_l(RADIXCHAR, loc), ",") == 0) return loc;
        freelocale(loc);
    }
    return static_cast<locale_t>(nullptr);
}

// The conversions the shape library relies on, in any process locale.
void ExpectCFormatting() {
    AnsiCodePage gbk(936);
    EXPECT_EQ(Fmt(L"%s|%ls", L"wide", L"also wide"), L"wide|also wide");
    EXPECT_EQ(Fmt(L"%S|%hs", "narrow", "\xD6\xD0\xCE\xC4"), L"narrow|\u4E2D\u6587");
    EXPECT_EQ(Fmt(L"%d %i %u", -42, 7, 4000000000u), L"-42 7 4000000000");
    EXPECT_EQ(Fmt(L"%.3f", 3.14159), L"3.142");
    EXPECT_EQ(Fmt(L"%5.2f|", 2.5), L" 2.50|");
    EXPECT_EQ(Fmt(L"[%-8s]", L"ab"), L"[ab      ]");
    EXPECT_EQ(Fmt(L"[%8s]", L"ab"), L"[      ab]");
    EXPECT_EQ(Fmt(L"%08.3f", -3.14159), L"-003.142");
    EXPECT_EQ(Fmt(L"%x %X %#x %o", 255u, 255u, 255u, 8u), L"ff FF 0xff 10");
    EXPECT_EQ(Fmt(L"%lld %I64d %I64u", -9000000000LL, 9000000000LL, 18446744073709551615ULL),
              L"-9000000000 9000000000 18446744073709551615");
    EXPECT_EQ(Fmt(L"100%% %d%%", 5), L"100% 5%");
    EXPECT_EQ(Fmt(L"%+d % d %05d %-5d|", 3, 3, -42, 7), L"+3  3 -0042 7    |");
    EXPECT_EQ(Fmt(L"%e|%E|%g|%G", 12345.678, 0.000123, 0.0001, 1e20),
              L"1.234568e+04|1.230000E-04|0.0001|1E+20");
    EXPECT_EQ(Fmt(L"%.0f %.1f %f", 2.4, -0.06, 1.0 / 3.0), L"2 -0.1 0.333333");
    EXPECT_EQ(Fmt(L"%Lg", 1.5), L"1.5");  // "L" still takes a double, as on Windows
    EXPECT_EQ(Fmt(L"%hd %hu", 70000, 70000), L"4464 4464");
    // "l" is 32 bits, as for LONG and DWORD on Windows.
    EXPECT_EQ(Fmt(L"%ld %lu %lx", static_cast<LONG>(-5), static_cast<DWORD>(4294967295u), static_cast<DWORD>(0xABCDu)),
              L"-5 4294967295 abcd");
    EXPECT_EQ(Fmt(L"%c%C%lc%hc", L'\u4E2D', 'A', L'b', 'c'), L"\u4E2DAbc");
    EXPECT_EQ(Fmt(L"%*d|%-*d|%.*f", 4, 7, 3, 8, 2, 1.0), L"   7|8  |1.00");
    EXPECT_EQ(Fmt(L"%*d|", -4, 7), L"7   |");  // a negative width left-justifies
    EXPECT_EQ(Fmt(L"%.3s|%.*s|%.2S", L"abcdef", 1, L"xyz", "pqr"), L"abc|x|pq");
    EXPECT_EQ(Fmt(L"%p", reinterpret_cast<void*>(0x1F)).size(), 2 * sizeof(void*));
    EXPECT_EQ(Fmt(L"%p", reinterpret_cast<void*>(0xAB)).substr(2 * sizeof(void*) - 2), L"AB");
}

}  // namespace

TEST(AfxFormat, NumbersAndStringsInTheCLocale) { ExpectCFormatting(); }

TEST(AfxFormat, NumbersIgnoreTheThreadLocale) {
    locale_t comma = CommaLocale();
    if (!comma) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    locale_t old = uselocale(comma);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the locale is really in effect
    ExpectCFormatting();
    EXPECT_EQ(FmtA("%.2f;%g", 0.25, 1.5), "0.25;1.5");
    uselocale(old);
    freelocale(comma);
}

TEST(AfxFormat, NullAndUnknownDirectivesAreSafe) {
    EXPECT_EQ(Fmt(L"[%s]", static_cast<const wchar_t*>(nullptr)), L"[(null)]");
    EXPECT_EQ(Fmt(L"[%S]", static_cast<const char*>(nullptr)), L"[(null)]");
    EXPECT_EQ(FmtA("[%s]", static_cast<const char*>(nullptr)), "[(null)]");
    // An unknown directive stays as text and does not consume an argument.
    EXPECT_EQ(Fmt(L"%y|%d", 5), L"%y|5");
    EXPECT_EQ(Fmt(L"end %"), L"end %");
    EXPECT_EQ(Fmt(L"end %5"), L"end %5");
    int written = 99;
    EXPECT_EQ(Fmt(L"a%nb", &written), L"ab");
    EXPECT_EQ(written, 99);  // %n never writes
    // A precision bounds how much of an unterminated buffer is read.
    const wchar_t unterminated[3] = {L'x', L'y', L'z'};
    EXPECT_EQ(Fmt(L"%.3s", unterminated), L"xyz");
    // Absurd widths are clamped instead of allocating gigabytes.
    std::wstring wide = Fmt(L"%2000000000d", 1);
    EXPECT_LE(wide.size(), 2u << 20);
    EXPECT_EQ(wide.back(), L'1');
    EXPECT_LE(Fmt(L"%.2147483647f", 1.0).size(), 2u << 20);
    CString s;
    s.Format(nullptr);
    EXPECT_TRUE(s.IsEmpty());
}

TEST(AfxFormat, FormatReplacesAndAppendFormatAppends) {
    CString s(L"old");
    s.Format(L"%d", 1);
    EXPECT_EQ(W(s), L"1");
    s.AppendFormat(L"+%d", 2);
    EXPECT_EQ(W(s), L"1+2");
    // Arguments may point into the string being formatted.
    s.Format(L"<%s>", s.GetString());
    EXPECT_EQ(W(s), L"<1+2>");
    s.AppendFormat(L"%s%s", s.GetString(), s.GetString());
    EXPECT_EQ(W(s), L"<1+2><1+2><1+2>");
}

TEST(AfxFormat, NarrowFormatsTakeNarrowStrings) {
    AnsiCodePage gbk(936);
    EXPECT_EQ(FmtA("%s|%hs|%S|%ls", "a", "b", L"\u4E2D", L"c"), "a|b|\xD6\xD0|c");
    EXPECT_EQ(FmtA("%c%C|%5.1f|%-4d|", 'x', L'\u6587', 2.26, 3), "x\xCE\xC4|  2.3|3   |");
    CStringA a("n=");
    a.AppendFormat("%d", 12);
    EXPECT_EQ(std::string(a.GetString()), "n=12");
    // A wide string made from it goes back through the ANSI code page.
    EXPECT_EQ(W(CString(CStringA("\xD6\xD0"))), L"\u4E2D");
}
