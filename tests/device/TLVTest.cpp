// Decoding of fiscal-document records and the receipt XML made from them.
#include <gtest/gtest.h>

#include "TestBytes.h"

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uXmlUtils.h"
#include "device/uDevice.h"
#include "device/uTLVStructure.h"

namespace fr {
namespace {

using test::Bytes;

int ErrorCode(const std::function<void()>& AAction) {
    try {
        AAction();
    } catch (const EquException& E) {
        return E.Code;
    }
    return 0;
}

TEST(TLVValue, DecodesEveryType) {
    struct {
        std::string Value;
        int32_t Tag;
        TFFD Type;
        int32_t Len;
        TValue Expected;
    } const Cases[] = {
        {Bytes({0x64}), 1054, ffdByte, 0, TValue(int64_t(100))},  // operation type: integer
        {Bytes({0x02, 0xFF}), 1055, ffdRegister, 2, TValue(int64_t(2))},
        {Bytes({}), 1054, ffdByte, 0, TValue(int64_t(0))},
        {Bytes({0x00, 0xE1, 0xF5, 0x05, 0x77}), 1012, ffdUnixTime, 0, TValue(int64_t(100000000))},
        {Bytes({0x01, 0x02, 0x03}), 1057, ffdRegister, 2, TValue("513")},
        {Bytes({0x01, 0x02}), 1057, ffdRegister, 5, TValue("513")},  // length beyond the bytes
        {Bytes({0x39, 0x30, 0, 0}), 1040, ffdUInt32, 0, TValue("12345")},
        {Bytes({0x39}), 1040, ffdUInt32, 0, TValue("57")},
        {Bytes({0xC8, 0x09}), 1001, ffdByte, 0, TValue("200")},
        {Bytes({0x10, 0x20, 0x00, 0x00, 0x01, 0x02}), 1077, ffdBytes, 0, TValue("258")},
        {Bytes({0x10, 0x20, 0x01}), 1077, ffdBytes, 0, TValue("1")},
        {Bytes({0x10, 0x27, 0x00}), 1020, ffdVLN, 0, TValue("100")},
        {Bytes({0x39, 0x30}), 1031, ffdVLN, 0, TValue("123.45")},
        {Bytes({0x05}), 1031, ffdVLN, 0, TValue("0.05")},
        {Bytes({0x32}), 1031, ffdVLN, 0, TValue("0.5")},
        {Bytes({}), 1031, ffdVLN, 0, TValue("0")},
        {Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), 1020, ffdVLN, 0, TValue("92233720368547758.07")},
        {Bytes({0x03, 0xE8, 0x03}), 1023, ffdFVLN, 0, TValue("1")},
        {Bytes({0x00, 0xE8, 0x03}), 1023, ffdFVLN, 0, TValue("1000")},
        {Bytes({0x03, 0xDC, 0x05}), 1023, ffdFVLN, 0, TValue("1.5")},
        {Bytes({0x03, 0x01}), 1023, ffdFVLN, 0, TValue("0.001")},
        {Bytes({0x8A, 0xA0, 0xE1, 0xE1, 0xA8, 0xE0, 0x20, 0x31}), 1021, ffdString, 0, TValue("Кассир 1")},
        {Bytes({0x8A, 0xA0}), 9999, ffdUnknown, 0, TValue("Ка")},
        {Bytes({0x8A, 0xA0}), 1057, ffdRegister, 0, TValue("Ка")},  // a register without length: text
    };
    for (const auto& C : Cases) EXPECT_EQ(GetTLVValue(C.Value, C.Tag, C.Type, C.Len), C.Expected) << C.Tag;
    // Amounts beyond 64 bits are refused, never decoded from their low bytes.
    EXPECT_EQ(ErrorCode([] { GetTLVValue(Bytes({1, 0, 0, 0, 0, 0, 0, 0, 1}), 1020, ffdVLN, 0); }), 1014);
    EXPECT_EQ(GetVLN(Bytes({0x39, 0x30})), *TCurrency::Parse("123.45"));
    EXPECT_EQ(GetFVLN(Bytes({0x03, 0xDC, 0x05})), *TCurrency::Parse("1.5"));
    EXPECT_EQ(ErrorCode([] { GetVLN(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})); }), 1014);
}

