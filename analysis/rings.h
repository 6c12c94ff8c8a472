#pragma once

#include "ringrule.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarn {

// What a file's coordinates are. A file is in degrees (longitude, latitude)
// unless one of its latitudes lies beyond +-90 or one of its longitudes
// beyond +-LongitudeLimit (ringrule.h); then its coordinates are taken as
// plane x, y as written.
enum class Coordinates : std::uint8_t { Degrees, Plane };

// The region a ring bounds (the rule and its reasons are in ringrule.h).
//   Degrees:
//   Interior    the ring's unwrapped longitudes come back to where they
//               started: its region is what it encloses in the plane of
//               unwrapped longitudes, whatever its orientation and size;
//   NorthCap    the ring goes round the pole axis (its steps add up to a
//   SouthCap    multiple of 360 degrees, not 0): its region lies between it
//               and that pole, the one on the smaller side.
//   Plane: always Interior.
enum class RingRegion : std::uint8_t { Interior, NorthCap, SouthCap };

// The rings of one record, in the "islands and lakes" convention of BNA
// writers: the first ring is written and closed on its own first vertex; each
// further ring follows, closed on its own first vertex, and is then followed
// by a repeat of the first ring's first vertex (a separator, not a ring).
// A record whose first vertex never recurs is one ring, closed here. Points
// left after the last closed ring form one more ring, closed here. A ring
// that repeats an earlier ring of the record, or has fewer than 3 distinct
// points, is dropped. Vertices compare as the doubles read from the file.
struct Ring {
    std::size_t first = 0;    // index of its first vertex in the record's points
    std::size_t size = 0;     // its vertices, the closing repeat not counted
    bool closedHere = false;  // the file left it open: an edge back to its first vertex closes it
    // -1 for an outer ring (an island); for a hole (a lake), the index in the
    // ring list of the smallest ring (by region) whose region contains it. A
    // ring whose region lies in the regions of an odd number of the record's
    // other rings is a hole. In degrees the regions are those on the sphere
    // (RingRegion), so that islands beside a ring round a pole stay islands.
    std::int32_t outer = -1;
    RingRegion region = RingRegion::Interior;
    // The region lies to the left of the ring as written (walking its
    // vertices in file order).
    bool regionLeft = true;
    // Degrees: how often the ring goes round the pole axis, eastward
    // positive (0 for a ring that does not enclose a pole).
    std::int32_t turns = 0;
};

// Splits the n points of a record into rings, drops repeated rings and nests
// them (NestRings). `rings` is overwritten; its capacity is reused. Splitting
// and the search for repeated rings take time in proportion to n.
void SplitRings(const double* lon, const double* lat, std::size_t n, Coordinates coordinates,
                std::vector<Ring>& rings);

// Decides each ring's region (region, regionLeft, turns) and nests the rings
// (outer) by their regions. Containment is decided with a vertex of the ring
// that does not lie on the other ring. The rings' first and size must be
// set; the rest is overwritten. Candidates are found through a grid over the
// rings' extents and each test through an index of the larger ring's edges,
// so that the time grows as n log n in the rings for rings nested a few
// levels deep (as islands and lakes are), whatever their sizes.
void NestRings(const double* lon, const double* lat, Coordinates coordinates, std::vector<Ring>& rings);

}  // namespace zarn
