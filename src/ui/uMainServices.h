#pragma once
// The window's groups of services taken from the one platform bundle, so that every place that
// builds the window as the program does (the entry point, the screenshot tool) groups them alike.
#include "platform/uPlatformFactory.h"
#include "ui/ufMain.h"

inline TScanServices ScanServicesOf(const TPlatformServices& services) {
    return {.FixedDrives = *services.FixedDrives,
            .FileSearch = *services.FileSearch,
            .Worker = *services.ScanWorker,
            .Ticks = *services.MonotonicClock,
            .Clock = *services.Clock};
}

inline TDialGuardServices DialGuardServicesOf(const TPlatformServices& services) {
    return {.FileSystem = *services.FileSystem,
            .RemoteAccess = *services.RemoteAccess,
            .HookLibrary = *services.HookLibrary,
            .HookEndpoint = *services.HookEndpoint,
            .HookSocketPath = services.HookSocketPath};
}

inline TDetectionServices DetectionServicesOf(const TPlatformServices& services) {
    return {.Processes = services.ProcessControl.get(),
            .QuarantineFiles = services.QuarantineFiles.get(),
            .AutoStartEntries = services.AutoStartEntries.get(),
            .DisplayName = services.DisplayName.get(),
            .Clock = services.Clock.get(),
            .ShortDate = services.ShortDate};
}

inline TUpdateServices UpdateServicesOf(const TPlatformServices& services) {
    return {.Http = services.HttpTransport.get(),
            .Files = services.UpdateFiles.get(),
            .Signature = services.DatabaseSignature.get(),
            .Clock = services.Clock.get(),
            .SystemInfo = services.SystemInfo.get(),
            .Image = services.ProgramImage.get()};
}
