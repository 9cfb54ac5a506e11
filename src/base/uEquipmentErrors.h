// Standard error numbers of the equipment connection standard and the
// exception that carries one through the driver to GetLastError.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fr {

class EquException : public std::runtime_error {
public:
    EquException(int32_t ACode, const std::string& AMessage, std::string AStrCode = {})
        : std::runtime_error(AMessage), Code(ACode), StrCode(std::move(AStrCode)) {}
    int32_t Code;
    std::string StrCode;
};

// AMessage when it is not empty and ACode is not 0; else the standard text
// of ACode; else ADefault, or "Неизвестная ошибка" when that is empty too.
std::string GetEquipmentErrorText(int32_t ACode, const std::string& AMessage = {},
                                  const std::string& ADefault = {});

// An EquException with the standard text of ACode.
[[noreturn]] void RaiseEquError(int32_t ACode);

}  // namespace fr
