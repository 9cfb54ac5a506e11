// Both framings against scripted devices: the same scripts run over a
// pseudo-terminal (TComProtocol) and over loopback TCP (TSocketProtocol).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "TestBytes.h"
#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "link/LinkPeers.h"
#include "link/uComProtocol.h"
#include "link/uSocketProtocol.h"
#include "log/uLog.h"

namespace fr {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

const std::string Pwd("\x1E\x00\x00\x00", 4);

// One transport with its scripted device end.
struct TLink {
    virtual ~TLink() = default;
    virtual int32_t Run(std::string& AResponse, const std::string& ACmd, const std::string& AData, bool AWait = true,
                        bool ASendPwd = true) = 0;
    virtual std::string Description() = 0;
    // Shortens the handshake and receive limits so that silence tests are quick.
    virtual void SetWait(uint32_t AMs) = 0;
    TPeerIO* Peer = nullptr;
    bool Serial = false;
};

struct TSerialLink : TLink {
    TPty Pty;
    TComPort Port;
    TComProtocol Protocol{Port};
    TSerialLink() {
        Serial = true;
        Peer = &Pty.Master;
        Port.SetDevicePath(Pty.SlavePath);
        if (!Port.Open()) throw std::runtime_error(Port.ExtResultDescription());
        SetWait(300);
    }
    int32_t Run(std::string& R, const std::string& C, const std::string& D, bool W, bool P) override {
        return Protocol.RunCommand(R, Pwd, C, D, 0, P, W);
    }
    std::string Description() override { return Protocol.LastResultDescription(); }
    void SetWait(uint32_t AMs) override { Protocol.SetHandshakeTimeout(AMs); }
};

struct TTcpLink : TLink {
    TTcpListener Listener;
    TSocketProtocol Protocol;
    TPeerIO Conn;
    TTcpLink() {
        if (Protocol.Connect("127.0.0.1", Listener.Port) != 0)
            throw std::runtime_error(Protocol.LastResultDescription());
        Conn.Reset(Listener.Accept());
        Peer = &Conn;
        SetWait(300);
    }
    int32_t Run(std::string& R, const std::string& C, const std::string& D, bool W, bool P) override {
        return Protocol.RunCommand(R, Pwd, C, D, 0, P, W);
    }
    std::string Description() override { return Protocol.LastResultDescription(); }
    void SetWait(uint32_t AMs) override { Protocol.SetReceiveTimeout(AMs); }
};

// Device side of one normal exchange; gives the command frame it received.
std::string ServeOne(TPeerIO& P, const std::string& AAnswer) {
    EXPECT_EQ(P.ReadByte(), ENQ);
    P.Write(std::string(1, NAK));
    const std::string Frame = P.ReadFrame();
    P.Write(std::string(1, ACK) + MakeFrame(AAnswer));
    EXPECT_EQ(P.ReadByte(), ACK);
    return Frame;
}

class Protocol : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        if (GetParam() == TTransport::Serial)
            Link = std::make_unique<TSerialLink>();
        else
            Link = std::make_unique<TTcpLink>();
    }
    TPeerIO& P() { return *Link->Peer; }
    std::unique_ptr<TLink> Link;
};

INSTANTIATE_TEST_SUITE_P(Link, Protocol, BothTransports(), TransportName);

TEST_P(Protocol, CommandFrameCarriesPasswordAndAnswerLosesItsCode) {
    std::string Frame;
    TScriptedPeer Peer([&] { Frame = ServeOne(P(), std::string("\x11\x00\xAB\xCD", 4)); });
    std::string R;
    EXPECT_EQ(Link->Run(R, "\x11", ""), 0) << Link->Description();
    Peer.Join();
    EXPECT_EQ(Frame, std::string("\x02\x05\x11\x1E\x00\x00\x00", 7) + char(0x05 ^ 0x11 ^ 0x1E));
    EXPECT_EQ(R, std::string("\x00\xAB\xCD", 3));
    EXPECT_EQ(Link->Description(), "");
}

TEST_P(Protocol, TwoByteCommandCodes) {
    struct Case {
        std::string Cmd, Answer, Response;
    } Cases[] = {
        {"\xFF\x01", std::string("\xFF\x01\x00\x42", 4), std::string("\x00\x42", 2)},
        {"\xFF\x30", std::string("\xFE\x30\x07", 3), "\x07"},
        {"\x10", std::string("\x10\x00", 2), std::string("\x00", 1)},
        {"\xFF\x02", "\xFF", ""},  // too short for its own code: refused, nothing read past it
    };
    for (const Case& C : Cases) {
        std::string Frame;
        TScriptedPeer Peer([&] { Frame = ServeOne(P(), C.Answer); });
        std::string R;
        const int32_t Code = Link->Run(R, C.Cmd, "\x01", true, false);
        Peer.Join();
        EXPECT_EQ(Frame.substr(2, C.Cmd.size() + 1), C.Cmd + "\x01");
        EXPECT_EQ(Code, C.Response.empty() && C.Answer.size() < 2 ? 1014 : 0);
        EXPECT_EQ(R, C.Response);
    }
}

