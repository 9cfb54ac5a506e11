#include "uEmuLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

TEmuLinkSession::TEmuLinkSession(TEmuDevice& ADevice, int AFd, bool ASocket, int AStopFd, int AListenFd)
    : FDevice(ADevice), FFd(AFd), FSocket(ASocket), FStopFd(AStopFd), FListenFd(AListenFd) {}

int TEmuLinkSession::ReadByte(char& AByte, int ATimeoutMs) {
    if (FPushback >= 0) {
        AByte = char(FPushback);
        FPushback = -1;
        return 1;
    }
    pollfd P[3] = {{FFd, POLLIN, 0}, {FStopFd, POLLIN, 0}, {FListenFd, POLLIN, 0}};
    nfds_t N = FListenFd >= 0 ? 3 : 2;
    for (;;) {
        int R = poll(P, N, ATimeoutMs);
        if (R < 0 && errno == EINTR) continue;
        if (R < 0) return -1;
        if (R == 0) return 0;
        if (P[1].revents) {
            FEnd = leStopped;
            return -1;
        }
        if (N == 3 && P[2].revents) {
            FEnd = leNewClient;
            return -1;
        }
        ssize_t K = FSocket ? recv(FFd, &AByte, 1, 0) : read(FFd, &AByte, 1);
        if (K == 1) return 1;
        if (K < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        FEnd = leClosed;
        return -1;
    }
}

bool TEmuLinkSession::Write(const std::string& ABytes) {
    size_t Done = 0;
    while (Done < ABytes.size()) {
        ssize_t K = FSocket ? send(FFd, ABytes.data() + Done, ABytes.size() - Done, MSG_NOSIGNAL)
                            : write(FFd, ABytes.data() + Done, ABytes.size() - Done);
        if (K < 0 && errno == EINTR) continue;
        if (K <= 0) return false;
        Done += size_t(K);
    }
    return true;
}

bool TEmuLinkSession::Wait(int AMs) {
    pollfd P{FStopFd, POLLIN, 0};
    if (poll(&P, 1, AMs) > 0) {
        FEnd = leStopped;
        return false;
    }
    return true;
}

void TEmuLinkSession::SendAnswer(bool AResend) {
    std::string Frame = EmuFrame(FPending);
    if (!AResend) {
        auto L = FDevice.Lock();
        TEmuLinkFaults& F = FDevice.LinkFaults();
        if (F.CorruptAnswers > 0) {
            --F.CorruptAnswers;
            Frame.back() = char(Frame.back() ^ 0x5A);
        } else if (F.TruncateAnswers > 0) {
            --F.TruncateAnswers;
            Frame.resize(Frame.size() > 3 ? Frame.size() - 2 : 2);
        }
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
        {
            auto L = FDevice.Lock();
            TEmuLinkFaults& F = FDevice.LinkFaults();
            if (F.Silence > 0) {
                --F.Silence;
                continue;
            }
            if (Good && F.NakFrames > 0) {
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
        FPending = FDevice.Execute(Payload);
        FHasPending = true;
        if (Delay > 0 && !Wait(Delay)) return FEnd;
        SendAnswer(false);
    }
}

}  // namespace fr
