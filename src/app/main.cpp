// The guard's entry point and composition root: builds every port implementation once (one
// TPlatformServices), then the process-wide objects in their order, runs the message loop and
// takes them down in reverse, the main window last. Nothing below src/app makes a port
// implementation; each takes references to these through its context.
#include "core/libQmVardel.h"
#include "platform/uPlatformFactory.h"
#include "ui/uMainServices.h"
#include "ui/uQtSoundPlayer.h"
#include "ui/uQtTimer.h"
#include "ui/uReadinessWatch.h"
#include "ui/uSingleInstance.h"
#include "ui/uStartFailure.h"
#include "ui/ufMain.h"
#include "util/uQmError.h"

#include <QApplication>
#include <QSessionManager>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The window hides into the tray and dialogs come and go: only the program's end stops the loop.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("QmVardel"));

    // First of all, so that the end of work arriving during the start is answered once the loop
    // runs instead of killing the program half-way.
    const auto terminationSignal = CreateTerminationSignal();
    std::unique_ptr<TReadinessWatch> termination;

    TPlatformServices services = CreatePlatformServices();

    // 1. The line monitor, over the hook service's line feed. 2. The remote-access loader state is
    // created here when it exists.
    auto tapiMonitor = std::make_unique<TTapiMonitor>(*services.Telephony);
    const std::string executable = services.ProgramImage->ExecutablePath();

    // 3. The registry of running copies: a second copy brings the first forward and ends.
    auto instance = std::make_unique<TSingleInstance>(QString::fromStdString(executable),
                                                      QString::fromStdString(services.RuntimeDir));
    if (!instance->Register())
        return 0;

    // 4. The application context (it clears the first-run flag).
    std::unique_ptr<TVardelApp> vardelApp;
    try {
        vardelApp = std::make_unique<TVardelApp>(TQmAppPorts{.ProgramImage = *services.ProgramImage,
                                                             .FileSystem = *services.FileSystem,
                                                             .MutexFactory = *services.MutexFactory,
                                                             .UserFolders = services.UserFolders});
    } catch (const std::exception& e) {
        return ReportStartFailure(e.what());
    }

    // 5. The main window.
    // QMVARDEL_TIMER_DIVISOR (2..1000) makes every timer that many times faster, so an end-to-end
    // test sees a connection's seconds counted without waiting for them; unset, timers keep time.
    int timerDivisor = 1;
    if (const char* divisor = std::getenv("QMVARDEL_TIMER_DIVISOR"))
        timerDivisor = std::clamp(std::atoi(divisor), 1, 1000);
    TQtTimerFactory timers(timerDivisor);
    TQtSoundPlayer sound;
    const TScanServices scan = ScanServicesOf(services);
    TfrmMainContext context{.App = *vardelApp,
                            .Timers = timers,
                            .AutoStart = *services.AutoStart,
                            .Sound = sound,
                            .DialGuard = DialGuardServicesOf(services),
                            .ExecutablePath = executable,
                            .Arguments = std::vector<std::string>(argv + 1, argv + argc),
                            .TapiMonitor = tapiMonitor.get(),
                            .Scan = &scan,
                            .Detection = DetectionServicesOf(services),
                            .Update = UpdateServicesOf(services),
                            .Clock = services.Clock.get()};
    auto frmMain = std::make_unique<TfrmMain>(context);
    instance->OnBringForward = [&frmMain] {
        frmMain->ShowMainWindow();
    };
    QObject::connect(&application, &QGuiApplication::commitDataRequest, frmMain.get(),
                     [&frmMain](QSessionManager&) { frmMain->QueryEndSession(); });
    if (terminationSignal->Handle() != kNoTerminationHandle) {
        termination = std::make_unique<TReadinessWatch>(
            terminationSignal->Handle(), TReadinessWatch::TReadiness::rdRead, [&frmMain, &terminationSignal] {
                terminationSignal->Drain();
                frmMain->QueryEndSession();
                // An open message box or prompt (a question of the creation sequence, a dial
                // request) is closed as if rejected, so that the end is not held up by it.
                while (QWidget* modal = QApplication::activeModalWidget())
                    if (!modal->close())
                        break;
                QCoreApplication::exit(0);
            });
    }
    frmMain->FormCreate();
    if (!(frmMain->windowState() & Qt::WindowMinimized))
        frmMain->show();
    else if (!frmMain->IsTrayAvailable())
        frmMain->showMinimized();

    // The end of work may come while the creation sequence has a message box open; the loop
    // that box ran has then already been told to stop, and a new one would never be.
    const int result = frmMain->IsClosing() ? 0 : QApplication::exec();

    // The end, in reverse order; nothing in the window's destruction uses the context.
    termination.reset();
    vardelApp.reset();
    instance.reset();
    // 2. The remote-access library goes here when it exists. 1. The line monitor.
    tapiMonitor.reset();
    frmMain.reset();
    return result;
}
