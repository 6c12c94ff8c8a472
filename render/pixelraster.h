#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarn {

// Clips the segment to the box [left, right] x [top, bottom] (Cohen-Sutherland):
// each end outside is moved onto the border it crosses, set exactly, so that
// even ends 1e300 away leave the visible part where it belongs. False when
// nothing is left or an end is not a finite position.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double left, double top, double right,
                 double bottom);

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

    // The masks of the last circle drawn; a map's markers all share one size.
    double circleRadius_ = -1.0;
    int circlePenWidth_ = 0;
    std::vector<Offset> circleInside_;
    std::vector<Offset> circleRing_;
};

template <class ToPixelX, class ToPixelY>
void PixelRaster::Polyline(const float* x, const float* y, std::size_t count, ToPixelX toPixelX, ToPixelY toPixelY)
{
    if (count < 2) {
        return;
    }
    double ax = toPixelX(x[0]);
    double ay = toPixelY(y[0]);
    // The pixel last stamped, while the previous point lies near the image.
    bool chained = false;
    int lastX = 0;
    int lastY = 0;
    for (std::size_t k = 1; k < count; ++k) {
        const double bx = toPixelX(x[k]);
        const double by = toPixelY(y[k]);
        if (Near(ax, ay) && Near(bx, by)) {
            const int x2 = Anchor(bx);
            const int y2 = Anchor(by);
            if (!chained) {
                Line(Anchor(ax), Anchor(ay), x2, y2);
            } else if (x2 != lastX || y2 != lastY) {
                Line(lastX, lastY, x2, y2);
            }
            chained = true;
            lastX = x2;
            lastY = y2;
        } else {
            Segment(ax, ay, bx, by);
            chained = false;
        }
        ax = bx;
        ay = by;
    }
}

}  // namespace zarn
