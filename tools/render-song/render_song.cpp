// render-song: renders the song (or its first N frames) and writes it in the
// format its output's extension names (song_formats.h): a 32-bit float stereo
// WAV holding exactly the SampleBuffer bytes, or, through ffmpeg, FLAC, Opus
// or MP3. Its options follow the tools' shared rules (option_reader.h). The
// output is written as output_file.h says (a temporary file renamed into
// place; a device or pipe in place; "-" for standard output), checked before
// the render, and an interruption removes the temporary file and stops ffmpeg
// (interrupt_cleanup.h). The temporary file is made only once the song is
// rendered, so that an end that runs no handler (SIGKILL, or node ending the
// WebAssembly build) leaves nothing behind either.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

#include "interrupt_cleanup.h"
#include "option_reader.h"
#ifndef __EMSCRIPTEN__
#include "encoder_process.h"
#endif
#include "output_file.h"
#include "plain_number.h"
#include "quoted.h"
#include "song_formats.h"
#include "synth.h"

namespace {

std::string usage() {
    return "Usage: demo-render-song --out FILE [--frames N]\n"
           "Renders the demo's song (44,100 Hz stereo) and writes it in the format\n"
           "that FILE's extension names:\n"
           "  .wav    32-bit float, holding exactly the rendered frames\n"
           "  .flac   24-bit, each sample the float one rounded to 24 bits (ffmpeg)\n"
           "  .opus   Opus at " + std::to_string(OPUS_KBITS) + " kbit/s on average, 48 kHz (ffmpeg)\n"
           "  .mp3    MP3, VBR about 190 kbit/s (ffmpeg)\n"
           "FLAC, Opus and MP3 are tagged with the title, the album and the version.\n"
           "\n"
           "  --out FILE   the file to write (required); - is standard output (WAV)\n"
           "  --frames N   render only the first N frames (1 to " +
           std::to_string(SONG_FRAMES) +
           "; default all)\n"
           "  --help       show this help and exit (alone)\n"
           "  --version    show the version and exit (alone)\n"
           "\n"
           "Each option is given once. A file is written under a hidden temporary\n"
           "name in its folder and renamed when complete (a symbolic link is\n"
           "followed; an existing file keeps its permissions). A device, pipe or\n"
           "terminal is written in place (a WAV where its name has no extension).\n"
           "Ctrl-C, SIGTERM and SIGHUP end it at once, even while the output waits\n"
           "for its reader; an interruption leaves no temporary file and no ffmpeg\n"
           "running.\n"
           "Exit status: 0 done, 1 the output cannot be written, 2 bad arguments,\n"
           "130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";
}

struct RenderOptions {
    std::string outPath;  // --out
    std::uint32_t frames = SONG_FRAMES;  // --frames
};

command_line::Outcome parseArguments(int argc, const char* const* argv, RenderOptions& options, std::string& error) {
    const command_line::Option table[] = {
        {.name = "--out", .needs = "a file name"},
        {.name = "--frames", .needs = "a number"},
    };
    const command_line::Outcome outcome = command_line::readOptions(
        argc, argv, table,
        [&](const command_line::GivenOption& given, std::string& why) {
            if (given.option.name == "--out") {
                options.outPath = given.value;
                if (options.outPath.empty()) why = "--out needs a file name";
                return !options.outPath.empty();
            }
            if (!command_line::parseWholeNumber(given.value, SONG_FRAMES, options.frames) || options.frames < 1) {
                why = "--frames must be a whole number from 1 to " + std::to_string(SONG_FRAMES) + ", not " +
                      command_line::quoted(given.value);
                return false;
            }
            return true;
        },
        error);
    if (outcome == command_line::Outcome::Run && options.outPath.empty()) {
        error = "--out FILE is required";
        return command_line::Outcome::Error;
    }
    return outcome;
}

void putU16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
void putU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

// The RIFF/WAVE header for IEEE float stereo at 44.1 kHz, as a format other
// than integer PCM must have it: a format chunk of 18 bytes whose extension
// size (cbSize) is 0, and a fact chunk holding the number of frames. The data
// chunk follows at byte WAV_HEADER_BYTES.
constexpr std::uint32_t WAV_HEADER_BYTES = 58;

std::vector<unsigned char> wavHeader(std::uint32_t frames) {
    const std::uint32_t dataBytes = frames * 8u;
    std::vector<unsigned char> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    putU32(h, WAV_HEADER_BYTES - 8 + dataBytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(h, 18);
    putU16(h, 3);                 // WAVE_FORMAT_IEEE_FLOAT
    putU16(h, 2);                 // channels
    putU32(h, SAMPLE_RATE);       // frames per second
    putU32(h, SAMPLE_RATE * 8u);  // bytes per second
    putU16(h, 8);                 // block align
    putU16(h, 32);                // bits per sample
    putU16(h, 0);                 // cbSize: no extension follows
    h.insert(h.end(), {'f', 'a', 'c', 't'});
    putU32(h, 4);
    putU32(h, frames);            // frames per channel
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    putU32(h, dataBytes);
    return h;
}

#ifdef __EMSCRIPTEN__
// The node build: emscripten's C library takes every standard stream for a
// terminal; node knows better.
bool stderrIsTerminal() { return EM_ASM_INT({ return process.stderr.isTTY ? 1 : 0; }) != 0; }
#else
bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
#endif

void drawProgress(std::uint32_t done, std::uint32_t total, double seconds) {
    const int width = 40;
    const int filled = static_cast<int>(static_cast<double>(done) / total * width);
    const double factor = seconds > 0 ? (done / static_cast<double>(SAMPLE_RATE)) / seconds : 0.0;
    std::fprintf(stderr, "\r[%.*s%*s] %5.1f%%  %.1fx real time", filled,
                 "########################################", width - filled, "",
                 100.0 * done / total, factor);
    std::fflush(stderr);
}

#ifndef __EMSCRIPTEN__
// Writes the samples through ffmpeg into a temporary file (armed for the
// interrupt cleanup, as ffmpeg is while it runs), which becomes the output
// only when ffmpeg has ended without a fault; in place, ffmpeg writes the
// device or pipe itself.
bool writeEncoded(const output::OutputPlan& plan, SongFormat format, const std::vector<StereoFrame>& samples,
                  std::string& error) {
    output::OutputFile file;
    if (!file.reserve(plan, error)) return false;
    output::EncoderProcess encoder;
    if (!encoder.start(songEncoderArguments(format, file.writePath()), error)) {
        file.abort();
        return false;
    }
    const std::size_t chunk = SAMPLE_RATE;  // one second of song per write
    std::string writeError;
    for (std::size_t at = 0; at < samples.size() && writeError.empty(); at += chunk) {
        const std::size_t count = samples.size() - at < chunk ? samples.size() - at : chunk;
        const std::vector<unsigned char> bytes = songEncoderInput(format, samples.data() + at, count);
        encoder.write(bytes.data(), bytes.size(), writeError);
    }
    // ffmpeg's own account of a failure says more than the broken pipe.
    if (!encoder.finish(error) || !writeError.empty()) {
        if (error.empty()) error = writeError;
        error = "ffmpeg could not write " + command_line::quotedPath(plan.userPath) + ": " + error;
        file.abort();
        return false;
    }
    return file.commit(error);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    const command_line::Outcome outcome = parseArguments(argc, argv, options, error);
    if (outcome != command_line::Outcome::Run)
        return command_line::answerHelpOrError("demo-render-song", outcome, error, usage());
    const std::string& outPath = options.outPath;
    const std::uint32_t frames = options.frames;

    // Where the WAV goes, found out before the render: a folder, a missing
    // folder or an unwritable one is refused now, not after it.
    output::OutputPlan plan;
    if (!output::planOutput(outPath, true, plan, error)) {
        std::fprintf(stderr, "demo-render-song: %s\n", error.c_str());
        return 1;
    }
    SongFormat format = SongFormat::Wav;
    const bool inPlace = plan.kind == output::OutputKind::InPlace || plan.kind == output::OutputKind::StandardOutput;
    if (!songFormatFor(outPath, inPlace, format)) {
        std::fprintf(stderr, "demo-render-song: --out %s: the song is written as %s; name it so\n",
                     command_line::quotedPath(outPath).c_str(), songFormatNames());
        return 2;
    }
#ifdef __EMSCRIPTEN__
    if (format != SongFormat::Wav) {
        std::fprintf(stderr, "demo-render-song: --out %s: this build writes only .wav (FLAC, Opus and MP3 need ffmpeg)\n",
                     command_line::quotedPath(outPath).c_str());
        return 2;
    }
#else
    if (format != SongFormat::Wav && output::findOnPath("ffmpeg").empty()) {
        std::fprintf(stderr, "demo-render-song: ffmpeg not found on PATH; it encodes %s (on Debian: apt-get install ffmpeg)\n",
                     output::lowerExtension(outPath).c_str());
        return 1;
    }
#endif
    const bool showProgress = stderrIsTerminal();
    // From here on a signal ends the tool at once, even while a pipe waits
    // for its reader; a reader that goes away shows as a failed write.
    output::installInterruptCleanup(showProgress ? "\ndemo-render-song: interrupted\n" : "demo-render-song: interrupted\n");
    std::vector<StereoFrame> samples(frames);
    SynthStatePtr state = makeSynthState();
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t chunk = SAMPLE_RATE;  // one second of song per step
    std::uint32_t done = 0;
    while (done < frames) {
        const std::uint32_t want = frames - done < chunk ? frames - done : chunk;
        done += renderSongFrames(*state, samples.data() + done, want);
        if (showProgress)
            drawProgress(done, frames,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (showProgress) std::fprintf(stderr, "\n");

#ifndef __EMSCRIPTEN__
    if (format != SongFormat::Wav) {
        if (!writeEncoded(plan, format, samples, error)) {
            std::fprintf(stderr, "demo-render-song: %s\n", error.c_str());
            return 1;
        }
        if (showProgress)
            std::fprintf(stderr, "demo-render-song: %u frames (%.3f s of song) in %.2f s -> %s\n", frames,
                         frames / static_cast<double>(SAMPLE_RATE), seconds, outPath.c_str());
        return 0;
    }
#endif
    output::OutputFile file;  // arms its temporary file for the interrupt cleanup
    if (!file.open(plan, error)) {
        std::fprintf(stderr, "demo-render-song: %s\n", error.c_str());
        return 1;
    }

    const std::vector<unsigned char> header = wavHeader(frames);
    const bool ok = file.write(header.data(), header.size(), error) &&
                    file.write(samples.data(), sizeof(StereoFrame) * static_cast<std::size_t>(frames), error) &&
                    file.commit(error);
    if (!ok) {
        file.abort();
        std::fprintf(stderr, "demo-render-song: %s\n", error.c_str());
        return 1;
    }
    if (showProgress)
        std::fprintf(stderr, "demo-render-song: %u frames (%.3f s of song) in %.2f s, %.1fx real time -> %s\n", frames,
                     frames / static_cast<double>(SAMPLE_RATE), seconds,
                     (frames / static_cast<double>(SAMPLE_RATE)) / seconds, outPath.c_str());
    return 0;
}
