#include "rings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace zarn {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Degree = Pi / 180.0;
// The plane of longitude and latitude: its width and height in degrees.
constexpr double WorldWidth = 360.0;
constexpr double HalfWorld = 180.0 * 180.0;  // half the area of [-180, 180] x [-90, 90]

class RecordPoints {
public:
    RecordPoints(const double* lon, const double* lat) : lon_(lon), lat_(lat) {}

    bool Same(std::size_t i, std::size_t j) const { return lon_[i] == lon_[j] && lat_[i] == lat_[j]; }

    // Index of the next point from `from` on that repeats point `of`; n when none does.
    std::size_t NextRepeat(std::size_t of, std::size_t from, std::size_t n) const
    {
        while (from < n && !Same(of, from)) {
            ++from;
        }
        return from;
    }

    bool HasThreeDistinct(const Ring& r) const
    {
        const std::size_t end = r.first + r.size;
        std::size_t second = r.first + 1;
        while (second < end && Same(second, r.first)) {
            ++second;
        }
        for (std::size_t k = second + 1; k < end; ++k) {
            if (!Same(k, r.first) && !Same(k, second)) {
                return true;
            }
        }
        return false;
    }

    bool SameRing(const Ring& a, const Ring& b) const
    {
        if (a.size != b.size) {
            return false;
        }
        for (std::size_t k = 0; k < a.size; ++k) {
            if (!Same(a.first + k, b.first + k)) {
                return false;
            }
        }
        return true;
    }

    // Of the ring's vertices as the doubles read (0 and -0 alike).
    std::uint64_t Hash(const Ring& r) const
    {
        std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ r.size;
        for (std::size_t k = r.first; k < r.first + r.size; ++k) {
            for (const double v : {lon_[k] + 0.0, lat_[k] + 0.0}) {
                std::uint64_t bits = 0;
                std::memcpy(&bits, &v, sizeof bits);
                h = (h ^ bits) * 0x100000001B3ULL;
                h ^= h >> 29U;
            }
        }
        return h;
    }

private:
    const double* lon_;
    const double* lat_;
};

void AddRing(const RecordPoints& pts, std::size_t first, std::size_t size, bool closedHere, std::vector<Ring>& rings)
{
    Ring ring;
    ring.first = first;
    ring.size = size;
    ring.closedHere = closedHere;
    if (pts.HasThreeDistinct(ring)) {
        rings.push_back(ring);
    }
}

// Drops every ring that repeats an earlier one: rings sorted by a hash of
// their vertices, so that only rings of equal hashes are compared.
void DropRepeats(const RecordPoints& pts, std::vector<Ring>& rings)
{
    if (rings.size() < 2) {
        return;
    }
    struct Key {
        std::uint64_t hash;
        std::size_t index;
    };
    std::vector<Key> keys(rings.size());
    for (std::size_t i = 0; i < rings.size(); ++i) {
        keys[i] = {pts.Hash(rings[i]), i};
    }
    std::sort(keys.begin(), keys.end(),
              [](const Key& a, const Key& b) { return a.hash != b.hash ? a.hash < b.hash : a.index < b.index; });
    std::vector<bool> repeat(rings.size(), false);
    for (std::size_t g = 0; g < keys.size();) {
        std::size_t end = g + 1;
        while (end < keys.size() && keys[end].hash == keys[g].hash) {
            ++end;
        }
        for (std::size_t a = g + 1; a < end; ++a) {
            for (std::size_t b = g; b < a; ++b) {
                if (!repeat[keys[b].index] && pts.SameRing(rings[keys[b].index], rings[keys[a].index])) {
                    repeat[keys[a].index] = true;
                    break;
                }
            }
        }
        g = end;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rings.size(); ++i) {
        if (!repeat[i]) {
            rings[kept++] = rings[i];
        }
    }
    rings.resize(kept);
}

// ------------------------------------------------------------------ regions

// A ring's vertices one after another, the closing edge back to the first
// included, with unwrapped longitudes in degrees: the first vertex at its
// longitude reduced into [-180, 180], each further one the short way from
// the one before. In the plane, x as written.
class RingWalk {
public:
    RingWalk(const double* lon, const double* lat, const Ring& r, Coordinates c)
        : lon_(lon), lat_(lat), first_(r.first), size_(r.size), degrees_(c == Coordinates::Degrees)
    {
        if (degrees_) {
            const double l = lon[first_];
            turn_ = std::fabs(l) <= 180.0 ? 0 : -LongitudeTurns(l);
        }
        startTurn_ = turn_;
    }

