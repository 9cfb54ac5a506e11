// Marking codes in the emulated fiscal storage: checking a code, accepting
// or rejecting it, binding it to an item, the storage's marking status.
#include <algorithm>

#include "uEmuBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

constexpr uint8_t rcFNState = 0x02;
constexpr uint8_t rcBadParams = 0x33;
constexpr uint8_t rcReceiptClosed = 0x55;
constexpr uint8_t rcMarkingOff = 0xA0;
constexpr uint8_t rcMarkingOrder = 0xA1;
constexpr uint8_t rcMarkTable = 0xA3;
constexpr uint8_t rcMarkUnchecked = 0xA5;

}  // namespace

void TEmuDevice::SetMarkingCodeInvalid(const std::string& ACode) {
    std::lock_guard<std::mutex> G(FMutex);
    FInvalidCodes.push_back(ACode);
}

std::string TEmuDevice::MarkingCodeTLV(const std::string& ACode) {
    std::string Code = ACode.substr(0, ACode.find('\x1D'));
    bool Digits = !Code.empty() && std::all_of(Code.begin(), Code.end(), [](char C) { return C >= '0' && C <= '9'; });
    uint16_t Tag = 1300;
    if (Code.size() >= 25 && Code.compare(0, 2, "01") == 0)
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
    R.Byte();  // planned status
    R.Byte();  // processing mode
    uint8_t CodeLen = R.Byte(), TLVLen = R.Byte();
    std::string Code(R.Take(CodeLen));
    R.Take(TLVLen);
    if (FLifeState != 3) {
        AResult = rcFNState;
        return {};
    }
    if (FieldByte(17, 17) != efFFD12 || !(FieldByte(18, 21) & 0x10)) {
        AResult = rcMarkingOff;
        return {};
    }
    if (CodeLen == 0) {
        AResult = rcBadParams;
        return {};
    }
    auto It = std::find_if(FKMChecks.begin(), FKMChecks.end(), [&](const TKMCheck& C) { return C.Code == Code; });
    if (It == FKMChecks.end() && FKMChecks.size() >= 128) {
        AResult = rcMarkTable;
        return {};
    }
    bool Valid = std::find(FInvalidCodes.begin(), FInvalidCodes.end(), Code) == FInvalidCodes.end();
    if (It == FKMChecks.end())
        FKMChecks.push_back({Code, Valid, false});
    else
        *It = {Code, Valid, false};

    std::string Block;
    Block += char(0);                    // request answered
    Block += char(Valid ? 0x0F : 0x05);  // validation result
    Block += TLV(2100, std::string(1, char(Code.compare(0, 2, "01") == 0 ? 5 : 0)));
    Block += TLV(2109, std::string(1, char(Valid ? 1 : 2)));
    Block += TLV(2005, std::string(1, char(Valid ? 0x0F : 0x05)));
    Block += TLV(2105, std::string(1, '\0'));
    Block += TLV(2114, LE(uint32_t(Now()), 4));
    std::string A;
    A += char(Valid ? 0x03 : 0x01);  // 1 the storage's own check
    A += char(0);                    // 2 reason
    A += char(0);                    // 3 reserved
    A += char(Block.size());         // 4 block length
    return A + Block;
}

std::string TEmuDevice::CmdAcceptMark(uint16_t, std::string_view AData, uint8_t& AResult) {
    uint8_t Op = TEmuReader(AData).Byte();
    if (Op == 2) {
        FKMChecks.clear();
        return {};
    }
    if (Op > 1) {
        AResult = rcBadParams;
        return {};
    }
    if (FKMChecks.empty()) {
        AResult = rcMarkingOrder;
        return {};
    }
    if (Op == 1)
        FKMChecks.back().Accepted = true;
    else
        FKMChecks.pop_back();
    return {};
}

std::string TEmuDevice::CmdBindMark(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Len = R.Byte();
    std::string Code(R.Take(Len));
    bool ByGTIN = R.Left() > 0 && R.Byte() == 0xFF;
    if (!FReceipt.Open) {
        AResult = rcReceiptClosed;
        return {};
    }
    if (FReceipt.Items.empty()) {
        AResult = rcMarkingOrder;
        return {};
    }
    if (!ByGTIN &&
        std::none_of(FKMChecks.begin(), FKMChecks.end(), [&](const TKMCheck& C) { return C.Code == Code; })) {
        AResult = rcMarkUnchecked;
        return {};
    }
    FReceipt.Items.back().ExtraTLV += MarkingCodeTLV(Code);
    ++FRealizations;
    return {};
}

std::string TEmuDevice::CmdMarkStatus(uint16_t, std::string_view, uint8_t&) {
    std::string A;
    A += char(FKMChecks.empty() ? 0 : 1);                // 1 check status
    A += char(FRealizations ? 1 : 0);                    // 2 notification status
    A += char(0);                                        // 3 command flags
    A += char(std::min<size_t>(FKMChecks.size(), 255));  // 4 saved check results
    A += char(std::min<uint32_t>(FRealizations, 255));   // 5 sales of marked goods
    A += char(0);                                        // 6 storage used, percent
    PutLE(A, FRealizations, 2);                          // 7-8 notifications waiting
    return A;
}

}  // namespace fr
