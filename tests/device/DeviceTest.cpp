// TDevice against a scripted cash register over a pseudo-terminal and over
// loopback TCP: the payload bytes of each operation, the decoded answers,
// device result codes as texts, short answers, the printing waits and
// stored documents read back.
#include <gtest/gtest.h>

#include "TestBytes.h"

#include <deque>
#include <map>

#include "ScriptedKKT.h"
#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uXmlUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"
#include "link/uCommManager.h"
#include "link/uSocketProtocol.h"

namespace fr {
namespace {

using test::TScriptedKKT;
using test::TTransport;

using test::Bytes;

// An answer of ASize bytes (result code 0 unless set) with the given bytes.
std::string Answer(size_t ASize, std::map<size_t, int> AAt = {}) {
    std::string S(ASize, '\0');
    for (auto [Offset, Value] : AAt) S[Offset] = char(Value);
    return S;
}

const std::string Pwd = Bytes({30, 0, 0, 0});

class DeviceOverLink : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        KKT = std::make_unique<TScriptedKKT>(GetParam(), [this](const std::string& P) { return Respond(P); });
        Device = Connect();
        ASSERT_TRUE(Device);
        KKT->ClearCommands();
    }
    void TearDown() override {
        Device.reset();
        KKT.reset();
    }

    std::unique_ptr<TDevice> Connect() {
        int32_t R = -1;
        std::unique_ptr<TDevice> D;
        if (GetParam() == TTransport::Serial) {
            auto C = std::make_unique<TComDevice>();
            C->ComPort().SetDevicePath(KKT->SlavePath());
            C->SetConnectPwd(Pwd);
            R = C->Enable(1, 115200);
            D = std::move(C);
        } else {
            auto S = std::make_unique<TSocketDevice>();
            S->SetConnectPwd(Pwd);
            R = S->Enable("127.0.0.1", KKT->Port());
            D = std::move(S);
        }
        EXPECT_EQ(R, 0);
        D->SetPrintPollIntervals(1, 5);
        return R == 0 ? std::move(D) : nullptr;
    }

    // Answers queued per command code; the last one repeats.
    std::string Respond(const std::string& P) {
        const uint16_t Code = uint8_t(P[0]) == 0xFF ? uint16_t(0xFF00 | uint8_t(P[1])) : uint8_t(P[0]);
        auto It = Script.find(Code);
        if (It != Script.end() && !It->second.empty()) {
            const std::string A = It->second.front();
            if (It->second.size() > 1) It->second.pop_front();
            return A;
        }
        if (Code == 0x1F) return Bytes({0, 48});  // print line length and other table bytes
        if (Code == 0x10) return Answer(15);      // idle, not printing
        return Bytes({0});
    }
    void On(uint16_t ACode, std::deque<std::string> AAnswers) { Script[ACode] = std::move(AAnswers); }
    std::vector<std::string> Sent(uint8_t AFirst) const {
        std::vector<std::string> R;
        for (const std::string& C : KKT->Commands())
            if (uint8_t(C[0]) == AFirst) R.push_back(C);
        return R;
    }

    std::map<uint16_t, std::deque<std::string>> Script;
    std::unique_ptr<TScriptedKKT> KKT;
    std::unique_ptr<TDevice> Device;
};

