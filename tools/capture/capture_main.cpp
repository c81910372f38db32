// capture: renders the demo's picture offscreen at chosen scene times and
// hands each frame to a FrameSink (PNG files or a video; see capture_args.cpp
// --help). Ctrl-C, SIGTERM and SIGHUP end it at once through the tools'
// interrupt cleanup (interrupt_cleanup.h), which removes what is unfinished.
// Every step below either goes on or gives the one line that main prints.

#include "capture_args.h"
#include "capture_frames.h"
#include "dense_frame.h"
#include "frame_sink.h"
#include "interrupt_cleanup.h"
#include "offscreen_gl.h"
#include "png_sink.h"
#include "scene_scales.h"
#include "shader_source.h"
#include "shader_variants.h"
#include "video_sink.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
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

// The output for the options, checked before any rendering: a video needs
// ffmpeg and a folder to write to, PNG files a folder and names they can take.
std::unique_ptr<FrameSink> openSink(const CaptureOptions& options, std::string& error)
{
    if (!options.video.path.empty()) {
        std::string warning;
        if (!video::preflightVideo(options.video, options.rectWidth, options.rectHeight, warning, error))
            return nullptr;
        if (!warning.empty() && !options.quiet)
            std::fprintf(stderr, "demo-capture: %s\n", warning.c_str());
        return std::make_unique<video::VideoSink>(options.video, options.quiet);
    }
    // One file (or device, or pipe) or a folder of them.
    auto png = outIsOneFile(options.out)
                   ? std::make_unique<PngSink>(options.out, true)
                   : std::make_unique<PngSink>(options.out.empty() ? std::string(".") : options.out, false);
    if (!png->check(error))
        return nullptr;
    return png;
}

// The program for the options: the text at the scale (the demo's --scale) or
// the density's, which places its bands by the origin uniform; the counting
// build is made from either. 0 with `error` where it does not build.
unsigned buildProgram(const CaptureOptions& options, std::string& error)
{
    std::string source = options.density != 0
                             ? sampleGridSource(sceneShaderSource, densityGrid(options.density),
                                                offscreen::DENSE_ORIGIN_UNIFORM)
                             : scaledSceneSource(sceneShaderSource, options.step);
    if (options.countSteps) {
        source = offscreen::stepCountingSource(source, error);
        if (source.empty()) {
            error = "--count-steps: " + error;
            return 0;
        }
    }
    std::string log;
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    if (program == 0)
        error = "the scene shader does not build:\n" + log;
    return program;
}

// Draws every requested frame into the sink, reporting each as it goes.
bool captureFrames(const CaptureOptions& options, CaptureFrames& frames, FrameSink& sink, std::string& error)
{
    const bool toVideo = !options.video.path.empty();
    const auto* png = dynamic_cast<const PngSink*>(&sink);
    // A video shows its own progress line instead of the per-frame reports.
    const bool showBands = !options.quiet && !toVideo && ::isatty(STDERR_FILENO);
    const offscreen::PixelRect rect = frames.rect();
    if (!sink.begin(rect.width, rect.height, error))
        return false;
    const std::size_t frameCount = options.timesMs.size();
    double totalSeconds = 0.0;
    for (std::size_t index = 0; index < frameCount; ++index) {
        const std::uint32_t timeMs = options.timesMs[index];
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuSeconds();
        const auto onBand = [&](int rowsDone) {
            if (showBands)
                std::fprintf(stderr, "\rdemo-capture: frame %zu/%zu at %s: %3d%%", index + 1, frameCount,
                             formatTime(timeMs).c_str(), rowsDone * 100 / rect.height);
            return true;
        };
        std::vector<std::uint8_t> rgb;
        std::string note;
        const bool drawn = frames.draw(timeMs, onBand, rgb, note);
        if (showBands)
            std::fputc('\r', stderr);
        if (!drawn) {
            error = "OpenGL error while drawing the frame at " + formatTime(timeMs);
            return false;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpuSeconds = processCpuSeconds() - cpuStart;
        totalSeconds += seconds;

        const FrameImage image{rect.width, rect.height, rgb.data(), static_cast<std::size_t>(rect.width) * 3};
        if (!sink.frame(timeMs, image, error))
            return false;
        // Each PNG frame's line says where it went.
        const std::string where = png ? " -> " + png->written().back() : std::string();
        if ((!options.quiet && !toVideo) || options.countSteps)
            std::fprintf(stderr, "demo-capture: frame %zu/%zu at %s: %dx%d rendered in %.2f s (CPU %.2f s)%s%s\n",
                         index + 1, frameCount, formatTime(timeMs).c_str(), rect.width, rect.height, seconds,
                         cpuSeconds, note.c_str(), where.c_str());
    }
    if (!sink.finish(error))
        return false;
    if (!options.quiet && frameCount > 1)
        std::fprintf(stderr, "demo-capture: %zu frames in %.2f s\n", frameCount, totalSeconds);
    return true;
}

// The whole capture after its options are read: false with `error` (one line,
// or the shader's log after it) at the first step that fails; an output
// begun is removed then.
bool capture(const CaptureOptions& options, std::string& error)
{
    std::unique_ptr<FrameSink> sink = openSink(options, error);
    if (!sink)
        return false;
    std::unique_ptr<offscreen::GlContext> context = offscreen::GlContext::create(error);
    if (!context)
        return false;
    if (!options.quiet)
        std::fprintf(stderr, "demo-capture: %s\n", context->description().c_str());
    const unsigned program = buildProgram(options, error);
    if (program == 0)
        return false;
    std::unique_ptr<CaptureFrames> frames = makeCaptureFrames(options, program, error);
    const bool done = frames && captureFrames(options, *frames, *sink, error);
    if (frames && !done)
        sink->abort();
    frames.reset();
    offscreen::deleteProgram(program);
    return done;
}

}  // namespace

int main(int argc, char** argv)
{
    CaptureOptions options;
    std::string error;
    const ParseOutcome outcome = parseCaptureArgs(argc, argv, options, error);
    if (outcome != ParseOutcome::Run)
        return command_line::answerHelpOrError("demo-capture", outcome, error, captureUsage());
    // From here on a signal ends the capture at once: inside a frame that
    // takes minutes, or while the output waits for a reader.
    const bool toVideo = !options.video.path.empty();
    const bool showBands = !options.quiet && !toVideo && ::isatty(STDERR_FILENO);
    output::installInterruptCleanup(toVideo     ? "\ndemo-capture: interrupted, stopping; the unfinished video is removed\n"
                                    : showBands ? "\ndemo-capture: interrupted\n"
                                                : "demo-capture: interrupted\n");
    if (!capture(options, error)) {
        std::fprintf(stderr, "demo-capture: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
