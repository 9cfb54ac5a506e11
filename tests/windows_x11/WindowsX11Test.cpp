// The service windows as the host meets them: the library is loaded with
// dlopen, DoAdditionalAction opens the window on the calling thread, a second
// thread finds the window on a private X server, reads what it shows through
// the clipboard, takes a screenshot and closes it, and the action returns.
// Without Xvfb and the X tools the window tests skip; the tests of what
// happens without a display and of the library's dependencies always run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/uCommonUtils.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"
#include "windows_x11/WindowManagerClose.h"

using namespace fr::host;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char** environ;

namespace {

// Log files and temporary files of the library go to folders of this test.
class TX11Environment : public ::testing::Environment {
public:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("fr_windows_x11_" + std::to_string(getpid()));
        fs::create_directories(Dir / "tmp");
        setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
        setenv("TMPDIR", (Dir / "tmp").c_str(), 1);
        // No accessibility bus on a private X server.
        setenv("NO_AT_BRIDGE", "1", 1);
        // Dates in the KKT data window: a desktop without a locale of its own
        // shows them the Russian way.
        setenv("LC_ALL", "C.UTF-8", 1);
        LogDir = Dir / "Velmark" / "fr_orvalen1c8x3n" / "logs";
    }
    void TearDown() override { fs::remove_all(Dir); }
    static inline fs::path Dir, LogDir;
};
::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new TX11Environment);

std::string Shell(const std::string& ACommand) {
    std::string Out;
    if (FILE* P = popen(ACommand.c_str(), "r")) {
        char Buf[4096];
        size_t N;
        while ((N = fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
        pclose(P);
    }
    return Out;
}

bool HaveTool(const std::string& AName) {
    return !Shell("command -v " + AName + " 2>/dev/null").empty();
}

std::string ReadFile(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

// A private X server on a display number it picks itself.
class TXvfb {
public:
    bool Start() {
        int Fds[2];
        if (pipe(Fds) != 0) return false;
        const std::string Fd = std::to_string(Fds[1]);
        const char* Argv[] = {"Xvfb",        "-displayfd", Fd.c_str(), "-screen", "0",
                              "1280x800x24", "-nolisten",  "tcp",      nullptr};
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_addclose(&Actions, Fds[0]);
        posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
        const int Rc = posix_spawnp(&FPid, "Xvfb", &Actions, nullptr, const_cast<char**>(Argv), environ);
        posix_spawn_file_actions_destroy(&Actions);
        close(Fds[1]);
        if (Rc != 0) {
            close(Fds[0]);
            FPid = 0;
            return false;
        }
        std::string Number;
        char C;
        while (read(Fds[0], &C, 1) == 1 && C != '\n') Number += C;
        close(Fds[0]);
        if (Number.empty()) return false;
        Display = ":" + Number;
        return true;
    }
    ~TXvfb() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
    }
    std::string Display;

private:
    pid_t FPid = 0;
};

// The visible window of this process with the title, within AWait.
unsigned long FindWindow(const std::string& ATitle, std::chrono::milliseconds AWait = 20s) {
    const auto Deadline = std::chrono::steady_clock::now() + AWait;
    for (bool First = true; First || std::chrono::steady_clock::now() < Deadline; First = false) {
        std::istringstream Ids(
            Shell("xdotool search --onlyvisible --pid " + std::to_string(getpid()) + " 2>/dev/null"));
        for (unsigned long Id; Ids >> Id;)
            if (Shell("xdotool getwindowname " + std::to_string(Id) + " 2>/dev/null") == ATitle + "\n") return Id;
        std::this_thread::sleep_for(200ms);
    }
    return 0;
}

// Selects all text of the focused view and reads it back from the clipboard.
std::string CopyAll(unsigned long AWindow) {
    Shell("xdotool windowfocus --sync " + std::to_string(AWindow) + " key ctrl+a ctrl+c 2>/dev/null");
    std::this_thread::sleep_for(300ms);
    return Shell("timeout 5 xclip -o -selection clipboard 2>/dev/null");
}

// Where the screenshots go: FR_SCREENSHOT_DIR when set, else the test's folder.
fs::path Screenshot(unsigned long AWindow, const std::string& AName) {
    const char* Dir = std::getenv("FR_SCREENSHOT_DIR");
    const fs::path P = fs::path(Dir && *Dir ? Dir : TX11Environment::Dir.c_str()) / AName;
    // A window just mapped may not be painted yet: a blank picture is a few
    // hundred bytes, so take it again until it holds something.
    for (int I = 0; I < 20; ++I) {
        Shell("import -window " + std::to_string(AWindow) + " " + P.string() + " 2>/dev/null");
        std::error_code Ec;
        if (fs::file_size(P, Ec) > 5000) break;
        std::this_thread::sleep_for(500ms);
    }
    return P;
}

class WindowsX11 : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* Tool : {"Xvfb", "xdotool", "xclip", "import"})
            if (!HaveTool(Tool)) GTEST_SKIP() << Tool << " is not installed (scripts/install-deps installs it)";
        if (FXvfb.Display.empty()) {
            ASSERT_TRUE(FXvfb.Start()) << "Xvfb did not start";
        }
        FSavedDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        setenv("DISPLAY", FXvfb.Display.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        FHost.Load(FR_LIBRARY_PATH);
        ASSERT_TRUE(FHost.Create("fr_orvalen1c8x3n"));
    }
    void TearDown() override {
        FHost.Destroy();
        // GTK keeps its connection to this display for the life of the
        // process, so the server stays until the test program ends.
        if (!FSavedDisplay.empty()) setenv("DISPLAY", FSavedDisplay.c_str(), 1);
    }
    static inline TXvfb FXvfb;
    TComponentHost FHost;
    std::string FSavedDisplay;
};

}  // namespace

