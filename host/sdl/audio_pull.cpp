#include "audio_pull.h"

#include <algorithm>
#include <cstring>

#include "synth.h"

void pullFrames(AudioPull& pull, float* out, std::uint32_t count)
{
    const std::uint32_t ready =
        pull.framesReady ? pull.framesReady->load(std::memory_order_acquire) : 0;
    const std::uint32_t limit = std::min(ready, pull.frameCount);
    const std::uint32_t position = std::min(pull.position, pull.frameCount);
    const std::uint32_t copied = position < limit ? std::min(count, limit - position) : 0;
    if (copied) {
        std::memcpy(out, pull.samples + 2 * std::size_t{position}, std::size_t{copied} * 8);
    }
    std::memset(out + 2 * std::size_t{copied}, 0, std::size_t{count - copied} * 8);
    pull.position = position + std::min(count, pull.frameCount - position);
}

void catchUp(AudioPull& pull, std::uint32_t nowMs, std::uint32_t stalledMs)
{
    const bool first = !pull.pulled;
    const std::uint32_t sincePull = nowMs - pull.lastPullMs;
    const std::uint32_t stalledSincePull = stalledMs - pull.lastStalledMs;
    pull.pulled = true;
    pull.lastPullMs = nowMs;
    pull.lastStalledMs = stalledMs;
    if (first) {
        return; // the device's clock starts now
    }
    // The watch may have been late already before the previous pull, which
    // ran: only the time since that pull counts.
    const std::uint32_t stall = std::min(stalledSincePull, sincePull);
    if (stall < AUDIO_STALL_MS) {
        return;
    }
    const std::uint64_t due = std::uint64_t{stall} * SAMPLE_RATE / 1000;
    const std::uint32_t position = std::min(pull.position, pull.frameCount);
    const auto frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(due, pull.frameCount - position));
    pull.position = position + frames;
    pull.skipped += frames;
}

std::uint32_t stalledMsAt(ProcessWatch watch, std::uint32_t nowMs)
{
    // Signed: a record read just after a waking may be newer than `nowMs`.
    const auto late = static_cast<std::int32_t>(nowMs - watch.lastWakeMs - AUDIO_WATCH_MS);
    return late >= static_cast<std::int32_t>(AUDIO_STALL_MS) ? watch.stalledMs + static_cast<std::uint32_t>(late)
                                                             : watch.stalledMs;
}

ProcessWatch watchWoke(ProcessWatch watch, std::uint32_t nowMs)
{
    return {nowMs, stalledMsAt(watch, nowMs)};
}
