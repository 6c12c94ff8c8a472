#pragma once

#include <cstdint>
#include <string_view>

namespace zarn {

// Number fields of a BNA file. A number is an optional sign, digits with an
// optional point (or a point and digits), and an optional exponent; the
// decimal separator is always a point, whatever the user's locale. Anything
// else ("abc", "nan", "inf", "0x10", an empty field) is not a number and reads
// as 0, which is no error.

enum class NumberStatus : std::uint8_t {
    Ok,
    NotANumber,  // reads as 0
    TooLarge,    // beyond the target type: a run-time error for the caller
};

// Reads a coordinate as a 32-bit float, correctly rounded. Values too small
// for a float become 0.
NumberStatus ParseCoordinate(std::string_view token, float& value);

// The same coordinate both as that float and as a correctly rounded double
// (the value as written, for figures that need the file's full precision).
// TooLarge refers to the float, as above.
NumberStatus ParseCoordinate(std::string_view token, float& value, double& exact);

// Reads a point count: the number rounded to the nearest whole number (a half
// to the even neighbour, so 2.5 gives 2) as a 32-bit signed integer.
NumberStatus ParseCount(std::string_view token, std::int32_t& value);

}  // namespace zarn
