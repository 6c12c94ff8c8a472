#pragma once

#include "rings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zarn {

// Figures of one record on the WGS84 ellipsoid (a = 6378137 m,
// f = 1/298.257223563), from its coordinates as written in the file (double
// precision, degrees), every record's rings, their regions and their nesting
// as SplitRings finds them by the ring rule of ringrule.h (the same as the
// GIS export's polygons). Edges are geodesics between consecutive vertices,
// each ring closed back to its first vertex, except that a full-width edge
// (-180 to 180 at one latitude) is its parallel. Longitudes are taken modulo
// 360. Where the region's area with geodesic edges and with edges straight
// in longitude and latitude (as the export draws them) differ by more than
// 1 %, the record is flagged long-edges: its edges are too long for the two
// readings to be one region.
//
// Method and error: each ring is summed on the authalic sphere (radius
// 6371007.18 m, the ellipsoid's area) as a fan of spherical triangles from
// its first vertex, with a first-order term per edge for the difference
// between the geodesic's image and the great circle; edges over 100 km take
// the exact geodesic from GeographicLib (Geodesic::GenInverse). Against
// GeographicLib's PolygonArea, over rings from metres to thousands of
// kilometres at all latitudes, the area stays within 4e-8 (relative; 1e-9 km²
// for rings under 1 km²) and the perimeter within 1e-7 (relative). The
// centroid follows its definition below to 1e-7 degrees.

enum GeodesicFlag : std::uint32_t {
    CrossesAntimeridian = 1U << 0,  // a longitude beyond +-180, or a step of more than 180 degrees
    EnclosesPole = 1U << 1,         // the ring goes round the pole axis, or runs along a pole line
    ClosedHere = 1U << 2,           // first and last points differ
    MultiRing = 1U << 3,            // more than one ring
    OverPointLimit = 1U << 4,       // more than MaxPoints points
    NoRing = 1U << 5,               // fewer than 3 points, a line record, or no ring of 3 distinct points
    ClassicDiffers = 1U << 6,       // the classic area differs by more than 1 % (set by the run)
    NotDegrees = 1U << 7,           // the file's coordinates are not degrees: no figures
    LongEdges = 1U << 8,            // geodesic and straight edges give areas more than 1 % apart
    PolygonRebuilt = 1U << 9,       // the export's polygons were rebuilt by GEOS (set by the export)
};

struct GeodesicFigures {
    // False for a record whose coordinates are not degrees (NotDegrees): it
    // has no figures at all, and its table row leaves them empty.
    bool hasFigures = true;
    // km²: the outer rings' areas less the holes'; each ring's area is that
    // of its region as SplitRings decides it (ringrule.h), whatever its
    // direction. 0 for a record without a ring.
    double areaKm2 = 0.0;
    // km: the geodesic length of every ring's edges, closing edges included
    // (separator steps between rings are no edges).
    double perimeterKm = 0.0;
    // Degrees: the direction of the surface integral of the position over the
    // region on the authalic sphere (c = 1/2 sum theta_i n_i over the edges as
    // great circles there; -c for a ring whose region lies to its right;
    // holes subtracted), its authalic latitude mapped back to geodetic
    // latitude; longitude in [-180, 180). None for a record without a ring,
    // or when the integral vanishes (a ring without extent).
    bool hasCentroid = false;
    double centroidLon = 0.0;
    double centroidLat = 0.0;
    std::uint32_t flags = 0;  // GeodesicFlag bits
};

// Measures records one after another, reusing its buffers.
class EllipsoidMeter {
public:
    // `count` is the record's point count as written in its header (negative
    // for a line record); lon and lat hold its n pairs, any number of them.
    // Sets every flag but ClassicDiffers. A record of a file whose
    // coordinates are not degrees (`coordinates`), and one with a latitude
    // beyond +-90 degrees or a longitude beyond +-LongitudeLimit (or not
    // finite), is not on the
    // ellipsoid: it gets NotDegrees and no figures (hasFigures false), and
    // the flags of what it holds as plane rings (closed-here, multi-ring,
    // over-point-limit, no-ring).
    void Measure(std::int32_t count, const double* lon, const double* lat, std::size_t n, GeodesicFigures& out,
                 Coordinates coordinates = Coordinates::Degrees);

    // The rings of the last record measured.
    const std::vector<Ring>& Rings() const { return rings_; }

private:
    std::vector<Ring> rings_;
    std::vector<double> netAreas_;
};

// Appends the flag words that apply, joined by ';', in this order:
// crosses-antimeridian, encloses-pole, closed-here, multi-ring,
// over-point-limit, not-degrees, no-ring, classic-differs, long-edges,
// polygon-rebuilt.
void AppendFlagWords(std::string& out, std::uint32_t flags);

}  // namespace zarn
