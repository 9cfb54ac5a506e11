// Serial framing: enquiry handshake, checksummed frame, acknowledgement,
// answer frame. One RunCommand is one complete exchange on the port.
#pragma once

#include <cstdint>
#include <string>

#include "link/uCommManager.h"
#include "link/uLinkExchange.h"

namespace fr {

// Serial protocol as the device layer sees it; the port is borrowed.
class TCustomComProtocol {
public:
    explicit TCustomComProtocol(TComPort& AComPort) : FComPort(AComPort) {}
    virtual ~TCustomComProtocol() = default;
    TCustomComProtocol(const TCustomComProtocol&) = delete;
    TCustomComProtocol& operator=(const TCustomComProtocol&) = delete;

    // Sends ACmd (+ AConnectPwd when ASendPwd) + AData and, with
    // AWaitResponse, gives the answer payload without its command code
    // (offset 0: the device's result code). ATimeout (ms, 0: 2000) bounds the
    // wait for the answer's first two bytes. Result 0, 1007 (no answer) or
    // 1014 (protocol error, also for an answer that echoes another command).
    virtual int32_t RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                               const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) = 0;

    // Text of the last RunCommand result; empty after success.
    const std::string& LastResultDescription() const { return FLastResultDescription; }

protected:
    std::string FResponse;
    TComPort& FComPort;
    std::string FLastResultDescription;
};

class TComProtocol : public TCustomComProtocol, private TLinkExchange {
public:
    explicit TComProtocol(TComPort& AComPort);

    int32_t RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                       const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) override;

    // Wait for each handshake byte, 2000 ms; tests shorten it.
    uint32_t HandshakeTimeout() const override { return FHandshakeTimeout; }
    void SetHandshakeTimeout(uint32_t AValue) { FHandshakeTimeout = AValue; }

private:
    int32_t WriteBytes(std::string_view ABytes) override;
    int32_t ReadByte(char& AByte, uint32_t ATimeout) override;
    int32_t ReadBody(size_t ACount, std::string& ABody) override;
    void BeforeEnquiry() override;

    uint32_t FHandshakeTimeout = 2000;
};

}  // namespace fr
