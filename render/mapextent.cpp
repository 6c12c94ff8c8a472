#include "mapextent.h"

#include "runerror.h"

#include <cmath>

namespace zarn {

void ResetMapExtent(MapExtent& extent)
{
    extent.minX = 99999.0F;
    extent.minY = 99999.0F;
    extent.maxX = -99999.0F;
    extent.maxY = -99999.0F;
}

void GrowMapExtent(MapExtent& extent, const PolygonRecord& poly)
{
    if (poly.minY < extent.minY) {
        extent.minY = poly.minY;
    }
    if (poly.maxY > extent.maxY) {
        extent.maxY = poly.maxY;
    }
    if (poly.minX < extent.minX) {
        extent.minX = poly.minX;
    }
    if (poly.maxX > extent.maxX) {
        extent.maxX = poly.maxX;
    }
}

void PadMapExtent(MapExtent& extent)
{
    // Arithmetic in double, each result stored as single precision.
    const auto single = [](double v) { return static_cast<float>(v); };
    if (extent.maxX == extent.minX && extent.maxY == extent.minY) {
        extent.minX = single(extent.minX - 1.0);
        extent.maxX = single(extent.maxX + 1.0);
        extent.minY = single(extent.minY - 1.0);
        extent.maxY = single(extent.maxY + 1.0);
    }
    float side = single(static_cast<double>(extent.maxY) - extent.minY);
    const float width = single(static_cast<double>(extent.maxX) - extent.minX);
    if (width > side) {
        side = width;
    }
    const double margin = single(side / 100.0);
    extent.minY = single(extent.minY - margin);
    extent.minX = single(extent.minX - margin);
    extent.maxY = single(extent.maxY + margin);
    extent.maxX = single(extent.maxX + margin);
}

MapScale ComputeMapScale(const MapExtent& extent)
{
    const double w = static_cast<double>(extent.maxX) - extent.minX;
    const double h = static_cast<double>(extent.maxY) - extent.minY;
    MapScale scale;
    if (w > h) {
        scale.mapScaleX = 100.0;
        scale.mapScaleY = h / w * 100.0;
    } else {
        scale.mapScaleX = w / h * 100.0;
        scale.mapScaleY = 100.0;
    }
    if (!std::isfinite(scale.mapScaleX) || !std::isfinite(scale.mapScaleY)) {
        throw RunError("the map extent cannot be scaled onto the canvas");
    }
    return scale;
}

}  // namespace zarn
