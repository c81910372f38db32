#pragma once
// The render loops: the note fetch and the straightforward reference loop
// (sequencer.cpp), the fast loop (fast/), which gives bit-identical frames
// and states, and its preparation and counters. renderSongFrames (synth.h)
// runs the fast loop.

#include <atomic>
#include <cstdint>

#include "synth.h"

// At the first frame of a Tick: reads Track `track`'s note byte for `tick`
// and starts or releases the Track's voices.
void fetchTrackNote(SynthState& s, std::uint32_t track, std::uint32_t tick);

// renderSongFrames by either loop.
std::uint32_t renderSongFramesReference(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                        std::atomic<std::uint32_t>* progress = nullptr);
std::uint32_t renderSongFramesFast(SynthState& s, StereoFrame* out, std::uint32_t frameCount,
                                   std::atomic<std::uint32_t>* progress = nullptr);

// Readies an untouched state for a render on another thread that must
// publish its first frames at once (fast/prepare.cpp): builds the fast
// loop's book and faults in the memory that the first `frames` frames write.
// Renders nothing and changes no value; does nothing to a state that is not
// untouched or that is prepared already. Call it before the render thread
// starts.
void prepareSongFrames(SynthState& s, std::uint32_t frames);

// The fast loop's counters, for profiling and tests (since the state was
// made or last rendered by the reference loop).
struct FastCounters {
    std::uint64_t voiceRuns;
    std::uint64_t silentRuns;
    std::uint64_t skippedRuns;
    std::uint64_t delayFull;
    std::uint64_t delayZero;
    std::uint64_t nonFiniteOutputs;  // master output words that were NaN or infinite before the clip
};
FastCounters fastCounters(const SynthState& s);
