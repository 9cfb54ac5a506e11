#include "base/uCommonUtils.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uSystem.h"
#include "base/uTextCodec.h"

namespace fr {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
}

bool IsXmlChar(char32_t C) {
    return C == 0x09 || C == 0x0A || C == 0x0D || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD);
}

// ---- Code pages ---------------------------------------------------------------
// Both code pages are single-byte, so each is described once by the Unicode
// character of every byte, taken from the system. Conversions are then table
// look-ups that cannot fail or change the length.

constexpr char32_t kNoChar = codec::NoChar;

struct TCodePage {
    std::array<char32_t, 256> ToUnicode{};
    std::unordered_map<char32_t, uint8_t> FromUnicode;

    explicit TCodePage(unsigned ACodePage) : ToUnicode(codec::CodePageTable(ACodePage)) {
        for (int B = 0; B < 256; ++B) {
            char32_t& C = ToUnicode[size_t(B)];
            if (B < 0x80) C = char32_t(B);  // both code pages are ASCII-compatible
            if (C != kNoChar) FromUnicode.emplace(C, uint8_t(B));
        }
    }

    // The byte of C, or "?" when this code page has no such character.
    char FromChar(char32_t C) const {
        if (C < 0x80) return char(C);
        const auto It = FromUnicode.find(C);
        return It == FromUnicode.end() ? '?' : char(It->second);
    }
};

const TCodePage& AnsiPage() {
    static const TCodePage P(1251);
    return P;
}

const TCodePage& OemPage() {
    static const TCodePage P(866);
    return P;
}

std::string Recode(std::string_view S, const TCodePage& AFrom, const TCodePage& ATo) {
    std::string Out(S.size(), '?');
    for (size_t I = 0; I < S.size(); ++I) {
        const char32_t C = AFrom.ToUnicode[uint8_t(S[I])];
        if (C != kNoChar) Out[I] = ATo.FromChar(C);
    }
    return Out;
}

std::string FromUtf8(std::string_view S, const TCodePage& ATo) {
    const std::u32string U = Utf8ToUtf32(S);
    std::string Out(U.size(), '?');
    for (size_t I = 0; I < U.size(); ++I) Out[I] = ATo.FromChar(U[I]);
    return Out;
}

std::string ToUtf8(std::string_view S, const TCodePage& AFrom) {
    std::u32string U(S.size(), U'?');
    for (size_t I = 0; I < S.size(); ++I) {
        const char32_t C = AFrom.ToUnicode[uint8_t(S[I])];
        if (C != kNoChar) U[I] = C;
    }
    return Utf32ToUtf8(U);
}

// ---- Dates ------------------------------------------------------------------

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
    Y -= M <= 2;
    const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
    const auto Yoe = unsigned(Y - Era * 400);
    const unsigned Doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
    const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
    return Era * 146097 + int64_t(Doe) - 719468;
}

// The civil date of a day count from 1970-01-01 (the inverse of the above).
void CivilFromDays(int64_t ADays, int64_t& Y, unsigned& M, unsigned& D) {
    ADays += 719468;
    const int64_t Era = (ADays >= 0 ? ADays : ADays - 146096) / 146097;
    const auto Doe = unsigned(ADays - Era * 146097);
    const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
    const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
    const unsigned Mp = (5 * Doy + 2) / 153;
    D = Doy - (153 * Mp + 2) / 5 + 1;
    M = Mp < 10 ? Mp + 3 : Mp - 9;
    Y = int64_t(Yoe) + Era * 400 + (M <= 2);
}

unsigned DaysInMonth(int64_t Y, unsigned M) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool Leap = (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
    return M == 2 && Leap ? 29 : kDays[M - 1];
}

// Reads exactly ACount decimal digits at S[APos].
bool ReadDigits(std::string_view S, size_t& APos, size_t ACount, unsigned& AValue) {
    if (APos + ACount > S.size()) return false;
    AValue = 0;
    for (size_t I = 0; I < ACount; ++I) {
        const char C = S[APos + I];
        if (C < '0' || C > '9') return false;
        AValue = AValue * 10 + unsigned(C - '0');
    }
    APos += ACount;
    return true;
}

bool Expect(std::string_view S, size_t& APos, char AChar) {
    if (APos >= S.size() || S[APos] != AChar) return false;
    ++APos;
    return true;
}

[[noreturn]] void RaiseBadDate() {
    RaiseEquError(1004);
}

