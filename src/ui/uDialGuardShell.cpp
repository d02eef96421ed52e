#include "ui/uDialGuardShell.h"

#include "ui/ufDialDialog.h"

#include <QApplication>
#include <QCursor>

#include <cstdio>

TDialGuardShell::TDialGuardShell(TDialGuardShellContext context) : FContext(std::move(context)) {
    IRemoteAccess& remote = FContext.Services.RemoteAccess;
    if (!remote.OnBusyCursor)
        remote.OnBusyCursor = [](bool busy) {
            if (busy)
                QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            else
                QApplication::restoreOverrideCursor();
        };
    FView = std::make_unique<TDialGuardView>(FContext.Host, FContext.ChildMode, FContext.ShowError);
    FGuard = std::make_unique<TDialGuard>(FContext.AllowedList, remote, *FView);
    FDispatcher = std::make_unique<THookDispatcher>(*FGuard, FContext.ProgramStarts);
    FServer = std::make_unique<THookSocketServer>(FContext.Services.HookSocketPath, *FDispatcher,
                                                  FContext.Services.HookEndpoint);
    FServer->OnHandlerError = [this](const std::string& text) {
        if (FContext.ShowError)
            FContext.ShowError(text);
    };
    IHookStartView& startView = *this;
    FStarter = std::make_unique<THookStarter>(FContext.AppDir, FContext.Services.FileSystem,
                                              FContext.Services.HookLibrary, startView);
}

TDialGuardShell::~TDialGuardShell() = default;

bool TDialGuardShell::Listen() {
    if (FServer->Listen())
        return true;
    std::fprintf(stderr, "QmVardel: the hook socket is not served: %s\n", FServer->ErrorText().c_str());
    return false;
}

void TDialGuardShell::ConnectEntry(int selectedIndex, const std::string& entryName, QWidget* owner,
                                   const std::function<void(const std::string&)>& showWarning,
                                   TbsSkinData* controls, TbsSkinData* frame) {
    if (selectedIndex < 0) {
        if (showWarning)
            showWarning(kNoEntrySelectedText);
        return;
    }
    ShowDialDialog(FContext.Services.RemoteAccess, entryName, owner, controls, frame);
}

void TDialGuardShell::ShowHookError(const std::string& text) {
    if (FContext.ShowError)
        FContext.ShowError(text);
}

void TDialGuardShell::SetWindowTitle(const std::string& title) {
    if (FContext.SetWindowTitle)
        FContext.SetWindowTitle(title);
}
