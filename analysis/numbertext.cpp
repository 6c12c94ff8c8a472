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

// |value| as mantissa / 2^shift, shift at least 1 for |value| below 2^52.
struct Binary {
    std::uint64_t mantissa;
    unsigned shift;
};

Binary Decompose(double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52U) & 0x7FFU);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52U) - 1U);
    return {biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52U),
            static_cast<unsigned>(1075 - std::max(biased, 1))};
}

// |value| times `power` (at most 1000) rounded to a whole number, an exact
// tie to the even one, for |value| below 1e11: the product stays below 2^63
// and shift above 15.
std::uint64_t ScaledNarrow(double value, std::uint64_t power)
{
    const Binary b = Decompose(value);
    if (b.shift >= 64) {
        return 0;  // below 2^-11: under half a thousandth
    }
    const std::uint64_t product = b.mantissa * power;
    const std::uint64_t truncated = product >> b.shift;
    const std::uint64_t rest = product & ((std::uint64_t{1} << b.shift) - 1U);
    const std::uint64_t half = std::uint64_t{1} << (b.shift - 1U);
    return truncated + static_cast<std::uint64_t>(rest > half || (rest == half && (truncated & 1U) != 0));
}

}  // namespace

bool ScaledWhole(double value, int decimals, std::uint64_t& whole)
{
    static constexpr std::uint64_t Powers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                               1000000000};
    // With up to three decimals the mantissa times the power stays below
    // 2^63; with more it takes 128 bits.
    if (decimals >= 0 && decimals <= 3 && std::fabs(value) < 1e11) {
        whole = ScaledNarrow(value, Powers[decimals]);
        return true;
    }
#ifdef __SIZEOF_INT128__
    if (decimals < 0 || decimals > 9 || !(std::fabs(value) < 1e9)) {
        return false;
    }
    const Binary b = Decompose(value);  // shift above 22 below 1e9
    if (b.shift >= 128) {
        whole = 0;  // below 2^-75: under half a unit of the ninth decimal
        return true;
    }
    __extension__ typedef unsigned __int128 Wide;
    const Wide product = static_cast<Wide>(b.mantissa) * Powers[decimals];
    const auto truncated = static_cast<std::uint64_t>(product >> b.shift);
    const Wide rest = product & ((Wide{1} << b.shift) - 1U);
    const Wide half = Wide{1} << (b.shift - 1U);
    whole = truncated + static_cast<std::uint64_t>(rest > half || (rest == half && (truncated & 1U) != 0));
    return true;
#else
    return false;
#endif
}

void AppendNumber(std::string& out, double value, std::string_view decimalSeparator)
{
    // Below 1e11 the three-decimal text has at most 14 significant digits, so
    // rounding it and writing it with 15 digits gives the same digits: the
    // thousandths in whole numbers, less the fraction's trailing zeros (and
    // "-0" is "0"), built in one buffer and appended at once.
    if (std::fabs(value) < 1e11 && decimalSeparator.size() <= 4) {
        const std::uint64_t thousandths = ScaledNarrow(value, 1000);
        if (thousandths == 0) {
            out.push_back('0');
            return;
        }
        char buf[40];
        char* p = buf;
        if (std::signbit(value)) {
            *p++ = '-';
        }
        p = std::to_chars(p, buf + 24, thousandths / 1000U).ptr;
        auto fraction = static_cast<unsigned>(thousandths % 1000U);
        if (fraction != 0) {
            p = std::copy(decimalSeparator.begin(), decimalSeparator.end(), p);
            p[0] = static_cast<char>('0' + fraction / 100U);
            p[1] = static_cast<char>('0' + fraction / 10U % 10U);
            p[2] = static_cast<char>('0' + fraction % 10U);
            p += 3;
            for (; fraction % 10U == 0; fraction /= 10U) {
                --p;
            }
        }
        out.append(buf, p);
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
