// What a service window needs from the desktop's window system while it is
// shown, behind the system seam: uGtkCommon.cpp on Linux, uWin32Common.cpp
// on Windows.
#pragma once

#include <cstdint>

namespace fr::win {

// Readies the window system on the calling thread for as long as it lives.
// GTK: starts it when the host has not (raises with a Russian text when no
// display can be opened). Win32: makes the common controls version 6 of the
// library's own manifest active, whatever the host's manifest asks, and
// gives the host its own activation back at the end.
class TDesktopScope {
public:
    TDesktopScope();
    ~TDesktopScope();
    TDesktopScope(const TDesktopScope&) = delete;
    TDesktopScope& operator=(const TDesktopScope&) = delete;

private:
    uintptr_t FCookie = 0;
};

}  // namespace fr::win