TEST_P(DeviceOverLink, StateQueriesAndDeviceType) {
    EXPECT_EQ(Device->LineLen(), 48);
    const std::string State = Answer(47, {{14, 4}, {24, 5}, {25, 3}, {26, 51}, {27, 10}, {28, 20}, {29, 30}});
    On(0x11, {State, State, Answer(47, {{24, 31}, {25, 2}, {26, 24}})});
    uint8_t Mode = 0;
    Device->GetStateKKT(Mode);
    EXPECT_EQ(Mode, 4);
    int64_t Clock = 0;
    Device->GetDateTimeKKT(Clock);
    EXPECT_EQ(Clock, *EncodeDeviceDateTime(2051, 3, 5, 10, 20, 30));
    Device->GetDateTimeKKT(Clock);  // 31 February: left as it was
    EXPECT_EQ(Clock, *EncodeDeviceDateTime(2051, 3, 5, 10, 20, 30));

    On(0x10, {Answer(15, {{2, 0x12}, {3, 0x34}, {4, 0x24}, {5, 5}})});
    std::string Flag;
    uint8_t Submode = 0;
    Device->GetECRState(Flag, Mode, Submode);
    EXPECT_EQ(Flag, Bytes({0x12, 0x34}));
    EXPECT_EQ(Mode, 4);
    EXPECT_EQ(Submode, 5);

    On(0xFC, {Bytes({0, 0, 0, 1, 2, 3, 0}) + Utf8ToAnsi("ОРВАЛЕН-Ф")});
    uint8_t V = 9, Sub = 9, Lng = 9, Model = 9;
    std::string Name;
    Device->GetDeviceType(V, Sub, Lng, Model, Name);
    EXPECT_EQ(std::vector<int>({V, Sub, Model, Lng}), std::vector<int>({1, 2, 3, 0}));
    EXPECT_EQ(Name, "ОРВАЛЕН-Ф");

    On(0xF7, {Answer(32, {{1, 0x55}})});
    std::string Ex;
    Device->RunQueryEx(3, Ex);
    EXPECT_EQ(Ex, Answer(32, {{1, 0x55}}));

    // Commands carry the password except the device-type and extended queries.
    EXPECT_EQ(KKT->Commands(),
              (std::vector<std::string>{"\x11" + Pwd, "\x11" + Pwd, "\x11" + Pwd, "\x10" + Pwd, "\xFC", "\xF7\x03"}));
}

TEST_P(DeviceOverLink, ClockTablesAndRegisters) {
    Device->SetDateTime(*EncodeDeviceDateTime(2051, 3, 5, 10, 20, 30));
    EXPECT_EQ(KKT->Commands(),
              (std::vector<std::string>{"\x21" + Pwd + Bytes({10, 20, 30}), "\x22" + Pwd + Bytes({5, 3, 51}),
                                        "\x23" + Pwd + Bytes({5, 3, 51})}));
    KKT->ClearCommands();

    On(0x2E, {Answer(43, {{42, 10}})});
    Device->SetFieldAsStr(17, 2, 5, "abcd");
    Device->SetFieldAsStr(17, 2, 5, "0123456789AB");
    Device->SetFieldAsCurrency(1, 1, 2, *TCurrency::Parse("12.34"));
    Device->SetFieldAsByte(17, 1, 7, 0xAB);
    Device->SetFieldAsBCD(1, 1, 3, 987);
    Device->SetFieldAsHex(1, 1, 4, "abc", 3);
    EXPECT_EQ(Sent(0x2E), (std::vector<std::string>{"\x2E" + Pwd + Bytes({17, 5}), "\x2E" + Pwd + Bytes({17, 5})}));
    EXPECT_EQ(Sent(0x1E),
              (std::vector<std::string>{
                  "\x1E" + Pwd + Bytes({17, 2, 0, 5}) + "abcd" + std::string(6, '\0'),
                  "\x1E" + Pwd + Bytes({17, 2, 0, 5}) + "0123456789", "\x1E" + Pwd + Bytes({1, 1, 0, 2, 0x12, 0x34}),
                  "\x1E" + Pwd + Bytes({17, 1, 0, 7, 0xAB}), "\x1E" + Pwd + Bytes({1, 1, 0, 3, 0x09, 0x87}),
                  "\x1E" + Pwd + Bytes({1, 1, 0, 4, 0x00, 0x0A, 0xBC})}));

    On(0x1F, {Bytes({0, 0x12, 0x34, 0xFE}), Bytes({0, 0x1A, 0x00}), Bytes({0, 'a', 0xE0})});
    TCurrency C;
    Device->GetFieldAsCurrency(1, 1, 2, C);
    EXPECT_EQ(C, *TCurrency::Parse("12.34"));
    Device->GetFieldAsCurrency(1, 1, 2, C);  // a nibble above 9 reads as 0
    EXPECT_EQ(C, TCurrency{});
    std::string S = "old";
    Device->GetFieldAsHex(1, 1, 2, S);
    EXPECT_EQ(S, "61E0");
    EXPECT_EQ(Sent(0x1F).back(), "\x1F" + Pwd + Bytes({1, 1, 0, 2}));

    On(0x1F, {Bytes({0, 0, 0x48})});
    EXPECT_EQ(Device->GetFRLineLen(), 0);
    EXPECT_EQ(Device->FRLineLen(), 48);
    EXPECT_EQ(Sent(0x1F).back(), "\x1F" + Pwd + Bytes({2, 0, 1, 0x37}));

    On(0x1A, {Bytes({0, 1, 0x39, 0x30, 0, 0, 0, 0})});
    double Money = 0;
    Device->GetCashReg(241, Money);
    EXPECT_DOUBLE_EQ(Money, 123.45);
    Device->GetCashKReg(0x1234, Money);
    EXPECT_EQ(Sent(0x1A), (std::vector<std::string>{"\x1A" + Pwd + "\xF1", "\x1A" + Pwd + Bytes({0x34, 0x12})}));
    On(0x1B, {Bytes({0, 1, 0x02, 0x01})});
    std::string Raw;
    int32_t N = 0;
    Device->GetOperationReg(148, Raw);
    Device->GetOperationRegAsInt(148, N);
    EXPECT_EQ(Raw, Bytes({2, 1}));
    EXPECT_EQ(N, 258);
}

