#include "rings.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef ZARN_HAVE_GEODESIC
#include "geodesic.h"
#include "geodesicfile.h"

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/PolygonArea.hpp>
#endif

namespace zarn {
namespace {

using test::PrintTo;

struct Record {
    std::string name;
    std::int32_t count = 0;
    std::vector<double> lon;
    std::vector<double> lat;
};

// The records of a BNA file with their pairs in double precision, as far as
// the file is well formed: names in quotes, the count, then the pairs,
// separated by commas or blanks.
std::vector<Record> ReadDegrees(const std::filesystem::path& file)
{
    const std::string text = test::ReadBytes(file);
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        if (ch == ',' || ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
            ++i;
        } else if (ch == '"') {
            const std::size_t close = text.find('"', i + 1);
            if (close == std::string::npos) {
                break;
            }
            tokens.emplace_back(text.data() + i, close + 1 - i);
            i = text.find_first_of(",\r\n", close + 1);
        } else {
            const std::size_t end = std::min(text.find_first_of(", \t\r\n", i), text.size());
            tokens.emplace_back(text.data() + i, end - i);
            i = end;
        }
    }
    std::vector<Record> records;
    for (std::size_t t = 0; t < tokens.size() && tokens[t].front() == '"';) {
        Record r;
        r.name = std::string(tokens[t].substr(1, tokens[t].size() - 2));
        while (t < tokens.size() && tokens[t].front() == '"') {
            ++t;
        }
        if (t == tokens.size() ||
            std::from_chars(tokens[t].data(), tokens[t].data() + tokens[t].size(), r.count).ec != std::errc()) {
            break;
        }
        ++t;
        const std::size_t pairs = static_cast<std::size_t>(std::abs(r.count));
        for (std::size_t k = 0; k < 2 * pairs && t < tokens.size(); ++k, ++t) {
            double v = 0.0;
            if (std::from_chars(tokens[t].data(), tokens[t].data() + tokens[t].size(), v).ec != std::errc()) {
                return records;
            }
            (k % 2 == 0 ? r.lon : r.lat).push_back(v);
        }
        if (r.lat.size() != pairs) {
            break;
        }
        records.push_back(std::move(r));
    }
    return records;
}

Record FromText(std::string_view bna)
{
    test::TempFolder folder;
    const std::vector<Record> records = ReadDegrees(folder.Write("record.bna", bna));
    return records.empty() ? Record{} : records.front();
}

// ---------------------------------------------------------------- rings

struct SplitCase {
    const char* name;
    const char* bna;
    std::vector<Ring> rings;
    Coordinates coordinates = Coordinates::Degrees;
};

class SplitRingsTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitRingsTest, FindsTheRingsAndTheirNesting)
{
    const Record r = FromText(GetParam().bna);
    std::vector<Ring> rings;
    SplitRings(r.lon.data(), r.lat.data(), r.lon.size(), GetParam().coordinates, rings);
    ASSERT_EQ(rings.size(), GetParam().rings.size());
    for (std::size_t k = 0; k < rings.size(); ++k) {
        const Ring& want = GetParam().rings[k];
        EXPECT_EQ(rings[k].first, want.first) << "ring " << k;
        EXPECT_EQ(rings[k].size, want.size) << "ring " << k;
        EXPECT_EQ(rings[k].closedHere, want.closedHere) << "ring " << k;
        EXPECT_EQ(rings[k].outer, want.outer) << "ring " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, SplitRingsTest,
    testing::Values(
        SplitCase{"an_island_with_a_lake_of_the_same_winding",
                  "\"a\",\"b\",11\n0,0\n10,0\n10,10\n0,10\n0,0\n2,2\n8,2\n8,8\n2,8\n2,2\n0,0\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}}},
        SplitCase{"an_island_with_a_lake_of_the_opposite_winding",
                  "\"a\",\"b\",11\n0,0\n10,0\n10,10\n0,10\n0,0\n2,2\n2,8\n8,8\n8,2\n2,2\n0,0\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}}},
        SplitCase{"an_island_in_a_lake_in_an_island",
                  "\"a\",\"b\",17\n0,0\n10,0\n10,10\n0,10\n0,0\n2,2\n8,2\n8,8\n2,8\n2,2\n0,0\n"
                  "4,4\n6,4\n6,6\n4,6\n4,4\n0,0\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}, {11, 4, false, -1}}},
        SplitCase{"two_islands", "\"a\",\"b\",11\n0,0\n1,0\n1,1\n0,1\n0,0\n5,5\n6,5\n6,6\n5,6\n5,5\n0,0\n",
                  {{0, 4, false, -1}, {5, 4, false, -1}}},
        SplitCase{"a_lake_and_an_island_without_separators",
                  "\"a\",\"b\",15\n0,0\n10,0\n10,10\n0,10\n0,0\n2,2\n8,2\n8,8\n2,8\n2,2\n"
                  "20,0\n21,0\n21,1\n20,1\n20,0\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}, {10, 4, false, -1}}},
        SplitCase{"the_same_ring_twice_is_one_ring",
                  "\"a\",\"b\",11\n0,0\n0,10\n10,10\n10,0\n0,0\n0,0\n0,10\n10,10\n10,0\n0,0\n0,0\n",
                  {{0, 4, false, -1}}},
        SplitCase{"a_ring_across_the_180th_meridian_with_a_lake",
                  "\"a\",\"b\",11\n179,-1\n-179,-1\n-179,1\n179,1\n179,-1\n179.5,-0.5\n-179.5,-0.5\n"
                  "-179.5,0.5\n179.5,0.5\n179.5,-0.5\n179,-1\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}}},
        SplitCase{"points_left_after_the_last_ring_close_a_ring_of_their_own",
                  "\"a\",\"b\",8\n0,0\n1,0\n1,1\n0,0\n5,5\n6,5\n6,6\n5,6\n",
                  {{0, 3, false, -1}, {4, 4, true, -1}}},
        SplitCase{"a_ring_of_two_distinct_points_is_dropped",
                  "\"a\",\"b\",9\n0,0\n1,0\n1,1\n0,0\n5,5\n6,5\n5,5\n6,5\n5,5\n",
                  {{0, 3, false, -1}}},
        SplitCase{"a_record_whose_first_point_never_recurs_is_one_open_ring",
                  "\"a\",\"b\",4\n0,0\n1,0\n1,1\n0,1\n", {{0, 4, true, -1}}},
        SplitCase{"plane_coordinates_beyond_180_are_not_wrapped",
                  "\"a\",\"b\",11\n0,0\n170,0\n170,100\n0,100\n0,0\n500,20\n510,20\n510,30\n500,30\n"
                  "500,20\n0,0\n",
                  {{0, 4, false, -1}, {5, 4, false, -1}},
                  Coordinates::Plane},
        // On the sphere: a ring round a pole bounds its cap, not a band.
        SplitCase{"islands_beside_a_ring_round_the_South_Pole_stay_islands",
                  "\"a\",\"b\",16\n0,-70\n90,-70\n180,-70\n-90,-70\n0,-70\n"
                  "30,-60\n31,-60\n31,-59\n30,-59\n30,-60\n0,-70\n"
                  "-150,-60\n-149,-60\n-149,-59\n-150,-59\n-150,-60\n",
                  {{0, 4, false, -1}, {5, 4, false, -1}, {11, 4, false, -1}}},
        SplitCase{"a_lake_in_the_cap_of_a_ring_round_the_South_Pole",
                  "\"a\",\"b\",10\n0,-70\n90,-70\n180,-70\n-90,-70\n0,-70\n"
                  "30,-80\n30,-79\n31,-79\n31,-80\n30,-80\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}}},
        SplitCase{"the_polar_ring_as_a_GIS_writes_it_down_to_the_pole_and_back",
                  "\"a\",\"b\",19\n-180,-70\n-90,-72\n0,-70\n90,-72\n180,-70\n180,-90\n-180,-90\n-180,-70\n"
                  "30,-60\n31,-60\n31,-59\n30,-59\n30,-60\n-180,-70\n"
                  "30,-80\n31,-80\n31,-79\n30,-79\n30,-80\n",
                  {{0, 7, false, -1}, {8, 4, false, -1}, {14, 4, false, 0}}},
        SplitCase{"an_island_in_a_lake_in_an_island_all_across_180",
                  "\"a\",\"b\",16\n178,-2\n-178,-2\n-178,2\n178,2\n178,-2\n"
                  "179.5,-0.5\n179.5,0.5\n-179.5,0.5\n-179.5,-0.5\n179.5,-0.5\n178,-2\n"
                  "179.9,-0.1\n-179.9,-0.1\n-179.9,0.1\n179.9,0.1\n179.9,-0.1\n",
                  {{0, 4, false, -1}, {5, 4, false, 0}, {11, 4, false, -1}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The former GDAL reader read these records of its test file as
// PID8 = POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,2 8,8 8,8 2,2 2)),
// PID9 = POLYGON ((0 0,0 10,10 10,10 0,0 0)) (the file leaves it open),
// PID10 = POLYGON ((0 0,0 10,10 10,10 0,0 0)), PID7 = POLYGON ((0 0,1 0,1 1,0 1,0 0)).
TEST(SplitRingsSample, ReadsTheFormerGdalTestRecordsAsGdalDid)
{
    const std::filesystem::path sample = std::filesystem::path(ZARN_SAMPLES_DIR) / "gdalx__test.bna";
    if (!std::filesystem::exists(sample)) {
        GTEST_SKIP() << "no sample file at " << sample.string();
    }
    const std::vector<Record> records = ReadDegrees(sample);
    const std::vector<std::pair<std::string, std::vector<std::vector<double>>>> expected = {
        {"PID8", {{0, 0, 0, 10, 10, 10, 10, 0}, {2, 2, 2, 8, 8, 8, 8, 2}}},
        {"PID9", {{0, 0, 0, 10, 10, 10, 10, 0}}},
        {"PID10", {{0, 0, 0, 10, 10, 10, 10, 0}}},
        {"PID7", {{0, 0, 1, 0, 1, 1, 0, 1}}},
    };
    for (const auto& [name, polygon] : expected) {
        SCOPED_TRACE(name);
        const auto r = std::find_if(records.begin(), records.end(), [&id = name](const Record& rec) { return rec.name == id; });
        ASSERT_NE(r, records.end());
        std::vector<Ring> rings;
        SplitRings(r->lon.data(), r->lat.data(), r->lon.size(), Coordinates::Plane, rings);
        ASSERT_EQ(rings.size(), polygon.size());
        for (std::size_t k = 0; k < rings.size(); ++k) {
            std::vector<double> xy;
            for (std::size_t j = rings[k].first; j < rings[k].first + rings[k].size; ++j) {
                xy.push_back(r->lon[j]);
                xy.push_back(r->lat[j]);
            }
            EXPECT_EQ(xy, polygon[k]);
            EXPECT_EQ(rings[k].outer, k == 0 ? -1 : 0);
        }
    }
}

// Which region a ring bounds by the ring rule: its interior as drawn, or
// for a ring round the globe the cap on the smaller side, whatever its
// direction.
struct RegionCase {
    const char* name;
    const char* bna;
    RingRegion region;
    bool regionLeft;
    std::int32_t turns;
};

class RingRegionTest : public testing::TestWithParam<RegionCase> {};

TEST_P(RingRegionTest, FollowsTheRingRule)
{
    const Record r = FromText(GetParam().bna);
    std::vector<Ring> rings;
    SplitRings(r.lon.data(), r.lat.data(), r.lon.size(), Coordinates::Degrees, rings);
    ASSERT_EQ(rings.size(), 1U);
    EXPECT_EQ(rings[0].region, GetParam().region);
    EXPECT_EQ(rings[0].regionLeft, GetParam().regionLeft);
    EXPECT_EQ(rings[0].turns, GetParam().turns);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, RingRegionTest,
    testing::Values(
        RegionCase{"a_box_counter_clockwise", "\"a\",\"b\",4\n0,0\n1,0\n1,1\n0,1\n", RingRegion::Interior, true, 0},
        RegionCase{"a_box_clockwise", "\"a\",\"b\",4\n0,0\n0,1\n1,1\n1,0\n", RingRegion::Interior, false, 0},
        RegionCase{"a_box_across_180_with_a_jump", "\"a\",\"b\",4\n179,-1\n-179,-1\n-179,1\n179,1\n",
                   RingRegion::Interior, true, 0},
        RegionCase{"eastward_round_the_North_Pole", "\"a\",\"b\",4\n0,80\n120,80\n-120,80\n0,80\n",
                   RingRegion::NorthCap, true, 1},
        RegionCase{"westward_round_the_North_Pole", "\"a\",\"b\",4\n0,80\n-120,80\n120,80\n0,80\n",
                   RingRegion::NorthCap, false, -1},
        RegionCase{"eastward_round_the_South_Pole", "\"a\",\"b\",4\n0,-80\n120,-80\n-120,-80\n0,-80\n",
                   RingRegion::SouthCap, false, 1},
        RegionCase{"eastward_along_10_S_its_southern_part_the_smaller",
                   "\"a\",\"b\",4\n0,-10\n120,-10\n-120,-10\n0,-10\n", RingRegion::SouthCap, false, 1},
        RegionCase{"a_box_of_more_than_half_the_earth_is_its_interior",
                   "\"a\",\"b\",6\n-170,-80\n0,-80\n170,-80\n170,80\n0,80\n-170,80\n",
                   RingRegion::Interior, true, 0},
        RegionCase{"a_polar_box_as_GIS_writes_it", "\"a\",\"b\",4\n-180,66.5\n180,66.5\n180,90\n-180,90\n",
                   RingRegion::Interior, true, 0},
        RegionCase{"the_polar_box_reversed", "\"a\",\"b\",4\n-180,90\n180,90\n180,66.5\n-180,66.5\n",
                   RingRegion::Interior, false, 0},
        RegionCase{"a_cap_drawn_with_edges_of_180_degrees", "\"a\",\"b\",3\n0,60\n180,60\n360,60\n",
                   RingRegion::NorthCap, true, 1},
        RegionCase{"the_cap_of_long_edges_reversed", "\"a\",\"b\",3\n360,60\n180,60\n0,60\n",
                   RingRegion::NorthCap, false, -1}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef ZARN_HAVE_GEODESIC

// ---------------------------------------------------------- the figures

// One ring by GeographicLib's PolygonArea (the area of the ring's region on
// the side the ring rule gives it, the perimeter), and the centroid's vector
// by its definition evaluated directly in long double.
struct Figures {
    double areaKm2 = 0.0;
    double perimeterKm = 0.0;
    long double c[3] = {0.0L, 0.0L, 0.0L};
};

Figures Reference(const Record& r, const Ring& ring)
{
    static const GeographicLib::Ellipsoid ellipsoid(GeographicLib::Constants::WGS84_a(),
                                                    GeographicLib::Constants::WGS84_f());
    GeographicLib::PolygonArea poly(GeographicLib::Geodesic::WGS84());
    std::vector<std::array<long double, 3>> p;
    for (std::size_t k = ring.first; k < ring.first + ring.size; ++k) {
        poly.AddPoint(r.lat[k], r.lon[k]);
        const long double b = ellipsoid.AuthalicLatitude(r.lat[k]) * std::numbers::pi_v<long double> / 180.0L;
        const long double l = r.lon[k] * std::numbers::pi_v<long double> / 180.0L;
        p.push_back({std::cos(b) * std::cos(l), std::cos(b) * std::sin(l), std::sin(b)});
    }
    Figures f;
    double area = 0.0;
    poly.Compute(false, true, f.perimeterKm, area);
    f.perimeterKm /= 1000.0;
    const double whole = GeographicLib::Geodesic::WGS84().EllipsoidArea();
    if (ring.regionLeft) {
        f.areaKm2 = (area >= 0.0 ? area : area + whole) / 1e6;
    } else {
        f.areaKm2 = (area <= 0.0 ? -area : whole - area) / 1e6;
    }
    for (std::size_t k = 0; k < p.size(); ++k) {
        const auto& u = p[k];
        const auto& v = p[(k + 1) % p.size()];
        const long double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        const long double sine = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (sine > 0.0L) {
            const long double theta = std::atan2(sine, u[0] * v[0] + u[1] * v[1] + u[2] * v[2]);
            for (int i = 0; i < 3; ++i) {
                f.c[i] += (ring.regionLeft ? 0.5L : -0.5L) * theta * n[i] / sine;
            }
        }
    }
    return f;
}

// The nesting a test knows to be right: +1 for an island, -1 for a lake,
// per ring. For records of the samples (none across 180 or round a pole, and
// not in plane coordinates) it is found here on its own: a ring is a lake
// when a vertex of it (off the other ring) lies inside an odd number of the
// record's other rings, by the even-odd rule in the plane of degrees.
std::vector<int> PlaneNesting(const Record& r, const std::vector<Ring>& rings)
{
    const auto inside = [&](const Ring& outer, double x, double y, bool& on) {
        bool in = false;
        on = false;
        for (std::size_t k = 0; k < outer.size; ++k) {
            const std::size_t i = outer.first + k;
            const std::size_t j = outer.first + (k + 1) % outer.size;
            const double cross = (r.lon[j] - r.lon[i]) * (y - r.lat[i]) - (r.lat[j] - r.lat[i]) * (x - r.lon[i]);
            if (cross == 0.0 && x >= std::min(r.lon[i], r.lon[j]) && x <= std::max(r.lon[i], r.lon[j]) &&
                y >= std::min(r.lat[i], r.lat[j]) && y <= std::max(r.lat[i], r.lat[j])) {
                on = true;
                return false;
            }
            if ((r.lat[i] > y) != (r.lat[j] > y) &&
                x < r.lon[i] + (y - r.lat[i]) * (r.lon[j] - r.lon[i]) / (r.lat[j] - r.lat[i])) {
                in = !in;
            }
        }
        return in;
    };
    std::vector<int> signs;
    for (std::size_t a = 0; a < rings.size(); ++a) {
        int containers = 0;
        for (std::size_t b = 0; b < rings.size(); ++b) {
            if (a == b) {
                continue;
            }
            for (std::size_t k = 0; k < rings[a].size; ++k) {
                bool on = false;
                const bool in = inside(rings[b], r.lon[rings[a].first + k], r.lat[rings[a].first + k], on);
                if (!on) {
                    containers += in ? 1 : 0;
                    break;
                }
            }
        }
        signs.push_back(containers % 2 == 0 ? 1 : -1);
    }
    return signs;
}

// Measures the record and checks it against the reference per ring, each
// ring counted with its sign from `signs` (islands added, lakes taken away),
// to the accuracy geodesic.h states: areas within 1e-7 (relative to the
// rings' areas; 1e-9 km² for the smallest), perimeters within 1e-7, the
// centroid within 1e-7 degrees.
void ExpectMatchesReference(const Record& r, const std::vector<int>& signs, GeodesicFigures& got)
{
    EllipsoidMeter meter;
    meter.Measure(r.count, r.lon.data(), r.lat.data(), r.lon.size(), got);
    ASSERT_EQ(meter.Rings().size(), signs.size());
    Figures want;
    double scale = 0.0;
    for (std::size_t k = 0; k < signs.size(); ++k) {
        const Ring& ring = meter.Rings()[k];
        EXPECT_EQ(ring.outer < 0, signs[k] > 0) << "ring " << k;
        const Figures f = Reference(r, ring);
        const double sign = signs[k];
        want.areaKm2 += sign * f.areaKm2;
        want.perimeterKm += f.perimeterKm;
        scale += f.areaKm2;
        for (int i = 0; i < 3; ++i) {
            want.c[i] += sign * f.c[i];
        }
    }
    EXPECT_NEAR(got.areaKm2, want.areaKm2, std::max(1e-9, 1e-7 * scale));
    EXPECT_NEAR(got.perimeterKm, want.perimeterKm, std::max(1e-9, 1e-7 * want.perimeterKm));
    if (meter.Rings().empty() || want.areaKm2 <= 0.0) {
        return;
    }
    static const GeographicLib::Ellipsoid ellipsoid(GeographicLib::Constants::WGS84_a(),
                                                    GeographicLib::Constants::WGS84_f());
    const long double horizontal = std::hypot(want.c[0], want.c[1]);
    const double lat = ellipsoid.InverseAuthalicLatitude(
        static_cast<double>(std::atan2(want.c[2], horizontal) * 180.0L / std::numbers::pi_v<long double>));
    const double lon = static_cast<double>(std::atan2(want.c[1], want.c[0]) * 180.0L / std::numbers::pi_v<long double>);
    ASSERT_TRUE(got.hasCentroid);
    EXPECT_NEAR(got.centroidLat, lat, 1e-7);
    EXPECT_NEAR(std::remainder(got.centroidLon - lon, 360.0) * std::cos(lat * std::numbers::pi / 180.0), 0.0, 1e-7);
    EXPECT_GE(got.centroidLon, -180.0);
    EXPECT_LT(got.centroidLon, 180.0);
}

std::string FlagWords(std::uint32_t flags)
{
    std::string words;
    AppendFlagWords(words, flags);
    return words;
}

struct FigureCase {
    const char* name;
    const char* bna;
    double areaKm2;  // from the literature where given, else < 0
    const char* flags;
    std::vector<int> signs = {1};  // the nesting: +1 island, -1 lake, per ring
};

class EllipsoidFiguresTest : public testing::TestWithParam<FigureCase> {};

TEST_P(EllipsoidFiguresTest, MatchGeographicLibPerRing)
{
    const Record r = FromText(GetParam().bna);
    GeodesicFigures got;
    ExpectMatchesReference(r, GetParam().signs, got);
    if (GetParam().areaKm2 >= 0.0) {
        EXPECT_NEAR(got.areaKm2, GetParam().areaKm2, 0.001);
    }
    EXPECT_EQ(FlagWords(got.flags), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Records, EllipsoidFiguresTest,
    testing::Values(
        FigureCase{"a_degree_square_on_the_equator", "\"a\",\"b\",5\n0,0\n1,0\n1,1\n0,1\n0,0\n", 12308.778, ""},
        FigureCase{"a_box_in_central_Europe", "\"a\",\"b\",5\n10,50\n12,50\n12,51\n10,51\n10,50\n", 15783.179, ""},
        FigureCase{"the_box_clockwise", "\"a\",\"b\",5\n10,50\n10,51\n12,51\n12,50\n10,50\n", 15783.179, ""},
        FigureCase{"the_box_left_open", "\"a\",\"b\",4\n10,50\n12,50\n12,51\n10,51\n", 15783.179, "closed-here"},
        FigureCase{"a_ring_across_the_180th_meridian_as_a_jump",
                   "\"a\",\"b\",5\n179,-17\n-179,-17\n-179,-16\n179,-16\n179,-17\n", -1.0, "crosses-antimeridian"},
        FigureCase{"the_same_ring_written_beyond_180_degrees",
                   "\"a\",\"b\",5\n179,-17\n181,-17\n181,-16\n179,-16\n179,-17\n", -1.0, "crosses-antimeridian"},
        FigureCase{"a_ring_round_the_South_Pole",
                   "\"a\",\"b\",7\n0,-70\n60,-72\n120,-70\n180,-75\n-120,-70\n-60,-71\n0,-70\n", -1.0,
                   "crosses-antimeridian;encloses-pole;long-edges"},
        FigureCase{"the_ring_round_the_South_Pole_as_a_GIS_writes_it",
                   "\"a\",\"b\",8\n-180,-70\n-90,-72\n0,-70\n90,-72\n180,-70\n180,-90\n-180,-90\n-180,-70\n", -1.0,
                   "crosses-antimeridian;encloses-pole;long-edges"},
        FigureCase{"a_ring_round_the_South_Pole_with_islands_beside_it",
                   "\"a\",\"b\",16\n0,-70\n90,-70\n180,-70\n-90,-70\n0,-70\n"
                   "30,-60\n31,-60\n31,-59\n30,-59\n30,-60\n0,-70\n"
                   "179.5,-60\n180.5,-60\n180.5,-59\n179.5,-59\n179.5,-60\n",
                   -1.0, "crosses-antimeridian;encloses-pole;multi-ring;long-edges", {1, 1, 1}},
        FigureCase{"a_ring_round_the_North_Pole_with_a_lake_in_its_cap",
                   "\"a\",\"b\",10\n0,70\n-90,70\n180,70\n90,70\n0,70\n"
                   "30,80\n31,80\n31,81\n30,81\n30,80\n",
                   -1.0, "crosses-antimeridian;encloses-pole;multi-ring;long-edges", {1, -1}},
        FigureCase{"a_ring_of_more_than_half_the_earth_bounds_its_interior",
                   "\"a\",\"b\",7\n-170,-80\n0,-80\n170,-80\n170,80\n0,80\n-170,80\n-170,-80\n", -1.0, "long-edges"},
        FigureCase{"long_edges_across_a_continent",
                   "\"a\",\"b\",6\n30,50\n100,55\n170,65\n120,75\n60,70\n30,50\n", -1.0, "long-edges"},
        FigureCase{"an_island_with_a_lake",
                   "\"a\",\"b\",11\n0,40\n10,40\n10,50\n0,50\n0,40\n2,42\n8,42\n8,48\n2,48\n2,42\n0,40\n", -1.0,
                   "multi-ring", {1, -1}},
        FigureCase{"an_island_in_a_lake_in_an_island",
                   "\"a\",\"b\",17\n0,0\n10,0\n10,10\n0,10\n0,0\n2,2\n2,8\n8,8\n8,2\n2,2\n0,0\n"
                   "4,4\n6,4\n6,6\n4,6\n4,4\n0,0\n",
                   -1.0, "multi-ring", {1, -1, 1}},
        FigureCase{"a_ring_across_the_180th_meridian_with_a_lake",
                   "\"a\",\"b\",11\n179,-1\n-179,-1\n-179,1\n179,1\n179,-1\n179.5,-0.5\n-179.5,-0.5\n"
                   "-179.5,0.5\n179.5,0.5\n179.5,-0.5\n179,-1\n",
                   -1.0, "crosses-antimeridian;multi-ring", {1, -1}},
        FigureCase{"a_line_record_is_no_ring", "\"a\",\"b\",-3\n0,0\n1,0\n1,1\n", 0.0, "no-ring", {}},
        FigureCase{"two_points_are_no_ring", "\"a\",\"b\",2\n0,0\n1,1\n", 0.0, "no-ring", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Rings with full-width edges (-180 to 180 at one latitude), which are their
// parallels: the area between two parallels over the whole width, from
// GeographicLib's authalic latitude, in both orientations.
struct ParallelCase {
    const char* name;
    const char* bna;
    double south;  // the region's parallels
    double north;
    const char* flags;
};

class FullWidthEdges : public testing::TestWithParam<ParallelCase> {};

TEST_P(FullWidthEdges, BoundTheBandBetweenTheirParallels)
{
    const ParallelCase& c = GetParam();
    const auto& ellipsoid = GeographicLib::Ellipsoid::WGS84();
    const double sine = [&](double lat) { return std::sin(ellipsoid.AuthalicLatitude(lat) * std::numbers::pi / 180.0); }(c.north) -
                        std::sin(ellipsoid.AuthalicLatitude(c.south) * std::numbers::pi / 180.0);
    const double want = ellipsoid.Area() / 2.0 * sine / 1e6;
    Record r = FromText(c.bna);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "as written" : "reversed");
        EllipsoidMeter meter;
        GeodesicFigures got;
        meter.Measure(r.count, r.lon.data(), r.lat.data(), r.lon.size(), got);
        EXPECT_NEAR(got.areaKm2, want, 1e-9 * want);
        EXPECT_EQ(FlagWords(got.flags), c.flags);
        // The region is round the axis: its centroid is the pole of the
        // larger share, none for the whole world.
        EXPECT_EQ(got.hasCentroid, c.south != -c.north);
        if (got.hasCentroid) {
            EXPECT_EQ(got.centroidLat, std::fabs(c.north) > std::fabs(c.south) ? 90.0 : -90.0);
            EXPECT_EQ(got.centroidLon, 0.0);
        }
        std::reverse(r.lon.begin(), r.lon.end());
        std::reverse(r.lat.begin(), r.lat.end());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, FullWidthEdges,
    testing::Values(
        ParallelCase{"a_polar_box", "\"a\",\"b\",5\n-180,66.5\n180,66.5\n180,90\n-180,90\n-180,66.5\n", 66.5, 90.0,
                     "crosses-antimeridian;encloses-pole"},
        ParallelCase{"a_south_cap", "\"a\",\"b\",5\n-180,-60\n180,-60\n180,-90\n-180,-90\n-180,-60\n", -90.0, -60.0,
                     "crosses-antimeridian;encloses-pole"},
        ParallelCase{"a_latitude_band", "\"a\",\"b\",5\n-180,40\n180,40\n180,50\n-180,50\n-180,40\n", 40.0, 50.0,
                     "crosses-antimeridian"},
        ParallelCase{"a_band_of_more_than_half_the_world", "\"a\",\"b\",5\n-180,-10\n180,-10\n180,66.5\n-180,66.5\n-180,-10\n",
                     -10.0, 66.5, "crosses-antimeridian"},
        ParallelCase{"the_whole_world", "\"a\",\"b\",5\n-180,-90\n180,-90\n180,90\n-180,90\n-180,-90\n", -90.0, 90.0,
                     "crosses-antimeridian;encloses-pole"}),
    [](const auto& info) { return std::string(info.param.name); });

// A polar box with vertices between, 180 degrees apart: its region holds
// the pole (it runs along the pole line), and its geodesic edges are no
// longer its parallels.
TEST(EllipsoidFigures, APolarBoxWithVerticesBetweenEnclosesThePoleAndHasLongEdges)
{
    Record r = FromText("\"a\",\"b\",7\n-180,66.5\n0,66.5\n180,66.5\n180,90\n0,90\n-180,90\n-180,66.5\n");
    for (int pass = 0; pass < 2; ++pass) {
        EllipsoidMeter meter;
        GeodesicFigures got;
        meter.Measure(r.count, r.lon.data(), r.lat.data(), r.lon.size(), got);
        EXPECT_EQ(FlagWords(got.flags), "encloses-pole;long-edges");
        std::reverse(r.lon.begin(), r.lon.end());
        std::reverse(r.lat.begin(), r.lat.end());
    }
}

// Edges of 20 to 100 km at 45 degrees north, in every direction: the range
// where the first-order term per edge stands in for the exact geodesic.
class MidLatitudeEdges : public testing::TestWithParam<double> {};

TEST_P(MidLatitudeEdges, MatchGeographicLib)
{
    const double km = GetParam();
    Record r;
    const double radius = km / 111.13;  // degrees of latitude: a hexagon's edge equals its radius
    for (int k = 0; k <= 6; ++k) {
        const double a = (k % 6) * std::numbers::pi / 3.0 + 0.3;
        r.lon.push_back(10.0 + radius * std::cos(a) / std::cos(45.0 * std::numbers::pi / 180.0));
        r.lat.push_back(45.0 + radius * std::sin(a));
    }
    r.count = 7;
    GeodesicFigures got;
    ExpectMatchesReference(r, {1}, got);
    EXPECT_NEAR(got.perimeterKm / 6.0, km, 0.02 * km);
}

INSTANTIATE_TEST_SUITE_P(Kilometres, MidLatitudeEdges, testing::Values(20.0, 50.0, 80.0, 99.0, 100.5),
                         [](const auto& info) { return "edges_of_" + std::to_string(static_cast<int>(info.param)) + "_km"; });

// A ring round a pole and the islands beside it (Antarctica as one record of
// its rings): the record's area is that of the ring's cap and of every island.
TEST(EllipsoidFigures, APolarRingWithIslandsHasTheSumOfTheirAreas)
{
    const std::string cap = "0,-70\n90,-72\n180,-70\n-90,-71\n0,-70\n";
    const std::vector<std::string> islands = {"30,-60\n31,-60\n31,-59\n30,-59\n30,-60\n",
                                              "179.5,-62\n-179.5,-62\n-179.5,-61\n179.5,-61\n179.5,-62\n",
                                              "-100,-65\n-100,-64\n-99,-64\n-99,-65\n-100,-65\n"};
    const auto measure = [](const std::string& bna) {
        const Record r = FromText(bna);
        EllipsoidMeter meter;
        GeodesicFigures f;
        meter.Measure(r.count, r.lon.data(), r.lat.data(), r.lon.size(), f);
        return f.areaKm2;
    };
    std::string record = cap;
    double sum = measure("\"a\",\"b\",5\n" + cap);
    for (std::size_t i = 0; i < islands.size(); ++i) {
        record += islands[i] + (i + 1 < islands.size() && i > 0 ? "0,-70\n" : "");
        sum += measure("\"a\",\"b\",5\n" + islands[i]);
    }
    const std::size_t lines = static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n'));
    EXPECT_NEAR(measure("\"a\",\"b\"," + std::to_string(lines) + "\n" + record), sum, 1e-9 * sum);
}

TEST(EllipsoidFigures, MeasureARingOfAHundredThousandPoints)
{
    Record r;
    const int n = 100000;
    for (int k = 0; k < n; ++k) {
        const double a = 2.0 * std::numbers::pi * k / n;
        r.lon.push_back(20.0 + 3.0 * std::cos(a) / std::cos(45.0 * std::numbers::pi / 180.0));
        r.lat.push_back(45.0 + 3.0 * std::sin(a));
    }
    r.count = n;
    GeodesicFigures got;
    ExpectMatchesReference(r, {1}, got);
    EXPECT_EQ(FlagWords(got.flags), "closed-here;over-point-limit");
}

// A file not in degrees: no figures, the flag not-degrees before no-ring,
// and what the record holds as plane rings.
TEST(EllipsoidFigures, NotInDegreesHasNoFigures)
{
    const struct {
        const char* bna;
        Coordinates coordinates;
        const char* flags;
    } cases[] = {
        {"\"a\",\"b\",4\n0,0\n1,0\n1,91\n0,0\n", Coordinates::Degrees, "not-degrees"},
        {"\"a\",\"b\",4\n0,0\n-1e30,0\n1,1\n0,0\n", Coordinates::Degrees, "not-degrees"},
        {"\"a\",\"b\",4\n0,0\n1,0\n1,1\n0,0\n", Coordinates::Plane, "not-degrees"},
        {"\"a\",\"b\",12\n0,0\n9,0\n9,9\n0,0\n20,0\n21,0\n21,1\n20,0\n0,0\n5,5\n6,5\n6,6\n", Coordinates::Plane,
         "closed-here;multi-ring;not-degrees"},
        {"\"a\",\"b\",-3\n0,0\n500,0\n500,500\n", Coordinates::Plane, "not-degrees;no-ring"},
    };
    for (const auto& c : cases) {
        const Record r = FromText(c.bna);
        EllipsoidMeter meter;
        GeodesicFigures got;
        meter.Measure(r.count, r.lon.data(), r.lat.data(), r.lon.size(), got, c.coordinates);
        EXPECT_FALSE(got.hasFigures) << c.bna;
        EXPECT_FALSE(got.hasCentroid) << c.bna;
        EXPECT_EQ(FlagWords(got.flags), c.flags) << c.bna;
    }
}

TEST(EllipsoidFigures, NoRingHasNoFigures)
{
    EllipsoidMeter meter;
    GeodesicFigures got;
    const double lon[3] = {0.0, 1.0, 1.0};
    const double lat[3] = {0.0, 0.0, 1.0};
    meter.Measure(-3, lon, lat, 3, got);
    EXPECT_EQ(got.areaKm2, 0.0);
    EXPECT_EQ(got.perimeterKm, 0.0);
    EXPECT_FALSE(got.hasCentroid);
}

TEST(EllipsoidFigures, FlagWordsKeepTheirOrder)
{
    EXPECT_EQ(FlagWords(0xFFU), "crosses-antimeridian;encloses-pole;closed-here;multi-ring;over-point-limit;"
                                "not-degrees;no-ring;classic-differs");
    EXPECT_EQ(FlagWords(ClosedHere | ClassicDiffers), "closed-here;classic-differs");
}

// The table's fixed decimals are those of std::to_chars (no sign on a zero),
// at every magnitude and at the exact ties, the odd 128ths and 256ths.
TEST(EllipsoidFigures, FixedDecimalsAreThoseOfToChars)
{
    std::mt19937_64 random(28);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-9, 10);
    std::uniform_int_distribution<std::int64_t> odd(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    for (int i = 0; i < 100000; ++i) {
        const double tie = static_cast<double>(odd(random) | 1) / (i % 2 == 0 ? 128.0 : 256.0);
        for (const double value : {mantissa(random) * std::pow(10.0, exponent(random)), tie,
                                   std::nextafter(tie, 0.0), std::nextafter(tie, 2.0 * tie)}) {
            for (const int decimals : {6, 7}) {
                char buf[400];
                const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
                std::string expected(buf, res.ptr);
                if (expected.find_first_not_of("-0.") == std::string::npos && expected.front() == '-') {
                    expected.erase(0, 1);
                }
                std::string got;
                AppendFixed(got, value, decimals);
                ASSERT_EQ(got, expected) << std::hexfloat << value;
            }
        }
    }
}

// Every record of the real samples in degrees (files with a latitude beyond
// 90 are plane coordinates and left out), their nesting found on its own.
TEST(EllipsoidFiguresSamples, MatchGeographicLibPerRing)
{
    if (!std::filesystem::is_directory(ZARN_SAMPLES_DIR)) {
        GTEST_SKIP() << "no sample folder at " << ZARN_SAMPLES_DIR;
    }
    int measured = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZARN_SAMPLES_DIR)) {
        if (entry.path().extension() != ".bna") {
            continue;
        }
        const std::vector<Record> records = ReadDegrees(entry.path());
        if (std::any_of(records.begin(), records.end(), [](const Record& r) {
                return std::any_of(r.lat.begin(), r.lat.end(), [](double v) { return std::fabs(v) > 90.0; });
            })) {
            continue;
        }
        for (const Record& r : records) {
            if (r.count < 3) {
                continue;
            }
            SCOPED_TRACE(entry.path().filename().string() + ": " + r.name);
            std::vector<Ring> rings;
            SplitRings(r.lon.data(), r.lat.data(), r.lon.size(), Coordinates::Degrees, rings);
            GeodesicFigures got;
            ExpectMatchesReference(r, PlaneNesting(r, rings), got);
            ++measured;
        }
    }
    EXPECT_GT(measured, 2000);
}

#endif

}  // namespace
}  // namespace zarn
