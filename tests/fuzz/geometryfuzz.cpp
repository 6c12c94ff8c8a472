// The geometry step against GEOS on seeded random rings: every ring is made
// in unwrapped longitudes, written in one of the ways a file may hold it,
// and put through what the export does (SplitRings, RegionShaper,
// ShapeCheck). Its truth is the GEOS cut of the ring as made (a ring round
// a pole closed through it), built here without the code under test. Each
// ring and its reverse must give valid polygons within [-180, 180] x
// [-90, 90], of the truth's region (symmetric difference), and ellipsoid
// figures of that region's side.
//
//   geometry_fuzz [--seed=N] [--rings=N] [--seconds=S]
//
// ctest runs it with a fixed seed; scripts/fuzz.sh runs it with fresh seeds
// for some seconds. It prints how many rings it tried, how many the direct
// cut left invalid (rebuilt by GEOS) and each failure as a record to keep as
// a named case.

#include "geodesic.h"
#include "geoscut.h"
#include "regionshape.h"
#include "rings.h"
#include "shapecheck.h"

#include <GeographicLib/Ellipsoid.hpp>
#include <cpl_error.h>
#include <ogr_api.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {
namespace {

constexpr double Pi = 3.14159265358979323846;

struct Made {
    const char* kind;
    std::vector<double> x;  // unwrapped, as made
    std::vector<double> y;
    double pole = 0.0;      // +-90: a ring round the globe, closed through that pole
    std::vector<double> lon;  // as written
    std::vector<double> lat;
};

using Rng = std::mt19937_64;

double Uniform(Rng& rng, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
int Pick(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool Chance(Rng& rng, double p) { return Uniform(rng, 0.0, 1.0) < p; }

// x moved a few units in the last place towards or past `to`.
double Ulps(Rng& rng, double to)
{
    double v = to;
    const int steps = Pick(rng, -4, 4);
    for (int k = 0; k < std::abs(steps); ++k) {
        v = std::nextafter(v, steps > 0 ? 1e9 : -1e9);
    }
    return v;
}

// Writes the made ring: wrapped into [-180, 180], as unwrapped, or each
// vertex a random whole turn away (every step of a made ring is short, so
// each reads back the same; 540 - 1e-14 would round to 540, so a vertex is
// only moved where the double holds it exactly).
void Write(Rng& rng, Made& m)
{
    const int way = Pick(rng, 0, 2);
    for (std::size_t k = 0; k < m.x.size(); ++k) {
        double lon = m.x[k];
        if (way == 0) {
            lon = std::remainder(lon, 360.0);
            if (std::fabs(lon) == 180.0 && Chance(rng, 0.5)) {
                lon = -lon;
            }
        } else if (way == 2) {
            const double turn = 360.0 * Pick(rng, -1, 1);
            if ((lon + turn) - turn == lon) {
                lon += turn;  // a whole turn away only where the double holds it exactly
            }
        }
        m.lon.push_back(lon);
        m.lat.push_back(m.y[k]);
    }
    // The last vertex repeats the first as written: the file closes the ring
    // there, and only there (a BNA ring ends where its first vertex recurs).
    m.lon.back() = m.lon.front();
    for (std::size_t k = 1; k + 1 < m.lon.size(); ++k) {
        if (m.lon[k] == m.lon.front() && m.lat[k] == m.lat.front()) {
            m.lon[k] += 360.0;
        }
    }
}

// A star round a point near 180, some vertices put on the meridian, a few
// units in the last place from it, or in runs along it.
Made AcrossTheMeridian(Rng& rng)
{
    Made m{"across 180", {}, {}, 0.0, {}, {}};
    const double cx = Uniform(rng, 165.0, 195.0);
    const double cy = Uniform(rng, -75.0, 75.0);
    const int n = Pick(rng, 3, 12);
    std::vector<double> angles;
    for (int k = 0; k < n; ++k) {
        angles.push_back(Uniform(rng, 0.0, 2.0 * Pi));
    }
    std::sort(angles.begin(), angles.end());
    for (const double a : angles) {
        const double r = Uniform(rng, 0.2, 14.0);
        double x = cx + r * std::cos(a);
        const double y = std::clamp(cy + r * std::sin(a), -89.0, 89.0);
        const double seam = std::round((x - 180.0) / 360.0) * 360.0 + 180.0;
        if (std::fabs(x - seam) < 4.0) {
            if (Chance(rng, 0.25)) {
                x = seam;
            } else if (Chance(rng, 0.2)) {
                x = Ulps(rng, seam);
            }
        }
        m.x.push_back(x);
        m.y.push_back(y);
    }
    m.x.push_back(m.x.front());
    m.y.push_back(m.y.front());
    Write(rng, m);
    return m;
}

// Steps round the globe, east or west, at latitudes on one side of the
// equator: the cap of that side.
Made RoundAPole(Rng& rng)
{
    Made m{"round a pole", {}, {}, 0.0, {}, {}};
    const double side = Chance(rng, 0.5) ? 1.0 : -1.0;
    const double way = Chance(rng, 0.5) ? 1.0 : -1.0;
    const int n = Pick(rng, 3, 16);
    std::vector<double> cuts;
    for (int k = 0; k < n - 1; ++k) {
        cuts.push_back(Uniform(rng, 0.0, 360.0));
    }
    cuts.push_back(0.0);
    cuts.push_back(360.0);
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t k = 1; k < cuts.size(); ++k) {
        if (cuts[k] - cuts[k - 1] >= 170.0) {  // short enough to stay short when a vertex is put on 180
            cuts.insert(cuts.begin() + static_cast<std::ptrdiff_t>(k), (cuts[k] + cuts[k - 1]) / 2.0);
            --k;
        }
    }
    const double x0 = Chance(rng, 0.3) ? 180.0 : Uniform(rng, -180.0, 180.0);
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        double x = x0 + way * cuts[k];
        const double seam = std::round((x - 180.0) / 360.0) * 360.0 + 180.0;
        if (std::fabs(x - seam) < 5.0 && Chance(rng, 0.3)) {
            x = Chance(rng, 0.5) ? seam : Ulps(rng, seam);
        }
        m.x.push_back(x);
        m.y.push_back(side * (Chance(rng, 0.05) ? 90.0 : Uniform(rng, 25.0, 89.0)));
    }
    m.x.push_back(m.x.front() + way * 360.0);
    m.y.push_back(m.y.front());
    m.pole = side * 90.0;
    Write(rng, m);
    return m;
}

// A band between two parallels (a polar box or the whole world where one
// is a pole): as GIS writes it, -180 to 180 in one step, or with vertices
// between, from -180 or from anywhere.
Made Band(Rng& rng)
{
    Made m{"band", {}, {}, 0.0, {}, {}};
    double y1 = Chance(rng, 0.25) ? -90.0 : Uniform(rng, -89.0, 89.0);
    double y2 = Chance(rng, 0.25) ? 90.0 : Uniform(rng, -89.0, 89.0);
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    if (y1 == y2) {
        y2 = y1 + 1.0;
    }
    const bool gis = Chance(rng, 0.5);
    const double x0 = gis || Chance(rng, 0.5) ? -180.0 : Uniform(rng, -180.0, 180.0);
    std::vector<double> between;
    if (!gis) {
        between = {x0 + 120.0, x0 + 240.0};
        for (int k = Pick(rng, 0, 4); k > 0; --k) {
            between.push_back(x0 + Uniform(rng, 1.0, 359.0));
        }
        std::sort(between.begin(), between.end());
    }
    const auto along = [&](double y, bool east) {
        m.x.push_back(east ? x0 : x0 + 360.0);
        m.y.push_back(y);
        for (std::size_t k = 0; k < between.size(); ++k) {
            m.x.push_back(east ? between[k] : between[between.size() - 1 - k]);
            m.y.push_back(y);
        }
        m.x.push_back(east ? x0 + 360.0 : x0);
        m.y.push_back(y);
    };
    along(y1, true);
    along(y2, false);
    m.x.push_back(m.x.front());
    m.y.push_back(m.y.front());
    if (gis) {
        m.lon = m.x;
        m.lat = m.y;
    } else {
        Write(rng, m);
    }
    return m;
}

// The truth: the made ring's region within [-180, 180] by GEOS.
std::unique_ptr<OGRGeometry> Truth(const Made& m)
{
    OGRLinearRing ring;
    for (std::size_t k = 0; k < m.x.size(); ++k) {
        ring.addPoint(m.x[k], m.y[k]);
    }
    if (m.pole != 0.0) {
        ring.addPoint(m.x.back(), m.pole);
        ring.addPoint(m.x.front(), m.pole);
        ring.addPoint(m.x.front(), m.y.front());
    }
    OGRPolygon region;
    region.addRing(&ring);
    if (!region.IsValid()) {
        return nullptr;  // not a simple ring as made: no case
    }
    OGRMultiPolygon pieces;
    for (int w = -3; w <= 3; ++w) {
        OGRPolygon box;
        box.addRingDirectly(test::LongitudeBand(-180.0 + 360.0 * w).release());
        const std::unique_ptr<OGRGeometry> piece(region.Intersection(&box));
        if (piece) {
            test::AddShifted(*piece, -360.0 * w, pieces);
        }
    }
    return std::unique_ptr<OGRGeometry>(pieces.UnionCascaded());
}

// The share of the earth of polygons whose edges are straight in longitude
// and latitude, on the authalic sphere (GeographicLib's authalic latitude,
// taken as straight along an edge): per ring the integral of
// sin(latitude) d(longitude) round it, the outer ring's less the holes',
// over 4 pi.
const GeographicLib::Ellipsoid& Authalic() { return GeographicLib::Ellipsoid::WGS84(); }

double EarthShare(const OGRGeometry& g)
{
    double area = 0.0;
    const OGRwkbGeometryType type = wkbFlatten(g.getGeometryType());
    if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
        for (const OGRGeometry* part : *g.toGeometryCollection()) {
            area += EarthShare(*part);
        }
        return area;
    }
    if (type != wkbPolygon) {
        return 0.0;
    }
    bool outer = true;
    for (const OGRLinearRing* ring : *g.toPolygon()) {
        double twice = 0.0;
        for (int k = 0; k + 1 < ring->getNumPoints(); ++k) {
            const double x1 = ring->getX(k) * Pi / 180.0;
            const double x2 = ring->getX(k + 1) * Pi / 180.0;
            const double y1 = Authalic().AuthalicLatitude(ring->getY(k)) * Pi / 180.0;
            const double y2 = Authalic().AuthalicLatitude(ring->getY(k + 1)) * Pi / 180.0;
            const double s = y1 == y2 ? std::sin(y1) : (std::cos(y1) - std::cos(y2)) / (y2 - y1);
            twice += (x2 - x1) * s;
        }
        area += (outer ? std::fabs(twice) : -std::fabs(twice)) / (4.0 * Pi);
        outer = false;
    }
    return area;
}

