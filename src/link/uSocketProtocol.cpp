#include "link/uSocketProtocol.h"

#include <algorithm>
#include <chrono>

#include "base/uStrings.h"
#include "base/uSystem.h"
#include "link/uLinkFrame.h"
#include "link/uTcpSocket.h"

namespace fr {

namespace {

using TClock = std::chrono::steady_clock;

constexpr TLinkRules SocketRules{"TSocketProtocol", /*LogWholeFrame=*/false, /*FFMayPrecedeAck=*/true,
                                 /*LastStepDecides=*/true, /*SkipAfterUnexpected=*/true};

}  // namespace

TSocketProtocol::TSocketProtocol() : TLinkExchange(SocketRules), FSocket(std::make_unique<TTcpSocket>()) {}

void TSocketProtocol::AdoptSocket(intptr_t AHandle) {
    FSocket->Adopt(AHandle);
}

TSocketProtocol::~TSocketProtocol() = default;

bool TSocketProtocol::Connected() const {
    return FSocket->IsOpen();
}

int32_t TSocketProtocol::Fail(int32_t ACode, int AError) {
    FLastError = AError;
    return ACode;
}

int32_t TSocketProtocol::Connect(const std::string& AIPAddress, int32_t ATCPPort) {
    FIPAddress = AIPAddress;
    FTCPPort = ATCPPort;
    FLastError = 0;
    FSocket->Close();  // a second Connect must not leak the first connection
    const int32_t Result = FSocket->Connect(Trim(AIPAddress), ATCPPort, ConnectTimeout, FReceiveTimeout);
    if (Result != 0) FLastError = FSocket->LastError();
    FLastResultDescription = LinkResultText(Result);
    if (Result != 0 && FLastError != 0) FLastResultDescription += ". " + SystemErrorText(FLastError);
    return Result;
}

int32_t TSocketProtocol::Disconnect() {
    if (!FSocket->IsOpen()) return 0;
    return FSocket->Close() ? 0 : -1;
}

int32_t TSocketProtocol::SendData(std::string_view S) {
    if (!FSocket->IsOpen()) return Fail(605, TTcpSocket::NotConnectedError());
    if (!FSocket->Send(S)) return Fail(605, FSocket->LastError());
    return 0;
}

int32_t TSocketProtocol::ReceiveBytes(size_t N, std::string& S) {
    S.clear();
    if (!FSocket->IsOpen()) return Fail(606, TTcpSocket::NotConnectedError());
    // The whole read is bounded by one receive limit, so a peer that drips
    // bytes cannot stretch it.
    const auto Deadline = TClock::now() + std::chrono::milliseconds(FReceiveTimeout);
    while (S.size() < N) {
        const int Ready = FSocket->WaitReadable(Deadline);
        if (Ready <= 0) {
            if (S.empty()) return Fail(606, FSocket->LastError());
            break;
        }
        char Buf[512];
        const std::ptrdiff_t R = FSocket->Receive(Buf, std::min(sizeof Buf, N - S.size()));
        if (R == -2) continue;
        if (R <= 0) {
            // Closed by the peer or reset: what arrived is all there is.
            if (S.empty()) return Fail(606, R < 0 ? FSocket->LastError() : TTcpSocket::ResetError());
            break;
        }
        S.append(Buf, size_t(R));
    }
    return 0;
}

int32_t TSocketProtocol::WriteBytes(std::string_view ABytes) {
    return SendData(ABytes);
}

int32_t TSocketProtocol::ReadByte(char& AByte, uint32_t) {
    std::string S;
    const int32_t R = ReceiveBytes(1, S);
    if (R == 0) AByte = S[0];
    return R;
}

int32_t TSocketProtocol::ReadBody(size_t ACount, std::string& ABody) {
    return ReceiveBytes(ACount, ABody);
}

int32_t TSocketProtocol::RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                                    const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) {
    (void)ATimeout;  // every receive is bounded by the connection's limit
    FResponse.clear();
    FLastError = 0;
    const int32_t Result = RunExchange(AResponse, AConnectPwd, ACmd, AData, FReceiveTimeout, ASendPwd, AWaitResponse);
    if (Result == 0) FResponse = AResponse;
    FLastResultDescription = LinkResultText(Result);
    if ((Result == 605 || Result == 606) && FLastError != 0)
        FLastResultDescription += ". " + SystemErrorText(FLastError);
    return Result;
}

}  // namespace fr
