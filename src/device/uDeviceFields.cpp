#include "device/uDeviceFields.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"

namespace fr {

std::string CommandCode(uint16_t ACode) {
    if (ACode < 0x100) return std::string(1, char(ACode));
    return std::string{char(0xFF), char(ACode & 0xFF)};
}

int64_t ScaleHalfEven(double AValue, int ADecimals) {
    if (!std::isfinite(AValue)) throw std::out_of_range("not a finite number");
    // The shortest text that reads back as AValue is the number the caller
    // meant; rounding its digits avoids binary artefacts (2.675 is 2.67499...).
    const std::string S = ShortestScientific(AValue);
    const size_t E = S.find('e');
    const bool Negative = S[0] == '-';
    std::string Digits;
    for (size_t I = Negative ? 1 : 0; I < E; ++I)
        if (S[I] != '.') Digits += S[I];
    // Value = 0.Digits * 10^(Exp + 1); scaled: the first (Exp + 1 + ADecimals) digits are whole.
    const int Whole = std::stoi(S.substr(E + 1)) + 1 + ADecimals;
    if (Whole > 19) throw std::out_of_range("number beyond the field");
    uint64_t Int = 0;  // at most 19 digits: fits
    for (int I = 0; I < Whole; ++I) Int = Int * 10 + uint64_t(I < int(Digits.size()) ? Digits[size_t(I)] - '0' : 0);
    // Rounding: compare the dropped digits with one half.
    int Cmp = -1;
    if (Whole >= 0 && Whole < int(Digits.size())) {
        const char First = Digits[size_t(Whole)];
        const bool RestZero = Digits.find_first_not_of('0', size_t(Whole) + 1) == std::string::npos;
        Cmp = First > '5' || (First == '5' && !RestZero) ? 1 : (First == '5' ? 0 : -1);
    } else if (Whole < 0 || Whole > int(Digits.size())) {
        Cmp = -1;
    }
    if (Cmp > 0 || (Cmp == 0 && (Int & 1))) ++Int;
    if (Int > uint64_t(INT64_MAX)) throw std::out_of_range("number beyond the field");
    return Negative ? -int64_t(Int) : int64_t(Int);
}

namespace {

std::string UnsignedField(int64_t AValue, int ABytes) {
    if (AValue < 0 || (ABytes < 8 && uint64_t(AValue) >> (8 * ABytes)))
        throw std::out_of_range("value does not fit its field");
    return IntToLEBytesN(uint64_t(AValue), ABytes);
}

}  // namespace

std::string MoneyToBytes(TCurrency AValue) {
    return UnsignedField(AValue.ToKopecks(), 5);
}

std::string QuantityToBytes(double AValue) {
    return UnsignedField(ScaleHalfEven(AValue, 6), 6);
}

std::string DateToBytes(int AYear, int AMonth, int ADay) {
    return std::string{char(ADay), char(AMonth), char(AYear % 100)};
}

std::string TimeToBytes(int AHour, int AMinute, int ASecond) {
    return std::string{char(AHour), char(AMinute), char(ASecond)};
}

std::string TableCellBytes(uint8_t ATable, uint16_t ARow, uint8_t AField) {
    return std::string(1, char(ATable)) + IntToLEBytesN(ARow, 2) + std::string(1, char(AField));
}

namespace {

// Proleptic Gregorian calendar (days counted from 1970-01-01).
bool IsLeapYear(int64_t Y) { return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0; }

int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
    Y -= M <= 2;
    const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
    const auto Yoe = unsigned(Y - Era * 400);
    const unsigned Doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
    const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
    return Era * 146097 + int64_t(Doe) - 719468;
}

void CivilFromDays(int64_t ADays, int64_t& Y, unsigned& M, unsigned& D) {
    const int64_t Z = ADays + 719468;
    const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const auto Doe = unsigned(Z - Era * 146097);
    const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
    const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
    const unsigned Mp = (5 * Doy + 2) / 153;
    D = Doy - (153 * Mp + 2) / 5 + 1;
    M = Mp < 10 ? Mp + 3 : Mp - 9;
    Y = int64_t(Yoe) + Era * 400 + (M <= 2);
}

}  // namespace

std::optional<int64_t> EncodeDeviceDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (AYear < -32767 || AYear > 32767 || AMonth < 1 || AMonth > 12 || ADay < 1) return std::nullopt;
    if (ADay > kDays[AMonth - 1] + (AMonth == 2 && IsLeapYear(AYear))) return std::nullopt;
    if (AHour < 0 || AHour > 23 || AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 59) return std::nullopt;
    return DaysFromCivil(AYear, unsigned(AMonth), unsigned(ADay)) * 86400 + AHour * 3600 + AMinute * 60 + ASecond;
}

TDateTimeParts DecodeDeviceDateTime(int64_t ASeconds) {
    int64_t Days = ASeconds / 86400, Rest = ASeconds % 86400;
    if (Rest < 0) {
        Rest += 86400;
        --Days;
    }
    int64_t Y = 0;
    unsigned M = 0, D = 0;
    CivilFromDays(Days, Y, M, D);
    return {int(Y), int(M), int(D), int(Rest / 3600), int(Rest / 60 % 60), int(Rest % 60)};
}

}  // namespace fr
