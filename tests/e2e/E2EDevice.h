// Helpers of the suites that run the library against the emulator: a
// /dev/com<n> number no other test process holds, the count of open
// client connections to a TCP port, and device date-times as the driver
// writes them.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A port number for a /dev/com<n> link that no other process of ours uses at
// the same time: the number is held by an advisory lock in the temporary
// folder while it is in use. Numbers 60 to 89 are the end-to-end suites';
// other programs (the benchmarks) take a range of their own. Number stays 0
// when every number of the range is taken.
class TComNumber {
public:
    explicit TComNumber(int AFirst = 60, int ACount = 30) {
        for (int I = 0; I < ACount && Number == 0; ++I) {
            const int N = AFirst + (getpid() + I) % ACount;
            const std::string Lock =
                (std::filesystem::temp_directory_path() / ("fr_com" + std::to_string(N) + ".lock"));
            const int Fd = open(Lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (Fd < 0) continue;
            if (flock(Fd, LOCK_EX | LOCK_NB) == 0 &&
                !std::filesystem::exists(std::filesystem::symlink_status("/dev/com" + std::to_string(N)))) {
                Number = N;
                FFd = Fd;
                FLock = Lock;
            } else {
                close(Fd);
            }
        }
    }
    ~TComNumber() {
        if (FFd >= 0) {
            std::filesystem::remove(FLock);
            close(FFd);
        }
    }
    TComNumber(const TComNumber&) = delete;
    TComNumber& operator=(const TComNumber&) = delete;
    int Number = 0;

private:
    int FFd = -1;
    std::string FLock;
};

// Established client connections of this process to APort.
inline int ClientConnections(uint16_t APort) {
    std::ifstream F("/proc/net/tcp");
    std::string Line;
    std::getline(F, Line);
    int N = 0;
    while (std::getline(F, Line)) {
        std::istringstream S(Line);
        std::string Slot, Local, Remote, State;
        S >> Slot >> Local >> Remote >> State;
        if (State == "01" && std::stoul(Remote.substr(Remote.find(':') + 1), nullptr, 16) == APort) ++N;
    }
    return N;
}

// A device date-time (seconds counted as if local time were UTC) as the
// driver writes it into its output documents.
inline std::string DeviceDateTimeText(int64_t ASeconds) {
    const time_t T = time_t(ASeconds);
    struct tm Tm {};
    gmtime_r(&T, &Tm);
    char Buf[32];
    std::strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &Tm);
    return Buf;
}
