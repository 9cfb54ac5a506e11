// Correction receipts and cash put into or taken out of the drawer.
//
// Formats 1.0 and 1.05 form a correction receipt with the device's own
// correction command, which carries only totals per payment kind and per tax
// rate; formats 1.1 and 1.2 form it as a normal receipt with items. Every
// input is read and checked before the first document command, so that a
// refused package leaves nothing begun on the device.
#include <exception>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {

// The older correction's package, read and checked whole before its first
// command; texts in the device's code pages.
struct TLegacyCorrection {
    uint8_t Type = 0, OperationType = 0, TaxationByte = 0;
    std::string Description, Number, CashierName, CashierINN;
    int64_t Date = 0;
    std::array<TCurrency, 5> Paid{};  // cash, electronic, prepayment, postpayment, barter
    TCurrency Total;
    TTaxSums Taxes{};
};

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

// The cash document's amount: the device field holds 5 bytes of kopecks,
// and an amount that is not zero but rounds to no kopeck would vanish.
void CheckCashAmount(TCurrency AAmount) {
    const int64_t Kopecks = AAmount.ToKopecks();
    if ((Kopecks == 0 && AAmount != TCurrency{}) || Kopecks > MaxFieldKopecks || Kopecks < -MaxFieldKopecks)
        throw EquException(
            1004, "Ошибка входных параметров команды. Недопустимая сумма внесения/выемки: «" + AAmount.ToText() + "»");
}

// Tax sums by group of the correction's positions; a second position at a
// rate replaces the first.
TTaxSums ReadLegacyTaxes(pugi::xml_node APositions, const TTaxValues& ATaxValues) {
    TTaxSums Taxes{};
    for (const pugi::xml_node P : APositions.children()) {
        if (!SameText(P.name(), "FiscalString")) continue;
        const int32_t ID = ATaxValues.IDOfTax(AttrTrim(P, "VATRate"));
        if (ID == 0) RaiseEquError(3010);
        const TCurrency Tax = AttrMoney(P, "VATAmount");
        if (Tax < TCurrency{} || Tax.ToKopecks() > MaxFieldKopecks)
            RaiseBadAttribute("VATAmount", AttrText(P, "VATAmount"));
        Taxes[size_t(TTaxValues::TaxGroup(ID) - 1)] = Tax;
    }
    return Taxes;
}

TLegacyCorrection ReadLegacyCorrection(const pugi::xml_document& AIn, const TTaxValues& ATaxValues) {
    const pugi::xml_node Root = AIn.document_element();
    const pugi::xml_node Parameters = Root.child("Parameters");
    const pugi::xml_node Payments = Root.child("Payments");
    const pugi::xml_node Positions = Root.child("Positions");
    const pugi::xml_node Correction = Parameters.child("CorrectionData");
    if (!Parameters || !Payments || !Positions || !Correction) RaiseEquError(1004);

    TLegacyCorrection C;
    const int64_t Type = AttrInt(Correction, "Type", 0);
    if (Type < 0 || Type > LastCorrectionType) RaiseBadAttribute("Type", AttrText(Correction, "Type"));
    C.Type = uint8_t(Type);
    C.Description = RequisiteText(1177, AttrText(Correction, "Description"), false);
    C.Number = RequisiteText(1179, AttrText(Correction, "Number"), false);
    CheckRequisiteSize(1177, C.Description);
    C.Date = CorrectionDate(AttrText(Correction, "Date"));
    // The cashier signs the correction as a receipt: the name in code page
    // 866, the INN as twelve digits.
    C.CashierName = RequisiteText(1021, AttrText(Parameters, "CashierName"), true);
    const std::string CashierINN = TDriver::CheckCashierINN(AttrText(Parameters, "CashierINN"));
    if (!CashierINN.empty()) C.CashierINN = RequisiteText(1203, CashierINN, false);
    const int64_t TaxationSystem = AttrInt(Parameters, "TaxationSystems", 0);
    if (TaxationSystem < 0 || TaxationSystem > LastTaxationSystem)
        RaiseBadAttribute("TaxationSystems", AttrText(Parameters, "TaxationSystems"));
    C.TaxationByte = uint8_t(1u << TaxationSystem);
    C.Taxes = ReadLegacyTaxes(Positions, ATaxValues);

    static const char* const PaymentNames[] = {"Cash", "ElectronicPayment", "PrePayment", "PostPayment", "Barter"};
    for (size_t I = 0; I < C.Paid.size(); ++I) {
        C.Paid[I] = AttrMoney(Payments, PaymentNames[I]);
        if (C.Paid[I] < TCurrency{}) RaiseBadAttribute(PaymentNames[I], AttrText(Payments, PaymentNames[I]));
        C.Total += C.Paid[I];
    }
    if (C.Total.ToKopecks() > MaxFieldKopecks) RaiseBadAttribute("Payments", C.Total.ToText());

    const int64_t OperationType = AttrInt(Parameters, "OperationType", 0);
    if (OperationType != 1 && OperationType != 3) RaiseEquError(1004);
    C.OperationType = uint8_t(OperationType);
    return C;
}

}  // namespace

