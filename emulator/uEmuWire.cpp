#include "uEmuWire.h"

#include <charconv>
#include <limits>
#include <type_traits>
#include <utility>

namespace fr::emuwire {

std::string Hex(std::string_view ABytes) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string S;
    S.reserve(ABytes.size() * 2);
    for (const char C : ABytes) {
        S += Digits[uint8_t(C) >> 4];
        S += Digits[uint8_t(C) & 15];
    }
    return S;
}

std::optional<std::string> Unhex(std::string_view AHex) {
    auto Digit = [](char C) -> int {
        if (C >= '0' && C <= '9') return C - '0';
        if (C >= 'A' && C <= 'F') return C - 'A' + 10;
        if (C >= 'a' && C <= 'f') return C - 'a' + 10;
        return -1;
    };
    if (AHex.size() % 2) return std::nullopt;
    std::string S;
    S.reserve(AHex.size() / 2);
    for (size_t I = 0; I < AHex.size(); I += 2) {
        const int H = Digit(AHex[I]), L = Digit(AHex[I + 1]);
        if (H < 0 || L < 0) return std::nullopt;
        S += char(H * 16 + L);
    }
    return S;
}

std::vector<std::string> Split(std::string_view AText, char ASeparator) {
    std::vector<std::string> R;
    size_t Start = 0;
    for (;;) {
        const size_t End = AText.find(ASeparator, Start);
        R.emplace_back(AText.substr(Start, End == std::string_view::npos ? std::string_view::npos : End - Start));
        if (End == std::string_view::npos) return R;
        Start = End + 1;
    }
}

std::optional<int64_t> Number(std::string_view AText) {
    int64_t V = 0;
    const char* End = AText.data() + AText.size();
    const auto [P, Ec] = std::from_chars(AText.data(), End, V);
    if (AText.empty() || Ec != std::errc() || P != End) return std::nullopt;
    return V;
}

