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

namespace fr {

namespace {

constexpr const char* kSource = "TSocketProtocol";
using TClock = std::chrono::steady_clock;

// Milliseconds left until ADeadline for poll(), rounded up, never negative.
int MsLeft(TClock::time_point ADeadline) {
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
    return int(std::clamp<int64_t>(Left, 0, 1 << 30));
}

// Waits for AEvents on AFd until ADeadline; the revents, or 0 on expiry,
// -1 on a failed poll.
int WaitFor(int AFd, short AEvents, TClock::time_point ADeadline) {
    for (;;) {
        struct pollfd P {
            AFd, AEvents, 0
        };
        const int R = poll(&P, 1, MsLeft(ADeadline));
        if (R > 0) return P.revents;
        if (R < 0 && errno != EINTR) return -1;
        if (R == 0 && TClock::now() >= ADeadline) return 0;
    }
}

}  // namespace

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

int32_t TSocketProtocol::ReceiveByte(char& B) {
    std::string S;
    const int32_t R = ReceiveBytes(1, S);
    if (R == 0) B = S[0];
    return R;
}

void TSocketProtocol::SkipByte() {
    char B;
    ReceiveByte(B);
}

int32_t TSocketProtocol::SendControl(char AByte) {
    const int32_t R = SendData(std::string_view(&AByte, 1));
    LogLinkBytes(kSource, "-> ", std::string_view(&AByte, 1), R == 0);
    return R;
}

int32_t TSocketProtocol::SendFrame(const std::string& APayload) {
    if (APayload.size() > MaxFramePayload) return 1014;
    return SendData(BuildFrame(APayload)) == 0 ? 0 : 1007;
}

int32_t TSocketProtocol::SendCommand(const std::string& APayload) {
    int32_t Result = 1007;
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        for (int Enquiry = 0; Enquiry < 3; ++Enquiry) {
            Result = SendControl(ENQ);
            if (Result != 0) continue;
            char B = 0;
            Result = ReceiveByte(B);
            LogLinkBytes(kSource, "<- ", std::string_view(&B, 1), Result == 0);
            if (Result != 0) continue;
            if (B == ACK) {
                // An answer nobody took: read, acknowledge and drop it.
                std::string Frame;
                Result = ReadFrame(Frame);
                LogLinkBytes(kSource, "<- ", Frame, Result == 0);
                if (Result != 0) return Result;
                Result = SendControl(ACK);
                continue;
            }
            if (B == NAK) {
                Result = 0;
                break;
            }
            SkipByte();
        }
        if (Result != 0) continue;
        Result = SendFrame(APayload);
        LogLinkBytes(kSource, "-> ", APayload, Result == 0);
        if (Result != 0) continue;
        char B = 0;
        Result = ReceiveByte(B);
        LogLinkBytes(kSource, "<- ", std::string_view(&B, 1), Result == 0);
        if (Result != 0) continue;
        if (B == ACK) return 0;
        if (uint8_t(B) == 0xFF) {
            Result = ReceiveByte(B);
            if (Result != 0) continue;
            LogLinkBytes(kSource, "<- ", std::string_view(&B, 1), true);
            if (B == ACK) return 0;
        }
        Result = 1014;
    }
    return Result;
}

int32_t TSocketProtocol::ReadFrame(std::string& AFrame) {
    AFrame.clear();
    char B = 0;
    if (ReceiveByte(B) != 0) return 1007;
    AFrame += B;  // kept for the log line even when it is not STX
    if (B != STX) return 1014;
    if (ReceiveByte(B) != 0) return 1007;
    AFrame += B;
    std::string Body;
    if (ReceiveBytes(size_t(uint8_t(B)) + 1, Body) != 0) return 1007;
    AFrame += Body;
    return 0;
}

int32_t TSocketProtocol::ReceiveAnswer(std::string& AResponse) {
    std::string Frame;
    const int32_t R = ReadFrame(Frame);
    LogLinkBytes(kSource, "<- ", Frame, R == 0);
    if (R != 0) return 1007;
    const size_t Len = uint8_t(Frame[1]);
    if (Frame.size() != Len + 3) return 1014;
    if (CalcLRC(std::string_view(Frame).substr(1, Len + 1)) != uint8_t(Frame.back())) {
        SendControl(NAK);
        return 1014;
    }
    SendControl(ACK);
    return AnswerFromPayload(std::string_view(Frame).substr(2, Len), AResponse) ? 0 : 1014;
}

int32_t TSocketProtocol::RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                    const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) {
    (void)ATimeout;  // every receive is bounded by the connection's limit
    AResponse.clear();
    FResponse.clear();
    FLastErrno = 0;
    int32_t Result = SendCommand(BuildPayload(AConnectPwd, ACmd, AData, ASendPwd));
    if (AWaitResponse && Result == 0) Result = ReceiveAnswer(AResponse);
    if (Result == 0) FResponse = AResponse;
    FLastResultDescription = LinkResultText(Result);
    if ((Result == 605 || Result == 606) && FLastErrno != 0)
        FLastResultDescription += std::string(". ") + std::strerror(FLastErrno);
    return Result;
}

}  // namespace fr
