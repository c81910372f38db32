#pragma once

// The Linux demo's way in from the command line: reads the options
// (demo_options.h), answers --help and bad options without starting
// anything, and otherwise sets up the SDL platform and the scene text for
// the chosen scale and runs demoMain on `platform` (the SDL platform, or a
// measuring wrapper of it).

#include "platform.h"

// Returns only for --help (0) and bad options (2); otherwise demoMain ends
// the process.
int runDemoCommandLine(int argc, const char* const* argv, const Platform& platform);
