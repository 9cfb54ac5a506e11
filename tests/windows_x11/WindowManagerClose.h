// Kept apart from the tests: Xlib's macros clash with GoogleTest's names.
#pragma once

// Sends the window manager's close request (WM_DELETE_WINDOW) to the X
// window AWindow on the display named by DISPLAY.
void CloseAsWindowManager(unsigned long AWindow);
