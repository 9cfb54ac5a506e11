#include "uEmuLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "uEmuDevice.h"

namespace fr {

namespace {
constexpr int kByteTimeoutMs = 1000;  // between bytes of one frame
constexpr int kAckTimeoutMs = 2000;   // for the driver's ACK after an answer
}  // namespace

std::string EmuFrame(const std::string& APayload) {
    std::string F(1, emuSTX);
    F += char(APayload.size());
    F += APayload;
    char L = char(APayload.size());
    for (char C : APayload) L = char(L ^ C);
    F += L;
    return F;
}

TEmuLinkSession::TEmuLinkSession(TEmuDevice& ADevice, int AFd, bool ASocket, int AStopFd, int AListenFd, int AWakeFd)
    : FDevice(ADevice), FFd(AFd), FSocket(ASocket), FStopFd(AStopFd), FListenFd(AListenFd), FWakeFd(AWakeFd) {
    DrainWake();
    auto L = FDevice.Lock();
    FRestarts = FDevice.LinkFaults().Restarts;
}

void TEmuLinkSession::DrainWake() {
    uint64_t V = 0;
    if (FWakeFd >= 0) {
        while (read(FWakeFd, &V, sizeof V) > 0) {
        }
    }
}

void TEmuLinkSession::SetBaud(int ABaud) {
    FByteTime = ABaud > 0
                    ? std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(10000000000LL / ABaud))
                    : TClock::duration{0};
}

bool TEmuLinkSession::Restarted() {
    auto L = FDevice.Lock();
    if (FDevice.LinkFaults().Restarts == FRestarts) return false;
    FEnd = leRestart;
    return true;
}

int TEmuLinkSession::ReadByte(char& AByte, int ATimeoutMs) {
    if (FPushback >= 0) {
        AByte = char(FPushback);
        FPushback = -1;
        return 1;
    }
    if (FInPos == FIn.size()) {
        int R = Fill(ATimeoutMs);
        if (R <= 0) return R;
    } else if (Restarted()) {
        return -1;
    }
    AByte = FIn[FInPos++];
    if (FByteTime.count()) {
        // A byte is taken one byte time after it was sent, or after the byte
        // before it arrived. The bytes of one read were all sent by then, so
        // a late wake-up here does not add up over a frame.
        FInFree = std::max(FInFree, FInArrival) + FByteTime;
        std::this_thread::sleep_until(FInFree);
    }
    return 1;
}

