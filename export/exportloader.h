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
// about 50 ms to every start). The loading runs on a thread of its own while
// the run makes its first pass over the file: the exports returned stand in
// for the module's, which are made when the run opens them. The module is
// looked for in one place only,
// found from the program's real location (links resolved): a program in a
// build tree (a folder above it holds CMakeCache.txt) loads that tree's
// lib/zarn/zarn-export.so, any other <prefix>/<bindir>/program loads
// <prefix>/<libdir>/zarn/zarn-export.so. C++ types cross into the module, so
// it must be of the program's own version and interface number
// (ExportInterface); one that is not is refused before any of its code runs
// for the exports. When the module cannot be loaded, the run fails over that
// after its classic files and map, with the reason as the cause.
// The number of the module's interface: raised with every change of what
// crosses into it (RunOutput, RecordResult, the entry point).
inline constexpr int ExportInterface = 1;

std::vector<std::unique_ptr<RunOutput>> MakeExports(const std::vector<ExportFormat>& formats, bool geodesic);

}  // namespace zarn