TEST_P(DeviceOverLink, FiscalStorageQueries) {
    On(0xFF01, {Answer(31, {{1, 3}, {2, 1}, {3, 2}, {4, 1}, {5, 8}, {27, 0x39}, {28, 0x30}})});
    TFNCurrentStatus St;
    Device->GetFNCurrentStatus(St);
    EXPECT_EQ(std::vector<int>(
                  {St.FNLifeState, St.FNCurrentDocument, St.FNDocumentData, St.FNSessionState, St.FNWarningFlags}),
              std::vector<int>({3, 1, 2, 1, 8}));
    EXPECT_EQ(St.DocumentNumber, 12345);

    On(0xFF03, {Bytes({0, 27, 4, 9})});
    EXPECT_EQ(Device->GetFNValidityDate(), "2027-04-09T00:00:00");

    std::string Version;
    for (auto [Text, Expected] : std::vector<std::pair<std::string, std::string>>{{"FN-1_2 rev 7    ", "1.2"},
                                                                                  {"fn 1.1.5 1.2    ", "1.1"},
                                                                                  {"storage v2      ", "1.0"},
                                                                                  {"1_0 and 1_2     ", "1.0"}}) {
        On(0xFF04, {Bytes({0}) + Text + Bytes({1})});
        Device->GetFFDVersionFN(Version);
        EXPECT_EQ(Version, Expected) << Text;
    }

    std::string Fisc = Answer(48, {{1, 24}, {2, 2}, {3, 29}, {4, 13}, {5, 45}, {38, 5}, {40, 0x22}, {41, 1}});
    Fisc.replace(6, 12, "7700000000  ");
    Fisc.replace(18, 20, " 0000000001012345   ");
    On(0xFF09, {Fisc, Fisc + Answer(13, {{9, 0x07}})});
    int64_t When = 0, Doc = 0;
    std::string INN, Reg;
    int32_t Tax = 0;
    uint8_t Ext = 99;
    Device->GetFiscalizationParameters(When, INN, Reg, Tax, Doc, Ext);
    EXPECT_EQ(When, *EncodeDeviceDateTime(2024, 2, 29, 13, 45, 0));
    EXPECT_EQ(INN, "7700000000");
    EXPECT_EQ(Reg, "0000000001012345");
    EXPECT_EQ(Tax, 5);
    EXPECT_EQ(Doc, 0x0122);
    EXPECT_EQ(Ext, 99);  // only read with format 1.2
    Device->SetFFDVersion(ffd12);
    Device->GetFiscalizationParameters(When, INN, Reg, Tax, Doc, Ext);  // 61 bytes: number at 57
    EXPECT_EQ(Doc, 7);
    EXPECT_EQ(Ext, 0x22);

    On(0xFF39, {Answer(14, {{3, 2}, {5, 0x10}, {6, 0x27}, {9, 25}, {10, 1}, {11, 15}, {12, 8}, {13, 30}})});
    int32_t Count = 0;
    int64_t First = 0, FirstTime = 0;
    Device->GetFNInfoExchangeStatus(Count, First, FirstTime);
    EXPECT_EQ(Count, 2);
    EXPECT_EQ(First, 10000);
    EXPECT_EQ(FirstTime, *EncodeDeviceDateTime(2025, 1, 15, 8, 30, 0));
}

