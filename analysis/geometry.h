#pragma once

#include "workspace.h"

namespace zarn {

// Area and centroid of the polygon in the workspace, on a flat kilometre
// grid centred on the polygon's mid-point: x = (lon - midX) / 360 * C *
// cos(midY), y = (lat - midY) / 360 * C, with C = 40030.15474771208 km, the
// earth's circumference. The shoelace sums run over the edges from each point
// to the next and, for a ring whose last point differs from its first, the
// edge back to the first point (a closed ring gets no extra edge, so its sums
// are exactly those of its listed edges).
//
// Widths are part of the result: the point buffers, extent, mid-point and
// cosine are 32-bit floats, area and centroid 64-bit; every expression is
// evaluated in 64-bit precision in the order written and rounded only when
// stored. pi is 3.141592654, not the full-precision value, as in the figures
// this tool has always reported.
//
// Order per polygon: ComputeExtent, (merge into the map extent),
// ComputeMidPoint, ProjectPoints, ComputeArea, ComputeCentroid. ProjectPoints
// overwrites the degrees with kilometres, so whatever needs degrees comes
// first.

inline constexpr double EarthCircumferenceKm = 40030.15474771208;
inline constexpr double ShortPi = 3.141592654;

// minX, maxX, minY, maxY from the points in degrees. A record without points
// keeps the empty extent of ResetPolygon.
void ComputeExtent(Workspace& ws);

// midX, midY and cosMidLat from the extent.
void ComputeMidPoint(Workspace& ws);

// Rewrites slots 0 .. n - 1 in kilometres east and north of the mid-point.
// Throws RunError when a value overflows a 32-bit float.
void ProjectPoints(Workspace& ws);

// Signed area in km²: positive when the ring runs counter-clockwise (x east,
// y north), negative when clockwise, 0 for fewer than two points.
void ComputeArea(const Workspace& ws, PolygonRecord& poly);

// Centroid in degrees; needs ComputeArea first. Independent of the ring's
// direction. A ring of zero area (a point, a line) gets its mid-point.
// Throws RunError on an arithmetic overflow.
void ComputeCentroid(const Workspace& ws, PolygonRecord& poly);

}  // namespace zarn
