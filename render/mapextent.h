#pragma once

#include "workspace.h"

namespace zarn {

// The box around all polygons a run accepts, in degrees as read (never the
// projected kilometres), 32-bit like the polygon extents it merges.
struct MapExtent {
    float minX = 0.0F;
    float maxX = 0.0F;
    float minY = 0.0F;
    float maxY = 0.0F;
};

// The empty box: 99999 / -99999, replaced by the first merge.
void ResetMapExtent(MapExtent& extent);

// Merges a polygon's own extent (minY, maxY, minX, maxX, in that order);
// exact comparisons, an equal value changes nothing.
void GrowMapExtent(MapExtent& extent, const PolygonRecord& poly);

// Widens the box by 1 % of its longer side on all four sides, once per
// drawing. A box of a single point (zero width and height) is first widened
// by one degree on each side, so that it can be scaled.
void PadMapExtent(MapExtent& extent);

// Canvas units spanned by the padded longitude and latitude ranges: the
// longer side gets 100, the other its share of it, so degrees of longitude
// and latitude are drawn the same length (a plain longitude/latitude plot).
struct MapScale {
    double mapScaleX = 0.0;
    double mapScaleY = 0.0;
};

// Throws RunError when the box cannot be scaled.
MapScale ComputeMapScale(const MapExtent& extent);

// Longitude/latitude to canvas units, lower-left corner of the padded box at
// (0, 0). Evaluated in double (difference, product, quotient); the caller
// rounds to single precision when handing the value to the canvas.
class CanvasTransform {
public:
    CanvasTransform(const MapExtent& extent, const MapScale& scale) : extent_(extent), scale_(scale) {}

    double X(double lon) const
    {
        return (lon - extent_.minX) * scale_.mapScaleX / (static_cast<double>(extent_.maxX) - extent_.minX);
    }
    double Y(double lat) const
    {
        return (lat - extent_.minY) * scale_.mapScaleY / (static_cast<double>(extent_.maxY) - extent_.minY);
    }

private:
    MapExtent extent_;
    MapScale scale_;
};

}  // namespace zarn
