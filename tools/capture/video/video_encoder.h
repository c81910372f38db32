#pragma once

// The encoder side of a video capture: the distribution's ffmpeg program,
// started with two pipes, raw RGB frames on its standard input and the song's
// float samples on descriptor 3 (written by a thread of their own, so that
// neither pipe can hold up the other). It writes H.264 with AAC or FLAC into
// a hidden file next to the output, which becomes the output only when ffmpeg
// has finished without fault and the file is whole: its size on the disk is
// the size ffmpeg reported, and its container was finished (container_check.h)
// (output_file.h: a link is followed, an existing
// file keeps its permissions, a device or pipe is handed to ffmpeg to write in
// place).

#include "frame_size.h"
#include "output_file.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace video {

enum class AudioCodec { Aac, Flac };

struct EncoderSettings {
    std::string outputPath;
    // The size of the frames handed to writeFrame.
    int width = FRAME_WIDTH;
    int height = FRAME_HEIGHT;
    int fps = 60;
    // The size of the video stream; 0 keeps the frames' size.
    int outWidth = 0;
    int outHeight = 0;
    int crf = 18;
    AudioCodec audioCodec = AudioCodec::Aac;
    // The encoder program, looked up on PATH when it has no slash.
    std::string program = "ffmpeg";
};

// Fills `samples` with up to `maxFrames` stereo frames (left, right, left, ...)
// and returns how many it wrote; 0 ends the sound. Runs on the audio thread.
using AudioProducer = std::function<std::size_t(float* samples, std::size_t maxFrames)>;

// The encoder's command line (without the program name) for writing to
// `partPath`, with the sound read from descriptor `audioFd`.
std::vector<std::string> ffmpegArguments(const EncoderSettings& settings, const std::string& partPath, int audioFd);

// The hidden name a capture is written to until it is complete, a path's
// extension and folder: the tools' one definition of each.
using output::folderOf;
using output::lowerExtension;
using output::partPathFor;

// The output `path` as a video can be written to it: planned (output_file.h;
// "-" is standard output, which must not be a terminal), and able to take its
// container (a .mp4 needs an output that seeks: output_check.h). False with one
// line in `error` otherwise.
bool checkVideoOutput(const std::string& path, output::OutputPlan& plan, std::string& error);

// One ffmpeg process encoding one video. Every failing call returns false with
// one line in `error`; the hidden file is then already gone, and so is ffmpeg.
class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder();  // abort() unless finish() succeeded
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Creates the hidden file, starts ffmpeg and the audio thread, which calls
    // `audio` until it returns 0. SIGPIPE is ignored from then on, and SIGCHLD
    // has its default action, so that ffmpeg's end can be waited for.
    bool start(const EncoderSettings& settings, AudioProducer audio, std::string& error);
    // Hands over one frame: width × height RGB triplets, rows top first.
    bool writeFrame(const std::uint8_t* rgb, std::string& error);
    // Ends the picture, waits for the sound and for ffmpeg, and renames the
    // hidden file to the output. An end of ffmpeg that cannot be learnt is a
    // failure.
    bool finish(std::string& error);
    // Stops ffmpeg and removes the hidden file. Safe to call at any time.
    void abort();

    // The file ffmpeg writes: the hidden file, or the output itself in place.
    const std::string& partPath() const { return partPath_; }
    pid_t pid() const { return pid_; }

private:
    void audioLoop(AudioProducer audio);
    void stderrLoop();
    // One line of ffmpeg's standard error: progress, or a message kept.
    void takeLine(const std::string& line);
    // After ffmpeg ended with success: why the output is not whole, if it is
    // not (an error said, no end reported, a file whose size or container
    // is not what the muxer finishes with).
    std::string wholeFileFault();
    // A failure as the user is told it: a full disk or another write error
    // as the system words it, with the output's name.
    std::string explain(const std::string& failure) const;
    // Waits for ffmpeg and the threads; returns the failure, if any, as text.
    std::string collect();
    void cleanUp();

    EncoderSettings settings_;
    output::OutputFile output_;
    std::string partPath_;
    pid_t pid_ = -1;
    int videoFd_ = -1;
    int audioFd_ = -1;
    int stderrFd_ = -1;
    std::thread audioThread_;
    std::thread stderrThread_;
    std::atomic<bool> stopAudio_{false};
    std::string audioError_;   // written by the audio thread before it ends
    std::string encoderLog_;   // the tail of ffmpeg's messages (its errors)
    long long reportedBytes_ = -1;  // the last total_size ffmpeg reported; -1 none
    bool reportedEnd_ = false;      // ffmpeg reported progress=end
    bool finished_ = false;
};

}  // namespace video
