#include "dense_frame.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sample_grid.h"

namespace offscreen {

double decodeSample(float encoded)
{
    const float v = std::isnan(encoded) ? 0.0f : std::clamp(encoded, 0.0f, 1.0f);
    return std::pow(static_cast<double>(v), 1.0 / FINISH_GAMMA);
}

std::uint8_t encodeLinearMean(double linear)
{
    const double encoded = std::pow(std::clamp(linear, 0.0, 1.0), FINISH_GAMMA);
    return static_cast<std::uint8_t>(std::lround(encoded * 255.0));
}

DenseFrame::DenseFrame(unsigned program, int density, bool supersample, const PixelRect& rect, int bandRows)
    : program_(program), density_(density), supersample_(supersample), rect_(rect),
      bandRows_(std::max(1, std::min(bandRows, rect.height))), factor_(supersample ? density : 1)
{
    originLocation_ = glGetUniformLocation(program, DENSE_ORIGIN_UNIFORM);
    band_ = std::make_unique<RenderTarget>(rect_.width * factor_, bandRows_ * factor_,
                                           supersample ? PixelFormat::Rgba32f : PixelFormat::Rgba8);
}

bool DenseFrame::complete() const
{
    return originLocation_ >= 0 && band_->complete();
}

bool DenseFrame::draw(std::uint32_t timeMs, const std::function<bool(int)>& onBand, std::vector<std::uint8_t>& rgb)
{
    const int denseHeight = FRAME_HEIGHT * density_;
    const int width = rect_.width * factor_;
    const std::size_t outRowBytes = static_cast<std::size_t>(rect_.width) * 3;
    rgb.assign(outRowBytes * rect_.height, 0);
    const double samplesPerPixel = static_cast<double>(factor_) * factor_;
    for (int done = 0; done < rect_.height;) {
        const int rows = std::min(bandRows_, rect_.height - done);
        const int denseRows = rows * factor_;
        // The band's bottom-left pixel in the dense picture, GL's rows
        // counted from the bottom.
        const int bottom = denseHeight - (rect_.y + done + rows) * factor_;
        glProgramUniform2f(program_, originLocation_, static_cast<float>(rect_.x * factor_),
                           static_cast<float>(bottom));
        if (!drawBand(program_, timeMs, PixelRect{0, 0, width, denseRows}))
            return false;
        std::uint8_t* out = rgb.data() + outRowBytes * done;
        if (!supersample_) {
            const std::vector<std::uint8_t> band = band_->readRgb8TopDown(0, 0, width, denseRows);
            std::memcpy(out, band.data(), band.size());
        } else {
            // Rows bottom first: output row r of the band (top first) takes
            // the dense rows D r .. D r + D - 1 from the band's top.
            const std::vector<float> band = band_->readRgba32f(0, 0, width, denseRows);
            for (int r = 0; r < rows; ++r) {
                for (int x = 0; x < rect_.width; ++x) {
                    double sum[3] = {0.0, 0.0, 0.0};
                    for (int j = 0; j < factor_; ++j) {
                        const float* row =
                            band.data() + static_cast<std::size_t>(denseRows - 1 - (r * factor_ + j)) * width * 4;
                        for (int i = 0; i < factor_; ++i) {
                            const float* sample = row + static_cast<std::size_t>(x * factor_ + i) * 4;
                            for (int c = 0; c < 3; ++c)
                                sum[c] += decodeSample(sample[c]);
                        }
                    }
                    for (int c = 0; c < 3; ++c)
                        out[outRowBytes * r + 3 * x + c] = encodeLinearMean(sum[c] / samplesPerPixel);
                }
            }
        }
        done += rows;
        if (!onBand(done))
            return false;
    }
    return true;
}

}  // namespace offscreen
