// SPDX-License-Identifier: GPL-2.0-or-later
#include "TextValue.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <locale.h>

namespace {

bool IsIgnored(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int DigitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

double RadixValue(const std::string& s, std::size_t from, int base)
{
    double value = 0;
    for (std::size_t i = from; i < s.size(); ++i) {
        const int d = DigitValue(s[i], base);
        if (d < 0)
            break;
        value = value * base + d;
    }
    return value;
}

template <typename Int>
Int RoundTo(double value)
{
    if (std::isnan(value))
        return 0;
    const double r = std::nearbyint(value);
    if (r <= static_cast<double>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (r >= static_cast<double>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(r);
}

} // namespace

double TextValue(const std::string& text)
{
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!IsIgnored(c))
            s.push_back(c);

    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h')
            return RadixValue(s, 2, 16);
        if (s[1] == 'O' || s[1] == 'o')
            return RadixValue(s, 2, 8);
        return 0;
    }

    // Take the longest prefix that is a decimal number; the exponent letter D
    // is accepted beside E, as the option boxes always have.
    std::string number;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number.push_back(s[i++]);
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) {
        number.push_back(s[i++]);
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        number.push_back(s[i++]);
        while (i < s.size() && IsDigit(s[i])) {
            number.push_back(s[i++]);
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent.push_back(s[j++]);
        if (j < s.size() && IsDigit(s[j])) {
            while (j < s.size() && IsDigit(s[j]))
                exponent.push_back(s[j++]);
            number += exponent;
        }
    }

    // The prefix is validated above, so the C library only converts digits;
    // the "C" locale keeps the point a full stop whatever the user's locale.
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    return ::strtod_l(number.c_str(), nullptr, cLocale);
}

std::int32_t RoundToInt32(double value)
{
    return RoundTo<std::int32_t>(value);
}

std::int16_t RoundToInt16(double value)
{
    return RoundTo<std::int16_t>(value);
}