TEST_F(WindowsX11, LogViewerShowsTheNewestFileFollowsItAndClosesByTheWindowManager) {
    fs::create_directories(TX11Environment::LogDir);
    const fs::path Old = TX11Environment::LogDir / "fr_orvalen1c8x3n_2026.12.09.log";
    const fs::path Today = TX11Environment::LogDir / "fr_orvalen1c8x3n_2026.12.10.log";
    std::ofstream(Old, std::ios::binary) << "2026.12.09 09:00:00.000\tINFO\tвчера\r\n";
    const std::string Lines =
        "2026.12.10 10:15:02.117\tINFO\t> Open: \tПодключение к ККТ по TCP 127.0.0.1:7778\r\n"
        "2026.12.10 10:15:02.301\tDEBUG\tTDevice: \tКоманда 11h, ответ 00h\r\n"
        "2026.12.10 10:15:02.305\tINFO\t< Open: \tУспешно\r\n";
    std::ofstream(Today, std::ios::binary) << Lines;

    std::string Shown, Followed, Error;
    fs::path Shot;
    std::thread Driver([&] {
        const unsigned long W = FindWindow("Просмотр лога");
        if (!W) {
            Error = "the window did not appear";
            return;
        }
        Shown = CopyAll(W);
        std::ofstream(Today, std::ios::binary | std::ios::app)
            << "2026.12.10 10:15:07.480\tINFO\t> OpenShift: \tОткрытие смены\r\n";
        for (int I = 0; I < 20 && Followed.find("OpenShift") == std::string::npos; ++I) {
            std::this_thread::sleep_for(300ms);
            Followed = CopyAll(W);
        }
        // The caret to the end drops the selection before the picture.
        Shell("xdotool key ctrl+End 2>/dev/null");
        std::this_thread::sleep_for(300ms);
        Shot = Screenshot(W, "log-viewer.png");
        CloseAsWindowManager(W);
    });
    const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String("ViewLog")});
    Driver.join();
    ASSERT_EQ(Error, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_EQ(Shown, Lines);
    EXPECT_NE(Followed.find("Открытие смены"), std::string::npos) << Followed;
    EXPECT_GT(fs::file_size(Shot), 5000u);
}

