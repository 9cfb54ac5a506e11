// The emulator for test programs that cannot host it (the Windows tests run
// under Wine, while the emulator needs Linux pseudo-terminals): the calls of
// emulator/uEmulator.h and of its TEmuDevice that the tests make, with the
// same names and value types, each sent over the control channel of a
// kkt-emulator started with --control (emulator/client/with-emulator starts
// it and names its port in FR_EMULATOR_CONTROL). Each TEmulator is one
// connection and one device of its own; the device stops when it is
// destroyed. A call the emulator refuses throws std::runtime_error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "uEmuTape.h"
#include "uEmuTypes.h"

namespace fr {

class TEmuChannel;

class TEmuDevice {
public:
    explicit TEmuDevice(TEmuChannel& AChannel) : FChannel(AChannel) {}
    TEmuDevice(const TEmuDevice&) = delete;
    TEmuDevice& operator=(const TEmuDevice&) = delete;

    std::string Execute(std::string_view APayload, int AForcedResult = -1);

    // ---- inspection -------------------------------------------------------
    std::vector<std::string> Commands() const;
    void ClearCommands();
    TEmuTape Tape() const;
    void ClearTape();
    uint8_t Mode() const;
    uint8_t Submode() const;
    bool ShiftOpen() const;
    uint16_t ShiftNumber() const;
    bool ReceiptOpen() const;
    bool Fiscalised() const;
    uint8_t FNLifeState() const;
    uint64_t CashRegister(uint16_t ANumber) const;
    uint32_t OperationRegister(uint8_t ANumber) const;
    std::vector<TEmuDocument> Documents() const;
    uint32_t LastDocumentNumber() const;
    std::string TableField(uint8_t ATable, uint16_t ARow, uint8_t AField) const;
    int64_t Clock() const;

    // ---- test controls and faults -------------------------------------------
    void FailCommand(uint16_t ACode, int AOccurrence, uint8_t AResult);
    void SetPaperOut(int APollsUntilReload = -1);
    void LoadPaper();
    void SetClock(int64_t ALocalTime);
    void AgeShift(int64_t ASeconds);
    void SetFNWarningFlags(uint8_t AFlags);
    void MarkDocumentsSent();
    void SetMarkingCodeInvalid(const std::string& ACode);
    void SetMarkingAnswer(TEmuMarkAnswer AAnswer, const std::string& ACode = {});
    void SetMarkingBusy(int AAttempts);
    TEmuMarkState MarkingCodeState(const std::string& ACode) const;
    void SetTableField(uint8_t ATable, uint16_t ARow, uint8_t AField, std::string_view AValue);
    void SetArithmeticChecks(bool AOn);

private:
    friend class TEmulator;  // shares the readers of answers
    std::vector<std::string> Call(const std::string& ARequest) const;
    int64_t Number(const std::string& ARequest) const;

    TEmuChannel& FChannel;
};

class TEmulator {
public:
    explicit TEmulator(TEmuConfig AConfig = {});
    ~TEmulator();
    TEmulator(const TEmulator&) = delete;
    TEmulator& operator=(const TEmulator&) = delete;

    TEmuDevice& Device() { return *FDevice; }

    uint16_t StartTCP(uint16_t APort = 0, const std::string& AAddress = "127.0.0.1");
    // Returns the name under which this program opens the line: the
    // terminal's path on Linux, \\.\COM<n> on Windows. Without a port number
    // a Windows program gets a free one. An empty ALinkDir: the folder the
    // emulator program was given with --link-dir (/dev when none).
    std::string StartSerial(int APortNumber = 0, const std::string& ALinkDir = {});
    void Stop();

    uint16_t TCPPort() const { return FTCPPort; }
    const std::string& SerialPath() const { return FSerialPath; }
    // The link the emulator made, as a path on the emulator's machine.
    const std::string& SerialLink() const { return FSerialLink; }

    void NakNextFrames(int N = 1);
    void CorruptNextAnswers(int N = 1);
    void TruncateNextAnswers(int N = 1);
    void SilenceNext(int N = 1);
    void DropNextConnection(int N = 1);
    void SetAnswerDelay(int AMs);
    void FaultAtCommand(int AK, TEmuFault AKind, uint8_t ADeviceResult = 0);
    void ClearFaultsAtCommand();
    uint64_t CommandFrameCount() const;
    uint64_t BytesReceived() const;
    uint64_t BytesSent() const;
    void Restart();

private:
    std::unique_ptr<TEmuChannel> FChannel;
    std::unique_ptr<TEmuDevice> FDevice;
    uint16_t FTCPPort = 0;
    std::string FSerialPath, FSerialLink;
};

}  // namespace fr
