// The device side of the link on loopback TCP and on a pseudo-terminal:
// the handshake byte by byte, the project's own serial and TCP framings as
// clients, and the link faults.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "EmuTestUtil.h"
#include "TestBytes.h"
#include "link/uComProtocol.h"
#include "link/uCommManager.h"
#include "link/uSocketProtocol.h"
#include "uEmulator.h"

namespace fr {
namespace {

using namespace emutest;
using test::TTransport;

int ConnectTo(uint16_t APort) {
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        close(Fd);
        return -1;
    }
    return Fd;
}

int OpenTerminal(const std::string& APath) {
    int Fd = open(APath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Fd >= 0) {
        termios T{};
        tcgetattr(Fd, &T);
        cfmakeraw(&T);
        tcsetattr(Fd, TCSANOW, &T);
    }
    return Fd;
}

// The same byte-level checks on both transports.
class EmuLink : public ::testing::TestWithParam<TTransport> {
protected:
    bool Tcp() const { return GetParam() == TTransport::Tcp; }
    void SetUp() override {
        if (Tcp()) {
            FClient = std::make_unique<TRawClient>(ConnectTo(FEmu.StartTCP(0)));
        } else {
            FClient = std::make_unique<TRawClient>(OpenTerminal(FEmu.StartSerial()));
        }
        ASSERT_GE(FClient->Fd(), 0);
    }
    TEmulator FEmu;
    std::unique_ptr<TRawClient> FClient;
};

TEST_P(EmuLink, EnquiryFrameAnswerAndAcknowledgement) {
    TRawClient& C = *FClient;
    C.Send("\x05");
    EXPECT_EQ(C.Read(1), "\x15") << "NAK: ready for a command";
    // The frame of 0x11 with password 30: STX, 05, 11, 1E 00 00 00, XOR.
    std::string F = B({0x02, 0x05, 0x11, 0x1E, 0x00, 0x00, 0x00, 0x05 ^ 0x11 ^ 0x1E});
    EXPECT_EQ(Frame(B({0x11}) + Pwd()), F);
    C.Send(F);
    EXPECT_EQ(C.Read(1), "\x06");
    std::string A = C.ReadFrame();
    ASSERT_GE(A.size(), 4u);
    EXPECT_EQ(At(A, 0), 0x02);
    EXPECT_EQ(size_t(At(A, 1)) + 3, A.size());
    EXPECT_EQ(At(A, 2), 0x11) << "echoed code";
    EXPECT_EQ(At(A, 3), 0) << "result";
    EXPECT_EQ(Frame(A.substr(2, A.size() - 3)), A) << "checksum";
    C.Send("\x06");
    C.Send("\x05");
    EXPECT_EQ(C.Read(1), "\x15") << "answer delivered, nothing pending";
    EXPECT_EQ(FEmu.Device().Commands(), std::vector<std::string>{B({0x11}) + Pwd()});
}

TEST_P(EmuLink, UnacknowledgedAnswerIsSentAgainAfterAnAck) {
    TRawClient& C = *FClient;
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x15");
    C.Send(Frame(B({0x10}) + Pwd()));
    ASSERT_EQ(C.Read(1), "\x06");
    std::string First = C.ReadFrame();
    C.Send("\x15");  // the driver refuses the answer
    C.Send("\x05");
    EXPECT_EQ(C.Read(1), "\x06") << "an answer is pending";
    EXPECT_EQ(C.ReadFrame(), First);
    C.Send("\x06");
    C.Send("\x05");
    EXPECT_EQ(C.Read(1), "\x15");
    EXPECT_EQ(FEmu.Device().Commands().size(), 1u) << "the command ran once";
}

TEST_P(EmuLink, BadChecksumGetsNakAndIsNotExecuted) {
    TRawClient& C = *FClient;
    std::string F = Frame(B({0xE0}) + Pwd());
    F.back() = char(F.back() ^ 1);
    C.Send(F);
    EXPECT_EQ(C.Read(1), "\x15");
    EXPECT_TRUE(FEmu.Device().Commands().empty());
    EXPECT_FALSE(FEmu.Device().ShiftOpen());
}

TEST_P(EmuLink, WrongPasswordAnswers79) {
    std::string A = FClient->Exchange(B({0xE0}) + Pwd(1));
    EXPECT_EQ(A.substr(1, 3), B({2, 0xE0, 79}));
    EXPECT_FALSE(FEmu.Device().ShiftOpen());
}

TEST_P(EmuLink, InjectedLinkFaults) {
    TRawClient& C = *FClient;
    const std::string Cmd = B({0x10}) + Pwd();

    FEmu.NakNextFrames(1);
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x15");
    C.Send(Frame(Cmd));
    EXPECT_EQ(C.Read(1), "\x15") << "good frame refused";
    EXPECT_TRUE(FEmu.Device().Commands().empty());

    FEmu.CorruptNextAnswers(1);
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x15");
    C.Send(Frame(Cmd));
    ASSERT_EQ(C.Read(1), "\x06");
    std::string Bad = C.ReadFrame();
    ASSERT_GE(Bad.size(), 4u);
    EXPECT_NE(Frame(Bad.substr(2, Bad.size() - 3)), Bad) << "checksum spoilt";
    C.Send("\x15");
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x06");
    std::string Good = C.ReadFrame();
    EXPECT_EQ(Frame(Good.substr(2, Good.size() - 3)), Good) << "resent intact";
    C.Send("\x06");

    FEmu.TruncateNextAnswers(1);
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x15");
    C.Send(Frame(Cmd));
    ASSERT_EQ(C.Read(1), "\x06");
    std::string Short = C.Read(300, 300);
    ASSERT_GE(Short.size(), 2u);
    EXPECT_EQ(Short.size() + 2, size_t(At(Short, 1)) + 3) << "two bytes short";

    FEmu.SilenceNext(1);
    C.Send("\x05");
    EXPECT_EQ(C.Read(1, 300), "") << "no reply at all";
    C.Send("\x05");
    EXPECT_EQ(C.Read(1), "\x06") << "then the truncated answer is offered again";
    C.ReadFrame();
    C.Send("\x06");

    FEmu.SetAnswerDelay(300);
    auto T0 = std::chrono::steady_clock::now();
    std::string A = C.Exchange(Cmd);
    EXPECT_FALSE(A.empty());
    EXPECT_GE(std::chrono::steady_clock::now() - T0, std::chrono::milliseconds(290));
    FEmu.SetAnswerDelay(0);
    EXPECT_EQ(FEmu.Device().Commands().size(), 3u) << "the refused frame never ran";
}

// FaultAtCommand on frame 2 of a cash-in sequence: what the driver sees
// and whether the command ran (the drawer grows by 1.00 per cash-in run).
TEST_P(EmuLink, FaultAtTheKthCommandFrame) {
    struct TCase {
        TEmuFault Kind;
        const char* Name;
        enum { Nothing, Nak, Damaged, Answer } Reply;
        bool Runs;
    };
    const TCase Cases[] = {
        {TEmuFault::Silence, "silence", TCase::Nothing, false},
        {TEmuFault::Nak, "nak", TCase::Nak, false},
        {TEmuFault::BadChecksum, "bad checksum", TCase::Damaged, true},
        {TEmuFault::CutAnswer, "cut answer", TCase::Damaged, true},
        {TEmuFault::ExtraBytes, "extra bytes", TCase::Damaged, true},
        {TEmuFault::DropConnection, "drop", TCase::Nothing, false},
        {TEmuFault::DeviceError, "device error", TCase::Answer, false},
    };
    const std::string CashIn = B({0x50}) + Pwd() + B({0x64, 0, 0, 0, 0});
    for (const TCase& K : Cases) {
        SCOPED_TRACE(K.Name);
        TEmulator E;
        std::unique_ptr<TRawClient> C;
        if (Tcp()) {
            C = std::make_unique<TRawClient>(ConnectTo(E.StartTCP(0)));
        } else {
            C = std::make_unique<TRawClient>(OpenTerminal(E.StartSerial()));
        }
        ASSERT_EQ(At(Cmd(E.Device(), B({0xE0})), 0), 0) << "shift open without the link";
        uint64_t Before = E.CommandFrameCount();
        E.FaultAtCommand(2, K.Kind, 0x73);
        ASSERT_FALSE(C->Exchange(CashIn).empty()) << "frame 1 is untouched";
        C->Send("\x05");
        ASSERT_EQ(C->Read(1), "\x15");
        C->Send(Frame(CashIn));
        std::string Got = C->Read(300, 400);
        EXPECT_EQ(E.CommandFrameCount() - Before, 2u);
        EXPECT_EQ(E.Device().CashRegister(241), K.Runs ? 200u : 100u);
        switch (K.Reply) {
            case TCase::Nothing:
                EXPECT_EQ(Got, "");
                break;
            case TCase::Nak:
                EXPECT_EQ(Got, "\x15");
                break;
            case TCase::Damaged: {
                ASSERT_GE(Got.size(), 3u);
                EXPECT_EQ(Got[0], '\x06');
                std::string Answer = Frame(B({0x50, 0x00, 0x1E}));  // echoed code, result 0, operator
                std::string Seen = Got.substr(1);
                EXPECT_NE(Seen, Answer);
                if (K.Kind == TEmuFault::BadChecksum) {
                    EXPECT_EQ(Seen.substr(0, 5), Answer.substr(0, 5));
                }
                if (K.Kind == TEmuFault::CutAnswer) {
                    EXPECT_EQ(Seen, Answer.substr(0, Answer.size() - 2));
                }
                if (K.Kind == TEmuFault::ExtraBytes) {
                    ASSERT_EQ(Seen.size(), Answer.size() + 2);
                    EXPECT_EQ(Seen.substr(0, 5), Answer.substr(0, 5));
                    EXPECT_NE(Seen[5], Answer[5]) << "the byte where the checksum belongs is wrong";
                    EXPECT_EQ(Seen.back(), Answer.back());
                }
                // The answer is offered again, intact.
                C->Send("\x15");
                C->Send("\x05");
                EXPECT_EQ(C->Read(1 + Answer.size()), "\x06" + Answer);
                C->Send("\x06");
                break;
            }
            case TCase::Answer:
                EXPECT_EQ(Got, "\x06" + Frame(B({0x50, 0x73})));
                C->Send("\x06");
                break;
        }
        if (K.Kind == TEmuFault::DropConnection && Tcp()) {
            EXPECT_EQ(C->Read(1, 1000), "") << "closed";
            C = std::make_unique<TRawClient>(ConnectTo(E.TCPPort()));
        }
        // The link is sound after the fault.
        EXPECT_EQ(C->Exchange(CashIn), Frame(B({0x50, 0x00, 0x1E})));
    }
}

// A power cut drops a half-received frame and an unacknowledged answer,
// and keeps the device's state.
TEST_P(EmuLink, RestartKeepsTheDeviceAndForgetsTheLink) {
    ASSERT_FALSE(FClient->Exchange(B({0xE0}) + Pwd()).empty());
    std::string Status = Frame(B({0x11}) + Pwd());
    FClient->Send(Status.substr(0, 3));
    FEmu.Restart();
    if (Tcp()) {
        EXPECT_EQ(FClient->Read(1, 1000), "") << "connection closed";
        FClient = std::make_unique<TRawClient>(ConnectTo(FEmu.TCPPort()));
    }
    EXPECT_FALSE(FClient->Exchange(B({0x10}) + Pwd()).empty()) << "the half frame is gone";

    FClient->Send("\x05");
    ASSERT_EQ(FClient->Read(1), "\x15");
    FClient->Send(Status);
    ASSERT_EQ(FClient->Read(1), "\x06");
    FClient->ReadFrame();  // never acknowledged
    FEmu.Restart();
    if (Tcp()) FClient = std::make_unique<TRawClient>(ConnectTo(FEmu.TCPPort()));
    FClient->Send("\x05");
    EXPECT_EQ(FClient->Read(1), "\x15") << "no answer pending after the cut";
    EXPECT_TRUE(FEmu.Device().ShiftOpen());
    EXPECT_EQ(FEmu.Device().Documents().size(), 2u) << "registration and shift open";
}

INSTANTIATE_TEST_SUITE_P(Transports, EmuLink, test::BothTransports(), test::TransportName);

TEST(EmuLinkTCP, DroppedConnectionAndAFreshClient) {
    TEmulator E;
    uint16_t Port = E.StartTCP(0);
    TRawClient C(ConnectTo(Port));
    E.DropNextConnection();
    C.Send("\x05");
    ASSERT_EQ(C.Read(1), "\x15");
    C.Send(Frame(B({0x10}) + Pwd()));
    EXPECT_EQ(C.Read(1, 2000), "") << "closed instead of answered";
    TRawClient C2(ConnectTo(Port));
    EXPECT_FALSE(C2.Exchange(B({0x10}) + Pwd()).empty());
    // A new connection replaces one that is still open.
    TRawClient C3(ConnectTo(Port));
    EXPECT_FALSE(C3.Exchange(B({0x11}) + Pwd()).empty());
}

TEST(EmuLinkTCP, TheDriversSocketFramingTalksToTheEmulator) {
    TEmulator E;
    uint16_t Port = E.StartTCP(0);
    TSocketProtocol P;
    ASSERT_EQ(P.Connect("127.0.0.1", Port), 0);
    std::string R;
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0x11}), "", 0, true, true), 0);
    EXPECT_EQ(At(R, 0), 0);
    EXPECT_GE(R.size(), 47u);
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0xFF, 0x01}), "", 0, true, true), 0);
    EXPECT_EQ(At(R, 0), 0) << "two-byte code stripped";
    EXPECT_EQ(AtLE(R, 27, 4), 1u);
    // A corrupted answer: the framing reports 1014; the next command still works.
    E.CorruptNextAnswers(1);
    EXPECT_EQ(P.RunCommand(R, Pwd(), B({0x10}), "", 0, true, true), 1014);
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0x10}), "", 0, true, true), 0);
    EXPECT_GE(R.size(), 15u);
    P.Disconnect();
}

