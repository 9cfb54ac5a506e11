// Receipt positions: items with their tax, calculation subject and method,
// quantity and measure, product and marking codes, country, customs and
// excise data, agent and supplier requisites, and the text lines, barcodes
// and graphic text printed between them.
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"

namespace fr {

namespace {

constexpr size_t ItemNameLength = 126;
constexpr size_t MarkingCodeInTag1163 = 32;

// Item requisites (0xFF 0x4D), each within one command frame.
void ItemRequisite(TDevice& D, int32_t ATag, const std::string& AValue) {
    CheckRequisiteSize(ATag, AValue);
    D.SetFNOperationRequisite(ATag, AValue);
}

std::string TextTLV(int32_t ATag, const std::string& AText, bool AOem) {
    return TDevice::SetTLV(ATag, RequisiteText(ATag, AText, AOem));
}

bool Blank(const std::string& S) {
    return Trim(S).empty();
}

// The industry requisite of one item.
struct TIndustryAttribute {
    std::string IdentifierFOIV, DocumentDate, DocumentNumber, AttributeValue;
};

TIndustryAttribute ReadIndustry(pugi::xml_node ANode) {
    if (!ANode) return {};
    return {AttrTrim(ANode, "IdentifierFOIV"), AttrTrim(ANode, "DocumentDate"), AttrTrim(ANode, "DocumentNumber"),
            AttrTrim(ANode, "AttributeValue")};
}

void SendIndustryAttributes(TDevice& D, const TIndustryAttribute& A) {
    if (!A.IdentifierFOIV.empty()) ItemRequisite(D, 1262, RequisiteText(1262, A.IdentifierFOIV, true));
    if (!A.DocumentDate.empty()) ItemRequisite(D, 1263, RequisiteText(1263, A.DocumentDate, false));
    if (!A.DocumentNumber.empty()) ItemRequisite(D, 1264, RequisiteText(1264, A.DocumentNumber, true));
    if (!A.AttributeValue.empty()) ItemRequisite(D, 1265, RequisiteText(1265, A.AttributeValue, true));
}

// Product-code attributes of GoodCodeData with their tags.
struct TCodeKind {
    const char* Name;
    int32_t Tag;
};
constexpr TCodeKind CodeKinds[] = {{"NotIdentified", 1300}, {"EAN8", 1301},   {"EAN13", 1302}, {"ITF14", 1303},
                                   {"GS1.0", 1304},         {"GS1.M", 1305},  {"KMK", 1306},   {"MI", 1307},
                                   {"EGAIS20", 1308},       {"EGAIS30", 1309}};

// The value of a GoodCodeData attribute: Base64 decoded, except MI.
std::string CodeValue(pugi::xml_node AGoodCodeData, const char* AName) {
    if (std::string_view(AName) == "MI") return Utf8ToAnsi(AttrText(AGoodCodeData, AName));
    return AttrBase64(AGoodCodeData, AName);
}

// The product code of format 1.2: one TLV of the first code present.
std::string BuildProductCode(pugi::xml_node AGoodCodeData) {
    if (!AGoodCodeData) return {};
    for (const TCodeKind& K : CodeKinds)
        if (!AttrText(AGoodCodeData, K.Name).empty()) return TDevice::SetTLV(K.Tag, CodeValue(AGoodCodeData, K.Name));
    return {};
}

void BindProductCode(TDevice& D, pugi::xml_node AGoodCodeData, const std::string& AProductCode) {
    if (!AGoodCodeData) return;
    for (const char* Name : {"NotIdentified", "KMK", "GS1.0", "GS1.M", "EGAIS20", "EGAIS30"}) {
        if (AttrText(AGoodCodeData, Name).empty()) continue;
        const std::string Value = CodeValue(AGoodCodeData, Name);
        if (std::string_view(Name) == "NotIdentified")
            ItemRequisite(D, 1300, Value);
        else
            D.BindMarkingCode(Value, false);
        return;
    }
    if (!AProductCode.empty()) ItemRequisite(D, 1163, AProductCode);
}

std::string AmountText(TCurrency AAmount) {
    const int64_t K = AAmount.ToKopecks();
    const int64_t A = K < 0 ? -K : K;
    std::string Cents = std::to_string(A % 100);
    if (Cents.size() < 2) Cents = "0" + Cents;
    return (K < 0 ? "-" : "") + std::to_string(A / 100) + "." + Cents;
}

}  // namespace

std::string TDriver::SetAgentPhones(int32_t ATag, const std::string& APhones) {
    std::string Out;
    for (const std::string& P : SplitPhones(APhones)) Out += TextTLV(ATag, P, false);
    return Out;
}

void TDriver::SetHeaderAgentPhones(int32_t ATag, const std::string& APhones) {
    for (const std::string& P : SplitPhones(APhones)) Device().SetFNRequisite(ATag, RequisiteText(ATag, P, false));
}

std::string TDriver::MarkingCodeToProductCode(const std::string& ACode) {
    const auto Fail = [&ACode]() -> std::runtime_error {
        return std::runtime_error("Некорректный код маркировки " + AnsiToUtf8(ACode));
    };
    size_t Start;
    if (ACode.compare(0, 2, "01") == 0)
        Start = 2;
    else if (ACode.size() >= 3 && ACode.compare(1, 2, "01") == 0)
        Start = 3;
    else
        throw Fail();
    std::string Rest = ACode.substr(Start);
    const std::string GTIN = Trim(Rest.substr(0, 14));
    Rest = Rest.substr(std::min<size_t>(14, Rest.size()));
    // The serial's application identifier follows the GTIN; a "21" further on
    // would take part of another field as the serial.
    if (Rest.compare(0, 2, "21") != 0) throw Fail();
    Rest = Rest.substr(2);
    size_t End = Rest.find('\x1D');
    if (End == std::string::npos) End = Rest.find("92");
    if (End == std::string::npos) throw Fail();
    const std::string Serial = Trim(Rest.substr(0, End));
    bool Digits = !GTIN.empty();
    for (const char C : GTIN) Digits = Digits && C >= '0' && C <= '9';
    if (!Digits) throw Fail();
    return "DM" + IntToBEBytesN(std::stoull(GTIN), 6) + Serial;
}

std::string TDriver::FormatAmountLine(const std::string& ALabel, TCurrency AAmount, int32_t AWidth) {
    if (AWidth <= 0) AWidth = Session().FLineLen;
    if (AWidth <= 0) AWidth = 24;
    const std::string Amount = AmountText(AAmount);
    const size_t Width = size_t(AWidth);
    const size_t Room = Width > Amount.size() ? Width - Amount.size() : 0;
    const std::string Label = CutUtf8(ALabel, Room);
    const size_t Used = Utf8Length(Label) + Amount.size();
    return Label + std::string(Width > Used ? Width - Used : 0, ' ') + Amount;
}

void TDriver::SendAgentData(pugi::xml_node AAgentData, pugi::xml_node AVendorData, bool AForReceipt,
                            int32_t ACalculationAgent) {
    TDevice& D = Device();
    const std::string AgentOperation = AttrText(AAgentData, "AgentOperation");
    const std::string AgentPhone = NormalizePhones(AttrText(AAgentData, "AgentPhone"));
    const std::string ProcessorPhone = NormalizePhones(AttrText(AAgentData, "PaymentProcessorPhone"));
    const std::string AcquirerPhone = NormalizePhones(AttrText(AAgentData, "AcquirerOperatorPhone"));
    const std::string AcquirerName = AttrText(AAgentData, "AcquirerOperatorName");
    const std::string AcquirerAddress = AttrText(AAgentData, "AcquirerOperatorAddress");
    const std::string AcquirerINN = AttrText(AAgentData, "AcquirerOperatorINN");
    const std::string VendorPhone = NormalizePhones(AttrText(AVendorData, "VendorPhone"));
    const std::string VendorName = AttrText(AVendorData, "VendorName");
    const std::string VendorINN = AttrText(AVendorData, "VendorINN");

    if (AForReceipt) {
        if (Session().FFFDVersion == ffd12) return;
        const auto Send = [&D](int32_t ATag, const std::string& AValue) {
            CheckRequisiteSize(ATag, AValue);
            D.SetFNRequisite(ATag, AValue);
        };
        if (!Blank(AgentOperation)) Send(1044, RequisiteText(1044, AgentOperation, true));
        SetHeaderAgentPhones(1073, AgentPhone);
        SetHeaderAgentPhones(1074, ProcessorPhone);
        SetHeaderAgentPhones(1075, AcquirerPhone);
        if (!Blank(AcquirerName)) Send(1026, RequisiteText(1026, AcquirerName, true));
        if (!Blank(AcquirerAddress)) Send(1005, RequisiteText(1005, AcquirerAddress, true));
        if (!Blank(AcquirerINN)) Send(1016, RequisiteText(1016, NormalizeINN(AcquirerINN), false));
        SetHeaderAgentPhones(1171, VendorPhone);
        return;
    }

    if (ACalculationAgent != -1) {
        if (ACalculationAgent < 0 || ACalculationAgent > 6) RaiseEquError(3023);
        ItemRequisite(D, 1222, std::string(1, char(1 << ACalculationAgent)));
    }
    std::string Agent;
    if (!Blank(AgentOperation)) Agent += TextTLV(1044, AgentOperation, true);
    Agent += SetAgentPhones(1073, AgentPhone);
    Agent += SetAgentPhones(1074, ProcessorPhone);
    Agent += SetAgentPhones(1075, AcquirerPhone);
    if (!Blank(AcquirerName)) Agent += TextTLV(1026, AcquirerName, true);
    if (!Blank(AcquirerAddress)) Agent += TextTLV(1005, AcquirerAddress, true);
    if (!Blank(AcquirerINN)) Agent += TextTLV(1016, NormalizeINN(AcquirerINN), false);
    if (!Agent.empty()) ItemRequisite(D, 1223, Agent);
    if (!Blank(VendorINN)) ItemRequisite(D, 1226, RequisiteText(1226, NormalizeINN(VendorINN), false));
    std::string Vendor = SetAgentPhones(1171, VendorPhone);
    if (!Blank(VendorName)) Vendor += TextTLV(1225, VendorName, true);
    if (!Vendor.empty()) ItemRequisite(D, 1224, Vendor);
}

void TDriver::ProcessPositions(pugi::xml_node APositions, TReceiptState& AState) {
    for (const pugi::xml_node E : APositions.children()) {
        if (E.type() != pugi::node_element) continue;
        if (SameTextAscii(E.name(), "FiscalString")) {
            ProcessFiscalString(E, AState);
        } else if (SameTextAscii(E.name(), "TextString")) {
            const std::string Text = AttrText(E, "Text");
            if (!PrintGraphicTextTag(Text)) Device().PrintString(Utf8ToAnsi(Text));
        } else if (SameTextAscii(E.name(), "Barcode")) {
            PrintBarcodeElement(E);
        } else if (SameTextAscii(E.name(), "GraphicText")) {
            PrintGraphicTextElement(E);
        }
    }
}

void TDriver::ProcessFiscalString(pugi::xml_node AElement, TReceiptState& AState) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    const bool Format12 = S.FFFDVersion == ffd12;

