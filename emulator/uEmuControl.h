// The control channel of kkt-emulator (--control): test programs that
// cannot host the emulator themselves (Windows tests under Wine) drive it
// over loopback TCP with a line protocol. Each connection owns one emulated
// device, made afresh by "Reset" and stopped when the connection ends; a
// request line is a call of TEmulator or TEmuDevice by its name with its
// arguments (see uEmuWire.h for the text of values), the answer line is
// "ok" with the results, or "error" with what was wrong.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "uEmulator.h"

namespace fr {

// The state of one control connection: its emulator and where serial links go.
class TEmuControlSession {
public:
    TEmuControlSession(TEmuConfig ADefaults, std::string ALinkDir);
    ~TEmuControlSession();
    TEmuControlSession(const TEmuControlSession&) = delete;
    TEmuControlSession& operator=(const TEmuControlSession&) = delete;

    // One request line in, one answer line out (without the line end).
    std::string Answer(const std::string& ALine);

    TEmulator& Emu() { return *FEmu; }
    const TEmuConfig& Defaults() const { return FDefaults; }
    const std::string& LinkDir() const { return FLinkDir; }
    void Reset(const TEmuConfig& AConfig);
    // A com<n> number from AFirst to ALast without an entry in ADir, held
    // against other processes (a lock file in the temporary folder, as the
    // test suites hold theirs) until the session ends or resets; 0 if none.
    int ClaimComNumber(const std::string& ADir, int AFirst, int ALast);

private:
    void ReleaseComNumber();

    TEmuConfig FDefaults;
    std::string FLinkDir;
    std::unique_ptr<TEmulator> FEmu;
    int FComLockFd = -1;
    std::string FComLock;
};

// Serves control connections on 127.0.0.1, one thread per connection.
class TEmuControlServer {
public:
    // APort 0: any free port. Throws std::runtime_error when it cannot listen.
    TEmuControlServer(uint16_t APort, TEmuConfig ADefaults, std::string ALinkDir);
    ~TEmuControlServer();
    TEmuControlServer(const TEmuControlServer&) = delete;
    TEmuControlServer& operator=(const TEmuControlServer&) = delete;

    uint16_t Port() const { return FPort; }
    // Ends every connection (their devices stop) and stops listening.
    void Stop();

private:
    void AcceptLoop();
    void Serve(int AFd);

    TEmuConfig FDefaults;
    std::string FLinkDir;
    int FListenFd = -1;
    int FStopFd = -1;
    uint16_t FPort = 0;
    std::mutex FMutex;
    std::vector<int> FConnections;
    std::vector<std::thread> FThreads;
    std::thread FAcceptThread;
};

}  // namespace fr
