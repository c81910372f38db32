#pragma once

// The offscreen frame and its copy to the window, shared by the platform
// layers (platform_sdl.cpp always, platform_win32.cpp where the window did not
// get the frame's size): each frame is drawn into an offscreen framebuffer of
// the internal size (the frame's size, 1920x1080, at scale 1; the scale's
// drawn size, or the frame's size times the sample density, otherwise), with
// the very same calls as when drawing straight to the window, and then copied
// to the window's drawable scaled to fit with its aspect ratio kept, black
// bars where the shapes differ, linear filtering. With `--scale auto` the
// frame times choose the scale (scale_governor.h) and the scene program of
// each scale is built when it is first needed. Needs a current OpenGL context with framebuffer
// objects; OpenGL entry points beyond the base set are fetched through the
// platform's getProcAddress and the time comes from the platform's clock, so
// nothing here belongs to one platform.

namespace offscreen_frame {

struct Setup {
    // The frame that the shader's screen mapping is written for.
    int frameWidth;
    int frameHeight;
    // The scale of the first frame (an index into SCENE_SCALES) and whether
    // the frame times may change it (then the first frame is the probe
    // whose time predicts the scale of the second: ScaleGovernor::probing).
    int step;
    bool adaptive;
    // D x D samples for every frame pixel (D > 1: a fixed density, never
    // adaptive; 1: the scales).
    int density;
    // Whether slow frames get one line on stderr: at a fixed full
    // resolution, whose first two frames are slow, a line that names
    // `--scale auto`; at a density that the GPU cannot keep up with, a line
    // that says so (only where the command line has those options).
    bool slowStartHint;
    // An OpenGL entry point by name, null when it cannot be had.
    void* (*getProcAddress)(const char* name);
    // A steady clock in seconds, read where frame times are needed.
    double (*seconds)();
};

// Once the OpenGL context is made current: makes the
// framebuffer for the first scale, binds it for drawing and sets the
// viewport to it. Returns null, or what is missing when the context cannot
// do this (then nothing is left bound and the window is drawn to as before).
const char* begin(const Setup& setup);

// The frame loop read the clock: a frame begins.
void markFrameStart();

// After a frame is drawn into the framebuffer: copies it to the default
// framebuffer of `drawableWidth` x `drawableHeight` pixels. Where the frame
// time is needed (`--scale auto`, and the first two frames for the hint on
// slow ones) the copy is waited for and the time from markFrameStart taken.
void copyToWindow(int drawableWidth, int drawableHeight);

// After the swap: the scale of the next frame (a change rebuilds the
// framebuffer and makes that scale's program current), and the framebuffer
// bound for drawing again.
void prepareNextFrame();

// The name of the grid of the frame being drawn: the scale's name
// (SCENE_SCALES), or "density-D".
const char* gridName();

} // namespace offscreen_frame
