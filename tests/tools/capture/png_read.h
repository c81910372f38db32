#pragma once

// Reads a PNG file back as 8-bit RGB through libpng, for the tests.

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "rgb_image.h"

// An empty image (width 0) when the file is missing or not a whole PNG.
inline RgbImage readPng(const std::filesystem::path& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    RgbImage result;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return result;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    result.rgb = std::move(rgb);
    return result;
}
