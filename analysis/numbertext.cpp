#include "numbertext.h"

#include <charconv>
#include <cmath>

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

void AppendNumber(std::string& out, double value, std::string_view decimalSeparator)
{
    // Below 1e11 the three-decimal text has at most 14 significant digits, so
    // reading it back and writing it with 15 digits gives the same digits:
    // one conversion does, less its trailing zeros (and "-0" is "0").
    if (std::fabs(value) < 1e11) {
        char buf[32];
        const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
        const char* end = res.ptr;
        while (end[-1] == '0') {
            --end;
        }
        if (end[-1] == '.') {
            --end;
        }
        if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') {
            out.push_back('0');
            return;
        }
        for (const char* p = buf; p != end; ++p) {
            if (*p == '.') {
                out.append(decimalSeparator);
            } else {
                out.push_back(*p);
            }
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
