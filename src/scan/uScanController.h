#pragma once
// The disk scan of the main window: StartScan, the visit of each file found, the schedule
// (tmrScanStart, CheckScanSchedule), the animation pages, the abort and the result pages.
//
// The walk runs on a worker thread (IBackgroundJob) and hands what it finds to the user-interface
// thread through TScanInbox; a timer drains it in slices of at most kScanSliceMs, so the window
// keeps handling events during a scan and a dial request is answered at once. Only the
// user-interface thread reads the signature database, between two events, so a reload of the
// database during a scan takes effect for the files found after it and never pulls memory from
// under the walk. To the rest of the program the scan looks as it always has: it starts, reports
// each file in walk order and ends completed or aborted.
#include "core/uAppIni.h"
#include "core/uTrayState.h"
#include "detection/uSygnatureManager.h"
#include "platform/IBackgroundJob.h"
#include "platform/IClock.h"
#include "platform/IFileSearch.h"
#include "platform/IFixedDrives.h"
#include "platform/IMonotonicClock.h"
#include "platform/ITimer.h"
#include "scan/uFindFiles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TScanInbox;

inline constexpr int kScanStartInterval = 100000;
// The drain timer's period and the most one drain may take: the window never waits longer.
inline constexpr int kScanDrainInterval = 10;
inline constexpr std::int64_t kScanSliceMs = 10;
// Progress texts change at most this often (the tray hint travels over D-Bus).
inline constexpr std::int64_t kScanProgressInterval = 500;

inline constexpr const char* kScanDirectoryPrefix = "Szukam w: ";
inline constexpr const char* kScanAbortedText = "Przerwa na życzenie użytkownika.";
inline constexpr const char* kSearchResultFormat = "Znaleziono .%d podejrzanych plików";

enum TScanAnimationPage { sapScaningOff = 0, sapScaningOn = 1, sapWarning = 2 };
enum TScanResultPage { srpResultList = 0, srpResultOk = 1 };

// What the scan needs of the scan tab and of the main window around it.
class IScanView {
public:
    virtual ~IScanView() = default;
    // ScanAnimationNotebook: the page shown, and its animations (aniScaning, aniSiren).
    virtual int ScanAnimationPage() const = 0;
    virtual void ShowScanAnimationPage(int page) = 0;
    virtual void StopScanAnimations() = 0;
    virtual void StartScaningAnimation() = 0;
    virtual void StartSirenAnimation() = 0;
    // True: btnStartSkan hidden, btnAbortScaning shown, btnRemoveDialers not clickable.
    virtual void SetScanning(bool scanning) = 0;
    // ScanResultNotebook shown at the page, or hidden.
    virtual void ShowScanResults(TScanResultPage page) = 0;
    virtual void HideScanResults() = 0;
    virtual void ClearFoundDialers() = 0;
    virtual void AddFoundDialer(const std::string& path) = 0;
    virtual void SetSearchResult(const std::string& markup) = 0; // labSearchResult
    virtual void SetScanDirectory(const std::string& text) = 0;  // lblScanDirectory
    // lblScanDirectory's font colour: black, or dark red (128, 0, 0) for the abort notice.
    virtual void SetScanDirectoryAlert(bool darkRed) = 0;
    virtual void SetRemoveDialersVisible(bool visible) = 0;
    // How far the scan has got; the empty text when no scan runs.
    virtual void ShowScanProgress(const std::string& text) = 0;
    virtual void ShowScanError(const std::string& text) = 0;
    // The main window.
    virtual void SetTrayState(int state) = 0;
    virtual TTrayState TrayState() const = 0;
    virtual bool IsMinimized() const = 0;
    virtual void ShowScanTab() = 0; // tsScaning becomes the active page
};

struct TScanContext {
    const IFixedDrives& FixedDrives;
    const IFileSearch& FileSearch;
    IBackgroundJob& Worker;
    const IMonotonicClock& Ticks;
    const IClock& Clock;
    ITimerFactory& Timers;
    TAppIni& Ini;
    // Read on the user-interface thread only; it must outlive the controller and may be loaded
    // again at any time.
    const TSygnatureManager& Database;
    std::string QuarantineDir;
    // The removal of every listed file (btnRemoveDialers); unset: the button does nothing.
    std::function<void(const std::vector<std::string>& found)> RemoveFoundDialers = {};
    // Reports a walk may run ahead of the window before it waits.
    std::size_t QueueLimit = 65536;
};

// "Przejrzano N plików" with ", ok. P%" when the total is known (P kept below 100 until the end).
std::string ScanProgressText(std::uint64_t examined, std::uint64_t total);

class TScanController {
public:
    TScanController(const TScanContext& context, IScanView& view);
    ~TScanController();
    TScanController(const TScanController&) = delete;
    TScanController& operator=(const TScanController&) = delete;

    // btnStartSkan and the schedule. Nothing while a scan runs.
    void StartScan();
    // btnAbortScaning: sets the abort flag; the scan stops at its next slice.
    void AbortScan() { FAbortScan = true; }
    // btnRemoveDialers: the removal of the list, then the result area is cleared. Nothing during
    // a scan.
    void RemoveFoundDialers();
    void CheckScanSchedule();
    void SetScanAnimation(int page);
    // The creation sequence switches the schedule on: one tick, 100 s later.
    void StartScheduleTimer() { FScanStartTimer->Start(); }
    void tmrScanStartTimer();
    ITimer& tmrScanStart() { return *FScanStartTimer; }

    bool IsScanning() const { return FScanning; }
    bool AbortRequested() const { return FAbortScan; }
    const std::vector<std::string>& FoundDialers() const { return FFound; }

    // The drain timer's tick: takes what the walk found, in order, for at most one slice.
    void DrainScanResults();

private:
    void Visit(const TSearchInfo& info);
    void FinishScan(bool aborted, const std::string& error);
    void StopWorker();
    int Today() const;

    TScanContext FContext;
    IScanView& FView;
    std::unique_ptr<ITimer> FScanStartTimer;
    std::unique_ptr<ITimer> FDrainTimer;
    std::unique_ptr<TScanInbox> FInbox;
    std::vector<TSearchInfo> FPending;
    std::size_t FPendingNext = 0;
    bool FWalkFinished = false;
    std::string FWalkError;
    std::vector<std::string> FFound;
    bool FScanning = false;
    bool FAbortScan = false;
    std::string FQuarantineFolder;
    std::string FShownPath;
    std::uint64_t FExamined = 0;
    std::uint64_t FTotal = 0;
    std::int64_t FLastProgress = 0;
};