TEST_P(DeviceOverLink, DeviceResultCodesBecomeTexts) {
    On(0x11, {Bytes({0x73})});
    uint8_t Mode = 0;
    try {
        Device->GetStateKKT(Mode);
        ADD_FAILURE();
    } catch (const EquException& E) {
        // The host gets the general code and the text; the device's code stays in the driver.
        EXPECT_EQ(E.Code, 1001);
        EXPECT_EQ(E.DeviceCode, 0x73);
        EXPECT_STREQ(E.what(), "Ошибка команды запроса состояния ККТ. Команда не поддерживается в данном режиме");
    }
    On(0x10, {Bytes({0x50})});
    try {
        Device->WaitForEndPrinting();
        ADD_FAILURE();
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(),
                     "Ошибка ожидания конца печати. Ошибка команды короткого запроса состояния ККТ. "
                     "Идет печать результатов выполнения предыдущей команды");
    }
    On(0x22, {Bytes({0x7D})});
    try {
        Device->SetDateTime(*EncodeDeviceDateTime(2024, 1, 1, 0, 0, 0));
        ADD_FAILURE();
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "Ошибка команды программирования даты. Неверный формат даты");
    }
    EXPECT_TRUE(Sent(0x23).empty());  // the date is confirmed only after it was accepted
    Script.erase(0x10);

    // Operations that return the code instead of raising.
    On(0x1F, {Bytes({0x5D})});
    EXPECT_EQ(Device->GetFRLineLen(), 0x5D);
    On(0xFF3A, {Bytes({0x08})});
    int32_t Type = -1, Length = -1;
    EXPECT_EQ(Device->GetFNRequestFiscalDocumentTLV(99, Type, Length), 8);
    EXPECT_EQ(Type, -1);
    EXPECT_EQ(Sent(0xFF).back(), "\xFF\x3A" + Pwd + Bytes({99, 0, 0, 0}));
    // Success without the document's type and length is no success.
    On(0xFF3A, {Bytes({0}), Bytes({0, 1, 0, 9})});
    EXPECT_EQ(Device->GetFNRequestFiscalDocumentTLV(99, Type, Length), 1014);
    EXPECT_EQ(Device->GetFNRequestFiscalDocumentTLV(99, Type, Length), 1014);
    EXPECT_EQ(Type, -1);
    // Money registers report every failure, device errors included, as a protocol error.
    On(0x1A, {Bytes({0x4F})});
    double Money = 0;
    EXPECT_THROW(
        try { Device->GetCashReg(1, Money); } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1014);
            throw;
        },
        EquException);
    Device->Beep();  // its result is not examined
    On(0xFF04, {Bytes({0x02})});
    std::string Version;
    EXPECT_THROW(
        try { Device->GetFFDVersionFN(Version); } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1014);
            throw;
        },
        EquException);
}

