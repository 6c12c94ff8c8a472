#include "shapecheck.h"

#include "ringrule.h"

#include <cpl_error.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace zarn {

namespace {

// The polygons of the geometry step as OGR holds them.
OGRMultiPolygon AsMultiPolygon(const RegionShape& shape)
{
    OGRMultiPolygon out;
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        auto polygon = std::make_unique<OGRPolygon>();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            const std::size_t begin = shape.RingBegin(r);
            auto ring = std::make_unique<OGRLinearRing>();
            ring->setPoints(static_cast<int>(shape.ringEnd[r] - begin), shape.x.data() + begin, shape.y.data() + begin);
            polygon->addRingDirectly(ring.release());
        }
        out.addGeometryDirectly(polygon.release());
    }
    return out;
}

// A ring's region in unwrapped longitudes, its first vertex within
// [-180, 180]; a ring round the globe closed through the pole of its region.
std::unique_ptr<OGRPolygon> Unwrapped(const double* lon, const double* lat, const Ring& ring, OGREnvelope& extent)
{
    auto lr = std::make_unique<OGRLinearRing>();
    std::int64_t turn = -LongitudeTurns(lon[ring.first]);
    std::size_t before = ring.first;
    for (std::size_t k = 0; k <= ring.size; ++k) {
        const std::size_t i = ring.first + (k == ring.size ? 0 : k);
        turn = StepTurn(lon[before], lat[before], lon[i], lat[i], turn);
        before = i;
        lr->addPoint(lon[i] + 360.0 * static_cast<double>(turn), lat[i]);
    }
    if (ring.region != RingRegion::Interior) {
        const double pole = ring.region == RingRegion::NorthCap ? 90.0 : -90.0;
        const int last = lr->getNumPoints() - 1;
        lr->addPoint(lr->getX(last), pole);
        lr->addPoint(lr->getX(0), pole);
        lr->addPoint(lr->getX(0), lr->getY(0));
    }
    lr->getEnvelope(&extent);
    auto polygon = std::make_unique<OGRPolygon>();
    polygon->addRingDirectly(lr.release());
    return polygon;
}

// Adds the polygons of `g`, shifted by `by` degrees of longitude.
void AddShifted(const OGRGeometry& g, double by, OGRMultiPolygon& out)
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

// One ring's region within [-180, 180]: the unwrapped region intersected
// with each band of 360 degrees it reaches, each piece shifted back.
std::unique_ptr<OGRGeometry> Wrapped(const double* lon, const double* lat, const Ring& ring)
{
    OGREnvelope e;
    const std::unique_ptr<OGRPolygon> region = Unwrapped(lon, lat, ring, e);
    OGRMultiPolygon pieces;
    const auto first = static_cast<std::int64_t>(std::floor((e.MinX + 180.0) / 360.0));
    const auto last = static_cast<std::int64_t>(std::ceil((e.MaxX - 180.0) / 360.0));
    for (std::int64_t m = first; m <= last; ++m) {
        const double lo = -180.0 + 360.0 * static_cast<double>(m);
        OGRLinearRing band;
        band.addPoint(lo, -90.0);
        band.addPoint(lo + 360.0, -90.0);
        band.addPoint(lo + 360.0, 90.0);
        band.addPoint(lo, 90.0);
        band.closeRings();
        OGRPolygon box;
        box.addRing(&band);
        const std::unique_ptr<OGRGeometry> piece(region->Intersection(&box));
        if (!piece) {
            return nullptr;
        }
        AddShifted(*piece, -360.0 * static_cast<double>(m), pieces);
    }
    return std::unique_ptr<OGRGeometry>(pieces.UnionCascaded());
}

// `g`'s polygons into `shape`, outer rings counter-clockwise and holes
// clockwise, within [-180, 180] x [-90, 90] (GEOS may keep a vertex a few
// units in the last place beyond the band it cut with).
void Store(const OGRGeometry& g, RegionShape& shape)
{
    const OGRwkbGeometryType type = wkbFlatten(g.getGeometryType());
    if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
        for (const OGRGeometry* part : *g.toGeometryCollection()) {
            Store(*part, shape);
        }
        return;
    }
    if (type != wkbPolygon || g.IsEmpty()) {
        return;
    }
    bool outer = true;
    for (const OGRLinearRing* ring : *g.toPolygon()) {
        const int n = ring->getNumPoints();
        const bool turn = (ring->isClockwise() != 0) == outer;
        for (int k = 0; k < n; ++k) {
            const int i = turn ? n - 1 - k : k;
            shape.x.push_back(std::clamp(ring->getX(i), -180.0, 180.0));
            shape.y.push_back(std::clamp(ring->getY(i), -90.0, 90.0));
        }
        shape.ringEnd.push_back(shape.x.size());
        outer = false;
    }
    shape.polygonEnd.push_back(shape.ringEnd.size());
}

}  // namespace

bool ShapeCheck::Repair(const double* lon, const double* lat, const std::vector<Ring>& rings, RegionShape& shape)
{
    if (!shape.cut) {
        return false;
    }
    // GEOS tells why a polygon is invalid as a GDAL message: here an
    // expected answer, not a failure of the export.
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    const OGRMultiPolygon direct = AsMultiPolygon(shape);
    if (direct.IsValid()) {
        // Valid, and of the region's area: cutting and shifting keep the
        // area in the plane, so the islands' unwrapped areas less the
        // lakes' must come out again.
        double area = 0.0;
        for (const Ring& ring : rings) {
            OGREnvelope e;
            area += (ring.outer < 0 ? 1.0 : -1.0) * Unwrapped(lon, lat, ring, e)->get_Area();
        }
        if (std::fabs(direct.get_Area() - area) <= 1e-9 * std::fabs(area) + 1e-12) {
            return false;
        }
    }
    std::unique_ptr<OGRGeometry> region;
    for (const Ring& ring : rings) {
        std::unique_ptr<OGRGeometry> wrapped = Wrapped(lon, lat, ring);
        if (!wrapped) {
            return false;
        }
        region = region ? std::unique_ptr<OGRGeometry>(region->SymDifference(wrapped.get())) : std::move(wrapped);
        if (!region) {
            return false;
        }
    }
    if (!region || !region->IsValid()) {
        return false;
    }
    shape.x.clear();
    shape.y.clear();
    shape.ringEnd.clear();
    shape.polygonEnd.clear();
    Store(*region, shape);
    ++rebuilt_;
    return true;
}

std::string ShapeCheck::Note() const
{
    if (rebuilt_ == 0) {
        return {};
    }
    return "Export: GEOS rebuilt the polygons of " + std::to_string(rebuilt_) +
           (rebuilt_ == 1 ? " record, whose" : " records, whose") +
           " cut at the 180th meridian failed its check (flag polygon-rebuilt).";
}

}  // namespace zarn
