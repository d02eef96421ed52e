// The phone book under sizes and shapes that once made it slow: the service's number-to-entry
// lookup over a wvdial.conf of a thousand dialers (every dial of an unknown number does it), and a
// peer that includes itself under many spellings.
#include "platform/linux/uLinuxRemoteAccess.h"
#include "platform/uNoProcessControl.h"
#include "support/TempDir.h"
#include "uPeersLookup.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

void BM_FindPeersEntryThousandDialers(benchmark::State& state) {
    TTempDir dir;
    std::string conf = "[Dialer Defaults]\nModem = /dev/ttyS0\n";
    for (int i = 0; i < state.range(0); ++i)
        conf += "[Dialer isp" + std::to_string(i) + "]\nPhone = 0700" + std::to_string(100000 + i) + "\n";
    dir.Write("wvdial.conf", conf);
    const std::string wanted = "0700" + std::to_string(100000 + state.range(0) / 2);
    for (auto _ : state) {
        const auto entry = FindPeersEntry(dir.Path(), wanted);
        if (!entry)
            state.SkipWithError("entry not found");
        benchmark::DoNotOptimize(entry);
    }
}
BENCHMARK(BM_FindPeersEntryThousandDialers)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_PeerIncludingItselfUnderManySpellings(benchmark::State& state) {
    TTempDir dir;
    const std::string peers = dir / "ppp/peers/";
    std::string self = "connect \"chat '' ATDT0303\"\n";
    for (int k = 0; k < state.range(0); ++k)
        self += "file " + peers + std::string(static_cast<std::size_t>(k), '/') + "self\n";
    dir.Write("ppp/peers/self", self);
    TNoProcessControl processes;
    TLinuxRemoteAccess ras(dir.Path(), processes);
    for (auto _ : state)
        benchmark::DoNotOptimize(ras.GetEntryPhoneNumber("self", ""));
}
BENCHMARK(BM_PeerIncludingItselfUnderManySpellings)->Arg(9)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
