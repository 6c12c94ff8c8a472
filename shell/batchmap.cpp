#include "batchmap.h"

#include "displaysettings.h"
#include "imagecanvas.h"
#include "mapdrawing.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QLocale>

#include <cstdlib>
#include <random>
#include <system_error>

namespace zarn {

namespace {

// A fresh folder only its owner may enter: create_directory fails rather than
// take over a folder someone else prepared under the same name.
std::filesystem::path MakePrivateFolder()
{
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        return {};
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path folder = temp / ("zarn-runtime-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder, ec)) {
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
            return ec ? std::filesystem::path() : folder;
        }
    }
    return {};
}

}  // namespace

BatchMapSession::BatchMapSession()
{
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        runtimeFolder_ = MakePrivateFolder();
        if (!runtimeFolder_.empty()) {
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtimeFolder_.string()));
        }
    }
    static int argc = 1;
    static char name[] = "zarn-batch";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
}

BatchMapSession::~BatchMapSession()
{
    app_.reset();
    if (!runtimeFolder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(runtimeFolder_, ec);
    }
}

RunOutcome RunWithMap(Workspace& ws, RunHost& host, const RunOptions& options)
{
    ImageCanvas canvas;
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    MapDrawing map(ws, canvas, settings);
    return ProcessBnaFile(ws, &map, host, options);
}

std::string UserDecimalSeparator()
{
    return QLocale::system().decimalPoint().toStdString();
}

}  // namespace zarn
