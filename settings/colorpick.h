#pragma once

#include "colordialogcontrol.h"

namespace zarn {

// What every colour button of the settings dialogs does with its picker:
// CancelError on, show it, and end silently on Cancel or on any failure of
// the picker. True when a colour was accepted; it is then `dialog.Color()`.
bool PickColor(ColorDialogControl& dialog);

}  // namespace zarn
