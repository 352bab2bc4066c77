// Code-page conversions.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "morvik/core/text_utils.h"
#include "morvik/win32/windows.h"

namespace {

// Restores the process ANSI code page after a test that changes it.
struct AcpGuard {
    UINT saved = GetACP();
    ~AcpGuard() { SetACP(saved); }
};

// 中文测试 in GBK.
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4";
const std::wstring kChinese = L"\u4E2D\u6587\u6D4B\u8BD5";

TEST(Win32CodePage, DefaultAnsiCodePageIsGbk) {
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(WideToAnsi(kChinese), kGbkChinese);
    EXPECT_EQ(AnsiToWide(kGbkChinese), kChinese);
    EXPECT_EQ(AnsiToWide(kGbkChinese, 936), kChinese);
}

TEST(Win32CodePage, GbkRoundTripOfLongMixedText) {
    // Longer than one internal conversion piece, with ASCII mixed in.
    std::wstring text;
    for (int i = 0; i < 3000; ++i) text += kChinese + L"ab" + std::to_wstring(i);
    const std::string ansi = WideToAnsi(text, 936);
    EXPECT_EQ(AnsiToWide(ansi, 936), text);
    EXPECT_EQ(ansi.substr(0, 10), kGbkChinese + "ab");
}

TEST(Win32CodePage, CharactersGbkLacksBecomeOneQuestionMarkEach) {
    const std::wstring text = L"a\U0001F600b\u0E01c\u4E2D";
    EXPECT_EQ(WideToAnsi(text, 936), "a?b?c\xD6\xD0");

    BOOL used = FALSE;
    char out[16] = {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out, sizeof out, "*", &used);
    EXPECT_EQ(n, 8);  // a * b * c + two bytes + terminator
    EXPECT_STREQ(out, "a*b*c\xD6\xD0");
    EXPECT_TRUE(used);
    WideCharToMultiByte(CP_ACP, 0, L"abc", -1, out, sizeof out, nullptr, &used);
    EXPECT_FALSE(used);

    // Unpaired surrogates and values beyond Unicode do not convert either.
    const std::wstring broken{L'x', static_cast<wchar_t>(0xD800), L'y', static_cast<wchar_t>(0x110000)};
    EXPECT_EQ(WideToAnsi(broken, 936), "x?y?");
    EXPECT_EQ(WideToUtf8(broken), "x?y?");
}

TEST(Win32CodePage, InvalidNarrowInputBecomesQuestionMarks) {
    // A GBK lead byte followed by a byte that cannot trail it, and a lead
    // byte cut off at the end.
    EXPECT_EQ(AnsiToWide(std::string("A\x81 B\xD6", 5), 936), L"A? B?");
    // UTF-8: stray continuation, overlong form, encoded surrogate, a
    // sequence cut short, and bytes that never start one.
    EXPECT_EQ(Utf8ToWide("a\x80z"), L"a?z");
    EXPECT_EQ(Utf8ToWide("\xC0\x80"), L"??");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"???");
    EXPECT_EQ(Utf8ToWide("x\xE4\xB8"), L"x??");
    EXPECT_EQ(Utf8ToWide("\xF5\xFF"), L"??");
    EXPECT_EQ(Utf8ToWide("a\xC3(b"), L"a?(b");
    EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"????");  // beyond U+10FFFF
}

TEST(Win32CodePage, Utf8OutsideTheBasicPlane) {
    const std::wstring smile = L"\U0001F600";
    ASSERT_EQ(smile.size(), 1u);
    EXPECT_EQ(WideToUtf8(smile), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), smile);
    EXPECT_EQ(WideToAnsi(smile, CP_UTF8), "\xF0\x9F\x98\x80");
    EXPECT_EQ(AnsiToWide("\xF0\x9F\x98\x80", CP_UTF8), smile);
    // A UTF-16 surrogate pair held in a wide string is still the one character.
    const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(WideToUtf8(pair), "\xF0\x9F\x98\x80");

    EXPECT_EQ(WideToUtf8(L"\u00E9\u4E2D"), "\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(Utf8ToWide("\xC3\xA9\xE4\xB8\xAD"), L"\u00E9\u4E2D");
    EXPECT_EQ(WidePathToUtf8(L"/tmp/\u6570\u636E.orz"), "/tmp/\xE6\x95\xB0\xE6\x8D\xAE.orz");
    EXPECT_EQ(WidePathToUtf8(nullptr), "");
}

