// render-song: renders the song (or its first N frames) and writes it as a
// 32-bit float stereo WAV holding exactly the SampleBuffer bytes. The output
// is written as output_file.h says (a temporary file renamed into place; a
// device or pipe in place; "-" for standard output), checked before the
// render, and an interruption removes the temporary file. The temporary file
// is made only once the song is rendered, so that an end that runs no handler
// (SIGKILL, or node ending the WebAssembly build) leaves nothing behind either.
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

#include "interrupt_cleanup.h"
#include "output_file.h"
#include "synth.h"

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: render-song --out FILE [--frames N]\n"
                 "Renders the demo's song and writes it as a 32-bit float stereo WAV\n"
                 "(44,100 Hz) holding exactly the rendered frames.\n"
                 "\n"
                 "  --out FILE   the WAV file to write (required); - is standard output\n"
                 "  --frames N   render only the first N frames (1 to %u; default all)\n"
                 "  --help       show this help and exit\n"
                 "\n"
                 "A file is written under a hidden temporary name in its folder and renamed\n"
                 "when complete (a symbolic link is followed; an existing file keeps its\n"
                 "permissions). A device, pipe or terminal is written in place.\n"
                 "Exit status: 0 done, 1 the output cannot be written, 2 bad arguments,\n"
                 "130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP);\n"
                 "an interruption leaves no temporary file.\n",
                 SONG_FRAMES);
}

bool parseFrames(const char* text, std::uint32_t& frames) {
    if (!text || !*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > SONG_FRAMES) return false;
    frames = static_cast<std::uint32_t>(value);
    return true;
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

}  // namespace

int main(int argc, char** argv) {
    std::string outPath;
    std::uint32_t frames = SONG_FRAMES;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--out" || arg.rfind("--out=", 0) == 0) {
            if (arg == "--out") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "render-song: --out needs a file name\n");
                    return 2;
                }
                outPath = argv[++i];
            } else {
                outPath = arg.substr(6);
            }
            if (outPath.empty()) {
                std::fprintf(stderr, "render-song: --out needs a file name\n");
                return 2;
            }
        } else if (arg == "--frames" || arg.rfind("--frames=", 0) == 0) {
            const char* value = nullptr;
            if (arg == "--frames") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "render-song: --frames needs a number\n");
                    return 2;
                }
                value = argv[++i];
            } else {
                value = argv[i] + 9;
            }
            if (!parseFrames(value, frames)) {
                std::fprintf(stderr, "render-song: --frames must be a whole number from 1 to %u, not '%s'\n",
                             SONG_FRAMES, value);
                return 2;
            }
        } else {
            std::fprintf(stderr, "render-song: unknown argument '%s'\n", arg.c_str());
            printUsage(stderr);
            return 2;
        }
    }
    if (outPath.empty()) {
        std::fprintf(stderr, "render-song: --out FILE is required\n");
        printUsage(stderr);
        return 2;
    }

    // Where the WAV goes, found out before the render: a folder, a missing
    // folder or an unwritable one is refused now, not after it.
    std::string error;
    output::OutputPlan plan;
    if (!output::planOutput(outPath, true, plan, error)) {
        std::fprintf(stderr, "render-song: %s\n", error.c_str());
        return 1;
    }
    const bool showProgress = stderrIsTerminal();
    // A reader that goes away shows as a failed write, reported below.
    std::signal(SIGPIPE, SIG_IGN);
    output::installInterruptCleanup(showProgress ? "\nrender-song: interrupted\n" : "render-song: interrupted\n");
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

    output::OutputFile file;
    bool opened = false;
    if (plan.kind == output::OutputKind::NewFile || plan.kind == output::OutputKind::ReplaceFile) {
        output::SignalsHeld held;  // the temporary file exists only armed
        opened = file.open(plan, error);
        output::armInterruptCleanup(file.temporaryPath().c_str());
    } else {
        opened = file.open(plan, error);  // a pipe may wait here for its reader
    }
    if (!opened) {
        std::fprintf(stderr, "render-song: %s\n", error.c_str());
        return 1;
    }

    const std::vector<unsigned char> header = wavHeader(frames);
    bool ok = file.write(header.data(), header.size(), error) &&
              file.write(samples.data(), sizeof(StereoFrame) * static_cast<std::size_t>(frames), error);
    if (ok) {
        output::SignalsHeld held;  // renamed and disarmed together
        ok = file.commit(error);
        output::armInterruptCleanup(nullptr);
    }
    if (!ok) {
        output::SignalsHeld held;
        file.abort();
        output::armInterruptCleanup(nullptr);
        std::fprintf(stderr, "render-song: %s\n", error.c_str());
        return 1;
    }
    if (showProgress)
        std::fprintf(stderr, "render-song: %u frames (%.3f s of song) in %.2f s, %.1fx real time -> %s\n", frames,
                     frames / static_cast<double>(SAMPLE_RATE), seconds,
                     (frames / static_cast<double>(SAMPLE_RATE)) / seconds, outPath.c_str());
    return 0;
}
