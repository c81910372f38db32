#pragma once

// The scene at an internal resolution. The shader draws a picture of exactly
// 1920x1080 pixels; at scale N the same picture is drawn at 1920/N x 1080/N,
// each drawn pixel being bit for bit the full frame's pixel that it stands
// for. The demo (`--scale N`), the capture tool (`--scale N`) and the browser
// page (`?scale=N`) all read the scale with parseSceneScale and make the text
// with scaledSceneSource, so that all three draw the same pixels.

#include <optional>
#include <string>
#include <string_view>

// The size of the picture that the shader's screen mapping is written for.
inline constexpr int FRAME_WIDTH = 1920;
inline constexpr int FRAME_HEIGHT = 1080;

// The scales on offer, finest first; each divides both 1920 and 1080.
inline constexpr int SCENE_SCALES[] = {1, 2, 3, 4, 6};

// "1", "2", "3", "4" or "6" (plain decimal, nothing around it) gives that
// scale; anything else gives nothing.
std::optional<int> parseSceneScale(std::string_view text);

// The accepted scales for messages: "1, 2, 3, 4 or 6".
inline constexpr const char* SCENE_SCALE_LIST = "1, 2, 3, 4 or 6";

// The shader text in which every read of gl_FragCoord sees the window
// position of the full-resolution pixel that the drawn pixel stands for:
// (gl_FragCoord.xy - .5) * N + .5, the centre of the full frame's pixel at
// N times the drawn pixel's index. Both steps are exact in single precision,
// so everything the shader derives from the position (thresholds in
// 1080-line pixels, grain) is computed from the very same value. Scale 1
// gives the text unchanged.
std::string scaledSceneSource(std::string_view source, int scale);
