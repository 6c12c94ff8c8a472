// The one place where a build without GeographicLib leaves the ellipsoid
// stage out.

#include "runerror.h"
#include "runpipeline.h"

#ifdef ZARN_HAVE_GEODESIC

#include "ellipsoidstage.h"

namespace zarn {

bool HaveEllipsoidFigures()
{
    return true;
}

std::unique_ptr<EllipsoidStage> MakeEllipsoidStage()
{
    return std::make_unique<GeodesicStage>();
}

}  // namespace zarn

#else

namespace zarn {

bool HaveEllipsoidFigures()
{
    return false;
}

std::unique_ptr<EllipsoidStage> MakeEllipsoidStage()
{
    throw RunError("this build has no figures on the ellipsoid (it was made without GeographicLib)");
}

}  // namespace zarn

#endif
