#pragma once

#include "canvas.h"

#include <cstdint>

namespace zarn {

// The styling that the map drawing reads for every polygon. The settings
// dialogs change it on OK; nothing is saved, so each start of the program
// begins from ApplyStartupDefaults. Bold, italic, size of the labels and the
// fill style of the markers are properties of the canvas itself.
struct DisplaySettings {
    Colour fontColor = 0;            // label colour
    Colour lineColor = 0;            // outline colour
    std::int32_t lineWidth = 0;      // outline pen width in pixels, also the dot and circle outline
    Colour centroidFillColor = 0;    // inside of the marker circle
    Colour centroidBorderColor = 0;  // outline of the marker circle
    std::int16_t centroidSize = 0;   // marker radius = centroidSize * 0.2 canvas units
    std::int16_t showText = 0;       // -1: print the names, 0: don't
};

inline constexpr std::int16_t FlagTrue = -1;
inline constexpr std::int16_t FlagFalse = 0;

// The start-up values, in the order the main window's load step sets them:
// outlines red and 2 pixels wide, markers of size 3 filled blue, names shown
// in bold. fontColor and centroidBorderColor stay black.
void ApplyStartupDefaults(DisplaySettings& settings, Canvas& canvas);

}  // namespace zarn
