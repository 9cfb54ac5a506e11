// The emulator as a running device: one TEmuDevice served on loopback TCP
// and/or a pseudo-terminal by background threads. Tests start it in their
// own process, point the driver at it, then read the device's state, its
// command record and its tape, and set faults.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "uEmuDevice.h"

namespace fr {

class TEmulator {
public:
    explicit TEmulator(TEmuConfig AConfig = {});
    ~TEmulator();
    TEmulator(const TEmulator&) = delete;
    TEmulator& operator=(const TEmulator&) = delete;

    TEmuDevice& Device() { return *FDevice; }

    // Listens on AAddress:APort (port 0: any free port) and returns the port.
    // One client is served at a time; a new connection replaces the old one.
    // Throws std::runtime_error when the address cannot be bound.
    uint16_t StartTCP(uint16_t APort = 0, const std::string& AAddress = "127.0.0.1");
    // Opens a pseudo-terminal and returns the path of its terminal side. With
    // APortNumber > 0 it is also linked as ALinkDir/com<n> (an existing
    // symbolic link there is replaced; any other file makes it throw).
    std::string StartSerial(int APortNumber = 0, const std::string& ALinkDir = "/dev");
    void Stop();

    uint16_t TCPPort() const { return FTCPPort; }
    const std::string& SerialPath() const { return FSerialPath; }
    const std::string& SerialLink() const { return FSerialLink; }

    // Link faults, each for the next n occurrences.
    void NakNextFrames(int N = 1);
    void CorruptNextAnswers(int N = 1);
    void TruncateNextAnswers(int N = 1);
    void SilenceNext(int N = 1);         // ENQs or frames that get no reply at all
    void DropNextConnection(int N = 1);  // TCP: close instead of answering
    void SetAnswerDelay(int AMs);

    // Strikes the AK-th complete command frame counted from now (1 = the
    // next one) with AKind; ADeviceResult is the result code of
    // TEmuFault::DeviceError. Frames resent by the driver count too. Several
    // faults may wait at once, one per frame.
    void FaultAtCommand(int AK, TEmuFault AKind, uint8_t ADeviceResult = 0);
    // Drops the faults of FaultAtCommand that have not struck yet.
    void ClearFaultsAtCommand();
    // Complete command frames received so far on both transports (good or
    // not, faulted or not): the difference over an operation is how many
    // frames it took, the range of AK for a sweep.
    uint64_t CommandFrameCount() const;
    // Bytes the link has received from the driver and sent to it so far,
    // both transports together.
    uint64_t BytesReceived() const;
    uint64_t BytesSent() const;
    // A power cut: the link forgets an unacknowledged answer and any frame
    // half received (bytes still in the terminal's input are lost), a TCP
    // connection is closed. The device's state (shift, open receipt,
    // documents, registers, tape) is kept.
    void Restart();

private:
    void TCPLoop();
    void SerialLoop();

    std::unique_ptr<TEmuDevice> FDevice;
    int FStopFd = -1;
    int FTCPWakeFd = -1;  // wake the link sessions after a power cut
    int FSerialWakeFd = -1;
    int FListenFd = -1;
    int FMasterFd = -1;
    int FSlaveFd = -1;  // kept open so the terminal survives the driver closing it
    uint16_t FTCPPort = 0;
    std::string FSerialPath, FSerialLink;
    std::thread FTCPThread, FSerialThread;
};

}  // namespace fr
