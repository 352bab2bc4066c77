#include "morvik/afx/format_engine.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>
#include <vector>

#include "morvik/afx/afx_locale.h"
#include "morvik/win32/windows.h"

namespace afx_detail {
namespace {

// Field widths and numeric precisions above this are clamped, so a hostile
// format cannot ask for gigabytes of padding.
constexpr int kMaxField = 1 << 20;

// Wrapping the list lets helpers take it by reference portably.
struct ArgList {
    va_list ap;
};

enum class Size { None, hh, h, l, ll, L, w, I, I32, I64, z, j, t };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // -1: none given
    Size size = Size::None;
    char conv = 0;
};

template <class Ch>
char Ascii(Ch c) {
    auto v = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Ch>>(c));
    return v < 0x80 ? static_cast<char>(v) : '\x7f';
}

template <class Ch>
void AppendAscii(std::basic_string<Ch>& out, const char* s, size_t n) {
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<Ch>(static_cast<unsigned char>(s[i])));
}

// Appends n characters of s right- or left-justified in the field width.
template <class Ch>
void AppendField(std::basic_string<Ch>& out, const Ch* s, size_t n, const Directive& sp) {
    size_t pad = static_cast<size_t>(sp.width) > n ? static_cast<size_t>(sp.width) - n : 0;
    if (!sp.left) out.append(pad, static_cast<Ch>(' '));
    out.append(s, n);
    if (sp.left) out.append(pad, static_cast<Ch>(' '));
}

size_t BoundedLength(const char* s, int precision) {
    return precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : strlen(s);
}
size_t BoundedLength(const wchar_t* s, int precision) {
    return precision >= 0 ? wcsnlen(s, static_cast<size_t>(precision)) : wcslen(s);
}

// Conversions between the argument's character width and the output's.
std::wstring ToOut(const std::string& s, std::wstring*) { return AnsiToWide(s); }
std::string ToOut(const std::wstring& s, std::string*) { return WideToAnsi(s); }

// Whether a %c/%s argument is wide: an explicit h or l/w decides; otherwise
// the lower-case letter matches the format's own width and the upper-case
// letter takes the other one (MSVC's rule).
bool WideArgument(const Directive& sp, bool wideFormat) {
    if (sp.size == Size::h) return false;
    if (sp.size == Size::l || sp.size == Size::w) return true;
    bool upper = sp.conv == 'S' || sp.conv == 'C';
    return upper ? !wideFormat : wideFormat;
}

template <class Ch>
void AppendText(std::basic_string<Ch>& out, const Directive& sp, ArgList& args) {
    constexpr bool wideFormat = std::is_same_v<Ch, wchar_t>;
    bool wideArg = WideArgument(sp, wideFormat);
    static constexpr char kNull[] = "(null)";
    if (sp.conv == 'c' || sp.conv == 'C') {
        int v = va_arg(args.ap, int);
        Directive one = sp;
        one.precision = -1;
        if (wideArg == wideFormat) {
            Ch c = static_cast<Ch>(v);
            AppendField(out, &c, 1, one);
        } else if constexpr (wideFormat) {
            std::wstring w = ToOut(std::string(1, static_cast<char>(v)), static_cast<std::wstring*>(nullptr));
            AppendField(out, w.c_str(), w.size(), one);
        } else {
            std::string a = ToOut(std::wstring(1, static_cast<wchar_t>(v)), static_cast<std::string*>(nullptr));
            AppendField(out, a.c_str(), a.size(), one);
        }
        return;
    }
    // Strings: the precision limits how much of the argument is read, so an
    // unterminated buffer with a precision is read only that far.
    if (wideArg) {
        const wchar_t* p = va_arg(args.ap, const wchar_t*);
        if (!p) {
            std::basic_string<Ch> n;
            AppendAscii(n, kNull, sizeof(kNull) - 1);
            AppendField(out, n.c_str(), BoundedLength(kNull, sp.precision), sp);
            return;
        }
        size_t len = BoundedLength(p, sp.precision);
        if constexpr (wideFormat) {
            AppendField(out, p, len, sp);
        } else {
            std::string a = ToOut(std::wstring(p, len), static_cast<std::string*>(nullptr));
            Directive whole = sp;
            whole.precision = -1;
            AppendField(out, a.c_str(), a.size(), whole);
        }
    } else {
        const char* p = va_arg(args.ap, const char*);
        if (!p) p = kNull;
        size_t len = BoundedLength(p, sp.precision);
        if constexpr (wideFormat) {
            std::wstring w = ToOut(std::string(p, len), static_cast<std::wstring*>(nullptr));
            Directive whole = sp;
            whole.precision = -1;
            AppendField(out, w.c_str(), w.size(), whole);
        } else {
            AppendField(out, p, len, sp);
        }
    }
}

