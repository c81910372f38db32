#pragma once

// The Linux platform layer on SDL2 (platform_sdl.cpp).

#include "demo_options.h"
#include "platform.h"

extern const Platform sdlPlatform;

namespace sdl_platform {
// The window and the internal resolution that the command line chose; set
// before demoMain (the defaults: the desktop, scale 1).
void configure(const DemoOptions& options);
// The name of the scale (or density) of the frame being drawn, for
// measuring tools.
const char* sceneGridName();
// Starts watching SDL's events for Escape presses; createWindow does this
// after SDL's video start-up. Exposed for the tests of the Escape rule.
void watchQuit();
// The sound device's play position: the frames handed to it so far and
// those skipped, for measuring tools.
std::uint32_t playedFrames();
// The frames skipped so far because they fell due while the process did not
// run (audio_pull.h), for measuring tools.
std::uint32_t skippedFrames();
}
