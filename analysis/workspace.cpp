#include "workspace.h"

#include <algorithm>

namespace zarn {

void Workspace::ResetPolygon()
{
    // Slots 1 and up read as zero after a reset; only those written since the
    // last reset can be non-zero. Slot 0 is always written by the next
    // record's first point before anything reads it.
    if (filledSlots_ > 1) {
        std::fill(pointX.begin() + 1, pointX.begin() + filledSlots_, 0.0F);
        std::fill(pointY.begin() + 1, pointY.begin() + filledSlots_, 0.0F);
    }
    filledSlots_ = 0;
    curPoly.nPoints = -999;
    curPoly.area = -999.0;
    curPoly.centroidX = -999.0;
    curPoly.centroidY = -999.0;
    curPoly.minX = 99999.0F;
    curPoly.minY = 99999.0F;
    curPoly.maxX = -99999.0F;
    curPoly.maxY = -99999.0F;
}

}  // namespace zarn
