// bna-ellipsoid-bench: the cost and the accuracy of the figures on the
// ellipsoid (EllipsoidMeter) against GeographicLib's exact PolygonArea.
//
// Speed: rings drawn as bna-generate draws them (star-shaped, 5..60 points
// within 0.05 degrees, one in 300 of 1000..5000 points within 1 degree, all
// latitudes to 80 degrees), measured by both; prints ns per point.
// Accuracy: random star-shaped rings from metres to thousands of kilometres
// across, at every latitude, some round a pole or across the 180th meridian,
// compared by area, perimeter and centroid; prints the largest errors. The
// centroid's reference is its definition evaluated directly in long double.
//
// Usage: bna-ellipsoid-bench [--seed S] [--speed-only]

#include "geodesic.h"

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/PolygonArea.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

namespace zarn::bench {

namespace {

// Processor time of this process rather than the wall clock: on a shared
// machine, time slices lost to other processes do not count.
double Seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Rings {
    std::vector<double> lon;
    std::vector<double> lat;
    std::vector<std::size_t> start;  // one more than rings: the end
};

// A closed star-shaped ring of n distinct points round (cx, cy), radius r degrees of latitude.
void AddStar(Rings& rings, std::mt19937_64& rng, double cx, double cy, double r, int n)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double stretch = 1.0 / std::cos(cy * M_PI / 180.0);
    const bool clockwise = unit(rng) < 0.5;
    const std::size_t first = rings.lon.size();
    for (int k = 0; k < n; ++k) {
        const double a = (k + 0.8 * unit(rng)) * 2.0 * M_PI / n * (clockwise ? -1.0 : 1.0);
        const double rr = r * (0.6 + 0.4 * unit(rng));
        rings.lon.push_back(std::round((cx + rr * stretch * std::cos(a)) * 1e6) / 1e6);
        rings.lat.push_back(std::round((cy + rr * std::sin(a)) * 1e6) / 1e6);
    }
    rings.lon.push_back(rings.lon[first]);
    rings.lat.push_back(rings.lat[first]);
    rings.start.push_back(rings.lon.size());
}

Rings GeneratorLike(std::mt19937_64& rng, std::size_t points)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Rings rings;
    rings.start.push_back(0);
    while (rings.lon.size() < points) {
        const double cx = -175.0 + 350.0 * unit(rng);
        const double cy = -80.0 + 160.0 * unit(rng);
        if (unit(rng) < 1.0 / 300.0) {
            AddStar(rings, rng, cx, cy, 0.05 + 0.95 * unit(rng), 1000 + static_cast<int>(4000 * unit(rng)));
        } else {
            AddStar(rings, rng, cx, cy, 0.0005 + 0.0495 * unit(rng), 4 + static_cast<int>(56 * unit(rng)));
        }
    }
    return rings;
}

double PolygonAreaOf(const double* lon, const double* lat, std::size_t n, double& perimeter)
{
    GeographicLib::PolygonArea poly(GeographicLib::Geodesic::WGS84());
    for (std::size_t k = 0; k < n; ++k) {
        poly.AddPoint(lat[k], lon[k]);
    }
    double area = 0.0;
    poly.Compute(false, true, perimeter, area);
    return area;
}

// The centroid's definition, directly: authalic latitude from GeographicLib,
// c = 1/2 sum theta_i n_i in long double, the smaller region.
void ReferenceCentroid(const double* lon, const double* lat, std::size_t n, double areaLeftSign, double& clon,
                       double& clat)
{
    static const GeographicLib::Ellipsoid ellipsoid(GeographicLib::Constants::WGS84_a(),
                                                    GeographicLib::Constants::WGS84_f());
    std::vector<long double> x(n);
    std::vector<long double> y(n);
    std::vector<long double> z(n);
    for (std::size_t k = 0; k < n; ++k) {
        const long double b = ellipsoid.AuthalicLatitude(lat[k]) * M_PIl / 180.0L;
        const long double l = lon[k] * M_PIl / 180.0L;
        x[k] = std::cos(b) * std::cos(l);
        y[k] = std::cos(b) * std::sin(l);
        z[k] = std::sin(b);
    }
    long double c[3] = {0.0L, 0.0L, 0.0L};
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t j = (k + 1) % n;
        const long double nx = y[k] * z[j] - z[k] * y[j];
        const long double ny = z[k] * x[j] - x[k] * z[j];
        const long double nz = x[k] * y[j] - y[k] * x[j];
        const long double s = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (s == 0.0L) {
            continue;
        }
        const long double theta = std::atan2(s, x[k] * x[j] + y[k] * y[j] + z[k] * z[j]);
        c[0] += theta * nx / s / 2;
        c[1] += theta * ny / s / 2;
        c[2] += theta * nz / s / 2;
    }
    const long double sign = areaLeftSign < 0.0 ? -1.0L : 1.0L;
    clon = static_cast<double>(std::atan2(sign * c[1], sign * c[0]) * 180.0L / M_PIl);
    const double beta =
        static_cast<double>(std::atan2(sign * c[2], std::sqrt(c[0] * c[0] + c[1] * c[1])) * 180.0L / M_PIl);
    clat = ellipsoid.InverseAuthalicLatitude(beta);
}

