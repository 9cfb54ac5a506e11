// Standard error numbers of the equipment connection standard and the
// exception that carries one through the driver to GetLastError.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fr {

// The one coded failure of the library, for the host's input, the link and
// the cash register alike. Code and the text are what GetLastError reports
// to the host. DeviceCode keeps, inside the driver, what stands behind a
// failed command: the device's result code (1..255) or the link's failure
// code (1007, 1011, 1014, 600..607, ...); 0 for a failure of the driver's
// own. The host never sees DeviceCode as its error code: a refused command
// reaches it as 1001 with a text naming the device's answer.
class EquException : public std::runtime_error {
public:
    EquException(int32_t ACode, const std::string& AMessage, int32_t ADeviceCode = 0)
        : std::runtime_error(AMessage), Code(ACode), DeviceCode(ADeviceCode) {}
    int32_t Code;
    int32_t DeviceCode;
};

// AMessage when it is not empty and ACode is not 0; else the standard text
// of ACode; else ADefault, or "Неизвестная ошибка" when that is empty too.
std::string GetEquipmentErrorText(int32_t ACode, const std::string& AMessage = {},
                                  const std::string& ADefault = {});

// An EquException with the standard text of ACode.
[[noreturn]] void RaiseEquError(int32_t ACode);

// A command the device or the link refused with ADeviceCode: the host gets
// 1001 and AMessage, the driver keeps ADeviceCode.
[[noreturn]] void RaiseDeviceError(int32_t ADeviceCode, const std::string& AMessage);

}  // namespace fr
