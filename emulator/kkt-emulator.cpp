// kkt-emulator: serves the emulated cash register on loopback TCP and/or a
// pseudo-terminal until interrupted; writes the receipt tape on exit (and
// on SIGUSR1) when asked to.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "uEmulator.h"

namespace {

void Usage() {
    std::cout << "Usage: kkt-emulator [options]\n"
                 "  --tcp PORT            serve on TCP (default 127.0.0.1:7778 when no transport is given)\n"
                 "  --address A.B.C.D     TCP address to listen on (default 127.0.0.1)\n"
                 "  --serial N            serve on a pseudo-terminal linked as /dev/comN\n"
                 "  --pty                 serve on a pseudo-terminal without a link\n"
                 "  --link-dir DIR        make the comN link in DIR instead of /dev\n"
                 "  --password N          connection password (default 30)\n"
                 "  --line-length N       print line length (default 48)\n"
                 "  --serial-number TEXT  device serial number (default 0000000012345678)\n"
                 "  --model TEXT          model name (UTF-8)\n"
                 "  --ffd 1.05|1.1|1.2    fiscal data format (default 1.2)\n"
                 "  --unregistered        start with an unregistered fiscal storage\n"
                 "  --print-polls N       status polls that report printing after output (default 2)\n"
                 "  --tape-text FILE      write the tape as text on exit and on SIGUSR1\n"
                 "  --tape-png FILE       write the tape as a PNG picture on exit and on SIGUSR1\n";
}

}  // namespace

int main(int argc, char** argv) {
    fr::TEmuConfig Config;
    int TCPPort = -1, SerialPort = -1;
    bool Pty = false;
    std::string Address = "127.0.0.1", LinkDir = "/dev", TapeText, TapePNG;
    for (int I = 1; I < argc; ++I) {
        std::string A = argv[I];
        auto Next = [&]() -> std::string {
            if (I + 1 >= argc) {
                std::cerr << "kkt-emulator: " << A << " needs a value\n";
                std::exit(2);
            }
            return argv[++I];
        };
        auto Number = [&](long AMin, long AMax) {
            std::string V = Next();
            char* End = nullptr;
            long N = std::strtol(V.c_str(), &End, 10);
            if (V.empty() || *End || N < AMin || N > AMax) {
                std::cerr << "kkt-emulator: bad value for " << A << ": " << V << "\n";
                std::exit(2);
            }
            return N;
        };
        if (A == "--help" || A == "-h") {
            Usage();
            return 0;
        } else if (A == "--tcp") {
            TCPPort = int(Number(0, 65535));
        } else if (A == "--address") {
            Address = Next();
        } else if (A == "--serial") {
            SerialPort = int(Number(1, 128));
        } else if (A == "--pty") {
            Pty = true;
        } else if (A == "--link-dir") {
            LinkDir = Next();
        } else if (A == "--password") {
            Config.Password = uint32_t(Number(0, 99999999));
        } else if (A == "--line-length") {
            Config.LineLen = uint8_t(Number(16, 72));
        } else if (A == "--serial-number") {
            Config.SerialNumber = Next();
        } else if (A == "--model") {
            Config.ModelName = Next();
        } else if (A == "--ffd") {
            std::string V = Next();
            if (V == "1.05")
                Config.FFD = fr::efFFD105;
            else if (V == "1.1")
                Config.FFD = fr::efFFD11;
            else if (V == "1.2")
                Config.FFD = fr::efFFD12;
            else {
                std::cerr << "kkt-emulator: --ffd takes 1.05, 1.1 or 1.2\n";
                return 2;
            }
        } else if (A == "--unregistered") {
            Config.Fiscalised = false;
        } else if (A == "--print-polls") {
            Config.PrintPolls = int(Number(0, 1000));
        } else if (A == "--tape-text") {
            TapeText = Next();
        } else if (A == "--tape-png") {
            TapePNG = Next();
        } else {
            std::cerr << "kkt-emulator: unknown option " << A << "\n";
            Usage();
            return 2;
        }
    }
    if (TCPPort < 0 && SerialPort < 0 && !Pty) TCPPort = 7778;

    // Signals are taken synchronously; the serving threads inherit the mask.
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    sigaddset(&Set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);

    try {
        fr::TEmulator Emu(Config);
        if (TCPPort >= 0) {
            uint16_t P = Emu.StartTCP(uint16_t(TCPPort), Address);
            std::cout << "TCP " << Address << ":" << P << std::endl;
        }
        if (SerialPort > 0 || Pty) {
            std::string Path = Emu.StartSerial(SerialPort > 0 ? SerialPort : 0, LinkDir);
            std::cout << "serial " << Path;
            if (!Emu.SerialLink().empty()) std::cout << " linked as " << Emu.SerialLink();
            std::cout << std::endl;
        }
        auto WriteTape = [&] {
            fr::TEmuTape Tape = Emu.Device().Tape();
            if (!TapeText.empty()) {
                std::ofstream F(TapeText, std::ios::binary | std::ios::trunc);
                F << Tape.ToText(Emu.Device().Config().LineLen);
                if (!F) std::cerr << "kkt-emulator: cannot write " << TapeText << "\n";
            }
            if (!TapePNG.empty()) {
                try {
                    Tape.WritePNG(TapePNG);
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
