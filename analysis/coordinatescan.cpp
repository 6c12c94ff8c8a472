#include "coordinatescan.h"

#include "bnainput.h"
#include "bnanumber.h"
#include "bnareader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>

namespace zarn {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal with at most this many integer digits is below 1e38, so
// within a float's range: it can never be TooLarge.
constexpr std::size_t MaxSafeIntegerDigits = 38;

// Whether a number's text has an exponent mark (the grammar's only one is
// e or E), a word at a time: a byte is e or E where it is zero after setting
// the case bit and taking away 'e', and the test for a zero byte is exact
// for the word as a whole. Words may overlap; a text of 4 to 7 bytes is
// read as two overlapping halves.
bool HasExponent(std::string_view t)
{
    constexpr std::uint64_t ones = 0x0101010101010101U;
    const auto marks = [](std::uint64_t w) {
        const std::uint64_t v = (w | ones * 0x20) ^ (ones * 'e');
        return (v - ones) & ~v & (ones * 0x80);
    };
    const char* p = t.data();
    const std::size_t n = t.size();
    if (n >= 8) {
        std::uint64_t found = 0;
        std::uint64_t w = 0;
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&w, p + i, 8);
            found |= marks(w);
        }
        std::memcpy(&w, p + n - 8, 8);
        return (found | marks(w)) != 0;
    }
    if (n >= 4) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + n - 4, 4);
        return marks(low | std::uint64_t{high} << 32) != 0;
    }
    bool any = false;
    for (const char c : t) {
        any |= (c | 0x20) == 'e';
    }
    return any;
}

// Nothing, or a point and at least one digit, to the end.
bool IsPlainFraction(std::string_view t)
{
    if (t.empty()) {
        return true;
    }
    if (t[0] != '.' || t.size() == 1) {
        return false;
    }
    return std::all_of(t.begin() + 1, t.end(), IsDigit);
}

}  // namespace

LatitudeText JudgeLatitudeText(std::string_view token)
{
    std::size_t i = 0;
    const std::size_t n = token.size();
    if (i < n && (token[i] == '+' || token[i] == '-')) {
        ++i;
    }
    const std::size_t first = i;
    while (i < n && IsDigit(token[i])) {
        ++i;
    }
    const std::size_t digits = i - first;
    const std::string_view rest = token.substr(i);
    const bool exponent = HasExponent(rest);
    int whole = 0;
    if (digits == 1) {
        whole = token[first] - '0';
    } else if (digits == 2) {
        whole = (token[first] - '0') * 10 + (token[first + 1] - '0');
    }
    // Below 90 whatever follows without an exponent, which a double rounds
    // to 90 at most; a text that is no number reads as 0, within too.
    if (!exponent && digits >= 1 && digits <= 2 && whole <= 89) {
        return LatitudeText::Within;
    }
    // Beyond only for a plain decimal the exact parse reads as written; 90
    // itself is beyond only with a fraction that survives rounding.
    if (exponent || digits == 0 || digits > MaxSafeIntegerDigits || token[first] == '0' || !IsPlainFraction(rest)) {
        return LatitudeText::Unsure;
    }
    return digits >= 3 || whole >= 91 ? LatitudeText::Beyond : LatitudeText::Unsure;
}

Coordinates ScanCoordinates(const std::string& path)
{
    enum class Field : std::uint8_t { Within, Beyond, TooLarge };
    // The exact parse the record loop does, for the texts the fast path
    // leaves: its TooLarge is where the record loop would fail.
    const auto exact = [](std::string_view token) {
        float value = 0.0F;
        double lat = 0.0;
        if (ParseCoordinate(token, value, lat) == NumberStatus::TooLarge) {
            return Field::TooLarge;
        }
        return std::fabs(lat) <= 90.0 ? Field::Within : Field::Beyond;
    };
    // A longitude matters only where the record loop would fail on it.
    const auto longitude = [&exact](std::string_view token) {
        if (token.size() <= MaxSafeIntegerDigits && !HasExponent(token)) {
            return Field::Within;
        }
        return exact(token) == Field::TooLarge ? Field::TooLarge : Field::Within;
    };
    const auto latitude = [&exact](std::string_view token) {
        switch (JudgeLatitudeText(token)) {
        case LatitudeText::Within:
            return Field::Within;
        case LatitudeText::Beyond:
            return Field::Beyond;
        case LatitudeText::Unsure:
            break;
        }
        return exact(token);
    };
    try {
        BnaInput in(path);
        std::string firstName;
        std::string secondName;
        while (!in.AtEnd()) {
            const std::int32_t n = ReadRecordHeader(in, firstName, secondName);
            const std::int64_t count = n < 0 ? -static_cast<std::int64_t>(n) : n;
            for (std::int64_t k = 0; k < count; ++k) {
                // TooLarge ends the readable part, as it ends the run.
                if (in.ReadCoordinateText(longitude) == Field::TooLarge) {
                    return Coordinates::Degrees;
                }
                const Field lat = in.ReadCoordinateText(latitude);
                if (lat == Field::TooLarge) {
                    return Coordinates::Degrees;
                }
                if (lat == Field::Beyond) {
                    return Coordinates::Plane;
                }
            }
        }
    } catch (const std::exception&) {
        // Judged by what was read; the run reports the failure.
    }
    return Coordinates::Degrees;
}

}  // namespace zarn
