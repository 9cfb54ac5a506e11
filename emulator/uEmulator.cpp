#include "uEmulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "uEmuLink.h"

namespace fr {
namespace {
std::runtime_error SysError(const std::string& AWhat) {
    return std::runtime_error(AWhat + ": " + std::strerror(errno));
}
}  // namespace

TEmulator::TEmulator(TEmuConfig AConfig) : FDevice(std::make_unique<TEmuDevice>(std::move(AConfig))) {
    FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FTCPWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FSerialWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopFd < 0 || FTCPWakeFd < 0 || FSerialWakeFd < 0) throw SysError("eventfd");
}

TEmulator::~TEmulator() {
    Stop();
    close(FStopFd);
    close(FTCPWakeFd);
    close(FSerialWakeFd);
}

uint16_t TEmulator::StartTCP(uint16_t APort, const std::string& AAddress) {
    if (FListenFd >= 0) return FTCPPort;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    if (inet_pton(AF_INET, AAddress.c_str(), &A.sin_addr) != 1)
        throw std::runtime_error("not a dotted IPv4 address: " + AAddress);
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) throw SysError("socket");
    int One = 1;
    setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    if (bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) < 0 || listen(Fd, 4) < 0) {
        std::runtime_error E = SysError("cannot listen on " + AAddress + ":" + std::to_string(APort));
        close(Fd);
        throw E;
    }
    socklen_t L = sizeof A;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &L);
    FTCPPort = ntohs(A.sin_port);
    FListenFd = Fd;
    FTCPThread = std::thread([this] { TCPLoop(); });
    return FTCPPort;
}

