// The choice of the internal resolution from frame times.
#include "scale_governor.h"

#include <algorithm>
#include <iterator>

#include "scaled_source.h"

int ScaleGovernor::coarser() const
{
    const int* at = std::find(std::begin(SCENE_SCALES), std::end(SCENE_SCALES), scale_);
    return at + 1 < std::end(SCENE_SCALES) ? at[1] : scale_;
}

int ScaleGovernor::finer() const
{
    const int* at = std::find(std::begin(SCENE_SCALES), std::end(SCENE_SCALES), scale_);
    return at > std::begin(SCENE_SCALES) ? at[-1] : scale_;
}

void ScaleGovernor::change(int scale, double now)
{
    if (scale < scale_) {
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
    scale_ = scale;
    count_ = 0;
    coveredSeconds_ = 0.0;
}

int ScaleGovernor::frameDone(double now, double seconds)
{
    if (framesSeen_ < 2) {
        ++framesSeen_;
        firstFramesSlow_ = firstFramesSlow_ && seconds > SLOW_START_SECONDS;
        hintDue_ = framesSeen_ == 2 && firstFramesSlow_ && scale_ == 1 && !adaptive_;
    }
    if (!adaptive_) {
        return scale_;
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
        return scale_;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < count_; ++i) {
        sum += frames_[(first_ + i) % MAX_FRAMES].seconds;
    }
    const double mean = sum / static_cast<double>(count_);
    if (mean > FRAME_BUDGET_SECONDS) {
        if (coarser() != scale_) {
            change(coarser(), now);
        }
    } else if (finer() != scale_ && now >= finerAllowedAt_) {
        const double ratio = static_cast<double>(finer()) / scale_;
        const double estimate = mean / (ratio * ratio);
        if (estimate < ROOM * FRAME_BUDGET_SECONDS) {
            change(finer(), now);
        }
    }
    return scale_;
}

bool ScaleGovernor::takeSlowStartHint()
{
    const bool due = hintDue_;
    hintDue_ = false;
    return due;
}
