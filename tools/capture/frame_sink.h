#pragma once

// Where the capture tool's frames go: PNG files (png_sink.h) or, through the
// same interface, a video file. The tool calls begin once, frame once per
// requested time in order, then finish; or abort after a failure, which must
// leave no half-written file behind.

#include <cstddef>
#include <cstdint>
#include <string>

// One rendered picture: 8-bit RGB, rows top first.
struct FrameImage {
    int width = 0;
    int height = 0;
    const std::uint8_t* pixels = nullptr;
    std::size_t stride = 0;  // bytes from one row to the next
    const std::uint8_t* row(int y) const { return pixels + stride * static_cast<std::size_t>(y); }
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Called once before the first frame with the size of every frame.
    virtual bool begin(int width, int height, std::string& error) = 0;
    // One frame at the scene time `timeMs` (what the host hands the shader).
    virtual bool frame(std::uint32_t timeMs, const FrameImage& image, std::string& error) = 0;
    // Called once after the last frame; completes the output.
    virtual bool finish(std::string& error) = 0;
    // Called instead of finish after a failure or an interruption: removes
    // whatever is incomplete. Must be safe to call at any point.
    virtual void abort() = 0;
};
