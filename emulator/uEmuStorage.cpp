// The emulated fiscal storage: its state queries, registration and change of
// the registration parameters, closing, and stored documents read out record
// by record.
#include <algorithm>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "uEmuBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

constexpr uint8_t rcFNState = 0x02;  // the command needs another state of the storage
constexpr uint8_t rcNoData = 0x08;
constexpr uint8_t rcBadValue = 0x09;     // well-formed parameters the storage does not take
constexpr uint8_t rcResourceOut = 0x12;  // no registration left: the storage must be closed
constexpr uint8_t rcBadParams = 0x33;
constexpr uint8_t rcShiftOpen = 0x3C;
constexpr uint8_t rcMode = 0x73;

// Registration and re-registration reports one storage takes in its life.
constexpr uint8_t kMaxRegistrations = 30;

// Current document of 0xFF 0x01 (offset 2) for a begun registration report
// of type 0, 1 and 2.
constexpr uint8_t kBegunDocument[3] = {0x01, 0x12, 0x13};

// Whether the concatenated TLV records hold one of tag ATag.
bool HasRecord(std::string_view ATLV, uint16_t ATag) {
    while (ATLV.size() >= 4) {
        if (GetLE(ATLV.substr(0, 2)) == ATag) return true;
        ATLV.remove_prefix(std::min(ATLV.size(), 4 + size_t(GetLE(ATLV.substr(2, 2)))));
    }
    return false;
}

std::string Byte(uint8_t AValue) {
    return std::string(1, char(AValue));
}

}  // namespace

uint8_t TEmuDevice::RegistrationsMade() const {
    return uint8_t(std::count_if(FDocuments.begin(), FDocuments.end(),
                                 [](const TEmuDocument& D) { return D.Type == 1 || D.Type == 11; }));
}

std::string TEmuDevice::RegistrationTLV(uint8_t AReason) const {
    std::string S;
    auto Text = [&](uint16_t ATag, uint8_t AField) {
        std::string V = FieldText(18, AField);
        if (!V.empty()) S += TLV(ATag, AnsiToOem(V));
    };
    Text(1048, 7);
    Text(1009, 9);
    Text(1187, 14);
    Text(1046, 10);
    Text(1017, 12);
    Text(1060, 13);
    Text(1117, 15);
    // The cashier of the report, unless sent as a requisite of its own.
    if (!HasRecord(FPendingTLV, 1021)) Text(1021, 8);
    S += TLV(1013, FConfig.SerialNumber);
    S += TLV(1062, std::string(1, char(FRegTaxSystems)));
    const uint16_t ModeTags[6] = {1056, 1002, 1001, 1109, 1110, 1108};
    for (int I = 0; I < 6; ++I) S += TLV(ModeTags[I], std::string(1, char((FRegWorkModes >> I) & 1)));
    // The number of the automatic device in automatic mode, the agent types when there are any.
    std::string Automatic = FieldText(24, 1);
    if ((FRegWorkModes & 0x04) && !Automatic.empty()) S += TLV(1036, AnsiToOem(Automatic));
    if (uint8_t Agents = FieldByte(18, 16)) S += TLV(1057, Byte(Agents));
    uint8_t Ext = FieldByte(18, 21);
    const uint16_t ExtTags[4] = {1207, 1193, 1126, 1221};
    for (int I = 0; I < 4; ++I) S += TLV(ExtTags[I], std::string(1, char((Ext >> I) & 1)));
    uint8_t Format = FieldByte(17, 17);
    if (Format < 2 || Format > 4) Format = 2;
    S += TLV(1209, std::string(1, char(Format)));
    S += TLV(1189, std::string(1, char(Format)));
    S += TLV(1190, std::string(1, char(FConfig.FFD)));
    S += TLV(1188, "1.0");
    // The reason of a change: one code before format 1.2, a 4-byte field from it on.
    if (AReason) S += Format < efFFD12 ? TLV(1101, Byte(AReason)) : TLV(1205, LE(AReason, 4));
    return S;
}

// ---- fiscal storage ---------------------------------------------------------------------

std::string TEmuDevice::CmdFNStatus(uint16_t, std::string_view, uint8_t&) {
    std::string A;
    uint8_t Current = FReceipt.Open ? 0x04 : FBegunReport >= 0 ? kBegunDocument[FBegunReport] : 0x00;
    A += char(FLifeState);             // 1 life state
    A += char(Current);                // 2 current document
    A += char(FReceipt.Open ? 1 : 0);  // 3 document data received
    A += char(FShiftOpen ? 1 : 0);     // 4 shift state
    A += char(FWarningFlags);          // 5 warning flags
    int64_t Last = FDocuments.empty() ? Now() : FDocuments.back().Time;
    A += DateTimeBytes(Last, false);         // 6-10 date and time of the last document
    PutFixed(A, FConfig.FNSerial, 16, ' ');  // 11-26 storage serial number
    PutLE(A, LastDocumentNumber(), 4);       // 27-30 last document number
    return A;
}

