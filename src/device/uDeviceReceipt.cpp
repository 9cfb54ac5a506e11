// Receipt commands: open, items, requisites, close, cancel, the older
// correction receipt, cash in and out.
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"

namespace fr {

namespace {

constexpr size_t CloseTextSize = 64;
constexpr uint8_t MethodWithoutName = 3;  // an advance payment item carries no name on this device

std::string TagFailText(const char* AText, int32_t ATag) {
    return std::string(AText) + std::to_string(ATag);
}

// Tax sums 1 to 6 and 7 to 10 of the close and correction commands.
void AddTaxSums(std::string& AData, const TTaxSums& ATax, size_t AFirst, size_t AEnd) {
    for (size_t I = AFirst; I < AEnd; ++I) AData += MoneyToBytes(ATax[I]);
}

// Tax groups 11 and 12 (VAT 22% and 22/122) extend the close and correction
// commands the way groups 7 to 10 did: their two sums follow the tenth. They
// are sent only when one of them is not zero, so the command of a document
// without them stays as a device of ten groups knows it. docs/device.md is
// the place that records this encoding.
void AddNewRateTaxSums(std::string& AData, const TTaxSums& ATax) {
    if (ATax[10] == TCurrency{} && ATax[11] == TCurrency{}) return;
    AddTaxSums(AData, ATax, 10, 12);
}

}  // namespace

void TDevice::OpenReceipt(uint8_t APaymentType) {
    WaitForEndPrinting();
    Execute(0x8D, std::string(1, char(APaymentType)), "Ошибка команды открытия чека");
}

void TDevice::RegisterItem(uint8_t APaymentType, double AQuantity, TCurrency APrice, TCurrency ASum, TCurrency ATaxSum,
                           uint8_t ATax, uint8_t ADepartment, uint8_t ASignMethodCalculation,
                           uint8_t ASignCalculationObject, const std::string& AName) {
    std::string Data = char(APaymentType) + QuantityToBytes(AQuantity) + MoneyToBytes(APrice) + MoneyToBytes(ASum) +
                       MoneyToBytes(ATaxSum);
    Data += std::string{char(ATax), char(ADepartment), char(ASignMethodCalculation), char(ASignCalculationObject)};
    if (ASignMethodCalculation != MethodWithoutName) Data += AName;
    Execute(0xFF46, Data, "Ошибка регистрации товарной позиции");
}

std::string TDevice::SetTLV(int32_t ATag, const std::string& AValue) {
    const uint16_t Tag = WordField(ATag, "Номер реквизита");
    if (AValue.size() > 0xFFFF) throw std::length_error("Значение реквизита длиннее 65535 байт");
    return IntToLEBytesN(Tag, 2) + IntToLEBytesN(AValue.size(), 2) + AValue;
}

std::string TDevice::SetTLV(int32_t ATag, int32_t AValue) {
    if (AValue < 0 || AValue > 255)
        throw std::out_of_range("Значение реквизита " + std::to_string(ATag) + " вне диапазона 0..255");
    return SetTLV(ATag, std::string(1, char(AValue)));
}

void TDevice::SetFNRequisite(int32_t ATag, const std::string& AValue) {
    const std::string Fail = TagFailText("Ошибка передачи произвольной TLV структуры с тегом ", ATag);
    Execute(0xFF0C, SetTLV(ATag, AValue), Fail.c_str());
}

void TDevice::SetFNRequisite(int32_t ATag, int32_t AValue) {
    const std::string Fail = TagFailText("Ошибка передачи произвольной TLV структуры с тегом ", ATag);
    Execute(0xFF0C, SetTLV(ATag, AValue), Fail.c_str());
}

void TDevice::SetFNOperationRequisite(int32_t ATag, const std::string& AValue) {
    const std::string Fail =
        TagFailText("Ошибка передачи произвольной TLV структуры, привязанной к операции, с тегом ", ATag);
    Execute(0xFF4D, SetTLV(ATag, AValue), Fail.c_str());
}

void TDevice::SetFNOperationRequisite(int32_t ATag, int32_t AValue) {
    const std::string Fail =
        TagFailText("Ошибка передачи произвольной TLV структуры, привязанной к операции, с тегом ", ATag);
    Execute(0xFF4D, SetTLV(ATag, AValue), Fail.c_str());
}

void TDevice::SetFNOperationRequisiteUtf8(int32_t ATag, const std::string& AValue) {
    SetFNOperationRequisite(ATag, Utf8ToAnsi(AValue));
}

void TDevice::CloseCheckEx(const std::array<TCurrency, 16>& ASum, TCurrency ARoundSum, const TTaxSums& ATax,
                           uint8_t ATaxVariant, const std::string& AText, std::string& AFiscalSign,
                           int64_t& ADateTime) {
    AFiscalSign.clear();
    const int64_t Round = ARoundSum.ToKopecks();
    // One byte of kopecks: a larger rounding would be sent as another amount.
    if (Round < 0 || Round > 255) throw std::out_of_range("Сумма округления вне диапазона 0..2.55");
    std::string Data;
    for (const TCurrency& S : ASum) Data += MoneyToBytes(S);
    Data += char(Round);
    AddTaxSums(Data, ATax, 0, 6);
    Data += char(ATaxVariant);
    Data += PadAnsiWith(AText, CloseTextSize, '\0');
    AddTaxSums(Data, ATax, 6, 10);
    AddNewRateTaxSums(Data, ATax);
    WaitForEndPrinting();
    ExecuteAllowing(0xFF45, Data, "Ошибка команды закрытия чека", 80);
    using L = TCloseCheckLayout;
    NeedLength(L::Size);
    AFiscalSign = std::to_string(AnswerLE(L::FiscalSign, L::FiscalSignSize));
    GetDateTimeKKT(ADateTime);
}

void TDevice::CancelReceipt() {
    using L = TShortStateLayout;
    Execute(0x10, {}, "Ошибка команды короткого запроса состояния ККТ");
    // A status too short to show the flag counts as "no document open".
    if (FResponse.size() < L::Size) return;
    if ((AnswerByte(L::Mode) & L::DocumentOpen) == 0) return;
    Execute(0x88, {}, "Ошибка команды аннулирования чека");
}

void TDevice::ProcessCorrectionCheck(std::string& AFiscalSign, int64_t& ADocumentNumber, uint8_t ACorrectionType,
                                     uint8_t APaymentType, uint8_t ATaxVariant, TCurrency ACorrectionSum,
                                     TCurrency ACash, TCurrency AElectronicPayment, TCurrency APrePayment,
                                     TCurrency APostPayment, TCurrency ABarter, const TTaxSums& ATax,
                                     const std::string& ABaseCorrection, const std::string& ADocNumberCorrection,
                                     int64_t ACorrectionBaseDate, const std::string& ACashierName,
                                     const std::string& ACashierVATIN) {
    // The date as whole days since 1970; a 4-byte field holds 1970..2106.
    int64_t Day = ACorrectionBaseDate / 86400;
    if (ACorrectionBaseDate % 86400 < 0) --Day;
    const int64_t DateSeconds = Day * 86400;
    if (DateSeconds < 0 || DateSeconds > int64_t(0xFFFFFFFF))
        throw std::out_of_range("Дата документа основания коррекции вне диапазона");

    std::string Data{char(ACorrectionType), char(APaymentType)};
    for (TCurrency V : {ACorrectionSum, ACash, AElectronicPayment, APrePayment, APostPayment, ABarter})
        Data += MoneyToBytes(V);
    AddTaxSums(Data, ATax, 0, 6);
    Data += char(ATaxVariant);
    AddTaxSums(Data, ATax, 6, 10);
    AddNewRateTaxSums(Data, ATax);

    // The begin command fails on devices that need none; the document is
    // formed all the same.
    CheckResultCode(RunCommand(CommandCode(0xFF35), {}, 0, true, true));
    if (!ACashierName.empty()) SetFNRequisite(1021, ACashierName);
    if (!ACashierVATIN.empty()) SetFNRequisite(1203, ACashierVATIN);
    if (!ABaseCorrection.empty()) SetFNRequisite(1177, AnsiToOem(ABaseCorrection));
    SetFNRequisite(1178, IntToLEBytesN(uint64_t(DateSeconds), 4));
    if (!ADocNumberCorrection.empty()) SetFNRequisite(1179, AnsiToOem(ADocNumberCorrection));
    WaitForEndPrinting();
    Execute(0xFF4A, Data, "Ошибка команды формирования чека коррекции");
    using L = TCorrectionLayout;
    NeedLength(L::Size);
    const uint64_t Number = AnswerLE(L::DocumentNumber, L::FieldSize);
    AFiscalSign = std::to_string(AnswerLE(L::FiscalSign, L::FieldSize));
    ADocumentNumber = int64_t(Number);
}

void TDevice::Encash(TCurrency Summ) {
    if (Summ == TCurrency{}) return;
    const bool In = Summ > TCurrency{};
    const std::string Data = MoneyToBytes(In ? Summ : -Summ);
    WaitForEndPrinting();
    Execute(In ? 0x50 : 0x51, Data, "Ошибка команды внесения/изъятия");
}

}  // namespace fr
