#include "capture_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dense_frame.h"

namespace {

// Converts a float RGBA rectangle (bottom row first) to RGB bytes (top row
// first) the way a fixed-point colour buffer would store them, and sums the
// alpha channel (the step count of the counting build).
std::vector<std::uint8_t> floatToRgb8(const std::vector<float>& rgba, int width, int height, double& alphaSum)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    alphaSum = 0.0;
    for (int y = 0; y < height; ++y) {
        const float* src = rgba.data() + static_cast<std::size_t>(height - 1 - y) * width * 4;
        std::uint8_t* dst = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                float v = src[4 * x + c];
                v = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
                dst[3 * x + c] = static_cast<std::uint8_t>(std::lround(v * 255.0f));
            }
            alphaSum += src[4 * x + 3];
        }
    }
    return rgb;
}

// The picture at a scale: the whole drawn picture is the framebuffer, so
// gl_FragCoord keeps the picture's coordinates; --rect only narrows the
// scissor.
class ScaledFrames final : public CaptureFrames {
public:
    ScaledFrames(const CaptureOptions& options, unsigned program, const SampleGrid& picture)
        : program_(program), bandRows_(options.bandRows), countSteps_(options.countSteps),
          target_(picture.width, picture.height,
                  options.countSteps ? offscreen::PixelFormat::Rgba32f : offscreen::PixelFormat::Rgba8),
          rect_{options.rectX, picture.height - options.rectY - options.rectHeight, options.rectWidth,
                options.rectHeight}
    {
    }
    bool complete() const { return target_.complete(); }
    offscreen::PixelRect rect() const override { return rect_; }

    bool draw(std::uint32_t timeMs, const std::function<bool(int rowsDone)>& onBand, std::vector<std::uint8_t>& rgb,
              std::string& note) override
    {
        if (!offscreen::drawFrame(program_, timeMs, rect_, bandRows_, onBand))
            return false;
        if (!countSteps_) {
            rgb = target_.readRgb8TopDown(rect_.x, rect_.y, rect_.width, rect_.height);
            return true;
        }
        double stepSum = 0.0;
        rgb = floatToRgb8(target_.readRgba32f(rect_.x, rect_.y, rect_.width, rect_.height), rect_.width,
                          rect_.height, stepSum);
        char text[64];
        std::snprintf(text, sizeof text, ", mean march steps per pixel %.1f",
                      stepSum / (static_cast<double>(rect_.width) * rect_.height));
        note = text;
        return true;
    }

private:
    unsigned program_;
    int bandRows_;
    bool countSteps_;
    offscreen::RenderTarget target_;
    offscreen::PixelRect rect_;
};

// The picture at a sample density: a framebuffer of one band, each band
// placed by the origin uniform.
class DenseFrames final : public CaptureFrames {
public:
    DenseFrames(const CaptureOptions& options, unsigned program, const SampleGrid& picture)
        : frame_(program, options.density, options.supersample,
                 offscreen::PixelRect{options.rectX, options.rectY, options.rectWidth, options.rectHeight},
                 options.bandRows),
          rect_{options.rectX, picture.height - options.rectY - options.rectHeight, options.rectWidth,
                options.rectHeight}
    {
    }
    bool complete() const { return frame_.complete(); }
    offscreen::PixelRect rect() const override { return rect_; }

    bool draw(std::uint32_t timeMs, const std::function<bool(int rowsDone)>& onBand, std::vector<std::uint8_t>& rgb,
              std::string&) override
    {
        return frame_.draw(timeMs, onBand, rgb);
    }

private:
    offscreen::DenseFrame frame_;
    offscreen::PixelRect rect_;
};

}  // namespace

std::unique_ptr<CaptureFrames> makeCaptureFrames(const CaptureOptions& options, unsigned program, std::string& error)
{
    const SampleGrid picture = outputPicture(options);
    if (options.density != 0) {
        auto frames = std::make_unique<DenseFrames>(options, program, picture);
        if (frames->complete())
            return frames;
        error = "cannot make the framebuffer of a band of " + std::to_string(options.bandRows) + " rows of the " +
                std::to_string(picture.width) + "x" + std::to_string(picture.height) + " picture";
        return nullptr;
    }
    auto frames = std::make_unique<ScaledFrames>(options, program, picture);
    if (frames->complete())
        return frames;
    error = "cannot make a " + std::to_string(picture.width) + "x" + std::to_string(picture.height) + " framebuffer";
    return nullptr;
}
