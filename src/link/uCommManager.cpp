#include "link/uCommManager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "base/uStrings.h"
#include "link/uPollDeadline.h"

namespace fr {

bool SetCustomSpeed(int AHandle, uint32_t ASpeed);  // uCommSpeed.cpp

namespace {

constexpr const char* kWriteFailed = "Не удалось записать данные в порт";
constexpr const char* kNoAnswer = "Устройство не отвечает";
constexpr const char* kReadFailed = "Ошибка при чтении данных из порта";

constexpr uint32_t kSpeeds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

// termios constant of a speed; B0 when the kernel has none (custom speed).
speed_t SpeedConstant(uint32_t ASpeed) {
    switch (ASpeed) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

std::chrono::milliseconds Ms(uint64_t AValue) {
    return std::chrono::milliseconds(AValue);
}

// Short waits for ReadByte(Value, Timeout): a zero timeout still waits for
// the next millisecond, as the tick-counter loop does.
std::chrono::milliseconds TickWait(uint32_t ATimeout) {
    return Ms(ATimeout == 0 ? 1 : ATimeout);
}

enum class TWait { Ready, Expired, Failed };

// Waits for input on AHandle until ADeadline (none: without limit).
TWait PollInput(int AHandle, const std::chrono::steady_clock::time_point* ADeadline) {
    for (;;) {
        const int TimeoutMs = ADeadline ? PollTimeoutMs(*ADeadline) : -1;
        struct pollfd P {
            AHandle, POLLIN, 0
        };
        const int R = poll(&P, 1, TimeoutMs);
        if (R < 0) {
            if (errno == EINTR) continue;
            return TWait::Failed;
        }
        if (R == 0) {
            if (ADeadline && std::chrono::steady_clock::now() < *ADeadline) continue;
            return TWait::Expired;
        }
        if (P.revents & POLLIN) return TWait::Ready;
        // Hang-up or error without data: the line is gone, further waiting
        // would only spin.
        errno = (P.revents & POLLNVAL) ? EBADF : EIO;
        return TWait::Failed;
    }
}

}  // namespace

uint32_t BaudRateToInt(TBaudRate ABaudRate) {
    const auto I = size_t(ABaudRate);
    return I < std::size(kSpeeds) ? kSpeeds[I] : 0;
}

// --- TCommManager -----------------------------------------------------------------

TCommManager::TCommManager() = default;

TCommManager::~TCommManager() {
    Close();
}

void TCommManager::StoreError(int AErrno) {
    FExtResultDescription = std::strerror(AErrno);
}

void TCommManager::StoreLastError() {
    StoreError(errno);
}

bool TCommManager::EnsureOpen() {
    return Opened() || Open();
}

uint32_t TCommManager::InQueueCount() {
    int N = 0;
    if (FHandle < 0 || ioctl(FHandle, FIONREAD, &N) != 0) {
        if (FHandle < 0) errno = EBADF;
        StoreLastError();
        return 0;
    }
    return N > 0 ? uint32_t(N) : 0;
}

std::string TCommManager::DeviceName() const {
    if (!FDevicePath.empty()) return FDevicePath;
    const std::string Com = "/dev/com" + std::to_string(FPortNumber);
    if (access(Com.c_str(), F_OK) == 0) return Com;
    return "/dev/ttyS" + std::to_string(int64_t(FPortNumber) - 1);
}

bool TCommManager::OpenHandle() {
    const std::string Name = DeviceName();
    const int H = ::open(Name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (H < 0) return false;
    if (!isatty(H)) {
        ::close(H);
        errno = ENOTTY;
        return false;
    }
    // Unshared like a Windows port handle: TIOCEXCL stops other opens by
    // ordinary users, the advisory lock also keeps out cooperating root
    // processes (and a second TCommManager of this process).
    if (ioctl(H, TIOCEXCL) != 0 || flock(H, LOCK_EX | LOCK_NB) != 0) {
        const int E = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(H);
        errno = E;
        return false;
    }
    FHandle = H;
    return true;
}

bool TCommManager::Open() {
    if (Opened()) return true;
    // There is no counterpart to the system buffer sizes (32768 bytes): the
    // kernel's tty buffers are fixed.
    const bool Ok = OpenHandle() && Purge(true) && ApplyLineSettings() && ApplyTimeouts();
    if (!Ok) {
        const int E = errno;
        // A port that could not be set up is released, so that Opened stays
        // false and no later call works on a half-configured line.
        if (FHandle >= 0) {
            ::close(FHandle);
            FHandle = -1;
        }
        StoreError(E);
        return false;
    }
    return true;
}

bool TCommManager::Close() {
    if (!Opened()) return true;
    SetCommDTR(false);
    Purge(true);
    // Nothing must hold up the close: output that could not leave is dropped.
    tcflush(FHandle, TCOFLUSH);
    ::close(FHandle);
    FHandle = -1;
    return true;
}

bool TCommManager::Purge(bool Abort) {
    (void)Abort;  // nothing is ever pending between calls: all I/O is synchronous
    if (!EnsureOpen()) return false;
    // Only received input is discarded. Output handed to the port is still
    // on its way (the kernel sends it asynchronously); dropping it would lose
    // the acknowledgement written just before the next enquiry's purge.
    if (tcflush(FHandle, TCIFLUSH) != 0) {
        StoreLastError();
        return false;
    }
    return true;
}

void TCommManager::SetModemLine(int ABit, bool AValue, bool AReport) {
    int Bits = ABit;
    if (ioctl(FHandle, AValue ? TIOCMBIS : TIOCMBIC, &Bits) != 0 && AReport) StoreLastError();
}

void TCommManager::SetCommDTR(bool Value) {
    if (!EnsureOpen()) return;
    SetModemLine(TIOCM_DTR, Value, true);
}

bool TCommManager::ApplyTimeouts() {
    // The limits are enforced by every read and write; nothing to hand over.
    return EnsureOpen();
}

bool TCommManager::ApplyLineSettings() {
    if (!Opened()) return true;
    struct termios Tio {};
    if (tcgetattr(FHandle, &Tio) != 0) {
        StoreLastError();
        return false;
    }
    cfmakeraw(&Tio);
    Tio.c_cflag |= CLOCAL | CREAD;
    Tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    Tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    switch (FDataBits) {
        case 5:
            Tio.c_cflag |= CS5;
            break;
        case 6:
            Tio.c_cflag |= CS6;
            break;
        case 7:
            Tio.c_cflag |= CS7;
            break;
        case 8:
            Tio.c_cflag |= CS8;
            break;
        default:
            errno = EINVAL;
            StoreLastError();
            return false;
    }
    switch (FParity) {
        case prNone:
            break;
        case prOdd:
            Tio.c_cflag |= PARENB | PARODD;
            break;
        case prEven:
            Tio.c_cflag |= PARENB;
            break;
        case prMark:
            Tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case prSpace:
            Tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            errno = EINVAL;
            StoreLastError();
            return false;
    }
    if (FParity != prNone) Tio.c_iflag |= INPCK;
    // termios knows one or two stop bits; two with five data bits is 1.5.
    if (FStopBits != sbOneStopBit) Tio.c_cflag |= CSTOPB;
    // Linux has one hardware handshake, RTS/CTS together; DSR flow and DTR
    // handshake have no counterpart and leave the line as plain output.
    if (FFlowControl.FOutCtsFlow || FFlowControl.FControlRts == rtsHandshake) Tio.c_cflag |= CRTSCTS;
    if (FFlowControl.FXonXoffOut) Tio.c_iflag |= IXON;
    if (FFlowControl.FXonXoffIn) Tio.c_iflag |= IXOFF;
    Tio.c_cc[VSTART] = 0x11;
    Tio.c_cc[VSTOP] = 0x13;
    // Reads never block in the kernel: every wait is a poll with a deadline.
    Tio.c_cc[VMIN] = 0;
    Tio.c_cc[VTIME] = 0;

    const uint32_t Speed = BaudRateToInt(FBaudRate);
    const speed_t Constant = SpeedConstant(Speed);
    if (Speed == 0) {
        errno = EINVAL;
        StoreLastError();
        return false;
    }
    // A custom speed is set on top of a valid placeholder speed.
    cfsetispeed(&Tio, Constant != B0 ? Constant : B38400);
    cfsetospeed(&Tio, Constant != B0 ? Constant : B38400);
    if (tcsetattr(FHandle, TCSANOW, &Tio) != 0 || (Constant == B0 && !SetCustomSpeed(FHandle, Speed))) {
        StoreLastError();
        return false;
    }

    // Modem lines; ports without them (pseudo-terminals) simply keep none.
    SetModemLine(TIOCM_DTR, FFlowControl.FControlDtr != dtrDisable, false);
    if (FFlowControl.FControlRts != rtsHandshake) SetModemLine(TIOCM_RTS, FFlowControl.FControlRts == rtsEnable, false);
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
    if (FHandle < 0) {
        errno = EBADF;
        return false;
    }
    return PollInput(FHandle, &ADeadline) == TWait::Ready;
}

bool TCommManager::ReadQueued(size_t ACount, std::string& AOut) {
    if (ACount == 0) return true;
    const size_t Old = AOut.size();
    AOut.resize(Old + ACount);
    ssize_t N;
    do N = ::read(FHandle, AOut.data() + Old, ACount);
    while (N < 0 && errno == EINTR);
    if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) N = 0;
    AOut.resize(Old + size_t(std::max<ssize_t>(N, 0)));
    return N >= 0;
}

bool TCommManager::ReadBlocking(size_t ACount, std::string& AOut) {
    if (FHandle < 0) {
        errno = EBADF;
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
        const TWait W = PollInput(FHandle, Limited ? &Deadline : nullptr);
        if (W == TWait::Expired) return true;
        if (W == TWait::Failed) return false;
        const size_t Before = AOut.size();
        if (!ReadQueued(ACount - Got, AOut)) return false;
        const size_t N = AOut.size() - Before;
        if (N == 0) {
            // Readable but nothing to read: end of file on a hung-up line.
            errno = EIO;
            return false;
        }
        Got += N;
        LastByte = TClock::now();
        if (FirstByteOnly) return true;
    }
    return true;
}

int64_t TCommManager::WriteBlocking(const char* AData, size_t ACount) {
    if (FHandle < 0) {
        errno = EBADF;
        return -1;
    }
    const TCommTimeouts& T = FTimeouts;
    const bool HasTotal = T.WriteTotalMultiplier != 0 || T.WriteTotalConstant != 0;
    const auto Deadline = TClock::now() + Ms(uint64_t(T.WriteTotalMultiplier) * ACount + T.WriteTotalConstant);
    size_t Done = 0;
    while (Done < ACount) {
        const ssize_t N = ::write(FHandle, AData + Done, ACount - Done);
        if (N > 0) {
            Done += size_t(N);
            continue;
        }
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Done > 0 ? int64_t(Done) : -1;
        // Output buffer full: wait for room up to the write limit.
        int TimeoutMs = -1;
        if (HasTotal) {
            TimeoutMs = PollTimeoutMs(Deadline);
            if (TimeoutMs == 0) break;
        }
        struct pollfd P {
            FHandle, POLLOUT, 0
        };
        const int R = poll(&P, 1, TimeoutMs);
        if (R < 0 && errno != EINTR) return Done > 0 ? int64_t(Done) : -1;
        if (R > 0 && !(P.revents & POLLOUT)) {
            errno = EIO;
            return Done > 0 ? int64_t(Done) : -1;
        }
    }
    return int64_t(Done);
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
        StoreError(EBADF);
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
