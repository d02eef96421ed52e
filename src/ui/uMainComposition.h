#pragma once
// The subsystems of the guard and the wiring between them: the allowed numbers list, the dial
// guard over the hook socket, the launched-program guard's answer to program starts, the
// connection status over the line monitor, and the slots where the subsystems still to come are
// called. The main window makes one at the start of its creation sequence and is its views; no
// subsystem talks to another except through what is wired here.
#include "core/libQmVardel.h"
#include "core/uHookDispatch.h"
#include "detection/uDialerRemoval.h"
#include "detection/uProgramGuard.h"
#include "detection/uSygnatureManager.h"
#include "guard/uAllowedNumbers.h"
#include "guard/uConnectionStatus.h"
#include "guard/uTapiMonitor.h"
#include "platform/IBackgroundJob.h"
#include "platform/IClock.h"
#include "platform/IFileSearch.h"
#include "platform/IFixedDrives.h"
#include "platform/IMonotonicClock.h"
#include "platform/ITimer.h"
#include "scan/uScanController.h"
#include "statistics/uStatistics.h"
#include "statistics/uStatisticsTable.h"
#include "ui/uDialGuardShell.h"
#include "ui/uProgramGuardView.h"
#include "ui/uQtEventPump.h"
#include "update/uDatabaseUpdate.h"

#include <memory>
#include <string>

class TfrmMain;
class TReadinessWatch;

// The disk scan's system parts.
struct TScanServices {
    const IFixedDrives& FixedDrives;
    const IFileSearch& FileSearch;
    IBackgroundJob& Worker;
    const IMonotonicClock& Ticks;
    const IClock& Clock;
};

struct TMainCompositionContext {
    TVardelApp& App;
    ITimerFactory& Timers;
    TDialGuardServices DialGuard;
    // The process-wide line monitor (it outlives the message loop, not the window); null = none.
    TTapiMonitor* TapiMonitor = nullptr;
    // Null: no disk scan (its buttons do nothing).
    const TScanServices* Scan = nullptr;
    // The running executable (the signature database's date before its first load).
    std::string ExecutablePath = {};
    // Incomplete: no removal and no guard (every program may start).
    TDetectionServices Detection = {};
    // The database update's ports; incomplete = no update (and no signature database here).
    TUpdateServices Update = {};
    // The wall clock that dates the statistics' periods; null = connections are not counted.
    const IClock* Clock = nullptr;
};

class TMainComposition {
public:
    // Starts serving the hook socket: the window answers hook messages from its creation on.
    TMainComposition(const TMainCompositionContext& context, TfrmMain& window);
    ~TMainComposition();
    TMainComposition(const TMainComposition&) = delete;
    TMainComposition& operator=(const TMainComposition&) = delete;

    // Null after the end of work: no request may be decided over a list that is gone.
    TAllowedList* AllowedList() { return FListOpen ? &FAllowedList : nullptr; }
    TDialGuardShell& DialGuard() { return *FDialGuard; }
    TConnectionStatus& Connection() { return *FConnection; }
    THookDispatcher& Dispatcher() { return FDialGuard->Dispatcher(); }
    ITimer& ScanStartTimer() { return *FScanStartTimer; }
    TSygnatureManager& Database() { return *FDatabase; }
    // Null without scan services.
    TScanController* Scan() { return FScan.get(); }

    // Creation sequence steps, in its order.
    void StartScanTimer() { FScanStartTimer->Start(); }
    void StartLineMonitor();
    bool CheckHookFiles() { return FDialGuard->CheckHookFiles(); }
    void StartHooks() { FDialGuard->StartHooks(); }

    // Slots of the subsystems still to come; each calls its controller once that exists.
    void SetStatisticsHeaders() { FStatisticsTable->SetStatisticsHeaders(); }
    void ShowDatabaseInfo() {
        if (FDatabaseUpdate)
            FDatabaseUpdate->ShowDatabaseInfo();
    }
    void CheckRunningDialers();
    // The phone-book entry check and the first-run picker (uMainCompositionEntries.cpp).
    void PickAllowedNumbers();
    void CheckEntries();
    void RefreshStatistics() { FStatisticsTable->RefreshStatistics(); }
    void SetScanAnimation(int page);
    void StartScan() {
        if (FScan)
            FScan->StartScan();
    }
    void AbortScan() {
        if (FScan)
            FScan->AbortScan();
    }
    void RemoveDialers() {
        if (FScan)
            FScan->RemoveFoundDialers();
    }
    // Has the hook service drop the program-start answers it remembered for this guard.
    void ForgetStartAnswers() { FContext.DialGuard.HookLibrary.CallForgetStartAnswers(); }
    // The removal of a scan's finds (the scan clears its list afterwards).
    void RemoveFoundDialers(const std::vector<std::string>& found);
    void Update() {
        if (FDatabaseUpdate)
            FDatabaseUpdate->btnUpdateClick();
    }
    // Null without the update's ports.
    TDatabaseUpdate* DatabaseUpdate() { return FDatabaseUpdate.get(); }

    // The end of work: the hook socket closes, the list goes, the connection timer stops.
    void Stop();

private:
    void UpdateStatistics(const std::string& number, bool newConnection) {
        if (FStatistics)
            FStatistics->UpdateStatistics(number, newConnection);
    }
    void CheckAutoUpdate() {
        if (FDatabaseUpdate)
            FDatabaseUpdate->CheckAutoUpdate();
    }
    void CreateDatabaseUpdate();
    // tmrScanStart's only tick (it is a one-shot timer).
    void ScanStartTimerFired() {
        if (FScan)
            FScan->CheckScanSchedule();
    }
    void CreateScan();
    // The answer to program-start notices; the launched-program guard replaces this one.
    std::unique_ptr<IProgramStartHandler> CreateProgramStartHandler();

    TMainCompositionContext FContext;
    TfrmMain& FWindow;
    // Before the guard, which listens to it: the guard goes first.
    TAllowedList FAllowedList;
    bool FListOpen = true;
    // The one signature database, before everything that reads it (guard and scan go first).
    std::unique_ptr<TSygnatureManager> FDatabase;
    // The guard's collaborators, before it: it goes first.
    std::unique_ptr<TDialerRemoval> FRemoval;
    std::unique_ptr<TProgramGuardView> FProgramGuardView;
    TProgramGuard* FProgramGuard = nullptr; // owned by FProgramStarts
    std::unique_ptr<IProgramStartHandler> FProgramStarts;
    std::unique_ptr<TDialGuardShell> FDialGuard;
    std::unique_ptr<TConnectionStatus> FConnection;
    std::unique_ptr<TStatisticsStore> FStatistics;
    std::unique_ptr<TStatisticsTable> FStatisticsTable;
    std::unique_ptr<ITimer> FScanStartTimer;
    TReadinessWatch* FLineWatch = nullptr;
    // After the database it reads: it goes first, its walk joined.
    std::unique_ptr<TScanController> FScan;
    TQtEventPump FPump;
    std::unique_ptr<TQmHttpUpdate> FHttpUpdate;
    std::unique_ptr<TDatabaseUpdate> FDatabaseUpdate;
};
