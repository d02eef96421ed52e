#include "ui/uMainComposition.h"

#include "ui/uReadinessWatch.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufStatisticsTab.h"
#include "ui/ufStatusTab.h"

TMainComposition::TMainComposition(const TMainCompositionContext& context, TfrmMain& window)
    : FContext(context), FWindow(window), FProgramStarts(CreateProgramStartHandler()) {
    FAllowedList.OnChange = [this] {
        AllowedListChange(FAllowedList, *FContext.App.Ini, FWindow);
    };
    FDialGuard = std::make_unique<TDialGuardShell>(TDialGuardShellContext{
        .Services = FContext.DialGuard,
        .Host = FWindow,
        .AllowedList = FAllowedList,
        .ProgramStarts = *FProgramStarts,
        .AppDir = FContext.App.AppDir,
        .ChildMode = [this] { return FWindow.OptionsTab->chbChildMode->isChecked(); },
        .ShowError = [this](const std::string& text) { FWindow.ShowError(text); },
        .SetWindowTitle =
            [this](const std::string& title) { FWindow.setWindowTitle(QString::fromStdString(title)); },
    });
    FDialGuard->Listen();

    if (FContext.Clock)
        FStatistics = std::make_unique<TStatisticsStore>(
            TStatisticsStoreContext{.Ini = *FContext.App.Ini, .Clock = *FContext.Clock});
    FStatisticsTable = std::make_unique<TStatisticsTable>(
        TStatisticsTableContext{.Ini = *FContext.App.Ini, .View = *FWindow.StatisticsTab});

    FConnection = std::make_unique<TConnectionStatus>(TConnectionStatusContext{
        .Timers = FContext.Timers, .View = *FWindow.StatusTab, .LastDialed = FDialGuard->Guard()});
    FConnection->OnConnected = [this](const std::string& number) {
        FWindow.SetTrayState(trayConnected);
        UpdateStatistics(number, true);
        CheckAutoUpdate();
    };
    FConnection->OnSecond = [this](const std::string& number) {
        FWindow.Guarded([&] { UpdateStatistics(number, false); });
    };
    FConnection->OnEnded = [this] {
        FWindow.SetTrayState(trayReset);
    };

    FScanStartTimer = FContext.Timers.CreateTimer();
    FScanStartTimer->SetInterval(100000);
    FScanStartTimer->SetSingleShot(true);
    FScanStartTimer->OnTimer = [this] {
        FWindow.Guarded([this] { ScanStartTimerFired(); });
    };
}

// The line monitor is ended before the window by the program's end, so it is not touched here.
TMainComposition::~TMainComposition() = default;

std::unique_ptr<IProgramStartHandler> TMainComposition::CreateProgramStartHandler() {
    return std::make_unique<TProgramStartsAllowed>();
}

void TMainComposition::StartLineMonitor() {
    TTapiMonitor* monitor = FContext.TapiMonitor;
    if (!monitor)
        return;
    monitor->OnCallState = [this](TTapiMonitor& sender, TCallStateEvent state) {
        FWindow.Guarded([&] { FWindow.LineCallState(sender, state); });
    };
    // Without a telephony service the status stays "Nie połączony".
    if (!monitor->Start() || monitor->EventFd() < 0)
        return;
    // Reports are handled on the UI thread, between other events and inside modal loops.
    FLineWatch = new TReadinessWatch(
        monitor->EventFd(), TReadinessWatch::TReadiness::rdRead, [monitor] { monitor->ProcessReports(); },
        &FWindow);
}

void TMainComposition::Stop() {
    // The guard itself stays, as a request being decided right now still runs on it.
    FDialGuard->Stop();
    FListOpen = false;
    FConnection->Timer().Stop();
}
