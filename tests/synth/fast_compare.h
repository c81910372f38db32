#pragma once
// The fast render loop against the reference loop on one song, and on a
// sweep of random songs (random_song.h): frames and states bit-identical,
// the fast loop rendering in pieces of random length.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "random_song.h"
#include "song_check.h"
#include "state_compare.h"

// The number of random songs of a sweep: `full`, or `sanitized` in the
// sanitizer build, where every render takes many times longer.
constexpr std::uint32_t sweepSongs(std::uint32_t full, std::uint32_t sanitized) {
#ifdef DEMO_SANITIZE
    (void)full;
    return sanitized;
#else
    (void)sanitized;
    return full;
#endif
}

// Renders `frames` frames from `startFrame` on with both loops, from the
// start state (`reference` and `fast` are reset first, so that a sweep can
// use the same two states: every fresh state's 24 MB cost page faults), the
// fast loop's state prepared for its first `prepareFrames` frames first
// when that is not 0.
inline void compareRendersOn(SynthState& reference, SynthState& fast, const SongData* song, std::uint32_t startFrame,
                             std::uint32_t frames, std::uint32_t seed, bool expectFast = true,
                             FastCounters* counters = nullptr, std::uint32_t prepareFrames = 0) {
    resetSynthState(reference, song);
    resetSynthState(fast, song);
    reference.nextFrame = fast.nextFrame = startFrame;
    if (prepareFrames) prepareSongFrames(fast, prepareFrames);
    std::vector<StereoFrame> a(frames), b(frames);
    ASSERT_EQ(renderSongFramesReference(reference, a.data(), frames), frames);
    // The fast loop in pieces of varying length.
    std::mt19937 rng(seed);
    std::uint32_t done = 0;
    while (done < frames) {
        std::uint32_t piece = 1 + rng() % 4000;
        if (piece > frames - done) piece = frames - done;
        ASSERT_EQ(renderSongFramesFast(fast, b.data() + done, piece), piece);
        done += piece;
    }
    ASSERT_TRUE(sameFrames(a.data(), b.data(), frames, startFrame));
    ASSERT_TRUE(sameState(reference, fast));
    // The fast loop really ran (it counts its voice runs), or fell back.
    EXPECT_EQ(fastCounters(fast).voiceRuns > 0, expectFast);
    if (counters) *counters = fastCounters(fast);
}

inline void compareRenders(const SongData* song, std::uint32_t startFrame, std::uint32_t frames, std::uint32_t seed,
                           bool expectFast = true, FastCounters* counters = nullptr) {
    auto reference = makeSynthState(song);
    auto fast = makeSynthState(song);
    compareRendersOn(*reference, *fast, song, startFrame, frames, seed, expectFast, counters);
}

// Random songs (random_song.h), each rendered from a fresh state at a song
// position of its own for a little over one Tick, in pieces. Counts the
// songs that held each case where a block run could reorder work, and the
// fast loop's paths that the songs reached.
struct SweepResult {
    std::uint32_t songs = 0, valid = 0;
    std::uint32_t severalNoise = 0, storeIntoEarlier = 0, trackAccumulate = 0, severalDelays = 0, masterNoise = 0;
    std::uint64_t silent = 0, skipped = 0, zeroPath = 0, fullPath = 0;
};

inline SweepResult sweepRandomSongs(std::uint32_t firstSeed, std::uint32_t count) {
    SweepResult r;
    auto reference = makeSynthState();
    auto fast = makeSynthState();
    for (std::uint32_t seed = firstSeed; seed < firstSeed + count; ++seed) {
        SCOPED_TRACE(seed);
        RandomSong random = randomSong(seed);
        const SongData* data = random.song.finish();
        r.valid += checkSong(*data).ok();
        FastCounters c{};
        const std::uint32_t start = (seed * 7 % 100) * 16 * SAMPLES_PER_TICK + (seed % 3) * SAMPLES_PER_TICK;
        compareRendersOn(*reference, *fast, data, start, SAMPLES_PER_TICK + 600 + seed * 37 % 1000, seed, true, &c);
        if (::testing::Test::HasFatalFailure()) return r;
        ++r.songs;
        r.severalNoise += random.features.severalNoise;
        r.storeIntoEarlier += random.features.storeIntoEarlier;
        r.trackAccumulate += random.features.trackAccumulate;
        r.severalDelays += random.features.severalDelays;
        r.masterNoise += random.features.masterNoise;
        r.silent += c.silentRuns;
        r.skipped += c.skippedRuns;
        r.zeroPath += c.delayZero;
        r.fullPath += c.delayFull;
    }
    return r;
}

inline void reportSweep(const SweepResult& r) {
    std::printf("%u random songs (%u keep every rule of the song check): several noise Oscillators in %u, "
                "Stores into earlier units in %u, track Accumulate in %u, several Delays in %u, master noise in %u; "
                "silent runs %llu, skipped %llu, Delay zero path %llu, full path %llu\n",
                r.songs, r.valid, r.severalNoise, r.storeIntoEarlier, r.trackAccumulate, r.severalDelays, r.masterNoise,
                static_cast<unsigned long long>(r.silent), static_cast<unsigned long long>(r.skipped),
                static_cast<unsigned long long>(r.zeroPath), static_cast<unsigned long long>(r.fullPath));
}

