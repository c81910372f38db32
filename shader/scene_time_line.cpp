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

// The value of `const float NAME = value;` in the shader; the text is ours
// and holds every constant asked for (the tests read them all).
double constantSeconds(const std::string& name)
{
    const std::string declaration = "const float " + name + " = ";
    const std::size_t at = shaderText().find(declaration);
    if (at == std::string_view::npos) {
        std::fprintf(stderr, "demo: the scene shader has no %s\n", name.c_str());
        std::abort();
    }
    return std::strtod(sceneShaderSource + at + declaration.size(), nullptr);
}

} // namespace

double sceneStartSeconds(int scene)
{
    return scene <= 1 ? 0.0 : constantSeconds("SCENE_" + std::to_string(scene) + "_START");
}

double flashSeconds()
{
    // The closing fade's divisor falls to nothing at |SCENE_n_START - t| == 0.
    const std::string_view fade = "abs(SCENE_";
    const std::size_t at = shaderText().find(fade);
    const std::size_t end = shaderText().find("_START", at);
    if (at == std::string_view::npos || end == std::string_view::npos) {
        std::fprintf(stderr, "demo: the scene shader's fade names no scene start\n");
        std::abort();
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
