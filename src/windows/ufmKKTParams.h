// The KKT data window: the registration data, the current state and the
// money counters of the driver's current session in three name/value grids,
// and the device clock set from the computer's. The driver builds the rows
// and does the work; the window shows them and asks.
#pragma once

#include "driver/uServiceWindows.h"

namespace fr::win {

// Shows the window modally; ARequest carries the driver's callbacks.
void ShowKktDataWindow(const TFrWindowRequest& ARequest);

}  // namespace fr::win
