#include "bnanumber.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace zarn {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Far beyond the exponent of any float or double, and well within int64.
constexpr std::int64_t ExponentLimit = 1'000'000'000;

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

// The common case in one pass: a plain decimal ("-12.345678") of at most 15
// significant digits and 22 decimals. Its digits and its power of ten are
// then both exact doubles, and one division rounds correctly (Clinger's fast
// path). False for anything else (an exponent, more digits, not a number):
// the general path decides.
bool ParsePlainDecimal(std::string_view t, double& value)
{
    const char* p = t.data();
    const char* const end = p + t.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    const char* const intStart = p;
    while (p != end && IsDigit(*p)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    digits = static_cast<int>(p - intStart);
    if (p != end && *p == '.') {
        ++p;
        const char* const fracStart = p;
        while (p != end && IsDigit(*p)) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        decimals = static_cast<int>(p - fracStart);
        digits += decimals;
    }
    // Leading zeros count as digits here; that only sends a few more
    // numbers to the general path.
    if (p != end || digits == 0 || digits > 15 || decimals > 22) {
        return false;
    }
    static constexpr double PowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double magnitude = static_cast<double>(mantissa) / PowersOfTen[decimals];
    value = negative ? -magnitude : magnitude;
    return true;
}

// A double correctly rounded from the decimal rounds to the same float as
// the decimal itself, unless it lies exactly halfway between two floats: a
// float midpoint is a double, so none can lie between the decimal and its
// nearest double. Within the normal float range that tie shows as the 29
// bits below a float's precision reading 1000...0.
bool ToFloatWithoutDoubleRounding(double d, float& value)
{
    if (d == 0.0) {
        value = static_cast<float>(d);
        return true;
    }
    const double a = std::fabs(d);
    if (!(a >= 1e-37 && a <= 3e38)) {
        return false;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    if ((bits & ((std::uint64_t{1} << 29) - 1)) == (std::uint64_t{1} << 28)) {
        return false;
    }
    value = static_cast<float>(d);
    return true;
}

bool ParseFast(std::string_view token, float& value)
{
    double d = 0.0;
    return ParsePlainDecimal(token, d) && ToFloatWithoutDoubleRounding(d, value);
}

bool ParseFast(std::string_view token, double& value)
{
    return ParsePlainDecimal(token, value);
}

template <typename T>
NumberStatus Parse(std::string_view token, T& value)
{
    if (ParseFast(token, value)) {
        return NumberStatus::Ok;
    }
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

NumberStatus ParseCoordinate(std::string_view token, float& value, double& exact)
{
    // One pass serves both where the plain-decimal path takes the token.
    if (ParsePlainDecimal(token, exact)) {
        if (ToFloatWithoutDoubleRounding(exact, value)) {
            return NumberStatus::Ok;
        }
        return Parse(token, value);
    }
    const NumberStatus status = Parse(token, value);
    if (status == NumberStatus::Ok) {
        Parse(token, exact);
    } else {
        exact = 0.0;
    }
    return status;
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

void LongNumber::Clear()
{
    part_ = Part::Start;
    negative_ = false;
    anyDigit_ = false;
    significant_ = false;
    moreNonzero_ = false;
    exponentNegative_ = false;
    magnitude_ = 0;
    exponent_ = 0;
    digits_.clear();
}

void LongNumber::Digit(char c)
{
    anyDigit_ = true;
    const bool integer = part_ == Part::Integer;
    if (!significant_ && c == '0') {
        if (!integer) {
            --magnitude_;  // a zero between the point and the first significant digit
        }
        return;
    }
    significant_ = true;
    if (integer) {
        ++magnitude_;
    }
    if (digits_.size() < SignificantDigits) {
        digits_ += c;
    } else if (c != '0') {
        moreNonzero_ = true;
    }
}

void LongNumber::Append(std::string_view piece)
{
    for (const char c : piece) {
        switch (part_) {
        case Part::Start:
            part_ = Part::Integer;
            if (c == '+' || c == '-') {
                negative_ = c == '-';
                continue;
            }
            [[fallthrough]];
        case Part::Integer:
        case Part::Fraction:
            if (IsDigit(c)) {
                Digit(c);
            } else if (c == '.' && part_ == Part::Integer) {
                part_ = Part::Fraction;
            } else if ((c == 'e' || c == 'E') && anyDigit_) {
                part_ = Part::ExponentMark;
            } else {
                part_ = Part::Invalid;
            }
            break;
        case Part::ExponentMark:
            if (c == '+' || c == '-') {
                exponentNegative_ = c == '-';
                part_ = Part::ExponentSign;
                break;
            }
            [[fallthrough]];
        case Part::ExponentSign:
        case Part::Exponent:
            if (IsDigit(c)) {
                exponent_ = std::min(exponent_ * 10 + (c - '0'), ExponentLimit);
                part_ = Part::Exponent;
            } else {
                part_ = Part::Invalid;
            }
            break;
        case Part::Invalid:
            return;
        }
    }
}

std::string_view LongNumber::Token()
{
    const bool complete = part_ == Part::Integer || part_ == Part::Fraction || part_ == Part::Exponent;
    if (!complete || !anyDigit_) {
        return "-";  // not a number
    }
    if (!significant_) {
        return "0";
    }
    const std::int64_t power =
        std::clamp(magnitude_ + (exponentNegative_ ? -exponent_ : exponent_), -ExponentLimit, ExponentLimit);
    token_.assign(negative_ ? "-0." : "0.").append(digits_);
    if (moreNonzero_) {
        token_ += '1';
    }
    token_.append("e").append(std::to_string(power));
    return token_;
}

}  // namespace zarn
