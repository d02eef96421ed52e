// bench_scan: the disk scan on a generated tree (warm cache) against
//   find ROOT -xdev -type f \( -iname '*exe' -o -iname '*.scr' -o -perm /111 \) -printf '%s\n'
// in the same run: the window's scan (worker thread, drained on a Qt event loop, real scan tab)
// with the longest time its event loop went without handling events, and qmvardel-scan.
//
// Usage: bench_scan [--full] [--tree DIR]. The default tree has 20,000 files in 2,020 folders;
// --full has 200,000 files in 20,220 folders. A tree is generated once under /tmp and reused.
// Other arguments (those scripts/bench.sh gives every benchmark) are ignored.
#include "platform/linux/uLinuxFileSearch.h"
#include "platform/linux/uLinuxPlatform.h"
#include "scan/uScanController.h"
#include "ui/uQtTimer.h"
#include "ui/ufScanTab.h"

#include "fakes/FakePorts.h"
#include "fakes/FakeScanPorts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kDialer = "MZdial";
const std::string kDialerLine = "6-5A------------------------------6C";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// top x 10 x 100 folders with 10 files in each leaf: one in ten a "*exe" or "*.scr" name, one in
// twenty executable, the rest plain; three dialers among them.
void Generate(const std::string& root, int top) {
    std::cout << "generating " << root << " ..." << std::endl;
    fs::remove_all(root);
    int n = 0;
    for (int a = 0; a < top; ++a)
        for (int b = 0; b < 10; ++b)
            for (int c = 0; c < 100; ++c) {
                const std::string dir =
                    root + "/t" + std::to_string(a) + "/m" + std::to_string(b) + "/l" + std::to_string(c);
                fs::create_directories(dir);
                for (int i = 0; i < 10; ++i, ++n) {
                    std::string name = dir + "/f" + std::to_string(i);
                    if (n % 10 == 3)
                        name += ".exe";
                    else if (n % 20 == 7)
                        name += ".scr";
                    else
                        name += ".dat";
                    std::ofstream out(name, std::ios::binary);
                    if (n % 66670 == 1233)
                        out << kDialer;
                    else if (n % 10 == 3)
                        out << "MZ" << n;
                    out.close();
                    if (n % 20 == 11)
                        fs::permissions(name, fs::perms::owner_exec, fs::perm_options::add);
                }
            }
    std::ofstream(root + "/.complete") << "ok\n";
}

double TimeFind(const std::string& root, long& lines) {
    const std::string cmd =
        "find '" + root +
        "' -xdev -type f \\( -iname '*exe' -o -iname '*.scr' -o -perm /111 \\) -printf '%s\\n'";
    const double start = Now();
    FILE* p = ::popen(cmd.c_str(), "r");
    lines = 0;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        lines += std::count(buf, buf + n, '\n');
    ::pclose(p);
    return Now() - start;
}

double TimeTool(const std::string& root, const std::string& db, std::string& out) {
    const std::string cmd =
        std::string("'") + QM_BIN_DIR + "/qmvardel-scan' --quiet --db '" + db + "' '" + root + "'";
    const double start = Now();
    FILE* p = ::popen(cmd.c_str(), "r");
    out.clear();
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    ::pclose(p);
    return Now() - start;
}

double ThreadCpuMs();

// Qt timers that note the longest UI-thread CPU time one tick of theirs took.
class TTimedTimerFactory : public ITimerFactory {
public:
    double LongestTickMs = 0;
    std::unique_ptr<ITimer> CreateTimer() override {
        auto timer = std::make_unique<TQtTimer>();
        auto* raw = timer.get();
        return std::make_unique<TTimed>(std::move(timer), raw, *this);
    }

private:
    class TTimed : public ITimer {
    public:
        TTimed(std::unique_ptr<TQtTimer> inner, TQtTimer* raw, TTimedTimerFactory& owner)
            : FInner(std::move(inner)), FOwner(owner) {
            raw->OnTimer = [this] {
                const double start = ThreadCpuMs();
                if (OnTimer)
                    OnTimer();
                FOwner.LongestTickMs = std::max(FOwner.LongestTickMs, ThreadCpuMs() - start);
            };
        }
        void SetInterval(int ms) override { FInner->SetInterval(ms); }
        int Interval() const override { return FInner->Interval(); }
        void SetSingleShot(bool s) override { FInner->SetSingleShot(s); }
        void Start() override { FInner->Start(); }
        void Stop() override { FInner->Stop(); }
        bool IsActive() const override { return FInner->IsActive(); }

