#include "log/uSystemInfo.h"

#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <fr_version.h>

namespace fr {

namespace {

// Any object of this library: dladdr names the file it was loaded from.
const char GAddressAnchor = 0;

std::string ReadWholeFile(const char* APath) {
    std::ifstream F(APath, std::ios::binary);
    if (!F) return {};
    return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
}

// Shell-like value of an os-release assignment: quotes removed, backslash
// escapes resolved.
std::string UnquoteValue(std::string_view V) {
    while (!V.empty() && (V.back() == ' ' || V.back() == '\t' || V.back() == '\r')) V.remove_suffix(1);
    if (V.size() >= 2 && (V.front() == '"' || V.front() == '\'') && V.back() == V.front()) {
        const char Q = V.front();
        V = V.substr(1, V.size() - 2);
        if (Q == '\'') return std::string(V);
    }
    std::string R;
    R.reserve(V.size());
    for (size_t I = 0; I < V.size(); ++I) {
        if (V[I] == '\\' && I + 1 < V.size()) ++I;
        R += V[I];
    }
    return R;
}

}  // namespace

std::string LibraryFileName() {
    Dl_info Info{};
    if (dladdr(&GAddressAnchor, &Info) != 0 && Info.dli_fname && Info.dli_fname[0] == '/')
        return Info.dli_fname;
    // The main executable may be reported by its invocation name only.
    char Buf[4096];
    const ssize_t N = readlink("/proc/self/exe", Buf, sizeof(Buf) - 1);
    if (N > 0) return std::string(Buf, size_t(N));
    return (Info.dli_fname && Info.dli_fname[0]) ? Info.dli_fname : "";
}

std::string LibraryVersion() {
    // "+ 0": a version with fewer than four numbers leaves the later macros
    // empty, and those count as 0.
    char Buf[64];
    std::snprintf(Buf, sizeof(Buf), "%d.%d.%d.%d", int(FR_VERSION_MAJOR + 0), int(FR_VERSION_MINOR + 0),
                  int(FR_VERSION_RELEASE + 0), int(FR_VERSION_BUILD + 0));
    return Buf;
}

std::string OSReleasePrettyName(std::string_view AOsRelease) {
    std::string Result;
    size_t Pos = 0;
    while (Pos < AOsRelease.size()) {
        size_t End = AOsRelease.find('\n', Pos);
        if (End == std::string_view::npos) End = AOsRelease.size();
        std::string_view Line = AOsRelease.substr(Pos, End - Pos);
        Pos = End + 1;
        while (!Line.empty() && (Line.front() == ' ' || Line.front() == '\t')) Line.remove_prefix(1);
        constexpr std::string_view Key = "PRETTY_NAME=";
        if (Line.substr(0, Key.size()) == Key) Result = UnquoteValue(Line.substr(Key.size()));
    }
    return Result;
}

std::string ComposeOSDescription(std::string_view APrettyName, std::string_view AKernelRelease) {
    std::string R = APrettyName.empty() ? std::string("Linux") : std::string(APrettyName);
    if (!AKernelRelease.empty()) R += " (" + std::string(AKernelRelease) + ")";
    return R;
}

std::string OSDescription() {
    std::string Text = ReadWholeFile("/etc/os-release");
    if (Text.empty()) Text = ReadWholeFile("/usr/lib/os-release");
    utsname U{};
    const std::string Release = uname(&U) == 0 ? std::string(U.release) : std::string();
    return ComposeOSDescription(OSReleasePrettyName(Text), Release);
}

}  // namespace fr
