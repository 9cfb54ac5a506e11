// Shift, report and registration commands.
#include <stdexcept>

#include "base/uEquipmentErrors.h"
#include "device/uDevice.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"
#include "log/uLog.h"

namespace fr {

void TDevice::RaiseCommandError(const char* AFailText, int32_t ACode) {
    const std::string Message = std::string(AFailText) + ". " + GetDeviceErrorDescription(ACode);
    WriteLog("TDevice", Message, llError);
    RaiseDeviceError(ACode, Message);
}

int32_t TDevice::ExecuteAllowing(uint16_t ACode, const std::string& AData, const char* AFailText, int32_t AAlsoSuccess,
                                 int32_t ATimeout) {
    const int32_t Code = CheckResultCode(RunCommand(CommandCode(ACode), AData, ATimeout, true, true));
    if (Code != 0 && Code != AAlsoSuccess) RaiseCommandError(AFailText, Code);
    return Code;
}

void TDevice::BeginWithCashier(uint16_t ABeginCode, const char* AFailText, const std::string& ACashierName,
                               const std::string& ACashierVATIN) {
    // Without a cashier the device forms the document with its own operator,
    // so neither the begin command nor an INN alone is sent.
    if (ACashierName.empty()) return;
    Execute(ABeginCode, {}, AFailText);
    SetFNRequisite(1021, ACashierName);
    if (!ACashierVATIN.empty()) SetFNRequisite(1203, ACashierVATIN);
}

void TDevice::OpenDay(const std::string& ACashierName, const std::string& ACashierVATIN) {
    BeginWithCashier(0xFF41, "Ошибка команды начала открытия смены", ACashierName, ACashierVATIN);
    WaitForEndPrinting();
    Execute(0xE0, {}, "Ошибка команды открытия смены", 20000);
}

void TDevice::XReport() {
    WaitForEndPrinting();
    Execute(0x40, {}, "Ошибка команды снятия X-отчета");
}

void TDevice::ZReport(const std::string& ACashierName, const std::string& ACashierVATIN) {
    BeginWithCashier(0xFF42, "Ошибка команды начала закрытия смены", ACashierName, ACashierVATIN);
    WaitForEndPrinting();
    Execute(0x41, {}, "Ошибка команды формирования суточного отчета с гашением", 40000);
}

void TDevice::CalculationStateReport(const std::string& ACashierName, const std::string& ACashierVATIN) {
    BeginWithCashier(0xFF37, "Ошибка команды начала формирования отчета о состоянии расчетов", ACashierName,
                     ACashierVATIN);
    WaitForEndPrinting();
    ExecuteAllowing(0xFF38, {}, "Ошибка команды формирования отчета о состоянии расчетов", 80);
}

void TDevice::GetCurrentSessionParams(uint8_t& AFNSessionState, int64_t& ASessionNumber, int64_t& AReceiptNumber) {
    WaitForEndPrinting();
    using L = TSessionParamsLayout;
    Execute(0xFF40, {}, "Ошибка команды запроса параметров смены");
    NeedLength(L::Size);
    AFNSessionState = AnswerByte(L::State);
    ASessionNumber = int64_t(AnswerLE(L::Session, L::NumberSize));
    AReceiptNumber = int64_t(AnswerLE(L::Receipt, L::NumberSize));
}

void TDevice::IsDayOpened(uint8_t& AState) {
    uint8_t State = 0, Mode = 0;
    int64_t Session = 0, Receipt = 0;
    GetCurrentSessionParams(State, Session, Receipt);
    GetStateKKT(Mode);
    if (Mode == 3) State = 2;
    if (State <= 2) AState = State;
}

void TDevice::FNBeginRegistrationReport(uint8_t ATypeReport) {
    WaitForEndPrinting();
    Execute(0xFF05, std::string(1, char(ATypeReport)), "Ошибка команды начала формирования отчета о регистрации");
}

void TDevice::FNBuildRegistrationReport(const std::string& AUserINN, const std::string& ARegNumber, uint8_t ATaxVariant,
                                        uint8_t AMode) {
    WaitForEndPrinting();
    Execute(0xFF06, AUserINN + ARegNumber + char(ATaxVariant) + char(AMode),
            "Ошибка команды формирования отчета о регистрации", 5000);
}

void TDevice::FNBuildReregistrationReport(const std::string& AUserINN, const std::string& ARegNumber,
                                          uint8_t ATaxVariant, uint8_t AMode, uint8_t AReasonCode) {
    WaitForEndPrinting();
    Execute(0xFF34, AUserINN + ARegNumber + char(ATaxVariant) + char(AMode) + char(AReasonCode),
            "Ошибка команды формирования отчета о перерегистрации", 5000);
}

void TDevice::FNClose() {
    WaitForEndPrinting();
    Execute(0xFF3E, {}, "Ошибка команды закрытия ФН", 2000);
}

}  // namespace fr
