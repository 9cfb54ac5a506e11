// The device state machine without a link: answer lengths and offsets as the
// driver reads them, result codes, and the state each command changes.
#include <gtest/gtest.h>

#include <ctime>

#include "EmuTestUtil.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

using namespace emutest;

const std::string kShort = B({0x10}), kFull = B({0x11});

TEST(EmuCommands, PasswordIsCheckedExceptForTheTwoQueriesWithoutIt) {
    TEmuDevice D;
    // Wrong password: echoed code, result 79.
    EXPECT_EQ(D.Execute(B({0x11}) + Pwd(31)), B({0x11, 79}));
    EXPECT_EQ(D.Execute(B({0xFF, 0x01}) + Pwd(0)), B({0xFF, 0x01, 79}));
    // A payload too short to hold the password is a malformed command.
    EXPECT_EQ(D.Execute(B({0x11, 30})), B({0x11, 1}));
    // 0xFC and 0xF7 go without password.
    EXPECT_EQ(At(Cmd(D, B({0xFC}), {}, false), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xF7}), B({1}), false), 0), 0);
    // A custom password.
    TEmuConfig C;
    C.Password = 12345678;
    TEmuDevice D2(C);
    EXPECT_EQ(At(D2.Execute(B({0x11}) + Pwd(12345678)), 1), 0);
    EXPECT_EQ(At(D2.Execute(B({0x11}) + Pwd(30)), 1), 79);
}

TEST(EmuCommands, AnswersAreLongEnoughForEveryFieldTheDriverReads) {
    TEmuDevice D;
    struct TCase {
        const char* Name;
        std::string Code, Data;
        bool Pwd;
        size_t MinLen;  // result code included
    };
    const TCase Cases[] = {
        {"short state", B({0x10}), "", true, 15},
        {"full state", B({0x11}), "", true, 47},
        {"device type", B({0xFC}), "", false, 8},
        {"extended query", B({0xF7}), B({1}), false, 32},
        {"money register", B({0x1A}), B({241}), true, 8},
        {"money register wide", B({0x1A}), LEn(4180, 2), true, 8},
        {"operation register", B({0x1B}), B({144}), true, 4},
        {"line length cell", B({0x1F}), B({9, 1, 0, 3}), true, 2},
        {"line length BCD", B({0x1F}), B({0x02, 0x00, 0x01, 0x37}), true, 3},
        {"field description", B({0x2E}), B({18, 1}), true, 43},
        {"storage status", B({0xFF, 0x01}), "", true, 31},
        {"storage validity", B({0xFF, 0x03}), "", true, 4},
        {"storage version", B({0xFF, 0x04}), "", true, 18},
        {"registration parameters", B({0xFF, 0x09}), "", true, 48},
        {"exchange status", B({0xFF, 0x39}), "", true, 14},
        {"shift parameters", B({0xFF, 0x40}), "", true, 6},
        {"marking status", B({0xFF, 0x70}), "", true, 9},
    };
    for (const auto& C : Cases) {
        std::string A = Cmd(D, C.Code, C.Data, C.Pwd);
        EXPECT_EQ(At(A, 0), 0) << C.Name;
        EXPECT_GE(A.size(), C.MinLen) << C.Name;
    }
}

TEST(EmuCommands, StateOffsetsFollowShiftAndReceipt) {
    TEmuDevice D;
    EXPECT_EQ(At(Cmd(D, kShort), 4) & 0x0F, 4);  // shift closed
    EXPECT_EQ(At(Cmd(D, kFull), 14), 4);
    EXPECT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, kShort), 4) & 0x0F, 2);  // open
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    std::string S = Cmd(D, kShort);
    EXPECT_TRUE(At(S, 4) & 0x08) << "bit 3: a document is open";
    EXPECT_EQ(At(S, 2) & 0x82, 0x82) << "paper present: bits 1 and 7 of the first flag byte";
    EXPECT_EQ(At(Cmd(D, B({0x88})), 0), 0);
    EXPECT_EQ(At(Cmd(D, kShort), 4) & 0x0F, 2);
    EXPECT_TRUE(D.Documents().size() == 2) << "a cancelled receipt stores nothing";

    // More than 24 hours: mode 3; receipts refused with 78; the Z report works.
    D.AgeShift(25 * 3600);
    EXPECT_EQ(At(Cmd(D, kFull), 14), 3);
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 78);
    EXPECT_EQ(At(Cmd(D, B({0x41})), 0), 0);
    EXPECT_EQ(At(Cmd(D, kFull), 14), 4);
}

