#include "displaysettings.h"

namespace zarn {

void ApplyStartupDefaults(DisplaySettings& settings, Canvas& canvas)
{
    settings.lineWidth = 2;
    settings.centroidSize = 3;
    settings.lineColor = Rgb(255, 0, 0);
    canvas.SetFontBold(true);
    canvas.SetFillStyle(0);
    settings.centroidFillColor = Rgb(0, 0, 255);
    settings.showText = FlagTrue;
}

}  // namespace zarn
