// Helpers of the emulator tests: commands in the device's byte layout, a
// driver-side client that speaks the link byte by byte, and the program
// kkt-emulator run as a child.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "uEmuDevice.h"

extern char** environ;

namespace fr::emutest {

inline std::string B(std::initializer_list<int> ABytes) {
    std::string S;
    for (int V : ABytes) S += char(V);
    return S;
}

inline std::string LEn(uint64_t V, int N) {
    std::string S;
    for (int I = 0; I < N; ++I) S += char((V >> (8 * I)) & 0xFF);
    return S;
}

inline uint64_t AtLE(const std::string& S, size_t AOffset, size_t ACount) {
    uint64_t V = 0;
    for (size_t I = 0; I < ACount && AOffset + I < S.size(); ++I) V |= uint64_t(uint8_t(S[AOffset + I])) << (8 * I);
    return V;
}

inline uint8_t At(const std::string& S, size_t AOffset) {
    return AOffset < S.size() ? uint8_t(S[AOffset]) : 0xEE;
}

inline std::string Pwd(uint32_t APassword = 30) {
    return LEn(APassword, 4);
}

// Runs one command on the device and returns what the driver keeps as its
// answer: the payload without the echoed code, result code at offset 0.
inline std::string Cmd(TEmuDevice& D, const std::string& ACode, const std::string& AData = {}, bool APwd = true) {
    std::string A = D.Execute(ACode + (APwd ? Pwd() : std::string()) + AData);
    size_t Echo = (!A.empty() && uint8_t(A[0]) >= 0xFE) ? 2 : 1;
    return A.size() >= Echo ? A.substr(Echo) : std::string();
}

inline std::string Frame(const std::string& APayload) {
    std::string F(1, '\x02');
    F += char(APayload.size());
    F += APayload;
    char L = char(APayload.size());
    for (char C : APayload) L = char(L ^ C);
    return F + L;
}

// The driver's side of the link on one descriptor (owned).
class TRawClient {
public:
    explicit TRawClient(int AFd) : FFd(AFd) {}
    ~TRawClient() {
        if (FFd >= 0) close(FFd);
    }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    void Send(const std::string& S) {
        size_t Done = 0;
        while (Done < S.size()) {
            ssize_t N = ::write(FFd, S.data() + Done, S.size() - Done);
            if (N <= 0) return;
            Done += size_t(N);
        }
    }
    // Up to N bytes, stopping when nothing arrives for ATimeoutMs.
    std::string Read(size_t N, int ATimeoutMs = 3000) {
        std::string S;
        while (S.size() < N) {
            pollfd P{FFd, POLLIN, 0};
            if (poll(&P, 1, ATimeoutMs) <= 0) break;
            char Buf[300];
            ssize_t R = ::read(FFd, Buf, std::min(sizeof Buf, N - S.size()));
            if (R <= 0) break;
            S.append(Buf, size_t(R));
        }
        return S;
    }
    std::string ReadFrame(int ATimeoutMs = 3000) {
        std::string H = Read(2, ATimeoutMs);
        if (H.size() < 2) return H;
        return H + Read(size_t(uint8_t(H[1])) + 1, ATimeoutMs);
    }
    // A complete exchange; returns the answer frame (empty on any deviation).
    std::string Exchange(const std::string& APayload) {
        Send("\x05");
        if (Read(1) != "\x15") return {};
        Send(Frame(APayload));
        if (Read(1) != "\x06") return {};
        std::string F = ReadFrame();
        Send("\x06");
        return F;
    }
    int Fd() const { return FFd; }

private:
    int FFd;
};

// One line of the program's standard output, or empty after ATimeoutMs.
inline std::string ReadLine(int AFd, int ATimeoutMs = 5000) {
    std::string L;
    char C = 0;
    while (true) {
        pollfd P{AFd, POLLIN, 0};
        if (poll(&P, 1, ATimeoutMs) <= 0 || read(AFd, &C, 1) != 1) return L;
        if (C == '\n') return L;
        L += C;
    }
}

// The program started with AArgs, its standard output readable from Out;
// killed when the test ends early.
struct TProgram {
    pid_t Pid = 0;
    int Out = -1;
    explicit TProgram(std::vector<std::string> AArgs) {
        const std::string Exe = std::string(FR_BINARY_DIR) + "/emulator/kkt-emulator";
        AArgs.insert(AArgs.begin(), Exe);
        int Pipe[2];
        if (pipe(Pipe) != 0) return;
        posix_spawn_file_actions_t Fa;
        posix_spawn_file_actions_init(&Fa);
        posix_spawn_file_actions_adddup2(&Fa, Pipe[1], 1);
        posix_spawn_file_actions_addclose(&Fa, Pipe[0]);
        std::vector<char*> Argv;
        for (auto& A : AArgs) Argv.push_back(A.data());
        Argv.push_back(nullptr);
        if (posix_spawn(&Pid, Exe.c_str(), &Fa, nullptr, Argv.data(), environ) != 0) Pid = 0;
        posix_spawn_file_actions_destroy(&Fa);
        close(Pipe[1]);
        Out = Pipe[0];
    }
    ~TProgram() {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        if (Out >= 0) close(Out);
    }
    // Waits for the end and returns the exit status (-1 when it did not exit).
    int Wait() {
        int Status = 0;
        if (Pid <= 0 || waitpid(Pid, &Status, 0) != Pid) return -1;
        Pid = 0;
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    }
};

}  // namespace fr::emutest
