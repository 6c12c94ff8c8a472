// The geometry step (RegionShaper): rings across 180 and round the poles as
// polygons within [-180, 180] x [-90, 90]. Each case has its region written
// here by hand in unwrapped longitudes (a ring round a pole closed through
// it), whose area in the plane of degrees the polygons must have.

#include "regionshape.h"
#include "rings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zarn {
namespace {

using Points = std::vector<std::pair<double, double>>;

struct ShapeCase {
    const char* name;
    Points pairs;  // the record as written
    std::vector<std::pair<int, Points>> truth;  // +1 island, -1 hole, in unwrapped longitudes
    std::size_t polygons;
    Coordinates coordinates = Coordinates::Degrees;
};

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

double Shoelace(const Points& ring)
{
    double twice = 0.0;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const auto& [x1, y1] = ring[k];
        const auto& [x2, y2] = ring[(k + 1) % ring.size()];
        twice += x1 * y2 - x2 * y1;
    }
    return twice / 2.0;
}

double TwiceArea(const RegionShape& s, std::size_t r)
{
    double twice = 0.0;
    for (std::size_t k = s.RingBegin(r); k + 1 < s.ringEnd[r]; ++k) {
        twice += s.x[k] * s.y[k + 1] - s.x[k + 1] * s.y[k];
    }
    return twice;
}

class RegionShapeTest : public testing::TestWithParam<ShapeCase> {};

// The polygons' area in the plane of degrees, each ring checked on the way.
double CheckedArea(const ShapeCase& c, const std::vector<double>& lon, const std::vector<double>& lat,
                   std::size_t& polygons)
{
    std::vector<Ring> rings;
    SplitRings(lon.data(), lat.data(), lon.size(), c.coordinates, rings);
    RegionShaper shaper;
    RegionShape shape;
    shaper.Make(lon.data(), lat.data(), rings, c.coordinates, shape);
    polygons = shape.Polygons();
    // The vertices off the cut are the pairs read (longitudes shifted by
    // whole turns), or lie on a full-width edge at longitude 0.
    std::set<std::pair<double, double>> read;
    for (std::size_t k = 0; k < lon.size(); ++k) {
        read.emplace(c.coordinates == Coordinates::Degrees ? std::remainder(lon[k], 360.0) : lon[k], lat[k]);
        const std::size_t next = (k + 1) % lon.size();
        if (std::fabs(lon[k]) == 180.0 && lon[next] == -lon[k] && lat[next] == lat[k]) {
            read.emplace(0.0, lat[k]);
        }
    }
    double area = 0.0;
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            const std::size_t b = shape.RingBegin(r);
            const std::size_t e = shape.ringEnd[r];
            EXPECT_GE(e - b, 4U);
            EXPECT_EQ(shape.x[b], shape.x[e - 1]);
            EXPECT_EQ(shape.y[b], shape.y[e - 1]);
            const double twice = TwiceArea(shape, r);
            const bool outer = r == shape.PolygonBegin(p);
            EXPECT_EQ(twice > 0.0, outer) << "polygon " << p << " ring " << r << ": outer rings counter-clockwise, holes clockwise";
            area += twice / 2.0;
            for (std::size_t k = b; k < e; ++k) {
                if (c.coordinates == Coordinates::Plane) {
                    EXPECT_TRUE(read.count({shape.x[k], shape.y[k]})) << shape.x[k] << " " << shape.y[k];
                    continue;
                }
                EXPECT_TRUE(shape.x[k] >= -180.0 && shape.x[k] <= 180.0 && shape.y[k] >= -90.0 && shape.y[k] <= 90.0)
                    << shape.x[k] << " " << shape.y[k];
                EXPECT_TRUE(std::fabs(shape.x[k]) == 180.0 || read.count({shape.x[k], shape.y[k]}))
                    << "not a pair read: " << shape.x[k] << " " << shape.y[k];
            }
        }
    }
    return area;
}

