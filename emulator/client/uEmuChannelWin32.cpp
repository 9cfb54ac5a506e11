#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "uEmuChannel.h"

namespace fr {
namespace {

std::runtime_error SocketError(const std::string& AWhat) {
    return std::runtime_error("emulator control channel: " + AWhat + ": error " + std::to_string(WSAGetLastError()));
}

// Windows Sockets, started once for the test program's life.
void StartSockets() {
    static const int Result = [] {
        WSADATA Data;
        return WSAStartup(MAKEWORD(2, 2), &Data);
    }();
    if (Result != 0) throw std::runtime_error("emulator control channel: WSAStartup: error " + std::to_string(Result));
}

}  // namespace

intptr_t ConnectLoopback(uint16_t APort) {
    StartSockets();
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const SOCKET S = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (S == INVALID_SOCKET) throw SocketError("socket");
    if (connect(S, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
        const std::runtime_error E = SocketError("cannot reach port " + std::to_string(APort));
        closesocket(S);
        throw E;
    }
    const BOOL One = TRUE;
    setsockopt(S, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&One), sizeof One);
    return intptr_t(S);
}

void CloseSocket(intptr_t ASocket) {
    closesocket(SOCKET(ASocket));
}

void SendAll(intptr_t ASocket, const std::string& AData) {
    for (size_t Done = 0; Done < AData.size();) {
        const int N = send(SOCKET(ASocket), AData.data() + Done, int(AData.size() - Done), 0);
        if (N <= 0) throw SocketError("send");
        Done += size_t(N);
    }
}

size_t ReceiveSome(intptr_t ASocket, char* ABuffer, size_t ASize) {
    const int N = recv(SOCKET(ASocket), ABuffer, int(ASize), 0);
    if (N < 0) throw SocketError("recv");
    return size_t(N);
}

// A Windows program opens serial ports by number only.
int UnnumberedSerialRequest() {
    return -1;
}

std::string LocalSerialName(const std::string&, int ANumber) {
    return "\\\\.\\COM" + std::to_string(ANumber);
}

}  // namespace fr
