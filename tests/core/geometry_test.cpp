#include "geometry.h"
#include "mapextent.h"
#include "numbertext.h"
#include "runerror.h"
#include "testfiles.h"
#include "workspace.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace zarn {
namespace {

using test::PrintTo;

struct Point {
    float x;
    float y;
};
using Ring = std::vector<Point>;

// The geometry in the order of an analysis run; the workspace keeps the
// projected points.
PolygonRecord Analyse(Workspace& ws, const Ring& ring)
{
    ws.ResetPolygon();
    ws.curPoly.nPoints = static_cast<std::int32_t>(ring.size());
    for (std::size_t k = 0; k < ring.size(); ++k) {
        ws.pointX[k] = ring[k].x;
        ws.pointY[k] = ring[k].y;
    }
    ComputeExtent(ws);
    ComputeMidPoint(ws);
    ProjectPoints(ws);
    ComputeArea(ws, ws.curPoly);
    ComputeCentroid(ws, ws.curPoly);
    return ws.curPoly;
}

PolygonRecord Analyse(const Ring& ring)
{
    return Analyse(*std::make_unique<Workspace>(), ring);
}

const Ring UnitSquare{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};

struct RingCase {
    const char* name;
    Ring ring;
    const char* area;  // signed, as number text
    const char* centroidX;
    const char* centroidY;
};

class Figures : public testing::TestWithParam<RingCase> {};

TEST_P(Figures, AreaAndCentroid)
{
    const PolygonRecord p = Analyse(GetParam().ring);
    EXPECT_EQ(NumberText(p.area), GetParam().area);
    EXPECT_EQ(NumberText(p.centroidX), GetParam().centroidX);
    EXPECT_EQ(NumberText(p.centroidY), GetParam().centroidY);
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, Figures,
    testing::Values(
        RingCase{"unit_square_at_the_equator", UnitSquare, "12363.829", "0.5", "0.5"},
        RingCase{"box_10_to_12_E_50_to_51_N", {{10, 50}, {12, 50}, {12, 51}, {10, 51}, {10, 50}}, "15729.324", "11",
                 "50.5"},
        RingCase{"same_box_clockwise_is_negative", {{10, 50}, {10, 51}, {12, 51}, {12, 50}, {10, 50}}, "-15729.324",
                 "11", "50.5"},
        RingCase{"triangle_centroid_is_not_its_mid_point", {{0, 0}, {2, 0}, {0, 2}, {0, 0}}, "24724.835", "0.667",
                 "0.667"},
        // Kept in 64 bits throughout, this box would report 24727.659.
        RingCase{"box_2_by_1_degree_at_the_equator_shows_the_32_bit_storage",
                 {{0, 0}, {2, 0}, {2, 1}, {0, 1}, {0, 0}}, "24727.658", "1", "0.5"},
        RingCase{"unclosed_ring_gets_its_closing_edge", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, "12363.829", "0.5", "0.5"},
        RingCase{"line_segment_has_no_area_and_its_middle_as_centroid", {{0, 0}, {2, 1}}, "0", "1", "0.5"},
        RingCase{"single_point_is_its_own_centroid", {{3.25F, -7.5F}}, "0", "3.25", "-7.5"},
        RingCase{"no_points_gives_zero_at_zero", {}, "0", "0", "0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Geometry, MidPointAndCosineAre32BitFloats)
{
    const auto mid = [](const Ring& ring) {
        const PolygonRecord p = Analyse(ring);
        return std::make_tuple(p.midX, p.midY, p.cosMidLat);
    };
    EXPECT_EQ(mid(UnitSquare), std::make_tuple(0.5F, 0.5F, 0.9999619F));
    EXPECT_EQ(mid({{0, 0}, {2, 0}, {0, 2}, {0, 0}}), std::make_tuple(1.0F, 1.0F, 0.9998477F));
    EXPECT_EQ(mid({}), std::make_tuple(0.0F, 0.0F, 1.0F)) << "from the empty extent";
    // At 64.52 N the ten-digit pi and the 64-bit angle decide the last bit.
    EXPECT_EQ(mid({{10, 64.52F}}), std::make_tuple(10.0F, 64.52F, 0.43019604682922363F));
}

// Irregular rings whose last bits show the order of the sums and of the
// centroid formula; the figures were worked out step by step, apart from this
// code, with the same widths.
TEST(Geometry, ExactFiguresFollowTheOrderOfOperations)
{
    const struct {
        Ring ring;
        double area;
        double centroidX;
        double centroidY;
    } cases[] = {
        {{{10.27F, 50.47F}, {10.9F, 50.11F}, {10.82F, 50.53F}, {10.18F, 50.94F}, {10.87F, 50.18F}, {10.49F, 50.52F},
          {10.27F, 50.47F}},
         1326.8439551564868, 10.611671495706895, 50.470545810782454},
        {{{10.24F, 50.87F}, {10.97F, 50.48F}, {10.11F, 50.91F}, {10.54F, 50.66F}, {10.94F, 50.88F}, {11.0F, 50.73F},
          {10.24F, 50.87F}},
         149.59062643913717, 10.113675909268409, 50.770975168050974},
    };
    for (const auto& c : cases) {
        const PolygonRecord p = Analyse(c.ring);
        EXPECT_EQ(p.area, c.area);
        EXPECT_EQ(p.centroidX, c.centroidX);
        EXPECT_EQ(p.centroidY, c.centroidY);
    }
}

TEST(Geometry, ClosingEdgeGivesAnOpenRingTheFiguresOfItsClosedTwin)
{
    const Ring open{{0.5F, 0.3F}, {0.75F, 0.3F}, {0.75F, -0.3F}, {0.5F, -0.3F}};
    Ring closed = open;
    closed.push_back(open.front());
    const PolygonRecord a = Analyse(open);
    const PolygonRecord b = Analyse(closed);
    EXPECT_EQ(a.area, b.area);
    EXPECT_EQ(a.centroidX, b.centroidX);
    EXPECT_EQ(a.centroidY, b.centroidY);
}

// A closed ring already ends on its first point: the edge back adds nothing,
// not even the rounding of adding and taking away the same product (which
// would change the last bit of this triangle's area).
TEST(Geometry, ClosedRingSumsOnlyItsListedEdges)
{
    const Ring triangle{{0.323F, 0.481F}, {0.635F, 0.787F}, {0.748F, 0.206F}, {0.323F, 0.481F}};
    auto ws = std::make_unique<Workspace>();
    const PolygonRecord p = Analyse(*ws, triangle);
    const float* x = ws->pointX.data();
    const float* y = ws->pointY.data();
    double listed = 0.0;
    for (int i = 0; i + 1 < 4; ++i) {
        listed = (listed + static_cast<double>(y[i + 1]) * x[i]) - static_cast<double>(y[i]) * x[i + 1];
    }
    EXPECT_EQ(p.area, listed / 2.0);
}

TEST(NumberText, RoundsTheBinaryValueToThreeDecimalsTiesToEven)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {12363.829127557401, "12363.829"}, {11.0, "11"}, {50.5, "50.5"}, {-0.25, "-0.25"}, {100.0, "100"},
        {0.1 + 0.2, "0.3"},
        {0.0625, "0.062"},  // exact ties go to the even digit
        {0.1875, "0.188"},
        {1.0005, "1"},      // just below the tie in binary
        {0.0005, "0.001"},  // just above it
        {-0.0004, "0"},     {-0.0, "0"},
        {123456789012.3456, "123456789012.346"},
        {1234567890123.4567, "1234567890123.46"},  // 15 significant digits
        {1e15, "1E+15"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NumberText(c.value), c.text) << c.value;
    }
    EXPECT_EQ(NumberText(12363.829127557401, ","), "12363,829");
    EXPECT_EQ(NumberText(-0.5, ","), "-0,5");
}

// The three-decimal text of the binary value as std::to_chars writes it, less
// trailing zeros; "0" for "-0".
std::string Fixed3(double value)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    std::string text(buf, res.ptr);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
        text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

// The text is written in one conversion where the rounded value has few
// enough digits; it must agree with rounding first and writing 15 digits.
TEST(NumberText, ShortcutAgreesWithRoundingThenWritingFifteenDigits)
{
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-6, 13);
    for (int i = 0; i < 200000; ++i) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        char buf[64];
        const auto res = std::to_chars(buf, buf + sizeof buf, RoundTo3(value), std::chars_format::general, 15);
        std::string expected(buf, res.ptr);
        if (expected == "-0") {
            expected = "0";
        }
        for (char& c : expected) {
            c = c == 'e' ? 'E' : c;
        }
        ASSERT_EQ(NumberText(value), expected) << std::hexfloat << value;
    }
    // The exact ties are the odd sixteenths; they and their neighbours.
    std::uniform_int_distribution<std::int64_t> sixteenths(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    for (int i = 0; i < 100000; ++i) {
        const double tie = static_cast<double>(sixteenths(random) | 1) / 16.0;
        for (const double value : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 2.0 * tie)}) {
            ASSERT_EQ(NumberText(value), Fixed3(value)) << std::hexfloat << value;
        }
    }
    EXPECT_EQ(NumberText(99999999999.9996), "100000000000");
    EXPECT_EQ(NumberText(-99999999999.999), "-99999999999.999");
}

