#include "base/uTextCodec.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace fr::codec {

namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at S[APos], or 0 when the byte there
// starts none: the same rule GLib applies on Linux (no overlong forms, no
// surrogates, nothing beyond U+10FFFF, no truncated sequence).
size_t ValidSequenceAt(std::string_view S, size_t APos) {
    const auto B = [&](size_t I) { return static_cast<unsigned char>(S[APos + I]); };
    const unsigned char C = B(0);
    if (C < 0x80) return 1;
    size_t N = 0;
    unsigned char Lo = 0x80, Hi = 0xBF;  // bounds of the second byte
    if (C >= 0xC2 && C <= 0xDF) {
        N = 2;
    } else if (C >= 0xE0 && C <= 0xEF) {
        N = 3;
        if (C == 0xE0) Lo = 0xA0;  // overlong
        if (C == 0xED) Hi = 0x9F;  // surrogates
    } else if (C >= 0xF0 && C <= 0xF4) {
        N = 4;
        if (C == 0xF0) Lo = 0x90;  // overlong
        if (C == 0xF4) Hi = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (APos + N > S.size()) return 0;
    if (B(1) < Lo || B(1) > Hi) return 0;
    for (size_t I = 2; I < N; ++I)
        if (B(I) < 0x80 || B(I) > 0xBF) return 0;
    return N;
}

// APiece with every byte that starts no valid sequence replaced by U+FFFD.
std::string MakeValid(std::string_view APiece) {
    std::string Out;
    Out.reserve(APiece.size());
    for (size_t P = 0; P < APiece.size();) {
        const size_t N = ValidSequenceAt(APiece, P);
        if (N == 0) {
            Out += kReplacementUtf8;
            ++P;
        } else {
            Out.append(APiece.substr(P, N));
            P += N;
        }
    }
    return Out;
}

// Pieces longer than an int can say are converted in parts that end on a
// character boundary; host and device texts never come near that.
constexpr size_t kChunk = size_t(INT_MAX) / 4;

void AppendWide(std::string_view AValid, std::u16string& AOut) {
    while (!AValid.empty()) {
        size_t Len = std::min(AValid.size(), kChunk);
        while (Len < AValid.size() && (static_cast<unsigned char>(AValid[Len]) & 0xC0) == 0x80) --Len;
        const int N = MultiByteToWideChar(CP_UTF8, 0, AValid.data(), int(Len), nullptr, 0);
        if (N > 0) {
            const size_t Old = AOut.size();
            AOut.resize(Old + size_t(N));
            MultiByteToWideChar(CP_UTF8, 0, AValid.data(), int(Len), reinterpret_cast<wchar_t*>(AOut.data() + Old), N);
        }
        AValid.remove_prefix(Len);
    }
}

}  // namespace

void AppendUtf8FromUtf16(std::u16string_view APaired, std::string& AOut) {
    while (!APaired.empty()) {
        size_t Len = std::min(APaired.size(), kChunk);
        if (Len < APaired.size() && APaired[Len - 1] >= 0xD800 && APaired[Len - 1] <= 0xDBFF) --Len;
        const auto* W = reinterpret_cast<const wchar_t*>(APaired.data());
        const int N = WideCharToMultiByte(CP_UTF8, 0, W, int(Len), nullptr, 0, nullptr, nullptr);
        if (N > 0) {
            const size_t Old = AOut.size();
            AOut.resize(Old + size_t(N));
            WideCharToMultiByte(CP_UTF8, 0, W, int(Len), AOut.data() + Old, N, nullptr, nullptr);
        }
        APaired.remove_prefix(Len);
    }
}

void AppendUtf16FromUtf8(std::string_view APiece, std::u16string& AOut) {
    if (IsValidUtf8(APiece))
        AppendWide(APiece, AOut);
    else
        AppendWide(MakeValid(APiece), AOut);
}

void AppendUtf32FromUtf8(std::string_view APiece, std::u32string& AOut) {
    std::u16string W;
    AppendUtf16FromUtf8(APiece, W);
    AOut.reserve(AOut.size() + W.size());
    for (size_t I = 0; I < W.size(); ++I) {
        const char32_t C = W[I];
        // Valid input: a high surrogate is always followed by a low one.
        if (C >= 0xD800 && C <= 0xDBFF && I + 1 < W.size()) {
            AOut += char32_t(0x10000 + ((C - 0xD800) << 10) + (char32_t(W[I + 1]) - 0xDC00));
            ++I;
        } else {
            AOut += C;
        }
    }
}

void AppendUtf8FromUtf32(std::u32string_view AValid, std::string& AOut) {
    std::u16string W;
    W.reserve(AValid.size());
    for (const char32_t C : AValid) {
        if (C >= 0x10000) {
            W += char16_t(0xD800 + ((C - 0x10000) >> 10));
            W += char16_t(0xDC00 + ((C - 0x10000) & 0x3FF));
        } else {
            W += char16_t(C);
        }
    }
    AppendUtf8FromUtf16(W, AOut);
}

bool IsValidUtf8(std::string_view S) {
    for (size_t P = 0; P < S.size();) {
        const size_t N = ValidSequenceAt(S, P);
        if (N == 0) return false;
        P += N;
    }
    return true;
}

std::array<char32_t, 256> CodePageTable(unsigned ACodePage) {
    std::array<char32_t, 256> Table;
    Table.fill(NoChar);
    for (int B = 0; B < 256; ++B) {
        const char In = char(B);
        wchar_t Out[2] = {};
        // MB_ERR_INVALID_CHARS: a byte the page leaves undefined fails
        // instead of mapping to a default character. Windows' own table
        // gives some undefined bytes (0x98 of 1251) their C1 control code
        // instead; neither page has a real character there, so those are
        // undefined too, as iconv has them on Linux.
        if (MultiByteToWideChar(ACodePage, MB_ERR_INVALID_CHARS, &In, 1, Out, 2) == 1 &&
            !(B >= 0x80 && Out[0] >= 0x80 && Out[0] <= 0x9F))
            Table[size_t(B)] = char32_t(Out[0]);
    }
    return Table;
}

// MinGW's compiler has the locale-free floating-point conversions of C++17.

std::optional<double> ParseDecimal(const std::string& AText) {
    double V = 0;
    const char* const End = AText.data() + AText.size();
    const auto [P, Ec] = std::from_chars(AText.data(), End, V);
    if (Ec != std::errc() || P != End) return std::nullopt;
    return V;
}

std::string ShortestScientific(double V) {
    if (!std::isfinite(V)) return std::isnan(V) ? "nan" : (V > 0 ? "inf" : "-inf");
    char Buf[64];
    const auto [P, Ec] = std::to_chars(Buf, Buf + sizeof Buf, V, std::chars_format::scientific);
    return Ec == std::errc() ? std::string(Buf, P) : std::string();
}

}  // namespace fr::codec
