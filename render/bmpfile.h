#pragma once

#include <cstdint>
#include <string>

namespace zarn {

// Writes a standard 24-bit Windows BMP (BITMAPINFOHEADER, bottom-up rows
// padded to four bytes, 96 dpi), the format every image program opens.
// `pixels` holds `height` rows of `width` 0xAARRGGBB values, `stride` values
// apart, top row first; alpha is ignored. Throws RunError when the file
// cannot be written completely.
void WriteBmp24(const std::string& path, int width, int height, const std::uint32_t* pixels,
                std::size_t stride);

}  // namespace zarn
