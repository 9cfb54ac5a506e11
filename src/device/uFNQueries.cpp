// Fiscal-storage queries of TDevice and the reading of stored documents.
#include <cstdio>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uDevice.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"

namespace fr {

namespace {

// A document is at most 64 KiB of records of at least four bytes each; a
// device that keeps answering beyond that is broken, not slow.
constexpr int MaxDocumentRecords = 0x4000;

}  // namespace

void TDevice::GetFNCurrentStatus(TFNCurrentStatus& AFNCurrentStatus) {
    using L = TFNStatusLayout;
    Execute(0xFF01, {}, "Ошибка команды запроса статуса ФН");
    // The last document number ends the layout: a shorter answer cannot
    // give it and is a protocol error rather than a guessed 0.
    NeedLength(L::Size);
    AFNCurrentStatus.FNLifeState = AnswerByte(L::LifeState);
    AFNCurrentStatus.FNCurrentDocument = AnswerByte(L::CurrentDocument);
    AFNCurrentStatus.FNDocumentData = AnswerByte(L::DocumentData);
    AFNCurrentStatus.FNSessionState = AnswerByte(L::SessionState);
    AFNCurrentStatus.FNWarningFlags = AnswerByte(L::Warnings);
    AFNCurrentStatus.DocumentNumber = int64_t(AnswerLE(L::DocumentNumber, L::DocumentNumberSize));
}

std::string TDevice::GetFNValidityDate() {
    using L = TFNValidityLayout;
    Execute(0xFF03, {}, "Ошибка запроса срока действия ФН");
    NeedLength(L::Size);
    char Buf[40];
    std::snprintf(Buf, sizeof Buf, "20%.2d-%.2d-%.2dT00:00:00", AnswerByte(L::Year), AnswerByte(L::Month),
                  AnswerByte(L::Day));
    return Buf;
}

void TDevice::GetFFDVersionFN(std::string& AFNVersion) {
    using L = TFNVersionLayout;
    if (CheckResultCode(RunCommand(CommandCode(0xFF04), {}, 0, true, true)) != 0 || FResponse.size() < L::Size)
        RaiseProtocolError();
    const std::string Text = AnswerBytes(L::Text, L::TextSize);
    auto Has = [&Text](const char* A, const char* B) {
        return Text.find(A) != std::string::npos || Text.find(B) != std::string::npos;
    };
    if (Has("1_0", "1.0"))
        AFNVersion = "1.0";
    else if (Has("1_1", "1.1"))
        AFNVersion = "1.1";
    else if (Has("1_2", "1.2"))
        AFNVersion = "1.2";
    else
        AFNVersion = "1.0";
}

void TDevice::GetFiscalizationParameters(int64_t& AFiscDateTime, std::string& AUserINN, std::string& ARegNum,
                                         int32_t& ATaxSystem, int64_t& ADocNumber, uint8_t& AExtSigns) {
    using L = TFiscalizationLayout;
    Execute(0xFF09, {}, "Ошибка команды запроса итогов фискализации ФН");
    NeedLength(L::Size);
    if (FResponse.size() > L::ShortLayoutMax) NeedLength(L::LongSize);
    const std::optional<int64_t> D =
        EncodeDeviceDateTime(2000 + AnswerByte(L::Year), AnswerByte(L::Month), AnswerByte(L::Day), AnswerByte(L::Hour),
                             AnswerByte(L::Minute), 0);
    if (D) AFiscDateTime = *D;
    AUserINN = Trim(AnswerBytes(L::INN, L::INNSize));
    ARegNum = Trim(AnswerBytes(L::RegNumber, L::RegNumberSize));
    ATaxSystem = AnswerByte(L::TaxSystem);
    const size_t DocNumber = FResponse.size() <= L::ShortLayoutMax ? L::ShortDocNumber : L::LongDocNumber;
    ADocNumber = int64_t(AnswerLE(DocNumber, L::DocNumberSize));
    if (FFFDVersion == ffd12) AExtSigns = AnswerByte(L::ShortDocNumber);
}

void TDevice::GetFNInfoExchangeStatus(int32_t& ADocCount, int64_t& ADocFirstNumber, int64_t& ADocFirstDateTime) {
    using L = TExchangeStatusLayout;
    Execute(0xFF39, {}, "Ошибка команды получения статуса информационного обмена");
    NeedLength(L::Size);
    ADocCount = int32_t(AnswerLE(L::DocCount, L::DocCountSize));
    ADocFirstNumber = int64_t(AnswerLE(L::FirstNumber, L::FirstNumberSize));
    const std::optional<int64_t> D =
        EncodeDeviceDateTime(2000 + AnswerByte(L::Year), AnswerByte(L::Month), AnswerByte(L::Day), AnswerByte(L::Hour),
                             AnswerByte(L::Minute), 0);
    if (D) ADocFirstDateTime = *D;
}

int32_t TDevice::GetFNRequestFiscalDocumentTLV(int64_t ADocNumber, int32_t& ADocType, int32_t& ADocLength) {
    using L = TDocumentRequestLayout;
    // Document numbers are 4 unsigned bytes: another number would ask for
    // a different document.
    if (ADocNumber < 0 || ADocNumber > int64_t(0xFFFFFFFF))
        throw std::out_of_range("Номер фискального документа вне диапазона 0..4294967295");
    WaitForEndPrinting();
    const int32_t R =
        CheckResultCode(RunCommand(CommandCode(0xFF3A), IntToLEBytesN(uint64_t(ADocNumber), 4), 0, true, true));
    if (R != 0) return R;
    // Success without the document's type and length is no answer to read by.
    if (FResponse.size() < L::Size) return 1014;
    ADocType = int32_t(AnswerLE(L::Type, L::FieldSize));
    ADocLength = int32_t(AnswerLE(L::Length, L::FieldSize));
    return R;
}

void TDevice::GetFNReadFiscalDocumentTLV(std::string& AData) {
    Execute(0xFF3B, {}, "Ошибка команды чтения документа в TLV");
    AData = FResponse.substr(1);
}

void TDevice::UnlockDataOutputMode() {
    uint8_t Mode = 0;
    GetStateKKT(Mode);
    if (Mode != 1) return;
    std::string Data;
    for (int I = 0; I < MaxDocumentRecords; ++I) {
        GetFNReadFiscalDocumentTLV(Data);
        if (Data.empty()) return;
    }
    RaiseProtocolError();
}

std::string TDevice::GetTLVData(const std::string& AValue, int32_t ALen) {
    if (AValue.size() <= 4) return {};
    return ALen > 0 ? AValue.substr(4, size_t(ALen)) : AValue.substr(4);
}

void TDevice::ReadTLVList(std::string& AData, std::map<int32_t, TValue>& ATagList) {
    fr::ReadTLVList(AData, ATagList);
}

int32_t TDevice::GetFiscalTagList(int64_t ADocNumber, int32_t& ADocumentType) {
    FDocElementList.clear();
    int32_t Length = 0;
    const int32_t R = GetFNRequestFiscalDocumentTLV(ADocNumber, ADocumentType, Length);
    bool Read = R == 0;
    if (R == 115) {
        // The device refuses a new request while a document waits to be read out.
        uint8_t Mode = 0;
        GetStateKKT(Mode);
        Read = Mode == 1;
    }
    if (!Read) return R;
    std::string Record;
    for (int I = 0;; ++I) {
        if (I == MaxDocumentRecords) RaiseProtocolError();
        GetFNReadFiscalDocumentTLV(Record);
        if (Record.empty()) break;
        AddDocumentRecord(Record, FDocElementList);
    }
    return R;
}

TValue TDevice::GetTagValue(int32_t Tag) const {
    for (const TDocElement& E : FDocElementList)
        if (E.Tag == Tag) return E.Value;
    return TValue(std::string());
}

TFFDVersion TDevice::GetFFD() {
    int64_t FiscDateTime = 0, DocNumber = 0;
    std::string INN, RegNum;
    int32_t TaxSystem = 0, DocType = 0;
    uint8_t ExtSigns = 0;
    GetFiscalizationParameters(FiscDateTime, INN, RegNum, TaxSystem, DocNumber, ExtSigns);
    if (GetFiscalTagList(DocNumber, DocType) == 0) {
        const int64_t V = ParseInt(GetTagValue(1209).AsText()).value_or(-1);
        if (V >= 1 && V <= 4) return TFFDVersion(V - 1);
    }
    uint8_t Number = 0;
    GetFieldAsByte(FFDNumberCell, Number);
    if (Number == 0) Number = 1;
    // A number beyond the known versions is a newer format: the latest we know.
    return Number > 4 ? ffd12 : TFFDVersion(Number - 1);
}

void TDevice::GetDocumentFromFN(int32_t ADocNumber, pugi::xml_node AOutputParameters) {
    TFNCurrentStatus Status;
    GetFNCurrentStatus(Status);
    int32_t DocType = 0;
    const int32_t R = GetFiscalTagList(ADocNumber > 0 ? ADocNumber : Status.DocumentNumber, DocType);
    if (R != 0) RaiseDeviceError(R, "Ошибка извлечения данных из ФН. " + GetDeviceErrorDescription(R));
    BuildCheckPackage(FDocElementList, DocType, AOutputParameters);
}

}  // namespace fr
