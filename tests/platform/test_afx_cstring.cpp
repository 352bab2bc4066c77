#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morvik/afx/cstring.h"
#include "support/shape_support.h"

namespace {

using testsupport::AnsiCodePage;

std::wstring W(const CString& s) { return std::wstring(s.GetString(), static_cast<size_t>(s.GetLength())); }

}  // namespace

TEST(AfxCString, NarrowTextGoesThroughTheAnsiCodePage) {
    AnsiCodePage gbk(936);
    // "中文" in GBK, mixed with ASCII.
    const char gbkBytes[] = "A\xD6\xD0\xCE\xC4z";
    CString s(gbkBytes);
    EXPECT_EQ(W(s), L"A\u4E2D\u6587z");
    EXPECT_EQ(s.GetLength(), 4);

    // And back: the narrow copy is the same bytes.
    CStringA back(s);
    EXPECT_STREQ(back.GetString(), gbkBytes);

    // A counted narrow constructor stops at the count, not inside a character.
    EXPECT_EQ(W(CString(gbkBytes, 3)), L"A\u4E2D");

    // Characters GBK cannot hold become '?', the rest survives.
    CStringA lossy(CString(L"x\u00C6\u4E2D"));
    EXPECT_STREQ(lossy.GetString(), "x?\xD6\xD0");

    CString assigned;
    assigned = "\xCE\xC4";
    assigned += "\xD6\xD0";
    EXPECT_EQ(W(assigned), L"\u6587\u4E2D");
}

