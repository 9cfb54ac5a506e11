// Times host calls through the library against kkt-emulator --control, so
// that the same program measures the Linux library and the Windows DLL under
// Wine on the same emulator: a status read (GetCurrentStatus) and a receipt
// of one position (ProcessCheck), each repeated, over TCP or the serial line.
// It prints the median, the 90th percentile and the mean of each call and
// the command frames it took, so that the time per exchange can be compared.
//
//   exchange_time [--transport tcp|serial] [--calls N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "e2e/E2EDevice.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace {

using fr::host::TComponentHost;
using V = fr::host::THostValue;
using TClock = std::chrono::steady_clock;

const std::string kCashier =
    "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/></InputParameters>";
const std::string kReceipt =
    "<CheckPackage><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\" OperationType=\"1\" "
    "TaxationSystem=\"0\"></Parameters><Positions><FiscalString Name=\"Товар\" Quantity=\"1\" "
    "PriceWithDiscount=\"10.00\" AmountWithDiscount=\"10.00\" VATRate=\"20\" VATAmount=\"1.67\" "
    "PaymentMethod=\"4\" CalculationSubject=\"1\"/></Positions><Payments Cash=\"10.00\"/></CheckPackage>";

struct TTimes {
    std::vector<double> Ms;
    uint64_t Frames = 0;
};

void Print(const char* AName, TTimes& ATimes) {
    std::vector<double>& M = ATimes.Ms;
    std::sort(M.begin(), M.end());
    const double Mean = std::accumulate(M.begin(), M.end(), 0.0) / double(M.size());
    const double Frames = double(ATimes.Frames) / double(M.size());
    std::printf("%-14s %6zu %9.2f %9.2f %9.2f %8.1f %12.3f\n", AName, M.size(), M[M.size() / 2], M[M.size() * 9 / 10],
                Mean, Frames, Mean / Frames);
}

int Run(bool ATcp, int ACalls) {
    const auto Dir = std::filesystem::temp_directory_path() /
                     ("fr_exchange_time_" + std::to_string(TClock::now().time_since_epoch().count()));
    std::filesystem::create_directories(Dir);
#ifdef _WIN32
    _putenv_s("FR_ORVALEN1C8X3N_DATA_DIR", Dir.string().c_str());
#else
    setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
#endif
    fr::TEmuConfig C;
    C.PrintPolls = 0;
    fr::TEmulator Emu(C);
    TComponentHost Host;
    Host.Load(FR_LIBRARY_PATH);
    if (!Host.Create("fr_orvalen1c8x3n")) throw std::runtime_error("the library refused to create the component");
    const auto Call = [&](const std::string& AName, std::vector<V> AParams) {
        const auto R = Host.Call(AName, AParams);
        if (!R.Result.Bool) throw std::runtime_error(AName + ": " + Host.LastError().second);
        return R;
    };
    std::unique_ptr<TComNumber> Com;
    if (ATcp) {
        Call("SetParameter", {V::String("PortNumber"), V::Int32(9999)});
        Call("SetParameter", {V::String("IPPort"), V::Int32(Emu.StartTCP())});
    } else {
        Com = std::make_unique<TComNumber>(130, 10);
        if (Com->Number == 0) throw std::runtime_error("no free com number");
        Emu.StartSerial(Com->Number);
        Call("SetParameter", {V::String("PortNumber"), V::Int32(Com->Number)});
    }
    const std::string ID = Call("Open", {V::Empty()}).Params[0].Str;
    Call("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()});

    const auto Measure = [&](const std::string& AName, std::vector<V> AParams) {
        TTimes T;
        const uint64_t Frames0 = Emu.CommandFrameCount();
        for (int I = 0; I < ACalls; ++I) {
            const TClock::time_point T0 = TClock::now();
            Call(AName, AParams);
            T.Ms.push_back(std::chrono::duration<double, std::milli>(TClock::now() - T0).count());
        }
        T.Frames = Emu.CommandFrameCount() - Frames0;
        return T;
    };
    TTimes Status = Measure("GetCurrentStatus", {V::String(ID), V::String("<InputParameters/>"), V::Empty()});
    TTimes Receipt = Measure("ProcessCheck", {V::String(ID), V::Boolean(false), V::String(kReceipt), V::Empty()});
    Host.Call("Close", {V::String(ID)});
    Host.Destroy();
    Emu.Stop();
    std::filesystem::remove_all(Dir);

    std::printf("%s, %d calls of each\n", ATcp ? "TCP" : "serial line", ACalls);
    std::printf("%-14s %6s %9s %9s %9s %8s %12s\n", "call", "calls", "median", "p90", "mean", "frames", "ms/frame");
    Print("status read", Status);
    Print("receipt", Receipt);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool Tcp = true;
    int Calls = 200;
    for (int I = 1; I < argc; ++I) {
        const std::string A = argv[I];
        if (A == "--transport" && I + 1 < argc) {
            Tcp = std::string(argv[++I]) != "serial";
        } else if (A == "--calls" && I + 1 < argc) {
            Calls = std::max(1, std::atoi(argv[++I]));
        } else {
            std::fprintf(stderr, "usage: exchange_time [--transport tcp|serial] [--calls N]\n");
            return 64;
        }
    }
    try {
        return Run(Tcp, Calls);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "exchange_time: %s\n", E.what());
        return 2;
    }
}
