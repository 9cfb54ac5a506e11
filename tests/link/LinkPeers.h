// Scripted devices for the link tests: the far end of a pseudo-terminal or
// of a loopback TCP connection, driven by a test's own script on a thread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace fr::test {

inline constexpr char STX = 0x02, ENQ = 0x05, ACK = 0x06, NAK = 0x15;

// Frame as the device sends it: STX, length, payload, XOR of length and payload.
inline std::string MakeFrame(const std::string& APayload) {
    std::string F(1, STX);
    F += char(APayload.size());
    F += APayload;
    char L = char(APayload.size());
    for (char C : APayload) L ^= C;
    F += L;
    return F;
}

// Byte I/O on one descriptor with bounded waits; owns the descriptor.
class TPeerIO {
public:
    explicit TPeerIO(int AFd = -1) { Reset(AFd); }
    ~TPeerIO() { Reset(); }
    TPeerIO(const TPeerIO&) = delete;
    TPeerIO& operator=(const TPeerIO&) = delete;

    int Fd() const { return FFd; }
    void Reset(int AFd = -1) {
        if (FFd >= 0) ::close(FFd);
        FFd = AFd;
        // Every read waits in poll() first; writes must be able to give up.
        if (FFd >= 0) fcntl(FFd, F_SETFL, fcntl(FFd, F_GETFL) | O_NONBLOCK);
    }

    // Gives up when the far end takes nothing for ATimeoutMs, so a peer
    // that floods a driver which stopped reading never blocks for good (the
    // descriptor is non-blocking, see Reset).
    void Write(const std::string& S, int ATimeoutMs = 3000) const {
        size_t Done = 0;
        while (Done < S.size()) {
            const ssize_t N = ::send(FFd, S.data() + Done, S.size() - Done, MSG_NOSIGNAL);
            const ssize_t M = (N < 0 && errno == ENOTSOCK) ? ::write(FFd, S.data() + Done, S.size() - Done) : N;
            if (M < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                struct pollfd P {
                    FFd, POLLOUT, 0
                };
                if (poll(&P, 1, ATimeoutMs) <= 0 || !(P.revents & POLLOUT)) return;
                continue;
            }
            if (M <= 0) return;
            Done += size_t(M);
        }
    }

    // Up to N bytes, stopping early when nothing arrives for ATimeoutMs.
    std::string Read(size_t N, int ATimeoutMs = 3000) const {
        std::string S;
        while (S.size() < N) {
            struct pollfd P {
                FFd, POLLIN, 0
            };
            if (poll(&P, 1, ATimeoutMs) <= 0 || !(P.revents & POLLIN)) break;
            char Buf[512];
            const ssize_t R = ::read(FFd, Buf, std::min(sizeof Buf, N - S.size()));
            if (R <= 0) break;
            S.append(Buf, size_t(R));
        }
        return S;
    }
    char ReadByte(int ATimeoutMs = 3000) const {
        const std::string S = Read(1, ATimeoutMs);
        return S.empty() ? char(0) : S[0];
    }
    // One frame from the driver: STX, LEN, LEN bytes, check byte.
    std::string ReadFrame(int ATimeoutMs = 3000) const {
        std::string H = Read(2, ATimeoutMs);
        if (H.size() < 2) return H;
        return H + Read(size_t(uint8_t(H[1])) + 1, ATimeoutMs);
    }

private:
    int FFd = -1;
};

// A pseudo-terminal; the driver opens SlavePath, the test talks on Master.
class TPty {
public:
    TPty() {
        const int M = posix_openpt(O_RDWR | O_NOCTTY);
        if (M < 0 || grantpt(M) != 0 || unlockpt(M) != 0) throw std::runtime_error("no pseudo-terminal");
        Master.Reset(M);
        SlavePath = ptsname(M);
        struct termios T {};
        tcgetattr(M, &T);
        cfmakeraw(&T);
        tcsetattr(M, TCSANOW, &T);
    }
    TPeerIO Master;
    std::string SlavePath;
};

// A listening socket on 127.0.0.1 with an ephemeral port.
class TTcpListener {
public:
    TTcpListener() {
        Listen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        struct sockaddr_in A {};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t L = sizeof A;
        if (::bind(Listen.Fd(), reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(Listen.Fd(), 4) != 0 ||
            ::getsockname(Listen.Fd(), reinterpret_cast<sockaddr*>(&A), &L) != 0)
            throw std::runtime_error("no listener");
        Port = ntohs(A.sin_port);
    }
    // The next connection, or -1 after ATimeoutMs.
    int Accept(int ATimeoutMs = 5000) const {
        struct pollfd P {
            Listen.Fd(), POLLIN, 0
        };
        if (poll(&P, 1, ATimeoutMs) <= 0) return -1;
        return ::accept4(Listen.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    }
    TPeerIO Listen;
    int Port = 0;
};

// Runs a device script on its own thread; joins on destruction.
class TScriptedPeer {
public:
    explicit TScriptedPeer(std::function<void()> AScript) : FThread(std::move(AScript)) {}
    ~TScriptedPeer() { Join(); }
    void Join() {
        if (FThread.joinable()) FThread.join();
    }

private:
    std::thread FThread;
};

inline int64_t MsSince(std::chrono::steady_clock::time_point AStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart).count();
}

}  // namespace fr::test
