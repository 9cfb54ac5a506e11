// Receipt commands: payloads as the device receives them, the documents
// the emulator stores.
#include "OpsFixture.h"
#include "base/uEquipmentErrors.h"
#include "device/uDeviceCommon.h"

namespace fr::ops {
namespace {

std::array<TCurrency, 16> Payments(const char* ACash) {
    std::array<TCurrency, 16> P{};
    P[0] = Money(ACash);
    return P;
}

TEST(ReceiptFields, TLVForms) {
    EXPECT_EQ(TDevice::SetTLV(1008, "ab"), Bytes({0xF0, 0x03, 2, 0}) + "ab");
    EXPECT_EQ(TDevice::SetTLV(1008, std::string()), Bytes({0xF0, 0x03, 0, 0}));
    EXPECT_EQ(TDevice::SetTLV(2108, 255), Bytes({0x3C, 0x08, 1, 0, 255}));
    EXPECT_THROW(TDevice::SetTLV(2108, 256), std::out_of_range);
    EXPECT_THROW(TDevice::SetTLV(2108, -1), std::out_of_range);
}

#ifdef FR_OPS_WITH_EMULATOR

TEST_P(OpsOnEmulator, SaleFromOpenToClose) {
    OpenShift();
    const std::string Bread = Utf8ToAnsi("Хлеб");
    Emu.Device().SetArithmeticChecks(false);  // the second item shows field rounding, not a real price
    Device->OpenReceipt(0);
    Device->RegisterItem(1, 1.5, Money("40.00"), Money("60.00"), Money("0"), 6, 1, 4, 1, Bread);
    Device->SetFNOperationRequisiteUtf8(1191, "доп");
    Device->RegisterItem(1, 1, Money("0.125"), Money("0.135"), Money("0.0001"), 6, 1, 3, 1, Bread);  // no name
    Device->SetFNOperationRequisite(1214, 3);
    Device->SetFNRequisite(1008, "a@b.ru");
    std::string Sign;
    int64_t When = 0;
    const std::string Text = std::string(70, 'T');
    Device->CloseCheckEx(Payments("61.00"), Money("0.14"), {}, 1, Text, Sign, When);

    const std::vector<std::string> S = Sent();
    ASSERT_EQ(S.size(), 8u);
    EXPECT_EQ(S[0], Cmd(0x8D, Bytes({0})));
    // 1.5 pieces, 40.00 and 60.00 as 6- and 5-byte LE numbers, tax sum 0.
    EXPECT_EQ(S[1], Cmd(0xFF46, Hex("01 60E316000000 A00F000000 7017000000 0000000000 06010401") + Bread));
    EXPECT_EQ(S[1].size(), 6u + 26u + 4u);
    EXPECT_EQ(S[2], Cmd(0xFF4D, Bytes({0xA7, 0x04, 3, 0}) + Utf8ToAnsi("доп")));
    // Half a kopeck rounds to even: 12.5 gives 12, 13.5 gives 14; 0.0001 gives 0.
    EXPECT_EQ(S[3], Cmd(0xFF46, Hex("01 40420F000000 0C00000000 0E00000000 0000000000 06010301")));
    EXPECT_EQ(S[4], Cmd(0xFF4D, Bytes({0xBE, 0x04, 1, 0, 3})));
    EXPECT_EQ(S[5], Cmd(0xFF0C, Bytes({0xF0, 0x03, 6, 0}) + "a@b.ru"));
    std::string Close;
    Close += Hex("D417000000") + std::string(15 * 5, '\0') + Bytes({14}) + std::string(6 * 5, '\0') + Bytes({1}) +
             Text.substr(0, 64) + std::string(4 * 5, '\0');
    EXPECT_EQ(S[6], Cmd(0xFF45, Close));
    EXPECT_EQ(S[6].size(), 6u + 196u);
    EXPECT_EQ(CodeOf(S[7]), 0x11);  // the clock read after closing

    const TEmuDocument Doc = Emu.Device().Documents().back();
    EXPECT_EQ(Doc.Type, 3);
    EXPECT_EQ(Sign, std::to_string(Doc.FiscalSign));
    EXPECT_NEAR(double(When), double(Emu.Device().Clock()), 5);
    EXPECT_FALSE(Emu.Device().ReceiptOpen());
}

TEST_P(OpsOnEmulator, CloseWithEmptyTextAndBadRounding) {
    OpenShift();
    Device->OpenReceipt(0);
    Device->RegisterItem(1, 1, Money("10"), Money("10"), {}, 6, 1, 4, 1, "X");
    std::string Sign = "old";
    int64_t When = 0;
    EXPECT_THROW(Device->CloseCheckEx(Payments("10"), Money("2.56"), {}, 1, {}, Sign, When), std::out_of_range);
    Forget();
    Device->CloseCheckEx(Payments("10"), {}, {}, 1, {}, Sign, When);
    EXPECT_EQ(Sent()[0].substr(6 + 16 * 5 + 1 + 6 * 5 + 1, 64), std::string(64, '\0'));
    EXPECT_FALSE(Sign.empty());
}

// VAT 22% and 22/122 are tax groups 11 and 12: tax bytes 90h and A0h, and
// their tax sums follow the tenth in the close and correction commands, only
// when one of them is not zero. The storage keeps the rates as 1199 = 11, 12.
TEST_P(OpsOnEmulator, NewRatesAreGroupsElevenAndTwelve) {
    OpenShift();
    Device->OpenReceipt(0);
    Device->RegisterItem(1, 1, Money("122"), Money("122"), Money("22"), 0x90, 1, 4, 1, "A");
    Device->RegisterItem(1, 1, Money("61"), Money("61"), Money("11"), 0xA0, 1, 4, 1, "B");
    TTaxSums Taxes{};
    Taxes[10] = Money("22");
    Taxes[11] = Money("11");
    std::string Sign;
    int64_t When = 0;
    Device->CloseCheckEx(Payments("183"), {}, Taxes, 1, {}, Sign, When);
    std::vector<std::string> S = Sent();
    ASSERT_EQ(S.size(), 5u);  // and the clock read after the close
    EXPECT_EQ(S[1], Cmd(0xFF46, Hex("01 40420F000000 A82F000000 A82F000000 9808000000 90010401") + "A"));
    EXPECT_EQ(S[2], Cmd(0xFF46, Hex("01 40420F000000 D417000000 D417000000 4C04000000 A0010401") + "B"));
    EXPECT_EQ(S[3], Cmd(0xFF45, Hex("7C47000000") + std::string(15 * 5 + 1 + 6 * 5, '\0') + Bytes({1}) +
                                    std::string(64 + 4 * 5, '\0') + Hex("9808000000 4C04000000")));
    const std::string Stored = Emu.Device().Documents().back().TLV;
    EXPECT_NE(Stored.find(Hex("AF04 0100 0B")), std::string::npos);  // 1199 = 11
    EXPECT_NE(Stored.find(Hex("AF04 0100 0C")), std::string::npos);  // 1199 = 12
    std::string Tape;
    for (const std::string& L : Emu.Device().Tape().Lines()) Tape += L + "\n";
    for (const char* Line : {"НДС 22%", "НДС 22/122", "СУММА НДС 22%", "СУММА НДС 22/122"})
        EXPECT_NE(Tape.find(Line), std::string::npos) << Line << "\n" << Tape;

    // A correction of the older form with only a 22/122 sum.
    Forget();
    Taxes = {};
    Taxes[11] = Money("11");
    int64_t DocNumber = 0;
    Device->ProcessCorrectionCheck(Sign, DocNumber, 0, 1, 1, Money("61"), Money("61"), {}, {}, {}, {}, Taxes, {}, {},
                                   *EncodeDeviceDateTime(2024, 3, 5, 0, 0, 0), {}, {});
    S = Sent();
    ASSERT_EQ(S.size(), 3u);
    EXPECT_EQ(S[2], Cmd(0xFF4A, Hex("0001 D417000000 D417000000") + std::string(4 * 5 + 6 * 5, '\0') + Bytes({1}) +
                                    std::string(4 * 5, '\0') + Hex("0000000000 4C04000000")));
    EXPECT_EQ(Emu.Device().Documents().back().Type, 31);
}

TEST_P(OpsOnEmulator, CancelOnlyWhatIsOpen) {
    OpenShift();
    Device->CancelReceipt();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Emu.Device().Commands(), std::vector<std::string>{Cmd(0x10)});

