// Money inside the driver: a fixed-point value with four decimals, kept as a
// signed 64-bit count of ten-thousandths so that sums add up exactly.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fr {

// V rounded to the nearest integer, halves to even (2.5 gives 2, -3.5 gives
// -4), whatever floating-point rounding mode the host process has set.
// NaN and infinities come back unchanged.
double RoundHalfToEven(double V);

class TCurrency {
public:
    int64_t Value = 0;  // ten-thousandths

    static constexpr int64_t Scale = 10000;

    // V * 10000 rounded to the nearest integer, halves to even. Raises
    // std::range_error for NaN, infinities and values beyond the range.
    static TCurrency FromDouble(double V);
    // An amount in hundredths (kopecks).
    static TCurrency FromKopecks(int64_t AKopecks);
    // Exact decimal text: surrounding blanks, optional sign, digits with an
    // optional "." and fraction, optional exponent ("1.5e3"). More than four
    // decimals are rounded half to even on the exact digits. Anything else,
    // or a value beyond the range, gives nullopt.
    static std::optional<TCurrency> Parse(std::string_view S);

    double ToDouble() const;
    // Shortest exact decimal with ".": "150.5", "-3", "0.0001".
    std::string ToText() const;
    // Hundredths, rounded to nearest, halves to even.
    int64_t ToKopecks() const;

    friend bool operator==(TCurrency, TCurrency) = default;
    friend std::strong_ordering operator<=>(TCurrency, TCurrency) = default;

    // Sums that leave the range raise std::overflow_error instead of
    // wrapping around into a wrong amount.
    friend TCurrency operator+(TCurrency A, TCurrency B);
    friend TCurrency operator-(TCurrency A, TCurrency B);
    friend TCurrency operator-(TCurrency A);
    TCurrency& operator+=(TCurrency B) { return *this = *this + B; }
    TCurrency& operator-=(TCurrency B) { return *this = *this - B; }
};

}  // namespace fr
