#include "link/uTcpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <exception>
#include <mutex>

namespace fr {

namespace {

// Windows Sockets is started once per process and counted: the first
// connection starts it, the last one to close releases it.
std::mutex GLibraryLock;
int GLibraryUsers = 0;

bool AcquireLibrary(int& AError) {
    std::lock_guard<std::mutex> G(GLibraryLock);
    if (GLibraryUsers == 0) {
        WSADATA Data{};
        // Version 1.1 holds everything used here.
        const int R = WSAStartup(MAKEWORD(1, 1), &Data);
        if (R != 0) {
            AError = R;
            return false;
        }
    }
    ++GLibraryUsers;
    return true;
}

void ReleaseLibrary() {
    std::lock_guard<std::mutex> G(GLibraryLock);
    if (GLibraryUsers > 0 && --GLibraryUsers == 0) WSACleanup();
}

SOCKET Sock(intptr_t AValue) {
    return static_cast<SOCKET>(AValue);
}

timeval TimeLeft(TTcpSocket::TClock::time_point ADeadline) {
    const auto Left = std::max<int64_t>(
        0, std::chrono::ceil<std::chrono::microseconds>(ADeadline - TTcpSocket::TClock::now()).count());
    timeval Tv{};
    Tv.tv_sec = long(Left / 1000000);
    Tv.tv_usec = long(Left % 1000000);
    return Tv;
}

}  // namespace

TTcpSocket::~TTcpSocket() {
    if (FSocket != -1) closesocket(Sock(FSocket));
    if (FLibraryHeld) ReleaseLibrary();
}

int TTcpSocket::TimedOutError() {
    return WSAETIMEDOUT;
}
int TTcpSocket::NotConnectedError() {
    return WSAENOTCONN;
}
int TTcpSocket::ResetError() {
    return WSAECONNRESET;
}

bool TTcpSocket::IsOpen() const {
    return FSocket != -1;
}

int32_t TTcpSocket::Fail(int32_t ACode, int AError) {
    FError = AError;
    return ACode;
}

int32_t TTcpSocket::Connect(const std::string& AAddress, int32_t APort, uint32_t AConnectTimeoutMs,
                            uint32_t AReceiveTimeoutMs) {
    FError = 0;
    int StartError = 0;
    if (!AcquireLibrary(StartError)) return Fail(607, StartError);
    FLibraryHeld = true;
    const int32_t Result = [&]() -> int32_t {
        sockaddr_in Addr{};
        Addr.sin_family = AF_INET;
        // Dotted-decimal only: no name lookup.
        if (inet_pton(AF_INET, AAddress.c_str(), &Addr.sin_addr) != 1) return 604;
        if (APort < 1 || APort > 65535) return 603;
        Addr.sin_port = htons(uint16_t(APort));
        try {
            const SOCKET S = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (S == INVALID_SOCKET) return Fail(600, WSAGetLastError());
            FSocket = intptr_t(S);
            // Not inherited by processes the host starts.
            SetHandleInformation(reinterpret_cast<HANDLE>(S), HANDLE_FLAG_INHERIT, 0);
            u_long NonBlocking = 1;
            if (ioctlsocket(S, FIONBIO, &NonBlocking) != 0) return Fail(600, WSAGetLastError());
            if (connect(S, reinterpret_cast<const sockaddr*>(&Addr), sizeof Addr) != 0) {
                const int E = WSAGetLastError();
                if (E != WSAEWOULDBLOCK) return Fail(601, E);
                // A refused connection shows in the exception set, a made
                // one in the write set.
                fd_set Writable, Failed;
                FD_ZERO(&Writable);
                FD_ZERO(&Failed);
                FD_SET(S, &Writable);
                FD_SET(S, &Failed);
                timeval Tv = TimeLeft(TClock::now() + std::chrono::milliseconds(AConnectTimeoutMs));
                const int R = select(0, nullptr, &Writable, &Failed, &Tv);
                if (R < 0) return Fail(601, WSAGetLastError());
                if (R == 0) return Fail(601, WSAETIMEDOUT);
                if (FD_ISSET(S, &Failed) || !FD_ISSET(S, &Writable)) {
                    int Err = 0;
                    int L = sizeof Err;
                    getsockopt(S, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&Err), &L);
                    return Fail(601, Err != 0 ? Err : WSAECONNREFUSED);
                }
            }
            u_long Blocking = 0;
            if (ioctlsocket(S, FIONBIO, &Blocking) != 0) return Fail(1001, WSAGetLastError());
            // The receive limit is a DWORD of milliseconds here.
            const DWORD Limit = AReceiveTimeoutMs;
            if (setsockopt(S, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&Limit), sizeof Limit) != 0)
                return Fail(1001, WSAGetLastError());
            setsockopt(S, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&Limit), sizeof Limit);
            const BOOL One = TRUE;
            setsockopt(S, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&One), sizeof One);
            return 0;
        } catch (const std::exception&) {
            return 1001;
        }
    }();
    if (Result != 0) {
        if (FSocket != -1) closesocket(Sock(FSocket));
        FSocket = -1;
        FLibraryHeld = false;
        ReleaseLibrary();
    }
    return Result;
}

bool TTcpSocket::Close() {
    if (FSocket == -1) return true;
    shutdown(Sock(FSocket), SD_BOTH);
    const int R = closesocket(Sock(FSocket));
    if (R != 0) FError = WSAGetLastError();
    FSocket = -1;
    if (FLibraryHeld) {
        FLibraryHeld = false;
        ReleaseLibrary();
    }
    return R == 0;
}

bool TTcpSocket::Send(std::string_view ABytes) {
    if (FSocket == -1) return Fail(0, WSAENOTCONN) != 0;
    while (!ABytes.empty()) {
        const int Part = int(std::min<size_t>(ABytes.size(), 1 << 30));
        const int N = send(Sock(FSocket), ABytes.data(), Part, 0);
        if (N <= 0) return Fail(0, N < 0 ? WSAGetLastError() : WSAECONNRESET) != 0;
        ABytes.remove_prefix(size_t(N));
    }
    return true;
}

int TTcpSocket::WaitReadable(TClock::time_point ADeadline) {
    if (FSocket == -1) return Fail(-1, WSAENOTCONN);
    for (;;) {
        fd_set Readable;
        FD_ZERO(&Readable);
        FD_SET(Sock(FSocket), &Readable);
        timeval Tv = TimeLeft(ADeadline);
        const int R = select(0, &Readable, nullptr, nullptr, &Tv);
        if (R < 0) return Fail(-1, WSAGetLastError());
        if (R > 0) return 1;
        if (TClock::now() >= ADeadline) return Fail(0, WSAETIMEDOUT);
    }
}

std::ptrdiff_t TTcpSocket::Receive(char* ABuffer, size_t ACount) {
    if (FSocket == -1) return Fail(-1, WSAENOTCONN);
    // Blocking mode, but select has just said that data (or the close) is
    // there, so this returns at once; SO_RCVTIMEO bounds it all the same.
    const int R = recv(Sock(FSocket), ABuffer, int(std::min<size_t>(ACount, 1 << 30)), 0);
    if (R < 0) {
        const int E = WSAGetLastError();
        if (E == WSAEWOULDBLOCK || E == WSAEINTR) return -2;
        return Fail(-1, E);
    }
    return R;
}

}  // namespace fr
