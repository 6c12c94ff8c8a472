#include "exportloader.h"

#include "runerror.h"

#include <dlfcn.h>

#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

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

// The one module this program may load (see exportloader.h).
std::filesystem::path ModulePath()
{
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    const std::filesystem::path folder = program.parent_path();
    // Programs and tests lie a few folders below the top of a build tree.
    std::filesystem::path up = folder;
    for (int level = 0; level < 4 && !up.empty(); ++level, up = up.parent_path()) {
        if (std::filesystem::is_regular_file(up / "CMakeCache.txt", ec)) {
            return up / "lib" / "zarn" / ZARN_EXPORT_MODULE_NAME;
        }
        if (up == up.root_path()) {
            break;
        }
    }
    return (folder / ZARN_EXPORT_MODULE_FROM_BINDIR).lexically_normal();
}

// The module's entry point, or null with `failure` saying why.
MakeFunction LoadModule(std::string& failure)
{
    static std::once_flag once;
    static MakeFunction make = nullptr;
    static std::string why;
    std::call_once(once, [] {
        const std::filesystem::path path = ModulePath();
        std::error_code ec;
        if (path.empty() || !std::filesystem::exists(path, ec)) {
            why = "the GIS export module " + std::string(ZARN_EXPORT_MODULE_NAME) + " is not installed at " +
                  (path.empty() ? std::string("the program's place") : path.string());
            return;
        }
        // Never closed: the exports' code must stay while any exists.
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            why = dlerror();
            return;
        }
        using InterfaceFunction = int (*)();
        using VersionFunction = const char* (*)();
        const auto interface = reinterpret_cast<InterfaceFunction>(dlsym(module, "zarn_export_interface"));
        const auto version = reinterpret_cast<VersionFunction>(dlsym(module, "zarn_export_version"));
        const auto entry = reinterpret_cast<MakeFunction>(dlsym(module, "zarn_make_gis_exports"));
        if (interface == nullptr || version == nullptr || entry == nullptr) {
            why = path.string() + " is not ZARN's export module";
            return;
        }
        if (interface() != ExportInterface || std::string_view(version()) != ZARN_EXPORT_VERSION) {
            why = path.string() + " is the export module of ZARN " + version() + " (interface " +
                  std::to_string(interface()) + "), not of this ZARN " + ZARN_EXPORT_VERSION + " (interface " +
                  std::to_string(ExportInterface) + ")";
            return;
        }
        make = entry;
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
