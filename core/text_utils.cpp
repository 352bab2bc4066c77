#include "morvik/core/text_utils.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "morvik/afx/cotaskmem.h"
#include "morvik/host/host_services.h"

// ---- conversions to narrow text -------------------------------------------

std::string WideToMultiByteString(const CString& text, UINT codePage) {
    const int size = WideCharToMultiByte(codePage, 0, text.GetString(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::unique_ptr<char[]> buf(new char[static_cast<size_t>(size)]());
    WideCharToMultiByte(codePage, 0, text.GetString(), -1, buf.get(), size, nullptr, nullptr);
    buf[static_cast<size_t>(size) - 1] = 0;
    return std::string(buf.get());
}

std::string WideToAnsiString(const CString& text) { return WideToMultiByteString(text, CP_ACP); }

namespace {

char* WideToAnsiNewImpl(const wchar_t* text, bool quiet) {
    if (!text) return nullptr;
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    // Even a failed size query gives a terminated (empty) string.
    const size_t alloc = size > 0 ? static_cast<size_t>(size) : 1;
    char* buf = new (std::nothrow) char[alloc]();
    if (!buf) {
        if (!quiet) MessageBoxW(nullptr, L"malloc error", L"error", MB_OK);
        std::exit(1);
    }
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, buf, size, nullptr, nullptr);
    buf[alloc - 1] = 0;
    return buf;
}

}  // namespace

char* WideToAnsiNew(const wchar_t* text) { return WideToAnsiNewImpl(text, false); }

char* WideToAnsiNewQuiet(const wchar_t* text) { return WideToAnsiNewImpl(text, true); }

HRESULT UnicodeToAnsiCoTask(const wchar_t* text, char** out) {
    if (!out) return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
    *out = nullptr;
    if (!text) return S_OK;
    const size_t n = std::wcslen(text);
    if (n > static_cast<size_t>(INT_MAX / 4 - 1)) return E_OUTOFMEMORY;
    // Two bytes per character hold any double-byte code page; a code page
    // with longer characters (UTF-8) gets the size the conversion asks for.
    int bytes = static_cast<int>((n + 1) * 2);
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(n + 1), nullptr, 0, nullptr, nullptr);
    if (needed > bytes) bytes = needed;
    char* block = static_cast<char*>(CoTaskMemAlloc(static_cast<size_t>(bytes)));
    if (!block) return E_OUTOFMEMORY;
    SetLastError(ERROR_SUCCESS);
    if (WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(n + 1), block, bytes, nullptr, nullptr) == 0) {
        const DWORD err = GetLastError();
        CoTaskMemFree(block);
        // A failure must not read as S_OK when no error code was left behind.
        return err != ERROR_SUCCESS ? HRESULT_FROM_WIN32(err) : E_FAIL;
    }
    *out = block;
    return S_OK;
}

// ---- conversion to wide text ----------------------------------------------

CString Utf8ToCString(const char* text) {
    if (!text) return CString();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (size <= 0) return CString();
    std::unique_ptr<wchar_t[]> buf(new wchar_t[static_cast<size_t>(size)]());
    MultiByteToWideChar(CP_UTF8, 0, text, -1, buf.get(), size);
    buf[static_cast<size_t>(size) - 1] = 0;
    return CString(buf.get());
}

// ---- splitting and trimming -----------------------------------------------

void SplitByChar(std::vector<std::string>& out, const char* text, const char* separator) {
    out.clear();
    if (!text || !separator) return;
    const char sep = separator[0];  // an empty separator never matches
    const char* start = text;
    for (const char* p = text;; ++p) {
        if (*p == 0 || *p == sep) {
            // Segments of every length are kept: a long segment is data too.
            if (p > start) out.emplace_back(start, static_cast<size_t>(p - start));
            if (*p == 0) break;
            start = p + 1;
        }
    }
}

void SplitCStringBy(std::vector<CString>& out, const CString& text, const CString& separator) {
    out.clear();
    CString t = text;
    t.Trim();
    if (t.IsEmpty()) return;
    // An empty separator occurs everywhere and would never be used up.
    if (separator.IsEmpty() || t.Find(separator) < 0) {
        out.push_back(t);
        return;
    }
    const int sepLen = separator.GetLength();
    while (t.Find(separator) == 0) t = t.Mid(sepLen);
    t += separator;
    for (int pos = t.Find(separator); pos >= 0; pos = t.Find(separator)) {
        CString segment = t.Left(pos);
        segment.Trim();
        if (!segment.IsEmpty()) out.push_back(segment);
        t = t.Mid(pos + sepLen);
    }
}

char* TrimAsciiWhitespace(char* text) {
    if (!text) return nullptr;
    char* first = text;
    while (*first == ' ' || *first == '\n' || *first == '\t' || *first == '\r') ++first;
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = 0;
    return first;
}

// ---- the program's folder -------------------------------------------------

CString GetExeFolder() {
    // Linux paths may be longer than MAX_PATH: grow until the path fits.
    std::wstring path;
    for (DWORD size = MAX_PATH; size <= 65536; size *= 4) {
        std::wstring buf(size, L'\0');
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), size);
        if (n == 0) return CString();
        if (n < size) {
            path.assign(buf.data(), n);
            break;
        }
    }
    CString full(path);
    return full.Left(full.ReverseFind(L'/') + 1);
}

// ---- whole-file ANSI text ---------------------------------------------------

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for binary reading; directories and devices count as
// files that cannot be opened.
FilePtr OpenRegularFile(const char* path) {
    if (!path) return nullptr;
    FilePtr f(std::fopen(path, "rb"));
    if (!f) return nullptr;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return f;
}

