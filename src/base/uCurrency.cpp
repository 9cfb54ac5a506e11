#include "base/uCurrency.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace fr {

namespace {

constexpr uint64_t kMaxMagnitude = uint64_t(std::numeric_limits<int64_t>::max());

// Magnitude of V without overflow for INT64_MIN.
uint64_t Magnitude(int64_t V) {
    return V < 0 ? uint64_t(0) - uint64_t(V) : uint64_t(V);
}

std::optional<int64_t> Signed(uint64_t AMagnitude, bool ANegative) {
    if (ANegative) {
        if (AMagnitude > kMaxMagnitude + 1) return std::nullopt;
        return int64_t(uint64_t(0) - AMagnitude);
    }
    if (AMagnitude > kMaxMagnitude) return std::nullopt;
    return int64_t(AMagnitude);
}

}  // namespace

double RoundHalfToEven(double V) {
    if (!std::isfinite(V)) return V;
    const double F = std::floor(V);
    const double D = V - F;  // exact: F and V lie within one unit
    if (D > 0.5 || (D == 0.5 && std::fmod(F, 2.0) != 0.0)) return F + 1;
    return F;
}

TCurrency TCurrency::FromDouble(double V) {
    const double R = RoundHalfToEven(V * double(Scale));
    // 2^63 is exactly representable; every double below it converts safely.
    if (!(R >= -9223372036854775808.0 && R < 9223372036854775808.0))
        throw std::range_error("Значение вне допустимого диапазона денежной суммы: " + std::to_string(V));
    return TCurrency{int64_t(R)};
}

TCurrency TCurrency::FromKopecks(int64_t AKopecks) {
    int64_t R = 0;
    if (__builtin_mul_overflow(AKopecks, int64_t(100), &R))
        throw std::overflow_error("Значение вне допустимого диапазона денежной суммы");
    return TCurrency{R};
}

std::optional<TCurrency> TCurrency::Parse(std::string_view S) {
    while (!S.empty() && uint8_t(S.front()) <= ' ') S.remove_prefix(1);
    while (!S.empty() && uint8_t(S.back()) <= ' ') S.remove_suffix(1);
    size_t P = 0;
    bool Negative = false;
    if (P < S.size() && (S[P] == '+' || S[P] == '-')) Negative = S[P++] == '-';

    // All digits as written; PointPos counts those before the point.
    std::string Digits;
    int64_t PointPos = -1;
    for (; P < S.size(); ++P) {
        const char C = S[P];
        if (C >= '0' && C <= '9')
            Digits += C;
        else if (C == '.' && PointPos < 0)
            PointPos = int64_t(Digits.size());
        else
            break;
    }
    if (Digits.empty()) return std::nullopt;
    if (PointPos < 0) PointPos = int64_t(Digits.size());

    int64_t Exponent = 0;
    if (P < S.size() && (S[P] == 'e' || S[P] == 'E')) {
        ++P;
        bool ExpNegative = false;
        if (P < S.size() && (S[P] == '+' || S[P] == '-')) ExpNegative = S[P++] == '-';
        if (P >= S.size()) return std::nullopt;
        for (; P < S.size(); ++P) {
            if (S[P] < '0' || S[P] > '9') return std::nullopt;
            if (Exponent < 1000000) Exponent = Exponent * 10 + (S[P] - '0');
        }
        if (ExpNegative) Exponent = -Exponent;
    }
    if (P != S.size()) return std::nullopt;

    // Drop leading zeros, so that the value is 0.Digits * 10^PointPos.
    const size_t FirstNonZero = Digits.find_first_not_of('0');
    if (FirstNonZero == std::string::npos) return TCurrency{0};
    Digits.erase(0, FirstNonZero);
    PointPos -= int64_t(FirstNonZero);

    // The leading Count digits make the count of ten-thousandths; the first
    // digit is not zero, so more than 19 of them cannot fit.
    const int64_t Count = PointPos + Exponent + 4;
    if (Count > 19) return std::nullopt;
    uint64_t M = 0;
    for (int64_t I = 0; I < Count; ++I)
        M = M * 10 + (I < int64_t(Digits.size()) ? uint64_t(Digits[size_t(I)] - '0') : 0);
    // Round on the exact digits that follow, halves to even. With Count < 0
    // the value is below a tenth of a ten-thousandth and rounds to zero.
    if (Count >= 0 && Count < int64_t(Digits.size())) {
        const int Next = Digits[size_t(Count)] - '0';
        const bool RestNonZero = Digits.find_first_not_of('0', size_t(Count) + 1) != std::string::npos;
        if (Next > 5 || (Next == 5 && (RestNonZero || (M & 1)))) ++M;
    }
    const auto R = Signed(M, Negative);
    if (!R) return std::nullopt;
    return TCurrency{*R};
}

double TCurrency::ToDouble() const {
    return double(Value) / double(Scale);
}

std::string TCurrency::ToText() const {
    const uint64_t M = Magnitude(Value);
    std::string S = Value < 0 ? "-" : "";
    S += std::to_string(M / uint64_t(Scale));
    uint64_t Frac = M % uint64_t(Scale);
    if (Frac != 0) {
        std::string F = std::to_string(Frac);
        F.insert(0, 4 - F.size(), '0');
        while (F.back() == '0') F.pop_back();
        S += '.';
        S += F;
    }
    return S;
}

int64_t TCurrency::ToKopecks() const {
    const uint64_t M = Magnitude(Value);
    uint64_t Q = M / 100;
    const uint64_t R = M % 100;
    if (R > 50 || (R == 50 && (Q & 1))) ++Q;
    return Value < 0 ? -int64_t(Q) : int64_t(Q);
}

TCurrency operator+(TCurrency A, TCurrency B) {
    int64_t R = 0;
    if (__builtin_add_overflow(A.Value, B.Value, &R)) throw std::overflow_error("Переполнение денежной суммы");
    return TCurrency{R};
}

TCurrency operator-(TCurrency A, TCurrency B) {
    int64_t R = 0;
    if (__builtin_sub_overflow(A.Value, B.Value, &R)) throw std::overflow_error("Переполнение денежной суммы");
    return TCurrency{R};
}

TCurrency operator-(TCurrency A) {
    return TCurrency{} - A;
}

}  // namespace fr
