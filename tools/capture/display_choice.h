#pragma once

// Which of the EGL displays that offer the scene's OpenGL draws the frames:
// a hardware renderer before a software one (llvmpipe, softpipe, swrast,
// SwiftShader), so that where Mesa is installed beside a GPU's own driver
// the GPU draws; the first in the order found among equals. The environment
// variable CAPTURE_RENDERER overrides: "hardware" or "software" for the
// first of that kind, any other text for the first display whose name or
// renderer holds it (case ignored).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace offscreen {

// A display that offers the scene's OpenGL: where it was found ("EGL
// device 1") and its GL_RENDERER.
struct FoundDisplay {
    std::string name;
    std::string renderer;
};

// The variable that chooses a display by kind or name.
inline constexpr const char* RENDERER_VARIABLE = "CAPTURE_RENDERER";

// True for a renderer that draws on the CPU.
bool isSoftwareRenderer(std::string_view renderer);

// The index of the display to use, given what CAPTURE_RENDERER holds (empty
// when unset). Nothing, with one line in `error`, when `found` is empty or
// nothing matches the choice.
std::optional<std::size_t> chooseDisplay(const std::vector<FoundDisplay>& found, std::string_view wanted,
                                          std::string& error);

}  // namespace offscreen
