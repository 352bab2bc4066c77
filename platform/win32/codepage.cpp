// Code-page conversions.
//
// Wide strings are UTF-32 in memory (wchar_t is 32-bit here); a UTF-16
// surrogate pair that found its way into one is still taken as the one
// character it encodes. UTF-8 is converted by hand, independent of iconv and
// of the process locale; every other code page goes through iconv under the
// name "CP<n>".
//
// A conversion never fails as a whole: a wide character the target code page
// lacks becomes one '?' (or the caller's default character), and each byte of
// narrow input that does not start a valid character becomes one '?'. The
// same '?' both ways keeps a round trip of damaged text predictable.
#include <iconv.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "morvik/win32/windows.h"

namespace {

constexpr UINT kDefaultAcp = 936;
std::atomic<UINT> g_acp{kDefaultAcp};

constexpr const char* kUtf32Name = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));

UINT ResolveCodePage(UINT cp) {
    // CP_ACP, CP_OEMCP, CP_MACCP and CP_THREAD_ACP all mean the one ANSI code
    // page of the process.
    return cp <= 3 ? g_acp.load(std::memory_order_relaxed) : cp;
}

// iconv descriptors carry conversion state and are not thread-safe, so each
// thread keeps its own small set.
class IconvCache {
public:
    ~IconvCache() {
        for (const Entry& e : m_entries) iconv_close(e.cd);
    }

    // The descriptor for cp -> UTF-32 (toWide) or UTF-32 -> cp, reset to its
    // initial state; kNoIconv when iconv does not know the code page.
    iconv_t Get(UINT cp, bool toWide) {
        for (const Entry& e : m_entries) {
            if (e.cp == cp && e.toWide == toWide) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
                return e.cd;
            }
        }
        char name[16];
        std::snprintf(name, sizeof name, "CP%u", cp);
        iconv_t cd = toWide ? iconv_open(kUtf32Name, name) : iconv_open(name, kUtf32Name);
        if (cd == kNoIconv) return kNoIconv;
        if (m_entries.size() >= kMaxEntries) {
            iconv_close(m_entries.front().cd);
            m_entries.erase(m_entries.begin());
        }
        m_entries.push_back({cp, toWide, cd});
        return cd;
    }

private:
    struct Entry {
        UINT cp;
        bool toWide;
        iconv_t cd;
    };
    static constexpr size_t kMaxEntries = 8;
    std::vector<Entry> m_entries;
};

thread_local IconvCache t_iconv;

// ---- UTF-8 ----------------------------------------------------------------

void DecodeUtf8(const char* src, size_t n, std::wstring& out) {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    out.reserve(out.size() + n);
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        size_t len = 0;
        char32_t cp = 0, min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, min = 0x10000;
        }
        bool ok = len != 0 && n - i >= len;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (ok) {
            out.push_back(static_cast<wchar_t>(cp));
            i += len;
        } else {
            out.push_back(L'?');
            ++i;
        }
    }
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr char32_t kInvalidChar = 0xFFFFFFFFu;

// The code point at s[i] (combining a surrogate pair, advancing i past what
// was used); kInvalidChar for a lone surrogate or a value beyond Unicode.
char32_t NextCodePoint(const wchar_t* s, size_t n, size_t& i) {
    const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(s[i++]));
    if (c >= 0xD800 && c <= 0xDBFF && i < n) {
        const auto lo = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(s[i]));
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kInvalidChar;
    return c;
}

void EncodeUtf8(const wchar_t* s, size_t n, std::string& out, bool& usedDefault) {
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n;) {
        const char32_t cp = NextCodePoint(s, n, i);
        if (cp == kInvalidChar) {
            out.push_back('?');
            usedDefault = true;
        } else {
            AppendUtf8(cp, out);
        }
    }
}

// ---- iconv ------------------------------------------------------------------

// Runs one iconv conversion of in[0..n) in pieces; on input it cannot take,
// calls onBad (which appends the substitute) and skips badStep bytes.
template <class Sink, class OnBad>
void RunIconv(iconv_t cd, const char* in, size_t n, size_t badStep, Sink sink, OnBad onBad) {
    char buf[4096];
    char* inp = const_cast<char*>(in);
    size_t inLeft = n;
    while (inLeft > 0) {
        char* outp = buf;
        size_t outLeft = sizeof buf;
        const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        const int err = errno;
        sink(buf, static_cast<size_t>(outp - buf));
        if (r != static_cast<size_t>(-1) || err == E2BIG) continue;
        // EILSEQ (no such character) or EINVAL (cut-off sequence at the end):
        // substitute and step over the offending unit.
        const size_t step = badStep < inLeft ? badStep : inLeft;
        onBad();
        inp += step;
        inLeft -= step;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state of stateful encodings.
    char* outp = buf;
    size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &outp, &outLeft);
    sink(buf, static_cast<size_t>(outp - buf));
}

