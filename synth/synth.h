#pragma once
// The synthesizer's public interface: the song's timing, the SampleBuffer
// and the demo's render thread (renderSong, prepareSong, renderedFrames),
// and a synthesizer state of one's own for rendering the song into a buffer
// of one's own, a range of frames at a time (render-song, capture --video,
// the browser's Worker).

#include <atomic>
#include <cstdint>
#include <memory>

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

// The render thread's progress: the number of SampleBuffer frames that are
// finished, stored with release order after each frame is written. Readers
// (the sound device) load it with acquire order; nothing ever waits on it.
extern std::atomic<std::uint32_t> renderedFrames;

// Renders the whole song (SONG_FRAMES frames) into `buffer`, which must be
// zero at start, publishing progress through `renderedFrames`. Returns the
// number of frames rendered. The thread entry of the demo's render thread.
std::uint32_t renderSong(SampleBuffer* buffer);

// Readies the demo's synthesizer state and the start of `buffer` (zero) for
// renderSong, on the thread that then starts the render thread, so that the
// render thread publishes its first frames at once: its first frames would
// otherwise first have to fault in the memory that they write. Changes no
// value. Optional, and only before renderSong.
void prepareSong(SampleBuffer* buffer);

// A synthesizer state of its own (synth_state.h has its layout), at the
// song's first frame: made on the heap by makeSynthState, reading `song`
// (the built-in song when null), freed by its SynthStatePtr.
struct SynthState;
struct SongData;
struct SynthStateDeleter {
    void operator()(SynthState* s) const;
};
using SynthStatePtr = std::unique_ptr<SynthState, SynthStateDeleter>;
// Throws std::bad_alloc when memory runs out.
SynthStatePtr makeSynthState(const SongData* song = nullptr);

// Renders the next `frameCount` frames of the song (fewer at its end: none
// once it has ended) from the state's next frame on into out[0..],
// publishing the absolute count of finished frames through `progress`
// (release order) after each one. Returns the number of frames rendered.
std::uint32_t renderSongFrames(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                               std::atomic<std::uint32_t>* progress = nullptr);
