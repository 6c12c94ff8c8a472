// bna-rings-bench: the geometry step at scale. Records generated on the fly
// (islands-and-lakes convention, one record each):
//   islands    100,000 islands of 12 points on a grid, a column of them across 180
//   lakes      a coast of 100,000 points round a third of the earth and 99,999 lakes in it
//   nested     33,333 islands, each with a lake holding an island
//   polar      a ring of 50,000 points round the south pole and 50,000 islands north of it
//   russia     one ring of 200,000 points across 180, written with a jump
//   antarctica one ring of 200,000 points round the south pole, written as GIS
//              write it (to 180, down to the pole, back from -180)
// For each it prints the best of three runs (processor time) of SplitRings
// (splitting, repeated rings, nesting on the sphere), RegionShaper::Make (the
// cut into [-180, 180]) and, with GeographicLib, EllipsoidMeter::Measure.
// With GDAL it also makes the same polygons the GDAL/GEOS way (each outer
// ring with its holes, unwrapped and closed through the pole, intersected
// with the three 360-degree boxes round [-180, 180], the pieces shifted and
// merged by a union) and prints its time and how far the two results lie
// apart (area, and the area of their symmetric difference), and the time of
// the export's check of the direct cut (ShapeCheck: its area, GEOS's
// validity test) and whether it rebuilt the record.
//
// Usage: bna-rings-bench [--quick]   (--quick: a tenth of the sizes)

#include "regionshape.h"
#include "rings.h"

#ifdef ZARN_HAVE_GEODESIC
#include "geodesic.h"
#endif

#ifdef ZARN_HAVE_EXPORT
#include <ogr_api.h>
#include <ogr_geometry.h>

#include "geoscut.h"
#include "shapecheck.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::bench {