TEST(EmuCommands, ClockIsSetByTimeThenDateAndItsConfirmation) {
    TEmuDevice D;
    EXPECT_EQ(At(Cmd(D, B({0x21}), B({10, 20, 30})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0x22}), B({5, 3, 51})), 0), 0);
    // Before the confirmation the date has not changed; a different one is refused.
    EXPECT_EQ(At(Cmd(D, B({0x23}), B({6, 3, 51})), 0), 124);
    EXPECT_EQ(At(Cmd(D, B({0x23}), B({5, 3, 51})), 0), 0);
    std::string S = Cmd(D, kFull);
    EXPECT_EQ(S.substr(24, 3), B({5, 3, 51}));
    EXPECT_EQ(At(S, 27), 10);
    EXPECT_EQ(At(S, 28), 20);
    EXPECT_LE(At(S, 29) - 30, 2);
    EXPECT_EQ(At(Cmd(D, B({0x22}), B({31, 2, 24})), 0), 125);
    EXPECT_EQ(At(Cmd(D, B({0x21}), B({24, 0, 0})), 0), 51);
}

TEST(EmuCommands, DeviceTablesReadWriteAndDescribe) {
    TEmuDevice D;
    EXPECT_EQ(Cmd(D, B({0x1F}), B({9, 1, 0, 3})), B({0, 48}));
    EXPECT_EQ(Cmd(D, B({0x1F}), B({0x02, 0x00, 0x01, 0x37})), B({0, 0, 0x48}));
    // Table 18 field 1: the serial number padded with zero bytes to the field size.
    std::string Serial = Cmd(D, B({0x1F}), B({18, 1, 0, 1}));
    EXPECT_EQ(Serial.substr(1, 16), "0000000012345678");
    EXPECT_EQ(Serial.size(), 21u);
    std::string F = Cmd(D, B({0x2E}), B({18, 1}));
    EXPECT_EQ(At(F, 42), 20);
    EXPECT_EQ(At(Cmd(D, B({0x2E}), B({17, 7})), 42), 1);

    EXPECT_EQ(At(Cmd(D, B({0x1E}), B({17, 1, 0, 7, 2})), 0), 0);
    EXPECT_EQ(Cmd(D, B({0x1F}), B({17, 1, 0, 7})), B({0, 2}));
    EXPECT_EQ(D.TableField(17, 1, 7), B({2}));
    std::string Name = "Company";
    EXPECT_EQ(At(Cmd(D, B({0x1E}), B({18, 1, 0, 7}) + Name), 0), 0);
    EXPECT_EQ(D.TableField(18, 1, 7).substr(0, 8), Name + '\0');

    EXPECT_EQ(At(Cmd(D, B({0x1E}), B({17, 1, 0, 7, 1, 2})), 0), 51) << "value longer than the field";
    EXPECT_EQ(At(Cmd(D, B({0x1F}), B({99, 1, 0, 1})), 0), 93);
    EXPECT_EQ(At(Cmd(D, B({0x1F}), B({17, 2, 0, 1})), 0), 51);
    EXPECT_EQ(At(Cmd(D, B({0x1F}), B({17, 1})), 0), 51) << "short data";

    // Writing the line length changes what the device prints and reports.
    EXPECT_EQ(At(Cmd(D, B({0x1E}), B({9, 1, 0, 3, 32})), 0), 0);
    EXPECT_EQ(Cmd(D, B({0x1F}), B({0x02, 0x00, 0x01, 0x37})), B({0, 0, 0x32}));
}

