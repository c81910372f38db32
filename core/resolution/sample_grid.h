#pragma once

// Where the drawn pixels sample the scene. The shader's screen mapping is
// written for a picture of exactly 1920x1080 pixels (the frame); a picture
// drawn at another size is a sample grid over that frame. Each drawn pixel k
// (along either axis, counted from the bottom left as GL counts window
// pixels) stands at the point
//
//     k * r + min(r, 1) / 2      in frame pixels, r = frame size / drawn size,
//
// a regular grid of pitch r whose first point is the centre of the first
// pixel of the finer of the two pictures:
//   - a coarser grid (r > 1, an internal resolution) shows whole pixels of the
//     frame: the drawn pixel takes the frame pixel whose centre is nearest to
//     its point, and a point halfway between two centres takes the upper (or
//     right) one. At whole-number r the point is a centre already: drawn
//     pixel k is frame pixel r*k. At 1536x864 and 1280x720 (r = 1.25 and
//     1.5) the frame pixel so chosen is also the one nearest to the drawn
//     pixel's own centre, (k + 1/2) * r, where there are no ties;
//   - a denser grid (r = 1/D, D samples per frame pixel each way) samples the
//     shader at the point itself: frame pixel x, sample i = 0 .. D-1 at
//     x + (i + 1/2) / D. At D = 3 the middle sample is the frame pixel's own
//     centre, bit for bit.
// The scales (scene_scales.h), the densities, the demo, the capture tool and
// the browser page all make their shader text with sampleGridSource.

#include <string>
#include <string_view>

#include "frame_size.h"

// The sample densities of `--density`: 1 to 4 samples per frame pixel each
// way.
inline constexpr int MAX_SCENE_DENSITY = 4;

struct SampleGrid {
    // The drawn picture's size in pixels.
    int width = FRAME_WIDTH;
    int height = FRAME_HEIGHT;
};

// The grid of D x D samples for every frame pixel: 1920D x 1080D.
constexpr SampleGrid densityGrid(int density)
{
    return {.width = FRAME_WIDTH * density, .height = FRAME_HEIGHT * density};
}

// True for the grids whose points the shader can place exactly: the frame's
// own shape, and either D x D samples per frame pixel (D = 1 to 4) or a
// pitch r > 1 that is a whole number or a binary fraction of at most eight
// bits (1.25, 1.5), so that every k * r is exact in single precision.
bool isExactSampleGrid(const SampleGrid& grid);

// The shader text in which every read of gl_FragCoord sees, in its .xy, the
// window position in the frame (1920x1080) that the drawn pixel stands for;
// .zw are left as they are. The whole arithmetic is exact in single
// precision (the middle sample at density 3 included), so everything
// the shader derives from the position is computed from the very same value
// as in the frame itself. The frame's own grid gives the text unchanged.
//
// `originUniform`, when given, names a vec2 uniform that the text declares
// (on its first line, so that the compiler's line numbers stay the same) and
// that is added to gl_FragCoord.xy first: the position in the drawn picture
// of the framebuffer's bottom-left pixel, for drawing part of a large
// picture into a small framebuffer. The source must not then begin with a
// preprocessor line.
//
// Returns an empty text for a grid that isExactSampleGrid refuses.
std::string sampleGridSource(std::string_view source, const SampleGrid& grid, std::string_view originUniform = {});
