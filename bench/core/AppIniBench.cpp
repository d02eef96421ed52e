// A statistics-like cycle on a settings file that holds 1,000 numbers in four sections: the
// statistics store reads and writes about nine values every second of a connection.
#include "core/uAppIni.h"
#include "platform/linux/uLinuxPlatform.h"

#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

const char* kSections[] = {"day_statistics", "week_statistics", "month_statistics", "global_statistics"};

std::string MakeFile() {
    std::string text = "[main]\nskin=0\nscan_frequency=2\nlast_stat_write=46365\n";
    for (const char* section : kSections) {
        text += std::string("[") + section + "]\n";
        for (int i = 0; i < 1000; ++i) {
            text += "time_0" + std::to_string(700000 + i) + "=" + std::to_string(i * 17) + "\n";
            text += "concount_0" + std::to_string(700000 + i) + "=" + std::to_string(i) + "\n";
        }
    }
    return text;
}

// state.range(0) = 1: the cycle's writes grouped into one replacement (TAppIniUpdate).
void BM_StatisticsCycle(benchmark::State& state) {
    const bool grouped = state.range(0) != 0;
    const TTempDir dir;
    const std::string path = dir.Write("QmVardel.ini", MakeFile());
    TLinuxFileSystem fs;
    TAppIni ini(path, fs);
    int tick = 0;
    for (auto _ : state) {
        ++tick;
        std::string number = std::to_string(700000 + tick % 1000);
        number.insert(number.begin(), '0'); // not "0" + ...: GCC 12 warns falsely (-Wrestrict) on that
        std::optional<TAppIniUpdate> update;
        if (grouped)
            update.emplace(ini);
        benchmark::DoNotOptimize(ini.ReadInt("last_stat_write", 0, "main"));
        for (const char* section : kSections) {
            const int seconds = ini.ReadInt("time_" + number, 0, section);
            const int count = ini.ReadInt("concount_" + number, 0, section);
            ini.WriteInt("time_" + number, seconds + 1, section);
            ini.WriteInt("concount_" + number, count, section);
        }
        ini.WriteFloat("last_stat_write", "main", 46365);
    }
}
BENCHMARK(BM_StatisticsCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
