// A long sweep of random songs (label `slow`): the fast loop against the
// reference loop on thousands of songs beyond those of the default run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fast_compare.h"

namespace {

TEST(FastLoopSweep, MatchesReferenceOnThousandsOfRandomSongs) {
    // FAST_SWEEP_SONGS sets the number of songs (default 5000).
    const char* env = std::getenv("FAST_SWEEP_SONGS");
    const std::uint32_t count = env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : 5000;
    const SweepResult r = sweepRandomSongs(100001, count);
    ASSERT_EQ(r.songs, count);
    reportSweep(r);
}

}  // namespace
