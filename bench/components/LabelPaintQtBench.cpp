// The same long message painted by the real widget into an image through QPainter and
// QFontMetrics: what a repaint costs with the platform's text rendering on top of the layout.
#include "components/QmLabel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

QApplication& Application() {
    static int argc = 1;
    static char name[] = "bench_label_paint_qt";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app = [] {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

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

void PaintLongMessageWithQt(benchmark::State& state) {
    Application();
    TQmLabel label;
    label.SetAutoSize(false);
    label.resize(400, 4000);
    label.SetText(MarkedUpMessage(2000));
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        label.render(&image);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(PaintLongMessageWithQt)->Unit(benchmark::kMicrosecond);

} // namespace
