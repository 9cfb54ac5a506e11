// Receipts: the check package's header and payments, the document-level
// requisites, the order of device commands, closing, the output document and
// the clean-up after a failure.
//
// A receipt is either closed on the device and reported with its number and
// fiscal sign, or reported as failed with no receipt left open. A close
// whose answer is lost is therefore not taken as failed: the driver asks the
// fiscal storage whether the receipt was stored, and once it was, nothing
// that follows (printing, cutting, reading the output) turns it into a
// failure that would make the cashier register the sale twice.
#include <exception>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uTLVStructure.h"
#include "fiscal/uDriver.h"
#include "fiscal/uReceiptRequisites.h"
#include "log/uLog.h"

namespace fr {

namespace {

// Attempts of the reads that decide whether a receipt was closed.
constexpr int CloseReadAttempts = 3;
// Reads of the output document of a stored document.
constexpr int StoredDocumentReadAttempts = 3;
// Tries of the clean-up after a receipt.
constexpr int CleanUpAttempts = 2;
// Bits of the taxation-system byte that name a taxation system.
constexpr int64_t LastTaxationSystem = 5;
// Fiscal document types of a receipt and a correction receipt.
constexpr int32_t ReceiptDocument = 3, CorrectionDocument = 31;

// The correction's type, the date of its base (blank: today) and the base
// document's number.
void SendCorrectionData(TDevice& D, pugi::xml_node ACorrectionData) {
    D.SetFNRequisite(1173, int32_t(uint8_t(AttrInt(ACorrectionData, "Type", 0))));
    const std::string Date = AttrText(ACorrectionData, "Date");
    if (!Date.empty()) D.SetFNRequisite(1178, IntToLEBytesN(uint64_t(CorrectionDate(Date)), 4));
    const std::string Number = AttrText(ACorrectionData, "Number");
    if (!Blank(Number)) SendRequisite(D, 1179, RequisiteText(1179, Number, true));
}

void LogError(const std::string& AText) {
    WriteLog("TDriver", AText, llError);
}

// The payments of the close command in their slots.
std::array<TCurrency, 16> ReadPayments(pugi::xml_node APayments) {
    std::array<TCurrency, 16> Sums{};
    struct TSlot {
        const char* Name;
        size_t Index;
    };
    static const TSlot Slots[] = {
        {"Cash", 0},     {"ElectronicPayment", 1}, {"Payment6", 2},    {"Payment7", 3},     {"Payment8", 4},
        {"Payment9", 5}, {"Payment10", 6},         {"PrePayment", 13}, {"PostPayment", 14}, {"Barter", 15}};
    for (const TSlot& S : Slots) {
        Sums[S.Index] = AttrMoney(APayments, S.Name);
        if (Sums[S.Index] < TCurrency{}) RaiseBadAttribute(S.Name, AttrText(APayments, S.Name));
    }
    return Sums;
}

}  // namespace

void TDriver::Reconnect() {
    TDeviceDriver& S = Session();
    if (S.HasDevice() && S.FDevice->ConnectionType() == 1) ConnectTCP();
}

void TDriver::FinishPrinting(const std::string& AFailedLog) {
    try {
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    } catch (const std::exception& E) {
        LogError(AFailedLog + E.what());
    }
}

void TDriver::FinishStoredDocument(pugi::xml_document& AOut, const std::function<void()>& AWriteOutput,
                                   const std::string& APrintFailedLog, const std::string& AReadFailedText) {
    // The document is stored: printing and the cut no longer decide the result.
    FinishPrinting(APrintFailedLog);
    std::string LastError;
    for (int Attempt = 0; Attempt < StoredDocumentReadAttempts; ++Attempt) {
        try {
            if (Attempt > 0) Reconnect();
            AOut.reset();
            AWriteOutput();
            return;
        } catch (const std::exception& E) {
            LastError = E.what();
        }
    }
    AOut.reset();
    throw std::runtime_error(AReadFailedText + LastError);
}

void TDriver::ProcessCheck(bool AElectronically, pugi::xml_document& AIn, pugi::xml_document& AOut,
                           bool AIsCorrection) {
    bool Closed = false;
    std::exception_ptr Failure;
    try {
        ConnectTCP();
        RegisterReceipt(AElectronically, AIn, AOut, AIsCorrection, Closed);
    } catch (...) {
        Failure = std::current_exception();
    }
    // Clean-up: finish an interrupted print and annul a receipt left open.
    // After a failure the TCP connection may be the thing that failed. A
    // failed clean-up is tried once more over a fresh connection: a receipt
    // left open would stay open through every read the host makes next.
    for (int Attempt = 0; Attempt < CleanUpAttempts; ++Attempt) {
        try {
            if (Failure || Attempt > 0) Reconnect();
            PrepareDevice();
            break;
        } catch (const std::exception& E) {
            if (Attempt + 1 < CleanUpAttempts) {
                LogError(std::string("Подготовка ККТ после чека не выполнена, повтор: ") + E.what());
            } else if (Closed) {
                LogError(std::string("Чек закрыт; подготовка ККТ после чека не выполнена: ") + E.what());
            } else {
                Failure = std::current_exception();
            }
        }
    }
    DisconnectTCP();
    if (Failure) std::rethrow_exception(Failure);
}

// The check package: its parts and the header's values, read and checked
// before the receipt is opened, so that a malformed package opens nothing.
struct TReceiptPackage {
    pugi::xml_node Parameters, Positions;
    int32_t OperationType = 0;  // 1..4
    std::string CashierINN, CustomerEmail, CustomerPhone, SenderEmail, AdditionalAttribute, ReceiptText;
    int64_t TaxationSystem = 0, AgentType = -1;
    std::array<TCurrency, 16> Payments{};
};

void TDriver::RegisterReceipt(bool AElectronically, pugi::xml_document& ACheckPackage,
                              pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection, bool& AClosed) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    // The receipt's print switch stays as set here after the receipt.
    const uint8_t EnablePrinting = S.FSettings.EnablePrinting;
    const bool Printed = EnablePrinting == 2 ? false : EnablePrinting == 1 ? !AElectronically : true;
    SetPrintSwitch(Printed ? PrintSwitchOn : PrintSwitchOff);
    D.UnlockDataOutputMode();
    PrepareDevice();
    CheckShift(false);

