// Answers the emulator never gives (short, odd or still-busy ones) from a
// scripted cash register on loopback TCP: marking checks, receipts, shift
// and printing commands. The scripted register uses a pseudo-terminal and
// POSIX sockets, so these tests are Linux's.
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OpsFixture.h"
#include "ScriptedKKT.h"
#include "base/uEquipmentErrors.h"
#include "device/uDeviceCommon.h"
#include "device/uGraphicText.h"

namespace fr::ops {
namespace {

// A cash register on loopback TCP that answers from a script: answers
// queued per command code (the last one repeats), else result 0.
class OpsScripted : public ::testing::Test {
protected:
    void SetUp() override {
        KKT = std::make_unique<test::TScriptedKKT>(test::TTransport::Tcp,
                                                   [this](const std::string& P) { return Respond(P); });
        auto S = std::make_unique<TSocketDevice>();
        S->SetConnectPwd(Pwd);
        ASSERT_EQ(S->Enable("127.0.0.1", KKT->Port()), 0);
        Device = std::move(S);
        Device->SetPrintPollIntervals(1, 5);
        KKT->ClearCommands();
    }
    void TearDown() override {
        Device.reset();
        KKT.reset();
    }

    std::string Respond(const std::string& P) {
        std::lock_guard<std::mutex> L(FMutex);
        auto It = FScript.find(CodeOf(P));
        if (It != FScript.end() && !It->second.empty()) {
            const std::string A = It->second.front();
            if (It->second.size() > 1) It->second.pop_front();
            return A;
        }
        if (CodeOf(P) == 0x1F) return Bytes({0, 48});
        if (CodeOf(P) == 0x10) return std::string(15, '\0');  // idle, no document open
        return Bytes({0});
    }
    void On(uint16_t ACode, std::deque<std::string> AAnswers) {
        std::lock_guard<std::mutex> L(FMutex);
        FScript[ACode] = std::move(AAnswers);
    }
    std::vector<std::string> Sent() const {
        std::vector<std::string> R;
        for (const std::string& C : KKT->Commands())
            if (CodeOf(C) != 0x10) R.push_back(C);
        return R;
    }

    std::mutex FMutex;
    std::map<uint16_t, std::deque<std::string>> FScript;
    std::unique_ptr<test::TScriptedKKT> KKT;
    std::unique_ptr<TDevice> Device;
};

std::string CheckAnswer(const std::string& ABlock) {
    return Bytes({0, 3, 0, 0, int(ABlock.size())}) + ABlock;
}

TEST_F(OpsScripted, CheckAnswersThatDecodeLittleOrNothing) {
    TKMResult R;
    R.RequestStatus = 7, R.MarkingValidationResult = 8, R.KMType = 9;
    On(0xFF61, {CheckAnswer({})});
    Device->CheckMarkingCode(1, "A", 0, 0, 0, 0, R);
    EXPECT_EQ(R.LocalValidationResult, 3);
    EXPECT_EQ(R.RequestStatus, 7);
    EXPECT_EQ(R.MarkingValidationResult, 8);
    EXPECT_EQ(R.KMType, 9);

    // Short answer, a block running past the answer, a broken TLV list.
    for (const std::string& Bad :
         {Bytes({0, 3, 0, 0}), Bytes({0, 3, 0, 0, 6, 1, 2}), CheckAnswer(Bytes({1, 5, 0x34, 0x08, 4, 0, 1}))}) {
        On(0xFF61, {Bad});
        try {
            Device->CheckMarkingCode(1, "B", 0, 0, 0, 0, R);
            ADD_FAILURE() << "no error";
        } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1014);
        }
    }
    EXPECT_EQ(Device->KMListResult().count("B"), 1u);  // kept also after a failure
}

TEST_F(OpsScripted, SlowCheckRetriesABusyStorageThreeTimes) {
    On(0xFF61, {Bytes({4})});
    TKMResult R;
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_THROW(Device->CheckMarkingCode(1, "C", 0, 0, 0, 0, R), std::runtime_error);
    EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(2900));
    EXPECT_EQ(Sent().size(), 4u);
    EXPECT_EQ(Device->CheckMarkCount(), 3);

    // With the counter reset, a storage that is free on the third try passes.
    Device->SetCheckMarkCount(0);
    KKT->ClearCommands();
    On(0xFF61, {Bytes({4}), Bytes({4}), CheckAnswer(Bytes({0, 0x0F}))});
    Device->CheckMarkingCode(1, "C", 0, 0, 0, 0, R);
    EXPECT_EQ(Sent().size(), 3u);
    EXPECT_EQ(R.MarkingValidationResult, 0x0F);
}

TEST_F(OpsScripted, CloseAnsweredStillPrintingReadsTheSign) {
    std::string Answer(14, '\0');
    Answer[0] = 80;
    Answer[10] = 0x78, Answer[11] = 0x56, Answer[12] = 0x34, Answer[13] = 0x12;
    On(0xFF45, {Answer, Bytes({80})});
    std::string Sign;
    int64_t When = 0;
    std::array<TCurrency, 16> P{};
    On(0x11, {std::string(47, '\0')});  // the clock: no valid date, When stays
    Device->CloseCheckEx(P, {}, {}, 0, {}, Sign, When);
    EXPECT_EQ(Sign, "305419896");
    EXPECT_EQ(When, 0);
    // A bare 80 carries no sign: that is a broken answer, not a success.
    try {
        Device->CloseCheckEx(P, {}, {}, 0, {}, Sign, When);
        ADD_FAILURE() << "no error";
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 1014);
    }
    EXPECT_TRUE(Sign.empty());
}

