// What the serial and TCP framings share: control bytes, the check byte,
// the answer payload and the byte log lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fr {

inline constexpr char STX = 0x02;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;

// Frames carry one length byte: longer payloads cannot be sent.
inline constexpr size_t MaxFramePayload = 255;

// Exclusive OR of all bytes (0 for none).
uint8_t CalcLRC(std::string_view S);

// STX, length, payload, CalcLRC of length and payload.
std::string BuildFrame(std::string_view APayload);

// Command payload: code, the password when asked for, data.
std::string BuildPayload(const std::string& AConnectPwd, const std::string& ACmd, const std::string& AData,
                         bool ASendPwd);

// Length of the command code at the start of a payload: two bytes when the
// first is at least AWidePrefix (0xFF for commands, 0xFE for answers), else
// one; 0 for an empty payload.
size_t CommandCodeLength(std::string_view APayload, uint8_t AWidePrefix);

// Gives an answer payload without its echoed command code (one byte, or two
// when the first is 0xFE or above) in AResponse. False, with AResponse
// empty, when the payload is too short to hold its own code or echoes
// another command than ACmd; a two-byte code matches by its second byte,
// whichever of 0xFE and 0xFF leads it.
bool AnswerFromPayload(std::string_view APayload, std::string_view ACmd, std::string& AResponse);

// One log line "-> " or "<- " followed by the bytes in hex, each followed
// by a space; llInfo when AOk, else llError. A log that cannot be written
// never interrupts an exchange half-way.
void LogLinkBytes(const char* ASource, const char* ADirection, std::string_view ABytes, bool AOk);

// Standard texts of the link's result codes (0: empty).
std::string LinkResultText(int32_t ACode);

}  // namespace fr
