#pragma once
// The subsystems of the guard and the wiring between them: the allowed numbers list, the dial
// guard over the hook socket, the launched-program guard's answer to program starts, the
// connection status over the line monitor, and the slots where the subsystems still to come are
// called. The main window makes one at the start of its creation sequence and is its views; no
// subsystem talks to another except through what is wired here.
#include "core/libQmVardel.h"
#include "core/uHookDispatch.h"
#include "guard/uAllowedNumbers.h"
#include "guard/uConnectionStatus.h"
#include "guard/uTapiMonitor.h"
#include "platform/ITimer.h"
#include "ui/uDialGuardShell.h"

#include <memory>
#include <string>

class TfrmMain;
class TReadinessWatch;

struct TMainCompositionContext {
    TVardelApp& App;
    ITimerFactory& Timers;
    TDialGuardServices DialGuard;
    // The process-wide line monitor (it outlives the message loop, not the window); null = none.
    TTapiMonitor* TapiMonitor = nullptr;
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

    // Creation sequence steps, in its order.
    void StartScanTimer() { FScanStartTimer->Start(); }
    void StartLineMonitor();
    bool CheckHookFiles() { return FDialGuard->CheckHookFiles(); }
    void StartHooks() { FDialGuard->StartHooks(); }

    // Slots of the subsystems still to come; each calls its controller once that exists.
    void SetStatisticsHeaders() {}
    void ShowDatabaseInfo() {}
    void CheckRunningDialers() {}
    // The phone-book entry check and the first-run picker (uMainCompositionEntries.cpp).
    void PickAllowedNumbers();
    void CheckEntries();
    void RefreshStatistics() {}
    void StartScan() {}
    void AbortScan() {}
    void RemoveDialers() {}
    void Update() {}

    // The end of work: the hook socket closes, the list goes, the connection timer stops.
    void Stop();

private:
    void UpdateStatistics(const std::string& /*number*/, bool /*newConnection*/) {}
    void CheckAutoUpdate() {}
    void ScanStartTimerFired() {}
    // The answer to program-start notices; the launched-program guard replaces this one.
    static std::unique_ptr<IProgramStartHandler> CreateProgramStartHandler();

    TMainCompositionContext FContext;
    TfrmMain& FWindow;
    // Before the guard, which listens to it: the guard goes first.
    TAllowedList FAllowedList;
    bool FListOpen = true;
    std::unique_ptr<IProgramStartHandler> FProgramStarts;
    std::unique_ptr<TDialGuardShell> FDialGuard;
    std::unique_ptr<TConnectionStatus> FConnection;
    std::unique_ptr<ITimer> FScanStartTimer;
    TReadinessWatch* FLineWatch = nullptr;
};