    // Steps to vertex k of the ring (1 .. size, where size is the first again).
    void Step(std::size_t k)
    {
        const std::size_t i = first_ + (k == size_ ? 0 : k);
        if (degrees_) {
            turn_ = StepTurn(lon_[prev_], lat_[prev_], lon_[i], lat_[i], turn_);
        }
        prev_ = i;
    }
    void Start() { prev_ = first_; turn_ = startTurn_; }
    double X() const { return degrees_ ? lon_[prev_] + WorldWidth * static_cast<double>(turn_) : lon_[prev_]; }
    double Y() const { return lat_[prev_]; }
    std::int64_t Turn() const { return turn_; }
    std::int64_t StartTurn() const { return startTurn_; }

private:
    const double* lon_;
    const double* lat_;
    std::size_t first_;
    std::size_t size_;
    bool degrees_;
    std::size_t prev_ = 0;
    std::int64_t turn_ = 0;
    std::int64_t startTurn_ = 0;
};

// What the nesting needs of a ring besides its region.
struct RingExtent {
    double minX = 0.0;  // unwrapped
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    double measure = 0.0;  // the region's area in the plane of longitude and latitude (square degrees)
    bool northIn = false;  // the region holds the north pole (degrees), for the ray tests upward
};

// The sum of StraightSouthIntegral over a ring's edges.
double SouthIntegral(const double* lon, const double* lat, const Ring& r)
{
    double sum = 0.0;
    RingWalk walk(lon, lat, r, Coordinates::Degrees);
    walk.Start();
    double x1 = walk.X() * Degree;
    double y1 = walk.Y() * Degree;
    for (std::size_t k = 1; k <= r.size; ++k) {
        walk.Step(k);
        const double x2 = walk.X() * Degree;
        const double y2 = walk.Y() * Degree;
        sum += StraightSouthIntegral(x1, y1, x2, y2);
        x1 = x2;
        y1 = y2;
    }
    return sum;
}

RingExtent DecideRegion(const double* lon, const double* lat, Ring& r, Coordinates c)
{
    RingWalk walk(lon, lat, r, c);
    walk.Start();
    RingExtent e;
    const double x0 = walk.X();
    const double y0 = walk.Y();
    e.minX = e.maxX = x0;
    e.minY = e.maxY = y0;
    // Twice the trapezoids under the edges (sum of dx (y1 + y2)), about the
    // first vertex so that the products stay small.
    double twice = 0.0;
    double xp = x0;
    double yp = 0.0;
    for (std::size_t k = 1; k <= r.size; ++k) {
        walk.Step(k);
        const double x = walk.X();
        const double y = walk.Y() - y0;
        twice += (x - xp) * (y + yp);
        xp = x;
        yp = y;
        if (k < r.size) {
            e.minX = std::min(e.minX, x);
            e.maxX = std::max(e.maxX, x);
            e.minY = std::min(e.minY, walk.Y());
            e.maxY = std::max(e.maxY, walk.Y());
        }
    }
    const std::int64_t turns = walk.Turn() - walk.StartTurn();
    // sum of dx (y1 + y2) / 2 in true latitudes: the shift by y0 added back.
    const double trapezoids = twice / 2.0 + y0 * WorldWidth * static_cast<double>(turns);
    const double planar = -trapezoids;  // enclosed area, counter-clockwise positive (turns == 0)
    r.turns = static_cast<std::int32_t>(std::clamp<std::int64_t>(turns, -1000000, 1000000));
    const bool ccw = planar > 0.0;
    if (c == Coordinates::Plane) {
        r.region = RingRegion::Interior;
        r.regionLeft = ccw;
        e.measure = std::fabs(planar);
        return e;
    }
    if (turns == 0) {
        r.region = RingRegion::Interior;
        r.regionLeft = ccw;
    } else {
        // The pole on the smaller side, measured with the edges straight.
        const bool north = SouthIntegral(lon, lat, r) * static_cast<double>(turns) > 0.0;
        r.region = north ? RingRegion::NorthCap : RingRegion::SouthCap;
        r.regionLeft = north == (turns > 0);
    }
    const double sign = turns > 0 ? 1.0 : -1.0;
    switch (r.region) {
    case RingRegion::Interior:
        e.measure = std::fabs(planar);
        break;
    case RingRegion::NorthCap:
        e.measure = HalfWorld - sign * trapezoids;
        e.northIn = true;
        break;
    case RingRegion::SouthCap:
        e.measure = HalfWorld + sign * trapezoids;
        break;
    }
    return e;
}

