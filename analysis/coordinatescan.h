#pragma once

#include "rings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

// Whether a BNA file's coordinates can be degrees: Plane as soon as one
// latitude (the second number of a pair, in any record) lies beyond +-90 or
// one longitude beyond +-LongitudeLimit (ringrule.h), Degrees otherwise. A pass over the file with the analysis' own reader and
// its field rules, which converts no number it can judge from its text: a
// longitude is only looked at for a value too large for a float (where the
// record loop fails) or with more than six whole digits, a plain latitude by its integer part (see
// JudgeLatitudeText); the rest take the record loop's exact parse. The
// reader's walk from field to field, which the verdict needs to know which
// number is a latitude, runs inline on its in-buffer path, and the exponent
// test takes a word at a time. From 4 MB on, the file's second half, from a
// record start near the middle, is walked on a second thread, and its
// verdict is taken only where the first thread's own walk reaches a record
// that starts exactly there: the verdict is the one-thread walk's. About
// 0.05 s for a 100 MB file on two free cores (0.10 s on one thread, 0.25 s
// when it parsed every number). Less for a plane file, which is told at its
// first such latitude. A file that cannot be read to its end is judged by
// what could be read: the run itself meets the failure and reports it.
Coordinates ScanCoordinates(const std::string& path);

// The same verdict with the second thread's part starting at the first
// record start at or after `from`, whatever the file's size: for tests of
// the split.
Coordinates ScanCoordinatesSplitFrom(const std::string& path, std::uint64_t from);

enum class LatitudeText : std::uint8_t {
    Within,  // its value as a double lies within +-90
    Beyond,  // beyond +-90, and in a float's range
    Unsure,  // for the exact parse
};

// A latitude judged from its text, for a plain decimal (an optional sign,
// digits without a leading zero, an optional point with digits): up to 89
// is within, 91 up to 38 digits beyond; 90, and any other text, is Unsure.
LatitudeText JudgeLatitudeText(std::string_view token);

}  // namespace zarn
