// The scan controller over fakes: schedule, results, abort, quarantine folder, and one run on a
// real worker thread with a database reload in the middle.
#include "scan/uScanController.h"

#include "platform/linux/uLinuxFileSearch.h"
#include "platform/linux/uLinuxPlatform.h"

#include "fakes/FakePorts.h"
#include "fakes/FakeScanPorts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace {

// A dialer's content and its signature line (6 bytes: offsets 1 and 5 inside, the rest outside).
const std::string kDialer = "MZdial";
const std::string kDialerLine = "6-5A------------------------------6C";

class TRecordingScanView : public IScanView {
public:
    int Page = 0;
    bool ScanAnimation = false, Siren = false;
    int AnimationStops = 0;
    bool Scanning = false;
    int ResultPage = -1; // -1: hidden
    std::vector<std::string> List;
    std::string SearchResult, Directory, Progress;
    bool Alert = false;
    bool RemoveVisible = false;
    std::vector<std::string> Errors;
    std::vector<int> TrayStates;
    TTrayState Tray = trayIdle;
    bool Minimized = true;
    int ScanTabShown = 0;
    std::function<void()> OnDialerAdded;

    int ScanAnimationPage() const override { return Page; }
    void ShowScanAnimationPage(int page) override { Page = page; }
    void StopScanAnimations() override {
        ++AnimationStops;
        ScanAnimation = Siren = false;
    }
    void StartScaningAnimation() override { ScanAnimation = true; }
    void StartSirenAnimation() override { Siren = true; }
    void SetScanning(bool scanning) override { Scanning = scanning; }
    void ShowScanResults(TScanResultPage page) override { ResultPage = page; }
    void HideScanResults() override { ResultPage = -1; }
    void ClearFoundDialers() override { List.clear(); }
    void AddFoundDialer(const std::string& path) override {
        List.push_back(path);
        if (OnDialerAdded)
            OnDialerAdded();
    }
    void SetSearchResult(const std::string& markup) override { SearchResult = markup; }
    void SetScanDirectory(const std::string& text) override { Directory = text; }
    void SetScanDirectoryAlert(bool darkRed) override { Alert = darkRed; }
    void SetRemoveDialersVisible(bool visible) override { RemoveVisible = visible; }
    void ShowScanProgress(const std::string& text) override { Progress = text; }
    void ShowScanError(const std::string& text) override { Errors.push_back(text); }
    void SetTrayState(int state) override { TrayStates.push_back(state); }
    TTrayState TrayState() const override { return Tray; }
    bool IsMinimized() const override { return Minimized; }
    void ShowScanTab() override { ++ScanTabShown; }
};

struct TScanFixture {
    TFakeFileSystem Fs;
    TFakeClock Clock;
    TFakeMonotonicClock Ticks;
    TFakeTimerFactory Timers;
    TFakeFixedDrives Drives;
    TFakeFileSearch Search;
    TFakeBackgroundJob Worker;
    std::unique_ptr<TAppIni> Ini;
    std::unique_ptr<TSygnatureManager> Database;
    TRecordingScanView View;
    std::vector<std::vector<std::string>> Removals;
    std::unique_ptr<TScanController> Scan;

    TScanFixture() {
        Fs.Put("/app/Sygn.ini", "[1.0]\r\n" + kDialerLine + "\r\n");
        Ini = std::make_unique<TAppIni>("/app/QmVardel.ini", Fs);
        Database = std::make_unique<TSygnatureManager>("/app/Sygn.ini", Fs, "/app/QmVardel");
        Search.Clock = &Ticks;
        Scan =
            std::make_unique<TScanController>(TScanContext{.FixedDrives = Drives,
                                                           .FileSearch = Search,
                                                           .Worker = Worker,
                                                           .Ticks = Ticks,
                                                           .Clock = Clock,
                                                           .Timers = Timers,
                                                           .Ini = *Ini,
                                                           .Database = *Database,
                                                           .QuarantineDir = "/app/back/",
                                                           .RemoveFoundDialers =
                                                               [this](const std::vector<std::string>& found) {
                                                                   Removals.push_back(found);
                                                               }},
                                              View);
    }
    TFakeTimer& StartTimer() { return *Timers.Timers[0]; }
    TFakeTimer& DrainTimer() { return *Timers.Timers[1]; }
    void File(const std::string& root, const std::string& path, const std::string& content) {
        Fs.Put(path, content);
        Search.Trees[root].push_back({false, path, content.size()});
    }
    void Folder(const std::string& root, const std::string& path, std::uint64_t entries = 1) {
        Search.Trees[root].push_back({true, path, entries});
    }
    // Ticks the drain timer until the scan ends (bounded).
    void RunScan() {
        for (int i = 0; i < 1000 && Scan->IsScanning(); ++i)
            DrainTimer().Fire();
    }
    int Today() const { return qm::DayNumber(Clock.Time); }
};

} // namespace

