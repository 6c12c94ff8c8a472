#pragma once

#include "imagecanvas.h"

#include <QColor>

#include <cstdint>

namespace zarn {

// What the saved canvas and the screen's share: the colour as Qt's, and
// where positions are clipped. Positions far outside the picture are clipped
// before they reach a rasteriser, which works in fixed point and must not
// see huge coordinates.
inline QColor ToQColor(Colour c)
{
    const auto v = static_cast<std::uint32_t>(c);
    return {static_cast<int>(v & 0xFFU), static_cast<int>((v >> 8U) & 0xFFU), static_cast<int>((v >> 16U) & 0xFFU)};
}

inline constexpr double ClipMargin = 4096.0;
inline constexpr double ClipMin = -ClipMargin;
inline constexpr double ClipMax = ImageCanvas::SizePixels + ClipMargin;

// Whether a mark of `reach` pixels round (px, py) can touch the picture.
inline bool NearPicture(double px, double py, double reach)
{
    return px + reach >= 0.0 && py + reach >= 0.0 && px - reach <= ImageCanvas::SizePixels &&
           py - reach <= ImageCanvas::SizePixels;
}

}  // namespace zarn
