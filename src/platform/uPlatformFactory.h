#pragma once
// The default implementation of each port for the system the program runs on. Only the program's
// entry point (src/app) and tools call these: it builds one TPlatformServices and hands references
// down, so every class below takes its ports from its context and tests pass fakes the same way.
// Which implementations these are is decided once, by the platform folder cmake/Options.cmake picks.
#include "platform/IAutoStart.h"
#include "platform/IAutoStartEntries.h"
#include "platform/IBackgroundJob.h"
#include "platform/IClock.h"
#include "platform/IDatabaseSignature.h"
#include "platform/IDisplayName.h"
#include "platform/IFileSearch.h"
#include "platform/IFileSystem.h"
#include "platform/IFixedDrives.h"
#include "platform/IHookEndpoint.h"
#include "platform/IHookLibrary.h"
#include "platform/IHttpTransport.h"
#include "platform/IMonotonicClock.h"
#include "platform/INamedMutex.h"
#include "platform/IProcessControl.h"
#include "platform/IProgramImage.h"
#include "platform/IQuarantineFiles.h"
#include "platform/IRemoteAccess.h"
#include "platform/ISystemInfo.h"
#include "platform/ITelephony.h"
#include "platform/ITerminationSignal.h"
#include "platform/IUpdateFiles.h"

#include <functional>
#include <memory>
#include <string>

std::unique_ptr<IFileSystem> CreateFileSystem();
std::unique_ptr<IProgramImage> CreateProgramImage();
std::unique_ptr<INamedMutexFactory> CreateNamedMutexFactory();
// The line monitor's telephony, over the hook service's line feed.
std::unique_ptr<ITelephony> CreateTelephony();
std::unique_ptr<IProcessControl> CreateProcessControl();
// The system's dial-up entries; processes must outlive the result.
std::unique_ptr<IRemoteAccess> CreateRemoteAccess(IProcessControl& processes);
std::unique_ptr<IHookLibrary> CreateHookLibrary();
std::unique_ptr<IHookEndpoint> CreateHookEndpoint();
// The local wall clock.
std::unique_ptr<IClock> CreateClock();
// The system-wide autostart store.
std::unique_ptr<IAutoStart> CreateAutoStart();
// The disk scan's: the fixed disks, the walk, and the thread it runs on.
std::unique_ptr<IFixedDrives> CreateFixedDrives();
std::unique_ptr<IFileSearch> CreateFileSearch();
std::unique_ptr<IBackgroundJob> CreateBackgroundJob();
std::unique_ptr<IMonotonicClock> CreateMonotonicClock();
// Installs the watch for the end of work once; call it first, before anything can take long.
std::unique_ptr<ITerminationSignal> CreateTerminationSignal();
// The per-user runtime folder of the program (created, private to the user).
std::string RuntimeDir();
// The user's XDG base folders for settings and data.
TUserFolders UserFolders();

// Every port implementation of the program, made once by its entry point. A new subsystem adds its
// port here and in CreatePlatformServices, and passes a reference down through its context.
struct TPlatformServices {
    std::unique_ptr<IProgramImage> ProgramImage;
    std::unique_ptr<IFileSystem> FileSystem;
    std::unique_ptr<INamedMutexFactory> MutexFactory;
    std::unique_ptr<ITelephony> Telephony;
    std::unique_ptr<IProcessControl> ProcessControl;
    // Uses ProcessControl, declared before it so that it goes after.
    std::unique_ptr<IRemoteAccess> RemoteAccess;
    std::unique_ptr<IHookLibrary> HookLibrary;
    std::unique_ptr<IHookEndpoint> HookEndpoint;
    std::unique_ptr<IAutoStart> AutoStart;
    std::unique_ptr<IClock> Clock;
    std::unique_ptr<IMonotonicClock> MonotonicClock;
    std::unique_ptr<IFixedDrives> FixedDrives;
    std::unique_ptr<IFileSearch> FileSearch;
    // The disk scan's worker thread; it goes before the ports its walk uses.
    std::unique_ptr<IBackgroundJob> ScanWorker;
    // The dialer removal and the launched-program guard.
    std::unique_ptr<IQuarantineFiles> QuarantineFiles;
    std::unique_ptr<IAutoStartEntries> AutoStartEntries;
    std::unique_ptr<IDisplayName> DisplayName;
    // The user's short date format (the removal log's dates).
    std::function<std::string(qm::TDateTime)> ShortDate;
    // The database update: the HTTP transport (its event pump is set by the window), the
    // receiving folder, database signatures, the clock and the request's optional facts.
    std::unique_ptr<IHttpTransport> HttpTransport;
    std::unique_ptr<IUpdateFiles> UpdateFiles;
    std::unique_ptr<IDatabaseSignature> DatabaseSignature;
    std::unique_ptr<ISystemInfo> SystemInfo;
    TUserFolders UserFolders;
    std::string RuntimeDir;
    // The hook socket's path in RuntimeDir.
    std::string HookSocketPath;
};

// All of them; the termination signal is not among them, as it is made before anything else.
TPlatformServices CreatePlatformServices();
