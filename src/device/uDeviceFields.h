// Field encodings of the cash register's commands and answers: command
// codes, money and quantities, dates and times, device-table cell addresses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/uCurrency.h"

namespace fr {

// One byte for codes below 0x100, else 0xFF and the low byte (0xFF01 gives
// the two bytes 0xFF 0x01).
std::string CommandCode(uint16_t ACode);

// AValue * 10^ADecimals rounded to the nearest integer, ties to even, on the
// shortest decimal form of AValue (so 0.0000005 with 6 decimals is a tie and
// gives 0). NaN, infinities and results beyond int64 raise std::out_of_range.
int64_t ScaleHalfEven(double AValue, int ADecimals);

// Kopecks as a 5-byte LE integer. A negative amount or one beyond 5 bytes
// raises std::out_of_range instead of sending a wrapped number.
std::string MoneyToBytes(TCurrency AValue);
// Millionths as a 6-byte LE integer, with the same range rule.
std::string QuantityToBytes(double AValue);

// Day, month, year - 2000; hours, minutes, seconds.
std::string DateToBytes(int AYear, int AMonth, int ADay);
std::string TimeToBytes(int AHour, int AMinute, int ASecond);

// AValue as the one-byte / two-byte unsigned field it is sent in; a value
// that does not fit raises std::out_of_range "<AWhat> вне диапазона ..."
// instead of being sent cut.
uint8_t ByteField(int64_t AValue, const char* AWhat);
uint16_t WordField(int64_t AValue, const char* AWhat);

// Table (1 byte), row (2-byte LE), field (1 byte).
std::string TableCellBytes(uint8_t ATable, uint16_t ARow, uint8_t AField);

// Date and time as seconds since 1970 without time-zone conversion (the
// device clock's own local time); nullopt when the parts are not a real
// date and time (31 February, hour 24, ...).
std::optional<int64_t> EncodeDeviceDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond);

struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
TDateTimeParts DecodeDeviceDateTime(int64_t ASeconds);

}  // namespace fr