MapExtent Extent(float minX, float maxX, float minY, float maxY)
{
    return MapExtent{minX, maxX, minY, maxY};
}

MapExtent Empty()
{
    MapExtent e;
    ResetMapExtent(e);
    return e;
}

MapExtent Padded(MapExtent e)
{
    PadMapExtent(e);
    return e;
}

void ExpectExtent(const MapExtent& e, const MapExtent& want)
{
    EXPECT_FLOAT_EQ(e.minX, want.minX);
    EXPECT_FLOAT_EQ(e.maxX, want.maxX);
    EXPECT_FLOAT_EQ(e.minY, want.minY);
    EXPECT_FLOAT_EQ(e.maxY, want.maxY);
}

TEST(MapExtent, GrowsOnlyPastItsEdges)
{
    const auto polygon = [](float minX, float maxX, float minY, float maxY) {
        PolygonRecord p;
        p.minX = minX;
        p.maxX = maxX;
        p.minY = minY;
        p.maxY = maxY;
        return p;
    };
    MapExtent e = Empty();
    GrowMapExtent(e, polygon(10, 12, 50, 51));
    GrowMapExtent(e, polygon(10.5F, 11.5F, 50.2F, 50.8F));  // inside
    GrowMapExtent(e, polygon(10, 12, 50, 51));              // on the edges
    GrowMapExtent(e, polygon(99999, -99999, 99999, -99999));  // a record without points
    ExpectExtent(e, Extent(10, 12, 50, 51));
    GrowMapExtent(e, polygon(-1, 11, 50.5F, 52));
    ExpectExtent(e, Extent(-1, 12, 50, 52));
}

