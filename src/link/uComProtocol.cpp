#include "link/uComProtocol.h"

#include "link/uLinkFrame.h"

namespace fr {

namespace {
constexpr const char* kSource = "TCOMProtocol";
}

bool TCOMProtocol::WriteControl(char AByte) {
    const bool Ok = FComPort.WriteChar(AByte);
    LogLinkBytes(kSource, "-> ", std::string_view(&AByte, 1), Ok);
    return Ok;
}

int32_t TCOMProtocol::RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                 const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) {
    AResponse.clear();
    FResponse.clear();
    const uint32_t Timeout = ATimeout > 0 ? uint32_t(ATimeout) : FHandshakeTimeout;
    int32_t Result = SendCommand(BuildPayload(AConnectPwd, ACmd, AData, ASendPwd));
    if (AWaitResponse && Result == 0) Result = ReceiveAnswer(AResponse, Timeout);
    if (Result == 0) FResponse = AResponse;
    FLastResultDescription = LinkResultText(Result);
    return Result;
}

int32_t TCOMProtocol::SendFrame(const std::string& APayload) {
    // One length byte: a longer payload cannot be framed, and must not be
    // sent with a wrapped length.
    if (APayload.size() > MaxFramePayload) return 1014;
    const std::string Frame = BuildFrame(APayload);
    const bool Ok = FComPort.WriteStr(Frame, 0);
    LogLinkBytes(kSource, "-> ", Frame, Ok);
    return Ok ? 0 : 1007;
}

int32_t TCOMProtocol::SendCommand(const std::string& APayload) {
    int32_t Result = 1007;
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        for (int Enquiry = 0; Enquiry < 3; ++Enquiry) {
            FComPort.Purge(true);  // stale input would be taken for the reply
            if (!WriteControl(ENQ)) continue;
            char B = 0;
            const bool Got = FComPort.ReadChar(B, FHandshakeTimeout);
            LogLinkBytes(kSource, "<- ", std::string_view(&B, 1), Got);
            if (!Got) continue;
            if (B == NAK) {
                Result = 0;
                break;
            }
            if (B == ACK) {
                // The device still holds an answer nobody took: take it,
                // acknowledge it and throw it away.
                std::string Frame;
                const int32_t R = ReadFrame(Frame, FHandshakeTimeout);
                LogLinkBytes(kSource, "<- ", Frame, R == 0);
                if (R != 0) return R;
                Result = 0;
                WriteControl(ACK);
            }
        }
        if (Result != 0) continue;
        Result = SendFrame(APayload);
        if (Result != 0) continue;
        char B = 0;
        const bool Got = FComPort.ReadChar(B, FHandshakeTimeout);
        LogLinkBytes(kSource, "<- ", std::string_view(&B, 1), Got);
        if (!Got) {
            Result = 1007;
            continue;
        }
        if (B == ACK) return 0;
        Result = 1014;
    }
    return Result;
}

int32_t TCOMProtocol::ReadFrame(std::string& AFrame, uint32_t ATimeout) {
    AFrame.clear();
    char B = 0;
    if (!FComPort.ReadChar(B, ATimeout)) return 1007;
    AFrame += B;  // kept for the log line even when it is not STX
    if (B != STX) return 1014;
    if (!FComPort.ReadChar(B, ATimeout)) return 1007;
    AFrame += B;
    std::string Body;
    if (!FComPort.ReadString(int32_t(uint8_t(B)) + 1, Body)) return 1007;
    AFrame += Body;
    return 0;
}

int32_t TCOMProtocol::ReceiveAnswer(std::string& AResponse, uint32_t ATimeout) {
    std::string Frame;
    const int32_t R = ReadFrame(Frame, ATimeout);
    LogLinkBytes(kSource, "<- ", Frame, R == 0);
    if (R != 0) return 1007;
    const size_t Len = uint8_t(Frame[1]);
    if (Frame.size() != Len + 3) return 1014;  // cut short: nothing is sent
    if (CalcLRC(std::string_view(Frame).substr(1, Len + 1)) != uint8_t(Frame.back())) {
        WriteControl(NAK);
        return 1014;
    }
    WriteControl(ACK);
    return AnswerFromPayload(std::string_view(Frame).substr(2, Len), AResponse) ? 0 : 1014;
}

}  // namespace fr