TEST(TLVValue, TagTable) {
    EXPECT_EQ(FiscalTagTableSize(), 206u);
    int32_t Tag = 0;
    std::string Name;
    TFFD Type = ffdUnknown;
    EXPECT_TRUE(FindTag(Bytes({0xB9, 0x04, 0, 0}), Tag, Name, Type));  // 1209
    EXPECT_EQ(Tag, 1209);
    EXPECT_EQ(Name, "версия ФФД");
    EXPECT_EQ(Type, ffdByte);
    EXPECT_TRUE(FindTag(Bytes({0x3C, 0x04}), Tag, Name, Type));  // 1084: known, no name
    EXPECT_EQ(Name, "");
    EXPECT_EQ(Type, ffdSTLV);
    EXPECT_FALSE(FindTag(Bytes({0x0F, 0x27}), Tag, Name, Type));
    EXPECT_EQ(Tag, 9999);
    EXPECT_EQ(Type, ffdUnknown);
    EXPECT_FALSE(FindTag(Bytes({0x0F}), Tag, Name, Type));
    EXPECT_EQ(Tag, 0);
    EXPECT_EQ(FindFiscalTagInfo(2116)->DataType, ffdRegister);
    EXPECT_STREQ(FindFiscalTagInfo(1232)->ReqName, "счетчики по признаку «возврат прихода»");
}

TEST(TLVList, RecordDataNeverPastTheEnd) {
    EXPECT_EQ(TDevice::GetTLVData("\x01\x02\x03\x04"
                                  "abc",
                                  2),
              "ab");
    EXPECT_EQ(TDevice::GetTLVData("\x01\x02\x03\x04"
                                  "abc",
                                  0),
              "abc");
    EXPECT_EQ(TDevice::GetTLVData("\x01\x02\x03\x04"
                                  "abc",
                                  9),
              "abc");
    EXPECT_EQ(TDevice::GetTLVData("\x01\x02", 0), "");
    EXPECT_EQ(TDevice::Convert2CharToInt(0x04, 0x1E), 1054);
}

TEST(TLVList, ReadsRecordsAndRefusesBrokenLists) {
    std::string Data = TDevice::SetTLV(1054, Bytes({1})) + TDevice::SetTLV(2100, Bytes({5})) +
                       TDevice::SetTLV(9999, "\x8A") + TDevice::SetTLV(2114, Bytes({0x10, 0, 0, 0}));
    std::map<int32_t, TValue> Tags{{1, TValue("stale")}};
    ReadTLVList(Data, Tags);
    EXPECT_TRUE(Data.empty());
    EXPECT_EQ(Tags,
              (std::map<int32_t, TValue>{
                  {1054, TValue(int64_t(1))}, {2100, TValue("5")}, {9999, TValue("К")}, {2114, TValue(int64_t(16))}}));

    const std::string Broken[] = {
        TDevice::SetTLV(2100, Bytes({5})) + Bytes({0x34, 0x08, 0x01}),  // trailing fragment shorter than a header
        TDevice::SetTLV(2100, Bytes({5})) + Bytes({0x34, 0x08, 0x05, 0x00, 1, 2}),  // length beyond the data
    };
    for (std::string B : Broken) EXPECT_EQ(ErrorCode([&] { ReadTLVList(B, Tags); }), 1014);
    std::string Twice = TDevice::SetTLV(2100, Bytes({5})) + TDevice::SetTLV(2100, Bytes({6}));
    EXPECT_THROW(ReadTLVList(Twice, Tags), std::runtime_error);
}

// An item with its name, price and a product code holding a marking code.
std::string ItemRecord(const std::string& AName, const std::string& AMarking) {
    std::string Item = TDevice::SetTLV(1030, Utf8ToOem(AName)) + TDevice::SetTLV(1079, Bytes({0x10, 0x27})) +
                       TDevice::SetTLV(1023, Bytes({0x03, 0xDC, 0x05})) + TDevice::SetTLV(1043, Bytes({0x98, 0x3A})) +
                       TDevice::SetTLV(1214, Bytes({4})) + TDevice::SetTLV(1212, Bytes({1})) +
                       TDevice::SetTLV(1200, Bytes({0x2C, 0x01})) + TDevice::SetTLV(1199, Bytes({1}));
    if (!AMarking.empty()) Item += TDevice::SetTLV(1163, TDevice::SetTLV(1305, AMarking));
    return TDevice::SetTLV(1059, Item);
}