namespace {

double Seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Record {
    std::string name;
    std::vector<double> lon;
    std::vector<double> lat;
    bool started = false;

    // Adds a closed ring; every ring after the second is followed by the
    // record's first vertex, as BNA writers separate them.
    void Add(const std::vector<std::pair<double, double>>& ring)
    {
        if (started && lon.size() > 0 && rings > 1) {
            lon.push_back(lon.front());
            lat.push_back(lat.front());
        }
        for (const auto& [x, y] : ring) {
            lon.push_back(x);
            lat.push_back(y);
        }
        lon.push_back(ring.front().first);
        lat.push_back(ring.front().second);
        started = true;
        ++rings;
    }
    int rings = 0;
};

double Round6(double v) { return std::round(v * 1e6) / 1e6; }

std::vector<std::pair<double, double>> Gon(double cx, double cy, double r, int n, bool clockwise)
{
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < n; ++k) {
        const double a = (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * k / n;
        ring.emplace_back(Round6(cx + r * std::cos(a)), Round6(cy + r * std::sin(a)));
    }
    return ring;
}

Record Islands(int n)
{
    Record r;
    r.name = "islands";
    const int side = static_cast<int>(std::ceil(std::sqrt(n)));
    const double w = 360.0 / side;
    const double h = 160.0 / side;
    for (int i = 0; i < n; ++i) {
        const double cx = -180.0 + (i % side) * w;  // the first column straddles 180
        const double cy = -80.0 + (i / side + 0.5) * h;
        r.Add(Gon(cx, cy, 0.3 * std::min(w, h), 12, i % 2 == 0));
    }
    return r;
}

Record Lakes(int n)
{
    Record r;
    r.name = "lakes";
    std::vector<std::pair<double, double>> coast;
    const int m = n;
    for (int k = 0; k < m; ++k) {  // a wavy box from -80 to 80, -60 to 60, counter-clockwise
        const double t = 4.0 * k / m;
        const double wave = 0.01 * std::sin(k * 0.7);
        if (t < 1) {
            coast.emplace_back(Round6(-80 + 160 * t), Round6(-60 + wave));
        } else if (t < 2) {
            coast.emplace_back(Round6(80 + wave), Round6(-60 + 120 * (t - 1)));
        } else if (t < 3) {
            coast.emplace_back(Round6(80 - 160 * (t - 2)), Round6(60 + wave));
        } else {
            coast.emplace_back(Round6(-80 + wave), Round6(60 - 120 * (t - 3)));
        }
    }
    r.Add(coast);
    const int lakes = n - 1;
    const int side = static_cast<int>(std::ceil(std::sqrt(lakes)));
    const double w = 150.0 / side;
    const double h = 110.0 / side;
    for (int i = 0; i < lakes; ++i) {
        r.Add(Gon(-75.0 + (i % side + 0.5) * w, -55.0 + (i / side + 0.5) * h, 0.3 * std::min(w, h), 12, i % 3 == 0));
    }
    return r;
}

Record Nested(int n)
{
    Record r;
    r.name = "nested";
    const int groups = n / 3;
    const int side = static_cast<int>(std::ceil(std::sqrt(groups)));
    const double w = 340.0 / side;
    const double h = 160.0 / side;
    for (int i = 0; i < groups; ++i) {
        const double cx = -170.0 + (i % side + 0.5) * w;
        const double cy = -80.0 + (i / side + 0.5) * h;
        const double s = 0.45 * std::min(w, h);
        r.Add(Gon(cx, cy, s, 8, false));
        r.Add(Gon(cx, cy, 0.6 * s, 8, true));
        r.Add(Gon(cx, cy, 0.3 * s, 8, false));
    }
    return r;
}

Record Polar(int n)
{
    Record r;
    r.name = "polar";
    std::vector<std::pair<double, double>> ring;
    const int m = n / 2;
    for (int k = 0; k < m; ++k) {
        const double lon = -180.0 + 360.0 * k / m;
        ring.emplace_back(Round6(lon), Round6(-72.0 + 2.0 * std::sin(lon * M_PI / 15.0)));
    }
    r.Add(ring);
    const int islands = n - m;
    const int side = static_cast<int>(std::ceil(std::sqrt(islands * 8.0)));
    const int rows = (islands + side - 1) / side;
    const double w = 360.0 / side;
    const double h = 20.0 / rows;
    for (int i = 0; i < islands; ++i) {
        r.Add(Gon(-180.0 + (i % side) * w, -65.0 + (i / side + 0.5) * h, 0.3 * std::min(w, h), 8, i % 2 == 1));
    }
    return r;
}

Record Russia(int n)
{
    Record r;
    r.name = "russia";
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < n; ++k) {
        const double t = 2.0 * k / n;
        double lon = 0.0;
        double lat = 0.0;
        if (t < 1) {
            lon = 30.0 + 160.0 * t;
            lat = 50.0 + 3.0 * std::sin(k * 0.01);
        } else {
            lon = 190.0 - 160.0 * (t - 1);
            lat = 75.0 + 2.0 * std::sin(k * 0.013);
        }
        ring.emplace_back(Round6(lon > 180.0 ? lon - 360.0 : lon), Round6(lat));  // a jump at 180
    }
    r.Add(ring);
    return r;
}

Record Antarctica(int n)
{
    Record r;
    r.name = "antarctica";
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k <= n - 3; ++k) {
        const double lon = -180.0 + 360.0 * k / (n - 3);
        ring.emplace_back(Round6(lon), Round6(-70.0 + 3.0 * std::sin(lon * M_PI / 20.0)));
    }
    ring.emplace_back(180.0, -90.0);
    ring.emplace_back(-180.0, -90.0);
    r.Add(ring);
    return r;
}

double Best(const std::function<void()>& f)
{
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        const double t0 = Seconds();
        f();
        best = std::min(best, Seconds() - t0);
    }
    return best;
}

