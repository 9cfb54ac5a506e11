// Cash documents, correction receipts and marking-code checks through dlopen
// against the emulator on both links: the payloads sent, the output
// documents, the counters, and the refused inputs that must leave nothing
// open and send no document command.
#include <cmath>

#include "ReceiptFixture.h"

namespace rcpt {
namespace {

const std::string kBad = "Ошибка входных параметров команды. ";
const std::string kBadAttr = kBad + "Недопустимое значение атрибута ";

class TDocsTest : public TReceiptBase, public ::testing::WithParamInterface<TTransport> {
protected:
    void SetUp() override { FTransport = GetParam(); }
    void StartWith(fr::TEmuFFD AFFD) {
        TEmuConfig C = Config();
        C.FFD = AFFD;
        Start(C);
    }
    // Payloads sent since the last ClearCommands that start with APrefix.
    size_t CountSent(const std::string& APrefix) const {
        size_t N = 0;
        for (const std::string& S : Commands()) N += S.compare(0, APrefix.size(), APrefix) == 0;
        return N;
    }
    // The Parameters element of an output document.
    static pugi::xml_node OutParams(pugi::xml_document& ADoc, const std::string& AText) {
        EXPECT_TRUE(ADoc.load_string(AText.c_str())) << AText;
        return ADoc.child("DocumentOutputParameters").child("Parameters");
    }
    void ExpectLastError(int32_t ACode, const std::string& AText) {
        if (AText.empty())
            EXPECT_EQ(LastError().first, ACode) << LastError().second;
        else
            EXPECT_EQ(LastError(), std::make_pair(ACode, AText));
    }
};

// ---- cash in and out -------------------------------------------------------------

using Cash = TDocsTest;

TEST_P(Cash, InAndOutWithCounters) {
    Start();
    OpenShift();
    Emu->Device().ClearCommands();
    Emu->Device().ClearTape();
    struct TCase {
        V Amount;
        std::string Payload;
    };
    const TCase Cases[] = {
        {V::Double(1500.5), Cmd("50", "224A020000")},
        // Kopecks round half to even: 0.125 gives 12, 0.135 gives 14.
        {V::Double(0.125), Cmd("50", "0C00000000")},
        {V::Double(0.135), Cmd("50", "0E00000000")},
        {V::String("-500.00"), Cmd("51", "50C3000000")},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(ShowHex(C.Payload));
        Emu->Device().ClearCommands();
        ASSERT_TRUE(Call("CashInOutcome", {V::String(ID), V::String(kCashier), C.Amount}).Result.Bool)
            << LastError().second;
        EXPECT_TRUE(InOrder(Commands(), {Cmd("1E", "1101000700"), C.Payload, Cmd("1E", "1101000700")}));
    }
    const auto R =
        Call("GetCurrentStatus",
             {V::String(ID), V::String("<InputParameters><Parameters GetCounters=\"true\"/></InputParameters>"),
              V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    pugi::xml_document Doc;
    ASSERT_TRUE(Doc.load_string(R.Params[2].Str.c_str()));
    const pugi::xml_node P = Doc.child("OutputParameters").child("Parameters");
    EXPECT_STREQ(P.child("CashIn").attribute("Count").value(), "3");
    EXPECT_STREQ(P.child("CashIn").attribute("TotalAmount").value(), "1500.76");
    EXPECT_STREQ(P.child("CashOut").attribute("Count").value(), "1");
    EXPECT_STREQ(P.child("CashOut").attribute("TotalAmount").value(), "500");
    EXPECT_STREQ(P.attribute("CashBalance").value(), "1000.76");
    std::string Tape;
    for (const std::string& L : Emu->Device().Tape().Lines()) Tape += L + "\n";
    EXPECT_NE(Tape.find("ВНЕСЕНИЕ"), std::string::npos) << Tape;
    EXPECT_NE(Tape.find("ВЫПЛАТА"), std::string::npos) << Tape;
}

TEST_P(Cash, RefusedAmountsSendNothing) {
    Start();
    OpenShift();
    const std::string Bad = kBad + "Недопустимая сумма внесения/выемки: «";
    struct TCase {
        V Amount;
        std::string Text;  // empty: only the code is checked
    };
    const TCase Cases[] = {
        {V::Double(0.004), Bad + "0.004»"},  // not zero, but rounds to no kopeck at all
        {V::String("сто"), Bad + "сто»"},          {V::String(""), Bad + "»"}, {V::Double(std::nan("")), ""},
        {V::Double(2e10), Bad + "20000000000»"},  // beyond the 5 bytes of kopecks
        {V::Double(-2e10), Bad + "-20000000000»"}, {V::Double(1e300), ""},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Text);
        Emu->Device().ClearCommands();
        EXPECT_FALSE(Call("CashInOutcome", {V::String(ID), V::String(kCashier), C.Amount}).Result.Bool);
        ExpectLastError(1004, C.Text);
        EXPECT_TRUE(Commands().empty());
    }
}

// An amount of 0 (an opening float of nothing) makes no cash document: no
// cash command, the print wait and the cut as after one, and the counters
// show no document.
TEST_P(Cash, ZeroMakesNoDocument) {
    Start();
    OpenShift();
    for (const V& Amount : {V::Double(0), V::Double(-0.0), V::String("0.00"), V::Empty()}) {
        Emu->Device().ClearCommands();
        Emu->Device().ClearTape();
        ASSERT_TRUE(Call("CashInOutcome", {V::String(ID), V::String(kCashier), Amount}).Result.Bool)
            << LastError().second;
        EXPECT_EQ(CountSent(Cmd("50")) + CountSent(Cmd("51")) + CountSent(Cmd("1B")), 0u);
        EXPECT_TRUE(
            InOrder(Commands(), {Cmd("1E", "1101000700"), Cmd("10"), Cmd("25", "01"), Cmd("1E", "1101000700")}));
        EXPECT_TRUE(Emu->Device().Tape().Lines().empty());
    }
    EXPECT_EQ(Emu->Device().OperationRegister(153) + Emu->Device().OperationRegister(154), 0u);
    EXPECT_EQ(Emu->Device().CashRegister(241), 0u);
}

// ---- correction receipts -----------------------------------------------------------

using Correction = TDocsTest;

// Formats 1.0 and 1.05: the device's correction command with the totals.
const std::string kLegacy =
    "<CheckCorrectionPackage><Parameters OperationType=\"1\" TaxationSystems=\"0\" CashierName=\"Иванов И.И.\">"
    "<CorrectionData Type=\"0\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/></Parameters>"
    "<Positions><FiscalString VATRate=\"20\" VATAmount=\"10\"/><fiscalstring VATRate=\"20\" VATAmount=\"5\"/>"
    "<TextString Text=\"x\"/><FiscalString VATRate=\"10\" VATAmount=\"1.50\"/></Positions>"
    "<Payments Cash=\"100\" ElectronicPayment=\"50.25\"/></CheckCorrectionPackage>";

TEST_P(Correction, LegacyCommandWithTotals) {
    StartWith(fr::efFFD105);
    OpenShift();
    Emu->Device().ClearCommands();
    const auto R = Call("ProcessCorrectionCheck", {V::String(ID), V::String(kLegacy), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("1E", "1101000700"), Cmd("FF35"),
                                     Cmd("FF0C", "FD030B0088A2A0ADAEA220882E882E"),  // 1021 the cashier, 866
                                     Cmd("FF0C", "990405008AA0E1E1A0"),              // 1177 "Касса", code page 866
                                     Cmd("FF0C", "9A04040080BC0C6B"),                // 1178 2026-11-30
                                     Cmd("FF0C", "9B04010037"),                      // 1179 "7"
                                     // type 0, sign 1, total 150.25, cash 100, electronic 50.25, the
                                     // second 20 % sum (5.00), 10 % 1.50, taxation system 01
                                     Cmd("FF4A",
                                         "0001B13A0000001027000000A113000000000000000000000000000000000000"
                                         "F40100000096000000000000000000000000000000000000000000000000"
                                         "010000000000000000000000000000000000000000"),
                                     Cmd("1E", "1101000700")}));
    pugi::xml_document Doc;
    const pugi::xml_node P = OutParams(Doc, R.Params[2].Str);
    const auto Stored = Emu->Device().Documents().back();  // a copy: Documents() returns its list by value
    EXPECT_EQ(Stored.Type, 31);
    EXPECT_EQ(P.attribute("FiscalSign").as_string(), std::to_string(Stored.FiscalSign));
    EXPECT_EQ(P.attribute("CheckNumber").as_string(), std::to_string(Stored.Number));
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
    // The storage keeps the cashier and the correction's base with the document.
    for (const char* Record :
         {"FD030B0088A2A0ADAEA220882E882E", "990405008AA0E1E1A0", "9A04040080BC0C6B", "9B04010037"})
        EXPECT_NE(Stored.TLV.find(Hex(Record)), std::string::npos) << Record;
    const auto Info = Call("GetDocumentInformation", {V::String(ID), V::Int32(int32_t(Stored.Number)), V::Empty()});
    ASSERT_TRUE(Info.Result.Bool) << LastError().second;
    pugi::xml_document Read;
    ASSERT_TRUE(Read.load_string(Info.Params[2].Str.c_str())) << Info.Params[2].Str;
    const pugi::xml_node RP = Read.child("CheckPackage").child("Parameters");
    EXPECT_STREQ(RP.attribute("CashierName").value(), "Иванов И.И.");
    EXPECT_EQ(RP.attribute("FiscalSign").as_string(), std::to_string(Stored.FiscalSign));
}

// A correction begun on the device shows as an open document: when forming
// it fails and so does the driver's own cancel, the next operation cancels
// it as it would a receipt, and then forms its own.
TEST_P(Correction, BegunCorrectionIsCancelledLikeAReceipt) {
    StartWith(fr::efFFD105);
    OpenShift();
    Emu->Device().FailCommand(0xFF4A, 1, 0x45);
    Emu->Device().FailCommand(0x88, 1, 0x72);
    EXPECT_FALSE(Call("ProcessCorrectionCheck", {V::String(ID), V::String(kLegacy), V::Empty()}).Result.Bool);
    EXPECT_EQ(LastError().second.rfind("Ошибка команды формирования чека коррекции. ", 0), 0u) << LastError().second;
    EXPECT_EQ(Emu->Device().Mode(), 8) << "the begun correction is open";
    const size_t Before = StoredReceipts();

    Emu->Device().ClearCommands();
    ASSERT_TRUE(Call("ProcessCorrectionCheck", {V::String(ID), V::String(kLegacy), V::Empty()}).Result.Bool)
        << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("10"), Cmd("88"), Cmd("FF35"), Cmd("FF0C", "990405008AA0E1E1A0")}));
    EXPECT_EQ(CountSent(Cmd("88")), 1u);
    EXPECT_EQ(StoredReceipts(), Before + 1);
    EXPECT_EQ(Emu->Device().Mode(), 2);
}