TEST(TLVDocument, StructuresBecomeSectionedElements) {
    TDocElementList L;
    AddDocumentRecord(Bytes({0x1E, 0x04, 0x01, 0x00, 0x64}), L);  // 1054, operation 100
    AddDocumentRecord(TDevice::SetTLV(9999, "x"), L);             // unknown: skipped
    AddDocumentRecord(ItemRecord("Хлеб", "0104"), L);
    AddDocumentRecord(TDevice::SetTLV(1163, TDevice::SetTLV(1302, "46")), L);  // product code outside an item
    AddDocumentRecord(
        TDevice::SetTLV(1174, TDevice::SetTLV(1177, "x") + TDevice::SetTLV(1179, "N1") + "\x01\x02\x03\x04"), L);
    std::vector<std::tuple<int32_t, TTagSection, std::string>> Got;
    for (const TDocElement& E : L) Got.emplace_back(E.Tag, E.TagSection, E.Value.AsText());
    const std::vector<std::tuple<int32_t, TTagSection, std::string>> Expected = {
        {1054, tsMain, "100"},
        {1059, tsMain, ""},
        {1030, tsGoodPosition, "Хлеб"},
        {1079, tsGoodPosition, "100"},
        {1023, tsGoodPosition, "1.5"},
        {1043, tsGoodPosition, "150"},
        {1214, tsGoodPosition, "4"},
        {1212, tsGoodPosition, "1"},
        {1200, tsGoodPosition, "3"},
        {1199, tsGoodPosition, "1"},
        {1305, tsGoodPosition, "0104"},
        {1163, tsMain, ""},
        {1302, tsGoodPosition, "46"},
        {1174, tsMain, ""},
        {1177, tsMain, "x"},
        {1179, tsMain, "N1"},  // a tail under 5 bytes ends the walk
    };
    EXPECT_EQ(Got, Expected);
    EXPECT_EQ(L[2].ReqName, "наим. предм. расчета");
    EXPECT_EQ(L[2].DataType, ffdString);

    // A record running past its structure or its own header is refused.
    EXPECT_EQ(ErrorCode([&] {
                  AddDocumentRecord(TDevice::SetTLV(1059, Bytes({0x06, 0x04, 0x09, 0x00, 0x41})), L);
              }),
              1014);
    EXPECT_EQ(ErrorCode([&] { AddDocumentRecord(Bytes({0x1E, 0x04, 0x05, 0x00, 0x64}), L); }), 1014);
    EXPECT_EQ(ErrorCode([&] { AddDocumentRecord(Bytes({0x1E, 0x04}), L); }), 1014);
}

