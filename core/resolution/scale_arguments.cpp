#include "scale_arguments.h"

#include "quoted.h"
#include "scene_scales.h"

std::string scaleOptionChoices(bool autoAllowed)
{
    return sceneScaleNames(autoAllowed ? "auto" : "");
}

std::string densityOptionChoices()
{
    std::string choices;
    for (int density = 1; density <= MAX_SCENE_DENSITY; ++density) {
        choices += std::to_string(density) +
                   (density == MAX_SCENE_DENSITY ? "" : density + 1 == MAX_SCENE_DENSITY ? " or " : ", ");
    }
    return choices;
}

std::optional<int> readScaleOption(std::string_view value, bool autoAllowed, std::string& error)
{
    if (autoAllowed && value == "auto") {
        return AUTO_SCALE;
    }
    if (const std::optional<int> step = parseSceneScale(value)) {
        return step;
    }
    error = "--scale takes " + scaleOptionChoices(autoAllowed) + " (or a drawn size: 1280x720, 720p), not " +
            command_line::quoted(value);
    return std::nullopt;
}

std::optional<int> readDensityOption(std::string_view value, std::string& error)
{
    if (const std::optional<int> density = parseSceneDensity(value)) {
        return density;
    }
    error = "--density takes " + densityOptionChoices() + " (samples per frame pixel each way), not " +
            command_line::quoted(value);
    return std::nullopt;
}