// Formats 1.1 and 1.2: a receipt with items, correction receipt types and
// the correction requisites; calculation sign 2 is a sale return here.
TEST_P(Correction, ReceiptPathWithItems) {
    StartWith(fr::efFFD12);
    OpenShift();
    const std::string Item1 = Item("Хлеб", "2", "50", "100", "10", "9.09");
    const auto Package = [&](const std::string& AOperationType) {
        return "<CheckCorrectionPackage><Parameters OperationType=\"" + AOperationType +
               "\" CashierName=\"Иванов И.И.\"><CorrectionData Type=\"1\" Date=\"2026-11-30\" Number=\"7\"/>"
               "</Parameters><Positions>" +
               Item1 + "</Positions><Payments Cash=\"100\"/></CheckCorrectionPackage>";
    };
    struct TCase {
        std::string OperationType, ReceiptType;
    } Cases[] = {{"1", "80"}, {"2", "82"}};
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.OperationType);
        Emu->Device().ClearCommands();
        const auto R = Call("ProcessCorrectionCheck", {V::String(ID), V::String(Package(C.OperationType)), V::Empty()});
        ASSERT_TRUE(R.Result.Bool) << LastError().second;
        EXPECT_TRUE(InOrder(
            Commands(),
            {Cmd("8D", C.ReceiptType), Cmd("FF0C", "9504010001"), Cmd("FF0C", "9A04040080BC0C6B"),
             Cmd("FF0C", "9B04010037"),
             Cmd("FF46", "0" + C.OperationType + "80841E000000881300000010270000008D0300000002000401D5EBE5E1")}));
        EXPECT_EQ(CountSent(Cmd("FF4A")), 0u);
        pugi::xml_document Doc;
        const pugi::xml_node P = OutParams(Doc, R.Params[2].Str);
        const auto Stored = Emu->Device().Documents().back();  // a copy: Documents() returns its list by value
        EXPECT_EQ(Stored.Type, 31);
        EXPECT_EQ(P.attribute("FiscalSign").as_string(), std::to_string(Stored.FiscalSign));
        EXPECT_FALSE(Emu->Device().ReceiptOpen());
        // Correction type, base date and number, and the cashier, stored with the document.
        for (const char* Record : {"9504010001", "9A04040080BC0C6B", "9B04010037", "FD030B0088A2A0ADAEA220882E882E"})
            EXPECT_NE(Stored.TLV.find(Hex(Record)), std::string::npos) << Record;
    }
}

