#include "base/uStrings.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/uTextCodec.h"

namespace fr {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The system's converters end a text at its first NUL character (GLib) or
// take it for the end (length -1), while host and device texts may carry one
// inside: the text is converted piece by piece between NULs, each NUL kept as
// it is.
template <class TOut, class TIn, class F>
TOut ConvertByPieces(std::basic_string_view<TIn> S, F AConvert) {
    TOut Out;
    Out.reserve(S.size());
    for (size_t From = 0;;) {
        const size_t Nul = S.find(TIn(0), From);
        const auto Piece = S.substr(From, Nul == S.npos ? S.npos : Nul - From);
        if (!Piece.empty()) AConvert(Piece, Out);
        if (Nul == S.npos) return Out;
        Out += typename TOut::value_type(0);
        From = Nul + 1;
    }
}

// The code point of the valid UTF-8 sequence at P, and P moved past it.
char32_t NextValidChar(const char*& P) {
    const auto C = static_cast<unsigned char>(*P++);
    if (C < 0x80) return C;
    const int Extra = C >= 0xF0 ? 3 : C >= 0xE0 ? 2 : 1;
    char32_t V = C & (0x3F >> Extra);
    for (int I = 0; I < Extra; ++I) V = V << 6 | (static_cast<unsigned char>(*P++) & 0x3F);
    return V;
}

char32_t FoldLower(char32_t C) {
    if (C >= 'A' && C <= 'Z') return C + 32;
    if (C >= 0x0410 && C <= 0x042F) return C + 0x20;  // А..Я
    if (C >= 0x0400 && C <= 0x040F) return C + 0x50;  // Ѐ..Џ, Ё among them
    return C;
}

char32_t FoldUpper(char32_t C) {
    if (C >= 'a' && C <= 'z') return C - 32;
    if (C >= 0x0430 && C <= 0x044F) return C - 0x20;
    if (C >= 0x0450 && C <= 0x045F) return C - 0x50;
    return C;
}

template <class F>
std::string MapChars(std::string_view S, F Fn) {
    std::u32string U = Utf8ToUtf32(S);
    for (char32_t& C : U) C = Fn(C);
    return Utf32ToUtf8(U);
}

std::string_view TrimView(std::string_view S) {
    size_t B = 0, E = S.size();
    while (B < E && uint8_t(S[B]) <= ' ') ++B;
    while (E > B && uint8_t(S[E - 1]) <= ' ') --E;
    return S.substr(B, E - B);
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view S) {
    return ConvertByPieces<std::string>(S, [](std::u16string_view APiece, std::string& AOut) {
        // The converters refuse a text with an unpaired surrogate; it becomes U+FFFD.
        std::u16string Paired(APiece);
        for (size_t I = 0; I < Paired.size(); ++I) {
            const char16_t C = Paired[I];
            if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Paired.size() && Paired[I + 1] >= 0xDC00 &&
                Paired[I + 1] <= 0xDFFF)
                ++I;
            else if (C >= 0xD800 && C <= 0xDFFF)
                Paired[I] = char16_t(kReplacement);
        }
        codec::AppendUtf8FromUtf16(Paired, AOut);
    });
}

std::u16string Utf8ToUtf16(std::string_view S) {
    return ConvertByPieces<std::u16string>(S, codec::AppendUtf16FromUtf8);
}

size_t Utf16Length(const char16_t* S) {
    if (!S) return 0;
    size_t N = 0;
    while (S[N]) ++N;
    return N;
}

std::u32string Utf8ToUtf32(std::string_view S) {
    return ConvertByPieces<std::u32string>(S, codec::AppendUtf32FromUtf8);
}

std::string Utf32ToUtf8(std::u32string_view S) {
    return ConvertByPieces<std::string>(S, [](std::u32string_view APiece, std::string& AOut) {
        // Surrogates and values beyond U+10FFFF are no characters.
        std::u32string Valid(APiece);
        for (char32_t& C : Valid)
            if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) C = kReplacement;
        codec::AppendUtf8FromUtf32(Valid, AOut);
    });
}

