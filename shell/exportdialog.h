#pragma once

#include "dialogbackend.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;

namespace zarn {

// The small modal window of Settings > "Export…": one tick box per label
// (object names chkTick0, chkTick1, ...), OK and Cancel.
class ExportDialog : public QDialog {
public:
    ExportDialog(const std::string& title, const std::vector<std::string>& labels, const std::vector<bool>& ticked,
                 QWidget* parent = nullptr);

    std::vector<bool> Ticks() const;

private:
    std::vector<QCheckBox*> boxes_;
};

}  // namespace zarn

#ifdef ZARN_HAVE_EXPORT
#include "exportformat.h"

namespace zarn {

// Asks through `dialogs` which formats every run exports to from now on,
// `formats` ticked; returns true and replaces `formats` on OK.
bool ChooseExportFormats(DialogBackend& dialogs, std::vector<ExportFormat>& formats);

}  // namespace zarn
#endif
