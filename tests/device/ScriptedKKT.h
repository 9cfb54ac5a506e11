// A scripted cash register for device tests: the far end of a
// pseudo-terminal or of a loopback TCP connection that speaks the framing
// (ENQ/NAK, frame/ACK, answer frame) and answers each command payload with
// what the test's responder returns. Every payload received is recorded.
#pragma once

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "TestBytes.h"
#include "link/LinkPeers.h"

namespace fr::test {

// Answer of one command from its result code on (the echoed code is added).
using TResponder = std::function<std::string(const std::string& APayload)>;
// The command code echoed in the answer to APayload; empty: the payload's own.
using TEcho = std::function<std::string(const std::string& APayload)>;

class TScriptedKKT {
public:
    TScriptedKKT(TTransport ATransport, TResponder AResponder)
        : FTransport(ATransport), FResponder(std::move(AResponder)) {
        if (FTransport == TTransport::Serial)
            FPty = std::make_unique<TPty>();
        else
            FListener = std::make_unique<TTcpListener>();
        FThread = std::thread([this] { Run(); });
    }
    ~TScriptedKKT() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    TScriptedKKT(const TScriptedKKT&) = delete;
    TScriptedKKT& operator=(const TScriptedKKT&) = delete;

    std::string SlavePath() const { return FPty ? FPty->SlavePath : std::string(); }
    int Port() const { return FListener ? FListener->Port : 0; }

    std::vector<std::string> Commands() const {
        std::lock_guard<std::mutex> L(FMutex);
        return FCommands;
    }
    void ClearCommands() {
        std::lock_guard<std::mutex> L(FMutex);
        FCommands.clear();
    }
    void SetResponder(TResponder AResponder) {
        std::lock_guard<std::mutex> L(FMutex);
        FResponder = std::move(AResponder);
    }
    // A register that confuses its answers: AEcho chooses the code it echoes.
    void SetEcho(TEcho AEcho) {
        std::lock_guard<std::mutex> L(FMutex);
        FEcho = std::move(AEcho);
    }

private:
    // Command code of a payload: one byte, or two starting with 0xFF.
    static size_t CodeLength(const std::string& P) { return (!P.empty() && uint8_t(P[0]) == 0xFF) ? 2 : 1; }

    void Run() {
        TPeerIO Conn;
        const TPeerIO* IO = FPty ? &FPty->Master : &Conn;
        while (!FStop) {
            if (FListener && Conn.Fd() < 0) {
                Conn.Reset(FListener->Accept(50));
                // Answers go out in several writes; without this each waits for a delayed ACK.
                const int One = 1;
                if (Conn.Fd() >= 0) setsockopt(Conn.Fd(), IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
                continue;
            }
            struct pollfd P {
                IO->Fd(), POLLIN, 0
            };
            if (poll(&P, 1, 50) <= 0) continue;
            if (!(P.revents & POLLIN)) {
                // Pseudo-terminal without an open slave, or a closed socket.
                if (FListener)
                    Conn.Reset();
                else
                    usleep(10000);
                continue;
            }
            char B = 0;
            if (::read(IO->Fd(), &B, 1) != 1) {
                if (FListener)
                    Conn.Reset();
                else
                    usleep(10000);
                continue;
            }
            if (B == ENQ) {
                IO->Write(std::string(1, NAK));
            } else if (B == STX) {
                const std::string Len = IO->Read(1, 1000);
                if (Len.empty()) continue;
                const std::string Body = IO->Read(size_t(uint8_t(Len[0])) + 1, 1000);
                if (Body.size() != size_t(uint8_t(Len[0])) + 1) continue;
                const std::string Payload = Body.substr(0, Body.size() - 1);
                IO->Write(std::string(1, ACK));
                std::string Answer, Echo;
                {
                    std::lock_guard<std::mutex> L(FMutex);
                    FCommands.push_back(Payload);
                    Answer = FResponder(Payload);
                    if (FEcho) Echo = FEcho(Payload);
                }
                if (Echo.empty()) Echo = Payload.substr(0, CodeLength(Payload));
                IO->Write(MakeFrame(Echo + Answer));
            }
            // The driver's ACK to our answer and anything else: ignored.
        }
    }

    TTransport FTransport;
    TResponder FResponder;
    TEcho FEcho;
    std::unique_ptr<TPty> FPty;
    std::unique_ptr<TTcpListener> FListener;
    mutable std::mutex FMutex;
    std::vector<std::string> FCommands;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

}  // namespace fr::test