// An answer that echoes another command than the one sent is never that
// command's success: the open-shift command answered with a status answer
// leaves the shift closed, so it must fail.
TEST_P(DeviceOverLink, AnswerToAnotherCommandIsAProtocolError) {
    const struct {
        uint16_t Code;     // command whose answer comes back under another code
        std::string Echo;  // the code the register echoes
        std::string Answer;
        std::function<void()> Run;
        const char* FailText;
    } Cases[] = {
        {0xE0, "\x10", Answer(15), [&] { Device->OpenDay({}, {}); }, "Ошибка команды открытия смены"},
        {0xFF01, "\xFF\x02", Answer(31),
         [&] {
             TFNCurrentStatus St;
             Device->GetFNCurrentStatus(St);
         },
         "Ошибка команды запроса статуса ФН"},
        {0x11, "\xFF\x11", Answer(47),
         [&] {
             uint8_t Mode = 0;
             Device->GetStateKKT(Mode);
         },
         "Ошибка команды запроса состояния ККТ"},
    };
    for (const auto& C : Cases) {
        On(C.Code, {C.Answer});
        KKT->SetEcho([&C](const std::string& P) {
            const uint16_t Code = uint8_t(P[0]) == 0xFF ? uint16_t(0xFF00 | uint8_t(P[1])) : uint8_t(P[0]);
            return Code == C.Code ? C.Echo : std::string();
        });
        try {
            C.Run();
            ADD_FAILURE() << std::hex << C.Code << " took another command's answer";
        } catch (const std::runtime_error& E) {
            EXPECT_EQ(E.what(), std::string(C.FailText) + ". Ошибка протокола обмена") << std::hex << C.Code;
        }
    }
    // Answered under its own code again, the same command succeeds.
    KKT->SetEcho(nullptr);
    Device->OpenDay({}, {});
}

// A line-length read that holds no value: the device is not taken as
// connected with a line length of 0.
TEST_P(DeviceOverLink, LineLengthWithoutValueFailsTheConnection) {
    Device.reset();
    On(0x1F, {Bytes({0})});
    if (GetParam() == TTransport::Serial) {
        TComDevice C;
        C.ComPort().SetDevicePath(KKT->SlavePath());
        C.SetConnectPwd(Pwd);
        EXPECT_EQ(C.Enable(1, 115200), 1011);
    } else {
        TSocketDevice S;
        S.SetConnectPwd(Pwd);
        try {
            S.Enable("127.0.0.1", KKT->Port());
            ADD_FAILURE() << "connected with line length " << int(S.LineLen());
        } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1014);
        }
    }
}