    const TReceiptPackage P = ReadReceiptPackage(ACheckPackage, AIsCorrection);
    static const uint8_t ReceiptTypes[] = {0, 2, 1, 3};
    D.OpenReceipt(uint8_t(ReceiptTypes[P.OperationType - 1] + (AIsCorrection ? 128 : 0)));
    SendReceiptHeader(P, AIsCorrection);
    TReceiptState State;
    State.OperationType = P.OperationType;
    State.IsCorrection = AIsCorrection;
    ProcessPositions(P.Positions, State);
    SendReceiptClosingRequisites(P);
    CloseReceipt(P, State.Taxes);
    AClosed = true;

    // The receipt is registered: printing and cutting no longer decide the
    // result, and the output is read again after a link failure.
    FinishStoredDocument(
        ADocumentOutputParameters, [&] { WriteDocumentOutputParameters(ADocumentOutputParameters); },
        "Чек закрыт; печать или отрезка не завершены: ",
        "Чек зарегистрирован в ККТ (фискальный признак " + S.FFiscalSign + "), но его параметры не получены: ");
}

TReceiptPackage TDriver::ReadReceiptPackage(const pugi::xml_document& ACheckPackage, bool AIsCorrection) {
    TDeviceDriver& S = Session();
    const pugi::xml_node Root = ACheckPackage.document_element();
    TReceiptPackage P;
    P.Parameters = Root.child("Parameters");
    P.Positions = Root.child("Positions");
    const pugi::xml_node Payments = Root.child("Payments");
    if (!P.Parameters || !P.Positions || !Payments) RaiseEquError(1004);

    const pugi::xml_node Parameters = P.Parameters;
    const int64_t OperationType = AttrInt(Parameters, "OperationType", 0);
    if (OperationType < 1 || OperationType > 4) RaiseEquError(1004);
    P.OperationType = int32_t(OperationType);
    S.FCashierName = AttrText(Parameters, "CashierName");
    S.FCashierINN = CheckCashierINN(AttrText(Parameters, "CashierINN"));
    P.CashierINN = AttrText(Parameters, "CashierINN");
    P.CustomerEmail = AttrTrim(Parameters, "CustomerEmail");
    P.CustomerPhone = AttrTrim(Parameters, "CustomerPhone");
    // The correction package spells the attribute in the plural; the same
    // package reaches this path on formats 1.1 and 1.2.
    const char* const TaxationName =
        AIsCorrection && !Parameters.attribute("TaxationSystem") ? "TaxationSystems" : "TaxationSystem";
    P.TaxationSystem = AttrInt(Parameters, TaxationName, 0);
    P.SenderEmail = AttrText(Parameters, "SenderEmail");
    P.AgentType = AttrInt(Parameters, "AgentType", -1);
    P.AdditionalAttribute = AttrText(Parameters, "AdditionalAttribute");
    P.ReceiptText = AttrText(Parameters, "ReceiptText");
    // A value without a bit of its own would close the receipt with no
    // taxation system at all.
    if (P.TaxationSystem < 0 || P.TaxationSystem > LastTaxationSystem)
        RaiseBadAttribute(TaxationName, AttrText(Parameters, TaxationName));
    P.Payments = ReadPayments(Payments);
    return P;
}

