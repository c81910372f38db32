// capture --density D [--supersample] from the outside, on small rectangles:
// density 1 drawn band by band is the plain capture bit for bit; at density 3
// the middle sample of every 3x3 block stands where the frame pixel's own
// sample stands (a shifted grid or a misplaced band or row fails it); a
// supersampled pixel is the mean of its samples in linear light, not in the
// gamma-encoded values; and the supersampled frame keeps the flat parts of
// the picture and changes its edges.
#include "capture_pictures.h"
#include "png_read.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

using CaptureDensity = CapturePictures;

// A part of the picture at 30 s with wire edges, a vertex ball and its
// shadow, in frame pixels (top-left origin).
constexpr int X = 980;
constexpr int Y = 640;

std::string rect(int x, int y, int width, int height)
{
    return " --rect " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(width) + "," +
           std::to_string(height);
}

bool samePixel(const std::uint8_t* a, const std::uint8_t* b)
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// A level (0..255) in linear light, as the finish's pow(.., 0.45) encoded it.
double linear(std::uint8_t level)
{
    return std::pow(level / 255.0, 1.0 / 0.45);
}

} // namespace

TEST_F(CaptureDensity, DensityOneDrawnInBandsIsThePlainCaptureBitForBit)
{
    // Bands of 7 rows, the last one shorter; the picture's top and bottom rows.
    for (const std::string& part : {rect(X, Y, 40, 30), rect(0, 0, 24, 9), rect(1890, 1066, 30, 14)}) {
        ASSERT_EQ(capture("--time 30,107" + part + " --out " + (folder_ / "plain").string() + "/"), 0);
        ASSERT_EQ(capture("--time 30,107 --density 1 --band 7" + part + " --out " + (folder_ / "dense").string() + "/"),
                  0);
        for (const char* name : {"frame-030.000.png", "frame-107.000.png"}) {
            const RgbImage plain = readPng(folder_ / "plain" / name);
            const RgbImage dense = readPng(folder_ / "dense" / name);
            ASSERT_GT(plain.width, 0) << part;
            ASSERT_EQ(dense.width, plain.width) << part;
            ASSERT_EQ(dense.height, plain.height) << part;
            EXPECT_TRUE(dense.rgb == plain.rgb) << part << " at " << name;
        }
    }
}

TEST_F(CaptureDensity, TheMiddleSampleAtDensityThreeIsTheFramePixelAndItsNeighboursAreNot)
{
    // 32x32 frame pixels at 30 s, and along the picture's bottom edge; bands
    // of 5 dense rows, which cut through the 3x3 blocks.
    struct Part {
        int x, y, width, height;
    };
    for (const Part part : {Part{X, Y, 32, 32}, Part{600, 1070, 24, 10}}) {
        ASSERT_EQ(capture("--time 30" + rect(part.x, part.y, part.width, part.height) + " --out " +
                          (folder_ / "frame.png").string()),
                  0);
        ASSERT_EQ(capture("--time 30 --density 3 --band 5" +
                          rect(3 * part.x, 3 * part.y, 3 * part.width, 3 * part.height) + " --out " +
                          (folder_ / "dense.png").string()),
                  0);
        const RgbImage frame = readPng(folder_ / "frame.png");
        const RgbImage dense = readPng(folder_ / "dense.png");
        ASSERT_EQ(frame.width, part.width);
        ASSERT_EQ(dense.width, 3 * part.width);
        ASSERT_EQ(dense.height, 3 * part.height);
        int middlesDiffering = 0;
        int neighboursDiffering = 0;
        for (int y = 0; y < part.height; ++y) {
            for (int x = 0; x < part.width; ++x) {
                middlesDiffering += !samePixel(dense.at(3 * x + 1, 3 * y + 1), frame.at(x, y));
                for (int j = 0; j < 3; ++j) {
                    for (int i = 0; i < 3; ++i) {
                        if (i != 1 || j != 1) {
                            neighboursDiffering += !samePixel(dense.at(3 * x + i, 3 * y + j), frame.at(x, y));
                        }
                    }
                }
            }
        }
        const int pixels = part.width * part.height;
        EXPECT_EQ(middlesDiffering, 0) << "of " << pixels << " middle samples at " << part.x << "," << part.y;
        // The grain alone changes within a pixel: the samples around the
        // middle are other points of the picture (measured: 93 % differ).
        EXPECT_GT(neighboursDiffering, 8 * pixels / 2) << "of " << 8 * pixels << " neighbours";
    }
}

