// capture: renders the demo's picture offscreen at chosen scene times and
// hands each frame to a FrameSink (PNG files or a video; see capture_args.cpp
// --help). Ctrl-C, SIGTERM and SIGHUP end it at once through the tools'
// interrupt cleanup (interrupt_cleanup.h), which removes what is unfinished.

#include "capture_args.h"
#include "dense_frame.h"
#include "frame_sink.h"
#include "interrupt_cleanup.h"
#include "offscreen_gl.h"
#include "png_sink.h"
#include "scaled_source.h"
#include "shader_source.h"
#include "shader_variants.h"
#include "video_sink.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// CPU seconds used by the whole process so far (a software renderer's
// threads included): the render time that does not depend on other load.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

std::string formatTime(std::uint32_t timeMs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u s", timeMs / 1000u, timeMs % 1000u);
    return text;
}

// The PNG sink for the options: one file (or device, or pipe) or a folder of them.
std::unique_ptr<PngSink> makePngSink(const CaptureOptions& options)
{
    if (outIsOneFile(options.out))
        return std::make_unique<PngSink>(options.out, true);
    return std::make_unique<PngSink>(options.out.empty() ? std::string(".") : options.out, false);
}

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

}  // namespace

int main(int argc, char** argv)
{
    CaptureOptions options;
    std::string error;
    const ParseOutcome outcome = parseCaptureArgs(argc, argv, options, error);
    if (outcome != ParseOutcome::Run)
        return command_line::answerHelpOrError("capture", outcome, error, captureUsage());
    const bool toVideo = !options.video.path.empty();
    // A video shows its own progress line instead of the per-frame reports.
    const bool showBands = !options.quiet && !toVideo && ::isatty(STDERR_FILENO);
    // From here on a signal ends the capture at once: inside a frame that
    // takes minutes, or while the output waits for a reader.
    output::installInterruptCleanup(toVideo     ? "\ncapture: interrupted, stopping; the unfinished video is removed\n"
                                    : showBands ? "\ncapture: interrupted\n"
                                                : "capture: interrupted\n");
    // A video needs ffmpeg and a folder to write to, PNG files a folder and
    // names they can take: found out before any rendering.
    std::unique_ptr<PngSink> pngSink = toVideo ? nullptr : makePngSink(options);
    if (toVideo ? !video::preflightVideo(options.video, error) : !pngSink->check(error)) {
        std::fprintf(stderr, "capture: %s\n", error.c_str());
        return 1;
    }

    std::unique_ptr<offscreen::GlContext> context = offscreen::GlContext::create(error);
    if (!context) {
        std::fprintf(stderr, "capture: %s\n", error.c_str());
        return 1;
    }
    if (!options.quiet)
        std::fprintf(stderr, "capture: %s\n", context->description().c_str());

    // At a scale the drawn pixels stand for the full picture's (the demo's
    // --scale); the counting build is made from that text. A density draws
    // its samples in bands, each placed by the origin uniform.
    const bool dense = options.density != 0;
    std::string source = dense ? sampleGridSource(sceneShaderSource, densityGrid(options.density),
                                                  offscreen::DENSE_ORIGIN_UNIFORM)
                               : scaledSceneSource(sceneShaderSource, options.step);
    if (options.countSteps) {
        source = offscreen::stepCountingSource(source, error);
        if (source.empty()) {
            std::fprintf(stderr, "capture: --count-steps: %s\n", error.c_str());
            return 1;
        }
    }
    std::string log;
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    if (program == 0) {
        std::fprintf(stderr, "capture: the scene shader does not build:\n%s\n", log.c_str());
        return 1;
    }

    // At a scale the whole picture is the framebuffer, so gl_FragCoord keeps
    // the picture's coordinates; --rect only narrows the scissor. A density
    // has a framebuffer of one band.
    const SampleGrid picture = outputPicture(options);
    std::unique_ptr<offscreen::RenderTarget> target;
    std::unique_ptr<offscreen::DenseFrame> denseFrame;
    if (dense) {
        denseFrame = std::make_unique<offscreen::DenseFrame>(
            program, options.density, options.supersample,
            offscreen::PixelRect{options.rectX, options.rectY, options.rectWidth, options.rectHeight},
            options.bandRows);
        if (!denseFrame->complete()) {
            std::fprintf(stderr, "capture: cannot make the framebuffer of a band of %d rows of the %dx%d picture\n",
                         options.bandRows, picture.width, picture.height);
            return 1;
        }
    } else {
        target = std::make_unique<offscreen::RenderTarget>(
            picture.width, picture.height,
            options.countSteps ? offscreen::PixelFormat::Rgba32f : offscreen::PixelFormat::Rgba8);
        if (!target->complete()) {
            std::fprintf(stderr, "capture: cannot make a %dx%d framebuffer\n", picture.width, picture.height);
            return 1;
        }
    }
    const offscreen::PixelRect rect{options.rectX, picture.height - options.rectY - options.rectHeight,
                                    options.rectWidth, options.rectHeight};

    const PngSink* const png = pngSink.get();
    std::unique_ptr<FrameSink> sink;
    if (toVideo)
        sink = std::make_unique<video::VideoSink>(options.video, options.quiet);
    else
        sink = std::move(pngSink);
    if (!sink->begin(rect.width, rect.height, error)) {
        std::fprintf(stderr, "capture: %s\n", error.c_str());
        sink->abort();
        return 1;
    }
    const std::size_t frameCount = options.timesMs.size();
    double totalSeconds = 0.0;
    for (std::size_t index = 0; index < frameCount; ++index) {
        const std::uint32_t timeMs = options.timesMs[index];
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuSeconds();
        const auto onBand = [&](int rowsDone) {
            if (showBands)
                std::fprintf(stderr, "\rcapture: frame %zu/%zu at %s: %3d%%", index + 1, frameCount,
                             formatTime(timeMs).c_str(), rowsDone * 100 / rect.height);
            return true;
        };
        std::vector<std::uint8_t> rgb;
        const bool drawn = dense ? denseFrame->draw(timeMs, onBand, rgb)
                                 : offscreen::drawFrame(program, timeMs, rect, options.bandRows, onBand);
        if (showBands)
            std::fputc('\r', stderr);
        if (!drawn) {
            std::fprintf(stderr, "capture: OpenGL error while drawing the frame at %s\n", formatTime(timeMs).c_str());
            sink->abort();
            return 1;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpuSeconds = processCpuSeconds() - cpuStart;
        totalSeconds += seconds;

        std::string steps;
        if (options.countSteps) {
            double stepSum = 0.0;
            rgb = floatToRgb8(target->readRgba32f(rect.x, rect.y, rect.width, rect.height), rect.width, rect.height,
                              stepSum);
            char text[64];
            std::snprintf(text, sizeof text, ", mean march steps per pixel %.1f",
                          stepSum / (static_cast<double>(rect.width) * rect.height));
            steps = text;
        } else if (!dense) {
            rgb = target->readRgb8TopDown(rect.x, rect.y, rect.width, rect.height);
        }
        const FrameImage image{rect.width, rect.height, rgb.data(), static_cast<std::size_t>(rect.width) * 3};
        if (!sink->frame(timeMs, image, error)) {
            std::fprintf(stderr, "capture: %s\n", error.c_str());
            sink->abort();
            return 1;
        }
        // Each PNG frame's line says where it went.
        const std::string where = png ? " -> " + png->written().back() : std::string();
        if ((!options.quiet && !toVideo) || options.countSteps)
            std::fprintf(stderr, "capture: frame %zu/%zu at %s: %dx%d rendered in %.2f s (CPU %.2f s)%s%s\n",
                         index + 1, frameCount, formatTime(timeMs).c_str(), rect.width, rect.height, seconds,
                         cpuSeconds, steps.c_str(), where.c_str());
    }
    if (!sink->finish(error)) {
        std::fprintf(stderr, "capture: %s\n", error.c_str());
        sink->abort();
        return 1;
    }
    if (!options.quiet && frameCount > 1)
        std::fprintf(stderr, "capture: %zu frames in %.2f s\n", frameCount, totalSeconds);
    denseFrame.reset();
    target.reset();
    offscreen::deleteProgram(program);
    return 0;
}
