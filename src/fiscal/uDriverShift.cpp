// Shifts, status and reports: opening and closing the shift, the X report,
// the report on the state of settlements, the current status, the copy of
// the last document, the cash drawer, the line length and the clock.
#include <ctime>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uXmlUtils.h"
#include "fiscal/uDriver.h"

namespace fr {

namespace {

// Device date-times are seconds counted as if the device's local time were
// UTC; they are shown as they stand.
std::string DateTimeText(int64_t ASeconds) {
    const time_t T = time_t(ASeconds);
    struct tm Tm {};
    gmtime_r(&T, &Tm);
    char Buf[32];
    std::strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &Tm);
    return Buf;
}

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

void SetAttr(pugi::xml_node N, const char* AName, const std::string& AValue) {
    N.append_attribute(AName) = AValue.c_str();
}

}  // namespace

void TDriver::FillOutputParameters(pugi::xml_document& AOutputParameters, uint32_t AMask) {
    TDevice& D = Device();
    TFNCurrentStatus FN;
    D.GetFNCurrentStatus(FN);
    int32_t BacklogCount = 0;
    int64_t BacklogFirstNumber = 0, BacklogFirstDateTime = 0;
    D.GetFNInfoExchangeStatus(BacklogCount, BacklogFirstNumber, BacklogFirstDateTime);
    uint8_t FNShiftState = 0;
    int64_t ShiftNumber = 0, ReceiptNumber = 0;
    D.GetCurrentSessionParams(FNShiftState, ShiftNumber, ReceiptNumber);

    pugi::xml_node Out = AOutputParameters.append_child("OutputParameters");
    pugi::xml_node P = Out.append_child("Parameters");
    const auto Has = [AMask](uint32_t F) { return (AMask & F) != 0; };

    if (Has(ofFNError)) SetAttr(P, "FNError", XmlBool(FN.FNWarningFlags & 0x01));
    if (Has(ofFNFail)) SetAttr(P, "FNFail", XmlBool(FN.FNWarningFlags & 0x02));
    if (Has(ofFNOverflow)) SetAttr(P, "FNOverflow", XmlBool(FN.FNWarningFlags & 0x04));
    if (Has(ofCashBalance)) {
        double Cash = 0;
        D.GetCashReg(241, Cash);
        SetAttr(P, "CashBalance", FormatDouble(Cash));
    }
    if (Has(ofDeviceState)) {
        std::string Flags;
        uint8_t Mode = 0, Submode = 0;
        D.GetECRState(Flags, Mode, Submode);
        const uint8_t F0 = Flags.size() > 0 ? uint8_t(Flags[0]) : 0;
        const uint8_t F1 = Flags.size() > 1 ? uint8_t(Flags[1]) : 0;
        const int Paper = ((F0 >> 1) & 1) + ((F0 >> 7) & 1);
        SetAttr(P, "RecState", std::to_string(2 - Paper));
        SetAttr(P, "DrawerState", (F1 & 0x08) ? "1" : "0");
        SetAttr(P, "CoverOpen", (F1 & 0x04) ? "1" : "0");
    }
    if (Has(ofShiftNumber)) SetAttr(P, "ShiftNumber", std::to_string(ShiftNumber));
    if (Has(ofCheckNumber)) SetAttr(P, "CheckNumber", std::to_string(FN.DocumentNumber));
    if (Has(ofShiftClosingCheckNumber)) SetAttr(P, "ShiftClosingCheckNumber", std::to_string(ReceiptNumber));
    if (Has(ofDateTime)) {
        TDeviceDriver& S = Session();
        D.GetDateTimeKKT(S.FDateTime);
        SetAttr(P, "DateTime", DateTimeText(S.FDateTime));
    }
    if (Has(ofShiftState)) SetAttr(P, "ShiftState", std::to_string(FNShiftState + 1));
    if (Has(ofBacklogCount)) SetAttr(P, "BacklogDocumentsCounter", std::to_string(BacklogCount));
    if (Has(ofBacklogFirstNumber)) SetAttr(P, "BacklogDocumentFirstNumber", std::to_string(BacklogFirstNumber));
    if (Has(ofBacklogFirstDateTime)) SetAttr(P, "BacklogDocumentFirstDateTime", DateTimeText(BacklogFirstDateTime));

    // Money registers of sales and sale returns by payment kind: cash,
    // non-cash, prepaid, credit, counter-provision.
    struct TPaymentKind {
        const char* Name;
        int32_t Sell, SellReturn;
    };
    static const TPaymentKind Kinds[] = {{"Cash", 193, 195},
                                         {"NonCash", 197, 199},
                                         {"Prepaid", 4180, 4182},
                                         {"Credit", 4184, 4186},
                                         {"Barter", 4188, 4190}};
    double Sell[5] = {}, Return[5] = {};
    const auto ReadMoney = [&D](int32_t ARegister) {
        double V = 0;
        if (ARegister < 256)
            D.GetCashReg(uint8_t(ARegister), V);
        else
            D.GetCashKReg(ARegister, V);
        return V;
    };
    const auto Counter = [&](const char* AElement, uint8_t AOperationRegister, bool AReturns) {
        int32_t Count = 0;
        D.GetOperationRegAsInt(AOperationRegister, Count);
        double Total = 0;
        for (int I = 0; I < 5; ++I) {
            double& V = AReturns ? Return[I] : Sell[I];
            V = ReadMoney(AReturns ? Kinds[I].SellReturn : Kinds[I].Sell);
            Total += V;
        }
        pugi::xml_node C = P.append_child(AElement);
        SetAttr(C, "CheckCount", std::to_string(Count));
        SetAttr(C, "TotalChecksAmount", FormatDouble(Total));
    };
    if (Has(ofCountersSales)) Counter("CountersOperationType1", 144, false);
    if (Has(ofCountersReturns)) Counter("CountersOperationType2", 146, true);
    if (Has(ofCashInOut)) {
        const auto Cash = [&](const char* AElement, uint8_t AOperationRegister, uint8_t AMoneyRegister) {
            int32_t Count = 0;
            D.GetOperationRegAsInt(AOperationRegister, Count);
            double Amount = 0;
            D.GetCashReg(AMoneyRegister, Amount);
            pugi::xml_node C = P.append_child(AElement);
            SetAttr(C, "Count", std::to_string(Count));
            SetAttr(C, "TotalAmount", FormatDouble(Amount));
        };
        Cash("CashIn", 153, 242);
        Cash("CashOut", 154, 243);
    }
    if (Has(ofPayments)) {
        pugi::xml_node Payments = Out.append_child("Payments");
        for (int I = 0; I < 5; ++I) {
            pugi::xml_node K = Payments.append_child(Kinds[I].Name);
            SetAttr(K, "Sell", FormatDouble(Sell[I]));
            SetAttr(K, "SellReturn", FormatDouble(Return[I]));
        }
    }
}

