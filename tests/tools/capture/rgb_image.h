#pragma once

// An 8-bit RGB picture, rows top first, as the tests read them back: PNG
// files (png_read.h) and screenshots of the X screen (tests/host/xwd_read.h).
// An image of width 0 stands for one that could not be read.

#include <cstddef>
#include <cstdint>
#include <vector>

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};
