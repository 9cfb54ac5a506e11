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

// A size given for 120 dots per inch, at ADpi.
int Scaled(int APixels, unsigned ADpi) {
    return int(std::lround(APixels * double(ADpi) / 120.0));
}

// The size of a screenshot that shows something: a blank picture is a few
// hundred bytes.
constexpr uintmax_t kPainted = 2000;

// Where the screenshots go: FR_SCREENSHOT_DIR when set, else the test's
// folder.
std::string ShotPath(const std::string& AName) {
    const char* Dir = std::getenv("FR_SCREENSHOT_DIR");
    return fr::Utf8FromPath((Dir && *Dir ? fs::path(Dir) : TWindowsEnvironment::Dir) / AName);
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

bool HasRow(const TRows& ARows, const std::string& AName, const std::string& AValue) {
    for (const auto& [Name, Value] : ARows)
        if (Name == AName && Value == AValue) return true;
    return false;
}

std::string Dump(const TRows& ARows) {
    std::string S;
    for (const auto& [Name, Value] : ARows) S += Name + "\t" + Value + "\n";
    return S;
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
    TCallResult RunKktWindow(const std::function<void(THandle)>& AUser) {
        return RunWindow("GetKKTParams", "Данные ККТ", AUser);
    }
    // The grid of the tab shown, once it has ANeedle (a row name) or after
    // ten seconds.
    static TRows ShownRows(THandle AWindow, const std::string& ANeedle) {
        TRows Rows;
        Eventually([&] {
            const std::vector<THandle> Grids = winui::Children(AWindow, "SysListView32");
            Rows = Grids.size() == 1 ? winui::ListRows(Grids[0]) : TRows{};
            for (const auto& Row : Rows)
                if (Row.first == ANeedle) return true;
            return false;
        });
        return Rows;
    }
    static THandle ShownGrid(THandle AWindow) {
        const std::vector<THandle> Grids = winui::Children(AWindow, "SysListView32");
        return Grids.size() == 1 ? Grids[0] : 0;
    }
    static THandle Tabs(THandle AWindow) {
        const std::vector<THandle> T = winui::Children(AWindow, "SysTabControl32");
        return T.empty() ? 0 : T[0];
    }
    bool ClockSetToNow() { return std::abs(FEmu.Device().Clock() - fr::LocalNow()) < 30; }

    fr::TEmulator FEmu;
};

const char kLastRegistrationRow[] = "Адрес электронной почты отправителя чека";

TEST_F(KktDataWindow, ShowsTheThreeTabsOverTheHostWindow) {
    TRows Registration, State, Counters;
    std::vector<std::string> TabNames;
    bool HostDisabled = false, ClockButtonOnFirstTab = true, ClockButtonOnState = false, BackToFirst = false;
    THandle Owner = 0;
    std::pair<int, int> Size, Expected, Centre, HostCentre;
    std::string Controls, Copied, EditorText, AfterEscape, AfterEnter;
    bool OpenAfterEscape = false;
    int NameColumn = 0, LongestName = 0;
    uintmax_t Shot = 0;
    const TCallResult R = RunKktWindow([&](THandle W) {
        Owner = winui::Owner(W);
        HostDisabled = !winui::Enabled(FHostWindow);
        Size = winui::ClientSize(W);
        Centre = winui::Centre(W);
        HostCentre = winui::Centre(FHostWindow);
        Expected = {Scaled(678, winui::Dpi(W)), Scaled(577, winui::Dpi(W))};
        const THandle Pages = Tabs(W);
        TabNames = winui::TabTexts(Pages);
        Registration = ShownRows(W, kLastRegistrationRow);
        const THandle Grid = ShownGrid(W);
        Controls = winui::WindowModule(Grid);
        NameColumn = winui::ColumnWidth(Grid, 0);
        for (const auto& Row : Registration) LongestName = std::max(LongestName, winui::TextWidth(Grid, Row.first));
        ClockButtonOnFirstTab = winui::Button(W, "Установить дату/время ККТ") != 0;

        // A value can be edited in place: Escape drops the edit (and leaves
        // the window), Enter keeps it in the grid.
        winui::DoubleClickCell(Grid, 0, 1);
        std::vector<THandle> Editors;
        Eventually([&] { return (Editors = winui::Children(W, "Edit")).size() == 1; });
        EditorText = Editors.size() == 1 ? winui::Contents(Editors[0]) : "";
        if (!Editors.empty()) winui::TypeKeys(Editors[0], {winui::key::Escape});
        AfterEscape = winui::ListRows(Grid)[0].second;
        OpenAfterEscape = winui::FindTopWindow("Данные ККТ", 0) != 0 && winui::Children(W, "Edit").empty();
        winui::DoubleClickCell(Grid, 0, 1);
        for (const THandle Editor : winui::Children(W, "Edit")) {
            winui::TypeKeys(Editor, {'7'});
            winui::TypeKeys(Editor, {winui::key::Return});
        }
        AfterEnter = winui::ListRows(Grid)[0].second;

        winui::ClickTab(Pages, 1);
        State = ShownRows(W, "Текущее время ККТ");
        ClockButtonOnState = winui::Button(W, "Установить дату/время ККТ") != 0;
        Shot = winui::Screenshot(W, ShotPath("kkt-data-windows.png"));

        winui::ClickTab(Pages, 2);
        Counters = ShownRows(W, "Сумма встречными возвратов");
        const THandle CounterGrid = ShownGrid(W);
        winui::TypeKeys(CounterGrid, {winui::key::Control, 'A'});
        winui::TypeKeys(CounterGrid, {winui::key::Control, 'C'});
        Copied = winui::ClipboardText();
        winui::TypeKeys(CounterGrid, {winui::key::Control, winui::key::Tab});
        BackToFirst = winui::SelectedTab(Pages) == 0 && ShownGrid(W) != CounterGrid;
        winui::PostClose(W);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;

    // Modal over the host's window, which has its input back afterwards.
    EXPECT_EQ(Owner, FHostWindow);
    EXPECT_TRUE(HostDisabled);
    EXPECT_TRUE(winui::Enabled(FHostWindow));
    EXPECT_EQ(Size, Expected);
    EXPECT_NEAR(Centre.first, HostCentre.first, 1);  // centred on its owner
    EXPECT_NEAR(Centre.second, HostCentre.second, 1);
    // The common controls version 6, from the DLL's own manifest (the test
    // program has none).
    EXPECT_NE(Controls.find("common-controls"), std::string::npos) << Controls;
    EXPECT_EQ(TabNames, (std::vector<std::string>{"Параметры ККТ", "Состояние ККТ", "Денежные счетчики"}));

    ASSERT_EQ(Registration.size(), 31u) << Dump(Registration);
    EXPECT_EQ(Registration[0], (std::pair<std::string, std::string>{"Версия ФФД ФН", "1.2"}));
    EXPECT_EQ(Registration[2], (std::pair<std::string, std::string>{"Признак регистрации ФН", "Да"}));
    EXPECT_TRUE(HasRow(Registration, "Регистрационный номер ККТ", "0000000001012345")) << Dump(Registration);
    EXPECT_TRUE(HasRow(Registration, "Системы налогообложения", "ОСН"));
    EXPECT_TRUE(HasRow(Registration, "Номер автомата для автоматического режима", ""));
    EXPECT_GE(NameColumn, LongestName);
    EXPECT_EQ(EditorText, "1.2");
    EXPECT_EQ(AfterEscape, "1.2");
    EXPECT_TRUE(OpenAfterEscape);
    EXPECT_EQ(AfterEnter, "7");

    ASSERT_EQ(State.size(), 16u) << Dump(State);
    EXPECT_TRUE(HasRow(State, "Признак необходимости срочной замены ФН", "Нет"));
    EXPECT_TRUE(HasRow(State, "Состояние смены", "Закрыта")) << Dump(State);
    // The clock in the desktop's (Russian) format.
    EXPECT_EQ(State.back().second.substr(0, 14), "01.01.2020 00:") << Dump(State);
    EXPECT_TRUE(HasRow(Counters, "Кол-во чеков продаж", "0")) << Dump(Counters);
    EXPECT_EQ(Copied.rfind("Кол-во чеков продаж\t0\r\n", 0), 0u) << Copied;
    EXPECT_EQ(std::count(Copied.begin(), Copied.end(), '\n'), std::ptrdiff_t(Counters.size())) << Copied;

    EXPECT_FALSE(ClockButtonOnFirstTab);
    EXPECT_TRUE(ClockButtonOnState);
    EXPECT_TRUE(BackToFirst);
    EXPECT_GT(Shot, kPainted);
}

// Every way of closing ends the action with success; the host's quit message
// ends it too and is left for the host's own loop. The session the action
// opened for itself stays open for the host.
TEST_F(KktDataWindow, ClosesEveryWayAndTheActionSucceeds) {
    struct TWay {
        const char* Name;
        void (*Close)(THandle);
        bool Quits;
    };
    const TWay Ways[] = {
        {"its button", [](THandle W) { winui::ClickButton(winui::Button(W, "Закрыть")); }, false},
        {"WM_CLOSE", winui::PostClose, false},
        {"the window manager's close", winui::PostSystemClose, false},
        {"Escape", [](THandle W) { winui::TypeKeys(W, {winui::key::Escape}); }, false},
        {"the host's quit", winui::PostQuit, true},
    };
    for (const TWay& Way : Ways) {
        FError.clear();
        const TCallResult R = RunKktWindow([&](THandle W) {
            ShownRows(W, kLastRegistrationRow);
            Way.Close(W);
        });
        EXPECT_EQ(FError, "") << Way.Name;
        EXPECT_TRUE(R.Result.Bool) << Way.Name << ": " << FHost.LastError().second;
        EXPECT_TRUE(winui::Enabled(FHostWindow)) << Way.Name;
        EXPECT_EQ(winui::TakeQuit(), Way.Quits) << Way.Name;
    }
    const TCallResult Status = FHost.Call(
        "GetCurrentStatus", {THostValue::String(""), THostValue::String("<InputParameters/>"), THostValue::Empty()});
    EXPECT_TRUE(Status.Result.Bool) << FHost.LastError().second;
}

TEST_F(KktDataWindow, SetsTheClockAfterClosingAnOpenShiftWhenTheOperatorAgrees) {
    // A closed shift: the clock is set at once, nothing is asked.
    bool Asked = true, SetAtOnce = false;
    TCallResult R = RunKktWindow([&](THandle W) {
        ShownRows(W, kLastRegistrationRow);
        winui::ClickTab(Tabs(W), 1);
        ShownRows(W, "Текущее время ККТ");
        winui::ClickButton(winui::Button(W, "Установить дату/время ККТ"));
        SetAtOnce = Eventually([&] { return ClockSetToNow(); });
        Asked = winui::FindTopWindow("Подтверждение", 1000) != 0;
        winui::ClickButton(winui::Button(W, "Закрыть"));
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(SetAtOnce);
    EXPECT_FALSE(Asked);

    // An open shift, on the host's own session: "No" keeps shift and clock,
    // "Yes" closes the shift and sets the clock.
    FEmu.Device().SetClock(fr::ISODateToUnix("2020-01-01T00:00:00"));
    ASSERT_TRUE(FHost.Call("Open", {THostValue::Empty()}).Result.Bool) << FHost.LastError().second;
    const std::string Cashier = "<InputParameters><Parameters CashierName=\"Кассир\"/></InputParameters>";
    ASSERT_TRUE(
        FHost.Call("OpenShift", {THostValue::String(""), THostValue::String(Cashier), THostValue::Empty()}).Result.Bool)
        << FHost.LastError().second;
    bool AskedFirst = false, AskedAgain = false, OpenAfterNo = false, ClockKeptAfterNo = false, SetAfterYes = false;
    std::string Question;
    R = RunKktWindow([&](THandle W) {
        ShownRows(W, kLastRegistrationRow);
        winui::ClickTab(Tabs(W), 1);
        ShownRows(W, "Текущее время ККТ");
        const THandle SetClock = winui::Button(W, "Установить дату/время ККТ");
        winui::ClickButton(SetClock);
        if (winui::FindTopWindow("Подтверждение", 10000, "#32770")) Question = winui::BoxText("Подтверждение");
        AskedFirst = winui::AnswerBox("Подтверждение", winui::IdNo);
        std::this_thread::sleep_for(1s);
        OpenAfterNo = FEmu.Device().ShiftOpen();
        ClockKeptAfterNo = !ClockSetToNow();
        winui::ClickButton(SetClock);
        AskedAgain = winui::AnswerBox("Подтверждение", winui::IdYes);
        SetAfterYes = Eventually([&] { return ClockSetToNow(); });
        winui::ClickButton(winui::Button(W, "Закрыть"));
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(AskedFirst);
    EXPECT_EQ(Question, "Смена открыта. Операция невозможна. Закрыть смену?");
    EXPECT_TRUE(OpenAfterNo);
    EXPECT_TRUE(ClockKeptAfterNo);
    EXPECT_TRUE(AskedAgain);
    EXPECT_TRUE(SetAfterYes);
    EXPECT_FALSE(FEmu.Device().ShiftOpen());
    EXPECT_EQ(FEmu.Device().Documents().back().Type, 5);  // the shift report
    EXPECT_TRUE(FHost.Call("Close", {THostValue::String("")}).Result.Bool);
}

// A failure of the driver is shown in a message box and the window stays:
// the storage refuses the exchange status of the state tab, first while the
// window fills before it is shown (the registration tab fills all the same,
// the state tab stays empty, never half filled), then on "Обновить данные"
// of the context menu; F5 then fills the tab.
TEST_F(KktDataWindow, ShowsDeviceFailuresAndStaysOpen) {
    FEmu.Device().FailCommand(0xFF39, 1, 0x01);
    bool FirstShown = false, RefreshShown = false, StillThere = false;
    std::string FirstText;
    TRows Registration, StateAfterFailure, State;
    std::thread User([&] {
        if (winui::FindTopWindow("Ошибка", 20000, "#32770")) FirstText = winui::BoxText("Ошибка");
        FirstShown = winui::AnswerBox("Ошибка", winui::IdOk);
        const THandle W = winui::FindTopWindow("Данные ККТ");
        if (!W) {
            FError = "the window did not appear";
            return;
        }
        Registration = ShownRows(W, kLastRegistrationRow);
        winui::ClickTab(Tabs(W), 1);
        const THandle Grid = ShownGrid(W);
        StateAfterFailure = winui::ListRows(Grid);
        // "Обновить данные" from the grid's context menu, then by its key.
        FEmu.Device().FailCommand(0xFF39, 1, 0x01);
        winui::TypeKeys(Grid, {winui::key::Shift, winui::key::F10});
        winui::TypeKeys(Grid, {winui::key::Down});
        winui::TypeKeys(Grid, {winui::key::Return});
        RefreshShown = winui::AnswerBox("Ошибка", winui::IdOk);
        StillThere = winui::FindTopWindow("Данные ККТ", 2000) != 0;
        winui::TypeKeys(Grid, {winui::key::F5});
        State = ShownRows(W, "Текущее время ККТ");
        winui::PostClose(W);
    });
    const TCallResult R = FHost.Call("DoAdditionalAction", {THostValue::String("GetKKTParams")});
    User.join();
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(FirstShown);
    EXPECT_NE(FirstText, "");
    EXPECT_TRUE(HasRow(Registration, "Признак регистрации ФН", "Да")) << Dump(Registration);
    EXPECT_TRUE(StateAfterFailure.empty()) << Dump(StateAfterFailure);
    EXPECT_TRUE(RefreshShown);
    EXPECT_TRUE(StillThere);
    EXPECT_TRUE(HasRow(State, "Состояние смены", "Закрыта")) << Dump(State);
}

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

namespace {

// The log viewer over a log folder of the test's own.
class LogViewer : public WindowsWin32 {
protected:
    void SetUp() override {
        WindowsWin32::SetUp();
        std::error_code Ec;
        fs::remove_all(TWindowsEnvironment::LogDir, Ec);
        fs::create_directories(TWindowsEnvironment::LogDir);
    }
    static void Write(const std::string& AName, const std::string& ABytes, std::chrono::minutes AAge) {
        const fs::path P = TWindowsEnvironment::LogDir / AName;
        std::ofstream(P, std::ios::binary) << ABytes;
        fs::last_write_time(P, fs::file_time_type::clock::now() - AAge);
    }
    TCallResult RunLogWindow(const std::function<void(THandle)>& AUser) {
        return RunWindow("ViewLog", "Просмотр лога", AUser);
    }
};

const char kToday[] = "fr_orvalen1c8x3n_2026.12.10.log";
const char kRotated[] = "fr_orvalen1c8x3n_2026.12.10_1.log";

// The newest file by its last write is shown, not the last name (a day's
// rotated part sorts after its current file); the text follows the file with
// the caret where it was; another file and the OEM encoding load again; the
// list is read again when it drops down.
TEST_F(LogViewer, ShowsTheNewestFileFollowsItAndDecodesTheChosenEncoding) {
    const std::string Lines =
        "2026.12.10 10:15:02.117\tINFO\t> Open: \tПодключение к ККТ по TCP 127.0.0.1:7778\r\n"
        "2026.12.10 10:15:02.305\tINFO\t< Open: \tУспешно\r\n";
    Write("fr_orvalen1c8x3n_2026.12.09.log", "2026.12.09 09:00:00.000\tINFO\tвчера\r\n", 120min);
    // "Касса" in code page 866, then a line break written the Unix way.
    Write(kRotated, "\x8A\xA0\xE1\xE1\xA0\nend\n", 60min);
    Write(kToday, Lines, 0min);
    Write("notes.txt", "not a log\r\n", 0min);

    std::vector<std::string> Files, Encodings, Refilled;
    std::string Selected, Shown, Followed, RotatedAsUtf8, RotatedAsOem, SelectedAfterRefill;
    std::pair<int, int> Caret, Size, Expected, Centre, ScreenCentre;
    uintmax_t Shot = 0;
    const TCallResult R = RunLogWindow([&](THandle W) {
        Size = winui::ClientSize(W);
        Expected = {Scaled(884, winui::Dpi(W)), Scaled(550, winui::Dpi(W))};
        Centre = winui::Centre(W);
        ScreenCentre = winui::ScreenCentre(W);
        const std::vector<THandle> Combos = winui::Children(W, "ComboBox");
        const std::vector<THandle> Texts = winui::Children(W, "Edit");
        if (Combos.size() != 2 || Texts.size() != 1) return winui::PostClose(W);
        const THandle List = Combos[0], Encoding = Combos[1], Text = Texts[0];
        Files = winui::ComboItems(List);
        Encodings = winui::ComboItems(Encoding);
        Selected = winui::ComboSelected(List);
        Shown = winui::Contents(Text);

        winui::SetEditSelection(Text, 10, 10);
        std::ofstream(TWindowsEnvironment::LogDir / kToday, std::ios::binary | std::ios::app)
            << "2026.12.10 10:15:07.480\tINFO\t> OpenShift: \tОткрытие смены\r\n";
        Eventually([&] { return (Followed = winui::Contents(Text)).find("Открытие смены") != std::string::npos; });
        Caret = winui::EditSelection(Text);
        Shot = winui::Screenshot(W, ShotPath("log-viewer-windows.png"));

        // The next file of the list, as the operator picks it.
        winui::TypeKeys(List, {winui::key::Down});
        RotatedAsUtf8 = winui::Contents(Text);
        winui::TypeKeys(Encoding, {winui::key::Down});
        winui::TypeKeys(Encoding, {winui::key::Down});
        RotatedAsOem = winui::Contents(Text);

        Write("fr_orvalen1c8x3n_2026.12.11.log", "", 0min);
        winui::Send(List, 0x014F /* CB_SHOWDROPDOWN */, 1, 0);
        Refilled = winui::ComboItems(List);
        SelectedAfterRefill = winui::ComboSelected(List);
        winui::Send(List, 0x014F, 0, 0);
        winui::PostSystemClose(W);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_EQ(Size, Expected);
    EXPECT_NEAR(Centre.first, ScreenCentre.first, 1);
    EXPECT_NEAR(Centre.second, ScreenCentre.second, 1);
    EXPECT_EQ(Files, (std::vector<std::string>{"fr_orvalen1c8x3n_2026.12.09.log", kToday, kRotated}));
    EXPECT_EQ(Encodings, (std::vector<std::string>{"UTF-8", "ANSI", "OEM"}));
    EXPECT_EQ(Selected, kToday);
    EXPECT_EQ(Shown, Lines);
    EXPECT_NE(Followed.find(Lines + "2026.12.10 10:15:07.480"), std::string::npos) << Followed;
    EXPECT_EQ(Caret, (std::pair<int, int>{10, 10}));
    EXPECT_EQ(RotatedAsUtf8, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\r\nend\r\n");
    EXPECT_EQ(RotatedAsOem, "Касса\r\nend\r\n");
    EXPECT_EQ(Refilled.size(), 4u);
    EXPECT_EQ(SelectedAfterRefill, kRotated);
    EXPECT_GT(Shot, kPainted);
}

// Without log files the list and the text are empty; the folder button opens
// the log folder in the system's file explorer.
TEST_F(LogViewer, AnEmptyFolderShowsNothingAndItsButtonOpensTheFolder) {
    Write("notes.txt", "not a log\r\n", 0min);
    std::vector<std::string> Files;
    std::string Shown = "?";
    THandle Explorer = 0;
    const TCallResult R = RunLogWindow([&](THandle W) {
        const std::vector<THandle> Combos = winui::Children(W, "ComboBox");
        const std::vector<THandle> Texts = winui::Children(W, "Edit");
        if (Combos.size() != 2 || Texts.size() != 1) return winui::PostClose(W);
        Files = winui::ComboItems(Combos[0]);
        Shown = winui::Contents(Texts[0]);
        const std::vector<THandle> Buttons = winui::Children(W, "Button");
        if (!Buttons.empty()) winui::ClickButton(Buttons[0]);
        Explorer = winui::FindAnyWindowWith("logs", 20000);
        if (Explorer) winui::PostClose(Explorer);
        winui::PostClose(W);
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    EXPECT_TRUE(Files.empty());
    EXPECT_EQ(Shown, "");
    EXPECT_NE(Explorer, 0u);
}

}  // namespace

namespace {

std::string ReadFile(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
}

// The help: the package unpacked into a private {GUID} folder with its HTML
// file while the window is open and removed after it; the text formatted
// from the Markdown, not its markup.
TEST_F(WindowsWin32, HelpShowsTheFormattedHelpAndClearsItsFolder) {
    const fs::path Tmp = TWindowsEnvironment::Dir / "tmp";
    std::vector<std::string> WorkFolders;
    std::string Html, Shown;
    winui::TCharLook Title, Body, Link, Code;
    uintmax_t Shot = 0;
    const TCallResult R = RunWindow("ShowHelp", "Справка", [&](THandle W) {
        for (const auto& E : fs::directory_iterator(Tmp)) {
            WorkFolders.push_back(fr::Utf8FromPath(E.path().filename()));
            Html = ReadFile(E.path() / "md.html");
        }
        const std::vector<THandle> Views = winui::Children(W, "RICHEDIT50W");
        const std::vector<THandle> Older = winui::Children(W, "RichEdit20W");
        const THandle View = !Views.empty() ? Views[0] : !Older.empty() ? Older[0] : 0;
        Shown = winui::Contents(View);
        Title = winui::LookOf(View, "Драйвер ККТ Орвален");
        Body = winui::LookOf(View, "Драйвер подключает");
        Link = winui::LookOf(View, "руководство udev");
        Code = winui::LookOf(View, "192.168.0.50");
        Shot = winui::Screenshot(W, ShotPath("help-viewer-windows.png"));
        winui::TypeKeys(View, {winui::key::Escape});
    });
    ASSERT_EQ(FError, "") << (R.Result.Bool ? "" : FHost.LastError().second);
    EXPECT_TRUE(R.Result.Bool) << FHost.LastError().second;
    ASSERT_EQ(WorkFolders.size(), 1u);
    EXPECT_EQ(WorkFolders[0].front(), '{');
    EXPECT_EQ(Html.substr(0, 20), "\xEF\xBB\xBF<!DOCTYPE html>\r\n");
    EXPECT_NE(Html.find("<link href=\"help.css\" rel=\"stylesheet\">"), std::string::npos);
    EXPECT_NE(Shown.find("Подключение ККТ"), std::string::npos) << Shown.substr(0, 300);
    EXPECT_NE(Shown.find("dialout"), std::string::npos);
    EXPECT_EQ(Shown.find("<h1>"), std::string::npos);
    EXPECT_EQ(Shown.find("## "), std::string::npos);
    EXPECT_EQ(Shown.find("**"), std::string::npos);
    EXPECT_TRUE(Title.Bold);
    EXPECT_FALSE(Body.Bold);
    EXPECT_GT(Title.Height, Body.Height);
    EXPECT_TRUE(Link.Link);
    EXPECT_FALSE(Body.Link);
    EXPECT_EQ(Code.Face, "Consolas");
    EXPECT_NE(Body.Face, "Consolas");
    // The working folder is gone once the window is closed.
    EXPECT_TRUE(fs::is_empty(Tmp));
    EXPECT_GT(Shot, kPainted);
}

}  // namespace