TEST(ScanController, ScheduleStartsAScanOnlyWhenItsPeriodHasStrictlyPassed) {
    struct TCase {
        int Frequency;
        int DaysAgo; // -1: no last_scan stored
        bool Minimized;
        TTrayState Tray;
        bool Scans;
    } cases[] = {
        {1, -1, true, trayIdle, false}, // no completed scan yet
        {1, 3, true, trayIdle, false},      {1, 7, true, trayIdle, false},   {1, 8, true, trayIdle, true},
        {0, 1, true, trayIdle, false},      {0, 2, true, trayIdle, true},    {2, 30, true, trayIdle, false},
        {2, 31, true, trayIdle, true},      {3, 400, true, trayIdle, false}, {7, 400, true, trayIdle, false},
        {1, 8, false, trayIdle, false}, // the window shown normally at the tick
        {1, 8, true, trayConnected, false},
    };
    for (const TCase& c : cases) {
        TScanFixture f;
        f.Drives.Drives = {"/"};
        f.Ini->WriteInt("scan_frequency", c.Frequency, "main");
        if (c.DaysAgo >= 0)
            f.Ini->WriteInt("last_scan", f.Today() - c.DaysAgo, "main");
        f.View.Minimized = c.Minimized;
        f.View.Tray = c.Tray;
        EXPECT_EQ(f.StartTimer().Interval(), 100000);
        EXPECT_TRUE(f.StartTimer().Single);
        f.Scan->StartScheduleTimer();
        f.StartTimer().Fire();
        EXPECT_FALSE(f.StartTimer().IsActive());
        EXPECT_EQ(f.Worker.Starts, c.Scans ? 1 : 0)
            << "frequency " << c.Frequency << ", " << c.DaysAgo << " days ago, minimized " << c.Minimized;
    }
}

TEST(ScanController, CompletedScanListsDialersButNotThoseLyingInTheQuarantineFolder) {
    TScanFixture f;
    f.Drives.Drives = {"/", "/home/"};
    f.File("/", "/bin/clean.exe", "MZdiaX");
    f.File("/", "/bin/d.exe", kDialer);
    f.Folder("/", "/bin");
    f.File("/", "/app/back/q.exe", kDialer);
    f.File("/", "/app/back/old/q.exe", kDialer);
    f.File("/home/", "/home/u/.wine/x.scr", kDialer);
    f.View.Page = sapWarning; // left from an earlier scan
    f.View.Alert = true;

    f.Scan->StartScan();
    EXPECT_TRUE(f.View.Scanning);
    EXPECT_TRUE(f.View.ScanAnimation);
    EXPECT_EQ(f.View.ResultPage, srpResultList);
    EXPECT_FALSE(f.View.Alert);
    EXPECT_EQ(f.View.SearchResult, " ");
    f.Scan->StartScan(); // a second scan while one runs is refused
    EXPECT_EQ(f.Worker.Starts, 1);
    EXPECT_EQ(f.Search.Walked, (std::vector<std::string>{"/", "/home/"}));

    f.RunScan();
    EXPECT_EQ(f.View.List,
              (std::vector<std::string>{"/bin/d.exe", "/app/back/old/q.exe", "/home/u/.wine/x.scr"}));
    EXPECT_EQ(f.Scan->FoundDialers(), f.View.List);
    EXPECT_EQ(f.View.SearchResult, "Znaleziono .3 podejrzanych plików");
    EXPECT_EQ(f.View.Directory, "Szukam w: /home/u/.wine/x.scr");
    EXPECT_FALSE(f.View.Scanning);
    EXPECT_TRUE(f.View.RemoveVisible);
    EXPECT_EQ(f.View.ScanTabShown, 1);
    EXPECT_EQ(f.View.ResultPage, srpResultList);
    EXPECT_EQ(f.View.Page, sapWarning);
    EXPECT_TRUE(f.View.Siren);
    EXPECT_FALSE(f.View.ScanAnimation);
    EXPECT_EQ(f.View.TrayStates, (std::vector<int>{trayScanning, trayAlarm}));
    EXPECT_EQ(f.Ini->ReadInt("last_scan", 0, "main"), f.Today());
    EXPECT_FALSE(f.DrainTimer().IsActive());

    // "Usuń Dialery" hands over the whole list, then the result area is cleared.
    f.Scan->RemoveFoundDialers();
    ASSERT_EQ(f.Removals.size(), 1u);
    EXPECT_EQ(f.Removals[0].size(), 3u);
    EXPECT_TRUE(f.View.List.empty());
    EXPECT_EQ(f.View.ResultPage, -1);
    EXPECT_EQ(f.View.Page, sapScaningOff);
}