// The WGS84 ellipsoid's area.
constexpr double EarthKm2 = 510065621.724;

double PlaneArea(const OGRGeometry& g) { return OGR_G_Area(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&g))); }

struct Outcome {
    std::unique_ptr<OGRGeometry> shape;
    GeodesicFigures figures;
    bool rebuilt = false;
};

Outcome ThroughTheExport(const std::vector<double>& lon, const std::vector<double>& lat)
{
    Outcome o;
    std::vector<Ring> rings;
    SplitRings(lon.data(), lat.data(), lon.size(), Coordinates::Degrees, rings);
    RegionShaper shaper;
    RegionShape shape;
    shaper.Make(lon.data(), lat.data(), rings, Coordinates::Degrees, shape);
    ShapeCheck check;
    o.rebuilt = check.Repair(lon.data(), lat.data(), rings, shape);
    auto polygons = std::make_unique<OGRMultiPolygon>();
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        auto polygon = std::make_unique<OGRPolygon>();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            auto ring = std::make_unique<OGRLinearRing>();
            const std::size_t b = shape.RingBegin(r);
            ring->setPoints(static_cast<int>(shape.ringEnd[r] - b), shape.x.data() + b, shape.y.data() + b);
            polygon->addRingDirectly(ring.release());
        }
        polygons->addGeometryDirectly(polygon.release());
    }
    o.shape = std::move(polygons);
    EllipsoidMeter meter;
    meter.Measure(static_cast<std::int32_t>(lon.size()), lon.data(), lat.data(), lon.size(), o.figures);
    return o;
}

