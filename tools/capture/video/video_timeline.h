#pragma once

// The frames and sound of a video capture: which picture times are drawn and
// which stretch of the song goes with them.

#include <cmath>
#include <cstdint>
#include <vector>

#include "playback.h"
#include "synth.h"

namespace video {

// The demo's frame loop ends at EXIT_TIME_MS; a capture covers at most that.
inline constexpr double DEMO_END_SECONDS = EXIT_TIME_MS / 1000.0;
// The song's frames per second.
inline constexpr std::uint32_t AUDIO_RATE = SAMPLE_RATE;

// A stretch of the demo, in seconds of its clock, at a fixed frame rate.
struct CaptureRange {
    double from = 0.0;
    double to = DEMO_END_SECONDS;
    int fps = 60;
};

// The number of picture frames: every frame k with from + k / fps < to.
inline std::uint32_t frameCount(const CaptureRange& range)
{
    double frames = (range.to - range.from) * range.fps;
    return frames <= 0.0 ? 0u : static_cast<std::uint32_t>(std::ceil(frames - 1e-9));
}

// The demo's clock for frame k of the capture, in whole milliseconds as the
// host hands it to the shader: round((from + k / fps) * 1000). From 0 that is
// round(k * 1000 / fps).
inline std::uint32_t frameTimeMs(const CaptureRange& range, std::uint32_t k)
{
    return static_cast<std::uint32_t>(std::llround(range.from * 1000.0 + k * 1000.0 / range.fps));
}

// The song's first frame that sounds with the capture's first picture:
// round(from * 44100). Picture and sound both start at the range's start.
inline std::uint32_t audioFirstFrame(const CaptureRange& range)
{
    return static_cast<std::uint32_t>(std::llround(range.from * AUDIO_RATE));
}

// Where the capture ends on the demo's clock: after its last frame, that is
// from + frames / fps. That is `to` itself when the range holds a whole
// number of frames, and a little past it when the last frame starts inside.
inline double captureEndSeconds(const CaptureRange& range)
{
    return range.from + static_cast<double>(frameCount(range)) / range.fps;
}

// The number of song frames in the capture: exactly as long as the frames
// drawn (frames / fps), so that picture and sound end together.
inline std::uint32_t audioFrameCount(const CaptureRange& range)
{
    return static_cast<std::uint32_t>(std::llround(captureEndSeconds(range) * AUDIO_RATE)) - audioFirstFrame(range);
}

// The demo clock of every frame of the capture, in order.
inline std::vector<std::uint32_t> captureTimesMs(const CaptureRange& range)
{
    std::vector<std::uint32_t> times(frameCount(range));
    for (std::uint32_t k = 0; k < times.size(); ++k)
        times[k] = frameTimeMs(range, k);
    return times;
}

}  // namespace video
