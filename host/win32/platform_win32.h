#pragma once

// The Windows platform layer (platform_win32.cpp).

#include "demo_options.h"
#include "platform.h"

extern const Platform win32Platform;

namespace win32_platform {
// The window and the internal resolution that the command line chose; set
// before demoMain. Without choices (demo.exe alone) the demo asks for the
// 1920x1080 mode and draws straight to its window.
void configure(const DemoOptions& options);
} // namespace win32_platform
