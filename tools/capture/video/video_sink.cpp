#include "video_sink.h"

#include "video_song.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace video {

VideoSink::VideoSink(const VideoOptions& options, bool quiet) : options_(options), quiet_(quiet) {}

bool VideoSink::begin(int width, int height, std::string& error)
{
    width_ = width;
    height_ = height;
    frames_ = 0;
    total_ = frameCount(options_.range);
    // Ctrl-C stops at once, even inside a long frame, and takes the
    // unfinished file and ffmpeg with it: the encoder arms both for the
    // capture's interrupt cleanup.
    const CaptureRange& range = options_.range;
    if (!encoder_.start(encoderSettings(options_, width, height),
                        songProducer(audioFirstFrame(range), audioFrameCount(range)), error))
        return false;
    if (!quiet_) {
        int outWidth = options_.width > 0 ? options_.width : width;
        int outHeight = options_.height > 0 ? options_.height : height;
        std::fprintf(stderr, "demo-capture: %u frames from %.3f s to %.3f s at %d fps, %dx%d%s, %s sound -> %s\n",
                     total_, range.from, captureEndSeconds(range), range.fps, outWidth, outHeight,
                     outWidth != width || outHeight != height ? " (scaled)" : "",
                     options_.audioCodec == AudioCodec::Flac ? "FLAC" : "AAC", options_.path.c_str());
        progress_ = std::make_unique<ProgressBar>(total_, stderr);
    }
    return true;
}

bool VideoSink::frame(std::uint32_t timeMs, const FrameImage& image, std::string& error)
{
    if (frames_ >= total_ || timeMs != frameTimeMs(options_.range, frames_)) {
        error = "frame at " + std::to_string(timeMs) + " ms does not belong to the video at this point";
        return false;
    }
    if (image.width != width_ || image.height != height_) {
        error = "frame of " + std::to_string(image.width) + "x" + std::to_string(image.height) + " in a video of " +
                std::to_string(width_) + "x" + std::to_string(height_);
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * 3;
    const std::uint8_t* pixels = image.pixels;
    if (image.stride != rowBytes) {
        packed_.resize(rowBytes * height_);
        for (int y = 0; y < height_; ++y)
            std::memcpy(&packed_[rowBytes * y], image.row(y), rowBytes);
        pixels = packed_.data();
    }
    if (!encoder_.writeFrame(pixels, error))
        return false;
    ++frames_;
    if (progress_)
        progress_->frameDone();
    return true;
}

bool VideoSink::finish(std::string& error)
{
    if (progress_)
        progress_->close();
    if (frames_ != total_) {
        error = "only " + std::to_string(frames_) + " of " + std::to_string(total_) + " frames were drawn";
        return false;
    }
    if (!encoder_.finish(error))
        return false;
    if (!quiet_) {
        struct stat info {};
        const bool toStandardOutput = options_.path == "-";
        double megabytes =
            !toStandardOutput && ::stat(options_.path.c_str(), &info) == 0 ? info.st_size / 1e6 : 0.0;
        std::fprintf(stderr, "demo-capture: wrote %s (%u frames, %.3f s, %.2f MB)\n",
                     toStandardOutput ? "standard output" : options_.path.c_str(), frames_,
                     static_cast<double>(frames_) / options_.range.fps, megabytes);
    }
    return true;
}

void VideoSink::abort()
{
    if (progress_)
        progress_->close();
    encoder_.abort();
}

}  // namespace video