TEST_P(RegionShapeTest, CoversTheRegionWithinThePlane)
{
    const ShapeCase& c = GetParam();
    std::vector<double> lon;
    std::vector<double> lat;
    for (const auto& [x, y] : c.pairs) {
        lon.push_back(x);
        lat.push_back(y);
    }
    std::size_t polygons = 0;
    const double area = CheckedArea(c, lon, lat, polygons);
    EXPECT_EQ(polygons, c.polygons);
    double want = 0.0;
    for (const auto& [sign, ring] : c.truth) {
        want += sign * std::fabs(Shoelace(ring));
    }
    EXPECT_NEAR(area, want, 1e-9 * want);
    // A ring and its reverse bound one region.
    if (c.truth.size() == 1) {
        SCOPED_TRACE("reversed");
        std::reverse(lon.begin(), lon.end());
        std::reverse(lat.begin(), lat.end());
        EXPECT_NEAR(CheckedArea(c, lon, lat, polygons), want, 1e-9 * want);
        EXPECT_EQ(polygons, c.polygons);
    }
}

const Points Cap = {{0, -70}, {90, -72}, {180, -70}, {-90, -71}, {0, -70}};
const Points CapTruth = {{0, -70}, {90, -72}, {180, -70}, {270, -71}, {360, -70}, {360, -90}, {0, -90}};