// ------------------------------------------------------------------ nesting

enum class Place { Outside, Inside, OnBoundary };

// floor(v) as an index into n slots, clamped to them.
std::size_t Slot(double v, std::size_t n)
{
    const double f = std::floor(v);
    if (!(f > 0.0)) {
        return 0;
    }
    return f >= static_cast<double>(n - 1) ? n - 1 : static_cast<std::size_t>(f);
}

// An edge with its west end first; in degrees shifted by whole turns so
// that its west end lies in [-180, 180).
struct Edge {
    double xa;
    double ya;
    double xb;
    double yb;
};

// Where (px, py) lies against an edge, for the ray from it upward (to the
// north pole in degrees): counts a crossing where the edge passes above it,
// its x range taken half-open so that a vertex on the ray counts once.
// Returns false when the point lies on the edge.
inline bool CountCrossing(const Edge& e, double px, double py, int& crossings)
{
    if (px < e.xa || px > e.xb) {
        return true;
    }
    if (e.xa == e.xb) {
        return !(py >= std::min(e.ya, e.yb) && py <= std::max(e.ya, e.yb));
    }
    const double cross = (e.xb - e.xa) * (py - e.ya) - (e.yb - e.ya) * (px - e.xa);
    if (cross == 0.0) {
        return false;
    }
    if (cross < 0.0 && px < e.xb) {
        ++crossings;
    }
    return true;
}

class Nester {
public:
    Nester(const double* lon, const double* lat, Coordinates c, std::vector<Ring>& rings)
        : lon_(lon), lat_(lat), degrees_(c == Coordinates::Degrees), rings_(rings)
    {
    }

    void Nest(const std::vector<RingExtent>& extents)
    {
        extents_ = &extents;
        const std::size_t n = rings_.size();
        indexes_.clear();
        indexes_.resize(n);
        BuildGrid();
        std::vector<std::int32_t> smallest(n, -1);
        std::vector<std::int32_t> containers(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            const Ring& inner = rings_[i];
            const double measure = extents[i].measure;
            const double qx = QueryX(inner.first);
            const double qy = lat_[inner.first];
            ForCandidates(qx, qy, [&](std::size_t j) {
                if (j == i || !(extents[j].measure > measure) || !Contains(j, inner)) {
                    return;
                }
                ++containers[i];
                if (smallest[i] < 0 || extents[j].measure < extents[static_cast<std::size_t>(smallest[i])].measure) {
                    smallest[i] = static_cast<std::int32_t>(j);
                }
            });
        }
        for (std::size_t i = 0; i < n; ++i) {
            rings_[i].outer = containers[i] % 2 == 1 ? smallest[i] : -1;
        }
    }

private:
    struct Box {
        double x0;
        double x1;
        double y0;
        double y1;
        std::uint32_t ring;
    };

    // The ray tests' index of one ring's edges: buckets of x.
    struct EdgeIndex {
        std::vector<Edge> edges;
        std::vector<std::uint32_t> start;  // per bucket, into members; one more than buckets
        std::vector<std::uint32_t> members;
        std::vector<std::uint32_t> wide;   // edges over too many buckets, tried every time
        double x0 = 0.0;
        double x1 = 0.0;
        double perBucket = 1.0;
        std::size_t buckets = 1;
    };

    // A vertex's x for the tests: in degrees reduced into [-180, 180).
    double QueryX(std::size_t k) const { return degrees_ ? WrapLongitude(lon_[k]) : lon_[k]; }

