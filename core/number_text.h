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
    const auto digit = [&](std::size_t k) { return k < text.size() && text[k] >= Char('0') && text[k] <= Char('9'); };
    std::size_t j = i;
    bool negative = false;
    if (j < text.size() && (text[j] == Char('+') || text[j] == Char('-'))) {
        negative = text[j] == Char('-');
        ++j;
    }
    const std::size_t begin = j;  // the first digit or the point
    std::size_t digits = 0;
    // The power of ten of the first non-zero digit, before the exponent: it
    // tells a number too large from one too small when neither fits.
    long long leading = 0;
    bool nonZero = false;
    // The digits as one integer while it stays exact, and how many of them
    // stand after the point.
    uint64_t mantissa = 0;
    std::size_t significant = 0;
    std::size_t fraction = 0;
    const auto take = [&](Char c) {
        if (nonZero || c != Char('0')) {
            ++significant;
            if (significant <= 19) mantissa = mantissa * 10 + static_cast<uint64_t>(c - Char('0'));
        }
    };
    for (; digit(j); ++j, ++digits) {
        take(text[j]);
        if (nonZero) ++leading;
        else if (text[j] != Char('0')) nonZero = true;
    }
    if (j < text.size() && text[j] == Char('.')) {
        for (++j; digit(j); ++j, ++digits, ++fraction) {
            take(text[j]);
            if (!nonZero) {
                --leading;
                if (text[j] != Char('0')) nonZero = true;
            }
        }
    }
    if (digits == 0) return DecimalScan::kNone;
    const std::size_t mantissaEnd = j;
    long long power = 0;
    if (j < text.size() && (text[j] == Char('e') || text[j] == Char('E'))) {
        std::size_t k = j + 1;
        bool down = false;
        if (k < text.size() && (text[k] == Char('+') || text[k] == Char('-'))) down = text[k++] == Char('-');
        if (digit(k)) {
            for (; digit(k); ++k) {
                if (power < 1000000) power = power * 10 + (text[k] - Char('0'));
            }
            if (down) power = -power;
            j = k;
        }
    }
    double v = 0.0;
    // Most numbers have few digits and no exponent: digits and power of ten
    // are then both exact doubles, and one division or product rounds
    // correctly, as the full conversion would.
    const long long scale = power - static_cast<long long>(fraction);
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        v = static_cast<double>(mantissa);
        v = scale < 0 ? v / number_text_detail::kExactPowers[-scale] : v * number_text_detail::kExactPowers[scale];
        value = negative ? -v : v;
        i = j;
        return DecimalScan::kNumber;
    }
    std::string number;
    if (negative) number += '-';
    for (std::size_t k = begin; k < mantissaEnd; ++k) number += static_cast<char>(text[k]);
    // The exponent as written: its value above is held at a million.
    for (std::size_t k = mantissaEnd; k < j; ++k) number += static_cast<char>(text[k]);
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
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
