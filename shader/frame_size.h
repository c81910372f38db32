#pragma once

// The size of the picture that the scene shader's screen mapping is written
// for: every host draws this frame, whole or through a sample grid over it.
inline constexpr int FRAME_WIDTH = 1920;
inline constexpr int FRAME_HEIGHT = 1080;
