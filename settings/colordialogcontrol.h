#pragma once

#include "canvas.h"

#include <functional>
#include <memory>

namespace zarn {

// Thrown by ShowColor when the user cancels a picker whose CancelError is set.
struct DialogCancelled {};

// The colour half of a common dialog control, as the settings dialogs use
// it: a modal colour picker whose last accepted colour stays in Color().
// The main window's control also chooses files; the line and centroid
// dialogs each own one of their own, made by a ColorDialogFactory.
class ColorDialogControl {
public:
    virtual ~ColorDialogControl() = default;

    bool CancelError = false;

    // Shows the picker and returns once a colour is accepted; on Cancel,
    // throws DialogCancelled when CancelError is set. Cancel leaves Color().
    virtual void ShowColor() = 0;
    virtual Colour Color() const = 0;
};

using ColorDialogFactory = std::function<std::unique_ptr<ColorDialogControl>()>;

}  // namespace zarn
