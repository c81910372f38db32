#pragma once

// What the output of a video must offer, checked before the first frame is
// drawn rather than found after the last:
//
//  - seeking, for the containers whose muxer goes back to finish the file
//    (MP4, MOV, M4V write their index last and move it to the front): a named
//    pipe, a socket, a terminal or standard output cannot take them, and a
//    streaming container (Matroska, .mkv) is named instead;
//  - room on the disk: the sound's size is known from its codec and length
//    (AAC at 256 kbit/s, FLAC at about three quarters of its 24-bit samples),
//    the picture's only roughly; a disk with less room than half the sound is
//    refused, one with less than the whole likely size is warned about.

#include "output_file.h"
#include "video_encoder.h"

#include <cstdint>
#include <string>

namespace video {

// Whether `plan`'s output can be seeked: a file can; a pipe, socket or
// terminal and standard output (which ffmpeg writes as a stream) cannot; a
// device is asked.
bool outputCanSeek(const output::OutputPlan& plan);

// Empty, or the refusal of a container that must seek (`extension`, ".mp4")
// into an output that cannot.
std::string streamFault(const output::OutputPlan& plan, const std::string& extension);

// The bytes a video is expected to take: at least (the sound alone, halved),
// and likely (the sound, and the picture at one bit per pixel and frame).
struct VideoBytes {
    std::uint64_t least = 0;
    std::uint64_t likely = 0;
};
VideoBytes expectedVideoBytes(AudioCodec codec, double seconds, int width, int height, int fps);

// Empty, or the refusal of a file on a disk with less room than `bytes.least`;
// `warning` gets one line when the room is less than `bytes.likely`. Outputs
// written in place and disks whose room cannot be learnt pass.
std::string roomFault(const output::OutputPlan& plan, const VideoBytes& bytes, std::string& warning);

}  // namespace video
