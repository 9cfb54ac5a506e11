// What drvtest does differently on Linux and Windows (drvtestSystemPosix.cpp,
// drvtestSystemWin32.cpp): reading its arguments, preparing its output, and
// listing the serial ports the driver opens by number.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The command line as UTF-8 texts, the program's name first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes what drvtest prints reach its reader as UTF-8, byte for byte.
void PrepareOutput();

// The "ports" command: the ports by number and whether this account may open them.
void RunPorts();

// Left-aligns a UTF-8 text in AWidth characters (not bytes).
std::string Pad(const std::string& S, size_t AWidth);
