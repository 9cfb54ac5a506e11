#include <windows.h>

#include <stdexcept>

#include "driver/uServiceWindows.h"

// The windows' entry, in the service windows' own sources (src/windows),
// which the DLL links in.
extern "C" int FrWindowsRun(const TFrWindowRequest* ARequest);

namespace fr {

namespace {

// Whether the process's window station is the one the operator sees. A
// service's is not: a modal window there would wait for a click nobody can
// give.
bool InteractiveStation() {
    USEROBJECTFLAGS Flags{};
    HWINSTA Station = GetProcessWindowStation();
    if (!Station || !GetUserObjectInformationW(Station, UOI_FLAGS, &Flags, sizeof Flags, nullptr)) return true;
    return (Flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

TFrWindowsRun ServiceWindowsEntry(const TFrWindowRequest& ARequest) {
    if (!InteractiveStation())
        throw std::runtime_error(NoDesktopText(ARequest) +
                                 " (процесс работает вне интерактивного сеанса Windows, например как служба)");
    return FrWindowsRun;
}

}  // namespace fr