// An answer under another command's code is never the sent command's
// success: the frame was whole, so it is acknowledged, and the exchange
// ends with 1014 and no response.
TEST_P(Protocol, AnswerToAnotherCommandIsAProtocolError) {
    struct Case {
        std::string Cmd, Answer;
    } Cases[] = {
        {"\xE0", std::string("\x10\x00\x01", 3)},      // another one-byte code
        {"\xFF\x01", std::string("\xFF\x02\x00", 3)},  // another storage command
        {"\x11", std::string("\xFF\x11\x00", 3)},      // two-byte answer to a one-byte command
        {"\xFF\x11", std::string("\x11\x00", 2)},      // one-byte answer to a two-byte command
    };
    for (const Case& C : Cases) {
        TScriptedPeer Peer([&] { ServeOne(P(), C.Answer); });  // ServeOne checks the final ACK
        std::string R = "stale";
        EXPECT_EQ(Link->Run(R, C.Cmd, ""), 1014) << BytesToHexString(C.Cmd, " ");
        Peer.Join();
        EXPECT_EQ(R, "");
        EXPECT_EQ(Link->Description(), "Ошибка протокола обмена");
    }
}

TEST_P(Protocol, UndeliveredAnswerIsDrainedFirst) {
    TScriptedPeer Peer([&] {
        EXPECT_EQ(P().ReadByte(), ENQ);
        P().Write(std::string(1, ACK) + MakeFrame(std::string("\x11\x00old", 5)));
        EXPECT_EQ(P().ReadByte(), ACK);
        ServeOne(P(), std::string("\x12\x00new", 5));
    });
    std::string R;
    EXPECT_EQ(Link->Run(R, "\x12", ""), 0);
    EXPECT_EQ(R, std::string("\x00new", 4));
}

TEST_P(Protocol, NakToFrameStartsAgainWithEnquiry) {
    int Frames = 0;
    TScriptedPeer Peer([&] {
        for (int I = 0; I < 3; ++I) {
            if (P().ReadByte() != ENQ) return;
            P().Write(std::string(1, NAK));
            if (P().ReadFrame().size() == 8) ++Frames;
            P().Write(std::string(1, NAK));
        }
    });
    std::string R;
    EXPECT_EQ(Link->Run(R, "\x11", ""), 1014);
    Peer.Join();
    EXPECT_EQ(Frames, 3);
    EXPECT_EQ(Link->Description(), "Ошибка протокола обмена");

    TScriptedPeer Peer2([&] {
        EXPECT_EQ(P().ReadByte(), ENQ);
        P().Write(std::string(1, NAK));
        P().ReadFrame();
        P().Write(std::string(1, NAK));
        ServeOne(P(), std::string("\x11\x00", 2));
    });
    EXPECT_EQ(Link->Run(R, "\x11", ""), 0);
}

TEST_P(Protocol, BadAnswers) {
    const std::string Good = MakeFrame(std::string("\x11\x00\x01\x02", 4));
    std::string BadLrc = Good;
    BadLrc.back() ^= 0x5A;
    const std::string Short = Good.substr(0, Good.size() - 2);  // LEN 4, two bytes missing
    struct Case {
        std::string Answer;
        int32_t Code;
        char Reply;  // what the driver sends back; 0: nothing
    } Cases[] = {
        {BadLrc, 1014, NAK},
        {Short, 1014, 0},
        {"X" + Good, 1007, 0},  // not STX: reported as no answer
        {"", 1007, 0},
    };
    for (const Case& C : Cases) {
        char Reply = 1;
        TScriptedPeer Peer([&] {
            EXPECT_EQ(P().ReadByte(), ENQ);
            P().Write(std::string(1, NAK));
            P().ReadFrame();
            P().Write(std::string(1, ACK) + C.Answer);
            Reply = P().ReadByte(600);
        });
        std::string R;
        EXPECT_EQ(Link->Run(R, "\x11", ""), C.Code);
        Peer.Join();
        EXPECT_EQ(Reply, C.Reply);
        EXPECT_EQ(R, "");
        P().Read(300, 50);  // drop leftovers before the next case
    }
}

