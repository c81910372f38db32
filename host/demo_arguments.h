#pragma once

// The demo's way in from the command line, the same on every platform: reads
// the options (demo_options.h) and, when the demo is to run, sets the scene
// text for the chosen scale or density (sceneSourceText). A platform's entry
// shows the answer to --help, --version or a bad option in its own way, hands
// the options to its platform layer, says flashWarning(), and runs demoMain.

#include <optional>

#include "demo_options.h"
#include "option_reader.h"

// Nothing when the demo is to run (`options` then holds the choices); else
// the text to show and the exit code (0: --help or --version, 2: a bad
// option). Starts nothing.
std::optional<command_line::Answer> readDemoCommandLine(int argc, const char* const* argv, DemoOptions& options);

// True when the command line asked for anything but the default run (full
// screen at the full resolution).
bool hasChoices(const DemoOptions& options);
