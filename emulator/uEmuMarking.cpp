// Marking codes in the emulated fiscal storage. A code is checked (0xFF
// 0x61), then accepted or rejected (0xFF 0x69) before the next code may be
// checked; only an accepted code can be bound to an item (0xFF 0x67). The
// buffer of checked codes lives in the storage: a cancelled receipt, a lost
// connection or a power cut leave it as it is; a closed receipt takes out
// the codes it sold, and 0xFF 0x69 with 2 empties it.
#include <algorithm>

#include "uEmuBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

constexpr uint8_t rcFNState = 0x02;
constexpr uint8_t rcBusy = 0x04;
constexpr uint8_t rcBadParams = 0x33;
constexpr uint8_t rcReceiptClosed = 0x55;
constexpr uint8_t rcMarkingOff = 0xA0;
constexpr uint8_t rcMarkingOrder = 0xA1;
constexpr uint8_t rcMarkTable = 0xA3;
constexpr uint8_t rcTLVMissing = 0xA4;
constexpr uint8_t rcMarkUnchecked = 0xA5;

constexpr size_t kMaxChecked = 128;  // codes the storage keeps for one receipt

// What the storage reports for an answer kind: its own check (bits 0 and 1:
// checked, passed), then the result byte and tag 2005 (bits 0 and 1: the
// storage's check; bits 2 and 3: the marking system's), and tag 2109.
struct TAnswerBytes {
    uint8_t Local, Result, Status;
    bool Online;
};

TAnswerBytes AnswerBytes(TEmuMarkAnswer AAnswer) {
    switch (AAnswer) {
        case TEmuMarkAnswer::Invalid:
            return {0x01, 0x05, 2, true};
        case TEmuMarkAnswer::StatusNotConfirmed:
            return {0x03, 0x07, 2, true};
        case TEmuMarkAnswer::Offline:
            return {0x03, 0x03, 0, false};
        case TEmuMarkAnswer::Valid:
            break;
    }
    return {0x03, 0x0F, 1, true};
}

}  // namespace

void TEmuDevice::SetMarkingCodeInvalid(const std::string& ACode) {
    SetMarkingAnswer(TEmuMarkAnswer::Invalid, ACode);
}

void TEmuDevice::SetMarkingAnswer(TEmuMarkAnswer AAnswer, const std::string& ACode) {
    std::lock_guard<std::mutex> G(FMutex);
    if (ACode.empty())
        FKMDefaultAnswer = AAnswer;
    else
        FKMAnswers[ACode] = AAnswer;
}

void TEmuDevice::SetMarkingBusy(int AAttempts) {
    std::lock_guard<std::mutex> G(FMutex);
    FKMBusy = std::max(AAttempts, 0);
    FKMBusyRun = 0;
}

TEmuMarkState TEmuDevice::MarkingCodeState(const std::string& ACode) const {
    std::lock_guard<std::mutex> G(FMutex);
    for (const TKMCheck& C : FKMChecks)
        if (C.Code == ACode) return C.Accepted ? TEmuMarkState::Accepted : TEmuMarkState::Pending;
    return TEmuMarkState::None;
}

TEmuDevice::TKMCheck* TEmuDevice::FindKMCheck(const std::string& ACode) {
    auto It = std::find_if(FKMChecks.begin(), FKMChecks.end(), [&](const TKMCheck& C) { return C.Code == ACode; });
    return It == FKMChecks.end() ? nullptr : &*It;
}

void TEmuDevice::MarkingReceiptEnded(bool AClosed) {
    if (AClosed) {
        std::erase_if(FKMChecks, [](const TKMCheck& C) { return C.Bound; });
    } else {
        for (TKMCheck& C : FKMChecks) C.Bound = false;
        FRealizations -= FKMReceiptBinds;
    }
    FKMReceiptBinds = 0;
}

std::string TEmuDevice::MarkingCodeTLV(const std::string& ACode) {
    std::string Code = ACode.substr(0, ACode.find('\x1D'));
    bool Digits = !Code.empty() && std::all_of(Code.begin(), Code.end(), [](char C) { return C >= '0' && C <= '9'; });
    // "01", a GTIN of 14 digits, "21" and a serial of any length is a
    // GS1 DataMatrix code: milk and water codes carry serials of 6 or 7.
    const bool GS1 = Code.size() > 18 && Code.compare(0, 2, "01") == 0 && Code.compare(16, 2, "21") == 0 &&
                     std::all_of(Code.begin() + 2, Code.begin() + 16, [](char C) { return C >= '0' && C <= '9'; });
    uint16_t Tag = 1300;
    if (GS1 || (Code.size() >= 25 && Code.compare(0, 2, "01") == 0))
        Tag = 1305;
    else if (Digits && Code.size() == 13)
        Tag = 1302;
    else if (Digits && Code.size() == 8)
        Tag = 1301;
    else if (Digits && Code.size() == 14)
        Tag = 1303;
    if (Code.size() > 64) Code.resize(64);
    return TLV(1163, TLV(Tag, Code));
}

