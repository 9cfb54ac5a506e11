#include "uEmuControl.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>

#include "uEmuWire.h"

namespace fr {
namespace {

using emuwire::Hex;

std::runtime_error SysError(const std::string& AWhat) {
    return std::runtime_error(AWhat + ": " + std::strerror(errno));
}

// A request the channel refuses; its text goes back after "error".
struct TRequestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The arguments of one request, read by position with the type each call takes.
class TArgs {
public:
    TArgs(const std::string& ACommand, std::vector<std::string> ATokens)
        : FCommand(ACommand), FTokens(std::move(ATokens)) {}
    size_t Size() const { return FTokens.size(); }
    bool Has(size_t I) const { return I < FTokens.size(); }
    const std::string& Token(size_t I) const { return FTokens.at(I); }

    int64_t Int(size_t I, int64_t AMin, int64_t AMax) const {
        const auto V = emuwire::Number(FTokens.at(I));
        if (!V || *V < AMin || *V > AMax)
            throw Bad(I, "is not a whole number from " + std::to_string(AMin) + " to " + std::to_string(AMax));
        return *V;
    }
    int Count(size_t I) const { return int(Int(I, 0, std::numeric_limits<int>::max())); }
    std::string Bytes(size_t I) const {
        const auto V = emuwire::Unhex(FTokens.at(I));
        if (!V) throw Bad(I, "is not hex");
        return *V;
    }
    template <typename T>
    T Enum(size_t I, std::optional<T> (*AParse)(std::string_view)) const {
        const auto V = AParse(FTokens.at(I));
        if (!V) throw Bad(I, "is no known name");
        return *V;
    }

private:
    TRequestError Bad(size_t I, const std::string& AWhy) const {
        return TRequestError(FCommand + ": argument " + std::to_string(I + 1) + " '" + FTokens[I] + "' " + AWhy);
    }
    const std::string& FCommand;
    std::vector<std::string> FTokens;
};

std::string Flag(bool A) {
    return A ? "1" : "0";
}

template <typename T, typename F>
std::string List(const std::vector<T>& AItems, F AText) {
    std::string S = std::to_string(AItems.size());
    for (const T& I : AItems) S += " " + AText(I);
    return S;
}

// What follows "ok": nothing for a call without a result, else its result,
// which may be an empty token (an empty byte string).
using TResult = std::optional<std::string>;

// One request of the channel: the call's name, its least and most argument
// counts and what it does.
struct TCommand {
    const char* Name;
    size_t MinArgs, MaxArgs;
    TResult (*Run)(TEmuControlSession& S, const TArgs& A);
};

constexpr size_t kAny = std::numeric_limits<size_t>::max();
constexpr int kMinInt = std::numeric_limits<int>::min(), kMaxInt = std::numeric_limits<int>::max();

// A com<n> number of its own for "StartSerial -1": apart from the numbers
// 60 to 89 that the end-to-end suites hold.
constexpr int kFreeComFirst = 30, kFreeComLast = 59;

const TCommand kCommands[] = {
    // The device and its transports.
    {"Reset", 0, kAny,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         TEmuConfig C = S.Defaults();
         std::string Error;
         for (size_t I = 0; I < A.Size(); ++I)
             if (!emuwire::SetConfigField(C, A.Token(I), Error)) throw TRequestError("Reset: " + Error);
         S.Reset(C);
         return TResult();
     }},
    {"StartTCP", 0, 2,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         const uint16_t Port = A.Has(0) ? uint16_t(A.Int(0, 0, 65535)) : 0;
         return std::to_string(S.Emu().StartTCP(Port, A.Has(1) ? A.Bytes(1) : "127.0.0.1"));
     }},
    // Port number 0: a bare pseudo-terminal; n: linked as com<n> in the
    // folder given or the program's link folder; -1: linked under a free number.
    {"StartSerial", 0, 2,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         int N = A.Has(0) ? int(A.Int(0, -1, 255)) : 0;
         const std::string Dir = A.Has(1) && !A.Token(1).empty() ? A.Bytes(1) : S.LinkDir();
         if (N < 0 && (N = S.ClaimComNumber(Dir, kFreeComFirst, kFreeComLast)) == 0)
             throw TRequestError("StartSerial: no free com number in " + Dir);
         const std::string Path = S.Emu().StartSerial(N, Dir);
         // A terminal already served keeps its link, or has none.
         const std::string& Link = S.Emu().SerialLink();
         const size_t Digits = Link.find_last_not_of("0123456789") + 1;
         const std::string Number = Link.empty() ? "0" : Link.substr(Digits);
         return Hex(Path) + " " + Hex(Link) + " " + Number;
     }},
    {"Stop", 0, 0, [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Stop(), TResult(); }},
    // Link faults.
    {"NakNextFrames", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult { return S.Emu().NakNextFrames(A.Count(0)), TResult(); }},
    {"CorruptNextAnswers", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().CorruptNextAnswers(A.Count(0)), TResult();
     }},
    {"TruncateNextAnswers", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().TruncateNextAnswers(A.Count(0)), TResult();
     }},
    {"SilenceNext", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult { return S.Emu().SilenceNext(A.Count(0)), TResult(); }},
    {"DropNextConnection", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().DropNextConnection(A.Count(0)), TResult();
     }},
    {"SetAnswerDelay", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult { return S.Emu().SetAnswerDelay(A.Count(0)), TResult(); }},
    {"FaultAtCommand", 2, 3,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().FaultAtCommand(int(A.Int(0, kMinInt, kMaxInt)), A.Enum(1, emuwire::ParseFault),
                                A.Has(2) ? uint8_t(A.Int(2, 0, 255)) : 0);
         return TResult();
     }},
    {"ClearFaultsAtCommand", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().ClearFaultsAtCommand(), TResult(); }},
    {"CommandFrameCount", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().CommandFrameCount()); }},
    {"BytesReceived", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().BytesReceived()); }},
    {"BytesSent", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().BytesSent()); }},
    {"Restart", 0, 0, [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Restart(), TResult(); }},
    // The device: commands, state readers and controls.
    {"Execute", 1, 2,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return Hex(S.Emu().Device().Execute(A.Bytes(0), A.Has(1) ? int(A.Int(1, -1, 255)) : -1));
     }},
    {"Commands", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult {
         return List(S.Emu().Device().Commands(), [](const std::string& C) { return Hex(C); });
     }},
    {"ClearCommands", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Device().ClearCommands(), TResult(); }},
    {"Tape", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult {
         return List(S.Emu().Device().Tape().Entries(), emuwire::TapeEntryText);
     }},
    // A tape given entry by entry, as a PNG picture (TEmuTape::WritePNG of the client).
    {"TapePNG", 0, kAny,
     [](TEmuControlSession&, const TArgs& A) -> TResult {
         TEmuTape Tape;
         for (size_t I = 0; I < A.Size(); ++I) {
             auto E = emuwire::ParseTapeEntry(A.Token(I));
             if (!E) throw TRequestError("TapePNG: argument " + std::to_string(I + 1) + " is no tape entry");
             Tape.Add(std::move(*E));
         }
         char Name[] = "/tmp/fr_emulator_tape_XXXXXX";
         const int Fd = mkstemp(Name);
         if (Fd < 0) throw SysError("mkstemp");
         close(Fd);
         std::string Png;
         try {
             Tape.WritePNG(Name);
             std::ifstream F(Name, std::ios::binary);
             Png.assign(std::istreambuf_iterator<char>(F), {});
         } catch (...) {
             unlink(Name);
             throw;
         }
         unlink(Name);
         return Hex(Png);
     }},
    {"ClearTape", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Device().ClearTape(), TResult(); }},
    {"Mode", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().Device().Mode()); }},
    {"Submode", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().Device().Submode()); }},
    {"ShiftOpen", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return Flag(S.Emu().Device().ShiftOpen()); }},
    {"ShiftNumber", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().Device().ShiftNumber()); }},
    {"ReceiptOpen", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return Flag(S.Emu().Device().ReceiptOpen()); }},
    {"Fiscalised", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return Flag(S.Emu().Device().Fiscalised()); }},
    {"FNLifeState", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().Device().FNLifeState()); }},
    {"CashRegister", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return std::to_string(S.Emu().Device().CashRegister(uint16_t(A.Int(0, 0, 0xFFFF))));
     }},
    {"OperationRegister", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return std::to_string(S.Emu().Device().OperationRegister(uint8_t(A.Int(0, 0, 255))));
     }},
    {"Documents", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult {
         return List(S.Emu().Device().Documents(), emuwire::DocumentText);
     }},
    {"LastDocumentNumber", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult {
         return std::to_string(S.Emu().Device().LastDocumentNumber());
     }},
    {"TableField", 3, 3,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return Hex(S.Emu().Device().TableField(uint8_t(A.Int(0, 0, 255)), uint16_t(A.Int(1, 0, 0xFFFF)),
                                                uint8_t(A.Int(2, 0, 255))));
     }},
    {"Clock", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return std::to_string(S.Emu().Device().Clock()); }},
    {"FailCommand", 3, 3,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().FailCommand(uint16_t(A.Int(0, 0, 0xFFFF)), int(A.Int(1, kMinInt, kMaxInt)),
                                      uint8_t(A.Int(2, 0, 255)));
         return TResult();
     }},
    {"SetPaperOut", 0, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().SetPaperOut(A.Has(0) ? int(A.Int(0, -1, kMaxInt)) : -1);
         return TResult();
     }},
    {"LoadPaper", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Device().LoadPaper(), TResult(); }},
    {"SetClock", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().SetClock(A.Int(0, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()));
         return TResult();
     }},
    {"AgeShift", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().AgeShift(A.Int(0, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()));
         return TResult();
     }},
    {"SetFNWarningFlags", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().Device().SetFNWarningFlags(uint8_t(A.Int(0, 0, 255))), TResult();
     }},
    {"MarkDocumentsSent", 0, 0,
     [](TEmuControlSession& S, const TArgs&) -> TResult { return S.Emu().Device().MarkDocumentsSent(), TResult(); }},
    {"SetMarkingCodeInvalid", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().Device().SetMarkingCodeInvalid(A.Bytes(0)), TResult();
     }},
    {"SetMarkingAnswer", 1, 2,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().SetMarkingAnswer(A.Enum(0, emuwire::ParseMarkAnswer), A.Has(1) ? A.Bytes(1) : "");
         return TResult();
     }},
    {"SetMarkingBusy", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().Device().SetMarkingBusy(A.Count(0)), TResult();
     }},
    {"MarkingCodeState", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return std::string(emuwire::MarkStateName(S.Emu().Device().MarkingCodeState(A.Bytes(0))));
     }},
    {"SetTableField", 4, 4,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         S.Emu().Device().SetTableField(uint8_t(A.Int(0, 0, 255)), uint16_t(A.Int(1, 0, 0xFFFF)),
                                        uint8_t(A.Int(2, 0, 255)), A.Bytes(3));
         return TResult();
     }},
    {"SetArithmeticChecks", 1, 1,
     [](TEmuControlSession& S, const TArgs& A) -> TResult {
         return S.Emu().Device().SetArithmeticChecks(A.Int(0, 0, 1) != 0), TResult();
     }},
};

}  // namespace

