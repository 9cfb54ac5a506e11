// Documents the device made while their answer was lost: a cash document or
// a shift change the device did is reported done, never failed (the cashier
// would do it twice); one the device refused stays a failure.
#include <algorithm>

#include "ReceiptFixture.h"

namespace rcpt {
namespace {

using fr::TEmuFault;

// Faults that lose the answer of a command the device ran.
const TEmuFault kLostAnswers[] = {TEmuFault::BadChecksum, TEmuFault::ExtraBytes};

class LostAnswers : public TReceiptTest {
protected:
    // Runs ACall cleanly and returns the 1-based frame of its first command
    // with this code (hex).
    template <class F>
    int FrameOf(const std::string& ACode, F ACall) {
        Emu->Device().ClearCommands();
        EXPECT_TRUE(ACall().Result.Bool) << LastError().second;
        const auto C = Commands();
        const auto It =
            std::find_if(C.begin(), C.end(), [&](const std::string& S) { return S.rfind(Hex(ACode), 0) == 0; });
        EXPECT_NE(It, C.end()) << ACode;
        return int(It - C.begin()) + 1;
    }
    TCallResult Cash(double AAmount) {
        return Call("CashInOutcome", {V::String(ID), V::String(kCashier), V::Double(AAmount)});
    }
    TCallResult Shift(const char* AName) { return Call(AName, {V::String(ID), V::String(kCashier), V::Empty()}); }
};

TEST_P(LostAnswers, CashDocumentDoneIsReportedDoneOnce) {
    OpenShift();
    fr::TEmuDevice& D = Emu->Device();
    const int In = FrameOf("50", [&] { return Cash(1000); });
    const int Out = FrameOf("51", [&] { return Cash(-10); });
    for (const TEmuFault Kind : kLostAnswers) {
        for (const auto& [K, Amount, Register] : {std::make_tuple(In, 100.0, 153), std::make_tuple(Out, -1.0, 154)}) {
            SCOPED_TRACE("fault " + std::to_string(int(Kind)) + " at frame " + std::to_string(K));
            const uint32_t Before = D.OperationRegister(uint8_t(Register));
            Emu->FaultAtCommand(K, Kind);
            EXPECT_TRUE(Cash(Amount).Result.Bool) << LastError().second;
            EXPECT_EQ(D.OperationRegister(uint8_t(Register)), Before + 1);
        }
    }
    // A printing poll after the document fails: the document stands.
    const uint32_t Before = D.OperationRegister(153);
    Emu->FaultAtCommand(In + 1, TEmuFault::DeviceError, 0x50);
    EXPECT_TRUE(Cash(5).Result.Bool) << LastError().second;
    EXPECT_EQ(D.OperationRegister(153), Before + 1);
    // Refused by the device: a failure, nothing done.
    Emu->FaultAtCommand(In, TEmuFault::DeviceError, 0x45);
    EXPECT_FALSE(Cash(5).Result.Bool);
    EXPECT_EQ(D.OperationRegister(153), Before + 1);
}

TEST_P(LostAnswers, ShiftChangeDoneIsReportedDone) {
    fr::TEmuDevice& D = Emu->Device();
    const int Open = FrameOf("E0", [&] { return Shift("OpenShift"); });
    const int Close = FrameOf("41", [&] { return Shift("CloseShift"); });
    for (const TEmuFault Kind : kLostAnswers) {
        SCOPED_TRACE(int(Kind));
        Emu->FaultAtCommand(Open, Kind);
        auto R = Shift("OpenShift");
        ASSERT_TRUE(R.Result.Bool) << LastError().second;
        EXPECT_TRUE(D.ShiftOpen());
        pugi::xml_document Out;
        ASSERT_TRUE(Out.load_string(R.Params[2].Str.c_str()));
        EXPECT_EQ(Out.child("OutputParameters").child("Parameters").attribute("ShiftNumber").as_string(),
                  std::to_string(D.ShiftNumber()));

        Emu->FaultAtCommand(Close, Kind);
        R = Shift("CloseShift");
        ASSERT_TRUE(R.Result.Bool) << LastError().second;
        EXPECT_FALSE(D.ShiftOpen());
        ASSERT_TRUE(Out.load_string(R.Params[2].Str.c_str()));
        EXPECT_STREQ(Out.child("OutputParameters").child("Parameters").attribute("ShiftState").value(), "1");
    }
    // Refused by the device: a failure, the shift as it was.
    Emu->FaultAtCommand(Open, TEmuFault::DeviceError, 0x45);
    EXPECT_FALSE(Shift("OpenShift").Result.Bool);
    EXPECT_FALSE(D.ShiftOpen());
}

// The report on the current state of settlements is a fiscal document too:
// one the storage made while its answer was lost is reported made, once.
TEST_P(LostAnswers, SettlementsReportStoredIsReportedStored) {
    OpenShift();
    fr::TEmuDevice& D = Emu->Device();
    auto Report = [&] { return Shift("ReportCurrentStatusOfSettlements"); };
    auto Reports = [&] {
        const auto Docs = D.Documents();
        return std::count_if(Docs.begin(), Docs.end(), [](const fr::TEmuDocument& Doc) { return Doc.Type == 21; });
    };
    const int K = FrameOf("FF38", Report);
    for (const TEmuFault Kind : kLostAnswers) {
        SCOPED_TRACE(int(Kind));
        const auto Before = Reports();
        Emu->FaultAtCommand(K, Kind);
        const auto R = Report();
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        EXPECT_EQ(Reports(), Before + 1);
        pugi::xml_document Out;
        EXPECT_TRUE(Out.load_string(R.Params[2].Str.c_str()));
        EXPECT_TRUE(Out.child("OutputParameters").child("Parameters").attribute("ShiftState")) << R.Params[2].Str;
    }
    // Refused by the storage: a failure, no report.
    const auto Before = Reports();
    Emu->FaultAtCommand(K, TEmuFault::DeviceError, 0x45);
    EXPECT_FALSE(Report().Result.Bool);
    EXPECT_EQ(Reports(), Before);
}

// A closed shift whose output cannot be read is no plain failure: the host
// is told the shift document was made. Two failed reads of the three are
// passed over.
TEST_P(LostAnswers, ShiftDocumentMadeButItsOutputNotRead) {
    fr::TEmuDevice& D = Emu->Device();
    for (const int Failures : {2, 3}) {
        SCOPED_TRACE(Failures);
        OpenShift();
        for (int I = 1; I <= Failures; ++I) D.FailCommand(0xFF39, I, 0x45);  // exchange status, read for the output
        const auto R = Shift("CloseShift");
        EXPECT_FALSE(D.ShiftOpen());
        if (Failures < 3) {
            EXPECT_TRUE(R.Result.Bool) << LastError().second;
            continue;
        }
        EXPECT_FALSE(R.Result.Bool);
        EXPECT_NE(LastError().second.find("Документ смены сформирован ККТ, но его параметры не получены"),
                  std::string::npos)
            << LastError().second;
    }
}

// A failed receipt whose annulment fails once is annulled by a second try:
// the host's next calls (status reads) would otherwise find it still open.
TEST_P(LostAnswers, ReceiptAnnulledWhenTheFirstAnnulmentFails) {
    OpenShift();
    const std::string Package =
        "<CheckPackage><Parameters OperationType=\"1\" CashierName=\"К\"></Parameters><Positions>" +
        Item("А", "1", "100", "100", "20", "16.67") + Item("Б", "1", "100", "100", "20", "16.67") +
        "</Positions><Payments Cash=\"200\"/></CheckPackage>";
    Emu->Device().FailCommand(0xFF46, 2, 0x33);  // the second item
    Emu->Device().FailCommand(0x88, 1, 0x45);    // the clean-up's annulment
    EXPECT_FALSE(Check(Package).Result.Bool);
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
    EXPECT_EQ(StoredReceipts(), 0u);
}

// Format 1.05: the register's own correction command. One the register
// stored is reported with its number and fiscal sign.
TEST_P(LostAnswers, LegacyCorrectionStoredIsReportedStored) {
    TEmuConfig C = Config();
    C.FFD = fr::efFFD105;
    Start(C);
    OpenShift();
    const std::string Package =
        "<CheckCorrectionPackage><Parameters OperationType=\"1\" TaxationSystems=\"0\">"
        "<CorrectionData Type=\"0\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/></Parameters>"
        "<Positions><FiscalString VATRate=\"20\" VATAmount=\"10\"/></Positions>"
        "<Payments Cash=\"100\"/></CheckCorrectionPackage>";
    auto Correct = [&] { return Call("ProcessCorrectionCheck", {V::String(ID), V::String(Package), V::Empty()}); };
    const int K = FrameOf("FF4A", Correct);
    for (const TEmuFault Kind : kLostAnswers) {
        SCOPED_TRACE(int(Kind));
        const size_t Before = StoredReceipts();
        Emu->FaultAtCommand(K, Kind);
        const auto R = Correct();
        ASSERT_TRUE(R.Result.Bool) << LastError().second;
        ASSERT_EQ(StoredReceipts(), Before + 1);
        pugi::xml_document Out;
        ASSERT_TRUE(Out.load_string(R.Params[2].Str.c_str()));
        const pugi::xml_node P = Out.child("DocumentOutputParameters").child("Parameters");
        const fr::TEmuDocument Doc = Emu->Device().Documents().back();
        EXPECT_EQ(P.attribute("CheckNumber").as_string(), std::to_string(Doc.Number));
        EXPECT_EQ(P.attribute("FiscalSign").as_string(), std::to_string(Doc.FiscalSign));
    }
    const size_t Before = StoredReceipts();
    Emu->FaultAtCommand(K, TEmuFault::DeviceError, 0x45);
    EXPECT_FALSE(Correct().Result.Bool);
    EXPECT_EQ(StoredReceipts(), Before);
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
}

INSTANTIATE_TEST_SUITE_P(Link, LostAnswers, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
}  // namespace rcpt
