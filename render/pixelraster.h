#pragma once

#include <cmath>
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace zarn {

// Clips the segment to the box [left, right] x [top, bottom] (Cohen-Sutherland):
// each end outside is moved onto the border it crosses, set exactly, so that
// even ends 1e300 away leave the visible part where it belongs. False when
// nothing is left or an end is not a finite position.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double left, double top, double right,
                 double bottom);

// Whether the processor stores up to 16 pixels of a row under a bit mask in
// one instruction (AVX-512), for StoreMaskedRows.
bool HaveMaskedRowStores();

// Sets, in each of `count` rows `stride` pixels apart from `at`, the pixels
// whose bits are set in the row's mask (bit i for pixel i); nothing else is
// touched, not even read. Only where HaveMaskedRowStores.
void StoreMaskedRows(std::uint32_t* at, std::size_t stride, const std::uint16_t* rows, int count,
                     std::uint32_t colour);

// Outlines, dots and marker circles set straight into a 32-bit image, without
// anti-aliasing. Positions are in pixels (x to the right, y downward, pixel
// (i, j) covering [i, i + 1) x [j, j + 1)) and may lie anywhere: what falls
// outside the image is clipped, huge or infinite values included.
//
// A pen of width w is a disc of that diameter stamped along the line, so
// joins and ends are round; an odd width is centred on the pixel holding the
// position, an even one on the pixel corner nearest to it. The pixels drawn
// depend only on the pixels the positions fall in, which lets a ring of many
// points inside one pixel cost one comparison per point.
class PixelRaster {
public:
    // Wider pens and larger circles are left to a general rasteriser.
    static constexpr int MaxPenWidth = 16;
    static constexpr double MaxCircleRadius = 64.0;

    // `bits` holds `height` rows of `width` pixels, `stride` pixels apart.
    PixelRaster(std::uint32_t* bits, int width, int height, std::size_t stride);

    // The image may move (a shared picture is copied before it is written).
    void SetBits(std::uint32_t* bits) { bits_ = bits; }
    void SetPen(std::uint32_t colour, int width);

    // The segments between consecutive points (x[k], y[k]), `toPixelX` and
    // `toPixelY` turning each coordinate into pixels.
    template <class ToPixelX, class ToPixelY>
    void Polyline(const float* x, const float* y, std::size_t count, ToPixelX toPixelX, ToPixelY toPixelY);
    void Segment(double x1, double y1, double x2, double y2);
    void Dot(double x, double y);
    // A circle of `radius` pixels (at most MaxCircleRadius) around the pixel
    // holding (x, y): its inside in `fill` unless `filled` is false, then a
    // ring of the pen's width in `border`.
    void Circle(double x, double y, double radius, bool filled, std::uint32_t fill, std::uint32_t border);

private:
    struct Offset {
        int dx;
        int dy;
    };

    // Positions this far outside the image are clipped before they become
    // integers; within it, a pen's stamp may still reach into the image.
    bool Near(double x, double y) const
    {
        return x >= -ClipMargin && y >= -ClipMargin && x <= width_ + ClipMargin && y <= height_ + ClipMargin;
    }
    static constexpr double ClipMargin = 2.0 * MaxPenWidth;

    int Anchor(double v) const
    {
        return static_cast<int>(std::floor(penWidth_ % 2 == 0 ? v + 0.5 : v));
    }
    void Line(int x1, int y1, int x2, int y2);
    void Stamp(int x, int y);
    void Put(int x, int y, std::uint32_t colour)
    {
        if (static_cast<unsigned>(x) < static_cast<unsigned>(width_) &&
            static_cast<unsigned>(y) < static_cast<unsigned>(height_)) {
            bits_[static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x)] = colour;
        }
    }

    std::uint32_t* bits_;
    int width_;
    int height_;
    std::size_t stride_;
    std::uint32_t colour_ = 0;
    int penWidth_ = 1;
    std::vector<Offset> pen_{{0, 0}};

    // Scratch of Polyline: a chunk of points and the one before it.
    static constexpr std::size_t Chunk = 1024;
    double chunkX_[Chunk + 1];
    double chunkY_[Chunk + 1];
    int anchorX_[Chunk + 1];
    int anchorY_[Chunk + 1];
    unsigned char near_[Chunk + 1];

    // The masks of the last circle drawn; a map's markers all share one size.
    double circleRadius_ = -1.0;
    int circlePenWidth_ = 0;
    std::vector<Offset> circleInside_;
    std::vector<Offset> circleRing_;
    // The same as bit rows from (-reach, -reach), 2 reach + 1 of them, when
    // that is at most 16 and the processor stores masked rows; else none.
    int circleReach_ = 0;
    std::vector<std::uint16_t> circleInsideRows_;
    std::vector<std::uint16_t> circleRingRows_;
};

template <class ToPixelX, class ToPixelY>
void PixelRaster::Polyline(const float* x, const float* y, std::size_t count, ToPixelX toPixelX, ToPixelY toPixelY)
{
    if (count < 2) {
        return;
    }
    // A chunk of points at a time goes through plain loops that vectorise:
    // pixel positions, whether they are near the image, and their anchor
    // pixels; entry 0 of a chunk is the last point of the one before.
    const double shift = penWidth_ % 2 == 0 ? 0.5 : 0.0;
    const double low = -ClipMargin;
    const double highX = width_ + ClipMargin;
    const double highY = height_ + ClipMargin;
    // Whether the segment into each point was stamped from the pixel before
    // (both ends near the image).
    bool chained = false;
    for (std::size_t from = 0; from + 1 < count; from += Chunk) {
        const std::size_t n = std::min(Chunk, count - from - 1) + 1;
        double* const px = chunkX_;
        double* const py = chunkY_;
        int* const ax = anchorX_;
        int* const ay = anchorY_;
        unsigned char* const near = near_;
        for (std::size_t k = 0; k < n; ++k) {
            px[k] = toPixelX(x[from + k]);
        }
        for (std::size_t k = 0; k < n; ++k) {
            py[k] = toPixelY(y[from + k]);
        }
        for (std::size_t k = 0; k < n; ++k) {
            near[k] = static_cast<unsigned char>(static_cast<int>(px[k] >= low) & static_cast<int>(py[k] >= low) &
                                                 static_cast<int>(px[k] <= highX) & static_cast<int>(py[k] <= highY));
        }
        // floor as truncation corrected downwards, on positions near the
        // image only (the others are not anchored).
        for (std::size_t k = 0; k < n; ++k) {
            const double v = near[k] != 0 ? px[k] + shift : 0.0;
            const int t = static_cast<int>(v);
            ax[k] = t - static_cast<int>(static_cast<double>(t) > v);
        }
        for (std::size_t k = 0; k < n; ++k) {
            const double v = near[k] != 0 ? py[k] + shift : 0.0;
            const int t = static_cast<int>(v);
            ay[k] = t - static_cast<int>(static_cast<double>(t) > v);
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((near[k - 1] & near[k]) != 0) {
                // Once chained, a point in the pixel stamped last adds nothing.
                if (!chained || ax[k] != ax[k - 1] || ay[k] != ay[k - 1]) {
                    Line(ax[k - 1], ay[k - 1], ax[k], ay[k]);
                }
                chained = true;
            } else {
                Segment(px[k - 1], py[k - 1], px[k], py[k]);
                chained = false;
            }
        }
    }
}

}  // namespace zarn
