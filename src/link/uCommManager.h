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
#include <vector>

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
    void SetCommDTR(bool Value);
    void SetCommRTS(bool Value);
    void SetMask();
    void StopEventWaiting();

    bool WriteByte(uint8_t Value);
    bool WriteChar(char Value);
    bool WriteStr(const std::string& Data, uint32_t SleepTime);
    bool WriteBytes(const uint8_t* Buff, uint32_t dwBuffSize);
    bool WriteBytes(const std::vector<uint8_t>& Buff);

    bool ReadByte(uint8_t& Value);
    bool ReadByte(uint8_t& Value, uint32_t Timeout);
    bool ReadChar(char& Ch, uint32_t Timeout);
    bool ReadChar(char& Value);
    // One blocking read bounded by the time limits; Buff holds what arrived.
    bool ReadString(int32_t Count, std::string& Buff);

    // Wider read interface of the port (not used by the framings).
    int32_t iReadByte(uint8_t& Value);
    bool ReadBytes(uint8_t* Buff, uint32_t dwBuffSize, uint32_t& dwRead, uint32_t Timeout,
                   uint32_t ANumberOfBytesToRead);
    bool ReadBytes(int32_t Count, std::string& Buff);
    bool ReadBytes(std::vector<uint8_t>& ABuff, int32_t ACount);
    // One UTF-16 unit of UTF-8 input (the first unit of the decoded character).
    bool ReadChar(char16_t& Value, uint32_t Timeout);
    // Characters up to and including a line feed, as UTF-8.
    bool ReadText(std::string& Buff, uint32_t Timeout);
    // All queued bytes (waiting up to Timeout for an event in overlapped mode).
    bool ReadString(std::string& Buff, uint32_t Timeout);
    int32_t ReadStr(int32_t Count, std::string& Data, bool ControlLength);
    int32_t ReadStr(std::string& Data, const std::string& EndSymb, uint32_t Timeout);
    int32_t ReadStr(int32_t Count, std::string& Data, const std::string& EndSymb);
    int32_t ReadStr(int32_t Count, std::string& Data, const char* EndSymb) {
        return ReadStr(Count, Data, std::string(EndSymb));
    }
    int32_t ReadStr(std::string& Data, uint32_t Timeout);
    int32_t RunCmd(const std::string& InData, std::string& OutData, int32_t MaxLen, uint32_t Timeout,
                   int32_t CountAfterEnd);
    int32_t RunCmd(const std::string& InData, std::string& OutData, const std::string& EndSymb, int32_t MaxLen,
                   uint32_t Timeout, int32_t CountAfterEnd);
    int32_t SendCmd(const std::string& Data);

    // Properties.
    bool Opened() const;
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate AValue);
    uint32_t BaudRateAsInt() const { return BaudRateToInt(FBaudRate); }
    void SetBaudRateAsInt(uint32_t AValue);
    int32_t PortNumber() const { return FPortNumber; }
    void SetPortNumber(int32_t AValue) { FPortNumber = AValue; }
    const TCommTimeouts& Timeouts() const { return FTimeouts; }
    void SetTimeouts(const TCommTimeouts& AValue);
    const std::string& ExtResultDescription() const { return FExtResultDescription; }
    TParity Parity() const { return FParity; }
    void SetParity(TParity AValue) { FParity = AValue; }
    const TFlowControl& FlowControl() const { return FFlowControl; }
    void SetFlowControl(const TFlowControl& AValue) { FFlowControl = AValue; }
    uint8_t DataBits() const { return FDataBits; }
    void SetDataBits(uint8_t AValue) { FDataBits = AValue; }
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits AValue) { FStopBits = AValue; }
    const std::string& EndSymbol() const { return FEndSymbol; }
    void SetEndSymbol(const std::string& AValue) { FEndSymbol = AValue; }
    bool OverlappedMode() const { return FOverlappedMode; }
    void SetOverlappedMode(bool AValue) { FOverlappedMode = AValue; }
    char EvtChar() const { return FEvtChar; }
    void SetEvtChar(char AValue) { FEvtChar = AValue; }
    bool AbortOnError() const { return FAbortOnError; }
    void SetAbortOnError(bool AValue) { FAbortOnError = AValue; }
    uint16_t XonLimit() const { return FXonLimit; }
    void SetXonLimit(uint16_t AValue) { FXonLimit = AValue; }
    uint16_t XoffLimit() const { return FXoffLimit; }
    void SetXoffLimit(uint16_t AValue) { FXoffLimit = AValue; }
    uint8_t ReadAfterEndSymbol() const { return FReadAfterEndSymbol; }
    void SetReadAfterEndSymbol(uint8_t AValue) { FReadAfterEndSymbol = AValue; }

    // The Windows line-settings flag word last built for the port
    // (binary mode, parity check, CTS/DSR flow, DTR, XON/XOFF, RTS, abort).
    int32_t DCBFlags() const { return FDCBFlags; }
    // Event mask last set by SetMask (1 any character, 2 the event character).
    uint32_t EventMask() const { return FEventMask; }
    // Device path used instead of the port number when not empty (ports
    // without a /dev/com<n> link, pseudo-terminals of tests and tools; any
    // device name on Windows).
    const std::string& DevicePath() const { return FDevicePath; }
    void SetDevicePath(const std::string& AValue) { FDevicePath = AValue; }
    // The path Open uses for the current settings.
    std::string DeviceName() const;

protected:
    char FEvtChar = 0;
    uint16_t FXonLimit = 256;
    uint16_t FXoffLimit = 256;
    bool FOverlappedMode = false;
    TBaudRate FBaudRate = br9600;
    int32_t FPortNumber = 1;
    TCommTimeouts FTimeouts;
    TParity FParity = prNone;
    TFlowControl FFlowControl;
    bool FAbortOnError = false;
    uint8_t FDataBits = 8;
    TStopBits FStopBits = sbOneStopBit;
    std::string FEndSymbol;
    uint8_t FReadAfterEndSymbol = 0;
    std::string FExtResultDescription;
    int32_t FDCBFlags = 1;
    uint32_t FEventMask = 0;
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

    // Blocking read of up to ACount bytes bounded by the time limits. False
    // only when the system call fails (error kept in the port); fewer bytes
    // is success.
    bool ReadBlocking(size_t ACount, std::string& AOut);
    // Writes bounded by the write limits; the number of bytes written, or -1
    // when the system call failed (error kept in the port).
    int64_t WriteBlocking(const char* AData, size_t ACount);
    // Waits until input is queued or ADeadline passes; false on expiry or
    // when the port reports an error or hang-up without data.
    bool WaitInput(TClock::time_point ADeadline);
    bool WaitInputForever();
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
