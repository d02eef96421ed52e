#include "scan/uScanController.h"

#include "platform/uPathDelim.h"
#include "scan/uScanInbox.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"

#include <exception>

namespace {

constexpr const char* kMain = "main";

// The scan_frequency items' periods in days; any other value means no scheduled scan.
constexpr int kScanPeriods[] = {1, 7, 30};

std::string FoldPath(std::string path) {
    if constexpr (qm::PathsIgnoreCase)
        return qm::LowerAscii(path);
    return path;
}

} // namespace

std::string ScanProgressText(std::uint64_t examined, std::uint64_t total) {
    if (total == 0)
        return qm::Format("Przejrzano plików: %u", examined);
    const std::uint64_t percent = examined >= total ? 99 : examined * 100 / total;
    return qm::Format("Przejrzano plików: %u, ok. %u%%", examined, percent);
}

TScanController::TScanController(const TScanContext& context, IScanView& view)
    : FContext(context), FView(view),
      FQuarantineFolder(FoldPath(qm::IncludeTrailingPathDelimiter(context.QuarantineDir))) {
    FScanStartTimer = FContext.Timers.CreateTimer();
    FScanStartTimer->SetInterval(kScanStartInterval);
    FScanStartTimer->SetSingleShot(true);
    FScanStartTimer->OnTimer = [this] {
        tmrScanStartTimer();
    };
    FDrainTimer = FContext.Timers.CreateTimer();
    FDrainTimer->SetInterval(kScanDrainInterval);
    FDrainTimer->SetSingleShot(false);
    FDrainTimer->OnTimer = [this] {
        DrainScanResults();
    };
}

TScanController::~TScanController() {
    StopWorker();
}

int TScanController::Today() const {
    return qm::DayNumber(FContext.Clock.Now());
}

void TScanController::tmrScanStartTimer() {
    FScanStartTimer->Stop();
    try {
        CheckScanSchedule();
    } catch (const std::exception& e) {
        FView.ShowScanError(e.what());
    }
}

void TScanController::CheckScanSchedule() {
    if (!FView.IsMinimized() || FView.TrayState() != trayIdle)
        return;
    const int frequency = FContext.Ini.ReadInt("scan_frequency", 2, kMain);
    if (frequency < 0 || frequency >= static_cast<int>(std::size(kScanPeriods)))
        return;
    const int today = Today();
    // Without a completed scan on record, last is today and no scheduled scan starts.
    const int last = FContext.Ini.ReadInt("last_scan", today, kMain);
    if (static_cast<long long>(today) - last > kScanPeriods[frequency])
        StartScan();
}

void TScanController::SetScanAnimation(int page) {
    if (FView.ScanAnimationPage() == page)
        return;
    FView.ShowScanAnimationPage(page);
    FView.StopScanAnimations();
    if (page == sapScaningOn)
        FView.StartScaningAnimation();
    else if (page == sapWarning)
        FView.StartSirenAnimation();
}

void TScanController::StartScan() {
    // Hiding btnStartSkan is not enough: the schedule can call in during a scan.
    if (FScanning)
        return;
    FFound.clear();
    FView.ClearFoundDialers();
    FAbortScan = false;
    SetScanAnimation(sapScaningOn);
    FView.SetTrayState(trayScanning);
    FView.SetSearchResult(" ");
    FView.SetScanDirectoryAlert(false);
    FView.SetScanning(true);
    FView.ShowScanResults(srpResultList);

    FScanning = true;
    FPending.clear();
    FPendingNext = 0;
    FWalkFinished = false;
    FWalkError.clear();
    FExamined = FTotal = 0;
    FLastProgress = FContext.Ticks.Milliseconds();
    std::vector<std::string> roots;
    try {
        roots = FContext.FixedDrives.Roots();
    } catch (const std::exception& e) {
        FinishScan(false, e.what());
        return;
    }
    if (roots.empty()) {
        FinishScan(false, {});
        return;
    }
    FInbox = std::make_unique<TScanInbox>(FContext.QueueLimit);
    TScanInbox* inbox = FInbox.get();
    const TFindFilesPorts ports{FContext.FileSearch, FContext.Ticks};
    FContext.Worker.Start([inbox, ports, roots = std::move(roots)] {
        std::string error;
        try {
            FindFiles(roots, ports, kScanMasks, [inbox](const TSearchInfo& info, bool& stop) {
                if (!inbox->Push(info))
                    stop = true;
            });
        } catch (const std::exception& e) {
            error = e.what();
        }
        inbox->Finish(std::move(error));
    });
    FDrainTimer->Start();
}