#ifdef ZARN_HAVE_EXPORT
// A ring in unwrapped longitudes, its first vertex within 180 degrees of
// `near`; a ring round a pole closed through the pole of its region.
std::unique_ptr<OGRLinearRing> Unwrapped(const Record& rec, const Ring& ring, double near)
{
    std::vector<double> xs;
    std::vector<double> ys;
    std::int64_t turn = 0;
    std::size_t before = ring.first;
    for (std::size_t k = 0; k <= ring.size; ++k) {
        const std::size_t i = ring.first + (k == ring.size ? 0 : k);
        turn = StepTurn(rec.lon[before], rec.lat[before], rec.lon[i], rec.lat[i], turn);
        before = i;
        xs.push_back(rec.lon[i] + 360.0 * static_cast<double>(turn));
        ys.push_back(rec.lat[i]);
    }
    const double shift = -360.0 * std::round((xs[0] - near) / 360.0);
    for (double& x : xs) {
        x += shift;
    }
    if (ring.turns != 0) {
        const double pole = ring.region == RingRegion::NorthCap ? 90.0 : -90.0;
        const double x0 = xs.front();
        const double x1 = xs.back();
        xs.push_back(x1);
        ys.push_back(pole);
        xs.push_back(x0);
        ys.push_back(pole);
        xs.push_back(x0);
        ys.push_back(ys.front());
    }
    auto lr = std::make_unique<OGRLinearRing>();
    lr->setPoints(static_cast<int>(xs.size()), xs.data(), ys.data());
    return lr;
}

// The GDAL/GEOS way: each outer ring with its holes as one polygon in
// unwrapped longitudes, cut by intersecting with the three boxes of 360 degrees round
// [-180, 180] and shifting the pieces, which a union merges (also the
// pieces of one polygon that meet again at 180).
std::unique_ptr<OGRGeometry> GeosWay(const Record& rec, const std::vector<Ring>& rings)
{
    std::vector<int> polygonOf(rings.size(), -1);
    std::vector<double> near(rings.size(), 0.0);
    std::vector<std::unique_ptr<OGRPolygon>> polygons;
    for (std::size_t i = 0; i < rings.size(); ++i) {
        if (rings[i].outer >= 0) {
            continue;
        }
        auto poly = std::make_unique<OGRPolygon>();
        near[i] = std::remainder(rec.lon[rings[i].first], 360.0);
        auto ring = Unwrapped(rec, rings[i], near[i]);
        poly->addRingDirectly(ring.release());
        polygonOf[i] = static_cast<int>(polygons.size());
        polygons.push_back(std::move(poly));
    }
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const std::int32_t o = rings[i].outer;
        if (o >= 0 && polygonOf[static_cast<std::size_t>(o)] >= 0) {
            polygons[static_cast<std::size_t>(polygonOf[static_cast<std::size_t>(o)])]->addRingDirectly(
                Unwrapped(rec, rings[i], near[static_cast<std::size_t>(o)]).release());
        }
    }
    // Polygons within one box are only shifted; the pieces of the others are
    // merged by a union.
    auto whole = std::make_unique<OGRMultiPolygon>();
    OGRMultiPolygon pieces;
    for (auto& poly : polygons) {
        OGREnvelope e;
        poly->getEnvelope(&e);
        for (int m = -1; m <= 1; ++m) {
            const double lo = -180.0 + 360.0 * m;
            if (e.MaxX <= lo || e.MinX >= lo + 360.0) {
                continue;
            }
            if (e.MinX >= lo && e.MaxX <= lo + 360.0) {
                test::AddShifted(*poly, -360.0 * m, *whole);
                continue;
            }
            OGRPolygon box;
            box.addRingDirectly(test::LongitudeBand(lo).release());
            std::unique_ptr<OGRGeometry> piece(poly->Intersection(&box));
            if (piece) {
                test::AddShifted(*piece, -360.0 * m, pieces);
            }
        }
    }
    if (!pieces.IsEmpty()) {
        std::unique_ptr<OGRGeometry> merged(pieces.UnionCascaded());
        if (merged) {
            test::AddShifted(*merged, 0.0, *whole);
        }
    }
    return whole;
}

