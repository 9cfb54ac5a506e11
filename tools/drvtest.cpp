// drvtest: loads a native component the way the 1C platform does and calls
// it from the command line, so an integrator can see what the host sees.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "base/uStrings.h"
#include "base/uSystem.h"
#include "drvtestSystem.h"
#include "v8host/uV8Host.h"

using namespace fr;
using namespace fr::host;

namespace {

const char kUsage[] =
    "Usage: drvtest [--lib PATH] [--class NAME] COMMAND [ARGS...] [-- COMMAND [ARGS...]]...\n"
    "\n"
    "Loads the component library (dlopen; LoadLibrary on Windows), creates the class object as the\n"
    "1C platform does and runs the commands in order on that one object.\n"
    "\n"
    "Commands:\n"
    "  info                  class names, attach type, methods, properties, description\n"
    "  methods               the method table\n"
    "  props                 the property table with current values\n"
    "  settings              the settings form (GetParameters) as a readable list\n"
    "  description           the driver description (GetDescription), one field a line\n"
    "  call METHOD [ARG...]  call a method by its English or Russian name\n"
    "  get PROP              read a property\n"
    "  set PROP ARG          write a property\n"
    "  say TEXT...           print a step heading (for scripted runs)\n"
    "  ports                 serial ports the driver opens by number and whether this\n"
    "                        account may open them (alone; loads no library)\n"
    "\n"
    "Fiscal storage (on the device the last Open returned):\n"
    "  kkt-data              the registration data (GetDataKKT), one line each\n"
    "  register FILE         register the cash register with the parameters of\n"
    "                        an XML file (OperationFN 1), then show its data\n"
    "  reregister FILE       change the registration parameters (OperationFN 2);\n"
    "                        the reasons are RegistrationLabelCodes in the file\n"
    "  document N...         stored fiscal documents by number (0: the last one),\n"
    "                        as readable text (GetDocumentInformation)\n"
    "\n"
    "Arguments are typed:\n"
    "  s:TEXT   string           i:N      integer         d:X   number\n"
    "  b:true   Boolean          e        empty value (use for out-parameters)\n"
    "  f:PATH   string read from a file\n"
    "In strings, {ID} stands for the device identifier the last Open returned.\n"
    "\n"
    "Exit status: 0 when every call succeeded, 1 when a method reported failure,\n"
    "2 on usage or loading errors, 3 when the component misused host memory.\n";

struct TState {
    TComponentHost Host;
    std::string DeviceID;
    bool AnyFailure = false;
};

std::string ReadFile(const std::string& APath) {
    // Arguments are UTF-8 on both systems (see drvtestSystem.h).
    std::ifstream F(PathFromUtf8(APath), std::ios::binary);
    if (!F) throw std::runtime_error("cannot read " + APath);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

THostValue ParseArg(const std::string& A, const TState& St) {
    if (A == "e") return THostValue::Empty();
    if (A.size() < 2 || A[1] != ':') throw std::runtime_error("bad argument \"" + A + "\" (see --help)");
    const std::string V = A.substr(2);
    switch (A[0]) {
        case 's': return THostValue::String(ReplaceAll(V, "{ID}", St.DeviceID));
        case 'f': return THostValue::String(ReadFile(V));
        case 'i': {
            const auto N = ParseInt(V);
            if (!N) throw std::runtime_error("not an integer: " + V);
            return THostValue::Int32(int32_t(*N));
        }
        case 'd': {
            const auto D = ParseDouble(V);
            if (!D) throw std::runtime_error("not a number: " + V);
            return THostValue::Double(*D);
        }
        case 'b': return THostValue::Boolean(SameTextAscii(V, "true") || V == "1");
        default: throw std::runtime_error("bad argument \"" + A + "\" (see --help)");
    }
}

std::string Indent(const std::string& S, const std::string& Prefix) {
    std::string Out;
    std::istringstream In(S);
    std::string Line;
    bool First = true;
    while (std::getline(In, Line)) {
        if (!First) Out += "\n" + Prefix;
        Out += Line;
        First = false;
    }
    return Out;
}


void PrintHostErrors(TState& St) {
    for (const auto& E : St.Host.Connection().Errors)
        std::printf("  host error %u (%s): %s\n", E.Code, E.Source.c_str(), E.Description.c_str());
    St.Host.Connection().Errors.clear();
}

void PrintMethods(TState& St) {
    std::printf("Methods:\n");
    for (const auto& M : St.Host.Methods())
        std::printf("  %2ld  %s %s params %ld%s\n", M.Index, Pad(M.Name, 34).c_str(), Pad(M.NameLoc, 36).c_str(),
                    M.ParamCount, M.HasRetVal ? "" : " (procedure)");
}

void PrintProps(TState& St) {
    std::printf("Properties:\n");
    for (const auto& P : St.Host.Props()) {
        const TCallResult V = St.Host.GetProp(P.Name);
        std::printf("  %2ld  %s %s %s%s = %s\n", P.Index, Pad(P.Name, 24).c_str(), Pad(P.NameLoc, 34).c_str(),
                    P.Readable ? "r" : "-", P.Writable ? "w" : "-", V.Called ? V.Result.Text().c_str() : "<error>");
    }
    PrintHostErrors(St);
}

void RunCall(TState& St, const std::string& AName, const std::vector<std::string>& AArgs) {
    std::vector<THostValue> Params;
    for (const auto& A : AArgs) Params.push_back(ParseArg(A, St));
    const TCallResult R = St.Host.Call(AName, Params);
    std::printf("%s: %s", AName.c_str(), R.Called ? "called" : "the host call failed");
    if (R.Result.Type != VTYPE_EMPTY) std::printf(", result %s", R.Result.Text().c_str());
    std::printf("\n");
    for (size_t I = 0; I < R.Params.size(); ++I)
        if (!(R.Params[I] == Params[I]))
            std::printf("  out %zu: %s\n", I, Indent(R.Params[I].Text(), "         ").c_str());
    PrintHostErrors(St);
    if (SameTextAscii(AName, "Open") || AName == "Подключить")
        if (!R.Params.empty() && R.Params[0].Type == VTYPE_PWSTR) St.DeviceID = R.Params[0].Str;
    const bool Failed = !R.Called || (R.Result.Type == VTYPE_BOOL && !R.Result.Bool);
    if (Failed && St.Host.FindMethod("GetLastError") >= 0) {
        const auto [Code, Text] = St.Host.LastError();
        std::printf("  GetLastError: %d %s\n", Code, Text.c_str());
    }
    if (Failed) St.AnyFailure = true;
}

// Calls a method whose parameter 0 returns a document; raises on failure.
std::string OutDocument(TState& St, const std::string& AMethod) {
    const TCallResult R = St.Host.Call(AMethod, {THostValue::Empty()});
    PrintHostErrors(St);
    if (!R.Called || !R.Result.Bool) {
        St.AnyFailure = true;
        throw std::runtime_error(AMethod + " failed: " + St.Host.LastError().second);
    }
    return R.Params.at(0).Str;
}

void PrintSettings(TState& St) {
    pugi::xml_document Doc;
    if (!Doc.load_string(OutDocument(St, "GetParameters").c_str())) throw std::runtime_error("bad settings form");
    for (auto Page : Doc.child("Settings").children("Page")) {
        std::printf("Page \"%s\"\n", Page.attribute("Caption").value());
        for (auto Group : Page.children("Group")) {
            std::printf("  Group \"%s\"\n", Group.attribute("Caption").value());
            for (auto P : Group.children("Parameter")) {
                std::printf("    %s %s %s = %s%s\n", Pad(P.attribute("Name").value(), 22).c_str(),
                            Pad(P.attribute("Caption").value(), 34).c_str(), Pad(P.attribute("TypeValue").value(), 8).c_str(),
                            P.attribute("DefaultValue").value(),
                            std::string(P.attribute("ReadOnly").value()) == "true" ? " (read-only)" : "");
                if (const auto D = P.attribute("Description"))
                    std::printf("      %s\n", D.value());
                std::string Choices;
                int Count = 0;
                for (auto Item : P.child("ChoiceList").children("Item")) {
                    if (++Count <= 6) Choices += std::string(Choices.empty() ? "" : ", ") + Item.attribute("Value").value() +
                                                 " \"" + Item.text().get() + "\"";
                }
                if (Count > 6) Choices += ", ... (" + std::to_string(Count) + " choices)";
                if (Count) std::printf("      choices: %s\n", Choices.c_str());
            }
        }
    }
}

void PrintDescription(TState& St) {
    pugi::xml_document Doc;
    if (!Doc.load_string(OutDocument(St, "GetDescription").c_str())) throw std::runtime_error("bad description");
    std::printf("Description:\n");
    for (auto A : Doc.child("DriverDescription").attributes())
        std::printf("  %s %s\n", Pad(A.name(), 28).c_str(), A.value());
}

void RunInfo(TState& St) {
    std::printf("Class names: %s\n", St.Host.ClassNames().c_str());
    std::printf("Attach type: %d\n", int(St.Host.GetAttachType()));
    PrintMethods(St);
    PrintProps(St);
    if (St.Host.FindMethod("GetDescription") >= 0) PrintDescription(St);
}

// ---- registration data and stored documents ------------------------------------

const std::string& OpenedDevice(const TState& St) {
    if (St.DeviceID.empty()) throw std::runtime_error("no device is open: run \"call Open e\" first");
    return St.DeviceID;
}

// Caption of a value from a table of pairs; empty when it has none.
std::string Caption(const std::vector<std::pair<std::string, std::string>>& ATable, const std::string& AKey) {
    for (const auto& [Key, Text] : ATable)
        if (Key == AKey) return Text;
    return {};
}

// "0,2" with the names of the listed bits: "0,2 (ОСН, УСН доход - расход)".
std::string NamedList(const std::string& AList, const std::vector<std::string>& ANames) {
    std::string Names;
    std::istringstream In(AList);
    std::string Item;
    while (std::getline(In, Item, ',')) {
        const auto N = ParseInt(Item);
        if (N && *N >= 0 && size_t(*N) < ANames.size()) Names += (Names.empty() ? "" : ", ") + ANames[size_t(*N)];
    }
    return Names.empty() ? AList : AList + " (" + Names + ")";
}

// Calls AMethod on the opened device; the text of out-parameter AOut, or
// nothing after printing the failure.
std::optional<std::string> DeviceCall(TState& St, const std::string& AMethod, std::vector<THostValue> AParams,
                                      size_t AOut) {
    AParams.insert(AParams.begin(), THostValue::String(OpenedDevice(St)));
    const TCallResult R = St.Host.Call(AMethod, AParams);
    PrintHostErrors(St);
    if (R.Called && R.Result.Bool && AOut < R.Params.size()) return R.Params[AOut].Str;
    const auto [Code, Text] = St.Host.LastError();
    std::printf("%s failed: %d %s\n", AMethod.c_str(), Code, Text.c_str());
    St.AnyFailure = true;
    return std::nullopt;
}

void PrintKKTData(TState& St) {
    static const std::vector<std::pair<std::string, std::string>> Captions = {
        {"Fiscal", "ККТ зарегистрирована"},
        {"DocumentNumber", "Номер документа регистрации"},
        {"DateTime", "Дата и время регистрации"},
        {"KKTSerialNumber", "Заводской номер ККТ"},
        {"FFDVersionFN", "Версия ФФД ФН"},
        {"FFDVersionKKT", "Версия ФФД ККТ"},
        {"FFDVersion", "Версия ФФД"},
        {"INN", "ИНН пользователя"},
        {"KKTNumber", "Регистрационный номер ККТ"},
        {"FNSerialNumber", "Заводской номер ФН"},
        {"TaxationSystems", "Системы налогообложения"},
        {"CompanyName", "Наименование пользователя"},
        {"SaleAddress", "Адрес расчетов"},
        {"SaleLocation", "Место расчетов"},
        {"OFDCompany", "ОФД"},
        {"OFDCompanyINN", "ИНН ОФД"},
        {"AgentTypes", "Признаки агента"},
        {"FNSURL", "Сайт ФНС"},
        {"SenderEmail", "Эл. почта отправителя чека"},
        {"IsEncrypted", "Шифрование"},
        {"IsOffline", "Автономный режим"},
        {"IsAutomatic", "Автоматический режим"},
        {"IsService", "Расчеты за услуги"},
        {"BSOSing", "Только БСО"},
        {"IsOnline", "Расчеты в сети Интернет"},
        {"IsExcisable", "Подакцизные товары"},
        {"IsGambling", "Азартные игры"},
        {"IsLottery", "Лотереи"},
        {"IsAutomaticPrinter", "Принтер в автомате"},
        {"IsMarking", "Маркированные товары"},
        {"IsPawnshop", "Ломбард"},
        {"IsAssurance", "Страхование"}};
    static const std::vector<std::string> TaxationSystems = {"ОСН",  "УСН доход", "УСН доход - расход",
                                                             "ЕНВД", "ЕСХН",      "Патент"};
    static const std::vector<std::string> AgentTypes = {"банк. платежный агент",
                                                        "банк. платежный субагент",
                                                        "платежный агент",
                                                        "платежный субагент",
                                                        "поверенный",
                                                        "комиссионер",
                                                        "иной агент"};
    const auto Text = DeviceCall(St, "GetDataKKT", {THostValue::Empty()}, 1);
    if (!Text) return;
    pugi::xml_document Doc;
    if (!Doc.load_string(Text->c_str())) throw std::runtime_error("GetDataKKT returned no readable XML");
    std::printf("Registration data (GetDataKKT):\n");
    for (auto A : Doc.document_element().attributes()) {
        std::string Value = A.value();
        if (std::string(A.name()) == "TaxationSystems") Value = NamedList(Value, TaxationSystems);
        if (std::string(A.name()) == "AgentTypes") Value = NamedList(Value, AgentTypes);
        std::printf("  %s %s %s\n", Pad(Caption(Captions, A.name()), 30).c_str(), Pad(A.name(), 20).c_str(),
                    Value.c_str());
    }
}

void RunOperationFN(TState& St, int AType, const std::string& AFile) {
    const std::string Xml = ReadFile(AFile);
    const char* Name = AType == 1 ? "registration" : "change of registration parameters";
    if (!DeviceCall(St, "OperationFN", {THostValue::Int32(AType), THostValue::String(Xml)}, 0)) return;
    std::printf("OperationFN: %s done\n", Name);
    PrintKKTData(St);
}

void PrintStoredDocument(TState& St, const std::string& ANumber) {
    static const std::vector<std::pair<std::string, std::string>> DocumentTypes = {
        {"1", "Отчет о регистрации"},
        {"11", "Отчет об изменении параметров регистрации"},
        {"2", "Отчет об открытии смены"},
        {"21", "Отчет о текущем состоянии расчетов"},
        {"3", "Кассовый чек"},
        {"31", "Кассовый чек коррекции"},
        {"4", "Бланк строгой отчетности"},
        {"41", "Бланк строгой отчетности коррекции"},
        {"5", "Отчет о закрытии смены"},
        {"6", "Отчет о закрытии фискального накопителя"},
        {"7", "Подтверждение оператора"}};
    static const std::vector<std::pair<std::string, std::string>> Labels = {
        {"DocNumber", "Номер ФД"},
        {"DateTime", "Дата и время"},
        {"FiscalSign", "Фискальный признак"},
        {"OperationType", "Признак расчета"},
        {"TaxationSystem", "Система налогообложения"},
        {"CashierName", "Кассир"},
        {"CashierINN", "ИНН кассира"},
        {"Cash", "Наличными"},
        {"ElectronicPayment", "Безналичными"},
        {"PrePayment", "Предоплата (аванс)"},
        {"PostPayment", "Постоплата (кредит)"},
        {"Barter", "Встречное предоставление"},
        {"Name", "Наименование"},
        {"Quantity", "Количество"},
        {"PriceWithDiscount", "Цена"},
        {"AmountWithDiscount", "Сумма"},
        {"VATAmount", "Сумма НДС"},
        {"CalculationSubject", "Предмет расчета"},
        {"PaymentMethod", "Способ расчета"},
        {"MarkingCode", "Код маркировки (Base64)"}};
    static const std::vector<std::pair<std::string, std::string>> OperationTypes = {
        {"1", "приход"}, {"2", "возврат прихода"}, {"3", "расход"}, {"4", "возврат расхода"}};
    const auto N = ParseInt(ANumber);
    if (!N) throw std::runtime_error("not a document number: " + ANumber);
    const auto Text =
        DeviceCall(St, "GetDocumentInformation", {THostValue::Int32(int32_t(*N)), THostValue::Empty()}, 2);
    if (!Text) return;
    pugi::xml_document Doc;
    if (!Doc.load_string(Text->c_str())) throw std::runtime_error("GetDocumentInformation returned no readable XML");
    const pugi::xml_node Package = Doc.child("CheckPackage");
    const pugi::xml_node P = Package.child("Parameters");
    const std::string Type = P.attribute("DocumentType").value();
    const std::string TypeName = Caption(DocumentTypes, Type);
    std::printf("Document %s: %s (type %s)\n", P.attribute("DocNumber").value(),
                TypeName.empty() ? "неизвестный документ" : TypeName.c_str(), Type.c_str());
    const auto Line = [](const char* AIndent, pugi::xml_attribute A) {
        std::string Value = A.value();
        if (std::string(A.name()) == "OperationType") {
            const std::string Name = Caption(OperationTypes, Value);
            if (!Name.empty()) Value += " (" + Name + ")";
        }
        const std::string Label = Caption(Labels, A.name());
        std::printf("%s%s %s\n", AIndent, Pad(Label.empty() ? A.name() : Label, 26).c_str(),
                    Indent(Value, std::string(std::strlen(AIndent) + 27, ' ')).c_str());
    };
    for (auto A : P.attributes())
        if (std::string(A.name()) != "DocumentType") Line("  ", A);
    int Item = 0;
    for (auto F : Package.child("Positions").children("FiscalString")) {
        std::printf("  Позиция %d\n", ++Item);
        for (auto A : F.attributes()) Line("    ", A);
    }
    if (const pugi::xml_node Payments = Package.child("Payments")) {
        std::printf("  Оплата\n");
        for (auto A : Payments.attributes()) Line("    ", A);
    }
}

void RunCommand(TState& St, const std::vector<std::string>& C) {
    const std::string& Cmd = C[0];
    const std::vector<std::string> Args(C.begin() + 1, C.end());
    if (Cmd == "info") {
        RunInfo(St);
    } else if (Cmd == "methods") {
        PrintMethods(St);
    } else if (Cmd == "props") {
        PrintProps(St);
    } else if (Cmd == "say") {
        std::string Text;
        for (const auto& A : Args) Text += (Text.empty() ? "" : " ") + A;
        std::printf("\n== %s\n", Text.c_str());
    } else if (Cmd == "settings") {
        PrintSettings(St);
    } else if (Cmd == "description") {
        PrintDescription(St);
    } else if (Cmd == "kkt-data" && Args.empty()) {
        PrintKKTData(St);
    } else if ((Cmd == "register" || Cmd == "reregister") && Args.size() == 1) {
        RunOperationFN(St, Cmd == "register" ? 1 : 2, Args[0]);
    } else if (Cmd == "document" && !Args.empty()) {
        for (const auto& N : Args) PrintStoredDocument(St, N);
    } else if (Cmd == "call" && !Args.empty()) {
        RunCall(St, Args[0], std::vector<std::string>(Args.begin() + 1, Args.end()));
    } else if (Cmd == "get" && Args.size() == 1) {
        const TCallResult R = St.Host.GetProp(Args[0]);
        std::printf("%s = %s\n", Args[0].c_str(), R.Called ? R.Result.Text().c_str() : "<error>");
        PrintHostErrors(St);
        if (!R.Called) St.AnyFailure = true;
    } else if (Cmd == "set" && Args.size() == 2) {
        const bool Ok = St.Host.SetProp(Args[0], ParseArg(Args[1], St));
        std::printf("%s := %s%s\n", Args[0].c_str(), Args[1].c_str(), Ok ? "" : " failed");
        PrintHostErrors(St);
        if (!Ok) St.AnyFailure = true;
    } else {
        throw std::runtime_error("unknown command or wrong arguments: " + Cmd);
    }
}

}  // namespace

std::string Pad(const std::string& S, size_t AWidth) {
    const size_t N = Utf8Length(S);
    return N >= AWidth ? S : S + std::string(AWidth - N, ' ');
}

int main(int argc, char** argv) {
    PrepareOutput();
    const std::vector<std::string> Args = Utf8Arguments(argc, argv);
    std::string Lib = FR_LIBRARY_PATH;
    std::string Class;
    std::vector<std::vector<std::string>> Commands(1);
    for (size_t I = 1; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        if (A == "--help" || A == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (A == "--lib" && I + 1 < Args.size() && Commands.back().empty()) {
            Lib = Args[++I];
        } else if (A == "--class" && I + 1 < Args.size() && Commands.back().empty()) {
            Class = Args[++I];
        } else if (A == "--") {
            Commands.emplace_back();
        } else {
            Commands.back().push_back(A);
        }
    }
    if (Commands.size() == 1 && Commands[0].empty()) Commands[0].push_back("info");
    if (Commands.size() == 1 && Commands[0].size() == 1 && Commands[0][0] == "ports") {
        RunPorts();
        return 0;
    }

    TState St;
    try {
        St.Host.Load(Lib);
        if (Class.empty()) Class = St.Host.ClassNames().substr(0, St.Host.ClassNames().find('|'));
        if (!St.Host.Create(Class)) {
            std::fprintf(stderr, "drvtest: the library has no class \"%s\"\n", Class.c_str());
            return 2;
        }
        for (const auto& C : Commands)
            if (!C.empty()) RunCommand(St, C);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "drvtest: %s\n", E.what());
        return 2;
    }
    St.Host.Destroy();
    if (!St.Host.Memory().Errors().empty()) {
        for (const auto& E : St.Host.Memory().Errors()) std::fprintf(stderr, "drvtest: host memory: %s\n", E.c_str());
        return 3;
    }
    return St.AnyFailure ? 1 : 0;
}
