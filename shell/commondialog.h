#pragma once

#include "colordialogcontrol.h"
#include "dialogbackend.h"

#include <cstdint>
#include <string>

namespace zarn {

// The main window's common dialog control, CD1: the input file choice, the
// background colour and the label colour. It keeps the last accepted file
// and colour for the whole program; the analysis run reads the chosen file
// from here.
class CommonDialog : public ColorDialogControl {
public:
    explicit CommonDialog(DialogBackend& backend) : backend_(backend) {}

    std::string DialogTitle;
    std::string Filter;
    std::int16_t DialogOption = 0;

    // Shows the open-file dialog; returns once a file is accepted. On Cancel,
    // throws DialogCancelled when CancelError is set, else returns unchanged.
    void ShowOpen();
    // Takes `path` (full path, local 8-bit encoding) as the accepted file,
    // as the open-file dialog would: a file named on the command line or
    // dropped on the window.
    void Accept(const std::string& path);
    const std::string& FileName() const { return fileName_; }
    const std::string& FileTitle() const { return fileTitle_; }

    void ShowColor() override;
    Colour Color() const override { return color_; }

private:
    DialogBackend& backend_;
    std::string fileName_;
    std::string fileTitle_;
    Colour color_ = 0;
};

}  // namespace zarn
