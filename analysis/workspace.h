#pragma once

#include <array>
#include <cstdint>

namespace zarn {

// Largest point count one polygon may have. A record announcing more is
// read past and reported, never stored: the point buffers have one slot to
// spare and are never reallocated, so a polygon costs no allocation.
inline constexpr std::int32_t MaxPoints = 20000;

// The polygon currently in the workspace. Coordinates and extents are in
// degrees (x = longitude, y = latitude) and stored as 32-bit floats; area and
// centroid are 64-bit.
struct PolygonRecord {
    std::int32_t nPoints = 0;  // point count from the record header
    double area = 0.0;         // signed km²: positive for a counter-clockwise ring
    double centroidX = 0.0;    // degrees of longitude
    double centroidY = 0.0;    // degrees of latitude
    float minX = 0.0F;
    float maxX = 0.0F;
    float minY = 0.0F;
    float maxY = 0.0F;
    float midX = 0.0F;         // (minX + maxX) / 2
    float midY = 0.0F;         // (minY + maxY) / 2
    float cosMidLat = 0.0F;    // cos(midY), the east-west shrink of the local grid
};

// One polygon at a time: the reader fills it, the geometry works on it in
// place (projecting the degrees to kilometres around the polygon's mid-point),
// and the next record overwrites it. A run and its map drawing share one.
struct Workspace {
    std::array<float, MaxPoints + 1> pointX{};
    std::array<float, MaxPoints + 1> pointY{};
    PolygonRecord curPoly;
    bool tooManyPoints = false;  // a record of the current run was skipped

    // Prepares for the next record. The extent goes to its empty state
    // (99999 / -99999: the first point replaces all four, which holds for any
    // coordinate within +-99999, as degrees always are). The mid-point and
    // cosine keep the previous polygon's values until they are recomputed.
    void ResetPolygon();

    // Records that slots 0 .. n - 1 are written (called before the first of
    // them is), so that ResetPolygon clears only those instead of all 20000
    // slots per record, also after a record that ended early.
    void MarkFilled(std::int32_t n) { filledSlots_ = n > filledSlots_ ? n : filledSlots_; }

private:
    std::int32_t filledSlots_ = 0;
};

}  // namespace zarn
