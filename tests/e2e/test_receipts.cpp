// Receipts through dlopen against the emulator on both links: the exact
// command payloads of one receipt, a table of packages over operation types,
// tax rates, payment kinds, agents and suppliers, customer data, requisites,
// marking codes and the three storage formats, and the bad-input table.
#include <map>

#include "ReceiptFixture.h"

namespace rcpt {
namespace {

const std::string kParams =
    "OperationType=\"1\" TaxationSystem=\"0\" CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\">";
const std::string kTwoItems =
    Item("Хлеб", "2", "50", "100", "10", "9.09") + Item("Сыр", "1", "240,50", "240.50", "20", "40.08");

// The close command: payment slots 1..16 and tax sums 1..10 given as
// 5-byte hex by 1-based slot, the rest zero; no rounding, no text.
std::string Close(const std::map<int, std::string>& ASums, const std::map<int, std::string>& ATaxes,
                  const std::string& ATaxVariant) {
    const auto Slot = [](const std::map<int, std::string>& M, int I) {
        const auto It = M.find(I);
        return It == M.end() ? std::string("0000000000") : It->second;
    };
    std::string S;
    for (int I = 1; I <= 16; ++I) S += Slot(ASums, I);
    S += "00";
    for (int I = 1; I <= 6; ++I) S += Slot(ATaxes, I);
    S += ATaxVariant + std::string(128, '0');
    for (int I = 7; I <= 10; ++I) S += Slot(ATaxes, I);
    return Cmd("FF45", S);
}

using Receipts = TReceiptTest;

TEST_P(Receipts, ExactPayloadsOfOneReceipt) {
    OpenShift();
    Emu->Device().ClearCommands();
    const auto R = Check(Package(kParams, kTwoItems, "Cash=\"400\""));
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    std::vector<std::string> Expected = {
        Cmd("1F", "09010003"),                                  // TCP connection: the print line length
        Cmd("1E", "1101000700"),                                // printed (table 17 field 7 := 0)
        Cmd("11"), Cmd("10"), Cmd("10"), Cmd("10"), Cmd("10"),  // data output, interrupted print, open receipt
        Cmd("FF40"),                                            // shift state
        Cmd("11"), Cmd("10"),                                   // printing finished
        Cmd("8D", "00"),                                        // sale receipt
        Cmd("FF0C", "B3040C00353030313030373332323539"),        // 1203 cashier INN
        // 2 x 50.00 = 100.00, VAT 10 % 9.09, tax byte 02, method 4, subject 1, "Хлеб"
        Cmd("FF46", "0180841E000000881300000010270000008D0300000002000401D5EBE5E1"),
        Cmd("FF4D", "3C08010000"),  // 2108 measure 0
        // 1 x 240.50, VAT 20 % 40.08, tax byte 01, "Сыр"
        Cmd("FF46", "0140420F000000F25D000000F25D000000A80F00000001000401D1FBF0"), Cmd("FF4D", "3C08010000"),
        Cmd("FF0C", "FD030B0088A2A0ADAEA220882E882E"),  // 1021 cashier, code page 866
        Cmd("FF01"),                                    // last document before the close
        Cmd("10"), Close({{1, "409C000000"}}, {{1, "A80F000000"}, {2, "8D03000000"}}, "01"),
        Cmd("11"),                                                   // clock
        Cmd("10"), Cmd("10"),                                        // printing finished
        Cmd("1F", "11010007"), Cmd("10"), Cmd("25", "01"),           // partial cut while printing is on
        Cmd("FF01"), Cmd("10"), Cmd("FF40"), Cmd("1F", "1201000D"),  // output parameters
        Cmd("10"), Cmd("10"), Cmd("10"),                             // nothing left open
    };
    if (!Tcp()) Expected.erase(Expected.begin());
    EXPECT_TRUE(Exactly(Commands(), Expected));

    pugi::xml_document Out;
    ASSERT_TRUE(Out.load_string(R.Params[3].Str.c_str())) << R.Params[3].Str;
    const pugi::xml_node P = Out.child("DocumentOutputParameters").child("Parameters");
    std::vector<std::string> Names;
    for (const auto A : P.attributes()) Names.push_back(A.name());
    EXPECT_EQ(Names, (std::vector<std::string>{"ShiftNumber", "CheckNumber", "ShiftClosingCheckNumber", "DateTime",
                                               "FiscalSign", "AddressSiteInspections"}));
    const auto Doc = Emu->Device().Documents().back();
    EXPECT_EQ(Doc.Type, 3);
    EXPECT_EQ(P.attribute("CheckNumber").as_string(), std::to_string(Doc.Number));
    EXPECT_EQ(P.attribute("FiscalSign").as_string(), std::to_string(Doc.FiscalSign));
    EXPECT_STREQ(P.attribute("ShiftNumber").as_string(), "1");
    EXPECT_STREQ(P.attribute("ShiftClosingCheckNumber").as_string(), "1");
    EXPECT_STREQ(P.attribute("AddressSiteInspections").as_string(), "www.nalog.gov.ru");
    EXPECT_EQ(std::string(P.attribute("DateTime").as_string()).size(), 19u);
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
}

struct TPackageCase {
    const char* Name;
    fr::TEmuFFD FFD;
    std::string Package;
    std::vector<std::string> Sent;     // payloads sent, in this order
    std::vector<std::string> NotSent;  // payload prefixes never sent
};

TEST_P(Receipts, PackageTable) {
    const std::string GoodCode = "MDEwNDYwMDQzOTkzMTI1NjIxSmdYSjUuVB04MDA1MTEyMDAwHTkzMDAwMQ==";
    const std::string OldCode = "MDEwNDYwMDQzOTkzMTI1NjIxQUJDREVGRx05M3h5eg==";
    const std::string Cashier = "CashierName=\"Иванов И.И.\" ";
    const TPackageCase Cases[] = {
        {"SaleReturnRatesZeroAndNoneElectronic",
         fr::efFFD12,
         Package(Cashier + "OperationType=\"2\" TaxationSystem=\"2\">",
                 Item("А", "1", "100", "100", "0", "0") + Item("Б", "1", "50", "50", "NONE", "0"),
                 "ElectronicPayment=\"150\""),
         {Cmd("8D", "02"), Cmd("FF46", "0240420F00000010270000001027000000000000000004000401C0"),
          Cmd("FF46", "0240420F00000088130000008813000000000000000008000401C1"),
          Close({{2, "983A000000"}}, {{3, "1027000000"}, {4, "8813000000"}}, "04")},
         {}},
        {"PurchaseSplitRatesAndOtherPayments",
         fr::efFFD12,
         Package(Cashier + "OperationType=\"3\">",
                 Item("А", "1", "120", "120", "20/120", "20") + Item("Б", "1", "110", "110", "10/110", "10") +
                     Item("В", "1", "105", "105", "5", "5") + Item("Г", "1", "107", "107", "7/107", "7"),
                 "PrePayment=\"100\" PostPayment=\"100\" Barter=\"42\" Payment6=\"100\" Payment10=\"100\""),
         {Cmd("8D", "01"), Cmd("FF46", "0340420F000000E02E000000E02E000000D00700000010000401C0"),
          Cmd("FF46", "0340420F000000F82A000000F82A000000E80300000020000401C1"),
          Cmd("FF46", "0340420F00000004290000000429000000F40100000081000401C2"),
          Cmd("FF46", "0340420F000000CC29000000CC29000000BC0200000088000401C3"),
          Close({{3, "1027000000"}, {7, "1027000000"}, {14, "1027000000"}, {15, "1027000000"}, {16, "6810000000"}},
                {{5, "D007000000"}, {6, "E803000000"}, {7, "F401000000"}, {10, "BC02000000"}}, "01")},
         {}},
        {"PurchaseReturnOldRates",
         fr::efFFD12,
         Package(Cashier + "OperationType=\"4\">",
                 Item("А", "1", "120", "120", "18", "20") + Item("Б", "1", "107", "107", "7", "7") +
                     Item("В", "1", "105", "105", "5/105", "5"),
                 "Cash=\"332\""),
         {Cmd("8D", "03"), Cmd("FF46", "0440420F000000E02E000000E02E000000D00700000001000401C0"),
          Cmd("FF46", "0440420F000000CC29000000CC29000000BC0200000082000401C1"),
          Cmd("FF46",
              "0440420F00000004290000000429000000F401000000840004"
              "01C2"),
          Close({{1, "B081000000"}}, {{1, "D007000000"}, {8, "BC02000000"}, {9, "F401000000"}}, "01")},
         {}},
        {"AgentAndSupplierOfAnItem",
         fr::efFFD12,
         Package(Cashier + "OperationType=\"1\">",
                 Item("А", "1", "100", "100", "20", "16.67", "CalculationAgent=\"2\"",
                      "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"8 (900) 123-45-67, +7 900 7654321\" "
                      "AcquirerOperatorINN=\"7707083893\"/>"
                      "<VendorData VendorPhone=\"+7(495)1112233\" VendorName=\"ООО Поставщик\" "
                      "VendorINN=\"7701234567\"/>"),
                 "Cash=\"100\""),
         {Cmd("FF4D", "C604010004"),
          Cmd("FF4D",
              "C7043A0014040600"
              "8EAFABA0E2A0"
              "31040C002B3839303031323334353637"
              "31040C002B3739303037363534333231"
              "F8030C00373730373038333839332020"),
          Cmd("FF4D", "CA040C00373730313233343536372020"),
          Cmd("FF4D", "C804210093040C002B3734393531313132323333C9040D008E8E8E208FAEE1E2A0A2E9A8AA")},
         {}},
        {"CustomerDataAndRequisites",
         fr::efFFD12,
         Package(Cashier + "OperationType=\"1\" CustomerPhone=\"+79001112233\" SenderEmail=\"shop@example.ru\" "
                           "AdditionalAttribute=\"доп\" ReceiptText=\"Спасибо за покупку\" AgentType=\"1\">"
                           "<CustomerDetail Info=\"Петров\" INN=\"7707083893\" Citizenship=\"643\"/>"
                           "<UserAttribute Name=\"Скидка\" Value=\"5%\"/>"
                           "<OperationalAttribute DateTime=\"2024-03-01T12:00:00\" OperationID=\"1\" "
                           "OperationData=\"данные\"/>"
                           "<IndustryAttribute IdentifierFOIV=\"030\" DocumentDate=\"01.03.2024\" "
                           "DocumentNumber=\"123\" AttributeValue=\"mode=test\"/>",
                 Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"100\""),
         {Cmd("FF0C", "3C0410003D04060091AAA8A4AAA03E0402003525"), Cmd("FF0C", "A8040300A4AEAF"),
          Cmd("FF0C",
              "E8042100CB0406008FA5E2E0AEA2CC040C00373730373038333839332020DC0403003634"
              "33"),
          Cmd("FF0C", "F6041700F904040040C3E165F704010001F8040600A4A0ADADEBA5"),
          Cmd("FF0C", "ED042900EE040300303330EF040A0030312E30332E32303234F0040300313233F10409006D6F64653D74657374"),
          Cmd("FF46").substr(0, 12), Cmd("FF0C", "F0030C002B3739303031313132323333"),
          Cmd("FF0C", "FD030B0088A2A0ADAEA220882E882E"), Cmd("FF0C", "5D040F0073686F70406578616D706C652E7275"),
          Cmd("2F", "0701D1EFE0F1E8E1EE20E7E020EFEEEAF3EFEAF3")},
         // Format 1.2 sends no agent type.
         {Cmd("FF0C", "2104")}},
        {"MarkingAndProductCodes",
         fr::efFFD12,
         Package(
             Cashier + "OperationType=\"1\">",
             Item("А", "1", "100", "100", "20", "16.67", "MeasureOfQuantity=\"11\" MarkingCode=\"" + GoodCode + "\"") +
                 Item("Б", "1", "100", "100", "20", "16.67", "", "<GoodCodeData EAN13=\"NDYwNzAwNDY1MDY0Mg==\"/>") +
                 Item("В", "1", "100", "100", "20", "16.67", "", "<GoodCodeData NotIdentified=\"QUJD\"/>"),
             "Cash=\"300\""),
         {Cmd("FF4D", "3C0801000B"),
          // The product code ends at the group separator.
          Cmd("FF4D", "8B041D00190519003031303436303034333939333132353632314A67584A352E54"),
          Cmd("FF4D",
              "8B0411001605"
              "0D0034363037303034363530363432"),
          Cmd("FF4D", "14050300414243")},
         {Cmd("FF67")}},
        {"Format105",
         fr::efFFD105,
         Package(Cashier + "OperationType=\"1\" AgentType=\"1\">"
                           "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"+79001234567\"/>"
                           "<VendorData VendorPhone=\"+74951112233\"/>"
                           "<CustomerDetail Info=\"Петров\" INN=\"7707083893\"/>"
                           "<OperationalAttribute OperationID=\"1\"/>",
                 Item("А", "1", "100", "100", "20", "16.67",
                      "MarkingCode=\"" + OldCode + "\" MeasurementUnit=\"шт\" MeasureOfQuantity=\"5\""),
                 "Cash=\"100\""),
         {Cmd("FF0C", "2104010002"), Cmd("FF0C", "140406008EAFABA0E2A0"),
          Cmd("FF0C", "31040C002B3739303031323334353637"), Cmd("FF0C", "93040C002B3734393531313132323333"),
          Cmd("FF0C", "CB0406008FA5E2E0AEA2"), Cmd("FF0C", "CC040C00373730373038333839332020"),
          Cmd("FF4D", "8A040F00444D042F1F96817841424344454647"), Cmd("FF4D", "AD040200E8E2")},
         {Cmd("FF4D", "3C08"), Cmd("FF0C", "F604")}},
        {"Format11",
         fr::efFFD11,
         Package(Cashier + "OperationType=\"1\">",
                 Item("А", "1", "100", "100", "20", "16.67",
                      "CountryOfOrigin=\"643\" CustomsDeclaration=\"10702010/010324/0001234\" ExciseAmount=\"12.34\" "
                      "AdditionalAttribute=\"доп\"",
                      "<GoodCodeData MarkingCode=\"WFlaMTIz\"/>"),
                 "Cash=\"100\""),
         {Cmd("FF4D", "8A04060058595A313233"), Cmd("FF4D", "CE040300363433"),
          Cmd("FF4D", "CF04170031303730323031302F3031303332342F30303031323334"), Cmd("FF4D", "CD040600D20400000000"),
          Cmd("FF4D", "A7040300A4AEAF")},
         {Cmd("FF4D", "3C08")}},
    };
    for (const TPackageCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TEmuConfig Config = TReceiptTest::Config();
        Config.FFD = C.FFD;
        Start(Config);
        OpenShift();
        Emu->Device().ClearCommands();
        const auto R = Check(C.Package);
        ASSERT_TRUE(R.Result.Bool) << LastError().second;
        std::vector<std::string> Sent = Commands();
        // An expected payload of code and password only matches the start of a payload.
        for (const std::string& E : C.Sent)
            for (std::string& S : Sent)
                if (E.size() == 6 && S.compare(0, 6, E) == 0) S = E;
        EXPECT_TRUE(InOrder(Sent, C.Sent));
        for (const std::string& N : C.NotSent)
            for (const std::string& S : Commands()) EXPECT_NE(S.compare(0, N.size(), N), 0) << ShowHex(S);
        EXPECT_FALSE(Emu->Device().ReceiptOpen());
        EXPECT_EQ(StoredReceipts(), 1u);
    }
}

std::string Replace(std::string S, const std::string& AFrom, const std::string& ATo) {
    return S.replace(S.find(AFrom), AFrom.size(), ATo);
}

struct TBadCase {
    std::string Package;
    int32_t Code;
    std::string Text;
};

// Each refused package leaves no open receipt and stores none.
TEST_P(Receipts, BadInputTable) {
    OpenShift();
    const std::string Cashier = "CashierName=\"К\" ";
    const std::string Sale = Cashier + "OperationType=\"1\">";
    const std::string Bad = "Ошибка входных параметров команды. Недопустимое значение атрибута ";
    const std::string Input = "Ошибка входных параметров команды";
    const auto One = [&](const std::string& AExtra, const std::string& AQuantity = "1",
                         const std::string& APrice = "100", const std::string& AVAT = "20") {
        return Package(Sale, Item("А", AQuantity, APrice, "100", AVAT, "16.67", AExtra), "Cash=\"100\"");
    };
    const TBadCase Cases[] = {
        {"<CheckPackage><Parameters OperationType=\"1\"></CheckPackage>", 1001, ""},  // not XML: the parser's text
        {"<CheckPackage><Positions/><Payments/></CheckPackage>", 1004, Input},
        {Package(Cashier + ">", Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"100\""), 1004, Input},
        {Package(Cashier + "OperationType=\"5\">", Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"100\""), 1004,
         Input},
        {"<CheckPackage><Parameters " + Sale + "</Parameters><Positions/></CheckPackage>", 1004, Input},
        {One("", "0"), 1004, Bad + "Quantity: «0»"},
        {One("", "-1"), 1004, Bad + "Quantity: «-1»"},
        {One("", "1e3"), 1004, Bad + "Quantity: «1e3»"},
        {One("", "1", "-100"), 1004, Bad + "PriceWithDiscount: «-100»"},
        {One("", "1", "12.3.4"), 1004, Bad + "PriceWithDiscount: «12.3.4»"},
        {One("", "1", "сто"), 1004, Bad + "PriceWithDiscount: «сто»"},
        {One("", "1", "100", "21"), 1004, Bad + "VATRate: «21»"},
        {One("", "1", "100", ""), 1004, Bad + "VATRate: «»"},
        {Package(Sale, Item("А", "1", "100", "1 00", "20", "16.67"), "Cash=\"100\""), 1004,
         Bad + "AmountWithDiscount: «1 00»"},
        {Package(Sale, Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"1E2\""), 1004, Bad + "Cash: «1E2»"},
        {Package(Sale, Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"-100\""), 1004, Bad + "Cash: «-100»"},
        {One("MarkingCode=\"@@@\""), 1004, Bad + "MarkingCode: «@@@»"},
        {Replace(One(""), "CalculationSubject=\"1\"", "CalculationSubject=\"34\""), 3020,
         "Значение признака предмета расчёта вне допустимого диапазона"},
        {Package(Sale,
                 "<FiscalString Name=\"А\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" "
                 "VATRate=\"20\" CalculationSubject=\"1\"/>",
                 "Cash=\"1\""),
         3021, "Значение признака способа расчёта вне допустимого диапазона"},
        {One("CalculationAgent=\"7\""), 3023, "Значение признака агента по предмету расчёта вне допустимого диапазона"},
        {Package(Cashier + "OperationType=\"1\" CashierINN=\"123\">", Item("А", "1", "100", "100", "20", "16.67"),
                 "Cash=\"100\""),
         3026, "Длина ИНН кассира не равна 12"},
        {Package(Cashier + "OperationType=\"1\" CashierINN=\"50010073225X\">",
                 Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"100\""),
         3026, "Некорректный ИНН"},
        {Package(Cashier + "OperationType=\"1\" TaxationSystem=\"8\">", Item("А", "1", "100", "100", "20", "16.67"),
                 "Cash=\"100\""),
         1004, Bad + "TaxationSystem: «8»"},
        {Package(Sale + "<OperationalAttribute OperationID=\"op1\"/>", Item("А", "1", "100", "100", "20", "16.67"),
                 "Cash=\"100\""),
         1004, Bad + "OperationID: «op1»"},
        {Package(Sale, Item("А", "1", "100", "100", "20", "16.67") + "<Barcode Type=\"EAN13\" Value=\"12345\"/>",
                 "Cash=\"100\""),
         1004, Bad + "Value: «12345»"},
        {Package(Sale, Item("А", "1", "100", "100", "20", "16.67") + "<Barcode Type=\"EAN8\" Value=\"12345670\"/>",
                 "Cash=\"100\""),
         1003, "Команда не поддерживается устройством"},
        {Package(
             Sale + "<UserAttribute Name=\"" + std::string(64, 'n') + "\" Value=\"" + std::string(175, 'v') + "\"/>",
             Item("А", "1", "100", "100", "20", "16.67"), "Cash=\"100\""),
         1004, "Ошибка входных параметров команды. Реквизит 1084 длиннее 245 байт"},
    };
    for (const TBadCase& C : Cases) {
        SCOPED_TRACE(C.Package);
        const size_t Before = StoredReceipts();
        const auto R = Check(C.Package);
        EXPECT_FALSE(R.Result.Bool);
        if (C.Text.empty())
            EXPECT_EQ(LastError().first, C.Code) << LastError().second;
        else
            EXPECT_EQ(LastError(), std::make_pair(C.Code, C.Text));
        EXPECT_FALSE(Emu->Device().ReceiptOpen());
        EXPECT_EQ(StoredReceipts(), Before);
    }
    // A comma is a decimal separator; long texts are cut to their fields.
    Emu->Device().ClearCommands();
    const auto R = Check(Package("CashierName=\"" + std::string(70, 'c') + "\" OperationType=\"1\">",
                                 Item(std::string(130, 'x'), "1,5", "10,00", "15", "20", "2,5"), "Cash=\"15,00\""));
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    EXPECT_TRUE(InOrder(Commands(),
                        {Cmd("FF46", "0160E316000000E803000000DC05000000FA0000000001000401") + std::string(126, 'x'),
                         Cmd("FF0C", "FD034000") + std::string(64, 'c')}));
}

// A closed shift is refused before anything is opened.
TEST_P(Receipts, ClosedShift) {
    const auto R = Check(Package(kParams, kTwoItems, "Cash=\"400\""));
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_EQ(LastError(), std::make_pair(3005, std::string("Смена закрыта")));
    EXPECT_FALSE(Emu->Device().ReceiptOpen());
}

// Electronically with EnablePrinting 1 keeps the receipt off paper; the
// setting stays as written.
TEST_P(Receipts, ElectronicReceiptIsNotPrinted) {
    FSettings = {{"EnablePrinting", V::Int32(1)}};
    Start();
    OpenShift();
    Emu->Device().ClearTape();
    ASSERT_TRUE(Check(Package(kParams, kTwoItems, "Cash=\"400\""), true).Result.Bool) << LastError().second;
    EXPECT_EQ(Emu->Device().TableField(17, 1, 7), Hex("02"));
    EXPECT_TRUE(Emu->Device().Tape().Lines().empty());
    ASSERT_TRUE(Check(Package(kParams, kTwoItems, "Cash=\"400\""), false).Result.Bool) << LastError().second;
    EXPECT_EQ(Emu->Device().TableField(17, 1, 7), Hex("00"));
    EXPECT_FALSE(Emu->Device().Tape().Lines().empty());
}

INSTANTIATE_TEST_SUITE_P(Link, Receipts, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
}  // namespace rcpt
