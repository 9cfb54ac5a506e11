// The service windows: on Linux a module of their own that links GTK, which
// the driver carries inside the library and loads on first use, so the
// driver itself needs no GTK and works without a display; on Windows Win32
// windows inside the DLL. Driver and windows meet only through the plain C
// request below.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Which window to show.
enum TFrWindowKind : uint32_t {
    wkLogView = 1,  // the log files of LogDirectory
    wkHelp = 2,     // the help package HelpPackage
    wkKktData = 3,  // the KKT data window, served by the Kkt* callbacks
};

// The grids of the KKT data window, in the order of its tabs.
enum TFrKktGrid : uint32_t {
    kgRegistration = 0,  // registration data
    kgState = 1,         // current state
    kgCounters = 2,      // money counters
};

// One name/value row of a grid, UTF-8.
struct TFrKktRow {
    const char* Name;
    const char* Value;
};

// Takes the rows the driver read for one grid; the texts live only during
// the call.
typedef void (*TFrKktRowsSink)(void* ASinkContext, uint32_t AGrid, const TFrKktRow* ARows, size_t ACount);

// The driver's side of the KKT data window. Each callback returns 0, or
// non-zero with the Russian text of the failure written to AErrorText
// (zero-terminated, cut to AErrorTextSize bytes).
// Reads the rows of kgRegistration, or of kgState together with kgCounters,
// and hands each grid to ASink; on failure no grid is handed over.
typedef int (*TFrKktRead)(void* AContext, uint32_t AGrid, TFrKktRowsSink ASink, void* ASinkContext, char* AErrorText,
                          size_t AErrorTextSize);
// The shift state: 0 closed, 1 open, 2 open longer than 24 hours.
typedef int (*TFrKktShiftState)(void* AContext, int32_t* AState, char* AErrorText, size_t AErrorTextSize);
// Closing the shift, setting the clock.
typedef int (*TFrKktAction)(void* AContext, char* AErrorText, size_t AErrorTextSize);

// One request to the module. Fields are only ever appended; Size tells the
// module how much of the record the driver filled. All texts are UTF-8.
struct TFrWindowRequest {
    uint32_t Size;
    uint32_t Kind;
    const char* Caption;
    // wkLogView: the log folder with a trailing "/".
    const char* LogDirectory;
    // wkHelp: the bytes of the help package (a ZIP archive).
    const void* HelpPackage;
    size_t HelpPackageSize;
    // Out: on failure the module writes the Russian text of the failure
    // here, zero-terminated and cut to ErrorTextSize bytes.
    char* ErrorText;
    size_t ErrorTextSize;
    // wkKktData: the driver's callbacks and the context they are called with.
    void* KktContext;
    TFrKktRead KktRead;
    TFrKktShiftState KktShiftState;
    TFrKktAction KktCloseShift;
    TFrKktAction KktSetClock;
};

// The part of the record every driver fills.
#define FR_WINDOW_REQUEST_BASE_SIZE (offsetof(TFrWindowRequest, ErrorTextSize) + sizeof(size_t))

// The module's one export: shows the window modally on the calling thread
// and returns 0 once it is closed, or non-zero with ErrorText filled.
typedef int (*TFrWindowsRun)(const TFrWindowRequest* ARequest);
#define FR_WINDOWS_ENTRY "FrWindowsRun"
}

#include <string>

namespace fr {

// Runs ARequest through the windows and waits until the window is closed.
// Raises std::runtime_error with a Russian text when the process has no
// desktop to show it on, the windows cannot be loaded, or the window
// reports a failure.
void RunServiceWindow(TFrWindowRequest& ARequest);

// The entry of the windows for ARequest, behind the system seam: on Linux
// the GTK module, loaded on first use from the bytes embedded in the
// library; on Windows the library's own Win32 windows. Raises, as
// RunServiceWindow, when the process has no graphical session or the
// windows cannot be loaded.
TFrWindowsRun ServiceWindowsEntry(const TFrWindowRequest& ARequest);

// The first words of the failure of a window action in a process without a
// graphical session; the system's seam says what is missing.
std::string NoDesktopText(const TFrWindowRequest& ARequest);

// The failure of an action whose windows this build does not carry.
inline constexpr const char* ServiceWindowsNotShippedText = "Окна драйвера не входят в эту сборку библиотеки";

}  // namespace fr