void TDriver::CashInOutcome(pugi::xml_document&, TCurrency AAmount) {
    CheckCashAmount(AAmount);
    WithTCP([&] {
        TPrintSwitch Switch(*this, DocumentPrintSwitch());
        Device().UnlockDataOutputMode();
        PrepareDevice();
        if (AAmount == TCurrency{}) {
            // An opening float of nothing: no cash command and no document,
            // the print wait and the cut as after one.
            WriteLog("TDriver", "Сумма внесения/выемки 0: документ не формируется", llInfo);
            Device().WaitForPrint();
            CutReceipt(false, true, -1);
            return;
        }
        RegisterCashDocument(AAmount);
        // The document is registered: printing and the cut no longer decide
        // the result, or the cashier would register it a second time.
        FinishPrinting("Внесение/выемка выполнена; печать или отрезка не завершены: ");
    });
}

void TDriver::RegisterCashDocument(TCurrency AAmount) {
    TDevice& D = Device();
    // The register counts its cash documents of the shift: the count before
    // the command tells a lost answer from a refused command.
    const uint8_t Counter = AAmount.ToKopecks() > 0 ? CashInCounter : CashOutCounter;
    int32_t Before = 0;
    D.GetOperationRegAsInt(Counter, Before);
    try {
        D.Encash(AAmount);
    } catch (const std::exception& E) {
        WriteLog("TDriver", std::string("Внесение/выемка не подтверждена: ") + E.what(), llError);
        if (!CashDocumentDone(Counter, Before)) throw;
    }
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
    WithTCP([&] {
        TPrintSwitch Switch(*this, DocumentPrintSwitch());
        Device().UnlockDataOutputMode();
        PrepareDevice();
        CheckShift(false);
        FormLegacyCorrection(ReadLegacyCorrection(AIn, Session().FTaxValues));
        FinishStoredDocument(
            AOut, [&] { WriteDocumentOutputParameters(AOut); },
            "Чек коррекции сформирован; печать или отрезка не завершены: ",
            "Чек коррекции зарегистрирован в ККТ (фискальный признак " + Session().FFiscalSign +
                "), но его параметры не получены: ");
    });
}

void TDriver::FormLegacyCorrection(const TLegacyCorrection& AC) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    // The storage's last document before the correction tells a lost answer
    // from a refused command.
    TFNCurrentStatus Before;
    D.GetFNCurrentStatus(Before);
    S.FFiscalSign.clear();
    int64_t DocumentNumber = 0;
    try {
        D.ProcessCorrectionCheck(S.FFiscalSign, DocumentNumber, AC.Type, AC.OperationType, AC.TaxationByte, AC.Total,
                                 AC.Paid[0], AC.Paid[1], AC.Paid[2], AC.Paid[3], AC.Paid[4], AC.Taxes, AC.Description,
                                 AC.Number, AC.Date, AC.CashierName, AC.CashierINN);
    } catch (const std::exception& E) {
        WriteLog("TDriver", std::string("Чек коррекции не подтверждён: ") + E.what(), llError);
        if (RecoverClose(Before.DocumentNumber)) return;
        // A correction begun but not formed is annulled, so that the next
        // document does not start inside it.
        try {
            Device().CancelReceipt();
        } catch (const std::exception& C) {
            WriteLog("TDriver", std::string("Чек коррекции не аннулирован: ") + C.what(), llError);
        }
        throw;
    }
    try {
        Device().GetDateTimeKKT(S.FDateTime);
    } catch (const std::exception& E) {
        WriteLog("TDriver", std::string("Чек коррекции не подтверждён: ") + E.what(), llError);
        if (!RecoverClose(Before.DocumentNumber)) throw;
    }
}

}  // namespace fr
