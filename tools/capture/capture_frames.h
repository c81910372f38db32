#pragma once

// The pictures a capture draws, one kind of source per mode: the frame at a
// scale (ScaledFrames: the whole picture is the framebuffer, --rect narrows
// the scissor; with --count-steps a float target whose alpha counts the march
// steps) or at a sample density (DenseFrames: drawn in bands, each placed by
// the origin uniform; dense_frame.h). Both give 8-bit RGB rows top first.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture_args.h"
#include "offscreen_gl.h"

class CaptureFrames {
public:
    virtual ~CaptureFrames() = default;
    // The output rectangle (GL's bottom-left origin within the drawn picture).
    virtual offscreen::PixelRect rect() const = 0;
    // Draws the frame of `timeMs` into `rgb`; `onBand` gets the output rows
    // done. `note` gets what the frame's report line adds (the mean march
    // steps with --count-steps). False on a GL error.
    virtual bool draw(std::uint32_t timeMs, const std::function<bool(int rowsDone)>& onBand,
                      std::vector<std::uint8_t>& rgb, std::string& note) = 0;
};

// The source for the options, drawing with `program`; null with `error`
// saying why where its framebuffer cannot be had.
std::unique_ptr<CaptureFrames> makeCaptureFrames(const CaptureOptions& options, unsigned program, std::string& error);
