// One open serial port of the operating system: what TCommManager needs
// from the system, behind one small class. uSerialPortPosix.cpp opens a
// terminal device with termios; uSerialPortWin32.cpp opens \\.\COM<n> with
// the communications functions. The time limits, the read operations and
// the texts are TCommManager's, the same on both.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "link/uCommManager.h"

namespace fr {

// The line settings TCommManager applies at Open.
struct TSerialLine {
    uint32_t BaudRate = 9600;  // bits per second
    uint8_t DataBits = 8;
    TParity Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    TFlowControl FlowControl;
    bool AbortOnError = false;
    char EvtChar = 0;
    uint16_t XonLimit = 256;
    uint16_t XoffLimit = 256;
};

class TSerialPort {
public:
    using TClock = std::chrono::steady_clock;
    enum class TWait { Ready, Expired, Failed };

    TSerialPort() = default;
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // The system's name of port APortNumber: /dev/com<n> when that exists,
    // else /dev/ttyS<n-1>; \\.\COM<n> on Windows.
    static std::string DeviceName(int32_t APortNumber);

    // Opens ADeviceName for reading and writing, unshared, with input and
    // output queues of 32768 bytes where the system lets them be chosen.
    bool Open(const std::string& ADeviceName);
    // Drops output that could not leave and releases the port.
    void Close();
    bool IsOpen() const;

    bool ApplyLine(const TSerialLine& ALine);
    // The write limits of ATimeouts (the read limits are TCommManager's own
    // deadlines, so every read here returns at once).
    bool ApplyWriteLimits(const TCommTimeouts& ATimeouts);
    // Discards what was received and not read yet.
    bool PurgeInput();
    // Raises or drops DTR or RTS. A port without modem lines (a
    // pseudo-terminal, a virtual port) reports its failure like any other.
    bool SetDTR(bool AOn);
    bool SetRTS(bool AOn);

    // Bytes received and waiting; false when the system cannot tell.
    bool QueuedCount(uint32_t& ACount);
    // Waits until input is queued or ADeadline passes (null: without limit).
    TWait WaitInput(const TClock::time_point* ADeadline);
    // Up to ACount queued bytes appended to AOut, never waiting; false when
    // the read fails.
    bool ReadQueued(size_t ACount, std::string& AOut);
    // Writes ACount bytes within the write limits: the number written, or -1
    // when the system call failed.
    int64_t Write(const char* AData, size_t ACount, const TCommTimeouts& ATimeouts);

    // The system error code of the last failure (for SystemErrorText), and
    // the codes of the failures TCommManager describes itself.
    int LastError() const { return FError; }
    static int NotOpenError();
    static int LineGoneError();
    void SetLastError(int AError) { FError = AError; }

    // Takes over an open descriptor (Linux) or handle (Windows) as the
    // port: the fuzz targets hand it one end of a socket pair.
    void Adopt(intptr_t AHandle);

private:
    bool Fail(int AError);
    bool Fail();  // the calling thread's last system error

    intptr_t FHandle = -1;  // a descriptor or a HANDLE; -1 when closed on both
    int FError = 0;
    // Windows only: the byte a wait has read ahead, the write limits, and
    // the time limits of the next ReadFile.
    std::string FLookahead;
    uint32_t FWriteMultiplier = 0;
    uint32_t FWriteConstant = 0;
    bool SetReadLimits(uint32_t AInterval, uint32_t AConstant);
};

}  // namespace fr
