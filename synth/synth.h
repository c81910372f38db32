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

// Renders the rest of the song (up to SONG_FRAMES frames) into `buffer`,
// which must be zero at start, publishing progress through `renderedFrames`:
// from the first frame, or from the end of the start that prepareSong
// rendered. Returns the number of the song's frames in `buffer` then. The
// thread entry of the demo's render thread.
std::uint32_t renderSong(SampleBuffer* buffer);

// Renders the song's first `frames` frames into `buffer` (zero at start) on
// the calling thread and publishes them through `renderedFrames`, so that
// they are there before the sound device opens and renderSong, started
// afterwards on the render thread, goes on from there. With 0 frames it only
// readies the synthesizer state and faults in the memory that the first
// frames write, so that the render thread publishes them at once. Optional,
// once, and only before renderSong.
void prepareSong(SampleBuffer* buffer, std::uint32_t frames);

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
