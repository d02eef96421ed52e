// The Linux choices behind the platform factory: the one place outside the implementations that
// names them.
#include "net/uCurlHttpTransport.h"
#include "net/uEd25519Signature.h"
#include "platform/linux/uLinuxSystemInfo.h"
#include "platform/linux/uLinuxUpdateFiles.h"
#include "platform/uPlatformFactory.h"

#include "platform/linux/uLinuxAutoStart.h"
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxDisplayName.h"
#include "platform/linux/uLinuxFileSearch.h"
#include "platform/linux/uLinuxFixedDrives.h"
#include "platform/linux/uLinuxHookEndpoint.h"
#include "platform/linux/uLinuxHookLibrary.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxProcessControl.h"
#include "platform/linux/uLinuxQuarantineFiles.h"
#include "platform/linux/uLinuxRemoteAccess.h"
#include "platform/linux/uLinuxShortDate.h"
#include "platform/linux/uLinuxSignals.h"
#include "platform/linux/uLinuxTelephony.h"

#include <cstdlib>

std::unique_ptr<IFileSystem> CreateFileSystem() {
    return std::make_unique<TLinuxFileSystem>();
}

std::unique_ptr<IProgramImage> CreateProgramImage() {
    return std::make_unique<TLinuxProgramImage>();
}

std::unique_ptr<INamedMutexFactory> CreateNamedMutexFactory() {
    return std::make_unique<TLinuxNamedMutexFactory>();
}

std::unique_ptr<ITelephony> CreateTelephony() {
    // A service run with another run_dir (or a stand-in feed in tests) is named by the variable, as
    // the hook library's VARDELD_CONTROL_SOCKET names its control socket.
    const char* feed = std::getenv("VARDELD_LINE_SOCKET");
    return std::make_unique<TLinuxTelephony>(feed && *feed ? feed : qm::kDefaultLineFeedSocket);
}

std::unique_ptr<IProcessControl> CreateProcessControl() {
    return std::make_unique<TLinuxProcessControl>();
}

std::unique_ptr<IRemoteAccess> CreateRemoteAccess(IProcessControl& processes) {
    // QMVARDEL_ETC_DIR (an absolute path) reads the phone book below another root than /etc, so an
    // end-to-end test brings its own peers and chat scripts without root; dialling still runs the
    // system's pppd, which reads /etc.
    const char* etc = std::getenv("QMVARDEL_ETC_DIR");
    return std::make_unique<TLinuxRemoteAccess>(etc && *etc == '/' ? etc : "/etc", processes);
}

std::unique_ptr<IHookLibrary> CreateHookLibrary() {
    return std::make_unique<TLinuxHookLibrary>();
}

std::unique_ptr<IHookEndpoint> CreateHookEndpoint() {
    return std::make_unique<TLinuxHookEndpoint>();
}

std::unique_ptr<IAutoStart> CreateAutoStart() {
    // The system autostart folder is looked up along the XDG configuration folders.
    const char* configDirs = std::getenv("XDG_CONFIG_DIRS");
    return std::make_unique<TLinuxAutoStart>(configDirs ? configDirs : "");
}

std::unique_ptr<IClock> CreateClock() {
    return std::make_unique<TLinuxClock>();
}

std::unique_ptr<ITerminationSignal> CreateTerminationSignal() {
    return std::make_unique<TLinuxTerminationSignal>();
}

std::string RuntimeDir() {
    return QmRuntimeDir();
}

TUserFolders UserFolders() {
    return QmUserFolders();
}

std::unique_ptr<IFixedDrives> CreateFixedDrives() {
    return std::make_unique<TLinuxFixedDrives>();
}

std::unique_ptr<IFileSearch> CreateFileSearch() {
    return std::make_unique<TLinuxFileSearch>();
}

std::unique_ptr<IBackgroundJob> CreateBackgroundJob() {
    return std::make_unique<TThreadJob>();
}

std::unique_ptr<IMonotonicClock> CreateMonotonicClock() {
    return std::make_unique<TLinuxMonotonicClock>();
}

TPlatformServices CreatePlatformServices() {
    TPlatformServices services;
    services.ProgramImage = CreateProgramImage();
    services.FileSystem = CreateFileSystem();
    services.MutexFactory = CreateNamedMutexFactory();
    services.Telephony = CreateTelephony();
    services.ProcessControl = CreateProcessControl();
    services.RemoteAccess = CreateRemoteAccess(*services.ProcessControl);
    services.HookLibrary = CreateHookLibrary();
    services.HookEndpoint = CreateHookEndpoint();
    services.AutoStart = CreateAutoStart();
    services.Clock = CreateClock();
    services.MonotonicClock = CreateMonotonicClock();
    services.FixedDrives = CreateFixedDrives();
    services.FileSearch = CreateFileSearch();
    services.ScanWorker = CreateBackgroundJob();
    services.QuarantineFiles = std::make_unique<TLinuxQuarantineFiles>();
    services.AutoStartEntries =
        std::make_unique<TLinuxAutoStartEntries>(TLinuxAutoStartEntries::SystemRoots());
    services.DisplayName = std::make_unique<TLinuxDisplayName>(TLinuxDisplayName::SystemRoots());
    UseEnvironmentTimeLocale();
    services.ShortDate = LocaleShortDate;
    services.HttpTransport = std::make_unique<TCurlHttpTransport>(nullptr);
    services.UpdateFiles = std::make_unique<TLinuxUpdateFiles>();
    services.DatabaseSignature = std::make_unique<TEd25519Signature>();
    services.SystemInfo = std::make_unique<TLinuxSystemInfo>();
    services.UserFolders = UserFolders();
    services.RuntimeDir = RuntimeDir();
    services.HookSocketPath = services.RuntimeDir + "/hook.sock";
    return services;
}