// APath itself, created when missing; raises when that is not possible.
std::string EnsureFolder(const std::string& APath) {
    std::error_code Ec;
    const std::filesystem::path P = PathFromUtf8(APath);
    std::filesystem::create_directories(P, Ec);
    if (!Ec && !std::filesystem::is_directory(P, Ec) && !Ec) Ec = std::make_error_code(std::errc::not_a_directory);
    if (Ec) throw std::runtime_error("Не удалось создать папку " + APath + ": " + Ec.message());
    return APath;
}

}  // namespace

// ---- Folders ---------------------------------------------------------------------

std::string WithSlash(std::string S) {
    if (S.empty() || S.back() != '/') S += '/';
    return S;
}

std::string WithoutSlash(std::string S) {
    while (S.size() > 1 && S.back() == '/') S.pop_back();
    return S;
}

// ---- XML input ------------------------------------------------------------------

std::u16string StripInvalidXmlChars(std::u16string_view S) {
    std::u16string Out;
    Out.reserve(S.size());
    for (char16_t C : S)
        if (IsXmlChar(C)) Out += C;
    return Out;
}

std::string StripInvalidXmlChars(std::string_view S) {
    // Host XML is almost always clean; keep it as it is then.
    bool Clean = true;
    for (char Ch : S) {
        const auto B = uint8_t(Ch);
        if (B >= 0x80 || (B < 0x20 && B != 0x09 && B != 0x0A && B != 0x0D)) {
            Clean = false;
            break;
        }
    }
    if (Clean) return std::string(S);
    std::u32string U = Utf8ToUtf32(S);
    std::erase_if(U, [](char32_t C) { return !IsXmlChar(C); });
    return Utf32ToUtf8(U);
}

// ---- Hex and byte encodings -------------------------------------------------------

uint64_t HexToInt(std::string_view S) {
    if (!S.empty() && (S.back() == 'H' || S.back() == 'h')) S.remove_suffix(1);
    uint64_t R = 0;
    for (char C : S) {
        const int D = HexDigitValue(C);
        if (D < 0) return 0;
        R = (R << 4) | uint64_t(D);
    }
    return R;
}

std::string BytesToHexString(std::string_view AData, std::string_view ASeparator) {
    std::string Out;
    Out.reserve(AData.size() * (2 + ASeparator.size()));
    for (char C : AData) {
        Out += kHexDigits[uint8_t(C) >> 4];
        Out += kHexDigits[uint8_t(C) & 0xF];
        Out += ASeparator;
    }
    return Out;
}

uint64_t LEBytesToInt(std::string_view S) {
    uint64_t R = 0;
    const size_t N = std::min<size_t>(S.size(), 8);
    for (size_t I = 0; I < N; ++I) R |= uint64_t(uint8_t(S[I])) << (8 * I);
    return R;
}

std::string IntToLEBytes(uint64_t AValue, int ADigits) {
    int Needed = 1;
    while (Needed < 16 && (AValue >> (4 * Needed)) != 0) ++Needed;
    int Digits = std::max(Needed, ADigits);
    Digits += Digits % 2;
    return IntToLEBytesN(AValue, Digits / 2);
}

std::string IntToLEBytesN(uint64_t AValue, int ACount) {
    std::string Out(size_t(std::max(ACount, 0)), '\0');
    for (size_t I = 0; I < Out.size() && I < 8; ++I) Out[I] = char(uint8_t(AValue >> (8 * I)));
    return Out;
}

std::string IntToBEBytesN(uint64_t AValue, int ACount) {
    std::string Out = IntToLEBytesN(AValue, ACount);
    return std::string(Out.rbegin(), Out.rend());
}

std::string HexToBytes(std::string_view S, int ACount) {
    std::string Digits(ACount > 0 ? S.substr(0, size_t(ACount) * 2) : S);
    const size_t Width = ACount > 0 ? size_t(ACount) * 2 : Digits.size() + Digits.size() % 2;
    Digits.insert(0, Width - Digits.size(), '0');
    std::string Out(Width / 2, '\0');
    for (size_t I = 0; I < Out.size(); ++I) {
        const int Hi = HexDigitValue(Digits[2 * I]), Lo = HexDigitValue(Digits[2 * I + 1]);
        if (Hi < 0 || Lo < 0)
            throw std::invalid_argument("Некорректное шестнадцатеричное значение: \"" + std::string(S) + "\"");
        Out[I] = char(Hi << 4 | Lo);
    }
    return Out;
}