void TDriver::SendReceiptHeader(const TReceiptPackage& AP, bool AIsCorrection) {
    TDevice& D = Device();
    const bool Format12 = Session().FFFDVersion == ffd12;
    const pugi::xml_node Parameters = AP.Parameters;
    if (const pugi::xml_node C = Parameters.child("CorrectionData"); AIsCorrection && C) SendCorrectionData(D, C);
    if (!Format12 && AP.AgentType != -1) {
        if (AP.AgentType < 0 || AP.AgentType > 6) RaiseEquError(3023);
        D.SetFNRequisite(1057, int32_t(1 << AP.AgentType));
    }
    if (const pugi::xml_node U = Parameters.child("UserAttribute")) {
        const std::string Name = AttrTrim(U, "Name"), Value = AttrText(U, "Value");
        if (!Name.empty() && !Value.empty())
            SendRequisite(D, 1084, TextTLV(1085, Name, true) + TextTLV(1086, Value, true));
    }
    SendAgentData(Parameters.child("AgentData"), Parameters.child("VendorData"), true);
    if (!Blank(AP.AdditionalAttribute)) SendRequisite(D, 1192, RequisiteText(1192, AP.AdditionalAttribute, true));
    if (!Blank(AP.CashierINN)) SendRequisite(D, 1203, RequisiteText(1203, NormalizeINN(AP.CashierINN), false));
    SendReceiptBlocks(D, Parameters, Format12);
}

void TDriver::SendReceiptClosingRequisites(const TReceiptPackage& AP) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    if (!AP.CustomerEmail.empty())
        SendRequisite(D, 1008, RequisiteText(1008, AP.CustomerEmail, true));
    else if (!AP.CustomerPhone.empty())
        SendRequisite(D, 1008, RequisiteText(1008, AP.CustomerPhone, true));
    SendRequisite(D, 1021, RequisiteText(1021, S.FCashierName, true));
    if (!Blank(AP.SenderEmail)) SendRequisite(D, 1117, RequisiteText(1117, AP.SenderEmail, true));
    if (!AP.ReceiptText.empty()) {
        std::vector<std::string> Lines;
        WrapText(AP.ReceiptText, size_t(S.FLineLen > 0 ? S.FLineLen : D.LineLen()), Lines);
        for (const std::string& L : Lines) D.PrintFontString(7, Utf8ToAnsi(L), uint8_t(S.FSettings.ReceiptFontNumber));
    }
}