TEST(ScanController, WithoutFixedDisksTheScanCompletesAtOnceClean) {
    TScanFixture f;
    f.View.RemoveVisible = true;
    f.Scan->StartScan();
    EXPECT_FALSE(f.Scan->IsScanning());
    EXPECT_EQ(f.Worker.Starts, 0);
    EXPECT_EQ(f.View.ResultPage, srpResultOk);
    EXPECT_FALSE(f.View.RemoveVisible);
    EXPECT_EQ(f.View.Page, sapScaningOff);
    EXPECT_EQ(f.View.TrayStates, (std::vector<int>{trayScanning, trayReset}));
    EXPECT_EQ(f.View.ScanTabShown, 0);
    EXPECT_EQ(f.Ini->ReadInt("last_scan", 0, "main"), f.Today());
}

TEST(ScanController, AbortKeepsThePartialListUntilTheNextCompletedScan) {
    TScanFixture f;
    f.Drives.Drives = {"/"};
    f.File("/", "/a/one.exe", kDialer);
    f.File("/", "/a/two.exe", kDialer);
    f.View.RemoveVisible = true;
    f.View.OnDialerAdded = [&] {
        f.Scan->AbortScan();
    }; // the user presses abort at the first find
    f.Scan->StartScan();
    f.Scan->RemoveFoundDialers(); // nothing while a scan runs
    f.RunScan();
    EXPECT_TRUE(f.Removals.empty());
    EXPECT_EQ(f.View.List, (std::vector<std::string>{"/a/one.exe"}));
    EXPECT_EQ(f.View.Directory, "Przerwa na życzenie użytkownika.");
    EXPECT_TRUE(f.View.Alert);
    EXPECT_EQ(f.View.ResultPage, srpResultList);
    EXPECT_TRUE(f.View.RemoveVisible); // keeps its visibility
    EXPECT_EQ(f.View.Page, sapScaningOff);
    EXPECT_EQ(f.View.TrayStates, (std::vector<int>{trayScanning, trayReset}));
    EXPECT_EQ(f.Ini->ReadInt("last_scan", -1, "main"), -1);
    EXPECT_GE(f.Worker.Joins, 1);

    f.View.OnDialerAdded = nullptr;
    f.Search.Trees["/"].clear();
    f.Scan->StartScan();
    f.RunScan();
    EXPECT_TRUE(f.View.List.empty());
    EXPECT_FALSE(f.View.Alert);
    EXPECT_EQ(f.View.ResultPage, srpResultOk);
    EXPECT_FALSE(f.View.RemoveVisible);
}