std::string Replace(std::string S, const std::string& AFrom, const std::string& ATo) {
    const size_t At = S.find(AFrom);
    EXPECT_NE(At, std::string::npos) << AFrom;
    return At == std::string::npos ? S : S.replace(At, AFrom.size(), ATo);
}

TEST_P(Correction, RefusedPackagesBeginNothing) {
    const std::string Input = kBad.substr(0, kBad.size() - 2);
    const std::string Receipt =
        "<CheckCorrectionPackage><Parameters OperationType=\"1\" CashierName=\"К\">"
        "<CorrectionData Type=\"0\" Date=\"2026-11-30\"/></Parameters><Positions>" +
        Item("А", "1", "100", "100", "20", "16.67") + "</Positions><Payments Cash=\"100\"/></CheckCorrectionPackage>";
    struct TCase {
        fr::TEmuFFD FFD;
        std::string Package;
        int32_t Code;
        std::string Text;
    };
    const TCase Cases[] = {
        // Calculation sign 2 has no place in the older correction command.
        {fr::efFFD105, Replace(kLegacy, "OperationType=\"1\"", "OperationType=\"2\""), 1004, Input},
        {fr::efFFD105,
         Replace(kLegacy, "<CorrectionData Type=\"0\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/>", ""),
         1004, Input},
        {fr::efFFD105, Replace(kLegacy, "Type=\"0\"", "Type=\"2\""), 1004, kBadAttr + "Type: «2»"},
        {fr::efFFD105, Replace(kLegacy, "VATRate=\"10\"", "VATRate=\"13\""), 3010,
         "Налоговая группа вне допустимого диапазона"},
        {fr::efFFD105, Replace(kLegacy, "2026-11-30", "30.11.2026"), 1004, ""},
        {fr::efFFD105, Replace(kLegacy, "Cash=\"100\"", "Cash=\"сто\""), 1004, kBadAttr + "Cash: «сто»"},
        {fr::efFFD105, Replace(kLegacy, "VATAmount=\"5\"", "VATAmount=\"-5\""), 1004, kBadAttr + "VATAmount: «-5»"},
        {fr::efFFD105, Replace(kLegacy, "TaxationSystems=\"0\"", "TaxationSystems=\"9\""), 1004,
         kBadAttr + "TaxationSystems: «9»"},
        {fr::efFFD105, Replace(kLegacy, "CashierName=", "CashierINN=\"12345\" CashierName="), 3026,
         "Длина ИНН кассира не равна 12"},
        {fr::efFFD12, Replace(Receipt, "<CorrectionData Type=\"0\" Date=\"2026-11-30\"/>", ""), 1004, Input},
        {fr::efFFD12, Replace(Receipt, "Type=\"0\"", "Type=\"7\""), 1004, kBadAttr + "Type: «7»"},
        {fr::efFFD12, Replace(Receipt, "OperationType=\"1\"", "OperationType=\"5\""), 1004, Input},
        {fr::efFFD12, Replace(Receipt, "2026-11-30", "вчера"), 1004, ""},
    };
    fr::TEmuFFD Running = fr::TEmuFFD(0);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Package);
        if (C.FFD != Running) {
            StartWith(C.FFD);
            OpenShift();
            Running = C.FFD;
        }
        Emu->Device().ClearCommands();
        const size_t Before = StoredReceipts();
        EXPECT_FALSE(Call("ProcessCorrectionCheck", {V::String(ID), V::String(C.Package), V::Empty()}).Result.Bool);
        ExpectLastError(C.Code, C.Text);
        EXPECT_EQ(CountSent(Cmd("FF35")) + CountSent(Cmd("FF4A")) + CountSent(Cmd("8D")), 0u);
        EXPECT_FALSE(Emu->Device().ReceiptOpen());
        EXPECT_EQ(StoredReceipts(), Before);
        EXPECT_EQ(Emu->Device().TableField(17, 1, 7), Hex("00"));
    }
}