TEST_P(Protocol, NoAnswerWantedEndsAtTheAcknowledgement) {
    TScriptedPeer Peer([&] {
        EXPECT_EQ(P().ReadByte(), ENQ);
        P().Write(std::string(1, NAK));
        P().ReadFrame();
        P().Write(std::string(1, ACK));
    });
    std::string R = "stale";
    EXPECT_EQ(Link->Run(R, "\x11", "", false), 0);
    EXPECT_EQ(R, "");
}

TEST_P(Protocol, OversizedPayloadIsNeverFramed) {
    int Enquiries = 0;
    std::string Extra;
    TScriptedPeer Peer([&] {
        while (P().ReadByte(500) == ENQ) {
            ++Enquiries;
            P().Write(std::string(1, NAK));
        }
    });
    std::string R;
    EXPECT_EQ(Link->Run(R, "\x11", std::string(295, 'd')), 1014);
    Peer.Join();
    EXPECT_EQ(Enquiries, 3);  // one per attempt, nothing else on the line
}

TEST_P(Protocol, SilentGarbageAndVanishingDevicesFailWithinTheirLimits) {
    Link->SetWait(60);
    std::string R;
    auto T0 = Clock::now();
    EXPECT_EQ(Link->Run(R, "\x11", ""), Link->Serial ? 1007 : 606);
    EXPECT_LT(MsSince(T0), 9 * 60 + 700);

    std::atomic<bool> Stop{false};
    TScriptedPeer Flood([&] {
        const std::string Junk = "\x01\x07\x02\xFF\x15\x06" + std::string(40, '\xAA');
        while (!Stop) P().Write(Junk);
    });
    for (int I = 0; I < 3; ++I) EXPECT_NE(Link->Run(R, "\x11", ""), 0);
    Stop = true;
    Flood.Join();

    P().Reset();  // the device goes away
    T0 = Clock::now();
    const int32_t Code = Link->Run(R, "\x11", "");
    EXPECT_TRUE(Link->Serial ? Code == 1007 : (Code == 605 || Code == 606)) << Code;
    EXPECT_LT(MsSince(T0), 2000);
}

// The six lines of a complete exchange, in order and format.
TEST_P(Protocol, LogOfACompleteExchange) {
    const auto Dir = std::filesystem::temp_directory_path() / ("fr_link_log_" + std::to_string(getpid()));
    std::filesystem::remove_all(Dir);
    GlobalLog().SetLogDirectory(Dir.string() + "/");
    SetLogMode(lmAll);
    TScriptedPeer Peer([&] { ServeOne(P(), std::string("\x11\x00", 2)); });
    std::string R;
    const int32_t Code = Link->Run(R, "\x11", "");
    Peer.Join();
    const std::string File = GetLogFileName(false);
    SetLogMode(lmOff);
    EXPECT_EQ(Code, 0);

    const std::string Source = Link->Serial ? "TComProtocol" : "TSocketProtocol";
    std::vector<std::string> Lines;
    std::ifstream In(File, std::ios::binary);
    for (std::string L; std::getline(In, L);) {
        if (!L.empty() && L.back() == '\r') L.pop_back();
        const size_t At = L.find("\t" + Source + ": \t");
        if (At != std::string::npos && At >= 5) Lines.push_back(L.substr(At - 4, 4) + L.substr(At + Source.size() + 4));
    }
    const std::string Command = Link->Serial ? "02 05 11 1E 00 00 00 0A" : "11 1E 00 00 00";
    const std::vector<std::string> Expected = {
        "INFO-> 05", "INFO<- 15", "INFO-> " + Command, "INFO<- 06", "INFO<- 02 02 11 00 13", "INFO-> 06"};
    EXPECT_EQ(Lines, Expected);
    std::filesystem::remove_all(Dir);
}

// --- TCP connection -----------------------------------------------------------