TEmuControlSession::TEmuControlSession(TEmuConfig ADefaults, std::string ALinkDir)
    : FDefaults(std::move(ADefaults)), FLinkDir(std::move(ALinkDir)), FEmu(std::make_unique<TEmulator>(FDefaults)) {}

TEmuControlSession::~TEmuControlSession() {
    FEmu.reset();
    ReleaseComNumber();
}

void TEmuControlSession::Reset(const TEmuConfig& AConfig) {
    FEmu.reset();  // stops the old device and removes its link first
    ReleaseComNumber();
    FEmu = std::make_unique<TEmulator>(AConfig);
}

int TEmuControlSession::ClaimComNumber(const std::string& ADir, int AFirst, int ALast) {
    namespace fs = std::filesystem;
    ReleaseComNumber();
    const int Count = ALast - AFirst + 1;
    for (int I = 0; I < Count; ++I) {
        const int N = AFirst + (getpid() + I) % Count;
        const std::string Lock = fs::temp_directory_path() / ("fr_com" + std::to_string(N) + ".lock");
        const int Fd = open(Lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (Fd < 0) continue;
        std::error_code Ec;
        if (flock(Fd, LOCK_EX | LOCK_NB) == 0 &&
            !fs::exists(fs::symlink_status(ADir + "/com" + std::to_string(N), Ec))) {
            FComLockFd = Fd;
            FComLock = Lock;
            return N;
        }
        close(Fd);
    }
    return 0;
}

void TEmuControlSession::ReleaseComNumber() {
    if (FComLockFd < 0) return;
    std::error_code Ec;
    std::filesystem::remove(FComLock, Ec);
    close(FComLockFd);
    FComLockFd = -1;
}

std::string TEmuControlSession::Answer(const std::string& ALine) {
    std::vector<std::string> Tokens = emuwire::Split(ALine, ' ');
    const std::string Name = Tokens.front();
    Tokens.erase(Tokens.begin());
    const auto It =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const TCommand& C) { return Name == C.Name; });
    try {
        if (It == std::end(kCommands)) throw TRequestError("unknown request '" + Name + "'");
        if (Tokens.size() < It->MinArgs || Tokens.size() > It->MaxArgs)
            throw TRequestError(Name + " takes " + std::to_string(It->MinArgs) +
                                (It->MaxArgs == It->MinArgs ? std::string()
                                 : It->MaxArgs == kAny      ? " or more"
                                                            : " to " + std::to_string(It->MaxArgs)) +
                                " arguments, not " + std::to_string(Tokens.size()));
        const TArgs Args(Name, std::move(Tokens));
        const TResult Result = It->Run(*this, Args);
        return Result ? "ok " + *Result : "ok";
    } catch (const std::exception& E) {
        std::string Text = E.what();
        std::replace(Text.begin(), Text.end(), '\n', ' ');
        return "error " + Text;
    }
}