    private:
        std::unique_ptr<TQtTimer> FInner;
        TTimedTimerFactory& FOwner;
    };
};

struct TWindowRun {
    double LongestTickMs = 0; // the UI-thread CPU time of the longest drain tick
    double Seconds = 0;
    double LongestGapMs = 0;  // wall time between two services of the event loop
    double LongestBusyMs = 0; // the UI thread's own CPU time in that stretch (no preemption)
    long Preempted = 0;       // involuntary context switches of the UI thread in the longest gap
    long Waited = 0;          // voluntary ones (it blocked) in the longest gap
    double UiShare = 0;       // the UI thread's CPU time during the scan, as a share of its wall time
    int Found = 0;
};

std::pair<long, long> ThreadSwitches() {
    struct rusage usage {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {usage.ru_nivcsw, usage.ru_nvcsw};
}

double ThreadCpuMs() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// The same probe on an idle event loop: what the machine's load alone costs.
double IdleGapMs(double seconds) {
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    double longest = 0;
    QElapsedTimer sinceLast, total;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceLast.nsecsElapsed() / 1e6);
        sinceLast.restart();
        if (total.elapsed() > seconds * 1000)
            loop.quit();
    });
    sinceLast.start();
    total.start();
    probe.start();
    loop.exec();
    return longest;
}

// The window's scan: the real scan tab, Qt timers and the worker thread; a 1 ms precise timer
// notes how long the event loop went without serving it.
TWindowRun RunWindowScan(const std::string& root, const std::string& dir) {
    TLinuxFileSystem fileSystem;
    TLinuxFileSearch search;
    TLinuxMonotonicClock ticks;
    TThreadJob worker;
    TFakeClock clock;
    TTimedTimerFactory timers;
    TFakeFixedDrives drives;
    drives.Drives = {root};
    TAppIni ini(dir + "/QmVardel.ini", fileSystem);
    TSygnatureManager database(dir + "/Sygn.ini", fileSystem, dir + "/QmVardel");
    QTabWidget tabs;
    auto* tab = new TScanTab(&tabs);
    tabs.addTab(tab, QStringLiteral("Skanowanie"));
    tabs.show();
    // The first paint (fonts, style) is the window's start, not the scan's.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    TScanController scan({.FixedDrives = drives,
                          .FileSearch = search,
                          .Worker = worker,
                          .Ticks = ticks,
                          .Clock = clock,
                          .Timers = timers,
                          .Ini = ini,
                          .Database = database,
                          .QuarantineDir = dir + "/back/"},
                         *tab);
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    TWindowRun run;
    QElapsedTimer sinceLast;
    double cpuLast = ThreadCpuMs();
    std::pair<long, long> switchesLast = ThreadSwitches();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gap = sinceLast.nsecsElapsed() / 1e6;
        const std::pair<long, long> switches = ThreadSwitches();
        if (gap > run.LongestGapMs) {
            run.LongestGapMs = gap;
            run.Preempted = switches.first - switchesLast.first;
            run.Waited = switches.second - switchesLast.second;
        }
        switchesLast = switches;
        sinceLast.restart();
        const double cpu = ThreadCpuMs();
        run.LongestBusyMs = std::max(run.LongestBusyMs, cpu - cpuLast);
        cpuLast = cpu;
        if (!scan.IsScanning())
            loop.quit();
    });
    const double start = Now();
    sinceLast.start();
    cpuLast = ThreadCpuMs();
    const double cpuStart = cpuLast;
    scan.StartScan();
    probe.start();
    loop.exec();
    run.Seconds = Now() - start;
    run.UiShare = (ThreadCpuMs() - cpuStart) / 1000 / run.Seconds;
    run.Found = static_cast<int>(scan.FoundDialers().size());
    run.LongestTickMs = timers.LongestTickMs;
    return run;
}

