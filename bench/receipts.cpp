// Receipts of 1, 10 and 100 positions registered through the host interface
// ("СформироватьЧек", ProcessCheck) against the emulator: over a
// pseudo-terminal paced as a serial line at 115200 baud, and over loopback
// TCP without pacing. The printer of the emulator takes no time, so what is
// measured is the driver and the link.
//
// Counters, averaged over the receipts of a run:
//   ms_per_receipt, us_per_position  wall time of one ProcessCheck call
//   exchanges_per_position           command frames the device received / positions
//   bytes_per_receipt                bytes on the line, both ways
//   wire_ms                          bytes_per_receipt x 10 bits / baud (paced line only)
//   ratio                            ms_per_receipt / wire_ms (paced line only)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "e2e/E2EDevice.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace {

using fr::host::THostValue;
using V = THostValue;

constexpr int kBaud = 115200;

// Log files of the driver go to a temporary folder of this program.
struct TDataDir {
    TDataDir() {
        Dir = std::filesystem::temp_directory_path() / ("fr_bench_receipts_" + std::to_string(getpid()));
        std::filesystem::create_directories(Dir);
        setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
    }
    ~TDataDir() { std::filesystem::remove_all(Dir); }
    std::filesystem::path Dir;
};

// A sale of APositions items at 10.00 with VAT 20 % (1.67 each), paid in cash.
std::string Package(int APositions) {
    std::string P =
        "<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"0\" CashierName=\"Иванов И.И.\" "
        "CashierINN=\"500100732259\"></Parameters><Positions>";
    for (int I = 1; I <= APositions; ++I)
        P += "<FiscalString Name=\"Товар " + std::to_string(I) +
             "\" Quantity=\"1\" PriceWithDiscount=\"10.00\" AmountWithDiscount=\"10.00\" VATRate=\"20\" "
             "VATAmount=\"1.67\" PaymentMethod=\"4\" CalculationSubject=\"1\"/>";
    P += "</Positions><Payments Cash=\"" + std::to_string(APositions * 10) + ".00\"/></CheckPackage>";
    return P;
}

// The driver loaded and opened on an emulator, with an open shift.
struct TBench {
    TBench(bool APaced) : Paced(APaced) {
        fr::TEmuConfig C;
        C.PrintPolls = 0;
        C.Baud = APaced ? kBaud : 0;
        Emu = std::make_unique<fr::TEmulator>(C);
        Host.Load(FR_LIBRARY_PATH);
        if (!Host.Create("fr_orvalen1c8x3n")) {
            Error = "cannot create the component";
            return;
        }
        if (APaced) {
            if (Com.Number == 0 || access("/dev", W_OK) != 0) {
                Error = "no free /dev/com number (or /dev is not writable)";
                return;
            }
            Emu->StartSerial(Com.Number);
            Set("PortNumber", V::Int32(Com.Number));
            Set("BaudRate", V::Int32(kBaud));
        } else {
            Set("PortNumber", V::Int32(9999));
            Set("IPPort", V::Int32(Emu->StartTCP()));
        }
        auto R = Host.Call("Open", {V::Empty()});
        if (!R.Result.Bool) {
            Error = "Open: " + Host.LastError().second;
            return;
        }
        ID = R.Params[0].Str;
        const std::string Cashier =
            "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/>"
            "</InputParameters>";
        if (!Host.Call("OpenShift", {V::String(ID), V::String(Cashier), V::Empty()}).Result.Bool)
            Error = "OpenShift: " + Host.LastError().second;
    }
    ~TBench() {
        Host.Destroy();
        Emu->Stop();
    }
    void Set(const std::string& AName, const V& AValue) { Host.Call("SetParameter", {V::String(AName), AValue}); }

    bool Paced;
    TDataDir Data;
    TComNumber Com{100, 20};  // numbers of their own, beside the test suites'
    std::unique_ptr<fr::TEmulator> Emu;
    fr::host::TComponentHost Host;
    std::string ID, Error;
};

void RunReceipts(benchmark::State& State, bool APaced) {
    const int Positions = int(State.range(0));
    TBench B(APaced);
    if (!B.Error.empty()) {
        State.SkipWithError(B.Error.c_str());
        return;
    }
    const std::string Pkg = Package(Positions);
    double Seconds = 0;
    uint64_t Frames = 0, Bytes = 0, Receipts = 0;
    for (auto _ : State) {
        const uint64_t F0 = B.Emu->CommandFrameCount();
        const uint64_t B0 = B.Emu->BytesReceived() + B.Emu->BytesSent();
        const auto T0 = std::chrono::steady_clock::now();
        auto R = B.Host.Call("ProcessCheck", {V::String(B.ID), V::Boolean(false), V::String(Pkg), V::Empty()});
        const double Dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
        if (!R.Called || !R.Result.Bool) {
            State.SkipWithError(("ProcessCheck: " + B.Host.LastError().second).c_str());
            break;
        }
        State.SetIterationTime(Dt);
        Seconds += Dt;
        Frames += B.Emu->CommandFrameCount() - F0;
        Bytes += B.Emu->BytesReceived() + B.Emu->BytesSent() - B0;
        ++Receipts;
        // Keep the emulator's records small; not part of the receipt's time.
        B.Emu->Device().ClearCommands();
        B.Emu->Device().ClearTape();
    }
    if (!Receipts) return;
    const double PerReceipt = Seconds / double(Receipts);
    State.counters["ms_per_receipt"] = PerReceipt * 1e3;
    State.counters["us_per_position"] = PerReceipt * 1e6 / Positions;
    State.counters["exchanges_per_position"] = double(Frames) / double(Receipts) / Positions;
    State.counters["bytes_per_receipt"] = double(Bytes) / double(Receipts);
    if (APaced) {
        const double Wire = double(Bytes) / double(Receipts) * 10.0 / kBaud;
        State.counters["wire_ms"] = Wire * 1e3;
        State.counters["ratio"] = PerReceipt / Wire;
    }
}

// Runs per receipt size: the paced line takes about 1 ms a position.
const bool kRegistered = [] {
    const struct { int Positions, PtyRuns, TcpRuns; } Sizes[] = {{1, 20, 50}, {10, 10, 20}, {100, 4, 5}};
    for (const auto& S : Sizes) {
        benchmark::RegisterBenchmark("BM_ReceiptPty115200", RunReceipts, true)
            ->Arg(S.Positions)
            ->Iterations(S.PtyRuns)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ReceiptTcp", RunReceipts, false)
            ->Arg(S.Positions)
            ->Iterations(S.TcpRuns)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
