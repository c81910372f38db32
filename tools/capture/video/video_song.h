#pragma once

// The sound of a video capture: the built-in song rendered offline from its
// first frame, handed out from a chosen frame on. The synthesizer only runs
// forwards, so the frames before the start are rendered and dropped.

#include "synth.h"
#include "video_encoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace video {

class SongSound {
public:
    // Frames first .. first + count - 1 of the song; past the song's end
    // (SONG_FRAMES) the sound is silence, as in the demo's buffer.
    SongSound(std::uint32_t first, std::uint32_t count);

    // Fills up to `maxFrames` interleaved stereo frames; 0 once all are given.
    std::size_t read(float* samples, std::size_t maxFrames);

private:
    // Renders `count` frames of the song into `out`, zeros past its end.
    void render(StereoFrame* out, std::uint32_t count);

    SynthStatePtr state_;
    std::uint32_t toSkip_;
    std::uint32_t left_;
    std::vector<StereoFrame> scratch_;
};

// An AudioProducer that reads a SongSound made when it is first called (on
// the encoder's audio thread, so that the song renders beside the picture).
AudioProducer songProducer(std::uint32_t first, std::uint32_t count);

}  // namespace video