std::unique_ptr<OGRGeometry> DirectWay(const RegionShape& shape)
{
    auto mp = std::make_unique<OGRMultiPolygon>();
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        auto polygon = std::make_unique<OGRPolygon>();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            auto ring = std::make_unique<OGRLinearRing>();
            const std::size_t b = shape.RingBegin(r);
            ring->setPoints(static_cast<int>(shape.ringEnd[r] - b), shape.x.data() + b, shape.y.data() + b);
            polygon->addRingDirectly(ring.release());
        }
        mp->addGeometryDirectly(polygon.release());
    }
    return mp;
}
#endif

int Main(int argc, char* argv[])
{
    const bool quick = argc > 1 && std::string_view(argv[1]) == "--quick";
    const int n = quick ? 10000 : 100000;
    const std::vector<Record> records = {Islands(n), Lakes(n), Nested(n), Polar(n), Russia(2 * n), Antarctica(2 * n)};
    std::printf("%-11s %8s %9s %9s %9s %9s", "record", "rings", "points", "split s", "shape s", "meter s");
#ifdef ZARN_HAVE_EXPORT
    std::printf(" %9s %9s %9s %11s %9s %9s %9s", "direct s", "geos s", "valid", "area diff", "symdiff", "check s",
                "rebuilt");
#endif
    std::printf("\n");
    for (const Record& rec : records) {
        std::vector<Ring> rings;
        RegionShaper shaper;
        RegionShape shape;
        const double split = Best([&] { SplitRings(rec.lon.data(), rec.lat.data(), rec.lon.size(), Coordinates::Degrees, rings); });
        const double make = Best([&] { shaper.Make(rec.lon.data(), rec.lat.data(), rings, Coordinates::Degrees, shape); });
        double meter = 0.0;
#ifdef ZARN_HAVE_GEODESIC
        EllipsoidMeter m;
        GeodesicFigures figures;
        meter = Best([&] {
            m.Measure(static_cast<std::int32_t>(rec.lon.size()), rec.lon.data(), rec.lat.data(), rec.lon.size(), figures);
        });
#endif
        std::printf("%-11s %8zu %9zu %9.3f %9.3f %9.3f", rec.name.c_str(), rings.size(), rec.lon.size(), split, make, meter);
#ifdef ZARN_HAVE_EXPORT
        std::unique_ptr<OGRGeometry> direct;
        std::unique_ptr<OGRGeometry> geos;
        const double directTime = Best([&] {
            shaper.Make(rec.lon.data(), rec.lat.data(), rings, Coordinates::Degrees, shape);
            direct = DirectWay(shape);
        });
        const double geosTime = Best([&] { geos = GeosWay(rec, rings); });
        const bool valid = direct->IsValid();
        const double a = direct->toMultiPolygon()->get_Area();
        double b = 0.0;
        double sym = -1.0;
        if (geos) {
            b = OGR_G_Area(OGRGeometry::ToHandle(geos.get()));
            std::unique_ptr<OGRGeometry> d(direct->SymDifference(geos.get()));
            sym = d ? OGR_G_Area(OGRGeometry::ToHandle(d.get())) : -1.0;
        }
        std::printf(" %9.3f %9.3f %9s %11.3g %9.3g", directTime, geosTime, valid ? "yes" : "NO", std::fabs(a - b) / a, sym / a);
        bool rebuilt = false;
        RegionShape checked;
        const double checkTime = Best([&] {
            checked = shape;
            ShapeCheck check;
            rebuilt = check.Repair(rec.lon.data(), rec.lat.data(), rings, checked);
        });
        std::printf(" %9.3f %9s", checkTime, rebuilt ? "yes" : "no");
#endif
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

}  // namespace zarn::bench

int main(int argc, char* argv[])
{
    return zarn::bench::Main(argc, argv);
}
