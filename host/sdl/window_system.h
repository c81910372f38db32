#pragma once

// What the Linux demo does when its window system goes wrong while it runs:
//  - the window destroyed by another program ends the demo with one line
//    that says so, and exit code 0;
//  - any other X error or a lost connection to the X display ends the demo with one
//    line, "demo: ..." saying what happened and on which display, and exit
//    code 1 (instead of Xlib's own words, or an abort inside it);
//  - on an X server where the keyboard went to the window under the pointer
//    (no window manager), it goes there again once the window is gone,
//    however the demo ends (SDL hands its window the focus with no place
//    to return to, which would leave the keyboard deaf);
//  - a window made larger than GL can draw (GL_MAX_VIEWPORT_DIMS a side; a
//    picture of that size is more than the window system can take in one
//    copy) is brought back to the largest size GL can draw, and no frame is
//    shown in it until it is.
// Used by platform_sdl.cpp; the display is never changed here (no mode, no
// other window).

#include <SDL2/SDL.h>

namespace window_system {

// Whether the X display that DISPLAY names opens (for the line that says why
// SDL's video start-up failed: a display that opens but offers no screen is
// not one that cannot be opened).
bool xDisplayOpens();

// After SDL's video start-up: on the X11 video driver, installs the
// handlers of X errors and of a lost connection and notes where the
// keyboard's focus is. Elsewhere nothing.
void watchDisplay();

// Once the window exists: an X error about it because it is gone (another
// program destroyed it) ends the demo with one line that says so and exit
// code 0, as a close does; and whenever the window gains the keyboard, the
// focus is set to return where it was before the demo.
void watchWindow(SDL_Window* window);

// After the OpenGL context is made current: reads GL's largest drawable
// size and tells the window system that it is the window's largest size.
void limitWindow(SDL_Window* window);

// Before a frame goes to the window, and again before it is shown: the
// drawable's size now (as the X server has it, where it is an X window),
// and true when that is within what GL can draw. Otherwise false, and the
// window is asked for the largest size GL can draw.
bool drawableFits(SDL_Window* window, int& width, int& height);

} // namespace window_system
