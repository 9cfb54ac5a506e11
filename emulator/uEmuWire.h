// The text form of the emulator's values on its control channel, shared by
// the channel's server (kkt-emulator --control) and its test-side client, so
// both read and write them alike. A line is tokens separated by single
// blanks; an empty token is allowed. Numbers are decimal, flags 0 or 1, byte
// strings and texts hex (empty: an empty token), lists a count followed by
// their elements, records their fields joined by commas.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uEmuTape.h"
#include "uEmuTypes.h"

namespace fr::emuwire {

std::string Hex(std::string_view ABytes);
std::optional<std::string> Unhex(std::string_view AHex);
// Splits at every ASeparator; "a,,b" gives three tokens, "" one empty token.
std::vector<std::string> Split(std::string_view AText, char ASeparator);
// A whole decimal number, optionally negative.
std::optional<int64_t> Number(std::string_view AText);

// The configuration as "Name=value" tokens, every field; a token sets one field.
std::string ConfigText(const TEmuConfig& AConfig);
// Sets the field AToken names; false (with AError) for an unknown name or a bad value.
bool SetConfigField(TEmuConfig& AConfig, std::string_view AToken, std::string& AError);

// A stored document as "number,type,time,fiscal sign,sent,TLV".
std::string DocumentText(const TEmuDocument& ADoc);
std::optional<TEmuDocument> ParseDocument(std::string_view AText);
// A tape entry as "kind,style,font,text,count,rows", the rows as their count
// and each row, joined by dots.
std::string TapeEntryText(const TEmuTapeEntry& AEntry);
std::optional<TEmuTapeEntry> ParseTapeEntry(std::string_view AText);

// Names of the enumerations, as the channel writes them.
const char* FaultName(TEmuFault AFault);
std::optional<TEmuFault> ParseFault(std::string_view AName);
const char* MarkAnswerName(TEmuMarkAnswer AAnswer);
std::optional<TEmuMarkAnswer> ParseMarkAnswer(std::string_view AName);
const char* MarkStateName(TEmuMarkState AState);
std::optional<TEmuMarkState> ParseMarkState(std::string_view AName);

}  // namespace fr::emuwire
