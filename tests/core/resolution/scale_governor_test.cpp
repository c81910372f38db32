// The internal resolution chosen from frame times, and the hints on slow
// frames: a simulated renderer whose frame time is proportional to the
// pixels drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "letterbox.h"
#include "scale_governor.h"
#include "scene_scales.h"

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
            drawFrame(fullFrameSeconds);
        }
    }

    void drawFrame(double fullFrameSeconds)
    {
        const double frame = fullFrameSeconds * pixelShare(governor.step());
        now += frame;
        steps.push_back(governor.frameDone(now, frame));
    }
};

TEST(ScaleGovernor, TheProbeFrameSettlesTheScaleAtOnce)
{
    // The first frame at the coarsest scale predicts the second's: the
    // finest expected under 70% of 1/30 s (23.3 ms). From then on the scale
    // holds: a slow device and a fast one settle within two frames.
    struct Case {
        double fullFrameSeconds;
        const char* settled;
    };
    for (const Case c : {Case{34.0, "6"},     // SwiftShader: 941 ms for the probe
                         Case{10.0, "6"},     // llvmpipe
                         Case{0.200, "3"},    // 22 ms at 640x360
                         Case{0.060, "2"},    // 15 ms at 960x540; 720p's 27 ms is short of room
                         Case{0.030, "864p"}, // 19 ms
                         Case{0.005, "1"}}) {
        Simulation s{ScaleGovernor::probing(), 0.0, {}};
        s.run(30.0, c.fullFrameSeconds);
        ASSERT_GE(s.steps.size(), 2u);
        EXPECT_TRUE(std::all_of(s.steps.begin(), s.steps.end(), [&](int at) { return at == step(c.settled); }))
            << c.fullFrameSeconds << " s at the full frame: the second frame at " << SCENE_SCALES[s.steps[0]].name
            << ", the last at " << SCENE_SCALES[s.steps.back()].name << ", not only at " << c.settled;
    }
    // The page's probe is its still at 320x180, drawn before the governor
    // exists: the same prediction, and the first frame there.
    EXPECT_EQ(ScaleGovernor::afterProbe(0.941, 320 * 180).step(), step("6"));
    EXPECT_EQ(ScaleGovernor::afterProbe(0.005 / 36, 320 * 180).step(), step("1"));
    EXPECT_EQ(ScaleGovernor::predictStep(0.060 / 36, 320 * 180), step("2"));
    // No time, or no pixels, predicts nothing finer than the coarsest.
    for (double seconds : {-1.0, std::nan(""), HUGE_VAL}) {
        EXPECT_EQ(ScaleGovernor::predictStep(seconds, 320 * 180), step("6")) << seconds;
    }
    EXPECT_EQ(ScaleGovernor::predictStep(0.001, 0.0), step("6"));
}

TEST(ScaleGovernor, ItMovesToTheFittingScaleAtOnceInEitherDirection)
{
    // Started at the full frame on llvmpipe: after the judged second,
    // straight to the coarsest.
    Simulation slow{ScaleGovernor(0, true), 0.0, {}};
    slow.run(20.0, 10.0);
    EXPECT_EQ(slow.steps.front(), step("6"));
    EXPECT_TRUE(std::all_of(slow.steps.begin(), slow.steps.end(), [](int at) { return at == step("6"); }));

    // A probe that overestimated (the driver built the program in the first
    // frame: 50 ms for 320x180): a second at the coarsest, then straight to
    // the full frame.
    ScaleGovernor governor = ScaleGovernor::probing();
    double now = 0.050;
    ASSERT_EQ(governor.frameDone(now, 0.050), step("6"));
    int moves = 0;
    for (int previous = governor.step(); now < 3.0;) {
        const double frame = 0.005 * pixelShare(governor.step());
        now += frame;
        moves += governor.frameDone(now, frame) != previous;
        previous = governor.step();
    }
    EXPECT_EQ(governor.step(), 0);
    EXPECT_EQ(moves, 1);
}

TEST(ScaleGovernor, AMachineWhoseSpeedChangesIsFollowedWithinTheJudgedSecond)
{
    // Another program starts and the full frame goes from 10 ms to 60 ms
    // (720p, 27 ms, is then the finest under the budget) or to 500 ms; the
    // scale that fits is reached within the judged second (and the frame
    // that ends it), in one move. When the program ends, the first move
    // towards the full frame comes within the second too; the mean over the
    // second still holds some of the slow frames then, so the full frame
    // may take a second move. Then the scale holds.
    struct Case {
        double before;
        const char* then;
        double after;
        const char* followed;
        int seconds;
    };
    for (const Case c : {Case{0.010, "1", 0.060, "720p", 1}, Case{0.010, "1", 0.5, "4", 1},
                         Case{0.060, "720p", 0.010, "1", 2}, Case{0.5, "4", 0.010, "1", 2}}) {
        Simulation s{ScaleGovernor(0, true), 0.0, {}};
        s.run(10.0, c.before);
        ASSERT_EQ(s.governor.step(), step(c.then)) << c.before;
        const double changedAt = s.now;
        double firstMoveAt = -1.0;
        double followedAt = -1.0;
        int moves = 0;
        while (s.now < changedAt + 20.0) {
            const int before = s.governor.step();
            s.drawFrame(c.after);
            if (s.steps.back() != before) {
                ++moves;
                firstMoveAt = firstMoveAt < 0.0 ? s.now : firstMoveAt;
            }
            if (followedAt < 0.0 && s.steps.back() == step(c.followed)) {
                followedAt = s.now;
            }
            if (followedAt >= 0.0) {
                ASSERT_EQ(s.steps.back(), step(c.followed)) << "left again at " << s.now - changedAt << " s";
            }
        }
        ASSERT_GE(followedAt, 0.0) << c.before << " s, then " << c.after << " s at the full frame";
        const double frame = c.after * pixelShare(step(c.then));
        EXPECT_LE(firstMoveAt - changedAt, ScaleGovernor::JUDGED_SECONDS + frame) << c.before << " s, then " << c.after;
        EXPECT_LE(followedAt - changedAt, c.seconds * (ScaleGovernor::JUDGED_SECONDS + frame))
            << c.before << " s, then " << c.after << " s at the full frame";
        EXPECT_LE(moves, c.seconds);
    }
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
    // 40 ms: 864p would take 26 ms, 720p 18 ms; 864p is the finest under
    // the budget.
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