Points Concat(std::initializer_list<Points> parts)
{
    Points all;
    for (const Points& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Classes, RegionShapeTest,
    testing::Values(
        ShapeCase{"a_box_across_180_with_a_jump",
                  {{179, -1}, {-179, -1}, {-179, 1}, {179, 1}, {179, -1}},
                  {{1, {{179, -1}, {181, -1}, {181, 1}, {179, 1}}}}, 2},
        ShapeCase{"the_box_clockwise",
                  {{179, -1}, {179, 1}, {-179, 1}, {-179, -1}, {179, -1}},
                  {{1, {{179, -1}, {181, -1}, {181, 1}, {179, 1}}}}, 2},
        ShapeCase{"a_footprint_across_180_with_a_jump",
                  {{178.5, 10}, {-178, 10.5}, {-177.5, 12}, {179, 11.8}, {178.5, 10}},
                  {{1, {{178.5, 10}, {182, 10.5}, {182.5, 12}, {179, 11.8}}}}, 2},
        ShapeCase{"a_box_with_a_hole_both_across_180",
                  {{178, -2}, {-178, -2}, {-178, 2}, {178, 2}, {178, -2},
                   {179.5, -0.5}, {179.5, 0.5}, {-179.5, 0.5}, {-179.5, -0.5}, {179.5, -0.5}},
                  {{1, {{178, -2}, {182, -2}, {182, 2}, {178, 2}}}, {-1, {{179.5, -0.5}, {180.5, -0.5}, {180.5, 0.5}, {179.5, 0.5}}}},
                  2},
        ShapeCase{"a_box_across_180_with_a_hole_east_of_it",
                  {{178, -2}, {-178, -2}, {-178, 2}, {178, 2}, {178, -2},
                   {-179.5, -0.5}, {-179.5, 0.5}, {-178.5, 0.5}, {-178.5, -0.5}, {-179.5, -0.5}},
                  {{1, {{178, -2}, {182, -2}, {182, 2}, {178, 2}}}, {-1, {{180.5, -0.5}, {181.5, -0.5}, {181.5, 0.5}, {180.5, 0.5}}}},
                  2},
        ShapeCase{"two_islands_either_side_of_180",
                  {{178, 0}, {179, 0}, {179, 1}, {178, 1}, {178, 0}, {-179, 0}, {-178, 0}, {-178, 1}, {-179, 1}, {-179, 0}},
                  {{1, {{178, 0}, {179, 0}, {179, 1}, {178, 1}}}, {1, {{181, 0}, {182, 0}, {182, 1}, {181, 1}}}}, 2},
        ShapeCase{"a_ring_touching_180_at_a_vertex",
                  {{179, 0}, {180, 1}, {179, 2}, {179, 0}},
                  {{1, {{179, 0}, {180, 1}, {179, 2}}}}, 1},
        ShapeCase{"a_ring_crossing_180_at_a_vertex",
                  {{179, 0}, {180, 0}, {-179, 0}, {-179, 1}, {179, 1}, {179, 0}},
                  {{1, {{179, 0}, {181, 0}, {181, 1}, {179, 1}}}}, 2},
        // Its part east of 180 touches the meridian at the notch's tip: two
        // rings meeting there, not one touching itself.
        ShapeCase{"a_notch_touching_180_at_its_tip",
                  {{178, 0}, {-178, 0}, {-178, 4}, {-178.5, 4}, {180, 2}, {-179.5, 4}, {178, 4}, {178, 0}},
                  {{1, {{178, 0}, {182, 0}, {182, 4}, {181.5, 4}, {180, 2}, {180.5, 4}, {178, 4}}}}, 3},
        ShapeCase{"a_thin_ring_along_180",
                  {{179.999, -10}, {-179.999, -10}, {-179.999, 10}, {179.999, 10}, {179.999, -10}},
                  {{1, {{179.999, -10}, {180.001, -10}, {180.001, 10}, {179.999, 10}}}}, 2},
        ShapeCase{"a_ring_round_the_North_Pole",
                  {{0, 80}, {90, 80}, {180, 80}, {-90, 80}, {0, 80}},
                  {{1, {{0, 80}, {90, 80}, {180, 80}, {270, 80}, {360, 80}, {360, 90}, {0, 90}}}}, 1},
        ShapeCase{"a_ring_round_the_South_Pole_westward",
                  {{0, -70}, {-60, -71}, {-120, -70}, {180, -75}, {120, -70}, {60, -72}, {0, -70}},
                  {{1, {{0, -70}, {-60, -71}, {-120, -70}, {-180, -75}, {-240, -70}, {-300, -72}, {-360, -70}, {-360, -90}, {0, -90}}}},
                  1},
        ShapeCase{"a_ring_round_the_South_Pole_with_islands_one_across_180",
                  Concat({Cap, {{30, -60}, {31, -60}, {31, -59}, {30, -59}, {30, -60}}, {{0, -70}},
                          {{179.5, -62}, {-179.5, -62}, {-179.5, -61}, {179.5, -61}, {179.5, -62}}}),
                  {{1, CapTruth}, {1, {{30, -60}, {31, -60}, {31, -59}, {30, -59}}}, {1, {{179.5, -62}, {180.5, -62}, {180.5, -61}, {179.5, -61}}}},
                  4},
        ShapeCase{"a_ring_round_the_South_Pole_with_a_lake_in_its_cap",
                  Concat({Cap, {{30, -80}, {31, -80}, {31, -79}, {30, -79}, {30, -80}}}),
                  {{1, CapTruth}, {-1, {{30, -80}, {31, -80}, {31, -79}, {30, -79}}}}, 1},
        ShapeCase{"the_ring_round_the_South_Pole_as_a_GIS_writes_it",
                  {{-180, -70}, {-90, -72}, {0, -70}, {90, -72}, {180, -70}, {180, -90}, {-180, -90}, {-180, -70}},
                  {{1, {{-180, -70}, {-90, -72}, {0, -70}, {90, -72}, {180, -70}, {180, -90}, {-180, -90}}}}, 1},
        ShapeCase{"a_ring_running_on_to_190",
                  {{170, 0}, {190, 0}, {190, 5}, {170, 5}, {170, 0}},
                  {{1, {{170, 0}, {190, 0}, {190, 5}, {170, 5}}}}, 2},
        ShapeCase{"a_ring_written_west_of_minus_180",
                  {{-190, 10}, {-170, 10}, {-170, 12}, {-190, 12}, {-190, 10}},
                  {{1, {{-190, 10}, {-170, 10}, {-170, 12}, {-190, 12}}}}, 2},
        ShapeCase{"a_ring_of_more_than_half_the_earth_bounds_its_interior",
                  {{-170, -80}, {0, -80}, {170, -80}, {170, 80}, {0, 80}, {-170, 80}, {-170, -80}},
                  {{1, {{-170, -80}, {170, -80}, {170, 80}, {-170, 80}}}}, 1},
        ShapeCase{"a_polar_box_as_GIS_writes_it",
                  {{-180, 66.5}, {180, 66.5}, {180, 90}, {-180, 90}, {-180, 66.5}},
                  {{1, {{-180, 66.5}, {180, 66.5}, {180, 90}, {-180, 90}}}}, 1},
        ShapeCase{"a_south_cap_as_GIS_writes_it",
                  {{-180, -60}, {180, -60}, {180, -90}, {-180, -90}, {-180, -60}},
                  {{1, {{-180, -60}, {180, -60}, {180, -90}, {-180, -90}}}}, 1},
        ShapeCase{"a_latitude_band_as_GIS_writes_it",
                  {{-180, 40}, {180, 40}, {180, 50}, {-180, 50}, {-180, 40}},
                  {{1, {{-180, 40}, {180, 40}, {180, 50}, {-180, 50}}}}, 1},
        ShapeCase{"the_whole_world_as_GIS_writes_it",
                  {{-180, -90}, {180, -90}, {180, 90}, {-180, 90}, {-180, -90}},
                  {{1, {{-180, -90}, {180, -90}, {180, 90}, {-180, 90}}}}, 1},
        ShapeCase{"a_band_of_more_than_half_the_world_with_vertices_between",
                  {{-180, -10}, {-60, -10}, {60, -10}, {180, -10}, {180, 66.5}, {60, 66.5}, {-60, 66.5}, {-180, 66.5}, {-180, -10}},
                  {{1, {{-180, -10}, {180, -10}, {180, 66.5}, {-180, 66.5}}}}, 1},
        ShapeCase{"a_cap_drawn_with_edges_of_180_degrees",
                  {{0, 60}, {180, 60}, {360, 60}, {0, 60}},
                  {{1, {{0, 60}, {360, 60}, {360, 90}, {0, 90}}}}, 1},
        ShapeCase{"a_polar_box_with_a_lake_and_an_island_south_of_it",
                  {{-180, 66.5}, {180, 66.5}, {180, 90}, {-180, 90}, {-180, 66.5},
                   {10, 70}, {20, 70}, {20, 75}, {10, 75}, {10, 70}, {-180, 66.5},
                   {10, 50}, {20, 50}, {20, 55}, {10, 55}, {10, 50}},
                  {{1, {{-180, 66.5}, {180, 66.5}, {180, 90}, {-180, 90}}},
                   {-1, {{10, 70}, {20, 70}, {20, 75}, {10, 75}}},
                   {1, {{10, 50}, {20, 50}, {20, 55}, {10, 55}}}},
                  2},
        // It touches the pole at a vertex: two polygons meeting there, not
        // one whose ring runs through a point of its own edge along the pole.
        ShapeCase{"a_ring_round_the_South_Pole_through_a_vertex_on_it",
                  {{-120, -60}, {0, -90}, {120, -60}, {-120, -60}},
                  {{1, {{-120, -60}, {0, -90}, {120, -60}, {240, -60}, {240, -90}, {-120, -90}}}}, 2},
        // Its notch reaches -180 from the east and runs along it: the part
        // east of 180 is two polygons, each meeting the meridian.
        ShapeCase{"a_ring_running_along_minus_180_and_turning_back",
                  {{175, 0}, {-175, 0}, {-175, 3}, {180, 4}, {180, 6}, {-179, 5.5}, {-175, 7}, {-175, 10}, {175, 10}, {175, 0}},
                  {{1, {{175, 0}, {185, 0}, {185, 3}, {180, 4}, {180, 6}, {181, 5.5}, {185, 7}, {185, 10}, {175, 10}}}}, 3},
        ShapeCase{"plane_coordinates_as_written",
                  {{0, 0}, {0, 394}, {693, 394}, {693, 0}, {0, 0}, {10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}},
                  {{1, {{0, 0}, {693, 0}, {693, 394}, {0, 394}}}, {-1, {{10, 10}, {20, 10}, {20, 20}, {10, 20}}}},
                  1,
                  Coordinates::Plane}),
    [](const auto& info) { return std::string(info.param.name); });

// A line across 180: cut there, each piece within [-180, 180].
TEST(CutLine, CutsAtTheMeridianAndKeepsTheVerticesRead)
{
    const double lon[] = {170.0, 179.0, -179.0, -170.0, -175.0, 175.0};
    const double lat[] = {0.0, 1.0, 3.0, 4.0, 5.0, 7.0};
    RegionShape line;
    CutLine(lon, lat, 6, Coordinates::Degrees, line);
    ASSERT_EQ(line.ringEnd.size(), 3U);
    const std::vector<double> x(line.x.begin(), line.x.end());
    EXPECT_EQ(x, (std::vector<double>{170, 179, 180, -180, -179, -170, -175, -180, 180, 175}));
    EXPECT_EQ(line.y[2], 2.0);
    EXPECT_EQ(line.y[7], 6.0);

    // A full-width step is the parallel, not a point.
    const double wideLon[] = {-180.0, 180.0};
    const double wideLat[] = {45.0, 45.0};
    CutLine(wideLon, wideLat, 2, Coordinates::Degrees, line);
    EXPECT_EQ(std::vector<double>(line.x.begin(), line.x.end()), (std::vector<double>{-180, 0, 180}));
}

}  // namespace
}  // namespace zarn