TEST(ScanController, FolderReportsAtMostTwicePerSecondAndProgressFromTheInodeCount) {
    TScanFixture f;
    f.Drives.Drives = {"/"};
    f.Search.InUse["/"] = 200;
    f.Search.StepMs = 300;
    for (int i = 0; i < 6; ++i)
        f.Folder("/", "/f" + std::to_string(i), 10);
    std::vector<std::string> reported;
    FindFiles({"/"}, {f.Search, f.Ticks}, kScanMasks, [&](const TSearchInfo& info, bool&) {
        reported.push_back(info.Path + "@" + std::to_string(info.Examined) + "/" +
                           std::to_string(info.Total));
    });
    // 300 ms apart: the second, fourth and sixth folder pass the 500 ms mark.
    EXPECT_EQ(reported, (std::vector<std::string>{"/f1@20/200", "/f3@40/200", "/f5@60/200"}));

    EXPECT_EQ(ScanProgressText(5, 0), "Przejrzano plików: 5");
    EXPECT_EQ(ScanProgressText(50, 200), "Przejrzano plików: 50, ok. 25%");
    EXPECT_EQ(ScanProgressText(300, 200), "Przejrzano plików: 300, ok. 99%");
    EXPECT_EQ(qm::SplitMasks("*exe;*.scr"), (std::vector<std::string>{"*exe", "*.scr"}));
    EXPECT_EQ(qm::SplitMasks(";;a;"), (std::vector<std::string>{"a", ""}));
}

TEST(ScanController, SetScanAnimationChangesNothingForThePageShown) {
    TScanFixture f;
    f.Scan->SetScanAnimation(0);
    EXPECT_EQ(f.View.AnimationStops, 0);
    f.Scan->SetScanAnimation(2);
    EXPECT_TRUE(f.View.Siren);
    f.Scan->SetScanAnimation(1);
    EXPECT_TRUE(f.View.ScanAnimation);
    EXPECT_FALSE(f.View.Siren);
    EXPECT_EQ(f.View.AnimationStops, 2);
}

// A real walk on a real worker thread, drained as the window drains it, with the database
// loaded again while the walk runs: only the user-interface thread reads it, so the walk never
// sees it change, and what is found afterwards is judged by the new contents.
TEST(ScanController, RealWorkerWithDatabaseReloadsDuringTheScan) {
    TTempDir t;
    for (int i = 0; i < 300; ++i)
        t.Write("tree/d" + std::to_string(i % 30) + "/f" + std::to_string(i) + ".exe", "x");
    const std::string early = t.Write("tree/a/dialer.exe", kDialer);
    const std::string late = t.Write("tree/z/other.scr", "MZrest");
    t.Write("Sygn.ini", kDialerLine + "\n");

    TLinuxFileSystem fs;
    TLinuxFileSearch search;
    TLinuxMonotonicClock ticks;
    TThreadJob worker;
    TFakeClock clock;
    TFakeTimerFactory timers;
    TFakeFixedDrives drives;
    drives.Drives = {t / "tree"};
    TAppIni ini(t / "QmVardel.ini", fs);
    TSygnatureManager database(t / "Sygn.ini", fs, t / "QmVardel");
    TRecordingScanView view;
    TScanController scan({.FixedDrives = drives,
                          .FileSearch = search,
                          .Worker = worker,
                          .Ticks = ticks,
                          .Clock = clock,
                          .Timers = timers,
                          .Ini = ini,
                          .Database = database,
                          .QuarantineDir = t / "back/",
                          .QueueLimit = 16},
                         view);
    scan.StartScan();
    t.Write("Sygn.ini", kDialerLine + "\n6-5A------------------------------74\n");
    database.Load();
    // The drain timer's ticks, as the event loop gives them, until the walk is done (at most 30 s).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int i = 0; scan.IsScanning() && std::chrono::steady_clock::now() < deadline; ++i) {
        timers.Timers[1]->Fire();
        if (i == 2)
            database.Load();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(scan.IsScanning());
    EXPECT_EQ(ini.ReadInt("last_scan", 0, "main"), qm::DayNumber(clock.Time));
    std::vector<std::string> found = view.List;
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{early, late}));
}
