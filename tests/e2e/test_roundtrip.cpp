// The round trip of the fiscal documents through dlopen against the emulator
// on both links: each check package of the table is registered (a receipt or
// a correction, in storage format 1.05, 1.1 or 1.2), read back by its number
// with GetDocumentInformation and compared with what the package sent.
//
// The host's read-back document carries the header, the payments and the
// items' name, price, quantity, sum, VAT rate and tax, subject, method and
// marking code. Everything else the package sent (the total, the tax sums,
// the stored rate numbers, agent and supplier data, customer data, the other requisites) is
// compared in the records the device stored, decoded with the library's own
// tag table: every "path=value" listed must be there.
#include <algorithm>
#include <ctime>
#include <map>

#include "ReceiptFixture.h"
#include "device/uTLVStructure.h"

namespace rcpt {
namespace {

// The stored records as "path=value": a path is the tags from the top
// record down, "/"-separated, items numbered "1059[n]"; values are decoded
// by the library's tag table, a tag it does not know is "#" and its bytes
// in hex pairs.
void Flatten(std::string_view AData, const std::string& APrefix, std::vector<std::string>& AOut) {
    int Items = 0;
    int32_t Tag = 0;
    std::string_view Value;
    while (fr::NextTLVRecord(AData, Tag, Value)) {
        std::string Path = APrefix + std::to_string(Tag);
        if (Tag == 1059) Path += "[" + std::to_string(++Items) + "]";
        const fr::TFiscalTagInfo* Info = fr::FindFiscalTagInfo(Tag);
        if (!Info)
            AOut.push_back(Path + "=#" + ShowHex(Value));
        else if (Info->DataType == fr::ffdSTLV)
            Flatten(Value, Path + "/", AOut);
        else
            AOut.push_back(Path + "=" + fr::TLVValueText(Value, Tag, Info->DataType));
    }
}

std::map<std::string, std::string> Attributes(pugi::xml_node ANode) {
    std::map<std::string, std::string> M;
    for (const pugi::xml_attribute A : ANode.attributes()) M[A.name()] = A.value();
    return M;
}

std::string Text(const std::map<std::string, std::string>& AAttributes) {
    std::string S;
    for (const auto& [Name, Value] : AAttributes) S += " " + Name + "=\"" + Value + "\"";
    return S;
}

// Same element names in the same order, each with the same attributes.
::testing::AssertionResult SameTree(pugi::xml_node AActual, pugi::xml_node AExpected, const std::string& APath) {
    const std::string Path = APath + "/" + AExpected.name();
    if (std::string(AActual.name()) != AExpected.name())
        return ::testing::AssertionFailure() << Path << ": read back <" << AActual.name() << ">";
    if (Attributes(AActual) != Attributes(AExpected))
        return ::testing::AssertionFailure() << Path << "\n  read back:" << Text(Attributes(AActual))
                                             << "\n  expected: " << Text(Attributes(AExpected));
    pugi::xml_node A = AActual.first_child(), E = AExpected.first_child();
    for (; A && E; A = A.next_sibling(), E = E.next_sibling())
        if (auto R = SameTree(A, E, Path); !R) return R;
    if (A || E)
        return ::testing::AssertionFailure()
               << Path << ": read back " << (A ? "more" : "fewer") << " elements (" << (A ? A.name() : E.name()) << ")";
    return ::testing::AssertionSuccess();
}

enum class TKind { Receipt, Correction };

struct TRoundTrip {
    const char* Name;
    fr::TEmuFFD FFD;
    TKind Kind;
    std::string Package;
    // The read-back CheckPackage without the attributes that identify the
    // stored document (DocumentType, DocNumber, DateTime, FiscalSign), which
    // are compared with the device's record.
    std::string ReadBack;
    std::vector<std::string> Stored;     // "path=value" records the document holds
    std::vector<std::string> NotStored;  // path prefixes it must not hold
    // Marking codes (Base64) checked and accepted in a marking session
    // before the receipt.
    std::vector<std::string> Checked = {};
};

const std::string kCashierAttrs = "CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\" ";
const std::string kCode = "MDEwNDYwMDQzOTkzMTI1NjIxSmdYSjUuVB04MDA1MTEyMDAwHTkzMDAwMQ==";  // 01..21..\x1D..\x1D..
const std::string kShortCode = "MDEwNDYwMDQzOTkzMTI1NjIxNUtmY20z";  // 0104600439931256215Kfcm3: a six-character serial
const std::string kOldCode = "MDEwNDYwMDQzOTkzMTI1NjIxQUJDREVGRx05M3h5eg==";  // 01..21ABCDEFG\x1D93xyz

std::string Back(const std::string& AParameters, const std::string& APositions, const std::string& APayments) {
    return "<CheckPackage><Parameters " + AParameters + "/>" +
           (APositions.empty() ? "" : "<Positions>" + APositions + "</Positions>") + "<Payments " + APayments +
           "/></CheckPackage>";
}

// An item as it reads back; its rate as the receipt package spells it.
std::string BackItem(const std::string& AName, const std::string& AQuantity, const std::string& APrice,
                     const std::string& AAmount, const std::string& AVATRate, const std::string& AVATAmount,
                     const std::string& AExtra = "") {
    return "<FiscalString " + (AName.empty() ? "" : "Name=\"" + AName + "\" ") + "Quantity=\"" + AQuantity +
           "\" PriceWithDiscount=\"" + APrice + "\" AmountWithDiscount=\"" + AAmount + "\" VATRate=\"" + AVATRate +
           "\" " + (AVATAmount.empty() ? "" : "VATAmount=\"" + AVATAmount + "\" ") + AExtra + "/>";
}

const std::string kMethod4 = "CalculationSubject=\"1\" PaymentMethod=\"4\"";

const std::vector<TRoundTrip>& Cases() {
    static const std::vector<TRoundTrip> List = {
        {"SaleWithRequisitesFormat12",
         fr::efFFD12,
         TKind::Receipt,
         Package(kCashierAttrs +
                     "OperationType=\"1\" TaxationSystem=\"0\" CustomerEmail=\" buyer@example.ru \" "
                     "SenderEmail=\"касса@магазин.рф\" AdditionalAttribute=\"Бонус 5%\">"
                     "<UserAttribute Name=\"Скидка\" Value=\"5 %\"/>"
                     "<CustomerDetail Info=\"Петров П.П.\" INN=\"7707083893\" DateOfBirth=\"01.02.1990\" "
                     "Citizenship=\"643\" DocumentTypeCode=\"21\" DocumentData=\"4510 123456\" Address=\"Москва\"/>"
                     "<OperationalAttribute DateTime=\"2024-03-01T12:00:00\" OperationID=\"1\" "
                     "OperationData=\"данные\"/>"
                     "<IndustryAttribute IdentifierFOIV=\"030\" DocumentDate=\"01.03.2024\" DocumentNumber=\"123/А\" "
                     "AttributeValue=\"знач\"/>",
                 Item("Хлеб", "2", "50", "100", "10", "9.09",
                      "MeasureOfQuantity=\"0\" CountryOfOrigin=\"643\" CustomsDeclaration=\"10702010/010324/0001234\" "
                      "ExciseAmount=\"1.50\" AdditionalAttribute=\"свежий\"") +
                     "<TextString Text=\"между позициями\"/>" +
                     Item("Сыр", "1.5", "240,50", "360.75", "20", "60.12", "MeasureOfQuantity=\"11\""),
                 "Cash=\"200\" ElectronicPayment=\"260.75\""),
         Back(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"0\"",
              BackItem("Хлеб", "2", "50", "100", "10", "9.09", kMethod4) +
                  BackItem("Сыр", "1.5", "240.5", "360.75", "20", "60.12", kMethod4),
              "Cash=\"200\" ElectronicPayment=\"260.75\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1020=460.75",
          "1102=60.12",
          "1103=9.09",
          "1059[1]/1199=2",
          "1059[1]/2108=0",
          "1059[1]/1230=643",
          "1059[1]/1231=10702010/010324/0001234",
          "1059[1]/1229=1.5",
          "1059[1]/1191=свежий",
          "1059[2]/1199=1",
          "1059[2]/2108=11",
          "1008=buyer@example.ru",
          "1117=касса@магазин.рф",
          "1192=Бонус 5%",
          "1084/1085=Скидка",
          "1084/1086=5 %",
          "1256/1227=Петров П.П.",
          "1256/1228=7707083893  ",
          "1256/1243=01.02.1990",
          "1256/1244=643",
          "1256/1245=21",
          "1256/1246=4510 123456",
          "1256/1254=Москва",
          "1270/1273=1709294400",
          "1270/1271=1",
          "1270/1272=данные",
          "1261/1262=030",
          "1261/1263=01.03.2024",
          "1261/1264=123/А",
          "1261/1265=знач",
          "1021=Иванов И.И.",
          "1203=500100732259"},
         {"1057", "1227", "1228"}},
        {"SaleReturnZeroAndNoVATFormat12",
         fr::efFFD12,
         TKind::Receipt,
         Package("CashierName=\"Петрова\" OperationType=\"2\" TaxationSystem=\"2\" CustomerPhone=\"+79001112233\">",
                 Item("А", "1", "100", "100", "0", "0") + Item("Б", "3", "16.67", "50", "NONE", "0"),
                 "ElectronicPayment=\"150\""),
         Back("CashierName=\"Петрова\" OperationType=\"2\" TaxationSystem=\"2\"",
              BackItem("А", "1", "100", "100", "0", "", kMethod4) +
                  BackItem("Б", "3", "16.67", "50", "none", "", kMethod4),
              "Cash=\"0\" ElectronicPayment=\"150\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1055=4", "1020=150", "1104=100", "1105=50", "1059[1]/1199=5", "1059[2]/1199=6", "1008=+79001112233"},
         {"1059[1]/1200", "1059[2]/1200", "1203"}},
        {"PurchaseSplitRatesOtherPaymentsFormat12",
         fr::efFFD12,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"3\" TaxationSystem=\"5\">",
                 Item("А", "1", "120", "120", "20/120", "20") + Item("Б", "1", "110", "110", "10/110", "10") +
                     Item("В", "1", "105", "105", "5", "5") + Item("Г", "1", "107", "107", "7/107", "7") +
                     Item("Д", "1", "107", "107", "7", "7") + Item("Е", "1", "105", "105", "5/105", "5"),
                 "PrePayment=\"100\" PostPayment=\"100\" Barter=\"54\" Payment6=\"80\" Payment7=\"80\" "
                 "Payment8=\"80\" Payment9=\"80\" Payment10=\"80\""),
         Back(kCashierAttrs + "OperationType=\"3\" TaxationSystem=\"5\"",
              BackItem("А", "1", "120", "120", "20/120", "20", kMethod4) +
                  BackItem("Б", "1", "110", "110", "10/110", "10", kMethod4) +
                  BackItem("В", "1", "105", "105", "5", "5", kMethod4) +
                  BackItem("Г", "1", "107", "107", "7/107", "7", kMethod4) +
                  BackItem("Д", "1", "107", "107", "7", "7", kMethod4) +
                  BackItem("Е", "1", "105", "105", "5/105", "5", kMethod4),
              // Payment6 to Payment10 are electronic payments of the storage.
              "Cash=\"0\" ElectronicPayment=\"400\" PrePayment=\"100\" PostPayment=\"100\" Barter=\"54\""),
         {"1055=32", "1020=654", "1106=20", "1107=10", "1059[1]/1199=3", "1059[2]/1199=4", "1059[3]/1199=7",
          "1059[4]/1199=10", "1059[5]/1199=8", "1059[6]/1199=9"},
         {}},
        {"SaleAtTheRatesOf2026Format12",
         fr::efFFD12,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"0\">",
                 Item("А", "1", "122", "122", "22", "22") + Item("Б", "2", "30.50", "61", "22/122", "11"),
                 "Cash=\"183\""),
         Back(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"0\"",
              BackItem("А", "1", "122", "122", "22", "22", kMethod4) +
                  BackItem("Б", "2", "30.5", "61", "22/122", "11", kMethod4),
              "Cash=\"183\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         // The storage has no tax-sum tag of its own for the new rates.
         {"1020=183", "1059[1]/1199=11", "1059[1]/1200=22", "1059[2]/1199=12", "1059[2]/1200=11"},
         {"1102", "1103", "1106", "1107"}},
        {"PurchaseReturnAgentAndMarkingFormat12",
         fr::efFFD12,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"4\" TaxationSystem=\"1\">",
                 Item("А", "1", "120", "120", "18", "20", "CalculationAgent=\"2\"",
                      "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"+7 (900) 123-45-67, +7 900 7654321\" "
                      "PaymentProcessorPhone=\"+7 495 000-00-01\" AcquirerOperatorPhone=\"+74950000002\" "
                      "AcquirerOperatorName=\"ООО Оператор\" AcquirerOperatorAddress=\"Москва, ул. 1\" "
                      "AcquirerOperatorINN=\"7707083893\"/>"
                      "<VendorData VendorPhone=\"+7(495)1112233\" VendorName=\"ООО Поставщик\" "
                      "VendorINN=\"7701234567\"/>") +
                     Item("Б", "1", "120", "120", "18/118", "20", "MarkingCode=\"" + kCode + "\"") +
                     Item("В", "2", "5", "10", "20", "1.67", "", "<GoodCodeData EAN13=\"NDYwNzAwNDY1MDY0Mg==\"/>"),
                 "Cash=\"250\""),
         Back(kCashierAttrs + "OperationType=\"4\" TaxationSystem=\"1\"",
              BackItem("А", "1", "120", "120", "20", "20", kMethod4) +
                  // An unchecked code goes out as a product code: up to its group separator.
                  BackItem("Б", "1", "120", "120", "20/120", "20",
                           kMethod4 + " MarkingCode=\"MDEwNDYwMDQzOTkzMTI1NjIxSmdYSjUuVA==\"") +
                  BackItem("В", "2", "5", "10", "20", "1.67", kMethod4),
              "Cash=\"250\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1020=250", "1102=21.67", "1106=20", "1059[1]/1199=1", "1059[1]/1222=4", "1059[1]/1223/1044=Оплата",
          "1059[1]/1223/1073=+79001234567", "1059[1]/1223/1073=+79007654321", "1059[1]/1223/1074=+74950000001",
          "1059[1]/1223/1075=+74950000002", "1059[1]/1223/1026=ООО Оператор", "1059[1]/1223/1005=Москва, ул. 1",
          "1059[1]/1223/1016=7707083893  ", "1059[1]/1226=7701234567  ", "1059[1]/1224/1171=+74951112233",
          "1059[1]/1224/1225=ООО Поставщик", "1059[2]/1199=3", "1059[2]/1163/1305=010460043993125621JgXJ5.T",
          "1059[3]/1163/1302=4607004650642"},
         // Format 1.2 sends agent data only with the items.
         {"1044", "1073", "1057"}},
        {"SaleAgentsFormat11",
         fr::efFFD11,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"3\" AgentType=\"1\">"
                                 "<AgentData AgentOperation=\"Приём\" AgentPhone=\"+79001234567\"/>"
                                 "<VendorData VendorPhone=\"+74951112233\" VendorName=\"не отправляется\"/>"
                                 "<CustomerDetail Info=\"Петров П.П.\" INN=\"500100732259\" Citizenship=\"643\"/>",
                 Item("Товар", "1", "100", "100", "20", "16.67",
                      "CalculationAgent=\"4\" MeasurementUnit=\"шт\" CountryOfOrigin=\"156\"",
                      "<VendorData VendorPhone=\"+74950000003\" VendorName=\"ИП Сидоров\" VendorINN=\"500100732259\"/>"
                      "<GoodCodeData MarkingCode=\"WFlaMTIz\"/>"),
                 // The storage keeps the cash of the receipt: the change given back is not part of it.
                 "Cash=\"150\""),
         Back(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"3\"",
              BackItem("Товар", "1", "100", "100", "20", "16.67", kMethod4),
              "Cash=\"100\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1055=8", "1057=2", "1044=Приём", "1073=+79001234567", "1171=+74951112233", "1227=Петров П.П.",
          "1228=500100732259", "1059[1]/1222=16", "1059[1]/1162=#58 59 5A 31 32 33", "1059[1]/1197=шт",
          "1059[1]/1230=156", "1059[1]/1226=500100732259", "1059[1]/1224/1171=+74950000003",
          "1059[1]/1224/1225=ИП Сидоров"},
         {"1256", "1225", "1059[1]/2108", "1059[1]/1223"}},
        {"SaleAdvanceAndMarkingFormat105",
         fr::efFFD105,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"1\">",
                 Item("Товар", "1", "100", "100", "10", "9.09", "MarkingCode=\"" + kOldCode + "\"") +
                     // An advance is registered without a name.
                     "<FiscalString Name=\"Аванс\" Quantity=\"1\" PriceWithDiscount=\"50\" "
                     "AmountWithDiscount=\"50\" VATRate=\"10/110\" VATAmount=\"4.55\" PaymentMethod=\"3\" "
                     "CalculationSubject=\"10\"/>",
                 "Cash=\"100\" ElectronicPayment=\"50\""),
         Back(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"1\"",
              BackItem("Товар", "1", "100", "100", "10", "9.09", kMethod4) +
                  BackItem("", "1", "50", "50", "10/110", "4.55", "CalculationSubject=\"10\" PaymentMethod=\"3\""),
              "Cash=\"100\" ElectronicPayment=\"50\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1055=2", "1020=150", "1103=9.09", "1107=4.55", "1059[1]/1162=#44 4D 04 2F 1F 96 81 78 41 42 43 44 45 46 47",
          "1059[2]/1199=4"},
         {"1059[2]/1030"}},
        {"MarkedSaleFormat12",
         fr::efFFD12,
         TKind::Receipt,
         Package(kCashierAttrs + "OperationType=\"1\">",
                 Item("Молоко", "1", "80", "80", "10", "7.27", "MarkingCode=\"" + kShortCode + "\"",
                      "<IndustryAttribute IdentifierFOIV=\"030\" DocumentDate=\"26.03.2022\" "
                      "DocumentNumber=\"477\" AttributeValue=\"mode=test\"/>") +
                     Item("Вода", "1", "60", "60", "20", "10", "",
                          "<GoodCodeData ITF14=\"MTQ2MDA0Mzk5MzEyNTY=\"/>"
                          "<IndustryAttribute IdentifierFOIV=\"030\" AttributeValue=\"mode=horeca\"/>"),
                 "Cash=\"140\""),
         Back(kCashierAttrs + "OperationType=\"1\" TaxationSystem=\"0\"",
              BackItem("Молоко", "1", "80", "80", "10", "7.27", kMethod4 + " MarkingCode=\"" + kShortCode + "\"") +
                  BackItem("Вода", "1", "60", "60", "20", "10", kMethod4),
              "Cash=\"140\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1059[1]/1163/1305=0104600439931256215Kfcm3", "1059[1]/1262=030", "1059[1]/1263=26.03.2022",
          "1059[1]/1264=477", "1059[1]/1265=mode=test", "1059[2]/1163/1303=14600439931256", "1059[2]/1262=030",
          "1059[2]/1265=mode=horeca"},
         {},
         {kShortCode}},
        {"CorrectionFormat12",
         fr::efFFD12,
         TKind::Correction,
         "<CheckCorrectionPackage><Parameters " + kCashierAttrs +
             "OperationType=\"2\" TaxationSystems=\"2\">"
             "<CorrectionData Type=\"1\" Description=\"Предписание\" Date=\"2026-11-30\" Number=\"7/П\"/>"
             "</Parameters><Positions>" +
             Item("Хлеб", "2", "50", "100", "10", "9.09") +
             "</Positions><Payments ElectronicPayment=\"100\"/></CheckCorrectionPackage>",
         // The correction package names the taxation system in the plural.
         Back(kCashierAttrs + "OperationType=\"2\" TaxationSystem=\"2\"",
              BackItem("Хлеб", "2", "50", "100", "10", "9.09", kMethod4),
              "Cash=\"0\" ElectronicPayment=\"100\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1055=4", "1173=1", "1178=1795996800", "1179=7/П", "1020=100", "1103=9.09"},
         {}},
        {"CorrectionWithoutBaseFormat11",
         fr::efFFD11,
         TKind::Correction,
         "<CheckCorrectionPackage><Parameters " + kCashierAttrs +
             "OperationType=\"4\">"
             "<CorrectionData Type=\"0\" Date=\"\" Number=\"\"/></Parameters><Positions>" +
             Item("Сыр", "1", "240.50", "240.50", "20", "40.08") +
             "</Positions><Payments Cash=\"240.50\"/></CheckCorrectionPackage>",
         Back(kCashierAttrs + "OperationType=\"4\" TaxationSystem=\"0\"",
              BackItem("Сыр", "1", "240.5", "240.5", "20", "40.08", kMethod4),
              "Cash=\"240.5\" ElectronicPayment=\"0\" PrePayment=\"0\" PostPayment=\"0\" Barter=\"0\""),
         {"1173=0", "1020=240.5", "1102=40.08"},
         {"1178", "1179"}},
        {"LegacyCorrectionFormat105",
         fr::efFFD105,
         TKind::Correction,
         "<CheckCorrectionPackage><Parameters OperationType=\"1\" TaxationSystems=\"1\">"
         "<CorrectionData Type=\"1\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/></Parameters>"
         "<Positions><FiscalString VATRate=\"20\" VATAmount=\"10\"/><FiscalString VATRate=\"10\" "
         "VATAmount=\"1.50\"/></Positions>"
         "<Payments Cash=\"100\" ElectronicPayment=\"50.25\" PrePayment=\"1\" PostPayment=\"2\" Barter=\"3\"/>"
         "</CheckCorrectionPackage>",
         Back("OperationType=\"1\" TaxationSystem=\"1\"", "",
              "Cash=\"100\" ElectronicPayment=\"50.25\" PrePayment=\"1\" PostPayment=\"2\" Barter=\"3\""),
         {"1055=2", "1173=1", "1020=156.25", "1102=10", "1103=1.5", "1177=#8A A0 E1 E1 A0", "1178=1795996800",
          "1179=7"},
         {"1059", "1021"}},
    };
    return List;
}

