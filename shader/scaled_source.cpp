#include "scaled_source.h"

#include <algorithm>
#include <cctype>

std::optional<int> parseSceneScale(std::string_view text)
{
    if (text.size() != 1 || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    const int scale = text[0] - '0';
    if (std::find(std::begin(SCENE_SCALES), std::end(SCENE_SCALES), scale) == std::end(SCENE_SCALES)) {
        return std::nullopt;
    }
    return scale;
}

namespace {

bool isIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

} // namespace

std::string scaledSceneSource(std::string_view source, int scale)
{
    if (scale == 1) {
        return std::string(source);
    }
    static constexpr std::string_view builtin = "gl_FragCoord";
    const std::string factor = std::to_string(scale) + ".0";
    const std::string replacement =
        "vec4((gl_FragCoord.xy - 0.5) * " + factor + " + 0.5, gl_FragCoord.zw)";

    std::string scaled;
    scaled.reserve(source.size() + 256);
    std::size_t from = 0;
    for (std::size_t at = source.find(builtin); at != std::string_view::npos;
         at = source.find(builtin, at + builtin.size())) {
        const bool wholeWord = (at == 0 || !isIdentifierChar(source[at - 1])) &&
                               (at + builtin.size() == source.size() ||
                                !isIdentifierChar(source[at + builtin.size()]));
        if (!wholeWord) {
            continue;
        }
        scaled.append(source.substr(from, at - from));
        scaled += '(';
        scaled += replacement;
        scaled += ')';
        from = at + builtin.size();
    }
    scaled.append(source.substr(from));
    return scaled;
}
