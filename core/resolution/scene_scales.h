#pragma once

// The internal resolutions and the sample densities on offer, by the names
// users give them. The shader draws a picture of exactly 1920x1080 pixels
// (the frame); a scale draws fewer pixels, each of them bit for bit the
// frame's pixel that it stands for; a density draws D x D samples for every
// frame pixel. Where each drawn pixel stands is the sample grid's rule
// (sample_grid.h). The demo and the capture tool read `--scale` and
// `--density` with scale_arguments.h, the browser page `?scale=` with
// parseSceneScale; all three make the text with scaledSceneSource and
// sampleGridSource, so that they draw the same pixels.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "sample_grid.h"

struct SceneScale {
    // What --scale and ?scale= take, as lists show it.
    const char* name;
    SampleGrid grid;
};

// The scales, finest first: the steps of `--scale auto`. The whole-number
// ones divide both sides of the frame (drawn pixel k is frame pixel N k);
// 864p and 720p lie between 1 and 2.
inline constexpr SceneScale SCENE_SCALES[] = {
    {.name = "1", .grid = {.width = FRAME_WIDTH, .height = FRAME_HEIGHT}},
    {.name = "864p", .grid = {.width = 1536, .height = 864}},
    {.name = "720p", .grid = {.width = 1280, .height = 720}},
    {.name = "2", .grid = {.width = 960, .height = 540}},
    {.name = "3", .grid = {.width = 640, .height = 360}},
    {.name = "4", .grid = {.width = 480, .height = 270}},
    {.name = "6", .grid = {.width = 320, .height = 180}},
};
inline constexpr int SCENE_SCALE_COUNT = static_cast<int>(std::size(SCENE_SCALES));

// The scale's place in SCENE_SCALES (0, the full frame, the finest) for its
// name, its drawn height with a 'p' ("540p") or its drawn size ("960x540"),
// exactly as written; nothing for anything else.
std::optional<int> parseSceneScale(std::string_view text);

// The names for messages: "1, 864p, 720p, 2, 3, 4 or 6"; with a
// `lastChoice` after them: "1, 864p, 720p, 2, 3, 4, 6 or auto".
std::string sceneScaleNames(std::string_view lastChoice = {});

// The shader text that draws the scale at `step` (an index into
// SCENE_SCALES): sampleGridSource of its grid; the full frame's text
// unchanged.
std::string scaledSceneSource(std::string_view source, int step);

// "1", "2", "3" or "4" gives that density; anything else nothing.
std::optional<int> parseSceneDensity(std::string_view text);