std::string TEmuDevice::CmdCheckMark(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    const uint8_t Planned = R.Byte();
    const uint8_t Mode = R.Byte();
    const uint8_t CodeLen = R.Byte(), TLVLen = R.Byte();
    const std::string Code(R.Take(CodeLen));
    std::string_view Extra = R.Take(TLVLen);
    if (FLifeState != 3) {
        AResult = rcFNState;
        return {};
    }
    if (FieldByte(17, 17) != efFFD12 || !(FieldByte(18, 21) & 0x10)) {
        AResult = rcMarkingOff;
        return {};
    }
    // A driver repeats a check that found the storage busy without any other
    // command between, so a check and its repeats are one run of attempts.
    const bool SameRun = FCommands.size() >= 2 && FCommands[FCommands.size() - 2].compare(0, 2, "\xFF\x61") == 0;
    if (!SameRun) FKMBusyRun = 0;
    if (FKMBusyRun < FKMBusy) {
        ++FKMBusyRun;
        AResult = rcBusy;
        return {};
    }
    FKMBusyRun = 0;
    if (CodeLen == 0 || Mode != 0) {
        AResult = rcBadParams;
        return {};
    }
    bool HasMeasure = false;
    for (std::string_view T = Extra; !T.empty();) {
        const size_t Len = T.size() >= 4 ? size_t(GetLE(T.substr(2, 2))) : 0;
        if (T.size() < 4 || T.size() - 4 < Len) {
            AResult = rcBadParams;
            return {};
        }
        HasMeasure = HasMeasure || GetLE(T.substr(0, 2)) == 2108;
        T.remove_prefix(4 + Len);
    }
    // A sale or return by weight or measure names its measure.
    if ((Planned == 2 || Planned == 4) && !HasMeasure) {
        AResult = rcTLVMissing;
        return {};
    }
    // The code checked before waits for its acceptance or rejection.
    if (std::any_of(FKMChecks.begin(), FKMChecks.end(), [](const TKMCheck& C) { return !C.Accepted; })) {
        AResult = rcMarkingOrder;
        return {};
    }
    TKMCheck* Check = FindKMCheck(Code);
    if (!Check && FKMChecks.size() >= kMaxChecked) {
        AResult = rcMarkTable;
        return {};
    }
    if (Check)
        Check->Accepted = false;
    else
        FKMChecks.push_back({Code, false, false});

    const auto Own = FKMAnswers.find(Code);
    const TAnswerBytes B = AnswerBytes(Own == FKMAnswers.end() ? FKMDefaultAnswer : Own->second);
    std::string Block;
    Block += char(B.Online ? 0 : 1);  // 0: the marking system answered
    Block += char(B.Result);
    Block += TLV(2100, std::string(1, char(Code.compare(0, 2, "01") == 0 ? 5 : 0)));
    if (B.Online) {
        Block += TLV(2109, std::string(1, char(B.Status)));
        Block += TLV(2005, std::string(1, char(B.Result)));
        Block += TLV(2105, std::string(1, '\0'));
    }
    Block += TLV(2114, LE(uint32_t(Now()), 4));
    std::string A;
    A += char(B.Local);       // 1 the storage's own check
    A += char(0);             // 2 reason
    A += char(0);             // 3 reserved
    A += char(Block.size());  // 4 block length
    return A + Block;
}

std::string TEmuDevice::CmdAcceptMark(uint16_t, std::string_view AData, uint8_t& AResult) {
    const uint8_t Op = TEmuReader(AData).Byte();
    if (Op == 2) {
        FKMChecks.clear();
        return {};
    }
    if (Op > 1) {
        AResult = rcBadParams;
        return {};
    }
    auto Pending = std::find_if(FKMChecks.begin(), FKMChecks.end(), [](const TKMCheck& C) { return !C.Accepted; });
    if (Pending == FKMChecks.end()) {
        AResult = rcMarkingOrder;
        return {};
    }
    if (Op == 1)
        Pending->Accepted = true;
    else
        FKMChecks.erase(Pending);
    return {};
}

std::string TEmuDevice::CmdBindMark(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    const uint8_t Len = R.Byte();
    const std::string Code(R.Take(Len));
    const bool ByGTIN = R.Left() > 0 && R.Byte() == 0xFF;
    if (!FReceipt.Open) {
        AResult = rcReceiptClosed;
        return {};
    }
    if (FReceipt.Items.empty()) {
        AResult = rcMarkingOrder;
        return {};
    }
    if (!ByGTIN) {
        TKMCheck* Check = FindKMCheck(Code);
        if (!Check) {
            AResult = rcMarkUnchecked;
            return {};
        }
        // Not yet accepted, or already sold in this receipt.
        if (!Check->Accepted || Check->Bound) {
            AResult = rcMarkingOrder;
            return {};
        }
        Check->Bound = true;
    }
    FReceipt.Items.back().ExtraTLV += MarkingCodeTLV(Code);
    ++FKMReceiptBinds;
    ++FRealizations;
    return {};
}

std::string TEmuDevice::CmdMarkStatus(uint16_t, std::string_view, uint8_t&) {
    const bool Waiting = std::any_of(FKMChecks.begin(), FKMChecks.end(), [](const TKMCheck& C) { return !C.Accepted; });
    std::string A;
    A += char(Waiting ? 1 : 0);                          // 1 check status: a result waits for acceptance
    A += char(FRealizations ? 1 : 0);                    // 2 notification status
    A += char(0);                                        // 3 command flags
    A += char(std::min<size_t>(FKMChecks.size(), 255));  // 4 saved check results
    A += char(std::min<uint32_t>(FRealizations, 255));   // 5 sales of marked goods
    A += char(0);                                        // 6 storage used, percent
    PutLE(A, FRealizations, 2);                          // 7-8 notifications waiting
    return A;
}

}  // namespace fr
