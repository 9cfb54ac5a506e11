#include "driver/uServiceWindows.h"

#include <stdexcept>

namespace fr {

std::string NoDesktopText(const TFrWindowRequest& ARequest) {
    return std::string("Нет графического сеанса: окно «") + (ARequest.Caption ? ARequest.Caption : "") +
           "» можно открыть только в клиенте с графическим рабочим столом";
}

void RunServiceWindow(TFrWindowRequest& ARequest) {
    const TFrWindowsRun Run = ServiceWindowsEntry(ARequest);
    char Error[1024] = {};
    ARequest.Size = sizeof(TFrWindowRequest);
    ARequest.ErrorText = Error;
    ARequest.ErrorTextSize = sizeof Error;
    const int Rc = Run(&ARequest);
    ARequest.ErrorText = nullptr;
    ARequest.ErrorTextSize = 0;
    if (Rc != 0) throw std::runtime_error(Error[0] ? Error : "Окно драйвера завершилось с ошибкой");
}

}  // namespace fr