// ---- marking codes -----------------------------------------------------------------

const std::string kCodeA = "0104600439931256215Kfcm3";
const std::string kA64 = "MDEwNDYwMDQzOTkzMTI1NjIxNUtmY20z";
const std::string kAHex = "303130343630303433393933313235363231354B66636D33";
const std::string kB64 = "MDEwNDY1MDExNzI0MDQwODIxNXBxN1l0";
const std::string kBHex = "303130343635303131373234303430383231357071375974";

std::string RequestDoc(const std::string& AGUID, const std::string& ACode, const std::string& AExtra = "") {
    return "<RequestKM GUID=\"" + AGUID + "\" MarkingCode=\"" + ACode + "\" PlannedStatus=\"1\" " + AExtra + "/>";
}

class TMarkingFlow : public TDocsTest {
protected:
    // RequestKM; the Checking and CheckingResult attributes as "true"/"false".
    std::pair<std::string, std::string> Request(const std::string& ADoc) {
        const auto R = Call("RequestKM", {V::String(ID), V::String(ADoc), V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        pugi::xml_document Doc;
        EXPECT_TRUE(Doc.load_string(R.Params[2].Str.c_str()));
        const pugi::xml_node N = Doc.child("RequestKMResult");
        return {N.attribute("Checking").value(), N.attribute("CheckingResult").value()};
    }
    // GetProcessingKMResult: its attributes in order and the request status.
    std::string Result() {
        const auto R = Call("GetProcessingKMResult", {V::String(ID), V::Empty(), V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        pugi::xml_document Doc;
        EXPECT_TRUE(Doc.load_string(R.Params[1].Str.c_str()));
        std::string S;
        for (const auto A : Doc.child("ProcessingKMResult").attributes())
            S += std::string(A.name()) + "=" + A.value() + " ";
        return S + "status=" + std::to_string(R.Params[2].Int);
    }
    bool Confirm(const std::string& AGUID, int32_t AType) {
        return Call("ConfirmKM", {V::String(ID), V::String(AGUID), V::Int32(AType)}).Result.Bool;
    }
    bool Session(const char* AName) { return Call(AName, {V::String(ID)}).Result.Bool; }
};

using MarkingFlow = TMarkingFlow;

TEST_P(MarkingFlow, TwoAcceptedCodesBoundInOneReceipt) {
    StartWith(fr::efFFD12);
    OpenShift();
    EXPECT_EQ(Result(), "GUID= Result=false ResultCode=0 StatusInfo=0 HandleCode=0 status=0");
    Emu->Device().ClearCommands();
    ASSERT_TRUE(Session("OpenSessionRegistrationKM")) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "02")}));

