// The host side reaching into the device side's column.
#include <link/uComProtocol.h>
#include "device/uDevice.h"
