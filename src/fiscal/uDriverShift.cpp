// Shifts, status and reports: opening and closing the shift, the X report,
// the report on the state of settlements, the current status, the copy of
// the last document, the cash drawer, the line length and the clock.
#include <exception>
#include <iterator>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uXmlUtils.h"
#include "device/uTLVStructure.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {

namespace {

// Flags of FillOutputParameters.
enum : uint32_t {
    ofShiftNumber = 0x1,
    ofCheckNumber = 0x2,
    ofShiftClosingCheckNumber = 0x4,
    ofDateTime = 0x8,
    ofShiftState = 0x10,
    ofCountersSales = 0x20,
    ofCountersReturns = 0x40,
    ofBacklogCount = 0x200,
    ofCashBalance = 0x400,
    ofBacklogFirstNumber = 0x800,
    ofBacklogFirstDateTime = 0x1000,
    ofFNError = 0x2000,
    ofFNOverflow = 0x4000,
    ofFNFail = 0x8000,
    ofPayments = 0x10000,
    ofCashInOut = 0x20000,
    ofDeviceState = 0x40000,
};
constexpr uint32_t ofFNWarnings = ofFNError | ofFNOverflow | ofFNFail;
constexpr uint32_t ofCounters = ofCountersSales | ofCountersReturns;
constexpr uint32_t ofBacklog = ofBacklogCount | ofBacklogFirstNumber | ofBacklogFirstDateTime;

// The masks of the methods. Payments takes its amounts from the counter
// reads, so it always comes with both counters.
constexpr uint32_t OpenShiftOutput = ofShiftNumber | ofDateTime | ofShiftState | ofFNWarnings;
constexpr uint32_t CloseShiftOutput =
    ofShiftNumber | ofDateTime | ofShiftState | ofCounters | ofBacklog | ofCashBalance | ofFNWarnings;
constexpr uint32_t StatusOutput = ofShiftNumber | ofCheckNumber | ofShiftClosingCheckNumber | ofShiftState | ofBacklog |
                                  ofCashBalance | ofDeviceState;
constexpr uint32_t StatusWithCountersOutput = StatusOutput | ofCounters | ofCashInOut | ofPayments;
constexpr uint32_t SettlementsReportOutput = ofShiftState | ofCounters | ofBacklog | ofCashBalance;
// Reads of the shift state after a shift command whose answer was lost.
constexpr int ShiftReadAttempts = 3;
// The storage's type of the report on the current state of settlements.
constexpr int32_t SettlementsReportDocument = 21;

void SetAttr(pugi::xml_node N, const char* AName, const std::string& AValue) {
    N.append_attribute(AName) = AValue.c_str();
}

// Money registers of sales and sale returns by payment kind: cash,
// non-cash, prepaid, credit, counter-provision.
struct TPaymentKind {
    const char* Name;
    int32_t Sell, SellReturn;
};
constexpr TPaymentKind PaymentKinds[] = {
    {"Cash", 193, 195}, {"NonCash", 197, 199}, {"Prepaid", 4180, 4182}, {"Credit", 4184, 4186}, {"Barter", 4188, 4190}};
constexpr size_t PaymentKindCount = std::size(PaymentKinds);

// What the writers of the output document share: the reads every mask
// makes, the two nodes written to and the amounts the counters read.
struct TOutputContext {
    TOutputContext(TDevice& AD, TDeviceDriver& ASession) : D(AD), Session(ASession) {}
    TDevice& D;
    TDeviceDriver& Session;
    TFNCurrentStatus FN;
    int32_t BacklogCount = 0;
    int64_t BacklogFirstNumber = 0, BacklogFirstDateTime = 0;
    uint8_t FNShiftState = 0;
    int64_t ShiftNumber = 0, ReceiptNumber = 0;
    pugi::xml_node Out, P;
    double Sell[PaymentKindCount] = {}, Return[PaymentKindCount] = {};
};

double ReadMoneyRegister(TDevice& D, int32_t ARegister) {
    double V = 0;
    if (ARegister < 256)
        D.GetCashReg(uint8_t(ARegister), V);
    else
        D.GetCashKReg(ARegister, V);
    return V;
}

void WriteCounter(TOutputContext& C, const char* AElement, uint8_t AOperationRegister, bool AReturns) {
    int32_t Count = 0;
    C.D.GetOperationRegAsInt(AOperationRegister, Count);
    double Total = 0;
    for (size_t I = 0; I < PaymentKindCount; ++I) {
        double& V = AReturns ? C.Return[I] : C.Sell[I];
        V = ReadMoneyRegister(C.D, AReturns ? PaymentKinds[I].SellReturn : PaymentKinds[I].Sell);
        Total += V;
    }
    pugi::xml_node N = C.P.append_child(AElement);
    SetAttr(N, "CheckCount", std::to_string(Count));
    SetAttr(N, "TotalChecksAmount", FormatDouble(Total));
}

void WriteCashMovement(TOutputContext& C, const char* AElement, uint8_t AOperationRegister, uint8_t AMoneyRegister) {
    int32_t Count = 0;
    C.D.GetOperationRegAsInt(AOperationRegister, Count);
    double Amount = 0;
    C.D.GetCashReg(AMoneyRegister, Amount);
    pugi::xml_node N = C.P.append_child(AElement);
    SetAttr(N, "Count", std::to_string(Count));
    SetAttr(N, "TotalAmount", FormatDouble(Amount));
}

// The parts of the output document in the order they are written; each
// makes the device reads it needs only when its flag is in the mask.
struct TOutputPart {
    uint32_t Flag;
    void (*Write)(TOutputContext& C);
};
const TOutputPart OutputParts[] = {
    {ofFNError, [](TOutputContext& C) { SetAttr(C.P, "FNError", XmlBool(C.FN.FNWarningFlags & 0x01)); }},
    {ofFNFail, [](TOutputContext& C) { SetAttr(C.P, "FNFail", XmlBool(C.FN.FNWarningFlags & 0x02)); }},
    {ofFNOverflow, [](TOutputContext& C) { SetAttr(C.P, "FNOverflow", XmlBool(C.FN.FNWarningFlags & 0x04)); }},
    {ofCashBalance, [](TOutputContext& C) { SetAttr(C.P, "CashBalance", FormatDouble(ReadMoneyRegister(C.D, 241))); }},
    {ofDeviceState,
     [](TOutputContext& C) {
         std::string Flags;
         uint8_t Mode = 0, Submode = 0;
         C.D.GetECRState(Flags, Mode, Submode);
         const uint8_t F0 = Flags.size() > 0 ? uint8_t(Flags[0]) : 0;
         const uint8_t F1 = Flags.size() > 1 ? uint8_t(Flags[1]) : 0;
         // Receipt tape: both paper sensors set is in order, one is running out.
         const int Paper = ((F0 >> 1) & 1) + ((F0 >> 7) & 1);
         SetAttr(C.P, "RecState", std::to_string(2 - Paper));
         SetAttr(C.P, "DrawerState", (F1 & 0x08) ? "1" : "0");
         SetAttr(C.P, "CoverOpen", (F1 & 0x04) ? "1" : "0");
     }},
    {ofShiftNumber, [](TOutputContext& C) { SetAttr(C.P, "ShiftNumber", std::to_string(C.ShiftNumber)); }},
    {ofCheckNumber, [](TOutputContext& C) { SetAttr(C.P, "CheckNumber", std::to_string(C.FN.DocumentNumber)); }},
    {ofShiftClosingCheckNumber,
     [](TOutputContext& C) { SetAttr(C.P, "ShiftClosingCheckNumber", std::to_string(C.ReceiptNumber)); }},
    {ofDateTime,
     [](TOutputContext& C) {
         C.D.GetDateTimeKKT(C.Session.FDateTime);
         SetAttr(C.P, "DateTime", UnixTimeToXmlDateTime(C.Session.FDateTime));
     }},
    {ofShiftState, [](TOutputContext& C) { SetAttr(C.P, "ShiftState", std::to_string(C.FNShiftState + 1)); }},
    {ofBacklogCount,
     [](TOutputContext& C) { SetAttr(C.P, "BacklogDocumentsCounter", std::to_string(C.BacklogCount)); }},
    {ofBacklogFirstNumber,
     [](TOutputContext& C) { SetAttr(C.P, "BacklogDocumentFirstNumber", std::to_string(C.BacklogFirstNumber)); }},
    {ofBacklogFirstDateTime,
     [](TOutputContext& C) {
         SetAttr(C.P, "BacklogDocumentFirstDateTime", UnixTimeToXmlDateTime(C.BacklogFirstDateTime));
     }},
    {ofCountersSales, [](TOutputContext& C) { WriteCounter(C, "CountersOperationType1", 144, false); }},
    {ofCountersReturns, [](TOutputContext& C) { WriteCounter(C, "CountersOperationType2", 146, true); }},
    {ofCashInOut,
     [](TOutputContext& C) {
         WriteCashMovement(C, "CashIn", 153, 242);
         WriteCashMovement(C, "CashOut", 154, 243);
     }},
    {ofPayments,
     [](TOutputContext& C) {
         pugi::xml_node Payments = C.Out.append_child("Payments");
         for (size_t I = 0; I < PaymentKindCount; ++I) {
             pugi::xml_node K = Payments.append_child(PaymentKinds[I].Name);
             SetAttr(K, "Sell", FormatDouble(C.Sell[I]));
             SetAttr(K, "SellReturn", FormatDouble(C.Return[I]));
         }
     }},
};

}  // namespace