    Device->OpenReceipt(2);
    Device->RegisterItem(2, 1, Money("5"), Money("5"), {}, 6, 1, 4, 1, "X");
    Forget();
    Device->CancelReceipt();
    EXPECT_EQ(Emu.Device().Commands(), (std::vector<std::string>{Cmd(0x10), Cmd(0x88)}));
    EXPECT_FALSE(Emu.Device().ReceiptOpen());
}

TEST_P(OpsOnEmulator, EncashInOutAndZero) {
    OpenShift();
    Device->Encash({});
    EXPECT_TRUE(Emu.Device().Commands().empty());
    Device->Encash(Money("200.00"));
    Device->WaitForPrint();
    Device->Encash(Money("-150.00"));
    EXPECT_EQ(Sent(), (std::vector<std::string>{Cmd(0x50, Hex("204E000000")), Cmd(0x51, Hex("983A000000"))}));
    Emu.Device().FailCommand(0x51, 1, 0x46);
    try {
        Device->Encash(Money("-1"));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& E) {
        EXPECT_EQ(E.what(), "Ошибка команды внесения/изъятия. " + GetDeviceErrorDescription(0x46));
    }
}

TEST_P(OpsOnEmulator, CorrectionGoesOnAfterAFailedBegin) {
    OpenShift();
    Emu.Device().FailCommand(0xFF35, 1, 0x73);
    const std::string Base = Utf8ToAnsi("Предписание"), Number = Utf8ToAnsi("№ 5");
    const int64_t BaseDate = *EncodeDeviceDateTime(2024, 3, 5, 14, 30, 0);
    std::string Sign;
    int64_t DocNumber = 0;
    TTaxSums Taxes{};
    Taxes[0] = Money("16.67");
    Device->ProcessCorrectionCheck(Sign, DocNumber, 0, 1, 1, Money("100"), Money("100"), {}, {}, {}, {}, Taxes, Base,
                                   Number, BaseDate, Utf8ToAnsi("Иванов"), "771234567890");
    const std::vector<std::string> S = Sent();
    ASSERT_EQ(S.size(), 7u);
    EXPECT_EQ(S[0], Cmd(0xFF35));
    EXPECT_EQ(S[1], Cmd(0xFF0C, Hex("FD03 0600") + Utf8ToAnsi("Иванов")));
    EXPECT_EQ(S[2], Cmd(0xFF0C, Hex("B304 0C00") + "771234567890"));
    EXPECT_EQ(S[3], Cmd(0xFF0C, Hex("9904 0B00") + AnsiToOem(Base)));
    // Midnight of 5 March 2024 counted as UTC: 1709596800.
    EXPECT_EQ(S[4], Cmd(0xFF0C, Hex("9A04 0400 8060E665")));
    EXPECT_EQ(S[5], Cmd(0xFF0C, Hex("9B04 0300") + AnsiToOem(Number)));
    EXPECT_EQ(S[6], Cmd(0xFF4A, Hex("0001 1027000000 1027000000") + std::string(4 * 5, '\0') + Hex("8306000000") +
                                    std::string(5 * 5, '\0') + Bytes({1}) + std::string(4 * 5, '\0')));
    EXPECT_EQ(S[6].size(), 6u + 83u);
    const TEmuDocument Doc = Emu.Device().Documents().back();
    EXPECT_EQ(Doc.Type, 31);
    EXPECT_EQ(DocNumber, Doc.Number);
    EXPECT_EQ(Sign, std::to_string(Doc.FiscalSign));

    // Without the optional texts only the date is sent.
    Forget();
    Device->WaitForPrint();
    Forget();
    Device->ProcessCorrectionCheck(Sign, DocNumber, 0, 1, 1, Money("1"), Money("1"), {}, {}, {}, {}, {}, {}, {},
                                   BaseDate, {}, {});
    const std::vector<std::string> T = Sent();
    ASSERT_EQ(T.size(), 3u);
    EXPECT_EQ(T[1], Cmd(0xFF0C, Hex("9A04 0400 8060E665")));
}

#endif  // FR_OPS_WITH_EMULATOR

}  // namespace
}  // namespace fr::ops