TEST_F(CaptureDensity, ASupersampledPixelIsTheLinearLightMeanOfItsSamples)
{
    // Density 4, bands of 3 output rows (12 dense rows each).
    ASSERT_EQ(capture("--time 30 --density 4" + rect(4 * X, 4 * Y, 4 * 32, 4 * 32) + " --out " +
                      (folder_ / "dense.png").string()),
              0);
    ASSERT_EQ(capture("--time 30 --density 4 --supersample --band 3" + rect(X, Y, 32, 32) + " --out " +
                      (folder_ / "mean.png").string()),
              0);
    const RgbImage dense = readPng(folder_ / "dense.png");
    const RgbImage mean = readPng(folder_ / "mean.png");
    ASSERT_EQ(dense.width, 128);
    ASSERT_EQ(mean.width, 32);
    ASSERT_EQ(mean.height, 32);
    int beyondOneLevel = 0;
    int gammaMeanBeyondOneLevel = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0.0;
                double encodedSum = 0.0;
                for (int j = 0; j < 4; ++j) {
                    for (int i = 0; i < 4; ++i) {
                        const std::uint8_t level = dense.at(4 * x + i, 4 * y + j)[c];
                        sum += linear(level);
                        encodedSum += level;
                    }
                }
                const int expected = static_cast<int>(std::lround(std::pow(sum / 16.0, 0.45) * 255.0));
                const int got = mean.at(x, y)[c];
                beyondOneLevel += std::abs(got - expected) > 1;
                gammaMeanBeyondOneLevel += std::abs(got - std::lround(encodedSum / 16.0)) > 1;
            }
        }
    }
    EXPECT_EQ(beyondOneLevel, 0) << "of " << 32 * 32 * 3;
    // The edges here tell the two means apart (measured: a fifth of the
    // values at density 3).
    EXPECT_GT(gammaMeanBeyondOneLevel, 32 * 32 * 3 / 20);
}

TEST_F(CaptureDensity, ASupersampledFrameKeepsTheFlatPartsAndChangesTheEdges)
{
    const int size = 96;
    ASSERT_EQ(capture("--time 30" + rect(X, Y, size, size) + " --out " + (folder_ / "frame.png").string()), 0);
    ASSERT_EQ(capture("--time 30 --density 4 --supersample" + rect(X, Y, size, size) + " --out " +
                      (folder_ / "mean.png").string()),
              0);
    const RgbImage frame = readPng(folder_ / "frame.png");
    const RgbImage mean = readPng(folder_ / "mean.png");
    ASSERT_EQ(mean.width, size);
    // A pixel is on an edge where the frame changes by more than 40 levels to
    // a neighbour, flat where by less than 12. The grain changes within a
    // pixel, so even a flat pixel's mean differs from its one sample a little.
    double edgeSum = 0.0;
    double flatSum = 0.0;
    int edges = 0;
    int flats = 0;
    for (int y = 1; y + 1 < size; ++y) {
        for (int x = 1; x + 1 < size; ++x) {
            int contrast = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    for (int c = 0; c < 3; ++c)
                        contrast = std::max(contrast, std::abs(frame.at(x + dx, y + dy)[c] - frame.at(x, y)[c]));
            double difference = 0.0;
            for (int c = 0; c < 3; ++c)
                difference += std::abs(mean.at(x, y)[c] - frame.at(x, y)[c]) / 3.0;
            if (contrast > 40) {
                edgeSum += difference;
                ++edges;
            } else if (contrast < 12) {
                flatSum += difference;
                ++flats;
            }
        }
    }
    ASSERT_GT(edges, size * 4);
    ASSERT_GT(flats, size * size / 3);
    const double edgeMean = edgeSum / edges;
    const double flatMean = flatSum / flats;
    std::printf("supersampled against 1080p: %.2f levels on %d edge pixels, %.2f on %d flat ones\n", edgeMean, edges,
                flatMean, flats);
    // Measured here: 8.3 on edges, 1.0 where flat.
    EXPECT_LT(flatMean, 2.0);
    EXPECT_GT(edgeMean, 5.0);
}