size_t Utf8Length(std::string_view S) {
    return Utf8ToUtf32(S).size();
}

std::string LowerCase(std::string_view S) {
    return MapChars(S, FoldLower);
}
std::string UpperCase(std::string_view S) {
    return MapChars(S, FoldUpper);
}

// Setting and element names are compared on every host call, so the common
// case (both texts valid UTF-8) folds character by character without
// building new strings. Folding keeps each character's UTF-8 length, so texts
// of different byte lengths never match and both walks stay in step. Texts
// with invalid bytes (or NULs) take the full conversion, which turns each
// invalid byte into U+FFFD first.
bool SameText(std::string_view A, std::string_view B) {
    if (A.empty() || B.empty()) return A.empty() && B.empty();
    const bool Valid = codec::IsValidUtf8(A) && codec::IsValidUtf8(B);
    if (!Valid) return LowerCase(A) == LowerCase(B);
    if (A.size() != B.size()) return false;
    const char* P = A.data();
    const char* Q = B.data();
    const char* const End = P + A.size();
    while (P < End)
        if (FoldLower(NextValidChar(P)) != FoldLower(NextValidChar(Q))) return false;
    return true;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (size_t I = 0; I < A.size(); ++I) {
        char X = A[I], Y = B[I];
        if (X >= 'A' && X <= 'Z') X += 32;
        if (Y >= 'A' && Y <= 'Z') Y += 32;
        if (X != Y) return false;
    }
    return true;
}

std::string Trim(std::string_view S) {
    return std::string(TrimView(S));
}

std::optional<int64_t> ParseInt(std::string_view S) {
    S = TrimView(S);
    if (!S.empty() && S[0] == '+') S.remove_prefix(1);
    if (S.empty()) return std::nullopt;
    int64_t V = 0;
    auto [P, Ec] = std::from_chars(S.data(), S.data() + S.size(), V);
    if (Ec != std::errc() || P != S.data() + S.size()) return std::nullopt;
    return V;
}

std::optional<double> ParseDouble(std::string_view S) {
    S = TrimView(S);
    if (!S.empty() && S[0] == '+') S.remove_prefix(1);
    if (S.empty()) return std::nullopt;
    // Decimal digits, point, exponent and signs only: no hexadecimal form,
    // no "inf" or "nan", no second leading sign.
    if (S[0] == '+' || S.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return std::nullopt;
    const std::optional<double> V = codec::ParseDecimal(std::string(S));
    if (!V || !std::isfinite(*V)) return std::nullopt;
    return V;
}

std::string ShortestScientific(double V) {
    return codec::ShortestScientific(V);
}

std::string FormatDouble(double V, int ADigits) {
    if (!std::isfinite(V)) return std::isnan(V) ? "NAN" : (V > 0 ? "INF" : "-INF");
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.*g", ADigits, V);
    std::string S = Buf;
    // %g may still use "," under a foreign locale; we never set one, but the
    // host process might.
    for (char& C : S)
        if (C == ',') C = '.';
    return S;
}

std::string ReplaceAll(std::string S, std::string_view From, std::string_view To) {
    if (From.empty()) return S;
    for (size_t P = S.find(From); P != std::string::npos; P = S.find(From, P + To.size()))
        S.replace(P, From.size(), To);
    return S;
}

bool IsValidINN(std::string_view S) {
    if (S.size() != 10 && S.size() != 12) return false;
    for (char C : S)
        if (C < '0' || C > '9') return false;
    // Each check digit is the weighted sum of the digits before it, modulo
    // 11 and then 10; the weights of the three check digits are the tails of
    // one list.
    static const int Weights[11] = {3, 7, 2, 4, 10, 3, 5, 9, 4, 6, 8};
    const auto CheckDigitFits = [S](size_t APos) {
        const int* W = Weights + (11 - APos);
        int Sum = 0;
        for (size_t I = 0; I < APos; ++I) Sum += (S[I] - '0') * W[I];
        return Sum % 11 % 10 == S[APos] - '0';
    };
    return S.size() == 10 ? CheckDigitFits(9) : CheckDigitFits(10) && CheckDigitFits(11);
}

}  // namespace fr
