// demo-trace: the demo itself (demoMain on the SDL platform, with the demo's
// options) with every platform call of start-up and of the frame loop timed
// and logged to stderr, and, every DEMO_TRACE_AUDIO_MS milliseconds (default
// 250) once the sound has started, the render thread's published frame count
// against the sound device's play position (and the frames it skipped after
// stalls of the process). A measuring tool of the project,
// not a test:
//   demo-trace [--scale NAME|auto | --density D] [--window [WxH]] 2> trace.txt
// Each line: "<ms since start> <event> [values]". Per frame: "frame K TIMEMS
// SCALE" when it begins (its timeMs and the name of the scale it is drawn at,
// or density-D), "drawn K"
// when the drawing is finished (glFinish), "swapped K CPUMS" after the copy to
// the window and the swap, with the CPU time the process has used so far
// (llvmpipe's threads and the render thread's included).
#include <SDL2/SDL.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "demo_command_line.h"
#include "host.h"
#include "platform_sdl.h"

namespace {

const auto processStart = std::chrono::steady_clock::now();
const std::atomic<std::uint32_t>* publishedFrames;
unsigned frames;

long long sinceStart()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart)
        .count();
}

void log(const char* event, long long a = -1, long long b = -1)
{
    if (b >= 0) {
        std::fprintf(stderr, "%lld %s %lld %lld\n", sinceStart(), event, a, b);
    } else if (a >= 0) {
        std::fprintf(stderr, "%lld %s %lld\n", sinceStart(), event, a);
    } else {
        std::fprintf(stderr, "%lld %s\n", sinceStart(), event);
    }
}

void* watchAudio(void*)
{
    const char* period = std::getenv("DEMO_TRACE_AUDIO_MS");
    const int ms = period ? std::atoi(period) : 250;
    for (;;) {
        usleep(static_cast<useconds_t>(ms) * 1000);
        const long long rendered = publishedFrames->load(std::memory_order_acquire);
        const long long played = sdl_platform::playedFrames();
        std::fprintf(stderr, "%lld audio rendered %lld played %lld ahead %lld skipped %u\n", sinceStart(), rendered,
                     played, rendered - played, sdl_platform::skippedFrames());
    }
    return nullptr;
}

void requestDisplayMode(int w, int h)
{
    log("requestDisplayMode");
    sdlPlatform.requestDisplayMode(w, h);
}
void createWindow()
{
    log("createWindow");
    sdlPlatform.createWindow();
}
void createGlContext()
{
    log("createGlContext");
    sdlPlatform.createGlContext();
    log("glVersion");
    std::fprintf(stderr, "   %s\n",
                 reinterpret_cast<const char*>(
                     reinterpret_cast<const unsigned char* (*)(unsigned)>(SDL_GL_GetProcAddress("glGetString"))(
                         0x1F02)));
}
void* getProcAddress(const char* name)
{
    std::fprintf(stderr, "%lld getProcAddress %s\n", sinceStart(), name);
    return sdlPlatform.getProcAddress(name);
}
void hideCursor()
{
    log("hideCursor");
    sdlPlatform.hideCursor();
}
void startThread(void (*entry)(void*), void* argument)
{
    log("startThread");
    sdlPlatform.startThread(entry, argument);
}
void startAudioDevice(const float* samples, std::uint32_t count, const std::atomic<std::uint32_t>* ready)
{
    log("startAudioDevice");
    sdlPlatform.startAudioDevice(samples, count, ready);
    log("audioDeviceStarted");
    if (ready) {
        publishedFrames = ready;
        pthread_t thread;
        pthread_create(&thread, nullptr, watchAudio, nullptr);
    }
}
std::uint32_t clockMs()
{
    return sdlPlatform.clockMs();
}
void fogi(GLenum pname, GLint param)
{
    std::fprintf(stderr, "%lld frame %u %d %s\n", sinceStart(), frames, param, sdl_platform::sceneGridName());
    sdlPlatform.fogi(pname, param);
}
void presentFrame()
{
    // Waits for the drawing, so that "drawn" to "swapped" is the copy to the
    // window and the swap alone.
    reinterpret_cast<void (*)()>(SDL_GL_GetProcAddress("glFinish"))();
    log("drawn", frames);
    sdlPlatform.presentFrame();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long long cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
                            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    log("swapped", frames++, cpuMs);
}
bool quitRequested()
{
    const bool pressed = sdlPlatform.quitRequested();
    if (pressed) {
        log("escape");
    }
    return pressed;
}
void endProcess()
{
    log("endProcess");
    sdlPlatform.endProcess();
}

const Platform tracePlatform = {
    .requestDisplayMode = requestDisplayMode,
    .createWindow = createWindow,
    .createGlContext = createGlContext,
    .getProcAddress = getProcAddress,
    .hideCursor = hideCursor,
    .startThread = startThread,
    .startAudioDevice = startAudioDevice,
    .beginFrame = sdlPlatform.beginFrame,
    .clockMs = clockMs,
    .fogi = fogi,
    .rectf = sdlPlatform.rectf,
    .presentFrame = presentFrame,
    .judgeScale = sdlPlatform.judgeScale,
    .peekMessage = sdlPlatform.peekMessage,
    .quitRequested = quitRequested,
    .endProcess = endProcess,
    .failStartUp = sdlPlatform.failStartUp,
    .openLog = sdlPlatform.openLog,
};

} // namespace

int main(int argc, char** argv)
{
    log("main");
    return runDemoCommandLine(argc, argv, tracePlatform);
}
