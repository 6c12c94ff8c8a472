#include "shapecheck.h"

#include "exportrows.h"
#include "ringrule.h"

#include <cpl_error.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace zarn {

namespace {


// GEOS's validity test holds several times a record's vertices in memory;
// a record of more is checked by its area alone.
constexpr std::size_t MaxCheckedVertices = 1000000;

// Calls each(x, y) for the closed ring of a ring's region in unwrapped
// longitudes, its first vertex within [-180, 180]; a ring round the globe
// closed through the pole of its region.
template <typename Each>
void ForUnwrapped(const double* lon, const double* lat, const Ring& ring, Each each)
{
    std::int64_t turn = -LongitudeTurns(lon[ring.first]);
    std::size_t before = ring.first;
    double x = 0.0;
    for (std::size_t k = 0; k <= ring.size; ++k) {
        const std::size_t i = ring.first + (k == ring.size ? 0 : k);
        turn = StepTurn(lon[before], lat[before], lon[i], lat[i], turn);
        before = i;
        x = lon[i] + 360.0 * static_cast<double>(turn);
        each(x, lat[i]);
    }
    if (ring.region != RingRegion::Interior) {
        const double pole = ring.region == RingRegion::NorthCap ? 90.0 : -90.0;
        const double x0 = lon[ring.first] - 360.0 * static_cast<double>(LongitudeTurns(lon[ring.first]));
        each(x, pole);
        each(x0, pole);
        each(x0, lat[ring.first]);
    }
}

std::unique_ptr<OGRPolygon> Unwrapped(const double* lon, const double* lat, const Ring& ring, OGREnvelope& extent)
{
    auto lr = std::make_unique<OGRLinearRing>();
    ForUnwrapped(lon, lat, ring, [&](double x, double y) { lr->addPoint(x, y); });
    lr->getEnvelope(&extent);
    auto polygon = std::make_unique<OGRPolygon>();
    polygon->addRingDirectly(lr.release());
    return polygon;
}

// The record's region's area in the plane of unwrapped longitudes, which
// cutting and shifting keep: the islands' less the lakes'.
double RegionArea(const double* lon, const double* lat, const std::vector<Ring>& rings)
{
    double area = 0.0;
    for (const Ring& ring : rings) {
        double twice = 0.0;
        bool first = true;
        double x0 = 0.0;
        double y0 = 0.0;
        double xp = 0.0;
        double yp = 0.0;
        ForUnwrapped(lon, lat, ring, [&](double x, double y) {
            if (first) {
                x0 = x;
                y0 = y;
                first = false;
            } else {
                twice += (xp - x0) * (y - y0) - (x - x0) * (yp - y0);
            }
            xp = x;
            yp = y;
        });
        area += (ring.outer < 0 ? 0.5 : -0.5) * std::fabs(twice);
    }
    return area;
}

// The polygons' area, outer rings counter-clockwise and holes clockwise.
double ShapeArea(const RegionShape& shape)
{
    double twice = 0.0;
    for (std::size_t r = 0; r < shape.ringEnd.size(); ++r) {
        const std::size_t b = shape.RingBegin(r);
        for (std::size_t k = b + 1; k + 1 < shape.ringEnd[r]; ++k) {
            twice += (shape.x[k] - shape.x[b]) * (shape.y[k + 1] - shape.y[b]) -
                     (shape.x[k + 1] - shape.x[b]) * (shape.y[k] - shape.y[b]);
        }
    }
    return twice / 2.0;
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
// with each band of 360 degrees it reaches, each piece shifted back. A ring
// through a pole touches its own closure there: GEOS's MakeValid makes such
// a shape one it can intersect.
std::unique_ptr<OGRGeometry> Wrapped(const double* lon, const double* lat, const Ring& ring)
{
    OGREnvelope e;
    std::unique_ptr<OGRGeometry> region = Unwrapped(lon, lat, ring, e);
    if (!region->IsValid()) {
        region.reset(region->MakeValid());
        if (!region) {
            return nullptr;
        }
    }
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
    static const bool geos = OGRGeometryFactory::haveGEOS();
    if (!shape.cut || !geos) {
        return false;
    }
    // GEOS tells why a polygon is invalid as a GDAL message: here an
    // expected answer, not a failure of the export.
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    const double area = RegionArea(lon, lat, rings);
    if (std::fabs(ShapeArea(shape) - area) <= 1e-9 * std::fabs(area) + 1e-12 &&
        (shape.x.size() > MaxCheckedVertices || [&] {
            OGRMultiPolygon polygons;
            gis::MakeMultiPolygon(shape, polygons);
            return polygons.IsValid();
        }())) {
        return false;
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
