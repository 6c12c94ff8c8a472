#pragma once

// How a ring of longitudes and latitudes in degrees is read: the one rule
// that the nesting (NestRings), the export's polygons (RegionShaper) and the
// ellipsoid figures (EllipsoidMeter) all take from here, so that every
// output describes one region for one ring.
//
// Steps. A ring is unwrapped: each step from one vertex to the next is taken
// the short way round (a step of exactly 180 degrees as written), except a
// step between exactly -180 and exactly +180 at one latitude, which is an
// edge along that parallel, 360 degrees long, in the direction written. That
// is how GIS reads such a step (RFC 7946, GDAL, QGIS): a polar box, a
// latitude band or the whole world written as `-180,y1 / 180,y1 / 180,y2 /
// -180,y2` is that box, band or world, never a line.
//
// Region. Two kinds of ring, told apart by where the unwrapped walk ends:
//   - It comes back to the longitude it started from (turns == 0): the ring
//     bounds its interior as drawn in the plane of unwrapped longitudes,
//     whatever its orientation and however large. A band over 60 % of the
//     world is that band; the whole-world box is the world. Choosing "the
//     smaller side" instead would make a ring's region depend on how its
//     edges are measured, and turn a large band into its complement.
//   - It goes round the globe (turns != 0): the ring bounds the region
//     between it and one pole, the pole on the smaller side. The sides are
//     measured with the same straight edges as the export draws (see
//     StraightSouthIntegral), so that the export and the figures agree on
//     the side however long the edges are.
// A ring and its reverse bound the same region: nothing here depends on the
// orientation.
//
// Edges. The exported polygons have edges straight in longitude and latitude
// (RFC 7946). The ellipsoid figures take geodesic edges, except that a
// full-width edge counts as its parallel; where the two readings differ by
// more than 1 % in area the figures carry the flag long-edges.
//
// Size. A longitude beyond +-LongitudeLimit is not taken as degrees: such a
// file is read as plane coordinates (as one whose latitude lies beyond +-90),
// so that every figure of it stays finite and the whole turns of a longitude
// stay exact in 64-bit integers and doubles.

#include <cmath>
#include <cstdint>

namespace zarn {

// Degrees of longitude beyond which a coordinate is no longer degrees.
constexpr double LongitudeLimit = 1e6;

// A longitude reduced into [-180, 180), exactly (the remainder of a double
// by 360 is exact).
inline double WrapLongitude(double lon)
{
    const double r = std::remainder(lon, 360.0);
    return r >= 180.0 ? r - 360.0 : r;
}

// The whole turns in a longitude: lon = remainder(lon, 360) + 360 *
// LongitudeTurns(lon); 0 for a longitude not finite or beyond the limit.
inline std::int64_t LongitudeTurns(double lon)
{
    if (!(std::fabs(lon) <= LongitudeLimit)) {
        return 0;
    }
    return std::llround((lon - std::remainder(lon, 360.0)) / 360.0);
}

// A step from -180 to +180 (or back) at one latitude: an edge along the parallel.
inline bool FullWidthStep(double lon1, double lat1, double lon2, double lat2)
{
    return lat1 == lat2 && std::fabs(lon1) == 180.0 && lon2 == -lon1;
}

// How a ring's longitudes unwrap: a vertex lies at lon + 360 * turn. Returns
// the turn of the vertex (lon, lat) after (previousLon, previousLat) with
// `turn` (start at 0, or at -LongitudeTurns of the first vertex to start
// within [-180, 180]).
inline std::int64_t StepTurn(double previousLon, double previousLat, double lon, double lat, std::int64_t turn)
{
    const double step = lon - previousLon;
    if (!(std::fabs(step) > 180.0) || !(std::fabs(step) <= 2.0 * LongitudeLimit) ||
        FullWidthStep(previousLon, previousLat, lon, lat)) {
        return turn;
    }
    return turn - std::llround((step - std::remainder(step, 360.0)) / 360.0);
}

// The integral of sin(latitude) d(longitude) along a straight edge from
// (x1, y1) to (x2, y2), all in radians, x unwrapped. Summed over a ring it
// gives, with the ring's turns, the area between the ring and the south
// pole on the unit sphere: 2 pi turns + sum, for straight edges.
inline double StraightSouthIntegral(double x1, double y1, double x2, double y2)
{
    const double h = (y2 - y1) / 2.0;
    const double sinc = std::fabs(h) < 1e-4 ? 1.0 - h * h / 6.0 : std::sin(h) / h;
    return (x2 - x1) * std::sin((y1 + y2) / 2.0) * sinc;
}

}  // namespace zarn
