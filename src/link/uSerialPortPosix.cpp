#include "link/uSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "link/uPollDeadline.h"

namespace fr {

bool SetCustomSpeed(int AHandle, uint32_t ASpeed);  // uCommSpeedPosix.cpp

namespace {

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

}  // namespace

TSerialPort::~TSerialPort() {
    Close();
}

std::string TSerialPort::DeviceName(int32_t APortNumber) {
    const std::string Com = "/dev/com" + std::to_string(APortNumber);
    if (access(Com.c_str(), F_OK) == 0) return Com;
    return "/dev/ttyS" + std::to_string(int64_t(APortNumber) - 1);
}

int TSerialPort::NotOpenError() {
    return EBADF;
}
int TSerialPort::LineGoneError() {
    return EIO;
}

bool TSerialPort::Fail(int AError) {
    FError = AError;
    return false;
}

bool TSerialPort::Fail() {
    return Fail(errno);
}

bool TSerialPort::IsOpen() const {
    return FHandle >= 0;
}

void TSerialPort::Adopt(intptr_t AHandle) {
    Close();
    FHandle = AHandle;
}

bool TSerialPort::Open(const std::string& ADeviceName) {
    // There is no counterpart to the system buffer sizes (32768 bytes): the
    // kernel's tty buffers are fixed.
    const int H = ::open(ADeviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (H < 0) return Fail();
    if (!isatty(H)) {
        ::close(H);
        return Fail(ENOTTY);
    }
    // Unshared like a Windows port handle: TIOCEXCL stops other opens by
    // ordinary users, the advisory lock also keeps out cooperating root
    // processes (and a second TCommManager of this process).
    if (ioctl(H, TIOCEXCL) != 0 || flock(H, LOCK_EX | LOCK_NB) != 0) {
        const int E = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(H);
        return Fail(E);
    }
    FHandle = H;
    return true;
}

void TSerialPort::Close() {
    if (FHandle < 0) return;
    // Nothing must hold up the close: output that could not leave is dropped.
    tcflush(int(FHandle), TCOFLUSH);
    ::close(int(FHandle));
    FHandle = -1;
}

bool TSerialPort::PurgeInput() {
    if (FHandle < 0) return Fail(EBADF);
    return tcflush(int(FHandle), TCIFLUSH) == 0 || Fail();
}

namespace {

bool SetModemLine(int AHandle, int ABit, bool AOn) {
    int Bits = ABit;
    return ioctl(AHandle, AOn ? TIOCMBIS : TIOCMBIC, &Bits) == 0;
}

}  // namespace

bool TSerialPort::SetDTR(bool AOn) {
    if (FHandle < 0) return Fail(EBADF);
    return SetModemLine(int(FHandle), TIOCM_DTR, AOn) || Fail();
}

bool TSerialPort::SetRTS(bool AOn) {
    if (FHandle < 0) return Fail(EBADF);
    return SetModemLine(int(FHandle), TIOCM_RTS, AOn) || Fail();
}

bool TSerialPort::ApplyLine(const TSerialLine& ALine) {
    if (FHandle < 0) return Fail(EBADF);
    const int H = int(FHandle);
    struct termios Tio {};
    if (tcgetattr(H, &Tio) != 0) return Fail();
    cfmakeraw(&Tio);
    Tio.c_cflag |= CLOCAL | CREAD;
    Tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    Tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    switch (ALine.DataBits) {
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
            return Fail(EINVAL);
    }
    switch (ALine.Parity) {
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
            return Fail(EINVAL);
    }
    if (ALine.Parity != prNone) Tio.c_iflag |= INPCK;
    // termios knows one or two stop bits; two with five data bits is 1.5.
    if (ALine.StopBits != sbOneStopBit) Tio.c_cflag |= CSTOPB;
    // Linux has one hardware handshake, RTS/CTS together; DSR flow and DTR
    // handshake have no counterpart and leave the line as plain output.
    const TFlowControl& F = ALine.FlowControl;
    if (F.FOutCtsFlow || F.FControlRts == rtsHandshake) Tio.c_cflag |= CRTSCTS;
    if (F.FXonXoffOut) Tio.c_iflag |= IXON;
    if (F.FXonXoffIn) Tio.c_iflag |= IXOFF;
    Tio.c_cc[VSTART] = 0x11;
    Tio.c_cc[VSTOP] = 0x13;
    // Reads never block in the kernel: every wait is a poll with a deadline.
    Tio.c_cc[VMIN] = 0;
    Tio.c_cc[VTIME] = 0;

    const speed_t Constant = SpeedConstant(ALine.BaudRate);
    if (ALine.BaudRate == 0) return Fail(EINVAL);
    // A custom speed is set on top of a valid placeholder speed.
    cfsetispeed(&Tio, Constant != B0 ? Constant : B38400);
    cfsetospeed(&Tio, Constant != B0 ? Constant : B38400);
    if (tcsetattr(H, TCSANOW, &Tio) != 0 || (Constant == B0 && !SetCustomSpeed(H, ALine.BaudRate))) return Fail();

    // Modem lines; ports without them (pseudo-terminals) simply keep none.
    SetModemLine(H, TIOCM_DTR, F.FControlDtr != dtrDisable);
    if (F.FControlRts != rtsHandshake) SetModemLine(H, TIOCM_RTS, F.FControlRts == rtsEnable);
    return true;
}

bool TSerialPort::ApplyWriteLimits(const TCommTimeouts&) {
    // Every write enforces the limits itself; nothing to hand over.
    return FHandle >= 0 || Fail(EBADF);
}

bool TSerialPort::QueuedCount(uint32_t& ACount) {
    ACount = 0;
    int N = 0;
    if (FHandle < 0) return Fail(EBADF);
    if (ioctl(int(FHandle), FIONREAD, &N) != 0) return Fail();
    ACount = N > 0 ? uint32_t(N) : 0;
    return true;
}

TSerialPort::TWait TSerialPort::WaitInput(const TClock::time_point* ADeadline) {
    if (FHandle < 0) {
        Fail(EBADF);
        return TWait::Failed;
    }
    for (;;) {
        const int TimeoutMs = ADeadline ? PollTimeoutMs(*ADeadline) : -1;
        struct pollfd P {
            int(FHandle), POLLIN, 0
        };
        const int R = poll(&P, 1, TimeoutMs);
        if (R < 0) {
            if (errno == EINTR) continue;
            Fail();
            return TWait::Failed;
        }
        if (R == 0) {
            if (ADeadline && TClock::now() < *ADeadline) continue;
            return TWait::Expired;
        }
        if (P.revents & POLLIN) return TWait::Ready;
        // Hang-up or error without data: the line is gone, further waiting
        // would only spin.
        Fail((P.revents & POLLNVAL) ? EBADF : EIO);
        return TWait::Failed;
    }
}

bool TSerialPort::ReadQueued(size_t ACount, std::string& AOut) {
    if (ACount == 0) return true;
    if (FHandle < 0) return Fail(EBADF);
    const size_t Old = AOut.size();
    AOut.resize(Old + ACount);
    ssize_t N;
    do N = ::read(int(FHandle), AOut.data() + Old, ACount);
    while (N < 0 && errno == EINTR);
    const int E = errno;
    if (N < 0 && (E == EAGAIN || E == EWOULDBLOCK)) N = 0;
    AOut.resize(Old + size_t(N > 0 ? N : 0));
    return N >= 0 || Fail(E);
}

int64_t TSerialPort::Write(const char* AData, size_t ACount, const TCommTimeouts& ATimeouts) {
    if (FHandle < 0) {
        Fail(EBADF);
        return -1;
    }
    const int H = int(FHandle);
    const bool HasTotal = ATimeouts.WriteTotalMultiplier != 0 || ATimeouts.WriteTotalConstant != 0;
    const auto Deadline = TClock::now() + std::chrono::milliseconds(uint64_t(ATimeouts.WriteTotalMultiplier) * ACount +
                                                                    ATimeouts.WriteTotalConstant);
    size_t Done = 0;
    while (Done < ACount) {
        const ssize_t N = ::write(H, AData + Done, ACount - Done);
        if (N > 0) {
            Done += size_t(N);
            continue;
        }
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail();
            return Done > 0 ? int64_t(Done) : -1;
        }
        // Output buffer full: wait for room up to the write limit.
        int TimeoutMs = -1;
        if (HasTotal) {
            TimeoutMs = PollTimeoutMs(Deadline);
            if (TimeoutMs == 0) break;
        }
        struct pollfd P {
            H, POLLOUT, 0
        };
        const int R = poll(&P, 1, TimeoutMs);
        if (R < 0 && errno != EINTR) {
            Fail();
            return Done > 0 ? int64_t(Done) : -1;
        }
        if (R > 0 && !(P.revents & POLLOUT)) {
            Fail(EIO);
            return Done > 0 ? int64_t(Done) : -1;
        }
    }
    return int64_t(Done);
}

}  // namespace fr
