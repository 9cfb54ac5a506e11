// Device sessions and the shift, status and report methods, through the
// host interface against the emulator on loopback TCP and on a
// pseudo-terminal linked as com<n> (/dev/com<n>; COM<n> under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <pugixml.hpp>

#include "E2EDevice.h"
#include "E2EEnvironment.h"
#include "TestBytes.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace {

using fr::TEmulator;
using fr::host::TComponentHost;
using fr::host::THostValue;
using fr::test::TTransport;
using V = THostValue;

pugi::xml_node Params(pugi::xml_document& Doc, const std::string& Text) {
    EXPECT_TRUE(Doc.load_string(Text.c_str())) << Text;
    return Doc.child("OutputParameters").child("Parameters");
}

std::vector<std::string> AttrNames(pugi::xml_node N) {
    std::vector<std::string> Out;
    for (auto A : N.attributes()) Out.push_back(A.name());
    return Out;
}

const std::string kCashier =
    "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/></InputParameters>";

class Sessions : public ::testing::TestWithParam<TTransport> {
protected:
    bool Tcp() const { return GetParam() == TTransport::Tcp; }
    void SetUp() override {
        if (Tcp()) {
            Port = Emu.StartTCP();
        } else {
            // The driver finds a serial cash register as com<n> only.
            if (const char* Why = ComLinkUnavailable()) GTEST_SKIP() << Why;
            ComNumber = Com.Number;
            ASSERT_NE(ComNumber, 0) << "no free com number";
            Emu.StartSerial(ComNumber);
        }
        Host.Load(FR_LIBRARY_PATH);
        ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    }
    void TearDown() override {
        Host.Destroy();
        Emu.Stop();
        EXPECT_TRUE(Host.Memory().Errors().empty());
        EXPECT_EQ(Host.Memory().LiveBlocks(), 0u);
    }
    void Set(const std::string& AName, const V& AValue) {
        ASSERT_TRUE(Host.Call("SetParameter", {V::String(AName), AValue}).Result.Bool) << AName;
    }
    // Sets the connection parameters of this test's emulator and opens it.
    std::string Open() {
        if (Tcp()) {
            Set("PortNumber", V::Int32(9999));
            Set("IPPort", V::Int32(Port));
        } else {
            Set("PortNumber", V::Int32(ComNumber));
        }
        const auto R = Host.Call("Open", {V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << Host.LastError().second;
        return R.Params[0].Str;
    }
    // Calls a fiscal method; returns its out-parameter AOut (or the result).
    fr::host::TCallResult Fiscal(const std::string& AName, std::vector<V> AParams) {
        auto R = Host.Call(AName, AParams);
        EXPECT_TRUE(R.Called);
        EXPECT_TRUE(R.StringsInHostMemory);
        if (Tcp()) {
            EXPECT_EQ(ClientConnections(Port), 0) << AName << " left its connection open";
        }
        return R;
    }
    void ExpectError(const fr::host::TCallResult& R, int32_t ACode, const std::string& AText) {
        EXPECT_FALSE(R.Result.Bool);
        EXPECT_EQ(Host.LastError(), std::make_pair(ACode, AText));
    }

    TComNumber Com;
    TEmulator Emu;
    uint16_t Port = 0;
    int ComNumber = 0;
    TComponentHost Host;
};

TEST_P(Sessions, ShiftCycle) {
    Set("LogEnabled", V::Boolean(true));
    Set("MaxReceiptRowLength", V::Int32(32));
    Set("FeedCount", V::Int32(3));
    const std::string ID = Open();
    ASSERT_EQ(ID.size(), 36u);
    // The settings went to the session; the driver's are back to defaults.
    EXPECT_EQ(Host.GetProp("MaxReceiptRowLength").Result.Int, 48);
    EXPECT_EQ(Host.GetProp("FeedCount").Result.Int, 8);
    EXPECT_EQ(Host.GetProp("PortNumber").Result.Int, 0);
    EXPECT_TRUE(Host.GetProp("LogEnabled").Result.Bool);  // the log switch is not reset
    EXPECT_EQ(Fiscal("GetLineLength", {V::String(ID), V::Empty()}).Params[1].Int, 32);

    auto R = Fiscal("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    pugi::xml_document Doc;
    auto P = Params(Doc, R.Params[2].Str);
    EXPECT_EQ(AttrNames(P),
              (std::vector<std::string>{"FNError", "FNFail", "FNOverflow", "ShiftNumber", "DateTime", "ShiftState"}));
    EXPECT_STREQ(P.attribute("ShiftState").value(), "2");
    EXPECT_EQ(std::string(P.attribute("ShiftNumber").value()), std::to_string(Emu.Device().ShiftNumber()));
    EXPECT_TRUE(Emu.Device().ShiftOpen());

    ExpectError(Fiscal("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()}), 3015, "Смена открыта");

    ASSERT_TRUE(Fiscal("PrintXReport", {V::String(ID), V::String(kCashier)}).Result.Bool);

    R = Fiscal("ReportCurrentStatusOfSettlements", {V::String(ID), V::String(kCashier), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    P = Params(Doc, R.Params[2].Str);
    EXPECT_EQ(AttrNames(P), (std::vector<std::string>{"CashBalance", "ShiftState", "BacklogDocumentsCounter",
                                                      "BacklogDocumentFirstNumber", "BacklogDocumentFirstDateTime"}));
    EXPECT_TRUE(P.child("CountersOperationType1") && P.child("CountersOperationType2"));

    R = Fiscal("GetCurrentStatus", {V::String(ID), V::String("<InputParameters/>"), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    P = Params(Doc, R.Params[2].Str);
    EXPECT_EQ(AttrNames(P), (std::vector<std::string>{"CashBalance", "RecState", "DrawerState", "CoverOpen",
                                                      "ShiftNumber", "CheckNumber", "ShiftClosingCheckNumber",
                                                      "ShiftState", "BacklogDocumentsCounter",
                                                      "BacklogDocumentFirstNumber", "BacklogDocumentFirstDateTime"}));
    EXPECT_FALSE(P.first_child());
    EXPECT_STREQ(P.attribute("RecState").value(), "0");

    R = Fiscal("GetCurrentStatus",
               {V::String(ID), V::String("<InputParameters><Parameters GetCounters=\"true\"/></InputParameters>"),
                V::Empty()});
    P = Params(Doc, R.Params[2].Str);
    std::vector<std::string> Children;
    for (auto C : P.children()) Children.push_back(C.name());
    EXPECT_EQ(Children,
              (std::vector<std::string>{"CountersOperationType1", "CountersOperationType2", "CashIn", "CashOut"}));
    EXPECT_TRUE(Doc.child("OutputParameters").child("Payments").child("Barter"));

    R = Fiscal("CloseShift", {V::String(ID), V::String(kCashier), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    P = Params(Doc, R.Params[2].Str);
    EXPECT_STREQ(P.attribute("ShiftState").value(), "1");
    EXPECT_TRUE(P.child("CountersOperationType2"));
    EXPECT_FALSE(Emu.Device().ShiftOpen());
    ExpectError(Fiscal("CloseShift", {V::String(ID), V::String(kCashier), V::Empty()}), 3005, "Смена закрыта");

    const auto Lines = Emu.Device().Tape().Lines();
    EXPECT_FALSE(Lines.empty());

    ASSERT_TRUE(Host.Call("Close", {V::String(ID)}).Result.Bool);
    ExpectError(Host.Call("OpenCashDrawer", {V::String(ID)}), 1001,
                "Экземпляр устройства c идентификатором " + ID + " не существует или уже был отключен");
}

TEST_P(Sessions, ShiftStateAndCashierErrors) {
    const std::string ID = Open();
    // A closed shift cannot be closed; an INN that is not 12 characters is refused.
    ExpectError(
        Fiscal("OpenShift",
               {V::String(ID),
                V::String("<InputParameters><Parameters CashierName=\"К\" CashierINN=\"123\"/></InputParameters>"),
                V::Empty()}),
        3026, "Длина ИНН кассира не равна 12");
    EXPECT_FALSE(Emu.Device().ShiftOpen());
    ASSERT_TRUE(Fiscal("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()}).Result.Bool);
    // A shift older than 24 hours still closes, and reports the state it left.
    Emu.Device().AgeShift(25 * 3600);
    ExpectError(Fiscal("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()}), 3002,
                "Длительность смены превысила 24 часа. Необходимо снять Z-отчет");
    const auto R = Fiscal("CloseShift", {V::String(ID), V::String(kCashier), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    pugi::xml_document Doc;
    EXPECT_STREQ(Params(Doc, R.Params[2].Str).attribute("ShiftState").value(), "1");
}

TEST_P(Sessions, ReportPrintSettingIsRestored) {
    Set("EnableReportPrinting", V::Int32(2));
    const std::string ID = Open();
    const std::string Before = Emu.Device().TableField(17, 1, 7);
    Emu.Device().ClearCommands();
    ASSERT_TRUE(Fiscal("PrintXReport", {V::String(ID), V::String(kCashier)}).Result.Bool);
    EXPECT_EQ(Emu.Device().TableField(17, 1, 7), Before);
    // Printing was switched off for the report: table 17 field 7 written 2, then back.
    int Writes = 0;
    for (const auto& C : Emu.Device().Commands())
        if (uint8_t(C[0]) == 0x1E && C.size() >= 10 && uint8_t(C[5]) == 17 && uint8_t(C[8]) == 7) ++Writes;
    EXPECT_EQ(Writes, 2);
}

TEST_P(Sessions, ClockAndSmallMethods) {
    const std::string ID = Open();
    ASSERT_TRUE(Fiscal("SetDateTime", {V::String(ID), V::String("2024-03-01T12:00:00")}).Result.Bool);
    EXPECT_EQ(Fiscal("GetDateTime", {V::String(ID), V::Empty()}).Params[1].Str.substr(0, 16), "2024-03-01T12:00");
    ASSERT_TRUE(Fiscal("SetDateTime", {V::String(ID), V::String("2024-03-01T12:00:00+03:00")}).Result.Bool);
    EXPECT_EQ(Fiscal("GetDateTime", {V::String(ID), V::Empty()}).Params[1].Str.substr(0, 16), "2024-03-01T09:00");
    ExpectError(Fiscal("SetDateTime", {V::String(ID), V::String("01.03.2024 12:00")}), 1004,
                "Ошибка входных параметров команды. Некорректный формат даты/времени");

    Emu.Device().ClearCommands();
    for (const char* N : {"", "5", "abc"})
        ExpectError(Fiscal("PrintCheckCopy", {V::String(ID), V::String(N)}), 1001,
                    "Печать по номеру документа не поддерживается устройством");
    EXPECT_TRUE(Emu.Device().Commands().empty());
    ASSERT_TRUE(Fiscal("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()}).Result.Bool);
    EXPECT_TRUE(Fiscal("PrintCheckCopy", {V::String(ID), V::String("0")}).Result.Bool) << Host.LastError().second;
    EXPECT_TRUE(Fiscal("OpenCashDrawer", {V::String(ID)}).Result.Bool) << Host.LastError().second;

    // The test opens its own session with the parameters set now; a serial
    // port is held by its session, so that one is closed first.
    ASSERT_TRUE(Host.Call("Close", {V::String(ID)}).Result.Bool);
    if (Tcp()) {
        Set("PortNumber", V::Int32(9999));
        Set("IPPort", V::Int32(Port));
    } else {
        Set("PortNumber", V::Int32(ComNumber));
    }
    const auto T = Host.Call("DeviceTest", {V::Empty(), V::Empty()});
    EXPECT_TRUE(T.Result.Bool) << T.Params[0].Str;
    EXPECT_EQ(T.Params[0].Str, "ОРВАЛЕН-Ф ЭМУЛЯТОР, № 0000000012345678, ФИСК");
}

TEST_P(Sessions, FailedOpenLeavesNoSession) {
    if (Tcp()) {
        Emu.Stop();  // nobody listens any more
        Set("PortNumber", V::Int32(9999));
        Set("IPPort", V::Int32(Port));
    } else {
        Set("PortNumber", V::Int32(127));  // no such port here
    }
    const auto R = Host.Call("Open", {V::Empty()});
    EXPECT_FALSE(R.Result.Bool);
    // The common Open reports every failure with the general code.
    EXPECT_EQ(Host.LastError(), std::make_pair(1001, std::string("Ошибка соединения с ККТ")));
    EXPECT_EQ(R.Params[0].Type, VTYPE_EMPTY);
}

// Settings that reach fields of fixed size: FeedCount keeps its defined
// meaning (a count outside one byte feeds nothing), any other value that
// does not fit is refused by Open, never sent cut.
TEST(SessionSettings, ValuesThatDoNotFitTheirField) {
    TEmulator Emu;
    const uint16_t Port = Emu.StartTCP();
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    const auto Set = [&](const std::string& AName, const V& AValue) {
        ASSERT_TRUE(Host.Call("SetParameter", {V::String(AName), AValue}).Result.Bool) << AName;
    };
    const auto Connect = [&] {
        Set("PortNumber", V::Int32(9999));
        Set("IPPort", V::Int32(Port));
    };

    const std::string Refused = "Недопустимое значение параметра ";
    const struct {
        std::string Name;
        int32_t Value;
        std::string Text;
    } Cases[] = {
        {"MaxReceiptRowLength", 300,
         Refused + "«Длина строки» (MaxReceiptRowLength): 300. Допустимо не больше 255; 0 и меньше — длина строки ККТ"},
        {"IPPort", Port + 65536,
         Refused + "«IP порт» (IPPort): " + std::to_string(Port + 65536) + ". Допустимо от 1 до 65535"},
        {"EnablePrinting", 258, Refused + "«Включить печать» (EnablePrinting): 258. Допустимо от 0 до 255"},
        {"EnableReportPrinting", -1,
         Refused + "«Включить печать отчетов» (EnableReportPrinting): -1. Допустимо от 0 до 255"},
        {"ReceiptFontNumber", 256, Refused + "«Номер шрифта чека» (ReceiptFontNumber): 256. Допустимо от 0 до 255"},
        {"ConnectPwd", -1, Refused + "«Пароль связи» (ConnectPwd): -1. Допустимо от 0 до 2147483647"},
    };
    for (const auto& C : Cases) {
        Connect();
        Set(C.Name, V::Int32(C.Value));
        const auto R = Host.Call("Open", {V::Empty()});
        EXPECT_FALSE(R.Result.Bool) << C.Name;
        EXPECT_EQ(Host.LastError(), std::make_pair(1001, C.Text));
        EXPECT_EQ(R.Params[0].Type, VTYPE_EMPTY);
        Set(C.Name, V::Int32(C.Name == "ConnectPwd" ? 30 : C.Name == "ReceiptFontNumber" ? 1 : 0));
    }
    EXPECT_TRUE(Emu.Device().Commands().empty());  // nothing reached the device

    // A count of 261 feeds nothing before the test's cut (not 261 - 256 lines).
    Connect();
    Set("FeedCount", V::Int32(261));
    const auto T = Host.Call("DeviceTest", {V::Empty(), V::Empty()});
    ASSERT_TRUE(T.Result.Bool) << T.Params[0].Str;
    int Feeds = 0, Cuts = 0;
    for (const auto& C : Emu.Device().Commands()) {
        Feeds += uint8_t(C[0]) == 0x29;
        Cuts += uint8_t(C[0]) == 0x25;
    }
    EXPECT_EQ(Feeds, 0);
    EXPECT_EQ(Cuts, 1);
    Host.Destroy();
}

INSTANTIATE_TEST_SUITE_P(Link, Sessions, fr::test::BothTransports(), fr::test::TransportName);

TEST(TwoSessions, EachTalksToItsOwnDevice) {
    TEmulator A, B;
    const uint16_t PortA = A.StartTCP(), PortB = B.StartTCP();
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    std::string IDs[2];
    for (int I = 0; I < 2; ++I) {
        Host.Call("SetParameter", {V::String("НомерПорта"), V::Int32(9999)});
        Host.Call("SetParameter", {V::String("IPПорт"), V::Int32(I ? PortB : PortA)});
        Host.Call("SetParameter", {V::String("ЛогВключен"), V::Boolean(I == 0)});
        IDs[I] = Host.Call("Open", {V::Empty()}).Params[0].Str;
    }
    ASSERT_NE(IDs[0], IDs[1]);
    ASSERT_TRUE(Host.Call("OpenShift", {V::String(IDs[1]), V::String(kCashier), V::Empty()}).Result.Bool);
    EXPECT_TRUE(B.Device().ShiftOpen());
    EXPECT_FALSE(A.Device().ShiftOpen());
    ASSERT_TRUE(Host.Call("Close", {V::String(IDs[1])}).Result.Bool);
    EXPECT_TRUE(Host.Call("OpenShift", {V::String(IDs[0]), V::String(kCashier), V::Empty()}).Result.Bool);
    EXPECT_TRUE(A.Device().ShiftOpen());

    // Only the device with logging on has its calls in the log.
    const auto Logs = TE2EEnvironment::Dir / "Velmark/fr_orvalen1c8x3n/logs";
    std::string Log;
    for (const auto& E : std::filesystem::directory_iterator(Logs)) {
        std::ifstream F(E.path());
        Log += std::string(std::istreambuf_iterator<char>(F), {});
    }
    EXPECT_NE(Log.find("> OpenShift: \tParams: [" + IDs[0]), std::string::npos);
    EXPECT_EQ(Log.find("> OpenShift: \tParams: [" + IDs[1]), std::string::npos);
    Host.Destroy();
}

// Single-session mode is process-wide and never switched off, so this runs
// in a child process of its own.
// Ends the child; it skips the environment's tear-down, so it removes its
// own log folder first.
[[noreturn]] void ChildExit(int ACode) {
    std::error_code Ignored;
    std::filesystem::remove_all(TE2EEnvironment::Dir, Ignored);
    std::_Exit(ACode);
}

void SingleThenMultiSessionOpen() {
    TEmulator Emu;
    const uint16_t Port = Emu.StartTCP();
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    if (!Host.Create("fr_orvalen1c8x3n")) ChildExit(2);
    for (bool Mte : {true, false}) {
        Host.Call("SetParameter", {V::String("MteDriver"), V::Boolean(Mte)});
        Host.Call("SetParameter", {V::String("PortNumber"), V::Int32(9999)});
        Host.Call("SetParameter", {V::String("IPPort"), V::Int32(Port)});
        const auto R = Host.Call("Open", {V::String("untouched")});
        // In single-session mode Open leaves its out-parameter alone.
        if (!R.Result.Bool || R.Params[0].Str != "untouched") ChildExit(3);
    }
    // The session opened last is the one in use, whatever identifier is passed.
    const auto L = Host.Call("GetLineLength", {V::String(""), V::Empty()});
    if (!L.Result.Bool || L.Params[1].Int != 48) ChildExit(4);
    Host.Destroy();
    ChildExit(0);
}

TEST(SingleSessionDeathTest, SessionOpenedWithoutMteDriverStaysUsable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(SingleThenMultiSessionOpen(), ::testing::ExitedWithCode(0), "");
}

// Two driver objects, one in each mode: the object in single-session mode
// serves its one session whatever identifier it gets; the other keeps
// sending each operation to the session its identifier names, and refuses
// an identifier it never issued.
void OneObjectInEachMode() {
    TEmulator Single, First, Second;
    const uint16_t SinglePort = Single.StartTCP(), FirstPort = First.StartTCP(), SecondPort = Second.StartTCP();
    TComponentHost Multi, Mte;
    Multi.Load(FR_LIBRARY_PATH);
    Mte.Load(FR_LIBRARY_PATH);
    if (!Multi.Create("fr_orvalen1c8x3n") || !Mte.Create("fr_orvalen1c8x3n")) ChildExit(2);
    const auto Open = [](TComponentHost& AHost, uint16_t APort, bool AMte) {
        AHost.Call("SetParameter", {V::String("MteDriver"), V::Boolean(AMte)});
        AHost.Call("SetParameter", {V::String("PortNumber"), V::Int32(9999)});
        AHost.Call("SetParameter", {V::String("IPPort"), V::Int32(APort)});
        const auto R = AHost.Call("Open", {V::String("untouched")});
        if (!R.Result.Bool) ChildExit(3);
        return R.Params[0].Str;
    };
    const std::string IDFirst = Open(Multi, FirstPort, false);
    const std::string IDSecond = Open(Multi, SecondPort, false);
    if (Open(Mte, SinglePort, true) != "untouched") ChildExit(4);

    // The object without MteDriver: the first identifier reaches the first register.
    if (!Multi.Call("OpenShift", {V::String(IDFirst), V::String(kCashier), V::Empty()}).Result.Bool) ChildExit(5);
    if (!First.Device().ShiftOpen() || Second.Device().ShiftOpen() || Single.Device().ShiftOpen()) ChildExit(6);
    const std::string Unknown = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
    if (Multi.Call("OpenShift", {V::String(Unknown), V::String(kCashier), V::Empty()}).Result.Bool) ChildExit(7);
    if (Multi.LastError().second !=
        "Экземпляр устройства c идентификатором " + Unknown + " не существует или уже был отключен")
        ChildExit(8);
    // It still gets identifiers for new sessions; closing one leaves the other.
    const std::string IDThird = Open(Multi, SecondPort, false);
    if (IDThird.size() != 36) ChildExit(9);
    if (!Multi.Call("Close", {V::String(IDFirst)}).Result.Bool) ChildExit(10);
    if (!Multi.Call("OpenShift", {V::String(IDThird), V::String(kCashier), V::Empty()}).Result.Bool) ChildExit(11);
    if (!Second.Device().ShiftOpen()) ChildExit(12);

    // The object with MteDriver: any identifier, its one register.
    if (!Mte.Call("OpenShift", {V::String(Unknown), V::String(kCashier), V::Empty()}).Result.Bool) ChildExit(13);
    if (!Single.Device().ShiftOpen()) ChildExit(14);
    Multi.Destroy();
    Mte.Destroy();
    ChildExit(0);
}

TEST(SingleSessionDeathTest, TwoObjectsOneInEachMode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OneObjectInEachMode(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
