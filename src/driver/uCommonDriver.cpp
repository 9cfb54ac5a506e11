#include "driver/uCommonDriver.h"

#include <fr_version.h>

#include <mutex>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uSystem.h"
#include "base/uXmlUtils.h"
#include "driver/uServiceWindows.h"
#include "log/uLog.h"
#include "resources/uResources.h"

#ifndef FR_DOWNLOAD_URL
#define FR_DOWNLOAD_URL "README.md#download"
#endif

namespace fr {

namespace {

// Built on first use: the library's start-up registers the driver before
// the globals of this unit exist.
struct TSharedDriverInfo {
    std::mutex Lock;
    TDriverInfo Info;
};

TSharedDriverInfo& SharedDriverInfo() {
    static TSharedDriverInfo Shared;
    return Shared;
}

}  // namespace

TDriverInfo DriverInfo() {
    TSharedDriverInfo& S = SharedDriverInfo();
    std::lock_guard G(S.Lock);
    return S.Info;
}

void ChangeDriverInfo(const std::function<void(TDriverInfo&)>& AChange) {
    TSharedDriverInfo& S = SharedDriverInfo();
    std::lock_guard G(S.Lock);
    AChange(S.Info);
}

std::string EquipmentTypeText(uint8_t AValue) {
    static const char* const Names[] = {"СканерШтрихкода",
                                        "СчитывательМагнитныхКарт",
                                        "ФискальныйРегистратор",
                                        "ПринтерЧеков",
                                        "ПринтерЭтикеток",
                                        "ДисплейПокупателя",
                                        "ТерминалСбораДанных",
                                        "ЭквайринговыйТерминал",
                                        "ЭлектронныеВесы",
                                        "ВесыСПечатьюЭтикеток",
                                        "СчитывательRFID",
                                        "ККТ",
                                        "Видеокамера",
                                        "ЭлектронныйЗамок",
                                        "НеизвестныйТипОборудования"};
    if (AValue >= std::size(Names)) throw std::runtime_error("Enum value unacceptable");
    return Names[AValue];
}

namespace {

const char* TypeValueText(TPropKind AKind) {
    switch (AKind) {
        case pkInteger:
        case pkInt64:
        case pkByte:
        case pkDouble: return "Number";
        case pkText: return "String";
        case pkBoolean: return "Boolean";
        case pkVariant: break;
    }
    return "Unknown";
}

}  // namespace

std::string BuildParametersXml(const std::string* AResource, const TClassDecl& ADecl) {
    pugi::xml_document Doc;
    if (AResource) {
        LoadXml(Doc, *AResource);
        return XmlToText(Doc);
    }
    NewXmlDocument(Doc);
    pugi::xml_node Page = Doc.append_child("Settings").append_child("Page");
    Page.append_attribute("Caption") = "Параметры";
    for (const TPropDecl* P : ADecl.AllProps()) {
        pugi::xml_node N = Page.append_child("Parameter");
        N.append_attribute("Name") = P->Name.c_str();
        N.append_attribute("Caption") = P->Caption.c_str();
        N.append_attribute("TypeValue") = TypeValueText(P->Kind);
        N.append_attribute("DefaultValue") = P->DefValue.c_str();
        N.append_attribute("ReadOnly") = XmlBool(P->ReadOnly);
    }
    return XmlToText(Doc);
}

// ------------------------------------------------------------ common driver

TCommonDriver::TCommonDriver() = default;

TCommonDriver::~TCommonDriver() = default;

const TClassDecl& TCommonDriver::Decl() {
    static const TClassDecl D = MakeClassDecl<TCommonDriver>(&TCustomDriver::Decl(), [](auto& B) {
        B.template Method<&TCommonDriver::HostGetInterfaceRevision>("GetInterfaceRevision",
                                                                    "ПолучитьРевизиюИнтерфейса", 0);
        B.template Method<&TCommonDriver::HostGetDescription>("GetDescription", "ПолучитьОписание", 1);
        B.template Method<&TCommonDriver::HostGetLastError>("GetLastError", "ПолучитьОшибку", 1);
        B.template Method<&TCommonDriver::HostOpen>("Open", "Подключить", 1);
        B.template Method<&TCommonDriver::HostClose>("Close", "Отключить", 1);
        B.template Method<&TCommonDriver::HostGetParameters>("GetParameters", "ПолучитьПараметры", 1);
        B.template Method<&TCommonDriver::HostSetParameter>("SetParameter", "УстановитьПараметр", 2);
        B.template Method<&TCommonDriver::HostDeviceTest>("DeviceTest", "ТестУстройства", 2);
        B.template Method<&TCommonDriver::HostGetAdditionalActions>("GetAdditionalActions",
                                                                    "ПолучитьДополнительныеДействия", 1);
        B.template Method<&TCommonDriver::HostDoAdditionalAction>("DoAdditionalAction",
                                                                  "ВыполнитьДополнительноеДействие", 1);
        B.Prop("LogEnabled", "ЛогВключен", "Вести лог", "False", false, &TCommonDriver::GetLogEnabled,
               &TCommonDriver::SetLogEnabled);
        B.template Action<&TCommonDriver::ViewLog>("ViewLog", "Просмотр лога");
        B.template Action<&TCommonDriver::ShowHelp>("ShowHelp", "Справка");
    });
    return D;
}

void TCommonDriver::UpdateDriverInfo(TDriverInfo& ADriverInfo) {
    ADriverInfo.EquipmentType = etUnknown;
    ADriverInfo.IntegrationComponent = false;
    ADriverInfo.MainDriverInstalled = false;
    ADriverInfo.LogIsEnabled = false;
    ADriverInfo.DownloadURL = FR_DOWNLOAD_URL;
    ADriverInfo.DriverVersion = std::to_string(FR_VERSION_MAJOR) + "." + std::to_string(FR_VERSION_MINOR) + "." +
                                std::to_string(FR_VERSION_RELEASE) + "." + std::to_string(FR_VERSION_BUILD);
    ADriverInfo.IntegrationComponentVersion = ADriverInfo.DriverVersion;
}

// The call log suspends logging around calls that name no device (the
// description, the settings); while suspended the switch reads as it was
// last set on this object, so the description reports what the user chose.
bool TCommonDriver::GetLogEnabled() const {
    const TLogMode Mode = GetLogMode();
    return Mode > lmOff || (Mode == lmSuspended && FLogEnabled);
}

void TCommonDriver::SetLogEnabled(bool AValue) {
    FLogEnabled = AValue;
    SetLogMode(AValue ? lmAll : lmOff);
}

void TCommonDriver::SelectDevice(const std::string&) {
    if (!FEnabled) throw EquException(70, "Устройство не включено");
}

int32_t TCommonDriver::InterfaceRevision() { return 3002; }

void TCommonDriver::Open() { FEnabled = true; }

void TCommonDriver::Close(const std::string& ADeviceID) {
    FEnabled = false;
    if (!ADeviceID.empty()) DeviceLogFlags().Remove(ADeviceID);
}

void TCommonDriver::DeviceTest(std::string& ADescription, std::string&) {
    try {
        Open();
        ADescription = DriverInfo().Description;
    } catch (...) {
        ADescription = CurrentExceptionMessage();
        try {
            Close("");
        } catch (...) {
        }
        throw std::runtime_error(ADescription);
    }
    Close("");
}

std::string TCommonDriver::GetParametersXml() {
    const std::string_view* R = FindResource("Parameters");
    if (!R) return BuildParametersXml(nullptr, ClassDecl());
    const std::string Text(*R);
    return BuildParametersXml(&Text, ClassDecl());
}

std::string TCommonDriver::GetDescriptionXml() {
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    pugi::xml_node E = Doc.append_child("DriverDescription");
    const TDriverInfo Info = DriverInfo();
    E.append_attribute("Name") = Info.Name.c_str();
    E.append_attribute("Description") = Info.Description.c_str();
    E.append_attribute("EquipmentType") = EquipmentTypeText(Info.EquipmentType).c_str();
    E.append_attribute("IntegrationComponent") = XmlBool(Info.IntegrationComponent);
    E.append_attribute("MainDriverInstalled") = XmlBool(Info.MainDriverInstalled);
    E.append_attribute("DriverVersion") = Info.DriverVersion.c_str();
    E.append_attribute("IntegrationComponentVersion") = Info.IntegrationComponentVersion.c_str();
    E.append_attribute("DownloadURL") = Info.DownloadURL.c_str();
    E.append_attribute("LogIsEnabled") = XmlBool(GetLogEnabled());
    E.append_attribute("LogPath") = NativePath(GetLogFileName(true)).c_str();
    return XmlToText(Doc);
}

std::string TCommonDriver::GetAdditionalActions() {
    return ActionsXml([](const TActionDecl&) { return true; });
}

std::string TCommonDriver::ActionsXml(const std::function<bool(const TActionDecl&)>& AListed) const {
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    pugi::xml_node Root = Doc.append_child("Actions");
    for (const TActionDecl* A : ClassDecl().AllActions()) {
        if (!AListed(*A)) continue;
        pugi::xml_node N = Root.append_child("Action");
        N.append_attribute("Name") = A->Name.c_str();
        N.append_attribute("Caption") = A->Caption.c_str();
    }
    return XmlToText(Doc);
}

void TCommonDriver::RunAdditionalAction(const std::string& AName) {
    for (const TActionDecl* A : ClassDecl().AllActions())
        if (A->Name == AName) {
            A->Run(*this);
            return;
        }
    throw std::runtime_error("Action not found");
}

void TCommonDriver::ViewLog() {
    const std::string Directory = GetLogFileName(true);
    TFrWindowRequest R{};
    R.Kind = wkLogView;
    R.Caption = "Просмотр лога";
    R.LogDirectory = Directory.c_str();
    RunServiceWindow(R);
}

void TCommonDriver::ShowHelp() {
    const char* const Source = "help";
    const std::string_view* Package = FindResource(Source);
    if (!Package) throw std::runtime_error(std::string("File not found: ") + Source);
    TFrWindowRequest R{};
    R.Kind = wkHelp;
    R.Caption = "Справка";
    R.HelpPackage = Package->data();
    R.HelpPackageSize = Package->size();
    RunServiceWindow(R);
}

// ------------------------------------------------------------- host methods

void TCommonDriver::HostGetInterfaceRevision(TV8Call& ACall) { ACall.SetResultInt(InterfaceRevision()); }

void TCommonDriver::HostGetDescription(TV8Call& ACall) {
    Exported(ACall, [&] { ACall.SetString(0, GetDescriptionXml()); });
}

void TCommonDriver::HostGetLastError(TV8Call& ACall) {
    ACall.SetResultInt(FLastResult.GetIntResult());
    ACall.SetString(0, FLastResult.ErrorDescription);
}

void TCommonDriver::HostOpen(TV8Call& ACall) {
    Exported(ACall, [&] {
        FDeviceID = CreateGUIDString();
        Open();
        if (!FInSingleSessionMode) ACall.SetString(0, FDeviceID);
    });
}

void TCommonDriver::HostClose(TV8Call& ACall) {
    Exported(ACall, [&] { Close(ACall.GetString(0)); });
}

void TCommonDriver::HostGetParameters(TV8Call& ACall) {
    Exported(ACall, [&] { ACall.SetString(0, GetParametersXml()); });
}

void TCommonDriver::HostSetParameter(TV8Call& ACall) {
    Exported(ACall, [&] { PropertySet(ACall.GetString(0), ACall.Param(1)); });
}

void TCommonDriver::HostDeviceTest(TV8Call& ACall) {
    try {
        std::string Description, DemoMode;
        DeviceTest(Description, DemoMode);
        ACall.SetString(0, Description);
        ACall.SetString(1, DemoMode);
        ReportSuccess(ACall.RetValue());
    } catch (...) {
        const std::string Message = CurrentExceptionMessage();
        HandleException(Message, ACall.RetValue(), 1001);
        try {
            ACall.SetString(0, Message);
        } catch (...) {
            // The failure is recorded already; the text stays in GetLastError.
        }
    }
}

void TCommonDriver::HostGetAdditionalActions(TV8Call& ACall) {
    Exported(ACall, [&] { ACall.SetString(0, GetAdditionalActions()); });
}

void TCommonDriver::HostDoAdditionalAction(TV8Call& ACall) {
    Exported(ACall, [&] { RunAdditionalAction(ACall.GetString(0)); });
}

}  // namespace fr
