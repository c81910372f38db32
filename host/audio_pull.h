#pragma once

// The playback side of a sound device that pulls: each pull takes the frames at the play position that the
// render thread has published as finished, zeros for those it has not, and
// advances the play position by every frame handed over. It never waits,
// never repeats a frame and never stretches the song: a frame whose turn
// comes before it is rendered is played as silence.

#include <atomic>
#include <cstdint>

// The device's buffer in frames (about 23 ms at 44,100 frames a second).
inline constexpr std::uint16_t AUDIO_DEVICE_FRAMES = 1024;

struct AudioPull {
    const float* samples;                       // interleaved stereo frames
    std::uint32_t frameCount;                   // frames in `samples`
    const std::atomic<std::uint32_t>* framesReady; // published count, or null
    std::uint32_t position;                     // next frame to play
};

// Fills `count` stereo frames of `out` (2 × count floats) and advances
// `pull.position`. Beyond `frameCount` it plays silence and the position
// stops at `frameCount`.
void pullFrames(AudioPull& pull, float* out, std::uint32_t count);
