// The time to remove a dialer on a machine with 20 users and 100 autostart entries to look
// through (5 per user, one of which starts the dialer), on real files: the process list, the move
// into the quarantine with its record, the backup and deletion of the entry, the log.
#include "detection/uDialerRemoval.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxProcessControl.h"
#include "platform/linux/uLinuxQuarantineFiles.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kUsers = 20;
constexpr int kEntriesPerUser = 5;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void BM_RemoveDialer(benchmark::State& state) {
    const fs::path root = fs::temp_directory_path() / ("qm-bench-removal-" + std::to_string(::getpid()));
    fs::remove_all(root);
    std::string passwd;
    for (int u = 0; u < kUsers; ++u) {
        std::string user = "u";
        user += std::to_string(u);
        const fs::path home = root / "home" / user;
        passwd += user;
        passwd += ":x:" + std::to_string(2000 + u) + ":100::" + home.string() + ":/bin/sh\n";
        for (int e = 0; e < kEntriesPerUser; ++e)
            Write(home / ".config/autostart" / ("app" + std::to_string(e) + ".desktop"),
                  "[Desktop Entry]\nType=Application\nName=App\nExec=/usr/bin/app" + std::to_string(e) +
                      " --tray\n");
    }
    Write(root / "etc/passwd", passwd);
    const fs::path dialer = root / "home/u7/Pobrane/dialer.exe";
    const fs::path entry = root / "home/u7/.config/autostart/app4.desktop";

    TLinuxProcessControl processes;
    TLinuxQuarantineFiles files;
    TLinuxAutoStartEntries entries(
        TLinuxAutoStartRoots{.PasswdFile = (root / "etc/passwd").string(),
                             .ConfigDirs = (root / "etc/xdg").string(),
                             .ConfigHome = "",
                             .SystemUnitDir = (root / "etc/systemd/system").string(),
                             .CurrentUid = 4242});
    TLinuxFileSystem fileSystem;
    TFakeClock clock;
    const std::string quarantine = (root / "back").string() + "/";
    TDialerRemoval removal({.Processes = processes,
                            .Quarantine = files,
                            .AutoStartEntries = entries,
                            .FileSystem = fileSystem,
                            .Clock = clock,
                            .QuarantineDir = [&] {
                                return quarantine;
                            }});
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(root / "back");
        Write(dialer, std::string(200000, 'd'));
        Write(entry, "[Desktop Entry]\nType=Application\nName=Szybki Internet\nExec=\"" + dialer.string() +
                         "\" --silent\n");
        state.ResumeTiming();
        if (!removal.RemoveDialer(dialer.string(), nullptr) || fs::exists(entry))
            state.SkipWithError("the dialer was not removed");
    }
    fs::remove_all(root);
}

} // namespace

BENCHMARK(BM_RemoveDialer)->Unit(benchmark::kMillisecond)->MinTime(1.0);
