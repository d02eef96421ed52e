#include "ui/uMainComposition.h"

#include "ui/uReadinessWatch.h"
#include "ui/ufMain.h"
#include "ui/ufOptionsTab.h"
#include "ui/ufStatusTab.h"
#include "ui/ufUpdateTab.h"

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
    FDatabase =
        std::make_unique<TSygnatureManager>(app.SygnatureFile(), files, ports.Image->ExecutablePath());
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
                               .CheckRunningDialers = [this] { CheckRunningDialers(); },
                               .Loading = [this] { return FWindow.IsLoading(); },
                               .FormatShortDate = {}},
        *FWindow.UpdateTab);
}

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
