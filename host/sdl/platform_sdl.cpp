// The platform layer on Linux: SDL2 for the window, the OpenGL context, the
// keyboard, the clock and the sound device; POSIX threads. The display's mode
// is never changed: the window covers the desktop at its own mode (or is an
// ordinary window with `--window`), and each frame, drawn offscreen at the
// frame's size, is scaled to it (offscreen_frame.cpp).
#include "platform_sdl.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio_pull.h"
#include "log_file.h"
#include "quoted.h"
#include "offscreen_frame.h"
#include "synth.h"
#include "window_system.h"

namespace {

// The platform's state: the window, the frame's size, the command line's
// choices, and a quit (Escape or the window's close) that the event watch
// saw between two queries.
struct SdlState {
    SDL_Window* window = nullptr;
    int frameWidth = 0;
    int frameHeight = 0;
    DemoOptions options;
    std::atomic<bool> quitSeen{false};
};
SdlState sdl;

[[noreturn]] void failStartUp(const char* what)
{
    std::fprintf(stderr, "demo: cannot start: %s\n", what);
    std::fflush(stderr);
    _exit(1);
}

[[noreturn]] void failSdl(const char* what)
{
    char line[512];
    std::snprintf(line, sizeof line, "%s (%s)", what, SDL_GetError());
    failStartUp(line);
}

// The displays that the environment names, for the line that says none of
// them could be opened.
std::string unopenedDisplays()
{
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string xName = x && *x ? "the X display " + command_line::quoted(x) : "";
    const std::string waylandName = wayland && *wayland ? "the Wayland display " + command_line::quoted(wayland) : "";
    if (!xName.empty() && !waylandName.empty()) {
        return "neither " + xName + " nor " + waylandName + " could be opened";
    }
    if (xName.empty() && waylandName.empty()) {
        return "neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    return xName + waylandName + " could not be opened";
}

// Why SDL's video start-up failed with `sdlError`: an X display that opens
// but offers no screen with a mode is told apart from one that cannot be
// opened.
std::string displayFault(const std::string& sdlError)
{
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x || !window_system::xDisplayOpens()) {
        return unopenedDisplays();
    }
    const std::string name = "the X display " + command_line::quoted(x);
    return sdlError.find("No available displays") != std::string::npos ? name + " has no screen with a mode"
                                                                        : name + " opens, but SDL cannot use it";
}

void requestDisplayMode(int width, int height)
{
    // SDL's own signal handlers would turn SIGTERM and SIGINT into quit
    // events that the demo never reads; leave the default actions in place.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Windows leaves a full-screen popup window in place when it loses the
    // focus; so does the demo.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        const std::string sdlError = SDL_GetError();
        failStartUp(("no display: " + displayFault(sdlError) + " (SDL video start-up failed: " + sdlError + ")")
                        .c_str());
    }
    // Without a display SDL falls back to drawing off screen, where nobody
    // sees the demo; that counts as no display unless asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* wanted = std::getenv("SDL_VIDEODRIVER");
    if (driver && (!std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) &&
        !(wanted && !std::strcmp(wanted, driver))) {
        failStartUp(("no display: " + unopenedDisplays() + " (SDL found only its '" + driver + "' video driver)")
                        .c_str());
    }
    // From here on an X error or a lost display ends the demo with a line of its own.
    window_system::watchDisplay();
    // No mode change: X11 would keep a changed mode after a kill or a crash,
    // and many desktops have no such mode at all. The frame of this size is
    // drawn offscreen and scaled to whatever the window has.
    sdl.frameWidth = width;
    sdl.frameHeight = height;
}

int SDLCALL quitWatch(void*, SDL_Event* event)
{
    // Every key event passes here as SDL pumps it, so a press that went down
    // and up between two queries is still seen.
    if (event->type == SDL_KEYDOWN && event->key.keysym.scancode == SDL_SCANCODE_ESCAPE) {
        sdl.quitSeen.store(true, std::memory_order_relaxed);
    }
    // The window's close (its close button, Alt+F4, the window manager's
    // close request) ends the demo as Escape does.
    if (event->type == SDL_QUIT ||
        (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_CLOSE)) {
        sdl.quitSeen.store(true, std::memory_order_relaxed);
    }
    return 1;
}

