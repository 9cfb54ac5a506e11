// Registration data, registration and re-registration, closing of the fiscal
// storage and stored documents read back by number, through the host
// interface against the emulator on loopback TCP and on a pseudo-terminal
// linked as com<n> (/dev/com<n>; COM<n> under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <pugixml.hpp>
#include <utility>
#include <vector>

#include "E2EDevice.h"
#include "E2EEnvironment.h"
#include "TestBytes.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace {

using fr::TEmuConfig;
using fr::TEmulator;
using fr::host::TCallResult;
using fr::host::TComponentHost;
using fr::test::Hex;
using fr::test::TTransport;
using V = fr::host::THostValue;
using TAttrs = std::vector<std::pair<std::string, std::string>>;

const std::string kBadInput = "Ошибка входных параметров команды";
const std::string kFNState = "Неверное состояние ФН (Данная команда требует другого состояния ФН)";
const std::string kCashier =
    "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/></InputParameters>";

// The registration parameters as the host sends them; AChanges replace
// attribute values, and the value "<absent>" leaves the attribute out.
std::string FiscalXml(const TAttrs& AChanges = {}) {
    TAttrs A = {{"FFDVersion", "1.2"},
                {"CashierName", "Иванов И.И."},
                {"CashierINN", "500100732259"},
                {"KKTNumber", "0000000002023456"},
                {"CompanyName", "ООО «Ромашка»"},
                {"INN", "7701234560"},
                {"SaleAddress", "г. Москва, ул. Тверская, д. 1"},
                {"SaleLocation", "Магазин"},
                {"TaxationSystems", "0,2"},
                {"IsOffline", "false"},
                {"IsAutomatic", "true"},
                {"IsOnline", "false"},
                {"IsEncrypted", "false"},
                {"IsService", "false"},
                {"BSOSing", "false"},
                {"RegistrationLabelCodes", ""},
                {"AgentTypes", "1,3"},
                {"AutomaticNumber", ""},
                {"OFDCompany", "ООО «Такском»"},
                {"OFDCompanyINN", "7704211201"},
                {"SenderEmail", "shop@example.ru"},
                {"FNSURL", "www.nalog.gov.ru"},
                {"IsExcisable", "false"},
                {"IsGambling", "false"},
                {"IsLottery", "false"},
                {"IsAutomaticPrinter", "false"},
                {"IsMarking", "true"},
                {"IsPawnshop", "false"},
                {"IsAssurance", "TRUE"}};
    for (const auto& [Name, Value] : AChanges)
        for (auto& P : A)
            if (P.first == Name) P.second = Value;
    std::string S = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ParametersFiscal";
    for (const auto& [Name, Value] : A)
        if (Value != "<absent>") S += " " + Name + "=\"" + Value + "\"";
    return S + "/>";
}

// The value of the first top-level record ATag of a stored document; "<none>" without one.
std::string Record(const fr::TEmuDocument& ADoc, uint16_t ATag) {
    std::string_view S = ADoc.TLV;
    while (S.size() >= 4) {
        const size_t Tag = uint8_t(S[0]) | uint8_t(S[1]) << 8, Len = uint8_t(S[2]) | uint8_t(S[3]) << 8;
        if (Tag == ATag) return std::string(S.substr(4, Len));
        S.remove_prefix(std::min(S.size(), 4 + Len));
    }
    return "<none>";
}

TAttrs Attributes(pugi::xml_node N) {
    TAttrs Out;
    for (auto A : N.attributes()) Out.emplace_back(A.name(), A.value());
    return Out;
}

// Everything of the device that a refused operation must leave as it was.
struct TDeviceSnapshot {
    explicit TDeviceSnapshot(fr::TEmuDevice& D) {
        for (int F = 1; F <= 21; ++F) Fields.push_back(D.TableField(18, 1, uint8_t(F)));
        for (int F = 1; F <= 41; ++F) Fields.push_back(D.TableField(17, 1, uint8_t(F)));
        Fields.push_back(D.TableField(24, 1, 1));
        Documents = D.Documents().size();
        LifeState = D.FNLifeState();
        Mode = D.Mode();
    }
    bool operator==(const TDeviceSnapshot& O) const {
        return Fields == O.Fields && Documents == O.Documents && LifeState == O.LifeState && Mode == O.Mode;
    }
    std::vector<std::string> Fields;
    size_t Documents = 0;
    uint8_t LifeState = 0;
    uint8_t Mode = 0;
};

