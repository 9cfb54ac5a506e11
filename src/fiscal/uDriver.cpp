#include "fiscal/uDriver.h"

#include <stdexcept>

#include "driver/uEquipmentErrors.h"
#include "driver/uStrings.h"
#include "driver/uXmlUtils.h"

namespace fr {

namespace {

// Operations whose device side this build does not carry yet fail with a
// clear message instead of pretending to succeed.
[[noreturn]] void NotAvailable(const char* AOperation) {
    throw std::runtime_error(std::string("Операция «") + AOperation +
                             "» в этой сборке драйвера ещё не реализована");
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

TDriver::TDriver() = default;

TDriver::~TDriver() {
    FDeviceDriverList.clear();
    FDeviceDriver = nullptr;
    try {
        Close("");
    } catch (...) {
    }
}

const TClassDecl& TDriver::Decl() {
    static const TClassDecl D = MakeClassDecl<TDriver>(&TEcrlDriver::Decl(), [](auto& B) {
        using T = TDriver;
        B.template Method<&T::HostGetInterfaceRevision>("GetInterfaceRevision", "ПолучитьРевизиюИнтерфейса", 0);

        DeclareSettings(B, &T::FSettings);
        B.Prop("MteDriver", "Mte драйвер", "Mte драйвер", "false", false, &T::GetMteDriver, &T::SetMteDriver);

        B.template Action<&T::GetKKTParams>("GetKKTParams", "Параметры и состояние ККТ");
    });
    return D;
}

void TDriver::HostGetInterfaceRevision(TV8Call& ACall) { ACall.SetResultInt(3004); }

// ----------------------------------------------------------------- sessions

void TDriver::SelectDevice(const std::string& ADeviceID) {
    if (SingleSessionMode) {
        TCommonDriver::SelectDevice(ADeviceID);
        return;
    }
    const bool Empty = Trim(ADeviceID).empty();
    const auto It = FDeviceDriverList.find(ADeviceID);
    if (!Empty && It == FDeviceDriverList.end())
        throw std::runtime_error("Экземпляр устройства c идентификатором " + ADeviceID +
                                 " не существует или уже был отключен");
    if (Empty) throw std::runtime_error("Не передан идентификатор устройства");
    FDeviceDriver = It->second.get();
}

void TDriver::Open() { NotAvailable("Подключить"); }

void TDriver::Close(const std::string& ADeviceID) {
    if (SingleSessionMode) {
        FSingleSession.reset();
        FDeviceDriver = nullptr;
    } else {
        const auto It = FDeviceDriverList.find(ADeviceID);
        FDeviceDriver = nullptr;
        if (It != FDeviceDriverList.end()) FDeviceDriverList.erase(It);
    }
    TCommonDriver::Close(ADeviceID);
}

void TDriver::DeviceTest(std::string&, std::string&) { NotAvailable("ТестУстройства"); }

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

void TDriver::GetKKTParams() { NotAvailable("Параметры и состояние ККТ"); }

// ------------------------------------------------------- fiscal operations

void TDriver::GetDataKKT(pugi::xml_document&) { NotAvailable("ПолучитьПараметрыККТ"); }
void TDriver::OperationFN(uint8_t, pugi::xml_document&) { NotAvailable("ОперацияФН"); }
void TDriver::OpenShift(pugi::xml_document&, pugi::xml_document&) { NotAvailable("ОткрытьСмену"); }
void TDriver::CloseShift(pugi::xml_document&, pugi::xml_document&) { NotAvailable("ЗакрытьСмену"); }
void TDriver::ProcessCheck(bool, pugi::xml_document&, pugi::xml_document&, bool) {
    NotAvailable("СформироватьЧек");
}
void TDriver::ProcessCorrectionCheck(pugi::xml_document&, pugi::xml_document&) {
    NotAvailable("СформироватьЧекКоррекции");
}
void TDriver::PrintTextDocument(pugi::xml_document&) { NotAvailable("НапечататьТекстовыйДокумент"); }
void TDriver::CashInOutcome(pugi::xml_document&, TCurrency) { NotAvailable("НапечататьЧекВнесенияВыемки"); }
void TDriver::PrintXReport(pugi::xml_document&) { NotAvailable("НапечататьОтчетБезГашения"); }
void TDriver::GetCurrentStatus(pugi::xml_document&, pugi::xml_document&) { NotAvailable("ПолучитьТекущееСостояние"); }
void TDriver::ReportCurrentStatusOfSettlements(pugi::xml_document&, pugi::xml_document&) {
    NotAvailable("ОтчетОТекущемСостоянииРасчетов");
}
void TDriver::OpenCashDrawer() { NotAvailable("ОткрытьДенежныйЯщик"); }
int32_t TDriver::GetLineLength() { NotAvailable("ПолучитьШиринуСтроки"); }
void TDriver::PrintCheckCopy(const std::string&) { NotAvailable("НапечататьКопиюЧека"); }
void TDriver::OpenSessionRegistrationKM() { NotAvailable("ОткрытьСессиюРегистрацииКМ"); }
void TDriver::CloseSessionRegistrationKM() { NotAvailable("ЗакрытьСессиюРегистрацииКМ"); }
void TDriver::RequestKM(pugi::xml_document&, pugi::xml_document&) { NotAvailable("ЗапросКМ"); }
void TDriver::GetProcessingKMResult(pugi::xml_document&, int32_t&) { NotAvailable("ПолучитьРезультатыЗапросаКМ"); }
void TDriver::ConfirmKM(const std::string&, int32_t) { NotAvailable("ПодтвердитьКМ"); }
void TDriver::SetDateTime(const std::string&) { NotAvailable("УстановитьДатуВремя"); }
std::string TDriver::GetDateTime() { NotAvailable("ПолучитьДатуВремя"); }
void TDriver::GetDocumentInformation(int32_t, pugi::xml_document&) { NotAvailable("ПолучитьИнформациюПоДокументу"); }

}  // namespace fr
