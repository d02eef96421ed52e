// Laying out and drawing a long marked-up message on the fixed-width fake surface: the cost of one
// paint of a label, which the alarm dialogs pay on every repaint. Target: under 1 ms for 2,000 words.
#include "components/FakeLabelSurface.h"
#include "components/uQmLabelEngine.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// 2,000 words in lines of 20, with every kind of markup the program's texts use: tags, colour
// tags, word format markers and addresses.
std::vector<std::string> MarkedUpMessage(int words) {
    static const char* const kWords[] = {
        "Program",
        ".QmVardel",
        "wykrył",
        "<b>próbę</b>",
        "połączenia",
        "z",
        ",numerem",
        "<color:clRed>spoza</color>",
        "listy",
        "_dozwolonych.",
        "Szczegóły:",
        "www.qmvardel.pl",
        "biuro@qmvardel.pl",
        "<i>Kliknięcie</i>",
        "przycisku",
        "<plain>Aktualizuj",
    };
    constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    std::vector<std::string> lines;
    std::string line;
    for (int i = 0; i < words; ++i) {
        if (!line.empty())
            line += ' ';
        line += kWords[i % kWordCount];
        if ((i + 1) % 20 == 0) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

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
