// The operating system's side of text conversion, used only by uStrings.cpp
// and uCommonUtils.cpp. Linux converts with GLib and iconv, Windows with
// MultiByteToWideChar and WideCharToMultiByte (uTextCodecPosix.cpp,
// uTextCodecWin32.cpp); the rules for invalid input are the callers' and are
// the same on both.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace fr::codec {

// Each converter takes one piece of text without NUL characters and appends
// its conversion to AOut. None throws beyond std::bad_alloc.

// APaired holds no unpaired surrogate.
void AppendUtf8FromUtf16(std::u16string_view APaired, std::string& AOut);
// Every byte of APiece that starts no valid UTF-8 sequence (overlong forms,
// surrogates, values beyond U+10FFFF and truncated sequences included)
// becomes one U+FFFD.
void AppendUtf16FromUtf8(std::string_view APiece, std::u16string& AOut);
void AppendUtf32FromUtf8(std::string_view APiece, std::u32string& AOut);
// AValid holds Unicode scalar values only.
void AppendUtf8FromUtf32(std::u32string_view AValid, std::string& AOut);

// Whether S is valid UTF-8 in the sense above.
bool IsValidUtf8(std::string_view S);

// The Unicode character of every byte of a single-byte code page (1251,
// 866), NoChar where the page leaves a byte undefined (or the system does not
// know the page).
inline constexpr char32_t NoChar = 0xFFFFFFFF;
std::array<char32_t, 256> CodePageTable(unsigned ACodePage);

// Numbers without the process locale ("." as the decimal separator, whatever
// locale the host process set).
// The decimal number that is the whole of AText, or nullopt when something
// is left over or the value is out of range.
std::optional<double> ParseDecimal(const std::string& AText);
// The shortest text "d.ddde±XX" that reads back as exactly V.
std::string ShortestScientific(double V);

}  // namespace fr::codec
