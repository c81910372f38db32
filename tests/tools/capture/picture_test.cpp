// Properties of the finished picture in small parts of the frame, drawn
// in-process with the embedded shader and the host's per-frame calls into a
// float framebuffer (the colours before any 8-bit rounding).

#include "offscreen_gl.h"
#include "shader_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Rgb = std::array<double, 3>;

class Picture {
public:
    static Picture& instance()
    {
        static Picture picture;
        return picture;
    }

    // The pixels of a rectangle (top-left origin, as the capture tool's
    // --rect) at `timeMs`, row by row from the top.
    std::vector<Rgb> render(std::uint32_t timeMs, int x, int y, int width, int height)
    {
        const offscreen::PixelRect rect{x, offscreen::FRAME_HEIGHT - y - height, width, height};
        if (!offscreen::drawFrame(program_, timeMs, rect))
            throw std::runtime_error("OpenGL error while drawing");
        const std::vector<float> rgba = target_->readRgba32f(rect.x, rect.y, width, height);
        std::vector<Rgb> pixels;
        for (int row = height - 1; row >= 0; --row)
            for (int column = 0; column < width; ++column) {
                const float* p = &rgba[4 * (static_cast<std::size_t>(row) * width + column)];
                pixels.push_back({p[0], p[1], p[2]});
            }
        return pixels;
    }

private:
    Picture()
    {
        std::string error;
        context_ = offscreen::GlContext::create(error);
        if (!context_)
            throw std::runtime_error(error);
        program_ = offscreen::buildFragmentProgram(sceneShaderSource, error);
        if (program_ == 0)
            throw std::runtime_error("the scene shader does not build: " + error);
        target_ = std::make_unique<offscreen::RenderTarget>(offscreen::FRAME_WIDTH, offscreen::FRAME_HEIGHT,
                                                            offscreen::PixelFormat::Rgba32f);
    }

    std::unique_ptr<offscreen::GlContext> context_;
    unsigned program_ = 0;
    std::unique_ptr<offscreen::RenderTarget> target_;
};

Rgb mean(const std::vector<Rgb>& pixels)
{
    Rgb sum{0, 0, 0};
    for (const Rgb& p : pixels)
        for (int c = 0; c < 3; ++c)
            sum[c] += p[c];
    for (double& s : sum)
        s /= static_cast<double>(pixels.size());
    return sum;
}

double brightness(const Rgb& c)
{
    return c[0] + c[1] + c[2];
}

TEST(Picture, FadesInFromAbout1Over81OfTheBrightness)
{
    // The same pixels near the centre at 0 s and at 6 s (after the fade).
    const Rgb atStart = mean(Picture::instance().render(0, 912, 492, 96, 24));
    const Rgb after = mean(Picture::instance().render(6000, 912, 492, 96, 24));
    ASSERT_GT(brightness(after), 0.3);
    const double ratio = brightness(atStart) / brightness(after);
    // 1/81 from the fade; the grain and the moving scene change it a little.
    EXPECT_LT(ratio, 1.0 / 81.0 * 1.15);
    EXPECT_GT(ratio, 1.0 / 81.0 * 0.85);
}

TEST(Picture, FlashesWhiteAt106Point5Seconds)
{
    for (const Rgb& p : Picture::instance().render(106500, 900, 480, 120, 120))
        for (double c : p)
            ASSERT_GE(c, 0.99);
    // Four seconds before and after, the flash is over: the picture has its
    // colours again.
    for (std::uint32_t timeMs : {102500u, 110500u}) {
        const Rgb c = mean(Picture::instance().render(timeMs, 900, 480, 120, 120));
        EXPECT_LT(std::min({c[0], c[1], c[2]}), 0.95) << timeMs << " ms";
    }
}

TEST(Picture, OpeningShotHasABlueSkyOverADarkerRedFloor)
{
    const Rgb sky = mean(Picture::instance().render(15000, 1300, 40, 64, 64));
    const Rgb floor = mean(Picture::instance().render(15000, 1300, 960, 64, 64));
    EXPECT_GT(sky[2], sky[0]);
    EXPECT_GT(sky[1], sky[0]);
    EXPECT_LT(brightness(floor), brightness(sky));
    EXPECT_GT(floor[0], floor[2]);  // the red floor in the sun
}

// Between 106.5 and 154 s the sky is the late sky alone: its channels keep
// the ratios of (.83, .82, .65) after the gamma; later the blue returns.
TEST(Picture, LateSkyFrom106Point5To154Seconds)
{
    auto skyRatios = [](std::uint32_t timeMs, int x, int y) {
        const Rgb c = mean(Picture::instance().render(timeMs, x, y, 32, 32));
        return std::array<double, 2>{c[0] / c[2], c[1] / c[2]};
    };
    const double expectedRed = std::pow(0.83 / 0.65, 0.45);
    const double expectedGreen = std::pow(0.82 / 0.65, 0.45);
    // Scene 5 has no floor: all around the wire polyhedron is sky.
    for (auto [timeMs, x, y] : {std::array<int, 3>{120000, 100, 100}, std::array<int, 3>{150000, 944, 20}}) {
        SCOPED_TRACE(timeMs);
        const auto ratios = skyRatios(timeMs, x, y);
        EXPECT_NEAR(ratios[0], expectedRed, 0.01);
        EXPECT_NEAR(ratios[1], expectedGreen, 0.01);
    }
    const auto blue = skyRatios(175000, 944, 20);
    EXPECT_LT(blue[0], 0.9);
}

}  // namespace
