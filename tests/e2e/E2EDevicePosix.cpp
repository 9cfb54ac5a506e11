#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "E2EDevice.h"

const char* ComLinkUnavailable() {
    return access("/dev", W_OK) == 0 ? nullptr : "no write access to /dev for the /dev/com link";
}

bool TComNumber::Hold(const std::filesystem::path& ALock) {
    FHandle = open(ALock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FHandle < 0 || flock(int(FHandle), LOCK_EX | LOCK_NB) != 0) return false;
    FLock = ALock;
    return true;
}

void TComNumber::Release() {
    if (FHandle < 0) return;
    if (!FLock.empty()) std::filesystem::remove(FLock);
    close(int(FHandle));
    FHandle = -1;
    FLock.clear();
}

bool TComNumber::PortExists(int N) {
    return std::filesystem::exists(std::filesystem::symlink_status("/dev/com" + std::to_string(N)));
}

int TComNumber::ProcessNumber() {
    return int(getpid());
}

int ClientConnections(uint16_t APort) {
    std::ifstream F("/proc/net/tcp");
    if (!F) return -1;
    int N = 0;
    std::string Line;
    std::getline(F, Line);
    while (std::getline(F, Line)) {
        std::istringstream S(Line);
        std::string Slot, Local, Remote, State;
        S >> Slot >> Local >> Remote >> State;
        if (State == "01" && std::stoul(Remote.substr(Remote.find(':') + 1), nullptr, 16) == APort) ++N;
    }
    return N;
}

long ResidentMemoryKb() {
    std::ifstream F("/proc/self/status");
    std::string L;
    while (std::getline(F, L))
        if (L.rfind("VmRSS:", 0) == 0) return std::atol(L.c_str() + 6);
    return 0;
}
