// The service windows of the Windows DLL as the host meets them: the DLL is
// loaded as the platform loads it, DoAdditionalAction opens the window on the
// calling thread over the host's window, and a second thread works the
// window as an operator does, reading what it shows through its controls.
// The program runs under Wine on a private X server (scripts/wine-run
// --xvfb) with a Russian desktop, against a kkt-emulator of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "base/uCommonUtils.h"
#include "base/uSystem.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"
#include "windows_win32/WinUiWin32.h"

using namespace fr::host;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using winui::THandle;
using TRows = std::vector<std::pair<std::string, std::string>>;

namespace {

// Log files and temporary files of the library go to folders of this test.
class TWindowsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("fr_windows_win32_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(Dir / "tmp");
        winui::SetEnv("FR_ORVALEN1C8X3N_DATA_DIR", fr::Utf8FromPath(Dir));
        winui::SetEnv("TMP", fr::Utf8FromPath(Dir / "tmp"));
        winui::SetEnv("TEMP", fr::Utf8FromPath(Dir / "tmp"));
        LogDir = Dir / "Velmark" / "fr_orvalen1c8x3n" / "logs";
    }
    void TearDown() override {
        std::error_code Ec;
        fs::remove_all(Dir, Ec);
    }
    static inline fs::path Dir, LogDir;
};
::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new TWindowsEnvironment);

// The library as Wine names it: the build gives a Linux path.
std::string LibraryPath() {
    std::string P = FR_LIBRARY_PATH;
    if (!P.empty() && P.front() == '/') {
        for (char& C : P)
            if (C == '/') C = '\\';
        P = "Z:" + P;
    }
    return P;
}

class WindowsWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        FHost.Load(LibraryPath());
        ASSERT_TRUE(FHost.Create("fr_orvalen1c8x3n"));
        FHostWindow = winui::CreateHostWindow();
    }
    void TearDown() override {
        FHost.Destroy();
        winui::DestroyWindow(FHostWindow);
    }
    // Runs the action while AUser works its window, titled ATitle, on another
    // thread. A window AUser leaves open is closed after ten seconds and the
    // test fails.
    template <class F>
    TCallResult RunWindow(const std::string& AAction, const std::string& ATitle, F AUser) {
        std::thread User([&] {
            const THandle W = winui::FindTopWindow(ATitle);
            if (!W) {
                FError = "the window did not appear";
                return;
            }
            AUser(W);
            if (!winui::WaitGone(ATitle)) {
                FError = "the window stayed open";
                winui::PostClose(W);
            }
        });
        const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String(AAction)});
        User.join();
        return R;
    }

    TComponentHost FHost;
    THandle FHostWindow = 0;
    std::string FError;
};

// The KKT data window against the emulator on loopback TCP, in
// single-session mode, in which the host lists the action.
class KktDataWindow : public WindowsWin32 {
protected:
    void SetUp() override {
        WindowsWin32::SetUp();
        if (HasFatalFailure()) return;
        FEmu.Device().SetClock(fr::ISODateToUnix("2020-01-01T00:00:00"));
        const uint16_t Port = FEmu.StartTCP();
        for (const auto& [Name, Value] : {std::pair<const char*, THostValue>{"PortNumber", THostValue::Int32(9999)},
                                          {"IPPort", THostValue::Int32(Port)},
                                          {"MteDriver", THostValue::Boolean(true)}})
            ASSERT_TRUE(FHost.Call("SetParameter", {THostValue::String(Name), Value}).Result.Bool) << Name;
    }
    void TearDown() override {
        WindowsWin32::TearDown();
        FEmu.Stop();
    }
    fr::TEmulator FEmu;
};

// A process outside the operator's session (a service) gets a failure with
// a text instead of a window nobody could close; the KKT data window opens
// its session first and leaves it open, as after a window.
TEST_F(KktDataWindow, WithoutTheOperatorsDesktopActionsFailWithAText) {
    const THandle Station = winui::EnterHiddenStation();
    std::vector<std::pair<bool, std::pair<int32_t, std::string>>> Results;
    for (const char* Action : {"ViewLog", "ShowHelp", "GetKKTParams"}) {
        const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String(Action)});
        Results.push_back({R.Result.Bool, FHost.LastError()});
    }
    winui::LeaveStation(Station);
    for (const auto& [Done, Error] : Results) {
        EXPECT_FALSE(Done);
        EXPECT_EQ(Error.first, 1001);
        EXPECT_NE(Error.second.find("Нет графического сеанса: окно «"), std::string::npos) << Error.second;
        EXPECT_NE(Error.second.find("служба"), std::string::npos) << Error.second;
    }
    const TCallResult Status = FHost.Call(
        "GetCurrentStatus", {THostValue::String(""), THostValue::String("<InputParameters/>"), THostValue::Empty()});
    EXPECT_TRUE(Status.Result.Bool) << FHost.LastError().second;
}

}  // namespace
