#include "link/uTcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "link/uPollDeadline.h"

namespace fr {

namespace {

// Waits for AEvents on AFd until ADeadline; the revents, or 0 on expiry,
// -1 on a failed poll.
int WaitFor(int AFd, short AEvents, TTcpSocket::TClock::time_point ADeadline) {
    for (;;) {
        struct pollfd P {
            AFd, AEvents, 0
        };
        const int R = poll(&P, 1, PollTimeoutMs(ADeadline));
        if (R > 0) return P.revents;
        if (R < 0 && errno != EINTR) return -1;
        if (R == 0 && TTcpSocket::TClock::now() >= ADeadline) return 0;
    }
}

}  // namespace

TTcpSocket::~TTcpSocket() {
    if (FSocket >= 0) ::close(int(FSocket));
}

int TTcpSocket::TimedOutError() {
    return ETIMEDOUT;
}
int TTcpSocket::NotConnectedError() {
    return ENOTCONN;
}
int TTcpSocket::ResetError() {
    return ECONNRESET;
}

bool TTcpSocket::IsOpen() const {
    return FSocket >= 0;
}

int32_t TTcpSocket::Fail(int32_t ACode, int AError) {
    FError = AError;
    return ACode;
}

int32_t TTcpSocket::Connect(const std::string& AAddress, int32_t APort, uint32_t AConnectTimeoutMs,
                            uint32_t AReceiveTimeoutMs) {
    FError = 0;
    // There is no socket library to start: 607 cannot occur here, and no
    // connection holds one.
    FLibraryHeld = false;
    struct sockaddr_in Addr {};
    Addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, AAddress.c_str(), &Addr.sin_addr) != 1) return 604;
    if (APort < 1 || APort > 65535) return 603;
    Addr.sin_port = htons(uint16_t(APort));
    const int32_t Result = [&]() -> int32_t {
        try {
            const int S = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (S < 0) return Fail(600, errno);
            FSocket = S;
            if (::connect(S, reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) != 0) {
                if (errno != EINPROGRESS) return Fail(601, errno);
                const int Ev = WaitFor(S, POLLOUT, TClock::now() + std::chrono::milliseconds(AConnectTimeoutMs));
                if (Ev <= 0) return Fail(601, Ev == 0 ? ETIMEDOUT : errno);
                int Err = 0;
                socklen_t L = sizeof Err;
                if (getsockopt(S, SOL_SOCKET, SO_ERROR, &Err, &L) != 0) return Fail(601, errno);
                if (Err != 0) return Fail(601, Err);
            }
            const int Flags = fcntl(S, F_GETFL);
            if (Flags < 0 || fcntl(S, F_SETFL, Flags & ~O_NONBLOCK) != 0) return Fail(1001, errno);
            struct timeval Tv {
                time_t(AReceiveTimeoutMs / 1000), suseconds_t(AReceiveTimeoutMs % 1000 * 1000)
            };
            if (setsockopt(S, SOL_SOCKET, SO_RCVTIMEO, &Tv, sizeof Tv) != 0) return Fail(1001, errno);
            // Sends are tiny, but a peer that stops reading must not block
            // the caller for ever either.
            setsockopt(S, SOL_SOCKET, SO_SNDTIMEO, &Tv, sizeof Tv);
            // One-byte handshakes must leave at once, not wait for the
            // peer's delayed acknowledgement.
            const int One = 1;
            setsockopt(S, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
            return 0;
        } catch (const std::exception&) {
            return 1001;
        }
    }();
    if (Result != 0 && FSocket >= 0) {
        ::close(int(FSocket));
        FSocket = -1;
    }
    return Result;
}

bool TTcpSocket::Close() {
    if (FSocket < 0) return true;
    ::shutdown(int(FSocket), SHUT_RDWR);
    const int R = ::close(int(FSocket));
    // The descriptor is gone even when close reports an error: never close
    // it twice.
    FSocket = -1;
    if (R != 0) FError = errno;
    return R == 0;
}

bool TTcpSocket::Send(std::string_view ABytes) {
    if (FSocket < 0) return Fail(0, ENOTCONN) != 0;
    size_t Done = 0;
    while (Done < ABytes.size()) {
        // MSG_NOSIGNAL: a peer that closed the connection gives an error,
        // never a SIGPIPE that would end the host.
        const ssize_t N = ::send(int(FSocket), ABytes.data() + Done, ABytes.size() - Done, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return Fail(0, N < 0 ? errno : EIO) != 0;
        Done += size_t(N);
    }
    return true;
}

int TTcpSocket::WaitReadable(TClock::time_point ADeadline) {
    if (FSocket < 0) return Fail(-1, ENOTCONN);
    const int Ev = WaitFor(int(FSocket), POLLIN, ADeadline);
    if (Ev < 0) return Fail(-1, errno);
    if (Ev == 0) return Fail(0, ETIMEDOUT);
    return 1;
}

std::ptrdiff_t TTcpSocket::Receive(char* ABuffer, size_t ACount) {
    if (FSocket < 0) return Fail(-1, ENOTCONN);
    const ssize_t R = ::recv(int(FSocket), ABuffer, ACount, MSG_DONTWAIT);
    if (R < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return -2;
    if (R < 0) return Fail(-1, errno);
    return R;
}

}  // namespace fr
