#pragma once

#include "colordialogcontrol.h"

namespace zarn {

// A colour dialog control over Qt's modal QColorDialog. It opens on the
// colour last accepted; Color() is 0 (black) until a colour is accepted.
class QtColorDialogControl : public ColorDialogControl {
public:
    void ShowColor() override;
    Colour Color() const override { return color_; }

private:
    Colour color_ = 0;
};

// Makes a fresh QtColorDialogControl for each load of a dialog.
ColorDialogFactory QtColorDialogFactory();

}  // namespace zarn