// Answers too short for the fields an operation reads: never read past them.
TEST_P(DeviceOverLink, ShortAnswersAreProtocolErrors) {
    TDevice& D = *Device;
    uint8_t B = 0;
    int32_t I = 0;
    int64_t L = 0;
    double M = 0;
    std::string S;
    TCurrency C;
    TFNCurrentStatus St;
    const std::string* P = nullptr;
    const struct {
        uint16_t Code;
        std::string Answer;
        std::function<void()> Run;
    } Cases[] = {
        {0x11, Answer(46), [&] { D.GetStateKKT(B); }},
        {0x11, Answer(46), [&] { D.GetDateTimeKKT(L); }},
        {0x10, Answer(14), [&] { D.GetECRState(S, B, B); }},
        {0xFC, Answer(6), [&] { D.GetDeviceType(B, B, B, B, S); }},
        {0x1A, Answer(7), [&] { D.GetCashReg(1, M); }},
        {0x1A, Answer(5), [&] { D.GetCashKReg(1, M); }},
        {0x1B, Answer(3), [&] { D.GetOperationReg(1, S); }},
        {0x2E, Answer(42), [&] { D.GetFieldStruct(1, 1, B); }},
        {0x2E, Answer(42), [&] { D.SetFieldAsStr(1, 1, 1, "x"); }},
        {0x1F, Answer(2), [&] { D.GetFieldAsCurrency(1, 1, 1, C); }},
        // A table read with the result byte alone holds no value to read.
        {0x1F, Answer(1), [&] { D.GetFieldAsByte(1, 1, 1, B); }},
        {0x1F, Answer(1), [&] { D.GetFieldAsStr(1, 1, 1, S); }},
        {0x1F, Answer(1), [&] { D.GetFieldAsHex(1, 1, 1, S); }},
        {0x1F, Answer(1), [&] { D.GetFieldAsBIN(1, 1, 1, P); }},
        {0x1F, Answer(1), [&] { D.GetLineLength(B); }},
        {0xFF40, Answer(5),
         [&] {
             Script.erase(0x10);  // the wait before it needs a whole status again
             D.GetCurrentSessionParams(B, L, L);
         }},
        {0xFF70, Answer(8), [&] { D.GetMarkingCodeWorkStatus(I, I, I, I, I, I, I); }},
        {0xF7, Answer(31), [&] { D.RunQueryEx(1, S); }},
        {0xFF01, Answer(30), [&] { D.GetFNCurrentStatus(St); }},
        {0xFF03, Answer(3), [&] { D.GetFNValidityDate(); }},
        {0xFF04, Answer(17), [&] { D.GetFFDVersionFN(S); }},
        {0xFF09, Answer(47), [&] { D.GetFiscalizationParameters(L, S, S, I, L, B); }},
        {0xFF09, Answer(56), [&] { D.GetFiscalizationParameters(L, S, S, I, L, B); }},
        {0xFF39, Answer(13), [&] { D.GetFNInfoExchangeStatus(I, L, L); }},
    };
    for (const auto& Case : Cases) {
        On(Case.Code, {Case.Answer});
        try {
            Case.Run();
            ADD_FAILURE() << std::hex << Case.Code << " accepted " << Case.Answer.size() << " bytes";
        } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1014) << std::hex << Case.Code;
            EXPECT_STREQ(E.what(), "Ошибка протокола обмена");
        }
    }
    // The integer operation register reports the same text with the general code.
    On(0x1B, {Answer(3)});
    try {
        D.GetOperationRegAsInt(1, I);
        ADD_FAILURE();
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 1001);
        EXPECT_EQ(E.DeviceCode, 1014);
        EXPECT_STREQ(E.what(), "Ошибка протокола обмена");
    }
    On(0x1F, {Answer(2)});
    EXPECT_EQ(D.GetFRLineLen(), 1014);
}

TEST_P(DeviceOverLink, WaitForPrintThroughAPaperChange) {
    // Printing, paper out, still out, paper back; after 0xB0 printing again, then done.
    On(0x10, {Answer(15, {{5, 5}}), Answer(15, {{5, 2}}), Answer(15, {{5, 2}}), Answer(15, {{5, 2}}),
              Answer(15, {{5, 2}}), Answer(15, {{5, 3}}), Answer(15, {{5, 4}}), Answer(15, {{5, 0}})});
    Device->WaitForPrint();
    EXPECT_EQ(Sent(0xB0), std::vector<std::string>{"\xB0" + Pwd});
    EXPECT_EQ(Sent(0x10).size(), 9u);

    // Paper out and then a plain idle state: the document was lost.
    KKT->ClearCommands();
    On(0x10, {Answer(15, {{5, 2}}), Answer(15, {{5, 2}}), Answer(15, {{5, 2}}), Answer(15, {{5, 0}})});
    try {
        Device->WaitForPrint();
        ADD_FAILURE();
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 3027);
        EXPECT_STREQ(E.what(), "Ошибка печати чека (документа)");
    }
    EXPECT_TRUE(Sent(0xB0).empty());
}

