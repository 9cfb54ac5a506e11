// Library start-up: sets up the log folder and registers the driver class
// when the host loads the library. The log writes its footer at unload.
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace {

struct TLibraryMain {
    TLibraryMain() {
        fr::StartDriverLog("fr_orvalen1c8x3n");
        fr::TCommonDriver::RegisterDriver<fr::TDriver>("fr_orvalen1c8x3n", "Драйвер ККТ Орвален",
                                                       "Драйвер ККТ Орвален 1С:Совместимо для 1С:БПО NativeAPI");
    }
};

const TLibraryMain LibraryMain;

}  // namespace
