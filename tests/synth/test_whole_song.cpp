// Whole-song tests (label `slow`): two renders give identical bytes, no NaN
// or infinity reaches the clip, the frames after the song stay zero, and the
// fast loop matches the reference loop over the whole song. The sanitizer
// build runs the first 20 s instead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "state_compare.h"

namespace {

#ifdef DEMO_SANITIZE
constexpr std::uint32_t RANGE = 20 * SAMPLE_RATE;
#else
constexpr std::uint32_t RANGE = SONG_FRAMES;
#endif

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

TEST(WholeSong, TwoRendersAreIdenticalFiniteAndTheTailStaysZero) {
    // renderSong itself into a zeroed SampleBuffer (the whole song).
#ifndef DEMO_SANITIZE
    std::unique_ptr<SampleBuffer, FreeDeleter> buffer(static_cast<SampleBuffer*>(std::calloc(1, sizeof(SampleBuffer))));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(renderSong(buffer.get()), SONG_FRAMES);
    EXPECT_EQ(renderedFrames.load(std::memory_order_acquire), SONG_FRAMES);
    for (std::uint32_t i = SONG_FRAMES; i < BUFFER_FRAMES; ++i) {
        ASSERT_EQ(buffer->frames[i].left, 0.0f) << i;
        ASSERT_EQ(buffer->frames[i].right, 0.0f) << i;
    }
    const StereoFrame* first = buffer->frames;
#endif
    // A second render, one frame at a time, looking at the master's output
    // words before the clip.
    auto state = makeSynthState();
    std::vector<StereoFrame> second(RANGE);
    std::uint32_t nonFinite = 0;
    for (std::uint32_t i = 0; i < RANGE; ++i) {
        ASSERT_EQ(renderSongFrames(*state, &second[i], 1), 1u);
        const Voice& master = state->voices[MASTER_VOICE];
        if (!std::isfinite(master.mainOut[0]) || !std::isfinite(master.mainOut[1])) ++nonFinite;
    }
    EXPECT_EQ(nonFinite, 0u);
    EXPECT_EQ(state->nextFrame, RANGE);
    for (const StereoFrame& f : second) {
        ASSERT_LE(std::fabs(f.left), 1.0f);
        ASSERT_LE(std::fabs(f.right), 1.0f);
    }
#ifndef DEMO_SANITIZE
    EXPECT_TRUE(sameFrames(first, second.data(), SONG_FRAMES));
    // The last frame is 8,240,399: the render stops there.
    StereoFrame extra{5.0f, 5.0f};
    EXPECT_EQ(renderSongFrames(*state, &extra, 1), 0u);
    EXPECT_EQ(extra.left, 5.0f);
#else
    auto again = makeSynthState();
    std::vector<StereoFrame> third(RANGE);
    ASSERT_EQ(renderSongFrames(*again, third.data(), RANGE), RANGE);
    EXPECT_TRUE(sameFrames(third.data(), second.data(), RANGE));
#endif
}

TEST(WholeSong, FastLoopMatchesReferenceBitForBit) {
    auto reference = makeSynthState();
    auto fast = makeSynthState();
    std::vector<StereoFrame> a(RANGE), b(RANGE);
    ASSERT_EQ(renderSongFramesReference(*reference, a.data(), RANGE), RANGE);
    ASSERT_EQ(renderSongFramesFast(*fast, b.data(), RANGE), RANGE);
    EXPECT_TRUE(sameFrames(a.data(), b.data(), RANGE));
    EXPECT_TRUE(sameState(*reference, *fast));
    EXPECT_GT(fastCounters(*fast).voiceRuns, 0u);
}

}  // namespace
