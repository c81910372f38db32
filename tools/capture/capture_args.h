#pragma once

// The capture tool's command line, read by the rules the tools share
// (option_reader.h): one entry per option in capture_args.cpp's table and
// one branch where its value is taken; new outputs add theirs there.

#include "option_reader.h"
#include "sample_grid.h"
#include "video_options.h"

#include <cstdint>
#include <string>
#include <vector>

struct CaptureOptions {
    // Scene times in milliseconds, in the order given (what the host would
    // hand the shader through the fog end).
    std::vector<std::uint32_t> timesMs;
    // --out: a .png file or an existing device or pipe (one time only), or a
    // folder; empty: the current folder.
    std::string out;
    // --scale NAME: the picture is drawn at that scale (an index into
    // SCENE_SCALES), each pixel the full picture's pixel at its place (as the
    // demo's --scale draws it).
    int step = 0;
    // --density D: D x D samples for every pixel of the 1920x1080 frame,
    // drawn in bands; 0 when not given (the picture is drawn as the demo
    // draws it, in one framebuffer of its size).
    int density = 0;
    // --supersample: each pixel of the 1920x1080 frame is the mean of its
    // D x D samples in linear light, instead of the dense picture itself.
    bool supersample = false;
    // --rect: the part of the output picture to render (the scale's picture,
    // the dense picture, or the supersampled frame), top-left origin;
    // without --rect, the whole picture.
    bool rectGiven = false;
    int rectX = 0;
    int rectY = 0;
    int rectWidth = FRAME_WIDTH;
    int rectHeight = FRAME_HEIGHT;
    // --count-steps: use the step-counting build and report mean march steps.
    bool countSteps = false;
    // --band ROWS: rows drawn per GL call (progress granularity).
    int bandRows = 36;
    // --quiet: no progress lines, only errors.
    bool quiet = false;
    // --video FILE and its options: every frame of a range, to a video file
    // (timesMs then holds the frames' times).
    video::VideoOptions video;
};

using ParseOutcome = command_line::Outcome;

// Parses argv[1..argc-1]. On Error, `error` says what is wrong, in one line.
ParseOutcome parseCaptureArgs(int argc, const char* const* argv, CaptureOptions& options, std::string& error);

// Parses a list of times in seconds: "3,15,106.5" and ranges "0:2:0.5"
// (start:end:step, the end included). Appends milliseconds to `timesMs`.
bool parseTimeList(const std::string& text, std::vector<std::uint32_t>& timesMs, std::string& error);

// The size of the output picture: the scale's drawn size, the dense
// picture (1920D x 1080D) or the supersampled frame (1920x1080).
SampleGrid outputPicture(const CaptureOptions& options);

// True when `out` takes a single frame rather than a folder of them: a name
// ending in .png, or an existing device or pipe (/dev/null, a FIFO), written
// in place.
bool outIsOneFile(const std::string& out);

// The --help text.
std::string captureUsage();
