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
    EXPECT_EQ(Port.BaudRateAsInt(), 9600u);
    Port.SetBaudRateAsInt(56000);
    EXPECT_EQ(Port.BaudRateAsInt(), 56000u);
    EXPECT_EQ(BaudRateToInt(TBaudRate(13)), 0u);
    EXPECT_EQ(TComPort().BaudRateAsInt(), 115200u);
}

TEST(CommManager, EverySpeedOpens) {
    TPty Pty;
    for (int B = br110; B <= br115200; ++B) {
        TCommManager Port;
        Port.SetDevicePath(Pty.SlavePath);
        Port.SetBaudRateAsInt(BaudRateToInt(TBaudRate(B)));
        EXPECT_TRUE(Port.Open()) << BaudRateToInt(TBaudRate(B)) << ": " << Port.ExtResultDescription();
        EXPECT_TRUE(Port.Opened());
    }
}

TEST_F(PortOnPty, ReadCharWithTimeout) {
    Pty.Master.Write("\x15");
    char B = 0;
    auto T0 = Clock::now();
    EXPECT_TRUE(Port.ReadChar(B, 2000));
    EXPECT_EQ(B, 0x15);
    EXPECT_LT(MsSince(T0), 300);

    for (uint32_t Timeout : {0u, 120u}) {
        T0 = Clock::now();
        EXPECT_FALSE(Port.ReadChar(B, Timeout));
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

TEST_F(PortOnPty, SilentLineEndsTheReadAtTheTotalLimit) {
    Port.SetTimeouts({0, 0, 80, 0, 100});
    std::string S;
    const auto T0 = Clock::now();
    EXPECT_TRUE(Port.ReadString(3, S));
    EXPECT_TRUE(S.empty());
    EXPECT_GE(MsSince(T0), 80);
    EXPECT_LT(MsSince(T0), 500);
    Pty.Master.Write("z");
    EXPECT_TRUE(Port.ReadString(3, S));
    EXPECT_EQ(S, "z");
}

TEST_F(PortOnPty, HangUpFailsReadsAtOnceWithoutSpinning) {
    Pty.Master.Reset();
    char B = 0;
    auto T0 = Clock::now();
    EXPECT_FALSE(Port.ReadChar(B, 2000));
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
    char B;
    EXPECT_FALSE(Port.ReadChar(B, 10));
    EXPECT_EQ(Port.ExtResultDescription(), std::strerror(EBADF));
    std::string S;
    EXPECT_FALSE(Port.ReadString(1, S));
    EXPECT_FALSE(Port.WriteStr("a", 0));  // opening on demand fails
    EXPECT_EQ(Port.ExtResultDescription(), std::strerror(ENOENT));
}

}  // namespace
}  // namespace fr
