#include "bnanumber.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zarn {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Checks the whole token against the number grammar. std::from_chars alone
// would also take "inf", "nan" and a number followed by junk.
bool IsNumber(std::string_view t)
{
    std::size_t i = 0;
    const std::size_t n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < n && IsDigit(t[i])) {
        ++i;
        ++digits;
    }
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && IsDigit(t[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) {
            ++i;
        }
        std::size_t expDigits = 0;
        while (i < n && IsDigit(t[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) {
            return false;
        }
    }
    return i == n;
}

// For a valid number that from_chars found out of range: whether it is too
// large (rather than too small), judged by the decimal position of its first
// significant digit.
bool Overflows(std::string_view t)
{
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    std::int64_t magnitude = 0;  // position of the first significant digit
    bool seenSignificant = false;
    bool afterPoint = false;
    for (; i < t.size() && t[i] != 'e' && t[i] != 'E'; ++i) {
        if (t[i] == '.') {
            afterPoint = true;
        } else if (!seenSignificant) {
            if (t[i] != '0') {
                seenSignificant = true;
                if (!afterPoint) {
                    magnitude = 1;
                }
            } else if (afterPoint) {
                --magnitude;
            }
        } else if (!afterPoint) {
            ++magnitude;
        }
    }
    if (!seenSignificant) {
        return false;
    }
    std::int64_t exponent = 0;
    if (i < t.size()) {
        ++i;
        bool negative = false;
        if (t[i] == '+' || t[i] == '-') {
            negative = t[i] == '-';
            ++i;
        }
        for (; i < t.size(); ++i) {
            if (exponent < 1'000'000'000) {
                exponent = exponent * 10 + (t[i] - '0');
            }
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    return magnitude + exponent > 0;
}

template <typename T>
NumberStatus Parse(std::string_view token, T& value)
{
    if (!IsNumber(token)) {
        value = 0;
        return NumberStatus::NotANumber;
    }
    const char* first = token.data();
    if (*first == '+') {
        ++first;
    }
    const auto [ptr, ec] = std::from_chars(first, token.data() + token.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (Overflows(token)) {
            return NumberStatus::TooLarge;
        }
        value = 0;
    }
    return NumberStatus::Ok;
}

}  // namespace

NumberStatus ParseCoordinate(std::string_view token, float& value)
{
    return Parse(token, value);
}

NumberStatus ParseCount(std::string_view token, std::int32_t& value)
{
    double d = 0.0;
    const NumberStatus status = Parse(token, d);
    value = 0;
    if (status != NumberStatus::Ok) {
        return status;
    }
    const double r = std::nearbyint(d);  // ties to even in the default rounding mode
    if (r < -2147483648.0 || r > 2147483647.0) {
        return NumberStatus::TooLarge;
    }
    value = static_cast<std::int32_t>(r);
    return NumberStatus::Ok;
}

}  // namespace zarn
