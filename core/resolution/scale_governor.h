#pragma once

// What the frame times say about the internal resolution: `--scale auto`
// steps to the next coarser scale (SCENE_SCALES, finest first) while frames
// take longer than 1/30 s, judged over the last second, and back to a finer
// one when the frame time there, estimated from the pixel count, leaves
// room. A scale that had to be left again soon after a step back is tried
// again only after a wait that doubles each time, so the picture does not
// flicker between two scales. It never goes beyond the full frame: a sample
// density is only ever chosen by the user. Also decides the one hint for a
// fixed full resolution whose first frames are slow, and for a fixed density
// that the GPU cannot keep up with. Pure arithmetic on times in seconds; the
// platform measures them.

#include <array>
#include <cstddef>

class ScaleGovernor {
public:
    // `step`: the scale of the first frame (an index into SCENE_SCALES);
    // `adaptive`: whether it may change; `dense`: the frames are drawn at a
    // fixed sample density instead (more samples than frame pixels).
    constexpr ScaleGovernor(int step, bool adaptive, bool dense = false)
        : step_(step), adaptive_(adaptive && !dense), dense_(dense)
    {
    }

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
    // A finer scale is tried when its estimated frame time is below this
    // share of the budget.
    static constexpr double ROOM = 0.7;
    static constexpr double SLOW_START_SECONDS = 0.1;
    // The first and the longest wait before a finer scale is tried again.
    static constexpr double FIRST_RETRY_WAIT_SECONDS = 4.0;
    static constexpr double LONGEST_RETRY_WAIT_SECONDS = 128.0;

private:
    struct Frame {
        double end;
        double seconds;
    };
    void change(int step, double now);
    void judgeDensity(double seconds);

    int step_;
    bool adaptive_;
    bool dense_;
    // The frames since the latest change that ended within the last second,
    // oldest first, in a ring (fixed in size: at more than MAX_FRAMES frames
    // a second the oldest go first, and the verdict is the same).
    static constexpr std::size_t MAX_FRAMES = 1024;
    std::array<Frame, MAX_FRAMES> frames_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    double coveredSeconds_ = 0.0;
    // A step to a finer scale: when it happened, and the wait before the
    // next try after one that failed.
    bool steppedFiner_ = false;
    double steppedFinerAt_ = 0.0;
    double retryWait_ = FIRST_RETRY_WAIT_SECONDS;
    double finerAllowedAt_ = 0.0;
    // The first two frames, for the hint; at a density, the time and the
    // count of the frames after the first until they span a second.
    int framesSeen_ = 0;
    bool firstFramesSlow_ = true;
    bool hintDue_ = false;
    bool densityJudged_ = false;
    double denseSeconds_ = 0.0;
    int denseFrames_ = 0;
};
