// Helpers of the suites that run the library against the emulator: a
// com<n> number no other test process holds, the count of open client
// connections to a TCP port, the resident memory of the test program and
// device date-times as the driver writes them. Where a port is linked
// differs: /dev/com<n> on Linux, COM<n> of the Wine prefix (its dosdevices
// folder, where the emulator makes the link) on Windows.
//
// What differs by system lives in E2EDevicePosix.cpp and E2EDeviceWin32.cpp:
// the Windows side needs <windows.h>, whose IID is not the host interface's,
// so no unit includes both.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// Why this test program cannot have a com<n> port linked to the emulator,
// or null when it can.
const char* ComLinkUnavailable();

// A port number for a com<n> link that no other process of ours uses at
// the same time: the number is held by a lock file in the temporary
// folder while it is in use. Numbers 60 to 89 are the end-to-end suites';
// other programs take ranges of their own (the emulator's own choice 30 to
// 59, the benchmarks 100 to 119, the fault campaign 120 to 129, the exchange
// timer 130 to 139). Number stays 0 when every number of the range is taken.
class TComNumber {
public:
    explicit TComNumber(int AFirst = 60, int ACount = 30) {
        for (int I = 0; I < ACount && Number == 0; ++I) {
            const int N = AFirst + (ProcessNumber() + I) % ACount;
            const std::filesystem::path Lock =
                std::filesystem::temp_directory_path() / ("fr_com" + std::to_string(N) + ".lock");
            if (Hold(Lock) && !PortExists(N)) Number = N;
            if (Number == 0) Release();
        }
    }
    ~TComNumber() { Release(); }
    TComNumber(const TComNumber&) = delete;
    TComNumber& operator=(const TComNumber&) = delete;
    int Number = 0;

private:
    bool Hold(const std::filesystem::path& ALock);
    void Release();
    static bool PortExists(int N);
    static int ProcessNumber();

    intptr_t FHandle = -1;  // a descriptor or a HANDLE
    std::filesystem::path FLock;
};

// Established client connections to APort on this machine; -1 when the
// system does not say.
int ClientConnections(uint16_t APort);

// The resident memory of this program in kB; 0 when the system does not say.
long ResidentMemoryKb();

// A device date-time (seconds counted as if local time were UTC) as the
// driver writes it into its output documents.
inline std::string DeviceDateTimeText(int64_t ASeconds) {
    const time_t T = time_t(ASeconds);
    struct tm Tm {};
#ifdef _WIN32
    gmtime_s(&Tm, &T);
#else
    gmtime_r(&T, &Tm);
#endif
    char Buf[32];
    std::strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &Tm);
    return Buf;
}
