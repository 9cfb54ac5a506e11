#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "link/LinkPeers.h"
#include "link/uCommManager.h"

namespace fr {
namespace {

using test::MsSince;
using test::TPty;
using Clock = std::chrono::steady_clock;

// A TComPort on a fresh pseudo-terminal.
struct PortOnPty : ::testing::Test {
    TPty Pty;
    TComPort Port;
    void SetUp() override {
        Port.SetDevicePath(Pty.SlavePath);
        ASSERT_TRUE(Port.Open()) << Port.ExtResultDescription();
    }
};

TEST_F(PortOnPty, OpenTwiceKeepsQueuedInputAndSecondPortIsRefused) {
    Pty.Master.Write("ab");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(Port.Open());  // no purge, no reconfiguration
    std::string S;
    EXPECT_TRUE(Port.ReadString(2, S));
    EXPECT_EQ(S, "ab");

    TComPort Other;
    Other.SetDevicePath(Pty.SlavePath);
    EXPECT_FALSE(Other.Open());
    EXPECT_FALSE(Other.Opened());
    EXPECT_EQ(Other.ExtResultDescription(), std::strerror(EBUSY));

    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(Other.Open()) << Other.ExtResultDescription();
}

TEST(CommManager, MissingPortFailsWithSystemMessageAndStaysUsable) {
    TComPort Port;
    Port.SetDevicePath("/dev/no-such-port-for-tests");
    EXPECT_FALSE(Port.Open());
    EXPECT_FALSE(Port.Opened());
    EXPECT_EQ(Port.ExtResultDescription(), std::strerror(ENOENT));

    TPty Pty;
    Port.SetDevicePath(Pty.SlavePath);
    EXPECT_TRUE(Port.Open()) << Port.ExtResultDescription();
}

TEST(CommManager, PortNumberSelectsComLinkOrTtyS) {
    TCommManager Port;
    Port.SetPortNumber(12);
    if (!std::filesystem::exists("/dev/com12")) {
        EXPECT_EQ(Port.DeviceName(), "/dev/ttyS11");
    }

    // A /dev/com<n> link (made the way a udev rule would) wins over ttyS.
    TPty Pty;
    const std::string Link = "/dev/com231";
    std::error_code Ec;
    std::filesystem::create_symlink(Pty.SlavePath, Link, Ec);
    if (Ec) GTEST_SKIP() << "cannot create " << Link << ": " << Ec.message();
    struct Remove {
        std::string P;
        ~Remove() { std::filesystem::remove(P); }
    } Guard{Link};
    Port.SetPortNumber(231);
    EXPECT_EQ(Port.DeviceName(), Link);
    EXPECT_TRUE(Port.Open()) << Port.ExtResultDescription();
    Port.WriteStr("x", 0);
    EXPECT_EQ(Pty.Master.Read(1), "x");
}

TEST(CommManager, BaudRateAsIntAcceptsOnlyListedSpeeds) {
    TCommManager Port;
    EXPECT_EQ(Port.BaudRateAsInt(), 9600u);
    Port.SetBaudRateAsInt(12345);
    EXPECT_EQ(Port.BaudRate(), br9600);
    Port.SetBaudRateAsInt(56000);
    EXPECT_EQ(Port.BaudRate(), br56000);
    EXPECT_EQ(BaudRateToInt(TBaudRate(13)), 0u);
    EXPECT_EQ(TComPort().BaudRate(), br115200);
}

TEST(CommManager, EverySpeedAndLineSettingOpens) {
    TPty Pty;
    for (int B = br110; B <= br115200; ++B) {
        TCommManager Port;
        Port.SetDevicePath(Pty.SlavePath);
        Port.SetBaudRate(TBaudRate(B));
        Port.SetParity(TParity(B % 5));
        Port.SetStopBits(TStopBits(B % 3));
        Port.SetDataBits(uint8_t(5 + B % 4));
        EXPECT_TRUE(Port.Open()) << BaudRateToInt(TBaudRate(B)) << ": " << Port.ExtResultDescription();
        Port.SetBaudRate(br19200);  // re-applied on the open port
        EXPECT_TRUE(Port.Opened());
    }
    TCommManager Bad;
    Bad.SetDevicePath(Pty.SlavePath);
    Bad.SetDataBits(9);
    EXPECT_FALSE(Bad.Open());
    EXPECT_FALSE(Bad.Opened());
}

TEST(CommManager, LineSettingsFlagWord) {
    struct Case {
        TParity Parity;
        TFlowControl Flow;
        bool Abort;
        int32_t Flags;
    } Cases[] = {
        {prNone, {}, false, 0x0001},
        {prEven, {}, false, 0x0003},
        {prNone, {true, true, dtrHandshake, rtsToggle, true, true}, true, 0x732D},
        {prNone, {false, false, dtrEnable, rtsHandshake, false, false}, false, 0x2011},
    };
    TPty Pty;
    for (const Case& C : Cases) {
        TCommManager Port;
        Port.SetDevicePath(Pty.SlavePath);
        Port.SetParity(C.Parity);
        Port.SetFlowControl(C.Flow);
        Port.SetAbortOnError(C.Abort);
        ASSERT_TRUE(Port.Open()) << Port.ExtResultDescription();
        EXPECT_EQ(Port.DCBFlags(), C.Flags);
    }
}

TEST_F(PortOnPty, ReadByteWithTimeout) {
    Pty.Master.Write("\x15");
    uint8_t B = 0;
    auto T0 = Clock::now();
    EXPECT_TRUE(Port.ReadByte(B, 2000));
    EXPECT_EQ(B, 0x15);
    EXPECT_LT(MsSince(T0), 300);

    for (uint32_t Timeout : {0u, 120u}) {
        T0 = Clock::now();
        EXPECT_FALSE(Port.ReadByte(B, Timeout));
        EXPECT_GE(MsSince(T0), int64_t(Timeout));
        EXPECT_LT(MsSince(T0), int64_t(Timeout) + 300);
        EXPECT_EQ(Port.ExtResultDescription(), "Ошибка при чтении данных из порта");
    }
}

TEST_F(PortOnPty, ShortReadEndsAfterSilenceNotAfterTotal) {
    Pty.Master.Write("abc");
    std::string S;
    const auto T0 = Clock::now();
    EXPECT_TRUE(Port.ReadString(10, S));  // total limit would be 10 s
    EXPECT_EQ(S, "abc");
    EXPECT_LT(MsSince(T0), 500);
}

TEST_F(PortOnPty, SilentLineGivesNoAnswerAfterTotalLimit) {
    Port.SetTimeouts({0, 0, 80, 0, 100});
    uint8_t B = 0;
    const auto T0 = Clock::now();
    EXPECT_FALSE(Port.ReadByte(B));
    EXPECT_GE(MsSince(T0), 80);
    EXPECT_EQ(Port.ExtResultDescription(), "Устройство не отвечает");
    std::vector<uint8_t> V;
    Pty.Master.Write("z");
    EXPECT_FALSE(Port.ReadBytes(V, 3));
    EXPECT_EQ(Port.ExtResultDescription(), "Ошибка протокола обмена");
    EXPECT_EQ(V[0], 'z');
}

TEST_F(PortOnPty, HangUpFailsReadsAtOnceWithoutSpinning) {
    Pty.Master.Reset();
    uint8_t B = 0;
    auto T0 = Clock::now();
    EXPECT_FALSE(Port.ReadByte(B, 2000));
    std::string S;
    EXPECT_FALSE(Port.ReadString(5, S));
    EXPECT_EQ(Port.ExtResultDescription(), std::strerror(EIO));
    EXPECT_LT(MsSince(T0), 500);
}

TEST_F(PortOnPty, WriteToStalledPeerEndsWithinWriteLimit) {
    Port.SetTimeouts({50, 0, 100, 0, 150});
    const std::string Big(1 << 20, 'x');  // far more than the tty buffers hold
    const auto T0 = Clock::now();
    EXPECT_FALSE(Port.WriteStr(Big, 0));
    EXPECT_EQ(Port.ExtResultDescription(), "Не удалось записать данные в порт");
    EXPECT_LT(MsSince(T0), 1000);
}

TEST(CommManager, EmptyWriteNeedsNoPortAndClosedPortReports) {
    TCommManager Port;
    Port.SetDevicePath("/dev/no-such-port-for-tests");
    EXPECT_TRUE(Port.WriteStr("", 0));
    EXPECT_FALSE(Port.Opened());
    EXPECT_FALSE(Port.WriteBytes(std::vector<uint8_t>{1}));
    EXPECT_EQ(Port.ExtResultDescription(), "Порт не открыт");
    uint8_t B;
    EXPECT_FALSE(Port.ReadByte(B, 10));
    EXPECT_EQ(Port.iReadByte(B), 1017);
    EXPECT_FALSE(Port.WriteStr("a", 0));  // opening on demand fails
    EXPECT_EQ(Port.ExtResultDescription(), std::strerror(ENOENT));
}

TEST_F(PortOnPty, EndMarkerReadsAndCommands) {
    std::string Out;
    Pty.Master.Write("OK\r\nrest");
    EXPECT_EQ(Port.ReadStr(Out, "\r\n", 300), 1014);  // marker not at the end
    Pty.Master.Write("line\n");
    EXPECT_EQ(Port.ReadStr(Out, "\n", 300), 0);
    EXPECT_EQ(Out, "line\n");
    EXPECT_EQ(Port.ReadStr(Out, "\n", 50), 1007);

    test::TScriptedPeer Peer([&] {
        if (Pty.Master.Read(3) == "CMD") Pty.Master.Write("ANS;12");
    });
    const auto T0 = Clock::now();
    EXPECT_EQ(Port.RunCmd("CMD", Out, ";", 64, 2000, 2), 0);
    EXPECT_EQ(Out, "ANS;12");
    EXPECT_LT(MsSince(T0), 1000);
    Peer.Join();
    EXPECT_EQ(Port.RunCmd("CMD", Out, ";", 64, 100, 0), 1007);
    Pty.Master.Read(3, 100);

    Pty.Master.Write("\xD0\x96");  // "Ж"
    char16_t C = 0;
    EXPECT_TRUE(Port.ReadChar(C, 100));
    EXPECT_EQ(C, u'Ж');
    Pty.Master.Write("\x80t\xD0\x96x\n");  // a stray continuation byte is skipped
    EXPECT_TRUE(Port.ReadText(Out, 100));
    EXPECT_EQ(Out, "tЖx\n");
}

}  // namespace
}  // namespace fr