TEST_F(WindowsX11, HelpShowsTheHelpWritesItsHtmlAndClosesByEscape) {
    const fs::path Tmp = TX11Environment::Dir / "tmp";
    std::string Shown, Html, Error;
    std::vector<std::string> WorkFolders;
    fs::path Shot;
    std::thread Driver([&] {
        const unsigned long W = FindWindow("Справка");
        if (!W) {
            Error = "the window did not appear";
            return;
        }
        for (const auto& E : fs::directory_iterator(Tmp)) {
            WorkFolders.push_back(E.path().filename().string());
            Html = ReadFile(E.path() / "md.html");
        }
        Shot = Screenshot(W, "help.png");
        Shown = CopyAll(W);
        Shell("xdotool windowfocus --sync " + std::to_string(W) + " key Escape 2>/dev/null");
    });
    const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String("ShowHelp")});
    Driver.join();
    ASSERT_EQ(Error, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    ASSERT_EQ(WorkFolders.size(), 1u);
    EXPECT_EQ(WorkFolders[0].front(), '{');
    EXPECT_EQ(Html.substr(0, 20), "\xEF\xBB\xBF<!DOCTYPE html>\r\n");
    EXPECT_NE(Html.find("<link href=\"help.css\" rel=\"stylesheet\">"), std::string::npos);
    EXPECT_NE(Html.find("dialout"), std::string::npos);
    // The view shows the text, not the markup.
    EXPECT_NE(Shown.find("Подключение ККТ"), std::string::npos) << Shown.substr(0, 300);
    EXPECT_NE(Shown.find("dialout"), std::string::npos);
    EXPECT_EQ(Shown.find("<h1>"), std::string::npos);
    EXPECT_EQ(Shown.find("## "), std::string::npos);
    // The working folder is gone once the window is closed.
    EXPECT_TRUE(fs::is_empty(Tmp));
    EXPECT_GT(fs::file_size(Shot), 5000u);
}

// Clicks a button of the KKT data window's bottom row: the clock button
// sits at the left, "Закрыть" at the right.
void ClickBottomButton(unsigned long AWindow, bool ARight) {
    const std::string Id = std::to_string(AWindow);
    const std::string Geometry = Shell("xdotool getwindowgeometry " + Id + " 2>/dev/null");
    const size_t At = Geometry.find("Geometry: ");
    if (At == std::string::npos) return;
    int Width = 0, Height = 0;
    if (sscanf(Geometry.c_str() + At, "Geometry: %dx%d", &Width, &Height) != 2) return;
    const int X = ARight ? Width - 40 : 40;
    Shell("xdotool mousemove --window " + Id + " " + std::to_string(X) + " " + std::to_string(Height - 20) +
          " click 1 2>/dev/null");
}

// Copies the rows of the grid shown; waits until ANeedle is among them.
std::string GridText(unsigned long AWindow, const std::string& ANeedle) {
    std::string Text;
    for (int I = 0; I < 30 && Text.find(ANeedle) == std::string::npos; ++I) {
        if (I) std::this_thread::sleep_for(300ms);
        Text = CopyAll(AWindow);
    }
    return Text;
}

void NextTab(unsigned long AWindow) {
    Shell("xdotool windowfocus --sync " + std::to_string(AWindow) + " key ctrl+Tab 2>/dev/null");
    std::this_thread::sleep_for(300ms);
}

// Answers the message box with the title by AKey once it appears; a box
// just mapped may miss a key, so the key goes again until the box is gone.
bool AnswerBox(const std::string& ATitle, const std::string& AKey) {
    const unsigned long Box = FindWindow(ATitle, 10s);
    if (!Box) return false;
    for (int I = 0; I < 20; ++I) {
        Shell("xdotool windowfocus --sync " + std::to_string(Box) + " key " + AKey + " 2>/dev/null");
        std::this_thread::sleep_for(300ms);
        if (!FindWindow(ATitle, 0s)) break;
    }
    return true;
}