class Registration : public ::testing::TestWithParam<TTransport> {
protected:
    bool Tcp() const { return GetParam() == TTransport::Tcp; }
    void SetUp() override {
        // The driver finds a serial cash register as com<n> only.
        if (const char* Why = Tcp() ? nullptr : ComLinkUnavailable()) GTEST_SKIP() << Why;
    }
    void TearDown() override {
        Host.Destroy();
        if (Emu) Emu->Stop();
        EXPECT_TRUE(Host.Memory().Errors().empty());
        EXPECT_EQ(Host.Memory().LiveBlocks(), 0u);
    }
    // Starts an emulator with AConfig on this test's link and opens a session.
    void Start(const TEmuConfig& AConfig = {}, bool AReportsUnprinted = false) {
        Emu = std::make_unique<TEmulator>(AConfig);
        if (Tcp()) {
            Port = Emu->StartTCP();
        } else {
            ASSERT_NE(Com.Number, 0) << "no free com number";
            Emu->StartSerial(Com.Number);
        }
        Host.Load(FR_LIBRARY_PATH);
        ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
        Set("PortNumber", V::Int32(Tcp() ? 9999 : Com.Number));
        if (Tcp()) Set("IPPort", V::Int32(Port));
        if (AReportsUnprinted) Set("EnableReportPrinting", V::Int32(2));
        const auto R = Host.Call("Open", {V::Empty()});
        ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
        ID = R.Params[0].Str;
    }
    fr::TEmuDevice& Dev() { return Emu->Device(); }
    void Set(const std::string& AName, const V& AValue) {
        ASSERT_TRUE(Host.Call("SetParameter", {V::String(AName), AValue}).Result.Bool) << AName;
    }
    TCallResult Fiscal(const std::string& AName, std::vector<V> AParams) {
        AParams.insert(AParams.begin(), V::String(ID));
        auto R = Host.Call(AName, AParams);
        EXPECT_TRUE(R.Called);
        EXPECT_TRUE(R.StringsInHostMemory);
        if (Tcp()) {
            EXPECT_EQ(ClientConnections(Port), 0) << AName << " left its connection open";
        }
        return R;
    }
    TCallResult OperationFN(int32_t AType, const std::string& AXml) {
        return Fiscal("OperationFN", {V::Int32(AType), V::String(AXml)});
    }
    void ExpectError(const TCallResult& R, int32_t ACode, const std::string& AText) {
        EXPECT_FALSE(R.Result.Bool);
        EXPECT_EQ(Host.LastError(), std::make_pair(ACode, AText));
    }
    // GetDataKKT's Parameters element (ADoc keeps it alive).
    pugi::xml_node DataKKT(pugi::xml_document& ADoc) {
        const auto R = Fiscal("GetDataKKT", {V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << Host.LastError().second;
        EXPECT_TRUE(ADoc.load_string(R.Params[1].Str.c_str())) << R.Params[1].Str;
        EXPECT_EQ(std::string(ADoc.document_element().name()), "Parameters");
        return ADoc.document_element();
    }
    // GetDocumentInformation's Parameters element of the CheckPackage.
    pugi::xml_node Document(pugi::xml_document& ADoc, int32_t ANumber) {
        const auto R = Fiscal("GetDocumentInformation", {V::Int32(ANumber), V::Empty()});
        EXPECT_TRUE(R.Result.Bool) << Host.LastError().second;
        EXPECT_TRUE(ADoc.load_string(R.Params[2].Str.c_str())) << R.Params[2].Str;
        return ADoc.child("CheckPackage").child("Parameters");
    }
    // Payloads (code, password, data) of the registration and storage
    // commands sent since the last ClearCommands.
    std::vector<std::string> StorageCommands() {
        std::vector<std::string> Out;
        for (const auto& C : Dev().Commands()) {
            for (const char* Code : {"FF05", "FF06", "FF34", "FF3E"})
                if (C.rfind(Hex(Code), 0) == 0) Out.push_back(C);
        }
        return Out;
    }
    // Position of the first command whose payload starts with AHexPrefix.
    size_t CommandIndex(const std::string& AHexPrefix) {
        const auto C = Dev().Commands();
        for (size_t I = 0; I < C.size(); ++I)
            if (C[I].rfind(Hex(AHexPrefix), 0) == 0) return I;
        return size_t(-1);
    }

    TComNumber Com;
    std::unique_ptr<TEmulator> Emu;
    uint16_t Port = 0;
    TComponentHost Host;
    std::string ID;
};

TEST_P(Registration, RegisterAndReadBack) {
    TEmuConfig C;
    C.Fiscalised = false;
    ASSERT_NO_FATAL_FAILURE(Start(C, true));

    // A register that is not fiscal reports only that.
    pugi::xml_document Before;
    EXPECT_EQ(Attributes(DataKKT(Before)), (TAttrs{{"Fiscal", "false"}}));

    const std::string PrintSetting = Dev().TableField(17, 1, 7);
    Dev().ClearCommands();
    const auto R = OperationFN(1, FiscalXml());
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    EXPECT_EQ(Dev().FNLifeState(), 3);

    // Begin, then the report with INN (12 bytes), registration number
    // (20 bytes), taxation systems 0 and 2, work mode "automatic".
    EXPECT_EQ(StorageCommands(),
              (std::vector<std::string>{Hex("FF051E00000000"), Hex("FF061E000000"
                                                                   "373730313233343536302020"
                                                                   "3030303030303030303230323334353620202020"
                                                                   "05"
                                                                   "04")}));
    // The clock is set before the report; the cashier INN goes as tag 1203.
    EXPECT_LT(CommandIndex("221E000000"), CommandIndex("FF05"));
    EXPECT_NE(CommandIndex("FF0C1E000000B3040C00353030313030373332323539"), size_t(-1));
    // Table writes: company name as ANSI text, format 1.2, extended modes
    // (marking, insurance), 20 spaces for the automatic number; the agent
    // types are a 1.1 field and stay untouched.
    EXPECT_EQ(Dev().TableField(18, 1, 7).substr(0, 14), Hex("CECECE20ABD0EEECE0F8EAE0BB00"));
    EXPECT_EQ(Dev().TableField(17, 1, 17), Hex("04"));
    EXPECT_EQ(Dev().TableField(18, 1, 21), Hex("50"));
    EXPECT_EQ(Dev().TableField(24, 1, 1), std::string(20, ' '));
    EXPECT_EQ(Dev().TableField(18, 1, 16), Hex("00"));
    // The print setting of the session is back after the report.
    EXPECT_EQ(Dev().TableField(17, 1, 7), PrintSetting);

    const auto Docs = Dev().Documents();
    ASSERT_EQ(Docs.size(), 1u);
    pugi::xml_document After;
    EXPECT_EQ(Attributes(DataKKT(After)), (TAttrs{{"Fiscal", "true"},
                                                  {"DocumentNumber", "1"},
                                                  // the storage keeps it to the minute
                                                  {"DateTime", DeviceDateTimeText(Docs[0].Time / 60 * 60)},
                                                  {"KKTSerialNumber", "0000000012345678"},
                                                  {"FFDVersionFN", "1.2"},
                                                  {"FFDVersionKKT", "1.2"},
                                                  {"FFDVersion", "1.2"},
                                                  {"INN", "7701234560"},
                                                  {"KKTNumber", "0000000002023456"},
                                                  {"FNSerialNumber", "9999078900012345"},
                                                  {"TaxationSystems", "0,2"},
                                                  {"CompanyName", "ООО «Ромашка»"},
                                                  {"SaleAddress", "г. Москва, ул. Тверская, д. 1"},
                                                  {"SaleLocation", "Магазин"},
                                                  {"OFDCompany", "ООО «Такском»"},
                                                  {"OFDCompanyINN", "7704211201"},
                                                  {"AgentTypes", ""},
                                                  {"FNSURL", "www.nalog.gov.ru"},
                                                  {"SenderEmail", "shop@example.ru"},
                                                  {"IsEncrypted", "false"},
                                                  {"IsOffline", "false"},
                                                  {"IsAutomatic", "true"},
                                                  {"IsService", "false"},
                                                  {"BSOSing", "false"},
                                                  {"IsOnline", "false"},
                                                  {"IsExcisable", "false"},
                                                  {"IsGambling", "false"},
                                                  {"IsLottery", "false"},
                                                  {"IsAutomaticPrinter", "false"},
                                                  {"IsMarking", "true"},
                                                  {"IsPawnshop", "false"},
                                                  {"IsAssurance", "true"}}));

    pugi::xml_document Doc;
    const auto P = Document(Doc, 1);
    EXPECT_STREQ(P.attribute("DocumentType").value(), "1");
    EXPECT_STREQ(P.attribute("DocNumber").value(), "1");
    EXPECT_EQ(std::string(P.attribute("DateTime").value()), DeviceDateTimeText(Docs[0].Time));
    EXPECT_EQ(std::string(P.attribute("FiscalSign").value()), std::to_string(Docs[0].FiscalSign));
    EXPECT_STREQ(P.attribute("CashierINN").value(), "500100732259");
    EXPECT_STREQ(P.attribute("CashierName").value(), "Иванов И.И.");

    // A second registration is refused by the storage before any table write.
    const TDeviceSnapshot Registered(Dev());
    ExpectError(OperationFN(1, FiscalXml({{"CompanyName", "Другая"}})), 1001,
                "Ошибка команды начала формирования отчета о регистрации. " + kFNState);
    EXPECT_TRUE(TDeviceSnapshot(Dev()) == Registered);
}

TEST_P(Registration, ReregistrationReasonsAndFormat) {
    ASSERT_NO_FATAL_FAILURE(Start());
    struct TCase {
        const char* Codes;
        const char* Version;
        const char* ReportType;
        const char* Reason;
    };
    const TCase Cases[] = {
        {"1,4", "1.2", "01", "01"}, {"2.4", "1.2", "02", "02"}, {"3", "1.2", "02", "04"}, {"", "1.1", "02", "04"}};
    for (const TCase& T : Cases) {
        SCOPED_TRACE(T.Codes);
        Dev().ClearCommands();
        const auto R = OperationFN(
            2,
            FiscalXml({{"RegistrationLabelCodes", T.Codes}, {"FFDVersion", T.Version}, {"AutomaticNumber", "A-17"}}));
        ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
        EXPECT_EQ(StorageCommands(), (std::vector<std::string>{Hex(std::string("FF051E000000") + T.ReportType),
                                                               Hex("FF341E000000"
                                                                   "373730313233343536302020"
                                                                   "3030303030303030303230323334353620202020"
                                                                   "0504" +
                                                                   std::string(T.Reason))}));
        const fr::TEmuDocument Stored = Dev().Documents().back();
        EXPECT_EQ(Stored.Type, 11);
        // The reason as a code before format 1.2 and as a 4-byte field from it
        // on; the automatic device's number; the agent types of format 1.1.
        const bool Older = std::string(T.Version) == "1.1";
        EXPECT_EQ(Record(Stored, 1101), Older ? Hex(T.Reason) : "<none>");
        EXPECT_EQ(Record(Stored, 1205), Older ? "<none>" : Hex(T.Reason + std::string("000000")));
        EXPECT_EQ(Record(Stored, 1036), "A-17");
        EXPECT_EQ(Record(Stored, 1057), Older ? Hex("0A") : "<none>");
        pugi::xml_document Doc;
        EXPECT_STREQ(Document(Doc, 0).attribute("DocumentType").value(), "11");
        // Agent types are written for format 1.1 only.
        EXPECT_EQ(Dev().TableField(18, 1, 16), Hex(Older ? "0A" : "00"));
    }
    // The session works in the format registered last.
    pugi::xml_document Doc;
    const auto P = DataKKT(Doc);
    EXPECT_STREQ(P.attribute("FFDVersionKKT").value(), "1.1");
    EXPECT_STREQ(P.attribute("AgentTypes").value(), "1,3");
    EXPECT_STREQ(P.attribute("DocumentNumber").value(), std::to_string(Dev().LastDocumentNumber()).c_str());
}

TEST_P(Registration, RefusedInputChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string Conversion = "Код причины изменения сведений о ККТ «";
    struct TCase {
        int32_t Type;
        std::string Xml;
        int32_t Code;
        std::string Text;
    };
    const TCase Cases[] = {
        {1, "", 1004, kBadInput},
        {2, "<?xml version=\"1.0\"?>", 1004, kBadInput},
        {2, FiscalXml({{"FFDVersion", "1.05"}}), 1004, kBadInput},
        {2, FiscalXml({{"FFDVersion", "1.0.5"}}), 1004, kBadInput},
        {3, FiscalXml({{"FFDVersion", "<absent>"}}), 1004, kBadInput},
        {2, FiscalXml({{"CashierINN", "123"}}), 1004, kBadInput},
        {2, FiscalXml({{"INN", "12345"}}), 1004, kBadInput},
        {1, FiscalXml({{"INN", "77012345AB"}}), 1004, kBadInput},
        {2, FiscalXml({{"OFDCompanyINN", "770421120"}}), 1004, kBadInput},
        // Check digits a storage would refuse only after the table writes.
        {2, FiscalXml({{"INN", "7701234567"}}), 1004, kBadInput},
        {2, FiscalXml({{"INN", "500100732266"}}), 1004, kBadInput},
        {2, FiscalXml({{"OFDCompanyINN", "7704211202"}}), 1004, kBadInput},
        {2, FiscalXml({{"RegistrationLabelCodes", "33"}}), 1004, kBadInput},
        {2, FiscalXml({{"RegistrationLabelCodes", "1,x"}}), 1001, Conversion + "x» не является целым числом"},
        {2, FiscalXml({{"RegistrationLabelCodes", "1,,2"}}), 1001, Conversion + "» не является целым числом"},
        {3, FiscalXml({{"RegistrationLabelCodes", "2."}}), 1001, Conversion + "» не является целым числом"},
        {0, FiscalXml(), 1004, kBadInput},
        {4, FiscalXml(), 1004, kBadInput},
        {257, FiscalXml(), 1004, kBadInput},
        {-1, FiscalXml(), 1004, kBadInput},
    };
    const TDeviceSnapshot Initial(Dev());
    for (const TCase& T : Cases) {
        SCOPED_TRACE(std::to_string(T.Type) + " " + T.Xml);
        Dev().ClearCommands();
        ExpectError(OperationFN(T.Type, T.Xml), T.Code, T.Text);
        // Refused before the first command.
        EXPECT_TRUE(Dev().Commands().empty());
        EXPECT_TRUE(TDeviceSnapshot(Dev()) == Initial);
    }

    // A re-registration with the shift open is refused before any write.
    ASSERT_TRUE(Fiscal("OpenShift", {V::String(kCashier), V::Empty()}).Result.Bool) << Host.LastError().second;
    const TDeviceSnapshot ShiftOpen(Dev());
    Dev().ClearCommands();
    ExpectError(OperationFN(2, FiscalXml()), 3015, "Смена открыта");
    EXPECT_TRUE(StorageCommands().empty());
    EXPECT_TRUE(TDeviceSnapshot(Dev()) == ShiftOpen);
    ASSERT_TRUE(Fiscal("CloseShift", {V::String(kCashier), V::Empty()}).Result.Bool) << Host.LastError().second;

    // Closing the storage sets the clock and sends no other storage command.
    Dev().ClearCommands();
    ASSERT_TRUE(OperationFN(3, FiscalXml()).Result.Bool) << Host.LastError().second;
    EXPECT_EQ(StorageCommands(), (std::vector<std::string>{Hex("FF3E1E000000")}));
    EXPECT_LT(CommandIndex("221E000000"), CommandIndex("FF3E"));
    EXPECT_EQ(CommandIndex("1E1E00000012"), size_t(-1));  // no write to table 18
    EXPECT_EQ(Dev().FNLifeState(), 7);
    pugi::xml_document Doc;
    EXPECT_STREQ(Document(Doc, 0).attribute("DocumentType").value(), "6");

    // A closed storage refuses every operation before any table write.
    const TDeviceSnapshot Closed(Dev());
    const std::pair<int32_t, std::string> Refusals[] = {
        {1, "Ошибка команды начала формирования отчета о регистрации. " + kFNState},
        {2, "Ошибка команды начала формирования отчета о регистрации. " + kFNState},
        {3, "Ошибка команды закрытия ФН. " + kFNState}};
    for (const auto& [Type, Text] : Refusals) {
        ExpectError(OperationFN(Type, FiscalXml()), 1001, Text);
        EXPECT_TRUE(TDeviceSnapshot(Dev()) == Closed) << Type;
    }
    // Nor any other fiscal document. What it stored stays readable, also once
    // every document has reached the operator and only the archive is left.
    ExpectError(Fiscal("OpenShift", {V::String(kCashier), V::Empty()}), 1001,
                "Ошибка команды начала открытия смены. " + kFNState);
    EXPECT_TRUE(TDeviceSnapshot(Dev()) == Closed);
    Dev().MarkDocumentsSent();
    EXPECT_EQ(Dev().FNLifeState(), 15);
    pugi::xml_document Data, First;
    EXPECT_STREQ(DataKKT(Data).attribute("KKTNumber").value(), "0000000001012345");
    EXPECT_STREQ(Document(First, 1).attribute("DocumentType").value(), "1");
}

// What the storage itself refuses reaches the host as its error, and leaves
// the storage as it was.
TEST_P(Registration, StorageRefusals) {
    // A storage of format 1.1 takes no registration in format 1.2.
    TEmuConfig C;
    C.Fiscalised = false;
    C.FFD = fr::efFFD11;
    ASSERT_NO_FATAL_FAILURE(Start(C));
    // Neither a change nor the closing of a storage never registered.
    const TDeviceSnapshot Ready(Dev());
    ExpectError(OperationFN(2, FiscalXml({{"FFDVersion", "1.1"}})), 1001,
                "Ошибка команды начала формирования отчета о регистрации. " + kFNState);
    ExpectError(OperationFN(3, FiscalXml()), 1001, "Ошибка команды закрытия ФН. " + kFNState);
    EXPECT_TRUE(TDeviceSnapshot(Dev()) == Ready);
    ExpectError(OperationFN(1, FiscalXml()), 1001,
                "Ошибка команды формирования отчета о регистрации. Некорректное значение параметров команды "
                "(Параметры команды имеют правильный формат, но их значение не верно)");
    EXPECT_EQ(Dev().FNLifeState(), 1);
    EXPECT_TRUE(Dev().Documents().empty());
    ASSERT_TRUE(OperationFN(1, FiscalXml({{"FFDVersion", "1.1"}})).Result.Bool) << Host.LastError().second;
    EXPECT_EQ(Dev().FNLifeState(), 3);
    pugi::xml_document Data;
    EXPECT_STREQ(DataKKT(Data).attribute("FFDVersionKKT").value(), "1.1");

    // 30 registrations and changes are the storage's life: the 31st is
    // refused at its begin, before any table write.
    const std::string Change = std::string("\xFF\x34\x1E\x00\x00\x00", 6) + "7701234560  " + std::string(20, '0') +
                               std::string("\x01\x00\x04", 3);
    for (uint8_t Made = 2; Made < 30; ++Made) {
        ASSERT_EQ(Dev().Execute(std::string("\xFF\x05\x1E\x00\x00\x00\x02", 7)), Hex("FF0500"));
        ASSERT_EQ(Dev().Execute(Change), Hex("FF3400"));
    }
    ASSERT_TRUE(OperationFN(2, FiscalXml({{"FFDVersion", "1.1"}})).Result.Bool) << Host.LastError().second;
    EXPECT_EQ(Dev().Documents().size(), 30u);
    const TDeviceSnapshot Full(Dev());
    ExpectError(OperationFN(2, FiscalXml({{"FFDVersion", "1.1"}, {"CompanyName", "Другая"}})), 1001,
                "Ошибка команды начала формирования отчета о регистрации. Исчерпан ресурс ФН (Требуется закрытие "
                "фискального режима)");
    EXPECT_TRUE(TDeviceSnapshot(Dev()) == Full);
}

TEST_P(Registration, DocumentsByNumber) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Fiscal("OpenShift", {V::String(kCashier), V::Empty()}).Result.Bool) << Host.LastError().second;
    ASSERT_TRUE(Fiscal("CloseShift", {V::String(kCashier), V::Empty()}).Result.Bool) << Host.LastError().second;
    const auto Docs = Dev().Documents();
    ASSERT_EQ(Docs.size(), 3u);  // registration, shift open, shift close

