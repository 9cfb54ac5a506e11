#include "link/uSocketProtocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/uStrings.h"
#include "link/uLinkFrame.h"
#include "link/uPollDeadline.h"

namespace fr {

namespace {

using TClock = std::chrono::steady_clock;

// Waits for AEvents on AFd until ADeadline; the revents, or 0 on expiry,
// -1 on a failed poll.
int WaitFor(int AFd, short AEvents, TClock::time_point ADeadline) {
    for (;;) {
        struct pollfd P {
            AFd, AEvents, 0
        };
        const int R = poll(&P, 1, PollTimeoutMs(ADeadline));
        if (R > 0) return P.revents;
        if (R < 0 && errno != EINTR) return -1;
        if (R == 0 && TClock::now() >= ADeadline) return 0;
    }
}

constexpr TLinkRules SocketRules{"TSocketProtocol", /*LogWholeFrame=*/false, /*FFMayPrecedeAck=*/true,
                                 /*LastStepDecides=*/true, /*SkipAfterUnexpected=*/true};

}  // namespace

TSocketProtocol::TSocketProtocol() : TLinkExchange(SocketRules) {}

TSocketProtocol::~TSocketProtocol() {
    CloseSocket();
}

void TSocketProtocol::CloseSocket() {
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
}

int32_t TSocketProtocol::Fail(int32_t ACode, int AErrno) {
    FLastErrno = AErrno;
    return ACode;
}

int32_t TSocketProtocol::Connect(const std::string& AIPAddress, int32_t ATCPPort) {
    FIPAddress = AIPAddress;
    FTCPPort = ATCPPort;
    FLastErrno = 0;
    CloseSocket();  // a second Connect must not leak the first connection
    const int32_t Result = [&]() -> int32_t {
        struct sockaddr_in Addr {};
        Addr.sin_family = AF_INET;
        // Dotted-decimal only: no name lookup, no shorthand forms.
        if (inet_pton(AF_INET, Trim(AIPAddress).c_str(), &Addr.sin_addr) != 1) return 604;
        if (ATCPPort < 1 || ATCPPort > 65535) return 603;
        Addr.sin_port = htons(uint16_t(ATCPPort));
        try {
            FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (FSocket < 0) return Fail(600, errno);
            if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) != 0) {
                if (errno != EINPROGRESS) return Fail(601, errno);
                const int Ev = WaitFor(FSocket, POLLOUT, TClock::now() + std::chrono::milliseconds(ConnectTimeout));
                if (Ev <= 0) return Fail(601, Ev == 0 ? ETIMEDOUT : errno);
                int Err = 0;
                socklen_t L = sizeof Err;
                if (getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &Err, &L) != 0) return Fail(601, errno);
                if (Err != 0) return Fail(601, Err);
            }
            const int Flags = fcntl(FSocket, F_GETFL);
            if (Flags < 0 || fcntl(FSocket, F_SETFL, Flags & ~O_NONBLOCK) != 0) return Fail(1001, errno);
            struct timeval Tv {
                time_t(FReceiveTimeout / 1000), suseconds_t(FReceiveTimeout % 1000 * 1000)
            };
            if (setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &Tv, sizeof Tv) != 0) return Fail(1001, errno);
            // Sends are tiny, but a peer that stops reading must not block
            // the caller for ever either.
            setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &Tv, sizeof Tv);
            // One-byte handshakes must leave at once, not wait for the
            // peer's delayed acknowledgement.
            const int One = 1;
            setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
            return 0;
        } catch (const std::exception&) {
            return 1001;
        }
    }();
    if (Result != 0) CloseSocket();
    FLastResultDescription = LinkResultText(Result);
    if (Result != 0 && FLastErrno != 0) FLastResultDescription += std::string(". ") + std::strerror(FLastErrno);
    return Result;
}

int32_t TSocketProtocol::Disconnect() {
    if (FSocket < 0) return 0;
    ::shutdown(FSocket, SHUT_RDWR);
    const int R = ::close(FSocket);
    // The descriptor is gone even when close reports an error: never close
    // it twice.
    FSocket = -1;
    return R == 0 ? 0 : -1;
}

int32_t TSocketProtocol::SendData(std::string_view S) {
    if (FSocket < 0) return Fail(605, ENOTCONN);
    size_t Done = 0;
    while (Done < S.size()) {
        const ssize_t N = ::send(FSocket, S.data() + Done, S.size() - Done, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return Fail(605, N < 0 ? errno : EIO);
        Done += size_t(N);
    }
    return 0;
}

int32_t TSocketProtocol::ReceiveBytes(size_t N, std::string& S) {
    S.clear();
    if (FSocket < 0) return Fail(606, ENOTCONN);
    // The whole read is bounded by one receive limit, so a peer that drips
    // bytes cannot stretch it.
    const auto Deadline = TClock::now() + std::chrono::milliseconds(FReceiveTimeout);
    while (S.size() < N) {
        const int Ev = WaitFor(FSocket, POLLIN, Deadline);
        if (Ev <= 0) {
            if (S.empty()) return Fail(606, Ev == 0 ? ETIMEDOUT : errno);
            break;
        }
        char Buf[512];
        const ssize_t R = ::recv(FSocket, Buf, std::min(sizeof Buf, N - S.size()), MSG_DONTWAIT);
        if (R < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (R <= 0) {
            // Closed by the peer or reset: what arrived is all there is.
            if (S.empty()) return Fail(606, R < 0 ? errno : ECONNRESET);
            break;
        }
        S.append(Buf, size_t(R));
    }
    return 0;
}

int32_t TSocketProtocol::WriteBytes(std::string_view ABytes) {
    return SendData(ABytes);
}

int32_t TSocketProtocol::ReadByte(char& AByte, uint32_t) {
    std::string S;
    const int32_t R = ReceiveBytes(1, S);
    if (R == 0) AByte = S[0];
    return R;
}

int32_t TSocketProtocol::ReadBody(size_t ACount, std::string& ABody) {
    return ReceiveBytes(ACount, ABody);
}

int32_t TSocketProtocol::RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                    const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) {
    (void)ATimeout;  // every receive is bounded by the connection's limit
    FResponse.clear();
    FLastErrno = 0;
    const int32_t Result = RunExchange(AResponse, AConnectPwd, ACmd, AData, FReceiveTimeout, ASendPwd, AWaitResponse);
    if (Result == 0) FResponse = AResponse;
    FLastResultDescription = LinkResultText(Result);
    if ((Result == 605 || Result == 606) && FLastErrno != 0)
        FLastResultDescription += std::string(". ") + std::strerror(FLastErrno);
    return Result;
}

}  // namespace fr
