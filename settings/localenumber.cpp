#include "localenumber.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace zarn {

namespace {

// The locale's symbol when it is a single character; a symbol of several
// characters is not recognised (the ASCII sign and "e" still are).
QChar SingleChar(const QString& symbol)
{
    return symbol.size() == 1 ? symbol.front() : QChar();
}

bool Is(QChar c, QChar symbol)
{
    return !symbol.isNull() && c == symbol;
}

// Rewrites the number in C notation ("-12.5e3") so that std::from_chars can
// read it, checking its shape on the way. Empty on a text that is not numeric.
std::string ToCNotation(QStringView text, const QLocale& locale)
{
    const QChar decimal = SingleChar(locale.decimalPoint());
    const QChar minus = SingleChar(locale.negativeSign());
    const QChar plus = SingleChar(locale.positiveSign());
    const QChar exponent = SingleChar(locale.exponential());
    const QChar zero = SingleChar(locale.zeroDigit());

    const QStringView t = text.trimmed();
    std::string out;
    qsizetype i = 0;
    const auto digitAt = [&](qsizetype k) -> int {
        if (k >= t.size()) {
            return -1;
        }
        const char16_t c = t[k].unicode();
        if (c >= u'0' && c <= u'9') {
            return c - u'0';
        }
        if (!zero.isNull() && c >= zero.unicode() && c <= zero.unicode() + 9) {
            return c - zero.unicode();
        }
        return -1;
    };
    const auto takeSign = [&] {
        if (i < t.size() && (t[i] == u'-' || Is(t[i], minus))) {
            out.push_back('-');
            ++i;
        } else if (i < t.size() && (t[i] == u'+' || Is(t[i], plus))) {
            ++i;
        }
    };
    const auto takeDigits = [&] {
        int count = 0;
        for (int d = digitAt(i); d >= 0; d = digitAt(++i)) {
            out.push_back(static_cast<char>('0' + d));
            ++count;
        }
        return count;
    };

    takeSign();
    int mantissaDigits = takeDigits();
    if (i < t.size() && Is(t[i], decimal)) {
        out.push_back('.');
        ++i;
        mantissaDigits += takeDigits();
    }
    if (mantissaDigits == 0) {
        return {};
    }
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E' || Is(t[i], exponent))) {
        out.push_back('e');
        ++i;
        takeSign();
        if (takeDigits() == 0) {
            return {};
        }
    }
    if (i != t.size()) {
        return {};
    }
    return out;
}

// Rounds to the nearest whole number, a half to the even neighbour, and
// checks that it fits `Int`.
template <class Int>
std::optional<Int> RoundHalfEven(double value)
{
    const double whole = std::nearbyint(value);  // the default mode rounds ties to even
    if (!(whole >= std::numeric_limits<Int>::min() && whole <= std::numeric_limits<Int>::max())) {
        return std::nullopt;
    }
    return static_cast<Int>(whole);
}

template <class Int>
std::optional<Int> TextToInt(QStringView text, const QLocale& locale)
{
    const std::optional<double> value = ParseLocaleNumber(text, locale);
    return value ? RoundHalfEven<Int>(*value) : std::nullopt;
}

}  // namespace

std::optional<double> ParseLocaleNumber(QStringView text, const QLocale& locale)
{
    const std::string c = ToCNotation(text, locale);
    if (c.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), value);
    if (ec != std::errc() || end != c.data() + c.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> TextToInt32(QStringView text, const QLocale& locale)
{
    return TextToInt<std::int32_t>(text, locale);
}

std::optional<std::int16_t> TextToInt16(QStringView text, const QLocale& locale)
{
    return TextToInt<std::int16_t>(text, locale);
}

std::optional<float> TextToSingle(QStringView text, const QLocale& locale)
{
    const std::optional<double> value = ParseLocaleNumber(text, locale);
    if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(*value);
}

}  // namespace zarn