void TDriver::CloseReceipt(const TReceiptPackage& AP, const TTaxSums& ATaxes) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    // The number of the last stored document tells afterwards whether a
    // close that reported a failure did store the receipt.
    TFNCurrentStatus Before;
    D.GetFNCurrentStatus(Before);
    S.FFiscalSign.clear();
    try {
        D.CloseCheckEx(AP.Payments, TCurrency{}, ATaxes, uint8_t(1u << AP.TaxationSystem), {}, S.FFiscalSign,
                       S.FDateTime);
    } catch (const std::exception& E) {
        LogError(std::string("Закрытие чека не подтверждено: ") + E.what());
        if (!RecoverClose(Before.DocumentNumber)) throw;
    }
}

bool TDriver::NewStoredDocument(int64_t ADocumentBefore, const TStoredDocumentCheck& ACheck,
                                const std::string& AReadFailedLog) {
    for (int Attempt = 0; Attempt < CloseReadAttempts; ++Attempt) {
        try {
            Reconnect();
            TDevice& D = Device();
            TFNCurrentStatus Now;
            D.GetFNCurrentStatus(Now);
            if (Now.DocumentNumber == ADocumentBefore) return false;
            int32_t Type = 0;
            if (D.GetFiscalTagList(Now.DocumentNumber, Type) != 0) continue;
            if (const std::optional<bool> Done = ACheck(Now.DocumentNumber, Type)) return *Done;
        } catch (const std::exception& E) {
            LogError(AReadFailedLog + E.what());
        }
    }
    return false;
}

bool TDriver::RecoverClose(int64_t ADocumentBefore) {
    TDeviceDriver& S = Session();
    return NewStoredDocument(
        ADocumentBefore,
        [&](int64_t ANumber, int32_t AType) -> std::optional<bool> {
            if (AType != ReceiptDocument && AType != CorrectionDocument) return false;
            TDevice& D = Device();
            const std::string Sign = D.GetTagValue(1077).AsText();
            if (Sign.empty()) return std::nullopt;  // read again
            S.FFiscalSign = Sign;
            if (const std::optional<int64_t> T = ParseInt(D.GetTagValue(1012).AsText())) S.FDateTime = *T;
            WriteLog("TDriver", "Чек сохранён в ФН как документ " + std::to_string(ANumber), llInfo);
            return true;
        },
        "Состояние ФН после закрытия чека не прочитано: ");
}

void TDriver::WriteDocumentOutputParameters(pugi::xml_document& ADocumentOutputParameters) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    TFNCurrentStatus FN;
    D.GetFNCurrentStatus(FN);
    uint8_t ShiftState = 0;
    int64_t ShiftNumber = 0, ReceiptNumber = 0;
    D.GetCurrentSessionParams(ShiftState, ShiftNumber, ReceiptNumber);
    std::string Site;
    D.GetFieldAsStr(18, 1, 13, Site);
    Site = Site.substr(0, Site.find('\0'));

    pugi::xml_node P = ADocumentOutputParameters.append_child("DocumentOutputParameters").append_child("Parameters");
    P.append_attribute("ShiftNumber") = std::to_string(ShiftNumber).c_str();
    P.append_attribute("CheckNumber") = std::to_string(FN.DocumentNumber).c_str();
    P.append_attribute("ShiftClosingCheckNumber") = std::to_string(ReceiptNumber).c_str();
    P.append_attribute("DateTime") = UnixTimeToXmlDateTime(S.FDateTime).c_str();
    P.append_attribute("FiscalSign") = S.FFiscalSign.c_str();
    P.append_attribute("AddressSiteInspections") = Trim(AnsiToUtf8(Site)).c_str();
}

}  // namespace fr
