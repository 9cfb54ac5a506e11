#include "uEmuChannel.h"

#include <cstdlib>
#include <stdexcept>

#include "uEmuWire.h"

namespace fr {

TEmuChannel::TEmuChannel() {
    const char* Port = std::getenv("FR_EMULATOR_CONTROL");
    const auto N = emuwire::Number(Port ? Port : "");
    if (!N || *N <= 0 || *N > 65535)
        throw std::runtime_error(
            "FR_EMULATOR_CONTROL does not name the emulator's control port: run the test "
            "through emulator/client/with-emulator");
    FSocket = ConnectLoopback(uint16_t(*N));
}

TEmuChannel::~TEmuChannel() {
    CloseSocket(FSocket);
}

std::vector<std::string> TEmuChannel::Call(const std::string& ARequest) {
    std::lock_guard<std::mutex> L(FMutex);
    SendAll(FSocket, ARequest + "\n");
    const std::string Line = ReadLine();
    if (Line == "ok") return {};
    if (Line.compare(0, 3, "ok ") == 0) return emuwire::Split(std::string_view(Line).substr(3), ' ');
    const std::string Request = ARequest.substr(0, ARequest.find(' '));
    if (Line.compare(0, 6, "error ") == 0) throw std::runtime_error("emulator: " + Line.substr(6));
    throw std::runtime_error("emulator: unexpected answer to " + Request + ": " + Line.substr(0, 200));
}

std::string TEmuChannel::ReadLine() {
    size_t End;
    while ((End = FPending.find('\n')) == std::string::npos) {
        char Buf[65536];
        const size_t N = ReceiveSome(FSocket, Buf, sizeof Buf);
        if (N == 0) throw std::runtime_error("emulator control channel: the emulator closed the connection");
        FPending.append(Buf, N);
    }
    std::string Line = FPending.substr(0, End);
    FPending.erase(0, End + 1);
    return Line;
}

}  // namespace fr