long long SignedArg(ArgList& args, Size size) {
    switch (size) {
        case Size::hh: return static_cast<signed char>(va_arg(args.ap, int));
        case Size::h: return static_cast<short>(va_arg(args.ap, int));
        case Size::ll:
        case Size::I64: return va_arg(args.ap, long long);
        case Size::I:
        case Size::z:
        case Size::t: return static_cast<long long>(va_arg(args.ap, intptr_t));
        case Size::j: return static_cast<long long>(va_arg(args.ap, intmax_t));
        default: return va_arg(args.ap, int);  // "l" is 32-bit, as on Windows
    }
}

unsigned long long UnsignedArg(ArgList& args, Size size) {
    switch (size) {
        case Size::hh: return static_cast<unsigned char>(va_arg(args.ap, unsigned int));
        case Size::h: return static_cast<unsigned short>(va_arg(args.ap, unsigned int));
        case Size::ll:
        case Size::I64: return va_arg(args.ap, unsigned long long);
        case Size::I:
        case Size::z:
        case Size::t: return static_cast<unsigned long long>(va_arg(args.ap, uintptr_t));
        case Size::j: return static_cast<unsigned long long>(va_arg(args.ap, uintmax_t));
        default: return va_arg(args.ap, unsigned int);
    }
}

// Builds the narrow printf directive for a numeric conversion: flags, width
// and precision as given, with the argument widened to long long or double.
std::string PrintfDirective(const Directive& sp, const char* lengthModifier) {
    std::string d = "%";
    if (sp.left) d += '-';
    if (sp.plus) d += '+';
    if (sp.space) d += ' ';
    if (sp.alt) d += '#';
    if (sp.zero) d += '0';
    if (sp.width > 0) d += std::to_string(sp.width);
    if (sp.precision >= 0) d += '.' + std::to_string(std::min(sp.precision, kMaxField));
    d += lengthModifier;
    d += sp.conv;
    return d;
}

template <class T>
void AppendNumber(std::string& narrow, const std::string& directive, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        narrow.assign(small, static_cast<size_t>(n));
        return;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    n = std::snprintf(big.data(), big.size(), directive.c_str(), value);
    if (n > 0) narrow.assign(big.data(), static_cast<size_t>(n));
}

// Parses one directive after '%'. Returns the position after it, or null
// when the directive is incomplete or unknown.
template <class Ch>
const Ch* ParseDirective(const Ch* p, Directive& sp, ArgList& args) {
    for (;; ++p) {
        char c = Ascii(*p);
        if (c == '-') sp.left = true;
        else if (c == '+') sp.plus = true;
        else if (c == ' ') sp.space = true;
        else if (c == '#') sp.alt = true;
        else if (c == '0') sp.zero = true;
        else break;
    }
    if (Ascii(*p) == '*') {
        int w = va_arg(args.ap, int);
        if (w < 0) {
            sp.left = true;
            w = w == INT32_MIN ? kMaxField : -w;
        }
        sp.width = std::min(w, kMaxField);
        ++p;
    } else {
        while (Ascii(*p) >= '0' && Ascii(*p) <= '9') {
            sp.width = std::min(sp.width * 10 + (Ascii(*p) - '0'), kMaxField);
            ++p;
        }
    }
    if (Ascii(*p) == '.') {
        ++p;
        sp.precision = 0;
        if (Ascii(*p) == '*') {
            int v = va_arg(args.ap, int);
            sp.precision = v < 0 ? -1 : v;
            ++p;
        } else {
            while (Ascii(*p) >= '0' && Ascii(*p) <= '9') {
                long long v = static_cast<long long>(sp.precision) * 10 + (Ascii(*p) - '0');
                sp.precision = static_cast<int>(std::min<long long>(v, INT32_MAX));
                ++p;
            }
        }
    }
    switch (Ascii(*p)) {
        case 'h':
            ++p;
            if (Ascii(*p) == 'h') {
                sp.size = Size::hh;
                ++p;
            } else {
                sp.size = Size::h;
            }
            break;
        case 'l':
            ++p;
            if (Ascii(*p) == 'l') {
                sp.size = Size::ll;
                ++p;
            } else {
                sp.size = Size::l;
            }
            break;
        case 'L': sp.size = Size::L; ++p; break;
        case 'w': sp.size = Size::w; ++p; break;
        case 'z': sp.size = Size::z; ++p; break;
        case 'j': sp.size = Size::j; ++p; break;
        case 't': sp.size = Size::t; ++p; break;
        case 'q': sp.size = Size::ll; ++p; break;
        case 'I':
            ++p;
            if (Ascii(p[0]) == '6' && Ascii(p[1]) == '4') {
                sp.size = Size::I64;
                p += 2;
            } else if (Ascii(p[0]) == '3' && Ascii(p[1]) == '2') {
                sp.size = Size::I32;
                p += 2;
            } else {
                sp.size = Size::I;
            }
            break;
        default: break;
    }
    sp.conv = Ascii(*p);
    switch (sp.conv) {
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        case 'c': case 'C': case 's': case 'S': case 'p': case 'n': case '%':
            return p + 1;
        default:
            return nullptr;
    }
}

