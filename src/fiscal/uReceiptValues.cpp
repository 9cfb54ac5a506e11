#include "fiscal/uReceiptValues.h"

#include <ctime>
#include <map>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"

namespace fr {

// ---- attributes ----------------------------------------------------------------

std::string AttrText(pugi::xml_node ANode, const char* AName) {
    return ANode.attribute(AName).value();
}

std::string AttrTrim(pugi::xml_node ANode, const char* AName) {
    return Trim(AttrText(ANode, AName));
}

int64_t AttrInt(pugi::xml_node ANode, const char* AName, int64_t ADefault) {
    const pugi::xml_attribute A = ANode.attribute(AName);
    if (!A) return ADefault;
    return VarToIntDef(TValue(std::string(A.value())), ADefault);
}

void RaiseBadAttribute(std::string_view AName, std::string_view AValue) {
    throw EquException(1004, "Ошибка входных параметров команды. Недопустимое значение атрибута " + std::string(AName) +
                                 ": «" + std::string(AValue) + "»");
}

namespace {

// The decimal text of a present number attribute with "." as separator, or
// the 1004 error. Missing or empty: nullopt.
std::optional<std::string> NumberText(pugi::xml_node ANode, const char* AName) {
    const pugi::xml_attribute A = ANode.attribute(AName);
    if (!A || A.value()[0] == '\0') return std::nullopt;
    const std::string Raw = A.value();
    std::string S = Trim(Raw);
    size_t I = 0, Digits = 0, Separators = 0;
    if (!S.empty() && S[0] == '-') I = 1;
    for (; I < S.size(); ++I) {
        const char C = S[I];
        if (C >= '0' && C <= '9') {
            ++Digits;
        } else if (C == '.' || C == ',') {
            ++Separators;
            S[I] = '.';
        } else {
            Digits = 0;
            break;
        }
    }
    if (Digits == 0 || Separators > 1) RaiseBadAttribute(AName, Raw);
    return S;
}

}  // namespace

TCurrency AttrMoney(pugi::xml_node ANode, const char* AName, TCurrency ADefault) {
    const std::optional<std::string> S = NumberText(ANode, AName);
    if (!S) return ADefault;
    const std::optional<TCurrency> V = TCurrency::Parse(*S);
    if (!V) RaiseBadAttribute(AName, AttrText(ANode, AName));
    return *V;
}

double AttrQuantity(pugi::xml_node ANode, const char* AName, double ADefault) {
    const std::optional<std::string> S = NumberText(ANode, AName);
    if (!S) return ADefault;
    const std::optional<double> V = ParseDouble(*S);
    if (!V) RaiseBadAttribute(AName, AttrText(ANode, AName));
    return *V;
}

// ---- Base64 ---------------------------------------------------------------------

std::string AttrBase64(pugi::xml_node ANode, const char* AName) {
    const std::string Text = AttrText(ANode, AName);
    const std::optional<std::string> V = DecodeBase64(Text);
    if (!V) RaiseBadAttribute(AName, Text);
    return *V;
}

// ---- VAT rates ------------------------------------------------------------------

TTaxValues::TTaxValues()
    : FValues{"20", "18", "10", "0", "none", "20/120", "18/118", "10/110", "5", "7", "5/105", "7/107", "22", "22/122"} {
}

int32_t TTaxValues::IDOfTax(std::string_view ATaxValue) const {
    for (size_t I = 0; I < FValues.size(); ++I)
        if (SameText(FValues[I], ATaxValue)) return int32_t(I + 1);
    return 0;
}

int32_t TTaxValues::TaxGroup(int32_t AID) {
    static const int32_t Groups[] = {0, 1, 1, 2, 3, 4, 5, 5, 6, 7, 8, 9, 10, 11, 12};
    return AID >= 0 && AID <= 14 ? Groups[AID] : 0;
}

uint8_t TTaxValues::TaxByte(int32_t AGroup) {
    if (AGroup >= 1 && AGroup <= 6) return uint8_t(1u << (AGroup - 1));
    // Groups 11 and 12 (VAT 22% and 22/122) go on as 7 to 10 do: 90h, A0h.
    if (AGroup >= 7 && AGroup <= 12) return uint8_t(0x80 | (1u << (AGroup - 7)));
    return 0;
}

int64_t CorrectionDate(const std::string& AText) {
    const std::string T = Trim(AText);
    int64_t Seconds = 0;
    if (T.empty()) {
        const int64_t Now = LocalNow();
        Seconds = Now - ((Now % 86400) + 86400) % 86400;
    } else {
        Seconds = ISODateToUnix(T.size() == 10 ? T + "T00:00:00" : T);
    }
    int64_t Day = Seconds / 86400;
    if (Seconds % 86400 < 0) --Day;
    if (Day < 0 || Day * 86400 > int64_t(0xFFFFFFFF)) RaiseBadAttribute("Date", AText);
    return Day * 86400;
}

// ---- texts --------------------------------------------------------------------

std::string NormalizePhones(std::string_view APhones) {
    std::string Out, Part;
    const auto Flush = [&] {
        if (!Part.empty()) {
            std::string Digits;
            for (const char C : Part)
                if (C >= '0' && C <= '9') Digits += C;
            if (!Out.empty()) Out += ';';
            Out += '+' + Digits;
        }
        Part.clear();
    };
    for (const char C : APhones) {
        if (C == ';' || C == ',')
            Flush();
        else
            Part += C;
    }
    Flush();
    return Out;
}

std::vector<std::string> SplitPhones(std::string_view APhones) {
    std::vector<std::string> Out;
    if (APhones.empty()) return Out;
    size_t Start = 0;
    for (;;) {
        const size_t End = APhones.find(';', Start);
        Out.emplace_back(APhones.substr(Start, End == std::string_view::npos ? std::string_view::npos : End - Start));
        if (End == std::string_view::npos) break;
        Start = End + 1;
    }
    return Out;
}

size_t MaxTextLength(int32_t ATag) {
    // Lengths of the fiscal data formats for the texts this driver sends.
    static const std::map<int32_t, size_t> Limits = {
        {1005, 243}, {1008, 64},  {1016, 12},  {1021, 64}, {1026, 64}, {1044, 24},  {1073, 19}, {1074, 19}, {1075, 19},
        {1085, 64},  {1086, 175}, {1117, 64},  {1171, 19}, {1179, 32}, {1191, 64},  {1192, 16}, {1197, 16}, {1203, 12},
        {1225, 239}, {1226, 12},  {1227, 243}, {1228, 12}, {1230, 3},  {1231, 32},  {1243, 10}, {1244, 3},  {1245, 2},
        {1246, 64},  {1254, 243}, {1262, 3},   {1263, 10}, {1264, 32}, {1265, 239}, {1271, 64}, {1272, 64}};
    const auto It = Limits.find(ATag);
    return It == Limits.end() ? 0 : It->second;
}

void CheckRequisiteSize(int32_t ATag, const std::string& AValue) {
    if (AValue.size() > MaxRequisiteBytes)
        throw EquException(1004, "Ошибка входных параметров команды. Реквизит " + std::to_string(ATag) + " длиннее " +
                                     std::to_string(MaxRequisiteBytes) + " байт");
}

std::string CutUtf8(std::string_view AText, size_t AChars) {
    size_t Chars = 0, I = 0;
    for (; I < AText.size(); ++I) {
        if ((uint8_t(AText[I]) & 0xC0) == 0x80) continue;  // continuation byte
        if (Chars == AChars) break;
        ++Chars;
    }
    return std::string(AText.substr(0, I));
}

std::string RequisiteText(int32_t ATag, std::string_view AText, bool AOem) {
    const size_t Max = MaxTextLength(ATag);
    const std::string Cut = Max ? CutUtf8(AText, Max) : std::string(AText);
    return AOem ? Utf8ToOem(Cut) : Utf8ToAnsi(Cut);
}

}  // namespace fr