void TScanController::DrainScanResults() {
    if (!FScanning)
        return;
    try {
        const std::int64_t deadline = FContext.Ticks.Milliseconds() + kScanSliceMs;
        std::size_t visited = 0;
        while (!FAbortScan) {
            if (FPendingNext == FPending.size()) {
                if (FWalkFinished)
                    break;
                FPendingNext = 0;
                FWalkFinished = FInbox->Take(FPending, FWalkError);
                if (FPending.empty())
                    break;
            }
            Visit(FPending[FPendingNext++]);
            if (++visited % 64 == 0 && FContext.Ticks.Milliseconds() >= deadline)
                break;
        }
        if (visited > 0) {
            FView.SetScanDirectory(kScanDirectoryPrefix + FShownPath);
            const std::int64_t now = FContext.Ticks.Milliseconds();
            if (now - FLastProgress >= kScanProgressInterval) {
                FLastProgress = now;
                FView.ShowScanProgress(ScanProgressText(FExamined, FTotal));
            }
        }
        if (FAbortScan) {
            StopWorker();
            FinishScan(true, {});
        } else if (FWalkFinished && FPendingNext == FPending.size()) {
            StopWorker();
            FinishScan(false, FWalkError);
        }
    } catch (const std::exception& e) {
        StopWorker();
        FinishScan(false, e.what());
    }
}

void TScanController::Visit(const TSearchInfo& info) {
    FExamined = info.Examined;
    FTotal = info.Total;
    FShownPath = info.Path;
    if (!info.IsFile || !FContext.Database.IsDialer(info.Path, info.Size))
        return;
    // A dialer already in quarantine is harmless; one in a folder below it is not quarantined.
    if (FoldPath(qm::IncludeTrailingPathDelimiter(qm::ExtractFileDir(info.Path))) == FQuarantineFolder)
        return;
    FFound.push_back(info.Path);
    FView.AddFoundDialer(info.Path);
    FView.SetSearchResult(qm::Format(kSearchResultFormat, static_cast<std::int64_t>(FFound.size())));
}

void TScanController::StopWorker() {
    if (FInbox)
        FInbox->Cancel();
    // The walk checks the inbox after every file, so a cancelled one returns at once.
    FContext.Worker.Join();
    FInbox.reset();
}

void TScanController::FinishScan(bool aborted, const std::string& error) {
    FDrainTimer->Stop();
    FScanning = false;
    FPending.clear();
    FPendingNext = 0;
    FView.ShowScanProgress("");
    FView.SetScanning(false);
    if (aborted || !error.empty()) {
        // A walk that failed is no completed scan either: last_scan stays, the list stays.
        FView.SetScanDirectoryAlert(true);
        FView.SetScanDirectory(aborted ? kScanAbortedText : error);
        FView.ShowScanResults(srpResultList);
        SetScanAnimation(sapScaningOff);
        FView.SetTrayState(trayReset);
        if (!aborted)
            FView.ShowScanError(error);
        return;
    }
    std::string writeError;
    try {
        FContext.Ini.WriteInt("last_scan", Today(), kMain);
    } catch (const std::exception& e) {
        writeError = e.what();
    }
    FView.SetRemoveDialersVisible(!FFound.empty());
    if (!FFound.empty()) {
        FView.ShowScanTab();
        FView.ShowScanResults(srpResultList);
        SetScanAnimation(sapWarning);
        FView.SetTrayState(trayAlarm);
    } else {
        FView.ShowScanResults(srpResultOk);
        SetScanAnimation(sapScaningOff);
        FView.SetTrayState(trayReset);
    }
    if (!writeError.empty())
        FView.ShowScanError(writeError);
}

void TScanController::RemoveFoundDialers() {
    if (FScanning || !FContext.RemoveFoundDialers)
        return;
    FContext.RemoveFoundDialers(FFound);
    SetScanAnimation(sapScaningOff);
    FFound.clear();
    FView.ClearFoundDialers();
    FView.HideScanResults();
}
