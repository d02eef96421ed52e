#pragma once
// The default implementation of each port for the system the program runs on. Code outside
// src/platform takes its OS objects from here and names only the ports; which implementations these
// are is decided once, by the platform folder that cmake/Options.cmake chooses.
#include "platform/IAutoStart.h"
#include "platform/IFileSystem.h"
#include "platform/IHookEndpoint.h"
#include "platform/IHookLibrary.h"
#include "platform/INamedMutex.h"
#include "platform/IProcessControl.h"
#include "platform/IProgramImage.h"
#include "platform/IRemoteAccess.h"
#include "platform/ITelephony.h"
#include "platform/ITerminationSignal.h"

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
// The system-wide autostart store.
std::unique_ptr<IAutoStart> CreateAutoStart();
// Installs the watch for the end of work once; call it first, before anything can take long.
std::unique_ptr<ITerminationSignal> CreateTerminationSignal();
// The per-user runtime folder of the program (created, private to the user).
std::string RuntimeDir();
