// capture --scale from the outside: every pixel of the picture drawn at a
// scale is the full-resolution capture's pixel at its place (at 1920/N x
// 1080/N the full frame's pixel at N times its index, rows counted from the
// bottom as GL does; at 1536x864 and 1280x720 the one whose centre is nearest
// to the drawn pixel's), at times across the scenes; --rect counts in the
// scaled picture.
#include "capture_pictures.h"
#include "png_read.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

using CaptureScale = CapturePictures;

// The frame pixel that drawn pixel k of `drawn` pixels across `frame` stands
// for, both counted from the bottom left as GL counts them: the one whose
// centre is nearest to the drawn pixel's centre, (k + 1/2) frame / drawn, at
// 1536x864 and 1280x720; frame / drawn times k at the whole-number scales.
int framePixel(int k, int drawn, int frame)
{
    return frame % drawn == 0 ? frame / drawn * k : (2 * k + 1) * frame / (2 * drawn);
}

// Compares each pixel of `scaled` (a picture at a scale) whose place in the
// full frame lies inside `full` (the full frame's rectangle from x0, y0, top-left
// origin) with the pixel there. Returns the number compared; counts those that differ.
int compareAtPlaces(const RgbImage& scaled, const RgbImage& full, int x0, int y0, int& differing, std::string& first)
{
    int compared = 0;
    for (int r = 0; r < scaled.height; ++r) {
        for (int c = 0; c < scaled.width; ++c) {
            const int fx = framePixel(c, scaled.width, 1920) - x0;
            const int fy = 1079 - framePixel(scaled.height - 1 - r, scaled.height, 1080) - y0;
            if (fx < 0 || fy < 0 || fx >= full.width || fy >= full.height) {
                continue;
            }
            ++compared;
            const std::uint8_t* s = scaled.at(c, r);
            const std::uint8_t* f = full.at(fx, fy);
            if (s[0] != f[0] || s[1] != f[1] || s[2] != f[2]) {
                if (!differing++) {
                    first = "drawn pixel (" + std::to_string(c) + ", " + std::to_string(r) + ")";
                }
            }
        }
    }
    return compared;
}

} // namespace

TEST_F(CaptureScale, EveryDrawnPixelIsTheFullPicturesPixelAtItsPlace)
{
    // Shots 1, 2 and 3, the flash at 106.5 s and the late sky.
    const std::vector<std::string> times = {"4", "30", "65.5", "106.5", "150"};
    const std::vector<std::string> names = {"frame-004.000.png", "frame-030.000.png", "frame-065.500.png",
                                            "frame-106.500.png", "frame-150.000.png"};
    ASSERT_EQ(capture("--scale 4 --time 4,30,65.5,106.5,150 --out " + (folder_ / "s4").string() + "/"), 0);
    ASSERT_EQ(capture("--scale 6 --time 30 --out " + (folder_ / "s6.png").string()), 0);
    ASSERT_EQ(capture("--scale 864p --time 30 --out " + (folder_ / "864p.png").string()), 0);
    ASSERT_EQ(capture("--scale 1280x720 --time 30 --out " + (folder_ / "720p.png").string()), 0);
    // The whole full-resolution frame at 30 s; at the other times a band of
    // rows at the top and at the bottom and one of columns in the middle.
    ASSERT_EQ(capture("--time 30 --out " + (folder_ / "full-30.png").string()), 0);
    struct Band {
        const char* rect;
        int x;
        int y;
    };
    const Band bands[] = {{"0,0,1920,8", 0, 0}, {"0,1072,1920,8", 0, 1072}, {"956,0,8,1080", 956, 0}};
    for (int b = 0; b < 3; ++b) {
        ASSERT_EQ(capture("--time 4,65.5,106.5,150 --rect " + std::string(bands[b].rect) + " --out " +
                          (folder_ / ("band" + std::to_string(b))).string() + "/"),
                  0);
    }

    const RgbImage full = readPng(folder_ / "full-30.png");
    ASSERT_EQ(full.width, 1920);
    ASSERT_EQ(full.height, 1080);
    for (std::size_t t = 0; t < times.size(); ++t) {
        const RgbImage scaled = readPng(folder_ / "s4" / names[t]);
        ASSERT_EQ(scaled.width, 480) << times[t];
        ASSERT_EQ(scaled.height, 270) << times[t];
        int differing = 0;
        std::string first;
        if (times[t] == "30") {
            EXPECT_EQ(compareAtPlaces(scaled, full, 0, 0, differing, first), 480 * 270);
        } else {
            int compared = 0;
            for (int b = 0; b < 3; ++b) {
                const RgbImage band = readPng(folder_ / ("band" + std::to_string(b)) / names[t]);
                ASSERT_GT(band.width, 0) << times[t] << " band " << b;
                compared += compareAtPlaces(scaled, band, bands[b].x, bands[b].y, differing, first);
            }
            // Rows 0 and 1, rows 268 and 269, columns 239 and 240.
            EXPECT_EQ(compared, 4 * 480 + 2 * 270) << times[t];
        }
        EXPECT_EQ(differing, 0) << "at " << times[t] << " s, first at " << first;
    }

    for (const auto& [name, width, height] : {std::tuple{"s6.png", 320, 180}, std::tuple{"864p.png", 1536, 864},
                                              std::tuple{"720p.png", 1280, 720}}) {
        const RgbImage scaled = readPng(folder_ / name);
        ASSERT_EQ(scaled.width, width) << name;
        ASSERT_EQ(scaled.height, height) << name;
        int differing = 0;
        std::string first;
        EXPECT_EQ(compareAtPlaces(scaled, full, 0, 0, differing, first), width * height);
        EXPECT_EQ(differing, 0) << name << ", first at " << first;
    }

    // The picture is not the same everywhere: a comparison that proves something.
    const RgbImage a = readPng(folder_ / "s4" / names[0]);
    const RgbImage b = readPng(folder_ / "s4" / names[3]);
    int changed = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        changed += a.rgb[i] != b.rgb[i];
    }
    EXPECT_GT(changed, static_cast<int>(a.rgb.size() / 2));
}

TEST_F(CaptureScale, ARectangleCountsInThePictureAtTheScale)
{
    ASSERT_EQ(capture("--scale 4 --time 30 --out " + (folder_ / "whole.png").string()), 0);
    ASSERT_EQ(capture("--scale 4 --time 30 --rect 100,50,40,30 --out " + (folder_ / "part.png").string()), 0);
    const RgbImage whole = readPng(folder_ / "whole.png");
    const RgbImage part = readPng(folder_ / "part.png");
    ASSERT_EQ(part.width, 40);
    ASSERT_EQ(part.height, 30);
    int differing = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            for (int c = 0; c < 3; ++c) {
                differing += part.at(x, y)[c] != whole.at(100 + x, 50 + y)[c];
            }
        }
    }
    EXPECT_EQ(differing, 0);
    // Beyond the scaled picture: refused before any work.
    EXPECT_EQ(capture("--scale 4 --time 30 --rect 470,0,11,8 --out " + (folder_ / "no.png").string()), 2);
    EXPECT_EQ(capture("--scale 5 --time 30 --out " + (folder_ / "no.png").string()), 2);
    EXPECT_FALSE(fs::exists(folder_ / "no.png"));
}