int TEmuLinkSession::Fill(int ATimeoutMs) {
    // Negative descriptors are skipped by poll.
    pollfd P[4] = {{FFd, POLLIN, 0}, {FStopFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}, {FListenFd, POLLIN, 0}};
    for (;;) {
        if (Restarted()) return -1;
        int R = poll(P, 4, ATimeoutMs);
        if (R < 0 && errno == EINTR) continue;
        if (R < 0) return -1;
        if (R == 0) return 0;
        if (P[1].revents) {
            FEnd = leStopped;
            return -1;
        }
        if (P[2].revents) {
            DrainWake();
            continue;
        }
        if (P[3].revents) {
            FEnd = leNewClient;
            return -1;
        }
        char Buf[256];
        ssize_t K = FSocket ? recv(FFd, Buf, sizeof Buf, 0) : read(FFd, Buf, sizeof Buf);
        if (K > 0) {
            FIn.assign(Buf, size_t(K));
            FInPos = 0;
            FInArrival = TClock::now();
            auto L = FDevice.Lock();
            FDevice.LinkFaults().BytesIn += uint64_t(K);
            return 1;
        }
        if (K < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        FEnd = leClosed;
        return -1;
    }
}

bool TEmuLinkSession::Write(const std::string& ABytes) {
    if (!FByteTime.count()) return WriteRaw(ABytes.data(), ABytes.size());
    // Byte i goes out when the line has carried the bytes before it and itself.
    FOutFree = std::max(FOutFree, TClock::now());
    size_t Done = 0;
    while (Done < ABytes.size()) {
        const TClock::time_point Now = TClock::now();
        size_t N = 0;
        while (Done + N < ABytes.size() && FOutFree + FByteTime * (N + 1) <= Now) ++N;
        if (N == 0) {
            std::this_thread::sleep_until(FOutFree + FByteTime);
            continue;
        }
        if (!WriteRaw(ABytes.data() + Done, N)) return false;
        Done += N;
        FOutFree += FByteTime * N;
    }
    return true;
}

bool TEmuLinkSession::WriteRaw(const char* AData, size_t ASize) {
    {
        auto L = FDevice.Lock();
        FDevice.LinkFaults().BytesOut += ASize;
    }
    size_t Done = 0;
    while (Done < ASize) {
        ssize_t K =
            FSocket ? send(FFd, AData + Done, ASize - Done, MSG_NOSIGNAL) : write(FFd, AData + Done, ASize - Done);
        if (K < 0 && errno == EINTR) continue;
        if (K < 0 && errno == EAGAIN) {
            // The terminal's buffer is full: wait until the driver reads.
            pollfd P[2] = {{FFd, POLLOUT, 0}, {FStopFd, POLLIN, 0}};
            if (poll(P, 2, 1000) <= 0 || P[1].revents) return false;
            continue;
        }
        if (K <= 0) return false;
        Done += size_t(K);
    }
    return true;
}

bool TEmuLinkSession::Wait(int AMs) {
    auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    for (;;) {
        if (Restarted()) return false;
        auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Until - std::chrono::steady_clock::now());
        if (Left.count() <= 0) return true;
        pollfd P[2] = {{FStopFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
        int R = poll(P, 2, int(Left.count()));
        if (R > 0 && P[0].revents) {
            FEnd = leStopped;
            return false;
        }
        if (R > 0 && P[1].revents) DrainWake();
    }
}

void TEmuLinkSession::SendAnswer(bool AResend, TDamage ADamage) {
    std::string Frame = EmuFrame(FPending);
    if (!AResend && ADamage == dmNone) {
        auto L = FDevice.Lock();
        TEmuLinkFaults& F = FDevice.LinkFaults();
        if (F.CorruptAnswers > 0) {
            --F.CorruptAnswers;
            ADamage = dmChecksum;
        } else if (F.TruncateAnswers > 0) {
            --F.TruncateAnswers;
            ADamage = dmCut;
        }
    }
    switch (ADamage) {
        case dmChecksum:
            Frame.back() = char(Frame.back() ^ 0x5A);
            break;
        case dmCut:
            Frame.resize(Frame.size() > 3 ? Frame.size() - 2 : 2);
            break;
        case dmExtra: {
            // Two bytes the length does not count: a reader that honours the
            // length takes the first as the checksum (always wrong) and finds
            // the rest as stray bytes.
            std::string Extra{char(Frame.back() ^ 0x55), '\0'};
            Frame.insert(Frame.size() - 1, Extra);
            break;
        }
        case dmNone:
            break;
    }
    if (Write(Frame)) AwaitAck();
}
void TEmuLinkSession::AwaitAck() {
    char B = 0;
    int R = ReadByte(B, kAckTimeoutMs);
    if (R <= 0) return;
    if (B == emuACK) {
        FHasPending = false;
        FPending.clear();
    } else if (B != emuNAK) {
        FPushback = uint8_t(B);  // the driver went on: keep the answer for its next enquiry
    }
}

TEmuLinkSession::TEnd TEmuLinkSession::Serve() {
    for (;;) {
        char B = 0;
        if (ReadByte(B, -1) < 0) return FEnd;
        if (B == emuENQ) {
            {
                auto L = FDevice.Lock();
                TEmuLinkFaults& F = FDevice.LinkFaults();
                if (F.Silence > 0) {
                    --F.Silence;
                    continue;
                }
            }
            if (FHasPending) {
                if (!Write(std::string(1, emuACK))) return leClosed;
                SendAnswer(true);
            } else if (!Write(std::string(1, emuNAK))) {
                return leClosed;
            }
            continue;
        }
        if (B != emuSTX) continue;  // stray ACK, NAK or noise

        char Len = 0;
        int RL = ReadByte(Len, kByteTimeoutMs);
        if (RL < 0) return FEnd;
        if (RL == 0) continue;
        std::string Payload;
        char C = 0;
        bool Complete = true;
        for (int I = 0; I < uint8_t(Len) + 1; ++I) {
            int R = ReadByte(C, kByteTimeoutMs);
            if (R < 0) return FEnd;
            if (R == 0) {
                Complete = false;
                break;
            }
            Payload += C;
        }
        if (!Complete) continue;  // an incomplete frame is dropped without a reply
        char Lrc = Len;
        for (size_t I = 0; I + 1 < Payload.size(); ++I) Lrc = char(Lrc ^ Payload[I]);
        bool Good = Lrc == Payload.back() && Len != 0;
        Payload.pop_back();

        int Delay = 0;
        TEmuScheduledFault Fault;
        bool Struck = false;
        {
            auto L = FDevice.Lock();
            TEmuLinkFaults& F = FDevice.LinkFaults();
            Struck = F.NextFrame(Fault);
            if (Struck) {
                if (Fault.Kind == TEmuFault::Silence) continue;
                if (Fault.Kind == TEmuFault::DropConnection) {
                    if (FSocket) return leClosed;
                    continue;  // a serial line cannot be dropped: the frame goes unanswered
                }
                if (Fault.Kind == TEmuFault::Nak) Good = false;
            } else if (F.Silence > 0) {
                --F.Silence;
                continue;
            } else if (Good && F.NakFrames > 0) {
                --F.NakFrames;
                Good = false;
            } else if (Good && F.DropConnections > 0 && FSocket) {
                --F.DropConnections;
                return leClosed;
            }
            Delay = F.AnswerDelayMs;
        }
        if (!Good) {
            if (!Write(std::string(1, emuNAK))) return leClosed;
            continue;
        }
        if (!Write(std::string(1, emuACK))) return leClosed;
        TDamage Damage = dmNone;
        int Forced = -1;
        if (Struck) {
            switch (Fault.Kind) {
                case TEmuFault::BadChecksum:
                    Damage = dmChecksum;
                    break;
                case TEmuFault::CutAnswer:
                    Damage = dmCut;
                    break;
                case TEmuFault::ExtraBytes:
                    Damage = dmExtra;
                    break;
                case TEmuFault::DeviceError:
                    Forced = Fault.Result;
                    break;
                default:
                    break;
            }
        }
        FPending = FDevice.Execute(Payload, Forced);
        FHasPending = true;
        if (Delay > 0 && !Wait(Delay)) return FEnd;
        SendAnswer(false, Damage);
    }
}

}  // namespace fr
