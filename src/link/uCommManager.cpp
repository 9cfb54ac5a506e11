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
constexpr const char* kNotOpen = "Порт не открыт";
constexpr const char* kNoData = "Данные в буфере отсутствуют";
constexpr const char* kNoAnswer = "Устройство не отвечает";
constexpr const char* kReadFailed = "Ошибка при чтении данных из порта";
constexpr const char* kProtocolError = "Ошибка протокола обмена";

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
    if (FOverlappedMode) SetMask();
    return true;
}

bool TCommManager::Close() {
    if (!Opened()) return true;
    StopEventWaiting();
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

void TCommManager::SetCommRTS(bool Value) {
    if (!EnsureOpen()) return;
    if (!FPort->SetRTS(Value)) StoreLastError();
}

void TCommManager::SetMask() {
    FEventMask = FEvtChar != 0 ? 2 : 1;
}

void TCommManager::StopEventWaiting() {
    if (FOverlappedMode) FEventMask = 0;
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
    L.AbortOnError = FAbortOnError;
    L.EvtChar = FEvtChar;
    L.XonLimit = FXonLimit;
    L.XoffLimit = FXoffLimit;
    if (!FPort->ApplyLine(L)) {
        StoreLastError();
        return false;
    }

    int32_t Flags = 1;  // binary mode
    if (FParity != prNone) Flags |= 1 << 1;
    if (FFlowControl.FOutCtsFlow) Flags |= 1 << 2;
    if (FFlowControl.FOutDsrFlow) Flags |= 1 << 3;
    Flags |= (int32_t(FFlowControl.FControlDtr) & 3) << 4;
    if (FFlowControl.FXonXoffOut) Flags |= 1 << 8;
    if (FFlowControl.FXonXoffIn) Flags |= 1 << 9;
    Flags |= (int32_t(FFlowControl.FControlRts) & 3) << 12;
    if (FAbortOnError) Flags |= 1 << 14;
    FDCBFlags = Flags;
    return true;
}

void TCommManager::SetBaudRate(TBaudRate AValue) {
    if (AValue == FBaudRate) return;
    FBaudRate = AValue;
    if (Opened()) ApplyLineSettings();
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

bool TCommManager::WaitInputForever() {
    return FPort->WaitInput(nullptr) == TWait::Ready;
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

bool TCommManager::WriteByte(uint8_t Value) {
    if (!EnsureOpen()) return false;
    const char C = char(Value);
    const int64_t N = WriteBlocking(&C, 1);
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

bool TCommManager::WriteChar(char Value) {
    return WriteByte(uint8_t(Value));
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

bool TCommManager::WriteBytes(const uint8_t* Buff, uint32_t dwBuffSize) {
    if (!Opened()) {
        FExtResultDescription = kNotOpen;
        return false;
    }
    if (dwBuffSize == 0) return true;
    const int64_t N = WriteBlocking(reinterpret_cast<const char*>(Buff), dwBuffSize);
    if (N < 0) {
        StoreLastError();
        return false;
    }
    if (uint64_t(N) < dwBuffSize) {
        FExtResultDescription = kWriteFailed;
        return false;
    }
    return true;
}

bool TCommManager::WriteBytes(const std::vector<uint8_t>& Buff) {
    return WriteBytes(Buff.data(), uint32_t(Buff.size()));
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

bool TCommManager::ReadChar(char& Value) {
    uint8_t B = 0;
    const bool Ok = ReadByte(B);
    if (Ok) Value = char(B);
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

// --- the wider read interface ----------------------------------------------

int32_t TCommManager::iReadByte(uint8_t& Value) {
    if (ReadByte(Value)) return 0;
    FExtResultDescription = std::string(kReadFailed) + ". " + FExtResultDescription;
    return 1017;
}

bool TCommManager::ReadBytes(uint8_t* Buff, uint32_t dwBuffSize, uint32_t& dwRead, uint32_t Timeout,
                      uint32_t ANumberOfBytesToRead) {
    dwRead = 0;
    if (!Opened()) {
        FExtResultDescription = kNotOpen;
        return false;
    }
    // Overlapped mode waits for the communication event, 0 meaning without
    // limit; the blocking form polls the queue up to Timeout.
    const bool Forever = FOverlappedMode && Timeout == 0;
    if (InQueueCount() == 0) {
        const bool Arrived = Forever ? WaitInputForever() : WaitInput(TClock::now() + TickWait(Timeout));
        if (!Arrived) {
            FExtResultDescription = kNoData;
            return false;
        }
    }
    std::string S;
    bool Ok;
    if (ANumberOfBytesToRead == 0)
        Ok = ReadQueued(std::min(InQueueCount(), dwBuffSize), S);
    else
        Ok = ReadBlocking(std::min(ANumberOfBytesToRead, dwBuffSize), S);
    if (!Ok) {
        StoreLastError();
        return false;
    }
    if (S.empty()) {
        FExtResultDescription = kNoData;
        return false;
    }
    std::memcpy(Buff, S.data(), S.size());
    dwRead = uint32_t(S.size());
    return true;
}

bool TCommManager::ReadBytes(int32_t Count, std::string& Buff) {
    Buff.clear();
    if (Count <= 0) return true;
    if (!ReadBlocking(size_t(Count), Buff)) {
        StoreLastError();
        return false;
    }
    if (Buff.size() < size_t(Count)) {
        FExtResultDescription = kProtocolError;
        return false;
    }
    return true;
}

bool TCommManager::ReadBytes(std::vector<uint8_t>& ABuff, int32_t ACount) {
    ABuff.assign(size_t(std::max(ACount, 0)), 0);
    if (ACount <= 0) return true;
    std::string S;
    if (!ReadBlocking(size_t(ACount), S)) {
        StoreLastError();
        return false;
    }
    std::copy(S.begin(), S.end(), ABuff.begin());
    if (S.empty()) {
        FExtResultDescription = kNoAnswer;
        return false;
    }
    if (S.size() < size_t(ACount)) {
        FExtResultDescription = kProtocolError;
        return false;
    }
    return true;
}

bool TCommManager::ReadChar(char16_t& Value, uint32_t Timeout) {
    uint8_t B = 0;
    do {
        if (!ReadByte(B, Timeout)) return false;
    } while ((B & 0xC0) == 0x80);
    const int Extra = B < 0x80 ? 0 : (B & 0xE0) == 0xC0 ? 1 : (B & 0xF0) == 0xE0 ? 2 : (B & 0xF8) == 0xF0 ? 3 : 0;
    std::string S(1, char(B));
    for (int I = 0; I < Extra; ++I) {
        if (!ReadByte(B, Timeout)) return false;
        S += char(B);
    }
    const std::u16string U = Utf8ToUtf16(S);
    Value = U.empty() ? char16_t(0xFFFD) : U[0];
    return true;
}

bool TCommManager::ReadText(std::string& Buff, uint32_t Timeout) {
    std::u16string U;
    char16_t C = 0;
    while (ReadChar(C, Timeout)) {
        U += C;
        if (C == 10) break;
    }
    Buff = Utf16ToUtf8(U);
    return !U.empty();
}

bool TCommManager::ReadString(std::string& Buff, uint32_t Timeout) {
    Buff.clear();
    if (!Opened()) {
        FExtResultDescription = kNotOpen;
        return false;
    }
    if (FOverlappedMode && InQueueCount() == 0) WaitInput(TClock::now() + Ms(Timeout));
    if (!ReadQueued(InQueueCount(), Buff)) {
        StoreLastError();
        return false;
    }
    if (Buff.empty()) {
        FExtResultDescription = kNoData;
        return false;
    }
    return true;
}

int32_t TCommManager::ReadStr(int32_t Count, std::string& Data, bool ControlLength) {
    Data.clear();
    if (Count <= 0) return 0;
    if (!ReadBlocking(size_t(Count), Data)) {
        StoreLastError();
        return 1001;
    }
    return (ControlLength && Data.size() < size_t(Count)) ? 1001 : 0;
}

int32_t TCommManager::ReadStr(std::string& Data, const std::string& EndSymb, uint32_t Timeout) {
    Data.clear();
    if (!Opened()) {
        StoreError(TSerialPort::NotOpenError());
        return 1007;
    }
    const auto Deadline = TClock::now() + Ms(Timeout);
    for (;;) {
        const size_t Before = Data.size();
        if (!ReadQueued(std::min<uint32_t>(InQueueCount(), 255), Data)) break;
        if (Data.size() > Before) {
            const size_t P = Data.find(EndSymb);
            if (P != std::string::npos && P + EndSymb.size() == Data.size()) return 0;
        }
        if (TClock::now() > Deadline || !WaitInput(Deadline)) break;
    }
    return Data.empty() ? 1007 : 1014;
}

int32_t TCommManager::ReadStr(int32_t Count, std::string& Data, const std::string& EndSymb) {
    FEndSymbol = EndSymb;
    return ReadStr(Count, Data, false);
}

int32_t TCommManager::ReadStr(std::string& Data, uint32_t Timeout) {
    Data.clear();
    if (!Opened()) {
        StoreError(TSerialPort::NotOpenError());
        return 1007;
    }
    const auto Deadline = TClock::now() + Ms(Timeout);
    do {
        if (InQueueCount() > 0) {
            if (!ReadQueued(std::min<uint32_t>(InQueueCount(), 255), Data)) break;
            if (!Data.empty()) return 0;
        }
    } while (WaitInput(Deadline));
    return 1007;
}

int32_t TCommManager::RunCmd(const std::string& InData, std::string& OutData, int32_t MaxLen, uint32_t Timeout,
                      int32_t CountAfterEnd) {
    OutData.clear();
    if (!WriteStr(InData, 0)) return 1007;
    const auto Deadline = TClock::now() + Ms(Timeout);
    for (;;) {
        if (MaxLen > 0 && InQueueCount() > 0) {
            std::string Chunk;
            ReadStr(MaxLen, Chunk, false);
            if (!Chunk.empty()) {
                OutData += Chunk;
                if (!FEndSymbol.empty()) {
                    if (CountAfterEnd == 0 && Chunk.find(FEndSymbol) != std::string::npos) break;
                    const size_t P = OutData.find(FEndSymbol);
                    if (P != std::string::npos &&
                        P + FEndSymbol.size() + size_t(std::max(CountAfterEnd, 0)) == OutData.size())
                        break;
                }
            }
        }
        if (TClock::now() > Deadline) break;
        if (MaxLen > 0) {
            if (!WaitInput(Deadline)) break;
        } else {
            // Nothing is ever read; the call just lasts its time limit.
            std::this_thread::sleep_until(Deadline);
        }
    }
    return (MaxLen == 0 || !OutData.empty()) ? 0 : 1007;
}

int32_t TCommManager::RunCmd(const std::string& InData, std::string& OutData, const std::string& EndSymb, int32_t MaxLen,
                      uint32_t Timeout, int32_t CountAfterEnd) {
    FEndSymbol = EndSymb;
    const int32_t R = RunCmd(InData, OutData, MaxLen, Timeout, CountAfterEnd);
    if (R == 0 && OutData.find(EndSymb) == std::string::npos) return 1014;
    return R;
}

int32_t TCommManager::SendCmd(const std::string& Data) {
    return WriteStr(Data, 0) ? 0 : 1001;
}

// --- TComPort --------------------------------------------------------------

TComPort::TComPort() {
    FBaudRate = br115200;
    FTimeouts = TCommTimeouts{50, 1000, 0, 0, 500};
}

}  // namespace fr
