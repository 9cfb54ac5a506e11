// Byte strings for the link and device tests: small lists of byte values and
// expected bytes written out as hex text.
#pragma once

#include <cctype>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fr::test {

inline std::string Bytes(std::initializer_list<int> ABytes) {
    std::string S;
    for (int B : ABytes) S += char(B);
    return S;
}

// "02 05 11" or "020511": pairs of hex digits, blanks ignored.
inline std::string Hex(std::string_view AText) {
    std::string S;
    int High = -1;
    for (char C : AText) {
        if (std::isspace(uint8_t(C))) continue;
        if (!std::isxdigit(uint8_t(C))) throw std::invalid_argument("not a hex digit");
        const int Digit = std::isdigit(uint8_t(C)) ? C - '0' : std::toupper(uint8_t(C)) - 'A' + 10;
        if (High < 0) {
            High = Digit;
        } else {
            S += char(High * 16 + Digit);
            High = -1;
        }
    }
    if (High >= 0) throw std::invalid_argument("odd number of hex digits");
    return S;
}

}  // namespace fr::test
