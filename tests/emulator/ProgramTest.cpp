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
#include <vector>

#include "EmuTestUtil.h"
#include "TestBytes.h"
#include "link/uSocketProtocol.h"

namespace fr {
namespace {

using namespace emutest;
using fr::test::ShowHex;
namespace fs = std::filesystem;

TEST(EmuProgram, ServesTCPAndALinkedTerminalAndWritesTheTape) {
    const std::string Exe = std::string(FR_BINARY_DIR) + "/emulator/kkt-emulator";
    ASSERT_TRUE(fs::exists(Exe)) << Exe;
    fs::path Dir = fs::temp_directory_path() / ("kkt-emulator-" + std::to_string(getpid()));
    fs::create_directories(Dir);
    const std::string Text = (Dir / "tape.txt").string(), Png = (Dir / "tape.png").string();

    TProgram Program(
        {"--tcp", "0", "--serial", "99", "--link-dir", Dir.string(), "--tape-text", Text, "--tape-png", Png});
    ASSERT_GT(Program.Pid, 0);

    std::string Tcp = ReadLine(Program.Out), Serial = ReadLine(Program.Out);
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

    kill(Program.Pid, SIGUSR1);
    for (int I = 0; I < 100 && !fs::exists(Png); ++I) usleep(20000);
    EXPECT_TRUE(fs::exists(Png)) << "written while running";
    kill(Program.Pid, SIGTERM);
    EXPECT_EQ(Program.Wait(), 0);

    std::ifstream F(Text);
    std::stringstream S;
    S << F.rdbuf();
    EXPECT_EQ(S.str(), "over TCP\nover the terminal\n");
    EXPECT_GT(fs::file_size(Png), 100u);
    EXPECT_FALSE(fs::is_symlink(Dir / "com99")) << "link removed on exit";
    fs::remove_all(Dir);
}

// The marking options: answers for one code and for the rest, a storage
// busy for the first attempt of every check, and values the program refuses.
TEST(EmuProgram, MarkingAnswersAndBusyStorageFromTheCommandLine) {
    TProgram Program(
        {"--tcp", "0", "--marking-answer", "offline", "--marking-answer", "invalid:01:bad", "--marking-busy", "1"});
    ASSERT_GT(Program.Pid, 0);
    const std::string Tcp = ReadLine(Program.Out);
    ASSERT_EQ(Tcp.rfind("TCP 127.0.0.1:", 0), 0u) << Tcp;
    TSocketProtocol P;
    ASSERT_EQ(P.Connect("127.0.0.1", std::stoi(Tcp.substr(14))), 0);
    // The result code, the storage's own check and the block's first two bytes.
    const auto Check = [&](const std::string& ACode) {
        std::string R;
        EXPECT_EQ(P.RunCommand(R, Pwd(), B({0xFF, 0x61}), B({1, 0, int(ACode.size()), 0}) + ACode, 0, true, true), 0);
        return ShowHex(R.substr(0, 2)) + (R.size() > 6 ? " " + ShowHex(R.substr(5, 2)) : "");
    };
    const auto Reject = [&] {
        std::string R;
        EXPECT_EQ(P.RunCommand(R, Pwd(), B({0xFF, 0x69}), B({0}), 0, true, true), 0);
        EXPECT_EQ(R, B({0}));
    };
    EXPECT_EQ(Check("01:bad"), "04");
    EXPECT_EQ(Check("01:bad"), "00 01 00 05") << "the code after the first colon";
    Reject();
    EXPECT_EQ(Check("0104600439931256215Kfcm3"), "04");
    EXPECT_EQ(Check("0104600439931256215Kfcm3"), "00 03 01 03") << "the default: offline";
    Reject();
    P.Disconnect();
    kill(Program.Pid, SIGTERM);
    EXPECT_EQ(Program.Wait(), 0);

    for (const char* Bad : {"sometimes", "valid:", "VALID"}) {
        TProgram Refused({"--tcp", "0", "--marking-answer", Bad});
        EXPECT_EQ(Refused.Wait(), 2) << Bad;
    }
    TProgram Refused({"--tcp", "0", "--marking-busy", "-1"});
    EXPECT_EQ(Refused.Wait(), 2);
}

}  // namespace
}  // namespace fr
