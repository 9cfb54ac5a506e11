// The exchange both links run: enquiry handshake, command frame, its
// acknowledgement, answer frame and the driver's acknowledgement. The serial
// port and the TCP connection supply the byte I/O and the few points where
// they differ (TLinkRules).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fr {

// What differs between the two links.
struct TLinkRules {
    // Log source of every line of the exchange.
    const char* LogSource;
    // The command is logged as the whole frame (serial) or as its payload (TCP).
    bool LogWholeFrame;
    // The device may send 0xFF before its ACK to a frame (TCP).
    bool FFMayPrecedeAck;
    // Every handshake step's code becomes the attempt's outcome (TCP), so a
    // failure after a drained answer stops the frame; on the serial link only
    // a NAK or a drained answer changes it.
    bool LastStepDecides;
    // An unexpected handshake byte is followed by one more that is skipped (TCP).
    bool SkipAfterUnexpected;
};

class TLinkExchange {
public:
    virtual ~TLinkExchange() = default;

protected:
    explicit TLinkExchange(const TLinkRules& ARules) : FRules(ARules) {}

    // One complete exchange. AResponse: the answer payload from the result
    // code on (with AWaitResponse), else empty. The answer's command code
    // must be the one sent: another is 1014. AAnswerTimeout bounds the wait
    // for the answer's first two bytes (where the link honours it).
    int32_t RunExchange(std::string& AResponse, const std::string& AConnectPwd, const std::string& ACmd,
                        const std::string& AData, uint32_t AAnswerTimeout, bool ASendPwd, bool AWaitResponse);

    // ---- supplied by the link -------------------------------------------------
    // Writes all bytes: 0, or the link's failure code.
    virtual int32_t WriteBytes(std::string_view ABytes) = 0;
    // One byte within ATimeout ms (a link with one fixed receive limit may
    // ignore ATimeout): 0, or the link's failure code.
    virtual int32_t ReadByte(char& AByte, uint32_t ATimeout) = 0;
    // A frame body of ACount bytes; fewer when the link's limits end the
    // read early (the frame check then fails). 0, or a failure code.
    virtual int32_t ReadBody(size_t ACount, std::string& ABody) = 0;
    // Wait for each handshake byte, in ms.
    virtual uint32_t HandshakeTimeout() const = 0;
    // Before each enquiry: the serial link drops stale input.
    virtual void BeforeEnquiry() {}

private:
    int32_t SendCommand(const std::string& APayload);
    int32_t SendFrame(const std::string& APayload);
    int32_t ReadFrame(std::string& AFrame, uint32_t ATimeout);
    int32_t ReceiveAnswer(std::string& AResponse, const std::string& ACmd, uint32_t ATimeout);
    int32_t WriteControl(char AByte);
    int32_t ReadLogged(char& AByte, uint32_t ATimeout);
    void Log(const char* ADirection, std::string_view ABytes, bool AOk) const;

    TLinkRules FRules;
};

}  // namespace fr
