// The pull copy of a sound device that pulls: frames below the render
// thread's published count are copied, those at or above it are zeros, the
// play position moves on by every frame handed over, and past the end of the
// buffer the device gets silence. Across stalls, on made-up clocks: a stall of
// the whole process skips the frames that fell due in it, whichever of the
// watch and the device runs first after it; a device that asks late while
// the process runs, a starved watch, jitter and a late start skip nothing.
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

// A made-up run of the watch thread and the device on one millisecond
// clock that wraps during the run: the watch wakes every `wakeEvery` ms, the
// device pulls AUDIO_DEVICE_FRAMES every 23 ms, and either can be held back.
class StallRun {
public:
    static constexpr std::uint32_t FRAMES = 700000;
    static constexpr std::uint32_t BASE = 0xFFFFFFFFu - 2000; // wraps 2 s in

    StallRun() : samples(numberedFrames(FRAMES)), ready(FRAMES), state{samples.data(), FRAMES, &ready, 0}, watch{BASE, 0} {}

    void wake(std::uint32_t t) { watch = watchWoke(watch, BASE + t); }

    void pullAt(std::uint32_t t)
    {
        catchUp(state, BASE + t, stalledMsAt(watch, BASE + t));
        const std::vector<int> got = pull(state, AUDIO_DEVICE_FRAMES);
        played.insert(played.end(), got.begin(), got.end());
    }

    // Both running from `from` to `to` (ms): wakings at from + wakeEvery,
    // from + 2 × wakeEvery, …; pulls at from, from + 23, …
    void run(std::uint32_t from, std::uint32_t to, bool watchRuns = true, bool deviceRuns = true,
             std::uint32_t wakeEvery = AUDIO_WATCH_MS)
    {
        std::uint32_t nextWake = from + wakeEvery;
        for (std::uint32_t t = from; t < to; ++t) {
            if (deviceRuns && (t - from) % 23 == 0) {
                pullAt(t);
            }
            if (watchRuns && t == nextWake) {
                wake(t);
                nextWake += wakeEvery;
            }
        }
    }

    // The jumps in the played frames: each pair is the frame before the jump
    // and the frame after it. Fails on silence, a repeat or a jump back.
    std::vector<std::pair<int, int>> jumps() const
    {
        std::vector<std::pair<int, int>> found;
        for (std::size_t i = 1; i < played.size(); ++i) {
            EXPECT_GT(played[i], played[i - 1]) << "output frame " << i;
            if (played[i] != played[i - 1] + 1) {
                found.emplace_back(played[i - 1], played[i]);
            }
        }
        return found;
    }

    std::vector<float> samples;
    std::atomic<std::uint32_t> ready;
    AudioPull state;
    ProcessWatch watch;
    std::vector<int> played;
};

TEST(CatchUp, AStallOfTheProcessSkipsTheFramesThatFellDueInIt)
{
    for (const bool watchFirst : {false, true}) {
        SCOPED_TRACE(watchFirst ? "the watch wakes first after the stall" : "the device pulls first after it");
        StallRun r;
        // 2 s of playback, 3 s in which nothing of the process runs, 2 s more.
        r.run(0, 2000);
        const int before = r.played.back();
        if (watchFirst) {
            r.wake(5000);
        }
        r.run(5000, 7000);
        const auto jumps = r.jumps();
        ASSERT_EQ(jumps.size(), 1u);
        EXPECT_EQ(jumps[0].first, before);
        // The song goes on at the frame that is due by the clock: what was
        // played, and 3 s (the last pull came 2 ms before the stall),
        // within one device buffer.
        EXPECT_NEAR(jumps[0].second - before, 3002 * 44.1, AUDIO_DEVICE_FRAMES);
        EXPECT_EQ(r.state.skipped, static_cast<std::uint32_t>(jumps[0].second - before - 1));
    }

    // A stall long enough to run past the end of the buffer ends in silence
    // there: 27 hours, more frames than a 32-bit position holds, never wrap
    // round into the buffer.
    StallRun r;
    r.run(0, 100);
    r.wake(97'400'000);
    r.pullAt(97'400'001);
    EXPECT_EQ(r.state.position, StallRun::FRAMES);
    EXPECT_EQ(r.played.back(), 0);
}

TEST(CatchUp, WhileTheProcessRunsNothingIsSkipped)
{
    StallRun r;
    // A late start: the device's first pull 5 s after the watch began.
    r.run(5000, 6000);
    // The device asks 3 s late while the watch wakes on time, and then while
    // every waking comes 2 ms late (which adds up to 0.5 s over 3 s).
    r.run(6000, 9000, true, false);
    r.run(9000, 10000);
    r.run(10000, 13000, true, false, AUDIO_WATCH_MS + 2);
    // The watch starved for 1 s while the device pulls on time, then the
    // device 60 ms late.
    r.run(13000, 14000, false, true);
    r.run(14060, 15000);
    // Both held back for less than AUDIO_STALL_MS.
    r.run(15090, 16000);
    EXPECT_TRUE(r.jumps().empty());
    EXPECT_EQ(r.state.skipped, 0u);
    EXPECT_EQ(r.played.front(), 1);
}

} // namespace
