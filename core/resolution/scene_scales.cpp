#include "scene_scales.h"

#include <vector>

std::optional<int> parseSceneScale(std::string_view text)
{
    for (int step = 0; step < SCENE_SCALE_COUNT; ++step) {
        const SceneScale& scale = SCENE_SCALES[step];
        const std::string height = std::to_string(scale.grid.height);
        if (text == scale.name || text == height + "p" || text == std::to_string(scale.grid.width) + "x" + height) {
            return step;
        }
    }
    return std::nullopt;
}

std::string sceneScaleNames(std::string_view lastChoice)
{
    std::vector<std::string_view> names;
    for (const SceneScale& scale : SCENE_SCALES) {
        names.push_back(scale.name);
    }
    if (!lastChoice.empty()) {
        names.push_back(lastChoice);
    }
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += names[i];
        list += i + 2 < names.size() ? ", " : i + 1 < names.size() ? " or " : "";
    }
    return list;
}

std::string scaledSceneSource(std::string_view source, int step)
{
    return sampleGridSource(source, SCENE_SCALES[step].grid);
}

std::optional<int> parseSceneDensity(std::string_view text)
{
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + MAX_SCENE_DENSITY) {
        return std::nullopt;
    }
    return text[0] - '0';
}
