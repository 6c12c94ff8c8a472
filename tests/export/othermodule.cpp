// An export module of another ZARN: the right entry points, another version
// and interface number. The install check puts it in the installed module's
// place; a program must refuse it before calling into it.

#include "exportloader.h"

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int zarn_export_interface()
{
    return zarn::ExportInterface + 1;
}

extern "C" __attribute__((visibility("default"))) const char* zarn_export_version()
{
    return "0.0.0";
}

extern "C" __attribute__((visibility("default"))) void zarn_make_gis_exports()
{
    std::abort();
}
