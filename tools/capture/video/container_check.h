#pragma once

// Whether a video file that ffmpeg says it has finished is whole, read from
// the file itself rather than taken from ffmpeg's word: a muxer writes the
// parts that make a file playable last (an MP4's index, the "moov" box; a
// Matroska file's segment size), so a file cut short by a full disk or a
// failed write lacks them even when ffmpeg ends with status 0.
//
//  - MP4, MOV, M4V: top-level boxes that tile the file exactly, each with a
//    known size, among them "moov" and "mdat";
//  - Matroska (.mkv): the EBML header, then one Segment whose size is written
//    (not "unknown", as it stays until the trailer) and ends at the file's end.

#include <cstdint>
#include <string>

namespace video {

// Empty when the file at `path` (a container named by `extension`, ".mp4")
// is whole; otherwise why not, in words ("it has no index (moov box)"). A
// container this check does not know is taken as whole.
std::string containerFault(const std::string& path, const std::string& extension);

// The same for a file already open on `fd`, `size` bytes long.
std::string containerFault(int fd, std::uint64_t size, const std::string& extension);

}  // namespace video
