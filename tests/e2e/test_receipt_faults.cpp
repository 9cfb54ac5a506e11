// The promise of a receipt under link and device faults: either the device
// closed it and the driver reports success with its number and fiscal sign,
// or the driver reports a failure and no receipt is left open (and none was
// stored). Every command of a three-position receipt is struck in turn.
#include <algorithm>
#include <tuple>

#include "ReceiptFixture.h"

namespace rcpt {
namespace {

using fr::TEmuFault;

const std::string kPackage =
    Package("OperationType=\"1\" CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\">",
            Item("Хлеб", "2", "50", "100", "10", "9.09") + Item("Сыр", "1", "240.50", "240.50", "20", "40.08") +
                Item("Вода", "3", "33.17", "99.51", "20", "16.59"),
            "Cash=\"200\" ElectronicPayment=\"240.01\"");

// What a ProcessCheck call left behind, checked against the promise.
void ExpectPromiseKept(const TCallResult& R, size_t AReceiptsBefore, fr::TEmulator& AEmu, const std::string& AError) {
    EXPECT_FALSE(AEmu.Device().ReceiptOpen()) << AError;
    const auto Docs = AEmu.Device().Documents();
    size_t Receipts = 0;
    for (const auto& D : Docs) Receipts += D.Type == 3;
    if (!R.Result.Bool) {
        EXPECT_EQ(Receipts, AReceiptsBefore) << "reported failed, but the device stored the receipt: " << AError;
        return;
    }
    ASSERT_EQ(Receipts, AReceiptsBefore + 1) << "reported successful, but the device stored no receipt";
    pugi::xml_document Out;
    ASSERT_TRUE(Out.load_string(R.Params[3].Str.c_str()));
    const pugi::xml_node P = Out.child("DocumentOutputParameters").child("Parameters");
    EXPECT_EQ(P.attribute("CheckNumber").as_string(), std::to_string(Docs.back().Number));
    EXPECT_EQ(P.attribute("FiscalSign").as_string(), std::to_string(Docs.back().FiscalSign));
}

class ReceiptFaults : public TReceiptTest {
protected:
    // The 1-based frame of the first command with this code (hex) in one
    // receipt, and the frame count of the receipt.
    std::pair<int, int> Frames(const std::string& ACode) {
        Emu->Device().ClearCommands();
        const uint64_t F0 = Emu->CommandFrameCount();
        EXPECT_TRUE(Check(kPackage).Result.Bool) << LastError().second;
        const int N = int(Emu->CommandFrameCount() - F0);
        const auto C = Commands();
        const auto It =
            std::find_if(C.begin(), C.end(), [&](const std::string& S) { return S.rfind(Hex(ACode), 0) == 0; });
        return {It == C.end() ? 0 : int(It - C.begin()) + 1, N};
    }
    TCallResult CheckWithFault(int AK, TEmuFault AKind, uint8_t AResult = 0) {
        Emu->FaultAtCommand(AK, AKind, AResult);
        return Check(kPackage);
    }
};

// A close whose answer is lost: the receipt is stored, and the driver says so.
TEST_P(ReceiptFaults, LostCloseAnswerIsReportedAsTheClosedReceipt) {
    OpenShift();
    const int Close = Frames("FF45").first;
    ASSERT_GT(Close, 0);
    for (const TEmuFault Kind : {TEmuFault::BadChecksum, TEmuFault::CutAnswer}) {
        const size_t Before = StoredReceipts();
        const auto R = CheckWithFault(Close, Kind);
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        ExpectPromiseKept(R, Before, *Emu, LastError().second);
    }
    // A close the device refused is no receipt: reported failed, annulled.
    const size_t Before = StoredReceipts();
    const auto R = CheckWithFault(Close, TEmuFault::DeviceError, 69);
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_EQ(LastError().first, 1001);
    EXPECT_EQ(LastError().second.rfind("Ошибка команды закрытия чека. ", 0), 0u) << LastError().second;
    ExpectPromiseKept(R, Before, *Emu, LastError().second);
}

// A device error at the third item annuls the receipt; the output stays empty.
TEST_P(ReceiptFaults, DeviceErrorAtTheThirdItemAnnulsTheReceipt) {
    OpenShift();
    Emu->Device().FailCommand(0xFF46, 3, 51);
    const size_t Before = StoredReceipts();
    const auto R = Check(kPackage);
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_EQ(LastError(), std::make_pair(1001, std::string("Ошибка регистрации товарной позиции. "
                                                            "Некорректные параметры в команде")));
    EXPECT_EQ(R.Params[3].Type, VTYPE_EMPTY);
    ExpectPromiseKept(R, Before, *Emu, LastError().second);
    // The next receipt goes through.
    EXPECT_TRUE(Check(kPackage).Result.Bool) << LastError().second;
    EXPECT_EQ(StoredReceipts(), Before + 1);
}

INSTANTIATE_TEST_SUITE_P(Link, ReceiptFaults, fr::test::BothTransports(), fr::test::TransportName);

// The sweep: every command frame k of one receipt, one fault kind per test.
class ReceiptFaultSweep : public TReceiptBase, public ::testing::WithParamInterface<std::tuple<TTransport, TEmuFault>> {
protected:
    void SetUp() override {
        FTransport = std::get<0>(GetParam());
        Start();
    }
};

TEST_P(ReceiptFaultSweep, SlowEveryCommandOfAReceipt) {
    const TEmuFault Kind = std::get<1>(GetParam());
    OpenShift();
    Emu->Device().ClearCommands();
    const uint64_t F0 = Emu->CommandFrameCount();
    ASSERT_TRUE(Check(kPackage).Result.Bool) << LastError().second;
    const int N = int(Emu->CommandFrameCount() - F0);
    const auto C = Commands();
    const int Close =
        int(std::find_if(C.begin(), C.end(), [](const std::string& S) { return S.rfind(Hex("FF45"), 0) == 0; }) -
            C.begin()) +
        1;
    // A silent or cut answer over TCP costs the link's 10-second limit per
    // fault: there every fifth frame is struck, and each frame around the close.
    const bool Costly = Tcp() && (Kind == TEmuFault::Silence || Kind == TEmuFault::CutAnswer);
    std::vector<int> Ks;
    for (int K = 1; K <= N; ++K)
        if (!Costly || K % 5 == 1 || (K >= Close - 2 && K <= Close + 3)) Ks.push_back(K);
    int Failed = 0;
    for (const int K : Ks) {
        SCOPED_TRACE("fault at frame " + std::to_string(K) + " of " + std::to_string(N));
        const size_t Before = StoredReceipts();
        Emu->FaultAtCommand(K, Kind, 51);
        const auto R = Check(kPackage);
        ExpectPromiseKept(R, Before, *Emu, LastError().second);
        Failed += !R.Result.Bool;
        if (HasFatalFailure()) return;
    }
    // A device error stops every command it strikes; the device stays usable.
    if (Kind == TEmuFault::DeviceError) {
        EXPECT_GT(Failed, 0);
    }
    const size_t Before = StoredReceipts();
    EXPECT_TRUE(Check(kPackage).Result.Bool) << LastError().second;
    EXPECT_EQ(StoredReceipts(), Before + 1);
}

std::string SweepName(const ::testing::TestParamInfo<std::tuple<TTransport, TEmuFault>>& I) {
    static const char* const Names[] = {"Silence",        "Nak",        "BadChecksum", "CutAnswer", "ExtraBytes",
                                        "DropConnection", "DeviceError"};
    return std::string(std::get<0>(I.param) == TTransport::Tcp ? "Tcp" : "Serial") + Names[int(std::get<1>(I.param))];
}

INSTANTIATE_TEST_SUITE_P(Link, ReceiptFaultSweep,
                         ::testing::Combine(fr::test::BothTransports(),
                                            ::testing::Values(TEmuFault::Silence, TEmuFault::Nak,
                                                              TEmuFault::BadChecksum, TEmuFault::CutAnswer,
                                                              TEmuFault::ExtraBytes, TEmuFault::DropConnection,
                                                              TEmuFault::DeviceError)),
                         SweepName);

}  // namespace
}  // namespace rcpt
