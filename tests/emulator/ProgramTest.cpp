// The kkt-emulator program: serves TCP and a linked pseudo-terminal, writes
// the tape on SIGUSR1 and on exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EmuTestUtil.h"
#include "link/uSocketProtocol.h"

extern char** environ;

namespace fr {
namespace {

using namespace emutest;
namespace fs = std::filesystem;

// One line of the program's standard output, or empty after ATimeoutMs.
std::string ReadLine(int AFd, int ATimeoutMs = 5000) {
    std::string L;
    char C = 0;
    while (true) {
        pollfd P{AFd, POLLIN, 0};
        if (poll(&P, 1, ATimeoutMs) <= 0 || read(AFd, &C, 1) != 1) return L;
        if (C == '\n') return L;
        L += C;
    }
}

TEST(EmuProgram, ServesTCPAndALinkedTerminalAndWritesTheTape) {
    const std::string Exe = std::string(FR_BINARY_DIR) + "/emulator/kkt-emulator";
    ASSERT_TRUE(fs::exists(Exe)) << Exe;
    fs::path Dir = fs::temp_directory_path() / ("kkt-emulator-" + std::to_string(getpid()));
    fs::create_directories(Dir);
    const std::string Text = (Dir / "tape.txt").string(), Png = (Dir / "tape.png").string();

    int Out[2];
    ASSERT_EQ(pipe(Out), 0);
    posix_spawn_file_actions_t Fa;
    posix_spawn_file_actions_init(&Fa);
    posix_spawn_file_actions_adddup2(&Fa, Out[1], 1);
    posix_spawn_file_actions_addclose(&Fa, Out[0]);
    std::vector<std::string> Args = {Exe,          "--tcp",       "0",  "--serial",   "99", "--link-dir",
                                     Dir.string(), "--tape-text", Text, "--tape-png", Png};
    std::vector<char*> Argv;
    for (auto& A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Pid = 0;
    // A failed assertion must not leave the program running.
    struct TReaper {
        pid_t& P;
        ~TReaper() {
            if (P > 0) {
                kill(P, SIGKILL);
                waitpid(P, nullptr, 0);
            }
        }
    } Reaper{Pid};
    ASSERT_EQ(posix_spawn(&Pid, Exe.c_str(), &Fa, nullptr, Argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&Fa);
    close(Out[1]);

    std::string Tcp = ReadLine(Out[0]), Serial = ReadLine(Out[0]);
    ASSERT_EQ(Tcp.rfind("TCP 127.0.0.1:", 0), 0u) << Tcp;
    int Port = std::stoi(Tcp.substr(14));
    ASSERT_NE(Serial.find("linked as " + (Dir / "com99").string()), std::string::npos) << Serial;

    TSocketProtocol P;
    ASSERT_EQ(P.Connect("127.0.0.1", Port), 0);
    std::string R;
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0x17}), B({3}) + "over TCP", 0, true, true), 0);
    EXPECT_EQ(R, B({0}));
    P.Disconnect();

    int Fd = open((Dir / "com99").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(Fd, 0);
    termios T{};
    tcgetattr(Fd, &T);
    cfmakeraw(&T);
    tcsetattr(Fd, TCSANOW, &T);
    TRawClient C(Fd);
    std::string A = C.Exchange(B({0x17}) + Pwd() + B({3}) + "over the terminal");
    EXPECT_EQ(A.substr(2, 2), B({0x17, 0}));

    kill(Pid, SIGUSR1);
    for (int I = 0; I < 100 && !fs::exists(Png); ++I) usleep(20000);
    EXPECT_TRUE(fs::exists(Png)) << "written while running";
    kill(Pid, SIGTERM);
    int Status = 0;
    ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
    Pid = 0;
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    close(Out[0]);

    std::ifstream F(Text);
    std::stringstream S;
    S << F.rdbuf();
    EXPECT_EQ(S.str(), "over TCP\nover the terminal\n");
    EXPECT_GT(fs::file_size(Png), 100u);
    EXPECT_FALSE(fs::is_symlink(Dir / "com99")) << "link removed on exit";
    fs::remove_all(Dir);
}

}  // namespace
}  // namespace fr
