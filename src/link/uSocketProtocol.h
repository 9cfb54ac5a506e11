// TCP framing: one connection to the cash register, over which the serial
// exchange runs with the TCP differences (0xFF before the frame's ACK,
// 10-second receive limit, send and receive failures as 605 and 606).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/uLinkExchange.h"

namespace fr {

// TCP protocol as the device layer sees it.
class TCustomSocketProtocol {
public:
    TCustomSocketProtocol() = default;
    virtual ~TCustomSocketProtocol() = default;
    TCustomSocketProtocol(const TCustomSocketProtocol&) = delete;
    TCustomSocketProtocol& operator=(const TCustomSocketProtocol&) = delete;

    // Same contract as the serial RunCommand; ATimeout is ignored (every
    // receive has the connection's own limit). Results 0, 605, 606, 1007,
    // 1014.
    virtual int32_t RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                               const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) = 0;

    // Text of the last Connect or RunCommand result; empty after success.
    const std::string& LastResultDescription() const { return FLastResultDescription; }

protected:
    std::string FResponse;
    std::string FIPAddress;
    int32_t FTCPPort = 0;
    std::string FLastResultDescription;
};

class TTcpSocket;

class TSocketProtocol : public TCustomSocketProtocol, private TLinkExchange {
public:
    TSocketProtocol();
    ~TSocketProtocol() override;

    int32_t RunCommand(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                       const std::string& AData, int32_t ATimeout, bool ASendPwd, bool AWaitResponse) override;

    // Dotted-decimal IPv4 only (blanks around it are ignored). 0, or 600
    // socket, 601 connection failed or not made within 4000 ms, 603 port
    // outside 1..65535, 604 address, 1001 other set-up failure. A connection
    // still open is closed first.
    int32_t Connect(const std::string& AIPAddress, int32_t ATCPPort);
    // 0, or -1 when closing failed (the socket is released all the same).
    int32_t Disconnect();

    bool Connected() const;
    const std::string& IPAddress() const { return FIPAddress; }
    int32_t TCPPort() const { return FTCPPort; }

    // Limit of every receive, 10000 ms; tests shorten it.
    uint32_t ReceiveTimeout() const { return FReceiveTimeout; }
    void SetReceiveTimeout(uint32_t AValue) { FReceiveTimeout = AValue; }

    static constexpr uint32_t ConnectTimeout = 4000;

protected:
    // Takes over a connected descriptor or SOCKET (fuzz targets).
    void AdoptSocket(intptr_t AHandle);

private:
    int32_t SendData(std::string_view S);
    int32_t ReceiveBytes(size_t N, std::string& S);
    int32_t WriteBytes(std::string_view ABytes) override;
    int32_t ReadByte(char& AByte, uint32_t ATimeout) override;
    int32_t ReadBody(size_t ACount, std::string& ABody) override;
    uint32_t HandshakeTimeout() const override { return FReceiveTimeout; }
    int32_t Fail(int32_t ACode, int AError);

    std::unique_ptr<TTcpSocket> FSocket;
    uint32_t FReceiveTimeout = 10000;
    int FLastError = 0;  // system error code of the last failure, 0 for none
};

}  // namespace fr
