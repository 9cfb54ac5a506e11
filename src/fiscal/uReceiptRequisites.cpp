#include "fiscal/uReceiptRequisites.h"

#include <optional>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"
#include "fiscal/uReceiptValues.h"

namespace fr {

namespace {

// How an attribute's text becomes the value of its TLV.
enum class TFieldValue : uint8_t {
    Ansi,     // text in code page 1251
    Oem,      // text in code page 866
    INN,      // an INN, a company's padded to 12 characters
    Seconds,  // an ISO 8601 date-time as 4 bytes of seconds since 1970
    Byte,     // an integer 0..255 as one byte
};

struct TBlockField {
    const char* Attribute;
    int32_t Tag;
    TFieldValue Value;
    bool AloneBefore12;  // the older formats send it as a requisite of its own
};

// An optional element of the check package and the block tag format 1.2
// sends its attributes in.
struct TRequisiteBlock {
    const char* Element;
    int32_t Tag;
    const TBlockField* Fields;
    size_t Count;
};

constexpr TBlockField CustomerFields[] = {
    {"Info", 1227, TFieldValue::Oem, true},
    {"INN", 1228, TFieldValue::INN, true},
    {"DateOfBirth", 1243, TFieldValue::Ansi, false},
    {"Citizenship", 1244, TFieldValue::Ansi, false},
    {"DocumentTypeCode", 1245, TFieldValue::Ansi, false},
    {"DocumentData", 1246, TFieldValue::Oem, false},
    {"Address", 1254, TFieldValue::Oem, false},
};
constexpr TBlockField OperationalFields[] = {
    {"DateTime", 1273, TFieldValue::Seconds, false},
    // The operation's identifier is a number of one byte in the storage.
    {"OperationID", 1271, TFieldValue::Byte, false},
    {"OperationData", 1272, TFieldValue::Oem, false},
};
constexpr TBlockField IndustryFields[] = {
    {"IdentifierFOIV", 1262, TFieldValue::Oem, false},
    {"DocumentDate", 1263, TFieldValue::Ansi, false},
    {"DocumentNumber", 1264, TFieldValue::Oem, false},
    {"AttributeValue", 1265, TFieldValue::Oem, false},
};

template <size_t N>
constexpr TRequisiteBlock Block(const char* AElement, int32_t ATag, const TBlockField (&AFields)[N]) {
    return {AElement, ATag, AFields, N};
}

// In the order the receipt sends them.
constexpr TRequisiteBlock ReceiptBlocks[] = {
    Block("CustomerDetail", 1256, CustomerFields),
    Block("OperationalAttribute", 1270, OperationalFields),
    Block("IndustryAttribute", 1261, IndustryFields),
};

// The value of a field's TLV from the attribute's trimmed, non-empty text.
std::string FieldValue(const TBlockField& AField, const std::string& AText) {
    switch (AField.Value) {
        case TFieldValue::Ansi:
            return RequisiteText(AField.Tag, AText, false);
        case TFieldValue::Oem:
            return RequisiteText(AField.Tag, AText, true);
        case TFieldValue::INN:
            return RequisiteText(AField.Tag, TDriver::NormalizeINN(AText), false);
        case TFieldValue::Seconds: {
            const int64_t T = ISODateToUnix(AText);
            if (T < 0 || T > int64_t(0xFFFFFFFF)) RaiseBadAttribute(AField.Attribute, AText);
            return IntToLEBytesN(uint64_t(T), 4);
        }
        case TFieldValue::Byte: {
            const std::optional<int64_t> V = ParseInt(AText);
            if (!V || *V < 0 || *V > 255) RaiseBadAttribute(AField.Attribute, AText);
            return std::string(1, char(*V));
        }
    }
    return {};
}

}  // namespace

bool Blank(const std::string& AText) {
    return Trim(AText).empty();
}

std::string TextTLV(int32_t ATag, const std::string& AText, bool AOem) {
    return TDevice::SetTLV(ATag, RequisiteText(ATag, AText, AOem));
}

void SendRequisite(TDevice& ADevice, int32_t ATag, const std::string& AValue) {
    CheckRequisiteSize(ATag, AValue);
    ADevice.SetFNRequisite(ATag, AValue);
}

void SendItemRequisite(TDevice& ADevice, int32_t ATag, const std::string& AValue) {
    CheckRequisiteSize(ATag, AValue);
    ADevice.SetFNOperationRequisite(ATag, AValue);
}

void SendReceiptBlocks(TDevice& ADevice, pugi::xml_node AParameters, bool AFormat12) {
    for (const TRequisiteBlock& B : ReceiptBlocks) {
        const pugi::xml_node Element = AParameters.child(B.Element);
        if (!Element) continue;
        std::string Block;
        for (size_t I = 0; I < B.Count; ++I) {
            const TBlockField& F = B.Fields[I];
            const std::string Text = AttrTrim(Element, F.Attribute);
            if (Text.empty()) continue;
            if (AFormat12)
                Block += TDevice::SetTLV(F.Tag, FieldValue(F, Text));
            else if (F.AloneBefore12)
                SendRequisite(ADevice, F.Tag, FieldValue(F, Text));
        }
        if (!Block.empty()) SendRequisite(ADevice, B.Tag, Block);
    }
}

void SendItemIndustryAttributes(TDevice& ADevice, pugi::xml_node AIndustryAttribute) {
    for (const TBlockField& F : IndustryFields)
        if (const std::string Text = AttrTrim(AIndustryAttribute, F.Attribute); !Text.empty())
            SendItemRequisite(ADevice, F.Tag, FieldValue(F, Text));
}

}  // namespace fr
