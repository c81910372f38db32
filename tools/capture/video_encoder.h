#pragma once

// The encoder side of a video capture: the distribution's ffmpeg program,
// started with two pipes, raw RGB frames on its standard input and the song's
// float samples on descriptor 3 (written by a thread of their own, so that
// neither pipe can hold up the other). It writes H.264 with AAC or FLAC into
// a hidden file next to the output, which becomes the output only when ffmpeg
// has finished without fault.

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
    int width = 1920;
    int height = 1080;
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

// The name of the hidden file that a capture to `outputPath` is written to
// until it is complete: ".NAME.part-PID-N.EXT" in the same folder, so that the
// last step is a rename within one file system.
std::string partPathFor(const std::string& outputPath, int serial);

// The file name's extension in lower case, with its dot (".mp4"); empty if none.
std::string lowerExtension(const std::string& path);
// The folder part of a path: "." for a bare name.
std::string folderOf(const std::string& path);

// Finds `program` on PATH (or checks it, if it names a path); returns the full
// path, or an empty string if there is no executable of that name.
std::string findProgram(const std::string& program);

// One ffmpeg process encoding one video. Every failing call returns false with
// one line in `error`; the hidden file is then already gone, and so is ffmpeg.
class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder();  // abort() unless finish() succeeded
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Creates the hidden file, starts ffmpeg and the audio thread, which calls
    // `audio` until it returns 0. SIGPIPE is ignored from then on.
    bool start(const EncoderSettings& settings, AudioProducer audio, std::string& error);
    // Hands over one frame: width × height RGB triplets, rows top first.
    bool writeFrame(const std::uint8_t* rgb, std::string& error);
    // Ends the picture, waits for the sound and for ffmpeg, and renames the
    // hidden file to the output.
    bool finish(std::string& error);
    // Stops ffmpeg and removes the hidden file. Safe to call at any time.
    void abort();

    const std::string& partPath() const { return partPath_; }
    pid_t pid() const { return pid_; }

private:
    void audioLoop(AudioProducer audio);
    void stderrLoop();
    // Waits for ffmpeg and the threads; returns the failure, if any, as text.
    std::string collect();
    void cleanUp();

    EncoderSettings settings_;
    std::string partPath_;
    pid_t pid_ = -1;
    int videoFd_ = -1;
    int audioFd_ = -1;
    int stderrFd_ = -1;
    std::thread audioThread_;
    std::thread stderrThread_;
    std::atomic<bool> stopAudio_{false};
    std::string audioError_;   // written by the audio thread before it ends
    std::string encoderLog_;   // the tail of ffmpeg's messages
    bool finished_ = false;
};

}  // namespace video
