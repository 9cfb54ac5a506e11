#include <stdexcept>

#include "driver/uServiceWindows.h"

namespace fr {

// The Windows library carries no service windows yet: every window action
// fails cleanly, as when the Linux library is built without them.
void RunServiceWindow(TFrWindowRequest&) {
    throw std::runtime_error(ServiceWindowsNotShippedText);
}

}  // namespace fr
