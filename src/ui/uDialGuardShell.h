#pragma once
// The dial guard as the main window holds it: the hook socket served from the event loop, the
// message dispatch, the dial decision with its prompt, the remote-access layer, and the hook
// files check and start. The main window creates one, answers its questions through the
// callbacks and the alarm host, and calls the two hook steps at the end of its creation.
#include "core/uHookDispatch.h"
#include "core/uHookStarter.h"
#include "guard/uDialGuard.h"
#include "platform/IProcessControl.h"
#include "platform/IRemoteAccess.h"
#include "ui/uAlarmHost.h"
#include "ui/uDialGuardView.h"
#include "ui/uHookSocketServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

// Stand-ins for the system, for tests; unset parts are the Linux implementations over the real
// system and the runtime folder's hook.sock.
struct TDialGuardOverrides {
    IFileSystem* FileSystem = nullptr;
    IRemoteAccess* RemoteAccess = nullptr;
    IHookLibrary* HookLibrary = nullptr;
    std::string SocketPath;
    IHookEndpoint* HookEndpoint = nullptr;
};

struct TDialGuardShellPorts {
    IAlarmHost& Host;
    TAllowedList& AllowedList;
    std::string AppDir;
    std::function<bool()> ChildMode;                        // chbChildMode is ticked
    std::function<void(const std::string&)> ShowError;      // error box with the program's title
    std::function<void(const std::string&)> SetWindowTitle; // the main window's title
    // The owner's fields for the previous request; none: the guard keeps its own.
    std::optional<TLastDialRequest> LastRequest;
    TDialGuardOverrides Overrides;
};

class TDialGuardShell : public IHookHandler, private IHookStartView {
public:
    explicit TDialGuardShell(TDialGuardShellPorts ports);
    ~TDialGuardShell() override;

    // Starts serving the hook socket; false (and the reason on stderr) when it cannot.
    bool Listen();
    // Stops serving: the socket goes and open connections are closed unanswered.
    void Stop() { FServer->Close(); }
    // The hook files check, then (when it passed) the start; in the creation sequence.
    bool CheckHookFiles() { return FStarter->CheckHookFiles(); }
    void StartHooks() { FStarter->StartHooks(); }

    std::int32_t HandleDialRequest(const qm::TDialRequest& request) override;
    // Until the launched-program guard exists every program may start.
    std::int32_t HandleProgramStart(const qm::TProgramStart& start) override;

    // The "Połącz" button of the status tab: the dial dialog for the entry picked, or the warning
    // when none is (showWarning shows the warning message box).
    void ConnectEntry(int selectedIndex, const std::string& entryName, QWidget* owner,
                      const std::function<void(const std::string&)>& showWarning);

    TDialGuard& Guard() { return *FGuard; }
    THookDispatcher& Dispatcher() { return *FDispatcher; }
    IRemoteAccess& RemoteAccess() { return *FRemoteAccess; }
    THookSocketServer& Server() { return *FServer; }

private:
    void ShowHookError(const std::string& text) override;
    void SetWindowTitle(const std::string& title) override;

    TDialGuardShellPorts FPorts;
    std::unique_ptr<IFileSystem> FOwnFileSystem;
    std::unique_ptr<IProcessControl> FOwnProcesses;
    std::unique_ptr<IRemoteAccess> FOwnRemoteAccess;
    std::unique_ptr<IHookLibrary> FOwnHookLibrary;
    IRemoteAccess* FRemoteAccess;
    std::unique_ptr<TDialGuardView> FView;
    std::unique_ptr<TDialGuard> FGuard;
    std::unique_ptr<THookDispatcher> FDispatcher;
    std::unique_ptr<THookSocketServer> FServer;
    std::unique_ptr<THookStarter> FStarter;
};

inline constexpr const char* kNoEntrySelectedText = "Żadne połączenie nie zostało wybrane";