TEST(AfxCString, ExtractionClampsOutOfRangeArguments) {
    const CString s(L"Hello, world");
    EXPECT_EQ(W(s.Left(5)), L"Hello");
    EXPECT_EQ(W(s.Left(-3)), L"");
    EXPECT_EQ(W(s.Left(100)), L"Hello, world");
    EXPECT_EQ(W(s.Right(5)), L"world");
    EXPECT_EQ(W(s.Right(100)), L"Hello, world");
    EXPECT_EQ(W(s.Mid(7)), L"world");
    EXPECT_EQ(W(s.Mid(-2, 4)), L"Hell");
    EXPECT_EQ(W(s.Mid(7, 100)), L"world");
    EXPECT_EQ(W(s.Mid(12)), L"");
    EXPECT_EQ(W(s.Mid(50, 2)), L"");
    EXPECT_EQ(W(s.Mid(3, -1)), L"");
    EXPECT_EQ(W(s.Mid(2, 0x7FFFFFFF)), L"llo, world");

    EXPECT_EQ(s[4], L'o');
    EXPECT_EQ(s.GetAt(12), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
    CString t = s;
    t.SetAt(0, L'J');
    t.SetAt(99, L'X');
    EXPECT_EQ(W(t), L"Jello, world");
    EXPECT_EQ(W(s), L"Hello, world");  // copies are independent
}

TEST(AfxCString, Searching) {
    const CString s(L"a.b.c.txt");
    EXPECT_EQ(s.Find(L'.'), 1);
    EXPECT_EQ(s.Find(L'.', 2), 3);
    EXPECT_EQ(s.Find(L'.', 9), -1);
    EXPECT_EQ(s.Find(L'.', -1), -1);
    EXPECT_EQ(s.Find(L"c.t"), 4);
    EXPECT_EQ(s.Find(L"c.t", 5), -1);
    EXPECT_EQ(s.Find(L"", 9), 9);
    EXPECT_EQ(s.Find(L"", 10), -1);
    EXPECT_EQ(s.Find(static_cast<const wchar_t*>(nullptr)), -1);
    EXPECT_EQ(s.ReverseFind(L'.'), 5);
    EXPECT_EQ(s.ReverseFind(L'/'), -1);

    EXPECT_EQ(W(CString(L"123abc").SpanIncluding(L"0123456789")), L"123");
    EXPECT_EQ(W(CString(L"abc").SpanIncluding(L"0123456789")), L"");
    EXPECT_EQ(W(CString(L"key=value").SpanExcluding(L"=:")), L"key");
    EXPECT_EQ(W(CString(L"novalue").SpanExcluding(L"=:")), L"novalue");
}

TEST(AfxCString, EditingReturnsCountsAndLengths) {
    CString s(L"a-b-c--d");
    EXPECT_EQ(s.Replace(L'-', L'+'), 4);
    EXPECT_EQ(W(s), L"a+b+c++d");
    EXPECT_EQ(s.Replace(L"++", L"<>"), 1);
    EXPECT_EQ(W(s), L"a+b+c<>d");
    EXPECT_EQ(s.Replace(L"+", L""), 2);
    EXPECT_EQ(W(s), L"abc<>d");
    EXPECT_EQ(s.Replace(L"", L"x"), 0);
    // A replacement that contains the searched text is not searched again.
    CString grow(L"aa");
    EXPECT_EQ(grow.Replace(L"a", L"aa"), 2);
    EXPECT_EQ(W(grow), L"aaaa");

    EXPECT_EQ(s.Remove(L'<'), 1);
    EXPECT_EQ(W(s), L"abc>d");
    EXPECT_EQ(s.Insert(0, L'['), 6);
    EXPECT_EQ(s.Insert(100, L"]"), 7);
    EXPECT_EQ(s.Insert(-5, L"("), 8);
    EXPECT_EQ(W(s), L"([abc>d]");
    EXPECT_EQ(s.Delete(1), 7);
    EXPECT_EQ(s.Delete(5, 100), 5);
    EXPECT_EQ(s.Delete(50, 2), 5);
    EXPECT_EQ(s.Delete(-1, 1), 4);
    EXPECT_EQ(W(s), L"abc>");

    CString up(L"Mixed Case \u00E9");
    EXPECT_EQ(W(up.MakeUpper()).substr(0, 10), L"MIXED CASE");
    EXPECT_EQ(W(up.MakeLower()).substr(0, 10), L"mixed case");
}

TEST(AfxCString, Trimming) {
    CString s(L" \t\r\n text \u3000\n");
    EXPECT_EQ(W(CString(s).TrimLeft()), L"text \u3000\n");
    EXPECT_EQ(W(CString(s).TrimRight()), L" \t\r\n text");
    EXPECT_EQ(W(s.Trim()), L"text");
    EXPECT_EQ(W(CString(L"   ").Trim()), L"");
    EXPECT_EQ(W(CString(L"xxaxbxx").Trim(L'x')), L"axb");
    EXPECT_EQ(W(CString(L";,a;b,;").Trim(L";,")), L"a;b");
    EXPECT_EQ(W(CString(L";;").TrimRight(L";")), L"");
    EXPECT_EQ(W(CString(L" a ").Trim(static_cast<const wchar_t*>(nullptr))), L" a ");
}

TEST(AfxCString, TokenizeWalksTokensAndEnds) {
    const CString s(L",,alpha, beta,,gamma,");
    std::vector<std::wstring> tokens;
    int pos = 0;
    for (CString t = s.Tokenize(L", ", pos); pos != -1; t = s.Tokenize(L", ", pos)) tokens.push_back(W(t));
    EXPECT_EQ(tokens, (std::vector<std::wstring>{L"alpha", L"beta", L"gamma"}));

    // Without delimiters the rest is one token, and the walk still ends.
    pos = 2;
    EXPECT_EQ(W(s.Tokenize(L"", pos)), L"alpha, beta,,gamma,");
    EXPECT_NE(pos, -1);
    EXPECT_EQ(W(s.Tokenize(L"", pos)), L"");
    EXPECT_EQ(pos, -1);

    pos = -4;
    EXPECT_EQ(W(s.Tokenize(L",", pos)), L"");
    EXPECT_EQ(pos, -1);
}

TEST(AfxCString, BufferAccess) {
    CString s(L"abc");
    wchar_t* p = s.GetBuffer(10);
    wcscpy(p, L"0123456789");
    s.ReleaseBuffer();
    EXPECT_EQ(W(s), L"0123456789");

    p = s.GetBuffer(0);
    p[4] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(W(s), L"0123");

    p = s.GetBuffer(8);
    p[5] = L'x';
    s.ReleaseBuffer(6);
    EXPECT_EQ(s.GetLength(), 6);
    EXPECT_EQ(s[5], L'x');
    s.ReleaseBuffer(100);  // never longer than the buffer
    EXPECT_EQ(s.GetLength(), 6);
}

TEST(AfxCString, ComparisonAndConcatenation) {
    CString a(L"Alpha");
    EXPECT_TRUE(a == L"Alpha");
    EXPECT_TRUE(L"Alpha" == a);
    EXPECT_TRUE(a != L"alpha");
    EXPECT_TRUE(a == CString("Alpha"));
    EXPECT_TRUE(a < L"Beta");
    EXPECT_TRUE(L"Beta" > a);
    EXPECT_TRUE(CString(L"ab") < CString(L"abc"));
    EXPECT_EQ(a.Compare(L"Alpha"), 0);
    EXPECT_LT(a.Compare(L"Alphab"), 0);
    EXPECT_GT(a.Compare(L"Alph"), 0);
    EXPECT_EQ(a.CompareNoCase(L"aLPHA"), 0);
    EXPECT_LT(a.CompareNoCase(L"ALPHAB"), 0);
    EXPECT_GT(a.CompareNoCase(L"alph"), 0);
    // Case-blind order compares lower-case forms, so '_' sorts before letters.
    EXPECT_GT(CString(L"A").CompareNoCase(L"_"), 0);
    EXPECT_EQ(CString().Compare(nullptr), 0);

    CString sum = a + L", " + CString(L"Beta") + L'!';
    EXPECT_EQ(W(sum), L"Alpha, Beta!");
    EXPECT_EQ(W(L'<' + a), L"<Alpha");
    // Appending the string to itself reads the old text, not the growing one.
    sum += sum.GetString();
    EXPECT_EQ(W(sum), L"Alpha, Beta!Alpha, Beta!");
    EXPECT_EQ(W(CString(L'-', 3)), L"---");
    EXPECT_TRUE(CString(L'-', -2).IsEmpty());
    EXPECT_TRUE(CString(static_cast<const wchar_t*>(nullptr)).IsEmpty());

    std::wstring plain(a);
    EXPECT_EQ(plain, L"Alpha");
}