std::string BytesToHex(std::string_view S, int ACount) {
    std::string_view Part = ACount > 0 ? S.substr(0, size_t(ACount)) : S;
    const size_t Width = ACount > 0 ? size_t(ACount) : Part.size();
    return std::string(2 * (Width - Part.size()), '0') + BytesToHexString(Part, {});
}

int64_t BCDToInt64(std::string_view P) {
    uint64_t R = 0;
    for (char C : P) {
        for (unsigned D : {unsigned(uint8_t(C) >> 4), unsigned(uint8_t(C) & 0xF)}) {
            if (D > 9) return 0;
            if (R > (uint64_t(std::numeric_limits<int64_t>::max()) - D) / 10) return 0;
            R = R * 10 + D;
        }
    }
    return int64_t(R);
}

std::string IntToBCD(int64_t AValue, int ACount) {
    if (AValue < 0) throw std::out_of_range("Отрицательное число не записывается в BCD: " + std::to_string(AValue));
    const std::string Digits = std::to_string(AValue);
    if (ACount > 0 && Digits.size() > size_t(ACount) * 2)
        throw std::out_of_range("Число " + Digits + " не помещается в " + std::to_string(ACount) + " байт BCD");
    return HexToBytes(Digits, ACount);
}

std::string MoneyToBytes6(double AValue) {
    const double K = RoundHalfToEven(AValue * 100);
    constexpr double kMin = -140737488355328.0;   // -2^47
    constexpr double kLimit = 281474976710656.0;  // 2^48
    if (!(K >= kMin && K < kLimit)) throw std::out_of_range("Сумма вне допустимого диапазона: " + FormatDouble(AValue));
    return IntToLEBytesN(uint64_t(int64_t(K)), 6);
}

// ---- Base64 ----------------------------------------------------------------------

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char C) {
    if (C >= 'A' && C <= 'Z') return C - 'A';
    if (C >= 'a' && C <= 'z') return C - 'a' + 26;
    if (C >= '0' && C <= '9') return C - '0' + 52;
    if (C == '+') return 62;
    if (C == '/') return 63;
    return -1;
}

}  // namespace

std::string EncodeBase64(std::string_view AData) {
    std::string Out;
    Out.reserve((AData.size() + 2) / 3 * 4);
    for (size_t I = 0; I < AData.size(); I += 3) {
        const size_t N = std::min<size_t>(3, AData.size() - I);
        uint32_t Group = 0;
        for (size_t J = 0; J < 3; ++J) Group = Group << 8 | (J < N ? uint8_t(AData[I + J]) : 0u);
        for (size_t J = 0; J < 4; ++J) Out += J <= N ? kBase64Alphabet[(Group >> (18 - 6 * J)) & 0x3F] : '=';
    }
    return Out;
}

std::optional<std::string> DecodeBase64(std::string_view AText) {
    // The shape is checked first, so that a malformed text is refused.
    std::string Clean;
    Clean.reserve(AText.size() + 3);
    size_t Padding = 0;
    for (const char C : AText) {
        if (C == '\r' || C == '\n' || C == '\t' || C == ' ') continue;
        if (C == '=') {
            ++Padding;
        } else if (Padding > 0 || Base64Value(C) < 0) {
            return std::nullopt;
        }
        Clean += C;
    }
    const size_t Data = Clean.size() - Padding;
    if (Data % 4 == 1 || Padding > 2 || (Padding > 0 && Clean.size() % 4 != 0)) return std::nullopt;
    if (Clean.empty()) return std::string();
    // Groups of four characters give three bytes; a last group of two or
    // three characters gives one or two.
    std::string Out;
    Out.reserve(Data / 4 * 3 + 2);
    uint32_t Bits = 0;
    int Count = 0;
    for (size_t I = 0; I < Data; ++I) {
        Bits = Bits << 6 | uint32_t(Base64Value(Clean[I]));
        if (++Count == 4) {
            Out += char(Bits >> 16);
            Out += char(Bits >> 8);
            Out += char(Bits);
            Bits = 0;
            Count = 0;
        }
    }
    if (Count == 2) Out += char(Bits >> 4);
    if (Count == 3) {
        Out += char(Bits >> 10);
        Out += char(Bits >> 2);
    }
    return Out;
}

// ---- Bits ----------------------------------------------------------------------------

bool IsBitSet(int64_t AValue, int ABit) {
    return ABit >= 0 && ABit < 64 && ((uint64_t(AValue) >> ABit) & 1) != 0;
}

void SetBit8(uint8_t& AByte, int ABit) {
    SetBitTo8(AByte, ABit, true);
}