    Emu->Device().ClearCommands();
    EXPECT_EQ(Request(RequestDoc("g-1", kA64)), std::make_pair(std::string("true"), std::string("true")));
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF61", "01001800" + kAHex)}));
    EXPECT_EQ(Result(), "GUID=g-1 Result=true ResultCode=15 StatusInfo=1 HandleCode=0 status=0");
    ASSERT_TRUE(Confirm("g-1", 0)) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "01")}));

    // A weighed good: measure, then the quantity 0.5 as one decimal and 5.
    Emu->Device().ClearCommands();
    Request("<RequestKM GUID=\"g-2\" MarkingCode=\"" + kB64 +
            "\" PlannedStatus=\"2\" Quantity=\"0.5\" MeasureOfQuantity=\"0\"/>");
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF61", "02001811" + kBHex + "3C08010000" + "FF0308000105000000000000")}));
    ASSERT_TRUE(Confirm("g-2", 0)) << LastError().second;

    Emu->Device().ClearCommands();
    const auto R = Check(Package("CashierName=\"К\" OperationType=\"1\">",
                                 Item("А", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kA64 + "\"") +
                                     Item("Б", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kB64 + "\""),
                                 "Cash=\"200\""));
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF67", "18" + kAHex), Cmd("FF67", "18" + kBHex)}));
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
    EXPECT_EQ(StoredReceipts(), 1u);

    Emu->Device().ClearCommands();
    ASSERT_TRUE(Session("CloseSessionRegistrationKM")) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "02")}));
}