// What is wrong with one writing of a ring; empty when nothing is.
std::string Check(const Outcome& o, const OGRGeometry& truth)
{
    std::ostringstream why;
    if (!o.shape->IsValid()) {
        why << "invalid; ";
    }
    OGREnvelope e;
    o.shape->getEnvelope(&e);
    if (!o.shape->IsEmpty() && !(e.MinX >= -180.0 && e.MaxX <= 180.0 && e.MinY >= -90.0 && e.MaxY <= 90.0)) {
        why << "out of range; ";
    }
    const double want = PlaneArea(truth);
    if (o.shape->IsValid()) {
        const std::unique_ptr<OGRGeometry> apart(o.shape->SymDifference(&truth));
        const double off = apart ? PlaneArea(*apart) : want;
        if (!(off <= 1e-7 * want + 1e-12)) {
            why << "region off by " << off << " of " << want << " square degrees; ";
        }
    }
    // The ellipsoid figure, unless flagged long-edges: of the truth's side
    // (nearer its share of the earth than its complement's) and within 1 %
    // of it, with a little for reading the edges straight in authalic
    // latitude here.
    const double t = EarthShare(truth);
    const double g = o.figures.areaKm2 / EarthKm2;
    if ((o.figures.flags & LongEdges) == 0) {
        if (std::fabs(t - 0.5) > 0.01 && std::fabs(g - t) >= std::fabs(g - (1.0 - t))) {
            why << "ellipsoid figure of the other side (" << g << " of the earth, region " << t << "); ";
        }
        if (std::fabs(g - t) > 0.0102 * t + 1e-12) {
            why << "ellipsoid figure " << g << " of the earth for a region of " << t << " without long-edges; ";
        }
    }
    return why.str();
}

