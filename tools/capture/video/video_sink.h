#pragma once

// `capture --video`: a FrameSink that hands every frame to ffmpeg and the song
// beside it, with a progress line, and leaves the video file only when all of
// it was written.

#include "frame_sink.h"
#include "video_encoder.h"
#include "video_options.h"
#include "video_progress.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace video {

class VideoSink : public FrameSink {
public:
    // `quiet`: no progress line, only errors.
    VideoSink(const VideoOptions& options, bool quiet);

    bool begin(int width, int height, std::string& error) override;
    bool frame(std::uint32_t timeMs, const FrameImage& image, std::string& error) override;
    bool finish(std::string& error) override;
    void abort() override;

private:
    VideoOptions options_;
    bool quiet_;
    int width_ = 0;
    int height_ = 0;
    std::uint32_t frames_ = 0;  // handed to ffmpeg so far
    std::uint32_t total_ = 0;
    VideoEncoder encoder_;
    std::unique_ptr<ProgressBar> progress_;
    std::vector<std::uint8_t> packed_;  // a frame whose rows had padding
};

}  // namespace video
