#pragma once

// The demo's time line as the scene shader states it: when each scene starts
// (its constants SCENE_n_START; scene 1 starts at 0) and when the white flash
// comes (the scene start that the closing fade measures from). Read from the
// embedded text, so that the messages that name these moments hold no second
// copy of them. A text without them (a test's stand-in shader) names no
// moment, and the messages then name none.

#include <optional>
#include <string>

// The number of scenes.
inline constexpr int SCENE_COUNT = 7;

// The second at which scene `scene` (1 to SCENE_COUNT) starts.
std::optional<double> sceneStartSeconds(int scene);

// The second of the white flash.
std::optional<double> flashSeconds();

// Seconds as the messages write them, to the millisecond without trailing
// zeros: "106.5", "185".
std::string secondsText(double seconds);
