// Marking-code commands: check a code in the fiscal storage, accept or
// reject it, clear the storage's buffer, bind a code to an item, read the
// marking work status.
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uDevice.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"

namespace fr {

namespace {

constexpr const char* CheckFailText = "Ошибка проверки маркированного товара";
constexpr int32_t StorageBusy = 4;  // the storage is still busy with a previous check
constexpr int32_t MaxCheckRetries = 3;
constexpr uint32_t CheckRetryPauseMs = 1000;

// Length fields of the check and bind commands are one byte.
uint8_t ShortLength(size_t ASize, const char* AWhat) {
    if (ASize > 255) throw std::length_error(std::string(AWhat) + " длиннее 255 байт");
    return uint8_t(ASize);
}

// Answer tags copied into the result record.
constexpr std::pair<int32_t, int32_t TKMResult::*> ResultTags[] = {
    {2005, &TKMResult::ProcessingResult}, {2100, &TKMResult::KMType},      {2105, &TKMResult::ProcessingCode},
    {2109, &TKMResult::StatusInfo},       {2114, &TKMResult::RequestDate},
};

int32_t TagInt(const TValue& AValue) {
    // Request dates are unsigned 32-bit seconds; their bits are kept.
    return int32_t(uint32_t(AValue.AsInt64()));
}

}  // namespace

std::string TDevice::EncodeFVLNQuantity(double AQuantity) {
    if (!std::isfinite(AQuantity) || AQuantity < 0)
        throw std::out_of_range("Количество для кода маркировки вне диапазона");
    constexpr const char* RangeText = "Количество для кода маркировки вне диапазона";
    // The shortest decimal form of the quantity, as digits and a count of
    // decimals (never an exponent): 120.75 is 12075 with 2 decimals.
    const std::string S = ShortestScientific(AQuantity);
    const size_t E = S.find('e');
    std::string Mantissa;
    for (size_t I = 0; I < E; ++I)
        if (S[I] != '.') Mantissa += S[I];
    const int Exponent = std::atoi(S.c_str() + E + 1);
    const int Places = int(Mantissa.size()) - 1 - Exponent;  // decimals when positive, else zeros to append
    const size_t Decimals = Places > 0 ? size_t(Places) : 0;
    const size_t Zeros = Places < 0 ? size_t(-Places) : 0;
    // The number must fit the 7 bytes of the field (below 2^56: at most 17 digits).
    if (Decimals > 255 || Mantissa.size() + Zeros > 17) throw std::out_of_range(RangeText);
    uint64_t N = 0;
    for (char C : Mantissa) N = N * 10 + uint64_t(C - '0');
    for (size_t I = 0; I < Zeros; ++I) N *= 10;
    if (N >= (uint64_t(1) << 56)) throw std::out_of_range(RangeText);
    return char(Decimals) + IntToLEBytesN(N, 7);
}

void TDevice::CheckMarkingCode(int32_t APlannedStatus, const std::string& AMarkingCode, double AQuantity,
                               int32_t AMeasureOfQuantity, int32_t ANumerator, int32_t ADenominator,
                               TKMResult& AKMResult) {
    // Whatever the outcome, the first result seen for a code is kept.
    struct TKeep {
        TDevice& D;
        const std::string& Code;
        TKMResult& Result;
        ~TKeep() { D.FKMListResult.try_emplace(Code, Result); }
    } Keep{*this, AMarkingCode, AKMResult};

    std::string Extra;
    if (APlannedStatus == 2 || APlannedStatus == 4) {
        Extra += SetTLV(2108, AMeasureOfQuantity);
        if (ANumerator != 0 && ANumerator < ADenominator && AMeasureOfQuantity == 0) {
            // A negative part would be sent as a huge unsigned number.
            if (ANumerator < 0) throw std::out_of_range("Числитель дробного количества вне диапазона");
            Extra += SetTLV(1291, SetTLV(1293, IntToLEBytesN(uint64_t(int64_t(ANumerator)), 8)) +
                                      SetTLV(1294, IntToLEBytesN(uint64_t(int64_t(ADenominator)), 8)));
            Extra += SetTLV(1023, EncodeFVLNQuantity(1));
        } else if (AQuantity != 0) {
            Extra += SetTLV(1023, EncodeFVLNQuantity(AQuantity));
        }
    }
    std::string Data{char(ByteField(APlannedStatus, "Планируемый статус товара")), '\0',
                     char(ShortLength(AMarkingCode.size(), "Код маркировки")),
                     char(ShortLength(Extra.size(), "Данные проверки кода маркировки"))};
    Data += AMarkingCode + Extra;

    int32_t Code = 0;
    for (;;) {
        Code = CheckResultCode(RunCommand(CommandCode(0xFF61), Data, 20000, true, true));
        if (Code != StorageBusy || FCheckMarkCount >= MaxCheckRetries) break;
        ++FCheckMarkCount;
        Sleep(CheckRetryPauseMs);
    }
    if (Code != 0) RaiseCommandError(CheckFailText, Code);
    using L = TMarkingCheckLayout;
    NeedLength(L::Size);

    AKMResult.LocalValidationResult = AnswerByte(L::LocalResult);
    FTagList.clear();
    const size_t BlockLength = AnswerByte(L::BlockLength);
    if (BlockLength == 0) return;
    std::string Block = AnswerBytes(L::Block, BlockLength);
    AKMResult.RequestStatus = Block[0] != 0 ? 2 : 0;
    if (Block.size() < 2) return;
    AKMResult.MarkingValidationResult = uint8_t(Block[1]);
    if (Block.size() == 2) return;
    try {
        std::string List = Block.substr(2);
        ReadTLVList(List, FTagList);
        for (const auto& [Tag, Value] : FTagList) {
            AKMResult.TLVList += std::to_string(Tag) + ";";
            for (const auto& [FieldTag, Field] : ResultTags)
                if (FieldTag == Tag) AKMResult.*Field = TagInt(Value);
        }
    } catch (const std::exception&) {
        RaiseProtocolError();
    }
}

void TDevice::AcceptMarkingCode(bool AIsAccepted) {
    Execute(0xFF69, std::string(1, AIsAccepted ? '\x01' : '\0'), "Ошибка принятия введенного кода маркировки");
}

void TDevice::ClearBufferKM() {
    Execute(0xFF69, std::string(1, '\x02'), "Ошибка очистки буфера проверенных кодов маркировки");
}

void TDevice::BindMarkingCode(const std::string& AMarkingCode, bool AGTINSale) {
    std::string Data = char(ShortLength(AMarkingCode.size(), "Код маркировки")) + AMarkingCode;
    if (AGTINSale) Data += '\xFF';
    Execute(0xFF67, Data, "Ошибка привязки маркированного товара к позиции", 20000);
}

void TDevice::GetMarkingCodeWorkStatus(int32_t& ACheckStatus, int32_t& ANotificationStatus, int32_t& ACommandFlags,
                                       int32_t& ACheckResultSavedCount, int32_t& ARealizationCount,
                                       int32_t& AStorageSize, int32_t& AMessageCount) {
    using L = TMarkingStatusLayout;
    Execute(0xFF70, {}, "Ошибка запроса статуса по работе с кодами маркировки");
    NeedLength(L::Size);
    ACheckStatus = AnswerByte(L::CheckStatus);
    ANotificationStatus = AnswerByte(L::NotificationStatus);
    ACommandFlags = AnswerByte(L::CommandFlags);
    ACheckResultSavedCount = AnswerByte(L::SavedResults);
    ARealizationCount = AnswerByte(L::Realizations);
    AStorageSize = AnswerByte(L::StorageSize);
    AMessageCount = int32_t(AnswerLE(L::Messages, L::MessagesSize));
}

}  // namespace fr
