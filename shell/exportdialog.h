#pragma once

#include "dialogbackend.h"

#include <QDialog>

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

#ifdef ZARN_HAVE_EXPORT
#include "exportformat.h"

namespace zarn {

inline constexpr const char* ExportDialogTitle = "Export to GIS formats";

// What the export dialog says above the formats: where the files go, in
// which coordinates, how many files each format writes and what the
// ellipsoid figures add.
std::string ExportDialogText();

// Asks through `dialogs` which formats every run exports to from now on,
// `formats` ticked; returns true and replaces `formats` on OK.
bool ChooseExportFormats(DialogBackend& dialogs, std::vector<ExportFormat>& formats);

}  // namespace zarn
#endif
