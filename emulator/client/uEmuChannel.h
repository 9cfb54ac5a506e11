// One connection to the control channel of kkt-emulator, and what the test
// program's operating system decides about it: the socket calls and how the
// program names the serial line the emulator serves (uEmuChannelPosix.cpp,
// uEmuChannelWin32.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fr {

class TEmuChannel {
public:
    // Connects to 127.0.0.1 at the port in FR_EMULATOR_CONTROL. Throws
    // std::runtime_error when it is not set or nobody listens there.
    TEmuChannel();
    ~TEmuChannel();
    TEmuChannel(const TEmuChannel&) = delete;
    TEmuChannel& operator=(const TEmuChannel&) = delete;

    // Sends one request line and returns the tokens of its "ok" answer
    // (without "ok"). An "error" answer, a broken connection or an answer
    // that is neither throws std::runtime_error with the text. Calls from
    // several threads take turns.
    std::vector<std::string> Call(const std::string& ARequest);

private:
    std::string ReadLine();

    std::mutex FMutex;
    intptr_t FSocket = -1;  // a descriptor or a SOCKET
    std::string FPending;   // bytes received after the last line
};

// The socket calls of the operating system; each throws std::runtime_error
// on failure. ReceiveSome returns 0 when the peer closed the connection.
intptr_t ConnectLoopback(uint16_t APort);
void CloseSocket(intptr_t ASocket);
void SendAll(intptr_t ASocket, const std::string& AData);
size_t ReceiveSome(intptr_t ASocket, char* ABuffer, size_t ASize);

// The port number StartSerial() without a number asks the emulator for: 0,
// a bare pseudo-terminal, where the program opens the terminal itself; -1,
// a free com<n> link, where it opens ports only by number.
int UnnumberedSerialRequest();
// The name under which this program opens the serial line the emulator
// serves on pseudo-terminal APath, linked as com<ANumber> (0: no link).
std::string LocalSerialName(const std::string& APath, int ANumber);

}  // namespace fr
