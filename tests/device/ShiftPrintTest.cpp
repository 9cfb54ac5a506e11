// Shift, report, registration and printing commands: payloads as the
// device receives them, the device's resulting state and tape, and the
// answers the emulator never gives from a scripted cash register.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>

#include "OpsFixture.h"
#include "base/uEquipmentErrors.h"
#include "device/uDeviceCommon.h"
#include "device/uGraphicText.h"

namespace fr::ops {
namespace {

#ifdef FR_OPS_WITH_EMULATOR

const std::string Cashier = Utf8ToAnsi("Кассир Иванов");

TEST_P(OpsOnEmulator, ShiftLifeCycleWithAndWithoutCashier) {
    uint8_t State = 9;
    Device->IsDayOpened(State);
    EXPECT_EQ(State, 0);

    Forget();
    Device->OpenDay(Cashier, {});  // no INN: no tag 1203
    EXPECT_EQ(Sent(),
              (std::vector<std::string>{Cmd(0xFF41), Cmd(0xFF0C, Bytes({0xFD, 3, 13, 0}) + Cashier), Cmd(0xE0)}));
    Device->WaitForPrint();
    Device->IsDayOpened(State);
    EXPECT_EQ(State, 1);
    uint8_t FNState = 0;
    int64_t Shift = 0, Receipt = 9;
    Device->GetCurrentSessionParams(FNState, Shift, Receipt);
    EXPECT_EQ(FNState, 1);
    EXPECT_EQ(Shift, Emu.Device().ShiftNumber());
    EXPECT_EQ(Receipt, 0);

    Emu.Device().AgeShift(25 * 3600);
    Device->IsDayOpened(State);
    EXPECT_EQ(State, 2);  // the storage says open, the device says 24 hours are over

    Forget();
    Device->XReport();
    Device->WaitForPrint();
    Device->CalculationStateReport(Cashier, "771234567890");
    Device->WaitForPrint();
    EXPECT_EQ(Sent(), (std::vector<std::string>{Cmd(0x40), Cmd(0xFF37), Cmd(0xFF0C, Bytes({0xFD, 3, 13, 0}) + Cashier),
                                                Cmd(0xFF0C, Bytes({0xB3, 4, 12, 0}) + "771234567890"), Cmd(0xFF38)}));

    Forget();
    Device->ZReport({}, "771234567890");  // an INN without a name is not sent
    EXPECT_EQ(Sent(), std::vector<std::string>{Cmd(0x41)});
    Device->WaitForPrint();
    EXPECT_FALSE(Emu.Device().ShiftOpen());
    Device->IsDayOpened(State);
    EXPECT_EQ(State, 0);
}

TEST_P(OpsOnEmulator, ReportErrorsAndTheStillPrintingResult) {
    Emu.Device().FailCommand(0x40, 1, 0x50);
    try {
        Device->XReport();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& E) {
        EXPECT_EQ(E.what(), "Ошибка команды снятия X-отчета. " + GetDeviceErrorDescription(80));
    }
    Emu.Device().FailCommand(0xFF38, 1, 80);
    EXPECT_NO_THROW(Device->CalculationStateReport({}, {}));
    Emu.Device().FailCommand(0xFF38, 1, 0x73);
    EXPECT_THROW(Device->CalculationStateReport({}, {}), std::runtime_error);
}

TEST_P(OpsOnEmulator, ReregistrationAndClosingTheStorage) {
    const std::string Inn = "7700000009  ", Reg = PadAnsiRight("0000000001012345", 20, false);
    Device->FNBeginRegistrationReport(2);
    Device->FNBuildReregistrationReport(Inn, Reg, 0x01, 0x00, 4);
    Device->WaitForPrint();
    EXPECT_EQ(Sent(), (std::vector<std::string>{Cmd(0xFF05, Bytes({2})), Cmd(0xFF34, Inn + Reg + Bytes({1, 0, 4}))}));
    EXPECT_EQ(Sent()[1].size(), 6u + 35u);
    EXPECT_EQ(Emu.Device().Documents().back().Type, 11);

    Device->FNClose();
    Device->WaitForPrint();
    EXPECT_EQ(Emu.Device().Documents().back().Type, 6);
    EXPECT_NE(Emu.Device().FNLifeState(), 3);
}

TEST_P(OpsOnEmulator, PrintStringSplitsAtCarriageReturnsAndLineLength) {
    const std::string Long(50, 'X');
    Device->PrintString(Long + "\r\rB");
    EXPECT_EQ(Sent(), (std::vector<std::string>{Cmd(0x17, "\x03" + Long.substr(0, 48)), Cmd(0x17, "\x03XX"),
                                                Cmd(0x17,
                                                    "\x03"
                                                    "B")}));
    EXPECT_EQ(Emu.Device().Tape().Lines(), (std::vector<std::string>{Long.substr(0, 48), "XX", "B"}));
}

TEST_P(OpsOnEmulator, LinesTitlesCopiesAndDrawer) {
    OpenShift();  // a document to copy
    Device->PrintBoldString(3, "BOLD");
    Device->PrintFontString(7, "FONT", 2);
    Device->PrintDocTitle(Utf8ToAnsi("ЗАГОЛОВОК"));
    Device->PrintDocCopy();
    Device->OpenDrawer();
    const std::vector<std::string> S = Sent();
    ASSERT_EQ(S.size(), 5u);
    EXPECT_EQ(S[0], Cmd(0x12,
                        "\x03"
                        "BOLD"));
    EXPECT_EQ(S[1], Cmd(0x2F,
                        "\x07\x02"
                        "FONT"));
    EXPECT_EQ(S[2], Cmd(0x18, Utf8ToAnsi("ЗАГОЛОВОК") + std::string(21, '\0') + Bytes({0, 1})));
    EXPECT_EQ(S[3], Cmd(0x8C));
    EXPECT_EQ(S[4], Cmd(0x28, Bytes({0})));
    const std::vector<std::string> Lines = Emu.Device().Tape().Lines();
    EXPECT_NE(std::find(Lines.begin(), Lines.end(), "ЗАГОЛОВОК"), Lines.end());
}

TEST_P(OpsOnEmulator, BarcodesInBlocksAndDigits) {
    std::string QR;
    for (int I = 0; I < 130; ++I) QR += char('a' + I % 26);
    Device->PrintQRCode(QR);
    Device->PrintQRCode({});  // nothing at all
    Device->PrintEAN13("4601234567893");
    EXPECT_EQ(Sent(), (std::vector<std::string>{
                          Cmd(0xDD, Bytes({0, 0}) + QR.substr(0, 64)), Cmd(0xDD, Bytes({0, 1}) + QR.substr(64, 64)),
                          Cmd(0xDD, Bytes({0, 2}) + QR.substr(128)),
                          Cmd(0xDE, Bytes({3, 0x82, 0, 0, 0, 0, 6, 0, 2, 1})), Cmd(0xC2, Hex("15C57E216B"))}));
    const std::vector<TEmuTapeEntry> Entries = Emu.Device().Tape().Entries();
    ASSERT_EQ(Entries.size(), 2u);
    EXPECT_EQ(Entries[0].Text, QR);
    EXPECT_EQ(Entries[1].Text, "4601234567893");

    EXPECT_THROW(Device->PrintEAN13({}), std::runtime_error);
    EXPECT_THROW(Device->PrintQRCode(std::string(16385, 'q')), std::length_error);
}

TEST_P(OpsOnEmulator, FeedAndCutRespectDisableCut) {
    Device->FeedAndCut(0);
    Device->FeedAndCut(3);
    Device->Cut(true);
    EXPECT_EQ(Sent(), (std::vector<std::string>{Cmd(0x25, Bytes({1})), Cmd(0x29, Bytes({2, 3})), Cmd(0x25, Bytes({1})),
                                                Cmd(0x25, Bytes({0}))}));
    Forget();
    Device->SetDisableCut(true);
    Device->FeedAndCut(0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(Emu.Device().Commands().empty());  // still waited for printing to end
}

TEST_P(OpsOnEmulator, PrintPrevDocContinuesAfterPaperChange) {
    Device->PrintPrevDoc();  // nothing interrupted: nothing sent
    EXPECT_TRUE(Sent().empty());
    Device->OpenDay({}, {});
    Device->WaitForPrint();
    Emu.Device().SetPaperOut();
    Device->XReport();  // stored, its printout waits for paper
    Emu.Device().LoadPaper();
    Device->PrintPrevDoc();
    int Continues = 0;
    for (const std::string& C : Sent()) Continues += CodeOf(C) == 0xB0;
    EXPECT_EQ(Continues, 1);
    EXPECT_EQ(Emu.Device().Submode(), 0);
}

TEST_P(OpsOnEmulator, GraphicTextReachesTheTape) {
    const TTextGraphic Text("Графический текст", "Arial", "bold", 20);
    int W = 0, H = 0;
    const std::string Rows =
        TPrintGraphicText::GetGraphicText(Text.FText, 40, 8, 20, "Arial", "bold", "center", "center", true, W, H);
    ASSERT_EQ(W, 320);
    ASSERT_GT(H, 0);
    Device->PrintGraphicText(Text);
    const std::vector<std::string> S = Sent();
    ASSERT_EQ(S.size(), size_t(H) + 2);
    EXPECT_EQ(S[0], Bytes({0xF7, 1}));  // the query goes without password
    for (int R = 0; R < H; ++R) EXPECT_EQ(S[1 + R], Cmd(0xC0, char(R) + Rows.substr(size_t(R) * 40, 40)));
    EXPECT_EQ(S.back(), Cmd(0xC1, Bytes({0, H - 1})));

    const auto Tape = Emu.Device().Tape();
    ASSERT_EQ(Tape.Entries().size(), 1u);
    std::string Printed;
    for (const std::string& Row : Tape.Entries()[0].Rows) Printed += Row;
    EXPECT_EQ(Printed, Rows);
    const auto Png =
        std::filesystem::temp_directory_path() / ("fr_graphic_text_" + std::to_string(::getpid()) + ".png");
    Tape.WritePNG(Png.string());
    EXPECT_GT(std::filesystem::file_size(Png), 0u);
    if (!std::getenv("FR_KEEP_PNG")) std::filesystem::remove(Png);

    Forget();
    Device->PrintGraphicText(TTextGraphic("", "Arial", "", 20));  // nothing to draw
    EXPECT_TRUE(Sent().empty());
}

TEST_P(OpsOnEmulator, TallGraphicTextIsPrintedInParts) {
    const TTextGraphic Text("1\n2\n3\n4", "DejaVu Sans", "", 40);
    int W = 0, H = 0;
    const std::string Rows =
        TPrintGraphicText::GetGraphicText(Text.FText, 40, 15, 40, "DejaVu Sans", "", "center", "center", true, W, H);
    ASSERT_GT(H, 256);
    Device->PrintGraphicText(Text);
    std::vector<std::string> Prints;
    for (const std::string& C : Sent())
        if (CodeOf(C) == 0xC1) Prints.push_back(C);
    ASSERT_EQ(Prints.size(), size_t((H + 255) / 256));
    for (size_t I = 0; I + 1 < Prints.size(); ++I) EXPECT_EQ(Prints[I], Cmd(0xC1, Bytes({0, 255})));
    EXPECT_EQ(Prints.back(), Cmd(0xC1, Bytes({0, (H - 1) % 256})));
    std::string Printed;
    const TEmuTape Tape = Emu.Device().Tape();
    for (const auto& E : Tape.Entries())
        for (const std::string& Row : E.Rows) Printed += Row;
    EXPECT_EQ(Printed, Rows);
}

INSTANTIATE_TEST_SUITE_P(Links, OpsOnEmulator, test::BothTransports(), test::TransportName);

// A register that never leaves its printing state: the wait gives up after
// its limit with a reason, instead of holding the cash desk for good, and
// the command that waited is not sent.
TEST(PrintingWait, StuckPrinterEndsTheWaitWithAReason) {
    TEmuConfig Config;
    Config.PrintPolls = std::numeric_limits<int>::max();  // "printing" after any output, for ever
    TEmulator Emu(Config);
    TSocketDevice D;
    D.SetConnectPwd(Pwd);
    ASSERT_EQ(D.Enable("127.0.0.1", Emu.StartTCP(0)), 0);
    D.SetPrintPollIntervals(5, 5);
    D.SetEndPrintingLimit(std::chrono::milliseconds(200));
    D.XReport();
    Emu.Device().ClearCommands();
    try {
        D.Feed(2);
        ADD_FAILURE() << "the wait never ended";
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(),
                     "Ошибка ожидания конца печати. ККТ не закончила печать за 200 мс и остаётся в режиме печати: "
                     "проверьте принтер ККТ (бумагу, крышку, механизм) и перезапустите ККТ");
    }
    const std::vector<std::string> Polls = Emu.Device().Commands();
    EXPECT_GT(Polls.size(), 1u);
    for (const std::string& C : Polls) EXPECT_EQ(CodeOf(C), 0x10);
    EXPECT_EQ(D.Response().at(5), 5);  // the last status still said "printing"
}

#endif  // FR_OPS_WITH_EMULATOR

}  // namespace
}  // namespace fr::ops
