#pragma once

// How long a run of the demo lasts and how its sound starts: the same facts
// for the desktop hosts, the browser page (through the module's exports) and
// the capture tool's video.

#include <cstdint>

#include "synth.h"

// The frame loop's end: the first frame at or after this many milliseconds
// is the last.
inline constexpr std::uint32_t EXIT_TIME_MS = 185000;

// The song frames rendered before the render thread (or the browser's
// Worker) goes on with the rest and the sound output opens: half a second of
// the song, so that the output finds the song's start whole even when the new
// thread does not get a core at once (measured here on 2 cores with llvmpipe
// drawing on both: one device buffer of pre-roll was enough on its own, but
// under Wine with two such demos and builds beside it the render thread once
// did not run for the first 0.22 s). It costs about 4 ms of start-up.
inline constexpr std::uint32_t AUDIO_PREROLL_FRAMES = SAMPLE_RATE / 2;
