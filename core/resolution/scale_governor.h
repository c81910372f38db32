#pragma once

// What the frame times say about the internal resolution. `--scale auto`
// draws its first frame at the coarsest scale (SCENE_SCALES, finest first),
// the probe, and from its time and pixel count predicts the finest scale
// whose frames take less than ROOM of the 1/30 s budget (predictStep): the
// second frame is drawn there. From then on it judges the frames of the last
// second at the scale: while they take longer than the budget on average it
// moves to the finest scale expected under the budget, and when a finer
// scale is expected under ROOM of it, to the finest such scale: in either
// direction at once, as far as the estimate says. The estimate is the time
// per pixel of the frames at the scale, the larger of its mean over the
// judged second and over its latest half, so that a machine that slows down
// is followed within the second. A finer scale that had to be left again
// soon after the move to it is tried again only after a wait that doubles
// each time, so the picture does not flicker between two scales. It never
// goes beyond the full frame: a sample density is only ever chosen by the
// user. Also decides the one hint for a fixed full resolution whose first
// frames are slow, and for a fixed density that the GPU cannot keep up with.
// Pure arithmetic on times in seconds; the platform measures them.

#include <array>
#include <cstddef>

#include "scene_scales.h"

class ScaleGovernor {
public:
    // `step`: the scale of the first frame (an index into SCENE_SCALES);
    // `adaptive`: whether it may change, judged after a second at the scale;
    // `dense`: the frames are drawn at a fixed sample density instead (more
    // samples than frame pixels).
    constexpr ScaleGovernor(int step, bool adaptive, bool dense = false)
        : step_(step), adaptive_(adaptive && !dense), dense_(dense)
    {
    }

    // `--scale auto`: the first frame, the probe, at `step` (PROBE_STEP
    // unless the program that draws it is built for another), the second at
    // the scale that the probe's time predicts.
    static constexpr ScaleGovernor probing(int step = PROBE_STEP)
    {
        ScaleGovernor governor(step, true);
        governor.probing_ = true;
        return governor;
    }

    // The probe was drawn before the frame loop (the page's still of the
    // start view: `pixels` pixels that took `seconds`): the first frame at the
    // predicted scale, which is left at once, and for a while, where the
    // frames there show that it was too fine.
    static ScaleGovernor afterProbe(double seconds, double pixels);

    // The finest scale whose frame is expected to take less than ROOM of
    // the budget on a renderer that drew `pixels` pixels in `seconds`; the
    // coarsest where none is, or where the numbers are not a time and a
    // pixel count.
    static int predictStep(double seconds, double pixels);

    // One frame took `seconds` and ended at `now` (seconds on any steady
    // clock). Returns the step for the next frame.
    int frameDone(double now, double seconds);

    int step() const { return step_; }

    // True once: at a fixed full resolution, after the first two frames when
    // both took longer than SLOW_START_SECONDS; at a fixed density, once the
    // frames after the first span JUDGED_SECONDS and took longer than
    // FRAME_BUDGET_SECONDS on average (where `--scale auto` would step down).
    bool takeSlowStartHint();

    // Whether the frame times still matter: while adaptive, and until the
    // hint is decided.
    bool wantsFrameTimes() const { return adaptive_ || framesSeen_ < 2 || (dense_ && !densityJudged_); }

    static constexpr double FRAME_BUDGET_SECONDS = 1.0 / 30.0;
    static constexpr double JUDGED_SECONDS = 1.0;
    // The latest part of the judged second whose frames also speak for the
    // time per pixel on their own.
    static constexpr double RECENT_SECONDS = 0.5;
    // A finer scale is chosen when its estimated frame time is below this
    // share of the budget.
    static constexpr double ROOM = 0.7;
    static constexpr double SLOW_START_SECONDS = 0.1;
    // The first and the longest wait before a finer scale is tried again.
    static constexpr double FIRST_RETRY_WAIT_SECONDS = 4.0;
    static constexpr double LONGEST_RETRY_WAIT_SECONDS = 128.0;
    // The scale of the probe: the coarsest, the quickest to draw.
    static constexpr int PROBE_STEP = SCENE_SCALE_COUNT - 1;

private:
    struct Frame {
        double end;
        double seconds;
    };
    void change(int step, double now);
    void judge(double now);
    void judgeDensity(double seconds);

    int step_;
    bool adaptive_;
    bool dense_;
    // The first frame is the probe: judged on its own, at once.
    bool probing_ = false;
    // The first frame is at a scale predicted from a probe before it: the
    // move to it counts as a move to a finer scale, made as it began.
    bool predicted_ = false;
    // The frames since the latest change that ended within the last second,
    // oldest first, in a ring (fixed in size: at more than MAX_FRAMES frames
    // a second the oldest go first, and the verdict is the same).
    static constexpr std::size_t MAX_FRAMES = 1024;
    std::array<Frame, MAX_FRAMES> frames_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    double coveredSeconds_ = 0.0;
    // A move to a finer scale: when it happened; after one that had to be
    // left soon, the scale that failed, until when it and the finer ones
    // stay out, and the wait after the next such failure.
    bool steppedFiner_ = false;
    double steppedFinerAt_ = 0.0;
    int failedStep_ = 0;
    double finerAllowedAt_ = 0.0;
    double retryWait_ = FIRST_RETRY_WAIT_SECONDS;
    // The first two frames, for the hint; at a density, the time and the
    // count of the frames after the first until they span a second.
    int framesSeen_ = 0;
    bool firstFramesSlow_ = true;
    bool hintDue_ = false;
    bool densityJudged_ = false;
    double denseSeconds_ = 0.0;
    int denseFrames_ = 0;
};
