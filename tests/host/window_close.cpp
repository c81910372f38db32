// Closes an X window the way other programs do, for the tests of the
// demo's close:
//   window_close --request WINDOW  asks the window manager to close it
//                                  (_NET_CLOSE_WINDOW on the root window, as
//                                  a task bar or pager sends it);
//   window_close --destroy WINDOW  destroys it (XDestroyWindow), as a
//                                  program that holds no regard for it may.
// WINDOW is a window id (decimal or 0x hexadecimal). Exit code 0 once the
// request is sent, 1 when the display cannot be opened, 2 for bad arguments.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "--request") != 0 && std::strcmp(argv[1], "--destroy") != 0)) {
        std::fprintf(stderr, "usage: window_close --request|--destroy WINDOW\n");
        return 2;
    }
    char* end = nullptr;
    const Window window = std::strtoul(argv[2], &end, 0);
    if (!*argv[2] || *end || window == 0) {
        std::fprintf(stderr, "window_close: not a window id: %s\n", argv[2]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window_close: cannot open the display\n");
        return 1;
    }
    if (std::strcmp(argv[1], "--destroy") == 0) {
        XDestroyWindow(display, window);
    } else {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2; // from a pager or task bar: a user's request
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
