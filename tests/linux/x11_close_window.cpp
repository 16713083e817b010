// Asks an X11 window to close the way a window manager does: a
// WM_DELETE_WINDOW client message. Usage: x11_close_window WINDOW-ID
#include <X11/Xlib.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    Display* display = argc == 2 ? XOpenDisplay(nullptr) : nullptr;
    if (!display) return 2;
    XEvent event = {};
    event.xclient = {ClientMessage, 0, True, display, Window(strtoul(argv[1], nullptr, 0)),
                     XInternAtom(display, "WM_PROTOCOLS", False), 32, {}};
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));  // at CurrentTime (0)
    const Status sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);  // sends it
    return sent ? 0 : 1;
}