    void AddBoxes(std::uint32_t ring, const RingExtent& e)
    {
        const Ring& r = rings_[ring];
        if (!degrees_) {
            boxes_.push_back({e.minX, e.maxX, e.minY, e.maxY, ring});
            return;
        }
        switch (r.region) {
        case RingRegion::NorthCap:
            boxes_.push_back({-180.0, 180.0, e.minY, 90.0, ring});
            return;
        case RingRegion::SouthCap:
            boxes_.push_back({-180.0, 180.0, -90.0, e.maxY, ring});
            return;
        case RingRegion::Interior:
            break;
        }
        if (e.maxX - e.minX >= 360.0) {
            boxes_.push_back({-180.0, 180.0, e.minY, e.maxY, ring});
            return;
        }
        const double x0 = WrapLongitude(e.minX);
        const double x1 = e.maxX + (x0 - e.minX);
        boxes_.push_back({x0, std::min(x1, 180.0), e.minY, e.maxY, ring});
        if (x1 > 180.0) {
            boxes_.push_back({-180.0, x1 - 360.0, e.minY, e.maxY, ring});
        }
    }

    // A grid over the points that are looked up (each ring's first vertex);
    // boxes over more than MaxCells cells are tried for every point.
    void BuildGrid()
    {
        static constexpr std::size_t MaxCells = 64;
        const std::size_t n = rings_.size();
        boxes_.clear();
        for (std::size_t i = 0; i < n; ++i) {
            AddBoxes(static_cast<std::uint32_t>(i), (*extents_)[i]);
        }
        gx0_ = gy0_ = std::numeric_limits<double>::infinity();
        gx1_ = gy1_ = -std::numeric_limits<double>::infinity();
        for (const Ring& r : rings_) {
            const double x = QueryX(r.first);
            gx0_ = std::min(gx0_, x);
            gx1_ = std::max(gx1_, x);
            gy0_ = std::min(gy0_, lat_[r.first]);
            gy1_ = std::max(gy1_, lat_[r.first]);
        }
        cells_ = static_cast<std::size_t>(std::clamp(std::ceil(std::sqrt(static_cast<double>(n))), 1.0, 1024.0));
        cellX_ = gx1_ > gx0_ ? static_cast<double>(cells_) / (gx1_ - gx0_) : 0.0;
        cellY_ = gy1_ > gy0_ ? static_cast<double>(cells_) / (gy1_ - gy0_) : 0.0;
        cellStart_.assign(cells_ * cells_ + 1, 0);
        wideBoxes_.clear();
        std::vector<std::uint32_t> placed;  // per box: 1 in cells, 0 wide, 2 outside the grid
        placed.reserve(boxes_.size());
        for (std::uint32_t b = 0; b < boxes_.size(); ++b) {
            const Box& box = boxes_[b];
            if (box.x1 < gx0_ || box.x0 > gx1_ || box.y1 < gy0_ || box.y0 > gy1_) {
                placed.push_back(2);
                continue;
            }
            const auto [cx0, cx1, cy0, cy1] = CellRange(box);
            if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > MaxCells) {
                wideBoxes_.push_back(b);
                placed.push_back(0);
                continue;
            }
            placed.push_back(1);
            for (std::size_t cy = cy0; cy <= cy1; ++cy) {
                for (std::size_t cx = cx0; cx <= cx1; ++cx) {
                    ++cellStart_[cy * cells_ + cx + 1];
                }
            }
        }
        for (std::size_t c = 1; c < cellStart_.size(); ++c) {
            cellStart_[c] += cellStart_[c - 1];
        }
        cellBoxes_.resize(cellStart_.back());
        std::vector<std::uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
        for (std::uint32_t b = 0; b < boxes_.size(); ++b) {
            if (placed[b] != 1) {
                continue;
            }
            const auto [cx0, cx1, cy0, cy1] = CellRange(boxes_[b]);
            for (std::size_t cy = cy0; cy <= cy1; ++cy) {
                for (std::size_t cx = cx0; cx <= cx1; ++cx) {
                    cellBoxes_[fill[cy * cells_ + cx]++] = b;
                }
            }
        }
    }

    std::size_t CellOf(double v, double origin, double scale) const
    {
        return Slot((v - origin) * scale, cells_);
    }

    struct Range {
        std::size_t cx0, cx1, cy0, cy1;
    };
    Range CellRange(const Box& b) const
    {
        return {CellOf(b.x0, gx0_, cellX_), CellOf(b.x1, gx0_, cellX_), CellOf(b.y0, gy0_, cellY_),
                CellOf(b.y1, gy0_, cellY_)};
    }

    // Calls `visit` once for each ring whose box holds (x, y) (and perhaps
    // twice for one, which the caller's tests take care of).
    template <typename Visit>
    void ForCandidates(double x, double y, Visit visit)
    {
        const auto inBox = [&](const Box& b) { return x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1; };
        const std::size_t cell = CellOf(y, gy0_, cellY_) * cells_ + CellOf(x, gx0_, cellX_);
        for (std::uint32_t k = cellStart_[cell]; k < cellStart_[cell + 1]; ++k) {
            const Box& b = boxes_[cellBoxes_[k]];
            if (inBox(b)) {
                visit(b.ring);
            }
        }
        for (const std::uint32_t w : wideBoxes_) {
            const Box& b = boxes_[w];
            if (inBox(b)) {
                visit(b.ring);
            }
        }
    }

    // The edges of ring j, each with its west end first.
    template <typename Each>
    void ForEdges(std::size_t j, Each each) const
    {
        const Ring& r = rings_[j];
        RingWalk walk(lon_, lat_, r, degrees_ ? Coordinates::Degrees : Coordinates::Plane);
        walk.Start();
        double x1 = walk.X();
        double y1 = walk.Y();
        for (std::size_t k = 1; k <= r.size; ++k) {
            walk.Step(k);
            const double x2 = walk.X();
            const double y2 = walk.Y();
            Edge e = x1 <= x2 ? Edge{x1, y1, x2, y2} : Edge{x2, y2, x1, y1};
            if (degrees_ && !(e.xa >= -180.0 && e.xa < 180.0)) {
                const double wrapped = WrapLongitude(e.xa);
                e.xb += wrapped - e.xa;
                e.xa = wrapped;
            }
            each(e);
            x1 = x2;
            y1 = y2;
        }
    }

    const EdgeIndex& IndexOf(std::size_t j)
    {
        if (indexes_[j]) {
            return *indexes_[j];
        }
        auto index = std::make_unique<EdgeIndex>();
        EdgeIndex& ix = *index;
        ix.edges.reserve(rings_[j].size);
        ix.x0 = std::numeric_limits<double>::infinity();
        ix.x1 = -std::numeric_limits<double>::infinity();
        ForEdges(j, [&](const Edge& e) {
            ix.edges.push_back(e);
            ix.x0 = std::min(ix.x0, e.xa);
            ix.x1 = std::max(ix.x1, e.xb);
        });
        static constexpr std::size_t MaxBucketsPerEdge = 64;
        ix.buckets = std::clamp<std::size_t>(ix.edges.size() / 2, 1, std::size_t{1} << 16);
        ix.perBucket = ix.x1 > ix.x0 ? static_cast<double>(ix.buckets) / (ix.x1 - ix.x0) : 0.0;
        ix.start.assign(ix.buckets + 1, 0);
        const auto bucket = [&](double x) { return Slot((x - ix.x0) * ix.perBucket, ix.buckets); };
        for (std::uint32_t k = 0; k < ix.edges.size(); ++k) {
            const std::size_t b0 = bucket(ix.edges[k].xa);
            const std::size_t b1 = bucket(ix.edges[k].xb);
            if (b1 - b0 >= MaxBucketsPerEdge) {
                ix.wide.push_back(k);
                continue;
            }
            for (std::size_t b = b0; b <= b1; ++b) {
                ++ix.start[b + 1];
            }
        }
        for (std::size_t b = 1; b <= ix.buckets; ++b) {
            ix.start[b] += ix.start[b - 1];
        }
        ix.members.resize(ix.start.back());
        std::vector<std::uint32_t> fill(ix.start.begin(), ix.start.end() - 1);
        for (std::uint32_t k = 0; k < ix.edges.size(); ++k) {
            const std::size_t b0 = bucket(ix.edges[k].xa);
            const std::size_t b1 = bucket(ix.edges[k].xb);
            if (b1 - b0 >= MaxBucketsPerEdge) {
                continue;
            }
            for (std::size_t b = b0; b <= b1; ++b) {
                ix.members[fill[b]++] = k;
            }
        }
        indexes_[j] = std::move(index);
        return *indexes_[j];
    }

    // Where (px, py) lies against ring j's region.
    Place Locate(std::size_t j, double px, double py)
    {
        int crossings = 0;
        bool on = false;
        // In degrees an edge's west end lies in [-180, 180) and it reaches at
        // most half a turn further: the point is tried at px and px + 360.
        const bool twice = degrees_ && px < 0.0;
        if (rings_[j].size < 64) {
            ForEdges(j, [&](const Edge& e) {
                on = on || !CountCrossing(e, px, py, crossings) || (twice && !CountCrossing(e, px + 360.0, py, crossings));
            });
        } else {
            const EdgeIndex& ix = IndexOf(j);
            const auto tryAt = [&](double x) {
                if (x < ix.x0 || x > ix.x1) {
                    return;
                }
                const std::size_t b = Slot((x - ix.x0) * ix.perBucket, ix.buckets);
                for (std::uint32_t k = ix.start[b]; k < ix.start[b + 1] && !on; ++k) {
                    on = !CountCrossing(ix.edges[ix.members[k]], x, py, crossings);
                }
            };
            tryAt(px);
            if (twice) {
                tryAt(px + 360.0);
            }
            for (std::size_t k = 0; k < ix.wide.size() && !on; ++k) {
                const Edge& e = ix.edges[ix.wide[k]];
                on = !CountCrossing(e, px, py, crossings) || (twice && !CountCrossing(e, px + 360.0, py, crossings));
            }
        }
        if (on) {
            return Place::OnBoundary;
        }
        const bool odd = crossings % 2 == 1;
        return odd != (*extents_)[j].northIn ? Place::Inside : Place::Outside;
    }

    // Whether ring j's region holds ring `inner`: decided at its first
    // vertex that does not lie on ring j.
    bool Contains(std::size_t j, const Ring& inner)
    {
        for (std::size_t k = inner.first; k < inner.first + inner.size; ++k) {
            const Place place = Locate(j, QueryX(k), lat_[k]);
            if (place != Place::OnBoundary) {
                return place == Place::Inside;
            }
        }
        return false;
    }

    const double* lon_;
    const double* lat_;
    bool degrees_;
    std::vector<Ring>& rings_;
    const std::vector<RingExtent>* extents_ = nullptr;
    std::vector<std::unique_ptr<EdgeIndex>> indexes_;
    std::vector<Box> boxes_;
    std::vector<std::uint32_t> cellStart_;
    std::vector<std::uint32_t> cellBoxes_;
    std::vector<std::uint32_t> wideBoxes_;
    std::size_t cells_ = 1;
    double gx0_ = 0.0;
    double gx1_ = 0.0;
    double gy0_ = 0.0;
    double gy1_ = 0.0;
    double cellX_ = 0.0;
    double cellY_ = 0.0;
};

}  // namespace

