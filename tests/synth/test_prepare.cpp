// Preparing a state before its render thread starts (prepareSongFrames): a
// prepared state renders the reference loop's very frames and state, on the
// built-in song and on random songs; preparing a state that has rendered
// changes nothing; and a prepared state's first frames fault in almost no
// memory, while an unprepared one's fault in well over fifty pages.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdio>
#include <vector>

#include "fast_compare.h"

namespace {

TEST(PrepareSongFrames, APreparedStateRendersAsTheReference) {
    // The built-in song from a fresh state, prepared twice (the second time
    // does nothing).
    auto reference = makeSynthState();
    auto prepared = makeSynthState();
    prepareSongFrames(*prepared, 1024);
    prepareSongFrames(*prepared, 1024);
    const std::uint32_t frames = 60000;
    std::vector<StereoFrame> a(frames), b(frames);
    ASSERT_EQ(renderSongFramesReference(*reference, a.data(), frames), frames);
    ASSERT_EQ(renderSongFramesFast(*prepared, b.data(), 700), 700u);
    ASSERT_EQ(renderSongFramesFast(*prepared, b.data() + 700, frames - 700), frames - 700);
    EXPECT_TRUE(sameFrames(a.data(), b.data(), frames));
    EXPECT_TRUE(sameState(*reference, *prepared));
    // Random songs from reset states at song positions of their own, each
    // prepared for a number of frames of its own (some past the end of
    // short delay lines).
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        RandomSong random = randomSong(seed);
        const std::uint32_t start = (seed * 11 % 100) * 16 * SAMPLES_PER_TICK;
        compareRendersOn(*reference, *prepared, random.song.finish(), start, SAMPLES_PER_TICK + 500, seed, true,
                         nullptr, 1 + seed * 997 % 5000);
        if (HasFatalFailure()) return;
    }
}

TEST(PrepareSongFrames, LeavesAStateThatHasRenderedAsItIs) {
    auto a = makeSynthState();
    auto b = makeSynthState();
    std::vector<StereoFrame> x(10000), y(10000);
    renderSongFramesFast(*a, x.data(), 5000);
    renderSongFramesFast(*b, y.data(), 5000);
    prepareSongFrames(*b, 1024);
    EXPECT_TRUE(sameState(*a, *b));
    renderSongFramesFast(*a, x.data() + 5000, 5000);
    renderSongFramesFast(*b, y.data() + 5000, 5000);
    EXPECT_TRUE(sameFrames(x.data(), y.data(), 10000));
    EXPECT_TRUE(sameState(*a, *b));
}

long pageFaultsOfThisThread() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// The page faults that rendering the first 1,024 frames takes, from a state
// in fresh memory (mapped here: the heap would hand back pages that earlier
// tests touched), prepared or not.
long faultsOfTheFirstFrames(bool prepare) {
    void* memory = mmap(nullptr, sizeof(SynthState), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return -1;
    auto* state = static_cast<SynthState*>(memory);
    startZeroSynthState(*state);
    std::vector<StereoFrame> out(1024);
    if (prepare) prepareSongFrames(*state, 1024);
    const long before = pageFaultsOfThisThread();
    renderSongFramesFast(*state, out.data(), 1024);
    const long faults = pageFaultsOfThisThread() - before;
    munmap(memory, sizeof(SynthState));
    return faults;
}

TEST(PrepareSongFrames, TheFirstFramesThenFaultInAlmostNoMemory) {
    // Unprepared first, so that the render's code is mapped by then: what
    // the prepared render faults in is memory that preparing missed.
    const long unprepared = faultsOfTheFirstFrames(false);
    const long prepared = faultsOfTheFirstFrames(true);
    std::printf("page faults of the first 1,024 frames: %ld unprepared, %ld prepared\n", unprepared, prepared);
    EXPECT_GE(unprepared, 50);
    EXPECT_LE(prepared, 4) << "unprepared: " << unprepared;
}

}  // namespace
