// The log viewer: the driver's log files, one shown as read-only text in a
// chosen encoding and followed while it grows.
#pragma once

#include <string>

namespace fr::win {

// Shows the window modally; ALogDirectory ends with "/".
void ShowLogWindow(const std::string& ACaption, const std::string& ALogDirectory);

}  // namespace fr::win