void NestRings(const double* lon, const double* lat, Coordinates coordinates, std::vector<Ring>& rings)
{
    std::vector<RingExtent> extents;
    extents.reserve(rings.size());
    for (Ring& r : rings) {
        r.outer = -1;
        extents.push_back(DecideRegion(lon, lat, r, coordinates));
    }
    if (rings.size() > 1) {
        Nester(lon, lat, coordinates, rings).Nest(extents);
    }
}

void SplitRings(const double* lon, const double* lat, std::size_t n, Coordinates coordinates, std::vector<Ring>& rings)
{
    rings.clear();
    if (n == 0) {
        return;
    }
    const RecordPoints pts(lon, lat);
    std::size_t end = pts.NextRepeat(0, 1, n);
    if (end == n) {
        AddRing(pts, 0, n, true, rings);
    } else {
        AddRing(pts, 0, end, false, rings);
        // The ring after the first follows it directly; each later ring may be
        // followed by a repeat of the record's first vertex.
        bool separatorMayFollow = false;
        std::size_t pos = end + 1;
        while (pos < n) {
            if (separatorMayFollow && pts.Same(pos, 0)) {
                separatorMayFollow = false;
                ++pos;
                continue;
            }
            end = pts.NextRepeat(pos, pos + 1, n);
            if (end == n) {
                AddRing(pts, pos, n - pos, true, rings);
                break;
            }
            AddRing(pts, pos, end - pos, false, rings);
            separatorMayFollow = true;
            pos = end + 1;
        }
        DropRepeats(pts, rings);
    }
    NestRings(lon, lat, coordinates, rings);
}

}  // namespace zarn
