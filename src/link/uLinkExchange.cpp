#include "link/uLinkExchange.h"

#include "link/uLinkFrame.h"

namespace fr {

namespace {
constexpr int Attempts = 3;
constexpr int EnquiriesPerAttempt = 3;
constexpr uint8_t AckPrefix = 0xFF;
}  // namespace

void TLinkExchange::Log(const char* ADirection, std::string_view ABytes, bool AOk) const {
    LogLinkBytes(FRules.LogSource, ADirection, ABytes, AOk);
}

int32_t TLinkExchange::WriteControl(char AByte) {
    const int32_t R = WriteBytes(std::string_view(&AByte, 1));
    Log("-> ", std::string_view(&AByte, 1), R == 0);
    return R;
}

int32_t TLinkExchange::ReadLogged(char& AByte, uint32_t ATimeout) {
    AByte = 0;
    const int32_t R = ReadByte(AByte, ATimeout);
    Log("<- ", std::string_view(&AByte, 1), R == 0);
    return R;
}

int32_t TLinkExchange::RunExchange(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                   const std::string& AData, uint32_t AAnswerTimeout, bool ASendPwd,
                                   bool AWaitResponse) {
    AResponse.clear();
    int32_t Result = SendCommand(BuildPayload(AConnectPwd, ACmd, AData, ASendPwd));
    if (AWaitResponse && Result == 0) Result = ReceiveAnswer(AResponse, ACmd, AAnswerTimeout);
    return Result;
}

int32_t TLinkExchange::SendFrame(const std::string& APayload) {
    // One length byte: a longer payload cannot be framed and must not be
    // sent with a wrapped length.
    int32_t Result = 1014;
    std::string Frame;
    if (APayload.size() <= MaxFramePayload) {
        Frame = BuildFrame(APayload);
        Result = WriteBytes(Frame) == 0 ? 0 : 1007;
    }
    if (!FRules.LogWholeFrame)
        Log("-> ", APayload, Result == 0);
    else if (!Frame.empty())
        Log("-> ", Frame, Result == 0);
    return Result;
}

int32_t TLinkExchange::SendCommand(const std::string& APayload) {
    int32_t Result = 1007;
    const uint32_t Wait = HandshakeTimeout();
    auto Note = [&](int32_t AStep) {
        if (FRules.LastStepDecides) Result = AStep;
    };
    for (int Attempt = 0; Attempt < Attempts; ++Attempt) {
        for (int Enquiry = 0; Enquiry < EnquiriesPerAttempt; ++Enquiry) {
            BeforeEnquiry();
            int32_t R = WriteControl(ENQ);
            if (R != 0) {
                Note(R);
                continue;
            }
            char B = 0;
            R = ReadLogged(B, Wait);
            Note(R);
            if (R != 0) continue;
            if (B == NAK) {
                Result = 0;
                break;
            }
            if (B == ACK) {
                // The device still holds an answer nobody took: take it,
                // acknowledge it and throw it away.
                std::string Frame;
                R = ReadFrame(Frame, Wait);
                Log("<- ", Frame, R == 0);
                if (R != 0) return R;
                Result = 0;
                Note(WriteControl(ACK));
                continue;
            }
            if (FRules.SkipAfterUnexpected) {
                char Skipped = 0;
                ReadByte(Skipped, Wait);
            }
        }
        if (Result != 0) continue;
        Result = SendFrame(APayload);
        if (Result != 0) continue;
        char B = 0;
        Result = ReadLogged(B, Wait);
        if (Result != 0) continue;
        if (B == ACK) return 0;
        if (FRules.FFMayPrecedeAck && uint8_t(B) == AckPrefix) {
            Result = ReadByte(B, Wait);
            if (Result != 0) continue;
            Log("<- ", std::string_view(&B, 1), true);
            if (B == ACK) return 0;
        }
        Result = 1014;
    }
    return Result;
}

int32_t TLinkExchange::ReadFrame(std::string& AFrame, uint32_t ATimeout) {
    AFrame.clear();
    char B = 0;
    if (ReadByte(B, ATimeout) != 0) return 1007;
    AFrame += B;  // kept for the log line even when it is not STX
    if (B != STX) return 1014;
    if (ReadByte(B, ATimeout) != 0) return 1007;
    AFrame += B;
    std::string Body;
    if (ReadBody(size_t(uint8_t(B)) + 1, Body) != 0) return 1007;
    AFrame += Body;
    return 0;
}

int32_t TLinkExchange::ReceiveAnswer(std::string& AResponse, const std::string& ACmd, uint32_t ATimeout) {
    std::string Frame;
    const int32_t R = ReadFrame(Frame, ATimeout);
    Log("<- ", Frame, R == 0);
    if (R != 0) return 1007;
    const size_t Len = uint8_t(Frame[1]);
    if (Frame.size() != Len + 3) return 1014;  // cut short: nothing is sent
    if (CalcLRC(std::string_view(Frame).substr(1, Len + 1)) != uint8_t(Frame.back())) {
        WriteControl(NAK);
        return 1014;
    }
    // The frame arrived whole, so it is acknowledged even when it answers
    // another command: the device must not keep offering it.
    WriteControl(ACK);
    return AnswerFromPayload(std::string_view(Frame).substr(2, Len), ACmd, AResponse) ? 0 : 1014;
}

}  // namespace fr
