// Byte strings for expected values in tests, written out literally and
// never built with the encoders under test; and the links device tests run
// over.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fr::test {

// The bytes of the list, in order: Bytes({0x34, 0x12}).
inline std::string Bytes(std::initializer_list<int> ABytes) {
    std::string S;
    for (int B : ABytes) S += char(uint8_t(B));
    return S;
}

// Hex pairs, blanks and line breaks between them optional: Hex("34 12 00 00").
inline std::string Hex(std::string_view AText) {
    const auto Digit = [](char C) -> int {
        if (C >= '0' && C <= '9') return C - '0';
        if (C >= 'A' && C <= 'F') return C - 'A' + 10;
        if (C >= 'a' && C <= 'f') return C - 'a' + 10;
        throw std::invalid_argument("not a hex digit in a test literal");
    };
    std::string S;
    int High = -1;
    for (char C : AText) {
        if (C == ' ' || C == '\t' || C == '\n' || C == '\r') continue;
        if (High < 0) {
            High = Digit(C);
        } else {
            S += char(High * 16 + Digit(C));
            High = -1;
        }
    }
    if (High >= 0) throw std::invalid_argument("odd number of hex digits in a test literal");
    return S;
}

// Bytes as upper-case hex pairs separated by blanks, for failure messages
// (the one way back from bytes to text; expected values are Hex literals).
inline std::string ShowHex(std::string_view ABytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string S;
    for (char C : ABytes) {
        if (!S.empty()) S += ' ';
        S += Digits[uint8_t(C) >> 4];
        S += Digits[uint8_t(C) & 15];
    }
    return S;
}

// The links a device test runs over: a pseudo-terminal standing for the
// serial port, and loopback TCP.
enum class TTransport { Serial, Tcp };

// How gtest shows a transport parameter.
inline void PrintTo(TTransport ATransport, std::ostream* AOut) {
    *AOut << (ATransport == TTransport::Serial ? "Serial" : "Tcp");
}

// The test-name suffix of a transport parameter: "Serial" or "Tcp".
inline std::string TransportName(const ::testing::TestParamInfo<TTransport>& AInfo) {
    return AInfo.param == TTransport::Serial ? "Serial" : "Tcp";
}

// Both transports, for INSTANTIATE_TEST_SUITE_P.
inline auto BothTransports() { return ::testing::Values(TTransport::Tcp, TTransport::Serial); }

}  // namespace fr::test