// Records of a stored receipt, in the order the storage gives them.
std::deque<std::string> ReceiptRecords() {
    const std::string Item = TDevice::SetTLV(1030, Utf8ToOem("Хлеб")) + TDevice::SetTLV(1079, Bytes({0x10, 0x27})) +
                             TDevice::SetTLV(1023, Bytes({0x00, 0x02})) + TDevice::SetTLV(1043, Bytes({0x20, 0x4E})) +
                             TDevice::SetTLV(1163, TDevice::SetTLV(1305,
                                                                   "010460406000600021N4N57RSCBUZTQ\x1d"
                                                                   "2403004002910161218"));
    return {Bytes({0}) + TDevice::SetTLV(1012, Bytes({0x10, 0x6C, 0x0E, 0x66})),
            Bytes({0}) + TDevice::SetTLV(1040, Bytes({7, 0, 0, 0})),
            Bytes({0}) + TDevice::SetTLV(1054, Bytes({1})),
            Bytes({0}) + TDevice::SetTLV(1059, Item),
            Bytes({0}) + TDevice::SetTLV(1031, Bytes({0x20, 0x4E})),
            Bytes({0})};
}

TEST_P(DeviceOverLink, StoredReceiptReadBackAsCheckPackage) {
    On(0xFF01, {Answer(31, {{27, 7}})});
    On(0xFF3A, {Bytes({0, 3, 0, 0x80, 0})});
    On(0xFF3B, ReceiptRecords());
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    Device->GetDocumentFromFN(0, Doc);  // 0: the last document
    EXPECT_EQ(Sent(0xFF)[1], "\xFF\x3A" + Pwd + Bytes({7, 0, 0, 0}));
    EXPECT_EQ(Sent(0x10).size(), 1u);  // printing is over before the request
    const std::string Mark = EncodeBase64Lines(
        "010460406000600021N4N57RSCBUZTQ\x1d"
        "2403004002910161218");
    EXPECT_EQ(XmlToText(Doc), XmlToText([&] {
                  static pugi::xml_document E;
                  LoadXml(E,
                          "<?xml version=\"1.0\"?><CheckPackage><Parameters DocumentType=\"3\" "
                          "DateTime=\"2024-04-04T09:00:00\" DocNumber=\"7\" OperationType=\"1\"/><Positions>"
                          "<FiscalString Name=\"Хлеб\" PriceWithDiscount=\"100\" Quantity=\"2\" "
                          "AmountWithDiscount=\"200\" MarkingCode=\"" +
                              Mark + "\"/></Positions><Payments Cash=\"200\"/></CheckPackage>");
                  return std::cref(E);
              }()));
    EXPECT_EQ(Device->GetTagValue(1040), TValue("7"));
    EXPECT_EQ(Device->GetTagValue(1041), TValue(""));

    // A document that is not stored: the device's text.
    On(0xFF3A, {Bytes({0x08})});
    try {
        Device->GetDocumentFromFN(5, Doc);
        ADD_FAILURE();
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(),
                     "Ошибка извлечения данных из ФН. Нет запрошенных данных (запрошенные данные отсутствуют в Архиве "
                     "ФН)");
    }
    EXPECT_TRUE(Device->DocElementList().empty());
}

TEST_P(DeviceOverLink, PendingDocumentIsReadOutWith115) {
    On(0xFF3A, {Bytes({0x73})});
    On(0x11, {Answer(47, {{14, 1}})});
    On(0xFF3B, ReceiptRecords());
    int32_t Type = 0;
    EXPECT_EQ(Device->GetFiscalTagList(9, Type), 115);
    EXPECT_EQ(Device->DocElementList().size(), 10u);
    EXPECT_EQ(Sent(0xFF).size(), 1u + ReceiptRecords().size());

    // Another mode: nothing is read.
    KKT->ClearCommands();
    On(0x11, {Answer(47, {{14, 2}})});
    EXPECT_EQ(Device->GetFiscalTagList(9, Type), 115);
    EXPECT_TRUE(Device->DocElementList().empty());
    EXPECT_EQ(Sent(0xFF).size(), 1u);

    // Unlocking reads a half-read document to its end and only in mode 1.
    KKT->ClearCommands();
    On(0x11, {Answer(47, {{14, 1}})});
    On(0xFF3B, ReceiptRecords());
    Device->UnlockDataOutputMode();
    EXPECT_EQ(Sent(0xFF).size(), ReceiptRecords().size());
}