    std::vector<std::string> Texts;
    for (const auto& E : Docs) {
        SCOPED_TRACE(E.Number);
        const auto R = Fiscal("GetDocumentInformation", {V::Int32(int32_t(E.Number)), V::Empty()});
        ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
        Texts.push_back(R.Params[2].Str);
        pugi::xml_document Doc;
        ASSERT_TRUE(Doc.load_string(Texts.back().c_str()));
        const auto P = Doc.child("CheckPackage").child("Parameters");
        EXPECT_EQ(std::string(P.attribute("DocumentType").value()), std::to_string(E.Type));
        EXPECT_EQ(std::string(P.attribute("DocNumber").value()), std::to_string(E.Number));
        EXPECT_EQ(std::string(P.attribute("DateTime").value()), DeviceDateTimeText(E.Time));
        EXPECT_EQ(std::string(P.attribute("FiscalSign").value()), std::to_string(E.FiscalSign));
    }
    // 0 and below read the last document.
    for (int32_t N : {0, -1}) {
        const auto R = Fiscal("GetDocumentInformation", {V::Int32(N), V::Empty()});
        ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
        EXPECT_EQ(R.Params[2].Str, Texts.back());
    }
    ExpectError(Fiscal("GetDocumentInformation", {V::Int32(4), V::Empty()}), 1001,
                "Ошибка извлечения данных из ФН. Нет запрошенных данных (запрошенные данные отсутствуют в Архиве ФН)");

