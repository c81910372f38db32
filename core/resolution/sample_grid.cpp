// The shader text for a sample grid: the one place where drawn pixels become
// positions in the frame.
#include "sample_grid.h"

#include <cctype>
#include <cstdio>

namespace {

// Pitches above 1 are multiples of 1/256.
constexpr int PITCH_STEPS = 256;

bool isIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A float constant as GLSL reads it back to the same single-precision value.
std::string floatLiteral(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string literal = text;
    if (literal.find_first_of(".e") == std::string::npos) {
        literal += ".0";
    }
    return literal;
}

// Replaces every whole-word read of gl_FragCoord with `replacement`.
std::string replaceFragCoord(std::string_view source, const std::string& replacement)
{
    static constexpr std::string_view builtin = "gl_FragCoord";
    std::string replaced;
    replaced.reserve(source.size() + 256);
    std::size_t from = 0;
    for (std::size_t at = source.find(builtin); at != std::string_view::npos;
         at = source.find(builtin, at + builtin.size())) {
        const bool wholeWord = (at == 0 || !isIdentifierChar(source[at - 1])) &&
                               (at + builtin.size() == source.size() ||
                                !isIdentifierChar(source[at + builtin.size()]));
        if (!wholeWord) {
            continue;
        }
        replaced.append(source.substr(from, at - from));
        replaced += replacement;
        from = at + builtin.size();
    }
    replaced.append(source.substr(from));
    return replaced;
}

} // namespace

bool isExactSampleGrid(const SampleGrid& grid)
{
    if (grid.width < 1 || grid.height < 1 ||
        static_cast<long long>(grid.width) * FRAME_HEIGHT != static_cast<long long>(grid.height) * FRAME_WIDTH) {
        return false;
    }
    if (grid.width >= FRAME_WIDTH) {
        return grid.width % FRAME_WIDTH == 0 && grid.width / FRAME_WIDTH <= MAX_SCENE_DENSITY;
    }
    return FRAME_WIDTH * PITCH_STEPS % grid.width == 0;
}

std::string sampleGridSource(std::string_view source, const SampleGrid& grid, std::string_view originUniform)
{
    if (!isExactSampleGrid(grid)) {
        return {};
    }
    const bool withOrigin = !originUniform.empty();
    if (withOrigin && !source.empty() && source[0] == '#') {
        return {};
    }
    // The drawn pixel's window position in the drawn picture: k + 0.5.
    const std::string at = withOrigin ? "(gl_FragCoord.xy + " + std::string(originUniform) + ")" : "gl_FragCoord.xy";
    std::string position;
    if (grid.width == FRAME_WIDTH) {
        if (!withOrigin) {
            return std::string(source);
        }
        position = at;
    } else if (grid.width > FRAME_WIDTH) {
        // Frame pixel x = floor((k + 0.5) / D), far from any rounding edge;
        // sample i = k - D x, exact; the point x + (i + 0.5) / D.
        const int density = grid.width / FRAME_WIDTH;
        const std::string perSample = floatLiteral(1.0f / static_cast<float>(density));
        const std::string pixel = "floor(" + at + " * " + perSample + ")";
        position = pixel + " + (" + at + " - " + pixel + " * " + floatLiteral(static_cast<float>(density)) + ") * " +
                   perSample;
    } else if (FRAME_WIDTH % grid.width == 0) {
        // Whole-number pitch: the point k * r + 0.5 is the centre of frame pixel r * k.
        position = "(" + at + " - 0.5) * " + floatLiteral(static_cast<float>(FRAME_WIDTH / grid.width)) + " + 0.5";
    } else {
        // The frame pixel whose centre is nearest to k * r + 0.5, halves up.
        const float pitch = static_cast<float>(FRAME_WIDTH) / static_cast<float>(grid.width);
        position = "floor((" + at + " - 0.5) * " + floatLiteral(pitch) + " + 0.5) + 0.5";
    }
    std::string text;
    if (withOrigin) {
        text = "uniform vec2 " + std::string(originUniform) + "; ";
    }
    text += replaceFragCoord(source, "(vec4(" + position + ", gl_FragCoord.zw))");
    return text;
}