std::string TEmuDevice::CmdFNValidity(uint16_t, std::string_view, uint8_t&) {
    int64_t Base = FRegTime ? FRegTime : Now();
    std::string D = DateTimeBytes(Base + 450LL * 86400, false);
    std::string A = D.substr(0, 3);  // 1 year, 2 month, 3 day
    uint8_t Done = RegistrationsMade();
    A += char(kMaxRegistrations - std::min(Done, kMaxRegistrations));  // 4 registrations left
    A += char(Done);                                                   // 5 registrations made
    return A;
}

std::string TEmuDevice::CmdFNVersion(uint16_t, std::string_view, uint8_t&) {
    const char* V = FConfig.FFD == efFFD12   ? "FN-1_2 EMU 0001"
                    : FConfig.FFD == efFFD11 ? "FN-1_1 EMU 0001"
                                             : "FN-1_0 EMU 0001";
    std::string A;
    PutFixed(A, V, 16, ' ');  // 1-16 version text
    A += char(1);             // 17: serial (not debug) firmware
    return A;
}

std::string TEmuDevice::CmdFiscalisation(uint16_t, std::string_view, uint8_t&) {
    // An unregistered storage answers with empty parameters and document 0.
    const TEmuDocument* Reg = nullptr;
    for (const auto& D : FDocuments)
        if (D.Number == FRegistrationDoc) Reg = &D;
    std::string A = DateTimeBytes(Reg ? Reg->Time : 0, false);  // 1-5
    std::string Inn = FRegINN.size() == 10 ? FRegINN + "  " : FRegINN;
    PutFixed(A, Inn, 12, ' ');         // 6-17 INN
    PutFixed(A, FRegNumber, 20, ' ');  // 18-37 registration number
    A += char(FRegTaxSystems);         // 38 taxation systems
    A += char(FRegWorkModes);          // 39 work modes
    uint32_t Number = Reg ? Reg->Number : 0, Sign = Reg ? Reg->FiscalSign : 0;
    if (FieldByte(17, 17) == efFFD12) {
        A += char(FieldByte(18, 21));             // 40 extended work modes
        PutFixed(A, FieldText(18, 12), 12, ' ');  // 41-52 operator INN
        PutLE(A, FRegReasons, 4);                 // 53-56 reason of the last change
        PutLE(A, Number, 4);                      // 57-60 document number
        PutLE(A, Sign, 4);                        // 61-64 fiscal sign
    } else {
        PutLE(A, Number, 4);  // 40-43 document number
        PutLE(A, Sign, 4);    // 44-47 fiscal sign
    }
    return A;
}

TEmuDevice::TUnsent TEmuDevice::UnsentDocuments() const {
    TUnsent U;
    for (const auto& D : FDocuments)
        if (!D.Sent) {
            if (!U.Count) U.First = D.Number, U.FirstTime = D.Time;
            ++U.Count;
        }
    return U;
}

std::string TEmuDevice::CmdExchangeStatus(uint16_t, std::string_view, uint8_t&) {
    const auto [Unsent, First, FirstTime] = UnsentDocuments();
    std::string A;
    A += char(Unsent ? 0x02 : 0x00);                                       // 1 exchange status: message waiting
    A += char(0);                                                          // 2 message read started
    PutLE(A, Unsent, 2);                                                   // 3-4 documents not sent
    PutLE(A, First, 4);                                                    // 5-8 first of them
    A += Unsent ? DateTimeBytes(FirstTime, false) : std::string(5, '\0');  // 9-13 its date and time
    return A;
}

std::string TEmuDevice::CmdRequestDocument(uint16_t, std::string_view AData, uint8_t& AResult) {
    uint32_t Number = uint32_t(TEmuReader(AData).Int(4));
    if (FDataOutput || FReceipt.Open) {
        AResult = rcMode;
        return {};
    }
    for (const auto& D : FDocuments)
        if (D.Number == Number) {
            FDataOutput = true;
            FReadOut = D.TLV;
            FReadPos = 0;
            return LE(D.Type, 2) + LE(D.TLV.size(), 2);
        }
    AResult = rcNoData;
    return {};
}

std::string TEmuDevice::CmdReadDocument(uint16_t, std::string_view, uint8_t& AResult) {
    if (!FDataOutput) {
        AResult = rcMode;
        return {};
    }
    if (FReadPos + 4 > FReadOut.size()) {
        // The empty record ends the read-out and the data-output mode.
        FDataOutput = false;
        FReadOut.clear();
        return {};
    }
    size_t Len = 4 + size_t(GetLE(std::string_view(FReadOut).substr(FReadPos + 2, 2)));
    Len = std::min(Len, FReadOut.size() - FReadPos);
    std::string R = FReadOut.substr(FReadPos, Len);
    FReadPos += Len;
    return R;
}

