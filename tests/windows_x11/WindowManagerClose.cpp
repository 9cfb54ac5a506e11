#include "windows_x11/WindowManagerClose.h"

#include <X11/Xlib.h>

void CloseAsWindowManager(unsigned long AWindow) {
    Display* D = XOpenDisplay(nullptr);
    if (!D) return;
    XEvent E{};
    E.xclient.type = ClientMessage;
    E.xclient.window = AWindow;
    E.xclient.message_type = XInternAtom(D, "WM_PROTOCOLS", False);
    E.xclient.format = 32;
    E.xclient.data.l[0] = long(XInternAtom(D, "WM_DELETE_WINDOW", False));
    E.xclient.data.l[1] = CurrentTime;
    XSendEvent(D, AWindow, False, NoEventMask, &E);
    XFlush(D);
    XCloseDisplay(D);
}