namespace {

// One field of TEmuConfig: its name and how it is written and read.
struct TConfigField {
    const char* Name;
    std::string (*Get)(const TEmuConfig&);
    bool (*Set)(TEmuConfig&, std::string_view);
};

template <auto Member>
std::string GetNumber(const TEmuConfig& C) {
    return std::to_string(int64_t(C.*Member));
}

template <auto Member>
bool SetNumber(TEmuConfig& C, std::string_view V) {
    using T = std::remove_reference_t<decltype(C.*Member)>;
    using N = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;
    const auto Value = Number(V);
    if (!Value || *Value < int64_t(std::numeric_limits<N>::min()) || *Value > int64_t(std::numeric_limits<N>::max()))
        return false;
    C.*Member = T(N(*Value));
    return true;
}

template <auto Member>
std::string GetText(const TEmuConfig& C) {
    return Hex(C.*Member);
}

template <auto Member>
bool SetText(TEmuConfig& C, std::string_view V) {
    const auto Text = Unhex(V);
    return Text && (C.*Member = *Text, true);
}

#define FR_NUMBER(F) \
    { #F, GetNumber < &TEmuConfig::F>, SetNumber < &TEmuConfig::F> }
#define FR_TEXT(F) \
    { #F, GetText < &TEmuConfig::F>, SetText < &TEmuConfig::F> }
const TConfigField kConfigFields[] = {
    FR_NUMBER(Password),   FR_NUMBER(LineLen),      FR_TEXT(SerialNumber), FR_TEXT(ModelName),
    FR_NUMBER(Fiscalised), FR_NUMBER(FFD),          FR_TEXT(FNSerial),     FR_TEXT(INN),
    FR_TEXT(RegNumber),    FR_TEXT(CompanyName),    FR_TEXT(Address),      FR_NUMBER(TaxSystems),
    FR_NUMBER(WorkModes),  FR_NUMBER(ExtWorkModes), FR_NUMBER(PrintPolls), FR_NUMBER(CheckArithmetic),
    FR_NUMBER(Baud),
};
#undef FR_NUMBER
#undef FR_TEXT

template <typename T, size_t N>
const char* NameOf(const std::pair<T, const char*> (&ANames)[N], T AValue) {
    for (const auto& [Value, Name] : ANames)
        if (Value == AValue) return Name;
    return "?";
}

template <typename T, size_t N>
std::optional<T> ValueOf(const std::pair<T, const char*> (&ANames)[N], std::string_view AName) {
    for (const auto& [Value, Name] : ANames)
        if (AName == Name) return Value;
    return std::nullopt;
}

const std::pair<TEmuFault, const char*> kFaults[] = {
    {TEmuFault::Silence, "Silence"},         {TEmuFault::Nak, "Nak"},
    {TEmuFault::BadChecksum, "BadChecksum"}, {TEmuFault::CutAnswer, "CutAnswer"},
    {TEmuFault::ExtraBytes, "ExtraBytes"},   {TEmuFault::DropConnection, "DropConnection"},
    {TEmuFault::DeviceError, "DeviceError"},
};
const std::pair<TEmuMarkAnswer, const char*> kMarkAnswers[] = {
    {TEmuMarkAnswer::Valid, "Valid"},
    {TEmuMarkAnswer::Invalid, "Invalid"},
    {TEmuMarkAnswer::StatusNotConfirmed, "StatusNotConfirmed"},
    {TEmuMarkAnswer::Offline, "Offline"},
};
const std::pair<TEmuMarkState, const char*> kMarkStates[] = {
    {TEmuMarkState::None, "None"},
    {TEmuMarkState::Pending, "Pending"},
    {TEmuMarkState::Accepted, "Accepted"},
};

}  // namespace

std::string ConfigText(const TEmuConfig& AConfig) {
    std::string S;
    for (const TConfigField& F : kConfigFields) {
        if (!S.empty()) S += ' ';
        S += std::string(F.Name) + "=" + F.Get(AConfig);
    }
    return S;
}

bool SetConfigField(TEmuConfig& AConfig, std::string_view AToken, std::string& AError) {
    const size_t Eq = AToken.find('=');
    const std::string_view Name = AToken.substr(0, Eq);
    for (const TConfigField& F : kConfigFields) {
        if (Name != F.Name) continue;
        if (Eq != std::string_view::npos && F.Set(AConfig, AToken.substr(Eq + 1))) return true;
        AError = "bad value for " + std::string(Name) + ": " + std::string(AToken);
        return false;
    }
    AError = "no configuration field " + std::string(Name);
    return false;
}

std::string DocumentText(const TEmuDocument& ADoc) {
    return std::to_string(ADoc.Number) + "," + std::to_string(ADoc.Type) + "," + std::to_string(ADoc.Time) + "," +
           std::to_string(ADoc.FiscalSign) + "," + (ADoc.Sent ? "1" : "0") + "," + Hex(ADoc.TLV);
}

std::optional<TEmuDocument> ParseDocument(std::string_view AText) {
    const auto F = Split(AText, ',');
    if (F.size() != 6) return std::nullopt;
    const auto Number_ = Number(F[0]), Type = Number(F[1]), Time = Number(F[2]), Sign = Number(F[3]),
               Sent = Number(F[4]);
    const auto TLV = Unhex(F[5]);
    if (!Number_ || !Type || !Time || !Sign || !Sent || !TLV) return std::nullopt;
    TEmuDocument D;
    D.Number = uint32_t(*Number_);
    D.Type = uint16_t(*Type);
    D.Time = *Time;
    D.FiscalSign = uint32_t(*Sign);
    D.Sent = *Sent != 0;
    D.TLV = *TLV;
    return D;
}

std::string TapeEntryText(const TEmuTapeEntry& AEntry) {
    std::string Rows = std::to_string(AEntry.Rows.size());
    for (const std::string& R : AEntry.Rows) Rows += "." + Hex(R);
    return std::to_string(int(AEntry.Kind)) + "," + std::to_string(int(AEntry.Style)) + "," +
           std::to_string(AEntry.Font) + "," + Hex(AEntry.Text) + "," + std::to_string(AEntry.Count) + "," + Rows;
}

std::optional<TEmuTapeEntry> ParseTapeEntry(std::string_view AText) {
    const auto F = Split(AText, ',');
    if (F.size() != 6) return std::nullopt;
    const auto Kind = Number(F[0]), Style = Number(F[1]), Font = Number(F[2]), Count = Number(F[4]);
    const auto Text = Unhex(F[3]);
    const auto Rows = Split(F[5], '.');
    const auto RowCount = Number(Rows[0]);
    if (!Kind || !Style || !Font || !Count || !Text || !RowCount || *RowCount != int64_t(Rows.size() - 1) ||
        *Kind < 0 || *Kind > int(TEmuTapeKind::tkCut) || *Style < 0 || *Style > int(TEmuTextStyle::tsTitle))
        return std::nullopt;
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind(*Kind);
    E.Style = TEmuTextStyle(*Style);
    E.Font = int(*Font);
    E.Text = *Text;
    E.Count = int(*Count);
    for (size_t I = 1; I < Rows.size(); ++I) {
        const auto Row = Unhex(Rows[I]);
        if (!Row) return std::nullopt;
        E.Rows.push_back(*Row);
    }
    return E;
}

const char* FaultName(TEmuFault AFault) {
    return NameOf(kFaults, AFault);
}
std::optional<TEmuFault> ParseFault(std::string_view AName) {
    return ValueOf(kFaults, AName);
}
const char* MarkAnswerName(TEmuMarkAnswer AAnswer) {
    return NameOf(kMarkAnswers, AAnswer);
}
std::optional<TEmuMarkAnswer> ParseMarkAnswer(std::string_view AName) {
    return ValueOf(kMarkAnswers, AName);
}
const char* MarkStateName(TEmuMarkState AState) {
    return NameOf(kMarkStates, AState);
}
std::optional<TEmuMarkState> ParseMarkState(std::string_view AName) {
    return ValueOf(kMarkStates, AName);
}

}  // namespace fr::emuwire