// 0xFF 0x05 begins a registration report (type 0) or a report on the change
// of registration parameters (1: with a new storage, 2: any other change);
// 0xFF 0x06 and 0xFF 0x34 make the report the begin announced.
std::string TEmuDevice::CmdRegistration(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    if (ACode == 0xFF05) {
        uint8_t Type = R.Byte();
        if (Type > 2) {
            AResult = rcBadParams;
        } else if (FDataOutput || FReceipt.Open) {
            AResult = rcMode;
        } else if (FLifeState != (Type == 0 ? lsReady : lsFiscal)) {
            AResult = rcFNState;
        } else if (FShiftOpen) {
            AResult = rcShiftOpen;
        } else if (Type != 0 && RegistrationsMade() >= kMaxRegistrations) {
            AResult = rcResourceOut;
        } else {
            FBegunReport = Type;
            FPendingTLV.clear();
        }
        return {};
    }
    const bool Change = ACode == 0xFF34;
    size_t Tail = Change ? 3 : 2;
    if (AData.size() < 12 + 20 + Tail) {
        AResult = rcBadParams;
        return {};
    }
    std::string Inn(R.Take(12));
    std::string Reg(R.Take(AData.size() - 12 - Tail));
    uint8_t Tax = R.Byte(), Modes = R.Byte();
    uint8_t Reason = Change ? R.Byte() : 0;
    auto Trim = [](std::string S) {
        while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.pop_back();
        return S;
    };
    if (FDataOutput || FReceipt.Open) {
        AResult = rcMode;
    } else if (FLifeState != (Change ? lsFiscal : lsReady)) {
        AResult = rcFNState;
    } else if (FShiftOpen) {
        AResult = rcShiftOpen;
    } else if (Change ? FBegunReport != 1 && FBegunReport != 2 : FBegunReport != 0) {
        // No begin, or the begin of the other kind of report.
        AResult = rcFNState;
    } else if (!IsValidINN(Trim(Inn)) || FieldByte(17, 17) > FConfig.FFD) {
        // An INN whose check digits do not fit, or a document format newer
        // than the storage's own.
        AResult = rcBadValue;
    }
    if (AResult) return {};
    FRegINN = Trim(Inn);
    FRegNumber = Trim(Reg);
    FRegTaxSystems = Tax;
    FRegWorkModes = Modes;
    FRegReasons = Reason;
    FRegTime = Now();
    FLifeState = lsFiscal;
    auto& T18 = FTables[18].Fields;
    T18[1].Value = Inn;
    T18[2].Value = FRegNumber.substr(0, 20);
    T18[2].Value.resize(20, '\0');
    T18[4].Value = Byte(Tax);
    T18[5].Value = Byte(Modes);
    BeginDocumentPrint();
    PrintUtf8(Change ? "ОТЧЕТ ОБ ИЗМ. ПАРАМЕТРОВ РЕГИСТРАЦИИ" : "ОТЧЕТ О РЕГИСТРАЦИИ", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("ИНН", FRegINN, FConfig.LineLen));
    PrintUtf8(Columns("РН ККТ", FRegNumber, FConfig.LineLen));
    TEmuDocument& D = StoreDocument(Change ? 11 : 1, RegistrationTLV(Reason));
    FRegistrationDoc = D.Number;
    PrintDocumentFooter(D);
    EndDocumentPrint();
    return {};
}

// The closing report keeps who and where, and the last shift; the storage
// then makes no fiscal document any more.
std::string TEmuDevice::CmdCloseFN(uint16_t, std::string_view, uint8_t& AResult) {
    if (FLifeState != lsFiscal) {
        AResult = rcFNState;
        return {};
    }
    if (FShiftOpen) {
        AResult = rcShiftOpen;
        return {};
    }
    if (!DocumentCommandAllowed(AResult, false)) return {};
    std::string S;
    for (auto [Tag, Field] : {std::pair<uint16_t, uint8_t>{1048, 7}, {1009, 9}, {1187, 14}, {1021, 8}}) {
        std::string V = FieldText(18, Field);
        if (!V.empty() && !(Tag == 1021 && HasRecord(FPendingTLV, 1021))) S += TLV(Tag, AnsiToOem(V));
    }
    S += TLV(1038, LE(FShiftNumber, 4));
    BeginDocumentPrint();
    PrintUtf8("ОТЧЕТ О ЗАКРЫТИИ ФН", TEmuTextStyle::tsTitle);
    TEmuDocument& D = StoreDocument(6, S);
    PrintDocumentFooter(D);
    EndDocumentPrint();
    FLifeState = lsPostFiscal;
    return {};
}

}  // namespace fr