void SetBit32(uint32_t& AValue, int ABit) {
    if (ABit >= 0 && ABit < 32) AValue |= uint32_t(1) << ABit;
}

void SetBitTo8(uint8_t& AByte, int ABit, bool AOn) {
    if (ABit < 0 || ABit >= 8) return;
    const auto Mask = uint8_t(1u << ABit);
    AByte = AOn ? uint8_t(AByte | Mask) : uint8_t(AByte & ~Mask);
}

uint8_t ReverseBits8(uint32_t AValue) {
    uint8_t R = 0;
    for (int I = 0; I < 8; ++I)
        if (AValue & (1u << I)) R |= uint8_t(0x80u >> I);
    return R;
}

// ---- Narrow text -------------------------------------------------------------------

std::string PadAnsiRight(std::string_view S, size_t ALength, bool ACut) {
    std::string Out(ACut ? S.substr(0, ALength) : S);
    if (Out.size() < ALength) Out.append(ALength - Out.size(), ' ');
    return Out;
}

std::string PadAnsiWith(std::string_view S, size_t ALength, char AChar) {
    std::string Out(S.substr(0, ALength));
    Out.append(ALength - Out.size(), AChar);
    return Out;
}

std::string AnsiToOem(std::string_view S) {
    return Recode(S, AnsiPage(), OemPage());
}
std::string OemToAnsi(std::string_view S) {
    return Recode(S, OemPage(), AnsiPage());
}
std::string Utf8ToAnsi(std::string_view S) {
    return FromUtf8(S, AnsiPage());
}
std::string AnsiToUtf8(std::string_view S) {
    return ToUtf8(S, AnsiPage());
}
std::string Utf8ToOem(std::string_view S) {
    return FromUtf8(S, OemPage());
}
std::string OemToUtf8(std::string_view S) {
    return ToUtf8(S, OemPage());
}

std::vector<std::string> SplitByLength(std::string_view S, size_t ALength) {
    std::vector<std::string> Out;
    if (ALength == 0) ALength = S.size();
    for (size_t P = 0; P < S.size(); P += ALength) Out.emplace_back(S.substr(P, ALength));
    return Out;
}

std::string IntToStrZeroPad(int64_t AValue, size_t ALength) {
    std::string S = std::to_string(AValue);
    if (S.size() < ALength) S.insert(AValue < 0 ? 1 : 0, ALength - S.size(), '0');
    return S;
}

// ---- Loosely typed values -------------------------------------------------------------

int64_t VarToIntDef(const TValue& V, int64_t ADefault) {
    if (V.IsNullOrEmpty()) return ADefault;
    return ParseInt(Trim(V.AsText())).value_or(ADefault);
}

std::string VarToFloatText(const TValue& V) {
    std::string S = V.AsText();
    for (char& C : S)
        if (C == ',') C = '.';
    return Trim(S);
}

double VarToFloatDef(const TValue& V, double ADefault) {
    if (V.IsNullOrEmpty()) return ADefault;
    if (V.IsNumeric()) return V.AsDouble();
    return ParseDouble(VarToFloatText(V)).value_or(ADefault);
}

TCurrency VarToCurrDef(const TValue& V, TCurrency ADefault) {
    if (V.IsNullOrEmpty()) return ADefault;
    switch (V.Kind()) {
        case TValue::vkText:
            return TCurrency::Parse(VarToFloatText(V)).value_or(TCurrency{});
        case TValue::vkInt: {
            int64_t R = 0;
            if (__builtin_mul_overflow(V.RawInt(), TCurrency::Scale, &R))
                throw std::range_error("Значение вне допустимого диапазона денежной суммы: " + V.AsText());
            return TCurrency{R};
        }
        default:
            return TCurrency::FromDouble(V.AsDouble());
    }
}

bool VarToBoolDef(const TValue& V, bool ADefault) {
    if (V.IsNullOrEmpty()) return ADefault;
    if (V.IsText()) {
        if (SameTextAscii(V.RawText(), "True")) return true;
        if (SameTextAscii(V.RawText(), "False")) return false;
        return ADefault;
    }
    return V.AsBool();
}

// ---- Files, dates, identifiers -----------------------------------------------------------

std::string GetSpecialFolder(int ACSIDL) {
    if (ACSIDL == CSIDL_COMMON_APPDATA) {
        try {
            return EnsureFolder(CommonAppDataFolder());
        } catch (const std::exception&) {
            // Falls through to the per-user folder.
        }
    }
    // Without a usable per-user folder there is no safe place left: a relative
    // path would land in the host's working directory.
    return EnsureFolder(UserAppDataFolder());
}