TEST(Win32CodePage, LengthSemantics) {
    // -1 counts the terminator; 0 output asks for the size.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\U0001F600", -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, kChinese.c_str(), -1, nullptr, 0, nullptr, nullptr), 9);

    wchar_t wbuf[8];
    std::fill(std::begin(wbuf), std::end(wbuf), L'#');
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wbuf, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wbuf, 4), 4);
    EXPECT_STREQ(wbuf, L"abc");
    std::fill(std::begin(wbuf), std::end(wbuf), L'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 2, wbuf, 8), 2);
    EXPECT_EQ(wbuf[2], L'#');  // no terminator added for an explicit length

    char buf[9];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(936, 0, kChinese.c_str(), -1, buf, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(936, 0, kChinese.c_str(), -1, buf, 9, nullptr, nullptr), 9);
    EXPECT_EQ(std::string(buf), kGbkChinese);

    // Embedded terminators are ordinary characters with explicit lengths.
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(AnsiToWide(withNul), std::wstring(L"a\0b", 3));
    EXPECT_EQ(WideToAnsi(std::wstring(L"a\0b", 3)), withNul);

    // Bad arguments fail with ERROR_INVALID_PARAMETER, never crash.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wbuf, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wbuf, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 8), 0);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(4242, 0, "abc", -1, wbuf, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Win32CodePage, HostChangesTheAnsiCodePage) {
    AcpGuard guard;
    ASSERT_TRUE(SetACP(1252));
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(WideToAnsi(L"caf\u00E9 \u4E2D"), "caf\xE9 ?");
    EXPECT_EQ(AnsiToWide("caf\xE9"), L"caf\u00E9");

    SetLastError(0);
    EXPECT_FALSE(SetACP(4242));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetACP(CP_ACP));
    EXPECT_EQ(GetACP(), 1252u);

    ASSERT_TRUE(SetACP(CP_UTF8));
    EXPECT_EQ(WideToAnsi(L"\u4E2D\U0001F600"), "\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(AnsiToWide("\xE4\xB8\xAD\xFF"), L"\u4E2D?");
}

TEST(Win32CodePage, ConversionsFromManyThreadsAtOnce) {
    // Each thread alternates code pages; shared conversion state would mix
    // up results.
    constexpr int kThreads = 8;
    std::array<HANDLE, kThreads> threads{};
    for (auto& t : threads) {
        t = CreateThread(
            nullptr, 0, [](void*) -> DWORD {
                for (int i = 0; i < 500; ++i) {
                    if (WideToAnsi(kChinese, 936) != kGbkChinese) return 1;
                    if (AnsiToWide("caf\xE9", 1252) != L"caf\u00E9") return 2;
                    if (AnsiToWide(kGbkChinese, 936) != kChinese) return 3;
                    if (WideToAnsi(L"\u00E9", 1252) != "\xE9") return 4;
                }
                return 0;
            },
            nullptr, CREATE_SUSPENDED, nullptr);
    }
    for (HANDLE t : threads) ResumeThread(t);
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
    for (HANDLE t : threads) {
        DWORD code = 99;
        GetExitCodeThread(t, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(t);
    }
}

}  // namespace

namespace {

// The test's own strict reading of UTF-8: the shortest form of a scalar
// value decodes; any other byte stands for one replacement (0 here).
std::u32string Strict(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = [&](size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
        const unsigned lead = b(0);
        const size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                      : lead >= 0xF0 && lead < 0xF5   ? 4 : 0;
        char32_t c = n == 1 ? lead : n == 2 ? lead & 0x1F : n == 3 ? lead & 0x0F : lead & 0x07;
        bool ok = n != 0;
        for (size_t k = 1; ok && k < n; ++k) {
            ok = (b(k) & 0xC0) == 0x80;
            c = (c << 6) | (b(k) & 0x3F);
        }
        const char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && c >= least[n] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        out += ok ? c : 0;
        i += ok ? n : 1;
    }
    return out;
}

}  // namespace

// Random strings of well-formed characters (up to U+10FFFF), overlong forms,
// encoded surrogates, values past Unicode, stray and missing continuation
// bytes, the bad one first as often as not: every decoder gives what the
// strict reading gives, one replacement character for each byte that is no
// character, and a well-formed string comes back byte for byte.
TEST(Win32CodePage, EveryUtf8DecoderReplacesWhatIsNoCharacter) {
    const std::vector<std::string> pieces = {
        "a", "/", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD",
        "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xC1\xBF",           // overlong forms of / and DEL
        "\xED\xA0\x80", "\xED\xBF\xBF", "\xED\xA0\xBD\xED\xB8\x80",          // surrogates, a pair among them
        "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\x80", "\xBF", "\xE4\xB8", "\xF0\x9F\x98", "\xFF"};
    using Decoder = std::function<std::wstring(const std::string&)>;
    const std::vector<std::pair<const char*, Decoder>> decoders = {
        {"Utf8ToWide", [](const std::string& s) { return Utf8ToWide(s); }},
        {"AnsiToWide", [](const std::string& s) { return AnsiToWide(s, CP_UTF8); }},
        {"MultiByteToWideChar",
         [](const std::string& s) {
             std::wstring out(s.size() + 1, L'\0');
             const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(),
                                               static_cast<int>(out.size()));
             out.resize(static_cast<size_t>(std::max(n, 0)));
             return out;
         }},
        {"Utf8ToCString", [](const std::string& s) { return std::wstring(Utf8ToCString(s.c_str()).GetString()); }},
    };
    std::mt19937 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        std::string s;
        const int count = 1 + static_cast<int>(rng() % 5);
        for (int k = 0; k < count; ++k) s += pieces[rng() % pieces.size()];
        const std::u32string want = Strict(s);
        for (const auto& [name, decode] : decoders) {
            const std::wstring got = decode(s);
            SCOPED_TRACE(testing::Message() << name << " trial " << trial);
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < want.size(); ++i) {
                const char32_t c = static_cast<char32_t>(got[i]);
                EXPECT_TRUE(want[i] != 0 ? c == want[i] : c == U'?' || c == 0xFFFD) << i;
            }
            if (want.find(char32_t(0)) == std::u32string::npos) {
                EXPECT_EQ(WideToUtf8(got), s);
            }
        }
    }
}
