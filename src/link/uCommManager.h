// One serial port of the system: opened by number, with the line settings
// and the five time limits. The reads enforce the read limits with deadlines
// of their own, the same on every system; the port itself (TSerialPort,
// uSerialPort.h) is the system's. Operations report failure by their result
// and leave a readable text in ExtResultDescription; nothing here raises.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace fr {

enum TBaudRate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TParity : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TControlDtr : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TControlRts : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

struct TFlowControl {
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TControlDtr FControlDtr = dtrDisable;
    TControlRts FControlRts = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
};

// Milliseconds. A read of n bytes may last ReadTotalMultiplier * n +
// ReadTotalConstant in total and ends early after ReadInterval of silence
// between two bytes; zero means "no limit" for each. A write of n bytes may
// last WriteTotalMultiplier * n + WriteTotalConstant (both zero: no limit).
// ReadInterval = MAXDWORD with both read totals zero returns what is queued
// at once.
struct TCommTimeouts {
    uint32_t ReadInterval = 100;
    uint32_t ReadTotalMultiplier = 0;
    uint32_t ReadTotalConstant = 100;
    uint32_t WriteTotalMultiplier = 50;
    uint32_t WriteTotalConstant = 100;
};

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// Bits per second of a TBaudRate; 0 for a value outside the enumeration.
uint32_t BaudRateToInt(TBaudRate ABaudRate);

class TSerialPort;

class TCommManager {
public:
    TCommManager();
    virtual ~TCommManager();
    TCommManager(const TCommManager&) = delete;
    TCommManager& operator=(const TCommManager&) = delete;

    // Port n opens /dev/com<n> when that path exists, else /dev/ttyS<n-1>;
    // on Windows \\.\COM<n>.
    bool Open();
    bool Close();  // always true
    bool Purge(bool Abort);

    bool WriteChar(char Value);
    bool WriteStr(const std::string& Data, uint32_t SleepTime);
    // One byte, waiting up to Timeout ms for it to arrive.
    bool ReadChar(char& Ch, uint32_t Timeout);
    // One blocking read bounded by the time limits; Buff holds what arrived.
    bool ReadString(int32_t Count, std::string& Buff);

    // Properties.
    bool Opened() const;
    uint32_t BaudRateAsInt() const { return BaudRateToInt(FBaudRate); }
    // Only the speeds of TBaudRate; any other value leaves the speed as it is.
    void SetBaudRateAsInt(uint32_t AValue);
    int32_t PortNumber() const { return FPortNumber; }
    void SetPortNumber(int32_t AValue) { FPortNumber = AValue; }
    void SetTimeouts(const TCommTimeouts& AValue);
    const std::string& ExtResultDescription() const { return FExtResultDescription; }

    // Device path used instead of the port number when not empty (ports
    // without a /dev/com<n> link, pseudo-terminals of tests and tools; any
    // device name on Windows).
    void SetDevicePath(const std::string& AValue) { FDevicePath = AValue; }
    // The path Open uses for the current settings.
    std::string DeviceName() const;

protected:
    TBaudRate FBaudRate = br9600;
    int32_t FPortNumber = 1;
    TCommTimeouts FTimeouts;
    // The line settings Open applies: 8 data bits, no parity, one stop bit,
    // no flow control.
    TParity FParity = prNone;
    TFlowControl FFlowControl;
    uint8_t FDataBits = 8;
    TStopBits FStopBits = sbOneStopBit;
    std::string FExtResultDescription;
    std::string FDevicePath;

    // Takes over an open descriptor or handle as the port (fuzz targets).
    void AdoptHandle(intptr_t AHandle);

private:
    using TClock = std::chrono::steady_clock;

    void StoreLastError();  // the port's last system error
    void StoreError(int AError);
    bool EnsureOpen();
    uint32_t InQueueCount();
    bool OpenHandle();
    bool ApplyTimeouts();
    bool ApplyLineSettings();
    // Drops or raises DTR (dropped when the port closes).
    void SetCommDTR(bool Value);
    bool ReadByte(uint8_t& Value);
    bool ReadByte(uint8_t& Value, uint32_t Timeout);

    // Blocking read of up to ACount bytes bounded by the time limits. False
    // only when the system call fails (error kept in the port); fewer bytes is success.
    bool ReadBlocking(size_t ACount, std::string& AOut);
    // Writes bounded by the write limits; the number of bytes written, or -1
    // when the system call failed (error kept in the port).
    int64_t WriteBlocking(const char* AData, size_t ACount);
    // Waits until input is queued or ADeadline passes; false on expiry or
    // when the port reports an error or hang-up without data.
    bool WaitInput(TClock::time_point ADeadline);
    // Non-blocking read of up to ACount queued bytes appended to AOut;
    // false when the read call fails.
    bool ReadQueued(size_t ACount, std::string& AOut);

    std::unique_ptr<TSerialPort> FPort;
};

// The port with the defaults of the cash-register link: 115200 bits/s, a
// read of n bytes up to 1000 * n ms ending after 50 ms of silence, writes up
// to 500 ms.
class TComPort : public TCommManager {
public:
    TComPort();
};

}  // namespace fr
