#include <windows.h>

#include <string>
#include <vector>

#include "base/uStrings.h"
#include "base/uSystem.h"
#include "log/uSystemInfo.h"

namespace fr {

namespace {

// Any object of this library: its address names the module that holds it.
const char GAddressAnchor = 0;

// RtlGetVersion tells the real version; GetVersionEx reports 6.2 to a
// module without a compatibility manifest on every newer Windows.
using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOEXW*);

}  // namespace

std::string LibraryFileName() {
    HMODULE Module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GAddressAnchor), &Module))
        return {};
    std::vector<wchar_t> Buf(MAX_PATH);
    for (;;) {
        const DWORD N = GetModuleFileNameW(Module, Buf.data(), DWORD(Buf.size()));
        if (N == 0) return {};
        if (N < Buf.size()) return PortablePath(Utf16ToUtf8(std::u16string(Buf.data(), Buf.data() + N)));
        Buf.resize(Buf.size() * 2);
    }
}

std::string OSDescription() {
    const HMODULE Ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto Get =
        Ntdll ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(GetProcAddress(Ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOEXW V{};
    V.dwOSVersionInfoSize = sizeof V;
    if (!Get || Get(&V) != 0) return "Unknown ";
    const std::u16string ServicePack(V.szCSDVersion, V.szCSDVersion + wcsnlen(V.szCSDVersion, 128));
    return ComposeWindowsDescription(V.dwMajorVersion, V.dwMinorVersion, V.dwBuildNumber,
                                     V.dwPlatformId == VER_PLATFORM_WIN32_NT, Utf16ToUtf8(ServicePack));
}

}  // namespace fr
