#pragma once

#include "rings.h"

#include <cstddef>
#include <vector>

namespace zarn {

// A record's region as polygons in the plane of longitude and latitude,
// ready for any GIS format: each polygon an outer ring counter-clockwise and
// its holes clockwise, every ring closed on its first vertex.
struct RegionShape {
    std::vector<double> x;
    std::vector<double> y;
    // Ring r holds the vertices [ringEnd[r - 1], ringEnd[r]) (from 0 for the first).
    std::vector<std::size_t> ringEnd;
    // Polygon p holds the rings [polygonEnd[p - 1], polygonEnd[p]); its first is the outer ring.
    std::vector<std::size_t> polygonEnd;
    // Some ring was cut at the 180th meridian, closed through a pole or has
    // a vertex on the meridian.
    bool cut = false;

    void Clear();
    std::size_t Polygons() const { return polygonEnd.size(); }
    std::size_t RingBegin(std::size_t r) const { return r == 0 ? 0 : ringEnd[r - 1]; }
    std::size_t PolygonBegin(std::size_t p) const { return p == 0 ? 0 : polygonEnd[p - 1]; }
};

// Turns a record's rings (as SplitRings found them, with their regions and
// nesting) into its region as polygons: the geometry step of every export.
//
// Degrees: the region on the sphere, cut into the plane [-180, 180] x
// [-90, 90]. Each ring is read as ringrule.h states: unwrapped, every step
// the short way round but for full-width edges along a parallel, its region
// its interior as drawn or, for a ring round the globe, its cap. A ring
// round a pole is closed through it: at its ends it runs along the meridian
// to +-90 and along the pole line. Rings are cut where they cross the 180th
// meridian, the crossing's latitude interpolated linearly (edges are straight
// in longitude and latitude, as RFC 7946 reads them); the pieces are shifted
// into [-180, 180] and joined along the meridian and the pole lines. Where a
// ring touches or runs along the meridian or a pole line with its region
// on the far side (the region goes on across it), it is split there, so that
// the pieces meet the border rather than one ring running along itself. Holes
// and islands are those of the nesting on the sphere. Every vertex that is
// not on a cut is the double read (a longitude beyond +-180 shifted by whole
// turns, exactly), the vertices on a cut lie at exactly -180 or 180, and a
// full-width edge gains a vertex at longitude 0 on its parallel.
// For valid rings (none crossing itself or another) the polygons are meant
// to be valid (OGC simple features: rings simple, holes inside their outer
// ring, no two polygons overlapping); the export checks those it cut with
// GEOS all the same (see ShapeCheck), since vertices a few units in the last
// place from the meridian can leave a cut ring touching itself, as do rings
// that touch themselves on the sphere (a band whose seam is off 180).
//
// Plane: the rings as written, oriented and nested in the plane.
//
// The time grows with the vertices, and as n log n with the rings where a
// cut leaves holes to be placed again.
class RegionShaper {
public:
    void Make(const double* lon, const double* lat, const std::vector<Ring>& rings, Coordinates coordinates,
              RegionShape& out);

private:
    struct Piece {
        std::size_t begin;  // in px_, py_
        std::size_t end;
        std::int32_t source;  // the ring it comes from; -1 for rings joined from pieces of several
        bool chain;           // an open piece from one cut to the next
        double startT = 0.0;  // chains: where they start and end on the border of the plane
        double endT = 0.0;
    };

    void Orient(const double* lon, const double* lat, const Ring& r, bool forward, std::int32_t source);
    void Cut(const double* lon, const double* lat, const Ring& r, bool forward, std::int32_t source);
    bool SplitFullWidth(const double* lon, const double* lat, const Ring& r);
    void JoinChains();
    void Assemble(const std::vector<Ring>& rings, Coordinates coordinates, RegionShape& out);

    std::vector<double> px_;
    std::vector<double> py_;
    std::vector<Piece> pieces_;
    std::vector<double> firstX_;  // the first chain of the ring being cut, joined to its last at the end
    std::vector<double> firstY_;
    std::vector<double> wideLon_;  // a ring with its full-width edges split
    std::vector<double> wideLat_;
    bool touches_ = false;  // a vertex of some ring lies on the meridian
};

// A line (a line record, a segment) in the plane of longitude and latitude,
// as RegionShaper treats rings: in degrees unwrapped (every step the short
// way round) and cut where it crosses the 180th meridian, each piece shifted
// into [-180, 180]; in plane coordinates as written. Its pieces are the
// "rings" of `out` (not closed), polygonEnd stays empty.
void CutLine(const double* lon, const double* lat, std::size_t n, Coordinates coordinates, RegionShape& out);

}  // namespace zarn