bool DoubleByteLead(UINT cp, unsigned char b) {
    switch (cp) {
        case 932: return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        case 936:
        case 949:
        case 950:
        case 54936: return b >= 0x81 && b <= 0xFE;
        default: return false;
    }
}

// The length of the longest prefix of p that ends on a character boundary
// in the code page; the bytes after it begin a character that continues in
// the next block.
size_t CompletePrefix(const unsigned char* p, size_t n, UINT cp) {
    if (cp == CP_UTF8) {
        size_t i = n;
        for (int back = 0; back < 3 && i > 0; ++back) {
            const unsigned char b = p[i - 1];
            if ((b & 0xC0) != 0x80) {
                const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
                return (n - (i - 1)) < len ? i - 1 : n;
            }
            --i;
        }
        return n;
    }
    size_t i = 0;
    while (i < n) {
        if (!DoubleByteLead(cp, p[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= n) return i;
        // GB18030 has four-byte characters: lead, digit, lead, digit.
        const size_t len = (cp == 54936 && p[i + 1] >= 0x30 && p[i + 1] <= 0x39) ? 4 : 2;
        if (i + len > n) return i;
        i += len;
    }
    return n;
}

}  // namespace

int CIniFile::ReadAnsiTextFile(CString& out) {
    FilePtr f = OpenRegularFile(WidePathToUtf8(m_strFilePath.GetString()).c_str());
    if (!f) return 0;
    UINT cp = GetACP();
    std::wstring text;
    std::string pending;  // bytes of a character cut by the end of a block
    unsigned char block[1024];
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, f.get());
        if (got == 0) {
            if (std::ferror(f.get())) return 0;
            break;
        }
        // NUL bytes would end the text early for whoever reads it as a C
        // string; they carry no text and are left out.
        for (size_t i = 0; i < got; ++i) {
            if (block[i]) pending.push_back(static_cast<char>(block[i]));
        }
        const size_t whole =
            CompletePrefix(reinterpret_cast<const unsigned char*>(pending.data()), pending.size(), cp);
        text += AnsiToWide(pending.substr(0, whole));
        pending.erase(0, whole);
    }
    if (!pending.empty()) text += AnsiToWide(pending);
    out += CString(std::move(text));
    return 1;
}

// ---- encoding detection -----------------------------------------------------

namespace {

// Checks bytes as UTF-8, carrying the number of continuation bytes still
// expected from one call to the next.
bool Utf8Step(const unsigned char* p, size_t n, int& pending) {
    for (size_t i = 0; i < n; ++i) {
        if (pending == 0) {
            // Plain ASCII, eight bytes at a time: most text is nothing else.
            uint64_t word = 0;
            while (i + sizeof word <= n) {
                std::memcpy(&word, p + i, sizeof word);
                if ((word & 0x8080808080808080ull) != 0) break;
                i += sizeof word;
            }
            if (i >= n) break;
        }
        const unsigned char b = p[i];
        if (pending > 0) {
            if ((b & 0xC0) != 0x80) return false;
            --pending;
        } else if (b < 0x80) {
            continue;
        } else if (b < 0xC0) {
            return false;  // a continuation byte cannot start a character
        } else if (b < 0xE0) {
            pending = 1;
        } else if (b < 0xF0) {
            pending = 2;
        } else {
            return false;  // four-byte sequences are not accepted
        }
    }
    return true;
}

}  // namespace

bool IsValidUtf8(const unsigned char* bytes, size_t length) {
    if (!bytes) return length == 0;
    int pending = 0;
    return Utf8Step(bytes, length, pending);
}

bool IsUtf8File(const char* path) {
    FilePtr f = OpenRegularFile(path);
    if (!f) return false;
    // Checked in blocks, so a large file is not held in memory at once.
    std::vector<unsigned char> block(65536);
    int pending = 0;
    for (;;) {
        const size_t got = std::fread(block.data(), 1, block.size(), f.get());
        if (got == 0) return !std::ferror(f.get());
        if (!Utf8Step(block.data(), got, pending)) return false;
    }
}

namespace {

int EncodingOfHead(const unsigned char* head) {
    if (head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return TEXT_ENCODING_UTF8;
    if (head[0] == 0xFE && head[1] == 0xFF) return TEXT_ENCODING_UTF16BE;
    if (head[0] == 0xFF && head[1] == 0xFE) return TEXT_ENCODING_UTF16LE;
    return 0;
}

}  // namespace

int DetectTextEncoding(const unsigned char* bytes, size_t size) {
    if (!bytes || size < 3) return TEXT_ENCODING_UNKNOWN;
    if (const int marked = EncodingOfHead(bytes)) return marked;
    return IsValidUtf8(bytes, size) ? TEXT_ENCODING_UTF8 : TEXT_ENCODING_ANSI;
}

int DetectTextFileEncoding(const char* path) {
    unsigned char head[3] = {0, 0, 0};
    {
        FilePtr f = OpenRegularFile(path);
        if (!f) return TEXT_ENCODING_UNKNOWN;
        if (std::fseek(f.get(), 0, SEEK_END) != 0) return TEXT_ENCODING_UNKNOWN;
        const long size = std::ftell(f.get());
        if (size < 3 || std::fseek(f.get(), 0, SEEK_SET) != 0) return TEXT_ENCODING_UNKNOWN;
        if (std::fread(head, 1, 3, f.get()) != 3) return TEXT_ENCODING_UNKNOWN;
    }
    if (const int marked = EncodingOfHead(head)) return marked;
    return IsUtf8File(path) ? TEXT_ENCODING_UTF8 : TEXT_ENCODING_ANSI;
}