    // 1. Child elements.
    const pugi::xml_node AgentData = AElement.child("AgentData");
    const pugi::xml_node VendorData = AElement.child("VendorData");
    const pugi::xml_node GoodCodeData = AElement.child("GoodCodeData");
    const TIndustryAttribute Industry = ReadIndustry(AElement.child("IndustryAttribute"));

    // 2. Calculation subject, method and agent sign.
    const int64_t Subject = AttrInt(AElement, "CalculationSubject", -1);
    const int64_t Method = AttrInt(AElement, "PaymentMethod", -1);
    const int64_t CalculationAgent = AttrInt(AElement, "CalculationAgent", -1);
    if (Subject < 1 || Subject > 33) RaiseEquError(3020);
    if (Method < 1 || Method > 7) RaiseEquError(3021);

    // 3. The other attributes. Amounts that the device would refuse or
    // misread are input errors, reported before anything of the item is sent.
    const std::string Name = CutUtf8(AttrText(AElement, "Name"), ItemNameLength);
    const double Quantity = AttrQuantity(AElement, "Quantity", 0);
    const TCurrency Price = AttrMoney(AElement, "PriceWithDiscount");
    const TCurrency Amount = AttrMoney(AElement, "AmountWithDiscount");
    const TCurrency Discount = AttrMoney(AElement, "DiscountAmount");
    const int64_t Department = AttrInt(AElement, "Department", 0);
    const std::string VATRate = AttrText(AElement, "VATRate");
    const TCurrency VATAmount = AttrMoney(AElement, "VATAmount");
    const int64_t MeasureOfQuantity = AttrInt(AElement, "MeasureOfQuantity", 0);
    const std::string MeasurementUnit = AttrTrim(AElement, "MeasurementUnit");
    const std::string CountryOfOrigin = AttrTrim(AElement, "CountryOfOrigin");
    const std::string CustomsDeclaration = AttrTrim(AElement, "CustomsDeclaration");
    const TCurrency ExciseAmount = AttrMoney(AElement, "ExciseAmount");
    const std::string AdditionalAttribute = AttrTrim(AElement, "AdditionalAttribute");
    const std::string MarkingCode = AttrBase64(AElement, "MarkingCode");

