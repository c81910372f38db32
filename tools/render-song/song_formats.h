#pragma once

// The formats render-song writes, chosen by the output's extension: the
// 32-bit float WAV that holds the rendered samples exactly, and, through the
// distribution's ffmpeg, a 24-bit FLAC (each sample the float one rounded to
// 24 bits) and the lossy Opus and MP3, each tagged with the song's title and
// the demo's version.

#include <cstdint>
#include <string>
#include <vector>

#include "synth.h"

enum class SongFormat { Wav, Flac, Opus, Mp3 };

// The Opus file's average bit rate in kbit/s (--help names it).
inline constexpr int OPUS_KBITS = 160;

// The format that `path` names by its extension (in any case): .wav, .flac,
// .opus or .mp3. A path without extension that is written in place (standard
// output, a device, a pipe: `inPlace`) is a WAV, as render-song has always
// written there. False for anything else.
bool songFormatFor(const std::string& path, bool inPlace, SongFormat& format);

// The extensions that name a format, for messages: ".wav, .flac, .opus or .mp3".
const char* songFormatNames();

// A float sample as a 24-bit integer: rounded to the nearest step of 2^-23
// (ties to even), clipped to the 24-bit range.
std::int32_t pcm24(float sample);

// ffmpeg's command line for writing `format` (not Wav) to `writePath`: the
// samples arrive on its standard input, as 24-bit integers for FLAC (so that
// the rounding is ours, not the encoder's) and as 32-bit floats otherwise.
std::vector<std::string> songEncoderArguments(SongFormat format, const std::string& writePath);

// The bytes handed to ffmpeg for `frames` stereo frames of `format`.
std::vector<unsigned char> songEncoderInput(SongFormat format, const StereoFrame* frames, std::size_t count);
