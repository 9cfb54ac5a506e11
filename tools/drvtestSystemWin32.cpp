// drvtest on Windows: its arguments taken from the wide command line (the
// narrow one holds only the ANSI code page, and cash-register texts are
// Cyrillic), its output as UTF-8 bytes, and the COM ports the driver opens
// by number (\\.\COM<n>) with whether they can be opened now.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/uSystem.h"
#include "base/uTextCodec.h"
#include "drvtestSystem.h"

namespace {

std::string Utf8(const wchar_t* AText) {
    std::string Out;
    fr::codec::AppendUtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(AText), wcslen(AText)), Out);
    return Out;
}

// "can open", or why not in the system's words.
std::string AccessText(int ANumber) {
    const std::wstring Path = L"\\\\.\\COM" + std::to_wstring(ANumber);
    HANDLE H = CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (H != INVALID_HANDLE_VALUE) {
        CloseHandle(H);
        return "can open";
    }
    const DWORD Error = GetLastError();
    if (Error == ERROR_ACCESS_DENIED) return "cannot open now: another program holds it";
    return "cannot open: " + fr::SystemErrorText(int(Error));
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int Count = 0;
    LPWSTR* Wide = CommandLineToArgvW(GetCommandLineW(), &Count);
    if (!Wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> Args;
    for (int I = 0; I < Count; ++I) Args.push_back(Utf8(Wide[I]));
    LocalFree(Wide);
    return Args;
}

void PrepareOutput() {
    // No "\n" to "\r\n" translation, and a console shows the UTF-8 as text.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
}

void RunPorts() {
    int Found = 0;
    std::printf("Serial ports the driver opens by number (setting PortNumber):\n");
    for (int N = 1; N <= 256; ++N) {
        const std::wstring Name = L"COM" + std::to_wstring(N);
        wchar_t Target[512];
        if (QueryDosDeviceW(Name.c_str(), Target, sizeof Target / sizeof Target[0]) == 0) continue;
        ++Found;
        const std::string Shown = "COM" + std::to_string(N) + " -> " + Utf8(Target);
        std::printf("  %3d  %s  %s\n", N, Pad(Shown, 32).c_str(), AccessText(N).c_str());
    }
    if (!Found) std::printf("  none found\n");
}
