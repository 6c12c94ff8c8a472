#pragma once

#include "analysisrun.h"
#include "workspace.h"

#include <filesystem>
#include <memory>
#include <string>

class QGuiApplication;

namespace zarn {

// The map half of zarn-batch: the canvas is painted with Qt Gui off screen.
// Built only where Qt 6 is (ZARN_HAVE_MAP); without it the batch command
// runs every file as with --no-map.

// What the map's canvas needs for the whole command: a QGuiApplication (fonts,
// the offscreen platform) unless one runs already. Without a display the
// offscreen platform is chosen; where XDG_RUNTIME_DIR is unset (servers,
// containers), Qt gets a private runtime folder of its own under the
// system's temporary folder, removed again at the end.
class BatchMapSession {
public:
    BatchMapSession();
    ~BatchMapSession();
    BatchMapSession(const BatchMapSession&) = delete;
    BatchMapSession& operator=(const BatchMapSession&) = delete;

private:
    std::filesystem::path runtimeFolder_;
    std::unique_ptr<QGuiApplication> app_;
};

// One file's run with the map drawn and saved, on a canvas of its own so that
// files can run side by side. Needs a BatchMapSession.
RunOutcome RunWithMap(Workspace& ws, RunHost& host, const RunOptions& options);

// The decimal separator of the user's locale, as the window shows it.
std::string UserDecimalSeparator();

}  // namespace zarn