// An invalid code, rejected, is not bound; a busy storage is asked again
// after a second, and one busy four times fails without a pending request.
TEST_P(MarkingFlow, RejectedCodeAndBusyStorage) {
    StartWith(fr::efFFD12);
    OpenShift();
    Emu->Device().SetMarkingCodeInvalid(kCodeA);
    EXPECT_EQ(Request(RequestDoc("g-1", kA64)), std::make_pair(std::string("true"), std::string("false")));
    EXPECT_EQ(Result(), "GUID=g-1 Result=false ResultCode=5 StatusInfo=2 HandleCode=0 status=0");
    Emu->Device().ClearCommands();
    ASSERT_TRUE(Confirm("g-1", 1)) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "00")}));
    Emu->Device().ClearCommands();
    ASSERT_TRUE(
        Check(Package("CashierName=\"К\" OperationType=\"1\">",
                      Item("А", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kA64 + "\""), "Cash=\"100\""))
            .Result.Bool)
        << LastError().second;
    EXPECT_EQ(CountSent(Cmd("FF67")), 0u);

    Emu->Device().ClearCommands();
    Emu->Device().FailCommand(0xFF61, 1, 4);
    EXPECT_EQ(Request(RequestDoc("g-2", kB64)).second, "true");
    EXPECT_EQ(CountSent(Cmd("FF61")), 2u);
    ASSERT_TRUE(Confirm("g-2", 0)) << LastError().second;

    Emu->Device().ClearCommands();
    for (int I = 1; I <= 4; ++I) Emu->Device().FailCommand(0xFF61, I, 4);
    EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(RequestDoc("g-3", kA64)), V::Empty()}).Result.Bool);
    EXPECT_EQ(LastError().second.rfind("Ошибка проверки маркированного товара. ", 0), 0u) << LastError().second;
    EXPECT_EQ(CountSent(Cmd("FF61")), 4u);
    EXPECT_FALSE(Confirm("g-3", 0));
    EXPECT_EQ(Result(), "GUID=g-2 Result=true ResultCode=15 StatusInfo=1 HandleCode=0 status=0");
}

// Every kind of answer the storage gives reaches the host as it came; a
// storage busy three times is asked three more times, the most the driver
// asks, and then answers.
TEST_P(MarkingFlow, EachAnswerKindReachesTheHost) {
    StartWith(fr::efFFD12);
    OpenShift();
    struct TCase {
        fr::TEmuMarkAnswer Answer;
        int Busy;
        std::string Checking, Result;
        size_t Sent;
    };
    const TCase Cases[] = {
        {fr::TEmuMarkAnswer::Valid, 0, "true true", "Result=true ResultCode=15 StatusInfo=1 HandleCode=0 status=0", 1},
        {fr::TEmuMarkAnswer::Invalid, 0, "true false", "Result=false ResultCode=5 StatusInfo=2 HandleCode=0 status=0",
         1},
        {fr::TEmuMarkAnswer::StatusNotConfirmed, 0, "true true",
         "Result=true ResultCode=7 StatusInfo=2 HandleCode=0 status=0", 1},
        // No answer from the marking system: the request status tells the host.
        {fr::TEmuMarkAnswer::Offline, 0, "true true", "Result=false ResultCode=3 StatusInfo=0 HandleCode=0 status=2",
         1},
        {fr::TEmuMarkAnswer::Valid, 3, "true true", "Result=true ResultCode=15 StatusInfo=1 HandleCode=0 status=0", 4},
    };
    int N = 0;
    for (const TCase& C : Cases) {
        const std::string GUID = "g-" + std::to_string(++N);
        SCOPED_TRACE(GUID);
        Emu->Device().SetMarkingAnswer(C.Answer);
        Emu->Device().SetMarkingBusy(C.Busy);
        Emu->Device().ClearCommands();
        const auto [Checking, CheckingResult] = Request(RequestDoc(GUID, kA64));
        EXPECT_EQ(Checking + " " + CheckingResult, C.Checking);
        EXPECT_EQ(Result(), "GUID=" + GUID + " " + C.Result);
        EXPECT_EQ(CountSent(Cmd("FF61")), C.Sent);
        ASSERT_TRUE(Confirm(GUID, 1)) << LastError().second;
    }
}

