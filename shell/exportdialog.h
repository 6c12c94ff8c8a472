#pragma once

#include "dialogbackend.h"
#include "runoutput.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;

namespace zarn {

// The small modal window of Settings > "Export…": `text` (object name
// lblText), one tick box per label (object names chkTick0, chkTick1, ...),
// OK and Cancel.
class ExportDialog : public QDialog {
public:
    ExportDialog(const std::string& title, const std::string& text, const std::vector<std::string>& labels,
                 const std::vector<bool>& ticked, QWidget* parent = nullptr);

    std::vector<bool> Ticks() const;

private:
    std::vector<QCheckBox*> boxes_;
};

}  // namespace zarn

namespace zarn {

// The formats every run of the window exports to, chosen with Settings >
// "Export…". A window built without the exports (GDAL) has no such item and
// its runs no further outputs; exportdialog.cpp is the one place that knows.
class ExportSetting {
public:
    ExportSetting();
    ~ExportSetting();
    ExportSetting(const ExportSetting&) = delete;
    ExportSetting& operator=(const ExportSetting&) = delete;

    // Whether this build has the exports, and so the menu item.
    static bool Available();
    // Asks through `dialogs` which formats every run exports to from now on,
    // the current ones ticked; replaces them on OK.
    void Choose(DialogBackend& dialogs);
    // The further outputs of one run, one per chosen format.
    std::vector<std::unique_ptr<RunOutput>> MakeOutputs(bool geodesic) const;

private:
    struct Formats;
    std::unique_ptr<Formats> formats_;
};

}  // namespace zarn
