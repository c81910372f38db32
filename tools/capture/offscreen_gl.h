#pragma once

// Offscreen OpenGL for the tools and tests: an EGL display and a
// compatibility-profile context without any window or X server (a GPU's
// renderer where there is one, else Mesa's llvmpipe: display_choice.h), a
// framebuffer to draw into,
// and the scene program built the way the host builds it
// (glCreateShaderProgramv on the fragment stage alone).

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame_size.h"

namespace offscreen {

using ::FRAME_HEIGHT;
using ::FRAME_WIDTH;

// A current EGL context with the compatibility profile's fixed-function
// state (the fog end carries the time) and separate shader programs.
class GlContext {
public:
    // Creates the display and context and makes it current. On failure
    // returns null and says why in `error`.
    static std::unique_ptr<GlContext> create(std::string& error);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    // "OpenGL <version> (<renderer>) via <platform>", and where a software
    // renderer was chosen for want of a hardware one, a note that says so.
    std::string description() const;

private:
    GlContext() = default;
    void* display_ = nullptr;
    void* context_ = nullptr;
    void* surface_ = nullptr;
    std::string platform_;
};

// Colour buffer formats of a RenderTarget.
enum class PixelFormat { Rgba8, Rgba32f };

// A framebuffer object of the given size, bound for drawing and reading
// while it lives; the viewport covers all of it.
class RenderTarget {
public:
    RenderTarget(int width, int height, PixelFormat format);
    ~RenderTarget();
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    // True when the framebuffer is complete.
    bool complete() const { return complete_; }

    // Reads a rectangle given in GL window coordinates (bottom-left origin).
    // RGB bytes, rows top first (ready for an image file).
    std::vector<std::uint8_t> readRgb8TopDown(int x, int y, int width, int height) const;
    // RGBA floats, rows bottom first as GL stores them.
    std::vector<float> readRgba32f(int x, int y, int width, int height) const;

private:
    int width_;
    int height_;
    unsigned framebuffer_ = 0;
    unsigned renderbuffer_ = 0;
    bool complete_ = false;
};

// Builds a separable program from one fragment shader text with
// glCreateShaderProgramv, as the host does. Returns the program
// name, or 0 when it does not link; `log` receives the program's info log.
unsigned buildFragmentProgram(const char* source, std::string& log);
void deleteProgram(unsigned program);

// A rectangle of the picture in GL window coordinates (bottom-left origin).
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = FRAME_WIDTH;
    int height = FRAME_HEIGHT;
};

// Draws one frame as the host's frame loop does: glFogi(GL_FOG_END, timeMs)
// and glRectf(-1, -1, 1, 1), with `program` current, clipped by the scissor to
// `rect`. The work is split into bands of `bandRows` rows, each finished with
// glFinish (so that a slow software renderer reports progress and no single
// call runs for minutes); `onBand` gets the rows done so far and returns
// false to stop early. Returns false if GL reported an error or it stopped.
template <typename F>
bool drawFrame(unsigned program, std::uint32_t timeMs, const PixelRect& rect, int bandRows, F&& onBand);
bool drawFrame(unsigned program, std::uint32_t timeMs, const PixelRect& rect);

// Implementation detail of drawFrame: one band.
bool drawBand(unsigned program, std::uint32_t timeMs, const PixelRect& band);

template <typename F>
bool drawFrame(unsigned program, std::uint32_t timeMs, const PixelRect& rect, int bandRows, F&& onBand)
{
    if (bandRows <= 0)
        bandRows = rect.height;
    // Top band first, so that progress follows the picture from its top.
    for (int done = 0; done < rect.height;) {
        int rows = std::min(bandRows, rect.height - done);
        PixelRect band{rect.x, rect.y + rect.height - done - rows, rect.width, rows};
        if (!drawBand(program, timeMs, band))
            return false;
        done += rows;
        if (!onBand(done))
            return false;
    }
    return true;
}

}  // namespace offscreen
