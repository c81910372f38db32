#include "song_formats.h"

#include <cmath>
#include <cstring>

#include "output_file.h"
#include "version.h"

namespace {

// The song's title and album in the tags: the demo's name.
constexpr const char* SONG_TITLE = "demo";
constexpr const char* SONG_ALBUM = "demo";

}  // namespace

bool songFormatFor(const std::string& path, bool inPlace, SongFormat& format)
{
    const std::string extension = output::lowerExtension(path);
    if (extension == ".wav" || (extension.empty() && inPlace))
        format = SongFormat::Wav;
    else if (extension == ".flac")
        format = SongFormat::Flac;
    else if (extension == ".opus")
        format = SongFormat::Opus;
    else if (extension == ".mp3")
        format = SongFormat::Mp3;
    else
        return false;
    return true;
}

const char* songFormatNames() { return ".wav, .flac, .opus or .mp3"; }

std::int32_t pcm24(float sample)
{
    const double scaled = std::nearbyint(static_cast<double>(sample) * 8388608.0);
    if (scaled >= 8388607.0) return 8388607;
    if (scaled <= -8388608.0) return -8388608;
    return static_cast<std::int32_t>(scaled);
}

std::vector<std::string> songEncoderArguments(SongFormat format, const std::string& writePath)
{
    // Bit-exact output: no encoder versions in the file and, in Ogg, a fixed
    // stream serial, so that the same song gives the same bytes.
    std::vector<std::string> args = {
        "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        "-f", format == SongFormat::Flac ? "s24le" : "f32le", "-ar", std::to_string(SAMPLE_RATE), "-ac", "2",
        "-i", "pipe:0",
        "-fflags", "+bitexact", "-flags:a", "+bitexact",
        "-metadata", std::string("title=") + SONG_TITLE,
        "-metadata", std::string("album=") + SONG_ALBUM,
        "-metadata", std::string("version=") + DEMO_VERSION,
    };
    const std::vector<std::string> codec =
        format == SongFormat::Flac ? std::vector<std::string>{"-c:a", "flac", "-compression_level", "8", "-f", "flac"}
        : format == SongFormat::Opus
            // Opus runs at 48 kHz; 160 kbit/s stereo is transparent for most
            // listeners. Constrained VBR keeps the average at that rate (free
            // VBR spent about 210 kbit/s on this song).
            ? std::vector<std::string>{"-c:a", "libopus", "-b:a", std::to_string(OPUS_KBITS) + "k", "-vbr", "constrained", "-ar", "48000",
                                       "-serial_offset", "1", "-f", "opus"}
            : std::vector<std::string>{"-c:a", "libmp3lame", "-q:a", "2", "-f", "mp3"};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(writePath);
    return args;
}

std::vector<unsigned char> songEncoderInput(SongFormat format, const StereoFrame* frames, std::size_t count)
{
    std::vector<unsigned char> bytes;
    if (format != SongFormat::Flac) {
        bytes.resize(count * sizeof(StereoFrame));
        std::memcpy(bytes.data(), frames, bytes.size());  // f32le: the floats as they are
        return bytes;
    }
    bytes.reserve(count * 6);
    for (std::size_t i = 0; i < count; ++i) {
        for (float sample : {frames[i].left, frames[i].right}) {
            const std::uint32_t value = static_cast<std::uint32_t>(pcm24(sample));
            bytes.push_back(static_cast<unsigned char>(value & 0xFF));
            bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
            bytes.push_back(static_cast<unsigned char>((value >> 16) & 0xFF));
        }
    }
    return bytes;
}
