// The built library loaded as the 1C platform loads it and driven as the
// platform drives it: method and property tables, the common methods and
// their documents. (Its exports: ExportsPosix.cpp here, tests/win32/check-dll
// for the Windows DLLs.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>

#include "E2EEnvironment.h"
#include "v8host/uV8Host.h"

namespace {

using fr::host::TComponentHost;
using fr::host::THostValue;

class Component : public ::testing::Test {
protected:
    void SetUp() override {
        Host.Load(FR_LIBRARY_PATH);
        ASSERT_TRUE(Host.Create("fr_orvalen1c8x3n"));
    }
    void TearDown() override {
        Host.Destroy();
        EXPECT_TRUE(Host.Memory().Errors().empty());
        EXPECT_EQ(Host.Memory().LiveBlocks(), 0u);
        EXPECT_TRUE(Host.Connection().Errors.empty());
    }
    // Calls a method that reports its success as a Boolean result; every
    // string it hands back must live in host memory.
    fr::host::TCallResult Call(const std::string& AName, const std::vector<THostValue>& AParams) {
        auto R = Host.Call(AName, AParams);
        EXPECT_TRUE(R.Called) << AName;
        EXPECT_TRUE(R.StringsInHostMemory) << AName;
        return R;
    }
    std::string OutText(const std::string& AName) {
        const auto R = Call(AName, {THostValue::Empty()});
        EXPECT_TRUE(R.Result.Bool) << AName << ": " << Host.LastError().second;
        return R.Params[0].Str;
    }
    TComponentHost Host;
};

TEST(Library, ClassNamesAndAttachType) {
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    EXPECT_EQ(Host.ClassNames(), "fr_orvalen1c8x3n");
    EXPECT_EQ(Host.GetAttachType(), eCanAttachAny);
    EXPECT_FALSE(Host.Create("FR_ORVALEN1C8X3N"));
    EXPECT_TRUE(Host.Create("fr_orvalen1c8x3n"));
}

TEST_F(Component, MethodTableInRegistryOrder) {
    struct TRow {
        const char* Name;
        const char* NameLoc;
        long Params;
    };
    const TRow Rows[] = {{"GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0},
                         {"GetDataKKT", "ПолучитьПараметрыККТ", 2},
                         {"OperationFN", "ОперацияФН", 3},
                         {"OpenShift", "ОткрытьСмену", 3},
                         {"CloseShift", "ЗакрытьСмену", 3},
                         {"ProcessCheck", "СформироватьЧек", 4},
                         {"ProcessCorrectionCheck", "СформироватьЧекКоррекции", 3},
                         {"PrintTextDocument", "НапечататьТекстовыйДокумент", 2},
                         {"CashInOutcome", "НапечататьЧекВнесенияВыемки", 3},
                         {"PrintXReport", "НапечататьОтчетБезГашения", 2},
                         {"GetCurrentStatus", "ПолучитьТекущееСостояние", 3},
                         {"ReportCurrentStatusOfSettlements", "ОтчетОТекущемСостоянииРасчетов", 3},
                         {"OpenCashDrawer", "ОткрытьДенежныйЯщик", 1},
                         {"GetLineLength", "ПолучитьШиринуСтроки", 2},
                         {"PrintCheckCopy", "НапечататьКопиюЧека", 2},
                         {"OpenSessionRegistrationKM", "ОткрытьСессиюРегистрацииКМ", 1},
                         {"CloseSessionRegistrationKM", "ЗакрытьСессиюРегистрацииКМ", 1},
                         {"RequestKM", "ЗапросКМ", 3},
                         {"GetProcessingKMResult", "ПолучитьРезультатыЗапросаКМ", 3},
                         {"ConfirmKM", "ПодтвердитьКМ", 3},
                         {"SetDateTime", "УстановитьДатуВремя", 2},
                         {"GetDateTime", "ПолучитьДатуВремя", 2},
                         {"GetDocumentInformation", "ПолучитьИнформациюПоДокументу", 3},
                         {"GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0},
                         {"GetDescription", "ПолучитьОписание", 1},
                         {"GetLastError", "ПолучитьОшибку", 1},
                         {"Open", "Подключить", 1},
                         {"Close", "Отключить", 1},
                         {"GetParameters", "ПолучитьПараметры", 1},
                         {"SetParameter", "УстановитьПараметр", 2},
                         {"DeviceTest", "ТестУстройства", 2},
                         {"GetAdditionalActions", "ПолучитьДополнительныеДействия", 1},
                         {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1}};
    const auto M = Host.Methods();
    ASSERT_EQ(M.size(), std::size(Rows));
    for (size_t I = 0; I < M.size(); ++I) {
        EXPECT_EQ(M[I].Name, Rows[I].Name) << I;
        EXPECT_EQ(M[I].NameLoc, Rows[I].NameLoc) << I;
        EXPECT_EQ(M[I].ParamCount, Rows[I].Params) << I;
        EXPECT_TRUE(M[I].HasRetVal) << I;
    }
    EXPECT_EQ(Host.FindMethod("Подключить"), Host.FindMethod("Open"));
    EXPECT_EQ(Host.FindMethod("open"), -1);
    EXPECT_EQ(Host.FindMethod("ПолучитьРевизиюИнтерфейса"), 0);
    EXPECT_EQ(Host.Call("GetInterfaceRevision", {}).Result.Int, 3004);
    EXPECT_EQ(Host.CallIndex(23, {}).Result.Int, 3002);
}

TEST_F(Component, PropertyTableInRegistryOrder) {
    std::vector<std::pair<std::string, std::string>> Expected = {{"PortNumber", "НомерПорта"},
                                                                 {"MaxReceiptRowLength", "ДлинаСтроки"},
                                                                 {"FeedCount", "Количество строк протяжки ленты"},
                                                                 {"ConnectPwd", "ПарольСвязи"},
                                                                 {"BaudRate", "Скорость"},
                                                                 {"IPAddress", "IPАдрес"},
                                                                 {"IPPort", "IPПорт"},
                                                                 {"CutString", "CutString"},
                                                                 {"DisableCut", "DisableCut"},
                                                                 {"ReceiveAllKT", "ReceiveAllKT"},
                                                                 {"EnablePrinting", "ВключитьПечать"},
                                                                 {"EnableReportPrinting", "ВключитьПечатьОтчетов"},
                                                                 {"ReceiptFontNumber", "НомерШрифтаЧека"}};
    for (int N = 1; N <= 5; ++N) {
        const std::string S = std::to_string(N);
        Expected.insert(Expected.end(), {{"GTFontName" + S, "НазваниеШрифта" + S},
                                         {"GTFontSize" + S, "РазмерШрифта" + S},
                                         {"GTIsBold" + S, "СтильBold" + S},
                                         {"GTIsItalic" + S, "СтильItalic" + S},
                                         {"GTIsStrikeout" + S, "СтильStrikeout" + S},
                                         {"GTIsUnderline" + S, "СтильUnderline" + S}});
    }
    Expected.insert(Expected.end(), {{"ReceiptTextAvailable", "ПоддержкаПечатиТекста"},
                                     {"MteDriver", "Mte драйвер"},
                                     {"LogEnabled", "ЛогВключен"}});
    const auto P = Host.Props();
    ASSERT_EQ(P.size(), 46u);
    for (size_t I = 0; I < P.size(); ++I) {
        EXPECT_EQ(P[I].Name, Expected[I].first) << I;
        EXPECT_EQ(P[I].NameLoc, Expected[I].second) << I;
        EXPECT_TRUE(P[I].Readable && P[I].Writable) << I;
    }
    // Declared defaults as the host reads them.
    EXPECT_EQ(Host.GetProp("ConnectPwd").Result.Int, 30);
    EXPECT_EQ(Host.GetProp("IPAddress").Result.Str, "127.0.0.1");
    EXPECT_EQ(Host.GetProp("MaxReceiptRowLength").Result.Int, 48);
    EXPECT_EQ(Host.GetProp("GTFontSize3").Result.Int, 40);
    EXPECT_TRUE(Host.GetProp("ReceiptTextAvailable").Result.Bool);
}

TEST_F(Component, SetParameterInEitherLanguageAndAnyCase) {
    struct TCase {
        const char* Name;
        THostValue Value;
        const char* Prop;
        std::string Shown;
    } Cases[] = {
        {"ipaddress", THostValue::String("10.0.0.5"), "IPAddress", "10.0.0.5"},
        {"IPАДРЕС", THostValue::String("10.0.0.6"), "IPAddress", "10.0.0.6"},
        {"порт", THostValue::Int32(0), nullptr, ""},  // the form's caption is no setting name
        {"ipport", THostValue::String("9100"), "IPPort", "9100"},
        {"скорость", THostValue::Double(9600.7), "BaudRate", "9600"},
        {"disablecut", THostValue::Boolean(true), "DisableCut", "true"},
        {"ВключитьПечать", THostValue::Int32(2), "EnablePrinting", "2"},
        {"mte ДРАЙВЕР", THostValue::Boolean(true), "MteDriver", "true"},
        {"стильbold5", THostValue::Boolean(true), "GTIsBold5", "true"},
        {"CutString", THostValue::Int32(1), nullptr, ""},  // a number for a text setting
    };
    for (const auto& C : Cases) {
        const auto R = Call("SetParameter", {THostValue::String(C.Name), C.Value});
        if (C.Prop) {
            EXPECT_TRUE(R.Result.Bool) << C.Name;
            EXPECT_EQ(Host.GetProp(C.Prop).Result.Text(), C.Shown) << C.Name;
        } else {
            EXPECT_FALSE(R.Result.Bool) << C.Name;
        }
    }
    const auto R = Call("SetParameter", {THostValue::String("порт"), THostValue::Int32(0)});
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_EQ(Host.LastError(), std::make_pair(1001, std::string("Property not found: порт")));
    Call("SetParameter", {THostValue::String("CutString"), THostValue::Int32(1)});
    EXPECT_EQ(Host.LastError(), std::make_pair(1001, std::string("Value type unacceptable")));
}

TEST_F(Component, LastErrorSemantics) {
    EXPECT_EQ(Host.LastError(), std::make_pair(0, std::string()));
    Call("DoAdditionalAction", {THostValue::String("viewlog")});
    EXPECT_EQ(Host.LastError(), std::make_pair(1001, std::string("Action not found")));
    // Reading the error does not clear it.
    EXPECT_EQ(Host.LastError().first, 1001);
    Call("GetDescription", {THostValue::Empty()});
    EXPECT_EQ(Host.LastError(), std::make_pair(0, std::string()));
}

TEST_F(Component, DescriptionDocument) {
    pugi::xml_document Doc;
    const std::string Text = OutText("GetDescription");
    ASSERT_TRUE(Doc.load_string(Text.c_str(), pugi::parse_default | pugi::parse_declaration));
    EXPECT_EQ(Text.rfind("<?xml version=\"1.0\"?>", 0), 0u) << Text;
    const pugi::xml_node E = Doc.child("DriverDescription");
    std::vector<std::string> Names;
    for (auto A : E.attributes()) Names.push_back(A.name());
    EXPECT_EQ(Names, (std::vector<std::string>{"Name", "Description", "EquipmentType", "IntegrationComponent",
                                               "MainDriverInstalled", "DriverVersion", "IntegrationComponentVersion",
                                               "DownloadURL", "LogIsEnabled", "LogPath"}));
    EXPECT_STREQ(E.attribute("Name").value(), "Драйвер ККТ Орвален");
    EXPECT_STREQ(E.attribute("Description").value(), "Драйвер ККТ Орвален 1С:Совместимо для 1С:БПО NativeAPI");
    EXPECT_STREQ(E.attribute("EquipmentType").value(), "ККТ");
    EXPECT_STREQ(E.attribute("IntegrationComponent").value(), "false");
    EXPECT_STREQ(E.attribute("MainDriverInstalled").value(), "false");
    EXPECT_STREQ(E.attribute("LogIsEnabled").value(), "false");
    const std::string Version = E.attribute("DriverVersion").value();
    EXPECT_EQ(std::count(Version.begin(), Version.end(), '.'), 3) << Version;
    EXPECT_EQ(E.attribute("IntegrationComponentVersion").value(), Version);
    const std::string LogPath = E.attribute("LogPath").value();
    // Shown as the system writes paths: a backslash between folders on Windows.
    EXPECT_EQ(LogPath, (TE2EEnvironment::Dir / "Velmark/fr_orvalen1c8x3n/logs/").make_preferred().string());

    // LogEnabled acts at once.
    Call("SetParameter", {THostValue::String("ЛогВключен"), THostValue::Boolean(true)});
    ASSERT_TRUE(Doc.load_string(OutText("GetDescription").c_str()));
    EXPECT_STREQ(Doc.child("DriverDescription").attribute("LogIsEnabled").value(), "true");
    Call("SetParameter", {THostValue::String("LogEnabled"), THostValue::Boolean(false)});
}

TEST_F(Component, SettingsForm) {
    const std::string Text = OutText("GetParameters");
    pugi::xml_document Doc;
    ASSERT_TRUE(Doc.load_string(Text.c_str(), pugi::parse_default | pugi::parse_declaration));
    EXPECT_STREQ(Doc.first_child().attribute("encoding").value(), "UTF-8");
    std::vector<std::string> Pages;
    for (auto P : Doc.child("Settings").children("Page")) Pages.push_back(P.attribute("Caption").value());
    EXPECT_EQ(Pages,
              (std::vector<std::string>{"Параметры связи", "Общие настройки", "Графический текст", "Настройка лога"}));
    const auto Param = [&](const char* Name) {
        return Doc.select_node(("//Parameter[@Name='" + std::string(Name) + "']").c_str()).node();
    };
    EXPECT_STREQ(Param("ConnectPwd").attribute("DefaultValue").value(), "30");
    const auto Port = Param("PortNumber");
    const auto Items = Port.child("ChoiceList").children("Item");
    EXPECT_EQ(std::distance(Items.begin(), Items.end()), 129);
    EXPECT_STREQ(Items.begin()->attribute("Value").value(), "9999");
    EXPECT_STREQ(Items.begin()->text().get(), "TCP/IP");
    const auto Text1 = Param("ReceiptTextAvailable");
    std::vector<std::string> Attrs;
    for (auto A : Text1.attributes()) Attrs.push_back(A.name());
    EXPECT_EQ(Attrs,
              (std::vector<std::string>{"Name", "Caption", "Description", "TypeValue", "DefaultValue", "ReadOnly"}));
    EXPECT_STREQ(Text1.attribute("ReadOnly").value(), "true");
    EXPECT_STREQ(Param("GTIsUnderline5").attribute("Caption").value(), "Текст подчеркнутый");
    EXPECT_EQ(Doc.select_nodes("//Parameter").size(), 46u - 1u);  // MteDriver is not in the form
}

TEST_F(Component, AdditionalActionsFollowMteDriver) {
    const auto Names = [&] {
        pugi::xml_document Doc;
        EXPECT_TRUE(Doc.load_string(OutText("GetAdditionalActions").c_str()));
        std::vector<std::string> N;
        for (auto A : Doc.child("Actions").children("Action"))
            N.push_back(std::string(A.attribute("Name").value()) + "=" + A.attribute("Caption").value());
        return N;
    };
    EXPECT_EQ(Names(), (std::vector<std::string>{"ViewLog=Просмотр лога", "ShowHelp=Справка"}));
    Host.SetProp("MteDriver", THostValue::Boolean(true));
    EXPECT_EQ(Names(), (std::vector<std::string>{"GetKKTParams=Параметры и состояние ККТ", "ViewLog=Просмотр лога",
                                                 "ShowHelp=Справка"}));
}

TEST_F(Component, FiscalMethodsNeedAKnownDevice) {
    const std::string Unknown = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
    struct TCase {
        std::string ID;
        std::string Message;
    } Cases[] = {
        {Unknown, "Экземпляр устройства c идентификатором " + Unknown + " не существует или уже был отключен"},
        {" " + Unknown, "Экземпляр устройства c идентификатором  " + Unknown + " не существует или уже был отключен"},
        {"", "Не передан идентификатор устройства"},
        {"   ", "Не передан идентификатор устройства"},
    };
    for (const auto& C : Cases) {
        const auto R = Call("OpenShift", {THostValue::String(C.ID), THostValue::String("<x/>"), THostValue::Empty()});
        EXPECT_FALSE(R.Result.Bool);
        EXPECT_EQ(R.Params[2].Type, VTYPE_EMPTY);  // out-parameter untouched
        EXPECT_EQ(Host.LastError(), std::make_pair(1001, C.Message));
    }
    // Close of an unknown device is not an error.
    EXPECT_TRUE(Call("Close", {THostValue::String(Unknown)}).Result.Bool);
}

}  // namespace
