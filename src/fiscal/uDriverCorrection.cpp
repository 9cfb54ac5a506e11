// Correction receipts and cash put into or taken out of the drawer.
//
// Formats 1.0 and 1.05 form a correction receipt with the device's own
// correction command, which carries only totals per payment kind and per tax
// rate; formats 1.1 and 1.2 form it as a normal receipt with items. Every
// input is read and checked before the first document command, so that a
// refused package leaves nothing begun on the device.
#include <ctime>
#include <exception>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {

namespace {

// The correction types the fiscal storage knows: made on the operator's own
// decision (0) or by an order of the tax authority (1).
constexpr int64_t LastCorrectionType = 1;
constexpr int64_t LastTaxationSystem = 5;
// Largest amount of a device money field: 5 bytes of kopecks.
constexpr int64_t MaxFieldKopecks = (int64_t(1) << 40) - 1;
// Operation registers that count the shift's cash-in and cash-out documents.
constexpr uint8_t CashInCounter = 153;
constexpr uint8_t CashOutCounter = 154;
// Reads of the device state after a document command whose answer was lost,
// and of the output document after it.
constexpr int DocumentReadAttempts = 3;

// The date of an ISO 8601 date ("2026-12-01") or date-time, as seconds since
// 1970 at its midnight; a blank text is today.
int64_t CorrectionDate(const std::string& AText) {
    const std::string T = Trim(AText);
    int64_t Seconds = 0;
    if (T.empty()) {
        const int64_t Now = LocalNow();
        Seconds = Now - ((Now % 86400) + 86400) % 86400;
    } else {
        Seconds = ISODateToUnix(T.size() == 10 ? T + "T00:00:00" : T);
    }
    int64_t Day = Seconds / 86400;
    if (Seconds % 86400 < 0) --Day;
    if (Day < 0 || Day * 86400 > int64_t(0xFFFFFFFF)) RaiseBadAttribute("Date", AText);
    return Day * 86400;
}

// The cash document's amount: zero registers nothing and the device field
// holds 5 bytes of kopecks.
void CheckCashAmount(TCurrency AAmount) {
    const int64_t Kopecks = AAmount.ToKopecks();
    if (Kopecks == 0 || Kopecks > MaxFieldKopecks || Kopecks < -MaxFieldKopecks)
        throw EquException(
            1004, "Ошибка входных параметров команды. Недопустимая сумма внесения/выемки: «" + AAmount.ToText() + "»");
}

}  // namespace

void TDriver::RestorePrintSetting() {
    try {
        Device().SetFieldAsByte(17, 1, 7, Session().FInitPrintSetting);
    } catch (const std::exception& E) {
        WriteLog("TDriver", std::string("Настройка печати не восстановлена: ") + E.what(), llError);
    }
}

void TDriver::CashInOutcome(pugi::xml_document&, TCurrency AAmount) {
    CheckCashAmount(AAmount);
    ConnectTCP();
    try {
        TDevice& D = Device();
        ApplyEnablePrinting();
        D.UnlockDataOutputMode();
        PrepareDevice();
        // The register counts its cash documents of the shift: the count
        // before the command tells a lost answer from a refused command.
        const uint8_t Counter = AAmount.ToKopecks() > 0 ? CashInCounter : CashOutCounter;
        int32_t Before = 0;
        D.GetOperationRegAsInt(Counter, Before);
        try {
            D.Encash(AAmount);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Внесение/выемка не подтверждена: ") + E.what(), llError);
            if (!CashDocumentDone(Counter, Before)) throw;
        }
        // The document is registered: printing and the cut no longer decide
        // the result, or the cashier would register it a second time.
        try {
            Device().WaitForPrint();
            CutReceipt(false, true, -1);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Внесение/выемка выполнена; печать или отрезка не завершены: ") + E.what(),
                     llError);
        }
    } catch (...) {
        RestorePrintSetting();
        DisconnectTCP();
        throw;
    }
    RestorePrintSetting();
    DisconnectTCP();
}

bool TDriver::CashDocumentDone(uint8_t ACounter, int32_t ABefore) {
    for (int Attempt = 0; Attempt < DocumentReadAttempts; ++Attempt) {
        try {
            Reconnect();
            int32_t Now = 0;
            Device().GetOperationRegAsInt(ACounter, Now);
            // The register has two bytes and wraps.
            const bool Done = ((Now - ABefore) & 0xFFFF) == 1;
            if (Done) WriteLog("TDriver", "Внесение/выемка выполнена ККТ, ответ на команду был потерян", llInfo);
            return Done;
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Счётчик внесений/выемок не прочитан: ") + E.what(), llError);
        }
    }
    return false;
}

void TDriver::ProcessCorrectionCheck(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    TDeviceDriver& S = Session();
    if (S.FFFDVersion == ffd10 || S.FFFDVersion == ffd105) {
        ProcessLegacyCorrectionCheck(AIn, AOut);
        return;
    }
    // The receipt path reads the rest; the correction's own requisites are
    // checked here, before anything is sent.
    const pugi::xml_node Parameters = AIn.document_element().child("Parameters");
    const pugi::xml_node Correction = Parameters.child("CorrectionData");
    if (!Parameters || !Correction) RaiseEquError(1004);
    const int64_t Type = AttrInt(Correction, "Type", 0);
    if (Type < 0 || Type > LastCorrectionType) RaiseBadAttribute("Type", AttrText(Correction, "Type"));
    CorrectionDate(AttrText(Correction, "Date"));
    ProcessCheck(false, AIn, AOut, true);
}

