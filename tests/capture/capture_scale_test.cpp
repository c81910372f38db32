// capture --scale N from the outside: every pixel of the picture drawn at
// 1920/N x 1080/N is the full-resolution capture's pixel at its place (the
// full frame's pixel at N times its index, rows counted from the bottom as GL
// does), at times across the scenes; --rect counts in the scaled picture.
#include "png_read.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class CaptureScale : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("capture-scale-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Runs the tool quietly; its exit status.
    int capture(const std::string& args)
    {
        const std::string command = std::string(CAPTURE_PATH) + " --quiet " + args + " 2>" + (folder_ / "log").string();
        const int status = std::system(command.c_str());
        if (status != 0) {
            std::FILE* log = std::fopen((folder_ / "log").c_str(), "r");
            char line[512];
            while (log && std::fgets(line, sizeof line, log)) {
                std::fputs(line, stderr);
            }
            if (log) {
                std::fclose(log);
            }
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path folder_;
};

// Compares each pixel of `scaled` (a picture at `scale`) whose place in the
// full frame lies inside `full` (the full frame's rectangle from x0, y0, top-left
// origin) with the pixel there. Returns the number compared; counts those that differ.
int compareAtPlaces(const RgbImage& scaled, int scale, const RgbImage& full, int x0, int y0, int& differing,
                    std::string& first)
{
    int compared = 0;
    for (int r = 0; r < scaled.height; ++r) {
        for (int c = 0; c < scaled.width; ++c) {
            const int fx = scale * c - x0;
            const int fy = scale * r + scale - 1 - y0;
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
            EXPECT_EQ(compareAtPlaces(scaled, 4, full, 0, 0, differing, first), 480 * 270);
        } else {
            int compared = 0;
            for (int b = 0; b < 3; ++b) {
                const RgbImage band = readPng(folder_ / ("band" + std::to_string(b)) / names[t]);
                ASSERT_GT(band.width, 0) << times[t] << " band " << b;
                compared += compareAtPlaces(scaled, 4, band, bands[b].x, bands[b].y, differing, first);
            }
            // Rows 0 and 1, rows 268 and 269, columns 239 and 240.
            EXPECT_EQ(compared, 4 * 480 + 2 * 270) << times[t];
        }
        EXPECT_EQ(differing, 0) << "at " << times[t] << " s, first at " << first;
    }

    const RgbImage six = readPng(folder_ / "s6.png");
    ASSERT_EQ(six.width, 320);
    ASSERT_EQ(six.height, 180);
    int differing = 0;
    std::string first;
    EXPECT_EQ(compareAtPlaces(six, 6, full, 0, 0, differing, first), 320 * 180);
    EXPECT_EQ(differing, 0) << "scale 6, first at " << first;

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