class TRoundTripTest : public TReceiptTest {
protected:
    void SetUp() override { FTransport = GetParam(); }

    // Registers the case's package and returns the number of the document
    // the output parameters report; FFiscalSign keeps the sign they report.
    int32_t Register(const TRoundTrip& C) {
        const auto R = C.Kind == TKind::Receipt
                           ? Check(C.Package)
                           : Call("ProcessCorrectionCheck", {V::String(ID), V::String(C.Package), V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        if (!R.Result.Bool) return 0;
        pugi::xml_document Out;
        EXPECT_TRUE(Out.load_string(R.Params.back().Str.c_str())) << R.Params.back().Str;
        const pugi::xml_node P = Out.child("DocumentOutputParameters").child("Parameters");
        FFiscalSign = P.attribute("FiscalSign").value();
        return P.attribute("CheckNumber").as_int();
    }
    std::string ReadBack(int32_t ANumber) {
        const auto R = Call("GetDocumentInformation", {V::String(ID), V::Int32(ANumber), V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << LastError().second;
        return R.Params[2].Str;
    }
    void RoundTripOf(const TRoundTrip& C) {
        TEmuConfig Config = TReceiptBase::Config();
        Config.FFD = C.FFD;
        Start(Config);
        OpenShift();
        if (!C.Checked.empty()) {
            ASSERT_TRUE(Call("OpenSessionRegistrationKM", {V::String(ID)}).Result.Bool) << LastError().second;
            for (size_t I = 0; I < C.Checked.size(); ++I) {
                const std::string GUID = "g-" + std::to_string(I);
                ASSERT_TRUE(Call("RequestKM", {V::String(ID),
                                               V::String("<RequestKM GUID=\"" + GUID + "\" MarkingCode=\"" +
                                                         C.Checked[I] + "\" PlannedStatus=\"1\"/>"),
                                               V::Empty()})
                                .Result.Bool)
                    << LastError().second;
                ASSERT_TRUE(Call("ConfirmKM", {V::String(ID), V::String(GUID), V::Int32(0)}).Result.Bool)
                    << LastError().second;
            }
        }
        const int32_t Number = Register(C);
        if (Number == 0) return;
        const std::vector<fr::TEmuDocument> Docs = Emu->Device().Documents();
        ASSERT_EQ(Docs.back().Number, uint32_t(Number));
        const fr::TEmuDocument Stored = Docs.back();
        EXPECT_EQ(Stored.Type, C.Kind == TKind::Receipt ? 3 : 31);
        EXPECT_EQ(FFiscalSign, std::to_string(Stored.FiscalSign));

        // What the host reads back.
        pugi::xml_document Actual, Expected;
        const std::string Text = ReadBack(Number);
        ASSERT_TRUE(Actual.load_string(Text.c_str())) << Text;
        ASSERT_TRUE(Expected.load_string(C.ReadBack.c_str())) << C.ReadBack;
        pugi::xml_node P = Expected.child("CheckPackage").child("Parameters");
        P.append_attribute("DocumentType") = std::to_string(Stored.Type).c_str();
        P.append_attribute("DocNumber") = std::to_string(Stored.Number).c_str();
        P.append_attribute("DateTime") = DeviceDateTimeText(Stored.Time).c_str();
        P.append_attribute("FiscalSign") = std::to_string(Stored.FiscalSign).c_str();
        EXPECT_TRUE(SameTree(Actual.document_element(), Expected.document_element(), "")) << Text;

        // What the storage holds beyond it.
        std::vector<std::string> Records;
        Flatten(Stored.TLV, "", Records);
        std::string All;
        for (const std::string& R : Records) All += "\n  " + R;
        std::vector<std::string> Left = Records;
        for (const std::string& E : C.Stored) {
            const auto It = std::find(Left.begin(), Left.end(), E);
            EXPECT_NE(It, Left.end()) << "not stored: " << E << "\nstored:" << All;
            if (It != Left.end()) Left.erase(It);
        }
        for (const std::string& N : C.NotStored)
            for (const std::string& R : Records)
                EXPECT_FALSE(R.compare(0, N.size(), N) == 0 && (R[N.size()] == '=' || R[N.size()] == '/'))
                    << "stored: " << R;
    }

    std::string FFiscalSign;
};

using RoundTrip = TRoundTripTest;

TEST_P(RoundTrip, DocumentsReadBackAsSent) {
    for (const TRoundTrip& C : Cases()) {
        SCOPED_TRACE(C.Name);
        RoundTripOf(C);
    }
}

// Cash put in and taken out is no fiscal document: the storage's last
// document stays the receipt before it.
TEST_P(RoundTrip, CashDocumentsAddNoFiscalDocument) {
    Start();
    OpenShift();
    ASSERT_NE(Register(Cases()[0]), 0);
    const std::string Before = ReadBack(0);
    const uint32_t Last = Emu->Device().LastDocumentNumber();
    const uint64_t Drawer = Emu->Device().CashRegister(241);
    for (const V& Amount : {V::Double(500), V::Double(-120.5)})
        ASSERT_TRUE(Call("CashInOutcome", {V::String(ID), V::String(kCashier), Amount}).Result.Bool)
            << LastError().second;
    EXPECT_EQ(Emu->Device().LastDocumentNumber(), Last);
    EXPECT_EQ(ReadBack(0), Before);
    EXPECT_EQ(Emu->Device().CashRegister(241), Drawer + 50000u - 12050u);
}

INSTANTIATE_TEST_SUITE_P(Link, RoundTrip, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
}  // namespace rcpt