void TEmulator::TCPLoop() {
    int Conn = -1;
    for (;;) {
        if (Conn < 0) {
            pollfd P[2] = {{FListenFd, POLLIN, 0}, {FStopFd, POLLIN, 0}};
            if (poll(P, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (P[1].revents) return;
            Conn = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (Conn < 0) continue;
            int One = 1;
            setsockopt(Conn, IPPROTO_TCP, 1 /* TCP_NODELAY */, &One, sizeof One);
        }
        TEmuLinkSession S(*FDevice, Conn, true, FStopFd, FListenFd, FTCPWakeFd);
        TEmuLinkSession::TEnd End = S.Serve();
        shutdown(Conn, SHUT_RDWR);
        close(Conn);
        Conn = -1;
        if (End == TEmuLinkSession::leStopped) return;
    }
}

std::string TEmulator::StartSerial(int APortNumber, const std::string& ALinkDir) {
    if (FMasterFd >= 0) return FSerialPath;
    int M = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (M < 0) throw SysError("posix_openpt");
    char Name[128];
    if (grantpt(M) < 0 || unlockpt(M) < 0 || ptsname_r(M, Name, sizeof Name) != 0) {
        std::runtime_error E = SysError("pseudo-terminal");
        close(M);
        throw E;
    }
    int S = open(Name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (S < 0) {
        std::runtime_error E = SysError(std::string("open ") + Name);
        close(M);
        throw E;
    }
    // The link session polls before it reads and waits before it writes.
    fcntl(M, F_SETFL, fcntl(M, F_GETFL) | O_NONBLOCK);
    termios T{};
    tcgetattr(S, &T);
    cfmakeraw(&T);
    tcsetattr(S, TCSANOW, &T);
    std::string Link;
    if (APortNumber > 0) {
        Link = ALinkDir + "/com" + std::to_string(APortNumber);
        struct stat St {};
        if (lstat(Link.c_str(), &St) == 0) {
            if (!S_ISLNK(St.st_mode) || unlink(Link.c_str()) != 0) {
                close(S);
                close(M);
                throw std::runtime_error(Link + " exists and is not a symbolic link");
            }
        }
        if (symlink(Name, Link.c_str()) != 0) {
            std::runtime_error E = SysError("symlink " + Link);
            close(S);
            close(M);
            throw E;
        }
    }
    FMasterFd = M;
    FSlaveFd = S;
    FSerialPath = Name;
    FSerialLink = Link;
    FSerialThread = std::thread([this] { SerialLoop(); });
    return FSerialPath;
}

void TEmulator::SerialLoop() {
    const int Baud = FDevice->Config().Baud;
    // A paced line sleeps for tens of microseconds a byte; the default timer
    // slack of this thread would add more than that to every sleep.
    if (Baud > 0) prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    for (;;) {
        TEmuLinkSession S(*FDevice, FMasterFd, false, FStopFd, -1, FSerialWakeFd);
        S.SetBaud(Baud);
        TEmuLinkSession::TEnd End = S.Serve();
        if (End == TEmuLinkSession::leStopped) return;
        if (End == TEmuLinkSession::leRestart) continue;
        // Read errors on the terminal side are transient (a driver closing
        // its end); pause briefly so a hang-up cannot spin.
        pollfd P{FStopFd, POLLIN, 0};
        if (poll(&P, 1, 20) > 0) return;
    }
}

void TEmulator::Stop() {
    uint64_t One = 1;
    if (write(FStopFd, &One, sizeof One) < 0) {
        // The counter cannot overflow with one write; nothing to recover.
    }
    if (FTCPThread.joinable()) FTCPThread.join();
    if (FSerialThread.joinable()) FSerialThread.join();
    uint64_t Drain = 0;
    while (read(FStopFd, &Drain, sizeof Drain) > 0) {
    }
    if (FListenFd >= 0) close(FListenFd);
    FListenFd = -1;
    if (!FSerialLink.empty()) {
        // Remove the link only while it still names our terminal.
        std::error_code Ec;
        if (std::filesystem::read_symlink(FSerialLink, Ec) == FSerialPath) unlink(FSerialLink.c_str());
        FSerialLink.clear();
    }
    if (FSlaveFd >= 0) close(FSlaveFd);
    if (FMasterFd >= 0) close(FMasterFd);
    FSlaveFd = FMasterFd = -1;
    FSerialPath.clear();
}

void TEmulator::NakNextFrames(int N) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().NakFrames += N;
}
void TEmulator::CorruptNextAnswers(int N) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().CorruptAnswers += N;
}
void TEmulator::TruncateNextAnswers(int N) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().TruncateAnswers += N;
}
void TEmulator::SilenceNext(int N) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().Silence += N;
}
void TEmulator::DropNextConnection(int N) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().DropConnections += N;
}
void TEmulator::SetAnswerDelay(int AMs) {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().AnswerDelayMs = AMs;
}

void TEmulator::FaultAtCommand(int AK, TEmuFault AKind, uint8_t ADeviceResult) {
    auto L = FDevice->Lock();
    TEmuLinkFaults& F = FDevice->LinkFaults();
    F.Scheduled.push_back({F.Frames + uint64_t(std::max(AK, 1)), AKind, ADeviceResult});
}

void TEmulator::ClearFaultsAtCommand() {
    auto L = FDevice->Lock();
    FDevice->LinkFaults().Scheduled.clear();
}

uint64_t TEmulator::CommandFrameCount() const {
    auto L = FDevice->Lock();
    return FDevice->LinkFaults().Frames;
}

uint64_t TEmulator::BytesReceived() const {
    auto L = FDevice->Lock();
    return FDevice->LinkFaults().BytesIn;
}

uint64_t TEmulator::BytesSent() const {
    auto L = FDevice->Lock();
    return FDevice->LinkFaults().BytesOut;
}

void TEmulator::Restart() {
    {
        auto L = FDevice->Lock();
        ++FDevice->LinkFaults().Restarts;
        if (FMasterFd >= 0) tcflush(FMasterFd, TCIFLUSH);
    }
    uint64_t One = 1;
    for (int Fd : {FTCPWakeFd, FSerialWakeFd}) {
        if (write(Fd, &One, sizeof One) < 0) {
            // A full counter already wakes the session.
        }
    }
}

}  // namespace fr
