// The serial port and the TCP connection of the Windows DLL when the line
// fails: a missing or held COM port, a refused or silent TCP peer, a device
// that goes away. Each fails with the code of the link and the system's own
// message text (FormatMessageW), within its time limit. The device is the
// Linux emulator driven through its control channel; its serial line is a
// pseudo-terminal linked as COM<n> of the Wine prefix.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TestBytes.h"
#include "base/uSystem.h"
#include "link/uComProtocol.h"
#include "link/uCommManager.h"
#include "link/uSocketProtocol.h"
#include "uEmulator.h"

// After the link's headers: <windows.h> defines MAXDWORD, which the link
// declares as a constant of its own.
#include <windows.h>

namespace fr {
namespace {

using Clock = std::chrono::steady_clock;
const std::string Pwd = test::Bytes({30, 0, 0, 0});

// Winsock's codes (<winsock2.h> would have to come before <windows.h>).
constexpr int kTimedOut = 10060;           // WSAETIMEDOUT
constexpr int kConnectionRefused = 10061;  // WSAECONNREFUSED

// Whether the system refuses a second handle to a COM port that is open.
// Windows does; Wine opens a pseudo-terminal mapped as COM<n> as often as
// it is asked.
bool SystemKeepsPortsExclusive(const std::string& AName) {
    const std::wstring W(AName.begin(), AName.end());
    const HANDLE A = CreateFileW(W.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (A == INVALID_HANDLE_VALUE) return false;
    const HANDLE B = CreateFileW(W.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool Refused = B == INVALID_HANDLE_VALUE;
    if (!Refused) CloseHandle(B);
    CloseHandle(A);
    return Refused;
}

long long MsSince(Clock::time_point AStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count();
}

// A short status request; 0 when the device answered.
int32_t Status(TCustomComProtocol& ALink) {
    std::string R;
    return ALink.RunCommand(R, Pwd, "\x10", "", 0, true, true);
}

TEST(ComPortFaults, MissingPortFailsAtOnceWithTheSystemText) {
    // A number no program of the suite links (they take 60 to 129).
    TComPort Port;
    Port.SetPortNumber(250);
    const auto T0 = Clock::now();
    EXPECT_FALSE(Port.Open());
    EXPECT_LT(MsSince(T0), 1000);
    EXPECT_FALSE(Port.Opened());
    EXPECT_EQ(Port.ExtResultDescription(), SystemErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Port.ExtResultDescription().empty());

    // The same object opens a port that is there.
    TEmulator Emu;
    Port.SetDevicePath(Emu.StartSerial());
    EXPECT_TRUE(Port.Open()) << Port.ExtResultDescription();
    TComProtocol Link(Port);
    EXPECT_EQ(Status(Link), 0) << Link.LastResultDescription();
}

TEST(ComPortFaults, PortHeldElsewhereIsRefusedWithTheSystemText) {
    TEmulator Emu;
    const std::string Name = Emu.StartSerial();
    if (!SystemKeepsPortsExclusive(Name)) GTEST_SKIP() << "this system lets two handles open one COM port";
    TComPort Holder;
    Holder.SetDevicePath(Name);
    ASSERT_TRUE(Holder.Open()) << Holder.ExtResultDescription();

    TComPort Other;
    Other.SetDevicePath(Name);
    const auto T0 = Clock::now();
    EXPECT_FALSE(Other.Open());
    EXPECT_LT(MsSince(T0), 1000);
    EXPECT_FALSE(Other.Opened());
    EXPECT_EQ(Other.ExtResultDescription(), SystemErrorText(ERROR_ACCESS_DENIED));
    // The holder's line is untouched.
    TComProtocol Link(Holder);
    EXPECT_EQ(Status(Link), 0) << Link.LastResultDescription();

    Holder.Close();
    EXPECT_TRUE(Other.Open()) << Other.ExtResultDescription();
    TComProtocol Next(Other);
    EXPECT_EQ(Status(Next), 0) << Next.LastResultDescription();
}

// A device that stops answering costs the handshake limit per try, three
// tries; one that goes away with the port open never hangs the driver.
TEST(ComPortFaults, SilentOrVanishedDeviceFailsWithinTheLimits) {
    TEmulator Emu;
    TComPort Port;
    Port.SetDevicePath(Emu.StartSerial());
    ASSERT_TRUE(Port.Open()) << Port.ExtResultDescription();
    TComProtocol Link(Port);
    Link.SetHandshakeTimeout(200);
    ASSERT_EQ(Status(Link), 0) << Link.LastResultDescription();

    Emu.SilenceNext(100);
    auto T0 = Clock::now();
    EXPECT_EQ(Status(Link), 1007);
    EXPECT_LT(MsSince(T0), 9 * 200 + 1500);
    EXPECT_FALSE(Link.LastResultDescription().empty());

    Emu.Stop();
    T0 = Clock::now();
    EXPECT_NE(Status(Link), 0);
    EXPECT_LT(MsSince(T0), 9 * 200 + 1500);
    EXPECT_FALSE(Link.LastResultDescription().empty());
    Port.Close();
    EXPECT_FALSE(Port.Opened());
}

TEST(SocketFaults, RefusedConnectFailsWithTheSystemText) {
    TEmulator Emu;
    const uint16_t Port = Emu.StartTCP();
    Emu.Stop();  // nobody listens there now
    TSocketProtocol S;
    const auto T0 = Clock::now();
    EXPECT_EQ(S.Connect("127.0.0.1", Port), 601);
    EXPECT_LT(MsSince(T0), int(TSocketProtocol::ConnectTimeout) + 500);
    EXPECT_FALSE(S.Connected());
    EXPECT_EQ(S.LastResultDescription(),
              "Ошибка при установлении подключения к ФР. " + SystemErrorText(kConnectionRefused));
    // Not connected: the command is not sent.
    std::string R;
    EXPECT_EQ(S.RunCommand(R, Pwd, "\x10", "", 0, true, true), 605);
}

TEST(SocketFaults, SilentOrDroppingPeerFailsWithinTheReceiveLimit) {
    TEmulator Emu;
    const uint16_t Port = Emu.StartTCP();
    TSocketProtocol S;
    S.SetReceiveTimeout(300);
    ASSERT_EQ(S.Connect("127.0.0.1", Port), 0) << S.LastResultDescription();
    std::string R;
    ASSERT_EQ(S.RunCommand(R, Pwd, "\x10", "", 0, true, true), 0) << S.LastResultDescription();

    Emu.SilenceNext(100);
    auto T0 = Clock::now();
    EXPECT_EQ(S.RunCommand(R, Pwd, "\x10", "", 0, true, true), 606);
    EXPECT_LT(MsSince(T0), 9 * 300 + 1500);
    EXPECT_EQ(S.LastResultDescription(), "Ошибка при получении ответа от сервера. " + SystemErrorText(kTimedOut));

    // The peer closes the connection: the next exchange fails at once.
    Emu.SilenceNext(0);
    Emu.DropNextConnection();
    T0 = Clock::now();
    const int32_t Code = S.RunCommand(R, Pwd, "\x10", "", 0, true, true);
    EXPECT_TRUE(Code == 605 || Code == 606) << Code << " " << S.LastResultDescription();
    EXPECT_LT(MsSince(T0), 9 * 300 + 1500);
    EXPECT_FALSE(S.LastResultDescription().empty());
}

}  // namespace
}  // namespace fr
