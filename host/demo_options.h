#pragma once

// The Linux demo's command line: how the picture reaches the screen (desktop
// full screen or an ordinary window) and at which internal resolution it is
// drawn. The options follow the rules that the tools share
// (tools/command_line/option_reader.h); the scale and the density are read
// with parseSceneScale and parseSceneDensity, the parsers that the capture
// tool (and, for the scale, the browser page) share. Parsing starts nothing:
// a bad option is found before any window or sound exists.

#include <string>

#include "option_reader.h"

struct DemoOptions {
    // --scale NAME: the frame is drawn at that scale (an index into
    // SCENE_SCALES; 0, the full frame, by default).
    int step = 0;
    // --scale auto: `step` is the probe's, the coarsest (the first frame,
    // whose time predicts the next one's scale); then the frame times choose.
    bool autoScale = false;
    // --density D: D x D samples for every frame pixel (1 by default).
    int density = 1;
    // --window [WxH]: an ordinary resizable window instead of the desktop.
    bool windowed = false;
    int windowWidth = 1280;
    int windowHeight = 720;
};

// Said at start (and in --help), for viewers who are sensitive to flashes:
// "Warning: at 106.5 s the whole screen flashes white.", the moment read
// from the shader; empty for a shader that names none.
std::string flashWarning();

using DemoOptionsOutcome = command_line::Outcome;

// Reads argv[1..argc-1]. On Error, `error` is one line naming what is wrong.
DemoOptionsOutcome parseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& error);

// The --help text.
std::string demoUsage();
