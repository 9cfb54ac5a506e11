#include "link/uCommManager.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "base/uStrings.h"
#include "base/uSystem.h"
#include "link/uSerialPort.h"

namespace fr {

namespace {

constexpr const char* kWriteFailed = "Не удалось записать данные в порт";
constexpr const char* kNoAnswer = "Устройство не отвечает";
constexpr const char* kReadFailed = "Ошибка при чтении данных из порта";

constexpr uint32_t kSpeeds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

std::chrono::milliseconds Ms(uint64_t AValue) {
    return std::chrono::milliseconds(AValue);
}

// Short waits for ReadByte(Value, Timeout): a zero timeout still waits for
// the next millisecond, as the tick-counter loop does.
std::chrono::milliseconds TickWait(uint32_t ATimeout) {
    return Ms(ATimeout == 0 ? 1 : ATimeout);
}

using TWait = TSerialPort::TWait;

}  // namespace

uint32_t BaudRateToInt(TBaudRate ABaudRate) {
    const auto I = size_t(ABaudRate);
    return I < std::size(kSpeeds) ? kSpeeds[I] : 0;
}

// --- TCommManager -----------------------------------------------------------------

TCommManager::TCommManager() : FPort(std::make_unique<TSerialPort>()) {}

TCommManager::~TCommManager() {
    Close();
}

void TCommManager::StoreError(int AError) {
    FExtResultDescription = SystemErrorText(AError);
}

void TCommManager::StoreLastError() {
    StoreError(FPort->LastError());
}

bool TCommManager::Opened() const {
    return FPort->IsOpen();
}

void TCommManager::AdoptHandle(intptr_t AHandle) {
    FPort->Adopt(AHandle);
}

bool TCommManager::EnsureOpen() {
    return Opened() || Open();
}

uint32_t TCommManager::InQueueCount() {
    uint32_t N = 0;
    if (!FPort->QueuedCount(N)) {
        StoreLastError();
        return 0;
    }
    return N;
}

std::string TCommManager::DeviceName() const {
    if (!FDevicePath.empty()) return FDevicePath;
    return TSerialPort::DeviceName(FPortNumber);
}

bool TCommManager::OpenHandle() {
    return FPort->Open(DeviceName());
}

bool TCommManager::Open() {
    if (Opened()) return true;
    const bool Ok = OpenHandle() && Purge(true) && ApplyLineSettings() && ApplyTimeouts();
    if (!Ok) {
        const int E = FPort->LastError();
        // A port that could not be set up is released, so that Opened stays
        // false and no later call works on a half-configured line.
        FPort->Close();
        StoreError(E);
        return false;
    }
    return true;
}

bool TCommManager::Close() {
    if (!Opened()) return true;
    SetCommDTR(false);
    Purge(true);
    FPort->Close();
    return true;
}

bool TCommManager::Purge(bool Abort) {
    (void)Abort;  // nothing is ever pending between calls: all I/O is synchronous
    if (!EnsureOpen()) return false;
    // Only received input is discarded. Output handed to the port is still
    // on its way (the kernel sends it asynchronously); dropping it would lose
    // the acknowledgement written just before the next enquiry's purge.
    if (!FPort->PurgeInput()) {
        StoreLastError();
        return false;
    }
    return true;
}

// A port without modem lines (a pseudo-terminal, some virtual ports) refuses
// these: the refusal is recorded like any failed call, and nothing else
// depends on the lines.
void TCommManager::SetCommDTR(bool Value) {
    if (!EnsureOpen()) return;
    if (!FPort->SetDTR(Value)) StoreLastError();
}

bool TCommManager::ApplyTimeouts() {
    // The read limits are deadlines of the reads below; the port gets the
    // write limits.
    if (!EnsureOpen()) return false;
    if (!FPort->ApplyWriteLimits(FTimeouts)) {
        StoreLastError();
        return false;
    }
    return true;
}

bool TCommManager::ApplyLineSettings() {
    if (!Opened()) return true;
    TSerialLine L;
    L.BaudRate = BaudRateToInt(FBaudRate);
    L.DataBits = FDataBits;
    L.Parity = FParity;
    L.StopBits = FStopBits;
    L.FlowControl = FFlowControl;
    if (!FPort->ApplyLine(L)) {
        StoreLastError();
        return false;
    }
    return true;
}

void TCommManager::SetBaudRateAsInt(uint32_t AValue) {
    for (size_t I = 0; I < std::size(kSpeeds); ++I)
        if (kSpeeds[I] == AValue) FBaudRate = TBaudRate(I);
}

void TCommManager::SetTimeouts(const TCommTimeouts& AValue) {
    FTimeouts = AValue;
    ApplyTimeouts();
}

// --- waiting, reading and writing ------------------------------------------

bool TCommManager::WaitInput(TClock::time_point ADeadline) {
    return FPort->WaitInput(&ADeadline) == TWait::Ready;
}

bool TCommManager::ReadQueued(size_t ACount, std::string& AOut) {
    return FPort->ReadQueued(ACount, AOut);
}

bool TCommManager::ReadBlocking(size_t ACount, std::string& AOut) {
    if (!Opened()) {
        FPort->SetLastError(TSerialPort::NotOpenError());
        return false;
    }
    if (ACount == 0) return true;
    const TCommTimeouts& T = FTimeouts;
    const auto Start = TClock::now();
    // Interval MAXDWORD without totals: whatever is queued, at once.
    if (T.ReadInterval == MAXDWORD && T.ReadTotalMultiplier == 0 && T.ReadTotalConstant == 0)
        return ReadQueued(ACount, AOut);
    // Interval and multiplier MAXDWORD: wait up to the constant for the first
    // byte, then return what is there.
    const bool FirstByteOnly = T.ReadInterval == MAXDWORD && T.ReadTotalMultiplier == MAXDWORD &&
                               T.ReadTotalConstant != 0 && T.ReadTotalConstant != MAXDWORD;
    const bool HasTotal = T.ReadTotalMultiplier != 0 || T.ReadTotalConstant != 0;
    const TClock::time_point Total = FirstByteOnly
                                         ? Start + Ms(T.ReadTotalConstant)
                                         : Start + Ms(uint64_t(T.ReadTotalMultiplier) * ACount + T.ReadTotalConstant);
    const bool HasInterval = T.ReadInterval != 0 && !FirstByteOnly;

    size_t Got = 0;
    TClock::time_point LastByte{};
    while (Got < ACount) {
        bool Limited = HasTotal;
        TClock::time_point Deadline = Total;
        if (Got > 0 && HasInterval) {
            const auto Gap = LastByte + Ms(T.ReadInterval);
            Deadline = Limited ? std::min(Deadline, Gap) : Gap;
            Limited = true;
        }
        const TWait W = FPort->WaitInput(Limited ? &Deadline : nullptr);
        if (W == TWait::Expired) return true;
        if (W == TWait::Failed) return false;
        const size_t Before = AOut.size();
        if (!ReadQueued(ACount - Got, AOut)) return false;
        const size_t N = AOut.size() - Before;
        if (N == 0) {
            // Readable but nothing to read: end of file on a hung-up line.
            FPort->SetLastError(TSerialPort::LineGoneError());
            return false;
        }
        Got += N;
        LastByte = TClock::now();
        if (FirstByteOnly) return true;
    }
    return true;
}

int64_t TCommManager::WriteBlocking(const char* AData, size_t ACount) {
    return FPort->Write(AData, ACount, FTimeouts);
}

bool TCommManager::WriteChar(char Value) {
    if (!EnsureOpen()) return false;
    const int64_t N = WriteBlocking(&Value, 1);
    if (N < 0) {
        StoreLastError();
        return false;
    }
    if (N < 1) {
        FExtResultDescription = kWriteFailed;
        return false;
    }
    return true;
}

bool TCommManager::WriteStr(const std::string& Data, uint32_t SleepTime) {
    if (Data.empty()) return true;
    if (!EnsureOpen()) return false;
    const int64_t N = WriteBlocking(Data.data(), Data.size());
    if (N < 0) {
        StoreLastError();
        return false;
    }
    if (size_t(N) < Data.size()) {
        FExtResultDescription = kWriteFailed;
        return false;
    }
    if (SleepTime > 0) std::this_thread::sleep_for(Ms(SleepTime));
    return true;
}

bool TCommManager::ReadByte(uint8_t& Value) {
    std::string S;
    if (!ReadBlocking(1, S)) {
        StoreLastError();
        return false;
    }
    if (S.empty()) {
        FExtResultDescription = kNoAnswer;
        return false;
    }
    Value = uint8_t(S[0]);
    return true;
}

bool TCommManager::ReadByte(uint8_t& Value, uint32_t Timeout) {
    if (!Opened()) {
        StoreError(TSerialPort::NotOpenError());
        return false;
    }
    const auto Deadline = TClock::now() + TickWait(Timeout);
    if (InQueueCount() == 0 && !WaitInput(Deadline)) {
        FExtResultDescription = kReadFailed;
        return false;
    }
    return ReadByte(Value);
}

bool TCommManager::ReadChar(char& Ch, uint32_t Timeout) {
    uint8_t B = 0;
    const bool Ok = ReadByte(B, Timeout);
    if (Ok) Ch = char(B);
    return Ok;
}

bool TCommManager::ReadString(int32_t Count, std::string& Buff) {
    Buff.clear();
    if (Count <= 0) return true;
    if (!ReadBlocking(size_t(Count), Buff)) {
        StoreLastError();
        return false;
    }
    return true;
}

// --- TComPort --------------------------------------------------------------

TComPort::TComPort() {
    FBaudRate = br115200;
    FTimeouts = TCommTimeouts{50, 1000, 0, 0, 500};
}

}  // namespace fr
