#include "numbertext.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zarn {

double RoundTo3(double value)
{
    if (!std::isfinite(value)) {
        return value;
    }
    // to_chars with a precision rounds the exact binary value, ties to even;
    // reading the text back gives the nearest double to the rounded decimal.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    double rounded = 0.0;
    std::from_chars(buf, res.ptr, rounded);
    return rounded == 0.0 ? 0.0 : rounded;
}

namespace {

// |value| x 1000 rounded to a whole number, an exact tie to the even one,
// from the binary value itself: mantissa x 2^exponent, the mantissa times
// 1000 below 2^63, shifted right with the bits shifted out deciding. For
// |value| < 2^37.
std::uint64_t Thousandths(double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52U) & 0x7FFU);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52U) - 1U);
    const std::uint64_t mantissa = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52U);
    const int shift = 1075 - std::max(biased, 1);  // value = mantissa / 2^shift, shift > 15
    if (shift >= 64) {
        return 0;  // below 2^-11: under a half thousandth
    }
    const std::uint64_t product = mantissa * 1000U;
    const std::uint64_t whole = product >> static_cast<unsigned>(shift);
    const std::uint64_t rest = product & ((std::uint64_t{1} << static_cast<unsigned>(shift)) - 1U);
    const std::uint64_t half = std::uint64_t{1} << static_cast<unsigned>(shift - 1);
    return whole + static_cast<std::uint64_t>(rest > half || (rest == half && (whole & 1U) != 0));
}

}  // namespace

void AppendNumber(std::string& out, double value, std::string_view decimalSeparator)
{
    // Below 1e11 the three-decimal text has at most 14 significant digits, so
    // rounding it and writing it with 15 digits gives the same digits: the
    // thousandths in whole numbers, less the fraction's trailing zeros (and
    // "-0" is "0").
    if (std::fabs(value) < 1e11) {
        const std::uint64_t thousandths = Thousandths(value);
        if (thousandths == 0) {
            out.push_back('0');
            return;
        }
        char buf[32];
        char* p = buf;
        if (std::signbit(value)) {
            *p++ = '-';
        }
        p = std::to_chars(p, buf + sizeof buf, thousandths / 1000U).ptr;
        out.append(buf, p);
        unsigned fraction = static_cast<unsigned>(thousandths % 1000U);
        if (fraction != 0) {
            out.append(decimalSeparator);
            char digits[3] = {static_cast<char>('0' + fraction / 100U), static_cast<char>('0' + fraction / 10U % 10U),
                              static_cast<char>('0' + fraction % 10U)};
            int n = 3;
            while (fraction % 10U == 0) {
                fraction /= 10U;
                --n;
            }
            out.append(digits, static_cast<std::size_t>(n));
        }
        return;
    }
    const double r = RoundTo3(value);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::general, 15);
    for (const char* p = buf; p != res.ptr; ++p) {
        switch (*p) {
        case '.':
            out.append(decimalSeparator);
            break;
        case 'e':
            out.push_back('E');
            break;
        default:
            out.push_back(*p);
        }
    }
}

std::string NumberText(double value, std::string_view decimalSeparator)
{
    std::string out;
    AppendNumber(out, value, decimalSeparator);
    return out;
}

}  // namespace zarn
