#include "link/uComProtocol.h"

#include "link/uLinkFrame.h"

namespace fr {

namespace {
constexpr TLinkRules SerialRules{"TComProtocol", /*LogWholeFrame=*/true, /*FFMayPrecedeAck=*/false,
                                 /*LastStepDecides=*/false, /*SkipAfterUnexpected=*/false};
}

TComProtocol::TComProtocol(TComPort& AComPort) : TCustomComProtocol(AComPort), TLinkExchange(SerialRules) {}

int32_t TComProtocol::RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                 const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) {
    FResponse.clear();
    const uint32_t Timeout = ATimeout > 0 ? uint32_t(ATimeout) : FHandshakeTimeout;
    const int32_t Result = RunExchange(AResponse, AConnectPwd, ACmd, AData, Timeout, ASendPwd, AWaitResponse);
    if (Result == 0) FResponse = AResponse;
    FLastResultDescription = LinkResultText(Result);
    return Result;
}

int32_t TComProtocol::WriteBytes(std::string_view ABytes) {
    const bool Ok = ABytes.size() == 1 ? FComPort.WriteChar(ABytes[0]) : FComPort.WriteStr(std::string(ABytes), 0);
    return Ok ? 0 : 1007;
}

int32_t TComProtocol::ReadByte(char& AByte, uint32_t ATimeout) {
    return FComPort.ReadChar(AByte, ATimeout) ? 0 : 1007;
}

int32_t TComProtocol::ReadBody(size_t ACount, std::string& ABody) {
    // One read bounded by the port's own time limits.
    return FComPort.ReadString(int32_t(ACount), ABody) ? 0 : 1007;
}

void TComProtocol::BeforeEnquiry() {
    FComPort.Purge(true);  // stale input would be taken for the reply
}

}  // namespace fr
