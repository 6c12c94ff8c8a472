// The entry point of zarn-export.so, the module that the programs load for
// their GIS exports (see exportloader.h).

#include "exportloader.h"
#include "gisexport.h"

#include <memory>
#include <vector>

extern "C" __attribute__((visibility("default"))) void zarn_make_gis_exports(
    const zarn::ExportFormat* formats, std::size_t count, bool geodesic,
    std::vector<std::unique_ptr<zarn::RunOutput>>* exports)
{
    for (std::unique_ptr<zarn::GisExport>& e :
         zarn::MakeGisExports(std::vector<zarn::ExportFormat>(formats, formats + count), geodesic)) {
        exports->push_back(std::move(e));
    }
}

// What the program checks before it calls the entry point.
extern "C" __attribute__((visibility("default"))) int zarn_export_interface()
{
    return zarn::ExportInterface;
}

extern "C" __attribute__((visibility("default"))) const char* zarn_export_version()
{
    return ZARN_EXPORT_VERSION;
}
