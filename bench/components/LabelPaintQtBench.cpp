// The same long message painted by the real widget into an image through QPainter and
// QFontMetrics: what a repaint costs with the platform's text rendering on top of the layout.
#include "components/QmLabel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "MarkedUpMessage.h"

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
