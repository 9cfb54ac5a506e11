// Includes the check must refuse on the device side, however they are written.
#include <device/uDevice.h>           // a floor above, in angle brackets
#include <driver/uEcrDriver.h>        // the host side's column
#include <src/fiscal/uDriver.h>       // through the source folder's own name
#include "../device/uDeviceFields.h"  // through the parent folder
#include <../fiscal/uDriver.h>        // out of the include folder
// And what it must let pass.
#include <sys/stat.h>
#include <pango/pangocairo.h>
#include <vector>
#include <log/uLog.h>
#include "base/uStrings.h"
#include "./uLinkFrame.h"
