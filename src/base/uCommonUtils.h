// Small stateless helpers shared by the driver layers: cleaning host XML,
// the byte and digit encodings of the device protocol, code pages, bits,
// loosely typed attribute values, word wrapping, dates and folders.
//
// "Bytes" are std::string whose chars are the byte values. Hex digits are
// written in upper case. Device text is Windows-1251 ("ANSI"); the fiscal
// storage keeps some texts in code page 866 ("OEM").
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/uCurrency.h"
#include "base/uValue.h"

namespace fr {

// ---- XML input ------------------------------------------------------------

// Drops the UTF-16 code units XML 1.0 forbids: below 32 only TAB, LF and CR
// stay; 32..0xD7FF and 0xE000..0xFFFD stay; everything else (both halves of
// a surrogate pair, 0xFFFE, 0xFFFF) goes.
std::u16string StripInvalidXmlChars(std::u16string_view S);
// The same rule on the code points of a UTF-8 text, so that both forms keep
// the same characters: code points above U+FFFF are dropped. Invalid UTF-8
// bytes become U+FFFD.
std::string StripInvalidXmlChars(std::string_view S);

// ---- Hex and byte encodings -------------------------------------------------

// Hex digits (either case, one trailing "H"/"h" allowed) to a number. Any
// other character, or an empty text, gives 0. Digits beyond sixteen shift
// the leading ones out: the result is the low 64 bits.
uint64_t HexToInt(std::string_view S);
// Two hex digits and ASeparator per byte, the separator after the last too.
std::string BytesToHexString(std::string_view AData, std::string_view ASeparator);
// Unsigned little-endian integer (first byte least significant); empty gives
// 0. Only the first eight bytes carry into the 64-bit result; the bytes
// after them are ignored (value modulo 2^64).
uint64_t LEBytesToInt(std::string_view S);
// AValue in at least ADigits hex digits (rounded up to an even count), as
// bytes least significant first: ADigits 8 gives 4 bytes, 10 gives 5. A
// value that needs more digits gets more bytes; a caller filling a fixed
// field uses IntToLEBytesN.
std::string IntToLEBytes(uint64_t AValue, int ADigits);
// Exactly ACount bytes, least significant first: the low ACount bytes of
// AValue (a negative number cast to uint64_t gives its two's complement).
std::string IntToLEBytesN(uint64_t AValue, int ACount);
// Exactly ACount bytes, most significant first: the low ACount bytes of
// AValue.
std::string IntToBEBytesN(uint64_t AValue, int ACount);
// The first 2*ACount hex digits of S (all of S for ACount 0), left-padded
// with "0" to that length (to an even length for ACount 0), one byte per
// digit pair in the order written. A character that is not a hex digit
// raises std::invalid_argument: a device field must never get a guessed value.
std::string HexToBytes(std::string_view S, int ACount);
// The first ACount bytes of S (all for ACount 0), left-padded with zero
// bytes to ACount, as 2*ACount hex digits.
std::string BytesToHex(std::string_view S, int ACount);
// Packed BCD (most significant digit first) of all bytes of P. A nibble
// above 9, or a number beyond int64_t, gives 0.
int64_t BCDToInt64(std::string_view P);
// AValue as packed BCD in ACount bytes, left-padded with zero digits (ACount
// 0: as many bytes as the digits need). A negative value, or one with more
// than 2*ACount digits, raises std::out_of_range instead of being cut.
std::string IntToBCD(int64_t AValue, int ACount);
// Roubles to kopecks (rounded to nearest, halves to even) as 6 bytes, least
// significant first; a negative amount in two's complement. An amount
// outside -2^47 .. 2^48-1 kopecks raises std::out_of_range.
std::string MoneyToBytes6(double AValue);

// ---- Base64 ----------------------------------------------------------------------

// Standard Base64 (RFC 4648 alphabet, "=" padding), one line.
std::string EncodeBase64(std::string_view AData);
// Standard Base64 to bytes. Line breaks, tabs and spaces are skipped and the
// padding may be left out; any other character, data after the padding, or a
// group that cannot hold a byte gives nullopt instead of a guessed value.
std::optional<std::string> DecodeBase64(std::string_view AText);

// ---- Bits ----------------------------------------------------------------------

// Bit ABit (0..63) of AValue; any other ABit reads as clear.
bool IsBitSet(int64_t AValue, int ABit);
// Set or clear one bit in place; a bit number outside the width is ignored.
void SetBit8(uint8_t& AByte, int ABit);
void SetBit32(uint32_t& AValue, int ABit);
void SetBitTo8(uint8_t& AByte, int ABit, bool AOn);
// The low 8 bits of AValue in reverse order (bit 0 becomes bit 7).
uint8_t ReverseBits8(uint32_t AValue);

// ---- Narrow text (bytes) -------------------------------------------------------

// S cut to ALength bytes when ACut, then padded with spaces to ALength.
std::string PadAnsiRight(std::string_view S, size_t ALength, bool ACut);
// S cut to ALength bytes, then padded with AChar to ALength.
std::string PadAnsiWith(std::string_view S, size_t ALength, char AChar);
// Code-page conversions. ANSI is Windows-1251, OEM is code page 866. A
// character without a mapping becomes "?"; the single-byte conversions keep
// the length, and every character of a UTF-8 text gives exactly one byte.
// None of them throws.
std::string AnsiToOem(std::string_view S);
std::string OemToAnsi(std::string_view S);
std::string Utf8ToAnsi(std::string_view S);
std::string AnsiToUtf8(std::string_view S);
std::string Utf8ToOem(std::string_view S);
std::string OemToUtf8(std::string_view S);
// Pieces of ALength bytes, the last one holding the rest; empty S gives none.
// ALength 0 gives S as one piece.
std::vector<std::string> SplitByLength(std::string_view S, size_t ALength);
// Decimal AValue left-padded with "0" to ALength characters; a minus sign
// stays in front ("-007").
std::string IntToStrZeroPad(int64_t AValue, size_t ALength);

// ---- Loosely typed values (XML attributes) ------------------------------------

// Null or empty gives ADefault; else the trimmed text as an integer, or
// ADefault when it is not one.
int64_t VarToIntDef(const TValue& V, int64_t ADefault);
// The text of V with every "," and "." turned into ".", trimmed.
std::string VarToFloatText(const TValue& V);
// Null or empty gives ADefault; a number its value; else VarToFloatText
// parsed, ADefault when that fails.
double VarToFloatDef(const TValue& V, double ADefault);
// Null or empty gives ADefault; a text VarToFloatText parsed exactly, 0 when
// that fails; a number converted (std::range_error when out of range).
TCurrency VarToCurrDef(const TValue& V, TCurrency ADefault);
// Null or empty gives ADefault; a text "True"/"False" in any letter case
// gives true/false, any other text ADefault; a non-text its truth value.
bool VarToBoolDef(const TValue& V, bool ADefault);

// ---- Files, dates, identifiers -------------------------------------------------

inline constexpr int CSIDL_APPDATA = 26;         // per-user application data
inline constexpr int CSIDL_COMMON_APPDATA = 35;  // machine-wide application data

// A folder path with exactly one trailing "/" added when missing, and with
// the trailing "/" removed (the root "/" stays).
std::string WithSlash(std::string S);
std::string WithoutSlash(std::string S);

// Machine-wide application-data folder with a trailing "/": /var/lib/, or the
// folder named by FR_ORVALEN1C8X3N_DATA_DIR when that is set (test isolation,
// read-only systems). Per-user fall-back: $XDG_DATA_HOME or ~/.local/share.
std::string CommonAppDataFolder();
std::string UserAppDataFolder();

// The folder with a trailing "/", created when missing: 35 the machine-wide
// application-data folder, 26 the per-user one. Any other number, or a
// machine-wide folder that cannot be created, gives the per-user folder.
// Raises std::runtime_error when the per-user folder cannot be determined or
// created either.
std::string GetSpecialFolder(int ACSIDL);
// ISO 8601 extended date and time, YYYY-MM-DDThh:mm:ss, optional fraction
// (dropped), optional zone (Z, +hh:mm, +hhmm, +hh or with "-"); no zone means
// UTC. Unix time in seconds. Anything else raises EquException 1004.
int64_t ISODateToUnix(std::string_view S);
// The computer's local time as seconds counted as if it were UTC, the way
// the device keeps its clock.
int64_t LocalNow();
// Seconds since 1970 (UTC) broken down into a calendar date and time of the
// proleptic Gregorian calendar, for any year (tm_year may be negative):
// computed here, since the systems' own gmtime refuses times before 1970
// or after 3000 on some of them.
struct tm UtcTimeOf(int64_t ASeconds);

// ---- Text layout -----------------------------------------------------------------

// Wraps a UTF-8 text into lines of at most AWidth characters (code points),
// breaking after the last space of a line where there is one, and appends
// them to ALines. The last line is appended as collected, also when empty.
void WrapText(std::string_view AText, size_t AWidth, std::vector<std::string>& ALines);

// A new GUID: 36 upper-case characters without braces.
std::string CreateGUIDString();

}  // namespace fr
