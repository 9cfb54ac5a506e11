#include "base/uStrings.h"

#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

void AppendUtf8(std::string& Out, char32_t C) {
    if (C < 0x80) {
        Out += char(C);
    } else if (C < 0x800) {
        Out += char(0xC0 | (C >> 6));
        Out += char(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += char(0xE0 | (C >> 12));
        Out += char(0x80 | ((C >> 6) & 0x3F));
        Out += char(0x80 | (C & 0x3F));
    } else {
        Out += char(0xF0 | (C >> 18));
        Out += char(0x80 | ((C >> 12) & 0x3F));
        Out += char(0x80 | ((C >> 6) & 0x3F));
        Out += char(0x80 | (C & 0x3F));
    }
}

// Decodes one UTF-8 sequence at S[I]; advances I. Overlong forms, surrogates
// and truncated sequences give U+FFFD and consume one byte.
char32_t DecodeUtf8(std::string_view S, size_t& I) {
    const auto B0 = uint8_t(S[I]);
    if (B0 < 0x80) {
        ++I;
        return B0;
    }
    int Len;
    char32_t C;
    if ((B0 & 0xE0) == 0xC0) {
        Len = 2;
        C = B0 & 0x1F;
    } else if ((B0 & 0xF0) == 0xE0) {
        Len = 3;
        C = B0 & 0x0F;
    } else if ((B0 & 0xF8) == 0xF0) {
        Len = 4;
        C = B0 & 0x07;
    } else {
        ++I;
        return kReplacement;
    }
    if (I + Len > S.size()) {
        ++I;
        return kReplacement;
    }
    for (int K = 1; K < Len; ++K) {
        const auto B = uint8_t(S[I + K]);
        if ((B & 0xC0) != 0x80) {
            ++I;
            return kReplacement;
        }
        C = (C << 6) | (B & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (C < kMin[Len] || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) {
        ++I;
        return kReplacement;
    }
    I += Len;
    return C;
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
    std::string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size();) AppendUtf8(Out, Fn(DecodeUtf8(S, I)));
    return Out;
}

std::string_view TrimView(std::string_view S) {
    size_t B = 0, E = S.size();
    while (B < E && uint8_t(S[B]) <= ' ') ++B;
    while (E > B && uint8_t(S[E - 1]) <= ' ') --E;
    return S.substr(B, E - B);
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view S) {
    std::string Out;
    Out.reserve(S.size() * 3 / 2);
    for (size_t I = 0; I < S.size(); ++I) {
        char32_t C = S[I];
        if (C >= 0xD800 && C <= 0xDBFF && I + 1 < S.size() && S[I + 1] >= 0xDC00 && S[I + 1] <= 0xDFFF) {
            C = 0x10000 + ((C - 0xD800) << 10) + (S[I + 1] - 0xDC00);
            ++I;
        } else if (C >= 0xD800 && C <= 0xDFFF) {
            C = kReplacement;
        }
        AppendUtf8(Out, C);
    }
    return Out;
}

std::u16string Utf8ToUtf16(std::string_view S) {
    std::u16string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size();) {
        const char32_t C = DecodeUtf8(S, I);
        if (C >= 0x10000) {
            Out += char16_t(0xD800 + ((C - 0x10000) >> 10));
            Out += char16_t(0xDC00 + ((C - 0x10000) & 0x3FF));
        } else {
            Out += char16_t(C);
        }
    }
    return Out;
}

size_t Utf16Length(const char16_t* S) {
    if (!S) return 0;
    size_t N = 0;
    while (S[N]) ++N;
    return N;
}

std::u32string Utf8ToUtf32(std::string_view S) {
    std::u32string Out;
    Out.reserve(S.size());
    for (size_t I = 0; I < S.size();) Out += DecodeUtf8(S, I);
    return Out;
}

std::string Utf32ToUtf8(std::u32string_view S) {
    std::string Out;
    Out.reserve(S.size());
    for (char32_t C : S) AppendUtf8(Out, (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) ? kReplacement : C);
    return Out;
}

size_t Utf8Length(std::string_view S) {
    size_t N = 0;
    for (size_t I = 0; I < S.size(); ++N) DecodeUtf8(S, I);
    return N;
}

std::string LowerCase(std::string_view S) { return MapChars(S, FoldLower); }
std::string UpperCase(std::string_view S) { return MapChars(S, FoldUpper); }

bool SameText(std::string_view A, std::string_view B) {
    size_t I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        if (FoldLower(DecodeUtf8(A, I)) != FoldLower(DecodeUtf8(B, J))) return false;
    }
    return I == A.size() && J == B.size();
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

std::string Trim(std::string_view S) { return std::string(TrimView(S)); }

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

std::string FormatDouble(double V) {
    if (!std::isfinite(V)) return std::isnan(V) ? "NAN" : (V > 0 ? "INF" : "-INF");
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.15g", V);
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

}  // namespace fr
