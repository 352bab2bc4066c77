// Decimal numbers read from text as the C library reads them in the C
// locale, whatever the process locale: an optional sign, digits with an
// optional fraction, and an exponent only when digits follow it. No
// hexadecimal numbers, no "inf" or "nan". For the readers of text formats.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

// Reads the number at text[i]; i moves past it. False, with i unchanged,
// when there is no number there or its value is not finite (too large for a
// double).
template <class Char>
bool ScanDecimal(std::basic_string_view<Char> text, std::size_t& i, double& value) {
    const auto digit = [&](std::size_t k) { return k < text.size() && text[k] >= Char('0') && text[k] <= Char('9'); };
    std::size_t j = i;
    std::string number;
    if (j < text.size() && (text[j] == Char('+') || text[j] == Char('-'))) {
        if (text[j] == Char('-')) number += '-';
        ++j;
    }
    std::size_t digits = 0;
    for (; digit(j); ++j, ++digits) number += static_cast<char>(text[j]);
    if (j < text.size() && text[j] == Char('.')) {
        number += '.';
        for (++j; digit(j); ++j, ++digits) number += static_cast<char>(text[j]);
    }
    if (digits == 0) return false;
    if (j < text.size() && (text[j] == Char('e') || text[j] == Char('E'))) {
        std::size_t k = j + 1;
        std::string exponent = "e";
        if (k < text.size() && (text[k] == Char('+') || text[k] == Char('-'))) exponent += static_cast<char>(text[k++]);
        if (digit(k)) {
            for (; digit(k); ++k) exponent += static_cast<char>(text[k]);
            number += exponent;
            j = k;
        }
    }
    double v = 0.0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v)) return false;
    value = v;
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
