#pragma once

namespace zarn {

// Makes the label font built into the program (DejaVu Sans, plain, bold,
// oblique and both) known to Qt, once per process; does nothing in a build
// that leaves it to the system's fonts. Needs the Qt application object.
void UseBuiltInLabelFont();

}  // namespace zarn