TEST_F(OpsScripted, CancelNeedsAFullStatusAnswer) {
    std::string Open14(14, '\0'), Open15(15, '\0');
    Open14[4] = Open15[4] = 0x08;
    On(0x10, {Open14});
    Device->CancelReceipt();
    EXPECT_TRUE(KKT->Commands() == std::vector<std::string>{Cmd(0x10)});
    KKT->ClearCommands();
    On(0x10, {Open15});
    Device->CancelReceipt();
    EXPECT_TRUE((KKT->Commands() == std::vector<std::string>{Cmd(0x10), Cmd(0x88)}));
}

// Integers that do not fit the device field they are sent in are refused
// before anything is sent, never cut to their low bytes (261 lines would
// feed 5).
TEST_F(OpsScripted, ValuesBeyondTheirFieldAreRefusedNotCut) {
    TKMResult R;
    std::string S;
    double M = 0;
    int32_t Type = 0, Length = 0;
    const struct {
        std::function<void()> Run;
        const char* Text;
    } Cases[] = {
        {[&] { Device->Feed(261); }, "Количество строк промотки вне диапазона 0..255"},
        {[&] { Device->FeedAndCut(-1); }, "Количество строк промотки вне диапазона 0..255"},
        {[&] { Device->RunQueryEx(257, S); }, "Тип расширенного запроса вне диапазона 0..255"},
        {[&] { Device->GetCashKReg(65536, M); }, "Номер денежного регистра вне диапазона 0..65535"},
        {[&] { Device->SetFNRequisite(66539, "x"); }, "Номер реквизита вне диапазона 0..65535"},
        {[&] { Device->CheckMarkingCode(258, "km", 1, 0, 0, 0, R); }, "Планируемый статус товара вне диапазона 0..255"},
        {[&] { Device->CheckMarkingCode(2, "km", 1, 0, -1, 4, R); }, "Числитель дробного количества вне диапазона"},
        {[&] { Device->GetFNRequestFiscalDocumentTLV(int64_t(1) << 32, Type, Length); },
         "Номер фискального документа вне диапазона 0..4294967295"},
        {[&] { Device->SetDateTime(*EncodeDeviceDateTime(2100, 1, 1, 0, 0, 0)); },
         "Дата вне диапазона 2000-2099 годов"},
    };
    for (const auto& C : Cases) {
        try {
            C.Run();
            ADD_FAILURE() << C.Text;
        } catch (const std::out_of_range& E) {
            EXPECT_STREQ(E.what(), C.Text);
        }
    }
    EXPECT_TRUE(KKT->Commands().empty());

    // The feed count itself keeps 0 for a value outside 0..255, so the
    // feed-and-cut built from it feeds nothing.
    Device->SetFeedCount(261);
    Device->FeedAndCut(Device->FeedCount());
    EXPECT_EQ(Sent(), std::vector<std::string>{Cmd(0x25, Bytes({1}))});
}

TEST_F(OpsScripted, SessionParamsNeedSixBytes) {
    On(0xFF40, {Bytes({0, 1, 5, 1, 7}), Bytes({0, 1, 5, 1, 7, 0})});
    uint8_t State = 0;
    int64_t Shift = 0, Receipt = 0;
    try {
        Device->GetCurrentSessionParams(State, Shift, Receipt);
        ADD_FAILURE() << "no error";
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 1014);
    }
    Device->GetCurrentSessionParams(State, Shift, Receipt);
    EXPECT_EQ(State, 1);
    EXPECT_EQ(Shift, 261);
    EXPECT_EQ(Receipt, 7);

    // A storage state the driver does not know leaves the caller's value.
    On(0xFF40, {Bytes({0, 7, 1, 0, 1, 0})});
    On(0x11, {std::string(47, '\0')});
    uint8_t Day = 42;
    Device->IsDayOpened(Day);
    EXPECT_EQ(Day, 42);
}

TEST_F(OpsScripted, PrintPrevDocFailsWhenTheDeviceStillWaits) {
    std::string Sub2(15, '\0'), Sub3(15, '\0');
    Sub2[5] = 2, Sub3[5] = 3;
    On(0x10, {Sub2, Sub3});
    try {
        Device->PrintPrevDoc();
        ADD_FAILURE() << "no error";
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 3027);
    }
    EXPECT_EQ(Sent(), std::vector<std::string>{Cmd(0xB0)});
}

TEST_F(OpsScripted, GraphicTextFromAHighFirstLineIsSplit) {
    std::string Query(32, '\0');
    Query[11] = char(200);  // lines 200..255: 56 per part
    On(0xF7, {Query});
    const TTextGraphic Text("Строка", "Arial", "", 40);
    int W = 0, H = 0;
    TPrintGraphicText::GetGraphicText(Text.FText, 40, 15, 40, "Arial", "", "center", "center", true, W, H);
    ASSERT_GT(H, 56);
    Device->PrintGraphicText(Text);
    std::vector<std::string> Prints;
    int Loads = 0;
    for (const std::string& C : Sent()) {
        if (CodeOf(C) == 0xC1) Prints.push_back(C);
        if (CodeOf(C) == 0xC0) {
            ++Loads;
            EXPECT_GE(uint8_t(C[5]), 200);
        }
    }
    EXPECT_EQ(Loads, H);
    ASSERT_EQ(Prints.size(), size_t((H + 55) / 56));
    EXPECT_EQ(Prints.front(), Cmd(0xC1, Bytes({200, 255})));
    EXPECT_EQ(Prints.back(), Cmd(0xC1, Bytes({200, 200 + (H - 1) % 56})));
}

}  // namespace
}  // namespace fr::ops
