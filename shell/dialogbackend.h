#pragma once

#include "canvas.h"

#include <QMessageBox>

#include <optional>
#include <string>
#include <vector>

namespace zarn {

// The modal windows of the program: the open-file dialog, the colour picker,
// the message box and the export's choice of formats. The program uses Qt's; tests install a script, so that
// nothing ever waits for a person.
class DialogBackend {
public:
    virtual ~DialogBackend() = default;

    // The accepted file's full path (local 8-bit encoding), or nothing on Cancel.
    virtual std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                                const std::string& previous) = 0;
    // The accepted colour, or nothing on Cancel.
    virtual std::optional<Colour> PickColor(Colour initial) = 0;
    // A message box with the critical icon and one OK button, under the
    // program's title.
    virtual void Critical(const std::string& text) = 0;
    // The same box with the cause of a failure behind "Show Details…" (its
    // detailed text); an empty cause gives the plain box. Stand-ins that do
    // not record causes show the message alone.
    virtual void CriticalWithCause(const std::string& text, const std::string& /*cause*/) { Critical(text); }
    // A message box with the warning icon and one OK button, the cause
    // behind "Show Details…" as for CriticalWithCause. Stand-ins that do not
    // tell the two apart take it as the critical box.
    virtual void WarningWithCause(const std::string& text, const std::string& cause) { CriticalWithCause(text, cause); }
    // One tick box per label, ticked as `ticked`, below `text` (lines that
    // say what the choice does); the ticks accepted, or nothing on Cancel
    // (also for stand-ins that do not script it).
    virtual std::optional<std::vector<bool>> ChooseTicks(const std::string& /*title*/, const std::string& /*text*/,
                                                         const std::vector<std::string>& /*labels*/,
                                                         const std::vector<bool>& /*ticked*/)
    {
        return std::nullopt;
    }
};

// Qt's dialogs. `parent` centres them over the main window.
class QtDialogBackend : public DialogBackend {
public:
    explicit QtDialogBackend(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                        const std::string& previous) override;
    std::optional<Colour> PickColor(Colour initial) override;
    void Critical(const std::string& text) override;
    void CriticalWithCause(const std::string& text, const std::string& cause) override;
    void WarningWithCause(const std::string& text, const std::string& cause) override;
    std::optional<std::vector<bool>> ChooseTicks(const std::string& title, const std::string& text,
                                                 const std::vector<std::string>& labels,
                                                 const std::vector<bool>& ticked) override;

    // "BNA (*.bna)| *.bna| All (*.*) | *.*" as Qt writes it: "BNA (*.bna);;All (*.*)".
    static std::string QtFilter(const std::string& filter);

private:
    void ShowBox(QMessageBox::Icon icon, const std::string& text, const std::string& cause);

    QWidget* parent_;
};

}  // namespace zarn
