#pragma once

// Pieces of the GEOS way round the 180th meridian: intersect a region in
// unwrapped longitudes with bands 360 degrees wide and shift each piece back.
// The export tests build their truth this way, outside the code they test;
// the rings benchmark measures it against the export's direct cut.

#include <ogr_geometry.h>

#include <memory>

namespace zarn::test {

// The closed ring of the band [lo, lo + 360] x [-90, 90], in degrees.
inline std::unique_ptr<OGRLinearRing> LongitudeBand(double lo)
{
    auto ring = std::make_unique<OGRLinearRing>();
    ring->addPoint(lo, -90.0);
    ring->addPoint(lo + 360.0, -90.0);
    ring->addPoint(lo + 360.0, 90.0);
    ring->addPoint(lo, 90.0);
    ring->closeRings();
    return ring;
}

// Adds the polygons of `g` to `out`, every vertex shifted by `by` degrees of
// longitude.
inline void AddShifted(const OGRGeometry& g, double by, OGRMultiPolygon& out)
{
    const OGRwkbGeometryType type = wkbFlatten(g.getGeometryType());
    if (type == wkbPolygon) {
        std::unique_ptr<OGRPolygon> p(g.toPolygon()->clone());
        for (OGRLinearRing* ring : *p) {
            for (int k = 0; k < ring->getNumPoints(); ++k) {
                ring->setPoint(k, ring->getX(k) + by, ring->getY(k));
            }
        }
        out.addGeometryDirectly(p.release());
    } else if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
        for (const OGRGeometry* part : *g.toGeometryCollection()) {
            AddShifted(*part, by, out);
        }
    }
}

}  // namespace zarn::test