// Converts narrow text of code page cp to wide; false (ERROR_INVALID_PARAMETER)
// for a code page nobody knows.
bool DecodeTo(UINT cp, const char* src, size_t n, std::wstring& out) {
    cp = ResolveCodePage(cp);
    if (cp == CP_UTF8) {
        DecodeUtf8(src, n, out);
        return true;
    }
    iconv_t cd = t_iconv.Get(cp, true);
    if (cd == kNoIconv) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    out.reserve(out.size() + n);
    RunIconv(
        cd, src, n, 1,
        [&](const char* p, size_t bytes) {
            for (size_t k = 0; k + 4 <= bytes; k += 4) {
                char32_t c;
                std::memcpy(&c, p + k, 4);
                out.push_back(static_cast<wchar_t>(c));
            }
        },
        [&] { out.push_back(L'?'); });
    return true;
}

bool EncodeTo(UINT cp, const wchar_t* src, size_t n, std::string& out, const char* defaultChar,
              bool& usedDefault) {
    cp = ResolveCodePage(cp);
    if (cp == CP_UTF8) {
        EncodeUtf8(src, n, out, usedDefault);
        return true;
    }
    iconv_t cd = t_iconv.Get(cp, false);
    if (cd == kNoIconv) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The substitute is the caller's default character (one character of the
    // code page, so at most two bytes) or '?'.
    std::string substitute = "?";
    if (defaultChar != nullptr && defaultChar[0] != '\0')
        substitute.assign(defaultChar, defaultChar[1] != '\0' ? 2 : 1);

    std::u32string units;
    units.reserve(n);
    for (size_t i = 0; i < n;) units.push_back(NextCodePoint(src, n, i));
    out.reserve(out.size() + n);
    RunIconv(
        cd, reinterpret_cast<const char*>(units.data()), units.size() * 4, 4,
        [&](const char* p, size_t bytes) { out.append(p, bytes); },
        [&] {
            out += substitute;
            usedDefault = true;
        });
    return true;
}

bool CheckLengths(const void* src, int srcLen, const void* dst, int dstLen) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// Copies a converted result out with Win32 semantics: size query, or the
// whole result, or 0 with ERROR_INSUFFICIENT_BUFFER.
template <class Str, class Ch>
int Deliver(const Str& result, Ch* dst, int dstLen) {
    if (result.size() > static_cast<size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const int size = static_cast<int>(result.size());
    if (dstLen == 0) return size;
    if (size > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, result.data(), result.size() * sizeof(Ch));
    return size;
}

}  // namespace

UINT GetACP() { return g_acp.load(std::memory_order_relaxed); }

BOOL SetACP(UINT codePage) {
    if (codePage == CP_UTF8) {
        g_acp.store(codePage);
        return TRUE;
    }
    if (codePage <= 3) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char name[16];
    std::snprintf(name, sizeof name, "CP%u", codePage);
    for (bool toWide : {true, false}) {
        iconv_t cd = toWide ? iconv_open(kUtf32Name, name) : iconv_open(name, kUtf32Name);
        if (cd == kNoIconv) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        iconv_close(cd);
    }
    g_acp.store(codePage);
    return TRUE;
}

int MultiByteToWideChar(UINT codePage, DWORD, const char* src, int srcLen, wchar_t* dst, int dstLen) {
    if (!CheckLengths(src, srcLen, dst, dstLen)) return 0;
    const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    std::wstring result;
    try {
        if (!DecodeTo(codePage, src, n, result)) return 0;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return Deliver(result, dst, dstLen);
}

int WideCharToMultiByte(UINT codePage, DWORD, const wchar_t* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault) {
    if (!CheckLengths(src, srcLen, dst, dstLen)) return 0;
    const size_t n = srcLen == -1 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLen);
    std::string result;
    bool used = false;
    try {
        if (!EncodeTo(codePage, src, n, result, defaultChar, used)) return 0;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (usedDefault) *usedDefault = used ? TRUE : FALSE;
    return Deliver(result, dst, dstLen);
}

std::wstring AnsiToWide(const std::string& s, UINT codePage) {
    std::wstring out;
    if (!DecodeTo(codePage, s.data(), s.size(), out)) out.clear();
    return out;
}

std::string WideToAnsi(const std::wstring& s, UINT codePage) {
    std::string out;
    bool used = false;
    if (!EncodeTo(codePage, s.data(), s.size(), out, nullptr, used)) out.clear();
    return out;
}

std::string WidePathToUtf8(const wchar_t* path) {
    std::string out;
    if (path == nullptr) return out;
    bool used = false;
    EncodeUtf8(path, std::wcslen(path), out, used);
    return out;
}

std::wstring Utf8ToWide(const std::string& s) {
    std::wstring out;
    DecodeUtf8(s.data(), s.size(), out);
    return out;
}

std::string WideToUtf8(const std::wstring& s) {
    std::string out;
    bool used = false;
    EncodeUtf8(s.data(), s.size(), out, used);
    return out;
}
