// The control channel of kkt-emulator (--control): each connection drives a
// device of its own, a request reaches the device or the link, an answer
// carries their state; a bad request is refused with its reason and the
// connection goes on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <termios.h>

#include <filesystem>
#include <memory>

#include "EmuTestUtil.h"
#include "uEmuWire.h"

namespace fr {
namespace {

using namespace emutest;
namespace fs = std::filesystem;

int ConnectTo(uint16_t APort) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd >= 0 && connect(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
        close(Fd);
        return -1;
    }
    return Fd;
}

// One control connection: a request line in, its answer line out.
class TControl {
public:
    explicit TControl(uint16_t APort) : FFd(ConnectTo(APort)) {}
    ~TControl() { Close(); }
    void Close() {
        if (FFd >= 0) close(FFd);
        FFd = -1;
    }
    std::string operator()(const std::string& ALine) {
        const std::string L = ALine + "\n";
        if (FFd < 0 || send(FFd, L.data(), L.size(), MSG_NOSIGNAL) != ssize_t(L.size())) return "(not sent)";
        return ReadLine(FFd);
    }

private:
    int FFd;
};

class EmuControl : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("kkt-emulator-control-" + std::to_string(getpid()));
        fs::create_directories(Dir);
        Program = std::make_unique<TProgram>(std::vector<std::string>{"--control", "0", "--link-dir", Dir});
        const std::string Line = ReadLine(Program->Out);
        ASSERT_EQ(Line.rfind("control 127.0.0.1:", 0), 0u) << Line;
        Port = uint16_t(std::stoi(Line.substr(18)));
    }
    void TearDown() override {
        kill(Program->Pid, SIGTERM);
        EXPECT_EQ(Program->Wait(), 0);
        fs::remove_all(Dir);
    }
    // The number an "ok" answer carries.
    static int Number(const std::string& AAnswer) { return std::stoi(AAnswer.substr(3)); }

    fs::path Dir;
    std::unique_ptr<TProgram> Program;
    uint16_t Port = 0;
};

TEST_F(EmuControl, FaultKnobsStrikeTheLinkAndTheDevice) {
    TControl C(Port);
    ASSERT_EQ(C("Reset PrintPolls=0"), "ok");
    const std::string Tcp = C("StartTCP");
    ASSERT_EQ(Tcp.rfind("ok ", 0), 0u) << Tcp;
    EXPECT_EQ(C("NakNextFrames 1"), "ok");
    EXPECT_EQ(C("FailCommand 17 1 115"), "ok");  // 0x11, "not supported in this mode"
    TRawClient Driver(ConnectTo(uint16_t(Number(Tcp))));
    const std::string State = B({0x11}) + Pwd();
    EXPECT_EQ(Driver.Exchange(State), "") << "NAK: the frame does not run";
    EXPECT_EQ(Driver.Exchange(State).substr(2, 2), B({0x11, 0x73}));
    EXPECT_EQ(Driver.Exchange(State).substr(2, 2), B({0x11, 0x00}));
    EXPECT_EQ(C("CommandFrameCount"), "ok 3");
    EXPECT_EQ(C("Commands"), "ok 2 111E000000 111E000000");
    EXPECT_EQ(C("ClearCommands"), "ok");
    EXPECT_EQ(C("Commands"), "ok 0");
}

