#include "pixelraster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace zarn {
namespace {

constexpr int Size = 64;
constexpr std::uint32_t White = 0xFFFFFFFFU;
constexpr std::uint32_t Red = 0xFFFF0000U;
constexpr std::uint32_t Blue = 0xFF0000FFU;

struct Image {
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(Size * Size, White);
    PixelRaster raster{pixels.data(), Size, Size, Size};

    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y * Size + x)]; }
    int Count(std::uint32_t colour) const
    {
        int n = 0;
        for (const std::uint32_t p : pixels) {
            n += p == colour ? 1 : 0;
        }
        return n;
    }
};

double Identity(float v)
{
    return v;
}

// A ring of many points, most of them inside one pixel of the last, must
// put down exactly the pixels of its segments drawn one by one.
TEST(PixelRaster, PolylineDrawsWhatItsSegmentsDraw)
{
    std::mt19937 random(7);
    std::normal_distribution<float> step(0.0F, 0.4F);
    for (const int width : {1, 2, 3, 6}) {
        std::vector<float> x{-3.0F};
        std::vector<float> y{30.0F};
        for (int k = 0; k < 4000; ++k) {
            x.push_back(x.back() + step(random) + 0.02F);
            y.push_back(y.back() + step(random));
        }
        Image chained;
        chained.raster.SetPen(Red, width);
        chained.raster.Polyline(x.data(), y.data(), x.size(), Identity, Identity);
        Image single;
        single.raster.SetPen(Red, width);
        for (std::size_t k = 1; k < x.size(); ++k) {
            single.raster.Segment(x[k - 1], y[k - 1], x[k], y[k]);
        }
        EXPECT_EQ(chained.pixels, single.pixels) << "pen width " << width;
        EXPECT_GT(chained.Count(Red), Size) << "pen width " << width;
    }
}

TEST(PixelRaster, ClipsFarAndNonFinitePositions)
{
    constexpr double Inf = std::numeric_limits<double>::infinity();
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    Image image;
    image.raster.SetPen(Red, 1);
    image.raster.Segment(-1e300, 10.5, 1e300, 10.5);
    for (int x = 0; x < Size; ++x) {
        ASSERT_EQ(image.At(x, 10), Red) << x;
    }
    EXPECT_EQ(image.Count(Red), Size);
    image.raster.Segment(NaN, 1.0, 5.0, 5.0);
    image.raster.Segment(-Inf, -Inf, Inf, Inf);
    image.raster.Segment(-1e9, -5.0, 1e9, -5.0);  // wholly above the image
    image.raster.Dot(NaN, 3.0);
    image.raster.Dot(-1e20, 3.0);
    image.raster.Circle(Inf, 3.0, 4.0, true, Blue, Red);
    EXPECT_EQ(image.Count(Red), Size);
    EXPECT_EQ(image.Count(Blue), 0);
}

TEST(PixelRaster, CircleHasItsRingAroundItsInside)
{
    Image filled;
    filled.raster.SetPen(Red, 1);
    filled.raster.Circle(20.5, 20.5, 4.0, true, Blue, Red);
    EXPECT_EQ(filled.At(20, 20), Blue);
    EXPECT_EQ(filled.At(24, 20), Red);
    EXPECT_EQ(filled.At(20, 16), Red);
    EXPECT_EQ(filled.At(26, 20), White);

    Image hollow;
    hollow.raster.SetPen(Red, 1);
    hollow.raster.Circle(20.5, 20.5, 4.0, false, Blue, Red);
    EXPECT_EQ(hollow.At(20, 20), White);
    EXPECT_EQ(hollow.Count(Red), filled.Count(Red));
    EXPECT_EQ(hollow.Count(Blue), 0);

    // Half outside the image: the visible half only.
    Image edge;
    edge.raster.SetPen(Red, 3);
    edge.raster.Circle(0.5, 30.5, 6.0, true, Blue, Red);
    EXPECT_EQ(edge.At(0, 30), Blue);
    EXPECT_EQ(edge.At(6, 30), Red);
}

// A circle wholly inside the image (set row by row where the processor
// stores masked rows) puts down the pixels of the same circle touching the
// image's edge (set pixel by pixel), moved.
TEST(PixelRaster, CircleInsideMatchesTheSameCircleAtTheEdge)
{
    for (const int width : {1, 2, 3}) {
        for (const double radius : {0.2, 1.0, 2.5, 3.27, 5.0, 6.5, 9.0}) {
            Image inside;
            inside.raster.SetPen(Red, width);
            inside.raster.Circle(30.5, 31.25, radius, true, Blue, Red);
            constexpr int Shift = Size - 2 - 30;  // centred on the last column but one
            Image edge;
            edge.raster.SetPen(Red, width);
            edge.raster.Circle(30.5 + Shift, 31.25, radius, true, Blue, Red);
            for (int y = 0; y < Size; ++y) {
                for (int x = 0; x + Shift < Size; ++x) {
                    ASSERT_EQ(edge.At(x + Shift, y), inside.At(x, y))
                        << "pen " << width << ", radius " << radius << ", at " << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace zarn
