#include "base/uStrings.h"

#include <glib.h>
#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fr {

namespace {

// Runs AFn with the "C" locale on this thread only, so that numbers use "."
// whatever locale the host process set.
template <class F>
auto WithCLocale(F AFn) {
    static const locale_t C = newlocale(LC_ALL_MASK, "C", locale_t(0));
    struct TRestore {
        locale_t Old;
        ~TRestore() { uselocale(Old); }
    } Restore{C ? uselocale(C) : uselocale(locale_t(0))};
    return AFn();
}

constexpr char32_t kReplacement = 0xFFFD;

struct TGFree {
    void operator()(void* P) const { g_free(P); }
};
template <class T>
using TGlibPtr = std::unique_ptr<T, TGFree>;

// GLib's converters end a text at its first NUL character, while host and
// device texts may carry one inside: the text is converted piece by piece
// between NULs, each NUL kept as it is.
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

// Invalid UTF-8 bytes become U+FFFD, one per byte that starts no valid
// sequence (overlong forms, surrogates and truncated sequences included).
TGlibPtr<gchar> ValidUtf8(std::string_view APiece) {
    return TGlibPtr<gchar>(g_utf8_make_valid(APiece.data(), gssize(APiece.size())));
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
        // GLib refuses a text with an unpaired surrogate; it becomes U+FFFD.
        std::u16string Paired(APiece);
        for (size_t I = 0; I < Paired.size(); ++I) {
            const char16_t C = Paired[I];
            if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Paired.size() && Paired[I + 1] >= 0xDC00 &&
                Paired[I + 1] <= 0xDFFF)
                ++I;
            else if (C >= 0xD800 && C <= 0xDFFF)
                Paired[I] = char16_t(kReplacement);
        }
        glong Written = 0;
        const TGlibPtr<gchar> R(g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(Paired.data()), glong(Paired.size()),
                                                nullptr, &Written, nullptr));
        if (R) AOut.append(R.get(), size_t(Written));
    });
}

std::u16string Utf8ToUtf16(std::string_view S) {
    return ConvertByPieces<std::u16string>(S, [](std::string_view APiece, std::u16string& AOut) {
        glong Written = 0;
        const TGlibPtr<gunichar2> R(g_utf8_to_utf16(ValidUtf8(APiece).get(), -1, nullptr, &Written, nullptr));
        if (R) AOut.append(reinterpret_cast<const char16_t*>(R.get()), size_t(Written));
    });
}

size_t Utf16Length(const char16_t* S) {
    if (!S) return 0;
    size_t N = 0;
    while (S[N]) ++N;
    return N;
}

std::u32string Utf8ToUtf32(std::string_view S) {
    return ConvertByPieces<std::u32string>(S, [](std::string_view APiece, std::u32string& AOut) {
        glong Written = 0;
        const TGlibPtr<gunichar> R(g_utf8_to_ucs4_fast(ValidUtf8(APiece).get(), -1, &Written));
        if (R) AOut.append(reinterpret_cast<const char32_t*>(R.get()), size_t(Written));
    });
}

std::string Utf32ToUtf8(std::u32string_view S) {
    return ConvertByPieces<std::string>(S, [](std::u32string_view APiece, std::string& AOut) {
        // Surrogates and values beyond U+10FFFF are no characters.
        std::u32string Valid(APiece);
        for (char32_t& C : Valid)
            if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) C = kReplacement;
        glong Written = 0;
        const TGlibPtr<gchar> R(g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(Valid.data()), glong(Valid.size()),
                                               nullptr, &Written, nullptr));
        if (R) AOut.append(R.get(), size_t(Written));
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
    const bool Valid = g_utf8_validate_len(A.data(), gsize(A.size()), nullptr) &&
                       g_utf8_validate_len(B.data(), gsize(B.size()), nullptr);
    if (!Valid) return LowerCase(A) == LowerCase(B);
    if (A.size() != B.size()) return false;
    const char* P = A.data();
    const char* Q = B.data();
    const char* const End = P + A.size();
    while (P < End) {
        if (FoldLower(g_utf8_get_char(P)) != FoldLower(g_utf8_get_char(Q))) return false;
        P = g_utf8_next_char(P);
        Q = g_utf8_next_char(Q);
    }
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
    const std::string T(S);
    char* End = nullptr;
    int Err = 0;
    const double V = WithCLocale([&] {
        errno = 0;
        const double R = std::strtod(T.c_str(), &End);
        Err = errno;
        return R;
    });
    if (End != T.c_str() + T.size() || Err == ERANGE || !std::isfinite(V)) return std::nullopt;
    return V;
}

std::string ShortestScientific(double V) {
    char Buf[64];
    WithCLocale([&] {
        for (int Precision = 0; Precision <= 17; ++Precision) {
            std::snprintf(Buf, sizeof Buf, "%.*e", Precision, V);
            if (!std::isfinite(V) || std::strtod(Buf, nullptr) == V) break;
        }
        return 0;
    });
    return Buf;
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
