// Graphic text as the device layer asks for it: one 40-character line at
// 40 points in the 40 mm paper width, centred and wrapped, to printer rows.
// Target: median under 10 ms.
#include <benchmark/benchmark.h>

#include <string>

#include "device/uGraphicText.h"

namespace {

void BM_GraphicText40Chars40Points(benchmark::State& State) {
    const std::string Text = "Спасибо за покупку! Ждём вас снова 12345";  // 40 characters
    int Width = 0, Height = 0;
    // The first rendering loads the font configuration once per process.
    benchmark::DoNotOptimize(
        fr::TPrintGraphicText::GetGraphicText(Text, 40, 15, 40, "Arial", "", "center", "center", true, Width, Height));
    for (auto _ : State) {
        std::string Rows = fr::TPrintGraphicText::GetGraphicText(Text, 40, 15, 40, "Arial", "", "center", "center",
                                                                 true, Width, Height);
        benchmark::DoNotOptimize(Rows);
    }
    State.counters["rows"] = Height;
}
BENCHMARK(BM_GraphicText40Chars40Points)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