TEST(EmuCommands, DeviceTypeAndExtendedQuery) {
    TEmuDevice D;
    std::string T = Cmd(D, B({0xFC}), {}, false);
    EXPECT_EQ(At(T, 3), 1);  // protocol version
    EXPECT_EQ(T.substr(7), "\xCE\xD0\xC2\xC0\xCB\xC5\xCD-\xD4 \xDD\xCC\xD3\xCB\xDF\xD2\xCE\xD0")
        << "model name in Windows-1251";
    std::string Q = Cmd(D, B({0xF7}), B({1}), false);
    EXPECT_EQ(At(Q, 11), 0) << "first graphics line";
    EXPECT_EQ(At(Cmd(D, B({0xF7}), B({9}), false), 0), 51);
}

TEST(EmuCommands, UnknownCommandsAndShortData) {
    TEmuDevice D;
    EXPECT_EQ(D.Execute(B({0x99}) + Pwd()), B({0x99, 55}));
    EXPECT_EQ(D.Execute(B({0xFF, 0xEE}) + Pwd()), B({0xFF, 0xEE, 1}));
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x46}), B({1, 2, 3})), 0), 51);
    EXPECT_EQ(D.Commands().size(), 3u);
    EXPECT_EQ(D.Commands()[0], B({0x99}) + Pwd());
}

TEST(EmuCommands, RegistersCountReceiptsAndCashMovements) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0x50}), LEn(50000, 5)), 0), 0);  // cash in 500.00
    EXPECT_EQ(At(Cmd(D, B({0x51}), LEn(70000, 5)), 0), 70) << "more than the drawer holds";
    EXPECT_EQ(At(Cmd(D, B({0x51}), LEn(10000, 5)), 0), 0);

    auto Item = [&](uint64_t AQtyMillionths, uint64_t APrice, uint64_t ASum, const std::string& AName) {
        return Cmd(
            D, B({0xFF, 0x46}),
            B({1}) + LEn(AQtyMillionths, 6) + LEn(APrice, 5) + LEn(ASum, 5) + LEn(0, 5) + B({1, 1, 4, 1}) + AName);
    };
    auto Close = [&](uint64_t ACash, uint64_t AElectronic) {
        std::string Data = LEn(ACash, 5) + LEn(AElectronic, 5) + std::string(14 * 5, '\0') + B({0}) +
                           std::string(30, '\0') + B({1}) + std::string(64, '\0') + std::string(20, '\0');
        EXPECT_EQ(Data.size(), 196u);
        return Cmd(D, B({0xFF, 0x45}), Data);
    };
    // Sale: 2 x 100.00 paid 150.00 cash + 50.00 electronic, then 100.00 cash for 30.00.
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Item(2000000, 10000, 20000, "Milk"), 0), 0);
    EXPECT_EQ(At(Close(10000, 5000), 0), 69) << "payments short of the total";
    EXPECT_EQ(At(Close(0, 30000), 0), 77) << "non-cash above the total";
    std::string A = Close(15000, 5000);
    ASSERT_EQ(At(A, 0), 0);
    EXPECT_EQ(AtLE(A, 1, 5), 0u) << "no change";
    uint32_t Sign = uint32_t(AtLE(A, 10, 4));
    EXPECT_EQ(Sign, D.Documents().back().FiscalSign);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Item(1000000, 3000, 3000, "Bread"), 0), 0);
    A = Close(10000, 0);
    EXPECT_EQ(AtLE(A, 1, 5), 7000u) << "change";

    // Return of 20.00 in cash.
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({2})), 0), 0);
    EXPECT_EQ(At(Item(1000000, 2000, 2000, "Bread"), 0), 73) << "a sale item in a return receipt";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}),
                     B({2}) + LEn(1000000, 6) + LEn(2000, 5) + LEn(2000, 5) + LEn(0, 5) + B({1, 1, 4, 1}) + "Bread"),
                 0),
              0);
    ASSERT_EQ(At(Close(2000, 0), 0), 0);

    auto Cash = [&](uint16_t N) {
        std::string R = N > 255 ? Cmd(D, B({0x1A}), LEn(N, 2)) : Cmd(D, B({0x1A}), B({N}));
        return AtLE(R, 2, 6);
    };
    auto Ops = [&](uint8_t N) { return AtLE(Cmd(D, B({0x1B}), B({N})), 2, 2); };
    EXPECT_EQ(Cash(193), 18000u);  // 150.00 + 30.00 cash sales
    EXPECT_EQ(Cash(197), 5000u);
    EXPECT_EQ(Cash(195), 2000u);
    EXPECT_EQ(Cash(241), 50000u - 10000u + 18000u - 2000u);
    EXPECT_EQ(Cash(242), 50000u);
    EXPECT_EQ(Cash(243), 10000u);
    EXPECT_EQ(Ops(144), 2u);
    EXPECT_EQ(Ops(146), 1u);
    EXPECT_EQ(Ops(153), 1u);
    EXPECT_EQ(Ops(154), 1u);
    std::string S = Cmd(D, B({0xFF, 0x40}));
    EXPECT_EQ(S, B({0, 1, 1, 0, 3, 0})) << "shift open, shift 1, last receipt 3";

    // A return larger than the drawer's cash is refused.
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({2})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}),
                     B({2}) + LEn(1000000, 6) + LEn(100000, 5) + LEn(100000, 5) + LEn(0, 5) + B({1, 1, 4, 1}) + "TV"),
                 0),
              0);
    EXPECT_EQ(At(Close(100000, 0), 0), 70);
    EXPECT_EQ(At(Cmd(D, B({0x88})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0x88})), 0), 85) << "nothing left to cancel";
    EXPECT_EQ(At(Close(100, 0), 0), 85);
}

