#pragma once

// The playback side of a sound device that pulls: each pull takes the frames at the play position that the
// render thread has published as finished, zeros for those it has not, and
// advances the play position by every frame handed over. It never waits,
// never repeats a frame and never stretches the song: a frame whose turn
// comes before it is rendered is played as silence.
//
// The play position follows the device's clock across a stall of the
// process. The frames are handed over from inside the process, so while it
// is stopped (SIGSTOP, Ctrl+Z, a debugger) or starved of the processor
// nothing is handed over, while the sound card's clock, and the picture's,
// run on. A watch thread tells such a stall from a device that merely asks
// late: it wakes every AUDIO_WATCH_MS and keeps a ProcessWatch, whose
// stalled time grows only when one of its wakings comes AUDIO_STALL_MS or
// more late (the whole process, the watch included, did not run). Before
// each pull, catchUp moves the play position on by the frames that fell due
// in the process's stalled time since the previous pull, so that the song
// goes on at the frame that is due now: later frames, never earlier ones, in
// order. A device that stalls on its own while the process runs (the watch
// wakes on time) plays on from where it stopped, and so does a stall shorter
// than AUDIO_STALL_MS (ordinary scheduling jitter). Playback's clock starts
// at the first pull: however late the device opens, nothing is skipped then.
// The thread and the clock reads belong to the platform layer; everything
// here is plain arithmetic on the times it is handed.

#include <atomic>
#include <cstdint>

// The device's buffer in frames (about 23 ms at 44,100 frames a second).
inline constexpr std::uint16_t AUDIO_DEVICE_FRAMES = 1024;

// How often the watch thread wakes.
inline constexpr std::uint32_t AUDIO_WATCH_MS = 10;

// The shortest stall of the process that skips frames: about four device
// buffers.
inline constexpr std::uint32_t AUDIO_STALL_MS = 100;

struct AudioPull {
    const float* samples;                       // interleaved stereo frames
    std::uint32_t frameCount;                   // frames in `samples`
    const std::atomic<std::uint32_t>* framesReady; // published count, or null
    std::uint32_t position;                     // next frame to play
    // Kept by catchUp: whether a pull has happened (the device's clock runs),
    // the time of the latest pull and the process's stalled time then, and
    // the frames skipped so far.
    bool pulled = false;
    std::uint32_t lastPullMs = 0;
    std::uint32_t lastStalledMs = 0;
    std::uint32_t skipped = 0;
};

// Fills `count` stereo frames of `out` (2 × count floats) and advances
// `pull.position`. Beyond `frameCount` it plays silence and the position
// stops at `frameCount`.
void pullFrames(AudioPull& pull, float* out, std::uint32_t count);

// Called just before each pull at `nowMs` (a millisecond clock that may
// wrap), with the process's stalled time up to then (stalledMsAt): moves the
// position on by the frames of the stall since the previous pull, when it
// lasted AUDIO_STALL_MS or more (at most to `frameCount`), and adds them to
// `skipped`.
void catchUp(AudioPull& pull, std::uint32_t nowMs, std::uint32_t stalledMs);

// The watch thread's record; it is small enough to be published as one
// 64-bit word (packWatch).
struct ProcessWatch {
    std::uint32_t lastWakeMs; // the watch's latest waking
    std::uint32_t stalledMs;  // the stalled time found by its wakings so far
};

// The record after a waking at `nowMs`: a waking AUDIO_STALL_MS or more
// after it was due adds the whole delay to the stalled time.
ProcessWatch watchWoke(ProcessWatch watch, std::uint32_t nowMs);

// The process's stalled time up to `nowMs`: the record's, and the delay of
// the waking that is now overdue, once that is AUDIO_STALL_MS or more (so
// that a pull that comes before the watch, right after a stall, sees the
// stall; the waking then adds the same delay, and the time does not jump).
std::uint32_t stalledMsAt(ProcessWatch watch, std::uint32_t nowMs);

inline std::uint64_t packWatch(ProcessWatch watch)
{
    return std::uint64_t{watch.stalledMs} << 32 | watch.lastWakeMs;
}

inline ProcessWatch unpackWatch(std::uint64_t word)
{
    return {static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32)};
}
