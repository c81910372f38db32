#pragma once

#include <atomic>
#include <cstdint>

// Song timing, all fixed.
inline constexpr std::uint32_t SAMPLE_RATE = 44100;
inline constexpr std::uint32_t SAMPLES_PER_TICK = 4725;
inline constexpr std::uint32_t ROWS_PER_PATTERN = 16;
inline constexpr std::uint32_t PATTERN_LIST_LENGTH = 109;
inline constexpr std::uint32_t SONG_TICKS = ROWS_PER_PATTERN * PATTERN_LIST_LENGTH;
inline constexpr std::uint32_t TRACKS = 16;
inline constexpr std::uint32_t SONG_FRAMES = SONG_TICKS * SAMPLES_PER_TICK;
inline constexpr std::uint32_t BUFFER_FRAMES = 2 * SONG_FRAMES;

// One stereo frame of the SampleBuffer: two 32-bit floats, left then right.
struct StereoFrame {
    float left;
    float right;
};

// The whole song's sound, BUFFER_FRAMES frames at 44,100 per second, zero at
// start. The render thread fills the first SONG_FRAMES; the rest stay silent.
struct SampleBuffer {
    StereoFrame frames[BUFFER_FRAMES];
};
static_assert(sizeof(SampleBuffer) == 131'846'400);
