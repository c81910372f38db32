#pragma once

// The command line of `capture --video`: the options, their checks, and a
// check of the surroundings (ffmpeg, the output folder) made before any
// rendering starts.

#include "option_reader.h"
#include "video_encoder.h"
#include "video_timeline.h"

#include <span>
#include <string>

namespace video {

struct VideoOptions {
    // --video FILE: the output; empty when no video is asked for.
    std::string path;
    // --from, --to (seconds of the demo's clock) and --fps.
    CaptureRange range;
    // --crf: the H.264 quality (0 lossless to 51 worst).
    int crf = 18;
    // --audio-codec aac|flac.
    AudioCodec audioCodec = AudioCodec::Aac;
    // --size WxH: the video's size; 0 keeps the size drawn (1920x1080, or
    // less with --scale). Rendering is not changed by it.
    int width = 0;
    int height = 0;
    // Some option other than --video was given (it then needs --video).
    bool tuned = false;
};

// --video, --from, --to, --fps, --crf, --audio-codec and --size, each with
// a value, for the capture tool's table of options.
std::span<const command_line::Option> videoOptions();

// Takes one of those options with its value.
bool parseVideoOption(const std::string& name, const std::string& value, VideoOptions& options, std::string& error);

// After the whole command line: the options fit together, and with the
// picture options of the frame capture (--time, --rect, --count-steps, --out).
bool checkVideoOptions(const VideoOptions& options, bool timesGiven, bool pictureOptionsGiven, std::string& error);

// Before rendering: ffmpeg is on PATH, the output's folder takes files, the
// output takes the container (a .mp4 cannot go into a pipe), and its disk
// has room for the sound at least (frames of 1920x1080).
bool preflightVideo(const VideoOptions& options, std::string& error);
// The same for frames of width x height; `warning` gets one line when the
// disk's room looks too small for the video.
bool preflightVideo(const VideoOptions& options, int width, int height, std::string& warning, std::string& error);

// The encoder settings for frames of width x height.
EncoderSettings encoderSettings(const VideoOptions& options, int width, int height);

// The --help paragraph of the video options.
std::string videoUsage();

}  // namespace video