TEST_F(EmuControl, DocumentsReadBackWithTheirRecords) {
    TControl C(Port);
    ASSERT_EQ(C("Reset Fiscalised=0 FFD=3"), "ok");
    EXPECT_EQ(C("Documents"), "ok 0");
    EXPECT_EQ(C("FNLifeState"), "ok 1");
    ASSERT_EQ(C("Reset PrintPolls=0"), "ok");
    EXPECT_EQ(C("Execute E01E000000"), "ok E000");  // the shift opens
    EXPECT_EQ(C("ShiftOpen"), "ok 1");
    const std::string Answer = C("Documents");
    const auto Tokens = emuwire::Split(Answer, ' ');
    ASSERT_EQ(Tokens.size(), 4u) << Answer;
    EXPECT_EQ(Tokens[1], "2");
    const auto Shift = emuwire::ParseDocument(Tokens[3]);
    ASSERT_TRUE(Shift) << Tokens[3];
    EXPECT_EQ(Shift->Number, 2u);
    EXPECT_EQ(Shift->Type, 2);
    EXPECT_NEAR(double(Shift->Time), double(Number(C("Clock"))), 5);
    EXPECT_NE(emuwire::Hex(Shift->TLV).find("0E04040001000000"), std::string::npos) << "1038: shift 1";
    EXPECT_EQ(C("LastDocumentNumber"), "ok 2");
    EXPECT_EQ(C("TableField 99 1 1"), "ok ") << "an empty value is an empty token, not none";
    EXPECT_EQ(C("ClearTape"), "ok") << "no result at all";
}

TEST_F(EmuControl, BadRequestsAreRefusedWithTheirReason) {
    TControl C(Port);
    const std::pair<const char*, const char*> Cases[] = {
        {"Bogus", "error unknown request 'Bogus'"},
        {"FailCommand 17 1", "error FailCommand takes 3 arguments, not 2"},
        {"CashRegister 70000", "error CashRegister: argument 1 '70000' is not a whole number from 0 to 65535"},
        {"SetTableField 17 1 7 0", "error SetTableField: argument 4 '0' is not hex"},
        {"FaultAtCommand 1 Loud", "error FaultAtCommand: argument 2 'Loud' is no known name"},
        {"Reset LineLen=wide", "error Reset: bad value for LineLen: LineLen=wide"},
        {"Reset Colour=1", "error Reset: no configuration field Colour"},
        {"StartTCP 0 3132372E30", "error not a dotted IPv4 address: 127.0"},
    };
    for (const auto& [Request, Refusal] : Cases) EXPECT_EQ(C(Request), Refusal);
    EXPECT_EQ(C("Mode"), "ok 4") << "the connection goes on";

    TProgram Both({"--control", "0", "--tcp", "0"});
    EXPECT_EQ(Both.Wait(), 2) << "--control makes no device of its own";
}

TEST_F(EmuControl, SerialStartLinksTheTerminalUntilTheConnectionEnds) {
    auto C = std::make_unique<TControl>(Port);
    const auto A = emuwire::Split((*C)("StartSerial 7"), ' ');
    ASSERT_EQ(A.size(), 4u);
    const fs::path Link = Dir / "com7";
    EXPECT_EQ(*emuwire::Unhex(A[2]), Link.string());
    EXPECT_EQ(A[3], "7");
    ASSERT_TRUE(fs::is_symlink(Link));
    EXPECT_EQ(fs::read_symlink(Link).string(), *emuwire::Unhex(A[1]));
    const int Fd = open(Link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(Fd, 0);
    termios T{};
    tcgetattr(Fd, &T);
    cfmakeraw(&T);
    tcsetattr(Fd, TCSANOW, &T);
    TRawClient Driver(Fd);
    EXPECT_EQ(Driver.Exchange(B({0x11}) + Pwd()).substr(2, 2), B({0x11, 0x00}));

    // A number of the emulator's choosing, for programs that open ports by number.
    TControl Other(Port);
    const auto Free = emuwire::Split(Other("StartSerial -1"), ' ');
    ASSERT_EQ(Free.size(), 4u);
    const int N = std::stoi(Free[3]);
    EXPECT_TRUE(N >= 30 && N <= 59) << N;
    EXPECT_TRUE(fs::is_symlink(Dir / ("com" + std::to_string(N))));
    EXPECT_EQ(Other("Stop"), "ok");
    EXPECT_FALSE(fs::exists(fs::symlink_status(Dir / ("com" + std::to_string(N)))));

    C.reset();  // the connection ends: its device stops and removes its link
    for (int I = 0; I < 100 && fs::is_symlink(Link); ++I) usleep(20000);
    EXPECT_FALSE(fs::is_symlink(Link));
}

}  // namespace
}  // namespace fr
