#include "gdalmessages.h"

#include "runerror.h"
#include "safefile.h"

namespace zarn::gis {

void GdalMessages::Fail(const std::string& path, std::string_view otherwise) const
{
    throw RunError(EarlierStays(path, failure_.empty() ? std::string(otherwise) : failure_));
}

void CPL_STDCALL GdalMessages::Handle(CPLErr level, CPLErrorNum /*number*/, const char* message)
{
    auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
    if (level >= CE_Failure) {
        self->failure_ = message;
    }
}

}  // namespace zarn::gis