    // A document left half-read (a broken read-out) does not stand in the way
    // of the next request, nor of the next document.
    const auto HalfRead = [this](uint8_t ANumber) {
        Dev().Execute(std::string("\xFF\x3A\x1E\x00\x00\x00", 6) + char(ANumber) + std::string(3, '\0'));
        Dev().Execute(std::string("\xFF\x3B\x1E\x00\x00\x00", 6));
        ASSERT_EQ(Dev().Mode(), 1);
    };
    HalfRead(3);
    const auto R = Fiscal("GetDocumentInformation", {V::Int32(1), V::Empty()});
    ASSERT_TRUE(R.Result.Bool) << Host.LastError().second;
    EXPECT_EQ(R.Params[2].Str, Texts[0]);
    HalfRead(2);
    ASSERT_TRUE(Fiscal("OpenShift", {V::String(kCashier), V::Empty()}).Result.Bool) << Host.LastError().second;
    EXPECT_TRUE(Dev().ShiftOpen());
}

TEST_P(Registration, DataKKTKeepsWhatItRead) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // Which arrival of the table read is the registration number (table 18,
    // field 3) depends on the link: TCP reads the line length at connect.
    Dev().ClearCommands();
    pugi::xml_document Full;
    DataKKT(Full);
    int Arrival = 0;
    for (const auto& C : Dev().Commands()) {
        if (uint8_t(C[0]) != 0x1F) continue;
        ++Arrival;
        if (C == Hex("1F1E000000120100"
                     "03"))
            break;
    }
    Dev().FailCommand(0x1F, Arrival, 93);
    pugi::xml_document Partial;
    std::vector<std::string> Names;
    for (const auto& [Name, Value] : Attributes(DataKKT(Partial))) Names.push_back(Name);
    EXPECT_EQ(Names, (std::vector<std::string>{"Fiscal", "DocumentNumber", "DateTime", "KKTSerialNumber",
                                               "FFDVersionFN", "FFDVersionKKT", "FFDVersion", "INN"}));

    // Failures before the registration table is read reach the host.
    Dev().FailCommand(0xFF04, 1, 1);
    ExpectError(Fiscal("GetDataKKT", {V::Empty()}), 1014, "Ошибка протокола обмена");
    Dev().FailCommand(0xFF01, 1, 2);
    ExpectError(Fiscal("GetDataKKT", {V::Empty()}), 1001, "Ошибка команды запроса статуса ФН. " + kFNState);
}

INSTANTIATE_TEST_SUITE_P(Link, Registration, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
