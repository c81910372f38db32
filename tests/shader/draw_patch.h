#pragma once

// A small patch of the scene drawn offscreen, for the tests that compare
// pictures pixel for pixel: the program built from a shader text, drawn as
// the host draws a frame into a float target of the picture's size, and the
// patch read back. Needs a current context (offscreen::GlContext).

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "offscreen_gl.h"

// The RGBA floats of `rect` (GL window coordinates) of a `width` x `height`
// picture drawn at `timeMs` by the program built from `source`; `prepare`,
// where given, is called with the program before the draw (to set a
// uniform). A program that does not build, an incomplete target or a failed
// draw is a test failure.
inline std::vector<float> drawRect(const std::string& source, int width, int height, std::uint32_t timeMs,
                                   const offscreen::PixelRect& rect,
                                   const std::function<void(unsigned program)>& prepare = {})
{
    std::string log;
    const unsigned program = offscreen::buildFragmentProgram(source.c_str(), log);
    EXPECT_NE(program, 0u) << log;
    if (prepare) {
        prepare(program);
    }
    offscreen::RenderTarget target(width, height, offscreen::PixelFormat::Rgba32f);
    EXPECT_TRUE(target.complete());
    EXPECT_TRUE(offscreen::drawFrame(program, timeMs, rect));
    std::vector<float> pixels = target.readRgba32f(rect.x, rect.y, rect.width, rect.height);
    offscreen::deleteProgram(program);
    return pixels;
}

// The same for a `size` x `size` patch from (x, y).
inline std::vector<float> drawPatch(const std::string& source, int width, int height, std::uint32_t timeMs, int x,
                                    int y, int size, const std::function<void(unsigned program)>& prepare = {})
{
    return drawRect(source, width, height, timeMs, offscreen::PixelRect{x, y, size, size}, prepare);
}
