// kkt-emulator: serves the emulated cash register on loopback TCP and/or a
// pseudo-terminal until interrupted; writes the receipt tape on exit (and
// on SIGUSR1) when asked to.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "uEmuControl.h"
#include "uEmulator.h"

namespace {

struct TOptions {
    fr::TEmuConfig Config;
    int TCPPort = -1, SerialPort = -1, ControlPort = -1;
    bool Pty = false;
    std::string Address = "127.0.0.1", LinkDir = "/dev", TapeText, TapePNG;
    std::vector<std::pair<fr::TEmuMarkAnswer, std::string>> MarkAnswers;  // (answer, code or empty)
    int MarkBusy = 0;
};

// "valid", "invalid", "unconfirmed" or "offline", optionally followed by
// ":" and the marking code it is for (the code may hold any character).
bool MarkAnswer(const std::string& AText, TOptions& O) {
    static const std::pair<const char*, fr::TEmuMarkAnswer> Kinds[] = {
        {"valid", fr::TEmuMarkAnswer::Valid},
        {"invalid", fr::TEmuMarkAnswer::Invalid},
        {"unconfirmed", fr::TEmuMarkAnswer::StatusNotConfirmed},
        {"offline", fr::TEmuMarkAnswer::Offline},
    };
    const size_t Colon = AText.find(':');
    const std::string Kind = AText.substr(0, Colon);
    const std::string Code = Colon == std::string::npos ? std::string() : AText.substr(Colon + 1);
    if (Colon != std::string::npos && Code.empty()) return false;
    for (const auto& [Name, Answer] : Kinds)
        if (Kind == Name) {
            O.MarkAnswers.emplace_back(Answer, Code);
            return true;
        }
    return false;
}

// A whole decimal number in [AMin, AMax].
bool Number(const std::string& AText, long AMin, long AMax, long& AOut) {
    char* End = nullptr;
    errno = 0;
    AOut = std::strtol(AText.c_str(), &End, 10);
    return !AText.empty() && !*End && errno == 0 && AOut >= AMin && AOut <= AMax;
}

// One command-line option: its name, the placeholder of its value (none for
// a flag), its help line, and what it sets (false: the value is refused).
struct TOption {
    const char* Name;
    const char* Value;
    const char* Help;
    bool (*Set)(TOptions& O, const std::string& V);
};

const TOption Options[] = {
    {"--tcp", "PORT", "serve on TCP (default 127.0.0.1:7778 when no transport is given)",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 0, 65535, N) && (O.TCPPort = int(N), true);
     }},
    {"--address", "A.B.C.D", "TCP address to listen on (default 127.0.0.1)",
     [](TOptions& O, const std::string& V) { return O.Address = V, true; }},
    {"--serial", "N", "serve on a pseudo-terminal linked as /dev/comN",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 1, 128, N) && (O.SerialPort = int(N), true);
     }},
    {"--control", "PORT",
     "serve the control channel on 127.0.0.1:PORT (0: any free port) instead of one device; each connection "
     "makes its own device, the device options are its defaults and --link-dir is where its comN links go",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 0, 65535, N) && (O.ControlPort = int(N), true);
     }},
    {"--pty", nullptr, "serve on a pseudo-terminal without a link",
     [](TOptions& O, const std::string&) { return O.Pty = true; }},
    {"--link-dir", "DIR", "make the comN link in DIR instead of /dev",
     [](TOptions& O, const std::string& V) { return O.LinkDir = V, true; }},
    {"--password", "N", "connection password (default 30)",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 0, 99999999, N) && (O.Config.Password = uint32_t(N), true);
     }},
    {"--line-length", "N", "print line length (default 48)",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 16, 72, N) && (O.Config.LineLen = uint8_t(N), true);
     }},
    {"--serial-number", "TEXT", "device serial number (default 0000000012345678)",
     [](TOptions& O, const std::string& V) { return O.Config.SerialNumber = V, true; }},
    {"--model", "TEXT", "model name (UTF-8)",
     [](TOptions& O, const std::string& V) { return O.Config.ModelName = V, true; }},
    {"--ffd", "1.05|1.1|1.2", "fiscal data format (default 1.2)",
     [](TOptions& O, const std::string& V) {
         if (V == "1.05")
             O.Config.FFD = fr::efFFD105;
         else if (V == "1.1")
             O.Config.FFD = fr::efFFD11;
         else if (V == "1.2")
             O.Config.FFD = fr::efFFD12;
         else
             return false;
         return true;
     }},
    {"--unregistered", nullptr, "start with an unregistered fiscal storage",
     [](TOptions& O, const std::string&) { return O.Config.Fiscalised = false, true; }},
    {"--print-polls", "N", "status polls that report printing after output (default 2)",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 0, 1000, N) && (O.Config.PrintPolls = int(N), true);
     }},
    {"--baud", "N", "pace the pseudo-terminal as a serial line at N baud (10 bits a byte)",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 1, 10000000, N) && (O.Config.Baud = int(N), true);
     }},
    {"--marking-answer", "KIND[:CODE]",
     "answer to marking-code checks (of CODE only): valid, invalid, unconfirmed or offline; repeatable",
     [](TOptions& O, const std::string& V) { return MarkAnswer(V, O); }},
    {"--marking-busy", "N", "each marking-code check first answers \"busy\" (4) N times in a row",
     [](TOptions& O, const std::string& V) {
         long N = 0;
         return Number(V, 0, 1000, N) && (O.MarkBusy = int(N), true);
     }},
    {"--tape-text", "FILE", "write the tape as text on exit and on SIGUSR1",
     [](TOptions& O, const std::string& V) { return O.TapeText = V, true; }},
    {"--tape-png", "FILE", "write the tape as a PNG picture on exit and on SIGUSR1",
     [](TOptions& O, const std::string& V) { return O.TapePNG = V, true; }},
};

