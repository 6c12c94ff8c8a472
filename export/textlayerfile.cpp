#include "textlayerfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zarn {

namespace {

// The text of a value with at most six decimals, 0.01 <= |value| < 10000,
// which most coordinates read from a file are: written directly, where
// std::to_chars would search for the shortest digits. Null where the value
// is none of those.
//
// Why it is to_chars's text: n / 10^6 (n = the value's millionths) reads
// back as the value when the division, correctly rounded like the reading,
// gives the value. No other decimal of as few significant digits reads back
// as it: within this range a double's neighbours lie less than 10^-11 away,
// and any such decimal lies on the grid of millionths too, so it is the same
// one. And to_chars writes it in fixed notation, which is shorter than the
// scientific one for every such text (0.05 against 5e-02, 1000 against
// 1e+03).
char* MillionthsDigits(char* at, double value)
{
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 0.01 && magnitude < 10000.0)) {
        return nullptr;
    }
    const auto n = static_cast<std::int64_t>(magnitude * 1e6 + 0.5);
    if (static_cast<double>(n) / 1e6 != magnitude) {
        return nullptr;
    }
    if (value < 0.0) {
        *at++ = '-';
    }
    auto whole = static_cast<std::uint32_t>(n / 1000000);
    auto fraction = static_cast<std::uint32_t>(n % 1000000);
    char digits[4];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    while (count > 0) {
        *at++ = digits[--count];
    }
    if (fraction != 0) {
        *at++ = '.';
        int places = 6;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --places;
        }
        for (int k = places - 1; k >= 0; --k) {
            at[k] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        at += places;
    }
    return at;
}

}  // namespace

char* ShortestDigits(char* at, double value)
{
    if (!std::isfinite(value)) {
        return nullptr;
    }
    if (char* end = MillionthsDigits(at, value)) {
        return end;
    }
    return std::to_chars(at, at + ShortestChars, value).ptr;
}

char* PairDigits(char* at, double x, double y)
{
    at = ShortestDigits(at, x);
    if (at == nullptr) {
        return nullptr;
    }
    *at++ = ',';
    return ShortestDigits(at, y);
}

void VertexDigits::Make(const RegionShape& shape)
{
    shape_ = nullptr;
    finite_ = Fill(shape, 0, shape.x.size());
}

void VertexDigits::Window(const RegionShape& shape)
{
    Release();
    from_ = 0;
    const auto finite = [](double v) { return std::isfinite(v); };
    finite_ = std::all_of(shape.x.begin(), shape.x.end(), finite) && std::all_of(shape.y.begin(), shape.y.end(), finite);
    if (finite_) {
        shape_ = &shape;
    }
}

bool VertexDigits::Fill(const RegionShape& shape, std::size_t first, std::size_t last) const
{
    from_ = first;
    chars_.clear();
    ends_.resize(last - first);
    char pair[PairChars];
    for (std::size_t i = first; i < last; ++i) {
        char* at = PairDigits(pair, shape.x[i], shape.y[i]);
        if (at == nullptr) {
            chars_.clear();
            ends_.clear();
            return false;
        }
        chars_.append(pair, at);
        ends_[i - first] = chars_.size();
        chars_ += ' ';
    }
    return true;
}

}  // namespace zarn
