// The demo's guard against its window system: X errors, a lost display, and
// windows larger than GL can draw.
#include "window_system.h"

#include <SDL2/SDL_opengl.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "quoted.h"

namespace {

// GL's largest drawable, from GL_MAX_VIEWPORT_DIMS; until it is read, no limit.
int maxWidth = 1 << 30;
int maxHeight = 1 << 30;

std::string displayName(Display* display)
{
    const char* name = display ? DisplayString(display) : nullptr;
    return command_line::quoted(name ? name : "");
}

// The demo's X window, once it exists; 0 before.
Window demoWindow;

// Where X's keyboard focus was before the demo's window existed.
Window focusBefore = None;

[[noreturn]] void endWith(const std::string& line, int exitCode = 1)
{
    std::fprintf(stderr, "demo: %s\n", line.c_str());
    std::fflush(stderr);
    _exit(exitCode);
}

// Any X error that reaches here is one that nobody waited for: as with
// Xlib's own handler, the demo ends, but with one line of its own.
int onXError(Display* display, XErrorEvent* event)
{
    // The window named as no longer there: another client destroyed it.
    if (demoWindow != 0 && event->resourceid == demoWindow &&
        (event->error_code == BadWindow || event->error_code == BadDrawable)) {
        endWith("the window was closed by another program", 0);
    }
    char what[256] = "";
    XGetErrorText(display, event->error_code, what, sizeof what);
    char number[16];
    std::snprintf(number, sizeof number, "%d", event->request_code);
    char request[128] = "";
    XGetErrorDatabaseText(display, "XRequest", number, "", request, sizeof request);
    char line[512];
    std::snprintf(line, sizeof line, "the X display %s reported an error: %s (request %s%s%d.%d)",
                  displayName(display).c_str(), what, request, *request ? ", " : "", event->request_code,
                  event->minor_code);
    endWith(line);
}

int onXConnectionLost(Display* display)
{
    endWith("the connection to the X display " + displayName(display) + " was lost");
}

// The X display and window behind an SDL window; false where it is none.
bool xWindowOf(SDL_Window* window, Display*& display, Window& xWindow)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
        return false;
    }
    display = info.info.x11.display;
    xWindow = info.info.x11.window;
    return true;
}

// X returns the focus, when a focused window goes, to what its setter
// named. SDL names no place; where the keys went to the window under the
// pointer before (PointerRoot, an X server without a window manager), the
// window that has the focus is set again to return it there.
void returnFocusOnEnd(SDL_Window* window)
{
    Display* display = nullptr;
    Window xWindow = 0;
    if (focusBefore != PointerRoot || !xWindowOf(window, display, xWindow)) {
        return;
    }
    Window focus = None;
    int revertTo = RevertToNone;
    XGetInputFocus(display, &focus, &revertTo);
    if (focus == xWindow && revertTo != RevertToPointerRoot) {
        XSetInputFocus(display, xWindow, RevertToPointerRoot, CurrentTime);
        XFlush(display);
    }
}

int onFocusGained(void* window, SDL_Event* event)
{
    if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
        returnFocusOnEnd(static_cast<SDL_Window*>(window));
    }
    return 1;
}

} // namespace

bool window_system::xDisplayOpens()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

void window_system::watchDisplay()
{
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "x11") == 0) {
        XSetErrorHandler(onXError);
        XSetIOErrorHandler(onXConnectionLost);
        // SDL's own connection is not to be had before a window exists.
        if (Display* display = XOpenDisplay(nullptr)) {
            int revertTo = RevertToNone;
            XGetInputFocus(display, &focusBefore, &revertTo);
            XCloseDisplay(display);
        }
    }
}

void window_system::watchWindow(SDL_Window* window)
{
    Display* display = nullptr;
    Window xWindow = 0;
    if (xWindowOf(window, display, xWindow)) {
        demoWindow = xWindow;
        SDL_AddEventWatch(onFocusGained, window);
        // The focus may have come with the window, before the watch.
        returnFocusOnEnd(window);
    }
}

void window_system::limitWindow(SDL_Window* window)
{
    GLint dims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
    if (dims[0] > 0 && dims[1] > 0) {
        maxWidth = dims[0];
        maxHeight = dims[1];
        SDL_SetWindowMaximumSize(window, maxWidth, maxHeight);
    }
}

bool window_system::drawableFits(SDL_Window* window, int& width, int& height)
{
    // The X server's own size, a round trip: a resize that SDL has not seen
    // yet is the size GL draws at next.
    Display* display = nullptr;
    Window xWindow = 0;
    const bool isX = xWindowOf(window, display, xWindow);
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (isX && XGetGeometry(display, xWindow, &root, &x, &y, &w, &h, &border, &depth)) {
        width = static_cast<int>(w);
        height = static_cast<int>(h);
    } else {
        SDL_GL_GetDrawableSize(window, &width, &height);
    }
    if (width <= maxWidth && height <= maxHeight) {
        return true;
    }
    const int fitWidth = std::min(width, maxWidth);
    const int fitHeight = std::min(height, maxHeight);
    if (isX) {
        // Directly, as for any window: SDL leaves a full-screen window's size alone.
        XResizeWindow(display, xWindow, static_cast<unsigned>(fitWidth), static_cast<unsigned>(fitHeight));
        XFlush(display);
    } else {
        SDL_SetWindowSize(window, fitWidth, fitHeight);
    }
    return false;
}
