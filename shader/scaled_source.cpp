#include "scaled_source.h"

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

std::string sceneScaleNames()
{
    std::string list;
    for (int step = 0; step < SCENE_SCALE_COUNT; ++step) {
        list += SCENE_SCALES[step].name;
        list += step + 2 < SCENE_SCALE_COUNT ? ", " : step + 1 < SCENE_SCALE_COUNT ? " or " : "";
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