TEST(SocketProtocol, ConnectRefusals) {
    TTcpListener L;
    struct Case {
        std::string Address;
        int32_t Port;
        int32_t Code;
    } Cases[] = {
        {"localhost", L.Port, 604}, {"127.1", L.Port, 604},    {"", L.Port, 604},
        {"127.0.0.1", 0, 603},      {"127.0.0.1", 70000, 603}, {" 127.0.0.1 ", L.Port, 0},
    };
    for (const Case& C : Cases) {
        TSocketProtocol S;
        EXPECT_EQ(S.Connect(C.Address, C.Port), C.Code) << C.Address << ":" << C.Port;
        EXPECT_EQ(S.Connected(), C.Code == 0);
        if (C.Code == 0) {
            TPeerIO Accepted(L.Accept(1000));
            EXPECT_GE(Accepted.Fd(), 0);
        }
    }

    // A port without a listener: refused at once on loopback.
    TSocketProtocol S;
    const int Closed = [] {
        TTcpListener Gone;
        return Gone.Port;
    }();
    const auto T0 = Clock::now();
    EXPECT_EQ(S.Connect("127.0.0.1", Closed), 601);
    EXPECT_LT(MsSince(T0), 4500);
    EXPECT_FALSE(S.Connected());
    EXPECT_EQ(S.LastResultDescription().rfind("Ошибка при установлении подключения к ФР", 0), 0u);

    // Not connected at all: every send fails.
    std::string R;
    EXPECT_EQ(S.RunCommand(R, Pwd, "\x11", "", 0, true, true), 605);
    EXPECT_EQ(S.Disconnect(), 0);
}

TEST(SocketProtocol, FFThenAckAcceptsTheFrameAndFFThenNakRetries) {
    TTcpLink L;
    TScriptedPeer Peer([&] {
        EXPECT_EQ(L.Conn.ReadByte(), ENQ);
        L.Conn.Write(std::string(1, NAK));
        L.Conn.ReadFrame();
        L.Conn.Write("\xFF\x15");  // not accepted: a new attempt
        EXPECT_EQ(L.Conn.ReadByte(), ENQ);
        L.Conn.Write(std::string(1, NAK));
        L.Conn.ReadFrame();
        L.Conn.Write(std::string("\xFF\x06", 2) + MakeFrame(std::string("\x11\x00", 2)));
        EXPECT_EQ(L.Conn.ReadByte(), ACK);
    });
    std::string R;
    EXPECT_EQ(L.Protocol.RunCommand(R, Pwd, "\x11", "", 40000, true, true), 0);
    EXPECT_EQ(R, std::string(1, '\0'));
}

TEST(SocketProtocol, PeerThatClosedGivesSendFailureNotSignal) {
    // SIGPIPE would end the test binary; make sure it is not ignored here.
    const auto Old = std::signal(SIGPIPE, SIG_DFL);
    TTcpLink L;
    L.SetWait(200);
    L.Conn.Reset();
    std::string R;
    for (int I = 0; I < 3; ++I) {
        const int32_t Code = L.Protocol.RunCommand(R, Pwd, "\x11", "", 0, true, true);
        EXPECT_TRUE(Code == 605 || Code == 606) << Code;
    }
    EXPECT_EQ(L.Protocol.Disconnect(), 0);
    EXPECT_FALSE(L.Protocol.Connected());
    std::signal(SIGPIPE, Old);
}

// A listener whose backlog is full drops new connection requests, so the
// connect attempt runs into its 4000 ms limit.
TEST(SocketProtocol, SlowConnectGivesUpAfterFourSeconds) {
    TTcpListener L;
    ::listen(L.Listen.Fd(), 0);
    std::vector<std::unique_ptr<TPeerIO>> Fill;
    for (int I = 0; I < 8; ++I) {
        auto C = std::make_unique<TPeerIO>(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        struct sockaddr_in A {};
        A.sin_family = AF_INET;
        A.sin_port = htons(uint16_t(L.Port));
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(C->Fd(), reinterpret_cast<sockaddr*>(&A), sizeof A);
        Fill.push_back(std::move(C));
    }
    TSocketProtocol S;
    const auto T0 = Clock::now();
    const int32_t Code = S.Connect("127.0.0.1", L.Port);
    const auto Ms = MsSince(T0);
    if (Code == 0) GTEST_SKIP() << "the system accepted beyond the backlog";
    EXPECT_EQ(Code, 601);
    EXPECT_GE(Ms, 3900);
    EXPECT_LT(Ms, 4600);
}

// With ATimeout 0 the serial answer may take up to 2000 ms to start.
TEST(ComProtocol, SlowAnswerWithinTheDefaultLimit) {
    TSerialLink L;
    L.SetWait(2000);
    TScriptedPeer Peer([&] {
        EXPECT_EQ(L.Pty.Master.ReadByte(), ENQ);
        L.Pty.Master.Write(std::string(1, NAK));
        L.Pty.Master.ReadFrame();
        L.Pty.Master.Write(std::string(1, ACK));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        L.Pty.Master.Write(MakeFrame(std::string("\x11\x00", 2)));
        EXPECT_EQ(L.Pty.Master.ReadByte(), ACK);
    });
    std::string R;
    EXPECT_EQ(L.Run(R, "\x11", "", true, true), 0);
}

}  // namespace
}  // namespace fr
