#include "link/uLinkFrame.h"

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "log/uLog.h"

namespace fr {

uint8_t CalcLRC(std::string_view S) {
    uint8_t L = 0;
    for (char C : S) L ^= uint8_t(C);
    return L;
}

std::string BuildFrame(std::string_view APayload) {
    std::string Body(1, char(uint8_t(APayload.size())));
    Body += APayload;
    std::string Frame(1, STX);
    Frame += Body;
    Frame += char(CalcLRC(Body));
    return Frame;
}

std::string BuildPayload(const std::string& AConnectPwd, const std::string& ACmd, const std::string& AData,
                         bool ASendPwd) {
    return ASendPwd ? ACmd + AConnectPwd + AData : ACmd + AData;
}

size_t CommandCodeLength(std::string_view APayload, uint8_t AWidePrefix) {
    if (APayload.empty()) return 0;
    return uint8_t(APayload[0]) >= AWidePrefix ? 2 : 1;
}

bool AnswerFromPayload(std::string_view APayload, std::string_view ACmd, std::string& AResponse) {
    AResponse.clear();
    const size_t CodeSize = CommandCodeLength(APayload, 0xFE);
    if (CodeSize == 0 || APayload.size() < CodeSize) return false;
    const size_t SentSize = CommandCodeLength(ACmd, 0xFF);
    if (SentSize != CodeSize || ACmd.size() < SentSize) return false;
    // An answer to another command (a late one, or the device's own
    // confusion) must never be taken for this command's success.
    if (APayload[CodeSize - 1] != ACmd[SentSize - 1]) return false;
    AResponse.assign(APayload.substr(CodeSize));
    return true;
}

void LogLinkBytes(const char* ASource, const char* ADirection, std::string_view ABytes, bool AOk) {
    try {
        WriteLog(ASource, std::string(ADirection) + BytesToHexString(ABytes, " "), AOk ? llInfo : llError);
    } catch (const std::exception&) {
        // The exchange goes on; the device must not be left half-way.
    }
}

std::string LinkResultText(int32_t ACode) {
    switch (ACode) {
        case 0:
            return {};
        case 600:
            return "Ошибка при создании сокета";
        case 601:
            return "Ошибка при установлении подключения к ФР";
        case 603:
            return "Номер порта должен лежать в диапазоне 1-65535";
        case 604:
            return "Синтаксическая ошибка в IP-адресе";
        case 605:
            return "Ошибка при отправке данных серверу";
        case 606:
            return "Ошибка при получении ответа от сервера";
        default:
            return GetEquipmentErrorText(ACode);
    }
}

}  // namespace fr
