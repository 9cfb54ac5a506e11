// Cost of one host call through the component frame with logging off:
// look-up of the registry entry, the log-mode switch, the parameter text,
// the driver method and the result value.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "v8host/uV8Host.h"

namespace {

struct TLoaded {
    TLoaded() {
        Dir = std::filesystem::temp_directory_path() / ("fr_bench_" + std::to_string(getpid()));
        setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
        Host.Load(FR_LIBRARY_PATH);
        Host.Create("fr_orvalen1c8x3n");
    }
    ~TLoaded() {
        Host.Destroy();
        std::filesystem::remove_all(Dir);
    }
    std::filesystem::path Dir;
    fr::host::TComponentHost Host;
};

TLoaded& Loaded() {
    static TLoaded L;
    return L;
}

// GetInterfaceRevision: no parameters, an integer result.
void BM_CallAsFuncTrivial(benchmark::State& State) {
    IComponentBase* Obj = Loaded().Host.Object();
    const long N = Obj->FindMethod(u"GetInterfaceRevision");
    tVariant Ret{};
    for (auto _ : State) {
        Obj->CallAsFunc(N, &Ret, nullptr, 0);
        benchmark::DoNotOptimize(Ret.lVal);
    }
}
BENCHMARK(BM_CallAsFuncTrivial)->Repetitions(5)->ReportAggregatesOnly(true);

// A method with a device identifier as its first parameter (the call log
// switch looks it up) that fails at once for an unknown device.
void BM_CallAsFuncWithDeviceID(benchmark::State& State) {
    auto& H = Loaded().Host;
    IComponentBase* Obj = H.Object();
    const long N = Obj->FindMethod(u"OpenCashDrawer");
    std::u16string ID = u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
    tVariant Param{};
    Param.vt = VTYPE_PWSTR;
    Param.pwstrVal = ID.data();
    Param.wstrLen = uint32_t(ID.size());
    tVariant Ret{};
    for (auto _ : State) {
        Obj->CallAsFunc(N, &Ret, &Param, 1);
        benchmark::DoNotOptimize(Ret.bVal);
    }
}
BENCHMARK(BM_CallAsFuncWithDeviceID)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