// At 9600 baud a byte takes 1.04 ms each way: an exchange cannot end before
// the line has carried all its bytes.
TEST(EmuLinkSerial, LineRatePacesBothDirections) {
    TEmuConfig Config;
    Config.Baud = 9600;
    TEmulator E(Config);
    TRawClient C(OpenTerminal(E.StartSerial()));
    ASSERT_GE(C.Fd(), 0);
    const std::string Cmd = B({0x11}) + Pwd();
    auto T0 = std::chrono::steady_clock::now();
    std::string A = C.Exchange(Cmd);
    auto Took = std::chrono::steady_clock::now() - T0;
    ASSERT_FALSE(A.empty());
    // ENQ, NAK, the command frame, ACK, the answer frame; the last ACK is not waited for.
    const size_t Bytes = 1 + 1 + Frame(Cmd).size() + 1 + A.size();
    EXPECT_GE(Took, std::chrono::microseconds(Bytes * 10 * 1000000 / 9600));
    EXPECT_EQ(E.BytesSent(), 2 + A.size()) << "NAK, ACK and the answer";
}

TEST(EmuLinkSerial, TheDriversSerialFramingTalksThroughAComLink) {
    TEmulator E;
    const int N = 117;
    const std::string Dir = std::filesystem::temp_directory_path().string();
    std::string Path;
    bool InDev = access("/dev", W_OK) == 0;
    ASSERT_NO_THROW(Path = E.StartSerial(N, InDev ? "/dev" : Dir));
    EXPECT_EQ(std::filesystem::read_symlink(E.SerialLink()).string(), Path);
    if (!InDev) GTEST_SKIP() << "no write access to /dev for the /dev/com link";
    TComPort Port;
    Port.SetPortNumber(N);
    ASSERT_TRUE(Port.Open());
    TComProtocol P(Port);
    std::string R;
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0xFC}), "", 0, false, true), 0);
    EXPECT_EQ(At(R, 0), 0);
    EXPECT_GT(R.size(), 7u);
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0xE0}), "", 20000, true, true), 0);
    EXPECT_EQ(R, B({0}));
    EXPECT_TRUE(E.Device().ShiftOpen());
    E.NakNextFrames(1);
    ASSERT_EQ(P.RunCommand(R, Pwd(), B({0x10}), "", 0, true, true), 0) << "the framing retries after a NAK";
    Port.Close();
    std::string Link = E.SerialLink();
    E.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(Link)) << "link removed on stop";
}

}  // namespace
}  // namespace fr
