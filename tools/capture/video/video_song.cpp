#include "video_song.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace video {
namespace {

// Frames rendered per call of the synthesizer.
constexpr std::uint32_t CHUNK_FRAMES = 4096;

}  // namespace

SongSound::SongSound(std::uint32_t first, std::uint32_t count)
    : state_(makeSynthState()), toSkip_(first), left_(count), scratch_(CHUNK_FRAMES)
{
}

void SongSound::render(StereoFrame* out, std::uint32_t count)
{
    std::uint32_t done = renderSongFrames(*state_, out, count);
    std::fill(out + done, out + count, StereoFrame{0.0f, 0.0f});
}

std::size_t SongSound::read(float* samples, std::size_t maxFrames)
{
    while (toSkip_ > 0) {
        std::uint32_t count = std::min(toSkip_, CHUNK_FRAMES);
        render(scratch_.data(), count);
        toSkip_ -= count;
    }
    auto count = static_cast<std::uint32_t>(std::min<std::size_t>({maxFrames, left_, CHUNK_FRAMES}));
    render(scratch_.data(), count);
    static_assert(sizeof(StereoFrame) == 2 * sizeof(float));
    std::memcpy(samples, scratch_.data(), count * sizeof(StereoFrame));
    left_ -= count;
    return count;
}

AudioProducer songProducer(std::uint32_t first, std::uint32_t count)
{
    auto sound = std::make_shared<std::unique_ptr<SongSound>>();
    return [sound, first, count](float* samples, std::size_t maxFrames) -> std::size_t {
        if (!*sound)
            *sound = std::make_unique<SongSound>(first, count);
        return (*sound)->read(samples, maxFrames);
    };
}

}  // namespace video
