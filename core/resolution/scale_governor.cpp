// The choice of the internal resolution from frame times.
#include "scale_governor.h"

#include <algorithm>

#include "scaled_source.h"

namespace {

double pixels(int step)
{
    const SampleGrid& grid = SCENE_SCALES[step].grid;
    return static_cast<double>(grid.width) * grid.height;
}

} // namespace

void ScaleGovernor::change(int step, double now)
{
    if (step < step_) {
        steppedFiner_ = true;
        steppedFinerAt_ = now;
    } else {
        // Leaving a finer scale soon after stepping to it: it was a mistake;
        // wait longer before the next try.
        if (steppedFiner_ && now - steppedFinerAt_ < retryWait_) {
            finerAllowedAt_ = now + retryWait_;
            retryWait_ = std::min(retryWait_ * 2, LONGEST_RETRY_WAIT_SECONDS);
        }
        steppedFiner_ = false;
    }
    step_ = step;
    count_ = 0;
    coveredSeconds_ = 0.0;
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
    if (coveredSeconds_ < JUDGED_SECONDS) {
        return step_;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < count_; ++i) {
        sum += frames_[(first_ + i) % MAX_FRAMES].seconds;
    }
    const double mean = sum / static_cast<double>(count_);
    if (mean > FRAME_BUDGET_SECONDS) {
        if (step_ + 1 < SCENE_SCALE_COUNT) {
            change(step_ + 1, now);
        }
    } else if (step_ > 0 && now >= finerAllowedAt_) {
        const double estimate = mean * pixels(step_ - 1) / pixels(step_);
        if (estimate < ROOM * FRAME_BUDGET_SECONDS) {
            change(step_ - 1, now);
        }
    }
    return step_;
}

bool ScaleGovernor::takeSlowStartHint()
{
    const bool due = hintDue_;
    hintDue_ = false;
    return due;
}
