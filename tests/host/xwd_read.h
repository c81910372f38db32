#pragma once

// Reads a screenshot of the X screen in xwd's format (as `xwd -root` writes
// it on a 24-bit TrueColor screen: 24 or 32 bits a pixel, colour masks in the
// header) as 8-bit RGB, and writes one as a binary PPM file for looking at
// it. Used by the end-to-end checks.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rgb_image.h"  // tests/tools/capture

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

// The picture, or an image of width 0 with `error` saying why.
inline RgbImage readXwd(const std::string& path, std::string& error)
{
    using xwd_detail::bigEndian32;
    using xwd_detail::shiftOf;
    RgbImage image;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 100) {
        error = path + " is not an xwd file";
        return image;
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
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width > 16384 || height > 16384 ||
        bytesPerLine < bytesPerPixel * width ||
        file.size() < pixelStart + std::size_t{bytesPerLine} * height) {
        error = "unsupported or truncated xwd file (" + std::to_string(bitsPerPixel) + " bits per pixel)";
        return image;
    }
    image.rgb.resize(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = &file[pixelStart + std::size_t{y} * bytesPerLine + bytesPerPixel * x];
            std::uint32_t v = 0;
            for (std::uint32_t b = 0; b < bytesPerPixel; ++b) {
                v |= std::uint32_t{p[byteOrder ? bytesPerPixel - 1 - b : b]} << (8 * b);
            }
            std::uint8_t* o = &image.rgb[(std::size_t{y} * width + x) * 3];
            o[0] = static_cast<std::uint8_t>((v & redMask) >> shiftOf(redMask));
            o[1] = static_cast<std::uint8_t>((v & greenMask) >> shiftOf(greenMask));
            o[2] = static_cast<std::uint8_t>((v & blueMask) >> shiftOf(blueMask));
        }
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    return image;
}

// The picture as a binary PPM file at `path`; nothing when it cannot be
// written.
inline void writePpm(const char* path, const RgbImage& image)
{
    if (std::FILE* out = std::fopen(path, "wb")) {
        std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height);
        std::fwrite(image.rgb.data(), 1, image.rgb.size(), out);
        std::fclose(out);
    }
}
