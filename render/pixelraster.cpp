#include "pixelraster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZARN_MASKED_ROW_STORES 1
#endif

namespace zarn {

#ifdef ZARN_MASKED_ROW_STORES
bool HaveMaskedRowStores()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0;
    }();
    return have;
}

__attribute__((target("avx512f"))) void StoreMaskedRows(std::uint32_t* at, std::size_t stride,
                                                        const std::uint16_t* rows, int count, std::uint32_t colour)
{
    const __m512i ink = _mm512_set1_epi32(static_cast<int>(colour));
    for (int row = 0; row < count; ++row) {
        _mm512_mask_storeu_epi32(at, static_cast<__mmask16>(rows[row]), ink);
        at += stride;
    }
}
#else
bool HaveMaskedRowStores()
{
    return false;
}

void StoreMaskedRows(std::uint32_t*, std::size_t, const std::uint16_t*, int, std::uint32_t) {}
#endif

PixelRaster::PixelRaster(std::uint32_t* bits, int width, int height, std::size_t stride)
    : bits_(bits), width_(width), height_(height), stride_(stride)
{
}

void PixelRaster::SetPen(std::uint32_t colour, int width)
{
    colour_ = colour;
    width = std::clamp(width, 1, MaxPenWidth);
    if (width == penWidth_) {
        return;
    }
    penWidth_ = width;
    pen_.clear();
    // Pixel centres within the disc; an even disc is centred on a corner.
    const double centre = width % 2 == 0 ? 0.5 : 0.0;
    const double r2 = width * width / 4.0;
    const int from = -(width / 2);
    const int to = (width - 1) / 2;
    for (int dy = from; dy <= to; ++dy) {
        for (int dx = from; dx <= to; ++dx) {
            const double ex = dx + centre;
            const double ey = dy + centre;
            if (ex * ex + ey * ey <= r2) {
                pen_.push_back({dx, dy});
            }
        }
    }
}

bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double left, double top, double right,
                 double bottom)
{
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) {
        return false;
    }
    enum : unsigned { Left = 1, Right = 2, Top = 4, Bottom = 8 };
    const auto code = [&](double x, double y) {
        return (x < left ? Left : x > right ? Right : 0U) | (y < top ? Top : y > bottom ? Bottom : 0U);
    };
    unsigned c1 = code(x1, y1);
    unsigned c2 = code(x2, y2);
    for (int pass = 0; pass < 4 && (c1 | c2) != 0; ++pass) {
        if ((c1 & c2) != 0) {
            return false;
        }
        const bool first = c1 != 0;
        const unsigned c = first ? c1 : c2;
        double& x = first ? x1 : x2;
        double& y = first ? y1 : y2;
        const double ox = first ? x2 : x1;
        const double oy = first ? y2 : y1;
        if ((c & (Left | Right)) != 0) {
            const double edge = (c & Left) != 0 ? left : right;
            y = oy + (y - oy) * ((edge - ox) / (x - ox));
            x = edge;
        } else {
            const double edge = (c & Top) != 0 ? top : bottom;
            x = ox + (x - ox) * ((edge - oy) / (y - oy));
            y = edge;
        }
        (first ? c1 : c2) = code(x, y);
    }
    if ((c1 | c2) != 0) {
        return false;
    }
    return std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2);
}

void PixelRaster::Segment(double x1, double y1, double x2, double y2)
{
    if (!ClipSegment(x1, y1, x2, y2, -ClipMargin, -ClipMargin, width_ + ClipMargin, height_ + ClipMargin)) {
        return;
    }
    Line(Anchor(x1), Anchor(y1), Anchor(x2), Anchor(y2));
}

void PixelRaster::Dot(double x, double y)
{
    if (!Near(x, y)) {
        return;
    }
    Stamp(Anchor(x), Anchor(y));
}

// Bresenham from pixel to pixel, both ends included.
void PixelRaster::Line(int x1, int y1, int x2, int y2)
{
    const int dx = std::abs(x2 - x1);
    const int dy = -std::abs(y2 - y1);
    const int sx = x1 < x2 ? 1 : -1;
    const int sy = y1 < y2 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        Stamp(x1, y1);
        if (x1 == x2 && y1 == y2) {
            return;
        }
        const int e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y1 += sy;
        }
    }
}

void PixelRaster::Stamp(int x, int y)
{
    if (penWidth_ == 1) {
        Put(x, y, colour_);
        return;
    }
    for (const Offset& o : pen_) {
        Put(x + o.dx, y + o.dy, colour_);
    }
}

void PixelRaster::Circle(double x, double y, double radius, bool filled, std::uint32_t fill, std::uint32_t border)
{
    radius = std::fabs(radius);
    if (!(radius <= MaxCircleRadius)) {
        return;
    }
    const double outer = radius + penWidth_;
    if (!(x >= -outer && y >= -outer && x <= width_ + outer && y <= height_ + outer)) {
        return;
    }
    if (radius != circleRadius_ || penWidth_ != circlePenWidth_) {
        circleRadius_ = radius;
        circlePenWidth_ = penWidth_;
        circleInside_.clear();
        circleRing_.clear();
        // Distances between pixel centres: the ring is the band of the pen's
        // width on the circle, the inside all that lies within it.
        const double half = penWidth_ / 2.0;
        const int reach = static_cast<int>(std::ceil(radius + half));
        const bool rows = 2 * reach + 1 <= 16 && HaveMaskedRowStores();
        circleReach_ = rows ? reach : 0;
        circleInsideRows_.assign(rows ? static_cast<std::size_t>(2 * reach + 1) : 0, 0);
        circleRingRows_.assign(circleInsideRows_.size(), 0);
        for (int dy = -reach; dy <= reach; ++dy) {
            for (int dx = -reach; dx <= reach; ++dx) {
                const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
                // Only where the circle's rows fit the mask's 16 bits.
                const std::uint16_t bit = rows ? static_cast<std::uint16_t>(1U << static_cast<unsigned>(dx + reach)) : 0U;
                if (std::fabs(d - radius) <= half) {
                    circleRing_.push_back({dx, dy});
                    if (rows) {
                        circleRingRows_[static_cast<std::size_t>(dy + reach)] |= bit;
                    }
                } else if (d < radius) {
                    circleInside_.push_back({dx, dy});
                    if (rows) {
                        circleInsideRows_[static_cast<std::size_t>(dy + reach)] |= bit;
                    }
                }
            }
        }
    }
    const int cx = static_cast<int>(std::floor(x));
    const int cy = static_cast<int>(std::floor(y));
    const int reach = circleReach_;
    if (!circleRingRows_.empty() && cx >= reach && cy >= reach && cx + reach < width_ && cy + reach < height_) {
        std::uint32_t* const corner =
            bits_ + static_cast<std::size_t>(cy - reach) * stride_ + static_cast<std::size_t>(cx - reach);
        const int count = static_cast<int>(circleRingRows_.size());
        if (filled) {
            StoreMaskedRows(corner, stride_, circleInsideRows_.data(), count, fill);
        }
        StoreMaskedRows(corner, stride_, circleRingRows_.data(), count, border);
        return;
    }
    if (filled) {
        for (const Offset& o : circleInside_) {
            Put(cx + o.dx, cy + o.dy, fill);
        }
    }
    for (const Offset& o : circleRing_) {
        Put(cx + o.dx, cy + o.dy, border);
    }
}

}  // namespace zarn