void Usage() {
    std::cout << "Usage: kkt-emulator [options]\n";
    for (const TOption& O : Options) {
        std::string Left = std::string("  ") + O.Name + (O.Value ? std::string(" ") + O.Value : "");
        Left.resize(std::max<size_t>(Left.size() + 2, 24), ' ');
        std::cout << Left << O.Help << "\n";
    }
}

// The control channel until SIGINT or SIGTERM (SIGUSR1 is ignored: the
// tapes belong to the channel's devices).
int ServeControl(const TOptions& AOpt, const sigset_t& ASignals) {
    try {
        fr::TEmuControlServer Server(uint16_t(AOpt.ControlPort), AOpt.Config, AOpt.LinkDir);
        std::cout << "control 127.0.0.1:" << Server.Port() << std::endl;
        for (int Sig = 0; Sig == 0 || Sig == SIGUSR1;) sigwait(&ASignals, &Sig);
        Server.Stop();
    } catch (const std::exception& E) {
        std::cerr << "kkt-emulator: " << E.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions Opt;
    for (int I = 1; I < argc; ++I) {
        std::string A = argv[I];
        if (A == "--help" || A == "-h") {
            Usage();
            return 0;
        }
        auto It = std::find_if(std::begin(Options), std::end(Options), [&](const TOption& O) { return A == O.Name; });
        if (It == std::end(Options)) {
            std::cerr << "kkt-emulator: unknown option " << A << "\n";
            Usage();
            return 2;
        }
        std::string V;
        if (It->Value) {
            if (I + 1 >= argc) {
                std::cerr << "kkt-emulator: " << A << " needs a value\n";
                return 2;
            }
            V = argv[++I];
        }
        if (!It->Set(Opt, V)) {
            std::cerr << "kkt-emulator: bad value for " << A << ": " << V << "\n";
            return 2;
        }
    }
    if (Opt.ControlPort >= 0 && (Opt.TCPPort >= 0 || Opt.SerialPort >= 0 || Opt.Pty)) {
        std::cerr << "kkt-emulator: --control makes its devices through the channel; it takes no --tcp, --serial "
                     "or --pty\n";
        return 2;
    }
    if (Opt.ControlPort < 0 && Opt.TCPPort < 0 && Opt.SerialPort < 0 && !Opt.Pty) Opt.TCPPort = 7778;

    // Signals are taken synchronously; the serving threads inherit the mask.
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    sigaddset(&Set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);

    if (Opt.ControlPort >= 0) return ServeControl(Opt, Set);
    try {
        fr::TEmulator Emu(Opt.Config);
        for (const auto& [Answer, Code] : Opt.MarkAnswers) Emu.Device().SetMarkingAnswer(Answer, Code);
        Emu.Device().SetMarkingBusy(Opt.MarkBusy);
        if (Opt.TCPPort >= 0) {
            uint16_t P = Emu.StartTCP(uint16_t(Opt.TCPPort), Opt.Address);
            std::cout << "TCP " << Opt.Address << ":" << P << std::endl;
        }
        if (Opt.SerialPort > 0 || Opt.Pty) {
            std::string Path = Emu.StartSerial(Opt.SerialPort > 0 ? Opt.SerialPort : 0, Opt.LinkDir);
            std::cout << "serial " << Path;
            if (!Emu.SerialLink().empty()) std::cout << " linked as " << Emu.SerialLink();
            std::cout << std::endl;
        }
        auto WriteTape = [&] {
            fr::TEmuTape Tape = Emu.Device().Tape();
            if (!Opt.TapeText.empty()) {
                std::ofstream F(Opt.TapeText, std::ios::binary | std::ios::trunc);
                F << Tape.ToText(Emu.Device().Config().LineLen);
                if (!F) std::cerr << "kkt-emulator: cannot write " << Opt.TapeText << "\n";
            }
            if (!Opt.TapePNG.empty()) {
                try {
                    Tape.WritePNG(Opt.TapePNG);
                } catch (const std::exception& E) {
                    std::cerr << "kkt-emulator: " << E.what() << "\n";
                }
            }
        };
        for (;;) {
            int Sig = 0;
            sigwait(&Set, &Sig);
            WriteTape();
            if (Sig != SIGUSR1) break;
        }
        Emu.Stop();
    } catch (const std::exception& E) {
        std::cerr << "kkt-emulator: " << E.what() << "\n";
        return 1;
    }
    return 0;
}