TEST_P(DeviceOverLink, FormatVersionFromRegistrationOrTable) {
    On(0xFF09, {Answer(48, {{40, 1}})});
    On(0xFF3A, {Bytes({0, 1, 0, 9, 0})});
    On(0xFF3B, {Bytes({0}) + TDevice::SetTLV(1209, Bytes({4})), Bytes({0})});
    EXPECT_EQ(Device->GetFFD(), ffd12);
    EXPECT_EQ(Sent(0xFF)[1], "\xFF\x3A" + Pwd + Bytes({1, 0, 0, 0}));
    EXPECT_TRUE(Sent(0x1F).empty());

    const struct {
        std::string Request;
        std::deque<std::string> Records;
        int Table;
        TFFDVersion Expected;
    } Fallbacks[] = {
        {Bytes({8}), {Bytes({0})}, 2, ffd105},  // document not readable; the table holds the code of 1209
        {Bytes({8}), {Bytes({0})}, 3, ffd11},
        {Bytes({0, 1, 0, 9, 0}), {Bytes({0}) + TDevice::SetTLV(1209, Bytes({7})), Bytes({0})}, 4, ffd12},  // odd tag
        {Bytes({0, 1, 0, 9, 0}), {Bytes({0})}, 0, ffd10},  // no tag; 0 counts as 1
        {Bytes({8}), {Bytes({0})}, 9, ffd12},              // beyond the known versions
    };
    for (const auto& F : Fallbacks) {
        KKT->ClearCommands();
        On(0xFF3A, {F.Request});
        On(0xFF3B, F.Records);
        On(0x1F, {Bytes({0, F.Table})});
        EXPECT_EQ(int(Device->GetFFD()), int(F.Expected)) << F.Table;
        EXPECT_EQ(Sent(0x1F), std::vector<std::string>{"\x1F" + Pwd + Bytes({17, 1, 0, 17})});
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, DeviceOverLink, test::BothTransports(), test::TransportName);

TEST(DeviceEnable, SerialPortThatDoesNotExistThenOneThatDoes) {
    test::TScriptedKKT KKT(TTransport::Serial, [](const std::string& P) {
        return uint8_t(P[0]) == 0x1F ? Bytes({0, 42}) : Bytes({0});
    });
    TComDevice D;
    D.ComPort().SetDevicePath("/dev/fr-device-test-missing");
    EXPECT_EQ(D.Enable(1, 115200), 1011);
    D.ComPort().SetDevicePath(KKT.SlavePath());
    EXPECT_EQ(D.Enable(1, 57600), 0);
    EXPECT_EQ(D.LineLen(), 42);
    EXPECT_EQ(D.GetBaudRate(), 57600);
    D.Disable();
    EXPECT_FALSE(D.ComPort().Opened());
}

TEST(DeviceEnable, SerialDeviceThatRefusesTheLineLength) {
    test::TScriptedKKT KKT(TTransport::Serial, [](const std::string&) { return Bytes({0x5D}); });
    TComDevice D;
    D.ComPort().SetDevicePath(KKT.SlavePath());
    EXPECT_EQ(D.Enable(1, 115200), 1011);
    EXPECT_FALSE(D.ComPort().Opened());
}

TEST(DeviceEnable, TcpConnectionRefusedGivesTheConnectCode) {
    int Port = 0;
    { Port = test::TTcpListener().Port; }  // closed again: nobody listens there
    TSocketDevice D;
    EXPECT_EQ(D.Enable("127.0.0.1", Port), 601);
    EXPECT_EQ(D.Enable("127.0.0.300", Port), 604);
}

}  // namespace
}  // namespace fr
