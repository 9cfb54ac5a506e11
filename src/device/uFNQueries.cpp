// Fiscal-storage queries of TDevice and the reading of stored documents.
#include <cstdio>
#include <stdexcept>

#include "device/uDevice.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"
#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"

namespace fr {

namespace {

// A document is at most 64 KiB of records of at least four bytes each; a
// device that keeps answering beyond that is broken, not slow.
constexpr int MaxDocumentRecords = 0x4000;

[[noreturn]] void RaiseProtocolError() {
    throw EquException(1014, "Ошибка протокола обмена");
}

}  // namespace

void TDevice::GetFNCurrentStatus(TFNCurrentStatus& AFNCurrentStatus) {
    Execute(0xFF01, {}, "Ошибка команды запроса статуса ФН");
    // The last document number ends at offset 30: a shorter answer cannot
    // give it and is a protocol error rather than a guessed 0.
    NeedLength(31);
    AFNCurrentStatus.FNLifeState = AnswerByte(1);
    AFNCurrentStatus.FNCurrentDocument = AnswerByte(2);
    AFNCurrentStatus.FNDocumentData = AnswerByte(3);
    AFNCurrentStatus.FNSessionState = AnswerByte(4);
    AFNCurrentStatus.FNWarningFlags = AnswerByte(5);
    AFNCurrentStatus.DocumentNumber = int64_t(AnswerLE(27, 4));
}

std::string TDevice::GetFNValidityDate() {
    Execute(0xFF03, {}, "Ошибка запроса срока действия ФН");
    NeedLength(4);
    char Buf[40];
    std::snprintf(Buf, sizeof Buf, "20%.2d-%.2d-%.2dT00:00:00", AnswerByte(1), AnswerByte(2), AnswerByte(3));
    return Buf;
}

void TDevice::GetFFDVersionFN(std::string& AFNVersion) {
    if (CheckResultCode(RunCommand(CommandCode(0xFF04), {}, 0, true, true)) != 0 || FResponse.size() <= 17)
        RaiseProtocolError();
    const std::string Text = FResponse.substr(1, 16);
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
    Execute(0xFF09, {}, "Ошибка команды запроса итогов фискализации ФН");
    NeedLength(48);
    const std::optional<int64_t> D =
        EncodeDeviceDateTime(2000 + AnswerByte(1), AnswerByte(2), AnswerByte(3), AnswerByte(4), AnswerByte(5), 0);
    if (D) AFiscDateTime = *D;
    AUserINN = Trim(AnswerBytes(6, 12));
    ARegNum = Trim(AnswerBytes(18, 20));
    ATaxSystem = AnswerByte(38);
    // Short answers carry the document number at 40, the longer layout at 57.
    ADocNumber = int64_t(FResponse.size() <= 52 ? AnswerLE(40, 4) : AnswerLE(57, 4));
    if (FFFDVersion == ffd12) AExtSigns = AnswerByte(40);
}

void TDevice::GetFNInfoExchangeStatus(int32_t& ADocCount, int64_t& ADocFirstNumber, int64_t& ADocFirstDateTime) {
    Execute(0xFF39, {}, "Ошибка команды получения статуса информационного обмена");
    NeedLength(14);
    ADocCount = int32_t(AnswerLE(3, 2));
    ADocFirstNumber = int64_t(AnswerLE(5, 4));
    const std::optional<int64_t> D =
        EncodeDeviceDateTime(2000 + AnswerByte(9), AnswerByte(10), AnswerByte(11), AnswerByte(12), AnswerByte(13), 0);
    if (D) ADocFirstDateTime = *D;
}

int32_t TDevice::GetFNRequestFiscalDocumentTLV(int32_t ADocNumber, int32_t& ADocType, int32_t& ADocLength) {
    WaitForEndPrinting();
    const int32_t R =
        CheckResultCode(RunCommand(CommandCode(0xFF3A), IntToLEBytesN(uint32_t(ADocNumber), 4), 0, true, true));
    if (R == 0 && FResponse.size() > 4) {
        ADocType = int32_t(AnswerLE(1, 2));
        ADocLength = int32_t(AnswerLE(3, 2));
    }
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
    const int32_t R = GetFNRequestFiscalDocumentTLV(int32_t(ADocNumber), ADocumentType, Length);
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
    GetFieldAsByte(17, 1, 17, Number);
    if (Number == 0) Number = 1;
    // A number beyond the known versions is a newer format: the latest we know.
    return Number > 4 ? ffd12 : TFFDVersion(Number - 1);
}

void TDevice::GetDocumentFromFN(int32_t ADocNumber, pugi::xml_node AOutputParameters) {
    TFNCurrentStatus Status;
    GetFNCurrentStatus(Status);
    int32_t DocType = 0;
    const int32_t R = GetFiscalTagList(ADocNumber > 0 ? ADocNumber : Status.DocumentNumber, DocType);
    if (R != 0) throw std::runtime_error("Ошибка извлечения данных из ФН. " + GetDeviceErrorDescription(R));
    BuildCheckPackage(FDocElementList, DocType, AOutputParameters);
}

}  // namespace fr
