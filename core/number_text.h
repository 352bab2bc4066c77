// Decimal numbers read from text as the C library reads them in the C
// locale, whatever the process locale: an optional sign, digits with an
// optional fraction, and an exponent only when digits follow it. No
// hexadecimal numbers, no "inf" or "nan". Integers likewise, held within the
// 32-bit range. For the readers of text formats.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// How ScanDecimalOrOverflow ended.
enum class DecimalScan { kNone, kNumber, kOverflow };

// Reads the number at text[i]; i moves past it. kOverflow when the number is
// too large for a double: value is then the infinity of its sign (for
// readers that refuse such a value rather than take it as missing), and i
// moves past it too. A number too small for a double reads as a zero of its
// sign. kNone, with i and value unchanged, when there is no number there.
namespace number_text_detail {

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace number_text_detail

template <class Char>
DecimalScan ScanDecimalOrOverflow(std::basic_string_view<Char> text, std::size_t& i, double& value) {
    const Char* const at = text.data();
    const std::size_t size = text.size();
    const auto isDigit = [](Char c) { return c >= Char('0') && c <= Char('9'); };
    std::size_t j = i;
    bool negative = false;
    if (j < size && (at[j] == Char('+') || at[j] == Char('-'))) {
        negative = at[j] == Char('-');
        ++j;
    }
    const std::size_t begin = j;  // the first digit or the point
    const auto digitAt = [&](std::size_t k) { return static_cast<unsigned>(at[k] - Char('0')) <= 9u; };
    // The digits after the leading zeros as one integer (exact while there
    // are at most 19 of them; only 15 are ever used), and how many digits
    // stand after the point.
    uint64_t mantissa = 0;
    std::size_t significant = 0;
    std::size_t fraction = 0;
    while (j < size && at[j] == Char('0')) ++j;
    std::size_t from = j;
    for (; j < size && digitAt(j); ++j) mantissa = mantissa * 10 + static_cast<unsigned>(at[j] - Char('0'));
    significant = j - from;
    std::size_t digits = j - begin;
    if (j < size && at[j] == Char('.')) {
        const std::size_t first = ++j;
        if (significant == 0) {
            while (j < size && at[j] == Char('0')) ++j;
        }
        from = j;
        for (; j < size && digitAt(j); ++j) mantissa = mantissa * 10 + static_cast<unsigned>(at[j] - Char('0'));
        significant += j - from;
        fraction = j - first;
        digits += fraction;
    }
    if (digits == 0) return DecimalScan::kNone;
    const std::size_t mantissaEnd = j;
    long long power = 0;
    if (j < size && (at[j] == Char('e') || at[j] == Char('E'))) {
        std::size_t k = j + 1;
        bool down = false;
        if (k < size && (at[k] == Char('+') || at[k] == Char('-'))) down = at[k++] == Char('-');
        if (k < size && isDigit(at[k])) {
            for (; k < size && isDigit(at[k]); ++k) {
                if (power < 1000000) power = power * 10 + (at[k] - Char('0'));
            }
            if (down) power = -power;
            j = k;
        }
    }
    double v = 0.0;
    // Most numbers have few digits: digits and power of ten are then both
    // exact doubles, and one division or product rounds correctly, as the
    // full conversion would.
    const long long scale = power - static_cast<long long>(fraction);
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        v = static_cast<double>(mantissa);
        v = scale < 0 ? v / number_text_detail::kExactPowers[-scale] : v * number_text_detail::kExactPowers[scale];
        value = negative ? -v : v;
        i = j;
        return DecimalScan::kNumber;
    }
    // The exponent is copied as written: its value above is held at a
    // million.
    std::string number;
    if (negative) number += '-';
    for (std::size_t k = begin; k < j; ++k) number += static_cast<char>(at[k]);
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // The power of ten of the first non-zero digit, before the exponent,
        // tells a number too large from one too small.
        long long leading = 0;
        bool nonZero = false;
        bool point = false;
        for (std::size_t k = begin; k < mantissaEnd; ++k) {
            if (at[k] == Char('.')) {
                point = true;
            } else if (nonZero) {
                if (!point) ++leading;
            } else {
                // Each fraction digit up to the first non-zero one lowers it.
                if (point) --leading;
                if (at[k] != Char('0')) nonZero = true;
            }
        }
        if (leading + power < 0) {
            v = negative ? -0.0 : 0.0;
        } else {
            value = negative ? -HUGE_VAL : HUGE_VAL;
            i = j;
            return DecimalScan::kOverflow;
        }
    } else if (r.ec != std::errc() || !std::isfinite(v)) {
        return DecimalScan::kNone;
    }
    value = v;
    i = j;
    return DecimalScan::kNumber;
}

// Reads the number at text[i]; i moves past it. False, with i unchanged,
// when there is no number there or its value is not finite (too large for a
// double); a value too small for a double reads as zero.
template <class Char>
bool ScanDecimal(std::basic_string_view<Char> text, std::size_t& i, double& value) {
    std::size_t j = i;
    double v = 0.0;
    if (ScanDecimalOrOverflow(text, j, v) != DecimalScan::kNumber) return false;
    value = v;
    i = j;
    return true;
}

// Reads the integer at text[i] (an optional sign, then digits); i moves past
// it. A value beyond the 32-bit range is held at the nearest end of it. False,
// with i unchanged, when no digit follows.
template <class Char>
bool ScanInt32(std::basic_string_view<Char> text, std::size_t& i, std::int32_t& value) {
    std::size_t j = i;
    bool negative = false;
    if (j < text.size() && (text[j] == Char('+') || text[j] == Char('-'))) negative = text[j++] == Char('-');
    const std::size_t first = j;
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    std::int64_t v = 0;
    for (; j < text.size() && text[j] >= Char('0') && text[j] <= Char('9'); ++j)
        v = std::min<std::int64_t>(v * 10 + (text[j] - Char('0')), kLimit);
    if (j == first) return false;
    value = static_cast<std::int32_t>(negative ? -v : std::min<std::int64_t>(v, INT32_MAX));
    i = j;
    return true;
}

// The number at the start of text after white space (blank, tab, line feed,
// carriage return, vertical tab, form feed); false when there is none.
template <class Char>
bool ReadLeadingDecimal(std::basic_string_view<Char> text, double& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == Char(' ') || (text[i] >= Char('\t') && text[i] <= Char('\r')))) ++i;
    return ScanDecimal(text, i, value);
}

// The integer at the start of text after the same white space, as ScanInt32
// reads it; false when there is none.
template <class Char>
bool ReadLeadingInt32(std::basic_string_view<Char> text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == Char(' ') || (text[i] >= Char('\t') && text[i] <= Char('\r')))) ++i;
    return ScanInt32(text, i, value);
}
