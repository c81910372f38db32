#pragma once

// The Linux host's presentation: each frame is drawn into an offscreen
// framebuffer of the frame's size divided by the scale (1920x1080 at scale
// 1), with the very same calls as on Windows, and then copied to the
// window's drawable scaled to fit with its aspect ratio kept, black bars
// where the shapes differ, linear filtering. With `--scale auto` the frame
// times choose the scale (scale_governor.h) and the scene program of each
// scale is built when it is first needed. Used by platform_sdl.cpp; needs a
// current OpenGL context with framebuffer objects.

namespace scaled_frame {

// After the context is made current (start-up step 5): makes the
// framebuffer for `scale`, binds it for drawing and sets the viewport to it.
// Returns null, or what is missing when the context cannot do this.
const char* begin(int frameWidth, int frameHeight, int scale, bool adaptive);

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

// The scale of the frame being drawn.
int scale();

} // namespace scaled_frame
