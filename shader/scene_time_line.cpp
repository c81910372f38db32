// The time line read from the scene shader's text (see scene_time_line.h).
#include "scene_time_line.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "shader_source.h"

namespace {

std::string_view shaderText()
{
    return {sceneShaderSource, sceneShaderSourceLength};
}

// The value of `const float NAME = value;` in the shader's text.
std::optional<double> constantSeconds(const std::string& name)
{
    const std::string declaration = "const float " + name + " = ";
    const std::size_t at = shaderText().find(declaration);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return std::strtod(sceneShaderSource + at + declaration.size(), nullptr);
}

} // namespace

std::optional<double> sceneStartSeconds(int scene)
{
    if (scene <= 1) {
        return 0.0;
    }
    return constantSeconds("SCENE_" + std::to_string(scene) + "_START");
}

std::optional<double> flashSeconds()
{
    // The closing fade's divisor falls to nothing at |SCENE_n_START - t| == 0.
    const std::string_view fade = "abs(SCENE_";
    const std::size_t at = shaderText().find(fade);
    const std::size_t end = at == std::string_view::npos ? at : shaderText().find("_START", at);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return constantSeconds(std::string(shaderText().substr(at + 4, end + 6 - (at + 4))));
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string written = text;
    while (written.back() == '0') {
        written.pop_back();
    }
    if (written.back() == '.') {
        written.pop_back();
    }
    return written;
}
