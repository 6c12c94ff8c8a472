#include "exportloader.h"

#include "runerror.h"

#include <dlfcn.h>

#include <exception>
#include <filesystem>
#include <mutex>
#include <string>

namespace zarn {

namespace {

using MakeFunction = void (*)(const ExportFormat*, std::size_t, bool, std::vector<std::unique_ptr<RunOutput>>*);

// Stands in for the exports when the module cannot be loaded: the run fails
// over it as over any output, after the classic files and the map.
class UnloadableExport : public RunOutput {
public:
    explicit UnloadableExport(std::string cause) : cause_(std::move(cause)) {}
    void Open(const OutputNames& /*names*/, const std::string& /*inputPath*/, RunHost& /*host*/) override
    {
        throw RunError(cause_);
    }
    void Add(const RecordResult& /*result*/) override {}
    void Close(RunHost& /*host*/) override {}
    void Abandon() noexcept override {}
    void AppendSummary(RunHost& /*host*/) override {}
    std::string Caption() const override { return "GIS export"; }

private:
    std::string cause_;
};

// The module's entry point, or null with `failure` saying why.
MakeFunction LoadModule(std::string& failure)
{
    static std::once_flag once;
    static MakeFunction make = nullptr;
    static std::string why;
    std::call_once(once, [] {
        std::vector<std::filesystem::path> candidates;
        std::error_code ec;
        const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec) {
            candidates.push_back(program.parent_path() / ZARN_EXPORT_MODULE_FROM_BINDIR);
        }
        candidates.emplace_back(ZARN_EXPORT_MODULE_IN_BUILD);
        for (const std::filesystem::path& candidate : candidates) {
            if (!std::filesystem::exists(candidate, ec)) {
                continue;
            }
            // Never closed: the exports' code must stay while any exists.
            void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr) {
                why = dlerror();
                return;
            }
            make = reinterpret_cast<MakeFunction>(dlsym(module, "zarn_make_gis_exports"));
            if (make == nullptr) {
                why = candidate.string() + " is not ZARN's export module";
            }
            return;
        }
        why = "the GIS export module " + std::filesystem::path(ZARN_EXPORT_MODULE_IN_BUILD).filename().string() +
              " is not installed beside the program";
    });
    failure = "cannot export: " + why;
    return make;
}

}  // namespace

std::vector<std::unique_ptr<RunOutput>> MakeExports(const std::vector<ExportFormat>& formats, bool geodesic)
{
    std::vector<std::unique_ptr<RunOutput>> exports;
    if (formats.empty()) {
        return exports;
    }
    std::string failure;
    if (const MakeFunction make = LoadModule(failure)) {
        try {
            make(formats.data(), formats.size(), geodesic, &exports);
            return exports;
        } catch (const std::exception& e) {
            exports.clear();
            failure = std::string("cannot export: ") + e.what();
        }
    }
    exports.push_back(std::make_unique<UnloadableExport>(failure));
    return exports;
}

}  // namespace zarn
