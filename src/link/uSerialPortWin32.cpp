#include "link/uSerialPort.h"

#include <windows.h>

#include <algorithm>

#include "base/uStrings.h"

namespace fr {

// Waits and reads both go through ReadFile with time limits that Windows
// and Wine honour alike: a wait is a read of one byte bounded by a total
// limit only (the byte is kept until the next read), a read of what is
// queued has the read interval MAXDWORD and no totals. Neither needs
// WaitCommEvent (which Wine signals without data on a pseudo-terminal) nor
// the MAXDWORD/MAXDWORD/n form (which Wine serves by waiting the whole n).

namespace {

HANDLE Handle(intptr_t AHandle) {
    return reinterpret_cast<HANDLE>(AHandle);
}

constexpr intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE

}  // namespace

TSerialPort::~TSerialPort() {
    Close();
}

std::string TSerialPort::DeviceName(int32_t APortNumber) {
    // The device-namespace form works for every number, COM10 and above too.
    return "\\\\.\\COM" + std::to_string(APortNumber);
}

int TSerialPort::NotOpenError() {
    return ERROR_INVALID_HANDLE;
}
int TSerialPort::LineGoneError() {
    return ERROR_OPERATION_ABORTED;
}

bool TSerialPort::Fail(int AError) {
    FError = AError;
    return false;
}

bool TSerialPort::Fail() {
    return Fail(int(GetLastError()));
}

bool TSerialPort::IsOpen() const {
    return FHandle != kClosed;
}

void TSerialPort::Adopt(intptr_t AHandle) {
    Close();
    FHandle = AHandle;
}

bool TSerialPort::Open(const std::string& ADeviceName) {
    const std::u16string Name = Utf8ToUtf16(ADeviceName);
    std::wstring W(Name.begin(), Name.end());
    const HANDLE H = CreateFileW(W.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (H == INVALID_HANDLE_VALUE) return Fail();
    FHandle = reinterpret_cast<intptr_t>(H);
    FLookahead.clear();
    // The queue sizes are a recommendation the driver may ignore; a driver
    // that does not take one keeps its own.
    if (!SetupComm(H, 32768, 32768) && GetLastError() != ERROR_NOT_SUPPORTED) return Fail();
    return true;
}

void TSerialPort::Close() {
    if (FHandle == kClosed) return;
    // Nothing must hold up the close: output that could not leave is dropped.
    PurgeComm(Handle(FHandle), PURGE_TXABORT | PURGE_TXCLEAR);
    CloseHandle(Handle(FHandle));
    FHandle = kClosed;
    FLookahead.clear();
}

bool TSerialPort::PurgeInput() {
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    FLookahead.clear();
    // Only received input is discarded: output handed to the port may still
    // be on its way (the acknowledgement written just before an enquiry).
    return PurgeComm(Handle(FHandle), PURGE_RXABORT | PURGE_RXCLEAR) || Fail();
}

bool TSerialPort::SetDTR(bool AOn) {
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    return EscapeCommFunction(Handle(FHandle), AOn ? SETDTR : CLRDTR) || Fail();
}

bool TSerialPort::SetRTS(bool AOn) {
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    return EscapeCommFunction(Handle(FHandle), AOn ? SETRTS : CLRRTS) || Fail();
}

bool TSerialPort::ApplyLine(const TSerialLine& ALine) {
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    DCB D{};
    D.DCBlength = sizeof D;
    if (!GetCommState(Handle(FHandle), &D)) return Fail();
    D.DCBlength = sizeof D;
    D.XonChar = 0x11;
    D.XoffChar = 0x13;
    D.XonLim = ALine.XonLimit;
    D.XoffLim = ALine.XoffLimit;
    D.BaudRate = ALine.BaudRate;
    D.ByteSize = ALine.DataBits;
    D.Parity = BYTE(ALine.Parity);
    D.StopBits = BYTE(ALine.StopBits);
    D.EvtChar = ALine.EvtChar;
    const TFlowControl& F = ALine.FlowControl;
    D.fBinary = 1;
    D.fParity = ALine.Parity != prNone;
    D.fOutxCtsFlow = F.FOutCtsFlow;
    D.fOutxDsrFlow = F.FOutDsrFlow;
    D.fDtrControl = DWORD(F.FControlDtr) & 3;
    D.fDsrSensitivity = 0;
    D.fTXContinueOnXoff = 0;
    D.fOutX = F.FXonXoffOut;
    D.fInX = F.FXonXoffIn;
    D.fErrorChar = 0;
    D.fNull = 0;
    D.fRtsControl = DWORD(F.FControlRts) & 3;
    D.fAbortOnError = ALine.AbortOnError;
    return SetCommState(Handle(FHandle), &D) || Fail();
}

bool TSerialPort::SetReadLimits(uint32_t AInterval, uint32_t AConstant) {
    COMMTIMEOUTS T{};
    T.ReadIntervalTimeout = AInterval;
    T.ReadTotalTimeoutMultiplier = 0;
    T.ReadTotalTimeoutConstant = AConstant;
    T.WriteTotalTimeoutMultiplier = FWriteMultiplier;
    T.WriteTotalTimeoutConstant = FWriteConstant;
    return SetCommTimeouts(Handle(FHandle), &T) || Fail();
}

bool TSerialPort::ApplyWriteLimits(const TCommTimeouts& ATimeouts) {
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    FWriteMultiplier = ATimeouts.WriteTotalMultiplier;
    FWriteConstant = ATimeouts.WriteTotalConstant;
    return SetReadLimits(MAXDWORD, 0);
}

bool TSerialPort::QueuedCount(uint32_t& ACount) {
    ACount = 0;
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    DWORD Errors = 0;
    COMSTAT Stat{};
    if (!ClearCommError(Handle(FHandle), &Errors, &Stat)) return Fail();
    ACount = uint32_t(Stat.cbInQue + FLookahead.size());
    return true;
}

TSerialPort::TWait TSerialPort::WaitInput(const TClock::time_point* ADeadline) {
    if (FHandle == kClosed) {
        Fail(ERROR_INVALID_HANDLE);
        return TWait::Failed;
    }
    if (!FLookahead.empty()) return TWait::Ready;
    uint32_t Queued = 0;
    if (!QueuedCount(Queued)) return TWait::Failed;
    if (Queued > 0) return TWait::Ready;
    for (;;) {
        DWORD Limit = 0;  // no total limit: wait for the byte without end
        if (ADeadline) {
            const auto Left = std::chrono::ceil<std::chrono::milliseconds>(*ADeadline - TClock::now()).count();
            if (Left <= 0) return TWait::Expired;
            Limit = DWORD(std::min<int64_t>(Left, MAXDWORD - 1));
        }
        if (!SetReadLimits(0, Limit)) return TWait::Failed;
        char B = 0;
        DWORD Read = 0;
        const BOOL Ok = ReadFile(Handle(FHandle), &B, 1, &Read, nullptr);
        const DWORD E = GetLastError();
        SetReadLimits(MAXDWORD, 0);
        if (!Ok) {
            Fail(int(E));
            return TWait::Failed;
        }
        if (Read == 1) {
            FLookahead.assign(1, B);
            return TWait::Ready;
        }
        // Nothing within the limit (or a driver that ended the read early):
        // the deadline decides.
        if (ADeadline && TClock::now() >= *ADeadline) return TWait::Expired;
    }
}

bool TSerialPort::ReadQueued(size_t ACount, std::string& AOut) {
    if (ACount == 0) return true;
    if (FHandle == kClosed) return Fail(ERROR_INVALID_HANDLE);
    if (!FLookahead.empty()) {
        AOut += FLookahead;
        FLookahead.clear();
        if (--ACount == 0) return true;
    }
    const size_t Old = AOut.size();
    AOut.resize(Old + ACount);
    DWORD Read = 0;
    // The port's read limits stay MAXDWORD/0/0 between waits: what is
    // queued, at once.
    const BOOL Ok =
        ReadFile(Handle(FHandle), AOut.data() + Old, DWORD(std::min<size_t>(ACount, MAXDWORD)), &Read, nullptr);
    AOut.resize(Old + (Ok ? Read : 0));
    return Ok || Fail();
}

int64_t TSerialPort::Write(const char* AData, size_t ACount, const TCommTimeouts&) {
    if (FHandle == kClosed) {
        Fail(ERROR_INVALID_HANDLE);
        return -1;
    }
    // The write limits were handed to the port with ApplyWriteLimits.
    DWORD Written = 0;
    if (!WriteFile(Handle(FHandle), AData, DWORD(std::min<size_t>(ACount, MAXDWORD)), &Written, nullptr)) {
        Fail();
        return Written > 0 ? int64_t(Written) : -1;
    }
    return int64_t(Written);
}

}  // namespace fr