// A code whose request still waits for ConfirmKM is not bound: it goes out
// as the item's product code and the storage keeps it waiting. Once
// accepted it is bound; a receipt that fails after the binding leaves it
// accepted in the storage, and the next receipt sells it.
TEST_P(MarkingFlow, OnlyConfirmedCodesAreBound) {
    StartWith(fr::efFFD12);
    OpenShift();
    const std::string Sale =
        Package("CashierName=\"К\" OperationType=\"1\">",
                Item("А", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kA64 + "\""), "Cash=\"100\"");
    Request(RequestDoc("g-1", kA64));
    Emu->Device().ClearCommands();
    ASSERT_TRUE(Check(Sale).Result.Bool) << LastError().second;
    EXPECT_EQ(CountSent(Cmd("FF67")), 0u);
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF4D", "8B041C0019051800" + kAHex)}));  // 1163 holding 1305
    EXPECT_EQ(Emu->Device().MarkingCodeState(kCodeA), fr::TEmuMarkState::Pending);

    ASSERT_TRUE(Confirm("g-1", 0)) << LastError().second;
    Emu->Device().FailCommand(0xFF45, 1, 0x45);
    const size_t Before = StoredReceipts();
    EXPECT_FALSE(Check(Sale).Result.Bool);
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
    EXPECT_EQ(Emu->Device().MarkingCodeState(kCodeA), fr::TEmuMarkState::Accepted);

    Emu->Device().ClearCommands();
    ASSERT_TRUE(Check(Sale).Result.Bool) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF67", "18" + kAHex)}));
    EXPECT_EQ(StoredReceipts(), Before + 1);
    EXPECT_EQ(Emu->Device().MarkingCodeState(kCodeA), fr::TEmuMarkState::None) << "sold";
}

// A new request before ConfirmKM supersedes the one waiting: the storage is
// told that code is rejected before the new one is checked, and a receipt
// with both codes binds only the confirmed one; the superseded code goes out
// as the item's product code.
TEST_P(MarkingFlow, NewRequestSupersedesAnUnconfirmedOne) {
    StartWith(fr::efFFD12);
    OpenShift();
    Request(RequestDoc("g-1", kA64));
    Emu->Device().ClearCommands();
    EXPECT_EQ(Request(RequestDoc("g-2", kB64)), std::make_pair(std::string("true"), std::string("true")));
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "00"), Cmd("FF61", "01001800" + kBHex)}));
    EXPECT_EQ(Emu->Device().MarkingCodeState(kCodeA), fr::TEmuMarkState::None);
    EXPECT_EQ(Result(), "GUID=g-2 Result=true ResultCode=15 StatusInfo=1 HandleCode=0 status=0");
    EXPECT_FALSE(Confirm("g-1", 0));
    ExpectLastError(1004, kBad + "Нет неподтвержденного запроса кода маркировки с идентификатором: «g-1»");
    ASSERT_TRUE(Confirm("g-2", 0)) << LastError().second;

    Emu->Device().ClearCommands();
    ASSERT_TRUE(Check(Package("CashierName=\"К\" OperationType=\"1\">",
                              Item("А", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kA64 + "\"") +
                                  Item("Б", "1", "100", "100", "20", "16.67", "MarkingCode=\"" + kB64 + "\""),
                              "Cash=\"200\""))
                    .Result.Bool)
        << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF4D", "8B041C0019051800" + kAHex), Cmd("FF67", "18" + kBHex)}));
    EXPECT_EQ(CountSent(Cmd("FF67")), 1u);
    EXPECT_EQ(StoredReceipts(), 1u);
}

// The shift is checked first: with the shift closed a new request is refused
// with 3005 before the storage hears of it, and the request waiting stays
// the one to confirm.
TEST_P(MarkingFlow, ClosedShiftKeepsTheUnconfirmedRequest) {
    StartWith(fr::efFFD12);
    OpenShift();
    Request(RequestDoc("g-1", kA64));
    ASSERT_TRUE(Call("CloseShift", {V::String(ID), V::String(kCashier), V::Empty()}).Result.Bool) << LastError().second;
    Emu->Device().ClearCommands();
    EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(RequestDoc("g-2", kB64)), V::Empty()}).Result.Bool);
    ExpectLastError(3005, "Смена закрыта");
    EXPECT_EQ(CountSent(Cmd("FF69")) + CountSent(Cmd("FF61")), 0u);
    EXPECT_EQ(Emu->Device().MarkingCodeState(kCodeA), fr::TEmuMarkState::Pending);
    ASSERT_TRUE(Confirm("g-1", 1)) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(), {Cmd("FF69", "00")}));
}