void createWindow()
{
    sdl_platform::watchQuit();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);

    // Pixels, not points, on high-DPI screens: the copy fills the drawable.
    const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | SDL_WINDOW_ALLOW_HIGHDPI;
    // The title that task switchers show, full screen too.
    constexpr const char* title = "demo";
    if (sdl.options.windowed) {
        sdl.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, sdl.options.windowWidth,
                                      sdl.options.windowHeight, flags | SDL_WINDOW_RESIZABLE);
    } else {
        // The desktop's own mode, borderless, covering the screen. The
        // window is made at the screen's place and size too, for X servers
        // without a window manager, where nobody else would resize it.
        SDL_Rect bounds{0, 0, sdl.frameWidth, sdl.frameHeight};
        SDL_GetDisplayBounds(0, &bounds);
        sdl.window = SDL_CreateWindow(title, bounds.x, bounds.y, bounds.w, bounds.h,
                                  flags | SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (!sdl.window) {
        failSdl("no window");
    }
    window_system::watchWindow(sdl.window);
}

void* getProcAddress(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

double seconds()
{
    return static_cast<double>(SDL_GetPerformanceCounter()) / static_cast<double>(SDL_GetPerformanceFrequency());
}

int versionOf(const char* text)
{
    // "4.5 (Compatibility Profile) Mesa ..." gives 45.
    int major = 0;
    int minor = 0;
    if (!text || std::sscanf(text, "%d.%d", &major, &minor) != 2) {
        return 0;
    }
    return major * 10 + minor;
}

void createGlContext()
{
    if (!SDL_GL_CreateContext(sdl.window)) { // made current by SDL
        failSdl("no OpenGL context");
    }
    // The scene needs separate shader program objects (OpenGL 4.1 or
    // ARB_separate_shader_objects) and the compatibility profile's fog state.
    const int version = versionOf(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    if (version < 41 && !SDL_GL_ExtensionSupported("GL_ARB_separate_shader_objects")) {
        failStartUp("the OpenGL context offers neither OpenGL 4.1 nor GL_ARB_separate_shader_objects");
    }
    if (version >= 32) {
        GLint profile = 0;
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
        if ((profile & GL_CONTEXT_CORE_PROFILE_BIT) && !(profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT)) {
            failStartUp("the OpenGL context is not a compatibility-profile context (no fog state)");
        }
    }
    const offscreen_frame::Setup setup = {
        .frameWidth = sdl.frameWidth,
        .frameHeight = sdl.frameHeight,
        .step = sdl.options.step,
        .adaptive = sdl.options.autoScale,
        .density = sdl.options.density,
        .slowStartHint = true,
        .getProcAddress = getProcAddress,
        .seconds = seconds,
    };
    if (const char* missing = offscreen_frame::begin(setup)) {
        failStartUp(missing);
    }
    window_system::limitWindow(sdl.window);
}

void hideCursor()
{
    SDL_ShowCursor(SDL_DISABLE);
}

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};
ThreadStart threadStart;

void* runThread(void* start)
{
    const ThreadStart* s = static_cast<const ThreadStart*>(start);
    // The song has a deadline (the device's play position) and the picture
    // has none: where the system allows it (a raised nice value, or through
    // RealtimeKit on a desktop), this thread runs ahead of llvmpipe's drawing
    // threads. Otherwise it keeps the default priority.
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    s->entry(s->argument);
    return nullptr;
}

void startThread(void (*entry)(void*), void* argument)
{
    threadStart = {entry, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, runThread, &threadStart) == 0) {
        pthread_detach(thread);
    }
}

// The sound device pulls; audio_pull.h hands it what the render thread has
// published and zeros for the rest, and skips what fell due while the
// process did not run, as the watch thread tells it.
AudioPull audioPull;
std::atomic<std::uint32_t> playPosition; // copies of audioPull's counts for other threads
std::atomic<std::uint32_t> skippedCount;

// The watch thread's record (audio_pull.h) as one word, and whether the
// thread runs (without it nothing is ever skipped).
std::atomic<std::uint64_t> processWatch;
std::atomic<bool> watching;

int SDLCALL watchProcess(void*)
{
    // As prompt as the sound device's own thread, so that it wakes on time
    // whenever the process runs.
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
    for (;;) {
        SDL_Delay(AUDIO_WATCH_MS);
        const ProcessWatch watch = unpackWatch(processWatch.load(std::memory_order_relaxed));
        processWatch.store(packWatch(watchWoke(watch, SDL_GetTicks())), std::memory_order_release);
    }
}

void SDLCALL audioCallback(void* pull, Uint8* stream, int length)
{
    AudioPull& p = *static_cast<AudioPull*>(pull);
    if (watching.load(std::memory_order_relaxed)) {
        // The record first, then the clock: the time read is never older
        // than the record's latest waking.
        const ProcessWatch watch = unpackWatch(processWatch.load(std::memory_order_acquire));
        const std::uint32_t now = SDL_GetTicks();
        catchUp(p, now, stalledMsAt(watch, now));
    }
    pullFrames(p, reinterpret_cast<float*>(stream), static_cast<std::uint32_t>(length) / 8);
    playPosition.store(p.position, std::memory_order_relaxed);
    skippedCount.store(p.skipped, std::memory_order_relaxed);
}

void startAudioDevice(const float* samples, std::uint32_t frameCount,
                      const std::atomic<std::uint32_t>* framesReady)
{
    audioPull = {samples, frameCount, framesReady, 0};
    // Without a sound device the demo runs silent, and says so once.
    auto runSilent = [] {
        std::fprintf(stderr, "demo: running without sound: %s\n", SDL_GetError());
        std::fflush(stderr);
    };
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        runSilent();
        return;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = SAMPLE_RATE;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = AUDIO_DEVICE_FRAMES;
    wanted.callback = audioCallback;
    wanted.userdata = &audioPull;
    // No changes allowed: SDL converts to whatever the device takes.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
        runSilent();
        return;
    }
    processWatch.store(packWatch({SDL_GetTicks(), 0}), std::memory_order_relaxed);
    if (SDL_Thread* watch = SDL_CreateThread(watchProcess, "demo-watch", nullptr)) {
        SDL_DetachThread(watch);
        watching.store(true, std::memory_order_relaxed);
    }
    SDL_PauseAudioDevice(device, 0);
}

