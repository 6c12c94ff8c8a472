#include "colorpick.h"

#include <exception>

namespace zarn {

bool PickColor(ColorDialogControl& dialog)
{
    dialog.CancelError = true;
    try {
        dialog.ShowColor();
        return true;
    } catch (const DialogCancelled&) {
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace zarn