// The record as a BNA record, to be kept as a named case.
std::string AsRecord(const std::vector<double>& lon, const std::vector<double>& lat)
{
    std::ostringstream out;
    out.precision(17);
    out << "\"case\",\"\"," << lon.size() << "\n";
    for (std::size_t k = 0; k < lon.size(); ++k) {
        out << lon[k] << "," << lat[k] << "\n";
    }
    return out.str();
}

struct Tally {
    std::uint64_t rings = 0;
    std::uint64_t notSimple = 0;  // made rings that cross themselves: no case
    std::uint64_t rebuilt = 0;    // writings whose direct cut was invalid, rebuilt by GEOS
    std::uint64_t failed = 0;
};

void TryOne(Rng& rng, Tally& tally)
{
    const int kind = Pick(rng, 0, 2);
    const Made made = kind == 0 ? AcrossTheMeridian(rng) : kind == 1 ? RoundAPole(rng) : Band(rng);
    const std::unique_ptr<OGRGeometry> truth = Truth(made);
    if (!truth) {
        ++tally.notSimple;
        return;
    }
    ++tally.rings;
    std::vector<double> lon = made.lon;
    std::vector<double> lat = made.lat;
    const Outcome forward = ThroughTheExport(lon, lat);
    std::reverse(lon.begin(), lon.end());
    std::reverse(lat.begin(), lat.end());
    const Outcome backward = ThroughTheExport(lon, lat);
    tally.rebuilt += (forward.rebuilt ? 1 : 0) + (backward.rebuilt ? 1 : 0);
    std::string why = Check(forward, *truth);
    const std::string reversed = Check(backward, *truth);
    if (!reversed.empty()) {
        why += "reversed: " + reversed;
    }
    const double a = forward.figures.areaKm2;
    const double b = backward.figures.areaKm2;
    if (std::fabs(a - b) > 1e-9 * std::max(a, b) + 1e-9 || forward.figures.flags != backward.figures.flags) {
        std::ostringstream text;
        text << "figures differ reversed (" << a << " and " << b << " km2, flags " << forward.figures.flags << " and "
             << backward.figures.flags << "); ";
        why += text.str();
    }
    if (!why.empty()) {
        ++tally.failed;
        std::printf("FAILED (%s): %s\n%s", made.kind, why.c_str(), AsRecord(made.lon, made.lat).c_str());
    }
}

}  // namespace
}  // namespace zarn

int main(int argc, char** argv)
{
    std::uint64_t seed = 1;
    std::uint64_t rings = 0;
    double seconds = 0.0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--seed=")) {
            seed = std::strtoull(argv[i] + 7, nullptr, 10);
        } else if (arg.starts_with("--rings=")) {
            rings = std::strtoull(argv[i] + 8, nullptr, 10);
        } else if (arg.starts_with("--seconds=")) {
            seconds = std::strtod(argv[i] + 10, nullptr);
        } else {
            std::fprintf(stderr, "usage: geometry_fuzz [--seed=N] [--rings=N] [--seconds=S]\n");
            return 2;
        }
    }
    if (rings == 0 && seconds <= 0.0) {
        rings = 2000;
    }
    // GEOS says why a ring made here crosses itself: such rings are skipped.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    zarn::Rng rng(seed);
    zarn::Tally tally;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    while (rings > 0 ? tally.rings < rings : elapsed() < seconds) {
        zarn::TryOne(rng, tally);
    }
    std::printf("geometry_fuzz: seed %llu, %llu rings tried (each both ways round; %llu made crossing themselves "
                "skipped), %llu writings rebuilt by GEOS, %llu failed\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(tally.rings),
                static_cast<unsigned long long>(tally.notSimple), static_cast<unsigned long long>(tally.rebuilt),
                static_cast<unsigned long long>(tally.failed));
    return tally.failed == 0 ? 0 : 1;
}
