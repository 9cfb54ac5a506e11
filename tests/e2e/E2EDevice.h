// Helpers of the suites that run the library against the emulator: a
// com<n> number no other test process holds, the count of open client
// connections to a TCP port, and device date-times as the driver writes
// them. Where a port is linked differs: /dev/com<n> on Linux, COM<n> of the
// Wine prefix (its dosdevices folder, where the emulator makes the link) on
// Windows.
#pragma once

#include <unistd.h>
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#endif

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Why this test program cannot have a com<n> port linked to the emulator,
// or null when it can.
inline const char* ComLinkUnavailable() {
#ifdef _WIN32
    return nullptr;
#else
    return access("/dev", W_OK) == 0 ? nullptr : "no write access to /dev for the /dev/com link";
#endif
}

// A port number for a com<n> link that no other process of ours uses at
// the same time: the number is held by a lock file in the temporary
// folder while it is in use. Numbers 60 to 89 are the end-to-end suites';
// other programs (the benchmarks, the emulator's own choice) take ranges of
// their own. Number stays 0 when every number of the range is taken.
class TComNumber {
public:
    explicit TComNumber(int AFirst = 60, int ACount = 30) {
        for (int I = 0; I < ACount && Number == 0; ++I) {
            const int N = AFirst + (getpid() + I) % ACount;
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
#ifdef _WIN32
    // The file is open without sharing, so no other process can open it,
    // and it goes with its last handle.
    bool Hold(const std::filesystem::path& ALock) {
        FHandle = CreateFileW(ALock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        return FHandle != INVALID_HANDLE_VALUE;
    }
    void Release() {
        if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
    }
    static bool PortExists(int N) {
        wchar_t Target[512];
        return QueryDosDeviceW((L"COM" + std::to_wstring(N)).c_str(), Target, 512) != 0;
    }
    HANDLE FHandle = INVALID_HANDLE_VALUE;
#else
    bool Hold(const std::filesystem::path& ALock) {
        FFd = open(ALock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FFd < 0 || flock(FFd, LOCK_EX | LOCK_NB) != 0) return false;
        FLock = ALock;
        return true;
    }
    void Release() {
        if (FFd < 0) return;
        if (!FLock.empty()) std::filesystem::remove(FLock);
        close(FFd);
        FFd = -1;
        FLock.clear();
    }
    static bool PortExists(int N) {
        return std::filesystem::exists(std::filesystem::symlink_status("/dev/com" + std::to_string(N)));
    }
    int FFd = -1;
    std::filesystem::path FLock;
#endif
};

// Established client connections to APort on this machine.
inline int ClientConnections(uint16_t APort) {
    int N = 0;
#ifdef _WIN32
    ULONG Size = 0;
    GetTcpTable(nullptr, &Size, FALSE);
    std::vector<char> Buf(Size);
    auto* T = reinterpret_cast<MIB_TCPTABLE*>(Buf.data());
    if (Size == 0 || GetTcpTable(T, &Size, FALSE) != NO_ERROR) return -1;
    for (DWORD I = 0; I < T->dwNumEntries; ++I)
        if (T->table[I].dwState == MIB_TCP_STATE_ESTAB && ntohs(u_short(T->table[I].dwRemotePort)) == APort) ++N;
#else
    std::ifstream F("/proc/net/tcp");
    std::string Line;
    std::getline(F, Line);
    while (std::getline(F, Line)) {
        std::istringstream S(Line);
        std::string Slot, Local, Remote, State;
        S >> Slot >> Local >> Remote >> State;
        if (State == "01" && std::stoul(Remote.substr(Remote.find(':') + 1), nullptr, 16) == APort) ++N;
    }
#endif
    return N;
}

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
