// One TCP connection of the operating system: what TSocketProtocol needs
// from the system, behind one small class. uTcpSocketPosix.cpp uses POSIX
// sockets and poll; uTcpSocketWin32.cpp uses Windows Sockets (started once
// per process and counted) and select. The exchange, its time limits and its
// result codes are TSocketProtocol's, the same on both.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fr {

class TTcpSocket {
public:
    using TClock = std::chrono::steady_clock;

    TTcpSocket() = default;
    ~TTcpSocket();  // closes the connection
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    // Connects to a dotted-decimal IPv4 address (no name lookup, no
    // shorthand forms; blanks around it are the caller's to remove) without
    // blocking, waiting up to AConnectTimeoutMs, then switches to blocking
    // mode with a receive limit of AReceiveTimeoutMs. 0, or 607 the socket
    // library could not start, 604 address, 603 port outside 1..65535, 600
    // no socket, 601 refused or not made in time, 1001 the set-up after the
    // connection failed. A failed attempt leaves nothing open.
    int32_t Connect(const std::string& AAddress, int32_t APort, uint32_t AConnectTimeoutMs, uint32_t AReceiveTimeoutMs);
    // Shuts the connection down and closes it; false when closing failed
    // (the socket is released all the same).
    bool Close();
    bool IsOpen() const;
    // Takes over a connected descriptor (Linux) or SOCKET (Windows) as the
    // connection: the fuzz targets hand it one end of a socket pair.
    void Adopt(intptr_t AHandle) {
        Close();
        FSocket = AHandle;
    }

    // All of ABytes; false when a send failed.
    bool Send(std::string_view ABytes);
    // 1 when data (or the peer's close) can be received, 0 when ADeadline
    // passed first, -1 on failure.
    int WaitReadable(TClock::time_point ADeadline);
    // One receive of up to ACount bytes after WaitReadable said 1: the count,
    // 0 when the peer closed, -1 on failure, -2 when nothing was there after
    // all.
    std::ptrdiff_t Receive(char* ABuffer, size_t ACount);

    // The system error code of the last failure (for SystemErrorText), and
    // the codes of the failures the callers describe themselves.
    int LastError() const { return FError; }
    static int TimedOutError();
    static int NotConnectedError();
    static int ResetError();

private:
    int32_t Fail(int32_t ACode, int AError);

    intptr_t FSocket = -1;      // a descriptor or a SOCKET; -1 when closed on both
    bool FLibraryHeld = false;  // Windows: this connection counts in the library's start-ups
    int FError = 0;
};

}  // namespace fr
