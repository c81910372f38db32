// Whole-song tests (label `slow`): two renders give identical bytes, no NaN
// or infinity reaches the clip, the frames after the song stay zero, and the
// fast loop matches the reference loop over the whole song. The sanitizer
// build runs the first 20 s instead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
    // renderSong itself into a zeroed SampleBuffer (the whole song), after the
    // song's first second rendered apart, as the demo starts it: the two
    // pieces join into the very frames of one render.
#ifndef DEMO_SANITIZE
    std::unique_ptr<SampleBuffer, FreeDeleter> buffer(static_cast<SampleBuffer*>(std::calloc(1, sizeof(SampleBuffer))));
    ASSERT_TRUE(buffer);
    prepareSong(buffer.get(), 44100);
    EXPECT_EQ(renderedFrames.load(std::memory_order_acquire), 44100u);
    EXPECT_EQ(renderSong(buffer.get()), SONG_FRAMES);
    EXPECT_EQ(renderedFrames.load(std::memory_order_acquire), SONG_FRAMES);
    for (std::uint32_t i = SONG_FRAMES; i < BUFFER_FRAMES; ++i) {
        ASSERT_EQ(buffer->frames[i].left, 0.0f) << i;
        ASSERT_EQ(buffer->frames[i].right, 0.0f) << i;
    }
    const StereoFrame* first = buffer->frames;
#endif
    // A second render on a state of its own; the fast loop counts master
    // output words that are NaN or infinite before the clip.
    auto state = makeSynthState();
    std::vector<StereoFrame> second(RANGE);
    ASSERT_EQ(renderSongFrames(*state, second.data(), RANGE), RANGE);
    EXPECT_GT(fastCounters(*state).voiceRuns, 0u);
    EXPECT_EQ(fastCounters(*state).nonFiniteOutputs, 0u);
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

// The fast loop against the reference loop over the whole range, in four
// quarters that ctest can run side by side: the fast loop renders up to the
// quarter's start, a copy of that state renders the quarter with the reference
// loop, and frames and states must match. The first quarter starts from the start
// state, so the four together cover the range from a reference start.
class WholeSongPart : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(WholeSongPart, FastLoopMatchesReferenceBitForBit) {
    const std::uint32_t part = GetParam();
    const std::uint32_t begin = static_cast<std::uint32_t>(static_cast<std::uint64_t>(RANGE) * part / 4);
    const std::uint32_t end = static_cast<std::uint32_t>(static_cast<std::uint64_t>(RANGE) * (part + 1) / 4);
    auto fast = makeSynthState();
    std::vector<StereoFrame> a(end - begin), b(end - begin);
    if (begin > 0) {
        std::vector<StereoFrame> lead(begin);
        ASSERT_EQ(renderSongFramesFast(*fast, lead.data(), begin), begin);
    }
    auto reference = makeSynthState();
    std::memcpy(static_cast<void*>(reference.get()), fast.get(), sizeof(SynthState));
    reference->fastValid = false;
    ASSERT_EQ(renderSongFramesReference(*reference, a.data(), end - begin), end - begin);
    ASSERT_EQ(renderSongFramesFast(*fast, b.data(), end - begin), end - begin);
    EXPECT_TRUE(sameFrames(a.data(), b.data(), end - begin, begin));
    EXPECT_TRUE(sameState(*reference, *fast));
    EXPECT_GT(fastCounters(*fast).voiceRuns, 0u);
}

INSTANTIATE_TEST_SUITE_P(Quarters, WholeSongPart, ::testing::Values(0u, 1u, 2u, 3u));

}  // namespace
