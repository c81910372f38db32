// The internal resolution chosen from frame times, and the hint on slow
// first frames: a simulated renderer whose frame time is proportional to
// the pixels drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "letterbox.h"
#include "scale_governor.h"

namespace {

// Runs frames for `seconds` of simulated time on a renderer that takes
// `fullFrameSeconds` for a frame at scale 1; returns the scale after each
// frame.
struct Simulation {
    ScaleGovernor governor;
    double now = 0.0;
    std::vector<int> scales;

    void run(double seconds, double fullFrameSeconds)
    {
        const double until = now + seconds;
        while (now < until) {
            const int scale = governor.scale();
            const double frame = fullFrameSeconds / (scale * scale);
            now += frame;
            scales.push_back(governor.frameDone(now, frame));
        }
    }
};

TEST(ScaleGovernor, ASoftwareRendererStepsOneScaleAtATimeToTheCoarsest)
{
    Simulation s{ScaleGovernor(1, true), 0.0, {}};
    s.run(60.0, 10.0); // llvmpipe: about 10 s for a full frame
    std::vector<int> visited{1};
    for (int scale : s.scales) {
        if (scale != visited.back()) {
            visited.push_back(scale);
        }
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 6}));
    // A second at each: one frame at 1, 2 and 3, two at 4 (0.625 s each).
    EXPECT_EQ((std::vector<int>(s.scales.begin(), s.scales.begin() + 5)), (std::vector<int>{2, 3, 4, 4, 6}));
}

TEST(ScaleGovernor, AFastGpuStaysAtFullResolution)
{
    Simulation s{ScaleGovernor(1, true), 0.0, {}};
    s.run(10.0, 0.010);
    for (int scale : s.scales) {
        ASSERT_EQ(scale, 1);
    }
}

TEST(ScaleGovernor, ItJudgesOnlyAfterASecondAtTheScale)
{
    ScaleGovernor governor(1, true);
    double now = 0.0;
    // 40 ms frames: too slow, but not for a whole second yet.
    for (int i = 0; i < 24; ++i) {
        now += 0.040;
        EXPECT_EQ(governor.frameDone(now, 0.040), 1) << "frame " << i;
    }
    now += 0.040;
    EXPECT_EQ(governor.frameDone(now, 0.040), 2);
}

TEST(ScaleGovernor, ItStepsBackWhenThereIsRoomAndNotWhenThereIsNot)
{
    // 60 ms at full resolution: 2 is the finest that fits; 15 ms at 2 would
    // be 60 ms at 1, no room.
    Simulation tight{ScaleGovernor(1, true), 0.0, {}};
    tight.run(30.0, 0.060);
    EXPECT_EQ(tight.scales.back(), 2);
    const auto first = std::find(tight.scales.begin(), tight.scales.end(), 2);
    ASSERT_NE(first, tight.scales.end());
    EXPECT_TRUE(std::all_of(first, tight.scales.end(), [](int scale) { return scale == 2; }))
        << "after the step to 2 it stays there";

    // A heavy scene, then a light one: back to full resolution.
    Simulation lighter{ScaleGovernor(1, true), 0.0, {}};
    lighter.run(10.0, 0.200);
    EXPECT_GT(lighter.governor.scale(), 2);
    lighter.run(20.0, 0.015);
    EXPECT_EQ(lighter.governor.scale(), 1);
}

TEST(ScaleGovernor, AFinerScaleThatFailsIsRetriedAfterLongerAndLongerWaits)
{
    // The estimate says 20 ms at 1 (room), but full resolution really takes
    // 40 ms: each try lasts a second, and the waits between tries double.
    ScaleGovernor governor(2, true);
    double now = 0.0;
    std::vector<double> tries;
    while (now < 120.0) {
        const bool full = governor.scale() == 1;
        const double frame = full ? 0.040 : 0.005;
        now += frame;
        const int before = governor.scale();
        if (governor.frameDone(now, frame) == 1 && before == 2) {
            tries.push_back(now);
        }
    }
    ASSERT_GE(tries.size(), 4u);
    ASSERT_LE(tries.size(), 7u) << "it flickers between two scales";
    for (std::size_t i = 2; i < tries.size(); ++i) {
        EXPECT_GT(tries[i] - tries[i - 1], 1.8 * (tries[i - 1] - tries[i - 2]) - 2.5) << "try " << i;
    }
}

TEST(ScaleGovernor, TheHintIsForSlowFirstFramesAtAFixedFullResolutionOnly)
{
    auto hint = [](int scale, bool adaptive, double first, double second) {
        ScaleGovernor governor(scale, adaptive);
        governor.frameDone(first, first);
        const bool early = governor.takeSlowStartHint();
        governor.frameDone(first + second, second);
        const bool due = governor.takeSlowStartHint();
        const bool again = governor.takeSlowStartHint();
        governor.frameDone(first + second + 1.0, 1.0);
        EXPECT_FALSE(early);
        EXPECT_FALSE(again);
        EXPECT_FALSE(governor.takeSlowStartHint());
        return due;
    };
    EXPECT_TRUE(hint(1, false, 9.0, 8.0));
    EXPECT_TRUE(hint(1, false, 0.101, 0.101));
    EXPECT_FALSE(hint(1, false, 0.100, 0.5));   // not longer than 100 ms
    EXPECT_FALSE(hint(1, false, 2.0, 0.016));   // only the first was slow
    EXPECT_FALSE(hint(1, true, 9.0, 8.0));      // auto already adapts
    EXPECT_FALSE(hint(4, false, 9.0, 8.0));     // a chosen coarser scale
}

TEST(Letterbox, TheFrameFitsWithItsShapeKeptAndCentred)
{
    auto expect = [](int w, int h, ScreenRect want) {
        const ScreenRect got = letterbox(w, h, 1920, 1080);
        EXPECT_EQ(got.x, want.x) << w << "x" << h;
        EXPECT_EQ(got.y, want.y) << w << "x" << h;
        EXPECT_EQ(got.width, want.width) << w << "x" << h;
        EXPECT_EQ(got.height, want.height) << w << "x" << h;
    };
    expect(1920, 1080, {0, 0, 1920, 1080});    // every pixel the frame's
    expect(1920, 1440, {0, 180, 1920, 1080});  // 4:3: 180 rows above and below
    expect(1920, 1200, {0, 60, 1920, 1080});   // 16:10
    expect(2560, 1080, {320, 0, 1920, 1080});  // ultrawide: bars at the sides
    expect(3840, 2160, {0, 0, 3840, 2160});    // 4K: twice the size
    expect(1280, 720, {0, 0, 1280, 720});
    expect(1366, 768, {0, 0, 1365, 768});      // rounded, never larger
    expect(640, 480, {0, 60, 640, 360});
    expect(1, 1000, {0, 499, 1, 1});
    expect(0, 720, {0, 0, 0, 0});              // a minimised window
}

} // namespace
