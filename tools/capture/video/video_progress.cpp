#include "video_progress.h"

#include <cmath>
#include <unistd.h>

namespace video {

std::string durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0.0)
        return "--";
    long total = std::lround(seconds);
    long hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%ldh%02ldm", hours, minutes);
    else if (minutes > 0)
        std::snprintf(text, sizeof text, "%ldm%02lds", minutes, secs);
    else
        std::snprintf(text, sizeof text, "%lds", secs);
    return text;
}

std::string progressText(std::uint32_t done, std::uint32_t total, double seconds, int barWidth)
{
    std::string bar(static_cast<std::size_t>(barWidth), '.');
    if (total > 0) {
        auto filled = static_cast<std::size_t>(static_cast<double>(done) / total * barWidth);
        bar.replace(0, filled, filled, '#');
    }
    double fps = done > 0 && seconds > 0.0 ? done / seconds : 0.0;
    double left = fps > 0.0 ? (total - done) / fps : -1.0;
    if (done == total)
        left = 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "[%s] %u/%u frames  %.*f fps  %s left", bar.c_str(), done, total,
                  fps < 10.0 ? 2 : 1, fps, durationText(left).c_str());
    return text;
}

ProgressBar::ProgressBar(std::uint32_t total, std::FILE* out)
    : total_(total), out_(out), terminal_(::isatty(::fileno(out)) != 0), start_(Clock::now()), lastShown_(start_)
{
    show(true);
}

void ProgressBar::frameDone()
{
    ++done_;
    show(done_ == total_);
}

void ProgressBar::close()
{
    if (open_ && terminal_)
        std::fputc('\n', out_);
    open_ = false;
    std::fflush(out_);
}

void ProgressBar::show(bool force)
{
    Clock::time_point now = Clock::now();
    // A terminal gets at most ten redraws a second, a log one line every ten
    // seconds (and the first and last).
    auto every = terminal_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(10000);
    if (!force && now - lastShown_ < every)
        return;
    lastShown_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    std::string text = progressText(done_, total_, seconds, 30);
    if (terminal_)
        std::fprintf(out_, "\r%s\033[K", text.c_str());
    else
        std::fprintf(out_, "%s\n", text.c_str());
    open_ = true;
    std::fflush(out_);
}

}  // namespace video
