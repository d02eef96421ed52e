// The signature database at the size it must handle: a million lines, loaded from a real file, and
// IsDialer against it on real files whose length is or is not a size field of the database.
#include "detection/uSygnatureManager.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace {

constexpr int kLines = 1000000;
constexpr int kFiles = 64;

std::string HexByte(unsigned v) {
    static const char hex[] = "0123456789ABCDEF";
    return {hex[(v >> 4) & 15], hex[v & 15]};
}

// A folder with the generated database, kFiles files whose length is no size field, and kFiles
// whose length is one (half of them exact dialers, half differing in one sampled byte).
struct TFixture {
    std::filesystem::path Dir;
    std::string Database;
    std::vector<std::string> SizeMissFiles;
    std::vector<std::string> SizeHitFiles;

    TFixture() {
        Dir = std::filesystem::temp_directory_path() / ("qm-bench-sig-" + std::to_string(::getpid()));
        std::filesystem::create_directories(Dir);
        Database = (Dir / "Sygn.ini").string();
        std::mt19937 rng(7);
        TLinuxFileSystem fs;
        std::ofstream db(Database, std::ios::binary);
        db << "[2026.12]\r\n";
        // Files of 2000..2999 bytes are ours; generated lines use 3000 and more.
        for (int i = 0; i < kFiles; ++i) {
            std::string content(static_cast<std::size_t>(2000 + i), '\0');
            for (char& c : content)
                c = static_cast<char>(rng());
            const std::string hit = (Dir / ("hit" + std::to_string(i))).string();
            std::ofstream(hit, std::ios::binary) << content;
            std::string line = qm::FileFingerprint(fs, hit);
            if (i % 2)
                line.replace(line.size() - 2, 2, line.substr(line.size() - 2) == "00" ? "01" : "00");
            db << line << "\r\n";
            SizeHitFiles.push_back(hit);
            const std::string miss = (Dir / ("miss" + std::to_string(i))).string();
            std::ofstream(miss, std::ios::binary) << content.substr(0, 1000 + static_cast<std::size_t>(i));
            SizeMissFiles.push_back(miss);
        }
        std::uniform_int_distribution<unsigned> size(3000, 9999999), byte(0, 255);
        for (int i = kFiles; i < kLines; ++i) {
            std::string line = std::to_string(size(rng)) + "-";
            for (int k = 0; k < 17; ++k)
                line += HexByte(byte(rng));
            db << line << "\r\n";
        }
    }
    ~TFixture() {
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
};

TFixture& Fixture() {
    static TFixture fixture;
    return fixture;
}

long StatusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(key))
            return std::stol(line.substr(key.size()));
    return -1;
}

void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Memory is taken from the first load in the process, before freed buffers of earlier loads
// linger in the heap: the resident growth with the database loaded, and the peak during the load.
void BM_LoadMillionLines(benchmark::State& state) {
    TFixture& f = Fixture();
    TLinuxFileSystem fs;
    static double residentMb = -1, peakMb = -1;
    if (residentMb < 0) {
        ResetPeakRss();
        const long before = StatusKb("VmRSS:");
        TSygnatureManager db(f.Database, fs, "/proc/self/exe");
        residentMb = (StatusKb("VmRSS:") - before) / 1024.0;
        peakMb = (StatusKb("VmHWM:") - before) / 1024.0;
        if (db.Lines().size() != kLines || db.SizeIndex().empty())
            state.SkipWithError("wrong line count");
    }
    for (auto _ : state) {
        TSygnatureManager db(f.Database, fs, "/proc/self/exe");
        benchmark::DoNotOptimize(db.Lines().size());
    }
    state.counters["resident_MB"] = residentMb;
    state.counters["peak_MB"] = peakMb;
}
BENCHMARK(BM_LoadMillionLines)->Unit(benchmark::kMillisecond)->Iterations(5);

void IsDialerOver(benchmark::State& state, const std::vector<std::string>& files, int expectedDialers) {
    TLinuxFileSystem fs;
    TSygnatureManager db(Fixture().Database, fs, "/proc/self/exe");
    int dialers = 0;
    for (const std::string& file : files)
        dialers += db.IsDialer(file);
    if (dialers != expectedDialers)
        state.SkipWithError("unexpected answers");
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db.IsDialer(files[i]));
        i = (i + 1) % files.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_IsDialerLengthNotInDatabase(benchmark::State& state) {
    IsDialerOver(state, Fixture().SizeMissFiles, 0);
}
BENCHMARK(BM_IsDialerLengthNotInDatabase);

void BM_IsDialerLengthInDatabase(benchmark::State& state) {
    IsDialerOver(state, Fixture().SizeHitFiles, kFiles / 2);
}
BENCHMARK(BM_IsDialerLengthInDatabase);

// Content built to defeat the index: every line empty (a megabyte of newlines), or one signature
// repeated in ever-changing letter case. Load and lookups must stay linear in the line count.
std::string AdversarialText(int kind, int lines) {
    std::string text;
    const std::string sig = "123456-abcdefabcdefabcdefabcdefabcdefabcdef";
    for (int i = 0; i < lines; ++i) {
        if (kind == 1) {
            std::string line = sig;
            for (std::size_t k = 7; k < line.size(); ++k)
                if ((i >> (k % 20)) & 1)
                    line[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[k])));
            text += line;
        }
        text += '\n';
    }
    return text;
}

void BM_AdversarialLoad(benchmark::State& state) {
    const std::string text =
        AdversarialText(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        TSygnatureTable table;
        table.Assign(text);
        table.BuildIndex();
        benchmark::DoNotOptimize(table.LineCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(1));
}
BENCHMARK(BM_AdversarialLoad)
    ->ArgNames({"case_variants", "lines"})
    ->ArgsProduct({{0, 1}, {20000, 80000, 1000000}})
    ->Unit(benchmark::kMillisecond);

void BM_AdversarialLookup(benchmark::State& state) {
    TSygnatureTable table;
    table.Assign(AdversarialText(static_cast<int>(state.range(0)), 1000000));
    table.BuildIndex();
    const std::string present = state.range(0) ? "123456-ABCDEFabcdefabcdefabcdefabcdefabcdef" : "";
    const std::string absent = "123456-abcdefabcdefabcdefabcdefabcdefabcde0";
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.ContainsLine(present));
        benchmark::DoNotOptimize(table.ContainsLine(absent));
    }
}
BENCHMARK(BM_AdversarialLookup)->ArgNames({"case_variants"})->Arg(0)->Arg(1);

} // namespace
