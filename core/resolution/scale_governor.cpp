// The choice of the internal resolution from frame times.
#include "scale_governor.h"

#include <algorithm>
#include <cmath>

namespace {

double pixels(int step)
{
    const SampleGrid& grid = SCENE_SCALES[step].grid;
    return static_cast<double>(grid.width) * grid.height;
}

// The finest scale whose frame is expected to take less than `limit`
// seconds at `perPixel` seconds a pixel; the coarsest where none is.
int finestUnder(double perPixel, double limit)
{
    for (int step = 0; step < SCENE_SCALE_COUNT - 1; ++step) {
        if (perPixel * pixels(step) < limit) {
            return step;
        }
    }
    return SCENE_SCALE_COUNT - 1;
}

} // namespace

int ScaleGovernor::predictStep(double seconds, double pixels)
{
    // NaN, infinities and counts of no pixels fail these tests too.
    if (!(seconds >= 0.0 && seconds < HUGE_VAL && pixels >= 1.0 && pixels < HUGE_VAL)) {
        return SCENE_SCALE_COUNT - 1;
    }
    return finestUnder(seconds / pixels, ROOM * FRAME_BUDGET_SECONDS);
}

ScaleGovernor ScaleGovernor::afterProbe(double seconds, double probePixels)
{
    const int step = predictStep(seconds, probePixels);
    ScaleGovernor governor(step, true);
    governor.predicted_ = pixels(step) > probePixels;
    return governor;
}

void ScaleGovernor::change(int step, double now)
{
    if (step == step_) {
        return;
    }
    if (step < step_) {
        steppedFiner_ = true;
        steppedFinerAt_ = now;
    } else {
        // Leaving a finer scale soon after the move to it: it was a mistake;
        // it and the finer ones wait, longer each time.
        if (steppedFiner_ && now - steppedFinerAt_ < retryWait_) {
            failedStep_ = step_;
            finerAllowedAt_ = now + retryWait_;
            retryWait_ = std::min(retryWait_ * 2, LONGEST_RETRY_WAIT_SECONDS);
        }
        steppedFiner_ = false;
    }
    step_ = step;
    count_ = 0;
    coveredSeconds_ = 0.0;
}

void ScaleGovernor::judge(double now)
{
    double sum = 0.0;
    double recentSum = 0.0;
    std::size_t recentCount = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const Frame& frame = frames_[(first_ + i) % MAX_FRAMES];
        sum += frame.seconds;
        if (frame.end >= now - RECENT_SECONDS || i + 1 == count_) {
            recentSum += frame.seconds;
            ++recentCount;
        }
    }
    const double mean = sum / static_cast<double>(count_);
    const double perPixel = std::max(mean, recentSum / static_cast<double>(recentCount)) / pixels(step_);
    if (mean > FRAME_BUDGET_SECONDS) {
        // Too slow: the finest scale expected under the budget, at least
        // one coarser.
        if (step_ + 1 < SCENE_SCALE_COUNT) {
            change(std::max(finestUnder(perPixel, FRAME_BUDGET_SECONDS), step_ + 1), now);
        }
        return;
    }
    const int finest = now < finerAllowedAt_ ? failedStep_ + 1 : 0;
    const int fitting = std::max(finestUnder(perPixel, ROOM * FRAME_BUDGET_SECONDS), finest);
    if (fitting < step_) {
        change(fitting, now);
    }
}

void ScaleGovernor::judgeDensity(double seconds)
{
    // The first frame may carry the driver's late work on the program.
    if (densityJudged_ || framesSeen_ == 1) {
        return;
    }
    denseSeconds_ += seconds;
    ++denseFrames_;
    if (denseSeconds_ >= JUDGED_SECONDS) {
        densityJudged_ = true;
        hintDue_ = denseSeconds_ / denseFrames_ > FRAME_BUDGET_SECONDS;
    }
}

int ScaleGovernor::frameDone(double now, double seconds)
{
    if (framesSeen_ < 2) {
        ++framesSeen_;
        firstFramesSlow_ = firstFramesSlow_ && seconds > SLOW_START_SECONDS;
        hintDue_ = framesSeen_ == 2 && firstFramesSlow_ && step_ == 0 && !adaptive_ && !dense_;
    }
    if (dense_) {
        judgeDensity(seconds);
    }
    if (!adaptive_) {
        return step_;
    }
    if (predicted_) {
        predicted_ = false;
        steppedFiner_ = true;
        steppedFinerAt_ = now - seconds;
    }
    if (probing_) {
        probing_ = false;
        change(predictStep(seconds, pixels(step_)), now);
        return step_;
    }
    if (count_ == MAX_FRAMES) {
        first_ = (first_ + 1) % MAX_FRAMES;
        --count_;
    }
    frames_[(first_ + count_++) % MAX_FRAMES] = {now, seconds};
    coveredSeconds_ += seconds;
    // Keep the frames that ended within the last second, and always the latest.
    while (count_ > 1 && frames_[first_].end < now - JUDGED_SECONDS) {
        first_ = (first_ + 1) % MAX_FRAMES;
        --count_;
    }
    // Judge only once the frames at this scale span a second.
    if (coveredSeconds_ >= JUDGED_SECONDS) {
        judge(now);
    }
    return step_;
}

bool ScaleGovernor::takeSlowStartHint()
{
    const bool due = hintDue_;
    hintDue_ = false;
    return due;
}