TEST(MapExtent, PadsByOnePercentOfTheLongerSide)
{
    ExpectExtent(Padded(Extent(0, 10, 0, 10)), Extent(-0.1F, 10.1F, -0.1F, 10.1F));
    ExpectExtent(Padded(Extent(0, 20, 0, 10)), Extent(-0.2F, 20.2F, -0.2F, 10.2F));
    // A single point is widened by a degree on each side first.
    ExpectExtent(Padded(Extent(3, 3, 4, 4)), Extent(1.98F, 4.02F, 2.98F, 5.02F));
    EXPECT_THROW(ComputeMapScale(Extent(3, 3, 4, 4)), RunError);
}

struct ScaleCase {
    const char* name;
    MapExtent extent;
    double scaleX;
    double scaleY;
    double tolerance;
};

class Scale : public testing::TestWithParam<ScaleCase> {};

TEST_P(Scale, LongerSideSpans100)
{
    const MapScale s = ComputeMapScale(GetParam().extent);
    EXPECT_NEAR(s.mapScaleX, GetParam().scaleX, GetParam().tolerance);
    EXPECT_NEAR(s.mapScaleY, GetParam().scaleY, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    MapExtent, Scale,
    testing::Values(ScaleCase{"wide_extent", Extent(0, 20, 0, 10), 100, 50, 0},
                    ScaleCase{"tall_extent", Extent(0, 10, 0, 20), 50, 100, 0},
                    ScaleCase{"square_extent", Extent(-5, 5, 40, 50), 100, 100, 0},
                    ScaleCase{"one_meridian_padded", Padded(Extent(5, 5, 0, 10)), 2 / 1.02, 100, 1e-4},
                    ScaleCase{"empty_extent_padded", Padded(Empty()), 100, 100, 0},
                    ScaleCase{"single_point_padded", Padded(Extent(3, 3, 4, 4)), 100, 100, 1e-4}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zarn
