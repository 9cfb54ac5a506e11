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
#include <ctime>
#include <exception>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uTLVStructure.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {

namespace {

// Attempts of the reads that decide or report a closed receipt.
constexpr int CloseReadAttempts = 3;
// Reads of the output document of a stored shift document or correction.
constexpr int StoredDocumentReadAttempts = 3;
// Tries of the clean-up after a receipt.
constexpr int CleanUpAttempts = 2;
// Bits of the taxation-system byte that name a taxation system.
constexpr int64_t LastTaxationSystem = 5;
// Fiscal document types of a receipt and a correction receipt.
constexpr int32_t ReceiptDocument = 3, CorrectionDocument = 31;

bool Blank(const std::string& S) {
    return Trim(S).empty();
}

void Requisite(TDevice& D, int32_t ATag, const std::string& AValue) {
    CheckRequisiteSize(ATag, AValue);
    D.SetFNRequisite(ATag, AValue);
}

// The fiscal storage keeps texts in code page 866 and gives them back so;
// a text requisite that a person writes (names, e-mails, free attributes)
// goes there in 866, or its Cyrillic letters come back as other letters.
std::string TextTLV(int32_t ATag, const std::string& AText, bool AOem) {
    return TDevice::SetTLV(ATag, RequisiteText(ATag, AText, AOem));
}

// The date part of an ISO 8601 date or date-time as seconds since 1970.
int64_t IsoDateDay(const std::string& AText) {
    const std::string T = Trim(AText);
    const int64_t Seconds = ISODateToUnix(T.size() == 10 ? T + "T00:00:00" : T);
    int64_t Day = Seconds / 86400;
    if (Seconds % 86400 < 0) --Day;
    return Day * 86400;
}

int64_t Today() {
    const int64_t Now = LocalNow();
    return Now - ((Now % 86400) + 86400) % 86400;
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

void TDriver::FinishStoredDocument(pugi::xml_document& AOut, const std::function<void()>& AWriteOutput,
                                   const std::string& APrintFailedLog, const std::string& AReadFailedText) {
    // The document is stored: printing and the cut no longer decide the result.
    try {
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    } catch (const std::exception& E) {
        WriteLog("TDriver", APrintFailedLog + E.what(), llError);
    }
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

void TDriver::RegisterReceipt(bool AElectronically, pugi::xml_document& ACheckPackage,
                              pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection, bool& AClosed) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    const bool Format12 = S.FFFDVersion == ffd12;

    // Print setting: 2 keeps the receipt off paper.
    const uint8_t EnablePrinting = S.FSettings.EnablePrinting;
    const bool Printed = EnablePrinting == 2 ? false : EnablePrinting == 1 ? !AElectronically : true;
    D.SetFieldAsByte(17, 1, 7, Printed ? 0 : 2);

    D.UnlockDataOutputMode();
    PrepareDevice();
    CheckShift(false);

    const pugi::xml_node Root = ACheckPackage.document_element();
    const pugi::xml_node Parameters = Root.child("Parameters");
    const pugi::xml_node Positions = Root.child("Positions");
    const pugi::xml_node Payments = Root.child("Payments");
    if (!Parameters || !Positions || !Payments) RaiseEquError(1004);

    TReceiptState State;
    State.IsCorrection = AIsCorrection;
    const int64_t OperationType = AttrInt(Parameters, "OperationType", 0);
    if (OperationType < 1 || OperationType > 4) RaiseEquError(1004);
    State.OperationType = int32_t(OperationType);
    S.FCashierName = AttrText(Parameters, "CashierName");
    S.FCashierINN = CheckCashierINN(AttrText(Parameters, "CashierINN"));
    const std::string CashierINN = AttrText(Parameters, "CashierINN");
    const std::string CustomerEmail = AttrTrim(Parameters, "CustomerEmail");
    const std::string CustomerPhone = AttrTrim(Parameters, "CustomerPhone");
    // The correction package spells the attribute in the plural; the same
    // package reaches this path on formats 1.1 and 1.2.
    const char* const TaxationName =
        AIsCorrection && !Parameters.attribute("TaxationSystem") ? "TaxationSystems" : "TaxationSystem";
    const int64_t TaxationSystem = AttrInt(Parameters, TaxationName, 0);
    const std::string SenderEmail = AttrText(Parameters, "SenderEmail");
    const int64_t AgentType = AttrInt(Parameters, "AgentType", -1);
    const std::string AdditionalAttribute = AttrText(Parameters, "AdditionalAttribute");
    const std::string ReceiptText = AttrText(Parameters, "ReceiptText");
    // A value without a bit of its own would close the receipt with no
    // taxation system at all.
    if (TaxationSystem < 0 || TaxationSystem > LastTaxationSystem)
        RaiseBadAttribute(TaxationName, AttrText(Parameters, TaxationName));
    // Payments are read before the receipt is opened, so that a malformed
    // amount opens nothing.
    const std::array<TCurrency, 16> Sums = ReadPayments(Payments);

    // The receipt.
    static const uint8_t ReceiptTypes[] = {0, 2, 1, 3};
    D.OpenReceipt(uint8_t(ReceiptTypes[OperationType - 1] + (AIsCorrection ? 128 : 0)));

    if (const pugi::xml_node C = Parameters.child("CorrectionData"); AIsCorrection && C) {
        D.SetFNRequisite(1173, int32_t(uint8_t(AttrInt(C, "Type", 0))));
        const std::string Date = AttrText(C, "Date");
        if (!Date.empty()) {
            const int64_t Day = Blank(Date) ? Today() : IsoDateDay(Date);
            if (Day < 0 || Day > int64_t(0xFFFFFFFF)) RaiseEquError(1004);
            D.SetFNRequisite(1178, IntToLEBytesN(uint64_t(Day), 4));
        }
        const std::string Number = AttrText(C, "Number");
        if (!Blank(Number)) Requisite(D, 1179, RequisiteText(1179, Number, true));
    }
    if (!Format12 && AgentType != -1) {
        if (AgentType < 0 || AgentType > 6) RaiseEquError(3023);
        D.SetFNRequisite(1057, int32_t(1 << AgentType));
    }
    if (const pugi::xml_node U = Parameters.child("UserAttribute")) {
        const std::string Name = AttrTrim(U, "Name"), Value = AttrText(U, "Value");
        if (!Name.empty() && !Value.empty()) Requisite(D, 1084, TextTLV(1085, Name, true) + TextTLV(1086, Value, true));
    }
    SendAgentData(Parameters.child("AgentData"), Parameters.child("VendorData"), true);
    if (!Blank(AdditionalAttribute)) Requisite(D, 1192, RequisiteText(1192, AdditionalAttribute, true));
    if (!Blank(CashierINN)) Requisite(D, 1203, RequisiteText(1203, NormalizeINN(CashierINN), false));
    if (const pugi::xml_node C = Parameters.child("CustomerDetail")) {
        const std::string Info = AttrTrim(C, "Info"), INN = AttrTrim(C, "INN");
        if (Format12) {
            std::string Block;
            const auto Add = [&Block, &C](int32_t ATag, const char* AName, bool AOem) {
                const std::string V = AttrTrim(C, AName);
                if (!V.empty()) Block += TextTLV(ATag, ATag == 1228 ? NormalizeINN(V) : V, AOem);
            };
            Add(1227, "Info", true);
            Add(1228, "INN", false);
            Add(1243, "DateOfBirth", false);
            Add(1244, "Citizenship", false);
            Add(1245, "DocumentTypeCode", false);
            Add(1246, "DocumentData", true);
            Add(1254, "Address", true);
            if (!Block.empty()) Requisite(D, 1256, Block);
        } else {
            if (!Info.empty()) Requisite(D, 1227, RequisiteText(1227, Info, true));
            if (!INN.empty()) Requisite(D, 1228, RequisiteText(1228, NormalizeINN(INN), false));
        }
    }
    if (const pugi::xml_node O = Parameters.child("OperationalAttribute"); Format12 && O) {
        std::string Block;
        const std::string DateTime = AttrTrim(O, "DateTime");
        if (!DateTime.empty()) {
            const int64_t T = ISODateToUnix(DateTime);
            if (T < 0 || T > int64_t(0xFFFFFFFF)) RaiseBadAttribute("DateTime", DateTime);
            Block += TDevice::SetTLV(1273, IntToLEBytesN(uint64_t(T), 4));
        }
        // The operation's identifier is a number of one byte in the storage.
        if (const std::string V = AttrTrim(O, "OperationID"); !V.empty()) {
            const std::optional<int64_t> ID = ParseInt(V);
            if (!ID || *ID < 0 || *ID > 255) RaiseBadAttribute("OperationID", V);
            Block += TDevice::SetTLV(1271, int32_t(*ID));
        }
        if (const std::string V = AttrTrim(O, "OperationData"); !V.empty()) Block += TextTLV(1272, V, true);
        if (!Block.empty()) Requisite(D, 1270, Block);
    }
    if (const pugi::xml_node I = Parameters.child("IndustryAttribute"); Format12 && I) {
        std::string Block;
        if (const std::string V = AttrTrim(I, "IdentifierFOIV"); !V.empty()) Block += TextTLV(1262, V, true);
        if (const std::string V = AttrTrim(I, "DocumentDate"); !V.empty()) Block += TextTLV(1263, V, false);
        if (const std::string V = AttrTrim(I, "DocumentNumber"); !V.empty()) Block += TextTLV(1264, V, true);
        if (const std::string V = AttrTrim(I, "AttributeValue"); !V.empty()) Block += TextTLV(1265, V, true);
        if (!Block.empty()) Requisite(D, 1261, Block);
    }

    ProcessPositions(Positions, State);

    if (!CustomerEmail.empty())
        Requisite(D, 1008, RequisiteText(1008, CustomerEmail, true));
    else if (!CustomerPhone.empty())
        Requisite(D, 1008, RequisiteText(1008, CustomerPhone, true));
    Requisite(D, 1021, RequisiteText(1021, S.FCashierName, true));
    if (!Blank(SenderEmail)) Requisite(D, 1117, RequisiteText(1117, SenderEmail, true));
    if (!ReceiptText.empty()) {
        std::vector<std::string> Lines;
        WrapText(ReceiptText, size_t(S.FLineLen > 0 ? S.FLineLen : D.LineLen()), Lines);
        for (const std::string& L : Lines) D.PrintFontString(7, Utf8ToAnsi(L), uint8_t(S.FSettings.ReceiptFontNumber));
    }

    // Close. The number of the last stored document tells afterwards whether
    // a close that reported a failure did store the receipt.
    TFNCurrentStatus Before;
    D.GetFNCurrentStatus(Before);
    S.FFiscalSign.clear();
    try {
        D.CloseCheckEx(Sums, TCurrency{}, State.Taxes, uint8_t(1u << TaxationSystem), {}, S.FFiscalSign, S.FDateTime);
    } catch (const std::exception& E) {
        LogError(std::string("Закрытие чека не подтверждено: ") + E.what());
        if (!RecoverClose(Before.DocumentNumber)) throw;
    }
    AClosed = true;

    // The receipt is registered: printing and cutting no longer decide the
    // result, and the output is read again after a link failure.
    try {
        Device().WaitForPrint();
        CutReceipt(false, true, -1);
    } catch (const std::exception& E) {
        LogError(std::string("Чек закрыт; печать или отрезка не завершены: ") + E.what());
    }
    std::string LastError;
    for (int Attempt = 0; Attempt < CloseReadAttempts; ++Attempt) {
        try {
            if (Attempt > 0) Reconnect();
            WriteDocumentOutputParameters(ADocumentOutputParameters);
            return;
        } catch (const std::exception& E) {
            LastError = E.what();
        }
    }
    throw std::runtime_error("Чек зарегистрирован в ККТ (фискальный признак " + S.FFiscalSign +
                             "), но его параметры не получены: " + LastError);
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
