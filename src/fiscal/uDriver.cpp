#include "fiscal/uDriver.h"

#include <cstdint>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uXmlUtils.h"
#include "log/uLog.h"

namespace fr {

namespace {

// A setting that reaches a field of fixed size is refused when it does not
// fit, instead of reaching the device cut to the field.
void CheckSettingRange(const char* AName, const char* ACaption, int64_t AValue, int64_t AMin, int64_t AMax) {
    if (AValue >= AMin && AValue <= AMax) return;
    throw std::runtime_error(std::string("Недопустимое значение параметра «") + ACaption + "» (" + AName +
                             "): " + std::to_string(AValue) + ". Допустимо от " + std::to_string(AMin) + " до " +
                             std::to_string(AMax));
}

// FeedCount needs no check: the device object keeps 0 for a count outside
// one byte.
void CheckSessionSettings(const TDriverSettings& S) {
    if (S.MaxReceiptRowLength > 255)
        throw std::runtime_error("Недопустимое значение параметра «Длина строки» (MaxReceiptRowLength): " +
                                 std::to_string(S.MaxReceiptRowLength) +
                                 ". Допустимо не больше 255; 0 и меньше — длина строки ККТ");
    CheckSettingRange("ConnectPwd", "Пароль связи", S.ConnectPwd, 0, INT32_MAX);
    if (S.PortNumber == 9999) CheckSettingRange("IPPort", "IP порт", S.IPPort, 1, 65535);
    CheckSettingRange("EnablePrinting", "Включить печать", S.EnablePrinting, 0, 255);
    CheckSettingRange("EnableReportPrinting", "Включить печать отчетов", S.EnableReportPrinting, 0, 255);
    CheckSettingRange("ReceiptFontNumber", "Номер шрифта чека", S.ReceiptFontNumber, 0, 255);
}

}  // namespace

const TClassDecl& TDeviceDriver::Decl() {
    static const TClassDecl D = MakeClassDecl<TDeviceDriver>(nullptr, [](auto& B) {
        using T = TDeviceDriver;
        DeclareSettings(B, &T::FSettings);
        B.Prop("MteDriver", "Mte драйвер", "Mte драйвер", "false", false, &T::FMteDriver);
        B.Prop("LogEnabled", "ЛогВключен", "Вести лог", "False", false, &T::FLogEnabled);
    });
    return D;
}

TDevice& TDeviceDriver::GetDevice() const {
    if (!FDevice) throw std::runtime_error("Устройство не включено");
    return *FDevice;
}

TDriver::TDriver() = default;

TDriver::~TDriver() {
    for (const auto& [ID, Session] : FDeviceDriverList) DeviceLogFlags().Remove(ID);
    FDeviceDriverList.clear();
    FDeviceDriver = nullptr;
    try {
        Close("");
    } catch (...) {
    }
}

const TClassDecl& TDriver::Decl() {
    static const TClassDecl D = MakeClassDecl<TDriver>(&TEcrDriver::Decl(), [](auto& B) {
        using T = TDriver;
        B.template Method<&T::HostGetInterfaceRevision>("GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0);

        DeclareSettings(B, &T::FSettings);
        B.Prop("MteDriver", "Mte драйвер", "Mte драйвер", "false", false, &T::GetMteDriver, &T::SetMteDriver);

        B.template Action<&T::GetKKTParams>("GetKKTParams", "Параметры и состояние ККТ");
    });
    return D;
}

void TDriver::HostGetInterfaceRevision(TV8Call& ACall) {
    ACall.SetResultInt(3004);
}

// ----------------------------------------------------------------- sessions

void TDriver::SelectDevice(const std::string& ADeviceID) {
    const auto It = FDeviceDriverList.find(ADeviceID);
    if (FInSingleSessionMode) {
        // The one session serves any identifier, except one that names a
        // session this object opened before it went into single-session mode.
        if (It != FDeviceDriverList.end()) {
            FDeviceDriver = It->second.get();
            return;
        }
        TCommonDriver::SelectDevice(ADeviceID);
        FDeviceDriver = FSingleSession.get();
        return;
    }
    const bool Empty = Trim(ADeviceID).empty();
    if (!Empty && It == FDeviceDriverList.end())
        throw std::runtime_error("Экземпляр устройства c идентификатором " + ADeviceID +
                                 " не существует или уже был отключен");
    if (Empty) throw std::runtime_error("Не передан идентификатор устройства");
    FDeviceDriver = It->second.get();
}

std::unique_ptr<TDeviceDriver> TDriver::NewSession() {
    return std::make_unique<TDeviceDriver>();
}

TDeviceDriver& TDriver::Session() const {
    if (!FDeviceDriver) throw std::runtime_error("Устройство не включено");
    return *FDeviceDriver;
}

void TDriver::Open() {
    std::unique_ptr<TDeviceDriver> Created;
    if (FMteDriver) {
        // The process-wide flag tells the call log; the mode itself belongs to
        // this object, so other driver objects keep their identifiers.
        SingleSessionMode = true;
        FInSingleSessionMode = true;
        if (!FSingleSession) FSingleSession = NewSession();
        FDeviceDriver = FSingleSession.get();
    } else {
        Created = NewSession();
        FDeviceDriver = Created.get();
    }
    TDeviceDriver& S = *FDeviceDriver;
    uint8_t AutoCut = 0;
    try {
        for (const TPropDecl* P : ClassDecl().AllProps()) CopyPropertyTo(*P, GetPropertyValue(*P), S);
        SetLogMode(S.FLogEnabled ? lmAll : lmOff);
        CheckSessionSettings(S.FSettings);
        AutoCut = ConnectSession(S);
    } catch (...) {
        // A failed Open leaves no session behind (freeing it closes the port)
        // and no log flag for an identifier the host never gets.
        FDeviceDriver = nullptr;
        if (FMteDriver) FSingleSession.reset();
        if (!FDeviceID.empty()) DeviceLogFlags().Remove(FDeviceID);
        throw;
    }
    S.FAutoCut = AutoCut != 0;
    TCommonDriver::Open();
    if (FInSingleSessionMode) {
        // A session opened without MteDriver after this object went into
        // single-session mode becomes its one session, instead of being freed
        // with the local pointer.
        if (Created) FSingleSession = std::move(Created);
        // The host gets no identifier in this mode: its log flag would only
        // stay behind.
        if (!FDeviceID.empty()) DeviceLogFlags().Remove(FDeviceID);
        return;
    }
    PropertiesSetDefault();
    // A second session under a key already taken (only the empty key of
    // DeviceTest can repeat) replaces the first: keeping the old one would
    // leave FDeviceDriver pointing at a freed session.
    FDeviceDriverList.insert_or_assign(FDeviceID, std::move(Created));
}

// The session's device: created (kept in single-session mode), connected,
// its settings written and read, the format version read. The value of the
// auto-cut field is returned.
uint8_t TDriver::ConnectSession(TDeviceDriver& S) {
    const bool IsTCP = S.FSettings.PortNumber == 9999;
    if (!FInSingleSessionMode || !S.FDevice) {
        if (IsTCP)
            S.FDevice = std::make_unique<TSocketDevice>();
        else
            S.FDevice = std::make_unique<TComDevice>();
    }
    TDevice& D = *S.FDevice;
    D.SetConnectPwd(IntToLEBytesN(uint32_t(S.FSettings.ConnectPwd), 4));
    uint8_t AutoCut = 0;
    try {
        const int32_t R = IsTCP ? D.Enable(S.FSettings.IPAddress, S.FSettings.IPPort)
                                : D.Enable(S.FSettings.PortNumber, S.FSettings.BaudRate);
        if (R != 0) RaiseDeviceError(R, "Ошибка соединения с ККТ");
        D.SetConnectionType(IsTCP ? 1 : 0);

        D.SetFeedCount(S.FSettings.FeedCount);
        D.SetDisableCut(S.FSettings.DisableCut);
        S.FCutMarker = UpperCase(S.FSettings.CutString);
        try {
            D.SetFieldAsByte(17, 1, 41, S.FSettings.ReceiveAllKT ? 2 : 0);
        } catch (...) {
            // Devices without this field still open.
        }
        D.SetFieldAsByte(1, 1, 14, 0);
        D.GetFieldAsByte(PrintSwitchCell, S.FInitPrintSetting);
        D.GetFieldAsByte(1, 1, 7, AutoCut);
        S.FLineLen = GetLineLength();
        ConnectTCP();
        PrepareDevice();
        S.FFFDVersion = D.GetFFD();
        D.SetFFDVersion(S.FFFDVersion);
    } catch (...) {
        DisconnectTCP();
        throw;
    }
    DisconnectTCP();
    return AutoCut;
}

void TDriver::Close(const std::string& ADeviceID) {
    const auto It = FDeviceDriverList.find(ADeviceID);
    if (FInSingleSessionMode && It != FDeviceDriverList.end()) {
        // A session from before single-session mode ends alone; the one
        // session stays open and selected.
        FDeviceDriverList.erase(It);
        FDeviceDriver = FSingleSession.get();
        DeviceLogFlags().Remove(ADeviceID);
        return;
    }
    FDeviceDriver = nullptr;
    if (FInSingleSessionMode)
        FSingleSession.reset();
    else if (It != FDeviceDriverList.end())
        FDeviceDriverList.erase(It);
    TCommonDriver::Close(ADeviceID);
}

void TDriver::DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated) {
    ADescription.clear();
    ADemoModeIsActivated.clear();
    const bool OpenHere = !FInSingleSessionMode || !FEnabled;
    // The test session is filed under the empty identifier, so that it never
    // takes the place of a session the host opened, and Close("") ends it.
    const std::string SavedID = FDeviceID;
    FDeviceID.clear();
    struct TRestoreID {
        std::string& ID;
        std::string Saved;
        ~TRestoreID() { ID = Saved; }
    } RestoreID{FDeviceID, SavedID};
    if (OpenHere) Open();
    try {
        WithTCP([&] {
            TDevice& D = Device();
            D.Beep();
            std::string Serial;
            D.GetFieldAsStr(18, 1, 1, Serial);
            Serial = AnsiToUtf8(Serial.substr(0, 16));
            const bool Fiscal = IsFiscalModeOpen();
            uint8_t Version = 0, Subversion = 0, Lng = 0, Model = 0;
            std::string ModelName;
            D.GetDeviceType(Version, Subversion, Lng, Model, ModelName);
            ADescription = ModelName + ", № " + Trim(Serial) + ", " + (Fiscal ? "ФИСК" : "НЕ ФИСК");
            SetPrintSwitch(DocumentPrintSwitch());
            D.PrintString(Utf8ToAnsi(ADescription));
            CutReceipt(false, false, D.FeedCount());
        });
    } catch (...) {
        if (!FInSingleSessionMode || FEnabled) Close("");
        throw;
    }
    if (!FInSingleSessionMode || FEnabled) Close("");
}

// ---------------------------------------------------------- session helpers

void TDriver::ConnectTCP() {
    TDeviceDriver& S = Session();
    if (!S.HasDevice() || S.FDevice->ConnectionType() != 1) return;
    DisconnectTCP();
    // A dead link shows up as the failure of the first command.
    S.FDevice->Enable(S.FSettings.IPAddress, S.FSettings.IPPort);
}

void TDriver::DisconnectTCP() {
    if (FDeviceDriver && FDeviceDriver->HasDevice() && FDeviceDriver->FDevice->ConnectionType() == 1)
        FDeviceDriver->FDevice->Disable();
}

bool TDriver::IsPrintingEnabled() {
    uint8_t V = 0;
    Device().GetFieldAsByte(PrintSwitchCell, V);
    return V == 0;
}

void TDriver::CutReceipt(bool ASkip, bool ARespectAutoCut, int32_t AMode) {
    TDeviceDriver& S = Session();
    if ((ARespectAutoCut && S.FAutoCut) || ASkip || !IsPrintingEnabled()) return;
    if (AMode == -1)
        Device().Cut(false);
    else
        Device().FeedAndCut(Device().FeedCount());  // 0 to 255: the device object keeps 0 otherwise
}

void TDriver::PrepareDevice() {
    TDevice& D = Device();
    D.PrintPrevDoc();
    D.WaitForEndPrinting();
    D.CancelReceipt();
}

bool TDriver::IsFiscalModeOpen() {
    TFNCurrentStatus Status;
    Device().GetFNCurrentStatus(Status);
    return (Status.FNLifeState & 0x02) != 0;
}

void TDriver::CheckShift(bool AMustBeClosed) {
    uint8_t State = 0;
    Device().IsDayOpened(State);
    if (AMustBeClosed && State == 1) RaiseEquError(3015);
    if (!AMustBeClosed && State == 0) RaiseEquError(3005);
    if (State == 2) RaiseEquError(3002);
}

void TDriver::ReadCashier(const pugi::xml_document& AInputParameters) {
    TDeviceDriver& S = Session();
    const pugi::xml_node P = AInputParameters.document_element().child("Parameters");
    S.FCashierName = P.attribute("CashierName").value();
    S.FCashierINN = CheckCashierINN(P.attribute("CashierINN").value());
}

std::string TDriver::CheckCashierINN(const std::string& AValue) {
    std::string V = Trim(AValue);
    if (!V.empty() && Utf8Length(V) != 12) throw EquException(3026, "Длина ИНН кассира не равна 12");
    if (!V.empty() && V.find_first_not_of("0123456789") != std::string::npos) RaiseEquError(3026);
    return V;
}

std::string TDriver::NormalizeINN(const std::string& AValue) {
    std::string V = Trim(AValue);
    // A 10-digit company INN goes into a 12-character field.
    if (Utf8Length(V) == 10) V += "  ";
    return V;
}

void TDriver::SetPrintSwitch(uint8_t AValue) {
    Device().SetFieldAsByte(PrintSwitchCell, AValue);
}

uint8_t TDriver::DocumentPrintSwitch() const {
    return Session().FSettings.EnablePrinting == 2 ? PrintSwitchOff : PrintSwitchOn;
}

uint8_t TDriver::ReportPrintSwitch() const {
    return Session().FSettings.EnableReportPrinting == 2 ? PrintSwitchOff : PrintSwitchOn;
}

TPrintSwitch::~TPrintSwitch() {
    if (FRestored) return;
    try {
        Restore();
    } catch (const std::exception& E) {
        WriteLog("TDriver", std::string("Настройка печати не восстановлена: ") + E.what(), llError);
    } catch (...) {
        WriteLog("TDriver", "Настройка печати не восстановлена", llError);
    }
}

void TPrintSwitch::Restore() {
    // Tried once: a second try after a failure would only repeat it.
    FRestored = true;
    FDriver.SetPrintSwitch(FDriver.Session().FInitPrintSetting);
}

std::string TDriver::GetAdditionalActions() {
    // Listed only while MteDriver is set (as currently set, not a session's copy).
    static const char* const HiddenUnlessMte[] = {"GetKKTParams"};
    return ActionsXml([this](const TActionDecl& A) {
        if (FMteDriver) return true;
        for (const char* H : HiddenUnlessMte)
            if (SameText(A.Name, H)) return false;
        return true;
    });
}

// ------------------------------------------------------- fiscal operations

}  // namespace fr
