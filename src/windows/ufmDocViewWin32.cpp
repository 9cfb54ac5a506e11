#include <stdexcept>

#include "driver/uServiceWindows.h"
#include "windows/ufmDocView.h"

namespace fr::win {

void ShowDocView(const std::vector<TDocRun>&, const std::string&) {
    throw std::runtime_error(ServiceWindowsNotShippedText);
}

}  // namespace fr::win
