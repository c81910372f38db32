// The fast render loop against the straightforward reference loop: frames
// and states bit-identical, on the built-in song's opening and on hundreds of
// random hand-made songs that exercise every unit, modulation of arbitrary
// words, noise drawn by several units and voices, silent, quiet and waking
// voices, and renders in pieces.
#include <gtest/gtest.h>

#include <vector>

#include "fast_compare.h"
#include "song_check.h"

namespace {

TEST(FastLoop, MatchesReferenceOnTheSongsOpening) {
    const std::uint32_t frames = 3 * SAMPLE_RATE;
    compareRenders(&builtinSong(), 0, frames, 1);
}

TEST(FastLoop, MatchesReferenceLaterInTheSong) {
    // From a fresh state at entry 16 (where most Tracks start), 2 s.
    compareRenders(&builtinSong(), 16 * 16 * SAMPLES_PER_TICK, 2 * SAMPLE_RATE, 2);
}

constexpr std::uint32_t RANDOM_SONGS = sweepSongs(300, 60);

TEST(FastLoop, MatchesReferenceOnRandomSongs) {
    const SweepResult r = sweepRandomSongs(1, RANDOM_SONGS);
    ASSERT_EQ(r.songs, RANDOM_SONGS);
    reportSweep(r);
    // Every case comes up in many songs, most songs keep every rule, and the
    // songs reach every path of the fast loop.
    EXPECT_GE(r.valid, RANDOM_SONGS * 3 / 4);
    EXPECT_GE(r.severalNoise, RANDOM_SONGS / 10);
    EXPECT_GE(r.storeIntoEarlier, RANDOM_SONGS / 2);
    EXPECT_GE(r.trackAccumulate, RANDOM_SONGS / 10);
    EXPECT_GE(r.severalDelays, RANDOM_SONGS / 4);
    EXPECT_GE(r.masterNoise, RANDOM_SONGS / 20);
    EXPECT_GT(r.silent, 0u);
    EXPECT_GT(r.skipped, 0u);
    EXPECT_GT(r.zeroPath, 0u);
    EXPECT_GT(r.fullPath, 0u);
}

TEST(FastLoop, FallsBackToTheReferenceForBrokenData) {
    // An unbalanced chain: the fast loop cannot trust it and must still give
    // the reference's frames.
    TestSong song;
    const std::uint8_t p = song.addPattern({60, 1, 1, 1});
    for (std::uint32_t i = 0; i < PATTERN_LIST_LENGTH; ++i) song.patternList[i] = p;
    ChainBuilder()
        .unit(OP_ENVELOPE, {0, 64, 64, 64, 128})
        .unit(OP_OSCILLATOR, {64, 64, 0, 64, 64, 128, OSC_SINE})
        .unit(OP_PAN, {64})
        .unit(OP_OUTPUT, {128, 0})
        .appendTo(song);
    for (std::uint32_t t = 1; t < TRACKS; ++t) song.commands.push_back(0);
    ChainBuilder().unit(OP_ACCUMULATE, {0}).unit(OP_OUTPUT, {128, 0}).appendTo(song);
    EXPECT_FALSE(checkSong(*song.finish()).ok());
    compareRenders(song.finish(), 0, 3000, 3, false);
}

TEST(FastLoop, AResetStateRendersTheSongAgainFromItsStart) {
    // A state that is untouched (made, or reset after a render) starts
    // without scanning its delay lines; both give the reference's frames.
    auto reference = makeSynthState();
    auto fast = makeSynthState();
    const std::uint32_t frames = 30000;
    std::vector<StereoFrame> a(frames), b(frames), c(frames);
    renderSongFramesReference(*reference, a.data(), frames);
    renderSongFramesFast(*fast, b.data(), frames);
    resetSynthState(*fast);
    renderSongFramesFast(*fast, c.data(), frames);
    EXPECT_TRUE(sameFrames(a.data(), b.data(), frames));
    EXPECT_TRUE(sameFrames(a.data(), c.data(), frames));
    EXPECT_TRUE(sameState(*reference, *fast));
}

TEST(FastLoop, ReferenceAndFastMayAlternateOnOneState) {
    auto a = makeSynthState();
    auto b = makeSynthState();
    std::vector<StereoFrame> x(60000), y(60000);
    renderSongFramesReference(*a, x.data(), 60000);
    renderSongFramesFast(*b, y.data(), 20000);
    renderSongFramesReference(*b, y.data() + 20000, 20000);
    renderSongFramesFast(*b, y.data() + 40000, 20000);
    EXPECT_TRUE(sameFrames(x.data(), y.data(), 60000));
    EXPECT_TRUE(sameState(*a, *b));
}

}  // namespace