// Waits until ACondition holds, for up to 10 seconds.
template <class F>
bool Eventually(F ACondition) {
    for (int I = 0; I < 50; ++I) {
        if (ACondition()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return ACondition();
}

// The KKT data window against the emulator on loopback TCP. The driver is in
// single-session mode, in which the host lists the action.
class KktDataWindow : public WindowsX11 {
protected:
    void SetUp() override {
        WindowsX11::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        FEmu.Device().SetClock(fr::ISODateToUnix("2020-01-01T00:00:00"));
        const uint16_t Port = FEmu.StartTCP();
        for (const auto& [Name, Value] : {std::pair<const char*, THostValue>{"PortNumber", THostValue::Int32(9999)},
                                          {"IPPort", THostValue::Int32(Port)},
                                          {"MteDriver", THostValue::Boolean(true)}})
            ASSERT_TRUE(FHost.Call("SetParameter", {THostValue::String(Name), Value}).Result.Bool) << Name;
    }
    void TearDown() override {
        WindowsX11::TearDown();
        FEmu.Stop();
    }
    // Runs the action while AUser works the window on another thread.
    template <class F>
    TCallResult RunWindow(F AUser) {
        std::thread User([&] {
            const unsigned long W = FindWindow("Данные ККТ");
            if (!W) {
                FError = "the window did not appear";
                return;
            }
            AUser(W);
        });
        const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String("GetKKTParams")});
        User.join();
        return R;
    }
    bool ClockSetToNow() { return std::abs(FEmu.Device().Clock() - fr::LocalNow()) < 30; }

    fr::TEmulator FEmu;
    std::string FError;
};

