// Laying out and drawing a long marked-up message on the fixed-width fake surface: the cost of one
// paint of a label, which the alarm dialogs pay on every repaint. Target: under 1 ms for 2,000 words.
#include "components/FakeLabelSurface.h"
#include "components/uQmLabelEngine.h"

#include "MarkedUpMessage.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

void PaintLongMessage(benchmark::State& state) {
    const std::vector<std::string> text = MarkedUpMessage(2000);
    TLabelPaintInput input;
    input.Text = &text;
    input.Font = {"Tahoma", 11, 1, clBlack, 0};
    input.Width = 400;
    TQmLabelEngine engine;
    TFakeLabelSurface surface;
    surface.Record = state.range(0) != 0;
    for (auto _ : state) {
        surface.Reset();
        const TLabelPaintResult result = engine.Paint(surface, input);
        benchmark::DoNotOptimize(result.Height);
    }
    state.counters["draws"] =
        static_cast<double>(surface.Record ? surface.Draws.size() : surface.UnrecordedDraws);
    state.counters["height"] = engine.LineTop();
}
BENCHMARK(PaintLongMessage)->Arg(1)->Arg(0)->ArgName("recording")->Unit(benchmark::kMicrosecond);

} // namespace
