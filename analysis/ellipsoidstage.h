#pragma once

#include "geodesic.h"
#include "geodesicfile.h"
#include "runpipeline.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace zarn {

// The ellipsoid stage of a build with GeographicLib: EllipsoidMeter for the
// figures, GeodesicFile for the table. The reading thread's share measures
// in degrees, as the figures of a file whose coordinates are degrees are
// measured here.
class GeodesicStage : public EllipsoidStage {
public:
    RunOutput& Table() override { return table_; }
    const ReadAhead* Sharing(Coordinates coordinates) const override;
    const GeodesicFigures& Measure(const StreamRecord& record, const PolygonRecord* classic,
                                   Coordinates coordinates) override;

private:
    // The figures of one block's records, measured on the reading thread.
    class MeasuredBlock : public ReadAheadBlock {
    public:
        void Clear() override { figures_.clear(); }
        std::size_t Take(const StreamRecord& record) override;
        const GeodesicFigures& At(std::size_t index) const { return figures_[index]; }

    private:
        EllipsoidMeter meter_;
        std::vector<GeodesicFigures> figures_;
    };
    class Share : public ReadAhead {
    public:
        std::unique_ptr<ReadAheadBlock> NewBlock() const override { return std::make_unique<MeasuredBlock>(); }
    };

    GeodesicFile table_;
    Share share_;
    EllipsoidMeter meter_;
    GeodesicFigures figures_;
};

}  // namespace zarn