void beginFrame()
{
    offscreen_frame::markFrameStart();
}

std::uint32_t clockMs()
{
    return SDL_GetTicks();
}

void presentFrame()
{
    // A window larger than GL can draw shows no frame until it is back at
    // the largest size GL can draw; its size is asked again after the copy,
    // which is when GL took it for the window's buffer.
    int width = 0;
    int height = 0;
    if (window_system::drawableFits(sdl.window, width, height)) {
        offscreen_frame::copyToWindow(width, height);
        if (window_system::drawableFits(sdl.window, width, height)) {
            SDL_GL_SwapWindow(sdl.window);
        }
    }
}

void judgeScale()
{
    offscreen_frame::prepareNextFrame();
}

void peekMessage()
{
    // Moves the window system's events into SDL's queue (where the Escape
    // watch sees them); none is taken out of it.
    SDL_PumpEvents();
}

bool quitRequested()
{
    const bool seen = sdl.quitSeen.exchange(false, std::memory_order_relaxed);
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return seen || (keys && keys[SDL_SCANCODE_ESCAPE]);
}

void endProcess()
{
    // Nothing to give back: the display's mode was never changed.
    _exit(0);
}

} // namespace

void sdl_platform::configure(const DemoOptions& chosen)
{
    sdl.options = chosen;
}

const char* sdl_platform::sceneGridName()
{
    return offscreen_frame::gridName();
}

void sdl_platform::watchQuit()
{
    SDL_AddEventWatch(quitWatch, nullptr);
}

std::uint32_t sdl_platform::playedFrames()
{
    return playPosition.load(std::memory_order_relaxed);
}

std::uint32_t sdl_platform::skippedFrames()
{
    return skippedCount.load(std::memory_order_relaxed);
}

const Platform sdlPlatform = {
    .requestDisplayMode = requestDisplayMode,
    .createWindow = createWindow,
    .createGlContext = createGlContext,
    .getProcAddress = getProcAddress,
    .hideCursor = hideCursor,
    .startThread = startThread,
    .startAudioDevice = startAudioDevice,
    .beginFrame = beginFrame,
    .clockMs = clockMs,
    .fogi = glFogi,
    .rectf = glRectf,
    .presentFrame = presentFrame,
    .judgeScale = judgeScale,
    .peekMessage = peekMessage,
    .quitRequested = quitRequested,
    .endProcess = endProcess,
    .failStartUp = failStartUp,
    .openLog = sdl_platform::openLog,
};
