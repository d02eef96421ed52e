#include "ui/uDialGuardShell.h"

#include "platform/uPlatformFactory.h"
#include "ui/ufDialDialog.h"

#include <QApplication>
#include <QCursor>

#include <cstdio>

TDialGuardShell::TDialGuardShell(TDialGuardShellPorts ports) : FPorts(std::move(ports)) {
    if (FPorts.Overrides.RemoteAccess) {
        FRemoteAccess = FPorts.Overrides.RemoteAccess;
    } else {
        FOwnProcesses = CreateProcessControl();
        FOwnRemoteAccess = CreateRemoteAccess(*FOwnProcesses);
        FRemoteAccess = FOwnRemoteAccess.get();
    }
    if (!FRemoteAccess->OnBusyCursor)
        FRemoteAccess->OnBusyCursor = [](bool busy) {
            if (busy)
                QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            else
                QApplication::restoreOverrideCursor();
        };
    IHookLibrary* library = FPorts.Overrides.HookLibrary;
    if (!library) {
        FOwnHookLibrary = CreateHookLibrary();
        library = FOwnHookLibrary.get();
    }
    FView = std::make_unique<TDialGuardView>(FPorts.Host, FPorts.ChildMode, FPorts.ShowError);
    FGuard = FPorts.LastRequest ? std::make_unique<TDialGuard>(FPorts.AllowedList, *FRemoteAccess, *FView,
                                                               *FPorts.LastRequest)
                                : std::make_unique<TDialGuard>(FPorts.AllowedList, *FRemoteAccess, *FView);
    FDispatcher = std::make_unique<THookDispatcher>(*this);
    std::string socketPath = FPorts.Overrides.SocketPath.empty() ? THookSocketServer::DefaultSocketPath()
                                                                 : FPorts.Overrides.SocketPath;
    FServer = FPorts.Overrides.HookEndpoint
                  ? std::make_unique<THookSocketServer>(std::move(socketPath), *FDispatcher,
                                                        *FPorts.Overrides.HookEndpoint)
                  : std::make_unique<THookSocketServer>(std::move(socketPath), *FDispatcher);
    FServer->OnHandlerError = [this](const std::string& text) {
        if (FPorts.ShowError)
            FPorts.ShowError(text);
    };
    IFileSystem* fileSystem = FPorts.Overrides.FileSystem;
    if (!fileSystem) {
        FOwnFileSystem = CreateFileSystem();
        fileSystem = FOwnFileSystem.get();
    }
    IHookStartView& startView = *this;
    FStarter = std::make_unique<THookStarter>(FPorts.AppDir, *fileSystem, *library, startView);
}

TDialGuardShell::~TDialGuardShell() = default;

bool TDialGuardShell::Listen() {
    if (FServer->Listen())
        return true;
    std::fprintf(stderr, "QmVardel: the hook socket is not served: %s\n", FServer->ErrorText().c_str());
    return false;
}

std::int32_t TDialGuardShell::HandleDialRequest(const qm::TDialRequest& request) {
    return FGuard->HandleDialRequest(request);
}

std::int32_t TDialGuardShell::HandleProgramStart(const qm::TProgramStart&) {
    return 0;
}

void TDialGuardShell::ConnectEntry(int selectedIndex, const std::string& entryName, QWidget* owner,
                                   const std::function<void(const std::string&)>& showWarning) {
    if (selectedIndex < 0) {
        if (showWarning)
            showWarning(kNoEntrySelectedText);
        return;
    }
    ShowDialDialog(*FRemoteAccess, entryName, owner);
}

void TDialGuardShell::ShowHookError(const std::string& text) {
    if (FPorts.ShowError)
        FPorts.ShowError(text);
}

void TDialGuardShell::SetWindowTitle(const std::string& title) {
    if (FPorts.SetWindowTitle)
        FPorts.SetWindowTitle(title);
}
