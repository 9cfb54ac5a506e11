#include <stdexcept>

#include "driver/uServiceWindows.h"
#include "windows/ufmLog.h"

namespace fr::win {

void ShowLogWindow(const std::string&, const std::string&) {
    throw std::runtime_error(ServiceWindowsNotShippedText);
}

}  // namespace fr::win
