// A long sweep of random songs (label `slow`): the fast loop against the
// reference loop on 2,000 songs beyond those of the default run (100 in the
// sanitizer build; FAST_SWEEP_SONGS for another number).
#include <gtest/gtest.h>

#include <cstdlib>

#include "fast_compare.h"

namespace {

constexpr std::uint32_t SWEEP_SONGS = sweepSongs(2000, 100);

TEST(FastLoopSweep, MatchesReferenceOnThousandsOfRandomSongs) {
    // FAST_SWEEP_SONGS sets the number of songs.
    const char* env = std::getenv("FAST_SWEEP_SONGS");
    const std::uint32_t count = env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : SWEEP_SONGS;
    const SweepResult r = sweepRandomSongs(100001, count);
    ASSERT_EQ(r.songs, count);
    reportSweep(r);
}

}  // namespace