// qmvardel-scan has no event loop; its figure is the longest step of the walk between two
// callbacks, which bounds how late it reports progress or notices a stop.
double LongestWalkStepMs(const std::string& root) {
    TLinuxFileSearch search;
    double longest = 0;
    double last = Now();
    const auto note = [&] {
        const double now = Now();
        longest = std::max(longest, (now - last) * 1000);
        last = now;
        return true;
    };
    search.Walk(
        root, qm::SplitMasks(kScanMasks), [&](const std::string&, std::uint64_t) { return note(); },
        [&](const std::string&, std::uint64_t) { return note(); });
    return longest;
}

} // namespace

int main(int argc, char** argv) {
    bool full = false;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--full")
            full = true;
        else if (a == "--tree" && i + 1 < argc)
            root = argv[++i];
    }
    const int top = full ? 20 : 2;
    if (root.empty())
        root = "/tmp/qmvardel-scan-bench-" + std::to_string(top * 10000);
    if (!fs::exists(root + "/.complete"))
        Generate(root, top);
    const std::string dir = root + ".work";
    fs::create_directories(dir);
    std::ofstream(dir + "/Sygn.ini") << kDialerLine << "\n";

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    long lines = 0;
    TimeFind(root, lines); // warms the cache
    constexpr int kRounds = 3;
    std::vector<double> find, window, tool;
    TWindowRun worst;
    std::string toolOut;
    for (int r = 0; r < kRounds; ++r) {
        find.push_back(TimeFind(root, lines));
        const TWindowRun run = RunWindowScan(root, dir);
        window.push_back(run.Seconds);
        if (run.LongestGapMs > worst.LongestGapMs) {
            worst.LongestGapMs = run.LongestGapMs;
            worst.Preempted = run.Preempted;
            worst.Waited = run.Waited;
        }
        worst.LongestBusyMs = std::max(worst.LongestBusyMs, run.LongestBusyMs);
        worst.Found = run.Found;
        worst.UiShare = std::max(worst.UiShare, run.UiShare);
        worst.LongestTickMs = std::max(worst.LongestTickMs, run.LongestTickMs);
        tool.push_back(TimeTool(root, dir + "/Sygn.ini", toolOut));
    }
    const auto best = [](std::vector<double> v) {
        return *std::min_element(v.begin(), v.end());
    };
    const double findBest = best(find);
    std::printf("tree %s: %ld candidates by find\n", root.c_str(), lines);
    std::printf("find          %.3f s (best of %d)\n", findBest, kRounds);
    std::printf(
        "window scan   %.3f s, ratio %.2f (target <= 1.0), dialers %d; UI thread busy %.1f%% of the scan "
        "(the 1 ms probe included)\n",
        best(window), best(window) / findBest, worst.Found, worst.UiShare * 100);
    std::printf(
        "  longest event-loop gap %.1f ms (target <= 50; in it the UI thread was preempted %ld times and "
        "blocked %ld times); longest UI-thread work between two services %.1f ms, in one drain tick %.1f ms; "
        "idle loop on this machine "
        "now: %.1f ms\n",
        worst.LongestGapMs, worst.Preempted, worst.Waited, worst.LongestBusyMs, worst.LongestTickMs,
        IdleGapMs(best(window)));
    std::printf("qmvardel-scan %.3f s, ratio %.2f, longest walk step %.1f ms, dialers %ld\n", best(tool),
                best(tool) / findBest, LongestWalkStepMs(root),
                static_cast<long>(std::count(toolOut.begin(), toolOut.end(), '\n')));
    return 0;
}
