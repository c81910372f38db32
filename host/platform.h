#pragma once

// The platform layer: the few operations that the demo host needs, named for
// what they do. The host (demo_main.cpp, shader_program.cpp, audio.cpp) is
// written once against this table; platform_sdl.cpp (Linux, SDL2) and
// platform_win32.cpp (Windows: the Win32, WGL and wave-out calls) fill
// it in. Tests hand the host a table of fakes. Every table is filled by
// field name (.createWindow = ...), never by position.

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "gl_api.h"

struct Platform {
    // First at start-up: asks for a temporary full-screen mode of the given
    // size, which the platform may decline. Windows changes the mode (a
    // refused change leaves the desktop's; nothing is reported); Linux always
    // declines and keeps the desktop's mode: the frame of this size is drawn
    // offscreen and scaled to the window.
    void (*requestDisplayMode)(int width, int height);
    // Then one borderless, visible, maximised window (no title).
    // (Linux: covering the desktop, or an ordinary window when asked for.)
    void (*createWindow)();
    // Then the window's device context, a double-buffered
    // pixel format, a compatibility-profile OpenGL context made current.
    // (Linux: with the offscreen frame bound for drawing.)
    void (*createGlContext)();
    // An OpenGL entry point by name; null when it cannot be had.
    void* (*getProcAddress)(const char* name);
    // Hides the mouse pointer over the window, once the shader program is
    // made.
    void (*hideCursor)();
    // Starts `entry(argument)` on a new thread that runs at once; nothing is kept.
    void (*startThread)(void (*entry)(void*), void* argument);
    // Opens the default sound output (44,100 Hz, stereo, 32-bit float) and
    // plays `frameCount` interleaved stereo frames from `samples` once, from
    // the start, on the device's own clock. `framesReady` is the render
    // thread's published count of finished frames (acquire order); a pulling
    // device plays unpublished frames as zero, and after a stall of the
    // process goes on at the frame that is due by the clock, as a device
    // handed the whole buffer does. Never waits; no result.
    void (*startAudioDevice)(const float* samples, std::uint32_t frameCount,
                             const std::atomic<std::uint32_t>* framesReady);
    // The frame loop's first step, before the clock is read: a frame begins,
    // and where the frame is drawn offscreen its time is measured from here.
    // (Nothing where the frame is drawn straight to the window.)
    void (*beginFrame)();
    // The system's millisecond counter, unsigned 32-bit, wrapping.
    std::uint32_t (*clockMs)();
    // The base-set OpenGL calls of the frame loop.
    PfnGlFogi fogi;
    PfnGlRectf rectf;
    // Shows the frame just drawn: the buffer swap. Where the frame is drawn
    // offscreen (always on Linux; on Windows with options, or where the mode
    // change was refused) it is first copied to the window, scaled to fit.
    void (*presentFrame)();
    // After the present, where the frame is drawn offscreen: the scale of
    // the next frame as the frame times judge it (a change builds that
    // scale's framebuffer and makes its program current), and the offscreen
    // frame bound for drawing again. (Nothing where the frame is drawn
    // straight to the window.)
    void (*judgeScale)();
    // Looks at the window's messages without removing any.
    void (*peekMessage)();
    // True when the viewer asked to end the demo: Escape down now or pressed
    // since the previous query, or the window's close asked for (its close
    // button, Alt+F4, the window manager).
    bool (*quitRequested)();
    // Ends the process at once with exit code 0, wherever the other threads
    // stand. Does not return.
    void (*endProcess)();
    // Ends the process with exit code 1 after one line on stderr naming what
    // is missing. Does not return.
    void (*failStartUp)(const char* what);
    // Opens the shader log `path` for buffered binary writing, created or
    // emptied, as fopen(path, "wb") does for an ordinary file. Never waits
    // and never follows a symbolic link: a link or a named pipe that nobody
    // reads gives null after one line on stderr, a file that cannot be
    // written null alone, and the log is skipped. Null in a table: fopen.
    std::FILE* (*openLog)(const char* path);
};
