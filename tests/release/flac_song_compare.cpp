// Compares decoded 24-bit samples with the song: reads stereo frames as
// 32-bit little-endian integers on standard input (`ffmpeg -i song.flac -f
// s32le -`, which puts the 24 bits at the top), renders the whole song, and
// checks that there are as many frames as the song has and that each sample
// is the float sample rounded to the nearest step of 2^-23 (+1.0 clipped to
// the largest 24-bit sample).
// Exit 0 when they are, 1 (with the first difference said) when not.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "synth.h"

int main()
{
    std::vector<std::int32_t> decoded;
    std::int32_t buffer[16384];
    std::size_t got;
    while ((got = std::fread(buffer, sizeof buffer[0], 16384, stdin)) > 0)
        decoded.insert(decoded.end(), buffer, buffer + got);
    if (decoded.size() != 2u * SONG_FRAMES) {
        std::printf("flac_song_compare: %zu frames decoded, the song has %u\n", decoded.size() / 2, SONG_FRAMES);
        return 1;
    }
    std::vector<StereoFrame> song(SONG_FRAMES);
    auto state = makeSynthState();
    if (renderSongFrames(*state, song.data(), SONG_FRAMES) != SONG_FRAMES) {
        std::printf("flac_song_compare: the song did not render\n");
        return 1;
    }
    std::size_t differing = 0, beyondOneStep = 0;
    for (std::uint32_t i = 0; i < SONG_FRAMES; ++i) {
        const float pair[2] = {song[i].left, song[i].right};
        for (int channel = 0; channel < 2; ++channel) {
            const double step = std::ldexp(1.0, -23);
            const double got24 = decoded[2 * i + channel] / 256.0;  // in steps
            const double want = pair[channel] / step;
            const double off = std::abs(got24 - want);
            // +1.0 is one step above the largest 24-bit sample: clipped there.
            if (off > 0.5 && !(pair[channel] >= 1.0f && decoded[2 * i + channel] / 256 == 8388607)) ++differing;
            if (off > 1.0) {
                if (beyondOneStep++ == 0)
                    std::printf("flac_song_compare: frame %u channel %d: %.1f steps, the song %.3f\n", i, channel,
                                got24, want);
            }
        }
    }
    std::printf("flac_song_compare: %u frames; %zu samples not the nearest step (+1.0 clipped to the largest), %zu beyond "
                "one step\n", SONG_FRAMES,
                differing, beyondOneStep);
    return beyondOneStep == 0 && differing == 0 ? 0 : 1;
}
