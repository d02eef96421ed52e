#include "ui/uMainComposition.h"

#include "ui/uReadinessWatch.h"
#include "ui/uRemovalView.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufScanTab.h"
#include "ui/ufStatisticsTab.h"
#include "ui/ufStatusTab.h"
#include "ui/ufUpdateTab.h"

#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QStackedWidget>

TMainComposition::TMainComposition(const TMainCompositionContext& context, TfrmMain& window)
    : FContext(context), FWindow(window) {
    FDatabase = std::make_unique<TSygnatureManager>(FContext.App.SygnatureFile(),
                                                    FContext.DialGuard.FileSystem, FContext.ExecutablePath);
    FProgramStarts = CreateProgramStartHandler();
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
    // Answers given while monitoring was off (or on) would otherwise outlive the option's change.
    QObject::connect(FWindow.OptionsTab->chbExeMonitoring, &QCheckBox::toggled, FWindow.OptionsTab,
                     [this] { ForgetStartAnswers(); });

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

    CreateDatabaseUpdate();

    FScanStartTimer = FContext.Timers.CreateTimer();
    FScanStartTimer->SetInterval(100000);
    FScanStartTimer->SetSingleShot(true);
    FScanStartTimer->OnTimer = [this] {
        FWindow.Guarded([this] { ScanStartTimerFired(); });
    };

    if (FContext.Scan)
        CreateScan();
}

void TMainComposition::CreateScan() {
    TScanTab& tab = *FWindow.ScanTab;
    tab.OnSetTrayState = [this](int state) {
        FWindow.SetTrayState(state);
    };
    tab.OnTrayState = [this] {
        return FWindow.TrayState();
    };
    tab.OnError = [this](const std::string& text) {
        FWindow.ShowError(text);
    };
    tab.OnScanProgress = [this](const std::string& text) {
        // Only over the scan's own hint: an alarm or a connection keeps theirs.
        if (FWindow.TrayState() == trayScanning)
            static_cast<ITrayView&>(FWindow).SetTrayHint(
                text.empty() ? std::string(kHintScanning) : std::string(kHintScanning) + "\n" + text);
    };
    const TScanServices& scan = *FContext.Scan;
    FScan = std::make_unique<TScanController>(TScanContext{.FixedDrives = scan.FixedDrives,
                                                           .FileSearch = scan.FileSearch,
                                                           .Worker = scan.Worker,
                                                           .Ticks = scan.Ticks,
                                                           .Clock = scan.Clock,
                                                           .Timers = FContext.Timers,
                                                           .Ini = *FContext.App.Ini,
                                                           .Database = *FDatabase,
                                                           .QuarantineDir = FContext.App.QuarantineDir(),
                                                           .RemoveFoundDialers =
                                                               [this](const std::vector<std::string>& found) {
                                                                   RemoveFoundDialers(found);
                                                               }},
                                              tab);
}

void TMainComposition::SetScanAnimation(int page) {
    if (FScan)
        FScan->SetScanAnimation(page);
    else
        FWindow.ScanTab->ShowScanAnimationPage(page);
}

// The line monitor is ended before the window by the program's end, so it is not touched here.
TMainComposition::~TMainComposition() {
    if (FContext.Update.Http)
        FContext.Update.Http->SetEventPump(nullptr);
}

void TMainComposition::CreateDatabaseUpdate() {
    const TUpdateServices& ports = FContext.Update;
    if (!ports.Complete())
        return;
    TVardelApp& app = FContext.App;
    IFileSystem& files = FContext.DialGuard.FileSystem;
    ports.Http->SetEventPump(&FPump);
    FHttpUpdate = std::make_unique<TQmHttpUpdate>(TQmHttpUpdateContext{
        .Http = *ports.Http, .Files = *ports.Files, .Image = *ports.Image, .SystemInfo = ports.SystemInfo});
    FWindow.UpdateTab->SetAutoUpdateBox(FWindow.OptionsTab->chbAutoUpdate);
    FDatabaseUpdate = std::make_unique<TDatabaseUpdate>(
        TDatabaseUpdateContext{.HttpUpdate = *FHttpUpdate,
                               .Database = *FDatabase,
                               .FileSystem = files,
                               .Files = *ports.Files,
                               .Clock = *ports.Clock,
                               .Ini = *app.Ini,
                               .Pump = FPump,
                               .Signature = *ports.Signature,
                               .AppDir = app.AppDir,
                               .DataDir = app.DataDir,
                               .SetTrayState = [this](TTrayState state) { FWindow.SetTrayState(state); },
                               .CheckRunningDialers =
                                   [this] {
                                       // The database may have changed: the service's remembered
                                       // "not a dialer" answers go before anything is asked again.
                                       ForgetStartAnswers();
                                       CheckRunningDialers();
                                   },
                               .Loading = [this] { return FWindow.IsLoading(); },
                               .FormatShortDate = {}},
        *FWindow.UpdateTab);
}

std::unique_ptr<IProgramStartHandler> TMainComposition::CreateProgramStartHandler() {
    const TDetectionServices& d = FContext.Detection;
    if (!d.Complete())
        return std::make_unique<TProgramStartsAllowed>();
    TVardelApp& app = FContext.App;
    IFileSystem& fileSystem = FContext.DialGuard.FileSystem;
    FRemoval = std::make_unique<TDialerRemoval>(TDialerRemovalContext{
        .Processes = *d.Processes,
        .Quarantine = *d.QuarantineFiles,
        .AutoStartEntries = *d.AutoStartEntries,
        .FileSystem = fileSystem,
        .Clock = *d.Clock,
        .QuarantineDir = [&app] { return app.QuarantineDir(); },
        .ShortDate = d.ShortDate,
    });
    FProgramGuardView = std::make_unique<TProgramGuardView>(
        FWindow, FWindow.MessageBox(),
        TProgramGuardView::TOptions{
            .ExeMonitoring = [this] { return FWindow.OptionsTab->chbExeMonitoring->isChecked(); },
            .ChildMode = [this] { return FWindow.OptionsTab->chbChildMode->isChecked(); },
            .ShowError = [this](const std::string& text) { FWindow.ShowError(text); },
            .Ending = [this] { return FWindow.IsClosing(); },
        });
    auto guard = std::make_unique<TProgramGuard>(
        TProgramGuardContext{
            .Sygnatures = *FDatabase,
            .Removal = *FRemoval,
            .Processes = *d.Processes,
            .DisplayNames = *d.DisplayName,
            .FileSystem = fileSystem,
            .QuarantineDir = [&app] { return app.QuarantineDir(); },
            .SearchPath = [] { return qEnvironmentVariable("PATH").toStdString(); },
            .CurrentDirectory = [] { return QDir::currentPath().toStdString(); },
            .ForgetStartAnswers = [this] { ForgetStartAnswers(); },
        },
        *FProgramGuardView);
    FProgramGuard = guard.get();
    return guard;
}

void TMainComposition::CheckRunningDialers() {
    if (FProgramGuard)
        FWindow.Guarded([this] { FProgramGuard->CheckRunningDialers(); });
}

void TMainComposition::RemoveFoundDialers(const std::vector<std::string>& found) {
    if (!FRemoval)
        return;
    // The scan clears its own list and pages once this returns.
    TRemovalView view(FWindow, [] {});
    FWindow.Guarded([&] { FRemoval->RemoveFoundDialers(found, view); });
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
    // The walk is cancelled at the scan's next tick, or joined when the scan goes.
    if (FScan)
        FScan->AbortScan();
}
