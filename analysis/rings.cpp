#include "rings.h"

#include <algorithm>
#include <cmath>

namespace zarn {

namespace {

class RecordPoints {
public:
    // `wrap`: the coordinates are degrees, whose longitudes wrap round.
    RecordPoints(const double* lon, const double* lat, bool wrap = false) : lon_(lon), lat_(lat), wrap_(wrap) {}

    bool Same(std::size_t i, std::size_t j) const { return lon_[i] == lon_[j] && lat_[i] == lat_[j]; }

    // Longitude within 180 degrees of the record's first point, so that a
    // ring across the 180th meridian stays in one piece on the plane.
    double X(std::size_t i) const
    {
        if (!wrap_) {
            return lon_[i];
        }
        const double d = lon_[i] - lon_[0];
        return d >= -180.0 && d <= 180.0 ? lon_[i] : lon_[0] + std::remainder(d, 360.0);
    }
    double Y(std::size_t i) const { return lat_[i]; }

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

private:
    const double* lon_;
    const double* lat_;
    bool wrap_;
};

void AddRing(const RecordPoints& pts, std::size_t first, std::size_t size, bool closedHere,
             std::vector<Ring>& rings)
{
    const Ring ring{first, size, closedHere, -1};
    if (!pts.HasThreeDistinct(ring)) {
        return;
    }
    for (const Ring& earlier : rings) {
        if (pts.SameRing(earlier, ring)) {
            return;
        }
    }
    rings.push_back(ring);
}

struct Extent {
    double minX;
    double maxX;
    double minY;
    double maxY;
    double area;  // planar, in square degrees, unsigned

    bool Within(const Extent& other) const
    {
        return minX >= other.minX && maxX <= other.maxX && minY >= other.minY && maxY <= other.maxY;
    }
};

Extent RingExtent(const RecordPoints& pts, const Ring& r)
{
    Extent e{pts.X(r.first), pts.X(r.first), pts.Y(r.first), pts.Y(r.first), 0.0};
    // Shoelace about the first vertex, which keeps the products small.
    const double x0 = pts.X(r.first);
    const double y0 = pts.Y(r.first);
    double twice = 0.0;
    for (std::size_t k = r.first + 1; k < r.first + r.size; ++k) {
        const double x = pts.X(k);
        const double y = pts.Y(k);
        e.minX = std::min(e.minX, x);
        e.maxX = std::max(e.maxX, x);
        e.minY = std::min(e.minY, y);
        e.maxY = std::max(e.maxY, y);
        if (k + 1 < r.first + r.size) {
            twice += (x - x0) * (pts.Y(k + 1) - y0) - (pts.X(k + 1) - x0) * (y - y0);
        }
    }
    e.area = std::fabs(twice) / 2.0;
    return e;
}

enum class Place { Outside, Inside, OnBoundary };

// Where point (px, py) lies with respect to ring r, by the even-odd rule.
Place Locate(const RecordPoints& pts, const Ring& r, double px, double py)
{
    bool inside = false;
    std::size_t prev = r.first + r.size - 1;
    for (std::size_t k = r.first; k < r.first + r.size; prev = k, ++k) {
        const double x1 = pts.X(prev);
        const double y1 = pts.Y(prev);
        const double x2 = pts.X(k);
        const double y2 = pts.Y(k);
        const double cross = (x2 - x1) * (py - y1) - (y2 - y1) * (px - x1);
        if (cross == 0.0 && px >= std::min(x1, x2) && px <= std::max(x1, x2) && py >= std::min(y1, y2) &&
            py <= std::max(y1, y2)) {
            return Place::OnBoundary;
        }
        // Half-open in y, so that a vertex on the ray counts once.
        if ((y1 > py) != (y2 > py) && (cross > 0.0) == (y2 > y1)) {
            inside = !inside;
        }
    }
    return inside ? Place::Inside : Place::Outside;
}

bool Contains(const RecordPoints& pts, const Ring& outer, const Ring& inner)
{
    for (std::size_t k = inner.first; k < inner.first + inner.size; ++k) {
        const Place place = Locate(pts, outer, pts.X(k), pts.Y(k));
        if (place != Place::OnBoundary) {
            return place == Place::Inside;
        }
    }
    return false;
}

void Nest(const RecordPoints& pts, std::vector<Ring>& rings)
{
    std::vector<Extent> extents;
    extents.reserve(rings.size());
    for (const Ring& r : rings) {
        extents.push_back(RingExtent(pts, r));
    }
    for (std::size_t i = 0; i < rings.size(); ++i) {
        int containers = 0;
        std::int32_t smallest = -1;
        for (std::size_t j = 0; j < rings.size(); ++j) {
            if (j == i || !extents[i].Within(extents[j]) || !Contains(pts, rings[j], rings[i])) {
                continue;
            }
            ++containers;
            if (smallest < 0 || extents[j].area < extents[static_cast<std::size_t>(smallest)].area) {
                smallest = static_cast<std::int32_t>(j);
            }
        }
        rings[i].outer = containers % 2 == 1 ? smallest : -1;
    }
}

}  // namespace

void SplitRings(const double* lon, const double* lat, std::size_t n, std::vector<Ring>& rings)
{
    rings.clear();
    if (n == 0) {
        return;
    }
    const RecordPoints pts(lon, lat);
    std::size_t end = pts.NextRepeat(0, 1, n);
    if (end == n) {
        AddRing(pts, 0, n, true, rings);
        return;
    }
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
    if (rings.size() > 1) {
        // Plane coordinates (latitudes beyond 90) keep their x as written.
        const bool degrees = std::all_of(lat, lat + n, [](double y) { return y >= -90.0 && y <= 90.0; });
        Nest(RecordPoints(lon, lat, degrees), rings);
    }
}

}  // namespace zarn