template <class Ch>
void Engine(std::basic_string<Ch>& out, const Ch* fmt, ArgList& args) {
    ScopedCLocale cLocale;
    std::string narrow;
    const Ch* p = fmt;
    while (*p) {
        if (*p != static_cast<Ch>('%')) {
            const Ch* q = p;
            while (*q && *q != static_cast<Ch>('%')) ++q;
            out.append(p, static_cast<size_t>(q - p));
            p = q;
            continue;
        }
        const Ch* start = p;
        Directive sp;
        const Ch* next = ParseDirective(p + 1, sp, args);
        if (!next) {
            // Unknown or cut-off directive: keep its text as it stands.
            const Ch* q = p + 1;
            while (*q && *q != static_cast<Ch>('%')) ++q;
            out.append(start, static_cast<size_t>(q - start));
            p = q;
            continue;
        }
        p = next;
        switch (sp.conv) {
            case '%':
                out.push_back(static_cast<Ch>('%'));
                break;
            case 'c': case 'C': case 's': case 'S':
                AppendText(out, sp, args);
                break;
            case 'n':
                (void)va_arg(args.ap, void*);  // never written to
                break;
            case 'p': {
                auto v = reinterpret_cast<uintptr_t>(va_arg(args.ap, void*));
                char buf[2 * sizeof(uintptr_t) + 1];
                int n = std::snprintf(buf, sizeof buf, "%0*llX", static_cast<int>(2 * sizeof(uintptr_t)),
                                      static_cast<unsigned long long>(v));
                std::basic_string<Ch> w;
                AppendAscii(w, buf, static_cast<size_t>(n));
                AppendField(out, w.c_str(), w.size(), sp);
                break;
            }
            case 'd': case 'i':
                AppendNumber(narrow, PrintfDirective(sp, "ll"), SignedArg(args, sp.size));
                AppendAscii(out, narrow.data(), narrow.size());
                break;
            case 'u': case 'o': case 'x': case 'X':
                AppendNumber(narrow, PrintfDirective(sp, "ll"), UnsignedArg(args, sp.size));
                AppendAscii(out, narrow.data(), narrow.size());
                break;
            default:  // floating conversions; "L" still means double
                AppendNumber(narrow, PrintfDirective(sp, ""), va_arg(args.ap, double));
                AppendAscii(out, narrow.data(), narrow.size());
                break;
        }
        narrow.clear();
    }
}

}  // namespace

void FormatAppend(std::wstring& out, const wchar_t* format, va_list args) {
    if (!format) return;
    ArgList a;
    va_copy(a.ap, args);
    Engine(out, format, a);
    va_end(a.ap);
}

void FormatAppend(std::string& out, const char* format, va_list args) {
    if (!format) return;
    ArgList a;
    va_copy(a.ap, args);
    Engine(out, format, a);
    va_end(a.ap);
}

}  // namespace afx_detail