// Items as a register checks them: price x quantity against the sum (the
// price may be rounded to the kopeck), the tax sum against the rate, the
// operation against the receipt.
TEST(EmuCommands, ItemArithmeticAndCodes) {
    struct TCase {
        const char* Name;
        uint64_t Qty, Price, Sum, TaxSum;  // millionths, kopecks
        uint8_t Tax, Operation;
        int Result;
    };
    const TCase Cases[] = {
        {"3 x 33.33 for a discounted 100.00", 3000000, 3333, 10000, 0, 0x01, 1, 0},
        {"2.5 x 40.00 = 100.00", 2500000, 4000, 10000, 0, 0x01, 1, 0},
        {"0.333 x 100.00 = 33.30", 333000, 10000, 3330, 0, 0x01, 1, 0},
        {"0.333 x 100.00 is not 33.40", 333000, 10000, 3340, 0, 0x01, 1, 9},
        {"1 x 0.12 is not 0.14", 1000000, 12, 14, 0, 0x01, 1, 9},
        {"20% of 120.00 is 20.00", 1000000, 12000, 12000, 2000, 0x01, 1, 0},
        {"20% of 120.00 is not 19.00", 1000000, 12000, 12000, 1900, 0x01, 1, 9},
        {"10/110 of 110.00 is 10.00", 1000000, 11000, 11000, 1000, 0x20, 1, 0},
        {"5% of 105.00 is 5.00", 1000000, 10500, 10500, 500, 0x81, 1, 0},
        {"no VAT carries no tax", 1000000, 10000, 10000, 500, 0x08, 1, 9},
        {"tax byte naming no rate", 1000000, 100, 100, 0, 0x00, 1, 51},
        {"22% of 122.00 is 22.00", 1000000, 12200, 12200, 2200, 0x90, 1, 0},
        {"22/122 of 61.00 is not 12.00", 1000000, 6100, 6100, 1200, 0xA0, 1, 9},
        {"tax byte C0h", 1000000, 100, 100, 0, 0xC0, 1, 51},
        {"zero quantity", 0, 100, 0, 0, 0x01, 1, 51},
        {"a purchase item in a sale", 1000000, 100, 100, 0, 0x01, 3, 73},
        {"price x quantity past five bytes", 2000000, 0xFFFFFFFFFFull, 0, 0, 0x01, 1, 96},
    };
    for (const TCase& K : Cases) {
        TEmuDevice D;
        ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
        ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
        std::string Data = B({K.Operation}) + LEn(K.Qty, 6) + LEn(K.Price, 5) + LEn(K.Sum, 5) + LEn(K.TaxSum, 5) +
                           B({K.Tax, 1, 4, 1}) + "X";
        EXPECT_EQ(At(Cmd(D, B({0xFF, 0x46}), Data), 0), K.Result) << K.Name;
    }
    // With the checks off the numbers are taken as sent.
    TEmuDevice D;
    D.SetArithmeticChecks(false);
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    EXPECT_EQ(
        At(Cmd(D, B({0xFF, 0x46}), B({1}) + LEn(1000000, 6) + LEn(12, 5) + LEn(14, 5) + LEn(0, 5) + B({1, 1, 4, 1})),
           0),
        0);
}

