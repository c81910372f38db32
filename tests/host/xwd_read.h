#pragma once

// Reads a screenshot in xwd's format (as `xwd -root` or `xwd -id` write it on
// a 24- or 32-bit TrueColor screen) as 8-bit RGB, rows top first. For the
// end-to-end checks of what the X screen shows. Where windows of different
// visuals share the screen, xwd composes the picture itself, with 3-byte
// pixels in lines as long as those of 4-byte pixels.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ScreenImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};

namespace xwd_detail {

inline std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline int shiftOf(std::uint32_t mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace xwd_detail

// False, with `error` set, when the file is missing, truncated or not of
// 24- or 32-bit pixels.
inline bool readXwd(const char* path, ScreenImage& image, std::string& error)
{
    using namespace xwd_detail;
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 100) {
        error = std::string(path) + " is not an xwd file";
        return false;
    }
    auto field = [&](int index) { return bigEndian32(&file[4 * index]); };
    const std::uint32_t headerSize = field(0);
    const std::uint32_t width = field(4);
    const std::uint32_t height = field(5);
    const std::uint32_t byteOrder = field(7);
    const std::uint32_t bitsPerPixel = field(11);
    const std::uint32_t bytesPerLine = field(12);
    const std::uint32_t redMask = field(14);
    const std::uint32_t greenMask = field(15);
    const std::uint32_t blueMask = field(16);
    const std::uint32_t colours = field(19);
    const std::size_t pixelStart = headerSize + 12 * std::size_t{colours};
    const std::uint32_t bytesPerPixel = bitsPerPixel / 8;
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || bytesPerLine < bytesPerPixel * width ||
        file.size() < pixelStart + std::size_t{bytesPerLine} * height) {
        error = "unsupported or truncated xwd file (" + std::to_string(bitsPerPixel) + " bits per pixel)";
        return false;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.rgb.assign(std::size_t{width} * height * 3, 0);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = &file[pixelStart + std::size_t{y} * bytesPerLine + bytesPerPixel * x];
            std::uint32_t v = 0;
            for (std::uint32_t i = 0; i < bytesPerPixel; ++i) {
                v |= std::uint32_t{p[byteOrder ? bytesPerPixel - 1 - i : i]} << (8 * i);
            }
            std::uint8_t* o = &image.rgb[(std::size_t{y} * width + x) * 3];
            o[0] = static_cast<std::uint8_t>((v & redMask) >> shiftOf(redMask));
            o[1] = static_cast<std::uint8_t>((v & greenMask) >> shiftOf(greenMask));
            o[2] = static_cast<std::uint8_t>((v & blueMask) >> shiftOf(blueMask));
        }
    }
    return true;
}

// Writes the image as a binary PPM (for looking at it, or converting).
inline bool writePpm(const char* path, const ScreenImage& image)
{
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        return false;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height);
    const bool written = std::fwrite(image.rgb.data(), 1, image.rgb.size(), out) == image.rgb.size();
    return std::fclose(out) == 0 && written;
}
