// Values of the host's check and text-document packages: attribute readers
// that refuse malformed amounts, the list of VAT rates, Base64, phone lists
// and the length limits of the fiscal-storage texts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/uCurrency.h"

namespace fr {

// ---- attributes ----------------------------------------------------------------

// The attribute's text as written; empty when it is missing.
std::string AttrText(pugi::xml_node ANode, const char* AName);
// The same, trimmed.
std::string AttrTrim(pugi::xml_node ANode, const char* AName);
// Missing, empty or not an integer: ADefault.
int64_t AttrInt(pugi::xml_node ANode, const char* AName, int64_t ADefault);
// Missing or empty: ADefault. Otherwise an optional minus sign, digits and at
// most one decimal separator ("." or ","); anything else (letters, an
// exponent, two separators) raises EquException 1004 naming the attribute
// and its value, so that a malformed amount never reaches the fiscal storage
// as a default.
TCurrency AttrMoney(pugi::xml_node ANode, const char* AName, TCurrency ADefault = {});
double AttrQuantity(pugi::xml_node ANode, const char* AName, double ADefault);
// EquException 1004 "Ошибка входных параметров команды. Недопустимое значение
// атрибута <AName>: «<AValue>»".
[[noreturn]] void RaiseBadAttribute(std::string_view AName, std::string_view AValue);

// The date of an ISO 8601 date ("2026-12-01") or date-time as seconds since
// 1970 at its midnight; a blank text is today. A date the 4 bytes of the
// storage cannot hold raises the 1004 of RaiseBadAttribute naming Date.
int64_t CorrectionDate(const std::string& AText);

// ---- Base64 ---------------------------------------------------------------------

// The decoded bytes of attribute AName; a value that does not decode raises
// the 1004 of RaiseBadAttribute.
std::string AttrBase64(pugi::xml_node ANode, const char* AName);

// ---- VAT rates ------------------------------------------------------------------

// The VAT rate texts whose 1-based position is the device's tax number.
class TTaxValues {
public:
    TTaxValues();
    // Position of ATaxValue (compared ignoring case), 0 when it is not there.
    int32_t IDOfTax(std::string_view ATaxValue) const;
    // Tax group 1..12 of a position (0 for 0).
    static int32_t TaxGroup(int32_t AID);
    // Tax byte of an item: groups 1..6 one bit each, 7..12 81h, 82h, 84h,
    // 88h, 90h, A0h.
    static uint8_t TaxByte(int32_t AGroup);
    // Rates "0" and "none" add the item sum to their tax sum, the others the
    // item's tax amount.
    static bool AddsItemSum(int32_t AID) { return AID == 4 || AID == 5; }

private:
    std::vector<std::string> FValues;
};

// ---- texts --------------------------------------------------------------------

// Parts of APhones split at ";" and ",", empty ones dropped, each turned into
// "+" and its decimal digits, joined with ";".
std::string NormalizePhones(std::string_view APhones);
// Splits at ";" keeping empty parts; an empty text gives none.
std::vector<std::string> SplitPhones(std::string_view APhones);
// The longest text the fiscal storage keeps in tag ATag, in characters; 0
// when the tag has no text limit of its own here.
size_t MaxTextLength(int32_t ATag);
// AText (UTF-8) cut to the limit of ATag and converted to the device code
// page: OEM (866) when AOem, else ANSI (1251).
std::string RequisiteText(int32_t ATag, std::string_view AText, bool AOem);
// Room for a requisite's value in one command frame of the device.
inline constexpr size_t MaxRequisiteBytes = 245;
// A requisite value longer than one command frame takes raises EquException
// 1004 naming the tag, instead of a link failure half-way through a receipt.
void CheckRequisiteSize(int32_t ATag, const std::string& AValue);
// The first AChars characters of a UTF-8 text.
std::string CutUtf8(std::string_view AText, size_t AChars);

}  // namespace fr
