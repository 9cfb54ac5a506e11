// Texts of the cash register's result codes and of the TCP link's own
// failures, as they appear in exceptions, in the log and at the host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fr {

// ACode: a device result code (0..255), a TCP link code (600..607) or an
// equipment error code (above 1000, texts of the equipment error table).
// A non-zero ACode gets "; " and the standard text of AExtCode appended when
// AExtCode is not 0, and "; " and the trimmed AExtText when that is not
// empty. Unknown codes give "Неизвестная ошибка". Never throws.
std::string GetDeviceErrorDescription(int32_t ACode, int32_t AExtCode = 0, std::string_view AExtText = {});

// EquException 1014 "Ошибка протокола обмена" (the device code 1014 too):
// an answer that cannot be read as its command's answer.
[[noreturn]] void RaiseProtocolError();

// Number of entries of the fixed table (device and link codes).
size_t DeviceErrorTableSize();

}  // namespace fr
