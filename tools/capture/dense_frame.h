#pragma once

// `capture --density D [--supersample]`: the picture at D x D samples for
// every pixel of the 1920x1080 frame, drawn band by band into a framebuffer
// of one band's size, so that memory stays small whatever D (a band of the
// widest picture at D = 4 is about 18 MB of floats). The program is the
// scene's text for the density's sample grid with an origin uniform
// (sampleGridSource(text, densityGrid(D), DENSE_ORIGIN_UNIFORM)): each band
// is drawn at the framebuffer's bottom left with the origin set to the
// band's place in the dense picture. The output is either the dense picture
// itself (1920D x 1080D, RGB bytes as the demo's framebuffer holds them) or,
// supersampled, the 1920x1080 frame whose every pixel is the mean of its
// D x D samples in linear light: the samples are drawn into a float
// framebuffer, clamped as a colour buffer clamps them, decoded from the
// finish's gamma (the shader writes pow(colour, 0.45)), averaged in double
// precision, encoded again and rounded once to 8 bits.

#include "offscreen_gl.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace offscreen {

// The vec2 uniform that carries a band's place in the dense picture.
inline constexpr const char* DENSE_ORIGIN_UNIFORM = "sampleOrigin";

// The exponent of the shader's finish: its colours are linear ** FINISH_GAMMA.
inline constexpr double FINISH_GAMMA = 0.45;

// One 8-bit level from a mean of linear-light values (0 to 1): encoded with
// the finish's gamma and rounded once.
std::uint8_t encodeLinearMean(double linear);
// A sample as the colour buffer would hold it (clamped to 0..1, NaN as 0)
// in linear light.
double decodeSample(float encoded);

class DenseFrame {
public:
    // `program`: the density's program (see above); `rect`: the part of the
    // output picture to draw, top-left origin, in output pixels (the dense
    // picture's, or with `supersample` the 1920x1080 frame's); `bandRows`:
    // output rows per band.
    DenseFrame(unsigned program, int density, bool supersample, const PixelRect& rect, int bandRows);

    // Whether the band's framebuffer and the origin uniform could be had.
    bool complete() const;

    // Draws the frame of `timeMs` band by band, top band first; `onBand`
    // gets the output rows done and returns false to stop. Fills `rgb` with
    // the rectangle's RGB bytes, rows top first. False on a GL error or a stop.
    bool draw(std::uint32_t timeMs, const std::function<bool(int rowsDone)>& onBand, std::vector<std::uint8_t>& rgb);

private:
    unsigned program_;
    int density_;
    bool supersample_;
    PixelRect rect_;
    int bandRows_;
    // Dense pixels per output pixel each way: D supersampled, else 1.
    int factor_;
    int originLocation_ = -1;
    std::unique_ptr<RenderTarget> band_;
};

}  // namespace offscreen
