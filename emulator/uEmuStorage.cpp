// The emulated fiscal storage: its state queries, registration and change of
// the registration parameters, closing, and stored documents read out record
// by record.
#include <algorithm>

#include "base/uCommonUtils.h"
#include "uEmuBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

constexpr uint8_t rcFNState = 0x02;
constexpr uint8_t rcNoData = 0x08;
constexpr uint8_t rcBadParams = 0x33;
constexpr uint8_t rcShiftOpen = 0x3C;
constexpr uint8_t rcMode = 0x73;

}  // namespace

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
    S += TLV(1013, FConfig.SerialNumber);
    S += TLV(1062, std::string(1, char(FRegTaxSystems)));
    const uint16_t ModeTags[6] = {1056, 1002, 1001, 1109, 1110, 1108};
    for (int I = 0; I < 6; ++I) S += TLV(ModeTags[I], std::string(1, char((FRegWorkModes >> I) & 1)));
    uint8_t Ext = FieldByte(18, 21);
    const uint16_t ExtTags[4] = {1207, 1193, 1126, 1221};
    for (int I = 0; I < 4; ++I) S += TLV(ExtTags[I], std::string(1, char((Ext >> I) & 1)));
    uint8_t Format = FieldByte(17, 17);
    if (Format < 2 || Format > 4) Format = 2;
    S += TLV(1209, std::string(1, char(Format)));
    S += TLV(1189, std::string(1, char(Format)));
    S += TLV(1190, std::string(1, char(FConfig.FFD)));
    S += TLV(1188, "1.0");
    if (AReason) S += TLV(1205, LE(AReason, 4));
    return S;
}

// ---- fiscal storage ---------------------------------------------------------------------

std::string TEmuDevice::CmdFNStatus(uint16_t, std::string_view, uint8_t&) {
    std::string A;
    A += char(FLifeState);                   // 1 life state
    A += char(FReceipt.Open ? 0x04 : 0x00);  // 2 current document
    A += char(FReceipt.Open ? 1 : 0);        // 3 document data received
    A += char(FShiftOpen ? 1 : 0);           // 4 shift state
    A += char(FWarningFlags);                // 5 warning flags
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
    uint8_t Done = 0;
    for (const auto& Doc : FDocuments) Done += (Doc.Type == 1 || Doc.Type == 11) ? 1 : 0;
    A += char(30 - std::min<uint8_t>(Done, 30));  // 4 registrations left
    A += char(Done);                              // 5 registrations made
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
        PutLE(A, 0, 4);                           // 53-56 reasons of the last change
        PutLE(A, Number, 4);                      // 57-60 document number
        PutLE(A, Sign, 4);                        // 61-64 fiscal sign
    } else {
        PutLE(A, Number, 4);  // 40-43 document number
        PutLE(A, Sign, 4);    // 44-47 fiscal sign
    }
    return A;
}

std::string TEmuDevice::CmdExchangeStatus(uint16_t, std::string_view, uint8_t&) {
    uint32_t Unsent = 0, First = 0;
    int64_t FirstTime = 0;
    for (const auto& D : FDocuments)
        if (!D.Sent) {
            if (!Unsent) First = D.Number, FirstTime = D.Time;
            ++Unsent;
        }
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

std::string TEmuDevice::CmdRegistration(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    if (ACode == 0xFF05) {
        uint8_t Type = R.Byte();
        if (FDataOutput || FReceipt.Open) {
            AResult = rcMode;
            return {};
        }
        if ((Type == 0 && FLifeState != 1) || (Type != 0 && FLifeState != 3)) {
            AResult = rcFNState;
            return {};
        }
        FRegistrationBegun = true;
        FPendingTLV.clear();
        return {};
    }
    size_t Tail = ACode == 0xFF34 ? 3 : 2;
    if (AData.size() < 12 + 20 + Tail) {
        AResult = rcBadParams;
        return {};
    }
    std::string Inn(R.Take(12));
    std::string Reg(R.Take(AData.size() - 12 - Tail));
    uint8_t Tax = R.Byte(), Modes = R.Byte();
    uint8_t Reason = ACode == 0xFF34 ? R.Byte() : 0;
    if (FDataOutput || FReceipt.Open) {
        AResult = rcMode;
        return {};
    }
    if ((ACode == 0xFF06 && FLifeState != 1) || (ACode == 0xFF34 && FLifeState != 3)) {
        AResult = rcFNState;
        return {};
    }
    if (FShiftOpen) {
        AResult = rcShiftOpen;
        return {};
    }
    auto Trim = [](std::string S) {
        while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.pop_back();
        return S;
    };
    FRegINN = Trim(Inn);
    FRegNumber = Trim(Reg);
    FRegTaxSystems = Tax;
    FRegWorkModes = Modes;
    FRegTime = Now();
    FLifeState = 3;
    FRegistrationBegun = false;
    auto& T18 = FTables[18].Fields;
    T18[1].Value = Inn;
    T18[2].Value = FRegNumber.substr(0, 20);
    T18[2].Value.resize(20, '\0');
    T18[4].Value = std::string(1, char(Tax));
    T18[5].Value = std::string(1, char(Modes));
    BeginDocumentPrint();
    PrintUtf8(ACode == 0xFF06 ? "ОТЧЕТ О РЕГИСТРАЦИИ" : "ОТЧЕТ ОБ ИЗМ. ПАРАМЕТРОВ РЕГИСТРАЦИИ", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("ИНН", FRegINN, FConfig.LineLen));
    PrintUtf8(Columns("РН ККТ", FRegNumber, FConfig.LineLen));
    TEmuDocument& D = StoreDocument(ACode == 0xFF06 ? 1 : 11, RegistrationTLV(Reason));
    FRegistrationDoc = D.Number;
    PrintDocumentFooter(D);
    EndDocumentPrint();
    return {};
}

std::string TEmuDevice::CmdCloseFN(uint16_t, std::string_view, uint8_t& AResult) {
    if (FLifeState != 3) {
        AResult = rcFNState;
        return {};
    }
    if (FShiftOpen) {
        AResult = rcShiftOpen;
        return {};
    }
    if (!DocumentCommandAllowed(AResult, false)) return {};
    BeginDocumentPrint();
    PrintUtf8("ОТЧЕТ О ЗАКРЫТИИ ФН", TEmuTextStyle::tsTitle);
    TEmuDocument& D = StoreDocument(6, {});
    PrintDocumentFooter(D);
    EndDocumentPrint();
    FLifeState = 7;
    return {};
}

}  // namespace fr
