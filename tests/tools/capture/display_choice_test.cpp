// Which EGL display capture draws with: hardware before software, in the
// order found among equals, and CAPTURE_RENDERER's choice over both.
#include "display_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using offscreen::chooseDisplay;
using offscreen::FoundDisplay;

const FoundDisplay SURFACELESS_LLVMPIPE = {"EGL surfaceless", "llvmpipe (LLVM 15.0.6, 256 bits)"};
const FoundDisplay DEVICE_SOFTPIPE = {"EGL device 0", "softpipe"};
const FoundDisplay DEVICE_NVIDIA = {"EGL device 1", "NVIDIA GeForce RTX 3060/PCIe/SSE2"};
const FoundDisplay DEVICE_RADEON = {"EGL device 2", "AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6)"};
const FoundDisplay DEFAULT_SWIFTSHADER = {"EGL default display", "Google SwiftShader"};
const FoundDisplay DEFAULT_SWRAST = {"EGL default display", "Mesa Offscreen swrast"};

struct Case {
    const char* what;
    std::vector<FoundDisplay> found;
    const char* wanted;
    std::optional<std::size_t> chosen;
};

TEST(DisplayChoice, HardwareFirstThenSoftwareAndTheVariableOverrides)
{
    const std::vector<Case> cases = {
        {"llvmpipe found first, the GPU after it", {SURFACELESS_LLVMPIPE, DEVICE_NVIDIA}, "", 1},
        {"the first of two GPUs", {SURFACELESS_LLVMPIPE, DEVICE_RADEON, DEVICE_NVIDIA}, "", 1},
        {"only software: the first found", {SURFACELESS_LLVMPIPE, DEVICE_SOFTPIPE, DEFAULT_SWIFTSHADER}, "", 0},
        {"softpipe, SwiftShader and swrast are software", {DEVICE_SOFTPIPE, DEFAULT_SWIFTSHADER, DEFAULT_SWRAST,
                                                           DEVICE_RADEON}, "", 3},
        {"software asked for", {DEVICE_NVIDIA, SURFACELESS_LLVMPIPE}, "software", 1},
        {"hardware asked for, in any case", {SURFACELESS_LLVMPIPE, DEVICE_NVIDIA}, "HARDWARE", 1},
        {"hardware asked for, none there", {SURFACELESS_LLVMPIPE, DEVICE_SOFTPIPE}, "hardware", std::nullopt},
        {"by renderer", {DEVICE_NVIDIA, DEVICE_RADEON}, "radeon", 1},
        {"by display name", {SURFACELESS_LLVMPIPE, DEVICE_NVIDIA}, "surfaceless", 0},
        {"a name that matches nothing", {SURFACELESS_LLVMPIPE, DEVICE_NVIDIA}, "intel", std::nullopt},
        {"nothing found", {}, "", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(chooseDisplay(c.found, c.wanted, error), c.chosen) << c.what;
        EXPECT_EQ(error.empty(), c.chosen.has_value()) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what;
    }
}

TEST(DisplayChoice, RefusalNamesTheVariableAndWhatWasFound)
{
    std::string error;
    EXPECT_FALSE(chooseDisplay({SURFACELESS_LLVMPIPE}, "hardware", error));
    EXPECT_EQ(error, "CAPTURE_RENDERER=hardware: no such renderer among those found: "
                     "EGL surfaceless (llvmpipe (LLVM 15.0.6, 256 bits))");
}

} // namespace
