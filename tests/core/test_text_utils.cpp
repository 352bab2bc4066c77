#include <gtest/gtest.h>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "morvik/afx/cotaskmem.h"
#include "morvik/core/number_text.h"
#include "morvik/core/text_utils.h"
#include "support/shape_support.h"

namespace fs = std::filesystem;

namespace {

using testsupport::AnsiCodePage;

// A scratch folder of generated files, removed afterwards.
class TextFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("morvik-text-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path p = m_dir / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path m_dir;
};

std::wstring W(const CString& s) { return std::wstring(s.GetString(), static_cast<size_t>(s.GetLength())); }

}  // namespace

// ---- encoding detection -----------------------------------------------------

TEST(TextUtils, IsValidUtf8) {
    auto valid = [](const std::string& s) {
        return IsValidUtf8(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    };
    EXPECT_TRUE(valid(""));
    EXPECT_TRUE(valid("plain ascii"));
    EXPECT_TRUE(valid("\xE4\xB8\xAD\xC3\xA9"));
    EXPECT_TRUE(valid("ab\xC3"));  // cut off by the end of the buffer
    EXPECT_TRUE(valid("ab\xE4\xB8"));
    EXPECT_FALSE(valid("\xF0\x9F\x98\x80"));  // four-byte sequences are refused
    EXPECT_FALSE(valid("\xC3\x28"));
    EXPECT_FALSE(valid("a\x80"));
    EXPECT_FALSE(valid("\xE4\x41\xAD"));
    EXPECT_TRUE(IsValidUtf8(nullptr, 0));
    EXPECT_FALSE(IsValidUtf8(nullptr, 3));
    // Long ASCII runs with one sequence at every offset: the check must see
    // it wherever it falls, and a sequence cut by the next ASCII byte.
    for (size_t at = 0; at < 24; ++at) {
        std::string s(24, 'a');
        EXPECT_TRUE(valid(s.substr(0, at) + "\xC3\xA9" + s)) << at;
        EXPECT_FALSE(valid(s.substr(0, at) + "\x80" + s)) << at;
        EXPECT_FALSE(valid(s.substr(0, at) + "\xE4\xB8" + s)) << at;
    }
}

TEST_F(TextFiles, DetectTextFileEncoding) {
    EXPECT_EQ(DetectTextFileEncoding(Write("short", "ab").c_str()), 9);
    EXPECT_EQ(DetectTextFileEncoding(Write("le", "\xFF\xFE\x41").c_str()), 1);
    EXPECT_EQ(DetectTextFileEncoding(Write("be", std::string("\xFE\xFF\x00\x41", 4)).c_str()), 2);
    EXPECT_EQ(DetectTextFileEncoding(Write("bom", "\xEF\xBB\xBFtext").c_str()), 3);
    EXPECT_EQ(DetectTextFileEncoding(Write("ascii", "plain text\r\n").c_str()), 3);
    EXPECT_EQ(DetectTextFileEncoding(Write("utf8", "caf\xC3\xA9 \xE4\xB8\xAD").c_str()), 3);
    EXPECT_EQ(DetectTextFileEncoding(Write("bad", "ab\xC3\x28 cd").c_str()), 4);
    EXPECT_EQ(DetectTextFileEncoding(Write("brokenbom", std::string("\xEF\xBB\x00zz", 5)).c_str()), 4);
    EXPECT_EQ(DetectTextFileEncoding(Write("gbk", "\xD6\xD0\xCE\xC4\xA1\xA1").c_str()), 4);
    EXPECT_EQ(DetectTextFileEncoding((m_dir / "missing").c_str()), 9);
    EXPECT_EQ(DetectTextFileEncoding(m_dir.c_str()), 9);  // a folder is not a file
    EXPECT_EQ(DetectTextFileEncoding(nullptr), 9);
    EXPECT_FALSE(IsUtf8File((m_dir / "missing").c_str()));
}

TEST_F(TextFiles, Utf8CheckOfALargeFileSeesCharactersAcrossReads) {
    // Three-byte characters straddle every internal read boundary; a bad
    // byte at the very end must still be found.
    std::string text;
    while (text.size() < 200000) text += "\xE4\xB8\xAD";
    EXPECT_TRUE(IsUtf8File(Write("big", text).c_str()));
    EXPECT_EQ(DetectTextFileEncoding(Write("big2", text).c_str()), 3);
    EXPECT_FALSE(IsUtf8File(Write("bigbad", text + "\xFF").c_str()));
}

// ---- whole-file ANSI reads --------------------------------------------------

TEST_F(TextFiles, ReadAnsiTextFileKeepsCharactersSplitBetweenBlocks) {
    AnsiCodePage gbk(936);
    // "中" (D6 D0) starts at byte 1023 and so straddles the first block
    // boundary; "文" (CE C4) straddles the second one at 2048.
    std::string bytes(1023, 'a');
    bytes += "\xD6\xD0";
    bytes += std::string(2047 - bytes.size(), 'b');
    bytes += "\xCE\xC4z";
    std::wstring expected(1023, L'a');
    expected += L'\u4E2D';
    expected += std::wstring(2047 - 1025, L'b');
    expected += L"\u6587z";

    CIniFile file(CString(Write("gbk.txt", bytes).c_str()));
    CString out(L"kept:");
    ASSERT_EQ(file.ReadAnsiTextFile(out), 1);
    EXPECT_EQ(W(out), L"kept:" + expected);  // appended, nothing replaced
}

TEST_F(TextFiles, ReadAnsiTextFileInUtf8AndOnFailure) {
    AnsiCodePage utf8(CP_UTF8);
    std::string bytes(1022, 'x');
    bytes += "\xE6\x96\x87!";  // "文" straddles byte 1024
    CIniFile file;
    file.m_strFilePath = Write("utf8.txt", bytes).c_str();
    CString out;
    ASSERT_EQ(file.ReadAnsiTextFile(out), 1);
    EXPECT_EQ(W(out), std::wstring(1022, L'x') + L"\u6587!");

    CString empty;
    CIniFile none(CString(Write("empty.txt", "").c_str()));
    EXPECT_EQ(none.ReadAnsiTextFile(empty), 1);
    EXPECT_TRUE(empty.IsEmpty());

    CString untouched(L"same");
    CIniFile missing(CString((m_dir / "missing.txt").c_str()));
    EXPECT_EQ(missing.ReadAnsiTextFile(untouched), 0);
    CIniFile folder(CString(m_dir.c_str()));
    EXPECT_EQ(folder.ReadAnsiTextFile(untouched), 0);
    EXPECT_EQ(W(untouched), L"same");
}

// ---- conversions ------------------------------------------------------------

TEST(TextUtils, NarrowConversions) {
    AnsiCodePage gbk(936);
    EXPECT_EQ(WideToMultiByteString(CString(), 0), "");
    EXPECT_EQ(WideToMultiByteString(CString(L"\u4E2D\u6587"), 0), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(WideToAnsiString(CString(L"a\u4E2D")), "a\xD6\xD0");
    EXPECT_EQ(WideToMultiByteString(CString(L"\u4E2D"), CP_UTF8), "\xE4\xB8\xAD");

    EXPECT_EQ(WideToAnsiNew(nullptr), nullptr);
    EXPECT_EQ(WideToAnsiNewQuiet(nullptr), nullptr);
    char* a = WideToAnsiNew(L"path/\u6587.txt");
    EXPECT_STREQ(a, "path/\xCE\xC4.txt");
    delete[] a;
    char* e = WideToAnsiNewQuiet(L"");
    EXPECT_STREQ(e, "");
    delete[] e;

    EXPECT_EQ(W(Utf8ToCString("caf\xC3\xA9 \xE4\xB8\xAD")), L"caf\u00E9 \u4E2D");
    EXPECT_TRUE(Utf8ToCString(nullptr).IsEmpty());
    EXPECT_TRUE(Utf8ToCString("").IsEmpty());
}

TEST(TextUtils, UnicodeToAnsiCoTaskFitsLongCharacters) {
    // In UTF-8 a CJK character takes three bytes, more than two per character.
    AnsiCodePage utf8(CP_UTF8);
    char* out = reinterpret_cast<char*>(1);
    ASSERT_EQ(UnicodeToAnsiCoTask(L"\u4E2D\u6587\u5B57", &out), S_OK);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97");
    CoTaskMemFree(out);

    AnsiCodePage gbk(936);
    ASSERT_EQ(UnicodeToAnsiCoTask(L"x\u4E2D", &out), S_OK);
    EXPECT_STREQ(out, "x\xD6\xD0");
    CoTaskMemFree(out);

    out = reinterpret_cast<char*>(1);
    EXPECT_EQ(UnicodeToAnsiCoTask(nullptr, &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_LT(UnicodeToAnsiCoTask(L"x", nullptr), 0);
}

// ---- splitting and trimming -------------------------------------------------

TEST(TextUtils, SplitByChar) {
    std::vector<std::string> out{"stale"};
    SplitByChar(out, "a,,b,", ",");
    EXPECT_EQ(out, (std::vector<std::string>{"a", "b"}));
    SplitByChar(out, ",,,", ",");
    EXPECT_TRUE(out.empty());
    SplitByChar(out, "x y", " ;");  // only the first character separates
    EXPECT_EQ(out, (std::vector<std::string>{"x", "y"}));
    SplitByChar(out, "whole", "");
    EXPECT_EQ(out, (std::vector<std::string>{"whole"}));
    out = {"stale"};
    SplitByChar(out, nullptr, ",");
    EXPECT_TRUE(out.empty());
    SplitByChar(out, "a,b", nullptr);
    EXPECT_TRUE(out.empty());

    // A long segment is kept whole rather than dropped.
    const std::string longSegment(5000, 'p');
    SplitByChar(out, ("a " + longSegment + " b").c_str(), " ");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], longSegment);
    EXPECT_EQ(out[2], "b");
}

TEST(TextUtils, SplitCStringBy) {
    std::vector<CString> out{CString(L"stale")};
    auto texts = [&out] {
        std::vector<std::wstring> r;
        for (const auto& s : out) r.push_back(W(s));
        return r;
    };
    SplitCStringBy(out, CString(L" ;;a; b ;"), CString(L";"));
    EXPECT_EQ(texts(), (std::vector<std::wstring>{L"a", L"b"}));
    SplitCStringBy(out, CString(L"  one segment  "), CString(L";"));
    EXPECT_EQ(texts(), (std::vector<std::wstring>{L"one segment"}));
    SplitCStringBy(out, CString(L"::x:: y ::::z"), CString(L"::"));
    EXPECT_EQ(texts(), (std::vector<std::wstring>{L"x", L"y", L"z"}));
    SplitCStringBy(out, CString(L" \t "), CString(L";"));
    EXPECT_TRUE(out.empty());
    // An empty separator leaves the trimmed text whole (and terminates).
    SplitCStringBy(out, CString(L" a;b "), CString());
    EXPECT_EQ(texts(), (std::vector<std::wstring>{L"a;b"}));
}

TEST(TextUtils, TrimAsciiWhitespace) {
    char text[] = " \tab\t\r\n";
    char* kept = TrimAsciiWhitespace(text);
    EXPECT_STREQ(kept, "ab\t");  // the trailing tab stays
    char blanks[] = " \r\n ";
    EXPECT_STREQ(TrimAsciiWhitespace(blanks), "");
    char inner[] = "a b";
    EXPECT_EQ(TrimAsciiWhitespace(inner), inner);
    EXPECT_STREQ(inner, "a b");
    EXPECT_EQ(TrimAsciiWhitespace(nullptr), nullptr);
}

TEST(TextUtils, GetExeFolder) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    const std::string exe(self, static_cast<size_t>(n));
    EXPECT_EQ(WideToUtf8(W(GetExeFolder())), exe.substr(0, exe.rfind('/') + 1));

    // Paths longer than MAX_PATH are not cut short.
    const std::wstring deep = L"/srv/" + std::wstring(300, L'd') + L"/host \u4E2D/bin";
    SetModuleFileNameOverride(deep + L"/marker");
    EXPECT_EQ(W(GetExeFolder()), deep + L"/");
    SetModuleFileNameOverride(L"");
}

TEST(TextUtils, DecimalNumbersAsTheCLibraryReadsThem) {
    const auto scan = [](std::wstring_view text, size_t start, double want, size_t end) {
        size_t i = start;
        double v = -1;
        EXPECT_TRUE(ScanDecimal(text, i, v));
        EXPECT_EQ(v, want);
        EXPECT_EQ(i, end);
    };
    scan(L"x-.5y", 1, -0.5, 4);
    scan(L"1.e2,", 0, 100.0, 4);
    scan(L"2E-1", 0, 0.2, 4);
    scan(L"3e+", 0, 3.0, 1);  // an exponent without digits is not part of it
    for (const wchar_t* bad : {L"", L".", L"+-5", L"e5", L"inf", L"nan", L"1e400", L"-"}) {
        size_t i = 0;
        double v = 7;
        EXPECT_FALSE(ScanDecimal(std::wstring_view(bad), i, v)) << bad;
        EXPECT_EQ(i, 0u);
        EXPECT_EQ(v, 7.0);
    }
    double v = 0;
    EXPECT_TRUE(ReadLeadingDecimal(std::string_view(" \t\r\n\v\f+12.5mm"), v));
    EXPECT_EQ(v, 12.5);
    EXPECT_TRUE(ReadLeadingDecimal(std::string_view("0x10"), v));  // no hexadecimal: the 0 alone
    EXPECT_EQ(v, 0.0);
    // Too small for a double: a zero of its sign, not a missing number.
    scan(L"-0.00001e-400", 0, 0.0, 13);
    EXPECT_TRUE(ReadLeadingDecimal(std::string_view("-1e-400"), v) && std::signbit(v));

    // Too large: refused, or told apart from no number with its sign kept.
    const struct {
        const char* text;
        double value;
        size_t end;
    } large[] = {{"1e400", HUGE_VAL, 5}, {"-1000e306x", -HUGE_VAL, 9}, {"99999999999e99999999999", HUGE_VAL, 23}};
    for (const auto& c : large) {
        size_t i = 0;
        EXPECT_EQ(ScanDecimalOrOverflow(std::string_view(c.text), i, v), DecimalScan::kOverflow) << c.text;
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(i, c.end);
    }
    size_t at = 0;
    EXPECT_EQ(ScanDecimalOrOverflow(std::string_view("inf"), at, v), DecimalScan::kNone);
}

// Short numbers take a quicker path than long ones; both must give the
// correctly rounded double that the full conversion gives, bit for bit.
TEST(TextUtils, DecimalNumbersRoundLikeTheFullConversion) {
    std::mt19937_64 rng(7);
    const auto digits = [&](int n) {
        std::string s;
        for (int k = 0; k < n; ++k) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    for (int n = 0; n < 200000; ++n) {
        std::string text = rng() % 2 ? "-" : "";
        text += digits(static_cast<int>(rng() % 18));
        if (rng() % 4) text += "." + digits(static_cast<int>(rng() % 26));
        if (rng() % 3 == 0) text += std::string(rng() % 2 ? "e" : "E-") + std::to_string(rng() % 40);
        else if (rng() % 8 == 0) text += std::string(rng() % 2 ? "e" : "e-") + std::to_string(290 + rng() % 40);
        // What follows a number in a file, right beside it: bytes next to
        // the digits, bytes that carry when added to, line ends.
        static const char* const kTails[] = {"", "\r\n1234567", "/", ":0", "\xFA" "99", "\xFF\xFF", " 12345678", ";"};
        text += kTails[rng() % std::size(kTails)];
        double want = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), want);
        size_t i = 0;
        double got = 0;
        const DecimalScan scan = ScanDecimalOrOverflow(std::string_view(text), i, got);
        if (r.ec == std::errc::result_out_of_range) {
            // Beyond a double: infinity is told apart, a value too small is zero.
            const double limit = std::strtod(text.c_str(), nullptr);
            EXPECT_EQ(scan, std::isinf(limit) ? DecimalScan::kOverflow : DecimalScan::kNumber) << text;
            EXPECT_TRUE(std::isinf(limit) ? std::isinf(got) : got == 0.0) << text;
            EXPECT_EQ(std::signbit(got), text[0] == '-') << text;
            continue;
        }
        if (r.ec != std::errc()) {
            EXPECT_NE(scan, DecimalScan::kNumber) << text;
            continue;
        }
        ASSERT_EQ(scan, DecimalScan::kNumber) << text;
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text << " " << got << " " << want;
        EXPECT_EQ(i, static_cast<size_t>(r.ptr - text.data())) << text;
    }
}

TEST(TextUtils, IntegersHeldWithinThirtyTwoBits) {
    int32_t v = 0;
    const auto read = [&](const char* text) { return ReadLeadingInt32(std::string_view(text), v) ? v : -7; };
    EXPECT_EQ(read(" \r\n+42.9"), 42);
    EXPECT_EQ(read("-2147483648"), INT32_MIN);
    EXPECT_EQ(read("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(read("2147483648"), INT32_MAX);
    for (const char* bad : {"", "-", "+-1", "x1", ".5"}) EXPECT_EQ(read(bad), -7) << bad;
    size_t i = 2;
    EXPECT_TRUE(ScanInt32(std::wstring_view(L"D 010*"), i, v));
    EXPECT_EQ(v, 10);
    EXPECT_EQ(i, 5u);
}
