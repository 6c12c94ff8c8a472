#pragma once

#include <cstdint>
#include <string>
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

// A number field of any length, taken in pieces, reduced to a short token
// that ParseCoordinate and ParseCount read as the same value, or as not a
// number when the field is none: its sign, its first SignificantDigits
// significant digits, one nonzero digit standing for any nonzero digits
// after them, and the exponent that places them. No decimal of that many
// digits lies on or between a double's rounding boundaries other than
// where the field itself does, so the value rounds as the whole field
// would. Memory stays fixed whatever the field's length; exponents beyond
// a billion are held at a billion, far past any float or double.
class LongNumber {
public:
    static constexpr std::size_t SignificantDigits = 800;

    void Clear();
    void Append(std::string_view piece);
    // The short token for what was appended since Clear.
    std::string_view Token();

private:
    enum class Part : std::uint8_t { Start, Integer, Fraction, ExponentMark, ExponentSign, Exponent, Invalid };

    void Digit(char c);

    Part part_ = Part::Start;
    bool negative_ = false;
    bool anyDigit_ = false;
    bool significant_ = false;
    bool moreNonzero_ = false;
    bool exponentNegative_ = false;
    std::int64_t magnitude_ = 0;  // the value is 0.digits x 10^(magnitude + exponent)
    std::int64_t exponent_ = 0;
    std::string digits_;
    std::string token_;
};

}  // namespace zarn