void TDriver::ProcessLegacyCorrectionCheck(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    TDeviceDriver& S = Session();
    ConnectTCP();
    bool Begun = false;
    try {
        TDevice& D = Device();
        ApplyEnablePrinting();
        D.UnlockDataOutputMode();
        PrepareDevice();
        CheckShift(false);

        const pugi::xml_node Root = AIn.document_element();
        const pugi::xml_node Parameters = Root.child("Parameters");
        const pugi::xml_node Payments = Root.child("Payments");
        const pugi::xml_node Positions = Root.child("Positions");
        const pugi::xml_node Correction = Parameters.child("CorrectionData");
        if (!Parameters || !Payments || !Positions || !Correction) RaiseEquError(1004);

        const int64_t Type = AttrInt(Correction, "Type", 0);
        if (Type < 0 || Type > LastCorrectionType) RaiseBadAttribute("Type", AttrText(Correction, "Type"));
        const std::string Description = RequisiteText(1177, AttrText(Correction, "Description"), false);
        const std::string Number = RequisiteText(1179, AttrText(Correction, "Number"), false);
        CheckRequisiteSize(1177, Description);
        const int64_t Date = CorrectionDate(AttrText(Correction, "Date"));
        // The cashier signs the correction as a receipt: the name in code page
        // 866, the INN as twelve digits.
        const std::string CashierName = RequisiteText(1021, AttrText(Parameters, "CashierName"), true);
        const std::string CashierINN = CheckCashierINN(AttrText(Parameters, "CashierINN"));
        const int64_t TaxationSystem = AttrInt(Parameters, "TaxationSystems", 0);
        if (TaxationSystem < 0 || TaxationSystem > LastTaxationSystem)
            RaiseBadAttribute("TaxationSystems", AttrText(Parameters, "TaxationSystems"));

        // Tax sums by group; a second position at a rate replaces the first.
        std::array<TCurrency, 10> Taxes{};
        for (const pugi::xml_node P : Positions.children()) {
            if (!SameText(P.name(), "FiscalString")) continue;
            const int32_t ID = S.FTaxValues.IDOfTax(AttrTrim(P, "VATRate"));
            if (ID == 0) RaiseEquError(3010);
            const TCurrency Tax = AttrMoney(P, "VATAmount");
            if (Tax < TCurrency{} || Tax.ToKopecks() > MaxFieldKopecks)
                RaiseBadAttribute("VATAmount", AttrText(P, "VATAmount"));
            Taxes[size_t(TTaxValues::TaxGroup(ID) - 1)] = Tax;
        }

        static const char* const PaymentNames[] = {"Cash", "ElectronicPayment", "PrePayment", "PostPayment", "Barter"};
        std::array<TCurrency, 5> Paid{};
        TCurrency Total;
        for (size_t I = 0; I < Paid.size(); ++I) {
            Paid[I] = AttrMoney(Payments, PaymentNames[I]);
            if (Paid[I] < TCurrency{}) RaiseBadAttribute(PaymentNames[I], AttrText(Payments, PaymentNames[I]));
            Total += Paid[I];
        }
        if (Total.ToKopecks() > MaxFieldKopecks) RaiseBadAttribute("Payments", Total.ToText());

        const int64_t OperationType = AttrInt(Parameters, "OperationType", 0);
        if (OperationType != 1 && OperationType != 3) RaiseEquError(1004);

        // The storage's last document before the correction tells a lost
        // answer from a refused command.
        TFNCurrentStatus Before;
        D.GetFNCurrentStatus(Before);
        S.FFiscalSign.clear();
        int64_t DocumentNumber = 0;
        Begun = true;
        try {
            D.ProcessCorrectionCheck(S.FFiscalSign, DocumentNumber, uint8_t(Type), uint8_t(OperationType),
                                     uint8_t(1u << TaxationSystem), Total, Paid[0], Paid[1], Paid[2], Paid[3], Paid[4],
                                     Taxes[0], Taxes[1], Taxes[2], Taxes[3], Taxes[4], Taxes[5], Taxes[6], Taxes[7],
                                     Taxes[8], Taxes[9], Description, Number, Date, CashierName,
                                     CashierINN.empty() ? std::string() : RequisiteText(1203, CashierINN, false));
            Begun = false;
            Device().GetDateTimeKKT(S.FDateTime);
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("Чек коррекции не подтверждён: ") + E.what(), llError);
            if (!RecoverClose(Before.DocumentNumber)) throw;
        }
        Begun = false;
        FinishStoredDocument(
            AOut, [&] { WriteDocumentOutputParameters(AOut); },
            "Чек коррекции сформирован; печать или отрезка не завершены: ",
            "Чек коррекции зарегистрирован в ККТ (фискальный признак " + S.FFiscalSign +
                "), но его параметры не получены: ");
    } catch (...) {
        // A correction begun but not formed is annulled, so that the next
        // document does not start inside it.
        if (Begun) {
            try {
                Device().CancelReceipt();
            } catch (const std::exception& E) {
                WriteLog("TDriver", std::string("Чек коррекции не аннулирован: ") + E.what(), llError);
            }
        }
        RestorePrintSetting();
        DisconnectTCP();
        throw;
    }
    RestorePrintSetting();
    DisconnectTCP();
}

}  // namespace fr