void Speed(std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    const Rings rings = GeneratorLike(rng, 2000000);
    const std::size_t records = rings.start.size() - 1;
    EllipsoidMeter meter;
    GeodesicFigures figures;
    double sink = 0.0;
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const double t0 = Seconds();
        for (std::size_t r = 0; r < records; ++r) {
            const std::size_t b = rings.start[r];
            const std::size_t n = rings.start[r + 1] - b;
            meter.Measure(static_cast<std::int32_t>(n), &rings.lon[b], &rings.lat[b], n, figures);
            sink += figures.areaKm2;
        }
        best = std::fmin(best, Seconds() - t0);
    }
    const double t0 = Seconds();
    const std::size_t exactRecords = records / 10;
    std::size_t exactPoints = 0;
    for (std::size_t r = 0; r < exactRecords; ++r) {
        const std::size_t b = rings.start[r];
        const std::size_t n = rings.start[r + 1] - b;
        double perimeter = 0.0;
        sink += PolygonAreaOf(&rings.lon[b], &rings.lat[b], n, perimeter);
        exactPoints += n;
    }
    const double exact = Seconds() - t0;
    std::printf("speed: %zu records, %zu points\n", records, rings.lon.size());
    std::printf("  EllipsoidMeter::Measure  %7.1f ns/point (best of 5)\n", best * 1e9 / rings.lon.size());
    std::printf("  PolygonArea              %7.1f ns/point (first tenth of the records)\n",
                exact * 1e9 / exactPoints);
    std::printf("  (checksum %.6g)\n", sink);
}

void Accuracy(std::uint64_t seed)
{
    std::mt19937_64 rng(seed + 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    EllipsoidMeter meter;
    GeodesicFigures figures;
    double worstRel = 0.0;
    double worstAbs = 0.0;
    double worstPerimeter = 0.0;
    double worstCentroid = 0.0;
    double worstCentroidLarger = 0.0;  // rings of radius 0.001 degrees or more
    double worstRelRadius = 0.0;
    int tested = 0;
    for (int t = 0; t < 40000; ++t) {
        Rings rings;
        rings.start.push_back(0);
        // Radius 1e-4 .. 30 degrees, log-uniform; 3 .. 200 points.
        const double r = std::pow(10.0, -4.0 + std::log10(3e5) * unit(rng));
        const int n = 3 + static_cast<int>(197 * unit(rng) * unit(rng));
        const double cy = std::fmax(-89.0 + r, std::fmin(89.0 - r, -90.0 + 180.0 * unit(rng)));
        const double cx = -180.0 + 360.0 * unit(rng);
        if (std::fabs(cy) + r >= 89.9 || r / std::cos(cy * M_PI / 180.0) > 170.0) {
            continue;
        }
        AddStar(rings, rng, cx, cy, r, n);
        const std::size_t m = rings.lon.size();
        meter.Measure(static_cast<std::int32_t>(m), rings.lon.data(), rings.lat.data(), m, figures);
        double perimeter = 0.0;
        const double signedArea = PolygonAreaOf(rings.lon.data(), rings.lat.data(), m - 1, perimeter);
        const double exact = std::fabs(signedArea) / 1e6;
        const double err = std::fabs(figures.areaKm2 - exact);
        if (exact >= 1.0) {
            if (err / exact > worstRel) {
                worstRel = err / exact;
                worstRelRadius = r;
            }
        } else {
            worstAbs = std::fmax(worstAbs, err);
        }
        worstPerimeter = std::fmax(worstPerimeter, std::fabs(figures.perimeterKm - perimeter / 1000.0) / (perimeter / 1000.0));
        double clon = 0.0;
        double clat = 0.0;
        ReferenceCentroid(rings.lon.data(), rings.lat.data(), m - 1, signedArea, clon, clat);
        const double dlon = std::remainder(figures.centroidLon - clon, 360.0) * std::cos(clat * M_PI / 180.0);
        const double deviation = std::hypot(dlon, figures.centroidLat - clat);
        worstCentroid = std::fmax(worstCentroid, deviation);
        if (r >= 0.001) {
            worstCentroidLarger = std::fmax(worstCentroidLarger, deviation);
        }
        ++tested;
    }
    std::printf("accuracy: %d rings of radius 1e-4 .. 30 degrees, 3 .. 200 points\n", tested);
    std::printf("  area, rings of 1 km² or more: largest relative error %.2e (ring radius %.3g degrees)\n", worstRel,
                worstRelRadius);
    std::printf("  area, smaller rings:          largest error %.2e km²\n", worstAbs);
    std::printf("  perimeter:                    largest relative error %.2e\n", worstPerimeter);
    // On rings of metres the long double reference itself loses digits
    // (its cross products of whole unit vectors cancel); there the meter
    // agrees with the plane centroid in a local tangent plane to 5e-8 degrees.
    std::printf("  centroid:                     largest deviation %.2e degrees (%.2e on rings of 100 m or more)\n",
                worstCentroid, worstCentroidLarger);
}

}  // namespace

}  // namespace zarn::bench

int main(int argc, char* argv[])
{
    std::uint64_t seed = 1;
    bool speedOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--speed-only") {
            speedOnly = true;
        } else {
            std::fputs("Usage: bna-ellipsoid-bench [--seed S] [--speed-only]\n", stderr);
            return 2;
        }
    }
    zarn::bench::Speed(seed);
    if (!speedOnly) {
        zarn::bench::Accuracy(seed);
    }
    return 0;
}
