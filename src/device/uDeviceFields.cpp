#include "device/uDeviceFields.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
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

uint8_t ByteField(int64_t AValue, const char* AWhat) {
    if (AValue < 0 || AValue > 0xFF) throw std::out_of_range(std::string(AWhat) + " вне диапазона 0..255");
    return uint8_t(AValue);
}

uint16_t WordField(int64_t AValue, const char* AWhat) {
    if (AValue < 0 || AValue > 0xFFFF) throw std::out_of_range(std::string(AWhat) + " вне диапазона 0..65535");
    return uint16_t(AValue);
}

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

bool IsLeapYear(int64_t AYear) {
    return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0;
}

int DaysInMonth(int64_t AYear, int AMonth) {
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return AMonth == 2 && IsLeapYear(AYear) ? 29 : Days[AMonth - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (eras of 400 years).
int64_t DaysFromCivil(int64_t AYear, int AMonth, int ADay) {
    const int64_t Y = AYear - (AMonth <= 2 ? 1 : 0);
    const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
    const int64_t YearOfEra = Y - Era * 400;
    const int64_t DayOfYear = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
    const int64_t DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
    return Era * 146097 + DayOfEra - 719468;
}

void CivilFromDays(int64_t ADays, int64_t& AYear, int& AMonth, int& ADay) {
    const int64_t Z = ADays + 719468;
    const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const int64_t DayOfEra = Z - Era * 146097;
    const int64_t YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
    const int64_t DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
    const int64_t MonthIndex = (5 * DayOfYear + 2) / 153;
    ADay = int(DayOfYear - (153 * MonthIndex + 2) / 5 + 1);
    AMonth = int(MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9);
    AYear = YearOfEra + Era * 400 + (AMonth <= 2 ? 1 : 0);
}

}  // namespace

std::optional<int64_t> EncodeDeviceDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond) {
    if (AMonth < 1 || AMonth > 12 || ADay < 1 || ADay > DaysInMonth(AYear, AMonth)) return std::nullopt;
    if (AHour < 0 || AHour > 23 || AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 59) return std::nullopt;
    return DaysFromCivil(AYear, AMonth, ADay) * 86400 + AHour * 3600 + AMinute * 60 + ASecond;
}

TDateTimeParts DecodeDeviceDateTime(int64_t ASeconds) {
    int64_t Days = ASeconds / 86400, Rest = ASeconds % 86400;
    if (Rest < 0) {
        Rest += 86400;
        --Days;
    }
    int64_t Year = 0;
    int Month = 0, Day = 0;
    CivilFromDays(Days, Year, Month, Day);
    return {int(Year), Month, Day, int(Rest / 3600), int(Rest / 60 % 60), int(Rest % 60)};
}

}  // namespace fr
