// UpdateStatistics on a real settings file on disk holding 1,000 numbers in the four statistics
// sections: median and maximum of 10,000 calls (each one durable replacement of the file).
// RefreshStatistics of the real grid (offscreen) with 1,000 allowed numbers.
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"
#include "statistics/uStatistics.h"
#include "ui/ufStatisticsTab.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string Number(int i) {
    std::string number(1, '0');
    number += std::to_string(202000 + i);
    return number;
}

std::string SettingsWithNumbers(int count) {
    std::string text = "[main]\nfirst_run_flg=0\nlast_stat_write=45000\n[allowed_connections]\n";
    for (int i = 0; i < count; ++i)
        text.append(std::to_string(i)).append("=").append(Number(i)).append("\n");
    for (const char* section : kStatSections) {
        text.append("[").append(section).append("]\n");
        for (int i = 0; i < count; ++i) {
            const std::string n = Number(i);
            text.append("time_").append(n).append("=").append(std::to_string(3600 + i));
            text.append("\nconcount_").append(n).append("=").append(std::to_string(1 + i % 9)).append("\n");
        }
    }
    return text;
}

struct TSettingsDir {
    fs::path Dir = fs::temp_directory_path() / ("qm_bench_stats_" + std::to_string(::getpid()));
    TSettingsDir() {
        fs::create_directories(Dir);
        TLinuxFileSystem files;
        files.ReplaceFile(Path(), SettingsWithNumbers(1000));
    }
    ~TSettingsDir() { fs::remove_all(Dir); }
    std::string Path() const { return (Dir / "QmVardel.ini").string(); }
};

void BM_UpdateStatistics(benchmark::State& state) {
    TSettingsDir dir;
    TLinuxFileSystem files;
    TFakeClock clock; // one fixed day: every call is an ordinary second, not a rollover
    clock.Time = 45000.5;
    TAppIni ini(dir.Path(), files);
    TStatisticsStore store({.Ini = ini, .Clock = clock});
    std::vector<double> ms;
    ms.reserve(10000);
    int i = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        store.UpdateStatistics(Number((i++ * 37) % 1000), false);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["max_ms"] = ms.back();
}
BENCHMARK(BM_UpdateStatistics)->Iterations(10000)->Unit(benchmark::kMillisecond);

void BM_RefreshStatistics(benchmark::State& state) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "bench_statistics";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    TSettingsDir dir;
    TLinuxFileSystem files;
    TAppIni ini(dir.Path(), files);
    TStatisticsTab tab(nullptr);
    TStatisticsTable table({.Ini = ini, .View = tab});
    table.SetStatisticsHeaders();
    for (auto _ : state) {
        table.RefreshStatistics();
        benchmark::DoNotOptimize(tab.grdStatistics->rowCount());
    }
}
BENCHMARK(BM_RefreshStatistics)->Iterations(50)->Unit(benchmark::kMillisecond);

} // namespace
