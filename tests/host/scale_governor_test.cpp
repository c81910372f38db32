// The internal resolution chosen from frame times, and the hints on slow
// frames: a simulated renderer whose frame time is proportional to the
// pixels drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "letterbox.h"
#include "scale_governor.h"
#include "scaled_source.h"

namespace {

double pixelShare(int step)
{
    const SampleGrid& grid = SCENE_SCALES[step].grid;
    return static_cast<double>(grid.width) * grid.height / (FRAME_WIDTH * FRAME_HEIGHT);
}

int step(const char* name)
{
    return *parseSceneScale(name);
}

// Runs frames for `seconds` of simulated time on a renderer that takes
// `fullFrameSeconds` for a frame at full resolution and proportionally less
// for fewer pixels; returns the step after each frame.
struct Simulation {
    ScaleGovernor governor;
    double now = 0.0;
    std::vector<int> steps;

    void run(double seconds, double fullFrameSeconds)
    {
        const double until = now + seconds;
        while (now < until) {
            const double frame = fullFrameSeconds * pixelShare(governor.step());
            now += frame;
            steps.push_back(governor.frameDone(now, frame));
        }
    }
};

TEST(ScaleGovernor, ASoftwareRendererStepsOneScaleAtATimeToTheCoarsest)
{
    Simulation s{ScaleGovernor(0, true), 0.0, {}};
    s.run(60.0, 10.0); // llvmpipe: about 10 s for a full frame
    std::vector<int> visited{0};
    for (int at : s.steps) {
        if (at != visited.back()) {
            visited.push_back(at);
        }
    }
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    // A second at each: one frame at 1 to 3 (1.1 s at 3), two at 4 (0.625 s each).
    EXPECT_EQ((std::vector<int>(s.steps.begin(), s.steps.begin() + 7)),
              (std::vector<int>{step("864p"), step("720p"), step("2"), step("3"), step("4"), step("4"), step("6")}));
}

TEST(ScaleGovernor, AFastGpuStaysAtFullResolution)
{
    Simulation s{ScaleGovernor(0, true), 0.0, {}};
    s.run(10.0, 0.010);
    for (int at : s.steps) {
        ASSERT_EQ(at, 0);
    }
}

TEST(ScaleGovernor, ItJudgesOnlyAfterASecondAtTheScale)
{
    ScaleGovernor governor(0, true);
    double now = 0.0;
    // 40 ms frames: too slow, but not for a whole second yet.
    for (int i = 0; i < 24; ++i) {
        now += 0.040;
        EXPECT_EQ(governor.frameDone(now, 0.040), 0) << "frame " << i;
    }
    now += 0.040;
    EXPECT_EQ(governor.frameDone(now, 0.040), step("864p"));
}

TEST(ScaleGovernor, ItStepsBackWhenThereIsRoomAndNotWhenThereIsNot)
{
    // 60 ms at full resolution: 720p (27 ms) is the finest that fits, not
    // 960x540; 864p would take 38 ms.
    Simulation tight{ScaleGovernor(0, true), 0.0, {}};
    tight.run(30.0, 0.060);
    EXPECT_EQ(tight.steps.back(), step("720p"));
    const auto first = std::find(tight.steps.begin(), tight.steps.end(), step("720p"));
    ASSERT_NE(first, tight.steps.end());
    EXPECT_TRUE(std::all_of(first, tight.steps.end(), [](int at) { return at == step("720p"); }))
        << "after the step to 720p it stays there";

    // A heavy scene, then a light one: back to full resolution.
    Simulation lighter{ScaleGovernor(0, true), 0.0, {}};
    lighter.run(10.0, 0.200);
    EXPECT_GT(lighter.governor.step(), step("2"));
    lighter.run(20.0, 0.015);
    EXPECT_EQ(lighter.governor.step(), 0);
}

TEST(ScaleGovernor, AFinerScaleThatFailsIsRetriedAfterLongerAndLongerWaits)
{
    // The estimate from 864p says 8 ms at 1 (room), but full resolution
    // really takes 40 ms: each try lasts a second, and the waits between
    // tries double.
    ScaleGovernor governor(step("864p"), true);
    double now = 0.0;
    std::vector<double> tries;
    while (now < 120.0) {
        const double frame = governor.step() == 0 ? 0.040 : 0.005;
        now += frame;
        const int before = governor.step();
        if (governor.frameDone(now, frame) == 0 && before == step("864p")) {
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
    auto hint = [](int at, bool adaptive, double first, double second) {
        ScaleGovernor governor(at, adaptive);
        governor.frameDone(first, first);
        const bool early = governor.takeSlowStartHint();
        governor.frameDone(first + second, second);
        const bool due = governor.takeSlowStartHint();
        const bool again = governor.takeSlowStartHint();
        governor.frameDone(first + second + 1.0, 1.0);
        EXPECT_FALSE(early);
        EXPECT_FALSE(again);
        EXPECT_FALSE(governor.takeSlowStartHint());
        EXPECT_FALSE(governor.wantsFrameTimes() && !adaptive) << "no more times needed";
        return due;
    };
    EXPECT_TRUE(hint(0, false, 9.0, 8.0));
    EXPECT_TRUE(hint(0, false, 0.101, 0.101));
    EXPECT_FALSE(hint(0, false, 0.100, 0.5));      // not longer than 100 ms
    EXPECT_FALSE(hint(0, false, 2.0, 0.016));      // only the first was slow
    EXPECT_FALSE(hint(0, true, 9.0, 8.0));         // auto already adapts
    EXPECT_FALSE(hint(step("4"), false, 9.0, 8.0)); // a chosen coarser scale
}

TEST(ScaleGovernor, AFixedDensityIsHintedWhenTheGpuCannotKeepUpAndIsNeverLeft)
{
    // Frames after the first until they span a second, against the budget;
    // the first (which may carry the program's late build) does not count.
    auto run = [](double first, double each, int frames, bool& hinted) {
        ScaleGovernor governor(0, true, true);
        double now = first;
        hinted = false;
        governor.frameDone(now, first);
        hinted = governor.takeSlowStartHint();
        int judgedAfter = 0;
        for (int i = 0; i < frames; ++i) {
            now += each;
            EXPECT_EQ(governor.frameDone(now, each), 0) << "a density never changes";
            if (governor.takeSlowStartHint()) {
                EXPECT_FALSE(hinted) << "once";
                hinted = true;
                judgedAfter = i + 1;
            }
        }
        EXPECT_FALSE(governor.wantsFrameTimes());
        return judgedAfter;
    };
    bool hinted = false;
    // 50 ms frames (20 a second): said after the 20 that fill a second.
    EXPECT_EQ(run(0.05, 0.050, 100, hinted), 20);
    EXPECT_TRUE(hinted);
    // 20 ms frames keep up, after a first frame of 3 s.
    run(3.0, 0.020, 200, hinted);
    EXPECT_FALSE(hinted);
    // One slow frame of 2 s after the first is enough to say so.
    EXPECT_EQ(run(0.02, 2.0, 3, hinted), 1);
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
