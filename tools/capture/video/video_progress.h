#pragma once

// The progress line of a video capture: frames done, frames per second and the
// time left. On a terminal one line redrawn in place; otherwise (a log, a
// test) a plain line now and then.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace video {

// The text of the line: "[#####.....]  123/11100 frames  0.42 fps  7h12m left".
// `seconds` is the time since the first frame was started.
std::string progressText(std::uint32_t done, std::uint32_t total, double seconds, int barWidth);

// "1h02m", "3m05s", "12s"; "--" when not known.
std::string durationText(double seconds);

class ProgressBar {
public:
    using Clock = std::chrono::steady_clock;

    // Writes to `out`; redraws in place when `out` is a terminal.
    ProgressBar(std::uint32_t total, std::FILE* out);
    // One more frame is done.
    void frameDone();
    // Ends the line (after the last frame or a failure).
    void close();

    std::uint32_t done() const { return done_; }

private:
    void show(bool force);

    std::uint32_t total_;
    std::uint32_t done_ = 0;
    std::FILE* out_;
    bool terminal_;
    bool open_ = false;
    Clock::time_point start_;
    Clock::time_point lastShown_;
};

}  // namespace video
