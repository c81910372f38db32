// Compares a part of a screenshot of the X screen (xwd) with offscreen
// captures of the same part of the picture at candidate times (capture
// --rect, PNG), and passes when the closest of them differs from the
// screenshot by at most MAX_MEAN levels (0-255) on average over the means of
// 24 x 24-pixel blocks, each channel apart. The blocks even out the film
// grain, which changes with every millisecond of the picture's time; what
// is left is the picture itself. The frame's exact time is not known, only a
// window around it; the captures sample that window. A capture of another
// size than the part (a full-resolution band against a picture shown scaled
// down in a letterbox) is first scaled to the part's size, each pixel the
// area-weighted mean of the capture's pixels under it.
//
// usage: picture_compare SHOT.xwd X,Y,W,H MAX_MEAN CAPTURE.png...
// Prints one line per capture and a verdict; exit status 0 when the closest
// capture is within MAX_MEAN, 1 when not, 2 on bad arguments or files.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "png_read.h"
#include "xwd_read.h"

namespace {

constexpr int BLOCK = 24;

struct Difference {
    double blocks = 0; // mean absolute difference of the blocks' means, levels
    double pixels = 0; // mean absolute difference of the pixels, levels
};

Difference compare(const RgbImage& shot, int left, int top, const RgbImage& capture)
{
    double blockSum = 0;
    int blockValues = 0;
    std::uint64_t pixelSum = 0;
    for (int by = 0; by < capture.height; by += BLOCK) {
        for (int bx = 0; bx < capture.width; bx += BLOCK) {
            long long sums[3][2] = {};
            int count = 0;
            for (int y = by; y < std::min(by + BLOCK, capture.height); ++y) {
                for (int x = bx; x < std::min(bx + BLOCK, capture.width); ++x) {
                    const std::uint8_t* a = shot.at(left + x, top + y);
                    const std::uint8_t* b = capture.at(x, y);
                    for (int c = 0; c < 3; ++c) {
                        sums[c][0] += a[c];
                        sums[c][1] += b[c];
                        pixelSum += static_cast<std::uint64_t>(std::abs(a[c] - b[c]));
                    }
                    ++count;
                }
            }
            for (int c = 0; c < 3; ++c) {
                blockSum += std::abs(static_cast<double>(sums[c][0] - sums[c][1])) / count;
                ++blockValues;
            }
        }
    }
    return {blockSum / blockValues, pixelSum / (3.0 * capture.width * capture.height)};
}

// The weights of the source pixels under each of `to` pixels spanning `from`
// pixels: for pixel k, the source pixels [first, first + weights.size()).
struct Span {
    int first;
    std::vector<double> weights;
};

std::vector<Span> spans(int from, int to)
{
    std::vector<Span> result(to);
    const double step = static_cast<double>(from) / to;
    for (int k = 0; k < to; ++k) {
        const double begin = k * step;
        const double end = (k + 1) * step;
        Span& span = result[k];
        span.first = static_cast<int>(begin);
        for (int i = span.first; i < from && i < end; ++i) {
            span.weights.push_back((std::min<double>(i + 1, end) - std::max<double>(i, begin)) / step);
        }
    }
    return result;
}

RgbImage scaled(const RgbImage& image, int width, int height)
{
    if (image.width == width && image.height == height) {
        return image;
    }
    const std::vector<Span> columns = spans(image.width, width);
    const std::vector<Span> rows = spans(image.height, height);
    RgbImage result;
    result.width = width;
    result.height = height;
    result.rgb.resize(3 * static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sum[3] = {};
            for (std::size_t r = 0; r < rows[y].weights.size(); ++r) {
                for (std::size_t c = 0; c < columns[x].weights.size(); ++c) {
                    const double w = rows[y].weights[r] * columns[x].weights[c];
                    const std::uint8_t* p = image.at(columns[x].first + static_cast<int>(c), rows[y].first + static_cast<int>(r));
                    for (int ch = 0; ch < 3; ++ch) {
                        sum[ch] += w * p[ch];
                    }
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                result.rgb[3 * (static_cast<std::size_t>(y) * width + x) + ch] =
                    static_cast<std::uint8_t>(std::min(255.0, sum[ch] + 0.5));
            }
        }
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: %s SHOT.xwd X,Y,W,H MAX_MEAN CAPTURE.png...\n", argv[0]);
        return 0;
    }
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    char* end = nullptr;
    const double maxMean = argc > 3 ? std::strtod(argv[3], &end) : -1;
    if (argc < 5 || std::sscanf(argv[2], "%d,%d,%d,%d", &left, &top, &width, &height) != 4 || width <= 0 ||
        height <= 0 || left < 0 || top < 0 || !end || *end || maxMean < 0) {
        std::fprintf(stderr, "usage: %s SHOT.xwd X,Y,W,H MAX_MEAN CAPTURE.png...\n", argv[0]);
        return 2;
    }
    std::string error;
    const RgbImage shot = readXwd(argv[1], error);
    if (!shot.width) {
        std::fprintf(stderr, "picture_compare: %s\n", error.c_str());
        return 2;
    }
    if (left + width > shot.width || top + height > shot.height) {
        std::fprintf(stderr, "picture_compare: the part %s lies outside the %dx%d screenshot\n", argv[2], shot.width,
                     shot.height);
        return 2;
    }
    RgbImage black;
    black.width = width;
    black.height = height;
    black.rgb.assign(3 * static_cast<std::size_t>(width) * height, 0);
    std::printf("against black: %.1f levels\n", compare(shot, left, top, black).blocks);

    double best = 1e9;
    std::string bestName;
    for (int k = 4; k < argc; ++k) {
        const RgbImage read = readPng(argv[k]);
        if (!read.width || read.width < width || read.height < height) {
            std::fprintf(stderr, "picture_compare: %s is not a PNG file of at least %dx%d pixels\n", argv[k], width,
                         height);
            return 2;
        }
        const RgbImage capture = scaled(read, width, height);
        const Difference d = compare(shot, left, top, capture);
        const std::string name = std::filesystem::path(argv[k]).filename().string();
        std::printf("against %s: %.1f levels (pixel by pixel %.1f)\n", name.c_str(), d.blocks, d.pixels);
        if (d.blocks < best) {
            best = d.blocks;
            bestName = name;
        }
    }
    if (best > maxMean) {
        std::printf("FAIL: the closest capture (%s) differs by %.1f levels on average, more than %.1f\n",
                    bestName.c_str(), best, maxMean);
        return 1;
    }
    std::printf("ok: the screenshot matches %s within %.1f levels on average (limit %.1f)\n", bestName.c_str(), best,
                maxMean);
    return 0;
}
