// The windows' one entry point (the GTK module's only export on Linux, a
// function of the DLL on Windows): the driver asks for a window, the
// windows show it and report how it went. No exception leaves here.
#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "driver/uServiceWindows.h"
#include "windows/uDesktop.h"
#include "windows/uMarkdownRenderer.h"
#include "windows/ufmDocView.h"
#include "windows/ufmKKTParams.h"
#include "windows/ufmLog.h"

namespace {

// Copies AText into the driver's buffer, cut at a character boundary.
void SetError(const TFrWindowRequest* ARequest, const std::string& AText) {
    if (!ARequest->ErrorText || ARequest->ErrorTextSize == 0) return;
    size_t N = std::min(AText.size(), ARequest->ErrorTextSize - 1);
    while (N > 0 && N < AText.size() && (uint8_t(AText[N]) & 0xC0) == 0x80) --N;
    std::memcpy(ARequest->ErrorText, AText.data(), N);
    ARequest->ErrorText[N] = 0;
}

std::string Text(const char* S) {
    return S ? S : "";
}

void Run(const TFrWindowRequest& R) {
    using namespace fr::win;
    switch (R.Kind) {
        case wkLogView: {
            TDesktopScope Desktop;
            ShowLogWindow(Text(R.Caption), Text(R.LogDirectory));
            return;
        }
        case wkHelp: {
            TMarkdownRenderer Renderer;
            const std::string Markdown = Renderer.Prepare(
                std::string_view(static_cast<const char*>(R.HelpPackage), R.HelpPackage ? R.HelpPackageSize : 0));
            TDesktopScope Desktop;
            ShowDocView(MarkdownToRuns(Markdown), Text(R.Caption));
            return;
        }
        case wkKktData: {
            if (R.Size < offsetof(TFrWindowRequest, KktSetClock) + sizeof R.KktSetClock || !R.KktRead ||
                !R.KktShiftState || !R.KktCloseShift || !R.KktSetClock)
                throw std::runtime_error("Драйвер не передал окну «Данные ККТ» своих функций");
            TDesktopScope Desktop;
            ShowKktDataWindow(R);
            return;
        }
    }
    throw std::runtime_error("Модуль окон не знает окна номер " + std::to_string(R.Kind));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int FrWindowsRun(const TFrWindowRequest* ARequest) {
    // The driver fills at least the fields up to the error buffer; the
    // fields appended later are checked by the windows that use them.
    if (!ARequest || ARequest->Size < FR_WINDOW_REQUEST_BASE_SIZE) return 2;
    try {
        Run(*ARequest);
        return 0;
    } catch (const std::exception& E) {
        SetError(ARequest, E.what());
    } catch (...) {
        SetError(ARequest, "Неизвестная ошибка в окне драйвера");
    }
    return 1;
}
