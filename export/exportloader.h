#pragma once

#include "exportformat.h"
#include "runoutput.h"

#include <memory>
#include <vector>

namespace zarn {

// The GIS exports of one run, one per format (see GisExport). They live in a
// module of their own, zarn-export.so, which links GDAL: the programs load it
// when a run first asks for an export, so that GDAL and the hundred libraries
// it brings cost nothing to the runs without one (they would otherwise add
// about 50 ms to every start). The module is looked for in
// <program folder>/../<libdir>/zarn (an installation), then where the build
// put it. When it cannot be loaded, the run fails over that after its
// classic files and map, with the reason as the cause.
std::vector<std::unique_ptr<RunOutput>> MakeExports(const std::vector<ExportFormat>& formats, bool geodesic);

}  // namespace zarn
