#include "exportloader.h"

#include "runerror.h"

#include <dlfcn.h>

#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <system_error>
#include <string>
#include <string_view>

namespace zarn {

namespace {

using MakeFunction = void (*)(const ExportFormat*, std::size_t, bool, std::vector<std::unique_ptr<RunOutput>>*);

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

// The loaded module: its entry point, or null and why not.
struct Module {
    MakeFunction make = nullptr;
    std::string why;
};

// Why the module is not there to load, or nothing.
std::string Missing(const std::filesystem::path& path)
{
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) {
        return "the GIS export module " + std::string(ZARN_EXPORT_MODULE_NAME) + " is not installed at " +
               (path.empty() ? std::string("the program's place") : path.string());
    }
    return {};
}

Module Load()
{
    Module module;
    const std::filesystem::path path = ModulePath();
    module.why = Missing(path);
    if (!module.why.empty()) {
        return module;
    }
    // Never closed: the exports' code must stay while any exists.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        module.why = dlerror();
        return module;
    }
    using InterfaceFunction = int (*)();
    using VersionFunction = const char* (*)();
    const auto interface = reinterpret_cast<InterfaceFunction>(dlsym(handle, "zarn_export_interface"));
    const auto version = reinterpret_cast<VersionFunction>(dlsym(handle, "zarn_export_version"));
    const auto entry = reinterpret_cast<MakeFunction>(dlsym(handle, "zarn_make_gis_exports"));
    if (interface == nullptr || version == nullptr || entry == nullptr) {
        module.why = path.string() + " is not ZARN's export module";
        return module;
    }
    if (interface() != ExportInterface || std::string_view(version()) != ZARN_EXPORT_VERSION) {
        module.why = path.string() + " is the export module of ZARN " + version() + " (interface " +
                     std::to_string(interface()) + "), not of this ZARN " + ZARN_EXPORT_VERSION + " (interface " +
                     std::to_string(ExportInterface) + ")";
        return module;
    }
    module.make = entry;
    return module;
}

// The module, loaded once, on a thread of its own: loading GDAL and the
// libraries it brings takes about 70 ms, which the run's first pass over
// the file hides on the second core. Where no thread can be started, the
// first wait loads it.
std::shared_future<Module> LoadingModule()
{
    static const std::shared_future<Module> loading = [] {
        try {
            return std::async(std::launch::async, Load).share();
        } catch (const std::system_error&) {
            return std::async(std::launch::deferred, Load).share();
        }
    }();
    return loading;
}

// The exports of one run, asked of the module when the first of them is
// opened, that is after the first pass over the file.
struct PendingExports {
    std::vector<ExportFormat> formats;
    bool geodesic = false;
    std::shared_future<Module> module;
    bool asked = false;
    std::vector<std::unique_ptr<RunOutput>> made;  // one a format (the module's version is ours), or none
    std::string failure;

    void Ask()
    {
        if (asked) {
            return;
        }
        asked = true;
        const Module& m = module.get();
        if (m.make == nullptr) {
            failure = "cannot export: " + m.why;
            return;
        }
        try {
            m.make(formats.data(), formats.size(), geodesic, &made);
        } catch (const std::exception& e) {
            made.clear();
            failure = std::string("cannot export: ") + e.what();
        }
    }
};

// One format's export, standing in for the module's until it is opened.
// Where the module cannot make them, the first one fails over that (as the
// "GIS export") and the others stay silent, so that the run reports the
// cause once.
class DeferredExport : public RunOutput {
public:
    DeferredExport(std::shared_ptr<PendingExports> pending, std::size_t index)
        : pending_(std::move(pending)), index_(index)
    {
    }
    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host) override
    {
        pending_->Ask();
        if (RunOutput* e = Made()) {
            e->Open(names, inputPath, host);
        } else if (index_ == 0) {
            throw RunError(pending_->failure);
        }
    }
    void Add(const RecordResult& result) override
    {
        if (RunOutput* e = Made()) {
            e->Add(result);
        }
    }
    void Complete(RunHost& host) override
    {
        if (RunOutput* e = Made()) {
            e->Complete(host);
        }
    }
    void Close(RunHost& host) override
    {
        if (RunOutput* e = Made()) {
            e->Close(host);
        }
    }
    void Abandon() noexcept override
    {
        if (RunOutput* e = Made()) {
            e->Abandon();
        }
    }
    void AppendSummary(RunHost& host) override
    {
        if (RunOutput* e = Made()) {
            e->AppendSummary(host);
        }
    }
    std::string Caption() const override
    {
        const RunOutput* e = Made();
        return e != nullptr ? e->Caption() : "GIS export";
    }
    std::vector<OutputFile> Files() const override
    {
        const RunOutput* e = Made();
        return e != nullptr ? e->Files() : std::vector<OutputFile>{};
    }

private:
    RunOutput* Made() const { return pending_->made.empty() ? nullptr : pending_->made[index_].get(); }

    std::shared_ptr<PendingExports> pending_;
    std::size_t index_;
};

}  // namespace

std::vector<std::unique_ptr<RunOutput>> MakeExports(const std::vector<ExportFormat>& formats, bool geodesic)
{
    std::vector<std::unique_ptr<RunOutput>> exports;
    if (formats.empty()) {
        return exports;
    }
    const auto pending = std::make_shared<PendingExports>();
    // A module that is not there fails the run's exports as one, at once.
    if (std::string why = Missing(ModulePath()); !why.empty()) {
        pending->asked = true;
        pending->failure = "cannot export: " + why;
        exports.push_back(std::make_unique<DeferredExport>(pending, 0));
        return exports;
    }
    pending->formats = formats;
    pending->geodesic = geodesic;
    pending->module = LoadingModule();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        exports.push_back(std::make_unique<DeferredExport>(pending, i));
    }
    return exports;
}

}  // namespace zarn
