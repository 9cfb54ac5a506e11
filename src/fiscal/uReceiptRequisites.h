// Fiscal-storage requisites as the receipt logic sends them: requisites of
// the whole document (0xFF 0x0C) and of the item registered last
// (0xFF 0x4D), each within one command frame; TLVs of texts in the code page
// the storage keeps; and the optional requisite elements of the check
// package, read from one table.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>

#include "device/uDevice.h"

namespace fr {

// True when AText is empty after trimming.
bool Blank(const std::string& AText);

// One TLV of AText (UTF-8) cut to the length of ATag, in code page 866 when
// AOem, else 1251. The storage keeps texts in 866 and gives them back so: a
// text a person writes (names, e-mails, free attributes) goes there in 866,
// or its Cyrillic letters come back as other letters.
std::string TextTLV(int32_t ATag, const std::string& AText, bool AOem);

// A requisite of the whole document and one of the item registered last. A
// value longer than one command frame takes is refused with 1004 naming the
// tag before anything is sent.
void SendRequisite(TDevice& ADevice, int32_t ATag, const std::string& AValue);
void SendItemRequisite(TDevice& ADevice, int32_t ATag, const std::string& AValue);

// The optional elements CustomerDetail, OperationalAttribute and
// IndustryAttribute of a receipt's Parameters. Format 1.2 sends each present
// element as one block (1256, 1270, 1261) of the attributes that are not
// empty, when there is any; the older formats send the customer's name and
// INN each on its own (1227, 1228) and nothing of the other two.
void SendReceiptBlocks(TDevice& ADevice, pugi::xml_node AParameters, bool AFormat12);

// The industry requisite of the item registered last: each attribute of
// AIndustryAttribute that is not empty as an item requisite of its own.
void SendItemIndustryAttributes(TDevice& ADevice, pugi::xml_node AIndustryAttribute);

}  // namespace fr