TEmuControlServer::TEmuControlServer(uint16_t APort, TEmuConfig ADefaults, std::string ALinkDir)
    : FDefaults(std::move(ADefaults)), FLinkDir(std::move(ALinkDir)) {
    FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopFd < 0) throw SysError("eventfd");
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int One = 1;
    if (FListenFd < 0 || setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 ||
        bind(FListenFd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || listen(FListenFd, 8) != 0) {
        const std::runtime_error E = SysError("cannot listen on 127.0.0.1:" + std::to_string(APort));
        if (FListenFd >= 0) close(FListenFd);
        close(FStopFd);
        throw E;
    }
    socklen_t L = sizeof A;
    getsockname(FListenFd, reinterpret_cast<sockaddr*>(&A), &L);
    FPort = ntohs(A.sin_port);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TEmuControlServer::~TEmuControlServer() {
    Stop();
    close(FListenFd);
    close(FStopFd);
}

void TEmuControlServer::Stop() {
    const uint64_t One = 1;
    if (write(FStopFd, &One, sizeof One) < 0) {
        // The counter is already set; the loop wakes either way.
    }
    if (FAcceptThread.joinable()) FAcceptThread.join();
    std::vector<std::thread> Threads;
    {
        std::lock_guard<std::mutex> L(FMutex);
        for (int Fd : FConnections) shutdown(Fd, SHUT_RDWR);
        Threads.swap(FThreads);
    }
    for (std::thread& T : Threads) T.join();
}

void TEmuControlServer::AcceptLoop() {
    for (;;) {
        pollfd P[2] = {{FListenFd, POLLIN, 0}, {FStopFd, POLLIN, 0}};
        if (poll(P, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (P[1].revents) return;
        const int Fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (Fd < 0) continue;
        const int One = 1;
        setsockopt(Fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &One, sizeof One);
        std::lock_guard<std::mutex> L(FMutex);
        FConnections.push_back(Fd);
        FThreads.emplace_back([this, Fd] { Serve(Fd); });
    }
}

void TEmuControlServer::Serve(int AFd) {
    {
        TEmuControlSession Session(FDefaults, FLinkDir);
        std::string In;
        char Buf[4096];
        bool Open = true;
        while (Open) {
            const ssize_t N = read(AFd, Buf, sizeof Buf);
            if (N <= 0) {
                if (N < 0 && errno == EINTR) continue;
                break;
            }
            In.append(Buf, size_t(N));
            size_t End;
            while (Open && (End = In.find('\n')) != std::string::npos) {
                std::string Line = In.substr(0, End);
                In.erase(0, End + 1);
                if (!Line.empty() && Line.back() == '\r') Line.pop_back();
                const std::string Out = Session.Answer(Line) + "\n";
                for (size_t Done = 0; Done < Out.size();) {
                    const ssize_t W = send(AFd, Out.data() + Done, Out.size() - Done, MSG_NOSIGNAL);
                    if (W <= 0) {
                        Open = false;
                        break;
                    }
                    Done += size_t(W);
                }
            }
        }
    }  // the session's device stops before the connection is let go
    std::lock_guard<std::mutex> L(FMutex);
    FConnections.erase(std::remove(FConnections.begin(), FConnections.end(), AFd), FConnections.end());
    close(AFd);
}

}  // namespace fr
