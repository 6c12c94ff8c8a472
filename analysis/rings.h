#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarn {

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
    // ring list of the smallest ring (by its area on the plane of degrees)
    // that contains it. A ring inside an odd number of the record's other
    // rings is a hole.
    std::int32_t outer = -1;
};

// Splits the n points of a record (degrees, longitude and latitude as
// written) into rings and nests them. Containment is decided with a vertex of
// the ring that does not lie on the other ring, longitudes unwrapped relative
// to the record's first point. `rings` is overwritten; its capacity is reused.
void SplitRings(const double* lon, const double* lat, std::size_t n, std::vector<Ring>& rings);

}  // namespace zarn