void TDriver::FillOutputParameters(pugi::xml_document& AOutputParameters, uint32_t AMask) {
    TOutputContext C(Device(), Session());
    C.D.GetFNCurrentStatus(C.FN);
    C.D.GetFNInfoExchangeStatus(C.BacklogCount, C.BacklogFirstNumber, C.BacklogFirstDateTime);
    C.D.GetCurrentSessionParams(C.FNShiftState, C.ShiftNumber, C.ReceiptNumber);
    C.Out = AOutputParameters.append_child("OutputParameters");
    C.P = C.Out.append_child("Parameters");
    for (const TOutputPart& Part : OutputParts)
        if (AMask & Part.Flag) Part.Write(C);
}

void TDriver::OpenShift(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithReportBracket(false, [&] {
        TDevice& D = Device();
        uint8_t State = 0;
        int64_t Number = 0, Receipt = 0;
        D.GetCurrentSessionParams(State, Number, Receipt);
        CheckShift(true);
        ReadCashier(AIn);
        PrepareDevice();
        try {
            D.OpenDay(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Открытие смены не подтверждено: ") + E.what(), llError);
            if (!ShiftStateIs(true)) throw;
        }
        FinishStoredDocument(
            AOut, [&] { FillOutputParameters(AOut, OpenShiftOutput); },
            "Документ смены сформирован; печать или отрезка не завершены: ",
            "Документ смены сформирован ККТ, но его параметры не получены: ");
    });
}

void TDriver::CloseShift(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    // Once the shift is closed, a failed restore of the print setting is
    // only logged: the report is made and must not be reported as failed.
    WithReportBracket(false, [&] {
        TDevice& D = Device();
        uint8_t State = 0;
        D.IsDayOpened(State);
        if (State == 0) RaiseEquError(3005);
        ReadCashier(AIn);
        PrepareDevice();
        try {
            D.ZReport(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Закрытие смены не подтверждено: ") + E.what(), llError);
            if (!ShiftStateIs(false)) throw;
        }
        FinishStoredDocument(
            AOut, [&] { FillOutputParameters(AOut, CloseShiftOutput); },
            "Документ смены сформирован; печать или отрезка не завершены: ",
            "Документ смены сформирован ККТ, но его параметры не получены: ");
    });
}

bool TDriver::ShiftStateIs(bool AOpen) {
    for (int Attempt = 0; Attempt < ShiftReadAttempts; ++Attempt) {
        try {
            Reconnect();
            uint8_t State = 0;
            Device().IsDayOpened(State);
            const bool Done = (State != 0) == AOpen;
            if (Done) WriteLog("TDriver", "Смена изменена ККТ, ответ на команду был потерян", llInfo);
            return Done;
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Состояние смены не прочитано: ") + E.what(), llError);
        }
    }
    return false;
}

void TDriver::PrintXReport(pugi::xml_document& AIn) {
    WithReportBracket(true, [&] {
        PrepareDevice();
        ReadCashier(AIn);  // the INN is checked though the report does not carry it
        Device().XReport();
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    });
}

void TDriver::ReportCurrentStatusOfSettlements(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    // The report is a fiscal document: once stored, as with the shift
    // documents, a failed restore of the print setting is only logged.
    WithReportBracket(false, [&] {
        ReadCashier(AIn);
        PrepareDevice();
        TDevice& D = Device();
        // The storage's last document before the report tells a lost answer
        // from a refused command.
        TFNCurrentStatus Before;
        D.GetFNCurrentStatus(Before);
        try {
            D.CalculationStateReport(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Отчёт о текущем состоянии расчётов не подтверждён: ") + E.what(), llError);
            if (!StoredDocumentIs(Before.DocumentNumber, SettlementsReportDocument)) throw;
        }
        FinishStoredDocument(
            AOut, [&] { FillOutputParameters(AOut, SettlementsReportOutput); },
            "Отчёт о текущем состоянии расчётов сформирован; печать или отрезка не завершены: ",
            "Отчёт о текущем состоянии расчётов сформирован ККТ, но его параметры не получены: ");
    });
}

bool TDriver::StoredDocumentIs(int64_t ADocumentBefore, int32_t AType) {
    return NewStoredDocument(
        ADocumentBefore,
        [&](int64_t ANumber, int32_t AStoredType) -> std::optional<bool> {
            if (AStoredType != AType) return false;
            WriteLog("TDriver",
                     "Документ " + std::to_string(ANumber) + " сформирован ККТ, ответ на команду был потерян", llInfo);
            return true;
        },
        "Состояние ФН не прочитано: ");
}

void TDriver::GetCurrentStatus(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithTCP([&] {
        const pugi::xml_attribute A = AIn.document_element().child("Parameters").attribute("GetCounters");
        const bool Counters = A ? VarToBoolDef(TValue(std::string(A.value())), false) : false;
        FillOutputParameters(AOut, Counters ? StatusWithCountersOutput : StatusOutput);
    });
}

void TDriver::PrintCheckCopy(const std::string& ACheckNumber) {
    const int64_t Number = ParseInt(ACheckNumber).value_or(-1);
    if (Number > 0 || Number == -1)
        throw std::runtime_error("Печать по номеру документа не поддерживается устройством");
    WithReportBracket(true, [&] {
        PrepareDevice();
        Device().PrintDocCopy();
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    });
}

void TDriver::OpenCashDrawer() {
    WithTCP([&] { Device().OpenDrawer(); });
}

int32_t TDriver::GetLineLength() {
    int32_t Result = 0;
    WithTCP([&] {
        uint8_t Length = 0;
        Device().GetLineLength(Length);
        const int32_t Configured = Session().FSettings.MaxReceiptRowLength;
        if (Configured > 0) Length = uint8_t(Configured);  // Open refuses more than 255
        Device().SetLineLen(Length);
        Result = Length;
    });
    return Result;
}

std::string TDriver::GetDateTime() {
    std::string Result;
    WithTCP([&] {
        int64_t T = 0;
        Device().GetDateTimeKKT(T);
        Result = UnixTimeToXmlDateTime(T);
    });
    return Result;
}

void TDriver::SetDateTime(const std::string& ADateTime) {
    WithTCP([&] {
        int64_t T = 0;
        try {
            T = ISODateToUnix(ADateTime);
        } catch (const EquException&) {
            throw EquException(1004, "Ошибка входных параметров команды. Некорректный формат даты/времени");
        }
        Device().SetDateTime(T);
    });
}

int32_t TDriver::GetShiftState() {
    uint8_t State = 0;
    WithTCP([&] { Device().IsDayOpened(State); });
    return State;
}

}  // namespace fr
