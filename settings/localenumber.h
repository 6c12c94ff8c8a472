#pragma once

#include <QLocale>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace zarn {

// How the settings dialogs read the number in a text box when OK is pressed.
//
// A text is numeric when it is a number as the user writes it in `locale`:
// optional blanks around it, an optional sign (ASCII or the locale's), digits
// with at most one decimal separator (the locale's), at least one digit, and
// an optional exponent ("e" or "E", an optional sign, digits). Empty text is not numeric,
// and neither are group separators, currency signs, "inf" or "nan": a
// setting whose entry is not numeric keeps its value.
std::optional<double> ParseLocaleNumber(QStringView text, const QLocale& locale);

// The entry as a 32-bit or 16-bit integer: a fraction goes to the nearest
// whole number, a half to the even neighbour (2.5 gives 2, 3.5 gives 4). A
// text that is not numeric, or whose rounded value does not fit the type,
// gives nothing.
std::optional<std::int32_t> TextToInt32(QStringView text, const QLocale& locale);
std::optional<std::int16_t> TextToInt16(QStringView text, const QLocale& locale);

// The entry as a single-precision number, rounded to the nearest float;
// nothing when it is not numeric or beyond the float range.
std::optional<float> TextToSingle(QStringView text, const QLocale& locale);

}  // namespace zarn
