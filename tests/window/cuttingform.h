#pragma once

// The main window with a hook on its progress list, for what must happen
// while a run holds the window: once the run has added the line `at`, the
// input at `path` is cut to `keep` bytes (when `keep` is set) and `meanwhile`
// is called, the first time only; `onPhase` is called at each stage the run
// comes to. Shared by the window and drawing-failure tests.

#include "form1.h"

#include <QFile>

#include <functional>
#include <string>
#include <string_view>

namespace zarn::test {

class CuttingForm : public Form1 {
public:
    CuttingForm(DialogBackend& dialogs, ColorDialogFactory pickers) : Form1(dialogs, std::move(pickers)) {}

    std::string at;
    QString path;
    qint64 keep = -1;
    std::function<void()> meanwhile;
    std::function<void(RunPhase)> onPhase;

protected:
    void Phase(RunPhase phase, std::string_view subject) override
    {
        Form1::Phase(phase, subject);
        if (onPhase) {
            onPhase(phase);
        }
    }
    void AppendProgress(std::string_view line) override
    {
        Form1::AppendProgress(line);
        if (!at.empty() && line == at) {
            at.clear();
            if (keep >= 0) {
                QFile::resize(path, keep);
            }
            if (meanwhile) {
                meanwhile();
            }
        }
    }
};

}  // namespace zarn::test
