#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "uEmuChannel.h"

namespace fr {
namespace {
std::runtime_error SocketError(const std::string& AWhat) {
    return std::runtime_error("emulator control channel: " + AWhat + ": " + std::strerror(errno));
}
}  // namespace

intptr_t ConnectLoopback(uint16_t APort) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) throw SocketError("socket");
    if (connect(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
        const std::runtime_error E = SocketError("cannot reach port " + std::to_string(APort));
        close(Fd);
        throw E;
    }
    const int One = 1;
    setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    return Fd;
}

void CloseSocket(intptr_t ASocket) {
    close(int(ASocket));
}

void SendAll(intptr_t ASocket, const std::string& AData) {
    for (size_t Done = 0; Done < AData.size();) {
        const ssize_t N = send(int(ASocket), AData.data() + Done, AData.size() - Done, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) throw SocketError("send");
        Done += size_t(N);
    }
}

size_t ReceiveSome(intptr_t ASocket, char* ABuffer, size_t ASize) {
    for (;;) {
        const ssize_t N = recv(int(ASocket), ABuffer, ASize, 0);
        if (N >= 0) return size_t(N);
        if (errno != EINTR) throw SocketError("recv");
    }
}

// The program opens the pseudo-terminal itself.
int UnnumberedSerialRequest() {
    return 0;
}

std::string LocalSerialName(const std::string& APath, int) {
    return APath;
}

}  // namespace fr
