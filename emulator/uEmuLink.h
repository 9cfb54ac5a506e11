// Device side of the link on a byte stream (a TCP connection or the master
// side of a pseudo-terminal): NAK to an enquiry when ready, ACK and the
// answer again when the last answer was not acknowledged, NAK to a frame
// with a bad checksum, ACK to a good one followed by the answer frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace fr {

class TEmuDevice;

inline constexpr char emuSTX = 0x02, emuENQ = 0x05, emuACK = 0x06, emuNAK = 0x15;

// Frame: STX, length, payload, XOR of length and payload.
std::string EmuFrame(const std::string& APayload);

class TEmuLinkSession {
public:
    enum TEnd { leClosed, leStopped, leNewClient, leRestart };

    // AFd is borrowed. AStopFd (eventfd) ends the session when readable;
    // AListenFd (or -1) ends it when another client knocks; AWakeFd (eventfd
    // or -1) wakes it to look for a power cut (it ends with leRestart).
    TEmuLinkSession(TEmuDevice& ADevice, int AFd, bool ASocket, int AStopFd, int AListenFd = -1, int AWakeFd = -1);
    // Paces the line as a serial line at ABaud (10 bits a byte) would: each
    // byte reaches the other side, and each received byte is taken, no
    // earlier than the line could have carried it. 0: no pacing.
    void SetBaud(int ABaud);
    TEnd Serve();

private:
    enum TDamage { dmNone, dmChecksum, dmCut, dmExtra };

    bool Restarted();  // a power cut happened since the session began
    void DrainWake();
    // 1 byte read, 0 time limit passed, -1 closed or stopped.
    int ReadByte(char& AByte, int ATimeoutMs);
    int Fill(int ATimeoutMs);  // waits for input and takes what there is
    bool Write(const std::string& ABytes);
    bool WriteRaw(const char* AData, size_t ASize);
    bool Wait(int AMs);  // false when stopped
    void SendAnswer(bool AResend, TDamage ADamage = dmNone);
    void AwaitAck();

    TEmuDevice& FDevice;
    int FFd;
    bool FSocket;
    int FStopFd;
    int FListenFd;
    int FWakeFd;
    uint64_t FRestarts = 0;  // power cuts seen when the session began
    TEnd FEnd = leClosed;
    std::string FPending;  // answer not yet acknowledged by the driver
    bool FHasPending = false;
    int FPushback = -1;
    std::string FIn;  // bytes read from the line and not yet taken
    size_t FInPos = 0;
    using TClock = std::chrono::steady_clock;
    TClock::duration FByteTime{0};         // one byte on the line; zero: no pacing
    TClock::time_point FInFree, FOutFree;  // when each direction of the line is free
    TClock::time_point FInArrival;         // when the bytes in FIn were read
};

}  // namespace fr
