// Receipt positions: items with their tax, calculation subject and method,
// quantity and measure, product and marking codes, country, customs and
// excise data, agent and supplier requisites, and the text lines, barcodes
// and graphic text printed between them.
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"
#include "fiscal/uReceiptRequisites.h"

namespace fr {

namespace {

constexpr size_t ItemNameLength = 126;
constexpr size_t MarkingCodeInTag1163 = 32;

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
            SendItemRequisite(D, 1300, Value);
        else
            D.BindMarkingCode(Value, false);
        return;
    }
    if (!AProductCode.empty()) SendItemRequisite(D, 1163, AProductCode);
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
        const auto Send = [&D](int32_t ATag, const std::string& AValue) { SendRequisite(D, ATag, AValue); };
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
        SendItemRequisite(D, 1222, std::string(1, char(1 << ACalculationAgent)));
    }
    std::string Agent;
    if (!Blank(AgentOperation)) Agent += TextTLV(1044, AgentOperation, true);
    Agent += SetAgentPhones(1073, AgentPhone);
    Agent += SetAgentPhones(1074, ProcessorPhone);
    Agent += SetAgentPhones(1075, AcquirerPhone);
    if (!Blank(AcquirerName)) Agent += TextTLV(1026, AcquirerName, true);
    if (!Blank(AcquirerAddress)) Agent += TextTLV(1005, AcquirerAddress, true);
    if (!Blank(AcquirerINN)) Agent += TextTLV(1016, NormalizeINN(AcquirerINN), false);
    if (!Agent.empty()) SendItemRequisite(D, 1223, Agent);
    if (!Blank(VendorINN)) SendItemRequisite(D, 1226, RequisiteText(1226, NormalizeINN(VendorINN), false));
    std::string Vendor = SetAgentPhones(1171, VendorPhone);
    if (!Blank(VendorName)) Vendor += TextTLV(1225, VendorName, true);
    if (!Vendor.empty()) SendItemRequisite(D, 1224, Vendor);
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

// One FiscalString: its child elements and values, read and checked before
// anything of the item is sent.
struct TFiscalItem {
    pugi::xml_node AgentData, VendorData, GoodCodeData, IndustryAttribute;
    int64_t Subject = -1, Method = -1, CalculationAgent = -1;
    std::string Name;  // UTF-8, cut to the item name's length
    double Quantity = 0;
    TCurrency Price, Amount, Discount, VATAmount, ExciseAmount;
    int64_t Department = 0, MeasureOfQuantity = 0;
    int32_t TaxID = 0;  // position of the rate in TTaxValues
    std::string MeasurementUnit, CountryOfOrigin, CustomsDeclaration, AdditionalAttribute;
    std::string MarkingCode;  // decoded, ANSI bytes
    std::string ProductCode;  // from GoodCodeData
};

void TDriver::ProcessFiscalString(pugi::xml_node AElement, TReceiptState& AState) {
    TDevice& D = Device();
    const TFiscalItem I = ReadFiscalItem(AElement);

    // Tax: the group's sum grows by the item's tax, at 0% and without VAT by its sum.
    const int32_t Group = TTaxValues::TaxGroup(I.TaxID);
    AState.Taxes[size_t(Group - 1)] += TTaxValues::AddsItemSum(I.TaxID) ? I.Amount : I.VATAmount;
    D.RegisterItem(uint8_t(AState.OperationType), I.Quantity, I.Price, I.Amount, I.VATAmount,
                   TTaxValues::TaxByte(Group), uint8_t(I.Department), uint8_t(I.Method), uint8_t(I.Subject),
                   Utf8ToAnsi(I.Name));
    if (Session().FFFDVersion == ffd12)
        SendItemCodes12(I, AState.IsCorrection);
    else
        SendItemCodesBefore12(I);

    if (!I.CountryOfOrigin.empty()) SendItemRequisite(D, 1230, RequisiteText(1230, I.CountryOfOrigin, false));
    if (!I.CustomsDeclaration.empty()) SendItemRequisite(D, 1231, RequisiteText(1231, I.CustomsDeclaration, true));
    if (I.ExciseAmount != TCurrency{}) SendItemRequisite(D, 1229, MoneyToBytes6(I.ExciseAmount.ToDouble()));
    if (!I.AdditionalAttribute.empty()) SendItemRequisite(D, 1191, RequisiteText(1191, I.AdditionalAttribute, true));
    // A value beyond 32 bits must not wrap into "no agent".
    const int64_t A = I.CalculationAgent;
    SendAgentData(I.AgentData, I.VendorData, false, A >= -1 && A <= 6 ? int32_t(A) : 7);

    if (I.Discount > TCurrency{})
        D.PrintString(Utf8ToAnsi(FormatAmountLine("СКИДКА", I.Discount, 0)));
    else if (I.Discount < TCurrency{})
        D.PrintString(Utf8ToAnsi(FormatAmountLine("НАЦЕНКА", -I.Discount, 0)));
}

