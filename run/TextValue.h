// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

// The numeric value of an option text: its leading number (sign, decimal
// point and exponent allowed, the point always "."), with blanks, tabs and
// line breaks anywhere ignored; "&H" and "&O" prefixes read hexadecimal and
// octal integers. Empty or non-numeric text reads 0.
double TextValue(const std::string& text);

// Rounds to the nearest integer, halves to the even neighbour, and clamps
// to the range of the target type so that absurd texts cannot overflow.
std::int32_t RoundToInt32(double value);
std::int16_t RoundToInt16(double value);
