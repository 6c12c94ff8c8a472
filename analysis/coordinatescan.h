#pragma once

#include "rings.h"

#include <string>

namespace zarn {

// Whether a BNA file's coordinates can be degrees: Plane as soon as one
// latitude (the second number of a pair, in any record) lies beyond +-90,
// Degrees otherwise. A pass over the file with the analysis' own reader,
// parsing every field and keeping nothing (about the cost of the parse
// floor, less for a plane file, which is told at its first such latitude).
// A file that cannot be read to its end is judged by what could be read:
// the run itself meets the failure and reports it.
Coordinates ScanCoordinates(const std::string& path);

}  // namespace zarn
