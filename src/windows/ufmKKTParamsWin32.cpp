#include <stdexcept>

#include "driver/uServiceWindows.h"
#include "windows/ufmKKTParams.h"

namespace fr::win {

void ShowKktDataWindow(const TFrWindowRequest&) {
    throw std::runtime_error(ServiceWindowsNotShippedText);
}

}  // namespace fr::win