    if (!(Quantity > 0)) RaiseBadAttribute("Quantity", AttrText(AElement, "Quantity"));
    if (Price < TCurrency{}) RaiseBadAttribute("PriceWithDiscount", AttrText(AElement, "PriceWithDiscount"));
    if (Amount < TCurrency{}) RaiseBadAttribute("AmountWithDiscount", AttrText(AElement, "AmountWithDiscount"));
    if (VATAmount < TCurrency{}) RaiseBadAttribute("VATAmount", AttrText(AElement, "VATAmount"));
    if (ExciseAmount < TCurrency{}) RaiseBadAttribute("ExciseAmount", AttrText(AElement, "ExciseAmount"));
    if (Department < 0 || Department > 255) RaiseBadAttribute("Department", AttrText(AElement, "Department"));
    if (MeasureOfQuantity < 0 || MeasureOfQuantity > 255)
        RaiseBadAttribute("MeasureOfQuantity", AttrText(AElement, "MeasureOfQuantity"));
    // An item without a known rate would go to the storage with no VAT rate.
    const int32_t TaxID = S.FTaxValues.IDOfTax(VATRate);
    if (TaxID == 0) RaiseBadAttribute("VATRate", VATRate);

    // 4. Product code.
    std::string ProductCode;
    if (GoodCodeData) {
        if (Format12)
            ProductCode = BuildProductCode(GoodCodeData);
        else if (!AttrText(GoodCodeData, "MarkingCode").empty())
            ProductCode = AttrBase64(GoodCodeData, "MarkingCode");
    }

