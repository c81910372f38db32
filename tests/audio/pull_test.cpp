// The pull copy of a sound device that pulls: frames below the render
// thread's published count are copied, those at or above it are zeros, the
// play position moves on by every frame handed over, and past the end of the
// buffer the device gets silence.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "audio_pull.h"

namespace {

// A buffer whose frame i holds (i + 1, -(i + 1)): no frame is zero.
std::vector<float> numberedFrames(std::uint32_t count)
{
    std::vector<float> samples(2 * std::size_t{count});
    for (std::uint32_t i = 0; i < count; ++i) {
        samples[2 * i] = static_cast<float>(i + 1);
        samples[2 * i + 1] = -static_cast<float>(i + 1);
    }
    return samples;
}

// Which buffer frame an output frame holds: its number, or 0 for silence.
std::vector<int> frameNumbers(const std::vector<float>& out)
{
    std::vector<int> numbers;
    for (std::size_t i = 0; i < out.size(); i += 2) {
        EXPECT_EQ(out[i], -out[i + 1]);
        numbers.push_back(static_cast<int>(out[i]));
    }
    return numbers;
}

std::vector<int> pull(AudioPull& state, std::uint32_t count)
{
    std::vector<float> out(2 * std::size_t{count}, 12345.f); // stale content
    pullFrames(state, out.data(), count);
    return frameNumbers(out);
}

TEST(PullFrames, CopiesBelowThePublishedCountAndZerosFromIt)
{
    const std::vector<float> samples = numberedFrames(100);
    std::atomic<std::uint32_t> ready{0};
    AudioPull state{samples.data(), 100, &ready, 0};

    // Nothing rendered yet: silence, and the position still moves on.
    EXPECT_EQ(pull(state, 4), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(state.position, 4u);

    // The count falls inside the next pull: frames 4 and 5 are ready.
    ready = 6;
    EXPECT_EQ(pull(state, 4), (std::vector<int>{5, 6, 0, 0}));
    EXPECT_EQ(state.position, 8u);

    // Frames 6 and 7 were played as silence; they are never played again.
    ready = 20;
    EXPECT_EQ(pull(state, 4), (std::vector<int>{9, 10, 11, 12}));
    EXPECT_EQ(state.position, 12u);

    // The count exactly at the end of a pull, then exactly at its start.
    ready = 16;
    EXPECT_EQ(pull(state, 4), (std::vector<int>{13, 14, 15, 16}));
    EXPECT_EQ(pull(state, 4), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(state.position, 20u);
}

TEST(PullFrames, PlaysSilenceAfterTheEndOfTheBuffer)
{
    const std::vector<float> samples = numberedFrames(10);
    std::atomic<std::uint32_t> ready{10};
    AudioPull state{samples.data(), 10, &ready, 6};

    // The pull that crosses the end: the last four frames, then zeros.
    EXPECT_EQ(pull(state, 8), (std::vector<int>{7, 8, 9, 10, 0, 0, 0, 0}));
    EXPECT_EQ(state.position, 10u);
    // From then on only silence, and the position stays at the end.
    EXPECT_EQ(pull(state, 3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(state.position, 10u);
}

TEST(PullFrames, ACountBeyondTheBufferCopiesNoMoreThanTheBuffer)
{
    const std::vector<float> samples = numberedFrames(4);
    std::atomic<std::uint32_t> ready{1000};
    AudioPull state{samples.data(), 4, &ready, 0};
    EXPECT_EQ(pull(state, 6), (std::vector<int>{1, 2, 3, 4, 0, 0}));
}

TEST(PullFrames, WithoutACountEveryFrameIsSilence)
{
    const std::vector<float> samples = numberedFrames(8);
    AudioPull state{samples.data(), 8, nullptr, 0};
    EXPECT_EQ(pull(state, 8), (std::vector<int>(8, 0)));
    EXPECT_EQ(state.position, 8u);
}

TEST(PullFrames, PullsOfOddSizesPlayEachFrameOnceInOrder)
{
    const std::uint32_t frames = 5000;
    const std::vector<float> samples = numberedFrames(frames);
    std::atomic<std::uint32_t> ready{0};
    AudioPull state{samples.data(), frames, &ready, 0};
    std::vector<int> played;
    std::uint32_t size = 1;
    while (played.size() < frames + 100) {
        // The renderer runs ahead of the device most of the time, but not
        // always: every seventh pull it has fallen back to the play position.
        ready = size % 7 ? std::min(frames, state.position + 3 * size) : state.position;
        const std::vector<int> got = pull(state, size);
        played.insert(played.end(), got.begin(), got.end());
        size = size * 13 % 97 + 1;
    }
    for (std::size_t i = 0; i < played.size(); ++i) {
        ASSERT_TRUE(played[i] == 0 || played[i] == static_cast<int>(i + 1)) << "output frame " << i;
    }
    for (std::size_t i = frames; i < played.size(); ++i) {
        ASSERT_EQ(played[i], 0);
    }
}

} // namespace
