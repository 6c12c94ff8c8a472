#pragma once

#include <string>

namespace zarn {

// A path under which GDAL writes the file `path` through a layer that checks
// every write and close: a short write or a failed close (a full disk, a
// file size limit) is raised as a GDAL failure (CE_Failure) on the writing
// thread, where the drivers that do not check their own writes (GeoJSON,
// KML, FlatGeobuf) would carry on and leave a truncated file. Reading,
// seeking and the folder operations go straight to the file.
std::string CheckedPath(const std::string& path);

}  // namespace zarn
