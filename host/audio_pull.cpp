#include "audio_pull.h"

#include <algorithm>
#include <cstring>

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
