#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

// Number text of every reported value: rounded to three decimals (an exact
// tie in the binary value goes to the even digit), then written with at most
// 15 significant digits, without trailing zeros, grouping, plus sign or
// leading blank. A value that rounds to zero is written "0", never "-0".
// Values of 1e15 and above are written in exponent form ("1.5E+15").

// The rounded value itself.
double RoundTo3(double value);

// Appends the number text with `decimalSeparator` in place of the point:
// the result files always use ".", the on-screen lines the user's locale.
void AppendNumber(std::string& out, double value, std::string_view decimalSeparator = ".");

std::string NumberText(double value, std::string_view decimalSeparator = ".");

// |value| times 10^decimals rounded to a whole number as the exact binary
// value rounds (an exact tie to the even one), the digits that
// std::to_chars writes with `decimals` fixed decimals; false, with `whole`
// unset, outside the range this is done in: up to three decimals below
// 1e11, up to nine below 1e9.
bool ScaledWhole(double value, int decimals, std::uint64_t& whole);

}  // namespace zarn