TEST_P(MarkingFlow, RefusedRequestsAndConfirmations) {
    StartWith(fr::efFFD12);
    // A closed shift is refused before the storage is asked.
    Emu->Device().ClearCommands();
    EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(RequestDoc("g-0", kA64)), V::Empty()}).Result.Bool);
    ExpectLastError(3005, "Смена закрыта");
    OpenShift();

    const std::string Long = std::string(268, 'e');  // 201 bytes decoded
    struct TCase {
        std::string Doc;
        std::string Text;
    };
    const TCase Cases[] = {
        {"<CheckPackage/>", "Не найдена структура RequestKM"},
        {RequestDoc("g", ""), kBadAttr + "MarkingCode: «»"},
        {RequestDoc("g", "@@@"), kBadAttr + "MarkingCode: «@@@»"},
        {RequestDoc("g", Long), kBad + "Код маркировки длиннее 200 байт"},
        {RequestDoc("g", kA64, "Quantity=\"-1\""), kBadAttr + "Quantity: «-1»"},
        {"<RequestKM GUID=\"g\" MarkingCode=\"" + kA64 + "\" PlannedStatus=\"256\"/>",
         kBadAttr + "PlannedStatus: «256»"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Doc);
        Emu->Device().ClearCommands();
        EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(C.Doc), V::Empty()}).Result.Bool);
        ExpectLastError(1004, C.Text);
        EXPECT_EQ(CountSent(Cmd("FF61")), 0u);
    }
    EXPECT_FALSE(Confirm("g", 0));
    ExpectLastError(1004, kBad + "Нет неподтвержденного запроса кода маркировки с идентификатором: «g»");

    Request(RequestDoc("g-1", kA64));
    Emu->Device().ClearCommands();
    EXPECT_FALSE(Confirm("g-2", 0));
    ExpectLastError(1004, kBad + "Нет неподтвержденного запроса кода маркировки с идентификатором: «g-2»");
    EXPECT_FALSE(Confirm("g-1", 2));
    ExpectLastError(1004, kBad + "Недопустимый тип подтверждения: «2»");
    EXPECT_TRUE(Commands().empty());
    ASSERT_TRUE(Confirm("g-1", 0)) << LastError().second;
    EXPECT_FALSE(Confirm("g-1", 0));
    ExpectLastError(1004, kBad + "Нет неподтвержденного запроса кода маркировки с идентификатором: «g-1»");
    EXPECT_FALSE(Emu->Device().ReceiptOpen());

    // The storage's own refusal reaches the host with its text, and leaves no request waiting.
    Emu->Device().SetTableField(18, 1, 21, std::string(1, '\0'));
    EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(RequestDoc("g-3", kB64)), V::Empty()}).Result.Bool);
    EXPECT_EQ(LastError().second,
              "Ошибка проверки маркированного товара. Запрещена работа с маркированным товарами (При активации ФН "
              "1.2 не был установлен признак работы с маркированными товарами)");
    EXPECT_FALSE(Confirm("g-3", 0));
    ExpectLastError(1004, kBad + "Нет неподтвержденного запроса кода маркировки с идентификатором: «g-3»");
}

// Storage formats before 1.2 have no code checks: the session calls pass
// without touching the device, the others are refused.
TEST_P(MarkingFlow, OlderStorageFormat) {
    StartWith(fr::efFFD105);
    OpenShift();
    Emu->Device().ClearCommands();
    EXPECT_TRUE(Session("OpenSessionRegistrationKM")) << LastError().second;
    EXPECT_TRUE(Session("CloseSessionRegistrationKM")) << LastError().second;
    EXPECT_TRUE(Commands().empty());
    EXPECT_FALSE(Call("RequestKM", {V::String(ID), V::String(RequestDoc("g", kA64)), V::Empty()}).Result.Bool);
    EXPECT_EQ(LastError().second, "Данная операция не поддерживается");
    EXPECT_FALSE(Call("GetProcessingKMResult", {V::String(ID), V::Empty(), V::Empty()}).Result.Bool);
    EXPECT_EQ(LastError().second, "Данная операция не поддерживается");
    EXPECT_FALSE(Confirm("g", 0));
    EXPECT_EQ(LastError().second, "Данная операция не поддерживается");
    EXPECT_TRUE(Commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Link, Cash, fr::test::BothTransports(), fr::test::TransportName);
INSTANTIATE_TEST_SUITE_P(Link, Correction, fr::test::BothTransports(), fr::test::TransportName);
INSTANTIATE_TEST_SUITE_P(Link, MarkingFlow, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
}  // namespace rcpt