TFiscalItem TDriver::ReadFiscalItem(pugi::xml_node AElement) const {
    TFiscalItem I;
    I.AgentData = AElement.child("AgentData");
    I.VendorData = AElement.child("VendorData");
    I.GoodCodeData = AElement.child("GoodCodeData");
    I.IndustryAttribute = AElement.child("IndustryAttribute");
    I.Subject = AttrInt(AElement, "CalculationSubject", -1);
    I.Method = AttrInt(AElement, "PaymentMethod", -1);
    I.CalculationAgent = AttrInt(AElement, "CalculationAgent", -1);
    if (I.Subject < 1 || I.Subject > 33) RaiseEquError(3020);
    if (I.Method < 1 || I.Method > 7) RaiseEquError(3021);

    // Amounts that the device would refuse or misread are input errors.
    I.Name = CutUtf8(AttrText(AElement, "Name"), ItemNameLength);
    I.Quantity = AttrQuantity(AElement, "Quantity", 0);
    I.Price = AttrMoney(AElement, "PriceWithDiscount");
    I.Amount = AttrMoney(AElement, "AmountWithDiscount");
    I.Discount = AttrMoney(AElement, "DiscountAmount");
    I.Department = AttrInt(AElement, "Department", 0);
    const std::string VATRate = AttrText(AElement, "VATRate");
    I.VATAmount = AttrMoney(AElement, "VATAmount");
    I.MeasureOfQuantity = AttrInt(AElement, "MeasureOfQuantity", 0);
    I.MeasurementUnit = AttrTrim(AElement, "MeasurementUnit");
    I.CountryOfOrigin = AttrTrim(AElement, "CountryOfOrigin");
    I.CustomsDeclaration = AttrTrim(AElement, "CustomsDeclaration");
    I.ExciseAmount = AttrMoney(AElement, "ExciseAmount");
    I.AdditionalAttribute = AttrTrim(AElement, "AdditionalAttribute");
    I.MarkingCode = AttrBase64(AElement, "MarkingCode");
    const auto Refuse = [&AElement](const char* AName) { RaiseBadAttribute(AName, AttrText(AElement, AName)); };
    if (!(I.Quantity > 0)) Refuse("Quantity");
    if (I.Price < TCurrency{}) Refuse("PriceWithDiscount");
    if (I.Amount < TCurrency{}) Refuse("AmountWithDiscount");
    if (I.VATAmount < TCurrency{}) Refuse("VATAmount");
    if (I.ExciseAmount < TCurrency{}) Refuse("ExciseAmount");
    if (I.Department < 0 || I.Department > 255) Refuse("Department");
    if (I.MeasureOfQuantity < 0 || I.MeasureOfQuantity > 255) Refuse("MeasureOfQuantity");
    // An item without a known rate would go to the storage with no VAT rate.
    I.TaxID = Session().FTaxValues.IDOfTax(VATRate);
    if (I.TaxID == 0) RaiseBadAttribute("VATRate", VATRate);

    if (I.GoodCodeData) {
        if (Session().FFFDVersion == ffd12)
            I.ProductCode = BuildProductCode(I.GoodCodeData);
        else if (!AttrText(I.GoodCodeData, "MarkingCode").empty())
            I.ProductCode = AttrBase64(I.GoodCodeData, "MarkingCode");
    }
    return I;
}

void TDriver::SendItemCodes12(const TFiscalItem& AI, bool AIsCorrection) {
    TDeviceDriver& S = Session();
    TDevice& D = Device();
    D.SetFNOperationRequisite(2108, int32_t(AI.MeasureOfQuantity));
    const std::string ITF14 = AttrText(AI.GoodCodeData, "ITF14");
    if (AIsCorrection) {
        BindProductCode(D, AI.GoodCodeData, AI.ProductCode);
    } else if (!ITF14.empty() && SameText(AttrTrim(AI.IndustryAttribute, "AttributeValue"), "mode=horeca")) {
        D.BindMarkingCode(AttrBase64(AI.GoodCodeData, "ITF14"), true);
        SendItemIndustryAttributes(D, AI.IndustryAttribute);
    } else if (!AI.MarkingCode.empty()) {
        // Only a code checked in the current marking session and confirmed
        // by the host can be bound: the storage takes no other. The code of
        // the request still waiting for ConfirmKM is in the list but not yet
        // accepted, so it goes out, like any other, as the item's product code.
        const bool Unconfirmed = S.FRequestCounter == 1 && S.FCurrentKM == AI.MarkingCode;
        if (D.KMListResult().count(AI.MarkingCode) != 0 && !Unconfirmed) {
            D.BindMarkingCode(AI.MarkingCode, false);
            SendItemIndustryAttributes(D, AI.IndustryAttribute);
        } else {
            // The product code ends at the first group separator: what
            // follows it is the next field of the code, not the serial.
            const std::string Code = AI.MarkingCode.substr(0, AI.MarkingCode.find('\x1D'));
            SendItemRequisite(D, 1163, TDevice::SetTLV(1305, Code.substr(0, MarkingCodeInTag1163)));
        }
    } else if (!Blank(AI.ProductCode)) {
        BindProductCode(D, AI.GoodCodeData, AI.ProductCode);
    }
}

void TDriver::SendItemCodesBefore12(const TFiscalItem& AI) {
    TDevice& D = Device();
    if (!AI.ProductCode.empty())
        SendItemRequisite(D, 1162, AI.ProductCode);
    else if (!Blank(AI.MarkingCode))
        SendItemRequisite(D, 1162, MarkingCodeToProductCode(AI.MarkingCode));
    if (!AI.MeasurementUnit.empty()) SendItemRequisite(D, 1197, RequisiteText(1197, AI.MeasurementUnit, true));
}

}  // namespace fr
