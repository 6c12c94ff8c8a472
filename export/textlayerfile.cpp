#include "textlayerfile.h"

#include <charconv>
#include <cmath>

namespace zarn {

char* ShortestDigits(char* at, double value)
{
    if (!std::isfinite(value)) {
        return nullptr;
    }
    return std::to_chars(at, at + ShortestChars, value).ptr;
}

}  // namespace zarn
