#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "log/uSystemInfo.h"

namespace fr {

namespace {

// Any object of this library: dladdr names the file it was loaded from.
const char GAddressAnchor = 0;

std::string ReadWholeFile(const char* APath) {
    std::ifstream F(APath, std::ios::binary);
    if (!F) return {};
    return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
}

}  // namespace

std::string LibraryFileName() {
    Dl_info Info{};
    if (dladdr(&GAddressAnchor, &Info) != 0 && Info.dli_fname && Info.dli_fname[0] == '/') return Info.dli_fname;
    // The main executable may be reported by its invocation name only.
    char Buf[4096];
    const ssize_t N = readlink("/proc/self/exe", Buf, sizeof(Buf) - 1);
    if (N > 0) return std::string(Buf, size_t(N));
    return (Info.dli_fname && Info.dli_fname[0]) ? Info.dli_fname : "";
}

std::string OSDescription() {
    std::string Text = ReadWholeFile("/etc/os-release");
    if (Text.empty()) Text = ReadWholeFile("/usr/lib/os-release");
    utsname U{};
    const std::string Release = uname(&U) == 0 ? std::string(U.release) : std::string();
    return ComposeOSDescription(OSReleasePrettyName(Text), Release);
}

}  // namespace fr