int64_t ISODateToUnix(std::string_view S) {
    size_t P = 0;
    unsigned Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
    if (!ReadDigits(S, P, 4, Year) || !Expect(S, P, '-') || !ReadDigits(S, P, 2, Month) || !Expect(S, P, '-') ||
        !ReadDigits(S, P, 2, Day) || !Expect(S, P, 'T') || !ReadDigits(S, P, 2, Hour) || !Expect(S, P, ':') ||
        !ReadDigits(S, P, 2, Minute) || !Expect(S, P, ':') || !ReadDigits(S, P, 2, Second))
        RaiseBadDate();
    if (Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month) || Hour > 23 || Minute > 59 || Second > 59)
        RaiseBadDate();
    // A fraction of a second is dropped: the result counts whole seconds.
    if (P < S.size() && (S[P] == '.' || S[P] == ',')) {
        const size_t Start = ++P;
        while (P < S.size() && S[P] >= '0' && S[P] <= '9') ++P;
        if (P == Start) RaiseBadDate();
    }
    int64_t Offset = 0;  // seconds east of UTC
    if (P < S.size() && S[P] == 'Z') {
        ++P;
    } else if (P < S.size() && (S[P] == '+' || S[P] == '-')) {
        const bool West = S[P++] == '-';
        unsigned OffH = 0, OffM = 0;
        if (!ReadDigits(S, P, 2, OffH)) RaiseBadDate();
        if (P < S.size()) {
            Expect(S, P, ':');
            if (!ReadDigits(S, P, 2, OffM)) RaiseBadDate();
        }
        if (OffH > 23 || OffM > 59) RaiseBadDate();
        Offset = (int64_t(OffH) * 3600 + OffM * 60) * (West ? -1 : 1);
    }
    if (P != S.size()) RaiseBadDate();
    return DaysFromCivil(Year, Month, Day) * 86400 + Hour * 3600 + Minute * 60 + Second - Offset;
}

struct tm UtcTimeOf(int64_t ASeconds) {
    int64_t Days = ASeconds / 86400;
    int64_t Rest = ASeconds % 86400;
    if (Rest < 0) {
        Rest += 86400;
        --Days;
    }
    int64_t Y = 0;
    unsigned M = 0, D = 0;
    CivilFromDays(Days, Y, M, D);
    struct tm T {};
    T.tm_year = int(Y - 1900);
    T.tm_mon = int(M) - 1;
    T.tm_mday = int(D);
    T.tm_hour = int(Rest / 3600);
    T.tm_min = int(Rest / 60 % 60);
    T.tm_sec = int(Rest % 60);
    T.tm_wday = int(((Days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    T.tm_yday = int(Days - DaysFromCivil(Y, 1, 1));
    return T;
}

// ---- Text layout ---------------------------------------------------------------------------

void WrapText(std::string_view AText, size_t AWidth, std::vector<std::string>& ALines) {
    const std::u32string T = Utf8ToUtf32(ReplaceAll(ReplaceAll(std::string(AText), "\r\n", "\n"), "\r", "\n"));
    const size_t N = T.size();
    const auto Line = [&](size_t AFrom, size_t ATo) { return Trim(Utf32ToUtf8(T.substr(AFrom, ATo - AFrom))); };
    // C: start of the current line; A: its last space (C when none yet);
    // K: characters counted in it; R: its first AWidth characters.
    size_t C = 0, A = 0, K = 0, B = 0;
    std::u32string R;
    while (B < N) {
        const char32_t Ch = T[B];
        if (Ch == U' ') A = B;
        if (Ch == U'\n') {
            ALines.push_back(Line(C, B));
            R.clear();
            C = A = B = B + 1;
            K = 0;
            continue;
        }
        if (++K <= AWidth) R += Ch;
        if (K < AWidth) {
            ++B;
            continue;
        }
        if (B + 1 < N && (T[B + 1] == U' ' || T[B + 1] == U'\n')) {
            // The line ends right before a separator, which is dropped.
            ALines.push_back(Line(C, B + 1));
            C = A = B = B + 2;
        } else if (A == C) {
            // No space to break at: the word is cut.
            ALines.push_back(Line(C, B + 1));
            C = A = B = B + 1;
        } else {
            // Break at the last space; what follows it is scanned again.
            ALines.push_back(Line(C, A));
            C = B = A + 1;
            A = C;
        }
        R.clear();
        K = 0;
    }
    ALines.push_back(Utf32ToUtf8(R));
}

}  // namespace fr
