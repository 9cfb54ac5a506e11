// Byte-level helpers of the emulator: little-endian fields written into an
// answer and a bounds-checked reader for command data. A command whose data
// is shorter than its layout makes the reader throw TEmuShortData, which
// the device turns into the "bad parameters" result instead of reading past
// the end.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fr {

struct TEmuShortData : std::runtime_error {
    TEmuShortData() : std::runtime_error("command data too short") {}
};

inline void PutLE(std::string& AOut, uint64_t AValue, int ACount) {
    for (int I = 0; I < ACount; ++I) AOut += char((AValue >> (8 * I)) & 0xFF);
}

inline std::string LE(uint64_t AValue, int ACount) {
    std::string S;
    PutLE(S, AValue, ACount);
    return S;
}

inline void PutFixed(std::string& AOut, std::string_view AText, size_t ASize, char APad = '\0') {
    std::string S(AText.substr(0, ASize));
    S.resize(ASize, APad);
    AOut += S;
}

inline uint64_t GetLE(std::string_view S) {
    uint64_t V = 0;
    for (size_t I = 0; I < S.size() && I < 8; ++I) V |= uint64_t(uint8_t(S[I])) << (8 * I);
    return V;
}

// Reads command data front to back; never past its end.
class TEmuReader {
public:
    explicit TEmuReader(std::string_view AData) : FData(AData) {}
    uint8_t Byte() { return uint8_t(Take(1)[0]); }
    uint64_t Int(size_t ACount) { return GetLE(Take(ACount)); }
    std::string_view Take(size_t ACount) {
        if (ACount > FData.size() - FPos) throw TEmuShortData();
        std::string_view R = FData.substr(FPos, ACount);
        FPos += ACount;
        return R;
    }
    std::string_view Rest() {
        std::string_view R = FData.substr(FPos);
        FPos = FData.size();
        return R;
    }
    size_t Left() const { return FData.size() - FPos; }

private:
    std::string_view FData;
    size_t FPos = 0;
};

// One TLV record: tag and length as 2-byte little-endian integers.
inline std::string TLV(uint16_t ATag, std::string_view AValue) {
    std::string S = LE(ATag, 2) + LE(AValue.size(), 2);
    S += AValue;
    return S;
}

}  // namespace fr