TEST_F(KktDataWindow, ShowsTheThreeTabsAndClosesByItsButtonAndByTheWindowManager) {
    const std::string Actions = FHost.Call("GetAdditionalActions", {THostValue::Empty()}).Params[0].Str;
    EXPECT_NE(Actions.find("Name=\"GetKKTParams\" Caption=\"Параметры и состояние ККТ\""), std::string::npos)
        << Actions;

    std::string Registration, State, Counters;
    fs::path Shot;
    TCallResult R = RunWindow([&](unsigned long W) {
        Registration = GridText(W, "Адрес электронной почты отправителя чека");
        NextTab(W);
        State = GridText(W, "Текущее время ККТ");
        // No selection in the picture.
        Shell("xdotool windowfocus --sync " + std::to_string(W) + " key shift+ctrl+a 2>/dev/null");
        std::this_thread::sleep_for(300ms);
        Shot = Screenshot(W, "kkt-data.png");
        NextTab(W);
        Counters = GridText(W, "Сумма встречными возвратов");
        CloseAsWindowManager(W);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    const std::string First = "Версия ФФД ФН\t1.2\nВерсия ФФД ККТ\t1.2\nПризнак регистрации ФН\tДа\n";
    EXPECT_EQ(Registration.substr(0, First.size()), First);
    EXPECT_NE(Registration.find("Регистрационный номер ККТ\t0000000001012345\n"), std::string::npos) << Registration;
    EXPECT_NE(Registration.find("Системы налогообложения\tОСН\n"), std::string::npos) << Registration;
    EXPECT_NE(Registration.find("Признак применения маркированных товаров\tДа\n"), std::string::npos);
    EXPECT_NE(State.find("Состояние смены\tЗакрыта\n"), std::string::npos) << State;
    EXPECT_NE(State.find("Текущее время ККТ\t01.01.2020 00:0"), std::string::npos) << State;
    EXPECT_NE(Counters.find("Кол-во чеков продаж\t0\n"), std::string::npos) << Counters;
    EXPECT_GT(fs::file_size(Shot), 5000u);

    // Again, closed by its own button.
    R = RunWindow([&](unsigned long W) {
        GridText(W, "Адрес электронной почты отправителя чека");
        ClickBottomButton(W, true);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    // The session the action opened for itself stays open for the host.
    const TCallResult Status = FHost.Call(
        "GetCurrentStatus", {THostValue::String(""), THostValue::String("<InputParameters/>"), THostValue::Empty()});
    EXPECT_TRUE(Status.Result.Bool) << FHost.LastError().second;
}

TEST_F(KktDataWindow, SetsTheClockAfterClosingAnOpenShiftWhenTheOperatorAgrees) {
    // A closed shift: the clock is set at once, nothing is asked.
    bool Asked = true, SetAtOnce = false;
    TCallResult R = RunWindow([&](unsigned long W) {
        GridText(W, "Адрес электронной почты отправителя чека");
        NextTab(W);
        GridText(W, "Текущее время ККТ");
        ClickBottomButton(W, false);
        SetAtOnce = Eventually([&] { return ClockSetToNow(); });
        Asked = FindWindow("Подтверждение", 1s) != 0;
        ClickBottomButton(W, true);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(SetAtOnce);
    EXPECT_FALSE(Asked);

    // An open shift, on the host's own session: "Нет" keeps shift and clock,
    // "Да" closes the shift and sets the clock.
    FEmu.Device().SetClock(fr::ISODateToUnix("2020-01-01T00:00:00"));
    const TCallResult Opened = FHost.Call("Open", {THostValue::Empty()});
    ASSERT_TRUE(Opened.Result.Bool) << FHost.LastError().second;
    const std::string Cashier = "<InputParameters><Parameters CashierName=\"Кассир\"/></InputParameters>";
    ASSERT_TRUE(
        FHost.Call("OpenShift", {THostValue::String(""), THostValue::String(Cashier), THostValue::Empty()}).Result.Bool)
        << FHost.LastError().second;
    bool AskedFirst = false, AskedAgain = false, OpenAfterNo = false, ClockKeptAfterNo = false, SetAfterYes = false;
    R = RunWindow([&](unsigned long W) {
        GridText(W, "Адрес электронной почты отправителя чека");
        NextTab(W);
        GridText(W, "Состояние смены\tОткрыта");
        ClickBottomButton(W, false);
        AskedFirst = AnswerBox("Подтверждение", "Escape");
        std::this_thread::sleep_for(1s);
        OpenAfterNo = FEmu.Device().ShiftOpen();
        ClockKeptAfterNo = !ClockSetToNow();
        ClickBottomButton(W, false);
        AskedAgain = AnswerBox("Подтверждение", "Return");
        SetAfterYes = Eventually([&] { return ClockSetToNow(); });
        ClickBottomButton(W, true);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(AskedFirst);
    EXPECT_TRUE(OpenAfterNo);
    EXPECT_TRUE(ClockKeptAfterNo);
    EXPECT_TRUE(AskedAgain);
    EXPECT_TRUE(SetAfterYes);
    EXPECT_FALSE(FEmu.Device().ShiftOpen());
    EXPECT_EQ(FEmu.Device().Documents().back().Type, 5);  // the shift report
    // The host's session stays open.
    EXPECT_TRUE(FHost.Call("Close", {THostValue::String("")}).Result.Bool);
}

// A failure of the driver is shown in a message box and the window stays:
// the storage refuses the exchange status of the state tab, first while the
// window fills before it is shown (the registration tab fills all the same),
// then on "Обновить данные" of the context menu; F5 then fills the tab.
TEST_F(KktDataWindow, ShowsDeviceFailuresAndStaysOpen) {
    FEmu.Device().FailCommand(0xFF39, 1, 0x01);
    bool FirstShown = false, RefreshShown = false, StillThere = false;
    std::string Registration, State;
    std::thread User([&] {
        FirstShown = AnswerBox("Ошибка", "Return");
        const unsigned long W = FindWindow("Данные ККТ");
        if (!W) {
            FError = "the window did not appear";
            return;
        }
        Registration = GridText(W, "Адрес электронной почты отправителя чека");
        NextTab(W);
        // "Обновить данные" from the grid's context menu, then by its key.
        FEmu.Device().FailCommand(0xFF39, 1, 0x01);
        Shell("xdotool windowfocus --sync " + std::to_string(W) + " key shift+F10 2>/dev/null");
        std::this_thread::sleep_for(1500ms);
        Shell("xdotool key Down Return 2>/dev/null");
        RefreshShown = AnswerBox("Ошибка", "Return");
        StillThere = FindWindow("Данные ККТ", 2s) != 0;
        Shell("xdotool windowfocus --sync " + std::to_string(W) + " key F5 2>/dev/null");
        State = GridText(W, "Текущее время ККТ");
        CloseAsWindowManager(W);
    });
    const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String("GetKKTParams")});
    User.join();
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(FirstShown);
    EXPECT_NE(Registration.find("Признак регистрации ФН\tДа"), std::string::npos) << Registration;
    EXPECT_TRUE(RefreshShown);
    EXPECT_TRUE(StillThere);
    EXPECT_NE(State.find("Состояние смены\tЗакрыта"), std::string::npos) << State;
}

// Without a graphical session the actions fail with a text and load no GTK.
TEST(WindowsNoDisplay, ActionsFailWithATextAndLoadNoGtk) {
    const std::string Display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    const std::string Wayland = std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    for (const char* Action : {"ViewLog", "ShowHelp"}) {
        const TCallResult R = Host.Call("DoAdditionalAction", {THostValue::String(Action)});
        EXPECT_FALSE(R.Result.Bool) << Action;
        const auto [Code, Text] = Host.LastError();
        EXPECT_EQ(Code, 1001);
        EXPECT_NE(Text.find("Нет графического сеанса"), std::string::npos) << Text;
    }
    EXPECT_EQ(Host.Call("DoAdditionalAction", {THostValue::String("viewlog")}).Result.Bool, false);
    EXPECT_EQ(Host.LastError().second, "Action not found");
    Host.Destroy();
    if (!Display.empty()) setenv("DISPLAY", Display.c_str(), 1);
    if (!Wayland.empty()) setenv("WAYLAND_DISPLAY", Wayland.c_str(), 1);
}

// Without a display the KKT data window fails the same way, after opening
// a session of its own, which it leaves open as it does after a window.
TEST(WindowsNoDisplay, KktDataWindowFailsAndLeavesTheSessionItOpened) {
    const std::string Display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    const std::string Wayland = std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    fr::TEmulator Emu;
    const uint16_t Port = Emu.StartTCP();
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    Host.Call("SetParameter", {THostValue::String("PortNumber"), THostValue::Int32(9999)});
    Host.Call("SetParameter", {THostValue::String("IPPort"), THostValue::Int32(Port)});
    Host.Call("SetParameter", {THostValue::String("MteDriver"), THostValue::Boolean(true)});
    Emu.Device().ClearCommands();
    const TCallResult R = Host.Call("DoAdditionalAction", {THostValue::String("GetKKTParams")});
    EXPECT_FALSE(R.Result.Bool);
    const auto [Code, Text] = Host.LastError();
    EXPECT_EQ(Code, 1001);
    EXPECT_NE(Text.find("Нет графического сеанса: окно «Данные ККТ»"), std::string::npos) << Text;
    EXPECT_FALSE(Emu.Device().Commands().empty());  // the session was opened
    const TCallResult Status = Host.Call(
        "GetCurrentStatus", {THostValue::String(""), THostValue::String("<InputParameters/>"), THostValue::Empty()});
    // The session the action opened stays open for the host's next operations.
    EXPECT_TRUE(Status.Result.Bool) << Host.LastError().second;
    Host.Destroy();
    Emu.Stop();
    if (!Display.empty()) setenv("DISPLAY", Display.c_str(), 1);
    if (!Wayland.empty()) setenv("WAYLAND_DISPLAY", Wayland.c_str(), 1);
}

// The library itself needs no GTK: its dynamic section names no GTK or GDK
// library; the module it carries does.
TEST(WindowsNoDisplay, LibraryLinksNoGtk) {
    if (!HaveTool("readelf")) GTEST_SKIP() << "readelf is not installed";
    const std::string Needed = Shell(std::string("readelf -d ") + FR_LIBRARY_PATH + " | grep NEEDED");
    EXPECT_NE(Needed.find("libc.so"), std::string::npos) << Needed;
    for (const char* Lib : {"libgtk", "libgdk", "libzip", "libcmark", "libX11"})
        EXPECT_EQ(Needed.find(Lib), std::string::npos) << Lib << " in\n" << Needed;
}

// A desktop without a usable GTK: the module cannot be loaded, the action
// fails with a text and the host goes on. The command-line host runs in a
// child process whose loader finds a broken libgtk-3.so.0 first.
TEST(WindowsNoDisplay, MissingGtkFailsTheActionWithAText) {
    const fs::path Dir = TX11Environment::Dir / "broken-gtk";
    fs::create_directories(Dir);
    std::ofstream(Dir / "libgtk-3.so.0") << "";
    const std::string Out =
        Shell("env LD_LIBRARY_PATH=" + Dir.string() + " DISPLAY=:99 " + FR_BINARY_DIR + "/tools/drvtest --lib " +
              FR_LIBRARY_PATH + " call DoAdditionalAction s:ShowHelp -- call GetLastError e 2>&1");
    EXPECT_NE(Out.find("DoAdditionalAction: called, result false"), std::string::npos) << Out;
    EXPECT_NE(Out.find("GetLastError: 1001 Не удалось загрузить модуль окон драйвера"), std::string::npos) << Out;
    EXPECT_NE(Out.find("libgtk-3.so.0"), std::string::npos) << Out;
}
