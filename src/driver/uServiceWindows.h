// The service windows live in a module of their own that links GTK; the
// driver carries it inside the library and loads it on first use, so the
// driver itself needs no GTK and works without a display. Driver and module
// meet only through the plain C request below.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Which window to show.
enum TFrWindowKind : uint32_t {
    wkLogView = 1,  // the log files of LogDirectory
    wkHelp = 2,     // the help package HelpPackage
};

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
};

// The module's one export: shows the window modally on the calling thread
// and returns 0 once it is closed, or non-zero with ErrorText filled.
typedef int (*TFrWindowsRun)(const TFrWindowRequest* ARequest);
#define FR_WINDOWS_ENTRY "FrWindowsRun"
}

#include <string>

namespace fr {

// Loads the module on first use (from the bytes embedded in the library)
// and runs ARequest through it. Raises std::runtime_error with a Russian
// text when there is no display, the module or GTK cannot be loaded, or the
// window reports a failure.
void RunServiceWindow(TFrWindowRequest& ARequest);

}  // namespace fr
