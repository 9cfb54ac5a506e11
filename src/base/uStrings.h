// Text inside the library is UTF-8 in std::string. These helpers convert at
// the host border (UTF-16) and give the comparisons and number formats that
// do not depend on the process locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fr {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD; never throws.
std::string Utf16ToUtf8(std::u16string_view S);
// UTF-8 to UTF-16. An invalid byte sequence becomes U+FFFD; never throws.
std::u16string Utf8ToUtf16(std::string_view S);
// Length of a zero-terminated UTF-16 text; 0 for null.
size_t Utf16Length(const char16_t* S);

// Decodes UTF-8 into code points (invalid bytes become U+FFFD) and back.
std::u32string Utf8ToUtf32(std::string_view S);
std::string Utf32ToUtf8(std::u32string_view S);
// Number of code points of a UTF-8 text.
size_t Utf8Length(std::string_view S);

// Letter case of Latin and Cyrillic letters (the texts compared are setting
// and action names, partly Russian).
std::string LowerCase(std::string_view S);
std::string UpperCase(std::string_view S);
bool SameText(std::string_view A, std::string_view B);
// ASCII-only case folding, for names that are Latin by definition.
bool SameTextAscii(std::string_view A, std::string_view B);

// Removes leading and trailing characters up to and including the space.
std::string Trim(std::string_view S);

// Locale-independent numbers ("." as decimal separator). The parsers accept
// surrounding blanks and nothing else.
std::optional<int64_t> ParseInt(std::string_view S);
std::optional<double> ParseDouble(std::string_view S);
// The shortest text in the form d.ddde±XX that reads back as exactly V,
// written with "." whatever the process locale.
std::string ShortestScientific(double V);
// Up to ADigits significant digits (15 for a double, 7 for a float), no
// exponent for ordinary magnitudes, no trailing zeros ("12.5", "3", "-0.001").
std::string FormatDouble(double V, int ADigits = 15);

// A taxpayer number (ИНН) as the tax service issues them: 10 digits for an
// organisation or 12 for a person, the last one or two being check digits.
bool IsValidINN(std::string_view S);

// Replaces every occurrence of From by To.
std::string ReplaceAll(std::string S, std::string_view From, std::string_view To);

}  // namespace fr