void TDriver::OpenShift(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithReportBracket(true, [&] {
        TDevice& D = Device();
        uint8_t State = 0;
        int64_t Number = 0, Receipt = 0;
        D.GetCurrentSessionParams(State, Number, Receipt);
        CheckShift(true);
        ReadCashier(AIn);
        PrepareDevice();
        D.OpenDay(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        D.WaitForPrint();
        CutReceipt(false, true, -1);
        FillOutputParameters(AOut, 0xE019);
    });
}

void TDriver::CloseShift(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithReportBracket(false, [&] {
        TDevice& D = Device();
        uint8_t State = 0;
        D.IsDayOpened(State);
        if (State == 0) RaiseEquError(3005);
        ReadCashier(AIn);
        PrepareDevice();
        D.ZReport(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        D.WaitForPrint();
        CutReceipt(false, true, -1);
        FillOutputParameters(AOut, 0xFFF9);
    });
}

void TDriver::PrintXReport(pugi::xml_document& AIn) {
    WithReportBracket(false, [&] {
        PrepareDevice();
        ReadCashier(AIn);  // the INN is checked though the report does not carry it
        Device().XReport();
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    });
}

void TDriver::ReportCurrentStatusOfSettlements(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithReportBracket(false, [&] {
        ReadCashier(AIn);
        PrepareDevice();
        Device().CalculationStateReport(Utf8ToOem(Session().FCashierName), Session().FCashierINN);
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
        FillOutputParameters(AOut, 0x1FF0);
    });
}

void TDriver::GetCurrentStatus(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    WithTCP([&] {
        const pugi::xml_attribute A = AIn.document_element().child("Parameters").attribute("GetCounters");
        const bool Counters = A ? VarToBoolDef(TValue(std::string(A.value())), false) : false;
        FillOutputParameters(AOut, Counters ? 0x71FF7 : 0x41E17);
    });
}

void TDriver::PrintCheckCopy(const std::string& ACheckNumber) {
    const int64_t Number = ParseInt(ACheckNumber).value_or(-1);
    if (Number > 0 || Number == -1) throw std::runtime_error("Печать по номеру документа не поддерживается устройством");
    WithReportBracket(false, [&] {
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
        if (Configured > 0) Length = uint8_t(Configured % 256);
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
        Result = DateTimeText(T);
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
