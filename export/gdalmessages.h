#pragma once

#include <cpl_error.h>

#include <string>
#include <string_view>

namespace zarn::gis {

// GDAL's messages while the export works, in place of its default handler
// (standard error): the last failure becomes the cause of the RunError.
// Handlers are per thread, so runs on several threads keep theirs apart.
class GdalMessages {
public:
    GdalMessages() : pusher_(&GdalMessages::Handle, this) {}

    const std::string& Failure() const { return failure_; }
    void Clear() { failure_.clear(); }

    // Throws RunError: "cannot write <path>: ", the last failure (or
    // `otherwise` when GDAL gave none) and that the earlier file stays.
    [[noreturn]] void Fail(const std::string& path, std::string_view otherwise) const;

private:
    static void CPL_STDCALL Handle(CPLErr level, CPLErrorNum number, const char* message);

    std::string failure_;
    CPLErrorHandlerPusher pusher_;
};

}  // namespace zarn::gis
