#pragma once

// The one reading of `--scale` and `--density` for every program that takes
// them (the demo and the capture tool): the same names and the same messages.

#include <optional>
#include <string>
#include <string_view>

// What `--scale auto` reads as.
inline constexpr int AUTO_SCALE = -1;

// `--scale`'s value: a scale's name, drawn height or drawn size
// (parseSceneScale), or "auto" where `autoAllowed`. Gives the step (an index
// into SCENE_SCALES) or AUTO_SCALE; for anything else nothing, with `error`
// naming the choices and quoting the value.
std::optional<int> readScaleOption(std::string_view value, bool autoAllowed, std::string& error);

// The choices for `--scale` as a message lists them ("1, 864p, …, 6 or auto"
// where `autoAllowed`).
std::string scaleOptionChoices(bool autoAllowed);

// The choices for `--density` as a message lists them ("1, 2, 3 or 4").
std::string densityOptionChoices();

// `--density`'s value: 1 to MAX_SCENE_DENSITY; for anything else nothing,
// with `error` quoting the value.
std::optional<int> readDensityOption(std::string_view value, std::string& error);

// The refusal of the two together.
inline constexpr const char* SCALE_WITH_DENSITY_ERROR =
    "--scale and --density do not go together: a scale draws fewer pixels than the frame has, a density more "
    "samples";