TEST(EmuCommands, ShiftCommandsNeedTheRightState) {
    TEmuDevice D;
    EXPECT_EQ(At(Cmd(D, B({0x41})), 0), 115) << "Z report with the shift closed";
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 115);
    EXPECT_EQ(At(Cmd(D, B({0x50}), LEn(100, 5)), 0), 115);
    EXPECT_EQ(At(Cmd(D, B({0x40})), 0), 0) << "X report in any shift state";
    EXPECT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xE0})), 0), 60);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x41})), 0), 60);
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0x41})), 0), 74) << "receipt open";
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({7})), 0), 51);
}

TEST(EmuCommands, InjectedResultHitsTheChosenOccurrenceOnly) {
    TEmuDevice D;
    D.FailCommand(0x11, 2, 0x50);
    D.FailCommand(0xFF01, 1, 3);
    EXPECT_EQ(At(Cmd(D, kFull), 0), 0);
    std::string Second = Cmd(D, kFull);
    EXPECT_EQ(At(Second, 0), 0x50);
    EXPECT_GE(Second.size(), 47u) << "result 80 still carries the command's answer";
    EXPECT_EQ(At(Cmd(D, kFull), 0), 0);
    EXPECT_EQ(Cmd(D, B({0xFF, 0x01})), B({3}));
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 0), 0);
    // Two rules for one code count from the same moment.
    D.FailCommand(0x13, 1, 5);
    D.FailCommand(0x13, 2, 6);
    EXPECT_EQ(Cmd(D, B({0x13})), B({5}));
    EXPECT_EQ(Cmd(D, B({0x13})), B({6}));
    EXPECT_EQ(Cmd(D, B({0x13})), B({0}));

    // 80 on the receipt close: the receipt is made and the answer keeps its fiscal sign.
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(
        At(Cmd(D, B({0xFF, 0x46}), B({1}) + LEn(1000000, 6) + LEn(100, 5) + LEn(100, 5) + LEn(0, 5) + B({6, 1, 4, 1})),
           0),
        0);
    D.FailCommand(0xFF45, 1, 0x50);
    std::string A = Cmd(D, B({0xFF, 0x45}), LEn(100, 5) + std::string(191, '\0'));
    EXPECT_EQ(At(A, 0), 0x50);
    EXPECT_EQ(AtLE(A, 10, 4), D.Documents().back().FiscalSign);
}

}  // namespace
}  // namespace fr
