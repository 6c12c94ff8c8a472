#include "bmpfile.h"

#include "filepath.h"
#include "runerror.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace zarn {

namespace {

void Put16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8U);
}

void Put32(unsigned char* p, std::uint32_t v)
{
    Put16(p, v & 0xFFFFU);
    Put16(p + 2, v >> 16U);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void WriteBmp24(const std::string& path, int width, int height, const std::uint32_t* pixels,
                std::size_t stride)
{
    constexpr std::uint32_t HeaderBytes = 14 + 40;
    constexpr std::uint32_t PixelsPerMetre = 3780;  // 96 dpi
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3U + 3U) & ~3U;
    const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(height);

    unsigned char header[HeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, HeaderBytes + imageBytes);
    Put32(header + 10, HeaderBytes);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<std::uint32_t>(width));
    Put32(header + 22, static_cast<std::uint32_t>(height));
    Put16(header + 26, 1);   // planes
    Put16(header + 28, 24);  // bits per pixel
    Put32(header + 34, imageBytes);
    Put32(header + 38, PixelsPerMetre);
    Put32(header + 42, PixelsPerMetre);

    std::vector<unsigned char> image(imageBytes, 0);
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* src = pixels + static_cast<std::size_t>(height - 1 - row) * stride;
        unsigned char* dst = image.data() + static_cast<std::size_t>(row) * rowBytes;
        for (int col = 0; col < width; ++col) {
            const std::uint32_t argb = src[col];
            dst[3 * col] = static_cast<unsigned char>(argb);            // blue
            dst[3 * col + 1] = static_cast<unsigned char>(argb >> 8U);  // green
            dst[3 * col + 2] = static_cast<unsigned char>(argb >> 16U); // red
        }
    }

    const std::unique_ptr<std::FILE, FileCloser> file(OpenFile(path, "wb"));
    if (!file) {
        throw RunError("cannot write " + path + ": " + std::strerror(errno));
    }
    if (std::fwrite(header, 1, HeaderBytes, file.get()) != HeaderBytes ||
        std::fwrite(image.data(), 1, image.size(), file.get()) != image.size() || std::fflush(file.get()) != 0) {
        throw RunError("cannot write " + path + ": " + std::strerror(errno));
    }
}

}  // namespace zarn
