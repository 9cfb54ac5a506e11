// Byte-level helpers of the emulator: little-endian fields written into an
// answer and a bounds-checked reader for command data. A command whose data
// is shorter than its layout makes the reader throw TEmuShortData, which
// the device turns into the "bad parameters" result instead of reading past
// the end.
#pragma once

#include <cstdint>
#include <ctime>
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

// Two texts on one printed line of ALen characters (UTF-8 counted by
// character), the right one flush right; at least one space between.
inline std::string Columns(const std::string& ALeft, const std::string& ARight, size_t ALen) {
    auto Chars = [](const std::string& S) {
        size_t N = 0;
        for (char C : S)
            if ((uint8_t(C) & 0xC0) != 0x80) ++N;
        return N;
    };
    size_t L = Chars(ALeft), R = Chars(ARight);
    std::string Out = ALeft;
    Out.append(L + R < ALen ? ALen - L - R : 1, ' ');
    return Out + ARight;
}

// Year (two digits), month, day, hours, minutes and, with ASeconds, seconds of
// a device time (seconds since 1970, no zone), one byte each.
inline std::string DateTimeBytes(int64_t T, bool ASeconds) {
    std::time_t TT = std::time_t(T);
    std::tm R{};
    gmtime_r(&TT, &R);
    std::string S;
    S += char(R.tm_year % 100), S += char(R.tm_mon + 1), S += char(R.tm_mday), S += char(R.tm_hour),
        S += char(R.tm_min);
    if (ASeconds) S += char(R.tm_sec);
    return S;
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
