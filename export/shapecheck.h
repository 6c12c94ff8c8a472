#pragma once

#include "regionshape.h"
#include "rings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zarn {

// The export's guard on the geometry step: every record whose polygons were
// cut at the 180th meridian, closed through a pole or touch the meridian
// (RegionShape::cut) is checked with GEOS's validity test (through OGR),
// and its area in the plane against that of its rings unwrapped (which
// cutting and shifting keep); a record of more than a million vertices by
// its area alone, since GEOS's test would hold several times its vertices
// in memory. One that fails either is not written
// invalid or of another region: its polygons are rebuilt the
// GEOS way, each ring's region unwrapped by the ring rule (ringrule.h; a
// ring round the globe closed through the pole of its region), intersected
// with bands of 360 degrees and the pieces shifted into [-180, 180], the
// rings' regions combined even-odd (islands and lakes as nested). The
// rebuilt polygons hold the same region, valid, their outer rings
// counter-clockwise and holes clockwise; vertices on the cut may differ from
// the direct cut's by a few units in the last place. Records in plane
// coordinates, and records not cut, are left as they are, and all records
// where GDAL was built without GEOS.
class ShapeCheck {
public:
    // True when `shape` (RegionShaper's polygons of these rings, in degrees)
    // was rebuilt.
    bool Repair(const double* lon, const double* lat, const std::vector<Ring>& rings, RegionShape& shape);

    // How many records were rebuilt.
    std::uint64_t Rebuilt() const { return rebuilt_; }

    // The closing note on them; empty when none was.
    std::string Note() const;

private:
    std::uint64_t rebuilt_ = 0;
};

}  // namespace zarn
