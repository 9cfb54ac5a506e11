// Fiscal documents in tag-length-value form: the value types of the known
// requisites, their decoding into typed values, the walk through nested
// structures, and the conversion of a stored receipt into the host's
// CheckPackage XML.
//
// A TLV record is a 2-byte little-endian tag, a 2-byte little-endian length
// n and n value bytes. Texts of the fiscal storage are in code page 866; the
// decoded texts here are UTF-8 like every text inside the library.
#pragma once

#include <cstdint>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/uCurrency.h"
#include "base/uValue.h"

namespace fr {

enum TFFD : uint8_t {
    ffdUnknown,
    ffdString,
    ffdInteger,
    ffdRegister,
    ffdUnixTime,
    ffdUInt32,
    ffdByte,
    ffdBytes,
    ffdVLN,
    ffdFVLN,
    ffdSTLV
};

// Where a requisite belongs: to the document, or to one item of a receipt.
enum TTagSection : uint8_t { tsMain, tsGoodPosition };

// One decoded requisite of a stored document. Value always holds text.
class TDocElement {
public:
    TDocElement(int32_t ATag, std::string AReqName, TFFD ADataType, std::string AValue, TTagSection ATagSection)
        : Tag(ATag),
          ReqName(std::move(AReqName)),
          DataType(ADataType),
          Value(std::move(AValue)),
          TagSection(ATagSection) {}
    int32_t Tag;
    std::string ReqName;  // short name of the tag table; empty for unknown tags
    TFFD DataType;
    TValue Value;
    TTagSection TagSection;
};

using TDocElementList = std::vector<TDocElement>;

struct TFiscalTagInfo {
    int32_t Tag;
    TFFD DataType;
    const char* ReqName;
};

// The driver's table of known requisites (206 tags); nullptr for others.
const TFiscalTagInfo* FindFiscalTagInfo(int32_t ATag);
size_t FiscalTagTableSize();

// Tag of a record or value (LE integer of its first two bytes), with its
// name and type from the table. False, with ATag still set (0 when AValue
// has fewer than two bytes), empty name and ffdUnknown, for a tag not in
// the table.
bool FindTag(std::string_view AValue, int32_t& ATag, std::string& AReqName, TFFD& ADataType);

// Value of an "ffdVLN" (kopecks) and an "ffdFVLN" (first byte: number of
// decimals) requisite. GetVLN raises EquException 1014 when the amount cannot
// be held as a four-decimal value; GetFVLN rounds decimals beyond the fourth.
TCurrency GetVLN(std::string_view AValue);
TCurrency GetFVLN(std::string_view AValue);

// Decodes the value bytes of one requisite; ALen is the value length when the
// caller knows it (0 otherwise). Tags 1054 and 1055 give an integer (the
// first byte), ffdUnixTime a 64-bit integer of seconds, every other case a
// text. Fixed-size types shorter than their size decode the bytes present.
TValue GetTLVValue(std::string_view AValue, int32_t ATag, TFFD ADataType, int32_t ALen);

// The text an element keeps for a value: GetTLVValue with the value's own
// length, so registers read as numbers.
std::string TLVValueText(std::string_view AValue, int32_t ATag, TFFD ADataType);

// Splits the first record off AData: its tag and its value (a view into
// AData), and advances AData past it. False when AData is empty. A fragment
// shorter than the 4-byte header or a length beyond the data raises
// EquException 1014: a broken list is never decoded from guessed bytes.
bool NextTLVRecord(std::string_view& AData, int32_t& ATag, std::string_view& AValue);

// Decodes a list of TLV records into ATagList (cleared first) and empties
// AData. Unknown tags are decoded as ffdUnknown. A broken list raises
// EquException 1014; a tag that occurs twice raises std::runtime_error.
void ReadTLVList(std::string& AData, std::map<int32_t, TValue>& ATagList);

// Adds the elements of one top-level record of a stored document to AList:
// an unknown tag is skipped; a structure adds its own element (empty value)
// and then its contents; any other record one element with its value.
void AddDocumentRecord(std::string_view ARecord, TDocElementList& AList);

// Adds the contents of a structure AEnclosingTag: nested structures are
// walked without an element of their own; the requisites of an item (1059)
// or of a product code (1163) go to tsGoodPosition. Fewer than 5 bytes left
// end the walk.
void AddStructureElements(std::string_view ABytes, int32_t AEnclosingTag, TDocElementList& AList);

// Seconds since 1970 as "yyyy-mm-ddThh:nn:ss", without time-zone conversion.
std::string UnixTimeToXmlDateTime(int64_t ASeconds);

// Base64 with CR LF after every 76 output characters.
std::string EncodeBase64Lines(std::string_view AData);

// Appends "CheckPackage" with "Parameters", "Payments" and "Positions" made
// from the elements of a stored receipt to AOutput. "TaxationSystem" is the
// number of the check package (the bit set in the stored taxation-system
// byte), so that it reads back as the host sent it.
void BuildCheckPackage(const TDocElementList& AList, int32_t ADocumentType, pugi::xml_node AOutput);

}  // namespace fr
