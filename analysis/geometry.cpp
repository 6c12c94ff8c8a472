#include "geometry.h"

#include "runerror.h"

#include <cmath>
#include <limits>

namespace zarn {

namespace {

// Whether the ring needs the edge from its last point back to its first.
bool IsOpenRing(const float* x, const float* y, int n)
{
    return n >= 2 && (x[n - 1] != x[0] || y[n - 1] != y[0]);
}

}  // namespace

void ComputeExtent(Workspace& ws)
{
    PolygonRecord& p = ws.curPoly;
    const float* x = ws.pointX.data();
    const float* y = ws.pointY.data();
    // In locals: the record is floats too, so the compiler would otherwise
    // store every candidate back in case the point slots alias it.
    float minX = p.minX;
    float maxX = p.maxX;
    float minY = p.minY;
    float maxY = p.maxY;
    for (int k = 0; k < p.nPoints; ++k) {
        if (x[k] < minX) {
            minX = x[k];
        }
        if (x[k] > maxX) {
            maxX = x[k];
        }
        if (y[k] < minY) {
            minY = y[k];
        }
        if (y[k] > maxY) {
            maxY = y[k];
        }
    }
    p.minX = minX;
    p.maxX = maxX;
    p.minY = minY;
    p.maxY = maxY;
}

void ComputeMidPoint(Workspace& ws)
{
    PolygonRecord& p = ws.curPoly;
    p.midX = static_cast<float>((static_cast<double>(p.maxX) + p.minX) / 2.0);
    p.midY = static_cast<float>((static_cast<double>(p.maxY) + p.minY) / 2.0);
    p.cosMidLat = static_cast<float>(std::cos(static_cast<double>(p.midY) * ShortPi / 180.0));
}

void ProjectPoints(Workspace& ws)
{
    const PolygonRecord& p = ws.curPoly;
    float* x = ws.pointX.data();
    float* y = ws.pointY.data();
    const double midX = p.midX;
    const double midY = p.midY;
    const double cosMidLat = p.cosMidLat;
    const int n = p.nPoints;
    // Two plain loops and a check afterwards, so that each vectorises.
    for (int k = 0; k < n; ++k) {
        x[k] = static_cast<float>((x[k] - midX) / 360.0 * EarthCircumferenceKm * cosMidLat);
    }
    for (int k = 0; k < n; ++k) {
        y[k] = static_cast<float>((y[k] - midY) / 360.0 * EarthCircumferenceKm);
    }
    constexpr float Largest = std::numeric_limits<float>::max();
    int finite = 1;
    for (int k = 0; k < n; ++k) {
        finite &= static_cast<int>(std::fabs(x[k]) <= Largest) & static_cast<int>(std::fabs(y[k]) <= Largest);
    }
    if (finite == 0) {
        throw RunError("record with coordinates too large to project (arithmetic overflow)");
    }
}

void ComputeArea(const Workspace& ws, PolygonRecord& poly)
{
    const float* x = ws.pointX.data();
    const float* y = ws.pointY.data();
    const int n = poly.nPoints;
    double area = 0.0;
    for (int i = 0; i + 1 < n; ++i) {
        const int j = i + 1;
        area = (area + static_cast<double>(y[j]) * x[i]) - static_cast<double>(y[i]) * x[j];
    }
    if (IsOpenRing(x, y, n)) {
        area = (area + static_cast<double>(y[0]) * x[n - 1]) - static_cast<double>(y[n - 1]) * x[0];
    }
    poly.area = area / 2.0;
}

void ComputeCentroid(const Workspace& ws, PolygonRecord& poly)
{
    const float* x = ws.pointX.data();
    const float* y = ws.pointY.data();
    const int n = poly.nPoints;
    double sx = 0.0;
    double sy = 0.0;
    const auto addEdge = [&](int i, int j) {
        const double f = static_cast<double>(y[j]) * x[i] - static_cast<double>(y[i]) * x[j];
        sx = (static_cast<double>(x[i]) + x[j]) * f + sx;
        sy = (static_cast<double>(y[i]) + y[j]) * f + sy;
    };
    for (int i = 0; i + 1 < n; ++i) {
        addEdge(i, i + 1);
    }
    if (IsOpenRing(x, y, n)) {
        addEdge(n - 1, 0);
    }
    if (poly.area != 0.0) {
        poly.centroidX = sx / 6.0 / poly.area * 360.0 / EarthCircumferenceKm / poly.cosMidLat + poly.midX;
        poly.centroidY = sy / 6.0 / poly.area * 360.0 / EarthCircumferenceKm + poly.midY;
    } else {
        poly.centroidX = poly.midX;
        poly.centroidY = poly.midY;
    }
    if (!std::isfinite(poly.centroidX) || !std::isfinite(poly.centroidY)) {
        throw RunError("record whose centroid overflows (arithmetic overflow)");
    }
}

}  // namespace zarn
