#include "ellipsoidstage.h"

#include <cmath>

namespace zarn {

std::size_t GeodesicStage::MeasuredBlock::Take(const StreamRecord& record)
{
    meter_.Measure(record.nPoints, record.lon, record.lat, record.pointsRead, figures_.emplace_back());
    return figures_.size() - 1;
}

const ReadAhead* GeodesicStage::Sharing(Coordinates coordinates) const
{
    return coordinates == Coordinates::Degrees ? &share_ : nullptr;
}

const GeodesicFigures& GeodesicStage::Measure(const StreamRecord& record, const PolygonRecord* classic,
                                              Coordinates coordinates)
{
    if (record.readAhead != nullptr) {
        figures_ = static_cast<const MeasuredBlock&>(*record.readAhead).At(record.readAheadIndex);
    } else {
        meter_.Measure(record.nPoints, record.lon, record.lat, record.pointsRead, figures_, coordinates);
    }
    if (classic != nullptr && figures_.hasFigures && (figures_.flags & NoRing) == 0 &&
        std::fabs(std::fabs(classic->area) - figures_.areaKm2) > 0.01 * figures_.areaKm2) {
        figures_.flags |= ClassicDiffers;
    }
    return figures_;
}

}  // namespace zarn
