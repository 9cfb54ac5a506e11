// One log line as the driver writes it: format, open, size check, append,
// close. Target: well under 50 microseconds median.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "log/uLog.h"

namespace {

void BM_WriteLogLine(benchmark::State& State) {
    namespace fs = std::filesystem;
    std::random_device Rd;
    const fs::path Dir =
        fs::temp_directory_path() / ("fr_log_bench_" + std::to_string(getpid()) + "_" + std::to_string(Rd()));
    {
        fr::TLog Log;
        Log.SetLogDirectory(Dir.string());
        Log.SetLogBaseName("bench");
        Log.SetLogMode(fr::lmAll);
        Log.WriteLog("warm-up", "", fr::llInfo);
        for (auto _ : State)
            Log.WriteLog("TDevice", "Command FF01h, answer 00 01 02 03 04 05 06 07", fr::llDebug);
        Log.SetLogMode(fr::lmSuspended);
    }
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
}
BENCHMARK(BM_WriteLogLine)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