    // 5. Tax.
    const int32_t Group = TTaxValues::TaxGroup(TaxID);
    AState.Taxes[size_t(Group - 1)] += TTaxValues::AddsItemSum(TaxID) ? Amount : VATAmount;

    // 6. The item.
    D.RegisterItem(uint8_t(AState.OperationType), Quantity, Price, Amount, VATAmount, TTaxValues::TaxByte(Group),
                   uint8_t(Department), uint8_t(Method), uint8_t(Subject), Utf8ToAnsi(Name));

    if (Format12) {
        // 7.
        D.SetFNOperationRequisite(2108, int32_t(MeasureOfQuantity));
        const std::string ITF14 = AttrText(GoodCodeData, "ITF14");
        if (AState.IsCorrection) {
            BindProductCode(D, GoodCodeData, ProductCode);
        } else if (!ITF14.empty() && SameText(Industry.AttributeValue, "mode=horeca")) {
            D.BindMarkingCode(AttrBase64(GoodCodeData, "ITF14"), true);
            SendIndustryAttributes(D, Industry);
        } else if (!MarkingCode.empty()) {
            // Only a code checked in the current marking session and confirmed
            // by the host can be bound: the storage takes no other. The code of
            // the request still waiting for ConfirmKM is in the list but not yet
            // accepted, so it goes out, like any other, as the item's product code.
            const bool Unconfirmed = S.FRequestCounter == 1 && S.FCurrentKM == MarkingCode;
            if (D.KMListResult().count(MarkingCode) != 0 && !Unconfirmed) {
                D.BindMarkingCode(MarkingCode, false);
                SendIndustryAttributes(D, Industry);
            } else {
                // The product code ends at the first group separator: what
                // follows it is the next field of the code, not the serial.
                const std::string Code = MarkingCode.substr(0, MarkingCode.find('\x1D'));
                ItemRequisite(D, 1163, TDevice::SetTLV(1305, Code.substr(0, MarkingCodeInTag1163)));
            }
        } else if (!Blank(ProductCode)) {
            BindProductCode(D, GoodCodeData, ProductCode);
        }
    } else {
        // 8.
        if (!ProductCode.empty())
            ItemRequisite(D, 1162, ProductCode);
        else if (!Blank(MarkingCode))
            ItemRequisite(D, 1162, MarkingCodeToProductCode(MarkingCode));
        if (!MeasurementUnit.empty()) ItemRequisite(D, 1197, RequisiteText(1197, MeasurementUnit, true));
    }

    // 9.
    if (!CountryOfOrigin.empty()) ItemRequisite(D, 1230, RequisiteText(1230, CountryOfOrigin, false));
    if (!CustomsDeclaration.empty()) ItemRequisite(D, 1231, RequisiteText(1231, CustomsDeclaration, true));
    if (ExciseAmount != TCurrency{}) ItemRequisite(D, 1229, MoneyToBytes6(ExciseAmount.ToDouble()));
    if (!AdditionalAttribute.empty()) ItemRequisite(D, 1191, RequisiteText(1191, AdditionalAttribute, true));

    // 10.
    // A value beyond 32 bits must not wrap into "no agent".
    const int32_t Agent = CalculationAgent >= -1 && CalculationAgent <= 6 ? int32_t(CalculationAgent) : 7;
    SendAgentData(AgentData, VendorData, false, Agent);

    // 11.
    if (Discount > TCurrency{})
        D.PrintString(Utf8ToAnsi(FormatAmountLine("СКИДКА", Discount, 0)));
    else if (Discount < TCurrency{})
        D.PrintString(Utf8ToAnsi(FormatAmountLine("НАЦЕНКА", -Discount, 0)));
}

}  // namespace fr