TEST(TLVDocument, Base64LinesOf76) {
    EXPECT_EQ(EncodeBase64Lines(""), "");
    EXPECT_EQ(EncodeBase64Lines("f"), "Zg==");
    EXPECT_EQ(EncodeBase64Lines("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64Lines("foo"), "Zm9v");
    // 57 bytes fill one line exactly; one byte more starts a second line.
    const std::string One = EncodeBase64Lines(std::string(57, 'a'));
    EXPECT_EQ(One.size(), 76u);
    EXPECT_EQ(One.find("\r\n"), std::string::npos);
    const std::string Two = EncodeBase64Lines(std::string(58, 'a'));
    EXPECT_EQ(Two, One + "\r\nYQ==");
}

TEST(TLVDocument, ReceiptBecomesCheckPackage) {
    TDocElementList L;
    for (const std::string& R : {TDevice::SetTLV(1012, Bytes({0x10, 0x6C, 0x0E, 0x66})),  // 2024-04-04 09:00:00
                                 TDevice::SetTLV(1021, Utf8ToOem("Иванов")), TDevice::SetTLV(1040, Bytes({7, 0, 0, 0})),
                                 TDevice::SetTLV(1054, Bytes({1})), TDevice::SetTLV(1055, Bytes({4})),
                                 TDevice::SetTLV(1077, Bytes({0x31, 0x04, 0x00, 0x00, 0x30, 0x39})),
                                 TDevice::SetTLV(1203, "500100732259"), TDevice::SetTLV(1031, Bytes({0x98, 0x3A})),
                                 TDevice::SetTLV(1081, Bytes({0x64})), ItemRecord("Хлеб", std::string(60, 'M')),
                                 ItemRecord("Молоко", ""), TDevice::SetTLV(1020, Bytes({0x30, 0x75}))})
        AddDocumentRecord(R, L);
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    BuildCheckPackage(L, 3, Doc);
    const std::string Mark = EncodeBase64Lines(std::string(60, 'M'));
    ASSERT_NE(Mark.find("\r\n"), std::string::npos);
    pugi::xml_node P = Doc.child("CheckPackage").child("Parameters");
    EXPECT_STREQ(P.attribute("DocumentType").value(), "3");
    EXPECT_STREQ(P.attribute("DateTime").value(), "2024-04-04T09:00:00");
    EXPECT_STREQ(P.attribute("CashierName").value(), "Иванов");
    EXPECT_STREQ(P.attribute("DocNumber").value(), "7");
    EXPECT_STREQ(P.attribute("OperationType").value(), "1");
    EXPECT_STREQ(P.attribute("TaxationSystem").value(), "2");  // bit 2 of the stored byte
    EXPECT_STREQ(P.attribute("FiscalSign").value(), "12345");
    EXPECT_STREQ(P.attribute("CashierINN").value(), "500100732259");
    pugi::xml_node Pay = Doc.child("CheckPackage").child("Payments");
    EXPECT_STREQ(Pay.attribute("Cash").value(), "150");
    EXPECT_STREQ(Pay.attribute("ElectronicPayment").value(), "1");
    std::vector<pugi::xml_node> Items;
    for (pugi::xml_node N : Doc.child("CheckPackage").child("Positions").children()) Items.push_back(N);
    ASSERT_EQ(Items.size(), 2u);
    EXPECT_STREQ(Items[0].name(), "FiscalString");
    EXPECT_STREQ(Items[0].attribute("Name").value(), "Хлеб");
    EXPECT_STREQ(Items[0].attribute("Quantity").value(), "1.5");
    EXPECT_STREQ(Items[0].attribute("PriceWithDiscount").value(), "100");
    EXPECT_STREQ(Items[0].attribute("AmountWithDiscount").value(), "150");
    EXPECT_STREQ(Items[0].attribute("VATAmount").value(), "3");
    EXPECT_STREQ(Items[0].attribute("CalculationSubject").value(), "1");
    EXPECT_STREQ(Items[0].attribute("PaymentMethod").value(), "4");
    EXPECT_EQ(std::string(Items[0].attribute("MarkingCode").value()), Mark);
    EXPECT_STREQ(Items[1].attribute("Name").value(), "Молоко");
    EXPECT_FALSE(Items[1].attribute("MarkingCode"));
    EXPECT_FALSE(P.attribute("Total"));  // 1020 is not part of the package
}

// Every rate number of tag 1199 reads back as the receipt package spells the
// rate; a number without a rate gives no VATRate.
TEST(TLVDocument, VATRateReadsBackAsThePackageSpellsIt) {
    const std::pair<int, const char*> Cases[] = {
        {1, "20"}, {2, "10"},    {3, "20/120"}, {4, "10/110"}, {5, "0"},       {6, "none"},  {7, "5"},
        {8, "7"},  {9, "5/105"}, {10, "7/107"}, {11, "22"},    {12, "22/122"}, {0, nullptr}, {13, nullptr},
    };
    TDocElementList L;
    for (const auto& [Value, Rate] : Cases)
        AddDocumentRecord(TDevice::SetTLV(1059, TDevice::SetTLV(1199, Bytes({uint8_t(Value)}))), L);
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    BuildCheckPackage(L, 3, Doc);
    pugi::xml_node Item = Doc.child("CheckPackage").child("Positions").first_child();
    for (const auto& [Value, Rate] : Cases) {
        SCOPED_TRACE(Value);
        ASSERT_TRUE(Item);
        if (Rate)
            EXPECT_STREQ(Item.attribute("VATRate").value(), Rate);
        else
            EXPECT_FALSE(Item.attribute("VATRate"));
        Item = Item.next_sibling();
    }
}

}  // namespace
}  // namespace fr
