#include "log/uSystemInfo.h"

#include <cstdio>

#include <fr_version.h>

namespace fr {

namespace {

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

std::string ComposeWindowsDescription(uint32_t AMajor, uint32_t AMinor, uint32_t ABuild, bool ANTPlatform,
                                      std::string_view AServicePack) {
    const char* Name = "Unknown";
    if (AMajor == 3)
        Name = "Windows NT 3";
    else if (AMajor == 4 && AMinor == 0)
        Name = ANTPlatform ? "Windows NT 4" : "Windows 95";
    else if (AMajor == 4 && AMinor == 10)
        Name = "Windows 98";
    else if (AMajor == 4 && AMinor == 90)
        Name = "Windows ME";
    else if (AMajor == 5 && AMinor == 0)
        Name = "Windows 2000";
    else if (AMajor == 5 && AMinor == 1)
        Name = "Windows XP";
    else if (AMajor == 5 && AMinor == 2)
        Name = "Windows 2003";
    else if (AMajor == 6 && AMinor == 0)
        Name = "Windows Vista";
    else if (AMajor == 6 && AMinor == 1)
        Name = "Windows 7";
    else if (AMajor == 6 && AMinor == 2)
        Name = "Windows 8.0";
    else if (AMajor == 6 && AMinor == 3)
        Name = "Windows 8.1";
    else if (AMajor == 10 && AMinor == 0)
        Name = "Windows 10";
    std::string R = std::string(Name) + " ";
    if (!AServicePack.empty()) R += std::string(AServicePack) + " ";
    return R + "(" + std::to_string(AMajor) + "." + std::to_string(AMinor) + "." + std::to_string(ABuild) + ")";
}

}  // namespace fr
